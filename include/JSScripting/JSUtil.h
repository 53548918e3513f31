#pragma once
// The reflection registry as JavaScript: one JSClass, prototype and constructor per reflected class, one wrapper
// per engine object a script holds, and the native functions and accessors that call engine natives.
//
// A wrapper never holds a count on its engine object; instead the object's binding roots the wrapper while the
// object has counts, and when the count reaches 0 the object waits (alive, count 0) until the engine collects the
// wrapper. So a script may go on using an object the engine has released.

#include <cstddef>
#include <cstdint>
#include <functional>

#include <jsapi.h>
#include <js/CallArgs.h>
#include <js/RootingAPI.h>

#include "Engine/KestrinNative.h"
#include "Engine/KestrinReference.h"

class CJSScripting;
class CJSScriptingClass;

constexpr size_t JS_CLASS_NAME_SIZE = 64;

// The engine keeps a pointer to the JSClass in every object of the class, so the record outlives every such object:
// a retired record waits in the language's class trash until no object of the class is left.
struct tJSClassRecord
{
	// First, so an object's JSClass leads back to its record.
	JSClass m_Class;
	JSClassOps m_Ops;
	char m_szName[JS_CLASS_NAME_SIZE];
	// Objects of the class not yet finalised.
	size_t m_LiveObjects;
	// Set by Initialise; the language outlives every object of the class.
	CJSScripting* m_pScripting;

	static tJSClassRecord* FromClass(const JSClass* pClass)
	{
		return reinterpret_cast<tJSClassRecord*>(const_cast<JSClass*>(pClass));
	}
};

// The JavaScript binding of one engine object, or of one class prototype (no engine object). Held in the object's
// JavaScript slot and in reserved slot 0 of its script object.
class CJSReferenceable : public IUserData
{
public:
	CJSReferenceable(CJSScripting* pScripting, CBaseObject* pObject, JSObject* pJSObject, CJSScriptingClass* pClass);
	~CJSReferenceable() override;

	CJSReferenceable(const CJSReferenceable&) = delete;
	CJSReferenceable& operator=(const CJSReferenceable&) = delete;

	// Unroots the script object; true while it still exists (the engine object must then wait for it).
	bool Destruct() override;
	// Tells the collector what engine memory the script object keeps alive: what the engine object retains while
	// the script object is all that keeps it (its count is 0), nothing once it has counts again.
	void UpdateAccount();

	// Makes the wrapper of an object that has none; null when the object has no class or the wrapper cannot
	// be made.
	static CJSReferenceable* Get(CJSScripting* pScripting, CBaseObject* pObject);
	// The binding of a script value (looked through cross-compartment wrappers); null for anything that is not an
	// object of an engine class.
	static CJSReferenceable* Get(JSObject* pObject, CJSScripting* pScripting);
	// Whether the object itself (not looked through wrappers) is of an engine class: such an object is neither
	// callable nor a buffer.
	static bool HasEngineClass(JSObject* pObject);
	// The script object wrapped for the current realm; null when it is gone or cannot be wrapped.
	JSObject* Get();

	// The weak pointer, read without telling the collector (for tests of existence only).
	bool HasScriptObject() const { return m_JSObject.unbarrieredGet() != nullptr; }
	bool IsRooted() const { return m_Root.initialized(); }
	void UpdateAfterGC(JSTracer* pTracer);
	// The finaliser of the script object.
	static void Finalise(JS::GCContext* pGC, JSObject* pObject);

	CJSScripting* m_pScripting;
	CBaseObject* m_pObject;
	JS::PersistentRooted<JSObject*> m_Root;
	// Weak: moved along by the collector and nulled when the object dies.
	JS::Heap<JSObject*> m_JSObject;
	// While set, scripts cannot add properties to the object.
	bool m_bNonExtensible;
	CJSScriptingClass* m_pClass;

	static int32_t m_iUserDataCount;
};

// What `new` runs for one class: context, the new object, the call, whether a script subclass is being built.
typedef std::function<bool(JSContext*, JS::HandleObject, JS::CallArgs&, bool)> JSConstructorCallback;

// The JavaScript side of one reflected class.
class CJSScriptingClass
{
public:
	explicit CJSScriptingClass(const char* szName);
	~CJSScriptingClass();

	CJSScriptingClass(const CJSScriptingClass&) = delete;
	CJSScriptingClass& operator=(const CJSScriptingClass&) = delete;

	// Makes the prototype (derived from the parent's) and constructor; must run in the shared global's realm.
	bool Initialise(CJSScripting* pScripting, CJSScriptingClass* pParent);
	// Binds a new script object of this class to an engine object; null for a null object or engine object.
	CJSReferenceable* Set(JSObject* pObject, CBaseObject* pEngineObject);
	// Whether the value is an instance of this class (its prototype is on the value's chain); false when the
	// engine failed.
	bool HasInstance(JS::HandleValue Value, bool* pbIsInstance);

	const char* GetName() const { return m_pRecord->m_szName; }
	const JSClass* GetClass() const { return &m_pRecord->m_Class; }
	// Null until initialised.
	JSObject* GetPrototype() const;
	CJSReferenceable* GetPrototypeBinding() const { return m_pPrototype; }

	CJSScripting* m_pScripting;
	tJSClassRecord* m_pRecord;
	CJSReferenceable* m_pPrototype;
	JSConstructorCallback m_Constructor;
};

namespace JSUtil
{
// Raises the text as an Error of the script that called the running native, made in that script's realm even when
// the native runs in the shared global's (a method, accessor or constructor), so `instanceof Error` holds there.
// Always false.
bool ReportError(JSContext* cx, const char* szText);
// The engine's ToString of the value as UTF-8; empty when the conversion fails (an exception is then pending).
bool ToString(JSContext* cx, JS::HandleValue Value, JS::UniqueChars& Out);
// Sets the call's return value to the object's wrapper, or null; true.
bool Return(CJSScripting* pScripting, CBaseObject* pObject, JS::CallArgs& Args);
// The object's wrapper in the current realm; null for a null object or one that cannot be wrapped.
JSObject* GetWrapper(CJSScripting* pScripting, CBaseObject* pObject);
// Its "constructor" / "prototype" property when that is an object, else null.
JSObject* GetPrototypeConstructor(JSContext* cx, JS::HandleObject Prototype);
JSObject* GetConstructorPrototype(JSContext* cx, JS::HandleObject Constructor);

// One native function or accessor property calling an engine native.
bool RegisterJSFunction(JSContext* cx, JS::HandleObject Target, const ScriptFunction* pFunction, bool bStatic,
	void* pUserData);
bool RegisterJSProperty(JSContext* cx, JS::HandleObject Target, void* pUserData, const char* szName,
	const ScriptFunction* pGetter, const ScriptFunction* pSetter, bool bStatic);

// A script function that calls an engine function value and keeps it alive until the script function is
// collected. With a null function it fails when called.
JSObject* NewFunctionValue(CJSScripting* pScripting, CFunction* pFunction);
// Whether the object is a script function made by NewFunctionValue (seen through wrappers); then its engine
// function, which may be null.
bool GetFunctionValue(JSObject* pObject, CFunction** ppFunction);

// The natives every namespace function, accessor and method is made of.
bool MethodFunctionStatic(JSContext* cx, unsigned argc, JS::Value* vp);
bool MethodFunctionThiscall(JSContext* cx, unsigned argc, JS::Value* vp);
}
