// Black-box tests of the documentation dump in the real server: the start-up option and the console command write
// four files beside the executable that a strict XML parser reads, holding what the server and its scripts
// registered; a folder that cannot be written is reported file by file.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include <tinyxml.h>

#include "ResourceTestSupport.h"

using namespace ServerTest;

namespace
{
const char* const FILES[] = {"Defines.xml", "EventTypes.xml", "Commands.xml", "Documentation.xml"};

// A resource whose script registers an event type and a command of its own before the dump.
void WriteRegisteringResource(CServerProcess& Server)
{
	WriteResource(Server, "registers",
		{{"main.lua", "lua",
			"addEvent('OnScriptMade', 3)\n"
			"addCommandHandler('scriptcommand', function() end)\n"}});
}

std::string PathOf(const CServerProcess& Server, const char* szFile)
{
	return Server.GetFolder() + "/Documentation/" + szFile;
}

// Python's parser refuses anything that is not well-formed XML, which TinyXML's own reader would let pass.
bool ParsesStrictly(const CServerProcess& Server)
{
	std::string Command = "python3 -c 'import sys, xml.etree.ElementTree as E; [E.parse(p) for p in sys.argv[1:]]'";
	for (const char* szFile : FILES)
		Command += " '" + PathOf(Server, szFile) + "'";
	return std::system(Command.c_str()) == 0;
}

const TiXmlElement* Named(const TiXmlElement* pParent, const char* szTag, const char* szName)
{
	for (const TiXmlElement* pChild = pParent ? pParent->FirstChildElement(szTag) : nullptr; pChild;
		 pChild = pChild->NextSiblingElement(szTag))
	{
		const char* szChildName = pChild->Attribute("Name");
		if (szChildName && strcmp(szChildName, szName) == 0)
			return pChild;
	}
	return nullptr;
}

std::string AttributeOf(const TiXmlElement* pElement, const char* szName)
{
	const char* szValue = pElement ? pElement->Attribute(szName) : nullptr;
	return szValue ? szValue : "<absent>";
}

// The known entries of each file, as the server and the resource above register them.
void ExpectTheInterface(const CServerProcess& Server)
{
	ASSERT_TRUE(ParsesStrictly(Server));
	TiXmlDocument Defines, EventTypes, Commands, Interface;
	ASSERT_TRUE(Defines.LoadFile(PathOf(Server, "Defines.xml").c_str()));
	ASSERT_TRUE(EventTypes.LoadFile(PathOf(Server, "EventTypes.xml").c_str()));
	ASSERT_TRUE(Commands.LoadFile(PathOf(Server, "Commands.xml").c_str()));
	ASSERT_TRUE(Interface.LoadFile(PathOf(Server, "Documentation.xml").c_str()));

	EXPECT_EQ(AttributeOf(Named(Defines.RootElement(), "Define", "COLOUR_BLACK"), "Value"), "4278190080");
	EXPECT_EQ(AttributeOf(Named(Defines.RootElement(), "Define", "LOGTYPE_WARN"), "Value"), "4");

	EXPECT_EQ(AttributeOf(Named(EventTypes.RootElement(), "EventType", "OnResourceStop"), "Arguments"), "2");
	const TiXmlElement* pScriptMade = Named(EventTypes.RootElement(), "EventType", "OnScriptMade");
	EXPECT_EQ(AttributeOf(pScriptMade, "Arguments"), "3");
	EXPECT_EQ(AttributeOf(pScriptMade, "CanPreventDefault"), "true");

	for (const char* szCommand : {"say", "quit", "start", "refresh", "dumpdoc", "scriptcommand"})
		EXPECT_NE(Named(Commands.RootElement(), "Command", szCommand), nullptr) << szCommand;

	const TiXmlElement* pGlobal = Named(Interface.RootElement(), "Namespace", "global");
	ASSERT_NE(pGlobal, nullptr);
	EXPECT_EQ(AttributeOf(Named(pGlobal, "Function", "addEvent"), "RequiredArguments"), "1");
	EXPECT_NE(Named(Named(pGlobal, "Class", "Event"), "Class", "CancellableEvent"), nullptr);
	const TiXmlElement* pElement = Named(pGlobal, "Class", "XmlElement");
	EXPECT_EQ(AttributeOf(Named(pElement, "Property", "childrenCount"), "Type"), "Object");
	EXPECT_EQ(AttributeOf(Named(pElement, "Function", "getBoolAttribute"), "Mask"), "ts");
	EXPECT_EQ(AttributeOf(Named(Named(pGlobal, "Class", "XmlDocument"), "Function", "load"), "RequiredArguments"), "1");
}
}

namespace
{
// The members of a namespace or class element as "name type" for properties ("ro" when read-only) and
// "name(mask)" for functions, each marked "obsolete" when it is, in the order the file lists them.
std::vector<std::string> MembersOf(const TiXmlElement* pParent)
{
	std::vector<std::string> Members;
	for (const TiXmlElement* pChild = pParent ? pParent->FirstChildElement() : nullptr; pChild;
		 pChild = pChild->NextSiblingElement())
	{
		std::string Member;
		if (strcmp(pChild->Value(), "Property") == 0)
			Member = AttributeOf(pChild, "Name") + " " + AttributeOf(pChild, "Type") +
				(AttributeOf(pChild, "ReadOnly") == "true" ? " ro" : "");
		else if (strcmp(pChild->Value(), "Function") == 0)
			Member = AttributeOf(pChild, "Name") + "(" + AttributeOf(pChild, "Mask") + ")";
		else
			continue;
		Members.push_back(Member + (AttributeOf(pChild, "Obsolete") == "true" ? " obsolete" : ""));
	}
	return Members;
}

// The members from the first one that starts with the text on.
std::vector<std::string> From(const std::vector<std::string>& Members, const std::string& First)
{
	auto it = std::find_if(Members.begin(), Members.end(),
		[&](const std::string& Member) { return Member.compare(0, First.size(), First) == 0; });
	return std::vector<std::string>(it, Members.end());
}

// A class element anywhere below the element (derived classes sit inside their base class's element).
const TiXmlElement* FindClass(const TiXmlElement* pParent, const char* szName)
{
	for (const TiXmlElement* pChild = pParent ? pParent->FirstChildElement("Class") : nullptr; pChild;
		 pChild = pChild->NextSiblingElement("Class"))
	{
		if (AttributeOf(pChild, "Name") == szName)
			return pChild;
		if (const TiXmlElement* pFound = FindClass(pChild, szName))
			return pFound;
	}
	return nullptr;
}
}

// What the server, its element manager and the game register for scripts about elements, clients and the
// server, where and in the order they register it, as scripts and their documentation see it.
TEST(DocumentationDump, ElementClientAndServerInterfaceInRegistrationOrder)
{
	CServerProcess Server;
	StartAndWait(Server, MakeConfig(""), {"-dumpdoc"});
	ASSERT_TRUE(Server.WaitForOutput("Documentation dumped")) << Server.GetRawOutput();
	TiXmlDocument Interface;
	ASSERT_TRUE(Interface.LoadFile(PathOf(Server, "Documentation.xml").c_str()));
	const TiXmlElement* pGlobal = Named(Interface.RootElement(), "Namespace", "global");
	ASSERT_NE(pGlobal, nullptr);

	const std::vector<std::string> Global = MembersOf(pGlobal);
	std::vector<std::string> GlobalProperties;
	std::copy_if(Global.begin(), Global.end(), std::back_inserter(GlobalProperties),
		[](const std::string& Member) { return Member.find('(') == std::string::npos; });
	EXPECT_EQ(From(GlobalProperties, "localClient"),
		(std::vector<std::string>{"localClient Object ro", "localPlayer Object ro"}));
	EXPECT_EQ(From(Global, "addNetworkHandler"),
		(std::vector<std::string>{"addNetworkHandler(sc)", "removeNetworkHandler(s)", "message(s|i)",
			"messageClient(sx|i)", "messageAllExcept(sx|i)", "httpGet(sscc)", "getConsole()", "getClients()",
			"getClient(i)", "destroyElement(x)", "getClientFromPlayerElement(x)", "getElementsByType(i)",
			"getElementFromId(i)", "getElementFromName(s)", "registerNetObject(x)", "addToWorld(x) obsolete",
			"triggerNetworkEvent(sx*)", "fadeCamera(xb|fi) obsolete", "spawnPlayer(xv|fiii)", "getBlips()",
			"getBlipCount()", "getBuildings()", "getBuildingCount()", "getElements()", "getElementCount()",
			"getMarkers()", "getMarkerCount()", "getObjects()", "getObjectCount()", "getPeds()", "getPedCount()",
			"getPhysicals()", "getPhysicalCount()", "getPickups()", "getPickupCount()", "getPlayers()",
			"getPlayerCount()", "getTrains()", "getTrainCount()", "getVehicles()", "getVehicleCount()"}));

	EXPECT_EQ(MembersOf(FindClass(pGlobal, "Client")),
		(std::vector<std::string>{"index int ro", "name string ro", "game int ro", "gameVersion int ro",
			"player Object", "administrator bool", "console bool ro", "ip string ro", "ping int ro",
			"cameraInterior int", "despawnPlayer(t)", "disconnect(t)", "getData(ts)", "setData(ts.|b)",
			"removeData(ts)", "removeAllData(t)"}));
	EXPECT_EQ(MembersOf(FindClass(pGlobal, "Element")),
		(std::vector<std::string>{"id int ro", "type int ro", "netFlags Object ro", "isLocal bool ro",
			"isSyncer bool ro", "isOwner bool ro", "syncer Object", "syncerId int", "dimension int", "parent Object",
			"children <absent> ro", "name string", "resource Object", "streamInDistance number",
			"streamOutDistance number", "position Vector3D", "rotation Vector3D", "isType(ti)", "getData(ts)",
			"setData(ts.|b)", "removeData(ts)", "removeAllData(t)", "setSyncer(tx|b)", "isCreatedFor(tx)",
			"clearExistsFor(t)", "setExistsFor(txb)", "existsFor(tx)", "getRotation(t) obsolete",
			"setRotation(tv) obsolete"}));
	EXPECT_EQ(MembersOf(FindClass(pGlobal, "NetObjectFlags")),
		(std::vector<std::string>{"registered bool ro", "deleting bool ro", "onAllDimensions bool",
			"forcedSyncer bool", "findSyncer bool", "sendSync bool", "distanceStreaming bool",
			"alwaysExistForSyncer bool", "defaultExistance bool", "transient bool", "onlySyncIfDetached bool",
			"networked bool"}));
	// The game's classes derive from Element, so they are written inside it, each inside its base.
	const TiXmlElement* pElement = FindClass(pGlobal, "Element");
	for (const char* szPath : {"Entity", "Entity/Physical", "Entity/Physical/Ped", "Entity/Physical/Ped/Player",
			 "Entity/Physical/Vehicle", "Entity/Physical/Vehicle/Train", "Entity/Physical/Object", "Entity/Building",
			 "Blip", "Pickup", "Marker", "CarGenerator"})
	{
		const TiXmlElement* pClass = pElement;
		std::string Path = szPath;
		for (size_t At = 0; pClass && At != std::string::npos;)
		{
			const size_t Next = Path.find('/', At);
			pClass = Named(pClass, "Class", Path.substr(At, Next == std::string::npos ? Next : Next - At).c_str());
			At = Next == std::string::npos ? Next : Next + 1;
		}
		EXPECT_NE(pClass, nullptr) << szPath;
	}

	const TiXmlElement* pGame = Named(pGlobal, "Namespace", "gta");
	EXPECT_EQ(MembersOf(pGame),
		(std::vector<std::string>{"weather int", "ssvBridgeEnabled bool", "forceWeather(i)", "fadeCamera(xb|fi)",
			"createVehicle(i|v)", "createBlipAttachedTo(xi|iibb)", "createBuilding(i|v)", "createObject(i|v)",
			"createBlip(iv|ii)", "createPickup(i|vi)", "createSphere(v|f)", "createPlayer(i|v)", "createPed(i|v)",
			"quickMatch(xii)", "hostSession(xii)", "joinSession(xx)"}));
	EXPECT_NE(Named(pGame, "Class", "World"), nullptr);
	EXPECT_EQ(MembersOf(Named(pGame, "Namespace", "time")),
		(std::vector<std::string>{
			"minuteDuration int", "hour int", "minute int", "second number", "day number"}));
	EXPECT_EQ(MembersOf(Named(pGlobal, "Namespace", "server")),
		(std::vector<std::string>{"game int ro", "name string", "gameMode string", "port int ro", "maxClients int ro",
			"rcon bool ro", "rconPort int ro", "listed bool ro", "httpServer bool ro", "httpPort int ro",
			"httpURL string ro", "minClientVersion string ro", "syncInterval int ro", "syncMethod int ro",
			"duplicateNames bool ro", "streamInDistance number", "streamOutDistance number",
			"pickupStreamInDistance number", "pickupStreamOutDistance number", "logPath string ro",
			"syncLocalEntities bool ro", "bindIP string ro", "setRule(ss)", "getRule(s)", "banIP(s|i)",
			"unbanIP(s)", "unbanAllIPs()", "isIPBanned(s)", "shutdown()", "getCVar(s)", "setPassword(s)"}));
}

TEST(DocumentationDump, TheStartUpOptionWritesTheFourFiles)
{
	CServerProcess Server;
	WriteRegisteringResource(Server);
	StartAndWait(Server, MakeConfig(ResourceList({"registers"})), {"-dumpdoc"});
	ASSERT_TRUE(Server.WaitForOutput("Documentation dumped")) << Server.GetRawOutput();
	ExpectTheInterface(Server);
}

TEST(DocumentationDump, TheConsoleCommandWritesTheInterfaceAsItStands)
{
	CServerProcess Server;
	WriteRegisteringResource(Server);
	StartAndWait(Server, MakeConfig(""));
	std::string Content;
	EXPECT_FALSE(Server.ReadFile("Documentation/Commands.xml", Content));

	// Started after the server: its registrations are in the dump all the same.
	ASSERT_TRUE(Server.WriteInput("start registers\n"));
	ASSERT_TRUE(Server.WaitForOutput("Started resource registers")) << Server.GetRawOutput();
	ASSERT_TRUE(Server.WriteInput("dumpdoc\n"));
	ASSERT_TRUE(Server.WaitForOutput("Documentation dumped")) << Server.GetRawOutput();
	ExpectTheInterface(Server);
}

TEST(DocumentationDump, AFolderThatCannotBeWrittenIsReportedFileByFile)
{
	CServerProcess Server;
	Server.WriteFile("Documentation", "a file where the folder belongs");
	StartAndWait(Server, MakeConfig(""), {"-dumpdoc"});
	for (const char* szFile : FILES)
		EXPECT_TRUE(Server.WaitForOutput("Failed to write " + PathOf(Server, szFile))) << Server.GetRawOutput();

	// Whatever the dump answered is out before the next command's answer.
	ASSERT_TRUE(Server.WriteInput("stopall\n"));
	ASSERT_TRUE(Server.WaitForOutput("Stopped 0 resources")) << Server.GetRawOutput();
	EXPECT_FALSE(Printed(Server, "Documentation dumped")) << Server.GetRawOutput();
	std::string Content;
	ASSERT_TRUE(Server.ReadFile("Documentation", Content));
	EXPECT_EQ(Content, "a file where the folder belongs");
}
