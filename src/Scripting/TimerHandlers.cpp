#include "Scripting/TimerHandlers.h"

#include <utility>

#include "Scripting/Resource.h"
#include "Scripting/ResourceMgr.h"

namespace TimerHandlers
{
CScriptTimer::CScriptTimer(CTimerHandlers* pOwner, ReflectedClass* pClass, CResource* pResource,
	CFunction* pFunction, double dInterval, int32_t iRunsLeft) :
	m_pOwner(pOwner),
	m_pResource(pResource),
	m_iSlot(-1),
	m_dInterval(dInterval),
	m_dElapsed(0.0),
	m_iRunsLeft(iRunsLeft),
	m_pFunction(pFunction)
{
	SetReflectedClass(pClass);
}

void CScriptTimer::Update(double dFrameDelta)
{
	m_dElapsed += dFrameDelta;
	if (m_dElapsed < m_dInterval)
		return;
	// The call may clear this timer or stop its resource. The timer then lets go of its function and arguments,
	// which may free the last script value that holds the timer: the timer, the function and the arguments of
	// this call all stay alive until the step is over.
	Strong<CScriptTimer> pHold(this);
	Strong<CFunction> pFunction = m_pFunction;
	CArgumentArray Arguments;
	m_Arguments.Move(&Arguments);
	if (!pFunction.IsNull())
		pFunction->Call(Arguments, nullptr);
	if (m_pOwner->Contains(this))
		Arguments.Move(&m_Arguments);
	m_dElapsed = 0.0;
	if (m_iRunsLeft > 0)
	{
		m_iRunsLeft--;
		if (m_iRunsLeft == 0)
			m_pOwner->RemoveTimer(this);
	}
}

void CScriptTimer::LetGo()
{
	// Through locals, so that nothing of the timer is touched once they go: they may hold the last reference to
	// it (a closure that holds the timer's own script object).
	Strong<CFunction> pFunction = std::move(m_pFunction);
	CArgumentArray Arguments;
	m_Arguments.Move(&Arguments);
}

CTimerHandlers::CTimerHandlers(CResourceMgr* pOwner) :
	m_pOwner(pOwner),
	m_Table(TIMER_TABLE_SIZE),
	m_pTimerClass(nullptr)
{
}

CTimerHandlers::~CTimerHandlers()
{
	RemoveTimers();
}

CScriptTimer* CTimerHandlers::GetTimerAt(size_t Slot) const
{
	return m_Table.IsUsedAt(Slot) ? m_Table.GetAt(Slot) : nullptr;
}

bool CTimerHandlers::AddTimer(CScriptTimer* pTimer)
{
	size_t Slot = 0;
	if (!pTimer || !m_Table.Add(pTimer, &Slot))
		return false;
	pTimer->m_iSlot = static_cast<int32_t>(Slot);
	pTimer->AddRef();
	return true;
}

void CTimerHandlers::Update(double dFrameDelta)
{
	// A timer that runs out or is cleared during its own call stays alive until the pass ends.
	CDispatchScope<CDeferredRemoval<CScriptTimer, CReleaseRetired>> Dispatch(m_Removal);
	for (size_t Slot = m_Table.NextUsedFrom(0); Slot < m_Table.GetSize(); Slot = m_Table.NextUsedFrom(Slot + 1))
		m_Table.GetAt(Slot)->Update(dFrameDelta);
}

bool CTimerHandlers::Contains(const CScriptTimer* pTimer) const
{
	if (!pTimer || pTimer->m_iSlot < 0)
		return false;
	const size_t Slot = static_cast<size_t>(pTimer->m_iSlot);
	return m_Table.IsUsedAt(Slot) && m_Table.GetAt(Slot) == pTimer;
}

bool CTimerHandlers::RemoveTimer(CScriptTimer* pTimer)
{
	if (!Contains(pTimer))
		return false;
	m_Table.RemoveAt(static_cast<size_t>(pTimer->m_iSlot));
	m_Removal.Retire(pTimer);
	return true;
}

template <class TPredicate>
size_t CTimerHandlers::RemoveTimersIf(TPredicate Predicate)
{
	size_t Count = 0;
	for (size_t Slot = m_Table.NextUsedFrom(0); Slot < m_Table.GetSize(); Slot = m_Table.NextUsedFrom(Slot + 1))
	{
		CScriptTimer* pTimer = m_Table.GetAt(Slot);
		if (Predicate(pTimer) && RemoveTimer(pTimer))
			Count++;
	}
	return Count;
}

size_t CTimerHandlers::RemoveTimers(CResource* pResource)
{
	return RemoveTimersIf(
		[pResource](CScriptTimer* pTimer) { return !pResource || pTimer->GetResource() == pResource; });
}

size_t CTimerHandlers::RemoveGoingWith(CResource* pResource)
{
	return RemoveTimersIf([pResource](CScriptTimer* pTimer) {
		return CFunction::GoesWithResource(pTimer->GetResource(), pTimer->m_pFunction, pResource);
	});
}

size_t CTimerHandlers::RemoveTimers()
{
	size_t Count = RemoveTimers(nullptr);
	m_Table.Clear();
	return Count;
}

// setTimeout, setInterval and setImmediate differ only in where the delay comes from and how often they run.
static bool FunctionSetTimer(CNativeState* pState, int argc, CTimerHandlers* pTimers, bool bHasDelay,
	int32_t iRuns)
{
	CFunction* pFunction = pState->CheckFunction(0);
	if (!pFunction)
		return false;
	uint32_t uiDelay = 0;
	if (bHasDelay && !pState->CheckNumber(1, uiDelay))
		return false;

	Strong<CScriptTimer> pTimer = Strong<CScriptTimer>::New(new CScriptTimer(pTimers, pTimers->GetTimerClass(),
		pState->GetResource(), pFunction, uiDelay / 1000.0, iRuns));
	if (!pTimers->AddTimer(pTimer))
	{
		pState->ReturnNull();
		return true;
	}
	const size_t First = bHasDelay ? 2 : 1;
	for (size_t i = First; i < static_cast<size_t>(argc < 0 ? 0 : argc); i++)
	{
		if (CArgument* pArgument = pState->GetArgument(i))
			pTimer->GetArguments().Add(pArgument);
	}
	pState->ReturnObject(pTimer);
	return true;
}

static bool FunctionSetTimeout(CNativeState* pState, int argc, void* pUserData)
{
	return FunctionSetTimer(pState, argc, static_cast<CTimerHandlers*>(pUserData), true, 1);
}

static bool FunctionSetInterval(CNativeState* pState, int argc, void* pUserData)
{
	return FunctionSetTimer(pState, argc, static_cast<CTimerHandlers*>(pUserData), true, 0);
}

static bool FunctionSetImmediate(CNativeState* pState, int argc, void* pUserData)
{
	return FunctionSetTimer(pState, argc, static_cast<CTimerHandlers*>(pUserData), false, 1);
}

static bool FunctionClearTimer(CNativeState* pState, int, void* pUserData)
{
	CTimerHandlers* pTimers = static_cast<CTimerHandlers*>(pUserData);
	CScriptTimer* pTimer = nullptr;
	if (!pState->CheckClass(pTimers->GetTimerClass(), 0, false, &pTimer))
		return false;
	pState->ReturnBoolean(pTimers->RemoveTimer(pTimer));
	return true;
}

void CTimerHandlers::RegisterFunctions(CScripting* pScripting)
{
	ReflectedNamespace* pGlobal = pScripting->GetGlobal();
	m_pTimerClass = pGlobal->NewClass("Timer");
	pGlobal->RegisterFunction("setTimeout", "ci*", FunctionSetTimeout, this);
	pGlobal->RegisterFunction("setInterval", "ci*", FunctionSetInterval, this);
	pGlobal->RegisterFunction("setImmediate", "c*", FunctionSetImmediate, this);
	pGlobal->RegisterFunction("clearTimeout", "x", FunctionClearTimer, this);
	pGlobal->RegisterFunction("clearInterval", "x", FunctionClearTimer, this);
	pGlobal->RegisterFunction("clearImmediate", "x", FunctionClearTimer, this);
}
}
