#pragma once
// An entity that moves: the entity plus its velocity and turn velocity.

#include "ServerEntity.h"

class CServerPhysical : public CServerEntity
{
public:
	explicit CServerPhysical(CGameElementManager* pManager);
	~CServerPhysical() override;

	// The entity's block, then velocity and turn velocity.
	bool ReadSyncPacket(Stream* pStream) override;
	bool WriteSyncPacket(Stream* pStream) override;

	CVector3D m_vecVelocity;
	CVector3D m_vecTurnVelocity;
};
