#include "ServerPed.h"

#include "GameElementManager.h"
#include "ServerVehicle.h"

#include "Engine/KestrinArguments.h"
#include "Network/BinaryStream.h"
#include "Network/Packet.h"
#include "Scripting/EventHandlers.h"

CServerPed::CServerPed(CGameElementManager* pManager) :
	CServerPhysical(pManager),
	m_uiPedType(0),
	m_fHeading(0.0f),
	m_fReportedHeading(0.0f),
	m_fHealth(100.0f),
	m_fArmour(0.0f),
	m_ucPedSyncByte(0),
	m_usWeapon(0),
	m_usAmmunition(0),
	m_usClipAmmunition(0),
	m_ucWeaponState(0),
	m_eVehicleState(VEHICLE_STATE_NONE),
	m_iVehicleId(INVALID_NETWORK_ID),
	m_ucSeat(0)
{
	SetType(ELEMENT_PED);
}

CServerPed::~CServerPed() = default;

ReflectedClass* CServerPed::GetReflectedClass()
{
	return Elements::GetClass(this, ELEMENT_CLASS_PED);
}

bool CServerPed::WriteCreatePacket(Stream* pStream)
{
	return CServerEntity::WriteCreatePacket(pStream) && CBinaryWriter(pStream).WriteUInt32(m_uiPedType);
}

bool CServerPed::ReadCreatePacket(Stream* pStream)
{
	uint32_t uiPedType = 0;
	if (!CServerEntity::ReadCreatePacket(pStream) || !CBinaryReader(pStream).ReadUInt32(&uiPedType))
		return false;
	m_uiPedType = uiPedType;
	return true;
}

bool CServerPed::WriteSyncPacket(Stream* pStream)
{
	CBinaryWriter Writer(pStream);
	bool bOk = CNetObject::WriteSyncPacket(pStream) && Writer.WriteInt32(m_iPedSyncValue) &&
		Writer.WriteVector3D(CVector3D(m_Matrix.m41, m_Matrix.m42, m_Matrix.m43)) &&
		Writer.WriteVector3D(m_vecPedSyncVector) && Writer.WriteVector3D(m_vecVelocity) &&
		Writer.WriteSingle(m_fHeading) && Writer.WriteSingle(m_fReportedHeading) && Writer.WriteSingle(m_fHealth) &&
		Writer.WriteUInt8(static_cast<uint8_t>(m_eVehicleState)) && Writer.WriteInt32(m_iVehicleId) &&
		Writer.WriteUInt8(m_ucSeat) && Writer.WriteUInt16(m_usWeapon);
	if (!bOk)
		return false;
	if (Elements::IsGTAIV(this))
		return m_IVSyncBlock.Write(pStream);
	const bool bHasBlock = m_SyncBlock.HasData();
	bOk = Writer.WriteUInt16(m_usAmmunition) && Writer.WriteUInt16(m_usClipAmmunition) &&
		Writer.WriteUInt8(m_ucWeaponState) && Writer.WriteSingle(m_fArmour) && Writer.WriteUInt8(m_ucPedSyncByte) &&
		Writer.WriteUInt8(bHasBlock ? 1 : 0);
	return bOk && (!bHasBlock || m_SyncBlock.Write(pStream));
}

bool CServerPed::ReadSyncPacket(Stream* pStream)
{
	if (!CNetObject::ReadSyncPacket(pStream))
		return false;
	CBinaryReader Reader(pStream);
	tPedSync Sync;
	float rgfVectors[9];
	if (!Reader.ReadInt32(&Sync.m_iPedSyncValue) || !Reader.ReadSingle(rgfVectors, 9) ||
		!Reader.ReadSingle(&Sync.m_fHeading) || !Reader.ReadSingle(&Sync.m_fReportedHeading) ||
		!Reader.ReadSingle(&Sync.m_fHealth) || !Reader.ReadUInt8(&Sync.m_ucVehicleState) ||
		!Reader.ReadInt32(&Sync.m_iVehicleId) || !Reader.ReadUInt8(&Sync.m_ucSeat) || !Reader.ReadUInt16(&Sync.m_usWeapon))
		return false;
	Sync.m_vecPosition = CVector3D(rgfVectors[0], rgfVectors[1], rgfVectors[2]);
	Sync.m_vecPedSyncVector = CVector3D(rgfVectors[3], rgfVectors[4], rgfVectors[5]);
	Sync.m_vecVelocity = CVector3D(rgfVectors[6], rgfVectors[7], rgfVectors[8]);
	ApplySync(Sync);
	return ReadGameSync(pStream);
}

bool CServerPed::ReadGameSync(Stream* pStream)
{
	if (Elements::IsGTAIV(this))
		return m_IVSyncBlock.Read(pStream);
	CBinaryReader Reader(pStream);
	uint16_t usAmmunition = 0;
	uint16_t usClipAmmunition = 0;
	uint8_t ucWeaponState = 0;
	float fArmour = 0.0f;
	uint8_t ucPedSyncByte = 0;
	uint8_t ucHasBlock = 0;
	if (!Reader.ReadUInt16(&usAmmunition) || !Reader.ReadUInt16(&usClipAmmunition) ||
		!Reader.ReadUInt8(&ucWeaponState) || !Reader.ReadSingle(&fArmour) || !Reader.ReadUInt8(&ucPedSyncByte) ||
		!Reader.ReadUInt8(&ucHasBlock))
		return false;
	m_usAmmunition = usAmmunition;
	m_usClipAmmunition = usClipAmmunition;
	m_ucWeaponState = ucWeaponState;
	m_fArmour = fArmour;
	m_ucPedSyncByte = ucPedSyncByte;
	// Without a new block the one received before stays and goes on being forwarded.
	return (ucHasBlock & 1) == 0 || m_SyncBlock.Read(pStream);
}

void CServerPed::ApplySync(const tPedSync& Sync)
{
	m_iPedSyncValue = Sync.m_iPedSyncValue;
	m_vecPedSyncVector = Sync.m_vecPedSyncVector;
	m_vecVelocity = Sync.m_vecVelocity;
	m_fHeading = Sync.m_fHeading;
	m_fReportedHeading = Sync.m_fReportedHeading;
	m_fHealth = Sync.m_fHealth;
	m_eVehicleState = static_cast<eVehicleEnteringState>(Sync.m_ucVehicleState);
	m_iVehicleId = Sync.m_iVehicleId;
	m_ucSeat = Sync.m_ucSeat;
	m_usWeapon = Sync.m_usWeapon;
	CServerEntity::SetHeading(m_fHeading);
	CServerEntity::SetPosition(Sync.m_vecPosition);
	if (m_iVehicleId == INVALID_NETWORK_ID || m_ucSeat >= CServerVehicle::SEAT_COUNT)
		return;
	if (CServerVehicle* pVehicle = FindVehicle())
		pVehicle->SetOccupant(m_ucSeat, this);
}

CServerVehicle* CServerPed::FindVehicle() const
{
	CNetObjectMgr* pManager = GetManager();
	if (!pManager || m_iVehicleId == INVALID_NETWORK_ID)
		return nullptr;
	return static_cast<CServerVehicle*>(pManager->FromId(m_iVehicleId, ELEMENT_VEHICLE));
}

bool CServerPed::CanExistForMachine(INetMachine* pClient)
{
	CNetObjectMgr* pManager = GetManager();
	CNetObject* pVehicle = pManager && m_iVehicleId != INVALID_NETWORK_ID ? pManager->FromId(m_iVehicleId, 0) : nullptr;
	if (pVehicle)
		return pVehicle->IsCreatedFor(pClient);
	return CNetObject::CanExistForMachine(pClient);
}

void CServerPed::SetHeading(float fHeading)
{
	CServerEntity::SetHeading(fHeading);
	m_fHeading = fHeading;
	m_fReportedHeading = fHeading;
}

float CServerPed::GetHeading()
{
	return m_fReportedHeading;
}

void CServerPed::SetVehicleEnteringState(CServerVehicle* pVehicle, uint8_t ucSeat, eVehicleEnteringState eState)
{
	m_eVehicleState = eState;
	if (pVehicle)
	{
		m_iVehicleId = pVehicle->GetId();
		m_ucSeat = ucSeat;
		// The syncer must have the vehicle before it hears that the ped sits in it.
		CNetObjectMgr* pManager = GetManager();
		if (pManager && GetSyncer())
			pManager->CreateObjectsAsNeeded(GetSyncer(), ELEMENT_VEHICLE);
	}
	else
		m_iVehicleId = INVALID_NETWORK_ID;
	Packet Message(ELEMENT_MESSAGE_PED_VEHICLE);
	Elements::BeginMessage(this, Message);
	CBinaryWriter Writer(&Message);
	Writer.WriteInt32(m_iVehicleId);
	Writer.WriteUInt8(m_ucSeat);
	Writer.WriteUInt8(static_cast<uint8_t>(m_eVehicleState));
	Elements::SendToHolders(this, Message);
}

void CServerPed::GiveWeapon(uint32_t uiWeapon, uint32_t uiAmmunition, bool bSetCurrent)
{
	if (bSetCurrent)
	{
		m_usWeapon = static_cast<uint16_t>(uiWeapon);
		m_usAmmunition = static_cast<uint16_t>(uiAmmunition);
	}
	Packet Message(ELEMENT_MESSAGE_GIVE_WEAPON);
	Elements::BeginMessage(this, Message);
	CBinaryWriter Writer(&Message);
	Writer.WriteUInt32(uiWeapon);
	Writer.WriteUInt32(uiAmmunition);
	Writer.WriteUInt8(bSetCurrent ? 1 : 0);
	Elements::SendToHolders(this, Message);
}

void CServerPed::OnSpawned()
{
	CGameElementManager* pManager = Elements::GetGameManager(this);
	EventHandlers::CEventType* pEvent = pManager ? pManager->GetEventType(GAME_EVENT_PED_SPAWN) : nullptr;
	if (!pEvent)
		return;
	// Held: a handler may destroy the ped it is told about.
	Strong<CServerPed> pHeld(this);
	CArguments Arguments;
	Arguments.AddObject(this);
	pEvent->Trigger(Arguments);
}
