#pragma once
// Script timers. They follow the server's frame clock, not the wall clock: once a pass the resource manager
// advances every timer by the frame delta and calls those that are due. All timers share one table of 4096 slots.

#include <cstddef>
#include <cstdint>

#include "Engine/KestrinArray.h"
#include "Engine/KestrinNative.h"
#include "Scripting/DeferredRemoval.h"

class CResource;
class CResourceMgr;

namespace TimerHandlers
{
class CTimerHandlers;

constexpr size_t TIMER_TABLE_SIZE = 4096;

class CScriptTimer : public CBaseObject
{
public:
	// iRunsLeft 0 runs without limit.
	CScriptTimer(CTimerHandlers* pOwner, ReflectedClass* pClass, CResource* pResource, CFunction* pFunction,
		double dInterval, int32_t iRunsLeft);

	// Advances by the frame delta and calls the function when due; a timer fires at most once per call.
	void Update(double dFrameDelta);
	// Drops the function and the extra arguments: the timer has left the table and can never call them again,
	// while a script may hold the timer's object for long after (the timer's own callback does, through its
	// closure, and would otherwise keep itself alive for good).
	void LetGo();

	CResource* GetResource() const { return m_pResource; }
	int32_t GetSlot() const { return m_iSlot; }
	double GetInterval() const { return m_dInterval; }
	int32_t GetRunsLeft() const { return m_iRunsLeft; }
	CArgumentArray& GetArguments() { return m_Arguments; }

	CTimerHandlers* m_pOwner;
	// Not owned: the resource of the call that made the timer.
	CResource* m_pResource;
	// Kept after removal, so a stale timer never matches the newer timer that took its slot.
	int32_t m_iSlot;
	double m_dInterval;
	double m_dElapsed;
	int32_t m_iRunsLeft;
	CArgumentArray m_Arguments;
	Strong<CFunction> m_pFunction;
};

class CTimerHandlers
{
public:
	explicit CTimerHandlers(CResourceMgr* pOwner);
	// Removes every timer.
	~CTimerHandlers();

	CTimerHandlers(const CTimerHandlers&) = delete;
	CTimerHandlers& operator=(const CTimerHandlers&) = delete;

	// Puts the timer in the lowest free slot, the table taking a reference of its own; false when all slots are in
	// use.
	bool AddTimer(CScriptTimer* pTimer);
	// Visits the used slots in increasing order, so a timer made during the pass in a later slot runs in the same
	// pass and one in an earlier slot on the next.
	void Update(double dFrameDelta);
	// Whether the timer is in the table: not run out, not cleared (its slot may hold a newer timer).
	bool Contains(const CScriptTimer* pTimer) const;
	// False for a timer that is not in the table. The timer lets go of its function and arguments at once.
	bool RemoveTimer(CScriptTimer* pTimer);
	// Null removes every timer.
	size_t RemoveTimers(CResource* pResource);
	size_t RemoveTimers();
	// The timers that go when the resource stops (CFunction::GoesWithResource): those it set, and those that call its
	// code, or code of an instance that has stopped, whoever set them.
	size_t RemoveGoingWith(CResource* pResource);

	// The class "Timer" and the functions of the global namespace.
	void RegisterFunctions(CScripting* pScripting);

	CResourceMgr* GetOwner() const { return m_pOwner; }
	ReflectedClass* GetTimerClass() const { return m_pTimerClass; }
	size_t GetCount() const { return m_Table.GetCount(); }
	CScriptTimer* GetTimerAt(size_t Slot) const;

	CResourceMgr* m_pOwner;
	Array<CScriptTimer*> m_Table;
	ReflectedClass* m_pTimerClass;

private:
	// Every timer the predicate picks; the number removed.
	template <class TPredicate>
	size_t RemoveTimersIf(TPredicate Predicate);

	CDeferredRemoval<CScriptTimer, CReleaseRetired> m_Removal;
};
}
