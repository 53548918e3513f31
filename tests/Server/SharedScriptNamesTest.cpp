// Black-box tests of resources whose scripts have the same file name, as every resource's "main" script has, in
// folders and in archives: what one resource registers with functions of its own stays while the other stops or
// restarts, and the stopped one's code is never taken for the running one's.

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "ClientInput.h"
#include "ResourceTestSupport.h"
#include "Support/GameClient.h"

using namespace ServerTest;

namespace
{
// Resource "a": its command "areg" registers a timer of 100 ms printing "a tick N", the command "acmd", a handler of
// its event "APing", a bind of the key "a" and an HTTP request whose completion prints "a http done <code>"; then it
// prints "a registered". It keeps the function that b hands it with its event "take" (in Lua through a coroutine,
// which hands it on as itself), and its command "bagain" calls it. Its functions read no global of the resource where
// the language allows (Lua: the style that keeps globals in locals, and the one that gives the file an _ENV of its
// own); "%URL%" is the server's own HTTP address.
struct tOwnerCase
{
	const char* m_szLabel;
	eLanguage m_Language;
	const char* m_szOwner;
	// Resource "b", whose script has the same file name: as it starts, it hands a a function that starts b.
	const char* m_szOther;
};

const char* const g_szLuaOther = R"script(
local me = thisResource
triggerEvent('take', nil, coroutine.create(function() coroutine.yield(function() me:start() end) end))
)script";

const tOwnerCase g_OwnerCases[] = {
	{"lua locals", LUA, R"script(
local print, addCommandHandler, addEventHandler, setInterval, bindKey, httpGet, DOWN =
	print, addCommandHandler, addEventHandler, setInterval, bindKey, httpGet, KEYSTATE_DOWN
local resume = coroutine.resume
addEvent('APing', 0)
addEvent('take', 1)
local ticks, again = 0, nil
local function tick() ticks = ticks + 1 print('a tick ' .. ticks) end
local function command() print('a cmd ran') end
local function ping() print('a ping ran') end
local function key() print('a key ran') end
local function data() return true end
local function done(code) print('a http done ' .. code) end
local function register()
	setInterval(tick, 100)
	addCommandHandler('acmd', command)
	addEventHandler('APing', ping)
	bindKey(97, DOWN, key)
	httpGet('%URL%/sig', '', data, done)
	print('a registered')
end
addCommandHandler('areg', register)
addEventHandler('take', function(event, co) again = select(2, resume(co)) end)
addCommandHandler('bagain', function() again() end)
)script",
		g_szLuaOther},
	{"lua own _ENV", LUA, R"script(
local _ENV = setmetatable({}, {__index = _G})
addEvent('APing', 0)
addEvent('take', 1)
ticks = 0
function tick() ticks = ticks + 1 print('a tick ' .. ticks) end
function register()
	setInterval(tick, 100)
	addCommandHandler('acmd', function() print('a cmd ran') end)
	addEventHandler('APing', function() print('a ping ran') end)
	bindKey(97, KEYSTATE_DOWN, function() print('a key ran') end)
	httpGet('%URL%/sig', '', function() return true end, function(code) print('a http done ' .. code) end)
	print('a registered')
end
addCommandHandler('areg', register)
addEventHandler('take', function(event, co) again = select(2, coroutine.resume(co)) end)
addCommandHandler('bagain', function() again() end)
)script",
		g_szLuaOther},
	{"js", JAVASCRIPT, R"script(
addEvent('APing', 0);
addEvent('take', 1);
let ticks = 0;
let again = null;
addCommandHandler('areg', () => {
	setInterval(() => console.log('a tick ' + ++ticks), 100);
	addCommandHandler('acmd', () => console.log('a cmd ran'));
	addEventHandler('APing', () => console.log('a ping ran'));
	bindKey(97, KEYSTATE_DOWN, () => console.log('a key ran'));
	httpGet('%URL%/sig', '', () => true, (code) => console.log('a http done ' + code));
	console.log('a registered');
});
addEventHandler('take', (event, held) => { again = held.again; });
addCommandHandler('bagain', () => again());
)script",
		R"script(
const me = thisResource;
triggerEvent('take', null, {again: () => me.start()});
)script"},
	{"squirrel", SQUIRREL, R"script(
addEvent("APing", 0);
addEvent("take", 1);
local ticks = 0;
local again = null;
addCommandHandler("areg", function(...) {
	setInterval(function() { ticks++; print("a tick " + ticks); }, 100);
	addCommandHandler("acmd", function(...) { print("a cmd ran"); });
	addEventHandler("APing", function(...) { print("a ping ran"); });
	bindKey(97, KEYSTATE_DOWN, function(...) { print("a key ran"); });
	httpGet("%URL%/sig", "", function(data) { return true; }, function(code, status) { print("a http done " + code); });
	print("a registered");
});
addEventHandler("take", function(event, held) { again = held.again; });
addCommandHandler("bagain", function(...) { again(); });
)script",
		R"script(
local me = thisResource;
triggerEvent("take", null, {again = function() { me.start(); }});
)script"},
};

// Triggers a's event from another resource, so that only a's handler can answer.
const char* const g_szPinger = "addCommandHandler('aping', function() triggerEvent('APing', nil) end)\n";

// Whether the timer printed Count more ticks after the first line given.
bool Ticked(CServerProcess& Server, size_t First, size_t Count)
{
	return WaitForLines(Server, First, "a tick ", Count);
}

void CheckOwnerCase(const tOwnerCase& Case, ePackaging Packaging)
{
	const std::string Label = std::string(Case.m_szLabel) + (Packaging == ARCHIVE ? " archives" : " folders");
	CServerProcess Server;
	tServerPorts Ports;
	const std::string Config = MakeConfig(ResourceList({"a", "b", "pinger", "watch", "marker"}), Ports);
	std::string Owner = Case.m_szOwner;
	ReplaceAll(Owner, "%URL%", "http://127.0.0.1:" + std::to_string(Ports.m_iHttp));
	WriteScript(Server, "a", Case.m_Language, Owner, Packaging);
	WriteScript(Server, "b", Case.m_Language, Case.m_szOther, Packaging);
	WriteLua(Server, "pinger", g_szPinger);
	WriteLua(Server, "watch", g_szWatch);
	WriteLua(Server, "marker", g_szChatMarker);
	StartAndWait(Server, Config);
	VexaTest::CGameClient Client;
	ASSERT_TRUE(Client.Join(static_cast<uint16_t>(Ports.m_iGame), VexaTest::tJoinRequest())) << Server.GetRawOutput();
	const size_t First = Server.GetOutputLines().size();

	// "b" started after "a", and restarts while a's request is still on its way; then it stops. Each time, a's
	// command, event handler, key bind and timer still run.
	std::vector<std::string> Lines;
	std::string Input = "areg\n";
	const std::pair<const char*, const char*> rgChanges[] = {
		{"restart b", "Restarted resource b"}, {"stop b", "STOP: Resource b stopped."}};
	for (const auto& Change : rgChanges)
	{
		Lines = RunLines(Server, Input + Change.first + "\nacmd\naping\n");
		EXPECT_TRUE(Input.empty() || HasLineContaining(Lines, "a registered")) << Label << "\n" << JoinLines(Lines);
		Input.clear();
		EXPECT_TRUE(HasLineContaining(Lines, Change.second)) << Label << "\n" << JoinLines(Lines);
		EXPECT_EQ(CountLines(Lines, "a cmd ran"), 1u) << Label << " " << Change.first << "\n" << JoinLines(Lines);
		EXPECT_EQ(CountLines(Lines, "a ping ran"), 1u) << Label << " " << Change.first << "\n" << JoinLines(Lines);
		Lines = PressKey(Server, Client, Change.first);
		EXPECT_EQ(CountLines(Lines, "a key ran"), 1u) << Label << " " << Change.first << "\n" << JoinLines(Lines);
		EXPECT_TRUE(Ticked(Server, Server.GetOutputLines().size(), 3))
			<< Label << " " << Change.first << "\n" << Server.GetRawOutput();
	}
	EXPECT_TRUE(WaitForLines(Server, First, "a http done 0", 1)) << Label << "\n" << Server.GetRawOutput();

	// b's own code, run by a after b stopped, starts nothing.
	Lines = RunLines(Server, "bagain\n");
	EXPECT_TRUE(HasLineContaining(Lines, "The calling resource has stopped")) << Label << "\n" << JoinLines(Lines);
	EXPECT_FALSE(HasLineContaining(Lines, "START: Resource b started.")) << Label << "\n" << JoinLines(Lines);
}
}

TEST(SharedScriptNames, ARunningResourceKeepsWhatItRegisteredWhileAnotherOneStops)
{
	for (ePackaging Packaging : {FOLDER, ARCHIVE})
	{
		for (const tOwnerCase& Case : g_OwnerCases)
			CheckOwnerCase(Case, Packaging);
	}
}
