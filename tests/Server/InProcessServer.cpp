#include "InProcessServer.h"

#include <cstdlib>
#include <filesystem>

#include "BuiltinFiles.h"

#include "Engine/FileSystem.h"
#include "ServerHarness.h"

namespace ServerTest
{
CInProcessServer::CInProcessServer(const std::string& Children, bool bMultithreaded) :
	m_Children(Children + (bMultithreaded ? "\t<multithreaded>true</multithreaded>\n" : "")),
	m_usPort(0),
	m_Server(&m_Context)
{
	char szTemplate[] = "/tmp/vexa-inprocess-XXXXXX";
	if (mkdtemp(szTemplate))
		m_Folder = szTemplate;
	// The folder stands for the program's directory and comes first; the game's define header and vehicle colours
	// come from the built-in archive after it, as in the real process.
	if (!m_Folder.empty())
		m_Context.GetFileSystem()->Mount(new CMountedPath(m_Folder.c_str()));
	MountBuiltinArchive(m_Context);
}

void CInProcessServer::WriteFile(const std::string& RelativePath, const std::string& Content) const
{
	WriteFileBelow(m_Folder, RelativePath, Content);
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
	WriteFile("server.xml", MakeConfig(m_Children, iPort));
	m_usPort = static_cast<uint16_t>(iPort);
	const std::string Path = m_Folder + "/server.xml";
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
