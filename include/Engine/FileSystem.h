#pragma once
// The virtual file system: an ordered list of file managers, each serving paths from a disk directory or an
// archive. Earlier mounts shadow later ones.

#include <cstddef>
#include <string>
#include <vector>

#include "Engine/KestrinReference.h"
#include "Engine/KestrinStream.h"

// Static helpers that touch the disk directly.
class CFileMgr
{
public:
	// One enumerated entry; both texts are valid only during the callback.
	struct tDirectoryEntry
	{
		const char* m_szPath; // the directory being listed
		const char* m_szName; // the entry's name without any directory part
		bool m_bFile;
		bool m_bDirectory;
	};

	static bool Exists(const char* szPath, bool bFile, bool bDirectory);
	// mkdir with mode 0755; a directory that already exists counts as success.
	static bool MakeDirectory(const char* szPath);
	// Creates every missing parent directory, then creates or truncates the file ("wb+").
	static Stream* Create(const char* szPath);
};

typedef CFileMgr::tDirectoryEntry tDirectoryEntry;
// Returns false to stop the enumeration.
typedef bool (*EnumerateCallback)(const tDirectoryEntry& Entry, void* pUserData);

// Anything that serves paths.
class CVirtualFileMgr : public CBase
{
public:
	virtual ~CVirtualFileMgr() = default;

	// A new stream (count 1) that the caller owns, or null.
	virtual Stream* Open(const char* szPath, bool bWrite) = 0;
	virtual Stream* Create(const char* szPath) = 0;
	virtual bool Exists(const char* szPath, bool bFile, bool bDirectory) = 0;
	// Calls pCallback once per entry of the directory; false when a callback stopped it.
	virtual bool Enumerate(const char* szPath, EnumerateCallback pCallback, void* pUserData) = 0;
};

// A directory on disk. Paths with a ".." component are refused, so nothing outside the directory is reached.
class CMountedPath : public CVirtualFileMgr
{
public:
	// An empty directory uses paths as they are.
	explicit CMountedPath(const char* szDirectory);

	virtual Stream* Open(const char* szPath, bool bWrite) override;
	virtual Stream* Create(const char* szPath) override;
	virtual bool Exists(const char* szPath, bool bFile, bool bDirectory) override;
	virtual bool Enumerate(const char* szPath, EnumerateCallback pCallback, void* pUserData) override;

	const char* GetDirectory() const { return m_Directory.c_str(); }

private:
	bool JoinPath(const char* szPath, std::string& Result) const;

	std::string m_Directory;
};

class CFileSystem : public CVirtualFileMgr
{
public:
	CFileSystem() = default;
	virtual ~CFileSystem();

	CFileSystem(const CFileSystem&) = delete;
	CFileSystem& operator=(const CFileSystem&) = delete;

	// The file system owns the manager from then on.
	void Mount(CVirtualFileMgr* pManager);

	// A leading "/" is optional; the first mount that answers wins.
	virtual Stream* Open(const char* szPath, bool bWrite) override;
	virtual Stream* Create(const char* szPath) override;
	virtual bool Exists(const char* szPath, bool bFile, bool bDirectory) override;
	// Merges the listings of every mount; a name already listed by an earlier mount is skipped.
	virtual bool Enumerate(const char* szPath, EnumerateCallback pCallback, void* pUserData) override;

	// The disk directory of the first mounted directory that exists, ending in "/"; false when there is none
	// or it does not fit the buffer.
	bool ResolvePath(char* szBuffer, size_t Size);

	size_t GetMountCount() const { return m_Mounts.size(); }

private:
	std::vector<AutoDelete<CVirtualFileMgr>> m_Mounts;
};
