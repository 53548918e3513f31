#pragma once
// A game server object that is never started, for unit tests of the game's elements: its element manager sends
// through a transport and a client table that record every message, and the game is chosen per test.

#include <cstdint>
#include <vector>

#include "Game/GTAServer.h"
#include "Game/GTAServerManager.h"
#include "Multiplayer/ReplicationHarness.h"

#include "Engine/Context.h"
#include "Engine/KestrinStream.h"

namespace ElementTest
{
using ReplicationTest::CFakeClient;
using ReplicationTest::OfId;
using ReplicationTest::tSent;
using VexaTest::CTestMessage;

class CGameElements
{
public:
	explicit CGameElements(const char* szGame) : m_Server(&m_Context)
	{
		m_Server.SetGame(szGame);
		Manager()->SetServerSink(&m_Server, &m_Transport);
		Manager()->SetNetMachines(&m_Clients);
	}

	CGTAServer& Server() { return m_Server; }
	CGTAServerManager* Manager() { return m_Server.GetGTAManager(); }

	// A new element of the type, held by the test; registered when asked.
	template <class TElement>
	Strong<TElement> Make(uint32_t uiType, bool bRegister = false)
	{
		Strong<TElement> pElement = Strong<TElement>::New(static_cast<TElement*>(Manager()->Create(static_cast<int>(uiType))));
		if (bRegister && !pElement.IsNull())
		{
			EXPECT_TRUE(Manager()->RegisterNetObject(pElement));
		}
		return pElement;
	}

	CFakeClient* AddClient(int32_t iIndex)
	{
		m_Clients.m_rgClients[iIndex] = Strong<CFakeClient>::New(new CFakeClient(iIndex));
		return m_Clients.m_rgClients[iIndex];
	}

private:
	// Declared before the server, which still sends while it goes.
	Context m_Context;
	ReplicationTest::CFakeTransport m_Transport;
	ReplicationTest::CFakeClients m_Clients;
	CGTAServer m_Server;
};

inline std::vector<uint8_t> StreamBytes(CUnlimitedStream* pStream)
{
	return std::vector<uint8_t>(pStream->GetData(), pStream->GetData() + pStream->GetLength());
}

inline std::vector<uint8_t> CreateBlock(CNetObject* pElement)
{
	Strong<CUnlimitedStream> pStream = Strong<CUnlimitedStream>::New(new CUnlimitedStream());
	EXPECT_TRUE(pElement->WriteCreatePacket(pStream));
	return StreamBytes(pStream);
}

inline std::vector<uint8_t> SyncBlock(CNetObject* pElement)
{
	Strong<CUnlimitedStream> pStream = Strong<CUnlimitedStream>::New(new CUnlimitedStream());
	EXPECT_TRUE(pElement->WriteSyncPacket(pStream));
	return StreamBytes(pStream);
}

// A stream over the bytes, which must outlive it.
inline Strong<Stream> Reading(const std::vector<uint8_t>& Bytes)
{
	return Strong<Stream>::New(new CMemoryStream(Bytes.data(), Bytes.size()));
}

// The bytes of the replicated part of a create block of an element without syncer, parent, name or data.
inline CTestMessage BareCreateBlock()
{
	CTestMessage Block;
	Block.I32(-1).I32(-1).I32(0).String("").U16(0);
	return Block;
}

// The body (after the header) of every recorded message of that id.
inline std::vector<std::vector<uint8_t>> Bodies(const std::vector<tSent>& Sent, uint32_t uiId)
{
	std::vector<std::vector<uint8_t>> Result;
	for (const tSent& Message : OfId(Sent, uiId))
		Result.emplace_back(Message.m_Bytes.begin() + VexaTest::MESSAGE_HEADER_SIZE, Message.m_Bytes.end());
	return Result;
}
}
