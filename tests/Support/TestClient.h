#pragma once
// A stand-in for a game client: one ENet host with the range coder, connected to a server on the loopback, that
// sends and receives whole messages. Every wait is bounded by a time-out, which is a safety net and never a
// measurement. When the server runs in the test's own process without a network thread, give the client a pump
// (usually the server's network update) so the server is serviced while the client waits.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

#include "Support/TestMessage.h"

struct _ENetHost;
struct _ENetPeer;

namespace VexaTest
{
constexpr int DEFAULT_TIMEOUT_MS = 5000;
// What a game client opens: every channel the server's host allows.
constexpr size_t CLIENT_CHANNEL_COUNT = 255;

struct tReceivedMessage
{
	// False when the datagram did not start with a valid header; then only m_Data is meaningful.
	bool m_bHasHeader;
	uint32_t m_uiId;
	uint8_t m_ucChannel;
	// Whether the server sent it reliable.
	bool m_bReliable;
	// The whole datagram, and the bytes after the header.
	std::vector<uint8_t> m_Data;
	std::vector<uint8_t> m_Body;
};

class CTestClient
{
public:
	typedef std::function<void()> Pump;

	CTestClient();
	// Drops the connection without a notice; the server sees it time out.
	~CTestClient();

	CTestClient(const CTestClient&) = delete;
	CTestClient& operator=(const CTestClient&) = delete;

	void SetPump(Pump pfnPump) { m_pfnPump = std::move(pfnPump); }

	// Connects to 127.0.0.1:usPort; false when the connection is not up within the time-out.
	bool Connect(uint16_t usPort, int iTimeoutMs = DEFAULT_TIMEOUT_MS, size_t ChannelCount = CLIENT_CHANNEL_COUNT);
	bool IsConnected() const { return m_bConnected; }
	// The connection ended (the server disconnected it, or Disconnect finished), and the reason it carried.
	bool IsDisconnected() const { return m_bDisconnected; }
	uint32_t GetDisconnectReason() const { return m_uiDisconnectReason; }
	uint16_t GetLocalPort() const;

	bool Send(const CTestMessage& Message, uint8_t ucChannel = 0, bool bReliable = true);
	bool SendRaw(const void* pData, size_t Size, uint8_t ucChannel = 0, bool bReliable = true);

	// The oldest message received and not yet taken.
	bool Receive(tReceivedMessage& Message, int iTimeoutMs = DEFAULT_TIMEOUT_MS);
	// The oldest message with this id; messages before it stay queued.
	bool WaitForMessage(uint32_t uiId, tReceivedMessage& Message, int iTimeoutMs = DEFAULT_TIMEOUT_MS);
	bool WaitForDisconnect(int iTimeoutMs = DEFAULT_TIMEOUT_MS);
	// Services the connection for the given time, queueing whatever arrives.
	void Service(int iMilliseconds);
	std::vector<tReceivedMessage> TakeAll();
	size_t GetQueuedCount() const { return m_Received.size(); }

	// A graceful disconnect with the reason; waits until the server acknowledged it.
	bool Disconnect(uint32_t uiReason = 0, int iTimeoutMs = DEFAULT_TIMEOUT_MS);
	// Drops the connection at once; the server hears of it only when the peer times out.
	void Reset();

private:
	// One round: services the host briefly and runs the pump.
	void Step();
	template <class TCondition>
	bool WaitUntil(TCondition Condition, int iTimeoutMs);

	_ENetHost* m_pHost;
	_ENetPeer* m_pPeer;
	bool m_bConnected;
	bool m_bDisconnected;
	uint32_t m_uiDisconnectReason;
	Pump m_pfnPump;
	std::deque<tReceivedMessage> m_Received;
};
}
