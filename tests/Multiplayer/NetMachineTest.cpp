// The server's client record and its table of slots: the player element, client data, the client block and the
// messages that tell every client about a client's changes.

#include <gtest/gtest.h>

#include "Multiplayer/NetMachine.h"
#include "ReplicationHarness.h"

using namespace ReplicationTest;

namespace
{
class NetMachineTest : public ::testing::Test
{
protected:
	NetMachineTest() : m_Resources(&m_Context), m_Manager(&m_Resources, true)
	{
		m_Manager.SetServerSink(&m_Shim, &m_Transport);
		m_Manager.SetNetMachines(&m_Machines);
	}

	CNetMachine* AddMachine(int32_t iIndex, const char* szName)
	{
		CNetMachine* pMachine = new CNetMachine(&m_Manager);
		pMachine->SetIndex(iIndex);
		pMachine->SetName(szName);
		pMachine->SetJoined(true);
		m_Machines.SetMachine(iIndex, pMachine);
		pMachine->Release();
		return pMachine;
	}

	Strong<CTestElement> NewElement(int32_t iDimension = 0)
	{
		Strong<CTestElement> pElement = Strong<CTestElement>::New(new CTestElement(&m_Manager));
		pElement->SetDimension(iDimension);
		EXPECT_TRUE(m_Manager.RegisterNetObject(pElement));
		return pElement;
	}

	Context m_Context;
	CResourceMgr m_Resources;
	CNetCompatibilityShim m_Shim;
	CFakeTransport m_Transport;
	CNetMachines m_Machines;
	CTestManager m_Manager;
};

std::vector<uint8_t> Body(const tSent& Sent)
{
	return std::vector<uint8_t>(Sent.m_Bytes.begin() + 8, Sent.m_Bytes.end());
}
}

TEST_F(NetMachineTest, NewPlayerTakesTheNameAndEveryClientHearsOfIt)
{
	CNetMachine* pClient = AddMachine(3, "Tommy");
	Strong<CTestElement> pPlayer = NewElement();
	m_Transport.m_Sent.clear();
	pClient->SetPlayer(pPlayer);
	EXPECT_STREQ(pPlayer->GetName(), "Tommy");
	std::vector<tSent> Changes = OfId(m_Transport.m_Sent, NETMACHINE_MESSAGE_PLAYER);
	ASSERT_EQ(Changes.size(), 1u);
	EXPECT_EQ(Body(Changes[0]), CTestMessage().U16(1).I32(3).I32(pPlayer->GetId()).GetBytes());
	EXPECT_EQ(Changes[0].m_ucChannel, NET_CHANNEL_EVERYONE);
	EXPECT_EQ(pClient->GetPlayer(), pPlayer.GetPointer());

	m_Transport.m_Sent.clear();
	pClient->SetPlayer(pPlayer);
	EXPECT_TRUE(OfId(m_Transport.m_Sent, NETMACHINE_MESSAGE_PLAYER).empty());
}

TEST_F(NetMachineTest, DespawnDestroysThePlayerEverywhere)
{
	CNetMachine* pClient = AddMachine(0, "Tommy");
	Strong<CTestElement> pPlayer = NewElement();
	const int32_t iId = pPlayer->GetId();
	pClient->SetPlayer(pPlayer);
	m_Transport.m_Sent.clear();
	pClient->DespawnPlayer();
	EXPECT_EQ(pClient->GetPlayer(), nullptr);
	EXPECT_FALSE(m_Manager.DoesIdExist(iId));
	EXPECT_EQ(OfId(m_Transport.m_Sent, NETMSG_DESTROY).size(), 1u);
	std::vector<tSent> Changes = OfId(m_Transport.m_Sent, NETMACHINE_MESSAGE_PLAYER);
	ASSERT_EQ(Changes.size(), 1u);
	EXPECT_EQ(Body(Changes[0]), CTestMessage().U16(1).I32(0).I32(-1).GetBytes());
}

TEST_F(NetMachineTest, DimensionIsThatOfThePlayersRoot)
{
	CNetMachine* pClient = AddMachine(0, "Tommy");
	Strong<CTestElement> pOnThree = NewElement(3);
	Strong<CTestElement> pOnNone = NewElement(-1);
	EXPECT_FALSE(pClient->IsObjectOnMyDimension(pOnThree));
	EXPECT_TRUE(pClient->IsObjectOnMyDimension(pOnNone));

	Strong<CTestElement> pVehicle = NewElement(3);
	Strong<CTestElement> pPlayer = NewElement(0);
	ASSERT_TRUE(pPlayer->SetParent(pVehicle));
	pClient->SetPlayer(pPlayer);
	EXPECT_TRUE(pClient->IsObjectOnMyDimension(pOnThree));
	EXPECT_FALSE(pClient->IsObjectOnMyDimension(pOnNone));
	ASSERT_TRUE(pPlayer->SetParent(nullptr));
}

TEST_F(NetMachineTest, ClientBlockDescribesTheClient)
{
	CNetMachine* pClient = AddMachine(1, "Claude");
	pClient->SetAdministrator(true);
	pClient->SetGameVersion(0x1FF);
	CArgumentInteger Value(7);
	ASSERT_TRUE(pClient->SetData("k", &Value, false));
	CUnlimitedStream Block;
	ASSERT_TRUE(pClient->Write(&Block));
	const uint8_t* pData = Block.GetData();
	std::vector<uint8_t> Bytes(pData, pData + Block.GetSize());
	const std::vector<uint8_t> Expected =
		CTestMessage().U8(1).U8(0xFF).U8(0xFF).I32(-1).String("Claude").U16(1).String("k").U8(ARGUMENT_INTEGER).I32(7).GetBytes();
	EXPECT_EQ(Bytes, Expected);
}

TEST_F(NetMachineTest, ClientDataMessages)
{
	CNetMachine* pClient = AddMachine(2, "Tommy");
	CArgumentInteger Value(5);
	ASSERT_TRUE(pClient->SetData("cash", &Value, true));
	ASSERT_TRUE(pClient->SetData("quiet", &Value, false));
	EXPECT_FALSE(pClient->RemoveData("missing"));
	EXPECT_TRUE(pClient->RemoveData("cash"));
	pClient->ClearData();
	EXPECT_EQ(pClient->GetData("quiet"), nullptr);

	std::vector<tSent> Data = OfId(m_Transport.m_Sent, NETMACHINE_MESSAGE_DATA);
	ASSERT_EQ(Data.size(), 2u);
	EXPECT_EQ(Body(Data[0]), CTestMessage().U16(1).I32(2).U16(1).String("cash").U8(ARGUMENT_INTEGER).I32(5).GetBytes());
	EXPECT_EQ(Body(Data[1]), CTestMessage().U16(1).I32(2).U16(1).String("cash").U8(ARGUMENT_NIL).GetBytes());
	std::vector<tSent> Cleared = OfId(m_Transport.m_Sent, NETMACHINE_MESSAGE_DATA_CLEARED);
	ASSERT_EQ(Cleared.size(), 1u);
	EXPECT_EQ(Body(Cleared[0]), CTestMessage().U16(1).I32(2).GetBytes());
}

TEST_F(NetMachineTest, DataWithoutAWireFormIsRefusedAndNotSent)
{
	CNetMachine* pClient = AddMachine(0, "Tommy");
	Strong<CBaseObject> pObject = Strong<CBaseObject>::New(new CBaseObject());
	Strong<CArgument> pValue = Strong<CArgument>::New(CArgument::Create(pObject.GetPointer()));
	ASSERT_FALSE(pValue.IsNull());
	EXPECT_FALSE(pClient->SetData("object", pValue, true));
	EXPECT_EQ(pClient->GetData("object"), nullptr);
	EXPECT_TRUE(OfId(m_Transport.m_Sent, NETMACHINE_MESSAGE_DATA).empty());
}

TEST_F(NetMachineTest, FlagsGoToEveryone)
{
	CNetMachine* pClient = AddMachine(4, "Tommy");
	pClient->SetAdministrator(true);
	pClient->SendUpdate();
	std::vector<tSent> Flags = OfId(m_Transport.m_Sent, NETMACHINE_MESSAGE_FLAGS);
	ASSERT_EQ(Flags.size(), 1u);
	EXPECT_EQ(Body(Flags[0]), CTestMessage().U16(1).I32(4).U8(1).GetBytes());
}

TEST_F(NetMachineTest, ConsoleSendsNothing)
{
	CNetMachine* pConsole = AddMachine(255, "Console");
	pConsole->SetConsole(true);
	Packet Message(1);
	EXPECT_FALSE(pConsole->SendPacket(&Message, PACKET_PRIORITY_LOW, PACKET_FLAG_RELIABLE, 0));
	EXPECT_EQ(pConsole->GetFlags(), CNetMachine::FLAG_CONSOLE);
}

TEST_F(NetMachineTest, ServerSyncsAndOwnsEveryElementThoughItsTableNamesTheConsoleLocal)
{
	CNetMachine* pConsole = AddMachine(255, "Console");
	pConsole->SetConsole(true);
	m_Machines.SetLocalIndex(255);
	CNetMachine* pClient = AddMachine(0, "Tommy");
	Strong<CTestElement> pSynced = NewElement();
	pSynced->SetSyncer(pClient, false);
	Strong<CTestElement> pConsoles = NewElement();
	pConsoles->SetSyncer(pConsole, false);

	EXPECT_EQ(m_Manager.GetLocalMachine(), nullptr);
	for (CTestElement* pElement : {pSynced.GetPointer(), pConsoles.GetPointer()})
	{
		EXPECT_TRUE(pElement->IsSyncer()) << pElement->GetId();
		EXPECT_TRUE(pElement->IsOwner()) << pElement->GetId();
	}
}

TEST_F(NetMachineTest, SlotTable)
{
	CNetMachine* pFirst = AddMachine(0, "First");
	AddMachine(2, "Third");
	int iPeer = 0;
	pFirst->SetPeer(&iPeer);
	EXPECT_EQ(m_Machines.GetMachineFromPeer(&iPeer), pFirst);
	EXPECT_EQ(m_Machines.GetMachineFromPeer(nullptr), nullptr);
	EXPECT_EQ(m_Machines.FindFreeSlot(255), 1);
	EXPECT_EQ(m_Machines.FindFreeSlot(1), INVALID_CLIENT_ID);
	EXPECT_EQ(m_Machines.GetMachine(-1), nullptr);
	EXPECT_EQ(m_Machines.GetMachine(256), nullptr);
	EXPECT_FALSE(m_Machines.SetMachine(256, pFirst));
	m_Machines.Clear();
	EXPECT_EQ(m_Machines.GetMachine(0), nullptr);
}

TEST_F(NetMachineTest, ClientWalksVisitTheirClientsInSlotOrder)
{
	AddMachine(0, "Joined");
	AddMachine(3, "Joining")->SetJoined(false);
	// A record put in a slot by hand: the slot walk gives the slot, not what the record believes.
	AddMachine(200, "Elsewhere")->SetIndex(INVALID_CLIENT_ID);
	CNetMachine* pConsole = AddMachine(255, "Console");
	pConsole->SetConsole(true);
	pConsole->SetJoined(false);

	auto Names = [](auto&& Walk) {
		std::vector<std::string> Result;
		for (const CNetMachine* pClient : Walk)
			Result.push_back(pClient->GetName());
		return Result;
	};
	const CNetMachines& Table = m_Machines;
	struct tCase
	{
		eClientWalk m_eWalk;
		std::vector<std::string> m_Names;
		std::vector<int32_t> m_Slots;
	};
	const tCase Cases[] = {
		{CLIENTS_CONNECTED, {"Joined", "Joining", "Elsewhere", "Console"}, {0, 3, 200, 255}},
		{CLIENTS_JOINED, {"Joined", "Elsewhere"}, {0, 200}},
		{CLIENTS_JOINED_GAME, {"Joined", "Elsewhere"}, {0, 200}},
	};
	for (const tCase& Case : Cases)
	{
		SCOPED_TRACE(Case.m_eWalk);
		EXPECT_EQ(Names(m_Machines.Clients(Case.m_eWalk)), Case.m_Names);
		EXPECT_EQ(Names(Table.Clients(Case.m_eWalk)), Case.m_Names);
		std::vector<int32_t> Slots;
		for (int32_t iSlot : m_Machines.ClientSlots(Case.m_eWalk))
			Slots.push_back(iSlot);
		EXPECT_EQ(Slots, Case.m_Slots);
		EXPECT_EQ(m_Machines.Clients(Case.m_eWalk).Count(), Case.m_Names.size());
		// The replication manager walks the same table through its interface.
		std::vector<std::string> Seen;
		for (INetMachine* pClient : m_Manager.Clients(Case.m_eWalk))
			Seen.push_back(static_cast<CNetMachine*>(pClient)->GetName());
		EXPECT_EQ(Seen, Case.m_Names);
	}

	// A joined console is a joined client, not a joined game client.
	pConsole->SetJoined(true);
	EXPECT_EQ(Names(m_Machines.Clients(CLIENTS_JOINED)), (std::vector<std::string>{"Joined", "Elsewhere", "Console"}));
	EXPECT_EQ(Names(m_Machines.Clients(CLIENTS_JOINED_GAME)), (std::vector<std::string>{"Joined", "Elsewhere"}));

	// Without a table there is nothing to walk.
	m_Manager.SetNetMachines(nullptr);
	EXPECT_EQ(m_Manager.Clients(CLIENTS_CONNECTED).Count(), 0u);
}

TEST_F(NetMachineTest, ClientWalksSeeClientsThatComeAndGoAheadOfThemButNotBehind)
{
	AddMachine(0, "First");
	AddMachine(5, "Fifth");
	AddMachine(8, "Eighth");
	AddMachine(9, "Ninth");
	std::vector<std::string> Visited;
	for (CNetMachine* pClient : m_Machines.Clients(CLIENTS_JOINED))
	{
		Visited.push_back(pClient->GetName());
		if (pClient->GetIndex() != 5)
			continue;
		AddMachine(2, "Behind");
		AddMachine(7, "Ahead");
		m_Machines.GetMachine(8)->SetJoined(false);
		m_Machines.SetMachine(9, nullptr);
	}
	EXPECT_EQ(Visited, (std::vector<std::string>{"First", "Fifth", "Ahead"}));
}
