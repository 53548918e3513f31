#include "Multiplayer/NetObjectMgr.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "Engine/Context.h"
#include "Engine/Defines.h"
#include "Engine/KAssert.h"
#include "Engine/KError.h"
#include "Network/BinaryStream.h"
#include "Network/ENetSystem.h"
#include "Network/NetCompatibilityShim.h"
#include "Scripting/EventHandlers.h"
#include "Scripting/ResourceMgr.h"

using EventHandlers::CEventHandlers;
using EventHandlers::CEventType;

static CEventType* MakeElementEvent(CEventHandlers* pEvents, const char* szName, const char* szDescription,
	int32_t iArgumentCount)
{
	CEventType* pType = pEvents->CreateEventType(szName, szDescription, iArgumentCount, true);
	if (!pType)
		pType = pEvents->GetEventType(szName);
	if (pType)
		pType->SetSourceArgument(0);
	return pType;
}

CNetObjectMgr::CNetObjectMgr(CResourceMgr* pResourceMgr, bool bServer) :
	m_iNextId(0),
	m_pClientClass(nullptr),
	m_pElementClass(nullptr),
	m_pNetObjectFlagsClass(nullptr),
	m_pResourceMgr(pResourceMgr),
	m_bServer(bServer),
	m_pClientSink(nullptr),
	m_pServerSink(nullptr),
	m_pClientTransport(nullptr),
	m_pServerTransport(nullptr),
	m_pNetMachines(nullptr),
	m_Objects(MAX_NET_OBJECTS),
	m_pOnElementStreamIn(nullptr),
	m_pOnElementStreamOut(nullptr),
	m_pOnElementDestroy(nullptr),
	m_uiSyncPass(0),
	m_uiLastSyncPass(0)
{
	if (!m_pResourceMgr)
		return;
	if (CEventHandlers* pEvents = m_pResourceMgr->GetEventHandlers())
	{
		m_pOnElementStreamIn = MakeElementEvent(pEvents, "OnElementStreamIn", "Called when an element is about to stream in", 2);
		m_pOnElementStreamOut = MakeElementEvent(pEvents, "OnElementStreamOut", "Called when an element is about to stream out", 2);
		m_pOnElementDestroy = MakeElementEvent(pEvents, "OnElementDestroy", "Called when an element is about to be destroyed", 1);
	}
	if (CDefineHandlers* pDefines = m_pResourceMgr->GetDefineHandlers())
	{
		pDefines->Define("INVALID_NETWORK_ID", INVALID_NETWORK_ID);
		pDefines->Define("INVALID_CLIENT_ID", INVALID_CLIENT_ID);
		pDefines->Define("CHAT_TYPE_NONE", 0);
		pDefines->Define("CHAT_TYPE_CHAT", 1);
		pDefines->Define("CHAT_TYPE_INFO", 2);
		pDefines->Define("CHAT_TYPE_DEBUG", 3);
	}
	RegisterFunctions();
}

CNetObjectMgr::~CNetObjectMgr()
{
	for (CEventType* pType : {m_pOnElementStreamIn, m_pOnElementStreamOut, m_pOnElementDestroy})
	{
		if (pType)
			pType->RemoveHandlers();
	}
	for (size_t Slot : UsedSlots())
		DestroyObject(m_Objects.GetAt(Slot), true, false);
	// An element that refused destruction still holds the table's reference; the table is going, so is that.
	for (size_t Slot : UsedSlots())
		UnregisterNetObject(m_Objects.GetAt(Slot));
	m_Objects.Clear();
	m_UsedSlots.Clear();
	m_HeldSlots.Clear();
	m_NameMap.clear();
	m_IdMap.clear();
	m_pLocalPlayer = nullptr;
	// Elements that scripts still hold outlive the manager; they must not reach back into it.
	for (CNetObject* pObject : m_LiveObjects)
		pObject->m_pManager = nullptr;
	m_LiveObjects.clear();
}

CNetObject* CNetObjectMgr::Create(int)
{
	return nullptr;
}

CArgument* CNetObjectMgr::CreateArgument(uint8_t ucType)
{
	if (ucType != ARGUMENT_NETOBJECT)
		return nullptr;
	return new CArgumentNetObject(nullptr, this, INVALID_NETWORK_ID);
}

void CNetObjectMgr::SetServerSink(CNetCompatibilityShim* pSink, CNetSystem* pTransport)
{
	m_pServerSink = pSink;
	m_pServerTransport = pTransport ? pTransport : (pSink ? pSink->GetNetSystem() : nullptr);
}

void CNetObjectMgr::SetClientSink(CNetCompatibilityShim* pSink, CNetSystem* pTransport)
{
	m_pClientSink = pSink;
	m_pClientTransport = pTransport ? pTransport : (pSink ? pSink->GetNetSystem() : nullptr);
}

INetMachine* CNetObjectMgr::GetLocalMachine() const
{
	// The server's table names its console client as the local one; the server itself is no client, so it is
	// the syncer and owner of every element and never becomes anyone's syncer.
	if (m_bServer)
		return nullptr;
	return m_pNetMachines ? m_pNetMachines->GetMachine(m_pNetMachines->GetLocalIndex()) : nullptr;
}

bool CNetObjectMgr::IsLive(CNetObject* pObject)
{
	return pObject && pObject->IsRegistered() && !pObject->IsDeleting() && !pObject->IsLocal();
}

// Lookups and map upkeep

CNetObject* CNetObjectMgr::FromId(int32_t iId, uint32_t uiTypeMask) const
{
	if (iId < 0)
		return nullptr;
	auto It = m_IdMap.find(iId);
	if (It == m_IdMap.end())
		return nullptr;
	if (uiTypeMask && !It->second->IsType(uiTypeMask))
		return nullptr;
	return It->second;
}

bool CNetObjectMgr::DoesIdExist(int32_t iId) const
{
	return iId >= 0 && m_IdMap.count(iId) != 0;
}

CNetObject* CNetObjectMgr::FromName(const char* szName) const
{
	if (!szName)
		return nullptr;
	auto It = m_NameMap.find(szName);
	return It == m_NameMap.end() ? nullptr : It->second;
}

void CNetObjectMgr::SetNameEntry(const std::string& Name, CNetObject* pObject)
{
	m_NameMap[Name] = pObject;
}

void CNetObjectMgr::EraseNameEntry(const std::string& Name)
{
	m_NameMap.erase(Name);
}

void CNetObjectMgr::EraseNameEntryOf(const std::string& Name, CNetObject* pObject)
{
	auto It = m_NameMap.find(Name);
	if (It != m_NameMap.end() && It->second == pObject)
		m_NameMap.erase(It);
}

void CNetObjectMgr::SetIdEntry(int32_t iId, CNetObject* pObject)
{
	m_IdMap[iId] = pObject;
}

void CNetObjectMgr::EraseIdEntryOf(int32_t iId, CNetObject* pObject)
{
	auto It = m_IdMap.find(iId);
	if (It != m_IdMap.end() && It->second == pObject)
		m_IdMap.erase(It);
}

void CNetObjectMgr::ForgetObject(CNetObject* pObject)
{
	m_LiveObjects.erase(pObject);
	if (!pObject->m_Name.empty())
		EraseNameEntryOf(pObject->m_Name, pObject);
	if (pObject->m_iId != INVALID_NETWORK_ID)
		EraseIdEntryOf(pObject->m_iId, pObject);
	if (pObject == m_pLocalPlayer.Get())
		m_pLocalPlayer = nullptr;
	if (pObject->IsRegistered() && m_Objects.IsUsedAt(pObject->m_Slot) && m_Objects.GetAt(pObject->m_Slot) == pObject)
		FreeSlot(pObject->m_Slot);
}

// The slot table and its used-slot and held-slot bits

static_assert(MAX_NET_OBJECTS % 64 == 0, "the slot bits cover whole words of the slot table");

void CNetObjectMgr::CSlotBits::Set(size_t Slot, bool bOn)
{
	if (Slot >= MAX_NET_OBJECTS)
		return;
	const size_t Word = Slot / WORD_BITS;
	const uint64_t uiBit = static_cast<uint64_t>(1) << (Slot % WORD_BITS);
	m_rguiSlots[Word] = bOn ? (m_rguiSlots[Word] | uiBit) : (m_rguiSlots[Word] & ~uiBit);
	const uint64_t uiWordBit = static_cast<uint64_t>(1) << (Word % WORD_BITS);
	uint64_t& uiSummary = m_rguiWords[Word / WORD_BITS];
	uiSummary = m_rguiSlots[Word] != 0 ? (uiSummary | uiWordBit) : (uiSummary & ~uiWordBit);
}

size_t CNetObjectMgr::CSlotBits::Next(size_t Slot) const
{
	if (Slot >= MAX_NET_OBJECTS)
		return MAX_NET_OBJECTS;
	size_t Word = Slot / WORD_BITS;
	const uint64_t uiRest = m_rguiSlots[Word] & (~static_cast<uint64_t>(0) << (Slot % WORD_BITS));
	if (uiRest != 0)
		return Word * WORD_BITS + static_cast<size_t>(__builtin_ctzll(uiRest));
	// The next word that holds a set slot, found through the summary a word of words at a time.
	for (Word++; Word < WORDS; Word = (Word / WORD_BITS + 1) * WORD_BITS)
	{
		const uint64_t uiWords = m_rguiWords[Word / WORD_BITS] & (~static_cast<uint64_t>(0) << (Word % WORD_BITS));
		if (uiWords == 0)
			continue;
		const size_t Found = (Word / WORD_BITS) * WORD_BITS + static_cast<size_t>(__builtin_ctzll(uiWords));
		return Found * WORD_BITS + static_cast<size_t>(__builtin_ctzll(m_rguiSlots[Found]));
	}
	return MAX_NET_OBJECTS;
}

void CNetObjectMgr::CSlotBits::Clear()
{
	memset(m_rguiSlots, 0, sizeof(m_rguiSlots));
	memset(m_rguiWords, 0, sizeof(m_rguiWords));
}

bool CNetObjectMgr::TakeSlot(CNetObject* pObject, size_t& Slot)
{
	if (!m_Objects.Add(pObject, &Slot))
		return false;
	m_UsedSlots.Set(Slot, true);
	// An element may come to the table already marked as created for some client.
	m_HeldSlots.Set(Slot, pObject->IsCreatedForAnyone());
	return true;
}

void CNetObjectMgr::FreeSlot(size_t Slot)
{
	m_Objects.RemoveAt(Slot);
	m_UsedSlots.Set(Slot, false);
	m_HeldSlots.Set(Slot, false);
}

void CNetObjectMgr::OnHoldersChanged(CNetObject* pObject)
{
	const size_t Slot = pObject->m_Slot;
	if (m_Objects.IsUsedAt(Slot) && m_Objects.GetAt(Slot) == pObject)
		m_HeldSlots.Set(Slot, pObject->IsCreatedForAnyone());
}

size_t CNetObjectMgr::GetNextUsedSlot(size_t Slot) const
{
	const size_t End = GetSlotCount();
	return Slot >= End ? End : std::min(End, m_UsedSlots.Next(Slot));
}

size_t CNetObjectMgr::GetNextHeldSlot(size_t Slot) const
{
	const size_t End = GetSlotCount();
	return Slot >= End ? End : std::min(End, m_HeldSlots.Next(Slot));
}

// Registration

int32_t CNetObjectMgr::NextAvailableId()
{
	int32_t iCandidate = m_iNextId < 0 ? 0 : m_iNextId;
	for (;;)
	{
		bool bUsed = m_IdMap.count(iCandidate) != 0;
		// Ids stay non-negative: past the largest one the counter starts again at 0.
		int32_t iNext = iCandidate == INT32_MAX ? 0 : iCandidate + 1;
		m_iNextId = iNext;
		if (!bUsed)
			return iCandidate;
		iCandidate = iNext;
	}
}

bool CNetObjectMgr::RegisterNetObject(CNetObject* pObject)
{
	if (!pObject)
		return false;
	if (pObject->IsRegistered())
		return true;
	// Destruction is final: an element that went away on every client must not come back under a new id.
	if (pObject->IsDeleting() || pObject->IsBeingDestroyed())
		return false;
	if (!KASSERT(pObject->m_pManager == this))
		return false;
	size_t Slot;
	if (!TakeSlot(pObject, Slot))
		return false;
	pObject->SetSlot(Slot);
	pObject->SetNetFlag(NETFLAG_REGISTERED, true);
	if (pObject->IsLocal() && m_pNetMachines && m_pServerSink)
		pObject->SetId(NextAvailableId());
	pObject->AddRef();
	pObject->OnCreated();
	if (pObject->IsLocal())
		return true;
	DoAttachments(pObject);
	return true;
}

void CNetObjectMgr::DoAttachments(CNetObject* pObject)
{
	if (pObject->m_iPendingParentId != INVALID_NETWORK_ID)
	{
		CNetObject* pParent = FromId(pObject->m_iPendingParentId, 0);
		if (pParent && pParent->IsRegistered())
			pObject->SetParent(pParent);
	}
	for (size_t Slot : UsedSlots())
	{
		CNetObject* pOther = GetObjectAt(Slot);
		if (pOther && pOther != pObject && pOther->m_iPendingParentId == pObject->GetId())
			pOther->SetParent(pObject);
	}
}

bool CNetObjectMgr::DestroyObject(CNetObject* pObject, bool bSend, bool bForce)
{
	if (!pObject || pObject->IsDeleting() || !pObject->CanBeDeleted())
		return false;
	if (!KASSERT(pObject->m_pManager == this))
		return false;
	// Handlers run below may drop every other reference; the element must last until we are done with it.
	Strong<CNetObject> pHold(pObject);
	pObject->SetNetFlag(NETFLAG_DELETING, true);
	bool bPrevented = TriggerCancellable(m_pOnElementDestroy, pObject, nullptr);
	if (!pObject->IsLocal())
	{
		if (m_bServer)
			SendDeletePacket(pObject);
		else if (bSend)
		{
			Packet Message(NETMSG_DESTROY);
			CBinaryWriter Writer(&Message);
			Writer.WriteUInt16(1);
			Writer.WriteInt32(pObject->GetId());
			SendHostPacket(&Message);
		}
	}
	else if (bPrevented && !bForce)
	{
		pObject->SetNetFlag(NETFLAG_DELETING, false);
		return false;
	}
	if (!pObject->IsRegistered())
		return true;
	UnregisterNetObject(pObject);
	return true;
}

bool CNetObjectMgr::SendDeletePacket(CNetObject* pObject)
{
	if (!KASSERT(m_pNetMachines != nullptr))
		return false;
	Packet Message(NETMSG_DESTROY);
	CBinaryWriter Writer(&Message);
	Writer.WriteUInt16(1);
	Writer.WriteInt32(pObject->GetId());
	bool bSent = m_pServerTransport &&
		m_pServerTransport->SendEveryonePacket(&Message, PACKET_PRIORITY_LOW, PACKET_FLAG_RELIABLE, NET_CHANNEL_CREATE);
	// Every client has now been told; what unregistration sends next (a detach) goes to all of them.
	pObject->SetCreatedForAll();
	return bSent;
}

void CNetObjectMgr::UnregisterNetObject(CNetObject* pObject)
{
	for (INetMachine* pClient : Clients(CLIENTS_CONNECTED))
	{
		if (pClient->GetPlayer() == pObject)
			pClient->SetPlayer(nullptr);
	}
	if (m_pResourceMgr && m_pResourceMgr->GetEventHandlers())
		m_pResourceMgr->GetEventHandlers()->RemoveHandlersWithSource(pObject, nullptr);
	pObject->m_Data.Clear();
	pObject->Remove();
	pObject->SetId(INVALID_NETWORK_ID);
	pObject->ResetMachines();
	pObject->ResolveReferences();
	size_t Slot = pObject->GetSlot();
	if (m_Objects.IsUsedAt(Slot) && m_Objects.GetAt(Slot) == pObject)
		FreeSlot(Slot);
	pObject->SetNetFlag(NETFLAG_REGISTERED, false);
	pObject->Release();
}

bool CNetObjectMgr::PossiblyDeleteObject(CNetObject* pObject)
{
	if (!pObject || !pObject->HasNetFlag(NETFLAG_TRANSIENT) || pObject->IsCreatedForAnyone())
		return false;
	return DestroyObject(pObject, true, false);
}

// Sending

bool CNetObjectMgr::SendObjectRelatedPacket(Packet* pPacket, CNetObject* pObject)
{
	if (!m_bServer || !m_pNetMachines || !pObject || pObject->IsLocal())
		return false;
	for (int32_t i : ClientSlots(CLIENTS_JOINED_GAME))
	{
		if (pObject->m_rgMachines[i].Has(tMachineInfo::CREATED))
			GetMachine(i)->SendPacket(pPacket, PACKET_PRIORITY_LOW, PACKET_FLAG_RELIABLE, NET_CHANNEL_ELEMENT);
	}
	return true;
}

bool CNetObjectMgr::SendEveryonePacket(Packet* pPacket)
{
	if (!m_bServer || !m_pNetMachines || !m_pServerTransport)
		return false;
	return m_pServerTransport->SendEveryonePacket(pPacket, PACKET_PRIORITY_LOW, PACKET_FLAG_RELIABLE, NET_CHANNEL_EVERYONE);
}

bool CNetObjectMgr::SendPacketExcluding(Packet* pPacket, INetMachine* pExcept, uint8_t ucChannel)
{
	if (!m_bServer)
		return false;
	if (!KASSERT(m_pNetMachines != nullptr))
		return false;
	for (INetMachine* pClient : Clients(CLIENTS_CONNECTED))
	{
		if (pClient != pExcept)
			pClient->SendPacket(pPacket, PACKET_PRIORITY_LOW, PACKET_FLAG_RELIABLE, ucChannel);
	}
	return true;
}

bool CNetObjectMgr::SendHostPacket(Packet* pPacket)
{
	if (m_bServer || !m_pClientTransport)
		return false;
	// Its only message is an element's destruction, which travels with creation.
	return m_pClientTransport->SendHostPacket(pPacket, PACKET_PRIORITY_LOW, PACKET_FLAG_RELIABLE, NET_CHANNEL_CREATE);
}

// Element data

bool CNetObjectMgr::IsEncodable(const CArgument* pValue)
{
	size_t Size;
	return pValue && pValue->GetSize(Size);
}

bool CNetObjectMgr::SetData(CArgumentMap& Data, const char* szKey, const CArgument* pValue)
{
	if (!szKey)
		return false;
	if (!pValue || pValue->GetType() == ARGUMENT_NIL)
	{
		Data.Remove(szKey);
		return true;
	}
	if (!IsEncodable(pValue))
	{
		SetError("A value of type %s cannot be sent to clients", pValue->GetTypeName());
		return false;
	}
	if (!Data.Get(szKey) && Data.GetCount() >= MAX_NET_DATA_ENTRIES)
	{
		SetError("Too many data entries");
		return false;
	}
	CArgument* pClone = pValue->Clone();
	if (!pClone)
		return false;
	Data.Set(szKey, pClone);
	return true;
}

bool CNetObjectMgr::WriteData(const CArgumentMap& Data, Stream* pStream)
{
	if (Data.GetCount() > MAX_NET_DATA_ENTRIES)
		return false;
	CBinaryWriter Writer(pStream);
	if (!Writer.WriteUInt16(static_cast<uint16_t>(Data.GetCount())))
		return false;
	for (const auto& Entry : Data)
	{
		Writer.WriteString(Entry.first.c_str(), Entry.first.size());
		Writer.WriteUInt8(Entry.second->GetType());
		Entry.second->Write(pStream);
	}
	return true;
}

bool CNetObjectMgr::ReadData(CArgumentMap& Data, Stream* pStream)
{
	CBinaryReader Reader(pStream);
	uint16_t usCount;
	if (!Reader.ReadUInt16(&usCount))
		return false;
	for (uint16_t i = 0; i < usCount; i++)
	{
		char* szKey = Reader.ReadString();
		if (!szKey)
			return false;
		uint8_t ucType;
		CArgument* pValue = nullptr;
		bool bRead = Reader.ReadUInt8(&ucType) && (pValue = CArgument::Create(ucType, this)) != nullptr &&
			pValue->Read(pStream);
		if (bRead)
			SetData(Data, szKey, pValue);
		if (pValue)
			pValue->Release();
		free(szKey);
		if (!bRead)
			return false;
	}
	return true;
}

// Streaming and sync

bool CNetObjectMgr::TriggerCancellable(CEventType* pType, CNetObject* pObject, INetMachine* pClient)
{
	if (!pType)
		return false;
	CArgumentArray Arguments;
	Arguments.AddObject(pObject);
	if (pClient)
		Arguments.AddObject(pClient->GetBaseObject());
	bool bPrevented = false;
	pType->Trigger(Arguments, bPrevented);
	return bPrevented;
}

// The client's entry in every element's table; MAX_NET_MACHINES for a client outside the table.
static size_t MachineSlotOf(INetMachine* pClient)
{
	const int32_t iIndex = pClient->GetIndex();
	if (iIndex < 0 || iIndex >= static_cast<int32_t>(MAX_NET_MACHINES))
		return MAX_NET_MACHINES;
	return static_cast<size_t>(iIndex);
}

void CNetObjectMgr::tStreamingView::Refresh(INetMachine* pClient)
{
	m_pClient = pClient;
	m_Index = MachineSlotOf(pClient);
	CNetObject* pPlayer = pClient->GetPlayer();
	m_bHasPlayerPosition = pPlayer && pPlayer->GetPosition(m_vecPlayerPosition);
}

tMachineInfo CNetObjectMgr::tStreamingView::InfoOf(const CNetObject* pObject) const
{
	return m_Index < MAX_NET_MACHINES ? pObject->m_rgMachines[m_Index] : tMachineInfo{0};
}

bool CNetObjectMgr::ShouldExistForMachine(CNetObject* pObject, const tStreamingView& View)
{
	INetMachine* pClient = View.m_pClient;
	if (!pObject->HasNetFlag(NETFLAG_ON_ALL_DIMENSIONS) && !pClient->IsObjectOnMyDimension(pObject))
		return false;
	if (!pObject->HasNetFlag(NETFLAG_NETWORKED) || !pObject->CanExistForMachine(pClient))
		return false;
	if (View.InfoOf(pObject).Has(tMachineInfo::SKIP_DISTANCE) || !pObject->HasNetFlag(NETFLAG_DISTANCE_STREAMING))
		return true;
	if (pObject->HasNetFlag(NETFLAG_ALWAYS_EXIST_FOR_SYNCER) && pObject->GetSyncer() == pClient)
		return true;
	float fDistanceSquared;
	return View.m_bHasPlayerPosition && pObject->GetDistanceSquaredTo(View.m_vecPlayerPosition, fDistanceSquared) &&
		pObject->IsWithinStreamInDistance(fDistanceSquared);
}

bool CNetObjectMgr::ShouldDeleteForMachine(CNetObject* pObject, const tStreamingView& View)
{
	INetMachine* pClient = View.m_pClient;
	if (!pObject->HasNetFlag(NETFLAG_ON_ALL_DIMENSIONS) && !pClient->IsObjectOnMyDimension(pObject))
		return true;
	if (!pObject->HasNetFlag(NETFLAG_NETWORKED) || !pObject->CanExistForMachine(pClient))
		return true;
	if (View.InfoOf(pObject).Has(tMachineInfo::SKIP_DISTANCE) || !pObject->HasNetFlag(NETFLAG_DISTANCE_STREAMING))
		return false;
	if (pObject->HasNetFlag(NETFLAG_ALWAYS_EXIST_FOR_SYNCER) && pObject->GetSyncer() == pClient)
		return false;
	float fDistanceSquared;
	if (!View.m_bHasPlayerPosition || !pObject->GetDistanceSquaredTo(View.m_vecPlayerPosition, fDistanceSquared))
		return false;
	return pObject->IsBeyondStreamOutDistance(fDistanceSquared);
}

bool CNetObjectMgr::OnStreamObjectInForClient(CNetObject* pObject, INetMachine* pClient)
{
	if (!pObject || !pClient)
		return false;
	tStreamingView View;
	View.Refresh(pClient);
	if (!ShouldExistForMachine(pObject, View))
		return false;
	return !TriggerCancellable(m_pOnElementStreamIn, pObject, pClient);
}

static bool AppendBlock(Packet& Message, Packet& Block, CNetObject* pObject)
{
	size_t Size = Block.GetSize();
	if (Size > MAX_NET_BLOCK_SIZE)
	{
		if (Context* pContext = KGlobal::GetContext())
			pContext->LogError("Element %d does not fit into one message (%zu bytes)", pObject->GetId(), Size);
		return false;
	}
	CBinaryWriter Writer(&Message);
	return Writer.WriteUInt16(static_cast<uint16_t>(Size)) && Writer.Write(Block.GetData(), Size);
}

bool CNetObjectMgr::AppendCreateBlock(Packet& Message, CNetObject* pObject)
{
	Packet Block;
	if (!pObject->WriteIdentifier(&Block) || !pObject->WriteCreatePacket(&Block) || !pObject->WriteSyncPacket(&Block))
		return false;
	return AppendBlock(Message, Block, pObject);
}

bool CNetObjectMgr::AppendSyncBlock(Packet& Message, CNetObject* pObject)
{
	Packet Block;
	if (!pObject->WriteIdentifier(&Block) || !pObject->WriteSyncPacket(&Block))
		return false;
	return AppendBlock(Message, Block, pObject);
}

static void WriteCount(Packet& Message, size_t Count)
{
	long lEnd = Message.Tell();
	Message.Seek(PACKET_HEADER_SIZE, 0);
	CBinaryWriter(&Message).WriteUInt16(static_cast<uint16_t>(Count));
	Message.Seek(lEnd, 0);
}

void CNetObjectMgr::CreateObjectsAsNeeded(INetMachine* pClient, uint32_t uiTypeMask)
{
	if (!pClient || !pClient->IsJoined() || !pClient->IsElementStreaming())
		return;
	Strong<CBaseObject> pHoldClient(pClient->GetBaseObject());
	// Scripts decide first (OnElementStreamIn), and may destroy or create elements while they do; the message is
	// built afterwards from the chosen elements that are still alive, so it never names an element that has
	// already been destroyed everywhere.
	std::vector<Strong<CNetObject>> Chosen;
	// What the checks need of the client is read once, and again after each script that may have changed it.
	tStreamingView View;
	View.Refresh(pClient);
	for (size_t Slot : UsedSlots())
	{
		CNetObject* pObject = GetObjectAt(Slot);
		if (!pObject || pObject->IsLocal() || !pObject->IsOwner() || View.InfoOf(pObject).Has(tMachineInfo::CREATED) ||
			!pObject->IsType(uiTypeMask) || !ShouldExistForMachine(pObject, View))
			continue;
		Strong<CNetObject> pHold(pObject);
		const bool bPrevented = TriggerCancellable(m_pOnElementStreamIn, pObject, pClient);
		View.Refresh(pClient);
		if (!bPrevented)
			Chosen.push_back(pHold);
	}
	if (Chosen.empty())
		return;
	Packet Message(NETMSG_CREATE);
	CBinaryWriter(&Message).WriteUInt16(0);
	size_t Count = 0;
	bool bPlayer = false;
	for (CNetObject* pObject : Chosen)
	{
		if (!IsLive(pObject) || pObject->IsCreatedFor(pClient))
			continue;
		bool bNewSyncer = !pObject->GetSyncer();
		if (bNewSyncer)
			pObject->SetSyncer(pClient);
		if (!AppendCreateBlock(Message, pObject))
		{
			// Not created after all: a syncer that does not have the element could never sync it.
			if (bNewSyncer && pObject->GetSyncer() == pClient)
				pObject->SetSyncer(nullptr, false);
			continue;
		}
		pObject->SetCreatedFor(pClient, true);
		pObject->SetDirty(pClient, false);
		if (pClient->GetPlayer() == pObject)
			bPlayer = true;
		Count++;
	}
	if (Count == 0)
		return;
	WriteCount(Message, Count);
	pClient->SendPacket(&Message, PACKET_PRIORITY_LOW, PACKET_FLAG_RELIABLE, NET_CHANNEL_CREATE);
	if (bPlayer)
		pClient->SendPlayer();
}

void CNetObjectMgr::SendCreatePacket(INetMachine* pClient, CNetObject* pObject)
{
	if (!pClient || !pObject)
		return;
	if (!KASSERT(!pObject->IsLocal()))
		return;
	if (!m_pNetMachines || pObject->IsCreatedFor(pClient))
		return;
	Strong<CBaseObject> pHoldClient(pClient->GetBaseObject());
	Strong<CNetObject> pHold(pObject);
	if (!OnStreamObjectInForClient(pObject, pClient))
		return;
	if (!IsLive(pObject) || pObject->IsCreatedFor(pClient))
		return;
	Packet Message(NETMSG_CREATE);
	CBinaryWriter(&Message).WriteUInt16(1);
	if (!AppendCreateBlock(Message, pObject))
		return;
	pObject->SetCreatedFor(pClient, true);
	pClient->SendPacket(&Message, PACKET_PRIORITY_LOW, PACKET_FLAG_RELIABLE, NET_CHANNEL_CREATE);
	if (!pObject->GetSyncer())
		pObject->SetSyncer(pClient);
}

void CNetObjectMgr::DeleteFarAwayStuff(INetMachine* pClient)
{
	if (!m_bServer || !pClient || !pClient->IsJoined())
		return;
	Strong<CBaseObject> pHoldClient(pClient->GetBaseObject());
	// As with creation: scripts are asked first (OnElementStreamOut), then the survivors are taken away.
	std::vector<Strong<CNetObject>> Leaving;
	tStreamingView View;
	View.Refresh(pClient);
	// Only what the client has can leave it: the walk is over the elements somebody has.
	for (size_t Slot : HeldSlots())
	{
		CNetObject* pObject = GetObjectAt(Slot);
		if (!pObject || !View.InfoOf(pObject).Has(tMachineInfo::CREATED) || !ShouldDeleteForMachine(pObject, View))
			continue;
		Strong<CNetObject> pHold(pObject);
		const bool bPrevented = TriggerCancellable(m_pOnElementStreamOut, pObject, pClient);
		View.Refresh(pClient);
		if (!bPrevented)
			Leaving.push_back(pHold);
	}
	if (Leaving.empty())
		return;
	Packet Message(NETMSG_DESTROY);
	CBinaryWriter(&Message).WriteUInt16(0);
	size_t Count = 0;
	for (CNetObject* pObject : Leaving)
	{
		// An element destroyed meanwhile has been taken off every client already.
		if (!IsLive(pObject) || !pObject->IsCreatedFor(pClient))
			continue;
		pObject->SetCreatedFor(pClient, false);
		if (pObject->GetSyncer() == pClient)
			pObject->SetSyncer(nullptr, false);
		int32_t iId = pObject->GetId();
		if (PossiblyDeleteObject(pObject))
			continue;
		CBinaryWriter(&Message).WriteInt32(iId);
		Count++;
	}
	if (Count == 0)
		return;
	WriteCount(Message, Count);
	pClient->SendPacket(&Message, PACKET_PRIORITY_LOW, PACKET_FLAG_RELIABLE, NET_CHANNEL_CREATE);
}

void CNetObjectMgr::SendSync(INetMachine* pClient, ePacketPriority ePriority, ePacketFlags eFlags)
{
	if (!pClient)
		return;
	Packet Message(NETMSG_SYNC);
	CBinaryWriter(&Message).WriteUInt16(0);
	const size_t Count = AppendSyncEntries(Message, pClient);
	if (Count == 0 && m_bServer)
		return;
	WriteCount(Message, Count);
	pClient->SendPacket(&Message, ePriority, eFlags, NET_CHANNEL_SYNC);
}

size_t CNetObjectMgr::AppendSyncEntries(Packet& Message, INetMachine* pClient)
{
	// The client's slot is looked up once; an element's state for it is then read straight from its table. Only
	// an element the client has can be synced to it, so the walk is over the elements somebody has; a client
	// outside the table has none.
	const size_t Machine = MachineSlotOf(pClient);
	if (Machine >= MAX_NET_MACHINES)
		return 0;
	size_t Count = 0;
	for (size_t Slot : HeldSlots())
	{
		CNetObject* pObject = GetObjectAt(Slot);
		if (!pObject)
			continue;
		tMachineInfo& Info = pObject->m_rgMachines[Machine];
		if (!pObject->HasNetFlag(NETFLAG_SEND_SYNC) || pObject->IsLocal() || !Info.Has(tMachineInfo::CREATED) ||
			!Info.Has(tMachineInfo::DIRTY) || !pObject->CanSendSync(pClient))
			continue;
		if (!m_bServer && !pObject->IsSyncer())
			continue;
		if (!(m_uiSyncPass ? AppendPassSyncEntry(Message, pObject, Slot) : AppendSyncBlock(Message, pObject)))
			continue;
		Info.Set(tMachineInfo::DIRTY, false);
		Count++;
	}
	return Count;
}

bool CNetObjectMgr::AppendPassSyncEntry(Packet& Message, CNetObject* pObject, size_t Slot)
{
	if (m_PassSyncEntries.size() <= Slot)
		m_PassSyncEntries.resize(MAX_NET_OBJECTS, tPassSyncEntry{nullptr, 0, 0, 0});
	tPassSyncEntry& Entry = m_PassSyncEntries[Slot];
	if (Entry.m_uiPass == m_uiSyncPass && Entry.m_pObject == pObject)
		return Message.Write(m_PassSyncBytes.data() + Entry.m_uiOffset, Entry.m_uiSize) == Entry.m_uiSize;
	// The first client of the pass gets the entry written as without a pass, and the bytes are kept for the
	// others. A failed write is not kept: every client tries it afresh, as without a pass.
	const long lStart = Message.Tell();
	if (!AppendSyncBlock(Message, pObject))
		return false;
	const long lEnd = Message.Tell();
	Entry.m_pObject = pObject;
	Entry.m_uiPass = m_uiSyncPass;
	Entry.m_uiOffset = static_cast<uint32_t>(m_PassSyncBytes.size());
	Entry.m_uiSize = static_cast<uint32_t>(lEnd - lStart);
	m_PassSyncBytes.insert(m_PassSyncBytes.end(), Message.GetData() + lStart, Message.GetData() + lEnd);
	return true;
}

CNetObjectMgr::CSyncPass::CSyncPass(CNetObjectMgr& Manager) : m_Manager(Manager)
{
	// Pass numbers skip 0, which means no pass; an entry of an earlier pass with the same number would need
	// 2^32 passes to come round again.
	if (++m_Manager.m_uiLastSyncPass == 0)
		++m_Manager.m_uiLastSyncPass;
	m_Manager.m_uiSyncPass = m_Manager.m_uiLastSyncPass;
	m_Manager.m_PassSyncBytes.clear();
}

CNetObjectMgr::CSyncPass::~CSyncPass()
{
	m_Manager.m_uiSyncPass = 0;
	m_Manager.m_PassSyncBytes.clear();
}

void CNetObjectMgr::ElectSyncers()
{
	// An element no client slot has cannot be given a syncer, so only the held ones are visited; and for each
	// only the slots that have it are asked for their client, lowest first.
	for (size_t Slot : HeldSlots())
	{
		CNetObject* pObject = GetObjectAt(Slot);
		if (!pObject || !pObject->HasNetFlag(NETFLAG_FIND_SYNCER) || pObject->GetSyncer() ||
			pObject->HasNetFlag(NETFLAG_FORCED_SYNCER))
			continue;
		for (size_t Index = 0; Index < MAX_NET_MACHINES; Index++)
		{
			if (!pObject->m_rgMachines[Index].Has(tMachineInfo::CREATED))
				continue;
			if (INetMachine* pClient = GetMachine(static_cast<int32_t>(Index)))
			{
				pObject->SetSyncer(pClient);
				break;
			}
		}
	}
}
