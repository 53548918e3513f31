#pragma once
// The one server object of the process: the transport's event sink, owner of every server-wide service (the
// transport, the resource manager, the element manager and the client slots), it runs the main loop on the main
// thread and holds the server lock that serialises all of it. main builds it on its stack and drives the
// start-up steps in order (LoadConfig, ApplyOverrides, StartServer, RunCommandFile, StartInputThread,
// MainLoop, ShutDown).

#include <cstdint>
#include <string>
#include <vector>

#include "BanList.h"
#include "CommandLine.h"
#include "ConsoleInput.h"
#include "MasterlistAnnouncer.h"
#include "OmbrelGameProtocolHandler.h"
#include "PendingJoins.h"
#include "RConServer.h"
#include "ServerResourceMgr.h"
#include "TimeManager.h"

#include "Engine/Config.h"
#include "Engine/Context.h"
#include "Engine/Defines.h"
#include "Engine/KestrinHash.h"
#include "Engine/KestrinReference.h"
#include "Engine/KestrinThreading.h"
#include "Scripting/CommandHandlers.h"
#include "Multiplayer/NetMachine.h"
#include "Network/HTTPMgr.h"
#include "Network/HttpServer.h"
#include "Network/NetCompatibilityShim.h"

class CBaseObject;
class CElementChunk;
class CNetGamesList;
class CServerConfiguration;
class CServerManager;
class CENetSystem;

namespace EventHandlers
{
class CEventType;
}

struct tRule
{
	std::string m_Name;
	std::string m_Value;
};

enum eSyncMethod : int32_t
{
	SYNC_METHOD_NONE = 0,
	SYNC_METHOD_INTERVAL = 1,
	SYNC_METHOD_REPLAY = 2,
};

// The reason codes with which the server disconnects a peer.
enum eDisconnectReason : unsigned
{
	DISCONNECT_SERVER_FULL = 1,
	DISCONNECT_UNSUPPORTED_CLIENT = 2,
	DISCONNECT_WRONG_GAME = 3,
	DISCONNECT_WRONG_PASSWORD = 4,
	DISCONNECT_QUIT = 6,
	DISCONNECT_BANNED = 7,
	DISCONNECT_NO_ADDRESS = 8,
	DISCONNECT_INVALID_NICKNAME = 9,
	DISCONNECT_NICKNAME_IN_USE = 12,
	DISCONNECT_REFUSED = 13,
	DISCONNECT_FILE_CHECK_FAILED = 14,
};

// The message ids of the connection and the join.
enum eServerMessage : unsigned
{
	SERVER_MESSAGE_JOIN_REQUEST = 1,
	SERVER_MESSAGE_JOIN_INFO = 2,
	SERVER_MESSAGE_READY = 3,
	SERVER_MESSAGE_SYNC = 4,
	SERVER_MESSAGE_CHAT = 6,
	SERVER_MESSAGE_COMMAND = 7,
	SERVER_MESSAGE_NETWORK_EVENT = 11,
	SERVER_MESSAGE_STREAM_OUT_ACK = 13,
	SERVER_MESSAGE_JOINED = 15,
	SERVER_MESSAGE_DISCONNECT = 17,
	SERVER_MESSAGE_GAME_MODE = 18,
	SERVER_MESSAGE_CLIENT_LIST = 20,
	SERVER_MESSAGE_CLIENT_JOINED = 21,
	SERVER_MESSAGE_CLIENT_LEFT = 22,
	SERVER_MESSAGE_KEY = 29,
	SERVER_MESSAGE_SERVER_NAME = 31,
	SERVER_MESSAGE_CLIENT_VARIABLES = 32,
	SERVER_MESSAGE_SYNCER_REQUEST = 33,
	SERVER_MESSAGE_ELEMENT_STREAMING = 35,
};

class CBaseServer : public CNetCompatibilityShim
{
public:
	enum
	{
		TEXT_FIELD_SIZE = 64,
		CONSOLE_CLIENT_INDEX = 255,
		MAX_MAX_PLAYERS = 127,
		// The longest name a client may join with.
		MAX_NAME_LENGTH = 31,
	};

	explicit CBaseServer(Context* pContext);
	virtual ~CBaseServer();

	CBaseServer(const CBaseServer&) = delete;
	CBaseServer& operator=(const CBaseServer&) = delete;

	// Start-up steps, called by main in this order. Each false is a failed start that has logged its reason.
	bool LoadConfig(const char* szFileName);
	bool ApplyOverrides(const tCommandLine& Options);
	bool StartServer();
	// Runs the lines of "/commandline.txt" (the program's directory first, then the built-in archive).
	void RunCommandFile();
	// Runs one console-style line as a privileged caller without a client.
	bool ConsoleCommand(const char* szLine);
	// False when the thread could not be started; the server then runs without console input.
	bool StartInputThread();
	void MainLoop();
	void ShutDown();

	// Sets the quit flag and signals the quit signalable (the commands "quit" and "exit").
	void RequestQuit();
	// Only signals the quit signalable (the quit procedure of SIGINT and SIGTERM).
	void SignalQuit();

	// The locked part of one main-loop pass; false, with the lock released, when quitting was asked.
	bool OnFrame();

	virtual bool ParseConfig(const CServerConfiguration& Config);
	virtual void OnProcess(const FrameTimeInfo* pFrameInfo);

	// The transport's reports, on the main thread inside the network step of a pass.
	void ProcessPacket(const tPeerInfo& Peer, unsigned uiId, Stream* pStream) override;
	// Logs the attempt and raises OnPlayerConnect; a cancelled connect is refused at once.
	bool OnPlayerConnect(void* pPeer) override;
	// Removes the peer's client record, if it has one, whatever the reason.
	void OnPlayerDisconnect(void* pPeer, unsigned uiReason) override;
	// Query datagrams, answered by the query handler from its snapshot on whichever thread services the host.
	bool ReceiveDatagram(CNetSocket* pSocket) override;

	virtual CNetMachine* NewMachine(CServerManager* pManager);
	virtual void ManageElements(CNetMachine* pClient);
	virtual void OnPlayerJoin(CNetMachine* pClient);
	virtual void OnPlayerJoined(CNetMachine* pClient);

	// Message 18 with the game mode to the client, or to every client for null.
	void SendGameMode(CNetMachine* pClient) { SendServerText(pClient, SERVER_MESSAGE_GAME_MODE, m_szGameMode); }
	// Message 31 with the server name to the client, or to every client for null.
	void SendServerName(CNetMachine* pClient) { SendServerText(pClient, SERVER_MESSAGE_SERVER_NAME, m_szServerName); }
	// Each cuts the text to 63 bytes, never inside a character, and tells every client.
	void SetServerName(const char* szName);
	void SetGameMode(const char* szGameMode);

	void SetGame(const char* szGame);
	// The first rule of that exact name gets the value; otherwise a rule is appended.
	void SetRule(const char* szName, const char* szValue);
	// The value of the first rule of that exact name, or null.
	const char* GetRule(const char* szName) const;

	// A chat line said by a client (a game client's message 6, or the console client's "say"): raises
	// OnPlayerChat and, unless a handler cancelled it, logs "name: text" and sends it to every client.
	void UserChat(CNetMachine* pClient, const char* szText, size_t Length);
	// Message 6 with the text and colour to the client, or to every client for null.
	void SendChat(CNetMachine* pClient, const char* szText, size_t Length, uint32_t uiColour);
	// Message 6 to every client but that one.
	void SendChatExcept(CNetMachine* pClient, const char* szText, size_t Length, uint32_t uiColour);
	// The client record of the server console (slot 255), or null while there is none.
	CNetMachine* GetConsoleClient() const { return m_pConsoleClient; }

	CNetMachines& GetClients() { return m_Clients; }
	CServerManager* GetManager() const { return m_pManager; }
	CServerResourceMgr& GetResourceMgr() { return m_ResourceMgr; }
	CHTTPMgr& GetHTTPMgr() { return m_HTTPMgr; }
	int64_t GetPlayerCount() const { return m_iPlayerCount; }
	CLockable& GetLock() { return m_Lock; }

	Context* GetContext() const { return m_pContext; }
	CCommandHandlers& GetCommands() { return *m_ResourceMgr.GetCommandHandlers(); }
	// The constants every script language offers: the resource manager's registry, which each language reads
	// when it builds a resource's environment.
	CDefineHandlers& GetDefineHandlers() { return *m_ResourceMgr.GetDefineHandlers(); }
	CVarSystem& GetClientVariables() { return m_ClientVariables; }
	const std::vector<tRule>& GetRules() const { return m_Rules; }
	CBanList& GetBanList() { return m_BanList; }
	// False, keeping the old password, when the new one cannot be hashed; empty text clears it.
	bool SetPassword(const char* szPassword) { return m_ServerPassword.SetPassword(szPassword); }
	bool HasPassword() const { return m_ServerPassword.HasPassword(); }

	// Logs "Connecting to the server listing..." and starts the listing link's connection to the configured
	// host; false, with the reason and "Failed connecting to the server listing!" logged, when it cannot start.
	bool StartMasterlist();
	CMasterlistAnnouncer& GetMasterlist() { return m_Masterlist; }

	int64_t GetMaxPlayers() const { return m_iMaxPlayers; }
	// The network version a joining client must have.
	uint32_t GetNetVersion() const { return m_uiNetVersion; }
	uint16_t GetPort() const { return m_usPort; }
	uint16_t GetHttpPort() const { return m_usHttpPort; }
	uint16_t GetRConPort() const { return m_usRConPort; }
	const char* GetBindIP() const { return m_szBindIP; }
	bool IsMultithreaded() const { return m_bMultithreaded; }
	bool IsRConEnabled() const { return m_bRCon; }
	bool IsListed() const { return m_bListed; }
	bool IsHttpServerEnabled() const { return m_bHttpServer; }
	const char* GetHttpUrl() const { return m_HttpUrl.c_str(); }
	// Major, minor, patch and build.
	const uint32_t* GetMinClientVersion() const { return m_uiMinClientVersion; }
	uint16_t GetSyncInterval() const { return m_usSyncInterval; }
	int32_t GetSyncMethod() const { return m_iSyncMethod; }
	bool IsDuplicateNamesAllowed() const { return m_bDuplicateNames; }
	const char* GetLogPath() const { return m_LogPath.c_str(); }
	const char* GetServerName() const { return m_szServerName; }
	const char* GetGameMode() const { return m_szGameMode; }
	// Given to elements made from now on.
	float GetStreamInDistance() const { return m_fStreamInDistance; }
	void SetStreamInDistance(float fDistance) { m_fStreamInDistance = fDistance; }
	float GetStreamOutDistance() const { return m_fStreamOutDistance; }
	void SetStreamOutDistance(float fDistance) { m_fStreamOutDistance = fDistance; }
	const char* GetGame() const { return m_Game.c_str(); }
	int32_t GetGameId() const { return m_iGameId; }

protected:
	// The game server keeps the games table; without one every game is unknown.
	virtual const CNetGamesList* GetGamesList() const { return nullptr; }

	// Takes over the element manager the game server built.
	void SetManager(CServerManager* pManager);
	// The shutdown of the services, in order: the console-line queue is cleared, the listing client and the remote
	// console stop, every resource stops (its scripts still see the network), scripts may no longer act (their
	// code can still run in later collections, finalisers above all, but every native it calls fails), the HTTP
	// server stops, the element manager goes, the client slots are released from 255 down to 0 and the network
	// thread stops (the transport itself stays until the server is gone). The game server runs it from its own
	// destructor, while its part of the server still exists for scripts and elements that reach it; running it
	// again does nothing.
	void ReleaseElementsAndClients();
	// Disconnects the peer with the reason code.
	void RefusePeer(void* pPeer, unsigned uiReason);
	bool GetPeerAddressText(void* pPeer, char* szBuffer, size_t Size);

	// Quit flag or quit signal; also takes over a pending SIGINT or SIGTERM.
	bool IsQuitRequested();

	Context* m_pContext;
	// The server lock. The main thread holds it for the locked part of every pass (OnFrame), so scripts, client
	// messages, replication and the query snapshot are never worked on at once; nothing else takes it. It comes
	// first: inside a pass the transport's host lock and its send and event locks, and the query handler's lock,
	// are taken after it, and nothing takes it while holding one of those. The console queue's lock is never
	// taken with it.
	CLockable m_Lock;
	int64_t m_iMaxPlayers;
	Signalable m_QuitSignal;
	uint32_t m_uiNetVersion;

	bool m_bQuit;
	// Set by ReleaseElementsAndClients, which runs once.
	bool m_bReleased;
	bool m_bListed;
	bool m_bRCon;
	bool m_bHttpServer;
	bool m_bServerQuery;
	uint16_t m_usPort;
	uint16_t m_usHttpPort;
	std::string m_HttpUrl;
	uint16_t m_usRConPort;
	uint16_t m_usSyncInterval;
	int32_t m_iSyncMethod;
	bool m_bDuplicateNames;
	bool m_bMultithreaded;
	uint32_t m_uiMinClientVersion[4];
	std::string m_LogPath;
	char m_szBindIP[TEXT_FIELD_SIZE];
	char m_szServerName[TEXT_FIELD_SIZE];
	char m_szGameMode[TEXT_FIELD_SIZE];
	char m_szMapName[TEXT_FIELD_SIZE];
	char m_szServerListingUrl[TEXT_FIELD_SIZE];
	CSecurePassword m_ServerPassword;
	int64_t m_iPlayerCount;
	TimeManager m_TimeManager;

	std::string m_Game;
	int32_t m_iGameId;
	std::vector<int32_t> m_AcceptedGames;
	std::vector<std::string> m_StartupResources;
	CConsoleInput m_ConsoleInput;
	CVarSystem m_ClientVariables;
	std::vector<tRule> m_Rules;
	CBanList m_BanList;
	int32_t m_iWaitEventTimeout;
	int32_t m_iSyncPriority;
	uint32_t m_uiSyncFlags;
	float m_fStreamInDistance;
	float m_fStreamOutDistance;

	// The file server clients download resource files from, and the scripts' outbound requests. The shutdown
	// drops the requests (and the script functions they hold) while the languages still exist; the manager
	// itself outlives the resource manager, whose resources cancel their requests as they go.
	CHttpServer m_HttpServer;
	CHTTPMgr m_HTTPMgr{m_pContext};
	CServerResourceMgr m_ResourceMgr;
	COmbrelGameProtocolHandler m_QueryHandler;
	// Both are stopped at the start of the shutdown, before the resources; they hold the remote-console password
	// and the listing's state.
	CRConServer m_RConServer{this};
	CMasterlistAnnouncer m_Masterlist{this};
	EventHandlers::CEventType* m_pOnPlayerConnect;
	EventHandlers::CEventType* m_pOnPlayerJoin;
	EventHandlers::CEventType* m_pOnPlayerJoined;
	EventHandlers::CEventType* m_pOnPlayerQuit;
	EventHandlers::CEventType* m_pOnPlayerChat;
	EventHandlers::CEventType* m_pOnPlayerCommand;
	EventHandlers::CEventType* m_pOnProcess;
	EventHandlers::CEventType* m_pOnServerStart;
	CNetMachines m_Clients;
	Strong<CNetMachine> m_pConsoleClient;
	AutoDelete<CServerManager> m_pManager;

	// Join requests waiting for their password's check.
	CPendingJoins m_PendingJoins{m_pContext};

private:
	// Copies the server's texts, clients and rules into its snapshot, on the main thread.
	friend class COmbrelGameProtocolHandler;

	// The configuration's keys, in the order ParseConfig reads them (BaseServerConfig.cpp).
	void OpenLogFile(const char* szFolder);
	bool ParseMaxPlayers(const CServerConfiguration& Config);
	bool ParsePorts(const CServerConfiguration& Config);
	bool CheckPortClash();
	void ParseSync(const CServerConfiguration& Config);
	void ParseMinClientVersion(const CServerConfiguration& Config);
	void ParseStartupResources(const CServerConfiguration& Config);
	void ParseClientVariables(const CServerConfiguration& Config);
	void ParseRules(const CServerConfiguration& Config);

	void StartInitialResources();
	// Runs the lines the console input queued, outside the server lock.
	void RunConsoleLines();

	// Why a join request is refused, in the order of the checks; each has its disconnect code and the label of
	// its warning (ClientHandshake.cpp). JOIN_CHECKS_PASSED, last, is no refusal.
	enum eJoinRefusal
	{
		JOIN_REFUSED_NO_ADDRESS,
		JOIN_REFUSED_BANNED,
		JOIN_REFUSED_UNSUPPORTED_CLIENT,
		JOIN_REFUSED_WRONG_PASSWORD,
		JOIN_REFUSED_INVALID_NAME,
		JOIN_REFUSED_WRONG_GAME,
		JOIN_REFUSED_NAME_IN_USE,
		JOIN_REFUSED_SERVER_FULL,
		JOIN_CHECKS_PASSED,
	};
	// What a join request says, as far as it has been read.
	struct tJoinRequest;

	// The join handshake and the client's own messages. A join request is read and checked in two parts, before
	// and after its password's check, and then refused or admitted.
	void ProcessJoinRequest(void* pPeer, Stream* pStream);
	// The address, the ban, the versions and the password.
	eJoinRefusal ReadJoinHead(void* pPeer, Stream* pStream, tJoinRequest& Request);
	// Once a pass, before the network step: the join requests whose password check has finished go on.
	void FinishJoinChecks();
	// The checks after the password, then the admission.
	void ContinueJoin(void* pPeer, const char* szAddress, Stream* pStream);
	// The name, the game and its version.
	eJoinRefusal ReadJoinDetails(Stream* pStream, tJoinRequest& Request) const;
	// The name in use and the room, with the record a client admitted to the slot will have.
	eJoinRefusal FindRoom(const tJoinRequest& Request, int32_t& iSlot, Strong<CNetMachine>& pClient);
	// Logs the refusal's warning, naming the peer as szWho, and disconnects the peer with its code.
	void Refuse(void* pPeer, const char* szWho, eJoinRefusal eReason);
	// Fills the record, gives it the slot and sends the joining client what it needs.
	void Admit(void* pPeer, const tJoinRequest& Request, int32_t iSlot, CNetMachine* pClient);
	bool IsVersionAllowed(const uint32_t* puiVersion) const;
	bool IsNameInUse(const char* szName) const;
	void SendJoinMessages(CNetMachine* pClient);
	// A message holding one of the server's texts (its name, its game mode), on the configuration channel.
	void SendServerText(CNetMachine* pClient, eServerMessage eMessage, const char* szText);
	void SendCVars(CNetMachine* pClient);
	void ProcessReady(CNetMachine* pClient);
	void ProcessDisconnectMessage(CNetMachine* pClient, Stream* pStream);
	void ProcessSync(CNetMachine* pClient, Stream* pStream);
	void ProcessStreamOutAck(CNetMachine* pClient, Stream* pStream);
	void ProcessSyncerRequest(CNetMachine* pClient, Stream* pStream);
	void ProcessElementStreaming(CNetMachine* pClient, Stream* pStream);
	void ProcessChat(CNetMachine* pClient, Stream* pStream);
	void ProcessCommand(CNetMachine* pClient, Stream* pStream);
	void ProcessNetworkEvent(CNetMachine* pClient, Stream* pStream);
	void ProcessKey(CNetMachine* pClient, Stream* pStream);

	// The steps of the start-up, the main loop and the shutdown, each at its place.
	void RegisterEventTypes();
	bool DefineAllClasses();
	void RefreshResources();
	void SetResourcePrivileged(const char* szName, bool bPrivileged);
	bool StartTransport();
	void CreateConsoleClient();
	bool FindResource(const char* szName);
	bool StartResource(const char* szName);
	void TriggerServerStart();
	void TriggerProcessEvent(double dDelta);
	void ProcessResources(const FrameTimeInfo& FrameInfo);
	void UpdateTransport();
	void ManageClientElements();
	void SendAllSync();

	// The server-wide services' steps, each at its place in the start-up, the main loop or the shutdown; a failed
	// start step has logged its reason. UpdateQueryResponse refreshes the query answer's snapshot.
	void RegisterScriptFunctions();
	void LoadModules(const CElementChunk* pModules);
	bool StartRemoteConsole();
	bool StartHttpServer();
	void ProcessHttpRequests();
	void PollRemoteConsole();
	void ProcessServerListing(const FrameTimeInfo& FrameInfo);
	void UpdateQueryResponse();
	void StopListingAndRemoteConsole();
	void StopHttpServer();
};
