// Which environment Lua code belongs to, and finalisers that run protected while keeping Lua's own rules.

#include "LuaTestFixture.h"

// Finalisers

TEST_F(LuaTest, FinalisersKeepLuasRules)
{
	// Each snippet records one text once a full collection has run; the finalisers record into `seen`.
	struct tCase
	{
		const char* m_szName;
		const char* m_szCode;
		const char* m_szExpected;
	};
	const tCase rgCases[] = {
		{"the metatable keeps its finaliser",
			"local mt = {__gc = function() end} local t = setmetatable({}, mt) "
			"test.record(tostring(getmetatable(t) == mt and type(mt.__gc) == 'function'))",
			"true"},
		{"a finaliser runs once, with its object",
			"local seen = {} local t = setmetatable({name = 'x'}, {__gc = function(o) seen[#seen + 1] = o.name end}) "
			"t = nil collectgarbage() collectgarbage() test.record(table.concat(seen, ','))",
			"x"},
		{"a finaliser added after setmetatable is never called",
			"local seen = 0 local mt = {} setmetatable({}, mt) mt.__gc = function() seen = seen + 1 end "
			"collectgarbage() test.record(tostring(seen))",
			"0"},
		{"a placeholder replaced after setmetatable is",
			"local seen = 0 local mt = {__gc = true} setmetatable({}, mt) mt.__gc = function() seen = seen + 1 end "
			"collectgarbage() test.record(tostring(seen))",
			"1"},
		{"the finaliser the metatable holds when it runs is the one called",
			"local seen = '' local mt = {__gc = function() seen = 'first' end} setmetatable({}, mt) "
			"mt.__gc = function() seen = 'second' end collectgarbage() test.record(seen)",
			"second"},
		{"a resurrected object is finalised again only once marked again",
			"local seen, kept = 0 local mt "
			"mt = {__gc = function(o) seen = seen + 1 if seen == 1 then kept = o end end} "
			"setmetatable({}, mt) collectgarbage() kept = nil collectgarbage() collectgarbage() "
			"local once = seen setmetatable({}, mt) collectgarbage() test.record(once .. ' ' .. seen)",
			"1 2"},
		{"setting the metatable twice finalises once",
			"local seen = 0 local mt = {__gc = function() seen = seen + 1 end} local t = setmetatable({}, mt) "
			"setmetatable(t, mt) t = nil collectgarbage() collectgarbage() test.record(tostring(seen))",
			"1"},
		{"debug.setmetatable finalises tables too, and sets metatables of any type",
			"local seen = 0 debug.setmetatable({}, {__gc = function() seen = seen + 1 end}) collectgarbage() "
			"debug.setmetatable(5, nil) test.record(tostring(seen))",
			"1"},
		{"a protected metatable stays protected",
			"local t = setmetatable({}, {__metatable = 'locked'}) "
			"test.record(select(2, pcall(setmetatable, t, {__gc = function() end})))",
			"cannot change a protected metatable"},
		{"a metatable must be a table",
			"local message = select(2, pcall(setmetatable, {}, 5)) "
			"test.record(tostring(message:find('nil or table expected', 1, true) ~= nil))",
			"true"},
	};
	for (const tCase& Case : rgCases)
	{
		ASSERT_TRUE(Run(Main(), Case.m_szCode)) << Case.m_szName << "\n" << LastScriptError();
		EXPECT_EQ(Text(Recorded().GetAt(0)), Case.m_szExpected) << Case.m_szName;
	}
}

TEST_F(LuaTest, FinaliserErrorsNeverInterruptTheCodeThatRanTheCollector)
{
	// The collector runs finalisers from whatever code allocates; an error of one is logged and the others still run.
	ASSERT_TRUE(Run(Main(),
		"local ran = 0 "
		"for i = 1, 5 do "
		"setmetatable({}, {__gc = function() ran = ran + 1 error('finaliser ' .. i .. ' failed') end}) end "
		"collectgarbage() "
		"local s = {} for i = 1, 100000 do s[#s + 1] = 'x' .. i if #s > 100 then s = {} end end "
		"test.record(ran)"));
	EXPECT_EQ(Integer(Recorded().GetAt(0)), 5);
	for (int i = 1; i <= 5; i++)
		EXPECT_TRUE(Logged("finaliser " + std::to_string(i) + " failed")) << i;
	EXPECT_FALSE(Logged("error in __gc metamethod"));
}

TEST_F(LuaTest, FinalisersOfManyObjectsRunOnceEachWhileTheGuardsAreTidied)
{
	// Thousands of finalisable objects are dropped while a few stay: the guards of those few still finalise them once,
	// and setting their metatable again adds no second finaliser.
	ASSERT_TRUE(Run(Main(),
		"local seen, keep = 0, {} local mt = {__gc = function() seen = seen + 1 end} "
		"for i = 1, 5000 do local t = setmetatable({}, mt) if i % 1000 == 0 then keep[#keep + 1] = t end end "
		"collectgarbage() collectgarbage() local dropped = seen "
		"for _, t in ipairs(keep) do setmetatable(t, mt) end "
		"keep = nil collectgarbage() collectgarbage() test.record(dropped, seen)"));
	ASSERT_EQ(Recorded().GetArrayCount(), 2u);
	EXPECT_EQ(Integer(Recorded().GetAt(0)), 4995);
	EXPECT_EQ(Integer(Recorded().GetAt(1)), 5000);
}

TEST_F(LuaTest, DebugSetMetatableLeavesEngineObjectsAlone)
{
	// An engine object's metatable is the engine's: a finaliser put there would run unprotected, besides the engine's
	// own or instead of it. Each case records whether the call was refused with the text, then whether the object
	// still works.
	struct tCase
	{
		const char* m_szName;
		const char* m_szValue;
		const char* m_szMetatable;
		const char* m_szStillWorks;
	};
	const tCase rgCases[] = {
		{"a vector value with a finaliser", "Vec3(1, 2, 3)", "{__gc = function() print('UD-FIN') end}", "v.x == 1"},
		{"a vector value with no metatable", "Vec3(1, 2, 3)", "nil", "v.x == 1"},
		{"an engine object", "TestThing(4)", "{}", "v.id == 4"},
		{"a file handle", "io.stdout", "{__gc = function() print('UD-FIN') end}", "io.type(v) == 'file'"},
	};
	for (const tCase& Case : rgCases)
	{
		ASSERT_TRUE(Run(Main(),
			std::string("local v = ") + Case.m_szValue +
				" local ok, message = pcall(function() debug.setmetatable(v, " + Case.m_szMetatable +
				") end) collectgarbage() collectgarbage() test.record(tostring(not ok and "
				"message:find(\"bad argument #1 to 'setmetatable' (cannot change the metatable of an engine object)\", "
				"1, true) ~= nil), tostring(" + Case.m_szStillWorks + "))"))
			<< Case.m_szName << "\n" << LastScriptError();
		ASSERT_EQ(Recorded().GetArrayCount(), 2u) << Case.m_szName;
		EXPECT_EQ(Text(Recorded().GetAt(0)), "true") << Case.m_szName;
		EXPECT_EQ(Text(Recorded().GetAt(1)), "true") << Case.m_szName;
	}
	EXPECT_FALSE(Logged("UD-FIN"));
}

TEST_F(LuaTest, DebugSetMetatableStillSetsPlainValues)
{
	// Tables, and the shared metatables of other types, take metatables as before; a table's finaliser runs once,
	// protected.
	ASSERT_TRUE(Run(Main(),
		"local mt = {} local t = {} local same = debug.setmetatable(t, mt) == t and getmetatable(t) == mt "
		"local strings = getmetatable('') debug.setmetatable('', strings) "
		"local ran = 0 debug.setmetatable({}, {__gc = function() ran = ran + 1 error('table finaliser failed') end}) "
		"collectgarbage() collectgarbage() "
		"test.record(tostring(same), tostring(getmetatable('') == strings and ('x'):rep(2) == 'xx'), ran)"));
	ASSERT_EQ(Recorded().GetArrayCount(), 3u);
	EXPECT_EQ(Text(Recorded().GetAt(0)), "true");
	EXPECT_EQ(Text(Recorded().GetAt(1)), "true");
	EXPECT_EQ(Integer(Recorded().GetAt(2)), 1);
	EXPECT_TRUE(Logged("table finaliser failed"));
	EXPECT_FALSE(Logged("error in __gc metamethod"));
}

// Code and its environment

TEST_F(LuaTest, FunctionsAreCodeOfTheEnvironmentThatMadeThem)
{
	// "a" makes functions, "b" hands them to the engine: they are "a"'s code all the same, whether they read globals
	// or not; a C function of Lua's own counts as the code of whoever hands it over.
	CResource* pA = StartResource("a",
		"local up = 0 "
		"made = {reads = function() return test.caller() end, pure = function() up = up + 1 return up end}");
	CResource* pB = StartResource("b", "");
	ASSERT_NE(pA, nullptr);
	ASSERT_NE(pB, nullptr);
	const uintptr_t A = Environment(pA)->GetHandle();
	const uintptr_t B = Environment(pB)->GetHandle();

	struct tCase
	{
		const char* m_szName;
		const char* m_szTake;
		uintptr_t m_Expected;
	};
	const tCase rgCases[] = {
		{"a function that reads globals", "test.keep(made.reads)", A},
		{"a function that reads none", "test.keep(made.pure)", A},
		{"a C function", "test.keep(print)", B},
	};
	for (const tCase& Case : rgCases)
	{
		// "b" reaches "a"'s table the way another resource's code would: through a value it was handed.
		ASSERT_TRUE(Run(pA, "test.keep(made)"));
		Give(m_pKept->Clone());
		ASSERT_TRUE(Run(pB, std::string("local made = test.give() ") + Case.m_szTake)) << Case.m_szName;
		ASSERT_NE(KeptFunction(), nullptr) << Case.m_szName;
		EXPECT_EQ(KeptFunction()->GetEnvironmentHandle(), Case.m_Expected) << Case.m_szName;
	}

	// An engine function value that went through Lua comes back as itself, still "a"'s code.
	ASSERT_TRUE(Run(pA, "test.keep(made.pure)"));
	Strong<CArgument> pPure = m_pKept;
	Give(pPure->Clone());
	ASSERT_TRUE(Run(pB, "test.keep(test.give())"));
	EXPECT_EQ(KeptFunction(), pPure->ToFunction());

	// Once "a" stops, none of it can be registered, by anyone.
	ASSERT_TRUE(pA->Stop(false));
	Give(pPure->Clone());
	EXPECT_FALSE(Run(pB, "addCommandHandler('late', test.give())"));
	EXPECT_NE(LastScriptError().find("Cannot use a function of a stopped resource"), std::string::npos)
		<< LastScriptError();
}

TEST_F(LuaTest, TheCodeThatCallsANativeIsFoundPastLuasOwnFunctionsAndCoroutines)
{
	// "b" hands its own native to a function of "a" (held as Lua values, through a coroutine): the native acts for
	// "b", but the code that calls it is "a"'s, however many of Lua's own functions and coroutines lie between; once
	// "a" stops, that code may do nothing.
	CResource* pA = StartResource("a",
		"local pcall, wrap, create, resume = pcall, coroutine.wrap, coroutine.create, coroutine.resume "
		"test.keep(coroutine.create(function() coroutine.yield({"
		"direct = function(g) return g() end, "
		"pcall = function(g) return pcall(g) end, "
		"wrap = function(g) return pcall(wrap(g)) end, "
		"resume = function(g) return resume(create(g)) end, "
		"nested = function(g) return resume(create(function() return pcall(wrap(g)) end)) end}) end))");
	CResource* pB = StartResource("b", "");
	ASSERT_NE(pA, nullptr);
	ASSERT_NE(pB, nullptr);
	Give(m_pKept->Clone());
	ASSERT_TRUE(Run(pB, "held = select(2, coroutine.resume(test.give()))"));
	ASSERT_TRUE(pA->Stop(false));
	for (const char* szWay : {"direct", "pcall", "wrap", "resume", "nested"})
	{
		m_iMayAct = -1;
		ASSERT_TRUE(Run(pB, std::string("pcall(held.") + szWay + ", test.mayAct)")) << szWay;
		EXPECT_EQ(m_iMayAct, 0) << szWay;
	}

	// "b"'s own code may act the same ways.
	for (const char* szCall : {"test.mayAct()", "pcall(test.mayAct)", "coroutine.wrap(test.mayAct)()",
			 "coroutine.resume(coroutine.create(test.mayAct))"})
	{
		m_iMayAct = -1;
		ASSERT_TRUE(Run(pB, szCall)) << szCall;
		EXPECT_EQ(m_iMayAct, 1) << szCall;
	}
}

TEST_F(LuaTest, ANativeTheEngineCallsIsNoCallOfTheCodeBelowIt)
{
	// "a" restarts itself from its own code: the old instance's code stays on the stack while the engine runs the
	// start's handlers, but a native the engine calls as a handler begins a chain of callers of its own.
	CResource* pA = StartResource("a", "");
	CResource* pB = StartResource("b", "addEventHandler('OnResourceStart', test.mayAct)");
	ASSERT_NE(pA, nullptr);
	ASSERT_NE(pB, nullptr);
	m_iMayAct = -1;
	ASSERT_TRUE(Run(pA, "thisResource:restart()"));
	EXPECT_EQ(m_iMayAct, 1);
}

TEST_F(LuaTest, WrappedCoroutinesKeepLuasRules)
{
	// coroutine.wrap notes the resumer; everything else is as Lua's own: results, yields, errors with the position
	// of the call in front, the error of a dead coroutine.
	ASSERT_TRUE(Run(Main(),
		"local f = coroutine.wrap(function(a, b) local c = coroutine.yield(a + b) error('boom ' .. c) end) "
		"local first = f(1, 2) "
		"local ok, message = pcall(function() return f(5) end) "
		"local okDead, dead = pcall(f) "
		"local okType, typeMessage = pcall(coroutine.wrap, 1) "
		"local okTable, thrown = pcall(coroutine.wrap(function() error({}) end)) "
		"test.record(first, ok, message, okDead, dead, okType, typeMessage, type(thrown), "
		"select('#', coroutine.wrap(function() return 1, nil, 3 end)()))"));
	ASSERT_EQ(Recorded().GetArrayCount(), 9u);
	EXPECT_EQ(Integer(Recorded().GetAt(0)), 3);
	EXPECT_FALSE(Recorded().GetAt(1)->ToBoolean());
	EXPECT_EQ(Text(Recorded().GetAt(2)), "[string \"chunk\"]:1: [string \"chunk\"]:1: boom 5");
	EXPECT_FALSE(Recorded().GetAt(3)->ToBoolean());
	EXPECT_NE(Text(Recorded().GetAt(4)).find("cannot resume dead coroutine"), std::string::npos)
		<< Text(Recorded().GetAt(4));
	EXPECT_FALSE(Recorded().GetAt(5)->ToBoolean());
	EXPECT_NE(Text(Recorded().GetAt(6)).find("bad argument #1 to 'coroutine.wrap' (function expected"), std::string::npos)
		<< Text(Recorded().GetAt(6));
	EXPECT_EQ(Text(Recorded().GetAt(7)), "table");
	EXPECT_EQ(Integer(Recorded().GetAt(8)), 3);
}

TEST_F(LuaTest, UpvaluesOfCFunctionsCannotBeReplaced)
{
	// Each replacement would have the function read something else as its own record; Lua functions keep theirs.
	ASSERT_TRUE(Run(Main(),
		"local thing = TestThing(1) "
		"local targets = {test.caller, getmetatable(thing).__index, getmetatable(test).__index, load, "
		"coroutine.wrap(function() end), string.gmatch('a', 'a')} "
		"local refused = 0 "
		"for _, f in ipairs(targets) do for _, value in ipairs({false, {}, io.stdout, thing}) do "
		"local ok, message = pcall(debug.setupvalue, f, 1, value) "
		"if not ok and message:find('Lua function expected', 1, true) then refused = refused + 1 end end end "
		"local up = 1 local function f() return up end "
		"test.record(refused, #targets * 4, debug.setupvalue(f, 1, 2), f(), test.caller())"));
	ASSERT_EQ(Recorded().GetArrayCount(), 5u);
	EXPECT_EQ(Integer(Recorded().GetAt(0)), Integer(Recorded().GetAt(1)));
	EXPECT_EQ(Text(Recorded().GetAt(2)), "up");
	EXPECT_EQ(Integer(Recorded().GetAt(3)), 2);
	EXPECT_EQ(Text(Recorded().GetAt(4)), "main");
}
