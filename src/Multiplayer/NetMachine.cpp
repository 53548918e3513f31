#include "Multiplayer/NetMachine.h"

#include "Engine/Context.h"
#include "Engine/KError.h"
#include "Multiplayer/NetObject.h"
#include "Multiplayer/NetObjectMgr.h"
#include "Network/BinaryStream.h"
#include "Network/ENetSystem.h"
#include "Network/NetCompatibilityShim.h"

namespace
{
// Client messages and the own-player message go on the channel of messages to every client.
constexpr uint8_t CLIENT_MESSAGE_CHANNEL = NET_CHANNEL_EVERYONE;
}

CNetMachine::CNetMachine(CNetObjectMgr* pManager) :
	m_pManager(pManager),
	m_pPeer(nullptr),
	m_iGame(-1),
	m_iGameVersion(255),
	m_iIndex(INVALID_CLIENT_ID),
	m_iPlayerId(INVALID_NETWORK_ID),
	m_bJoined(false),
	m_bAdministrator(false),
	m_bConsole(false),
	m_bElementStreaming(true)
{
}

CNetMachine::~CNetMachine()
{
	m_Data.Clear();
	m_pPlayer = nullptr;
}

ReflectedClass* CNetMachine::GetReflectedClass()
{
	if (m_pManager && m_pManager->GetClientClass())
		return m_pManager->GetClientClass();
	return CBaseObject::GetReflectedClass();
}

CNetSystem* CNetMachine::GetServerNetSystem() const
{
	if (!m_pManager || !m_pManager->IsServer())
		return nullptr;
	CNetCompatibilityShim* pSink = m_pManager->GetServerSink();
	return pSink ? pSink->GetNetSystem() : nullptr;
}

bool CNetMachine::SendPacket(Packet* pPacket, ePacketPriority ePriority, ePacketFlags eFlags, uint8_t ucChannel)
{
	if (m_bConsole || !pPacket)
		return false;
	CNetSystem* pNetSystem = GetServerNetSystem();
	if (!pNetSystem)
		return false;
	return pNetSystem->SendPacket(m_pPeer, pPacket, ePriority, eFlags, ucChannel);
}

bool CNetMachine::SendToEveryone(Packet* pPacket)
{
	return m_pManager && m_pManager->IsServer() && m_pManager->SendEveryonePacket(pPacket);
}

CNetObject* CNetMachine::GetPlayer()
{
	if (CNetObject* pPlayer = m_pPlayer.Get())
		return pPlayer;
	if (m_iPlayerId == INVALID_NETWORK_ID || !m_pManager)
		return nullptr;
	CNetObject* pPlayer = m_pManager->FromId(m_iPlayerId, 0);
	m_pPlayer = pPlayer;
	return pPlayer;
}

void CNetMachine::SetPlayer(CNetObject* pPlayer)
{
	if (m_pPlayer.Get() == pPlayer && (pPlayer || m_iPlayerId == INVALID_NETWORK_ID))
		return;
	m_pPlayer = pPlayer;
	m_iPlayerId = pPlayer ? pPlayer->GetId() : INVALID_NETWORK_ID;
	if (pPlayer)
		pPlayer->SetName(m_Name.c_str());

	if (m_pManager && m_pManager->IsServer())
	{
		Packet Message(NETMACHINE_MESSAGE_PLAYER);
		CBinaryWriter Writer(&Message);
		Writer.WriteUInt16(1);
		Writer.WriteInt32(m_iIndex);
		Writer.WriteInt32(m_iPlayerId);
		SendToEveryone(&Message);
	}
	SendPlayer();
}

void CNetMachine::SendPlayer()
{
	if (!m_pManager || !m_pManager->IsServer() || !m_bJoined || m_bConsole)
		return;
	CNetObject* pPlayer = GetPlayer();
	int32_t iId = INVALID_NETWORK_ID;
	if (pPlayer && pPlayer->IsCreatedFor(this))
		iId = pPlayer->GetId();
	Packet Message(NETMACHINE_MESSAGE_OWN_PLAYER);
	CBinaryWriter Writer(&Message);
	Writer.WriteInt32(iId);
	SendPacket(&Message, PACKET_PRIORITY_LOW, PACKET_FLAG_RELIABLE, CLIENT_MESSAGE_CHANNEL);
}

void CNetMachine::DespawnPlayer()
{
	CNetObject* pPlayer = GetPlayer();
	if (!pPlayer)
		return;
	// The destruction may clear this client's player through the manager; hold the element meanwhile.
	Strong<CNetObject> pHeld(pPlayer);
	if (m_pManager)
		m_pManager->DestroyObject(pPlayer, true, false);
	SetPlayer(nullptr);
}

void CNetMachine::SetName(const char* szName)
{
	m_Name = szName ? szName : "";
}

bool CNetMachine::SetData(const char* szKey, const CArgument* pValue, bool bSendToClients)
{
	if (!szKey || !pValue)
		return false;
	// Stored first and sent only once stored: a value without a wire form (refused here) would leave every client
	// unable to read past it, and no client should hear of data the server does not hold.
	if (!CNetObjectMgr::SetData(m_Data, szKey, pValue))
		return false;
	if (bSendToClients)
		SendData(szKey, pValue);
	return true;
}

bool CNetMachine::RemoveData(const char* szKey)
{
	if (!szKey || !m_Data.Remove(szKey))
		return false;
	SendData(szKey, nullptr);
	return true;
}

void CNetMachine::SendData(const char* szKey, const CArgument* pValue)
{
	if (!m_pManager || !m_pManager->IsServer())
		return;
	Packet Message(NETMACHINE_MESSAGE_DATA);
	CBinaryWriter Writer(&Message);
	Writer.WriteUInt16(1);
	Writer.WriteInt32(m_iIndex);
	Writer.WriteUInt16(1);
	Writer.WriteString(szKey);
	if (pValue)
	{
		Writer.WriteUInt8(pValue->GetType());
		pValue->Write(&Message);
	}
	else
		Writer.WriteUInt8(ARGUMENT_NIL);
	SendToEveryone(&Message);
}

void CNetMachine::ClearData()
{
	m_Data.Clear();
	if (m_pManager && m_pManager->IsServer())
	{
		Packet Message(NETMACHINE_MESSAGE_DATA_CLEARED);
		CBinaryWriter Writer(&Message);
		Writer.WriteUInt16(1);
		Writer.WriteInt32(m_iIndex);
		SendToEveryone(&Message);
	}
}

uint8_t CNetMachine::GetFlags() const
{
	uint8_t ucFlags = 0;
	if (m_bAdministrator)
		ucFlags |= FLAG_ADMINISTRATOR;
	if (m_bConsole)
		ucFlags |= FLAG_CONSOLE;
	return ucFlags;
}

void CNetMachine::SendUpdate()
{
	if (!m_pManager || !m_pManager->IsServer())
		return;
	Packet Message(NETMACHINE_MESSAGE_FLAGS);
	CBinaryWriter Writer(&Message);
	Writer.WriteUInt16(1);
	Writer.WriteInt32(m_iIndex);
	Writer.WriteUInt8(GetFlags());
	SendToEveryone(&Message);
}

bool CNetMachine::Write(Stream* pStream)
{
	CBinaryWriter Writer(pStream);
	CNetObject* pPlayer = GetPlayer();
	bool bResult = Writer.WriteUInt8(GetFlags());
	bResult = bResult && Writer.WriteUInt8(static_cast<uint8_t>(m_iGame & 0xFF));
	bResult = bResult && Writer.WriteUInt8(static_cast<uint8_t>(m_iGameVersion & 0xFF));
	bResult = bResult && Writer.WriteInt32(pPlayer ? pPlayer->GetId() : INVALID_NETWORK_ID);
	bResult = bResult && Writer.WriteString(m_Name.c_str(), m_Name.size());
	return bResult && CNetObjectMgr::WriteData(m_Data, pStream);
}

bool CNetMachine::IsObjectOnMyDimension(CNetObject* pObject)
{
	if (!pObject)
		return false;
	CNetObject* pPlayer = GetPlayer();
	const int32_t iMine = pPlayer ? pPlayer->GetRootDimension() : -1;
	return iMine == pObject->GetRootDimension();
}

CNetMachines::CNetMachines() : m_iLocalIndex(INVALID_CLIENT_ID)
{
}

CNetMachines::~CNetMachines()
{
	Clear();
}

CNetMachine* CNetMachines::GetMachine(int32_t iIndex)
{
	if (iIndex < 0 || iIndex >= static_cast<int32_t>(MAX_NET_MACHINES))
		return nullptr;
	return m_rgMachines[iIndex].GetPointer();
}

const CNetMachine* CNetMachines::GetMachine(int32_t iIndex) const
{
	if (iIndex < 0 || iIndex >= static_cast<int32_t>(MAX_NET_MACHINES))
		return nullptr;
	return m_rgMachines[iIndex].GetPointer();
}

CNetMachine* CNetMachines::GetMachineFromPeer(void* pPeer) const
{
	if (!pPeer)
		return nullptr;
	for (const Strong<CNetMachine>& pMachine : m_rgMachines)
	{
		if (!pMachine.IsNull() && pMachine->GetPeer() == pPeer)
			return pMachine.GetPointer();
	}
	return nullptr;
}

bool CNetMachines::SetMachine(int32_t iIndex, CNetMachine* pMachine)
{
	if (iIndex < 0 || iIndex >= static_cast<int32_t>(MAX_NET_MACHINES))
		return false;
	m_rgMachines[iIndex] = pMachine;
	return true;
}

int32_t CNetMachines::FindFreeSlot(int32_t iLimit) const
{
	if (iLimit > static_cast<int32_t>(MAX_NET_MACHINES))
		iLimit = static_cast<int32_t>(MAX_NET_MACHINES);
	for (int32_t i = 0; i < iLimit; i++)
	{
		if (m_rgMachines[i].IsNull())
			return i;
	}
	return INVALID_CLIENT_ID;
}

void CNetMachines::Clear()
{
	for (size_t i = MAX_NET_MACHINES; i-- > 0;)
		m_rgMachines[i].SetNull();
}
