#include "GTAServerManager.h"

#include "GTAServer.h"
#include "ServerFunctions.h"

#include "Engine/KestrinNative.h"
#include "Engine/Reflection.h"
#include "Scripting/ResourceMgr.h"

CGTAServerManager::CGTAServerManager(CGTAServer* pServer, CResourceMgr* pResourceMgr) :
	CServerManager(pServer, pResourceMgr),
	m_pServer(pServer)
{
	m_pWorld = Strong<CWorld>::New(new CWorld(this));
	if (pResourceMgr && pResourceMgr->GetScripting())
	{
		ReflectedNamespace* pGame = pResourceMgr->GetScripting()->GetGlobal()->AddNamespace("gta");
		pGame->SetAlias("game");
		m_pWorld->RegisterFunctions(pGame);
		RegisterServerNamespace(this);
	}
}

CGTAServerManager::~CGTAServerManager()
{
	m_pWorld.SetNull();
}
