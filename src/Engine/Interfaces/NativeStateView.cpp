// The call of a module native: the view of the engine's call state that the native reads its arguments and
// receiver from and gives its one return value to, and the caller the engine runs every module native through.

#include <cstdarg>
#include <cstring>

#include "Engine/KestrinNative.h"
#include "Engine/Reflection.h"
#include "ViewBase.h"

namespace Kestrin3D
{
namespace Interfaces
{
namespace
{
// Lives in the frame of one native call and is never shared, so it never frees itself: a native that releases it
// by mistake only lowers the count.
class CNativeStateImpl final : public INativeState
{
public:
	explicit CNativeStateImpl(CNativeState* pState) : m_iRefCount(1), m_pState(pState) {}

	Result GetInterface(const tUUID& Id, void** ppOut) override
	{
		return AnswerOwnInterface<INativeState>(this, Id, ID_NativeState, ppOut);
	}

	int32_t AddRef() override { return ++m_iRefCount; }
	int32_t Release() override { return m_iRefCount > 0 ? --m_iRefCount : 0; }

	Result SetError(const char* szFormat, ...) override __attribute__((format(printf, 2, 3)))
	{
		if (!szFormat)
		{
			m_pState->Error("%s", "");
			return RESULT_OK;
		}
		va_list Args;
		va_start(Args, szFormat);
		m_pState->ErrorV(szFormat, Args);
		va_end(Args);
		return RESULT_OK;
	}

	Result GetArgument(size_t Index, IArgument** ppOut) override
	{
		if (!ppOut)
			return RESULT_NULL_ARGUMENT;
		return AnswerView(GetView(m_pState->GetArgument(Index)), reinterpret_cast<void**>(ppOut),
			RESULT_OUT_OF_RANGE);
	}

	bool CheckBoolean(size_t Index, bool& bValue) override { return m_pState->CheckBoolean(Index, bValue); }
	bool CheckInt32(size_t Index, int32_t& iValue) override { return m_pState->CheckNumber(Index, iValue); }
	bool CheckUInt32(size_t Index, uint32_t& uiValue) override { return m_pState->CheckNumber(Index, uiValue); }
	bool CheckInt64(size_t Index, int64_t& iValue) override { return m_pState->CheckNumber(Index, iValue); }
	bool CheckUInt64(size_t Index, uint64_t& uiValue) override { return m_pState->CheckNumber(Index, uiValue); }
	bool CheckSingle(size_t Index, float& fValue) override { return m_pState->CheckNumber(Index, fValue); }
	bool CheckDouble(size_t Index, double& dValue) override { return m_pState->CheckNumber(Index, dValue); }

	const char* CheckString(size_t Index, size_t* pLength) override { return m_pState->CheckString(Index, pLength); }

	bool CheckVector2D(size_t Index, float& fX, float& fY) override
	{
		CVector2D vecValue;
		if (!m_pState->CheckVector2D(Index, vecValue))
			return false;
		fX = vecValue.x;
		fY = vecValue.y;
		return true;
	}

	bool CheckVector3D(size_t Index, float& fX, float& fY, float& fZ) override
	{
		CVector3D vecValue;
		if (!m_pState->CheckVector3D(Index, vecValue))
			return false;
		fX = vecValue.x;
		fY = vecValue.y;
		fZ = vecValue.z;
		return true;
	}

	// There is no four-component value.
	bool CheckVector4D(size_t, float&, float&, float&, float&) override { return false; }

	bool CheckMatrix4x4(size_t Index, float rgfMatrix[16]) override
	{
		CMatrix4x4 matValue;
		if (!rgfMatrix || !m_pState->CheckMatrix4x4(Index, matValue))
			return false;
		matValue.ToArray(rgfMatrix);
		return true;
	}

	bool CheckClass(IReflectedClass* pClass, size_t Index, bool bNullable, IBaseObject** ppOut) override
	{
		ReflectedClass* pReflectedClass = Interfaces::Unwrap(pClass);
		CBaseObject* pObject = nullptr;
		if (!pReflectedClass || !m_pState->CheckClass(pReflectedClass, Index, bNullable, &pObject))
			return false;
		Answer(pObject, ppOut);
		return true;
	}

	bool CheckObject(size_t Index, IBaseObject** ppOut) override
	{
		CBaseObject* pObject = m_pState->CheckReferenceable(Index);
		Answer(pObject, ppOut);
		return pObject != nullptr;
	}

	bool CheckFunction(size_t Index, IFunction** ppOut) override
	{
		CFunction* pFunction = m_pState->CheckFunction(Index);
		if (ppOut)
			*ppOut = GetView(pFunction);
		return pFunction != nullptr;
	}

	// Streams reach modules as objects: a module asks an object for ID_Stream.
	bool CheckStream(size_t, IStream** ppOut) override
	{
		if (ppOut)
			*ppOut = nullptr;
		return false;
	}

	bool CheckThis(IBaseObject** ppOut, IReflectedClass* pClass) override
	{
		ReflectedClass* pReflectedClass = Interfaces::Unwrap(pClass);
		CBaseObject* pThis = nullptr;
		if ((pClass && !pReflectedClass) || !m_pState->GetThis(pReflectedClass, &pThis))
			pThis = nullptr;
		Answer(pThis, ppOut);
		return pThis != nullptr;
	}

	Result GetThis(IBaseObject** ppOut, IReflectedClass* pClass) override
	{
		if (!ppOut)
			return RESULT_NULL_ARGUMENT;
		CBaseObject* pThis = m_pState->GetThisObject();
		if (!pThis)
			return RESULT_NOT_FOUND;
		if (pClass)
		{
			ReflectedClass* pReflectedClass = Interfaces::Unwrap(pClass);
			ReflectedClass* pThisClass = pThis->GetReflectedClass();
			if (!IsClassOf(pThisClass, pReflectedClass))
			{
				SetError("%s expected for 'this'", pClass->GetName());
				return RESULT_FAILED;
			}
		}
		*ppOut = GetView(pThis);
		return RESULT_OK;
	}

	Result Return(IArgument* pValue) override
	{
		if (HasReturned())
			return RESULT_NO_VALUE;
		if (!pValue)
			return RESULT_NULL_ARGUMENT;
		CArgument* pArgument = Interfaces::Unwrap(pValue);
		if (!pArgument)
			return RESULT_NOT_FOUND;
		m_pState->Return(pArgument);
		return RESULT_OK;
	}

	Result ReturnNull() override { return Give([&] { m_pState->ReturnNull(); }); }
	Result ReturnUndefined() override { return Give([&] { m_pState->ReturnUndefined(); }); }
	Result ReturnBoolean(bool bValue) override { return Give([&] { m_pState->ReturnBoolean(bValue); }); }

	Result ReturnString(const char* pText, size_t Length) override
	{
		if (HasReturned())
			return RESULT_NO_VALUE;
		if (!pText)
			return RESULT_NULL_ARGUMENT;
		CArgumentString* pString = new CArgumentString(pText, Length);
		if (!pString->GetString())
		{
			pString->Release();
			return RESULT_NO_VALUE;
		}
		m_pState->ReturnAndOwn(pString);
		return RESULT_OK;
	}

	Result ReturnStringZ(const char* szText) override
	{
		if (HasReturned())
			return RESULT_NO_VALUE;
		if (!szText)
			return RESULT_NULL_ARGUMENT;
		return ReturnString(szText, strlen(szText));
	}

	Result ReturnInt32(int32_t iValue) override { return Give([&] { m_pState->ReturnNumber(iValue); }); }
	Result ReturnUInt32(uint32_t uiValue) override { return Give([&] { m_pState->ReturnNumber(uiValue); }); }
	Result ReturnInt64(int64_t iValue) override { return Give([&] { m_pState->ReturnNumber(iValue); }); }
	Result ReturnUInt64(uint64_t uiValue) override { return Give([&] { m_pState->ReturnNumber(uiValue); }); }
	Result ReturnSingle(float fValue) override { return Give([&] { m_pState->ReturnNumber(fValue); }); }
	Result ReturnDouble(double dValue) override { return Give([&] { m_pState->ReturnNumber(dValue); }); }

	Result ReturnVector2D(float fX, float fY) override
	{
		return Give([&] { m_pState->ReturnVector2D(CVector2D(fX, fY)); });
	}

	Result ReturnVector3D(float fX, float fY, float fZ) override
	{
		return Give([&] { m_pState->ReturnVector3D(CVector3D(fX, fY, fZ)); });
	}

	Result ReturnVector4D(float, float, float, float) override
	{
		return HasReturned() ? RESULT_NO_VALUE : RESULT_NOT_AVAILABLE;
	}

	Result ReturnMatrix4x4(const float rgfMatrix[16]) override
	{
		if (HasReturned())
			return RESULT_NO_VALUE;
		if (!rgfMatrix)
			return RESULT_NULL_ARGUMENT;
		CMatrix4x4 matValue;
		matValue.FromArray(rgfMatrix);
		m_pState->ReturnMatrix4x4(matValue);
		return RESULT_OK;
	}

	Result ReturnObject(IBaseObject* pObject) override
	{
		if (HasReturned())
			return RESULT_NO_VALUE;
		if (!pObject)
			return RESULT_NULL_ARGUMENT;
		CBaseObject* pEngineObject = Interfaces::Unwrap(pObject);
		if (!pEngineObject)
			return RESULT_NOT_FOUND;
		m_pState->ReturnObject(pEngineObject);
		return RESULT_OK;
	}

	Result ReturnStream(IStream* pStream) override
	{
		if (HasReturned())
			return RESULT_NO_VALUE;
		if (!pStream)
			return RESULT_NULL_ARGUMENT;
		Stream* pEngineStream = Interfaces::Unwrap(pStream);
		if (!pEngineStream)
			return RESULT_NOT_FOUND;
		m_pState->ReturnStream(pEngineStream);
		return RESULT_OK;
	}

private:
	// A call gives one value at most.
	bool HasReturned() const { return m_pState->m_RVal.GetArrayCount() > 0; }

	template <class TAdd>
	Result Give(TAdd Add)
	{
		if (HasReturned())
			return RESULT_NO_VALUE;
		Add();
		return RESULT_OK;
	}

	// Stores the object's view when the module asked for one.
	static void Answer(CBaseObject* pObject, IBaseObject** ppOut)
	{
		if (ppOut)
			*ppOut = GetView(pObject);
	}

	int32_t m_iRefCount;
	CNativeState* m_pState;
};
}

bool CallModuleNative(ModuleNativeFunction pfnNative, CNativeState* pState, int argc, void* pUserData)
{
	CNativeStateImpl View(pState);
	return pfnNative(&View, argc, pUserData);
}
}
}
