// The element and client script interface: the classes "Client", "Element" and "NetObjectFlags", and the global
// functions and properties that find clients and elements. Every native gets the replication manager as its user
// data.

#include "Multiplayer/NetObjectFunctions.h"

#include <cstdint>

#include "Engine/KestrinNative.h"
#include "Engine/Reflection.h"
#include "Multiplayer/NetMachine.h"
#include "Multiplayer/NetObject.h"
#include "Multiplayer/NetObjectMgr.h"
#include "Scripting/MemberNatives.h"
#include "Scripting/ResourceMgr.h"

namespace NetObjectFunctions
{
CNetObject* GetThisElement(CNativeState* pState, CNetObjectMgr* pManager)
{
	return MemberNatives::GetThisAs<CNetObject>(pState, pManager->GetElementClass());
}

CNetMachine* GetThisClient(CNativeState* pState, CNetObjectMgr* pManager)
{
	return MemberNatives::GetThisAs<CNetMachine>(pState, pManager->GetClientClass());
}

bool CheckElement(CNativeState* pState, CNetObjectMgr* pManager, size_t Index, bool bAllowNull, CNetObject** ppElement)
{
	return MemberNatives::CheckAs(pState, pManager->GetElementClass(), Index, bAllowNull, ppElement);
}

bool CheckClient(CNativeState* pState, CNetObjectMgr* pManager, size_t Index, bool bAllowNull, CNetMachine** ppClient)
{
	return MemberNatives::CheckAs(pState, pManager->GetClientClass(), Index, bAllowNull, ppClient);
}

void ReturnClient(CNativeState* pState, INetMachine* pClient)
{
	pState->ReturnObject(pClient ? pClient->GetBaseObject() : nullptr);
}
}

using namespace NetObjectFunctions;

namespace
{
constexpr auto GetManager = &MemberNatives::FromUserData<CNetObjectMgr>;

bool NativeGetLocalClient(CNativeState* pState, int, void* pUserData)
{
	ReturnClient(pState, GetManager(pUserData)->GetLocalMachine());
	return true;
}

bool NativeGetLocalPlayer(CNativeState* pState, int, void* pUserData)
{
	pState->ReturnObject(GetManager(pUserData)->GetLocalPlayer());
	return true;
}

bool NativeGetConsole(CNativeState* pState, int, void* pUserData)
{
	CNetObjectMgr* pManager = GetManager(pUserData);
	INetMachine* pConsole = nullptr;
	for (INetMachine* pClient : pManager->Clients(CLIENTS_CONNECTED))
	{
		if (pClient->IsConsole())
		{
			pConsole = pClient;
			break;
		}
	}
	ReturnClient(pState, pConsole);
	return true;
}

bool NativeGetClients(CNativeState* pState, int, void* pUserData)
{
	CNetObjectMgr* pManager = GetManager(pUserData);
	if (!pManager->GetNetMachines())
	{
		pState->ReturnNull();
		return true;
	}
	CArgumentArray* pClients = new CArgumentArray();
	for (INetMachine* pClient : pManager->Clients(CLIENTS_JOINED_GAME))
		pClients->AddObject(pClient->GetBaseObject());
	pState->ReturnAndOwn(pClients);
	return true;
}

bool NativeGetClient(CNativeState* pState, int, void* pUserData)
{
	// Read as 64 bits so that a large number cannot wrap onto a valid index.
	int64_t iIndex = 0;
	if (!pState->CheckNumber(0, iIndex))
		return false;
	if (iIndex < 0 || iIndex >= static_cast<int64_t>(MAX_NET_MACHINES))
		return pState->Error("index out of bounds");
	INetMachine* pClient = GetManager(pUserData)->GetMachine(static_cast<int32_t>(iIndex));
	ReturnClient(pState, pClient && pClient->IsJoined() && !pClient->IsConsole() ? pClient : nullptr);
	return true;
}

bool NativeDestroyElement(CNativeState* pState, int, void* pUserData)
{
	CNetObjectMgr* pManager = GetManager(pUserData);
	CNetObject* pElement = nullptr;
	if (!CheckElement(pState, pManager, 0, false, &pElement))
		return false;
	pState->ReturnBoolean(pManager->DestroyObject(pElement, true, false));
	return true;
}

bool NativeGetClientFromPlayerElement(CNativeState* pState, int, void* pUserData)
{
	CNetObjectMgr* pManager = GetManager(pUserData);
	CNetObject* pElement = nullptr;
	if (!CheckElement(pState, pManager, 0, false, &pElement))
		return false;
	INetMachine* pFound = nullptr;
	for (INetMachine* pClient : pManager->Clients(CLIENTS_CONNECTED))
	{
		if (pClient->GetPlayer() == pElement)
		{
			pFound = pClient;
			break;
		}
	}
	ReturnClient(pState, pFound);
	return true;
}

bool NativeGetElementsByType(CNativeState* pState, int, void* pUserData)
{
	CNetObjectMgr* pManager = GetManager(pUserData);
	uint32_t uiType = 0;
	if (!pState->CheckNumber(0, uiType))
		return false;
	CArgumentArray* pElements = new CArgumentArray();
	for (size_t i : pManager->UsedSlots())
	{
		CNetObject* pElement = pManager->GetObjectAt(i);
		if (pElement && pElement->IsType(uiType))
			pElements->AddObject(pElement);
	}
	pState->ReturnAndOwn(pElements);
	return true;
}

bool NativeGetElementFromId(CNativeState* pState, int, void* pUserData)
{
	// Read as 64 bits so that a large number cannot wrap onto a valid id.
	int64_t iId = 0;
	if (!pState->CheckNumber(0, iId))
		return false;
	CNetObject* pElement = nullptr;
	if (iId >= 0 && iId <= INT32_MAX)
		pElement = GetManager(pUserData)->FromId(static_cast<int32_t>(iId), 0);
	pState->ReturnObject(pElement);
	return true;
}

bool NativeGetElementFromName(CNativeState* pState, int, void* pUserData)
{
	const char* szName = pState->CheckString(0, nullptr);
	if (!szName)
		return false;
	pState->ReturnObject(GetManager(pUserData)->FromName(szName));
	return true;
}

bool NativeRegisterNetObject(CNativeState* pState, int, void* pUserData)
{
	CNetObjectMgr* pManager = GetManager(pUserData);
	CNetObject* pElement = nullptr;
	if (!CheckElement(pState, pManager, 0, false, &pElement))
		return false;
	pState->ReturnBoolean(pManager->RegisterNetObject(pElement));
	return true;
}
}

void CNetObjectMgr::RegisterFunctions()
{
	CScripting* pScripting = m_pResourceMgr ? m_pResourceMgr->GetScripting() : nullptr;
	if (!pScripting)
		return;
	ReflectedNamespace* pGlobal = pScripting->GetGlobal();
	m_pClientClass = pGlobal->NewClass("Client");
	m_pElementClass = pGlobal->NewClass("Element");
	m_pNetObjectFlagsClass = pGlobal->NewClass("NetObjectFlags");

	pGlobal->AddProperty(this, "localClient", ARGUMENT_OBJECT, NativeGetLocalClient);
	pGlobal->AddProperty(this, "localPlayer", ARGUMENT_OBJECT, NativeGetLocalPlayer);

	pGlobal->RegisterFunction("getConsole", "", NativeGetConsole, this);
	pGlobal->RegisterFunction("getClients", "", NativeGetClients, this);
	pGlobal->RegisterFunction("getClient", "i", NativeGetClient, this);
	pGlobal->RegisterFunction("destroyElement", "x", NativeDestroyElement, this);
	pGlobal->RegisterFunction("getClientFromPlayerElement", "x", NativeGetClientFromPlayerElement, this);
	pGlobal->RegisterFunction("getElementsByType", "i", NativeGetElementsByType, this);
	pGlobal->RegisterFunction("getElementFromId", "i", NativeGetElementFromId, this);
	pGlobal->RegisterFunction("getElementFromName", "s", NativeGetElementFromName, this);
	pGlobal->RegisterFunction("registerNetObject", "x", NativeRegisterNetObject, this);
	pGlobal->RegisterFunction("addToWorld", "x", NativeRegisterNetObject, this, true);

	RegisterClientMembers(m_pClientClass, this);
	RegisterElementMembers(m_pElementClass, this);
	RegisterNetObjectFlagsMembers(m_pNetObjectFlagsClass, this);
}
