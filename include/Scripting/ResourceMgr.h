#pragma once
// The script host: owner of the script-language registry and of every registry that scripts fill (events,
// commands, constants, timers, key binds), and keeper of the resources found below /resources. The network and
// server resource managers derive from it.

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "Engine/KestrinNative.h"
#include "Scripting/CommandHandlers.h"

class Context;
class CDefineHandlers;
class CElementChunk;
class CFileSystem;
class CKeyBinds;
class CResource;
class CXmlInterface;
class Stream;

namespace EventHandlers
{
class CEventHandlers;
class CEventType;
}

namespace TimerHandlers
{
class CTimerHandlers;
}

// One loaded plug-in module, kept in load order until the manager goes.
struct tModuleRecord
{
	// The namespace made for the module's exported name, or null.
	ReflectedNamespace* m_pNamespace;
	// The handle dlopen gave.
	void* m_pLibrary;
	// What RegisterModule returned; handed back to UnregisterModule.
	intptr_t m_Value;
};

class CResourceMgr
{
public:
	explicit CResourceMgr(Context* pContext);
	// A derived manager stops every resource in its own destructor first, while its overrides still exist.
	virtual ~CResourceMgr();

	CResourceMgr(const CResourceMgr&) = delete;
	CResourceMgr& operator=(const CResourceMgr&) = delete;

	// A new, unregistered resource with one reference for the caller.
	virtual CResource* NewResource(const char* szName);
	// Tells interested parties (the server's clients) that a resource started or stopped.
	virtual void RefreshResourceState(CResource* pResource);
	virtual void RemoveThingsAssociatedWithResource(CResource* pResource);
	// Borrows the tree for the call; the resource frees it afterwards.
	virtual bool LoadMap(const CElementChunk* pMap, CResource* pResource);

	// By name, regardless of case; a null name looks up the empty name.
	CResource* FindResourceByName(const char* szName) const;
	void RefreshResources(bool bLogChanges);
	CResource* EnsureLoadedResource(const char* szName, const char* szFolderPath, const char* szArchivePath, bool,
		bool bLogChanges);
	// Stops every resource and forgets them all; from then on no resource starts (IsClearing).
	void ClearAllResources();
	bool IsClearing() const { return m_bClearing; }
	// The count of started resources, then the client block of each.
	bool WriteClientInfo(Stream* pStream);
	// Once a main-loop pass: advances the script timers.
	void Process(double dFrameDelta);

	// The console commands "start", "stop", "stopall", "restart" and "refresh", in that order; each is restricted
	// to privileged callers. False when a name was taken.
	bool RegisterResourceCommands();

	// Opens the library szSource followed by ".so" and registers the module in it. Failures are logged as
	// warnings: the library did not open, exports no RegisterModule, or failed its registration.
	bool LoadModule(const char* szSource);

	// The registry of the server's plug-in modules; unregistered and closed when the manager goes.
	void AddModule(const tModuleRecord& Module) { m_Modules.push_back(Module); }
	const std::vector<tModuleRecord>& GetModules() const { return m_Modules; }

	Context* GetContext() const { return m_pContext; }
	CFileSystem* GetFileSystem() const { return m_pFileSystem; }
	CScripting* GetScripting() const { return m_pScripting; }
	EventHandlers::CEventHandlers* GetEventHandlers() const { return m_pEventHandlers; }
	CCommandHandlers* GetCommandHandlers() const { return m_pCommandHandlers; }
	CDefineHandlers* GetDefineHandlers() const { return m_pDefineHandlers; }
	TimerHandlers::CTimerHandlers* GetTimerHandlers() const { return m_pTimerHandlers; }
	CKeyBinds* GetKeyBinds() const { return m_pKeyBinds; }
	CXmlInterface* GetXmlInterface() const { return m_pXmlInterface; }
	ReflectedClass* GetResourceClass() const { return m_pResourceClass; }
	EventHandlers::CEventType* GetOnResourceStart() const { return m_pOnResourceStart; }
	EventHandlers::CEventType* GetOnResourceStop() const { return m_pOnResourceStop; }

	bool IsServer() const { return m_bServer; }
	void SetServer(bool bServer) { m_bServer = bServer; }

	size_t GetResourceCount() const { return m_Resources.size(); }
	// Every registered resource, in registry order, each held for the caller's walk.
	std::vector<Strong<CResource>> GetResources() const;

	// Every CResource made by this manager registers here for its whole life, registered or not.
	void OnResourceCreated(CResource* pResource) { m_LiveResources.insert(pResource); }
	void OnResourceDestroyed(CResource* pResource) { m_LiveResources.erase(pResource); }

	// The key resources are registered under; names compare without regard to case.
	static uint32_t GetKey(const char* szName) { return GetNameKey(szName); }

protected:
	Context* m_pContext;
	// The file system resources live in: the context's.
	CFileSystem* m_pFileSystem;
	CScripting* m_pScripting;
	EventHandlers::CEventHandlers* m_pEventHandlers;
	CCommandHandlers* m_pCommandHandlers;
	CDefineHandlers* m_pDefineHandlers;
	TimerHandlers::CTimerHandlers* m_pTimerHandlers;
	CKeyBinds* m_pKeyBinds;
	// The script classes "XmlElement" and "XmlDocument".
	CXmlInterface* m_pXmlInterface;
	ReflectedClass* m_pResourceClass;
	EventHandlers::CEventType* m_pOnResourceStart;
	EventHandlers::CEventType* m_pOnResourceStop;
	// Each entry holds one reference.
	std::unordered_map<uint32_t, CResource*> m_Resources;
	std::vector<tModuleRecord> m_Modules;
	bool m_bServer;

private:
	void Defines();
	void RegisterFunctions();
	// Takes the resource out of the registry (stopping it when started) and drops the registry's reference.
	void RemoveResource(CResource* pResource);
	// Calls each module's UnregisterModule, in load order.
	void UnregisterModules();
	// Closes the module libraries in load order and forgets the modules. Objects a module made can outlive its
	// unregistration until the last language goes, and then call into it: this runs only after that.
	void CloseModuleLibraries();

	std::unordered_set<CResource*> m_LiveResources;
	bool m_bClearing;
};

// The console commands that manage resources. Each answers through the command registry's logger.
class CResourceCommandHandler : public CCommandHandler
{
public:
	explicit CResourceCommandHandler(CResourceMgr* pResourceMgr) : m_pResourceMgr(pResourceMgr) {}

protected:
	void Reply(eLogType Type, const char* szFormat, ...) __attribute__((format(printf, 3, 4)));
	// The named resource, or null after answering "No resource specified!" or "Unable to find the resource %s!".
	CResource* FindResource(const char* szParameters);

	CResourceMgr* m_pResourceMgr;
};

class CStartResourceCommandHandler : public CResourceCommandHandler
{
public:
	using CResourceCommandHandler::CResourceCommandHandler;
	void Execute(const char* szName, const char* szParameters, CBaseObject* pClient) override;
};

class CStopResourceCommandHandler : public CResourceCommandHandler
{
public:
	using CResourceCommandHandler::CResourceCommandHandler;
	void Execute(const char* szName, const char* szParameters, CBaseObject* pClient) override;
};

class CRestartResourceCommandHandler : public CResourceCommandHandler
{
public:
	using CResourceCommandHandler::CResourceCommandHandler;
	void Execute(const char* szName, const char* szParameters, CBaseObject* pClient) override;
};

class CStopAllResourcesCommandHandler : public CResourceCommandHandler
{
public:
	using CResourceCommandHandler::CResourceCommandHandler;
	void Execute(const char* szName, const char* szParameters, CBaseObject* pClient) override;
};

class CRefreshResourcesCommandHandler : public CResourceCommandHandler
{
public:
	using CResourceCommandHandler::CResourceCommandHandler;
	void Execute(const char* szName, const char* szParameters, CBaseObject* pClient) override;
};
