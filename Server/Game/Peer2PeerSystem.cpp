#include "Peer2PeerSystem.h"

#include "BaseServer.h"
#include "GTAClient.h"
#include "GTAServerManager.h"
#include "GameProtocol.h"

#include "Elements/ServerEntity.h"

#include "Network/BinaryStream.h"
#include "Network/Packet.h"

namespace
{
constexpr uint8_t ANSWER_CHANNEL = 0;
}

CPeer2PeerSystem::CPeer2PeerSystem(CBaseServer* pServer) : m_pServer(pServer)
{
}

void CPeer2PeerSystem::ProcessPacket(CGTAClient* pClient, unsigned uiId, Stream* pStream)
{
	// Every manager the game server makes is the game's.
	CGTAServerManager* pManager = m_pServer ? static_cast<CGTAServerManager*>(m_pServer->GetManager()) : nullptr;
	if (!pManager || !pClient)
		return;
	const uint32_t uiType = uiId == GAME_MESSAGE_CREATE_LOCAL_VEHICLE ? ELEMENT_VEHICLE : ELEMENT_PED;
	CBinaryReader Reader(pStream);
	uint32_t uiLocalId = 0;
	uint8_t rgucTag[REQUEST_TAG_SIZE];
	if (!Reader.ReadUInt32(&uiLocalId) || !Reader.Read(rgucTag, sizeof(rgucTag)))
		return;
	if (pClient->CountLocalElements() >= CGTAClient::MAX_LOCAL_ELEMENTS)
		return;

	Strong<CServerEntity> pElement =
		Strong<CServerEntity>::New(static_cast<CServerEntity*>(pManager->Create(static_cast<int>(uiType))));
	if (pElement.IsNull())
		return;
	pElement->m_iClientLocalId = static_cast<int32_t>(uiLocalId);
	pElement->SetNetFlag(NETFLAG_ALWAYS_EXIST_FOR_SYNCER, true);
	pElement->SetNetFlag(NETFLAG_TRANSIENT, true);
	// Half an element is no element: the client is told nothing and can ask again.
	if (!pElement->ReadCreatePacket(pStream) || !pElement->ReadSyncPacket(pStream))
		return;

	if (uiType == ELEMENT_VEHICLE && pElement->IsRandom())
	{
		CVector3D vecPosition;
		pElement->GetPosition(vecPosition);
		if (pManager->IsAnythingBlocking(vecPosition))
		{
			SendAnswer(pClient, uiType, uiLocalId, rgucTag, INVALID_NETWORK_ID);
			return;
		}
	}

	if (!pManager->RegisterNetObject(pElement))
		return;
	SendAnswer(pClient, uiType, uiLocalId, rgucTag, pElement->GetId());
	pElement->SetCreatedFor(pClient, true);
	pElement->SetSyncer(pClient);
	pClient->AddLocalElement(pElement);
}

void CPeer2PeerSystem::SendAnswer(CGTAClient* pClient, uint32_t uiType, uint32_t uiLocalId, const uint8_t* pucTag,
	int32_t iId)
{
	Packet Answer(GAME_MESSAGE_LOCAL_ELEMENT_ANSWER);
	CBinaryWriter Writer(&Answer);
	Writer.WriteUInt32(uiType);
	Writer.WriteUInt32(uiLocalId);
	Writer.Write(pucTag, REQUEST_TAG_SIZE);
	Writer.WriteInt32(iId);
	pClient->SendPacket(&Answer, PACKET_PRIORITY_LOW, PACKET_FLAG_RELIABLE, ANSWER_CHANNEL);
}
