// Elements as joined clients see them: streamed in and out by distance, synced from one client to the others,
// handed to a new syncer, acknowledged and destroyed. The server runs in the test's process (so tests can place
// elements) with and without the network thread; the clients speak the protocol over the loopback.

#include <gtest/gtest.h>
#include <memory>

#include "InProcessServer.h"
#include "ServerManager.h"
#include "Support/TestElement.h"
#include "Support/Transport.h"

using namespace ServerTest;
using namespace VexaTest;

namespace
{
constexpr uint32_t ENTITY_TYPE = 4;
constexpr uint32_t PLAYER_TYPE = 94;

std::vector<uint8_t> PositionBytes(float x, float y, float z)
{
	CTestMessage Block;
	Block.F32(x).F32(y).F32(z);
	return Block.GetBytes();
}

class ClientElements : public ::testing::TestWithParam<bool>
{
protected:
	void SetUp() override
	{
		m_pServer = std::make_unique<CInProcessServer>("", GetParam());
		ASSERT_TRUE(m_pServer->Start());
	}

	CServerManager* Manager() { return m_pServer->GetServer().GetManager(); }
	CNetMachine* Machine(const CGameClient& Client) { return m_pServer->GetServer().GetClients().GetMachine(Client.GetIndex()); }

	// A registered element at the position that streams by distance; the manager holds it.
	CTestElement* AddElement(const CVector3D& vecPosition, uint32_t uiType = ENTITY_TYPE)
	{
		CTestElement* pElement = new CTestElement(Manager(), uiType);
		pElement->m_vecPosition = vecPosition;
		pElement->SetStreamInDistance(100.0f);
		pElement->SetStreamOutDistance(200.0f);
		pElement->SetNetFlag(NETFLAG_DISTANCE_STREAMING, true);
		EXPECT_TRUE(Manager()->RegisterNetObject(pElement));
		pElement->Release();
		return pElement;
	}

	// Joins the client and gives it a player element at the position, synced by that client.
	CTestElement* JoinWithPlayer(CGameClient& Client, const std::string& Name, const CVector3D& vecPosition)
	{
		m_pServer->Attach(Client);
		tJoinRequest Request;
		Request.m_Name = Name;
		EXPECT_TRUE(Client.Join(m_pServer->GetPort(), Request));
		CNetMachine* pMachine = Machine(Client);
		EXPECT_NE(pMachine, nullptr);
		if (!pMachine)
			return nullptr;
		CTestElement* pPlayer = AddElement(vecPosition, PLAYER_TYPE);
		pPlayer->SetNetFlag(NETFLAG_ALWAYS_EXIST_FOR_SYNCER, true);
		pPlayer->SetSyncer(pMachine, true);
		pMachine->SetPlayer(pPlayer);
		return pPlayer;
	}

	std::unique_ptr<CInProcessServer> m_pServer;
};

// Services the client until it has been told that the element is its player.
bool WaitForOwnPlayer(CGameClient& Client, int32_t iPlayer)
{
	const std::vector<uint8_t> Expected = CTestMessage().I32(iPlayer).GetBytes();
	for (int i = 0; i < 1000; i++)
	{
		for (const tReceivedMessage& Message : Client.TakeMessages())
		{
			if (Message.m_uiId == MSG_OWN_PLAYER && Message.m_Body == Expected)
				return true;
		}
		Client.Service(5);
	}
	return false;
}
}

TEST_P(ClientElements, ElementsStreamInAndOutByDistanceToThePlayer)
{
	CGameClient Client;
	CTestElement* pPlayer = JoinWithPlayer(Client, "Player", CVector3D(0, 0, 0));
	ASSERT_NE(pPlayer, nullptr);
	const int32_t iPlayer = pPlayer->GetId();
	ASSERT_TRUE(Client.WaitForElement(iPlayer, true));
	// Once the player is created on its client, the client is told which element it is.
	EXPECT_TRUE(WaitForOwnPlayer(Client, iPlayer));

	Strong<CTestElement> pElement(AddElement(CVector3D(50, 0, 0)));
	const int32_t iId = pElement->GetId();
	ASSERT_TRUE(Client.WaitForElement(iId, true));
	const std::vector<uint8_t>* pBlock = Client.GetCreateBlock(iId);
	ASSERT_NE(pBlock, nullptr);
	ASSERT_GE(pBlock->size(), 12u);
	EXPECT_EQ(std::vector<uint8_t>(pBlock->end() - 12, pBlock->end()), PositionBytes(50, 0, 0));

	pElement->m_vecPosition = CVector3D(0, 250, 0);
	ASSERT_TRUE(Client.WaitForElement(iId, false));
	pElement->m_vecPosition = CVector3D(0, 0, 10);
	ASSERT_TRUE(Client.WaitForElement(iId, true));
	// The player stays whatever its distance.
	EXPECT_TRUE(Client.HasElement(iPlayer));
}

TEST_P(ClientElements, SyncFromTheSyncerReachesTheOtherClients)
{
	CGameClient First, Second;
	CTestElement* pFirstPlayer = JoinWithPlayer(First, "First", CVector3D(0, 0, 0));
	CTestElement* pSecondPlayer = JoinWithPlayer(Second, "Second", CVector3D(10, 0, 0));
	ASSERT_TRUE(pFirstPlayer && pSecondPlayer);
	Strong<CTestElement> pElement(AddElement(CVector3D(5, 0, 0)));
	const int32_t iId = pElement->GetId();
	ASSERT_TRUE(First.WaitForElement(iId, true));
	ASSERT_TRUE(Second.WaitForElement(iId, true));
	// It streamed in for the lower slot first, which became its syncer.
	ASSERT_TRUE(m_pServer->PassUntil([&] { return pElement->GetSyncer() == Machine(First); }));
	Second.TakeMessages();

	tElementEntry Entry;
	Entry.m_iType = ENTITY_TYPE;
	Entry.m_iId = iId;
	Entry.m_Block = PositionBytes(1, 2, 3);
	tElementEntry Relayed;
	ASSERT_TRUE(SyncUntilRelayed(First, Second, {Entry}, Relayed));
	EXPECT_EQ(Relayed.m_iType, static_cast<int32_t>(ENTITY_TYPE));
	EXPECT_EQ(Relayed.m_Block, PositionBytes(1, 2, 3));
	EXPECT_FLOAT_EQ(pElement->m_vecPosition.y, 2.0f);
}

TEST_P(ClientElements, SyncEntriesAreFramedByTheirSize)
{
	CGameClient Client;
	ASSERT_NE(JoinWithPlayer(Client, "Player", CVector3D(0, 0, 0)), nullptr);
	Strong<CTestElement> pElement(AddElement(CVector3D(5, 0, 0)));
	ASSERT_TRUE(Client.WaitForElement(pElement->GetId(), true));

	// An unknown id is skipped by its size; an entry of size 6 ends the message.
	CTestMessage Sync(MSG_SYNC);
	Sync.U16(4);
	Sync.U16(8 + 12).I32(ENTITY_TYPE).I32(999999).Bytes(PositionBytes(9, 9, 9));
	Sync.U16(8 + 12).I32(ENTITY_TYPE).I32(pElement->GetId()).Bytes(PositionBytes(7, 0, 0));
	Sync.U16(6).I32(ENTITY_TYPE).I32(pElement->GetId());
	Sync.U16(8 + 12).I32(ENTITY_TYPE).I32(pElement->GetId()).Bytes(PositionBytes(8, 0, 0));
	ASSERT_TRUE(Client.Send(Sync, 1));
	// The whole message is handled in one pass, so the first change seen is its final effect.
	ASSERT_TRUE(m_pServer->PassUntil([&] { return pElement->m_vecPosition.x != 5.0f; }));
	EXPECT_FLOAT_EQ(pElement->m_vecPosition.x, 7.0f);
}

TEST_P(ClientElements, DestroyedElementLeavesEveryClient)
{
	CGameClient First, Second;
	ASSERT_NE(JoinWithPlayer(First, "First", CVector3D(0, 0, 0)), nullptr);
	ASSERT_NE(JoinWithPlayer(Second, "Second", CVector3D(0, 0, 0)), nullptr);
	CTestElement* pElement = AddElement(CVector3D(1, 0, 0));
	const int32_t iId = pElement->GetId();
	ASSERT_TRUE(First.WaitForElement(iId, true));
	ASSERT_TRUE(Second.WaitForElement(iId, true));
	ASSERT_TRUE(Manager()->DestroyObject(pElement, true, false));
	EXPECT_TRUE(First.WaitForElement(iId, false));
	EXPECT_TRUE(Second.WaitForElement(iId, false));
}

TEST_P(ClientElements, LeavingClientLosesItsPlayerAndHandsItsElementsOn)
{
	CGameClient First, Second;
	CTestElement* pFirstPlayer = JoinWithPlayer(First, "First", CVector3D(0, 0, 0));
	ASSERT_NE(pFirstPlayer, nullptr);
	const int32_t iFirstPlayer = pFirstPlayer->GetId();
	ASSERT_NE(JoinWithPlayer(Second, "Second", CVector3D(0, 0, 0)), nullptr);
	Strong<CTestElement> pElement(AddElement(CVector3D(1, 0, 0)));
	ASSERT_TRUE(Second.WaitForElement(pElement->GetId(), true));
	ASSERT_TRUE(Second.WaitForElement(iFirstPlayer, true));
	ASSERT_TRUE(m_pServer->PassUntil([&] { return pElement->GetSyncer() == Machine(First); }));
	CNetMachine* pSecond = Machine(Second);

	ASSERT_TRUE(First.Disconnect(0));
	EXPECT_TRUE(Second.WaitForElement(iFirstPlayer, false));
	EXPECT_EQ(Manager()->FromId(iFirstPlayer, 0), nullptr);
	EXPECT_TRUE(m_pServer->PassUntil([&] { return pElement->GetSyncer() == pSecond; }));
}

TEST_P(ClientElements, StreamOutAcknowledgementGoesOnPastAnElementItDestroys)
{
	CGameClient Client;
	ASSERT_NE(JoinWithPlayer(Client, "Player", CVector3D(0, 0, 0)), nullptr);
	CNetMachine* pMachine = Machine(Client);
	CTestElement* pHeldBySyncer = AddElement(CVector3D(1, 0, 0));
	pHeldBySyncer->SetNetFlag(NETFLAG_ALWAYS_EXIST_FOR_SYNCER, true);
	pHeldBySyncer->SetSyncer(pMachine, true);
	CTestElement* pTransient = AddElement(CVector3D(2, 0, 0));
	pTransient->SetNetFlag(NETFLAG_TRANSIENT, true);
	const int32_t iHeld = pHeldBySyncer->GetId();
	const int32_t iTransient = pTransient->GetId();
	ASSERT_TRUE(Client.WaitForElement(iHeld, true));
	ASSERT_TRUE(Client.WaitForElement(iTransient, true));

	CTestMessage Ack(MSG_DESTROY);
	Ack.U16(2).I32(iHeld).I32(iTransient);
	ASSERT_TRUE(Client.Send(Ack, 2));
	EXPECT_TRUE(
		m_pServer->PassUntil([&] { return !Manager()->DoesIdExist(iHeld) && !Manager()->DoesIdExist(iTransient); }));
}

TEST_P(ClientElements, SyncerRequestAndStreamingFlag)
{
	CGameClient First, Second;
	ASSERT_NE(JoinWithPlayer(First, "First", CVector3D(0, 0, 0)), nullptr);
	ASSERT_NE(JoinWithPlayer(Second, "Second", CVector3D(0, 0, 0)), nullptr);
	Strong<CTestElement> pElement(AddElement(CVector3D(1, 0, 0)));
	ASSERT_TRUE(Second.WaitForElement(pElement->GetId(), true));
	ASSERT_TRUE(m_pServer->PassUntil([&] { return pElement->GetSyncer() == Machine(First); }));

	CTestMessage Request(MSG_SYNCER_REQUEST);
	Request.I32(pElement->GetId());
	ASSERT_TRUE(Second.Send(Request));
	EXPECT_TRUE(m_pServer->PassUntil([&] { return pElement->GetSyncer() == Machine(Second); }));

	CNetMachine* pSecond = Machine(Second);
	CTestMessage Off(MSG_ELEMENT_STREAMING);
	Off.U8(0);
	ASSERT_TRUE(Second.Send(Off));
	EXPECT_TRUE(m_pServer->PassUntil([&] { return !pSecond->IsElementStreaming(); }));
	CTestMessage On(MSG_ELEMENT_STREAMING);
	On.U8(2);
	ASSERT_TRUE(Second.Send(On));
	EXPECT_TRUE(m_pServer->PassUntil([&] { return pSecond->IsElementStreaming(); }));
}

INSTANTIATE_TEST_SUITE_P(Transport, ClientElements, ::testing::Bool(), DescribeTransport);
