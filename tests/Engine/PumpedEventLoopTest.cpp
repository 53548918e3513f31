#include "Engine/KestrinThreading.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <sched.h>
#include <vector>

namespace
{
	std::vector<intptr_t> g_Freed;

	void RecordFree(void* pItem)
	{
		g_Freed.push_back(reinterpret_cast<intptr_t>(pItem));
	}

	void* Item(intptr_t iValue)
	{
		return reinterpret_cast<void*>(iValue);
	}

	std::vector<intptr_t> TakeBatch(CPumpedEventLoop& Loop)
	{
		std::vector<intptr_t> Batch;
		const size_t Count = Loop.Count();
		for (size_t i = 0; i < Count; ++i)
			Batch.push_back(reinterpret_cast<intptr_t>(Loop.GetEvent(i)));
		Loop.Flush();
		return Batch;
	}

	class PumpedEventLoopTest : public ::testing::Test
	{
	protected:
		PumpedEventLoopTest() { g_Freed.clear(); }
	};
}

TEST_F(PumpedEventLoopTest, CycleDeliversItemsInArrivalOrderAndFreesThem)
{
	CPumpedEventLoop Loop(RecordFree);
	EXPECT_EQ(0u, Loop.Count());

	Loop.Push(Item(1));
	Loop.Push(Item(2));
	Loop.Push(Item(3));

	EXPECT_EQ((std::vector<intptr_t>{ 1, 2, 3 }), TakeBatch(Loop));
	EXPECT_EQ((std::vector<intptr_t>{ 1, 2, 3 }), g_Freed);
	EXPECT_EQ(0u, Loop.Count());
}

TEST_F(PumpedEventLoopTest, GetEventOutOfRangeIsNull)
{
	CPumpedEventLoop Loop(RecordFree);
	EXPECT_EQ(nullptr, Loop.GetEvent(0));
	Loop.Push(Item(1));
	const size_t Count = Loop.Count();
	EXPECT_EQ(nullptr, Loop.GetEvent(Count));
	EXPECT_EQ(Item(1), Loop.GetEvent(0));
}

TEST_F(PumpedEventLoopTest, ItemsPushedDuringACycleWaitForTheNextOne)
{
	CPumpedEventLoop Loop(RecordFree);
	Loop.Push(Item(1));
	ASSERT_EQ(1u, Loop.Count());

	Loop.Push(Item(2));
	EXPECT_EQ(1u, Loop.Count());
	Loop.Flush();
	EXPECT_EQ((std::vector<intptr_t>{ 1 }), g_Freed);

	EXPECT_EQ((std::vector<intptr_t>{ 2 }), TakeBatch(Loop));
	EXPECT_EQ((std::vector<intptr_t>{ 1, 2 }), g_Freed);
}

TEST_F(PumpedEventLoopTest, ClearAndDestructionFreeBothQueues)
{
	{
		CPumpedEventLoop Loop(RecordFree);
		Loop.Push(Item(1));
		Loop.Count();
		Loop.Push(Item(2));
		Loop.Clear();
		EXPECT_EQ(2u, g_Freed.size());
		EXPECT_EQ(0u, Loop.Count());

		Loop.Push(Item(3));
		Loop.Count();
		Loop.Push(Item(4));
	}
	EXPECT_EQ((std::vector<intptr_t>{ 1, 2, 3, 4 }), g_Freed);
}

TEST_F(PumpedEventLoopTest, ItemsFromAProducerThreadArriveOnceAndInOrder)
{
	static const intptr_t ITEMS = 5000;
	CPumpedEventLoop Loop(RecordFree);
	CThreadCB Producer("Producer", [](Thread*, void* pUserData) {
		CPumpedEventLoop* pLoop = static_cast<CPumpedEventLoop*>(pUserData);
		for (intptr_t i = 1; i <= ITEMS; ++i)
			pLoop->Push(Item(i));
		return 0;
	}, &Loop);
	ASSERT_TRUE(Producer.Start());

	std::vector<intptr_t> Received;
	while (Received.size() < static_cast<size_t>(ITEMS))
	{
		const std::vector<intptr_t> Batch = TakeBatch(Loop);
		Received.insert(Received.end(), Batch.begin(), Batch.end());
		sched_yield();
	}
	Producer.Join();

	ASSERT_EQ(static_cast<size_t>(ITEMS), Received.size());
	for (intptr_t i = 0; i < ITEMS; ++i)
		ASSERT_EQ(i + 1, Received[static_cast<size_t>(i)]);
	EXPECT_EQ(Received, g_Freed);
}
