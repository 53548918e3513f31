#include "ElementTypes.h"

#include "Multiplayer/NetObject.h"
#include "Multiplayer/NetObjectMgr.h"
#include "Network/BinaryStream.h"

namespace Elements
{
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
