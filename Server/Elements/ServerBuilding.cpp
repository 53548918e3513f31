#include "ServerBuilding.h"

#include "GameElementManager.h"

CServerBuilding::CServerBuilding(CGameElementManager* pManager) :
	CServerEntity(pManager)
{
	SetType(ELEMENT_BUILDING);
}

CServerBuilding::~CServerBuilding() = default;

ReflectedClass* CServerBuilding::GetReflectedClass()
{
	return Elements::GetClass(this, ELEMENT_CLASS_BUILDING);
}
