#pragma once
// The server's resource manager: tells the clients when a resource starts or stops, sends a ready client the
// started resources, and destroys a stopping resource's elements.

#include <cstdint>

#include "Multiplayer/NetGameResourceMgr.h"

class CBaseServer;
class CNetMachine;

enum eResourceMessage : uint32_t
{
	RESOURCE_MESSAGE_STARTED = 9,
	RESOURCE_MESSAGE_STOPPED = 10,
};

class CServerResourceMgr : public CNetGameResourceMgr
{
public:
	CServerResourceMgr(Context* pContext, CBaseServer* pServer);
	~CServerResourceMgr() override;

	// Message 9 with the one resource when it started, message 10 with its name key when it stopped; to everyone.
	void RefreshResourceState(CResource* pResource) override;
	// Destroys, in slot order, every element the resource owns, then its network handlers.
	void RemoveThingsAssociatedWithResource(CResource* pResource) override;

	// Message 9 with every started resource to the one client.
	void UpdateAllResource(CNetMachine* pClient);

	CBaseServer* GetServer() const { return m_pServer; }

private:
	CBaseServer* m_pServer;
};
