// The element and client script interface as scripts in every language see it: the classes "Element", "Client"
// and "NetObjectFlags" and the global functions. The server runs in the test's process so that tests can register
// elements (the test element stands in for the game's element classes) and join clients over the loopback, with
// and without the network thread.

#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "InProcessServer.h"
#include "ScriptNotation.h"
#include "ScriptProbe.h"
#include "ServerManager.h"
#include "Support/ScriptHostFixture.h"
#include "Support/TestElement.h"
#include "Support/Transport.h"

using namespace ServerTest;
using namespace VexaTest;

namespace
{
constexpr uint32_t ENTITY_TYPE = 4;
constexpr uint32_t PLAYER_TYPE = 94;
constexpr uint32_t MSG_ELEMENT_NAME = 19;
constexpr uint32_t MSG_ELEMENT_DATA = 23;
constexpr uint32_t MSG_ELEMENT_DIMENSION = 30;
constexpr uint32_t MSG_CLIENT_FLAGS = 36;

// One piece of code and what it gives, in the order Lua, JavaScript, Squirrel. A null code or result is the same
// as Lua's. In the code "::" calls a method (":" in Lua, "." elsewhere) and $name stands for the network id of the
// element of that name; in the result $name does too.
struct tCase
{
	const char* m_szCode[PROBE_LANGUAGE_COUNT];
	const char* m_szExpected[PROBE_LANGUAGE_COUNT];
};

class NetObjectScripts : public ::testing::TestWithParam<bool>
{
protected:
	void SetUp() override
	{
		m_pServer = std::make_unique<CInProcessServer>(ResourceList({"probe"}), GetParam());
		WriteResource(*m_pServer, "probe", ProbeScripts());
		ASSERT_TRUE(m_pServer->Start());
		m_pLog = std::make_unique<CCapturedLog>(m_pServer->GetServer().GetContext());
	}

	CServerManager* Manager() { return m_pServer->GetServer().GetManager(); }

	// A registered element with a position; the manager holds it.
	CTestElement* AddElement(const char* szName, uint32_t uiType, const CVector3D& vecPosition)
	{
		Strong<CTestElement> pElement = Strong<CTestElement>::New(new CTestElement(Manager(), uiType));
		pElement->m_vecPosition = vecPosition;
		Register(pElement, szName);
		return pElement;
	}

	// A registered element of the bare replicated kind: no position and no rotation.
	CNetObject* AddBareElement(const char* szName)
	{
		Strong<CNetObject> pElement = Strong<CNetObject>::New(new CNetObject(Manager()));
		Register(pElement, szName);
		return pElement;
	}

	// Destroys every element the test made, so that each language starts from the same world.
	void DestroyElements()
	{
		for (const auto& Entry : m_Ids)
		{
			if (CNetObject* pElement = Manager()->FromId(Entry.second, 0))
				Manager()->DestroyObject(pElement, true, false);
		}
		m_Ids.clear();
	}

	std::string Expand(std::string Text) const
	{
		// Longer names first, so that $ab is not taken for $a followed by b.
		for (auto it = m_Ids.rbegin(); it != m_Ids.rend(); ++it)
			ReplaceAll(Text, "$" + it->first, std::to_string(it->second));
		return Text;
	}

	// Runs the code in the language and gives what it printed.
	std::string Probe(size_t Language, const std::string& Code)
	{
		m_pServer->GetServer().ConsoleCommand(("/" + ProbeLine(Language, Code)).c_str());
		return ProbeResult(m_pLog->Lines(), Language, Code);
	}

	// Every case in order in one language, after Prepare has made that language's world.
	template <class TPrepare>
	void RunCases(const std::vector<tCase>& Cases, TPrepare Prepare)
	{
		for (size_t Language = 0; Language < PROBE_LANGUAGE_COUNT; Language++)
		{
			DestroyElements();
			Prepare();
			for (const tCase& Case : Cases)
			{
				const char* szCode = Case.m_szCode[Language] ? Case.m_szCode[Language] : Case.m_szCode[0];
				const char* szExpected =
					Case.m_szExpected[Language] ? Case.m_szExpected[Language] : Case.m_szExpected[0];
				std::string Code = szCode;
				ReplaceAll(Code, "::", Language == PROBE_LUA ? ":" : ".");
				Code = Expand(Code);
				EXPECT_EQ(Probe(Language, Code), Expand(szExpected))
					<< g_ProbeLanguages[Language].m_szCommand << ": " << Code;
			}
		}
	}

	// Joins a game client named Name.
	void Join(CGameClient& Client, const std::string& Name)
	{
		m_pServer->Attach(Client);
		tJoinRequest Request;
		Request.m_Name = Name;
		ASSERT_TRUE(Client.Join(m_pServer->GetPort(), Request));
	}

	// Lets the element reach clients without a player (which see no dimension) and waits until the client has it.
	void WaitUntilCreated(CGameClient& Client, const char* szName)
	{
		CNetObject* pElement = Manager()->FromId(m_Ids[szName], 0);
		ASSERT_NE(pElement, nullptr);
		pElement->SetNetFlag(NETFLAG_ON_ALL_DIMENSIONS, true);
		ASSERT_TRUE(Client.WaitForElement(pElement->GetId(), true)) << szName;
	}

	std::unique_ptr<CInProcessServer> m_pServer;
	std::unique_ptr<CCapturedLog> m_pLog;
	std::map<std::string, int32_t> m_Ids;

private:
	void Register(CNetObject* pElement, const char* szName)
	{
		pElement->SetName(szName);
		ASSERT_TRUE(Manager()->RegisterNetObject(pElement));
		m_Ids[szName] = pElement->GetId();
	}
};

// The body of a message that changes one element, after its count of 1 and the element's id; empty when the
// message is about another element.
std::vector<uint8_t> ElementMessageBody(const tReceivedMessage& Message, int32_t iId)
{
	CTestMessageReader Reader(Message.m_Body);
	uint16_t usCount = 0;
	int32_t iMessageId = -1;
	if (!Reader.U16(usCount) || usCount != 1 || !Reader.I32(iMessageId) || iMessageId != iId)
		return {};
	return std::vector<uint8_t>(Message.m_Body.begin() + 6, Message.m_Body.end());
}
}

TEST_P(NetObjectScripts, GlobalFunctionsFindElementsAndClients)
{
	CGameClient Client;
	const std::vector<tCase> Cases = {
		{{"getElementFromName(\"a\")"}, {"Element $a"}},
		// Names match exactly.
		{{"getElementFromName(\"A\")"}, {"null"}},
		{{"getElementFromId($b)"}, {"Element $b"}},
		{{"getElementFromId(-1)"}, {"null"}},
		// A number beyond 32 bits does not wrap onto a valid id.
		{{"getElementFromId(4294967296 + $a)"}, {"null"}},
		{{"getElementsByType(0)"}, {"[Element $a, Element $b, Element $bare, Element $p]"}},
		{{"getElementsByType(94)"}, {"[Element $p]"}},
		{{"getElementsByType(6)"}, {"[Element $p]"}},
		{{"getConsole()"}, {"Client 255"}},
		{{"getConsole().name"}, {"'Console'"}},
		{{"getConsole().console"}, {"true"}},
		// The console and empty slots are no clients of the game; index 0 is the joined client.
		{{"getClients()"}, {"[Client 0]"}},
		{{"getClient(0)"}, {"Client 0"}},
		{{"getClient(5)"}, {"null"}},
		{{"getClient(255)"}, {"null"}},
		{{"getClient(256)"}, {"error: index out of bounds"}},
		{{"getClient(-1)"}, {"error: index out of bounds"}},
		{{"getClient(4294967296)"}, {"error: index out of bounds"}},
		{{"localClient"}, {"null"}},
		{{"localPlayer"}, {"null"}},
		{{"getClientFromPlayerElement(E(\"p\"))"}, {"null"}},
		{{"getClient(0).player = E(\"p\")"}, {"null", "Element $p", "Element $p"}},
		// The player element takes the client's name.
		{{"getClientFromPlayerElement(getElementFromId($p))"}, {"Client 0"}},
		{{"getElementFromId($p).name"}, {"'Player'"}},
		{{"getClient(0).player"}, {"Element $p"}},
		{{"getClientFromPlayerElement(E(\"a\"))"}, {"null"}},
		{{"getClient(0).player = null"}, {"null"}},
		{{"registerNetObject(E(\"a\"))"}, {"true"}},
		{{"addToWorld(E(\"a\"))"}, {"true"}},
		{{"destroyElement(null)"}, {"error: Expected Element for argument 1"}},
		{{"destroyElement(getConsole())"}, {"error: Expected Element for argument 1"}},
		// Destruction happens once; the script's own reference still names the element afterwards.
		{{"(function() local e = E(\"b\") return {destroyElement(e), destroyElement(e)} end)()",
			 "(function() { var e = E(\"b\"); return [destroyElement(e), destroyElement(e)]; })()",
			 "(function() { local e = E(\"b\"); return [destroyElement(e), destroyElement(e)]; })()"},
			{"[true, false]"}},
		{{"getElementFromId($b)"}, {"null"}},
		{{"getElementsByType(0)"}, {"[Element $a, Element $bare, Element $p]"}},
	};
	bool bJoined = false;
	RunCases(Cases, [&] {
		AddElement("a", ENTITY_TYPE, CVector3D(1, 2, 3));
		AddElement("b", ENTITY_TYPE, CVector3D(0, 0, 0));
		AddBareElement("bare");
		AddElement("p", PLAYER_TYPE, CVector3D(0, 0, 0));
		if (!bJoined)
			Join(Client, "Player");
		bJoined = true;
	});
}

TEST_P(NetObjectScripts, ClientStillJoiningIsNotListed)
{
	CGameClient Client;
	m_pServer->Attach(Client);
	ASSERT_TRUE(Client.Connect(m_pServer->GetPort()));
	ASSERT_TRUE(Client.SendJoinRequest(tJoinRequest()));
	std::vector<std::string> Paths;
	ASSERT_TRUE(Client.WaitForFileCheckRequest(Paths));
	ASSERT_NE(m_pServer->GetServer().GetClients().GetMachine(0), nullptr);
	for (size_t Language = 0; Language < PROBE_LANGUAGE_COUNT; Language++)
	{
		EXPECT_EQ(Probe(Language, "getClient(0)"), "null");
		EXPECT_EQ(Probe(Language, "getClients()"), "[]");
	}
}

TEST_P(NetObjectScripts, ElementPropertiesAndMethods)
{
	const std::vector<tCase> Cases = {
		{{"E(\"a\").id"}, {"$a"}},
		{{"E(\"a\").type"}, {"4"}},
		{{"E(\"a\").isLocal"}, {"false"}},
		// The server syncs and owns every element.
		{{"E(\"a\").isSyncer"}, {"true"}},
		{{"E(\"a\").isOwner"}, {"true"}},
		{{"E(\"a\")::isType(4)"}, {"true"}},
		{{"E(\"a\")::isType(0)"}, {"true"}},
		{{"E(\"a\")::isType(6)"}, {"false"}},
		{{"E(\"a\").name"}, {"'a'"}},
		{{"getElementFromId($unnamed).name"}, {"null"}},
		{{"E(\"a\").name = \"renamed\""}, {"null", "'renamed'", "'renamed'"}},
		{{"getElementFromId($a).name"}, {"'renamed'"}},
		{{"getElementFromName(\"a\")"}, {"null"}},
		{{"getElementFromId($a).name = null"}, {"null"}},
		{{"getElementFromId($a).name"}, {"null"}},
		{{"getElementFromName(\"renamed\")"}, {"null"}},
		{{"getElementFromId($a).name = 5"}, {"error: Expected string for argument 1"}},
		{{"E(\"b\").position"}, {"Vec3(1, 2, 3)"}},
		{{"E(\"b\").position = Vec3(4, 5.5, -6)", "E(\"b\").position = new Vec3(4, 5.5, -6)"},
			{"null", "Vec3(4, 5.5, -6)", "Vec3(4, 5.5, -6)"}},
		{{"E(\"b\").position"}, {"Vec3(4, 5.5, -6)"}},
		// Three numbers serve as a vector.
		{{"E(\"b\").position = {7, 8, 9}", "E(\"b\").position = [7, 8, 9]", "E(\"b\").position = [7, 8, 9]"},
			{"null", "[7, 8, 9]", "[7, 8, 9]"}},
		{{"E(\"b\").position"}, {"Vec3(7, 8, 9)"}},
		{{"E(\"b\").position = 5"}, {"error: Expected Vector3D for argument 1"}},
		{{"E(\"bare\").position"}, {"error: Unable to get position"}},
		{{"E(\"bare\").position = E(\"b\").position"}, {"error: Unable to set position"}},
		{{"E(\"bare\").rotation"}, {"error: Unable to get rotation"}},
		{{"E(\"bare\").rotation = E(\"b\").position"}, {"error: Unable to set the rotation"}},
		{{"E(\"bare\")::getRotation()"}, {"error: Unable to get rotation"}},
		{{"E(\"bare\")::setRotation(E(\"b\").position)"}, {"error: Unable to set the rotation"}},
		{{"E(\"b\").dimension"}, {"0"}},
		{{"E(\"b\").dimension = 3"}, {"null", "3", "3"}},
		{{"E(\"b\").dimension"}, {"3"}},
		{{"E(\"b\").streamInDistance = 12.5"}, {"null", "12.5", "12.5"}},
		{{"E(\"b\").streamInDistance"}, {"12.5"}},
		{{"E(\"b\").streamOutDistance = 250"}, {"null", "250", "250"}},
		{{"E(\"b\").streamOutDistance"}, {"250"}},
		{{"E(\"b\").children"}, {"[]"}},
		{{"E(\"b\").parent"}, {"null"}},
		{{"E(\"bare\").parent = E(\"b\")"}, {"null", "Element $b", "Element $b"}},
		{{"E(\"bare\").parent"}, {"Element $b"}},
		{{"E(\"b\").children"}, {"[Element $bare]"}},
		{{"E(\"bare\").parent = getConsole()"}, {"error: Expected Element for argument 1"}},
		{{"E(\"bare\").parent = null"}, {"null"}},
		{{"E(\"b\").children"}, {"[]"}},
		{{"E(\"b\").resource"}, {"null"}},
		{{"E(\"b\").resource = thisResource"}, {"null", "Resource probe", "Resource probe"}},
		{{"E(\"b\").resource"}, {"Resource probe"}},
		{{"E(\"b\").resource = getConsole()"}, {"error: Expected Resource for argument 1"}},
		{{"E(\"b\").resource = null"}, {"null"}},
		{{"E(\"b\").resource"}, {"null"}},
		{{"E(\"b\").id = 5"}, {"error: property 'id' readonly", "error: setting getter-only property \"id\"",
								  "error: the index 'id' does not exist"}},
	};
	RunCases(Cases, [&] {
		AddElement("a", ENTITY_TYPE, CVector3D(0, 0, 0));
		AddElement("b", ENTITY_TYPE, CVector3D(1, 2, 3));
		AddBareElement("bare");
		Strong<CNetObject> pUnnamed = Strong<CNetObject>::New(new CNetObject(Manager()));
		ASSERT_TRUE(Manager()->RegisterNetObject(pUnnamed));
		m_Ids["unnamed"] = pUnnamed->GetId();
	});
}

TEST_P(NetObjectScripts, ElementDataIsStoredAndRemoved)
{
	const std::vector<tCase> Cases = {
		{{"E(\"a\")::getData(\"k\")"}, {"null", "undefined", "null"}},
		{{"E(\"a\")::setData(\"k\", 5)"}, {"null", "undefined", "null"}},
		{{"E(\"a\")::getData(\"k\")"}, {"5"}},
		{{"E(\"a\")::setData(\"k\", \"five\", false)"}, {"null", "undefined", "null"}},
		{{"E(\"a\")::getData(\"k\")"}, {"'five'"}},
		{{"E(\"a\")::setData(\"k\", getConsole())"}, {"error: data is not storable"}},
		{{"E(\"a\")::getData(\"k\")"}, {"'five'"}},
		{{"E(\"a\")::setData(\"k\")"}, {"error: Expected value for argument 2"}},
		{{"E(\"a\")::setData(\"k\", 1, 2)"}, {"error: Expected boolean for argument 3"}},
		{{"E(\"a\")::removeData(\"k\")"}, {"null", "undefined", "null"}},
		{{"E(\"a\")::getData(\"k\")"}, {"null", "undefined", "null"}},
		{{"E(\"a\")::setData(\"x\", 1)"}, {"null", "undefined", "null"}},
		{{"E(\"a\")::setData(\"y\", 2)"}, {"null", "undefined", "null"}},
		{{"E(\"a\")::removeAllData()"}, {"null", "undefined", "null"}},
		{{"E(\"a\")::getData(\"y\")"}, {"null", "undefined", "null"}},
		// A nil value removes the key.
		{{"E(\"a\")::setData(\"z\", 3)"}, {"null", "undefined", "null"}},
		{{"E(\"a\")::setData(\"z\", null)"}, {"null", "undefined", "null"}},
		{{"E(\"a\")::getData(\"z\")"}, {"null", "undefined", "null"}},
	};
	RunCases(Cases, [&] { AddElement("a", ENTITY_TYPE, CVector3D(0, 0, 0)); });
}

TEST_P(NetObjectScripts, ReceiversAreChecked)
{
	const std::vector<tCase> Cases = {
		{{"Element.isType(5, 4)", "Element.prototype.isType.call(5, 4)", "Element.isType.call(5, 4)"},
			{"error: 'this' is null",
				"error: 'isType' called on an object that does not implement interface Referenceable.",
				"error: 'this' is null"}},
		{{"Element.isType(Vec3(), 4)", "Element.prototype.isType.call(new Vec3(), 4)",
			 "Element.isType.call(Vec3(), 4)"},
			{"error: Element expected for 'this'"}},
		{{"Element.isType(getConsole(), 4)", "Element.prototype.isType.call(getConsole(), 4)",
			 "Element.isType.call(getConsole(), 4)"},
			{"error: Element expected for 'this'"}},
		{{"Client.disconnect(E(\"a\"))", "Client.prototype.disconnect.call(E(\"a\"))",
			 "Client.disconnect.call(E(\"a\"))"},
			{"error: Client expected for 'this'"}},
	};
	RunCases(Cases, [&] { AddElement("a", ENTITY_TYPE, CVector3D(0, 0, 0)); });
	// Only JavaScript hands out a property's getter on its own.
	EXPECT_EQ(Probe(PROBE_JS,
				  Expand("Object.getOwnPropertyDescriptor(NetObjectFlags.prototype, \"networked\").get.call(E(\"a\"))")),
		"error: NetObjectFlags expected for 'this'");
}

TEST_P(NetObjectScripts, NetFlagsReadAndWriteTheElementsFlags)
{
	const std::vector<tCase> Cases = {
		{{"E(\"a\").netFlags"}, {"NetObjectFlags"}},
		{{"E(\"a\").netFlags.registered"}, {"true"}},
		{{"E(\"a\").netFlags.deleting"}, {"false"}},
		{{"E(\"a\").netFlags.networked"}, {"true"}},
		{{"E(\"a\").netFlags.findSyncer"}, {"true"}},
		{{"E(\"a\").netFlags.sendSync"}, {"true"}},
		{{"E(\"a\").netFlags.defaultExistance"}, {"true"}},
		{{"E(\"a\").netFlags.onAllDimensions"}, {"false"}},
		{{"E(\"a\").netFlags.forcedSyncer"}, {"false"}},
		{{"E(\"a\").netFlags.distanceStreaming"}, {"false"}},
		{{"E(\"a\").netFlags.alwaysExistForSyncer"}, {"false"}},
		{{"E(\"a\").netFlags.transient"}, {"false"}},
		{{"E(\"a\").netFlags.onlySyncIfDetached"}, {"false"}},
		// Each read makes a new object; all of them act on the same element.
		{{"(function() local f, g = E(\"a\").netFlags, E(\"a\").netFlags f.transient = true return {f == g, g.transient} end)()",
			 "(function() { var f = E(\"a\").netFlags, g = E(\"a\").netFlags; f.transient = true; return [f === g, g.transient]; })()",
			 "(function() { local f = E(\"a\").netFlags, g = E(\"a\").netFlags; f.transient = true; return [f == g, g.transient]; })()"},
			{"[false, true]"}},
		{{"E(\"a\").netFlags.onAllDimensions = true"}, {"null", "true", "true"}},
		{{"E(\"a\").netFlags.onAllDimensions"}, {"true"}},
		{{"E(\"a\").netFlags.networked = 1"}, {"error: Expected boolean for argument 1"}},
		{{"E(\"a\").netFlags.registered = false"},
			{"error: property 'registered' readonly", "error: setting getter-only property \"registered\"",
				"error: the index 'registered' does not exist"}},
		{{"E(\"a\").netFlags.deleting = true"},
			{"error: property 'deleting' readonly", "error: setting getter-only property \"deleting\"",
				"error: the index 'deleting' does not exist"}},
		// Flags outlive their element without keeping it: once it is gone they fail.
		{{"(function() local f = E(\"gone\").netFlags destroyElement(E(\"gone\")) return f.networked end)()",
			 "(function() { var f = E(\"gone\").netFlags; destroyElement(E(\"gone\")); return f.networked; })()",
			 "(function() { local f = E(\"gone\").netFlags; destroyElement(E(\"gone\")); return f.networked; })()"},
			{"error: The element of these flags no longer exists"}},
	};
	RunCases(Cases, [&] {
		AddElement("a", ENTITY_TYPE, CVector3D(0, 0, 0));
		AddElement("gone", ENTITY_TYPE, CVector3D(0, 0, 0));
	});
}

TEST_P(NetObjectScripts, SyncerAndExistenceFollowTheClients)
{
	CGameClient First, Second;
	bool bJoined = false;
	const std::vector<tCase> Cases = {
		// Created for both; the lower slot became the syncer.
		{{"E(\"a\").syncer"}, {"Client 0"}},
		{{"E(\"a\").syncerId"}, {"0"}},
		{{"E(\"a\")::isCreatedFor(getClient(1))"}, {"true"}},
		{{"E(\"a\").syncer = 1"}, {"null", "1", "1"}},
		{{"E(\"a\").syncer"}, {"Client 1"}},
		// A number names a slot; an empty one leaves the element without a syncer.
		{{"E(\"a\").syncer = 3"}, {"null", "3", "3"}},
		{{"E(\"a\").syncer"}, {"null"}},
		{{"E(\"a\").syncerId"}, {"-1"}},
		{{"E(\"a\").syncerId = 0"}, {"null", "0", "0"}},
		{{"E(\"a\").syncer"}, {"Client 0"}},
		{{"E(\"a\").syncer = getClient(1)"}, {"null", "Client 1", "Client 1"}},
		{{"E(\"a\").syncerId"}, {"1"}},
		{{"E(\"a\").syncer = null"}, {"null"}},
		{{"E(\"a\").syncerId"}, {"-1"}},
		{{"E(\"a\").syncer = E(\"a\")"}, {"error: Expected Client for argument 1"}},
		// A forced syncer stays until it is replaced through setSyncer.
		{{"E(\"a\")::setSyncer(getClient(0), true)"}, {"null", "undefined", "null"}},
		{{"E(\"a\").netFlags.forcedSyncer"}, {"true"}},
		{{"E(\"a\").syncer = getClient(1)"}, {"null", "Client 1", "Client 1"}},
		{{"E(\"a\").syncer"}, {"Client 0"}},
		{{"E(\"a\").syncerId = 1"}, {"null", "1", "1"}},
		{{"E(\"a\").syncer"}, {"Client 0"}},
		{{"E(\"a\")::setSyncer(getClient(1))"}, {"null", "undefined", "null"}},
		{{"E(\"a\").syncer"}, {"Client 1"}},
		{{"E(\"a\").netFlags.forcedSyncer"}, {"false"}},
		{{"E(\"a\")::setSyncer(null)"}, {"null", "undefined", "null"}},
		{{"E(\"a\").syncer"}, {"null"}},
		{{"E(\"a\")::setSyncer(5)"}, {"error: Expected Client for argument 1"}},
		{{"E(\"a\")::existsFor(getClient(1))"}, {"true"}},
		{{"E(\"a\")::setExistsFor(getClient(1), false)"}, {"null", "undefined", "null"}},
		{{"E(\"a\")::existsFor(getClient(1))"}, {"false"}},
		{{"E(\"a\")::existsFor(getClient(0))"}, {"true"}},
		{{"E(\"a\")::clearExistsFor()"}, {"null", "undefined", "null"}},
		{{"E(\"a\")::existsFor(getClient(1))"}, {"true"}},
		{{"E(\"a\")::existsFor(null)"}, {"error: Expected Client for argument 1"}},
		{{"E(\"a\")::setExistsFor(getClient(1))"}, {"error: Expected boolean for argument 2"}},
	};
	RunCases(Cases, [&] {
		AddElement("a", ENTITY_TYPE, CVector3D(0, 0, 0));
		if (!bJoined)
		{
			Join(First, "First");
			Join(Second, "Second");
			bJoined = true;
		}
		WaitUntilCreated(First, "a");
		WaitUntilCreated(Second, "a");
		CNetObject* pElement = Manager()->FromId(m_Ids["a"], 0);
		ASSERT_TRUE(m_pServer->PassUntil([&] { return pElement->GetSyncer() != nullptr; }));
	});
}

TEST_P(NetObjectScripts, ClientPropertiesAndData)
{
	CGameClient Client;
	bool bJoined = false;
	const std::vector<tCase> Cases = {
		{{"getClient(0).index"}, {"0"}},
		{{"getClient(0).name"}, {"'Player'"}},
		{{"getClient(0).game"}, {"1"}},
		{{"getClient(0).gameVersion"}, {"0"}},
		{{"getClient(0).console"}, {"false"}},
		{{"getClient(0).administrator"}, {"false"}},
		{{"getClient(0).ip"}, {"'127.0.0.1'"}},
		{{"getClient(0).ping >= 0"}, {"true"}},
		{{"getConsole().ping"}, {"0"}},
		{{"getClient(0).name = \"x\""}, {"error: property 'name' readonly", "error: setting getter-only property \"name\"",
											"error: the index 'name' does not exist"}},
		{{"getClient(0).administrator = 1"}, {"error: Expected boolean for argument 1"}},
		{{"getClient(0)::getData(\"k\")"}, {"null", "undefined", "null"}},
		{{"getClient(0)::setData(\"k\", 7)"}, {"null", "undefined", "null"}},
		{{"getClient(0)::getData(\"k\")"}, {"7"}},
		{{"getClient(0)::setData(\"k\", getConsole())"}, {"error: data is not storable"}},
		{{"getClient(0)::removeData(\"k\")"}, {"null", "undefined", "null"}},
		{{"getClient(0)::getData(\"k\")"}, {"null", "undefined", "null"}},
		{{"getClient(0)::setData(\"k\", 8, false)"}, {"null", "undefined", "null"}},
		{{"getClient(0)::removeAllData()"}, {"null", "undefined", "null"}},
		{{"getClient(0)::getData(\"k\")"}, {"null", "undefined", "null"}},
		{{"getClient(0).player = E(\"p\")"}, {"null", "Element $p", "Element $p"}},
		{{"getClient(0).player"}, {"Element $p"}},
		{{"getClient(0).player = getConsole()"}, {"error: Expected Element for argument 1"}},
		{{"getConsole()::disconnect()"}, {"error: Cannot disconnect the console"}},
		// The player element goes with despawnPlayer.
		{{"getClient(0)::despawnPlayer()"}, {"null", "undefined", "null"}},
		{{"getClient(0).player"}, {"null"}},
		{{"getElementFromId($p)"}, {"null"}},
	};
	RunCases(Cases, [&] {
		AddElement("p", PLAYER_TYPE, CVector3D(0, 0, 0));
		if (!bJoined)
			Join(Client, "Player");
		bJoined = true;
	});
}

TEST_P(NetObjectScripts, ChangesReachTheClientsThatHaveTheElement)
{
	const int32_t iId = AddElement("a", ENTITY_TYPE, CVector3D(0, 0, 0))->GetId();
	CGameClient Client;
	Join(Client, "Player");
	WaitUntilCreated(Client, "a");
	Client.TakeAll();

	// Data stored without sync sends nothing: the first data message is the synced one.
	Probe(PROBE_LUA, "E(\"a\"):setData(\"quiet\", 1, false)");
	Probe(PROBE_LUA, "E(\"a\"):setData(\"loud\", 2)");
	tReceivedMessage Message;
	ASSERT_TRUE(Client.WaitForMessage(MSG_ELEMENT_DATA, Message));
	EXPECT_EQ(ElementMessageBody(Message, iId), CTestMessage().U16(1).String("loud").U8(4).I32(2).GetBytes());

	Probe(PROBE_JS, "E(\"a\").name = \"b\"");
	ASSERT_TRUE(Client.WaitForMessage(MSG_ELEMENT_NAME, Message));
	EXPECT_EQ(ElementMessageBody(Message, iId), CTestMessage().String("b").GetBytes());
	Probe(PROBE_SQUIRREL, "E(\"b\").dimension = 7");
	ASSERT_TRUE(Client.WaitForMessage(MSG_ELEMENT_DIMENSION, Message));
	EXPECT_EQ(ElementMessageBody(Message, iId), CTestMessage().I32(7).GetBytes());

	// An administrator flag set to what it already is sends nothing.
	Probe(PROBE_LUA, "getClient(0).administrator = true");
	Probe(PROBE_JS, "getClient(0).administrator = true");
	Probe(PROBE_SQUIRREL, "getClient(0).administrator = false");
	std::vector<uint8_t> Flags;
	while (Flags.size() < 2 && Client.WaitForMessage(MSG_CLIENT_FLAGS, Message))
	{
		CTestMessageReader Reader(Message.m_Body);
		uint16_t usCount = 0;
		int32_t iIndex = -1;
		uint8_t ucFlags = 0;
		ASSERT_TRUE(Reader.U16(usCount) && Reader.I32(iIndex) && Reader.U8(ucFlags));
		EXPECT_EQ(iIndex, Client.GetIndex());
		Flags.push_back(ucFlags);
	}
	EXPECT_EQ(Flags, (std::vector<uint8_t>{1, 0}));
	Client.Service(50);
	EXPECT_FALSE(Client.WaitForMessage(MSG_CLIENT_FLAGS, Message, 100));
}

TEST_P(NetObjectScripts, ScriptDisconnectsAClientWithReasonThirteen)
{
	CGameClient Client;
	Join(Client, "Player");
	EXPECT_EQ(Probe(PROBE_SQUIRREL, "getClient(0).disconnect()"), "true");
	ASSERT_TRUE(Client.WaitForDisconnect());
	EXPECT_EQ(Client.GetDisconnectReason(), 13u);
	EXPECT_TRUE(m_pServer->PassUntil([&] { return m_pServer->GetServer().GetClients().GetMachine(0) == nullptr; }));
	EXPECT_EQ(Probe(PROBE_LUA, "getClient(0)"), "null");
}

TEST_P(NetObjectScripts, NetworkEventArgumentsNameElements)
{
	const int32_t iId = AddElement("a", ENTITY_TYPE, CVector3D(0, 0, 0))->GetId();
	CGameClient Client;
	Join(Client, "Player");
	ASSERT_EQ(Probe(PROBE_LUA, "addNetworkHandler(\"pick\", function(client, e, unknown) got = {client, e, unknown == nil} end)"),
		"true");
	// An element travels as its network id; one the server does not know arrives as null.
	CTestMessage Message(11);
	Message.String("pick").U8(2).U8(6).I32(iId).U8(6).I32(999999);
	ASSERT_TRUE(Client.Send(Message));
	ASSERT_TRUE(m_pServer->PassUntil([&] { return Probe(PROBE_LUA, "got") != "null"; }));
	EXPECT_EQ(Probe(PROBE_LUA, "got"), Expand("[Client 0, Element $a, true]"));
}

INSTANTIATE_TEST_SUITE_P(Transport, NetObjectScripts, ::testing::Bool(), DescribeTransport);
