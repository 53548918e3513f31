// The members of the script classes "Element" and "NetObjectFlags". Every native gets the replication manager as
// its user data.

#include "DataFunctions.h"

#include "Engine/KestrinNative.h"
#include "Engine/Reflection.h"
#include "Multiplayer/NetMachine.h"
#include "Multiplayer/NetObject.h"
#include "Multiplayer/NetObjectFunctions.h"
#include "Multiplayer/NetObjectMgr.h"
#include "Scripting/MemberNatives.h"
#include "Scripting/Resource.h"
#include "Scripting/ResourceMgr.h"

using namespace NetObjectFunctions;

namespace
{
constexpr auto GetManager = &MemberNatives::FromUserData<CNetObjectMgr>;

CNetObject* GetThis(CNativeState* pState, void* pUserData)
{
	return GetThisElement(pState, GetManager(pUserData));
}

// The receiver of the properties that only read or write one value of the element.
struct tElement
{
	template <class T>
	static T* Get(CNativeState* pState, void* pUserData)
	{
		return MemberNatives::GetThisAs<T>(pState, GetManager(pUserData)->GetElementClass());
	}
};

// Element properties

// The flags object holds the element weakly: it never keeps an element alive, and it learns when the element goes.
typedef CObjectValue<Weak<CNetObject>> CNetObjectFlagsObject;

bool NativeGetNetFlags(CNativeState* pState, int, void* pUserData)
{
	CNetObject* pElement = GetThis(pState, pUserData);
	if (!pElement)
		return false;
	CNetObjectFlagsObject* pFlags =
		new CNetObjectFlagsObject(GetManager(pUserData)->GetNetObjectFlagsClass(), Weak<CNetObject>(pElement));
	pState->ReturnObject(pFlags);
	pFlags->Release();
	return true;
}

bool NativeGetSyncer(CNativeState* pState, int, void* pUserData)
{
	CNetObject* pElement = GetThis(pState, pUserData);
	if (!pElement)
		return false;
	ReturnClient(pState, pElement->GetSyncer());
	return true;
}

bool NativeSetSyncer(CNativeState* pState, int, void* pUserData)
{
	CNetObjectMgr* pManager = GetManager(pUserData);
	CNetObject* pElement = GetThisElement(pState, pManager);
	if (!pElement)
		return false;
	const CArgument* pValue = pState->GetArgument(0);
	if (pValue && pValue->IsNumber())
	{
		int32_t iIndex = INVALID_CLIENT_ID;
		pState->CheckNumber(0, iIndex);
		pElement->SetSyncerId(iIndex);
		return true;
	}
	CNetMachine* pClient = nullptr;
	if (!CheckClient(pState, pManager, 0, true, &pClient))
		return false;
	pElement->SetSyncer(pClient);
	return true;
}

bool NativeGetSyncerId(CNativeState* pState, int, void* pUserData)
{
	CNetObject* pElement = GetThis(pState, pUserData);
	if (!pElement)
		return false;
	INetMachine* pSyncer = pElement->GetSyncer();
	pState->ReturnNumber(pSyncer ? pSyncer->GetIndex() : INVALID_CLIENT_ID);
	return true;
}

bool NativeSetSyncerId(CNativeState* pState, int, void* pUserData)
{
	CNetObject* pElement = GetThis(pState, pUserData);
	if (!pElement)
		return false;
	int32_t iIndex = INVALID_CLIENT_ID;
	if (!pState->CheckNumber(0, iIndex))
		return false;
	pElement->SetSyncerId(iIndex);
	return true;
}

bool NativeSetParent(CNativeState* pState, int, void* pUserData)
{
	CNetObjectMgr* pManager = GetManager(pUserData);
	CNetObject* pElement = GetThisElement(pState, pManager);
	if (!pElement)
		return false;
	CNetObject* pParent = nullptr;
	if (!CheckElement(pState, pManager, 0, true, &pParent))
		return false;
	pState->ReturnBoolean(pElement->SetParent(pParent));
	return true;
}

bool NativeGetChildren(CNativeState* pState, int, void* pUserData)
{
	CNetObject* pElement = GetThis(pState, pUserData);
	if (!pElement)
		return false;
	CArgumentArray* pChildren = new CArgumentArray(pElement->GetChildCount());
	for (size_t i = 0; i < MAX_NET_OBJECT_CHILDREN; i++)
	{
		if (CNetObject* pChild = pElement->GetChild(i))
			pChildren->AddObject(pChild);
	}
	pState->ReturnAndOwn(pChildren);
	return true;
}

bool NativeGetName(CNativeState* pState, int, void* pUserData)
{
	CNetObject* pElement = GetThis(pState, pUserData);
	if (!pElement)
		return false;
	if (const char* szName = pElement->GetName())
		pState->ReturnString(szName, pElement->GetNameLength());
	else
		pState->ReturnNull();
	return true;
}

bool NativeSetName(CNativeState* pState, int, void* pUserData)
{
	CNetObject* pElement = GetThis(pState, pUserData);
	if (!pElement)
		return false;
	const CArgument* pValue = pState->GetArgument(0);
	if (pValue && pValue->IsNull())
	{
		pElement->SetName(nullptr);
		return true;
	}
	const char* szName = pState->CheckString(0, nullptr);
	if (!szName)
		return false;
	pElement->SetName(szName);
	return true;
}

bool NativeSetResource(CNativeState* pState, int, void* pUserData)
{
	CNetObjectMgr* pManager = GetManager(pUserData);
	CNetObject* pElement = GetThisElement(pState, pManager);
	if (!pElement)
		return false;
	ReflectedClass* pResourceClass = pManager->GetResourceMgr() ? pManager->GetResourceMgr()->GetResourceClass() : nullptr;
	CResource* pResource = nullptr;
	if (!MemberNatives::CheckAs(pState, pResourceClass, 0, true, &pResource))
		return false;
	pElement->SetResource(pResource);
	return true;
}

bool NativeGetPosition(CNativeState* pState, int, void* pUserData)
{
	CNetObject* pElement = GetThis(pState, pUserData);
	if (!pElement)
		return false;
	CVector3D vecPosition;
	if (!pElement->GetPosition(vecPosition))
		return pState->Error("Unable to get position");
	pState->ReturnVector3D(vecPosition);
	return true;
}

bool NativeSetPosition(CNativeState* pState, int, void* pUserData)
{
	CNetObject* pElement = GetThis(pState, pUserData);
	if (!pElement)
		return false;
	CVector3D vecPosition;
	if (!pState->CheckVector3D(0, vecPosition))
		return false;
	if (!pElement->SetPosition(vecPosition))
		return pState->Error("Unable to set position");
	return true;
}

bool NativeGetRotation(CNativeState* pState, int, void* pUserData)
{
	CNetObject* pElement = GetThis(pState, pUserData);
	if (!pElement)
		return false;
	CVector3D vecRotation;
	if (!pElement->GetRotation(vecRotation))
		return pState->Error("Unable to get rotation");
	pState->ReturnVector3D(vecRotation);
	return true;
}

bool NativeSetRotation(CNativeState* pState, int, void* pUserData)
{
	CNetObject* pElement = GetThis(pState, pUserData);
	if (!pElement)
		return false;
	CVector3D vecRotation;
	if (!pState->CheckVector3D(0, vecRotation))
		return false;
	if (!pElement->SetRotation(vecRotation))
		return pState->Error("Unable to set the rotation");
	return true;
}

// Element methods

bool NativeIsType(CNativeState* pState, int, void* pUserData)
{
	CNetObject* pElement = GetThis(pState, pUserData);
	if (!pElement)
		return false;
	uint32_t uiType = 0;
	if (!pState->CheckNumber(0, uiType))
		return false;
	pState->ReturnBoolean(pElement->IsType(uiType));
	return true;
}

bool NativeSetSyncerForced(CNativeState* pState, int argc, void* pUserData)
{
	CNetObjectMgr* pManager = GetManager(pUserData);
	CNetObject* pElement = GetThisElement(pState, pManager);
	if (!pElement)
		return false;
	CNetMachine* pClient = nullptr;
	if (!CheckClient(pState, pManager, 0, true, &pClient))
		return false;
	bool bForced = false;
	if (argc > 1 && !pState->CheckBoolean(1, bForced))
		return false;
	pElement->SetSyncer(pClient, bForced);
	return true;
}

// The receiver and the client of the methods that ask about one client.
bool GetElementAndClient(CNativeState* pState, void* pUserData, CNetObject** ppElement, CNetMachine** ppClient)
{
	CNetObjectMgr* pManager = GetManager(pUserData);
	*ppElement = GetThisElement(pState, pManager);
	return *ppElement && CheckClient(pState, pManager, 0, false, ppClient);
}

bool NativeIsCreatedFor(CNativeState* pState, int, void* pUserData)
{
	CNetObject* pElement = nullptr;
	CNetMachine* pClient = nullptr;
	if (!GetElementAndClient(pState, pUserData, &pElement, &pClient))
		return false;
	pState->ReturnBoolean(pElement->IsCreatedFor(pClient));
	return true;
}

bool NativeClearExistsFor(CNativeState* pState, int, void* pUserData)
{
	CNetObject* pElement = GetThis(pState, pUserData);
	if (!pElement)
		return false;
	pElement->ClearExistsFor();
	return true;
}

bool NativeSetExistsFor(CNativeState* pState, int, void* pUserData)
{
	CNetObject* pElement = nullptr;
	CNetMachine* pClient = nullptr;
	if (!GetElementAndClient(pState, pUserData, &pElement, &pClient))
		return false;
	bool bExists = false;
	if (!pState->CheckBoolean(1, bExists))
		return false;
	pElement->SetExistsFor(pClient, bExists);
	return true;
}

bool NativeExistsFor(CNativeState* pState, int, void* pUserData)
{
	CNetObject* pElement = nullptr;
	CNetMachine* pClient = nullptr;
	if (!GetElementAndClient(pState, pUserData, &pElement, &pClient))
		return false;
	pState->ReturnBoolean(pElement->IsExistsFor(pClient));
	return true;
}

// NetObjectFlags

const char* const ELEMENT_GONE_ERROR = "The element of these flags no longer exists";

CNetObject* GetFlagsElement(CNativeState* pState, void* pUserData)
{
	CNetObjectFlagsObject* pFlags =
		MemberNatives::GetThisAs<CNetObjectFlagsObject>(pState, GetManager(pUserData)->GetNetObjectFlagsClass());
	if (!pFlags)
		return nullptr;
	CNetObject* pElement = pFlags->GetValue().Get();
	if (!pElement)
		pState->Error("%s", ELEMENT_GONE_ERROR);
	return pElement;
}

template <eNetObjectFlags FLAG>
bool NativeGetNetFlag(CNativeState* pState, int, void* pUserData)
{
	CNetObject* pElement = GetFlagsElement(pState, pUserData);
	if (!pElement)
		return false;
	pState->ReturnBoolean(pElement->HasNetFlag(FLAG));
	return true;
}

// Only the bit changes: nothing is sent and nothing else of the element reacts.
template <eNetObjectFlags FLAG>
bool NativeSetNetFlag(CNativeState* pState, int, void* pUserData)
{
	CNetObject* pElement = GetFlagsElement(pState, pUserData);
	if (!pElement)
		return false;
	bool bValue = false;
	if (!pState->CheckBoolean(0, bValue))
		return false;
	pElement->SetNetFlag(FLAG, bValue);
	return true;
}

template <eNetObjectFlags FLAG>
void AddFlag(ReflectedClass* pClass, CNetObjectMgr* pManager, const char* szName, bool bSettable)
{
	pClass->AddProperty(pManager, szName, ARGUMENT_BOOLEAN, NativeGetNetFlag<FLAG>,
		bSettable ? NativeSetNetFlag<FLAG> : nullptr);
}
}

void NetObjectFunctions::RegisterElementMembers(ReflectedClass* pClass, CNetObjectMgr* pManager)
{
	using MemberNatives::Get;
	using MemberNatives::Set;
	pClass->AddProperty(pManager, "id", ARGUMENT_INTEGER, Get<tElement, &CNetObject::GetId>);
	pClass->AddProperty(pManager, "type", ARGUMENT_INTEGER, Get<tElement, &CNetObject::GetType>);
	pClass->AddProperty(pManager, "netFlags", ARGUMENT_OBJECT, NativeGetNetFlags);
	pClass->AddProperty(pManager, "isLocal", ARGUMENT_BOOLEAN, Get<tElement, &CNetObject::IsLocal>);
	pClass->AddProperty(pManager, "isSyncer", ARGUMENT_BOOLEAN, Get<tElement, &CNetObject::IsSyncer>);
	pClass->AddProperty(pManager, "isOwner", ARGUMENT_BOOLEAN, Get<tElement, &CNetObject::IsOwner>);
	pClass->AddProperty(pManager, "syncer", ARGUMENT_OBJECT, NativeGetSyncer, NativeSetSyncer);
	pClass->AddProperty(pManager, "syncerId", ARGUMENT_INTEGER, NativeGetSyncerId, NativeSetSyncerId);
	pClass->AddProperty(pManager, "dimension", ARGUMENT_INTEGER, Get<tElement, &CNetObject::GetDimension>,
		Set<tElement, &CNetObject::SetDimension>);
	pClass->AddProperty(pManager, "parent", ARGUMENT_OBJECT, Get<tElement, &CNetObject::GetParent>, NativeSetParent);
	pClass->AddProperty(pManager, "children", ARGUMENT_ARRAY, NativeGetChildren);
	pClass->AddProperty(pManager, "name", ARGUMENT_STRING, NativeGetName, NativeSetName);
	pClass->AddProperty(pManager, "resource", ARGUMENT_OBJECT, Get<tElement, &CNetObject::GetResource>,
		NativeSetResource);
	// Stored as they are, with no message.
	pClass->AddProperty(pManager, "streamInDistance", ARGUMENT_FLOAT, Get<tElement, &CNetObject::GetStreamInDistance>,
		Set<tElement, &CNetObject::SetStreamInDistance>);
	pClass->AddProperty(pManager, "streamOutDistance", ARGUMENT_FLOAT, Get<tElement, &CNetObject::GetStreamOutDistance>,
		Set<tElement, &CNetObject::SetStreamOutDistance>);
	pClass->AddProperty(pManager, "position", ARGUMENT_VECTOR3D, NativeGetPosition, NativeSetPosition);
	pClass->AddProperty(pManager, "rotation", ARGUMENT_VECTOR3D, NativeGetRotation, NativeSetRotation);

	pClass->RegisterFunction("isType", "ti", NativeIsType, pManager);
	tDataNatives<CNetObject, GetThisElement>::Register(pClass, pManager);
	pClass->RegisterFunction("setSyncer", "tx|b", NativeSetSyncerForced, pManager);
	pClass->RegisterFunction("isCreatedFor", "tx", NativeIsCreatedFor, pManager);
	pClass->RegisterFunction("clearExistsFor", "t", NativeClearExistsFor, pManager);
	pClass->RegisterFunction("setExistsFor", "txb", NativeSetExistsFor, pManager);
	pClass->RegisterFunction("existsFor", "tx", NativeExistsFor, pManager);
	pClass->RegisterFunction("getRotation", "t", NativeGetRotation, pManager, true);
	pClass->RegisterFunction("setRotation", "tv", NativeSetRotation, pManager, true);
}

void NetObjectFunctions::RegisterNetObjectFlagsMembers(ReflectedClass* pClass, CNetObjectMgr* pManager)
{
	AddFlag<NETFLAG_REGISTERED>(pClass, pManager, "registered", false);
	AddFlag<NETFLAG_DELETING>(pClass, pManager, "deleting", false);
	AddFlag<NETFLAG_ON_ALL_DIMENSIONS>(pClass, pManager, "onAllDimensions", true);
	AddFlag<NETFLAG_FORCED_SYNCER>(pClass, pManager, "forcedSyncer", true);
	AddFlag<NETFLAG_FIND_SYNCER>(pClass, pManager, "findSyncer", true);
	AddFlag<NETFLAG_SEND_SYNC>(pClass, pManager, "sendSync", true);
	AddFlag<NETFLAG_DISTANCE_STREAMING>(pClass, pManager, "distanceStreaming", true);
	AddFlag<NETFLAG_ALWAYS_EXIST_FOR_SYNCER>(pClass, pManager, "alwaysExistForSyncer", true);
	AddFlag<NETFLAG_DEFAULT_EXISTANCE>(pClass, pManager, "defaultExistance", true);
	AddFlag<NETFLAG_TRANSIENT>(pClass, pManager, "transient", true);
	AddFlag<NETFLAG_ONLY_SYNC_IF_DETACHED>(pClass, pManager, "onlySyncIfDetached", true);
	AddFlag<NETFLAG_NETWORKED>(pClass, pManager, "networked", true);
}
