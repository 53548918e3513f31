// The game's elements as joined clients see them, with the server in the test's process (with and without the
// network thread) and clients speaking the protocol over the loopback: a map file's vehicle and pickup streamed
// with their create blocks and gone with their resource, players synced from their own client only, a driver taking
// over its vehicle's sync, and a pickup finding a new syncer when its syncer leaves.

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <tuple>

#include "GameWorld.h"
#include "ServerHarness.h"

#include "Elements/ServerPickup.h"
#include "Elements/ServerPlayer.h"
#include "Elements/ServerVehicle.h"
#include "Scripting/Resource.h"
#include "Support/Transport.h"

using namespace ServerTest;
using namespace VexaTest;

namespace
{
constexpr size_t ENTITY_SYNC_SIZE = 64;

bool IsIV(const tGame& Game)
{
	return Game.m_ucId == GTA_IV.m_ucId;
}

void Vec(CTestMessage& Block, const CVector3D& v)
{
	Block.F32(v.x).F32(v.y).F32(v.z);
}

// The matrix of an element turned about Z by the angle and placed at the position, row by row. The second row
// starts with the negated sine, so an angle of 0 gives a negative zero there.
void Placed(CTestMessage& Block, float fAngle, const CVector3D& v)
{
	const float s = std::sin(fAngle);
	const float c = std::cos(fAngle);
	const float rgfRows[12] = {c, s, 0, 0, -s, c, 0, 0, 0, 0, 1, 0};
	for (float f : rgfRows)
		Block.F32(f);
	Block.F32(v.x).F32(v.y).F32(v.z).F32(1);
}

// A GTA III player's whole sync block, as a client writes it.
std::vector<uint8_t> ThirdGamePlayerSync(const CVector3D& vecPosition, int32_t iVehicle, uint8_t ucSeat, uint8_t ucState)
{
	CTestMessage Block;
	Block.I32(-1);
	Vec(Block, vecPosition);
	Vec(Block, CVector3D(0, 0, 0));
	Vec(Block, CVector3D(0.5f, 0, 0));
	Block.F32(1.5f).F32(1.5f).F32(75.0f).U8(ucState).I32(iVehicle).U8(ucSeat).U16(24);
	Block.U16(40).U16(7).U8(1).F32(20.0f).U8(3).U8(0);
	Block.U16(0x0102).Bytes(std::vector<uint8_t>(48, 0x33)).U32(99).U8(1).U16(4);
	return Block.GetBytes();
}

class MapElements : public ::testing::TestWithParam<std::tuple<bool, bool>>
{
};

std::string DescribeMapCase(const ::testing::TestParamInfo<std::tuple<bool, bool>>& Info)
{
	return std::string(std::get<0>(Info.param) ? "NetworkThread" : "MainThread") + (std::get<1>(Info.param) ? "GTAIV" : "GTAIII");
}

class GameElements : public ::testing::TestWithParam<bool>
{
};
}

TEST_P(MapElements, MapVehicleAndPickupStreamWithTheirBlocksAndDieWithTheirResource)
{
	const tGame& Game = std::get<1>(GetParam()) ? GTA_IV : GTA_III;
	CGameWorld World(Game, std::get<0>(GetParam()), ResourceList({"garage"}));
	World.Server().WriteFile("resources/garage/meta.xml", "<meta>\n\t<map src=\"garage.map\" type=\"server\"/>\n</meta>\n");
	// A model without default colours, so the colours are known.
	World.Server().WriteFile("resources/garage/garage.map",
		"<map>\n\t<vehicle posX=\"10\" posY=\"0\" posZ=\"0\" model=\"9999\"/>\n\t<pickup x=\"3\" model=\"1242\"/>\n</map>\n");
	ASSERT_TRUE(World.Server().Start());
	CNetObject* pVehicle = World.FindFirst(ELEMENT_VEHICLE);
	CNetObject* pPickup = World.FindFirst(ELEMENT_PICKUP);
	ASSERT_TRUE(pVehicle && pPickup);
	const int32_t iVehicle = pVehicle->GetId();
	const int32_t iPickup = pPickup->GetId();

	CGameClient Client;
	ASSERT_NE(World.JoinWithPlayer(Client, "Driver", CVector3D(0, 0, 0)), nullptr);
	ASSERT_TRUE(Client.WaitForElement(iVehicle, true));
	ASSERT_TRUE(Client.WaitForElement(iPickup, true));

	CTestMessage Vehicle;
	Vehicle.I32(Client.GetIndex()).I32(-1).I32(0).String("").U16(0).I32(9999).U8(0).U8(0).U32(0).U8(1).U32(0);
	Placed(Vehicle, 0.0f, CVector3D(10, 0, 0));
	Vec(Vehicle, CVector3D());
	Vec(Vehicle, CVector3D());
	Vehicle.U32(0).F32(1000.0f).F32(0).F32(0).F32(0);
	if (!IsIV(Game))
		Vehicle.U8(0).U32(0).U8(0).U8(0);
	const std::vector<uint8_t>* pBlock = Client.GetCreateBlock(iVehicle);
	ASSERT_NE(pBlock, nullptr);
	EXPECT_EQ(pBlock->size(), IsIV(Game) ? 30u + 108 : 30u + 115);
	EXPECT_EQ(*pBlock, Vehicle.GetBytes());

	CTestMessage Pickup;
	Pickup.I32(Client.GetIndex()).I32(-1).I32(0).String("").U16(0);
	Vec(Pickup, CVector3D(3, 0, 0));
	Pickup.I32(1242).U8(2).I32(0);
	pBlock = Client.GetCreateBlock(iPickup);
	ASSERT_NE(pBlock, nullptr);
	EXPECT_EQ(*pBlock, Pickup.GetBytes());

	Strong<CResource> pResource(World.Server().GetServer().GetResourceMgr().FindResourceByName("garage"));
	ASSERT_FALSE(pResource.IsNull());
	ASSERT_TRUE(pResource->Stop(false));
	EXPECT_TRUE(Client.WaitForElement(iVehicle, false));
	EXPECT_TRUE(Client.WaitForElement(iPickup, false));
	EXPECT_FALSE(World.Manager()->DoesIdExist(iVehicle));
	EXPECT_FALSE(World.Manager()->DoesIdExist(iPickup));
}

TEST_P(GameElements, PlayersAreSyncedByTheirOwnClientOnly)
{
	CGameWorld World(GTA_III, GetParam());
	ASSERT_TRUE(World.Server().Start());
	CGameClient First, Second;
	CServerPlayer* pFirst = World.JoinWithPlayer(First, "First", CVector3D(0, 0, 0));
	CServerPlayer* pSecond = World.JoinWithPlayer(Second, "Second", CVector3D(5, 0, 0));
	ASSERT_TRUE(pFirst && pSecond);
	const int32_t iFirst = pFirst->GetId();
	const int32_t iSecond = pSecond->GetId();
	ASSERT_TRUE(Second.WaitForElement(iFirst, true));

	// The first player as the second client gets it: the player takes its client's name.
	CTestMessage Create;
	Create.I32(First.GetIndex()).I32(-1).I32(0).String("First").U16(0).I32(-1).U8(0).U8(0).U32(0);
	const std::vector<uint8_t>* pBlock = Second.GetCreateBlock(iFirst);
	ASSERT_NE(pBlock, nullptr);
	ASSERT_EQ(pBlock->size(), Create.GetBytes().size() + 128);
	EXPECT_EQ(std::vector<uint8_t>(pBlock->begin(), pBlock->begin() + static_cast<long>(Create.GetBytes().size())),
		Create.GetBytes());

	const std::vector<uint8_t> Sync = ThirdGamePlayerSync(CVector3D(1, 2, 3), -1, 0, 0);
	ASSERT_EQ(Sync.size(), 128u);
	tElementEntry Entry;
	Entry.m_iType = ELEMENT_PLAYER;
	Entry.m_iId = iFirst;
	Entry.m_Block = Sync;
	tElementEntry Relayed;
	ASSERT_TRUE(SyncUntilRelayed(First, Second, {Entry}, Relayed));
	EXPECT_EQ(Relayed.m_Block, Sync);
	CVector3D vecPosition;
	pFirst->GetPosition(vecPosition);
	EXPECT_FLOAT_EQ(vecPosition.z, 3.0f);
	EXPECT_FLOAT_EQ(pFirst->m_fHealth, 75.0f);

	// The second client speaks for its own player, not for the first one: one message, both entries.
	tElementEntry Foreign = Entry;
	Foreign.m_Block = ThirdGamePlayerSync(CVector3D(50, 50, 50), -1, 0, 0);
	tElementEntry Own = Foreign;
	Own.m_iId = iSecond;
	Own.m_Block = ThirdGamePlayerSync(CVector3D(7, 7, 7), -1, 0, 0);
	ASSERT_TRUE(Second.SendSync({Foreign, Own}));
	ASSERT_TRUE(World.Server().PassUntil([&] {
		CVector3D vecSecond;
		pSecond->GetPosition(vecSecond);
		return vecSecond.x == 7.0f;
	}));
	pFirst->GetPosition(vecPosition);
	EXPECT_FLOAT_EQ(vecPosition.x, 1.0f);
}

TEST_P(GameElements, DriverTakesOverItsVehiclesSync)
{
	CGameWorld World(GTA_III, GetParam());
	ASSERT_TRUE(World.Server().Start());
	CGameClient First, Second;
	ASSERT_NE(World.JoinWithPlayer(First, "First", CVector3D(0, 0, 0)), nullptr);
	CServerPlayer* pSecond = World.JoinWithPlayer(Second, "Second", CVector3D(5, 0, 0));
	ASSERT_NE(pSecond, nullptr);
	CServerVehicle* pVehicle = World.Place<CServerVehicle>(ELEMENT_VEHICLE, CVector3D(3, 0, 0));
	const int32_t iVehicle = pVehicle->GetId();
	ASSERT_TRUE(First.WaitForElement(iVehicle, true));
	ASSERT_TRUE(Second.WaitForElement(iVehicle, true));
	ASSERT_TRUE(World.Server().PassUntil([&] { return pVehicle->GetSyncer() == World.Machine(First); }));

	// A passenger does not take it.
	tElementEntry Entry;
	Entry.m_iType = ELEMENT_PLAYER;
	Entry.m_iId = pSecond->GetId();
	Entry.m_Block = ThirdGamePlayerSync(CVector3D(3, 0, 0), iVehicle, 1, 3);
	ASSERT_TRUE(Second.SendSync({Entry}));
	ASSERT_TRUE(World.Server().PassUntil([&] { return pSecond->GetSeat() == 1; }));
	EXPECT_EQ(pVehicle->GetSyncer(), World.Machine(First));
	EXPECT_EQ(pVehicle->GetOccupant(1), pSecond);

	Entry.m_Block = ThirdGamePlayerSync(CVector3D(3, 0, 0), iVehicle, 0, 3);
	ASSERT_TRUE(Second.SendSync({Entry}));
	EXPECT_TRUE(World.Server().PassUntil([&] { return pVehicle->GetSyncer() == World.Machine(Second); }));
	EXPECT_EQ(pVehicle->GetOccupant(0), pSecond);
	EXPECT_EQ(pVehicle->GetOccupant(1), nullptr);
}

TEST_P(GameElements, PickupGetsANewSyncerWhenItsSyncerLeaves)
{
	CGameWorld World(GTA_III, GetParam());
	ASSERT_TRUE(World.Server().Start());
	CGameClient First, Second;
	ASSERT_NE(World.JoinWithPlayer(First, "First", CVector3D(0, 0, 0)), nullptr);
	ASSERT_NE(World.JoinWithPlayer(Second, "Second", CVector3D(1, 0, 0)), nullptr);
	Strong<CServerPickup> pPickup(World.Place<CServerPickup>(ELEMENT_PICKUP, CVector3D(2, 0, 0)));
	ASSERT_TRUE(First.WaitForElement(pPickup->GetId(), true));
	ASSERT_TRUE(Second.WaitForElement(pPickup->GetId(), true));
	ASSERT_TRUE(World.Server().PassUntil([&] { return pPickup->GetSyncer() == World.Machine(First); }));
	CNetMachine* pSecond = World.Machine(Second);

	ASSERT_TRUE(First.Disconnect(0));
	EXPECT_TRUE(World.Server().PassUntil([&] { return pPickup->GetSyncer() == pSecond; }));
}

INSTANTIATE_TEST_SUITE_P(Transport, MapElements, ::testing::Combine(::testing::Bool(), ::testing::Bool()), DescribeMapCase);
INSTANTIATE_TEST_SUITE_P(Transport, GameElements, ::testing::Bool(), DescribeTransport);
