#include "ServerBlip.h"

#include "GameElementManager.h"

#include "Network/BinaryStream.h"

CServerBlip::CServerBlip(CGameElementManager* pManager) :
	CNetObject(pManager),
	m_ucFlags(DEFAULT_BLIP_FLAGS),
	m_ucSize(3),
	m_iIconOrColour(DEFAULT_BLIP_COLOUR)
{
	SetType(ELEMENT_BLIP);
}

CServerBlip::~CServerBlip() = default;

ReflectedClass* CServerBlip::GetReflectedClass()
{
	return Elements::GetClass(this, ELEMENT_CLASS_BLIP);
}

bool CServerBlip::SetPosition(const CVector3D& vecPosition)
{
	m_vecPosition = vecPosition;
	return true;
}

bool CServerBlip::GetPosition(CVector3D& vecPosition)
{
	CNetObject* pParent = GetParent();
	if (pParent && pParent->IsType(ELEMENT_TRANSFORMABLE))
		return pParent->GetPosition(vecPosition);
	vecPosition = m_vecPosition;
	return true;
}

bool CServerBlip::WriteCreatePacket(Stream* pStream)
{
	CVector3D vecPosition;
	GetPosition(vecPosition);
	CBinaryWriter Writer(pStream);
	return CNetObject::WriteCreatePacket(pStream) && Writer.WriteVector3D(vecPosition) && Writer.WriteUInt8(m_ucFlags) &&
		Writer.WriteUInt8(m_ucSize) && Writer.WriteInt32(m_iIconOrColour);
}

bool CServerBlip::WriteSyncPacket(Stream* pStream)
{
	CVector3D vecPosition;
	GetPosition(vecPosition);
	return CNetObject::WriteSyncPacket(pStream) && CBinaryWriter(pStream).WriteVector3D(vecPosition);
}

bool CServerBlip::ReadSyncPacket(Stream* pStream)
{
	float rgfPosition[3];
	if (!CNetObject::ReadSyncPacket(pStream) || !CBinaryReader(pStream).ReadSingle(rgfPosition, 3))
		return false;
	// An attached blip follows its parent: what a client says of its position does not count.
	if (!GetParent())
		SetPosition(CVector3D(rgfPosition[0], rgfPosition[1], rgfPosition[2]));
	return true;
}
