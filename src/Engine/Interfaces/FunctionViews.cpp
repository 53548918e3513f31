// Function values for modules: the view through which a module calls any function value (a script function of
// any language, a server function or another module's native), and the function value over a module native.

#include "Engine/KestrinNative.h"
#include "ViewBase.h"

namespace Kestrin3D
{
namespace Interfaces
{
namespace
{
struct tFunctionSlot
{
	static IFunction* Load(CFunction* pFunction) { return pFunction->m_pFunctionInterface; }
	static void Store(CFunction* pFunction, IFunction* pView) { pFunction->m_pFunctionInterface = pView; }
};

class CFunctionImpl final : public CCachedView<CFunctionImpl, IFunction, CFunction, tFunctionSlot, true>
{
public:
	explicit CFunctionImpl(CFunction* pFunction) : CCachedView(pFunction) {}

	Result GetInterface(const tUUID& Id, void** ppOut) override
	{
		if (!ppOut)
			return RESULT_NULL_ARGUMENT;
		if (Id == ID_Function)
			return AnswerSelf<IFunction>(this, ppOut);
		if (Id == ID_BaseObject && m_pObject)
			return AnswerView(GetView(static_cast<CBaseObject*>(m_pObject)), ppOut, RESULT_NOT_FOUND);
		return RESULT_NOT_FOUND;
	}

	Result Call(IArray* pArguments, IArray* pResults) override
	{
		CArgumentArray* pArgumentArray = Interfaces::Unwrap(pArguments);
		CArgumentArray* pResultArray = Interfaces::Unwrap(pResults);
		if (!m_pObject || (pArguments && !pArgumentArray) || (pResults && !pResultArray))
			return RESULT_NOT_FOUND;
		// The call may drop every other reference to the function, this view's included.
		Strong<CFunction> pHold(m_pObject);
		CArgumentArray NoArguments;
		const CArgumentArray& Arguments = pArgumentArray ? *pArgumentArray : NoArguments;
		if (!pResultArray)
			return pHold->Call(Arguments, nullptr) ? RESULT_OK : RESULT_FAILED;
		CReturnValue Results;
		if (!pHold->Call(Arguments, &Results))
			return RESULT_FAILED;
		pResultArray->Clear();
		Results.Move(pResultArray);
		return RESULT_OK;
	}
};
}

IFunction* GetView(CFunction* pFunction)
{
	return CFunctionImpl::ViewOf(pFunction);
}

CFunction* Unwrap(IFunction* pView)
{
	return CFunctionImpl::Unwrap(pView);
}

void DetachView(IFunction* pView)
{
	CFunctionImpl::Detach(pView);
}

CInlineFunction::CInlineFunction(CScripting* pScripting, ModuleNativeFunction pfnNative, void* pUserData)
	: CFunction(pScripting), m_pScripting(pScripting), m_pfnNative(pfnNative), m_pUserData(pUserData)
{
}

bool CInlineFunction::Call(const CArgumentArray& Arguments, CReturnValue* pResult)
{
	// The native works on a copy: the caller's list stays as it was whatever the native does with its arguments.
	CArgumentArray* pCopy = static_cast<CArgumentArray*>(Arguments.Clone());
	bool bResult;
	{
		CNativeState State(m_pScripting, nullptr, pCopy);
		bResult = CallModuleNative(m_pfnNative, &State, static_cast<int>(Arguments.GetArrayCount()), m_pUserData);
		if (bResult && pResult)
		{
			pResult->Clear();
			State.m_RVal.Move(pResult);
		}
	}
	pCopy->Release();
	return bResult;
}
}
}
