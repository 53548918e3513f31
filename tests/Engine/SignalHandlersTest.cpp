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

TEST(SignalHandlers, FirstInterruptRunsTheQuitProcedureOnceWhenPolled)
{
	g_iQuitCalls = 0;
	ASSERT_TRUE(CSignalHandlers::Install(CountQuit));

	raise(SIGINT);
	// The handler only records the request.
	EXPECT_EQ(0, g_iQuitCalls);

	EXPECT_TRUE(CSignalHandlers::ConsumeQuitRequest());
	EXPECT_EQ(1, g_iQuitCalls);
	EXPECT_FALSE(CSignalHandlers::ConsumeQuitRequest());
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
