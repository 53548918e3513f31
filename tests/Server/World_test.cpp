// The world as joined clients see it: weather and clock changes go out on the next pass, everything is sent again
// every ten seconds, and the bridge and minute duration reach the clients at once. The server runs in the test's
// process so the world can be changed between passes.

#include <gtest/gtest.h>
#include <memory>

#include "Game/World.h"
#include "InProcessServer.h"

#include "Engine/KestrinNative.h"
#include "Engine/Reflection.h"

using namespace ServerTest;
using namespace VexaTest;

namespace
{
class WorldMessages : public ::testing::Test
{
protected:
	void Start(const std::string& Children)
	{
		m_pServer = std::make_unique<CInProcessServer>(Children, false);
		ASSERT_TRUE(m_pServer->Start());
		m_pServer->Attach(m_Client);
		ASSERT_TRUE(m_Client.Join(m_pServer->GetPort(), tJoinRequest()));
		m_Client.TakeAll();
	}

	CWorld& World() { return *m_pServer->GetServer().GetWorld(); }

	// The ids of the world messages that arrive up to and including the one with the id.
	std::vector<tReceivedMessage> ReceiveThrough(uint32_t uiId)
	{
		std::vector<tReceivedMessage> Messages;
		tReceivedMessage Message;
		while (m_Client.Receive(Message))
		{
			Messages.push_back(Message);
			if (Message.m_uiId == uiId)
				break;
		}
		return Messages;
	}

	std::unique_ptr<CInProcessServer> m_pServer;
	CGameClient m_Client;
};

std::vector<uint32_t> Ids(const std::vector<tReceivedMessage>& Messages)
{
	std::vector<uint32_t> Result;
	for (const tReceivedMessage& Message : Messages)
		Result.push_back(Message.m_uiId);
	return Result;
}
}

TEST_F(WorldMessages, WeatherGoesOutOnTheNextPassWithItsForcedFlag)
{
	Start("");
	World().ForceWeather(4);
	tReceivedMessage Message;
	ASSERT_TRUE(m_Client.WaitForMessage(MSG_WEATHER, Message));
	EXPECT_EQ(Message.m_Body, (std::vector<uint8_t>{1, 4}));
	World().SetWeather(4);
	ASSERT_TRUE(m_Client.WaitForMessage(MSG_WEATHER, Message));
	EXPECT_EQ(Message.m_Body, (std::vector<uint8_t>{0, 4}));
}

TEST_F(WorldMessages, ClockChangeGoesOutOnTheNextPass)
{
	Start("");
	World().SetHour(47);
	World().SetMinute(125);
	tReceivedMessage Message;
	ASSERT_TRUE(m_Client.WaitForMessage(MSG_CLOCK, Message));
	ASSERT_EQ(Message.m_Body.size(), 4u);
	EXPECT_EQ(Message.m_Body[0], 1);
	EXPECT_EQ(Message.m_Body[1], 5);
	EXPECT_EQ(World().GetClock().m_iDay, 2);
}

TEST_F(WorldMessages, EverythingIsSentAgainAfterTenSeconds)
{
	Start("");
	World().Process(CWorld::RESYNC_INTERVAL + 0.5);
	EXPECT_EQ(Ids(ReceiveThrough(MSG_WEATHER)), (std::vector<uint32_t>{MSG_TIMER, MSG_CLOCK, MSG_WEATHER}));
}

TEST_F(WorldMessages, ResyncLeavesOutWhatIsNotSynced)
{
	Start("\t<timesync>false</timesync>\n");
	World().Process(CWorld::RESYNC_INTERVAL + 0.5);
	EXPECT_EQ(Ids(ReceiveThrough(MSG_WEATHER)), (std::vector<uint32_t>{MSG_TIMER, MSG_WEATHER}));
}

TEST_F(WorldMessages, BridgeAndMinuteDurationReachClientsAtOnce)
{
	Start("");
	World().SetSSVBridgeEnabled(false);
	tReceivedMessage Message;
	ASSERT_TRUE(m_Client.WaitForMessage(MSG_SSV_BRIDGE, Message));
	EXPECT_EQ(Message.m_Body, std::vector<uint8_t>(8, 0));
	World().SetSSVBridgeEnabled(true);
	ASSERT_TRUE(m_Client.WaitForMessage(MSG_SSV_BRIDGE, Message));
	EXPECT_TRUE(World().IsSSVBridgeEnabled());
	EXPECT_NE(Message.m_Body, std::vector<uint8_t>(8, 0));

	ASSERT_TRUE(World().SetMinuteDuration(2.5, true));
	ASSERT_TRUE(m_Client.WaitForMessage(MSG_MINUTE_DURATION, Message));
	EXPECT_EQ(Message.m_Body, (std::vector<uint8_t>{0xC4, 0x09, 0, 0}));
	EXPECT_FALSE(World().SetMinuteDuration(0.0, true));
	EXPECT_DOUBLE_EQ(World().GetClock().GetMinuteDuration(), 2.5);
}

TEST_F(WorldMessages, ClientInASlotAtOrAboveMaxPlayersGetsNoUpdates)
{
	Start("\t<maxplayers>4</maxplayers>\n");
	// Only a lowered player limit can leave a client there; the record is moved to such a slot by hand.
	CNetMachines& Clients = m_pServer->GetServer().GetClients();
	Strong<CNetMachine> pRecord(Clients.GetMachine(m_Client.GetIndex()));
	ASSERT_FALSE(pRecord.IsNull());
	auto MoveTo = [&](int32_t iSlot) {
		Clients.SetMachine(pRecord->GetIndex(), nullptr);
		pRecord->SetIndex(iSlot);
		Clients.SetMachine(iSlot, pRecord);
	};

	for (int32_t iSlot : {4, 0})
	{
		MoveTo(iSlot);
		World().ForceWeather(7);
		World().Process(CWorld::RESYNC_INTERVAL + 0.5);
		// Sent straight to the client on the same channel, so everything the pass sent it arrives first.
		World().SyncMinuteDuration(pRecord);
		std::vector<uint32_t> Expected = {MSG_MINUTE_DURATION};
		if (iSlot < 4)
			Expected = {MSG_TIMER, MSG_CLOCK, MSG_WEATHER, MSG_MINUTE_DURATION};
		EXPECT_EQ(Ids(ReceiveThrough(MSG_MINUTE_DURATION)), Expected) << "slot " << iSlot;
	}
}

TEST(World, BridgeEnabledWhileTheTimerIsZeroStoresOne)
{
	Strong<CWorld> pWorld = Strong<CWorld>::New(new CWorld(nullptr));
	ASSERT_EQ(pWorld->GetTimer(), 0);
	pWorld->SetSSVBridgeEnabled(false);
	EXPECT_EQ(pWorld->GetBridgeState(), 0);
	EXPECT_FALSE(pWorld->IsSSVBridgeEnabled());
	pWorld->SetSSVBridgeEnabled(true);
	EXPECT_EQ(pWorld->GetBridgeState(), 1);
}

namespace
{
// Runs a property's native as a script language does: a setter with the value, a getter without arguments.
bool CallNative(const ScriptFunction& Function, void* pUserData, CArgumentArray& Arguments, CReturnValue* pResult)
{
	CNativeState State(nullptr, nullptr, &Arguments);
	const bool bOk = Function.GetNative()(&State, static_cast<int>(Arguments.GetArrayCount()), pUserData);
	if (pResult)
		State.m_RVal.Move(pResult);
	return bOk;
}

class WorldScriptMembers : public WorldMessages
{
protected:
	ReflectedNamespace* Game()
	{
		ReflectedNamespace* pGlobal = m_pServer->GetServer().GetResourceMgr().GetScripting()->GetGlobal();
		return pGlobal->GetNamespace("gta");
	}

	bool Set(ReflectedNamespace* pSpace, const char* szName, double dValue)
	{
		ReflectedProperty* pProperty = pSpace->GetProperty(szName);
		if (!pProperty)
			return false;
		CArgumentArray Arguments;
		Arguments.AddNumber(dValue);
		return CallNative(pProperty->m_Setter, pProperty->m_pUserData, Arguments, nullptr);
	}
};
}

TEST_F(WorldScriptMembers, ClockPropertiesCarryAndTheWeatherTakesAByte)
{
	Start("");
	ReflectedNamespace* pGame = Game();
	ASSERT_NE(pGame, nullptr);
	EXPECT_STREQ(pGame->GetAlias(), "game");
	ReflectedNamespace* pTime = pGame->GetNamespace("time");
	ASSERT_NE(pTime, nullptr);

	ASSERT_TRUE(Set(pTime, "hour", 5));
	ASSERT_TRUE(Set(pTime, "minute", 10));
	ASSERT_TRUE(Set(pTime, "second", 90));
	EXPECT_EQ(World().GetClock().m_ucMinute, 11);
	EXPECT_DOUBLE_EQ(World().GetClock().m_dMilliminutes, 500.0);
	ASSERT_TRUE(Set(pTime, "hour", -25));
	EXPECT_EQ(World().GetClock().m_ucHour, 23);
	EXPECT_EQ(World().GetClock().m_iDay, -2);

	ASSERT_TRUE(Set(pGame, "weather", 260));
	EXPECT_EQ(World().GetWeather(), 4);
	EXPECT_FALSE(World().IsWeatherForced());

	ReflectedProperty* pHour = pTime->GetProperty("hour");
	CArgumentArray NoArguments;
	CReturnValue Result;
	ASSERT_TRUE(CallNative(pHour->m_Getter, pHour->m_pUserData, NoArguments, &Result));
	ASSERT_NE(Result.GetReturnArgument(), nullptr);
	EXPECT_EQ(Result.GetReturnArgument()->GetType(), ARGUMENT_INTEGER);
}

TEST_F(WorldScriptMembers, MinuteDurationThatIsNotAboveZeroKeepsTheOldValue)
{
	Start("");
	ReflectedNamespace* pTime = Game()->GetNamespace("time");
	ASSERT_TRUE(Set(pTime, "minuteDuration", 3));
	EXPECT_TRUE(Set(pTime, "minuteDuration", -1));
	EXPECT_DOUBLE_EQ(World().GetClock().GetMinuteDuration(), 3.0);
}
