#include "ScriptHost.h"

#include <algorithm>

#include "Engine/Defines.h"

namespace
{
class ResourceMgrTest : public ScriptHostTest
{
protected:
	ResourceMgrTest() { EXPECT_TRUE(Manager()->RegisterResourceCommands()); }

	std::vector<std::string> Names() const
	{
		std::vector<std::string> Names;
		for (const Strong<CResource>& pResource : Manager()->GetResources())
			Names.push_back(pResource->GetName());
		std::sort(Names.begin(), Names.end());
		return Names;
	}

	// Runs a console line and gives the reply ("" for none).
	std::string Reply(const char* szLine)
	{
		m_Replies.m_Lines.clear();
		Command(szLine);
		return m_Replies.Last();
	}
};
}

TEST_F(ResourceMgrTest, ScanFindsFoldersGroupsAndArchives)
{
	const std::string Archive = CTarBuilder().File("meta.xml", "<meta/>").End().Bytes();
	WriteResource("plain", {});
	WriteResource("[group]/grouped", {});
	WriteResource("[group]/[deeper]/deep", {});
	WriteResource(".hidden", {});
	m_Dir.WriteFile("resources/Packed.TAR", Archive);
	m_Dir.WriteFile("resources/[group]/inner.tar", Archive);
	m_Dir.WriteFile("resources/notes.txt", "not a resource");
	Scan(true);
	EXPECT_EQ(Names(), std::vector<std::string>({"Packed", "deep", "grouped", "inner", "plain"}));
	EXPECT_EQ(std::string(Find("packed")->GetArchivePath()), "/resources/Packed.TAR");
	EXPECT_EQ(std::string(Find("deep")->GetFolderPath()), "/resources/[group]/[deeper]/deep");
	EXPECT_TRUE(Logged("Scanning resources..."));
	EXPECT_TRUE(Logged("Found new resource grouped"));
	EXPECT_TRUE(Logged("Loading resources..."));
	EXPECT_TRUE(Logged("5 resources in the resource cache"));
}

TEST_F(ResourceMgrTest, ResourceNamesCompareWithoutCase)
{
	WriteResource("race", {});
	Scan();
	ASSERT_NE(Find("race"), nullptr);
	EXPECT_EQ(Find("RACE"), Find("race"));
	EXPECT_EQ(Find("Race2"), nullptr);
	EXPECT_EQ(Find(nullptr), nullptr);
}

TEST_F(ResourceMgrTest, FolderRenamedInCaseIsDroppedThenFoundAgain)
{
	WriteResource("Race", {});
	Scan();
	ASSERT_NE(Find("race"), nullptr);
	rename((m_Dir.Path() + "/resources/Race").c_str(), (m_Dir.Path() + "/resources/race").c_str());
	Scan(true);
	EXPECT_EQ(Find("race"), nullptr);
	EXPECT_TRUE(Logged("Removing resource Race"));
	Scan();
	ASSERT_NE(Find("race"), nullptr);
	EXPECT_STREQ(Find("race")->GetName(), "race");
}

TEST_F(ResourceMgrTest, RemovedFolderStopsAndDropsItsResource)
{
	WriteResource("gone", {});
	Scan();
	ASSERT_TRUE(Find("gone")->Start());
	remove((m_Dir.Path() + "/resources/gone/meta.xml").c_str());
	remove((m_Dir.Path() + "/resources/gone/").c_str());
	Scan(true);
	EXPECT_EQ(Find("gone"), nullptr);
	EXPECT_TRUE(Logged("STOP: Resource gone stopped."));
	EXPECT_EQ(m_pLua->m_iLiveEnvironments, 0);

	WriteResource("broken", {});
	Scan();
	ASSERT_TRUE(Find("broken")->Start());
	m_Dir.WriteFile("resources/broken/meta.xml", "<meta><script/></meta>");
	Scan();
	EXPECT_EQ(Find("broken"), nullptr);
	EXPECT_TRUE(Logged("Failed to load resource broken!"));
	EXPECT_EQ(m_pLua->m_iLiveEnvironments, 0);
}

TEST_F(ResourceMgrTest, ScanWhileRunningReplacesTheListsForTheNextStart)
{
	WriteResource("r", {"one"});
	Scan();
	ASSERT_TRUE(Find("r")->Start());
	CScriptEnvironment* pEnvironment = Find("r")->GetLuaEnvironment();
	WriteResource("r", {"two", "three"});
	Scan();
	EXPECT_TRUE(Find("r")->IsStarted());
	EXPECT_EQ(Find("r")->GetLuaEnvironment(), pEnvironment);
	EXPECT_EQ(Find("r")->GetClientScripts().size() + Find("r")->GetServerScripts().size(), 2u);
}

TEST_F(ResourceMgrTest, DroppedDependencyNeverLeavesAFreedResourceBehind)
{
	// Whether a dependant reloads before or after its dependency is dropped depends on the registry's order, so
	// several pairs cover both orders.
	const int iPairs = 8;
	for (int i = 0; i < iPairs; i++)
	{
		const std::string Index = std::to_string(i);
		WriteResource("user" + Index, {}, "<dependency src=\"lib" + Index + "\" />");
		WriteResource("lib" + Index, {});
	}
	Scan();
	ASSERT_EQ(Manager()->GetResourceCount(), static_cast<size_t>(2 * iPairs));
	for (int i = 0; i < iPairs; i++)
		m_Dir.WriteFile("resources/lib" + std::to_string(i) + "/meta.xml", "<meta><script/></meta>");
	Scan();

	int iKept = 0;
	for (int i = 0; i < iPairs; i++)
	{
		const std::string User = "user" + std::to_string(i);
		CResource* pUser = Find(User.c_str());
		if (!pUser)
		{
			EXPECT_TRUE(Logged("Unable to find dependency lib" + std::to_string(i) + " for resource " + User + "!"));
			continue;
		}
		iKept++;
		ASSERT_EQ(pUser->GetDependencyCount(), 1u);
		EXPECT_EQ(pUser->GetDependency(0), nullptr);
		EXPECT_FALSE(pUser->Start());
		EXPECT_TRUE(Logged("START: Failed to start dependant resources for " + User + "!"));
	}
	EXPECT_GT(iKept, 0) << "no pair reloaded the dependant first";
}

TEST_F(ResourceMgrTest, ConsoleCommandsManageResources)
{
	WriteResource("r", {});
	WriteResource("other", {});
	Scan();
	struct tCase
	{
		const char* m_szLine;
		const char* m_szReply;
		eLogType m_eType;
		bool m_bStartedAfter;
	};
	const tCase rgCases[] = {
		{"stopall", "Stopped 0 resources", LOGTYPE_INFO, false},
		{"start", "No resource specified!", LOGTYPE_ERROR, false},
		{"start nope", "Unable to find the resource nope!", LOGTYPE_ERROR, false},
		{"stop R", "Failed to stop resource R", LOGTYPE_ERROR, false},
		{"restart r", "Failed to restart resource r", LOGTYPE_ERROR, false},
		{"start R", "Started resource R", LOGTYPE_INFO, true},
		{"start r", "Failed to start resource r", LOGTYPE_ERROR, true},
		{"restart r", "Restarted resource r", LOGTYPE_INFO, true},
		{"stop r", "Stopped resource r", LOGTYPE_INFO, false},
		{"restart", "No resource specified!", LOGTYPE_ERROR, false},
		{"stop nope", "Unable to find the resource nope!", LOGTYPE_ERROR, false},
	};
	for (const tCase& Case : rgCases)
	{
		SCOPED_TRACE(Case.m_szLine);
		EXPECT_EQ(Reply(Case.m_szLine), Case.m_szReply);
		EXPECT_EQ(m_Replies.LastType(), Case.m_eType);
		EXPECT_EQ(Find("r")->IsStarted(), Case.m_bStartedAfter);
	}
	EXPECT_EQ(m_pManager->m_Refreshed, std::vector<std::string>({"r", "r", "r"}));

	m_Dir.WriteFile("resources/pack.tar", CTarBuilder().File("meta.xml", "<meta/>").End().Bytes());
	Command("refresh");
	EXPECT_EQ(Reply("start pack"), "Started resource pack");
	Command("start r");
	Command("start other");
	m_pManager->m_Refreshed.clear();
	EXPECT_EQ(Reply("stopall"), "Stopped 3 resources");
	EXPECT_FALSE(Find("other")->IsStarted());
	EXPECT_FALSE(Find("pack")->IsStarted());
	std::vector<std::string> Refreshed = m_pManager->m_Refreshed;
	std::sort(Refreshed.begin(), Refreshed.end());
	EXPECT_EQ(Refreshed, std::vector<std::string>({"other", "pack", "r"}));
}

TEST_F(ResourceMgrTest, ConsoleCommandsCollectGarbageAndRefresh)
{
	Manager()->SetServer(true);
	WriteResource("r", {"fail"});
	Scan();
	const int iBefore = m_pLua->m_iCollections;
	EXPECT_EQ(Reply("start r"), "Failed to start resource r");
	EXPECT_EQ(m_pLua->m_iCollections, iBefore + 1);
	EXPECT_TRUE(m_pManager->m_Refreshed.empty());

	WriteResource("later", {});
	EXPECT_EQ(Reply("refresh"), "");
	EXPECT_NE(Find("later"), nullptr);
	EXPECT_TRUE(Logged("Found new resource later"));
}

TEST_F(ResourceMgrTest, ResourceCommandsAreForPrivilegedCallersOnly)
{
	WriteResource("r", {});
	Scan();
	EXPECT_FALSE(Manager()->GetCommandHandlers()->ConsoleCommandOnly("start r", nullptr, false));
	EXPECT_FALSE(Find("r")->IsStarted());
	EXPECT_FALSE(Manager()->RegisterResourceCommands()) << "the names are taken";
}

TEST_F(ResourceMgrTest, ClientInfoCountsStartedResources)
{
	WriteResource("a", {});
	WriteResource("b", {});
	Scan();
	ASSERT_TRUE(Find("b")->Start());
	Strong<CUnlimitedStream> pStream = Strong<CUnlimitedStream>::New(new CUnlimitedStream());
	ASSERT_TRUE(Manager()->WriteClientInfo(pStream));
	const std::string Bytes(reinterpret_cast<const char*>(pStream->GetData()), pStream->GetSize());
	EXPECT_EQ(Bytes, std::string("\1\0\0\0", 4) + "\1b" + std::string(8, '\0'));
}

TEST_F(ResourceMgrTest, DestructionStopsEveryResource)
{
	WriteResource("r", {});
	Scan();
	ASSERT_TRUE(Find("r")->Start());
	std::vector<std::string> Stopped;
	Call(nullptr, "addEventHandler", CArgs().S("OnResourceStop").Own(MakeFunction(nullptr, [&](const CArgumentArray& A) {
		Stopped.push_back(static_cast<CResource*>(A.GetAt(1)->ToObject())->GetName() +
			std::string(A.GetAt(2)->ToBoolean() ? " restart" : ""));
	})));
	Find("r")->Restart();
	Strong<CResource> pHeld(Find("r"));
	m_pManager.reset();
	EXPECT_EQ(Stopped, std::vector<std::string>({"r restart", "r"}));
	EXPECT_FALSE(pHeld->IsStarted());
	EXPECT_EQ(pHeld->GetOwner(), nullptr) << "a resource that outlives its manager forgets it";
}

TEST_F(ResourceMgrTest, ConstantsCoverKeysLogLevelsSeekAndColours)
{
	const std::vector<IntDefine>& Defines = Manager()->GetDefineHandlers()->GetDefines();
	EXPECT_EQ(Defines.size(), 523u);
	EXPECT_EQ(Defines.front().m_Name, "KEYSTATE_UP");
	EXPECT_EQ(Defines.back().m_Name, "COLOUR_ORANGE");
	auto Find = [&](const char* szName) -> const IntDefine* {
		for (const IntDefine& Define : Defines)
		{
			if (Define.m_Name == szName)
				return &Define;
		}
		return nullptr;
	};
	struct tCase
	{
		const char* m_szName;
		int64_t m_iValue;
	};
	const tCase rgCases[] = {
		{"KEYSTATE_BOTH", 2},
		{"SDL_SCANCODE_UNKNOWN", 0},
		{"SDL_SCANCODE_A", 4},
		{"SDL_SCANCODE_AUDIOFASTFORWARD", 286},
		{"SDL_NUM_SCANCODES", 512},
		{"SDLK_a", 'a'},
		{"SDLK_SLEEP", SDLK_SLEEP},
		{"KMOD_RESERVED", 32768},
		{"KMOD_GUI", 3072},
		{"SEEK_END", 2},
		{"LOGTYPE_CRITICAL", 6},
		{"COLOUR_WHITE", 0xFFFFFFFFll},
		{"COLOUR_SKYBLUE", 0xFF66CCFFll},
		{"COLOUR_TRANSPARENT", 0},
	};
	for (const tCase& Case : rgCases)
	{
		SCOPED_TRACE(Case.m_szName);
		const IntDefine* pDefine = Find(Case.m_szName);
		ASSERT_NE(pDefine, nullptr);
		EXPECT_EQ(pDefine->GetWideValue(), Case.m_iValue);
	}
	for (const char* szHidden : {"SDLK_APP1", "SDL_SCANCODE_SOFTLEFT", "KMOD_SCROLL"})
		EXPECT_EQ(Find(szHidden), nullptr) << szHidden;
	EXPECT_EQ(Scripting()->GetDefineHandlers(), Manager()->GetDefineHandlers());
}

TEST_F(ResourceMgrTest, TimersAdvanceThroughProcess)
{
	int iCalls = 0;
	Call(nullptr, "setTimeout", CArgs().Own(MakeFunction(nullptr, [&](const CArgumentArray&) { iCalls++; })).I(100));
	Manager()->Process(0.0625);
	EXPECT_EQ(iCalls, 0);
	Manager()->Process(0.0625);
	EXPECT_EQ(iCalls, 1);
}
