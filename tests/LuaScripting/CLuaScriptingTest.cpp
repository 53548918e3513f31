#include "LuaTestFixture.h"

#include "Engine/KError.h"
#include "Scripting/CommandHandlers.h"
#include "Support/AllocationCounter.h"

// Environments

TEST_F(LuaTest, EnvironmentHoldsTheFixedSelectionOfLibrariesAndTheInterface)
{
	CResource* pMain = Main();
	ASSERT_NE(pMain, nullptr);
	const char* const rgpszFacts[] = {
		"os.execute == nil and os.getenv == nil and os.remove == nil and os.rename == nil and os.tmpname == nil",
		"io.open == nil and io.lines == nil and io.popen == nil and io.tmpfile == nil",
		"require == nil and package == nil and dofile == nil and loadfile == nil",
		"type(os.exit) == 'function' and type(debug.getinfo) == 'function' and type(debug.sethook) == 'function'",
		"type(string.format) == 'function' and type(utf8.char) == 'function' and type(coroutine.wrap) == 'function'",
		"math.pi > 3 and type(table.concat) == 'function' and io.type(io.stdout) == 'file'",
		"_G == _ENV and type(load) == 'function' and type(print) == 'function'",
		// Library tables are copies; strings still find the global string table.
		"getmetatable('').__index ~= string and ('x'):upper() == 'X'",
		"TEST_SIGNED == -1 and TEST_UNSIGNED == 4294967295 and KEYSTATE_DOWN == 1",
		"type(addEventHandler) == 'function' and type(Vec3) == 'table' and type(reflection.clone) == 'function'",
		"test.alias == test.inner and type(test.inner) == 'table'",
	};
	for (const char* szFact : rgpszFacts)
		EXPECT_TRUE(Run(pMain, std::string("assert(") + szFact + ")")) << szFact << ": " << LastScriptError();
}

TEST_F(LuaTest, GlobalsAndLibraryChangesStayInTheirResource)
{
	CResource* pA = StartResource("a", "shared = 5; string.upper = nil");
	CResource* pB = StartResource("b", "");
	ASSERT_NE(pA, nullptr);
	ASSERT_NE(pB, nullptr);

	ASSERT_TRUE(Run(pA, "test.record(shared, rawget(_G, 'shared'), string.upper)"));
	EXPECT_EQ(Integer(Recorded().GetAt(0)), 5);
	EXPECT_TRUE(IsNil(Recorded().GetAt(1)));
	EXPECT_TRUE(IsNil(Recorded().GetAt(2)));

	ASSERT_TRUE(Run(pB, "test.record(shared, type(string.upper))"));
	EXPECT_TRUE(IsNil(Recorded().GetAt(0)));
	EXPECT_EQ(Text(Recorded().GetAt(1)), "function");
}

TEST_F(LuaTest, PrintLogsOneInfoLineJoinedByTabs)
{
	CResource* pMain = Main();
	ASSERT_TRUE(Run(pMain, "print(1, nil, true) print() print('a\\0b')"));
	std::vector<std::string> Lines = Infos();
	ASSERT_GE(Lines.size(), 3u);
	EXPECT_EQ(Lines[Lines.size() - 3], "1\tnil\ttrue");
	EXPECT_EQ(Lines[Lines.size() - 2], "");
	EXPECT_EQ(Lines[Lines.size() - 1], "a");

	EXPECT_FALSE(Run(pMain, "print(setmetatable({}, {__tostring = function() return {} end}))"));
	EXPECT_NE(LastScriptError().find("'__tostring' must return a string"), std::string::npos);
}

// Script errors

TEST_F(LuaTest, ScriptErrorsAreLoggedAndLeaveTheEnvironmentUsable)
{
	CResource* pMain = Main();
	struct tCase
	{
		const char* szCode;
		const char* szError;
	};
	const tCase rgCases[] = {
		{"x = = 1", "[string \"chunk\"]:1: unexpected symbol near '='"},
		{"error('boom')", "[string \"chunk\"]:1: boom"},
		{"error('plain', 0)", "plain"},
		{"error(12)", "12"},
		{"error(1.5)", "1.5"},
		{"error({})", "(error object is a table value)"},
		{"test.fail('native said no')", "[string \"chunk\"]:1: native said no"},
		{"local v = Vec3(); v.nothere = 1", "[string \"chunk\"]:1: property 'nothere' not found"},
	};
	for (const tCase& Case : rgCases)
	{
		EXPECT_FALSE(Run(pMain, Case.szCode)) << Case.szCode;
		EXPECT_EQ(LastScriptError(), Case.szError) << Case.szCode;
		EXPECT_TRUE(Run(pMain, "test.record(1)")) << Case.szCode;
	}
}

TEST_F(LuaTest, NativeFailuresCanBeCaught)
{
	ASSERT_TRUE(Run(Main(), "test.record(pcall(function() test.fail('caught') end))"));
	ASSERT_EQ(Recorded().GetArrayCount(), 2u);
	EXPECT_FALSE(Recorded().GetAt(0)->ToBoolean());
	EXPECT_EQ(Text(Recorded().GetAt(1)), "[string \"chunk\"]:1: caught");
}

// Memory the engine cannot get while a script calls it (converting values either way, or in the native) fails
// that call as a script error; an exception cannot pass through the language's own code.
TEST_F(LuaTest, EngineRunningOutOfMemoryIsAScriptError)
{
	ReflectedNamespace* pGlobal = Scripting()->GetGlobal();
	pGlobal->RegisterFunction("starve", "", TestNatives::RunOutOfMemory);
	ReflectedClass* pHungryVector = pGlobal->NewClass("TestHungryVector");
	pHungryVector->RegisterConstructor("", TestNatives::RunOutOfMemory);
	ASSERT_TRUE(Lua()->DefineClasses());
	CHungryThing* pHungry = new CHungryThing(ThingClass(), 1);
	Give(new CArgumentObject(pHungry));
	pHungry->Release();
	ASSERT_TRUE(Run(Main(), "hungry = test.give() test.keep(function() return hungry end)"));
	Strong<CFunction> pReturnsHungry(KeptFunction());
	ASSERT_TRUE(Run(Main(), "test.keep(function(v) end)"));
	Strong<CFunction> pTakesValue(KeptFunction());

	ReflectedClass* pVec3Class = pGlobal->m_pVec3Class;
	pGlobal->m_pVec3Class = pHungryVector;
	Give(new CArgumentVector3D(CVector3D(1, 2, 3)));
	const char* const rgpszCodes[] = {"starve()", "test.record(hungry)", "test.record(1, {hungry})", "test.give()"};
	for (const char* szCode : rgpszCodes)
	{
		EXPECT_FALSE(Run(Main(), szCode)) << szCode;
		EXPECT_EQ(LastScriptError(), "[string \"chunk\"]:1: not enough memory") << szCode;
		EXPECT_TRUE(Run(Main(), "test.record(pcall(starve))")) << szCode;
		EXPECT_FALSE(Recorded().GetAt(0)->ToBoolean()) << szCode;
	}

	// Calls from the engine: the result, and the arguments.
	m_Log.Skip();
	CReturnValue Result;
	EXPECT_FALSE(pReturnsHungry->Call(CArgumentArray(), &Result));
	EXPECT_EQ(LastScriptError(), "not enough memory");
	m_Log.Skip();
	CArgumentArray Arguments;
	Arguments.AddVector3D(CVector3D(1, 2, 3));
	EXPECT_FALSE(pTakesValue->Call(Arguments, nullptr));
	EXPECT_EQ(LastScriptError(), "not enough memory");
	pGlobal->m_pVec3Class = pVec3Class;
	EXPECT_TRUE(pTakesValue->Call(Arguments, nullptr));
}

// The same script run with few and with many calls: what running it takes is the same both times, so a difference
// is what the calls took.
TEST_F(LuaTest, NativeCallsWithNumbersAllocateNothing)
{
	if (!AllocationCounter::IsAvailable())
		GTEST_SKIP() << "allocations are not counted under the address sanitizer";
	ASSERT_TRUE(Run(Main(), "function calls(n) local f, c = toColour for i = 1, n do c = f(i, 2, 3) end return c end"));
	auto Count = [this](int iCalls) {
		Run(Main(), "calls(" + std::to_string(iCalls) + ")");
		AllocationCounter::Start();
		bool bRan = Run(Main(), "test.record(calls(" + std::to_string(iCalls) + "))");
		uint64_t Allocations = AllocationCounter::Stop();
		EXPECT_TRUE(bRan) << LastScriptError();
		return Allocations;
	};
	const uint64_t Few = Count(10);
	const uint64_t Many = Count(1010);
	EXPECT_EQ(Few, Many);
	EXPECT_EQ(Integer(Recorded().GetAt(0)), static_cast<int32_t>(0xFFF20203u));
}

TEST_F(LuaTest, NativeWithoutResultGivesNoValue)
{
	ASSERT_TRUE(Run(Main(), "local v = test.nothing() test.record(v == nil, select('#', test.nothing()))"));
	EXPECT_TRUE(Recorded().GetAt(0)->ToBoolean());
	EXPECT_EQ(Integer(Recorded().GetAt(1)), 0);
}

TEST_F(LuaTest, ArgumentCountKeepsEveryNil)
{
	struct tCase
	{
		const char* szCall;
		int64_t iCount;
	};
	const tCase rgCases[] = {
		{"test.count()", 0},
		{"test.count(nil)", 1},
		{"test.count(1, nil)", 2},
		{"test.count(nil, nil, 3)", 3},
	};
	for (const tCase& Case : rgCases)
	{
		ASSERT_TRUE(Run(Main(), std::string("test.record(") + Case.szCall + ")"));
		EXPECT_EQ(Integer(Recorded().GetAt(0)), Case.iCount) << Case.szCall;
	}
	ASSERT_TRUE(Run(Main(), "test.record(1, nil, 3)"));
	ASSERT_EQ(Recorded().GetArrayCount(), 3u);
	EXPECT_TRUE(IsNil(Recorded().GetAt(1)));
	EXPECT_EQ(Integer(Recorded().GetAt(2)), 3);
}

// Function values

TEST_F(LuaTest, FunctionsRunInTheEnvironmentTheyCameFrom)
{
	CResource* pA = StartResource("a", "test.keep(function() return test.caller() end)");
	CResource* pB = StartResource("b", "");
	ASSERT_NE(pA, nullptr);
	ASSERT_NE(pB, nullptr);
	ASSERT_NE(KeptFunction(), nullptr);

	Give(m_pKept->Clone());
	ASSERT_TRUE(Run(pB, "test.record(test.caller(), test.give()())"));
	EXPECT_EQ(Text(Recorded().GetAt(0)), "b");
	EXPECT_EQ(Text(Recorded().GetAt(1)), "a");

	CReturnValue Result;
	EXPECT_TRUE(KeptFunction()->Call(CArgumentArray(), &Result));
	EXPECT_EQ(Text(Result.GetReturnArgument()), "a");
}

TEST_F(LuaTest, EngineCallsPassArgumentsAndTakeOneResult)
{
	ASSERT_TRUE(Run(Main(), "test.keep(function(...) return select('#', ...) .. ':' .. tostring((select(2, ...))), 'ignored' end)"));
	CArgumentArray Arguments;
	Arguments.AddNumber(static_cast<int32_t>(1));
	Arguments.AddNull();
	Arguments.AddString("three");
	CReturnValue Result;
	ASSERT_TRUE(KeptFunction()->Call(Arguments, &Result));
	EXPECT_EQ(Result.GetArrayCount(), 1u);
	EXPECT_EQ(Text(Result.GetReturnArgument()), "3:nil");

	EXPECT_TRUE(KeptFunction()->Call(Arguments, nullptr));
}

TEST_F(LuaTest, EngineCallOfAFailingFunctionLogsAndReturnsFalse)
{
	ASSERT_TRUE(Run(Main(), "test.keep(function() error('oops') end)"));
	CReturnValue Result;
	EXPECT_FALSE(KeptFunction()->Call(CArgumentArray(), &Result));
	EXPECT_EQ(LastScriptError(), "[string \"chunk\"]:1: oops");
	EXPECT_EQ(Result.GetArrayCount(), 0u);
}

TEST_F(LuaTest, EngineCallWhoseResultCannotBeConvertedFails)
{
	struct tCase
	{
		const char* szResult;
		const char* szError;
	};
	const tCase rgCases[] = {
		{"local t = {} t.t = t return t", "Cannot convert a value that contains itself"},
		{"local t = {} for i = 1, 64 do t = {t} end return t", "Cannot convert a value nested deeper than 64 levels"},
		{"return {[true] = 1}", "Cannot convert a boolean key"},
		{"local t = {} for i = 1, 2100000 do t[i] = 0 end return {t, t}",
			"Cannot convert more than 4194304 array elements at once"},
		{"return {[1] = 0, [2] = 0, [4] = 0, [8] = 0, [16] = 0, [32] = 0, [64] = 0, [128] = 0, [256] = 0, "
		 "[512] = 0, [1024] = 0, [2048] = 0, [4096] = 0, [8192] = 0, [16384] = 0, [32768] = 0, [65536] = 0, "
		 "[131072] = 0, [262144] = 0, [524288] = 0, [1048576] = 0, [2097152] = 0, [4194304] = 0, [8388608] = 0}",
			"Cannot convert an array of 8388608 elements"},
	};
	for (const tCase& Case : rgCases)
	{
		ASSERT_TRUE(Run(Main(), std::string("test.keep(function() ") + Case.szResult + " end)")) << Case.szResult;
		CReturnValue Result;
		EXPECT_FALSE(KeptFunction()->Call(CArgumentArray(), &Result)) << Case.szResult;
		EXPECT_EQ(LastScriptError(), Case.szError) << Case.szResult;
		EXPECT_EQ(Result.GetArrayCount(), 0u) << Case.szResult;
		// Without a result slot nothing is converted, so the call succeeds.
		EXPECT_TRUE(KeptFunction()->Call(CArgumentArray(), nullptr)) << Case.szResult;
	}
}

TEST_F(LuaTest, FunctionReturnedToTheEngineBelongsToItsMaker)
{
	CResource* pA = StartResource("a", "test.keep(function() return function() return test.caller() end end)");
	ASSERT_NE(pA, nullptr);
	CReturnValue Result;
	ASSERT_TRUE(KeptFunction()->Call(CArgumentArray(), &Result));
	ASSERT_NE(Result.GetReturnArgument(), nullptr);
	ASSERT_TRUE(Result.GetReturnArgument()->IsFunction());
	CReturnValue Inner;
	EXPECT_TRUE(Result.GetReturnArgument()->ToFunction()->Call(CArgumentArray(), &Inner));
	EXPECT_EQ(Text(Inner.GetReturnArgument()), "a");
}

TEST_F(LuaTest, NativesCalledInsideCoroutinesConvertFromTheCoroutine)
{
	ASSERT_TRUE(Run(Main(),
		"local co = coroutine.wrap(function(x) test.keep(function() return x + 1 end) test.record(x, coroutine.yield()) end) "
		"co(5) co('resumed')"));
	EXPECT_EQ(Integer(Recorded().GetAt(0)), 5);
	EXPECT_EQ(Text(Recorded().GetAt(1)), "resumed");
	CReturnValue Result;
	ASSERT_TRUE(KeptFunction()->Call(CArgumentArray(), &Result));
	EXPECT_EQ(Integer(Result.GetReturnArgument()), 6);
}

TEST_F(LuaTest, FunctionOfAStoppedResourceFailsCleanly)
{
	CResource* pA = StartResource("a", "test.keep(function() return 1 end)");
	CResource* pB = StartResource("b", "");
	ASSERT_NE(pA, nullptr);
	Strong<CArgument> pFunction = m_pKept;
	Give(pFunction->Clone());

	ASSERT_TRUE(pA->Stop(false));
	CReturnValue Result;
	EXPECT_FALSE(pFunction->ToFunction()->Call(CArgumentArray(), &Result));
	EXPECT_EQ(LastScriptError(), "Cannot call a function of a stopped resource");

	// Restarting makes a new environment; the old function stays dead.
	ASSERT_TRUE(pA->Start());
	EXPECT_FALSE(pFunction->ToFunction()->Call(CArgumentArray(), &Result));

	// Called from another script, the failure gives no value.
	ASSERT_TRUE(Run(pB, "test.record(select('#', test.give()()))"));
	EXPECT_EQ(Integer(Recorded().GetAt(0)), 0);
}

TEST_F(LuaTest, ValuesThatOutliveTheLanguageStayHarmless)
{
	ASSERT_TRUE(Run(Main(), "test.keep({f = function() end, co = coroutine.create(function() end), t = TestThing(3)})"));
	Strong<CArgument> pKept = m_pKept;
	m_pKept.SetNull();
	ASSERT_TRUE(pKept->GetType() == ARGUMENT_MAP);
	CArgumentMap* pMap = static_cast<CArgumentMap*>(pKept.GetPointer());
	ASSERT_NE(pMap->Get("f"), nullptr);
	ASSERT_NE(pMap->Get("co"), nullptr);
	EXPECT_EQ(pMap->Get("co")->GetType(), ARGUMENT_LUAREF);

	m_pManager.reset();
	CReturnValue Result;
	EXPECT_FALSE(pMap->Get("f")->ToFunction()->Call(CArgumentArray(), &Result));
	EXPECT_EQ(LastScriptError(), "Cannot call a function of a stopped resource");
	Strong<CArgument> pClone = Strong<CArgument>::New(pMap->Get("co")->Clone());
	EXPECT_EQ(pClone->GetType(), ARGUMENT_LUAREF);
	pClone.SetNull();
	pKept.SetNull();
	EXPECT_EQ(CThing::s_iLive, 0);
}

// Garbage collection

TEST_F(LuaTest, ErrorsOfScriptFinalisersAreLogged)
{
	ASSERT_TRUE(Run(Main(), "setmetatable({}, {__gc = function() error('finaliser failed') end})"));
	Lua()->CollectGarbage();
	EXPECT_NE(LastScriptError().find("finaliser failed"), std::string::npos);
	EXPECT_TRUE(Run(Main(), "test.record(1)"));
}

TEST_F(LuaTest, FinaliserErrorsDuringEngineCallsNeverEscape)
{
	// The collector runs at nearly every allocation, so failing finalisers fire inside the engine's own pushes and
	// conversions as well as inside scripts.
	ASSERT_TRUE(Run(Main(),
		"collectgarbage('setpause', 0) collectgarbage('setstepmul', 1000) "
		"local failing = {__gc = function() error('finaliser failed') end} "
		"test.keep(function(t) for i = 1, 3 do setmetatable({}, failing) end "
		"test.record(t, {a = {1, 2, 3}, [7] = 'seven'}) return {x = t, y = 'why'} end)"));
	CArgumentArray Arguments;
	CArgumentMap* pMap = new CArgumentMap();
	for (int i = 0; i < 20; i++)
		pMap->Set(("key" + std::to_string(i)).c_str(), new CArgumentString("value", 5));
	Arguments.AddAndOwn(pMap);
	int iSucceeded = 0;
	for (int i = 0; i < 200; i++)
	{
		CReturnValue Result;
		if (KeptFunction()->Call(Arguments, &Result))
			iSucceeded++;
	}
	Lua()->CollectGarbage();
	EXPECT_GT(iSucceeded, 0);
	EXPECT_TRUE(Logged("finaliser failed"));
}

// load

TEST_F(LuaTest, LoadTakesTextOnlyAndBindsTheCallingEnvironment)
{
	struct tCase
	{
		const char* szCode;
		const char* szExpected;
	};
	const tCase rgCases[] = {
		{"test.record(load('return 1 + 1', 'n', 'b')())", "2"},
		{"test.record(select(2, load(string.dump(function() end))))", "attempt to load a binary chunk (mode is 't')"},
		{"load('loaded = 5')() test.record(loaded .. ':' .. tostring(rawget(_G, 'loaded')))", "5:nil"},
		{"local t = {} load('x = 1', 'n', 't', t)() test.record(t.x .. ':' .. tostring(x))", "1:nil"},
		{"local p, i = {'return ', '42'}, 0 test.record(load(function() i = i + 1 return p[i] end)())", "42"},
		{"test.record(select(2, load(function() return {} end)))",
			"[string \"chunk\"]:1: reader function must return a string"},
		{"test.record(select(2, load('x =', 'name')))", "[string \"name\"]:1: unexpected symbol near <eof>"},
	};
	for (const tCase& Case : rgCases)
	{
		ASSERT_TRUE(Run(Main(), Case.szCode)) << Case.szCode << ": " << LastScriptError();
		const CArgument* pValue = Recorded().GetAt(0);
		std::string Got = pValue != nullptr && pValue->IsNumber() ? std::to_string(Integer(pValue)) : Text(pValue);
		EXPECT_EQ(Got, Case.szExpected) << Case.szCode;
	}
}

// Files

TEST_F(LuaTest, IoNeverOpensAFileByName)
{
	const char* const rgpszCalls[] = {"io.input('meta.xml')", "io.output('x.txt')", "io.input(5)", "io.output({})"};
	for (const char* szCall : rgpszCalls)
	{
		ASSERT_TRUE(Run(Main(), std::string("test.record(pcall(function() return ") + szCall + " end))"));
		EXPECT_FALSE(Recorded().GetAt(0)->ToBoolean()) << szCall;
		EXPECT_NE(Text(Recorded().GetAt(1)).find("opening files by name is not allowed"), std::string::npos) << szCall;
	}
	ASSERT_TRUE(Run(Main(), "test.record(io.type(io.input()), io.type(io.output(io.stdout)))"));
	EXPECT_EQ(Text(Recorded().GetAt(0)), "file");
	EXPECT_EQ(Text(Recorded().GetAt(1)), "file");
	EXPECT_FALSE(Logged("x.txt\r\n"));
}

TEST_F(LuaTest, TheDebugLibraryFindsNoFunctionThatOpensFilesByName)
{
	// The guards hold nothing a script could take out of them, and a call hook sees only what scripts already have.
	ASSERT_TRUE(Run(Main(),
		"local seen = {} "
		"debug.sethook(function() local info = debug.getinfo(2, 'f') seen[#seen + 1] = info and info.func end, 'c') "
		"io.input(io.stdin) io.output(io.stdout) debug.sethook() "
		"local unknown = 0 "
		"for _, f in ipairs(seen) do "
		"if f ~= io.input and f ~= io.output and f ~= debug.sethook then unknown = unknown + 1 end end "
		"test.record(debug.getupvalue(io.input, 1), debug.getupvalue(io.output, 1), #seen, unknown)"));
	ASSERT_EQ(Recorded().GetArrayCount(), 4u);
	EXPECT_TRUE(IsNil(Recorded().GetAt(0)));
	EXPECT_TRUE(IsNil(Recorded().GetAt(1)));
	EXPECT_GE(Integer(Recorded().GetAt(2)), 2);
	EXPECT_EQ(Integer(Recorded().GetAt(3)), 0);
}

// Resources driving the host's registries

TEST_F(LuaTest, ResourceScriptsHandleEventsCommandsAndTimers)
{
	CResource* pA = StartResource("a",
		"addEvent('OnTest', 1)\n"
		"addEventHandler('OnTest', function(event, value) test.record('event', value) end)\n"
		"addCommandHandler('hello', function(command, parameters) test.record(command, parameters) end)\n"
		"setTimeout(function(value) test.record('timer', value) end, 10, 'late')\n");
	CResource* pB = StartResource("b", "");
	ASSERT_NE(pA, nullptr);
	ASSERT_NE(pB, nullptr);

	ASSERT_TRUE(Run(pB, "triggerEvent('OnTest', nil, 5)"));
	ASSERT_EQ(Recorded().GetArrayCount(), 2u);
	EXPECT_EQ(Text(Recorded().GetAt(0)), "event");
	EXPECT_EQ(Integer(Recorded().GetAt(1)), 5);

	m_pManager->GetCommandHandlers()->ConsoleCommandOnly("hello big world", nullptr, true);
	EXPECT_EQ(Text(Recorded().GetAt(0)), "hello");
	EXPECT_EQ(Text(Recorded().GetAt(1)), "big world");

	m_pManager->Process(1.0);
	EXPECT_EQ(Text(Recorded().GetAt(0)), "timer");
	EXPECT_EQ(Text(Recorded().GetAt(1)), "late");
}

TEST_F(LuaTest, ResourceScriptsReadTheirFilesAndCallExports)
{
	m_Dir.WriteFile("resources/a/data.txt", "file text");
	CResource* pA = StartResource("a", "exportFunction('double', function(x) return x * 2 end)");
	CResource* pB = StartResource("b", "");
	ASSERT_NE(pA, nullptr);
	ASSERT_TRUE(Run(pA, "test.record(loadTextFile('data.txt'))"));
	EXPECT_EQ(Text(Recorded().GetAt(0)), "file text");

	ASSERT_TRUE(Run(pB, "test.record(findResourceByName('a').exports.double(21))"));
	EXPECT_EQ(Integer(Recorded().GetAt(0)), 42);

	// The export stays after the stop, but calling it runs nothing.
	ASSERT_TRUE(pA->Stop(false));
	ASSERT_TRUE(Run(pB, "local value = findResourceByName('a').exports.double(21) test.record(value)"));
	EXPECT_TRUE(IsNil(Recorded().GetAt(0)));
	EXPECT_EQ(LastScriptError(), "Cannot call a function of a stopped resource");
}
