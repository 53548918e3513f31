#include "Engine/SignalHandlers.h"

#include <gtest/gtest.h>

#include <csignal>

namespace
{
	int g_iQuitCalls = 0;

	void CountQuit()
	{
		++g_iQuitCalls;
	}
}

TEST(SignalHandlers, FirstInterruptOrTerminationRunsTheQuitProcedureOnceWhenPolled)
{
	for (int iSignal : {SIGINT, SIGTERM})
	{
		g_iQuitCalls = 0;
		ASSERT_TRUE(CSignalHandlers::Install(CountQuit));

		raise(iSignal);
		// The handler only records the request.
		EXPECT_EQ(0, g_iQuitCalls) << iSignal;

		EXPECT_TRUE(CSignalHandlers::ConsumeQuitRequest()) << iSignal;
		EXPECT_EQ(1, g_iQuitCalls) << iSignal;
		EXPECT_FALSE(CSignalHandlers::ConsumeQuitRequest()) << iSignal;
	}
}

TEST(SignalHandlers, LaterInterruptsDoNothingAndDoNotEndTheProcess)
{
	g_iQuitCalls = 0;
	ASSERT_TRUE(CSignalHandlers::Install(CountQuit));

	raise(SIGINT);
	raise(SIGINT);
	EXPECT_TRUE(CSignalHandlers::ConsumeQuitRequest());

	raise(SIGINT);
	EXPECT_FALSE(CSignalHandlers::ConsumeQuitRequest());
	EXPECT_EQ(1, g_iQuitCalls);
}

TEST(SignalHandlers, NothingHappensWithoutAnInterrupt)
{
	g_iQuitCalls = 0;
	ASSERT_TRUE(CSignalHandlers::Install(CountQuit));
	EXPECT_FALSE(CSignalHandlers::ConsumeQuitRequest());
	EXPECT_EQ(0, g_iQuitCalls);
}
