#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "Engine/FileSystem.h"
#include "Engine/Tar.h"
#include "StreamText.h"
#include "TarBuilder.h"
#include "TempDirectory.h"

namespace
{
struct tListed
{
	std::string Path;
	bool bFile;
	bool bDirectory;
};

bool Collect(const tDirectoryEntry& Entry, void* pUserData)
{
	auto* pListed = static_cast<std::map<std::string, std::vector<tListed>>*>(pUserData);
	(*pListed)[Entry.m_szName].push_back({Entry.m_szPath, Entry.m_bFile, Entry.m_bDirectory});
	return true;
}

bool StopAtFirst(const tDirectoryEntry&, void* pUserData)
{
	++*static_cast<int*>(pUserData);
	return false;
}

CTARArchive* MakeArchive(const CTarBuilder& Builder)
{
	CTARArchive* pArchive = new CTARArchive();
	Strong<Stream> pStream = Builder.MakeStream();
	EXPECT_TRUE(pArchive->Read(pStream));
	return pArchive;
}
}

TEST(FileMgr, CreateMakesEveryParentDirectory)
{
	CTempDirectory Dir;
	std::string Path = Dir / "logs/2024/x.log";
	Strong<Stream> pStream = Strong<Stream>::New(CFileMgr::Create(Path.c_str()));
	ASSERT_FALSE(pStream.IsNull());
	EXPECT_EQ(pStream->Write("line", 4), 4u);
	pStream.SetNull();
	EXPECT_TRUE(CFileMgr::Exists((Dir / "logs").c_str(), false, true));
	EXPECT_TRUE(CFileMgr::Exists((Dir / "logs/2024").c_str(), false, true));
	EXPECT_EQ(Dir.ReadFile("logs/2024/x.log"), "line");

	// Creating again truncates.
	pStream = Strong<Stream>::New(CFileMgr::Create(Path.c_str()));
	ASSERT_FALSE(pStream.IsNull());
	pStream.SetNull();
	EXPECT_EQ(Dir.ReadFile("logs/2024/x.log"), "");
}

TEST(FileMgr, ExistsAndMakeDirectoryTellFilesFromDirectories)
{
	CTempDirectory Dir;
	Dir.WriteFile("f.txt", "x");
	struct tCase
	{
		std::string Path;
		bool bFile;
		bool bDirectory;
		bool bExpected;
	};
	const tCase Cases[] = {
		{Dir / "f.txt", true, false, true},
		{Dir / "f.txt", false, true, false},
		{Dir.Path(), false, true, true},
		{Dir.Path(), true, false, false},
		{Dir / "missing", true, true, false},
	};
	for (const tCase& Case : Cases)
		EXPECT_EQ(CFileMgr::Exists(Case.Path.c_str(), Case.bFile, Case.bDirectory), Case.bExpected) << Case.Path;

	EXPECT_TRUE(CFileMgr::MakeDirectory((Dir / "d").c_str()));
	EXPECT_TRUE(CFileMgr::MakeDirectory((Dir / "d").c_str()));
	EXPECT_FALSE(CFileMgr::MakeDirectory((Dir / "f.txt").c_str()));
}

TEST(MountedPath, ServesFilesBelowItsDirectory)
{
	CTempDirectory Dir;
	Dir.WriteFile("a.txt", "disk a");
	Dir.WriteFile("sub/b.txt", "disk b");
	for (const std::string& Root : {Dir.Path(), Dir.Path() + "/"})
	{
		CMountedPath Mount(Root.c_str());
		EXPECT_EQ(OpenAndRead(Mount, "/a.txt"), "disk a") << Root;
		EXPECT_EQ(OpenAndRead(Mount, "sub/b.txt"), "disk b") << Root;
		EXPECT_EQ(OpenAndRead(Mount, "/missing.txt"), "<null>") << Root;
		EXPECT_TRUE(Mount.Exists("/", false, true)) << Root;
		EXPECT_TRUE(Mount.Exists("/sub", false, true)) << Root;
		EXPECT_FALSE(Mount.Exists("/sub", true, false)) << Root;
	}
}

TEST(MountedPath, OpenForWritingChangesTheFileInPlace)
{
	CTempDirectory Dir;
	Dir.WriteFile("a.txt", "abcdef");
	CMountedPath Mount(Dir.Path().c_str());
	Strong<Stream> pStream = Strong<Stream>::New(Mount.Open("/a.txt", true));
	ASSERT_FALSE(pStream.IsNull());
	EXPECT_EQ(pStream->Write("XY", 2), 2u);
	pStream.SetNull();
	EXPECT_EQ(Dir.ReadFile("a.txt"), "XYcdef");
	EXPECT_EQ(Mount.Open("/missing.txt", true), nullptr);
}

TEST(MountedPath, NeverReachesOutsideItsDirectory)
{
	CTempDirectory Dir;
	Dir.WriteFile("outside.txt", "secret");
	Dir.WriteFile("root/inside.txt", "fine");
	Dir.WriteFile("root/sub/deeper.txt", "fine too");
	CMountedPath Mount((Dir / "root").c_str());

	const char* Escapes[] = {"/../outside.txt", "../outside.txt", "/sub/../../outside.txt", "/..", "/sub/..\\..\\outside.txt"};
	for (const char* szPath : Escapes)
	{
		EXPECT_EQ(Mount.Open(szPath, false), nullptr) << szPath;
		EXPECT_EQ(Mount.Open(szPath, true), nullptr) << szPath;
		EXPECT_FALSE(Mount.Exists(szPath, true, true)) << szPath;
		std::map<std::string, std::vector<tListed>> Listed;
		EXPECT_TRUE(Mount.Enumerate(szPath, Collect, &Listed)) << szPath;
		EXPECT_TRUE(Listed.empty()) << szPath;
	}
	EXPECT_EQ(Mount.Create("/../created.txt"), nullptr);
	EXPECT_FALSE(CFileMgr::Exists((Dir / "created.txt").c_str(), true, true));
	EXPECT_EQ(Dir.ReadFile("outside.txt"), "secret");
	// Names that merely contain dots are ordinary names.
	Dir.WriteFile("root/..hidden", "dots");
	EXPECT_EQ(OpenAndRead(Mount, "/..hidden"), "dots");
}

TEST(MountedPath, EnumerateListsEntriesWithTheirKind)
{
	CTempDirectory Dir;
	Dir.WriteFile("a.txt", "a");
	Dir.WriteFile("sub/b.txt", "b");
	CMountedPath Mount(Dir.Path().c_str());
	std::map<std::string, std::vector<tListed>> Listed;
	EXPECT_TRUE(Mount.Enumerate("/", Collect, &Listed));
	ASSERT_EQ(Listed.size(), 2u);
	EXPECT_TRUE(Listed["a.txt"][0].bFile);
	EXPECT_FALSE(Listed["a.txt"][0].bDirectory);
	EXPECT_TRUE(Listed["sub"][0].bDirectory);
	EXPECT_EQ(Listed["sub"][0].Path, Dir.Path());

	Listed.clear();
	EXPECT_TRUE(Mount.Enumerate("/missing", Collect, &Listed));
	EXPECT_TRUE(Listed.empty());

	int iCalls = 0;
	EXPECT_FALSE(Mount.Enumerate("/", StopAtFirst, &iCalls));
	EXPECT_EQ(iCalls, 1);
}

TEST(FileSystem, EarlierMountShadowsLaterOne)
{
	CTempDirectory Dir;
	Dir.WriteFile("a.txt", "disk a");
	CFileSystem FileSystem;
	FileSystem.Mount(new CMountedPath(Dir.Path().c_str()));
	FileSystem.Mount(MakeArchive(CTarBuilder().File("a.txt", "archive a").File("b.txt", "archive b").End()));

	EXPECT_EQ(OpenAndRead(FileSystem, "a.txt"), "disk a");
	EXPECT_EQ(OpenAndRead(FileSystem, "/a.txt"), "disk a");
	EXPECT_EQ(OpenAndRead(FileSystem, "/b.txt"), "archive b");
	EXPECT_EQ(OpenAndRead(FileSystem, "/c.txt"), "<null>");
	EXPECT_TRUE(FileSystem.Exists("b.txt", true, false));
	EXPECT_FALSE(FileSystem.Exists("/b.txt", false, true));

	std::map<std::string, std::vector<tListed>> Listed;
	EXPECT_TRUE(FileSystem.Enumerate("/", Collect, &Listed));
	ASSERT_EQ(Listed.size(), 2u);
	ASSERT_EQ(Listed["a.txt"].size(), 1u);
	EXPECT_EQ(Listed["a.txt"][0].Path, "/");
	EXPECT_TRUE(Listed["a.txt"][0].bFile);
	ASSERT_EQ(Listed["b.txt"].size(), 1u);
	EXPECT_EQ(Listed["b.txt"][0].Path, "/");
}

TEST(FileSystem, EnumerateNamesTheCallersPathAndStops)
{
	CTempDirectory Dir;
	Dir.WriteFile("res/x.txt", "x");
	CFileSystem FileSystem;
	FileSystem.Mount(new CMountedPath(Dir.Path().c_str()));
	FileSystem.Mount(MakeArchive(CTarBuilder().File("res/y.txt", "y").End()));

	std::map<std::string, std::vector<tListed>> Listed;
	EXPECT_TRUE(FileSystem.Enumerate("res", Collect, &Listed));
	ASSERT_EQ(Listed.size(), 2u);
	EXPECT_EQ(Listed["x.txt"][0].Path, "/res");
	EXPECT_EQ(Listed["y.txt"][0].Path, "/res");

	int iCalls = 0;
	EXPECT_FALSE(FileSystem.Enumerate("/res", StopAtFirst, &iCalls));
	EXPECT_EQ(iCalls, 1);
}

TEST(FileSystem, CreateReachesTheFirstMountThatCan)
{
	CTempDirectory Dir;
	CFileSystem FileSystem;
	FileSystem.Mount(MakeArchive(CTarBuilder().File("new.txt", "archive").End()));
	FileSystem.Mount(new CMountedPath(Dir.Path().c_str()));
	Strong<Stream> pStream = Strong<Stream>::New(FileSystem.Create("/dir/new.txt"));
	ASSERT_FALSE(pStream.IsNull());
	pStream->Write("made", 4);
	pStream.SetNull();
	EXPECT_EQ(Dir.ReadFile("dir/new.txt"), "made");
	// Reading still finds the archive's copy first.
	EXPECT_EQ(OpenAndRead(FileSystem, "/new.txt"), "archive");
	EXPECT_EQ(FileSystem.Open("/new.txt", true), nullptr);
}

TEST(FileSystem, ResolvePathGivesTheFirstExistingDirectory)
{
	CTempDirectory Dir;
	char szBuffer[512];
	{
		CFileSystem FileSystem;
		EXPECT_FALSE(FileSystem.ResolvePath(szBuffer, sizeof(szBuffer)));
	}
	CFileSystem FileSystem;
	FileSystem.Mount(MakeArchive(CTarBuilder().End()));
	FileSystem.Mount(new CMountedPath((Dir / "missing").c_str()));
	FileSystem.Mount(new CMountedPath(Dir.Path().c_str()));
	ASSERT_TRUE(FileSystem.ResolvePath(szBuffer, sizeof(szBuffer)));
	EXPECT_EQ(std::string(szBuffer), Dir.Path() + "/");
	EXPECT_FALSE(FileSystem.ResolvePath(szBuffer, 4));
}
