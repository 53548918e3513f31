// Script values that hold an engine object which holds them in turn: a timer whose callback refers to the timer, a
// function value whose closure returns it, handlers whose functions hold function values of themselves, timers
// whose arguments lead back to them. In every language such a resource stops, starts again, restarts and lets the
// server quit cleanly; and a timer that can never run again lets go of its callback, so that a full collection
// frees it and everything its callback held.

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "JSScripting/CJSScripting.h"
#include "LuaScripting/CLuaScripting.h"
#include "ResourceTestSupport.h"
#include "ScriptNotation.h"
#include "Scripting/TimerHandlers.h"
#include "SquirrelScripting/SqScripting.h"
#include "Support/ResourceHostFixture.h"

using namespace ServerTest;

namespace
{
// One cycle, written in each language, and the line its resource prints once the cycle is made (for timers: once
// the timer has run).
struct tCycleCase
{
	const char* m_szName;
	const char* m_szScripts[LANGUAGE_COUNT];
	const char* m_szReady;
};

const tCycleCase g_CycleCases[] = {
	{"interval",
		{
			"local fired = false; local t; t = setInterval(function() "
			"if t ~= nil and not fired then fired = true; print('cycle interval ready') end end, 10)",
			"let fired = false; let t = null; t = setInterval(function() { "
			"if (t !== null && !fired) { fired = true; console.log('cycle interval ready'); } }, 10);",
			"local fired = false; local t = null; t = setInterval(function() { "
			"if (t != null && !fired) { fired = true; print(\"cycle interval ready\"); } }, 10);",
		},
		"cycle interval ready"},
	{"timeout",
		{
			"local t; t = setTimeout(function() print('cycle timeout ready ' .. tostring(clearTimeout(t))) end, 10)",
			"let t = null; t = setTimeout(function() { console.log('cycle timeout ready ' + clearTimeout(t)); }, 10);",
			"local t = null; t = setTimeout(function() { print(\"cycle timeout ready \" + clearTimeout(t)); }, 10);",
		},
		"cycle timeout ready true"},
	{"function",
		{
			"local o; o = reflection.createFunction(function() return o end); "
			"print('cycle function ready ' .. tostring(reflection.call(o) == o))",
			"let o = null; o = reflection.createFunction(function() { return o; }); "
			"console.log('cycle function ready ' + (reflection.call(o) === o));",
			"local o = null; o = reflection.createFunction(function() { return o; }); "
			"print(\"cycle function ready \" + (reflection.call(o) == o));",
		},
		"cycle function ready true"},
	// The handlers below hold their function, whose closure holds a function value of that same function.
	{"event",
		{
			"local f; local function handler() print('cycle event ready'); return f end; "
			"f = reflection.createFunction(handler); addEvent('cycleEvent'); addEventHandler('cycleEvent', handler); "
			"triggerEvent('cycleEvent')",
			"let f = null; const handler = function() { console.log('cycle event ready'); return f; }; "
			"f = reflection.createFunction(handler); addEvent('cycleEvent'); addEventHandler('cycleEvent', handler); "
			"triggerEvent('cycleEvent');",
			"local f = null; local handler = function(...) { print(\"cycle event ready\"); return f; }; "
			"f = reflection.createFunction(handler); addEvent(\"cycleEvent\"); "
			"addEventHandler(\"cycleEvent\", handler); triggerEvent(\"cycleEvent\");",
		},
		"cycle event ready"},
	// Run by the test from the console.
	{"command",
		{
			"local f; local function handler() print('cycle command ran'); return f end; "
			"f = reflection.createFunction(handler); addCommandHandler('cyclecommand', handler)",
			"let f = null; const handler = function() { console.log('cycle command ran'); return f; }; "
			"f = reflection.createFunction(handler); addCommandHandler('cyclecommand', handler);",
			"local f = null; local handler = function(...) { print(\"cycle command ran\"); return f; }; "
			"f = reflection.createFunction(handler); addCommandHandler(\"cyclecommand\", handler);",
		},
		nullptr},
	{"key",
		{
			"local f; local function handler() return f end; f = reflection.createFunction(handler); "
			"bindKey(97, KEYSTATE_DOWN, handler); print('cycle key ready')",
			"let f = null; const handler = function() { return f; }; f = reflection.createFunction(handler); "
			"bindKey(97, KEYSTATE_DOWN, handler); console.log('cycle key ready');",
			"local f = null; local handler = function(...) { return f; }; f = reflection.createFunction(handler); "
			"bindKey(97, KEYSTATE_DOWN, handler); print(\"cycle key ready\");",
		},
		"cycle key ready"},
	{"network",
		{
			"local f; local function handler() return f end; f = reflection.createFunction(handler); "
			"addNetworkHandler('cycleNetwork', handler); print('cycle network ready')",
			"let f = null; const handler = function() { return f; }; f = reflection.createFunction(handler); "
			"addNetworkHandler('cycleNetwork', handler); console.log('cycle network ready');",
			"local f = null; local handler = function(...) { return f; }; f = reflection.createFunction(handler); "
			"addNetworkHandler(\"cycleNetwork\", handler); print(\"cycle network ready\");",
		},
		"cycle network ready"},
	// Only Squirrel hands a table to the engine by reference; the others copy it, which holds nothing.
	{"argument",
		{
			"local holder = {}; holder.timer = setInterval(function(h) end, 100000, holder); "
			"print('cycle argument ready')",
			"const holder = {}; holder.timer = setInterval(function(h) {}, 100000, holder); "
			"console.log('cycle argument ready');",
			"local holder = {}; holder.timer <- setInterval(function(h) {}, 100000, holder); "
			"print(\"cycle argument ready\");",
		},
		"cycle argument ready"},
	// The chain that frees the cycle passes through an XML document and a file.
	{"objects",
		{
			"local doc = XmlDocument(); local file = createFile('cycle.txt'); local fired = false; local t; "
			"t = setInterval(function(d, f) if t ~= nil and not fired then fired = true; f:writeString('x'); "
			"print('cycle objects ready') end end, 10, doc, file)",
			"const doc = new XmlDocument(); const file = createFile('cycle.txt'); let fired = false; let t = null; "
			"t = setInterval(function(d, f) { if (t !== null && !fired) { fired = true; f.writeString('x'); "
			"console.log('cycle objects ready'); } }, 10, doc, file);",
			"local doc = XmlDocument(); local file = createFile(\"cycle.txt\"); local fired = false; local t = null; "
			"t = setInterval(function(d, f) { if (t != null && !fired) { fired = true; f.writeString(\"x\"); "
			"print(\"cycle objects ready\"); } }, 10, doc, file);",
		},
		"cycle objects ready"},
	// A plug-in module's function value runs the timer, whose argument is a closure that holds the timer.
	{"module",
		{
			"local t; t = setInterval(module.full.make('function'), 100000, function() return t end); "
			"print('cycle module ready')",
			"let t = null; t = setInterval(module.full.make('function'), 100000, function() { return t; }); "
			"console.log('cycle module ready');",
			"local t = null; t = setInterval(module.full.make(\"function\"), 100000, function() { return t; }); "
			"print(\"cycle module ready\");",
		},
		"cycle module ready"},
};

std::string ResourceName(const tCycleCase& Case)
{
	return std::string("cycle_") + Case.m_szName;
}

std::string LanguageName(const ::testing::TestParamInfo<eLanguage>& Info)
{
	return g_ScriptLanguages[Info.param].m_szLabel;
}

class ScriptCycles : public ::testing::TestWithParam<eLanguage>
{
protected:
	// Runs the console line; whether the server then printed the reply.
	bool RunAndWait(const std::string& Line, const std::string& Reply)
	{
		return m_Server.WriteInput(Line + "\n") && m_Server.WaitForOutput(Reply);
	}

	CServerProcess m_Server;
};
}

TEST_P(ScriptCycles, ResourcesHoldingThemselvesStopRestartAndQuit)
{
	const tScriptLanguage& Language = g_ScriptLanguages[GetParam()];
	std::vector<std::string> Names;
	for (const tCycleCase& Case : g_CycleCases)
	{
		Names.push_back(ResourceName(Case));
		WriteResource(m_Server, Names.back(),
			{{Language.m_szFile, Language.m_szLanguage, Case.m_szScripts[GetParam()]}});
	}
	const std::string Modules =
		"\t<modules>\n\t\t<module src=\"" + std::string(VEXA_TEST_MODULE_DIR) + "/FullModule\" />\n\t</modules>\n";
	StartAndWait(m_Server, MakeConfig(Modules + ResourceList(Names)));
	const std::string Loaded = std::to_string(Names.size()) + "/" + std::to_string(Names.size()) + " Resources loaded";
	ASSERT_TRUE(Printed(m_Server, Loaded)) << m_Server.GetRawOutput();
	for (const tCycleCase& Case : g_CycleCases)
	{
		if (Case.m_szReady)
		{
			ASSERT_TRUE(m_Server.WaitForOutput(Case.m_szReady)) << m_Server.GetRawOutput();
		}
	}
	ASSERT_TRUE(RunAndWait("cyclecommand", "cycle command ran")) << m_Server.GetRawOutput();

	// Each step for every resource before the next step; a resource that brings the server down stops the test.
	const std::pair<const char*, const char*> rgSteps[] = {
		{"stop ", "Stopped resource "},
		{"start ", "Started resource "},
		{"restart ", "Restarted resource "},
	};
	for (const auto& Step : rgSteps)
	{
		for (const std::string& Name : Names)
			ASSERT_TRUE(RunAndWait(Step.first + Name, Step.second + Name)) << Step.first << Name << "\n"
																		   << m_Server.GetRawOutput();
	}

	ASSERT_TRUE(m_Server.WriteInput("quit\n"));
	EXPECT_EQ(m_Server.WaitForExit(), 0) << m_Server.GetRawOutput();
}

INSTANTIATE_TEST_SUITE_P(EveryLanguage, ScriptCycles, ::testing::Values(LUA, JAVASCRIPT, SQUIRREL), LanguageName);

namespace
{
// Self-cancelling timers of one language, each watched through a weak pointer from the engine side.
class ScriptCycleMemory : public ResourceHostFixture, public ::testing::WithParamInterface<eLanguage>
{
protected:
	ScriptCycleMemory() :
		ResourceHostFixture(strrchr(g_ScriptLanguages[GetParam()].m_szFile, '.'),
			g_ScriptLanguages[GetParam()].m_szLanguage)
	{
		CScripting* pScripting = m_pManager->GetScripting();
		pScripting->GetGlobal()->RegisterFunction("watch", "x", Watch, &m_Watched);
		switch (GetParam())
		{
		case LUA:
			EXPECT_TRUE(RegisterLuaVM(pScripting));
			break;
		case JAVASCRIPT:
			EXPECT_TRUE(RegisterJSVM(pScripting));
			break;
		default:
			EXPECT_TRUE(RegisterSqVM(pScripting));
			break;
		}
		EXPECT_TRUE(pScripting->GetVMCount() == 1 && pScripting->GetVMAt(0)->DefineClasses());
	}

	~ScriptCycleMemory() override { m_pManager.reset(); }

	// watch(object): remembers the object without holding it.
	static bool Watch(CNativeState* pState, int, void* pUserData)
	{
		CBaseObject* pObject = pState->CheckReferenceable(0);
		if (!pObject)
			return false;
		static_cast<std::deque<Weak<CBaseObject>>*>(pUserData)->emplace_back(pObject);
		return true;
	}

	size_t CountLiveWatched() const
	{
		size_t Count = 0;
		for (const Weak<CBaseObject>& pObject : m_Watched)
			Count += pObject.IsNull() ? 0 : 1;
		return Count;
	}

	// A deque: a weak pointer registers its own address with its object, so the cells must never move.
	std::deque<Weak<CBaseObject>> m_Watched;
};

// How many timers each case makes.
constexpr size_t TIMER_COUNT = 200;

struct tTimerCase
{
	const char* m_szName;
	// Makes COUNT (TIMER_COUNT) timers and watches each.
	const char* m_szScripts[LANGUAGE_COUNT];
};

const tTimerCase g_TimerCases[] = {
	{"clears itself",
		{
			"for i = 1, COUNT do local t; t = setTimeout(function() clearTimeout(t) end, 1); watch(t) end",
			"for (let i = 0; i < COUNT; i++) { let t = null; t = setTimeout(function() { clearTimeout(t); }, 1); "
			"watch(t); }",
			"for (local i = 0; i < COUNT; i++) { local t = null; t = setTimeout(function() { clearTimeout(t); }, 1); "
			"watch(t); }",
		}},
	{"runs out holding itself",
		{
			"for i = 1, COUNT do local t; t = setTimeout(function() return t end, 1); watch(t) end",
			"for (let i = 0; i < COUNT; i++) { let t = null; t = setTimeout(function() { return t; }, 1); watch(t); }",
			"for (local i = 0; i < COUNT; i++) { local t = null; t = setTimeout(function() { return t; }, 1); "
			"watch(t); }",
		}},
};
}

TEST_P(ScriptCycleMemory, TimersThatCanNeverRunAgainAreFreedByAFullCollection)
{
	TimerHandlers::CTimerHandlers* pTimers = m_pManager->GetTimerHandlers();
	for (const tTimerCase& Case : g_TimerCases)
	{
		SCOPED_TRACE(Case.m_szName);
		m_Watched.clear();
		const std::string Name = std::string("timers ") + Case.m_szName;
		std::string Script = Case.m_szScripts[GetParam()];
		ReplaceAll(Script, "COUNT", std::to_string(TIMER_COUNT));
		WriteResource(Name, {Script});
		m_pManager->RefreshResources(false);
		CResource* pResource = m_pManager->FindResourceByName(Name.c_str());
		ASSERT_TRUE(pResource != nullptr && pResource->Start()) << m_Log.Text();
		ASSERT_EQ(m_Watched.size(), TIMER_COUNT);
		for (int i = 0; i < 10 && pTimers->GetCount() > 0; i++)
			m_pManager->Process(0.016);
		ASSERT_EQ(pTimers->GetCount(), 0u);

		// The resource still runs: nothing but the collector frees the timers and their callbacks.
		m_pManager->GetScripting()->CollectGarbage();
		EXPECT_EQ(CountLiveWatched(), 0u);
		EXPECT_TRUE(pResource->Stop(false));
	}
}

INSTANTIATE_TEST_SUITE_P(EveryLanguage, ScriptCycleMemory, ::testing::Values(LUA, JAVASCRIPT, SQUIRREL), LanguageName);
