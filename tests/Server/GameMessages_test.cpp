// The game messages clients send, as two joined clients see them: ped actions with their events passed on to the
// other client and never back to the sender, vehicle entry and exit that a script can cancel, deaths, engine and
// siren, collected pickups, the camera interior, the GTA IV sessions and relays, and messages that end early or
// come from a client that does not sync the element, which change nothing. The server runs in the test's process
// with and without the network thread.

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "TwoClientGame.h"

#include "Elements/ServerPed.h"
#include "Elements/ServerPickup.h"
#include "Elements/ServerVehicle.h"
#include "Support/Transport.h"

using namespace ServerTest;
using namespace VexaTest;

namespace
{
typedef std::vector<uint8_t> tBytes;
typedef std::vector<tReceivedMessage> tMessages;

constexpr uint32_t MSG_PED_VEHICLE = 101;
constexpr uint32_t MSG_ENGINE = 120;
constexpr uint32_t MSG_SIREN = 121;
constexpr uint32_t MSG_IV_RELAY = 133;
constexpr uint32_t MSG_HOST_VEXA = 134;
constexpr uint32_t MSG_SESSION_INFO = 142;
constexpr uint32_t MSG_IV_RELAY_TAGGED = 143;
constexpr uint8_t RELAY_CHANNEL = 4;

constexpr uint32_t VEHICLE_TYPE = 142;
constexpr uint32_t PICKUP_TYPE = 4098;

const char* const IV_CONFIG = "\t<game>gta:iv</game>\n";
constexpr uint8_t GAME_IV = 5;

tBytes Cat(const tBytes& First, const tBytes& Second)
{
	tBytes All = First;
	All.insert(All.end(), Second.begin(), Second.end());
	return All;
}

// Every message of the game protocol among those given, apart from the world's own clock and weather updates.
tMessages GameTraffic(const tMessages& Messages)
{
	tMessages Result;
	for (const tReceivedMessage& Message : Messages)
	{
		const bool bWorld = Message.m_uiId == 103 || Message.m_uiId == 104 || Message.m_uiId == 109;
		if (Message.m_bHasHeader && Message.m_uiId > 100 && !bWorld)
			Result.push_back(Message);
	}
	return Result;
}

std::vector<uint32_t> Ids(const tMessages& Messages)
{
	std::vector<uint32_t> Result;
	for (const tReceivedMessage& Message : Messages)
		Result.push_back(Message.m_uiId);
	return Result;
}

class GameMessages : public ::testing::TestWithParam<bool>
{
protected:
	void Start(const std::string& Children = "", uint8_t ucGame = 1)
	{
		// One server at a time: the script engines allow one instance per process.
		m_pGame.reset();
		m_pGame = std::make_unique<CTwoClientGame>(Children, GetParam(), ucGame);
		ASSERT_TRUE(m_pGame->Start());
	}

	CTwoClientGame& Game() { return *m_pGame; }
	CGTAClient* Sender() { return m_pGame->Record(m_pGame->m_Sender); }
	CGTAClient* Other() { return m_pGame->Record(m_pGame->m_Other); }
	int32_t SenderPed() const { return m_pGame->m_iSenderPed; }
	int32_t OtherPed() const { return m_pGame->m_iOtherPed; }
	std::string Ped() const { return "#" + std::to_string(SenderPed()); }

	// A vehicle near the players that both clients have, synced by the client given.
	CServerVehicle* AddVehicle(CNetMachine* pSyncer)
	{
		CServerVehicle* pVehicle = m_pGame->Add<CServerVehicle>(VEHICLE_TYPE, CVector3D(3, 0, 0));
		EXPECT_TRUE(m_pGame->WaitUntilBothHave(pVehicle->GetId()));
		pVehicle->SetSyncer(pSyncer, true);
		Settle();
		return pVehicle;
	}

	void Settle()
	{
		m_pGame->Settle(m_ToSender, m_ToOther);
		m_ToSender = GameTraffic(m_ToSender);
		m_ToOther = GameTraffic(m_ToOther);
	}

	// Sends the message from the sending client and waits until the server has handled it.
	void SendAndSettle(const CTestMessage& Message, bool bFromOther = false)
	{
		(bFromOther ? m_pGame->m_Other : m_pGame->m_Sender).Send(Message);
		Settle();
	}

	// A valid message of every kind that names an element the sending client syncs: the sender's ped, the
	// vehicle and the pickup given.
	std::vector<CTestMessage> ElementMessages(int32_t iVehicle, int32_t iPickup)
	{
		const int32_t iPed = SenderPed();
		return {
			CTestMessage(106).I32(iPed).U8(2).I32(iVehicle),
			CTestMessage(107).I32(iPed).I32(-1).U8(1).U8(2),
			CTestMessage(120).I32(iVehicle).U8(1),
			CTestMessage(121).I32(iVehicle).U8(1),
			CTestMessage(123).I32(iPed).I32(1).I32(2).U8(3),
			CTestMessage(124).I32(iPed),
			CTestMessage(125).I32(iPed),
			CTestMessage(126).I32(iPed),
			CTestMessage(128).I32(iPed).U8(1).I32(2).I32(3),
			CTestMessage(132).I32(iPickup).I32(iPed),
			CTestMessage(144).I32(iPed).U8(1),
			CTestMessage(145).I32(iPed).U8(1),
			CTestMessage(146).I32(iPed).U8(1).U8(2).U8(3).U8(5),
			CTestMessage(147).U8(1).I32(iPed).F32(1.0f),
			CTestMessage(147).U8(2).I32(iPed).F32(1).F32(2).F32(3).F32(4).F32(5).F32(6).F32(1.0f),
			CTestMessage(148).I32(iPed),
		};
	}

	// The game's session relays are unreliable, and the transport throttles such messages when the round trips
	// of a link vary, which they do when the test services one client at a time: sends the message until its
	// relay reaches the other client. What the other client received meanwhile.
	tMessages SendUntilRelayed(const CTestMessage& Message, uint32_t uiId)
	{
		tMessages ToOther;
		// A safety bound only; the transport lets more through once its throttle recovers.
		const auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
		while (BodiesOf(ToOther, uiId).empty() && std::chrono::steady_clock::now() < Deadline)
		{
			SendAndSettle(Message);
			ToOther.insert(ToOther.end(), m_ToOther.begin(), m_ToOther.end());
			// It may also come in just after the marker, which travels on another channel.
			Settle();
			ToOther.insert(ToOther.end(), m_ToOther.begin(), m_ToOther.end());
		}
		return ToOther;
	}

	std::unique_ptr<CTwoClientGame> m_pGame;
	tMessages m_ToSender;
	tMessages m_ToOther;
};
}

// Each action is passed on to the other client as it came, never back to the sender, after its event.
TEST_P(GameMessages, PedActionsReachTheOtherClientAfterTheirEvents)
{
	Start();
	struct tCase
	{
		uint32_t m_uiId;
		// The body after the ped's id (147: after the kind and the id).
		tBytes m_Rest;
		const char* m_szEvent;
		const char* m_szEventRest;
	};
	const tCase rgCases[] = {
		{123, CTestMessage().I32(7).I32(-8).U8(0xFE).GetBytes(), "OnPedFall", ",7,-8,-2"},
		{124, {}, "OnPedJump", ""},
		{125, {}, "OnPedCrouch", ""},
		{126, {}, "OnPedUncrouch", ""},
		{128, CTestMessage().U8(1).I32(-2).I32(3).GetBytes(), nullptr, nullptr},
		{144, CTestMessage().U8(9).GetBytes(), nullptr, nullptr},
		{145, CTestMessage().U8(250).GetBytes(), nullptr, nullptr},
		{146, CTestMessage().U8(1).U8(2).U8(3).U8(4).GetBytes(), nullptr, nullptr},
		{148, {}, nullptr, nullptr},
	};
	for (const tCase& Case : rgCases)
	{
		SCOPED_TRACE(Case.m_uiId);
		const tBytes Body = Cat(CTestMessage().I32(SenderPed()).GetBytes(), Case.m_Rest);
		SendAndSettle(CTestMessage(Case.m_uiId).Bytes(Body));
		EXPECT_EQ(BodiesOf(m_ToOther, Case.m_uiId), std::vector<tBytes>{Body});
		EXPECT_TRUE(BodiesOf(m_ToSender, Case.m_uiId).empty());
		std::vector<tRecordedEvent> Expected;
		if (Case.m_szEvent)
			Expected.push_back({Case.m_szEvent, Ped() + Case.m_szEventRest});
		EXPECT_EQ(Game().TakeEvents(), Expected);
	}
}

// Kind 1 carries a duration, kind 2 two points before it; the duration must be above 0 and at most 2.
TEST_P(GameMessages, TimedPedActionPassesOnlyDurationsAboveZeroUpToTwo)
{
	Start();
	const float fInfinity = std::numeric_limits<float>::infinity();
	struct tCase
	{
		const char* m_szName;
		uint8_t m_ucKind;
		float m_fDuration;
		bool m_bPassed;
	};
	const tCase rgCases[] = {
		{"two", 1, 2.0f, true},
		{"just above zero", 1, 0.001f, true},
		{"between points", 2, 0.5f, true},
		{"zero", 1, 0.0f, false},
		{"negative", 2, -1.0f, false},
		{"above two", 1, 2.5f, false},
		{"not a number", 1, std::numeric_limits<float>::quiet_NaN(), false},
		{"infinite", 2, fInfinity, false},
		{"unknown kind", 3, 1.0f, false},
		{"kind zero", 0, 1.0f, false},
	};
	for (const tCase& Case : rgCases)
	{
		SCOPED_TRACE(Case.m_szName);
		CTestMessage Body;
		Body.U8(Case.m_ucKind).I32(SenderPed());
		if (Case.m_ucKind == 2)
			Body.F32(1).F32(2).F32(3).F32(-4).F32(-5).F32(-6);
		Body.F32(Case.m_fDuration);
		SendAndSettle(CTestMessage(147).Bytes(Body.GetBytes()));
		const std::vector<tBytes> Expected = Case.m_bPassed ? std::vector<tBytes>{Body.GetBytes()} : std::vector<tBytes>{};
		EXPECT_EQ(BodiesOf(m_ToOther, 147), Expected);
		EXPECT_TRUE(m_ToSender.empty());
	}
}

// Only the syncer of an element speaks for it: the other client naming the sender's ped, or elements that do not
// exist, changes nothing and raises nothing.
TEST_P(GameMessages, MessagesAboutElementsTheClientDoesNotSyncChangeNothing)
{
	Start();
	CServerVehicle* pVehicle = AddVehicle(Sender());
	const int32_t iVehicle = pVehicle->GetId();
	CServerPickup* pPickup = Game().Add<CServerPickup>(PICKUP_TYPE, CVector3D(1, 0, 0));
	pPickup->SetSyncer(Sender(), true);
	std::vector<CTestMessage> Messages = ElementMessages(iVehicle, pPickup->GetId());
	const int32_t iPed = SenderPed();
	// Seated, so that leaving would have something to do.
	static_cast<CServerPed*>(Game().Manager()->FromId(iPed, 0))->SetVehicleEnteringState(pVehicle, 0, VEHICLE_STATE_IN_VEHICLE);
	Settle();
	Messages.insert(Messages.end(), {
		CTestMessage(106).I32(iPed).U8(1),
		// No such element.
		CTestMessage(124).I32(0x7FFFFF00),
		// The vehicle is no ped, the ped no vehicle.
		CTestMessage(148).I32(iVehicle),
		CTestMessage(120).I32(OtherPed()).U8(1),
	});
	for (const CTestMessage& Message : Messages)
	{
		SCOPED_TRACE(static_cast<int>(Message.GetBytes()[4]));
		SendAndSettle(Message, true);
		EXPECT_EQ(Ids(m_ToSender), std::vector<uint32_t>{});
		EXPECT_EQ(Ids(m_ToOther), std::vector<uint32_t>{});
		EXPECT_EQ(Game().TakeEvents(), std::vector<tRecordedEvent>{});
	}
	EXPECT_FALSE(pVehicle->GetEngine());
	EXPECT_FALSE(pVehicle->GetSiren());
	EXPECT_EQ(pVehicle->GetSyncer(), static_cast<INetMachine*>(Sender()));
}

TEST_P(GameMessages, EnteringAndLeavingAVehicleUnlessAScriptCancels)
{
	Start();
	CServerVehicle* pVehicle = AddVehicle(Other());
	const int32_t iVehicle = pVehicle->GetId();
	const std::string Vehicle = "#" + std::to_string(iVehicle);
	CServerPed* pPed = static_cast<CServerPed*>(Game().Manager()->FromId(SenderPed(), 0));
	struct tCase
	{
		const char* m_szName;
		// The ped sits in the vehicle before the message.
		bool m_bInVehicle;
		const char* m_szCancelled;
		tBytes m_Body;
		std::vector<tRecordedEvent> m_Events;
		// The message both holders of the ped get, if any.
		tBytes m_Relayed;
		INetMachine* m_pVehicleSyncer;
	};
	const tBytes Enter = CTestMessage().I32(SenderPed()).U8(2).I32(iVehicle).GetBytes();
	const tBytes Passenger = CTestMessage().I32(SenderPed()).U8(3).I32(iVehicle).GetBytes();
	const tBytes Exit = CTestMessage().I32(SenderPed()).U8(1).GetBytes();
	const tCase rgCases[] = {
		{"entry cancelled", false, "OnPedEnterVehicle", Enter, {{"OnPedEnterVehicle", Ped() + "," + Vehicle + ",1"}},
			{}, Other()},
		{"entry as driver", false, nullptr, Enter, {{"OnPedEnterVehicle", Ped() + "," + Vehicle + ",1"}}, Enter,
			Sender()},
		{"entry as passenger", false, nullptr, Passenger, {{"OnPedEnterVehicle", Ped() + "," + Vehicle + ",0"}},
			Passenger, Sender()},
		{"entry into no vehicle", false, nullptr, CTestMessage().I32(SenderPed()).U8(2).I32(OtherPed()).GetBytes(), {},
			{}, Other()},
		{"exit while in no vehicle", false, nullptr, Exit, {}, {}, Other()},
		{"exit cancelled", true, "OnPedExitVehicle", Exit, {{"OnPedExitVehicle", Ped() + "," + Vehicle}}, {}, Other()},
		{"exit", true, nullptr, Exit, {{"OnPedExitVehicle", Ped() + "," + Vehicle}}, Exit, Other()},
		{"action 0", true, nullptr, CTestMessage().I32(SenderPed()).U8(0).I32(iVehicle).GetBytes(), {}, {}, Other()},
		{"action 4", true, nullptr, CTestMessage().I32(SenderPed()).U8(4).I32(iVehicle).GetBytes(), {}, {}, Other()},
	};
	for (const tCase& Case : rgCases)
	{
		SCOPED_TRACE(Case.m_szName);
		Game().SetCancelledEvent(Case.m_szCancelled ? Case.m_szCancelled : "");
		pVehicle->SetSyncer(Other(), true);
		pPed->SetVehicleEnteringState(Case.m_bInVehicle ? pVehicle : nullptr, 0,
			Case.m_bInVehicle ? VEHICLE_STATE_IN_VEHICLE : VEHICLE_STATE_NONE);
		Settle();
		// The vehicle's syncer may change: it is forced only against sync, not against entry.
		pVehicle->SetSyncer(Other(), false);
		SendAndSettle(CTestMessage(MSG_VEHICLE_ACTION).Bytes(Case.m_Body));
		EXPECT_EQ(Game().TakeEvents(), Case.m_Events);
		const std::vector<tBytes> Relayed = Case.m_Relayed.empty() ? std::vector<tBytes>{} : std::vector<tBytes>{Case.m_Relayed};
		EXPECT_EQ(BodiesOf(m_ToSender, MSG_VEHICLE_ACTION), Relayed);
		EXPECT_EQ(BodiesOf(m_ToOther, MSG_VEHICLE_ACTION), Relayed);
		EXPECT_EQ(pVehicle->GetSyncer(), Case.m_pVehicleSyncer);
		Game().TakeEvents();
	}
}

// A handler that destroys the ped it is told about ends the message: nothing more is said of the ped. A vehicle
// destroyed by the handler is not given a syncer, and the entry is still passed on.
TEST_P(GameMessages, ElementsAHandlerDestroysAreNotSpokenOfAgain)
{
	Start();
	CServerVehicle* pVehicle = AddVehicle(Other());
	const int32_t iVehicle = pVehicle->GetId();
	CGTAServerManager* pManager = Game().Manager();
	// Another ped the sender syncs: its own player carries the markers.
	CServerPed* pPed = Game().Add<CServerPed>(30, CVector3D(2, 0, 0));
	pPed->SetSyncer(Sender(), true);
	const int32_t iPed = pPed->GetId();
	ASSERT_TRUE(Game().WaitUntilBothHave(iPed));
	struct tCase
	{
		eGameEvent m_eEvent;
		CTestMessage m_Message;
		// The element the handler destroys.
		int32_t m_iDestroyed;
		// What the other client is sent about it; empty for nothing.
		tBytes m_Relayed;
	};
	const tCase rgCases[] = {
		{GAME_EVENT_PED_ENTER_VEHICLE, CTestMessage(MSG_VEHICLE_ACTION).I32(iPed).U8(3).I32(iVehicle), iVehicle,
			CTestMessage().I32(iPed).U8(3).I32(iVehicle).GetBytes()},
		{GAME_EVENT_PED_JUMP, CTestMessage(124).I32(iPed), iPed, {}},
	};
	for (const tCase& Case : rgCases)
	{
		SCOPED_TRACE(Case.m_iDestroyed);
		const uint32_t uiId = Case.m_Message.GetBytes()[4];
		pManager->GetEventType(Case.m_eEvent)->AddHandler(new ReplicationTest::CLambdaHandler(
			Game().Game().GetResourceMgr().GetEventHandlers(), [&](EventHandlers::CEvent*, const CArgumentArray&) {
				if (CNetObject* pElement = pManager->FromId(Case.m_iDestroyed, 0))
					pManager->DestroyObject(pElement, true, false);
			}));
		SendAndSettle(Case.m_Message);
		EXPECT_EQ(pManager->FromId(Case.m_iDestroyed, 0), nullptr);
		EXPECT_EQ(BodiesOf(m_ToOther, uiId),
			Case.m_Relayed.empty() ? std::vector<tBytes>{} : std::vector<tBytes>{Case.m_Relayed});
	}
}

TEST_P(GameMessages, DeathsRaiseTheirEventAndAreNotPassedOn)
{
	Start();
	const std::string Client = "client:" + std::to_string(Sender()->GetIndex());
	struct tCase
	{
		int32_t m_iKiller;
		std::string m_Killer;
	};
	const tCase rgCases[] = {{OtherPed(), "#" + std::to_string(OtherPed())}, {-1, "nil"}, {0x7FFFFF00, "nil"}};
	for (const tCase& Case : rgCases)
	{
		SCOPED_TRACE(Case.m_iKiller);
		SendAndSettle(CTestMessage(107).I32(SenderPed()).I32(Case.m_iKiller).U8(49).U8(200));
		EXPECT_EQ(Game().TakeEvents(),
			(std::vector<tRecordedEvent>{{"OnPedWasted", Ped() + "," + Case.m_Killer + ",49,200," + Client}}));
		EXPECT_TRUE(m_ToOther.empty());
		EXPECT_TRUE(m_ToSender.empty());
	}
}

// Engine and siren changes reach every holder, the sender too; repeating the current value sends nothing.
TEST_P(GameMessages, EngineAndSirenChangesGoToTheHolders)
{
	Start();
	CServerVehicle* pVehicle = AddVehicle(Sender());
	const int32_t iVehicle = pVehicle->GetId();
	struct tCase
	{
		uint32_t m_uiId;
		uint8_t m_ucValue;
		// What every holder hears; empty for nothing.
		tBytes m_Sent;
	};
	const tCase rgCases[] = {
		{MSG_ENGINE, 1, CTestMessage().I32(iVehicle).U8(1).GetBytes()},
		{MSG_ENGINE, 7, {}},
		{MSG_ENGINE, 0, CTestMessage().I32(iVehicle).U8(0).GetBytes()},
		{MSG_SIREN, 0, {}},
		{MSG_SIREN, 5, CTestMessage().I32(iVehicle).U8(1).GetBytes()},
		{MSG_SIREN, 1, {}},
		{MSG_SIREN, 0, CTestMessage().I32(iVehicle).U8(0).GetBytes()},
	};
	for (const tCase& Case : rgCases)
	{
		SCOPED_TRACE(std::to_string(Case.m_uiId) + " " + std::to_string(Case.m_ucValue));
		SendAndSettle(CTestMessage(Case.m_uiId).I32(iVehicle).U8(Case.m_ucValue));
		const std::vector<tBytes> Expected = Case.m_Sent.empty() ? std::vector<tBytes>{} : std::vector<tBytes>{Case.m_Sent};
		EXPECT_EQ(BodiesOf(m_ToSender, Case.m_uiId), Expected);
		EXPECT_EQ(BodiesOf(m_ToOther, Case.m_uiId), Expected);
		EXPECT_EQ(Case.m_uiId == MSG_ENGINE ? pVehicle->GetEngine() : pVehicle->GetSiren(), Case.m_ucValue != 0);
	}
}

TEST_P(GameMessages, PickupCollectedByItsSyncer)
{
	Start();
	CServerPickup* pPickup = Game().Add<CServerPickup>(PICKUP_TYPE, CVector3D(1, 0, 0));
	ASSERT_TRUE(Game().WaitUntilBothHave(pPickup->GetId()));
	// Pickups find no syncer of their own choosing; the lowest slot holding it takes over.
	ASSERT_TRUE(Game().Server().PassUntil([&] { return pPickup->GetSyncer() == static_cast<INetMachine*>(Sender()); }));
	const std::string Pickup = "#" + std::to_string(pPickup->GetId());
	struct tCase
	{
		const char* m_szName;
		int32_t m_iPickup;
		int32_t m_iPed;
		std::vector<tRecordedEvent> m_Events;
	};
	const tCase rgCases[] = {
		{"by its own player", pPickup->GetId(), SenderPed(), {{"OnPickupCollected", Pickup + "," + Ped()}}},
		{"naming another ped", pPickup->GetId(), OtherPed(),
			{{"OnPickupCollected", Pickup + ",#" + std::to_string(OtherPed())}}},
		{"no such ped", pPickup->GetId(), 0x7FFFFF00, {}},
		{"a ped is no pickup", SenderPed(), SenderPed(), {}},
	};
	for (const tCase& Case : rgCases)
	{
		SCOPED_TRACE(Case.m_szName);
		SendAndSettle(CTestMessage(132).I32(Case.m_iPickup).I32(Case.m_iPed));
		EXPECT_EQ(Game().TakeEvents(), Case.m_Events);
		EXPECT_TRUE(m_ToOther.empty());
	}
}

TEST_P(GameMessages, CameraInteriorIsStoredWithoutAnAnswer)
{
	Start();
	SendAndSettle(CTestMessage(151).U8(200));
	EXPECT_EQ(Sender()->GetCameraInterior(), 200);
	EXPECT_EQ(Other()->GetCameraInterior(), 0);
	EXPECT_TRUE(m_ToSender.empty());
	EXPECT_TRUE(m_ToOther.empty());
}

// Sessions of the game's own: the client's state (138), its episode (139) and the session information clients
// leave for each other (140, 141).
TEST_P(GameMessages, SessionStateAndInformationOnGTAIV)
{
	Start(IV_CONFIG, GAME_IV);
	SendAndSettle(CTestMessage(138).U8(1).U8(0xFE).U8(3));
	EXPECT_EQ(Sender()->m_iEpisode, -2);
	EXPECT_EQ(Sender()->m_iSessionGameMode, 3);
	EXPECT_TRUE(m_ToSender.empty());

	const int32_t iOther = Other()->GetIndex();
	tBytes Longest(255);
	for (size_t i = 0; i < Longest.size(); i++)
		Longest[i] = static_cast<uint8_t>(i);
	struct tCase
	{
		const char* m_szName;
		// What the other client stores; empty to leave it.
		tBytes m_Store;
		uint16_t m_usAsked;
		// The answer's body; empty for none.
		tBytes m_Answer;
	};
	const tCase rgCases[] = {
		{"nothing stored yet", {}, static_cast<uint16_t>(iOther), CTestMessage().U16(static_cast<uint16_t>(iOther)).U8(0).GetBytes()},
		{"three bytes", CTestMessage().U8(1).U8(3).U8(7).U8(8).U8(9).GetBytes(), static_cast<uint16_t>(iOther),
			CTestMessage().U16(static_cast<uint16_t>(iOther)).U8(1).U8(3).U8(7).U8(8).U8(9).GetBytes()},
		{"the longest", Cat(CTestMessage().U8(1).U8(255).GetBytes(), Longest), static_cast<uint16_t>(iOther),
			Cat(CTestMessage().U16(static_cast<uint16_t>(iOther)).U8(1).U8(255).GetBytes(), Longest)},
		{"cleared", CTestMessage().U8(0).GetBytes(), static_cast<uint16_t>(iOther),
			CTestMessage().U16(static_cast<uint16_t>(iOther)).U8(0).GetBytes()},
		{"empty but set", CTestMessage().U8(3).U8(0).GetBytes(), static_cast<uint16_t>(iOther),
			CTestMessage().U16(static_cast<uint16_t>(iOther)).U8(1).U8(0).GetBytes()},
		{"announcing more than it holds keeps what was", CTestMessage().U8(1).U8(4).U8(1).GetBytes(),
			static_cast<uint16_t>(iOther), CTestMessage().U16(static_cast<uint16_t>(iOther)).U8(1).U8(0).GetBytes()},
		{"an empty slot", {}, 200, {}},
		{"past the slots", {}, 256, {}},
		{"the console", {}, 255, CTestMessage().U16(255).U8(0).GetBytes()},
	};
	for (const tCase& Case : rgCases)
	{
		SCOPED_TRACE(Case.m_szName);
		if (!Case.m_Store.empty())
			SendAndSettle(CTestMessage(140).Bytes(Case.m_Store), true);
		SendAndSettle(CTestMessage(141).U16(Case.m_usAsked));
		const std::vector<tBytes> Expected = Case.m_Answer.empty() ? std::vector<tBytes>{} : std::vector<tBytes>{Case.m_Answer};
		EXPECT_EQ(BodiesOf(m_ToSender, MSG_SESSION_INFO), Expected);
		EXPECT_TRUE(m_ToOther.empty());
	}
}

// The server's forced episode wins over the client's; with a forced game mode and the game's own sessions the
// client goes into a quick match, otherwise it is told to play without one.
TEST_P(GameMessages, EpisodeAnswers)
{
	struct tCase
	{
		const char* m_szName;
		std::string m_Config;
		uint8_t m_ucGame;
		int8_t m_cEpisode;
		uint32_t m_uiAnswer;
		tBytes m_Body;
		int32_t m_iGameMode;
		int32_t m_iEpisode;
	};
	const tCase rgCases[] = {
		{"IV defaults", IV_CONFIG, GAME_IV, 1, MSG_QUICK_MATCH, CTestMessage().I32(8).I32(1).GetBytes(), 8, 1},
		{"forced episode", std::string(IV_CONFIG) + "\t<iv_episode>2</iv_episode>\n", GAME_IV, 0, MSG_QUICK_MATCH,
			CTestMessage().I32(8).I32(2).GetBytes(), 8, 2},
		{"no forced game mode", std::string(IV_CONFIG) + "\t<iv_gamemode>-1</iv_gamemode>\n", GAME_IV, -1,
			MSG_HOST_VEXA, CTestMessage().I32(-1).GetBytes(), -1, -1},
		{"without the game's sessions", std::string(IV_CONFIG) + "\t<iv_nativemultiplayer>false</iv_nativemultiplayer>\n",
			GAME_IV, 1, MSG_HOST_VEXA, CTestMessage().I32(1).GetBytes(), -1, 1},
		{"GTA III", "", 1, 2, MSG_HOST_VEXA, CTestMessage().I32(2).GetBytes(), -1, 2},
	};
	for (const tCase& Case : rgCases)
	{
		SCOPED_TRACE(Case.m_szName);
		Start(Case.m_Config, Case.m_ucGame);
		SendAndSettle(CTestMessage(139).U8(static_cast<uint8_t>(Case.m_cEpisode)));
		ASSERT_EQ(Ids(m_ToSender), std::vector<uint32_t>{Case.m_uiAnswer});
		EXPECT_EQ(m_ToSender[0].m_Body, Case.m_Body);
		EXPECT_EQ(Sender()->m_iSessionGameMode, Case.m_iGameMode);
		EXPECT_EQ(Sender()->m_iEpisode, Case.m_iEpisode);
		EXPECT_TRUE(m_ToOther.empty());
	}
}

// The game's own session traffic: passed on to the client in the target slot, unreliable on channel 4, with the
// sender's index where the target's was.
TEST_P(GameMessages, SessionRelaysReachTheirTargetOnly)
{
	Start(IV_CONFIG, GAME_IV);
	const uint16_t usOther = static_cast<uint16_t>(Other()->GetIndex());
	const uint16_t usSender = static_cast<uint16_t>(Sender()->GetIndex());
	const tBytes Longest(4096, 0x5A);
	struct tCase
	{
		const char* m_szName;
		uint16_t m_usTarget;
		uint16_t m_usCount;
		tBytes m_Rest;
		bool m_bRelayed;
	};
	const tCase rgCases[] = {
		{"three bytes", usOther, 3, {1, 2, 3}, true},
		{"more bytes than counted", usOther, 1, {1, 2, 3}, true},
		{"a count of zero", usOther, 0, {1, 2, 3}, false},
		{"fewer bytes than counted", usOther, 4, {1, 2, 3}, false},
		{"a rest too long", usOther, 1, tBytes(4097, 0x5A), false},
		{"an empty slot", 100, 3, {1, 2, 3}, false},
		{"past the slots", 256, 3, {1, 2, 3}, false},
		// Last: the transport sends a message this long in reliable pieces, after which it may drop short
		// unreliable ones that overtake them.
		{"the longest rest", usOther, 4096, Longest, true},
	};
	for (const tCase& Case : rgCases)
	{
		for (uint32_t uiId : {MSG_IV_RELAY, MSG_IV_RELAY_TAGGED})
		{
			SCOPED_TRACE(std::to_string(uiId) + " " + Case.m_szName);
			CTestMessage Message(uiId);
			CTestMessage Expected;
			if (uiId == MSG_IV_RELAY_TAGGED)
			{
				Message.U16(0xBEEF);
				Expected.U16(0xBEEF);
			}
			Message.U16(Case.m_usTarget).U16(Case.m_usCount).Bytes(Case.m_Rest);
			Expected.U16(usSender).U16(Case.m_usCount).Bytes(Case.m_Rest);
			const tMessages ToOther = Case.m_bRelayed ? SendUntilRelayed(Message, uiId) : (SendAndSettle(Message), m_ToOther);
			EXPECT_TRUE(m_ToSender.empty());
			const std::vector<tBytes> Bodies = BodiesOf(ToOther, uiId);
			if (Case.m_bRelayed)
			{
				ASSERT_FALSE(Bodies.empty());
				for (const tBytes& Body : Bodies)
					EXPECT_EQ(Body, Expected.GetBytes());
			}
			else
				EXPECT_TRUE(Bodies.empty());
			for (const tReceivedMessage& Received : ToOther)
			{
				if (Received.m_uiId == uiId)
				{
					EXPECT_EQ(Received.m_ucChannel, RELAY_CHANNEL);
				}
			}
		}
	}
}

// Without the game's own sessions (any game but IV, or switched off) the session messages do nothing.
TEST_P(GameMessages, SessionMessagesNeedTheGamesOwnSessions)
{
	for (const std::pair<std::string, uint8_t>& Server :
		{std::pair<std::string, uint8_t>("", 1),
			std::pair<std::string, uint8_t>(std::string(IV_CONFIG) + "\t<iv_nativemultiplayer>0</iv_nativemultiplayer>\n", GAME_IV)})
	{
		SCOPED_TRACE(Server.first);
		Start(Server.first, Server.second);
		const uint16_t usOther = static_cast<uint16_t>(Other()->GetIndex());
		SendAndSettle(CTestMessage(140).U8(1).U8(2).U8(5).U8(6));
		EXPECT_FALSE(Sender()->m_bHasSessionInfo);
		SendAndSettle(CTestMessage(141).U16(usOther));
		SendAndSettle(CTestMessage(133).U16(usOther).U16(1).U8(1));
		SendAndSettle(CTestMessage(143).U16(1).U16(usOther).U16(1).U8(1));
		EXPECT_TRUE(m_ToSender.empty());
		EXPECT_TRUE(m_ToOther.empty());
	}
}

// Every handler reads its whole message before it acts: each message cut anywhere short changes nothing, and
// the whole message does what it should.
TEST_P(GameMessages, MessagesThatEndEarlyChangeNothing)
{
	Start(IV_CONFIG, GAME_IV);
	CServerVehicle* pVehicle = AddVehicle(Sender());
	const int32_t iVehicle = pVehicle->GetId();
	CServerPickup* pPickup = Game().Add<CServerPickup>(PICKUP_TYPE, CVector3D(1, 0, 0));
	pPickup->SetSyncer(Sender(), true);
	const uint16_t usOther = static_cast<uint16_t>(Other()->GetIndex());
	std::vector<CTestMessage> Messages = ElementMessages(iVehicle, pPickup->GetId());
	Messages.insert(Messages.end(), {
		CTestMessage(133).U16(usOther).U16(2).U8(1).U8(2),
		CTestMessage(138).U8(1).U8(2).U8(3),
		CTestMessage(139).U8(1),
		CTestMessage(140).U8(1).U8(2).U8(1).U8(2),
		CTestMessage(141).U16(usOther),
		CTestMessage(143).U16(7).U16(usOther).U16(2).U8(1).U8(2),
		CTestMessage(151).U8(9),
	});
	// What a message can change besides events and messages.
	auto State = [&] {
		CGTAClient* pSender = Sender();
		return std::vector<int64_t>{pVehicle->GetEngine(), pVehicle->GetSiren(), pSender->GetCameraInterior(),
			pSender->m_iEpisode, pSender->m_iSessionGameMode, pSender->m_bHasSessionInfo,
			static_cast<int64_t>(pSender->m_ulSessionInfoLength), static_cast<int64_t>(Game().Manager()->GetObjectCount())};
	};
	for (const CTestMessage& Message : Messages)
	{
		const tBytes& Whole = Message.GetBytes();
		SCOPED_TRACE(static_cast<int>(Whole[4]));
		for (size_t Length = MESSAGE_HEADER_SIZE; Length < Whole.size(); Length++)
		{
			SCOPED_TRACE(Length - MESSAGE_HEADER_SIZE);
			const std::vector<int64_t> Before = State();
			Game().m_Sender.SendRaw(Whole.data(), Length);
			Settle();
			EXPECT_EQ(State(), Before);
			EXPECT_EQ(Ids(m_ToSender), std::vector<uint32_t>{});
			EXPECT_EQ(Ids(m_ToOther), std::vector<uint32_t>{});
			EXPECT_EQ(Game().TakeEvents(), std::vector<tRecordedEvent>{});
		}
		const std::vector<int64_t> Before = State();
		SendAndSettle(Message);
		bool bSomething = !Game().TakeEvents().empty() || State() != Before || !m_ToSender.empty() || !m_ToOther.empty();
		if (!bSomething && (Whole[4] == 133 || Whole[4] == 143))
			bSomething = !SendUntilRelayed(Message, Whole[4]).empty();
		EXPECT_TRUE(bSomething) << "the whole message did nothing";
	}
}

// Until a client has passed the file check the game messages it sends are dropped; afterwards they count.
TEST_P(GameMessages, UnverifiedClientsCannotSendGameMessages)
{
	Start();
	CGameClient Joining;
	Game().Server().Attach(Joining);
	tJoinInfo Info;
	std::vector<std::string> Paths;
	ASSERT_TRUE(Joining.Connect(Game().Server().GetPort()));
	tJoinRequest Request;
	Request.m_Name = "Joining";
	ASSERT_TRUE(Joining.SendJoinRequest(Request));
	ASSERT_TRUE(Joining.WaitForJoinInfo(Info) && Joining.WaitForFileCheckRequest(Paths));
	CGTAClient* pRecord = static_cast<CGTAClient*>(Game().Game().GetClients().GetMachine(Info.m_iIndex));
	ASSERT_NE(pRecord, nullptr);

	const CTestMessage Interior = CTestMessage(151).U8(9);
	const CTestMessage Episode = CTestMessage(139).U8(1);
	ASSERT_TRUE(Joining.Send(Interior) && Joining.Send(Episode) && Joining.SendFileCheckAnswer({}));
	ASSERT_TRUE(Game().Server().PassUntil([&] { return pRecord->IsVerified(); }));
	EXPECT_EQ(pRecord->GetCameraInterior(), 0);

	// Messages are handled in order: the answer to the episode sent now is the first the client gets.
	ASSERT_TRUE(Joining.Send(Interior) && Joining.Send(Episode));
	tReceivedMessage Answer;
	ASSERT_TRUE(Joining.WaitForMessage(MSG_HOST_VEXA, Answer));
	EXPECT_EQ(Answer.m_Body, CTestMessage().I32(1).GetBytes());
	EXPECT_EQ(pRecord->GetCameraInterior(), 9);
	Joining.Service(50);
	tReceivedMessage Another;
	EXPECT_FALSE(Joining.WaitForMessage(MSG_HOST_VEXA, Another, 0));
}

INSTANTIATE_TEST_SUITE_P(Transport, GameMessages, ::testing::Bool(), DescribeTransport);
