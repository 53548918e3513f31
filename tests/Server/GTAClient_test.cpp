// What scripts do to one client, and the game events they hear, through the real server binary with game clients
// on the loopback, with and without the network thread: spawning players, fading cameras, the camera interior, the
// GTA IV sessions and their refusal on other games, vehicle entry and exit cancelled by a script, a collected
// pickup. Also, in the test's own process, spawning when the element table is full.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "ClientBlocks.h"
#include "Game/GTAServerManager.h"
#include "GameDelivery.h"
#include "InProcessServer.h"
#include "ResourceTestSupport.h"
#include "ServerManager.h"
#include "Support/GameClient.h"
#include "Support/TestElement.h"
#include "Support/Transport.h"
#include "Multiplayer/ReplicationHarness.h"

#include "Engine/KError.h"
#include "Engine/KestrinNative.h"
#include "Engine/Reflection.h"

using namespace ServerTest;
using namespace VexaTest;

namespace
{
typedef std::vector<uint8_t> tBytes;
typedef std::vector<tReceivedMessage> tMessages;

constexpr uint32_t MSG_CLIENT_PLAYER = 28;
constexpr uint32_t MSG_FADE_CAMERA = 108;
constexpr uint32_t MSG_HOST_SESSION = 136;
constexpr uint32_t MSG_JOIN_SESSION = 137;
constexpr uint32_t MSG_CAMERA_INTERIOR = 151;
constexpr uint32_t MSG_PICKUP_COLLECTED = 132;

constexpr int32_t PLAYER_TYPE = 94;
constexpr int32_t VEHICLE_TYPE = 142;
constexpr int32_t PICKUP_TYPE = 4098;

tMessages ReceiveThrough(CGameClient& Client, uint32_t uiId)
{
	tMessages Messages;
	tReceivedMessage Message;
	while (Client.Receive(Message))
	{
		Messages.push_back(Message);
		if (Message.m_uiId == uiId)
			break;
	}
	ExpectGameDelivery(Messages);
	return Messages;
}

// The elements of the create messages among those given.
std::vector<tElementEntry> CreatedElements(const tMessages& Messages)
{
	std::vector<tElementEntry> All;
	for (const tReceivedMessage& Message : Messages)
	{
		std::vector<tElementEntry> Entries;
		if (Message.m_uiId == MSG_CREATE && ReadElementEntries(Message, Entries))
			All.insert(All.end(), Entries.begin(), Entries.end());
	}
	return All;
}

// Element type and id, in the order they came: creations as +id, destructions as -id-1 of type 0.
std::vector<std::pair<int32_t, int32_t>> CreationsAndDestructions(const tMessages& Messages)
{
	std::vector<std::pair<int32_t, int32_t>> Order;
	for (const tReceivedMessage& Message : Messages)
	{
		std::vector<tElementEntry> Entries;
		std::vector<int32_t> Ids;
		if (Message.m_uiId == MSG_CREATE && ReadElementEntries(Message, Entries))
		{
			for (const tElementEntry& Entry : Entries)
				Order.emplace_back(Entry.m_iType, Entry.m_iId);
		}
		else if (Message.m_uiId == MSG_DESTROY && ReadElementIds(Message, Ids))
		{
			for (int32_t iId : Ids)
				Order.emplace_back(0, iId);
		}
	}
	return Order;
}

class GameClientScripts : public ::testing::TestWithParam<bool>
{
protected:
	void StartServer(const std::string& Children, const std::vector<std::string>& Resources)
	{
		int iPort = 0;
		const std::string Config = MakeConfig(
			Children + ResourceList(Resources) + (GetParam() ? "\t<multithreaded>true</multithreaded>\n" : ""), iPort);
		m_usPort = static_cast<uint16_t>(iPort);
		StartAndWait(m_Server, Config);
	}

	bool Join(CGameClient& Client, const std::string& Name, uint8_t ucGame = 1)
	{
		tJoinRequest Request;
		Request.m_Name = Name;
		Request.m_ucGame = ucGame;
		return Client.Join(m_usPort, Request);
	}

	CServerProcess m_Server;
	uint16_t m_usPort = 0;
};

const char* const SPAWNER_SCRIPT = R"(
local function attempt(...)
	local ok, text = pcall(...)
	return tostring(ok) .. ' ' .. tostring(text)
end
addEventHandler('OnPedSpawn', function(event, ped) print('spawned ' .. tostring(ped ~= nil)) end)
addEventHandler('OnPlayerJoined', function(event, client)
	spawnPlayer(client, Vec3(1, 2, 3), 0.5, 7, 259, 4)
	-- A later pass: the first player has been created on its client by then.
	setTimeout(respawn, 10, client)
end)
function respawn(client)
	spawnPlayer(client, Vec3(4, 5, 6), 1.5, 9, 3)
	gta.fadeCamera(client, true, 2.0, 0xFF000000)
	fadeCamera(client, false)
	client.cameraInterior = 260
	print('camera interior ' .. client.cameraInterior)
	print('quick match: ' .. attempt(gta.quickMatch, client, 1, 2))
	print('quick match without arguments: ' .. attempt(gta.quickMatch))
	print('spawn without a position: ' .. attempt(spawnPlayer, client))
	print('spawn without a client: ' .. attempt(spawnPlayer, nil, Vec3(0, 0, 0)))
end
addEventHandler('OnPlayerQuit', function(event, client)
	setTimeout(function() print('spawn after leaving: ' .. attempt(spawnPlayer, client, Vec3(0, 0, 0))) end, 10)
end)
)";
}

TEST_P(GameClientScripts, SpawnFadeAndCameraInterior)
{
	WriteResource(m_Server, "spawner", {{"main.lua", "lua", SPAWNER_SCRIPT}});
	StartServer("", {"spawner"});
	CGameClient Client;
	ASSERT_TRUE(Join(Client, "Player"));
	const int32_t iIndex = 0;
	// Element messages travel on another channel than the camera's: take everything until both are through.
	tMessages Messages;
	for (int i = 0; i < 100 && (BodiesOf(Messages, MSG_CAMERA_INTERIOR).empty() || CreationsAndDestructions(Messages).size() < 3); i++)
	{
		tReceivedMessage Message;
		if (!Client.Receive(Message))
			break;
		Messages.push_back(Message);
	}
	ExpectGameDelivery(Messages);
	EXPECT_EQ(BodiesOf(Messages, MSG_CAMERA_INTERIOR), std::vector<tBytes>{CTestMessage().U8(4).GetBytes()});

	// The first player is destroyed before the second is made.
	const auto Order = CreationsAndDestructions(Messages);
	ASSERT_EQ(Order.size(), 3u);
	EXPECT_EQ(Order[0].first, PLAYER_TYPE);
	EXPECT_EQ(Order[1], std::make_pair(0, Order[0].second));
	EXPECT_EQ(Order[2].first, PLAYER_TYPE);
	const int32_t iFirst = Order[0].second;
	const int32_t iSecond = Order[2].second;
	const std::vector<tElementEntry> Created = CreatedElements(Messages);
	// Syncer, parent, dimension, the client's name, no data; model, interior (the low byte), creation kind, ped
	// type; the sync block follows.
	const tBytes rgExpected[] = {
		CTestMessage().I32(iIndex).I32(-1).I32(4).String("Player").U16(0).I32(7).U8(3).U8(0).U32(0).GetBytes(),
		CTestMessage().I32(iIndex).I32(-1).I32(0).String("Player").U16(0).I32(9).U8(3).U8(0).U32(0).GetBytes()};
	for (size_t i = 0; i < 2; i++)
	{
		ASSERT_GT(Created[i].m_Block.size(), rgExpected[i].size());
		EXPECT_EQ(tBytes(Created[i].m_Block.begin(), Created[i].m_Block.begin() + static_cast<std::ptrdiff_t>(rgExpected[i].size())),
			rgExpected[i]);
	}
	// Every client hears whose player it is.
	EXPECT_EQ(BodiesOf(Messages, MSG_CLIENT_PLAYER),
		(std::vector<tBytes>{CTestMessage().U16(1).I32(iIndex).I32(iFirst).GetBytes(),
			CTestMessage().U16(1).I32(iIndex).I32(-1).GetBytes(), CTestMessage().U16(1).I32(iIndex).I32(iSecond).GetBytes()}));
	// Fading in with a colour, then out without one.
	EXPECT_EQ(BodiesOf(Messages, MSG_FADE_CAMERA),
		(std::vector<tBytes>{CTestMessage().U8(3).F32(2.0f).U32(0xFF000000).GetBytes(), CTestMessage().U8(0).F32(1.0f).GetBytes()}));

	ASSERT_TRUE(m_Server.WaitForOutput("spawn without a client: ")) << m_Server.GetRawOutput();
	const std::vector<std::string> Lines = m_Server.GetOutputLines();
	EXPECT_EQ(std::count(Lines.begin(), Lines.end(), "spawned true"), 2);
	for (const char* szLine : {"camera interior 4", "quick match: false GTA IV specific function.",
			 "quick match without arguments: false GTA IV specific function.",
			 "spawn without a position: false Expected Vector3D for argument 2",
			 "spawn without a client: false Expected Client for argument 1"})
		EXPECT_TRUE(HasLineContaining(Lines, szLine)) << szLine << "\n" << m_Server.GetRawOutput();

	// The player belongs to no resource: stopping the one that spawned it leaves it.
	ASSERT_TRUE(m_Server.WriteInput("stop spawner\n"));
	const tMessages AfterStop = ReceiveThrough(Client, MSG_RESOURCE_STOPPED);
	ASSERT_FALSE(AfterStop.empty());
	EXPECT_TRUE(CreationsAndDestructions(AfterStop).empty());
}

// A record that a script keeps after its client left is nobody's to spawn.
TEST_P(GameClientScripts, SpawningAClientThatLeftFails)
{
	WriteResource(m_Server, "spawner", {{"main.lua", "lua", SPAWNER_SCRIPT}});
	StartServer("", {"spawner"});
	{
		CGameClient Client;
		ASSERT_TRUE(Join(Client, "Player"));
		ASSERT_TRUE(Client.Disconnect());
	}
	EXPECT_TRUE(m_Server.WaitForOutput("spawn after leaving: false Client is not connected")) << m_Server.GetRawOutput();
}

TEST_P(GameClientScripts, SessionsOnGTAIV)
{
	WriteResource(m_Server, "sessions", {{"main.lua", "lua", R"(
addEventHandler('OnPlayerJoined', function(event, client)
	gta.quickMatch(client, 1, 2)
	gta.hostSession(client, 3, 4)
	gta.joinSession(client, client)
	print('sessions arranged')
end)
)"}});
	StartServer("\t<game>gta:iv</game>\n", {"sessions"});
	CGameClient Client;
	ASSERT_TRUE(Join(Client, "Player", 5));
	const tMessages Messages = ReceiveThrough(Client, MSG_JOIN_SESSION);
	EXPECT_EQ(BodiesOf(Messages, MSG_QUICK_MATCH), std::vector<tBytes>{CTestMessage().I32(1).I32(2).GetBytes()});
	EXPECT_EQ(BodiesOf(Messages, MSG_HOST_SESSION), std::vector<tBytes>{CTestMessage().I32(3).I32(4).GetBytes()});
	// Joining itself: its own values and its own index.
	EXPECT_EQ(BodiesOf(Messages, MSG_JOIN_SESSION), std::vector<tBytes>{CTestMessage().I32(3).I32(4).I32(0).GetBytes()});
	EXPECT_TRUE(m_Server.WaitForOutput("sessions arranged")) << m_Server.GetRawOutput();
}

// A script cancels entry as driver and every exit, and hears of a collected pickup; a second client watches.
TEST_P(GameClientScripts, VehicleEntryAndExitAndPickupsThroughAScript)
{
	WriteResource(m_Server, "rules", {{"main.lua", "lua", R"(
addEventHandler('OnPlayerJoined', function(event, client) spawnPlayer(client, Vec3(0, 0, 0)) end)
addEventHandler('OnPedEnterVehicle', function(event, ped, vehicle, driver)
	print('enter ' .. driver)
	if driver == 1 then event:preventDefault() end
end)
addEventHandler('OnPedExitVehicle', function(event, ped, vehicle)
	print('exit refused')
	event:preventDefault()
end)
addEventHandler('OnPickupCollected', function(event, pickup, ped) print('collected') end)
)"}},
		{{"map.xml", "<map>\n\t<vehicle x=\"3\" y=\"0\" z=\"0\" model=\"130\"/>\n\t<pickup x=\"1\" y=\"0\" z=\"0\" model=\"1242\"/>\n</map>\n"}});
	m_Server.WriteFile("resources/rules/meta.xml",
		"<meta>\n\t<script src=\"main.lua\" type=\"server\" language=\"lua\" />\n\t<map src=\"map.xml\" type=\"server\" />\n</meta>\n");
	StartServer("", {"rules"});
	CGameClient Player, Watcher;
	ASSERT_TRUE(Join(Player, "Player"));
	ASSERT_TRUE(Join(Watcher, "Watcher"));

	// The player's own player, the vehicle and the pickup, as created on the player's client.
	int32_t iPed = -1, iVehicle = -1, iPickup = -1;
	tMessages Seen;
	for (int i = 0; i < 200 && (iPed < 0 || iVehicle < 0 || iPickup < 0); i++)
	{
		tReceivedMessage Message;
		if (!Player.Receive(Message))
			break;
		Seen.push_back(Message);
		for (const tElementEntry& Entry : CreatedElements({Message}))
		{
			if (Entry.m_iType == PLAYER_TYPE && Entry.m_Block.size() >= 4 && Entry.m_Block[0] == 0)
				iPed = Entry.m_iId;
			else if (Entry.m_iType == VEHICLE_TYPE)
				iVehicle = Entry.m_iId;
			else if (Entry.m_iType == PICKUP_TYPE)
				iPickup = Entry.m_iId;
		}
	}
	ASSERT_TRUE(iPed >= 0 && iVehicle >= 0 && iPickup >= 0);
	ASSERT_TRUE(Watcher.WaitForElement(iPed, true));
	Watcher.TakeMessages();

	ASSERT_TRUE(Player.Send(CTestMessage(MSG_VEHICLE_ACTION).I32(iPed).U8(2).I32(iVehicle)));
	ASSERT_TRUE(Player.Send(CTestMessage(MSG_VEHICLE_ACTION).I32(iPed).U8(3).I32(iVehicle)));
	const tBytes Passenger = CTestMessage().I32(iPed).U8(3).I32(iVehicle).GetBytes();
	// Only the entry as passenger reaches the holders of the ped, the player's client and the watcher.
	for (CGameClient* pClient : {&Player, &Watcher})
		EXPECT_EQ(BodiesOf(ReceiveThrough(*pClient, MSG_VEHICLE_ACTION), MSG_VEHICLE_ACTION), std::vector<tBytes>{Passenger});

	// Sitting in the driver's seat, the player tries to leave; then the passenger entry again marks the end.
	ASSERT_TRUE(Player.Send(MakeSyncMessage({{PLAYER_TYPE, iPed, PlayerSyncBlock(iVehicle, 0, 3)}}), 1, true));
	ASSERT_TRUE(Player.Send(CTestMessage(MSG_VEHICLE_ACTION).I32(iPed).U8(1)));
	ASSERT_TRUE(Player.Send(CTestMessage(MSG_VEHICLE_ACTION).I32(iPed).U8(3).I32(iVehicle)));
	for (CGameClient* pClient : {&Player, &Watcher})
		EXPECT_EQ(BodiesOf(ReceiveThrough(*pClient, MSG_VEHICLE_ACTION), MSG_VEHICLE_ACTION), std::vector<tBytes>{Passenger});

	// The pickup's syncer is the lowest slot that has it, the player's client.
	ASSERT_TRUE(Player.Send(CTestMessage(MSG_PICKUP_COLLECTED).I32(iPickup).I32(iPed)));
	EXPECT_TRUE(m_Server.WaitForOutput("collected")) << m_Server.GetRawOutput();
	const std::vector<std::string> Lines = m_Server.GetOutputLines();
	EXPECT_TRUE(HasLineContaining(Lines, "enter 1"));
	EXPECT_EQ(std::count(Lines.begin(), Lines.end(), "enter 0"), 2);
	EXPECT_TRUE(HasLineContaining(Lines, "exit refused"));
}

INSTANTIATE_TEST_SUITE_P(Transport, GameClientScripts, ::testing::Bool(), DescribeTransport);

namespace
{
bool CallNative(const ReflectedFunction& Function, const CArgumentArray& Arguments)
{
	CNativeState State(nullptr, nullptr, &Arguments);
	return Function.m_Function.GetNative()(&State, static_cast<int>(Arguments.GetArrayCount()), Function.m_pUserData);
}
}

// With every element slot taken the new player cannot be registered: the script is told, the client is left
// without a player, and nobody hears of a spawn.
TEST(GameClientSpawn, FullElementTableFailsTheSpawn)
{
	CInProcessServer Server("", false);
	ASSERT_TRUE(Server.Start());
	CGameClient Client;
	Server.Attach(Client);
	ASSERT_TRUE(Client.Join(Server.GetPort(), tJoinRequest()));
	CGTAServer& Game = Server.GetServer();
	CNetMachine* pClient = Game.GetClients().GetMachine(Client.GetIndex());
	ASSERT_NE(pClient, nullptr);

	CServerManager* pManager = Game.GetManager();
	while (pManager->GetObjectCount() < MAX_NET_OBJECTS)
	{
		Strong<CTestElement> pFiller = Strong<CTestElement>::New(new CTestElement(pManager, 0));
		pFiller->SetNetFlag(NETFLAG_DEFAULT_EXISTANCE, false);
		ASSERT_TRUE(pManager->RegisterNetObject(pFiller));
	}
	int iSpawns = 0;
	Game.GetGTAManager()->GetEventType(GAME_EVENT_PED_SPAWN)->AddHandler(new ReplicationTest::CLambdaHandler(
		Game.GetResourceMgr().GetEventHandlers(), [&](EventHandlers::CEvent*, const CArgumentArray&) { iSpawns++; }));

	ReflectedFunction* pSpawn = nullptr;
	for (ReflectedFunction* pFunction : Game.GetResourceMgr().GetScripting()->GetGlobal()->GetFunctions())
	{
		if (strcmp(pFunction->GetName(), "spawnPlayer") == 0)
			pSpawn = pFunction;
	}
	ASSERT_NE(pSpawn, nullptr);
	CArgumentArray Arguments;
	Arguments.AddObject(pClient);
	Arguments.AddVector3D(CVector3D(1, 2, 3));
	EXPECT_FALSE(CallNative(*pSpawn, Arguments));
	EXPECT_STREQ(g_szError, "Failed to spawn player");
	EXPECT_EQ(pClient->GetPlayer(), nullptr);
	EXPECT_EQ(iSpawns, 0);
}
