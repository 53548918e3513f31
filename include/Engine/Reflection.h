#pragma once
// The reflection registry: every script-visible namespace, function, property and class is declared once in a tree
// rooted at the namespace "global" of CScripting. Each script language walks the tree to build its own bindings,
// the documentation dump writes it out, and plug-in modules add to it.
//
// Lookups are linear and case-sensitive. The registry is built and read on the main thread only.

#include <cstddef>
#include <cstdint>
#include <typeinfo>
#include <utility>
#include <vector>

#include "Engine/BaseObject.h"
#include "Engine/ScriptFunction.h"

class CArgument;
class CScripting;
namespace Kestrin3D
{
namespace Interfaces
{
class IReflectedClass;
class IReflectedNamespace;
}
}

// One registered function or method.
class ReflectedFunction
{
public:
	ReflectedFunction() : m_bObsolete(false), m_pUserData(nullptr) {}

	const char* GetName() const { return m_Function.GetName(); }
	// A special function (constructor, clone, move, to-string) is present when either native is set.
	bool IsPresent() const { return m_Function.CanCall(); }
	// Fills the entry, replacing what was there.
	void Set(ScriptFunction&& Function, void* pUserData, bool bObsolete);
	void Reset();

	// Names kept only for old scripts; the documentation dump marks them, the bindings treat them as any other.
	bool m_bObsolete;
	ScriptFunction m_Function;
	// Passed unchanged as the native's third argument.
	void* m_pUserData;
};

// A named value read and written through natives.
class ReflectedProperty
{
public:
	ReflectedProperty(const char* szName, uint8_t ucType, void* pUserData, bool bObsolete);
	~ReflectedProperty();

	ReflectedProperty(const ReflectedProperty&) = delete;
	ReflectedProperty& operator=(const ReflectedProperty&) = delete;

	const char* GetName() const { return m_szName; }
	bool IsReadOnly() const { return !m_Setter.CanCall(); }

	bool m_bObsolete;
	ScriptFunction m_Getter;
	// Has no natives when the property is read-only.
	ScriptFunction m_Setter;
	char* m_szName;
	// The value kind the getter returns (a CArgument type tag); documentation only.
	uint8_t m_ucType;
	void* m_pUserData;
};

// Per-language data of one class: each language keeps its class object here under its language id.
class ReflectedUserData
{
public:
	typedef void (*Destructor)(void** ppSlot);

	enum
	{
		MAX_ENTRIES = 16,
	};

	struct tEntry
	{
		uint32_t m_uiKey;
		Destructor m_pfnDestructor;
		void* m_pData;
	};

	ReflectedUserData() : m_UserDataCount(0), m_rgUserData() {}

	// Appends an entry with an empty data slot and returns the slot's address; null when the table is full.
	void** AddUserData(uint32_t uiKey, Destructor pfnDestructor);
	// The data slot of the first entry with that key, or null.
	void** GetUserData(uint32_t uiKey);
	// Runs every destructor with the address of its slot and empties the table.
	void Clear();

	size_t m_UserDataCount;
	tEntry m_rgUserData[MAX_ENTRIES];
};

// A script class.
class ReflectedClass
{
public:
	ReflectedClass(const char* szName, ReflectedClass* pBaseClass);
	~ReflectedClass();

	ReflectedClass(const ReflectedClass&) = delete;
	ReflectedClass& operator=(const ReflectedClass&) = delete;

	const char* GetName() const { return m_szName; }
	ReflectedClass* GetBaseClass() const { return m_pBaseClass; }
	// True when pOther is this class or one of its bases.
	bool IsA(const ReflectedClass* pOther) const;

	ReflectedFunction* RegisterFunction(const char* szName, const char* szMask, NativeFunction pfnNative,
		void* pUserData = nullptr, bool bObsolete = false);
	ReflectedFunction* RegisterFunction(const char* szName, const char* szMask, ModuleNativeFunction pfnNative,
		void* pUserData = nullptr, bool bObsolete = false);

	// The constructor carries the class's name and the given mask; a later registration replaces it.
	void RegisterConstructor(const char* szMask, NativeFunction pfnNative, void* pUserData = nullptr);
	void RegisterConstructor(const char* szMask, ModuleNativeFunction pfnNative, void* pUserData = nullptr);
	void RegisterClone(NativeFunction pfnNative, void* pUserData = nullptr);
	void RegisterClone(ModuleNativeFunction pfnNative, void* pUserData = nullptr);
	void RegisterToString(NativeFunction pfnNative, void* pUserData = nullptr);
	void RegisterToString(ModuleNativeFunction pfnNative, void* pUserData = nullptr);
	// Only plug-in modules provide move functions.
	void RegisterMove(ModuleNativeFunction pfnNative, void* pUserData = nullptr);

	// Getter and setter are called on an instance, so they carry the mask "t". A null setter makes the property
	// read-only.
	ReflectedProperty* AddProperty(void* pUserData, const char* szName, uint8_t ucType, NativeFunction pfnGetter,
		NativeFunction pfnSetter = nullptr, bool bObsolete = false);
	ReflectedProperty* AddProperty(void* pUserData, const char* szName, uint8_t ucType, ModuleNativeFunction pfnGetter,
		ModuleNativeFunction pfnSetter = nullptr, bool bObsolete = false);

	// Searches this class, then its bases, so a class can hide a base property by registering the same name.
	// Absent everywhere: null with "Property %s not found." as the last-error text.
	ReflectedProperty* GetProperty(const char* szName) const;

	const std::vector<ReflectedFunction*>& GetFunctions() const { return m_Functions; }
	const std::vector<ReflectedProperty*>& GetProperties() const { return m_Properties; }

	// Empties the special slots, deletes methods and properties, and releases every language's data.
	void Clear();

	// Whether the class still exists: objects keep a plain pointer to their class and can outlive it at shutdown.
	static bool IsLive(const ReflectedClass* pClass);

	// The plug-in module's view, made on first request; the class detaches it when it goes.
	Kestrin3D::Interfaces::IReflectedClass* m_pClassInterface;
	// Set once the script languages have bound the class: plug-in modules may no longer change it.
	bool m_bSealed;
	char* m_szName;
	ReflectedClass* m_pBaseClass;
	ReflectedUserData m_UserData;
	ReflectedFunction m_Constructor;
	ReflectedFunction m_Clone;
	ReflectedFunction m_Move;
	ReflectedFunction m_ToString;
	std::vector<ReflectedFunction*> m_Functions;
	std::vector<ReflectedProperty*> m_Properties;
};

// A named scope of functions, properties, classes and child namespaces.
class ReflectedNamespace
{
public:
	explicit ReflectedNamespace(const char* szName);
	~ReflectedNamespace();

	ReflectedNamespace(const ReflectedNamespace&) = delete;
	ReflectedNamespace& operator=(const ReflectedNamespace&) = delete;

	const char* GetName() const { return m_szName; }
	// A second name under which the bindings also publish this namespace in its parent; null for none.
	const char* GetAlias() const { return m_szAlias; }
	void SetAlias(const char* szAlias);

	// The existing child of that name, or a new empty one.
	ReflectedNamespace* AddNamespace(const char* szName);
	// The child, or null with "Namespace %s not found." as the last-error text.
	ReflectedNamespace* GetNamespace(const char* szName) const;

	// A class named exactly "Stream", "Matrix4x4", "Vec2" or "Vec3" also becomes this namespace's remembered class of
	// that name (a later one replaces it).
	ReflectedClass* NewClass(const char* szName, ReflectedClass* pBaseClass = nullptr);

	ReflectedFunction* RegisterFunction(const char* szName, const char* szMask, NativeFunction pfnNative,
		void* pUserData = nullptr, bool bObsolete = false);
	ReflectedFunction* RegisterFunction(const char* szName, const char* szMask, ModuleNativeFunction pfnNative,
		void* pUserData = nullptr, bool bObsolete = false);
	// The function's strings are copied.
	ReflectedFunction* RegisterFunction(const ScriptFunction* pFunction, void* pUserData = nullptr,
		bool bObsolete = false);

	// Getter and setter carry an empty mask. A null setter makes the property read-only.
	ReflectedProperty* AddProperty(void* pUserData, const char* szName, uint8_t ucType, NativeFunction pfnGetter,
		NativeFunction pfnSetter = nullptr, bool bObsolete = false);
	ReflectedProperty* AddProperty(void* pUserData, const char* szName, uint8_t ucType, ModuleNativeFunction pfnGetter,
		ModuleNativeFunction pfnSetter = nullptr, bool bObsolete = false);
	// The first property of that name, or null with "Property %s not found." as the last-error text.
	ReflectedProperty* GetProperty(const char* szName) const;

	const std::vector<ReflectedFunction*>& GetFunctions() const { return m_Functions; }
	const std::vector<ReflectedProperty*>& GetProperties() const { return m_Properties; }
	const std::vector<ReflectedClass*>& GetClasses() const { return m_Classes; }
	const std::vector<ReflectedNamespace*>& GetNamespaces() const { return m_Namespaces; }

	// Deletes every function, property and class, then every child namespace, recursively.
	void Clear();
	// Seals this namespace, its classes and its children, recursively.
	void Seal();

	// The plug-in module's view, made on first request; the namespace detaches it when it goes.
	Kestrin3D::Interfaces::IReflectedNamespace* m_pNamespaceInterface;
	// Set once the script languages have bound the namespace: plug-in modules may no longer change it.
	bool m_bSealed;
	// Made for a plug-in module (its own namespace or one it added): only such a namespace may be cleared by a
	// module, since the engine keeps pointers into its own.
	bool m_bModuleMade;
	char* m_szName;
	char* m_szAlias;
	std::vector<ReflectedFunction*> m_Functions;
	std::vector<ReflectedProperty*> m_Properties;
	std::vector<ReflectedClass*> m_Classes;
	std::vector<ReflectedNamespace*> m_Namespaces;
	// Only those of "global" are used: they turn objects into by-value arguments and back.
	ReflectedClass* m_pStreamClass;
	ReflectedClass* m_pMatrix4x4Class;
	ReflectedClass* m_pVec2Class;
	ReflectedClass* m_pVec3Class;
};

class Stream;
class CTextReader;

// What a held value keeps alive beyond the block of its holder: nothing for plain values; a stream its buffers; a
// text reader its text and the stream it reads.
template <class T>
size_t KHeldBytes(const T&)
{
	return 0;
}
size_t KHeldBytes(const Strong<Stream>& pStream);
size_t KHeldBytes(const AutoDelete<CTextReader>& pReader);

// An engine object that holds one value, behind the script classes that have no engine class of their own
// (Vec2, Vec3, Matrix4x4, Stream, TextReader, weak element handles).
template <class T>
class CObjectValue : public CBaseObject
{
public:
	explicit CObjectValue(ReflectedClass* pClass) : m_Value() { SetReflectedClass(pClass); }
	CObjectValue(ReflectedClass* pClass, const T& Value) : m_Value(Value) { SetReflectedClass(pClass); }
	CObjectValue(ReflectedClass* pClass, T&& Value) : m_Value(std::move(Value)) { SetReflectedClass(pClass); }

	T& GetValue() { return m_Value; }
	const T& GetValue() const { return m_Value; }

	size_t GetRetainedBytes() const override { return CBaseObject::GetRetainedBytes() + KHeldBytes(m_Value); }

	T m_Value;
};

// The object as a holder of a T, or null. Holders are met on every vector call: an object that is exactly one
// is told by its type alone, without the search of a dynamic cast (still made for anything else, such as holders
// of derived classes).
template <class T>
CObjectValue<T>* AsObjectValue(CBaseObject* pObject)
{
	if (pObject != nullptr && typeid(*pObject) == typeid(CObjectValue<T>))
		return static_cast<CObjectValue<T>*>(pObject);
	return dynamic_cast<CObjectValue<T>*>(pObject);
}

// Helpers that construct, convert, stringify, clone and move objects through their classes. Every failure leaves
// its reason as the last-error text.
namespace Reflection
{
// A new value for an object that a script hands to the engine: Matrix4x4, Vec3 and Vec2 objects (or objects of
// classes derived from them) become by-value matrices and vectors; any other object an object value.
CArgument* ToArgument(CBaseObject* pObject, CScripting* pScripting);

// A new object with one reference for the caller, made by the class's constructor without arguments; null when
// the class has no constructor or the constructor gave no object.
CBaseObject* Construct(CScripting* pScripting, ReflectedClass* pClass);

// The text from the class's to-string function as a malloc'ed copy that the caller frees; null on failure.
char* ToString(CBaseObject* pObject, size_t* pLength, CScripting* pScripting = nullptr);

// A copy made by the class's clone function, with one reference for the caller; null on failure.
CBaseObject* Clone(CBaseObject* pObject, CScripting* pScripting = nullptr);

// Moves pFrom into pTo through the class's move function.
bool Move(CBaseObject* pFrom, CBaseObject* pTo, CScripting* pScripting = nullptr);
}
