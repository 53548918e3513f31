#pragma once
// The JavaScript language of the script host, on SpiderMonkey. One context serves the whole process; every resource
// gets its own global object and so its own realm, and one further global, the shared global, holds the
// prototypes of the engine's classes and the wrapper of every engine object a script has seen. All of them share
// one compartment, so scripts reach those directly: a call crosses only into the shared global's realm, with no
// cross-compartment wrapper to go through on every property read and call.
//
// Everything here runs on the main thread. Scripts are strict-mode code. A promise reaction runs at once, inside
// the call that queued it; only the engine's own continuations of await wait until the outermost script call
// returns (an async function cannot resume while it is still running).
//
// Lifetimes, kept by counts and roots rather than by call order, under the rules the Lua binding states for all
// three languages (its main header):
// - An environment is counted: the resource holds one reference until Destroy, its realm one until the engine
//   destroys the realm, and every function value made from its code one.
// - Destroy marks the environment destroyed, forgets its resource and lets go of its global and of the functions
//   made from its code. From then on, and once the language is gone, calling such a function runs nothing: it
//   logs "Cannot call a function of a stopped resource" and fails. The line has no "SCRIPT ERROR: " before it:
//   JavaScript logs its errors as their bare text (then their place), and this one follows suit.
// - Errors are reported while the failing environment is still current, since reporting one may run the thrown
//   value's own toString.
// - Every script object the engine holds (function values, tag-14 values, globals) is known to the language, which
//   lets go of all of them before it destroys its context; they are empty from then on and never touched again.
// - Conversions fail for arrays and maps that contain themselves ("Cannot convert a value that contains itself")
//   or nest deeper than ARGUMENT_MAX_ENCODED_DEPTH levels ("Cannot convert a value nested deeper than 64
//   levels"), as a script error in the calling script, or logged when the engine called the script. So do an
//   array longer than 4194304 elements and a value (all the arguments of one call) that would make more array
//   elements than that in all, counting an array once for every place that holds it ("Cannot convert more than
//   4194304 array elements at once"): no heap of this size holds more, and a few arrays that share one large
//   array would otherwise make copies enough to exhaust memory.
// - A tag-14 value roots its object and is wrapped for the realm it enters; an engine function handed to a script
//   is kept by the script function made for it until that is collected; byte values are copied.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <jsapi.h>
#include <js/CallArgs.h>
#include <js/Promise.h>
#include <js/RootingAPI.h>

#include "Engine/KestrinArguments.h"
#include "Engine/KestrinArray.h"
#include "Engine/KestrinNative.h"

class CJSReferenceable;
class CJSScriptEnvironment;
class CJSScripting;
class CJSScriptingClass;
class CJSJobQueue;
class CJSHeldObject;
class CJSFunction;
struct tJSClassRecord;

// What a native function or method keeps in its first reserved slot: the function, its user data and the language.
// One slot read per call, and no lookup of the language through the context. The language keeps one record per
// function and user data until it is destroyed, since its functions may outlive the classes they were made for.
struct tJSNativeFunction
{
	const ScriptFunction* m_pFunction;
	void* m_pUserData;
	CJSScripting* m_pScripting;
};

// Makes the language and adds it to the registry under "SpiderMonkey". False when the engine, its context, its
// self-hosted code, the shared global or the root class cannot be made (an engine that cannot start logs its
// failure text); the server then runs without JavaScript.
bool RegisterJSVM(CScripting* pScripting);

class CJSScripting : public CScriptingVM
{
public:
	// Starts the engine once per process and arranges its shutdown at exit. Null on success (also on later
	// calls), otherwise the engine's failure text, which every later call returns as well.
	static const char* InitialiseEngine();
	// Shuts the engine down; no language may exist any more. Later calls do nothing.
	static void ShutDownEngine();

	// A new language over the registry, not yet registered; null (after logging why) when it cannot be made.
	static CJSScripting* Create(CScripting* pScripting);
	// The language that owns a context.
	static CJSScripting* FromContext(JSContext* cx);

	~CJSScripting() override;

	CJSScripting(const CJSScripting&) = delete;
	CJSScripting& operator=(const CJSScripting&) = delete;

	bool DefineClasses() override;
	void CollectGarbage() override;
	CScriptEnvironment* CreateEnvironment(const char* szResourceName) override;
	// The environment of the innermost script frame's realm; JavaScript needs no call stack of the caller's.
	uintptr_t FindCallingCode(void* pCallStack) override;

	// Engine value to a script value in the current realm, for an argument passed into JavaScript. False (with
	// an exception pending) when the engine fails.
	bool GetJSValue(const CArgument* pValue, JS::MutableHandleValue Out);
	// The same for the return value of a native called from JavaScript.
	bool SetJSReturnValue(const CArgument* pValue, JS::CallArgs& Args);
	// The script value of nothing (undefined), null, undefined, a boolean or a number: a value of no realm, made
	// without the engine. False, setting nothing, for every other value.
	static bool ToScalarJSValue(const CArgument* pValue, JS::MutableHandleValue Out);
	// Appends the engine value of a script value; functions made from it belong to pEnvironment. False (with an
	// exception pending) when the engine fails, the value nests too deep or it holds too many array elements.
	bool AddJSValue(CArgumentArray* pArray, CJSScriptEnvironment* pEnvironment, JS::HandleValue Value);
	// The same for every argument of a call, which together may hold no more array elements than one value.
	bool AddJSArguments(CArgumentArray* pArray, CJSScriptEnvironment* pEnvironment, const JS::CallArgs& Args);

	// Takes the pending exception, clears it and logs it.
	void HandleError();
	// Logs one exception value: its text, then "File: %s Line: %d Column: %d" when the place is known.
	void HandleError(JS::HandleValue Value);

	// Class of every class of the namespace and its children; run inside the shared global's realm.
	bool DefineClasses(ReflectedNamespace* pNamespace);
	// Constructors, functions, properties and child namespaces of the namespace onto the target, in its realm.
	bool DefineNamespace(ReflectedNamespace* pNamespace, JS::HandleObject Target);

	// Environments whose code is running; the top one is the calling resource of every native call.
	void PushEnvironment(CJSScriptEnvironment* pEnvironment);
	void PopEnvironment();
	CJSScriptEnvironment* GetCurrentEnvironment() const
	{
		LinkedList<CJSScriptEnvironment*>::Node* pNode = m_EnvironmentStack.GetFirstNode();
		return pNode != nullptr ? pNode->GetValue() : nullptr;
	}

	// The environment whose realm an object was made in: every environment's global, its namespace objects and
	// their natives live in a realm of their own. Null for the shared global's realm, which is no environment's.
	static CJSScriptEnvironment* GetRealmEnvironment(JSObject* pObject);
	static CJSScriptEnvironment* GetRealmEnvironment(JS::Realm* pRealm);

	// Puts an environment on top of the environment stack while it lives, unless it is the current one already
	// (pCurrent, as the caller read it) or null: code that runs for one environment from inside another's call (a
	// namespace native, a promise reaction) is seen as that environment's by everything it calls. Counted
	// meanwhile: the code may stop the resource, which lets go of the environment.
	class CRunningEnvironment
	{
	public:
		CRunningEnvironment(CJSScripting* pScripting, CJSScriptEnvironment* pEnvironment, CJSScriptEnvironment* pCurrent) :
			m_pScripting(pScripting),
			m_pPushed(pEnvironment != pCurrent ? pEnvironment : nullptr)
		{
			if (m_pPushed != nullptr)
				Push();
		}
		~CRunningEnvironment()
		{
			if (m_pPushed != nullptr)
				Pop();
		}

		CRunningEnvironment(const CRunningEnvironment&) = delete;
		CRunningEnvironment& operator=(const CRunningEnvironment&) = delete;

	private:
		void Push();
		void Pop();

		CJSScripting* m_pScripting;
		CJSScriptEnvironment* m_pPushed;
	};
	// Once no script call is running any more: the engine's deferred promise jobs (see CJSJobQueue).
	void RunDeferredJobs();

	JSContext* GetContext() const { return m_cx; }
	CScripting* GetScripting() const { return m_pScripting; }
	uint32_t GetId() const { return m_uiId; }
	JSObject* GetSharedGlobal() const { return m_SharedGlobal.get(); }
	CJSScriptingClass* GetRootClass() const { return m_pRootClass; }
	const ScriptFunction* GetCallbackFunction() const { return &m_CallbackFunction; }

	// The record of a native function or method over the function and its user data, made on first request.
	const tJSNativeFunction* GetNativeFunction(const ScriptFunction* pFunction, void* pUserData);

	// A class record that objects may still use; kept until the context is gone.
	void RetireClassRecord(tJSClassRecord* pRecord);
	void EmptyClassTrash();

	// Bindings whose script object the engine may move or collect; their weak pointer is updated after each
	// collection.
	void AddBinding(CJSReferenceable* pBinding) { m_Bindings.insert(pBinding); }
	void RemoveBinding(CJSReferenceable* pBinding) { m_Bindings.erase(pBinding); }
	// A binding read from a dead object's slot during a collection may already be gone.
	bool HasBinding(CJSReferenceable* pBinding) const { return m_Bindings.count(pBinding) != 0; }
	void AddEnvironment(CJSScriptEnvironment* pEnvironment) { m_Environments.insert(pEnvironment); }
	void RemoveEnvironment(CJSScriptEnvironment* pEnvironment) { m_Environments.erase(pEnvironment); }
	void AddHeldObject(CJSHeldObject* pHeld) { m_HeldObjects.insert(pHeld); }
	void RemoveHeldObject(CJSHeldObject* pHeld) { m_HeldObjects.erase(pHeld); }

private:
	explicit CJSScripting(CScripting* pScripting);
	bool Initialise();
	bool DefineGlobal(JS::HandleObject Global);
	bool ToJSValue(const CArgument* pValue, JS::MutableHandleValue Out, bool bReturn, unsigned Depth);
	// Path holds the arrays being converted, outermost first.
	bool ToArgument(CArgumentArray* pArray, CJSScriptEnvironment* pEnvironment, JS::HandleValue Value,
		JS::MutableHandle<JS::StackGCVector<JSObject*>> Path);
	// Counts the array elements that the conversions now running will make.
	class CConversionBudget;
	// A new object of a by-value class holding the vector or matrix, owned by its wrapper.
	bool MakeValueObject(ReflectedClass* pClass, const CArgument* pValue, JS::MutableHandleValue Out, bool bReturn);

	static void UpdateWeakPointers(JSTracer* pTracer, void* pData);
	static void DestroyRealmCallback(JS::GCContext* pGC, JS::Realm* pRealm);
	static void PromiseRejectionTrackerCallback(JSContext* cx, bool bMutedErrors, JS::HandleObject Promise,
		JS::PromiseRejectionHandlingState State, void* pData);

	CScripting* m_pScripting;
	uint32_t m_uiId;
	JSContext* m_cx;
	JS::PersistentRooted<JSObject*> m_SharedGlobal;
	LinkedList<CJSScriptEnvironment*> m_EnvironmentStack;
	CJSScriptingClass* m_pRootClass;
	ScriptFunction m_CallbackFunction;
	std::vector<tJSClassRecord*> m_ClassTrash;
	std::unique_ptr<CJSJobQueue> m_pJobQueue;
	std::unordered_set<CJSReferenceable*> m_Bindings;
	std::unordered_set<CJSScriptEnvironment*> m_Environments;
	std::unordered_set<CJSHeldObject*> m_HeldObjects;
	// By function; each record is one function with one user data.
	std::unordered_multimap<const ScriptFunction*, std::unique_ptr<tJSNativeFunction>> m_NativeFunctions;
	// Array elements that the running conversions (those started by getters during one included) have made; the
	// same array reached many times counts each time.
	size_t m_ConvertedElements;
	unsigned m_ConversionDepth;
};

// A script object held from the engine side. Empty once let go of, and once the language is gone.
class CJSHeldObject
{
public:
	// With a null language or object the holder starts empty.
	CJSHeldObject(CJSScripting* pScripting, JSObject* pObject);
	~CJSHeldObject();

	CJSHeldObject(const CJSHeldObject&) = delete;
	CJSHeldObject& operator=(const CJSHeldObject&) = delete;

	JSObject* Get() const { return m_Root.initialized() ? m_Root.get() : nullptr; }
	CJSScripting* GetScripting() const { return m_pScripting; }
	void Reset() { m_Root.reset(); }
	// The language is closing: let go and forget it.
	void Detach();

private:
	CJSScripting* m_pScripting;
	JS::PersistentRooted<JSObject*> m_Root;
};

// The global scope of one resource.
class CJSScriptEnvironment : public CBaseObject, public CScriptEnvironment
{
public:
	// Both bases come from CBase; the object is allocated and freed through one of them.
	using CBaseObject::operator new;
	using CBaseObject::operator delete;

	explicit CJSScriptEnvironment(CJSScripting* pScripting);
	~CJSScriptEnvironment() override;

	// Unroots the global, forgets the resource and drops the resource's reference.
	void Destroy() override;
	bool DoFile(Stream* pStream, const char* szName) override;

	// Whether code of this environment may still run: not destroyed, and the language still exists.
	bool IsUsable() const { return !HasEnded() && m_pScripting != nullptr; }
	// The language is going away.
	void Detach() { m_pScripting = nullptr; }

	CJSScripting* GetScripting() const { return m_pScripting; }
	JSObject* GetGlobal() const { return m_pGlobal != nullptr ? m_pGlobal->Get() : nullptr; }
	// Also keeps the global's realm, by which natives called in it find this environment.
	void SetGlobal(JSObject* pGlobal);
	// The realm of the global; it lives at least as long as this environment's natives and code. Null once the
	// engine has destroyed it.
	JS::Realm* GetRealm() const { return m_pRealm; }
	void ForgetRealm() { m_pRealm = nullptr; }

	void AddFunction(CJSFunction* pFunction) { m_Functions.insert(pFunction); }
	void RemoveFunction(CJSFunction* pFunction) { m_Functions.erase(pFunction); }

private:
	CJSScripting* m_pScripting;
	std::unique_ptr<CJSHeldObject> m_pGlobal;
	JS::Realm* m_pRealm;
	std::unordered_set<CJSFunction*> m_Functions;
};

// A JavaScript callable as an engine function value.
class CJSFunction : public CFunction
{
public:
	CJSFunction(CJSScriptEnvironment* pEnvironment, JSObject* pCallable);
	~CJSFunction() override;

	bool Call(const CArgumentArray& Arguments, CReturnValue* pResult) override;

	CJSScriptEnvironment* GetEnvironment() const { return m_pEnvironment; }
	// Null once the environment was destroyed or the language is gone.
	JSObject* GetCallable() const { return m_Function.Get(); }
	void ReleaseFunction() { m_Function.Reset(); }

private:
	Strong<CJSScriptEnvironment> m_pEnvironment;
	CJSHeldObject m_Function;
};

// A script object that has no engine counterpart, held by the engine (tag 14).
class CArgumentJSValue : public CArgument
{
public:
	CArgumentJSValue(CJSScripting* pScripting, JSObject* pObject);
	~CArgumentJSValue() override;

	CArgument* Clone() const override;

	// Null once the language is gone.
	JSObject* GetObject() const { return m_Object.Get(); }

private:
	CJSHeldObject m_Object;
};
