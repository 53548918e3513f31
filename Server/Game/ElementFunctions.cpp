// The members of the script classes Entity, Physical and Ped, and the functions that list and count the
// registered elements of each kind.

#include "ElementFunctions.h"

#include <cinttypes>

#include "Elements/ServerPed.h"
#include "Elements/ServerVehicle.h"

#include "Engine/Reflection.h"

using namespace ElementFunctions;

namespace
{
// The model is a property of entities and, as "skin", of peds; either way the element's own SetModelIndex runs
// (a vehicle also picks new colours).
template <eElementClass CLASS>
using tModelProperty = tAccessorProperty<&CServerEntity::GetModelIndex, &CServerEntity::SetModelIndex, CLASS>;

// Only a ped that sits in its vehicle reports one; a ped still getting in or out does not.
bool IsInVehicle(const CServerPed* pPed)
{
	return pPed->GetVehicleId() != INVALID_NETWORK_ID && pPed->GetVehicleState() == VEHICLE_STATE_IN_VEHICLE;
}

bool GetPedVehicle(CNativeState* pState, int, void* pUserData)
{
	CServerPed* pPed = nullptr;
	if (!GetThisElement(pState, pUserData, ELEMENT_CLASS_PED, &pPed))
		return false;
	pState->ReturnObject(IsInVehicle(pPed) ? GetManager(pUserData)->FromId(pPed->GetVehicleId(), 0) : nullptr);
	return true;
}

bool GetPedSeat(CNativeState* pState, int, void* pUserData)
{
	CServerPed* pPed = nullptr;
	if (!GetThisElement(pState, pUserData, ELEMENT_CLASS_PED, &pPed))
		return false;
	pState->ReturnNumber(IsInVehicle(pPed) ? static_cast<int32_t>(pPed->GetSeat()) : -1);
	return true;
}

bool IsEnteringVehicle(CNativeState* pState, int, void* pUserData)
{
	CServerPed* pPed = nullptr;
	if (!GetThisElement(pState, pUserData, ELEMENT_CLASS_PED, &pPed))
		return false;
	const eVehicleEnteringState eState = pPed->GetVehicleState();
	pState->ReturnBoolean(eState == VEHICLE_STATE_ENTERING || eState == VEHICLE_STATE_ENTERING_DRIVER);
	return true;
}

bool IsExitingVehicle(CNativeState* pState, int, void* pUserData)
{
	CServerPed* pPed = nullptr;
	if (!GetThisElement(pState, pUserData, ELEMENT_CLASS_PED, &pPed))
		return false;
	pState->ReturnBoolean(pPed->GetVehicleState() == VEHICLE_STATE_EXITING);
	return true;
}

bool WarpIntoVehicle(CNativeState* pState, int, void* pUserData)
{
	CServerPed* pPed = nullptr;
	CServerVehicle* pVehicle = nullptr;
	int64_t iSeat = 0;
	if (!GetThisElement(pState, pUserData, ELEMENT_CLASS_PED, &pPed) ||
		!CheckLiveElement(pState, GetManager(pUserData)->GetScriptClass(ELEMENT_CLASS_VEHICLE), 0, &pVehicle) ||
		!pState->CheckNumber(1, iSeat))
		return false;
	// A seat number cut to its low byte could name a seat the script never meant.
	if (iSeat < 0 || iSeat >= CServerVehicle::SEAT_COUNT)
		return pState->Error("Seat %" PRId64 " is invalid; seats are 0 to 8", iSeat);
	// A destroyed ped would otherwise be found in the seat by everyone who asks the vehicle.
	if (!pPed->IsRegistered())
		return pState->Error("The ped no longer exists");
	const uint8_t ucSeat = static_cast<uint8_t>(iSeat);
	pPed->SetVehicleEnteringState(pVehicle, ucSeat, VEHICLE_STATE_IN_VEHICLE);
	// The seat is taken at once, so the vehicle knows its occupant before the ped's client (if any) syncs it.
	pVehicle->SetOccupant(ucSeat, pPed);
	return true;
}

bool GiveWeapon(CNativeState* pState, int argc, void* pUserData)
{
	CServerPed* pPed = nullptr;
	uint32_t uiWeapon = 0;
	uint32_t uiAmmunition = 0;
	bool bSetCurrent = false;
	if (!GetThisElement(pState, pUserData, ELEMENT_CLASS_PED, &pPed) || !pState->CheckNumber(0, uiWeapon) ||
		!pState->CheckNumber(1, uiAmmunition) || !CheckOptional(pState, argc, 2, bSetCurrent))
		return false;
	pPed->GiveWeapon(uiWeapon, uiAmmunition, bSetCurrent);
	return true;
}

// Calls the function for every registered element of the type, in slot order.
template <class TVisit>
void ForEachElement(CGTAServerManager* pManager, uint32_t uiType, TVisit Visit)
{
	for (size_t Slot : pManager->UsedSlots())
	{
		CNetObject* pElement = pManager->GetObjectAt(Slot);
		if (pElement && pElement->IsRegistered() && pElement->IsType(uiType))
			Visit(pElement);
	}
}

size_t CountOfType(CGTAServerManager* pManager, uint32_t uiType)
{
	size_t Count = 0;
	ForEachElement(pManager, uiType, [&](CNetObject*) { Count++; });
	return Count;
}

template <uint32_t TYPE>
bool ListElements(CNativeState* pState, int, void* pUserData)
{
	CGTAServerManager* pManager = GetManager(pUserData);
	CArgumentArray* pArray = new CArgumentArray(CountOfType(pManager, TYPE));
	ForEachElement(pManager, TYPE, [&](CNetObject* pElement) { pArray->AddObject(pElement); });
	pState->ReturnAndOwn(pArray);
	return true;
}

template <uint32_t TYPE>
bool CountElements(CNativeState* pState, int, void* pUserData)
{
	pState->ReturnNumber(static_cast<int32_t>(CountOfType(GetManager(pUserData), TYPE)));
	return true;
}

// A read-only property of a ped's field: the ped's own sync block is what changes it.
template <auto FIELD>
void AddPedReading(ReflectedClass* pPed, CGTAServerManager* pManager, const char* szName, uint8_t ucType)
{
	pPed->AddProperty(pManager, szName, ucType, tFieldProperty<FIELD, ELEMENT_CLASS_PED>::Get);
}

struct tListFunction
{
	const char* m_szList;
	NativeFunction m_pfnList;
	const char* m_szCount;
	NativeFunction m_pfnCount;
};

template <uint32_t TYPE>
constexpr tListFunction ListFunction(const char* szList, const char* szCount)
{
	return {szList, ListElements<TYPE>, szCount, CountElements<TYPE>};
}

const tListFunction g_rgListFunctions[] = {
	ListFunction<ELEMENT_BLIP>("getBlips", "getBlipCount"),
	ListFunction<ELEMENT_BUILDING>("getBuildings", "getBuildingCount"),
	ListFunction<ELEMENT_ELEMENT>("getElements", "getElementCount"),
	ListFunction<ELEMENT_MARKER>("getMarkers", "getMarkerCount"),
	ListFunction<ELEMENT_OBJECT>("getObjects", "getObjectCount"),
	ListFunction<ELEMENT_PED>("getPeds", "getPedCount"),
	ListFunction<ELEMENT_PHYSICAL>("getPhysicals", "getPhysicalCount"),
	ListFunction<ELEMENT_PICKUP>("getPickups", "getPickupCount"),
	ListFunction<ELEMENT_PLAYER>("getPlayers", "getPlayerCount"),
	ListFunction<ELEMENT_TRAIN>("getTrains", "getTrainCount"),
	ListFunction<ELEMENT_VEHICLE>("getVehicles", "getVehicleCount"),
};
}

namespace ElementFunctions
{
void RegisterEntityMembers(CGTAServerManager* pManager)
{
	typedef tModelProperty<ELEMENT_CLASS_ENTITY> tModel;
	typedef tAccessorProperty<&CServerEntity::GetInterior, &CServerEntity::SetInterior, ELEMENT_CLASS_ENTITY> tInterior;
	typedef tAccessorProperty<&CServerEntity::GetMatrix, &CServerEntity::SetMatrix, ELEMENT_CLASS_ENTITY> tMatrix;
	typedef tAccessorProperty<&CServerEntity::GetHeading, &CServerEntity::SetHeading, ELEMENT_CLASS_ENTITY> tHeading;
	ReflectedClass* pEntity = pManager->GetScriptClass(ELEMENT_CLASS_ENTITY);
	pEntity->AddProperty(pManager, "modelIndex", ARGUMENT_INTEGER, tModel::Get, tModel::Set);
	pEntity->AddProperty(pManager, "interior", ARGUMENT_INTEGER, tInterior::Get, tInterior::Set);
	pEntity->AddProperty(pManager, "matrix", ARGUMENT_MATRIX4X4, tMatrix::Get, tMatrix::Set);
	pEntity->AddProperty(pManager, "heading", ARGUMENT_FLOAT, tHeading::Get, tHeading::Set);

	typedef tFieldProperty<&CServerPhysical::m_vecVelocity, ELEMENT_CLASS_PHYSICAL> tVelocity;
	typedef tFieldProperty<&CServerPhysical::m_vecTurnVelocity, ELEMENT_CLASS_PHYSICAL> tTurnVelocity;
	ReflectedClass* pPhysical = pManager->GetScriptClass(ELEMENT_CLASS_PHYSICAL);
	pPhysical->AddProperty(pManager, "velocity", ARGUMENT_VECTOR3D, tVelocity::Get, tVelocity::Set);
	pPhysical->AddProperty(pManager, "turnVelocity", ARGUMENT_VECTOR3D, tTurnVelocity::Get, tTurnVelocity::Set);
}

void RegisterPedMembers(CGTAServerManager* pManager)
{
	ReflectedClass* pPed = pManager->GetScriptClass(ELEMENT_CLASS_PED);
	pPed->AddProperty(pManager, "skin", ARGUMENT_INTEGER, tModelProperty<ELEMENT_CLASS_PED>::Get,
		tModelProperty<ELEMENT_CLASS_PED>::Set);
	pPed->AddProperty(pManager, "vehicle", ARGUMENT_OBJECT, GetPedVehicle);
	pPed->AddProperty(pManager, "seat", ARGUMENT_INTEGER, GetPedSeat);
	AddPedReading<&CServerPed::m_fHealth>(pPed, pManager, "health", ARGUMENT_FLOAT);
	AddPedReading<&CServerPed::m_fArmour>(pPed, pManager, "armour", ARGUMENT_FLOAT);
	AddPedReading<&CServerPed::m_usWeapon>(pPed, pManager, "weapon", ARGUMENT_INTEGER);
	AddPedReading<&CServerPed::m_usAmmunition>(pPed, pManager, "weaponAmmunition", ARGUMENT_INTEGER);
	AddPedReading<&CServerPed::m_usClipAmmunition>(pPed, pManager, "weaponClipAmmunition", ARGUMENT_INTEGER);
	AddPedReading<&CServerPed::m_ucWeaponState>(pPed, pManager, "weaponState", ARGUMENT_INTEGER);
	pPed->AddProperty(pManager, "isEnteringVehicle", ARGUMENT_BOOLEAN, IsEnteringVehicle);
	pPed->AddProperty(pManager, "isExitingVehicle", ARGUMENT_BOOLEAN, IsExitingVehicle);
	pPed->RegisterFunction("warpIntoVehicle", "txi", WarpIntoVehicle, pManager);
	pPed->RegisterFunction("giveWeapon", "tii|b", GiveWeapon, pManager);
}

void RegisterListFunctions(CGTAServerManager* pManager, ReflectedNamespace* pGlobal)
{
	for (const tListFunction& Function : g_rgListFunctions)
	{
		pGlobal->RegisterFunction(Function.m_szList, "", Function.m_pfnList, pManager);
		pGlobal->RegisterFunction(Function.m_szCount, "", Function.m_pfnCount, pManager);
	}
}
}
