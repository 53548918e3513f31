#include "ServerFunctions.h"

#include <cstdio>

#include "BaseServer.h"
#include "ServerManager.h"

#include "Engine/Config.h"
#include "Engine/KestrinNative.h"
#include "Engine/Reflection.h"
#include "Multiplayer/NetObjectFunctions.h"
#include "Scripting/MemberNatives.h"

namespace
{
// The colour of a chat line a script sends without one: opaque lime.
constexpr uint32_t DEFAULT_CHAT_COLOUR = 0xFF00FF00u;

CBaseServer* GetServer(void* pUserData)
{
	return static_cast<CBaseServer*>(pUserData);
}

CBaseServer* GetManagedServer(void* pUserData)
{
	return static_cast<CServerManager*>(pUserData)->GetBaseServer();
}

// The server behind the user data of the namespace's members: the server itself, or the element manager.
typedef MemberNatives::tUserData<CBaseServer> tServer;

struct tManagedServer
{
	template <class T>
	static T* Get(CNativeState*, void* pUserData)
	{
		return GetManagedServer(pUserData);
	}
};

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

// messageClient and messageAllExcept: the line goes to the client, or to everyone but the client.
template <void (CBaseServer::*SEND)(CNetMachine*, const char*, size_t, uint32_t)>
bool NativeMessageForClient(CNativeState* pState, int argc, void* pUserData)
{
	size_t Length = 0;
	const char* szText = pState->CheckString(0, &Length);
	CNetMachine* pClient = nullptr;
	uint32_t uiColour = 0;
	if (!szText || !CheckChatClient(pState, GetServer(pUserData), &pClient) || !CheckColour(pState, argc, 2, uiColour))
		return false;
	(GetServer(pUserData)->*SEND)(pClient, szText, Length, uiColour);
	return true;
}

// The server's own members

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

// The members served through the element manager

// The build part is not shown.
bool NativeGetMinClientVersion(CNativeState* pState, int, void* pUserData)
{
	const uint32_t* puiVersion = GetManagedServer(pUserData)->GetMinClientVersion();
	char szVersion[48];
	snprintf(szVersion, sizeof(szVersion), "%u.%u.%u", puiVersion[0], puiVersion[1], puiVersion[2]);
	pState->ReturnString(szVersion);
	return true;
}

bool NativeGetCVar(CNativeState* pState, int, void* pUserData)
{
	const char* szName = pState->CheckString(0, nullptr);
	if (!szName)
		return false;
	if (const CVar* pVar = GetManagedServer(pUserData)->GetClientVariables().Find(szName))
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
	if (!GetManagedServer(pUserData)->SetPassword(szPassword))
		return pState->Error("Failed to change the server password.");
	pState->ReturnBoolean(true);
	return true;
}
}

void RegisterServerChatFunctions(CBaseServer* pServer)
{
	ReflectedNamespace* pGlobal = pServer->GetResourceMgr().GetScripting()->GetGlobal();
	pGlobal->RegisterFunction("message", "s|i", NativeMessage, pServer);
	pGlobal->RegisterFunction("messageClient", "sx|i", NativeMessageForClient<&CBaseServer::SendChat>, pServer);
	pGlobal->RegisterFunction("messageAllExcept", "sx|i", NativeMessageForClient<&CBaseServer::SendChatExcept>,
		pServer);
}

ReflectedNamespace* RegisterServerNamespace(CBaseServer* pServer)
{
	CScripting* pScripting = pServer->GetResourceMgr().GetScripting();
	if (!pScripting)
		return nullptr;
	using MemberNatives::Get;
	using MemberNatives::Set;
	ReflectedNamespace* pNamespace = pScripting->GetGlobal()->AddNamespace("server");
	pNamespace->AddProperty(pServer, "game", ARGUMENT_INTEGER, Get<tServer, &CBaseServer::GetGameId>);
	pNamespace->AddProperty(pServer, "name", ARGUMENT_STRING, Get<tServer, &CBaseServer::GetServerName>,
		Set<tServer, &CBaseServer::SetServerName>);
	pNamespace->AddProperty(pServer, "gameMode", ARGUMENT_STRING, Get<tServer, &CBaseServer::GetGameMode>,
		Set<tServer, &CBaseServer::SetGameMode>);
	pNamespace->AddProperty(pServer, "port", ARGUMENT_INTEGER, Get<tServer, &CBaseServer::GetPort>);
	pNamespace->AddProperty(pServer, "maxClients", ARGUMENT_INTEGER, NativeGetMaxClients);
	pNamespace->RegisterFunction("setRule", "ss", NativeSetRule, pServer);
	pNamespace->RegisterFunction("getRule", "s", NativeGetRule, pServer);
	pNamespace->RegisterFunction("banIP", "s|i", NativeBanIP, pServer);
	pNamespace->RegisterFunction("unbanIP", "s", NativeUnbanIP, pServer);
	pNamespace->RegisterFunction("unbanAllIPs", "", NativeUnbanAllIPs, pServer);
	pNamespace->RegisterFunction("isIPBanned", "s", NativeIsIPBanned, pServer);
	pNamespace->RegisterFunction("shutdown", "", NativeShutdown, pServer);
	return pNamespace;
}

void RegisterServerSettings(ReflectedNamespace* pNamespace, CServerManager* pManager)
{
	using MemberNatives::Get;
	using MemberNatives::Set;
	pNamespace->AddProperty(pManager, "rcon", ARGUMENT_BOOLEAN, Get<tManagedServer, &CBaseServer::IsRConEnabled>);
	pNamespace->AddProperty(pManager, "rconPort", ARGUMENT_INTEGER, Get<tManagedServer, &CBaseServer::GetRConPort>);
	pNamespace->AddProperty(pManager, "listed", ARGUMENT_BOOLEAN, Get<tManagedServer, &CBaseServer::IsListed>);
	pNamespace->AddProperty(pManager, "httpServer", ARGUMENT_BOOLEAN,
		Get<tManagedServer, &CBaseServer::IsHttpServerEnabled>);
	pNamespace->AddProperty(pManager, "httpPort", ARGUMENT_INTEGER, Get<tManagedServer, &CBaseServer::GetHttpPort>);
	pNamespace->AddProperty(pManager, "httpURL", ARGUMENT_STRING, Get<tManagedServer, &CBaseServer::GetHttpUrl>);
	pNamespace->AddProperty(pManager, "minClientVersion", ARGUMENT_STRING, NativeGetMinClientVersion);
	pNamespace->AddProperty(pManager, "syncInterval", ARGUMENT_INTEGER,
		Get<tManagedServer, &CBaseServer::GetSyncInterval>);
	pNamespace->AddProperty(pManager, "syncMethod", ARGUMENT_INTEGER,
		Get<tManagedServer, &CBaseServer::GetSyncMethod>);
	pNamespace->AddProperty(pManager, "duplicateNames", ARGUMENT_BOOLEAN,
		Get<tManagedServer, &CBaseServer::IsDuplicateNamesAllowed>);
	// The stream distances given to elements made from now on.
	pNamespace->AddProperty(pManager, "streamInDistance", ARGUMENT_FLOAT,
		Get<tManagedServer, &CBaseServer::GetStreamInDistance>,
		Set<tManagedServer, &CBaseServer::SetStreamInDistance>);
	pNamespace->AddProperty(pManager, "streamOutDistance", ARGUMENT_FLOAT,
		Get<tManagedServer, &CBaseServer::GetStreamOutDistance>,
		Set<tManagedServer, &CBaseServer::SetStreamOutDistance>);
}

void RegisterServerLogPath(ReflectedNamespace* pNamespace, CServerManager* pManager)
{
	pNamespace->AddProperty(pManager, "logPath", ARGUMENT_STRING,
		MemberNatives::Get<tManagedServer, &CBaseServer::GetLogPath>);
}

void RegisterServerAccessFunctions(ReflectedNamespace* pNamespace, CServerManager* pManager)
{
	pNamespace->RegisterFunction("getCVar", "s", NativeGetCVar, pManager);
	pNamespace->RegisterFunction("setPassword", "s", NativeSetPassword, pManager);
	pNamespace->AddProperty(pManager, "bindIP", ARGUMENT_STRING,
		MemberNatives::Get<tManagedServer, &CBaseServer::GetBindIP>);
}
