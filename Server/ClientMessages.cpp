// The messages a joined client sends about elements (sync, stream-out acknowledgement, syncer request, element
// streaming), the dispatch of every client message, and the per-pass streaming step of one client. Chat,
// commands, network events and keys are read in ClientChat.cpp.

#include "BaseServer.h"

#include "ServerManager.h"

#include "Multiplayer/NetObject.h"
#include "Network/BinaryStream.h"

namespace
{
// What precedes an element's sync block inside its entry: the type and the network id.
constexpr uint16_t SYNC_ENTRY_HEADER_SIZE = 8;
}

void CBaseServer::ProcessPacket(const tPeerInfo& Peer, unsigned uiId, Stream* pStream)
{
	Strong<Stream> pHeld(pStream);
	CNetMachine* pMachine = m_Clients.GetMachineFromPeer(Peer.m_pPeer);
	if (!pMachine)
	{
		if (uiId == SERVER_MESSAGE_JOIN_REQUEST)
			ProcessJoinRequest(Peer.m_pPeer, pStream);
		return;
	}
	// Handlers raise events whose scripts may release the client; it stays valid for the whole message.
	Strong<CNetMachine> pClient(pMachine);
	switch (uiId)
	{
	case SERVER_MESSAGE_READY:
		ProcessReady(pClient);
		break;
	case SERVER_MESSAGE_SYNC:
		ProcessSync(pClient, pStream);
		break;
	case SERVER_MESSAGE_CHAT:
		ProcessChat(pClient, pStream);
		break;
	case SERVER_MESSAGE_COMMAND:
		ProcessCommand(pClient, pStream);
		break;
	case SERVER_MESSAGE_NETWORK_EVENT:
		ProcessNetworkEvent(pClient, pStream);
		break;
	case SERVER_MESSAGE_STREAM_OUT_ACK:
		ProcessStreamOutAck(pClient, pStream);
		break;
	case SERVER_MESSAGE_DISCONNECT:
		ProcessDisconnectMessage(pClient, pStream);
		break;
	case SERVER_MESSAGE_KEY:
		ProcessKey(pClient, pStream);
		break;
	case SERVER_MESSAGE_SYNCER_REQUEST:
		ProcessSyncerRequest(pClient, pStream);
		break;
	case SERVER_MESSAGE_ELEMENT_STREAMING:
		ProcessElementStreaming(pClient, pStream);
		break;
	default:
		break;
	}
}

void CBaseServer::ProcessSync(CNetMachine* pClient, Stream* pStream)
{
	if (!m_pManager)
		return;
	CBinaryReader Reader(pStream);
	uint16_t usCount = 0;
	if (!Reader.ReadUInt16(&usCount))
		return;
	for (uint16_t i = 0; i < usCount; i++)
	{
		uint16_t usSize = 0;
		int32_t iType = 0;
		int32_t iId = INVALID_NETWORK_ID;
		if (!Reader.ReadUInt16(&usSize) || usSize < SYNC_ENTRY_HEADER_SIZE || !Reader.ReadInt32(&iType) ||
			!Reader.ReadInt32(&iId))
			return;
		const long lBlockSize = static_cast<long>(usSize - SYNC_ENTRY_HEADER_SIZE);
		const long lBlockStart = pStream->Tell();
		// A block that claims more than the message holds ends the message: nothing after it can be found.
		if (lBlockStart < 0 || pStream->GetLength() - lBlockStart < lBlockSize)
			return;
		CNetObject* pObject = m_pManager->FromId(iId, 0);
		// Only an element's syncer speaks for it; anyone else could move other clients' players.
		if (pObject && pObject->GetSyncer() == static_cast<INetMachine*>(pClient))
		{
			Strong<CNetObject> pHeldObject(pObject);
			pObject->SetDirty(true);
			pObject->ReadSyncPacket(pStream);
		}
		// The next entry starts where this one said it ends, whatever the element read.
		if (!pStream->Seek(lBlockStart + lBlockSize, SEEK_SET))
			return;
	}
	if (m_iSyncMethod == SYNC_METHOD_REPLAY)
		m_pManager->SendSync(pClient, static_cast<ePacketPriority>(m_iSyncPriority),
			static_cast<ePacketFlags>(m_uiSyncFlags));
}

void CBaseServer::ProcessStreamOutAck(CNetMachine* pClient, Stream* pStream)
{
	if (!m_pManager)
		return;
	CBinaryReader Reader(pStream);
	uint16_t usCount = 0;
	if (!Reader.ReadUInt16(&usCount))
		return;
	for (uint16_t i = 0; i < usCount; i++)
	{
		int32_t iId = INVALID_NETWORK_ID;
		if (!Reader.ReadInt32(&iId))
			return;
		Strong<CNetObject> pObject(m_pManager->FromId(iId, 0));
		if (pObject.IsNull())
			continue;
		pObject->SetCreatedFor(pClient, false);
		// An element that must exist for its syncer is gone once the syncer let go of it; the ids after it
		// are still acknowledgements of their own.
		if (pObject->GetSyncer() == static_cast<INetMachine*>(pClient) &&
			pObject->HasNetFlag(NETFLAG_ALWAYS_EXIST_FOR_SYNCER))
			m_pManager->DestroyObject(pObject, true, false);
		else
			m_pManager->PossiblyDeleteObject(pObject);
	}
}

void CBaseServer::ProcessSyncerRequest(CNetMachine* pClient, Stream* pStream)
{
	if (!m_pManager)
		return;
	CBinaryReader Reader(pStream);
	int32_t iId = INVALID_NETWORK_ID;
	if (!Reader.ReadInt32(&iId))
		return;
	CNetObject* pObject = m_pManager->FromId(iId, 0);
	if (pObject && pObject->CanBeSyncer(pClient))
		pObject->SetSyncer(pClient);
}

void CBaseServer::ProcessElementStreaming(CNetMachine* pClient, Stream* pStream)
{
	CBinaryReader Reader(pStream);
	uint8_t ucStreaming = 0;
	if (!Reader.ReadUInt8(&ucStreaming))
		ucStreaming = 0;
	pClient->SetElementStreaming(ucStreaming != 0);
}

void CBaseServer::ManageElements(CNetMachine* pClient)
{
	if (!m_pManager || !pClient->IsJoined())
		return;
	m_pManager->CreateObjectsAsNeeded(pClient, 0);
	m_pManager->DeleteFarAwayStuff(pClient);
}
