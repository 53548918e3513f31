#include "LuaTestFixture.h"

#include <algorithm>

#include "LuaScripting/LuaReferenceable.h"

namespace
{
// A thing held by the test, handed to scripts through test.give.
struct tHeldThing
{
	explicit tHeldThing(ReflectedClass* pClass) : m_pThing(Strong<CThing>::New(new CThing(pClass, 9))) {}

	intptr_t Count() const { return m_pThing->GetRefCount(); }

	Strong<CThing> m_pThing;
};
}

TEST_F(LuaTest, AnObjectKeepsOneWrapperUntilItIsCollected)
{
	tHeldThing Held(ThingClass());
	Give(CArgument::Create(Held.m_pThing));
	int32_t iBindings = g_iUserDataCount;

	ASSERT_TRUE(Run(Main(), "first = test.give() assert(first == test.give())"));
	EXPECT_EQ(Held.Count(), 3); // the test, the given value, the wrapper
	EXPECT_EQ(g_iUserDataCount, iBindings + 1);

	ASSERT_TRUE(Run(Main(), "first = nil collectgarbage()"));
	EXPECT_EQ(Held.Count(), 2);
	ASSERT_TRUE(Run(Main(), "local again = test.give() assert(again.id == 9) test.record(again)"));
	EXPECT_EQ(Recorded().GetAt(0)->ToObject(), Held.m_pThing.GetPointer());
	EXPECT_EQ(g_iUserDataCount, iBindings + 1);
}

TEST_F(LuaTest, WrappersKeepScriptMadeObjectsAlive)
{
	int iBefore = CThing::s_iLive;
	ASSERT_TRUE(Run(Main(), "made = TestThing(1) collectgarbage()"));
	EXPECT_EQ(CThing::s_iLive, iBefore + 1);
	ASSERT_TRUE(Run(Main(), "made = nil collectgarbage()"));
	EXPECT_EQ(CThing::s_iLive, iBefore);
}

TEST_F(LuaTest, DroppedObjectsLeaveAStoppedCollectorStopped)
{
	int iBefore = CThing::s_iLive;
	// Every dropped thing charges the collector what it keeps alive, and the next native call would pay with a
	// collection step; a script that stopped the collector gets none.
	ASSERT_TRUE(Run(Main(), "collectgarbage('stop') for i = 1, 2000 do local t = TestThing(i) test.nothing() end"));
	EXPECT_EQ(CThing::s_iLive, iBefore + 2000);
	// Once it runs again, the things dropped meanwhile go: the count falls below them while as many again are made
	// (the least count is taken, since the things made during a cycle outlive it, and it may end with the loop).
	ASSERT_TRUE(Run(Main(),
		"collectgarbage('restart') local least = math.huge "
		"for i = 1, 2000 do local t = TestThing(i) least = math.min(least, test.alive()) end test.record(least)"));
	ASSERT_EQ(Recorded().GetArrayCount(), 1u);
	EXPECT_LT(Integer(Recorded().GetAt(0)), iBefore + 2000);
}

TEST_F(LuaTest, ValuesHandedToAScriptThatCallsNoNativeAreFreed)
{
	// A handler that only takes what the engine hands it never calls a native, where the collector is paid.
	ASSERT_TRUE(Run(Main(), "test.keep(function(vector) end)"));
	CFunction* pFunction = KeptFunction();
	ASSERT_NE(pFunction, nullptr);
	CArgumentArray Arguments;
	Arguments.AddAndOwn(new CArgumentVector3D(CVector3D(1.0f, 2.0f, 3.0f)));
	const size_t Before = CBaseObject::GetLiveCount();
	size_t MostAlive = 0;
	for (int i = 0; i < 100000; i++)
	{
		ASSERT_TRUE(pFunction->Call(Arguments, nullptr));
		MostAlive = std::max(MostAlive, CBaseObject::GetLiveCount() - Before);
	}
	// Each call makes a vector the script drops; a collector paced by the script's own small blocks alone falls
	// further behind with every cycle.
	EXPECT_LE(MostAlive, 10000u);
}

TEST_F(LuaTest, FinaliserCalledByHandReleasesOnce)
{
	tHeldThing Held(ThingClass());
	Give(CArgument::Create(Held.m_pThing));
	ASSERT_TRUE(Run(Main(),
		"held = test.give() local gc = getmetatable(held).__gc gc(held) gc(held) test.record(held)"));
	EXPECT_EQ(Held.Count(), 2);
	EXPECT_EQ(Recorded().GetAt(0)->GetType(), ARGUMENT_NIL);

	EXPECT_FALSE(Run(Main(), "held:twice()"));
	EXPECT_EQ(LastScriptError(), "[string \"chunk\"]:1: 'this' is null");

	// The collector's own call finds nothing left to release; the next push makes a working wrapper.
	ASSERT_TRUE(Run(Main(), "assert(test.give() ~= held and test.give().id == 9) held = nil collectgarbage()"));
	EXPECT_EQ(Held.Count(), 2);
}

TEST_F(LuaTest, WrapperSavedByAnotherFinaliserIsEmpty)
{
	tHeldThing Held(ThingClass());
	Give(CArgument::Create(Held.m_pThing));
	// Finalisers run in reverse order of marking, so the table's runs first and saves the wrapper.
	ASSERT_TRUE(Run(Main(),
		"do local w = test.give() setmetatable({}, {__gc = function() saved = w end}) end collectgarbage()"));
	EXPECT_EQ(Held.Count(), 2);
	ASSERT_TRUE(Run(Main(), "test.record(saved, saved == nil, test.give().id)"));
	EXPECT_EQ(Recorded().GetAt(0)->GetType(), ARGUMENT_NIL);
	EXPECT_FALSE(Recorded().GetAt(1)->ToBoolean());
	int32_t iId = 0;
	Recorded().GetAt(2)->ToNumber(iId);
	EXPECT_EQ(iId, 9);
}

TEST_F(LuaTest, PushDuringPendingFinalisationMakesANewWrapper)
{
	tHeldThing Held(ThingClass());
	Give(CArgument::Create(Held.m_pThing));
	// The table's finaliser asks for the object while the old wrapper still awaits its own finaliser.
	ASSERT_TRUE(Run(Main(),
		"do local w = test.give() setmetatable({}, {__gc = function() fresh = test.give() end}) end collectgarbage()"));
	EXPECT_EQ(Held.Count(), 3);
	ASSERT_TRUE(Run(Main(), "assert(fresh == test.give() and fresh.id == 9) fresh = nil collectgarbage()"));
	EXPECT_EQ(Held.Count(), 2);
}

TEST_F(LuaTest, ClosingTheLanguageReleasesEveryWrapper)
{
	tHeldThing Held(ThingClass());
	Give(CArgument::Create(Held.m_pThing));
	ASSERT_TRUE(Run(Main(), "kept = test.give()"));
	m_pGive.SetNull();
	EXPECT_EQ(Held.Count(), 2);
	m_pManager.reset();
	EXPECT_EQ(Held.Count(), 1);
}
