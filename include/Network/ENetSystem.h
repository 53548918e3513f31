#pragma once
// The transport over one ENet host (range-coder compression, 4095 peers, 255 channels), with an optional network
// thread that services the host in the background. Whatever thread services the host, every connect, message and
// disconnect reaches the event sink on the main thread, inside Update.
//
// Locks: the host lock guards every ENet call on the host and its peers and the table of connection serials; the
// send lock guards the send queue, the event lock the event queue. Order: host lock, then the send or event lock,
// never the reverse. With the thread running the main thread takes only the send lock to send and the event lock
// in Update, so sends never wait for a service pass.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "Engine/KestrinReference.h"
#include "Engine/KestrinThreading.h"
#include "Network/NetCompatibilityShim.h"
#include "Network/NetSystem.h"

struct _ENetHost;
struct _ENetPacket;
struct _ENetEvent;
struct _ENetPeer;

enum eNetState : int
{
	NETSTATE_IDLE = 0,
	NETSTATE_CONNECTING = 1,
	NETSTATE_DISCONNECTING = 3,
	NETSTATE_DISCONNECTED = 4,
	NETSTATE_LISTENING = 6,
};

constexpr size_t NET_MAX_PEERS = 4095;

class CENetSystem : public CNetSystem
{
public:
	explicit CENetSystem(CNetEvents* pEvents);
	// Stops the thread, frees queued messages and received events without sending or delivering them, then closes
	// the host, which resets every peer without a notice.
	~CENetSystem() override;

	CENetSystem(const CENetSystem&) = delete;
	CENetSystem& operator=(const CENetSystem&) = delete;

	// Listens on the port, on bindip when it is not empty (a name is looked up). Nothing is logged here.
	bool InitAsServer(uint16_t usPort, const char* szBindIP, bool bMultithreaded);
	bool InitNetworkThread();
	void StopNetworkThread();
	bool IsNetworkThreadRunning() const { return !m_pNetworkThread.IsNull(); }

	// This transport only serves: connecting to a server is not supported.
	bool Connect(const char* szHost, uint16_t usPort) override;
	void Disconnect(void* pPeer, unsigned uiReason) override;
	void Update() override;
	// Without the thread the message leaves through ENet at once, and false means it was not taken. With the
	// thread it is queued and leaves on the next service pass; a message for a departed peer is then dropped.
	bool SendPacket(void* pPeer, Packet* pPacket, ePacketPriority ePriority, ePacketFlags eFlags,
		uint8_t ucChannel) override;
	bool GetIPAddress(void* pPeer, CIPAddress& Address) override;
	uint32_t GetLastPing(void* pPeer) override;
	// The pause between two main-loop passes. Without the thread the host is serviced first, so what the pass
	// queued leaves now rather than after the pause, at the next pass's start.
	void Wait(unsigned uiMicroseconds);

	void SetEventSink(CNetEvents* pEvents) { m_pEvents.store(pEvents); }
	CNetEvents* GetEventSink() const { return m_pEvents.load(); }
	eNetState GetState() const { return m_eState; }

private:
	struct tNetEvent
	{
		int m_iType;
		void* m_pPeer;
		uint8_t m_ucChannel;
		uint32_t m_uiData;
		_ENetPacket* m_pPacket;
	};

	struct tPendingPacket
	{
		ePacketPriority m_ePriority;
		ePacketFlags m_eFlags;
		uint8_t m_ucChannel;
		void* m_pPeer;
		_ENetPacket* m_pPacket;
	};

	static int NetworkThreadMain(Thread* pThread, void* pUserData);
	static int InterceptCB(_ENetHost* pHost, _ENetEvent* pEvent);

	// Services the host on the calling thread (the main thread when no network thread runs): takes the host lock.
	void ServiceHostHere();
	// Host lock held by the caller for these, down to ReleaseSharedPacket.
	void ServiceHost();
	void ProcessPendingPackets();
	// Services the host without sending the send queue.
	void DrainHost();
	// Counts bytes just handed to ENet; services the host once enough have piled up.
	void NoteQueued(size_t Size, ePacketFlags eFlags);
	void QueueEvent(const _ENetEvent& Event);
	_ENetPeer* ResolvePeer(void* pPeer) const;
	// The slot carries a connection of ours that ENet reports connected: broadcasts and held-back messages go there.
	bool IsConnectedSlot(size_t Slot) const;
	// Consumes the packet: it is handed to ENet or freed (a shared packet stays with its holder).
	bool SendToPeers(void* pPeer, _ENetPacket* pPacket, ePacketFlags eFlags, uint8_t ucChannel);
	// The ENet packet to send the message with: the shared one when it holds the same bytes with the same flags,
	// else a new one that becomes the shared one. Null when none can be made.
	_ENetPacket* SharePacket(Packet* pPacket, ePacketFlags eFlags);
	void ReleaseSharedPacket();
	// Services the host when much has been handed to ENet since it was last serviced.
	void ServiceIfMuchQueued();
	// Holds a broadcast back for every connected peer, with a reference each.
	void DeferBroadcast(_ENetPacket* pPacket, uint8_t ucChannel);
	// Hands the slot's held-back messages to ENet in order (counted, but without servicing the host).
	void SendDeferred(size_t Slot);
	// Frees the slot's held-back messages unsent: the connection is gone.
	void DropDeferred(size_t Slot);
	// Takes the host lock. Turning deferring off hands every held-back message to ENet.
	void SetDeferBroadcasts(bool bDefer);

	void ProcessEvent(const tNetEvent& Event);
	void ClearQueues();

	eNetState m_eState;
	std::atomic<CNetEvents*> m_pEvents;
	_ENetHost* m_pHost;
	AutoDelete<CThreadCB> m_pNetworkThread;
	Signalable m_StopSignal;
	Signalable m_EventSignal;
	Signalable m_SendSignal;
	CLockable m_EventLock;
	CLockable m_SendLock;
	CLockable m_HostLock;
	std::vector<tNetEvent> m_EventQueue;
	std::vector<tPendingPacket> m_SendQueue;
	// Per peer slot of the host: the serial of the connection it carries, 0 when none.
	std::vector<uint64_t> m_PeerSerials;
	uint64_t m_uiNextSerial;
	// Message bytes handed to ENet since the host was last serviced (host lock).
	size_t m_QueuedSinceService;
	// Without the network thread: the ENet packet of the last message sent, with a reference of ours, until the
	// host is next serviced (host lock). With the thread every message gets its own packet, which the queue owns.
	_ENetPacket* m_pSharedPacket;
	uint32_t m_uiSharedPacketFlags;
	// Without the network thread, while Update hands events to the sink: a broadcast waits, per peer slot, until
	// a message only for that peer follows it or Update ends (host lock). A burst of joins broadcasts something
	// for every joiner; held back, those reach the clients already in after the joiners' own answers rather than
	// being compressed and sent ahead of them.
	struct tDeferredMessage
	{
		_ENetPacket* m_pPacket;
		uint8_t m_ucChannel;
	};
	bool m_bDeferBroadcasts;
	std::vector<std::vector<tDeferredMessage>> m_DeferredMessages;
	// Slots that were given a held-back message since deferring last ended (a slot may appear more than once).
	std::vector<size_t> m_DeferredSlots;
};

// The transport of the process, through which the intercept hook (called by ENet without user data) finds the
// event sink. Set when the server object builds the transport and by whichever thread services the host.
extern std::atomic<CENetSystem*> g_pENet;

// The datagram ENet received last on a host, for the duration of one intercept call.
class CENetSocket final : public CNetSocket
{
public:
	explicit CENetSocket(_ENetHost* pHost) : m_pHost(pHost) {}

	const void* GetData(size_t& Length) override;
	bool Send(Packet* pPacket) override;
	bool GetSender(CIPAddress& Address) override;

private:
	_ENetHost* m_pHost;
};
