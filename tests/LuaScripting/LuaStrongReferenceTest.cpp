#include "LuaTestFixture.h"

TEST_F(LuaTest, ValuesWithoutEngineCounterpartTravelAsReferences)
{
	const char* const rgpszValues[] = {"coroutine.create(print)", "io.stdout"};
	for (const char* szValue : rgpszValues)
	{
		ASSERT_TRUE(Run(Main(), std::string("original = ") + szValue + " test.keep(original)"));
		ASSERT_EQ(Kept()->GetType(), ARGUMENT_LUAREF) << szValue;

		// A clone holds its own reference: it outlives the value it was made from.
		Give(Kept()->Clone());
		m_pKept.SetNull();
		ASSERT_TRUE(Run(Main(), "original = nil collectgarbage() assert(test.give() ~= nil)")) << szValue;
		ASSERT_TRUE(Run(Main(), "local a = test.give() assert(a == test.give())")) << szValue;
	}
}

TEST_F(LuaTest, ReferencesCanBeHandedBackAcrossResources)
{
	CResource* pA = StartResource("a", "co = coroutine.create(function() return 1 end) test.keep(co)");
	CResource* pB = StartResource("b", "");
	ASSERT_NE(pA, nullptr);
	Give(Kept()->Clone());
	ASSERT_TRUE(Run(pB, "test.record(coroutine.resume(test.give()))"));
	EXPECT_TRUE(Recorded().GetAt(0)->ToBoolean());
}
