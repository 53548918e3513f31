// Black-box tests of the server's script interface in every language: the chat functions, triggerNetworkEvent,
// and the namespace "server" with its settings, rules, bans, password and shutdown. The real server binary runs a
// probe resource whose console commands run script code; game-client stand-ins see what goes out, with and
// without the network thread.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "ScriptNotation.h"
#include "ScriptProbe.h"
#include "Support/GameClient.h"
#include "Support/Transport.h"

using namespace ServerTest;
using namespace VexaTest;

namespace
{
constexpr uint32_t REASON_WRONG_PASSWORD = 4;
constexpr uint32_t REASON_BANNED = 7;

// One value of the value encoding, described as "i32 1", "i64 1", "f32 2.5", "f64 2.5", "str a", "bool true",
// "nil" or "[...]"; false for what a client could not read.
bool DescribeValue(CTestMessageReader& Reader, std::string& Text)
{
	uint8_t ucTag = 0;
	if (!Reader.U8(ucTag))
		return false;
	std::ostringstream Out;
	switch (ucTag)
	{
	case 0:
		Out << "nil";
		break;
	case 1:
	{
		uint8_t ucValue = 0;
		if (!Reader.U8(ucValue))
			return false;
		Out << "bool " << (ucValue ? "true" : "false");
		break;
	}
	case 2:
	{
		std::string Value;
		if (!Reader.String(Value))
			return false;
		Out << "str " << Value;
		break;
	}
	case 4:
	{
		int32_t iValue = 0;
		if (!Reader.I32(iValue))
			return false;
		Out << "i32 " << iValue;
		break;
	}
	case 5:
	{
		float fValue = 0;
		if (!Reader.F32(fValue))
			return false;
		Out << "f32 " << fValue;
		break;
	}
	case 15:
	case 16:
	{
		uint32_t uiLow = 0, uiHigh = 0;
		if (!Reader.U32(uiLow) || !Reader.U32(uiHigh))
			return false;
		const uint64_t uiBits = (static_cast<uint64_t>(uiHigh) << 32) | uiLow;
		if (ucTag == 15)
			Out << "i64 " << static_cast<int64_t>(uiBits);
		else
		{
			double dValue = 0;
			memcpy(&dValue, &uiBits, sizeof(dValue));
			Out << "f64 " << dValue;
		}
		break;
	}
	case 17:
	{
		uint8_t ucCount = 0;
		if (!Reader.U8(ucCount))
			return false;
		Out << "[";
		for (uint8_t i = 0; i < ucCount; i++)
		{
			std::string Element;
			if (!DescribeValue(Reader, Element))
				return false;
			Out << (i ? ", " : "") << Element;
		}
		Out << "]";
		break;
	}
	default:
		return false;
	}
	Text = Out.str();
	return true;
}

// Message 11 as "name: value, value"; "<unreadable>" when a client could not read it whole.
std::string DescribeNetworkEvent(const tReceivedMessage& Message)
{
	CTestMessageReader Reader(Message.m_Body);
	std::string Name;
	uint8_t ucCount = 0;
	if (!Reader.String(Name) || !Reader.U8(ucCount))
		return "<unreadable>";
	std::string Text = Name + ":";
	for (uint8_t i = 0; i < ucCount; i++)
	{
		std::string Value;
		if (!DescribeValue(Reader, Value))
			return "<unreadable>";
		Text += (i ? ", " : " ") + Value;
	}
	return Reader.IsAtEnd() ? Text : "<unreadable>";
}

// Chat lines as "text #colour".
std::string DescribeChat(const tReceivedMessage& Message)
{
	CTestMessageReader Reader(Message.m_Body);
	uint32_t uiLength = 0, uiColour = 0;
	std::vector<uint8_t> Bytes;
	if (!Reader.U32(uiLength) || !Reader.U32(uiColour) || !Reader.Bytes(uiLength, Bytes) || !Reader.IsAtEnd())
		return "<unreadable>";
	char szColour[16];
	snprintf(szColour, sizeof(szColour), " #%08X", uiColour);
	return std::string(Bytes.begin(), Bytes.end()) + szColour;
}

class ServerScriptFunctions : public ::testing::TestWithParam<bool>
{
protected:
	void Start(const std::string& Children = "")
	{
		tServerPorts Ports;
		const std::string Config = MakeConfig(
			ResourceList({"probe"}) + (GetParam() ? "\t<multithreaded>true</multithreaded>\n" : "") + Children, Ports);
		m_usPort = static_cast<uint16_t>(Ports.m_iGame);
		m_usHttpPort = static_cast<uint16_t>(Ports.m_iHttp);
		m_usRConPort = static_cast<uint16_t>(Ports.m_iRCon);
		WriteResource(m_Server, "probe", ProbeScripts());
		StartAndWait(m_Server, Config);
		ASSERT_TRUE(Printed(m_Server, "1/1 Resources loaded, 0 failed")) << m_Server.GetRawOutput();
	}

	void Join(CGameClient& Client, const std::string& Name, const std::string& Password = "")
	{
		tJoinRequest Request;
		Request.m_Name = Name;
		Request.m_Password = Password;
		ASSERT_TRUE(Client.Join(m_usPort, Request));
	}

	std::string Probe(size_t Language, const std::string& Code) { return ProbeOutput(m_Server, Language, Code); }

	// What each client received of the message id after the previous call, up to the marker the probe sends to
	// every client now (the marker itself left out).
	std::vector<std::vector<std::string>> ReceivedThroughMarker(const std::vector<CGameClient*>& Clients,
		uint32_t uiId, const std::string& MarkerCode, const std::string& Marker,
		std::string (*Describe)(const tReceivedMessage&))
	{
		EXPECT_EQ(Probe(PROBE_LUA, MarkerCode), "null");
		std::vector<std::vector<std::string>> Received;
		for (CGameClient* pClient : Clients)
		{
			std::vector<std::string> Texts;
			tReceivedMessage Message;
			while (pClient->WaitForMessage(uiId, Message))
			{
				const std::string Text = Describe(Message);
				if (Text == Marker)
					break;
				Texts.push_back(Text);
			}
			Received.push_back(Texts);
		}
		return Received;
	}

	CServerProcess m_Server;
	uint16_t m_usPort = 0;
	uint16_t m_usHttpPort = 0;
	uint16_t m_usRConPort = 0;
};

// One call in every language: the code (the same in all when the others are null), the result, and what each of
// two clients receives.
struct tSendCase
{
	const char* m_szCode[PROBE_LANGUAGE_COUNT];
	const char* m_szResult;
	std::vector<std::string> m_First;
	std::vector<std::string> m_Second;
};
}

TEST_P(ServerScriptFunctions, ChatLinesGoWhereTheyAreSentWithTheirColour)
{
	Start();
	CGameClient First, Second;
	Join(First, "First");
	Join(Second, "Second");
	const tSendCase Cases[] = {
		{{"message(\"hi\")"}, "null", {"hi #FF00FF00"}, {"hi #FF00FF00"}},
		// A colour above 2^31 arrives whole whether the language has integers or only doubles.
		{{"message(\"red\", 0xFFFF0000)"}, "null", {"red #FFFF0000"}, {"red #FFFF0000"}},
		{{"message(\"red\", COLOUR_RED)"}, "null", {"red #FFFF0000"}, {"red #FFFF0000"}},
		{{"message(\"white\", -1)"}, "null", {"white #FFFFFFFF"}, {"white #FFFFFFFF"}},
		{{"message(\"Gr\xC3\xBC\xC3\x9F" "e\", 5)"}, "null", {"Gr\xC3\xBC\xC3\x9F" "e #00000005"},
			{"Gr\xC3\xBC\xC3\x9F" "e #00000005"}},
		{{"messageClient(\"one\", getClient(0))"}, "null", {"one #FF00FF00"}, {}},
		{{"messageClient(\"two\", getClient(1), 7)"}, "null", {}, {"two #00000007"}},
		{{"messageAllExcept(\"rest\", getClient(0))"}, "null", {}, {"rest #FF00FF00"}},
		{{"messageAllExcept(\"rest\", getClient(1), 9)"}, "null", {"rest #00000009"}, {}},
		// The console client hears nothing.
		{{"messageClient(\"console\", getConsole())"}, "null", {}, {}},
		{{"message(5)"}, "error: Expected string for argument 1", {}, {}},
		{{"message(\"x\", \"red\")"}, "error: Expected integer for argument 2", {}, {}},
		{{"messageClient(\"x\", null)"}, "error: Expected Client for argument 2", {}, {}},
		{{"messageClient(\"x\")"}, "error: Expected Client for argument 2", {}, {}},
		{{"messageAllExcept(\"x\", thisResource)"}, "error: Expected Client for argument 2", {}, {}},
		{{"messageClient(\"x\", getClient(0), null)"}, "error: Expected integer for argument 3", {}, {}},
	};
	int iMarker = 0;
	for (size_t Language = 0; Language < PROBE_LANGUAGE_COUNT; Language++)
	{
		for (const tSendCase& Case : Cases)
		{
			const char* szCode = Case.m_szCode[Language] ? Case.m_szCode[Language] : Case.m_szCode[0];
			const std::string Result = Probe(Language, szCode);
			// Statements give undefined in JavaScript.
			const std::string Expected =
				Language == PROBE_JS && std::string(Case.m_szResult) == "null" ? "undefined" : Case.m_szResult;
			EXPECT_EQ(Result, Expected) << g_ProbeLanguages[Language].m_szCommand << ": " << szCode;
			const std::string Marker = "marker " + std::to_string(iMarker++);
			const auto Received = ReceivedThroughMarker({&First, &Second}, MSG_CHAT,
				"message(\"" + Marker + "\", 0)", Marker + " #00000000", DescribeChat);
			EXPECT_EQ(Received[0], Case.m_First) << g_ProbeLanguages[Language].m_szCommand << ": " << szCode;
			EXPECT_EQ(Received[1], Case.m_Second) << g_ProbeLanguages[Language].m_szCommand << ": " << szCode;
		}
	}
}

TEST_P(ServerScriptFunctions, NetworkEventsCarryTheirArgumentsToOneClientOrAll)
{
	Start();
	CGameClient First, Second;
	Join(First, "First");
	Join(Second, "Second");
	const std::string Bytes255 = "Big: " + [] {
		std::string Values;
		for (int i = 1; i <= 255; i++)
			Values += (i > 1 ? ", i32 " : "i32 ") + std::to_string(i);
		return Values;
	}();
	struct tCase
	{
		const char* m_szCode[PROBE_LANGUAGE_COUNT];
		const char* m_szResult;
		// What each client receives, per language (null: as Lua).
		const char* m_szFirst[PROBE_LANGUAGE_COUNT];
		const char* m_szSecond[PROBE_LANGUAGE_COUNT];
	};
	const tCase Cases[] = {
		{{"triggerNetworkEvent(\"Ev\", null, 1, \"a\", true, 2.5, null)"}, "null",
			{"Ev: i32 1, str a, bool true, f64 2.5, nil", nullptr, "Ev: i32 1, str a, bool true, f32 2.5, nil"},
			{"Ev: i32 1, str a, bool true, f64 2.5, nil", nullptr, "Ev: i32 1, str a, bool true, f32 2.5, nil"}},
		{{"triggerNetworkEvent(\"Ev\", getClient(1))"}, "null", {""}, {"Ev:"}},
		{{"triggerNetworkEvent(\"Ev\", getClient(0), {1, \"x\"})", "triggerNetworkEvent(\"Ev\", getClient(0), [1, \"x\"])",
			 "triggerNetworkEvent(\"Ev\", getClient(0), [1, \"x\"])"},
			"null", {"Ev: [i32 1, str x]"}, {""}},
		{{"triggerNetworkEvent(\"Ev\", getConsole(), 1)"}, "null", {""}, {""}},
		{{"(function() local t = {} for i = 1, 255 do t[i] = i end triggerNetworkEvent(\"Big\", null, table.unpack(t)) end)()",
			 "triggerNetworkEvent(\"Big\", null, ...Array.from({length: 255}, (v, i) => i + 1))",
			 "(function() { local a = [this, \"Big\", null]; for (local i = 1; i <= 255; i++) a.append(i); "
			 "triggerNetworkEvent.acall(a); })()"},
			"null", {Bytes255.c_str()}, {Bytes255.c_str()}},
		{{"(function() local t = {} for i = 1, 256 do t[i] = i end triggerNetworkEvent(\"Big\", null, table.unpack(t)) end)()",
			 "triggerNetworkEvent(\"Big\", null, ...Array.from({length: 256}, (v, i) => i + 1))",
			 "(function() { local a = [this, \"Big\", null]; for (local i = 1; i <= 256; i++) a.append(i); "
			 "triggerNetworkEvent.acall(a); })()"},
			"error: A network event takes at most 255 arguments", {""}, {""}},
		{{"triggerNetworkEvent(\"Ev\", null, 1, getConsole())"}, "error: Argument 4 (instance) cannot be sent to clients",
			{""}, {""}},
		{{"triggerNetworkEvent(\"Ev\", 5)"}, "error: Expected Client for argument 2", {""}, {""}},
		{{"triggerNetworkEvent(5, null)"}, "error: Expected string for argument 1", {""}, {""}},
	};
	int iMarker = 0;
	for (size_t Language = 0; Language < PROBE_LANGUAGE_COUNT; Language++)
	{
		for (const tCase& Case : Cases)
		{
			const char* szCode = Case.m_szCode[Language] ? Case.m_szCode[Language] : Case.m_szCode[0];
			const std::string Result = Probe(Language, szCode);
			const std::string Expected =
				Language == PROBE_JS && std::string(Case.m_szResult) == "null" ? "undefined" : Case.m_szResult;
			EXPECT_EQ(Result, Expected) << g_ProbeLanguages[Language].m_szCommand << ": " << szCode;
			const std::string Marker = "marker" + std::to_string(iMarker++);
			const auto Received = ReceivedThroughMarker({&First, &Second}, MSG_NETWORK_EVENT,
				"triggerNetworkEvent(\"" + Marker + "\", null)", Marker + ":", DescribeNetworkEvent);
			const char* szFirst = Case.m_szFirst[Language] ? Case.m_szFirst[Language] : Case.m_szFirst[0];
			const char* szSecond = Case.m_szSecond[Language] ? Case.m_szSecond[Language] : Case.m_szSecond[0];
			EXPECT_EQ(Received[0], *szFirst ? std::vector<std::string>{szFirst} : std::vector<std::string>{})
				<< g_ProbeLanguages[Language].m_szCommand << ": " << szCode;
			EXPECT_EQ(Received[1], *szSecond ? std::vector<std::string>{szSecond} : std::vector<std::string>{})
				<< g_ProbeLanguages[Language].m_szCommand << ": " << szCode;
		}
	}
}

TEST_P(ServerScriptFunctions, ServerNamespaceShowsTheSettings)
{
	Start("\t<servername>Test Server</servername>\n\t<gamemode>Deathmatch</gamemode>\n\t<maxplayers>20</maxplayers>\n"
		  "\t<httpurl>http://example.invalid</httpurl>\n\t<minclientversion>1.2.3.4</minclientversion>\n"
		  "\t<syncinterval>50</syncinterval>\n\t<syncmethod>replay</syncmethod>\n"
		  "\t<duplicatenames>true</duplicatenames>\n\t<streamindistance>150</streamindistance>\n"
		  "\t<streamoutdistance>300</streamoutdistance>\n\t<pickupstreamindistance>20</pickupstreamindistance>\n"
		  "\t<pickupstreamoutdistance>40</pickupstreamoutdistance>\n\t<synclocalentities>true</synclocalentities>\n"
		  "\t<bindip>127.0.0.1</bindip>\n\t<game>gta:vc</game>\n\t<logpath>logs</logpath>\n"
		  "\t<cvar name=\"Colour\" value=\"red\"/>\n\t<rule name=\"Mode\" value=\"race\"/>\n");
	struct tCase
	{
		const char* m_szCode;
		const char* m_szExpected[PROBE_LANGUAGE_COUNT];
	};
	const tCase Cases[] = {
		{"server.game", {"2"}},
		{"server.name", {"'Test Server'"}},
		{"server.gameMode", {"'Deathmatch'"}},
		{"server.port", {"$port"}},
		{"server.maxClients", {"20"}},
		{"server.rcon", {"false"}},
		{"server.rconPort", {"$rcon"}},
		{"server.listed", {"false"}},
		{"server.httpServer", {"true"}},
		{"server.httpPort", {"$http"}},
		{"server.httpURL", {"'http://example.invalid'"}},
		// The build part of the version is not shown.
		{"server.minClientVersion", {"'1.2.3'"}},
		{"server.syncInterval", {"50"}},
		{"server.syncMethod", {"2"}},
		{"server.duplicateNames", {"true"}},
		{"server.streamInDistance", {"150"}},
		{"server.streamOutDistance", {"300"}},
		{"server.pickupStreamInDistance", {"20"}},
		{"server.pickupStreamOutDistance", {"40"}},
		{"server.logPath", {"'logs'"}},
		{"server.syncLocalEntities", {"true"}},
		{"server.bindIP", {"'127.0.0.1'"}},
		{"server.getCVar(\"COLOUR\")", {"'red'"}},
		{"server.getCVar(\"nothing\")", {"null"}},
		{"server.getRule(\"Version\")", {"'1.5.10'"}},
		{"server.getRule(\"Mode\")", {"'race'"}},
		{"server.streamInDistance = 99.5", {"null", "99.5", "99.5"}},
		{"server.streamInDistance", {"99.5"}},
		{"server.streamOutDistance = 1", {"null", "1", "1"}},
		{"server.streamOutDistance", {"1"}},
		{"server.pickupStreamInDistance = 2", {"null", "2", "2"}},
		{"server.pickupStreamInDistance", {"2"}},
		{"server.pickupStreamOutDistance = 12.5", {"null", "12.5", "12.5"}},
		{"server.pickupStreamOutDistance", {"12.5"}},
		{"server.streamInDistance = \"far\"", {"error: Expected number for argument 1"}},
		// Back to the configuration's values for the next language.
		{"server.streamInDistance = 150", {"null", "150", "150"}},
		{"server.streamOutDistance = 300", {"null", "300", "300"}},
		{"server.pickupStreamInDistance = 20", {"null", "20", "20"}},
		{"server.pickupStreamOutDistance = 40", {"null", "40", "40"}},
		{"server.port = 1",
			{"error: property 'port' readonly", "error: setting getter-only property \"port\"",
				"error: the index 'port' does not exist"}},
	};
	for (size_t Language = 0; Language < PROBE_LANGUAGE_COUNT; Language++)
	{
		for (const tCase& Case : Cases)
		{
			std::string Expected = Case.m_szExpected[Language] ? Case.m_szExpected[Language] : Case.m_szExpected[0];
			ReplaceAll(Expected, "$port", std::to_string(m_usPort));
			ReplaceAll(Expected, "$rcon", std::to_string(m_usRConPort));
			ReplaceAll(Expected, "$http", std::to_string(m_usHttpPort));
			EXPECT_EQ(Probe(Language, Case.m_szCode), Expected)
				<< g_ProbeLanguages[Language].m_szCommand << ": " << Case.m_szCode;
		}
	}
}

TEST_P(ServerScriptFunctions, RulesAreNamedExactly)
{
	Start();
	for (size_t Language = 0; Language < PROBE_LANGUAGE_COUNT; Language++)
	{
		const std::string Lang = g_ProbeLanguages[Language].m_szCommand;
		EXPECT_NE(Probe(Language, "server.setRule(\"Mode\", \"" + Lang + "a\")").rfind("error", 0), 0u);
		Probe(Language, "server.setRule(\"mode\", \"" + Lang + "b\")");
		EXPECT_EQ(Probe(Language, "server.getRule(\"Mode\")"), "'" + Lang + "a'");
		EXPECT_EQ(Probe(Language, "server.getRule(\"mode\")"), "'" + Lang + "b'");
		EXPECT_EQ(Probe(Language, "server.getRule(\"MODE\")"), "null");
		EXPECT_EQ(Probe(Language, "server.setRule(\"Mode\", 5)"), "error: Expected string for argument 2");
		EXPECT_EQ(Probe(Language, "server.getRule(\"Mode\")"), "'" + Lang + "a'");
	}
}

TEST_P(ServerScriptFunctions, BansRefuseTheAddressUntilTheyRunOut)
{
	Start();
	// Without a duration the ban holds for ever.
	EXPECT_EQ(Probe(PROBE_LUA, "server.banIP(\"127.0.0.1\")"), "null");
	CGameClient Refused;
	ASSERT_TRUE(Refused.Connect(m_usPort));
	ASSERT_TRUE(Refused.SendJoinRequest(tJoinRequest()));
	ASSERT_TRUE(Refused.WaitForDisconnect());
	EXPECT_EQ(Refused.GetDisconnectReason(), REASON_BANNED);
	EXPECT_TRUE(m_Server.WaitForOutput("CONNECT: 127.0.0.1 revoked connection [BANNED]"));
	EXPECT_EQ(Probe(PROBE_JS, "server.unbanIP(\"127.0.0.1\")"), "true");
	CGameClient Admitted;
	Join(Admitted, "Player");

	for (size_t Language = 0; Language < PROBE_LANGUAGE_COUNT; Language++)
	{
		const char* szLanguage = g_ProbeLanguages[Language].m_szCommand;
		struct tCase
		{
			const char* m_szCode;
			const char* m_szExpected;
		};
		const tCase Cases[] = {
			{"server.unbanIP(\"10.0.0.1\")", "false"},
			{"server.banIP(\"10.0.0.1\", 0)", "null"},
			{"server.isIPBanned(\"10.0.0.1\")", "true"},
			{"server.banIP(\"10.0.0.2\", 600000)", "null"},
			{"server.isIPBanned(\"10.0.0.2\")", "true"},
			// Addresses compare exactly as given.
			{"server.isIPBanned(\" 10.0.0.2\")", "false"},
			// A ban that has already run out never holds, and is never taken for one that never ends.
			{"server.banIP(\"10.0.0.3\", -5)", "null"},
			{"server.isIPBanned(\"10.0.0.3\")", "false"},
			{"server.banIP(\"10.0.0.4\", 1)", "null"},
			{"server.unbanAllIPs()", "null"},
			{"server.isIPBanned(\"10.0.0.1\")", "false"},
			{"server.isIPBanned(\"10.0.0.2\")", "false"},
			{"server.banIP(5)", "error: Expected string for argument 1"},
			{"server.banIP(\"10.0.0.5\", \"soon\")", "error: Expected integer for argument 2"},
			{"server.isIPBanned(\"10.0.0.5\")", "false"},
		};
		for (const tCase& Case : Cases)
		{
			const std::string Expected =
				Language == PROBE_JS && std::string(Case.m_szExpected) == "null" ? "undefined" : Case.m_szExpected;
			EXPECT_EQ(Probe(Language, Case.m_szCode), Expected) << szLanguage << ": " << Case.m_szCode;
		}
		// A timed ban holds until it runs out; the test that finds it run out removes it.
		EXPECT_EQ(Probe(Language, "server.banIP(\"10.0.0.6\", 1)"), Language == PROBE_JS ? "undefined" : "null");
		usleep(20000);
		EXPECT_EQ(Probe(Language, "server.isIPBanned(\"10.0.0.6\")"), "false") << szLanguage;
		EXPECT_EQ(Probe(Language, "server.unbanIP(\"10.0.0.6\")"), "false") << szLanguage;
	}
}

TEST_P(ServerScriptFunctions, NameAndGameModeReachEveryClient)
{
	Start();
	CGameClient First, Second;
	Join(First, "First");
	Join(Second, "Second");
	First.TakeAll();
	Second.TakeAll();
	// 40 two-byte characters: the 63-byte field keeps 31 of them whole.
	std::string Accented;
	for (int i = 0; i < 40; i++)
		Accented += "\xC3\xA9";
	struct tCase
	{
		size_t m_Language;
		std::string m_Code;
		uint32_t m_uiMessage;
		std::string m_Sent;
	};
	const tCase Cases[] = {
		{PROBE_LUA, "server.name = \"New name\"", MSG_SERVER_NAME, "New name"},
		{PROBE_JS, "server.gameMode = \"Race\"", MSG_GAME_MODE, "Race"},
		{PROBE_SQUIRREL, "server.name = \"" + Accented + "\"", MSG_SERVER_NAME, Accented.substr(0, 62)},
		{PROBE_LUA, "server.gameMode = \"" + std::string(70, 'm') + "\"", MSG_GAME_MODE, std::string(63, 'm')},
		{PROBE_JS, "server.name = \"\"", MSG_SERVER_NAME, ""},
	};
	for (const tCase& Case : Cases)
	{
		Probe(Case.m_Language, Case.m_Code);
		for (CGameClient* pClient : {&First, &Second})
		{
			tReceivedMessage Message;
			ASSERT_TRUE(pClient->WaitForMessage(Case.m_uiMessage, Message)) << Case.m_Code;
			CTestMessageReader Reader(Message.m_Body);
			std::string Text;
			ASSERT_TRUE(Reader.String(Text) && Reader.IsAtEnd()) << Case.m_Code;
			EXPECT_EQ(Text, Case.m_Sent) << Case.m_Code;
		}
		const char* szRead = Case.m_uiMessage == MSG_SERVER_NAME ? "server.name" : "server.gameMode";
		EXPECT_EQ(Probe(PROBE_LUA, szRead), "'" + Case.m_Sent + "'") << Case.m_Code;
	}
	EXPECT_EQ(Probe(PROBE_LUA, "server.name = 5"), "error: Expected string for argument 1");
}

TEST_P(ServerScriptFunctions, PasswordCanBeSetAndCleared)
{
	Start();
	EXPECT_EQ(Probe(PROBE_SQUIRREL, "server.setPassword(\"secret\")"), "true");
	CGameClient Refused;
	ASSERT_TRUE(Refused.Connect(m_usPort));
	ASSERT_TRUE(Refused.SendJoinRequest(tJoinRequest()));
	ASSERT_TRUE(Refused.WaitForDisconnect());
	EXPECT_EQ(Refused.GetDisconnectReason(), REASON_WRONG_PASSWORD);
	CGameClient WithPassword;
	Join(WithPassword, "First", "secret");

	EXPECT_EQ(Probe(PROBE_LUA, "server.setPassword(\"\")"), "true");
	CGameClient WithoutPassword;
	Join(WithoutPassword, "Second");
	EXPECT_EQ(Probe(PROBE_JS, "server.setPassword(null)"), "error: Expected string for argument 1");
}

TEST_P(ServerScriptFunctions, ShutdownEndsTheServerAfterThePass)
{
	Start();
	ASSERT_TRUE(m_Server.WriteInput("js server.shutdown()\n"));
	EXPECT_EQ(m_Server.WaitForExit(), 0);
	const std::vector<std::string> Lines = m_Server.GetOutputLines();
	const int iRequested = FindLine(Lines, "Script requested server shutdown!");
	ASSERT_GE(iRequested, 0) << m_Server.GetRawOutput();
	EXPECT_GE(FindLine(Lines, "probe js: server.shutdown() => undefined"), 0);
	EXPECT_GT(FindLine(Lines, "Server shutting down..."), iRequested);
}

INSTANTIATE_TEST_SUITE_P(Transport, ServerScriptFunctions, ::testing::Bool(), DescribeTransport);
