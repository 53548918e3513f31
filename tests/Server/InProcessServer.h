#pragma once
// The game server object in the test's own process, on a free port, driven one main-loop pass at a time. Tests
// reach into it (elements, the world, event handlers) between passes, and give each game-client stand-in the
// pass as its pump so the server is serviced while a client waits.

#include <cstdint>
#include <string>
#include <unistd.h>

#include "Engine/Context.h"
#include "Game/GTAServer.h"
#include "Support/GameClient.h"

namespace ServerTest
{
class CInProcessServer
{
public:
	// Extra children of the configuration's root element; with bMultithreaded the network thread runs.
	CInProcessServer(const std::string& Children, bool bMultithreaded);
	~CInProcessServer();

	CInProcessServer(const CInProcessServer&) = delete;
	CInProcessServer& operator=(const CInProcessServer&) = delete;

	// Reads the configuration and starts the server; false when either fails.
	bool Start();
	// One locked pass of the main loop.
	void Pass();
	// Runs passes until the condition holds; false when it still does not after the bound, which is a safety net
	// and never a measurement.
	template <class TCondition>
	bool PassUntil(TCondition Condition)
	{
		for (int i = 0; i < 2000 && !Condition(); i++)
		{
			Pass();
			usleep(1000);
		}
		return Condition();
	}
	// A client whose waits run the server's passes.
	void Attach(VexaTest::CTestClient& Client);
	// Writes a file below the server's folder (which it reads like the program's directory), creating its parent
	// folders; before Start for resources the start-up should find.
	void WriteFile(const std::string& RelativePath, const std::string& Content) const;

	CGTAServer& GetServer() { return m_Server; }
	uint16_t GetPort() const { return m_usPort; }

private:
	std::string m_Folder;
	std::string m_Children;
	uint16_t m_usPort;
	Context m_Context;
	CGTAServer m_Server;
};
}
