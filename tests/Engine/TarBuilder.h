#pragma once
// Writes ustar archives byte by byte, so tests can also make the malformed ones no archiver would.

#include <cstdio>
#include <cstring>
#include <string>

#include "Engine/KestrinStream.h"

class CTarBuilder
{
public:
	struct tMember
	{
		std::string Name;
		std::string Data;
		char cType = '0';
		std::string Prefix;
		bool bUstarMagic = true;
		long long llDeclaredSize = -1; // the size field when it must differ from the data
		bool bBadChecksum = false;
		bool bSignedChecksum = false; // store the sum of the bytes taken as signed (positive for a mostly ASCII header)
		long long llModifiedTime = 0;
	};

	CTarBuilder& Add(const tMember& Member)
	{
		char Header[512] = {};
		memcpy(Header, Member.Name.data(), Member.Name.size() < 100 ? Member.Name.size() : 100);
		snprintf(Header + 100, 8, "%07o", 0644);
		snprintf(Header + 108, 8, "%07o", 0);
		snprintf(Header + 116, 8, "%07o", 0);
		long long llSize = Member.llDeclaredSize >= 0 ? Member.llDeclaredSize : static_cast<long long>(Member.Data.size());
		snprintf(Header + 124, 12, "%011llo", llSize);
		snprintf(Header + 136, 12, "%011llo", Member.llModifiedTime);
		Header[156] = Member.cType;
		if (Member.bUstarMagic)
		{
			memcpy(Header + 257, "ustar\0" "00", 8);
			memcpy(Header + 345, Member.Prefix.data(), Member.Prefix.size() < 155 ? Member.Prefix.size() : 155);
		}
		memset(Header + 148, ' ', 8);
		long lSum = 0;
		for (int i = 0; i < 512; ++i)
			lSum += Member.bSignedChecksum ? static_cast<signed char>(Header[i]) : static_cast<unsigned char>(Header[i]);
		if (Member.bBadChecksum)
			lSum += 1;
		snprintf(Header + 148, 8, "%06lo", static_cast<unsigned long>(lSum) & 0777777);
		Header[155] = ' ';
		m_Bytes.append(Header, 512);
		m_Bytes += Member.Data;
		m_Bytes.append((512 - Member.Data.size() % 512) % 512, '\0');
		return *this;
	}

	CTarBuilder& File(const std::string& Name, const std::string& Data)
	{
		tMember Member;
		Member.Name = Name;
		Member.Data = Data;
		return Add(Member);
	}

	// The two zero blocks that end a well-formed archive.
	CTarBuilder& End()
	{
		m_Bytes.append(1024, '\0');
		return *this;
	}

	const std::string& Bytes() const { return m_Bytes; }

	Strong<Stream> MakeStream() const
	{
		Strong<CUnlimitedStream> pStream = Strong<CUnlimitedStream>::New(new CUnlimitedStream());
		pStream->Write(m_Bytes.data(), m_Bytes.size());
		pStream->Seek(0, 0);
		return pStream.StaticCast<Stream>();
	}

private:
	std::string m_Bytes;
};
