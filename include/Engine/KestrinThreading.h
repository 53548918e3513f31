#pragma once

#include <cstddef>
#include <cstdint>
#include <pthread.h>
#include <semaphore.h>
#include <vector>

// A recursive mutex: the thread that holds it may lock it again.
class CLockable
{
public:
	CLockable();
	~CLockable();

	CLockable(const CLockable&) = delete;
	CLockable& operator=(const CLockable&) = delete;

	void Lock();
	void Unlock();

	// Locks for the lifetime of the scope.
	class CLock
	{
	public:
		explicit CLock(CLockable& Lockable) : m_Lockable(Lockable) { m_Lockable.Lock(); }
		explicit CLock(CLockable* pLockable) : m_Lockable(*pLockable) { m_Lockable.Lock(); }
		~CLock() { m_Lockable.Unlock(); }

		CLock(const CLock&) = delete;
		CLock& operator=(const CLock&) = delete;

	private:
		CLockable& m_Lockable;
	};

private:
	friend class CConditionVariable;
	pthread_mutex_t m_Mutex;
};

// An unnamed, process-private semaphore starting at 0.
class CSemaphore
{
public:
	CSemaphore();
	~CSemaphore();

	CSemaphore(const CSemaphore&) = delete;
	CSemaphore& operator=(const CSemaphore&) = delete;

	void Post();
	// Waits, retrying waits interrupted by a signal.
	void Wait();

private:
	sem_t m_Semaphore;
};

// Wake-all condition built from two semaphores: Broadcast returns only after every released waiter
// has acknowledged its release.
class CConditionVariable
{
public:
	CConditionVariable();

	// The caller holds pLockable once; it is released while waiting and taken again before returning.
	void Wait(CLockable* pLockable);
	void Broadcast();

private:
	CLockable m_Lock;
	int32_t m_iWaiters;
	int32_t m_iWoken;
	CSemaphore m_WakeSemaphore;
	CSemaphore m_AcknowledgeSemaphore;
};

// A thread-safe flag that wakes waiters when set. Threads poll IsSignalled between sleeps.
class Signalable
{
public:
	Signalable();

	void Signal();
	void Reset();
	bool IsSignalled();

private:
	CLockable m_Lock;
	CConditionVariable m_Condition;
	bool m_bSignalled;
};

// A named joinable thread running the virtual Main. The name is kept by pointer (callers pass literals);
// names longer than 15 characters are not applied to the system thread.
class Thread
{
public:
	explicit Thread(const char* szName);
	// A thread still running is detached, not joined: owners stop it by a flag of their own and Join first.
	virtual ~Thread();

	Thread(const Thread&) = delete;
	Thread& operator=(const Thread&) = delete;

	virtual int Main() = 0;

	bool Start();
	// The low 32 bits of the thread's result; 0 at once when not running.
	int Join();

	bool IsRunning() const { return m_bThread; }
	// True while the body executes.
	bool IsExecuting() { return m_Executing.IsSignalled(); }
	const char* GetName() const { return m_szName; }

private:
	static void* ThreadMain(void* pThread);

	const char* m_szName;
	bool m_bThread;
	pthread_t m_Thread;
	Signalable m_Executing;
};

// A thread whose body is a callback.
class CThreadCB : public Thread
{
public:
	typedef int (*Callback)(Thread* pThread, void* pUserData);

	CThreadCB(const char* szName, Callback pfnCallback, void* pUserData);

	int Main() override;
	void* GetUserData() const { return m_pUserData; }

private:
	Callback m_pfnCallback;
	void* m_pUserData;
};

// A locked hand-off queue: a producer thread pushes items, the consuming (main) thread takes them in
// batches with Count / GetEvent / Flush. Items are released through the free function.
class CPumpedEventLoop
{
public:
	typedef void (*FreeFunction)(void* pItem);

	explicit CPumpedEventLoop(FreeFunction pfnFree);
	~CPumpedEventLoop();

	CPumpedEventLoop(const CPumpedEventLoop&) = delete;
	CPumpedEventLoop& operator=(const CPumpedEventLoop&) = delete;

	// Producer side.
	void Push(void* pItem);

	// Consumer side only.
	size_t Count();
	void* GetEvent(size_t Index) const;
	void Flush();

	void Clear();

private:
	void Release(void* pItem);

	CLockable m_Lock;
	Signalable m_Pending;
	std::vector<void*> m_Incoming;
	std::vector<void*> m_Taken;
	FreeFunction m_pfnFree;
};
