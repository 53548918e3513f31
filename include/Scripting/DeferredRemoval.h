#pragma once
// The removal rule shared by the event, command, network-event, timer and key-bind registries. A registry counts the dispatches
// in progress; an item taken out while one runs is unlinked at once (nothing finds or calls it again) but freed
// only when the outermost dispatch ends. A handler that removes itself, another handler, or its whole resource
// therefore never returns into freed memory.
//
// What an item holds for its calls (a script function, a timer's arguments) goes as soon as the item is taken out:
// every item has LetGo for that. A call in progress holds its own reference to the function it runs.

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "Engine/KAssert.h"

// Frees reference-counted items by dropping the registry's reference.
struct CReleaseRetired
{
	template <class T>
	void operator()(T* pItem) const
	{
		pItem->Release();
	}
};

template <class T, class TFree = std::default_delete<T>>
class CDeferredRemoval
{
public:
	CDeferredRemoval() : m_iIterating(0) {}
	~CDeferredRemoval()
	{
		KASSERT(m_iIterating == 0);
		FinishedIterating();
	}

	CDeferredRemoval(const CDeferredRemoval&) = delete;
	CDeferredRemoval& operator=(const CDeferredRemoval&) = delete;

	void BeginDispatch() { m_iIterating++; }
	void EndDispatch()
	{
		m_iIterating--;
		if (m_iIterating <= 0)
		{
			m_iIterating = 0;
			FinishedIterating();
		}
	}
	bool IsDispatching() const { return m_iIterating > 0; }
	int32_t GetDepth() const { return m_iIterating; }

	// The caller has already unlinked the item from its registry.
	void Retire(T* pItem)
	{
		pItem->LetGo();
		if (m_iIterating > 0)
			m_Retired.push_back(pItem);
		else
			TFree()(pItem);
	}

	// Frees everything retired so far. Freeing can release script values and so retire further items; the loop
	// takes those too.
	void FinishedIterating()
	{
		while (!m_Retired.empty())
		{
			std::vector<T*> Retired;
			Retired.swap(m_Retired);
			for (T* pItem : Retired)
				TFree()(pItem);
		}
	}

private:
	int32_t m_iIterating;
	std::vector<T*> m_Retired;
};

// Moves the items of the list that the predicate picks to the end of Removed; the others keep their order.
template <class T, class TPredicate>
void UnlinkIf(std::vector<T*>& List, TPredicate Predicate, std::vector<T*>& Removed)
{
	auto itKept = List.begin();
	for (T* pItem : List)
	{
		if (Predicate(pItem))
			Removed.push_back(pItem);
		else
			*itKept++ = pItem;
	}
	List.erase(itKept, List.end());
}

// Marks the unlinked items removed, so that a dispatch already holding one skips it, and retires them. Only once
// the registry is walked: freeing an item can run script code that removes more. The number retired.
template <class T, class TFree>
size_t RetireAll(const std::vector<T*>& Removed, CDeferredRemoval<T, TFree>& Removal)
{
	// All are marked before the first lets go of what it holds, which can set off further releases.
	for (T* pItem : Removed)
		pItem->m_bRemoved = true;
	for (T* pItem : Removed)
		Removal.Retire(pItem);
	return Removed.size();
}

// Marks one dispatch for as long as it is in scope.
template <class TRemoval>
class CDispatchScope
{
public:
	explicit CDispatchScope(TRemoval& Removal) : m_Removal(Removal) { m_Removal.BeginDispatch(); }
	~CDispatchScope() { m_Removal.EndDispatch(); }

	CDispatchScope(const CDispatchScope&) = delete;
	CDispatchScope& operator=(const CDispatchScope&) = delete;

private:
	TRemoval& m_Removal;
};
