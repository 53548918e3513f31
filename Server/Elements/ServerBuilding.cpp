#include "ServerBuilding.h"

#include "GTAServerManager.h"

CServerBuilding::CServerBuilding(CGTAServerManager* pManager) :
	CServerEntity(pManager)
{
	SetType(ELEMENT_BUILDING);
}

CServerBuilding::~CServerBuilding() = default;

ReflectedClass* CServerBuilding::GetReflectedClass()
{
	return Elements::GetClass(this, ELEMENT_CLASS_BUILDING);
}
