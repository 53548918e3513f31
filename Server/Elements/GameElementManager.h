#pragma once
// The game's element manager as the element classes and the world see it: the server's replication manager plus
// what only the game knows. The game's manager (CGTAServerManager) is the one that implements it, so the elements
// reach neither that manager's own code nor the game server.

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
	using CServerManager::CServerManager;

	// The game's script class of that kind; null without a script host.
	virtual ReflectedClass* GetScriptClass(eElementClass eClass) const = 0;
	// Null without a script host.
	virtual EventHandlers::CEventType* GetEventType(eGameEvent eEvent) const = 0;
	// Whether the server runs GTA IV or EFLC, whose blocks differ from the other games'.
	virtual bool IsGTAIV() const = 0;
	// Given to every new entity, blip and marker.
	virtual float GetStreamInDistance() const = 0;
	virtual float GetStreamOutDistance() const = 0;
	// The default colour sets of every vehicle model, from which a vehicle picks its colours.
	virtual const CVehicleColours& GetVehicleColours() const = 0;
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
