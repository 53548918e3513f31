#include "ServerPhysical.h"

#include "GameElementManager.h"

#include "Network/BinaryStream.h"

CServerPhysical::CServerPhysical(CGameElementManager* pManager) :
	CServerEntity(pManager)
{
	SetType(ELEMENT_PHYSICAL);
}

CServerPhysical::~CServerPhysical() = default;

bool CServerPhysical::WriteSyncPacket(Stream* pStream)
{
	CBinaryWriter Writer(pStream);
	return CServerEntity::WriteSyncPacket(pStream) && Writer.WriteVector3D(m_vecVelocity) &&
		Writer.WriteVector3D(m_vecTurnVelocity);
}

bool CServerPhysical::ReadSyncPacket(Stream* pStream)
{
	float rgfVelocities[6];
	if (!CServerEntity::ReadSyncPacket(pStream) || !CBinaryReader(pStream).ReadSingle(rgfVelocities, 6))
		return false;
	m_vecVelocity = CVector3D(rgfVelocities[0], rgfVelocities[1], rgfVelocities[2]);
	m_vecTurnVelocity = CVector3D(rgfVelocities[3], rgfVelocities[4], rgfVelocities[5]);
	return true;
}
