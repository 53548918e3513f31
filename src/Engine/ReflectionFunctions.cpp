// The Reflection helpers, the script namespace "reflection" built on them, and the native behind engine function
// values.

#include <cstdlib>
#include <cstring>

#include "Engine/KError.h"
#include "Engine/KestrinNative.h"

namespace
{
constexpr size_t ERROR_COPY_SIZE = 1024;

// Calls one of a class's special functions (to-string, clone, move) with pObject as the receiver.
bool CallSpecial(CNativeState& State, const ReflectedFunction& Function, CBaseObject* pObject, int argc)
{
	State.SetThis(pObject);
	return Function.m_Function.Call(&State, argc, Function.m_pUserData);
}

// Reports the last-error text that a Reflection helper left as this call's error.
bool ReportLastError(CNativeState* pState)
{
	char szText[ERROR_COPY_SIZE];
	memcpy(szText, g_szError, sizeof(szText));
	szText[sizeof(szText) - 1] = '\0';
	return pState->Error("%s", szText);
}

CScripting* GetScripting(CNativeState* pState, void* pUserData)
{
	return pUserData ? static_cast<CScripting*>(pUserData) : pState->GetScripting();
}

// The object of an object value at Index; "Object" is the word of the failure.
bool CheckObjectValue(CNativeState* pState, size_t Index, CBaseObject** ppObject)
{
	CArgument* pArgument = pState->GetArgument(Index);
	if (!pArgument || !pArgument->IsObject())
		return pState->Error("Expected %s for argument %d", "Object", static_cast<int>(Index + 1));
	*ppObject = pArgument->ToObject();
	return true;
}

// Calls the function with clones of the arguments; the function's own success is not reported, a failing call
// simply gives no result.
void CallFunctionValue(CNativeState* pState, CFunction* pFunction, size_t FirstIndex, size_t EndIndex)
{
	// The call may drop the last other reference to the function.
	Strong<CFunction> pHold(pFunction);
	CArgumentArray Arguments(EndIndex > FirstIndex ? EndIndex - FirstIndex : 0);
	for (size_t i = FirstIndex; i < EndIndex; i++)
	{
		// An argument past the end of the list is absent: it is not passed on.
		if (CArgument* pArgument = pState->GetArgument(i))
			Arguments.Add(pArgument);
	}
	CReturnValue Result;
	pFunction->Call(Arguments, &Result);
	if (CArgument* pValue = Result.GetReturnArgument())
		pState->Return(pValue);
}

bool ReflectionClone(CNativeState* pState, int, void* pUserData)
{
	CBaseObject* pObject = nullptr;
	if (!CheckObjectValue(pState, 0, &pObject))
		return false;
	CBaseObject* pCopy = Reflection::Clone(pObject, GetScripting(pState, pUserData));
	if (!pCopy)
		return ReportLastError(pState);
	pState->ReturnObject(pCopy);
	pCopy->Release();
	return true;
}

bool ReflectionMove(CNativeState* pState, int, void* pUserData)
{
	CBaseObject* pFrom = nullptr;
	CBaseObject* pTo = nullptr;
	if (!CheckObjectValue(pState, 0, &pFrom) || !CheckObjectValue(pState, 1, &pTo))
		return false;
	if (!Reflection::Move(pFrom, pTo, GetScripting(pState, pUserData)))
		return ReportLastError(pState);
	return true;
}

bool ReflectionToString(CNativeState* pState, int, void* pUserData)
{
	CBaseObject* pObject = nullptr;
	if (!CheckObjectValue(pState, 0, &pObject))
		return false;
	size_t Length = 0;
	char* szText = Reflection::ToString(pObject, &Length, GetScripting(pState, pUserData));
	if (!szText)
		return ReportLastError(pState);
	pState->ReturnString(szText, Length);
	free(szText);
	return true;
}

bool ReflectionCreateFunction(CNativeState* pState, int, void*)
{
	CFunction* pFunction = pState->CheckFunction(0);
	if (!pFunction)
		return false;
	pState->ReturnObject(pFunction);
	return true;
}

bool ReflectionCall(CNativeState* pState, int argc, void* pUserData)
{
	CScripting* pScripting = GetScripting(pState, pUserData);
	CBaseObject* pObject = nullptr;
	if (!pState->CheckClass(pScripting ? pScripting->GetFunctionClass() : nullptr, 0, false, &pObject))
		return false;
	// A plug-in module can give any object the class "Function"; only a real function value can be called.
	CFunction* pFunction = dynamic_cast<CFunction*>(pObject);
	if (!pFunction)
		return pState->TypeError("Function", 0);
	CallFunctionValue(pState, pFunction, 1, argc > 1 ? static_cast<size_t>(argc) : 1);
	return true;
}
}

CArgument* Reflection::ToArgument(CBaseObject* pObject, CScripting* pScripting)
{
	ReflectedClass* pClass = pObject ? pObject->GetReflectedClass() : nullptr;
	KASSERT(!pObject || pClass);
	if (pClass && pScripting)
	{
		const ReflectedNamespace& Global = pScripting->m_Global;
		// A plug-in module can give a plain object one of these classes; only real value holders convert.
		if (Global.m_pMatrix4x4Class && pClass->IsA(Global.m_pMatrix4x4Class))
		{
			if (auto* pHolder = AsObjectValue<CMatrix4x4>(pObject))
				return new CArgumentMatrix4x4(pHolder->m_Value);
		}
		else if (Global.m_pVec3Class && pClass->IsA(Global.m_pVec3Class))
		{
			if (auto* pHolder = AsObjectValue<CVector3D>(pObject))
				return new CArgumentVector3D(pHolder->m_Value);
		}
		else if (Global.m_pVec2Class && pClass->IsA(Global.m_pVec2Class))
		{
			if (auto* pHolder = AsObjectValue<CVector2D>(pObject))
				return new CArgumentVector2D(pHolder->m_Value);
		}
	}
	return CArgument::Create(pObject);
}

CBaseObject* Reflection::Construct(CScripting* pScripting, ReflectedClass* pClass)
{
	if (!pClass || !pClass->m_Constructor.IsPresent())
	{
		SetError("Class is not constructable");
		return nullptr;
	}
	CNativeState State(pScripting);
	if (!pClass->m_Constructor.m_Function.Call(&State, 0, pClass->m_Constructor.m_pUserData))
		return nullptr;
	CArgument* pResult = State.m_RVal.GetReturnArgument();
	if (!pResult || pResult->IsNull())
	{
		SetError("Constructor didn't return anything");
		return nullptr;
	}
	if (!pResult->IsObject())
	{
		SetError("Constructor didn't return object");
		return nullptr;
	}
	CBaseObject* pObject = pResult->ToObject();
	if (!pObject)
	{
		SetError("Constructor returned null");
		return nullptr;
	}
	pObject->AddRef();
	return pObject;
}

char* Reflection::ToString(CBaseObject* pObject, size_t* pLength, CScripting* pScripting)
{
	ReflectedClass* pClass = pObject ? pObject->GetReflectedClass() : nullptr;
	if (!pClass)
	{
		SetError("Class not part of reflection");
		return nullptr;
	}
	if (!pClass->m_ToString.IsPresent())
	{
		SetError("Class doesn't implement ToString");
		return nullptr;
	}
	CNativeState State(pScripting);
	if (!CallSpecial(State, pClass->m_ToString, pObject, 0))
		return nullptr;
	CArgument* pResult = State.m_RVal.GetReturnArgument();
	if (!pResult || pResult->IsNull())
	{
		SetError("ToString didn't return anything");
		return nullptr;
	}
	if (!pResult->IsString())
	{
		SetError("ToString didn't return a string");
		return nullptr;
	}
	size_t Length = 0;
	const char* szText = pResult->ToString(&Length);
	char* szCopy = static_cast<char*>(malloc(Length + 1));
	if (!szCopy)
	{
		SetError("Out of memory.");
		return nullptr;
	}
	memcpy(szCopy, szText, Length);
	szCopy[Length] = '\0';
	if (pLength)
		*pLength = Length;
	return szCopy;
}

CBaseObject* Reflection::Clone(CBaseObject* pObject, CScripting* pScripting)
{
	ReflectedClass* pClass = pObject ? pObject->GetReflectedClass() : nullptr;
	if (!pClass)
	{
		SetError("Class not part of reflection");
		return nullptr;
	}
	if (!pClass->m_Clone.IsPresent())
	{
		SetError("Class is not cloneable");
		return nullptr;
	}
	CNativeState State(pScripting);
	if (!CallSpecial(State, pClass->m_Clone, pObject, 0))
		return nullptr;
	CArgument* pResult = State.m_RVal.GetReturnArgument();
	if (!pResult || pResult->IsNull() || (pResult->IsObject() && !pResult->ToObject()))
	{
		SetError("Clone didn't return anything");
		return nullptr;
	}
	if (!pResult->IsObject())
	{
		SetError("Clone didn't return an object");
		return nullptr;
	}
	CBaseObject* pCopy = pResult->ToObject();
	pCopy->AddRef();
	return pCopy;
}

bool Reflection::Move(CBaseObject* pFrom, CBaseObject* pTo, CScripting* pScripting)
{
	if (pFrom && pFrom == pTo)
	{
		SetError("Cannot move to same place");
		return false;
	}
	ReflectedClass* pClass = pFrom ? pFrom->GetReflectedClass() : nullptr;
	if (!pClass)
	{
		SetError("Class not part of reflection");
		return false;
	}
	if (!pClass->m_Move.IsPresent())
	{
		SetError("Class is not movable");
		return false;
	}
	CArgumentArray Arguments(1);
	Arguments.AddObject(pTo);
	CNativeState State(pScripting, nullptr, &Arguments);
	return CallSpecial(State, pClass->m_Move, pFrom, 1);
}

void CScripting::RegisterReflectionFunctions()
{
	ReflectedNamespace* pReflection = m_pReflectionNamespace;
	pReflection->RegisterFunction("clone", "x", ReflectionClone, this);
	pReflection->RegisterFunction("move", "xx", ReflectionMove, this);
	pReflection->RegisterFunction("tostring", "x", ReflectionToString, this);
	pReflection->RegisterFunction("createFunction", "c", ReflectionCreateFunction, this);
	pReflection->RegisterFunction("call", "x", ReflectionCall, this);
}

bool FunctionCallback(CNativeState* pState, int argc, void* pUserData)
{
	CFunction* pFunction = static_cast<CFunction*>(pUserData);
	if (!KASSERT(pFunction))
		return pState->Error("Cannot call %s", "");
	CallFunctionValue(pState, pFunction, 0, argc > 0 ? static_cast<size_t>(argc) : 0);
	return true;
}
