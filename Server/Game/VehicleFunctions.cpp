// The members of the script classes Vehicle and Train. Vehicle members also work on trains, whose class derives
// from Vehicle.

#include "ElementFunctions.h"

#include "Elements/ServerPed.h"
#include "Elements/ServerTrain.h"

#include "Engine/Reflection.h"

using namespace ElementFunctions;

namespace
{
constexpr uint32_t LOCK_STATUS_UNLOCKED = 1;
constexpr uint32_t LOCK_STATUS_LOCKED = 2;
constexpr uint8_t MAX_LOCK_STATUS = 6;
// Colours 3 and 4 that setRGBColours is not given are opaque black.
constexpr uint32_t RGB_BLACK = 0xFF000000;

bool GetThisVehicle(CNativeState* pState, void* pUserData, CServerVehicle** ppVehicle)
{
	return GetThisElement(pState, pUserData, ELEMENT_CLASS_VEHICLE, ppVehicle);
}

bool GetLocked(CNativeState* pState, int, void* pUserData)
{
	CServerVehicle* pVehicle = nullptr;
	if (!GetThisVehicle(pState, pUserData, &pVehicle))
		return false;
	pState->ReturnBoolean(pVehicle->GetLockStatus() > LOCK_STATUS_UNLOCKED);
	return true;
}

bool SetLocked(CNativeState* pState, int, void* pUserData)
{
	CServerVehicle* pVehicle = nullptr;
	bool bLocked = false;
	if (!GetThisVehicle(pState, pUserData, &pVehicle) || !pState->CheckBoolean(0, bLocked))
		return false;
	pVehicle->SetDoorsLocked(bLocked ? LOCK_STATUS_LOCKED : LOCK_STATUS_UNLOCKED);
	return true;
}

bool SetLockedStatus(CNativeState* pState, int, void* pUserData)
{
	CServerVehicle* pVehicle = nullptr;
	uint8_t ucStatus = 0;
	if (!GetThisVehicle(pState, pUserData, &pVehicle) || !pState->CheckNumber(0, ucStatus))
		return false;
	if (ucStatus > MAX_LOCK_STATUS)
		return pState->Error("invalid vehicle lock status");
	pVehicle->SetDoorsLocked(ucStatus);
	return true;
}

// Palette colour N, also while RGB colours are in force; setting it leaves the RGB flag alone.
template <size_t N>
bool GetColour(CNativeState* pState, int, void* pUserData)
{
	CServerVehicle* pVehicle = nullptr;
	if (!GetThisVehicle(pState, pUserData, &pVehicle))
		return false;
	pState->ReturnNumber(pVehicle->m_rgucColours[N]);
	return true;
}

template <size_t N>
bool SetColour(CNativeState* pState, int, void* pUserData)
{
	CServerVehicle* pVehicle = nullptr;
	uint8_t ucColour = 0;
	if (!GetThisVehicle(pState, pUserData, &pVehicle) || !pState->CheckNumber(0, ucColour))
		return false;
	if (ucColour == pVehicle->m_rgucColours[N])
		return true;
	pVehicle->m_rgucColours[N] = ucColour;
	pVehicle->ApplyColourChanges();
	return true;
}

// Two colours must be given, the third and fourth may be; either way all four are set.
template <class TColour>
bool CheckColours(CNativeState* pState, int argc, TColour (&rgColours)[CServerVehicle::COLOUR_COUNT])
{
	return pState->CheckNumber(0, rgColours[0]) && pState->CheckNumber(1, rgColours[1]) &&
		CheckOptional(pState, argc, 2, rgColours[2]) && CheckOptional(pState, argc, 3, rgColours[3]);
}

bool SetColours(CNativeState* pState, int argc, void* pUserData)
{
	CServerVehicle* pVehicle = nullptr;
	uint8_t rgucColours[CServerVehicle::COLOUR_COUNT] = {};
	if (!GetThisVehicle(pState, pUserData, &pVehicle) || !CheckColours(pState, argc, rgucColours))
		return false;
	bool bSame = !pVehicle->m_bRGB;
	for (int i = 0; i < CServerVehicle::COLOUR_COUNT; i++)
	{
		bSame = bSame && pVehicle->m_rgucColours[i] == rgucColours[i];
		pVehicle->m_rgucColours[i] = rgucColours[i];
	}
	if (bSame)
		return true;
	pVehicle->m_bRGB = false;
	pVehicle->ApplyColourChanges();
	return true;
}

bool SetRGBColours(CNativeState* pState, int argc, void* pUserData)
{
	CServerVehicle* pVehicle = nullptr;
	uint32_t rguiColours[CServerVehicle::COLOUR_COUNT] = {0, 0, RGB_BLACK, RGB_BLACK};
	if (!GetThisVehicle(pState, pUserData, &pVehicle) || !CheckColours(pState, argc, rguiColours))
		return false;
	bool bSame = pVehicle->m_bRGB;
	for (int i = 0; i < CServerVehicle::COLOUR_COUNT; i++)
	{
		const int32_t iColour = static_cast<int32_t>(rguiColours[i]);
		bSame = bSame && pVehicle->m_rgiRGBColours[i] == iColour;
		pVehicle->m_rgiRGBColours[i] = iColour;
	}
	if (bSame)
		return true;
	pVehicle->m_bRGB = true;
	pVehicle->ApplyColourChanges();
	return true;
}

bool RandomiseColours(CNativeState* pState, int, void* pUserData)
{
	CServerVehicle* pVehicle = nullptr;
	if (!GetThisVehicle(pState, pUserData, &pVehicle))
		return false;
	pVehicle->RandomiseColours();
	pVehicle->ApplyColourChanges();
	return true;
}

bool Fix(CNativeState* pState, int, void* pUserData)
{
	CServerVehicle* pVehicle = nullptr;
	if (!GetThisVehicle(pState, pUserData, &pVehicle))
		return false;
	pVehicle->Fix();
	return true;
}

bool GetOccupant(CNativeState* pState, int, void* pUserData)
{
	CServerVehicle* pVehicle = nullptr;
	int64_t iSeat = 0;
	if (!GetThisVehicle(pState, pUserData, &pVehicle) || !pState->CheckNumber(0, iSeat))
		return false;
	// Checked whole: a seat cut to 32 bits could come back as a valid one.
	const bool bSeat = iSeat >= 0 && iSeat < CServerVehicle::SEAT_COUNT;
	pState->ReturnObject(bSeat ? pVehicle->GetOccupant(static_cast<uint32_t>(iSeat)) : nullptr);
	return true;
}

bool GetOccupants(CNativeState* pState, int, void* pUserData)
{
	CServerVehicle* pVehicle = nullptr;
	if (!GetThisVehicle(pState, pUserData, &pVehicle))
		return false;
	CArgumentArray* pOccupants = new CArgumentArray(CServerVehicle::SEAT_COUNT);
	for (uint32_t uiSeat = 0; uiSeat < CServerVehicle::SEAT_COUNT; uiSeat++)
	{
		if (CServerPed* pPed = pVehicle->GetOccupant(uiSeat))
			pOccupants->AddObject(pPed);
	}
	pState->ReturnAndOwn(pOccupants);
	return true;
}

template <auto FIELD>
void AddTrainProperty(ReflectedClass* pTrain, CGTAServerManager* pManager, const char* szName, uint8_t ucType)
{
	typedef tFieldProperty<FIELD, ELEMENT_CLASS_TRAIN> tProperty;
	pTrain->AddProperty(pManager, szName, ucType, tProperty::Get, tProperty::Set);
}
}

namespace ElementFunctions
{
void RegisterVehicleMembers(CGTAServerManager* pManager)
{
	typedef tAccessorProperty<&CServerVehicle::GetEngine, &CServerVehicle::SetEngine, ELEMENT_CLASS_VEHICLE> tEngine;
	typedef tFieldProperty<&CServerVehicle::m_bStrongGrip, ELEMENT_CLASS_VEHICLE> tStrongGrip;
	ReflectedClass* pVehicle = pManager->GetScriptClass(ELEMENT_CLASS_VEHICLE);
	pVehicle->AddProperty(pManager, "locked", ARGUMENT_BOOLEAN, GetLocked, SetLocked);
	pVehicle->AddProperty(pManager, "lockedStatus", ARGUMENT_INTEGER,
		MemberNatives::Get<tGameElement<ELEMENT_CLASS_VEHICLE>, &CServerVehicle::GetLockStatus>, SetLockedStatus);
	pVehicle->AddProperty(pManager, "engine", ARGUMENT_BOOLEAN, tEngine::Get, tEngine::Set);
	pVehicle->AddProperty(pManager, "colour1", ARGUMENT_INTEGER, GetColour<0>, SetColour<0>);
	pVehicle->AddProperty(pManager, "colour2", ARGUMENT_INTEGER, GetColour<1>, SetColour<1>);
	pVehicle->AddProperty(pManager, "colour3", ARGUMENT_INTEGER, GetColour<2>, SetColour<2>);
	pVehicle->AddProperty(pManager, "colour4", ARGUMENT_INTEGER, GetColour<3>, SetColour<3>);
	pVehicle->RegisterFunction("setColours", "tii", SetColours, pManager);
	pVehicle->RegisterFunction("setRGBColours", "tii", SetRGBColours, pManager);
	pVehicle->RegisterFunction("randomiseColours", "t", RandomiseColours, pManager);
	pVehicle->RegisterFunction("fix", "t", Fix, pManager);
	pVehicle->AddProperty(pManager, "strongGrip", ARGUMENT_BOOLEAN, tStrongGrip::Get, tStrongGrip::Set);
	pVehicle->RegisterFunction("getOccupant", "ti", GetOccupant, pManager);
	pVehicle->RegisterFunction("getOccupants", "t", GetOccupants, pManager);

	ReflectedClass* pTrain = pManager->GetScriptClass(ELEMENT_CLASS_TRAIN);
	AddTrainProperty<&CServerTrain::m_ucTrack>(pTrain, pManager, "track", ARGUMENT_INTEGER);
	AddTrainProperty<&CServerTrain::m_fTrackPosition>(pTrain, pManager, "trackPosition", ARGUMENT_FLOAT);
	AddTrainProperty<&CServerTrain::m_fSpeed>(pTrain, pManager, "speed", ARGUMENT_FLOAT);
	AddTrainProperty<&CServerTrain::m_bDerailed>(pTrain, pManager, "derailed", ARGUMENT_BOOLEAN);
	AddTrainProperty<&CServerTrain::m_bHeadlights>(pTrain, pManager, "headlights", ARGUMENT_BOOLEAN);
	AddTrainProperty<&CServerTrain::m_bTaillights>(pTrain, pManager, "taillights", ARGUMENT_BOOLEAN);
}
}
