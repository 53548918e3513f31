#include "ServerObject.h"

#include "GameElementManager.h"

CServerObject::CServerObject(CGameElementManager* pManager) :
	CServerPhysical(pManager)
{
	SetType(ELEMENT_OBJECT);
}

CServerObject::~CServerObject() = default;

ReflectedClass* CServerObject::GetReflectedClass()
{
	return Elements::GetClass(this, ELEMENT_CLASS_OBJECT);
}
