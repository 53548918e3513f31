#pragma once
// An element with a position, standing in for the game's element classes (the server tests' elements, the load
// tool's players): its create and sync blocks are the replicated part followed by the position as three floats.

#include "Multiplayer/NetObject.h"
#include "Network/BinaryStream.h"

namespace VexaTest
{
class CTestElement : public CNetObject
{
public:
	CTestElement(CNetObjectMgr* pManager, uint32_t uiType) : CNetObject(pManager) { SetType(uiType); }

	bool SetPosition(const CVector3D& vecPosition) override
	{
		m_vecPosition = vecPosition;
		return true;
	}
	bool GetPosition(CVector3D& vecPosition) override
	{
		vecPosition = m_vecPosition;
		return true;
	}
	bool WriteCreatePacket(Stream* pStream) override
	{
		return CNetObject::WriteCreatePacket(pStream) && CBinaryWriter(pStream).WriteVector3D(m_vecPosition);
	}
	bool WriteSyncPacket(Stream* pStream) override
	{
		return CNetObject::WriteSyncPacket(pStream) && CBinaryWriter(pStream).WriteVector3D(m_vecPosition);
	}
	bool ReadSyncPacket(Stream* pStream) override
	{
		float rgfPosition[3];
		if (!CNetObject::ReadSyncPacket(pStream) || !CBinaryReader(pStream).ReadSingle(rgfPosition, 3))
			return false;
		m_vecPosition = CVector3D(rgfPosition[0], rgfPosition[1], rgfPosition[2]);
		return true;
	}

	CVector3D m_vecPosition;
};
}
