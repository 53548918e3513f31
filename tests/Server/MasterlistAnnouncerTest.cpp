// The server-listing link against a stand-in listing service on 127.0.0.1 (Python's websockets) that records the
// handshake and every message: the description sent once connected, the updates as clients come and go and
// scripts rename the server, the service's own lines in the log, and the retries after a failed and a lost
// connection, with the real server binary in both thread modes. The retry timer and the exact layout of the
// description are checked in this process, where a test can hand the link any frame time and fill any slot.

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <sys/socket.h>
#include <sys/utsname.h>
#include <unistd.h>
#include <vector>

#include "InProcessServer.h"
#include "MasterlistAnnouncer.h"
#include "ScriptProbe.h"
#include "Support/GameClient.h"
#include "Support/Ports.h"
#include "Support/TestMessage.h"
#include "Support/Transport.h"
#include "Support/WebTool.h"

using namespace ServerTest;
using namespace VexaTest;

namespace
{
typedef std::vector<uint8_t> tData;

struct tListedClient
{
	uint32_t m_uiIndex = 0;
	std::string m_Name;
	std::string m_Game;
	bool operator==(const tListedClient& Other) const
	{
		return m_uiIndex == Other.m_uiIndex && m_Name == Other.m_Name && m_Game == Other.m_Game;
	}
};

std::ostream& operator<<(std::ostream& Out, const tListedClient& Client)
{
	return Out << Client.m_uiIndex << " " << Client.m_Name << " " << Client.m_Game;
}

struct tServerInfo
{
	uint8_t m_ucFlags = 0;
	uint8_t m_ucVersion = 0;
	std::string m_Game;
	uint32_t m_uiNetworkVersion = 0;
	uint32_t m_uiPort = 0;
	uint32_t m_uiMaxPlayers = 0;
	uint32_t m_uiPlayerCount = 0;
	std::vector<tListedClient> m_Clients;
	std::string m_Name;
	std::string m_GameMode;
	uint32_t m_rguiMinVersion[3] = {};
};

bool ReadListedClient(CTestMessageReader& Reader, tListedClient& Client)
{
	return Reader.VarUInt(Client.m_uiIndex) && Reader.String(Client.m_Name) && Reader.String(Client.m_Game);
}

// Message 0 as the service reads it: the client list has one entry per counted player and one for the console
// when the flags say it exists. False when anything is missing or left over.
bool ReadServerInfo(const tData& Data, tServerInfo& Info)
{
	CTestMessageReader Reader(Data);
	uint32_t uiType = 0;
	if (!Reader.VarUInt(uiType) || uiType != 0 || !Reader.U8(Info.m_ucFlags) || !Reader.U8(Info.m_ucVersion) ||
		!Reader.String(Info.m_Game) || !Reader.VarUInt(Info.m_uiNetworkVersion) || !Reader.VarUInt(Info.m_uiPort) ||
		!Reader.VarUInt(Info.m_uiMaxPlayers) || !Reader.VarUInt(Info.m_uiPlayerCount))
		return false;
	const uint32_t uiEntries = Info.m_uiPlayerCount + ((Info.m_ucFlags & 0x04) ? 1 : 0);
	for (uint32_t i = 0; i < uiEntries; i++)
	{
		tListedClient Client;
		if (!ReadListedClient(Reader, Client))
			return false;
		Info.m_Clients.push_back(Client);
	}
	return Reader.String(Info.m_Name) && Reader.String(Info.m_GameMode) && Reader.VarUInt(Info.m_rguiMinVersion[0]) &&
		Reader.VarUInt(Info.m_rguiMinVersion[1]) && Reader.VarUInt(Info.m_rguiMinVersion[2]) && Reader.IsAtEnd();
}

// An update as text: "add <index> <name> <game>", "remove <index>", "mode <text>", "name <text>", "info" for a
// description, or "other <hex>".
std::string DescribeUpdate(const tData& Data)
{
	CTestMessageReader Reader(Data);
	uint32_t uiType = 0;
	tListedClient Client;
	uint32_t uiIndex = 0;
	std::string Text;
	tServerInfo Info;
	if (ReadServerInfo(Data, Info))
		return "info";
	if (!Reader.VarUInt(uiType))
		return "other " + ToHex(Data);
	if (uiType == 1 && ReadListedClient(Reader, Client) && Reader.IsAtEnd())
		return "add " + std::to_string(Client.m_uiIndex) + " " + Client.m_Name + " " + Client.m_Game;
	if (uiType == 2 && Reader.VarUInt(uiIndex) && Reader.IsAtEnd())
		return "remove " + std::to_string(uiIndex);
	if ((uiType == 3 || uiType == 4) && Reader.String(Text) && Reader.IsAtEnd())
		return (uiType == 3 ? "mode " : "name ") + Text;
	return "other " + ToHex(Data);
}

// The user agent the server sends: the engine's token, the system's, the server's.
std::string ExpectedUserAgent()
{
	utsname Names{};
	uname(&Names);
	return std::string("Kestrin3D/1.2.0  (") + Names.sysname + " " + Names.machine + ") VexaServer/1.5.10";
}

class ListingFixture
{
protected:
	// The stand-in service on a port of its own.
	void StartListing()
	{
		ASSERT_TRUE(m_Listing.StartServer(m_usListingPort, MASTERLIST_PROTOCOL)) << m_Listing.GetOutput();
	}

	void WriteConfig(const std::string& Children, bool bMultithreaded)
	{
		tServerPorts Ports;
		m_Config = MakeConfig("\t<serverbrowser>true</serverbrowser>\n\t<serverlistingurl>127.0.0.1:" +
				std::to_string(m_usListingPort) + "</serverlistingurl>\n\t<logpath>logs</logpath>\n" +
				(bMultithreaded ? "\t<multithreaded>true</multithreaded>\n" : "") + Children,
			Ports);
		m_usPort = static_cast<uint16_t>(Ports.m_iGame);
	}

	void StartServer(const std::string& Children, bool bMultithreaded = false)
	{
		WriteConfig(Children, bMultithreaded);
		ASSERT_NO_FATAL_FAILURE(StartAndWait(m_Server, m_Config));
	}

	// The next connection's handshake and its description.
	void TakeConnection(tServerInfo& Info, int iTimeoutMs = 20000)
	{
		std::string Path;
		ASSERT_TRUE(m_Listing.NextLine("request", Path, iTimeoutMs)) << m_Listing.GetUntaken();
		EXPECT_EQ(Path, "/");
		std::string Rest;
		ASSERT_TRUE(m_Listing.NextLine("open", Rest)) << m_Listing.GetUntaken();
		tData Message;
		ASSERT_TRUE(m_Listing.NextMessage(Message)) << m_Listing.GetUntaken();
		ASSERT_TRUE(ReadServerInfo(Message, Info)) << ToHex(Message);
	}

	std::string NextUpdate()
	{
		tData Message;
		return m_Listing.NextMessage(Message) ? DescribeUpdate(Message) : "nothing: " + m_Listing.GetUntaken();
	}

	// Until the server has printed the line that many times; false after a safety bound.
	bool WaitForLines(const std::string& Text, size_t Count)
	{
		for (int i = 0; i < 2000; i++)
		{
			const std::vector<std::string> Lines = m_Server.GetOutputLines();
			size_t Found = 0;
			for (int iAt = FindLine(Lines, Text); iAt >= 0; iAt = FindLine(Lines, Text, static_cast<size_t>(iAt) + 1))
				Found++;
			if (Found >= Count)
				return true;
			usleep(10000);
		}
		return false;
	}

	// The lines appear in this order among the server's output lines.
	void ExpectInOrder(const std::vector<std::string>& Expected)
	{
		const std::vector<std::string> Lines = m_Server.GetOutputLines();
		size_t At = 0;
		for (const std::string& Line : Expected)
		{
			const int iFound = FindLine(Lines, Line, At);
			ASSERT_GE(iFound, 0) << "\"" << Line << "\" in order in\n" << m_Server.GetRawOutput();
			At = static_cast<size_t>(iFound) + 1;
		}
	}

	uint16_t m_usListingPort = FindFreePort();
	uint16_t m_usPort = 0;
	std::string m_Config;
	CWebTool m_Listing;
	CServerProcess m_Server;
};

class ServerListing : public ListingFixture, public ::testing::TestWithParam<bool>
{
};

class ServerListingTest : public ListingFixture, public ::testing::Test
{
};
}

TEST_P(ServerListing, DescribesTheServerOnceConnectedAndFollowsItsClientsAndName)
{
	ASSERT_NO_FATAL_FAILURE(StartListing());
	// A script renames the server before the link connects: the description carries the new name, and no
	// update went anywhere before it.
	WriteResource(m_Server, "rename", {{"rename.lua", "lua", "server.name = \"Scripted\"\n"}});
	WriteResource(m_Server, "probe", ProbeScripts());
	ASSERT_NO_FATAL_FAILURE(StartServer(ResourceList({"rename", "probe"}) +
			"\t<servername>Listed</servername>\n\t<gamemode>Freeroam</gamemode>\n\t<password>pw</password>\n"
			"\t<maxplayers>10</maxplayers>\n\t<minclientversion>1.2.3.4</minclientversion>\n",
		GetParam()));

	tServerInfo Info;
	ASSERT_NO_FATAL_FAILURE(TakeConnection(Info));
	const std::string Handshake = m_Listing.GetOutput();
	EXPECT_NE(Handshake.find("header sec-websocket-protocol ws_serverlisting3\n"), std::string::npos) << Handshake;
	EXPECT_NE(Handshake.find("header user-agent " + ExpectedUserAgent() + "\n"), std::string::npos) << Handshake;
	// Password and console client.
	EXPECT_EQ(Info.m_ucFlags, 0x0F);
	EXPECT_EQ(Info.m_ucVersion, 1);
	EXPECT_EQ(Info.m_Game, "gta:iii");
	EXPECT_EQ(Info.m_uiNetworkVersion, 28u);
	EXPECT_EQ(Info.m_uiPort, m_usPort);
	EXPECT_EQ(Info.m_uiMaxPlayers, 10u);
	EXPECT_EQ(Info.m_uiPlayerCount, 0u);
	EXPECT_EQ(Info.m_Clients, (std::vector<tListedClient>{{255, "Console", "gta:iii"}}));
	EXPECT_EQ(Info.m_Name, "Scripted");
	EXPECT_EQ(Info.m_GameMode, "Freeroam");
	EXPECT_EQ(std::vector<uint32_t>(Info.m_rguiMinVersion, Info.m_rguiMinVersion + 3),
		(std::vector<uint32_t>{1, 2, 3}));
	ASSERT_TRUE(m_Server.WaitForOutput("Connected to the server listing"));
	ASSERT_NO_FATAL_FAILURE(ExpectInOrder({"Connecting to the server listing...", "Connected to the server listing"}));

	CGameClient Alice;
	tJoinRequest Request;
	Request.m_Name = "Alice";
	Request.m_Password = "pw";
	Request.m_Version = {1, 2, 3, 4};
	ASSERT_TRUE(Alice.Join(m_usPort, Request));
	EXPECT_EQ(NextUpdate(), "add " + std::to_string(Alice.GetIndex()) + " Alice gta:iii");

	struct tCase
	{
		size_t m_Language;
		std::string m_Code;
		std::string m_Update;
	};
	const tCase Cases[] = {
		{PROBE_LUA, "server.name = \"Renamed\"", "name Renamed"},
		{PROBE_JS, "server.gameMode = \"Race\"", "mode Race"},
		// The name as the server keeps it: cut to 63 bytes.
		{PROBE_SQUIRREL, "server.name = \"" + std::string(70, 'n') + "\"", "name " + std::string(63, 'n')},
	};
	for (const tCase& Case : Cases)
	{
		ProbeOutput(m_Server, Case.m_Language, Case.m_Code);
		EXPECT_EQ(NextUpdate(), Case.m_Update) << Case.m_Code;
	}

	ASSERT_TRUE(Alice.Disconnect(0));
	EXPECT_EQ(NextUpdate(), "remove " + std::to_string(Alice.GetIndex()));

	// The link goes with the server.
	ASSERT_TRUE(m_Server.WriteInput("quit\n"));
	EXPECT_EQ(m_Server.WaitForExit(), 0);
	std::string Code;
	EXPECT_TRUE(m_Listing.NextLine("closed", Code)) << m_Listing.GetUntaken();
}

INSTANTIATE_TEST_SUITE_P(Transport, ServerListing, ::testing::Bool(), DescribeTransport);

TEST_F(ServerListingTest, FailedAndLostConnectionsAreRetriedWithTheWholeDescription)
{
	// Nothing listens at first: the connection fails, and is tried again until the service is there.
	ASSERT_NO_FATAL_FAILURE(StartServer(""));
	ASSERT_TRUE(m_Server.WaitForOutput("Failed to connect to the server listing")) << m_Server.GetRawOutput();
	ASSERT_NO_FATAL_FAILURE(StartListing());
	tServerInfo Info;
	ASSERT_NO_FATAL_FAILURE(TakeConnection(Info, 30000));

	// A client joins; the service drops the connection; the next one describes the server with the client.
	CGameClient Alice;
	tJoinRequest Request;
	Request.m_Name = "Alice";
	ASSERT_TRUE(Alice.Join(m_usPort, Request));
	EXPECT_EQ(NextUpdate(), "add " + std::to_string(Alice.GetIndex()) + " Alice gta:iii");
	ASSERT_TRUE(m_Listing.Close());
	std::string Code;
	ASSERT_TRUE(m_Listing.NextLine("closed", Code));
	Info = tServerInfo();
	ASSERT_NO_FATAL_FAILURE(TakeConnection(Info, 30000));
	EXPECT_EQ(Info.m_uiPlayerCount, 1u);
	EXPECT_EQ(Info.m_Clients, (std::vector<tListedClient>{
								  {static_cast<uint32_t>(Alice.GetIndex()), "Alice", "gta:iii"},
								  {255, "Console", "gta:iii"},
							  }));

	ASSERT_TRUE(WaitForLines("Connected to the server listing", 2)) << m_Server.GetRawOutput();
	ASSERT_NO_FATAL_FAILURE(ExpectInOrder({
		"Connecting to the server listing...",
		"Failed to connect to the server listing",
		"Connecting to the server listing...",
		"Connected to the server listing",
		"Disconnected from server listing",
		"Connecting to the server listing...",
		"Connected to the server listing",
	}));
	const std::string Log = QuitAndReadLog(m_Server);
	for (const char* szLine : {"[ERROR]   Failed to connect to the server listing\r\n",
			 "[INFO]    Disconnected from server listing\r\n", "[INFO]    Connected to the server listing\r\n",
			 "[INFO]    Connecting to the server listing...\r\n"})
		EXPECT_NE(Log.find(szLine), std::string::npos) << szLine << " in\n" << Log;
}

TEST_F(ServerListingTest, TheServicesLinesAreLoggedAtTheirLevel)
{
	ASSERT_NO_FATAL_FAILURE(StartListing());
	ASSERT_NO_FATAL_FAILURE(StartServer(""));
	tServerInfo Info;
	ASSERT_NO_FATAL_FAILURE(TakeConnection(Info));

	const auto Line = [](uint32_t uiLevel, const std::string& Text) {
		return CTestMessage().VarUInt(5).VarUInt(uiLevel).String(Text).GetBytes();
	};
	struct tCase
	{
		tData m_Message;
		// The line in the log file; or null, and then the text must be nowhere in the log.
		const char* m_szLogged;
		const char* m_szText;
	};
	const tCase Cases[] = {
		{Line(4, "x"), "[WARN]    x\r\n", nullptr},
		{Line(5, "an error"), "[ERROR]   an error\r\n", nullptr},
		{Line(6, "critical"), "[CRITICAL]critical\r\n", nullptr},
		{Line(0, "untagged"), "> untagged\r\n", nullptr},
		{Line(7, "level seven"), "[INFO]    level seven\r\n", nullptr},
		{Line(0xFFFFFFFF, "highest level"), "[INFO]    highest level\r\n", nullptr},
		{Line(3, "red \x1b[31m text"), "[INFO]    red \\x1B[31m text\r\n", nullptr},
		// The type in two bytes is still type 5.
		{CTestMessage().U8(0x85).U8(0x00).VarUInt(3).String("long type").GetBytes(), "[INFO]    long type\r\n",
			nullptr},
		// No text, a text longer than its bytes, a type that is no number, another type.
		{CTestMessage().VarUInt(5).VarUInt(3).GetBytes(), nullptr, "[INFO]    \r\n"},
		{CTestMessage().VarUInt(5).VarUInt(3).VarUInt(9).Bytes("cut", 3).GetBytes(), nullptr, "cut"},
		{CTestMessage().U8(0xFF).U8(0xFF).U8(0xFF).U8(0xFF).U8(0xFF).VarUInt(3).String("bad type").GetBytes(), nullptr,
			"bad type"},
		{CTestMessage().VarUInt(6).VarUInt(3).String("type six").GetBytes(), nullptr, "type six"},
	};
	for (const tCase& Case : Cases)
		ASSERT_TRUE(m_Listing.Send(Case.m_Message));
	ASSERT_TRUE(m_Listing.Send(Line(3, "last line")));
	ASSERT_TRUE(m_Server.WaitForOutput("last line")) << m_Server.GetRawOutput();

	// The connection stays.
	EXPECT_FALSE(HasLineContaining(m_Server.GetOutputLines(), "Disconnected from server listing"));
	const std::string Log = QuitAndReadLog(m_Server);
	for (const tCase& Case : Cases)
	{
		if (Case.m_szLogged)
		{
			EXPECT_NE(Log.find(Case.m_szLogged), std::string::npos) << Case.m_szLogged << " in\n" << Log;
		}
		else
		{
			EXPECT_EQ(Log.find(Case.m_szText), std::string::npos) << Case.m_szText << " in\n" << Log;
		}
	}
}

namespace
{
// Runs the link's state machine by hand: no pass of the main loop pulses it.
bool PulseUntil(CMasterlistAnnouncer& Link, eMasterlistState eState)
{
	for (int i = 0; i < 5000 && Link.GetState() != eState; i++)
	{
		Link.Pulse(0.0f);
		usleep(1000);
	}
	return Link.GetState() == eState;
}

std::string ListingConfig(const std::string& Url)
{
	return "\t<serverbrowser>true</serverbrowser>\n\t<serverlistingurl>" + Url + "</serverlistingurl>\n";
}
}

TEST(ServerListingRetry, AStartThatFailsIsTriedAgainAfterThirtySeconds)
{
	// No host; a port no address has; a URL that is not one once made into "ws://%s/".
	const char* const Urls[] = {"", "127.0.0.1:99999", "ws://127.0.0.1"};
	for (const char* szUrl : Urls)
	{
		SCOPED_TRACE(szUrl);
		CInProcessServer Server(ListingConfig(szUrl), false);
		ASSERT_TRUE(Server.Start());
		CMasterlistAnnouncer& Link = Server.GetServer().GetMasterlist();
		Link.Pulse(0.0f);
		EXPECT_EQ(Link.GetState(), MASTERLIST_WAITING);
		EXPECT_FALSE(Link.IsRunning());
		EXPECT_FLOAT_EQ(Link.GetRetryTimer(), 30.0f);
		Link.Pulse(29.5f);
		EXPECT_FLOAT_EQ(Link.GetRetryTimer(), 0.5f);
		// The timer stops at 0; the attempt comes at the pulse after.
		Link.Pulse(1.0f);
		EXPECT_FLOAT_EQ(Link.GetRetryTimer(), 0.0f);
		Link.Pulse(0.0f);
		EXPECT_FLOAT_EQ(Link.GetRetryTimer(), 30.0f);
	}
}

TEST(ServerListingRetry, AConnectionThatFailsIsTriedAgainFiveSecondsAfterItIsReported)
{
	// A host that refuses, and one whose system takes the connection while nobody ever answers the handshake.
	const uint16_t usSilentPort = FindFreePort();
	const int iSilent = BindPort(usSilentPort, SOCK_STREAM, INADDR_LOOPBACK);
	ASSERT_GE(iSilent, 0);
	ASSERT_EQ(listen(iSilent, 16), 0);
	const uint16_t rgusPorts[] = {FindFreePort(), usSilentPort};
	for (const uint16_t usPort : rgusPorts)
	{
		SCOPED_TRACE(usPort);
		CInProcessServer Server(ListingConfig("127.0.0.1:" + std::to_string(usPort)), false);
		ASSERT_TRUE(Server.Start());
		CMasterlistAnnouncer& Link = Server.GetServer().GetMasterlist();
		// The silent host is given up on after a second instead of the link's usual half minute.
		Link.SetHandshakeTimeout(1);
		// The refusal may already come in the poll of the attempt's own pulse.
		Link.Pulse(0.0f);
		EXPECT_NE(Link.GetState(), MASTERLIST_WAITING);
		EXPECT_FLOAT_EQ(Link.GetRetryTimer(), 5.0f);
		ASSERT_TRUE(PulseUntil(Link, MASTERLIST_CLOSED));
		// Reported at the next pulse; the timer only counts down from then on.
		Link.Pulse(3.0f);
		EXPECT_EQ(Link.GetState(), MASTERLIST_WAITING);
		EXPECT_FALSE(Link.IsRunning());
		EXPECT_FLOAT_EQ(Link.GetRetryTimer(), 5.0f);
		Link.Pulse(4.5f);
		Link.Pulse(1.0f);
		EXPECT_EQ(Link.GetState(), MASTERLIST_WAITING);
		EXPECT_FLOAT_EQ(Link.GetRetryTimer(), 0.0f);
		Link.Pulse(0.0f);
		EXPECT_NE(Link.GetState(), MASTERLIST_WAITING);
		EXPECT_FLOAT_EQ(Link.GetRetryTimer(), 5.0f);
	}
	close(iSilent);
}

TEST(ServerListingOff, TheLinkStaysIdleAndNothingIsSent)
{
	CWebTool Listing;
	const uint16_t usListingPort = FindFreePort();
	ASSERT_TRUE(Listing.StartServer(usListingPort, MASTERLIST_PROTOCOL));
	CInProcessServer Server(
		"\t<serverbrowser>false</serverbrowser>\n\t<serverlistingurl>127.0.0.1:" + std::to_string(usListingPort) +
			"</serverlistingurl>\n",
		false);
	ASSERT_TRUE(Server.Start());
	CGameClient Alice;
	Server.Attach(Alice);
	tJoinRequest Request;
	ASSERT_TRUE(Alice.Join(Server.GetPort(), Request));
	Server.GetServer().SetServerName("Renamed");
	for (int i = 0; i < 100; i++)
		Server.Pass();
	EXPECT_FALSE(Server.GetServer().GetMasterlist().IsRunning());
	EXPECT_EQ(Server.GetServer().GetMasterlist().GetState(), MASTERLIST_WAITING);
	EXPECT_EQ(Listing.GetOutput(), "ready\n");
}

TEST(ServerListingDescription, HoldsEveryOccupiedSlotInOrderWithItsIndexAsANumber)
{
	struct tCase
	{
		const char* m_szPassword;
		uint8_t m_ucFlags;
	};
	const tCase Cases[] = {{"", 0x0D}, {"\t<password>pw</password>\n", 0x0F}};
	for (const tCase& Case : Cases)
	{
		SCOPED_TRACE(Case.m_szPassword);
		CInProcessServer Server(std::string(Case.m_szPassword) +
				"\t<game>gta:vc</game>\n\t<servername>N</servername>\n\t<gamemode>M</gamemode>\n"
				"\t<maxplayers>5</maxplayers>\n\t<minclientversion>1.2.3.4</minclientversion>\n",
			false);
		ASSERT_TRUE(Server.Start());
		CGTAServer& Game = Server.GetServer();
		// Beyond any joined player's slot: its index takes two bytes.
		Strong<CNetMachine> pFar = Strong<CNetMachine>::New(Game.NewMachine(Game.GetManager()));
		pFar->SetName("Far");
		pFar->SetGameName("gta:sa");
		ASSERT_TRUE(Game.GetClients().SetMachine(200, pFar));

		Packet Message;
		CMasterlistAnnouncer::BuildServerInfo(&Game, Message);
		const tData Bytes(Message.GetData(), Message.GetData() + Message.GetSize());
		const tData Expected = CTestMessage()
								   .VarUInt(0)
								   .U8(Case.m_ucFlags)
								   .U8(1)
								   .String("gta:vc")
								   .VarUInt(28)
								   .VarUInt(Server.GetPort())
								   .VarUInt(5)
								   .VarUInt(0)
								   .U8(0xC8)
								   .U8(0x01)
								   .String("Far")
								   .String("gta:sa")
								   .VarUInt(255)
								   .String("Console")
								   .String("gta:vc")
								   .String("N")
								   .String("M")
								   .VarUInt(1)
								   .VarUInt(2)
								   .VarUInt(3)
								   .GetBytes();
		EXPECT_EQ(ToHex(Bytes), ToHex(Expected));
		Game.GetClients().SetMachine(200, nullptr);
	}
}
