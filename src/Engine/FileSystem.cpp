#include "Engine/FileSystem.h"

#include <cstring>
#include <string>
#include <unordered_set>

#include <dirent.h>
#include <sys/stat.h>

namespace
{
// A path that climbs out of the directory it is resolved in ("a/../../etc") is never served.
bool ClimbsOut(const char* szPath)
{
	const char* p = szPath;
	while (*p)
	{
		const char* pEnd = p;
		while (*pEnd && *pEnd != '/' && *pEnd != '\\')
			++pEnd;
		if (pEnd - p == 2 && p[0] == '.' && p[1] == '.')
			return true;
		p = *pEnd ? pEnd + 1 : pEnd;
	}
	return false;
}

// The path as every mount receives it: exactly one leading "/".
std::string MountPath(const char* szPath)
{
	if (!szPath)
		szPath = "";
	if (*szPath == '/')
		++szPath;
	return std::string("/") + szPath;
}

struct tMergeState
{
	EnumerateCallback m_pCallback;
	void* m_pUserData;
	const char* m_szPath;
	std::unordered_set<std::string> m_Seen;
};

bool MergeEntry(const tDirectoryEntry& Entry, void* pUserData)
{
	tMergeState* pState = static_cast<tMergeState*>(pUserData);
	if (!pState->m_Seen.insert(Entry.m_szName).second)
		return true;
	tDirectoryEntry Merged = Entry;
	Merged.m_szPath = pState->m_szPath;
	return pState->m_pCallback(Merged, pState->m_pUserData);
}
}

CMountedPath::CMountedPath(const char* szDirectory) :
	m_Directory(szDirectory ? szDirectory : "")
{
}

bool CMountedPath::JoinPath(const char* szPath, std::string& Result) const
{
	if (!szPath)
		szPath = "";
	if (ClimbsOut(szPath))
		return false;
	if (m_Directory.empty())
	{
		Result = szPath;
		return true;
	}
	if (*szPath == '/')
		++szPath;
	Result = m_Directory;
	if (*szPath)
	{
		char cLast = Result.back();
		if (cLast != '/' && cLast != '\\')
			Result += '/';
		Result += szPath;
	}
	return true;
}

Stream* CMountedPath::Open(const char* szPath, bool bWrite)
{
	std::string Path;
	if (!JoinPath(szPath, Path))
		return nullptr;
	return CStandardStream::Open(Path.c_str(), bWrite ? "r+b" : "rb");
}

Stream* CMountedPath::Create(const char* szPath)
{
	std::string Path;
	if (!JoinPath(szPath, Path))
		return nullptr;
	return CFileMgr::Create(Path.c_str());
}

bool CMountedPath::Exists(const char* szPath, bool bFile, bool bDirectory)
{
	std::string Path;
	if (!JoinPath(szPath, Path))
		return false;
	return CFileMgr::Exists(Path.c_str(), bFile, bDirectory);
}

bool CMountedPath::Enumerate(const char* szPath, EnumerateCallback pCallback, void* pUserData)
{
	std::string Directory;
	if (!pCallback || !JoinPath(szPath, Directory))
		return true;
	DIR* pDir = opendir(Directory.c_str());
	if (!pDir)
		return true;
	while (dirent* pEntry = readdir(pDir))
	{
		if (strcmp(pEntry->d_name, ".") == 0 || strcmp(pEntry->d_name, "..") == 0)
			continue;
		std::string Full = Directory + "/" + pEntry->d_name;
		struct stat Info;
		if (stat(Full.c_str(), &Info) != 0)
			continue;
		tDirectoryEntry Entry;
		Entry.m_szPath = Directory.c_str();
		Entry.m_szName = pEntry->d_name;
		Entry.m_bFile = S_ISREG(Info.st_mode);
		Entry.m_bDirectory = S_ISDIR(Info.st_mode);
		if (!pCallback(Entry, pUserData))
		{
			closedir(pDir);
			return false;
		}
	}
	closedir(pDir);
	return true;
}

CFileSystem::~CFileSystem()
{
	m_Mounts.clear();
}

void CFileSystem::Mount(CVirtualFileMgr* pManager)
{
	if (pManager)
		m_Mounts.emplace_back(pManager);
}

Stream* CFileSystem::Open(const char* szPath, bool bWrite)
{
	std::string Path = MountPath(szPath);
	for (CVirtualFileMgr* pManager : m_Mounts)
	{
		if (Stream* pStream = pManager->Open(Path.c_str(), bWrite))
			return pStream;
	}
	return nullptr;
}

Stream* CFileSystem::Create(const char* szPath)
{
	std::string Path = MountPath(szPath);
	for (CVirtualFileMgr* pManager : m_Mounts)
	{
		if (Stream* pStream = pManager->Create(Path.c_str()))
			return pStream;
	}
	return nullptr;
}

bool CFileSystem::Exists(const char* szPath, bool bFile, bool bDirectory)
{
	std::string Path = MountPath(szPath);
	for (CVirtualFileMgr* pManager : m_Mounts)
	{
		if (pManager->Exists(Path.c_str(), bFile, bDirectory))
			return true;
	}
	return false;
}

bool CFileSystem::Enumerate(const char* szPath, EnumerateCallback pCallback, void* pUserData)
{
	if (!pCallback)
		return true;
	std::string Path = MountPath(szPath);
	tMergeState State;
	State.m_pCallback = pCallback;
	State.m_pUserData = pUserData;
	State.m_szPath = Path.c_str();
	for (CVirtualFileMgr* pManager : m_Mounts)
	{
		if (!pManager->Enumerate(Path.c_str(), MergeEntry, &State))
			return false;
	}
	return true;
}

bool CFileSystem::ResolvePath(char* szBuffer, size_t Size)
{
	if (!szBuffer || Size == 0)
		return false;
	for (CVirtualFileMgr* pManager : m_Mounts)
	{
		CMountedPath* pMounted = dynamic_cast<CMountedPath*>(pManager);
		if (!pMounted || !*pMounted->GetDirectory() || !CFileMgr::Exists(pMounted->GetDirectory(), false, true))
			continue;
		std::string Directory = pMounted->GetDirectory();
		if (Directory.back() != '/')
			Directory += '/';
		if (Directory.size() >= Size)
			return false;
		memcpy(szBuffer, Directory.c_str(), Directory.size() + 1);
		return true;
	}
	return false;
}
