#include "ServerVehicle.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "GameElementManager.h"
#include "ServerPed.h"
#include "VehicleColours.h"

#include "Engine/Context.h"
#include "Network/BinaryStream.h"
#include "Network/Packet.h"

namespace
{
constexpr float FULL_HEALTH = 1000.0f;

uint32_t TwoBits(uint8_t ucValue, unsigned uiShift)
{
	return static_cast<uint32_t>(ucValue & 3) << uiShift;
}

uint8_t BitsAt(uint32_t uiWord, unsigned uiShift, uint32_t uiMask)
{
	return static_cast<uint8_t>((uiWord >> uiShift) & uiMask);
}

// Mode 1 is a 32-bit word of groups A to C and a byte of group D, mode 2 a byte with two values of group D, and
// modes 0 and 3 the mode alone.
bool WriteDamage(CBinaryWriter& Writer, const tVehicleDamage& Damage)
{
	const uint8_t ucMode = Damage.m_ucMode & 3;
	if (ucMode == 1)
	{
		uint32_t uiWord = 1;
		for (unsigned i = 0; i < tVehicleDamage::GROUP_A_COUNT; i++)
			uiWord |= TwoBits(Damage.m_rgucGroupA[i], 2 * (i + 1));
		for (unsigned i = 0; i < tVehicleDamage::GROUP_B_COUNT; i++)
			uiWord |= static_cast<uint32_t>(Damage.m_rgucGroupB[i] & 1) << (14 + i);
		for (unsigned i = 0; i < tVehicleDamage::GROUP_C_COUNT; i++)
			uiWord |= TwoBits(Damage.m_rgucGroupC[i], 18 + 2 * i);
		uint32_t uiGroupD = 0;
		for (unsigned i = 0; i < tVehicleDamage::GROUP_D_COUNT; i++)
			uiGroupD |= TwoBits(Damage.m_rgucGroupD[i], 2 * i);
		return Writer.WriteUInt32(uiWord) && Writer.WriteUInt8(static_cast<uint8_t>(uiGroupD));
	}
	if (ucMode == 2)
		return Writer.WriteUInt8(
			static_cast<uint8_t>(2 | TwoBits(Damage.m_rgucGroupD[0], 2) | TwoBits(Damage.m_rgucGroupD[1], 4)));
	return Writer.WriteUInt8(ucMode);
}

// Reads over a copy: values of groups the mode does not carry keep what they were.
bool ReadDamage(CBinaryReader& Reader, tVehicleDamage& Damage)
{
	uint8_t ucFirst = 0;
	if (!Reader.ReadUInt8(&ucFirst))
		return false;
	Damage.m_ucMode = ucFirst & 3;
	if (Damage.m_ucMode == 1)
	{
		uint8_t rgucRest[4];
		if (!Reader.ReadUInt8(rgucRest, 4))
			return false;
		const uint32_t uiWord = ucFirst | static_cast<uint32_t>(rgucRest[0]) << 8 |
			static_cast<uint32_t>(rgucRest[1]) << 16 | static_cast<uint32_t>(rgucRest[2]) << 24;
		for (unsigned i = 0; i < tVehicleDamage::GROUP_A_COUNT; i++)
			Damage.m_rgucGroupA[i] = BitsAt(uiWord, 2 * (i + 1), 3);
		for (unsigned i = 0; i < tVehicleDamage::GROUP_B_COUNT; i++)
			Damage.m_rgucGroupB[i] = BitsAt(uiWord, 14 + i, 1);
		for (unsigned i = 0; i < tVehicleDamage::GROUP_C_COUNT; i++)
			Damage.m_rgucGroupC[i] = BitsAt(uiWord, 18 + 2 * i, 3);
		for (unsigned i = 0; i < tVehicleDamage::GROUP_D_COUNT; i++)
			Damage.m_rgucGroupD[i] = BitsAt(rgucRest[3], 2 * i, 3);
	}
	else if (Damage.m_ucMode == 2)
	{
		Damage.m_rgucGroupD[0] = BitsAt(ucFirst, 2, 3);
		Damage.m_rgucGroupD[1] = BitsAt(ucFirst, 4, 3);
	}
	return true;
}

void SendFlagMessage(CServerVehicle* pVehicle, eElementMessage eMessage, uint8_t ucValue)
{
	Packet Message(eMessage);
	Elements::BeginMessage(pVehicle, Message);
	CBinaryWriter(&Message).WriteUInt8(ucValue);
	Elements::SendToHolders(pVehicle, Message);
}
}

CServerVehicle::CServerVehicle(CGameElementManager* pManager) :
	CServerPhysical(pManager),
	m_fHealth(FULL_HEALTH),
	m_rgfSyncFloats(),
	m_bSyncFlag(false),
	m_bStrongGrip(false),
	m_rgucColours(),
	m_bRGB(false),
	m_rgiRGBColours(),
	m_bSyncBool(false),
	m_rgucSyncBytes(),
	m_ucExtraFlags(0),
	m_rgfExtraFloats(),
	m_bEngine(false),
	m_bSiren(false),
	m_uiLockStatus(1)
{
	SetType(ELEMENT_VEHICLE);
}

CServerVehicle::~CServerVehicle()
{
	for (int i = SEAT_COUNT - 1; i >= 0; i--)
		m_rgpOccupants[i] = nullptr;
}

ReflectedClass* CServerVehicle::GetReflectedClass()
{
	return Elements::GetClass(this, ELEMENT_CLASS_VEHICLE);
}

CServerPed* CServerVehicle::GetOccupant(uint32_t uiSeat) const
{
	if (uiSeat >= SEAT_COUNT)
		return nullptr;
	CServerPed* pPed = m_rgpOccupants[uiSeat].Get();
	// The reference is only a hint: the ped's own state says where it sits.
	if (!pPed || IsLocal() || pPed->GetVehicleId() != GetId() || pPed->GetSeat() != uiSeat)
		return nullptr;
	return pPed;
}

void CServerVehicle::SetOccupant(uint32_t uiSeat, CServerPed* pPed)
{
	if (uiSeat < SEAT_COUNT)
		m_rgpOccupants[uiSeat] = pPed;
}

void CServerVehicle::Remove()
{
	CNetObjectMgr* pManager = GetManager();
	if (pManager && !IsLocal())
	{
		// Taking a ped out may destroy it and run scripts, which change the registry: the peds are gathered first.
		std::vector<Strong<CServerPed>> Peds;
		for (size_t Slot : pManager->UsedSlots())
		{
			CNetObject* pObject = pManager->GetObjectAt(Slot);
			if (!pObject || !pObject->IsType(ELEMENT_PED))
				continue;
			CServerPed* pPed = static_cast<CServerPed*>(pObject);
			if (pPed->GetVehicleId() == GetId() && pPed->GetVehicleState() == VEHICLE_STATE_IN_VEHICLE)
				Peds.emplace_back(pPed);
		}
		for (const Strong<CServerPed>& pPed : Peds)
		{
			if (Elements::IsGone(pPed))
				continue;
			if (pPed->IsType(ELEMENT_PLAYER) || pPed->GetResource())
				pPed->SetVehicleEnteringState(nullptr, 0, VEHICLE_STATE_NONE);
			else
				pManager->DestroyObject(pPed, true, false);
		}
	}
	CServerPhysical::Remove();
}

bool CServerVehicle::WriteCreatePacket(Stream* pStream)
{
	if (!CServerEntity::WriteCreatePacket(pStream))
		return false;
	CBinaryWriter Writer(pStream);
	const uint32_t uiFlags = (m_bStrongGrip ? CREATE_FLAG_STRONG_GRIP : 0) | (m_bRGB ? CREATE_FLAG_RGB : 0) |
		(m_bEngine ? CREATE_FLAG_ENGINE : 0);
	if (!Writer.WriteUInt32(uiFlags) || !Writer.WriteUInt8(static_cast<uint8_t>(m_uiLockStatus)))
		return false;
	return m_bRGB ? Writer.WriteInt32(m_rgiRGBColours, COLOUR_COUNT) : Writer.WriteUInt8(m_rgucColours, COLOUR_COUNT);
}

bool CServerVehicle::ReadCreatePacket(Stream* pStream)
{
	if (!CServerEntity::ReadCreatePacket(pStream))
		return false;
	CBinaryReader Reader(pStream);
	uint32_t uiFlags = 0;
	uint8_t ucLockStatus = 0;
	if (!Reader.ReadUInt32(&uiFlags) || !Reader.ReadUInt8(&ucLockStatus))
		return false;
	const bool bRGB = (uiFlags & CREATE_FLAG_RGB) != 0;
	int32_t rgiRGB[COLOUR_COUNT];
	uint8_t rgucColours[COLOUR_COUNT];
	if (bRGB ? !Reader.ReadInt32(rgiRGB, COLOUR_COUNT) : !Reader.ReadUInt8(rgucColours, COLOUR_COUNT))
		return false;
	m_bStrongGrip = (uiFlags & CREATE_FLAG_STRONG_GRIP) != 0;
	m_bRGB = bRGB;
	m_bEngine = (uiFlags & CREATE_FLAG_ENGINE) != 0;
	m_uiLockStatus = ucLockStatus;
	if (bRGB)
		memcpy(m_rgiRGBColours, rgiRGB, sizeof(rgiRGB));
	else
		memcpy(m_rgucColours, rgucColours, sizeof(rgucColours));
	return true;
}

bool CServerVehicle::WriteSyncPacket(Stream* pStream)
{
	if (!CServerPhysical::WriteSyncPacket(pStream))
		return false;
	CBinaryWriter Writer(pStream);
	if (!Writer.WriteUInt32(m_bSyncFlag ? 1 : 0) || !Writer.WriteSingle(m_fHealth) || !Writer.WriteSingle(m_rgfSyncFloats, 3))
		return false;
	if (Elements::IsGTAIV(this))
		return true;
	if (!Writer.WriteUInt8(m_bSyncBool ? 1 : 0) || !Writer.WriteUInt8(m_rgucSyncBytes, 4) || !WriteDamage(Writer, m_Damage) ||
		!Writer.WriteUInt8(m_ucExtraFlags))
		return false;
	return (m_ucExtraFlags & 1) == 0 || Writer.WriteSingle(m_rgfExtraFloats, 2);
}

bool CServerVehicle::ReadSyncPacket(Stream* pStream)
{
	if (!CServerPhysical::ReadSyncPacket(pStream))
		return false;
	CBinaryReader Reader(pStream);
	uint32_t uiFlags = 0;
	float fHealth = 0.0f;
	float rgfSyncFloats[3];
	if (!Reader.ReadUInt32(&uiFlags) || !Reader.ReadSingle(&fHealth) || !Reader.ReadSingle(rgfSyncFloats, 3))
		return false;
	m_bSyncFlag = (uiFlags & 1) != 0;
	m_fHealth = fHealth;
	memcpy(m_rgfSyncFloats, rgfSyncFloats, sizeof(rgfSyncFloats));
	if (Elements::IsGTAIV(this))
		return true;

	bool bSyncBool = false;
	uint8_t rgucSyncBytes[4];
	tVehicleDamage Damage = m_Damage;
	uint8_t ucExtraFlags = 0;
	float rgfExtraFloats[2] = {m_rgfExtraFloats[0], m_rgfExtraFloats[1]};
	if (!Reader.ReadBoolean(bSyncBool) || !Reader.ReadUInt8(rgucSyncBytes, 4) || !ReadDamage(Reader, Damage) ||
		!Reader.ReadUInt8(&ucExtraFlags))
		return false;
	if ((ucExtraFlags & 1) != 0 && !Reader.ReadSingle(rgfExtraFloats, 2))
		return false;
	m_bSyncBool = bSyncBool;
	memcpy(m_rgucSyncBytes, rgucSyncBytes, sizeof(rgucSyncBytes));
	m_Damage = Damage;
	m_ucExtraFlags = ucExtraFlags;
	memcpy(m_rgfExtraFloats, rgfExtraFloats, sizeof(rgfExtraFloats));
	return true;
}

bool CServerVehicle::HasOccupant() const
{
	for (uint32_t uiSeat = 0; uiSeat < SEAT_COUNT; uiSeat++)
	{
		if (GetOccupant(uiSeat))
			return true;
	}
	return false;
}

bool CServerVehicle::CanSendSync()
{
	return HasOccupant() && CServerPhysical::CanSendSync();
}

bool CServerVehicle::CanSendSync(INetMachine* pClient)
{
	return HasOccupant() && CServerPhysical::CanSendSync(pClient);
}

void CServerVehicle::SetModelIndex(int32_t iModel)
{
	CServerPhysical::SetModelIndex(iModel);
	RandomiseColours();
}

void CServerVehicle::RandomiseColours()
{
	CGameElementManager* pManager = Elements::GetGameManager(this);
	const CVehicleColours::tDefinitions* pSets =
		pManager ? pManager->GetVehicleColours().GetDefinitions(static_cast<uint32_t>(GetModelIndex())) : nullptr;
	if (!pSets || pSets->empty())
	{
		if (Context* pContext = KGlobal::GetContext())
			pContext->LogWarn("Cannot randomise car colour %d!", GetModelIndex());
		return;
	}
	const uint32_t uiFirst = static_cast<uint32_t>(rand());
	const uint32_t uiSecond = static_cast<uint32_t>(rand());
	const tVehicleColourDefinition& Set = (*pSets)[((uiFirst * 2) | (uiSecond & 1)) % pSets->size()];
	m_bRGB = Set.m_bRGB != 0;
	for (int i = 0; i < COLOUR_COUNT; i++)
	{
		if (m_bRGB)
			m_rgiRGBColours[i] = Set.m_iColours[i];
		else
			m_rgucColours[i] = static_cast<uint8_t>(Set.m_iColours[i]);
	}
}

void CServerVehicle::ApplyColourChanges()
{
	Packet Message(ELEMENT_MESSAGE_VEHICLE_COLOURS);
	Elements::BeginMessage(this, Message);
	CBinaryWriter Writer(&Message);
	Writer.WriteUInt8(m_bRGB ? 1 : 0);
	if (m_bRGB)
		Writer.WriteInt32(m_rgiRGBColours, COLOUR_COUNT);
	else
		Writer.WriteUInt8(m_rgucColours, COLOUR_COUNT);
	Elements::SendToHolders(this, Message);
}

void CServerVehicle::SetEngine(bool bEngine)
{
	if (bEngine == m_bEngine)
		return;
	m_bEngine = bEngine;
	SendFlagMessage(this, ELEMENT_MESSAGE_VEHICLE_ENGINE, bEngine ? 1 : 0);
}

void CServerVehicle::SetSiren(bool bSiren)
{
	if (bSiren == m_bSiren)
		return;
	m_bSiren = bSiren;
	SendFlagMessage(this, ELEMENT_MESSAGE_VEHICLE_SIREN, bSiren ? 1 : 0);
}

void CServerVehicle::SetDoorsLocked(uint32_t uiLockStatus)
{
	if (uiLockStatus == m_uiLockStatus)
		return;
	m_uiLockStatus = uiLockStatus;
	SendFlagMessage(this, ELEMENT_MESSAGE_VEHICLE_LOCK, static_cast<uint8_t>(uiLockStatus));
}

void CServerVehicle::Fix()
{
	m_fHealth = FULL_HEALTH;
	Packet Message(ELEMENT_MESSAGE_VEHICLE_FIX);
	Elements::BeginMessage(this, Message);
	Elements::SendToHolders(this, Message);
}
