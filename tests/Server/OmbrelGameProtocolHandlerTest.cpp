// The query answer on the game port: raw UDP queries against the real server binary, with and without the network
// thread, read back with a parser of this file's own. Malformed queries must go unanswered without harming the
// server, an answer must fit one datagram whatever the server's rules hold, and no one asking too often, from one
// address or from many, may get more than a few answers.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

#include "InProcessServer.h"
#include "ServerHarness.h"
#include "Support/GameClient.h"
#include "Support/TestDatagramSocket.h"
#include "Support/TestMessage.h"
#include "Support/Transport.h"

using namespace ServerTest;
using namespace VexaTest;

namespace
{
typedef std::vector<uint8_t> tData;

constexpr size_t MAX_UDP_PAYLOAD = 65507;
constexpr uint8_t GAME_ID_GTA_III = 1;
constexpr uint8_t INFO_ALL = 0x7F;
constexpr uint8_t PLAYER_INDEX_AND_NAME = 0x03;

const tData QUERY_PREFIX = {0xFF, 0xFF, 'O', 'G', 'P', 0, 1};

tData Query(const tData& AfterVersion)
{
	tData Data = QUERY_PREFIX;
	Data.insert(Data.end(), AfterVersion.begin(), AfterVersion.end());
	return Data;
}

// Type 1 asking for the info, the extra byte, the players and the rules.
tData FullQuery(uint8_t ucPlayerMask = PLAYER_INDEX_AND_NAME)
{
	return Query({1, 0x0F, INFO_ALL, 0xAA, ucPlayerMask});
}

// The answer's text: length + 1, the bytes, a 0 byte.
tData Text(const std::string& Value)
{
	tData Data(Value.size() + 2, 0);
	Data[0] = static_cast<uint8_t>(Value.size() + 1);
	std::copy(Value.begin(), Value.end(), Data.begin() + 1);
	return Data;
}

tData Join(std::initializer_list<tData> Parts)
{
	tData Data;
	for (const tData& Part : Parts)
		Data.insert(Data.end(), Part.begin(), Part.end());
	return Data;
}

struct tAnswerPlayer
{
	int iIndex = -1;
	std::string Name;
	bool operator==(const tAnswerPlayer& Other) const { return iIndex == Other.iIndex && Name == Other.Name; }
};

typedef std::pair<std::string, std::string> tAnswerRule;

struct tAnswer
{
	uint8_t ucType = 0;
	uint8_t ucGameId = 0;
	uint8_t ucFlags = 0;
	uint8_t ucInfoMask = 0;
	std::string Product;
	uint8_t ucPassword = 0;
	std::string ServerName;
	std::string GameMode;
	std::string MapName;
	uint8_t ucPlayerCount = 0;
	uint8_t ucMaxPlayers = 0;
	uint8_t ucExtra = 0xEE;
	uint8_t ucPlayerMask = 0xEE;
	std::vector<tAnswerPlayer> Players;
	std::vector<tAnswerRule> Rules;
};

bool ReadText(CTestMessageReader& Reader, std::string& Value)
{
	uint8_t ucLength = 0;
	uint8_t ucEnd = 0xEE;
	tData Bytes;
	if (!Reader.U8(ucLength) || ucLength == 0 || !Reader.Bytes(ucLength - 1u, Bytes) || !Reader.U8(ucEnd) || ucEnd != 0)
		return false;
	Value.assign(Bytes.begin(), Bytes.end());
	return true;
}

// Reads a whole answer of type 0x81 as its flags say it is laid out; false when anything is missing, malformed or
// left over.
bool ParseAnswer(const tData& Data, tAnswer& Answer)
{
	CTestMessageReader Reader(Data);
	tData Header;
	if (!Reader.Bytes(QUERY_PREFIX.size(), Header) || Header != QUERY_PREFIX || !Reader.U8(Answer.ucType))
		return false;
	if (Answer.ucType != 0x81)
		return Reader.IsAtEnd();
	if (!Reader.U8(Answer.ucGameId) || !Reader.U8(Answer.ucFlags))
		return false;
	if (Answer.ucFlags & 0x01)
	{
		if (!Reader.U8(Answer.ucInfoMask))
			return false;
		const uint8_t ucMask = Answer.ucInfoMask;
		if ((ucMask & 0x01) && !ReadText(Reader, Answer.Product))
			return false;
		if ((ucMask & 0x02) && !Reader.U8(Answer.ucPassword))
			return false;
		if ((ucMask & 0x04) && !ReadText(Reader, Answer.ServerName))
			return false;
		if ((ucMask & 0x08) && !ReadText(Reader, Answer.GameMode))
			return false;
		if ((ucMask & 0x10) && !ReadText(Reader, Answer.MapName))
			return false;
		if ((ucMask & 0x20) && !Reader.U8(Answer.ucPlayerCount))
			return false;
		if ((ucMask & 0x40) && !Reader.U8(Answer.ucMaxPlayers))
			return false;
	}
	if ((Answer.ucFlags & 0x04) && !Reader.U8(Answer.ucExtra))
		return false;
	if (Answer.ucFlags & 0x02)
	{
		uint8_t ucCount = 0;
		if (!Reader.U8(ucCount))
			return false;
		if (ucCount != 0 && !Reader.U8(Answer.ucPlayerMask))
			return false;
		for (uint8_t i = 0; i < ucCount; i++)
		{
			tAnswerPlayer Player;
			uint8_t ucIndex = 0;
			if (Answer.ucPlayerMask & 0x01)
			{
				if (!Reader.U8(ucIndex))
					return false;
				Player.iIndex = ucIndex;
			}
			if ((Answer.ucPlayerMask & 0x02) && !ReadText(Reader, Player.Name))
				return false;
			Answer.Players.push_back(Player);
		}
	}
	if (Answer.ucFlags & 0x08)
	{
		uint8_t ucCount = 0;
		if (!Reader.U8(ucCount))
			return false;
		for (uint8_t i = 0; i < ucCount; i++)
		{
			tAnswerRule Rule;
			if (!ReadText(Reader, Rule.first) || !ReadText(Reader, Rule.second))
				return false;
			Answer.Rules.push_back(Rule);
		}
	}
	return Reader.IsAtEnd();
}

// The first of the loopback addresses the tests ask from: 127.0.0.2.
constexpr uint32_t FIRST_SOURCE = 0x7F000002;

class QueryProtocol : public ::testing::TestWithParam<bool>
{
protected:
	void StartServer(const std::string& Children)
	{
		int iPort = 0;
		StartAndWait(m_Server, MakeConfig(Children + Threading(), iPort));
		m_usPort = static_cast<uint16_t>(iPort);
	}

	std::string Threading() const { return GetParam() ? "\t<multithreaded>true</multithreaded>\n" : ""; }

	// A loopback address that has not asked yet. Each address gets only a few answers a second, so a test that
	// asks more often than a query tool would asks from a new one each time.
	uint32_t NewSource() { return FIRST_SOURCE + m_uiSources++; }

	bool Ask(const tData& Request, tData& Answer)
	{
		CTestDatagramSocket Socket(NewSource());
		return Ask(Socket, Request, Answer);
	}

	bool Ask(CTestDatagramSocket& Socket, const tData& Request, tData& Answer)
	{
		return Socket.IsOpen() && Socket.Send(m_usPort, Request) && Socket.Receive(Answer);
	}

	// Asks again until the answer satisfies the condition: the answer is refreshed once a pass of the main loop.
	// The bound is a safety net, never a measurement.
	template <class TCondition>
	bool AskUntil(const tData& Request, tAnswer& Answer, TCondition Condition, tData* pData = nullptr)
	{
		tData Data;
		for (int i = 0; i < 500; i++)
		{
			Answer = tAnswer();
			if (!Ask(Request, Data) || !ParseAnswer(Data, Answer))
				return false;
			if (pData)
				*pData = Data;
			if (Condition(Answer))
				return true;
			usleep(10000);
		}
		return false;
	}

	// Every answer that arrives within the time-out of the one before; the socket is read until none comes.
	static std::vector<tData> ReceiveAll(CTestDatagramSocket& Socket, int iTimeoutMs)
	{
		std::vector<tData> Answers;
		tData Answer;
		while (Socket.Receive(Answer, iTimeoutMs))
			Answers.push_back(Answer);
		return Answers;
	}

	size_t CountLinesContaining(const std::string& Text)
	{
		const std::vector<std::string> Lines = m_Server.GetOutputLines();
		return static_cast<size_t>(std::count_if(
			Lines.begin(), Lines.end(), [&](const std::string& Line) { return Line.find(Text) != std::string::npos; }));
	}

	// Keeps asking too often from the socket until the server's output holds the text; false when it does not
	// come in time. The server logs at most one limited source a second, so a source may have to go on asking.
	bool AskTooOftenUntilLogged(CTestDatagramSocket& Socket, const std::string& Text)
	{
		for (int i = 0; i < 200; i++)
		{
			for (int j = 0; j < 20; j++)
				Socket.Send(m_usPort, FullQuery());
			if (CountLinesContaining(Text) != 0)
				return true;
			usleep(50000);
		}
		return false;
	}

	static std::string Address(uint32_t uiAddress)
	{
		return std::to_string(uiAddress >> 24) + "." + std::to_string((uiAddress >> 16) & 0xFF) + "." +
			std::to_string((uiAddress >> 8) & 0xFF) + "." + std::to_string(uiAddress & 0xFF);
	}

	CServerProcess m_Server;
	uint16_t m_usPort = 0;
	uint32_t m_uiSources = 0;
};

// What one source address may get: this many answers at once, then this many a second.
constexpr size_t SOURCE_BURST = 8;
constexpr double SOURCE_ANSWERS_PER_SECOND = 4;

double SecondsSince(std::chrono::steady_clock::time_point Start)
{
	return std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
}
}

TEST_P(QueryProtocol, AnswersWithTheServersInfoPlayersAndRules)
{
	StartServer("\t<servername>Query Test</servername>\n\t<gamemode>Deathmatch</gamemode>\n"
				"\t<password>secret</password>\n\t<maxplayers>20</maxplayers>\n"
				"\t<rule name=\"Weather\" value=\"Sunny\" />\n\t<rule name=\"Map\" value=\"Liberty City\" />\n");

	tJoinRequest Request;
	Request.m_Password = "secret";
	CGameClient Alice;
	CGameClient Bob;
	CGameClient Carol;
	Request.m_Name = "Alice";
	ASSERT_TRUE(Alice.Join(m_usPort, Request));
	Request.m_Name = "Bob";
	ASSERT_TRUE(Bob.Join(m_usPort, Request));
	// Carol has a slot but has not finished joining: she is listed all the same.
	Request.m_Name = "Carol";
	tJoinInfo Info;
	ASSERT_TRUE(Carol.Connect(m_usPort));
	ASSERT_TRUE(Carol.SendJoinRequest(Request));
	ASSERT_TRUE(Carol.WaitForJoinInfo(Info));

	tAnswer Answer;
	ASSERT_TRUE(AskUntil(FullQuery(), Answer, [](const tAnswer& Got) { return Got.Players.size() == 3; }));
	EXPECT_EQ(Answer.ucGameId, GAME_ID_GTA_III);
	EXPECT_EQ(Answer.ucFlags, 0x0F);
	EXPECT_EQ(Answer.ucInfoMask, INFO_ALL);
	EXPECT_EQ(Answer.Product, "Vexa");
	EXPECT_EQ(Answer.ucPassword, 5);
	EXPECT_EQ(Answer.ServerName, "Query Test");
	EXPECT_EQ(Answer.GameMode, "Deathmatch");
	EXPECT_EQ(Answer.MapName, "");
	EXPECT_EQ(Answer.ucPlayerCount, 3);
	EXPECT_EQ(Answer.ucMaxPlayers, 20);
	EXPECT_EQ(Answer.ucExtra, 0);
	EXPECT_EQ(Answer.ucPlayerMask, PLAYER_INDEX_AND_NAME);
	const std::vector<tAnswerPlayer> Players = {
		{Alice.GetIndex(), "Alice"}, {Bob.GetIndex(), "Bob"}, {Info.m_iIndex, "Carol"}};
	EXPECT_EQ(Answer.Players, Players);
	const std::vector<tAnswerRule> Rules = {{"Version", "1.5.10"}, {"Weather", "Sunny"}, {"Map", "Liberty City"}};
	EXPECT_EQ(Answer.Rules, Rules);

	// Without fields asked for, each player's entry is empty; the count and the mask stay.
	tData Data;
	ASSERT_TRUE(Ask(Query({1, 0x02, 0}), Data));
	EXPECT_EQ(Data, Join({QUERY_PREFIX, {0x81, GAME_ID_GTA_III, 0x02, 3, 0}}));

	ASSERT_TRUE(Bob.Disconnect(0));
	ASSERT_TRUE(AskUntil(FullQuery(0x01), Answer, [](const tAnswer& Got) { return Got.Players.size() == 2; }));
	EXPECT_EQ(Answer.ucPlayerCount, 2);
	const std::vector<tAnswerPlayer> Left = {{Alice.GetIndex(), ""}, {Info.m_iIndex, ""}};
	EXPECT_EQ(Answer.Players, Left);
}

TEST_P(QueryProtocol, AnswersTheLayoutEachRequestAsksFor)
{
	StartServer("\t<servername>Srv</servername>\n");
	struct tCase
	{
		const char* szCase;
		tData Request;
		tData Answer;
	};
	const tData Answered = Join({QUERY_PREFIX, {0x81, GAME_ID_GTA_III}});
	const tCase Cases[] = {
		{"type 2 gets the header alone", Query({2}), Join({QUERY_PREFIX, {0x80}})},
		{"type 0 gets the header alone", Query({0, 0x0F}), Join({QUERY_PREFIX, {0x80}})},
		{"no parts", Query({1, 0}), Join({Answered, {0}})},
		{"password and server name", Query({1, 0x01, 0x06}), Join({Answered, {0x01, 0x06, 4}, Text("Srv")})},
		{"info mask bit 7 is dropped", Query({1, 0x01, 0xA0}), Join({Answered, {0x01, 0x20, 0}})},
		{"extra byte", Query({1, 0x04, 0x99}), Join({Answered, {0x04, 0}})},
		{"flags beyond the four parts are dropped", Query({1, 0xF0}), Join({Answered, {0}})},
		{"no players", Query({1, 0x02, 0x03}), Join({Answered, {0x02, 0}})},
		{"player mask with its extra byte", Query({1, 0x02, 0x43, 0x77}), Join({Answered, {0x02, 0}})},
		{"only the rule every server has", Query({1, 0x08}),
			Join({Answered, {0x08, 1}, Text("Version"), Text("1.5.10")})},
		{"bytes after a whole request are ignored", Query({1, 0x01, 0x40, 1, 2, 3}),
			Join({Answered, {0x01, 0x40, 32}})},
	};
	for (const tCase& Case : Cases)
	{
		tData Answer;
		ASSERT_TRUE(Ask(Case.Request, Answer)) << Case.szCase;
		EXPECT_EQ(Answer, Case.Answer) << Case.szCase;
	}
}

TEST_P(QueryProtocol, MalformedQueriesAreTakenAndNotAnswered)
{
	StartServer("");
	struct tCase
	{
		const char* szCase;
		tData Request;
	};
	const tCase Cases[] = {
		{"prefix alone", {0xFF, 0xFF}},
		{"not a query", {0xFF, 0xFF, 0x01}},
		{"magic cut", {0xFF, 0xFF, 'O', 'G', 'P'}},
		{"other magic", {0xFF, 0xFF, 'O', 'G', 'Q', 0, 1, 1, 0}},
		{"magic without its 0 byte", {0xFF, 0xFF, 'O', 'G', 'P', 'X', 1, 1, 0}},
		{"no version", {0xFF, 0xFF, 'O', 'G', 'P', 0}},
		{"version 0", {0xFF, 0xFF, 'O', 'G', 'P', 0, 0, 1, 0}},
		{"version 2", {0xFF, 0xFF, 'O', 'G', 'P', 0, 2, 1, 0}},
		{"no type", Query({})},
		{"type 1 without flags", Query({1})},
		{"info without its mask", Query({1, 0x01})},
		{"extra without its byte", Query({1, 0x04})},
		{"info and extra with the mask alone", Query({1, 0x05, 0x7F})},
		{"players without their mask", Query({1, 0x02})},
		{"players with the extra byte missing", Query({1, 0x02, 0x40})},
		{"everything with the player mask missing", Query({1, 0x0F, 0x7F, 0})},
	};
	// Each malformed query is followed by a good one; the first answer to arrive must be the good one's. The
	// server handles the datagrams of one sender in order, so an answer to the malformed query would come first.
	const tData Probe = Query({7});
	const tData ProbeAnswer = Join({QUERY_PREFIX, {0x80}});
	for (const tCase& Case : Cases)
	{
		CTestDatagramSocket Socket(NewSource());
		ASSERT_TRUE(Socket.Send(m_usPort, Case.Request)) << Case.szCase;
		tData Answer;
		ASSERT_TRUE(Ask(Socket, Probe, Answer)) << Case.szCase;
		EXPECT_EQ(Answer, ProbeAnswer) << Case.szCase;
	}

	// The transport never saw them: a game client still connects and joins.
	CGameClient Client;
	tJoinRequest Request;
	EXPECT_TRUE(Client.Join(m_usPort, Request));
}

TEST_P(QueryProtocol, TheAnswerFitsOneDatagramWithItsCountsMatchingItsEntries)
{
	struct tCase
	{
		const char* szCase;
		size_t Rules;
		std::string NameTail;
		std::string Value;
		// The expected rule count, or 0 when the size limit decides it.
		size_t Expected;
	};
	// 253 bytes, then a two-byte character across the 254-byte cut.
	const std::string Split = std::string(253, 'v') + "\xC3\xA9\xC3\xA9";
	const tCase Cases[] = {
		{"300 short rules", 300, "", "v", 255},
		{"300 long rules", 300, std::string(300, 'n'), Split, 0},
	};
	for (const tCase& Case : Cases)
	{
		std::string Children;
		for (size_t i = 0; i < Case.Rules; i++)
			Children += "\t<rule name=\"r" + std::to_string(1000 + i) + Case.NameTail + "\" value=\"" + Case.Value +
				"\" />\n";
		CServerProcess Server;
		int iPort = 0;
		StartAndWait(Server, MakeConfig(Children + Threading(), iPort));
		m_usPort = static_cast<uint16_t>(iPort);
		CGameClient Client;
		tJoinRequest Request;
		Request.m_Name = std::string(31, 'p');
		ASSERT_TRUE(Client.Join(m_usPort, Request)) << Case.szCase;

		tData Data;
		tAnswer Answer;
		ASSERT_TRUE(AskUntil(FullQuery(), Answer, [](const tAnswer& Got) { return !Got.Players.empty(); }, &Data))
			<< Case.szCase;
		ASSERT_EQ(Answer.Players.size(), 1u) << Case.szCase;
		EXPECT_EQ(Answer.Players[0].Name, Request.m_Name) << Case.szCase;
		EXPECT_LE(Data.size(), MAX_UDP_PAYLOAD) << Case.szCase;
		ASSERT_FALSE(Answer.Rules.empty()) << Case.szCase;
		EXPECT_EQ(Answer.Rules[0], tAnswerRule("Version", "1.5.10")) << Case.szCase;
		// Texts are cut to 254 bytes, never inside a character.
		const std::string Value = Case.Value.size() > 254 ? std::string(253, 'v') : Case.Value;
		for (size_t i = 1; i < Answer.Rules.size(); i++)
		{
			const tAnswerRule Expected((("r" + std::to_string(1000 + i - 1)) + Case.NameTail).substr(0, 254), Value);
			if (Answer.Rules[i] != Expected)
			{
				ADD_FAILURE() << Case.szCase << ": rule " << i << " is \"" << Answer.Rules[i].first << "\" = \""
							  << Answer.Rules[i].second << "\"";
				break;
			}
		}
		if (Case.Expected)
			EXPECT_EQ(Answer.Rules.size(), Case.Expected) << Case.szCase;
		else
		{
			// Entries stop at the first that would not fit.
			const size_t Next = 2 + 254 + 2 + 253;
			EXPECT_LT(Answer.Rules.size(), 255u) << Case.szCase;
			EXPECT_GT(Data.size() + Next, MAX_UDP_PAYLOAD) << Case.szCase;
		}
	}
}

// A query costs its sender a few bytes and the server an answer that can be thousands of times larger: a source
// asking without pause must not get an answer each time, while whoever else asks still does.
TEST_P(QueryProtocol, ASourceAskingTooOftenGetsAFewAnswersAndIsLoggedOnce)
{
	StartServer("\t<servername>Srv</servername>\n");
	tData Expected;
	ASSERT_TRUE(Ask(FullQuery(), Expected));

	const uint32_t uiFlooder = NewSource();
	CTestDatagramSocket Flooder(uiFlooder);
	const auto Start = std::chrono::steady_clock::now();
	for (int i = 0; i < 200; i++)
		ASSERT_TRUE(Flooder.Send(m_usPort, FullQuery()));
	const std::vector<tData> Answers = ReceiveAll(Flooder, 300);
	const double dSeconds = SecondsSince(Start);
	ASSERT_FALSE(Answers.empty());
	EXPECT_LE(Answers.size(), SOURCE_BURST + static_cast<size_t>(SOURCE_ANSWERS_PER_SECOND * dSeconds) + 1)
		<< "over " << dSeconds << " s";
	// The answers that come are the ones anybody gets, byte for byte.
	for (const tData& Answer : Answers)
		EXPECT_EQ(Answer, Expected);

	// Others are answered meanwhile.
	tData Answer;
	ASSERT_TRUE(Ask(FullQuery(), Answer));
	EXPECT_EQ(Answer, Expected);

	// The limit is logged once for the source, with its address, however long it goes on. Another source
	// limited later is logged in its turn, after the first.
	const std::string Line = "Too many queries from " + Address(uiFlooder) + ":";
	ASSERT_TRUE(AskTooOftenUntilLogged(Flooder, Line));
	const uint32_t uiSecond = NewSource();
	CTestDatagramSocket Second(uiSecond);
	ASSERT_TRUE(AskTooOftenUntilLogged(Second, "Too many queries from " + Address(uiSecond) + ":"));
	for (int i = 0; i < 100; i++)
		ASSERT_TRUE(Flooder.Send(m_usPort, FullQuery()));
	ASSERT_TRUE(Ask(FullQuery(), Answer));
	EXPECT_EQ(CountLinesContaining(Line), 1u);
}

// Sources asking once each, from many addresses (as a flood with forged source addresses would), neither grow what
// the server remembers without bound nor make it forget the sources it limits, however near their addresses are.
TEST_P(QueryProtocol, ManyAddressesAskingOnceDoNotFreeLimitedSources)
{
	StartServer("");
	std::vector<std::unique_ptr<CTestDatagramSocket>> Flooders;
	for (int i = 0; i < 8; i++)
		Flooders.push_back(std::make_unique<CTestDatagramSocket>(NewSource()));
	const auto Start = std::chrono::steady_clock::now();
	for (int Round = 0; Round < 50; Round++)
	{
		for (auto& pFlooder : Flooders)
		{
			for (int i = 0; i < 10; i++)
				ASSERT_TRUE(pFlooder->Send(m_usPort, FullQuery()));
		}
		for (int i = 0; i < 200; i++)
		{
			CTestDatagramSocket Once(NewSource());
			ASSERT_TRUE(Once.Send(m_usPort, FullQuery()));
		}
	}
	// Answers still on their way come within the first time-out.
	std::vector<size_t> Answers;
	for (auto& pFlooder : Flooders)
		Answers.push_back(ReceiveAll(*pFlooder, 300).size());
	const double dSeconds = SecondsSince(Start);
	const size_t Most = SOURCE_BURST + static_cast<size_t>(SOURCE_ANSWERS_PER_SECOND * dSeconds) + 1;
	for (size_t i = 0; i < Answers.size(); i++)
		EXPECT_LE(Answers[i], Most) << "source " << i << " over " << dSeconds << " s";

	// And it still answers a source that asks once.
	tData Answer;
	EXPECT_TRUE(Ask(FullQuery(), Answer));
}

// All answers together stay within a budget of bytes a second, however many sources ask: queries with forged
// source addresses would otherwise have the server send many megabytes a second to one victim's network.
TEST_P(QueryProtocol, AnswersFromManySourcesStayWithinABudgetOfBytes)
{
	constexpr size_t BUDGET_BYTES_PER_SECOND = 1024 * 1024;
	std::string Rules;
	for (int i = 0; i < 300; i++)
		Rules += "\t<rule name=\"" + std::to_string(1000 + i) + std::string(250, 'n') + "\" value=\"" +
			std::string(254, 'v') + "\" />\n";
	StartServer(Rules);
	// Rules alone: the largest answer there is, nearly 64 KiB for a 9-byte query.
	const tData RulesQuery = Query({1, 0x08});
	tData Expected;
	ASSERT_TRUE(Ask(RulesQuery, Expected));
	ASSERT_GT(Expected.size(), 60000u);

	const std::string Line = "Query answers have reached their limit of";
	for (int Round = 0; Round < 2; Round++)
	{
		std::vector<std::unique_ptr<CTestDatagramSocket>> Sources;
		const auto Start = std::chrono::steady_clock::now();
		for (int i = 0; i < 64; i++)
		{
			Sources.push_back(std::make_unique<CTestDatagramSocket>(NewSource()));
			ASSERT_TRUE(Sources.back()->Send(m_usPort, RulesQuery));
		}
		// The server takes datagrams in the order they came, and answers each before it takes the next: once
		// the answer to a last, short query is here, every answer to the queries before it is too.
		tData Probe;
		ASSERT_TRUE(Ask(Query({2}), Probe));
		size_t Bytes = 0;
		for (auto& pSource : Sources)
		{
			for (const tData& Answer : ReceiveAll(*pSource, 1))
			{
				EXPECT_EQ(Answer, Expected);
				Bytes += Answer.size();
			}
		}
		const double dSeconds = SecondsSince(Start);
		EXPECT_LE(Bytes, BUDGET_BYTES_PER_SECOND * (1 + dSeconds)) << "round " << Round << " over " << dSeconds << " s";
		if (Round == 0)
		{
			ASSERT_TRUE(m_Server.WaitForOutput(Line));
		}
	}
	EXPECT_EQ(CountLinesContaining(Line), 1u);
}

INSTANTIATE_TEST_SUITE_P(Transport, QueryProtocol, ::testing::Bool(), DescribeTransport);

// An answer is built once and sent again while the server stays the same; what changes shows in the answers from
// the next pass on.
TEST(QueryProtocolSnapshot, AnswersTellWhatChangedByTheNextPass)
{
	CInProcessServer Server("", false);
	ASSERT_TRUE(Server.Start());
	for (uint32_t i = 0; i < 20; i++)
	{
		const std::string Value(i, 'c');
		Server.GetServer().SetRule("Counter", Value.c_str());
		Server.Pass();
		// Twice from each source: the second answer comes from what the first built.
		CTestDatagramSocket Socket(FIRST_SOURCE + i);
		Socket.SetPump([&Server] { Server.Pass(); });
		for (int j = 0; j < 2; j++)
		{
			tData Data;
			tAnswer Answer;
			ASSERT_TRUE(Socket.Send(Server.GetPort(), Query({1, 0x08})) && Socket.Receive(Data));
			ASSERT_TRUE(ParseAnswer(Data, Answer));
			const std::vector<tAnswerRule> Rules = {{"Version", "1.5.10"}, {"Counter", Value}};
			EXPECT_EQ(Answer.Rules, Rules) << "change " << i;
		}
	}
}

// The network thread answers while the main loop changes the server and refreshes the answer, and while the server
// object goes away: it must stop before anything the answer reads is freed. In the test's process, so the
// sanitizer build sees any access to freed memory.
TEST(QueryProtocolShutdown, QueriesDuringPassesAndShutdownWithTheNetworkThread)
{
	auto pServer = std::make_unique<CInProcessServer>("\t<rule name=\"Weather\" value=\"Sunny\" />\n", true);
	ASSERT_TRUE(pServer->Start());
	const uint16_t usPort = pServer->GetPort();

	std::atomic<bool> bStop(false);
	std::atomic<int> iAnswers(0);
	std::thread Flood([&] {
		CTestDatagramSocket Sender;
		tData Answer;
		while (!bStop.load())
		{
			if (Sender.Send(usPort, FullQuery()) && Sender.Receive(Answer, 20))
				iAnswers++;
		}
	});
	for (int i = 0; i < 100; i++)
	{
		pServer->GetServer().SetRule("Counter", std::string(static_cast<size_t>(i), 'c').c_str());
		pServer->Pass();
		usleep(1000);
	}
	pServer->PassUntil([&] { return iAnswers.load() > 0; });
	EXPECT_GT(iAnswers.load(), 0);
	pServer.reset();
	bStop = true;
	Flood.join();
}
