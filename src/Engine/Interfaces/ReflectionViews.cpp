// The views of the reflection registry through which a module declares its script interface: namespaces with
// their functions, properties and classes, and classes with their constructor, methods and properties.
//
// Once the script languages have bound the registry they hold pointers to everything in it, so a sealed node
// refuses every change (-2). A module may clear only namespaces made for modules: the engine keeps pointers to its
// own namespaces and classes.

#include <cstring>

#include "Engine/Reflection.h"
#include "ViewBase.h"

namespace Kestrin3D
{
namespace Interfaces
{
namespace
{
struct tNamespaceSlot
{
	static IReflectedNamespace* Load(ReflectedNamespace* pNamespace) { return pNamespace->m_pNamespaceInterface; }
	static void Store(ReflectedNamespace* pNamespace, IReflectedNamespace* pView)
	{
		pNamespace->m_pNamespaceInterface = pView;
	}
};

struct tClassSlot
{
	static IReflectedClass* Load(ReflectedClass* pClass) { return pClass->m_pClassInterface; }
	static void Store(ReflectedClass* pClass, IReflectedClass* pView) { pClass->m_pClassInterface = pView; }
};

// 0 when the node (namespace or class) may still change: it exists and the languages have not bound it.
template <class TNode>
Result RefuseChange(const TNode* pNode)
{
	if (!pNode)
		return RESULT_NOT_FOUND;
	return pNode->m_bSealed ? RESULT_NOT_AVAILABLE : RESULT_OK;
}

// The outcome of a registration call that returns the new entry.
template <class T>
Result RegistrationResult(T* pEntry)
{
	return pEntry ? RESULT_OK : RESULT_REGISTRATION_FAILED;
}

// A function of a namespace, or a method of a class.
template <class TNode>
Result RegisterFunctionIn(TNode* pNode, const char* szName, const char* szMask, ModuleNativeFunction pfnNative,
	void* pUserData)
{
	if (!szName || !szMask || !pfnNative)
		return RESULT_NULL_ARGUMENT;
	if (Result Refusal = RefuseChange(pNode))
		return Refusal;
	return RegistrationResult(pNode->RegisterFunction(szName, szMask, pfnNative, pUserData));
}

// A property of a namespace (accessors with an empty mask) or of a class (accessors called on an instance).
template <class TNode>
Result AddPropertyTo(TNode* pNode, void* pUserData, const char* szName, uint8_t ucType,
	ModuleNativeFunction pfnGetter, ModuleNativeFunction pfnSetter)
{
	if (!szName || !pfnGetter)
		return RESULT_NULL_ARGUMENT;
	if (Result Refusal = RefuseChange(pNode))
		return Refusal;
	return RegistrationResult(pNode->AddProperty(pUserData, szName, ucType, pfnGetter, pfnSetter));
}

class CReflectedNamespaceImpl final
	: public CCachedView<CReflectedNamespaceImpl, IReflectedNamespace, ReflectedNamespace, tNamespaceSlot, false>
{
public:
	explicit CReflectedNamespaceImpl(ReflectedNamespace* pNamespace) : CCachedView(pNamespace) {}

	Result GetInterface(const tUUID& Id, void** ppOut) override
	{
		return AnswerOwnInterface<IReflectedNamespace>(this, Id, ID_ReflectedNamespace, ppOut);
	}

	Result Clear() override
	{
		if (!m_pObject)
			return RESULT_NOT_FOUND;
		if (m_pObject->m_bSealed || !m_pObject->m_bModuleMade)
			return RESULT_NOT_AVAILABLE;
		m_pObject->Clear();
		return RESULT_OK;
	}

	Result GetNamespace(const char* szName, IReflectedNamespace** ppOut) override
	{
		if (!szName || !ppOut)
			return RESULT_NULL_ARGUMENT;
		ReflectedNamespace* pChild = m_pObject ? m_pObject->GetNamespace(szName) : nullptr;
		return AnswerView(GetView(pChild), reinterpret_cast<void**>(ppOut), RESULT_NOT_FOUND);
	}

	Result AddNamespace(const char* szName, IReflectedNamespace** ppOut) override
	{
		if (!szName || !ppOut)
			return RESULT_NULL_ARGUMENT;
		*ppOut = nullptr;
		if (!m_pObject)
			return RESULT_NOT_FOUND;
		for (ReflectedNamespace* pChild : m_pObject->GetNamespaces())
		{
			if (pChild->GetName() && strcmp(pChild->GetName(), szName) == 0)
				return AnswerView(GetView(pChild), reinterpret_cast<void**>(ppOut), RESULT_NOT_FOUND);
		}
		if (m_pObject->m_bSealed)
			return RESULT_NOT_AVAILABLE;
		ReflectedNamespace* pChild = m_pObject->AddNamespace(szName);
		if (!pChild)
			return RESULT_REGISTRATION_FAILED;
		pChild->m_bModuleMade = true;
		return AnswerView(GetView(pChild), reinterpret_cast<void**>(ppOut), RESULT_REGISTRATION_FAILED);
	}

	Result RegisterFunction(const char* szName, const char* szMask, ModuleNativeFunction pfnNative,
		void* pUserData) override
	{
		return RegisterFunctionIn(m_pObject, szName, szMask, pfnNative, pUserData);
	}

	Result AddProperty(void* pUserData, const char* szName, uint8_t ucType, ModuleNativeFunction pfnGetter,
		ModuleNativeFunction pfnSetter) override
	{
		return AddPropertyTo(m_pObject, pUserData, szName, ucType, pfnGetter, pfnSetter);
	}

	Result NewClass(IReflectedClass** ppOut, const char* szName, IReflectedClass* pBase) override
	{
		if (!ppOut || !szName)
			return RESULT_NULL_ARGUMENT;
		*ppOut = nullptr;
		if (Result Refusal = RefuseChange(m_pObject))
			return Refusal;
		ReflectedClass* pBaseClass = Interfaces::Unwrap(pBase);
		if (pBase && !pBaseClass)
			return RESULT_NOT_FOUND;
		ReflectedClass* pClass = m_pObject->NewClass(szName, pBaseClass);
		return AnswerView(GetView(pClass), reinterpret_cast<void**>(ppOut), RESULT_REGISTRATION_FAILED);
	}

	const char* GetName() override
	{
		const char* szName = m_pObject ? m_pObject->GetName() : nullptr;
		return szName ? szName : "";
	}
};

class CReflectedClassImpl final
	: public CCachedView<CReflectedClassImpl, IReflectedClass, ReflectedClass, tClassSlot, false>
{
public:
	explicit CReflectedClassImpl(ReflectedClass* pClass) : CCachedView(pClass) {}

	Result GetInterface(const tUUID& Id, void** ppOut) override
	{
		return AnswerOwnInterface<IReflectedClass>(this, Id, ID_ReflectedClass, ppOut);
	}

	const char* GetName() override
	{
		const char* szName = m_pObject ? m_pObject->GetName() : nullptr;
		return szName ? szName : "";
	}

	Result Clear() override
	{
		if (Result Refusal = RefuseChange(m_pObject))
			return Refusal;
		m_pObject->Clear();
		return RESULT_OK;
	}

	Result IsA(IReflectedClass* pOther) override
	{
		if (!pOther)
			return RESULT_NULL_ARGUMENT;
		return IsClassOf(m_pObject, Interfaces::Unwrap(pOther)) ? RESULT_OK : RESULT_NO;
	}

	Result RegisterConstructor(const char* szMask, ModuleNativeFunction pfnNative, void* pUserData) override
	{
		if (!szMask || !pfnNative)
			return RESULT_NULL_ARGUMENT;
		if (Result Refusal = RefuseChange(m_pObject))
			return Refusal;
		m_pObject->RegisterConstructor(szMask, pfnNative, pUserData);
		return RESULT_OK;
	}

	Result RegisterClone(ModuleNativeFunction pfnNative, void* pUserData) override
	{
		return RegisterSpecial(pfnNative, [&] { m_pObject->RegisterClone(pfnNative, pUserData); });
	}

	Result RegisterMove(ModuleNativeFunction pfnNative, void* pUserData) override
	{
		return RegisterSpecial(pfnNative, [&] { m_pObject->RegisterMove(pfnNative, pUserData); });
	}

	Result RegisterToString(ModuleNativeFunction pfnNative, void* pUserData) override
	{
		return RegisterSpecial(pfnNative, [&] { m_pObject->RegisterToString(pfnNative, pUserData); });
	}

	Result RegisterFunction(const char* szName, const char* szMask, ModuleNativeFunction pfnNative,
		void* pUserData) override
	{
		return RegisterFunctionIn(m_pObject, szName, szMask, pfnNative, pUserData);
	}

	Result AddProperty(void* pUserData, const char* szName, uint8_t ucType, ModuleNativeFunction pfnGetter,
		ModuleNativeFunction pfnSetter) override
	{
		return AddPropertyTo(m_pObject, pUserData, szName, ucType, pfnGetter, pfnSetter);
	}

private:
	// The clone, move and to-string entries.
	template <class TRegister>
	Result RegisterSpecial(ModuleNativeFunction pfnNative, TRegister Register)
	{
		if (!pfnNative)
			return RESULT_NULL_ARGUMENT;
		if (Result Refusal = RefuseChange(m_pObject))
			return Refusal;
		Register();
		return RESULT_OK;
	}
};
}

IReflectedNamespace* GetView(ReflectedNamespace* pNamespace)
{
	return CReflectedNamespaceImpl::ViewOf(pNamespace);
}

IReflectedClass* GetView(ReflectedClass* pClass)
{
	return CReflectedClassImpl::ViewOf(pClass);
}

ReflectedNamespace* Unwrap(IReflectedNamespace* pView)
{
	return CReflectedNamespaceImpl::Unwrap(pView);
}

ReflectedClass* Unwrap(IReflectedClass* pView)
{
	return CReflectedClassImpl::Unwrap(pView);
}

void DetachView(IReflectedNamespace* pView)
{
	CReflectedNamespaceImpl::Detach(pView);
}

void DetachView(IReflectedClass* pView)
{
	CReflectedClassImpl::Detach(pView);
}
}
}
