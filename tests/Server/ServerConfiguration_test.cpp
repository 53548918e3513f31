// The configuration reader (in process) and the configuration keys as the running server shows them.

#include <cstring>
#include <gtest/gtest.h>
#include <regex>

#include "Engine/ChunkFileBuilder.h"
#include "InProcessServer.h"
#include "ServerConfiguration.h"
#include "ServerHarness.h"
#include "Support/Ports.h"

#include "Engine/ElementChunk.h"
#include "Engine/KestrinStream.h"

using namespace ServerTest;

namespace
{
CElementChunk* LoadTree(const char* szXML)
{
	Strong<Stream> pStream = Strong<Stream>::New(new CMemoryStream(szXML, strlen(szXML)));
	return CElementChunk::Load(pStream);
}
}

TEST(ServerConfiguration, KeysIgnoreCaseAndTheFirstOccurrenceCounts)
{
	CServerConfiguration Config(LoadTree(
		"<server><PORT>1234</PORT><port>99</port><name>abc</name><empty></empty><empty>x</empty>"
		"<number>12abc</number><text>abc</text><ratio>2.5</ratio></server>"));
	ASSERT_NE(Config.GetRoot(), nullptr);
	EXPECT_EQ(Config.GetInt32Value("port", 5), 1234);
	EXPECT_STREQ(Config.GetStringValue("NAME", "d"), "abc");
	EXPECT_STREQ(Config.GetStringValue("missing", "d"), "d");
	EXPECT_STREQ(Config.GetStringValue("empty", "d"), "d");
	EXPECT_EQ(Config.GetInt32Value("number", 5), 12);
	EXPECT_EQ(Config.GetInt32Value("text", 5), 0);
	EXPECT_FLOAT_EQ(Config.GetFloatValue("ratio", 1.0f), 2.5f);
	EXPECT_FLOAT_EQ(Config.GetFloatValue("missing", 1.5f), 1.5f);
}

TEST(ServerConfiguration, BooleansAreExactlyTrueFalseOneOrZero)
{
	struct tCase
	{
		const char* m_szText;
		bool m_bDefault;
		bool m_bExpected;
	};
	const tCase Cases[] = {
		{"true", false, true}, {"1", false, true}, {"false", true, false}, {"0", true, false},
		{"yes", false, false}, {"yes", true, true}, {"TRUE", false, false}, {"", true, true},
	};
	for (const tCase& Case : Cases)
	{
		std::string XML = std::string("<server><flag>") + Case.m_szText + "</flag></server>";
		CServerConfiguration Config(LoadTree(XML.c_str()));
		EXPECT_EQ(Config.GetBoolValue("flag", Case.m_bDefault), Case.m_bExpected) << Case.m_szText;
	}
}

TEST(ServerConfiguration, ClientVariableNamesIgnoreCaseAndRuleNamesDoNot)
{
	CInProcessServer Server("<cvar name=\"Speed\" value=\"1\"/><cvar name=\"SPEED\" value=\"2\"/>"
							"<rule name=\"Mode\" value=\"a\"/><rule name=\"mode\" value=\"b\"/>"
							"<rule name=\"Mode\" value=\"c\"/>",
		false);
	ASSERT_TRUE(Server.Start());

	const CVar* pVar = Server.GetServer().GetClientVariables().Find("speed");
	ASSERT_NE(pVar, nullptr);
	EXPECT_STREQ(pVar->GetName(), "Speed");
	EXPECT_STREQ(pVar->GetValue(), "2");

	std::vector<std::string> Rules;
	for (const tRule& Rule : Server.GetServer().GetRules())
		Rules.push_back(Rule.m_Name + "=" + Rule.m_Value);
	EXPECT_EQ(Rules, (std::vector<std::string>{"Version=1.5.10", "Mode=c", "mode=b"}));
	EXPECT_EQ(Server.GetServer().GetRule("MODE"), nullptr);
}

namespace
{
struct tLogged
{
	const char* m_szName;
	const char* m_szChildren;
	const char* m_szLine;
};

void PrintTo(const tLogged& Case, std::ostream* pStream)
{
	*pStream << Case.m_szName;
}

class LoggedKeys : public ::testing::TestWithParam<tLogged>
{
};
}

TEST_P(LoggedKeys, AreReportedAndTheServerStillStarts)
{
	CServerProcess Server;
	ASSERT_NO_FATAL_FAILURE(StartAndWait(Server, MakeConfig(GetParam().m_szChildren)));
	Server.WriteInput("quit\n");
	ASSERT_EQ(Server.WaitForExit(), 0);
	EXPECT_GE(FindLine(Server.GetOutputLines(), GetParam().m_szLine), 0) << Server.GetRawOutput();
}

INSTANTIATE_TEST_SUITE_P(ServerConfiguration, LoggedKeys,
	::testing::Values(
		tLogged{"SyncMethod", "<syncmethod>sometimes</syncmethod>", "Invalid syncmethod specified, using interval!"},
		tLogged{"SyncPriority", "<syncpacketpriority>urgent</syncpacketpriority>",
			"Invalid syncpriority specified, using low!"},
		tLogged{"CVarWithoutName", "<cvar value=\"1\"/>", "CVar in config without name attribute!"},
		tLogged{"CVarWithoutValue", "<cvar name=\"speed\"/>", "CVar speed in config without value attribute!"},
		tLogged{"RuleWithoutName", "<rule value=\"1\"/>", "Rule in config without name attribute!"},
		tLogged{"RuleWithoutValue", "<rule name=\"Owner\"/>", "Rule Owner in config without value attribute!"},
		tLogged{"AnticheatWithoutPath", "<anticheat><file src=\"a.dat\"/></anticheat>",
			"Anticheat file in config without path attribute!"},
		tLogged{"AnticheatWithoutSource", "<anticheat><FILE path=\"data/a.dat\"/></anticheat>",
			"Anticheat file data/a.dat in config without src attribute!"},
		tLogged{"MissingResource", "<resources><resource/><resource src=\"ghost\"/></resources>",
			"Error loading resource ghost: resource not found!"},
		tLogged{"ResourceSummary", "<resources><resource src=\"ghost\"/></resources>", "0/1 Resources loaded, 1 failed"},
		tLogged{"RConNotABoolean", "<rcon>yes</rcon><httpport>22000</httpport><rconport>22000</rconport>",
			"Server is starting..."},
		tLogged{"MaxPlayersUpperBound", "<maxplayers>127</maxplayers>", "0/0 Resources loaded, 0 failed"},
		tLogged{"Password", "<password>secret</password><rcon>true</rcon><rconpassword>other</rconpassword>",
			"0/0 Resources loaded, 0 failed"}),
	[](const ::testing::TestParamInfo<tLogged>& Info) { return std::string(Info.param.m_szName); });

namespace
{
std::vector<std::string> SplitLogLines(const std::string& Log)
{
	std::vector<std::string> Lines;
	size_t Start = 0;
	for (size_t End = Log.find("\r\n"); End != std::string::npos; End = Log.find("\r\n", Start))
	{
		Lines.push_back(Log.substr(Start, End - Start));
		Start = End + 2;
	}
	EXPECT_EQ(Start, Log.size()) << "every line ends with CR LF";
	return Lines;
}

void RunOnce(CServerProcess& Server, const std::string& Children)
{
	ASSERT_NO_FATAL_FAILURE(StartAndWait(Server, MakeConfig(Children)));
	Server.WriteInput("quit\n");
	ASSERT_EQ(Server.WaitForExit(), 0);
}

const std::string kDashes(60, '-');
}

TEST(ServerConfiguration, LogFileHasItsMarkBannersAndTaggedLines)
{
	CServerProcess Server;
	RunOnce(Server, "<logpath>logs</logpath><syncmethod>bad</syncmethod>");
	std::string Log;
	ASSERT_TRUE(Server.ReadFile("logs/ServerLog.log", Log));
	ASSERT_EQ(Log.compare(0, 3, "\xEF\xBB\xBF"), 0);

	std::vector<std::string> Lines = SplitLogLines(Log.substr(3));
	const std::regex Stamped("^<\\d{2}/\\d{2}/\\d{4} - \\d{2}:\\d{2}:\\d{2}> (.*)$");
	std::vector<std::string> Texts;
	for (const std::string& Line : Lines)
	{
		std::smatch Match;
		ASSERT_TRUE(std::regex_match(Line, Match, Stamped)) << Line;
		Texts.push_back(Match[1]);
	}
	ASSERT_GE(Texts.size(), 10u);
	EXPECT_EQ(Texts[0], kDashes);
	EXPECT_EQ(Texts[1], "--------------------- Logging Started ----------------------");
	EXPECT_EQ(Texts[2], kDashes);
	EXPECT_EQ(Texts[3], "Kestrin 1.2.0");
	EXPECT_EQ(Texts[4], "Platform: Linux");
	EXPECT_EQ(Texts[6], kDashes);
	EXPECT_GE(FindLine(Texts, "[ERROR]   Invalid syncmethod specified, using interval!"), 0);
	EXPECT_GE(FindLine(Texts, "[INFO]    Server is starting..."), 0);
	EXPECT_GE(FindLine(Texts, "[INFO]    Server shutting down..."), 0);
	size_t End = Texts.size();
	EXPECT_EQ(Texts[End - 3], kDashes);
	EXPECT_EQ(Texts[End - 2], "---------------------- Logging Ended -----------------------");
	EXPECT_EQ(Texts[End - 1], kDashes);
}

TEST(ServerConfiguration, LogFileIsAppendedToAndMarkedOnlyOnce)
{
	CServerProcess Server;
	RunOnce(Server, "<logpath>logs/nested</logpath>");
	std::string First;
	ASSERT_TRUE(Server.ReadFile("logs/nested/ServerLog.log", First));
	CServerProcess Second;
	Second.WriteFile("logs/nested/ServerLog.log", First);
	RunOnce(Second, "<logpath>logs/nested</logpath>");
	std::string Log;
	ASSERT_TRUE(Second.ReadFile("logs/nested/ServerLog.log", Log));
	EXPECT_EQ(Log.compare(0, First.size(), First), 0);
	EXPECT_EQ(Log.find("\xEF\xBB\xBF", 3), std::string::npos);
	size_t Banners = 0;
	for (size_t At = Log.find("Logging Started"); At != std::string::npos; At = Log.find("Logging Started", At + 1))
		Banners++;
	EXPECT_EQ(Banners, 2u);
}

TEST(ServerConfiguration, TimeStampFormatIsConfigurable)
{
	CServerProcess Server;
	RunOnce(Server, "<logpath>logs</logpath><logtimestamp>stamp %%</logtimestamp>");
	std::string Log;
	ASSERT_TRUE(Server.ReadFile("logs/ServerLog.log", Log));
	std::vector<std::string> Lines = SplitLogLines(Log.substr(3));
	ASSERT_FALSE(Lines.empty());
	for (const std::string& Line : Lines)
		EXPECT_EQ(Line.compare(0, 10, "<stamp %> "), 0) << Line;
	EXPECT_GE(FindLine(Lines, "<stamp %> [INFO]    Server is starting..."), 0);
}

TEST(ServerConfiguration, LongLogPathIsUsedWhole)
{
	const std::string Folder = "logs/" + std::string(60, 'l');
	CServerProcess Server;
	RunOnce(Server, "<logpath>" + Folder + "</logpath>");
	std::string Log;
	ASSERT_TRUE(Server.ReadFile(Folder + "/ServerLog.log", Log));
	EXPECT_NE(Log.find("Server shutting down..."), std::string::npos);
}

// A configuration can be a chunk file, and a chunk file can hold a texture of a format nobody knows: that is logged
// for each of its levels and the server starts all the same.
TEST(ServerConfiguration, ChunkFileWithATextureOfUnknownFormatStarts)
{
	using namespace ChunkFileBuilder;
	auto Key = [](const char* szName, int iValue) {
		return tRecord{CHUNK_ELEMENT, szName, ElementData(std::to_string(iValue), {}), {}, {}, {}};
	};
	tBytes Header;
	AppendUInt(Header, 7, 2);
	Header.resize(16, 0);
	tRecord Texture{CHUNK_TEXTURE, "logo", Header, {}, {}, {}};
	Texture.Children.push_back(tRecord{CHUNK_IMAGEDATA, "0", {1, 2, 3, 4}, {}, {}, {}});
	Texture.Children.push_back(tRecord{CHUNK_IMAGEDATA, "1", {}, {}, {}, {}});
	tRecord Server{CHUNK_ELEMENT, "server", ElementData("", {}), {}, {}, {}};
	const int iPort = VexaTest::FindFreePort();
	Server.Children = {Key("port", iPort), Texture, Key("httpport", VexaTest::FindFreePort()),
		Key("rconport", VexaTest::FindFreePort())};
	tRecord Root{0, "", {}, {Server}, {}, {}};
	const tBytes File = PlainFile(Root, 8);

	CServerProcess Process;
	Process.WriteFile("server.xml", std::string(File.begin(), File.end()));
	ASSERT_TRUE(Process.Start());
	ASSERT_TRUE(Process.WaitForOutput("Resources loaded")) << Process.GetRawOutput();
	EXPECT_TRUE(Process.WaitForOutput("Server is now listening on port " + std::to_string(iPort) + " max players 32..."));
	Process.WriteInput("quit\n");
	ASSERT_EQ(Process.WaitForExit(), 0);
	size_t Count = 0;
	for (const std::string& Line : Process.GetOutputLines())
		Count += Line == "Unknown texture format 7 in texture logo!" ? 1 : 0;
	EXPECT_EQ(Count, 2u) << Process.GetRawOutput();
}
