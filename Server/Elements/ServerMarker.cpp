#include "ServerMarker.h"

#include "GameElementManager.h"

#include "Network/BinaryStream.h"

CServerMarker::CServerMarker(CGameElementManager* pManager) :
	CNetObject(pManager),
	m_fRadius(1.0f)
{
	SetType(ELEMENT_MARKER);
}

CServerMarker::~CServerMarker() = default;

ReflectedClass* CServerMarker::GetReflectedClass()
{
	return Elements::GetClass(this, ELEMENT_CLASS_MARKER);
}

bool CServerMarker::SetPosition(const CVector3D& vecPosition)
{
	m_vecPosition = vecPosition;
	return true;
}

bool CServerMarker::GetPosition(CVector3D& vecPosition)
{
	vecPosition = m_vecPosition;
	return true;
}

bool CServerMarker::WriteCreatePacket(Stream* pStream)
{
	CBinaryWriter Writer(pStream);
	return CNetObject::WriteCreatePacket(pStream) && Writer.WriteVector3D(m_vecPosition) && Writer.WriteSingle(m_fRadius);
}
