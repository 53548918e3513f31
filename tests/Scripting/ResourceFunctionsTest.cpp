#include "ScriptHost.h"

#include "Engine/ScriptStream.h"

namespace
{
class ResourceFunctionsTest : public ScriptHostTest
{
protected:
	ResourceFunctionsTest()
	{
		WriteResource("r", {});
		m_Dir.WriteFile("resources/r/data/file.txt", "content");
		m_Dir.WriteFile("top.txt", "top");
		m_Dir.WriteFile("resources/pack.tar", CTarBuilder().File("meta.xml", "<meta/>").End().Bytes());
		Scan();
		m_pResource = Find("r");
	}

	// The bytes of a file below the resource folder.
	std::string Disk(const std::string& Name) const { return m_Dir.ReadFile("resources/r/" + Name); }

	static Stream* StreamOf(const tCallResult& Result)
	{
		CBaseObject* pObject = Result.Object();
		return pObject ? static_cast<CScriptStream*>(pObject)->GetStream() : nullptr;
	}

	CResource* m_pResource = nullptr;
};
}

TEST_F(ResourceFunctionsTest, GlobalPropertiesAndLookups)
{
	EXPECT_EQ(TestScript::GetProperty(Scripting(), nullptr, nullptr, "platform").String(), "Linux");
	EXPECT_EQ(TestScript::GetProperty(Scripting(), m_pResource, nullptr, "thisResource").Object(), m_pResource);
	EXPECT_TRUE(TestScript::GetProperty(Scripting(), nullptr, nullptr, "thisResource").IsNull());
	EXPECT_EQ(Call(nullptr, "findResourceByName", CArgs().S("R")).Object(), m_pResource);
	EXPECT_TRUE(Call(nullptr, "findResourceByName", CArgs().S("nope")).IsNull());
	tCallResult Resources = Call(nullptr, "getResources");
	ASSERT_TRUE(Resources.m_bOk);
	ASSERT_EQ(Resources.m_pValue->GetType(), ARGUMENT_ARRAY);
	EXPECT_EQ(static_cast<CArgumentArray*>(Resources.m_pValue.GetPointer())->GetArrayCount(), 2u);
}

TEST_F(ResourceFunctionsTest, ResourceObjectsAnswerTheirMembers)
{
	struct tCase
	{
		const char* m_szMember;
		bool m_bMethod;
		const char* m_szExpected;
	};
	const tCase rgCases[] = {
		{"name", false, "r"},
		{"isStarted", false, "false"},
		{"isStarting", false, "false"},
		{"restart", true, "false"},
		{"stop", true, "false"},
		{"start", true, "true"},
		{"isStarted", false, "true"},
		{"restart", true, "true"},
		{"stop", true, "true"},
	};
	for (const tCase& Case : rgCases)
	{
		SCOPED_TRACE(Case.m_szMember);
		tCallResult Result = Case.m_bMethod
			? TestScript::CallMethod(Scripting(), nullptr, m_pResource, Case.m_szMember, CArgs())
			: TestScript::GetProperty(Scripting(), nullptr, m_pResource, Case.m_szMember);
		ASSERT_TRUE(Result.m_bOk) << Result.m_Error;
		const std::string Value = Result.m_pValue->IsString() ? Result.String() : (Result.Boolean() ? "true" : "false");
		EXPECT_EQ(Value, Case.m_szExpected);
	}
	Strong<CBaseObject> pStranger = Strong<CBaseObject>::New(new CBaseObject());
	tCallResult Wrong =
		TestScript::CallMethod(Scripting(), nullptr, pStranger, "start", CArgs(), Manager()->GetResourceClass());
	EXPECT_FALSE(Wrong.m_bOk);
	EXPECT_EQ(Wrong.m_Error, "Resource expected for 'this'");
}

TEST_F(ResourceFunctionsTest, ExportsKeepTheLatestFunctionAcrossStops)
{
	std::string Called;
	auto Exporter = [&](const char* szTag) {
		return MakeFunction(m_pResource, [&Called, szTag](const CArgumentArray&) { Called = szTag; });
	};
	EXPECT_TRUE(Call(m_pResource, "exportFunction", CArgs().S("f").Own(Exporter("first"))).m_bOk);
	EXPECT_TRUE(Call(m_pResource, "exportFunction", CArgs().S("f").Own(Exporter("second"))).m_bOk);
	ASSERT_TRUE(m_pResource->Start());
	ASSERT_TRUE(m_pResource->Stop(false));

	tCallResult Export = TestScript::CallMethod(Scripting(), nullptr, m_pResource, "getExport", CArgs().S("f"));
	ASSERT_TRUE(Export.m_bOk);
	ASSERT_TRUE(Export.m_pValue->IsFunction());
	Export.m_pValue->ToFunction()->Call(CArgs(), nullptr);
	EXPECT_EQ(Called, "second");
	EXPECT_TRUE(TestScript::CallMethod(Scripting(), nullptr, m_pResource, "getExport", CArgs().S("none")).IsNull());

	tCallResult Exports = TestScript::GetProperty(Scripting(), nullptr, m_pResource, "exports");
	ASSERT_EQ(Exports.m_pValue->GetType(), ARGUMENT_MAP);
	CArgumentMap* pCopy = static_cast<CArgumentMap*>(Exports.m_pValue.GetPointer());
	EXPECT_EQ(pCopy->GetCount(), 1u);
	EXPECT_NE(pCopy, &m_pResource->GetExports());
}

TEST_F(ResourceFunctionsTest, FileExistsAsksForFilesOrDirectories)
{
	struct tCase
	{
		const char* m_szPath;
		int m_iFlags; // -1: only the path
		bool m_bFile;
		bool m_bDirectory;
		bool m_bExpected;
	};
	const tCase rgCases[] = {
		{"data/file.txt", -1, false, false, true},
		{"data", -1, false, false, true},
		{"data", 2, true, false, false},
		{"data", 2, false, true, true},
		{"data/file.txt", 2, false, true, false},
		{"/top.txt", -1, false, false, true},
		{"../r/data/file.txt", -1, false, false, false},
		{"missing", -1, false, false, false},
	};
	for (const tCase& Case : rgCases)
	{
		SCOPED_TRACE(Case.m_szPath);
		CArgs Arguments;
		Arguments.S(Case.m_szPath);
		if (Case.m_iFlags == 2)
			Arguments.B(Case.m_bFile).B(Case.m_bDirectory);
		EXPECT_EQ(Call(m_pResource, "fileExists", Arguments).Boolean(), Case.m_bExpected);
	}
}

TEST_F(ResourceFunctionsTest, OpenFileReadsAnywhereButWritesOnlyInside)
{
	EXPECT_TRUE(Call(m_pResource, "openFile", CArgs().S("/top.txt").B(true)).IsNull());
	tCallResult Read = Call(m_pResource, "openFile", CArgs().S("/top.txt"));
	ASSERT_NE(StreamOf(Read), nullptr);
	char Buffer[8] = {};
	EXPECT_EQ(StreamOf(Read)->Read(Buffer, sizeof(Buffer)), 3u);
	EXPECT_STREQ(Buffer, "top");
	EXPECT_TRUE(Call(m_pResource, "openFile", CArgs().S("../../top.txt")).IsNull());

	tCallResult Write = Call(m_pResource, "openFile", CArgs().S("data/file.txt").B(true));
	ASSERT_NE(StreamOf(Write), nullptr);
	EXPECT_EQ(StreamOf(Write)->Write("C", 1), 1u);
	Write = tCallResult();
	EXPECT_EQ(Disk("data/file.txt"), "Content");

	tCallResult Created = Call(m_pResource, "createFile", CArgs().S("made.bin"));
	ASSERT_NE(StreamOf(Created), nullptr);
	EXPECT_TRUE(Call(Find("pack"), "createFile", CArgs().S("made.bin")).IsNull());
}

TEST_F(ResourceFunctionsTest, TextFilesRoundTripAsUTF8)
{
	tCallResult Saved = Call(m_pResource, "saveTextFile", CArgs().S("empty.txt").S(""));
	EXPECT_TRUE(Saved.Boolean());
	EXPECT_EQ(Disk("empty.txt"), "\xEF\xBB\xBF");

	EXPECT_TRUE(Call(m_pResource, "saveTextFile", CArgs().S("text.txt").S("h\xC3\xA9llo")).Boolean());
	EXPECT_EQ(Disk("text.txt"), "\xEF\xBB\xBFh\xC3\xA9llo");
	EXPECT_EQ(Call(m_pResource, "loadTextFile", CArgs().S("text.txt")).String(), "h\xC3\xA9llo");
	EXPECT_EQ(Call(m_pResource, "loadTextFile", CArgs().S("data/file.txt")).String(), "content");

	EXPECT_TRUE(Call(m_pResource, "loadTextFile", CArgs().S("missing.txt")).IsNull());
	tCallResult Refused = Call(Find("pack"), "saveTextFile", CArgs().S("x.txt").S("x"));
	EXPECT_TRUE(Refused.m_bOk);
	EXPECT_TRUE(Refused.IsNull());
}

TEST_F(ResourceFunctionsTest, WrongArgumentsFailWithTheCheckMessage)
{
	ExpectFailures(m_pResource, {
		{"findResourceByName", [](CArgs& A) { A.I(1); }, "Expected string for argument 1"},
		{"openFile", [](CArgs& A) { A.S("x").I(1); }, "Expected boolean for argument 2"},
		{"exportFunction", [](CArgs& A) { A.S("x").S("y"); }, "Expected Function for argument 2"},
		{"saveTextFile", [](CArgs& A) { A.S("x"); }, "Expected string for argument 2"},
	});
}
