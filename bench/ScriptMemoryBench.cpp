// Script memory benchmark: how the game server's memory follows scripts that keep making and dropping engine
// objects, in Lua, JavaScript and Squirrel.
//
// For each language a child process runs the game server in a temporary folder with one resource, and the tool
// samples the child's resident memory, the number of live engine objects in it and, where the language tells it,
// the size of the language's heap. Scripts never ask for a collection: whatever their collector does on its own
// is what is measured.
//
// The default workload's script, at each tick of an interval, makes vehicles, gives each one 64-byte string of
// element data and destroys it, and makes as many Vec3 values; it keeps none of them. With -clients N the script is
// that of an ordinary game mode instead: it spawns every joined player and gives its client element data, and makes
// vehicles with element data that a timer destroys two seconds later, while N game clients keep joining, staying a
// few seconds, leaving and joining again, staggered so that the server always has some joining and some leaving.
// The file workloads open a file of the resource (a small XML document) at each step and drop what they
// made: -workload readers reads it whole through a TextReader and closes the stream, leaving the reader to hold
// it; -workload streams reads a few bytes and leaves the stream open. Their scripts count the openFile calls that
// failed, and the tool counts the server's open descriptors; run it under a descriptor limit (prlimit --nofile)
// to see whether the dropped objects go before the limit is reached.
//
// Every sample prints the time since the resource started, the vehicles and Vec3 values (or the files opened and
// the failed openFile calls) the script made so far, the server's resident memory, the live engine objects and the
// language's heap, and for the file workloads the server's open descriptors, at the sample and at most since the
// last one (looked at every 100 ms); the summary gives the resident memory and live objects once the first stretch
// is over (-settle) and at the end, the growth between them, the least-squares slope of the resident memory over
// that time and the share of a CPU the server used meanwhile.
//
// Usage: VexaScriptMemoryBench [-only lua|js|sq] [-workload churn|readers|streams] [-rate PER_S] [-tick MS]
//                              [-seconds S] [-sample S] [-settle S] [-clients N]
// Defaults: 400 vehicles (or files) a second in ticks of 50 ms for 180 s, settled after 60 s; with -clients, 20
// vehicles a second for 600 s, settled after 300 s. Samples every 10 s. -clients takes the churn workload only.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>
#include <string>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <jsapi.h>
#include <lua.hpp>

#include "BuiltinFiles.h"
#include "Game/GTAServer.h"

#include "Engine/BaseObject.h"
#include "Engine/Context.h"
#include "Engine/FileSystem.h"
#include "Engine/KAssert.h"
#include "Engine/KestrinNative.h"
#include "Engine/SignalHandlers.h"
#include "JSScripting/CJSScripting.h"
#include "LuaScripting/CLuaScripting.h"
#include "ProcessFigures.h"
#include "Support/GameClient.h"
#include "Support/Ports.h"

namespace
{
typedef std::chrono::steady_clock tClock;

enum eWorkload
{
	WORKLOAD_CHURN,
	WORKLOAD_READERS,
	WORKLOAD_STREAMS,
};

struct tOptions
{
	std::string m_Only;
	eWorkload m_eWorkload = WORKLOAD_CHURN;
	// Vehicles (and as many Vec3 values), or files, a second; 0 takes the mode's default.
	int m_iRate = 0;
	int m_iTickMilliseconds = 50;
	int m_iSeconds = 0;
	int m_iSampleSeconds = 10;
	int m_iSettleSeconds = 0;
	int m_iClients = 0;

	bool HasClients() const { return m_iClients > 0; }
	bool OpensFiles() const { return m_eWorkload != WORKLOAD_CHURN; }
	int GetPerTick() const { return std::max(1, m_iRate * m_iTickMilliseconds / 1000); }
};

// The text every vehicle gets as element data: 64 bytes.
const char PAYLOAD[] = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";
static_assert(sizeof(PAYLOAD) == 65, "the element data is a 64-byte string");

// One language: its label, its name in meta.xml and among the script languages, its script file, and the scripts
// of every mode. PAYLOAD, COUNT and TICK are replaced before the script is written. noteMade, noteSpawned and
// noteOpened are the benchmark's own functions, called once a tick or a join handler has done everything, so a
// script that fails on the way never counts.
struct tLanguage
{
	const char* m_szLabel;
	const char* m_szMetaName;
	const char* m_szVMName;
	const char* m_szFile;
	const char* m_szChurnScript;
	const char* m_szGameModeScript;
	// Both file workloads: STEP is replaced by what the workload does with each stream it opened.
	const char* m_szFilesScript;
	const char* m_szReaderStep;
	const char* m_szStreamStep;
};

const tLanguage g_Languages[] = {
	{"lua", "lua", "Lua", "main.lua",
		R"script(local payload = 'PAYLOAD'
setInterval(function()
	for i = 1, COUNT do
		local vehicle = gta.createVehicle(130, Vec3(1, 2, 0))
		vehicle:setData('k', payload)
		destroyElement(vehicle)
	end
	for i = 1, COUNT do
		local position = Vec3(i, 2, 0)
	end
	noteMade(COUNT, COUNT)
end, TICK)
)script",
		R"script(local payload = 'PAYLOAD'
local made = 0
local function scrap(vehicle)
	destroyElement(vehicle)
end
addEventHandler('OnPlayerJoined', function(event, client)
	spawnPlayer(client, Vec3(0, 0, 0))
	client:setData('greeting', payload)
	noteSpawned()
end)
setInterval(function()
	for i = 1, COUNT do
		made = made + 1
		local vehicle = gta.createVehicle(130, Vec3(made % 40, 5, 0))
		vehicle:setData('owner', payload)
		setTimeout(scrap, 2000, vehicle)
	end
	noteMade(COUNT, COUNT)
end, TICK)
)script",
		R"script(setInterval(function()
	local failed = 0
	for i = 1, COUNT do
		local stream = openFile('data.xml')
		if stream == nil then
			failed = failed + 1
		else
			STEP
		end
	end
	noteOpened(COUNT - failed, failed)
end, TICK)
)script",
		"local reader = TextReader(stream)\n\t\t\treader:loadText()\n\t\t\tstream:close()", "stream:readBytes(16)"},
	{"js", "javascript", "SpiderMonkey", "main.js",
		R"script(const payload = 'PAYLOAD';
setInterval(function() {
	for (let i = 0; i < COUNT; i++) {
		const vehicle = gta.createVehicle(130, new Vec3(1, 2, 0));
		vehicle.setData('k', payload);
		destroyElement(vehicle);
	}
	for (let i = 0; i < COUNT; i++) {
		const position = new Vec3(i, 2, 0);
	}
	noteMade(COUNT, COUNT);
}, TICK);
)script",
		R"script(const payload = 'PAYLOAD';
let made = 0;
function scrap(vehicle) {
	destroyElement(vehicle);
}
addEventHandler('OnPlayerJoined', function(event, client) {
	spawnPlayer(client, new Vec3(0, 0, 0));
	client.setData('greeting', payload);
	noteSpawned();
});
setInterval(function() {
	for (let i = 0; i < COUNT; i++) {
		made++;
		const vehicle = gta.createVehicle(130, new Vec3(made % 40, 5, 0));
		vehicle.setData('owner', payload);
		setTimeout(scrap, 2000, vehicle);
	}
	noteMade(COUNT, COUNT);
}, TICK);
)script",
		R"script(setInterval(function() {
	let failed = 0;
	for (let i = 0; i < COUNT; i++) {
		const stream = openFile('data.xml');
		if (stream === null) {
			failed++;
			continue;
		}
		STEP
	}
	noteOpened(COUNT - failed, failed);
}, TICK);
)script",
		"const reader = new TextReader(stream);\n\t\treader.loadText();\n\t\tstream.close();", "stream.readBytes(16);"},
	{"sq", "squirrel", "Squirrel", "main.nut",
		R"script(local payload = "PAYLOAD";
setInterval(function() {
	for (local i = 0; i < COUNT; i++) {
		local vehicle = gta.createVehicle(130, Vec3(1, 2, 0));
		vehicle.setData("k", payload);
		destroyElement(vehicle);
	}
	for (local i = 0; i < COUNT; i++) {
		local position = Vec3(i, 2, 0);
	}
	noteMade(COUNT, COUNT);
}, TICK);
)script",
		R"script(local payload = "PAYLOAD";
local made = 0;
local scrap = function(vehicle) {
	destroyElement(vehicle);
};
addEventHandler("OnPlayerJoined", function(event, client) {
	spawnPlayer(client, Vec3(0, 0, 0));
	client.setData("greeting", payload);
	noteSpawned();
});
setInterval(function() {
	for (local i = 0; i < COUNT; i++) {
		made++;
		local vehicle = gta.createVehicle(130, Vec3(made % 40, 5, 0));
		vehicle.setData("owner", payload);
		setTimeout(scrap, 2000, vehicle);
	}
	noteMade(COUNT, COUNT);
}, TICK);
)script",
		R"script(setInterval(function() {
	local failed = 0;
	for (local i = 0; i < COUNT; i++) {
		local stream = openFile("data.xml");
		if (stream == null) {
			failed++;
			continue;
		}
		STEP
	}
	noteOpened(COUNT - failed, failed);
}, TICK);
)script",
		"local reader = TextReader(stream);\n\t\treader.loadText();\n\t\tstream.close();", "stream.readBytes(16);"},
};

const char RESOURCE_NAME[] = "churn";

enum eServerState : int
{
	SERVER_STARTING,
	SERVER_RUNNING,
	SERVER_FAILED,
};

// Shared with the server's process, which writes every field; the tool only reads them.
struct tServerCounters
{
	std::atomic<int> m_iState;
	// Counted by the script through noteMade.
	std::atomic<uint64_t> m_ulVehicles;
	std::atomic<uint64_t> m_ulVectors;
	// Players the game mode's join handler spawned.
	std::atomic<uint64_t> m_ulSpawned;
	// Counted by the file workloads' scripts through noteOpened.
	std::atomic<uint64_t> m_ulOpened;
	std::atomic<uint64_t> m_ulFailedOpens;
	// Refreshed at every main-loop pass: the language's heap is only safe to read on the server's own thread.
	std::atomic<uint64_t> m_ulLiveObjects;
	std::atomic<int64_t> m_lHeapKilobytes;
};

tServerCounters* g_pCounters = nullptr;

// The language's heap in kB, or -1 when it does not tell.
int64_t HeapKilobytes(CScriptingVM* pVM, const tLanguage& Language)
{
	if (!pVM)
		return -1;
	if (strcmp(Language.m_szLabel, "lua") == 0)
		return lua_gc(static_cast<CLuaScripting*>(pVM)->GetState(), LUA_GCCOUNT, 0);
	if (strcmp(Language.m_szLabel, "js") == 0)
		return static_cast<int64_t>(JS_GetGCParameter(static_cast<CJSScripting*>(pVM)->GetContext(), JSGC_BYTES) / 1024);
	return -1;
}

// The game server, publishing what the tool samples after every pass.
class CMemoryBenchServer : public CGTAServer
{
public:
	CMemoryBenchServer(Context* pContext, const tLanguage& Language) : CGTAServer(pContext), m_Language(Language) {}

	void OnProcess(const FrameTimeInfo* pFrameInfo) override
	{
		CGTAServer::OnProcess(pFrameInfo);
		if (!m_pVM)
			m_pVM = GetResourceMgr().GetScripting()->GetVM(m_Language.m_szVMName);
		g_pCounters->m_ulLiveObjects.store(CBaseObject::GetLiveCount(), std::memory_order_relaxed);
		g_pCounters->m_lHeapKilobytes.store(HeapKilobytes(m_pVM, m_Language), std::memory_order_relaxed);
		g_pCounters->m_iState.store(SERVER_RUNNING, std::memory_order_release);
	}

private:
	const tLanguage& m_Language;
	CScriptingVM* m_pVM = nullptr;
};

CMemoryBenchServer* g_pServer = nullptr;

void QuitServer()
{
	if (g_pServer)
		g_pServer->SignalQuit();
}

// Adds the two numbers a script passed to the two counters.
bool AddCounts(CNativeState* pState, std::atomic<uint64_t>& First, std::atomic<uint64_t>& Second)
{
	int64_t lFirst = 0;
	int64_t lSecond = 0;
	if (!pState->CheckNumber(0, lFirst) || !pState->CheckNumber(1, lSecond))
		return false;
	First.fetch_add(static_cast<uint64_t>(lFirst), std::memory_order_relaxed);
	Second.fetch_add(static_cast<uint64_t>(lSecond), std::memory_order_relaxed);
	return true;
}

// noteMade(vehicles, vectors): what one tick of the script made.
bool NativeNoteMade(CNativeState* pState, int, void* pUserData)
{
	tServerCounters* pCounters = static_cast<tServerCounters*>(pUserData);
	return AddCounts(pState, pCounters->m_ulVehicles, pCounters->m_ulVectors);
}

bool NativeNoteSpawned(CNativeState*, int, void* pUserData)
{
	static_cast<tServerCounters*>(pUserData)->m_ulSpawned.fetch_add(1, std::memory_order_relaxed);
	return true;
}

// noteOpened(opened, failed): the files one tick of a file workload opened, and the openFile calls that failed.
bool NativeNoteOpened(CNativeState* pState, int, void* pUserData)
{
	tServerCounters* pCounters = static_cast<tServerCounters*>(pUserData);
	return AddCounts(pState, pCounters->m_ulOpened, pCounters->m_ulFailedOpens);
}

// The child process: the server in the folder until SIGINT.
int RunServer(const std::string& Folder, const tLanguage& Language)
{
	// A tool that dies must not leave its server running.
	prctl(PR_SET_PDEATHSIG, SIGKILL);
	g_bAsserts = false;
	Context ProcessContext;
	// The resources are found in the folder (the program's own directory, mounted first, holds none); the game's
	// files come from the built-in archive after it.
	ProcessContext.GetFileSystem()->Mount(new CMountedPath(Folder.c_str()));
	MountBuiltinArchive(ProcessContext);

	CMemoryBenchServer Server(&ProcessContext, Language);
	g_pServer = &Server;
	CSignalHandlers::Install(QuitServer);
	// Before the configuration is read: reading it binds the functions into the languages.
	ReflectedNamespace* pGlobal = Server.GetResourceMgr().GetScripting()->GetGlobal();
	pGlobal->RegisterFunction("noteMade", "ii", NativeNoteMade, g_pCounters);
	pGlobal->RegisterFunction("noteSpawned", "", NativeNoteSpawned, g_pCounters);
	pGlobal->RegisterFunction("noteOpened", "ii", NativeNoteOpened, g_pCounters);
	const std::string ConfigPath = Folder + "/server.xml";
	if (!Server.LoadConfig(ConfigPath.c_str()) || !Server.StartServer())
	{
		g_pCounters->m_iState.store(SERVER_FAILED, std::memory_order_release);
		g_pServer = nullptr;
		return 1;
	}
	Server.MainLoop();
	Server.ShutDown();
	g_pServer = nullptr;
	return 0;
}

void ReplaceAll(std::string& Text, const std::string& From, const std::string& To)
{
	for (size_t At = Text.find(From); At != std::string::npos; At = Text.find(From, At + To.size()))
		Text.replace(At, From.size(), To);
}

std::string ScriptTemplate(const tLanguage& Language, const tOptions& Options)
{
	if (Options.HasClients())
		return Language.m_szGameModeScript;
	if (!Options.OpensFiles())
		return Language.m_szChurnScript;
	std::string Script = Language.m_szFilesScript;
	ReplaceAll(Script, "STEP",
		Options.m_eWorkload == WORKLOAD_READERS ? Language.m_szReaderStep : Language.m_szStreamStep);
	return Script;
}

// The file that the file workloads' scripts open: a small XML document, 8 elements below its root (some 600
// bytes), as a resource's settings are: its text weighs little beside the open file that a reader keeps.
std::string DataFileText()
{
	std::string Text = "<root>\n";
	for (int i = 0; i < 8; i++)
		Text += "\t<item index=\"" + std::to_string(i) + "\" name=\"item of the list\">some text</item>\n";
	return Text + "</root>\n";
}

std::string ScriptFor(const tLanguage& Language, const tOptions& Options)
{
	std::string Script = ScriptTemplate(Language, Options);
	ReplaceAll(Script, "PAYLOAD", PAYLOAD);
	ReplaceAll(Script, "COUNT", std::to_string(Options.GetPerTick()));
	ReplaceAll(Script, "TICK", std::to_string(Options.m_iTickMilliseconds));
	return Script;
}

bool WriteText(const std::string& Path, const std::string& Text)
{
	std::error_code Error;
	std::filesystem::create_directories(std::filesystem::path(Path).parent_path(), Error);
	std::ofstream File(Path);
	File << Text;
	return static_cast<bool>(File);
}

// The configuration and the one resource.
bool WriteServerFolder(const std::string& Folder, const tLanguage& Language, const tOptions& Options, uint16_t usPort)
{
	const std::string Resource = Folder + "/resources/" + RESOURCE_NAME + "/";
	// Room for every client and for records of clients that are still leaving.
	const int iMaxPlayers = std::min(127, std::max(32, Options.m_iClients + 32));
	const std::string Config = "<server>\n\t<port>" + std::to_string(usPort) +
		"</port>\n\t<httpserver>false</httpserver>\n\t<maxplayers>" + std::to_string(iMaxPlayers) +
		"</maxplayers>\n\t<resources>\n\t\t<resource src=\"" + RESOURCE_NAME + "\" />\n\t</resources>\n</server>\n";
	const std::string Meta = std::string("<meta>\n\t<script src=\"") + Language.m_szFile +
		"\" type=\"server\" language=\"" + Language.m_szMetaName + "\" />\n</meta>\n";
	return WriteText(Folder + "/server.xml", Config) && WriteText(Resource + "meta.xml", Meta) &&
		WriteText(Resource + Language.m_szFile, ScriptFor(Language, Options)) &&
		WriteText(Resource + "data.xml", DataFileText());
}

std::atomic<bool> g_bInterrupted{false};

void OnInterrupt(int)
{
	g_bInterrupted.store(true);
}

// Sleeps until the moment, or less when the tool is interrupted or the flag is set.
void SleepUntil(tClock::time_point Until, const std::atomic<bool>* pbStop = nullptr)
{
	while (tClock::now() < Until && !g_bInterrupted.load() && !(pbStop && pbStop->load()))
		std::this_thread::sleep_for(std::min<tClock::duration>(Until - tClock::now(), std::chrono::milliseconds(100)));
}

struct tChurnCounts
{
	std::atomic<uint64_t> m_ulJoins{0};
	std::atomic<uint64_t> m_ulFailedJoins{0};
	// Disconnected by the server while staying.
	std::atomic<uint64_t> m_ulDropped{0};
};

// A client stays a few seconds, which differ from client to client, and waits a little before it joins again.
constexpr int CHURN_PAUSE_MS = 500;
constexpr int CHURN_CYCLE_MS = 4500 + CHURN_PAUSE_MS;
constexpr int JOIN_TIMEOUT_MS = 10000;

int StayMilliseconds(int iIndex)
{
	return 3000 + (iIndex % 4) * 1000;
}

// One game client, joining, staying, leaving and joining again until told to stop. The first join waits for the
// client's share of a cycle, so that joins and leaves spread over time.
void RunChurnClient(int iIndex, int iClients, uint16_t usPort, const std::atomic<bool>& bStop, tChurnCounts& Counts)
{
	SleepUntil(tClock::now() + std::chrono::milliseconds(CHURN_CYCLE_MS * iIndex / iClients), &bStop);
	VexaTest::CGameClient Client;
	VexaTest::tJoinRequest Request;
	Request.m_Name = "Churn" + std::to_string(iIndex);
	while (!bStop.load() && !g_bInterrupted.load())
	{
		if (!Client.Join(usPort, Request, {}, JOIN_TIMEOUT_MS))
		{
			Counts.m_ulFailedJoins.fetch_add(1);
			Client.Reset();
			SleepUntil(tClock::now() + std::chrono::seconds(1), &bStop);
			continue;
		}
		Counts.m_ulJoins.fetch_add(1);
		const tClock::time_point Leave = tClock::now() + std::chrono::milliseconds(StayMilliseconds(iIndex));
		while (tClock::now() < Leave && !bStop.load())
		{
			Client.Service(100);
			// What the server sends is not looked at; it must not pile up either.
			Client.TakeAll();
			if (Client.IsDisconnected())
			{
				Counts.m_ulDropped.fetch_add(1);
				break;
			}
		}
		if (Client.IsConnected())
		{
			Client.SendDisconnect();
			Client.Disconnect(0, 3000);
		}
		Client.Reset();
		SleepUntil(tClock::now() + std::chrono::milliseconds(CHURN_PAUSE_MS), &bStop);
	}
}

struct tSample
{
	double m_dSeconds;
	uint64_t m_ulVehicles;
	uint64_t m_ulVectors;
	uint64_t m_ulOpened;
	uint64_t m_ulFailedOpens;
	long m_lRss;
	uint64_t m_ulLiveObjects;
	int64_t m_lHeapKilobytes;
	int m_iDescriptors;
	// The most open descriptors seen since the sample before.
	int m_iPeakDescriptors;
	double m_dCpuSeconds;
};

struct tLanguageResult
{
	const tLanguage* m_pLanguage = nullptr;
	bool m_bOk = false;
	std::vector<tSample> m_Samples;
	uint64_t m_ulJoins = 0;
	uint64_t m_ulSpawned = 0;
	uint64_t m_ulFailedJoins = 0;
	uint64_t m_ulDropped = 0;
};

// Descriptors come and go between samples as the collector frees the objects holding them; their peak is what
// meets a limit.
constexpr int DESCRIPTOR_WATCH_MS = 100;

// Sleeps until the moment, counting the server's open descriptors meanwhile; the most it saw.
int WatchDescriptorsUntil(pid_t ServerPid, tClock::time_point Until)
{
	int iPeak = VexaBench::CountOpenDescriptors(ServerPid);
	while (tClock::now() < Until && !g_bInterrupted.load())
	{
		SleepUntil(std::min(Until, tClock::now() + std::chrono::milliseconds(DESCRIPTOR_WATCH_MS)));
		iPeak = std::max(iPeak, VexaBench::CountOpenDescriptors(ServerPid));
	}
	return iPeak;
}

tSample TakeSample(pid_t ServerPid, tClock::time_point Start, int iPeakDescriptors)
{
	tSample Sample;
	Sample.m_dSeconds = std::chrono::duration<double>(tClock::now() - Start).count();
	Sample.m_ulVehicles = g_pCounters->m_ulVehicles.load();
	Sample.m_ulVectors = g_pCounters->m_ulVectors.load();
	Sample.m_ulOpened = g_pCounters->m_ulOpened.load();
	Sample.m_ulFailedOpens = g_pCounters->m_ulFailedOpens.load();
	Sample.m_lRss = VexaBench::ReadResidentKilobytes(ServerPid);
	Sample.m_ulLiveObjects = g_pCounters->m_ulLiveObjects.load();
	Sample.m_lHeapKilobytes = g_pCounters->m_lHeapKilobytes.load();
	Sample.m_iDescriptors = VexaBench::CountOpenDescriptors(ServerPid);
	Sample.m_iPeakDescriptors = std::max(iPeakDescriptors, Sample.m_iDescriptors);
	Sample.m_dCpuSeconds = VexaBench::ReadCpuSeconds(ServerPid);
	return Sample;
}

void PrintSample(const tLanguage& Language, const tOptions& Options, const tSample& Sample, const tChurnCounts* pCounts)
{
	printf("%-3s %5.0f s", Language.m_szLabel, Sample.m_dSeconds);
	if (Options.OpensFiles())
		printf("  opened %9llu  failed %7llu", static_cast<unsigned long long>(Sample.m_ulOpened),
			static_cast<unsigned long long>(Sample.m_ulFailedOpens));
	else
		printf("  vehicles %9llu  Vec3 %9llu", static_cast<unsigned long long>(Sample.m_ulVehicles),
			static_cast<unsigned long long>(Sample.m_ulVectors));
	printf("  rss %8ld kB  live %8llu", Sample.m_lRss, static_cast<unsigned long long>(Sample.m_ulLiveObjects));
	if (Sample.m_lHeapKilobytes >= 0)
		printf("  heap %8lld kB", static_cast<long long>(Sample.m_lHeapKilobytes));
	if (Options.OpensFiles())
		printf("  fds %5d (peak %5d)", Sample.m_iDescriptors, Sample.m_iPeakDescriptors);
	if (pCounts)
		printf("  joins %6llu (spawned %llu, failed %llu, dropped %llu)",
			static_cast<unsigned long long>(pCounts->m_ulJoins.load()),
			static_cast<unsigned long long>(g_pCounters->m_ulSpawned.load()),
			static_cast<unsigned long long>(pCounts->m_ulFailedJoins.load()),
			static_cast<unsigned long long>(pCounts->m_ulDropped.load()));
	printf("\n");
	fflush(stdout);
}

bool ServerEnded(pid_t ServerPid, int& iStatus)
{
	return waitpid(ServerPid, &iStatus, WNOHANG) == ServerPid;
}

// Asks the server to quit, and kills it when it does not.
void StopServer(pid_t ServerPid)
{
	kill(ServerPid, SIGINT);
	int iStatus = 0;
	const tClock::time_point Deadline = tClock::now() + std::chrono::seconds(30);
	while (tClock::now() < Deadline)
	{
		if (waitpid(ServerPid, &iStatus, WNOHANG) == ServerPid)
			return;
		usleep(10000);
	}
	kill(ServerPid, SIGKILL);
	waitpid(ServerPid, &iStatus, 0);
}

// Runs the server and samples it until the end; the clients, when there are any, start as the resource does.
void Measure(const tLanguage& Language, const tOptions& Options, pid_t ServerPid, uint16_t usPort,
	tLanguageResult& Result)
{
	int iStatus = 0;
	const tClock::time_point StartDeadline = tClock::now() + std::chrono::seconds(60);
	while (g_pCounters->m_iState.load(std::memory_order_acquire) == SERVER_STARTING && tClock::now() < StartDeadline &&
		!ServerEnded(ServerPid, iStatus) && !g_bInterrupted.load())
		usleep(10000);
	if (g_pCounters->m_iState.load(std::memory_order_acquire) != SERVER_RUNNING)
	{
		printf("%s: FAILED: the server did not start\n", Language.m_szLabel);
		return;
	}
	const tClock::time_point Start = tClock::now();

	tChurnCounts Counts;
	std::atomic<bool> bStopClients{false};
	std::vector<std::thread> Clients;
	for (int i = 0; i < Options.m_iClients; i++)
		Clients.emplace_back(RunChurnClient, i, Options.m_iClients, usPort, std::cref(bStopClients), std::ref(Counts));
	const tChurnCounts* pCounts = Options.HasClients() ? &Counts : nullptr;

	Result.m_Samples.push_back(TakeSample(ServerPid, Start, 0));
	PrintSample(Language, Options, Result.m_Samples.back(), pCounts);

	// The server's output goes nowhere: a script that fails would otherwise go unnoticed, with figures that look
	// like a language that keeps nothing. The script counts a tick, or a player it spawned, only after everything
	// in it went through.
	const uint64_t ulExpected = 2 * static_cast<uint64_t>(Options.GetPerTick());
	const uint64_t ulExpectedSpawns = Options.HasClients() ? 1 : 0;
	auto Made = [&]() {
		return Options.OpensFiles() ? g_pCounters->m_ulOpened.load() + g_pCounters->m_ulFailedOpens.load()
									: g_pCounters->m_ulVehicles.load();
	};
	auto Working = [&]() { return Made() >= ulExpected && g_pCounters->m_ulSpawned.load() >= ulExpectedSpawns; };
	const tClock::time_point CheckDeadline = Start + std::chrono::seconds(5);
	while (tClock::now() < CheckDeadline && !g_bInterrupted.load() && !Working())
		usleep(1000);
	const bool bMaking = Working();
	if (!bMaking && !g_bInterrupted.load())
		printf("%s: FAILED: in its first 5 s the script made %llu vehicles or files and spawned %llu players; it does "
			   "not run as written:\n%s\n",
			Language.m_szLabel, static_cast<unsigned long long>(Made()),
			static_cast<unsigned long long>(g_pCounters->m_ulSpawned.load()), ScriptFor(Language, Options).c_str());

	for (int iSample = 1; bMaking && !g_bInterrupted.load(); iSample++)
	{
		const int iSeconds = std::min(iSample * Options.m_iSampleSeconds, Options.m_iSeconds);
		const tClock::time_point Due = Start + std::chrono::seconds(iSeconds);
		int iPeakDescriptors = 0;
		if (Options.OpensFiles())
			iPeakDescriptors = WatchDescriptorsUntil(ServerPid, Due);
		else
			SleepUntil(Due);
		if (g_bInterrupted.load())
			break;
		if (ServerEnded(ServerPid, iStatus))
		{
			printf("%s: FAILED: the server ended during the run\n", Language.m_szLabel);
			break;
		}
		Result.m_Samples.push_back(TakeSample(ServerPid, Start, iPeakDescriptors));
		PrintSample(Language, Options, Result.m_Samples.back(), pCounts);
		if (iSeconds >= Options.m_iSeconds)
		{
			Result.m_bOk = true;
			break;
		}
	}

	bStopClients.store(true);
	for (std::thread& Client : Clients)
		Client.join();
	Result.m_ulJoins = Counts.m_ulJoins.load();
	Result.m_ulSpawned = g_pCounters->m_ulSpawned.load();
	Result.m_ulFailedJoins = Counts.m_ulFailedJoins.load();
	Result.m_ulDropped = Counts.m_ulDropped.load();
}

tLanguageResult RunLanguage(const tLanguage& Language, const tOptions& Options)
{
	tLanguageResult Result;
	Result.m_pLanguage = &Language;
	char szFolder[] = "/tmp/vexa-script-memory-XXXXXX";
	if (!mkdtemp(szFolder))
	{
		fprintf(stderr, "%s: no temporary folder\n", Language.m_szLabel);
		return Result;
	}
	const std::string Folder = szFolder;
	const uint16_t usPort = VexaTest::FindFreePort();
	void* pShared = mmap(nullptr, sizeof(tServerCounters), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
	if (usPort != 0 && pShared != MAP_FAILED && WriteServerFolder(Folder, Language, Options, usPort))
	{
		g_pCounters = new (pShared) tServerCounters{};
		g_pCounters->m_lHeapKilobytes = -1;
		fflush(stdout);
		fflush(stderr);
		const pid_t ServerPid = fork();
		if (ServerPid == 0)
		{
			// The server's output would drown the report.
			if (!freopen("/dev/null", "w", stdout))
				_exit(1);
			_exit(RunServer(Folder, Language));
		}
		if (ServerPid > 0)
		{
			Measure(Language, Options, ServerPid, usPort, Result);
			StopServer(ServerPid);
		}
		g_pCounters = nullptr;
	}
	else
		fprintf(stderr, "%s: could not prepare the server\n", Language.m_szLabel);
	if (pShared != MAP_FAILED)
		munmap(pShared, sizeof(tServerCounters));
	std::error_code Error;
	std::filesystem::remove_all(Folder, Error);
	return Result;
}

// The least-squares slope of the resident memory over the samples from the settled one on, in MB a minute.
double SlopeMegabytesPerMinute(const std::vector<tSample>& Samples, size_t First)
{
	const size_t Count = Samples.size() - First;
	if (Count < 2)
		return 0.0;
	double dMeanX = 0.0, dMeanY = 0.0;
	for (size_t i = First; i < Samples.size(); i++)
	{
		dMeanX += Samples[i].m_dSeconds / 60.0;
		dMeanY += static_cast<double>(Samples[i].m_lRss) / 1024.0;
	}
	dMeanX /= static_cast<double>(Count);
	dMeanY /= static_cast<double>(Count);
	double dCovariance = 0.0, dVariance = 0.0;
	for (size_t i = First; i < Samples.size(); i++)
	{
		const double dX = Samples[i].m_dSeconds / 60.0 - dMeanX;
		dCovariance += dX * (static_cast<double>(Samples[i].m_lRss) / 1024.0 - dMeanY);
		dVariance += dX * dX;
	}
	return dVariance > 0.0 ? dCovariance / dVariance : 0.0;
}

std::string DurationText(int iSeconds)
{
	return iSeconds % 60 == 0 ? std::to_string(iSeconds / 60) + " min" : std::to_string(iSeconds) + " s";
}

void PrintSummary(const tLanguageResult& Result, const tOptions& Options)
{
	const char* szLabel = Result.m_pLanguage->m_szLabel;
	if (!Result.m_bOk)
	{
		printf("summary %-3s FAILED (see above)\n", szLabel);
		return;
	}
	const std::vector<tSample>& Samples = Result.m_Samples;
	// The first sample taken once the settling time is over; samples fall on whole sample periods, so a little
	// slack takes the one due at that moment.
	size_t Settled = 0;
	while (Settled < Samples.size() && Samples[Settled].m_dSeconds < Options.m_iSettleSeconds - 0.5)
		Settled++;
	const tSample& Last = Samples.back();
	const std::string Settle = DurationText(Options.m_iSettleSeconds);
	printf("summary %-3s", szLabel);
	if (Settled + 1 < Samples.size())
	{
		const tSample& First = Samples[Settled];
		const double dSeconds = Last.m_dSeconds - First.m_dSeconds;
		printf(" rss %ld kB at %s, %ld kB at end; live %llu at %s, %llu at end; growth after %s %.1f MB; slope after "
			   "%s %.2f MB/min; CPU after %s %.1f%%;",
			First.m_lRss, Settle.c_str(), Last.m_lRss, static_cast<unsigned long long>(First.m_ulLiveObjects),
			Settle.c_str(), static_cast<unsigned long long>(Last.m_ulLiveObjects), Settle.c_str(),
			static_cast<double>(Last.m_lRss - First.m_lRss) / 1024.0, Settle.c_str(),
			SlopeMegabytesPerMinute(Samples, Settled), Settle.c_str(),
			dSeconds > 0 ? 100.0 * (Last.m_dCpuSeconds - First.m_dCpuSeconds) / dSeconds : 0.0);
	}
	else
		printf(" rss %ld kB at end, live %llu at end (too short for the figures after %s);", Last.m_lRss,
			static_cast<unsigned long long>(Last.m_ulLiveObjects), Settle.c_str());
	if (Options.OpensFiles())
	{
		int iPeakDescriptors = 0;
		for (const tSample& Sample : Samples)
			iPeakDescriptors = std::max(iPeakDescriptors, Sample.m_iPeakDescriptors);
		printf(" %llu files opened (%.0f/s), %llu openFile calls failed; descriptors at most %d",
			static_cast<unsigned long long>(Last.m_ulOpened),
			Last.m_dSeconds > 0 ? static_cast<double>(Last.m_ulOpened) / Last.m_dSeconds : 0.0,
			static_cast<unsigned long long>(Last.m_ulFailedOpens), iPeakDescriptors);
	}
	else
		printf(" %llu vehicles made (%.0f/s)", static_cast<unsigned long long>(Last.m_ulVehicles),
			Last.m_dSeconds > 0 ? static_cast<double>(Last.m_ulVehicles) / Last.m_dSeconds : 0.0);
	if (Options.HasClients())
		printf("; %llu joins, %llu spawned, %llu failed, %llu dropped", static_cast<unsigned long long>(Result.m_ulJoins),
			static_cast<unsigned long long>(Result.m_ulSpawned),
			static_cast<unsigned long long>(Result.m_ulFailedJoins), static_cast<unsigned long long>(Result.m_ulDropped));
	printf("\n");
}

bool ParseOptions(int argc, char** argv, tOptions& Options)
{
	for (int i = 1; i < argc; i++)
	{
		const std::string Argument = argv[i];
		if (i + 1 >= argc)
			return false;
		const char* szValue = argv[++i];
		if (Argument == "-only")
			Options.m_Only = szValue;
		else if (Argument == "-workload")
		{
			const std::string Workload = szValue;
			if (Workload == "churn")
				Options.m_eWorkload = WORKLOAD_CHURN;
			else if (Workload == "readers")
				Options.m_eWorkload = WORKLOAD_READERS;
			else if (Workload == "streams")
				Options.m_eWorkload = WORKLOAD_STREAMS;
			else
				return false;
		}
		else if (Argument == "-rate")
			Options.m_iRate = atoi(szValue);
		else if (Argument == "-tick")
			Options.m_iTickMilliseconds = atoi(szValue);
		else if (Argument == "-seconds")
			Options.m_iSeconds = atoi(szValue);
		else if (Argument == "-sample")
			Options.m_iSampleSeconds = atoi(szValue);
		else if (Argument == "-settle")
			Options.m_iSettleSeconds = atoi(szValue);
		else if (Argument == "-clients")
			Options.m_iClients = atoi(szValue);
		else
			return false;
	}
	if (Options.m_iRate == 0)
		Options.m_iRate = Options.HasClients() ? 20 : 400;
	if (Options.m_iSeconds == 0)
		Options.m_iSeconds = Options.HasClients() ? 600 : 180;
	if (Options.m_iSettleSeconds == 0)
		Options.m_iSettleSeconds = Options.HasClients() ? 300 : 60;
	return (Options.m_Only.empty() || Options.m_Only == "lua" || Options.m_Only == "js" || Options.m_Only == "sq") &&
		Options.m_iRate > 0 && Options.m_iTickMilliseconds > 0 && Options.m_iSeconds > 0 &&
		Options.m_iSampleSeconds > 0 && Options.m_iSettleSeconds > 0 && Options.m_iClients >= 0 &&
		Options.m_iClients <= 95 && !(Options.HasClients() && Options.OpensFiles());
}
}

int main(int argc, char** argv)
{
	tOptions Options;
	if (!ParseOptions(argc, argv, Options))
	{
		fprintf(stderr,
			"usage: %s [-only lua|js|sq] [-workload churn|readers|streams] [-rate PER_S] [-tick MS] [-seconds S] "
			"[-sample S] [-settle S] [-clients 0-95]\n",
			argv[0]);
		return 2;
	}
	struct sigaction Action = {};
	Action.sa_handler = OnInterrupt;
	sigaction(SIGINT, &Action, nullptr);
	sigaction(SIGTERM, &Action, nullptr);

	const int iPerTick = Options.GetPerTick();
	const double dPerSecond = 1000.0 * iPerTick / Options.m_iTickMilliseconds;
	if (Options.HasClients())
		printf("game mode: every %d ms, %d vehicle(s) at a new Vec3, each with 64 bytes of element data and destroyed "
			   "2 s later by a timer (%.0f a second); %d s, a sample every %d s\n",
			Options.m_iTickMilliseconds, iPerTick, dPerSecond, Options.m_iSeconds, Options.m_iSampleSeconds);
	else if (Options.m_eWorkload == WORKLOAD_READERS)
		printf("readers: every %d ms, %d files opened, read whole by a TextReader, the stream closed and the reader "
			   "dropped (%.0f a second); %d s, a sample every %d s\n",
			Options.m_iTickMilliseconds, iPerTick, dPerSecond, Options.m_iSeconds, Options.m_iSampleSeconds);
	else if (Options.m_eWorkload == WORKLOAD_STREAMS)
		printf("streams: every %d ms, %d files opened, 16 bytes read and the stream dropped unclosed (%.0f a second); "
			   "%d s, a sample every %d s\n",
			Options.m_iTickMilliseconds, iPerTick, dPerSecond, Options.m_iSeconds, Options.m_iSampleSeconds);
	else
		printf("churn: every %d ms, %d vehicles, each with 64 bytes of element data and destroyed at once, and %d Vec3 "
			   "values (%.0f of each a second); %d s, a sample every %d s\n",
			Options.m_iTickMilliseconds, iPerTick, iPerTick, dPerSecond, Options.m_iSeconds, Options.m_iSampleSeconds);
	if (Options.HasClients())
		printf("%d game clients joining, staying 3-6 s, leaving and joining again\n", Options.m_iClients);
	rlimit Descriptors = {};
	if (Options.OpensFiles() && getrlimit(RLIMIT_NOFILE, &Descriptors) == 0)
		printf("the server may open %llu descriptors (hard limit %llu)\n",
			static_cast<unsigned long long>(Descriptors.rlim_cur), static_cast<unsigned long long>(Descriptors.rlim_max));

	// Each language runs in a server process of its own, so that memory one of them freed does not hide what the
	// next one keeps.
	std::vector<tLanguageResult> Results;
	for (const tLanguage& Language : g_Languages)
	{
		if (g_bInterrupted.load())
			break;
		if (!Options.m_Only.empty() && Options.m_Only != Language.m_szLabel)
			continue;
		Results.push_back(RunLanguage(Language, Options));
	}
	bool bAllOk = !g_bInterrupted.load();
	for (const tLanguageResult& Result : Results)
	{
		PrintSummary(Result, Options);
		bAllOk = bAllOk && Result.m_bOk;
	}
	return bAllOk ? 0 : 1;
}
