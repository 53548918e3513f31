// Load tool: starts a game server in a child process, connects many game clients to it over the loopback, takes
// each through the whole join, spawns a player for every client near all the others, and keeps every client
// sending the whole sync block of its player. It prints the join latency, the server's CPU time per second of wall
// time, the bytes the server sent to each client per second, and how many of the syncs its clients handed to ENet
// reached the server (ENet drops unreliable messages before sending when it throttles a peer), and how long a sync
// took from one client through the server to the others (the relay delay).
//
// With -flood, one more party sends connectionless datagrams to the game port through the measured window: query
// requests, or as many datagrams of the same size that are not queries (which ENet drops at once), from -sources
// loopback addresses (127.0.0.2 upwards) in turn, at -flood-rate datagrams a second (0: as fast as it can). It
// reads back every answer and reports the answers and answer bytes per second, and the tool reports the clients
// the server dropped meanwhile. -rules adds that many rules with long names and values, so answers are large.
//
// With -guessers, the server has a join password and a remote-console password, the load clients join with the
// right one, and through the measured window N guessers try wrong passwords from -sources loopback addresses
// (127.0.0.2 upwards): game clients sending join requests (-guess join), or remote-console connections sending
// bursts of login messages (-guess rcon, through rcon_tool.py). The tool then also prints the main loop's passes
// per second and, with -probe, the time an authenticated remote console waits for the answer to a command.
//
// Usage: VexaLoad [-clients N] [-seconds S] [-rate HZ] [-threads T] [-multithreaded]
//                 [-flood query|other] [-flood-rate R] [-sources K] [-rules N]
//                 [-guessers N -guess join|rcon] [-probe]

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <new>
#include <string>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <enet/enet.h>

#include "BuiltinFiles.h"
#include "CommandLine.h"
#include "Game/GTAClient.h"
#include "Game/GTAServer.h"
#include "Game/GTAServerManager.h"

#include "Elements/ServerPlayer.h"

#include "Engine/Context.h"
#include "Engine/KAssert.h"
#include "Engine/SignalHandlers.h"
#include "Multiplayer/NetObject.h"
#include "ProcessFigures.h"
#include "Support/GameClient.h"
#include "Support/Ports.h"
#include "Support/TestMessage.h"

namespace
{
typedef std::chrono::steady_clock tClock;

constexpr float PLAYER_AREA_RADIUS = 40.0f;

struct tOptions
{
	int m_iClients = 120;
	int m_iSeconds = 10;
	int m_iRate = 20;
	// Threads that drive the clients; one thread decompressing everything every client receives would itself
	// delay their answers and acknowledgements at many clients.
	int m_iThreads = 2;
	bool m_bMultithreaded = false;
	std::string m_Flood;
	int m_iFloodRate = 0;
	int m_iSources = 1;
	int m_iRules = 0;
	int m_iGuessers = 0;
	std::string m_Guess = "join";
	bool m_bProbe = false;

	// The server gets passwords and the remote console.
	bool HasPasswords() const { return m_iGuessers > 0 || m_bProbe; }
};

const char JOIN_PASSWORD[] = "join secret";
const char RCON_PASSWORD[] = "console secret";

// Shared with the server's process: the sync messages it received from clients.
struct tServerCounters
{
	std::atomic<uint64_t> m_uiSyncsReceived;
	std::atomic<uint64_t> m_uiPasses;
};

tServerCounters* g_pCounters = nullptr;

// Clients that have joined or failed; counted by the threads that drive them.
std::atomic<int> g_iSettledClients{0};
// Clients that had joined and lost their connection.
std::atomic<int> g_iDroppedClients{0};

// Syncs carry their send time, in seconds since this moment, where a player's block has its reported heading; the
// server forwards the block as it came, so a client that receives another's sync knows how long it took.
tClock::time_point g_SteadyStart;
std::atomic<bool> g_bMeasuring{false};
// Where the send time sits in a player's sync block: after the ped sync value and three vectors, and the heading.
constexpr size_t SYNC_TIME_OFFSET = 4 + 9 * 4 + 4;
// Relay delays in milliseconds, one list per thread that drives clients.
thread_local std::vector<double>* t_pDelays = nullptr;

// The game server, giving every client that has joined a player element of the game inside a small area, as
// spawning a player does.
class CLoadServer : public CGTAServer
{
public:
	using CGTAServer::CGTAServer;

	void ProcessPacket(const tPeerInfo& Peer, unsigned uiId, Stream* pStream) override
	{
		if (uiId == VexaTest::MSG_SYNC && g_pCounters)
			g_pCounters->m_uiSyncsReceived.fetch_add(1, std::memory_order_relaxed);
		CGTAServer::ProcessPacket(Peer, uiId, pStream);
	}

	void OnProcess(const FrameTimeInfo* pFrameInfo) override
	{
		if (g_pCounters)
			g_pCounters->m_uiPasses.fetch_add(1, std::memory_order_relaxed);
		CGTAServer::OnProcess(pFrameInfo);
	}

	void OnPlayerJoined(CNetMachine* pClient) override
	{
		CGTAServer::OnPlayerJoined(pClient);
		const float fAngle = static_cast<float>(pClient->GetIndex()) * 0.7f;
		// Every record of the game server is a game client record.
		static_cast<CGTAClient*>(pClient)->SpawnPlayer(
			CVector3D(std::cos(fAngle) * PLAYER_AREA_RADIUS / 2, std::sin(fAngle) * PLAYER_AREA_RADIUS / 2, 0), 0.0f, 0, 0, 0);
	}
};

CLoadServer* g_pLoadServer = nullptr;

void QuitLoadServer()
{
	if (g_pLoadServer)
		g_pLoadServer->SignalQuit();
}

// The child process: the server until SIGINT.
int RunServer(const std::string& ConfigPath, const tOptions& Options)
{
	g_bAsserts = false;
	Context ProcessContext;
	MountBuiltinArchive(ProcessContext);

	CLoadServer Server(&ProcessContext);
	g_pLoadServer = &Server;
	CSignalHandlers::Install(QuitLoadServer);
	tCommandLine CommandLine;
	CommandLine.m_MaxPlayers.Set(Options.m_iClients);
	CommandLine.m_Multithreaded.Set(Options.m_bMultithreaded);
	if (!Server.LoadConfig(ConfigPath.c_str()) || !Server.ApplyOverrides(CommandLine) || !Server.StartServer())
		return 1;
	Server.MainLoop();
	Server.ShutDown();
	g_pLoadServer = nullptr;
	return 0;
}

enum eClientState
{
	CLIENT_CONNECTING,
	CLIENT_JOINING,
	CLIENT_READY_SENT,
	CLIENT_JOINED,
	CLIENT_FAILED,
};

struct tLoadClient
{
	ENetHost* m_pHost = nullptr;
	ENetPeer* m_pPeer = nullptr;
	std::string m_Name;
	std::string m_Password;
	eClientState m_eState = CLIENT_CONNECTING;
	tClock::time_point m_Start;
	// From the client's own connect: the transport's connection up, the file check asked, joined.
	double m_dConnectedMilliseconds = 0.0;
	double m_dFileCheckMilliseconds = 0.0;
	double m_dJoinMilliseconds = 0.0;
	int32_t m_iPlayer = -1;
	// Written by the thread that drives the client, read by the main thread at the window's ends.
	std::atomic<uint64_t> m_ulPayloadBytes{0};
	std::atomic<uint64_t> m_uiSyncSent{0};
};

double MillisecondsSince(tClock::time_point Start)
{
	return std::chrono::duration<double, std::milli>(tClock::now() - Start).count();
}

void Send(tLoadClient& Client, const VexaTest::CTestMessage& Message, uint8_t ucChannel, bool bReliable)
{
	const std::vector<uint8_t>& Bytes = Message.GetBytes();
	ENetPacket* pPacket = enet_packet_create(Bytes.data(), Bytes.size(), bReliable ? ENET_PACKET_FLAG_RELIABLE : 0);
	if (pPacket && enet_peer_send(Client.m_pPeer, ucChannel, pPacket) < 0)
		enet_packet_destroy(pPacket);
}

double SecondsSince(tClock::time_point Start)
{
	return std::chrono::duration<double>(tClock::now() - Start).count();
}

uint32_t ReadLE32(const uint8_t* pData)
{
	return static_cast<uint32_t>(pData[0] | pData[1] << 8 | pData[2] << 16 | pData[3] << 24);
}

// Every other player's sync in the message gives one relay delay. Read in place: at many clients this runs for
// every message every client receives.
void NoteRelayDelays(const tLoadClient& Client, const uint8_t* pBody, size_t Length)
{
	if (!t_pDelays || !g_bMeasuring.load(std::memory_order_relaxed) || Length < 2)
		return;
	const double dNow = SecondsSince(g_SteadyStart);
	const size_t Count = static_cast<size_t>(pBody[0] | pBody[1] << 8);
	size_t Offset = 2;
	for (size_t i = 0; i < Count && Offset + 10 <= Length; i++)
	{
		const size_t EntryLength = static_cast<size_t>(pBody[Offset] | pBody[Offset + 1] << 8);
		if (EntryLength < 8 || Offset + 2 + EntryLength > Length)
			return;
		const int32_t iType = static_cast<int32_t>(ReadLE32(pBody + Offset + 2));
		const int32_t iId = static_cast<int32_t>(ReadLE32(pBody + Offset + 6));
		const uint8_t* pBlock = pBody + Offset + 10;
		if (iType == ELEMENT_PLAYER && iId != Client.m_iPlayer && EntryLength - 8 >= SYNC_TIME_OFFSET + 4)
		{
			const uint32_t uiBits = ReadLE32(pBlock + SYNC_TIME_OFFSET);
			float fSent = 0.0f;
			memcpy(&fSent, &uiBits, sizeof(fSent));
			t_pDelays->push_back((dNow - static_cast<double>(fSent)) * 1000.0);
		}
		Offset += 2 + EntryLength;
	}
}

void HandleMessage(tLoadClient& Client, const uint8_t* pData, size_t Length)
{
	Client.m_ulPayloadBytes.fetch_add(Length, std::memory_order_relaxed);
	// Only the few messages of the join are read, and the syncs for their send time; everything else is only
	// counted.
	if (Length < VexaTest::MESSAGE_HEADER_SIZE)
		return;
	const uint32_t uiId = ReadLE32(pData + 4);
	if (uiId == VexaTest::MSG_SYNC)
		NoteRelayDelays(Client, pData + VexaTest::MESSAGE_HEADER_SIZE, Length - VexaTest::MESSAGE_HEADER_SIZE);
	if (uiId != VexaTest::MSG_FILE_CHECK && uiId != VexaTest::MSG_JOINED && uiId != VexaTest::MSG_OWN_PLAYER)
		return;
	std::vector<uint8_t> Data(pData, pData + Length);
	uint32_t uiParsedId = 0;
	std::vector<uint8_t> Body;
	if (!VexaTest::ParseMessage(Data, uiParsedId, Body))
		return;
	switch (uiParsedId)
	{
	case VexaTest::MSG_FILE_CHECK:
		Client.m_dFileCheckMilliseconds = MillisecondsSince(Client.m_Start);
		// The server checks no files here: the answer is an empty list, and ready follows it.
		Send(Client, VexaTest::CTestMessage(VexaTest::MSG_FILE_CHECK).U32(0), 0, true);
		Send(Client, VexaTest::CTestMessage(VexaTest::MSG_READY), 0, true);
		Client.m_eState = CLIENT_READY_SENT;
		break;
	case VexaTest::MSG_JOINED:
		if (Client.m_eState == CLIENT_READY_SENT)
		{
			Client.m_eState = CLIENT_JOINED;
			g_iSettledClients.fetch_add(1, std::memory_order_relaxed);
			Client.m_dJoinMilliseconds = MillisecondsSince(Client.m_Start);
		}
		break;
	case VexaTest::MSG_OWN_PLAYER:
	{
		int32_t iPlayer = -1;
		if (VexaTest::CTestMessageReader(Body).I32(iPlayer))
			Client.m_iPlayer = iPlayer;
		break;
	}
	default:
		break;
	}
}

void ServiceClient(tLoadClient& Client)
{
	ENetEvent Event;
	while (Client.m_pHost && enet_host_service(Client.m_pHost, &Event, 0) > 0)
	{
		switch (Event.type)
		{
		case ENET_EVENT_TYPE_CONNECT:
		{
			Client.m_dConnectedMilliseconds = MillisecondsSince(Client.m_Start);
			VexaTest::tJoinRequest Request;
			Request.m_Name = Client.m_Name;
			Request.m_Password = Client.m_Password;
			Send(Client, Request.Build(), 0, true);
			Client.m_eState = CLIENT_JOINING;
			break;
		}
		case ENET_EVENT_TYPE_RECEIVE:
			HandleMessage(Client, Event.packet->data, Event.packet->dataLength);
			enet_packet_destroy(Event.packet);
			break;
		case ENET_EVENT_TYPE_DISCONNECT:
			if (Client.m_eState != CLIENT_JOINED && Client.m_eState != CLIENT_FAILED)
				g_iSettledClients.fetch_add(1, std::memory_order_relaxed);
			if (Client.m_eState == CLIENT_JOINED)
				g_iDroppedClients.fetch_add(1, std::memory_order_relaxed);
			Client.m_eState = CLIENT_FAILED;
			break;
		default:
			break;
		}
	}
}

void SendPlayerSync(tLoadClient& Client, double dTime, size_t Index)
{
	if (Client.m_eState != CLIENT_JOINED || Client.m_iPlayer < 0)
		return;
	const float fAngle = static_cast<float>(Index) * 0.7f + static_cast<float>(dTime);
	VexaTest::tElementEntry Entry;
	Entry.m_iType = ELEMENT_PLAYER;
	Entry.m_iId = Client.m_iPlayer;
	// A GTA III player's sync block on foot: 128 bytes.
	VexaTest::CTestMessage Block;
	Block.I32(-1);
	Block.F32(std::cos(fAngle) * PLAYER_AREA_RADIUS / 2).F32(std::sin(fAngle) * PLAYER_AREA_RADIUS / 2).F32(0.0f);
	Block.F32(0).F32(0).F32(0).F32(1).F32(0).F32(0);
	Block.F32(fAngle).F32(static_cast<float>(dTime)).F32(100.0f).U8(0).I32(-1).U8(0).U16(0);
	Block.U16(0).U16(0).U8(0).F32(0.0f).U8(0).U8(0);
	Block.U16(0).Bytes(std::vector<uint8_t>(CServerPlayer::PLAYER_SYNC_BLOCK_SIZE, 0)).U32(0).U8(1).U16(4);
	Entry.m_Block = Block.GetBytes();
	Send(Client, VexaTest::MakeSyncMessage({Entry}), 1, false);
	Client.m_uiSyncSent.fetch_add(1, std::memory_order_relaxed);
}

double Percentile(std::vector<double> Values, double dFraction)
{
	if (Values.empty())
		return 0.0;
	std::sort(Values.begin(), Values.end());
	size_t Index = static_cast<size_t>(dFraction * static_cast<double>(Values.size() - 1) + 0.5);
	return Values[std::min(Index, Values.size() - 1)];
}

bool ParseOptions(int argc, char** argv, tOptions& Options)
{
	for (int i = 1; i < argc; i++)
	{
		const std::string Argument = argv[i];
		const bool bHasValue = i + 1 < argc;
		if (Argument == "-clients" && bHasValue)
			Options.m_iClients = std::atoi(argv[++i]);
		else if (Argument == "-seconds" && bHasValue)
			Options.m_iSeconds = std::atoi(argv[++i]);
		else if (Argument == "-rate" && bHasValue)
			Options.m_iRate = std::atoi(argv[++i]);
		else if (Argument == "-threads" && bHasValue)
			Options.m_iThreads = std::atoi(argv[++i]);
		else if (Argument == "-multithreaded")
			Options.m_bMultithreaded = true;
		else if (Argument == "-flood" && bHasValue)
			Options.m_Flood = argv[++i];
		else if (Argument == "-flood-rate" && bHasValue)
			Options.m_iFloodRate = std::atoi(argv[++i]);
		else if (Argument == "-sources" && bHasValue)
			Options.m_iSources = std::atoi(argv[++i]);
		else if (Argument == "-rules" && bHasValue)
			Options.m_iRules = std::atoi(argv[++i]);
		else if (Argument == "-guessers" && bHasValue)
			Options.m_iGuessers = std::atoi(argv[++i]);
		else if (Argument == "-guess" && bHasValue)
			Options.m_Guess = argv[++i];
		else if (Argument == "-probe")
			Options.m_bProbe = true;
		else
			return false;
	}
	return Options.m_iClients > 0 && Options.m_iClients < 255 && Options.m_iSeconds > 0 && Options.m_iRate > 0 &&
		Options.m_iThreads > 0 &&
		(Options.m_Flood.empty() || Options.m_Flood == "query" || Options.m_Flood == "other") &&
		Options.m_iFloodRate >= 0 && Options.m_iSources > 0 && Options.m_iSources < 250 && Options.m_iRules >= 0 &&
		Options.m_iGuessers >= 0 && (Options.m_Guess == "join" || Options.m_Guess == "rcon");
}

struct tFloodCounts
{
	uint64_t m_uiSent = 0;
	uint64_t m_uiAnswers = 0;
	uint64_t m_uiAnswerBytes = 0;
	size_t m_RequestSize = 0;
};

// A query for everything: info (all fields), the extra byte, players (index and name) and rules. The other flood
// sends the same bytes with a first byte that makes them no query; ENet drops them as coming from no peer.
std::vector<uint8_t> FloodDatagram(bool bQuery)
{
	std::vector<uint8_t> Data = {0xFF, 0xFF, 'O', 'G', 'P', 0, 1, 1, 0x0F, 0x7F, 0xAA, 0x03};
	if (!bQuery)
		Data[0] = 0xFE;
	return Data;
}

// Sends the flood until told to stop, from one socket per source address in turn, and reads back every answer.
void RunFlood(const tOptions& Options, uint16_t usPort, const std::atomic<bool>& bStop, tFloodCounts& Counts)
{
	std::vector<int> Sockets;
	for (int i = 0; i < Options.m_iSources; i++)
	{
		const int iSocket = socket(AF_INET, SOCK_DGRAM, 0);
		if (iSocket < 0)
			break;
		const int iBuffer = 8 << 20;
		setsockopt(iSocket, SOL_SOCKET, SO_RCVBUF, &iBuffer, sizeof(iBuffer));
		sockaddr_in Local = {};
		Local.sin_family = AF_INET;
		Local.sin_addr.s_addr = htonl(INADDR_LOOPBACK + 1 + static_cast<uint32_t>(i));
		if (bind(iSocket, reinterpret_cast<sockaddr*>(&Local), sizeof(Local)) != 0)
		{
			close(iSocket);
			break;
		}
		Sockets.push_back(iSocket);
	}
	sockaddr_in Server = {};
	Server.sin_family = AF_INET;
	Server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
	Server.sin_port = htons(usPort);
	const std::vector<uint8_t> Datagram = FloodDatagram(Options.m_Flood == "query");
	Counts.m_RequestSize = Datagram.size();
	std::vector<uint8_t> Buffer(65536);
	auto Drain = [&]() {
		for (int iSocket : Sockets)
		{
			ssize_t Received;
			while ((Received = recv(iSocket, Buffer.data(), Buffer.size(), MSG_DONTWAIT)) > 0)
			{
				Counts.m_uiAnswers++;
				Counts.m_uiAnswerBytes += static_cast<uint64_t>(Received);
			}
		}
	};
	const tClock::time_point Start = tClock::now();
	size_t Next = 0;
	while (!bStop.load(std::memory_order_relaxed) && !Sockets.empty())
	{
		// Paced: what is due by now; unpaced: a batch between two reads of the answers.
		uint64_t uiDue = 64;
		if (Options.m_iFloodRate > 0)
		{
			const double dDue = SecondsSince(Start) * Options.m_iFloodRate;
			uiDue = static_cast<uint64_t>(dDue) > Counts.m_uiSent ? static_cast<uint64_t>(dDue) - Counts.m_uiSent : 0;
		}
		for (uint64_t i = 0; i < uiDue; i++)
		{
			sendto(Sockets[Next], Datagram.data(), Datagram.size(), 0, reinterpret_cast<sockaddr*>(&Server),
				sizeof(Server));
			Next = (Next + 1) % Sockets.size();
			Counts.m_uiSent++;
		}
		Drain();
		if (Options.m_iFloodRate > 0)
			usleep(1000);
	}
	// Answers still on their way.
	usleep(100000);
	Drain();
	for (int iSocket : Sockets)
		close(iSocket);
}

// Rules whose names and values are as long as an answer carries, so that every answer is as large as it can be.
std::string LongRules(int iRules)
{
	std::string Rules;
	for (int i = 0; i < iRules; i++)
		Rules += "\t<rule name=\"" + std::to_string(1000 + i) + std::string(250, 'n') + "\" value=\"" +
			std::string(254, 'v') + "\" />\n";
	return Rules;
}

// Game clients that join with a wrong password, each connecting again as soon as the server disconnects it.
void RunJoinGuessers(uint16_t usPort, const tOptions& Options, const std::atomic<bool>& bStop,
	std::atomic<uint64_t>& uiAttempts)
{
	ENetAddress Server;
	enet_address_set_host_ip(&Server, "127.0.0.1");
	Server.port = usPort;
	std::vector<ENetHost*> Hosts;
	for (int i = 0; i < Options.m_iGuessers; i++)
	{
		ENetAddress Local;
		enet_address_set_host_ip(&Local, ("127.0.0." + std::to_string(2 + i % Options.m_iSources)).c_str());
		Local.port = ENET_PORT_ANY;
		ENetHost* pHost = enet_host_create(&Local, 1, VexaTest::CLIENT_CHANNEL_COUNT, 0, 0);
		if (!pHost)
			continue;
		enet_host_compress_with_range_coder(pHost);
		enet_host_connect(pHost, &Server, VexaTest::CLIENT_CHANNEL_COUNT, 0);
		Hosts.push_back(pHost);
	}
	VexaTest::tJoinRequest Request;
	Request.m_Name = "Guesser";
	Request.m_Password = "wrong guess";
	const std::vector<uint8_t> Bytes = Request.Build().GetBytes();
	while (!bStop.load(std::memory_order_relaxed))
	{
		for (ENetHost* pHost : Hosts)
		{
			ENetEvent Event;
			while (enet_host_service(pHost, &Event, 0) > 0)
			{
				if (Event.type == ENET_EVENT_TYPE_CONNECT)
				{
					ENetPacket* pPacket = enet_packet_create(Bytes.data(), Bytes.size(), ENET_PACKET_FLAG_RELIABLE);
					if (pPacket && enet_peer_send(Event.peer, 0, pPacket) < 0)
						enet_packet_destroy(pPacket);
					uiAttempts.fetch_add(1, std::memory_order_relaxed);
				}
				else if (Event.type == ENET_EVENT_TYPE_DISCONNECT)
					enet_host_connect(pHost, &Server, VexaTest::CLIENT_CHANNEL_COUNT, 0);
				else if (Event.type == ENET_EVENT_TYPE_RECEIVE)
					enet_packet_destroy(Event.packet);
			}
		}
		usleep(500);
	}
	for (ENetHost* pHost : Hosts)
		enet_host_destroy(pHost);
}

// Runs rcon_tool.py with the arguments; sets bReady when it prints "ready" and gives the line it prints last.
std::string RunRConTool(const std::string& Arguments, std::atomic<bool>* pReady = nullptr)
{
	const std::string Command = std::string("/usr/bin/python3 ") + VEXA_BENCH_DIR + "/rcon_tool.py " + Arguments;
	FILE* pOutput = popen(Command.c_str(), "r");
	if (!pOutput)
		return "could not run rcon_tool.py";
	std::string Last;
	char szLine[512];
	while (fgets(szLine, sizeof(szLine), pOutput))
	{
		Last = szLine;
		while (!Last.empty() && (Last.back() == '\n' || Last.back() == '\r'))
			Last.pop_back();
		if (pReady && Last == "ready")
			pReady->store(true);
	}
	pclose(pOutput);
	if (pReady)
		pReady->store(true);
	return Last;
}
}

int main(int argc, char** argv)
{
	tOptions Options;
	if (!ParseOptions(argc, argv, Options))
	{
		fprintf(stderr,
			"usage: %s [-clients 1-254] [-seconds S] [-rate HZ] [-threads T] [-multithreaded] [-flood query|other] "
			"[-flood-rate R] [-sources 1-249] [-rules N] [-guessers N -guess join|rcon] [-probe]\n",
			argv[0]);
		return 2;
	}

	char szFolder[] = "/tmp/vexa-load-XXXXXX";
	if (!mkdtemp(szFolder))
		return 1;
	const uint16_t usPort = VexaTest::FindFreePort();
	const uint16_t usRConPort = VexaTest::FindFreePort();
	const std::string ConfigPath = std::string(szFolder) + "/server.xml";
	{
		std::ofstream Config(ConfigPath);
		Config << "<server>\n\t<port>" << usPort << "</port>\n\t<httpserver>false</httpserver>\n"
			   << LongRules(Options.m_iRules);
		if (Options.HasPasswords())
			Config << "\t<password>" << JOIN_PASSWORD << "</password>\n\t<rcon>true</rcon>\n\t<rconport>" << usRConPort
				   << "</rconport>\n\t<rconpassword>" << RCON_PASSWORD << "</rconpassword>\n";
		Config << "</server>\n";
	}
	const std::string RConUrl = "ws://127.0.0.1:" + std::to_string(usRConPort) + "/";

	void* pShared = mmap(nullptr, sizeof(tServerCounters), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
	if (pShared == MAP_FAILED)
		return 1;
	g_pCounters = new (pShared) tServerCounters{};

	// The server gets its own process, so its CPU time is its own and the clients' work is not counted.
	const pid_t ServerPid = fork();
	if (ServerPid == 0)
	{
		// The child's output would drown the report.
		if (!freopen("/dev/null", "w", stdout))
			_exit(1);
		_exit(RunServer(ConfigPath, Options));
	}
	if (ServerPid < 0 || enet_initialize() != 0)
		return 1;

	std::vector<tLoadClient> Clients(static_cast<size_t>(Options.m_iClients));
	ENetAddress Address;
	enet_address_set_host_ip(&Address, "127.0.0.1");
	Address.port = usPort;
	// Give the server time to listen before the first connection attempt; ENet retries connects anyway.
	usleep(300000);

	// Every client's host is made first: making 127 sockets takes tens of milliseconds on a busy machine, which
	// belongs to no client's join.
	for (size_t i = 0; i < Clients.size(); i++)
	{
		tLoadClient& Client = Clients[i];
		Client.m_pHost = enet_host_create(nullptr, 1, VexaTest::CLIENT_CHANNEL_COUNT, 0, 0);
		if (!Client.m_pHost || enet_host_compress_with_range_coder(Client.m_pHost) != 0)
			return 1;
		Client.m_Name = "Load" + std::to_string(i);
		if (Options.HasPasswords())
			Client.m_Password = JOIN_PASSWORD;
	}
	const tClock::time_point JoinStart = tClock::now();
	for (tLoadClient& Client : Clients)
	{
		Client.m_Start = tClock::now();
		Client.m_pPeer = enet_host_connect(Client.m_pHost, &Address, VexaTest::CLIENT_CHANNEL_COUNT, 0);
		// The connect goes out now rather than after every other client's connect has been set up.
		enet_host_flush(Client.m_pHost);
	}

	// Joins, all at once, then the steady state: every client syncs its player at the rate. The worker threads
	// drive the clients from their connect on, each its share of them, so no client's answer waits for the
	// tool to get round to it; the measurement window starts after a settling second in which every player
	// streams in everywhere.
	const double dInterval = 1.0 / Options.m_iRate;
	std::atomic<bool> bSteady{false};
	std::atomic<bool> bStop{false};
	std::vector<std::vector<double>> Delays(static_cast<size_t>(Options.m_iThreads));
	auto Drive = [&](size_t First, size_t End, std::vector<double>* pDelays) {
		t_pDelays = pDelays;
		double dNextSync = 0.0;
		while (!bStop.load(std::memory_order_relaxed))
		{
			if (bSteady.load(std::memory_order_acquire))
			{
				const double dElapsed = SecondsSince(g_SteadyStart);
				if (dElapsed >= dNextSync)
				{
					for (size_t i = First; i < End; i++)
						SendPlayerSync(Clients[i], dElapsed, i);
					dNextSync += dInterval;
				}
			}
			for (size_t i = First; i < End; i++)
				ServiceClient(Clients[i]);
			usleep(500);
		}
	};
	const size_t Threads = std::min(Clients.size(), static_cast<size_t>(Options.m_iThreads));
	std::vector<std::thread> Workers;
	for (size_t t = 0; t < Threads; t++)
		Workers.emplace_back(Drive, Clients.size() * t / Threads, Clients.size() * (t + 1) / Threads, &Delays[t]);

	while (g_iSettledClients.load(std::memory_order_relaxed) < static_cast<int>(Clients.size()) &&
		tClock::now() - JoinStart < std::chrono::seconds(60))
		usleep(1000);
	const double dAllJoined = std::chrono::duration<double>(tClock::now() - JoinStart).count();
	g_SteadyStart = tClock::now();
	bSteady.store(true, std::memory_order_release);

	auto CountSent = [&Clients]() {
		uint64_t uiSent = 0;
		for (const tLoadClient& Client : Clients)
			uiSent += Client.m_uiSyncSent.load(std::memory_order_relaxed);
		return uiSent;
	};
	auto WireReceived = [](const tLoadClient& Client) {
		return static_cast<uint64_t>(__atomic_load_n(&Client.m_pHost->totalReceivedData, __ATOMIC_RELAXED));
	};
	std::this_thread::sleep_until(g_SteadyStart + std::chrono::seconds(1));

	// The probe authenticates first (an authenticated console is what it measures), then the guessers start, and
	// both run through the whole window.
	std::atomic<bool> bStopGuessing{false};
	std::atomic<bool> bProbeReady{!Options.m_bProbe};
	std::atomic<uint64_t> uiJoinAttempts{0};
	std::string GuessReport, ProbeReport;
	std::vector<std::thread> Guessing;
	if (Options.m_bProbe)
		Guessing.emplace_back([&] {
			ProbeReport = RunRConTool("probe " + RConUrl + " '" + RCON_PASSWORD + "' " + std::to_string(Options.m_iSeconds),
				&bProbeReady);
		});
	while (!bProbeReady.load())
		usleep(1000);
	if (Options.m_iGuessers > 0 && Options.m_Guess == "join")
		Guessing.emplace_back(RunJoinGuessers, usPort, std::cref(Options), std::cref(bStopGuessing),
			std::ref(uiJoinAttempts));
	if (Options.m_iGuessers > 0 && Options.m_Guess == "rcon")
		Guessing.emplace_back([&] {
			GuessReport = RunRConTool("guess " + RConUrl + " " + std::to_string(Options.m_iGuessers) + " " +
				std::to_string(Options.m_iSources) + " " + std::to_string(Options.m_iSeconds));
		});

	const tClock::time_point WindowStart = tClock::now();
	const uint64_t uiPassesAtStart = g_pCounters->m_uiPasses.load(std::memory_order_relaxed);
	const double dCpuStart = VexaBench::ReadCpuSeconds(ServerPid);
	const int iDroppedAtStart = g_iDroppedClients.load(std::memory_order_relaxed);
	g_bMeasuring = true;
	std::atomic<bool> bStopFlood{false};
	tFloodCounts FloodCounts;
	std::thread FloodThread;
	if (!Options.m_Flood.empty())
		FloodThread = std::thread(RunFlood, std::cref(Options), usPort, std::cref(bStopFlood), std::ref(FloodCounts));
	std::vector<uint64_t> BytesAtStart(Clients.size());
	std::vector<uint64_t> WireAtStart(Clients.size());
	for (size_t i = 0; i < Clients.size(); i++)
	{
		BytesAtStart[i] = Clients[i].m_ulPayloadBytes.load(std::memory_order_relaxed);
		WireAtStart[i] = WireReceived(Clients[i]);
	}
	std::this_thread::sleep_until(WindowStart + std::chrono::seconds(Options.m_iSeconds));
	const double dWindow = std::chrono::duration<double>(tClock::now() - WindowStart).count();
	const double dCpu = VexaBench::ReadCpuSeconds(ServerPid) - dCpuStart;
	const uint64_t uiPasses = g_pCounters->m_uiPasses.load(std::memory_order_relaxed) - uiPassesAtStart;
	g_bMeasuring = false;
	const int iDropped = g_iDroppedClients.load(std::memory_order_relaxed) - iDroppedAtStart;
	bStopFlood = true;
	if (FloodThread.joinable())
		FloodThread.join();
	bStopGuessing = true;
	for (std::thread& Thread : Guessing)
		Thread.join();
	std::vector<uint64_t> BytesAtEnd(Clients.size());
	std::vector<uint64_t> WireAtEnd(Clients.size());
	for (size_t i = 0; i < Clients.size(); i++)
	{
		BytesAtEnd[i] = Clients[i].m_ulPayloadBytes.load(std::memory_order_relaxed);
		WireAtEnd[i] = WireReceived(Clients[i]);
	}
	bStop = true;
	for (std::thread& Worker : Workers)
		Worker.join();
	// Every sync since the clients joined against every one the server received: the clients keep being serviced
	// a little longer, so syncs still on their way when sending stopped count as received rather than lost.
	const uint64_t uiSent = CountSent();
	const tClock::time_point DrainEnd = tClock::now() + std::chrono::milliseconds(300);
	while (tClock::now() < DrainEnd)
	{
		for (tLoadClient& Client : Clients)
			ServiceClient(Client);
		usleep(500);
	}
	const uint64_t uiReceived = g_pCounters->m_uiSyncsReceived.load(std::memory_order_relaxed);

	std::vector<double> Latencies;
	std::vector<double> Connected;
	std::vector<double> FileChecks;
	double dPayload = 0.0, dWire = 0.0;
	size_t Joined = 0;
	for (size_t i = 0; i < Clients.size(); i++)
	{
		const tLoadClient& Client = Clients[i];
		if (Client.m_eState != CLIENT_JOINED)
			continue;
		Joined++;
		Latencies.push_back(Client.m_dJoinMilliseconds);
		Connected.push_back(Client.m_dConnectedMilliseconds);
		FileChecks.push_back(Client.m_dFileCheckMilliseconds);
		dPayload += static_cast<double>(BytesAtEnd[i] - BytesAtStart[i]);
		dWire += static_cast<double>(WireAtEnd[i] - WireAtStart[i]);
	}

	printf("server: %s, %d clients, sync %d Hz each, %d s measured, clients driven by %zu threads\n",
		Options.m_bMultithreaded ? "network thread" : "main thread only", Options.m_iClients, Options.m_iRate,
		Options.m_iSeconds, Threads);
	printf("joined: %zu of %zu in %.2f s\n", Joined, Clients.size(), dAllJoined);
	printf("join latency ms: min %.1f  median %.1f  p95 %.1f  max %.1f\n", Percentile(Latencies, 0.0),
		Percentile(Latencies, 0.5), Percentile(Latencies, 0.95), Percentile(Latencies, 1.0));
	printf("join latency p99 ms: %.1f\n", Percentile(Latencies, 0.99));
	printf("join steps ms, median/p99: connected %.1f/%.1f, file check asked %.1f/%.1f, joined %.1f/%.1f\n",
		Percentile(Connected, 0.5), Percentile(Connected, 0.99), Percentile(FileChecks, 0.5),
		Percentile(FileChecks, 0.99), Percentile(Latencies, 0.5), Percentile(Latencies, 0.99));
	if (uiSent > 0)
		printf("syncs received by the server: %llu of %llu its clients sent after joining (%.1f%%, %.1f%% lost)\n",
			static_cast<unsigned long long>(uiReceived), static_cast<unsigned long long>(uiSent),
			100.0 * static_cast<double>(uiReceived) / static_cast<double>(uiSent),
			100.0 - 100.0 * static_cast<double>(uiReceived) / static_cast<double>(uiSent));
	printf("server CPU: %.3f s per s (%.1f%% of one core)\n", dCpu / dWindow, 100.0 * dCpu / dWindow);
	if (Joined > 0)
		printf("sent per client per s: %.0f bytes of messages, %.0f bytes on the wire (compressed, with ENet headers)\n",
			dPayload / static_cast<double>(Joined) / dWindow, dWire / static_cast<double>(Joined) / dWindow);
	std::vector<double> AllDelays;
	for (const std::vector<double>& ThreadDelays : Delays)
		AllDelays.insert(AllDelays.end(), ThreadDelays.begin(), ThreadDelays.end());
	printf("relay delay ms: p50 %.1f  p95 %.1f  p99 %.1f  max %.1f (%zu syncs relayed)\n", Percentile(AllDelays, 0.5),
		Percentile(AllDelays, 0.95), Percentile(AllDelays, 0.99), Percentile(AllDelays, 1.0), AllDelays.size());
	printf("clients dropped in the window: %d\n", iDropped);
	printf("main loop: %.1f passes per s\n", static_cast<double>(uiPasses) / dWindow);
	if (Options.m_iGuessers > 0)
		printf("guessers: %d %s from %d address(es)%s\n", Options.m_iGuessers, Options.m_Guess.c_str(),
			Options.m_iSources,
			Options.m_Guess == "join" ? (", " + std::to_string(uiJoinAttempts.load()) + " join attempts").c_str() : "");
	if (!GuessReport.empty())
		printf("%s\n", GuessReport.c_str());
	if (!ProbeReport.empty())
		printf("console %s\n", ProbeReport.c_str());
	if (!Options.m_Flood.empty())
	{
		printf("flood: %s, %zu-byte datagrams from %d source address(es), %.0f sent per s\n", Options.m_Flood.c_str(),
			FloodCounts.m_RequestSize, Options.m_iSources, static_cast<double>(FloodCounts.m_uiSent) / dWindow);
		printf("flood answers: %.1f per s (%.1f per s per source), %.0f answer bytes per s, "
			   "%.1f bytes back per byte sent\n",
			static_cast<double>(FloodCounts.m_uiAnswers) / dWindow,
			static_cast<double>(FloodCounts.m_uiAnswers) / dWindow / Options.m_iSources,
			static_cast<double>(FloodCounts.m_uiAnswerBytes) / dWindow,
			FloodCounts.m_uiSent ? static_cast<double>(FloodCounts.m_uiAnswerBytes) /
					static_cast<double>(FloodCounts.m_uiSent * FloodCounts.m_RequestSize)
								 : 0.0);
	}

	for (tLoadClient& Client : Clients)
	{
		if (Client.m_pHost)
			enet_host_destroy(Client.m_pHost);
	}
	kill(ServerPid, SIGINT);
	int iStatus = 0;
	waitpid(ServerPid, &iStatus, 0);
	std::error_code Error;
	std::filesystem::remove_all(szFolder, Error);
	munmap(pShared, sizeof(tServerCounters));
	enet_deinitialize();
	return Joined == Clients.size() ? 0 : 1;
}
