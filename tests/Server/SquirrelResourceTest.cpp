// Black-box tests of Squirrel resources in the real server: scripts run against the whole script interface, their
// text stays UTF-8, their sandbox holds, and functions cross between Squirrel, Lua and JavaScript with their
// results.

#include <gtest/gtest.h>

#include "ResourceTestSupport.h"

using namespace ServerTest;

TEST(SquirrelResource, ScriptsRunAgainstTheScriptInterfaceWithUtf8Text)
{
	CServerProcess Server;
	WriteResource(Server, "sqres",
		{
			{"first.nut", "squirrel", "// Gr\xC3\xBC\xC3\x9F" "e in a comment\nconst ANSWER = 42;\n"},
			{"second.nut", "squirrel",
				"print(\"squirrel says \" + \"Gr\xC3\xBC\xC3\x9F" "e \xF0\x9F\x98\x80 \" + ANSWER + \" \" + "
				"typeof thisResource + \" \" + thisResource.name);\n"},
		});
	StartWithResources(Server, {"sqres"});
	EXPECT_TRUE(Printed(Server, "squirrel says Gr\xC3\xBC\xC3\x9F" "e \xF0\x9F\x98\x80 42 Resource sqres"))
		<< Server.GetRawOutput();
	EXPECT_TRUE(Printed(Server, "1/1 Resources loaded, 0 failed")) << Server.GetRawOutput();
}

TEST(SquirrelResource, ScriptsCannotReachTheEnvironmentOrFilesByName)
{
	CServerProcess Server;
	WriteResource(Server, "sandbox",
		{
			{"main.nut", "squirrel",
				"local opened = \"no\";\n"
				"try { stdout.getclass()(\"escape.txt\", \"w\"); opened = \"yes\"; } catch (e) {}\n"
				"print(\"sandbox \" + (\"getenv\" in getroottable()) + \" \" + (\"dofile\" in getroottable()) + "
				"\" \" + opened);\n"},
		});
	StartWithResources(Server, {"sandbox"});
	EXPECT_TRUE(Printed(Server, "sandbox false false no")) << Server.GetRawOutput();
	std::string Content;
	EXPECT_FALSE(Server.ReadFile("escape.txt", Content));
}

TEST(SquirrelResource, RuntimeErrorIsLoggedAndFailsTheStart)
{
	CServerProcess Server;
	WriteResource(Server, "broken", {{"main.nut", "squirrel", "function go() { throw \"broken on purpose\"; }\ngo();\n"}});
	StartWithResources(Server, {"broken"});
	EXPECT_TRUE(Printed(Server, "sqvm: broken on purpose.")) << Server.GetRawOutput();
	EXPECT_TRUE(Printed(Server, "[1]: function [go()] /resources/broken/main.nut line [1]")) << Server.GetRawOutput();
	EXPECT_TRUE(Printed(Server, "0/1 Resources loaded, 1 failed")) << Server.GetRawOutput();
}

TEST(SquirrelResource, FunctionsCrossLanguagesWithTheirResults)
{
	CServerProcess Server;
	WriteResource(Server, "luaexport", {{"main.lua", "lua", "exportFunction(\"add\", function(a, b) return a + b end)\n"}});
	WriteResource(Server, "sqres",
		{
			{"main.nut", "squirrel",
				"exportFunction(\"mul\", function(a, b) { return a * b; });\n"
				"print(\"lua add from squirrel: \" + findResourceByName(\"luaexport\").getExport(\"add\")(2, 3));\n"},
		});
	WriteResource(Server, "luacall",
		{{"main.lua", "lua", "print(\"squirrel mul from lua: \" .. findResourceByName(\"sqres\"):getExport(\"mul\")(6, 7))\n"}});
	WriteResource(Server, "jscall",
		{
			{"main.js", "javascript",
				"console.log(\"squirrel mul from js: \" + findResourceByName(\"sqres\").getExport(\"mul\")(4, 5));\n"},
		});
	StartWithResources(Server, {"luaexport", "sqres", "luacall", "jscall"});
	EXPECT_TRUE(Printed(Server, "lua add from squirrel: 5")) << Server.GetRawOutput();
	EXPECT_TRUE(Printed(Server, "squirrel mul from lua: 42")) << Server.GetRawOutput();
	EXPECT_TRUE(Printed(Server, "squirrel mul from js: 20")) << Server.GetRawOutput();

	// The languages close with resources of all three still started.
	ASSERT_TRUE(Server.WriteInput("quit\n"));
	EXPECT_EQ(Server.WaitForExit(), 0) << Server.GetRawOutput();
}

TEST(SquirrelResource, HandlersReceiveEventsTriggeredFromAnotherLanguage)
{
	CServerProcess Server;
	WriteResource(Server, "sqhandler",
		{
			{"main.nut", "squirrel",
				"addEvent(\"Ping\");\n"
				"addEventHandler(\"Ping\", function(event, text, count) {\n"
				"\tprint(\"squirrel got \" + text + \" \" + count + \" \" + typeof event);\n"
				"\tevent.preventDefault();\n"
				"});\n"},
		});
	WriteResource(Server, "luatrigger",
		{{"main.lua", "lua", "print(\"prevented: \" .. tostring(triggerEvent(\"Ping\", nil, \"hi\", 3)))\n"}});
	StartWithResources(Server, {"sqhandler", "luatrigger"});
	EXPECT_TRUE(Printed(Server, "squirrel got hi 3 CancellableEvent")) << Server.GetRawOutput();
	EXPECT_TRUE(Printed(Server, "prevented: true")) << Server.GetRawOutput();
}
