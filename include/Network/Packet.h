#pragma once
// One message between the server and a game client: a growable stream that starts with the message header.
// Also the vocabulary every sender uses (priority, flags, channel) and the sender record of a received message.

#include <cstddef>
#include <cstdint>

#include "Engine/KestrinStream.h"

// Header of every message: this magic, then the 32-bit message id, both little-endian.
constexpr uint32_t PACKET_MAGIC = 0x54523402;
constexpr size_t PACKET_HEADER_SIZE = 8;

// Carried with a queued message; the transport sends in queue order whatever the priority.
enum ePacketPriority : int
{
	PACKET_PRIORITY_IMMEDIATE = 0,
	PACKET_PRIORITY_HIGH = 1,
	PACKET_PRIORITY_MEDIUM = 2,
	PACKET_PRIORITY_LOW = 3,
};

enum ePacketFlags : uint32_t
{
	PACKET_FLAG_NONE = 0,
	PACKET_FLAG_RELIABLE = 1,
	PACKET_FLAG_UNSEQUENCED = 2,
	// Sent to every connected peer instead of one.
	PACKET_FLAG_EVERYONE = 4,
};

constexpr ePacketFlags operator|(ePacketFlags a, ePacketFlags b)
{
	return static_cast<ePacketFlags>(static_cast<uint32_t>(a) | static_cast<uint32_t>(b));
}

// Channels of the engine's own messages; server and game messages use the channels of their senders.
enum eNetChannel : uint8_t
{
	NET_CHANNEL_SYNC = 1,
	NET_CHANNEL_CREATE = 2,
	NET_CHANNEL_ELEMENT = 6,
	NET_CHANNEL_EVERYONE = 8,
};

// The host opens this many channels: 0 to 254.
constexpr size_t NET_CHANNEL_COUNT = 255;

// The sender of a received message: the transport's peer handle and the serial of the connection it names.
// A handle is only ever compared and handed back to the transport; it is never dereferenced.
struct tPeerInfo
{
	void* m_pPeer;
	uint64_t m_uiConnectSerial;
};

class Packet : public CUnlimitedStream
{
public:
	// No header: nested blocks that are copied into a message later, and links whose messages have none.
	Packet();
	// Writes the header, so the first field lands at offset PACKET_HEADER_SIZE.
	explicit Packet(unsigned uiId);
	~Packet() override;
};
