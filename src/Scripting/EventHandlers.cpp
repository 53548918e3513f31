#include "Scripting/EventHandlers.h"

#include "Engine/Context.h"
#include "Scripting/Resource.h"
#include "Scripting/ResourceMgr.h"

namespace EventHandlers
{
CEvent::CEvent(CEventType* pEventType, ReflectedClass* pClass) : m_pEventType(pEventType)
{
	SetReflectedClass(pClass);
}

CCancellableEvent::CCancellableEvent(CEventType* pEventType, ReflectedClass* pClass) :
	CEvent(pEventType, pClass),
	m_bDefaultPrevented(false)
{
}

CEventHandler::CEventHandler(CEventHandlers* pOwner, CBaseObject* pSource, CResource* pResource) :
	m_pOwner(pOwner),
	m_pSource(pSource),
	m_pResource(pResource),
	m_bBound(pSource != nullptr),
	m_bRemoved(false)
{
}

CScriptEventHandler::CScriptEventHandler(CEventHandlers* pOwner, CFunction* pFunction, CBaseObject* pSource,
	CResource* pResource) :
	CEventHandler(pOwner, pSource, pResource),
	m_pFunction(pFunction)
{
}

void CScriptEventHandler::Execute(CEvent* pEvent, const char*, const CArgumentArray& Arguments)
{
	CallHandlerFunction(m_pFunction, true, pEvent, Arguments);
}

CEventType::CEventType(CEventHandlers* pOwner, const char* szName, const char* szDescription,
	int32_t iArgumentCount, bool bCanPreventDefault) :
	m_pOwner(pOwner),
	m_uiKey(GetNameKey(szName)),
	m_Name(szName ? szName : ""),
	m_Description(szDescription ? szDescription : ""),
	m_iArgumentCount(iArgumentCount),
	m_bCanPreventDefault(bCanPreventDefault),
	m_iSourceArgument(-1)
{
}

CEventType::~CEventType()
{
	RemoveHandlers();
}

bool CEventType::Trigger(const CArgumentArray& Arguments)
{
	Strong<CEvent> pEvent = Strong<CEvent>::New(new CEvent(this, m_pOwner->GetEventClass()));
	return TriggerWithEvent(pEvent, Arguments);
}

bool CEventType::Trigger(const CArgumentArray& Arguments, bool& bDefaultPrevented)
{
	if (!m_bCanPreventDefault)
	{
		if (Context* pContext = KGlobal::GetContext())
			pContext->LogWarn("Trigger: Event '%s' used with 'preventDefault' but not registered that way",
				m_Name.c_str());
	}
	Strong<CCancellableEvent> pEvent =
		Strong<CCancellableEvent>::New(new CCancellableEvent(this, m_pOwner->GetCancellableEventClass()));
	bool bResult = TriggerWithEvent(pEvent, Arguments);
	// Read only after every handler ran: one handler cannot stop the ones after it.
	bDefaultPrevented = pEvent->IsDefaultPrevented();
	return bResult;
}

bool CEventType::TriggerWithEvent(CEvent* pEvent, const CArgumentArray& Arguments)
{
	const size_t ArgumentCount = Arguments.GetArrayCount();
	if (m_iArgumentCount != -1 && ArgumentCount < static_cast<size_t>(m_iArgumentCount < 0 ? 0 : m_iArgumentCount))
	{
		if (Context* pContext = KGlobal::GetContext())
			pContext->LogWarn("TriggerWithEvent: Event '%s' triggered with %d arguments but requires %d arguments",
				m_Name.c_str(), static_cast<int>(ArgumentCount), m_iArgumentCount);
	}

	CBaseObject* pSource = nullptr;
	if (m_iSourceArgument >= 0 && static_cast<size_t>(m_iSourceArgument) < ArgumentCount)
	{
		CArgument* pArgument = Arguments.GetAt(static_cast<size_t>(m_iSourceArgument));
		if (pArgument && !pArgument->IsNull() && pArgument->IsObject())
			pSource = pArgument->ToObject();
	}

	CEventHandlers::tHandlers& Handlers = m_pOwner->GetHandlers();
	// Handlers whose source died are dropped here, before the walk, so none of them can run.
	Handlers.RemoveIf(m_uiKey, [](CEventHandler* pHandler) { return pHandler->IsOrphaned(); });

	// The walk covers the handlers present when the trigger began; one added meanwhile waits for the next trigger,
	// one removed meanwhile is skipped and stays allocated until the outermost dispatch of the registry ends.
	return Handlers.Dispatch(m_uiKey, [&](CEventHandler* pHandler) {
		if (pHandler->IsOrphaned() || (pHandler->IsBound() && pHandler->GetSource() != pSource))
			return false;
		pHandler->Execute(pEvent, nullptr, Arguments);
		return true;
	});
}

void CEventType::AddHandler(CEventHandler* pHandler)
{
	if (pHandler)
		m_pOwner->GetHandlers().AddLast(m_uiKey, pHandler);
}

size_t CEventType::RemoveHandlers()
{
	return RemoveHandlers(nullptr);
}

size_t CEventType::RemoveHandlers(CResource* pResource)
{
	return m_pOwner->GetHandlers().RemoveUnder(m_uiKey, pResource);
}

size_t CEventType::RemoveHandlersWithSource(CBaseObject* pSource, CResource* pResource)
{
	if (!pSource)
		return 0;
	return m_pOwner->GetHandlers().RemoveIf(m_uiKey, [pSource, pResource](CEventHandler* pHandler) {
		return pHandler->IsBound() && pHandler->GetSource() == pSource &&
			(!pResource || pHandler->GetResource() == pResource);
	});
}

size_t CEventType::GetHandlerCount() const
{
	const CEventHandlers::tHandlers::tList* pHandlers = m_pOwner->GetHandlers().Find(m_uiKey);
	return pHandlers ? pHandlers->size() : 0;
}

std::vector<CEventHandler*> CEventType::GetHandlers() const
{
	const CEventHandlers::tHandlers::tList* pHandlers = m_pOwner->GetHandlers().Find(m_uiKey);
	return pHandlers ? *pHandlers : std::vector<CEventHandler*>();
}

CEventHandlers::CEventHandlers(CResourceMgr* pOwner) :
	m_pOwner(pOwner),
	m_pEventClass(nullptr),
	m_pCancellableEventClass(nullptr)
{
}

CEventHandlers::~CEventHandlers()
{
	RemoveAllHandlers();
	for (auto& Entry : m_EventTypes)
		delete Entry.second;
	m_EventTypes.clear();
}

CEventType* CEventHandlers::CreateEventType(const char* szName, const char* szDescription, int32_t iArgumentCount,
	bool bCanPreventDefault)
{
	const uint32_t uiKey = GetNameKey(szName);
	if (m_EventTypes.find(uiKey) != m_EventTypes.end())
		return nullptr;
	CEventType* pType = new CEventType(this, szName, szDescription, iArgumentCount, bCanPreventDefault);
	m_EventTypes[uiKey] = pType;
	return pType;
}

CEventType* CEventHandlers::GetEventType(const char* szName) const
{
	auto it = m_EventTypes.find(GetNameKey(szName));
	return it == m_EventTypes.end() ? nullptr : it->second;
}

// Type by type, each type's handlers marked and retired before the next type's are walked.
template <class TRemove>
size_t CEventHandlers::RemoveFromEveryType(TRemove Remove)
{
	size_t Count = 0;
	for (auto& Entry : m_EventTypes)
		Count += Remove(Entry.second);
	return Count;
}

size_t CEventHandlers::RemoveGoingWith(CResource* pResource)
{
	return m_Handlers.RemoveGoingWith(pResource);
}

size_t CEventHandlers::RemoveHandlersWithSource(CBaseObject* pSource, CResource* pResource)
{
	return RemoveFromEveryType(
		[pSource, pResource](CEventType* pType) { return pType->RemoveHandlersWithSource(pSource, pResource); });
}

size_t CEventHandlers::RemoveAllHandlers()
{
	return RemoveFromEveryType([](CEventType* pType) { return pType->RemoveHandlers(); });
}

// The event's name (argument 0) and its source object (argument 1), null when the object no longer resolves. False
// after the check that failed reported why.
static bool CheckNameAndSource(CNativeState* pState, const char*& szName, CBaseObject*& pSource)
{
	szName = pState->CheckString(0, nullptr);
	if (!szName)
		return false;
	pSource = pState->CheckReferenceable(1);
	return pSource || !pState->m_bHasError;
}

// Appends a handler of the calling resource, bound to pSource when it is not null; the native's answer is true.
static bool AddScriptHandler(CNativeState* pState, CEventHandlers* pHandlers, CEventType* pType, CFunction* pFunction,
	CBaseObject* pSource)
{
	pType->AddHandler(new CScriptEventHandler(pHandlers, pFunction, pSource, pState->GetResource()));
	pState->ReturnBoolean(true);
	return true;
}

static bool FunctionAddEvent(CNativeState* pState, int argc, void* pUserData)
{
	CEventHandlers* pHandlers = static_cast<CEventHandlers*>(pUserData);
	const char* szName = pState->CheckString(0, nullptr);
	if (!szName)
		return false;
	int32_t iArgumentCount = -1;
	if (argc > 1 && !pState->CheckNumber(1, iArgumentCount))
		return false;
	if (pHandlers->GetEventType(szName))
	{
		pState->ReturnBoolean(true);
		return true;
	}
	pState->ReturnBoolean(pHandlers->CreateEventType(szName, nullptr, iArgumentCount, true) != nullptr);
	return true;
}

static bool FunctionAddEventHandler(CNativeState* pState, int, void* pUserData)
{
	CEventHandlers* pHandlers = static_cast<CEventHandlers*>(pUserData);
	const char* szName = nullptr;
	CFunction* pFunction = nullptr;
	if (!CheckNameAndFunction(pState, szName, pFunction))
		return false;
	CEventType* pType = pHandlers->GetEventType(szName);
	if (!pType)
	{
		if (Context* pContext = KGlobal::GetContext())
			pContext->LogWarn("AddEventHandler: Event '%s' doesn't exist", szName);
		pState->ReturnBoolean(false);
		return true;
	}
	return AddScriptHandler(pState, pHandlers, pType, pFunction, nullptr);
}

static bool FunctionRemoveEventHandler(CNativeState* pState, int, void* pUserData)
{
	CEventHandlers* pHandlers = static_cast<CEventHandlers*>(pUserData);
	const char* szName = pState->CheckString(0, nullptr);
	if (!szName)
		return false;
	CEventType* pType = pHandlers->GetEventType(szName);
	pState->ReturnBoolean(pType && pType->RemoveHandlers(pState->GetResource()) > 0);
	return true;
}

static bool FunctionBindEventHandler(CNativeState* pState, int, void* pUserData)
{
	CEventHandlers* pHandlers = static_cast<CEventHandlers*>(pUserData);
	const char* szName = nullptr;
	CBaseObject* pSource = nullptr;
	if (!CheckNameAndSource(pState, szName, pSource))
		return false;
	CFunction* pFunction = pState->CheckFunction(2);
	if (!pFunction)
		return false;
	CEventType* pType = pHandlers->GetEventType(szName);
	if (!pType)
		return pState->Error("Event '%s' doesn't exist", szName);
	if (pType->GetSourceArgument() == -1)
		return pState->Error("Event '%s' is not bindable", szName);
	// An element that no longer resolves has no object; bound to nothing, the handler would run for every source.
	if (!pSource)
	{
		pState->ReturnBoolean(false);
		return true;
	}
	return AddScriptHandler(pState, pHandlers, pType, pFunction, pSource);
}

static bool FunctionUnbindEventHandler(CNativeState* pState, int, void* pUserData)
{
	CEventHandlers* pHandlers = static_cast<CEventHandlers*>(pUserData);
	const char* szName = nullptr;
	CBaseObject* pSource = nullptr;
	if (!CheckNameAndSource(pState, szName, pSource))
		return false;
	CEventType* pType = pHandlers->GetEventType(szName);
	pState->ReturnBoolean(pType && pType->RemoveHandlersWithSource(pSource, pState->GetResource()) > 0);
	return true;
}

static bool FunctionTriggerEvent(CNativeState* pState, int argc, void* pUserData)
{
	CEventHandlers* pHandlers = static_cast<CEventHandlers*>(pUserData);
	const char* szName = pState->CheckString(0, nullptr);
	if (!szName)
		return false;
	// The source argument only has to be an object or nothing; it takes no further part.
	if (argc > 1)
	{
		CArgument* pSource = pState->GetArgument(1);
		if (pSource && !pSource->IsNull() && !pState->CheckReferenceable(1) && pState->m_bHasError)
			return false;
	}
	CEventType* pType = pHandlers->GetEventType(szName);
	if (!pType)
		return pState->Error("Event '%s' doesn't exist", szName);
	CArgumentArray Arguments;
	for (size_t i = 2; i < static_cast<size_t>(argc < 0 ? 0 : argc); i++)
	{
		CArgument* pArgument = pState->GetArgument(i);
		if (pArgument)
			Arguments.Add(pArgument);
	}
	bool bDefaultPrevented = false;
	pType->Trigger(Arguments, bDefaultPrevented);
	pState->ReturnBoolean(bDefaultPrevented);
	return true;
}

static bool FunctionPreventDefault(CNativeState* pState, int, void* pUserData)
{
	CEventHandlers* pHandlers = static_cast<CEventHandlers*>(pUserData);
	CCancellableEvent* pEvent = nullptr;
	if (!pState->GetThis(pHandlers->GetCancellableEventClass(), &pEvent))
		return false;
	pEvent->PreventDefault();
	return true;
}

static bool FunctionIsDefaultPrevented(CNativeState* pState, int, void* pUserData)
{
	CEventHandlers* pHandlers = static_cast<CEventHandlers*>(pUserData);
	CCancellableEvent* pEvent = nullptr;
	if (!pState->GetThis(pHandlers->GetCancellableEventClass(), &pEvent))
		return false;
	pState->ReturnBoolean(pEvent->IsDefaultPrevented());
	return true;
}

void CEventHandlers::RegisterFunctions(CScripting* pScripting)
{
	ReflectedNamespace* pGlobal = pScripting->GetGlobal();
	pGlobal->RegisterFunction("addEvent", "s|i", FunctionAddEvent, this);
	pGlobal->RegisterFunction("addEventHandler", "sc", FunctionAddEventHandler, this);
	pGlobal->RegisterFunction("removeEventHandler", "s", FunctionRemoveEventHandler, this);
	pGlobal->RegisterFunction("bindEventHandler", "sxc", FunctionBindEventHandler, this);
	pGlobal->RegisterFunction("unbindEventHandler", "sx", FunctionUnbindEventHandler, this);
	pGlobal->RegisterFunction("triggerEvent", "s|x*", FunctionTriggerEvent, this);

	m_pEventClass = pGlobal->NewClass("Event");
	m_pCancellableEventClass = pGlobal->NewClass("CancellableEvent", m_pEventClass);
	m_pCancellableEventClass->RegisterFunction("preventDefault", "t", FunctionPreventDefault, this);
	m_pCancellableEventClass->RegisterFunction("isDefaultPrevented", "t", FunctionIsDefaultPrevented, this);
}
}
