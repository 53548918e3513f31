#pragma once
// A vehicle: a physical entity with health, colours, lock, engine and siren, a damage state on the games before
// GTA IV, and nine seats. Its seats fill from the sync blocks of the peds in it.

#include <cstdint>

#include "ServerPhysical.h"

#include "Engine/KestrinReference.h"

class CServerPed;

// The damage groups: the server stores and forwards them; the mode says which are in use.
struct tVehicleDamage
{
	enum
	{
		GROUP_A_COUNT = 6,
		GROUP_B_COUNT = 4,
		GROUP_C_COUNT = 7,
		GROUP_D_COUNT = 4,
	};

	uint8_t m_ucMode = 0;
	uint8_t m_rgucGroupA[GROUP_A_COUNT] = {};
	uint8_t m_rgucGroupB[GROUP_B_COUNT] = {};
	uint8_t m_rgucGroupC[GROUP_C_COUNT] = {};
	uint8_t m_rgucGroupD[GROUP_D_COUNT] = {};
};

class CServerVehicle : public CServerPhysical
{
public:
	enum
	{
		SEAT_COUNT = 9,
		COLOUR_COUNT = 4,
	};

	// Flags of the create block.
	static constexpr uint32_t CREATE_FLAG_STRONG_GRIP = 0x1;
	static constexpr uint32_t CREATE_FLAG_RGB = 0x2;
	static constexpr uint32_t CREATE_FLAG_ENGINE = 0x4;

	explicit CServerVehicle(CGameElementManager* pManager);
	~CServerVehicle() override;

	ReflectedClass* GetReflectedClass() override;
	// Takes out the peds sitting in it before the vehicle leaves the registry.
	void Remove() override;
	bool ReadCreatePacket(Stream* pStream) override;
	bool WriteCreatePacket(Stream* pStream) override;
	// The physical block, then the vehicle's own fields.
	bool ReadSyncPacket(Stream* pStream) override;
	bool WriteSyncPacket(Stream* pStream) override;
	// An empty vehicle sends no sync.
	bool CanSendSync() override;
	bool CanSendSync(INetMachine* pClient) override;
	// Also picks random default colours for the new model.
	void SetModelIndex(int32_t iModel) override;

	// The ped in the seat while it still says it sits there; null for a seat above 8.
	CServerPed* GetOccupant(uint32_t uiSeat) const;
	void SetOccupant(uint32_t uiSeat, CServerPed* pPed);
	// One of the model's default colour sets at random; with none the colours stay and a warning is logged.
	void RandomiseColours();
	// Tells the holders the current colours.
	void ApplyColourChanges();
	// Each tells the holders only when the value changes.
	void SetEngine(bool bEngine);
	void SetSiren(bool bSiren);
	void SetDoorsLocked(uint32_t uiLockStatus);
	// Full health, and the holders are told.
	void Fix();

	bool GetEngine() const { return m_bEngine; }
	bool GetSiren() const { return m_bSiren; }
	uint32_t GetLockStatus() const { return m_uiLockStatus; }

	float m_fHealth;
	float m_rgfSyncFloats[3];
	bool m_bSyncFlag;
	bool m_bStrongGrip;
	uint8_t m_rgucColours[COLOUR_COUNT];
	bool m_bRGB;
	int32_t m_rgiRGBColours[COLOUR_COUNT];
	bool m_bSyncBool;
	uint8_t m_rgucSyncBytes[4];
	tVehicleDamage m_Damage;
	uint8_t m_ucExtraFlags;
	float m_rgfExtraFloats[2];

private:
	// Whether any seat has its ped; both CanSendSync ask it.
	bool HasOccupant() const;

	bool m_bEngine;
	bool m_bSiren;
	uint32_t m_uiLockStatus;
	Weak<CServerPed> m_rgpOccupants[SEAT_COUNT];
};
