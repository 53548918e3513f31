// The factory of new values for modules. Each value it makes is held only by the view it hands out.

#include <cstring>

#include "Engine/KestrinArguments.h"
#include "ViewBase.h"

namespace Kestrin3D
{
namespace Interfaces
{
namespace
{
class CArgumentFactoryImpl final : public CView<IArgumentFactory>
{
public:
	Result GetInterface(const tUUID& Id, void** ppOut) override
	{
		return AnswerOwnInterface<IArgumentFactory>(this, Id, ID_ArgumentFactory, ppOut);
	}

	int32_t Release() override
	{
		if (m_iRefCount > 1)
			return --m_iRefCount;
		m_iRefCount = 0;
		delete this;
		return 0;
	}

	Result CreateNull(IArgument** ppOut) override { return Make(ppOut, new CArgument(ARGUMENT_NIL)); }
	Result CreateBoolean(IArgument** ppOut, bool bValue) override { return Make(ppOut, new CArgumentBoolean(bValue)); }

	Result CreateString(IArgument** ppOut, const char* pText, size_t Length) override
	{
		if (!ppOut || !pText)
			return RESULT_NULL_ARGUMENT;
		CArgumentString* pString = new CArgumentString(pText, Length);
		// The text could not be copied (a length no allocation can hold).
		if (!pString->GetString())
		{
			pString->Release();
			*ppOut = nullptr;
			return RESULT_NO_VALUE;
		}
		return Make(ppOut, pString);
	}

	Result CreateStringZ(IArgument** ppOut, const char* szText) override
	{
		if (!ppOut || !szText)
			return RESULT_NULL_ARGUMENT;
		return CreateString(ppOut, szText, strlen(szText));
	}

	Result CreateObject(IArgument** ppOut, IBaseObject* pObject) override
	{
		if (!ppOut || !pObject)
			return RESULT_NULL_ARGUMENT;
		CBaseObject* pEngineObject = Interfaces::Unwrap(pObject);
		if (!pEngineObject)
		{
			*ppOut = nullptr;
			return RESULT_NOT_FOUND;
		}
		return Make(ppOut, CArgument::Create(pEngineObject));
	}

	Result CreateVector2D(IArgument** ppOut, float fX, float fY) override
	{
		return Make(ppOut, new CArgumentVector2D(CVector2D(fX, fY)));
	}

	Result CreateVector3D(IArgument** ppOut, float fX, float fY, float fZ) override
	{
		return Make(ppOut, new CArgumentVector3D(CVector3D(fX, fY, fZ)));
	}

	// There is no four-component value.
	Result CreateVector4D(IArgument** ppOut, float, float, float, float) override
	{
		if (!ppOut)
			return RESULT_NULL_ARGUMENT;
		*ppOut = nullptr;
		return RESULT_NOT_AVAILABLE;
	}

	Result CreateMatrix4x4(IArgument** ppOut, const float rgfMatrix[16]) override
	{
		if (!ppOut || !rgfMatrix)
			return RESULT_NULL_ARGUMENT;
		CMatrix4x4 matValue;
		matValue.FromArray(rgfMatrix);
		return Make(ppOut, new CArgumentMatrix4x4(matValue));
	}

	Result CreateInt32(IArgument** ppOut, int32_t iValue) override
	{
		return Make(ppOut, new CArgumentInteger(iValue));
	}

	Result CreateUInt32(IArgument** ppOut, uint32_t uiValue) override
	{
		return Make(ppOut, new CArgumentInteger(static_cast<int32_t>(uiValue)));
	}

	Result CreateInt64(IArgument** ppOut, int64_t iValue) override
	{
		return Make(ppOut, new CArgumentLongInteger(iValue));
	}

	Result CreateUInt64(IArgument** ppOut, uint64_t uiValue) override
	{
		return Make(ppOut, new CArgumentLongInteger(static_cast<int64_t>(uiValue)));
	}

	Result CreateSingle(IArgument** ppOut, float fValue) override { return Make(ppOut, new CArgumentFloat(fValue)); }
	Result CreateDouble(IArgument** ppOut, double dValue) override { return Make(ppOut, new CArgumentDouble(dValue)); }
	Result CreateArray(IArgument** ppOut) override { return Make(ppOut, new CArgumentArray()); }
	Result CreateDictionary(IArgument** ppOut) override { return Make(ppOut, new CArgumentMap()); }
	Result CreateUndefined(IArgument** ppOut) override { return Make(ppOut, new CArgument(ARGUMENT_UNDEFINED)); }

	Result CreateFunction(IArgument** ppOut, IScripting* pScripting, ModuleNativeFunction pfnNative,
		void* pUserData) override
	{
		if (!ppOut || !pScripting || !pfnNative)
			return RESULT_NULL_ARGUMENT;
		CScripting* pEngineScripting = Interfaces::Unwrap(pScripting);
		if (!pEngineScripting)
		{
			*ppOut = nullptr;
			return RESULT_NOT_FOUND;
		}
		CInlineFunction* pFunction = new CInlineFunction(pEngineScripting, pfnNative, pUserData);
		Result Outcome = Make(ppOut, new CArgumentFunction(pFunction));
		pFunction->Release();
		return Outcome;
	}

private:
	// Hands the new value's view to the caller; the view then holds the value's only reference.
	static Result Make(IArgument** ppOut, CArgument* pValue)
	{
		if (!ppOut)
		{
			if (pValue)
				pValue->Release();
			return RESULT_NULL_ARGUMENT;
		}
		*ppOut = GetView(pValue);
		if (!pValue)
			return RESULT_NO_VALUE;
		pValue->Release();
		return RESULT_OK;
	}
};
}

IArgumentFactory* CreateArgumentFactory()
{
	return new CArgumentFactoryImpl();
}
}
}
