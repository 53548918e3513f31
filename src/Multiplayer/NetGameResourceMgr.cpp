#include "Multiplayer/NetGameResourceMgr.h"

#include "Multiplayer/Manager.h"

CNetGameResourceMgr::CNetGameResourceMgr(Context* pContext) :
	CResourceMgr(pContext),
	m_pManager(nullptr),
	m_NetworkHandlers(this)
{
	m_NetworkHandlers.RegisterFunctions(GetScripting());
}

CNetGameResourceMgr::~CNetGameResourceMgr()
{
	// Resources stop while this part still exists, so their handlers go with them; whatever remains then goes with
	// the table, before the script languages that own the handlers' functions.
	ClearAllResources();
}

void CNetGameResourceMgr::RemoveThingsAssociatedWithResource(CResource* pResource)
{
	if (pResource)
		m_NetworkHandlers.RemoveGoingWith(pResource);
	CResourceMgr::RemoveThingsAssociatedWithResource(pResource);
}

bool CNetGameResourceMgr::LoadMap(const CElementChunk* pMap, CResource* pResource)
{
	return m_pManager ? m_pManager->LoadMap(pMap, pResource) : CResourceMgr::LoadMap(pMap, pResource);
}
