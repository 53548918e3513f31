#include "Multiplayer/NetworkHandlers.h"

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
	CallHandlerFunction(m_pFunction, m_pOwner && m_pOwner->GetPassClient(), pClient, Arguments);
}

CNetworkHandlers::CNetworkHandlers(CResourceMgr* pResourceMgr) : m_bPassClient(false), m_pResourceMgr(pResourceMgr)
{
}

CNetworkHandlers::~CNetworkHandlers()
{
	KASSERT(m_Handlers.GetDepth() == 0);
	m_Handlers.RemoveAll();
}

bool CNetworkHandlers::Trigger(const char* szName, CBaseObject* pClient, const CArgumentArray& Arguments)
{
	const uint32_t uiKey = GetNameKey(szName);
	if (!m_Handlers.Find(uiKey))
		return false;
	// The handlers may drop every other hold on the sending client.
	Strong<CBaseObject> pHoldClient(pClient);
	return m_Handlers.Dispatch(uiKey, [&](CNetworkHandler* pHandler) {
		pHandler->Execute(pClient, szName, Arguments);
		return true;
	});
}

void CNetworkHandlers::AddHandler(CNetworkHandler* pHandler)
{
	if (pHandler)
		m_Handlers.AddLast(pHandler->m_uiKey, pHandler);
}

size_t CNetworkHandlers::RemoveHandlers(uint32_t uiKey, CResource* pResource)
{
	return m_Handlers.RemoveUnder(uiKey, pResource);
}

size_t CNetworkHandlers::RemoveGoingWith(CResource* pResource)
{
	return m_Handlers.RemoveGoingWith(pResource);
}

static bool FunctionAddNetworkHandler(CNativeState* pState, int, void* pUserData)
{
	CNetworkHandlers* pHandlers = static_cast<CNetworkHandlers*>(pUserData);
	const char* szName = nullptr;
	CFunction* pFunction = nullptr;
	if (!CheckNameAndFunction(pState, szName, pFunction))
		return false;
	pHandlers->AddHandler(
		new CScriptNetworkHandler(pHandlers, pState->GetResource(), GetNameKey(szName), pFunction));
	pState->ReturnBoolean(true);
	return true;
}

static bool FunctionRemoveNetworkHandler(CNativeState* pState, int, void* pUserData)
{
	CNetworkHandlers* pHandlers = static_cast<CNetworkHandlers*>(pUserData);
	const char* szName = pState->CheckString(0, nullptr);
	if (!szName)
		return false;
	pState->ReturnBoolean(pHandlers->RemoveHandlers(GetNameKey(szName), pState->GetResource()) > 0);
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
