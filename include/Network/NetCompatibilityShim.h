#pragma once
// The transport's event sink and the adapter the server object derives from: it owns the transport and turns
// its connects, datagrams and disconnects into the server's operations.

#include <cstddef>
#include <cstdint>

#include "Engine/KestrinReference.h"
#include "Engine/KestrinStream.h"
#include "Network/NetSystem.h"

class CENetSystem;

class CNetEvents
{
public:
	virtual void DisconnectEvent(void* pPeer, unsigned uiReason) = 0;
	virtual void LocalDisconnectEvent(unsigned uiReason) = 0;
	virtual bool ConnectEvent(void* pPeer) = 0;
	virtual void PacketEvent(void* pPeer, size_t Length, const void* pData) = 0;
	// A connectionless datagram starting FF FF. Runs on whichever thread services the host, under the host lock.
	// True when taken, so the transport ignores it.
	virtual bool ReceiveDatagram(CNetSocket* pSocket);

protected:
	~CNetEvents() = default;
};

class CNetCompatibilityShim : public CNetEvents
{
public:
	// Builds the transport with this object as its sink and makes it the process-wide transport.
	CNetCompatibilityShim();
	// Stops the network thread before anything else, then deletes the transport.
	virtual ~CNetCompatibilityShim();

	CNetCompatibilityShim(const CNetCompatibilityShim&) = delete;
	CNetCompatibilityShim& operator=(const CNetCompatibilityShim&) = delete;

	void DisconnectEvent(void* pPeer, unsigned uiReason) override;
	void LocalDisconnectEvent(unsigned uiReason) override;
	bool ConnectEvent(void* pPeer) override;
	// Checks the header and hands the id and the rest of the bytes to ProcessPacket; anything shorter than the
	// header or with another magic is dropped silently.
	void PacketEvent(void* pPeer, size_t Length, const void* pData) override;

	// The stream is positioned after the header and is valid only during the call.
	virtual void ProcessPacket(const tPeerInfo& Peer, unsigned uiId, Stream* pStream);
	virtual bool OnPlayerConnect(void* pPeer);
	virtual void OnPlayerDisconnect(void* pPeer, unsigned uiReason);
	virtual void OnFinishConnecting();

	bool InitAsServer(uint16_t usPort, const char* szBindIP, bool bMultithreaded);
	void UpdateNetwork();
	bool GetPeerIP(void* pPeer, CIPAddress& Address);

	CENetSystem* GetNetSystem() const { return m_pNetSystem.GetPointer(); }

private:
	AutoDelete<CENetSystem> m_pNetSystem;
};
