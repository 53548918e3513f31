// Robustness of the server against what a broken or hostile client sends: for every message id the server
// handles (and ids it does not), truncated, damaged, random and hostile-length bodies, bad headers and raw
// datagrams, before the join, while joining, after the file check and after ready. Inputs come from a seeded
// generator, so every run sends the same bytes. After each batch a fresh client must still be able to join, and
// once every client has left no client record may remain. The server runs in the test's process, so under the
// sanitizer build any bad read in its handlers is reported here.

#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "Game/GTAClient.h"
#include "InProcessServer.h"
#include "ServerManager.h"
#include "Support/ByteMutator.h"
#include "Support/TestDatagramSocket.h"
#include "Support/TestElement.h"
#include "Support/Transport.h"

using namespace ServerTest;
using namespace VexaTest;

namespace
{
constexpr size_t BATCHES = 8;
constexpr size_t MESSAGES_PER_BATCH = 30;
constexpr size_t DATAGRAMS_PER_BATCH = 40;

// Client-to-server ids beyond those the game-client stand-in names.
constexpr uint32_t MSG_STREAM_OUT_ACK = 13;

constexpr uint32_t ENTITY_TYPE = 4;
constexpr uint32_t PLAYER_TYPE = 94;

// Where a client stands when the batch reaches the server.
enum class ePhase
{
	// Connected, no join request sent.
	Connected,
	// Joined, the file check not answered.
	Joining,
	// File check passed, not ready.
	Verified,
	// Ready: the client has joined the game.
	Ready,
};

// The server checks one file, so a file check answer has a body worth damaging.
const char* const ANTICHEAT_CONFIG =
	"\t<anticheat>\n\t\t<file path=\"data/colours.dat\" src=\"/vehiclecolours.conf\"/>\n\t</anticheat>\n";

struct tFuzzMessage
{
	tBytes m_Data;
	uint32_t m_uiId;
	uint8_t m_ucChannel;
	bool m_bReliable;
	// Whether the message may change or end the session (it carries a whole header with such an id).
	bool m_bEndsSession;
};

tBytes BodyOf(const CTestMessage& Message)
{
	const tBytes& Bytes = Message.GetBytes();
	return tBytes(Bytes.begin() + MESSAGE_HEADER_SIZE, Bytes.end());
}

tBytes Header(uint32_t uiMagic, uint32_t uiId)
{
	return CTestMessage().U32(uiMagic).U32(uiId).GetBytes();
}

tBytes Concat(const tBytes& First, const tBytes& Second)
{
	tBytes All = First;
	All.insert(All.end(), Second.begin(), Second.end());
	return All;
}

// The ids a client sends: the ones the server handles, the ones of features it may handle later, and others.
const uint32_t g_rguiClientIds[] = {MSG_JOIN_REQUEST, MSG_READY, MSG_SYNC, MSG_STREAM_OUT_ACK, MSG_DISCONNECT,
	MSG_SYNCER_REQUEST, MSG_ELEMENT_STREAMING, MSG_FILE_CHECK, MSG_CHAT, MSG_COMMAND, MSG_NETWORK_EVENT, MSG_KEY};
const uint32_t g_rguiOtherIds[] = {0, 2, 5, 12, 36, 148, 150, 0x7FFFFFFF, 0xFFFFFFFF};

bool EndsSession(ePhase Phase, uint32_t uiId)
{
	switch (Phase)
	{
	case ePhase::Connected:
		return uiId == MSG_JOIN_REQUEST;
	case ePhase::Joining:
		return uiId == MSG_FILE_CHECK;
	case ePhase::Verified:
		return uiId == MSG_READY || uiId == MSG_DISCONNECT;
	case ePhase::Ready:
		return uiId == MSG_DISCONNECT;
	}
	return true;
}

class MalformedMessages : public ::testing::TestWithParam<bool>
{
protected:
	MalformedMessages() : m_Mutator(0x5eed1000), m_iPlayerId(-1), m_iEntityId(-1), m_uiNames(0) {}

	void SetUp() override
	{
		m_pServer = std::make_unique<CInProcessServer>(ANTICHEAT_CONFIG, GetParam());
		ASSERT_TRUE(m_pServer->Start());
		for (const tAnticheatFile& File : m_pServer->GetServer().GetAnticheatFiles())
			m_Digests.push_back({File.m_rguiDigest[0], File.m_rguiDigest[1], File.m_rguiDigest[2], File.m_rguiDigest[3]});
		ASSERT_EQ(m_Digests.size(), 1u);
	}

	CServerManager* Manager() { return m_pServer->GetServer().GetManager(); }

	CGTAClient* Record(const CGameClient& Client)
	{
		return static_cast<CGTAClient*>(m_pServer->GetServer().GetClients().GetMachine(Client.GetIndex()));
	}

	std::string NextName(const char* szPrefix) { return szPrefix + std::to_string(++m_uiNames); }

	tJoinRequest Request(const std::string& Name)
	{
		tJoinRequest Result;
		Result.m_Name = Name;
		return Result;
	}

	// A new connection of the client that has reached the phase.
	bool Establish(CGameClient& Client, ePhase Phase)
	{
		if (Client.IsConnected())
			Client.Disconnect();
		m_pServer->Attach(Client);
		if (!Client.Connect(m_pServer->GetPort()))
			return false;
		if (Phase == ePhase::Connected)
			return true;
		tJoinInfo Info;
		std::vector<std::string> Paths;
		if (!Client.SendJoinRequest(Request(NextName("Fuzz"))) || !Client.WaitForJoinInfo(Info) ||
			!Client.WaitForFileCheckRequest(Paths))
			return false;
		if (Phase == ePhase::Joining)
			return true;
		if (!Client.SendFileCheckAnswer(m_Digests) ||
			!m_pServer->PassUntil([&] { return Record(Client) && Record(Client)->IsVerified(); }))
			return false;
		PlaceElements(Record(Client));
		if (Phase == ePhase::Verified)
			return true;
		tReceivedMessage Joined;
		return Client.SendReady() && Client.WaitForMessage(MSG_JOINED, Joined);
	}

	CTestElement* AddElement(uint32_t uiType, const CVector3D& vecPosition)
	{
		CTestElement* pElement = new CTestElement(Manager(), uiType);
		pElement->m_vecPosition = vecPosition;
		pElement->SetStreamInDistance(100.0f);
		pElement->SetStreamOutDistance(200.0f);
		pElement->SetNetFlag(NETFLAG_DISTANCE_STREAMING, true);
		const bool bRegistered = Manager()->RegisterNetObject(pElement);
		pElement->Release();
		return bRegistered ? pElement : nullptr;
	}

	// A player synced by the joined client and an element near it, so that sync, acknowledgement and syncer
	// requests name elements that exist.
	void PlaceElements(CNetMachine* pMachine)
	{
		if (!pMachine)
			return;
		if (CTestElement* pPlayer = AddElement(PLAYER_TYPE, CVector3D(0, 0, 0)))
		{
			pPlayer->SetNetFlag(NETFLAG_ALWAYS_EXIST_FOR_SYNCER, true);
			pPlayer->SetSyncer(pMachine, true);
			pMachine->SetPlayer(pPlayer);
			m_iPlayerId = pPlayer->GetId();
		}
		if (!Manager()->FromId(m_iEntityId, 0))
		{
			if (CTestElement* pEntity = AddElement(ENTITY_TYPE, CVector3D(10, 0, 0)))
				m_iEntityId = pEntity->GetId();
		}
	}

	// The valid body of a message with the id, as a game client would send it.
	tBytes ValidBody(uint32_t uiId)
	{
		const std::vector<uint8_t> Position = CTestMessage().F32(1).F32(2).F32(3).GetBytes();
		switch (uiId)
		{
		case MSG_JOIN_REQUEST:
			return BodyOf(Request(NextName("Joiner")).Build());
		case MSG_SYNC:
			return BodyOf(MakeSyncMessage({{PLAYER_TYPE, m_iPlayerId, Position}, {ENTITY_TYPE, m_iEntityId, Position}}));
		case MSG_STREAM_OUT_ACK:
			return CTestMessage().U16(2).I32(m_iEntityId).I32(m_iPlayerId).GetBytes();
		case MSG_DISCONNECT:
			return CTestMessage().U32(6).GetBytes();
		case MSG_SYNCER_REQUEST:
			return CTestMessage().I32(m_iEntityId).GetBytes();
		case MSG_ELEMENT_STREAMING:
			return CTestMessage().U8(1).GetBytes();
		case MSG_FILE_CHECK:
		{
			CTestMessage Answer;
			Answer.U32(1);
			for (uint32_t uiWord : m_Digests[0])
				Answer.U32(uiWord);
			return Answer.GetBytes();
		}
		case MSG_CHAT:
			return CTestMessage().U32(5).Bytes("hello", 5).GetBytes();
		case MSG_COMMAND:
			return CTestMessage().U32(3).Bytes("say", 3).U32(2).Bytes("hi", 2).GetBytes();
		case MSG_NETWORK_EVENT:
			// A name, then an array of an integer and a string.
			return CTestMessage().String("event").U8(2).U8(4).I32(7).U8(2).String("text").GetBytes();
		case MSG_KEY:
			return CTestMessage().U8(1).U32(30).U32(65).U16(0).I32(0).GetBytes();
		default:
			return tBytes();
		}
	}

	// Bodies whose counts and lengths claim far more than the message holds.
	std::vector<tBytes> HostileBodies(uint32_t uiId)
	{
		tBytes Version = CTestMessage().U32(NETWORK_VERSION).U32(1).U32(0).U32(0).U32(0).GetBytes();
		switch (uiId)
		{
		case MSG_JOIN_REQUEST:
			return {Concat(Version, {0xFF, 0xFF, 0xFF, 0xFF, 0x07, 'p'}), Concat(Version, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF}),
				Concat(Version, {0x80, 0x80, 0x80, 0x80}), Concat(Version, {0x00, 0xFF, 0xFF, 'n', 'a', 'm', 'e'}),
				Concat(Version, {0x00, 31, 0x00, 'a', 'b'})};
		case MSG_SYNC:
			return {CTestMessage().U16(0xFFFF).U16(20).I32(ENTITY_TYPE).I32(m_iEntityId).F32(1).GetBytes(),
				CTestMessage().U16(1).U16(0xFFFF).I32(ENTITY_TYPE).I32(m_iEntityId).GetBytes(),
				CTestMessage().U16(2).U16(8).I32(ENTITY_TYPE).I32(m_iEntityId).U16(7).I32(0).GetBytes(),
				CTestMessage().U16(1).U16(9).I32(PLAYER_TYPE).I32(m_iPlayerId).U8(1).GetBytes()};
		case MSG_STREAM_OUT_ACK:
			return {CTestMessage().U16(0xFFFF).I32(m_iEntityId).GetBytes(), CTestMessage().U16(3).I32(-1).GetBytes()};
		case MSG_DISCONNECT:
			return {CTestMessage().U32(0xFFFFFFFF).GetBytes(), CTestMessage().U32(12).GetBytes()};
		case MSG_SYNCER_REQUEST:
			return {CTestMessage().I32(-1).GetBytes(), CTestMessage().I32(0x7FFFFFFF).GetBytes()};
		case MSG_FILE_CHECK:
			return {CTestMessage().U32(0xFFFFFFFF).U32(1).GetBytes(), CTestMessage().U32(1).U32(1).U32(2).U32(3).GetBytes()};
		case MSG_CHAT:
			return {CTestMessage().U32(0xFFFFFFFF).Bytes("x", 1).GetBytes(), CTestMessage().U32(4096).Bytes("x", 1).GetBytes()};
		case MSG_COMMAND:
			return {CTestMessage().U32(0xFFFFFFFF).GetBytes(), CTestMessage().U32(1).Bytes("a", 1).U32(0xFFFFFFFF).GetBytes()};
		case MSG_NETWORK_EVENT:
			return {CTestMessage().VarUInt(0x7FFFFFFF).GetBytes(), CTestMessage().String("e").U8(255).U8(3).GetBytes()};
		default:
			return {};
		}
	}

	tBytes MakeBody(uint32_t uiId)
	{
		const size_t Choice = m_Mutator.Below(100);
		const tBytes Valid = ValidBody(uiId);
		if (Choice < 10)
			return Valid;
		if (Choice < 30)
			return tBytes(Valid.begin(), Valid.begin() + static_cast<std::ptrdiff_t>(m_Mutator.Below(Valid.size() + 1)));
		if (Choice < 60)
			return m_Mutator.Mutate(Valid);
		if (Choice < 75)
			return m_Mutator.RandomBytes(m_Mutator.Chance(90) ? m_Mutator.Below(64) : m_Mutator.Below(2048));
		const std::vector<tBytes> Hostile = HostileBodies(uiId);
		if (Hostile.empty())
			return m_Mutator.Mutate(Valid);
		return Hostile[m_Mutator.Below(Hostile.size())];
	}

	tFuzzMessage MakeMessage(ePhase Phase)
	{
		tFuzzMessage Message;
		const size_t ChannelChoice = m_Mutator.Below(100);
		Message.m_ucChannel = ChannelChoice < 70 ? 0 : ChannelChoice < 85 ? static_cast<uint8_t>(m_Mutator.Below(255)) : 1;
		Message.m_bReliable = ChannelChoice < 85;

		uint32_t uiId;
		// Before the join and while joining the server reads only one message: the join request, then the file
		// check answer.
		if (Phase == ePhase::Connected && m_Mutator.Chance(40))
			uiId = MSG_JOIN_REQUEST;
		else if (Phase == ePhase::Joining && m_Mutator.Chance(30))
			uiId = MSG_FILE_CHECK;
		else if (m_Mutator.Chance(80))
			uiId = g_rguiClientIds[m_Mutator.Below(sizeof(g_rguiClientIds) / sizeof(g_rguiClientIds[0]))];
		else if (m_Mutator.Chance(70))
			uiId = g_rguiOtherIds[m_Mutator.Below(sizeof(g_rguiOtherIds) / sizeof(g_rguiOtherIds[0]))];
		else
			uiId = m_Mutator.Next();

		Message.m_uiId = uiId;
		const tBytes Body = MakeBody(uiId);
		const size_t HeaderChoice = m_Mutator.Below(100);
		if (HeaderChoice < 88)
		{
			Message.m_Data = Concat(Header(MESSAGE_MAGIC, uiId), Body);
			Message.m_bEndsSession = EndsSession(Phase, uiId);
			// The test waits for what such a message does, so it must not be one the transport may drop.
			Message.m_bReliable = Message.m_bReliable || Message.m_bEndsSession;
			return Message;
		}
		// Headers the server must drop: another magic, or fewer than eight bytes.
		Message.m_bEndsSession = false;
		if (HeaderChoice < 94)
			Message.m_Data = Concat(Header(MESSAGE_MAGIC ^ (1u << m_Mutator.Below(32)), uiId), Body);
		else
		{
			// At least one byte: the client's compressor cannot take an empty message.
			const tBytes Whole = Header(MESSAGE_MAGIC, uiId);
			const size_t Length = 1 + m_Mutator.Below(MESSAGE_HEADER_SIZE - 1);
			Message.m_Data.assign(Whole.begin(), Whole.begin() + static_cast<std::ptrdiff_t>(Length));
		}
		return Message;
	}

	// Services the client until the server has acted on a message that may end the session: it disconnected the
	// client, or moved it on. Leaving before that would make the transport drop the message unread.
	bool WaitForOutcome(CGameClient& Client, ePhase Phase, uint32_t uiId)
	{
		const uint32_t uiAnswer = Phase == ePhase::Connected ? MSG_JOIN_INFO : MSG_JOINED;
		bool bAnswered = false;
		auto MovedOn = [&] {
			for (const tReceivedMessage& Message : Client.TakeAll())
				bAnswered = bAnswered || (Message.m_bHasHeader && Message.m_uiId == uiAnswer);
			if (Phase == ePhase::Joining && uiId == MSG_FILE_CHECK)
				return Record(Client) && Record(Client)->IsVerified();
			return bAnswered;
		};
		const auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(DEFAULT_TIMEOUT_MS);
		while (!Client.IsDisconnected() && !MovedOn())
		{
			if (std::chrono::steady_clock::now() >= Deadline)
				return false;
			Client.Service(1);
		}
		return true;
	}

	// A fresh client can still join and leave.
	void ExpectServerAnswers(size_t Batch)
	{
		CGameClient Probe;
		m_pServer->Attach(Probe);
		ASSERT_TRUE(Probe.Join(m_pServer->GetPort(), Request(NextName("Probe")), m_Digests)) << "after batch " << Batch;
		ASSERT_TRUE(Probe.Disconnect()) << "after batch " << Batch;
	}

	// Every client record is gone once every client has left.
	void ExpectNoClientsLeft()
	{
		CBaseServer& Server = m_pServer->GetServer();
		auto NoClients = [&] {
			for (int32_t i = 0; i < CBaseServer::CONSOLE_CLIENT_INDEX; i++)
			{
				if (Server.GetClients().GetMachine(i))
					return false;
			}
			return Server.GetPlayerCount() == 0;
		};
		EXPECT_TRUE(m_pServer->PassUntil(NoClients)) << "players counted: " << Server.GetPlayerCount();
	}

	void RunPhase(ePhase Phase)
	{
		CGameClient Client;
		bool bEstablished = false;
		for (size_t Batch = 0; Batch < BATCHES; Batch++)
		{
			for (size_t i = 0; i < MESSAGES_PER_BATCH; i++)
			{
				if (!bEstablished || !Client.IsConnected())
				{
					ASSERT_TRUE(Establish(Client, Phase)) << "batch " << Batch << ", message " << i;
					bEstablished = true;
				}
				const tFuzzMessage Message = MakeMessage(Phase);
				Client.SendRaw(Message.m_Data.data(), Message.m_Data.size(), Message.m_ucChannel, Message.m_bReliable);
				// A session the message may have ended or moved on is left and made again for the next one.
				if (Message.m_bEndsSession)
				{
					// What a client sends right after such a message may reach a server that is already letting it go.
					for (size_t Extra = m_Mutator.Chance(30) ? 1 + m_Mutator.Below(3) : 0; Extra > 0; Extra--)
					{
						const tFuzzMessage Trailing = MakeMessage(Phase);
						Client.SendRaw(Trailing.m_Data.data(), Trailing.m_Data.size(), Trailing.m_ucChannel, true);
					}
					ASSERT_TRUE(WaitForOutcome(Client, Phase, Message.m_uiId))
						<< "batch " << Batch << ", message " << i << ", id " << Message.m_uiId;
					if (Client.IsConnected())
						Client.Disconnect();
					bEstablished = false;
				}
			}
			ExpectServerAnswers(Batch);
			if (HasFatalFailure())
				return;
			Client.TakeAll();
		}
		if (Client.IsConnected())
			Client.Disconnect();
		ExpectNoClientsLeft();
	}

	std::unique_ptr<CInProcessServer> m_pServer;
	std::vector<tDigest> m_Digests;
	CByteMutator m_Mutator;
	int32_t m_iPlayerId;
	int32_t m_iEntityId;
	unsigned m_uiNames;
};
}

TEST_P(MalformedMessages, BeforeTheJoinRequest)
{
	RunPhase(ePhase::Connected);
}

TEST_P(MalformedMessages, BeforeTheFileCheckAnswer)
{
	RunPhase(ePhase::Joining);
}

TEST_P(MalformedMessages, AfterTheFileCheckBeforeReady)
{
	RunPhase(ePhase::Verified);
}

TEST_P(MalformedMessages, AfterReady)
{
	RunPhase(ePhase::Ready);
}

// Connectionless datagrams: those starting FF FF go to the query hook, every other one to the transport's own
// parser. Neither may harm the server.
TEST_P(MalformedMessages, RawDatagramsToTheGamePort)
{
	CTestDatagramSocket Socket;
	ASSERT_TRUE(Socket.IsOpen());
	for (size_t Batch = 0; Batch < BATCHES; Batch++)
	{
		for (size_t i = 0; i < DATAGRAMS_PER_BATCH; i++)
		{
			const size_t Length = m_Mutator.Chance(20) ? m_Mutator.Below(4) : m_Mutator.Below(1400);
			tBytes Datagram = m_Mutator.RandomBytes(Length);
			if (m_Mutator.Chance(80))
			{
				for (size_t j = 0; j < 2 && j < Datagram.size(); j++)
					Datagram[j] = 0xFF;
			}
			ASSERT_TRUE(Socket.Send(m_pServer->GetPort(), Datagram));
		}
		ExpectServerAnswers(Batch);
		if (HasFatalFailure())
			return;
	}
	ExpectNoClientsLeft();
}

INSTANTIATE_TEST_SUITE_P(Transport, MalformedMessages, ::testing::Bool(), DescribeTransport);
