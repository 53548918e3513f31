#include "ScriptHost.h"

using TimerHandlers::CScriptTimer;
using TimerHandlers::CTimerHandlers;

namespace
{
class TimerHandlersTest : public ScriptHostTest
{
protected:
	CTimerHandlers* Timers() const { return Manager()->GetTimerHandlers(); }

	// Counts the calls of a new timer made by the given set function; the timer object, or null.
	CBaseObject* Make(const char* szFunction, int32_t iDelay, int& iCalls, CResource* pCaller = nullptr)
	{
		CArgs Arguments;
		Arguments.Own(MakeFunction(pCaller, [&iCalls](const CArgumentArray&) { iCalls++; }));
		if (strcmp(szFunction, "setImmediate") != 0)
			Arguments.I(iDelay);
		m_Last = Call(pCaller, szFunction, Arguments);
		return m_Last.Object();
	}

	tCallResult m_Last;
};
}

TEST_F(TimerHandlersTest, TimersFireByTheFrameClock)
{
	struct tCase
	{
		const char* m_szName;
		const char* m_szFunction;
		int32_t iDelay;
		double m_dDelta;
		int m_iPasses;
		std::vector<int> m_Expected; // calls after each pass
	};
	const tCase rgCases[] = {
		{"timeout 0 fires on the next pass, once", "setTimeout", 0, 0.016, 3, {1, 1, 1}},
		{"immediate fires once", "setImmediate", 0, 0.016, 2, {1, 1}},
		{"interval shorter than a pass fires once a pass", "setInterval", 1, 0.016, 3, {1, 2, 3}},
		{"250 ms timeout with 0.1 s passes fires on the third", "setTimeout", 250, 0.1, 4, {0, 0, 1, 1}},
		{"interval drops the overshoot", "setInterval", 150, 0.1, 4, {0, 1, 1, 2}},
	};
	for (const tCase& Case : rgCases)
	{
		SCOPED_TRACE(Case.m_szName);
		int iCalls = 0;
		ASSERT_NE(Make(Case.m_szFunction, Case.iDelay, iCalls), nullptr);
		std::vector<int> Seen;
		for (int i = 0; i < Case.m_iPasses; i++)
		{
			Manager()->Process(Case.m_dDelta);
			Seen.push_back(iCalls);
		}
		EXPECT_EQ(Seen, Case.m_Expected);
		Timers()->RemoveTimers();
	}
}

TEST_F(TimerHandlersTest, ExtraArgumentsAreCopiesTakenAtCreation)
{
	std::vector<std::string> Seen;
	Strong<CArgumentArray> pList = Strong<CArgumentArray>::New(new CArgumentArray());
	pList->AddNumber(1);
	CArgs Arguments;
	Arguments.Own(MakeFunction(nullptr, [&](const CArgumentArray& A) {
		Seen.push_back(std::string(A.GetAt(0)->ToString()) + ":" +
			std::to_string(static_cast<const CArgumentArray*>(A.GetAt(1))->GetArrayCount()));
	}));
	Arguments.I(0).S("text");
	Arguments.Add(pList);
	ASSERT_NE(Call(nullptr, "setTimeout", Arguments).Object(), nullptr);
	pList->AddNumber(2);
	Manager()->Process(0.016);
	EXPECT_EQ(Seen, std::vector<std::string>({"text:1"}));
}

TEST_F(TimerHandlersTest, TableHolds4096LiveTimers)
{
	int iCalls = 0;
	CBaseObject* pFirst = nullptr;
	for (size_t i = 0; i < TimerHandlers::TIMER_TABLE_SIZE; i++)
	{
		CBaseObject* pTimer = Make("setInterval", 1000, iCalls);
		ASSERT_NE(pTimer, nullptr);
		if (i == 0)
			pFirst = pTimer;
	}
	Strong<CBaseObject> pHeld(pFirst);
	EXPECT_EQ(Make("setTimeout", 10, iCalls), nullptr);
	EXPECT_TRUE(m_Last.IsNull());
	EXPECT_TRUE(Call(nullptr, "clearInterval", CArgs().O(pHeld)).Boolean());
	EXPECT_NE(Make("setTimeout", 10, iCalls), nullptr);
	EXPECT_EQ(static_cast<CScriptTimer*>(m_Last.Object())->GetSlot(), 0);
}

TEST_F(TimerHandlersTest, ClearingAStaleTimerLeavesTheNewerOneInItsSlot)
{
	int iOld = 0;
	int iNew = 0;
	Strong<CBaseObject> pOld(Make("setTimeout", 0, iOld));
	Manager()->Process(0.016);
	ASSERT_EQ(iOld, 1);
	Strong<CBaseObject> pNew(Make("setInterval", 0, iNew));
	ASSERT_EQ(static_cast<CScriptTimer*>(pOld.GetPointer())->GetSlot(),
		static_cast<CScriptTimer*>(pNew.GetPointer())->GetSlot());

	EXPECT_FALSE(Call(nullptr, "clearTimeout", CArgs().O(pOld)).Boolean());
	Manager()->Process(0.016);
	EXPECT_EQ(iNew, 1);
	EXPECT_TRUE(Call(nullptr, "clearImmediate", CArgs().O(pNew)).Boolean());
	EXPECT_FALSE(Call(nullptr, "clearInterval", CArgs().O(pNew)).Boolean());
}

TEST_F(TimerHandlersTest, ClearRefusesAnythingButATimer)
{
	tCallResult Result = Call(nullptr, "clearTimeout", CArgs().Null());
	EXPECT_FALSE(Result.m_bOk);
	EXPECT_EQ(Result.m_Error, "Expected Timer for argument 1");
}

TEST_F(TimerHandlersTest, StoppingAResourceRemovesOnlyItsTimers)
{
	int iA = 0;
	int iB = 0;
	m_pLua->m_Scripts["timer"] = [&](CTestEnvironment& Script) {
		int& iCounter = std::string(Script.m_Name) == "a" ? iA : iB;
		return !Script.Call("setInterval", CArgs().Own(Script.Function([&iCounter](const CArgumentArray&) {
			iCounter++;
		})).I(0)).IsNull();
	};
	WriteResource("a", {"timer"});
	WriteResource("b", {"timer"});
	Manager()->SetServer(true);
	Scan();
	ASSERT_TRUE(Find("a")->Start());
	ASSERT_TRUE(Find("b")->Start());
	Manager()->Process(0.016);
	ASSERT_TRUE(Find("a")->Stop(false));
	Manager()->Process(0.016);
	EXPECT_EQ(iA, 1);
	EXPECT_EQ(iB, 2);
}

TEST_F(TimerHandlersTest, AnotherResourceCanClearATimerItHolds)
{
	WriteResource("a", {});
	WriteResource("b", {});
	Scan();
	int iCalls = 0;
	Strong<CBaseObject> pTimer(Make("setInterval", 0, iCalls, Find("a")));
	EXPECT_TRUE(Call(Find("b"), "clearInterval", CArgs().O(pTimer)).Boolean());
	Manager()->Process(0.016);
	EXPECT_EQ(iCalls, 0);
}

TEST_F(TimerHandlersTest, TimerThatClearsItselfOrItsResourceFinishesItsCall)
{
	m_pLua->m_Scripts["self-stopping"] = [&](CTestEnvironment& Script) {
		CArgs Arguments;
		Arguments.Own(Script.Function([this](const CArgumentArray& A) {
			// Stopping its own resource removes this timer while it runs.
			EXPECT_TRUE(Find("a")->Stop(false));
			EXPECT_EQ(A.GetArrayCount(), 1u);
			EXPECT_STREQ(A.GetAt(0)->ToString(), "still here");
		}));
		Arguments.I(0).S("still here");
		return !Script.Call("setInterval", Arguments).IsNull();
	};
	WriteResource("a", {"self-stopping"});
	Manager()->SetServer(true);
	Scan();
	ASSERT_TRUE(Find("a")->Start());
	Manager()->Process(0.016);
	EXPECT_FALSE(Find("a")->IsStarted());
	EXPECT_EQ(Timers()->GetCount(), 0u);

	int iCalls = 0;
	Strong<CBaseObject> pTimer;
	CArgs Arguments;
	Arguments.Own(MakeFunction(nullptr, [&](const CArgumentArray&) {
		iCalls++;
		EXPECT_TRUE(Call(nullptr, "clearInterval", CArgs().O(pTimer)).Boolean());
		pTimer.SetNull();
	}));
	Arguments.I(0);
	pTimer = Call(nullptr, "setInterval", Arguments).Object();
	Manager()->Process(0.016);
	Manager()->Process(0.016);
	EXPECT_EQ(iCalls, 1);
}

TEST_F(TimerHandlersTest, TimerLetsGoOfItsFunctionAndArgumentsOnceItCanNeverCallThem)
{
	WriteResource("a", {});
	Scan();
	CResource* pOwner = Find("a");
	// Each timer's function holds the timer itself, as a script callback that refers to its own timer does: only
	// the timer letting go of its function and arguments ends that cycle.
	struct tCase
	{
		const char* m_szName;
		const char* m_szFunction;
		bool m_bClearsItself;
		// Ends the timer from outside after the first pass, when given.
		std::function<void(CBaseObject* pTimer)> m_End;
	};
	const tCase rgCases[] = {
		{"timeout that ran out", "setTimeout", false, nullptr},
		{"interval that clears itself in its call", "setInterval", true, nullptr},
		{"interval cleared by a script", "setInterval", false,
			[this](CBaseObject* pTimer) {
				EXPECT_TRUE(Call(nullptr, "clearInterval", CArgs().O(pTimer)).Boolean());
			}},
		{"interval of a resource that stops", "setInterval", false,
			[this, pOwner](CBaseObject*) { EXPECT_EQ(Timers()->RemoveTimers(pOwner), 1u); }},
	};
	for (const tCase& Case : rgCases)
	{
		SCOPED_TRACE(Case.m_szName);
		auto pSelf = std::make_shared<Strong<CBaseObject>>();
		const bool bClearsItself = Case.m_bClearsItself;
		CArgs Arguments;
		Arguments.Own(MakeFunction(pOwner, [this, pSelf, bClearsItself](const CArgumentArray&) {
			if (bClearsItself)
			{
				EXPECT_TRUE(Call(nullptr, "clearInterval", CArgs().O(*pSelf)).Boolean());
			}
		}));
		Weak<CBaseObject> pFunction(Arguments.GetAt(0)->ToFunction());
		Strong<CBaseObject> pPassed = Strong<CBaseObject>::New(new CBaseObject());
		Weak<CBaseObject> pArgument(pPassed);
		Arguments.I(0).O(pPassed);
		*pSelf = Call(pOwner, Case.m_szFunction, Arguments).Object();
		ASSERT_FALSE(pSelf->IsNull());
		Weak<CBaseObject> pTimer(*pSelf);
		// From here only the timer holds its function and argument, and only its function holds it.
		pSelf.reset();
		pPassed.SetNull();
		Arguments.Clear();

		Manager()->Process(0.016);
		if (Case.m_End)
			Case.m_End(pTimer);
		EXPECT_EQ(Timers()->GetCount(), 0u);
		EXPECT_TRUE(pFunction.IsNull());
		EXPECT_TRUE(pArgument.IsNull());
		EXPECT_TRUE(pTimer.IsNull());
	}
}
