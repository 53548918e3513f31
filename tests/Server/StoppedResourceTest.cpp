// Black-box tests of code that outlives its resource: once a resource has stopped (or restarted, for the old
// instance), whatever still runs its code (a finaliser, the rest of a call that stopped the resource, a promise
// reaction, an object, coroutine or generator handed to another resource) may run, but every native and method it
// reaches fails: nothing is made, and no resource is started, stopped or restarted through it. While the resource
// runs, such code acts for it, not for whoever runs it. A finaliser still pending when the server stops neither keeps
// it from ending cleanly nor starts its resource again.

#include <gtest/gtest.h>

#include <csignal>
#include <string>

#include "ResourceTestSupport.h"
#include "ScriptNotation.h"

using namespace ServerTest;

namespace
{
// A finaliser that makes a vehicle each time a collection runs it, and arms itself again.
const char* const g_szRearmingFinaliser = R"script(
local k = 0
local function arm()
	setmetatable({}, {__gc = function()
		k = k + 1
		local ok, v = pcall(gta.createVehicle, 130, Vec3(1, 2, 0))
		print('GC-RUN ' .. k .. ' made ' .. tostring(ok and v ~= nil))
		arm()
	end})
end
arm()
)script";

// Runs the Lua script as the one resource "a", then shuts the server down with quit (iSignal 0) or the signal, which
// must end it with status 0.
void RunAndShutDown(CServerProcess& Server, const char* szScript, int iSignal)
{
	WriteLua(Server, "a", szScript);
	StartWithResources(Server, {"a"});
	if (iSignal == 0)
		ASSERT_TRUE(Server.WriteInput("quit\n"));
	else
		ASSERT_TRUE(Server.Signal(iSignal));
	EXPECT_EQ(Server.WaitForExit(), 0) << iSignal << "\n" << Server.GetRawOutput();
}
}

TEST(StoppedResource, FinalisersOfAStoppedResourceMakeNothingAndLetTheServerQuit)
{
	CServerProcess Server;
	WriteLua(Server, "a", g_szRearmingFinaliser);
	WriteLua(Server, "watch", g_szWatch);
	StartWithResources(Server, {"a", "watch"});

	// While the resource runs, its finaliser acts for it (a collection may already have run it at start): the
	// vehicles are the resource's and go with it.
	std::vector<std::string> Lines = RunLines(Server, "");
	const size_t Made = CountLines(Server.GetOutputLines(), "made true");
	EXPECT_GE(CountLines(Lines, "made true"), 1u) << JoinLines(Lines);
	EXPECT_EQ(Lines.back(), "vehicles " + std::to_string(Made));

	Lines = RunLines(Server, "stop a\ncount\ncount\n");
	EXPECT_TRUE(HasLineContaining(Lines, "STOP: Resource a stopped.")) << JoinLines(Lines);
	EXPECT_GE(CountLines(Lines, "made false"), 3u) << JoinLines(Lines);
	EXPECT_EQ(CountLines(Lines, "made true"), 0u) << JoinLines(Lines);
	EXPECT_EQ(Lines.back(), "vehicles 0");

	ASSERT_TRUE(Server.WriteInput("quit\n"));
	EXPECT_EQ(Server.WaitForExit(), 0) << Server.GetRawOutput();
}

TEST(StoppedResource, AFinaliserPendingAtShutdownLetsTheServerEndCleanly)
{
	// quit, SIGINT and SIGTERM all stop the resource, run the last collections and end with status 0.
	for (int iSignal : {0, SIGINT, SIGTERM})
	{
		CServerProcess Server;
		RunAndShutDown(Server, g_szRearmingFinaliser, iSignal);
		EXPECT_TRUE(Printed(Server, "STOP: Resource a stopped.")) << Server.GetRawOutput();
		EXPECT_EQ(CountLines(Server.GetOutputLines(), "made true"), 0u) << Server.GetRawOutput();
	}
}

TEST(StoppedResource, FinalisersOfTheOldInstanceMakeNothingAfterARestart)
{
	CServerProcess Server;
	WriteLua(Server, "a", R"script(
kept = {}
for i = 1, 20 do
	kept[i] = setmetatable({}, {__gc = function()
		print('old finaliser made ' .. tostring(pcall(gta.createVehicle, 130, Vec3(1, 2, 0))))
	end})
end
)script");
	WriteLua(Server, "watch", g_szWatch);
	StartWithResources(Server, {"a", "watch"});

	const std::vector<std::string> Lines = RunLines(Server, "restart a\n");
	EXPECT_TRUE(HasLineContaining(Lines, "Restarted resource a")) << JoinLines(Lines);
	EXPECT_EQ(CountLines(Lines, "old finaliser made false"), 20u) << JoinLines(Lines);
	EXPECT_EQ(CountLines(Lines, "old finaliser made true"), 0u) << JoinLines(Lines);
	EXPECT_EQ(Lines.back(), "vehicles 0");
}

TEST(StoppedResource, TheRestOfACallThatStoppedItsOwnResourceMakesNothing)
{
	// Each script's command stops (or restarts) its own resource and then tries to make a vehicle twice: through
	// the namespace it reads again, and through the function it took from it before (the position is an array, so
	// that only the function itself can refuse). It prints what was made.
	const char* const szScripts[LANGUAGE_COUNT] = {
		R"script(
local create = gta.createVehicle
addCommandHandler('go', function(command, how)
	if how == 'stop' then thisResource:stop() else thisResource:restart() end
	local byName = pcall(gta.createVehicle, 130, {1, 2, 0})
	local byLocal = pcall(create, 130, {1, 2, 0})
	print('after ' .. how .. ' made ' .. tostring(byName) .. ' ' .. tostring(byLocal))
end)
)script",
		R"script(
const create = gta.createVehicle;
addCommandHandler('go', function(command, how) {
	if (how === 'stop') thisResource.stop(); else thisResource.restart();
	const made = [];
	for (const make of [() => gta.createVehicle(130, [1, 2, 0]), () => create(130, [1, 2, 0])]) {
		try { make(); made.push(true); } catch (e) { made.push(false); }
	}
	console.log('after ' + how + ' made ' + made.join(' '));
});
)script",
		R"script(
local create = gta.createVehicle;
addCommandHandler("go", function(command, how, ...) {
	if (how == "stop") thisResource.stop(); else thisResource.restart();
	local made = "";
	try { gta.createVehicle(130, [1, 2, 0]); made += " true"; } catch (e) { made += " false"; }
	try { create(130, [1, 2, 0]); made += " true"; } catch (e) { made += " false"; }
	print("after " + how + " made" + made);
});
)script",
	};
	for (size_t i = 0; i < LANGUAGE_COUNT; i++)
	{
		for (const char* szHow : {"stop", "restart"})
		{
			CServerProcess Server;
			WriteResource(Server, "self", {{g_ScriptLanguages[i].m_szFile, g_ScriptLanguages[i].m_szLanguage,
											  szScripts[i]}});
			WriteLua(Server, "watch", g_szWatch);
			StartWithResources(Server, {"self", "watch"});
			const std::vector<std::string> Lines = RunLines(Server, std::string("go ") + szHow + "\n");
			const std::string Label = std::string(g_ScriptLanguages[i].m_szLabel) + " " + szHow;
			EXPECT_TRUE(HasLineContaining(Lines, std::string("after ") + szHow + " made false false"))
				<< Label << "\n" << JoinLines(Lines);
			EXPECT_EQ(Lines.back(), "vehicles 0") << Label << "\n" << JoinLines(Lines);
		}
	}
}

TEST(StoppedResource, AFinaliserThatStopsItsOwnResourceMakesNothingAfterwards)
{
	CServerProcess Server;
	WriteLua(Server, "a", R"script(
setmetatable({}, {__gc = function()
	thisResource:stop()
	print('finaliser after stop made ' .. tostring(pcall(gta.createVehicle, 130, Vec3(1, 2, 0))))
end})
)script");
	WriteLua(Server, "watch", g_szWatch);
	StartWithResources(Server, {"a", "watch"});

	// The collection that the other resource's command runs stops the finaliser's own resource, not that one.
	std::vector<std::string> Lines = RunLines(Server, "");
	EXPECT_TRUE(HasLineContaining(Lines, "STOP: Resource a stopped.")) << JoinLines(Lines);
	EXPECT_FALSE(HasLineContaining(Lines, "STOP: Resource watch")) << JoinLines(Lines);
	EXPECT_TRUE(HasLineContaining(Lines, "finaliser after stop made false")) << JoinLines(Lines);
	EXPECT_EQ(Lines.back(), "vehicles 0");
}

TEST(StoppedResource, PromiseReactionsOfAStoppedResourceMakeNothing)
{
	CServerProcess Server;
	// The resource hands another its promise's resolve function and a thenable, inside a plain object, which
	// stays the same object in the other resource.
	WriteJS(Server, "a", R"script(
function make(what) {
	try { gta.createVehicle(130, new Vec3(1, 2, 0)); console.log(what + ' made true'); }
	catch (e) { console.log(what + ' made false'); }
}
let settle;
new Promise(resolve => { settle = resolve; }).then(() => make('reaction'));
triggerEvent('take', null, { settle: settle, thenable: { then(resolve) { make('thenable'); resolve(1); } } });
)script");
	WriteJS(Server, "b", R"script(
addEvent('take', 1);
let held = null;
addEventHandler('take', (event, value) => { held = value; });
addCommandHandler('settle', () => held.settle(1));
addCommandHandler('await', () => { (async () => { await held.thenable; console.log('awaited'); })(); });
)script");
	WriteLua(Server, "watch", g_szWatch);
	StartWithResources(Server, {"b", "a", "watch"});

	// The stopped resource's reaction and its thenable's then still run, and so the other resource's await goes
	// on, but neither makes anything.
	const std::vector<std::string> Lines = RunLines(Server, "stop a\nsettle\nawait\n");
	EXPECT_TRUE(HasLineContaining(Lines, "reaction made false")) << JoinLines(Lines);
	EXPECT_TRUE(HasLineContaining(Lines, "thenable made false")) << JoinLines(Lines);
	EXPECT_TRUE(HasLineContaining(Lines, "awaited")) << JoinLines(Lines);
	EXPECT_FALSE(HasLineContaining(Lines, "made true")) << JoinLines(Lines);
	EXPECT_EQ(Lines.back(), "vehicles 0");
}

TEST(StoppedResource, ObjectsHandedToAnotherResourceActForTheirOwnAndNothingOnceItStopped)
{
	CServerProcess Server;
	WriteJS(Server, "a", R"script(
const handed = {
	act() {
		gta.createVehicle(130, new Vec3(1, 2, 0));
		addCommandHandler('added', () => console.log('added runs'));
		return thisResource.name;
	},
	get who() { return thisResource.name; },
};
triggerEvent('take', null, handed);
exportFunction('give', () => handed);
)script");
	WriteJS(Server, "b", R"script(
addEvent('take', 1);
let held = null, exported = null;
addEventHandler('take', (event, value) => { held = value; });
addCommandHandler('fetch', () => { exported = findResourceByName('a').getExport('give')(); });
function use() {
	for (const [label, object] of [['event', held], ['export', exported]]) {
		try { console.log(label + ' acts as ' + object.act()); } catch (e) { console.log(label + ' act: ' + e.message); }
		try { console.log(label + ' who ' + object.who); } catch (e) { console.log(label + ' who: ' + e.message); }
	}
}
addCommandHandler('use', use);
addCommandHandler('uselater', () => setTimeout(use, 1));
)script");
	WriteLua(Server, "watch", g_szWatch);
	StartWithResources(Server, {"b", "a", "watch"});

	std::vector<std::string> Lines = RunLines(Server, "fetch\nuse\n");
	for (const char* szLine : {"event acts as a", "event who a", "export acts as a", "export who a"})
		EXPECT_TRUE(HasLineContaining(Lines, szLine)) << szLine << "\n" << JoinLines(Lines);
	EXPECT_EQ(Lines.back(), "vehicles 2");

	// What the handed object made and registered was the resource's own, and went with it; from the other
	// resource's command and from its timer alike, nothing the object does acts any more.
	const size_t First = Server.GetOutputLines().size();
	ASSERT_TRUE(Server.WriteInput("stop a\nadded\nuse\nuselater\n"));
	ASSERT_TRUE(WaitForLines(Server, First, "export who: The calling resource has stopped", 2))
		<< Server.GetRawOutput();
	Lines = RunLines(Server, "");
	const std::vector<std::string> All = LinesSince(Server, First);
	EXPECT_FALSE(HasLineContaining(All, "added runs")) << JoinLines(All);
	EXPECT_FALSE(HasLineContaining(All, "acts as")) << JoinLines(All);
	EXPECT_EQ(CountLines(All, "event act: The calling resource has stopped"), 2u) << JoinLines(All);
	EXPECT_EQ(CountLines(All, "export act: The calling resource has stopped"), 2u) << JoinLines(All);
	EXPECT_EQ(Lines.back(), "vehicles 0");
}

TEST(StoppedResource, ACoroutineHandedToAnotherResourceActsForItsOwnAndNothingOnceItStopped)
{
	CServerProcess Server;
	WriteLua(Server, "a", R"script(
local co = coroutine.create(function()
	while true do
		local named, name = pcall(function() return thisResource.name end)
		local made = pcall(gta.createVehicle, 130, Vec3(1, 2, 0))
		print('coroutine runs as ' .. tostring(named and name) .. ' made ' .. tostring(made))
		coroutine.yield()
	end
end)
triggerEvent('take', nil, co)
)script");
	WriteLua(Server, "b", R"script(
addEvent('take', 1)
local held
addEventHandler('take', function(event, co) held = co end)
addCommandHandler('resume', function() coroutine.resume(held) end)
)script");
	WriteLua(Server, "watch", g_szWatch);
	StartWithResources(Server, {"b", "a", "watch"});

	std::vector<std::string> Lines = RunLines(Server, "resume\n");
	EXPECT_TRUE(HasLineContaining(Lines, "coroutine runs as a made true")) << JoinLines(Lines);
	EXPECT_EQ(Lines.back(), "vehicles 1");

	Lines = RunLines(Server, "stop a\nresume\n");
	EXPECT_TRUE(HasLineContaining(Lines, "coroutine runs as false made false")) << JoinLines(Lines);
	EXPECT_EQ(Lines.back(), "vehicles 0");
}

TEST(StoppedResource, SquirrelValuesHandedToAnotherResourceMakeNothingOnceItStopped)
{
	CServerProcess Server;
	// A table reads the namespace by name; the instance and the generator use the namespace and the class they
	// took before, which outlive the resource's root table.
	WriteSquirrel(Server, "a", R"script(
local g = gta;
local V = Vec3;
class Maker {
	function make() { try { g.createVehicle(130, V(1, 2, 0)); return "true"; } catch (e) { return "false"; } }
}
local t = { make = function() { try { gta.createVehicle(130, V(1, 2, 0)); return "true"; } catch (e) { return "false"; } } };
function generate() {
	while (true) {
		local made = "false";
		try { g.createVehicle(130, V(1, 2, 0)); made = "true"; } catch (e) {}
		yield made;
	}
}
triggerEvent("take", null, t, Maker(), generate());
)script");
	WriteSquirrel(Server, "b", R"script(
addEvent("take", 3);
local held = [];
addEventHandler("take", function(event, t, instance, generator) { held = [t, instance, generator]; });
addCommandHandler("use", function(command, parameters, ...) {
	print("table " + held[0].make() + " instance " + held[1].make() + " generator " + resume held[2]);
});
)script");
	WriteLua(Server, "watch", g_szWatch);
	StartWithResources(Server, {"b", "a", "watch"});

	std::vector<std::string> Lines = RunLines(Server, "use\n");
	EXPECT_TRUE(HasLineContaining(Lines, "table true instance true generator true")) << JoinLines(Lines);
	EXPECT_EQ(Lines.back(), "vehicles 3");

	Lines = RunLines(Server, "stop a\nuse\n");
	EXPECT_TRUE(HasLineContaining(Lines, "table false instance false generator false")) << JoinLines(Lines);
	EXPECT_EQ(Lines.back(), "vehicles 0");
}

namespace
{
// Resource a keeps its own resource and resource c and hands resource b something that starts, stops and restarts
// them: "startSelf" starts a, "restartC" and "stopC" act on c, and "restartOwnerOf" restarts the resource of the
// vehicle b passes. b's command "use <operation>" calls it with b's vehicle and prints "use <operation> returned
// <answer>" or "use <operation> failed: <message>"; its command "bstart" starts a itself.
struct tHeldStarterCase
{
	const char* m_szLabel;
	eLanguage m_Language;
	const char* m_szStarter;
	const char* m_szHolder;
	// Operations that start a through a wrapper of the language (the method called by a library function or as a
	// coroutine's body): the calling code is a's all the same.
	std::vector<const char*> m_Wrappers = {};
};

// In Lua, a hands b a coroutine, which first yields a table of functions and then runs the operation each resume
// names. The functions and the coroutine read no global at all, only upvalues.
const char* const g_szLuaStarter = R"script(
local me = thisResource
local c = findResourceByName('c')
local pcall, yield, assert = pcall, coroutine.yield, assert
local wrap, create, resume = coroutine.wrap, coroutine.create, coroutine.resume
local operations = {
	startSelf = function() return me:start() end,
	wrapStart = function() local ok, e = pcall(wrap(me.start), me) assert(ok, e) return e end,
	resumeStart = function() local ok, e = resume(create(me.start), me) assert(ok, e) return e end,
	restartC = function() return c:restart() end,
	stopC = function() return c:stop() end,
	restartOwnerOf = function(v) return v.resource:restart() end,
}
triggerEvent('take', nil, coroutine.create(function()
	local operation, v = yield(operations)
	while true do operation, v = yield(pcall(operations[operation], v)) end
end))
)script";

// %CALL% is how b reaches the operation: through the table, or by resuming the coroutine.
const char* const g_szLuaHolder = R"script(
addEvent('take', 1)
local co, operations
addEventHandler('take', function(event, value)
	co = value
	operations = select(2, coroutine.resume(co))
end)
local v = gta.createVehicle(130, Vec3(1, 2, 0))
addCommandHandler('use', function(command, operation)
	local ok, result = %CALL%
	print('use ' .. operation .. (ok and ' returned ' or ' failed: ') .. tostring(result))
end)
addCommandHandler('bstart', function() print('bstart ' .. tostring(findResourceByName('a'):start())) end)
)script";

std::string LuaHolder(const char* szCall)
{
	std::string Holder = g_szLuaHolder;
	ReplaceAll(Holder, "%CALL%", szCall);
	return Holder;
}

const std::string g_LuaTableHolder = LuaHolder("pcall(operations[operation], v)");
const std::string g_LuaCoroutineHolder = LuaHolder("select(2, coroutine.resume(co, operation, v))");

const tHeldStarterCase g_HeldStarterCases[] = {
	{"lua table", LUA, g_szLuaStarter, g_LuaTableHolder.c_str(), {"wrapStart", "resumeStart"}},
	{"lua coroutine", LUA, g_szLuaStarter, g_LuaCoroutineHolder.c_str(), {"wrapStart", "resumeStart"}},
	{"js object", JAVASCRIPT, R"script(
const me = thisResource;
const c = findResourceByName('c');
triggerEvent('take', null, {
	startSelf() { return me.start(); },
	restartC() { return c.restart(); },
	stopC() { return c.stop(); },
	restartOwnerOf(v) { return v.resource.restart(); },
});
)script",
		R"script(
addEvent('take', 1);
let held = null;
addEventHandler('take', (event, value) => { held = value; });
const v = gta.createVehicle(130, new Vec3(1, 2, 0));
addCommandHandler('use', (command, operation) => {
	try { console.log('use ' + operation + ' returned ' + held[operation](v)); }
	catch (e) { console.log('use ' + operation + ' failed: ' + e.message); }
});
addCommandHandler('bstart', () => console.log('bstart ' + findResourceByName('a').start()));
)script"},
	{"squirrel table", SQUIRREL, R"script(
local me = thisResource;
local c = findResourceByName("c");
triggerEvent("take", null, {
	startSelf = function(v) { return me.start(); },
	restartC = function(v) { return c.restart(); },
	stopC = function(v) { return c.stop(); },
	restartOwnerOf = function(v) { return v.resource.restart(); },
});
)script",
		R"script(
addEvent("take", 1);
local held = null;
addEventHandler("take", function(event, value) { held = value; });
local v = gta.createVehicle(130, Vec3(1, 2, 0));
addCommandHandler("use", function(command, operation, ...) {
	try { print("use " + operation + " returned " + held[operation](v)); }
	catch (e) { print("use " + operation + " failed: " + e); }
});
addCommandHandler("bstart", function(...) { print("bstart " + findResourceByName("a").start()); });
)script"},
};

// An assertion that fails ends only this case.
void CheckHeldStarter(const tHeldStarterCase& Case)
{
	CServerProcess Server;
	WriteScript(Server, "a", Case.m_Language, Case.m_szStarter);
	WriteScript(Server, "b", Case.m_Language, Case.m_szHolder);
	WriteLua(Server, "c", "print('C started')\n");
	StartWithResources(Server, {"c", "b", "a"});

	// While a runs, what it handed b acts for it.
	size_t First = Server.GetOutputLines().size();
	ASSERT_TRUE(Server.WriteInput("use restartC\n"));
	ASSERT_TRUE(WaitForLines(Server, First, "use restartC ", 1)) << Case.m_szLabel << "\n" << Server.GetRawOutput();
	std::vector<std::string> Lines = LinesSince(Server, First);
	EXPECT_TRUE(HasLineContaining(Lines, "use restartC returned true")) << Case.m_szLabel << "\n" << JoinLines(Lines);
	EXPECT_EQ(CountLines(Lines, "C started"), 1u) << Case.m_szLabel << "\n" << JoinLines(Lines);

	// Once a has stopped, every operation fails in b's call, and no resource starts, stops or restarts.
	std::vector<const char*> Operations = Case.m_Wrappers;
	Operations.insert(Operations.end(), {"restartC", "stopC", "startSelf", "restartOwnerOf"});
	std::string Input = "stop a\n";
	for (const char* szOperation : Operations)
		Input += std::string("use ") + szOperation + "\n";
	First = Server.GetOutputLines().size();
	ASSERT_TRUE(Server.WriteInput(Input));
	ASSERT_TRUE(WaitForLines(Server, First, "use restartOwnerOf ", 1))
		<< Case.m_szLabel << "\n" << Server.GetRawOutput();
	Lines = LinesSince(Server, First);
	for (const char* szOperation : Operations)
	{
		EXPECT_TRUE(HasLineStartingWith(Lines, std::string("use ") + szOperation + " failed: ",
			"The calling resource has stopped"))
			<< Case.m_szLabel << " " << szOperation << "\n" << JoinLines(Lines);
	}
	for (const char* szChange : {"START: Starting resource", "STOP: Stopping resource c", "RESTART:"})
		EXPECT_FALSE(HasLineContaining(Lines, szChange))
			<< Case.m_szLabel << " " << szChange << "\n" << JoinLines(Lines);

	// b's own code still starts a once a has stopped (stopped again here, in case a failed operation started it).
	First = Server.GetOutputLines().size();
	ASSERT_TRUE(Server.WriteInput("stop a\nbstart\n"));
	ASSERT_TRUE(WaitForLines(Server, First, "bstart ", 1)) << Case.m_szLabel << "\n" << Server.GetRawOutput();
	Lines = LinesSince(Server, First);
	EXPECT_TRUE(HasLineContaining(Lines, "START: Resource a started.")) << Case.m_szLabel << "\n" << JoinLines(Lines);
	EXPECT_TRUE(HasLineContaining(Lines, "bstart true")) << Case.m_szLabel << "\n" << JoinLines(Lines);
}
}

TEST(StoppedResource, CodeOfAStoppedResourceStartsStopsAndRestartsNothing)
{
	for (const tHeldStarterCase& Case : g_HeldStarterCases)
		CheckHeldStarter(Case);
}

// A JavaScript resource restarts itself from its own code; another one has a bound method of a third resource's
// object handle its start. The old instance's code is still below on the stack, but the engine calls the handler: it
// acts for its own resource. (A Lua handler gets the event first, so no Lua method can be one, and a Squirrel native
// is no function value.)
TEST(StoppedResource, AResourceThatRestartsItselfLetsTheHandlersOfItsStartAct)
{
	CServerProcess Server;
	WriteJS(Server, "a", "addCommandHandler('re', () => thisResource.restart());\n");
	WriteJS(Server, "b",
		"const c = findResourceByName('c');\n"
		"addCommandHandler('arm', () => addEventHandler('OnResourceStart', c.stop.bind(c)));\n");
	WriteLua(Server, "c", "");
	StartWithResources(Server, {"c", "b", "a"});

	const size_t First = Server.GetOutputLines().size();
	ASSERT_TRUE(Server.WriteInput("arm\nre\n"));
	ASSERT_TRUE(WaitForLines(Server, First, "STOP: Resource c stopped.", 1)) << Server.GetRawOutput();
	const std::vector<std::string> Lines = LinesSince(Server, First);
	EXPECT_TRUE(HasLineContaining(Lines, "START: Resource a started.")) << JoinLines(Lines);
	EXPECT_FALSE(HasLineContaining(Lines, "The calling resource has stopped")) << JoinLines(Lines);
}

TEST(StoppedResource, AFinaliserPendingAtShutdownStartsNothing)
{
	// A finaliser that starts its own resource each time a collection runs it, and arms itself again, so that one
	// is still pending when the server stops the resource on its way out.
	const char* const szRearmingStarter = R"script(
local me = thisResource
local k = 0
local function arm()
	setmetatable({}, {__gc = function()
		k = k + 1
		print('GC-RUN ' .. k .. ' started ' .. tostring(pcall(me.start, me)))
		arm()
	end})
end
arm()
)script";
	for (int iSignal : {0, SIGINT, SIGTERM})
	{
		CServerProcess Server;
		RunAndShutDown(Server, szRearmingStarter, iSignal);
		const std::vector<std::string> Lines = Server.GetOutputLines();
		const int iShutdown = FindLine(Lines, "Server shutting down...");
		ASSERT_NE(iShutdown, -1) << iSignal << "\n" << Server.GetRawOutput();
		const std::vector<std::string> After(Lines.begin() + iShutdown, Lines.end());
		EXPECT_TRUE(HasLineContaining(After, "STOP: Resource a stopped.")) << iSignal << "\n" << Server.GetRawOutput();
		EXPECT_FALSE(HasLineContaining(After, "START: Resource a started."))
			<< iSignal << "\n" << Server.GetRawOutput();
	}
}
