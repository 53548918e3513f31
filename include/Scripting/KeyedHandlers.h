#pragma once
// What the handler registries (commands, events, network events, key binds) share: the key of a name, the call of a
// script handler's function, the first checks of the natives that add one, and the handlers themselves, kept in
// lists under their key and taken out by the deferred-removal rule.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "Engine/KestrinNative.h"
#include "Scripting/DeferredRemoval.h"

class CResource;

// The key of a name in the registries that compare names without regard to case: the CRC-32 of its bytes
// lower-cased. A null name has the key of the empty one.
uint32_t GetNameKey(const char* szName);

// Calls a script handler's function with the arguments as they are. The function is held for the call: the call may
// take out the very handler that holds it, which lets go of it at once. Nothing happens once the handler has let go;
// the result and any failure are the language's affair.
void CallHandlerFunction(const Strong<CFunction>& pFunction, const CArgumentArray& Arguments);
// The same with a copy of every argument, after pFirst (the null value for null) when bWithFirst: the call of a
// handler of an event, whose handlers differ only in what comes first.
void CallHandlerFunction(const Strong<CFunction>& pFunction, bool bWithFirst, CBaseObject* pFirst,
	const CArgumentArray& Arguments);

// The arguments the natives that add a handler start with: the name (argument 0) and the function to call
// (argument 1). False after the check that failed reported why.
bool CheckNameAndFunction(CNativeState* pState, const char*& szName, CFunction*& pFunction);

// Handlers in lists under their key, each list in the order its handlers run; a list left empty goes with its key.
// The registry owns the handlers: one taken out is unlinked at once and freed (by TFree) when the outermost dispatch
// ends. T has the fields m_bRemoved (set once it is taken out) and m_pResource (the resource that added it, or null),
// and GetFunction (the script function it calls, or null).
template <class TKey, class T, class TFree = std::default_delete<T>>
class CKeyedHandlers
{
public:
	typedef std::vector<T*> tList;
	typedef std::unordered_map<TKey, tList> tLists;
	typedef CDeferredRemoval<T, TFree> tRemoval;

	CKeyedHandlers() = default;
	~CKeyedHandlers() { RemoveAll(); }

	CKeyedHandlers(const CKeyedHandlers&) = delete;
	CKeyedHandlers& operator=(const CKeyedHandlers&) = delete;

	// Takes ownership; the handler runs after those already under the key.
	void AddLast(const TKey& Key, T* pHandler) { m_Lists[Key].push_back(pHandler); }
	// Takes ownership; the handler runs before those already under the key.
	void AddFirst(const TKey& Key, T* pHandler)
	{
		tList& List = m_Lists[Key];
		List.insert(List.begin(), pHandler);
	}

	// The handlers under the key in the order they run; null when there are none.
	const tList* Find(const TKey& Key) const
	{
		auto it = m_Lists.find(Key);
		return it == m_Lists.end() ? nullptr : &it->second;
	}
	// The first to run of the handlers under the key, or null.
	T* FindFirst(const TKey& Key) const
	{
		const tList* pList = Find(Key);
		return pList && !pList->empty() ? pList->front() : nullptr;
	}

	// Takes out every handler the predicate picks, whatever its key; the number taken out.
	template <class TPredicate>
	size_t RemoveIf(TPredicate Predicate)
	{
		std::vector<T*> Removed;
		for (auto it = m_Lists.begin(); it != m_Lists.end();)
		{
			UnlinkIf(it->second, Predicate, Removed);
			if (it->second.empty())
				it = m_Lists.erase(it);
			else
				++it;
		}
		return RetireAll(Removed, m_Removal);
	}
	// The same among the handlers under one key.
	template <class TPredicate>
	size_t RemoveIf(const TKey& Key, TPredicate Predicate)
	{
		auto it = m_Lists.find(Key);
		if (it == m_Lists.end())
			return 0;
		std::vector<T*> Removed;
		UnlinkIf(it->second, Predicate, Removed);
		if (it->second.empty())
			m_Lists.erase(it);
		return RetireAll(Removed, m_Removal);
	}
	// The handlers under the key that pResource added; with null, every handler under it.
	size_t RemoveUnder(const TKey& Key, CResource* pResource)
	{
		return RemoveIf(Key, [pResource](T* pHandler) { return !pResource || pHandler->m_pResource == pResource; });
	}
	// Every handler that pResource added, whatever its key; with null, those that no resource added.
	size_t RemoveOwnedBy(CResource* pResource)
	{
		return RemoveIf([pResource](T* pHandler) { return pHandler->m_pResource == pResource; });
	}
	// Every handler that goes when pResource stops (CFunction::GoesWithResource): those it added, and those that call
	// its code, or code of an instance that has stopped, whoever added them.
	size_t RemoveGoingWith(CResource* pResource)
	{
		return RemoveIf([pResource](T* pHandler) {
			return CFunction::GoesWithResource(pHandler->m_pResource, pHandler->GetFunction(), pResource);
		});
	}
	size_t RemoveAll()
	{
		return RemoveIf([](T*) { return true; });
	}

	// Calls Run(pHandler) for each handler that was under the key when the dispatch began, in order, skipping those
	// taken out since; Run tells whether it ran the handler. A handler added meanwhile waits for the next dispatch.
	// True when Run ran at least one.
	template <class TRun>
	bool Dispatch(const TKey& Key, TRun Run)
	{
		const tList* pList = Find(Key);
		if (!pList)
			return false;
		// Handlers taken out stay allocated until the outermost dispatch ends, so the copy stays safe to walk.
		const tList Handlers = *pList;
		CDispatchScope<tRemoval> Scope(m_Removal);
		bool bRan = false;
		for (T* pHandler : Handlers)
		{
			if (!pHandler->m_bRemoved && Run(pHandler))
				bRan = true;
		}
		return bRan;
	}

	size_t GetCount() const
	{
		size_t Count = 0;
		for (const auto& Entry : m_Lists)
			Count += Entry.second.size();
		return Count;
	}
	const tLists& GetLists() const { return m_Lists; }
	// For a registry that runs a handler outside Dispatch, or retires one it keeps outside the lists.
	tRemoval& GetRemoval() { return m_Removal; }
	// The number of dispatches in progress.
	int32_t GetDepth() const { return m_Removal.GetDepth(); }

private:
	tLists m_Lists;
	tRemoval m_Removal;
};
