#pragma once
// The game state that belongs to no element: the game clock, the weather, the world timer and the GTA III
// bridge. The server advances it every pass, sends it whole to every new client and keeps the clients in step:
// changes go out on the next pass, and everything is sent again every ten seconds.

#include <cstdint>

#include "GameClock.h"

#include "Engine/BaseObject.h"

class CBaseServer;
class CGameElementManager;
class CNetMachine;
class ReflectedNamespace;
struct tGameSettings;

enum eWorldMessage : uint32_t
{
	WORLD_MESSAGE_CLOCK = 103,
	WORLD_MESSAGE_WEATHER = 104,
	WORLD_MESSAGE_TIMER = 109,
	WORLD_MESSAGE_SSV_BRIDGE = 110,
	WORLD_MESSAGE_MINUTE_DURATION = 130,
};

class CWorld : public CBaseObject
{
public:
	// Seconds between two full resynchronisations of every client.
	static constexpr double RESYNC_INTERVAL = 10.0;

	// The settings say whether the clock and the weather are sent; without them neither is.
	explicit CWorld(CGameElementManager* pManager, const tGameSettings* pSettings = nullptr);
	~CWorld() override;

	CWorld(const CWorld&) = delete;
	CWorld& operator=(const CWorld&) = delete;

	// The game's class "World".
	ReflectedClass* GetReflectedClass() override;

	// The script members, in the game's namespace and its namespace "time".
	void RegisterFunctions(ReflectedNamespace* pGame);

	// Once a pass with the pass's delta in seconds.
	void Process(double dDelta);
	// Everything a client needs when it has finished joining.
	void SyncClient(CNetMachine* pClient);

	void SyncClock(CNetMachine* pClient);
	void SyncWeather(CNetMachine* pClient, bool bForced);
	void SyncTimer(CNetMachine* pClient);
	void SyncMinuteDuration(CNetMachine* pClient);
	void SyncSSVBridge(CNetMachine* pClient);

	// What scripts change; each takes effect for the clients as the script members describe.
	void SetWeather(uint8_t ucWeather);
	void ForceWeather(uint8_t ucWeather);
	uint8_t GetWeather() const { return m_ucWeather; }
	bool IsWeatherForced() const { return m_bForced; }
	// False, with a warning and the old value kept, for a duration that is not finite and above zero.
	bool SetMinuteDuration(double dSeconds, bool bSendToClients);
	void SetHour(int64_t iHour);
	void SetMinute(int64_t iMinute);
	bool SetSecond(double dSecond);
	void SetDay(int32_t iDay) { m_Clock.SetDay(iDay); }
	void SetSSVBridgeEnabled(bool bEnabled);
	bool IsSSVBridgeEnabled() const { return m_iBridgeState != 0; }

	CGameClock& GetClock() { return m_Clock; }
	int64_t GetTimer() const { return m_iTimer; }
	int64_t GetBridgeState() const { return m_iBridgeState; }
	bool IsClockDirty() const { return m_bClockDirty; }
	bool IsWeatherDirty() const { return m_bWeatherDirty; }

	CGameElementManager* GetManager() const { return m_pManager; }

private:
	CBaseServer* GetServer() const;
	// Every client of the server's game in the slots below maxplayers.
	template <class TSend>
	void ForAllClients(TSend Send);

	CGameElementManager* m_pManager;
	const tGameSettings* m_pSettings;
	uint8_t m_ucWeather;
	bool m_bForced;
	bool m_bWeatherDirty;
	CGameClock m_Clock;
	bool m_bClockDirty;
	int32_t m_iLastTicks;
	int64_t m_iTimer;
	int64_t m_iBridgeState;
	double m_dResyncTime;
};
