#pragma once
// The server specialised for the GTA games: the game's own configuration keys, its define header, its default
// vehicle colours, the games table, the client file check, the game's client records, and the world clock. Its
// construction completes the server's: the script languages, then the element manager and the game's functions.

#include <cstdint>
#include <string>
#include <vector>

#include "BaseServer.h"
#include "GameSettings.h"
#include "NetGamesList.h"
#include "Peer2PeerSystem.h"

#include "Elements/VehicleColours.h"

class CGTAClient;
class CGTAServerManager;
class CWorld;

// One file of the client file check: the path the client checks in its game folder, the server's copy and the
// MD5 digest of that copy as four little-endian words.
struct tAnticheatFile
{
	std::string m_GamePath;
	std::string m_SourcePath;
	uint32_t m_rguiDigest[4];
};

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
	// The gate: no record, only the join request; not verified, only the file check answer; verified, anything
	// but the file check answer. Then the client's own elements and the game messages, or the base handler.
	void ProcessPacket(const tPeerInfo& Peer, unsigned uiId, Stream* pStream) override;
	CNetMachine* NewMachine(CServerManager* pManager) override;
	// Vehicles stream in before everything else.
	void ManageElements(CNetMachine* pClient) override;
	// Sends the client file check request.
	void OnPlayerJoin(CNetMachine* pClient) override;
	// Sends the world to the new client.
	void OnPlayerJoined(CNetMachine* pClient) override;

	// Adds one file of the client file check.
	bool AddFileToAnticheat(const char* szPath, const char* szSource);
	const std::vector<tAnticheatFile>& GetAnticheatFiles() const { return m_AnticheatFiles; }

	CVehicleColours& GetVehicleColours() { return m_VehicleColours; }
	float GetPickupStreamInDistance() const { return m_Settings.m_fPickupStreamInDistance; }
	float GetPickupStreamOutDistance() const { return m_Settings.m_fPickupStreamOutDistance; }
	void SetPickupStreamInDistance(float fDistance) { m_Settings.m_fPickupStreamInDistance = fDistance; }
	void SetPickupStreamOutDistance(float fDistance) { m_Settings.m_fPickupStreamOutDistance = fDistance; }
	bool IsTimeSync() const { return m_Settings.m_bTimeSync; }
	bool IsWeatherSync() const { return m_Settings.m_bWeatherSync; }
	bool IsSyncLocalEntities() const { return m_Settings.m_bSyncLocalEntities; }
	bool IsIVNativeMultiplayer() const { return m_Settings.m_bIVNativeMultiplayer; }
	bool IsGTAIV() const { return IsGTAIVGame(GetGameId()); }
	int32_t GetIVGameMode() const { return m_Settings.m_iIVGameMode; }
	int32_t GetIVEpisode() const { return m_Settings.m_iIVEpisode; }
	CGTAServerManager* GetGTAManager() const;
	CWorld* GetWorld() const;

protected:
	const CNetGamesList* GetGamesList() const override { return &m_GamesList; }

private:
	void ParseAnticheat(const CServerConfiguration& Config);
	void LoadDefineHeader();
	bool LoadVehicleColours();
	// The client's answer to the file check; true when it verified the client.
	bool ProcessFileCheck(CGTAClient* pClient, void* pPeer, Stream* pStream);

	std::vector<tAnticheatFile> m_AnticheatFiles;
	// Handed to the element manager, through which the rest of the game reads them.
	tGameSettings m_Settings;
	CNetGamesList m_GamesList;
	CVehicleColours m_VehicleColours;
	CPeer2PeerSystem m_Peer2Peer;
};
