#pragma once
// Ports for the servers tests start: free ones to hand out, and sockets that hold one so that a start must fail.

#include <cstdint>
#include <netinet/in.h>

namespace VexaTest
{
// A port that was free on this machine a moment ago for UDP and TCP alike, or 0 when none was found. A port is
// handed out once among all test processes alive at the same time, so the ports of one configuration never
// coincide and servers started side by side or one after another never race for a port.
uint16_t FindFreePort();

// A socket of the type (SOCK_DGRAM, SOCK_STREAM) bound to the port on the address (host byte order), which holds
// the port until it is closed; -1 when the socket cannot be made or bound.
int BindPort(uint16_t usPort, int iSocketType, uint32_t uiAddress = INADDR_ANY);
}
