#include "Engine/KestrinThreading.h"

CPumpedEventLoop::CPumpedEventLoop(FreeFunction pfnFree) :
	m_pfnFree(pfnFree)
{
}

CPumpedEventLoop::~CPumpedEventLoop()
{
	Clear();
}

void CPumpedEventLoop::Push(void* pItem)
{
	CLockable::CLock Lock(m_Lock);
	m_Incoming.push_back(pItem);
	m_Pending.Signal();
}

size_t CPumpedEventLoop::Count()
{
	// Taking new items only once the last batch is flushed keeps indices stable between Count and Flush.
	if (m_Taken.empty() && m_Pending.IsSignalled())
	{
		CLockable::CLock Lock(m_Lock);
		m_Taken.insert(m_Taken.end(), m_Incoming.begin(), m_Incoming.end());
		m_Incoming.clear();
		m_Pending.Reset();
	}
	return m_Taken.size();
}

void* CPumpedEventLoop::GetEvent(size_t Index) const
{
	if (Index >= m_Taken.size())
		return nullptr;
	return m_Taken[Index];
}

void CPumpedEventLoop::Flush()
{
	for (void* pItem : m_Taken)
		Release(pItem);
	m_Taken.clear();
}

void CPumpedEventLoop::Clear()
{
	CLockable::CLock Lock(m_Lock);
	for (void* pItem : m_Taken)
		Release(pItem);
	for (void* pItem : m_Incoming)
		Release(pItem);
	m_Taken.clear();
	m_Incoming.clear();
	m_Pending.Reset();
}

void CPumpedEventLoop::Release(void* pItem)
{
	if (m_pfnFree != nullptr)
		m_pfnFree(pItem);
}
