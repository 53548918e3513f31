#pragma once
// A plain UDP socket on the loopback for connectionless datagrams to the game port (the query protocol), outside
// any ENet connection.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace VexaTest
{
class CTestDatagramSocket
{
public:
	static constexpr uint32_t LOOPBACK_ADDRESS = 0x7F000001;

	typedef std::function<void()> Pump;

	// Sends from the IPv4 address (host order), which must be on the loopback (127.0.0.0/8): the server tells
	// query sources apart by their address.
	explicit CTestDatagramSocket(uint32_t uiLocalAddress = LOOPBACK_ADDRESS);
	~CTestDatagramSocket();

	CTestDatagramSocket(const CTestDatagramSocket&) = delete;
	CTestDatagramSocket& operator=(const CTestDatagramSocket&) = delete;

	// See CTestClient::SetPump.
	void SetPump(Pump pfnPump) { m_pfnPump = std::move(pfnPump); }

	bool IsOpen() const { return m_iSocket >= 0; }
	// To 127.0.0.1:usPort.
	bool Send(uint16_t usPort, const std::vector<uint8_t>& Data);
	// The next datagram that arrives within the time-out.
	bool Receive(std::vector<uint8_t>& Data, int iTimeoutMs = 5000);

private:
	int m_iSocket;
	Pump m_pfnPump;
};
}
