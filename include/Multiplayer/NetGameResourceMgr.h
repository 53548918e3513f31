#pragma once
// The resource manager of a networked game: the script host's manager plus the network-event handlers that
// scripts add, which go with their resource when it stops, and the element manager that places a resource's map
// files.

#include "Multiplayer/NetworkHandlers.h"
#include "Scripting/ResourceMgr.h"

class CManager;

class CNetGameResourceMgr : public CResourceMgr
{
public:
	explicit CNetGameResourceMgr(Context* pContext);
	~CNetGameResourceMgr() override;

	// Removes the resource's network handlers.
	void RemoveThingsAssociatedWithResource(CResource* pResource) override;
	// Passed on to the element manager; without one there is nothing to place and the map succeeds.
	bool LoadMap(const CElementChunk* pMap, CResource* pResource) override;

	// Not owned; null until the server has built its element manager, and again once that is gone.
	void SetManager(CManager* pManager) { m_pManager = pManager; }
	CManager* GetManager() const { return m_pManager; }
	CNetworkHandlers* GetNetworkHandlers() { return &m_NetworkHandlers; }

private:
	CManager* m_pManager;
	CNetworkHandlers m_NetworkHandlers;
};
