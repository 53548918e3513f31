#include "Engine/Reflection.h"

#include <cstdlib>
#include <cstring>
#include <unordered_set>

#include "Engine/KError.h"
#include "Engine/KestrinNative.h"
#include "Engine/ModuleViews.h"

#define ARRAY_COUNT(a) (sizeof(a) / sizeof((a)[0]))

namespace
{
char* DuplicateString(const char* szText)
{
	return szText ? strdup(szText) : nullptr;
}

bool NameIs(const char* szName, const char* szWanted)
{
	return szName && strcmp(szName, szWanted) == 0;
}

template <class T>
void DeleteAll(std::vector<T*>& Items)
{
	for (T* pItem : Items)
		delete pItem;
	Items.clear();
}

// Appends a new function to a class's or namespace's list and returns it.
ReflectedFunction* AppendFunction(std::vector<ReflectedFunction*>& Functions, ScriptFunction&& Function,
	void* pUserData, bool bObsolete)
{
	ReflectedFunction* pFunction = new ReflectedFunction;
	pFunction->Set(std::move(Function), pUserData, bObsolete);
	Functions.push_back(pFunction);
	return pFunction;
}

// Appends a new property to a class's or namespace's list and returns it.
template <class TNative>
ReflectedProperty* AppendProperty(std::vector<ReflectedProperty*>& Properties, void* pUserData, const char* szName,
	uint8_t ucType, TNative pfnGetter, TNative pfnSetter, bool bObsolete, const char* szMask)
{
	ReflectedProperty* pProperty = new ReflectedProperty(szName, ucType, pUserData, bObsolete);
	pProperty->m_Getter = ScriptFunction("", szMask, pfnGetter);
	if (pfnSetter)
		pProperty->m_Setter = ScriptFunction("", szMask, pfnSetter);
	Properties.push_back(pProperty);
	return pProperty;
}

// The first item of that name (properties, child namespaces), or null.
template <class T>
T* FindNamed(const std::vector<T*>& Items, const char* szName)
{
	if (!szName)
		return nullptr;
	for (T* pItem : Items)
	{
		if (NameIs(pItem->m_szName, szName))
			return pItem;
	}
	return nullptr;
}

// Every class that exists, for ReflectedClass::IsLive. Classes are made and deleted on the main thread only.
std::unordered_set<const ReflectedClass*>& GetLiveClasses()
{
	static std::unordered_set<const ReflectedClass*> s_Classes;
	return s_Classes;
}
}

void ReflectedFunction::Set(ScriptFunction&& Function, void* pUserData, bool bObsolete)
{
	m_Function = std::move(Function);
	m_pUserData = pUserData;
	m_bObsolete = bObsolete;
}

void ReflectedFunction::Reset()
{
	m_Function = ScriptFunction();
	m_pUserData = nullptr;
	m_bObsolete = false;
}

ReflectedProperty::ReflectedProperty(const char* szName, uint8_t ucType, void* pUserData, bool bObsolete)
	: m_bObsolete(bObsolete), m_szName(DuplicateString(szName)), m_ucType(ucType), m_pUserData(pUserData)
{
}

ReflectedProperty::~ReflectedProperty()
{
	free(m_szName);
}

void** ReflectedUserData::AddUserData(uint32_t uiKey, Destructor pfnDestructor)
{
	if (!KASSERT(m_UserDataCount < ARRAY_COUNT(m_rgUserData)))
		return nullptr;
	tEntry& Entry = m_rgUserData[m_UserDataCount++];
	Entry.m_uiKey = uiKey;
	Entry.m_pfnDestructor = pfnDestructor;
	Entry.m_pData = nullptr;
	return &Entry.m_pData;
}

void** ReflectedUserData::GetUserData(uint32_t uiKey)
{
	for (size_t i = 0; i < m_UserDataCount; i++)
	{
		if (m_rgUserData[i].m_uiKey == uiKey)
			return &m_rgUserData[i].m_pData;
	}
	return nullptr;
}

void ReflectedUserData::Clear()
{
	for (size_t i = 0; i < m_UserDataCount; i++)
	{
		if (m_rgUserData[i].m_pfnDestructor)
			m_rgUserData[i].m_pfnDestructor(&m_rgUserData[i].m_pData);
	}
	m_UserDataCount = 0;
}

ReflectedClass::ReflectedClass(const char* szName, ReflectedClass* pBaseClass)
	: m_pClassInterface(nullptr), m_bSealed(false), m_szName(DuplicateString(szName)), m_pBaseClass(pBaseClass)
{
	GetLiveClasses().insert(this);
}

ReflectedClass::~ReflectedClass()
{
	GetLiveClasses().erase(this);
	Kestrin3D::Interfaces::DetachView(m_pClassInterface);
	Clear();
	free(m_szName);
}

bool ReflectedClass::IsLive(const ReflectedClass* pClass)
{
	return pClass && GetLiveClasses().count(pClass) != 0;
}

bool CBaseObject::IsA(ReflectedClass* pClass)
{
	// An object without a reflected class is of no class.
	ReflectedClass* pOwnClass = GetReflectedClass();
	return pOwnClass && pClass && pOwnClass->IsA(pClass);
}

bool ReflectedClass::IsA(const ReflectedClass* pOther) const
{
	for (const ReflectedClass* pClass = this; pClass; pClass = pClass->m_pBaseClass)
	{
		if (pClass == pOther)
			return true;
	}
	return false;
}

ReflectedFunction* ReflectedClass::RegisterFunction(const char* szName, const char* szMask, NativeFunction pfnNative,
	void* pUserData, bool bObsolete)
{
	return AppendFunction(m_Functions, ScriptFunction(szName, szMask, pfnNative), pUserData, bObsolete);
}

ReflectedFunction* ReflectedClass::RegisterFunction(const char* szName, const char* szMask,
	ModuleNativeFunction pfnNative, void* pUserData, bool bObsolete)
{
	return AppendFunction(m_Functions, ScriptFunction(szName, szMask, pfnNative), pUserData, bObsolete);
}

void ReflectedClass::RegisterConstructor(const char* szMask, NativeFunction pfnNative, void* pUserData)
{
	m_Constructor.Set(ScriptFunction(m_szName, szMask, pfnNative), pUserData, false);
}

void ReflectedClass::RegisterConstructor(const char* szMask, ModuleNativeFunction pfnNative, void* pUserData)
{
	m_Constructor.Set(ScriptFunction(m_szName, szMask, pfnNative), pUserData, false);
}

void ReflectedClass::RegisterClone(NativeFunction pfnNative, void* pUserData)
{
	m_Clone.Set(ScriptFunction("clone", "t", pfnNative), pUserData, false);
}

void ReflectedClass::RegisterClone(ModuleNativeFunction pfnNative, void* pUserData)
{
	m_Clone.Set(ScriptFunction("clone", "t", pfnNative), pUserData, false);
}

void ReflectedClass::RegisterToString(NativeFunction pfnNative, void* pUserData)
{
	m_ToString.Set(ScriptFunction("toString", "t", pfnNative), pUserData, false);
}

void ReflectedClass::RegisterToString(ModuleNativeFunction pfnNative, void* pUserData)
{
	m_ToString.Set(ScriptFunction("toString", "t", pfnNative), pUserData, false);
}

void ReflectedClass::RegisterMove(ModuleNativeFunction pfnNative, void* pUserData)
{
	m_Move.Set(ScriptFunction("move", "t", pfnNative), pUserData, false);
}

ReflectedProperty* ReflectedClass::AddProperty(void* pUserData, const char* szName, uint8_t ucType,
	NativeFunction pfnGetter, NativeFunction pfnSetter, bool bObsolete)
{
	return AppendProperty(m_Properties, pUserData, szName, ucType, pfnGetter, pfnSetter, bObsolete, "t");
}

ReflectedProperty* ReflectedClass::AddProperty(void* pUserData, const char* szName, uint8_t ucType,
	ModuleNativeFunction pfnGetter, ModuleNativeFunction pfnSetter, bool bObsolete)
{
	return AppendProperty(m_Properties, pUserData, szName, ucType, pfnGetter, pfnSetter, bObsolete, "t");
}

ReflectedProperty* ReflectedClass::GetProperty(const char* szName) const
{
	for (const ReflectedClass* pClass = this; pClass; pClass = pClass->m_pBaseClass)
	{
		if (ReflectedProperty* pProperty = FindNamed(pClass->m_Properties, szName))
			return pProperty;
	}
	// Scripts look names up here at a high rate (Lua: every method, every global variable).
	SetErrorJoined("Property ", szName ? szName : "", " not found.");
	return nullptr;
}

void ReflectedClass::Clear()
{
	m_Constructor.Reset();
	m_Clone.Reset();
	m_Move.Reset();
	m_ToString.Reset();
	DeleteAll(m_Functions);
	DeleteAll(m_Properties);
	m_UserData.Clear();
}

ReflectedNamespace::ReflectedNamespace(const char* szName)
	: m_pNamespaceInterface(nullptr), m_bSealed(false), m_bModuleMade(false), m_szName(DuplicateString(szName)),
	  m_szAlias(nullptr), m_pStreamClass(nullptr), m_pMatrix4x4Class(nullptr), m_pVec2Class(nullptr),
	  m_pVec3Class(nullptr)
{
}

ReflectedNamespace::~ReflectedNamespace()
{
	Kestrin3D::Interfaces::DetachView(m_pNamespaceInterface);
	// Clearing an already cleared namespace does nothing; doing it here keeps a forgotten Clear from leaking.
	Clear();
	free(m_szName);
	free(m_szAlias);
}

void ReflectedNamespace::SetAlias(const char* szAlias)
{
	free(m_szAlias);
	m_szAlias = DuplicateString(szAlias);
}

ReflectedNamespace* ReflectedNamespace::AddNamespace(const char* szName)
{
	if (!szName)
		return nullptr;
	if (ReflectedNamespace* pChild = FindNamed(m_Namespaces, szName))
		return pChild;
	SetError("%s", "");
	ReflectedNamespace* pChild = new ReflectedNamespace(szName);
	m_Namespaces.push_back(pChild);
	return pChild;
}

ReflectedNamespace* ReflectedNamespace::GetNamespace(const char* szName) const
{
	if (ReflectedNamespace* pChild = FindNamed(m_Namespaces, szName))
		return pChild;
	SetError("Namespace %s not found.", szName ? szName : "");
	return nullptr;
}

ReflectedClass* ReflectedNamespace::NewClass(const char* szName, ReflectedClass* pBaseClass)
{
	ReflectedClass* pClass = new ReflectedClass(szName, pBaseClass);
	m_Classes.push_back(pClass);
	if (NameIs(szName, "Stream"))
		m_pStreamClass = pClass;
	else if (NameIs(szName, "Matrix4x4"))
		m_pMatrix4x4Class = pClass;
	else if (NameIs(szName, "Vec2"))
		m_pVec2Class = pClass;
	else if (NameIs(szName, "Vec3"))
		m_pVec3Class = pClass;
	return pClass;
}

ReflectedFunction* ReflectedNamespace::RegisterFunction(const char* szName, const char* szMask,
	NativeFunction pfnNative, void* pUserData, bool bObsolete)
{
	return AppendFunction(m_Functions, ScriptFunction(szName, szMask, pfnNative), pUserData, bObsolete);
}

ReflectedFunction* ReflectedNamespace::RegisterFunction(const char* szName, const char* szMask,
	ModuleNativeFunction pfnNative, void* pUserData, bool bObsolete)
{
	return AppendFunction(m_Functions, ScriptFunction(szName, szMask, pfnNative), pUserData, bObsolete);
}

ReflectedFunction* ReflectedNamespace::RegisterFunction(const ScriptFunction* pFunction, void* pUserData,
	bool bObsolete)
{
	if (!KASSERT(pFunction))
		return nullptr;
	ScriptFunction Copy(pFunction->m_szName, pFunction->m_szMask, pFunction->m_pfnNative);
	Copy.m_pfnModuleNative = pFunction->m_pfnModuleNative;
	return AppendFunction(m_Functions, std::move(Copy), pUserData, bObsolete);
}

ReflectedProperty* ReflectedNamespace::AddProperty(void* pUserData, const char* szName, uint8_t ucType,
	NativeFunction pfnGetter, NativeFunction pfnSetter, bool bObsolete)
{
	return AppendProperty(m_Properties, pUserData, szName, ucType, pfnGetter, pfnSetter, bObsolete, "");
}

ReflectedProperty* ReflectedNamespace::AddProperty(void* pUserData, const char* szName, uint8_t ucType,
	ModuleNativeFunction pfnGetter, ModuleNativeFunction pfnSetter, bool bObsolete)
{
	return AppendProperty(m_Properties, pUserData, szName, ucType, pfnGetter, pfnSetter, bObsolete, "");
}

ReflectedProperty* ReflectedNamespace::GetProperty(const char* szName) const
{
	if (ReflectedProperty* pProperty = FindNamed(m_Properties, szName))
		return pProperty;
	SetErrorJoined("Property ", szName ? szName : "", " not found.");
	return nullptr;
}

void ReflectedNamespace::Clear()
{
	DeleteAll(m_Functions);
	DeleteAll(m_Properties);
	for (ReflectedClass* pClass : m_Classes)
	{
		pClass->Clear();
		delete pClass;
	}
	m_Classes.clear();
	// The remembered classes were among those just deleted.
	m_pStreamClass = nullptr;
	m_pMatrix4x4Class = nullptr;
	m_pVec2Class = nullptr;
	m_pVec3Class = nullptr;
	for (ReflectedNamespace* pChild : m_Namespaces)
	{
		pChild->Clear();
		delete pChild;
	}
	m_Namespaces.clear();
}

void ReflectedNamespace::Seal()
{
	m_bSealed = true;
	for (ReflectedClass* pClass : m_Classes)
		pClass->m_bSealed = true;
	for (ReflectedNamespace* pChild : m_Namespaces)
		pChild->Seal();
}
