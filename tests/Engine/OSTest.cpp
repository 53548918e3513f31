#include "Engine/OS.h"

#include <gtest/gtest.h>

#include <cstdlib>

TEST(OS, CountsToMillisecondsSurvivesLongUptimes)
{
	struct tCase
	{
		uint64_t uiCounts;
		uint64_t uiFrequency;
		uint64_t uiExpected;
	};
	const uint64_t NANO = 1000000000ULL;
	const uint64_t MICRO = 1000000ULL;
	const tCase Cases[] = {
		{ 0, NANO, 0 },
		{ 999999, NANO, 0 },
		{ 1000000, NANO, 1 },
		{ 1999999, MICRO, 1999 },
		// 200 days in nanoseconds: times 1000 would not fit 64 bits.
		{ 200ULL * 86400 * NANO + 5 * 1000000, NANO, 200ULL * 86400 * 1000 + 5 },
		// The whole range of the counter.
		{ UINT64_MAX, NANO, (UINT64_MAX / NANO) * 1000 + (UINT64_MAX % NANO) / 1000000 },
	};
	for (const tCase& Case : Cases)
	{
		SCOPED_TRACE(Case.uiCounts);
		EXPECT_EQ(Case.uiExpected, OS::CountsToMilliseconds(Case.uiCounts, Case.uiFrequency));
	}
}

TEST(OSDeathTest, GetTicksInitialisesTheClockOnFirstUse)
{
	// A fresh process, so that no earlier test has started the clock.
	GTEST_FLAG_SET(death_test_style, "threadsafe");
	EXPECT_EXIT(
		{
			const bool bFresh = !OS::IsInitialised();
			const uint64_t uiTicks = OS::GetTicks();
			std::exit(bFresh && OS::IsInitialised() && uiTicks < 1000 ? 0 : 1);
		},
		::testing::ExitedWithCode(0), "");
}

TEST(OS, TicksNeverGoBackwards)
{
	const uint64_t uiFirst = OS::GetTicks();
	const uint64_t uiSecond = OS::GetTicks();
	EXPECT_LE(uiFirst, uiSecond);
}

TEST(OS, SharedLibraryLookup)
{
	EXPECT_EQ(nullptr, OS::LoadObject("/nonexistent/libnothing.so"));

	void* pLibrary = OS::LoadObject("libc.so.6");
	ASSERT_NE(nullptr, pLibrary);
	EXPECT_NE(nullptr, OS::LoadFunction(pLibrary, "strlen"));
	// Only "_flushlbf" exists: the lookup retries with a leading underscore.
	EXPECT_NE(nullptr, OS::LoadFunction(pLibrary, "flushlbf"));
	EXPECT_EQ(nullptr, OS::LoadFunction(pLibrary, "no_such_function_here"));
	OS::UnloadObject(pLibrary);
	OS::UnloadObject(nullptr);
}
