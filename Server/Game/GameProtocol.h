#pragma once
// The ids of the game protocol that the game server itself reads or writes. What the element classes send about
// one element to its holders is in Elements/ElementTypes.h, the world's messages in World.h, and what a verified
// client's game messages do in GameMessages.h.

#include <cstddef>
#include <cstdint>

enum eGameMessage : unsigned
{
	// Client to server; relayed ones go back out with the same id.
	GAME_MESSAGE_PED_VEHICLE_ACTION = 106,
	GAME_MESSAGE_PED_WASTED = 107,
	GAME_MESSAGE_CREATE_LOCAL_VEHICLE = 111,
	GAME_MESSAGE_LOCAL_ELEMENT_ANSWER = 112,
	GAME_MESSAGE_CREATE_LOCAL_PED = 116,
	GAME_MESSAGE_VEHICLE_ENGINE = 120,
	GAME_MESSAGE_VEHICLE_SIREN = 121,
	GAME_MESSAGE_PED_FALL = 123,
	GAME_MESSAGE_PED_JUMP = 124,
	GAME_MESSAGE_PED_CROUCH = 125,
	GAME_MESSAGE_PED_UNCROUCH = 126,
	GAME_MESSAGE_PED_ACTION_128 = 128,
	GAME_MESSAGE_PICKUP_COLLECTED = 132,
	GAME_MESSAGE_IV_RELAY = 133,
	GAME_MESSAGE_IV_SESSION_STATE = 138,
	GAME_MESSAGE_IV_EPISODE = 139,
	GAME_MESSAGE_IV_SET_SESSION_INFO = 140,
	GAME_MESSAGE_IV_GET_SESSION_INFO = 141,
	GAME_MESSAGE_IV_SESSION_INFO = 142,
	GAME_MESSAGE_IV_RELAY_TAGGED = 143,
	GAME_MESSAGE_PED_ACTION_144 = 144,
	GAME_MESSAGE_PED_ACTION_145 = 145,
	GAME_MESSAGE_PED_ACTION_146 = 146,
	GAME_MESSAGE_PED_ACTION_147 = 147,
	GAME_MESSAGE_PED_ACTION_148 = 148,
	GAME_MESSAGE_FILE_CHECK = 149,
	GAME_MESSAGE_CAMERA_INTERIOR = 151,

	// Server to one client.
	GAME_MESSAGE_FADE_CAMERA = 108,
	GAME_MESSAGE_IV_HOST_VEXA = 134,
	GAME_MESSAGE_IV_QUICK_MATCH = 135,
	GAME_MESSAGE_IV_HOST_SESSION = 136,
	GAME_MESSAGE_IV_JOIN_SESSION = 137,

	// The range of ids the game protocol owns.
	GAME_MESSAGE_FIRST = 101,
	GAME_MESSAGE_LAST = 180,
};

// The channel of the GTA IV relays (133, 143), sent unreliable.
constexpr uint8_t GAME_RELAY_CHANNEL = 4;
// The most bytes a GTA IV relay carries on; a longer rest is dropped.
constexpr size_t GAME_RELAY_MAX_REST = 4096;
