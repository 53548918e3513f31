#include "ServerEntity.h"

#include <cmath>
#include <cstring>

#include "GameElementManager.h"

#include "Network/BinaryStream.h"
#include "Network/Packet.h"

bool tRawSyncBlock::Write(Stream* pStream) const
{
	CBinaryWriter Writer(pStream);
	if (!HasData())
		return Writer.WriteUInt16(0);
	return Writer.WriteUInt16(static_cast<uint16_t>(m_Length)) && Writer.Write(m_rgucData, m_Length);
}

bool tRawSyncBlock::Read(Stream* pStream)
{
	CBinaryReader Reader(pStream);
	uint16_t usLength = 0;
	if (!Reader.ReadUInt16(&usLength) || usLength > MAX_SIZE)
		return false;
	uint8_t rgucData[MAX_SIZE];
	if (!Reader.Read(rgucData, usLength))
		return false;
	memcpy(m_rgucData, rgucData, usLength);
	m_Length = usLength;
	return true;
}

CServerEntity::CServerEntity(CGameElementManager* pManager) :
	CNetObject(pManager),
	m_iPedSyncValue(-1),
	m_ucCreationKind(0),
	m_iClientLocalId(-1),
	m_iModelIndex(-1),
	m_ucInterior(0)
{
	SetType(ELEMENT_ENTITY);
	SetNetFlag(NETFLAG_FIND_SYNCER, true);
	SetNetFlag(NETFLAG_SEND_SYNC, true);
	SetNetFlag(NETFLAG_DISTANCE_STREAMING, true);
	if (pManager)
	{
		SetStreamInDistance(pManager->GetStreamInDistance());
		SetStreamOutDistance(pManager->GetStreamOutDistance());
	}
	m_Matrix.SetIdentity();
}

CServerEntity::~CServerEntity() = default;

ReflectedClass* CServerEntity::GetReflectedClass()
{
	return Elements::GetClass(this, ELEMENT_CLASS_ENTITY);
}

bool CServerEntity::WriteCreatePacket(Stream* pStream)
{
	CBinaryWriter Writer(pStream);
	return CNetObject::WriteCreatePacket(pStream) && Writer.WriteInt32(m_iModelIndex) &&
		Writer.WriteUInt8(m_ucInterior) && Writer.WriteUInt8(m_ucCreationKind);
}

bool CServerEntity::ReadCreatePacket(Stream* pStream)
{
	if (!CNetObject::ReadCreatePacket(pStream))
		return false;
	CBinaryReader Reader(pStream);
	int32_t iModel = 0;
	uint8_t ucInterior = 0;
	uint8_t ucCreationKind = 0;
	if (!Reader.ReadInt32(&iModel) || !Reader.ReadUInt8(&ucInterior) || !Reader.ReadUInt8(&ucCreationKind))
		return false;
	m_iModelIndex = iModel;
	m_ucInterior = ucInterior;
	m_ucCreationKind = ucCreationKind;
	return true;
}

bool CServerEntity::WriteSyncPacket(Stream* pStream)
{
	float rgfMatrix[CMatrix4x4::ENTRY_COUNT];
	m_Matrix.ToArray(rgfMatrix);
	return CNetObject::WriteSyncPacket(pStream) &&
		CBinaryWriter(pStream).WriteSingle(rgfMatrix, CMatrix4x4::ENTRY_COUNT);
}

bool CServerEntity::ReadSyncPacket(Stream* pStream)
{
	float rgfMatrix[CMatrix4x4::ENTRY_COUNT];
	if (!CNetObject::ReadSyncPacket(pStream) ||
		!CBinaryReader(pStream).ReadSingle(rgfMatrix, CMatrix4x4::ENTRY_COUNT))
		return false;
	m_Matrix.FromArray(rgfMatrix);
	return true;
}

bool CServerEntity::SetPosition(const CVector3D& vecPosition)
{
	m_Matrix.m41 = vecPosition.x;
	m_Matrix.m42 = vecPosition.y;
	m_Matrix.m43 = vecPosition.z;
	return true;
}

bool CServerEntity::GetPosition(CVector3D& vecPosition)
{
	vecPosition = CVector3D(m_Matrix.m41, m_Matrix.m42, m_Matrix.m43);
	return true;
}

void CServerEntity::SetRotationPart(const CMatrix4x4& Rotation)
{
	for (int i = 0; i < 12; i++)
		m_Matrix.SetAt(i, Rotation.GetAt(i));
}

bool CServerEntity::SetRotation(const CVector3D& vecRotation)
{
	CMatrix4x4 Rotation;
	Rotation.SetRotate(vecRotation);
	SetRotationPart(Rotation);
	return true;
}

bool CServerEntity::GetRotation(CVector3D& vecRotation)
{
	CQuaternion q;
	m_Matrix.CalculateRotation(q);
	vecRotation.x = std::atan2(2.0f * (q.w * q.x + q.y * q.z), 1.0f - 2.0f * (q.x * q.x + q.y * q.y));
	// At a pitch of exactly 90 degrees rounding can take the sine past 1, where asin has no answer.
	const float fSinPitch = 2.0f * (q.w * q.y - q.x * q.z);
	if (std::fabs(fSinPitch) >= 1.0f)
		vecRotation.y = std::copysign(static_cast<float>(M_PI) / 2.0f, fSinPitch);
	else
		vecRotation.y = std::asin(fSinPitch);
	vecRotation.z = std::atan2(2.0f * (q.w * q.z + q.x * q.y), 1.0f - 2.0f * (q.y * q.y + q.z * q.z));
	return true;
}

void CServerEntity::SetHeading(float fHeading)
{
	CMatrix4x4 Rotation;
	Rotation.SetRotateZ(fHeading);
	SetRotationPart(Rotation);
}

float CServerEntity::GetHeading()
{
	return std::atan2(m_Matrix.m12, m_Matrix.m11);
}

void CServerEntity::SetModelIndex(int32_t iModel)
{
	m_iModelIndex = iModel;
	if (IsLocal())
		return;
	Packet Message(ELEMENT_MESSAGE_MODEL);
	Elements::BeginMessage(this, Message);
	CBinaryWriter(&Message).WriteInt32(iModel);
	Elements::SendToHolders(this, Message);
}

void CServerEntity::SetInterior(uint8_t ucInterior)
{
	m_ucInterior = ucInterior;
	if (IsLocal())
		return;
	Packet Message(ELEMENT_MESSAGE_INTERIOR);
	Elements::BeginMessage(this, Message);
	CBinaryWriter(&Message).WriteUInt8(ucInterior);
	Elements::SendToHolders(this, Message);
}
