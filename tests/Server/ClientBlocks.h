#pragma once
// Sync blocks as a GTA III game client writes them for its own player and for a vehicle it drives, written field by
// field independently of the server's element classes.

#include <cstdint>
#include <vector>

#include "Support/TestMessage.h"

namespace ServerTest
{
// A player standing at the position, or sitting in a seat of a vehicle (vehicle state 3) when the vehicle is given.
inline std::vector<uint8_t> PlayerSyncBlock(int32_t iVehicle, uint8_t ucSeat, uint8_t ucState, float fX = 0.0f,
	float fY = 0.0f, float fZ = 0.0f)
{
	VexaTest::CTestMessage Block;
	// Ped: sync value, position, sync vector, velocity, heading, reported heading, health, vehicle state, vehicle,
	// seat, weapon.
	Block.I32(-1).F32(fX).F32(fY).F32(fZ).F32(0).F32(0).F32(0).F32(0).F32(0).F32(0);
	Block.F32(0).F32(0).F32(100).U8(ucState).I32(iVehicle).U8(ucSeat).U16(0);
	// Ammunition, clip, weapon state, armour, sync byte, no raw block.
	Block.U16(0).U16(0).U8(0).F32(0).U8(0).U8(0);
	// Player: sync word, 48 bytes, sync value, flag, code.
	Block.U16(0).Bytes(std::vector<uint8_t>(48)).U32(0).U8(1).U16(4);
	return Block.GetBytes();
}

// A vehicle at the position, unturned and unmoving, with full health and no damage.
inline std::vector<uint8_t> VehicleSyncBlock(float fX, float fY, float fZ)
{
	VexaTest::CTestMessage Block;
	const float rgfMatrix[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, fX, fY, fZ, 1};
	for (float fValue : rgfMatrix)
		Block.F32(fValue);
	// Velocity and turn velocity.
	for (int i = 0; i < 6; i++)
		Block.F32(0);
	// Flag word, health, the three sync floats; then the sync bool, the four sync bytes, damage mode 0 and no extra
	// floats.
	Block.U32(0).F32(1000).F32(0).F32(0).F32(0);
	Block.U8(0).U32(0).U8(0).U8(0);
	return Block.GetBytes();
}
}
