#pragma once
// The game's record of a connected client: the common client record plus whether it passed the client file
// check, its camera interior and its GTA IV network session. Also what the server does to one client: spawning
// its player, fading its camera, and arranging its GTA IV session.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "Engine/KestrinMath.h"
#include "Engine/KestrinReference.h"
#include "Multiplayer/NetMachine.h"

class CGTAServerManager;
class ReflectedNamespace;
class Stream;

class CGTAClient : public CNetMachine
{
public:
	enum
	{
		SESSION_INFO_SIZE = 256,
		// The length travels in one byte.
		MAX_SESSION_INFO_LENGTH = 255,
		// Elements one client may have made itself (messages 111 and 116) at a time, so that no client can fill
		// the server's element table.
		MAX_LOCAL_ELEMENTS = 1024,
	};

	explicit CGTAClient(CNetObjectMgr* pManager);
	~CGTAClient() override;

	bool IsVerified() const { return m_bVerified; }
	void SetVerified(bool bVerified) { m_bVerified = bVerified; }
	uint8_t GetCameraInterior() const { return m_ucCameraInterior; }
	// Without a message: what the client itself reports.
	void SetCameraInterior(uint8_t ucInterior) { m_ucCameraInterior = ucInterior; }
	// Stores the interior and tells the client (message 151).
	void ChangeCameraInterior(uint8_t ucInterior);

	// Whether the client still holds its slot. A record that a script kept after its client left has none, and
	// nothing may be given to it to sync.
	bool IsConnected() const;

	// Destroys the client's player and gives it a new one that it syncs, created for it at once. False, with the
	// client left without a player, when the new player cannot be registered.
	bool SpawnPlayer(const CVector3D& vecPosition, float fHeading, int32_t iSkin, uint8_t ucInterior,
		int32_t iDimension);

	// Message 108: a fade in or out over the duration; a colour of 0 leaves the game's own.
	void FadeCamera(bool bFadeIn, float fDuration, uint32_t uiColour);

	// GTA IV sessions: each stores the session values and tells the client where to go.
	void QuickMatch(int32_t iGameMode, int32_t iEpisode);
	void HostSession(int32_t iGameMode, int32_t iEpisode);
	// The host's game mode and episode, and the host's index.
	void JoinSession(CGTAClient* pHost);
	// No session of the game's own: message 134 with the episode.
	void HostVexa();

	// At most MAX_SESSION_INFO_LENGTH bytes are kept.
	void SetSessionInfo(const uint8_t* pData, size_t Length);
	void ClearSessionInfo();
	// The has-info byte, then when set the length byte and the bytes.
	bool WriteSessionInfo(Stream* pStream) const;

	// The elements this client made itself that still exist.
	size_t CountLocalElements();
	void AddLocalElement(CNetObject* pElement);

	int32_t m_iSessionGameMode;
	int32_t m_iEpisode;
	bool m_bHasSessionInfo;
	uint64_t m_ulSessionInfoLength;
	uint8_t m_rgucSessionInfo[SESSION_INFO_SIZE];

private:
	void SendSessionMessage(unsigned uiId, int32_t iGameMode, int32_t iEpisode, const int32_t* piHost);

	bool m_bVerified;
	uint8_t m_ucCameraInterior;
	// Weak: an element that is destroyed drops out by itself.
	std::vector<Weak<CNetObject>> m_LocalElements;
};

// The script functions that act on one client, registered at their places among the game's functions; each
// native gets the game's element manager as its user data.
namespace GTAClientFunctions
{
// fadeCamera in the global namespace (obsolete) and in the game's, then spawnPlayer in the global namespace.
void RegisterCameraAndSpawn(CGTAServerManager* pManager, ReflectedNamespace* pGame);
// quickMatch, hostSession and joinSession in the game's namespace.
void RegisterSessions(CGTAServerManager* pManager, ReflectedNamespace* pGame);
// The property cameraInterior of the class Client.
void RegisterClientMembers(CGTAServerManager* pManager);
}
