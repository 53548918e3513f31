#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Network/NetCompatibilityShim.h"

namespace
{
class CPacketRecorder : public CNetCompatibilityShim
{
public:
	struct tCall
	{
		tPeerInfo m_Peer;
		unsigned m_uiId;
		long m_lPosition;
		std::vector<uint8_t> m_Rest;
	};

	void ProcessPacket(const tPeerInfo& Peer, unsigned uiId, Stream* pStream) override
	{
		tCall Call = {Peer, uiId, pStream->Tell(), {}};
		uint8_t ucByte;
		while (pStream->Read(&ucByte, 1) == 1)
			Call.m_Rest.push_back(ucByte);
		m_Calls.push_back(Call);
	}

	std::vector<tCall> m_Calls;
};

struct tDatagramCase
{
	const char* m_szName;
	std::vector<uint8_t> m_Bytes;
	bool m_bDelivered;
	unsigned m_uiId;
	std::vector<uint8_t> m_Rest;
};

TEST(NetCompatibilityShimTest, DatagramsWithAValidHeaderReachProcessPacket)
{
	const tDatagramCase rgCases[] = {
		{"header only", {0x02, 0x34, 0x52, 0x54, 0x0C, 0x00, 0x00, 0x00}, true, 12, {}},
		{"header and fields", {0x02, 0x34, 0x52, 0x54, 0x01, 0x00, 0x00, 0x00, 0x1C, 0x00}, true, 1, {0x1C, 0x00}},
		{"large id", {0x02, 0x34, 0x52, 0x54, 0x78, 0x56, 0x34, 0x12, 0xAA}, true, 0x12345678, {0xAA}},
		{"empty", {}, false, 0, {}},
		{"magic alone", {0x02, 0x34, 0x52, 0x54}, false, 0, {}},
		{"id cut after two bytes", {0x02, 0x34, 0x52, 0x54, 0x0C, 0x00}, false, 0, {}},
		{"seven bytes", {0x02, 0x34, 0x52, 0x54, 0x0C, 0x00, 0x00}, false, 0, {}},
		{"another magic", {0x02, 0x34, 0x52, 0x55, 0x0C, 0x00, 0x00, 0x00}, false, 0, {}},
		{"magic in the wrong order", {0x54, 0x52, 0x34, 0x02, 0x0C, 0x00, 0x00, 0x00}, false, 0, {}},
	};
	for (const tDatagramCase& Case : rgCases)
	{
		CPacketRecorder Recorder;
		Recorder.PacketEvent(reinterpret_cast<void*>(0x5003), Case.m_Bytes.size(), Case.m_Bytes.data());
		if (!Case.m_bDelivered)
		{
			EXPECT_TRUE(Recorder.m_Calls.empty()) << Case.m_szName;
			continue;
		}
		ASSERT_EQ(Recorder.m_Calls.size(), 1u) << Case.m_szName;
		const CPacketRecorder::tCall& Call = Recorder.m_Calls[0];
		EXPECT_EQ(Call.m_uiId, Case.m_uiId) << Case.m_szName;
		EXPECT_EQ(Call.m_lPosition, 8) << Case.m_szName;
		EXPECT_EQ(Call.m_Rest, Case.m_Rest) << Case.m_szName;
	}
}

TEST(NetCompatibilityShimTest, SenderCarriesTheHandleAndItsConnectSerial)
{
	CPacketRecorder Recorder;
	const std::vector<uint8_t> Bytes = {0x02, 0x34, 0x52, 0x54, 0x03, 0x00, 0x00, 0x00};
	// Slot 3 of the host, connection serial 5.
	void* pPeer = reinterpret_cast<void*>((static_cast<uintptr_t>(5) << NET_PEER_SLOT_BITS) | 3);
	Recorder.PacketEvent(pPeer, Bytes.size(), Bytes.data());
	ASSERT_EQ(Recorder.m_Calls.size(), 1u);
	EXPECT_EQ(Recorder.m_Calls[0].m_Peer.m_pPeer, pPeer);
	EXPECT_EQ(Recorder.m_Calls[0].m_Peer.m_uiConnectSerial, 5u);
}
}
