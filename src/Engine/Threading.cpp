#include "Engine/KestrinThreading.h"

#include "Engine/KAssert.h"

#include <cerrno>
#include <cstdint>
#include <cstring>

CLockable::CLockable()
{
	pthread_mutexattr_t Attributes;
	pthread_mutexattr_init(&Attributes);
	pthread_mutexattr_settype(&Attributes, PTHREAD_MUTEX_RECURSIVE);
	pthread_mutex_init(&m_Mutex, &Attributes);
	pthread_mutexattr_destroy(&Attributes);
}

CLockable::~CLockable()
{
	pthread_mutex_destroy(&m_Mutex);
}

void CLockable::Lock()
{
	pthread_mutex_lock(&m_Mutex);
}

void CLockable::Unlock()
{
	pthread_mutex_unlock(&m_Mutex);
}

CSemaphore::CSemaphore()
{
	sem_init(&m_Semaphore, 0, 0);
}

CSemaphore::~CSemaphore()
{
	sem_destroy(&m_Semaphore);
}

void CSemaphore::Post()
{
	sem_post(&m_Semaphore);
}

void CSemaphore::Wait()
{
	while (sem_wait(&m_Semaphore) != 0 && errno == EINTR)
	{
	}
}

CConditionVariable::CConditionVariable() :
	m_iWaiters(0),
	m_iWoken(0)
{
}

void CConditionVariable::Wait(CLockable* pLockable)
{
	m_Lock.Lock();
	++m_iWaiters;
	m_Lock.Unlock();

	pLockable->Unlock();
	m_WakeSemaphore.Wait();
	m_AcknowledgeSemaphore.Post();
	pLockable->Lock();
}

void CConditionVariable::Broadcast()
{
	m_Lock.Lock();
	if (m_iWaiters <= m_iWoken)
	{
		m_Lock.Unlock();
		return;
	}

	const int32_t iReleased = m_iWaiters - m_iWoken;
	m_iWoken = m_iWaiters;
	for (int32_t i = 0; i < iReleased; ++i)
		m_WakeSemaphore.Post();
	m_Lock.Unlock();

	for (int32_t i = 0; i < iReleased; ++i)
		m_AcknowledgeSemaphore.Wait();
}

Signalable::Signalable() :
	m_bSignalled(false)
{
}

void Signalable::Signal()
{
	CLockable::CLock Lock(m_Lock);
	m_bSignalled = true;
	m_Condition.Broadcast();
}

void Signalable::Reset()
{
	CLockable::CLock Lock(m_Lock);
	m_bSignalled = false;
}

bool Signalable::IsSignalled()
{
	CLockable::CLock Lock(m_Lock);
	return m_bSignalled;
}

Thread::Thread(const char* szName) :
	m_szName(szName),
	m_bThread(false),
	m_Thread()
{
}

Thread::~Thread()
{
	if (m_bThread)
		pthread_detach(m_Thread);
}

bool Thread::Start()
{
	if (!KASSERT(!m_bThread))
		return false;

	pthread_attr_t Attributes;
	if (pthread_attr_init(&Attributes) != 0)
		return false;

	bool bStarted = false;
	if (pthread_attr_setdetachstate(&Attributes, PTHREAD_CREATE_JOINABLE) == 0 &&
		pthread_create(&m_Thread, &Attributes, ThreadMain, this) == 0)
	{
		m_bThread = true;
		bStarted = true;
	}

	pthread_attr_destroy(&Attributes);
	return bStarted;
}

void* Thread::ThreadMain(void* pThread)
{
	Thread* pSelf = static_cast<Thread*>(pThread);
	// Named from inside, so the name is in place before the body runs. The system refuses names longer
	// than 15 characters; the thread then runs under the inherited name.
	if (pSelf->m_szName != nullptr && strlen(pSelf->m_szName) <= 15)
		pthread_setname_np(pthread_self(), pSelf->m_szName);
	pSelf->m_Executing.Signal();
	const int iResult = pSelf->Main();
	pSelf->m_Executing.Reset();
	return reinterpret_cast<void*>(static_cast<intptr_t>(iResult));
}

int Thread::Join()
{
	if (!m_bThread)
		return 0;

	void* pResult = nullptr;
	pthread_join(m_Thread, &pResult);
	m_bThread = false;
	return static_cast<int>(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pResult)));
}

CThreadCB::CThreadCB(const char* szName, Callback pfnCallback, void* pUserData) :
	Thread(szName),
	m_pfnCallback(pfnCallback),
	m_pUserData(pUserData)
{
}

int CThreadCB::Main()
{
	return m_pfnCallback(this, m_pUserData);
}
