// The members of the script class "Client". Every native gets the replication manager as its user data.

#include "DataFunctions.h"

#include "Engine/KestrinNative.h"
#include "Engine/Reflection.h"
#include "Multiplayer/NetMachine.h"
#include "Multiplayer/NetObject.h"
#include "Multiplayer/NetObjectFunctions.h"
#include "Multiplayer/NetObjectMgr.h"
#include "Network/NetSystem.h"
#include "Scripting/MemberNatives.h"

using namespace NetObjectFunctions;

namespace
{
// Room for any address CIPAddress prints.
constexpr size_t ADDRESS_TEXT_SIZE = 128;
// The reason a script's disconnect gives the client.
constexpr unsigned DISCONNECT_REASON_BY_SCRIPT = 13;

constexpr auto GetManager = &MemberNatives::FromUserData<CNetObjectMgr>;

CNetMachine* GetThis(CNativeState* pState, void* pUserData)
{
	return GetThisClient(pState, GetManager(pUserData));
}

// The receiver of the properties that only read one value of the client.
struct tClient
{
	template <class T>
	static T* Get(CNativeState* pState, void* pUserData)
	{
		return MemberNatives::GetThisAs<T>(pState, GetManager(pUserData)->GetClientClass());
	}
};

// The receiver of members that only the server can answer (the client's address, its ping, its connection).
CNetMachine* GetThisServerside(CNativeState* pState, void* pUserData)
{
	CNetMachine* pClient = GetThis(pState, pUserData);
	if (pClient && !GetManager(pUserData)->IsServer())
	{
		pState->Error("Must be used serverside");
		return nullptr;
	}
	return pClient;
}

bool NativeGetName(CNativeState* pState, int, void* pUserData)
{
	CNetMachine* pClient = GetThis(pState, pUserData);
	if (!pClient)
		return false;
	pState->ReturnString(pClient->GetName(), pClient->GetNameLength());
	return true;
}

bool NativeSetPlayer(CNativeState* pState, int, void* pUserData)
{
	CNetObjectMgr* pManager = GetManager(pUserData);
	CNetMachine* pClient = GetThisClient(pState, pManager);
	if (!pClient)
		return false;
	CNetObject* pPlayer = nullptr;
	if (!CheckElement(pState, pManager, 0, true, &pPlayer))
		return false;
	pClient->SetPlayer(pPlayer);
	return true;
}

bool NativeSetAdministrator(CNativeState* pState, int, void* pUserData)
{
	CNetMachine* pClient = GetThis(pState, pUserData);
	if (!pClient)
		return false;
	bool bAdministrator = false;
	if (!pState->CheckBoolean(0, bAdministrator))
		return false;
	if (bAdministrator != pClient->IsAdministrator())
	{
		pClient->SetAdministrator(bAdministrator);
		pClient->SendUpdate();
	}
	return true;
}

bool NativeGetIP(CNativeState* pState, int, void* pUserData)
{
	CNetMachine* pClient = GetThisServerside(pState, pUserData);
	if (!pClient)
		return false;
	char szAddress[ADDRESS_TEXT_SIZE] = "";
	if (!pClient->GetAddress().ToString(szAddress, sizeof(szAddress)))
		szAddress[0] = '\0';
	pState->ReturnString(szAddress);
	return true;
}

bool NativeGetPing(CNativeState* pState, int, void* pUserData)
{
	CNetMachine* pClient = GetThisServerside(pState, pUserData);
	if (!pClient)
		return false;
	CNetSystem* pTransport = GetManager(pUserData)->GetServerTransport();
	uint32_t uiPing = 0;
	if (!pClient->IsConsole() && pTransport)
		uiPing = pTransport->GetLastPing(pClient->GetPeer());
	pState->ReturnNumber(uiPing);
	return true;
}

bool NativeDespawnPlayer(CNativeState* pState, int, void* pUserData)
{
	CNetMachine* pClient = GetThis(pState, pUserData);
	if (!pClient)
		return false;
	pClient->DespawnPlayer();
	return true;
}

bool NativeDisconnect(CNativeState* pState, int, void* pUserData)
{
	CNetMachine* pClient = GetThisServerside(pState, pUserData);
	if (!pClient)
		return false;
	if (pClient->IsConsole())
		return pState->Error("Cannot disconnect the console");
	CNetSystem* pTransport = GetManager(pUserData)->GetServerTransport();
	// The client leaves when the transport reports the connection gone, as for any other disconnect.
	if (pTransport && pClient->GetPeer())
		pTransport->Disconnect(pClient->GetPeer(), DISCONNECT_REASON_BY_SCRIPT);
	pState->ReturnBoolean(true);
	return true;
}
}

void NetObjectFunctions::RegisterClientMembers(ReflectedClass* pClass, CNetObjectMgr* pManager)
{
	using MemberNatives::Get;
	pClass->AddProperty(pManager, "index", ARGUMENT_INTEGER, Get<tClient, &CNetMachine::GetIndex>);
	pClass->AddProperty(pManager, "name", ARGUMENT_STRING, NativeGetName);
	pClass->AddProperty(pManager, "game", ARGUMENT_INTEGER, Get<tClient, &CNetMachine::GetGame>);
	pClass->AddProperty(pManager, "gameVersion", ARGUMENT_INTEGER, Get<tClient, &CNetMachine::GetGameVersion>);
	pClass->AddProperty(pManager, "player", ARGUMENT_OBJECT, Get<tClient, &CNetMachine::GetPlayer>, NativeSetPlayer);
	pClass->AddProperty(pManager, "administrator", ARGUMENT_BOOLEAN, Get<tClient, &CNetMachine::IsAdministrator>,
		NativeSetAdministrator);
	pClass->AddProperty(pManager, "console", ARGUMENT_BOOLEAN, Get<tClient, &CNetMachine::IsConsole>);
	pClass->AddProperty(pManager, "ip", ARGUMENT_STRING, NativeGetIP);
	pClass->AddProperty(pManager, "ping", ARGUMENT_INTEGER, NativeGetPing);

	pClass->RegisterFunction("despawnPlayer", "t", NativeDespawnPlayer, pManager);
	pClass->RegisterFunction("disconnect", "t", NativeDisconnect, pManager);
	tDataNatives<CNetMachine, GetThisClient>::Register(pClass, pManager);
}
