// Black-box tests of the join handshake: the real server binary and a game-client stand-in on the loopback, with
// and without the network thread.

#include <gtest/gtest.h>
#include <chrono>
#include <openssl/evp.h>
#include <thread>

#include "InProcessServer.h"
#include "ServerHarness.h"
#include "Support/GameClient.h"
#include "Support/Transport.h"

#include "Scripting/EventHandlers.h"

using namespace ServerTest;
using namespace VexaTest;

namespace
{
constexpr uint32_t REASON_SERVER_FULL = 1;
constexpr uint32_t REASON_UNSUPPORTED_CLIENT = 2;
constexpr uint32_t REASON_WRONG_GAME = 3;
constexpr uint32_t REASON_WRONG_PASSWORD = 4;
constexpr uint32_t REASON_QUIT = 6;
constexpr uint32_t REASON_BANNED = 7;
constexpr uint32_t REASON_INVALID_NICKNAME = 9;
constexpr uint32_t REASON_NICKNAME_IN_USE = 12;
constexpr uint32_t REASON_FILE_CHECK_FAILED = 14;

tDigest DigestOf(const std::string& Content)
{
	unsigned char Bytes[EVP_MAX_MD_SIZE];
	unsigned int uiLength = 0;
	EVP_Digest(Content.data(), Content.size(), Bytes, &uiLength, EVP_md5(), nullptr);
	tDigest Digest{};
	for (size_t i = 0; i < 4; i++)
		Digest[i] = Bytes[i * 4] | Bytes[i * 4 + 1] << 8 | Bytes[i * 4 + 2] << 16 | static_cast<uint32_t>(Bytes[i * 4 + 3]) << 24;
	return Digest;
}

tJoinRequest Request(const std::string& Name)
{
	tJoinRequest Result;
	Result.m_Name = Name;
	return Result;
}

const char SERVER_PASSWORD[] = "secret";

tJoinRequest WithPassword(const std::string& Name, const std::string& Password)
{
	tJoinRequest Result = Request(Name);
	Result.m_Password = Password;
	return Result;
}

std::vector<uint32_t> Ids(const std::vector<tReceivedMessage>& Messages)
{
	std::vector<uint32_t> Result;
	for (const tReceivedMessage& Message : Messages)
		Result.push_back(Message.m_uiId);
	return Result;
}

const tReceivedMessage* Find(const std::vector<tReceivedMessage>& Messages, uint32_t uiId)
{
	for (const tReceivedMessage& Message : Messages)
	{
		if (Message.m_uiId == uiId)
			return &Message;
	}
	return nullptr;
}

// The names of the clients a client list (message 20) holds, by index; empty when it does not hold a whole list.
std::map<uint32_t, std::string> ListedNames(const tReceivedMessage& Message)
{
	uint16_t usMaxPlayers = 0;
	std::map<uint32_t, tClientBlock> Clients;
	std::map<uint32_t, std::string> Names;
	if (ReadClientList(Message, usMaxPlayers, Clients))
	{
		for (const auto& Entry : Clients)
			Names[Entry.first] = Entry.second.m_Name;
	}
	return Names;
}

// Everything the client holds once the message with the id has arrived.
std::vector<tReceivedMessage> ReceiveThrough(CGameClient& Client, uint32_t uiId)
{
	std::vector<tReceivedMessage> Messages;
	tReceivedMessage Message;
	while (Client.Receive(Message))
	{
		Messages.push_back(Message);
		if (Message.m_uiId == uiId)
			break;
	}
	return Messages;
}

class ClientHandshake : public ::testing::TestWithParam<bool>
{
protected:
	void StartServer(const std::string& Children = "")
	{
		int iPort = 0;
		std::string Config = MakeConfig(Children + (GetParam() ? "\t<multithreaded>true</multithreaded>\n" : ""), iPort);
		m_usPort = static_cast<uint16_t>(iPort);
		StartAndWait(m_Server, Config);
	}

	CServerProcess m_Server;
	uint16_t m_usPort = 0;
};
}

TEST_P(ClientHandshake, ListeningLineFollowsAStartedTransport)
{
	StartServer();
	EXPECT_TRUE(m_Server.WaitForOutput("Server is now listening on port " + std::to_string(m_usPort) + " max players 32..."));
	CGameClient Client;
	EXPECT_TRUE(Client.Connect(m_usPort));
	EXPECT_TRUE(m_Server.WaitForOutput("CONNECT: 127.0.0.1 is attempting to connect"));
}

TEST_P(ClientHandshake, EveryRefusalCarriesItsCodeAndLogLine)
{
	struct tCase
	{
		const char* szCase;
		std::string Config;
		tJoinRequest Request;
		uint32_t uiReason;
		std::string Line;
	};
	tJoinRequest OldNetwork = Request("Player");
	OldNetwork.m_uiNetworkVersion = 27;
	tJoinRequest OldClient = Request("Player");
	OldClient.m_Version = {1, 0, 0, 0};
	tJoinRequest WrongPassword = Request("Player");
	WrongPassword.m_Password = "guess";
	tJoinRequest EmptyName = Request("");
	tJoinRequest LongName = Request(std::string(32, 'n'));
	tJoinRequest ZeroFirst = Request(std::string("\0abc", 4));
	tJoinRequest WrongGame = Request("Player");
	WrongGame.m_ucGame = 2;
	tJoinRequest ConsoleName = Request("CONSOLE");
	// Request layout: 4 network version, 16 version, password (1 byte for an empty one), 2 + n name, 1 game, 1 version.
	auto Cut = [](int iBytes) {
		tJoinRequest Result = Request("Player");
		Result.m_iCutAfter = iBytes;
		return Result;
	};
	tJoinRequest CutPassword = Request("Player");
	CutPassword.m_Password = "abc";
	CutPassword.m_iCutAfter = 22;

	const std::string Unsupported = "CONNECT: 127.0.0.1 revoked connection [UNSUPPORTED CLIENT]";
	const tCase Cases[] = {
		{"network version", "", OldNetwork, REASON_UNSUPPORTED_CLIENT,
			"CONNECT: 127.0.0.1 (27) revoked connection [UNSUPPORTED CLIENT]"},
		{"client version", "\t<minclientversion>1.0.0.1</minclientversion>\n", OldClient, REASON_UNSUPPORTED_CLIENT,
			Unsupported},
		{"password", "\t<password>secret</password>\n", WrongPassword, REASON_WRONG_PASSWORD,
			"CONNECT: 127.0.0.1 revoked connection [WRONG PASSWORD]"},
		{"empty name", "", EmptyName, REASON_INVALID_NICKNAME, "CONNECT: 127.0.0.1 revoked connection [INVALID NICKNAME]"},
		{"name of 32 bytes", "", LongName, REASON_INVALID_NICKNAME,
			"CONNECT: 127.0.0.1 revoked connection [INVALID NICKNAME]"},
		{"name starting with 0", "", ZeroFirst, REASON_INVALID_NICKNAME,
			"CONNECT: 127.0.0.1 revoked connection [INVALID NICKNAME]"},
		{"game", "", WrongGame, REASON_WRONG_GAME, "CONNECT: Player revoked connection [WRONG GAME]"},
		{"console's name", "", ConsoleName, REASON_NICKNAME_IN_USE, "CONNECT: CONSOLE revoked connection [NICKNAME IN USE]"},
		{"cut in network version", "", Cut(2), REASON_UNSUPPORTED_CLIENT, Unsupported},
		{"cut in client version", "", Cut(12), REASON_UNSUPPORTED_CLIENT, Unsupported},
		{"cut in password", "", CutPassword, REASON_WRONG_PASSWORD, "CONNECT: 127.0.0.1 revoked connection [WRONG PASSWORD]"},
		{"cut before name", "", Cut(21), REASON_INVALID_NICKNAME, "CONNECT: 127.0.0.1 revoked connection [INVALID NICKNAME]"},
		{"cut in name", "", Cut(25), REASON_INVALID_NICKNAME, "CONNECT: 127.0.0.1 revoked connection [INVALID NICKNAME]"},
		{"cut before game", "", Cut(29), REASON_WRONG_GAME, "CONNECT: Player revoked connection [WRONG GAME]"},
		{"cut before game version", "", Cut(30), REASON_WRONG_GAME, "CONNECT: Player revoked connection [WRONG GAME]"},
	};
	for (const tCase& Case : Cases)
	{
		CServerProcess Server;
		int iPort = 0;
		Server.WriteFile("server.xml",
			MakeConfig(Case.Config + (GetParam() ? "\t<multithreaded>true</multithreaded>\n" : ""), iPort));
		ASSERT_TRUE(Server.Start()) << Case.szCase;
		ASSERT_TRUE(Server.WaitForOutput("Resources loaded")) << Case.szCase;

		CGameClient Client;
		ASSERT_TRUE(Client.Connect(static_cast<uint16_t>(iPort))) << Case.szCase;
		ASSERT_TRUE(Client.SendJoinRequest(Case.Request)) << Case.szCase;
		ASSERT_TRUE(Client.WaitForDisconnect()) << Case.szCase;
		EXPECT_EQ(Client.GetDisconnectReason(), Case.uiReason) << Case.szCase;
		EXPECT_TRUE(Server.WaitForOutput(Case.Line)) << Case.szCase << "\n" << Server.GetRawOutput();
		tReceivedMessage Message;
		EXPECT_FALSE(Client.WaitForMessage(MSG_JOIN_INFO, Message, 0)) << Case.szCase;
	}
}

TEST_P(ClientHandshake, EachRefusalLogsOneWarningOfItsOwnInTheOrderOfTheChecks)
{
	// Every check on one server: a password, so the refusals on both sides of its check are seen; a minimum client
	// version; room for one player; and a command that bans the loopback address for the last case.
	m_Server.WriteFile("resources/gate/meta.xml",
		"<meta>\n\t<script src=\"main.lua\" type=\"server\" language=\"lua\" />\n</meta>\n");
	m_Server.WriteFile("resources/gate/main.lua",
		"addCommandHandler('banlocal', function() server.banIP('127.0.0.1') print('local address banned') end)\n");
	StartServer(std::string("\t<logpath>logs</logpath>\n\t<password>") + SERVER_PASSWORD + "</password>\n"
				"\t<minclientversion>1.0.0.1</minclientversion>\n\t<maxplayers>1</maxplayers>\n"
				"\t<resources>\n\t\t<resource src=\"gate\"/>\n\t</resources>\n");
	auto Join = [](const std::string& Name) {
		tJoinRequest Result = WithPassword(Name, SERVER_PASSWORD);
		Result.m_Version = {1, 0, 0, 1};
		return Result;
	};
	tJoinRequest OldNetwork = Join("Player");
	OldNetwork.m_uiNetworkVersion = 27;
	// Shown as a signed number.
	tJoinRequest HugeNetwork = Join("Player");
	HugeNetwork.m_uiNetworkVersion = 0xFFFFFFFFu;
	tJoinRequest OldClient = Join("Player");
	OldClient.m_Version = {1, 0, 0, 0};
	tJoinRequest CutPassword = Join("Player");
	CutPassword.m_iCutAfter = 22;
	tJoinRequest WrongPassword = Join("Player");
	WrongPassword.m_Password = "guess";
	tJoinRequest WrongGame = Join("Player");
	WrongGame.m_ucGame = 2;
	struct tCase
	{
		const char* m_szCase;
		tJoinRequest m_Request;
		uint32_t m_uiReason;
		const char* m_szLine;
	};
	const tCase Cases[] = {
		{"network version", OldNetwork, REASON_UNSUPPORTED_CLIENT,
			"[WARN]    CONNECT: 127.0.0.1 (27) revoked connection [UNSUPPORTED CLIENT]"},
		{"network version above the signed range", HugeNetwork, REASON_UNSUPPORTED_CLIENT,
			"[WARN]    CONNECT: 127.0.0.1 (-1) revoked connection [UNSUPPORTED CLIENT]"},
		{"client version", OldClient, REASON_UNSUPPORTED_CLIENT,
			"[WARN]    CONNECT: 127.0.0.1 revoked connection [UNSUPPORTED CLIENT]"},
		{"password cut short", CutPassword, REASON_WRONG_PASSWORD,
			"[WARN]    CONNECT: 127.0.0.1 revoked connection [WRONG PASSWORD]"},
		{"wrong password", WrongPassword, REASON_WRONG_PASSWORD,
			"[WARN]    CONNECT: 127.0.0.1 revoked connection [WRONG PASSWORD]"},
		{"name of 32 bytes", Join(std::string(32, 'n')), REASON_INVALID_NICKNAME,
			"[WARN]    CONNECT: 127.0.0.1 revoked connection [INVALID NICKNAME]"},
		{"game", WrongGame, REASON_WRONG_GAME, "[WARN]    CONNECT: Player revoked connection [WRONG GAME]"},
		{"", Join("Player"), 0, nullptr},
		{"name in use", Join("pLAYER"), REASON_NICKNAME_IN_USE,
			"[WARN]    CONNECT: pLAYER revoked connection [NICKNAME IN USE]"},
		{"server full", Join("Other"), REASON_SERVER_FULL, "[WARN]    CONNECT: Other revoked connection [SERVER FULL]"},
	};
	CGameClient Admitted;
	for (const tCase& Case : Cases)
	{
		SCOPED_TRACE(Case.m_szCase);
		if (!Case.m_szLine)
		{
			ASSERT_TRUE(Admitted.Join(m_usPort, Case.m_Request));
			continue;
		}
		CGameClient Client;
		ASSERT_TRUE(Client.Connect(m_usPort));
		ASSERT_TRUE(Client.SendJoinRequest(Case.m_Request));
		ASSERT_TRUE(Client.WaitForDisconnect());
		EXPECT_EQ(Client.GetDisconnectReason(), Case.m_uiReason);
	}
	ASSERT_TRUE(m_Server.WriteInput("banlocal\n"));
	ASSERT_TRUE(m_Server.WaitForOutput("local address banned"));
	CGameClient Banned;
	ASSERT_TRUE(Banned.Connect(m_usPort));
	ASSERT_TRUE(Banned.SendJoinRequest(Join("Banned")));
	ASSERT_TRUE(Banned.WaitForDisconnect());
	EXPECT_EQ(Banned.GetDisconnectReason(), REASON_BANNED);

	// One line each, whole, as a warning, in the order the peers were refused, and no other refusal line.
	std::vector<std::string> Expected;
	for (const tCase& Case : Cases)
	{
		if (Case.m_szLine)
			Expected.push_back(Case.m_szLine);
	}
	Expected.push_back("[WARN]    CONNECT: 127.0.0.1 revoked connection [BANNED]");
	std::vector<std::string> Refusals;
	for (const std::string& Line : LogLines(QuitAndReadLog(m_Server)))
	{
		if (Line.find("revoked connection") != std::string::npos)
			Refusals.push_back(Line);
	}
	EXPECT_EQ(Refusals, Expected);
}

TEST_P(ClientHandshake, EdgesOfTheChecksThatAreAccepted)
{
	tJoinRequest LongestName = Request(std::string(31, 'n'));
	tJoinRequest NewerMinor = Request("Player");
	NewerMinor.m_Version = {1, 1, 0, 0};
	tJoinRequest AnyPassword = Request("Player");
	AnyPassword.m_Password = "anything";
	tJoinRequest NameWithTail = Request(std::string("Tail\0xyz", 8));
	StartServer("\t<minclientversion>1.0.5.0</minclientversion>\n");
	for (tJoinRequest Accepted : {LongestName, NewerMinor, AnyPassword, NameWithTail})
	{
		if (Accepted.m_Version[1] == 0)
			Accepted.m_Version = {1, 0, 5, 0};
		CGameClient Client;
		tJoinInfo Info;
		ASSERT_TRUE(Client.Connect(m_usPort));
		ASSERT_TRUE(Client.SendJoinRequest(Accepted));
		EXPECT_TRUE(Client.WaitForJoinInfo(Info)) << Accepted.m_Name;
		EXPECT_TRUE(Client.Disconnect(0));
	}
}

TEST_P(ClientHandshake, NamesThatAreNotPlainTextAreRefused)
{
	StartServer();
	struct tCase
	{
		const char* szCase;
		std::string Name;
		uint8_t ucGame; // a wrong game would log the name, were it let through
	};
	const tCase Refused[] = {
		{"line feed", "Evil\nFORGED: line", 2},
		{"carriage return", "Evil\rFORGED: line", 2},
		{"escape", "Evil\x1B]0;FORGED\x07", 2},
		{"tab", "Evil\tname", 1},
		{"delete", "Evil\x7F", 1},
		{"C1 control", "Evil\xC2\x9B" "31m", 2},
		{"stray continuation byte", "Evil\x9B", 1},
		{"cut character", "Evil\xC3", 1},
		{"overlong form", "Evil\xC0\xAF", 1},
		{"surrogate", "Evil\xED\xA0\x80", 1},
	};
	for (const tCase& Case : Refused)
	{
		tJoinRequest Join = Request(Case.Name);
		Join.m_ucGame = Case.ucGame;
		CGameClient Client;
		ASSERT_TRUE(Client.Connect(m_usPort)) << Case.szCase;
		ASSERT_TRUE(Client.SendJoinRequest(Join)) << Case.szCase;
		ASSERT_TRUE(Client.WaitForDisconnect()) << Case.szCase;
		EXPECT_EQ(Client.GetDisconnectReason(), REASON_INVALID_NICKNAME) << Case.szCase;
	}
	for (const char* szName : {"J\xC3\xB6rg", "\xE4\xB8\xAD\xE6\x96\x87", "No\xC2\xA0" "break"})
	{
		CGameClient Client;
		EXPECT_TRUE(Client.Join(m_usPort, Request(szName))) << szName;
	}
	m_Server.WriteInput("quit\n");
	ASSERT_EQ(m_Server.WaitForExit(), 0);
	const std::string Output = m_Server.GetRawOutput();
	EXPECT_EQ(Output.find("FORGED"), std::string::npos) << Output;
	size_t Refusals = 0;
	for (const std::string& Line : m_Server.GetOutputLines())
		Refusals += Line == "CONNECT: 127.0.0.1 revoked connection [INVALID NICKNAME]" ? 1 : 0;
	EXPECT_EQ(Refusals, std::size(Refused));
}

TEST_P(ClientHandshake, ServerFullAtMaxPlayersEvenWithSlotsFree)
{
	StartServer("\t<maxplayers>2</maxplayers>\n");
	CGameClient First, Second, Third;
	ASSERT_TRUE(First.Join(m_usPort, Request("First")));
	ASSERT_TRUE(Second.Join(m_usPort, Request("Second")));
	ASSERT_TRUE(Third.Connect(m_usPort));
	ASSERT_TRUE(Third.SendJoinRequest(Request("Third")));
	ASSERT_TRUE(Third.WaitForDisconnect());
	EXPECT_EQ(Third.GetDisconnectReason(), REASON_SERVER_FULL);
	EXPECT_TRUE(m_Server.WaitForOutput("CONNECT: Third revoked connection [SERVER FULL]"));
}

TEST_P(ClientHandshake, NamesInUseCompareWithoutRegardToCase)
{
	StartServer();
	CGameClient First, Second;
	ASSERT_TRUE(First.Join(m_usPort, Request("Player")));
	ASSERT_TRUE(Second.Connect(m_usPort));
	ASSERT_TRUE(Second.SendJoinRequest(Request("pLAYER")));
	ASSERT_TRUE(Second.WaitForDisconnect());
	EXPECT_EQ(Second.GetDisconnectReason(), REASON_NICKNAME_IN_USE);
	EXPECT_TRUE(m_Server.WaitForOutput("CONNECT: pLAYER revoked connection [NICKNAME IN USE]"));
}

TEST_P(ClientHandshake, DuplicateNamesWhenAllowed)
{
	StartServer("\t<duplicatenames>true</duplicatenames>\n");
	CGameClient First, Second;
	ASSERT_TRUE(First.Join(m_usPort, Request("Console")));
	EXPECT_TRUE(Second.Join(m_usPort, Request("Console")));
}

TEST_P(ClientHandshake, JoinMessagesComeInOrderWithTheirContents)
{
	StartServer("\t<servername>Test Server</servername>\n\t<gamemode>Racing</gamemode>\n"
				"\t<cvar name=\"gravity\" value=\"low\"/>\n\t<syncinterval>45</syncinterval>\n"
				"\t<httpurl>http://example.invalid</httpurl>\n");
	CGameClient Client;
	ASSERT_TRUE(Client.Connect(m_usPort));
	ASSERT_TRUE(Client.SendJoinRequest(Request("Player")));
	std::vector<tReceivedMessage> Messages = ReceiveThrough(Client, MSG_CLIENT_LIST);
	EXPECT_EQ(Ids(Messages), (std::vector<uint32_t>{MSG_FILE_CHECK, MSG_CLIENT_VARIABLES, MSG_JOIN_INFO, MSG_GAME_MODE,
								MSG_SERVER_NAME, MSG_CLIENT_LIST}));

	std::vector<std::string> Paths;
	ASSERT_TRUE(Find(Messages, MSG_FILE_CHECK));
	EXPECT_TRUE(ReadFileCheckRequest(*Find(Messages, MSG_FILE_CHECK), Paths));
	EXPECT_TRUE(Paths.empty());

	CTestMessageReader Variables(Find(Messages, MSG_CLIENT_VARIABLES)->m_Body);
	uint16_t usCount = 0;
	uint32_t uiBlockLength = 0;
	std::string Name, Value;
	ASSERT_TRUE(Variables.U16(usCount) && Variables.VarUInt(uiBlockLength) && Variables.String(Name) &&
		Variables.String(Value));
	EXPECT_EQ(usCount, 1);
	EXPECT_EQ(uiBlockLength, 1 + Name.size() + 1 + Value.size());
	EXPECT_EQ(Name + "=" + Value, "gravity=low");

	tJoinInfo Info;
	ASSERT_TRUE(ReadJoinInfo(*Find(Messages, MSG_JOIN_INFO), Info));
	EXPECT_EQ(Info.m_iIndex, 0);
	EXPECT_EQ(Info.m_HttpUrl, "http://example.invalid");
	EXPECT_EQ(Info.m_usSyncInterval, 45);
	EXPECT_EQ(Info.m_ucReserved, 0);
	EXPECT_EQ(Info.m_ucSyncMethod, 1);

	std::string Text;
	EXPECT_TRUE(CTestMessageReader(Find(Messages, MSG_GAME_MODE)->m_Body).String(Text));
	EXPECT_EQ(Text, "Racing");
	EXPECT_TRUE(CTestMessageReader(Find(Messages, MSG_SERVER_NAME)->m_Body).String(Text));
	EXPECT_EQ(Text, "Test Server");

	uint16_t usMaxPlayers = 0;
	std::map<uint32_t, tClientBlock> Clients;
	ASSERT_TRUE(ReadClientList(*Find(Messages, MSG_CLIENT_LIST), usMaxPlayers, Clients));
	EXPECT_EQ(usMaxPlayers, 32);
	ASSERT_EQ(Clients.size(), 2u);
	EXPECT_EQ(Clients[0].m_Name, "Player");
	EXPECT_EQ(Clients[0].m_ucFlags, 0);
	EXPECT_EQ(Clients[0].m_ucGame, 1);
	EXPECT_EQ(Clients[0].m_iPlayer, -1);
	EXPECT_EQ(Clients[255].m_Name, "Console");
	EXPECT_EQ(Clients[255].m_ucFlags, 3);
	EXPECT_EQ(Clients[255].m_ucGameVersion, 0);
}

TEST_P(ClientHandshake, ReadySequenceSendsResourcesWorldPlayerAndJoined)
{
	StartServer();
	CGameClient Client;
	tJoinInfo Info;
	std::vector<std::string> Paths;
	ASSERT_TRUE(Client.Connect(m_usPort));
	ASSERT_TRUE(Client.SendJoinRequest(Request("Player")));
	ASSERT_TRUE(Client.WaitForJoinInfo(Info));
	ASSERT_TRUE(Client.WaitForFileCheckRequest(Paths));
	ASSERT_TRUE(Client.SendFileCheckAnswer({}));
	ReceiveThrough(Client, MSG_CLIENT_LIST);
	ASSERT_TRUE(Client.SendReady());
	std::vector<tReceivedMessage> Messages = ReceiveThrough(Client, MSG_JOINED);
	EXPECT_EQ(Ids(Messages), (std::vector<uint32_t>{MSG_RESOURCES_STARTED, MSG_MINUTE_DURATION, MSG_CLOCK, MSG_WEATHER,
								MSG_TIMER, MSG_SSV_BRIDGE, MSG_OWN_PLAYER, MSG_JOINED}));
	ASSERT_EQ(Messages.size(), 8u);
	EXPECT_EQ(Messages[0].m_Body, (std::vector<uint8_t>{0, 0, 0, 0}));
	EXPECT_EQ(Messages[1].m_Body, (std::vector<uint8_t>{0xE8, 0x03, 0, 0}));
	EXPECT_EQ(Messages[3].m_Body, (std::vector<uint8_t>{1, 0}));
	EXPECT_EQ(Messages[5].m_Body, (std::vector<uint8_t>{1, 0, 0, 0, 0, 0, 0, 0}));
	EXPECT_EQ(Messages[6].m_Body, (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF}));
	EXPECT_TRUE(Messages[7].m_Body.empty());
}

TEST_P(ClientHandshake, OtherGamesGetNoBridgeAndTimeSyncCanBeOff)
{
	StartServer("\t<game>gta:vc</game>\n\t<timesync>false</timesync>\n");
	tJoinRequest ViceCity = Request("Player");
	ViceCity.m_ucGame = 2;
	CGameClient Client;
	tJoinInfo Info;
	std::vector<std::string> Paths;
	ASSERT_TRUE(Client.Connect(m_usPort));
	ASSERT_TRUE(Client.SendJoinRequest(ViceCity));
	ASSERT_TRUE(Client.WaitForJoinInfo(Info));
	ASSERT_TRUE(Client.SendFileCheckAnswer({}));
	ReceiveThrough(Client, MSG_CLIENT_LIST);
	ASSERT_TRUE(Client.SendReady());
	EXPECT_EQ(Ids(ReceiveThrough(Client, MSG_JOINED)),
		(std::vector<uint32_t>{MSG_RESOURCES_STARTED, MSG_MINUTE_DURATION, MSG_WEATHER, MSG_TIMER, MSG_OWN_PLAYER,
			MSG_JOINED}));
}

TEST_P(ClientHandshake, MinuteDurationThatIsNotAboveZeroIsRefused)
{
	for (const char* szValue : {"0", "-2", "nan", "inf"})
	{
		CServerProcess Server;
		int iPort = 0;
		Server.WriteFile("server.xml", MakeConfig(std::string("\t<minuteduration>") + szValue + "</minuteduration>\n", iPort));
		ASSERT_TRUE(Server.Start());
		ASSERT_TRUE(Server.WaitForOutput("Resources loaded")) << szValue;
		EXPECT_TRUE(Server.WaitForOutput("The minute duration must be a number above zero; keeping 1.")) << szValue;

		CGameClient Client;
		ASSERT_TRUE(Client.Join(static_cast<uint16_t>(iPort), Request("Player")));
		tReceivedMessage Message;
		ASSERT_TRUE(Client.WaitForMessage(MSG_MINUTE_DURATION, Message));
		EXPECT_EQ(Message.m_Body, (std::vector<uint8_t>{0xE8, 0x03, 0, 0})) << szValue;
	}
}

TEST_P(ClientHandshake, FileCheckVerifiesEveryDigestInOrder)
{
	const std::string First = "first file", Second = "second file";
	m_Server.WriteFile("check/first.dat", First);
	m_Server.WriteFile("check/second.dat", Second);
	const std::string Config = "\t<anticheat>\n\t\t<file path=\"data/first.dat\" src=\"/check/first.dat\"/>\n"
							   "\t\t<file path=\"data/second.dat\" src=\"/check/second.dat\"/>\n"
							   "\t\t<file path=\"data/missing.dat\" src=\"/check/missing.dat\"/>\n\t</anticheat>\n";
	StartServer(Config);
	EXPECT_TRUE(m_Server.WaitForOutput("Adding anticheat file /check/first.dat. Game path: data/first.dat"));
	EXPECT_TRUE(m_Server.WaitForOutput("Failed to read anticheat file /check/missing.dat."));

	struct tCase
	{
		const char* szCase;
		std::vector<tDigest> Digests;
		bool bAccepted;
		std::string Line;
	};
	tDigest Wrong = DigestOf(Second);
	Wrong[3] ^= 1;
	const tCase Cases[] = {
		{"second digest wrong", {DigestOf(First), Wrong}, false,
			"CONNECT: 127.0.0.1 revoked connection [CRC CHECK FAILED - data/second.dat]"},
		{"count short", {DigestOf(First)}, false, "CONNECT: 127.0.0.1 revoked connection [CRC CHECK FAILED]"},
		{"every digest right", {DigestOf(First), DigestOf(Second)}, true, ""},
	};
	for (const tCase& Case : Cases)
	{
		CGameClient Client;
		std::vector<std::string> Paths;
		tJoinInfo Info;
		ASSERT_TRUE(Client.Connect(m_usPort));
		ASSERT_TRUE(Client.SendJoinRequest(Request("Player")));
		ASSERT_TRUE(Client.WaitForFileCheckRequest(Paths));
		EXPECT_EQ(Paths, (std::vector<std::string>{"data/first.dat", "data/second.dat"}));
		ASSERT_TRUE(Client.SendFileCheckAnswer(Case.Digests));
		ASSERT_TRUE(Client.SendReady());
		if (Case.bAccepted)
		{
			tReceivedMessage Joined;
			EXPECT_TRUE(Client.WaitForMessage(MSG_JOINED, Joined)) << Case.szCase;
			uint32_t uiReason = REASON_QUIT;
			Client.SendDisconnect(&uiReason);
		}
		else
			EXPECT_TRUE(m_Server.WaitForOutput(Case.Line)) << Case.szCase;
		ASSERT_TRUE(Client.WaitForDisconnect()) << Case.szCase;
		EXPECT_EQ(Client.GetDisconnectReason(), Case.bAccepted ? REASON_QUIT : REASON_FILE_CHECK_FAILED) << Case.szCase;
	}
}

TEST_P(ClientHandshake, TwoClientsSeeEachOtherJoinAndLeave)
{
	StartServer();
	CGameClient First, Second;
	ASSERT_TRUE(First.Join(m_usPort, Request("First")));
	First.TakeAll();
	ASSERT_TRUE(Second.Join(m_usPort, Request("Second")));

	tReceivedMessage Message;
	ASSERT_TRUE(First.WaitForMessage(MSG_CLIENT_JOINED, Message));
	uint32_t uiIndex = 0;
	tClientBlock Block;
	ASSERT_TRUE(ReadClientJoined(Message, uiIndex, Block));
	EXPECT_EQ(uiIndex, 1u);
	EXPECT_EQ(Block.m_Name, "Second");

	ASSERT_TRUE(Second.WaitForMessage(MSG_CLIENT_LIST, Message));
	EXPECT_EQ(ListedNames(Message),
		(std::map<uint32_t, std::string>{{0, "First"}, {1, "Second"}, {255, "Console"}}));

	uint32_t uiReason = REASON_QUIT;
	ASSERT_TRUE(Second.SendDisconnect(&uiReason));
	ASSERT_TRUE(Second.WaitForDisconnect());
	EXPECT_EQ(Second.GetDisconnectReason(), REASON_QUIT);
	ASSERT_TRUE(First.WaitForMessage(MSG_CLIENT_LEFT, Message));
	ASSERT_TRUE(ReadClientLeft(Message, uiIndex));
	EXPECT_EQ(uiIndex, 1u);

	// The slot and the name are free again.
	CGameClient Again;
	ASSERT_TRUE(Again.Join(m_usPort, Request("Second")));
	EXPECT_EQ(Again.GetIndex(), 1);

	ASSERT_TRUE(Again.Disconnect(0));
	ASSERT_TRUE(First.WaitForMessage(MSG_CLIENT_LEFT, Message));
	ASSERT_TRUE(ReadClientLeft(Message, uiIndex));
	EXPECT_EQ(uiIndex, 1u);
}

TEST_P(ClientHandshake, EmptyDisconnectMessageMeansReasonSix)
{
	StartServer();
	CGameClient Client;
	ASSERT_TRUE(Client.Join(m_usPort, Request("Player")));
	ASSERT_TRUE(Client.SendDisconnect());
	ASSERT_TRUE(Client.WaitForDisconnect());
	EXPECT_EQ(Client.GetDisconnectReason(), REASON_QUIT);
}

TEST_P(ClientHandshake, ReasonTwelveKeepsTheSlotOnlyUntilTheTransportReportsTheDisconnect)
{
	StartServer();
	CGameClient Watcher, Leaving;
	ASSERT_TRUE(Watcher.Join(m_usPort, Request("Watcher")));
	ASSERT_TRUE(Leaving.Join(m_usPort, Request("Leaving")));
	uint32_t uiReason = REASON_NICKNAME_IN_USE;
	ASSERT_TRUE(Leaving.SendDisconnect(&uiReason));
	ASSERT_TRUE(Leaving.WaitForDisconnect());
	EXPECT_EQ(Leaving.GetDisconnectReason(), REASON_NICKNAME_IN_USE);

	tReceivedMessage Message;
	uint32_t uiIndex = 0;
	ASSERT_TRUE(Watcher.WaitForMessage(MSG_CLIENT_LEFT, Message));
	ASSERT_TRUE(ReadClientLeft(Message, uiIndex));
	EXPECT_EQ(uiIndex, 1u);

	// A transport disconnect that carries 12 removes the client as well.
	CGameClient Again;
	ASSERT_TRUE(Again.Join(m_usPort, Request("Leaving")));
	ASSERT_TRUE(Again.Disconnect(REASON_NICKNAME_IN_USE));
	ASSERT_TRUE(Watcher.WaitForMessage(MSG_CLIENT_LEFT, Message));
	CGameClient Third;
	EXPECT_TRUE(Third.Join(m_usPort, Request("Leaving")));
}

TEST_P(ClientHandshake, SecondJoinRequestFromAJoinedPeerIsIgnored)
{
	StartServer();
	CGameClient Client;
	ASSERT_TRUE(Client.Join(m_usPort, Request("Player")));
	Client.TakeAll();
	ASSERT_TRUE(Client.SendJoinRequest(Request("Other")));
	// The ready message after it still answers, and nothing about a second join came first.
	ASSERT_TRUE(Client.SendReady());
	std::vector<tReceivedMessage> Messages = ReceiveThrough(Client, MSG_JOINED);
	EXPECT_EQ(Find(Messages, MSG_JOIN_INFO), nullptr);
	EXPECT_EQ(Find(Messages, MSG_FILE_CHECK), nullptr);
	EXPECT_NE(Find(Messages, MSG_JOINED), nullptr);
}

TEST_P(ClientHandshake, WithAServerPasswordTheOtherChecksFollowItsAnswer)
{
	StartServer(std::string("\t<password>") + SERVER_PASSWORD + "</password>\n");
	tJoinRequest WrongGame = WithPassword("Player", SERVER_PASSWORD);
	WrongGame.m_ucGame = 2;
	tJoinRequest CutInName = WithPassword("Player", SERVER_PASSWORD);
	// 4 network version, 16 version, 7 password, 2 + 6 name: cut inside the name.
	CutInName.m_iCutAfter = 31;
	struct tCase
	{
		const char* m_szCase;
		tJoinRequest m_Request;
		uint32_t m_uiReason;
		std::string m_Line;
	};
	const tCase Cases[] = {
		{"a wrong password before an empty name", WithPassword("", "guess"), REASON_WRONG_PASSWORD,
			"CONNECT: 127.0.0.1 revoked connection [WRONG PASSWORD]"},
		{"an empty name", WithPassword("", SERVER_PASSWORD), REASON_INVALID_NICKNAME,
			"CONNECT: 127.0.0.1 revoked connection [INVALID NICKNAME]"},
		{"a request cut in the name", CutInName, REASON_INVALID_NICKNAME,
			"CONNECT: 127.0.0.1 revoked connection [INVALID NICKNAME]"},
		{"a wrong game", WrongGame, REASON_WRONG_GAME, "CONNECT: Player revoked connection [WRONG GAME]"},
		{"the console's name", WithPassword("console", SERVER_PASSWORD), REASON_NICKNAME_IN_USE,
			"CONNECT: console revoked connection [NICKNAME IN USE]"},
	};
	for (const tCase& Case : Cases)
	{
		SCOPED_TRACE(Case.m_szCase);
		CGameClient Client;
		ASSERT_TRUE(Client.Connect(m_usPort));
		ASSERT_TRUE(Client.SendJoinRequest(Case.m_Request));
		ASSERT_TRUE(Client.WaitForDisconnect());
		EXPECT_EQ(Client.GetDisconnectReason(), Case.m_uiReason);
		EXPECT_TRUE(m_Server.WaitForOutput(Case.m_Line)) << m_Server.GetRawOutput();
	}

	// The right password: the same messages in the same order as on a server without one.
	CGameClient Client;
	ASSERT_TRUE(Client.Connect(m_usPort));
	ASSERT_TRUE(Client.SendJoinRequest(WithPassword("Player", SERVER_PASSWORD)));
	EXPECT_EQ(Ids(ReceiveThrough(Client, MSG_CLIENT_LIST)), (std::vector<uint32_t>{MSG_FILE_CHECK,
		MSG_CLIENT_VARIABLES, MSG_JOIN_INFO, MSG_GAME_MODE, MSG_SERVER_NAME, MSG_CLIENT_LIST}));
}

TEST_P(ClientHandshake, WrongPasswordsFromOneAddressSlowItDownWithoutShuttingItOut)
{
	StartServer(std::string("\t<password>") + SERVER_PASSWORD + "</password>\n");
	// The third failure cannot come before its request was sent.
	std::chrono::steady_clock::time_point LastGuess;
	for (int i = 0; i < 3; i++)
	{
		CGameClient Guesser;
		ASSERT_TRUE(Guesser.Connect(m_usPort));
		LastGuess = std::chrono::steady_clock::now();
		ASSERT_TRUE(Guesser.SendJoinRequest(WithPassword("Guesser", "guess")));
		ASSERT_TRUE(Guesser.WaitForDisconnect());
		EXPECT_EQ(Guesser.GetDisconnectReason(), REASON_WRONG_PASSWORD);
	}
	// From the third failure on the address waits, first half a second; the right password still gets in.
	CGameClient Client;
	tJoinInfo Info;
	ASSERT_TRUE(Client.Connect(m_usPort));
	ASSERT_TRUE(Client.SendJoinRequest(WithPassword("Player", SERVER_PASSWORD)));
	ASSERT_TRUE(Client.WaitForJoinInfo(Info));
	// A lower bound only: the delay is a rule of the server, not a speed.
	EXPECT_GE(std::chrono::steady_clock::now() - LastGuess, std::chrono::milliseconds(450));
	EXPECT_GE(FindLine(m_Server.GetOutputLines(),
				  "CONNECT: password checks for 127.0.0.1 are slowed down after 3 failed attempts"),
		0) << m_Server.GetRawOutput();
}

TEST_P(ClientHandshake, OneJoinRequestOfAPeerIsCheckedAtATimeAndAPeerThatLeavesLeavesNothing)
{
	StartServer(std::string("\t<password>") + SERVER_PASSWORD + "</password>\n");
	CGameClient Watcher;
	ASSERT_TRUE(Watcher.Join(m_usPort, WithPassword("Watcher", SERVER_PASSWORD)));

	// A second request while the first is being checked is dropped: the client joins once, by its first name.
	CGameClient Twice;
	ASSERT_TRUE(Twice.Connect(m_usPort));
	ASSERT_TRUE(Twice.SendJoinRequest(WithPassword("First", SERVER_PASSWORD)));
	ASSERT_TRUE(Twice.SendJoinRequest(WithPassword("Second", SERVER_PASSWORD)));
	tReceivedMessage Message;
	ASSERT_TRUE(Twice.WaitForMessage(MSG_CLIENT_LIST, Message));
	EXPECT_EQ(ListedNames(Message),
		(std::map<uint32_t, std::string>{{0, "Watcher"}, {1, "First"}, {255, "Console"}}));

	// One that leaves right after asking: whether its check ended first or not, neither its slot nor its name
	// stays taken.
	{
		CGameClient Leaver;
		ASSERT_TRUE(Leaver.Connect(m_usPort));
		ASSERT_TRUE(Leaver.SendJoinRequest(WithPassword("Leaver", SERVER_PASSWORD)));
		ASSERT_TRUE(Leaver.Disconnect(REASON_QUIT));
	}
	CGameClient Again;
	ASSERT_TRUE(Again.Join(m_usPort, WithPassword("Leaver", SERVER_PASSWORD)));
	EXPECT_EQ(Again.GetIndex(), 2);
	EXPECT_EQ(FindLine(m_Server.GetOutputLines(), "CONNECT: Second revoked connection [NICKNAME IN USE]"), -1);
}

INSTANTIATE_TEST_SUITE_P(Transport, ClientHandshake, ::testing::Bool(), DescribeTransport);

TEST(ClientHandshakeStart, PortInUseFailsTheStart)
{
	CServerProcess Server;
	int iPort = 0;
	int iExitStatus = -1;
	ASSERT_TRUE(RunWithGamePortHeld(Server, eStdin::DevNull, iPort, iExitStatus));
	EXPECT_EQ(iExitStatus, 1);
	std::vector<std::string> Lines = Server.GetOutputLines();
	EXPECT_GE(FindLine(Lines, "Failed to start the server!"), 0);
	EXPECT_LT(FindLine(Lines, "Server is now listening on port " + std::to_string(iPort) + " max players 32..."), 0);
}

TEST(ClientHandshakeStart, UnknownBindAddressFailsTheStart)
{
	CServerProcess Server;
	Server.WriteFile("server.xml", MakeConfig("\t<bindip>no-such-host.invalid</bindip>\n"));
	ASSERT_TRUE(Server.Start({}, eStdin::DevNull));
	EXPECT_EQ(Server.WaitForExit(), 1);
	EXPECT_GE(FindLine(Server.GetOutputLines(), "Failed to start the server!"), 0);
}

namespace
{
// Cancels every connect, as a script handler of OnPlayerConnect may.
class CRefuseConnect : public EventHandlers::CEventHandler
{
public:
	explicit CRefuseConnect(EventHandlers::CEventHandlers* pOwner) : CEventHandler(pOwner, nullptr, nullptr) {}

	void Execute(EventHandlers::CEvent* pEvent, const char*, const CArgumentArray& Arguments) override
	{
		const CArgument* pAddress = Arguments.GetAt(0);
		if (pAddress && pAddress->GetType() == ARGUMENT_STRING)
			m_Address = static_cast<const CArgumentString*>(pAddress)->GetString();
		m_ThreadId = std::this_thread::get_id();
		static_cast<EventHandlers::CCancellableEvent*>(pEvent)->PreventDefault();
	}

	std::string m_Address;
	std::thread::id m_ThreadId;
};
}

TEST_P(ClientHandshake, CancelledConnectRefusesThePeer)
{
	CInProcessServer Server("", GetParam());
	ASSERT_TRUE(Server.Start());
	EventHandlers::CEventHandlers* pEvents = Server.GetServer().GetResourceMgr().GetEventHandlers();
	CRefuseConnect* pHandler = new CRefuseConnect(pEvents);
	pEvents->GetEventType("OnPlayerConnect")->AddHandler(pHandler);

	CGameClient Client;
	Server.Attach(Client);
	Client.Connect(Server.GetPort());
	ASSERT_TRUE(Client.WaitForDisconnect());
	EXPECT_EQ(Client.GetDisconnectReason(), 13u);
	EXPECT_EQ(pHandler->m_Address, "127.0.0.1");
	// Whichever thread services the host, the server hears of the connect on the thread that runs its passes.
	EXPECT_EQ(pHandler->m_ThreadId, std::this_thread::get_id());
}

TEST_P(ClientHandshake, ScriptsSeeTheRoadOfAClient)
{
	m_Server.WriteFile("resources/road/meta.xml",
		"<meta>\n\t<script src=\"main.lua\" type=\"server\" language=\"lua\" />\n</meta>\n");
	m_Server.WriteFile("resources/road/main.lua",
		"addEventHandler('OnPlayerConnect', function(event, address) print('road connect ' .. address) end)\n"
		"addEventHandler('OnPlayerJoin', function(event, client) print('road join') end)\n"
		"addEventHandler('OnPlayerJoined', function(event, client) print('road joined') end)\n"
		"addEventHandler('OnPlayerQuit', function(event, client, reason) print('road quit ' .. reason) end)\n");
	StartServer("\t<resources>\n\t\t<resource src=\"road\"/>\n\t</resources>\n");
	ASSERT_TRUE(m_Server.WaitForOutput("1/1 Resources loaded, 0 failed")) << m_Server.GetRawOutput();

	CGameClient Client;
	ASSERT_TRUE(Client.Join(m_usPort, Request("Player")));
	uint32_t uiReason = REASON_QUIT;
	ASSERT_TRUE(Client.SendDisconnect(&uiReason));
	ASSERT_TRUE(m_Server.WaitForOutput("road quit 6"));
	std::vector<std::string> Lines = m_Server.GetOutputLines();
	size_t Next = 0;
	for (const char* szLine : {"road connect 127.0.0.1", "road join", "road joined", "road quit 6"})
	{
		int iIndex = FindLine(Lines, szLine, Next);
		ASSERT_GE(iIndex, 0) << szLine;
		Next = static_cast<size_t>(iIndex) + 1;
	}
}

TEST_P(ClientHandshake, ScriptThatCancelsTheConnectRefusesThePeer)
{
	m_Server.WriteFile("resources/gate/meta.xml",
		"<meta>\n\t<script src=\"main.lua\" type=\"server\" language=\"lua\" />\n</meta>\n");
	m_Server.WriteFile("resources/gate/main.lua",
		"addEventHandler('OnPlayerConnect', function(event, address) event:preventDefault() end)\n");
	StartServer("\t<resources>\n\t\t<resource src=\"gate\"/>\n\t</resources>\n");
	CGameClient Client;
	Client.Connect(m_usPort);
	ASSERT_TRUE(Client.WaitForDisconnect());
	EXPECT_EQ(Client.GetDisconnectReason(), 13u);
}

namespace
{
uint32_t NameKey(const std::string& Name)
{
	// CRC-32 (IEEE, reflected, all-ones start and final complement) of the lower-cased name.
	uint32_t uiCrc = 0xFFFFFFFFu;
	for (char c : Name)
	{
		uiCrc ^= static_cast<uint8_t>(tolower(static_cast<unsigned char>(c)));
		for (int i = 0; i < 8; i++)
			uiCrc = (uiCrc >> 1) ^ (0xEDB88320u & (0u - (uiCrc & 1u)));
	}
	return ~uiCrc;
}
}

TEST_P(ClientHandshake, ClientsHearOfResourcesStartingAndStopping)
{
	m_Server.WriteFile("resources/Arena/meta.xml", "<meta>\n</meta>\n");
	StartServer("\t<resources>\n\t\t<resource src=\"Arena\"/>\n\t</resources>\n");
	CGameClient First, Second;
	ASSERT_TRUE(First.Join(m_usPort, Request("First")));
	tReceivedMessage Message;
	ASSERT_TRUE(First.WaitForMessage(MSG_RESOURCES_STARTED, Message));
	CTestMessageReader Started(Message.m_Body);
	uint32_t uiCount = 0, uiScripts = 1, uiFiles = 1;
	std::string Name;
	ASSERT_TRUE(Started.U32(uiCount) && Started.String(Name) && Started.U32(uiScripts) && Started.U32(uiFiles));
	EXPECT_EQ(uiCount, 1u);
	EXPECT_EQ(Name, "Arena");
	EXPECT_TRUE(Started.IsAtEnd());
	ASSERT_TRUE(Second.Join(m_usPort, Request("Second")));
	Second.TakeAll();

	ASSERT_TRUE(m_Server.WriteInput("stop arena\n"));
	const std::vector<uint8_t> Key = CTestMessage().U32(NameKey("Arena")).GetBytes();
	for (CGameClient* pClient : {&First, &Second})
	{
		ASSERT_TRUE(pClient->WaitForMessage(MSG_RESOURCE_STOPPED, Message));
		EXPECT_EQ(Message.m_Body, Key);
	}
	ASSERT_TRUE(m_Server.WriteInput("start Arena\n"));
	for (CGameClient* pClient : {&First, &Second})
	{
		ASSERT_TRUE(pClient->WaitForMessage(MSG_RESOURCES_STARTED, Message));
		CTestMessageReader Restarted(Message.m_Body);
		ASSERT_TRUE(Restarted.U32(uiCount));
		EXPECT_EQ(uiCount, 1u);
	}
	ASSERT_TRUE(m_Server.WriteInput("stopall\n"));
	for (CGameClient* pClient : {&First, &Second})
	{
		ASSERT_TRUE(pClient->WaitForMessage(MSG_RESOURCE_STOPPED, Message));
		EXPECT_EQ(Message.m_Body, Key);
	}
}
