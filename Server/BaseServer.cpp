#include "BaseServer.h"

#include <cstring>
#include <unistd.h>

#include "NetGamesList.h"
#include "ServerFunctions.h"
#include "ServerHttp.h"
#include "ServerManager.h"

#include "Engine/FileSystem.h"
#include "Engine/KError.h"
#include "Engine/KestrinStream.h"
#include "Engine/KestrinString.h"
#include "Engine/SignalHandlers.h"
#include "Network/ENetSystem.h"
#include "Scripting/DocumentationDump.h"
#include "Scripting/EventHandlers.h"
#include "Scripting/KeyBinds.h"
#include "Scripting/Resource.h"

namespace
{
constexpr useconds_t FRAME_SLEEP_US = 5000;
constexpr size_t COMMAND_FILE_LINE_SIZE = 256;

class CSayCommandHandler : public CCommandHandler
{
public:
	explicit CSayCommandHandler(CBaseServer* pServer) : m_pServer(pServer) {}

	void Execute(const char* /*szName*/, const char* szParameters, CBaseObject* pClient) override
	{
		CNetMachine* pMachine = dynamic_cast<CNetMachine*>(pClient);
		if (!pMachine)
			return;
		const char* szText = szParameters ? szParameters : "";
		m_pServer->UserChat(pMachine, szText, strlen(szText));
	}

private:
	CBaseServer* m_pServer;
};

class CExitCommandHandler : public CCommandHandler
{
public:
	explicit CExitCommandHandler(CBaseServer* pServer) : m_pServer(pServer) {}

	void Execute(const char* /*szName*/, const char* /*szParameters*/, CBaseObject* /*pClient*/) override
	{
		m_pServer->RequestQuit();
	}

private:
	CBaseServer* m_pServer;
};

// Answers only the console (a caller without a client or one with the console flag): game clients get no reply
// for commands that do not exist.
class CUnhandledCommandHandler2 : public CUnhandledCommandHandler
{
public:
	void Execute(const char* szName, const char* szParameters, CBaseObject* pClient) override
	{
		const CNetMachine* pMachine = dynamic_cast<const CNetMachine*>(pClient);
		if (!pClient || (pMachine && pMachine->IsConsole()))
			CUnhandledCommandHandler::Execute(szName, szParameters, pClient);
	}
};

// The registry keeps a handler it took; one it refused is the caller's to delete.
void AddCommand(CCommandHandlers& Commands, CCommandHandler* pHandler, const char* szName)
{
	if (!Commands.AddCommandHandler(pHandler, szName))
		delete pHandler;
}

// The text cut to the field, never inside a character: a text that does not fit is cut before the character that
// would be split.
void CopyTextFieldWholeCharacters(char* szField, const char* szValue)
{
	if (!szValue)
		szValue = "";
	size_t Length = strnlen(szValue, CBaseServer::TEXT_FIELD_SIZE);
	if (Length == CBaseServer::TEXT_FIELD_SIZE)
	{
		Length = CBaseServer::TEXT_FIELD_SIZE - 1;
		// A continuation byte at the cut means the last kept bytes begin a character that does not fit whole.
		while (Length > 0 && (static_cast<unsigned char>(szValue[Length]) & 0xC0) == 0x80)
			Length--;
	}
	memcpy(szField, szValue, Length);
	szField[Length] = '\0';
}
}

CBaseServer::CBaseServer(Context* pContext)
	: m_pContext(pContext), m_iMaxPlayers(32), m_uiNetVersion(0), m_bQuit(false), m_bReleased(false),
	  m_bListed(false), m_bRCon(false),
	  m_bHttpServer(true), m_bServerQuery(false), m_usPort(22000), m_usHttpPort(22000), m_usRConPort(22000),
	  m_usSyncInterval(30), m_iSyncMethod(SYNC_METHOD_INTERVAL), m_bDuplicateNames(false), m_bMultithreaded(false),
	  m_uiMinClientVersion{1, 0, 0, 0}, m_iPlayerCount(0), m_iGameId(-1), m_ConsoleInput(m_QuitSignal),
	  m_iWaitEventTimeout(5), m_iSyncPriority(3), m_uiSyncFlags(0), m_fStreamInDistance(100.0f),
	  m_fStreamOutDistance(200.0f), m_ResourceMgr(pContext, this), m_QueryHandler(this),
	  m_pOnPlayerConnect(nullptr), m_pOnPlayerJoin(nullptr), m_pOnPlayerJoined(nullptr), m_pOnPlayerQuit(nullptr),
	  m_pOnPlayerChat(nullptr), m_pOnPlayerCommand(nullptr), m_pOnProcess(nullptr), m_pOnServerStart(nullptr)
{
	m_szBindIP[0] = '\0';
	m_szServerName[0] = '\0';
	m_szGameMode[0] = '\0';
	m_szMapName[0] = '\0';
	m_szServerListingUrl[0] = '\0';

	RegisterEventTypes();

	// Script handlers of commands, key binds and network events receive the calling client.
	CCommandHandlers& Commands = GetCommands();
	Commands.SetPassClient(true);
	m_ResourceMgr.GetKeyBinds()->SetPassClient(true);
	m_ResourceMgr.GetNetworkHandlers()->SetPassClient(true);
	AddCommand(Commands, new CSayCommandHandler(this), "say");
	AddCommand(Commands, new CExitCommandHandler(this), "quit");
	AddCommand(Commands, new CExitCommandHandler(this), "exit");
	m_ResourceMgr.RegisterResourceCommands();
	AddCommand(Commands, new CDumpDocumentationCommandHandler(&m_ResourceMgr), "dumpdoc");
	Commands.SetUnhandledCommandHandler(new CUnhandledCommandHandler2());

	RegisterScriptFunctions();
}

CBaseServer::~CBaseServer()
{
	m_ConsoleInput.Stop();
	ReleaseElementsAndClients();
}

void CBaseServer::SetManager(CServerManager* pManager)
{
	m_pManager = pManager;
	m_ResourceMgr.SetManager(pManager);
}

void CBaseServer::ReleaseElementsAndClients()
{
	if (m_bReleased)
		return;
	m_bReleased = true;
	m_ConsoleInput.Clear();
	StopListingAndRemoteConsole();
	m_ResourceMgr.ClearAllResources();
	// Script code outlives its resources in the collections still to come (the resource manager's own, the
	// languages' last ones): whatever it calls from here on must not reach the managers that go next.
	m_ResourceMgr.GetScripting()->Close();
	StopHttpServer();
	m_ResourceMgr.SetManager(nullptr);
	m_pManager.Delete();
	m_Clients.Clear();
	m_pConsoleClient.SetNull();
	// The network thread answers queries through this object and from the query handler's snapshot, so it ends
	// here, before the destructors reach the server's own part, and not only when the transport goes last.
	GetNetSystem()->StopNetworkThread();
}

void CBaseServer::RequestQuit()
{
	m_bQuit = true;
	m_QuitSignal.Signal();
}

void CBaseServer::SignalQuit()
{
	m_QuitSignal.Signal();
}

bool CBaseServer::IsQuitRequested()
{
	// A SIGINT or SIGTERM is only recorded by its handler; the quit procedure runs here, on the main thread.
	CSignalHandlers::ConsumeQuitRequest();
	return m_bQuit || m_QuitSignal.IsSignalled();
}

void CBaseServer::SetGame(const char* szGame)
{
	m_Game = szGame ? szGame : "";
	const CNetGamesList* pGames = GetGamesList();
	m_iGameId = pGames ? pGames->GetGameId(m_Game.c_str()) : -1;
	m_AcceptedGames.assign(1, m_iGameId);
}

void CBaseServer::SetRule(const char* szName, const char* szValue)
{
	for (tRule& Rule : m_Rules)
	{
		if (Rule.m_Name == szName)
		{
			Rule.m_Value = szValue;
			return;
		}
	}
	m_Rules.push_back(tRule{szName, szValue});
}

void CBaseServer::SetServerName(const char* szName)
{
	CopyTextFieldWholeCharacters(m_szServerName, szName);
	m_Masterlist.SetName(m_szServerName, strlen(m_szServerName));
	SendServerName(nullptr);
}

void CBaseServer::SetGameMode(const char* szGameMode)
{
	CopyTextFieldWholeCharacters(m_szGameMode, szGameMode);
	m_Masterlist.SetGameMode(m_szGameMode, strlen(m_szGameMode));
	SendGameMode(nullptr);
}

const char* CBaseServer::GetRule(const char* szName) const
{
	for (const tRule& Rule : m_Rules)
	{
		if (Rule.m_Name == szName)
			return Rule.m_Value.c_str();
	}
	return nullptr;
}

bool CBaseServer::StartServer()
{
	m_pContext->Log("Server is starting...");
	m_pContext->Log(m_bMultithreaded ? "Multithreading: enabled" : "Multithreading: disabled");
	m_TimeManager.Initialise();

	if (!StartTransport())
	{
		m_pContext->LogError("Failed to start the server!");
		return false;
	}
	m_pContext->Log("Server is now listening on port %hu max players %d...", m_usPort, static_cast<int>(m_iMaxPlayers));

	if (m_bRCon && !StartRemoteConsole())
	{
		m_pContext->LogError("Failed to start the RCon server!");
		return false;
	}
	if (m_bHttpServer && !StartHttpServer())
	{
		m_pContext->LogError("Failed to start the HTTP server!");
		return false;
	}
	CreateConsoleClient();
	StartInitialResources();
	TriggerServerStart();
	return true;
}

void CBaseServer::StartInitialResources()
{
	m_pContext->Log("Starting resources...");
	int iListed = static_cast<int>(m_StartupResources.size());
	int iStarted = 0;
	int iFailed = 0;
	for (const std::string& Name : m_StartupResources)
	{
		if (!FindResource(Name.c_str()))
		{
			m_pContext->LogError("Error loading resource %s: resource not found!", Name.c_str());
			iFailed++;
		}
		else if (!StartResource(Name.c_str()))
		{
			m_pContext->LogError("Error loading resource %s!", Name.c_str());
			iFailed++;
		}
		else
			iStarted++;
	}
	m_pContext->LogMessage(iFailed ? LOGTYPE_WARN : LOGTYPE_INFO, "%i/%i Resources loaded, %i failed", iStarted,
		iListed, iFailed);
	m_StartupResources.clear();
}

bool CBaseServer::ConsoleCommand(const char* szLine)
{
	return GetCommands().ConsoleCommand(szLine, nullptr, true);
}

void CBaseServer::RunCommandFile()
{
	CFileSystem* pFileSystem = m_pContext->GetFileSystem();
	if (!pFileSystem)
		return;
	Strong<Stream> pStream = Strong<Stream>::New(pFileSystem->Open("/commandline.txt", false));
	if (pStream.IsNull())
		return;

	CTextReader Reader(pStream);
	char szLine[COMMAND_FILE_LINE_SIZE];
	size_t Length = 0;
	bool bTooLong = false;
	int iLine = 1;
	char32_t c = 0;
	while (Reader.ReadCharacter(c) && c != 0)
	{
		if (c == '\r')
			continue;
		if (c == '\n')
		{
			szLine[Length] = '\0';
			if (bTooLong)
				m_pContext->LogWarn("Line %d of commandline.txt is too long and was not run.", iLine);
			else
				ConsoleCommand(szLine);
			Length = 0;
			bTooLong = false;
			iLine++;
			continue;
		}
		// The command gets the line as the UTF-8 text it holds; a character that does not fit whole makes the
		// line too long rather than cutting it.
		char szCharacter[StringManager::UTF8_MAX_CHARACTER_LENGTH];
		const size_t CharacterLength = StringManager::EncodeUTF8(c, szCharacter);
		if (Length + CharacterLength < sizeof(szLine))
		{
			memcpy(szLine + Length, szCharacter, CharacterLength);
			Length += CharacterLength;
		}
		else
			bTooLong = true;
	}
	// A last line without a line feed is not run.
}

bool CBaseServer::StartInputThread()
{
	return m_ConsoleInput.Start();
}

void CBaseServer::RunConsoleLines()
{
	m_ConsoleInput.RunLines(
		[](const char* szText, bool bTooLong, void* pUserData) {
			CBaseServer* pServer = static_cast<CBaseServer*>(pUserData);
			if (bTooLong)
				pServer->m_pContext->LogWarn("A console line was too long and was not run.");
			else
				pServer->GetCommands().ConsoleCommandOnly(szText, pServer->GetConsoleClient(), true);
		},
		this);
}

bool CBaseServer::OnFrame()
{
	CLockable::CLock Lock(m_Lock);
	m_TimeManager.Process();
	const FrameTimeInfo& FrameInfo = m_TimeManager.GetFrameInfo();
	ProcessResources(FrameInfo);
	ProcessHttpRequests();
	if (m_bRCon)
		PollRemoteConsole();
	if (IsQuitRequested())
		return false;
	FinishJoinChecks();
	UpdateTransport();
	if (m_bListed)
		ProcessServerListing(FrameInfo);
	ManageClientElements();
	SendAllSync();
	OnProcess(&FrameInfo);
	UpdateQueryResponse();
	return true;
}

void CBaseServer::MainLoop()
{
	while (OnFrame())
	{
		RunConsoleLines();
		GetNetSystem()->Wait(FRAME_SLEEP_US);
	}
}

void CBaseServer::ShutDown()
{
	m_ConsoleInput.Stop();
	m_pContext->Log("Server shutting down...");
	m_ConsoleInput.Clear();
}

void CBaseServer::OnProcess(const FrameTimeInfo* pFrameInfo)
{
	TriggerProcessEvent(pFrameInfo->m_dDelta);
}

void CBaseServer::RegisterEventTypes()
{
	EventHandlers::CEventHandlers* pEvents = m_ResourceMgr.GetEventHandlers();
	m_pOnPlayerConnect =
		pEvents->CreateEventType("OnPlayerConnect", "Called when a player is attempting to connect", 1, true);
	m_pOnPlayerJoin =
		pEvents->CreateEventType("OnPlayerJoin", "Called when a player has connected and is joining", 1, false);
	m_pOnPlayerJoined =
		pEvents->CreateEventType("OnPlayerJoined", "Called when the player has joined the game", 1, false);
	m_pOnPlayerQuit = pEvents->CreateEventType("OnPlayerQuit", "Called when a player disconnects", 2, false);
	m_pOnPlayerChat = pEvents->CreateEventType("OnPlayerChat", "Called when a player chats", 2, true);
	m_pOnPlayerCommand = pEvents->CreateEventType("OnPlayerCommand", "Called when a player types a command", 3, true);
	m_pOnProcess = pEvents->CreateEventType("OnProcess", "Called every process", 1, false);
	m_pOnServerStart =
		pEvents->CreateEventType("OnServerStart", "Called when the server finished the start sequence", 0, false);
}

bool CBaseServer::StartTransport()
{
	// Queries are answered as soon as the port listens, before the first pass refreshes the answer.
	UpdateQueryResponse();
	return InitAsServer(m_usPort, m_szBindIP, m_bMultithreaded);
}

void CBaseServer::UpdateTransport()
{
	UpdateNetwork();
}

bool CBaseServer::ReceiveDatagram(CNetSocket* pSocket)
{
	return m_QueryHandler.ReceiveDatagram(pSocket);
}

void CBaseServer::CreateConsoleClient()
{
	Strong<CNetMachine> pConsole = Strong<CNetMachine>::New(NewMachine(m_pManager));
	if (pConsole.IsNull())
		return;
	pConsole->SetGameName(m_Game.c_str());
	pConsole->SetGame(m_iGameId);
	pConsole->SetGameVersion(0);
	pConsole->SetIndex(CONSOLE_CLIENT_INDEX);
	pConsole->SetAdministrator(true);
	pConsole->SetConsole(true);
	pConsole->SetName("Console");
	m_Clients.SetLocalIndex(CONSOLE_CLIENT_INDEX);
	m_Clients.SetMachine(CONSOLE_CLIENT_INDEX, pConsole);
	m_pConsoleClient = pConsole;
}

void CBaseServer::TriggerServerStart()
{
	if (m_pOnServerStart)
		m_pOnServerStart->Trigger(CArguments());
}

void CBaseServer::TriggerProcessEvent(double dDelta)
{
	if (!m_pOnProcess)
		return;
	CArguments Arguments;
	Arguments.AddNumber(dDelta);
	m_pOnProcess->Trigger(Arguments);
}

void CBaseServer::ProcessResources(const FrameTimeInfo& FrameInfo)
{
	m_ResourceMgr.Process(FrameInfo.m_dDelta);
}

void CBaseServer::ManageClientElements()
{
	for (CNetMachine* pJoined : m_Clients.Clients(CLIENTS_JOINED))
	{
		Strong<CNetMachine> pClient(pJoined);
		ManageElements(pClient);
	}
}

void CBaseServer::SendAllSync()
{
	if (!m_pManager)
		return;
	if (m_iSyncMethod == SYNC_METHOD_INTERVAL)
	{
		// Nothing below handles a message or runs a script, so each element's entry is written once for all.
		CNetObjectMgr::CSyncPass Pass(*m_pManager);
		for (CNetMachine* pJoined : m_Clients.Clients(CLIENTS_JOINED))
		{
			Strong<CNetMachine> pClient(pJoined);
			m_pManager->SendSync(pClient, static_cast<ePacketPriority>(m_iSyncPriority),
				static_cast<ePacketFlags>(m_uiSyncFlags));
		}
	}
	m_pManager->ElectSyncers();
}

bool CBaseServer::DefineAllClasses()
{
	return m_ResourceMgr.GetScripting()->DefineAllClasses();
}

void CBaseServer::RefreshResources()
{
	m_ResourceMgr.RefreshResources(false);
}

void CBaseServer::SetResourcePrivileged(const char* szName, bool bPrivileged)
{
	if (CResource* pResource = m_ResourceMgr.FindResourceByName(szName))
		pResource->SetPrivileged(bPrivileged);
}

bool CBaseServer::FindResource(const char* szName)
{
	return m_ResourceMgr.FindResourceByName(szName) != nullptr;
}

bool CBaseServer::StartResource(const char* szName)
{
	Strong<CResource> pResource(m_ResourceMgr.FindResourceByName(szName));
	return !pResource.IsNull() && pResource->Start();
}

void CBaseServer::RegisterScriptFunctions()
{
	RegisterServerChatFunctions(this);
	RegisterHttpFunctions(m_ResourceMgr.GetScripting(), &m_HTTPMgr);
}

// The services' steps, each called at its place in the start-up, the main loop or the shutdown.
// Listens on every local address: the console's port does not follow bindip.
bool CBaseServer::StartRemoteConsole()
{
	// Plain HTTP on this port is answered from the published files; the file server, which otherwise names the
	// folder, starts after this or not at all.
	CHttpServer::SetDocumentRoot(GetPublishedFilesFolder(m_pContext).c_str());
	if (m_RConServer.StartServer(m_usRConPort))
		return true;
	m_pContext->LogError("%s", g_szError);
	return false;
}
bool CBaseServer::StartHttpServer()
{
	CHttpServer::SetDocumentRoot(GetPublishedFilesFolder(m_pContext).c_str());
	if (m_HttpServer.StartServer(m_szBindIP, m_usHttpPort))
		return true;
	m_pContext->LogError("%s", g_szError);
	return false;
}
void CBaseServer::ProcessHttpRequests()
{
	m_HTTPMgr.Process();
	// The file server's thread does not log; what it ran into is logged here.
	m_HttpServer.ReportLimits(m_pContext);
}
void CBaseServer::PollRemoteConsole()
{
	m_RConServer.UpdateNetwork();
	m_RConServer.Pulse();
}
void CBaseServer::ProcessServerListing(const FrameTimeInfo& FrameInfo)
{
	m_Masterlist.Pulse(static_cast<float>(FrameInfo.m_dDelta));
}
bool CBaseServer::StartMasterlist()
{
	m_pContext->Log("Connecting to the server listing...");
	// There is no listing service of our own to fall back on: without a host the owner is told what to set.
	if (m_szServerListingUrl[0] == '\0')
		SetError("No server listing host is set (serverlistingurl)");
	else
	{
		const std::string Url = std::string("ws://") + m_szServerListingUrl + "/";
		const std::string Headers = std::string("User-Agent: ") + m_pContext->GetUserAgent() + "\r\n";
		if (m_Masterlist.Connect(Url.c_str(), MASTERLIST_PROTOCOL, Headers.c_str()))
			return true;
	}
	m_pContext->LogError("%s", g_szError);
	m_pContext->LogError("Failed connecting to the server listing!");
	return false;
}
void CBaseServer::UpdateQueryResponse() { m_QueryHandler.UpdateResponse(); }
void CBaseServer::StopListingAndRemoteConsole()
{
	m_Masterlist.StopServer();
	m_RConServer.StopServer();
}
// Requests still running are dropped: their scripts are gone.
void CBaseServer::StopHttpServer()
{
	m_HttpServer.StopServer();
	m_HTTPMgr.Clear();
}
