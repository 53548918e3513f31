#include "Network/NetCompatibilityShim.h"

#include "Network/BinaryStream.h"
#include "Network/ENetSystem.h"

bool CNetEvents::ReceiveDatagram(CNetSocket*)
{
	return false;
}

CNetCompatibilityShim::CNetCompatibilityShim() : m_pNetSystem(new CENetSystem(this))
{
	g_pENet = m_pNetSystem.GetPointer();
}

CNetCompatibilityShim::~CNetCompatibilityShim()
{
	// The thread may be inside the intercept, calling into this object; it must be gone before the sink is.
	m_pNetSystem->StopNetworkThread();
	m_pNetSystem->SetEventSink(nullptr);
	m_pNetSystem.Delete();
}

void CNetCompatibilityShim::DisconnectEvent(void* pPeer, unsigned uiReason)
{
	OnPlayerDisconnect(pPeer, uiReason);
}

void CNetCompatibilityShim::LocalDisconnectEvent(unsigned uiReason)
{
	OnPlayerDisconnect(nullptr, uiReason);
}

bool CNetCompatibilityShim::ConnectEvent(void* pPeer)
{
	return OnPlayerConnect(pPeer);
}

void CNetCompatibilityShim::PacketEvent(void* pPeer, size_t Length, const void* pData)
{
	if (!pData)
		return;
	// A view of the received bytes, without a copy; it lives only for this call, as the datagram does.
	CMemoryStream Stream(pData, Length);
	CBinaryReader Reader(&Stream);
	uint32_t uiMagic;
	uint32_t uiId;
	if (!Reader.ReadUInt32(&uiMagic) || uiMagic != PACKET_MAGIC)
		return;
	if (!Reader.ReadUInt32(&uiId))
		return;
	const tPeerInfo Peer = {pPeer, KGetPeerConnectSerial(pPeer)};
	ProcessPacket(Peer, uiId, &Stream);
}

void CNetCompatibilityShim::ProcessPacket(const tPeerInfo&, unsigned, Stream*)
{
}

bool CNetCompatibilityShim::OnPlayerConnect(void*)
{
	return true;
}

void CNetCompatibilityShim::OnPlayerDisconnect(void*, unsigned)
{
}

void CNetCompatibilityShim::OnFinishConnecting()
{
}

bool CNetCompatibilityShim::InitAsServer(uint16_t usPort, const char* szBindIP, bool bMultithreaded)
{
	return m_pNetSystem->InitAsServer(usPort, szBindIP, bMultithreaded);
}

void CNetCompatibilityShim::UpdateNetwork()
{
	m_pNetSystem->Update();
}

bool CNetCompatibilityShim::GetPeerIP(void* pPeer, CIPAddress& Address)
{
	return m_pNetSystem->GetIPAddress(pPeer, Address);
}
