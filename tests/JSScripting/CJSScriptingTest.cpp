#include "JSFixture.h"

namespace
{
class CJSScriptingTest : public JSFixture
{
};

CFunction* RecordedFunction(const CArgumentArray& Recorded, size_t Index)
{
	CArgument* pValue = Recorded.GetAt(Index);
	return pValue != nullptr && pValue->IsFunction() ? pValue->ToFunction() : nullptr;
}

// Console

TEST_F(CJSScriptingTest, ConsoleLogsOnlyItsFirstArgumentAtItsLevel)
{
	ASSERT_TRUE(Run("console.log('a', 'b'); console.info('i'); console.warn('w'); console.error('e'); console.log();"));
	EXPECT_EQ((std::vector<std::string>{ "[INFO]    a", "[INFO]    i", "[WARN]    w", "[ERROR]   e",
				  "[INFO]    undefined" }),
		LogLines());
}

TEST_F(CJSScriptingTest, ConsoleAssertLogsItsMessageOnlyForAFalsyCondition)
{
	ASSERT_TRUE(Run("console.assert(false, 'broken'); console.assert(true, 'fine'); console.assert(0);"));
	EXPECT_EQ((std::vector<std::string>{ "[ERROR]   broken", "[ERROR]   undefined" }), LogLines());
}

TEST_F(CJSScriptingTest, ConsoleConvertsTheMessageEvenWhenTheAssertionHolds)
{
	ASSERT_TRUE(Run("let n = 0; console.assert(true, { toString() { n++; return 'x'; } }); record(n);"));
	EXPECT_EQ(1, static_cast<CArgumentInteger*>(RecordedAt(0))->GetValue());
	EXPECT_TRUE(LogLines().empty());
}

TEST_F(CJSScriptingTest, ConsoleFailsWithTheExceptionOfAThrowingConversion)
{
	ASSERT_TRUE(Run("try { console.log({ toString() { throw new Error('no text'); } }); }"
					"catch (e) { record(e.message); }"));
	EXPECT_STREQ("no text", RecordedAt(0)->ToString());
}

// Errors

TEST_F(CJSScriptingTest, ScriptsAreStrict)
{
	EXPECT_FALSE(Run("\n  undeclared = 1;"));
	EXPECT_TRUE(Logged("[ERROR]   ReferenceError: assignment to undeclared variable undeclared"));
	EXPECT_TRUE(Logged("[ERROR]   File: test.js Line: 2 Column: 3"));
}

TEST_F(CJSScriptingTest, UncaughtErrorIsLoggedWithItsPlaceAndTheEnvironmentStaysUsable)
{
	EXPECT_FALSE(Run("throw new Error('x');"));
	EXPECT_EQ((std::vector<std::string>{ "[ERROR]   Error: x", "[ERROR]   File: test.js Line: 1 Column: 7" }),
		LogLines());
	EXPECT_TRUE(Run("record(1);"));
	EXPECT_EQ(1u, Recorded().GetArrayCount());
}

TEST_F(CJSScriptingTest, SyntaxErrorFailsTheFile)
{
	EXPECT_FALSE(Run("record(1);\nvar a = ;"));
	EXPECT_EQ(0u, Recorded().GetArrayCount());
	ASSERT_EQ(2u, LogLines().size());
	EXPECT_EQ(0u, LogLines()[0].find("[ERROR]   SyntaxError: "));
	EXPECT_EQ(0u, LogLines()[1].find("[ERROR]   File: test.js Line: 2 Column: "));
}

TEST_F(CJSScriptingTest, ThrownValueThatIsNoErrorIsLoggedAsText)
{
	EXPECT_FALSE(Run("throw 'plain';"));
	EXPECT_TRUE(Logged("[ERROR]   uncaught exception: plain"));
}

TEST_F(CJSScriptingTest, NativeFailureIsACatchableErrorWithTheNativesText)
{
	ASSERT_TRUE(Run("try { fail(); } catch (e) { record(e instanceof Error, e.message); }"));
	EXPECT_TRUE(RecordedAt(0)->ToBoolean());
	EXPECT_STREQ("native failed 7", RecordedAt(1)->ToString());
}

TEST_F(CJSScriptingTest, TextWithAZeroByteEndsThere)
{
	EXPECT_TRUE(Run(std::string("record(1);\0record(2);", 21)));
	EXPECT_EQ(1, static_cast<CArgumentInteger*>(RecordedAt(0))->GetValue());
}

TEST_F(CJSScriptingTest, RunawayRecursionIsAnErrorAndTheEnvironmentGoesOn)
{
	const char* const Scripts[] = {
		"function f(n) { return f(n + 1) + 1; } f(0);",
		// Every level passes through a native and a call from the engine.
		"function g() { return callWith(g); } g();",
	};
	for (const char* szScript : Scripts)
	{
		ClearLog();
		EXPECT_FALSE(Run(szScript)) << szScript;
		ASSERT_FALSE(LogLines().empty()) << szScript;
		EXPECT_EQ("[ERROR]   InternalError: too much recursion", LogLines()[0]) << szScript;
	}
	EXPECT_TRUE(Run("record(1);"));
	EXPECT_EQ(1u, Recorded().GetArrayCount());
}

TEST_F(CJSScriptingTest, UnreadableTextFailsTheFile)
{
	// UTF-16 big-endian is refused by the text reader.
	EXPECT_FALSE(Run(std::string("\xFE\xFF\0r", 4)));
	EXPECT_TRUE(Logged("[ERROR]   Unable to read script test.js"));
}

// Promises

TEST_F(CJSScriptingTest, ReactionToASettledPromiseRunsBeforeTheNextStatement)
{
	ASSERT_TRUE(Run("const order = []; Promise.resolve(1).then(v => order.push('A' + v)); order.push('B');"
					"record(order.join());"));
	EXPECT_STREQ("A1,B", RecordedAt(0)->ToString());
}

TEST_F(CJSScriptingTest, RejectionIsReportedWhenUnhandledAndAgainWhenHandledLater)
{
	ASSERT_TRUE(Run("const p = Promise.reject(new Error('x'));"));
	EXPECT_EQ((std::vector<std::string>{ "[ERROR]   Error: x", "[ERROR]   File: test.js Line: 1 Column: 26" }),
		LogLines());
	ClearLog();
	ASSERT_TRUE(Run("p.catch(() => record('handled'));"));
	EXPECT_TRUE(Logged("[ERROR]   Error: x"));
	EXPECT_STREQ("handled", RecordedAt(0)->ToString());
}

TEST_F(CJSScriptingTest, AwaitResumesOnceTheCallingScriptHasReturned)
{
	ASSERT_TRUE(Run("var order = []; (async () => { await null; order.push('resumed'); await 1; order.push('again'); })();"
					"order.push('next'); record(order.join());"));
	EXPECT_STREQ("next", RecordedAt(0)->ToString());
	ASSERT_TRUE(Run("record(order.join());"));
	EXPECT_STREQ("next,resumed,again", RecordedAt(0)->ToString());
}

TEST_F(CJSScriptingTest, AsyncFailureAfterAwaitIsReported)
{
	ASSERT_TRUE(Run("(async () => { await 1; throw new Error('late'); })();"));
	EXPECT_TRUE(Logged("[ERROR]   Error: late"));
}

// Globals

TEST_F(CJSScriptingTest, GlobalNamesTheGlobalObject)
{
	ASSERT_TRUE(Run("record(global === globalThis, typeof Reflect.parse, typeof collectGarbage, typeof JSON);"));
	EXPECT_TRUE(RecordedAt(0)->ToBoolean());
	EXPECT_STREQ("function", RecordedAt(1)->ToString());
	EXPECT_STREQ("function", RecordedAt(2)->ToString());
	EXPECT_STREQ("object", RecordedAt(3)->ToString());
}

TEST_F(CJSScriptingTest, ConstantsAreReadOnlyAndNotEnumerable)
{
	ASSERT_TRUE(Run("record(TEST_SIGNED, TEST_UNSIGNED, Object.keys(global).includes('TEST_SIGNED'));"));
	EXPECT_EQ(ARGUMENT_INTEGER, RecordedAt(0)->GetType());
	EXPECT_EQ(-5, static_cast<CArgumentInteger*>(RecordedAt(0))->GetValue());
	EXPECT_EQ(ARGUMENT_DOUBLE, RecordedAt(1)->GetType());
	EXPECT_EQ(4294967295.0, static_cast<CArgumentDouble*>(RecordedAt(1))->GetValue());
	EXPECT_FALSE(RecordedAt(2)->ToBoolean());
	EXPECT_FALSE(Run("TEST_SIGNED = 1;"));
	EXPECT_EQ(0u, LogLines()[0].find("[ERROR]   TypeError: "));
}

TEST_F(CJSScriptingTest, ResourcesHaveSeparateGlobals)
{
	CScriptEnvironment* pOther = NewEnvironment();
	ASSERT_NE(nullptr, pOther);
	ASSERT_TRUE(Run("var mine = 1;"));
	ASSERT_TRUE(Run("record(typeof mine);", pOther));
	EXPECT_STREQ("undefined", RecordedAt(0)->ToString());
	pOther->Destroy();
}

// Memory

TEST_F(CJSScriptingTest, FullHeapFailsOnlyTheNewEnvironment)
{
	JSContext* cx = static_cast<CJSScripting*>(m_pLanguage)->GetContext();
	EXPECT_EQ(0x2000000u, JS_GetGCParameter(cx, JSGC_MAX_BYTES));
	EXPECT_EQ(0x1000000u, JS_GetGCParameter(cx, JSGC_MAX_NURSERY_BYTES));

	// Short strings fill the heap quickly.
	ASSERT_TRUE(Run("var keep = []; try { for (let i = 0;; i++) keep.push('abcdefghijklmnopq' + i); }"
					"catch (e) { record(String(e)); }"));
	EXPECT_EQ("out of memory", TextOf(RecordedAt(0)));
	EXPECT_EQ(nullptr, NewEnvironment());
	EXPECT_TRUE(Logged("[ERROR]   uncaught exception: out of memory"));

	ASSERT_TRUE(Run("keep = null;"));
	CollectGarbage();
	CScriptEnvironment* pOther = NewEnvironment();
	ASSERT_NE(nullptr, pOther);
	pOther->Destroy();
}

TEST_F(CJSScriptingTest, CollectGarbageFromScriptRuns)
{
	EXPECT_TRUE(Run("record(collectGarbage());"));
	EXPECT_EQ(ARGUMENT_UNDEFINED, RecordedAt(0)->GetType());
}

// Function values

TEST_F(CJSScriptingTest, ScriptFunctionCalledFromTheEngineGetsArgumentsAndGivesItsResult)
{
	ASSERT_TRUE(Run("record((a, b) => a + b);"));
	Strong<CFunction> pFunction(RecordedFunction(Recorded(), 0));
	ASSERT_FALSE(pFunction.IsNull());
	CArgumentArray Arguments;
	Arguments.AddNumber(2);
	Arguments.AddNumber(40);
	CReturnValue Result;
	ASSERT_TRUE(pFunction->Call(Arguments, &Result));
	ASSERT_NE(nullptr, Result.GetReturnArgument());
	EXPECT_EQ(42, static_cast<CArgumentInteger*>(Result.GetReturnArgument())->GetValue());
}

TEST_F(CJSScriptingTest, ScriptFunctionGivesUndefinedAndSeesNoThis)
{
	ASSERT_TRUE(Run("record(function () { record(this === undefined); });"));
	Strong<CFunction> pFunction(RecordedFunction(Recorded(), 0));
	ASSERT_FALSE(pFunction.IsNull());
	CReturnValue Result;
	ASSERT_TRUE(pFunction->Call(CArgumentArray(), &Result));
	EXPECT_TRUE(RecordedAt(0)->ToBoolean());
	ASSERT_NE(nullptr, Result.GetReturnArgument());
	EXPECT_EQ(ARGUMENT_UNDEFINED, Result.GetReturnArgument()->GetType());
}

TEST_F(CJSScriptingTest, ThrowingScriptFunctionIsLoggedAndFails)
{
	ASSERT_TRUE(Run("record(() => { throw new Error('in handler'); });"));
	Strong<CFunction> pFunction(RecordedFunction(Recorded(), 0));
	ASSERT_FALSE(pFunction.IsNull());
	EXPECT_FALSE(pFunction->Call(CArgumentArray(), nullptr));
	EXPECT_TRUE(Logged("[ERROR]   Error: in handler"));
}

TEST_F(CJSScriptingTest, FunctionOfADestroyedEnvironmentNoLongerRuns)
{
	CScriptEnvironment* pOther = NewEnvironment();
	ASSERT_NE(nullptr, pOther);
	ASSERT_TRUE(Run("record(() => record('ran'));", pOther));
	Strong<CFunction> pFunction(RecordedFunction(Recorded(), 0));
	ASSERT_FALSE(pFunction.IsNull());
	pOther->Destroy();
	CollectGarbage();

	m_Recorded.Clear();
	EXPECT_FALSE(pFunction->Call(CArgumentArray(), nullptr));
	EXPECT_EQ(0u, Recorded().GetArrayCount());
	EXPECT_EQ((std::vector<std::string>{ "[ERROR]   Cannot call a function of a stopped resource" }), LogLines());
}

TEST_F(CJSScriptingTest, FunctionOutlivingTheLanguageFailsSafely)
{
	ASSERT_TRUE(Run("record(() => 1);"));
	Strong<CFunction> pFunction(RecordedFunction(Recorded(), 0));
	m_Recorded.Clear();
	DestroyLanguage();

	EXPECT_FALSE(pFunction->Call(CArgumentArray(), nullptr));
	EXPECT_TRUE(Logged("[ERROR]   Cannot call a function of a stopped resource"));
	pFunction.SetNull();
}

TEST_F(CJSScriptingTest, NestedCallsRunAsTheirOwnEnvironment)
{
	CScriptEnvironment* pOther = NewEnvironment();
	ASSERT_NE(nullptr, pOther);
	ASSERT_TRUE(Run("var where = 'other'; record(() => where);", pOther));
	Strong<CFunction> pFunction(RecordedFunction(Recorded(), 0));
	ASSERT_FALSE(pFunction.IsNull());
	SetGive(new CArgumentFunction(pFunction));
	ASSERT_TRUE(Run("var where = 'main'; record(callWith(give()), where);"));
	EXPECT_STREQ("other", RecordedAt(0)->ToString());
	EXPECT_STREQ("main", RecordedAt(1)->ToString());
	pOther->Destroy();
}

TEST_F(CJSScriptingTest, EnvironmentIsFreedOnceItsRealmAndFunctionsAreGone)
{
	CScriptEnvironment* pOther = NewEnvironment();
	ASSERT_NE(nullptr, pOther);
	CJSScriptEnvironment* pJSOther = static_cast<CJSScriptEnvironment*>(pOther);
	ASSERT_TRUE(Run("record(() => 1);", pOther));
	Strong<CJSScriptEnvironment> pWatch(pJSOther);
	pOther->Destroy();
	// The function value keeps the environment object, but not its global: the realm goes with the collection.
	CollectGarbage();
	EXPECT_EQ(2, pWatch->GetRefCount());
	m_Recorded.Clear();
	EXPECT_EQ(1, pWatch->GetRefCount());
}

// The engine of this process must go on running, so the engine that cannot start is one shut down in a child
// process of its own (started afresh: "threadsafe").
TEST(CJSScriptingEngineTest, EngineThatCannotStartIsLoggedAndNoLanguageIsMade)
{
	GTEST_FLAG_SET(death_test_style, "threadsafe");
	EXPECT_EXIT(
		{
			g_bAsserts = false;
			CJSScripting::ShutDownEngine();
			Context ChildContext;
			CCapturedLog Log(&ChildContext);
			Log.Skip();
			CScripting Scripting;
			const bool bRegistered = RegisterJSVM(&Scripting);
			const bool bLogged = Log.HasLine("[ERROR]   JavaScript engine already shut down");
			exit(!bRegistered && bLogged && Scripting.GetVM("SpiderMonkey") == nullptr ? 0 : 1);
		},
		::testing::ExitedWithCode(0), "");
}
}
