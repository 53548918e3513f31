// Idle benchmark: what a server whose map holds many parked vehicles costs while nothing happens. For each count
// of vehicles it starts the real server binary in a folder of its own, with one resource whose map file parks
// that many vehicles on a grid, and measures the server process's CPU time over a window in three situations:
// no client at all; one joined client without a player (it holds no vehicle); one joined client whose player a
// script spawns among the vehicles (it holds those within its stream-in distance). Nothing moves and nobody
// syncs, so whatever the server spends is the cost of its passes over the elements. It prints a table.
//
// Usage: VexaIdleBench [-seconds S] [-vehicles N[,N...]] [-server PATH]
// PATH is a server binary other than the one built beside this benchmark (an older build, to compare).

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "ProcessFigures.h"
#include "Support/GameClient.h"
#include "Support/Ports.h"

#ifndef VEXA_SERVER_BINARY
#error "VEXA_SERVER_BINARY must name the server executable"
#endif

namespace
{
typedef std::chrono::steady_clock tClock;

// Vehicles stand this far apart on a square grid around the origin, where the spawned player stands: with the
// default stream-in distance of 100 the player holds about the same few hundred vehicles whatever the count.
constexpr float GRID_SPACING = 10.0f;
// Time-outs of the set-up steps; safety bounds, not measurements.
constexpr int START_TIMEOUT_MS = 120000;
constexpr int EXIT_TIMEOUT_MS = 30000;
// After start-up (and the join), before the window opens: the client's creates have gone out.
constexpr int SETTLE_MS = 2000;

enum eSituation
{
	SITUATION_NO_CLIENT,
	SITUATION_CLIENT_WITHOUT_PLAYER,
	SITUATION_CLIENT_WITH_PLAYER,
	SITUATION_COUNT,
};

const char* const g_rgszSituations[SITUATION_COUNT] = {"no client", "joined, no player", "joined, player"};

struct tOptions
{
	int m_iSeconds = 10;
	std::vector<int> m_VehicleCounts = {0, 1000, 4000, 16000};
	std::string m_Server = VEXA_SERVER_BINARY;
};

struct tResult
{
	bool m_bMeasured = false;
	// Share of one core, in percent.
	double m_dCpuPercent = 0.0;
	// Elements the client has created on it when the window closes.
	size_t m_Held = 0;
};

void WriteFile(const std::filesystem::path& Path, const std::string& Content)
{
	std::error_code Error;
	std::filesystem::create_directories(Path.parent_path(), Error);
	std::ofstream File(Path, std::ios::binary | std::ios::trunc);
	File << Content;
}

std::string ParkedMap(int iVehicles)
{
	std::ostringstream Map;
	Map << "<map>\n";
	int iSide = 1;
	while (iSide * iSide < iVehicles)
		iSide++;
	for (int i = 0; i < iVehicles; i++)
	{
		const float fX = static_cast<float>(i % iSide - iSide / 2) * GRID_SPACING;
		const float fY = static_cast<float>(i / iSide - iSide / 2) * GRID_SPACING;
		Map << "\t<vehicle posX=\"" << fX << "\" posY=\"" << fY << "\" posZ=\"0\" model=\"130\" angle=\"0\"/>\n";
	}
	Map << "</map>\n";
	return Map.str();
}

// server.xml and the resources: "parked" with the map, and "spawner" (started only when wanted) that gives every
// joined client a player at the origin.
void WriteServerFolder(const std::filesystem::path& Folder, uint16_t usPort, int iVehicles, bool bSpawn)
{
	std::ostringstream Config;
	Config << "<server>\n\t<port>" << usPort << "</port>\n\t<httpport>" << VexaTest::FindFreePort()
		   << "</httpport>\n\t<httpserver>false</httpserver>\n\t<resources>\n\t\t<resource src=\"parked\" />\n";
	if (bSpawn)
		Config << "\t\t<resource src=\"spawner\" />\n";
	Config << "\t</resources>\n</server>\n";
	WriteFile(Folder / "server.xml", Config.str());
	WriteFile(Folder / "resources/parked/meta.xml", "<meta>\n\t<map src=\"parked.map\" type=\"server\" />\n</meta>\n");
	WriteFile(Folder / "resources/parked/parked.map", ParkedMap(iVehicles));
	WriteFile(Folder / "resources/spawner/meta.xml",
		"<meta>\n\t<script src=\"main.lua\" type=\"server\" language=\"lua\" />\n</meta>\n");
	WriteFile(Folder / "resources/spawner/main.lua",
		"addEventHandler('OnPlayerJoined', function(event, client) spawnPlayer(client, Vec3(0, 0, 0)) end)\n");
}

// The server binary, run from a copy in the folder (its own directory is where it finds its resources), with
// standard input a pipe that stays open like a console's, and its output in a file of the folder.
class CServer
{
public:
	~CServer() { Stop(); }

	bool Start(const std::string& Program, const std::filesystem::path& Folder)
	{
		const std::filesystem::path Binary = Folder / "VexaServer";
		std::error_code Error;
		if (!std::filesystem::copy_file(Program, Binary, Error))
			return false;
		m_OutputPath = Folder / "output.txt";
		int rgiPipe[2];
		if (pipe(rgiPipe) != 0)
			return false;
		m_Pid = fork();
		if (m_Pid == 0)
		{
			const int iOutput = open(m_OutputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
			if (iOutput < 0 || chdir(Folder.c_str()) != 0 || dup2(rgiPipe[0], STDIN_FILENO) < 0 ||
				dup2(iOutput, STDOUT_FILENO) < 0 || dup2(iOutput, STDERR_FILENO) < 0)
				_exit(127);
			close(rgiPipe[0]);
			close(rgiPipe[1]);
			close(iOutput);
			execl(Binary.c_str(), Binary.c_str(), static_cast<char*>(nullptr));
			_exit(127);
		}
		close(rgiPipe[0]);
		m_iInput = rgiPipe[1];
		return m_Pid > 0;
	}

	// Whether the output holds the text within the time-out; false at once when the server ended.
	bool WaitForOutput(const char* szText, int iTimeoutMs)
	{
		const tClock::time_point Deadline = tClock::now() + std::chrono::milliseconds(iTimeoutMs);
		while (tClock::now() < Deadline)
		{
			if (GetOutput().find(szText) != std::string::npos)
				return true;
			if (waitpid(m_Pid, nullptr, WNOHANG) == m_Pid)
			{
				m_Pid = -1;
				return false;
			}
			std::this_thread::sleep_for(std::chrono::milliseconds(20));
		}
		return false;
	}

	std::string GetOutput() const
	{
		std::ifstream File(m_OutputPath, std::ios::binary);
		return std::string((std::istreambuf_iterator<char>(File)), std::istreambuf_iterator<char>());
	}

	pid_t GetPid() const { return m_Pid; }

	// Asks for an orderly quit on the console; kills the server when it does not end in time.
	void Stop()
	{
		if (m_iInput >= 0)
		{
			const char szQuit[] = "quit\n";
			if (write(m_iInput, szQuit, sizeof(szQuit) - 1) < 0)
				perror("write");
		}
		if (m_Pid > 0)
		{
			const tClock::time_point Deadline = tClock::now() + std::chrono::milliseconds(EXIT_TIMEOUT_MS);
			while (waitpid(m_Pid, nullptr, WNOHANG) == 0)
			{
				if (tClock::now() >= Deadline)
				{
					kill(m_Pid, SIGKILL);
					waitpid(m_Pid, nullptr, 0);
					break;
				}
				std::this_thread::sleep_for(std::chrono::milliseconds(20));
			}
			m_Pid = -1;
		}
		if (m_iInput >= 0)
			close(m_iInput);
		m_iInput = -1;
	}

private:
	pid_t m_Pid = -1;
	int m_iInput = -1;
	std::filesystem::path m_OutputPath;
};

// Keeps the client's connection serviced (and its queue drained) for the time; just waits without a client.
void Idle(VexaTest::CGameClient* pClient, int iMilliseconds)
{
	if (!pClient)
	{
		std::this_thread::sleep_for(std::chrono::milliseconds(iMilliseconds));
		return;
	}
	const tClock::time_point End = tClock::now() + std::chrono::milliseconds(iMilliseconds);
	while (tClock::now() < End)
	{
		pClient->Service(50);
		pClient->ApplyElementMessages();
		pClient->TakeMessages();
	}
}

tResult Measure(const tOptions& Options, int iVehicles, eSituation eWhat)
{
	tResult Result;
	char szFolder[] = "/tmp/vexa-idle-XXXXXX";
	if (!mkdtemp(szFolder))
		return Result;
	const std::filesystem::path Folder(szFolder);
	const uint16_t usPort = VexaTest::FindFreePort();
	WriteServerFolder(Folder, usPort, iVehicles, eWhat == SITUATION_CLIENT_WITH_PLAYER);
	{
		CServer Server;
		if (!Server.Start(Options.m_Server, Folder) || !Server.WaitForOutput("Resources loaded", START_TIMEOUT_MS))
		{
			fprintf(stderr, "%d vehicles, %s: the server did not start\n%s\n", iVehicles, g_rgszSituations[eWhat],
				Server.GetOutput().c_str());
		}
		else
		{
			VexaTest::CGameClient Client;
			VexaTest::CGameClient* pClient = eWhat == SITUATION_NO_CLIENT ? nullptr : &Client;
			if (pClient && !pClient->Join(usPort, VexaTest::tJoinRequest(), {}, START_TIMEOUT_MS))
				fprintf(stderr, "%d vehicles, %s: the client did not join\n", iVehicles, g_rgszSituations[eWhat]);
			else
			{
				Idle(pClient, SETTLE_MS);
				const tClock::time_point Start = tClock::now();
				const double dCpuStart = VexaBench::ReadCpuSeconds(Server.GetPid());
				Idle(pClient, Options.m_iSeconds * 1000);
				const double dCpu = VexaBench::ReadCpuSeconds(Server.GetPid()) - dCpuStart;
				const double dWindow = std::chrono::duration<double>(tClock::now() - Start).count();
				Result.m_bMeasured = true;
				Result.m_dCpuPercent = 100.0 * dCpu / dWindow;
				Result.m_Held = pClient ? pClient->GetElements().size() : 0;
			}
		}
	}
	std::error_code Error;
	std::filesystem::remove_all(Folder, Error);
	return Result;
}

bool ParseCounts(const char* szList, std::vector<int>& Counts)
{
	Counts.clear();
	std::istringstream Stream(szList);
	std::string Item;
	while (std::getline(Stream, Item, ','))
	{
		char* pEnd = nullptr;
		const long lCount = std::strtol(Item.c_str(), &pEnd, 10);
		// The element table holds 16384; the player takes one.
		if (Item.empty() || *pEnd != '\0' || lCount < 0 || lCount > 16000)
			return false;
		Counts.push_back(static_cast<int>(lCount));
	}
	return !Counts.empty();
}

bool ParseOptions(int argc, char** argv, tOptions& Options)
{
	for (int i = 1; i < argc; i++)
	{
		const bool bHasValue = i + 1 < argc;
		if (strcmp(argv[i], "-seconds") == 0 && bHasValue)
			Options.m_iSeconds = std::atoi(argv[++i]);
		else if (strcmp(argv[i], "-vehicles") == 0 && bHasValue)
		{
			if (!ParseCounts(argv[++i], Options.m_VehicleCounts))
				return false;
		}
		else if (strcmp(argv[i], "-server") == 0 && bHasValue)
			Options.m_Server = argv[++i];
		else
			return false;
	}
	return Options.m_iSeconds > 0;
}
}

int main(int argc, char** argv)
{
	tOptions Options;
	if (!ParseOptions(argc, argv, Options))
	{
		fprintf(stderr, "usage: %s [-seconds S] [-vehicles N[,N...]] [-server PATH] (N from 0 to 16000)\n", argv[0]);
		return 2;
	}
	// A server that ended early must not end the benchmark through its console pipe.
	signal(SIGPIPE, SIG_IGN);
	printf("server CPU in %% of one core over %d s, idle, by parked map vehicles (held: elements created on the "
		   "client with a player, its own player among them)\n",
		Options.m_iSeconds);
	printf("%9s", "vehicles");
	for (const char* szSituation : g_rgszSituations)
		printf(" | %18s", szSituation);
	printf(" | %6s\n", "held");
	bool bAll = true;
	for (int iVehicles : Options.m_VehicleCounts)
	{
		printf("%9d", iVehicles);
		fflush(stdout);
		size_t Held = 0;
		for (int i = 0; i < SITUATION_COUNT; i++)
		{
			const tResult Result = Measure(Options, iVehicles, static_cast<eSituation>(i));
			bAll = bAll && Result.m_bMeasured;
			if (Result.m_bMeasured)
				printf(" | %17.1f%%", Result.m_dCpuPercent);
			else
				printf(" | %18s", "failed");
			if (i == SITUATION_CLIENT_WITH_PLAYER)
				Held = Result.m_Held;
			fflush(stdout);
		}
		printf(" | %6zu\n", Held);
	}
	return bAll ? 0 : 1;
}
