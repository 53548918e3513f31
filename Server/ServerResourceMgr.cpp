#include "ServerResourceMgr.h"

#include "BaseServer.h"
#include "ServerManager.h"

#include "Multiplayer/NetMachine.h"
#include "Network/BinaryStream.h"
#include "Network/ENetSystem.h"
#include "Network/NetSystem.h"
#include "Scripting/Resource.h"

namespace
{
constexpr uint8_t RESOURCE_CHANNEL = 9;
}

CServerResourceMgr::CServerResourceMgr(Context* pContext, CBaseServer* pServer) :
	CNetGameResourceMgr(pContext),
	m_pServer(pServer)
{
	SetServer(true);
}

CServerResourceMgr::~CServerResourceMgr()
{
	// Resources stop while this part of the manager still exists, so their elements are destroyed as they go.
	ClearAllResources();
}

void CServerResourceMgr::RefreshResourceState(CResource* pResource)
{
	if (!pResource || !m_pServer)
		return;
	Packet Message(pResource->IsStarted() ? RESOURCE_MESSAGE_STARTED : RESOURCE_MESSAGE_STOPPED);
	CBinaryWriter Writer(&Message);
	if (pResource->IsStarted())
	{
		Writer.WriteUInt32(1);
		if (!pResource->WriteClientInfo(&Message))
			return;
	}
	else
		Writer.WriteUInt32(GetKey(pResource->GetName()));
	if (CNetSystem* pNetSystem = m_pServer->GetNetSystem())
		pNetSystem->SendEveryonePacket(&Message, PACKET_PRIORITY_LOW, PACKET_FLAG_RELIABLE, RESOURCE_CHANNEL);
}

void CServerResourceMgr::RemoveThingsAssociatedWithResource(CResource* pResource)
{
	CServerManager* pManager = m_pServer ? m_pServer->GetManager() : nullptr;
	if (pResource && pManager)
	{
		// Destroying one element may destroy others (its children), so the table is read afresh every step.
		for (size_t Slot : pManager->UsedSlots())
		{
			CNetObject* pObject = pManager->GetObjectAt(Slot);
			if (pObject && pObject->GetResource() == pResource)
				pManager->DestroyObject(pObject, true, false);
		}
	}
	// The resource's scripts are about to go: their requests must never call them again.
	if (pResource && m_pServer)
		m_pServer->GetHTTPMgr().CancelRequests(pResource);
	CNetGameResourceMgr::RemoveThingsAssociatedWithResource(pResource);
}

void CServerResourceMgr::UpdateAllResource(CNetMachine* pClient)
{
	if (!pClient)
		return;
	Packet Message(RESOURCE_MESSAGE_STARTED);
	if (!WriteClientInfo(&Message))
		return;
	pClient->SendPacket(&Message, PACKET_PRIORITY_LOW, PACKET_FLAG_RELIABLE, RESOURCE_CHANNEL);
}
