#include <cmath>
#include <functional>
#include <limits>
#include <vector>

#include "Engine/KError.h"
#include "Network/BinaryStream.h"
#include "ReplicationHarness.h"

using namespace ReplicationTest;

namespace
{
class NetObjectTest : public ReplicationFixture
{
protected:
	// A joined client that has the element, so the element's change messages reach it.
	CFakeClient* Watch(CNetObject* pElement, int32_t iIndex = 0)
	{
		CFakeClient* pClient = m_Clients.m_rgClients[iIndex] ? m_Clients.m_rgClients[iIndex].GetPointer() : AddClient(iIndex);
		pElement->SetCreatedFor(pClient, true);
		return pClient;
	}
};

TEST_F(NetObjectTest, NewElementHasDefaultFlagsAndStates)
{
	Strong<CTestElement> pElement = NewElement(0, false);
	EXPECT_EQ(pElement->GetNetFlags(), 0x0930);
	EXPECT_EQ(pElement->GetId(), INVALID_NETWORK_ID);
	EXPECT_EQ(pElement->GetStreamInDistance(), 0.0f);
	EXPECT_TRUE(std::isinf(pElement->GetStreamOutDistance()));
	for (size_t i = 0; i < MAX_NET_MACHINES; i++)
		ASSERT_EQ(pElement->GetMachineInfo(i).m_ucState, 0x04) << i;
}

TEST_F(NetObjectTest, MachineResetKeepsTheUnusedHighBits)
{
	tMachineInfo Info{0xF3};
	Info.Reset();
	EXPECT_EQ(Info.m_ucState, 0xF4);
}

TEST_F(NetObjectTest, CreatedForAnyoneFollowsEveryChangeOfTheCreatedBits)
{
	CFakeClient* pFirst = AddClient(0);
	CFakeClient* pLast = AddClient(255);
	Strong<CFakeClient> pOutside = Strong<CFakeClient>::New(new CFakeClient(256));
	Strong<CTestElement> pElement = NewElement();
	struct tStep
	{
		const char* m_szName;
		std::function<void()> m_Change;
		bool m_bCreatedForAnyone;
	};
	const tStep Steps[] = {
		{"a client outside the table", [&] { pElement->SetCreatedFor(pOutside, true); }, false},
		{"the first client", [&] { pElement->SetCreatedFor(pFirst, true); }, true},
		{"the first client again", [&] { pElement->SetCreatedFor(pFirst, true); }, true},
		{"the last client", [&] { pElement->SetCreatedFor(pLast, true); }, true},
		{"the first one gone", [&] { pElement->SetCreatedFor(pFirst, false); }, true},
		{"the first one gone again", [&] { pElement->SetCreatedFor(pFirst, false); }, true},
		{"the last one reset", [&] { pElement->ResetMachine(pLast); }, false},
		{"the last one reset again", [&] { pElement->ResetMachine(pLast); }, false},
		{"the first client back", [&] { pElement->SetCreatedFor(pFirst, true); }, true},
		{"other bits changed", [&] {
			 pElement->SetDirty(true);
			 pElement->SetExistsFor(pFirst, false);
			 pElement->ClearExistsFor();
		 }, true},
		{"every slot reset", [&] { pElement->ResetMachines(); }, false},
		{"the last client alone", [&] { pElement->SetCreatedFor(pLast, true); }, true},
		{"the last one gone", [&] { pElement->SetCreatedFor(pLast, false); }, false},
	};
	for (const tStep& Step : Steps)
	{
		Step.m_Change();
		EXPECT_EQ(pElement->IsCreatedForAnyone(), Step.m_bCreatedForAnyone) << Step.m_szName;
	}

	// A transient element goes only when the last client that had it lets go.
	pElement->SetNetFlag(NETFLAG_TRANSIENT, true);
	pElement->SetCreatedFor(pFirst, true);
	pElement->SetCreatedFor(pLast, true);
	pElement->ResetMachine(pFirst);
	EXPECT_FALSE(m_Manager.PossiblyDeleteObject(pElement));
	pElement->ResetMachine(pLast);
	EXPECT_TRUE(m_Manager.PossiblyDeleteObject(pElement));
	EXPECT_FALSE(pElement->IsRegistered());
}

TEST_F(NetObjectTest, ParentChangesSendOneMessageAndRefuseWhatCannotBe)
{
	Strong<CTestElement> pParent = NewElement();
	Strong<CTestElement> pChild = NewElement();
	CFakeClient* pClient = Watch(pChild);

	EXPECT_FALSE(pChild->SetParent(nullptr));
	EXPECT_TRUE(pChild->SetParent(pParent));
	EXPECT_FALSE(pChild->SetParent(pParent));
	// Attaching to oneself or to one's own descendant would make a cycle.
	EXPECT_FALSE(pParent->SetParent(pChild));
	EXPECT_FALSE(pChild->SetParent(pChild));
	EXPECT_TRUE(pChild->SetParent(nullptr));

	ASSERT_EQ(pClient->m_Sent.size(), 2u);
	EXPECT_EQ(pClient->m_Sent[0].m_Bytes, CTestMessage(16).U16(1).I32(pChild->GetId()).I32(pParent->GetId()).GetBytes());
	EXPECT_EQ(pClient->m_Sent[1].m_Bytes, CTestMessage(16).U16(1).I32(pChild->GetId()).I32(-1).GetBytes());
	EXPECT_EQ(pClient->m_Sent[0].m_ucChannel, 6);
	EXPECT_EQ(pClient->m_Sent[0].m_eFlags, PACKET_FLAG_RELIABLE);
	EXPECT_EQ(pClient->m_Sent[0].m_ePriority, PACKET_PRIORITY_LOW);
}

TEST_F(NetObjectTest, NinthChildIsRefusedAndStaysWhereItWas)
{
	Strong<CTestElement> pFull = NewElement();
	std::vector<Strong<CTestElement>> Children;
	for (int i = 0; i < 8; i++)
	{
		Children.push_back(NewElement());
		ASSERT_TRUE(Children.back()->SetParent(pFull));
	}
	Strong<CTestElement> pOther = NewElement();
	Strong<CTestElement> pNinth = NewElement();
	ASSERT_TRUE(pNinth->SetParent(pOther));

	EXPECT_FALSE(pNinth->SetParent(pFull));
	EXPECT_EQ(pNinth->GetParent(), pOther.GetPointer());
	EXPECT_EQ(pFull->GetChildCount(), 8u);
	EXPECT_EQ(pOther->GetChildCount(), 1u);
}

TEST_F(NetObjectTest, NamesFollowTheNameMap)
{
	Strong<CTestElement> pFirst = NewElement();
	Strong<CTestElement> pSecond = NewElement();

	pFirst->SetName("");
	EXPECT_EQ(pFirst->GetName(), nullptr);
	EXPECT_EQ(m_Manager.FromName(""), nullptr);

	pFirst->SetName("a");
	pSecond->SetName("a");
	EXPECT_EQ(m_Manager.FromName("a"), pSecond.GetPointer());
	// Renaming the first drops the entry, whichever element it held.
	pFirst->SetName("b");
	EXPECT_EQ(m_Manager.FromName("a"), nullptr);
	EXPECT_EQ(m_Manager.FromName("b"), pFirst.GetPointer());
}

TEST_F(NetObjectTest, NameChangeTellsTheClientsThatHaveTheElement)
{
	Strong<CTestElement> pElement = NewElement();
	CFakeClient* pClient = Watch(pElement);
	pElement->SetName("car");
	pElement->SetName(nullptr);
	ASSERT_EQ(pClient->m_Sent.size(), 2u);
	EXPECT_EQ(pClient->m_Sent[0].m_Bytes, CTestMessage(19).U16(1).I32(pElement->GetId()).String("car").GetBytes());
	EXPECT_EQ(pClient->m_Sent[1].m_Bytes, CTestMessage(19).U16(1).I32(pElement->GetId()).String("").GetBytes());
}

TEST_F(NetObjectTest, NameLeavesTheMapWhenTheElementDies)
{
	Strong<CTestElement> pNeverRegistered = NewElement(0, false);
	pNeverRegistered->SetName("ghost");
	pNeverRegistered.SetNull();
	EXPECT_EQ(m_Manager.FromName("ghost"), nullptr);

	Strong<CTestElement> pDestroyed = NewElement();
	pDestroyed->SetName("gone");
	ASSERT_TRUE(m_Manager.DestroyObject(pDestroyed, true, false));
	EXPECT_EQ(m_Manager.FromName("gone"), nullptr);
}

TEST_F(NetObjectTest, DataChangesSendMessage23And24)
{
	Strong<CTestElement> pElement = NewElement();
	CFakeClient* pClient = Watch(pElement);
	const int32_t iId = pElement->GetId();

	CArgumentInteger Value(7);
	CArgument Nil(ARGUMENT_NIL);
	EXPECT_TRUE(pElement->SetData("k", &Value, true));
	ASSERT_NE(pElement->GetData("k"), nullptr);
	EXPECT_TRUE(pElement->SetData("k", &Nil, true));
	EXPECT_EQ(pElement->GetData("k"), nullptr);
	EXPECT_FALSE(pElement->RemoveData("missing"));
	EXPECT_TRUE(pElement->SetData("quiet", &Value, false));
	EXPECT_TRUE(pElement->RemoveData("quiet"));
	pElement->ClearData();

	ASSERT_EQ(pClient->m_Sent.size(), 4u);
	EXPECT_EQ(pClient->m_Sent[0].m_Bytes, CTestMessage(23).U16(1).I32(iId).U16(1).String("k").U8(4).I32(7).GetBytes());
	EXPECT_EQ(pClient->m_Sent[1].m_Bytes, CTestMessage(23).U16(1).I32(iId).U16(1).String("k").U8(0).GetBytes());
	EXPECT_EQ(pClient->m_Sent[2].m_Bytes, CTestMessage(23).U16(1).I32(iId).U16(1).String("quiet").U8(0).GetBytes());
	EXPECT_EQ(pClient->m_Sent[3].m_Bytes, CTestMessage(24).U16(1).I32(iId).GetBytes());
}

TEST_F(NetObjectTest, AnElementRetainsItsData)
{
	Strong<CTestElement> pElement = NewElement();
	const size_t Bare = pElement->GetRetainedBytes();
	EXPECT_GE(Bare, sizeof(CTestElement));
	const std::string Long(1000, 'x');
	CArgumentString Value(Long.c_str(), Long.size());
	ASSERT_TRUE(pElement->SetData("k", &Value, false));
	EXPECT_GT(pElement->GetRetainedBytes(), Bare + Long.size());
	pElement->ClearData();
	EXPECT_EQ(pElement->GetRetainedBytes(), Bare);
}

TEST_F(NetObjectTest, DataWithoutWireFormIsRefusedWhenSet)
{
	Strong<CTestElement> pElement = NewElement();
	CFakeClient* pClient = Watch(pElement);
	Strong<CTestElement> pOther = NewElement(0, false);
	CArgumentObject Object(pOther);
	CArgumentArray TooLong;
	for (int i = 0; i < 256; i++)
		TooLong.AddNumber(i);

	for (const CArgument* pValue : {static_cast<const CArgument*>(&Object), static_cast<const CArgument*>(&TooLong)})
	{
		g_szError[0] = '\0';
		EXPECT_FALSE(pElement->SetData("bad", pValue, true));
		EXPECT_STRNE(g_szError, "");
	}
	EXPECT_EQ(pElement->GetData("bad"), nullptr);
	EXPECT_TRUE(pClient->m_Sent.empty());
}

TEST_F(NetObjectTest, DimensionChangeIsSentOnlyWhenItChanges)
{
	Strong<CTestElement> pElement = NewElement();
	CFakeClient* pClient = Watch(pElement);
	pElement->SetDimension(0);
	pElement->SetDimension(3);
	ASSERT_EQ(pClient->m_Sent.size(), 1u);
	EXPECT_EQ(pClient->m_Sent[0].m_Bytes, CTestMessage(30).U16(1).I32(pElement->GetId()).I32(3).GetBytes());
}

TEST_F(NetObjectTest, SyncerChangesAndForcedSyncers)
{
	Strong<CTestElement> pElement = NewElement();
	CFakeClient* pWatcher = Watch(pElement);
	CFakeClient* pOther = AddClient(4);

	pElement->SetSyncer(pOther, true);
	pElement->SetSyncer(pWatcher);
	EXPECT_EQ(pElement->GetSyncer(), pOther);
	pElement->SetSyncerId(0);
	EXPECT_EQ(pElement->GetSyncer(), pOther);

	pElement->SetSyncer(nullptr, false);
	EXPECT_FALSE(pElement->HasNetFlag(NETFLAG_FORCED_SYNCER));
	pElement->SetSyncerId(0);
	EXPECT_EQ(pElement->GetSyncer(), pWatcher);
	// Out of range and empty slots both mean none.
	pElement->SetSyncerId(300);
	EXPECT_EQ(pElement->GetSyncer(), nullptr);

	std::vector<tSent> Messages = OfId(pWatcher->m_Sent, 14);
	ASSERT_EQ(Messages.size(), 4u);
	EXPECT_EQ(Messages[0].m_Bytes, CTestMessage(14).U16(1).I32(pElement->GetId()).I32(4).GetBytes());
	EXPECT_EQ(Messages[1].m_Bytes, CTestMessage(14).U16(1).I32(pElement->GetId()).I32(-1).GetBytes());
}

TEST_F(NetObjectTest, LosingTheSyncerOfATransientElementClearsItsSyncerFlags)
{
	Strong<CTestElement> pElement = NewElement();
	CFakeClient* pClient = AddClient(0);
	pElement->SetNetFlag(NETFLAG_TRANSIENT, true);
	pElement->SetNetFlag(NETFLAG_ALWAYS_EXIST_FOR_SYNCER, true);
	pElement->SetSyncer(pClient, true);
	pElement->SetSyncer(nullptr, false);
	EXPECT_FALSE(pElement->HasNetFlag(NETFLAG_ALWAYS_EXIST_FOR_SYNCER));
	EXPECT_FALSE(pElement->HasNetFlag(NETFLAG_FORCED_SYNCER));
}

TEST_F(NetObjectTest, SyncGoesToClientsOtherThanTheSyncer)
{
	Strong<CTestElement> pParent = NewElement();
	Strong<CTestElement> pElement = NewElement();
	CFakeClient* pSyncer = AddClient(0);
	CFakeClient* pOther = AddClient(1);

	EXPECT_FALSE(pElement->CanSendSync(pOther));
	pElement->SetSyncer(pSyncer);
	EXPECT_TRUE(pElement->CanSendSync(pOther));
	EXPECT_FALSE(pElement->CanSendSync(pSyncer));

	pElement->SetNetFlag(NETFLAG_ONLY_SYNC_IF_DETACHED, true);
	ASSERT_TRUE(pElement->SetParent(pParent));
	EXPECT_TRUE(pElement->CanSendSync(pOther));
	pParent->SetCreatedFor(pOther, true);
	EXPECT_FALSE(pElement->CanSendSync(pOther));
	EXPECT_FALSE(pElement->CanSendSync());

	pElement->SetNetFlag(NETFLAG_ONLY_SYNC_IF_DETACHED, false);
	pElement->SetNetFlag(NETFLAG_SEND_SYNC, false);
	EXPECT_FALSE(pElement->CanSendSync(pOther));
}

TEST_F(NetObjectTest, DistanceNeedsBothPositions)
{
	CFakeClient* pClient = AddClient(0);
	Strong<CTestElement> pElement = NewElement();
	float fDistance = -1.0f;
	EXPECT_FALSE(pElement->GetDistanceToMachine(pClient, fDistance));

	GivePlayer(pClient, CVector3D(1.0f, 2.0f, 3.0f));
	EXPECT_FALSE(pElement->GetDistanceToMachine(pClient, fDistance));
	pElement->SetPosition(CVector3D(4.0f, 6.0f, 3.0f));
	ASSERT_TRUE(pElement->GetDistanceToMachine(pClient, fDistance));
	EXPECT_FLOAT_EQ(fDistance, 5.0f);
}

TEST_F(NetObjectTest, SquaredStreamingBoundsGiveTheAnswersOfTheRoots)
{
	// Distances a script or the configuration may set, among them the edges of floats; squared distances around
	// each one's square, a few units in the last place either way, and the special values.
	const float fInfinity = std::numeric_limits<float>::infinity();
	const float fNaN = std::numeric_limits<float>::quiet_NaN();
	const std::vector<float> Distances = {100.0f, 200.0f, 99.9f, 200.1f, 0.0f, -0.0f, -1.0f, 1.0f, 0.1f, 3.0f, 7.0f,
		1e-20f, 1e-45f, 1e19f, 1.8e19f, 3.4e38f, fInfinity, -fInfinity, fNaN};
	Strong<CTestElement> pElement = NewElement(0, false);
	for (float fDistance : Distances)
	{
		pElement->SetStreamInDistance(fDistance);
		pElement->SetStreamOutDistance(fDistance);
		std::vector<float> Squares = {0.0f, fInfinity, fNaN, std::numeric_limits<float>::min(),
			std::numeric_limits<float>::denorm_min(), std::numeric_limits<float>::max()};
		float fAround = fDistance * fDistance;
		for (int i = 0; i < 6 && std::isfinite(fAround); i++)
			fAround = std::nextafter(fAround, 0.0f);
		for (int i = 0; i < 12 && std::isfinite(fAround); i++)
		{
			Squares.push_back(fAround);
			fAround = std::nextafter(fAround, fInfinity);
		}
		for (float fSquare : Squares)
		{
			const float fRoot = std::sqrt(fSquare);
			EXPECT_EQ(pElement->IsWithinStreamInDistance(fSquare), fRoot < fDistance)
				<< "distance " << fDistance << " squared distance " << fSquare;
			EXPECT_EQ(pElement->IsBeyondStreamOutDistance(fSquare), fRoot > fDistance)
				<< "distance " << fDistance << " squared distance " << fSquare;
		}
		// The distances themselves are kept as they were given.
		const float fIn = pElement->GetStreamInDistance();
		const float fOut = pElement->GetStreamOutDistance();
		EXPECT_TRUE(fIn == fDistance || (std::isnan(fIn) && std::isnan(fDistance)));
		EXPECT_TRUE(fOut == fDistance || (std::isnan(fOut) && std::isnan(fDistance)));
	}
}

TEST_F(NetObjectTest, CreateBlockLayout)
{
	Strong<CTestElement> pParent = NewElement();
	Strong<CTestElement> pElement = NewElement(5);
	CFakeClient* pClient = AddClient(2);
	pElement->SetSyncer(pClient);
	ASSERT_TRUE(pElement->SetParent(pParent));
	pElement->SetDimension(9);
	pElement->SetName("n");
	CArgumentFloat Value(1.5f);
	pElement->SetData("f", &Value, false);

	Packet Block;
	ASSERT_TRUE(pElement->WriteCreatePacket(&Block));
	std::vector<uint8_t> Bytes(Block.GetData(), Block.GetData() + Block.GetSize());
	EXPECT_EQ(Bytes, CTestMessage().I32(2).I32(pParent->GetId()).I32(9).String("n").U16(1).String("f").U8(5).F32(1.5f).GetBytes());

	Packet Identifier;
	ASSERT_TRUE(pElement->WriteIdentifier(&Identifier));
	EXPECT_EQ(std::vector<uint8_t>(Identifier.GetData(), Identifier.GetData() + Identifier.GetSize()),
		CTestMessage().U32(5).I32(pElement->GetId()).GetBytes());
}

TEST_F(NetObjectTest, CreateBlockReadsBackIntoANewElement)
{
	CFakeClient* pClient = AddClient(3);
	Strong<CTestElement> pTarget = NewElement();
	std::vector<uint8_t> Block = CTestMessage()
		.I32(3)
		.I32(pTarget->GetId())
		.I32(7)
		.String("copy")
		.U16(2)
		.String("who")
		.U8(ARGUMENT_NETOBJECT)
		.I32(pTarget->GetId())
		.String("s")
		.U8(ARGUMENT_STRING)
		.VarUInt(2)
		.Bytes("hi", 2)
		.GetBytes();
	CMemoryStream Stream(Block.data(), Block.size());

	Strong<CTestElement> pRead = NewElement(0, false);
	ASSERT_TRUE(pRead->ReadCreatePacket(&Stream));
	EXPECT_EQ(pRead->GetSyncer(), pClient);
	EXPECT_EQ(pRead->GetPendingParentId(), pTarget->GetId());
	EXPECT_EQ(pRead->GetDimension(), 7);
	EXPECT_STREQ(pRead->GetName(), "copy");
	ASSERT_NE(pRead->GetData("who"), nullptr);
	EXPECT_EQ(pRead->GetData("who")->ToObject(), pTarget.GetPointer());
	ASSERT_NE(pRead->GetData("s"), nullptr);
	EXPECT_STREQ(pRead->GetData("s")->ToString(), "hi");

	// The pending parent is attached once the element is registered.
	ASSERT_TRUE(m_Manager.RegisterNetObject(pRead));
	EXPECT_EQ(pRead->GetParent(), pTarget.GetPointer());
}

TEST_F(NetObjectTest, DamagedCreateBlocksFail)
{
	struct tCase
	{
		const char* m_szName;
		std::vector<uint8_t> m_Bytes;
	};
	const CTestMessage Head = CTestMessage().I32(-1).I32(-1).I32(0).String("");
	const tCase Cases[] = {
		{"fields end early", CTestMessage().I32(-1).I32(-1).GetBytes()},
		{"no data count", Head.GetBytes()},
		{"fewer entries than counted", CTestMessage(Head).U16(2).String("a").U8(0).GetBytes()},
		{"key longer than the rest", CTestMessage(Head).U16(1).VarUInt(0x7FFFFFF0).Bytes("abc", 3).GetBytes()},
		{"value of an unknown tag", CTestMessage(Head).U16(1).String("a").U8(99).GetBytes()},
		{"object value", CTestMessage(Head).U16(1).String("a").U8(ARGUMENT_OBJECT).GetBytes()},
		{"string longer than the rest", CTestMessage(Head).U16(1).String("a").U8(ARGUMENT_STRING).VarUInt(1000).GetBytes()},
	};
	for (const tCase& Case : Cases)
	{
		CMemoryStream Stream(Case.m_Bytes.data(), Case.m_Bytes.size());
		Strong<CTestElement> pRead = NewElement(0, false);
		EXPECT_FALSE(pRead->ReadCreatePacket(&Stream)) << Case.m_szName;
	}
}

TEST_F(NetObjectTest, UnreadableNameIsSkipped)
{
	// A length prefix whose fifth byte still has bit 7 set cannot be read; the block goes on after it.
	std::vector<uint8_t> Bytes = CTestMessage().I32(-1).I32(-1).I32(0).U8(0x80).U8(0x80).U8(0x80).U8(0x80).U8(0x80).GetBytes();
	CMemoryStream Stream(Bytes.data(), Bytes.size());
	Strong<CTestElement> pRead = NewElement(0, false);
	pRead->SetName("kept");
	EXPECT_FALSE(pRead->ReadCreatePacket(&Stream));
	EXPECT_STREQ(pRead->GetName(), "kept");
}

TEST_F(NetObjectTest, ElementValueTravelsAsItsCurrentId)
{
	Strong<CTestElement> pElement = NewElement();
	Strong<CArgument> pValue = Strong<CArgument>::New(CArgument::Create(pElement.GetPointer()));
	ASSERT_EQ(pValue->GetType(), ARGUMENT_NETOBJECT);

	Packet Written;
	ASSERT_TRUE(CArgument::WriteTyped(&Written, pValue));
	EXPECT_EQ(std::vector<uint8_t>(Written.GetData(), Written.GetData() + Written.GetSize()),
		CTestMessage().U8(6).I32(pElement->GetId()).GetBytes());

	Written.Seek(0, 0);
	Strong<CArgument> pRead = Strong<CArgument>::New(CArgument::ReadTyped(&Written, &m_Manager));
	ASSERT_TRUE(pRead);
	EXPECT_EQ(pRead->ToObject(), pElement.GetPointer());

	Strong<CArgument> pClone = Strong<CArgument>::New(pRead->Clone());
	EXPECT_EQ(pClone->ToObject(), pElement.GetPointer());

	// An id nobody has resolves to no element and is written back as it came.
	std::vector<uint8_t> Unknown = CTestMessage().I32(12345).GetBytes();
	CMemoryStream Stream(Unknown.data(), Unknown.size());
	ASSERT_TRUE(pRead->Read(&Stream));
	EXPECT_EQ(pRead->ToObject(), nullptr);
	Packet Again;
	ASSERT_TRUE(pRead->Write(&Again));
	EXPECT_EQ(std::vector<uint8_t>(Again.GetData(), Again.GetData() + Again.GetSize()), Unknown);
}
}
