#pragma once
// The game server's own configuration keys, read after the base server's. The game server owns them and hands
// them to its element manager, through which the world, the game messages and the script functions read them;
// scripts change the pickup stream distances.

#include <cstdint>

struct tGameSettings
{
	// Given to every new pickup.
	float m_fPickupStreamInDistance = 50.0f;
	float m_fPickupStreamOutDistance = 100.0f;
	// Vehicles and peds that clients create themselves are accepted (messages 111 and 116).
	bool m_bSyncLocalEntities = false;
	// The game clock and the weather are sent to clients.
	bool m_bTimeSync = true;
	bool m_bWeatherSync = true;
	// GTA IV: the game's own network sessions are used.
	bool m_bIVNativeMultiplayer = false;
	// The GTA IV session game mode and episode forced on joining clients; -1 for none.
	int32_t m_iIVGameMode = 8;
	int32_t m_iIVEpisode = -1;
};
