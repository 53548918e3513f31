// What the game's elements do beyond their blocks: headings and rotations, seats and who may sync a vehicle,
// when a ped exists for a client, what removing a vehicle does to the peds in it, the messages their changes send
// to the holders, the default colours, and the positions of blips.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <string>

#include "GameElementFixture.h"

#include "Elements/ServerBlip.h"
#include "Elements/ServerMarker.h"
#include "Elements/ServerPlayer.h"
#include "Elements/ServerTrain.h"

using namespace ElementTest;

namespace
{
// A ped's sync block naming a vehicle, seat and state; every other field at the ped's defaults.
std::vector<uint8_t> PedSync(CGameElements& Game, int32_t iVehicle, uint8_t ucSeat, uint8_t ucState, uint32_t uiType)
{
	Strong<CServerPed> pTemplate = Game.Make<CServerPed>(uiType);
	std::vector<uint8_t> Block = SyncBlock(pTemplate);
	// Vehicle state, vehicle id and seat follow the ped sync value, three vectors and three floats.
	const size_t At = 4 + 36 + 12;
	Block[At] = ucState;
	memcpy(&Block[At + 1], &iVehicle, 4);
	Block[At + 5] = ucSeat;
	return Block;
}
}

TEST(ElementBehaviour, HeadingsAndRotations)
{
	CGameElements Game("gta:sa");
	Strong<CServerEntity> pVehicle = Game.Make<CServerEntity>(ELEMENT_VEHICLE);
	pVehicle->SetPosition(CVector3D(1, 2, 3));
	pVehicle->SetHeading(1.0f);
	EXPECT_NEAR(pVehicle->GetHeading(), 1.0f, 1e-6f);
	CVector3D vecPosition;
	pVehicle->GetPosition(vecPosition);
	EXPECT_FLOAT_EQ(vecPosition.z, 3.0f);

	Strong<CServerPed> pPed = Game.Make<CServerPed>(ELEMENT_PED);
	pPed->SetHeading(2.7182817f);
	EXPECT_EQ(pPed->GetHeading(), 2.7182817f);

	const CVector3D rgRotations[] = {CVector3D(0, static_cast<float>(M_PI / 2), 0),
		CVector3D(0, static_cast<float>(-M_PI / 2), 0), CVector3D(0.3f, 0.2f, 0.1f), CVector3D(0, 0, 3.0f)};
	for (const CVector3D& Rotation : rgRotations)
	{
		SCOPED_TRACE(std::to_string(Rotation.x) + " " + std::to_string(Rotation.y) + " " + std::to_string(Rotation.z));
		pVehicle->SetRotation(Rotation);
		CVector3D vecRead;
		ASSERT_TRUE(pVehicle->GetRotation(vecRead));
		EXPECT_FALSE(std::isnan(vecRead.x) || std::isnan(vecRead.y) || std::isnan(vecRead.z));
		EXPECT_NEAR(std::fabs(vecRead.y), std::fabs(Rotation.y), 1e-3f);
		pVehicle->GetPosition(vecPosition);
		EXPECT_FLOAT_EQ(vecPosition.y, 2.0f);
	}
}

TEST(ElementBehaviour, SeatsFillFromPedSyncAndOnlyCountWhileThePedAgrees)
{
	CGameElements Game("gta:iii");
	Strong<CServerVehicle> pVehicle = Game.Make<CServerVehicle>(ELEMENT_VEHICLE, true);
	Strong<CServerPed> pPed = Game.Make<CServerPed>(ELEMENT_PED, true);
	CFakeClient* pClient = Game.AddClient(0);
	CFakeClient* pOther = Game.AddClient(1);
	pVehicle->SetSyncer(pClient);
	const int32_t iVehicle = pVehicle->GetId();

	struct tCase
	{
		const char* m_szName;
		int32_t m_iVehicle;
		uint8_t m_ucSeat;
		int m_iOccupiedSeat;
	};
	const tCase rgCases[] = {
		{"driver", iVehicle, 0, 0},
		{"passenger", iVehicle, 8, 8},
		{"seat 9 is no seat", iVehicle, 9, -1},
		{"seat 255 is no seat", iVehicle, 255, -1},
		{"unknown vehicle", iVehicle + 100, 1, -1},
		{"left the vehicle", -1, 0, -1},
	};
	for (const tCase& Case : rgCases)
	{
		SCOPED_TRACE(Case.m_szName);
		ASSERT_TRUE(pPed->ReadSyncPacket(Reading(PedSync(Game, Case.m_iVehicle, Case.m_ucSeat, 3, ELEMENT_PED))));
		for (uint32_t uiSeat = 0; uiSeat < 12; uiSeat++)
			EXPECT_EQ(pVehicle->GetOccupant(uiSeat) != nullptr, static_cast<int>(uiSeat) == Case.m_iOccupiedSeat) << uiSeat;
		// An empty vehicle sends no sync, even with its stale reference still held.
		EXPECT_EQ(pVehicle->CanSendSync(), Case.m_iOccupiedSeat >= 0);
		EXPECT_EQ(pVehicle->CanSendSync(pOther), Case.m_iOccupiedSeat >= 0);
	}
}

TEST(ElementBehaviour, PedInAVehicleExistsOnlyWhereTheVehicleDoes)
{
	CGameElements Game("gta:vc");
	CFakeClient* pClient = Game.AddClient(0);
	Strong<CServerVehicle> pVehicle = Game.Make<CServerVehicle>(ELEMENT_VEHICLE, true);
	Strong<CServerPed> pPed = Game.Make<CServerPed>(ELEMENT_PED, true);
	EXPECT_TRUE(pPed->CanExistForMachine(pClient));
	ASSERT_TRUE(pPed->ReadSyncPacket(Reading(PedSync(Game, pVehicle->GetId(), 1, 3, ELEMENT_PED))));
	EXPECT_FALSE(pPed->CanExistForMachine(pClient));
	pVehicle->SetCreatedFor(pClient, true);
	EXPECT_TRUE(pPed->CanExistForMachine(pClient));
}

TEST(ElementBehaviour, DriverTakesTheVehiclesSyncPassengerDoesNot)
{
	struct tCase
	{
		const char* m_szName;
		uint8_t m_ucSeat;
		uint8_t m_ucState;
		bool m_bTakes;
	};
	const tCase rgCases[] = {
		{"driver in the vehicle", 0, 3, true},
		{"passenger", 1, 3, false},
		{"driver still entering", 0, 2, false},
	};
	for (const char* szGame : {"gta:sa", "gta:iv"})
	{
		for (const tCase& Case : rgCases)
		{
			SCOPED_TRACE(std::string(szGame) + " " + Case.m_szName);
			CGameElements Game(szGame);
			CFakeClient* pDriver = Game.AddClient(0);
			CFakeClient* pOther = Game.AddClient(1);
			Strong<CServerVehicle> pVehicle = Game.Make<CServerVehicle>(ELEMENT_VEHICLE, true);
			Strong<CServerPlayer> pPlayer = Game.Make<CServerPlayer>(ELEMENT_PLAYER, true);
			pVehicle->SetSyncer(pOther);
			pPlayer->SetSyncer(pDriver, true);
			ASSERT_TRUE(pPlayer->ReadSyncPacket(
				Reading(PedSync(Game, pVehicle->GetId(), Case.m_ucSeat, Case.m_ucState, ELEMENT_PLAYER))));
			EXPECT_EQ(pVehicle->GetSyncer(), Case.m_bTakes ? pDriver : pOther);
		}
	}
}

TEST(ElementBehaviour, RemovingAVehicleTakesOutPlayersAndDestroysClientPeds)
{
	CGameElements Game("gta:sa");
	CFakeClient* pClient = Game.AddClient(0);
	Strong<CServerVehicle> pVehicle = Game.Make<CServerVehicle>(ELEMENT_VEHICLE, true);
	Strong<CServerPlayer> pPlayer = Game.Make<CServerPlayer>(ELEMENT_PLAYER, true);
	Strong<CServerPed> pPed = Game.Make<CServerPed>(ELEMENT_PED, true);
	Strong<CServerPed> pWalker = Game.Make<CServerPed>(ELEMENT_PED, true);
	const int32_t iVehicle = pVehicle->GetId();
	ASSERT_TRUE(pPlayer->ReadSyncPacket(Reading(PedSync(Game, iVehicle, 0, 3, ELEMENT_PLAYER))));
	ASSERT_TRUE(pPed->ReadSyncPacket(Reading(PedSync(Game, iVehicle, 1, 3, ELEMENT_PED))));
	// Entering is not sitting in it: this ped stays as it is.
	ASSERT_TRUE(pWalker->ReadSyncPacket(Reading(PedSync(Game, iVehicle, 2, 1, ELEMENT_PED))));
	pPlayer->SetCreatedFor(pClient, true);

	ASSERT_TRUE(Game.Manager()->DestroyObject(pVehicle, true, false));
	EXPECT_TRUE(pPlayer->IsRegistered());
	EXPECT_EQ(pPlayer->GetVehicleId(), -1);
	EXPECT_EQ(pPlayer->GetVehicleState(), VEHICLE_STATE_NONE);
	EXPECT_FALSE(pPed->IsRegistered());
	EXPECT_TRUE(pWalker->IsRegistered());
	EXPECT_EQ(pWalker->GetVehicleId(), iVehicle);
	const std::vector<std::vector<uint8_t>> Sent = Bodies(pClient->m_Sent, ELEMENT_MESSAGE_PED_VEHICLE);
	ASSERT_EQ(Sent.size(), 1u);
	EXPECT_EQ(Sent[0], CTestMessage().I32(pPlayer->GetId()).I32(-1).U8(0).U8(0).GetBytes());
}

TEST(ElementBehaviour, ChangesTellTheHolders)
{
	struct tCase
	{
		const char* m_szName;
		std::function<void(CServerVehicle*, CServerPlayer*)> m_Change;
		uint32_t m_uiMessage;
		// The expected bodies after the element's id, in order.
		std::vector<std::vector<uint8_t>> m_Bodies;
		bool m_bAboutPlayer;
	};
	const tCase rgCases[] = {
		{"engine twice", [](CServerVehicle* v, CServerPlayer*) { v->SetEngine(true); v->SetEngine(true); },
			ELEMENT_MESSAGE_VEHICLE_ENGINE, {CTestMessage().U8(1).GetBytes()}, false},
		{"siren on and off", [](CServerVehicle* v, CServerPlayer*) { v->SetSiren(false); v->SetSiren(true); v->SetSiren(false); },
			ELEMENT_MESSAGE_VEHICLE_SIREN, {CTestMessage().U8(1).GetBytes(), CTestMessage().U8(0).GetBytes()}, false},
		{"lock", [](CServerVehicle* v, CServerPlayer*) { v->SetDoorsLocked(1); v->SetDoorsLocked(2); },
			ELEMENT_MESSAGE_VEHICLE_LOCK, {CTestMessage().U8(2).GetBytes()}, false},
		{"fix always", [](CServerVehicle* v, CServerPlayer*) { v->Fix(); v->Fix(); },
			ELEMENT_MESSAGE_VEHICLE_FIX, {{}, {}}, false},
		{"palette colours", [](CServerVehicle* v, CServerPlayer*) { v->m_rgucColours[1] = 7; v->ApplyColourChanges(); },
			ELEMENT_MESSAGE_VEHICLE_COLOURS, {CTestMessage().U8(0).U8(0).U8(7).U8(0).U8(0).GetBytes()}, false},
		{"RGB colours", [](CServerVehicle* v, CServerPlayer*) { v->m_bRGB = true; v->m_rgiRGBColours[3] = -2; v->ApplyColourChanges(); },
			ELEMENT_MESSAGE_VEHICLE_COLOURS, {CTestMessage().U8(1).I32(0).I32(0).I32(0).I32(-2).GetBytes()}, false},
		{"model", [](CServerVehicle* v, CServerPlayer*) { v->SetModelIndex(191); },
			ELEMENT_MESSAGE_MODEL, {CTestMessage().I32(191).GetBytes()}, false},
		{"interior", [](CServerVehicle* v, CServerPlayer*) { v->SetInterior(9); },
			ELEMENT_MESSAGE_INTERIOR, {CTestMessage().U8(9).GetBytes()}, false},
		{"player position", [](CServerVehicle*, CServerPlayer* p) { p->SetPosition(CVector3D(1, 2, 3)); },
			ELEMENT_MESSAGE_PLAYER_POSITION, {CTestMessage().F32(1).F32(2).F32(3).GetBytes()}, true},
		{"weapon", [](CServerVehicle*, CServerPlayer* p) { p->GiveWeapon(26, 500, false); },
			ELEMENT_MESSAGE_GIVE_WEAPON, {CTestMessage().U32(26).U32(500).U8(0).GetBytes()}, true},
		{"vehicle state", [](CServerVehicle* v, CServerPlayer* p) { p->SetVehicleEnteringState(v, 3, VEHICLE_STATE_ENTERING); },
			ELEMENT_MESSAGE_PED_VEHICLE, {}, true},
	};
	for (const tCase& Case : rgCases)
	{
		SCOPED_TRACE(Case.m_szName);
		CGameElements Game("gta:sa");
		CFakeClient* pHolder = Game.AddClient(0);
		CFakeClient* pStranger = Game.AddClient(1);
		Strong<CServerVehicle> pVehicle = Game.Make<CServerVehicle>(ELEMENT_VEHICLE, true);
		Strong<CServerPlayer> pPlayer = Game.Make<CServerPlayer>(ELEMENT_PLAYER, true);
		pVehicle->SetCreatedFor(pHolder, true);
		pPlayer->SetCreatedFor(pHolder, true);
		Case.m_Change(pVehicle, pPlayer);

		std::vector<std::vector<uint8_t>> Expected;
		const int32_t iId = Case.m_bAboutPlayer ? pPlayer->GetId() : pVehicle->GetId();
		for (const std::vector<uint8_t>& Body : Case.m_Bodies)
			Expected.push_back(CTestMessage().I32(iId).Bytes(Body).GetBytes());
		if (Case.m_uiMessage == ELEMENT_MESSAGE_PED_VEHICLE)
			Expected.push_back(CTestMessage().I32(iId).I32(pVehicle->GetId()).U8(3).U8(1).GetBytes());
		EXPECT_EQ(Bodies(pHolder->m_Sent, Case.m_uiMessage), Expected);
		EXPECT_TRUE(Bodies(pStranger->m_Sent, Case.m_uiMessage).empty());
		for (const tSent& Sent : pHolder->m_Sent)
		{
			EXPECT_EQ(Sent.m_ucChannel, 6);
			EXPECT_EQ(Sent.m_eFlags, PACKET_FLAG_RELIABLE);
		}
	}
}

TEST(ElementBehaviour, UnregisteredElementsChangeWithoutMessages)
{
	CGameElements Game("gta:sa");
	CFakeClient* pClient = Game.AddClient(0);
	Strong<CServerPlayer> pPlayer = Game.Make<CServerPlayer>(ELEMENT_PLAYER);
	pPlayer->SetCreatedFor(pClient, true);
	pPlayer->SetModelIndex(5);
	pPlayer->SetInterior(2);
	pPlayer->SetPosition(CVector3D(1, 1, 1));
	pPlayer->GiveWeapon(22, 17, true);
	EXPECT_EQ(pPlayer->GetModelIndex(), 5);
	EXPECT_EQ(pPlayer->GetInterior(), 2);
	EXPECT_EQ(pPlayer->m_usWeapon, 22);
	EXPECT_EQ(pPlayer->m_usAmmunition, 17);
	EXPECT_TRUE(pClient->m_Sent.empty());
}

TEST(ElementBehaviour, RandomColoursComeFromTheModelsSets)
{
	CGameElements Game("gta:sa");
	CVehicleColours& Colours = Game.Server().GetVehicleColours();
	for (int32_t i = 0; i < 3; i++)
		Colours.RegisterColourPair(130, tVehicleColourDefinition{false, {i, i + 10, i + 20, i + 30}});
	Colours.RegisterColourPair(131, tVehicleColourDefinition{true, {0x11, 0x22, 0x33, 0x44}});
	const size_t ModelCount = Colours.GetModelCount();

	for (unsigned uiSeed : {1u, 7u, 12345u})
	{
		srand(uiSeed);
		const uint32_t uiFirst = static_cast<uint32_t>(rand());
		const uint32_t uiSecond = static_cast<uint32_t>(rand());
		const int32_t iSet = static_cast<int32_t>(((uiFirst * 2) | (uiSecond & 1)) % 3);
		srand(uiSeed);
		Strong<CServerVehicle> pVehicle = Game.Make<CServerVehicle>(ELEMENT_VEHICLE);
		pVehicle->SetModelIndex(130);
		EXPECT_FALSE(pVehicle->m_bRGB);
		EXPECT_EQ(pVehicle->m_rgucColours[0], iSet);
		EXPECT_EQ(pVehicle->m_rgucColours[3], iSet + 30);
	}

	Strong<CServerVehicle> pVehicle = Game.Make<CServerVehicle>(ELEMENT_VEHICLE);
	pVehicle->SetModelIndex(131);
	EXPECT_TRUE(pVehicle->m_bRGB);
	EXPECT_EQ(pVehicle->m_rgiRGBColours[2], 0x33);

	// A model without sets keeps its colours, warns, and adds nothing to the table.
	testing::internal::CaptureStdout();
	pVehicle->SetModelIndex(999);
	const std::string Output = testing::internal::GetCapturedStdout();
	EXPECT_NE(Output.find("Cannot randomise car colour 999!"), std::string::npos) << Output;
	EXPECT_TRUE(pVehicle->m_bRGB);
	EXPECT_EQ(Colours.GetModelCount(), ModelCount);
	EXPECT_EQ(Colours.GetDefinitions(999), nullptr);
}

TEST(ElementBehaviour, BlipFollowsAParentThatHasAPosition)
{
	CGameElements Game("gta:vc");
	Strong<CServerVehicle> pVehicle = Game.Make<CServerVehicle>(ELEMENT_VEHICLE, true);
	pVehicle->SetPosition(CVector3D(100, 200, 300));
	Strong<CServerBlip> pBlip = Game.Make<CServerBlip>(ELEMENT_BLIP, true);
	pBlip->SetPosition(CVector3D(1, 2, 3));
	ASSERT_TRUE(pBlip->SetParent(pVehicle));
	const std::vector<uint8_t> Expected = CTestMessage().F32(100).F32(200).F32(300).GetBytes();
	EXPECT_EQ(SyncBlock(pBlip), Expected);
	const std::vector<uint8_t> Create = CreateBlock(pBlip);
	ASSERT_GE(Create.size(), 18u);
	EXPECT_EQ(std::vector<uint8_t>(Create.end() - 18, Create.end() - 6), Expected);
	// A client's word on an attached blip's position does not count.
	ASSERT_TRUE(pBlip->ReadSyncPacket(Reading(CTestMessage().F32(5).F32(5).F32(5).GetBytes())));
	EXPECT_FLOAT_EQ(pBlip->m_vecPosition.x, 1.0f);

	// A parent without the transformable bit has no position to follow.
	Strong<ReplicationTest::CTestElement> pPlain =
		Strong<ReplicationTest::CTestElement>::New(new ReplicationTest::CTestElement(Game.Manager(), 0));
	pPlain->SetPosition(CVector3D(9, 9, 9));
	ASSERT_TRUE(Game.Manager()->RegisterNetObject(pPlain));
	ASSERT_TRUE(pBlip->SetParent(pPlain));
	EXPECT_EQ(SyncBlock(pBlip), CTestMessage().F32(1).F32(2).F32(3).GetBytes());
	ASSERT_TRUE(pBlip->SetParent(nullptr));
	ASSERT_TRUE(pBlip->ReadSyncPacket(Reading(CTestMessage().F32(5).F32(6).F32(7).GetBytes())));
	EXPECT_FLOAT_EQ(pBlip->m_vecPosition.z, 7.0f);
}

TEST(ElementBehaviour, PickupWithoutSyncerGetsOneFromItsHolders)
{
	CGameElements Game("gta:sa");
	CFakeClient* pJoining = Game.AddClient(0);
	pJoining->m_bJoined = false;
	CFakeClient* pHolder = Game.AddClient(3);
	CFakeClient* pLater = Game.AddClient(5);
	Strong<CNetObject> pPickup = Game.Make<CNetObject>(ELEMENT_PICKUP, true);
	Game.Manager()->FindPickupSyncers();
	EXPECT_EQ(pPickup->GetSyncer(), nullptr);
	for (CFakeClient* pClient : {pJoining, pHolder, pLater})
		pPickup->SetCreatedFor(pClient, true);
	Game.Manager()->FindPickupSyncers();
	EXPECT_EQ(pPickup->GetSyncer(), pHolder);
	// Its syncer streamed it out.
	pPickup->SetCreatedFor(pHolder, false);
	pPickup->SetSyncer(nullptr, false);
	Game.Manager()->FindPickupSyncers();
	EXPECT_EQ(pPickup->GetSyncer(), pLater);
}

TEST(ElementBehaviour, PickupsGetSyncersInSlotOrderWhetherMarkedBeforeOrAfterRegistering)
{
	CGameElements Game("gta:sa");
	CFakeClient* pClient = Game.AddClient(2);
	Strong<CNetObject> pNobodys = Game.Make<CNetObject>(ELEMENT_PICKUP, true);
	// Created for the client before the table had it.
	Strong<CNetObject> pEarly = Game.Make<CNetObject>(ELEMENT_PICKUP);
	pEarly->SetCreatedFor(pClient, true);
	ASSERT_TRUE(Game.Manager()->RegisterNetObject(pEarly));
	Strong<CNetObject> pLate = Game.Make<CNetObject>(ELEMENT_PICKUP, true);
	pLate->SetCreatedFor(pClient, true);
	// Not a pickup: it keeps no syncer however it is held.
	Strong<CNetObject> pMarker = Game.Make<CNetObject>(ELEMENT_MARKER, true);
	pMarker->SetCreatedFor(pClient, true);
	const size_t Sent = pClient->m_Sent.size();

	Game.Manager()->FindPickupSyncers();
	EXPECT_EQ(pNobodys->GetSyncer(), nullptr);
	EXPECT_EQ(pEarly->GetSyncer(), pClient);
	EXPECT_EQ(pLate->GetSyncer(), pClient);
	EXPECT_EQ(pMarker->GetSyncer(), nullptr);
	// The client hears of each new syncer in slot order.
	std::vector<std::vector<uint8_t>> Told;
	for (size_t i = Sent; i < pClient->m_Sent.size(); i++)
		Told.push_back(pClient->m_Sent[i].m_Bytes);
	EXPECT_EQ(Told, (std::vector<std::vector<uint8_t>>{CTestMessage(14).U16(1).I32(pEarly->GetId()).I32(2).GetBytes(),
						CTestMessage(14).U16(1).I32(pLate->GetId()).I32(2).GetBytes()}));
}

TEST(ElementBehaviour, SpawnedPedRaisesOnPedSpawn)
{
	CGameElements Game("gta:iii");
	Strong<CServerPlayer> pPlayer = Game.Make<CServerPlayer>(ELEMENT_PLAYER, true);
	std::vector<CNetObject*> Spawned;
	EventHandlers::CEventType* pType = Game.Manager()->GetEventType(GAME_EVENT_PED_SPAWN);
	ASSERT_NE(pType, nullptr);
	pType->AddHandler(new ReplicationTest::CLambdaHandler(Game.Server().GetResourceMgr().GetEventHandlers(),
		[&](EventHandlers::CEvent*, const CArgumentArray& Arguments) {
			Spawned.push_back(ReplicationTest::ElementArgument(Arguments));
		}));
	pPlayer->OnSpawned();
	EXPECT_EQ(Spawned, std::vector<CNetObject*>{pPlayer.GetPointer()});
}
