#include "ServerPlayer.h"

#include <cstring>

#include "GameElementManager.h"
#include "ServerVehicle.h"

#include "Network/BinaryStream.h"
#include "Network/Packet.h"

CServerPlayer::CServerPlayer(CGameElementManager* pManager) :
	CServerPed(pManager),
	m_usPlayerSyncWord(0),
	m_rgucPlayerSyncBlock(),
	m_uiPlayerSyncValue(0),
	m_bPlayerSyncFlag(true),
	m_usPlayerSyncCode(4)
{
	SetType(ELEMENT_PLAYER);
	SetNetFlag(NETFLAG_ALWAYS_EXIST_FOR_SYNCER, true);
}

CServerPlayer::~CServerPlayer() = default;

ReflectedClass* CServerPlayer::GetReflectedClass()
{
	return Elements::GetClass(this, ELEMENT_CLASS_PLAYER);
}

bool CServerPlayer::WriteSyncPacket(Stream* pStream)
{
	if (!CServerPed::WriteSyncPacket(pStream))
		return false;
	if (Elements::IsGTAIV(this))
		return true;
	CBinaryWriter Writer(pStream);
	return Writer.WriteUInt16(m_usPlayerSyncWord) && Writer.Write(m_rgucPlayerSyncBlock, PLAYER_SYNC_BLOCK_SIZE) &&
		Writer.WriteUInt32(m_uiPlayerSyncValue) && Writer.WriteUInt8(m_bPlayerSyncFlag ? 1 : 0) &&
		Writer.WriteUInt16(m_usPlayerSyncCode);
}

bool CServerPlayer::ReadSyncPacket(Stream* pStream)
{
	const bool bPedRead = CServerPed::ReadSyncPacket(pStream);
	// The ped's fixed fields are taken even when its raw block fails, so the seat they name counts.
	TakeVehicleSync();
	if (!bPedRead || Elements::IsGTAIV(this))
		return bPedRead;
	CBinaryReader Reader(pStream);
	uint16_t usWord = 0;
	uint8_t rgucBlock[PLAYER_SYNC_BLOCK_SIZE];
	uint32_t uiValue = 0;
	bool bFlag = false;
	uint16_t usCode = 0;
	if (!Reader.ReadUInt16(&usWord) || !Reader.Read(rgucBlock, PLAYER_SYNC_BLOCK_SIZE) ||
		!Reader.ReadUInt32(&uiValue) || !Reader.ReadBoolean(bFlag) || !Reader.ReadUInt16(&usCode))
		return false;
	m_usPlayerSyncWord = usWord;
	memcpy(m_rgucPlayerSyncBlock, rgucBlock, PLAYER_SYNC_BLOCK_SIZE);
	m_uiPlayerSyncValue = uiValue;
	m_bPlayerSyncFlag = bFlag;
	m_usPlayerSyncCode = usCode;
	return true;
}

void CServerPlayer::TakeVehicleSync()
{
	if (GetVehicleId() == INVALID_NETWORK_ID || GetSeat() != 0 || GetVehicleState() != VEHICLE_STATE_IN_VEHICLE)
		return;
	CServerVehicle* pVehicle = FindVehicle();
	if (pVehicle && pVehicle->GetSyncer() != GetSyncer())
		pVehicle->SetSyncer(GetSyncer());
}

bool CServerPlayer::SetPosition(const CVector3D& vecPosition)
{
	CServerEntity::SetPosition(vecPosition);
	if (IsLocal())
		return true;
	Packet Message(ELEMENT_MESSAGE_PLAYER_POSITION);
	Elements::BeginMessage(this, Message);
	CBinaryWriter(&Message).WriteVector3D(vecPosition);
	Elements::SendToHolders(this, Message);
	return true;
}
