#include "Engine/Tar.h"

#include <cstring>
#include <strings.h>

#include "Engine/KAssert.h"
#include "Engine/KestrinHash.h"
#include "Engine/KestrinStream.h"

namespace
{
const size_t TAR_CHECKSUM_OFFSET = 148;
const size_t TAR_CHECKSUM_WIDTH = 8;
const size_t TAR_SIZE_OFFSET = 124;
const size_t TAR_SIZE_WIDTH = 12;
const size_t TAR_MTIME_OFFSET = 136;
const size_t TAR_MTIME_WIDTH = 12;
const size_t TAR_TYPE_OFFSET = 156;
const size_t TAR_MAGIC_OFFSET = 257;
const size_t TAR_PREFIX_OFFSET = 345;
const size_t TAR_PREFIX_WIDTH = 155;
const size_t TAR_NAME_WIDTH = 100;

// Octal digits up to the first NUL or blank, never beyond the field's own width. Leading blanks, which
// some writers use for padding, are skipped.
uint64_t ParseOctal(const unsigned char* pField, size_t Width)
{
	size_t i = 0;
	while (i < Width && pField[i] == ' ')
		++i;
	uint64_t Value = 0;
	for (; i < Width; ++i)
	{
		unsigned char c = pField[i];
		if (c < '0' || c > '7')
			break;
		Value = (Value << 3) | static_cast<uint64_t>(c - '0');
	}
	return Value;
}

size_t FieldLength(const unsigned char* pField, size_t Width)
{
	const void* pEnd = memchr(pField, 0, Width);
	return pEnd ? static_cast<size_t>(static_cast<const unsigned char*>(pEnd) - pField) : Width;
}

bool ChecksumMatches(const unsigned char* pBlock)
{
	uint64_t Stored = ParseOctal(pBlock + TAR_CHECKSUM_OFFSET, TAR_CHECKSUM_WIDTH);
	int64_t iUnsignedSum = 0;
	int64_t iSignedSum = 0;
	for (size_t i = 0; i < CTARArchive::BLOCK_SIZE; ++i)
	{
		bool bChecksumField = i >= TAR_CHECKSUM_OFFSET && i < TAR_CHECKSUM_OFFSET + TAR_CHECKSUM_WIDTH;
		unsigned char b = bChecksumField ? ' ' : pBlock[i];
		iUnsignedSum += b;
		iSignedSum += static_cast<signed char>(b);
	}
	return static_cast<int64_t>(Stored) == iUnsignedSum || static_cast<int64_t>(Stored) == iSignedSum;
}

bool IsZeroBlock(const unsigned char* pBlock)
{
	for (size_t i = 0; i < CTARArchive::BLOCK_SIZE; ++i)
	{
		if (pBlock[i])
			return false;
	}
	return true;
}

// The next "/"-separated component of a path; false when none is left.
bool NextComponent(const char*& p, const char*& pStart, size_t& Length)
{
	if (!p)
		return false;
	pStart = p;
	const char* pSlash = strchr(p, '/');
	if (pSlash)
	{
		Length = static_cast<size_t>(pSlash - p);
		p = pSlash + 1;
	}
	else
	{
		Length = strlen(p);
		p = nullptr;
	}
	return true;
}

// A member path must stay inside the archive's tree: not absolute, no "..", and naming something.
bool IsPlaceablePath(const char* szPath)
{
	if (!*szPath || *szPath == '/')
		return false;
	const char* p = szPath;
	const char* pStart;
	size_t Length;
	while (NextComponent(p, pStart, Length))
	{
		if (Length == 2 && pStart[0] == '.' && pStart[1] == '.')
			return false;
		if (!p && Length == 0)
			return false;
	}
	return true;
}
}

CTARArchive::CEntry::CEntry(const char* szName, bool bDirectory, int32_t iIndex) :
	m_bDirectory(bDirectory),
	m_iIndex(iIndex),
	m_Name(szName)
{
}

CTARArchive::CDirectoryEntry::CDirectoryEntry(const char* szName, bool bCaseSensitive) :
	CEntry(szName, true, -1),
	m_bCaseSensitive(bCaseSensitive)
{
}

CTARArchive::CDirectoryEntry::~CDirectoryEntry()
{
	Clear();
}

void CTARArchive::CDirectoryEntry::Clear()
{
	m_Children.clear();
}

uint32_t CTARArchive::CDirectoryEntry::GetKey(const char* szName, size_t Length) const
{
	return CRC32Hash::GetHash(szName, Length, !m_bCaseSensitive);
}

CTARArchive::CEntry* CTARArchive::CDirectoryEntry::Find(const char* szName, size_t Length) const
{
	auto it = m_Children.find(GetKey(szName, Length));
	if (it == m_Children.end())
		return nullptr;
	// Two names can share a key; only the name itself identifies the child.
	const std::string& Name = it->second->m_Name;
	if (Name.size() != Length)
		return nullptr;
	bool bSame = m_bCaseSensitive ? memcmp(Name.data(), szName, Length) == 0 : strncasecmp(Name.data(), szName, Length) == 0;
	return bSame ? it->second.GetPointer() : nullptr;
}

CTARArchive::CTARArchive() :
	m_bCaseSensitive(true),
	m_Root("", true)
{
}

CTARArchive::~CTARArchive()
{
	Close();
}

void CTARArchive::SetCaseSensitive(bool bCaseSensitive)
{
	m_bCaseSensitive = bCaseSensitive;
	m_Root.m_bCaseSensitive = bCaseSensitive;
	if (!m_Entries.empty())
		BuildTree();
}

void CTARArchive::Close()
{
	m_Root.Clear();
	m_Entries.clear();
	m_Entries.shrink_to_fit();
	m_pStream.SetNull();
}

bool CTARArchive::Read(Stream* pStream)
{
	Close();
	if (!pStream)
		return false;
	m_pStream = pStream;
	if (!ReadHeaders(pStream))
	{
		Close();
		return false;
	}
	BuildTree();
	return true;
}

bool CTARArchive::ReadHeaders(Stream* pStream)
{
	long lArchiveLength = pStream->GetLength();
	if (lArchiveLength < 0)
		return false;
	uint64_t ArchiveLength = static_cast<uint64_t>(lArchiveLength);

	unsigned char Block[BLOCK_SIZE];
	for (;;)
	{
		if (ReadFully(pStream, Block, BLOCK_SIZE) < BLOCK_SIZE || IsZeroBlock(Block))
			return true;
		if (!ChecksumMatches(Block))
			return false;

		uint64_t Size = ParseOctal(Block + TAR_SIZE_OFFSET, TAR_SIZE_WIDTH);
		int64_t iModifiedTime = static_cast<int64_t>(ParseOctal(Block + TAR_MTIME_OFFSET, TAR_MTIME_WIDTH));
		long lOffset = pStream->Tell();
		if (lOffset < 0)
			return false;
		uint64_t Offset = static_cast<uint64_t>(lOffset);
		// A member cut off by the end of the archive ends it like a short final header: what came before
		// stays readable, and no window ever reaches past the archive's bytes.
		if (Offset > ArchiveLength || Size > ArchiveLength - Offset)
			return true;

		char cType = Block[TAR_TYPE_OFFSET] ? static_cast<char>(Block[TAR_TYPE_OFFSET]) : '0';
		if (cType == '0' || cType == '5')
		{
			tEntry Entry;
			memset(&Entry, 0, sizeof(Entry));
			std::string Path;
			if (memcmp(Block + TAR_MAGIC_OFFSET, "ustar", 5) == 0)
			{
				size_t PrefixLength = FieldLength(Block + TAR_PREFIX_OFFSET, TAR_PREFIX_WIDTH);
				if (PrefixLength)
				{
					Path.assign(reinterpret_cast<const char*>(Block + TAR_PREFIX_OFFSET), PrefixLength);
					Path += '/';
				}
			}
			Path.append(reinterpret_cast<const char*>(Block), FieldLength(Block, TAR_NAME_WIDTH));
			if (Path.size() > MAX_PATH_LENGTH)
				Path.resize(MAX_PATH_LENGTH);
			memcpy(Entry.m_szName, Path.c_str(), Path.size() + 1);
			Entry.m_cType = cType;
			Entry.m_Offset = Offset;
			Entry.m_Size = Size;
			Entry.m_iModifiedTime = iModifiedTime;
			if (m_Entries.size() == m_Entries.capacity())
				m_Entries.reserve(m_Entries.empty() ? 1 : m_Entries.size() * 2);
			m_Entries.push_back(Entry);
		}

		uint64_t Padded = (Size + BLOCK_SIZE - 1) / BLOCK_SIZE * BLOCK_SIZE;
		uint64_t Next = Offset + Padded;
		if (Next > ArchiveLength)
			return true;
		if (!pStream->Seek(static_cast<long>(Next), 0))
			return false;
	}
}

void CTARArchive::BuildTree()
{
	m_Root.Clear();
	m_Root.m_bCaseSensitive = m_bCaseSensitive;
	for (size_t i = 0; i < m_Entries.size(); ++i)
	{
		const tEntry& Entry = m_Entries[i];
		if (Entry.m_cType != '0' || !IsPlaceablePath(Entry.m_szName))
			continue;

		CDirectoryEntry* pDirectory = &m_Root;
		const char* p = Entry.m_szName;
		const char* pStart;
		size_t Length;
		while (NextComponent(p, pStart, Length))
		{
			std::string Name(pStart, Length);
			uint32_t uiKey = pDirectory->GetKey(pStart, Length);
			auto it = pDirectory->m_Children.find(uiKey);
			if (!p)
			{
				if (it != pDirectory->m_Children.end())
				{
					_KShowAssert("0 && it != m_Children.end()", __FILE__, __func__, __LINE__);
					break;
				}
				pDirectory->m_Children.emplace(uiKey, AutoDelete<CEntry>(new CEntry(Name.c_str(), false, static_cast<int32_t>(i))));
				break;
			}
			if (it == pDirectory->m_Children.end())
			{
				CDirectoryEntry* pNew = new CDirectoryEntry(Name.c_str(), pDirectory->m_bCaseSensitive);
				pDirectory->m_Children.emplace(uiKey, AutoDelete<CEntry>(pNew));
				pDirectory = pNew;
				continue;
			}
			CEntry* pEntry = pDirectory->Find(pStart, Length);
			if (!pEntry || !pEntry->m_bDirectory)
			{
				// The directory part names a file already placed: this member cannot be placed and is dropped.
				_KShowAssert("pEntry->m_bDirectory", __FILE__, __func__, __LINE__);
				break;
			}
			pDirectory = static_cast<CDirectoryEntry*>(pEntry);
		}
	}
}

CTARArchive::CEntry* CTARArchive::Lookup(const char* szPath) const
{
	if (!szPath)
		return nullptr;
	if (*szPath == '/')
		++szPath;
	const CDirectoryEntry* pDirectory = &m_Root;
	if (!*szPath)
		return const_cast<CDirectoryEntry*>(pDirectory);
	const char* p = szPath;
	const char* pStart;
	size_t Length;
	while (NextComponent(p, pStart, Length))
	{
		CEntry* pEntry = pDirectory->Find(pStart, Length);
		if (!pEntry)
			return nullptr;
		if (!p)
			return pEntry;
		if (!pEntry->m_bDirectory)
			return nullptr;
		pDirectory = static_cast<const CDirectoryEntry*>(pEntry);
	}
	return nullptr;
}

Stream* CTARArchive::Open(const char* szPath, bool bWrite)
{
	if (bWrite || m_pStream.IsNull())
		return nullptr;
	CEntry* pEntry = Lookup(szPath);
	if (!pEntry || pEntry->m_bDirectory || pEntry->m_iIndex < 0 || static_cast<size_t>(pEntry->m_iIndex) >= m_Entries.size())
		return nullptr;
	const tEntry& Entry = m_Entries[static_cast<size_t>(pEntry->m_iIndex)];
	return new CStreamRangeStream(m_pStream, Entry.m_Offset, Entry.m_Size);
}

Stream* CTARArchive::Create(const char*)
{
	return nullptr;
}

bool CTARArchive::Exists(const char* szPath, bool bFile, bool bDirectory)
{
	CEntry* pEntry = Lookup(szPath);
	if (!pEntry)
		return false;
	return pEntry->m_bDirectory ? bDirectory : bFile;
}

bool CTARArchive::Enumerate(const char* szPath, EnumerateCallback pCallback, void* pUserData)
{
	if (!pCallback)
		return true;
	CEntry* pEntry = Lookup(szPath);
	if (!pEntry || !pEntry->m_bDirectory)
		return true;
	const char* szCallerPath = szPath ? (*szPath == '/' ? szPath + 1 : szPath) : "";
	const CDirectoryEntry* pDirectory = static_cast<const CDirectoryEntry*>(pEntry);
	for (const auto& Child : pDirectory->m_Children)
	{
		tDirectoryEntry Entry;
		Entry.m_szPath = szCallerPath;
		Entry.m_szName = Child.second->m_Name.c_str();
		Entry.m_bFile = !Child.second->m_bDirectory;
		Entry.m_bDirectory = Child.second->m_bDirectory;
		if (!pCallback(Entry, pUserData))
			return false;
	}
	return true;
}
