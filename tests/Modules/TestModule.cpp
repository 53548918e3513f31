// The plug-in modules of the module tests, one per macro:
//   TEST_MODULE_FULL        every interface, through script functions and a class the tests call from each language
//   TEST_MODULE_SECOND      a second module beside it: its own namespace (by MODULE_NAME), a constant, a function
//   TEST_MODULE_NO_EXPORTS  a library without RegisterModule
//   TEST_MODULE_UNDERSCORE  exports only under their underscore-prefixed names
//   TEST_MODULE_SET_ERROR   registers a constant, then fails its registration with SetError
//   TEST_MODULE_TWICE       names its namespace twice, which fails its registration
// Modules report what they see through IModuleInterface::Log, which the tests read in the server's output.

#include <cstdio>
#include <cstring>

#include "ModuleInterfaces.h"

using namespace Kestrin3D::Interfaces;

#define MODULE_EXPORT extern "C" __attribute__((visibility("default")))

#if defined(TEST_MODULE_NO_EXPORTS)

MODULE_EXPORT int TestModuleWithoutExports()
{
	return 0;
}

#else

#if defined(TEST_MODULE_SECOND)
#define MODULE_LABEL "second"
#elif defined(TEST_MODULE_UNDERSCORE)
#define MODULE_LABEL "underscore"
#elif defined(TEST_MODULE_SET_ERROR)
#define MODULE_LABEL "failing"
#elif defined(TEST_MODULE_TWICE)
#define MODULE_LABEL "twice"
#else
#define MODULE_LABEL "full"
#endif

namespace
{
// Held from a successful registration until UnregisterModule.
IModuleInterface* g_pModule = nullptr;

// "<label> module <text>" in the server's log.
void Say(IModuleInterface* pModule, const char* szText)
{
	char szLine[256];
	snprintf(szLine, sizeof(szLine), "%s module %s", MODULE_LABEL, szText);
	pModule->Log(3, szLine);
}

// A constant in the registry the scripts see.
[[maybe_unused]] void Define(IModuleInterface* pModule, const char* szName, int32_t iValue)
{
	IScripting* pScripting = nullptr;
	if (pModule->GetScripting(&pScripting) != RESULT_OK)
		return;
	IDefineHandlers* pDefines = nullptr;
	if (pScripting->GetDefineHandlers(&pDefines) == RESULT_OK)
	{
		pDefines->DefineSigned(szName, iValue);
		pDefines->Release();
	}
	pScripting->Release();
}
}

#if defined(TEST_MODULE_UNDERSCORE)
#define EXPORTED(Name) _##Name
#else
#define EXPORTED(Name) Name
#endif

extern "C"
{
#if defined(TEST_MODULE_SECOND)
__attribute__((visibility("default"))) const char* EXPORTED(MODULE_NAME) = "second";
#elif defined(TEST_MODULE_UNDERSCORE)
__attribute__((visibility("default"))) const char* EXPORTED(MODULE_NAME) = "underscore";
#elif defined(TEST_MODULE_FULL)
// Present but null: the module names its namespace itself.
__attribute__((visibility("default"))) const char* EXPORTED(MODULE_NAME) = nullptr;
#endif
}

MODULE_EXPORT intptr_t EXPORTED(RegisterModule)([[maybe_unused]] void* pNamespace, IModuleInterface* pModule)
{
#if defined(TEST_MODULE_SECOND) || defined(TEST_MODULE_UNDERSCORE)
	g_pModule = pModule;
	pModule->AddRef();
	Say(pModule, pNamespace ? "registered with its namespace" : "registered without a namespace");
	Define(pModule, MODULE_LABEL "_MODULE_ANSWER", 42);
	return 1234;
#elif defined(TEST_MODULE_SET_ERROR)
	Define(pModule, "FAILING_MODULE_CONSTANT", 7);
	pModule->SetError("the test module refuses to load");
	// A later failing lookup replaces the server's last-error text; the module's own reason must stay.
	IReflectedNamespace* pMissing = nullptr;
	IScripting* pScripting = nullptr;
	if (pModule->GetScripting(&pScripting) == RESULT_OK)
	{
		IReflectedNamespace* pGlobal = nullptr;
		if (pScripting->GetGlobal(&pGlobal) == RESULT_OK)
		{
			pGlobal->GetNamespace("no such namespace", &pMissing);
			pGlobal->Release();
		}
		pScripting->Release();
	}
	return 0;
#elif defined(TEST_MODULE_TWICE)
	pModule->SetInternalName("twice");
	pModule->SetInternalName("twice");
	return 0;
#else
	g_pModule = pModule;
	pModule->AddRef();
	Say(pModule, pNamespace ? "registered with a namespace" : "registered without a namespace");
	pModule->SetInternalName("full");
	return 99;
#endif
}

MODULE_EXPORT void EXPORTED(UnregisterModule)(intptr_t Value)
{
	char szText[64];
	snprintf(szText, sizeof(szText), "unregistered with %ld", static_cast<long>(Value));
	if (!g_pModule)
	{
		// Only a module that failed its registration has no interface here, and it must never be unregistered.
		printf("%s module %s without its interface\n", MODULE_LABEL, szText);
		fflush(stdout);
		return;
	}
	Say(g_pModule, szText);
	g_pModule->Release();
	g_pModule = nullptr;
}

#endif
