// Classes, wrappers, namespaces and the native call path of the JavaScript language.

#include "JSScripting/JSUtil.h"

#include <cstring>
#include <string>

#include <js/Conversions.h>
#include <js/MemoryFunctions.h>
#include <js/Object.h>
#include <js/PropertyAndElement.h>
#include <js/Realm.h>
#include <js/Symbol.h>
#include <js/Wrapper.h>
#include <jsfriendapi.h>
#include <mozilla/Maybe.h>

#include "Engine/KAssert.h"
#include "Engine/KError.h"
#include "Engine/KestrinString.h"
#include "JSScripting/CJSScripting.h"

int32_t CJSReferenceable::m_iUserDataCount = 0;

namespace
{
// The reserved slots of an object of an engine class (its binding) and of the holder of a function value (its
// function), then how much engine memory the collector counts for the object (a number; none is 0).
constexpr size_t BINDING_SLOT = 0;
constexpr size_t FUNCTION_SLOT = 0;
constexpr size_t ACCOUNT_SLOT = 1;

size_t GetAccount(JSObject* pObject)
{
	const JS::Value& Value = JS::GetReservedSlot(pObject, ACCOUNT_SLOT);
	return Value.isNumber() ? static_cast<size_t>(Value.toNumber()) : 0;
}

// The collector weighs a zone by the memory its objects hold as well as by their own size: told what engine memory
// an object keeps alive, it comes round to it in step with that memory, not only with its own small blocks.
// The engine takes an object's memory as one association, added once and removed whole with the size it was added
// with (a debug build of the engine aborts on anything else): a new amount replaces the old one, never adds to it.
void SetAccount(JSObject* pObject, size_t Bytes)
{
	const size_t Old = GetAccount(pObject);
	if (Bytes == Old)
		return;
	if (Old > 0)
		JS::RemoveAssociatedMemory(pObject, Old, JS::MemoryUse::Embedding1);
	if (Bytes > 0)
		JS::AddAssociatedMemory(pObject, Bytes, JS::MemoryUse::Embedding1);
	JS::SetReservedSlot(pObject, ACCOUNT_SLOT, JS::NumberValue(static_cast<double>(Bytes)));
}

// The binding of an object of an engine class, seen through cross-compartment wrappers.
CJSReferenceable* BindingOf(JSObject* pObject)
{
	if (pObject == nullptr)
		return nullptr;
	pObject = js::UncheckedUnwrap(pObject);
	if (!CJSReferenceable::HasEngineClass(pObject))
		return nullptr;
	const JSClass* pClass = JS::GetClass(pObject);
	CJSReferenceable* pBinding = JS::GetMaybePtrFromReservedSlot<CJSReferenceable>(pObject, BINDING_SLOT);
	tJSClassRecord* pRecord = tJSClassRecord::FromClass(pClass);
	if (pBinding == nullptr || pRecord->m_pScripting == nullptr)
		return nullptr;
	// A binding that goes while its object lives empties the object's slot, so the slot of a living object holds
	// a living binding, which points back at it. (Only the finaliser needs the language's list of bindings: there
	// the object is already dead and its binding may have gone first.)
	if (!KASSERT(pBinding->m_JSObject.unbarrieredGet() == pObject))
		return nullptr;
	return pBinding;
}

CJSScriptingClass* GetClassData(ReflectedClass* pClass, uint32_t uiId)
{
	void** ppSlot = pClass != nullptr ? pClass->m_UserData.GetUserData(uiId) : nullptr;
	return ppSlot != nullptr ? static_cast<CJSScriptingClass*>(*ppSlot) : nullptr;
}

void DestroyClassData(void** ppSlot)
{
	delete static_cast<CJSScriptingClass*>(*ppSlot);
	*ppSlot = nullptr;
}

JSObject* GetObjectProperty(JSContext* cx, JS::HandleObject Object, const char* szName)
{
	JS::RootedValue Value(cx);
	if (!JS_GetProperty(cx, Object, szName, &Value) || !Value.isObject())
		return nullptr;
	return &Value.toObject();
}

// The text of a property id for messages; symbols show their description.
std::string IdToText(JSContext* cx, JS::HandleId Id)
{
	JS::RootedValue Value(cx);
	if (Id.isSymbol())
	{
		JSString* pDescription = JS::GetSymbolDescription(JS::RootedSymbol(cx, Id.toSymbol()));
		Value = pDescription != nullptr ? JS::StringValue(pDescription) : JS::UndefinedValue();
	}
	else if (!JS_IdToValue(cx, Id, &Value))
		return std::string();
	JS::UniqueChars Text;
	if (!JSUtil::ToString(cx, Value, Text))
	{
		JS_ClearPendingException(cx);
		return std::string();
	}
	return Text.get();
}

// The global of the script that called the running native when that script runs in another realm: methods,
// accessors and constructors live in the shared global, so a script's call to them enters its realm.
JSObject* ForeignCallerGlobal(JSContext* cx)
{
	JSObject* pGlobal = JS::GetScriptedCallerGlobal(cx);
	if (pGlobal == nullptr || JS::GetObjectRealmOrNull(pGlobal) == js::GetContextRealm(cx))
		return nullptr;
	return pGlobal;
}

bool ReportFailure(JSContext* cx, const char* szText)
{
	return JSUtil::ReportError(cx, szText);
}

bool MethodAddProperty(JSContext* cx, JS::HandleObject Object, JS::HandleId Id, JS::HandleValue)
{
	CJSReferenceable* pBinding = BindingOf(Object);
	if (pBinding == nullptr || !pBinding->m_bNonExtensible)
		return true;
	const std::string Text = "can't define property \"" + IdToText(cx, Id) + "\": Object is not extensible";
	return ReportFailure(cx, Text.c_str());
}

// The script's arguments as engine values for a native; false with the script error pending.
bool ConvertArguments(CJSScripting* pScripting, CJSScriptEnvironment* pScriptEnvironment, JS::CallArgs& Args,
	CArgumentArray* pArguments)
{
	return pScripting->AddJSArguments(pArguments, pScriptEnvironment, Args);
}

// The resource a native runs for: that of the environment running the script.
CResource* CallingResource(CJSScriptEnvironment* pScriptEnvironment)
{
	return KASSERT(pScriptEnvironment) ? pScriptEnvironment->GetResource() : nullptr;
}

// The constructor path of one reflected class: the engine constructor makes the engine object, which the new
// script object then wraps.
bool MethodConstructor(JSContext* cx, JS::HandleObject NewObject, JS::CallArgs& Args, bool bDerived,
	ReflectedClass* pClass)
{
	const ReflectedFunction& Constructor = pClass->m_Constructor;
	if (!Constructor.IsPresent())
		return ReportFailure(cx, "Illegal constructor.");

	CJSScripting* pScripting = CJSScripting::FromContext(cx);
	CJSScriptEnvironment* pScriptEnvironment = pScripting->GetCurrentEnvironment();
	if (!pScripting->GetScripting()->CheckCaller(pScriptEnvironment))
		return ReportFailure(cx, g_szError);
	CArgumentArray Arguments(Args.length());
	if (!ConvertArguments(pScripting, pScriptEnvironment, Args, &Arguments))
		return false;
	CNativeState State(pScripting->GetScripting(), CallingResource(pScriptEnvironment), &Arguments, pScripting);
	if (!Constructor.m_Function.Call(&State, static_cast<int>(Args.length()), Constructor.m_pUserData))
		return ReportFailure(cx, g_szError);

	CArgument* pResult = State.m_RVal.GetReturnArgument();
	CBaseObject* pObject = pResult != nullptr && pResult->IsObject() ? pResult->ToObject() : nullptr;
	if (pObject == nullptr || pObject->GetReflectedClass() == nullptr)
		return ReportFailure(cx, "Constructor failed!");

	// An object scripts have seen before keeps its one wrapper; only a plain `new` can hand that back.
	if (pObject->GetJSScriptReference() != nullptr)
	{
		JSObject* pWrapper = bDerived ? nullptr : JSUtil::GetWrapper(pScripting, pObject);
		if (pWrapper == nullptr)
			return ReportFailure(cx, "Constructor failed!");
		Args.rval().setObject(*pWrapper);
		return true;
	}

	CJSScriptingClass* pObjectClass = GetClassData(pObject->GetReflectedClass(), pScripting->GetId());
	CJSReferenceable* pBinding = pObjectClass != nullptr ? pObjectClass->Set(NewObject, pObject) : nullptr;
	if (pBinding == nullptr)
		return ReportFailure(cx, "CJSScriptingClass::Set returned null!");
	// Instances of script subclasses carry their own fields.
	if (bDerived)
		pBinding->m_bNonExtensible = false;
	Args.rval().setObject(*NewObject);
	return true;
}

bool MethodConstruct(JSContext* cx, unsigned argc, JS::Value* vp)
{
	JS::CallArgs Args = JS::CallArgsFromVp(argc, vp);
	JS::RootedObject Callee(cx, &Args.callee());
	JS::RootedObject Prototype(cx, JSUtil::GetConstructorPrototype(cx, Callee));
	CJSReferenceable* pPrototypeBinding = BindingOf(Prototype);
	CJSScriptingClass* pClass = pPrototypeBinding != nullptr ? pPrototypeBinding->m_pClass : nullptr;
	if (pClass == nullptr || !pClass->m_Constructor)
		return ReportFailure(cx, "Illegal constructor.");
	if (!Args.isConstructing())
		return ReportFailure(cx, (std::string("Constructor ") + pClass->GetName() + " requires 'new'").c_str());

	JS::RootedObject NewTarget(cx, &Args.newTarget().toObject());
	bool bDerived = NewTarget != Callee;
	JS::RootedObject NewPrototype(cx, JSUtil::GetConstructorPrototype(cx, NewTarget));
	if (JS_IsExceptionPending(cx))
		return false;
	JS::RootedObject NewObject(cx, JS_NewObjectWithGivenProto(cx, pClass->GetClass(), NewPrototype));
	if (!NewObject)
		return false;
	pClass->m_pRecord->m_LiveObjects++;
	return pClass->m_Constructor(cx, NewObject, Args, bDerived);
}

// Methods and accessors of classes, and the function values they hand out, live in the shared global: they run in
// the shared global's realm. Their result belongs to the script that called them and is made in its realm (an array
// is one of its own arrays, instanceof Array holds); wrapping it for the native's realm changes nothing while all
// realms share one compartment.
bool SetCallerReturnValue(JSContext* cx, CJSScripting* pScripting, const CArgument* pValue, JS::CallArgs& Args)
{
	// Numbers and the like belong to no realm: the caller's need not be looked for.
	if (CJSScripting::ToScalarJSValue(pValue, Args.rval()))
		return true;
	JS::RootedObject CallerGlobal(cx, ForeignCallerGlobal(cx));
	if (!CallerGlobal)
		return pScripting->SetJSReturnValue(pValue, Args);
	{
		JSAutoRealm Realm(cx, CallerGlobal);
		if (!pScripting->SetJSReturnValue(pValue, Args))
			return false;
	}
	return JS_WrapValue(cx, Args.rval());
}

// Calls an engine native from JavaScript: converts the arguments, finds the receiver, reports the native's
// failure as a script error and converts its one result. A namespace native runs for the environment whose realm it
// was made in (pRealm, the realm it runs in), whoever's code calls it: a promise reaction, or a function of one
// resource that another one calls; any other native (pRealm null) for the current environment. Code of an
// environment that has ended calls nothing.
bool MethodGeneric(JSContext* cx, CJSScripting* pScripting, JS::CallArgs& Args, const ScriptFunction* pFunction,
	bool bMethod, void* pUserData, JS::Realm* pRealm = nullptr)
{
	CJSScriptEnvironment* pCurrent = pScripting->GetCurrentEnvironment();
	CJSScriptEnvironment* pScriptEnvironment = pCurrent;
	if (pRealm != nullptr && (pCurrent == nullptr || pCurrent->GetRealm() != pRealm))
	{
		if (CJSScriptEnvironment* pBound = CJSScripting::GetRealmEnvironment(pRealm))
			pScriptEnvironment = pBound;
	}
	if (!pScripting->GetScripting()->CheckCaller(pScriptEnvironment))
		return ReportFailure(cx, g_szError);
	CJSScripting::CRunningEnvironment Running(pScripting, pScriptEnvironment, pCurrent);
	CArgumentArray Arguments(Args.length());
	if (!ConvertArguments(pScripting, pScriptEnvironment, Args, &Arguments))
		return false;

	CNativeState State(pScripting->GetScripting(), CallingResource(pScriptEnvironment), &Arguments, pScripting);

	// The receiver is not counted for the call, but its wrapper is on the stack: neither goes meanwhile.
	CJSReferenceable* pThisBinding = nullptr;
	if (bMethod)
	{
		bool bIsInstance = false;
		if (!pScripting->GetRootClass()->HasInstance(Args.thisv(), &bIsInstance))
			return false;
		CJSReferenceable* pBinding = bIsInstance ? BindingOf(&Args.thisv().toObject()) : nullptr;
		if (pBinding == nullptr || pBinding->m_pObject == nullptr)
		{
			JS::RootedObject Callee(cx, &Args.callee());
			JS::RootedValue Name(cx);
			JS::UniqueChars NameText;
			if (!JS_GetProperty(cx, Callee, "name", &Name) || !JSUtil::ToString(cx, Name, NameText))
				JS_ClearPendingException(cx);
			const std::string Text = std::string("'") + (NameText ? NameText.get() : "") +
				"' called on an object that does not implement interface " + pScripting->GetRootClass()->GetName() +
				".";
			return ReportFailure(cx, Text.c_str());
		}
		State.SetThis(pBinding->m_pObject);
		pThisBinding = pBinding;
	}

	const bool bCalled = pFunction->Call(&State, static_cast<int>(Args.length()), pUserData);
	// A method may have made its object grow (a document loaded): the collector hears of it while the wrapper is
	// all that keeps the object.
	if (pThisBinding != nullptr)
		pThisBinding->UpdateAccount();
	if (!bCalled)
		return ReportFailure(cx, g_szError);
	return SetCallerReturnValue(cx, pScripting, State.m_RVal.GetReturnArgument(), Args);
}

bool MethodFunction(JSContext* cx, unsigned argc, JS::Value* vp, bool bMethod)
{
	JS::CallArgs Args = JS::CallArgsFromVp(argc, vp);
	const tJSNativeFunction* pRecord =
		static_cast<const tJSNativeFunction*>(js::GetFunctionNativeReserved(&Args.callee(), 0).toPrivate());
	// Namespace natives are made in the realm of the environment whose global they are put on, and a native runs in
	// the realm it was made in; methods and accessors of classes live in the shared global's, which belongs to no
	// environment.
	return MethodGeneric(cx, pRecord->m_pScripting, Args, pRecord->m_pFunction, bMethod, pRecord->m_pUserData,
		bMethod ? nullptr : js::GetContextRealm(cx));
}

// Engine function values held by script functions.

void FinaliseFunctionValue(JS::GCContext*, JSObject* pObject)
{
	if (const size_t Account = GetAccount(pObject))
		JS::RemoveAssociatedMemory(pObject, Account, JS::MemoryUse::Embedding1);
	CFunction* pFunction = JS::GetMaybePtrFromReservedSlot<CFunction>(pObject, FUNCTION_SLOT);
	if (pFunction != nullptr)
		pFunction->Release();
}

const JSClassOps g_FunctionValueOps = {
	nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, FinaliseFunctionValue, nullptr, nullptr, nullptr,
};

const JSClass g_FunctionValueClass = {
	"FunctionValue", JSCLASS_HAS_RESERVED_SLOTS(2) | JSCLASS_FOREGROUND_FINALIZE, &g_FunctionValueOps, nullptr, nullptr,
	nullptr,
};

bool MethodFunctionValue(JSContext* cx, unsigned argc, JS::Value* vp)
{
	JS::CallArgs Args = JS::CallArgsFromVp(argc, vp);
	JSObject* pCallee = &Args.callee();
	const ScriptFunction* pFunction =
		static_cast<const ScriptFunction*>(js::GetFunctionNativeReserved(pCallee, 0).toPrivate());
	JSObject* pHolder = &js::GetFunctionNativeReserved(pCallee, 1).toObject();
	CFunction* pValue = JS::GetMaybePtrFromReservedSlot<CFunction>(pHolder, FUNCTION_SLOT);
	return MethodGeneric(cx, CJSScripting::FromContext(cx), Args, pFunction, false, pValue);
}

// The slots are handles: making the function may collect garbage, which can move an object a slot refers to.
JSObject* NewNative(JSContext* cx, JSNative pfnNative, unsigned ArgumentCount, const char* szName,
	JS::HandleValue Slot0, JS::HandleValue Slot1)
{
	JSFunction* pFunction = js::NewFunctionWithReserved(cx, pfnNative, ArgumentCount, 0, szName);
	if (pFunction == nullptr)
		return nullptr;
	JSObject* pObject = JS_GetFunctionObject(pFunction);
	js::SetFunctionNativeReserved(pObject, 0, Slot0);
	js::SetFunctionNativeReserved(pObject, 1, Slot1);
	return pObject;
}

// A native function or method: its first slot is the language's record of the function and its user data.
JSObject* NewNative(JSContext* cx, bool bStatic, unsigned ArgumentCount, const char* szName,
	const ScriptFunction* pFunction, void* pUserData)
{
	const tJSNativeFunction* pRecord = CJSScripting::FromContext(cx)->GetNativeFunction(pFunction, pUserData);
	JS::RootedValue Slot0(cx, JS::PrivateValue(const_cast<tJSNativeFunction*>(pRecord)));
	return NewNative(cx, bStatic ? JSUtil::MethodFunctionStatic : JSUtil::MethodFunctionThiscall, ArgumentCount,
		szName, Slot0, JS::UndefinedHandleValue);
}

// Defines the functions and properties of a class's prototype or (bStatic) of a namespace's object.
bool DefineMembers(JSContext* cx, JS::HandleObject Target, const std::vector<ReflectedFunction*>& Functions,
	const std::vector<ReflectedProperty*>& Properties, bool bStatic)
{
	for (ReflectedFunction* pFunction : Functions)
	{
		if (!JSUtil::RegisterJSFunction(cx, Target, &pFunction->m_Function, bStatic, pFunction->m_pUserData))
			return false;
	}
	for (ReflectedProperty* pProperty : Properties)
	{
		if (!JSUtil::RegisterJSProperty(cx, Target, pProperty->m_pUserData, pProperty->GetName(),
				&pProperty->m_Getter, &pProperty->m_Setter, bStatic))
			return false;
	}
	return true;
}
}

// Bindings

CJSReferenceable::CJSReferenceable(CJSScripting* pScripting, CBaseObject* pObject, JSObject* pJSObject,
	CJSScriptingClass* pClass) :
	m_pScripting(pScripting),
	m_pObject(pObject),
	m_JSObject(pJSObject),
	m_bNonExtensible(true),
	m_pClass(pClass)
{
	m_Root.init(pScripting->GetContext(), pJSObject);
	m_iUserDataCount++;
	pScripting->AddBinding(this);
}

CJSReferenceable::~CJSReferenceable()
{
	m_iUserDataCount--;
	m_pScripting->RemoveBinding(this);
	// The engine object went first (destroyed outright): its wrapper must not lead here any more. What the collector
	// counts for the wrapper stays until its finaliser.
	if (JSObject* pObject = m_JSObject.unbarrieredGet())
		JS::SetReservedSlot(pObject, BINDING_SLOT, JS::UndefinedValue());
}

bool CJSReferenceable::Destruct()
{
	m_Root.reset();
	// The object now waits for its wrapper alone.
	UpdateAccount();
	return m_JSObject.unbarrieredGet() != nullptr;
}

void CJSReferenceable::UpdateAccount()
{
	// A rooted wrapper's object has counts of its own (Get clears the account when it roots it again): most method
	// calls, those on registered elements, end here.
	JSObject* pObject = m_JSObject.unbarrieredGet();
	if (m_Root.initialized() || pObject == nullptr || m_pObject == nullptr)
		return;
	// The binding goes with the object.
	SetAccount(pObject, m_pObject->GetRefCount() == 0 ? m_pObject->GetRetainedBytes() + sizeof(CJSReferenceable) : 0);
}

void CJSReferenceable::UpdateAfterGC(JSTracer* pTracer)
{
	if (m_JSObject.unbarrieredGet() != nullptr)
		JS_UpdateWeakPointerAfterGC(pTracer, &m_JSObject);
}

JSObject* CJSReferenceable::Get()
{
	JSContext* cx = m_pScripting->GetContext();
	JS::RootedObject Object(cx, m_JSObject);
	if (!Object)
		return nullptr;
	// The engine object has counts again: the wrapper must live as long as they do, and no longer keeps it alive.
	if (!m_Root.initialized() && m_pObject != nullptr && m_pObject->GetRefCount() > 0)
	{
		m_Root.init(cx, Object);
		SetAccount(Object, 0);
	}
	if (!JS_WrapObject(cx, &Object))
		return nullptr;
	return Object;
}

CJSReferenceable* CJSReferenceable::Get(CJSScripting* pScripting, CBaseObject* pObject)
{
	ReflectedClass* pScriptClass = pObject->GetReflectedClass();
	if (!KASSERT(pScriptClass))
		return nullptr;
	CJSScriptingClass* pClass = GetClassData(pScriptClass, pScripting->GetId());
	if (pClass == nullptr || pClass->GetPrototype() == nullptr)
		return nullptr;

	JSContext* cx = pScripting->GetContext();
	JS::RootedObject SharedGlobal(cx, pScripting->GetSharedGlobal());
	JSAutoRealm Realm(cx, SharedGlobal);
	JS::RootedObject Prototype(cx, pClass->GetPrototype());
	JS::RootedObject NewObject(cx, JS_NewObjectWithGivenProto(cx, pClass->GetClass(), Prototype));
	if (!KASSERT(NewObject))
		return nullptr;
	pClass->m_pRecord->m_LiveObjects++;
	return pClass->Set(NewObject, pObject);
}

CJSReferenceable* CJSReferenceable::Get(JSObject* pObject, CJSScripting*)
{
	return BindingOf(pObject);
}

bool CJSReferenceable::HasEngineClass(JSObject* pObject)
{
	const JSClass* pClass = JS::GetClass(pObject);
	return pClass->cOps != nullptr && pClass->cOps->finalize == Finalise;
}

void CJSReferenceable::Finalise(JS::GCContext*, JSObject* pObject)
{
	tJSClassRecord* pRecord = tJSClassRecord::FromClass(JS::GetClass(pObject));
	pRecord->m_LiveObjects--;
	if (const size_t Account = GetAccount(pObject))
		JS::RemoveAssociatedMemory(pObject, Account, JS::MemoryUse::Embedding1);
	CJSReferenceable* pBinding = JS::GetMaybePtrFromReservedSlot<CJSReferenceable>(pObject, BINDING_SLOT);
	if (pBinding == nullptr || pRecord->m_pScripting == nullptr || !pRecord->m_pScripting->HasBinding(pBinding))
		return;

	pBinding->m_JSObject.unbarrieredSet(nullptr);
	CBaseObject* pEngineObject = pBinding->m_pObject;
	if (pEngineObject == nullptr || pEngineObject->GetJSScriptReference() != pBinding)
		delete pBinding;
	else if (pEngineObject->GetRefCount() == 0)
		pEngineObject->Obliterate();
	else
		pEngineObject->ClearJSScriptReference();
}

// Classes

CJSScriptingClass::CJSScriptingClass(const char* szName) :
	m_pScripting(nullptr),
	m_pRecord(new tJSClassRecord()),
	m_pPrototype(nullptr)
{
	_strlcpy(m_pRecord->m_szName, szName != nullptr ? szName : "", sizeof(m_pRecord->m_szName));
	m_pRecord->m_Ops.addProperty = MethodAddProperty;
	m_pRecord->m_Ops.finalize = CJSReferenceable::Finalise;
	m_pRecord->m_Class.name = m_pRecord->m_szName;
	m_pRecord->m_Class.flags = JSCLASS_HAS_RESERVED_SLOTS(2) | JSCLASS_FOREGROUND_FINALIZE;
	m_pRecord->m_Class.cOps = &m_pRecord->m_Ops;
}

CJSScriptingClass::~CJSScriptingClass()
{
	if (m_pPrototype != nullptr && !m_pPrototype->Destruct())
		delete m_pPrototype;
	if (m_pScripting != nullptr)
		m_pScripting->RetireClassRecord(m_pRecord);
	else
		delete m_pRecord;
}

JSObject* CJSScriptingClass::GetPrototype() const
{
	if (m_pPrototype == nullptr || !m_pPrototype->IsRooted())
		return nullptr;
	return m_pPrototype->m_Root.get();
}

bool CJSScriptingClass::Initialise(CJSScripting* pScripting, CJSScriptingClass* pParent)
{
	m_pScripting = pScripting;
	m_pRecord->m_pScripting = pScripting;
	JSContext* cx = pScripting->GetContext();

	// The constructor lands on a throw-away holder: scripts reach it only through the namespaces.
	JS::RootedObject Holder(cx, JS_NewPlainObject(cx));
	if (!Holder)
		return false;
	JS::RootedObject ParentPrototype(cx);
	if (pParent != nullptr)
	{
		ParentPrototype = pParent->GetPrototype();
		if (!KASSERT(ParentPrototype))
		{
			JS_ReportErrorASCII(cx, "no parent prototype");
			return false;
		}
	}
	JS::RootedObject Prototype(cx, JS_InitClass(cx, Holder, ParentPrototype, GetClass(), MethodConstruct, 0,
		nullptr, nullptr, nullptr, nullptr));
	if (!Prototype)
		return false;
	m_pRecord->m_LiveObjects++;
	m_pPrototype = new CJSReferenceable(pScripting, nullptr, Prototype, this);
	JS::SetReservedSlot(Prototype, BINDING_SLOT, JS::PrivateValue(m_pPrototype));
	return true;
}

CJSReferenceable* CJSScriptingClass::Set(JSObject* pObject, CBaseObject* pEngineObject)
{
	if (pObject == nullptr || pEngineObject == nullptr)
		return nullptr;
	// A second binding would point at the object without the object knowing it.
	if (!KASSERT(pEngineObject->GetJSScriptReference() == nullptr))
		return nullptr;
	CJSReferenceable* pBinding = new CJSReferenceable(m_pScripting, pEngineObject, pObject, this);
	JS::SetReservedSlot(pObject, BINDING_SLOT, JS::PrivateValue(pBinding));
	pEngineObject->AddJSScriptReference(pBinding);
	return pBinding;
}

bool CJSScriptingClass::HasInstance(JS::HandleValue Value, bool* pbIsInstance)
{
	*pbIsInstance = false;
	if (!Value.isObject())
		return true;
	JSContext* cx = m_pScripting->GetContext();
	JS::RootedObject Prototype(cx, GetPrototype());
	if (!Prototype)
		return true;
	// Every realm shares the prototype's compartment; wrapping would change nothing.
	if (JS::GetCompartment(Prototype) != js::GetContextCompartment(cx) && !JS_WrapObject(cx, &Prototype))
		return false;
	// The prototype chain of the value, as an ordinary instanceof would walk it: an ordinary object's prototype is
	// read where it is, only a proxy's is asked for (which may run script).
	JSObject* pObject = &Value.toObject();
	for (;;)
	{
		JSObject* pNext = nullptr;
		if (!js::IsProxy(pObject))
			pNext = js::GetStaticPrototype(pObject);
		else
		{
			JS::RootedObject Object(cx, pObject);
			JS::RootedObject Next(cx);
			if (!JS_GetPrototype(cx, Object, &Next))
				return false;
			pNext = Next;
		}
		if (pNext == nullptr)
			return true;
		if (pNext == Prototype)
		{
			*pbIsInstance = true;
			return true;
		}
		pObject = pNext;
	}
}

// Namespaces and classes

bool CJSScripting::DefineClasses(ReflectedNamespace* pNamespace)
{
	ReflectedNamespace* pGlobal = m_pScripting->GetGlobal();
	for (ReflectedClass* pReflectedClass : pNamespace->GetClasses())
	{
		if (GetClassData(pReflectedClass, m_uiId) != nullptr)
			continue;
		void** ppSlot = pReflectedClass->m_UserData.AddUserData(m_uiId, DestroyClassData);
		if (ppSlot == nullptr)
			return false;
		CJSScriptingClass* pClass = new CJSScriptingClass(pReflectedClass->GetName());
		*ppSlot = pClass;
		pClass->m_Constructor = [pReflectedClass](JSContext* cx, JS::HandleObject NewObject, JS::CallArgs& Args,
									bool bDerived) {
			return MethodConstructor(cx, NewObject, Args, bDerived, pReflectedClass);
		};

		// Parents are registered before their children; a parent without a class yet gives no prototype.
		CJSScriptingClass* pParent = m_pRootClass;
		if (pReflectedClass->GetBaseClass() != nullptr)
			pParent = GetClassData(pReflectedClass->GetBaseClass(), m_uiId);
		if (pParent == nullptr)
		{
			JS_ReportErrorASCII(m_cx, "no parent prototype");
			return false;
		}
		if (!pClass->Initialise(this, pParent))
			return false;

		JS::RootedObject Prototype(m_cx, pClass->GetPrototype());
		CJSReferenceable* pPrototypeBinding = pClass->GetPrototypeBinding();
		pPrototypeBinding->m_bNonExtensible = false;
		if (!DefineMembers(m_cx, Prototype, pReflectedClass->GetFunctions(), pReflectedClass->GetProperties(), false))
			return false;

		// Index 0 of a vector reads its x.
		static const char* const s_rgpszAxes[] = { "x", "y", "z" };
		size_t AxisCount = 0;
		if (pReflectedClass == pGlobal->m_pVec2Class)
			AxisCount = 2;
		else if (pReflectedClass == pGlobal->m_pVec3Class)
			AxisCount = 3;
		for (size_t i = 0; i < AxisCount; i++)
		{
			for (ReflectedProperty* pProperty : pReflectedClass->GetProperties())
			{
				if (strcmp(pProperty->GetName(), s_rgpszAxes[i]) != 0)
					continue;
				const char szIndex[2] = { static_cast<char>('0' + i), '\0' };
				if (!JSUtil::RegisterJSProperty(m_cx, Prototype, pProperty->m_pUserData, szIndex,
						&pProperty->m_Getter, &pProperty->m_Setter, false))
					return false;
				break;
			}
		}
		pPrototypeBinding->m_bNonExtensible = true;
	}

	for (ReflectedNamespace* pChild : pNamespace->GetNamespaces())
	{
		if (!DefineClasses(pChild))
			return false;
	}
	return true;
}

bool CJSScripting::DefineNamespace(ReflectedNamespace* pNamespace, JS::HandleObject Target)
{
	for (ReflectedClass* pReflectedClass : pNamespace->GetClasses())
	{
		CJSScriptingClass* pClass = GetClassData(pReflectedClass, m_uiId);
		if (!KASSERT(pClass != nullptr && pClass->m_pScripting != nullptr))
			continue;
		JS::RootedObject Prototype(m_cx, pClass->GetPrototype());
		if (!Prototype || !JS_WrapObject(m_cx, &Prototype))
			return false;
		JS::RootedObject Constructor(m_cx, JSUtil::GetPrototypeConstructor(m_cx, Prototype));
		if (!Constructor || !JS_DefineProperty(m_cx, Target, pReflectedClass->GetName(), Constructor, 0))
			return false;
	}
	if (!DefineMembers(m_cx, Target, pNamespace->GetFunctions(), pNamespace->GetProperties(), true))
		return false;
	for (ReflectedNamespace* pChild : pNamespace->GetNamespaces())
	{
		JS::RootedObject Child(m_cx, JS_NewPlainObject(m_cx));
		if (!Child || !JS_DefineProperty(m_cx, Target, pChild->GetName(), Child, 0))
			return false;
		if (pChild->GetAlias() != nullptr && !JS_DefineProperty(m_cx, Target, pChild->GetAlias(), Child, 0))
			return false;
		if (!DefineNamespace(pChild, Child))
			return false;
	}
	return true;
}

// Helpers

bool JSUtil::ReportError(JSContext* cx, const char* szText)
{
	JS::RootedObject CallerGlobal(cx, ForeignCallerGlobal(cx));
	mozilla::Maybe<JSAutoRealm> Realm;
	if (CallerGlobal)
		Realm.emplace(cx, CallerGlobal);
	JS_ReportErrorUTF8(cx, "%s", szText);
	return false;
}

bool JSUtil::ToString(JSContext* cx, JS::HandleValue Value, JS::UniqueChars& Out)
{
	JS::RootedString String(cx, JS::ToString(cx, Value));
	if (!String)
		return false;
	Out = JS_EncodeStringToUTF8(cx, String);
	return Out != nullptr;
}

JSObject* JSUtil::GetWrapper(CJSScripting* pScripting, CBaseObject* pObject)
{
	if (pObject == nullptr)
		return nullptr;
	CJSReferenceable* pBinding = static_cast<CJSReferenceable*>(pObject->GetJSScriptReference());
	if (pBinding == nullptr)
		pBinding = CJSReferenceable::Get(pScripting, pObject);
	JSObject* pWrapper = pBinding != nullptr ? pBinding->Get() : nullptr;
	// A value that cannot be shown is undefined or null, not an error.
	if (pWrapper == nullptr)
		JS_ClearPendingException(pScripting->GetContext());
	return pWrapper;
}

bool JSUtil::Return(CJSScripting* pScripting, CBaseObject* pObject, JS::CallArgs& Args)
{
	JSObject* pWrapper = GetWrapper(pScripting, pObject);
	if (pWrapper != nullptr)
		Args.rval().setObject(*pWrapper);
	else
		Args.rval().setNull();
	return true;
}

JSObject* JSUtil::GetPrototypeConstructor(JSContext* cx, JS::HandleObject Prototype)
{
	return GetObjectProperty(cx, Prototype, "constructor");
}

JSObject* JSUtil::GetConstructorPrototype(JSContext* cx, JS::HandleObject Constructor)
{
	return GetObjectProperty(cx, Constructor, "prototype");
}

bool JSUtil::RegisterJSFunction(JSContext* cx, JS::HandleObject Target, const ScriptFunction* pFunction, bool bStatic,
	void* pUserData)
{
	const char* szName = pFunction->GetName() != nullptr ? pFunction->GetName() : "";
	unsigned ArgumentCount = static_cast<unsigned>(pFunction->CalcArgumentCount());
	JS::RootedObject Function(cx, NewNative(cx, bStatic, ArgumentCount, szName, pFunction, pUserData));
	return Function && JS_DefineProperty(cx, Target, szName, Function, JSPROP_READONLY);
}

bool JSUtil::RegisterJSProperty(JSContext* cx, JS::HandleObject Target, void* pUserData, const char* szName,
	const ScriptFunction* pGetter, const ScriptFunction* pSetter, bool bStatic)
{
	std::string GetterName = std::string("get ") + szName;
	JS::RootedObject Getter(cx, NewNative(cx, bStatic, 0, GetterName.c_str(), pGetter, pUserData));
	if (!Getter)
		return false;
	JS::RootedObject Setter(cx);
	// Without a setter, assigning the property in strict-mode code throws.
	if (pSetter != nullptr && pSetter->CanCall())
	{
		std::string SetterName = std::string("set ") + szName;
		Setter = NewNative(cx, bStatic, 1, SetterName.c_str(), pSetter, pUserData);
		if (!Setter)
			return false;
	}
	return JS_DefineProperty(cx, Target, szName, Getter, Setter, 0);
}

JSObject* JSUtil::NewFunctionValue(CJSScripting* pScripting, CFunction* pFunction)
{
	JSContext* cx = pScripting->GetContext();
	JS::RootedObject Holder(cx, JS_NewObject(cx, &g_FunctionValueClass));
	if (!Holder)
		return nullptr;
	if (pFunction != nullptr)
		pFunction->AddRef();
	JS::SetReservedSlot(Holder, FUNCTION_SLOT, JS::PrivateValue(pFunction));
	// The holder keeps the function value alive until it is collected.
	if (pFunction != nullptr)
		SetAccount(Holder, pFunction->GetRetainedBytes());
	JS::RootedValue Callback(cx, JS::PrivateValue(const_cast<ScriptFunction*>(pScripting->GetCallbackFunction())));
	JS::RootedValue HolderValue(cx, JS::ObjectValue(*Holder));
	return NewNative(cx, MethodFunctionValue, 0, nullptr, Callback, HolderValue);
}

bool JSUtil::GetFunctionValue(JSObject* pObject, CFunction** ppFunction)
{
	pObject = js::UncheckedUnwrap(pObject);
	if (!JS_ObjectIsFunction(pObject) || !JS_IsNativeFunction(pObject, MethodFunctionValue))
		return false;
	JSObject* pHolder = &js::GetFunctionNativeReserved(pObject, 1).toObject();
	*ppFunction = JS::GetMaybePtrFromReservedSlot<CFunction>(pHolder, FUNCTION_SLOT);
	return true;
}

bool JSUtil::MethodFunctionStatic(JSContext* cx, unsigned argc, JS::Value* vp)
{
	return MethodFunction(cx, argc, vp, false);
}

bool JSUtil::MethodFunctionThiscall(JSContext* cx, unsigned argc, JS::Value* vp)
{
	return MethodFunction(cx, argc, vp, true);
}
