// Black-box tests of the console commands that manage resources ("start", "stop", "restart", "stopall",
// "refresh") in the real server, on resource folders, group folders and ustar archives: their replies and the
// log lines of starting and stopping, on the console and in the log file, dependencies, the resource events seen
// by a Lua script, the client files published beside the binary, and paths that try to leave the resource.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "Engine/TarBuilder.h"
#include "ServerHarness.h"

using namespace ServerTest;

namespace
{
// A meta.xml with one Lua server script, main.lua, and the given further children.
std::string LuaMeta(const std::string& Extra = "")
{
	return "<meta>\n\t<script src=\"main.lua\" type=\"server\" language=\"lua\" />\n" + Extra + "</meta>\n";
}

// A folder resource below resources/ (Path may pass through group folders).
void WriteLuaResource(CServerProcess& Server, const std::string& Path, const std::string& Script,
	const std::string& Extra = "")
{
	Server.WriteFile("resources/" + Path + "/meta.xml", LuaMeta(Extra));
	Server.WriteFile("resources/" + Path + "/main.lua", Script);
}

// Prints every start and stop of every resource, with the restart flag of a stop.
const char* const WATCHER_SCRIPT =
	"addEventHandler('OnResourceStart', function(event, resource) print('watch start ' .. resource.name) end)\n"
	"addEventHandler('OnResourceStop', function(event, resource, restart) "
	"print('watch stop ' .. resource.name .. ' ' .. tostring(restart)) end)\n";

// Starts the server with a log file and the given resources started by the configuration.
void StartServer(CServerProcess& Server, const std::vector<std::string>& Started = {})
{
	StartAndWait(Server, MakeConfig("\t<logpath>logs</logpath>\n" + ResourceList(Started)));
}

// Types one console line and waits for the text that ends its work.
void Type(CServerProcess& Server, const std::string& Line, const std::string& Reply)
{
	ASSERT_TRUE(Server.WriteInput(Line + "\n"));
	ASSERT_TRUE(Server.WaitForOutput(Reply)) << "after '" << Line << "':\n" << Server.GetRawOutput();
}

// Each expected text is a whole output line, found in this order after line From (other lines may come between);
// the index of the last one, or -1.
int ExpectLinesInOrder(CServerProcess& Server, const std::vector<std::string>& Expected, int From = 0)
{
	const std::vector<std::string> Lines = Server.GetOutputLines();
	int iLine = From;
	for (const std::string& Text : Expected)
	{
		const int iFound = FindLine(Lines, Text, static_cast<size_t>(iLine));
		if (iFound < 0)
		{
			ADD_FAILURE() << "no line '" << Text << "' in order after line " << iLine << ":\n" << Server.GetRawOutput();
			return -1;
		}
		iLine = iFound + 1;
	}
	return iLine - 1;
}

// Each text occurs in the log file, in this order.
void ExpectLoggedInOrder(const std::string& Log, const std::vector<std::string>& Expected)
{
	size_t Position = 0;
	for (const std::string& Text : Expected)
	{
		const size_t Found = Log.find(Text, Position);
		ASSERT_NE(Found, std::string::npos) << "'" << Text << "' missing from the log file in order:\n" << Log;
		Position = Found + Text.size();
	}
}

bool Exists(const CServerProcess& Server, const std::string& RelativePath)
{
	return std::filesystem::exists(std::filesystem::path(Server.GetFolder()) / RelativePath);
}
}

TEST(ResourceCommands, StartStopAndRestartFollowDependenciesAndRaiseTheEvents)
{
	CServerProcess Server;
	WriteLuaResource(Server, "watcher", WATCHER_SCRIPT);
	WriteLuaResource(Server, "base", "print('base runs')\n");
	WriteLuaResource(Server, "app", "print('app runs')\n", "\t<dependency src=\"base\" />\n");
	ASSERT_NO_FATAL_FAILURE(StartServer(Server, {"watcher"}));

	ASSERT_NO_FATAL_FAILURE(Type(Server, "start app", "Started resource app"));
	int iLine = ExpectLinesInOrder(Server,
		{"START: Starting resource app...", "START: Starting resource base...", "base runs", "watch start base",
			"START: Resource base started.", "app runs", "watch start app", "START: Resource app started.",
			"Started resource app"});

	ASSERT_NO_FATAL_FAILURE(Type(Server, "start APP", "Failed to start resource APP"));
	ASSERT_NO_FATAL_FAILURE(Type(Server, "restart app", "Restarted resource app"));
	iLine = ExpectLinesInOrder(Server,
		{"RESTART: Restarting resource app...", "STOP: Stopping resource app...", "watch stop app true",
			"STOP: Resource app stopped.", "START: Starting resource app...", "app runs", "watch start app",
			"START: Resource app started.", "Restarted resource app"},
		iLine);
	const int iRestart = FindLine(Server.GetOutputLines(), "RESTART: Restarting resource app...");
	EXPECT_EQ(FindLine(Server.GetOutputLines(), "START: Starting resource base...", static_cast<size_t>(iRestart)), -1)
		<< "a started dependency is not started again";

	ASSERT_NO_FATAL_FAILURE(Type(Server, "stop app", "Stopped resource app"));
	iLine = ExpectLinesInOrder(Server,
		{"STOP: Stopping resource app...", "watch stop app false", "STOP: Resource app stopped.",
			"Stopped resource app"},
		iLine);

	ASSERT_NO_FATAL_FAILURE(Type(Server, "stop app", "Failed to stop resource app"));
	ASSERT_NO_FATAL_FAILURE(Type(Server, "restart app", "Failed to restart resource app"));
	// Left running: the watcher and the dependency.
	ASSERT_NO_FATAL_FAILURE(Type(Server, "stopall", "Stopped 2 resources"));
	ASSERT_NO_FATAL_FAILURE(Type(Server, "stopall", "Stopped 0 resources"));
	ASSERT_NO_FATAL_FAILURE(Type(Server, "start", "No resource specified!"));
	ASSERT_NO_FATAL_FAILURE(Type(Server, "stop nothing", "Unable to find the resource nothing!"));

	const std::string Log = QuitAndReadLog(Server);
	ExpectLoggedInOrder(Log,
		{"START: Starting resource app...", "START: Starting resource base...", "START: Resource base started.",
			"START: Resource app started.", "Started resource app", "Failed to start resource APP",
			"RESTART: Restarting resource app...", "STOP: Resource app stopped.", "Restarted resource app",
			"Stopped resource app", "Failed to stop resource app", "Failed to restart resource app",
			"Stopped 2 resources", "Stopped 0 resources", "No resource specified!",
			"Unable to find the resource nothing!"});
}

TEST(ResourceCommands, GroupFoldersAndArchivesAreFoundAndRefreshed)
{
	CServerProcess Server;
	WriteLuaResource(Server, "[gamemodes]/[racing]/racer", "print('racer runs')\n");
	WriteLuaResource(Server, ".hidden", "print('hidden runs')\n");
	Server.WriteFile("resources/[gamemodes]/Boxed.TAR", CTarBuilder()
															 .File("meta.xml", LuaMeta())
															 .File("main.lua", "print('boxed runs from its archive')\n")
															 .End()
															 .Bytes());
	// One archive made by the system's archiver.
	Server.WriteFile("staging/meta.xml", LuaMeta());
	Server.WriteFile("staging/main.lua", "print('packed runs from its archive')\n");
	const std::string Command = "tar --format=ustar -C '" + Server.GetFolder() + "/staging' -cf '" +
		Server.GetFolder() + "/resources/packed.tar' meta.xml main.lua";
	ASSERT_EQ(std::system(Command.c_str()), 0);
	ASSERT_NO_FATAL_FAILURE(StartServer(Server));
	EXPECT_TRUE(Server.WaitForOutput("3 resources in the resource cache")) << Server.GetRawOutput();

	ASSERT_NO_FATAL_FAILURE(Type(Server, "start racer", "Started resource racer"));
	EXPECT_TRUE(Server.WaitForOutput("racer runs"));
	ASSERT_NO_FATAL_FAILURE(Type(Server, "start boxed", "Started resource boxed"));
	EXPECT_TRUE(Server.WaitForOutput("boxed runs from its archive"));
	ASSERT_NO_FATAL_FAILURE(Type(Server, "start packed", "Started resource packed"));
	EXPECT_TRUE(Server.WaitForOutput("packed runs from its archive"));
	ASSERT_NO_FATAL_FAILURE(Type(Server, "start .hidden", "Unable to find the resource .hidden!"));

	// New folders and a vanished one, while the server runs.
	WriteLuaResource(Server, "[gamemodes]/later", "print('later runs')\n");
	WriteLuaResource(Server, "later2", "");
	std::filesystem::remove_all(std::filesystem::path(Server.GetFolder()) / "resources/[gamemodes]/[racing]");
	ASSERT_NO_FATAL_FAILURE(Type(Server, "refresh", "4 resources in the resource cache"));
	const std::vector<std::string> Lines = Server.GetOutputLines();
	const int iStarted = FindLine(Lines, "Started resource packed");
	ASSERT_GE(iStarted, 0) << Server.GetRawOutput();
	const int iScan = FindLine(Lines, "Scanning resources...", static_cast<size_t>(iStarted));
	const int iLoad = FindLine(Lines, "Loading resources...", static_cast<size_t>(iScan));
	ASSERT_GT(iScan, 0) << Server.GetRawOutput();
	for (const char* szLine : {"Found new resource later", "Found new resource later2", "Removing resource racer",
			 "STOP: Resource racer stopped."})
	{
		const int iFound = FindLine(Lines, szLine, static_cast<size_t>(iScan));
		EXPECT_TRUE(iFound > iScan && iFound < iLoad) << szLine << "\n" << Server.GetRawOutput();
	}
	ASSERT_NO_FATAL_FAILURE(Type(Server, "start later", "Started resource later"));
	ASSERT_NO_FATAL_FAILURE(Type(Server, "start racer", "Unable to find the resource racer!"));
	ASSERT_NO_FATAL_FAILURE(Type(Server, "stopall", "Stopped 3 resources"));

	const std::string Log = QuitAndReadLog(Server);
	ExpectLoggedInOrder(Log, {"Started resource racer", "Started resource boxed", "Started resource packed",
		"Found new resource later", "Started resource later", "Stopped 3 resources"});
}

TEST(ResourceCommands, ClientFilesArePublishedBesideTheBinaryUnderTheirHash)
{
	// SHA-256 of the lower-cased names "data/readme.txt" and "notes.txt".
	const std::string ReadmeHash = "7094C7FA510523DD0D36035AFAC5857F6A5525BB9684DBC0FCE3F18EADF7C48F";
	const std::string NotesHash = "E39538E7F27A7BF579CD9B85A103C0F0B86B60B788534295538D0301A9C5DCE6";
	CServerProcess Server;
	WriteLuaResource(Server, "[assets]/shop", "", "\t<file src=\"Data/ReadMe.TXT\" type=\"client\" />\n");
	Server.WriteFile("resources/[assets]/shop/Data/ReadMe.TXT", "first text");
	Server.WriteFile("resources/crate.tar",
		CTarBuilder()
			.File("meta.xml", "<meta><file src=\"notes.txt\" type=\"client\" /></meta>")
			.File("notes.txt", "notes from an archive")
			.End()
			.Bytes());
	ASSERT_NO_FATAL_FAILURE(StartServer(Server));

	std::string Content;
	ASSERT_TRUE(Server.ReadFile("htdocs/resources/shop/" + ReadmeHash, Content));
	EXPECT_EQ(Content, "first text");
	ASSERT_TRUE(Server.ReadFile("htdocs/resources/crate/" + NotesHash, Content));
	EXPECT_EQ(Content, "notes from an archive");

	// Every scan publishes again.
	Server.WriteFile("resources/[assets]/shop/Data/ReadMe.TXT", "second text");
	WriteLuaResource(Server, "extra", "");
	ASSERT_NO_FATAL_FAILURE(Type(Server, "refresh", "3 resources in the resource cache"));
	ASSERT_TRUE(Server.ReadFile("htdocs/resources/shop/" + ReadmeHash, Content));
	EXPECT_EQ(Content, "second text");
	EXPECT_FALSE(Exists(Server, "htdocs/resources/shop/" + ReadmeHash + ".part"));
	ASSERT_NO_FATAL_FAILURE(Type(Server, "start shop", "Started resource shop"));
	QuitAndReadLog(Server);
}

TEST(ResourceCommands, PathsWithTwoDotsAreRefused)
{
	CServerProcess Server;
	Server.WriteFile("resources/victim/secret.txt", "secret");
	WriteLuaResource(Server, "victim", "");
	WriteLuaResource(
		Server, "sneakyscript", "", "\t<script src=\"../victim/main.lua\" type=\"server\" language=\"lua\" />\n");
	WriteLuaResource(Server, "sneakyfile", "", "\t<file src=\"../victim/secret.txt\" type=\"client\" />\n");
	// The archive holds a member that names a place outside it.
	Server.WriteFile("resources/sneakytar.tar",
		CTarBuilder()
			.File("meta.xml", "<meta><file src=\"../escape.txt\" type=\"client\" /></meta>")
			.File("../escape.txt", "escaped")
			.End()
			.Bytes());
	WriteLuaResource(Server, "prober",
		"print('probe open ' .. tostring(openFile('../victim/secret.txt')))\n"
		"print('probe open absolute ' .. tostring(openFile('/resources/../resources/victim/secret.txt')))\n"
		"print('probe load ' .. tostring(loadTextFile('../victim/secret.txt')))\n"
		"print('probe exists ' .. tostring(fileExists('../victim/secret.txt')))\n"
		"print('probe save ' .. tostring(saveTextFile('../escape.txt', 'x')))\n"
		"print('probe create ' .. tostring(createFile('../escape2.txt')))\n"
		"print('probe write absolute ' .. tostring(openFile('/resources/victim/secret.txt', true)))\n"
		"print('probe inside ' .. tostring(loadTextFile('/resources/victim/secret.txt')))\n");
	ASSERT_NO_FATAL_FAILURE(StartServer(Server));
	for (const char* szLine : {"unable to load script ../victim/main.lua in resource sneakyscript!",
			 "Failed to load resource sneakyscript!",
			 "unable to load file ../victim/secret.txt in resource sneakyfile!", "Failed to load resource sneakyfile!",
			 "unable to load file ../escape.txt in resource sneakytar!", "Failed to load resource sneakytar!",
			 "2 resources in the resource cache"})
		EXPECT_NE(FindLine(Server.GetOutputLines(), szLine), -1) << szLine << "\n" << Server.GetRawOutput();

	ASSERT_NO_FATAL_FAILURE(Type(Server, "start sneakyscript", "Unable to find the resource sneakyscript!"));
	ASSERT_NO_FATAL_FAILURE(Type(Server, "start ../victim", "Unable to find the resource ../victim!"));
	ASSERT_NO_FATAL_FAILURE(Type(Server, "start prober", "Started resource prober"));
	ExpectLinesInOrder(Server,
		{"probe open nil", "probe open absolute nil", "probe load nil", "probe exists false", "probe save nil",
			"probe create nil", "probe write absolute nil", "probe inside secret"});
	QuitAndReadLog(Server);
	for (const char* szPath : {"resources/escape.txt", "resources/escape2.txt", "escape.txt",
			 "htdocs/resources/sneakytar", "htdocs/resources/sneakyfile"})
		EXPECT_FALSE(Exists(Server, szPath)) << szPath;
}

TEST(ResourceCommands, FailedStartsAreReported)
{
	CServerProcess Server;
	WriteLuaResource(Server, "broken", "error('broken on purpose')\n");
	WriteLuaResource(Server, "needsbroken", "print('never runs')\n", "\t<dependency src=\"broken\" />\n");
	WriteLuaResource(Server, "lonely", "", "\t<dependency src=\"ghost\" />\n");
	WriteLuaResource(Server, "quitter", "print('quitter stops itself ' .. tostring(thisResource:stop()))\n");
	ASSERT_NO_FATAL_FAILURE(StartServer(Server));
	EXPECT_NE(FindLine(Server.GetOutputLines(), "Unable to find dependency ghost for resource lonely!"), -1)
		<< Server.GetRawOutput();
	EXPECT_NE(FindLine(Server.GetOutputLines(), "Failed to load resource lonely!"), -1);

	ASSERT_NO_FATAL_FAILURE(Type(Server, "start needsbroken", "Failed to start resource needsbroken"));
	ExpectLinesInOrder(Server,
		{"START: Starting resource needsbroken...", "START: Starting resource broken...",
			"START: Resource broken failed to load!", "STOP: Resource broken stopped.",
			"START: Failed to start dependant resources for needsbroken!", "Failed to start resource needsbroken"});
	EXPECT_EQ(FindLine(Server.GetOutputLines(), "never runs"), -1);

	// A resource that stops itself while it starts has not started.
	ASSERT_NO_FATAL_FAILURE(Type(Server, "start quitter", "Failed to start resource quitter"));
	ExpectLinesInOrder(Server, {"START: Starting resource quitter...", "STOP: Resource quitter stopped.",
		"quitter stops itself true", "START: Resource quitter failed to load!", "Failed to start resource quitter"});
	ASSERT_NO_FATAL_FAILURE(Type(Server, "stopall", "Stopped 0 resources"));
	ASSERT_NO_FATAL_FAILURE(Type(Server, "start lonely", "Unable to find the resource lonely!"));
	QuitAndReadLog(Server);
}
