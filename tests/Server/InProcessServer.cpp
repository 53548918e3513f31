#include "InProcessServer.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "BuiltinFiles.h"
#include "ServerHarness.h"

namespace ServerTest
{
CInProcessServer::CInProcessServer(const std::string& Children, bool bMultithreaded) :
	m_Children(Children + (bMultithreaded ? "\t<multithreaded>true</multithreaded>\n" : "")),
	m_usPort(0),
	m_Server(&m_Context)
{
	// The game's define header and vehicle colours come from the built-in archive, as in the real process.
	MountBuiltinArchive(m_Context);

	char szTemplate[] = "/tmp/vexa-inprocess-XXXXXX";
	if (mkdtemp(szTemplate))
		m_Folder = szTemplate;
}

CInProcessServer::~CInProcessServer()
{
	if (!m_Folder.empty())
	{
		std::error_code Error;
		std::filesystem::remove_all(m_Folder, Error);
	}
}

bool CInProcessServer::Start()
{
	if (m_Folder.empty())
		return false;
	int iPort = 0;
	const std::string Path = m_Folder + "/server.xml";
	{
		std::ofstream File(Path);
		File << MakeConfig(m_Children, iPort);
	}
	m_usPort = static_cast<uint16_t>(iPort);
	return m_Server.LoadConfig(Path.c_str()) && m_Server.StartServer();
}

void CInProcessServer::Pass()
{
	m_Server.OnFrame();
}

void CInProcessServer::Attach(VexaTest::CTestClient& Client)
{
	Client.SetPump([this] { Pass(); });
}
}
