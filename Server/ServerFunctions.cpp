#include "ServerFunctions.h"

#include <cstdio>

#include "BaseServer.h"
#include "GTAServer.h"
#include "GTAServerManager.h"

#include "Engine/Config.h"
#include "Engine/KestrinNative.h"
#include "Engine/Reflection.h"
#include "Multiplayer/NetObjectFunctions.h"

namespace
{
// The colour of a chat line a script sends without one: opaque lime.
constexpr uint32_t DEFAULT_CHAT_COLOUR = 0xFF00FF00u;

CBaseServer* GetServer(void* pUserData)
{
	return static_cast<CBaseServer*>(pUserData);
}

CGTAServer* GetGameServer(void* pUserData)
{
	return static_cast<CGTAServerManager*>(pUserData)->GetServer();
}

// Chat

// The colour at Index when the call gives one there, else the default.
bool CheckColour(CNativeState* pState, int argc, size_t Index, uint32_t& uiColour)
{
	uiColour = DEFAULT_CHAT_COLOUR;
	return argc <= static_cast<int>(Index) || pState->CheckNumber(Index, uiColour);
}

// The client a chat line goes to (or is kept from): a Client, never null.
bool CheckChatClient(CNativeState* pState, CBaseServer* pServer, CNetMachine** ppClient)
{
	CServerManager* pManager = pServer->GetManager();
	if (!pManager)
		return pState->TypeError("Client", 1);
	return NetObjectFunctions::CheckClient(pState, pManager, 1, false, ppClient);
}

bool NativeMessage(CNativeState* pState, int argc, void* pUserData)
{
	size_t Length = 0;
	const char* szText = pState->CheckString(0, &Length);
	uint32_t uiColour = 0;
	if (!szText || !CheckColour(pState, argc, 1, uiColour))
		return false;
	GetServer(pUserData)->SendChat(nullptr, szText, Length, uiColour);
	return true;
}

bool NativeMessageClient(CNativeState* pState, int argc, void* pUserData)
{
	size_t Length = 0;
	const char* szText = pState->CheckString(0, &Length);
	CNetMachine* pClient = nullptr;
	uint32_t uiColour = 0;
	if (!szText || !CheckChatClient(pState, GetServer(pUserData), &pClient) || !CheckColour(pState, argc, 2, uiColour))
		return false;
	GetServer(pUserData)->SendChat(pClient, szText, Length, uiColour);
	return true;
}

bool NativeMessageAllExcept(CNativeState* pState, int argc, void* pUserData)
{
	size_t Length = 0;
	const char* szText = pState->CheckString(0, &Length);
	CNetMachine* pClient = nullptr;
	uint32_t uiColour = 0;
	if (!szText || !CheckChatClient(pState, GetServer(pUserData), &pClient) || !CheckColour(pState, argc, 2, uiColour))
		return false;
	GetServer(pUserData)->SendChatExcept(pClient, szText, Length, uiColour);
	return true;
}

// The server's own members

bool NativeGetGame(CNativeState* pState, int, void* pUserData)
{
	pState->ReturnNumber(GetServer(pUserData)->GetGameId());
	return true;
}

bool NativeGetName(CNativeState* pState, int, void* pUserData)
{
	pState->ReturnString(GetServer(pUserData)->GetServerName());
	return true;
}

bool NativeSetName(CNativeState* pState, int, void* pUserData)
{
	const char* szName = pState->CheckString(0, nullptr);
	if (!szName)
		return false;
	GetServer(pUserData)->SetServerName(szName);
	return true;
}

bool NativeGetGameMode(CNativeState* pState, int, void* pUserData)
{
	pState->ReturnString(GetServer(pUserData)->GetGameMode());
	return true;
}

bool NativeSetGameMode(CNativeState* pState, int, void* pUserData)
{
	const char* szGameMode = pState->CheckString(0, nullptr);
	if (!szGameMode)
		return false;
	GetServer(pUserData)->SetGameMode(szGameMode);
	return true;
}

bool NativeGetPort(CNativeState* pState, int, void* pUserData)
{
	pState->ReturnNumber(GetServer(pUserData)->GetPort());
	return true;
}

bool NativeGetMaxClients(CNativeState* pState, int, void* pUserData)
{
	pState->ReturnNumber(static_cast<int32_t>(GetServer(pUserData)->GetMaxPlayers()));
	return true;
}

bool NativeSetRule(CNativeState* pState, int, void* pUserData)
{
	const char* szName = pState->CheckString(0, nullptr);
	if (!szName)
		return false;
	const char* szValue = pState->CheckString(1, nullptr);
	if (!szValue)
		return false;
	GetServer(pUserData)->SetRule(szName, szValue);
	return true;
}

bool NativeGetRule(CNativeState* pState, int, void* pUserData)
{
	const char* szName = pState->CheckString(0, nullptr);
	if (!szName)
		return false;
	if (const char* szValue = GetServer(pUserData)->GetRule(szName))
		pState->ReturnString(szValue);
	else
		pState->ReturnNull();
	return true;
}

// Without a duration the ban is for ever, as with a duration of 0.
bool NativeBanIP(CNativeState* pState, int argc, void* pUserData)
{
	const char* szAddress = pState->CheckString(0, nullptr);
	if (!szAddress)
		return false;
	int64_t iDuration = 0;
	if (argc > 1 && !pState->CheckNumber(1, iDuration))
		return false;
	GetServer(pUserData)->GetBanList().Ban(szAddress, iDuration);
	return true;
}

bool NativeUnbanIP(CNativeState* pState, int, void* pUserData)
{
	const char* szAddress = pState->CheckString(0, nullptr);
	if (!szAddress)
		return false;
	pState->ReturnBoolean(GetServer(pUserData)->GetBanList().Unban(szAddress));
	return true;
}

bool NativeUnbanAllIPs(CNativeState*, int, void* pUserData)
{
	GetServer(pUserData)->GetBanList().Clear();
	return true;
}

bool NativeIsIPBanned(CNativeState* pState, int, void* pUserData)
{
	const char* szAddress = pState->CheckString(0, nullptr);
	if (!szAddress)
		return false;
	pState->ReturnBoolean(GetServer(pUserData)->GetBanList().IsBanned(szAddress));
	return true;
}

bool NativeShutdown(CNativeState*, int, void* pUserData)
{
	CBaseServer* pServer = GetServer(pUserData);
	pServer->GetContext()->Log("Script requested server shutdown!");
	pServer->RequestQuit();
	return true;
}

// The members the game's element manager adds

bool NativeGetRCon(CNativeState* pState, int, void* pUserData)
{
	pState->ReturnBoolean(GetGameServer(pUserData)->IsRConEnabled());
	return true;
}

bool NativeGetRConPort(CNativeState* pState, int, void* pUserData)
{
	pState->ReturnNumber(GetGameServer(pUserData)->GetRConPort());
	return true;
}

bool NativeGetListed(CNativeState* pState, int, void* pUserData)
{
	pState->ReturnBoolean(GetGameServer(pUserData)->IsListed());
	return true;
}

bool NativeGetHttpServer(CNativeState* pState, int, void* pUserData)
{
	pState->ReturnBoolean(GetGameServer(pUserData)->IsHttpServerEnabled());
	return true;
}

bool NativeGetHttpPort(CNativeState* pState, int, void* pUserData)
{
	pState->ReturnNumber(GetGameServer(pUserData)->GetHttpPort());
	return true;
}

bool NativeGetHttpURL(CNativeState* pState, int, void* pUserData)
{
	pState->ReturnString(GetGameServer(pUserData)->GetHttpUrl());
	return true;
}

// The build part is not shown.
bool NativeGetMinClientVersion(CNativeState* pState, int, void* pUserData)
{
	const uint32_t* puiVersion = GetGameServer(pUserData)->GetMinClientVersion();
	char szVersion[48];
	snprintf(szVersion, sizeof(szVersion), "%u.%u.%u", puiVersion[0], puiVersion[1], puiVersion[2]);
	pState->ReturnString(szVersion);
	return true;
}

bool NativeGetSyncInterval(CNativeState* pState, int, void* pUserData)
{
	pState->ReturnNumber(GetGameServer(pUserData)->GetSyncInterval());
	return true;
}

bool NativeGetSyncMethod(CNativeState* pState, int, void* pUserData)
{
	pState->ReturnNumber(GetGameServer(pUserData)->GetSyncMethod());
	return true;
}

bool NativeGetDuplicateNames(CNativeState* pState, int, void* pUserData)
{
	pState->ReturnBoolean(GetGameServer(pUserData)->IsDuplicateNamesAllowed());
	return true;
}

// The stream distances given to elements made from now on.
template <class TServer, float (TServer::*GET)() const, void (TServer::*SET)(float)>
struct tDistanceNatives
{
	static bool Get(CNativeState* pState, int, void* pUserData)
	{
		TServer* pServer = GetGameServer(pUserData);
		pState->ReturnNumber((pServer->*GET)());
		return true;
	}

	static bool Set(CNativeState* pState, int, void* pUserData)
	{
		float fDistance = 0.0f;
		if (!pState->CheckNumber(0, fDistance))
			return false;
		TServer* pServer = GetGameServer(pUserData);
		(pServer->*SET)(fDistance);
		return true;
	}
};

typedef tDistanceNatives<CBaseServer, &CBaseServer::GetStreamInDistance, &CBaseServer::SetStreamInDistance>
	tStreamInDistance;
typedef tDistanceNatives<CBaseServer, &CBaseServer::GetStreamOutDistance, &CBaseServer::SetStreamOutDistance>
	tStreamOutDistance;
typedef tDistanceNatives<CGTAServer, &CGTAServer::GetPickupStreamInDistance, &CGTAServer::SetPickupStreamInDistance>
	tPickupStreamInDistance;
typedef tDistanceNatives<CGTAServer, &CGTAServer::GetPickupStreamOutDistance, &CGTAServer::SetPickupStreamOutDistance>
	tPickupStreamOutDistance;

bool NativeGetLogPath(CNativeState* pState, int, void* pUserData)
{
	pState->ReturnString(GetGameServer(pUserData)->GetLogPath());
	return true;
}

bool NativeGetSyncLocalEntities(CNativeState* pState, int, void* pUserData)
{
	pState->ReturnBoolean(GetGameServer(pUserData)->IsSyncLocalEntities());
	return true;
}

bool NativeGetCVar(CNativeState* pState, int, void* pUserData)
{
	const char* szName = pState->CheckString(0, nullptr);
	if (!szName)
		return false;
	if (const CVar* pVar = GetGameServer(pUserData)->GetClientVariables().Find(szName))
		pState->ReturnString(pVar->GetValue());
	else
		pState->ReturnNull();
	return true;
}

// Empty text clears the password. Clients that have already joined stay.
bool NativeSetPassword(CNativeState* pState, int, void* pUserData)
{
	const char* szPassword = pState->CheckString(0, nullptr);
	if (!szPassword)
		return false;
	if (!GetGameServer(pUserData)->SetPassword(szPassword))
		return pState->Error("Failed to change the server password.");
	pState->ReturnBoolean(true);
	return true;
}

bool NativeGetBindIP(CNativeState* pState, int, void* pUserData)
{
	pState->ReturnString(GetGameServer(pUserData)->GetBindIP());
	return true;
}
}

void RegisterServerChatFunctions(CBaseServer* pServer)
{
	ReflectedNamespace* pGlobal = pServer->GetResourceMgr().GetScripting()->GetGlobal();
	pGlobal->RegisterFunction("message", "s|i", NativeMessage, pServer);
	pGlobal->RegisterFunction("messageClient", "sx|i", NativeMessageClient, pServer);
	pGlobal->RegisterFunction("messageAllExcept", "sx|i", NativeMessageAllExcept, pServer);
}

void RegisterServerNamespace(CGTAServerManager* pManager)
{
	CBaseServer* pServer = pManager->GetServer();
	CScripting* pScripting = pServer->GetResourceMgr().GetScripting();
	if (!pScripting)
		return;
	ReflectedNamespace* pNamespace = pScripting->GetGlobal()->AddNamespace("server");
	pNamespace->AddProperty(pServer, "game", ARGUMENT_INTEGER, NativeGetGame);
	pNamespace->AddProperty(pServer, "name", ARGUMENT_STRING, NativeGetName, NativeSetName);
	pNamespace->AddProperty(pServer, "gameMode", ARGUMENT_STRING, NativeGetGameMode, NativeSetGameMode);
	pNamespace->AddProperty(pServer, "port", ARGUMENT_INTEGER, NativeGetPort);
	pNamespace->AddProperty(pServer, "maxClients", ARGUMENT_INTEGER, NativeGetMaxClients);
	pNamespace->RegisterFunction("setRule", "ss", NativeSetRule, pServer);
	pNamespace->RegisterFunction("getRule", "s", NativeGetRule, pServer);
	pNamespace->RegisterFunction("banIP", "s|i", NativeBanIP, pServer);
	pNamespace->RegisterFunction("unbanIP", "s", NativeUnbanIP, pServer);
	pNamespace->RegisterFunction("unbanAllIPs", "", NativeUnbanAllIPs, pServer);
	pNamespace->RegisterFunction("isIPBanned", "s", NativeIsIPBanned, pServer);
	pNamespace->RegisterFunction("shutdown", "", NativeShutdown, pServer);

	pNamespace->AddProperty(pManager, "rcon", ARGUMENT_BOOLEAN, NativeGetRCon);
	pNamespace->AddProperty(pManager, "rconPort", ARGUMENT_INTEGER, NativeGetRConPort);
	pNamespace->AddProperty(pManager, "listed", ARGUMENT_BOOLEAN, NativeGetListed);
	pNamespace->AddProperty(pManager, "httpServer", ARGUMENT_BOOLEAN, NativeGetHttpServer);
	pNamespace->AddProperty(pManager, "httpPort", ARGUMENT_INTEGER, NativeGetHttpPort);
	pNamespace->AddProperty(pManager, "httpURL", ARGUMENT_STRING, NativeGetHttpURL);
	pNamespace->AddProperty(pManager, "minClientVersion", ARGUMENT_STRING, NativeGetMinClientVersion);
	pNamespace->AddProperty(pManager, "syncInterval", ARGUMENT_INTEGER, NativeGetSyncInterval);
	pNamespace->AddProperty(pManager, "syncMethod", ARGUMENT_INTEGER, NativeGetSyncMethod);
	pNamespace->AddProperty(pManager, "duplicateNames", ARGUMENT_BOOLEAN, NativeGetDuplicateNames);
	pNamespace->AddProperty(pManager, "streamInDistance", ARGUMENT_FLOAT, tStreamInDistance::Get,
		tStreamInDistance::Set);
	pNamespace->AddProperty(pManager, "streamOutDistance", ARGUMENT_FLOAT, tStreamOutDistance::Get,
		tStreamOutDistance::Set);
	pNamespace->AddProperty(pManager, "pickupStreamInDistance", ARGUMENT_FLOAT, tPickupStreamInDistance::Get,
		tPickupStreamInDistance::Set);
	pNamespace->AddProperty(pManager, "pickupStreamOutDistance", ARGUMENT_FLOAT, tPickupStreamOutDistance::Get,
		tPickupStreamOutDistance::Set);
	pNamespace->AddProperty(pManager, "logPath", ARGUMENT_STRING, NativeGetLogPath);
	pNamespace->AddProperty(pManager, "syncLocalEntities", ARGUMENT_BOOLEAN, NativeGetSyncLocalEntities);
	pNamespace->RegisterFunction("getCVar", "s", NativeGetCVar, pManager);
	pNamespace->RegisterFunction("setPassword", "s", NativeSetPassword, pManager);
	pNamespace->AddProperty(pManager, "bindIP", ARGUMENT_STRING, NativeGetBindIP);
}
