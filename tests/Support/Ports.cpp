#include "Support/Ports.h"

#include <arpa/inet.h>
#include <mutex>
#include <set>
#include <sys/socket.h>
#include <unistd.h>

namespace VexaTest
{
namespace
{
bool IsPortFree(uint16_t usPort, int iSocketType)
{
	int iSocket = BindPort(usPort, iSocketType);
	if (iSocket < 0)
		return false;
	close(iSocket);
	return true;
}

// A port the system picks for a TCP socket on the loopback, or 0.
uint16_t AskForPort()
{
	int iSocket = socket(AF_INET, SOCK_STREAM, 0);
	if (iSocket < 0)
		return 0;
	sockaddr_in Address{};
	Address.sin_family = AF_INET;
	Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
	Address.sin_port = 0;
	socklen_t Length = sizeof(Address);
	uint16_t usPort = 0;
	if (bind(iSocket, reinterpret_cast<sockaddr*>(&Address), sizeof(Address)) == 0 &&
		getsockname(iSocket, reinterpret_cast<sockaddr*>(&Address), &Length) == 0)
		usPort = ntohs(Address.sin_port);
	close(iSocket);
	return usPort;
}
}

uint16_t FindFreePort()
{
	static std::mutex s_Mutex;
	static std::set<uint16_t> s_HandedOut;
	std::lock_guard<std::mutex> Lock(s_Mutex);
	for (int iAttempt = 0; iAttempt < 64; iAttempt++)
	{
		const uint16_t usPort = AskForPort();
		if (usPort != 0 && !s_HandedOut.count(usPort) && IsPortFree(usPort, SOCK_DGRAM) && IsPortFree(usPort, SOCK_STREAM))
		{
			s_HandedOut.insert(usPort);
			return usPort;
		}
	}
	return 0;
}

int BindPort(uint16_t usPort, int iSocketType, uint32_t uiAddress)
{
	int iSocket = socket(AF_INET, iSocketType, 0);
	if (iSocket < 0)
		return -1;
	sockaddr_in Address{};
	Address.sin_family = AF_INET;
	Address.sin_addr.s_addr = htonl(uiAddress);
	Address.sin_port = htons(usPort);
	if (bind(iSocket, reinterpret_cast<sockaddr*>(&Address), sizeof(Address)) != 0)
	{
		close(iSocket);
		return -1;
	}
	return iSocket;
}
}
