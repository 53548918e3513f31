#include "ServerManager.h"

#include "BaseServer.h"

CServerManager::CServerManager(CBaseServer* pServer, CResourceMgr* pResourceMgr) :
	CNetObjectMgr(pResourceMgr, true),
	m_pBaseServer(pServer)
{
	SetServerSink(pServer);
	SetNetMachines(&pServer->GetClients());
}

CServerManager::~CServerManager() = default;
