#include "Scripting/KeyedHandlers.h"

#include <cstring>

#include "Engine/KestrinHash.h"

uint32_t GetNameKey(const char* szName)
{
	return CRC32Hash::GetHash(szName ? szName : "", szName ? strlen(szName) : 0, true);
}

void CallHandlerFunction(const Strong<CFunction>& pFunction, const CArgumentArray& Arguments)
{
	if (pFunction.IsNull())
		return;
	Strong<CFunction> pHold = pFunction;
	pHold->Call(Arguments, nullptr);
}

void CallHandlerFunction(const Strong<CFunction>& pFunction, bool bWithFirst, CBaseObject* pFirst,
	const CArgumentArray& Arguments)
{
	if (pFunction.IsNull())
		return;
	CArgumentArray CallArguments(Arguments.GetArrayCount() + 1);
	if (bWithFirst)
		CallArguments.AddObject(pFirst);
	Arguments.InsertTo(&CallArguments);
	CallHandlerFunction(pFunction, CallArguments);
}

bool CheckNameAndFunction(CNativeState* pState, const char*& szName, CFunction*& pFunction)
{
	szName = pState->CheckString(0, nullptr);
	if (!szName)
		return false;
	pFunction = pState->CheckFunction(1);
	return pFunction != nullptr;
}
