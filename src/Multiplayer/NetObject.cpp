#include "Multiplayer/NetObject.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "Engine/Context.h"
#include "Engine/KAssert.h"
#include "Engine/OS.h"
#include "Multiplayer/NetObjectMgr.h"
#include "Network/BinaryStream.h"
#include "Scripting/Resource.h"

CNetObject::CNetObject(CNetObjectMgr* pManager) :
	m_pManager(pManager),
	m_uiType(0),
	m_Slot(0),
	m_iId(INVALID_NETWORK_ID),
	m_pSyncer(nullptr),
	m_iPendingParentId(INVALID_NETWORK_ID),
	m_iDimension(0),
	m_pParent(nullptr),
	m_Children(MAX_NET_OBJECT_CHILDREN),
	m_uiLastSyncTime(0),
	m_usNetFlags(NETFLAG_DEFAULTS),
	m_usHolderCount(0),
	m_fStreamInDistance(0.0f),
	m_fStreamOutDistance(std::numeric_limits<float>::infinity()),
	m_fStreamInBoundSquared(0.0f),
	m_fStreamOutBoundSquared(0.0f)
{
	SetStreamInDistance(m_fStreamInDistance);
	SetStreamOutDistance(m_fStreamOutDistance);
	for (tMachineInfo& Info : m_rgMachines)
		Info.m_ucState = tMachineInfo::EXISTS_FOR;
	if (m_pManager)
		m_pManager->OnObjectCreated(this);
}

CNetObject::~CNetObject()
{
	KASSERT(GetId() == INVALID_NETWORK_ID);
	KASSERT(m_pParent == nullptr);
	KASSERT(m_Children.GetCount() == 0);
	// Normally unregistration has undone all of this; an element freed without it (never registered but named,
	// or obliterated while registered) must still leave no pointer to itself behind.
	if (m_pManager)
		m_pManager->ForgetObject(this);
	if (m_pParent)
		m_pParent->Orphan(this);
	for (size_t i = 0; i < MAX_NET_OBJECT_CHILDREN; i++)
	{
		if (m_Children.IsUsedAt(i))
			Orphan(m_Children.GetAt(i));
	}
	m_Data.Clear();
}

CResource* CNetObject::GetResource() const
{
	return m_pResource.Get();
}

void CNetObject::SetResource(CResource* pResource)
{
	m_pResource = pResource;
}

ReflectedClass* CNetObject::GetReflectedClass()
{
	if (m_pManager && m_pManager->GetElementClass())
		return m_pManager->GetElementClass();
	return CBaseObject::GetReflectedClass();
}

CArgument* CNetObject::CreateArgument()
{
	return new CArgumentNetObject(this, m_pManager, GetId());
}

void CNetObject::BeginElementMessage(Packet& Message)
{
	CBinaryWriter Writer(&Message);
	Writer.WriteUInt16(1);
	Writer.WriteInt32(GetId());
}

void CNetObject::SendElementMessage(Packet& Message)
{
	if (m_pManager)
		m_pManager->SendObjectRelatedPacket(&Message, this);
}

void CNetObject::TouchSyncTime()
{
	m_uiLastSyncTime = static_cast<uint32_t>(OS::GetTicks());
}

static bool IsAncestorOrSelf(CNetObject* pCandidate, CNetObject* pObject)
{
	// Bounded walk: a chain longer than the element table could only be a cycle.
	for (size_t i = 0; pCandidate && i <= MAX_NET_OBJECTS; i++)
	{
		if (pCandidate == pObject)
			return true;
		pCandidate = pCandidate->GetParent();
	}
	return false;
}

bool CNetObject::SetParent(CNetObject* pParent)
{
	if (pParent == m_pParent)
		return false;
	// A cycle would make every walk up the parents endless.
	if (pParent && IsAncestorOrSelf(pParent, this))
		return false;
	size_t FreeSlot = MAX_NET_OBJECT_CHILDREN;
	if (pParent)
	{
		for (size_t i = 0; i < MAX_NET_OBJECT_CHILDREN && FreeSlot == MAX_NET_OBJECT_CHILDREN; i++)
		{
			if (!pParent->m_Children.IsUsedAt(i))
				FreeSlot = i;
		}
		if (FreeSlot == MAX_NET_OBJECT_CHILDREN)
			return false;
	}
	if (m_pParent)
		m_pParent->Orphan(this);
	Packet Message(NETMSG_PARENT);
	BeginElementMessage(Message);
	CBinaryWriter Writer(&Message);
	if (pParent)
	{
		pParent->m_Children.AddAt(FreeSlot, this);
		m_pParent = pParent;
		Writer.WriteInt32(pParent->GetId());
	}
	else
		Writer.WriteInt32(INVALID_NETWORK_ID);
	SendElementMessage(Message);
	return true;
}

void CNetObject::Orphan(CNetObject* pChild)
{
	if (!pChild || pChild->m_pParent != this)
		return;
	for (size_t i = 0; i < MAX_NET_OBJECT_CHILDREN; i++)
	{
		if (m_Children.IsUsedAt(i) && m_Children.GetAt(i) == pChild)
			m_Children.RemoveAt(i);
	}
	pChild->m_pParent = nullptr;
}

CNetObject* CNetObject::GetChild(size_t Slot) const
{
	return m_Children.IsUsedAt(Slot) ? m_Children.GetAt(Slot) : nullptr;
}

void CNetObject::Remove()
{
	if (m_pParent)
		SetParent(nullptr);
	for (size_t i = 0; i < MAX_NET_OBJECT_CHILDREN; i++)
	{
		if (!m_Children.IsUsedAt(i))
			continue;
		// Held: the child's destruction may release the last reference to it while we still look at it.
		Strong<CNetObject> pChild = m_Children.GetAt(i);
		bool bDestroyed = m_pManager && m_pManager->DestroyObject(pChild, false, true);
		if (!bDestroyed || pChild->m_pParent == this)
			Orphan(pChild);
	}
	if (!m_Name.empty() && m_pManager)
		m_pManager->EraseNameEntry(m_Name);
}

void CNetObject::SetName(const char* szName)
{
	if (!m_Name.empty())
	{
		if (m_pManager)
			m_pManager->EraseNameEntry(m_Name);
		m_Name.clear();
	}
	if (szName && szName[0])
	{
		m_Name = szName;
		if (m_pManager)
			m_pManager->SetNameEntry(m_Name, this);
	}
	if (!IsLocal())
	{
		Packet Message(NETMSG_NAME);
		BeginElementMessage(Message);
		CBinaryWriter Writer(&Message);
		Writer.WriteString(m_Name.c_str(), m_Name.size());
		SendElementMessage(Message);
	}
}

size_t CNetObject::GetRetainedBytes() const
{
	return CBaseObject::GetRetainedBytes() + KEstimateValueBytes(&m_Data);
}

bool CNetObject::SetData(const char* szKey, const CArgument* pValue, bool bSendToClients)
{
	if (!szKey)
		return false;
	// Stored before anything is sent, so the clients never hold a value the server refused.
	if (!CNetObjectMgr::SetData(m_Data, szKey, pValue))
		return false;
	if (bSendToClients)
	{
		Packet Message(NETMSG_DATA);
		BeginElementMessage(Message);
		CBinaryWriter Writer(&Message);
		Writer.WriteUInt16(1);
		Writer.WriteString(szKey);
		if (pValue && pValue->GetType() != ARGUMENT_NIL)
			CArgument::WriteTyped(&Message, pValue);
		else
			Writer.WriteUInt8(ARGUMENT_NIL);
		SendElementMessage(Message);
	}
	return true;
}

bool CNetObject::RemoveData(const char* szKey)
{
	if (!szKey || !m_Data.Remove(szKey))
		return false;
	Packet Message(NETMSG_DATA);
	BeginElementMessage(Message);
	CBinaryWriter Writer(&Message);
	Writer.WriteUInt16(1);
	Writer.WriteString(szKey);
	Writer.WriteUInt8(ARGUMENT_NIL);
	SendElementMessage(Message);
	return true;
}

void CNetObject::ClearData()
{
	m_Data.Clear();
	Packet Message(NETMSG_DATA_CLEARED);
	BeginElementMessage(Message);
	SendElementMessage(Message);
}

void CNetObject::SetDimension(int32_t iDimension)
{
	if (iDimension == m_iDimension)
		return;
	m_iDimension = iDimension;
	Packet Message(NETMSG_DIMENSION);
	BeginElementMessage(Message);
	CBinaryWriter Writer(&Message);
	Writer.WriteInt32(iDimension);
	SendElementMessage(Message);
}

int32_t CNetObject::GetRootDimension() const
{
	return m_pParent ? m_pParent->m_iDimension : m_iDimension;
}

void CNetObject::SetSyncer(INetMachine* pClient, bool bForced)
{
	if (pClient != m_pSyncer)
	{
		if (m_pSyncer && HasNetFlag(NETFLAG_TRANSIENT))
			SetNetFlag(NETFLAG_ALWAYS_EXIST_FOR_SYNCER, false);
		m_pSyncer = pClient;
		INetMachine* pLocal = m_pManager ? m_pManager->GetLocalMachine() : nullptr;
		if (!IsLocal() && pLocal && pLocal == pClient)
		{
			if (Context* pContext = KGlobal::GetContext())
				pContext->Log("Became syncer of %i", GetId());
		}
		Packet Message(NETMSG_SYNCER);
		BeginElementMessage(Message);
		CBinaryWriter Writer(&Message);
		Writer.WriteInt32(pClient ? pClient->GetIndex() : INVALID_CLIENT_ID);
		SendElementMessage(Message);
	}
	if (pClient)
		SetNetFlag(NETFLAG_FORCED_SYNCER, bForced);
	else
	{
		SetNetFlag(NETFLAG_FORCED_SYNCER, false);
		if (HasNetFlag(NETFLAG_TRANSIENT))
			SetNetFlag(NETFLAG_ALWAYS_EXIST_FOR_SYNCER, false);
	}
}

void CNetObject::SetSyncer(INetMachine* pClient)
{
	if (HasNetFlag(NETFLAG_FORCED_SYNCER))
		return;
	SetSyncer(pClient, false);
}

void CNetObject::SetSyncerId(int32_t iClientIndex)
{
	INetMachine* pClient = nullptr;
	if (iClientIndex >= 0 && iClientIndex < static_cast<int32_t>(MAX_NET_MACHINES) && m_pManager)
		pClient = m_pManager->GetMachine(iClientIndex);
	if (!HasNetFlag(NETFLAG_FORCED_SYNCER))
		SetSyncer(pClient, false);
}

bool CNetObject::IsSyncer()
{
	INetMachine* pLocal = m_pManager ? m_pManager->GetLocalMachine() : nullptr;
	if (!pLocal || IsLocal())
		return true;
	return m_pSyncer == pLocal;
}

bool CNetObject::IsOwner()
{
	if (!m_pManager || m_pManager->IsServer() || IsLocal())
		return true;
	return m_pManager->GetLocalMachine() == nullptr;
}

bool CNetObject::WriteIdentifier(Stream* pStream)
{
	CBinaryWriter Writer(pStream);
	return Writer.WriteUInt32(m_uiType) && Writer.WriteInt32(GetId());
}

bool CNetObject::GetDistanceToMachine(INetMachine* pClient, float& fDistance)
{
	if (!pClient)
		return false;
	CNetObject* pPlayer = pClient->GetPlayer();
	if (!pPlayer)
		return false;
	CVector3D vecTheirs;
	float fDistanceSquared;
	if (!pPlayer->GetPosition(vecTheirs) || !GetDistanceSquaredTo(vecTheirs, fDistanceSquared))
		return false;
	fDistance = std::sqrt(fDistanceSquared);
	return true;
}

bool CNetObject::GetDistanceSquaredTo(const CVector3D& vecPoint, float& fDistanceSquared)
{
	CVector3D vecMine;
	if (!GetPosition(vecMine))
		return false;
	float fX = vecMine.x - vecPoint.x;
	float fY = vecMine.y - vecPoint.y;
	float fZ = vecMine.z - vecPoint.z;
	fDistanceSquared = fX * fX + fY * fY + fZ * fZ;
	return true;
}

// The smallest non-negative float whose square root satisfies the test, found over the ordered bit patterns of
// 0 to +infinity (the root never falls as its argument grows); NaN when no float does.
template <class TTest>
static float SmallestSquareWhoseRoot(TTest Test)
{
	const uint32_t uiInfinity = 0x7F800000u;
	uint32_t uiLow = 0;
	uint32_t uiHigh = uiInfinity + 1;
	while (uiLow < uiHigh)
	{
		const uint32_t uiMiddle = uiLow + (uiHigh - uiLow) / 2;
		float fCandidate;
		memcpy(&fCandidate, &uiMiddle, sizeof(fCandidate));
		if (Test(std::sqrt(fCandidate)))
			uiHigh = uiMiddle;
		else
			uiLow = uiMiddle + 1;
	}
	if (uiLow > uiInfinity)
		return std::numeric_limits<float>::quiet_NaN();
	float fBound;
	memcpy(&fBound, &uiLow, sizeof(fBound));
	return fBound;
}

void CNetObject::SetStreamInDistance(float fDistance)
{
	m_fStreamInDistance = fDistance;
	// Below the distance means below the first square whose root reaches it; when none does (a NaN distance),
	// nothing is below it, and a bound of 0 lets no square pass.
	const float fBound = SmallestSquareWhoseRoot([fDistance](float fRoot) { return fRoot >= fDistance; });
	m_fStreamInBoundSquared = std::isnan(fBound) ? 0.0f : fBound;
}

void CNetObject::SetStreamOutDistance(float fDistance)
{
	m_fStreamOutDistance = fDistance;
	m_fStreamOutBoundSquared = SmallestSquareWhoseRoot([fDistance](float fRoot) { return fRoot > fDistance; });
}

// The machine's entry in an element's table: null for no machine or an index outside the table.
template <class TInfo>
static TInfo* MachineEntry(TInfo (&rgMachines)[MAX_NET_MACHINES], INetMachine* pClient)
{
	if (!pClient)
		return nullptr;
	int32_t iIndex = pClient->GetIndex();
	if (iIndex < 0 || iIndex >= static_cast<int32_t>(MAX_NET_MACHINES))
		return nullptr;
	return &rgMachines[iIndex];
}

static void SetMachineBit(tMachineInfo (&rgMachines)[MAX_NET_MACHINES], INetMachine* pClient, uint8_t ucBit, bool bOn)
{
	if (tMachineInfo* pInfo = MachineEntry(rgMachines, pClient))
		pInfo->Set(ucBit, bOn);
}

static bool HasMachineBit(const tMachineInfo (&rgMachines)[MAX_NET_MACHINES], INetMachine* pClient, uint8_t ucBit)
{
	const tMachineInfo* pInfo = MachineEntry(rgMachines, pClient);
	return pInfo && pInfo->Has(ucBit);
}

void CNetObject::SetCreatedFor(INetMachine* pClient, bool bCreated)
{
	if (tMachineInfo* pInfo = MachineEntry(m_rgMachines, pClient))
		SetCreated(*pInfo, bCreated);
}

void CNetObject::SetCreated(tMachineInfo& Info, bool bCreated)
{
	if (Info.Has(tMachineInfo::CREATED) == bCreated)
		return;
	Info.Set(tMachineInfo::CREATED, bCreated);
	SetHolderCount(bCreated ? m_usHolderCount + 1u : m_usHolderCount - 1u);
}

void CNetObject::SetCreatedForAll()
{
	for (tMachineInfo& Info : m_rgMachines)
		Info.Set(tMachineInfo::CREATED, true);
	SetHolderCount(MAX_NET_MACHINES);
}

void CNetObject::SetHolderCount(size_t Count)
{
	const bool bWasHeld = m_usHolderCount != 0;
	m_usHolderCount = static_cast<uint16_t>(Count);
	if (bWasHeld != (Count != 0) && m_pManager && IsRegistered())
		m_pManager->OnHoldersChanged(this);
}

bool CNetObject::IsCreatedFor(INetMachine* pClient) const
{
	return HasMachineBit(m_rgMachines, pClient, tMachineInfo::CREATED);
}

void CNetObject::SetDirty(bool bDirty)
{
	for (tMachineInfo& Info : m_rgMachines)
		Info.Set(tMachineInfo::DIRTY, bDirty);
}

void CNetObject::SetDirty(INetMachine* pClient, bool bDirty)
{
	SetMachineBit(m_rgMachines, pClient, tMachineInfo::DIRTY, bDirty);
}

bool CNetObject::IsDirty(INetMachine* pClient) const
{
	return HasMachineBit(m_rgMachines, pClient, tMachineInfo::DIRTY);
}

void CNetObject::SetExistsFor(INetMachine* pClient, bool bExists)
{
	SetMachineBit(m_rgMachines, pClient, tMachineInfo::EXISTS_FOR, bExists);
}

bool CNetObject::IsExistsFor(INetMachine* pClient) const
{
	return HasMachineBit(m_rgMachines, pClient, tMachineInfo::EXISTS_FOR);
}

bool CNetObject::IsSkipDistanceFor(INetMachine* pClient) const
{
	return HasMachineBit(m_rgMachines, pClient, tMachineInfo::SKIP_DISTANCE);
}

void CNetObject::ClearExistsFor()
{
	for (tMachineInfo& Info : m_rgMachines)
		Info.Set(tMachineInfo::EXISTS_FOR, true);
}

void CNetObject::ResetMachine(INetMachine* pClient)
{
	if (tMachineInfo* pInfo = MachineEntry(m_rgMachines, pClient))
	{
		SetCreated(*pInfo, false);
		pInfo->Reset();
	}
}

void CNetObject::ResetMachines()
{
	for (tMachineInfo& Info : m_rgMachines)
		Info.Reset();
	SetHolderCount(0);
}

void CNetObject::SetId(int32_t iId)
{
	if (m_pManager && m_iId != INVALID_NETWORK_ID)
		m_pManager->EraseIdEntryOf(m_iId, this);
	m_iId = iId;
	if (m_pManager && m_iId != INVALID_NETWORK_ID)
		m_pManager->SetIdEntry(m_iId, this);
}

bool CNetObject::WriteCreatePacket(Stream* pStream)
{
	CBinaryWriter Writer(pStream);
	bool bOk = Writer.WriteInt32(m_pSyncer ? m_pSyncer->GetIndex() : INVALID_CLIENT_ID);
	bOk = bOk && Writer.WriteInt32(m_pParent ? m_pParent->GetId() : INVALID_NETWORK_ID);
	bOk = bOk && Writer.WriteInt32(m_iDimension);
	bOk = bOk && Writer.WriteString(m_Name.c_str(), m_Name.size());
	bOk = bOk && CNetObjectMgr::WriteData(m_Data, pStream);
	if (!bOk)
		return false;
	TouchSyncTime();
	return true;
}

bool CNetObject::ReadCreatePacket(Stream* pStream)
{
	CBinaryReader Reader(pStream);
	int32_t iSyncer;
	int32_t iParent;
	int32_t iDimension;
	if (!Reader.ReadInt32(&iSyncer) || !Reader.ReadInt32(&iParent) || !Reader.ReadInt32(&iDimension))
		return false;
	SetSyncerId(iSyncer);
	m_iPendingParentId = iParent;
	m_iDimension = iDimension;
	// A name that cannot be read leaves the name as it was; what follows decides whether the block is good.
	size_t Length = 0;
	if (char* szName = Reader.ReadString(&Length))
	{
		SetName(Length ? szName : nullptr);
		free(szName);
	}
	if (!m_pManager || !m_pManager->ReadData(m_Data, pStream))
		return false;
	TouchSyncTime();
	return true;
}

bool CNetObject::WriteSyncPacket(Stream*)
{
	TouchSyncTime();
	return true;
}

bool CNetObject::ReadSyncPacket(Stream*)
{
	TouchSyncTime();
	return true;
}

bool CNetObject::CanBeDeleted()
{
	return true;
}

bool CNetObject::CanSendSync()
{
	if (!HasNetFlag(NETFLAG_SEND_SYNC) || !HasNetFlag(NETFLAG_NETWORKED))
		return false;
	return !(m_pParent && HasNetFlag(NETFLAG_ONLY_SYNC_IF_DETACHED));
}

bool CNetObject::CanSendSync(INetMachine* pClient)
{
	if (!KASSERT(pClient != nullptr))
		return false;
	if (!HasNetFlag(NETFLAG_SEND_SYNC) || !HasNetFlag(NETFLAG_NETWORKED))
		return false;
	if (m_pParent && HasNetFlag(NETFLAG_ONLY_SYNC_IF_DETACHED) && m_pParent->IsCreatedFor(pClient))
		return false;
	return m_pSyncer && m_pSyncer != pClient;
}

bool CNetObject::CanBeSyncer(INetMachine*)
{
	return HasNetFlag(NETFLAG_NETWORKED);
}

bool CNetObject::CanExistForMachine(INetMachine* pClient)
{
	return HasNetFlag(NETFLAG_NETWORKED) && HasNetFlag(NETFLAG_DEFAULT_EXISTANCE) && IsExistsFor(pClient);
}

bool CNetObject::SetPosition(const CVector3D&)
{
	return false;
}

bool CNetObject::GetPosition(CVector3D&)
{
	return false;
}

bool CNetObject::SetRotation(const CVector3D&)
{
	return false;
}

bool CNetObject::GetRotation(CVector3D&)
{
	return false;
}

void CNetObject::OnCreated()
{
}

// Element values

CArgumentNetObject::CArgumentNetObject(CNetObject* pObject, CNetObjectMgr* pManager, int32_t iId) :
	CArgumentObject(pObject, ARGUMENT_NETOBJECT),
	m_pManager(pManager),
	m_iId(iId)
{
	SetResolver(pManager);
}

CNetObject* CArgumentNetObject::GetNetObject() const
{
	return static_cast<CNetObject*>(GetObject());
}

bool CArgumentNetObject::Read(Stream* pStream)
{
	CBinaryReader Reader(pStream);
	int32_t iId;
	if (!Reader.ReadInt32(&iId))
		return false;
	m_iId = iId;
	CNetObject* pFound = m_pManager ? m_pManager->FromId(iId, 0) : nullptr;
	if (pFound != GetNetObject())
		SetObject(pFound);
	return true;
}

bool CArgumentNetObject::GetSize(size_t& Size) const
{
	Size = 4;
	return true;
}

bool CArgumentNetObject::Write(Stream* pStream) const
{
	CNetObject* pObject = GetNetObject();
	CBinaryWriter Writer(pStream);
	return Writer.WriteInt32(pObject ? pObject->GetId() : m_iId);
}

CArgument* CArgumentNetObject::Clone() const
{
	return new CArgumentNetObject(GetNetObject(), m_pManager, m_iId);
}
