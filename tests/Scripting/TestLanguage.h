#pragma once
// A small script language for the host's tests, implementing the language contract. A script's text names a
// routine that the test registered with the language; running the script runs the routine with the resource on
// the language's stack of callers, so the routine calls natives exactly as a script of that resource would.
// Function values wrap C++ callables, are code of the environment that made them and run with its resource as the
// caller.

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "Engine/KError.h"
#include "Engine/KestrinNative.h"
#include "Engine/KestrinStream.h"
#include "Scripting/Resource.h"

// An argument list built in one expression: CArgs().S("name").I(5).Own(pFunction).
class CArgs : public CArgumentArray
{
public:
	CArgs& S(const char* szText)
	{
		AddString(szText);
		return *this;
	}
	CArgs& I(int32_t iValue)
	{
		AddNumber(iValue);
		return *this;
	}
	CArgs& D(double dValue)
	{
		AddNumber(dValue);
		return *this;
	}
	CArgs& B(bool bValue)
	{
		AddBoolean(bValue);
		return *this;
	}
	CArgs& Null()
	{
		AddNull();
		return *this;
	}
	CArgs& O(CBaseObject* pObject)
	{
		AddObject(pObject);
		return *this;
	}
	// Takes over the caller's reference.
	CArgs& Own(CArgument* pValue)
	{
		AddAndOwn(pValue);
		return *this;
	}
};

// The outcome of one native call.
struct tCallResult
{
	bool m_bOk = false;
	// Null when the native returned nothing.
	Strong<CArgument> m_pValue;
	// The last-error text when the call failed.
	std::string m_Error;

	bool IsNull() const { return m_pValue.IsNull() || m_pValue->IsNull(); }
	bool Boolean() const { return !m_pValue.IsNull() && m_pValue->IsBoolean() && m_pValue->ToBoolean(); }
	int32_t Integer() const
	{
		int32_t iValue = -12345;
		if (!m_pValue.IsNull() && m_pValue->IsNumber())
			m_pValue->ToNumber(iValue);
		return iValue;
	}
	std::string String() const
	{
		return (!m_pValue.IsNull() && m_pValue->IsString()) ? std::string(m_pValue->ToString()) : "<not a string>";
	}
	CBaseObject* Object() const
	{
		return (!m_pValue.IsNull() && m_pValue->IsObject()) ? m_pValue->ToObject() : nullptr;
	}
};

namespace TestScript
{
inline tCallResult Run(CScripting* pScripting, CResource* pCaller, CBaseObject* pThis, const ScriptFunction& Function,
	void* pUserData, const CArgumentArray& Arguments)
{
	tCallResult Result;
	CNativeState State(pScripting, pCaller, &Arguments);
	if (pThis)
		State.SetThis(pThis);
	Result.m_bOk = Function.Call(&State, static_cast<int>(Arguments.GetArrayCount()), pUserData);
	if (!Result.m_bOk)
		Result.m_Error = g_szError;
	Result.m_pValue = State.m_RVal.GetReturnArgument();
	return Result;
}

// The first function of that name, or null.
inline ReflectedFunction* FindFunction(const std::vector<ReflectedFunction*>& Functions, const char* szName)
{
	for (ReflectedFunction* pFunction : Functions)
	{
		if (strcmp(pFunction->GetName(), szName) == 0)
			return pFunction;
	}
	return nullptr;
}

// The result of a call that found nothing to run.
inline tCallResult NotFound(const char* szWhat, const char* szName)
{
	tCallResult Missing;
	Missing.m_Error = std::string(szWhat) + szName;
	return Missing;
}

// A function of the global namespace, called as a script of pCaller would call it.
inline tCallResult CallGlobal(CScripting* pScripting, CResource* pCaller, const char* szName,
	const CArgumentArray& Arguments)
{
	if (ReflectedFunction* pFunction = FindFunction(pScripting->GetGlobal()->GetFunctions(), szName))
		return Run(pScripting, pCaller, nullptr, pFunction->m_Function, pFunction->m_pUserData, Arguments);
	return NotFound("no global function ", szName);
}

// A method found through the receiver's class and its bases; pClass overrides the receiver's class.
inline tCallResult CallMethod(CScripting* pScripting, CResource* pCaller, CBaseObject* pThis, const char* szName,
	const CArgumentArray& Arguments, ReflectedClass* pClass = nullptr)
{
	for (ReflectedClass* pSearch = pClass ? pClass : (pThis ? pThis->GetReflectedClass() : nullptr); pSearch;
		 pSearch = pSearch->GetBaseClass())
	{
		if (ReflectedFunction* pFunction = FindFunction(pSearch->GetFunctions(), szName))
			return Run(pScripting, pCaller, pThis, pFunction->m_Function, pFunction->m_pUserData, Arguments);
	}
	return NotFound("no method ", szName);
}

// A property of the receiver's class, or of the global namespace when pThis is null; pClass overrides both.
inline tCallResult GetProperty(CScripting* pScripting, CResource* pCaller, CBaseObject* pThis, const char* szName,
	ReflectedClass* pClass = nullptr)
{
	if (!pClass && pThis)
		pClass = pThis->GetReflectedClass();
	ReflectedProperty* pProperty = pClass ? pClass->GetProperty(szName) : pScripting->GetGlobal()->GetProperty(szName);
	if (!pProperty)
		return NotFound("no property ", szName);
	CArgumentArray None;
	return Run(pScripting, pCaller, pThis, pProperty->m_Getter, pProperty->m_pUserData, None);
}
}

class CTestVM;

typedef std::function<void(const CArgumentArray& Arguments)> TestFunctionBody;

class CTestFunction : public CFunction
{
public:
	CTestFunction(CTestVM* pVM, CResource* pCaller, TestFunctionBody Body, uintptr_t Environment = 0);

	bool Call(const CArgumentArray& Arguments, CReturnValue* pResult) override;

	CTestVM* m_pVM;
	CResource* m_pCaller;
	TestFunctionBody m_Body;
};

class CTestEnvironment : public CScriptEnvironment
{
public:
	CTestEnvironment(CTestVM* pVM, const char* szName) : m_pVM(pVM), m_Name(szName ? szName : "") {}

	void Destroy() override;
	bool DoFile(Stream* pStream, const char* szName) override;

	// A native of the global namespace, called by this environment's script.
	tCallResult Call(const char* szName, const CArgumentArray& Arguments = CArgs());
	tCallResult CallMethod(CBaseObject* pThis, const char* szName, const CArgumentArray& Arguments = CArgs());
	// A new function value (one reference for the caller) that runs Body as this environment's script.
	CArgument* Function(TestFunctionBody Body);

	CTestVM* m_pVM;
	std::string m_Name;
	// A script may stop its own resource; the environment then goes when its script returns.
	bool m_bRunning = false;
	bool m_bDestroyed = false;
};

typedef std::function<bool(CTestEnvironment& Environment)> TestScriptBody;

class CTestVM : public CScriptingVM
{
public:
	CTestVM(CScripting* pScripting, const char* szLanguage) : m_pScripting(pScripting), m_Language(szLanguage) {}

	bool DefineClasses() override { return true; }
	void CollectGarbage() override { m_iCollections++; }
	CScriptEnvironment* CreateEnvironment(const char* szResourceName) override
	{
		if (m_bRefuseEnvironments)
			return nullptr;
		m_iLiveEnvironments++;
		return new CTestEnvironment(this, szResourceName);
	}

	CResource* GetCaller() const { return m_Callers.empty() ? nullptr : m_Callers.back(); }

	// Script texts and what running them does; an unknown text runs as an empty script, the text "fail" fails.
	std::map<std::string, TestScriptBody> m_Scripts;
	// "resource:path" of every script run, in order.
	std::vector<std::string> m_Runs;
	std::vector<CResource*> m_Callers;
	CScripting* m_pScripting;
	std::string m_Language;
	int m_iLiveEnvironments = 0;
	int m_iCollections = 0;
	bool m_bRefuseEnvironments = false;
};

inline CTestFunction::CTestFunction(CTestVM* pVM, CResource* pCaller, TestFunctionBody Body, uintptr_t Environment) :
	CFunction(pVM->m_pScripting, Environment),
	m_pVM(pVM),
	m_pCaller(pCaller),
	m_Body(std::move(Body))
{
}

inline bool CTestFunction::Call(const CArgumentArray& Arguments, CReturnValue*)
{
	m_pVM->m_Callers.push_back(m_pCaller);
	// The body may drop the last other reference to this function.
	TestFunctionBody Body = m_Body;
	if (Body)
		Body(Arguments);
	m_pVM->m_Callers.pop_back();
	return true;
}

inline void CTestEnvironment::Destroy()
{
	m_pVM->m_iLiveEnvironments--;
	m_bDestroyed = true;
	if (!m_bRunning)
		delete this;
}

inline bool CTestEnvironment::DoFile(Stream* pStream, const char* szName)
{
	std::string Text;
	char Buffer[256];
	size_t Read;
	while ((Read = pStream->Read(Buffer, sizeof(Buffer))) > 0)
		Text.append(Buffer, Read);
	while (!Text.empty() && (Text.back() == '\n' || Text.back() == '\r' || Text.back() == ' '))
		Text.pop_back();

	m_pVM->m_Runs.push_back(m_Name + ":" + (szName ? szName : ""));
	if (Text == "fail")
		return false;
	auto it = m_pVM->m_Scripts.find(Text);
	if (it == m_pVM->m_Scripts.end())
		return true;
	TestScriptBody Body = it->second;
	m_pVM->m_Callers.push_back(GetResource());
	m_bRunning = true;
	const bool bResult = Body(*this);
	m_bRunning = false;
	m_pVM->m_Callers.pop_back();
	if (m_bDestroyed)
		delete this;
	return bResult;
}

inline tCallResult CTestEnvironment::Call(const char* szName, const CArgumentArray& Arguments)
{
	return TestScript::CallGlobal(m_pVM->m_pScripting, GetResource(), szName, Arguments);
}

inline tCallResult CTestEnvironment::CallMethod(CBaseObject* pThis, const char* szName,
	const CArgumentArray& Arguments)
{
	return TestScript::CallMethod(m_pVM->m_pScripting, GetResource(), pThis, szName, Arguments);
}

inline CArgument* CTestEnvironment::Function(TestFunctionBody Body)
{
	CTestFunction* pFunction = new CTestFunction(m_pVM, GetResource(), std::move(Body), GetHandle());
	CArgument* pValue = new CArgumentFunction(pFunction);
	pFunction->Release();
	return pValue;
}
