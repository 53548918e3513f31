// Black-box tests of who owns a registration. A command handler, event handler, timer or key bind goes with the
// resource instance its function belongs to, whoever registered it: a library resource that registers other
// resources' functions for them leaves nothing of theirs behind when they stop or restart, and a function whose
// resource has already stopped cannot be registered at all.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ClientInput.h"
#include "ResourceTestSupport.h"
#include "Support/GameClient.h"

using namespace ServerTest;

namespace
{
// A library resource and its client, in one language. The library makes the event "Ping", which its command
// "ping" triggers, and offers the client four helpers: on(name, function) adds a command handler, onEvent(name,
// function) an event handler, later(function) a timer of 500 ms beside one of its own of 1000 ms that prints
// "lib timers done", and onKey(function) a bind of the key "a" pressed. The client, as it starts, registers "bcmd",
// a handler of "Ping" and a key bind through the library and prints "b registered <answer of on> <answer of
// onEvent>"; its command "btimer" hands later a function.
struct tLibraryCase
{
	const char* m_szLabel;
	eLanguage m_Language;
	const char* m_szLibrary;
	const char* m_szClient;
};

const tLibraryCase g_LibraryCases[] = {
	{"lua exports", LUA, R"script(
addEvent('Ping', 0)
addCommandHandler('ping', function() triggerEvent('Ping', nil) end)
local function done() print('lib timers done') end
exportFunction('on', function(name, cb) return addCommandHandler(name, cb) end)
exportFunction('onEvent', function(name, cb) return addEventHandler(name, cb) end)
exportFunction('later', function(cb) setTimeout(cb, 500) setTimeout(done, 1000) return true end)
exportFunction('onKey', function(cb) return bindKey(97, KEYSTATE_DOWN, cb) end)
)script",
		R"script(
local a = findResourceByName('a')
print('b registered ' .. tostring(a:getExport('on')('bcmd', function() print('bcmd ran') end)) .. ' ' ..
	tostring(a:getExport('onEvent')('Ping', function() print('Ping ran') end)))
addCommandHandler('btimer', function() a:getExport('later')(function() print('b timer ran') end) end)
a:getExport('onKey')(function() print('key ran') end)
)script"},
	{"js exports", JAVASCRIPT, R"script(
addEvent('Ping', 0);
addCommandHandler('ping', () => triggerEvent('Ping', null));
function done() { console.log('lib timers done'); }
exportFunction('on', (name, cb) => addCommandHandler(name, cb));
exportFunction('onEvent', (name, cb) => addEventHandler(name, cb));
exportFunction('later', (cb) => { setTimeout(cb, 500); setTimeout(done, 1000); return true; });
exportFunction('onKey', (cb) => bindKey(97, KEYSTATE_DOWN, cb));
)script",
		R"script(
const a = findResourceByName('a');
console.log('b registered ' + a.getExport('on')('bcmd', () => console.log('bcmd ran')) + ' ' +
	a.getExport('onEvent')('Ping', () => console.log('Ping ran')));
addCommandHandler('btimer', () => a.getExport('later')(() => console.log('b timer ran')));
a.getExport('onKey')(() => console.log('key ran'));
)script"},
	// The library hands its helpers as an object, the answer to an event the client triggers as it starts.
	{"js object", JAVASCRIPT, R"script(
addEvent('Ping', 0);
addEvent('Lib', 1);
addEvent('WantLib', 0);
addCommandHandler('ping', () => triggerEvent('Ping', null));
function done() { console.log('lib timers done'); }
const lib = {
	on(name, cb) { return addCommandHandler(name, cb); },
	onEvent(name, cb) { return addEventHandler(name, cb); },
	later(cb) { setTimeout(cb, 500); setTimeout(done, 1000); return true; },
	onKey(cb) { return bindKey(97, KEYSTATE_DOWN, cb); },
};
addEventHandler('WantLib', () => triggerEvent('Lib', null, lib));
)script",
		R"script(
addEventHandler('Lib', (event, lib) => {
	console.log('b registered ' + lib.on('bcmd', () => console.log('bcmd ran')) + ' ' +
		lib.onEvent('Ping', () => console.log('Ping ran')));
	addCommandHandler('btimer', () => lib.later(() => console.log('b timer ran')));
	lib.onKey(() => console.log('key ran'));
});
triggerEvent('WantLib', null);
)script"},
	{"squirrel object", SQUIRREL, R"script(
addEvent("Ping", 0);
addEvent("Lib", 1);
addEvent("WantLib", 0);
addCommandHandler("ping", function(...) { triggerEvent("Ping", null); });
function done() { print("lib timers done"); }
local lib = {
	on = function(name, cb) { return addCommandHandler(name, cb); },
	onEvent = function(name, cb) { return addEventHandler(name, cb); },
	later = function(cb) { setTimeout(cb, 500); setTimeout(done, 1000); return true; },
	onKey = function(cb) { return bindKey(97, KEYSTATE_DOWN, cb); },
};
addEventHandler("WantLib", function(event) { triggerEvent("Lib", null, lib); });
)script",
		R"script(
addEventHandler("Lib", function(event, lib) {
	print("b registered " + lib.on("bcmd", function(...) { print("bcmd ran"); }) + " " +
		lib.onEvent("Ping", function(...) { print("Ping ran"); }));
	addCommandHandler("btimer", function(...) { lib.later(function() { print("b timer ran"); }); });
	lib.onKey(function(...) { print("key ran"); });
});
triggerEvent("WantLib", null);
)script"},
};

const char* const g_szStoppedFunction = "Cannot call a function of a stopped resource";

// Restarts and then stops the client; an assertion that fails ends only this case.
void CheckLibraryCase(const tLibraryCase& Case)
{
	CServerProcess Server;
	WriteScript(Server, "a", Case.m_Language, Case.m_szLibrary);
	WriteScript(Server, "b", Case.m_Language, Case.m_szClient);
	WriteLua(Server, "watch", g_szWatch);
	WriteLua(Server, "marker", g_szChatMarker);
	int iPort = 0;
	StartAndWait(Server, MakeConfig(ResourceList({"a", "b", "watch", "marker"}), iPort));
	ASSERT_TRUE(Printed(Server, "b registered true true")) << Case.m_szLabel << "\n" << Server.GetRawOutput();
	VexaTest::CGameClient Client;
	ASSERT_TRUE(Client.Join(static_cast<uint16_t>(iPort), VexaTest::tJoinRequest())) << Server.GetRawOutput();
	const size_t First = Server.GetOutputLines().size();

	// The new instance registers the same names again, and only its own functions answer.
	std::vector<std::string> Lines = RunLines(Server, "restart b\nbcmd\nping\n");
	EXPECT_TRUE(HasLineContaining(Lines, "b registered true true")) << Case.m_szLabel << "\n" << JoinLines(Lines);
	EXPECT_EQ(CountLines(Lines, "bcmd ran"), 1u) << Case.m_szLabel << "\n" << JoinLines(Lines);
	EXPECT_EQ(CountLines(Lines, "Ping ran"), 1u) << Case.m_szLabel << "\n" << JoinLines(Lines);
	Lines = PressKey(Server, Client, "after restart");
	EXPECT_EQ(CountLines(Lines, "key ran"), 1u) << Case.m_szLabel << "\n" << JoinLines(Lines);

	// A timer the library set for the client's function goes with the client when it stops before the timer
	// fires; the library's own timer, due after it, still runs.
	ASSERT_TRUE(Server.WriteInput("btimer\nstop b\n"));
	EXPECT_TRUE(WaitForLines(Server, First, "lib timers done", 1)) << Case.m_szLabel << "\n" << Server.GetRawOutput();

	// Nothing of the stopped client answers any more.
	Lines = RunLines(Server, "bcmd\nping\n");
	EXPECT_FALSE(HasLineContaining(Lines, "bcmd ran")) << Case.m_szLabel << "\n" << JoinLines(Lines);
	EXPECT_FALSE(HasLineContaining(Lines, "Ping ran")) << Case.m_szLabel << "\n" << JoinLines(Lines);
	Lines = PressKey(Server, Client, "after stop");
	EXPECT_FALSE(HasLineContaining(Lines, "key ran")) << Case.m_szLabel << "\n" << JoinLines(Lines);

	const std::vector<std::string> All = LinesSince(Server, First);
	EXPECT_FALSE(HasLineContaining(All, "b timer ran")) << Case.m_szLabel << "\n" << JoinLines(All);
	EXPECT_FALSE(HasLineContaining(All, g_szStoppedFunction)) << Case.m_szLabel << "\n" << JoinLines(All);
}
}

TEST(HandlerOwnership, RegistrationsMadeThroughALibraryGoWithTheirFunctionsResource)
{
	for (const tLibraryCase& Case : g_LibraryCases)
		CheckLibraryCase(Case);
}

TEST(HandlerOwnership, AFunctionOfAStoppedResourceCannotBeRegistered)
{
	// Resource b holds a function that resource a exported. Once a has stopped, b's attempts to register that
	// function as a command handler, an event handler and a timer fail with a script error, which b prints
	// ("<kind> failed: <message>"); calling the function itself still runs nothing and logs why.
	const char* const szExporters[LANGUAGE_COUNT] = {
		"exportFunction('f', function() print('a f ran') end)\n",
		"exportFunction('f', () => console.log('a f ran'));\n",
		"exportFunction(\"f\", function(...) { print(\"a f ran\"); });\n",
	};
	const char* const szHolders[LANGUAGE_COUNT] = {
		R"script(
addEvent('Held', 0)
local f = findResourceByName('a'):getExport('f')
local function attempt(kind, register, ...)
	local ok, message = pcall(register, ...)
	print(kind .. (ok and ' registered' or ' failed: ' .. tostring(message)))
end
addCommandHandler('register', function()
	attempt('command', addCommandHandler, 'x', f)
	attempt('event', addEventHandler, 'Held', f)
	attempt('timer', setTimeout, f, 1)
	f()
	print('called')
end)
addCommandHandler('held', function() triggerEvent('Held', nil) end)
)script",
		R"script(
addEvent('Held', 0);
const f = findResourceByName('a').getExport('f');
function attempt(kind, register) {
	try { register(); console.log(kind + ' registered'); } catch (e) { console.log(kind + ' failed: ' + e.message); }
}
addCommandHandler('register', () => {
	attempt('command', () => addCommandHandler('x', f));
	attempt('event', () => addEventHandler('Held', f));
	attempt('timer', () => setTimeout(f, 1));
	try { f(); } catch (e) {}
	console.log('called');
});
addCommandHandler('held', () => triggerEvent('Held', null));
)script",
		R"script(
addEvent("Held", 0);
local f = findResourceByName("a").getExport("f");
function attempt(kind, register) {
	try { register(); print(kind + " registered"); } catch (e) { print(kind + " failed: " + e); }
}
addCommandHandler("register", function(...) {
	attempt("command", function() { addCommandHandler("x", f); });
	attempt("event", function() { addEventHandler("Held", f); });
	attempt("timer", function() { setTimeout(f, 1); });
	try { f(); } catch (e) {}
	print("called");
});
addCommandHandler("held", function(...) { triggerEvent("Held", null); });
)script",
	};
	for (size_t i = 0; i < LANGUAGE_COUNT; i++)
	{
		const eLanguage Language = static_cast<eLanguage>(i);
		const char* szLabel = g_ScriptLanguages[i].m_szLabel;
		CServerProcess Server;
		WriteScript(Server, "a", Language, szExporters[i]);
		WriteScript(Server, "b", Language, szHolders[i]);
		WriteLua(Server, "watch", g_szWatch);
		StartWithResources(Server, {"a", "b", "watch"});

		const std::vector<std::string> Lines = RunLines(Server, "stop a\nregister\nx\nheld\ncount\n");
		for (const char* szKind : {"command", "event", "timer"})
		{
			EXPECT_TRUE(HasLineStartingWith(Lines, std::string(szKind) + " failed: ",
				"Cannot use a function of a stopped resource"))
				<< szLabel << " " << szKind << "\n" << JoinLines(Lines);
		}
		// Only the direct call reaches the function, and it runs nothing.
		EXPECT_TRUE(HasLineContaining(Lines, "called")) << szLabel << "\n" << JoinLines(Lines);
		EXPECT_EQ(CountLines(Lines, g_szStoppedFunction), 1u) << szLabel << "\n" << JoinLines(Lines);
		EXPECT_FALSE(HasLineContaining(Lines, "a f ran")) << szLabel << "\n" << JoinLines(Lines);
	}
}
