#pragma once
// The game's element manager: the server's replication manager plus the game's element factory, the loading of
// map files, the game's script classes and event types, and the world. The game server hands it its settings and
// its vehicle colour table; the elements and the world see only its base, CGameElementManager.

#include "World.h"

#include "Elements/GameElementManager.h"

#include "Engine/KestrinReference.h"

class ReflectedNamespace;
struct tGameSettings;

class CGTAServerManager : public CGameElementManager
{
public:
	static constexpr float BLOCKING_DISTANCE = 10.0f;

	// The settings and the colour table are the game server's, which outlives its manager.
	CGTAServerManager(CBaseServer* pServer, CResourceMgr* pResourceMgr, tGameSettings& Settings,
		const CVehicleColours& VehicleColours);
	~CGTAServerManager() override;

	// A new element of the type (one reference, the caller's), not registered; null for a type the game has no
	// class for.
	CNetObject* Create(int iType) override;
	// Places the vehicles and pickups of a resource's map file; they belong to the resource. Other tags are
	// skipped. Always true.
	bool LoadMap(const CElementChunk* pMap, CResource* pResource) override;

	// A pickup keeps no syncer of its own choosing: when its syncer left or streamed it out, the first joined
	// client that still has it takes over, so collections can still be reported.
	void FindPickupSyncers();
	// Whether a registered entity stands closer than BLOCKING_DISTANCE to the position, where a client's random
	// traffic vehicle would appear inside it.
	bool IsAnythingBlocking(const CVector3D& vecPosition) const;

	CWorld* GetWorld() const { return m_pWorld; }
	// The game server's own configuration keys.
	tGameSettings& GetSettings() const { return m_Settings; }
	// The namespace "gta" (also "game") with the game's script classes; null without a script host.
	ReflectedNamespace* GetGameNamespace() const { return m_pGameNamespace; }

private:
	void CreateEventTypes();
	void CreateScriptClasses(ReflectedNamespace* pGame);
	void DefineConstants();

	tGameSettings& m_Settings;
	Strong<CWorld> m_pWorld;
	ReflectedNamespace* m_pGameNamespace;
};
