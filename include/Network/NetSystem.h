#pragma once
// The transport seen from the server: an abstract reliable-UDP system that sends messages to peers, the view of
// one connectionless datagram, and the address record of a peer.

#include <cstddef>
#include <cstdint>

#include "Network/Packet.h"

// Peer handles are connection tokens, not pointers: the peer's slot in the host sits in the low bits and the
// serial of the connection above them. A handle therefore names one connection for the life of the process;
// once that connection is gone the handle goes nowhere, even when its slot carries a newer connection.
constexpr unsigned NET_PEER_SLOT_BITS = 12;

inline uint64_t KGetPeerConnectSerial(const void* pPeer)
{
	return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(pPeer)) >> NET_PEER_SLOT_BITS;
}

// 128 bytes: family, port in host order, IPv4 address in network order, an IPv6 address from byte 8.
class CIPAddress
{
public:
	CIPAddress();

	// The address without the port: the IPv4 field for AF_INET, else the IPv6 field. False when it cannot be
	// printed or does not fit the buffer (a cut address could match another one).
	bool ToString(char* szBuffer, size_t Size) const;

	uint16_t m_usFamily;
	uint16_t m_usPort;
	uint32_t m_uiIPv4;
	uint8_t m_rgucIPv6[16];
	uint8_t m_rgucReserved[104];
};

static_assert(sizeof(CIPAddress) == 128, "CIPAddress is a 128-byte record");

// One received connectionless datagram; lives only for the call it is handed to.
class CNetSocket
{
public:
	virtual const void* GetData(size_t& Length) = 0;
	// Sends the packet's bytes back to the datagram's sender.
	virtual bool Send(Packet* pPacket) = 0;
	// Who sent the datagram (as the sender claims: nothing proves a datagram's source address).
	virtual bool GetSender(CIPAddress& Address) = 0;

protected:
	~CNetSocket() = default;
};

class CNetSystem
{
public:
	virtual ~CNetSystem() = default;

	virtual bool Connect(const char* szHost, uint16_t usPort) = 0;
	virtual void Disconnect(void* pPeer, unsigned uiReason) = 0;
	// Delivers every received connect, message and disconnect to the event sink, on the calling (main) thread.
	virtual void Update() = 0;
	virtual bool SendPacket(void* pPeer, Packet* pPacket, ePacketPriority ePriority, ePacketFlags eFlags,
		uint8_t ucChannel) = 0;
	virtual bool SendHostPacket(Packet* pPacket, ePacketPriority ePriority, ePacketFlags eFlags, uint8_t ucChannel);
	virtual bool SendEveryonePacket(Packet* pPacket, ePacketPriority ePriority, ePacketFlags eFlags,
		uint8_t ucChannel);
	virtual bool GetIPAddress(void* pPeer, CIPAddress& Address) = 0;
	// The ping of a null or departed peer.
	static constexpr uint32_t PING_UNKNOWN = 0xFFFFFFFF;
	// Milliseconds; PING_UNKNOWN for a null or departed peer.
	virtual uint32_t GetLastPing(void* pPeer) = 0;
};
