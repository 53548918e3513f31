// The language object and its environments: what a resource's root table holds, constants, running script files,
// errors, and calls of Squirrel functions from the engine.

#include "SqFixture.h"

namespace
{
using SqScriptingTest = SqFixture;

// A native that ends the environment whose script calls it.
bool DestroyCaller(CNativeState*, int, void* pUserData)
{
	CScriptEnvironment** ppEnvironment = static_cast<CScriptEnvironment**>(pUserData);
	(*ppEnvironment)->Destroy();
	*ppEnvironment = nullptr;
	return true;
}
}

TEST_F(SqScriptingTest, RegistersUnderTheSquirrelLanguageId)
{
	EXPECT_EQ(m_Scripting.GetVM("Squirrel"), m_pLanguage);
	EXPECT_TRUE(RegisterSqVM(&m_Scripting));
	EXPECT_EQ(m_Scripting.GetVMCount(), 2u);
}

TEST_F(SqScriptingTest, RootTableHoldsOnlyThePermittedLibraryNames)
{
	struct tCase
	{
		const char* m_szName;
		bool m_bPresent;
	};
	const tCase rgCases[] = {
		{"print", true}, {"compilestring", true}, {"blob", true}, {"regexp", true}, {"format", true},
		{"stdout", true}, {"PI", true}, {"clock", true}, {"date", true}, {"endswith", true},
		{"getenv", false}, {"dofile", false}, {"loadfile", false}, {"writeclosuretofile", false},
		{"system", false}, {"remove", false}, {"rename", false}, {"file", false},
		{"sqstd_blob", false},
	};
	for (const tCase& Case : rgCases)
	{
		ASSERT_TRUE(Run(std::string("record(\"") + Case.m_szName + "\" in getroottable());")) << Case.m_szName;
		EXPECT_EQ(IsTrue(RecordedAt(0)), Case.m_bPresent) << Case.m_szName;
	}
}

TEST_F(SqScriptingTest, ScriptsCannotReadTheEnvironmentOrLoadFilesByName)
{
	EXPECT_FALSE(Run("getenv(\"HOME\");"));
	EXPECT_FALSE(Run("dofile(\"test.nut\");"));
	ASSERT_TRUE(Run("try { stdout.getclass()(\"written.txt\", \"w\"); record(\"opened\"); }"
					"catch (e) { record(e); }"));
	EXPECT_EQ(TextOf(RecordedAt(0)), "opening files by name is not allowed");
}

TEST_F(SqScriptingTest, DefinesAreConstantsOfEveryEnvironment)
{
	ASSERT_TRUE(Run("record(TEST_SIGNED, TEST_UNSIGNED, getconsttable().TEST_SIGNED);"));
	ASSERT_EQ(Recorded().GetArrayCount(), 3u);
	EXPECT_EQ(RecordedAt(0)->GetType(), ARGUMENT_INTEGER);
	EXPECT_EQ(IntegerOf(RecordedAt(0)), -5);
	EXPECT_EQ(RecordedAt(1)->GetType(), ARGUMENT_LONGINTEGER);
	EXPECT_EQ(IntegerOf(RecordedAt(1)), 4294967295LL);
	EXPECT_EQ(IntegerOf(RecordedAt(2)), -5);
}

TEST_F(SqScriptingTest, ConstantsOfAScriptStayInItsResource)
{
	ASSERT_TRUE(Run("const LIMIT = 5; enum Colour { Red = 7 };"));
	ASSERT_TRUE(Run("record(LIMIT, Colour.Red);"));
	EXPECT_EQ(IntegerOf(RecordedAt(0)), 5);
	EXPECT_EQ(IntegerOf(RecordedAt(1)), 7);

	CScriptEnvironment* pOther = NewEnvironment();
	ASSERT_NE(pOther, nullptr);
	EXPECT_FALSE(Run("record(LIMIT);", pOther));
	ASSERT_TRUE(Run("record(\"LIMIT\" in getconsttable(), \"TEST_SIGNED\" in getconsttable());", pOther));
	EXPECT_FALSE(IsTrue(RecordedAt(0)));
	EXPECT_TRUE(IsTrue(RecordedAt(1)));
	pOther->Destroy();
}

TEST_F(SqScriptingTest, GlobalsOfAResourceAreNotSeenByAnother)
{
	ASSERT_TRUE(Run("shared <- 1;"));
	CScriptEnvironment* pOther = NewEnvironment();
	ASSERT_NE(pOther, nullptr);
	ASSERT_TRUE(Run("record(\"shared\" in getroottable());", pOther));
	EXPECT_FALSE(IsTrue(RecordedAt(0)));
	ASSERT_TRUE(Run("record(\"shared\" in getroottable());"));
	EXPECT_TRUE(IsTrue(RecordedAt(0)));
	pOther->Destroy();
}

TEST_F(SqScriptingTest, TextIsCompiledAsUtf8Bytes)
{
	const std::string Greeting = "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC \xF0\x9F\x98\x80";
	const std::string Script = "// comment: " + Greeting + "\n/* " + Greeting + " */\nrecord(\"" + Greeting + "\");";
	// record("\u00FC"); as UTF-16 little-endian with its byte-order mark.
	std::string Utf16 = "\xFF\xFE";
	for (char c : std::string("record(\"\xFC\");"))
	{
		Utf16 += c;
		Utf16 += '\0';
	}
	struct tCase
	{
		const char* m_szWhat;
		std::string m_Text;
		std::string m_Expected;
	};
	const tCase rgCases[] = {
		{"UTF-8", Script, Greeting},
		{"UTF-8 with byte-order mark", "\xEF\xBB\xBF" + Script, Greeting},
		{"UTF-16", Utf16, "\xC3\xBC"},
	};
	for (const tCase& Case : rgCases)
	{
		ASSERT_TRUE(RunBytes(Case.m_Text.data(), Case.m_Text.size())) << Case.m_szWhat;
		EXPECT_EQ(TextOf(RecordedAt(0)), Case.m_Expected) << Case.m_szWhat;
	}
}

TEST_F(SqScriptingTest, EmptyTextRunsAndUnreadableTextFails)
{
	EXPECT_TRUE(Run(""));
	const char szBigEndian[] = "\xFE\xFF\0r";
	EXPECT_FALSE(RunBytes(szBigEndian, sizeof(szBigEndian) - 1));
	EXPECT_TRUE(Logged("[ERROR]   Unable to read script test.nut"));
}

TEST_F(SqScriptingTest, CompileErrorIsLoggedWithPlace)
{
	EXPECT_FALSE(Run("local a = 1;\nlocal = ;"));
	bool bFound = false;
	for (const std::string& Line : LogLines())
		bFound = bFound || Line.rfind("[ERROR]   sqvm: 'test.nut' (Ln:2 Col:", 0) == 0;
	EXPECT_TRUE(bFound);
}

TEST_F(SqScriptingTest, RuntimeErrorIsLoggedWithStackDump)
{
	EXPECT_FALSE(Run("function inner() { throw \"boom\"; }\ninner();"));
	EXPECT_TRUE(Logged("[ERROR]   sqvm: boom."));
	EXPECT_TRUE(Logged("[ERROR]   Stack Dump:"));
	EXPECT_TRUE(Logged("[ERROR]   [1]: function [inner()] test.nut line [1]\n"));
	EXPECT_TRUE(Logged("[ERROR]   [2]: function [main()] test.nut line [2]\n"));
}

TEST_F(SqScriptingTest, CaughtErrorsAreNotLogged)
{
	ASSERT_TRUE(Run("try { throw \"quiet\"; } catch (e) { record(e); }"));
	EXPECT_EQ(TextOf(RecordedAt(0)), "quiet");
	EXPECT_TRUE(LogLines().empty());
}

TEST_F(SqScriptingTest, PrintLogsAtInfoLevel)
{
	ASSERT_TRUE(Run("print(\"hello \" + 5);"));
	EXPECT_TRUE(Logged("[INFO]    hello 5"));
}

TEST_F(SqScriptingTest, NativeFailureIsACatchableScriptError)
{
	ASSERT_TRUE(Run("try { fail(); } catch (e) { record(e); }"));
	EXPECT_EQ(TextOf(RecordedAt(0)), "native failed 7");
	EXPECT_FALSE(Run("fail();"));
	EXPECT_TRUE(Logged("[ERROR]   sqvm: native failed 7."));
}

TEST_F(SqScriptingTest, NativesSeeTheRunningEnvironmentsResource)
{
	int iFirst = 0, iSecond = 0;
	CResource* pFirst = reinterpret_cast<CResource*>(&iFirst);
	CResource* pSecond = reinterpret_cast<CResource*>(&iSecond);
	m_pEnvironment->SetResource(pFirst);
	CScriptEnvironment* pOther = NewEnvironment();
	ASSERT_NE(pOther, nullptr);
	pOther->SetResource(pSecond);

	// The second resource's function, called while the first resource's script runs.
	ASSERT_TRUE(Run("record(function() { whoCalls(); });", pOther));
	Strong<CArgument> pFunction = RecordedAt(0);
	SetGive(pFunction->Clone());
	m_CallingResources.clear();
	ASSERT_TRUE(Run("whoCalls(); callWith(give()); whoCalls();"));
	const std::vector<CResource*> Expected = {pFirst, pSecond, pFirst};
	EXPECT_EQ(m_CallingResources, Expected);
	pOther->Destroy();
}

TEST_F(SqScriptingTest, FunctionCalledFromTheEngineReturnsItsResult)
{
	ASSERT_TRUE(Run("record(function(a, b) { return a + b; }, function() { return this == getroottable(); });"));
	CFunction* pAdd = RecordedAt(0)->ToFunction();
	CFunction* pThis = RecordedAt(1)->ToFunction();
	ASSERT_NE(pAdd, nullptr);
	ASSERT_NE(pThis, nullptr);

	CArgumentArray Arguments;
	Arguments.AddNumber(2);
	Arguments.AddNumber(3);
	CReturnValue Result;
	ASSERT_TRUE(pAdd->Call(Arguments, &Result));
	EXPECT_EQ(IntegerOf(Result.GetReturnArgument()), 5);

	CReturnValue This;
	ASSERT_TRUE(pThis->Call(CArgumentArray(), &This));
	EXPECT_TRUE(IsTrue(This.GetReturnArgument()));
	EXPECT_TRUE(pAdd->Call(Arguments, nullptr));
}

TEST_F(SqScriptingTest, FunctionRunsWithItsOwnResourcesGlobalsAndConstants)
{
	ASSERT_TRUE(Run("const KIND = \"first\"; marker <- \"one\"; record(function() { return marker + KIND; });"));
	Strong<CArgument> pFunction = RecordedAt(0);
	CScriptEnvironment* pOther = NewEnvironment();
	ASSERT_NE(pOther, nullptr);
	SetGive(pFunction->Clone());
	ASSERT_TRUE(Run("const KIND = \"second\"; marker <- \"two\"; record(callWith(give()), KIND);", pOther));
	EXPECT_EQ(TextOf(RecordedAt(0)), "onefirst");
	EXPECT_EQ(TextOf(RecordedAt(1)), "second");
	pOther->Destroy();
}

TEST_F(SqScriptingTest, ErrorInAFunctionCalledFromTheEngineIsLoggedAndFails)
{
	ASSERT_TRUE(Run("record(function() { throw \"late\"; });"));
	CReturnValue Result;
	EXPECT_FALSE(RecordedAt(0)->ToFunction()->Call(CArgumentArray(), &Result));
	EXPECT_EQ(Result.GetReturnArgument(), nullptr);
	EXPECT_TRUE(Logged("[ERROR]   sqvm: late."));
}

TEST_F(SqScriptingTest, FunctionOfAStoppedResourceRunsNothing)
{
	CScriptEnvironment* pOther = NewEnvironment();
	ASSERT_NE(pOther, nullptr);
	ASSERT_TRUE(Run("record(function() { record(\"ran\"); });", pOther));
	Strong<CArgument> pFunction = RecordedAt(0);
	pOther->Destroy();
	m_Recorded.Clear();

	EXPECT_FALSE(pFunction->ToFunction()->Call(CArgumentArray(), nullptr));
	EXPECT_EQ(Recorded().GetArrayCount(), 0u);
	EXPECT_TRUE(Logged("[ERROR]   SCRIPT ERROR: Cannot call a function of a stopped resource"));
}

TEST_F(SqScriptingTest, ValuesOutlivingTheLanguageRunNothing)
{
	Strong<CArgument> pFunction;
	Strong<CArgument> pTable;
	{
		CScripting Scripting;
		CArgumentArray Recorded;
		Scripting.GetGlobal()->RegisterFunction("record", "*", [](CNativeState* pState, int, void* pUserData) {
			pState->GetArguments()->InsertTo(static_cast<CArgumentArray*>(pUserData));
			return true;
		}, &Recorded);
		ASSERT_TRUE(RegisterSqVM(&Scripting));
		CScriptingVM* pLanguage = Scripting.GetVM("Squirrel");
		ASSERT_TRUE(pLanguage->DefineClasses());
		CScriptEnvironment* pEnvironment = pLanguage->CreateEnvironment("gone");
		const std::string Text = "record(function() { return 1; }, {});";
		Strong<CMemoryStream> pStream = Strong<CMemoryStream>::New(new CMemoryStream(Text.data(), Text.size()));
		ASSERT_TRUE(pEnvironment->DoFile(pStream, "gone.nut"));
		pFunction = Recorded.GetAt(0);
		pTable = Recorded.GetAt(1);
		pEnvironment->Destroy();
	}
	EXPECT_FALSE(pFunction->ToFunction()->Call(CArgumentArray(), nullptr));
	Strong<CArgument> pCopy = Strong<CArgument>::New(pTable->Clone());
	EXPECT_EQ(pCopy->GetType(), ARGUMENT_SQREF);
	EXPECT_TRUE(Logged("[ERROR]   SCRIPT ERROR: Cannot call a function of a stopped resource"));
}

TEST_F(SqScriptingTest, FunctionValuesWhoseClosuresHoldThemEndWithTheirEnvironment)
{
	CScriptEnvironment* pOther = NewEnvironment();
	ASSERT_NE(pOther, nullptr);
	// One function value holds itself through its closure; two more hold each other, so that letting one go ends
	// the other while the environment is still letting go of its functions.
	ASSERT_TRUE(Run("local self = null; self = reflection.createFunction(function() { return self; });"
					"local a = null; local b = null;"
					"a = reflection.createFunction(function() { return b; });"
					"b = reflection.createFunction(function() { return a; });"
					"record(self, a, b);",
		pOther));
	ASSERT_EQ(Recorded().GetArrayCount(), 3u);
	Weak<CBaseObject> rgpFunctions[3];
	for (size_t i = 0; i < 3; i++)
	{
		rgpFunctions[i] = RecordedAt(i)->ToObject();
		ASSERT_NE(dynamic_cast<CSqFunction*>(rgpFunctions[i].Get()), nullptr);
	}
	m_Recorded.Clear();

	pOther->Destroy();
	for (const Weak<CBaseObject>& pFunction : rgpFunctions)
		EXPECT_TRUE(pFunction.IsNull());
}

TEST_F(SqScriptingTest, ScriptMayEndItsOwnEnvironment)
{
	CScriptEnvironment* pSelf = nullptr;
	m_Scripting.GetGlobal()->RegisterFunction("destroyMe", "", DestroyCaller, &pSelf);
	// Only environments made from now on see the new function.
	pSelf = NewEnvironment();
	ASSERT_NE(pSelf, nullptr);
	int iResource = 0;
	pSelf->SetResource(reinterpret_cast<CResource*>(&iResource));

	// The script goes on after the end, but no native acts for it any more.
	EXPECT_TRUE(Run("local f = function() { return 3; }; destroyMe(); if (f() != 3) throw \"f\";"
					"try { whoCalls(); } catch (e) { if (e == \"The calling resource has stopped\") return; }"
					"throw \"called\";",
		pSelf));
	EXPECT_EQ(pSelf, nullptr);
	EXPECT_TRUE(m_CallingResources.empty());
}

TEST_F(SqScriptingTest, ValuesNestedTooDeepOrInThemselvesFailTheConversion)
{
	ASSERT_TRUE(Run("local a = [1]; a.append(a);"
					"try { record(a); } catch (e) { record(e); }"));
	EXPECT_EQ(TextOf(RecordedAt(0)), "Cannot convert a value that contains itself");

	ASSERT_TRUE(Run("function nest(n) { local a = []; for (local i = 1; i < n; i++) a = [a]; return a; }"
					"try { record(nest(64)); } catch (e) { record(e); }"));
	EXPECT_EQ(RecordedAt(0)->GetType(), ARGUMENT_ARRAY);
	ASSERT_TRUE(Run("try { record(nest(65)); } catch (e) { record(e); }"));
	EXPECT_EQ(TextOf(RecordedAt(0)), "Cannot convert a value nested deeper than 64 levels");

	CArgumentArray* pDeep = new CArgumentArray();
	for (int i = 1; i < 65; i++)
	{
		CArgumentArray* pOuter = new CArgumentArray();
		pOuter->AddAndOwn(pDeep);
		pDeep = pOuter;
	}
	SetGive(pDeep);
	ASSERT_TRUE(Run("try { give(); record(\"given\"); } catch (e) { record(e); }"));
	EXPECT_EQ(TextOf(RecordedAt(0)), "Cannot convert a value nested deeper than 64 levels");

	ASSERT_TRUE(Run("record(function(x) { record(\"ran\"); });"));
	Strong<CArgument> pFunction = RecordedAt(0);
	CArgumentArray Arguments;
	Arguments.Add(pDeep);
	ClearLog();
	EXPECT_FALSE(pFunction->ToFunction()->Call(Arguments, nullptr));
	EXPECT_TRUE(Logged("[ERROR]   SCRIPT ERROR: Cannot convert a value nested deeper than 64 levels"));

	ASSERT_TRUE(Run("record(function() { local a = [1]; a.append(a); return a; });"));
	pFunction = RecordedAt(0);
	CReturnValue Result;
	EXPECT_FALSE(pFunction->ToFunction()->Call(CArgumentArray(), &Result));
	EXPECT_TRUE(Logged("[ERROR]   SCRIPT ERROR: Cannot convert a value that contains itself"));
}

// An array is converted once for every place that holds it, so a few small arrays can stand for a great many
// engine values.
TEST_F(SqScriptingTest, ValuesThatWouldMakeTooManyElementsFailTheConversion)
{
	ASSERT_TRUE(Run("big <- array(2100000, 0);"));
	struct tCase
	{
		const char* m_szCall;
		const char* m_szError;
	};
	const tCase rgCases[] = {
		{"record(array(4194305, 0));", "Cannot convert an array of 4194305 elements"},
		{"record([big, big]);", "Cannot convert more than 4194304 array elements at once"},
		{"record(big, big);", "Cannot convert more than 4194304 array elements at once"},
	};
	for (const tCase& Case : rgCases)
	{
		ASSERT_TRUE(Run(std::string("try { ") + Case.m_szCall + " } catch (e) { record(e); }")) << Case.m_szCall;
		EXPECT_EQ(TextOf(RecordedAt(0)), Case.m_szError) << Case.m_szCall;
	}

	// Every call has an allowance of its own.
	ASSERT_TRUE(Run("record(big); record(big);"));
	ASSERT_EQ(RecordedAt(0)->GetType(), ARGUMENT_ARRAY);
	EXPECT_EQ(static_cast<const CArgumentArray*>(RecordedAt(0))->GetArrayCount(), 2100000u);

	ASSERT_TRUE(Run("record(function() { return [big, big]; });"));
	Strong<CArgument> pFunction = RecordedAt(0);
	CReturnValue Result;
	EXPECT_FALSE(pFunction->ToFunction()->Call(CArgumentArray(), &Result));
	EXPECT_EQ(Result.GetReturnArgument(), nullptr);
	EXPECT_TRUE(Logged("[ERROR]   SCRIPT ERROR: Cannot convert more than 4194304 array elements at once"));
}

// Memory the engine cannot get while a script calls it (converting values either way, or in the native) fails
// that call as a script error; an exception cannot pass through the language's own code.
TEST_F(SqScriptingTest, EngineRunningOutOfMemoryIsAScriptError)
{
	ReflectedNamespace* pGlobal = m_Scripting.GetGlobal();
	pGlobal->RegisterFunction("starve", "", TestNatives::RunOutOfMemory);
	ReflectedClass* pHungryVector = pGlobal->NewClass("HungryVector");
	pHungryVector->RegisterConstructor("", TestNatives::RunOutOfMemory);
	CScriptEnvironment* pOther = NewEnvironment();
	ASSERT_NE(pOther, nullptr);
	CHungryThing* pHungry = new CHungryThing(m_pThingClass, 1);
	SetGive(new CArgumentObject(pHungry));
	pHungry->Release();
	ASSERT_TRUE(Run("hungry <- give(); record(function() { return hungry; }, function(v) {});", pOther));
	Strong<CArgument> pReturnsHungry = RecordedAt(0);
	Strong<CArgument> pTakesValue = RecordedAt(1);

	ReflectedClass* pVec3Class = pGlobal->m_pVec3Class;
	pGlobal->m_pVec3Class = pHungryVector;
	SetGive(new CArgumentVector3D(CVector3D(1, 2, 3)));
	const char* const rgpszCalls[] = {"starve();", "record(hungry);", "record(1, [hungry]);", "give();",
		"Thing(1).value = hungry;"};
	for (const char* szCall : rgpszCalls)
	{
		ASSERT_TRUE(Run(std::string("try { ") + szCall + " record(\"no error\"); } catch (e) { record(e); }", pOther))
			<< szCall;
		EXPECT_EQ(TextOf(RecordedAt(0)), "not enough memory") << szCall;
	}

	// Calls from the engine: the result, and the arguments.
	CReturnValue Result;
	EXPECT_FALSE(pReturnsHungry->ToFunction()->Call(CArgumentArray(), &Result));
	EXPECT_TRUE(Logged("[ERROR]   SCRIPT ERROR: not enough memory"));
	ClearLog();
	CArgumentArray Arguments;
	Arguments.AddVector3D(CVector3D(1, 2, 3));
	EXPECT_FALSE(pTakesValue->ToFunction()->Call(Arguments, nullptr));
	EXPECT_TRUE(Logged("[ERROR]   SCRIPT ERROR: not enough memory"));
	pGlobal->m_pVec3Class = pVec3Class;
	EXPECT_TRUE(pTakesValue->ToFunction()->Call(Arguments, nullptr));
	pOther->Destroy();
}

TEST_F(SqScriptingTest, SuspendingAResourcesOwnThreadIsAnError)
{
	ASSERT_TRUE(Run("try { suspend(1); record(\"went on\"); } catch (e) { record(e); }"));
	EXPECT_EQ(TextOf(RecordedAt(0)), "cannot suspend a resource's own thread");
	EXPECT_FALSE(Run("suspend(1); record(\"went on\");"));
	EXPECT_TRUE(Logged("[ERROR]   sqvm: cannot suspend a resource's own thread."));

	ASSERT_TRUE(Run("record(function() { suspend(1); return 1; }, function() { return 2; });"));
	Strong<CArgument> pSuspending = RecordedAt(0);
	Strong<CArgument> pPlain = RecordedAt(1);
	CReturnValue Result;
	EXPECT_FALSE(pSuspending->ToFunction()->Call(CArgumentArray(), &Result));
	EXPECT_EQ(Result.GetReturnArgument(), nullptr);
	// The thread is usable afterwards.
	ASSERT_TRUE(pPlain->ToFunction()->Call(CArgumentArray(), &Result));
	EXPECT_EQ(IntegerOf(Result.GetReturnArgument()), 2);

	ASSERT_TRUE(Run("local t = newthread(function() { suspend(1); record(\"resumed\"); }); t.call(); t.wakeup();"));
	EXPECT_EQ(TextOf(RecordedAt(0)), "resumed");
}

TEST_F(SqScriptingTest, ZeroByteInTheTextIsACompileError)
{
	const char szText[] = "record(1);\0record(2);";
	EXPECT_FALSE(RunBytes(szText, sizeof(szText) - 1));
	EXPECT_EQ(Recorded().GetArrayCount(), 0u);
	bool bFound = false;
	for (const std::string& Line : LogLines())
		bFound = bFound || (Line.rfind("[ERROR]   sqvm: 'test.nut' (Ln:1 Col:", 0) == 0 &&
							   Line.find("Invalid character.") != std::string::npos);
	EXPECT_TRUE(bFound);
}

// A script's stack grows only as far as its deepest function needs; natives called down there convert deep values
// and call back with many arguments. Each depth in the range puts the call at another distance from the stack's
// end, so one of them is right at it.
TEST_F(SqScriptingTest, DeepInAScriptValuesAndCallsBackStillFit)
{
	std::string Arguments;
	for (int i = 0; i < 200; i++)
		Arguments += ", " + std::to_string(i);
	CArgumentArray* pDeep = new CArgumentArray();
	for (int i = 1; i < 64; i++)
	{
		CArgumentArray* pOuter = new CArgumentArray();
		pOuter->AddAndOwn(pDeep);
		pDeep = pOuter;
	}
	SetGive(pDeep);
	const std::string Script =
		"function nest(n) { local a = []; for (local i = 1; i < n; i++) a = [a]; return a; }\n"
		"local deep = nest(64);\n"
		"function down(n, f) { if (n > 0) { local r = down(n - 1, f); return r; } return f(); }\n"
		"local counts = {};\n"
		"for (local n = 100; n < 300; n++) {\n"
		"\tlocal count = down(n, @() callWith(function(...) { return vargv.len(); }" + Arguments + "));\n"
		"\tcounts[count] <- true;\n"
		"\tdown(n, @() record(deep));\n"
		"\tdown(n, @() give());\n"
		"}\n"
		"record(counts.len(), 200 in counts, deep);\n";
	ASSERT_TRUE(Run(Script));
	ASSERT_EQ(Recorded().GetArrayCount(), 3u);
	EXPECT_EQ(IntegerOf(RecordedAt(0)), 1);
	EXPECT_TRUE(IsTrue(RecordedAt(1)));
	EXPECT_EQ(RecordedAt(2)->GetType(), ARGUMENT_ARRAY);

	// A call that moved to a thread of its own reports its errors as any other.
	EXPECT_FALSE(Run("callWith(function(...) { throw \"many\"; }" + Arguments + ");"));
	EXPECT_TRUE(Logged("[ERROR]   sqvm: many."));
}

TEST_F(SqScriptingTest, ReplacedBaseFunctionsAnswerAsTheLibrarysAndNeverBreakTheVM)
{
	// setroottable, a closure's setroot, a function's call, pcall, acall and pacall, a thread's call and newthread are
	// the language's own natives: each script shows what it got, or the error it caught.
	const struct
	{
		const char* m_szScript;
		const char* m_szRecorded;
	} Cases[] = {
		{"local r = getroottable(); local o = setroottable({}); local same = o == r; setroottable(o); show(same);",
			"true"},
		{"try { setroottable(5); } catch (e) { show(e); }", "ivalid type"},
		{"try { setroottable(null); } catch (e) { show(e); }", "the root table must be a table"},
		{"local f = function() {}; show(f.setroot({}) == f);", "true"},
		{"try { (function() {}).setroot(5); } catch (e) { show(e); }",
			"parameter 1 has an invalid type 'integer' ; expected: 'table'"},
		{"show((function(a, b) { return this.k + a + b; }).call({k = 1}, 2, 3));", "6"},
		{"show((function(a, b) { return this.k + a + b; }).pcall({k = 1}, 2, 3));", "6"},
		{"show((function(a, b) { return this.k + a + b; }).acall([{k = 1}, 2, 3]));", "6"},
		{"show((function(a, b) { return this.k + a + b; }).pacall([{k = 1}, 2, 3]));", "6"},
		{"try { (function() { throw \"thrown\"; }).pcall(this); } catch (e) { show(e); }", "thrown"},
		{"try { (function() {}).acall(5); } catch (e) { show(e); }",
			"parameter 1 has an invalid type 'integer' ; expected: 'array'"},
		{"try { (function() {}).pacall(); } catch (e) { show(e); }", "wrong number of parameters"},
		{"show(::type.call(this, 5));", "integer"},
		// A thread's stack is only as large as its function needs.
		{"show(newthread(function(...) { return vargv.len(); }).call(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, "
		 "15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40));",
			"40"},
		{"show(newthread(::type).call(5));", "integer"},
		{"try { newthread(5); } catch (e) { show(e); }",
			"parameter 1 has an invalid type 'integer' ; expected: 'function|function'"},
	};
	for (const auto& Case : Cases)
	{
		m_Recorded.Clear();
		EXPECT_TRUE(Run(std::string("function show(value) { record(\"\" + value); }\n") + Case.m_szScript))
			<< Case.m_szScript;
		ASSERT_EQ(Recorded().GetArrayCount(), 1u) << Case.m_szScript;
		EXPECT_EQ(TextOf(RecordedAt(0)), Case.m_szRecorded) << Case.m_szScript;
	}
}
