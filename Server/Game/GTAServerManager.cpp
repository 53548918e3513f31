#include "GTAServerManager.h"

#include <cmath>
#include <cstdlib>
#include <strings.h>

#include "BaseServer.h"
#include "GameSettings.h"
#include "NetGamesList.h"

#include "Elements/ServerBlip.h"
#include "Elements/ServerBuilding.h"
#include "Elements/ServerMarker.h"
#include "Elements/ServerObject.h"
#include "Elements/ServerPickup.h"
#include "Elements/ServerPlayer.h"
#include "Elements/ServerTrain.h"

#include "Engine/Context.h"
#include "Engine/ElementChunk.h"
#include "Engine/KestrinNative.h"
#include "Engine/Reflection.h"
#include "Scripting/EventHandlers.h"
#include "Scripting/Resource.h"
#include "Scripting/ResourceMgr.h"

namespace
{
struct tGameEventType
{
	eGameEvent m_eEvent;
	const char* m_szName;
	const char* m_szDescription;
	int32_t m_iArgumentCount;
	bool m_bCancellable;
};

// In the order they are created.
const tGameEventType g_rgGameEventTypes[] = {
	{GAME_EVENT_PED_CROUCH, "OnPedCrouch", "Called when a ped starts crouching", 1, false},
	{GAME_EVENT_PED_ENTER_VEHICLE, "OnPedEnterVehicle", "Called when a ped is entering a vehicle.", 3, true},
	{GAME_EVENT_PED_EXIT_VEHICLE, "OnPedExitVehicle", "Called when a ped is exiting a vehicle.", 2, true},
	{GAME_EVENT_PED_FALL, "OnPedFall", "Called when a ped starts falling to floor", 4, false},
	{GAME_EVENT_PED_JUMP, "OnPedJump", "Called when a ped starts jumping", 1, false},
	{GAME_EVENT_PED_SPAWN, "OnPedSpawn", "Called when a ped is spawned.", 1, false},
	{GAME_EVENT_PED_UNCROUCH, "OnPedUncrouch", "Called when a ped starts uncrouching", 1, false},
	{GAME_EVENT_PED_WASTED, "OnPedWasted", "Called when a ped is wasted.", 5, false},
	{GAME_EVENT_PICKUP_COLLECTED, "OnPickupCollected", "Called when a pickup is collected", 2, false},
};

struct tScriptClass
{
	eElementClass m_eClass;
	const char* m_szName;
	// ELEMENT_CLASS_COUNT: no base; ELEMENT_CLASS_WORLD as a base never occurs, so it stands for "Element".
	eElementClass m_eBase;
};

constexpr eElementClass BASE_NONE = ELEMENT_CLASS_COUNT;
constexpr eElementClass BASE_ELEMENT = ELEMENT_CLASS_WORLD;

const tScriptClass g_rgScriptClasses[] = {
	{ELEMENT_CLASS_WORLD, "World", BASE_NONE},
	{ELEMENT_CLASS_ENTITY, "Entity", BASE_ELEMENT},
	{ELEMENT_CLASS_PHYSICAL, "Physical", ELEMENT_CLASS_ENTITY},
	{ELEMENT_CLASS_PED, "Ped", ELEMENT_CLASS_PHYSICAL},
	{ELEMENT_CLASS_PLAYER, "Player", ELEMENT_CLASS_PED},
	{ELEMENT_CLASS_VEHICLE, "Vehicle", ELEMENT_CLASS_PHYSICAL},
	{ELEMENT_CLASS_TRAIN, "Train", ELEMENT_CLASS_VEHICLE},
	{ELEMENT_CLASS_BLIP, "Blip", BASE_ELEMENT},
	{ELEMENT_CLASS_OBJECT, "Object", ELEMENT_CLASS_PHYSICAL},
	{ELEMENT_CLASS_BUILDING, "Building", ELEMENT_CLASS_ENTITY},
	{ELEMENT_CLASS_PICKUP, "Pickup", BASE_ELEMENT},
	{ELEMENT_CLASS_MARKER, "Marker", BASE_ELEMENT},
	{ELEMENT_CLASS_CAR_GENERATOR, "CarGenerator", BASE_ELEMENT},
};

struct tConstant
{
	const char* m_szName;
	int m_iValue;
};

const tConstant g_rgConstants[] = {
	{"SERVER_VERSION_MAJOR", 1},
	{"SERVER_VERSION_MINOR", 5},
	{"SERVER_VERSION_PATCH", 10},
	{"GAME_UNKNOWN", GAME_UNKNOWN},
	{"GAME_GTA_III", GAME_GTA_III},
	{"GAME_GTA_VC", GAME_GTA_VC},
	{"GAME_GTA_SA", GAME_GTA_SA},
	{"GAME_GTA_IV", GAME_GTA_IV},
	{"GAME_GTA_IV_EFLC", GAME_GTA_IV_EFLC},
	{"GAME_BULLY", GAME_BULLY},
	{"GAME_MAFIA_ONE", GAME_MAFIA_ONE},
	{"GAME_MAFIA_TWO", GAME_MAFIA_TWO},
	{"GAME_MAFIA_THREE", GAME_MAFIA_THREE},
	{"GAME_MAFIA_ONE_DE", GAME_MAFIA_ONE_DE},
	{"ELEMENT_ELEMENT", ELEMENT_ELEMENT},
	{"ELEMENT_TRANSFORMABLE", ELEMENT_TRANSFORMABLE},
	{"ELEMENT_ENTITY", ELEMENT_ENTITY},
	{"ELEMENT_PHYSICAL", ELEMENT_PHYSICAL},
	{"ELEMENT_PED", ELEMENT_PED},
	{"ELEMENT_PLAYER", ELEMENT_PLAYER},
	{"ELEMENT_VEHICLE", ELEMENT_VEHICLE},
	{"ELEMENT_BLIP", ELEMENT_BLIP},
	{"ELEMENT_OBJECT", ELEMENT_OBJECT},
	{"ELEMENT_BUILDING", ELEMENT_BUILDING},
	{"ELEMENT_TRAIN", ELEMENT_TRAIN},
	{"ELEMENT_PICKUP", ELEMENT_PICKUP},
};

// A coordinate from its long attribute name, else its short one; 0 when neither is there.
float ReadCoordinate(const CElementChunk* pElement, const char* szLong, const char* szShort)
{
	const char* szValue = pElement->Attribute(szLong);
	if (!szValue)
		szValue = pElement->Attribute(szShort);
	return szValue ? static_cast<float>(strtod(szValue, nullptr)) : 0.0f;
}

CVector3D ReadMapPosition(const CElementChunk* pElement)
{
	return CVector3D(ReadCoordinate(pElement, "posX", "x"), ReadCoordinate(pElement, "posY", "y"),
		ReadCoordinate(pElement, "posZ", "z"));
}

// Objects, buildings, markers and pickups stream by distance and are never synced (an entity already streams by
// distance).
void SetStillElementFlags(CNetObject* pElement)
{
	pElement->SetNetFlag(NETFLAG_DISTANCE_STREAMING, true);
	pElement->SetNetFlag(NETFLAG_FIND_SYNCER, false);
	pElement->SetNetFlag(NETFLAG_SEND_SYNC, false);
}

void SetStreamDistances(CNetObject* pElement, float fIn, float fOut)
{
	pElement->SetStreamInDistance(fIn);
	pElement->SetStreamOutDistance(fOut);
}

bool IsTag(const CElementChunk* pElement, const char* szTag)
{
	return strcasecmp(pElement->GetName(), szTag) == 0;
}
}

CGTAServerManager::CGTAServerManager(CBaseServer* pServer, CResourceMgr* pResourceMgr, tGameSettings& Settings,
	const CVehicleColours& VehicleColours) :
	CGameElementManager(pServer, pResourceMgr, VehicleColours),
	m_Settings(Settings),
	m_pGameNamespace(nullptr)
{
	CreateEventTypes();
	if (pResourceMgr && pResourceMgr->GetScripting())
	{
		m_pGameNamespace = pResourceMgr->GetScripting()->GetGlobal()->AddNamespace("gta");
		m_pGameNamespace->SetAlias("game");
		CreateScriptClasses(m_pGameNamespace);
	}
	m_pWorld = Strong<CWorld>::New(new CWorld(this, &m_Settings));
	DefineConstants();
}

CGTAServerManager::~CGTAServerManager()
{
	m_pWorld.SetNull();
}

void CGTAServerManager::CreateEventTypes()
{
	CResourceMgr* pResourceMgr = GetResourceMgr();
	EventHandlers::CEventHandlers* pEvents = pResourceMgr ? pResourceMgr->GetEventHandlers() : nullptr;
	if (!pEvents)
		return;
	for (const tGameEventType& Type : g_rgGameEventTypes)
		m_rgpEventTypes[Type.m_eEvent] = pEvents->CreateEventType(Type.m_szName, Type.m_szDescription,
			Type.m_iArgumentCount, Type.m_bCancellable);
}

void CGTAServerManager::CreateScriptClasses(ReflectedNamespace* pGame)
{
	for (const tScriptClass& Class : g_rgScriptClasses)
	{
		ReflectedClass* pBase = Class.m_eBase == BASE_NONE ? nullptr
			: Class.m_eBase == BASE_ELEMENT                 ? GetElementClass()
															: m_rgpScriptClasses[Class.m_eBase];
		m_rgpScriptClasses[Class.m_eClass] = pGame->NewClass(Class.m_szName, pBase);
	}
}

void CGTAServerManager::DefineConstants()
{
	CDefineHandlers& Defines = GetBaseServer()->GetDefineHandlers();
	for (const tConstant& Constant : g_rgConstants)
		Defines.Define(Constant.m_szName, Constant.m_iValue);
}

CNetObject* CGTAServerManager::Create(int iType)
{
	switch (iType)
	{
	case ELEMENT_PED:
		return new CServerPed(this);
	case ELEMENT_PLAYER:
		return new CServerPlayer(this);
	case ELEMENT_VEHICLE:
		return new CServerVehicle(this);
	case ELEMENT_TRAIN:
	{
		CServerTrain* pTrain = new CServerTrain(this);
		pTrain->SetNetFlag(NETFLAG_DISTANCE_STREAMING, false);
		pTrain->SetNetFlag(NETFLAG_ALWAYS_EXIST_FOR_SYNCER, true);
		return pTrain;
	}
	case ELEMENT_OBJECT:
	{
		CServerObject* pObject = new CServerObject(this);
		SetStillElementFlags(pObject);
		return pObject;
	}
	case ELEMENT_BUILDING:
	{
		CServerBuilding* pBuilding = new CServerBuilding(this);
		SetStillElementFlags(pBuilding);
		return pBuilding;
	}
	case ELEMENT_BLIP:
	{
		CServerBlip* pBlip = new CServerBlip(this);
		pBlip->SetNetFlag(NETFLAG_SEND_SYNC, true);
		pBlip->SetNetFlag(NETFLAG_DISTANCE_STREAMING, true);
		pBlip->SetNetFlag(NETFLAG_ONLY_SYNC_IF_DETACHED, true);
		pBlip->SetNetFlag(NETFLAG_FIND_SYNCER, false);
		SetStreamDistances(pBlip, GetStreamInDistance(), GetStreamOutDistance());
		return pBlip;
	}
	case ELEMENT_PICKUP:
	{
		CServerPickup* pPickup = new CServerPickup(this);
		SetStillElementFlags(pPickup);
		SetStreamDistances(pPickup, m_Settings.m_fPickupStreamInDistance, m_Settings.m_fPickupStreamOutDistance);
		return pPickup;
	}
	case ELEMENT_MARKER:
	{
		CServerMarker* pMarker = new CServerMarker(this);
		SetStillElementFlags(pMarker);
		SetStreamDistances(pMarker, GetStreamInDistance(), GetStreamOutDistance());
		return pMarker;
	}
	default:
		return nullptr;
	}
}

bool CGTAServerManager::LoadMap(const CElementChunk* pMap, CResource* pResource)
{
	if (!pMap)
		return true;
	size_t Refused = 0;
	for (size_t i = 0; i < pMap->GetChildCount(); i++)
	{
		const CElementChunk* pElement = pMap->GetChildElement(i);
		if (!pElement)
			continue;
		const char* szModel = pElement->Attribute("model");
		Strong<CNetObject> pPlaced;
		if (IsTag(pElement, "vehicle"))
		{
			Strong<CServerVehicle> pVehicle = Strong<CServerVehicle>::New(static_cast<CServerVehicle*>(Create(ELEMENT_VEHICLE)));
			const char* szAngle = pElement->Attribute("angle");
			if (!szAngle)
				szAngle = pElement->Attribute("rotZ");
			const float fAngle = szAngle ? static_cast<float>(strtod(szAngle, nullptr) / 180.0 * M_PI) : 0.0f;
			CMatrix4x4 Matrix;
			Matrix.SetRotateZ(fAngle);
			pVehicle->SetMatrix(Matrix);
			pVehicle->SetPosition(ReadMapPosition(pElement));
			if (szModel)
				pVehicle->SetModelIndex(static_cast<int32_t>(strtol(szModel, nullptr, 10)));
			pPlaced = pVehicle.GetPointer();
		}
		else if (IsTag(pElement, "pickup"))
		{
			Strong<CServerPickup> pPickup = Strong<CServerPickup>::New(static_cast<CServerPickup*>(Create(ELEMENT_PICKUP)));
			pPickup->SetPosition(ReadMapPosition(pElement));
			if (szModel)
				pPickup->m_iModel = static_cast<int32_t>(strtol(szModel, nullptr, 10));
			pPlaced = pPickup.GetPointer();
		}
		if (pPlaced.IsNull())
			continue;
		pPlaced->SetResource(pResource);
		// A full element table leaves the map's later elements out; the resource still starts, and the operator
		// is told how many were left out.
		if (!RegisterNetObject(pPlaced))
			Refused++;
	}
	if (Refused > 0)
	{
		if (Context* pLog = GetBaseServer()->GetContext())
			pLog->LogWarn("Map %s of resource %s: %zu of its elements could not be placed, the element table is full",
				pResource ? pResource->GetLoadingMap() : "", pResource ? pResource->GetName() : "", Refused);
	}
	return true;
}

void CGTAServerManager::FindPickupSyncers()
{
	// Runs every frame: the joined clients are gathered once, in slot order, rather than every client slot being
	// asked again for each pickup without a syncer.
	INetMachine* rgpCandidates[MAX_NET_MACHINES];
	size_t CandidateCount = 0;
	for (INetMachine* pClient : Clients(CLIENTS_JOINED_GAME))
		rgpCandidates[CandidateCount++] = pClient;
	if (CandidateCount == 0)
		return;
	// A pickup that no client slot has is created for no candidate, so only the held ones can get a syncer.
	for (size_t Slot : HeldSlots())
	{
		CNetObject* pPickup = GetObjectAt(Slot);
		if (!pPickup || !pPickup->IsType(ELEMENT_PICKUP) || pPickup->GetSyncer() || pPickup->IsLocal())
			continue;
		for (size_t i = 0; i < CandidateCount; i++)
		{
			if (pPickup->IsCreatedFor(rgpCandidates[i]))
			{
				pPickup->SetSyncer(rgpCandidates[i]);
				break;
			}
		}
	}
}

bool CGTAServerManager::IsAnythingBlocking(const CVector3D& vecPosition) const
{
	for (size_t Slot : UsedSlots())
	{
		CNetObject* pElement = GetObjectAt(Slot);
		CVector3D vecElement;
		if (pElement && pElement->IsType(ELEMENT_ENTITY) && pElement->GetPosition(vecElement) &&
			vecElement.distance(vecPosition) < BLOCKING_DISTANCE)
			return true;
	}
	return false;
}
