#pragma once
// What replication needs of a connected client and of the table of client slots. The server's client record and
// its table implement these; replication never owns a client and only reaches one through the table or as the
// syncer the server clears when that client leaves.

#include <cstddef>
#include <cstdint>

#include "Network/Packet.h"

class CBaseObject;
class CNetObject;

constexpr int32_t INVALID_CLIENT_ID = -1;
// Slot 255 is the server console.
constexpr size_t MAX_NET_MACHINES = 256;

class INetMachine
{
public:
	// The client as an engine object: handed to scripts as an event argument and held while they run.
	virtual CBaseObject* GetBaseObject() = 0;
	// The slot, 0 to 255, or INVALID_CLIENT_ID.
	virtual int32_t GetIndex() const = 0;
	virtual bool IsJoined() const = 0;
	virtual bool IsConsole() const = 0;
	// Whether elements are created for this client at all.
	virtual bool IsElementStreaming() const = 0;
	// Null when the client has no player element.
	virtual CNetObject* GetPlayer() = 0;
	virtual void SetPlayer(CNetObject* pPlayer) = 0;
	// Tells the client which element is its player.
	virtual void SendPlayer() = 0;
	// Whether the element is on the dimension the client sees (that of its player, -1 without one).
	virtual bool IsObjectOnMyDimension(CNetObject* pObject) = 0;
	// False, with nothing sent, for the console client and without a transport.
	virtual bool SendPacket(Packet* pPacket, ePacketPriority ePriority, ePacketFlags eFlags, uint8_t ucChannel) = 0;

protected:
	~INetMachine() = default;
};

class INetMachines
{
public:
	// Null for an empty slot and for indices outside 0 to 255.
	virtual INetMachine* GetMachine(int32_t iIndex) = 0;
	// The client this process is; INVALID_CLIENT_ID on the server.
	virtual int32_t GetLocalIndex() const = 0;

protected:
	~INetMachines() = default;
};
