#include "Support/TestDatagramSocket.h"

#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace VexaTest
{
CTestDatagramSocket::CTestDatagramSocket(uint32_t uiLocalAddress) : m_iSocket(socket(AF_INET, SOCK_DGRAM, 0))
{
	if (m_iSocket < 0)
		return;
	sockaddr_in Address = {};
	Address.sin_family = AF_INET;
	Address.sin_addr.s_addr = htonl(uiLocalAddress);
	if (bind(m_iSocket, reinterpret_cast<sockaddr*>(&Address), sizeof(Address)) != 0)
	{
		close(m_iSocket);
		m_iSocket = -1;
	}
}

CTestDatagramSocket::~CTestDatagramSocket()
{
	if (m_iSocket >= 0)
		close(m_iSocket);
}

bool CTestDatagramSocket::Send(uint16_t usPort, const std::vector<uint8_t>& Data)
{
	if (m_iSocket < 0)
		return false;
	sockaddr_in Address = {};
	Address.sin_family = AF_INET;
	Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
	Address.sin_port = htons(usPort);
	ssize_t Sent = sendto(m_iSocket, Data.data(), Data.size(), 0, reinterpret_cast<sockaddr*>(&Address),
		sizeof(Address));
	return Sent == static_cast<ssize_t>(Data.size());
}

bool CTestDatagramSocket::Receive(std::vector<uint8_t>& Data, int iTimeoutMs)
{
	if (m_iSocket < 0)
		return false;
	const auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(iTimeoutMs);
	while (std::chrono::steady_clock::now() < Deadline)
	{
		if (m_pfnPump)
			m_pfnPump();
		pollfd Poll = {m_iSocket, POLLIN, 0};
		if (poll(&Poll, 1, m_pfnPump ? 1 : 10) > 0 && (Poll.revents & POLLIN))
		{
			uint8_t rgucBuffer[65536];
			ssize_t Received = recv(m_iSocket, rgucBuffer, sizeof(rgucBuffer), 0);
			if (Received < 0)
				return false;
			Data.assign(rgucBuffer, rgucBuffer + Received);
			return true;
		}
	}
	return false;
}
}
