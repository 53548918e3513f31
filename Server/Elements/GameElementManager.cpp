#include "GameElementManager.h"

#include "BaseServer.h"
#include "NetGamesList.h"

#include "Multiplayer/NetObject.h"

bool CGameElementManager::IsGTAIV() const
{
	return IsGTAIVGame(GetBaseServer()->GetGameId());
}

float CGameElementManager::GetStreamInDistance() const
{
	return GetBaseServer()->GetStreamInDistance();
}

float CGameElementManager::GetStreamOutDistance() const
{
	return GetBaseServer()->GetStreamOutDistance();
}

namespace Elements
{
CGameElementManager* GetGameManager(const CNetObject* pElement)
{
	// Every game element is made by the game's manager, so its replication manager is that one.
	if (!pElement)
		return nullptr;
	return static_cast<CGameElementManager*>(static_cast<CServerManager*>(pElement->GetManager()));
}

bool IsGTAIV(const CNetObject* pElement)
{
	CGameElementManager* pManager = GetGameManager(pElement);
	return pManager && pManager->IsGTAIV();
}

ReflectedClass* GetClass(CNetObject* pElement, eElementClass eClass)
{
	CGameElementManager* pManager = GetGameManager(pElement);
	ReflectedClass* pClass = pManager ? pManager->GetScriptClass(eClass) : nullptr;
	return pClass ? pClass : pElement->CNetObject::GetReflectedClass();
}
}
