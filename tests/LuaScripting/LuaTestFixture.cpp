#include "LuaTestFixture.h"

#include "Engine/Defines.h"
#include "Engine/KError.h"
#include "Engine/Reflection.h"

namespace
{
CThing* GetThing(CNativeState* pState, ReflectedClass* pClass)
{
	CThing* pThing = nullptr;
	if (!pState->GetThis(pClass, &pThing))
		return nullptr;
	return pThing;
}
}

LuaTest::LuaTest() : ResourceHostFixture(".lua", "lua")
{
	RegisterTestInterface();
	m_pManager->GetDefineHandlers()->Define("TEST_SIGNED", -1);
	m_pManager->GetDefineHandlers()->Define("TEST_UNSIGNED", 0xFFFFFFFFu);
	EXPECT_TRUE(RegisterLuaVM(Scripting()));
	EXPECT_TRUE(Lua()->DefineClasses());
}

LuaTest::~LuaTest()
{
	m_pRecorded.SetNull();
	m_pGive.SetNull();
	m_pKept.SetNull();
	m_pManager.reset();
}

void LuaTest::RegisterTestInterface()
{
	ReflectedNamespace* pGlobal = Scripting()->GetGlobal();
	ReflectedNamespace* pTest = pGlobal->AddNamespace("test");

	pTest->RegisterFunction("record", "*", [](CNativeState* pState, int, void* pUserData) {
		static_cast<LuaTest*>(pUserData)->m_pRecorded = const_cast<CArgumentArray*>(pState->GetArguments());
		return true;
	}, this);
	pTest->RegisterFunction("give", "", TestNatives::GiveItself, &m_pGive);
	pTest->RegisterFunction("keep", ".", [](CNativeState* pState, int, void* pUserData) {
		static_cast<LuaTest*>(pUserData)->m_pKept = pState->GetArgument(0);
		return true;
	}, this);
	pTest->RegisterFunction("fail", "s", [](CNativeState* pState, int, void*) {
		const char* szText = pState->CheckString(0, nullptr);
		return szText != nullptr ? pState->Error("%s", szText) : false;
	});
	pTest->RegisterFunction("nothing", "", [](CNativeState*, int, void*) { return true; });
	pTest->RegisterFunction("count", "*", [](CNativeState* pState, int argc, void*) {
		pState->ReturnNumber(static_cast<int32_t>(argc));
		return true;
	});
	pTest->RegisterFunction("caller", "", [](CNativeState* pState, int, void*) {
		if (pState->GetResource() != nullptr)
			pState->ReturnString(pState->GetResource()->GetName());
		return true;
	});
	pTest->RegisterFunction("mayAct", "*", [](CNativeState* pState, int, void* pUserData) {
		const bool bMayAct = pState->CheckCallingCode();
		static_cast<LuaTest*>(pUserData)->m_iMayAct = bMayAct ? 1 : 0;
		return bMayAct;
	}, this);
	pTest->RegisterFunction("alive", "", [](CNativeState* pState, int, void*) {
		pState->ReturnNumber(static_cast<int32_t>(CThing::s_iLive));
		return true;
	});

	ReflectedNamespace* pInner = pTest->AddNamespace("inner");
	pInner->SetAlias("alias");
	pInner->AddProperty(this, "rw", ARGUMENT_INTEGER,
		[](CNativeState* pState, int, void* pUserData) {
			pState->ReturnNumber(static_cast<LuaTest*>(pUserData)->m_iInnerValue);
			return true;
		},
		[](CNativeState* pState, int, void* pUserData) {
			return pState->CheckNumber(0, static_cast<LuaTest*>(pUserData)->m_iInnerValue);
		});
	pInner->AddProperty(this, "ro", ARGUMENT_INTEGER, [](CNativeState* pState, int, void*) {
		pState->ReturnNumber(static_cast<int32_t>(1));
		return true;
	});

	m_pThingClass = pGlobal->NewClass("TestThing");
	m_pThingClass->RegisterConstructor("t|i", TestNatives::ThingConstructor, m_pThingClass);
	m_pThingClass->AddProperty(m_pThingClass, "id", ARGUMENT_INTEGER, [](CNativeState* pState, int, void* pUserData) {
		CThing* pThing = GetThing(pState, static_cast<ReflectedClass*>(pUserData));
		if (pThing == nullptr)
			return false;
		pState->ReturnNumber(pThing->m_iValue);
		return true;
	});
	m_pThingClass->AddProperty(m_pThingClass, "value", ARGUMENT_INTEGER,
		[](CNativeState* pState, int, void* pUserData) {
			CThing* pThing = GetThing(pState, static_cast<ReflectedClass*>(pUserData));
			if (pThing == nullptr)
				return false;
			pState->ReturnNumber(pThing->m_iValue);
			return true;
		},
		[](CNativeState* pState, int, void* pUserData) {
			CThing* pThing = GetThing(pState, static_cast<ReflectedClass*>(pUserData));
			return pThing != nullptr && pState->CheckNumber(0, pThing->m_iValue);
		});
	m_pThingClass->RegisterFunction("twice", "t", [](CNativeState* pState, int, void* pUserData) {
		CThing* pThing = GetThing(pState, static_cast<ReflectedClass*>(pUserData));
		if (pThing == nullptr)
			return false;
		pState->ReturnNumber(pThing->m_iValue * 2);
		return true;
	}, m_pThingClass);
	m_pThingClass->RegisterToString([](CNativeState* pState, int, void* pUserData) {
		CThing* pThing = GetThing(pState, static_cast<ReflectedClass*>(pUserData));
		if (pThing == nullptr)
			return false;
		pState->ReturnString(("TestThing(" + std::to_string(pThing->m_iValue) + ")").c_str());
		return true;
	}, m_pThingClass);

	m_pChildClass = pGlobal->NewClass("TestChild", m_pThingClass);
	m_pChildClass->RegisterConstructor("t|i", TestNatives::ThingConstructor, m_pChildClass);
	m_pChildClass->RegisterFunction("childOnly", "t", [](CNativeState* pState, int, void*) {
		pState->ReturnBoolean(true);
		return true;
	});
	pGlobal->NewClass("TestUnbuilt");
}

CResource* LuaTest::StartResource(const std::string& Name, const std::string& Script)
{
	WriteResource(Name, {Script});
	m_pManager->RefreshResources(false);
	CResource* pResource = Find(Name.c_str());
	if (pResource == nullptr || !pResource->Start())
		return nullptr;
	return pResource;
}

CResource* LuaTest::Main()
{
	CResource* pResource = Find("main");
	if (pResource != nullptr && pResource->IsStarted())
		return pResource;
	return StartResource("main", "");
}

CLuaScriptEnvironment* LuaTest::Environment(CResource* pResource) const
{
	return pResource != nullptr ? static_cast<CLuaScriptEnvironment*>(pResource->GetLuaEnvironment()) : nullptr;
}

bool LuaTest::Run(CResource* pResource, const std::string& Code)
{
	CLuaScriptEnvironment* pEnvironment = Environment(pResource);
	if (pEnvironment == nullptr)
	{
		ADD_FAILURE() << "no Lua environment";
		return false;
	}
	CMemoryStream* pStream = new CMemoryStream(Code.data(), Code.size());
	bool bResult = pEnvironment->DoFile(pStream, "chunk");
	pStream->Release();
	return bResult;
}

std::vector<std::string> LuaTest::LogLines(const char* szTag) const
{
	const std::string Tag = szTag;
	std::vector<std::string> Lines;
	for (const std::string& Line : m_Log.Lines())
	{
		if (Line.compare(0, Tag.size(), Tag) == 0)
			Lines.push_back(Line.substr(Tag.size()));
	}
	return Lines;
}

std::string LuaTest::LastScriptError() const
{
	static const std::string PREFIX = "SCRIPT ERROR: ";
	std::vector<std::string> Lines = Errors();
	for (auto It = Lines.rbegin(); It != Lines.rend(); ++It)
	{
		if (It->compare(0, PREFIX.size(), PREFIX) == 0)
			return It->substr(PREFIX.size());
	}
	return "";
}

CFunction* LuaTest::KeptFunction() const
{
	return (m_pKept != nullptr && m_pKept->IsFunction()) ? m_pKept->ToFunction() : nullptr;
}
