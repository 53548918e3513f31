#include "GameFunctions.h"

#include "ElementFunctions.h"
#include "GTAClient.h"
#include "GTAServerManager.h"
#include "GameSettings.h"
#include "ServerFunctions.h"
#include "World.h"

#include "Engine/Reflection.h"
#include "Scripting/MemberNatives.h"
#include "Scripting/ResourceMgr.h"

namespace
{
// The game's settings behind the element manager given as user data.
struct tGameSettingsOf
{
	template <class T>
	static T* Get(CNativeState*, void* pUserData)
	{
		return &static_cast<CGTAServerManager*>(pUserData)->GetSettings();
	}
};

// The namespace "server": the pickup stream distances follow the server's own, syncLocalEntities its log path.
void RegisterGameServerNamespace(CGTAServerManager* pManager)
{
	ReflectedNamespace* pNamespace = RegisterServerNamespace(pManager->GetBaseServer());
	if (!pNamespace)
		return;
	using MemberNatives::GetField;
	using MemberNatives::SetField;
	RegisterServerSettings(pNamespace, pManager);
	pNamespace->AddProperty(pManager, "pickupStreamInDistance", ARGUMENT_FLOAT,
		GetField<tGameSettingsOf, &tGameSettings::m_fPickupStreamInDistance>,
		SetField<tGameSettingsOf, &tGameSettings::m_fPickupStreamInDistance>);
	pNamespace->AddProperty(pManager, "pickupStreamOutDistance", ARGUMENT_FLOAT,
		GetField<tGameSettingsOf, &tGameSettings::m_fPickupStreamOutDistance>,
		SetField<tGameSettingsOf, &tGameSettings::m_fPickupStreamOutDistance>);
	RegisterServerLogPath(pNamespace, pManager);
	pNamespace->AddProperty(pManager, "syncLocalEntities", ARGUMENT_BOOLEAN,
		GetField<tGameSettingsOf, &tGameSettings::m_bSyncLocalEntities>);
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
