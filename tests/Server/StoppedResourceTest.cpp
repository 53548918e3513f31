// Black-box tests of code that outlives its resource: once a resource has stopped (or restarted, for the old
// instance), whatever still runs its code (a finaliser, the rest of a call that stopped the resource, a promise
// reaction, an object, coroutine or generator handed to another resource) may run, but every native it reaches fails
// and nothing is made; while the resource runs, such code acts for it, not for whoever runs it. A finaliser still
// pending when the server stops does not keep it from ending cleanly.

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <string>
#include <unistd.h>

#include "ResourceTestSupport.h"
#include "ScriptNotation.h"

using namespace ServerTest;

namespace
{
// Counts the vehicles in the world after a collection in every language: "vehicles N".
const char* const g_szWatch = R"script(
addCommandHandler('count', function()
	collectAllGarbage()
	print('vehicles ' .. #getElementsByType(ELEMENT_VEHICLE))
end)
)script";

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

void WriteLua(CServerProcess& Server, const std::string& Name, const std::string& Script)
{
	WriteResource(Server, Name, {{"main.lua", "lua", Script}});
}

void WriteJS(CServerProcess& Server, const std::string& Name, const std::string& Script)
{
	WriteResource(Server, Name, {{"main.js", "javascript", Script}});
}

void WriteSquirrel(CServerProcess& Server, const std::string& Name, const std::string& Script)
{
	WriteResource(Server, Name, {{"main.nut", "squirrel", Script}});
}

// The lines printed from the given line on.
std::vector<std::string> LinesSince(CServerProcess& Server, size_t First)
{
	std::vector<std::string> Lines = Server.GetOutputLines();
	Lines.erase(Lines.begin(), Lines.begin() + static_cast<std::ptrdiff_t>(std::min(First, Lines.size())));
	return Lines;
}

// Waits until the lines printed from First on hold the text Count times (a safety bound, not a measurement).
bool WaitForLines(CServerProcess& Server, size_t First, const std::string& Text, size_t Count)
{
	for (int i = 0; i < 3000; i++)
	{
		if (CountLines(LinesSince(Server, First), Text) >= Count)
			return true;
		usleep(10000);
	}
	return false;
}

// Runs the console lines, then "count", and waits for every "count" among them to be answered: the lines printed
// meanwhile, the last of which is the answer to the final "count".
std::vector<std::string> RunLines(CServerProcess& Server, const std::string& Lines)
{
	const size_t First = Server.GetOutputLines().size();
	const std::string Input = Lines + "count\n";
	size_t Counts = 0;
	for (size_t At = Input.find("count\n"); At != std::string::npos; At = Input.find("count\n", At + 1))
		Counts++;
	EXPECT_TRUE(Server.WriteInput(Input));
	EXPECT_TRUE(WaitForLines(Server, First, "vehicles ", Counts)) << Lines << "\n" << Server.GetRawOutput();
	return LinesSince(Server, First);
}

std::string Join(const std::vector<std::string>& Lines)
{
	std::string Text;
	for (const std::string& Line : Lines)
		Text += Line + "\n";
	return Text;
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
	EXPECT_GE(CountLines(Lines, "made true"), 1u) << Join(Lines);
	EXPECT_EQ(Lines.back(), "vehicles " + std::to_string(Made));

	Lines = RunLines(Server, "stop a\ncount\ncount\n");
	EXPECT_TRUE(HasLineContaining(Lines, "STOP: Resource a stopped.")) << Join(Lines);
	EXPECT_GE(CountLines(Lines, "made false"), 3u) << Join(Lines);
	EXPECT_EQ(CountLines(Lines, "made true"), 0u) << Join(Lines);
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
		WriteLua(Server, "a", g_szRearmingFinaliser);
		StartWithResources(Server, {"a"});
		if (iSignal == 0)
			ASSERT_TRUE(Server.WriteInput("quit\n"));
		else
			ASSERT_TRUE(Server.Signal(iSignal));
		EXPECT_EQ(Server.WaitForExit(), 0) << iSignal << "\n" << Server.GetRawOutput();
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
	EXPECT_TRUE(HasLineContaining(Lines, "Restarted resource a")) << Join(Lines);
	EXPECT_EQ(CountLines(Lines, "old finaliser made false"), 20u) << Join(Lines);
	EXPECT_EQ(CountLines(Lines, "old finaliser made true"), 0u) << Join(Lines);
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
				<< Label << "\n" << Join(Lines);
			EXPECT_EQ(Lines.back(), "vehicles 0") << Label << "\n" << Join(Lines);
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
	EXPECT_TRUE(HasLineContaining(Lines, "STOP: Resource a stopped.")) << Join(Lines);
	EXPECT_FALSE(HasLineContaining(Lines, "STOP: Resource watch")) << Join(Lines);
	EXPECT_TRUE(HasLineContaining(Lines, "finaliser after stop made false")) << Join(Lines);
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
	EXPECT_TRUE(HasLineContaining(Lines, "reaction made false")) << Join(Lines);
	EXPECT_TRUE(HasLineContaining(Lines, "thenable made false")) << Join(Lines);
	EXPECT_TRUE(HasLineContaining(Lines, "awaited")) << Join(Lines);
	EXPECT_FALSE(HasLineContaining(Lines, "made true")) << Join(Lines);
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
		EXPECT_TRUE(HasLineContaining(Lines, szLine)) << szLine << "\n" << Join(Lines);
	EXPECT_EQ(Lines.back(), "vehicles 2");

	// What the handed object made and registered was the resource's own, and went with it; from the other
	// resource's command and from its timer alike, nothing the object does acts any more.
	const size_t First = Server.GetOutputLines().size();
	ASSERT_TRUE(Server.WriteInput("stop a\nadded\nuse\nuselater\n"));
	ASSERT_TRUE(WaitForLines(Server, First, "export who: The calling resource has stopped", 2))
		<< Server.GetRawOutput();
	Lines = RunLines(Server, "");
	const std::vector<std::string> All = LinesSince(Server, First);
	EXPECT_FALSE(HasLineContaining(All, "added runs")) << Join(All);
	EXPECT_FALSE(HasLineContaining(All, "acts as")) << Join(All);
	EXPECT_EQ(CountLines(All, "event act: The calling resource has stopped"), 2u) << Join(All);
	EXPECT_EQ(CountLines(All, "export act: The calling resource has stopped"), 2u) << Join(All);
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
	EXPECT_TRUE(HasLineContaining(Lines, "coroutine runs as a made true")) << Join(Lines);
	EXPECT_EQ(Lines.back(), "vehicles 1");

	Lines = RunLines(Server, "stop a\nresume\n");
	EXPECT_TRUE(HasLineContaining(Lines, "coroutine runs as false made false")) << Join(Lines);
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
	EXPECT_TRUE(HasLineContaining(Lines, "table true instance true generator true")) << Join(Lines);
	EXPECT_EQ(Lines.back(), "vehicles 3");

	Lines = RunLines(Server, "stop a\nuse\n");
	EXPECT_TRUE(HasLineContaining(Lines, "table false instance false generator false")) << Join(Lines);
	EXPECT_EQ(Lines.back(), "vehicles 0");
}
