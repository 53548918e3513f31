#include "ScriptHost.h"

#include <filesystem>
#include <functional>
#include <unistd.h>

#include "Engine/KestrinHash.h"

namespace
{
class ResourceTest : public ScriptHostTest
{
protected:
	ResourceTest() { Manager()->SetServer(true); }

	void WriteMeta(const std::string& Folder, const std::string& Body)
	{
		m_Dir.WriteFile("resources/" + Folder + "/meta.xml", "<meta>" + Body + "</meta>");
	}

	static std::string HashName(const std::string& Name)
	{
		CSHA256 Digest;
		CSHA256::Value Value;
		char szText[CSHA256::TEXT_SIZE];
		Digest.Init();
		Digest.AddString(Name.c_str(), true);
		Digest.Final(Value);
		CSHA256::ToString(Value, szText, sizeof(szText));
		return szText;
	}

	// The client block of a resource, as bytes.
	static std::string ClientBlock(CResource* pResource)
	{
		Strong<CUnlimitedStream> pStream = Strong<CUnlimitedStream>::New(new CUnlimitedStream());
		EXPECT_TRUE(pResource->WriteClientInfo(pStream));
		return std::string(reinterpret_cast<const char*>(pStream->GetData()), pStream->GetSize());
	}

	static std::string U32(uint32_t uiValue) { return std::string(reinterpret_cast<const char*>(&uiValue), 4); }
	static std::string Text(const std::string& Value) { return std::string(1, static_cast<char>(Value.size())) + Value; }

	// A handler of the event that prevents the default.
	void PreventDefaultOf(const char* szEvent)
	{
		Call(nullptr, "addEventHandler", CArgs().S(szEvent).Own(MakeFunction(nullptr, [this](const CArgumentArray& A) {
			TestScript::CallMethod(Scripting(), nullptr, A.GetAt(0)->ToObject(), "preventDefault", CArgs());
		})));
	}
};
}

TEST_F(ResourceTest, MetaLoadFailuresDropTheResourceWithTheirMessage)
{
	m_Dir.WriteFile("resources/other/x.lua", "");
	struct tCase
	{
		const char* m_szMeta;
		const char* m_szMessage;
	};
	const tCase rgCases[] = {
		{nullptr, "unable to load meta.xml in resource r!"},
		{"<dependency />", "Unable to find dependency  for resource r!"},
		{"<dependency src=\"ghost\" />", "Unable to find dependency ghost for resource r!"},
		{"<map type=\"server\" />", "src attribute missing on map element in resource r!"},
		{"<map SRC=\"m.xml\" type=\"server\" />", "src attribute missing on map element in resource r!"},
		{"<map src=\"m.xml\" />", "type attribute missing on map element in resource r!"},
		{"<map src=\"m.xml\" type=\"both\" />", "invalid type in resource r!"},
		{"<map src=\"none.xml\" type=\"server\" />", "unable to load map none.xml in resource r!"},
		{"<script type=\"server\" language=\"lua\" />", "src attribute missing on script element in resource r!"},
		{"<script src=\"s.lua\" language=\"lua\" />", "type attribute missing on script element in resource r!"},
		{"<script src=\"s.lua\" type=\"server\" />", "language attribute missing on script element in resource r!"},
		{"<script src=\"none.lua\" type=\"server\" language=\"lua\" />", "unable to load script none.lua in resource r!"},
		{"<script src=\"../other/x.lua\" type=\"server\" language=\"lua\" />",
			"unable to load script ../other/x.lua in resource r!"},
		{"<script src=\"/resources/other/x.lua\" type=\"server\" language=\"lua\" />",
			"unable to load script /resources/other/x.lua in resource r!"},
		{"<file src=\"f.txt\" />", "src or type attribute missing on file element in resource r!"},
		{"<file src=\"f.txt\" type=\"server\" />", "invalid type in resource r!"},
		{"<file src=\"none.txt\" type=\"client\" />", "unable to load file none.txt in resource r!"},
		{"<file src=\"/resources/other/x.lua\" type=\"client\" />",
			"unable to load file /resources/other/x.lua in resource r!"},
	};
	m_Dir.WriteFile("resources/r/m.xml", "<map />");
	m_Dir.WriteFile("resources/r/s.lua", "");
	m_Dir.WriteFile("resources/r/f.txt", "file");
	for (const tCase& Case : rgCases)
	{
		SCOPED_TRACE(Case.m_szMessage);
		remove((m_Dir.Path() + "/resources/r/meta.xml").c_str());
		if (Case.m_szMeta)
			WriteMeta("r", Case.m_szMeta);
		ClearLog();
		Scan();
		EXPECT_EQ(Find("r"), nullptr);
		EXPECT_TRUE(Logged(Case.m_szMessage));
		EXPECT_TRUE(Logged("Failed to load resource r!"));
		m_Dir.WriteFile("resources/r/meta.xml", "<meta/>");
		Scan();
		ASSERT_NE(Find("r"), nullptr);
		m_Dir.WriteFile("resources/r/meta.xml", "x");
		Scan();
	}
}

TEST_F(ResourceTest, ElementNamesAndAttributeValuesIgnoreCase)
{
	WriteMeta("r", "<MAP src=\"m.xml\" type=\"Server\" /><Script src=\"s.lua\" TYPE=\"client\" language=\"lua\" />"
				   "<Script src=\"s.lua\" type=\"CLIENT\" language=\"LUA\" />");
	m_Dir.WriteFile("resources/r/m.xml", "<map />");
	m_Dir.WriteFile("resources/r/s.lua", "");
	Scan();
	EXPECT_EQ(Find("r"), nullptr) << "an attribute name in capitals is missing";

	WriteMeta("r", "<MAP src=\"m.xml\" type=\"Server\" /><Script src=\"s.lua\" type=\"CLIENT\" language=\"LUA\" />");
	Scan();
	ASSERT_NE(Find("r"), nullptr);
	ASSERT_EQ(Find("r")->GetServerScripts().size(), 1u);
	EXPECT_EQ(Find("r")->GetServerScripts()[0].m_eType, SCRIPT_TYPE_MAP);
	ASSERT_EQ(Find("r")->GetClientScripts().size(), 1u);
	EXPECT_EQ(Find("r")->GetClientScripts()[0].m_eType, SCRIPT_TYPE_LUA);
}

TEST_F(ResourceTest, MapsStartBeforeScripts)
{
	std::vector<std::string> MapsAtScriptTime;
	m_pLua->m_Scripts["script"] = [&](CTestEnvironment&) {
		MapsAtScriptTime = m_pManager->m_Maps;
		return true;
	};
	WriteMeta("r", "<script src=\"s.lua\" type=\"server\" language=\"lua\" /><map src=\"m.xml\" type=\"server\" />");
	m_Dir.WriteFile("resources/r/s.lua", "script");
	m_Dir.WriteFile("resources/r/m.xml", "<vehicles />");
	Scan();
	ASSERT_TRUE(Find("r")->Start());
	EXPECT_EQ(MapsAtScriptTime, std::vector<std::string>({"r:vehicles"}));
	EXPECT_EQ(Find("r")->GetServerScripts()[1].m_Path, "/resources/r/s.lua");
}

TEST_F(ResourceTest, StartFailuresStopTheResourceAgain)
{
	struct tCase
	{
		const char* m_szName;
		std::string m_Meta;
		std::function<void()> m_Arrange;
	};
	const tCase rgCases[] = {
		{"unknown language", "<script src=\"s.lua\" type=\"server\" language=\"python\" />", [] {}},
		{"failing script", "<script src=\"s.lua\" type=\"server\" language=\"lua\" />",
			[this] { m_Dir.WriteFile("resources/r/s.lua", "fail"); }},
		{"language without environment", "<script src=\"s.lua\" type=\"server\" language=\"lua\" />",
			[this] { m_pLua->m_bRefuseEnvironments = true; }},
		{"script of a missing language", "<script src=\"s.lua\" type=\"server\" language=\"squirrel\" />", [] {}},
		{"map the manager refuses", "<map src=\"s.lua\" type=\"server\" />",
			[this] {
				m_Dir.WriteFile("resources/r/s.lua", "<map />");
				m_pManager->m_bMapsLoad = false;
			}},
		{"prevented start", "", [this] { PreventDefaultOf("OnResourceStart"); }},
		{"script that stops its own resource", "<script src=\"s.lua\" type=\"server\" language=\"lua\" />",
			[this] {
				m_Dir.WriteFile("resources/r/s.lua", "stop-self");
				m_pLua->m_Scripts["stop-self"] = [this](CTestEnvironment& Script) {
					const bool bStopped = Find("r")->Stop(false);
					Script.Call("addCommandHandler", CArgs().S("late").Own(Script.Function({})));
					return bStopped;
				};
			}},
		{"start handler that stops the resource", "",
			[this] {
				Call(nullptr, "addEventHandler",
					CArgs().S("OnResourceStart").Own(MakeFunction(nullptr, [this](const CArgumentArray&) {
						Find("r")->Stop(false);
					})));
			}},
	};
	for (const tCase& Case : rgCases)
	{
		SCOPED_TRACE(Case.m_szName);
		m_Dir.WriteFile("resources/r/s.lua", "");
		WriteMeta("r", Case.m_Meta);
		Case.m_Arrange();
		Scan();
		ASSERT_NE(Find("r"), nullptr);
		ClearLog();
		EXPECT_FALSE(Find("r")->Start());
		EXPECT_TRUE(Logged("START: Resource r failed to load!"));
		EXPECT_TRUE(Logged("STOP: Resource r stopped."));
		EXPECT_FALSE(Logged("START: Resource r started."));
		EXPECT_FALSE(Logged("STOP: Resource r already stopped!"));
		EXPECT_FALSE(Find("r")->IsStarted());
		EXPECT_FALSE(Find("r")->IsStarting());
		EXPECT_EQ(m_pLua->m_iLiveEnvironments, 0);
		EXPECT_EQ(Manager()->GetCommandHandlers()->GetCommandHandler("late"), nullptr);
		m_pLua->m_bRefuseEnvironments = false;
		m_pManager->m_bMapsLoad = true;
		Manager()->GetOnResourceStart()->RemoveHandlers();
	}
}

TEST_F(ResourceTest, StartedWithOnlySomeLanguagesRegistered)
{
	WriteResource("r", {"anything"});
	Scan();
	ASSERT_TRUE(Find("r")->Start());
	EXPECT_TRUE(Find("r")->IsStarted()) << "no JavaScript language is registered, the start still completes";
	EXPECT_NE(Find("r")->GetLuaEnvironment(), nullptr);
	EXPECT_EQ(Find("r")->GetJSEnvironment(), nullptr);
	EXPECT_EQ(Find("r")->GetLuaEnvironment()->GetResource(), Find("r"));
	EXPECT_TRUE(Logged("START: Starting resource r..."));
	EXPECT_TRUE(Logged("START: Resource r started."));
}

TEST_F(ResourceTest, ScriptsSeeTheirResourceStartedAndStarting)
{
	std::string Seen;
	m_pLua->m_Scripts["look"] = [&](CTestEnvironment& Script) {
		CBaseObject* pThis = TestScript::GetProperty(Scripting(), Script.GetResource(), nullptr, "thisResource").Object();
		Seen = std::to_string(TestScript::GetProperty(Scripting(), nullptr, pThis, "isStarted").Boolean()) +
			std::to_string(TestScript::GetProperty(Scripting(), nullptr, pThis, "isStarting").Boolean());
		return true;
	};
	WriteResource("r", {"look"});
	Scan();
	ASSERT_TRUE(Find("r")->Start());
	EXPECT_EQ(Seen, "11");
}

TEST_F(ResourceTest, StartAndStopRefuseTheWrongState)
{
	WriteResource("r", {});
	Scan();
	CResource* pResource = Find("r");
	EXPECT_FALSE(pResource->Stop(false));
	EXPECT_TRUE(Logged("STOP: Resource r already stopped!"));
	EXPECT_FALSE(pResource->Restart());
	EXPECT_FALSE(pResource->IsStarted()) << "restart of a stopped resource does not start it";
	EXPECT_TRUE(Logged("RESTART: Restarting resource r..."));
	ASSERT_TRUE(pResource->Start());
	EXPECT_FALSE(pResource->Start());
	EXPECT_TRUE(Logged("START: Resource r already running!"));
	EXPECT_TRUE(pResource->Restart());
	EXPECT_TRUE(pResource->IsStarted());
}

TEST_F(ResourceTest, PreventedStopKeepsTheResourceRunning)
{
	WriteResource("r", {});
	Scan();
	ASSERT_TRUE(Find("r")->Start());
	PreventDefaultOf("OnResourceStop");
	EXPECT_FALSE(Find("r")->Stop(false));
	EXPECT_TRUE(Logged("STOP: Resource r failed to stop!"));
	EXPECT_TRUE(Find("r")->IsStarted());
	EXPECT_EQ(m_pLua->m_iLiveEnvironments, 1);
}

TEST_F(ResourceTest, StopHandlerThatStopsTheSameResourceDoesNotRecurse)
{
	WriteResource("r", {});
	Scan();
	ASSERT_TRUE(Find("r")->Start());
	int iNested = 0;
	Call(nullptr, "addEventHandler", CArgs().S("OnResourceStop").Own(MakeFunction(nullptr, [&](const CArgumentArray&) {
		iNested++;
		EXPECT_FALSE(Find("r")->Stop(false));
	})));
	EXPECT_TRUE(Find("r")->Stop(false));
	EXPECT_EQ(iNested, 1);
}

TEST_F(ResourceTest, StopRemovesWhatTheResourceRegisteredAndKeepsExports)
{
	m_pLua->m_Scripts["register"] = [](CTestEnvironment& Script) {
		Script.Call("addEvent", CArgs().S("Custom"));
		Script.Call("addEventHandler", CArgs().S("Custom").Own(Script.Function({})));
		Script.Call("addCommandHandler", CArgs().S("cmd").Own(Script.Function({})));
		Script.Call("setInterval", CArgs().Own(Script.Function({})).I(10));
		Script.Call("bindKey", CArgs().I(SDLK_a).I(KEYSTATE_DOWN).Own(Script.Function({})));
		Script.Call("exportFunction", CArgs().S("shared").Own(Script.Function({})));
		return true;
	};
	WriteResource("r", {"register"});
	Scan();
	ASSERT_TRUE(Find("r")->Start());
	EXPECT_EQ(Manager()->GetEventHandlers()->GetEventType("Custom")->GetHandlerCount(), 1u);
	EXPECT_NE(Manager()->GetCommandHandlers()->GetCommandHandler("cmd"), nullptr);
	EXPECT_EQ(Manager()->GetTimerHandlers()->GetCount(), 1u);
	EXPECT_EQ(Manager()->GetKeyBinds()->GetBindCount(), 1u);

	ASSERT_TRUE(Find("r")->Stop(false));
	EXPECT_EQ(Manager()->GetEventHandlers()->GetEventType("Custom")->GetHandlerCount(), 0u);
	EXPECT_EQ(Manager()->GetCommandHandlers()->GetCommandHandler("cmd"), nullptr);
	EXPECT_EQ(Manager()->GetTimerHandlers()->GetCount(), 0u);
	EXPECT_EQ(Manager()->GetKeyBinds()->GetBindCount(), 0u);
	EXPECT_EQ(m_pManager->m_Associated, std::vector<std::string>({"r"}));
	EXPECT_EQ(m_pLua->m_iLiveEnvironments, 0);
	EXPECT_NE(Find("r")->GetExports().Get("shared"), nullptr);
}

TEST_F(ResourceTest, StopRemovesWhatCallsItsCodeWhoeverRegisteredIt)
{
	// "lib" registers, with functions of "user"'s code that its script was handed, what a library resource registers
	// for the resources that use it; and one command of its own.
	Strong<CArgument> pUserCode;
	m_pLua->m_Scripts["make"] = [&pUserCode](CTestEnvironment& Script) {
		pUserCode = Strong<CArgument>::New(Script.Function({}));
		return true;
	};
	m_pLua->m_Scripts["register"] = [&pUserCode](CTestEnvironment& Script) {
		Script.Call("addEvent", CArgs().S("Custom"));
		EXPECT_TRUE(Script.Call("addEventHandler", CArgs().S("Custom").Own(pUserCode->Clone())).m_bOk);
		EXPECT_TRUE(Script.Call("addCommandHandler", CArgs().S("user").Own(pUserCode->Clone())).m_bOk);
		EXPECT_TRUE(Script.Call("setInterval", CArgs().Own(pUserCode->Clone()).I(10)).m_bOk);
		EXPECT_TRUE(Script.Call("bindKey", CArgs().I(SDLK_a).I(KEYSTATE_DOWN).Own(pUserCode->Clone())).m_bOk);
		EXPECT_TRUE(Script.Call("addCommandHandler", CArgs().S("own").Own(Script.Function({}))).m_bOk);
		return true;
	};
	WriteResource("user", {"make"});
	WriteResource("lib", {"register"});
	Scan();
	ASSERT_TRUE(Find("user")->Start());
	ASSERT_TRUE(Find("lib")->Start());
	ASSERT_EQ(Manager()->GetTimerHandlers()->GetCount(), 1u);

	ASSERT_TRUE(Find("user")->Stop(false));
	EXPECT_EQ(Manager()->GetEventHandlers()->GetEventType("Custom")->GetHandlerCount(), 0u);
	EXPECT_EQ(Manager()->GetCommandHandlers()->GetCommandHandler("user"), nullptr);
	EXPECT_EQ(Manager()->GetTimerHandlers()->GetCount(), 0u);
	EXPECT_EQ(Manager()->GetKeyBinds()->GetBindCount(), 0u);
	EXPECT_NE(Manager()->GetCommandHandlers()->GetCommandHandler("own"), nullptr) << "lib's own code stays";

	// What is left of the stopped code can be registered no more, by anyone.
	const tCallResult Late = Call(Find("lib"), "addCommandHandler", CArgs().S("late").Own(pUserCode->Clone()));
	EXPECT_FALSE(Late.m_bOk);
	EXPECT_EQ(Late.m_Error, "Cannot use a function of a stopped resource");
	EXPECT_EQ(Manager()->GetCommandHandlers()->GetCommandHandler("late"), nullptr);
}

TEST_F(ResourceTest, DependenciesStartFirstAndCyclesStartEachOnce)
{
	WriteResource("a", {"run"}, "<dependency src=\"B\" />");
	WriteResource("b", {"run"}, "<dependency src=\"a\" /><dependency src=\"b\" />");
	Scan();
	ASSERT_TRUE(Find("a")->Start());
	EXPECT_EQ(m_pLua->m_Runs, std::vector<std::string>({"b:/resources/b/s0.lua", "a:/resources/a/s0.lua"}));
	EXPECT_TRUE(Find("b")->IsStarted());
}

TEST_F(ResourceTest, FailingDependencyFailsTheStart)
{
	WriteResource("a", {}, "<dependency src=\"b\" />");
	WriteResource("b", {"fail"});
	Scan();
	EXPECT_FALSE(Find("a")->Start());
	EXPECT_TRUE(Logged("START: Failed to start dependant resources for a!"));
	EXPECT_FALSE(Find("a")->IsStarting());
	EXPECT_FALSE(Find("a")->IsStarted());
}

TEST_F(ResourceTest, FilePathsStayInsideTheAllowedPlaces)
{
	m_Dir.WriteFile("outside.txt", "outside");
	WriteResource("r", {});
	m_Dir.WriteFile("resources/r/inside.txt", "inside");
	m_Dir.WriteFile("resources/pack.tar",
		CTarBuilder().File("meta.xml", "<meta/>").File("inner.txt", "inner").End().Bytes());
	Scan();
	CResource* pFolder = Find("r");
	CResource* pArchive = Find("pack");
	ASSERT_NE(pFolder, nullptr);
	ASSERT_NE(pArchive, nullptr);

	struct tCase
	{
		CResource* m_pResource;
		const char* m_szPath;
		bool m_bWrite;
		bool m_bOpens;
	};
	const tCase rgCases[] = {
		{pFolder, "inside.txt", false, true},
		{pFolder, "inside.txt", true, true},
		{pFolder, "../../outside.txt", false, false},
		{pFolder, "/outside.txt", false, true},
		{pFolder, "/outside.txt", true, false},
		{pFolder, "/resources/../outside.txt", false, false},
		{pArchive, "inner.txt", false, true},
		{pArchive, "inner.txt", true, false},
		{pArchive, "outside.txt", true, false},
		{pArchive, "/outside.txt", false, true},
	};
	for (const tCase& Case : rgCases)
	{
		SCOPED_TRACE(std::string(Case.m_pResource->GetName()) + " " + Case.m_szPath + (Case.m_bWrite ? " write" : ""));
		Strong<Stream> pStream = Strong<Stream>::New(Case.m_pResource->OpenFile(Case.m_szPath, Case.m_bWrite));
		EXPECT_EQ(!pStream.IsNull(), Case.m_bOpens);
	}

	Strong<CResource> pFresh = Strong<CResource>::New(Manager()->NewResource("fresh"));
	pFresh->SetPaths("", "/resources/pack.tar");
	EXPECT_EQ(pFresh->CreateFile("new.txt"), nullptr) << "an archive resource never writes, mounted or not";
	EXPECT_EQ(pArchive->CreateFile("new.txt"), nullptr);
	EXPECT_EQ(pFolder->CreateFile("/new.txt"), nullptr);
	EXPECT_EQ(pFolder->CreateFile("../new.txt"), nullptr);
	Strong<Stream> pCreated = Strong<Stream>::New(pFolder->CreateFile("sub/new.txt"));
	EXPECT_FALSE(pCreated.IsNull());
	EXPECT_TRUE(pFolder->FileExists("sub/new.txt", true, false));
	EXPECT_TRUE(pFolder->FileExists("sub", false, true));
	EXPECT_FALSE(pFolder->FileExists("sub", true, false));
	EXPECT_FALSE(pFolder->FileExists("../r/inside.txt", true, true));
	EXPECT_TRUE(pArchive->FileExists("inner.txt", true, false));
	EXPECT_TRUE(pArchive->FileExists("/outside.txt", true, false));
}

TEST_F(ResourceTest, ClientFilesArePublishedUnderTheirHashName)
{
	const std::string LongName = std::string(200, 'd') + "/" + std::string(99, 'f');
	const std::string CutName = LongName.substr(0, 255);
	WriteMeta("r", "<file src=\"Readme.TXT\" type=\"client\" /><file src=\"readme.txt\" type=\"client\" />"
				   "<file src=\"" + LongName + "\" type=\"client\" />");
	m_Dir.WriteFile("resources/r/Readme.TXT", "hello");
	m_Dir.WriteFile("resources/r/readme.txt", "hello again");
	m_Dir.WriteFile("resources/r/" + LongName, "long");
	m_Dir.WriteFile("resources/r/" + CutName, "cut");
	Scan();
	ASSERT_NE(Find("r"), nullptr);
	const std::vector<tResourceFile>& Files = Find("r")->GetClientFiles();
	ASSERT_EQ(Files.size(), 3u);
	EXPECT_STREQ(Files[0].m_szHashName, Files[1].m_szHashName);
	EXPECT_EQ(Files[0].m_szHashName, HashName("readme.txt"));
	EXPECT_EQ(Files[0].m_ulSize, 5u);
	EXPECT_EQ(Files[0].m_uiCRC, 0x3610A686u);
	EXPECT_EQ(std::string(Files[2].m_szName), CutName);
	EXPECT_EQ(Files[2].m_szHashName, HashName(CutName));

	const std::string Published = "htdocs/resources/r/";
	EXPECT_EQ(m_Dir.ReadFile(Published + HashName("readme.txt")), "hello again") << "the later entry wins";
	EXPECT_EQ(m_Dir.ReadFile(Published + HashName(CutName)), "long")
		<< "the published bytes are the ones whose size and checksum the clients are told";
	EXPECT_EQ(Files[2].m_ulSize, 4u);
	EXPECT_FALSE(CFileMgr::Exists((m_Dir.Path() + "/" + Published + HashName(CutName) + ".part").c_str(), true, true));
}

TEST_F(ResourceTest, ClientFilesThatCannotBePublishedAreReportedAndLeaveNoStaleCopy)
{
	WriteMeta("r", "<file src=\"f.txt\" type=\"client\" />");
	const std::string Folder = m_Dir.Path() + "/htdocs/resources/r";
	const std::string Target = Folder + "/" + HashName("f.txt");
	struct tCase
	{
		const char* m_szName;
		std::function<void()> m_Obstruct;
		const char* m_szReason;
	};
	const tCase rgCases[] = {
		{"a file where the resource's folder goes",
			[&] {
				std::filesystem::remove_all(Folder);
				m_Dir.WriteFile("htdocs/resources/r", "in the way");
			},
			"Not a directory"},
		{"a folder where the temporary file goes", [&] { std::filesystem::create_directory(Target + ".part"); },
			"Is a directory"},
		{"a full disk", [&] { ASSERT_EQ(symlink("/dev/full", (Target + ".part").c_str()), 0); },
			"No space left on device"},
	};
	for (const tCase& Case : rgCases)
	{
		SCOPED_TRACE(Case.m_szName);
		std::filesystem::remove_all(m_Dir.Path() + "/htdocs");
		m_Dir.WriteFile("resources/r/f.txt", "old");
		Scan();
		ASSERT_EQ(m_Dir.ReadFile("htdocs/resources/r/" + HashName("f.txt")), "old");

		m_Dir.WriteFile("resources/r/f.txt", "new");
		Case.m_Obstruct();
		ClearLog();
		Scan();
		EXPECT_TRUE(Logged("Unable to publish file f.txt of resource r to " + Target + ": " + Case.m_szReason))
			<< LogText();
		EXPECT_NE(Find("r"), nullptr) << "the resource stays, its other parts are sound";
		EXPECT_FALSE(std::filesystem::exists(Target)) << "the old copy would be served as the new one";
		EXPECT_FALSE(std::filesystem::is_regular_file(Target + ".part") || std::filesystem::is_symlink(Target + ".part"))
			<< "no temporary file stays behind";
	}
}

TEST_F(ResourceTest, OnlyAServerChecksumsAndPublishes)
{
	Manager()->SetServer(false);
	WriteMeta("r", "<file src=\"f.txt\" type=\"client\" />");
	m_Dir.WriteFile("resources/r/f.txt", "hello");
	Scan();
	ASSERT_EQ(Find("r")->GetClientFiles().size(), 1u);
	EXPECT_EQ(Find("r")->GetClientFiles()[0].m_ulSize, 0u);
	EXPECT_FALSE(CFileMgr::Exists((m_Dir.Path() + "/htdocs").c_str(), false, true));
}

TEST_F(ResourceTest, ClientBlockDescribesClientScriptsAndFiles)
{
	WriteMeta("r", "<script src=\"c.js\" type=\"client\" language=\"javascript\" /><file src=\"f.txt\" type=\"client\" />");
	m_Dir.WriteFile("resources/r/c.js", "code");
	m_Dir.WriteFile("resources/r/f.txt", "hello");
	WriteMeta("empty", "");
	m_Dir.WriteFile("resources/pack.tar", CTarBuilder()
											   .File("meta.xml", "<meta><script src=\"c.lua\" type=\"client\" language=\"lua\"/></meta>")
											   .File("c.lua", "x")
											   .End()
											   .Bytes());
	Scan();
	const std::string Expected = Text("r") + U32(1) + std::string(1, '\3') + Text("/resources/r/c.js") + U32(4) +
		"code" + U32(1) + Text("f.txt") + Text(HashName("f.txt")) + U32(5) + U32(0x3610A686u);
	EXPECT_EQ(ClientBlock(Find("r")), Expected);
	EXPECT_EQ(ClientBlock(Find("empty")), Text("empty") + U32(0) + U32(0));
	EXPECT_EQ(ClientBlock(Find("pack")), Text("pack") + U32(1) + std::string(1, '\1') + Text("c.lua") + U32(1) + "x" + U32(0));
}

TEST_F(ResourceTest, ArchiveResourcesRunFromTheArchive)
{
	m_Dir.WriteFile("resources/pack.tar",
		CTarBuilder()
			.File("meta.xml", "<meta><script src=\"dir/s.lua\" type=\"server\" language=\"lua\"/></meta>")
			.File("dir/s.lua", "archived")
			.End()
			.Bytes());
	bool bRan = false;
	m_pLua->m_Scripts["archived"] = [&](CTestEnvironment&) {
		bRan = true;
		return true;
	};
	Scan();
	ASSERT_NE(Find("pack"), nullptr);
	ASSERT_TRUE(Find("pack")->Start());
	EXPECT_TRUE(bRan);
	ASSERT_TRUE(Find("pack")->Stop(false));
	EXPECT_EQ(Find("pack")->GetArchive(), nullptr);
}

TEST_F(ResourceTest, ArchiveEntriesNeverReachTheServerRoot)
{
	m_Dir.WriteFile("secret.txt", "password");
	m_Dir.WriteFile("meta.xml", "<meta><file src=\"secret.txt\" type=\"client\" /></meta>");
	struct tCase
	{
		const char* m_szName;
		std::string m_Archive;
		const char* m_szMessage;
	};
	auto Archive = [](const std::string& Meta) {
		return CTarBuilder().File("meta.xml", "<meta>" + Meta + "</meta>").End().Bytes();
	};
	const tCase rgCases[] = {
		{"client file", Archive("<file src=\"secret.txt\" type=\"client\" />"),
			"unable to load file secret.txt in resource pack!"},
		{"script", Archive("<script src=\"secret.txt\" type=\"server\" language=\"lua\" />"),
			"unable to load script secret.txt in resource pack!"},
		{"meta.xml", CTarBuilder().File("other.txt", "x").End().Bytes(), "unable to load meta.xml in resource pack!"},
	};
	for (const tCase& Case : rgCases)
	{
		SCOPED_TRACE(Case.m_szName);
		m_Dir.WriteFile("resources/pack.tar", Case.m_Archive);
		ClearLog();
		Scan();
		EXPECT_EQ(Find("pack"), nullptr);
		EXPECT_TRUE(Logged(Case.m_szMessage));
	}
	EXPECT_FALSE(CFileMgr::Exists((m_Dir.Path() + "/htdocs").c_str(), false, true));
}
