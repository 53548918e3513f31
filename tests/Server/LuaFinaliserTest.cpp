// Black-box tests of Lua finalisers. One Lua state serves every resource, so the collector runs a resource's
// finalisers inside whatever code happens to allocate or collect, often another resource's. Whatever a finaliser
// raises, and whether its resource runs or has stopped, the error is logged as a script error at the finaliser's
// own position, the other finalisers still run, and the code the collection interrupted goes on.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ResourceTestSupport.h"

using namespace ServerTest;

namespace
{
// How many garbage objects with a finaliser "arm" makes.
constexpr size_t FINALISERS = 50;

// Resource a: "arm" makes the garbage objects. Each finaliser prints that it started, then runs the case's
// statements, all on line 3 of the script.
const char* const g_szArming = R"script(
addCommandHandler('arm', function()
	for i = 1, %COUNT% do setmetatable({}, {__gc = function() print('A-GC ' .. i) %FINALISER% end}) end
end)
)script";

const char* const g_szFinaliserPosition = "[string \"/resources/a/main.lua\"]:3: ";

// Resource b, which calls no native while it works: a plain loop that allocates enough for the collector to take
// steps inside it, and a full collection.
const char* const g_szInterrupted = R"script(
addCommandHandler('bloop', function()
	local s = {}
	for i = 1, 200000 do s[#s + 1] = 'x' .. i if #s > 1000 then s = {} end end
	print('B-LOOP-DONE')
end)
addCommandHandler('bcollect', function()
	collectgarbage()
	print('B-COLLECT-DONE')
end)
)script";

struct tFinaliserCase
{
	const char* m_szLabel;
	// What each finaliser does after printing that it started.
	const char* m_szFinaliser;
	// The console lines: "arm" first, and b's commands.
	const char* m_szLines;
	// What every finaliser raises.
	const char* m_szError;
};

const tFinaliserCase g_FinaliserCases[] = {
	// The first collection (the one the stop runs) meets finalisers whose native calls are all refused.
	{"resource stopped from the console", "gta.createVehicle(130, Vec3(1, 2, 0))",
		"arm\nstop a\nbloop\nbloop\nbcollect\n", "The calling resource has stopped"},
	// The first finaliser stops its own resource in the middle of b's collection; the rest are refused at once.
	{"resource stopped by its first finaliser", "thisResource:stop() gta.createVehicle(130, Vec3(1, 2, 0))",
		"arm\nbcollect\nbloop\nbloop\nbcollect\n", "The calling resource has stopped"},
	// Nothing has stopped: a running resource's finaliser fails on its own.
	{"running resource", "error('boom')", "arm\nbloop\nbcollect\nbloop\n", "boom"},
};
}

TEST(LuaFinaliser, ErrorsAreLoggedAndNeverInterruptAnotherResourcesCode)
{
	for (const tFinaliserCase& Case : g_FinaliserCases)
	{
		CServerProcess Server;
		std::string Arming = g_szArming;
		ReplaceAll(Arming, "%COUNT%", std::to_string(FINALISERS));
		ReplaceAll(Arming, "%FINALISER%", Case.m_szFinaliser);
		WriteLua(Server, "a", Arming);
		WriteLua(Server, "b", g_szInterrupted);
		WriteLua(Server, "watch", g_szWatch);
		StartWithResources(Server, {"a", "b", "watch"});

		const std::vector<std::string> Lines = RunLines(Server, Case.m_szLines);
		const std::string All = JoinLines(Lines);
		// Each of b's commands runs to its end, however many finalisers failed inside it.
		EXPECT_EQ(CountLines(Lines, "B-LOOP-DONE"), CountOccurrences(Case.m_szLines, "bloop\n"))
			<< Case.m_szLabel << "\n" << All;
		EXPECT_EQ(CountLines(Lines, "B-COLLECT-DONE"), CountOccurrences(Case.m_szLines, "bcollect\n"))
			<< Case.m_szLabel << "\n" << All;
		EXPECT_FALSE(HasLineContaining(Lines, "error in __gc metamethod")) << Case.m_szLabel << "\n" << All;

		// One failing finaliser does not keep the others from running: all of them have run by the time b's last
		// command is over, and each error is logged at the finaliser's position.
		size_t LastOfB = 0;
		for (size_t i = 0; i < Lines.size(); i++)
		{
			if (Lines[i] == "B-LOOP-DONE" || Lines[i] == "B-COLLECT-DONE")
				LastOfB = i;
		}
		const std::vector<std::string> UntilB(Lines.begin(), Lines.begin() + static_cast<std::ptrdiff_t>(LastOfB));
		EXPECT_EQ(CountLines(UntilB, "A-GC "), FINALISERS) << Case.m_szLabel << "\n" << All;
		EXPECT_EQ(CountLines(Lines, std::string("SCRIPT ERROR: ") + g_szFinaliserPosition + Case.m_szError),
			FINALISERS)
			<< Case.m_szLabel << "\n" << All;
		EXPECT_EQ(Lines.back(), "vehicles 0") << Case.m_szLabel << "\n" << All;

		EXPECT_TRUE(Server.WriteInput("quit\n"));
		EXPECT_EQ(Server.WaitForExit(), 0) << Case.m_szLabel << "\n" << Server.GetRawOutput();
	}
}
