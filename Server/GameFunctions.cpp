#include "GameFunctions.h"

#include "ElementFunctions.h"
#include "GTAClient.h"
#include "GTAServer.h"
#include "GTAServerManager.h"
#include "ServerFunctions.h"
#include "World.h"

#include "Engine/Reflection.h"
#include "Scripting/MemberNatives.h"
#include "Scripting/ResourceMgr.h"

namespace
{
// The game server behind the element manager given as user data.
struct tGameServer
{
	template <class T>
	static T* Get(CNativeState*, void* pUserData)
	{
		return static_cast<CGTAServerManager*>(pUserData)->GetServer();
	}
};

// The namespace "server": the pickup stream distances follow the server's own, syncLocalEntities its log path.
void RegisterGameServerNamespace(CGTAServerManager* pManager)
{
	ReflectedNamespace* pNamespace = RegisterServerNamespace(pManager->GetServer());
	if (!pNamespace)
		return;
	using MemberNatives::Get;
	using MemberNatives::Set;
	RegisterServerSettings(pNamespace, pManager);
	pNamespace->AddProperty(pManager, "pickupStreamInDistance", ARGUMENT_FLOAT,
		Get<tGameServer, &CGTAServer::GetPickupStreamInDistance>,
		Set<tGameServer, &CGTAServer::SetPickupStreamInDistance>);
	pNamespace->AddProperty(pManager, "pickupStreamOutDistance", ARGUMENT_FLOAT,
		Get<tGameServer, &CGTAServer::GetPickupStreamOutDistance>,
		Set<tGameServer, &CGTAServer::SetPickupStreamOutDistance>);
	RegisterServerLogPath(pNamespace, pManager);
	pNamespace->AddProperty(pManager, "syncLocalEntities", ARGUMENT_BOOLEAN,
		Get<tGameServer, &CGTAServer::IsSyncLocalEntities>);
	RegisterServerAccessFunctions(pNamespace, pManager);
}
}

void RegisterGameFunctions(CGTAServerManager* pManager)
{
	ReflectedNamespace* pGame = pManager->GetGameNamespace();
	if (!pGame)
		return;
	ReflectedNamespace* pGlobal = pManager->GetResourceMgr()->GetScripting()->GetGlobal();
	ElementFunctions::RegisterEntityMembers(pManager);
	ElementFunctions::RegisterVehicleMembers(pManager);
	ElementFunctions::RegisterPedMembers(pManager);
	pManager->GetWorld()->RegisterFunctions(pGame);
	GTAClientFunctions::RegisterCameraAndSpawn(pManager, pGame);
	ElementFunctions::RegisterListFunctions(pManager, pGlobal);
	ElementFunctions::RegisterCreateFunctions(pManager, pGame);
	GTAClientFunctions::RegisterSessions(pManager, pGame);
	GTAClientFunctions::RegisterClientMembers(pManager);
	RegisterGameServerNamespace(pManager);
}
