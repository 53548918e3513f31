#include "InProcessServer.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "ServerHarness.h"

#include "Engine/BuiltinArchive.h"
#include "Engine/FileSystem.h"
#include "Engine/KestrinStream.h"
#include "Engine/Tar.h"

namespace ServerTest
{
CInProcessServer::CInProcessServer(const std::string& Children, bool bMultithreaded) :
	m_Children(Children + (bMultithreaded ? "\t<multithreaded>true</multithreaded>\n" : "")),
	m_usPort(0),
	m_Server(&m_Context)
{
	// The game's define header and vehicle colours come from the built-in archive, as in the real process.
	Strong<Stream> pImage = Strong<Stream>::New(new CMemoryStream(g_BuiltinArchive, g_BuiltinArchiveSize));
	CTARArchive* pArchive = new CTARArchive();
	pArchive->SetCaseSensitive(true);
	if (pArchive->Read(pImage))
		m_Context.GetFileSystem()->Mount(pArchive);
	else
		delete pArchive;

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
