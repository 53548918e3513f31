// Black-box tests of Lua resources in the real server: scripts print, handle events, run timers, register
// commands typed at the console, read their files, call each other's exports and raise errors, and their sandbox
// holds.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <utility>

#include "ResourceTestSupport.h"
#include "Support/GameClient.h"

using namespace ServerTest;

namespace
{
// A resource whose one server script is main.lua, plus further files of the resource.
void WriteLuaResource(CServerProcess& Server, const std::string& Name, const std::string& Script,
	const std::vector<std::pair<std::string, std::string>>& Files = {})
{
	WriteResource(Server, Name, {{"main.lua", "lua", Script}}, Files);
}
}

TEST(LuaResource, ScriptsPrintHandleEventsAndRunTimers)
{
	CServerProcess Server;
	WriteLuaResource(Server, "luamain",
		"print('lua says ' .. thisResource.name .. ' ' .. math.type(1), 'tab')\n"
		"addEvent('OnLuaTest', 1)\n"
		"addEventHandler('OnLuaTest', function(event, value) print('lua event ' .. value) end)\n"
		"triggerEvent('OnLuaTest', nil, 7)\n"
		"addEventHandler('OnResourceStart', function(event, resource) print('lua saw start of ' .. resource.name) end)\n"
		"setTimeout(function(text) print('lua timer ' .. text) end, 50, 'fired')\n");
	StartWithResources(Server, {"luamain"});
	EXPECT_TRUE(Server.WaitForOutput("lua says luamain integer\ttab")) << Server.GetRawOutput();
	EXPECT_TRUE(Server.WaitForOutput("lua event 7")) << Server.GetRawOutput();
	EXPECT_TRUE(Server.WaitForOutput("lua saw start of luamain")) << Server.GetRawOutput();
	EXPECT_TRUE(Server.WaitForOutput("1/1 Resources loaded, 0 failed")) << Server.GetRawOutput();
	EXPECT_TRUE(Server.WaitForOutput("lua timer fired")) << Server.GetRawOutput();
}

TEST(LuaResource, CommandsRunFromTheConsole)
{
	CServerProcess Server;
	WriteLuaResource(Server, "luacmd",
		"addCommandHandler('luahello', function(command, parameters) "
		"print('lua command ' .. command .. ' ' .. tostring(parameters)) end)\n");
	StartWithResources(Server, {"luacmd"});
	ASSERT_TRUE(Server.WriteInput("luahello big world\n"));
	EXPECT_TRUE(Server.WaitForOutput("lua command luahello big world")) << Server.GetRawOutput();
}

TEST(LuaResource, ScriptsReadFilesAndCallExportsAcrossResources)
{
	CServerProcess Server;
	WriteLuaResource(Server, "luadata",
		"exportFunction('greet', function(name) return 'hello ' .. name end)\n"
		"print('lua file: ' .. loadTextFile('data.txt'))\n",
		{{"data.txt", "text from a file"}});
	WriteLuaResource(Server, "luacaller",
		"print('lua export: ' .. findResourceByName('luadata'):getExport('greet')('world'))\n"
		"addCommandHandler('callgreet', function() "
		"local value = findResourceByName('luadata').exports.greet('again') print('greet gave ' .. tostring(value)) end)\n");
	StartWithResources(Server, {"luadata", "luacaller"});
	EXPECT_TRUE(Server.WaitForOutput("lua file: text from a file")) << Server.GetRawOutput();
	EXPECT_TRUE(Server.WaitForOutput("lua export: hello world")) << Server.GetRawOutput();

	// The export stays after its resource stops, but calling it runs nothing.
	ASSERT_TRUE(Server.WriteInput("stop luadata\n"));
	ASSERT_TRUE(Server.WaitForOutput("STOP: Resource luadata stopped.")) << Server.GetRawOutput();
	ASSERT_TRUE(Server.WriteInput("callgreet\n"));
	EXPECT_TRUE(Server.WaitForOutput("SCRIPT ERROR: Cannot call a function of a stopped resource"))
		<< Server.GetRawOutput();
	EXPECT_TRUE(Server.WaitForOutput("greet gave nil")) << Server.GetRawOutput();
}

TEST(LuaResource, ErrorsAreLoggedAndFailTheStart)
{
	CServerProcess Server;
	WriteLuaResource(Server, "luabroken", "local function go() error('broken on purpose') end\ngo()\n");
	WriteLuaResource(Server, "luahandler",
		"addCommandHandler('fail', function() error('handler failed') end)\n"
		"addCommandHandler('alive', function() print('lua still running') end)\n");
	StartWithResources(Server, {"luabroken", "luahandler"});
	EXPECT_TRUE(Server.WaitForOutput("main.lua\"]:1: broken on purpose")) << Server.GetRawOutput();
	EXPECT_TRUE(Server.WaitForOutput("1/2 Resources loaded, 1 failed")) << Server.GetRawOutput();

	// An error in a handler is logged as a script error and the server goes on.
	ASSERT_TRUE(Server.WriteInput("fail\n"));
	EXPECT_TRUE(Server.WaitForOutput("main.lua\"]:1: handler failed")) << Server.GetRawOutput();
	bool bLogged = false;
	for (const std::string& Line : Server.GetOutputLines())
		bLogged = bLogged ||
			(Line.find("SCRIPT ERROR: ") != std::string::npos && Line.find("handler failed") != std::string::npos);
	EXPECT_TRUE(bLogged) << Server.GetRawOutput();
	ASSERT_TRUE(Server.WriteInput("alive\n"));
	EXPECT_TRUE(Server.WaitForOutput("lua still running")) << Server.GetRawOutput();
}

TEST(LuaResource, ScriptsCannotRunProgramsOrOpenFilesByName)
{
	CServerProcess Server;
	WriteLuaResource(Server, "luasandbox",
		"print('lua sandbox ' .. tostring(io.open) .. ' ' .. tostring(os.execute) .. ' ' .. tostring(require) .. "
		"' ' .. tostring(pcall(io.output, 'escape.txt')))\n"
		// Nor through the debug library: the guarded function holds no original to take out.
		"local _, raw = debug.getupvalue(io.output, 1) if raw then pcall(raw, 'escape.txt') end\n");
	StartWithResources(Server, {"luasandbox"});
	EXPECT_TRUE(Server.WaitForOutput("lua sandbox nil nil nil false")) << Server.GetRawOutput();
	std::string Content;
	EXPECT_FALSE(Server.ReadFile("escape.txt", Content));
}

TEST(LuaResource, ShippedExampleRuns)
{
	// The example resource that the quick start runs, copied as it is from the source tree.
	const std::filesystem::path Example =
		std::filesystem::path(__FILE__).parent_path().parent_path().parent_path() / "examples/resources/welcome";
	ASSERT_TRUE(std::filesystem::is_directory(Example)) << Example;
	CServerProcess Server;
	for (const auto& Entry : std::filesystem::directory_iterator(Example))
	{
		std::ifstream File(Entry.path(), std::ios::binary);
		std::ostringstream Content;
		Content << File.rdbuf();
		Server.WriteFile("resources/welcome/" + Entry.path().filename().string(), Content.str());
	}
	int iPort = 0;
	StartAndWait(Server, MakeConfig(ResourceList({"welcome"}), iPort));
	EXPECT_TRUE(Server.WaitForOutput("Welcome resource started: welcome")) << Server.GetRawOutput();
	EXPECT_TRUE(Server.WaitForOutput("1/1 Resources loaded, 0 failed")) << Server.GetRawOutput();

	// A player who joins is spawned and welcomed in the chat.
	VexaTest::CGameClient Client;
	ASSERT_TRUE(Client.Join(static_cast<uint16_t>(iPort), VexaTest::tJoinRequest())) << Server.GetRawOutput();
	bool bPlayerCreated = false;
	bool bWelcomed = false;
	const std::string Welcome = "Welcome to the server, Player!";
	VexaTest::tReceivedMessage Message;
	while (!(bPlayerCreated && bWelcomed) && Client.Receive(Message))
	{
		std::vector<VexaTest::tElementEntry> Entries;
		if (Message.m_uiId == 12 && VexaTest::ReadElementEntries(Message, Entries))
		{
			for (const VexaTest::tElementEntry& Entry : Entries)
				bPlayerCreated = bPlayerCreated || Entry.m_iType == 94;
		}
		if (Message.m_uiId == 6)
			bWelcomed = bWelcomed || std::string(Message.m_Body.begin(), Message.m_Body.end()).find(Welcome) !=
				std::string::npos;
	}
	EXPECT_TRUE(bPlayerCreated) << Server.GetRawOutput();
	EXPECT_TRUE(bWelcomed) << Server.GetRawOutput();

	ASSERT_TRUE(Server.WriteInput("hello\n"));
	EXPECT_TRUE(Server.WaitForOutput("Hello, world!")) << Server.GetRawOutput();
	ASSERT_TRUE(Server.WriteInput("hello there\n"));
	EXPECT_TRUE(Server.WaitForOutput("Hello, there!")) << Server.GetRawOutput();
	ASSERT_TRUE(Server.WriteInput("stop welcome\n"));
	EXPECT_TRUE(Server.WaitForOutput("Welcome resource stopping")) << Server.GetRawOutput();
}

namespace
{
// A C function whose first upvalue a script tries to replace, and a use of it afterwards that answers true while
// it works (f is the function the script tried to change).
struct tUpvalueTarget
{
	const char* m_szLabel;
	const char* m_szFunction;
	const char* m_szUse;
};

const tUpvalueTarget g_UpvalueTargets[] = {
	{"native", "gta.createVehicle", "return gta.createVehicle(130, Vec3(1, 2, 0)) ~= nil"},
	{"method", "v.setData", "v:setData('k', 7, false) return v:getData('k') == 7"},
	{"vector method", "getmetatable(Vec3(0, 0, 0)).distance", "return Vec3(0, 0, 0):distance(Vec3(3, 4, 0)) == 5"},
	{"class __index", "getmetatable(Vec3(0, 0, 0)).__index", "return Vec3(1, 2, 3).y == 2"},
	{"class __tostring", "getmetatable(Vec3(0, 0, 0)).__tostring", "return type(tostring(Vec3(1, 2, 3))) == 'string'"},
	{"class __gc", "getmetatable(Vec3(0, 0, 0)).__gc", "local w = Vec3(1, 2, 3) w = nil collectgarbage() return true"},
	{"namespace __index", "getmetatable(gta).__index", "return type(gta.createVehicle) == 'function'"},
	{"load", "load", "return load('return 7')() == 7"},
	{"coroutine.wrap", "coroutine.wrap(function() while true do coroutine.yield(7) end end)", "return f() == 7"},
};

// Lua names the function as the call reached it ('setupvalue', or 'debug.setupvalue' through pcall).
const char* const g_szNotLua = "bad argument #1 to '";
const char* const g_szLuaFunctionExpected = "setupvalue' (Lua function expected)";

// The values put in the upvalue, as Lua expressions; v is a vehicle.
const std::pair<const char*, const char*> g_UpvalueValues[] = {
	{"nil", "nil"},
	{"table", "{}"},
	{"file", "io.stdout"},
	{"vector", "Vec3(1, 2, 3)"},
	{"vehicle", "v"},
};
}

TEST(LuaResource, DebugSetupvalueLeavesCFunctionsAlone)
{
	// The command "probe" tries every value on every target under pcall and prints "setupvalue <target> <value>:
	// <ok> <message>", then "use <target> <value>: <works>"; a Lua function's upvalue still changes.
	std::string Script = "local v = gta.createVehicle(130, Vec3(1, 2, 0))\nlocal targets = {\n";
	for (const tUpvalueTarget& Target : g_UpvalueTargets)
		Script += std::string("\t{'") + Target.m_szLabel + "', function() return " + Target.m_szFunction +
			" end, function(f) " + Target.m_szUse + " end},\n";
	Script += "}\nlocal values = {\n";
	for (const auto& Value : g_UpvalueValues)
		Script += std::string("\t{'") + Value.first + "', function() return " + Value.second + " end},\n";
	Script += R"script(}
addCommandHandler('probe', function()
	for _, target in ipairs(targets) do
		for _, value in ipairs(values) do
			local f = target[2]()
			local ok, message = pcall(debug.setupvalue, f, 1, value[2]())
			print('setupvalue ' .. target[1] .. ' ' .. value[1] .. ': ' .. tostring(ok) .. ' ' .. tostring(message))
			local used, works = pcall(target[3], f)
			print('use ' .. target[1] .. ' ' .. value[1] .. ': ' .. tostring(used and works))
		end
	end
	local up = 1
	local function get() return up end
	print('lua function: ' .. tostring(debug.setupvalue(get, 1, 5)) .. ' ' .. get())
end)
addCommandHandler('alive', function() print('still answering') end)
)script";
	CServerProcess Server;
	WriteLuaResource(Server, "upvalues", Script);
	StartWithResources(Server, {"upvalues"});

	// The server answers after the probe and quits cleanly.
	ASSERT_TRUE(Server.WriteInput("probe\nalive\nquit\n"));
	EXPECT_EQ(Server.WaitForExit(), 0);
	const std::vector<std::string> Lines = Server.GetOutputLines();
	for (const tUpvalueTarget& Target : g_UpvalueTargets)
	{
		for (const auto& Value : g_UpvalueValues)
		{
			const std::string Case = std::string(Target.m_szLabel) + " " + Value.first;
			const std::string Refused = "setupvalue " + Case + ": false " + g_szNotLua;
			EXPECT_TRUE(HasLineStartingWith(Lines, Refused, g_szLuaFunctionExpected)) << Case;
			EXPECT_NE(FindLine(Lines, "use " + Case + ": true"), -1) << Case;
		}
	}
	EXPECT_NE(FindLine(Lines, "lua function: up 5"), -1);
	EXPECT_NE(FindLine(Lines, "still answering"), -1);
	if (HasFailure())
		ADD_FAILURE() << "What the server printed:\n" << Server.GetRawOutput();
}
