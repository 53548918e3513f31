#pragma once
// The game's element type ids, the messages the element classes send about one element, and the helpers every
// element class uses to send them. What an element needs of its owning element manager is in
// GameElementManager.h.

#include <cstddef>
#include <cstdint>

class CNetObject;
class Packet;

// A bit set following the class tree: each class's id is its own bit plus its bases' bits, so an element is of
// type T when (id & T) == T.
enum eElementType : uint32_t
{
	ELEMENT_ELEMENT = 0,
	ELEMENT_TRANSFORMABLE = 2,
	ELEMENT_ENTITY = 6,
	ELEMENT_PHYSICAL = 14,
	ELEMENT_PED = 30,
	ELEMENT_PLAYER = 94,
	ELEMENT_VEHICLE = 142,
	ELEMENT_BLIP = 258,
	ELEMENT_OBJECT = 526,
	ELEMENT_BUILDING = 1030,
	ELEMENT_TRAIN = 2190,
	ELEMENT_PICKUP = 4098,
	ELEMENT_MARKER = 8194,
};

// What the server tells the holders of one element when its game state changes.
enum eElementMessage : uint32_t
{
	ELEMENT_MESSAGE_PED_VEHICLE = 101,
	ELEMENT_MESSAGE_MODEL = 105,
	ELEMENT_MESSAGE_VEHICLE_COLOURS = 117,
	ELEMENT_MESSAGE_VEHICLE_FIX = 118,
	ELEMENT_MESSAGE_VEHICLE_LOCK = 119,
	ELEMENT_MESSAGE_VEHICLE_ENGINE = 120,
	ELEMENT_MESSAGE_VEHICLE_SIREN = 121,
	ELEMENT_MESSAGE_GIVE_WEAPON = 129,
	ELEMENT_MESSAGE_INTERIOR = 150,
	ELEMENT_MESSAGE_PLAYER_POSITION = 180,
};

// The script classes of the game's elements, one per kind.
enum eElementClass
{
	ELEMENT_CLASS_WORLD,
	ELEMENT_CLASS_ENTITY,
	ELEMENT_CLASS_PHYSICAL,
	ELEMENT_CLASS_PED,
	ELEMENT_CLASS_PLAYER,
	ELEMENT_CLASS_VEHICLE,
	ELEMENT_CLASS_TRAIN,
	ELEMENT_CLASS_BLIP,
	ELEMENT_CLASS_OBJECT,
	ELEMENT_CLASS_BUILDING,
	ELEMENT_CLASS_PICKUP,
	ELEMENT_CLASS_MARKER,
	ELEMENT_CLASS_CAR_GENERATOR,
	ELEMENT_CLASS_COUNT,
};

namespace Elements
{
// To every joined client that has the element; nothing while it is unregistered.
void SendToHolders(CNetObject* pElement, Packet& Message);
// Starts a message about the element: its id first.
void BeginMessage(CNetObject* pElement, Packet& Message);
// Whether the element is unregistered or being destroyed, as after a script handler destroyed it: nothing more is
// to be said or done about it.
bool IsGone(const CNetObject* pElement);
}
