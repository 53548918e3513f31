// The functions that create the game's elements for scripts. Each makes the element with the factory, applies
// its settings, registers it and returns it; the registry keeps it, and the replication manager creates it on the
// clients in a later pass. An element that cannot be registered (the element table is full) is not made at all:
// the call fails with the function's error, as when the factory cannot make it.

#include "ElementFunctions.h"

#include <cinttypes>

#include "Elements/ServerBlip.h"
#include "Elements/ServerBuilding.h"
#include "Elements/ServerMarker.h"
#include "Elements/ServerObject.h"
#include "Elements/ServerPickup.h"
#include "Elements/ServerPlayer.h"
#include "Elements/ServerTrain.h"

#include "Engine/Reflection.h"

using namespace ElementFunctions;

namespace
{
// The game's train model: whatever the game, it makes a train rather than a vehicle.
constexpr int32_t TRAIN_MODEL = 124;
constexpr uint8_t DEFAULT_BLIP_SIZE = 2;
constexpr float DEFAULT_SPHERE_RADIUS = 3.0f;
constexpr uint32_t PLAYER_PED_TYPE = 0;
constexpr uint32_t SCRIPT_PED_TYPE = 21;

template <class TElement>
Strong<TElement> Make(CGTAServerManager* pManager, uint32_t uiType)
{
	return Strong<TElement>::New(static_cast<TElement*>(pManager->Create(static_cast<int>(uiType))));
}

// The model and, when given, the position: the arguments every entity's create function starts with.
bool CheckModelAndPosition(CNativeState* pState, int argc, int32_t& iModel, CVector3D& vecPosition)
{
	return pState->CheckNumber(0, iModel) && CheckOptional(pState, argc, 1, vecPosition);
}

// A blip shows an icon, or without one (icon 0) a dot of the colour.
void SetIconOrColour(CServerBlip* pBlip, uint32_t uiIcon, uint32_t uiColour)
{
	if (uiIcon == 0)
	{
		pBlip->m_iIconOrColour = static_cast<int32_t>(uiColour);
		return;
	}
	pBlip->m_ucFlags |= CServerBlip::BLIP_FLAG_ICON;
	pBlip->m_iIconOrColour = static_cast<int32_t>(uiIcon);
}

// The calling resource owns the element, which is registered and returned; an element the table has no room for
// fails the call with the function's error. (The owner is set first: nothing can see the element before it is
// registered, and a refused one is dropped.)
bool RegisterAndReturn(CNativeState* pState, CGTAServerManager* pManager, CNetObject* pElement, const char* szError)
{
	pElement->SetResource(pState->GetResource());
	if (!pManager->RegisterNetObject(pElement))
		return pState->Error("%s", szError);
	pState->ReturnObject(pElement);
	return true;
}

bool CreateVehicle(CNativeState* pState, int argc, void* pUserData)
{
	int32_t iModel = 0;
	CVector3D vecPosition;
	if (!CheckModelAndPosition(pState, argc, iModel, vecPosition))
		return false;
	CGTAServerManager* pManager = GetManager(pUserData);
	Strong<CServerVehicle> pVehicle =
		Make<CServerVehicle>(pManager, iModel == TRAIN_MODEL ? ELEMENT_TRAIN : ELEMENT_VEHICLE);
	if (pVehicle.IsNull())
		return pState->Error("Failed to create vehicle");
	pVehicle->SetModelIndex(iModel);
	pVehicle->SetPosition(vecPosition);
	return RegisterAndReturn(pState, pManager, pVehicle, "Failed to create vehicle");
}

bool CreateBlipAttachedTo(CNativeState* pState, int argc, void* pUserData)
{
	CGTAServerManager* pManager = GetManager(pUserData);
	CNetObject* pElement = nullptr;
	uint32_t uiIcon = 0;
	uint8_t ucSize = DEFAULT_BLIP_SIZE;
	uint32_t uiColour = 0;
	bool bAttachOptionA = true;
	bool bAttachOptionB = false;
	if (!CheckLiveElement(pState, pManager->GetElementClass(), 0, &pElement) || !pState->CheckNumber(1, uiIcon) ||
		!CheckOptional(pState, argc, 2, ucSize) || !CheckOptional(pState, argc, 3, uiColour) ||
		!CheckOptional(pState, argc, 4, bAttachOptionA) || !CheckOptional(pState, argc, 5, bAttachOptionB))
		return false;
	Strong<CServerBlip> pBlip = Make<CServerBlip>(pManager, ELEMENT_BLIP);
	if (pBlip.IsNull())
		return pState->Error("Failed to create blip");
	// A blip that could not follow its element would sit at the origin while the script believes it attached.
	if (!pBlip->SetParent(pElement))
		return pState->Error("Failed to attach blip: the element has too many attached elements");
	SetIconOrColour(pBlip, uiIcon, uiColour);
	const uint8_t ucAttachOptions = CServerBlip::BLIP_FLAG_ATTACH_OPTION_A | CServerBlip::BLIP_FLAG_ATTACH_OPTION_B;
	pBlip->m_ucFlags = static_cast<uint8_t>((pBlip->m_ucFlags & ~ucAttachOptions) |
		(bAttachOptionA ? CServerBlip::BLIP_FLAG_ATTACH_OPTION_A : 0) |
		(bAttachOptionB ? CServerBlip::BLIP_FLAG_ATTACH_OPTION_B : 0));
	pBlip->m_ucSize = ucSize;
	if (RegisterAndReturn(pState, pManager, pBlip, "Failed to create blip"))
		return true;
	// The element must not keep a child that is about to be freed.
	pBlip->SetParent(nullptr);
	return false;
}

// Buildings and objects: entities with a model and a position and nothing else.
template <class TEntity, uint32_t TYPE>
bool CreateStillEntity(CNativeState* pState, int argc, void* pUserData, const char* szError)
{
	int32_t iModel = 0;
	CVector3D vecPosition;
	if (!CheckModelAndPosition(pState, argc, iModel, vecPosition))
		return false;
	CGTAServerManager* pManager = GetManager(pUserData);
	Strong<TEntity> pEntity = Make<TEntity>(pManager, TYPE);
	if (pEntity.IsNull())
		return pState->Error("%s", szError);
	pEntity->SetModelIndex(iModel);
	pEntity->SetPosition(vecPosition);
	return RegisterAndReturn(pState, pManager, pEntity, szError);
}

bool CreateBuilding(CNativeState* pState, int argc, void* pUserData)
{
	return CreateStillEntity<CServerBuilding, ELEMENT_BUILDING>(pState, argc, pUserData, "Failed to create building");
}

bool CreateObject(CNativeState* pState, int argc, void* pUserData)
{
	return CreateStillEntity<CServerObject, ELEMENT_OBJECT>(pState, argc, pUserData, "Failed to create object");
}

bool CreateBlip(CNativeState* pState, int argc, void* pUserData)
{
	uint32_t uiIcon = 0;
	CVector3D vecPosition;
	uint8_t ucSize = DEFAULT_BLIP_SIZE;
	uint32_t uiColour = 0;
	if (!pState->CheckNumber(0, uiIcon) || !CheckOptional(pState, argc, 1, vecPosition) ||
		!CheckOptional(pState, argc, 2, ucSize) || !CheckOptional(pState, argc, 3, uiColour))
		return false;
	CGTAServerManager* pManager = GetManager(pUserData);
	Strong<CServerBlip> pBlip = Make<CServerBlip>(pManager, ELEMENT_BLIP);
	if (pBlip.IsNull())
		return pState->Error("Failed to create blip");
	pBlip->SetPosition(vecPosition);
	SetIconOrColour(pBlip, uiIcon, uiColour);
	pBlip->m_ucSize = ucSize;
	return RegisterAndReturn(pState, pManager, pBlip, "Failed to create blip");
}

bool CreatePickup(CNativeState* pState, int argc, void* pUserData)
{
	int32_t iModel = 0;
	CVector3D vecPosition;
	int64_t iType = CServerPickup::DEFAULT_PICKUP_TYPE;
	if (!CheckModelAndPosition(pState, argc, iModel, vecPosition) || !CheckOptional(pState, argc, 2, iType))
		return false;
	// The type is kept as its low byte, so any type whose low byte is 0 would be stored as the invalid type 0.
	const uint8_t ucType = static_cast<uint8_t>(iType & 0xFF);
	if (ucType == 0)
		return pState->Error("Pickup type %" PRId64 " is invalid", iType);
	CGTAServerManager* pManager = GetManager(pUserData);
	Strong<CServerPickup> pPickup = Make<CServerPickup>(pManager, ELEMENT_PICKUP);
	if (pPickup.IsNull())
		return pState->Error("Failed to create pickup");
	pPickup->SetPosition(vecPosition);
	pPickup->m_iModel = iModel;
	pPickup->m_ucPickupType = ucType;
	return RegisterAndReturn(pState, pManager, pPickup, "Failed to create pickup");
}

bool CreateSphere(CNativeState* pState, int argc, void* pUserData)
{
	CVector3D vecPosition;
	float fRadius = DEFAULT_SPHERE_RADIUS;
	if (!pState->CheckVector3D(0, vecPosition) || !CheckOptional(pState, argc, 1, fRadius))
		return false;
	CGTAServerManager* pManager = GetManager(pUserData);
	Strong<CServerMarker> pMarker = Make<CServerMarker>(pManager, ELEMENT_MARKER);
	if (pMarker.IsNull())
		return pState->Error("Failed to create marker");
	pMarker->SetPosition(vecPosition);
	pMarker->m_fRadius = fRadius;
	return RegisterAndReturn(pState, pManager, pMarker, "Failed to create marker");
}

// Players and peds: registered, then spawned, so OnPedSpawn handlers see the element's network id. Nothing is
// spawned when the element could not be registered.
template <class TPed, uint32_t TYPE>
bool CreateSpawnedPed(CNativeState* pState, int argc, void* pUserData, uint32_t uiPedType, const char* szError)
{
	int32_t iModel = 0;
	CVector3D vecPosition;
	if (!CheckModelAndPosition(pState, argc, iModel, vecPosition))
		return false;
	CGTAServerManager* pManager = GetManager(pUserData);
	Strong<TPed> pPed = Make<TPed>(pManager, TYPE);
	if (pPed.IsNull())
		return pState->Error("%s", szError);
	pPed->m_uiPedType = uiPedType;
	pPed->SetModelIndex(iModel);
	pPed->SetPosition(vecPosition);
	if (!RegisterAndReturn(pState, pManager, pPed, szError))
		return false;
	pPed->OnSpawned();
	return true;
}

bool CreatePlayer(CNativeState* pState, int argc, void* pUserData)
{
	return CreateSpawnedPed<CServerPlayer, ELEMENT_PLAYER>(pState, argc, pUserData, PLAYER_PED_TYPE,
		"Failed to create player");
}

bool CreatePed(CNativeState* pState, int argc, void* pUserData)
{
	return CreateSpawnedPed<CServerPed, ELEMENT_PED>(pState, argc, pUserData, SCRIPT_PED_TYPE, "Failed to create ped");
}
}

namespace ElementFunctions
{
void RegisterCreateFunctions(CGTAServerManager* pManager, ReflectedNamespace* pGame)
{
	pGame->RegisterFunction("createVehicle", "i|v", CreateVehicle, pManager);
	pGame->RegisterFunction("createBlipAttachedTo", "xi|iibb", CreateBlipAttachedTo, pManager);
	pGame->RegisterFunction("createBuilding", "i|v", CreateBuilding, pManager);
	pGame->RegisterFunction("createObject", "i|v", CreateObject, pManager);
	pGame->RegisterFunction("createBlip", "iv|ii", CreateBlip, pManager);
	pGame->RegisterFunction("createPickup", "i|vi", CreatePickup, pManager);
	pGame->RegisterFunction("createSphere", "v|f", CreateSphere, pManager);
	pGame->RegisterFunction("createPlayer", "i|v", CreatePlayer, pManager);
	pGame->RegisterFunction("createPed", "i|v", CreatePed, pManager);
}
}
