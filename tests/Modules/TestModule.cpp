// The plug-in modules of the module tests, one per macro:
//   TEST_MODULE_FULL        every interface, through script functions, a property and a class that the tests use
//                           from each language
//   TEST_MODULE_SECOND      a second module beside it: its own namespace (by MODULE_NAME), a constant, a function
//   TEST_MODULE_NO_EXPORTS  a library without RegisterModule
//   TEST_MODULE_UNDERSCORE  exports only under their underscore-prefixed names
//   TEST_MODULE_SET_ERROR   registers a constant and a function, then fails its registration with SetError
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

// A function in the module's namespace (szNamespace: named first with SetInternalName).
[[maybe_unused]] void Register(IModuleInterface* pModule, const char* szNamespace, const char* szName,
	ModuleNativeFunction pfnNative)
{
	if (szNamespace)
		pModule->SetInternalName(szNamespace);
	IReflectedNamespace* pNamespace = nullptr;
	if (pModule->GetNamespace(&pNamespace) != RESULT_OK)
		return;
	pNamespace->RegisterFunction(szName, "", pfnNative, nullptr);
	pNamespace->Release();
}

[[maybe_unused]] bool Hello(INativeState* pState, int, void*)
{
	return pState->ReturnStringZ("hello from " MODULE_LABEL) == RESULT_OK;
}

[[maybe_unused]] bool StillThere(INativeState* pState, int, void*)
{
	return pState->ReturnStringZ("still there") == RESULT_OK;
}
}

#if defined(TEST_MODULE_FULL)
// The full module: module.full with functions, a property and the class Counter, each native going through the
// interfaces the way a module built elsewhere would.
namespace Full
{
IScripting* g_pScripting = nullptr;
IArgumentFactory* g_pFactory = nullptr;
IReflectedClass* g_pCounterClass = nullptr;
int g_iNextSerial = 1;

// The module's own data of a Counter object.
struct tCounter
{
	int m_iSerial;
	int64_t m_iValue;
};

// Runs once per Counter, whenever it dies, possibly after the module was unregistered: it only prints.
void CounterDestroyed(IBaseObject* pObject, void* pUserData)
{
	tCounter* pCounter = static_cast<tCounter*>(pUserData);
	printf("full module counter %d destroyed at %lld%s\n", pCounter->m_iSerial,
		static_cast<long long>(pCounter->m_iValue), pObject->GetPrivate() == pCounter ? "" : " without its data");
	fflush(stdout);
	delete pCounter;
}

// A new Counter object; the caller owns the view.
IBaseObject* NewCounter(int64_t iValue)
{
	void* pOut = nullptr;
	if (g_pModule->CreateInstance(ID_BaseObject, &pOut) != RESULT_OK)
		return nullptr;
	IBaseObject* pObject = static_cast<IBaseObject*>(pOut);
	tCounter* pCounter = new tCounter{g_iNextSerial++, iValue};
	pObject->AssignClass(g_pCounterClass);
	pObject->SetPrivate(pCounter);
	pObject->AddDestructor(CounterDestroyed, pCounter);
	return pObject;
}

// The Counter a method was called on, or null after the call's error was set.
tCounter* GetCounter(INativeState* pState)
{
	IBaseObject* pThis = nullptr;
	if (!pState->CheckThis(&pThis, g_pCounterClass))
		return nullptr;
	tCounter* pCounter = static_cast<tCounter*>(pThis->GetPrivate());
	pThis->Release();
	return pCounter;
}

bool ReturnNewCounter(INativeState* pState, int64_t iValue)
{
	IBaseObject* pObject = NewCounter(iValue);
	if (!pObject)
	{
		pState->SetError("no object for a Counter");
		return false;
	}
	Result Outcome = pState->ReturnObject(pObject);
	pObject->Release();
	return Outcome == RESULT_OK;
}

bool CounterConstructor(INativeState* pState, int argc, void*)
{
	int64_t iValue = 0;
	if (argc > 0 && !pState->CheckInt64(0, iValue))
		return false;
	return ReturnNewCounter(pState, iValue);
}

bool CounterIncrement(INativeState* pState, int, void*)
{
	tCounter* pCounter = GetCounter(pState);
	int64_t iStep = 0;
	if (!pCounter || !pState->CheckInt64(0, iStep))
		return false;
	pCounter->m_iValue += iStep;
	return pState->ReturnInt64(pCounter->m_iValue) == RESULT_OK;
}

bool CounterGetValue(INativeState* pState, int, void*)
{
	tCounter* pCounter = GetCounter(pState);
	return pCounter && pState->ReturnInt64(pCounter->m_iValue) == RESULT_OK;
}

bool CounterSetValue(INativeState* pState, int, void*)
{
	tCounter* pCounter = GetCounter(pState);
	return pCounter && pState->CheckInt64(0, pCounter->m_iValue);
}

bool CounterToString(INativeState* pState, int, void*)
{
	tCounter* pCounter = GetCounter(pState);
	if (!pCounter)
		return false;
	char szText[64];
	snprintf(szText, sizeof(szText), "Counter(%lld)", static_cast<long long>(pCounter->m_iValue));
	return pState->ReturnStringZ(szText) == RESULT_OK;
}

bool CounterClone(INativeState* pState, int, void*)
{
	tCounter* pCounter = GetCounter(pState);
	return pCounter && ReturnNewCounter(pState, pCounter->m_iValue);
}

// Moves the receiver's count into the Counter given.
bool CounterMove(INativeState* pState, int, void*)
{
	tCounter* pFrom = GetCounter(pState);
	IBaseObject* pTo = nullptr;
	if (!pFrom || !pState->CheckClass(g_pCounterClass, 0, false, &pTo))
		return false;
	static_cast<tCounter*>(pTo->GetPrivate())->m_iValue = pFrom->m_iValue;
	pFrom->m_iValue = 0;
	pTo->Release();
	return true;
}

bool Add(INativeState* pState, int, void*)
{
	int32_t iLeft = 0;
	int32_t iRight = 0;
	if (!pState->CheckInt32(0, iLeft) || !pState->CheckInt32(1, iRight))
		return false;
	return pState->ReturnInt32(iLeft + iRight) == RESULT_OK;
}

// A value in words, read only through the value views: "integer 5", "string abc", "array [integer 1, ...]".
void Describe(IArgument* pValue, char* szOut, size_t Size)
{
	const char* szText = nullptr;
	size_t Length = 0;
	double dValue = 0;
	float fX = 0, fY = 0, fZ = 0;
	IArray* pArray = nullptr;
	IDictionary* pDictionary = nullptr;
	IBaseObject* pObject = nullptr;
	if (pValue->IsString() && pValue->ToString(&szText, &Length) == RESULT_OK)
		snprintf(szOut, Size, "string %.*s", static_cast<int>(Length), szText);
	else if (pValue->IsNumber() && pValue->ToDouble(dValue) == RESULT_OK)
		snprintf(szOut, Size, "%s %g", pValue->GetTypeName(), dValue);
	else if (pValue->IsBoolean())
		snprintf(szOut, Size, "boolean %s", pValue->ToBoolean() == RESULT_OK ? "true" : "false");
	else if (pValue->IsVector3D() && pValue->ToVector3D(fX, fY, fZ) == RESULT_OK)
		snprintf(szOut, Size, "Vector3D %g %g %g", fX, fY, fZ);
	else if (pValue->GetInterface(ID_Array, reinterpret_cast<void**>(&pArray)) == RESULT_OK)
	{
		size_t Used = static_cast<size_t>(snprintf(szOut, Size, "array ["));
		for (size_t i = 0; i < pArray->GetCount() && Used < Size; i++)
		{
			IArgument* pElement = nullptr;
			char szElement[256];
			if (pArray->GetAt(i, &pElement) != RESULT_OK)
				continue;
			Describe(pElement, szElement, sizeof(szElement));
			pElement->Release();
			Used += static_cast<size_t>(snprintf(szOut + Used, Size - Used, "%s%s", i ? ", " : "", szElement));
		}
		if (Used < Size)
			snprintf(szOut + Used, Size - Used, "]");
		pArray->Release();
	}
	else if (pValue->GetInterface(ID_Dictionary, reinterpret_cast<void**>(&pDictionary)) == RESULT_OK)
	{
		IArgument* pName = nullptr;
		char szName[256] = "none";
		if (pDictionary->Get("name", &pName) == RESULT_OK)
		{
			Describe(pName, szName, sizeof(szName));
			pName->Release();
		}
		snprintf(szOut, Size, "map with name %s", szName);
		pDictionary->Release();
	}
	else if (pValue->ToObject(&pObject, g_pCounterClass) == RESULT_OK)
	{
		snprintf(szOut, Size, "Counter %lld", static_cast<long long>(static_cast<tCounter*>(pObject->GetPrivate())->m_iValue));
		pObject->Release();
	}
	else
		snprintf(szOut, Size, "%s", pValue->GetTypeName());
}

bool DescribeNative(INativeState* pState, int, void*)
{
	IArgument* pValue = nullptr;
	if (pState->GetArgument(0, &pValue) != RESULT_OK)
	{
		pState->SetError("describe needs a value");
		return false;
	}
	char szText[1024];
	Describe(pValue, szText, sizeof(szText));
	pValue->Release();
	return pState->ReturnStringZ(szText) == RESULT_OK;
}

bool Double(INativeState* pState, int, void*)
{
	int32_t iValue = 0;
	return pState->CheckInt32(0, iValue) && pState->ReturnInt32(iValue * 2) == RESULT_OK;
}

// Adds a new value made by the factory to an array or a dictionary (under szKey), then lets it go.
void Put(IArray* pArray, IDictionary* pDictionary, const char* szKey, IArgument* pValue)
{
	if (!pValue)
		return;
	if (pArray)
		pArray->Insert(pValue);
	if (pDictionary)
		pDictionary->Set(szKey, pValue);
	pValue->Release();
}

// A value of the kind named, made with the factory.
IArgument* Make(const char* szKind)
{
	IArgument* pValue = nullptr;
	if (strcmp(szKind, "array") == 0 && g_pFactory->CreateArray(&pValue) == RESULT_OK)
	{
		IArray* pArray = nullptr;
		pValue->GetInterface(ID_Array, reinterpret_cast<void**>(&pArray));
		IArgument* pElement = nullptr;
		g_pFactory->CreateInt32(&pElement, 1);
		Put(pArray, nullptr, nullptr, pElement);
		g_pFactory->CreateStringZ(&pElement, "two");
		Put(pArray, nullptr, nullptr, pElement);
		g_pFactory->CreateVector3D(&pElement, 1, 2, 3);
		Put(pArray, nullptr, nullptr, pElement);
		pArray->Release();
	}
	else if (strcmp(szKind, "dictionary") == 0 && g_pFactory->CreateDictionary(&pValue) == RESULT_OK)
	{
		IDictionary* pDictionary = nullptr;
		pValue->GetInterface(ID_Dictionary, reinterpret_cast<void**>(&pDictionary));
		IArgument* pEntry = nullptr;
		g_pFactory->CreateStringZ(&pEntry, "full");
		Put(nullptr, pDictionary, "name", pEntry);
		g_pFactory->CreateInt32(&pEntry, 42);
		Put(nullptr, pDictionary, "answer", pEntry);
		pDictionary->Release();
	}
	else if (strcmp(szKind, "int64") == 0)
		g_pFactory->CreateInt64(&pValue, 1099511627776ll);
	else if (strcmp(szKind, "uint32") == 0)
		g_pFactory->CreateUInt32(&pValue, 0xFFFFFFFFu);
	else if (strcmp(szKind, "double") == 0)
		g_pFactory->CreateDouble(&pValue, 0.25);
	else if (strcmp(szKind, "boolean") == 0)
		g_pFactory->CreateBoolean(&pValue, true);
	else if (strcmp(szKind, "null") == 0)
		g_pFactory->CreateNull(&pValue);
	else if (strcmp(szKind, "vector2") == 0)
		g_pFactory->CreateVector2D(&pValue, 5, 6);
	else if (strcmp(szKind, "function") == 0)
		g_pFactory->CreateFunction(&pValue, g_pScripting, Double, nullptr);
	else if (strcmp(szKind, "counter") == 0)
	{
		IBaseObject* pObject = NewCounter(3);
		if (pObject)
		{
			g_pFactory->CreateObject(&pValue, pObject);
			pObject->Release();
		}
	}
	return pValue;
}

bool MakeNative(INativeState* pState, int, void*)
{
	const char* szKind = pState->CheckString(0, nullptr);
	if (!szKind)
		return false;
	IArgument* pValue = Make(szKind);
	if (!pValue)
	{
		pState->SetError("cannot make %s", szKind);
		return false;
	}
	Result Outcome = pState->Return(pValue);
	pValue->Release();
	return Outcome == RESULT_OK;
}

// Calls the function given first with the other arguments and returns what it returned.
bool Call(INativeState* pState, int argc, void*)
{
	IFunction* pFunction = nullptr;
	if (!pState->CheckFunction(0, &pFunction))
		return false;
	IArgument* pArgumentsValue = nullptr;
	IArgument* pResultsValue = nullptr;
	IArray* pArguments = nullptr;
	IArray* pResults = nullptr;
	g_pFactory->CreateArray(&pArgumentsValue);
	g_pFactory->CreateArray(&pResultsValue);
	pArgumentsValue->GetInterface(ID_Array, reinterpret_cast<void**>(&pArguments));
	pResultsValue->GetInterface(ID_Array, reinterpret_cast<void**>(&pResults));
	for (int i = 1; i < argc; i++)
	{
		IArgument* pArgument = nullptr;
		if (pState->GetArgument(static_cast<size_t>(i), &pArgument) == RESULT_OK)
		{
			pArguments->Insert(pArgument);
			pArgument->Release();
		}
	}
	bool bResult = pFunction->Call(pArguments, pResults) == RESULT_OK;
	if (!bResult)
		pState->SetError("the callback failed: %s", g_pModule->GetError());
	else
	{
		IArgument* pFirst = nullptr;
		if (pResults->GetAt(0, &pFirst) == RESULT_OK)
		{
			pState->Return(pFirst);
			pFirst->Release();
		}
	}
	pArguments->Release();
	pResults->Release();
	pArgumentsValue->Release();
	pResultsValue->Release();
	pFunction->Release();
	return bResult;
}

// A new script Stream over the stream of the Stream given: both then read and write the same bytes.
bool Reopen(INativeState* pState, int, void*)
{
	IArgument* pValue = nullptr;
	IStream* pStream = nullptr;
	if (pState->GetArgument(0, &pValue) == RESULT_OK)
	{
		pValue->ToStream(&pStream);
		pValue->Release();
	}
	if (!pStream)
	{
		pState->SetError("a Stream expected");
		return false;
	}
	// The stream is an object too.
	IBaseObject* pObject = nullptr;
	bool bObject = pStream->GetInterface(ID_BaseObject, reinterpret_cast<void**>(&pObject)) == RESULT_OK;
	if (bObject)
		pObject->Release();
	Result Outcome = bObject ? pState->ReturnStream(pStream) : RESULT_NOT_FOUND;
	pStream->Release();
	return Outcome == RESULT_OK;
}

bool Fail(INativeState* pState, int, void*)
{
	pState->SetError("module says no to %s", "this call");
	return false;
}

// Gives two values: the first stays, the second is refused.
bool Twice(INativeState* pState, int, void*)
{
	Result First = pState->ReturnInt32(1);
	Result Second = pState->ReturnInt32(2);
	char szText[64];
	snprintf(szText, sizeof(szText), "twice gave %d then %d", First, Second);
	Say(g_pModule, szText);
	return true;
}

// Tries to change the registry once the languages have bound it.
bool TryChange(INativeState* pState, int, void*)
{
	IReflectedNamespace* pNamespace = nullptr;
	if (g_pModule->GetNamespace(&pNamespace) != RESULT_OK)
		return false;
	IReflectedClass* pClass = nullptr;
	char szText[64];
	snprintf(szText, sizeof(szText), "%d %d %d %d", pNamespace->NewClass(&pClass, "Late", nullptr),
		pNamespace->RegisterFunction("late", "", Add, nullptr), pNamespace->Clear(), g_pCounterClass->Clear());
	pNamespace->Release();
	return pState->ReturnStringZ(szText) == RESULT_OK;
}

bool Version(INativeState* pState, int, void*)
{
	uint32_t uiMajor = 0;
	uint32_t uiMinor = 0;
	g_pModule->GetAPIVersion(uiMajor, uiMinor);
	char szText[32];
	snprintf(szText, sizeof(szText), "%u.%u", uiMajor, uiMinor);
	return pState->ReturnStringZ(szText) == RESULT_OK;
}

// Every registration of the module; the first failure fails the module.
intptr_t Register(IModuleInterface* pModule)
{
	IReflectedNamespace* pNamespace = nullptr;
	void* pFactory = nullptr;
	if (pModule->SetInternalName("full") != RESULT_OK || pModule->GetNamespace(&pNamespace) != RESULT_OK ||
		pModule->GetScripting(&g_pScripting) != RESULT_OK ||
		pModule->CreateInstance(ID_ArgumentFactory, &pFactory) != RESULT_OK)
	{
		pModule->SetError("the full module found no namespace");
		return 0;
	}
	g_pFactory = static_cast<IArgumentFactory*>(pFactory);
	const struct
	{
		const char* m_szName;
		const char* m_szMask;
		ModuleNativeFunction m_pfnNative;
	} rgFunctions[] = {
		{"add", "ii", Add},
		{"describe", "*", DescribeNative},
		{"make", "s", MakeNative},
		{"call", "f*", Call},
		{"reopen", "x", Reopen},
		{"fail", "", Fail},
		{"twice", "", Twice},
		{"tryChange", "", TryChange},
	};
	bool bFailed = false;
	for (const auto& Function : rgFunctions)
		bFailed |= pNamespace->RegisterFunction(Function.m_szName, Function.m_szMask, Function.m_pfnNative, nullptr) != RESULT_OK;
	bFailed |= pNamespace->AddProperty(nullptr, "version", TYPE_STRING, Version, nullptr) != RESULT_OK;
	bFailed |= pNamespace->NewClass(&g_pCounterClass, "Counter", nullptr) != RESULT_OK;
	if (!bFailed)
	{
		bFailed |= g_pCounterClass->RegisterConstructor("|i", CounterConstructor, nullptr) != RESULT_OK;
		bFailed |= g_pCounterClass->RegisterFunction("increment", "ti", CounterIncrement, nullptr) != RESULT_OK;
		bFailed |= g_pCounterClass->AddProperty(nullptr, "value", TYPE_INT64, CounterGetValue, CounterSetValue) != RESULT_OK;
		bFailed |= g_pCounterClass->RegisterToString(CounterToString, nullptr) != RESULT_OK;
		bFailed |= g_pCounterClass->RegisterClone(CounterClone, nullptr) != RESULT_OK;
		bFailed |= g_pCounterClass->RegisterMove(CounterMove, nullptr) != RESULT_OK;
	}
	pNamespace->Release();
	Define(pModule, "FULL_MODULE_CONSTANT", -5);
	IDefineHandlers* pDefines = nullptr;
	if (g_pScripting->GetDefineHandlers(&pDefines) == RESULT_OK)
	{
		pDefines->DefineUnsigned("FULL_MODULE_FLAGS", 0x80000000u);
		pDefines->Release();
	}
	if (bFailed)
		pModule->SetError("a registration of the full module failed");
	return 99;
}

void Unregister()
{
	if (g_pCounterClass)
		g_pCounterClass->Release();
	if (g_pFactory)
		g_pFactory->Release();
	if (g_pScripting)
		g_pScripting->Release();
	g_pCounterClass = nullptr;
	g_pFactory = nullptr;
	g_pScripting = nullptr;
}
}
#endif

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
	// The exported name is the module's namespace: no SetInternalName needed.
	Register(pModule, nullptr, "hello", Hello);
	return 1234;
#elif defined(TEST_MODULE_SET_ERROR)
	Define(pModule, "FAILING_MODULE_CONSTANT", 7);
	Register(pModule, "failing", "stillThere", StillThere);
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
	return Full::Register(pModule);
#endif
}

MODULE_EXPORT void EXPORTED(UnregisterModule)(intptr_t Value)
{
#if defined(TEST_MODULE_FULL)
	Full::Unregister();
#endif
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
