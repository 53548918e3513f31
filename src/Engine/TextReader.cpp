#include "Engine/KestrinStream.h"

#include <cstdlib>
#include <cstring>

#include "Engine/KAssert.h"
#include "Engine/KestrinString.h"

namespace
{
const char32_t REPLACEMENT_CHARACTER = 0xFFFD;
}

CTextReader::CTextReader(Stream* pStream) :
	m_eEncoding(TEXT_ENCODING_UNKNOWN),
	m_bBigEndian(false),
	m_bLoadFailed(false),
	m_pStream(pStream),
	m_TextLength(0),
	m_Position(0),
	m_pText(nullptr)
{
}

CTextReader::~CTextReader()
{
	free(m_pText);
	m_pStream.SetNull();
}

size_t CTextReader::GetRetainedBytes() const
{
	return GetRetainedBytesBesideStream() + (m_pStream.IsNull() ? 0 : m_pStream->GetRetainedBytes());
}

size_t CTextReader::GetRetainedBytesBesideStream() const
{
	return sizeof(CTextReader) + m_TextLength;
}

bool CTextReader::Load()
{
	if (m_pText)
		return true;
	if (m_bLoadFailed || m_pStream.IsNull())
		return false;
	// Whatever happens below, a second Load must not read the stream again from wherever this one left it.
	m_bLoadFailed = true;

	long lStart = m_pStream->Tell();
	if (lStart < 0)
		return false;
	unsigned char Mark[4];
	size_t MarkLength = ReadFully(m_pStream, Mark, sizeof(Mark));
	long lSkip = 0;
	if (MarkLength >= 3 && Mark[0] == 0xEF && Mark[1] == 0xBB && Mark[2] == 0xBF)
	{
		m_eEncoding = TEXT_ENCODING_UTF8;
		lSkip = 3;
	}
	else if (MarkLength >= 2 && Mark[0] == 0xFF && Mark[1] == 0xFE)
	{
		m_eEncoding = TEXT_ENCODING_UTF16;
		lSkip = 2;
	}
	else if (MarkLength >= 2 && Mark[0] == 0xFE && Mark[1] == 0xFF)
	{
		m_eEncoding = TEXT_ENCODING_UTF16;
		m_bBigEndian = true;
		lSkip = 2;
	}
	else if (MarkLength >= 4 && Mark[0] == 0 && Mark[1] == 0 && Mark[2] == 0xFE && Mark[3] == 0xFF)
	{
		m_eEncoding = TEXT_ENCODING_UTF32;
		m_bBigEndian = true;
		lSkip = 4;
	}
	else
		m_eEncoding = TEXT_ENCODING_UTF8;

	if (!m_pStream->Seek(lStart + lSkip, 0))
		return false;
	if (m_eEncoding != TEXT_ENCODING_UTF8 && !(m_eEncoding == TEXT_ENCODING_UTF16 && !m_bBigEndian))
		return false;

	long lLength = m_pStream->GetLength();
	long lPosition = m_pStream->Tell();
	size_t Size = (lLength > lPosition && lPosition >= 0) ? static_cast<size_t>(lLength - lPosition) : 0;

	bool bLoaded = m_eEncoding == TEXT_ENCODING_UTF8 ? LoadUTF8(Size) : LoadUTF16LE(Size);
	if (!bLoaded)
		return false;
	m_bLoadFailed = false;
	m_Position = 0;
	return true;
}

bool CTextReader::LoadUTF8(size_t Size)
{
	char* pText = static_cast<char*>(malloc(Size + 1));
	if (!pText)
		return false;
	m_TextLength = ReadFully(m_pStream, pText, Size);
	pText[m_TextLength] = '\0';
	m_pText = pText;
	return true;
}

bool CTextReader::LoadUTF16LE(size_t Size)
{
	unsigned char* pRaw = static_cast<unsigned char*>(malloc(Size ? Size : 1));
	if (!pRaw)
		return false;
	size_t Units = ReadFully(m_pStream, pRaw, Size) / 2;
	// Every unit becomes at most 3 bytes of UTF-8 (a surrogate pair, two units, becomes 4).
	char* pText = static_cast<char*>(malloc(Units * 3 + 1));
	if (!pText)
	{
		free(pRaw);
		return false;
	}
	size_t Length = 0;
	for (size_t i = 0; i < Units; ++i)
	{
		char32_t Unit = pRaw[i * 2] | (pRaw[i * 2 + 1] << 8);
		char32_t c = Unit;
		if (Unit >= 0xD800 && Unit <= 0xDBFF && i + 1 < Units)
		{
			char32_t Next = pRaw[i * 2 + 2] | (pRaw[i * 2 + 3] << 8);
			if (Next >= 0xDC00 && Next <= 0xDFFF)
			{
				c = 0x10000 + ((Unit - 0xD800) << 10) + (Next - 0xDC00);
				++i;
			}
			else
				c = REPLACEMENT_CHARACTER;
		}
		else if (Unit >= 0xD800 && Unit <= 0xDFFF)
			c = REPLACEMENT_CHARACTER;
		Length += StringManager::EncodeUTF8(c, pText + Length);
	}
	pText[Length] = '\0';
	free(pRaw);
	m_pText = pText;
	m_TextLength = Length;
	return true;
}

bool CTextReader::EnsureLoaded()
{
	return m_pText || Load();
}

size_t CTextReader::Read(char* pDst, size_t n)
{
	if (!EnsureLoaded() || m_Position >= m_TextLength)
		return 0;
	size_t Count = m_TextLength - m_Position;
	if (n < Count)
		Count = n;
	memcpy(pDst, m_pText + m_Position, Count);
	m_Position += Count;
	return Count;
}

bool CTextReader::ReadByte(unsigned char& b)
{
	if (!EnsureLoaded() || m_Position >= m_TextLength)
		return false;
	b = static_cast<unsigned char>(m_pText[m_Position++]);
	return true;
}

bool CTextReader::ReadCharacter(char32_t& c)
{
	unsigned char b;
	if (!ReadByte(b))
		return false;
	if (b < 0x80)
	{
		c = b;
		return true;
	}
	int iFollowing;
	char32_t Value;
	if ((b & 0xE0) == 0xC0)
	{
		iFollowing = 1;
		Value = b & 0x1F;
	}
	else if ((b & 0xF0) == 0xE0)
	{
		iFollowing = 2;
		Value = b & 0x0F;
	}
	else if ((b & 0xF8) == 0xF0)
	{
		iFollowing = 3;
		Value = b & 0x07;
	}
	else
	{
		// A continuation byte without a lead, or a lead byte no character starts with.
		c = REPLACEMENT_CHARACTER;
		return true;
	}
	for (int i = 0; i < iFollowing; ++i)
	{
		if (!ReadByte(b) || (b & 0xC0) != 0x80)
			return false;
		Value = (Value << 6) | (b & 0x3F);
	}
	c = Value;
	return true;
}

bool CTextReader::ReadLine(char* pBuffer, size_t Size, size_t* pLength)
{
	if (!pBuffer || Size == 0)
		return false;
	if (!EnsureLoaded() || m_Position >= m_TextLength)
		return false;

	const char* pStart = m_pText + m_Position;
	size_t Remaining = m_TextLength - m_Position;
	const char* pBreak = static_cast<const char*>(memchr(pStart, '\n', Remaining));
	size_t LineLength = pBreak ? static_cast<size_t>(pBreak - pStart) : Remaining;
	size_t TextLength = LineLength;
	if (pBreak && TextLength > 0 && pStart[TextLength - 1] == '\r')
		--TextLength;

	if (TextLength > Size - 1)
	{
		// The line does not fit: the caller gets what fits and stops reading.
		memcpy(pBuffer, pStart, Size - 1);
		pBuffer[Size - 1] = '\0';
		m_Position += Size - 1;
		char32_t c;
		if (!ReadCharacter(c) || c == 0)
			_KShowAssert("0", __FILE__, __func__, __LINE__);
		return false;
	}

	memcpy(pBuffer, pStart, TextLength);
	pBuffer[TextLength] = '\0';
	if (pLength)
		*pLength = TextLength;
	m_Position += pBreak ? LineLength + 1 : LineLength;
	return true;
}
