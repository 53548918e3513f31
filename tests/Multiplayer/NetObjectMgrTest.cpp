#include <algorithm>
#include <climits>
#include <string>

#include "Network/BinaryStream.h"
#include "ReplicationHarness.h"

using namespace ReplicationTest;

namespace
{
class NetObjectMgrTest : public ReplicationFixture
{
protected:
	// An element that streams by distance, placed on the x axis.
	Strong<CTestElement> NewStreamingElement(float fX, float fIn, float fOut)
	{
		Strong<CTestElement> pElement = NewElement(5);
		pElement->SetPosition(CVector3D(fX, 0.0f, 0.0f));
		pElement->SetNetFlag(NETFLAG_DISTANCE_STREAMING, true);
		pElement->SetStreamInDistance(fIn);
		pElement->SetStreamOutDistance(fOut);
		return pElement;
	}

	// A joined client whose player stands at the origin, on the dimension of the elements (0).
	CFakeClient* AddWatchingClient(int32_t iIndex)
	{
		CFakeClient* pClient = AddClient(iIndex);
		Strong<CTestElement> pPlayer = GivePlayer(pClient, CVector3D(0.0f, 0.0f, 0.0f));
		m_Players.push_back(pPlayer);
		return pClient;
	}

	// The ids a message 12 or 13 carries.
	static std::vector<int32_t> IdsOf(const tSent& Message)
	{
		std::vector<int32_t> Ids;
		VexaTest::CTestMessageReader Reader(Message.m_Bytes, 8);
		uint16_t usCount = 0;
		Reader.U16(usCount);
		for (uint16_t i = 0; i < usCount; i++)
		{
			int32_t iId = -2;
			if (Message.GetId() == 13)
				Reader.I32(iId);
			else
			{
				uint16_t usLength = 0;
				uint32_t uiType = 0;
				std::vector<uint8_t> Rest;
				Reader.U16(usLength);
				Reader.U32(uiType);
				Reader.I32(iId);
				Reader.Bytes(usLength - 8, Rest);
			}
			Ids.push_back(iId);
		}
		EXPECT_TRUE(Reader.IsAtEnd());
		return Ids;
	}

	std::vector<Strong<CTestElement>> m_Players;
};

TEST_F(NetObjectMgrTest, IdsCountUpSkipInUseAndWrapToZero)
{
	Strong<CTestElement> pFirst = NewElement();
	Strong<CTestElement> pSecond = NewElement();
	EXPECT_EQ(pFirst->GetId(), 0);
	EXPECT_EQ(pSecond->GetId(), 1);
	ASSERT_TRUE(m_Manager.DestroyObject(pFirst, true, false));
	EXPECT_EQ(NewElement()->GetId(), 2);

	m_Manager.SetNextId(INT_MAX);
	Strong<CTestElement> pLast = NewElement();
	EXPECT_EQ(pLast->GetId(), INT_MAX);
	// 0 is free again, 1 is still in use.
	EXPECT_EQ(NewElement()->GetId(), 0);
	m_Manager.SetNextId(INT_MAX);
	EXPECT_EQ(NewElement()->GetId(), 3);
}

TEST_F(NetObjectMgrTest, IdLookupsHonourTypeMasks)
{
	Strong<CTestElement> pVehicle = NewElement(142);
	EXPECT_EQ(m_Manager.FromId(pVehicle->GetId(), 0), pVehicle.GetPointer());
	EXPECT_EQ(m_Manager.FromId(pVehicle->GetId(), 142), pVehicle.GetPointer());
	EXPECT_EQ(m_Manager.FromId(pVehicle->GetId(), 30), nullptr);
	EXPECT_EQ(m_Manager.FromId(-1, 0), nullptr);
	EXPECT_EQ(m_Manager.FromId(99, 0), nullptr);
	EXPECT_FALSE(m_Manager.DoesIdExist(-1));
	EXPECT_TRUE(m_Manager.DoesIdExist(pVehicle->GetId()));
}

TEST_F(NetObjectMgrTest, TableHolds16384Elements)
{
	std::vector<Strong<CTestElement>> Elements;
	for (size_t i = 0; i < MAX_NET_OBJECTS; i++)
		Elements.push_back(NewElement(0, false));
	for (CTestElement* pElement : Elements)
		ASSERT_TRUE(m_Manager.RegisterNetObject(pElement));
	Strong<CTestElement> pOneMore = NewElement(0, false);
	EXPECT_FALSE(m_Manager.RegisterNetObject(pOneMore));
	EXPECT_FALSE(pOneMore->IsRegistered());
	EXPECT_EQ(m_Manager.GetObjectCount(), MAX_NET_OBJECTS);

	// A freed slot is taken again.
	ASSERT_TRUE(m_Manager.DestroyObject(Elements[100], true, false));
	EXPECT_TRUE(m_Manager.RegisterNetObject(pOneMore));
}

TEST_F(NetObjectMgrTest, WalkOverUsedSlotsFindsEveryElementInSlotOrder)
{
	std::vector<Strong<CTestElement>> Elements;
	for (size_t i = 0; i < MAX_NET_OBJECTS; i++)
		Elements.push_back(NewElement());
	// Kept: slots at the edges of the bit words and of the words the summary covers.
	const std::vector<size_t> Kept = {0, 1, 63, 64, 127, 4095, 4096, 8191, 16320, 16383};
	for (size_t i = 0; i < MAX_NET_OBJECTS; i++)
	{
		if (std::find(Kept.begin(), Kept.end(), i) == Kept.end())
		{
			ASSERT_TRUE(m_Manager.DestroyObject(Elements[i], true, false));
		}
	}
	std::vector<size_t> Walked;
	for (size_t i = m_Manager.GetNextUsedSlot(0); i < m_Manager.GetSlotCount(); i = m_Manager.GetNextUsedSlot(i + 1))
	{
		EXPECT_EQ(m_Manager.GetObjectAt(i), Elements[i].GetPointer()) << i;
		Walked.push_back(i);
	}
	EXPECT_EQ(Walked, Kept);
	EXPECT_EQ(m_Manager.GetNextUsedSlot(2), 63u);
	EXPECT_EQ(m_Manager.GetNextUsedSlot(m_Manager.GetSlotCount()), m_Manager.GetSlotCount());

	for (size_t Slot : Kept)
		ASSERT_TRUE(m_Manager.DestroyObject(Elements[Slot], true, false));
	EXPECT_EQ(m_Manager.GetNextUsedSlot(0), m_Manager.GetSlotCount());
	// Freed slots are taken again from the lowest, and the walk finds them.
	ASSERT_TRUE(m_Manager.RegisterNetObject(NewElement(0, false)));
	EXPECT_EQ(m_Manager.GetNextUsedSlot(0), 0u);
}

TEST_F(NetObjectMgrTest, WalkOverHeldSlotsFindsTheElementsSomeSlotHasInSlotOrder)
{
	CFakeClient* pClient = AddClient(4);
	Strong<CFakeClient> pAbsent = Strong<CFakeClient>::New(new CFakeClient(30));
	std::vector<Strong<CTestElement>> Elements;
	for (size_t i = 0; i < 4200; i++)
		Elements.push_back(NewElement());
	auto Walk = [this]() {
		std::vector<size_t> Walked;
		for (size_t i = m_Manager.GetNextHeldSlot(0); i < m_Manager.GetSlotCount(); i = m_Manager.GetNextHeldSlot(i + 1))
			Walked.push_back(i);
		return Walked;
	};
	EXPECT_TRUE(Walk().empty());

	// Held by a client or by a slot without one, at the edges of the bit words and of the words the summary covers.
	for (size_t Slot : {0, 63, 64, 4095, 4096, 4199})
		Elements[Slot]->SetCreatedFor(Slot == 64 ? static_cast<INetMachine*>(pAbsent) : pClient, true);
	EXPECT_EQ(Walk(), (std::vector<size_t>{0, 63, 64, 4095, 4096, 4199}));
	EXPECT_EQ(m_Manager.GetNextHeldSlot(1), 63u);

	// Let go in each way there is; a destroyed element's slot is no longer held, nor is the element that takes it.
	Elements[0]->SetCreatedFor(pClient, false);
	Elements[63]->ResetMachine(pClient);
	Elements[64]->ResetMachines();
	ASSERT_TRUE(m_Manager.DestroyObject(Elements[4096], true, false));
	ASSERT_TRUE(m_Manager.RegisterNetObject(NewElement(0, false)));
	EXPECT_EQ(Walk(), (std::vector<size_t>{4095, 4199}));

	// An element marked before it registers is held from its registration on.
	ASSERT_TRUE(m_Manager.DestroyObject(Elements[10], true, false));
	Strong<CTestElement> pMarked = NewElement(0, false);
	pMarked->SetCreatedFor(pClient, true);
	ASSERT_TRUE(m_Manager.RegisterNetObject(pMarked));
	EXPECT_EQ(Walk(), (std::vector<size_t>{10, 4095, 4199}));
}

TEST_F(NetObjectMgrTest, SlotRangesSeeWhatTheirBodiesChangeAheadOfThemAndNothingBehind)
{
	CFakeClient* pClient = AddClient(0);
	std::vector<Strong<CTestElement>> Elements;
	for (size_t i = 0; i < 200; i++)
		Elements.push_back(NewElement());
	for (size_t Slot : {3, 70, 150})
		ASSERT_TRUE(m_Manager.DestroyObject(Elements[Slot], true, false));
	for (size_t Slot : {5, 60, 100, 130, 160, 199})
		Elements[Slot]->SetCreatedFor(pClient, true);

	// Visiting slot 50 destroys two elements ahead and registers two that take the free slots 3 (behind) and 70
	// (ahead); visiting slot 180 registers one that takes the free slot 150 (behind).
	std::vector<Strong<CTestElement>> Added;
	std::vector<size_t> Walked;
	for (size_t Slot : m_Manager.UsedSlots())
	{
		Walked.push_back(Slot);
		if (Slot == 50)
		{
			ASSERT_TRUE(m_Manager.DestroyObject(Elements[120], true, false));
			ASSERT_TRUE(m_Manager.DestroyObject(Elements[121], true, false));
			Added.push_back(NewElement());
			Added.push_back(NewElement());
		}
		if (Slot == 180)
			Added.push_back(NewElement());
	}
	std::vector<size_t> Expected;
	for (size_t Slot = 0; Slot < 200; Slot++)
	{
		if (Slot != 3 && Slot != 120 && Slot != 121 && Slot != 150)
			Expected.push_back(Slot);
	}
	EXPECT_EQ(Walked, Expected);

	// Visiting slot 60 lets go of one element ahead, takes one behind and one ahead, and destroys another ahead.
	Walked.clear();
	for (size_t Slot : m_Manager.HeldSlots())
	{
		Walked.push_back(Slot);
		if (Slot == 60)
		{
			Elements[130]->SetCreatedFor(pClient, false);
			Elements[40]->SetCreatedFor(pClient, true);
			Elements[140]->SetCreatedFor(pClient, true);
			ASSERT_TRUE(m_Manager.DestroyObject(Elements[160], true, false));
		}
	}
	EXPECT_EQ(Walked, (std::vector<size_t>{5, 60, 100, 140, 199}));

	// Nothing to walk.
	for (const Strong<CTestElement>& pElement : Elements)
		m_Manager.DestroyObject(pElement, true, false);
	for (const Strong<CTestElement>& pElement : Added)
		m_Manager.DestroyObject(pElement, true, false);
	EXPECT_EQ(m_Manager.UsedSlots().begin() != m_Manager.UsedSlots().end(), false);
	EXPECT_EQ(m_Manager.HeldSlots().begin() != m_Manager.HeldSlots().end(), false);
}

TEST_F(NetObjectMgrTest, ElementRegisteredByAStreamInHandlerIsCreatedInTheSamePassWhenItsSlotComesLater)
{
	CFakeClient* pClient = AddWatchingClient(0);
	Strong<CTestElement> pFirst = NewElement(5);
	Strong<CTestElement> pLater;
	// The first element's handler registers another one; the free slot it takes lies after the first's.
	OnEvent(m_Manager.GetOnElementStreamIn(), [&](EventHandlers::CEvent*, const CArgumentArray& Arguments) {
		if (ElementArgument(Arguments) == pFirst.GetPointer() && pLater.IsNull())
			pLater = NewElement(5);
	});
	m_Manager.CreateObjectsAsNeeded(pClient, 5);
	ASSERT_FALSE(pLater.IsNull());
	ASSERT_EQ(OfId(pClient->m_Sent, 12).size(), 1u);
	EXPECT_EQ(IdsOf(OfId(pClient->m_Sent, 12)[0]), (std::vector<int32_t>{pFirst->GetId(), pLater->GetId()}));
}

TEST_F(NetObjectMgrTest, RegistrationHoldsOneReference)
{
	Strong<CTestElement> pElement = NewElement(0, false);
	EXPECT_TRUE(m_Manager.RegisterNetObject(pElement));
	EXPECT_TRUE(m_Manager.RegisterNetObject(pElement));
	EXPECT_EQ(pElement->GetRefCount(), 2);
	EXPECT_TRUE(pElement->HasNetFlag(NETFLAG_REGISTERED));
}

TEST_F(NetObjectMgrTest, DestroyTellsEveryPeerAndUndoesRegistration)
{
	CFakeClient* pClient = AddClient(0);
	Strong<CTestElement> pElement = NewElement();
	Strong<CTestElement> pChild = NewElement();
	ASSERT_TRUE(pChild->SetParent(pElement));
	pClient->SetPlayer(pElement);
	Weak<CNetObject> pWeak(pElement.GetPointer());
	const int32_t iId = pElement->GetId();
	const int32_t iChildId = pChild->GetId();

	ASSERT_TRUE(m_Manager.DestroyObject(pElement, false, false));

	ASSERT_EQ(m_Transport.m_Sent.size(), 2u);
	EXPECT_EQ(m_Transport.m_Sent[0].m_Bytes, CTestMessage(13).U16(1).I32(iId).GetBytes());
	EXPECT_EQ(m_Transport.m_Sent[0].m_ucChannel, 2);
	EXPECT_EQ(m_Transport.m_Sent[0].m_eFlags, PACKET_FLAG_RELIABLE | PACKET_FLAG_EVERYONE);
	// Children go with their parent.
	EXPECT_EQ(m_Transport.m_Sent[1].m_Bytes, CTestMessage(13).U16(1).I32(iChildId).GetBytes());
	EXPECT_FALSE(pChild->IsRegistered());

	EXPECT_TRUE(pWeak.IsNull());
	EXPECT_EQ(pClient->GetPlayer(), nullptr);
	EXPECT_EQ(pElement->GetId(), INVALID_NETWORK_ID);
	EXPECT_FALSE(pElement->IsRegistered());
	EXPECT_EQ(pElement->GetRefCount(), 1);
	EXPECT_EQ(m_Manager.FromId(iId, 0), nullptr);
	for (size_t i = 0; i < MAX_NET_MACHINES; i++)
		ASSERT_EQ(pElement->GetMachineInfo(i).m_ucState, 0x04) << i;

	EXPECT_FALSE(m_Manager.DestroyObject(pElement, true, true));
	// Destruction is final.
	EXPECT_FALSE(m_Manager.RegisterNetObject(pElement));
}

TEST_F(NetObjectMgrTest, CancelledDestroyOnlyStopsElementsWithoutId)
{
	OnEvent(m_Manager.GetOnElementDestroy(), [](EventHandlers::CEvent* pEvent, const CArgumentArray&) { Cancel(pEvent); });
	Strong<CTestElement> pRegistered = NewElement();
	Strong<CTestElement> pLocal = NewElement(0, false);

	EXPECT_TRUE(m_Manager.DestroyObject(pRegistered, true, false));
	EXPECT_FALSE(pRegistered->IsRegistered());
	EXPECT_FALSE(m_Manager.DestroyObject(pLocal, true, false));
	EXPECT_FALSE(pLocal->IsDeleting());
	EXPECT_TRUE(m_Manager.DestroyObject(pLocal, true, true));

	Strong<CTestElement> pStubborn = NewElement();
	pStubborn->m_bCanBeDeleted = false;
	EXPECT_FALSE(m_Manager.DestroyObject(pStubborn, true, true));
	EXPECT_TRUE(pStubborn->IsRegistered());
}

TEST_F(NetObjectMgrTest, DestroyRemovesHandlersBoundToTheElement)
{
	Strong<CTestElement> pElement = NewElement();
	EventHandlers::CEventType* pType = m_Manager.GetOnElementStreamIn();
	pType->AddHandler(new CLambdaHandler(m_Resources.GetEventHandlers(), nullptr));
	auto* pBound = new CLambdaHandler(m_Resources.GetEventHandlers(), nullptr);
	pBound->m_pSource = pElement.GetPointer();
	pBound->m_bBound = true;
	pType->AddHandler(pBound);
	ASSERT_EQ(pType->GetHandlerCount(), 2u);
	ASSERT_TRUE(m_Manager.DestroyObject(pElement, true, false));
	EXPECT_EQ(pType->GetHandlerCount(), 1u);
}

TEST_F(NetObjectMgrTest, PendingChildrenAttachWhenTheirParentRegisters)
{
	Strong<CTestElement> pParent = NewElement(0, false);
	m_Manager.SetNextId(40);
	std::vector<uint8_t> Block = CTestMessage().I32(-1).I32(40).I32(0).String("").U16(0).GetBytes();
	CMemoryStream Stream(Block.data(), Block.size());
	Strong<CTestElement> pChild = NewElement(0, false);
	ASSERT_TRUE(pChild->ReadCreatePacket(&Stream));
	m_Manager.SetNextId(10);
	ASSERT_TRUE(m_Manager.RegisterNetObject(pChild));
	EXPECT_EQ(pChild->GetParent(), nullptr);

	m_Manager.SetNextId(40);
	ASSERT_TRUE(m_Manager.RegisterNetObject(pParent));
	ASSERT_EQ(pParent->GetId(), 40);
	EXPECT_EQ(pChild->GetParent(), pParent.GetPointer());
}

TEST_F(NetObjectMgrTest, CreateMessageCarriesEveryElementThatStreamsIn)
{
	CFakeClient* pClient = AddWatchingClient(1);
	Strong<CTestElement> pElement = NewElement(5);
	Strong<CTestElement> pOtherType = NewElement(2);
	m_Manager.CreateObjectsAsNeeded(pClient, 5);

	ASSERT_EQ(pClient->m_Sent.size(), 1u);
	const tSent& Message = pClient->m_Sent[0];
	EXPECT_EQ(Message.m_Bytes, CTestMessage(12)
									.U16(1)
									.U16(23)
									.U32(5)
									.I32(pElement->GetId())
									.I32(1)
									.I32(-1)
									.I32(0)
									.String("")
									.U16(0)
									.GetBytes());
	EXPECT_EQ(Message.m_ucChannel, 2);
	EXPECT_EQ(Message.m_ePriority, PACKET_PRIORITY_LOW);
	EXPECT_EQ(Message.m_eFlags, PACKET_FLAG_RELIABLE);
	EXPECT_EQ(pElement->GetSyncer(), pClient);
	EXPECT_TRUE(pElement->IsCreatedFor(pClient));
	EXPECT_FALSE(pOtherType->IsCreatedFor(pClient));
	EXPECT_EQ(pClient->m_iSendPlayerCalls, 0);

	// Nothing new: nothing sent.
	m_Manager.CreateObjectsAsNeeded(pClient, 5);
	EXPECT_EQ(pClient->m_Sent.size(), 1u);
}

TEST_F(NetObjectMgrTest, SingleCreateGoesOutAtOnceAndOnlyOnce)
{
	CFakeClient* pClient = AddWatchingClient(0);
	Strong<CTestElement> pElement = NewElement(5);
	m_Manager.SendCreatePacket(pClient, pElement);
	m_Manager.SendCreatePacket(pClient, pElement);
	ASSERT_EQ(OfId(pClient->m_Sent, 12).size(), 1u);
	EXPECT_EQ(IdsOf(OfId(pClient->m_Sent, 12)[0]), std::vector<int32_t>{pElement->GetId()});
	EXPECT_TRUE(pElement->IsCreatedFor(pClient));
	EXPECT_EQ(pElement->GetSyncer(), pClient);

	Strong<CTestElement> pUnregistered = NewElement(5, false);
	m_Manager.SendCreatePacket(pClient, pUnregistered);
	EXPECT_EQ(OfId(pClient->m_Sent, 12).size(), 1u);
}

TEST_F(NetObjectMgrTest, CreationWaitsForJoiningStreamingAndTheRightDimension)
{
	CFakeClient* pJoining = AddClient(0, false);
	CFakeClient* pNotStreaming = AddClient(1);
	pNotStreaming->m_bStreaming = false;
	CFakeClient* pNoPlayer = AddClient(2);
	Strong<CTestElement> pElement = NewElement();
	pElement->SetDimension(-1);
	Strong<CTestElement> pElsewhere = NewElement();
	Strong<CTestElement> pEverywhere = NewElement();
	pEverywhere->SetDimension(5);
	pEverywhere->SetNetFlag(NETFLAG_ON_ALL_DIMENSIONS, true);

	for (CFakeClient* pClient : {pJoining, pNotStreaming, pNoPlayer})
		m_Manager.CreateObjectsAsNeeded(pClient, 0);
	EXPECT_TRUE(pJoining->m_Sent.empty());
	EXPECT_TRUE(pNotStreaming->m_Sent.empty());
	// Without a player a client is on dimension -1.
	ASSERT_EQ(pNoPlayer->m_Sent.size(), 1u);
	EXPECT_EQ(IdsOf(pNoPlayer->m_Sent[0]), (std::vector<int32_t>{pElement->GetId(), pEverywhere->GetId()}));
}

TEST_F(NetObjectMgrTest, OwnPlayerIsAnnouncedOnceItIsCreated)
{
	CFakeClient* pClient = AddClient(0);
	Strong<CTestElement> pPlayer = GivePlayer(pClient, CVector3D());
	m_Manager.CreateObjectsAsNeeded(pClient, 0);
	EXPECT_EQ(pClient->m_iSendPlayerCalls, 1);
}

TEST_F(NetObjectMgrTest, StreamingByDistanceUsesStrictLimits)
{
	struct tCase
	{
		float m_fDistance;
		bool m_bIn;
	};
	const tCase InCases[] = {{100.0f, false}, {99.9f, true}};
	const tCase OutCases[] = {{200.1f, false}, {200.0f, true}};

	CFakeClient* pClient = AddWatchingClient(0);
	for (const tCase& Case : InCases)
	{
		Strong<CTestElement> pElement = NewStreamingElement(Case.m_fDistance, 100.0f, 200.0f);
		m_Manager.CreateObjectsAsNeeded(pClient, 5);
		EXPECT_EQ(pElement->IsCreatedFor(pClient), Case.m_bIn) << Case.m_fDistance;
		m_Manager.DestroyObject(pElement, true, false);
	}
	for (const tCase& Case : OutCases)
	{
		Strong<CTestElement> pElement = NewStreamingElement(50.0f, 100.0f, 200.0f);
		m_Manager.CreateObjectsAsNeeded(pClient, 5);
		ASSERT_TRUE(pElement->IsCreatedFor(pClient));
		pClient->m_Sent.clear();
		pElement->SetPosition(CVector3D(Case.m_fDistance, 0.0f, 0.0f));
		m_Manager.DeleteFarAwayStuff(pClient);
		EXPECT_EQ(pElement->IsCreatedFor(pClient), Case.m_bIn) << Case.m_fDistance;
		if (!Case.m_bIn)
		{
			ASSERT_EQ(pClient->m_Sent.size(), 1u);
			EXPECT_EQ(pClient->m_Sent[0].m_Bytes, CTestMessage(13).U16(1).I32(pElement->GetId()).GetBytes());
			EXPECT_EQ(pClient->m_Sent[0].m_ucChannel, 2);
		}
		m_Manager.DestroyObject(pElement, true, false);
	}
}

TEST_F(NetObjectMgrTest, ElementsWithoutPositionIgnoreDistanceOnlyWhenNotStreamingByIt)
{
	CFakeClient* pClient = AddWatchingClient(0);
	Strong<CTestElement> pByDistance = NewElement(5);
	pByDistance->SetNetFlag(NETFLAG_DISTANCE_STREAMING, true);
	pByDistance->SetStreamInDistance(1e9f);
	Strong<CTestElement> pAlways = NewElement(5);
	m_Manager.CreateObjectsAsNeeded(pClient, 5);
	EXPECT_FALSE(pByDistance->IsCreatedFor(pClient));
	EXPECT_TRUE(pAlways->IsCreatedFor(pClient));
}

TEST_F(NetObjectMgrTest, LeavingTheSyncerStreamsOutAndFreesTheSyncer)
{
	CFakeClient* pClient = AddWatchingClient(0);
	Strong<CTestElement> pElement = NewStreamingElement(10.0f, 100.0f, 200.0f);
	m_Manager.CreateObjectsAsNeeded(pClient, 5);
	ASSERT_EQ(pElement->GetSyncer(), pClient);
	pElement->SetPosition(CVector3D(500.0f, 0.0f, 0.0f));
	m_Manager.DeleteFarAwayStuff(pClient);
	EXPECT_EQ(pElement->GetSyncer(), nullptr);
	EXPECT_TRUE(pElement->IsRegistered());
}

TEST_F(NetObjectMgrTest, TransientElementLeavingItsLastClientIsDestroyedByBroadcast)
{
	CFakeClient* pClient = AddWatchingClient(0);
	Strong<CTestElement> pElement = NewStreamingElement(10.0f, 100.0f, 200.0f);
	pElement->SetNetFlag(NETFLAG_TRANSIENT, true);
	m_Manager.CreateObjectsAsNeeded(pClient, 5);
	const int32_t iId = pElement->GetId();
	ClearSent();

	pElement->SetPosition(CVector3D(500.0f, 0.0f, 0.0f));
	m_Manager.DeleteFarAwayStuff(pClient);
	EXPECT_FALSE(pElement->IsRegistered());
	EXPECT_TRUE(OfId(pClient->m_Sent, 13).empty());
	ASSERT_EQ(OfId(m_Transport.m_Sent, 13).size(), 1u);
	EXPECT_EQ(OfId(m_Transport.m_Sent, 13)[0].m_Bytes, CTestMessage(13).U16(1).I32(iId).GetBytes());
}

TEST_F(NetObjectMgrTest, CancelledStreamEventsAreAskedAgainNextPass)
{
	CFakeClient* pClient = AddWatchingClient(0);
	bool bRefuse = true;
	auto Refuse = [&bRefuse](EventHandlers::CEvent* pEvent, const CArgumentArray&) {
		if (bRefuse)
			Cancel(pEvent);
	};
	OnEvent(m_Manager.GetOnElementStreamIn(), Refuse);
	OnEvent(m_Manager.GetOnElementStreamOut(), Refuse);
	Strong<CTestElement> pElement = NewStreamingElement(10.0f, 100.0f, 200.0f);

	m_Manager.CreateObjectsAsNeeded(pClient, 5);
	EXPECT_FALSE(pElement->IsCreatedFor(pClient));
	bRefuse = false;
	m_Manager.CreateObjectsAsNeeded(pClient, 5);
	ASSERT_TRUE(pElement->IsCreatedFor(pClient));

	bRefuse = true;
	pElement->SetPosition(CVector3D(500.0f, 0.0f, 0.0f));
	m_Manager.DeleteFarAwayStuff(pClient);
	EXPECT_TRUE(pElement->IsCreatedFor(pClient));
	bRefuse = false;
	m_Manager.DeleteFarAwayStuff(pClient);
	EXPECT_FALSE(pElement->IsCreatedFor(pClient));
}

TEST_F(NetObjectMgrTest, StreamingChecksAfterAHandlerSeeWhereItMovedThePlayer)
{
	// The first element's handler moves the player; the second element, at the same place, is judged from where
	// the player stands afterwards.
	CFakeClient* pClient = AddWatchingClient(0);
	CNetObject* pPlayer = pClient->GetPlayer();
	Strong<CTestElement> pFirst = NewStreamingElement(150.0f, 100.0f, 200.0f);
	Strong<CTestElement> pSecond = NewStreamingElement(150.0f, 100.0f, 200.0f);
	OnEvent(m_Manager.GetOnElementStreamIn(), [&](EventHandlers::CEvent*, const CArgumentArray& Arguments) {
		if (ElementArgument(Arguments) == pFirst)
			pPlayer->SetPosition(CVector3D(500.0f, 0.0f, 0.0f));
	});
	OnEvent(m_Manager.GetOnElementStreamOut(), [&](EventHandlers::CEvent*, const CArgumentArray& Arguments) {
		if (ElementArgument(Arguments) == pFirst)
			pPlayer->SetPosition(CVector3D(150.0f, 0.0f, 0.0f));
	});

	pPlayer->SetPosition(CVector3D(100.0f, 0.0f, 0.0f));
	m_Manager.CreateObjectsAsNeeded(pClient, 5);
	EXPECT_TRUE(pFirst->IsCreatedFor(pClient));
	EXPECT_FALSE(pSecond->IsCreatedFor(pClient));

	pSecond->SetCreatedFor(pClient, true);
	m_Manager.DeleteFarAwayStuff(pClient);
	EXPECT_FALSE(pFirst->IsCreatedFor(pClient));
	EXPECT_TRUE(pSecond->IsCreatedFor(pClient));
}

TEST_F(NetObjectMgrTest, ElementsDestroyedByStreamInHandlersAreNotCreated)
{
	CFakeClient* pClient = AddWatchingClient(0);
	Strong<CTestElement> pFirst = NewElement(5);
	Strong<CTestElement> pSecond = NewElement(5);
	Strong<CTestElement> pThird = NewElement(5);
	pFirst->SetName("first");
	const int32_t iSecond = pSecond->GetId();
	// The handler for the second element destroys both the first (already chosen) and itself, and leaves no
	// reference to either behind.
	OnEvent(m_Manager.GetOnElementStreamIn(), [this, iSecond](EventHandlers::CEvent*, const CArgumentArray& Arguments) {
		CNetObject* pElement = ElementArgument(Arguments);
		if (pElement->GetId() == iSecond)
		{
			m_Manager.DestroyObject(m_Manager.FromName("first"), true, false);
			m_Manager.DestroyObject(pElement, true, false);
		}
	});
	const int32_t iThird = pThird->GetId();
	pFirst.SetNull();
	pSecond.SetNull();

	m_Manager.CreateObjectsAsNeeded(pClient, 5);
	ASSERT_EQ(OfId(pClient->m_Sent, 12).size(), 1u);
	EXPECT_EQ(IdsOf(OfId(pClient->m_Sent, 12)[0]), std::vector<int32_t>{iThird});
	EXPECT_EQ(m_Manager.GetObjectCount(), 2u);
}

TEST_F(NetObjectMgrTest, ElementsDestroyedByStreamOutHandlersAreNotStreamedOutAgain)
{
	CFakeClient* pClient = AddWatchingClient(0);
	Strong<CTestElement> pFirst = NewStreamingElement(10.0f, 100.0f, 200.0f);
	Strong<CTestElement> pSecond = NewStreamingElement(10.0f, 100.0f, 200.0f);
	Strong<CTestElement> pThird = NewStreamingElement(10.0f, 100.0f, 200.0f);
	m_Manager.CreateObjectsAsNeeded(pClient, 5);
	const int32_t iFirst = pFirst->GetId();
	const int32_t iThird = pThird->GetId();
	pFirst->SetName("first");
	for (CTestElement* pElement : {pFirst.GetPointer(), pSecond.GetPointer(), pThird.GetPointer()})
		pElement->SetPosition(CVector3D(500.0f, 0.0f, 0.0f));
	OnEvent(m_Manager.GetOnElementStreamOut(), [this, iFirst](EventHandlers::CEvent*, const CArgumentArray& Arguments) {
		CNetObject* pElement = ElementArgument(Arguments);
		if (pElement->GetId() == iFirst + 1)
		{
			m_Manager.DestroyObject(m_Manager.FromName("first"), true, false);
			m_Manager.DestroyObject(pElement, true, false);
		}
	});
	pFirst.SetNull();
	pSecond.SetNull();
	ClearSent();

	m_Manager.DeleteFarAwayStuff(pClient);
	EXPECT_EQ(OfId(m_Transport.m_Sent, 13).size(), 2u);
	ASSERT_EQ(OfId(pClient->m_Sent, 13).size(), 1u);
	EXPECT_EQ(IdsOf(OfId(pClient->m_Sent, 13)[0]), std::vector<int32_t>{iThird});
}

TEST_F(NetObjectMgrTest, SyncGoesOnlyWhereSomethingIsDirty)
{
	CFakeClient* pSyncer = AddWatchingClient(0);
	CFakeClient* pOther = AddWatchingClient(1);
	Strong<CTestElement> pElement = NewElement(7);
	m_Manager.CreateObjectsAsNeeded(pSyncer, 0);
	m_Manager.CreateObjectsAsNeeded(pOther, 0);
	ClearSent();

	m_Manager.SendSync(pOther, PACKET_PRIORITY_HIGH, PACKET_FLAG_UNSEQUENCED);
	EXPECT_TRUE(pOther->m_Sent.empty());

	pElement->SetDirty(true);
	m_Manager.SendSync(pSyncer, PACKET_PRIORITY_HIGH, PACKET_FLAG_UNSEQUENCED);
	m_Manager.SendSync(pOther, PACKET_PRIORITY_HIGH, PACKET_FLAG_UNSEQUENCED);
	EXPECT_TRUE(pSyncer->m_Sent.empty());
	ASSERT_EQ(pOther->m_Sent.size(), 1u);
	EXPECT_EQ(pOther->m_Sent[0].m_Bytes, CTestMessage(4).U16(1).U16(8).U32(7).I32(pElement->GetId()).GetBytes());
	EXPECT_EQ(pOther->m_Sent[0].m_ucChannel, 1);
	EXPECT_EQ(pOther->m_Sent[0].m_ePriority, PACKET_PRIORITY_HIGH);
	EXPECT_EQ(pOther->m_Sent[0].m_eFlags, PACKET_FLAG_UNSEQUENCED);
	EXPECT_FALSE(pElement->IsDirty(pOther));

	m_Manager.SendSync(pOther, PACKET_PRIORITY_HIGH, PACKET_FLAG_UNSEQUENCED);
	EXPECT_EQ(pOther->m_Sent.size(), 1u);
}

// An element whose sync block is a value of its own, counting how often it is written.
class CCountingElement : public CTestElement
{
public:
	using CTestElement::CTestElement;

	bool WriteSyncPacket(Stream* pStream) override
	{
		m_iWrites++;
		CBinaryWriter Writer(pStream);
		return CNetObject::WriteSyncPacket(pStream) && Writer.WriteUInt32(m_uiValue) && Writer.WriteUInt8(m_ucTail);
	}

	uint32_t m_uiValue = 0;
	uint8_t m_ucTail = 0;
	int m_iWrites = 0;
};

TEST_F(NetObjectMgrTest, SyncPassSendsTheSameMessagesWritingEachEntryOnce)
{
	// Clients with and without the elements, a syncer that gets no sync of its own element, and elements dirty
	// for some clients only.
	std::vector<CFakeClient*> Clients = {AddWatchingClient(0), AddWatchingClient(2), AddWatchingClient(5),
		AddWatchingClient(9)};
	std::vector<Strong<CCountingElement>> Elements;
	for (uint32_t i = 0; i < 5; i++)
	{
		Strong<CCountingElement> pElement = Strong<CCountingElement>::New(new CCountingElement(&m_Manager, 40 + i));
		ASSERT_TRUE(m_Manager.RegisterNetObject(pElement));
		pElement->m_uiValue = 0x01020304u * (i + 1);
		pElement->m_ucTail = static_cast<uint8_t>(i);
		Elements.push_back(pElement);
	}
	for (CFakeClient* pClient : Clients)
		m_Manager.CreateObjectsAsNeeded(pClient, 0);
	Elements[1]->SetCreatedFor(Clients[3], false);
	for (const Strong<CCountingElement>& pElement : Elements)
		pElement->SetSyncer(Clients[1], true);
	Elements[2]->SetSyncer(Clients[2], true);

	auto MakeDirty = [&]() {
		for (size_t i = 0; i < Elements.size(); i++)
		{
			Elements[i]->SetDirty(i != 3);
			Elements[i]->m_iWrites = 0;
		}
		Elements[4]->SetDirty(Clients[2], false);
	};
	auto SendToAll = [&]() {
		ClearSent();
		for (CFakeClient* pClient : Clients)
			m_Manager.SendSync(pClient, PACKET_PRIORITY_LOW, PACKET_FLAG_NONE);
		std::vector<std::vector<tSent>> Received;
		for (CFakeClient* pClient : Clients)
			Received.push_back(pClient->m_Sent);
		return Received;
	};

	MakeDirty();
	const std::vector<std::vector<tSent>> Expected = SendToAll();
	// Without a pass every recipient costs a write.
	EXPECT_EQ(Elements[0]->m_iWrites, 3);

	MakeDirty();
	std::vector<std::vector<tSent>> Received;
	{
		CNetObjectMgr::CSyncPass Pass(m_Manager);
		Received = SendToAll();
	}
	ASSERT_EQ(Received.size(), Expected.size());
	for (size_t i = 0; i < Expected.size(); i++)
	{
		ASSERT_EQ(Received[i].size(), Expected[i].size()) << "client " << Clients[i]->GetIndex();
		for (size_t j = 0; j < Expected[i].size(); j++)
		{
			EXPECT_EQ(Received[i][j].m_Bytes, Expected[i][j].m_Bytes) << "client " << Clients[i]->GetIndex();
			EXPECT_EQ(Received[i][j].m_ucChannel, 1);
		}
	}
	for (size_t i = 0; i < Elements.size(); i++)
		EXPECT_EQ(Elements[i]->m_iWrites, i == 3 ? 0 : 1) << "element " << i;
	for (const Strong<CCountingElement>& pElement : Elements)
	{
		for (CFakeClient* pClient : Clients)
			EXPECT_FALSE(pElement->IsDirty(pClient) && pElement->IsCreatedFor(pClient) && pElement->CanSendSync(pClient));
	}
	// One reading of the layout, for the client every element reaches: in slot order, every element but the
	// clean one.
	ASSERT_EQ(Received[0].size(), 1u);
	CTestMessage Message(4);
	Message.U16(4);
	for (size_t i : {0, 1, 2, 4})
		Message.U16(13).U32(40 + static_cast<uint32_t>(i)).I32(Elements[i]->GetId()).U32(Elements[i]->m_uiValue).U8(
			Elements[i]->m_ucTail);
	EXPECT_EQ(Received[0][0].m_Bytes, Message.GetBytes());

	// A later pass writes the entries afresh: what changed in between is what goes out.
	MakeDirty();
	Elements[0]->m_uiValue = 0xCAFEF00Du;
	{
		CNetObjectMgr::CSyncPass Pass(m_Manager);
		Received = SendToAll();
	}
	ASSERT_EQ(Received[2].size(), 1u);
	EXPECT_EQ(Received[2][0].m_Bytes.size(), Expected[2][0].m_Bytes.size());
	VexaTest::CTestMessageReader Reader(Received[2][0].m_Bytes, 8 + 2 + 2 + 8);
	uint32_t uiValue = 0;
	ASSERT_TRUE(Reader.U32(uiValue));
	EXPECT_EQ(uiValue, 0xCAFEF00Du);
}

TEST_F(NetObjectMgrTest, SyncerElectionTakesTheLowestClientThatHasTheElement)
{
	CFakeClient* pLow = AddClient(3, false);
	CFakeClient* pHigh = AddClient(9);
	Strong<CTestElement> pElement = NewElement();
	Strong<CTestElement> pForced = NewElement();
	Strong<CTestElement> pNotLooking = NewElement();
	Strong<CTestElement> pNobodyHasIt = NewElement();
	pNotLooking->SetNetFlag(NETFLAG_FIND_SYNCER, false);
	pForced->SetNetFlag(NETFLAG_FORCED_SYNCER, true);
	for (CTestElement* pCreated : {pElement.GetPointer(), pForced.GetPointer(), pNotLooking.GetPointer()})
	{
		pCreated->SetCreatedFor(pHigh, true);
		pCreated->SetCreatedFor(pLow, true);
	}

	m_Manager.ElectSyncers();
	// Even a client that has not finished joining.
	EXPECT_EQ(pElement->GetSyncer(), pLow);
	EXPECT_EQ(pForced->GetSyncer(), nullptr);
	EXPECT_EQ(pNotLooking->GetSyncer(), nullptr);
	EXPECT_EQ(pNobodyHasIt->GetSyncer(), nullptr);
}

TEST_F(NetObjectMgrTest, SyncerElectionOverATableOfHolders)
{
	// Clients in slots 0, 3 (still joining), 9, 200, 254 and the console in 255; slots 1, 7 and 100 are empty but
	// may still be marked as holding an element.
	for (int32_t iIndex : {0, 3, 9, 200, 254, 255})
		AddClient(iIndex, iIndex != 3 && iIndex != 255);
	m_Clients.m_rgClients[255]->m_bConsole = true;
	std::vector<int32_t> Everyone;
	for (int32_t i = 0; i < static_cast<int32_t>(MAX_NET_MACHINES); i++)
		Everyone.push_back(i);

	struct tCase
	{
		const char* m_szName;
		// The slots the element is created for, with or without a client in them.
		std::vector<int32_t> m_Holders;
		int32_t m_iSyncerBefore;
		eNetObjectFlags m_eFlagOff;
		eNetObjectFlags m_eFlagOn;
		bool m_bHeldBeforeRegistration;
		int32_t m_iElected;
	};
	const eNetObjectFlags NONE = static_cast<eNetObjectFlags>(0);
	const tCase Cases[] = {
		{"the lowest holder, though still joining", {9, 3}, -1, NONE, NONE, false, 3},
		{"the only holder", {9}, -1, NONE, NONE, false, 9},
		{"an empty slot below a holder", {1, 7, 9}, -1, NONE, NONE, false, 9},
		{"only empty slots", {1, 100}, -1, NONE, NONE, false, -1},
		{"the console alone", {255}, -1, NONE, NONE, false, 255},
		{"the console and a lower client", {255, 254}, -1, NONE, NONE, false, 254},
		{"every slot", Everyone, -1, NONE, NONE, false, 0},
		{"nobody", {}, -1, NONE, NONE, false, -1},
		{"not looking for a syncer", {0, 9}, -1, NETFLAG_FIND_SYNCER, NONE, false, -1},
		{"a forced syncer that is gone", {0, 9}, -1, NONE, NETFLAG_FORCED_SYNCER, false, -1},
		{"a syncer already", {3}, 9, NONE, NONE, false, 9},
		{"held before registration", {200}, -1, NONE, NONE, true, 200},
	};

	// Each element is registered once its first holder is marked (after all its marks when it was held before
	// registration or is held by nobody): marks made on a registered element and marks it brought along both count.
	std::vector<Strong<CTestElement>> Elements;
	for (const tCase& Case : Cases)
	{
		Strong<CTestElement> pElement = NewElement(0, false);
		for (int32_t iHolder : Case.m_Holders)
		{
			INetMachine* pClient = m_Manager.GetMachine(iHolder);
			Strong<CFakeClient> pAbsent;
			if (!pClient)
				pClient = pAbsent = Strong<CFakeClient>::New(new CFakeClient(iHolder));
			pElement->SetCreatedFor(pClient, true);
			if (iHolder == Case.m_Holders.front() && !Case.m_bHeldBeforeRegistration)
			{
				ASSERT_TRUE(m_Manager.RegisterNetObject(pElement)) << Case.m_szName;
			}
		}
		if (!pElement->IsRegistered())
		{
			ASSERT_TRUE(m_Manager.RegisterNetObject(pElement)) << Case.m_szName;
		}
		if (Case.m_iSyncerBefore >= 0)
			pElement->SetSyncer(m_Manager.GetMachine(Case.m_iSyncerBefore));
		if (Case.m_eFlagOff != NONE)
			pElement->SetNetFlag(Case.m_eFlagOff, false);
		if (Case.m_eFlagOn != NONE)
			pElement->SetNetFlag(Case.m_eFlagOn, true);
		Elements.push_back(pElement);
	}
	ClearSent();

	m_Manager.ElectSyncers();
	for (size_t i = 0; i < Elements.size(); i++)
	{
		const tCase& Case = Cases[i];
		CTestElement* pElement = Elements[i];
		INetMachine* pSyncer = pElement->GetSyncer();
		EXPECT_EQ(pSyncer ? pSyncer->GetIndex() : -1, Case.m_iElected) << Case.m_szName;
		// A new syncer is announced once to every joined client but the console that has the element.
		const bool bNew = Case.m_iElected >= 0 && Case.m_iSyncerBefore < 0;
		const std::vector<uint8_t> Announcement =
			CTestMessage(14).U16(1).I32(pElement->GetId()).I32(Case.m_iElected).GetBytes();
		for (int32_t iIndex : {0, 3, 9, 200, 254, 255})
		{
			CFakeClient* pClient = m_Clients.m_rgClients[iIndex];
			const bool bTold = bNew && pClient->IsJoined() && !pClient->IsConsole() && pElement->IsCreatedFor(pClient);
			const std::vector<tSent> Messages = OfId(pClient->m_Sent, 14);
			EXPECT_EQ(std::count_if(Messages.begin(), Messages.end(),
						  [&](const tSent& Message) { return Message.m_Bytes == Announcement; }),
				bTold ? 1 : 0)
				<< Case.m_szName << ", client " << iIndex;
		}
	}

	// A later pass finds nothing new to do.
	ClearSent();
	m_Manager.ElectSyncers();
	for (int32_t iIndex : {0, 3, 9, 200, 254, 255})
		EXPECT_TRUE(m_Clients.m_rgClients[iIndex]->m_Sent.empty()) << iIndex;

	// A client that comes into a slot marked as holding an element is elected on the next pass.
	AddClient(1);
	m_Manager.ElectSyncers();
	INetMachine* pLate = Elements[3]->GetSyncer();
	EXPECT_EQ(pLate ? pLate->GetIndex() : -1, 1);
}

TEST_F(NetObjectMgrTest, SyncerElectionFollowsWhoStillHasTheElement)
{
	CFakeClient* pFirst = AddClient(2);
	CFakeClient* pSecond = AddClient(6);
	Strong<CTestElement> pLeft = NewElement();
	Strong<CTestElement> pReset = NewElement();
	Strong<CTestElement> pStreamed = NewStreamingElement(10.0f, 100.0f, 200.0f);
	for (CTestElement* pElement : {pLeft.GetPointer(), pReset.GetPointer()})
	{
		pElement->SetCreatedFor(pFirst, true);
		pElement->SetCreatedFor(pSecond, true);
	}
	m_Manager.ElectSyncers();
	ASSERT_EQ(pLeft->GetSyncer(), pFirst);
	ASSERT_EQ(pReset->GetSyncer(), pFirst);

	// The syncer lets go of one element and forgets the other; the other client takes both over.
	pLeft->SetCreatedFor(pFirst, false);
	pLeft->SetSyncer(nullptr, false);
	pReset->ResetMachine(pFirst);
	pReset->SetSyncer(nullptr, false);
	m_Manager.ElectSyncers();
	EXPECT_EQ(pLeft->GetSyncer(), pSecond);
	EXPECT_EQ(pReset->GetSyncer(), pSecond);

	// Nobody has them any more: no syncer.
	for (CTestElement* pElement : {pLeft.GetPointer(), pReset.GetPointer()})
	{
		pElement->ResetMachines();
		pElement->SetSyncer(nullptr, false);
	}
	m_Manager.ElectSyncers();
	EXPECT_EQ(pLeft->GetSyncer(), nullptr);
	EXPECT_EQ(pReset->GetSyncer(), nullptr);

	// Streamed in and out by distance: the watcher that has it is its syncer, and nobody once it left.
	CFakeClient* pWatcher = AddWatchingClient(4);
	m_Manager.CreateObjectsAsNeeded(pWatcher, 5);
	ASSERT_TRUE(pStreamed->IsCreatedFor(pWatcher));
	pStreamed->SetSyncer(nullptr, false);
	m_Manager.ElectSyncers();
	EXPECT_EQ(pStreamed->GetSyncer(), pWatcher);
	pStreamed->SetPosition(CVector3D(500.0f, 0.0f, 0.0f));
	m_Manager.DeleteFarAwayStuff(pWatcher);
	m_Manager.ElectSyncers();
	EXPECT_EQ(pStreamed->GetSyncer(), nullptr);
}

TEST_F(NetObjectMgrTest, ElementChangesReachOnlyJoinedClientsThatHaveTheElement)
{
	CFakeClient* pHas = AddClient(0);
	CFakeClient* pLacks = AddClient(1);
	CFakeClient* pJoining = AddClient(2, false);
	CFakeClient* pConsole = AddClient(255);
	pConsole->m_bConsole = true;
	Strong<CTestElement> pElement = NewElement();
	for (CFakeClient* pClient : {pHas, pJoining, pConsole})
		pElement->SetCreatedFor(pClient, true);
	pElement->SetDimension(1);
	EXPECT_EQ(pHas->m_Sent.size(), 1u);
	EXPECT_TRUE(pLacks->m_Sent.empty());
	EXPECT_TRUE(pJoining->m_Sent.empty());
	EXPECT_TRUE(pConsole->m_Sent.empty());

	Packet Message(99);
	EXPECT_TRUE(m_Manager.SendPacketExcluding(&Message, pHas, 0));
	EXPECT_EQ(pHas->m_Sent.size(), 1u);
	EXPECT_EQ(pLacks->m_Sent.size(), 1u);
	EXPECT_EQ(pJoining->m_Sent.size(), 1u);

	EXPECT_TRUE(m_Manager.SendEveryonePacket(&Message));
	ASSERT_EQ(m_Transport.m_Sent.size(), 1u);
	EXPECT_EQ(m_Transport.m_Sent[0].m_ucChannel, 8);
}

TEST_F(NetObjectMgrTest, ElementTooLargeForOneBlockIsNotCreated)
{
	CFakeClient* pClient = AddWatchingClient(0);
	Strong<CTestElement> pHuge = NewElement(5);
	Strong<CTestElement> pSmall = NewElement(5);
	std::string Text(70000, 'x');
	CArgumentString Value(Text.c_str(), Text.size());
	ASSERT_TRUE(pHuge->SetData("big", &Value, false));

	m_Manager.CreateObjectsAsNeeded(pClient, 5);
	ASSERT_EQ(pClient->m_Sent.size(), 1u);
	EXPECT_EQ(IdsOf(pClient->m_Sent[0]), std::vector<int32_t>{pSmall->GetId()});
	EXPECT_FALSE(pHuge->IsCreatedFor(pClient));
	EXPECT_EQ(pHuge->GetSyncer(), nullptr);
}

TEST_F(NetObjectMgrTest, ElementDataRoundTrip)
{
	Strong<CTestElement> pElement = NewElement();
	CArgumentArray List;
	List.AddNumber(1);
	List.AddString("two");
	List.AddObject(pElement);
	CArgumentMap Data;
	const CArgumentInteger Integer(-5);
	const CArgumentBoolean Boolean(true);
	const CArgumentDouble Double(0.25);
	const CArgumentVector3D Vector(CVector3D(1.0f, 2.0f, 3.0f));
	const CArgumentString Empty("", 0);
	struct tEntry
	{
		const char* m_szKey;
		const CArgument* m_pValue;
	};
	const tEntry Entries[] = {{"int", &Integer}, {"bool", &Boolean}, {"double", &Double}, {"vector", &Vector},
		{"empty", &Empty}, {"list", &List}};
	for (const tEntry& Entry : Entries)
		ASSERT_TRUE(CNetObjectMgr::SetData(Data, Entry.m_szKey, Entry.m_pValue)) << Entry.m_szKey;

	Packet Written;
	ASSERT_TRUE(CNetObjectMgr::WriteData(Data, &Written));
	Written.Seek(0, 0);
	CArgumentMap Read;
	ASSERT_TRUE(m_Manager.ReadData(Read, &Written));
	ASSERT_EQ(Read.GetCount(), Data.GetCount());
	for (const tEntry& Entry : Entries)
	{
		Packet Original;
		Packet Copy;
		ASSERT_NE(Read.Get(Entry.m_szKey), nullptr) << Entry.m_szKey;
		ASSERT_TRUE(CArgument::WriteTyped(&Original, Entry.m_pValue));
		ASSERT_TRUE(CArgument::WriteTyped(&Copy, Read.Get(Entry.m_szKey)));
		EXPECT_EQ(std::vector<uint8_t>(Original.GetData(), Original.GetData() + Original.GetSize()),
			std::vector<uint8_t>(Copy.GetData(), Copy.GetData() + Copy.GetSize()))
			<< Entry.m_szKey;
	}
	CArgumentArray* pList = static_cast<CArgumentArray*>(Read.Get("list"));
	EXPECT_EQ(pList->GetAt(2)->ToObject(), pElement.GetPointer());
}

TEST_F(NetObjectMgrTest, ElementsOutliveTheirManagerSafely)
{
	Strong<CTestElement> pSurvivor;
	{
		CTestManager Manager(&m_Resources, true);
		Manager.SetServerSink(&m_Shim, &m_Transport);
		Manager.SetNetMachines(&m_Clients);
		pSurvivor = Strong<CTestElement>::New(new CTestElement(&Manager));
		pSurvivor->SetName("survivor");
		ASSERT_TRUE(Manager.RegisterNetObject(pSurvivor));
	}
	EXPECT_FALSE(pSurvivor->IsRegistered());
	EXPECT_EQ(pSurvivor->GetManager(), nullptr);
	pSurvivor->SetName("renamed");
	EXPECT_EQ(m_Manager.FromName("renamed"), nullptr);
}
}
