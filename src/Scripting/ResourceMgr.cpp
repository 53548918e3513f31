#include "Scripting/ResourceMgr.h"

#include <strings.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <unordered_set>

#include "Engine/ARGB.h"
#include "Engine/Context.h"
#include "Engine/Defines.h"
#include "Engine/FileSystem.h"
#include "Engine/ScriptClasses.h"
#include "Scripting/EventHandlers.h"
#include "Scripting/KeyBinds.h"
#include "Scripting/KeyCodes.h"
#include "Scripting/Resource.h"
#include "Scripting/TimerHandlers.h"
#include "Scripting/XmlFunctions.h"

namespace
{
// Group folders nest; a link that points back up must not recurse for ever.
constexpr unsigned MAX_GROUP_DEPTH = 32;

const char* const RESOURCES_PATH = "/resources";

struct tScanState
{
	CResourceMgr* m_pManager;
	std::unordered_set<std::string> m_Found;
	bool m_bLogChanges;
	unsigned m_uiDepth;
};

bool ScanEntry(const tDirectoryEntry& Entry, void* pUserData)
{
	tScanState* pState = static_cast<tScanState*>(pUserData);
	const char* szName = Entry.m_szName;
	if (!szName || szName[0] == '.' || szName[0] == '\0')
		return true;
	const size_t Length = strlen(szName);
	const std::string Path = PathUtil::AppendPath(Entry.m_szPath, szName);

	if (Entry.m_bDirectory && Length >= 2 && szName[0] == '[' && szName[Length - 1] == ']')
	{
		if (pState->m_uiDepth >= MAX_GROUP_DEPTH)
			return true;
		pState->m_uiDepth++;
		const bool bResult = pState->m_pManager->GetFileSystem()->Enumerate(Path.c_str(), ScanEntry, pState);
		pState->m_uiDepth--;
		return bResult;
	}
	if (Entry.m_bDirectory && !Entry.m_bFile)
	{
		pState->m_Found.insert(szName);
		pState->m_pManager->EnsureLoadedResource(szName, Path.c_str(), "", false, pState->m_bLogChanges);
		return true;
	}
	if (Entry.m_bFile)
	{
		const char* szExtension = strrchr(szName, '.');
		if (szExtension && strcasecmp(szExtension + 1, "tar") == 0)
		{
			const std::string Name(szName, static_cast<size_t>(szExtension - szName));
			pState->m_Found.insert(Name);
			pState->m_pManager->EnsureLoadedResource(Name.c_str(), "", Path.c_str(), false, pState->m_bLogChanges);
		}
	}
	return true;
}
}

CResourceMgr::CResourceMgr(Context* pContext) :
	m_pContext(pContext),
	m_pFileSystem(pContext ? pContext->GetFileSystem() : nullptr),
	m_pScripting(nullptr),
	m_pEventHandlers(nullptr),
	m_pCommandHandlers(nullptr),
	m_pDefineHandlers(nullptr),
	m_pTimerHandlers(nullptr),
	m_pKeyBinds(nullptr),
	m_pXmlInterface(nullptr),
	m_pResourceClass(nullptr),
	m_pOnResourceStart(nullptr),
	m_pOnResourceStop(nullptr),
	m_bServer(false),
	m_bClearing(false)
{
	m_pScripting = new CScripting();
	m_pScripting->RegisterUtilityFunctions();
	m_pScripting->RegisterSDLFunctions();
	m_pScripting->RegisterReflectionFunctions();
	RegisterScriptClasses(m_pScripting);

	m_pEventHandlers = new EventHandlers::CEventHandlers(this);
	m_pEventHandlers->RegisterFunctions(m_pScripting);

	m_pCommandHandlers = new CCommandHandlers(this);
	m_pCommandHandlers->RegisterFunctions(m_pScripting);

	m_pDefineHandlers = new CDefineHandlers();

	m_pTimerHandlers = new TimerHandlers::CTimerHandlers(this);
	m_pTimerHandlers->RegisterFunctions(m_pScripting);

	m_pKeyBinds = new CKeyBinds(this);
	m_pKeyBinds->RegisterFunctions(m_pScripting);

	m_pXmlInterface = new CXmlInterface(this);

	Defines();
	m_pScripting->SetDefineHandlers(m_pDefineHandlers);

	RegisterFunctions();

	m_pOnResourceStart = m_pEventHandlers->CreateEventType("OnResourceStart", "Called when a resource starts", 1, false);
	m_pOnResourceStart->SetCanPreventDefault(true);
	m_pOnResourceStart->SetSourceArgument(0);
	m_pOnResourceStop = m_pEventHandlers->CreateEventType("OnResourceStop", "Called when a resource stops", 2, false);
	m_pOnResourceStop->SetCanPreventDefault(true);
	m_pOnResourceStop->SetSourceArgument(0);
}

CResourceMgr::~CResourceMgr()
{
	ClearAllResources();
	// The collections still to come may run script code; nothing it calls may act from here on.
	if (m_pScripting)
		m_pScripting->Close();
	UnregisterModules();

	// Scripts may still hold resources; once the registries below are gone those resources must not reach them.
	for (CResource* pResource : m_LiveResources)
		pResource->DetachOwner();
	m_LiveResources.clear();

	delete m_pEventHandlers;
	m_pEventHandlers = nullptr;
	delete m_pCommandHandlers;
	m_pCommandHandlers = nullptr;
	delete m_pDefineHandlers;
	m_pDefineHandlers = nullptr;
	delete m_pTimerHandlers;
	m_pTimerHandlers = nullptr;
	delete m_pKeyBinds;
	m_pKeyBinds = nullptr;
	delete m_pXmlInterface;
	m_pXmlInterface = nullptr;

	m_pScripting->SetDefineHandlers(nullptr);
	delete m_pScripting;
	m_pScripting = nullptr;
	CloseModuleLibraries();
}

void CResourceMgr::Defines()
{
	CDefineHandlers* pDefines = m_pDefineHandlers;
	pDefines->Define("KEYSTATE_UP", static_cast<int>(KEYSTATE_UP));
	pDefines->Define("KEYSTATE_DOWN", static_cast<int>(KEYSTATE_DOWN));
	pDefines->Define("KEYSTATE_BOTH", static_cast<int>(KEYSTATE_BOTH));

	DefineSDLKeyConstants(pDefines);

	pDefines->Define("SEEK_SET", 0);
	pDefines->Define("SEEK_CUR", 1);
	pDefines->Define("SEEK_END", 2);

	pDefines->Define("LOGTYPE_NONE", static_cast<int>(LOGTYPE_NONE));
	pDefines->Define("LOGTYPE_VERBOSE", static_cast<int>(LOGTYPE_VERBOSE));
	pDefines->Define("LOGTYPE_DEBUG", static_cast<int>(LOGTYPE_DEBUG));
	pDefines->Define("LOGTYPE_INFO", static_cast<int>(LOGTYPE_INFO));
	pDefines->Define("LOGTYPE_WARN", static_cast<int>(LOGTYPE_WARN));
	pDefines->Define("LOGTYPE_ERROR", static_cast<int>(LOGTYPE_ERROR));
	pDefines->Define("LOGTYPE_CRITICAL", static_cast<int>(LOGTYPE_CRITICAL));

	for (const tNamedColour& Colour : g_rgNamedColours)
		pDefines->Define(Colour.m_szName, Colour.m_Colour.GetValue());
}

CResource* CResourceMgr::NewResource(const char* szName)
{
	return new CResource(this, szName);
}

void CResourceMgr::RefreshResourceState(CResource*)
{
}

void CResourceMgr::RemoveThingsAssociatedWithResource(CResource*)
{
}

bool CResourceMgr::LoadMap(const CElementChunk*, CResource*)
{
	return true;
}

CResource* CResourceMgr::FindResourceByName(const char* szName) const
{
	auto it = m_Resources.find(GetKey(szName));
	return it == m_Resources.end() ? nullptr : it->second;
}

std::vector<Strong<CResource>> CResourceMgr::GetResources() const
{
	std::vector<Strong<CResource>> Resources;
	Resources.reserve(m_Resources.size());
	for (const auto& Entry : m_Resources)
		Resources.emplace_back(Entry.second);
	return Resources;
}

CResource* CResourceMgr::EnsureLoadedResource(const char* szName, const char* szFolderPath, const char* szArchivePath,
	bool, bool bLogChanges)
{
	if (CResource* pResource = FindResourceByName(szName))
	{
		pResource->SetPaths(szFolderPath, szArchivePath);
		return pResource;
	}
	CResource* pResource = NewResource(szName);
	if (!pResource)
		return nullptr;
	pResource->SetPaths(szFolderPath, szArchivePath);
	m_Resources[GetKey(szName)] = pResource;
	if (bLogChanges && m_pContext)
		m_pContext->Log("Found new resource %s", szName);
	return pResource;
}

void CResourceMgr::RemoveResource(CResource* pResource)
{
	Strong<CResource> pHold(pResource);
	if (pResource->IsStarted())
		pResource->Stop(false);
	auto it = m_Resources.find(GetKey(pResource->GetName()));
	if (it == m_Resources.end() || it->second != pResource)
		return;
	m_Resources.erase(it);
	// Whoever depended on it sees a missing dependency from now on, even while a script keeps it alive.
	for (CResource* pOther : m_LiveResources)
		pOther->ForgetDependency(pResource);
	pResource->Release();
}

void CResourceMgr::RefreshResources(bool bLogChanges)
{
	Context* pLog = m_pContext ? m_pContext : KGlobal::GetContext();
	pLog->Log("Scanning resources...");

	for (const Strong<CResource>& pResource : GetResources())
		pResource->ClearPaths();

	tScanState State;
	State.m_pManager = this;
	State.m_bLogChanges = bLogChanges;
	State.m_uiDepth = 0;
	const bool bComplete = m_pFileSystem && m_pFileSystem->Enumerate(RESOURCES_PATH, ScanEntry, &State);

	if (bComplete)
	{
		for (const Strong<CResource>& pResource : GetResources())
		{
			if (State.m_Found.count(pResource->GetName()) != 0)
				continue;
			if (bLogChanges)
				pLog->Log("Removing resource %s", pResource->GetName());
			RemoveResource(pResource);
		}
	}

	pLog->Log("Loading resources...");
	for (const Strong<CResource>& pResource : GetResources())
	{
		if (pResource->LoadMeta(m_bServer))
			continue;
		pLog->LogWarn("Failed to load resource %s!", pResource->GetName());
		RemoveResource(pResource);
	}

	pLog->Log("%d resources in the resource cache", static_cast<int>(m_Resources.size()));
}

void CResourceMgr::ClearAllResources()
{
	// Script code still runs while resources stop (their stop handlers, finalisers in the collections): none of it
	// may start a resource again, which nothing would stop.
	m_bClearing = true;
	for (const Strong<CResource>& pResource : GetResources())
	{
		if (pResource->IsStarted())
			pResource->Stop(false);
	}
	std::unordered_map<uint32_t, CResource*> Resources;
	Resources.swap(m_Resources);
	for (auto& Entry : Resources)
		Entry.second->Release();
	if (m_pScripting)
		m_pScripting->CollectGarbage();
}

bool CResourceMgr::WriteClientInfo(Stream* pStream)
{
	if (!pStream)
		return false;
	const std::vector<Strong<CResource>> Resources = GetResources();
	uint32_t uiStarted = 0;
	for (const Strong<CResource>& pResource : Resources)
	{
		if (pResource->IsStarted())
			uiStarted++;
	}
	const uint8_t Count[4] = {static_cast<uint8_t>(uiStarted), static_cast<uint8_t>(uiStarted >> 8),
		static_cast<uint8_t>(uiStarted >> 16), static_cast<uint8_t>(uiStarted >> 24)};
	if (pStream->Write(Count, sizeof(Count)) != sizeof(Count))
		return false;
	for (const Strong<CResource>& pResource : Resources)
	{
		if (pResource->IsStarted() && !pResource->WriteClientInfo(pStream))
			return false;
	}
	return true;
}

void CResourceMgr::Process(double dFrameDelta)
{
	m_pTimerHandlers->Update(dFrameDelta);
}

bool CResourceMgr::RegisterResourceCommands()
{
	struct tCommand
	{
		const char* m_szName;
		CCommandHandler* m_pHandler;
	};
	const tCommand rgCommands[] = {
		{"start", new CStartResourceCommandHandler(this)},
		{"stop", new CStopResourceCommandHandler(this)},
		{"stopall", new CStopAllResourcesCommandHandler(this)},
		{"restart", new CRestartResourceCommandHandler(this)},
		{"refresh", new CRefreshResourcesCommandHandler(this)},
	};
	bool bResult = true;
	for (const tCommand& Command : rgCommands)
	{
		if (!m_pCommandHandlers->AddCommandHandler(Command.m_pHandler, Command.m_szName))
		{
			delete Command.m_pHandler;
			bResult = false;
		}
	}
	return bResult;
}

void CResourceCommandHandler::Reply(eLogType Type, const char* szFormat, ...)
{
	char szBuffer[LOG_BUFFER_SIZE];
	va_list Args;
	va_start(Args, szFormat);
	vsnprintf(szBuffer, sizeof(szBuffer), szFormat, Args);
	va_end(Args);
	Logger* pLogger = m_pOwner ? m_pOwner->GetLogger() : nullptr;
	if (pLogger)
		pLogger->Log(Type, szBuffer);
}

CResource* CResourceCommandHandler::FindResource(const char* szParameters)
{
	if (!szParameters || szParameters[0] == '\0')
	{
		Reply(LOGTYPE_ERROR, "No resource specified!");
		return nullptr;
	}
	CResource* pResource = m_pResourceMgr->FindResourceByName(szParameters);
	if (!pResource)
		Reply(LOGTYPE_ERROR, "Unable to find the resource %s!", szParameters);
	return pResource;
}

void CStartResourceCommandHandler::Execute(const char*, const char* szParameters, CBaseObject*)
{
	Strong<CResource> pResource = FindResource(szParameters);
	if (pResource.IsNull())
		return;
	if (pResource->IsStarted() || pResource->IsStarting())
	{
		Reply(LOGTYPE_ERROR, "Failed to start resource %s", szParameters);
		return;
	}
	const bool bStarted = pResource->Start();
	if (bStarted)
		m_pResourceMgr->RefreshResourceState(pResource);
	m_pResourceMgr->GetScripting()->CollectGarbage();
	if (bStarted)
		Reply(LOGTYPE_INFO, "Started resource %s", szParameters);
	else
		Reply(LOGTYPE_ERROR, "Failed to start resource %s", szParameters);
}

void CStopResourceCommandHandler::Execute(const char*, const char* szParameters, CBaseObject*)
{
	Strong<CResource> pResource = FindResource(szParameters);
	if (pResource.IsNull())
		return;
	if (!pResource->IsStarted())
	{
		Reply(LOGTYPE_ERROR, "Failed to stop resource %s", szParameters);
		return;
	}
	const bool bStopped = pResource->Stop(false);
	if (bStopped)
		m_pResourceMgr->RefreshResourceState(pResource);
	m_pResourceMgr->GetScripting()->CollectGarbage();
	if (bStopped)
		Reply(LOGTYPE_INFO, "Stopped resource %s", szParameters);
	else
		Reply(LOGTYPE_ERROR, "Failed to stop resource %s", szParameters);
}

void CRestartResourceCommandHandler::Execute(const char*, const char* szParameters, CBaseObject*)
{
	Strong<CResource> pResource = FindResource(szParameters);
	if (pResource.IsNull())
		return;
	if (!pResource->IsStarted())
	{
		Reply(LOGTYPE_ERROR, "Failed to restart resource %s", szParameters);
		return;
	}
	const bool bRestarted = pResource->Restart();
	m_pResourceMgr->RefreshResourceState(pResource);
	m_pResourceMgr->GetScripting()->CollectGarbage();
	if (bRestarted)
		Reply(LOGTYPE_INFO, "Restarted resource %s", szParameters);
	else
		Reply(LOGTYPE_ERROR, "Failed to restart resource %s", szParameters);
}

void CStopAllResourcesCommandHandler::Execute(const char*, const char*, CBaseObject*)
{
	int iStopped = 0;
	for (const Strong<CResource>& pResource : m_pResourceMgr->GetResources())
	{
		// Each stopped resource tells the clients, as "stop" does, so they stop its client scripts too.
		if (pResource->IsStarted() && pResource->Stop(false))
		{
			m_pResourceMgr->RefreshResourceState(pResource);
			iStopped++;
		}
	}
	m_pResourceMgr->GetScripting()->CollectGarbage();
	Reply(LOGTYPE_INFO, "Stopped %d resources", iStopped);
}

void CRefreshResourcesCommandHandler::Execute(const char*, const char*, CBaseObject*)
{
	m_pResourceMgr->RefreshResources(true);
}
