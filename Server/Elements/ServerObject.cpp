#include "ServerObject.h"

#include "GTAServerManager.h"

CServerObject::CServerObject(CGTAServerManager* pManager) :
	CServerPhysical(pManager)
{
	SetType(ELEMENT_OBJECT);
}

CServerObject::~CServerObject() = default;

ReflectedClass* CServerObject::GetReflectedClass()
{
	return Elements::GetClass(this, ELEMENT_CLASS_OBJECT);
}
