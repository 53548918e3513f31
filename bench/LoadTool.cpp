// Load tool: starts a game server in a child process, connects many game clients to it over the loopback, takes
// each through the whole join, spawns a player for every client near all the others, and keeps every client
// sending the whole sync block of its player. It prints the join latency, the server's CPU time per second of wall
// time, the bytes the server sent to each client per second, and how many of the syncs its clients handed to ENet
// reached the server (ENet drops unreliable messages before sending when it throttles a peer).
//
// Usage: VexaLoad [-clients N] [-seconds S] [-rate HZ] [-threads T] [-multithreaded]

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
#include <new>
#include <string>
#include <sys/mman.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <enet/enet.h>

#include "BuiltinFiles.h"
#include "CommandLine.h"
#include "GTAClient.h"
#include "GTAServer.h"
#include "GTAServerManager.h"

#include "Elements/ServerPlayer.h"

#include "Engine/Context.h"
#include "Engine/KAssert.h"
#include "Engine/SignalHandlers.h"
#include "Multiplayer/NetObject.h"
#include "ProcessCpu.h"
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
};

// Shared with the server's process: the sync messages it received from clients.
struct tServerCounters
{
	std::atomic<uint64_t> m_uiSyncsReceived;
};

tServerCounters* g_pCounters = nullptr;

// Clients that have joined or failed; counted by the threads that drive them.
std::atomic<int> g_iSettledClients{0};

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

void HandleMessage(tLoadClient& Client, const uint8_t* pData, size_t Length)
{
	Client.m_ulPayloadBytes.fetch_add(Length, std::memory_order_relaxed);
	// Only the few messages of the join are read; everything else (the syncs above all) is only counted.
	if (Length < VexaTest::MESSAGE_HEADER_SIZE)
		return;
	const uint32_t uiId = static_cast<uint32_t>(pData[4] | pData[5] << 8 | pData[6] << 16 | pData[7] << 24);
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
	Block.F32(fAngle).F32(fAngle).F32(100.0f).U8(0).I32(-1).U8(0).U16(0);
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
		else
			return false;
	}
	return Options.m_iClients > 0 && Options.m_iClients < 255 && Options.m_iSeconds > 0 && Options.m_iRate > 0 &&
		Options.m_iThreads > 0;
}
}

int main(int argc, char** argv)
{
	tOptions Options;
	if (!ParseOptions(argc, argv, Options))
	{
		fprintf(stderr, "usage: %s [-clients 1-254] [-seconds S] [-rate HZ] [-threads T] [-multithreaded]\n", argv[0]);
		return 2;
	}

	char szFolder[] = "/tmp/vexa-load-XXXXXX";
	if (!mkdtemp(szFolder))
		return 1;
	const uint16_t usPort = VexaTest::FindFreePort();
	const std::string ConfigPath = std::string(szFolder) + "/server.xml";
	{
		std::ofstream Config(ConfigPath);
		Config << "<server>\n\t<port>" << usPort << "</port>\n\t<httpserver>false</httpserver>\n</server>\n";
	}

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
	tClock::time_point SteadyStart;
	std::atomic<bool> bSteady{false};
	std::atomic<bool> bStop{false};
	auto Drive = [&](size_t First, size_t End) {
		double dNextSync = 0.0;
		while (!bStop.load(std::memory_order_relaxed))
		{
			if (bSteady.load(std::memory_order_acquire))
			{
				const double dElapsed = std::chrono::duration<double>(tClock::now() - SteadyStart).count();
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
		Workers.emplace_back(Drive, Clients.size() * t / Threads, Clients.size() * (t + 1) / Threads);

	while (g_iSettledClients.load(std::memory_order_relaxed) < static_cast<int>(Clients.size()) &&
		tClock::now() - JoinStart < std::chrono::seconds(60))
		usleep(1000);
	const double dAllJoined = std::chrono::duration<double>(tClock::now() - JoinStart).count();
	SteadyStart = tClock::now();
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
	std::this_thread::sleep_until(SteadyStart + std::chrono::seconds(1));
	const tClock::time_point WindowStart = tClock::now();
	const double dCpuStart = VexaBench::ReadCpuSeconds(ServerPid);
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
