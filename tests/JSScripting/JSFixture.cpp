#include "JSFixture.h"

int CThing::s_iLive = 0;
int CRecordingFunction::s_iLive = 0;

namespace
{
// The engine starts once per process and shuts down after the last test.
class CJSEngineEnvironment : public ::testing::Environment
{
public:
	void SetUp() override { ASSERT_EQ(nullptr, CJSScripting::InitialiseEngine()); }
	void TearDown() override { CJSScripting::ShutDownEngine(); }
};

const ::testing::Environment* const g_pEngineEnvironment = ::testing::AddGlobalTestEnvironment(new CJSEngineEnvironment);

struct tTestData
{
	CArgumentArray* m_pRecorded;
	Strong<CArgument>* m_pGive;
	ReflectedClass* m_pClass;
};

bool Record(CNativeState* pState, int, void* pUserData)
{
	CArgumentArray* pRecorded = static_cast<CArgumentArray*>(pUserData);
	pRecorded->Clear();
	pState->GetArguments()->InsertTo(pRecorded);
	return true;
}

bool Give(CNativeState* pState, int, void* pUserData)
{
	Strong<CArgument>* ppGive = static_cast<Strong<CArgument>*>(pUserData);
	// The value itself: values of other languages cannot be cloned.
	if (!ppGive->IsNull())
	{
		(*ppGive)->AddRef();
		pState->ReturnAndOwn(*ppGive);
	}
	return true;
}

bool Fail(CNativeState* pState, int, void*)
{
	return pState->Error("native failed %d", 7);
}

bool ThingConstructor(CNativeState* pState, int argc, void* pUserData)
{
	int32_t iValue = 0;
	if (argc > 0 && !pState->CheckNumber(0, iValue))
		return false;
	CThing* pThing = new CThing(static_cast<ReflectedClass*>(pUserData), iValue);
	pState->ReturnObject(pThing);
	pThing->Release();
	return true;
}

// Hands back whatever give() would: an object scripts may have seen before.
bool SharedConstructor(CNativeState* pState, int, void* pUserData)
{
	Strong<CArgument>* ppGive = static_cast<Strong<CArgument>*>(pUserData);
	if (!ppGive->IsNull())
		pState->Return(*ppGive);
	return true;
}

bool ThingGetValue(CNativeState* pState, int, void*)
{
	CBaseObject* pThis = nullptr;
	if (!pState->GetThis(nullptr, &pThis))
		return false;
	pState->ReturnNumber(static_cast<CThing*>(pThis)->m_iValue);
	return true;
}

bool ThingSetValue(CNativeState* pState, int, void*)
{
	CBaseObject* pThis = nullptr;
	int32_t iValue = 0;
	if (!pState->GetThis(nullptr, &pThis) || !pState->CheckNumber(0, iValue))
		return false;
	static_cast<CThing*>(pThis)->m_iValue = iValue;
	return true;
}

bool ThingKind(CNativeState* pState, int, void*)
{
	pState->ReturnString("thing");
	return true;
}

bool MakeThing(CNativeState* pState, int, void* pUserData)
{
	int32_t iValue = 0;
	if (!pState->CheckNumber(0, iValue))
		return false;
	CThing* pThing = new CThing(static_cast<ReflectedClass*>(pUserData), iValue);
	pState->ReturnObject(pThing);
	pThing->Release();
	return true;
}

bool Twice(CNativeState* pState, int, void*)
{
	int32_t iValue = 0;
	if (!pState->CheckNumber(0, iValue))
		return false;
	pState->ReturnNumber(iValue * 2);
	return true;
}

bool Answer(CNativeState* pState, int, void*)
{
	pState->ReturnNumber(42);
	return true;
}

int32_t g_iSetting = 0;

bool GetSetting(CNativeState* pState, int, void*)
{
	pState->ReturnNumber(g_iSetting);
	return true;
}

bool SetSetting(CNativeState* pState, int, void*)
{
	return pState->CheckNumber(0, g_iSetting);
}

bool CallWith(CNativeState* pState, int argc, void*)
{
	CFunction* pFunction = pState->CheckFunction(0);
	if (pFunction == nullptr)
		return false;
	CArgumentArray Arguments;
	for (int i = 1; i < argc; i++)
		Arguments.Add(pState->GetArgument(static_cast<size_t>(i)));
	CReturnValue Result;
	if (!pFunction->Call(Arguments, &Result))
		return pState->Error("call failed");
	pState->Return(Result.GetReturnArgument());
	return true;
}
}

JSFixture::JSFixture() :
	m_pLogStream(Strong<CUnlimitedStream>::New(new CUnlimitedStream())),
	m_bOldAsserts(g_bAsserts)
{
	g_bAsserts = false;
	m_Context.GetFileLog()->SetTimeStampFormat("");
	m_pLogStream->AddRef();
	m_Context.GetFileLog()->StartLogging(m_pLogStream);
	m_LogStart = m_pLogStream->GetSize();

	m_Defines.Define("TEST_SIGNED", -5);
	m_Defines.Define("TEST_UNSIGNED", 0xFFFFFFFFu);
	m_Scripting.SetDefineHandlers(&m_Defines);
	RegisterScriptClasses(&m_Scripting);
	RegisterTestInterface();

	m_pLanguage = CJSScripting::Create(&m_Scripting);
	if (m_pLanguage == nullptr)
	{
		ADD_FAILURE() << "no language";
		return;
	}
	m_Scripting.AddVM(m_pLanguage->GetId(), m_pLanguage);
	EXPECT_TRUE(m_pLanguage->DefineClasses());
	m_pEnvironment = m_pLanguage->CreateEnvironment("test");
	EXPECT_NE(nullptr, m_pEnvironment);
}

JSFixture::~JSFixture()
{
	if (m_pEnvironment != nullptr)
		m_pEnvironment->Destroy();
	m_Recorded.Clear();
	m_pGive.SetNull();
	g_bAsserts = m_bOldAsserts;
}

void JSFixture::RegisterTestInterface()
{
	ReflectedNamespace* pGlobal = m_Scripting.GetGlobal();
	pGlobal->RegisterFunction("record", "*", Record, &m_Recorded);
	pGlobal->RegisterFunction("give", "", Give, &m_pGive);
	pGlobal->RegisterFunction("fail", "", Fail);
	pGlobal->RegisterFunction("callWith", "c*", CallWith);

	m_pThingClass = pGlobal->NewClass("Thing");
	m_pThingClass->RegisterConstructor("t|i", ThingConstructor, m_pThingClass);
	m_pThingClass->RegisterFunction("getValue", "t", ThingGetValue);
	m_pThingClass->RegisterFunction("setValue", "ti", ThingSetValue);
	m_pThingClass->AddProperty(nullptr, "value", ARGUMENT_INTEGER, ThingGetValue, ThingSetValue);
	m_pThingClass->AddProperty(nullptr, "kind", ARGUMENT_STRING, ThingKind);

	m_pSubThingClass = pGlobal->NewClass("SubThing", m_pThingClass);
	m_pSubThingClass->RegisterConstructor("t|i", ThingConstructor, m_pSubThingClass);

	m_pFixedClass = pGlobal->NewClass("Fixed", m_pThingClass);
	ReflectedClass* pShared = pGlobal->NewClass("Shared", m_pThingClass);
	pShared->RegisterConstructor("t", SharedConstructor, &m_pGive);
	pGlobal->RegisterFunction("makeFixed", "i", MakeThing, m_pFixedClass);

	ReflectedNamespace* pTools = pGlobal->AddNamespace("tools");
	pTools->SetAlias("tool");
	pTools->RegisterFunction("twice", "i", Twice);
	pTools->AddProperty(nullptr, "answer", ARGUMENT_INTEGER, Answer);
	pTools->AddProperty(nullptr, "setting", ARGUMENT_INTEGER, GetSetting, SetSetting);
}

bool JSFixture::Run(const std::string& Text, CScriptEnvironment* pEnvironment)
{
	if (pEnvironment == nullptr)
		pEnvironment = m_pEnvironment;
	if (pEnvironment == nullptr)
		return false;
	Strong<CMemoryStream> pStream = Strong<CMemoryStream>::New(new CMemoryStream(Text.data(), Text.size()));
	return pEnvironment->DoFile(pStream, "test.js");
}

CScriptEnvironment* JSFixture::NewEnvironment()
{
	return m_pLanguage->CreateEnvironment("other");
}

std::vector<std::string> JSFixture::LogLines() const
{
	std::string Text(reinterpret_cast<const char*>(m_pLogStream->GetData()) + m_LogStart,
		m_pLogStream->GetSize() - m_LogStart);
	std::vector<std::string> Lines;
	size_t Start = 0;
	for (size_t End; (End = Text.find("\r\n", Start)) != std::string::npos; Start = End + 2)
		Lines.push_back(Text.substr(Start, End - Start));
	return Lines;
}

bool JSFixture::Logged(const std::string& Line) const
{
	for (const std::string& Logged : LogLines())
	{
		if (Logged == Line)
			return true;
	}
	return false;
}

void JSFixture::ClearLog()
{
	m_LogStart = m_pLogStream->GetSize();
}
