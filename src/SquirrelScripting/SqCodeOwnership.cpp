// Which environment's code a Squirrel closure is, and the base functions replaced so that the answer holds: the
// ones that change a root table, the ones that call a function on behalf of the code that calls them, and newthread.
//
// A closure belongs to the environment whose root table it was made with, and keeps that table only weakly. So
// every table code makes a root table is held by the environment of that code while it runs: a root table that
// went can then only have been one of an environment that has ended.

#include <iterator>
#include <new>

#include <squirrel.h>

#include "Engine/KestrinNative.h"
#include "SquirrelScripting/SqScripting.h"
#include "SquirrelScripting/SquirrelUtil.h"

using SquirrelUtil::RunGuarded;

namespace
{
// The stack a thread gets for a native closure: the least the library gives a thread for a function. The thread's
// call reserves room for the arguments, and a native's own frame gets the free slots every frame has.
constexpr SQInteger NATIVE_THREAD_STACK = 12;

// What the code that called the running native is: see CSqScripting::FindCallingCode.
uintptr_t CallingCode(HSQUIRRELVM v)
{
	return CSqScripting::FromVM(v)->FindCallingCode(v);
}

// setroottable(table): the thread's root table becomes the table; returns the one it replaces. A null root table
// is refused: the next closure the thread made would crash the VM.
SQInteger SetRootTableFunction(HSQUIRRELVM v)
{
	return RunGuarded(v, [v] {
		if (sq_gettype(v, 2) == OT_NULL)
			return sq_throwerror(v, "the root table must be a table");
		if (sq_gettype(v, 2) == OT_TABLE)
			CSqScripting::FromVM(v)->ClaimRoot(v, 2);
		sq_pushroottable(v);
		sq_push(v, 2);
		if (SQ_FAILED(sq_setroottable(v)))
			return SQInteger(SQ_ERROR);
		return SQInteger(1);
	});
}

// closure.setroot(table): the closure's root table becomes the table; returns the closure.
SQInteger SetClosureRootFunction(HSQUIRRELVM v)
{
	return RunGuarded(v, [v] {
		CSqScripting::FromVM(v)->ClaimRoot(v, 2);
		if (SQ_FAILED(sq_setclosureroot(v, 1)))
			return SQInteger(SQ_ERROR);
		return SQInteger(1);
	});
}

// function.call(this, ...) and function.pcall(this, ...): the function at 1 with the rest as its parameters; pcall
// does not run the error handler.
template <SQBool bRaiseError>
SQInteger CallForwarder(HSQUIRRELVM v)
{
	CSqScripting::CCallNote Note(CSqScripting::FromVM(v), CallingCode(v), v);
	return SQ_SUCCEEDED(sq_call(v, sq_gettop(v) - 1, SQTrue, bRaiseError)) ? 1 : SQ_ERROR;
}

// function.acall(array) and function.pacall(array): the array's elements are the parameters, this first.
template <SQBool bRaiseError>
SQInteger ArrayCallForwarder(HSQUIRRELVM v)
{
	const SQInteger iCount = sq_getsize(v, 2);
	if (SQ_FAILED(sq_reservestack(v, iCount + 1)))
		return SQ_ERROR;
	sq_push(v, 1);
	for (SQInteger i = 0; i < iCount; i++)
	{
		sq_pushinteger(v, i);
		sq_rawget(v, 2);
	}
	CSqScripting::CCallNote Note(CSqScripting::FromVM(v), CallingCode(v), v);
	return SQ_SUCCEEDED(sq_call(v, iCount, SQTrue, bRaiseError)) ? 1 : SQ_ERROR;
}

// thread.call(...): the thread's function with the thread's root table as this and the parameters given. The
// thread's stack makes room for them first: it is only as large as its function needs.
SQInteger ThreadCallForwarder(HSQUIRRELVM v)
{
	HSQUIRRELVM pThread = nullptr;
	if (SQ_FAILED(sq_getthread(v, 1, &pThread)))
		return sq_throwerror(v, "wrong parameter");
	const SQInteger iCount = sq_gettop(v);
	bool bCalled = SQ_SUCCEEDED(sq_reservestack(pThread, iCount + 1));
	if (bCalled)
	{
		sq_pushroottable(pThread);
		for (SQInteger i = 2; i <= iCount; i++)
			sq_move(pThread, v, i);
		CSqScripting::CCallNote Note(CSqScripting::FromVM(v), CallingCode(v), pThread);
		bCalled = SQ_SUCCEEDED(sq_call(pThread, iCount, SQTrue, SQTrue));
	}
	// The result, or the thread's error raised again in the caller.
	if (!bCalled)
		sq_getlasterror(pThread);
	sq_move(v, pThread, -1);
	sq_pop(pThread, 1);
	return bCalled ? 1 : sq_throwobject(v);
}

// newthread(function): the library's own for a Squirrel function (its free variable), which sizes the thread's
// stack by what the function needs; the library would read that from a native closure as well, which has no such
// size.
SQInteger NewThreadFunction(HSQUIRRELVM v)
{
	return RunGuarded(v, [v] {
		if (sq_gettype(v, 2) == OT_NATIVECLOSURE)
		{
			HSQUIRRELVM pThread = sq_newthread(v, NATIVE_THREAD_STACK);
			if (!pThread)
				return sq_throwerror(v, SquirrelUtil::OUT_OF_MEMORY);
			sq_move(pThread, v, 2);
			return SQInteger(1);
		}
		sq_push(v, 3);
		sq_push(v, 1);
		sq_push(v, 2);
		return SQ_SUCCEEDED(sq_call(v, 2, SQTrue, SQFalse)) ? SQInteger(1) : SQInteger(SQ_ERROR);
	});
}
}

bool CSqScripting::ReplaceFunction(HSQUIRRELVM v, const char* szName, SQFUNCTION pfnFunction, SQInteger iParameters,
	const char* szMask, bool bForwarder, bool bKeepOriginal)
{
	// The table is on top of the stack.
	sq_pushstring(v, szName, -1);
	if (SQ_FAILED(sq_rawget(v, -2)))
		return false;
	if (!bKeepOriginal)
		sq_pop(v, 1);
	sq_newclosure(v, pfnFunction, bKeepOriginal ? 1 : 0);
	sq_setnativeclosurename(v, -1, szName);
	sq_setparamscheck(v, iParameters, szMask);
	if (bForwarder)
	{
		m_Forwarders.emplace_back();
		m_Forwarders.back().Set(v, -1, m_pVMHandle);
	}
	SquirrelUtil::SetSlot(v, szName);
	return true;
}

bool CSqScripting::ReplaceBaseFunctions()
{
	HSQUIRRELVM v = m_pVM;
	const SQInteger iTop = sq_gettop(v);
	m_Forwarders.reserve(5);
	sq_pushroottable(v);
	bool bResult = ReplaceFunction(v, "setroottable", SetRootTableFunction, 2, nullptr, false, false) &&
		ReplaceFunction(v, "newthread", NewThreadFunction, 2, ".c", false, true);
	sq_settop(v, iTop);
	// Closures and native closures share one default delegate.
	bResult = bResult && SQ_SUCCEEDED(sq_getdefaultdelegate(v, OT_CLOSURE)) &&
		ReplaceFunction(v, "setroot", SetClosureRootFunction, 2, "ct", false, false) &&
		ReplaceFunction(v, "call", CallForwarder<SQTrue>, -1, "c", true, false) &&
		ReplaceFunction(v, "pcall", CallForwarder<SQFalse>, -1, "c", true, false) &&
		ReplaceFunction(v, "acall", ArrayCallForwarder<SQTrue>, 2, "ca", true, false) &&
		ReplaceFunction(v, "pacall", ArrayCallForwarder<SQFalse>, 2, "ca", true, false);
	sq_settop(v, iTop);
	bResult = bResult && SQ_SUCCEEDED(sq_getdefaultdelegate(v, OT_THREAD)) &&
		ReplaceFunction(v, "call", ThreadCallForwarder, -1, "v", true, false);
	sq_settop(v, iTop);
	return bResult;
}

bool CSqScripting::IsForwarder(const HSQOBJECT& Closure) const
{
	for (const tSquirrelStrongReference& Forwarder : m_Forwarders)
	{
		if (Forwarder.GetObject()._unVal.pNativeClosure == Closure._unVal.pNativeClosure)
			return true;
	}
	return false;
}

uintptr_t CSqScripting::FindCallingCode(void* pCallStack)
{
	// The closure that called the native running on the VM.
	HSQUIRRELVM v = static_cast<HSQUIRRELVM>(pCallStack);
	if (!v)
		return 0;
	// The innermost forwarder running on this thread is the one that called the native: any that started later
	// has returned, or the native would run inside it. A native at the bottom of a thread was called by whatever
	// started the thread: a thread's call forwarder.
	const CCallNote* pNote = m_pCallNote;
	while (pNote && pNote->m_pThread != v)
		pNote = pNote->m_pPrevious;
	if (SQ_FAILED(sq_getcallee(v)))
		return pNote ? pNote->m_Code : 0;
	uintptr_t Handle;
	if (sq_gettype(v, -1) == OT_NATIVECLOSURE)
	{
		HSQOBJECT Callee;
		sq_getstackobj(v, -1, &Callee);
		Handle = pNote && IsForwarder(Callee) ? pNote->m_Code : 0;
	}
	else
		Handle = FindClosureCode(v, -1);
	sq_pop(v, 1);
	return Handle;
}

uintptr_t CSqScripting::FindClosureCode(HSQUIRRELVM v, SQInteger Index)
{
	if (sq_gettype(v, Index) != OT_CLOSURE || SQ_FAILED(sq_getclosureroot(v, Index)))
		return 0;
	HSQOBJECT Root;
	sq_getstackobj(v, -1, &Root);
	uintptr_t Handle = 0;
	// A closure keeps its root table weakly. Every table that code makes a root table is held by the environment
	// of that code while it runs (ClaimRoot), so only an environment that has ended lets go of one.
	if (sq_isnull(Root))
		Handle = CScriptEnvironment::GONE_HANDLE;
	else if (sq_istable(Root))
		Handle = FindRootOwner(v, Root);
	sq_pop(v, 1);
	return Handle;
}

uintptr_t CSqScripting::FindRootOwner(HSQUIRRELVM v, const HSQOBJECT& Table)
{
	for (CSqScriptEnvironment* pEnvironment : m_Environments)
	{
		if (pEnvironment->OwnsRootTable(Table))
			return pEnvironment->GetHandle();
	}
	if (!m_HeldRootOwners.empty())
	{
		auto it = m_HeldRootOwners.find(Table._unVal.pTable);
		if (it != m_HeldRootOwners.end())
			return it->second->GetHandle();
	}
	return IsEndedRoot(v, Table) ? CScriptEnvironment::GONE_HANDLE : 0;
}

void CSqScripting::ClaimRoot(HSQUIRRELVM v, SQInteger Index)
{
	HSQOBJECT Table;
	if (SQ_FAILED(sq_getstackobj(v, Index, &Table)) || !sq_istable(Table) || FindRootOwner(v, Table) != 0)
		return;
	const uintptr_t Code = FindCallingCode(v);
	CSqScriptEnvironment* pEnvironment = Code != 0 ? FindEnvironment(Code) : GetScriptEnvironment();
	if (pEnvironment && !pEnvironment->HasEnded())
	{
		pEnvironment->HoldRoot(v, Index);
		return;
	}
	// Code of an environment that has ended makes code of none that runs.
	if (Code != 0 || pEnvironment)
	{
		tSquirrelStrongReference Root;
		Root.Set(v, Index, m_pVMHandle);
		AddEndedRoot(Root);
	}
}

void CSqScripting::AddEndedRoot(const tSquirrelStrongReference& Root)
{
	if (!m_pVM || !Root.IsAlive())
		return;
	// Drops the entries whose table has gone meanwhile, so that the list stays as long as the ended roots alive.
	IsEndedRoot(m_pVM, Root.GetObject());
	RememberEndedRoot(Root);
}

void CSqScripting::RememberEndedRoot(const tSquirrelStrongReference& Root)
{
	if (!m_pVM || !Root.IsAlive())
		return;
	Root.Push(m_pVM);
	sq_weakref(m_pVM, -1);
	m_EndedRoots.emplace_back();
	m_EndedRoots.back().Set(m_pVM, -1, m_pVMHandle);
	sq_pop(m_pVM, 2);
}

bool CSqScripting::IsEndedRoot(HSQUIRRELVM v, const HSQOBJECT& Table)
{
	bool bEnded = false;
	for (auto it = m_EndedRoots.begin(); it != m_EndedRoots.end();)
	{
		it->Push(v);
		HSQOBJECT Root;
		sq_resetobject(&Root);
		if (SQ_SUCCEEDED(sq_getweakrefval(v, -1)))
		{
			sq_getstackobj(v, -1, &Root);
			sq_pop(v, 1);
		}
		sq_pop(v, 1);
		// A table that went can never be met again.
		if (!sq_istable(Root))
		{
			it = m_EndedRoots.erase(it);
			continue;
		}
		if (Root._unVal.pTable == Table._unVal.pTable)
			bEnded = true;
		++it;
	}
	return bEnded;
}

void CSqScriptEnvironment::HoldRoot(HSQUIRRELVM v, SQInteger Index)
{
	HSQOBJECT Table;
	sq_getstackobj(v, Index, &Table);
	// The list would otherwise keep every table a script ever made a root table, however short-lived: it is
	// pruned each time it has doubled.
	if (m_HeldRoots.size() >= 2 * m_PrunedCount + 8)
	{
		PruneHeldRoots();
		m_PrunedCount = m_HeldRoots.size();
	}
	auto Owner = m_pScripting->m_HeldRootOwners.emplace(Table._unVal.pTable, this);
	try
	{
		m_HeldRoots.emplace_back();
	}
	catch (...)
	{
		m_pScripting->m_HeldRootOwners.erase(Owner.first);
		throw;
	}
	m_HeldRoots.back().Set(v, Index, m_pScripting->m_pVMHandle);
}

void CSqScriptEnvironment::PruneHeldRoots()
{
	HSQUIRRELVM pVM = m_pScripting->m_pVM;
	std::list<tSquirrelStrongReference> Dropped;
	for (auto it = m_HeldRoots.begin(); it != m_HeldRoots.end();)
	{
		auto Next = std::next(it);
		HSQOBJECT Table = it->GetObject();
		// Nothing but this list holds the table ...
		if (sq_getvmrefcount(pVM, &Table) == 1)
		{
			// ... and no closure has it for its root: they all share the table's one weak reference, held here
			// only by the stack.
			sq_pushobject(pVM, Table);
			sq_weakref(pVM, -1);
			HSQOBJECT WeakReference;
			sq_getstackobj(pVM, -1, &WeakReference);
			const bool bUnused = sq_getvmrefcount(pVM, &WeakReference) == 1;
			sq_pop(pVM, 2);
			if (bUnused)
			{
				m_pScripting->m_HeldRootOwners.erase(Table._unVal.pTable);
				Dropped.splice(Dropped.end(), m_HeldRoots, it);
			}
		}
		it = Next;
	}
	// The tables go here, after the list is whole again: releasing one can release objects whose release hooks
	// reach back into the engine.
}

void CSqScriptEnvironment::ReleaseHeldRoots(bool bEnded)
{
	std::list<tSquirrelStrongReference> Held;
	Held.swap(m_HeldRoots);
	m_PrunedCount = 0;
	if (m_pScripting)
	{
		for (const tSquirrelStrongReference& Root : Held)
			m_pScripting->m_HeldRootOwners.erase(Root.GetObject()._unVal.pTable);
		if (bEnded && !Held.empty())
		{
			m_pScripting->IsEndedRoot(m_pScripting->m_pVM, Held.front().GetObject());
			for (const tSquirrelStrongReference& Root : Held)
				m_pScripting->RememberEndedRoot(Root);
		}
	}
}
