#pragma once
// A person in the game world. A ped belongs to at most one vehicle, named by its network id, and sits in one of
// its nine seats; the ped's own sync block says where it is and what it does.

#include <cstdint>

#include "ServerPhysical.h"

class CServerVehicle;

enum eVehicleEnteringState : uint32_t
{
	VEHICLE_STATE_NONE = 0,
	VEHICLE_STATE_ENTERING = 1,
	VEHICLE_STATE_ENTERING_DRIVER = 2,
	VEHICLE_STATE_IN_VEHICLE = 3,
	VEHICLE_STATE_EXITING = 4,
};

class CServerPed : public CServerPhysical
{
public:
	explicit CServerPed(CGameElementManager* pManager);
	~CServerPed() override;

	ReflectedClass* GetReflectedClass() override;
	// The entity's block, then the ped type.
	bool ReadCreatePacket(Stream* pStream) override;
	bool WriteCreatePacket(Stream* pStream) override;
	// Follows the replicated part directly: the entity's matrix is not sent, the position and heading are.
	bool ReadSyncPacket(Stream* pStream) override;
	bool WriteSyncPacket(Stream* pStream) override;
	// A ped in a vehicle exists for a client only once the vehicle does.
	bool CanExistForMachine(INetMachine* pClient) override;
	void SetHeading(float fHeading) override;
	// The heading last given or received, exactly.
	float GetHeading() override;

	// Puts the ped into the vehicle's seat, or out of any vehicle with null, and tells the ped's holders.
	void SetVehicleEnteringState(CServerVehicle* pVehicle, uint8_t ucSeat, eVehicleEnteringState eState);
	void GiveWeapon(uint32_t uiWeapon, uint32_t uiAmmunition, bool bSetCurrent);
	// Raises OnPedSpawn for the ped.
	void OnSpawned();

	int32_t GetVehicleId() const { return m_iVehicleId; }
	uint8_t GetSeat() const { return m_ucSeat; }
	eVehicleEnteringState GetVehicleState() const { return m_eVehicleState; }

	uint32_t m_uiPedType;
	float m_fHeading;
	float m_fReportedHeading;
	float m_fHealth;
	float m_fArmour;
	uint8_t m_ucPedSyncByte;
	uint16_t m_usWeapon;
	uint16_t m_usAmmunition;
	uint16_t m_usClipAmmunition;
	uint8_t m_ucWeaponState;
	tRawSyncBlock m_SyncBlock;

protected:
	// What the ped's own sync block carries; read whole before any of it is taken.
	struct tPedSync
	{
		int32_t m_iPedSyncValue;
		CVector3D m_vecPosition;
		CVector3D m_vecPedSyncVector;
		CVector3D m_vecVelocity;
		float m_fHeading;
		float m_fReportedHeading;
		float m_fHealth;
		uint8_t m_ucVehicleState;
		int32_t m_iVehicleId;
		uint8_t m_ucSeat;
		uint16_t m_usWeapon;
	};

	// The vehicle the ped names, when one of that id is registered.
	CServerVehicle* FindVehicle() const;

private:
	bool ReadGameSync(Stream* pStream);
	void ApplySync(const tPedSync& Sync);

	eVehicleEnteringState m_eVehicleState;
	int32_t m_iVehicleId;
	uint8_t m_ucSeat;
};
