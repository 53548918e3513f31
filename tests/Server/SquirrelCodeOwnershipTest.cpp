// Black-box tests of whose code a Squirrel closure is: a closure made with, or given, a root table the script made
// itself is its resource's code for as long as the resource runs, after the table has gone from everywhere else;
// once the resource has stopped, its code starts nothing, whether it calls a resource's method itself or through a
// function's call, pcall, acall or pacall, or through a thread.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ResourceTestSupport.h"
#include "ScriptNotation.h"

using namespace ServerTest;

namespace
{
struct tRootCase
{
	const char* m_szLabel;
	const char* m_szScript;
	// How many times the script's timers print "A-RAN".
	size_t m_Count;
};

// Each script hands a timer closures whose root table only the closures themselves knew, after a collection.
const tRootCase g_RootCases[] = {
	{"setroottable", R"script(
local old = setroottable({print = ::print});
local f = function() { print("A-RAN"); };
setroottable(old);
collectgarbage();
setTimeout(f, 10);
)script",
		1},
	{"setroot", R"script(
local f = (function() { print("A-RAN"); }).setroot({print = ::print});
collectgarbage();
setTimeout(f, 10);
)script",
		1},
	{"setroot through call", R"script(
local f = function() { print("A-RAN"); };
f.setroot.call(f, {print = ::print});
collectgarbage();
setTimeout(f, 10);
)script",
		1},
	{"many root tables", R"script(
local kept = [];
for (local i = 0; i < 200; i++) {
	local old = setroottable({print = ::print});
	local f = function() { print("A-RAN"); };
	if (i % 20 == 0)
		kept.append(f);
	setroottable(old);
	collectgarbage();
}
foreach (f in kept)
	setTimeout(f, 10);
)script",
		10},
};

// Resource a hands b a table of functions, each starting a in its own way; b's command "use <name>" calls one and
// prints "use <name> returned <answer>" or "use <name> failed: <message>".
const char* const g_szStarter = R"script(
local me = thisResource;
local kept = {};
// Read now: once a has stopped, its code finds no globals.
local makeThread = newthread;
triggerEvent("take", null, {
	direct = function() { return me.start(); },
	call = function() { return me.start.call(me); },
	pcall = function() { return me.start.pcall(me); },
	acall = function() { return me.start.acall([me]); },
	pacall = function() { return me.start.pacall([me]); },
	callcall = function() { return me.start.call.call(me.start, me); },
	callacall = function() { return me.start.acall.call(me.start, [me]); },
	rerooted = (function() { return me.start(); }).setroot(kept),
	rerootedcall = (function() { return me.start.call(me); }).setroot(kept),
	thread = function() { return makeThread(me.start).call(me); },
	kept = kept,
});
)script";

const char* const g_szHolder = R"script(
addEvent("take", 1);
local held = null;
addEventHandler("take", function(event, value) { held = value; });
addCommandHandler("use", function(command, name, ...) {
	try { print("use " + name + " returned " + held[name]()); }
	catch (e) { print("use " + name + " failed: " + e); }
});
)script";

struct tStarterCase
{
	const char* m_szName;
	// What the call fails with.
	const char* m_szError;
};

const char* const STOPPED = "The calling resource has stopped";

const tStarterCase g_StarterCases[] = {
	{"direct", STOPPED},
	{"call", STOPPED},
	{"pcall", STOPPED},
	{"acall", STOPPED},
	{"pacall", STOPPED},
	{"callcall", STOPPED},
	{"callacall", STOPPED},
	{"rerooted", STOPPED},
	{"rerootedcall", STOPPED},
	// A thread calls its function with its root table for this: not a resource.
	{"thread", ""},
};

// A running resource's own command "self <how>" restarts it through its own code.
const char* const g_szSelf = R"script(
local me = thisResource;
local ways = {
	call = function() { return me.restart.call(me); },
	pcall = function() { return me.restart.pcall(me); },
	acall = function() { return me.restart.acall([me]); },
	pacall = function() { return me.restart.pacall([me]); },
	rerooted = function() {
		local f = (function() { return me.restart(); }).setroot({});
		collectgarbage();
		return f();
	},
};
addCommandHandler("self", function(command, how, ...) {
	try { print("self " + how + " returned " + ways[how]()); }
	catch (e) { print("self " + how + " failed: " + e); }
});
)script";
}

TEST(SquirrelCodeOwnership, ClosuresWithARootTableTheScriptMadeAreItsResourcesCode)
{
	for (const tRootCase& Case : g_RootCases)
	{
		for (ePackaging Packaging : {FOLDER, ARCHIVE})
		{
			const std::string Label = std::string(Case.m_szLabel) + (Packaging == ARCHIVE ? " archive" : " folder");
			CServerProcess Server;
			WriteScript(Server, "a", SQUIRREL, Case.m_szScript, Packaging);
			StartWithResources(Server, {"a"});
			EXPECT_TRUE(WaitForLines(Server, 0, "A-RAN", Case.m_Count)) << Label << "\n" << Server.GetRawOutput();
			EXPECT_FALSE(Printed(Server, "stopped resource")) << Label << "\n" << Server.GetRawOutput();
		}
	}
}

TEST(SquirrelCodeOwnership, CodeOfAStoppedResourceStartsNothingThroughCallsOrThreads)
{
	CServerProcess Server;
	WriteSquirrel(Server, "a", g_szStarter);
	WriteSquirrel(Server, "b", g_szHolder);
	StartWithResources(Server, {"b", "a"});

	// Each case stops a again first, in case the one before started it: a new instance hands b its functions anew.
	std::string Input;
	for (const tStarterCase& Case : g_StarterCases)
		Input += std::string("stop a\nuse ") + Case.m_szName + "\n";
	const size_t First = Server.GetOutputLines().size();
	ASSERT_TRUE(Server.WriteInput(Input));
	const std::string Last = std::string("use ") + std::end(g_StarterCases)[-1].m_szName + " ";
	ASSERT_TRUE(WaitForLines(Server, First, Last, 1)) << Server.GetRawOutput();
	const std::vector<std::string> Lines = LinesSince(Server, First);
	for (const tStarterCase& Case : g_StarterCases)
	{
		EXPECT_TRUE(HasLineStartingWith(Lines, std::string("use ") + Case.m_szName + " failed: ", Case.m_szError))
			<< Case.m_szName << "\n" << JoinLines(Lines);
	}
	EXPECT_FALSE(HasLineContaining(Lines, "START: Starting resource")) << JoinLines(Lines);
}

TEST(SquirrelCodeOwnership, ARunningResourceRestartsItselfThroughCalls)
{
	for (const char* szHow : {"call", "pcall", "acall", "pacall", "rerooted"})
	{
		CServerProcess Server;
		WriteSquirrel(Server, "a", g_szSelf);
		StartWithResources(Server, {"a"});
		const size_t First = Server.GetOutputLines().size();
		ASSERT_TRUE(Server.WriteInput(std::string("self ") + szHow + "\n"));
		ASSERT_TRUE(WaitForLines(Server, First, std::string("self ") + szHow + " ", 1))
			<< szHow << "\n" << Server.GetRawOutput();
		const std::vector<std::string> Lines = LinesSince(Server, First);
		EXPECT_TRUE(HasLineContaining(Lines, std::string("self ") + szHow + " returned true"))
			<< szHow << "\n" << JoinLines(Lines);
		EXPECT_TRUE(HasLineContaining(Lines, "START: Resource a started.")) << szHow << "\n" << JoinLines(Lines);
	}
}
