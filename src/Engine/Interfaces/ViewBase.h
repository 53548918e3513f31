#pragma once
// What every view shares: the plain reference count, the cached-view life (made on first request, stored in its
// engine object, cleared from there by the last release) and the checks of pointers a module hands in.

#include <cstdint>

#include "Engine/ModuleViews.h"

namespace Kestrin3D
{
namespace Interfaces
{
// The reference count of a view. Views live on the main thread only, so the count is a plain integer.
template <class TInterface>
class CView : public TInterface
{
public:
	int32_t AddRef() override { return ++m_iRefCount; }

protected:
	CView() : m_iRefCount(1) {}
	~CView() = default;

	int32_t m_iRefCount;
};

// A new plain engine object (no class) whose only reference is held by the returned view.
IBaseObject* CreatePlainObject();
// A new value factory with one reference for the caller.
IArgumentFactory* CreateArgumentFactory();

// Answers GetInterface for the ids a view shows as itself: a new reference, 0.
template <class TInterface>
Result AnswerSelf(TInterface* pSelf, void** ppOut)
{
	pSelf->AddRef();
	*ppOut = pSelf;
	return RESULT_OK;
}

// The whole of GetInterface for a view that shows one interface, OwnId, and nothing else.
template <class TInterface>
Result AnswerOwnInterface(TInterface* pSelf, const tUUID& Id, const tUUID& OwnId, void** ppOut)
{
	if (!ppOut)
		return RESULT_NULL_ARGUMENT;
	return Id == OwnId ? AnswerSelf(pSelf, ppOut) : RESULT_NOT_FOUND;
}

// Stores a view made for the caller in *ppOut: 0, or the failure result with a null view when none could be made.
template <class TInterface>
Result AnswerView(TInterface* pView, void** ppOut, Result Failure)
{
	*ppOut = pView;
	return pView ? RESULT_OK : Failure;
}

// Where each engine object keeps its view. TSlot provides Load(object) and Store(object, view); HOLDS tells
// whether the view holds a reference to its object.
template <class TImpl, class TInterface, class TObject, class TSlot, bool HOLDS>
class CCachedView : public CView<TInterface>
{
public:
	static TInterface* ViewOf(TObject* pObject)
	{
		if (!pObject)
			return nullptr;
		if (TInterface* pView = TSlot::Load(pObject))
		{
			pView->AddRef();
			return pView;
		}
		TImpl* pView = new TImpl(pObject);
		TSlot::Store(pObject, pView);
		return pView;
	}

	// The object behind a view, or null for a view this server did not make or a detached one.
	static TObject* Unwrap(TInterface* pView)
	{
		TImpl* pImpl = pView ? dynamic_cast<TImpl*>(pView) : nullptr;
		return pImpl ? pImpl->m_pObject : nullptr;
	}

	static void Detach(TInterface* pView)
	{
		if (TImpl* pImpl = pView ? dynamic_cast<TImpl*>(pView) : nullptr)
			pImpl->m_pObject = nullptr;
	}

	int32_t Release() override
	{
		if (this->m_iRefCount > 1)
			return --this->m_iRefCount;
		this->m_iRefCount = 0;
		TObject* pObject = m_pObject;
		m_pObject = nullptr;
		if (pObject)
		{
			// Cleared first: should releasing the object destroy it, its destructor may ask for a view again.
			TSlot::Store(pObject, nullptr);
			if constexpr (HOLDS)
				pObject->Release();
		}
		delete static_cast<TImpl*>(this);
		return 0;
	}

protected:
	explicit CCachedView(TObject* pObject) : m_pObject(pObject)
	{
		if constexpr (HOLDS)
			pObject->AddRef();
	}
	~CCachedView() = default;

	// Null once detached.
	TObject* m_pObject;
};
}
}
