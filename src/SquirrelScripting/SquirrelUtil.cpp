// The script interface as Squirrel sees it: classes and namespace tables built from the reflection registry,
// instances of engine objects, the native closures through which scripts call the engine, and the conversion of
// values in both directions.

#include <climits>
#include <cstring>
#include <new>

#include <squirrel.h>
#include <sqstdblob.h>

#include "Engine/Context.h"
#include "Engine/KError.h"
#include "SquirrelScripting/SqScripting.h"
#include "SquirrelScripting/SquirrelUtil.h"

using SquirrelUtil::AbsoluteIndex;
using SquirrelUtil::PushClosure;

using SquirrelUtil::OUT_OF_MEMORY;
using SquirrelUtil::RunGuarded;

namespace
{
template <class T>
T* GetFreePointer(HSQUIRRELVM v, SQInteger Index)
{
	SQUserPointer p = nullptr;
	sq_getuserpointer(v, Index, &p);
	return static_cast<T*>(p);
}

void PushPointer(HSQUIRRELVM v, const void* p)
{
	sq_pushuserpointer(v, const_cast<void*>(p));
}

// Squirrel treats an error value of null thrown by _get or _set as "no such slot".
SQInteger ThrowMissingSlot(HSQUIRRELVM v)
{
	sq_pushnull(v);
	return sq_throwobject(v);
}

SQInteger ThrowLastError(HSQUIRRELVM v)
{
	return sq_throwerror(v, g_szError);
}

// One call of a native from Squirrel: the arguments converted from the stack, the calling resource from the
// environment the call runs for. A namespace native runs for the environment whose root table it was put in
// (Environment, its handle), whoever's code calls it: a closure of one resource that another one runs; any other
// native for the running environment, and is the running one for the call when it is not that already (so that
// the functions it takes and the scripts it sets off see it too). Code of an environment that has ended calls nothing.
class CSqNativeCall
{
public:
	CSqNativeCall(HSQUIRRELVM v, SQInteger iFirst, SQInteger iCount, uintptr_t Environment = 0)
		: m_v(v), m_pScripting(CSqScripting::FromVM(v)), m_pRunning(m_pScripting->GetScriptEnvironment()),
		  m_pEnvironment(Environment != 0 ? GetBoundEnvironment(m_pScripting, m_pRunning, Environment) : m_pRunning),
		  m_Arguments(iCount > 0 ? static_cast<size_t>(iCount) : 0),
		  m_State(m_pScripting->GetScripting(), m_pEnvironment ? m_pEnvironment->GetResource() : nullptr,
			  &m_Arguments, m_pScripting, v),
		  m_iCount(iCount > 0 ? iCount : 0), m_bConverted(true)
	{
		// After the state, which clears the last-error text.
		CScripting* pScripting = m_pScripting->GetScripting();
		const bool bAllowed = Environment != 0 && !m_pEnvironment ? pScripting->RefuseCaller()
																  : pScripting->CheckCaller(m_pEnvironment);
		if (!bAllowed)
		{
			// Nothing to leave.
			m_pRunning = m_pEnvironment;
			m_bConverted = false;
			return;
		}
		if (m_pEnvironment != m_pRunning)
			m_pEnvironment->EnterNative();
		try
		{
			// The arguments together make at most as many array elements as one value may.
			CSqScripting::CConversion Conversion(m_pScripting);
			for (SQInteger i = 0; m_bConverted && i < m_iCount; i++)
			{
				CArgument* pArgument = m_pScripting->CreateArgument(v, iFirst + i);
				if (pArgument)
					m_Arguments.AddAndOwn(pArgument);
				else
					m_bConverted = false;
			}
		}
		catch (...)
		{
			// The destructor of an object whose constructor throws does not run.
			Leave();
			throw;
		}
	}
	~CSqNativeCall() { Leave(); }

	CSqNativeCall(const CSqNativeCall&) = delete;
	CSqNativeCall& operator=(const CSqNativeCall&) = delete;

	// The receiver is the engine object of the instance at ThisIndex (0: no receiver). False, with the
	// last-error text set, when the call was refused, an argument could not be converted or the native failed.
	bool Run(const ScriptFunction* pFunction, void* pUserData, SQInteger ThisIndex)
	{
		if (!m_bConverted)
			return false;
		if (ThisIndex > 0)
			m_State.SetThis(m_pScripting->GetInstanceObject(m_v, ThisIndex));
		bool bResult = pFunction->Call(&m_State, static_cast<int>(m_iCount), pUserData);
		KASSERT(bResult != m_State.m_bHasError);
		return bResult;
	}

	// Pushes the native's result, when it gave one, as the closure's return value.
	SQInteger Return()
	{
		CArgument* pResult = m_State.m_RVal.GetReturnArgument();
		if (!pResult)
			return 0;
		if (!m_pScripting->PushArgument(pResult, m_v))
			return ThrowLastError(m_v);
		return 1;
	}

	CSqScripting* GetSqScripting() const { return m_pScripting; }
	CArgument* GetResult() const { return m_State.m_RVal.GetReturnArgument(); }

private:
	// The environment the handle names: the running one read without a lookup when it is that one.
	static CSqScriptEnvironment* GetBoundEnvironment(CSqScripting* pScripting, CSqScriptEnvironment* pRunning,
		uintptr_t Handle)
	{
		if (pRunning && pRunning->GetHandle() == Handle)
			return pRunning;
		return pScripting->FindEnvironment(Handle);
	}

	// Undoes the constructor's EnterNative, which may end the environment (a Destroy that had to wait); the function
	// values made from its code were cut loose by that Destroy.
	void Leave()
	{
		if (m_pEnvironment != m_pRunning)
			m_pEnvironment->LeaveNative();
	}

	HSQUIRRELVM m_v;
	CSqScripting* m_pScripting;
	// The environment whose code runs, and the one the call runs for; they differ while the call has entered the
	// latter.
	CSqScriptEnvironment* m_pRunning;
	CSqScriptEnvironment* m_pEnvironment;
	CArgumentArray m_Arguments;
	CNativeState m_State;
	SQInteger m_iCount;
	bool m_bConverted;
};

// The one free variable of a function or method closure, a userdata: the function, its user data and, for a
// namespace function, the handle of the environment whose root table holds it (0 for methods). One block, so a call
// reads a single free variable.
struct tSqNativeFunction
{
	const ScriptFunction* m_pFunction;
	void* m_pUserData;
	uintptr_t m_Environment;
};

const tSqNativeFunction* GetNativeFunction(HSQUIRRELVM v, SQInteger Index)
{
	SQUserPointer p = nullptr;
	sq_getuserdata(v, Index, &p, nullptr);
	return static_cast<const tSqNativeFunction*>(p);
}

SQInteger CallFunction(HSQUIRRELVM v, SQInteger ThisIndex)
{
	return RunGuarded(v, [v, ThisIndex] {
		SQInteger iTop = sq_gettop(v);
		const tSqNativeFunction* pRecord = GetNativeFunction(v, iTop);
		CSqNativeCall Call(v, 2, iTop - 2, pRecord->m_Environment);
		if (!Call.Run(pRecord->m_pFunction, pRecord->m_pUserData, ThisIndex))
			return ThrowLastError(v);
		return Call.Return();
	});
}

SQInteger NamespaceFunction(HSQUIRRELVM v)
{
	return CallFunction(v, 0);
}

SQInteger MethodFunction(HSQUIRRELVM v)
{
	return CallFunction(v, 1);
}

// Drops whatever object the instance at Index is bound to: a constructor run again on a live instance must not
// leave the old object's reference behind.
void UnbindInstance(HSQUIRRELVM v, SQInteger Index)
{
	SQUserPointer p = nullptr;
	if (SQ_FAILED(sq_getinstanceup(v, Index, &p, nullptr)) || !p)
		return;
	CSqScriptReference* pReference = CSqScriptReference::FromUserPointer(p);
	HSQOBJECT Instance;
	sq_getstackobj(v, Index, &Instance);
	sq_setinstanceup(v, Index, nullptr);
	sq_setreleasehook(v, Index, nullptr);
	if (pReference->HasInstance() && pReference->m_Instance._unVal.pInstance == Instance._unVal.pInstance)
		sq_resetobject(&pReference->m_Instance);
	pReference->m_pObject->Release();
}

// Binds the object that a constructor or clone function returned to the new instance at stack position 1.
SQInteger BindResult(HSQUIRRELVM v, CSqNativeCall& Call, const char* szNothing, const char* szNotObject,
	const char* szNull)
{
	CArgument* pResult = Call.GetResult();
	if (!pResult || pResult->IsNull())
		return sq_throwerror(v, szNothing);
	if (!pResult->IsObject())
		return sq_throwerror(v, szNotObject);
	CBaseObject* pObject = pResult->ToObject();
	if (!pObject)
		return sq_throwerror(v, szNull);
	CSqScriptReference* pReference = Call.GetSqScripting()->GetReference(pObject);
	if (!pReference)
		return sq_throwerror(v, "Class not part of reflection");
	UnbindInstance(v, 1);
	pReference->Bind(v, 1);
	return 0;
}

// Free variables: the constructor's ScriptFunction, its user data, the class it was made for.
SQInteger ConstructorFunction(HSQUIRRELVM v)
{
	return RunGuarded(v, [v] {
		SQInteger iTop = sq_gettop(v);
		const ScriptFunction* pFunction = GetFreePointer<const ScriptFunction>(v, iTop - 2);
		void* pUserData = GetFreePointer<void>(v, iTop - 1);
		ReflectedClass* pClass = GetFreePointer<ReflectedClass>(v, iTop);
		CSqScripting* pScripting = CSqScripting::FromVM(v);
		// A derived class without a constructor of its own inherits its base's; that would bind a base object to
		// an instance of the derived class.
		tSquirrelType* pType = pScripting->GetInstanceType(v, 1);
		if (!pType || pType->m_pClass != pClass)
			return sq_throwerror(v, "Class is not constructable");
		CSqNativeCall Call(v, 2, iTop - 4);
		if (!Call.Run(pFunction, pUserData, 0))
			return ThrowLastError(v);
		return BindResult(v, Call, "Constructor didn't return anything", "Constructor didn't return object",
			"Constructor returned null");
	});
}

// _cloned: position 1 is the new copy, 2 the original. Free variable as for a function closure.
SQInteger ClonedFunction(HSQUIRRELVM v)
{
	return RunGuarded(v, [v] {
		const tSqNativeFunction* pRecord = GetNativeFunction(v, sq_gettop(v));
		CSqNativeCall Call(v, 0, 0);
		if (!Call.Run(pRecord->m_pFunction, pRecord->m_pUserData, 2))
			return ThrowLastError(v);
		return BindResult(v, Call, "Clone didn't return anything", "Clone didn't return an object",
			"Clone didn't return anything");
	});
}

SQInteger ToStringFunction(HSQUIRRELVM v)
{
	return CallFunction(v, 1);
}

SQInteger InheritedFunction(HSQUIRRELVM v)
{
	return sq_throwerror(v, "this class cannot be inherited");
}

SQInteger NotClonableFunction(HSQUIRRELVM v)
{
	return sq_throwerror(v, "instances of this class cannot be cloned");
}

// Free variable: the ReflectedClass.
SQInteger TypeOfFunction(HSQUIRRELVM v)
{
	ReflectedClass* pClass = GetFreePointer<ReflectedClass>(v, sq_gettop(v));
	sq_pushstring(v, pClass->GetName(), -1);
	return 1;
}

const char* GetKey(HSQUIRRELVM v)
{
	const SQChar* szKey = nullptr;
	if (sq_gettype(v, 2) != OT_STRING || SQ_FAILED(sq_getstring(v, 2, &szKey)))
		return nullptr;
	return szKey;
}

// Runs a property's getter (Value 0) or setter (the value at stack position Value); a namespace's property runs
// for the environment whose handle is given.
SQInteger AccessProperty(HSQUIRRELVM v, ReflectedProperty* pProperty, SQInteger ThisIndex, SQInteger Value,
	uintptr_t Environment)
{
	return RunGuarded(v, [v, pProperty, ThisIndex, Value, Environment] {
		CSqNativeCall Call(v, Value, Value > 0 ? 1 : 0, Environment);
		bool bResult = Value > 0 ? Call.Run(&pProperty->m_Setter, pProperty->m_pUserData, ThisIndex)
								 : Call.Run(&pProperty->m_Getter, pProperty->m_pUserData, ThisIndex);
		if (!bResult)
			return ThrowLastError(v);
		return Value > 0 ? SQInteger(0) : Call.Return();
	});
}

// _get (bSet false) and _set of instances, whose free variable is the ReflectedClass and whose this is at 1, and of
// namespace tables, whose free variables are the ReflectedNamespace and the handle of the table's environment and
// which have no this (ThisIndex 0).
template <class TOwner, SQInteger ThisIndex, bool bSet>
SQInteger PropertyFunction(HSQUIRRELVM v)
{
	const bool bBound = ThisIndex == 0;
	SQInteger iTop = sq_gettop(v);
	TOwner* pOwner = GetFreePointer<TOwner>(v, bBound ? iTop - 1 : iTop);
	uintptr_t Environment = bBound ? reinterpret_cast<uintptr_t>(GetFreePointer<void>(v, iTop)) : 0;
	const char* szKey = GetKey(v);
	ReflectedProperty* pProperty = szKey ? pOwner->GetProperty(szKey) : nullptr;
	if (!pProperty || (bSet && pProperty->IsReadOnly()))
		return ThrowMissingSlot(v);
	return AccessProperty(v, pProperty, ThisIndex, bSet ? 3 : 0, Environment);
}

// An engine function value as a Squirrel function; free variable: the instance of its CFunction, which keeps the
// function alive as long as the closure.
SQInteger FunctionValueFunction(HSQUIRRELVM v)
{
	SQInteger iTop = sq_gettop(v);
	CSqScripting* pScripting = CSqScripting::FromVM(v);
	CFunction* pFunction = dynamic_cast<CFunction*>(pScripting->GetInstanceObject(v, iTop));
	if (!KASSERT(pFunction))
		return 0;
	return RunGuarded(v, [v, iTop, pScripting, pFunction] {
		CSqNativeCall Call(v, 2, iTop - 2);
		if (!Call.Run(&pScripting->GetCallbackFunction(), pFunction, 0))
			return ThrowLastError(v);
		return Call.Return();
	});
}

// A closure over the function; a namespace function's belongs to the environment whose handle is given.
void PushFunctionClosure(HSQUIRRELVM v, SQFUNCTION pfnFunction, const ReflectedFunction& Function,
	const char* szMask = nullptr, uintptr_t Environment = 0)
{
	tSqNativeFunction* pRecord = static_cast<tSqNativeFunction*>(sq_newuserdata(v, sizeof(tSqNativeFunction)));
	*pRecord = tSqNativeFunction{&Function.m_Function, Function.m_pUserData, Environment};
	PushClosure(v, pfnFunction, 1, Function.GetName(), szMask);
}

void PushClassClosure(HSQUIRRELVM v, SQFUNCTION pfnFunction, ReflectedClass* pClass, const char* szName,
	const char* szMask)
{
	PushPointer(v, pClass);
	PushClosure(v, pfnFunction, 1, szName, szMask);
}

void DeleteSqType(void** ppSlot)
{
	tSquirrelType* pType = static_cast<tSquirrelType*>(*ppSlot);
	*ppSlot = nullptr;
	delete pType;
}
}

tSquirrelType::~tSquirrelType()
{
	if (m_pOwner)
		m_pOwner->m_Types.erase(this);
	m_Class.Clear();
}

CSqScriptReference::CSqScriptReference(CBaseObject* pObject, tSquirrelType* pType, CSqVMHandle* pVM)
	: m_pVM(pVM)
{
	m_pObject = pObject;
	m_pType = pType;
	sq_resetobject(&m_Instance);
}

CSqScriptReference::~CSqScriptReference()
{
	if (!HasInstance() || m_pVM.IsNull() || !m_pVM->GetVM())
		return;
	HSQUIRRELVM pVM = m_pVM->GetVM();
	sq_pushobject(pVM, m_Instance);
	sq_setinstanceup(pVM, -1, nullptr);
	sq_setreleasehook(pVM, -1, nullptr);
	sq_pop(pVM, 1);
	sq_resetobject(&m_Instance);
}

void CSqScriptReference::Bind(HSQUIRRELVM v, SQInteger Index)
{
	Index = AbsoluteIndex(v, Index);
	sq_setinstanceup(v, Index, GetUserPointer());
	sq_setreleasehook(v, Index, Finalise);
	sq_getstackobj(v, Index, &m_Instance);
	m_pObject->AddRef();
}

SQInteger CSqScriptReference::Finalise(SQUserPointer p, SQInteger)
{
	CSqScriptReference* pReference = FromUserPointer(p);
	if (!pReference)
		return 0;
	sq_resetobject(&pReference->m_Instance);
	// May destroy the object, and with it this binding.
	pReference->m_pObject->Release();
	return 1;
}

tSquirrelType* CSqScripting::FindSqType(SQUserPointer pTypeTag) const
{
	tSquirrelType* pType = static_cast<tSquirrelType*>(pTypeTag);
	return pType && m_Types.count(pType) ? pType : nullptr;
}

tSquirrelType* CSqScripting::GetInstanceType(HSQUIRRELVM v, SQInteger Index) const
{
	if (sq_gettype(v, Index) != OT_INSTANCE)
		return nullptr;
	// An instance's type tag is its class's, read without pushing the class.
	SQUserPointer pTypeTag = nullptr;
	if (SQ_FAILED(sq_gettypetag(v, Index, &pTypeTag)))
		return nullptr;
	return FindSqType(pTypeTag);
}

namespace
{
// The object an instance of an engine class is bound to; null while it is bound to none.
CBaseObject* GetBoundObject(HSQUIRRELVM v, SQInteger Index)
{
	SQUserPointer p = nullptr;
	if (SQ_FAILED(sq_getinstanceup(v, Index, &p, nullptr)) || !p)
		return nullptr;
	return CSqScriptReference::FromUserPointer(p)->m_pObject;
}

// The value of an instance of an engine class: that of its object, null while it has none.
CArgument* CreateBoundObjectArgument(HSQUIRRELVM v, SQInteger Index, CScripting* pScripting)
{
	CBaseObject* pObject = GetBoundObject(v, Index);
	CArgument* pValue = pObject ? Reflection::ToArgument(pObject, pScripting) : nullptr;
	return pValue ? pValue : new CArgument(ARGUMENT_NIL);
}
}

CBaseObject* CSqScripting::GetInstanceObject(HSQUIRRELVM v, SQInteger Index) const
{
	return GetInstanceType(v, Index) ? GetBoundObject(v, Index) : nullptr;
}

tSquirrelType* CSqScripting::GetSqType(ReflectedClass* pClass)
{
	if (!pClass || !m_pVM)
		return nullptr;
	void** ppSlot = pClass->m_UserData.GetUserData(m_uiLanguageId);
	if (ppSlot && *ppSlot)
	{
		tSquirrelType* pExisting = static_cast<tSquirrelType*>(*ppSlot);
		if (pExisting->m_pOwner == this)
			return pExisting;
		// Only a record left behind by a language that has been closed since may be replaced.
		if (!KASSERT(!pExisting->m_pOwner))
			return nullptr;
		delete pExisting;
		*ppSlot = nullptr;
	}

	HSQUIRRELVM v = m_pVM;
	SQInteger iTop = sq_gettop(v);
	if (ReflectedClass* pBaseClass = pClass->GetBaseClass())
	{
		// Bases come first, wherever they are registered.
		tSquirrelType* pSqType = GetSqType(pBaseClass);
		if (!KASSERT(pSqType))
			return nullptr;
		pSqType->m_Class.Push(v);
		sq_newclass(v, SQTrue);
	}
	else
		sq_newclass(v, SQFalse);

	if (!ppSlot)
		ppSlot = pClass->m_UserData.AddUserData(m_uiLanguageId, DeleteSqType);
	if (!ppSlot)
	{
		sq_settop(v, iTop);
		return nullptr;
	}
	tSquirrelType* pType = new tSquirrelType(this, pClass);
	pType->m_Class.Set(v, -1, m_pVMHandle);
	sq_settypetag(v, -1, pType);
	*ppSlot = pType;
	m_Types.insert(pType);

	PushClosure(v, InheritedFunction, 0, "_inherited");
	SquirrelUtil::SetSlot(v, "_inherited");
	if (pClass->m_Clone.IsPresent())
		PushFunctionClosure(v, ClonedFunction, pClass->m_Clone, "xx");
	else
		PushClosure(v, NotClonableFunction, 0, "_cloned");
	SquirrelUtil::SetSlot(v, "_cloned");
	if (pClass->m_Constructor.IsPresent())
	{
		PushPointer(v, pClass);
		PushPointer(v, pClass->m_Constructor.m_pUserData);
		PushPointer(v, &pClass->m_Constructor.m_Function);
		PushClosure(v, ConstructorFunction, 3, pClass->GetName());
		SquirrelUtil::SetSlot(v, "constructor");
	}
	if (pClass->m_ToString.IsPresent())
	{
		PushFunctionClosure(v, ToStringFunction, pClass->m_ToString, "x");
		SquirrelUtil::SetSlot(v, "_tostring");
	}
	PushClassClosure(v, TypeOfFunction, pClass, "_typeof", "x");
	SquirrelUtil::SetSlot(v, "_typeof");
	PushClassClosure(v, PropertyFunction<ReflectedClass, 1, false>, pClass, "_get", "x.");
	SquirrelUtil::SetSlot(v, "_get");
	PushClassClosure(v, PropertyFunction<ReflectedClass, 1, true>, pClass, "_set", "x..");
	SquirrelUtil::SetSlot(v, "_set");
	for (ReflectedFunction* pMethod : pClass->GetFunctions())
	{
		if (!pMethod->GetName())
			continue;
		PushFunctionClosure(v, MethodFunction, *pMethod);
		SquirrelUtil::SetSlot(v, pMethod->GetName());
	}
	sq_settop(v, iTop);
	return pType;
}

bool CSqScripting::DefineClasses(ReflectedNamespace* pNamespace)
{
	if (!pNamespace)
		return false;
	for (ReflectedClass* pClass : pNamespace->GetClasses())
	{
		if (!GetSqType(pClass))
			return false;
	}
	for (ReflectedNamespace* pChild : pNamespace->GetNamespaces())
	{
		if (!DefineClasses(pChild))
			return false;
	}
	return true;
}

void CSqScripting::RegisterFunctions(HSQUIRRELVM v, ReflectedNamespace* pNamespace, uintptr_t Environment)
{
	SQInteger iTable = sq_gettop(v);
	sq_newtable(v);
	PushPointer(v, reinterpret_cast<void*>(Environment));
	PushPointer(v, pNamespace);
	PushClosure(v, PropertyFunction<ReflectedNamespace, 0, false>, 2, "_get", "..");
	SquirrelUtil::SetSlot(v, "_get");
	PushPointer(v, reinterpret_cast<void*>(Environment));
	PushPointer(v, pNamespace);
	PushClosure(v, PropertyFunction<ReflectedNamespace, 0, true>, 2, "_set", "...");
	SquirrelUtil::SetSlot(v, "_set");
	sq_setdelegate(v, iTable);
	sq_settop(v, iTable);

	for (ReflectedFunction* pFunction : pNamespace->GetFunctions())
	{
		if (!pFunction->GetName())
			continue;
		PushFunctionClosure(v, NamespaceFunction, *pFunction, nullptr, Environment);
		SquirrelUtil::SetSlot(v, pFunction->GetName());
	}
	for (ReflectedClass* pClass : pNamespace->GetClasses())
	{
		tSquirrelType* pSqType = GetSqType(pClass);
		if (!KASSERT(pSqType))
			continue;
		pSqType->m_Class.Push(v);
		SquirrelUtil::SetSlot(v, pClass->GetName());
	}
	for (ReflectedNamespace* pChild : pNamespace->GetNamespaces())
	{
		sq_newtable(v);
		RegisterFunctions(v, pChild, Environment);
		if (const char* szAlias = pChild->GetAlias())
		{
			sq_pushstring(v, szAlias, -1);
			sq_push(v, -2);
			sq_newslot(v, iTable, SQFalse);
		}
		SquirrelUtil::SetSlot(v, pChild->GetName());
	}
	sq_settop(v, iTable);
}

CSqScriptReference* CSqScripting::GetReference(CBaseObject* pObject)
{
	tSquirrelType* pType = pObject ? GetSqType(pObject->GetReflectedClass()) : nullptr;
	if (!pType)
		return nullptr;
	CSqScriptReference* pReference = static_cast<CSqScriptReference*>(pObject->GetSqScriptReference());
	if (!pReference)
	{
		pReference = new CSqScriptReference(pObject, pType, m_pVMHandle);
		pObject->AddSqScriptReference(pReference);
		return pReference;
	}
	// The binding may have been made by an earlier language object, whose instances are all gone.
	pReference->m_pType = pType;
	if (pReference->m_pVM != m_pVMHandle)
	{
		pReference->m_pVM = m_pVMHandle;
		sq_resetobject(&pReference->m_Instance);
	}
	return pReference;
}

void CSqScripting::PushReferenceable(CBaseObject* pObject, HSQUIRRELVM v)
{
	CSqScriptReference* pReference = pObject ? GetReference(pObject) : nullptr;
	if (!pReference)
	{
		sq_pushnull(v);
		return;
	}
	if (pReference->HasInstance())
	{
		sq_pushobject(v, pReference->m_Instance);
		return;
	}
	pReference->m_pType->m_Class.Push(v);
	if (SQ_FAILED(sq_createinstance(v, -1)))
	{
		sq_pop(v, 1);
		sq_pushnull(v);
		return;
	}
	sq_remove(v, -2);
	pReference->Bind(v, -1);
}

CArgument* CSqScripting::CreateFunctionArgument(HSQUIRRELVM v, SQInteger Index)
{
	// Code of the environment that made it, whoever hands it over; a closure of no environment's root table counts as
	// the running environment's.
	uintptr_t Code = FindClosureCode(v, Index);
	CSqScriptEnvironment* pEnvironment =
		Code != 0 ? FindEnvironment(Code) : GetScriptEnvironment();
	if (Code == 0 && pEnvironment)
		Code = pEnvironment->GetHandle();
	CSqFunction* pFunction = new CSqFunction(this, pEnvironment, Code, v, Index);
	CArgument* pValue = new CArgumentFunction(pFunction);
	pFunction->Release();
	return pValue;
}

CSqScriptEnvironment* CSqScripting::FindEnvironment(uintptr_t Handle) const
{
	CSqScriptEnvironment* pEnvironment = dynamic_cast<CSqScriptEnvironment*>(CScriptEnvironment::FromHandle(Handle));
	return pEnvironment && pEnvironment->GetSqScripting() == this ? pEnvironment : nullptr;
}

bool CSqScripting::IsBlob(HSQUIRRELVM v, SQInteger Index)
{
	if (!m_pBlobTypeTag || sq_gettype(v, Index) != OT_INSTANCE || SQ_FAILED(sq_getclass(v, Index)))
		return false;
	// Script classes derived from blob are blobs as well.
	bool bBlob = false;
	while (sq_gettype(v, -1) == OT_CLASS)
	{
		SQUserPointer pTypeTag = nullptr;
		if (SQ_SUCCEEDED(sq_gettypetag(v, -1, &pTypeTag)) && pTypeTag == m_pBlobTypeTag)
		{
			bBlob = true;
			break;
		}
		if (SQ_FAILED(sq_getbase(v, -1)))
			break;
		sq_remove(v, -2);
	}
	sq_pop(v, 1);
	return bBlob;
}

namespace
{
// Values pushed as one Squirrel value of their own, with no allocation that could throw.
bool IsSimpleValue(uint8_t ucType)
{
	switch (ucType)
	{
	case ARGUMENT_NIL:
	case ARGUMENT_UNDEFINED:
	case ARGUMENT_BOOLEAN:
	case ARGUMENT_STRING:
	case ARGUMENT_INTEGER:
	case ARGUMENT_LONGINTEGER:
	case ARGUMENT_FLOAT:
	case ARGUMENT_DOUBLE:
		return true;
	default:
		return false;
	}
}

bool IsSimpleType(SQObjectType eType)
{
	switch (eType)
	{
	case OT_NULL:
	case OT_BOOL:
	case OT_INTEGER:
	case OT_FLOAT:
	case OT_STRING:
		return true;
	default:
		return false;
	}
}
}

CArgument* CSqScripting::CreateArgument(HSQUIRRELVM v, SQInteger Index)
{
	CConversion Conversion(this);
	const void* rgpPath[SquirrelUtil::MAX_VALUE_DEPTH];
	SQInteger iTop = sq_gettop(m_pVM);
	try
	{
		// Simple values and instances of engine classes push nothing while they are converted: they are read
		// where they are.
		if (v == m_pVM || IsSimpleType(sq_gettype(v, Index)))
			return CreateArgument(v, Index, 0, rgpPath);
		if (GetInstanceType(v, Index))
			return CreateBoundObjectArgument(v, Index, m_pScripting);
		// A conversion pushes values as deep as the value nests, and Squirrel guarantees a running script's thread
		// only a few free slots (pushing past its end overwrites memory). The VM's own stack, on which no script
		// runs, does the work.
		sq_move(m_pVM, v, Index);
		CArgument* pValue = CreateArgument(m_pVM, -1, 0, rgpPath);
		sq_pop(m_pVM, 1);
		return pValue;
	}
	catch (const std::bad_alloc&)
	{
		// What the conversion had pushed goes; what it had made was released on the way out.
		sq_settop(m_pVM, iTop);
		SetError("%s", OUT_OF_MEMORY);
		return nullptr;
	}
}

bool CSqScripting::CountElements(size_t Count)
{
	if (Count > ARGUMENT_MAX_CONVERTED_ELEMENTS - m_ConvertedElements)
	{
		SetError("Cannot convert more than %zu array elements at once", ARGUMENT_MAX_CONVERTED_ELEMENTS);
		return false;
	}
	m_ConvertedElements += Count;
	return true;
}

CArgument* CSqScripting::CreateArrayArgument(HSQUIRRELVM v, SQInteger Index, unsigned Depth, const void** ppPath)
{
	if (Depth >= SquirrelUtil::MAX_VALUE_DEPTH)
	{
		SetError("Cannot convert a value nested deeper than %u levels", SquirrelUtil::MAX_VALUE_DEPTH);
		return nullptr;
	}
	HSQOBJECT Array;
	sq_getstackobj(v, Index, &Array);
	for (unsigned i = 0; i < Depth; i++)
	{
		if (ppPath[i] == Array._unVal.pArray)
		{
			SetError("Cannot convert a value that contains itself");
			return nullptr;
		}
	}
	ppPath[Depth] = Array._unVal.pArray;

	SQInteger iSize = sq_getsize(v, Index);
	size_t Count = iSize > 0 ? static_cast<size_t>(iSize) : 0;
	if (Count > ARGUMENT_MAX_CONVERTED_ELEMENTS)
	{
		SetError("Cannot convert an array of %zu elements", Count);
		return nullptr;
	}
	if (!CountElements(Count))
		return nullptr;
	Strong<CArgumentArray> pArray = Strong<CArgumentArray>::New(new CArgumentArray(Count));
	for (SQInteger i = 0; i < iSize; i++)
	{
		sq_pushinteger(v, i);
		if (SQ_FAILED(sq_rawget(v, Index)))
		{
			pArray->AddUndefined();
			continue;
		}
		CArgument* pElement = CreateArgument(v, -1, Depth + 1, ppPath);
		sq_pop(v, 1);
		if (!pElement)
			return nullptr;
		pArray->AddAndOwn(pElement);
	}
	// The caller's reference.
	pArray->AddRef();
	return pArray;
}

CArgument* CSqScripting::CreateArgument(HSQUIRRELVM v, SQInteger Index, unsigned Depth, const void** ppPath)
{
	Index = AbsoluteIndex(v, Index);
	switch (sq_gettype(v, Index))
	{
	case OT_NULL:
		return new CArgument(ARGUMENT_NIL);
	case OT_BOOL:
	{
		SQBool bValue = SQFalse;
		sq_getbool(v, Index, &bValue);
		return new CArgumentBoolean(bValue != SQFalse);
	}
	case OT_INTEGER:
	{
		SQInteger iValue = 0;
		sq_getinteger(v, Index, &iValue);
		// INT_MAX itself goes to the 64-bit value, as in the other languages.
		if (iValue >= INT_MIN && iValue < INT_MAX)
			return new CArgumentInteger(static_cast<int32_t>(iValue));
		return new CArgumentLongInteger(iValue);
	}
	case OT_FLOAT:
	{
		SQFloat fValue = 0;
		sq_getfloat(v, Index, &fValue);
		return new CArgumentFloat(fValue);
	}
	case OT_STRING:
	{
		const SQChar* szText = nullptr;
		sq_getstring(v, Index, &szText);
		return new CArgumentString(szText ? szText : "", szText ? static_cast<size_t>(sq_getsize(v, Index)) : 0);
	}
	case OT_ARRAY:
		return CreateArrayArgument(v, Index, Depth, ppPath);
	case OT_CLOSURE:
		return CreateFunctionArgument(v, Index);
	case OT_NATIVECLOSURE:
	{
		// A closure made for an engine function value goes back as that function.
		SQUnsignedInteger nParameters = 0, nFree = 0;
		if (SQ_SUCCEEDED(sq_getclosureinfo(v, Index, &nParameters, &nFree)) && nFree == 1 &&
			sq_getfreevariable(v, Index, 0))
		{
			CFunction* pFunction = dynamic_cast<CFunction*>(GetInstanceObject(v, -1));
			sq_pop(v, 1);
			if (pFunction)
				return new CArgumentFunction(pFunction);
		}
		break;
	}
	case OT_INSTANCE:
	{
		// Engine classes first: their instances are the ones met most, and none of them is a blob.
		if (GetInstanceType(v, Index))
			return CreateBoundObjectArgument(v, Index, m_pScripting);
		if (IsBlob(v, Index))
		{
			// An instance of a script class derived from blob whose constructor did not run blob's has no
			// buffer, and the library's accessors do not check for that.
			SQUserPointer pBuffer = nullptr;
			if (SQ_FAILED(sq_getinstanceup(v, Index, &pBuffer, nullptr)) || !pBuffer)
				return new CArgumentBytes();
			SQUserPointer pData = nullptr;
			SQInteger iSize = sqstd_getblobsize(v, Index);
			if (SQ_FAILED(sqstd_getblob(v, Index, &pData)) || iSize < 0)
				return new CArgumentBytes();
			return new CArgumentBytes(static_cast<const uint8_t*>(pData), static_cast<size_t>(iSize));
		}
		break;
	}
	default:
		break;
	}
	return new CArgumentSqRef(v, Index, m_pVMHandle);
}

bool CSqScripting::PushArgument(const CArgument* pValue, HSQUIRRELVM v)
{
	// Simple values take the one slot the finished value takes anyway, and nothing they do can throw: they go
	// straight to v.
	if (!pValue || IsSimpleValue(pValue->GetType()))
		return PushArgument(pValue, v, 0);
	SQInteger iTop = sq_gettop(v);
	SQInteger iVMTop = sq_gettop(m_pVM);
	try
	{
		if (v == m_pVM)
			return PushArgument(pValue, v, 0);
		// Built on the VM's own stack, as in CreateArgument; only the finished value goes onto v.
		bool bResult = PushArgument(pValue, m_pVM, 0);
		sq_move(v, m_pVM, -1);
		sq_pop(m_pVM, 1);
		return bResult;
	}
	catch (const std::bad_alloc&)
	{
		sq_settop(m_pVM, iVMTop);
		sq_settop(v, iTop);
		SetError("%s", OUT_OF_MEMORY);
		sq_pushnull(v);
		return false;
	}
}

void CSqScripting::PushVector(const CArgument* pValue, HSQUIRRELVM v)
{
	ReflectedNamespace* pGlobal = m_pScripting->GetGlobal();
	ReflectedClass* pClass = nullptr;
	switch (pValue->GetType())
	{
	case ARGUMENT_VECTOR2D:
		pClass = pGlobal->m_pVec2Class;
		break;
	case ARGUMENT_VECTOR3D:
		pClass = pGlobal->m_pVec3Class;
		break;
	default:
		pClass = pGlobal->m_pMatrix4x4Class;
		if (!KASSERT(pGlobal->m_pMatrix4x4Class))
		{
			sq_pushnull(v);
			return;
		}
		break;
	}
	CBaseObject* pObject = pClass ? Reflection::Construct(m_pScripting, pClass) : nullptr;
	bool bSet = false;
	if (auto* pVec2 = dynamic_cast<CObjectValue<CVector2D>*>(pObject); pVec2 && pValue->IsVector2D())
	{
		pValue->ToVector2D(pVec2->m_Value);
		bSet = true;
	}
	else if (auto* pVec3 = dynamic_cast<CObjectValue<CVector3D>*>(pObject); pVec3 && pValue->IsVector3D())
	{
		pValue->ToVector3D(pVec3->m_Value);
		bSet = true;
	}
	else if (auto* pMatrix = dynamic_cast<CObjectValue<CMatrix4x4>*>(pObject); pMatrix && pValue->IsMatrix4x4())
	{
		pValue->ToMatrix4x4(pMatrix->m_Value);
		bSet = true;
	}
	if (bSet)
		PushReferenceable(pObject, v);
	else
		sq_pushnull(v);
	// The instance holds the object now.
	if (pObject)
		pObject->Release();
}

bool CSqScripting::PushContainer(const CArgument* pValue, HSQUIRRELVM v, unsigned Depth)
{
	SQInteger iTop = sq_gettop(v);
	bool bResult = true;
	if (pValue->GetType() == ARGUMENT_ARRAY)
	{
		const CArgumentArray* pArray = static_cast<const CArgumentArray*>(pValue);
		sq_newarray(v, 0);
		for (size_t i = 0; bResult && i < pArray->GetArrayCount(); i++)
		{
			bResult = PushArgument(pArray->GetAt(i), v, Depth + 1);
			sq_arrayappend(v, -2);
		}
	}
	else
	{
		const CArgumentMap* pMap = static_cast<const CArgumentMap*>(pValue);
		sq_newtableex(v, static_cast<SQInteger>(pMap->GetCount()));
		for (auto it = pMap->begin(); bResult && it != pMap->end(); ++it)
		{
			sq_pushstring(v, it->first.c_str(), static_cast<SQInteger>(it->first.size()));
			bResult = PushArgument(it->second, v, Depth + 1);
			sq_newslot(v, -3, SQFalse);
		}
	}
	if (!bResult)
	{
		sq_settop(v, iTop);
		sq_pushnull(v);
	}
	return bResult;
}

void CSqScripting::PushFunction(CFunction* pFunction, HSQUIRRELVM v)
{
	if (!pFunction)
	{
		sq_pushnull(v);
		return;
	}
	// A Squirrel function goes back as itself only into the environment it belongs to. Anywhere else it runs
	// through its function value, in its own environment (its globals, its resource), and not at all once that
	// environment has ended.
	if (auto* pSqFunction = dynamic_cast<CSqFunction*>(pFunction))
	{
		const tSquirrelStrongReference& Closure = pSqFunction->GetClosure();
		if (Closure.GetReleaseVM() == m_pVMHandle && pSqFunction->GetEnvironment() != nullptr &&
			pSqFunction->GetEnvironment() == GetScriptEnvironment())
		{
			Closure.Push(v);
			return;
		}
	}
	PushReferenceable(pFunction, v);
	if (sq_gettype(v, -1) != OT_INSTANCE)
		return;
	PushClosure(v, FunctionValueFunction, 1, nullptr);
}

bool CSqScripting::PushArgument(const CArgument* pValue, HSQUIRRELVM v, unsigned Depth)
{
	if (!pValue)
	{
		sq_pushnull(v);
		return true;
	}
	switch (pValue->GetType())
	{
	case ARGUMENT_BOOLEAN:
		sq_pushbool(v, pValue->ToBoolean() ? SQTrue : SQFalse);
		return true;
	case ARGUMENT_STRING:
	{
		size_t Length = 0;
		const char* szText = pValue->ToString(&Length);
		sq_pushstring(v, szText ? szText : "", szText ? static_cast<SQInteger>(Length) : 0);
		return true;
	}
	case ARGUMENT_INTEGER:
	case ARGUMENT_LONGINTEGER:
	{
		int64_t iValue = 0;
		pValue->ToNumber(iValue);
		sq_pushinteger(v, iValue);
		return true;
	}
	case ARGUMENT_FLOAT:
	case ARGUMENT_DOUBLE:
	{
		float fValue = 0.0f;
		pValue->ToNumber(fValue);
		sq_pushfloat(v, fValue);
		return true;
	}
	case ARGUMENT_NETOBJECT:
	case ARGUMENT_OBJECT:
		PushReferenceable(pValue->ToObject(), v);
		return true;
	case ARGUMENT_VECTOR2D:
	case ARGUMENT_VECTOR3D:
	case ARGUMENT_MATRIX4X4:
		PushVector(pValue, v);
		return true;
	case ARGUMENT_ARRAY:
	case ARGUMENT_MAP:
		if (Depth >= SquirrelUtil::MAX_VALUE_DEPTH)
		{
			SetError("Cannot convert a value nested deeper than %u levels", SquirrelUtil::MAX_VALUE_DEPTH);
			sq_pushnull(v);
			return false;
		}
		return PushContainer(pValue, v, Depth);
	case ARGUMENT_FUNCTION:
		PushFunction(pValue->ToFunction(), v);
		return true;
	case ARGUMENT_SQREF:
	{
		const tSquirrelStrongReference& Reference = static_cast<const CArgumentSqRef*>(pValue)->GetReference();
		if (Reference.GetReleaseVM() == m_pVMHandle)
			Reference.Push(v);
		else
			sq_pushnull(v);
		return true;
	}
	case ARGUMENT_BYTES:
	{
		size_t Length = 0;
		const uint8_t* pData = pValue->ToBytes(Length);
		SQInteger iTop = sq_gettop(v);
		SQUserPointer pBlob = sqstd_createblob(v, static_cast<SQInteger>(Length));
		if (sq_gettop(v) != iTop + 1)
		{
			sq_settop(v, iTop);
			sq_pushnull(v);
			return true;
		}
		if (pBlob && pData && Length)
			memcpy(pBlob, pData, Length);
		return true;
	}
	default:
		sq_pushnull(v);
		return true;
	}
}
