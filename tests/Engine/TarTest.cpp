#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "Engine/BuiltinArchive.h"
#include "Engine/Tar.h"
#include "StreamText.h"
#include "TarBuilder.h"
#include "TempDirectory.h"

namespace
{
bool ReadArchive(CTARArchive& Archive, const std::string& Bytes)
{
	Strong<CUnlimitedStream> pStream = Strong<CUnlimitedStream>::New(new CUnlimitedStream());
	pStream->Write(Bytes.data(), Bytes.size());
	pStream->Seek(0, 0);
	return Archive.Read(pStream);
}

bool Collect(const tDirectoryEntry& Entry, void* pUserData)
{
	auto* pListed = static_cast<std::map<std::string, std::string>*>(pUserData);
	(*pListed)[Entry.m_szName] = std::string(Entry.m_bFile ? "file" : "") + (Entry.m_bDirectory ? "dir" : "") + " in '" + Entry.m_szPath + "'";
	return true;
}

bool StopAtFirst(const tDirectoryEntry&, void* pUserData)
{
	++*static_cast<int*>(pUserData);
	return false;
}

CTarBuilder::tMember Member(const std::string& Name, const std::string& Data, char cType = '0')
{
	CTarBuilder::tMember Result;
	Result.Name = Name;
	Result.Data = Data;
	Result.cType = cType;
	return Result;
}
}

TEST(TarArchive, RecordsFileAndDirectoryHeaders)
{
	CTarBuilder::tMember Timed = Member("a.txt", "hello");
	Timed.llModifiedTime = 1234567;
	CTarBuilder::tMember Untyped = Member("c.txt", "");
	Untyped.cType = '\0';
	std::string Big(513, 'b');
	CTarBuilder Builder;
	Builder.Add(Timed).Add(Member("d/", "", '5')).Add(Member("d/b.bin", Big)).Add(Member("link", "", '2')).Add(Untyped).End();

	CTARArchive Archive;
	ASSERT_TRUE(ReadArchive(Archive, Builder.Bytes()));
	struct tExpected
	{
		const char* szName;
		char cType;
		uint64_t Offset;
		uint64_t Size;
	};
	// A 513-byte member takes two data blocks, so the next header starts 1024 bytes after its data.
	const tExpected Expected[] = {
		{"a.txt", '0', 512, 5},
		{"d/", '5', 1536, 0},
		{"d/b.bin", '0', 2048, 513},
		{"c.txt", '0', 4096, 0},
	};
	ASSERT_EQ(Archive.GetEntryCount(), 4u);
	for (size_t i = 0; i < 4; ++i)
	{
		const CTARArchive::tEntry& Entry = Archive.GetEntry(i);
		EXPECT_STREQ(Entry.m_szName, Expected[i].szName);
		EXPECT_EQ(Entry.m_cType, Expected[i].cType) << Expected[i].szName;
		EXPECT_EQ(Entry.m_Offset, Expected[i].Offset) << Expected[i].szName;
		EXPECT_EQ(Entry.m_Size, Expected[i].Size) << Expected[i].szName;
	}
	EXPECT_EQ(Archive.GetEntry(0).m_iModifiedTime, 1234567);

	EXPECT_EQ(OpenAndRead(Archive, "a.txt"), "hello");
	EXPECT_EQ(OpenAndRead(Archive, "/d/b.bin"), Big);
	EXPECT_EQ(OpenAndRead(Archive, "c.txt"), "");
	EXPECT_EQ(OpenAndRead(Archive, "link"), "<null>");
}

TEST(TarArchive, BuildsPathsFromPrefixAndName)
{
	CTarBuilder::tMember Prefixed = Member("c.txt", "abc");
	Prefixed.Prefix = "a/b";
	CTarBuilder::tMember NoMagic = Member("plain.txt", "old");
	NoMagic.bUstarMagic = false;
	CTarBuilder Builder;
	Builder.Add(Prefixed).Add(NoMagic).End();
	CTARArchive Archive;
	ASSERT_TRUE(ReadArchive(Archive, Builder.Bytes()));
	EXPECT_STREQ(Archive.GetEntry(0).m_szName, "a/b/c.txt");
	EXPECT_EQ(OpenAndRead(Archive, "a/b/c.txt"), "abc");
	EXPECT_EQ(OpenAndRead(Archive, "plain.txt"), "old");
}

TEST(TarArchive, ExistsTellsFilesFromDirectories)
{
	CTARArchive Archive;
	ASSERT_TRUE(ReadArchive(Archive, CTarBuilder().File("dir/sub/f.txt", "f").End().Bytes()));
	struct tCase
	{
		const char* szPath;
		bool bFile;
		bool bDirectory;
		bool bExpected;
	};
	const tCase Cases[] = {
		{"dir", false, true, true},
		{"dir", true, false, false},
		{"/dir/sub", false, true, true},
		{"dir/sub/f.txt", true, false, true},
		{"dir/sub/f.txt", false, true, false},
		{"dir/sub/f.txt/x", true, true, false},
		{"dir/missing", true, true, false},
		{"", false, true, true},
		{"/", false, true, true},
	};
	for (const tCase& Case : Cases)
		EXPECT_EQ(Archive.Exists(Case.szPath, Case.bFile, Case.bDirectory), Case.bExpected) << Case.szPath;
	EXPECT_EQ(OpenAndRead(Archive, "dir/sub"), "<null>");
}

TEST(TarArchive, NamesAreCaseSensitive)
{
	CTARArchive Archive;
	ASSERT_TRUE(ReadArchive(Archive, CTarBuilder().File("Dir/f.txt", "f").End().Bytes()));
	EXPECT_EQ(OpenAndRead(Archive, "Dir/F.txt"), "<null>");
	EXPECT_EQ(OpenAndRead(Archive, "dir/f.txt"), "<null>");
	EXPECT_EQ(OpenAndRead(Archive, "Dir/f.txt"), "f");

	Archive.SetCaseSensitive(false);
	EXPECT_EQ(OpenAndRead(Archive, "DIR/F.TXT"), "f");
}

TEST(TarArchive, ChecksumMayBeSignedOrUnsignedButMustMatch)
{
	CTarBuilder::tMember Signed = Member("caf\xC3\xA9.txt", "signed");
	Signed.bSignedChecksum = true;
	CTARArchive Archive;
	ASSERT_TRUE(ReadArchive(Archive, CTarBuilder().Add(Signed).End().Bytes()));
	EXPECT_EQ(OpenAndRead(Archive, "caf\xC3\xA9.txt"), "signed");

	CTarBuilder::tMember Bad = Member("bad.txt", "x");
	Bad.bBadChecksum = true;
	ASSERT_FALSE(ReadArchive(Archive, CTarBuilder().File("good.txt", "g").Add(Bad).End().Bytes()));
	EXPECT_EQ(Archive.GetEntryCount(), 0u);
	EXPECT_EQ(OpenAndRead(Archive, "good.txt"), "<null>");
	EXPECT_EQ(OpenAndRead(Archive, "caf\xC3\xA9.txt"), "<null>");
}

TEST(TarArchive, ShortOrCutArchivesKeepWhatCameBefore)
{
	struct tCase
	{
		const char* szName;
		std::string Bytes;
	};
	CTarBuilder::tMember Cut = Member("cut.bin", std::string(100, 'c'));
	Cut.llDeclaredSize = 5000; // more than the archive holds
	CTarBuilder::tMember Huge = Member("huge.bin", "h");
	Huge.llDeclaredSize = 077777777777LL;
	const std::string Good = CTarBuilder().File("a.txt", "a").Bytes();
	const tCase Cases[] = {
		{"no end blocks", Good},
		{"partial last header", Good + std::string(300, 'z')},
		{"member cut by the end", CTarBuilder().File("a.txt", "a").Add(Cut).Bytes()},
		{"size far beyond the end", CTarBuilder().File("a.txt", "a").Add(Huge).End().Bytes()},
	};
	for (const tCase& Case : Cases)
	{
		CTARArchive Archive;
		ASSERT_TRUE(ReadArchive(Archive, Case.Bytes)) << Case.szName;
		EXPECT_EQ(Archive.GetEntryCount(), 1u) << Case.szName;
		EXPECT_EQ(OpenAndRead(Archive, "a.txt"), "a") << Case.szName;
		EXPECT_FALSE(Archive.Exists("cut.bin", true, true)) << Case.szName;
		EXPECT_FALSE(Archive.Exists("huge.bin", true, true)) << Case.szName;
	}
}

TEST(TarArchive, MembersNeverLeaveTheArchiveTree)
{
	CTarBuilder Builder;
	Builder.File("../evil.txt", "1").File("/abs.txt", "2").File("a/../../up.txt", "3").File("dir/", "4").File("ok/..x", "5").End();
	CTARArchive Archive;
	ASSERT_TRUE(ReadArchive(Archive, Builder.Bytes()));
	std::map<std::string, std::string> Listed;
	EXPECT_TRUE(Archive.Enumerate("", Collect, &Listed));
	ASSERT_EQ(Listed.size(), 1u);
	EXPECT_EQ(Listed.begin()->first, "ok");
	EXPECT_EQ(OpenAndRead(Archive, "ok/..x"), "5");
	const char* Refused[] = {"../evil.txt", "/../evil.txt", "abs.txt", "up.txt", "a/../../up.txt", "ok/../ok/..x"};
	for (const char* szPath : Refused)
		EXPECT_EQ(OpenAndRead(Archive, szPath), "<null>") << szPath;
}

TEST(TarArchive, FirstOfTwoConflictingMembersStays)
{
	CTarBuilder Builder;
	Builder.File("same.txt", "first").File("same.txt", "second").File("a", "file a").File("a/b.txt", "under a file").End();
	CTARArchive Archive;
	ASSERT_TRUE(ReadArchive(Archive, Builder.Bytes()));
	EXPECT_EQ(OpenAndRead(Archive, "same.txt"), "first");
	EXPECT_EQ(OpenAndRead(Archive, "a"), "file a");
	EXPECT_FALSE(Archive.Exists("a/b.txt", true, true));
}

TEST(TarArchive, EnumerateListsOneDirectory)
{
	CTarBuilder Builder;
	Builder.File("top.txt", "t").File("res/one.txt", "1").File("res/inner/two.txt", "2").End();
	CTARArchive Archive;
	ASSERT_TRUE(ReadArchive(Archive, Builder.Bytes()));

	std::map<std::string, std::string> Listed;
	EXPECT_TRUE(Archive.Enumerate("/", Collect, &Listed));
	EXPECT_EQ(Listed, (std::map<std::string, std::string>{{"top.txt", "file in ''"}, {"res", "dir in ''"}}));

	Listed.clear();
	EXPECT_TRUE(Archive.Enumerate("/res", Collect, &Listed));
	EXPECT_EQ(Listed, (std::map<std::string, std::string>{{"one.txt", "file in 'res'"}, {"inner", "dir in 'res'"}}));

	Listed.clear();
	EXPECT_TRUE(Archive.Enumerate("/missing", Collect, &Listed));
	EXPECT_TRUE(Archive.Enumerate("/top.txt", Collect, &Listed));
	EXPECT_TRUE(Listed.empty());

	int iCalls = 0;
	EXPECT_FALSE(Archive.Enumerate("res", StopAtFirst, &iCalls));
	EXPECT_EQ(iCalls, 1);
}

TEST(TarArchive, IsReadOnlyAndMembersOutliveIt)
{
	CTARArchive* pArchive = new CTARArchive();
	ASSERT_TRUE(ReadArchive(*pArchive, CTarBuilder().File("a.txt", "kept").End().Bytes()));
	EXPECT_EQ(pArchive->Open("a.txt", true), nullptr);
	EXPECT_EQ(pArchive->Create("a.txt"), nullptr);
	EXPECT_EQ(pArchive->Create("new.txt"), nullptr);
	Strong<Stream> pMember = Strong<Stream>::New(pArchive->Open("a.txt", false));
	ASSERT_FALSE(pMember.IsNull());
	delete pArchive;
	EXPECT_EQ(ReadAll(pMember), "kept");
}

TEST(TarArchive, ReadsWhatTheTarProgramWrites)
{
	CTempDirectory Dir;
	const std::string LongDir = std::string(60, 'd') + "/" + std::string(60, 'e');
	Dir.WriteFile("in/" + LongDir + "/long.txt", "long path");
	Dir.WriteFile("in/short.txt", "short");
	Dir.WriteFile("in/empty.txt", "");
	std::string Command = "tar --format=ustar -C '" + Dir.Path() + "/in' -cf '" + Dir.Path() + "/out.tar' short.txt empty.txt " + LongDir +
	                      "/long.txt 2>/dev/null";
	if (system(Command.c_str()) != 0)
		GTEST_SKIP() << "no tar program";

	CTARArchive Archive;
	ASSERT_TRUE(ReadArchive(Archive, Dir.ReadFile("out.tar")));
	EXPECT_EQ(OpenAndRead(Archive, "short.txt"), "short");
	EXPECT_EQ(OpenAndRead(Archive, "empty.txt"), "");
	EXPECT_EQ(OpenAndRead(Archive, (LongDir + "/long.txt").c_str()), "long path");
}

TEST(TarArchive, BuiltinArchiveIsReadable)
{
	Strong<Stream> pImage = Strong<Stream>::New(new CMemoryStream(g_BuiltinArchive, g_BuiltinArchiveSize));
	CTARArchive Archive;
	ASSERT_TRUE(Archive.Read(pImage));
	EXPECT_TRUE(Archive.Exists("/README.txt", true, false));
}
