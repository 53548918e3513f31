#include "Engine/KestrinNative.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Engine/KError.h"
#include "Engine/ModuleViews.h"
#include "Engine/ScriptStream.h"

namespace
{
constexpr size_t ERROR_FORMAT_SIZE = 4096;

ModuleNativeCaller g_pfnModuleCaller = nullptr;

char* DuplicateString(const char* szText)
{
	return szText ? strdup(szText) : nullptr;
}

// The numeric conversions of the value family, shared by every CheckNumber.
template <class T>
bool CheckNumberAs(CNativeState* pState, size_t Index, T& Value, const char* szWord)
{
	CArgument* pArgument = pState->GetArgument(Index);
	if (!pArgument || !pArgument->IsNumber())
		return pState->TypeError(szWord, Index);
	// Integers, the common case, convert here as ToNumber converts them (a plain cast to every target).
	if (pArgument->GetType() == ARGUMENT_INTEGER)
	{
		Value = static_cast<T>(static_cast<const CArgumentInteger*>(pArgument)->GetValue());
		return true;
	}
	pArgument->ToNumber(Value);
	return true;
}

// An array value of exactly Count numbers, converted to floats.
bool ReadNumberArray(const CArgument* pArgument, float* pOut, size_t Count)
{
	if (pArgument->GetType() != ARGUMENT_ARRAY)
		return false;
	const CArgumentArray* pArray = static_cast<const CArgumentArray*>(pArgument);
	if (pArray->GetArrayCount() != Count)
		return false;
	for (size_t i = 0; i < Count; i++)
	{
		if (!pArray->GetAt(i)->IsNumber())
			return false;
	}
	for (size_t i = 0; i < Count; i++)
		pArray->GetAt(i)->ToNumber(pOut[i]);
	return true;
}
}

ScriptFunction::ScriptFunction() : m_szName(nullptr), m_szMask(nullptr), m_pfnNative(nullptr), m_pfnModuleNative(nullptr)
{
}

ScriptFunction::ScriptFunction(const char* szName, const char* szMask, NativeFunction pfnNative)
	: m_szName(DuplicateString(szName)), m_szMask(DuplicateString(szMask)), m_pfnNative(pfnNative),
	  m_pfnModuleNative(nullptr)
{
}

ScriptFunction::ScriptFunction(const char* szName, const char* szMask, ModuleNativeFunction pfnModuleNative)
	: m_szName(DuplicateString(szName)), m_szMask(DuplicateString(szMask)), m_pfnNative(nullptr),
	  m_pfnModuleNative(pfnModuleNative)
{
}

ScriptFunction::~ScriptFunction()
{
	free(m_szName);
	free(m_szMask);
}

ScriptFunction::ScriptFunction(ScriptFunction&& Other) noexcept
	: m_szName(Other.m_szName), m_szMask(Other.m_szMask), m_pfnNative(Other.m_pfnNative),
	  m_pfnModuleNative(Other.m_pfnModuleNative)
{
	Other.m_szName = nullptr;
	Other.m_szMask = nullptr;
}

ScriptFunction& ScriptFunction::operator=(ScriptFunction&& Other) noexcept
{
	if (this == &Other)
		return *this;
	free(m_szName);
	free(m_szMask);
	m_szName = Other.m_szName;
	m_szMask = Other.m_szMask;
	m_pfnNative = Other.m_pfnNative;
	m_pfnModuleNative = Other.m_pfnModuleNative;
	Other.m_szName = nullptr;
	Other.m_szMask = nullptr;
	return *this;
}

size_t ScriptFunction::CalcArgumentCount() const
{
	size_t Count = 0;
	if (!m_szMask)
		return 0;
	for (const char* p = m_szMask; *p && *p != '|' && *p != '*'; p++)
	{
		if (*p != 't')
			Count++;
	}
	return Count;
}

bool ScriptFunction::Call(CNativeState* pState, int argc, void* pUserData) const
{
	if (m_pfnNative)
		return m_pfnNative(pState, argc, pUserData);
	if (m_pfnModuleNative && g_pfnModuleCaller)
		return g_pfnModuleCaller(m_pfnModuleNative, pState, argc, pUserData);
	// The error flag is set too, so that a false result always comes with a reported error.
	if (pState)
		return pState->Error("Cannot call %s", m_szName ? m_szName : "");
	SetError("Cannot call %s", m_szName ? m_szName : "");
	return false;
}

void ScriptFunction::SetModuleCaller(ModuleNativeCaller pfnCaller)
{
	g_pfnModuleCaller = pfnCaller;
}

ModuleNativeCaller ScriptFunction::GetModuleCaller()
{
	return g_pfnModuleCaller;
}

bool CNativeState::CheckCallingCode()
{
	if (m_pLanguage == nullptr || m_pScripting == nullptr)
		return true;
	const uintptr_t Handle = m_pLanguage->FindCallingCode(m_pCallStack);
	if (Handle == 0 || CScriptEnvironment::IsRunning(Handle))
		return true;
	m_bHasError = true;
	return m_pScripting->RefuseCaller();
}

bool CNativeState::Error(const char* szFormat, ...)
{
	va_list Args;
	va_start(Args, szFormat);
	bool bResult = ErrorV(szFormat, Args);
	va_end(Args);
	return bResult;
}

bool CNativeState::ErrorV(const char* szFormat, va_list Args)
{
	char szText[ERROR_FORMAT_SIZE];
	vsnprintf(szText, sizeof(szText), szFormat, Args);
	SetError("%s", szText);
	m_bHasError = true;
	return false;
}

bool CNativeState::TypeError(const char* szTypeName, size_t Index)
{
	return Error("Expected %s for argument %d", szTypeName, static_cast<int>(Index + 1));
}

const char* CNativeState::CheckString(size_t Index, size_t* pLength)
{
	CArgument* pArgument = GetArgument(Index);
	if (!pArgument || !pArgument->IsString())
	{
		TypeError("string", Index);
		return nullptr;
	}
	return pArgument->ToString(pLength);
}

bool CNativeState::CheckNumber(size_t Index, double& Value)
{
	return CheckNumberAs(this, Index, Value, "number");
}

bool CNativeState::CheckNumber(size_t Index, float& Value)
{
	return CheckNumberAs(this, Index, Value, "number");
}

bool CNativeState::CheckNumber(size_t Index, uint64_t& Value)
{
	return CheckNumberAs(this, Index, Value, "integer");
}

bool CNativeState::CheckNumber(size_t Index, int64_t& Value)
{
	return CheckNumberAs(this, Index, Value, "integer");
}

bool CNativeState::CheckNumber(size_t Index, uint32_t& Value)
{
	return CheckNumberAs(this, Index, Value, "integer");
}

bool CNativeState::CheckNumber(size_t Index, int32_t& Value)
{
	return CheckNumberAs(this, Index, Value, "integer");
}

bool CNativeState::CheckNumber(size_t Index, uint8_t& Value)
{
	uint32_t uiValue = 0;
	if (!CheckNumberAs(this, Index, uiValue, "integer"))
		return false;
	Value = static_cast<uint8_t>(uiValue & 0xFF);
	return true;
}

const uint8_t* CNativeState::CheckBytes(size_t Index, size_t& Length)
{
	CArgument* pArgument = GetArgument(Index);
	if (!pArgument || (pArgument->GetType() != ARGUMENT_STRING && pArgument->GetType() != ARGUMENT_BYTES))
	{
		TypeError("bytes", Index);
		return nullptr;
	}
	const uint8_t* pData = pArgument->ToBytes(Length);
	// An empty bytes value holds no storage; callers still get a usable pointer.
	static const uint8_t s_Empty = 0;
	return pData ? pData : &s_Empty;
}

bool CNativeState::CheckBoolean(size_t Index, bool& Value)
{
	CArgument* pArgument = GetArgument(Index);
	if (!pArgument || !pArgument->IsBoolean())
		return TypeError("boolean", Index);
	Value = pArgument->ToBoolean();
	return true;
}

CFunction* CNativeState::CheckFunction(size_t Index)
{
	CArgument* pArgument = GetArgument(Index);
	// A function value read from the wire holds no function: there is nothing a native could call.
	CFunction* pFunction = (pArgument && pArgument->IsFunction()) ? pArgument->ToFunction() : nullptr;
	if (!pFunction)
	{
		TypeError("Function", Index);
		return nullptr;
	}
	// Whatever would keep it (a handler, a timer, an export) would only ever refuse to run it.
	if (pFunction->HasStopped())
	{
		Error("%s", "Cannot use a function of a stopped resource");
		return nullptr;
	}
	return pFunction;
}

CBaseObject* CNativeState::CheckReferenceable(size_t Index)
{
	CArgument* pArgument = GetArgument(Index);
	if (!pArgument || !pArgument->IsObject())
	{
		TypeError("Instance", Index);
		return nullptr;
	}
	return pArgument->ToObject();
}

bool CNativeState::CheckClass(ReflectedClass* pClass, size_t Index, bool bAllowNull, CBaseObject** ppOut)
{
	CArgument* pArgument = GetArgument(Index);
	if (pArgument && bAllowNull && pArgument->IsNull())
	{
		*ppOut = nullptr;
		return true;
	}
	CBaseObject* pObject = nullptr;
	if (pArgument && pArgument->IsObject())
		pObject = pClass ? pArgument->ToObject(pClass) : pArgument->ToObject();
	if (!pObject)
		return TypeError(pClass ? pClass->GetName() : "Instance", Index);
	*ppOut = pObject;
	return true;
}

bool CNativeState::CheckVector2D(size_t Index, CVector2D& Value)
{
	CArgument* pArgument = GetArgument(Index);
	if (pArgument && pArgument->IsVector2D())
	{
		pArgument->ToVector2D(Value);
		return true;
	}
	float rgfValues[2];
	if (!pArgument || !ReadNumberArray(pArgument, rgfValues, 2))
		return TypeError("Vector2D", Index);
	Value = CVector2D(rgfValues[0], rgfValues[1]);
	return true;
}

bool CNativeState::CheckVector3D(size_t Index, CVector3D& Value)
{
	CArgument* pArgument = GetArgument(Index);
	if (pArgument && pArgument->IsVector3D())
	{
		pArgument->ToVector3D(Value);
		return true;
	}
	float rgfValues[3];
	if (!pArgument || !ReadNumberArray(pArgument, rgfValues, 3))
		return TypeError("Vector3D", Index);
	Value = CVector3D(rgfValues[0], rgfValues[1], rgfValues[2]);
	return true;
}

bool CNativeState::CheckMatrix4x4(size_t Index, CMatrix4x4& Value)
{
	CArgument* pArgument = GetArgument(Index);
	if (!pArgument || !pArgument->IsMatrix4x4())
		return TypeError("Matrix4x4", Index);
	pArgument->ToMatrix4x4(Value);
	return true;
}

Stream* CNativeState::CheckStream(size_t Index)
{
	ReflectedClass* pStreamClass = nullptr;
	if (m_pScripting)
	{
		KASSERT(m_pScripting->m_Global.m_pStreamClass);
		pStreamClass = m_pScripting->m_Global.m_pStreamClass;
	}
	CArgument* pArgument = GetArgument(Index);
	CBaseObject* pObject = nullptr;
	if (pStreamClass && pArgument && pArgument->IsObject())
		pObject = pArgument->ToObject(pStreamClass);
	// A plug-in module can give any object the class "Stream"; only a real script stream holds a stream.
	CScriptStream* pScriptStream = dynamic_cast<CScriptStream*>(pObject);
	if (!pScriptStream)
	{
		TypeError("Stream", Index);
		return nullptr;
	}
	Stream* pStream = pScriptStream->GetStream();
	if (!pStream)
	{
		Error("Stream closed");
		return nullptr;
	}
	return pStream;
}

bool CNativeState::GetThis(ReflectedClass* pClass, CBaseObject** ppOut)
{
	CBaseObject* pThis = m_pThis.Get();
	if (!pThis)
		return Error("'this' is null");
	ReflectedClass* pInstanceClass = pThis->GetReflectedClass();
	if (!KASSERT(pInstanceClass))
	{
		if (pClass)
			return Error("%s expected for 'this'", pClass->GetName());
	}
	else if (pClass && !pInstanceClass->IsA(pClass))
		return Error("%s expected for 'this'", pClass->GetName());
	*ppOut = pThis;
	return true;
}

void CNativeState::ReturnNull()
{
	m_RVal.AddNull();
}

void CNativeState::ReturnUndefined()
{
	m_RVal.AddUndefined();
}

void CNativeState::ReturnBoolean(bool bValue)
{
	m_RVal.AddBoolean(bValue);
}

void CNativeState::ReturnNumber(int8_t Value)
{
	m_RVal.AddNumber(static_cast<int32_t>(Value));
}

void CNativeState::ReturnNumber(uint8_t Value)
{
	m_RVal.AddNumber(static_cast<int32_t>(Value));
}

void CNativeState::ReturnNumber(int16_t Value)
{
	m_RVal.AddNumber(static_cast<int32_t>(Value));
}

void CNativeState::ReturnNumber(uint16_t Value)
{
	m_RVal.AddNumber(static_cast<int32_t>(Value));
}

void CNativeState::ReturnNumber(int32_t Value)
{
	m_RVal.AddNumber(Value);
}

void CNativeState::ReturnNumber(uint32_t Value)
{
	m_RVal.AddNumber(static_cast<int32_t>(Value));
}

void CNativeState::ReturnNumber(int64_t Value)
{
	m_RVal.AddNumber(static_cast<long long>(Value));
}

void CNativeState::ReturnNumber(uint64_t Value)
{
	m_RVal.AddNumber(static_cast<long long>(Value));
}

void CNativeState::ReturnNumber(float Value)
{
	m_RVal.AddNumber(Value);
}

void CNativeState::ReturnNumber(double Value)
{
	m_RVal.AddNumber(Value);
}

void CNativeState::ReturnString(const char* szValue)
{
	if (!szValue)
		m_RVal.AddNull();
	else
		m_RVal.AddString(szValue);
}

void CNativeState::ReturnString(const char* pValue, size_t Length)
{
	if (!pValue)
		m_RVal.AddNull();
	else
		m_RVal.AddString(pValue, Length);
}

void CNativeState::ReturnBytes(const uint8_t* pData, size_t Length)
{
	m_RVal.AddBytes(pData, pData ? Length : 0);
}

void CNativeState::ReturnVector2D(const CVector2D& Value)
{
	m_RVal.AddVector2D(Value);
}

void CNativeState::ReturnVector3D(const CVector3D& Value)
{
	m_RVal.AddVector3D(Value);
}

void CNativeState::ReturnMatrix4x4(const CMatrix4x4& Value)
{
	m_RVal.AddMatrix4x4(Value);
}

void CNativeState::ReturnObject(CBaseObject* pObject)
{
	m_RVal.AddObject(pObject);
}

void CNativeState::Return(const CArgument* pValue)
{
	if (!pValue)
		m_RVal.AddNull();
	else
		m_RVal.Add(pValue);
}

void CNativeState::ReturnAndOwn(CArgument* pValue)
{
	if (!pValue)
		m_RVal.AddNull();
	else
		m_RVal.AddAndOwn(pValue);
}

void CNativeState::ReturnStream(Stream* pStream)
{
	ReflectedClass* pStreamClass = m_pScripting ? m_pScripting->m_Global.m_pStreamClass : nullptr;
	KASSERT(pStreamClass);
	CScriptStream* pScriptStream = new CScriptStream(pStreamClass, pStream);
	m_RVal.AddObject(pScriptStream);
	pScriptStream->Release();
}

CFunction::CFunction(CScripting* pScripting, uintptr_t Environment)
	: m_pFunctionInterface(nullptr), m_Environment(Environment)
{
	SetReflectedClass(pScripting ? pScripting->GetFunctionClass() : nullptr);
}

CFunction::~CFunction()
{
	Kestrin3D::Interfaces::DetachView(m_pFunctionInterface);
}

bool CFunction::HasStopped() const
{
	return m_Environment != 0 && !CScriptEnvironment::IsRunning(m_Environment);
}

CResource* CFunction::GetCodeResource() const
{
	const CScriptEnvironment* pEnvironment =
		m_Environment != 0 ? CScriptEnvironment::FromHandle(m_Environment) : nullptr;
	return pEnvironment != nullptr && !pEnvironment->HasEnded() ? pEnvironment->GetResource() : nullptr;
}

bool CFunction::GoesWithResource(CResource* pAdder, const CFunction* pFunction, CResource* pResource)
{
	if (pAdder == pResource)
		return true;
	if (pFunction == nullptr || pFunction->m_Environment == 0)
		return false;
	// One lookup answers both: code of the resource, or of an instance that has stopped (ended, or gone).
	const CScriptEnvironment* pEnvironment = CScriptEnvironment::FromHandle(pFunction->m_Environment);
	return pEnvironment == nullptr || pEnvironment->HasEnded() || pEnvironment->GetResource() == pResource;
}
