#pragma once
// The game's record of a connected client: the common client record plus whether it passed the client file
// check, its camera interior and its GTA IV network session.

#include <cstddef>
#include <cstdint>

#include "Multiplayer/NetMachine.h"

class CGTAClient : public CNetMachine
{
public:
	enum
	{
		SESSION_INFO_SIZE = 256,
	};

	explicit CGTAClient(CNetObjectMgr* pManager);
	~CGTAClient() override;

	bool IsVerified() const { return m_bVerified; }
	void SetVerified(bool bVerified) { m_bVerified = bVerified; }
	uint8_t GetCameraInterior() const { return m_ucCameraInterior; }
	void SetCameraInterior(uint8_t ucInterior) { m_ucCameraInterior = ucInterior; }

	int32_t m_iSessionGameMode;
	int32_t m_iEpisode;
	bool m_bHasSessionInfo;
	uint64_t m_ulSessionInfoLength;
	uint8_t m_rgucSessionInfo[SESSION_INFO_SIZE];

private:
	bool m_bVerified;
	uint8_t m_ucCameraInterior;
};
