#pragma once
// Vehicles and peds that clients create themselves (messages 111 and 116, only with synclocalentities on): the
// server reads the element the client describes, registers it with the client as its syncer and answers with the
// element's network id (message 112). A random traffic vehicle that would appear too close to anything already in
// the world is refused with the id -1.

#include <cstdint>

class CBaseServer;
class CGTAClient;
class Stream;

class CPeer2PeerSystem
{
public:
	enum
	{
		// The bytes a client tags its request with; the server only echoes them.
		REQUEST_TAG_SIZE = 8,
	};

	// The element manager is the one the server holds at the time of each message.
	explicit CPeer2PeerSystem(CBaseServer* pServer);

	// Messages 111 (a vehicle) and 116 (a ped). A request that ends early, that the client may not make any
	// more, or whose element cannot be registered gets no answer and leaves nothing behind.
	void ProcessPacket(CGTAClient* pClient, unsigned uiId, Stream* pStream);

private:
	void SendAnswer(CGTAClient* pClient, uint32_t uiType, uint32_t uiLocalId, const uint8_t* pucTag, int32_t iId);

	CBaseServer* m_pServer;
};
