#include "Multiplayer/NetworkHandlers.h"

#include "Scripting/ResourceMgr.h"

CNetworkHandler::CNetworkHandler(CNetworkHandlers* pOwner, CResource* pResource, uint32_t uiKey) :
	m_bRemoved(false),
	m_pOwner(pOwner),
	m_pResource(pResource),
	m_uiKey(uiKey)
{
}

CScriptNetworkHandler::CScriptNetworkHandler(CNetworkHandlers* pOwner, CResource* pResource, uint32_t uiKey,
	CFunction* pFunction) :
	CNetworkHandler(pOwner, pResource, uiKey),
	m_pFunction(pFunction)
{
}

void CScriptNetworkHandler::Execute(CBaseObject* pClient, const char*, const CArgumentArray& Arguments)
{
	if (m_pFunction.IsNull())
		return;
	CArgumentArray CallArguments(Arguments.GetArrayCount() + 1);
	if (m_pOwner && m_pOwner->GetPassClient())
	{
		if (pClient)
			CallArguments.AddObject(pClient);
		else
			CallArguments.AddNull();
	}
	Arguments.InsertTo(&CallArguments);
	// Hold the function: the call may remove this handler.
	Strong<CFunction> pFunction = m_pFunction;
	pFunction->Call(CallArguments, nullptr);
}

CNetworkHandlers::CNetworkHandlers(CResourceMgr* pResourceMgr) : m_bPassClient(false), m_pResourceMgr(pResourceMgr)
{
}

CNetworkHandlers::~CNetworkHandlers()
{
	KASSERT(m_Removal.GetDepth() == 0);
	RemoveIf([](CNetworkHandler*) { return true; });
}

uint32_t CNetworkHandlers::GetKey(const char* szName)
{
	return CResourceMgr::GetKey(szName);
}

size_t CNetworkHandlers::GetHandlerCount() const
{
	size_t Count = 0;
	for (const auto& Entry : m_Handlers)
		Count += Entry.second.size();
	return Count;
}

bool CNetworkHandlers::Trigger(const char* szName, CBaseObject* pClient, const CArgumentArray& Arguments)
{
	auto it = m_Handlers.find(GetKey(szName));
	if (it == m_Handlers.end())
		return false;
	// Removed handlers stay allocated until the outermost dispatch ends, so the copy stays safe to walk.
	const std::vector<CNetworkHandler*> Handlers = it->second;
	Strong<CBaseObject> pHoldClient(pClient);
	CDispatchScope<CDeferredRemoval<CNetworkHandler>> Dispatch(m_Removal);
	bool bRan = false;
	for (CNetworkHandler* pHandler : Handlers)
	{
		if (pHandler->m_bRemoved)
			continue;
		pHandler->Execute(pClient, szName, Arguments);
		bRan = true;
	}
	return bRan;
}

void CNetworkHandlers::AddHandler(CNetworkHandler* pHandler)
{
	if (pHandler)
		m_Handlers[pHandler->m_uiKey].push_back(pHandler);
}

template <class TPredicate>
size_t CNetworkHandlers::RemoveIf(TPredicate Predicate)
{
	return RemoveIfFromKeyedLists(m_Handlers, m_Removal, Predicate);
}

size_t CNetworkHandlers::RemoveHandlers(uint32_t uiKey, CResource* pResource)
{
	return RemoveIf([uiKey, pResource](CNetworkHandler* pHandler) {
		return pHandler->m_uiKey == uiKey && (!pResource || pHandler->m_pResource == pResource);
	});
}

size_t CNetworkHandlers::RemoveHandlers(CResource* pResource)
{
	return RemoveIf([pResource](CNetworkHandler* pHandler) { return pHandler->m_pResource == pResource; });
}

static bool FunctionAddNetworkHandler(CNativeState* pState, int, void* pUserData)
{
	CNetworkHandlers* pHandlers = static_cast<CNetworkHandlers*>(pUserData);
	const char* szName = pState->CheckString(0, nullptr);
	if (!szName)
		return false;
	CFunction* pFunction = pState->CheckFunction(1);
	if (!pFunction)
		return false;
	pHandlers->AddHandler(
		new CScriptNetworkHandler(pHandlers, pState->GetResource(), CNetworkHandlers::GetKey(szName), pFunction));
	pState->ReturnBoolean(true);
	return true;
}

static bool FunctionRemoveNetworkHandler(CNativeState* pState, int, void* pUserData)
{
	CNetworkHandlers* pHandlers = static_cast<CNetworkHandlers*>(pUserData);
	const char* szName = pState->CheckString(0, nullptr);
	if (!szName)
		return false;
	pState->ReturnBoolean(pHandlers->RemoveHandlers(CNetworkHandlers::GetKey(szName), pState->GetResource()) > 0);
	return true;
}

void CNetworkHandlers::RegisterFunctions(CScripting* pScripting)
{
	if (!pScripting)
		return;
	ReflectedNamespace* pGlobal = pScripting->GetGlobal();
	pGlobal->RegisterFunction("addNetworkHandler", "sc", FunctionAddNetworkHandler, this);
	pGlobal->RegisterFunction("removeNetworkHandler", "s", FunctionRemoveNetworkHandler, this);
}
