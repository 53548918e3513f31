#include "ElementTypes.h"

#include "GTAServerManager.h"

#include "Network/BinaryStream.h"

namespace Elements
{
CGTAServerManager* GetGameManager(const CNetObject* pElement)
{
	// Every game element is made by the game's manager, so its replication manager is that one.
	return pElement ? static_cast<CGTAServerManager*>(static_cast<CServerManager*>(pElement->GetManager())) : nullptr;
}

bool IsGTAIV(const CNetObject* pElement)
{
	CGTAServerManager* pManager = GetGameManager(pElement);
	return pManager && pManager->IsGTAIV();
}

ReflectedClass* GetClass(CNetObject* pElement, eElementClass eClass)
{
	CGTAServerManager* pManager = GetGameManager(pElement);
	ReflectedClass* pClass = pManager ? pManager->GetScriptClass(eClass) : nullptr;
	return pClass ? pClass : pElement->CNetObject::GetReflectedClass();
}

void SendToHolders(CNetObject* pElement, Packet& Message)
{
	if (pElement->IsLocal())
		return;
	if (CNetObjectMgr* pManager = pElement->GetManager())
		pManager->SendObjectRelatedPacket(&Message, pElement);
}

void BeginMessage(CNetObject* pElement, Packet& Message)
{
	CBinaryWriter(&Message).WriteInt32(pElement->GetId());
}

bool IsGone(const CNetObject* pElement)
{
	return !pElement->IsRegistered() || pElement->IsDeleting();
}
}
