#pragma once
// The server specialised for the GTA games: the game's own configuration keys, its define header, its default
// vehicle colours and the games table.

#include "BaseServer.h"
#include "NetGamesList.h"
#include "VehicleColours.h"

class CGTAServer : public CBaseServer
{
public:
	enum
	{
		NETWORK_VERSION = 28,
	};

	explicit CGTAServer(Context* pContext);
	~CGTAServer() override;

	bool ParseConfig(const CServerConfiguration& Config) override;
	void OnProcess(const FrameTimeInfo* pFrameInfo) override;

	// Adds one file of the client file check.
	bool AddFileToAnticheat(const char* szPath, const char* szSource);

	CVehicleColours& GetVehicleColours() { return m_VehicleColours; }
	float GetPickupStreamInDistance() const { return m_fPickupStreamInDistance; }
	float GetPickupStreamOutDistance() const { return m_fPickupStreamOutDistance; }
	float GetMinuteDuration() const { return m_fMinuteDuration; }

protected:
	const CNetGamesList* GetGamesList() const override { return &m_GamesList; }

private:
	void DefineConstants();
	void ParseAnticheat(const CServerConfiguration& Config);
	void LoadDefineHeader();
	bool LoadVehicleColours();
	// Hook: the world clock and weather step of each pass.
	void ProcessWorld(const FrameTimeInfo& FrameInfo);

	float m_fPickupStreamInDistance;
	float m_fPickupStreamOutDistance;
	bool m_bSyncLocalEntities;
	bool m_bTimeSync;
	bool m_bWeatherSync;
	bool m_bIVNativeMultiplayer;
	int32_t m_iIVGameMode;
	int32_t m_iIVEpisode;
	float m_fMinuteDuration;
	CNetGamesList m_GamesList;
	CVehicleColours m_VehicleColours;
};
