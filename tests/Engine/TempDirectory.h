#pragma once
// A fresh directory under /tmp for one test, removed with everything in it afterwards.

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

class CTempDirectory
{
public:
	CTempDirectory()
	{
		char szTemplate[] = "/tmp/vexa-test-XXXXXX";
		if (mkdtemp(szTemplate))
			m_Path = szTemplate;
	}
	~CTempDirectory()
	{
		if (!m_Path.empty())
			nftw(m_Path.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
	}
	CTempDirectory(const CTempDirectory&) = delete;
	CTempDirectory& operator=(const CTempDirectory&) = delete;

	const std::string& Path() const { return m_Path; }
	std::string operator/(const std::string& Name) const { return m_Path + "/" + Name; }

	// Writes a file below the directory, creating its parent directories.
	void WriteFile(const std::string& Name, const std::string& Bytes) const
	{
		for (size_t i = Name.find('/'); i != std::string::npos; i = Name.find('/', i + 1))
			mkdir((m_Path + "/" + Name.substr(0, i)).c_str(), 0755);
		std::ofstream File(m_Path + "/" + Name, std::ios::binary);
		File.write(Bytes.data(), static_cast<std::streamsize>(Bytes.size()));
	}

	std::string ReadFile(const std::string& Name) const
	{
		std::ifstream File(m_Path + "/" + Name, std::ios::binary);
		return std::string(std::istreambuf_iterator<char>(File), std::istreambuf_iterator<char>());
	}

private:
	static int RemoveEntry(const char* szPath, const struct stat*, int, struct FTW*) { return remove(szPath); }

	std::string m_Path;
};
