// The create and sync blocks of the game's elements, byte for byte and per game: their sizes with default values,
// exact layouts checked against an independent writing of the protocol, what each reader takes back, and what a
// block that ends early or claims too much does.

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "GameElementFixture.h"

#include "Elements/ServerBlip.h"
#include "Elements/ServerBuilding.h"
#include "Elements/ServerMarker.h"
#include "Elements/ServerObject.h"
#include "Elements/ServerPickup.h"
#include "Elements/ServerPlayer.h"
#include "Elements/ServerTrain.h"

using namespace ElementTest;

namespace
{
const char* const g_rgGames[] = {"gta:iii", "gta:vc", "gta:sa", "gta:iv", "gta:iv_eflc"};

bool IsIV(const std::string& Game)
{
	return Game == "gta:iv" || Game == "gta:iv_eflc";
}

struct tSizeCase
{
	uint32_t m_uiType;
	size_t m_CreateSize;
	size_t m_SyncSize;
	size_t m_IVSyncSize;
};

// Elements with every member at its default.
const tSizeCase g_rgSizes[] = {
	{ELEMENT_PED, 25, 71, 62},
	{ELEMENT_PLAYER, 25, 128, 62},
	{ELEMENT_VEHICLE, 30, 115, 108},
	{ELEMENT_TRAIN, 32, 9, 9},
	{ELEMENT_OBJECT, 21, 88, 88},
	{ELEMENT_BUILDING, 21, 64, 64},
	{ELEMENT_BLIP, 33, 12, 12},
	{ELEMENT_MARKER, 31, 0, 0},
	{ELEMENT_PICKUP, 36, 0, 0},
};

std::vector<uint8_t> Matrix(const CMatrix4x4& m)
{
	CTestMessage Block;
	for (int i = 0; i < CMatrix4x4::ENTRY_COUNT; i++)
		Block.F32(m.GetAt(i));
	return Block.GetBytes();
}

CMatrix4x4 Identity()
{
	CMatrix4x4 m;
	m.SetIdentity();
	return m;
}

void Vec(CTestMessage& Block, const CVector3D& v)
{
	Block.F32(v.x).F32(v.y).F32(v.z);
}
}

TEST(ElementBlocks, DefaultSizesPerGame)
{
	for (const char* szGame : g_rgGames)
	{
		CGameElements Game(szGame);
		for (const tSizeCase& Case : g_rgSizes)
		{
			SCOPED_TRACE(std::string(szGame) + " type " + std::to_string(Case.m_uiType));
			Strong<CNetObject> pElement = Game.Make<CNetObject>(Case.m_uiType);
			ASSERT_FALSE(pElement.IsNull());
			EXPECT_EQ(CreateBlock(pElement).size(), Case.m_CreateSize);
			EXPECT_EQ(SyncBlock(pElement).size(), IsIV(szGame) ? Case.m_IVSyncSize : Case.m_SyncSize);
		}
	}
}

TEST(ElementBlocks, VehicleCreateBlockLayout)
{
	CGameElements Game("gta:sa");
	Strong<CServerVehicle> pVehicle = Game.Make<CServerVehicle>(ELEMENT_VEHICLE);
	CTestMessage Default = BareCreateBlock();
	Default.I32(-1).U8(0).U8(0).U32(0).U8(1).U8(0).U8(0).U8(0).U8(0);
	EXPECT_EQ(CreateBlock(pVehicle), Default.GetBytes());

	pVehicle->SetModelIndex(400);
	pVehicle->SetInterior(3);
	pVehicle->m_ucCreationKind = 1;
	pVehicle->m_bStrongGrip = true;
	pVehicle->SetEngine(true);
	pVehicle->SetDoorsLocked(2);
	pVehicle->m_bRGB = true;
	const int32_t rgiColours[4] = {0x11223344, -1, 0, 0x7F000001};
	memcpy(pVehicle->m_rgiRGBColours, rgiColours, sizeof(rgiColours));
	CTestMessage Changed = BareCreateBlock();
	Changed.I32(400).U8(3).U8(1).U32(0x7).U8(2);
	for (int32_t iColour : rgiColours)
		Changed.I32(iColour);
	EXPECT_EQ(CreateBlock(pVehicle), Changed.GetBytes());
}

TEST(ElementBlocks, ThirdGameVehicleSyncBlockLayout)
{
	CGameElements Game("gta:iii");
	Strong<CServerVehicle> pVehicle = Game.Make<CServerVehicle>(ELEMENT_VEHICLE);
	CTestMessage Default;
	Default.Bytes(Matrix(Identity()));
	Vec(Default, CVector3D());
	Vec(Default, CVector3D());
	Default.U32(0).F32(1000.0f).F32(0).F32(0).F32(0).U8(0).U32(0).U8(0).U8(0);
	EXPECT_EQ(SyncBlock(pVehicle), Default.GetBytes());

	struct tDamageCase
	{
		const char* m_szName;
		tVehicleDamage m_Damage;
		std::vector<uint8_t> m_Expected;
	};
	tVehicleDamage ModeOne;
	ModeOne.m_ucMode = 1;
	const uint8_t rgucA[6] = {1, 2, 3, 0, 1, 2};
	const uint8_t rgucB[4] = {1, 0, 1, 1};
	const uint8_t rgucC[7] = {3, 2, 1, 0, 3, 2, 1};
	const uint8_t rgucD[4] = {2, 3, 0, 1};
	memcpy(ModeOne.m_rgucGroupA, rgucA, 6);
	memcpy(ModeOne.m_rgucGroupB, rgucB, 4);
	memcpy(ModeOne.m_rgucGroupC, rgucC, 7);
	memcpy(ModeOne.m_rgucGroupD, rgucD, 4);
	uint32_t uiWord = 1;
	for (int i = 0; i < 6; i++)
		uiWord |= static_cast<uint32_t>(rgucA[i]) << (2 * (i + 1));
	for (int i = 0; i < 4; i++)
		uiWord |= static_cast<uint32_t>(rgucB[i]) << (14 + i);
	for (int i = 0; i < 7; i++)
		uiWord |= static_cast<uint32_t>(rgucC[i]) << (18 + 2 * i);
	tVehicleDamage ModeTwo = ModeOne;
	ModeTwo.m_ucMode = 2;
	tVehicleDamage ModeThree = ModeOne;
	ModeThree.m_ucMode = 3;
	const tDamageCase rgCases[] = {
		{"mode 1", ModeOne, CTestMessage().U32(uiWord).U8(2 | 3 << 2 | 0 << 4 | 1 << 6).GetBytes()},
		{"mode 2", ModeTwo, CTestMessage().U8(2 | 2 << 2 | 3 << 4).GetBytes()},
		{"mode 3", ModeThree, CTestMessage().U8(3).GetBytes()},
	};
	for (const tDamageCase& Case : rgCases)
	{
		SCOPED_TRACE(Case.m_szName);
		pVehicle->m_Damage = Case.m_Damage;
		pVehicle->m_ucExtraFlags = 1;
		pVehicle->m_rgfExtraFloats[0] = 1.5f;
		pVehicle->m_rgfExtraFloats[1] = -2.0f;
		CTestMessage Tail;
		Tail.Bytes(Case.m_Expected).U8(1).F32(1.5f).F32(-2.0f);
		const std::vector<uint8_t> Block = SyncBlock(pVehicle);
		const size_t DamageAt = 88 + 20 + 5;
		ASSERT_EQ(Block.size(), DamageAt + Tail.GetBytes().size());
		EXPECT_EQ(std::vector<uint8_t>(Block.begin() + DamageAt, Block.end()), Tail.GetBytes());

		// Read back into a vehicle whose damage differs everywhere: the mode's groups are taken, the others kept.
		Strong<CServerVehicle> pCopy = Game.Make<CServerVehicle>(ELEMENT_VEHICLE);
		ASSERT_TRUE(pCopy->ReadSyncPacket(Reading(Block)));
		EXPECT_EQ(SyncBlock(pCopy), Block);
	}
}

TEST(ElementBlocks, PlayerSyncBlockLayoutPerGame)
{
	for (const char* szGame : g_rgGames)
	{
		SCOPED_TRACE(szGame);
		CGameElements Game(szGame);
		Strong<CServerPlayer> pPlayer = Game.Make<CServerPlayer>(ELEMENT_PLAYER);
		pPlayer->m_iPedSyncValue = 77;
		pPlayer->SetPosition(CVector3D(1, 2, 3));
		pPlayer->m_vecPedSyncVector = CVector3D(4, 5, 6);
		pPlayer->m_vecVelocity = CVector3D(7, 8, 9);
		pPlayer->SetHeading(0.5f);
		pPlayer->m_fHealth = 42.0f;
		pPlayer->m_usWeapon = 31;
		pPlayer->m_usAmmunition = 300;
		pPlayer->m_usClipAmmunition = 30;
		pPlayer->m_ucWeaponState = 2;
		pPlayer->m_fArmour = 50.0f;
		pPlayer->m_ucPedSyncByte = 9;
		pPlayer->m_SyncBlock.m_Length = 3;
		memcpy(pPlayer->m_SyncBlock.m_rgucData, "abc", 3);
		pPlayer->m_IVSyncBlock.m_Length = 2;
		memcpy(pPlayer->m_IVSyncBlock.m_rgucData, "iv", 2);
		pPlayer->m_usPlayerSyncWord = 0x1234;
		pPlayer->m_rgucPlayerSyncBlock[47] = 0xEE;
		pPlayer->m_uiPlayerSyncValue = 0xCAFE;

		CTestMessage Expected;
		Expected.I32(77);
		Vec(Expected, CVector3D(1, 2, 3));
		Vec(Expected, CVector3D(4, 5, 6));
		Vec(Expected, CVector3D(7, 8, 9));
		Expected.F32(0.5f).F32(0.5f).F32(42.0f).U8(0).I32(-1).U8(0).U16(31);
		if (IsIV(szGame))
			Expected.U16(2).Bytes("iv", 2);
		else
		{
			std::vector<uint8_t> PlayerBlock(48, 0);
			PlayerBlock[47] = 0xEE;
			Expected.U16(300).U16(30).U8(2).F32(50.0f).U8(9).U8(1).U16(3).Bytes("abc", 3);
			Expected.U16(0x1234).Bytes(PlayerBlock).U32(0xCAFE).U8(1).U16(4);
		}
		const std::vector<uint8_t> Block = SyncBlock(pPlayer);
		EXPECT_EQ(Block, Expected.GetBytes());
		// Without the raw block a player of the other games is 128 bytes.
		pPlayer->m_SyncBlock.m_Length = 0;
		pPlayer->m_IVSyncBlock.m_Length = 0;
		EXPECT_EQ(SyncBlock(pPlayer).size(), IsIV(szGame) ? 62u : 128u);
	}
}

TEST(ElementBlocks, TrainSyncBlockFollowsTheTrack)
{
	CGameElements Game("gta:vc");
	Strong<CServerTrain> pTrain = Game.Make<CServerTrain>(ELEMENT_TRAIN);
	pTrain->m_fTrackPosition = 12.5f;
	pTrain->m_fSpeed = -3.0f;
	pTrain->m_ucTrack = 2;
	EXPECT_EQ(SyncBlock(pTrain), CTestMessage().U8(0x0C).F32(12.5f).F32(-3.0f).GetBytes());
	CTestMessage Create = BareCreateBlock();
	Create.I32(-1).U8(0).U8(0).U32(0).U8(1).U32(0).U8(0x0C).U8(2);
	EXPECT_EQ(CreateBlock(pTrain), Create.GetBytes());

	// Derailed: the flags, then the physical block (the replicated part of which is empty here).
	pTrain->m_bDerailed = true;
	pTrain->SetPosition(CVector3D(1, 1, 1));
	CMatrix4x4 Moved = Identity();
	Moved.m41 = Moved.m42 = Moved.m43 = 1;
	CTestMessage Derailed;
	Derailed.U8(0x0E).Bytes(Matrix(Moved));
	Vec(Derailed, CVector3D());
	Vec(Derailed, CVector3D());
	EXPECT_EQ(SyncBlock(pTrain), Derailed.GetBytes());

	// The reader takes only the derailed bit from the flags.
	Strong<CServerTrain> pOther = Game.Make<CServerTrain>(ELEMENT_TRAIN);
	ASSERT_TRUE(pOther->ReadSyncPacket(Reading(CTestMessage().U8(0x01).F32(7.0f).F32(8.0f).GetBytes())));
	EXPECT_FALSE(pOther->m_bTrainFlag);
	EXPECT_TRUE(pOther->m_bHeadlights);
	EXPECT_TRUE(pOther->m_bTaillights);
	EXPECT_FLOAT_EQ(pOther->m_fTrackPosition, 7.0f);
	ASSERT_TRUE(pOther->ReadSyncPacket(Reading(Derailed.GetBytes())));
	EXPECT_TRUE(pOther->m_bDerailed);
	CVector3D vecPosition;
	pOther->GetPosition(vecPosition);
	EXPECT_FLOAT_EQ(vecPosition.y, 1.0f);
	// The create block's reader takes all four flags.
	Strong<CServerTrain> pCreated = Game.Make<CServerTrain>(ELEMENT_TRAIN);
	ASSERT_TRUE(pCreated->ReadCreatePacket(Reading(Create.GetBytes())));
	EXPECT_EQ(CreateBlock(pCreated), Create.GetBytes());
}

TEST(ElementBlocks, BlipMarkerAndPickupCreateBlocks)
{
	CGameElements Game("gta:sa");
	Strong<CServerBlip> pBlip = Game.Make<CServerBlip>(ELEMENT_BLIP);
	pBlip->SetPosition(CVector3D(1, 2, 3));
	CTestMessage Blip = BareCreateBlock();
	Vec(Blip, CVector3D(1, 2, 3));
	Blip.U8(1).U8(3).I32(0x00FF00FF);
	EXPECT_EQ(CreateBlock(pBlip), Blip.GetBytes());

	Strong<CServerMarker> pMarker = Game.Make<CServerMarker>(ELEMENT_MARKER);
	pMarker->SetPosition(CVector3D(4, 5, 6));
	CTestMessage Marker = BareCreateBlock();
	Vec(Marker, CVector3D(4, 5, 6));
	Marker.F32(1.0f);
	EXPECT_EQ(CreateBlock(pMarker), Marker.GetBytes());

	Strong<CServerPickup> pPickup = Game.Make<CServerPickup>(ELEMENT_PICKUP);
	pPickup->SetPosition(CVector3D(7, 8, 9));
	pPickup->m_iModel = 1242;
	CTestMessage Pickup = BareCreateBlock();
	Vec(Pickup, CVector3D(7, 8, 9));
	Pickup.I32(1242).U8(2).I32(0);
	EXPECT_EQ(CreateBlock(pPickup), Pickup.GetBytes());
}

// Every class that reads its blocks takes back exactly what it wrote, on every game.
TEST(ElementBlocks, ReadersTakeBackWhatWritersWrote)
{
	const uint32_t rgTypes[] = {ELEMENT_PED, ELEMENT_PLAYER, ELEMENT_VEHICLE, ELEMENT_TRAIN, ELEMENT_OBJECT,
		ELEMENT_BUILDING};
	for (const char* szGame : g_rgGames)
	{
		CGameElements Game(szGame);
		for (uint32_t uiType : rgTypes)
		{
			SCOPED_TRACE(std::string(szGame) + " type " + std::to_string(uiType));
			Strong<CServerEntity> pSource = Game.Make<CServerEntity>(uiType);
			pSource->SetModelIndex(123);
			pSource->SetInterior(4);
			pSource->m_ucCreationKind = 3;
			pSource->SetPosition(CVector3D(10, -20, 30.5f));
			pSource->SetHeading(2.0f);
			pSource->m_iPedSyncValue = 5;
			pSource->m_IVSyncBlock.m_Length = 4;
			memcpy(pSource->m_IVSyncBlock.m_rgucData, "\x01\x02\x03\x04", 4);
			if (pSource->IsType(ELEMENT_PED))
			{
				CServerPed* pPed = static_cast<CServerPed*>(pSource.GetPointer());
				pPed->m_uiPedType = 8;
				pPed->m_fArmour = 12.0f;
				pPed->m_SyncBlock.m_Length = 1;
			}
			if (pSource->IsType(ELEMENT_VEHICLE))
			{
				CServerVehicle* pVehicle = static_cast<CServerVehicle*>(pSource.GetPointer());
				pVehicle->m_fHealth = 250.0f;
				pVehicle->m_rgucColours[2] = 17;
				pVehicle->m_bSyncBool = true;
				pVehicle->m_Damage.m_ucMode = 1;
				pVehicle->m_Damage.m_rgucGroupC[6] = 3;
			}
			const std::vector<uint8_t> Create = CreateBlock(pSource);
			const std::vector<uint8_t> Sync = SyncBlock(pSource);

			Strong<CServerEntity> pCopy = Game.Make<CServerEntity>(uiType);
			ASSERT_TRUE(pCopy->ReadCreatePacket(Reading(Create)));
			ASSERT_TRUE(pCopy->ReadSyncPacket(Reading(Sync)));
			EXPECT_EQ(CreateBlock(pCopy), Create);
			EXPECT_EQ(SyncBlock(pCopy), Sync);
		}
	}
}

// A block cut anywhere fails to read; nothing reads past the end.
TEST(ElementBlocks, BlocksThatEndEarlyFail)
{
	const uint32_t rgTypes[] = {ELEMENT_PED, ELEMENT_PLAYER, ELEMENT_VEHICLE, ELEMENT_TRAIN, ELEMENT_OBJECT,
		ELEMENT_BUILDING, ELEMENT_BLIP};
	for (const char* szGame : g_rgGames)
	{
		CGameElements Game(szGame);
		for (uint32_t uiType : rgTypes)
		{
			SCOPED_TRACE(std::string(szGame) + " type " + std::to_string(uiType));
			Strong<CNetObject> pSource = Game.Make<CNetObject>(uiType);
			if (pSource->IsType(ELEMENT_PED))
				static_cast<CServerPed*>(pSource.GetPointer())->m_SyncBlock.m_Length = 5;
			if (pSource->IsType(ELEMENT_ENTITY))
				static_cast<CServerEntity*>(pSource.GetPointer())->m_IVSyncBlock.m_Length = 5;
			if (pSource->IsType(ELEMENT_VEHICLE))
				static_cast<CServerVehicle*>(pSource.GetPointer())->m_ucExtraFlags = 1;
			const std::vector<uint8_t> Sync = SyncBlock(pSource);
			for (size_t Cut = 0; Cut < Sync.size(); Cut++)
			{
				Strong<CNetObject> pTarget = Game.Make<CNetObject>(uiType);
				const std::vector<uint8_t> Part(Sync.begin(), Sync.begin() + static_cast<long>(Cut));
				EXPECT_FALSE(pTarget->ReadSyncPacket(Reading(Part))) << "cut at " << Cut;
			}
			if (uiType == ELEMENT_BLIP)
				continue;
			const std::vector<uint8_t> Create = CreateBlock(pSource);
			for (size_t Cut = 0; Cut < Create.size(); Cut++)
			{
				Strong<CNetObject> pTarget = Game.Make<CNetObject>(uiType);
				const std::vector<uint8_t> Part(Create.begin(), Create.begin() + static_cast<long>(Cut));
				EXPECT_FALSE(pTarget->ReadCreatePacket(Reading(Part))) << "cut at " << Cut;
			}
		}
	}
}

TEST(ElementBlocks, RawBlocksAboveTheLimitAreNeverStored)
{
	struct tCase
	{
		const char* m_szGame;
		uint16_t m_usLength;
		bool m_bRead;
		size_t m_StoredAfter;
	};
	// The ped starts with a stored block of 3 bytes.
	const tCase rgCases[] = {
		{"gta:iv", 2000, false, 3},
		{"gta:iv", 1025, false, 3},
		{"gta:iv", 1024, true, 1024},
		{"gta:iv", 0, true, 0},
		{"gta:sa", 2000, false, 3},
		{"gta:sa", 1024, true, 1024},
	};
	for (const tCase& Case : rgCases)
	{
		SCOPED_TRACE(std::string(Case.m_szGame) + " length " + std::to_string(Case.m_usLength));
		CGameElements Game(Case.m_szGame);
		Strong<CServerPed> pPed = Game.Make<CServerPed>(ELEMENT_PED);
		tRawSyncBlock& Stored = IsIV(Case.m_szGame) ? pPed->m_IVSyncBlock : pPed->m_SyncBlock;
		Stored.m_Length = 3;
		memcpy(Stored.m_rgucData, "old", 3);
		std::vector<uint8_t> Block = SyncBlock(pPed);
		// Replace the stored block at the end by the announced one, with as many bytes as it claims.
		Block.resize(Block.size() - 5);
		CTestMessage Tail;
		Tail.U16(Case.m_usLength).Bytes(std::vector<uint8_t>(Case.m_usLength, 0x5A));
		Block.insert(Block.end(), Tail.GetBytes().begin(), Tail.GetBytes().end());

		EXPECT_EQ(pPed->ReadSyncPacket(Reading(Block)), Case.m_bRead);
		EXPECT_EQ(Stored.m_Length, Case.m_StoredAfter);
		EXPECT_LE(SyncBlock(pPed).size(), 71u + 2 + 1024);
	}
}

TEST(ElementBlocks, PedWithoutANewRawBlockKeepsTheOldOne)
{
	CGameElements Game("gta:vc");
	Strong<CServerPed> pPed = Game.Make<CServerPed>(ELEMENT_PED);
	pPed->m_SyncBlock.m_Length = 2;
	memcpy(pPed->m_SyncBlock.m_rgucData, "ok", 2);
	const std::vector<uint8_t> WithBlock = SyncBlock(pPed);

	Strong<CServerPed> pOther = Game.Make<CServerPed>(ELEMENT_PED);
	ASSERT_TRUE(pOther->ReadSyncPacket(Reading(WithBlock)));
	// The same fields with has-block 2 (bit 0 clear) and nothing after it.
	ASSERT_EQ(WithBlock.size(), 75u);
	std::vector<uint8_t> WithoutBlock(WithBlock.begin(), WithBlock.begin() + 71);
	WithoutBlock[70] = 2;
	pOther->m_fHealth = 1.0f;
	ASSERT_TRUE(pOther->ReadSyncPacket(Reading(WithoutBlock)));
	EXPECT_FLOAT_EQ(pOther->m_fHealth, 100.0f);
	EXPECT_EQ(SyncBlock(pOther), WithBlock);
}
