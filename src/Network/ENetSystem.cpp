#include "Network/ENetSystem.h"

#include <cstring>
#include <enet/enet.h>
#include <sys/socket.h>
#include <unistd.h>

std::atomic<CENetSystem*> g_pENet{nullptr};

namespace
{
constexpr uintptr_t PEER_SLOT_MASK = (static_cast<uintptr_t>(1) << NET_PEER_SLOT_BITS) - 1;

// ENet compresses and sends what was queued only when the host is serviced. A pass that queues much (every
// client's sync, many creations) would be compressed in one go, and no datagram would be read or acknowledged
// meanwhile; peers would see round trips swing with it and ENet would throttle their messages. Past this many
// bytes handed to ENet the host is serviced at once, which spreads the work and keeps answering.
constexpr size_t SERVICE_AFTER_QUEUED_BYTES = 64 * 1024;

// Without the thread, Update services the host again after handling what it delivered, at most this many times.
constexpr size_t UPDATE_SERVICE_ROUNDS = 4;

// The network thread's rest between two services of the host: it keeps the thread from spinning while leaving
// received datagrams waiting no longer than a main-loop pass would.
constexpr useconds_t NETWORK_THREAD_REST_US = 5000;

// The first two bytes of a datagram the server's own handlers may take before ENet sees it (the query protocol's).
constexpr enet_uint8 FOREIGN_DATAGRAM_MARKER = 0xFF;

static_assert(NET_MAX_PEERS <= PEER_SLOT_MASK + 1, "every peer slot must fit the handle's slot bits");

void* MakePeerHandle(size_t Slot, uint64_t uiSerial)
{
	return reinterpret_cast<void*>(static_cast<uintptr_t>((uiSerial << NET_PEER_SLOT_BITS) | Slot));
}

enet_uint32 ToENetFlags(ePacketFlags eFlags)
{
	enet_uint32 uiFlags = 0;
	if (eFlags & PACKET_FLAG_RELIABLE)
		uiFlags |= ENET_PACKET_FLAG_RELIABLE;
	if (eFlags & PACKET_FLAG_UNSEQUENCED)
		uiFlags |= ENET_PACKET_FLAG_UNSEQUENCED;
	return uiFlags;
}

// ENet takes a packet only when a peer queued it; one nobody holds is ours to free.
void FreeIfUnclaimed(ENetPacket* pPacket)
{
	if (pPacket && pPacket->referenceCount == 0)
		enet_packet_destroy(pPacket);
}

void ToIPAddress(const ENetAddress& From, CIPAddress& Address)
{
	Address.m_usFamily = AF_INET;
	Address.m_usPort = From.port;
	Address.m_uiIPv4 = From.host;
}

// Drops a reference of ours (the shared packet's, a held-back message's) and frees the packet if it was the last.
void DropReference(ENetPacket* pPacket)
{
	pPacket->referenceCount--;
	FreeIfUnclaimed(pPacket);
}
}

CENetSystem::CENetSystem(CNetEvents* pEvents) :
	m_eState(NETSTATE_IDLE),
	m_pEvents(pEvents),
	m_pHost(nullptr),
	m_uiNextSerial(1),
	m_QueuedSinceService(0),
	m_pSharedPacket(nullptr),
	m_uiSharedPacketFlags(0),
	m_bDeferBroadcasts(false)
{
}

CENetSystem::~CENetSystem()
{
	StopNetworkThread();
	ClearQueues();
	{
		CLockable::CLock Lock(m_HostLock);
		if (m_pHost)
		{
			for (size_t Slot = 0; Slot < m_DeferredMessages.size(); Slot++)
				DropDeferred(Slot);
			ReleaseSharedPacket();
			enet_host_destroy(m_pHost);
			m_pHost = nullptr;
		}
	}
	CENetSystem* pSelf = this;
	g_pENet.compare_exchange_strong(pSelf, nullptr);
}

bool CENetSystem::InitAsServer(uint16_t usPort, const char* szBindIP, bool bMultithreaded)
{
	if (m_pHost)
		return false;
	m_eState = NETSTATE_IDLE;

	ENetAddress Address;
	Address.host = ENET_HOST_ANY;
	Address.port = usPort;
	if (szBindIP && szBindIP[0] != '\0' && enet_address_set_host(&Address, szBindIP) != 0)
		return false;

	ENetHost* pHost = enet_host_create(&Address, NET_MAX_PEERS, NET_CHANNEL_COUNT, 0, 0);
	if (!pHost)
		return false;
	pHost->intercept = InterceptCB;
	// Clients compress with the range coder; a host without it could not read a single message.
	if (enet_host_compress_with_range_coder(pHost) != 0)
	{
		enet_host_destroy(pHost);
		return false;
	}

	{
		CLockable::CLock Lock(m_HostLock);
		m_PeerSerials.assign(pHost->peerCount, 0);
		m_DeferredMessages.assign(pHost->peerCount, {});
		m_pHost = pHost;
	}
	m_eState = NETSTATE_LISTENING;

	if (bMultithreaded)
		InitNetworkThread();
	return true;
}

bool CENetSystem::InitNetworkThread()
{
	if (!m_pNetworkThread.IsNull())
		return true;
	AutoDelete<CThreadCB> pThread(new CThreadCB("NetworkThread", NetworkThreadMain, this));
	if (!pThread->Start())
		return false;
	m_pNetworkThread = std::move(pThread);
	return true;
}

void CENetSystem::StopNetworkThread()
{
	if (m_pNetworkThread.IsNull())
		return;
	m_StopSignal.Signal();
	m_pNetworkThread->Join();
	m_pNetworkThread.Delete();
	m_StopSignal.Reset();
}

int CENetSystem::NetworkThreadMain(Thread*, void* pUserData)
{
	CENetSystem* pSystem = static_cast<CENetSystem*>(pUserData);
	while (!pSystem->m_StopSignal.IsSignalled())
	{
		g_pENet = pSystem;
		{
			CLockable::CLock Lock(pSystem->m_HostLock);
			if (pSystem->m_pHost)
				pSystem->ServiceHost();
		}
		usleep(NETWORK_THREAD_REST_US);
	}
	return 0;
}

bool CENetSystem::Connect(const char*, uint16_t)
{
	return false;
}

void CENetSystem::Disconnect(void* pPeer, unsigned uiReason)
{
	if (!pPeer)
		return;
	CLockable::CLock Lock(m_HostLock);
	ENetPeer* pENetPeer = ResolvePeer(pPeer);
	if (!pENetPeer)
		return;
	// ENet drops whatever is queued for a peer it is told to disconnect; so are the messages held back for it.
	DropDeferred(static_cast<size_t>(pENetPeer - m_pHost->peers));
	enet_peer_disconnect(pENetPeer, uiReason);
}

void CENetSystem::Update()
{
	// Without the thread, what arrives while the events are handled (a client's answer to what was just sent to
	// it) is taken in the same Update, as a service loop that handled each event at once would, rather than a
	// whole pass later. The rounds are bounded so that peers sending without pause cannot hold the pass.
	const size_t Rounds = m_pNetworkThread.IsNull() ? UPDATE_SERVICE_ROUNDS : 1;
	for (size_t Round = 0; Round < Rounds; Round++)
	{
		if (m_pNetworkThread.IsNull())
			ServiceHostHere();

		// Events reach the sink outside the host lock, on this thread, in the order the host reported them.
		if (!m_EventSignal.IsSignalled())
			break;
		std::vector<tNetEvent> Events;
		{
			CLockable::CLock Lock(m_EventLock);
			Events.swap(m_EventQueue);
			m_EventSignal.Reset();
		}
		if (m_pNetworkThread.IsNull())
			SetDeferBroadcasts(true);
		for (const tNetEvent& Event : Events)
			ProcessEvent(Event);
	}
	if (m_pNetworkThread.IsNull())
		SetDeferBroadcasts(false);
}

void CENetSystem::SetDeferBroadcasts(bool bDefer)
{
	CLockable::CLock Lock(m_HostLock);
	m_bDeferBroadcasts = bDefer;
	if (bDefer || !m_pHost)
		return;
	std::vector<size_t> Slots;
	Slots.swap(m_DeferredSlots);
	for (size_t Slot : Slots)
	{
		SendDeferred(Slot);
		ServiceIfMuchQueued();
	}
}

bool CENetSystem::SendPacket(void* pPeer, Packet* pPacket, ePacketPriority ePriority, ePacketFlags eFlags,
	uint8_t ucChannel)
{
	// ENet's range coder fails on an empty payload; every real message carries at least its header.
	if (!m_pHost || !pPacket || pPacket->GetSize() == 0)
		return false;
	if (!pPeer && !(eFlags & PACKET_FLAG_EVERYONE))
		return false;

	if (m_pNetworkThread.IsNull())
	{
		CLockable::CLock Lock(m_HostLock);
		g_pENet = this;
		ENetPacket* pENetPacket = SharePacket(pPacket, eFlags);
		if (!pENetPacket)
			return false;
		if ((eFlags & PACKET_FLAG_EVERYONE) && m_bDeferBroadcasts)
		{
			DeferBroadcast(pENetPacket, ucChannel);
			return true;
		}
		const bool bSent = SendToPeers(pPeer, pENetPacket, eFlags, ucChannel);
		NoteQueued(pPacket->GetSize(), eFlags);
		return bSent;
	}

	ENetPacket* pENetPacket = enet_packet_create(pPacket->GetData(), pPacket->GetSize(), ToENetFlags(eFlags));
	if (!pENetPacket)
		return false;
	CLockable::CLock Lock(m_SendLock);
	m_SendQueue.push_back({ePriority, eFlags, ucChannel, pPeer, pENetPacket});
	m_SendSignal.Signal();
	return true;
}

void CENetSystem::Wait(unsigned uiMicroseconds)
{
	if (m_pNetworkThread.IsNull())
		ServiceHostHere();
	usleep(uiMicroseconds);
}

void CENetSystem::ServiceHostHere()
{
	g_pENet = this;
	CLockable::CLock Lock(m_HostLock);
	if (m_pHost)
		ServiceHost();
}

bool CENetSystem::GetIPAddress(void* pPeer, CIPAddress& Address)
{
	CLockable::CLock Lock(m_HostLock);
	ENetPeer* pENetPeer = ResolvePeer(pPeer);
	if (!pENetPeer)
		return false;
	ToIPAddress(pENetPeer->address, Address);
	return true;
}

uint32_t CENetSystem::GetLastPing(void* pPeer)
{
	if (!pPeer)
		return PING_UNKNOWN;
	CLockable::CLock Lock(m_HostLock);
	ENetPeer* pENetPeer = ResolvePeer(pPeer);
	if (!pENetPeer)
		return PING_UNKNOWN;
	return pENetPeer->roundTripTime;
}

void CENetSystem::ServiceHost()
{
	ProcessPendingPackets();
	DrainHost();
}

void CENetSystem::DrainHost()
{
	ReleaseSharedPacket();
	m_QueuedSinceService = 0;
	ENetEvent Event;
	while (enet_host_service(m_pHost, &Event, 0) > 0)
		QueueEvent(Event);
}

void CENetSystem::NoteQueued(size_t Size, ePacketFlags eFlags)
{
	m_QueuedSinceService += (eFlags & PACKET_FLAG_EVERYONE) ? Size * m_pHost->connectedPeers : Size;
	ServiceIfMuchQueued();
}

void CENetSystem::ServiceIfMuchQueued()
{
	if (m_QueuedSinceService >= SERVICE_AFTER_QUEUED_BYTES)
		DrainHost();
}

void CENetSystem::ProcessPendingPackets()
{
	if (!m_pHost || !m_SendSignal.IsSignalled())
		return;
	std::vector<tPendingPacket> Pending;
	{
		CLockable::CLock Lock(m_SendLock);
		Pending.swap(m_SendQueue);
		m_SendSignal.Reset();
	}
	for (const tPendingPacket& Entry : Pending)
	{
		const size_t Size = Entry.m_pPacket->dataLength;
		SendToPeers(Entry.m_pPeer, Entry.m_pPacket, Entry.m_eFlags, Entry.m_ucChannel);
		NoteQueued(Size, Entry.m_eFlags);
	}
}

void CENetSystem::QueueEvent(const ENetEvent& Event)
{
	tNetEvent Queued = {Event.type, nullptr, Event.channelID, Event.data, Event.packet};
	const size_t Slot = static_cast<size_t>(Event.peer - m_pHost->peers);
	switch (Event.type)
	{
	case ENET_EVENT_TYPE_CONNECT:
		// A new connection never gets what was meant for an earlier one in the slot.
		DropDeferred(Slot);
		Event.peer->data = nullptr;
		m_PeerSerials[Slot] = m_uiNextSerial++;
		Queued.m_pPeer = MakePeerHandle(Slot, m_PeerSerials[Slot]);
		break;
	case ENET_EVENT_TYPE_RECEIVE:
		// Nothing was reported for this slot, so no one could answer the message.
		if (m_PeerSerials[Slot] == 0)
		{
			enet_packet_destroy(Event.packet);
			return;
		}
		Queued.m_pPeer = MakePeerHandle(Slot, m_PeerSerials[Slot]);
		break;
	case ENET_EVENT_TYPE_DISCONNECT:
		DropDeferred(Slot);
		// The slot is free from here on; sends and disconnects still aimed at this connection go nowhere.
		Queued.m_pPeer = MakePeerHandle(Slot, m_PeerSerials[Slot] != 0 ? m_PeerSerials[Slot] : m_uiNextSerial++);
		m_PeerSerials[Slot] = 0;
		break;
	default:
		return;
	}

	CLockable::CLock Lock(m_EventLock);
	m_EventQueue.push_back(Queued);
	m_EventSignal.Signal();
}

ENetPeer* CENetSystem::ResolvePeer(void* pPeer) const
{
	if (!m_pHost || !pPeer)
		return nullptr;
	const uintptr_t uHandle = reinterpret_cast<uintptr_t>(pPeer);
	const size_t Slot = static_cast<size_t>(uHandle & PEER_SLOT_MASK);
	const uint64_t uiSerial = KGetPeerConnectSerial(pPeer);
	if (Slot >= m_pHost->peerCount || uiSerial == 0 || m_PeerSerials[Slot] != uiSerial)
		return nullptr;
	return &m_pHost->peers[Slot];
}

ENetPacket* CENetSystem::SharePacket(Packet* pPacket, ePacketFlags eFlags)
{
	const size_t Size = pPacket->GetSize();
	const enet_uint32 uiFlags = ToENetFlags(eFlags);
	// ENet never writes to a packet's bytes, so one that holds exactly these bytes with these flags can go to any
	// number of peers: a message sent to many clients in a row is then copied once, not once per client.
	if (m_pSharedPacket && m_uiSharedPacketFlags == uiFlags && m_pSharedPacket->dataLength == Size &&
		memcmp(m_pSharedPacket->data, pPacket->GetData(), Size) == 0)
		return m_pSharedPacket;
	ENetPacket* pENetPacket = enet_packet_create(pPacket->GetData(), Size, uiFlags);
	if (!pENetPacket)
		return nullptr;
	ReleaseSharedPacket();
	// Our own reference keeps it alive after every peer it went to is done with it, until it is released.
	pENetPacket->referenceCount++;
	m_pSharedPacket = pENetPacket;
	m_uiSharedPacketFlags = uiFlags;
	return pENetPacket;
}

void CENetSystem::ReleaseSharedPacket()
{
	if (!m_pSharedPacket)
		return;
	DropReference(m_pSharedPacket);
	m_pSharedPacket = nullptr;
}

bool CENetSystem::IsConnectedSlot(size_t Slot) const
{
	return m_PeerSerials[Slot] != 0 && m_pHost->peers[Slot].state == ENET_PEER_STATE_CONNECTED;
}

bool CENetSystem::SendToPeers(void* pPeer, ENetPacket* pPacket, ePacketFlags eFlags, uint8_t ucChannel)
{
	if (eFlags & PACKET_FLAG_EVERYONE)
	{
		// What ENet's own broadcast does, but over the slots that carry a connection rather than every peer the
		// host could hold: thousands of slots for a hundred clients.
		for (size_t Slot = 0; Slot < m_PeerSerials.size(); Slot++)
		{
			if (IsConnectedSlot(Slot))
				enet_peer_send(&m_pHost->peers[Slot], ucChannel, pPacket);
		}
		FreeIfUnclaimed(pPacket);
		return true;
	}
	ENetPeer* pENetPeer = ResolvePeer(pPeer);
	// Broadcasts held back for this peer go first: every peer gets its messages in the order they were sent.
	if (pENetPeer)
		SendDeferred(static_cast<size_t>(pENetPeer - m_pHost->peers));
	if (!pENetPeer || enet_peer_send(pENetPeer, ucChannel, pPacket) < 0)
	{
		FreeIfUnclaimed(pPacket);
		return false;
	}
	return true;
}

void CENetSystem::DeferBroadcast(ENetPacket* pPacket, uint8_t ucChannel)
{
	for (size_t Slot = 0; Slot < m_PeerSerials.size(); Slot++)
	{
		if (!IsConnectedSlot(Slot))
			continue;
		std::vector<tDeferredMessage>& Messages = m_DeferredMessages[Slot];
		if (Messages.empty())
			m_DeferredSlots.push_back(Slot);
		// Each held message keeps a reference, as a queued ENet command does.
		pPacket->referenceCount++;
		Messages.push_back({pPacket, ucChannel});
	}
}

void CENetSystem::SendDeferred(size_t Slot)
{
	std::vector<tDeferredMessage>& Messages = m_DeferredMessages[Slot];
	if (Messages.empty())
		return;
	ENetPeer* pENetPeer = &m_pHost->peers[Slot];
	const bool bConnected = IsConnectedSlot(Slot);
	for (const tDeferredMessage& Message : Messages)
	{
		if (bConnected && enet_peer_send(pENetPeer, Message.m_ucChannel, Message.m_pPacket) == 0)
			m_QueuedSinceService += Message.m_pPacket->dataLength;
		DropReference(Message.m_pPacket);
	}
	Messages.clear();
}

void CENetSystem::DropDeferred(size_t Slot)
{
	if (Slot >= m_DeferredMessages.size())
		return;
	for (const tDeferredMessage& Message : m_DeferredMessages[Slot])
		DropReference(Message.m_pPacket);
	m_DeferredMessages[Slot].clear();
}

void CENetSystem::ProcessEvent(const tNetEvent& Event)
{
	CNetEvents* pEvents = m_pEvents.load();
	switch (Event.m_iType)
	{
	case ENET_EVENT_TYPE_CONNECT:
		if (pEvents)
			pEvents->ConnectEvent(Event.m_pPeer);
		break;
	case ENET_EVENT_TYPE_RECEIVE:
		if (pEvents)
			pEvents->PacketEvent(Event.m_pPeer, Event.m_pPacket->dataLength, Event.m_pPacket->data);
		enet_packet_destroy(Event.m_pPacket);
		break;
	case ENET_EVENT_TYPE_DISCONNECT:
		if (pEvents)
			pEvents->DisconnectEvent(Event.m_pPeer, Event.m_uiData);
		break;
	default:
		break;
	}
}

void CENetSystem::ClearQueues()
{
	std::vector<tPendingPacket> Pending;
	std::vector<tNetEvent> Events;
	{
		CLockable::CLock Lock(m_SendLock);
		Pending.swap(m_SendQueue);
		m_SendSignal.Reset();
	}
	{
		CLockable::CLock Lock(m_EventLock);
		Events.swap(m_EventQueue);
		m_EventSignal.Reset();
	}
	for (const tPendingPacket& Entry : Pending)
		FreeIfUnclaimed(Entry.m_pPacket);
	for (const tNetEvent& Event : Events)
	{
		if (Event.m_pPacket)
			enet_packet_destroy(Event.m_pPacket);
	}
}

int CENetSystem::InterceptCB(ENetHost* pHost, ENetEvent*)
{
	CENetSystem* pSystem = g_pENet.load();
	if (!pSystem || pSystem->m_pHost != pHost)
		return 0;
	CNetEvents* pEvents = pSystem->m_pEvents.load();
	if (!pEvents)
		return 0;
	if (pHost->receivedDataLength < 2 || pHost->receivedData[0] != FOREIGN_DATAGRAM_MARKER ||
		pHost->receivedData[1] != FOREIGN_DATAGRAM_MARKER)
		return 0;
	CENetSocket Socket(pHost);
	return pEvents->ReceiveDatagram(&Socket) ? 1 : 0;
}

const void* CENetSocket::GetData(size_t& Length)
{
	Length = m_pHost->receivedDataLength;
	return m_pHost->receivedData;
}

bool CENetSocket::Send(Packet* pPacket)
{
	if (!pPacket)
		return false;
	ENetBuffer Buffer;
	Buffer.data = pPacket->GetData();
	Buffer.dataLength = pPacket->GetSize();
	return enet_socket_send(m_pHost->socket, &m_pHost->receivedAddress, &Buffer, 1) >= 0;
}

bool CENetSocket::GetSender(CIPAddress& Address)
{
	ToIPAddress(m_pHost->receivedAddress, Address);
	return true;
}
