#include <gtest/gtest.h>

#include "TimeManager.h"

TEST(TimeManager, DeltaIsCappedAndWholeStepsCarryTheRemainder)
{
	struct tCase
	{
		double m_dElapsed;
		double m_dDelta;
		int32_t m_iSteps;
		double m_dRemainder;
	};
	const tCase Cases[] = {
		{1.0, 0.0625, 3, 0.0125},
		{0.0625, 0.0625, 3, 0.0125},
		{0.01, 0.01, 0, 0.01},
		{1.0 / 30.0, 1.0 / 30.0, 2, 0.0},
		{0.0, 0.0, 0, 0.0},
	};
	for (const tCase& Case : Cases)
	{
		TimeManager Clock;
		Clock.Initialise();
		Clock.Advance(Case.m_dElapsed);
		const FrameTimeInfo& Info = Clock.GetFrameInfo();
		EXPECT_DOUBLE_EQ(Info.m_dDelta, Case.m_dDelta) << Case.m_dElapsed;
		EXPECT_EQ(Info.m_iSteps, Case.m_iSteps) << Case.m_dElapsed;
		EXPECT_NEAR(Clock.GetAccumulator(), Case.m_dRemainder, 1e-9) << Case.m_dElapsed;
	}
}

TEST(TimeManager, RemainderAddsUpOverPasses)
{
	TimeManager Clock;
	Clock.Initialise();
	Clock.Advance(0.01);
	EXPECT_EQ(Clock.GetFrameInfo().m_iSteps, 0);
	Clock.Advance(0.01);
	EXPECT_EQ(Clock.GetFrameInfo().m_iSteps, 1);
	EXPECT_NEAR(Clock.GetAccumulator(), 0.02 - 1.0 / 60.0, 1e-9);
}
