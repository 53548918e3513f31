// Vehicles and peds that clients create themselves (messages 111 and 116, answered with 112): registered with the
// creating client as syncer when the server takes them, random traffic refused close to anything in the world,
// nothing at all without synclocalentities, from a request that ends early, or beyond a client's share of the
// element table. The server runs in the test's process with and without the network thread.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TwoClientGame.h"

#include "Elements/ServerPed.h"
#include "Elements/ServerVehicle.h"
#include "Support/Transport.h"

using namespace ServerTest;
using namespace VexaTest;

namespace
{
typedef std::vector<uint8_t> tBytes;
typedef std::vector<tReceivedMessage> tMessages;

constexpr uint32_t MSG_CREATE_VEHICLE = 111;
constexpr uint32_t MSG_ANSWER = 112;
constexpr uint32_t MSG_CREATE_PED = 116;
constexpr uint32_t VEHICLE_TYPE = 142;
constexpr uint32_t PED_TYPE = 30;

const char* const SYNC_LOCAL = "\t<synclocalentities>true</synclocalentities>\n";
const tBytes TAG = {0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6, 0x07, 0x18};

tBytes Cat(const tBytes& First, const tBytes& Second)
{
	tBytes All = First;
	All.insert(All.end(), Second.begin(), Second.end());
	return All;
}

// The index of the sending client, which every test joins first: a client names itself the syncer of what it
// creates.
constexpr int32_t CREATOR = 0;

// The replicated part of a create block: the creator as syncer, no parent, dimension 0, no name, no data.
tBytes BareCreateBlock()
{
	return CTestMessage().I32(CREATOR).I32(-1).I32(0).String("").U16(0).GetBytes();
}

// Model 130, interior 2, the creation kind; no flags, lock 1, palette colours 1 to 4.
tBytes VehicleCreateBlock(uint8_t ucKind)
{
	return Cat(BareCreateBlock(), CTestMessage().I32(130).U8(2).U8(ucKind).U32(0).U8(1).U8(1).U8(2).U8(3).U8(4).GetBytes());
}

// GTA III: the matrix with the position, velocities, the vehicle's fields, damage mode 0 and no extra floats.
tBytes VehicleSyncBlock(const CVector3D& vecPosition)
{
	CTestMessage Block;
	Block.F32(1).F32(0).F32(0).F32(0).F32(0).F32(1).F32(0).F32(0).F32(0).F32(0).F32(1).F32(0);
	Block.F32(vecPosition.x).F32(vecPosition.y).F32(vecPosition.z).F32(1);
	Block.F32(0).F32(0).F32(0).F32(0).F32(0).F32(0);
	Block.U32(0).F32(900).F32(0).F32(0).F32(0);
	Block.U8(0).U8(0).U8(0).U8(0).U8(0).U8(0).U8(0);
	return Block.GetBytes();
}

// Model 7, interior 0, the creation kind, ped type 4.
tBytes PedCreateBlock(uint8_t ucKind)
{
	return Cat(BareCreateBlock(), CTestMessage().I32(7).U8(0).U8(ucKind).U32(4).GetBytes());
}

// GTA III: fixed fields in no vehicle, then the weapon fields and no raw block.
tBytes PedSyncBlock(const CVector3D& vecPosition)
{
	CTestMessage Block;
	Block.I32(-1).F32(vecPosition.x).F32(vecPosition.y).F32(vecPosition.z);
	Block.F32(0).F32(0).F32(0).F32(0).F32(0).F32(0);
	Block.F32(0.5f).F32(0.5f).F32(100).U8(0).I32(-1).U8(0).U16(0);
	Block.U16(0).U16(0).U8(0).F32(0).U8(0).U8(0);
	return Block.GetBytes();
}

CTestMessage Request(uint32_t uiId, uint32_t uiLocalId, const tBytes& Create, const tBytes& Sync)
{
	return CTestMessage(uiId).U32(uiLocalId).Bytes(TAG).Bytes(Create).Bytes(Sync);
}

CTestMessage VehicleRequest(uint32_t uiLocalId, uint8_t ucKind, const CVector3D& vecPosition)
{
	return Request(MSG_CREATE_VEHICLE, uiLocalId, VehicleCreateBlock(ucKind), VehicleSyncBlock(vecPosition));
}

CTestMessage PedRequest(uint32_t uiLocalId, uint8_t ucKind, const CVector3D& vecPosition)
{
	return Request(MSG_CREATE_PED, uiLocalId, PedCreateBlock(ucKind), PedSyncBlock(vecPosition));
}

tBytes Answer(uint32_t uiType, uint32_t uiLocalId, int32_t iId)
{
	return CTestMessage().U32(uiType).U32(uiLocalId).Bytes(TAG).I32(iId).GetBytes();
}

class Peer2PeerSystem : public ::testing::TestWithParam<bool>
{
protected:
	void Start(const std::string& Children = SYNC_LOCAL)
	{
		m_pGame = std::make_unique<CTwoClientGame>(Children, GetParam());
		ASSERT_TRUE(m_pGame->Start());
	}

	CTwoClientGame& Game() { return *m_pGame; }
	CGTAClient* Sender() { return m_pGame->Record(m_pGame->m_Sender); }
	size_t ElementCount() { return m_pGame->Manager()->GetObjectCount(); }

	// Sends the request and gives the answers the sender got.
	std::vector<tBytes> Ask(const CTestMessage& Message)
	{
		m_pGame->m_Sender.Send(Message);
		m_pGame->Settle(m_ToSender, m_ToOther);
		EXPECT_TRUE(BodiesOf(m_ToOther, MSG_ANSWER).empty());
		return BodiesOf(m_ToSender, MSG_ANSWER);
	}

	// The network id of an accepted answer, or -1.
	static int32_t AnsweredId(const tBytes& Body)
	{
		int32_t iId = -1;
		CTestMessageReader(Body, Body.size() - 4).I32(iId);
		return iId;
	}

	std::unique_ptr<CTwoClientGame> m_pGame;
	tMessages m_ToSender;
	tMessages m_ToOther;
};
}

// The blocks a game client writes by default have the sizes every client and server agree on.
TEST(Peer2PeerBlocks, DefaultBlocksHaveTheirSizes)
{
	EXPECT_EQ(VehicleCreateBlock(0).size(), 30u);
	EXPECT_EQ(VehicleSyncBlock(CVector3D()).size(), 115u);
	EXPECT_EQ(PedCreateBlock(0).size(), 25u);
	EXPECT_EQ(PedSyncBlock(CVector3D()).size(), 71u);
}

TEST_P(Peer2PeerSystem, CreatedElementsBelongToTheirClient)
{
	Start();
	struct tCase
	{
		const char* m_szName;
		CTestMessage m_Request;
		uint32_t m_uiType;
		uint32_t m_uiLocalId;
		CVector3D m_vecPosition;
		tBytes m_Create;
	};
	const tCase rgCases[] = {
		{"parked vehicle", VehicleRequest(7, 0, CVector3D(4, 0, 0)), VEHICLE_TYPE, 7, CVector3D(4, 0, 0), VehicleCreateBlock(0)},
		{"mission vehicle", VehicleRequest(0xFFFFFFF0, 2, CVector3D(0, 5, 0)), VEHICLE_TYPE, 0xFFFFFFF0, CVector3D(0, 5, 0),
			VehicleCreateBlock(2)},
		// Peds are never refused for being close.
		{"random ped", PedRequest(9, 1, CVector3D(1, 0, 0)), PED_TYPE, 9, CVector3D(1, 0, 0), PedCreateBlock(1)},
	};
	for (const tCase& Case : rgCases)
	{
		SCOPED_TRACE(Case.m_szName);
		const std::vector<tBytes> Answers = Ask(Case.m_Request);
		ASSERT_EQ(Answers.size(), 1u);
		const int32_t iId = AnsweredId(Answers[0]);
		EXPECT_EQ(Answers[0], Answer(Case.m_uiType, Case.m_uiLocalId, iId));
		CServerEntity* pElement = static_cast<CServerEntity*>(Game().Manager()->FromId(iId, 0));
		ASSERT_NE(pElement, nullptr);
		EXPECT_EQ(pElement->GetType(), Case.m_uiType);
		EXPECT_EQ(pElement->m_iClientLocalId, static_cast<int32_t>(Case.m_uiLocalId));
		EXPECT_TRUE(pElement->HasNetFlag(NETFLAG_TRANSIENT));
		EXPECT_TRUE(pElement->HasNetFlag(NETFLAG_ALWAYS_EXIST_FOR_SYNCER));
		EXPECT_EQ(pElement->GetSyncer(), static_cast<INetMachine*>(Sender()));
		EXPECT_TRUE(pElement->IsCreatedFor(Sender()));
		CVector3D vecPosition;
		pElement->GetPosition(vecPosition);
		EXPECT_EQ(vecPosition.x, Case.m_vecPosition.x);
		EXPECT_EQ(vecPosition.y, Case.m_vecPosition.y);
		EXPECT_EQ(vecPosition.z, Case.m_vecPosition.z);
		// The other client gets what the creator described, with the creator as syncer; the creator gets no
		// create message for what it made.
		ASSERT_TRUE(Game().m_Other.WaitForElement(iId, true));
		const std::vector<uint8_t>* pBlock = Game().m_Other.GetCreateBlock(iId);
		ASSERT_NE(pBlock, nullptr);
		ASSERT_EQ(Sender()->GetIndex(), CREATOR);
		const tBytes& Expected = Case.m_Create;
		ASSERT_GE(pBlock->size(), Expected.size());
		EXPECT_EQ(tBytes(pBlock->begin(), pBlock->begin() + static_cast<std::ptrdiff_t>(Expected.size())), Expected);
		Game().m_Sender.ApplyElementMessages();
		EXPECT_FALSE(Game().m_Sender.HasElement(iId));
	}
}

// Random traffic (creation kinds 1 and 3) appears only 10 units or more from every entity in the world.
TEST_P(Peer2PeerSystem, RandomVehiclesNeedRoom)
{
	Start();
	struct tCase
	{
		const char* m_szName;
		uint8_t m_ucKind;
		CVector3D m_vecPosition;
		bool m_bAccepted;
	};
	// The players stand at the origin.
	const tCase rgCases[] = {
		{"9.9 from the players", 1, CVector3D(9.9f, 0, 0), false},
		{"kind 3, 9.9 from the players", 3, CVector3D(0, -9.9f, 0), false},
		{"10 from the players", 1, CVector3D(10, 0, 0), true},
		{"kind 3, 10 below the players", 3, CVector3D(0, 0, -10), true},
		{"5 from the vehicle accepted before", 1, CVector3D(10, 0, 5), false},
		{"not random, on the players", 0, CVector3D(0, 0, 0), true},
		{"kind 2, by the vehicle", 2, CVector3D(10, 0, 5), true},
	};
	uint32_t uiLocalId = 100;
	for (const tCase& Case : rgCases)
	{
		SCOPED_TRACE(Case.m_szName);
		const size_t Count = ElementCount();
		const std::vector<tBytes> Answers = Ask(VehicleRequest(++uiLocalId, Case.m_ucKind, Case.m_vecPosition));
		ASSERT_EQ(Answers.size(), 1u);
		if (Case.m_bAccepted)
		{
			EXPECT_NE(AnsweredId(Answers[0]), -1);
			EXPECT_EQ(ElementCount(), Count + 1);
		}
		else
		{
			EXPECT_EQ(Answers[0], Answer(VEHICLE_TYPE, uiLocalId, -1));
			EXPECT_EQ(ElementCount(), Count);
		}
	}
}

TEST_P(Peer2PeerSystem, IgnoredWithoutSyncLocalEntities)
{
	Start("");
	const size_t Count = ElementCount();
	EXPECT_TRUE(Ask(VehicleRequest(1, 0, CVector3D(5, 0, 0))).empty());
	EXPECT_TRUE(Ask(PedRequest(2, 0, CVector3D(5, 0, 0))).empty());
	EXPECT_EQ(ElementCount(), Count);
}

// Half an element is no element: a request cut anywhere, or whose blocks do not read, gets no answer and leaves
// nothing behind.
TEST_P(Peer2PeerSystem, RequestsThatDoNotReadRegisterNothing)
{
	Start();
	const size_t Count = ElementCount();
	for (const CTestMessage& Whole : {VehicleRequest(1, 0, CVector3D(5, 0, 0)), PedRequest(2, 0, CVector3D(5, 0, 0))})
	{
		const tBytes& Bytes = Whole.GetBytes();
		for (size_t Length = MESSAGE_HEADER_SIZE; Length < Bytes.size(); Length++)
		{
			SCOPED_TRACE(std::to_string(Bytes[4]) + " cut at " + std::to_string(Length - MESSAGE_HEADER_SIZE));
			Game().m_Sender.SendRaw(Bytes.data(), Length);
			Game().Settle(m_ToSender, m_ToOther);
			EXPECT_TRUE(BodiesOf(m_ToSender, MSG_ANSWER).empty());
			EXPECT_EQ(ElementCount(), Count);
		}
	}

	tBytes RGBWithoutItsColours = VehicleCreateBlock(0);
	RGBWithoutItsColours[BareCreateBlock().size() + 6] = 2;
	// One entry of element data whose value has a tag no reader knows.
	const tBytes VehicleBlock = VehicleCreateBlock(0);
	const tBytes UnknownData = Cat(CTestMessage().I32(CREATOR).I32(-1).I32(0).String("").U16(1).String("k").U8(99).GetBytes(),
		tBytes(VehicleBlock.begin() + static_cast<std::ptrdiff_t>(BareCreateBlock().size()), VehicleBlock.end()));
	tBytes LongRawBlock = PedSyncBlock(CVector3D());
	LongRawBlock.back() = 1;
	LongRawBlock = Cat(LongRawBlock, CTestMessage().U16(2000).U8(1).GetBytes());
	const std::pair<const char*, CTestMessage> rgBroken[] = {
		{"RGB colours announced, palette sent", Request(MSG_CREATE_VEHICLE, 3, RGBWithoutItsColours, VehicleSyncBlock(CVector3D()))},
		{"element data of no known kind", Request(MSG_CREATE_VEHICLE, 4, UnknownData, VehicleSyncBlock(CVector3D()))},
		{"raw ped block above 1024 bytes", Request(MSG_CREATE_PED, 5, PedCreateBlock(0), LongRawBlock)},
	};
	for (const auto& Broken : rgBroken)
	{
		SCOPED_TRACE(Broken.first);
		EXPECT_TRUE(Ask(Broken.second).empty());
		EXPECT_EQ(ElementCount(), Count);
	}
}

// One client cannot fill the server's element table: it may have 1024 elements of its own at a time, and gets a
// new one when one of them is gone. Other clients are not held back by it.
TEST_P(Peer2PeerSystem, AClientOwnsAtMost1024Elements)
{
	Start();
	const size_t Limit = CGTAClient::MAX_LOCAL_ELEMENTS;
	ASSERT_EQ(Limit, 1024u);
	// Far from the players, so the other client is not sent them; in batches, since a flood of reliable
	// messages makes the transport throttle a link the test services one client at a time.
	constexpr uint32_t BATCH = 32;
	std::vector<tBytes> Answers;
	for (uint32_t i = 0; i < Limit + 1; i++)
	{
		Game().m_Sender.Send(VehicleRequest(i, 0, CVector3D(5000, static_cast<float>(i), 0)));
		if ((i + 1) % BATCH == 0 || i == Limit)
		{
			Game().Settle(m_ToSender, m_ToOther);
			for (const tBytes& Body : BodiesOf(m_ToSender, MSG_ANSWER))
				Answers.push_back(Body);
		}
	}
	Game().Settle(m_ToSender, m_ToOther);
	EXPECT_TRUE(BodiesOf(m_ToSender, MSG_ANSWER).empty());
	ASSERT_EQ(Answers.size(), Limit);
	for (uint32_t i = 0; i < Limit; i++)
		ASSERT_NE(AnsweredId(Answers[i]), -1) << i;

	EXPECT_TRUE(Ask(VehicleRequest(5000, 0, CVector3D(6000, 0, 0))).empty());
	CNetObject* pOne = Game().Manager()->FromId(AnsweredId(Answers[17]), 0);
	ASSERT_NE(pOne, nullptr);
	ASSERT_TRUE(Game().Manager()->DestroyObject(pOne, true, false));
	EXPECT_EQ(Ask(VehicleRequest(5001, 0, CVector3D(6000, 0, 0))).size(), 1u);
	EXPECT_TRUE(Ask(VehicleRequest(5002, 0, CVector3D(6100, 0, 0))).empty());

	Game().m_Other.Send(VehicleRequest(1, 0, CVector3D(7000, 0, 0)));
	Game().Settle(m_ToSender, m_ToOther);
	EXPECT_EQ(BodiesOf(m_ToOther, MSG_ANSWER).size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Transport, Peer2PeerSystem, ::testing::Bool(), DescribeTransport);
