#include "Support/Ports.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <random>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace VexaTest
{
namespace
{
bool IsPortFree(uint16_t usPort, int iSocketType)
{
	int iSocket = BindPort(usPort, iSocketType);
	if (iSocket < 0)
		return false;
	close(iSocket);
	return true;
}

// Test processes run side by side (ctest runs each test case as a process of its own), so a port one process
// found free may be taken by another before its server binds it. Each port handed out is therefore claimed with
// a file named after it, created exclusively and holding the claimer's process id; a claim whose process is gone
// is taken over. Ports come from below the system's ephemeral range, so client sockets bound to port 0 never
// take a server's port either.
constexpr uint16_t FIRST_PORT = 20000;
constexpr uint16_t PORT_COUNT = 12000;
const char* const CLAIM_FOLDER = "/tmp/vexa-test-ports";

std::string ClaimPath(uint16_t usPort)
{
	return std::string(CLAIM_FOLDER) + "/" + std::to_string(usPort);
}

bool IsClaimStale(const std::string& Path)
{
	std::ifstream File(Path);
	long lPid = 0;
	if (!(File >> lPid) || lPid <= 0)
		return false; // being written right now, or not ours to judge
	return kill(static_cast<pid_t>(lPid), 0) != 0 && errno == ESRCH;
}

std::vector<std::string>& OwnClaims()
{
	static std::vector<std::string> s_Claims;
	return s_Claims;
}

void ReleaseOwnClaims()
{
	for (const std::string& Path : OwnClaims())
		unlink(Path.c_str());
}

bool Claim(uint16_t usPort)
{
	const std::string Path = ClaimPath(usPort);
	for (int iTry = 0; iTry < 2; iTry++)
	{
		int iFile = open(Path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
		if (iFile >= 0)
		{
			const std::string Pid = std::to_string(getpid()) + "\n";
			bool bWritten = write(iFile, Pid.data(), Pid.size()) == static_cast<ssize_t>(Pid.size());
			close(iFile);
			if (!bWritten)
			{
				unlink(Path.c_str());
				return false;
			}
			if (OwnClaims().empty())
				atexit(ReleaseOwnClaims);
			OwnClaims().push_back(Path);
			return true;
		}
		if (errno != EEXIST || !IsClaimStale(Path))
			return false;
		unlink(Path.c_str());
	}
	return false;
}
}

uint16_t FindFreePort()
{
	static std::mutex s_Mutex;
	static std::mt19937 s_Random(static_cast<uint32_t>(getpid()) ^ static_cast<uint32_t>(time(nullptr)));
	std::lock_guard<std::mutex> Lock(s_Mutex);
	mkdir(CLAIM_FOLDER, 0777);
	for (int iAttempt = 0; iAttempt < 1000; iAttempt++)
	{
		const uint16_t usPort = static_cast<uint16_t>(FIRST_PORT + s_Random() % PORT_COUNT);
		// A claim of our own means the port was handed out already: never the same port twice in one process.
		if (!Claim(usPort))
			continue;
		if (IsPortFree(usPort, SOCK_DGRAM) && IsPortFree(usPort, SOCK_STREAM))
			return usPort;
	}
	return 0;
}

int BindPort(uint16_t usPort, int iSocketType, uint32_t uiAddress)
{
	int iSocket = socket(AF_INET, iSocketType, 0);
	if (iSocket < 0)
		return -1;
	sockaddr_in Address{};
	Address.sin_family = AF_INET;
	Address.sin_addr.s_addr = htonl(uiAddress);
	Address.sin_port = htons(usPort);
	if (bind(iSocket, reinterpret_cast<sockaddr*>(&Address), sizeof(Address)) != 0)
	{
		close(iSocket);
		return -1;
	}
	return iSocket;
}
}
