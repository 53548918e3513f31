#pragma once
// The game's element manager: the server's replication manager plus the world.

#include "ServerManager.h"
#include "World.h"

#include "Engine/KestrinReference.h"

class CGTAServer;

class CGTAServerManager : public CServerManager
{
public:
	CGTAServerManager(CGTAServer* pServer, CResourceMgr* pResourceMgr);
	~CGTAServerManager() override;

	CGTAServer* GetServer() const { return m_pServer; }
	CWorld* GetWorld() const { return m_pWorld; }

private:
	CGTAServer* m_pServer;
	Strong<CWorld> m_pWorld;
};
