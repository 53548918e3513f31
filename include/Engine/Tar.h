#pragma once
// A read-only ustar archive served as a file manager. Members are windows onto the archive's stream, so
// nothing is copied and opened members keep the archive's bytes alive by themselves.

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "Engine/FileSystem.h"

class CTARArchive : public CVirtualFileMgr
{
public:
	enum
	{
		BLOCK_SIZE = 512,
		MAX_PATH_LENGTH = 255,
	};

	// One file or directory header, in archive order.
	struct tEntry
	{
		char m_szName[MAX_PATH_LENGTH + 1];
		char m_cType;
		uint64_t m_Offset;
		uint64_t m_Size;
		int64_t m_iModifiedTime;
	};

	class CEntry
	{
	public:
		CEntry(const char* szName, bool bDirectory, int32_t iIndex);
		virtual ~CEntry() = default;

		bool m_bDirectory;
		int32_t m_iIndex; // into the entry table; -1 for directories
		std::string m_Name;
	};

	class CDirectoryEntry : public CEntry
	{
	public:
		CDirectoryEntry(const char* szName, bool bCaseSensitive);
		virtual ~CDirectoryEntry();

		CDirectoryEntry(const CDirectoryEntry&) = delete;
		CDirectoryEntry& operator=(const CDirectoryEntry&) = delete;

		uint32_t GetKey(const char* szName, size_t Length) const;
		CEntry* Find(const char* szName, size_t Length) const;
		void Clear();

		std::unordered_map<uint32_t, AutoDelete<CEntry>> m_Children;
		bool m_bCaseSensitive;
	};

	CTARArchive();
	virtual ~CTARArchive();

	CTARArchive(const CTARArchive&) = delete;
	CTARArchive& operator=(const CTARArchive&) = delete;

	// Reads the headers of an archive; replaces anything read before. A header with a bad checksum fails the
	// whole read and leaves the archive empty.
	bool Read(Stream* pStream);
	void Close();
	void SetCaseSensitive(bool bCaseSensitive);

	virtual Stream* Open(const char* szPath, bool bWrite) override;
	virtual Stream* Create(const char* szPath) override;
	virtual bool Exists(const char* szPath, bool bFile, bool bDirectory) override;
	virtual bool Enumerate(const char* szPath, EnumerateCallback pCallback, void* pUserData) override;

	size_t GetEntryCount() const { return m_Entries.size(); }
	const tEntry& GetEntry(size_t Index) const { return m_Entries[Index]; }

private:
	bool ReadHeaders(Stream* pStream);
	void BuildTree();
	CEntry* Lookup(const char* szPath) const;

	bool m_bCaseSensitive;
	Strong<Stream> m_pStream;
	std::vector<tEntry> m_Entries;
	CDirectoryEntry m_Root;
};
