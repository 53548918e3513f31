// The views of engine objects: any object a script can hold, and streams, with the destruction callback a module
// can attach to an object.

#include "Engine/BaseObject.h"
#include "Engine/KestrinStream.h"
#include "Engine/Reflection.h"
#include "Engine/ScriptStream.h"
#include "ViewBase.h"

namespace Kestrin3D
{
namespace Interfaces
{
namespace
{
struct tObjectSlot
{
	static IBaseObject* Load(CBaseObject* pObject) { return pObject->GetBaseObjectInterface(); }
	static void Store(CBaseObject* pObject, IBaseObject* pView) { pObject->SetBaseObjectInterface(pView); }
};

struct tStreamSlot
{
	static IStream* Load(Stream* pStream) { return pStream->m_pStreamInterface; }
	static void Store(Stream* pStream, IStream* pView) { pStream->m_pStreamInterface = pView; }
};

// The class of an object, or null when it has none or its class no longer exists.
ReflectedClass* GetLiveClass(CBaseObject* pObject)
{
	ReflectedClass* pClass = pObject ? pObject->GetReflectedClass() : nullptr;
	return ReflectedClass::IsLive(pClass) ? pClass : nullptr;
}

// Tells the module that its object is going. The object deletes it as it is destroyed.
class CEventDestruction final : public IUserData
{
public:
	CEventDestruction(CBaseObject* pObject, ModuleDestructorFunction pfnDestructor, void* pUserData)
		: m_pObject(pObject), m_pfnDestructor(pfnDestructor), m_pUserData(pUserData)
	{
	}

	~CEventDestruction() override
	{
		// The object is past its last reference (or obliterated); the view's reference cannot revive it.
		IBaseObject* pView = GetView(m_pObject);
		m_pfnDestructor(pView, m_pUserData);
		pView->Release();
	}

private:
	CBaseObject* m_pObject;
	ModuleDestructorFunction m_pfnDestructor;
	void* m_pUserData;
};

class CBaseObjectImpl final : public CCachedView<CBaseObjectImpl, IBaseObject, CBaseObject, tObjectSlot, true>
{
public:
	explicit CBaseObjectImpl(CBaseObject* pObject) : CCachedView(pObject) {}

	Result GetInterface(const tUUID& Id, void** ppOut) override
	{
		if (!ppOut)
			return RESULT_NULL_ARGUMENT;
		if (Id == ID_BaseObject)
			return AnswerSelf<IBaseObject>(this, ppOut);
		if (Id == ID_Stream)
		{
			// Any object can be given the class "Stream"; only a script stream holds a stream.
			CScriptStream* pScriptStream = dynamic_cast<CScriptStream*>(m_pObject);
			Stream* pStream = pScriptStream ? pScriptStream->GetStream() : nullptr;
			if (!pStream)
				return RESULT_NOT_FOUND;
			return AnswerView(GetView(pStream), ppOut, RESULT_NOT_FOUND);
		}
		return RESULT_NOT_FOUND;
	}

	Result SetPrivate(void* pPrivate) override
	{
		if (!m_pObject)
			return RESULT_NOT_FOUND;
		m_pObject->SetPrivate(pPrivate);
		return RESULT_OK;
	}

	void* GetPrivate() override { return m_pObject ? m_pObject->GetPrivate() : nullptr; }

	Result IsA(IReflectedClass* pClass) override
	{
		if (!pClass)
			return RESULT_NULL_ARGUMENT;
		return IsClassOf(GetLiveClass(m_pObject), Interfaces::Unwrap(pClass)) ? RESULT_OK : RESULT_NO;
	}

	Result AddDestructor(ModuleDestructorFunction pfnDestructor, void* pUserData) override
	{
		if (!pfnDestructor)
			return RESULT_NULL_ARGUMENT;
		if (!m_pObject)
			return RESULT_NOT_FOUND;
		if (m_pObject->GetUser())
			return RESULT_NOT_AVAILABLE;
		m_pObject->AddUserData(new CEventDestruction(m_pObject, pfnDestructor, pUserData));
		return RESULT_OK;
	}

	Result AssignClass(IReflectedClass* pClass) override
	{
		if (!pClass)
			return RESULT_NULL_ARGUMENT;
		ReflectedClass* pReflectedClass = Interfaces::Unwrap(pClass);
		if (!pReflectedClass || !m_pObject)
			return RESULT_NOT_FOUND;
		m_pObject->SetReflectedClass(pReflectedClass);
		return RESULT_OK;
	}

	Result GetReflectedClass(IReflectedClass** ppOut) override
	{
		if (!ppOut)
			return RESULT_NULL_ARGUMENT;
		*ppOut = GetView(GetLiveClass(m_pObject));
		return RESULT_OK;
	}
};

class CStreamImpl final : public CCachedView<CStreamImpl, IStream, Stream, tStreamSlot, true>
{
public:
	explicit CStreamImpl(Stream* pStream) : CCachedView(pStream) {}

	Result GetInterface(const tUUID& Id, void** ppOut) override
	{
		if (!ppOut)
			return RESULT_NULL_ARGUMENT;
		if (Id == ID_Stream)
			return AnswerSelf<IStream>(this, ppOut);
		if (Id == ID_BaseObject && m_pObject)
			return AnswerView(GetView(static_cast<CBaseObject*>(m_pObject)), ppOut, RESULT_NOT_FOUND);
		return RESULT_NOT_FOUND;
	}
};
}

bool IsClassOf(const ReflectedClass* pClass, const ReflectedClass* pTarget)
{
	if (!pTarget)
		return false;
	for (; ReflectedClass::IsLive(pClass); pClass = pClass->GetBaseClass())
	{
		if (pClass == pTarget)
			return true;
	}
	return false;
}

IBaseObject* GetView(CBaseObject* pObject)
{
	return CBaseObjectImpl::ViewOf(pObject);
}

IStream* GetView(Stream* pStream)
{
	return CStreamImpl::ViewOf(pStream);
}

CBaseObject* Unwrap(IBaseObject* pView)
{
	return CBaseObjectImpl::Unwrap(pView);
}

Stream* Unwrap(IStream* pView)
{
	return CStreamImpl::Unwrap(pView);
}

void DetachView(IBaseObject* pView)
{
	CBaseObjectImpl::Detach(pView);
}

void DetachView(IStream* pView)
{
	CStreamImpl::Detach(pView);
}

IBaseObject* CreatePlainObject()
{
	CBaseObject* pObject = new CBaseObject();
	IBaseObject* pView = GetView(pObject);
	// The view holds the only reference.
	pObject->Release();
	return pView;
}
}
}
