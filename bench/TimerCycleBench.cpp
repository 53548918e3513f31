// Timer churn benchmark: the memory that self-cancelling timers leave behind in Lua, JavaScript and Squirrel.
//
// For each language one script keeps making timers whose callback refers to its own timer, the everyday pattern
//     local t; t = setTimeout(function() clearTimeout(t) end, 1)
// (and the same in JavaScript and Squirrel): every main-loop pass makes a batch of them, and the next pass runs and
// clears them. Every few passes the language runs a full collection and the benchmark prints the process's resident
// memory and, where the language tells it, the size of its heap. Last it ends the script's environment and removes
// its timers, as stopping a resource does, collects again and prints the same figures once more.
//
// Timers that let go of their callback once they are done stay flat; any that keep it grow with every batch.
//
// Each language runs in a child process of its own. Usage: VexaTimerCycleBench [-batch N] [-passes P] [-sample S]
// [-only lua|js|sq]

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

#include <jsapi.h>
#include <lua.hpp>

#include "Engine/Context.h"
#include "Engine/KAssert.h"
#include "Engine/KestrinNative.h"
#include "Engine/KestrinStream.h"
#include "JSScripting/CJSScripting.h"
#include "LuaScripting/CLuaScripting.h"
#include "ProcessFigures.h"
#include "Scripting/ResourceMgr.h"
#include "Scripting/TimerHandlers.h"
#include "SquirrelScripting/SqScripting.h"

namespace
{
struct tSettings
{
	int m_iBatch = 400;
	int m_iPasses = 120;
	int m_iSample = 20;
	const char* m_szOnly = nullptr;
};

// One language: how to register it, and its script, which makes BATCH timers every pass.
struct tLanguage
{
	const char* m_szLabel;
	const char* m_szName;
	bool (*m_pfnRegister)(CScripting* pScripting);
	const char* m_szScript;
};

const tLanguage g_Languages[] = {
	{"lua", "Lua", RegisterLuaVM,
		"setInterval(function() for i = 1, BATCH do local t; t = setTimeout(function() clearTimeout(t) end, 1) end "
		"end, 1)"},
	{"js", "SpiderMonkey", RegisterJSVM,
		"setInterval(function() { for (let i = 0; i < BATCH; i++) { let t = null; "
		"t = setTimeout(function() { clearTimeout(t); }, 1); } }, 1);"},
	{"sq", "Squirrel", RegisterSqVM,
		"setInterval(function() { for (local i = 0; i < BATCH; i++) { local t = null; "
		"t = setTimeout(function() { clearTimeout(t); }, 1); } }, 1);"},
};

// The language's own heap after its last collection, in kB, or -1 when it does not tell.
long HeapKilobytes(CScriptingVM* pVM, const tLanguage& Language)
{
	if (strcmp(Language.m_szLabel, "lua") == 0)
		return lua_gc(static_cast<CLuaScripting*>(pVM)->GetState(), LUA_GCCOUNT, 0);
	if (strcmp(Language.m_szLabel, "js") == 0)
		return static_cast<long>(JS_GetGCParameter(static_cast<CJSScripting*>(pVM)->GetContext(), JSGC_BYTES) / 1024);
	return -1;
}

void Report(const tLanguage& Language, CScriptingVM* pVM, const char* szWhen, long lTimers, long lStartRss)
{
	const long lRss = VexaBench::ReadResidentKilobytes(getpid());
	printf("%-3s %-10s timers %7ld  rss %7ld kB (%+6ld kB)", Language.m_szLabel, szWhen, lTimers, lRss,
		lRss - lStartRss);
	const long lHeap = HeapKilobytes(pVM, Language);
	if (lHeap >= 0)
		printf("  heap %7ld kB", lHeap);
	printf("\n");
	fflush(stdout);
}

void Run(const tLanguage& Language, const tSettings& Settings)
{
	Context LocalContext;
	CResourceMgr Manager(&LocalContext);
	CScripting* pScripting = Manager.GetScripting();
	CScriptingVM* pVM = Language.m_pfnRegister(pScripting) ? pScripting->GetVM(Language.m_szName) : nullptr;
	if (!pVM || !pVM->DefineClasses())
	{
		fprintf(stderr, "%s: the language did not start\n", Language.m_szLabel);
		return;
	}
	CScriptEnvironment* pEnvironment = pVM->CreateEnvironment("bench");
	std::string Script = Language.m_szScript;
	Script.replace(Script.find("BATCH"), 5, std::to_string(Settings.m_iBatch));
	Strong<CMemoryStream> pStream = Strong<CMemoryStream>::New(new CMemoryStream(Script.data(), Script.size()));
	if (!pEnvironment || !pEnvironment->DoFile(pStream, "bench"))
	{
		fprintf(stderr, "%s: the script did not run\n", Language.m_szLabel);
		if (pEnvironment)
			pEnvironment->Destroy();
		return;
	}

	pScripting->CollectGarbage();
	const long lStartRss = VexaBench::ReadResidentKilobytes(getpid());
	Report(Language, pVM, "start", 0, lStartRss);
	long lTimers = 0;
	for (int iPass = 1; iPass <= Settings.m_iPasses; iPass++)
	{
		Manager.Process(1.0 / 60.0);
		lTimers += Settings.m_iBatch;
		if (iPass % Settings.m_iSample == 0)
		{
			pScripting->CollectGarbage();
			Report(Language, pVM, "running", lTimers, lStartRss);
		}
	}
	Manager.GetTimerHandlers()->RemoveTimers();
	pEnvironment->Destroy();
	pScripting->CollectGarbage();
	Report(Language, pVM, "stopped", lTimers, lStartRss);
}
}

int main(int argc, char** argv)
{
	g_bAsserts = false;
	tSettings Settings;
	for (int i = 1; i + 1 < argc; i += 2)
	{
		if (strcmp(argv[i], "-batch") == 0)
			Settings.m_iBatch = atoi(argv[i + 1]);
		else if (strcmp(argv[i], "-passes") == 0)
			Settings.m_iPasses = atoi(argv[i + 1]);
		else if (strcmp(argv[i], "-sample") == 0)
			Settings.m_iSample = atoi(argv[i + 1]);
		else if (strcmp(argv[i], "-only") == 0)
			Settings.m_szOnly = argv[i + 1];
	}
	if (Settings.m_iBatch < 1 || Settings.m_iPasses < 1 || Settings.m_iSample < 1)
	{
		fprintf(stderr, "usage: %s [-batch N] [-passes P] [-sample S] [-only lua|js|sq]\n", argv[0]);
		return 1;
	}
	// Each language runs in a process of its own, so that memory one of them freed does not hide what the next
	// one keeps.
	for (const tLanguage& Language : g_Languages)
	{
		if (Settings.m_szOnly && strcmp(Settings.m_szOnly, Language.m_szLabel) != 0)
			continue;
		fflush(stdout);
		const pid_t Child = fork();
		if (Child == 0)
		{
			Run(Language, Settings);
			fflush(stdout);
			_exit(0);
		}
		int iStatus = 0;
		if (Child < 0 || waitpid(Child, &iStatus, 0) != Child || !WIFEXITED(iStatus) || WEXITSTATUS(iStatus) != 0)
			printf("%-3s ended abnormally\n", Language.m_szLabel);
	}
	return 0;
}
