#include "Network/Packet.h"

Packet::Packet()
{
}

Packet::Packet(unsigned uiId)
{
	const uint32_t rguiHeader[2] = {PACKET_MAGIC, uiId};
	unsigned char rgucBytes[PACKET_HEADER_SIZE];
	for (size_t i = 0; i < 2; i++)
	{
		for (size_t j = 0; j < 4; j++)
			rgucBytes[i * 4 + j] = static_cast<unsigned char>(rguiHeader[i] >> (8 * j));
	}
	// The header is 8 bytes, well inside the inline buffer, so this write cannot fail.
	Write(rgucBytes, sizeof(rgucBytes));
}

Packet::~Packet()
{
}
