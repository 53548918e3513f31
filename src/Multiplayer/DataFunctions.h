#pragma once
// getData, setData, removeData and removeAllData, which elements and clients offer alike. THolder is CNetObject or
// CNetMachine; GetThis finds and checks the receiver. Every native gets the replication manager as user data.

#include "Engine/KestrinNative.h"
#include "Multiplayer/NetObjectMgr.h"

template <class THolder, THolder* (*GetThis)(CNativeState*, CNetObjectMgr*)>
struct tDataNatives
{
	// The receiver and the key the natives below start with; null after the receiver's or the key's error.
	static THolder* GetThisAndKey(CNativeState* pState, void* pUserData, const char*& szKey)
	{
		THolder* pHolder = GetThis(pState, static_cast<CNetObjectMgr*>(pUserData));
		szKey = pHolder ? pState->CheckString(0, nullptr) : nullptr;
		return szKey ? pHolder : nullptr;
	}

	// "ts": the value under the key, or undefined.
	static bool Get(CNativeState* pState, int, void* pUserData)
	{
		const char* szKey = nullptr;
		THolder* pHolder = GetThisAndKey(pState, pUserData, szKey);
		if (!pHolder)
			return false;
		if (const CArgument* pValue = pHolder->GetData(szKey))
			pState->Return(pValue);
		else
			pState->ReturnUndefined();
		return true;
	}

	// "ts.|b": the value is sent to the clients unless the third argument is false.
	static bool Set(CNativeState* pState, int argc, void* pUserData)
	{
		const char* szKey = nullptr;
		THolder* pHolder = GetThisAndKey(pState, pUserData, szKey);
		if (!pHolder)
			return false;
		const CArgument* pValue = pState->GetArgument(1);
		if (!pValue)
			return pState->TypeError("value", 1);
		bool bSync = true;
		if (argc > 2 && !pState->CheckBoolean(2, bSync))
			return false;
		if (!pHolder->SetData(szKey, pValue, bSync))
			return pState->Error("data is not storable");
		return true;
	}

	// "ts".
	static bool Remove(CNativeState* pState, int, void* pUserData)
	{
		const char* szKey = nullptr;
		THolder* pHolder = GetThisAndKey(pState, pUserData, szKey);
		if (!pHolder)
			return false;
		pHolder->RemoveData(szKey);
		return true;
	}

	// "t".
	static bool RemoveAll(CNativeState* pState, int, void* pUserData)
	{
		THolder* pHolder = GetThis(pState, static_cast<CNetObjectMgr*>(pUserData));
		if (!pHolder)
			return false;
		pHolder->ClearData();
		return true;
	}

	static void Register(ReflectedClass* pClass, CNetObjectMgr* pManager)
	{
		pClass->RegisterFunction("getData", "ts", Get, pManager);
		pClass->RegisterFunction("setData", "ts.|b", Set, pManager);
		pClass->RegisterFunction("removeData", "ts", Remove, pManager);
		pClass->RegisterFunction("removeAllData", "t", RemoveAll, pManager);
	}
};
