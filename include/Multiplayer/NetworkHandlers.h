#pragma once
// Network events: clients raise named events on the server, and scripts receive them through handlers added with
// addNetworkHandler. Names match without regard to case (the lower-cased CRC-32 key); several handlers may share
// a name and run in the order they were added.

#include <cstddef>
#include <cstdint>

#include "Engine/KestrinNative.h"
#include "Scripting/KeyedHandlers.h"

class CResource;
class CResourceMgr;
class CNetworkHandlers;

class CNetworkHandler
{
public:
	CNetworkHandler(CNetworkHandlers* pOwner, CResource* pResource, uint32_t uiKey);
	virtual ~CNetworkHandler() = default;

	CNetworkHandler(const CNetworkHandler&) = delete;
	CNetworkHandler& operator=(const CNetworkHandler&) = delete;

	// pClient is the sending client, or null.
	virtual void Execute(CBaseObject* pClient, const char* szName, const CArgumentArray& Arguments) = 0;
	// Taken out of the table: drops what it holds for its calls.
	virtual void LetGo() {}
	// The script function the handler calls, or null.
	virtual CFunction* GetFunction() const { return nullptr; }

	// Set when the handler is taken out of the table; a dispatch in progress then skips it.
	bool m_bRemoved;
	CNetworkHandlers* m_pOwner;
	// Not owned.
	CResource* m_pResource;
	uint32_t m_uiKey;
};

class CScriptNetworkHandler : public CNetworkHandler
{
public:
	CScriptNetworkHandler(CNetworkHandlers* pOwner, CResource* pResource, uint32_t uiKey, CFunction* pFunction);

	// Calls the function with [the client when the table passes clients, then every event argument]; the event's
	// name is not passed.
	void Execute(CBaseObject* pClient, const char* szName, const CArgumentArray& Arguments) override;
	void LetGo() override { m_pFunction.SetNull(); }
	CFunction* GetFunction() const override { return m_pFunction; }

	Strong<CFunction> m_pFunction;
};

class CNetworkHandlers
{
public:
	explicit CNetworkHandlers(CResourceMgr* pResourceMgr);
	// Must not run during a dispatch.
	~CNetworkHandlers();

	CNetworkHandlers(const CNetworkHandlers&) = delete;
	CNetworkHandlers& operator=(const CNetworkHandlers&) = delete;

	// Runs every handler of the name, in the order they were added; true when at least one ran. Handlers added
	// while it runs wait for the next event.
	bool Trigger(const char* szName, CBaseObject* pClient, const CArgumentArray& Arguments);

	// Takes ownership; the handler runs after those added before it under the same key.
	void AddHandler(CNetworkHandler* pHandler);
	// The handlers under the key owned by pResource (every handler under it for null); the number removed.
	size_t RemoveHandlers(uint32_t uiKey, CResource* pResource);
	// Whatever its key, every handler that goes when the resource stops (CKeyedHandlers::RemoveGoingWith).
	size_t RemoveGoingWith(CResource* pResource);

	void SetPassClient(bool bPassClient) { m_bPassClient = bPassClient; }
	bool GetPassClient() const { return m_bPassClient; }

	// addNetworkHandler and removeNetworkHandler in the global namespace.
	void RegisterFunctions(CScripting* pScripting);

	CResourceMgr* GetResourceMgr() const { return m_pResourceMgr; }
	size_t GetHandlerCount() const { return m_Handlers.GetCount(); }
	int32_t GetIterating() const { return m_Handlers.GetDepth(); }

private:
	bool m_bPassClient;
	CResourceMgr* m_pResourceMgr;
	// Per name key, in the order the handlers were added.
	CKeyedHandlers<uint32_t, CNetworkHandler> m_Handlers;
};
