#include "Engine/KestrinThreading.h"

#include "Engine/Context.h"
#include "Engine/KAssert.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <pthread.h>
#include <sched.h>
#include <string>

namespace
{
	// Body that reports its own state and then waits until the test lets it finish.
	struct tGate
	{
		Signalable m_Release;
		std::atomic<bool> m_bExecuting{ false };
		std::atomic<bool> m_bEntered{ false };
		char m_szName[32] = "";
		int m_iResult = 0;
	};

	int GatedBody(Thread* pThread, void* pUserData)
	{
		tGate* pGate = static_cast<tGate*>(pUserData);
		pthread_getname_np(pthread_self(), pGate->m_szName, sizeof(pGate->m_szName));
		pGate->m_bExecuting = pThread->IsExecuting();
		pGate->m_bEntered = true;
		while (!pGate->m_Release.IsSignalled())
			sched_yield();
		return pGate->m_iResult;
	}

	int ReturnUserData(Thread*, void* pUserData)
	{
		return *static_cast<int*>(pUserData);
	}

	void WaitUntil(const std::atomic<bool>& bFlag)
	{
		while (!bFlag)
			sched_yield();
	}
}

TEST(Thread, JoinWithoutStartReturnsZeroAtOnce)
{
	int iValue = 7;
	CThreadCB Worker("Idle", ReturnUserData, &iValue);
	EXPECT_FALSE(Worker.IsRunning());
	EXPECT_EQ(0, Worker.Join());
}

TEST(Thread, JoinReturnsTheBodyResult)
{
	for (int iValue : { 0, 42, -1, 0x7fffffff })
	{
		SCOPED_TRACE(iValue);
		CThreadCB Worker("Result", ReturnUserData, &iValue);
		ASSERT_TRUE(Worker.Start());
		EXPECT_TRUE(Worker.IsRunning());
		EXPECT_EQ(iValue, Worker.Join());
		EXPECT_FALSE(Worker.IsRunning());
	}
}

TEST(Thread, BodyRunsNamedAndMarkedExecuting)
{
	tGate Gate;
	CThreadCB Worker("NetworkThread", GatedBody, &Gate);
	ASSERT_TRUE(Worker.Start());
	WaitUntil(Gate.m_bEntered);
	Gate.m_Release.Signal();
	Worker.Join();

	EXPECT_STREQ("NetworkThread", Gate.m_szName);
	EXPECT_TRUE(Gate.m_bExecuting);
	EXPECT_FALSE(Worker.IsExecuting());
}

TEST(Thread, OverlongNameStillRuns)
{
	tGate Gate;
	Gate.m_iResult = 5;
	Gate.m_Release.Signal();
	CThreadCB Worker("AVeryLongThreadNameIndeed", GatedBody, &Gate);
	ASSERT_TRUE(Worker.Start());
	EXPECT_EQ(5, Worker.Join());
	EXPECT_NE(std::string("AVeryLongThreadNameIndeed"), Gate.m_szName);
}

TEST(Thread, StartWhileRunningFailsAndLeavesTheThreadAlone)
{
	Context AssertContext;
	const bool bSaved = g_bAsserts;
	g_bAsserts = true;

	tGate Gate;
	Gate.m_iResult = 9;
	CThreadCB Worker("Busy", GatedBody, &Gate);
	ASSERT_TRUE(Worker.Start());
	WaitUntil(Gate.m_bEntered);

	testing::internal::CaptureStdout();
	EXPECT_FALSE(Worker.Start());
	const std::string Console = testing::internal::GetCapturedStdout();
	EXPECT_NE(std::string::npos, Console.find("Expression: !m_bThread"));
	EXPECT_TRUE(Worker.IsRunning());

	Gate.m_Release.Signal();
	EXPECT_EQ(9, Worker.Join());
	g_bAsserts = bSaved;
}

TEST(Thread, CanStartAgainAfterJoin)
{
	int iValue = 3;
	CThreadCB Worker("Again", ReturnUserData, &iValue);
	ASSERT_TRUE(Worker.Start());
	EXPECT_EQ(3, Worker.Join());
	iValue = 4;
	ASSERT_TRUE(Worker.Start());
	EXPECT_EQ(4, Worker.Join());
}

TEST(Lockable, SameThreadMayLockAgain)
{
	CLockable Lockable;
	Lockable.Lock();
	{
		CLockable::CLock Inner(Lockable);
	}
	Lockable.Unlock();

	// Another thread can take it once every level is released.
	struct tShared
	{
		CLockable* m_pLockable;
		bool m_bTaken = false;
	} Shared{ &Lockable };
	CThreadCB Other("Locker", [](Thread*, void* pUserData) {
		tShared* p = static_cast<tShared*>(pUserData);
		CLockable::CLock Lock(p->m_pLockable);
		p->m_bTaken = true;
		return 0;
	}, &Shared);
	ASSERT_TRUE(Other.Start());
	Other.Join();
	EXPECT_TRUE(Shared.m_bTaken);
}

TEST(Signalable, SignalWithoutWaiterSetsTheFlagUntilReset)
{
	Signalable Flag;
	EXPECT_FALSE(Flag.IsSignalled());
	Flag.Signal();
	EXPECT_TRUE(Flag.IsSignalled());
	EXPECT_TRUE(Flag.IsSignalled());
	Flag.Reset();
	EXPECT_FALSE(Flag.IsSignalled());
}

TEST(Signalable, SeenAcrossThreads)
{
	Signalable Stop;
	CThreadCB Worker("Poller", [](Thread*, void* pUserData) {
		Signalable* pStop = static_cast<Signalable*>(pUserData);
		while (!pStop->IsSignalled())
			sched_yield();
		return 1;
	}, &Stop);
	ASSERT_TRUE(Worker.Start());
	Stop.Signal();
	EXPECT_EQ(1, Worker.Join());
}

TEST(ConditionVariable, BroadcastReleasesEveryWaiterAndWaitsForTheirAcknowledgement)
{
	struct tShared
	{
		CLockable m_Lock;
		CConditionVariable m_Condition;
		std::atomic<int> m_iReleased{ 0 };
	} Shared;

	auto Waiter = [](Thread*, void* pUserData) {
		tShared* p = static_cast<tShared*>(pUserData);
		CLockable::CLock Lock(p->m_Lock);
		p->m_Condition.Wait(&p->m_Lock);
		++p->m_iReleased;
		return 0;
	};

	CThreadCB First("Waiter1", Waiter, &Shared);
	CThreadCB Second("Waiter2", Waiter, &Shared);
	CThreadCB Third("Waiter3", Waiter, &Shared);
	ASSERT_TRUE(First.Start());
	ASSERT_TRUE(Second.Start());
	ASSERT_TRUE(Third.Start());

	// A broadcast only releases waiters that have already arrived, so repeat until all three have gone.
	while (Shared.m_iReleased < 3)
	{
		Shared.m_Condition.Broadcast();
		sched_yield();
	}
	First.Join();
	Second.Join();
	Third.Join();
	EXPECT_EQ(3, Shared.m_iReleased);
}
