#pragma once
// Something lying in the game world for players to collect. Clients report a collection; the server does not
// change the pickup for it.

#include <cstdint>

#include "ElementTypes.h"

#include "Multiplayer/NetObject.h"

class CGameElementManager;

class CServerPickup : public CNetObject
{
public:
	enum : uint8_t
	{
		DEFAULT_PICKUP_TYPE = 2,
	};

	explicit CServerPickup(CGameElementManager* pManager);
	~CServerPickup() override;

	ReflectedClass* GetReflectedClass() override;
	// The replicated part, then position, model, pickup type and the reserved value; written only, clients never
	// create pickups.
	bool WriteCreatePacket(Stream* pStream) override;
	bool SetPosition(const CVector3D& vecPosition) override;
	bool GetPosition(CVector3D& vecPosition) override;

	CVector3D m_vecPosition;
	int32_t m_iModel;
	uint8_t m_ucPickupType;
	// Sent as it is; nothing changes it.
	int32_t m_iReserved;
};
