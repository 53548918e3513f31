// The game clock: how real time advances it and how the script setters carry into larger units.

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

#include "Game/GameClock.h"

namespace
{
struct tClockTime
{
	int32_t m_iDay;
	int m_iHour;
	int m_iMinute;
};

void ExpectTime(const CGameClock& Clock, const tClockTime& Expected, const char* szCase)
{
	EXPECT_EQ(Clock.m_iDay, Expected.m_iDay) << szCase;
	EXPECT_EQ(Clock.m_ucHour, Expected.m_iHour) << szCase;
	EXPECT_EQ(Clock.m_ucMinute, Expected.m_iMinute) << szCase;
}

CGameClock ClockAt(int iHour, int iMinute)
{
	CGameClock Clock;
	Clock.m_ucHour = static_cast<uint8_t>(iHour);
	Clock.m_ucMinute = static_cast<uint8_t>(iMinute);
	return Clock;
}
}

TEST(GameClock, NinetySecondsOfPassesMoveOneMinuteDurationClockByNinetyMinutes)
{
	CGameClock Clock;
	for (int i = 0; i < 90 * 16; i++)
		Clock.Process(0.0625);
	ExpectTime(Clock, {0, 1, 30}, "90 s");
	EXPECT_GE(Clock.m_dMilliminutes, 0.0);
	EXPECT_LT(Clock.m_dMilliminutes, 1000.0);
}

TEST(GameClock, PassesCarryMinutesIntoHoursAndDays)
{
	CGameClock Clock = ClockAt(23, 59);
	ASSERT_TRUE(Clock.SetMinuteDuration(2.0));
	Clock.Process(3.0);
	ExpectTime(Clock, {1, 0, 0}, "one and a half minutes past 23:59");
	EXPECT_DOUBLE_EQ(Clock.m_dMilliminutes, 500.0);
}

TEST(GameClock, NegativeDeltaDoesNotMoveTheClock)
{
	CGameClock Clock = ClockAt(5, 10);
	Clock.m_dMilliminutes = 200.0;
	Clock.Process(-1.0);
	ExpectTime(Clock, {0, 5, 10}, "negative delta");
	EXPECT_DOUBLE_EQ(Clock.m_dMilliminutes, 200.0);
}

TEST(GameClock, HugeStepsKeepEveryFieldInRange)
{
	CGameClock Clock;
	ASSERT_TRUE(Clock.SetMinuteDuration(1e-300));
	Clock.Process(0.0625);
	EXPECT_GE(Clock.m_dMilliminutes, 0.0);
	EXPECT_LT(Clock.m_dMilliminutes, 1000.0);
	EXPECT_LT(Clock.m_ucHour, 24);
	EXPECT_LT(Clock.m_ucMinute, 60);
	EXPECT_EQ(Clock.m_iDay, std::numeric_limits<int32_t>::max());
}

TEST(GameClock, SettersUseFloorSemanticsAndCarry)
{
	struct tCase
	{
		const char* szCase;
		int iHour;
		int iMinute;
		void (*pfnSet)(CGameClock&);
		tClockTime Expected;
	};
	const tCase Cases[] = {
		{"minute 125 at 5:10", 5, 10, [](CGameClock& c) { c.SetMinute(125); }, {0, 7, 5}},
		{"minute -1 at 0:30", 0, 30, [](CGameClock& c) { c.SetMinute(-1); }, {-1, 23, 59}},
		{"hour 47", 0, 0, [](CGameClock& c) { c.SetHour(47); }, {1, 23, 0}},
		{"hour -25", 0, 0, [](CGameClock& c) { c.SetHour(-25); }, {-2, 23, 0}},
		{"hour -1", 3, 15, [](CGameClock& c) { c.SetHour(-1); }, {-1, 23, 15}},
		{"minute far beyond a day", 0, 0, [](CGameClock& c) { c.SetMinute(int64_t(3) * 24 * 60 + 61); }, {3, 1, 1}},
	};
	for (const tCase& Case : Cases)
	{
		CGameClock Clock = ClockAt(Case.iHour, Case.iMinute);
		Case.pfnSet(Clock);
		ExpectTime(Clock, Case.Expected, Case.szCase);
	}
}

TEST(GameClock, SecondSetsThousandthsAndCarriesWholeMinutes)
{
	struct tCase
	{
		double dSecond;
		double dMilliminutes;
		tClockTime Expected;
	};
	const tCase Cases[] = {
		{30.0, 500.0, {0, 5, 10}},
		{90.0, 500.0, {0, 5, 11}},
		{-30.0, 500.0, {0, 5, 9}},
		{59.9999, 999.0, {0, 5, 10}},
	};
	for (const tCase& Case : Cases)
	{
		CGameClock Clock = ClockAt(5, 10);
		ASSERT_TRUE(Clock.SetSecond(Case.dSecond));
		EXPECT_DOUBLE_EQ(Clock.m_dMilliminutes, Case.dMilliminutes) << Case.dSecond;
		ExpectTime(Clock, Case.Expected, "second");
	}
	CGameClock Clock = ClockAt(5, 10);
	Clock.m_dMilliminutes = 500.0;
	EXPECT_DOUBLE_EQ(Clock.GetSecond(), 30.0);
}

TEST(GameClock, SecondThatIsNotFiniteChangesNothing)
{
	for (double dValue : {std::nan(""), std::numeric_limits<double>::infinity()})
	{
		CGameClock Clock = ClockAt(5, 10);
		EXPECT_FALSE(Clock.SetSecond(dValue));
		ExpectTime(Clock, {0, 5, 10}, "not finite");
		EXPECT_DOUBLE_EQ(Clock.m_dMilliminutes, 0.0);
	}
}

TEST(GameClock, HugeSecondSaturatesTheDay)
{
	CGameClock Clock;
	ASSERT_TRUE(Clock.SetSecond(1e300));
	EXPECT_EQ(Clock.m_iDay, std::numeric_limits<int32_t>::max());
	EXPECT_LT(Clock.m_ucHour, 24);
	EXPECT_LT(Clock.m_ucMinute, 60);
}

TEST(GameClock, MinuteDurationMustBeFiniteAndAboveZero)
{
	for (double dValue : {0.0, -1.0, std::nan(""), std::numeric_limits<double>::infinity()})
	{
		CGameClock Clock;
		ASSERT_TRUE(Clock.SetMinuteDuration(1.5));
		EXPECT_FALSE(Clock.SetMinuteDuration(dValue)) << dValue;
		EXPECT_DOUBLE_EQ(Clock.GetMinuteDuration(), 1.5) << dValue;
	}
}

TEST(GameClock, MinuteDurationInMillisecondsStaysInsideTheInt32Range)
{
	struct tCase
	{
		double dSeconds;
		int32_t iMilliseconds;
	};
	const tCase Cases[] = {
		{1.0, 1000},
		{2.0, 2000},
		{0.0015, 1},
		{1e12, std::numeric_limits<int32_t>::max()},
	};
	for (const tCase& Case : Cases)
	{
		CGameClock Clock;
		ASSERT_TRUE(Clock.SetMinuteDuration(Case.dSeconds));
		EXPECT_EQ(Clock.GetMinuteDurationMilliseconds(), Case.iMilliseconds) << Case.dSeconds;
	}
}
