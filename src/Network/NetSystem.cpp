#include "Network/NetSystem.h"

#include <arpa/inet.h>
#include <cstring>
#include <sys/socket.h>

CIPAddress::CIPAddress() : m_usFamily(AF_INET), m_usPort(0), m_uiIPv4(0)
{
	memset(m_rgucIPv6, 0, sizeof(m_rgucIPv6));
	memset(m_rgucReserved, 0, sizeof(m_rgucReserved));
}

bool CIPAddress::ToString(char* szBuffer, size_t Size) const
{
	if (!szBuffer || Size == 0)
		return false;
	char szText[128];
	const char* szResult;
	if (m_usFamily == AF_INET)
		szResult = inet_ntop(AF_INET, &m_uiIPv4, szText, sizeof(szText));
	else
		szResult = inet_ntop(AF_INET6, m_rgucIPv6, szText, sizeof(szText));
	if (!szResult)
		return false;
	size_t Length = strlen(szText);
	if (Length >= Size)
		return false;
	memcpy(szBuffer, szText, Length + 1);
	return true;
}

bool CNetSystem::SendHostPacket(Packet* pPacket, ePacketPriority ePriority, ePacketFlags eFlags, uint8_t ucChannel)
{
	return SendPacket(nullptr, pPacket, ePriority, eFlags | PACKET_FLAG_EVERYONE, ucChannel);
}

bool CNetSystem::SendEveryonePacket(Packet* pPacket, ePacketPriority ePriority, ePacketFlags eFlags,
	uint8_t ucChannel)
{
	return SendHostPacket(pPacket, ePriority, eFlags, ucChannel);
}
