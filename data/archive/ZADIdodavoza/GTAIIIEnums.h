// Constants of GTA III offered to every script while the server runs that game.
// A file of the same path beside the server replaces this one.
#pragma once

// The range of vehicle model numbers of the game.
enum eVehicleModelRange : int32_t
{
	VEHICLE_MODEL_FIRST = 90,
	VEHICLE_MODEL_LAST = 150,
};
