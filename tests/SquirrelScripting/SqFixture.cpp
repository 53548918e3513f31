#include "SqFixture.h"

int CThing::s_iLive = 0;
int CRecordingFunction::s_iLive = 0;

namespace
{
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
	if (!ppGive->IsNull())
		pState->Return(*ppGive);
	return true;
}

bool Fail(CNativeState* pState, int, void*)
{
	return pState->Error("native failed %d", 7);
}

bool WhoCalls(CNativeState* pState, int, void* pUserData)
{
	static_cast<std::vector<CResource*>*>(pUserData)->push_back(pState->GetResource());
	return true;
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
	if (!pFunction)
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

SqFixture::SqFixture()
	: m_pLogStream(Strong<CUnlimitedStream>::New(new CUnlimitedStream())), m_bOldAsserts(g_bAsserts)
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
	m_Scripting.RegisterReflectionFunctions();
	RegisterTestInterface();

	m_pLanguage = new CSqScripting(&m_Scripting);
	if (!m_pLanguage->IsOpen() || !m_Scripting.AddVM(m_pLanguage->GetLanguageId(), m_pLanguage))
	{
		ADD_FAILURE() << "no language";
		delete m_pLanguage;
		m_pLanguage = nullptr;
		return;
	}
	EXPECT_TRUE(m_pLanguage->DefineClasses());
	m_pEnvironment = m_pLanguage->CreateEnvironment("test");
	EXPECT_NE(nullptr, m_pEnvironment);
}

SqFixture::~SqFixture()
{
	if (m_pEnvironment)
		m_pEnvironment->Destroy();
	m_Recorded.Clear();
	m_pGive.SetNull();
	g_bAsserts = m_bOldAsserts;
}

void SqFixture::RegisterTestInterface()
{
	ReflectedNamespace* pGlobal = m_Scripting.GetGlobal();
	pGlobal->RegisterFunction("record", "*", Record, &m_Recorded);
	pGlobal->RegisterFunction("give", "", Give, &m_pGive);
	pGlobal->RegisterFunction("fail", "", Fail);
	pGlobal->RegisterFunction("whoCalls", "", WhoCalls, &m_CallingResources);
	pGlobal->RegisterFunction("callWith", "c*", CallWith);

	m_pThingClass = pGlobal->NewClass("Thing");
	m_pThingClass->RegisterConstructor("t|i", ThingConstructor, m_pThingClass);
	m_pThingClass->RegisterFunction("getValue", "t", ThingGetValue);
	m_pThingClass->RegisterFunction("setValue", "ti", ThingSetValue);
	m_pThingClass->AddProperty(nullptr, "value", ARGUMENT_INTEGER, ThingGetValue, ThingSetValue);
	m_pThingClass->AddProperty(nullptr, "kind", ARGUMENT_STRING, ThingKind);

	m_pSubThingClass = pGlobal->NewClass("SubThing", m_pThingClass);
	m_pSubThingClass->RegisterConstructor("t|i", ThingConstructor, m_pSubThingClass);

	// Derived, without a constructor of its own.
	m_pFixedClass = pGlobal->NewClass("Fixed", m_pThingClass);
	pGlobal->RegisterFunction("makeFixed", "i", MakeThing, m_pFixedClass);

	// No base, no constructor.
	m_pOpaqueClass = pGlobal->NewClass("Opaque");
	m_pOpaqueClass->RegisterFunction("getValue", "t", ThingGetValue);
	pGlobal->RegisterFunction("makeOpaque", "i", MakeThing, m_pOpaqueClass);

	ReflectedNamespace* pTools = pGlobal->AddNamespace("tools");
	pTools->SetAlias("tool");
	pTools->RegisterFunction("twice", "i", Twice);
	pTools->AddProperty(nullptr, "answer", ARGUMENT_INTEGER, Answer);
	pTools->AddProperty(nullptr, "setting", ARGUMENT_INTEGER, GetSetting, SetSetting);
}

bool SqFixture::Run(const std::string& Text, CScriptEnvironment* pEnvironment)
{
	if (!pEnvironment)
		pEnvironment = m_pEnvironment;
	if (!pEnvironment)
		return false;
	Strong<CMemoryStream> pStream = Strong<CMemoryStream>::New(new CMemoryStream(Text.data(), Text.size()));
	return pEnvironment->DoFile(pStream, "test.nut");
}

bool SqFixture::RunBytes(const void* pData, size_t Length)
{
	Strong<CMemoryStream> pStream = Strong<CMemoryStream>::New(new CMemoryStream(pData, Length));
	return m_pEnvironment->DoFile(pStream, "test.nut");
}

CScriptEnvironment* SqFixture::NewEnvironment()
{
	return m_pLanguage->CreateEnvironment("other");
}

std::vector<std::string> SqFixture::LogLines() const
{
	std::string Text(reinterpret_cast<const char*>(m_pLogStream->GetData()) + m_LogStart,
		m_pLogStream->GetSize() - m_LogStart);
	std::vector<std::string> Lines;
	size_t Start = 0;
	for (size_t End; (End = Text.find("\r\n", Start)) != std::string::npos; Start = End + 2)
		Lines.push_back(Text.substr(Start, End - Start));
	return Lines;
}

bool SqFixture::Logged(const std::string& Line) const
{
	for (const std::string& Logged : LogLines())
	{
		if (Logged == Line)
			return true;
	}
	return false;
}

void SqFixture::ClearLog()
{
	m_LogStart = m_pLogStream->GetSize();
}
