#pragma once
// The game's element manager as the element classes and the world see it: the server's replication manager plus
// what only the game knows (its script classes, its event types, the vehicle colour table), all of it plain data
// that the game's manager (CGTAServerManager, derived from this) fills. So the elements reach neither that
// manager's own code nor the game server, and this library links nothing of the server's.

#include "ElementTypes.h"
#include "ServerManager.h"

class CNetObject;
class CVehicleColours;
class ReflectedClass;

namespace EventHandlers
{
class CEventType;
}

// The game's event types, in the order the manager keeps them.
enum eGameEvent
{
	GAME_EVENT_PED_ENTER_VEHICLE,
	GAME_EVENT_PED_EXIT_VEHICLE,
	GAME_EVENT_PED_WASTED,
	GAME_EVENT_PED_SPAWN,
	GAME_EVENT_PED_FALL,
	GAME_EVENT_PED_JUMP,
	GAME_EVENT_PED_CROUCH,
	GAME_EVENT_PED_UNCROUCH,
	GAME_EVENT_PICKUP_COLLECTED,
	GAME_EVENT_COUNT,
};

class CGameElementManager : public CServerManager
{
public:
	// The colour table is the game server's, which outlives its manager.
	CGameElementManager(CBaseServer* pServer, CResourceMgr* pResourceMgr, const CVehicleColours& VehicleColours) :
		CServerManager(pServer, pResourceMgr), m_rgpScriptClasses(), m_rgpEventTypes(), m_VehicleColours(VehicleColours)
	{
	}

	// The game's script class of that kind; null without a script host.
	ReflectedClass* GetScriptClass(eElementClass eClass) const
	{
		return eClass >= 0 && eClass < ELEMENT_CLASS_COUNT ? m_rgpScriptClasses[eClass] : nullptr;
	}
	// Null without a script host.
	EventHandlers::CEventType* GetEventType(eGameEvent eEvent) const
	{
		return eEvent >= 0 && eEvent < GAME_EVENT_COUNT ? m_rgpEventTypes[eEvent] : nullptr;
	}
	// Whether the server runs GTA IV or EFLC, whose blocks differ from the other games'.
	bool IsGTAIV() const;
	// The server's stream distances, given to every new entity, blip and marker.
	float GetStreamInDistance() const;
	float GetStreamOutDistance() const;
	// The default colour sets of every vehicle model, from which a vehicle picks its colours.
	const CVehicleColours& GetVehicleColours() const { return m_VehicleColours; }

protected:
	// Made by the game's manager at its construction.
	ReflectedClass* m_rgpScriptClasses[ELEMENT_CLASS_COUNT];
	EventHandlers::CEventType* m_rgpEventTypes[GAME_EVENT_COUNT];

private:
	const CVehicleColours& m_VehicleColours;
};

namespace Elements
{
// The game manager an element was made with; null once that manager is gone.
CGameElementManager* GetGameManager(const CNetObject* pElement);
// Whether the element's server runs GTA IV or EFLC, whose blocks differ from the other games'.
bool IsGTAIV(const CNetObject* pElement);
// The manager's script class of that kind, or the element class of every element when the manager has none.
ReflectedClass* GetClass(CNetObject* pElement, eElementClass eClass);
}
