// Black-box tests of who owns a function value. A function belongs to the resource instance whose code made it (in
// Lua the environment of that code, in JavaScript its realm), even when that code ran inside another resource's
// call and whoever stores the value: once the maker's resource stops, calling the function runs nothing of it.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ResourceTestSupport.h"

using namespace ServerTest;

namespace
{
// Resource a hands resource b something b calls with b's own vehicle and a suffix ("store <suffix>"): a Lua
// coroutine b resumes, a JavaScript object whose method b calls. Inside that call a's code stores two functions on
// the vehicle as "globals<suffix>" (it reads globals and makes a vehicle) and "upvalue<suffix>" (it reads only an
// upvalue), and hands back a third that b stores itself as "made<suffix>". Each prints "A-FN <kind> ran" when it
// runs. b's command "use <suffix>" prints "B use <key> is <type>" for each key and calls what is a function.
struct tMakerCase
{
	const char* m_szLabel;
	eLanguage m_Language;
	const char* m_szMaker;
	const char* m_szStorer;
};

const tMakerCase g_MakerCases[] = {
	{"lua coroutine", LUA, R"script(
local say, yield = print, coroutine.yield
local co = coroutine.create(function(v, suffix)
	while true do
		v:setData('globals' .. suffix, function()
			print('A-FN globals ran')
			gta.createVehicle(130, Vec3(1, 2, 0))
		end, false)
		v:setData('upvalue' .. suffix, function() say('A-FN upvalue ran') end, false)
		v, suffix = yield(function() say('A-FN made ran') end)
	end
end)
triggerEvent('take', nil, co)
)script",
		R"script(
addEvent('take', 1)
local held
addEventHandler('take', function(event, co) held = co end)
local v = gta.createVehicle(130, Vec3(1, 2, 0))
addCommandHandler('store', function(command, suffix)
	local ok, made = coroutine.resume(held, v, suffix)
	if ok then v:setData('made' .. suffix, made, false) end
	print('stored ' .. suffix .. ' ' .. tostring(ok) .. ' ' .. tostring(made))
end)
addCommandHandler('use', function(command, suffix)
	for _, kind in ipairs({'globals', 'upvalue', 'made'}) do
		local f = v:getData(kind .. suffix)
		print('B use ' .. kind .. suffix .. ' is ' .. type(f))
		if type(f) == 'function' then f() end
	end
end)
)script"},
	{"js object", JAVASCRIPT, R"script(
const say = console.log;
triggerEvent('take', null, {
	store(v, suffix) {
		v.setData('globals' + suffix, () => {
			console.log('A-FN globals ran');
			gta.createVehicle(130, new Vec3(1, 2, 0));
		}, false);
		v.setData('upvalue' + suffix, () => say('A-FN upvalue ran'), false);
		return () => say('A-FN made ran');
	},
});
)script",
		R"script(
addEvent('take', 1);
let held = null;
addEventHandler('take', (event, value) => { held = value; });
const v = gta.createVehicle(130, new Vec3(1, 2, 0));
addCommandHandler('store', (command, suffix) => {
	try { v.setData('made' + suffix, held.store(v, suffix), false); console.log('stored ' + suffix + ' true'); }
	catch (e) { console.log('stored ' + suffix + ' false ' + e.message); }
});
addCommandHandler('use', (command, suffix) => {
	for (const kind of ['globals', 'upvalue', 'made']) {
		const f = v.getData(kind + suffix);
		console.log('B use ' + kind + suffix + ' is ' + typeof f);
		if (typeof f === 'function') { try { f(); } catch (e) {} }
	}
});
)script"},
};
}

TEST(FunctionOwnership, AFunctionRunsNothingOnceTheResourceOfItsMakerStopped)
{
	for (const tMakerCase& Case : g_MakerCases)
	{
		CServerProcess Server;
		WriteScript(Server, "a", Case.m_Language, Case.m_szMaker);
		WriteScript(Server, "b", Case.m_Language, Case.m_szStorer);
		WriteLua(Server, "watch", g_szWatch);
		StartWithResources(Server, {"b", "a", "watch"});

		// While a runs, its functions run for it: the vehicle the first one makes is a's.
		std::vector<std::string> Lines = RunLines(Server, "store 1\nuse 1\n");
		for (const char* szRan : {"A-FN globals ran", "A-FN upvalue ran", "A-FN made ran"})
			EXPECT_EQ(CountLines(Lines, szRan), 1u) << Case.m_szLabel << " " << szRan << "\n" << JoinLines(Lines);
		EXPECT_EQ(Lines.back(), "vehicles 2") << Case.m_szLabel << "\n" << JoinLines(Lines);

		// Once a has stopped, none of its functions runs, those stored before the stop and those its code stores
		// afterwards alike (if it still can): each call logs why, and only b's own vehicle is left.
		Lines = RunLines(Server, "stop a\nuse 1\nstore 2\nuse 2\n");
		EXPECT_FALSE(HasLineContaining(Lines, "A-FN ")) << Case.m_szLabel << "\n" << JoinLines(Lines);
		EXPECT_EQ(CountLines(Lines, "B use globals1 is function"), 1u) << Case.m_szLabel << "\n" << JoinLines(Lines);
		size_t Called = 0;
		for (const std::string& Line : Lines)
			Called += Line.rfind("B use ", 0) == 0 && Line.find(" is function") != std::string::npos ? 1 : 0;
		EXPECT_EQ(CountLines(Lines, "Cannot call a function of a stopped resource"), Called)
			<< Case.m_szLabel << "\n" << JoinLines(Lines);
		EXPECT_EQ(Lines.back(), "vehicles 1") << Case.m_szLabel << "\n" << JoinLines(Lines);
	}
}
