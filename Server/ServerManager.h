#pragma once
// The server side of the element manager: the replication manager bound to the server's transport and client
// table. The game's manager derives from it and adds the element factory and the world.

#include "Multiplayer/Manager.h"
#include "Multiplayer/NetObjectMgr.h"

class CBaseServer;

class CServerManager : public CManager, public CNetObjectMgr
{
public:
	CServerManager(CBaseServer* pServer, CResourceMgr* pResourceMgr);
	~CServerManager() override;

	CBaseServer* GetBaseServer() const { return m_pBaseServer; }

private:
	CBaseServer* m_pBaseServer;
};
