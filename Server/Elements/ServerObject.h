#pragma once
// A movable object of the game world: a physical entity without game state of its own.

#include "ServerPhysical.h"

class CServerObject : public CServerPhysical
{
public:
	explicit CServerObject(CGameElementManager* pManager);
	~CServerObject() override;

	ReflectedClass* GetReflectedClass() override;
};
