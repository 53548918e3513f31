#pragma once
// The ped of a connected client. Its syncer is its client; driving a vehicle makes that client the vehicle's
// syncer too.

#include <cstdint>

#include "ServerPed.h"

class CServerPlayer : public CServerPed
{
public:
	enum
	{
		PLAYER_SYNC_BLOCK_SIZE = 48,
	};

	explicit CServerPlayer(CGameElementManager* pManager);
	~CServerPlayer() override;

	ReflectedClass* GetReflectedClass() override;
	// The ped's block, then on every game but GTA IV the player's own fields.
	bool ReadSyncPacket(Stream* pStream) override;
	bool WriteSyncPacket(Stream* pStream) override;
	// Also tells the holders, once the player is registered.
	bool SetPosition(const CVector3D& vecPosition) override;

	uint16_t m_usPlayerSyncWord;
	uint8_t m_rgucPlayerSyncBlock[PLAYER_SYNC_BLOCK_SIZE];
	uint32_t m_uiPlayerSyncValue;
	bool m_bPlayerSyncFlag;
	uint16_t m_usPlayerSyncCode;

private:
	// A driver's client syncs the vehicle it drives.
	void TakeVehicleSync();
};
