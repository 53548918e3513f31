#include "Engine/FileSystem.h"

#include <cerrno>
#include <cstring>
#include <string>

#include <sys/stat.h>
#include <sys/types.h>

bool CFileMgr::Exists(const char* szPath, bool bFile, bool bDirectory)
{
	if (!szPath)
		return false;
	struct stat Info;
	if (stat(szPath, &Info) != 0)
		return false;
	if (S_ISDIR(Info.st_mode))
		return bDirectory;
	if (S_ISREG(Info.st_mode))
		return bFile;
	return false;
}

bool CFileMgr::MakeDirectory(const char* szPath)
{
	if (!szPath || !*szPath)
		return false;
	if (mkdir(szPath, 0755) == 0)
		return true;
	return errno == EEXIST && Exists(szPath, false, true);
}

Stream* CFileMgr::Create(const char* szPath)
{
	if (!szPath || !*szPath)
		return nullptr;
	std::string Path(szPath);
	size_t Separator = Path.find_last_of("/\\");
	if (Separator != std::string::npos)
	{
		std::string Directory = Separator == 0 ? std::string("/") : Path.substr(0, Separator);
		for (size_t i = 1; i < Directory.size(); ++i)
		{
			if (Directory[i] == '/')
				MakeDirectory(Directory.substr(0, i).c_str());
		}
		MakeDirectory(Directory.c_str());
	}
	return CStandardStream::Open(szPath, "wb+");
}
