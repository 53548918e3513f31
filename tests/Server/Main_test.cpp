// Black-box tests of start-up and shutdown: the real server binary in a folder of its own.

#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/resource.h>

#include "ServerHarness.h"

using namespace ServerTest;

namespace
{
const char* const kStartupLines[] = {
	"Server is starting...",
	"Multithreading: disabled",
	"Starting resources...",
	"0/0 Resources loaded, 0 failed",
};
}

TEST(Main, StartupLinesComeInOrderAndQuitEndsWithStatusZero)
{
	CServerProcess Server;
	StartAndWait(Server, MakeConfig());
	ASSERT_TRUE(Server.WriteInput("quit\n"));
	EXPECT_EQ(Server.WaitForExit(), 0);

	std::vector<std::string> Lines = Server.GetOutputLines();
	size_t Next = 0;
	for (const char* szLine : kStartupLines)
	{
		int iIndex = FindLine(Lines, szLine, Next);
		ASSERT_GE(iIndex, 0) << "missing or out of order: " << szLine;
		Next = static_cast<size_t>(iIndex) + 1;
	}
	ASSERT_FALSE(Lines.empty());
	EXPECT_EQ(Lines.back(), "Server shutting down...");
	EXPECT_TRUE(HasLineContaining(Lines, "Server is now listening on port"));
}

TEST(Main, ConsoleLinesStartInGreenAndEndWithTheResetEscape)
{
	CServerProcess Server;
	StartAndWait(Server, MakeConfig());
	Server.WriteInput("quit\n");
	ASSERT_EQ(Server.WaitForExit(), 0);
	EXPECT_NE(Server.GetRawOutput().find("\x1b[32;1mServer is starting...\x1b[0;0m\n"), std::string::npos);
}

TEST(Main, QuitAndExitInAnyCaseShutDown)
{
	for (const char* szCommand : {"quit\n", "exit\n", "QUIT\n", "Exit now\r\n"})
	{
		CServerProcess Server;
		StartAndWait(Server, MakeConfig());
		ASSERT_TRUE(Server.WriteInput(szCommand));
		EXPECT_EQ(Server.WaitForExit(), 0) << szCommand;
		EXPECT_EQ(Server.GetOutputLines().back(), "Server shutting down...") << szCommand;
	}
}

TEST(Main, SigintShutsDownInOrderWithStatusZero)
{
	for (eStdin Input : {eStdin::Pipe, eStdin::Closed, eStdin::DevNull})
	{
		CServerProcess Server;
		StartAndWait(Server, MakeConfig(), {}, Input);
		ASSERT_TRUE(Server.Signal(SIGINT));
		EXPECT_EQ(Server.WaitForExit(), 0);
		EXPECT_EQ(Server.GetOutputLines().back(), "Server shutting down...");
	}
}

TEST(Main, TerminationStopsEveryResourceLikeQuitAndExitsWithStatusZero)
{
	// A service manager stops the server with SIGTERM: resources stop and their scripts save what they keep.
	for (int iSignal : {SIGTERM, SIGINT})
	{
		CServerProcess Server;
		Server.WriteFile("resources/keeper/meta.xml",
			"<meta><script src=\"main.lua\" type=\"server\" language=\"lua\" /></meta>\n");
		Server.WriteFile("resources/keeper/main.lua",
			"addEventHandler('OnResourceStop', function(event, resource) print('saved by ' .. resource.name) end)\n");
		StartAndWait(Server, MakeConfig(ResourceList({"keeper"})), {}, eStdin::Closed);
		ASSERT_TRUE(Server.Signal(iSignal));
		EXPECT_EQ(Server.WaitForExit(), 0) << iSignal << "\n" << Server.GetRawOutput();
		std::vector<std::string> Lines = Server.GetOutputLines();
		const int iShutdown = FindLine(Lines, "Server shutting down...");
		ASSERT_GE(iShutdown, 0) << Server.GetRawOutput();
		EXPECT_GT(FindLine(Lines, "saved by keeper", static_cast<size_t>(iShutdown)), iShutdown)
			<< Server.GetRawOutput();
		EXPECT_GT(FindLine(Lines, "STOP: Resource keeper stopped.", static_cast<size_t>(iShutdown)), iShutdown)
			<< Server.GetRawOutput();
	}
}

TEST(Main, ServerKeepsRunningWhenStandardInputEnds)
{
	CServerProcess Server;
	StartAndWait(Server, MakeConfig());
	Server.CloseInput();
	// A command file line run after start-up would have been the only other way to stop it.
	ASSERT_TRUE(Server.Signal(SIGINT));
	EXPECT_EQ(Server.WaitForExit(), 0);
}

TEST(Main, NoInputIgnoresStandardInput)
{
	CServerProcess Server;
	StartAndWait(Server, MakeConfig(), {"-noinput"});
	Server.WriteInput("bogus\nquit\n");
	Server.CloseInput();
	ASSERT_TRUE(Server.Signal(SIGINT));
	EXPECT_EQ(Server.WaitForExit(), 0);
	EXPECT_FALSE(HasLineContaining(Server.GetOutputLines(), "'bogus' is not recognized"));
}

struct tFailedStart
{
	const char* m_szName;
	const char* m_szConfig; // null: no configuration file at all
	std::vector<std::string> m_Arguments;
	const char* m_szError;
};

void PrintTo(const tFailedStart& Case, std::ostream* pStream)
{
	*pStream << Case.m_szName;
}

class FailedStart : public ::testing::TestWithParam<tFailedStart>
{
};

TEST_P(FailedStart, LogsItsReasonAndExitsWithStatusOne)
{
	const tFailedStart& Case = GetParam();
	for (eStdin Input : {eStdin::Closed, eStdin::Pipe})
	{
		CServerProcess Server;
		if (Case.m_szConfig)
			Server.WriteFile("server.xml", Case.m_szConfig);
		ASSERT_TRUE(Server.Start(Case.m_Arguments, Input));
		// Without a terminal on standard input nobody can press a key, so the process ends by itself.
		EXPECT_EQ(Server.WaitForExit(), 1);
		std::vector<std::string> Lines = Server.GetOutputLines();
		EXPECT_GE(FindLine(Lines, Case.m_szError), 0) << Server.GetRawOutput();
		EXPECT_TRUE(HasLineContaining(Lines, "Press any key to continue ..."));
		EXPECT_FALSE(HasLineContaining(Lines, "Server is starting..."));
	}
}

INSTANTIATE_TEST_SUITE_P(Main, FailedStart,
	::testing::Values(
		tFailedStart{"MissingConfig", nullptr, {}, "I can't start because server.xml doesn't exist..."},
		tFailedStart{"OtherConfigNameStillSaysServerXml", nullptr, {"-config", "other.xml"},
			"I can't start because server.xml doesn't exist..."},
		tFailedStart{"UnparsableConfig", "this is not xml", {}, "I can't start because server.xml failed to parse..."},
		tFailedStart{"EmptyConfig", "", {}, "I can't start because server.xml failed to parse..."},
		tFailedStart{"MaxPlayersZero", "<server><maxplayers>0</maxplayers></server>", {},
			"The max players should at least be 1!"},
		tFailedStart{"MaxPlayersNegative", "<server><maxplayers>-1</maxplayers></server>", {},
			"The max players should not be set to anything more than 127!"},
		tFailedStart{"MaxPlayers128", "<server><maxplayers>128</maxplayers></server>", {},
			"The max players should not be set to anything more than 127!"},
		tFailedStart{"MaxPlayers500", "<server><maxplayers>500</maxplayers></server>", {},
			"The max players should not be set to anything more than 127!"},
		tFailedStart{"RConPortClash", "<server><rcon>true</rcon><rconport>22000</rconport></server>", {},
			"The rconport and httpport cannot match!"},
		tFailedStart{"RConPortClashWithoutHttpServer",
			"<server><rcon>true</rcon><rconport>22000</rconport><httpserver>false</httpserver></server>", {},
			"The rconport and httpport cannot match!"},
		tFailedStart{"RConPortClashAfterOverride", "<server><rcon>true</rcon><rconport>23000</rconport></server>",
			{"-rconport", "22000"}, "The rconport and httpport cannot match!"},
		tFailedStart{"HttpPortClashAfterOverride", "<server><rcon>true</rcon></server>", {"-httpport", "23000"},
			"The rconport and httpport cannot match!"},
		tFailedStart{"UnknownGame", "<server><game>gta:v</game></server>", {}, "Failed to load vehicle colours!"},
		tFailedStart{"GameThatCannotRun", "<server><game>bully</game></server>", {}, "Failed to load vehicle colours!"}),
	[](const ::testing::TestParamInfo<tFailedStart>& Info) { return std::string(Info.param.m_szName); });

TEST(Main, GamePortInUseFailsTheStart)
{
	// Another program holds the game port.
	CServerProcess Server;
	int iPort = 0;
	int iExitStatus = -1;
	ASSERT_TRUE(RunWithGamePortHeld(Server, eStdin::Closed, iPort, iExitStatus));
	EXPECT_EQ(iExitStatus, 1);
	std::vector<std::string> Lines = Server.GetOutputLines();
	int iStarting = FindLine(Lines, "Server is starting...");
	EXPECT_GE(iStarting, 0) << Server.GetRawOutput();
	EXPECT_GT(FindLine(Lines, "Failed to start the server!"), iStarting) << Server.GetRawOutput();
	EXPECT_TRUE(HasLineContaining(Lines, "Press any key to continue ..."));
	EXPECT_FALSE(HasLineContaining(Lines, "Server is now listening"));
	EXPECT_FALSE(HasLineContaining(Lines, "Starting resources..."));
}

TEST(Main, BindIPOptionOverridesTheConfiguration)
{
	// 192.0.2.1 is a documentation address that no machine of this test has, so binding to it fails.
	CServerProcess Server;
	StartAndWait(Server, MakeConfig("<bindip>192.0.2.1</bindip>"), {"-bindip", "127.0.0.1"});
	Server.WriteInput("quit\n");
	EXPECT_EQ(Server.WaitForExit(), 0);
}

TEST(Main, OptionsOverrideTheConfiguration)
{
	CServerProcess Server;
	std::string Port = std::to_string(FindFreePort());
	StartAndWait(Server, MakeConfig("<maxplayers>10</maxplayers><multithreaded>true</multithreaded>"),
		{"-PORT", Port, "-maxplayers", "500", "-disablemultithreaded", "-allowadmin"});
	Server.WriteInput("quit\n");
	ASSERT_EQ(Server.WaitForExit(), 0);
	std::vector<std::string> Lines = Server.GetOutputLines();
	EXPECT_GE(FindLine(Lines, "Server is now listening on port " + Port + " max players 500..."), 0);
	EXPECT_GE(FindLine(Lines, "Multithreading: disabled"), 0);
}

TEST(Main, MultithreadedOptionTurnsTheNetworkThreadOn)
{
	CServerProcess Server;
	StartAndWait(Server, MakeConfig(), {"-multithreaded"});
	Server.WriteInput("quit\n");
	ASSERT_EQ(Server.WaitForExit(), 0);
	EXPECT_GE(FindLine(Server.GetOutputLines(), "Multithreading: enabled"), 0);
}

TEST(Main, ConfigOptionNamesTheFileAndStandingLastIsIgnored)
{
	{
		CServerProcess Server;
		Server.WriteFile("other.xml", MakeConfig("<maxplayers>7</maxplayers>"));
		ASSERT_TRUE(Server.Start({"-config", "other.xml"}));
		ASSERT_TRUE(Server.WaitForOutput("Resources loaded"));
		Server.WriteInput("quit\n");
		ASSERT_EQ(Server.WaitForExit(), 0);
		EXPECT_TRUE(HasLineContaining(Server.GetOutputLines(), " max players 7..."));
	}
	{
		CServerProcess Server;
		StartAndWait(Server, MakeConfig("<maxplayers>8</maxplayers>"), {"-config"});
		Server.WriteInput("quit\n");
		ASSERT_EQ(Server.WaitForExit(), 0);
		EXPECT_TRUE(HasLineContaining(Server.GetOutputLines(), " max players 8..."));
	}
}

TEST(Main, OptionValueIsTheNextArgumentWhateverItIs)
{
	// "-noinput" becomes the port (0) and so does not switch console input off.
	CServerProcess Server;
	StartAndWait(Server, MakeConfig(), {"-port", "-noinput"});
	Server.WriteInput("quit\n");
	ASSERT_EQ(Server.WaitForExit(), 0);
	EXPECT_GE(FindLine(Server.GetOutputLines(), "Server is now listening on port 0 max players 32..."), 0);
}

namespace
{
std::string UnknownCommandReply(const std::string& Name)
{
	return "'" + Name + "' is not recognized as an internal or external command, operable program or batch file.";
}
}

TEST(Main, CommandFileRunsEachCompleteLineAfterStartup)
{
	CServerProcess Server;
	Server.WriteFile("commandline.txt",
		"/first\r\nhello there\n/" + std::string(300, 'a') + "\n/second\n/last");
	StartAndWait(Server, MakeConfig());
	// The command file has run before console input is read, so this reply comes after all of its output.
	Server.WriteInput("marker\n");
	ASSERT_TRUE(Server.WaitForOutput(UnknownCommandReply("marker")));
	Server.WriteInput("quit\n");
	ASSERT_EQ(Server.WaitForExit(), 0);

	std::vector<std::string> Lines = Server.GetOutputLines();
	int iLoaded = FindLine(Lines, "0/0 Resources loaded, 0 failed");
	int iFirst = FindLine(Lines, UnknownCommandReply("first"));
	int iTooLong = FindLine(Lines, "Line 3 of commandline.txt is too long and was not run.");
	int iSecond = FindLine(Lines, UnknownCommandReply("second"));
	EXPECT_LT(iLoaded, iFirst);
	EXPECT_LT(iFirst, iTooLong);
	EXPECT_LT(iTooLong, iSecond);
	// Chat without a client does nothing; the last line has no line feed and does not run.
	EXPECT_EQ(FindLine(Lines, UnknownCommandReply("say")), -1);
	EXPECT_EQ(FindLine(Lines, UnknownCommandReply("last")), -1);
	EXPECT_FALSE(HasLineContaining(Lines, "'aaaa"));
}

TEST(Main, CommandFileLinesReachTheirCommandAsUTF8)
{
	const std::string Name = "caf\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80";
	// The same line as UTF-8 and as UTF-16 little-endian text with its byte-order mark.
	std::string Utf16 = "\xFF\xFE";
	for (char16_t Unit : std::u16string(u"/caf\u00E9\u4E2D\U0001F600\n"))
		Utf16 += std::string{static_cast<char>(Unit & 0xFF), static_cast<char>(Unit >> 8)};
	for (const std::string& File : {"/" + Name + "\n", Utf16})
	{
		CServerProcess Server;
		Server.WriteFile("commandline.txt", File);
		StartAndWait(Server, MakeConfig());
		Server.WriteInput("marker\n");
		ASSERT_TRUE(Server.WaitForOutput(UnknownCommandReply("marker")));
		Server.WriteInput("quit\n");
		ASSERT_EQ(Server.WaitForExit(), 0);
		EXPECT_GE(FindLine(Server.GetOutputLines(), UnknownCommandReply(Name)), 0) << Server.GetRawOutput();
	}
}

TEST(Main, CommandFileQuitLineNeedsItsLineFeed)
{
	{
		CServerProcess Server;
		Server.WriteFile("commandline.txt", "/quit\n");
		Server.WriteFile("server.xml", MakeConfig());
		ASSERT_TRUE(Server.Start({"-noinput"}));
		EXPECT_EQ(Server.WaitForExit(), 0);
		EXPECT_EQ(Server.GetOutputLines().back(), "Server shutting down...");
	}
	{
		CServerProcess Server;
		Server.WriteFile("commandline.txt", "/quit");
		StartAndWait(Server, MakeConfig());
		Server.WriteInput("marker\n");
		EXPECT_TRUE(Server.WaitForOutput(UnknownCommandReply("marker")));
		Server.WriteInput("quit\n");
		EXPECT_EQ(Server.WaitForExit(), 0);
	}
}

class BuiltinGameFiles : public ::testing::TestWithParam<const char*>
{
};

TEST_P(BuiltinGameFiles, LoadWithoutAnyWarning)
{
	CServerProcess Server;
	StartAndWait(Server, MakeConfig(std::string("<game>") + GetParam() + "</game>"));
	Server.WriteInput("quit\n");
	ASSERT_EQ(Server.WaitForExit(), 0);
	std::string Output = Server.GetRawOutput();
	EXPECT_EQ(Output.find("\x1b[31;1m"), std::string::npos) << Output;
	EXPECT_EQ(Output.find("\x1b[33;1m"), std::string::npos) << Output;
}

INSTANTIATE_TEST_SUITE_P(Main, BuiltinGameFiles, ::testing::Values("gta:iii", "GTA:VC", "gta:sa", "gta:iv", "gta:iv_eflc"),
	[](const ::testing::TestParamInfo<const char*>& Info) { return std::to_string(Info.index); });

TEST(Main, FilesBesideTheProgramReplaceTheBuiltinOnes)
{
	CServerProcess Server;
	Server.WriteFile("ZADIdodavoza/GTAIIIEnums.h", "enum E { A = 1 };\n");
	Server.WriteFile("vehiclecolours.conf", "106 1\r\n");
	StartAndWait(Server, MakeConfig("<game>gta:iii</game>"));
	Server.WriteInput("quit\n");
	ASSERT_EQ(Server.WaitForExit(), 0);
	std::vector<std::string> Lines = Server.GetOutputLines();
	EXPECT_GE(FindLine(Lines, "GTAIIIEnums.h(1): got '}' expected ','"), 0);
	EXPECT_GE(FindLine(Lines, "vehiclecolours.conf[1] - bad syntax '106 1'"), 0);
}

namespace
{
// A Lua resource below resources/ that the configuration starts.
std::string WriteStartedResource(CServerProcess& Server, const std::string& Name, const std::string& Script)
{
	Server.WriteFile("resources/" + Name + "/meta.xml",
		"<meta>\n\t<script src=\"main.lua\" type=\"server\" language=\"lua\" />\n</meta>\n");
	Server.WriteFile("resources/" + Name + "/main.lua", Script);
	return "<resources><resource src=\"" + Name + "\" /></resources>";
}

struct tGameConstants
{
	const char* m_szGame;
	const char* m_szLine;
};

void PrintTo(const tGameConstants& Case, std::ostream* pStream)
{
	*pStream << Case.m_szGame;
}

class GameConstants : public ::testing::TestWithParam<tGameConstants>
{
};
}

TEST_P(GameConstants, ScriptsSeeTheServerConstantsAndTheGameHeader)
{
	CServerProcess Server;
	std::string Resources = WriteStartedResource(Server, "constants",
		"print('constants ' .. SERVER_VERSION_MAJOR .. '.' .. SERVER_VERSION_MINOR .. '.' .. SERVER_VERSION_PATCH .. ' '"
		" .. GAME_GTA_SA .. ' ' .. tostring(VEHICLE_MODEL_FIRST) .. ' ' .. tostring(VEHICLE_MODEL_LAST))\n");
	StartAndWait(Server, MakeConfig(Resources + "<game>" + GetParam().m_szGame + "</game>"));
	Server.WriteInput("quit\n");
	ASSERT_EQ(Server.WaitForExit(), 0);
	EXPECT_GE(FindLine(Server.GetOutputLines(), GetParam().m_szLine), 0) << Server.GetRawOutput();
}

INSTANTIATE_TEST_SUITE_P(Main, GameConstants,
	::testing::Values(tGameConstants{"gta:iii", "constants 1.5.10 3 90 150"},
		tGameConstants{"gta:vc", "constants 1.5.10 3 130 236"}, tGameConstants{"gta:sa", "constants 1.5.10 3 400 611"},
		tGameConstants{"gta:iv", "constants 1.5.10 3 nil nil"}),
	[](const ::testing::TestParamInfo<tGameConstants>& Info) { return std::to_string(Info.index); });

TEST(Main, ResourcesStopAfterTheShutdownLineWhileTheLogIsOpen)
{
	CServerProcess Server;
	std::string Resources = WriteStartedResource(Server, "farewell",
		"addEventHandler('OnResourceStop', function(event, resource) print('farewell from ' .. resource.name) end)\n");
	StartAndWait(Server, MakeConfig(Resources + "<logpath>logs</logpath>"));
	Server.WriteInput("quit\n");
	ASSERT_EQ(Server.WaitForExit(), 0);

	std::vector<std::string> Lines = Server.GetOutputLines();
	int iShuttingDown = FindLine(Lines, "Server shutting down...");
	ASSERT_GE(iShuttingDown, 0) << Server.GetRawOutput();
	EXPECT_GT(FindLine(Lines, "farewell from farewell"), iShuttingDown) << Server.GetRawOutput();

	std::string Log;
	ASSERT_TRUE(Server.ReadFile("logs/ServerLog.log", Log));
	size_t ShuttingDown = Log.find("Server shutting down...");
	size_t Farewell = Log.find("farewell from farewell");
	size_t Ended = Log.find("Logging Ended");
	ASSERT_NE(ShuttingDown, std::string::npos);
	ASSERT_NE(Farewell, std::string::npos) << Log;
	EXPECT_LT(ShuttingDown, Farewell);
	EXPECT_LT(Farewell, Ended);
}

namespace
{
// The soft and hard limit of open files of a running process, from /proc; false when they cannot be read.
bool ReadOpenFileLimits(pid_t Pid, unsigned long long& ullSoft, unsigned long long& ullHard)
{
	std::ifstream Limits("/proc/" + std::to_string(Pid) + "/limits");
	std::string Line;
	while (std::getline(Limits, Line))
	{
		const std::string Label = "Max open files";
		if (Line.compare(0, Label.size(), Label) != 0)
			continue;
		std::istringstream Values(Line.substr(Label.size()));
		return static_cast<bool>(Values >> ullSoft >> ullHard);
	}
	return false;
}

// Lowers this process's soft limit of open files while it lives, so a child started meanwhile inherits the low one.
class CLowOpenFileLimit
{
public:
	explicit CLowOpenFileLimit(rlim_t Soft)
	{
		m_bSaved = getrlimit(RLIMIT_NOFILE, &m_Saved) == 0;
		rlimit Low = m_Saved;
		Low.rlim_cur = Soft;
		m_bLowered = m_bSaved && Soft < m_Saved.rlim_max && setrlimit(RLIMIT_NOFILE, &Low) == 0;
	}
	~CLowOpenFileLimit()
	{
		if (m_bLowered)
			setrlimit(RLIMIT_NOFILE, &m_Saved);
	}
	bool IsLowered() const { return m_bLowered; }
	rlim_t GetHard() const { return m_Saved.rlim_max; }

private:
	rlimit m_Saved{};
	bool m_bSaved = false;
	bool m_bLowered = false;
};
}

TEST(Main, StartUpRaisesTheSoftLimitOfOpenFilesToTheHardLimit)
{
	CServerProcess Server;
	Server.WriteFile("server.xml", MakeConfig());
	rlim_t Hard = 0;
	{
		CLowOpenFileLimit Low(64);
		if (!Low.IsLowered())
			GTEST_SKIP() << "the hard limit of open files is too low to test with";
		Hard = Low.GetHard();
		ASSERT_TRUE(Server.Start());
	}
	ASSERT_TRUE(Server.WaitForOutput("Resources loaded")) << Server.GetRawOutput();
	unsigned long long ullSoft = 0;
	unsigned long long ullHard = 0;
	ASSERT_TRUE(ReadOpenFileLimits(Server.GetPid(), ullSoft, ullHard));
	EXPECT_EQ(ullHard, static_cast<unsigned long long>(Hard));
	EXPECT_EQ(ullSoft, ullHard);
	Server.WriteInput("quit\n");
	EXPECT_EQ(Server.WaitForExit(), 0);
	EXPECT_FALSE(HasLineContaining(Server.GetOutputLines(), "limit of open files")) << Server.GetRawOutput();
}
