#include "ServerTrain.h"

#include "GameElementManager.h"

#include "Network/BinaryStream.h"

CServerTrain::CServerTrain(CGameElementManager* pManager) :
	CServerVehicle(pManager),
	m_ucTrack(0),
	m_bTrainFlag(false),
	m_bDerailed(false),
	m_bHeadlights(true),
	m_bTaillights(true),
	m_fTrackPosition(0.0f),
	m_fSpeed(0.0f)
{
	SetType(ELEMENT_TRAIN);
}

CServerTrain::~CServerTrain() = default;

ReflectedClass* CServerTrain::GetReflectedClass()
{
	return Elements::GetClass(this, ELEMENT_CLASS_TRAIN);
}

uint8_t CServerTrain::GetTrainFlags() const
{
	return static_cast<uint8_t>((m_bTrainFlag ? TRAIN_FLAG_TRAIN : 0) | (m_bDerailed ? TRAIN_FLAG_DERAILED : 0) |
		(m_bHeadlights ? TRAIN_FLAG_HEADLIGHTS : 0) | (m_bTaillights ? TRAIN_FLAG_TAILLIGHTS : 0));
}

bool CServerTrain::WriteCreatePacket(Stream* pStream)
{
	CBinaryWriter Writer(pStream);
	return CServerVehicle::WriteCreatePacket(pStream) && Writer.WriteUInt8(GetTrainFlags()) &&
		Writer.WriteUInt8(m_ucTrack);
}

bool CServerTrain::ReadCreatePacket(Stream* pStream)
{
	if (!CServerVehicle::ReadCreatePacket(pStream))
		return false;
	CBinaryReader Reader(pStream);
	uint8_t ucFlags = 0;
	uint8_t ucTrack = 0;
	if (!Reader.ReadUInt8(&ucFlags) || !Reader.ReadUInt8(&ucTrack))
		return false;
	m_bTrainFlag = (ucFlags & TRAIN_FLAG_TRAIN) != 0;
	m_bDerailed = (ucFlags & TRAIN_FLAG_DERAILED) != 0;
	m_bHeadlights = (ucFlags & TRAIN_FLAG_HEADLIGHTS) != 0;
	m_bTaillights = (ucFlags & TRAIN_FLAG_TAILLIGHTS) != 0;
	m_ucTrack = ucTrack;
	return true;
}

bool CServerTrain::WriteSyncPacket(Stream* pStream)
{
	CBinaryWriter Writer(pStream);
	if (!Writer.WriteUInt8(GetTrainFlags()))
		return false;
	if (m_bDerailed)
		return CServerPhysical::WriteSyncPacket(pStream);
	return Writer.WriteSingle(m_fTrackPosition) && Writer.WriteSingle(m_fSpeed);
}

bool CServerTrain::ReadSyncPacket(Stream* pStream)
{
	CBinaryReader Reader(pStream);
	uint8_t ucFlags = 0;
	if (!Reader.ReadUInt8(&ucFlags))
		return false;
	// Only the derailed bit comes from the syncer; the lights and the train flag are the server's.
	const bool bDerailed = (ucFlags & TRAIN_FLAG_DERAILED) != 0;
	if (bDerailed)
	{
		if (!CServerPhysical::ReadSyncPacket(pStream))
			return false;
	}
	else
	{
		float rgfTrack[2];
		if (!Reader.ReadSingle(rgfTrack, 2))
			return false;
		m_fTrackPosition = rgfTrack[0];
		m_fSpeed = rgfTrack[1];
	}
	m_bDerailed = bDerailed;
	return true;
}
