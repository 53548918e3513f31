#include "Support/TestClient.h"

#include <chrono>
#include <enet/enet.h>
#include <unistd.h>

namespace VexaTest
{
namespace
{
bool InitialiseENet()
{
	static const bool s_bInitialised = enet_initialize() == 0;
	return s_bInitialised;
}
}

CTestClient::CTestClient() :
	m_pHost(nullptr),
	m_pPeer(nullptr),
	m_bConnected(false),
	m_bDisconnected(false),
	m_uiDisconnectReason(0)
{
}

CTestClient::~CTestClient()
{
	Reset();
}

bool CTestClient::Connect(uint16_t usPort, int iTimeoutMs, size_t ChannelCount)
{
	Reset();
	if (!InitialiseENet())
		return false;
	m_pHost = enet_host_create(nullptr, 1, ChannelCount, 0, 0);
	if (!m_pHost)
		return false;
	if (enet_host_compress_with_range_coder(m_pHost) != 0)
	{
		Reset();
		return false;
	}
	ENetAddress Address;
	Address.port = usPort;
	if (enet_address_set_host_ip(&Address, "127.0.0.1") != 0)
	{
		Reset();
		return false;
	}
	m_pPeer = enet_host_connect(m_pHost, &Address, ChannelCount, 0);
	if (!m_pPeer)
	{
		Reset();
		return false;
	}
	return WaitUntil([this] { return m_bConnected || m_bDisconnected; }, iTimeoutMs) && m_bConnected;
}

uint16_t CTestClient::GetLocalPort() const
{
	if (!m_pHost)
		return 0;
	ENetAddress Address;
	if (enet_socket_get_address(m_pHost->socket, &Address) != 0)
		return 0;
	return Address.port;
}

bool CTestClient::Send(const CTestMessage& Message, uint8_t ucChannel, bool bReliable)
{
	return SendRaw(Message.GetBytes().data(), Message.GetBytes().size(), ucChannel, bReliable);
}

bool CTestClient::SendRaw(const void* pData, size_t Size, uint8_t ucChannel, bool bReliable)
{
	if (!m_bConnected)
		return false;
	ENetPacket* pPacket = enet_packet_create(pData, Size, bReliable ? ENET_PACKET_FLAG_RELIABLE : 0);
	if (!pPacket)
		return false;
	if (enet_peer_send(m_pPeer, ucChannel, pPacket) < 0)
	{
		enet_packet_destroy(pPacket);
		return false;
	}
	enet_host_flush(m_pHost);
	return true;
}

void CTestClient::Step()
{
	if (m_pHost)
	{
		ENetEvent Event;
		// Everything already waiting, then a short wait so that a lone client does not spin.
		int iWait = m_pfnPump ? 0 : 2;
		while (enet_host_service(m_pHost, &Event, static_cast<enet_uint32>(iWait)) > 0)
		{
			iWait = 0;
			switch (Event.type)
			{
			case ENET_EVENT_TYPE_CONNECT:
				m_bConnected = true;
				break;
			case ENET_EVENT_TYPE_DISCONNECT:
				m_bConnected = false;
				m_bDisconnected = true;
				m_uiDisconnectReason = Event.data;
				m_pPeer = nullptr;
				break;
			case ENET_EVENT_TYPE_RECEIVE:
			{
				tReceivedMessage Message;
				Message.m_ucChannel = Event.channelID;
				Message.m_bReliable = (Event.packet->flags & ENET_PACKET_FLAG_RELIABLE) != 0;
				Message.m_Data.assign(Event.packet->data, Event.packet->data + Event.packet->dataLength);
				Message.m_uiId = 0;
				Message.m_bHasHeader = ParseMessage(Message.m_Data, Message.m_uiId, Message.m_Body);
				m_Received.push_back(std::move(Message));
				enet_packet_destroy(Event.packet);
				break;
			}
			default:
				break;
			}
		}
	}
	if (m_pfnPump)
	{
		m_pfnPump();
		usleep(1000);
	}
}

template <class TCondition>
bool CTestClient::WaitUntil(TCondition Condition, int iTimeoutMs)
{
	const auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(iTimeoutMs);
	while (!Condition())
	{
		if (std::chrono::steady_clock::now() >= Deadline)
			return false;
		Step();
	}
	return true;
}

bool CTestClient::Receive(tReceivedMessage& Message, int iTimeoutMs)
{
	if (!WaitUntil([this] { return !m_Received.empty(); }, iTimeoutMs))
		return false;
	Message = std::move(m_Received.front());
	m_Received.pop_front();
	return true;
}

bool CTestClient::WaitForMessage(uint32_t uiId, tReceivedMessage& Message, int iTimeoutMs)
{
	auto Find = [this, uiId] {
		for (auto it = m_Received.begin(); it != m_Received.end(); ++it)
		{
			if (it->m_bHasHeader && it->m_uiId == uiId)
				return it;
		}
		return m_Received.end();
	};
	if (!WaitUntil([&] { return Find() != m_Received.end(); }, iTimeoutMs))
		return false;
	auto it = Find();
	Message = std::move(*it);
	m_Received.erase(it);
	return true;
}

bool CTestClient::WaitForDisconnect(int iTimeoutMs)
{
	return WaitUntil([this] { return m_bDisconnected; }, iTimeoutMs);
}

void CTestClient::Service(int iMilliseconds)
{
	WaitUntil([] { return false; }, iMilliseconds);
}

std::vector<tReceivedMessage> CTestClient::TakeAll()
{
	std::vector<tReceivedMessage> Messages(std::make_move_iterator(m_Received.begin()),
		std::make_move_iterator(m_Received.end()));
	m_Received.clear();
	return Messages;
}

bool CTestClient::Disconnect(uint32_t uiReason, int iTimeoutMs)
{
	if (!m_bConnected)
		return false;
	enet_peer_disconnect(m_pPeer, uiReason);
	return WaitUntil([this] { return m_bDisconnected; }, iTimeoutMs);
}

void CTestClient::Reset()
{
	if (m_pPeer)
		enet_peer_reset(m_pPeer);
	m_pPeer = nullptr;
	if (m_pHost)
		enet_host_destroy(m_pHost);
	m_pHost = nullptr;
	m_bConnected = false;
	m_bDisconnected = false;
	m_uiDisconnectReason = 0;
	m_Received.clear();
}
}
