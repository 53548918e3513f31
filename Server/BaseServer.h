#pragma once
// The one server object of the process: it owns every server-wide service, runs the main loop on the main
// thread and holds the server lock that serialises all of it. main builds it on its stack and drives the
// start-up steps in order (LoadConfig, ApplyOverrides, StartServer, RunCommandFile, StartInputThread,
// MainLoop, ShutDown).

#include <cstdint>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "ConsoleCommands.h"
#include "TimeManager.h"

#include "Engine/Config.h"
#include "Engine/Context.h"
#include "Engine/Defines.h"
#include "Engine/KestrinHash.h"
#include "Engine/KestrinReference.h"
#include "Engine/KestrinThreading.h"

class CBaseObject;
class CElementChunk;
class CNetGamesList;
class CServerConfiguration;

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

class CBaseServer
{
public:
	enum
	{
		TEXT_FIELD_SIZE = 64,
		CONSOLE_CLIENT_INDEX = 255,
		MAX_MAX_PLAYERS = 127,
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
	// Only signals the quit signalable (the SIGINT quit procedure).
	void SignalQuit();

	virtual bool ParseConfig(const CServerConfiguration& Config);
	virtual void OnProcess(const FrameTimeInfo* pFrameInfo);

	void SetGame(const char* szGame);
	// The first rule of that exact name gets the value; otherwise a rule is appended.
	void SetRule(const char* szName, const char* szValue);
	// The value of the first rule of that exact name, or null.
	const char* GetRule(const char* szName) const;

	// Chat by a client (the command "say").
	void UserChat(CBaseObject* pClient, const char* szText, size_t Length);
	// The client record of the server console (slot 255), or null while there is none.
	CBaseObject* GetConsoleClient() const;

	Context* GetContext() const { return m_pContext; }
	CConsoleCommands& GetCommands() { return m_Commands; }
	// The constants every script language offers.
	CDefineHandlers& GetDefineHandlers() { return m_Defines; }
	CVarSystem& GetClientVariables() { return m_ClientVariables; }
	const std::vector<tRule>& GetRules() const { return m_Rules; }

	int64_t GetMaxPlayers() const { return m_iMaxPlayers; }
	uint16_t GetPort() const { return m_usPort; }
	uint16_t GetHttpPort() const { return m_usHttpPort; }
	uint16_t GetRConPort() const { return m_usRConPort; }
	const char* GetBindIP() const { return m_szBindIP; }
	bool IsMultithreaded() const { return m_bMultithreaded; }
	bool IsRConEnabled() const { return m_bRCon; }
	const char* GetGame() const { return m_Game.c_str(); }
	int32_t GetGameId() const { return m_iGameId; }

protected:
	// The game server keeps the games table; without one every game is unknown.
	virtual const CNetGamesList* GetGamesList() const { return nullptr; }

	// Quit flag or quit signal; also takes over a pending SIGINT.
	bool IsQuitRequested();

	Context* m_pContext;
	CLockable m_Lock;
	int64_t m_iMaxPlayers;
	Signalable m_QuitSignal;
	uint32_t m_uiNetVersion;

	bool m_bQuit;
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
	CSecurePassword m_RConPassword;
	int64_t m_iPlayerCount;
	TimeManager m_TimeManager;

	std::string m_Game;
	int32_t m_iGameId;
	std::vector<int32_t> m_AcceptedGames;
	std::vector<std::string> m_StartupResources;
	CPumpedEventLoop m_ConsoleQueue;
	CVarSystem m_ClientVariables;
	std::vector<tRule> m_Rules;
	int32_t m_iWaitEventTimeout;
	int32_t m_iSyncPriority;
	uint32_t m_uiSyncFlags;
	float m_fStreamInDistance;
	float m_fStreamOutDistance;

	CConsoleCommands m_Commands;
	CDefineHandlers m_Defines;
	AutoDelete<CThreadCB> m_pInputThread;

private:
	static int InputThreadMain(Thread* pThread, void* pUserData);
	static void FinaliseInputEvent(void* pLine);

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
	void StopInputThread();
	void RunConsoleLines();

	// Hooks for services whose subsystems are not part of the server yet. Each stands at its place in the
	// start-up, the main loop or the shutdown and does nothing: the start steps report success, and
	// FindResource finds nothing because there are no resources yet.
	void RegisterEventTypes();
	void RegisterScriptFunctions();
	void RegisterScriptLanguages();
	void LoadModules(const CElementChunk* pModules);
	bool DefineAllClasses();
	void RefreshResources();
	void SetResourcePrivileged(const char* szName, bool bPrivileged);
	bool StartTransport();
	bool StartRemoteConsole();
	bool StartHttpServer();
	void CreateConsoleClient();
	bool FindResource(const char* szName);
	bool StartResource(const char* szName);
	void TriggerServerStart();
	void TriggerProcessEvent(double dDelta);
	void ProcessResources(const FrameTimeInfo& FrameInfo);
	void ProcessHttpRequests();
	void PollRemoteConsole();
	void UpdateTransport();
	void ProcessServerListing(const FrameTimeInfo& FrameInfo);
	void ManageClientElements();
	void SendAllSync();
	void UpdateQueryResponse();
	void StopServices();
};
