#pragma once
// A building of the game world: an entity that never moves and has no game state of its own.

#include "ServerEntity.h"

class CServerBuilding : public CServerEntity
{
public:
	explicit CServerBuilding(CGameElementManager* pManager);
	~CServerBuilding() override;

	ReflectedClass* GetReflectedClass() override;
};
