#pragma once
// Reference counting and the pointer templates every long-lived engine object is held by.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>

#include "Engine/KAssert.h"

void* _KAlloc(size_t size);
void _KFree(void* p);

// Root of the engine's polymorphic classes. Its objects come from malloc and go back through free, so memory
// handed across a plug-in boundary is always released by the same allocator.
class CBase
{
public:
	virtual ~CBase() = default;

	static void* operator new(size_t size) { void* p = _KAlloc(size); if (!p) throw std::bad_alloc(); return p; }
	static void* operator new(size_t size, const std::nothrow_t&) noexcept { return _KAlloc(size); }
	static void operator delete(void* p) noexcept { _KFree(p); }
	static void operator delete(void* p, const std::nothrow_t&) noexcept { _KFree(p); }
};

class CRefCounted : public CBase
{
public:
	// No one else can see the object before its constructor returns: the count needs no fence yet.
	CRefCounted() : m_iRefCount(1) {}
	CRefCounted(const CRefCounted&) = delete;
	CRefCounted& operator=(const CRefCounted&) = delete;
	~CRefCounted() override = default;

	virtual intptr_t GetRefCount() const { return m_iRefCount.load(); }
	virtual intptr_t AddRef() { return m_iRefCount.fetch_add(1) + 1; }
	virtual intptr_t Release();

protected:
	// Decrements and returns the count from before; shared by the overriding Release of CBaseObject.
	int32_t DecrementRefCount() { return m_iRefCount.fetch_sub(1); }
	// What Release does, inline for classes that make it final (values are released on every native call).
	intptr_t ReleaseCounted()
	{
		// The sole owner takes no atomic step: no other reference exists through which the count could change
		// meanwhile, and the acquiring read orders every earlier owner's release before the destruction.
		if (m_iRefCount.load(std::memory_order_acquire) == 1)
		{
			m_iRefCount.store(0, std::memory_order_relaxed);
			delete this;
			return 0;
		}
		int32_t iBefore = DecrementRefCount();
		if (iBefore <= 1)
		{
			delete this;
			return 0;
		}
		return iBefore - 1;
	}

private:
	std::atomic<int32_t> m_iRefCount;
};

// Data attached to a CBaseObject and deleted with it.
class IUserData
{
public:
	virtual ~IUserData() = default;
	virtual bool Destruct() { return false; }
	// The object's count fell to one. A binding whose script handle counts a reference of its own learns here that
	// the handle may now be all that keeps the object alive.
	virtual void OnSoleReference() {}
};

// Counted pointer: holds one reference to its target.
template <class T>
class Strong
{
public:
	Strong() : m_pRef(nullptr) {}
	Strong(T* p) : m_pRef(p) { if (m_pRef) m_pRef->AddRef(); }
	Strong(const Strong& other) : m_pRef(other.m_pRef) { if (m_pRef) m_pRef->AddRef(); }
	Strong(Strong&& other) noexcept : m_pRef(other.m_pRef) { other.m_pRef = nullptr; }
	~Strong() { if (m_pRef) m_pRef->Release(); }

	// Adopts a freshly made object: its initial count of 1 becomes this pointer's reference.
	static Strong New(T* p)
	{
		Strong s;
		s.m_pRef = p;
		return s;
	}

	Strong& operator=(T* p)
	{
		if (p == m_pRef)
			return *this;
		T* pOld = m_pRef;
		m_pRef = p;
		if (m_pRef)
			m_pRef->AddRef();
		if (pOld)
			pOld->Release();
		return *this;
	}
	Strong& operator=(const Strong& other) { return *this = other.m_pRef; }
	Strong& operator=(Strong&& other) noexcept
	{
		if (this != &other)
		{
			T* pOld = m_pRef;
			m_pRef = other.m_pRef;
			other.m_pRef = nullptr;
			if (pOld)
				pOld->Release();
		}
		return *this;
	}

	void SetNull()
	{
		T* pOld = m_pRef;
		m_pRef = nullptr;
		if (pOld)
			pOld->Release();
	}

	bool IsNull() const { return m_pRef == nullptr; }
	T* GetPointer() const { return m_pRef; }
	operator T*() const { return m_pRef; }
	T* operator->() const
	{
		KASSERT(m_pRef);
		return m_pRef;
	}
	T& operator*() const { return *m_pRef; }

	template <class U>
	Strong<U> StaticCast() const
	{
		return Strong<U>(static_cast<U*>(m_pRef));
	}

private:
	T* m_pRef;
};

class CBaseObject;

namespace KestrinWeak
{
// Kept out of line so this header does not need the full CBaseObject.
void Register(CBaseObject* pTarget, CBaseObject** ppCell);
void Unregister(CBaseObject* pTarget, CBaseObject** ppCell);
}

// Non-owning pointer to a CBaseObject. The target nulls the cell when it begins to die, so a Weak read after
// that point sees null. Copies register a cell of their own: a cell is never left pointing at an object that
// does not know about it.
template <class T>
class Weak
{
public:
	Weak() : m_pRef(nullptr) {}
	Weak(T* p) : m_pRef(nullptr) { Set(p); }
	Weak(const Weak& other) : m_pRef(nullptr) { Set(other.Get()); }
	Weak(Weak&& other) noexcept : m_pRef(nullptr)
	{
		Set(other.Get());
		other.Set(nullptr);
	}
	~Weak() { Set(nullptr); }

	Weak& operator=(T* p)
	{
		Set(p);
		return *this;
	}
	Weak& operator=(const Weak& other)
	{
		if (this != &other)
			Set(other.Get());
		return *this;
	}
	Weak& operator=(Weak&& other) noexcept
	{
		if (this != &other)
		{
			Set(other.Get());
			other.Set(nullptr);
		}
		return *this;
	}

	T* Get() const { return m_pRef ? static_cast<T*>(m_pRef) : nullptr; }
	bool IsNull() const { return m_pRef == nullptr; }
	operator T*() const { return Get(); }
	T* operator->() const
	{
		KASSERT(m_pRef);
		return Get();
	}

private:
	void Set(T* p)
	{
		CBaseObject* pNew = p; // T must derive from CBaseObject
		if (pNew == m_pRef)
			return;
		if (m_pRef)
			KestrinWeak::Unregister(m_pRef, &m_pRef);
		m_pRef = pNew;
		if (m_pRef)
			KestrinWeak::Register(m_pRef, &m_pRef);
	}

	CBaseObject* m_pRef;
};

// Sole owner of a heap object that is not reference-counted.
template <class T>
class AutoDelete
{
public:
	AutoDelete() : m_pObject(nullptr) {}
	explicit AutoDelete(T* p) : m_pObject(p) {}
	AutoDelete(const AutoDelete&) = delete;
	AutoDelete& operator=(const AutoDelete&) = delete;
	AutoDelete(AutoDelete&& other) noexcept : m_pObject(other.m_pObject) { other.m_pObject = nullptr; }
	AutoDelete& operator=(AutoDelete&& other) noexcept
	{
		if (this != &other)
		{
			Delete();
			m_pObject = other.m_pObject;
			other.m_pObject = nullptr;
		}
		return *this;
	}
	AutoDelete& operator=(T* p)
	{
		if (p != m_pObject)
		{
			Delete();
			m_pObject = p;
		}
		return *this;
	}
	~AutoDelete() { Delete(); }

	void Delete()
	{
		T* p = m_pObject;
		m_pObject = nullptr;
		delete p;
	}
	// Gives up ownership without deleting.
	T* Detach()
	{
		T* p = m_pObject;
		m_pObject = nullptr;
		return p;
	}

	bool IsNull() const { return m_pObject == nullptr; }
	T* GetPointer() const { return m_pObject; }
	operator T*() const { return m_pObject; }
	T* operator->() const
	{
		KASSERT(m_pObject);
		return m_pObject;
	}

private:
	T* m_pObject;
};
