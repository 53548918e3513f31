#include "InProcessServer.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

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
	// The game's define header and vehicle colours come from the built-in archive, as in the real process.
	MountBuiltinArchive(m_Context);

	char szTemplate[] = "/tmp/vexa-inprocess-XXXXXX";
	if (mkdtemp(szTemplate))
	{
		m_Folder = szTemplate;
		m_Context.GetFileSystem()->Mount(new CMountedPath((m_Folder + "/").c_str()));
	}
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

void CInProcessServer::WriteFile(const std::string& RelativePath, const std::string& Content) const
{
	const std::filesystem::path Path = std::filesystem::path(m_Folder) / RelativePath;
	std::error_code Error;
	std::filesystem::create_directories(Path.parent_path(), Error);
	std::ofstream File(Path, std::ios::binary);
	File << Content;
}
}
