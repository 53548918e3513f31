#pragma once
// The server's link to the server-listing service, so that players can find it: a WebSocket client that sends a
// full description of the server and its clients once connected, then keeps the service told of clients joining
// and leaving and of name and game-mode changes, reconnects after failures, and logs what the service says.
//
// Messages have no header: a 7-bit-encoded message type, then the fields (numbers 7-bit-encoded, wire strings).
//   0 server -> listing  server information (BuildServerInfo)
//   1 server -> listing  {client index, name, game name}, a client was accepted
//   2 server -> listing  {client index}, a client left
//   3 server -> listing  {game mode}
//   4 server -> listing  {server name}
//   5 listing -> server  {log level, text}, logged as it is
//
// Main thread only: pulsed by the main loop under the server lock.

#include <cstddef>
#include <cstdint>

#include "Network/WebConnection.h"

class CBaseServer;
class CNetMachine;

enum eMasterlistState
{
	// Not connected; the retry timer counts down to the next attempt.
	MASTERLIST_WAITING = 0,
	MASTERLIST_CONNECTING = 1,
	MASTERLIST_CONNECTED = 2,
	// The connection failed or ended; reported at the next pulse.
	MASTERLIST_CLOSED = 3,
};

enum eMasterlistMessage : unsigned
{
	MASTERLIST_SERVER_INFO = 0,
	MASTERLIST_PLAYER_ADD = 1,
	MASTERLIST_PLAYER_REMOVE = 2,
	MASTERLIST_GAME_MODE = 3,
	MASTERLIST_SERVER_NAME = 4,
	MASTERLIST_LOG = 5,
};

// The sub-protocol the service speaks.
constexpr char MASTERLIST_PROTOCOL[] = "ws_serverlisting3";

class CMasterlistAnnouncer : public WebConnection
{
public:
	// Seconds until the next attempt after one that started, and after one that could not even start.
	static constexpr float RETRY_DELAY = 5.0f;
	static constexpr float FAILED_START_RETRY_DELAY = 30.0f;

	explicit CMasterlistAnnouncer(CBaseServer* pServer);

	// One step of the state machine, with the frame's delta time in seconds. The first pulse connects.
	void Pulse(float fDelta);

	// Messages 1 to 4; sent only once connected, since message 0 carries everything up to then.
	void PlayerAdd(CNetMachine* pClient);
	void PlayerRemove(CNetMachine* pClient);
	void SetGameMode(const char* szGameMode, size_t Length);
	void SetName(const char* szName, size_t Length);

	eMasterlistState GetState() const { return m_eState; }
	float GetRetryTimer() const { return m_fRetryTimer; }

	// Message 0: flags, version, game, network version, port, maximum players, player count, every occupied
	// client slot, server name, game mode and the first three numbers of the minimum client version.
	static void BuildServerInfo(CBaseServer* pServer, Packet& Message);

protected:
	// Frames are read in the listing's own framing; every other event takes the base routing.
	int EventHandler(lws* pConnection, const tWebEvent& Event) override;
	void ProcessPacket(lws* pConnection, unsigned uiType, Stream* pStream) override;
	void OnPlayerConnect(lws* pConnection) override;
	void OnPlayerDisconnect(lws* pConnection) override;

private:
	void ChangeState(eMasterlistState eState);
	void SendUpdate(Packet& Message);
	void LogServiceMessage(Stream* pStream);

	CBaseServer* m_pServer;
	float m_fRetryTimer;
	eMasterlistState m_ePreviousState;
	eMasterlistState m_eState;
};
