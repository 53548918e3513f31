#include "ServerPickup.h"

#include "GameElementManager.h"

#include "Network/BinaryStream.h"

CServerPickup::CServerPickup(CGameElementManager* pManager) :
	CNetObject(pManager),
	m_iModel(0),
	m_ucPickupType(DEFAULT_PICKUP_TYPE),
	m_iReserved(0)
{
	SetType(ELEMENT_PICKUP);
}

CServerPickup::~CServerPickup() = default;

ReflectedClass* CServerPickup::GetReflectedClass()
{
	return Elements::GetClass(this, ELEMENT_CLASS_PICKUP);
}

bool CServerPickup::SetPosition(const CVector3D& vecPosition)
{
	m_vecPosition = vecPosition;
	return true;
}

bool CServerPickup::GetPosition(CVector3D& vecPosition)
{
	vecPosition = m_vecPosition;
	return true;
}

bool CServerPickup::WriteCreatePacket(Stream* pStream)
{
	CBinaryWriter Writer(pStream);
	return CNetObject::WriteCreatePacket(pStream) && Writer.WriteVector3D(m_vecPosition) && Writer.WriteInt32(m_iModel) &&
		Writer.WriteUInt8(m_ucPickupType) && Writer.WriteInt32(m_iReserved);
}
