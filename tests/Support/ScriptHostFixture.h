#pragma once
// What the script language tests share: the engine objects and functions of the test classes, the context's log
// captured in memory, the natives of the small test interface, and a fixture that registers that interface for one
// language with one environment.
//
// Header-only: every language's test executable compiles it against the engine headers it already uses.

#include <gtest/gtest.h>

#include <new>
#include <string>
#include <vector>

#include "Engine/Context.h"
#include "Engine/Defines.h"
#include "Engine/KAssert.h"
#include "Engine/KError.h"
#include "Engine/KestrinNative.h"
#include "Engine/KestrinStream.h"
#include "Engine/ScriptClasses.h"

// An engine object of the test classes; counts the living ones.
class CThing : public CBaseObject
{
public:
	CThing(ReflectedClass* pClass, int32_t iValue) : m_iValue(iValue)
	{
		SetReflectedClass(pClass);
		s_iLive++;
	}
	~CThing() override { s_iLive--; }

	int32_t m_iValue;
	static inline int s_iLive = 0;
};

// A thing whose engine value cannot be made: the memory for it runs out.
class CHungryThing : public CThing
{
public:
	using CThing::CThing;
	CArgument* CreateArgument() override { throw std::bad_alloc(); }
};

// An engine function value that records its calls and returns a fixed text.
class CRecordingFunction : public CFunction
{
public:
	explicit CRecordingFunction(CScripting* pScripting) : CFunction(pScripting) { s_iLive++; }
	~CRecordingFunction() override { s_iLive--; }

	bool Call(const CArgumentArray& Arguments, CReturnValue* pResult) override
	{
		m_Calls++;
		m_Arguments.Clear();
		Arguments.InsertTo(&m_Arguments);
		if (pResult != nullptr)
			pResult->AddString("from engine");
		return true;
	}

	int m_Calls = 0;
	CArgumentArray m_Arguments;
	static inline int s_iLive = 0;
};

// The context's log written to memory without time stamps, read back as text.
class CCapturedLog
{
public:
	explicit CCapturedLog(Context* pContext) : m_pStream(Strong<CUnlimitedStream>::New(new CUnlimitedStream()))
	{
		pContext->GetFileLog()->SetTimeStampFormat("");
		// The log holds a reference of its own.
		m_pStream->AddRef();
		pContext->GetFileLog()->StartLogging(m_pStream);
	}

	// Everything written since logging started (the banner included) or since the last Skip().
	std::string Text() const
	{
		return std::string(reinterpret_cast<const char*>(m_pStream->GetData()) + m_Start, m_pStream->GetSize() - m_Start);
	}

	// The complete lines of Text(), as "[TAG]   text" without line ends.
	std::vector<std::string> Lines() const
	{
		const std::string Log = Text();
		std::vector<std::string> Lines;
		size_t Start = 0;
		for (size_t End; (End = Log.find("\r\n", Start)) != std::string::npos; Start = End + 2)
			Lines.push_back(Log.substr(Start, End - Start));
		return Lines;
	}

	bool HasLine(const std::string& Line) const
	{
		for (const std::string& Logged : Lines())
		{
			if (Logged == Line)
				return true;
		}
		return false;
	}

	// Leaves out what was written so far.
	void Skip() { m_Start = m_pStream->GetSize(); }

private:
	Strong<CUnlimitedStream> m_pStream;
	size_t m_Start = 0;
};

// What a native received, read leniently so that a wrong kind fails the comparison instead of the test run.
inline std::string TextOf(const CArgument* pValue)
{
	size_t Length = 0;
	const char* szText = pValue && pValue->IsString() ? pValue->ToString(&Length) : nullptr;
	return szText ? std::string(szText, Length) : std::string("<not a string>");
}

inline int64_t IntegerOf(const CArgument* pValue)
{
	int64_t iValue = 0;
	if (pValue && pValue->IsNumber())
		pValue->ToNumber(iValue);
	return iValue;
}

inline bool IsTrue(const CArgument* pValue)
{
	return pValue && pValue->IsBoolean() && pValue->ToBoolean();
}

// The natives of the test interface. Their user data is named where they read it.
namespace TestNatives
{
// User data: the CArgumentArray that receives a copy of the arguments.
inline bool Record(CNativeState* pState, int, void* pUserData)
{
	CArgumentArray* pRecorded = static_cast<CArgumentArray*>(pUserData);
	pRecorded->Clear();
	pState->GetArguments()->InsertTo(pRecorded);
	return true;
}

// User data: a Strong<CArgument>; returns that value itself (values of other languages cannot be cloned).
inline bool GiveItself(CNativeState* pState, int, void* pUserData)
{
	Strong<CArgument>* ppGive = static_cast<Strong<CArgument>*>(pUserData);
	if (!ppGive->IsNull())
	{
		(*ppGive)->AddRef();
		pState->ReturnAndOwn(*ppGive);
	}
	return true;
}

// User data: a Strong<CArgument>; returns a copy of the value.
inline bool GiveCopy(CNativeState* pState, int, void* pUserData)
{
	Strong<CArgument>* ppGive = static_cast<Strong<CArgument>*>(pUserData);
	if (!ppGive->IsNull())
		pState->Return(*ppGive);
	return true;
}

inline bool Fail(CNativeState* pState, int, void*)
{
	return pState->Error("native failed %d", 7);
}

// The memory runs out during the call.
inline bool RunOutOfMemory(CNativeState*, int, void*)
{
	throw std::bad_alloc();
}

// User data: the ReflectedClass of the new CThing; the value is optional.
inline bool ThingConstructor(CNativeState* pState, int argc, void* pUserData)
{
	int32_t iValue = 0;
	if (argc > 0 && !pState->CheckNumber(0, iValue))
		return false;
	CThing* pThing = new CThing(static_cast<ReflectedClass*>(pUserData), iValue);
	pState->ReturnObject(pThing);
	pThing->Release();
	return true;
}

// User data: the ReflectedClass of the new CThing; the value is required.
inline bool MakeThing(CNativeState* pState, int, void* pUserData)
{
	int32_t iValue = 0;
	if (!pState->CheckNumber(0, iValue))
		return false;
	CThing* pThing = new CThing(static_cast<ReflectedClass*>(pUserData), iValue);
	pState->ReturnObject(pThing);
	pThing->Release();
	return true;
}

inline bool ThingGetValue(CNativeState* pState, int, void*)
{
	CBaseObject* pThis = nullptr;
	if (!pState->GetThis(nullptr, &pThis))
		return false;
	pState->ReturnNumber(static_cast<CThing*>(pThis)->m_iValue);
	return true;
}

inline bool ThingSetValue(CNativeState* pState, int, void*)
{
	CBaseObject* pThis = nullptr;
	int32_t iValue = 0;
	if (!pState->GetThis(nullptr, &pThis) || !pState->CheckNumber(0, iValue))
		return false;
	static_cast<CThing*>(pThis)->m_iValue = iValue;
	return true;
}

inline bool ThingKind(CNativeState* pState, int, void*)
{
	pState->ReturnString("thing");
	return true;
}

inline bool Twice(CNativeState* pState, int, void*)
{
	int32_t iValue = 0;
	if (!pState->CheckNumber(0, iValue))
		return false;
	pState->ReturnNumber(iValue * 2);
	return true;
}

inline bool Answer(CNativeState* pState, int, void*)
{
	pState->ReturnNumber(42);
	return true;
}

inline int32_t g_iSetting = 0;

inline bool GetSetting(CNativeState* pState, int, void*)
{
	pState->ReturnNumber(g_iSetting);
	return true;
}

inline bool SetSetting(CNativeState* pState, int, void*)
{
	return pState->CheckNumber(0, g_iSetting);
}

// Calls the function argument with the other arguments and returns what it returned.
inline bool CallWith(CNativeState* pState, int argc, void*)
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

// One language over a registry of test natives and classes, with one environment and the log captured. The
// language's fixture makes the language and hands it to OpenEnvironment.
//
// The registry: record(...), give(), fail(), callWith(f, ...); classes Thing (constructor, getValue, setValue,
// properties value and kind), SubThing and Fixed (derived, Fixed without a constructor, made by makeFixed(i));
// namespace tools (alias tool) with twice(i) and properties answer and setting.
class ScriptHostFixture : public ::testing::Test
{
protected:
	// szScriptName: the file name Run gives its texts. pfnGive: TestNatives::GiveItself or GiveCopy.
	ScriptHostFixture(const char* szScriptName, NativeFunction pfnGive) :
		m_Log(&m_Context), m_bOldAsserts(g_bAsserts), m_szScriptName(szScriptName)
	{
		g_bAsserts = false;
		m_Log.Skip();

		m_Defines.Define("TEST_SIGNED", -5);
		m_Defines.Define("TEST_UNSIGNED", 0xFFFFFFFFu);
		m_Scripting.SetDefineHandlers(&m_Defines);
		RegisterScriptClasses(&m_Scripting);
		RegisterTestInterface(pfnGive);
	}

	~ScriptHostFixture() override
	{
		if (m_pEnvironment != nullptr)
			m_pEnvironment->Destroy();
		m_Recorded.Clear();
		m_pGive.SetNull();
		g_bAsserts = m_bOldAsserts;
	}

	// Defines the registry's classes in the language (already added to m_Scripting) and opens the environment.
	void OpenEnvironment(CScriptingVM* pLanguage)
	{
		m_pLanguage = pLanguage;
		EXPECT_TRUE(m_pLanguage->DefineClasses());
		m_pEnvironment = m_pLanguage->CreateEnvironment("test");
		EXPECT_NE(nullptr, m_pEnvironment);
	}

	// Ends the environment and then the language itself, as a shutting-down server does, with the registry cleared;
	// what the test still holds of them must fail safely.
	void DestroyLanguage()
	{
		m_pEnvironment->Destroy();
		m_pEnvironment = nullptr;
		m_Scripting.GetGlobal()->Clear();
		for (size_t i = 0; i < m_Scripting.GetVMCount(); i++)
			delete m_Scripting.GetVMAt(i);
		m_Scripting.m_VMCount = 0;
		m_pLanguage = nullptr;
	}

	// Runs a script text in the environment (the fixture's by default).
	bool Run(const std::string& Text, CScriptEnvironment* pEnvironment = nullptr)
	{
		return RunBytes(Text.data(), Text.size(), pEnvironment);
	}
	bool RunBytes(const void* pData, size_t Length, CScriptEnvironment* pEnvironment = nullptr)
	{
		if (pEnvironment == nullptr)
			pEnvironment = m_pEnvironment;
		if (pEnvironment == nullptr)
			return false;
		Strong<CMemoryStream> pStream = Strong<CMemoryStream>::New(new CMemoryStream(pData, Length));
		return pEnvironment->DoFile(pStream, m_szScriptName);
	}

	// A second environment of the same language; the caller destroys it.
	CScriptEnvironment* NewEnvironment() { return m_pLanguage->CreateEnvironment("other"); }
	void CollectGarbage() { m_pLanguage->CollectGarbage(); }

	// Everything logged since the fixture was made (or the log was cleared), as "[TAG]   text" lines.
	std::vector<std::string> LogLines() const { return m_Log.Lines(); }
	bool Logged(const std::string& Line) const { return m_Log.HasLine(Line); }
	void ClearLog() { m_Log.Skip(); }

	// The values the script handed to record(...) in its last call.
	const CArgumentArray& Recorded() const { return m_Recorded; }
	CArgument* RecordedAt(size_t Index) const { return m_Recorded.GetAt(Index); }
	// What give() returns from now on; takes over the caller's reference.
	void SetGive(CArgument* pValue) { m_pGive = Strong<CArgument>::New(pValue); }

	ReflectedClass* m_pThingClass = nullptr;
	ReflectedClass* m_pSubThingClass = nullptr;
	ReflectedClass* m_pFixedClass = nullptr;

	Context m_Context;
	CCapturedLog m_Log;
	CDefineHandlers m_Defines;
	CScripting m_Scripting;
	// Owned by m_Scripting once added.
	CScriptingVM* m_pLanguage = nullptr;
	CScriptEnvironment* m_pEnvironment = nullptr;
	CArgumentArray m_Recorded;
	Strong<CArgument> m_pGive;
	bool m_bOldAsserts;

private:
	void RegisterTestInterface(NativeFunction pfnGive)
	{
		ReflectedNamespace* pGlobal = m_Scripting.GetGlobal();
		pGlobal->RegisterFunction("record", "*", TestNatives::Record, &m_Recorded);
		pGlobal->RegisterFunction("give", "", pfnGive, &m_pGive);
		pGlobal->RegisterFunction("fail", "", TestNatives::Fail);
		pGlobal->RegisterFunction("callWith", "c*", TestNatives::CallWith);

		m_pThingClass = pGlobal->NewClass("Thing");
		m_pThingClass->RegisterConstructor("t|i", TestNatives::ThingConstructor, m_pThingClass);
		m_pThingClass->RegisterFunction("getValue", "t", TestNatives::ThingGetValue);
		m_pThingClass->RegisterFunction("setValue", "ti", TestNatives::ThingSetValue);
		m_pThingClass->AddProperty(nullptr, "value", ARGUMENT_INTEGER, TestNatives::ThingGetValue,
			TestNatives::ThingSetValue);
		m_pThingClass->AddProperty(nullptr, "kind", ARGUMENT_STRING, TestNatives::ThingKind);

		m_pSubThingClass = pGlobal->NewClass("SubThing", m_pThingClass);
		m_pSubThingClass->RegisterConstructor("t|i", TestNatives::ThingConstructor, m_pSubThingClass);

		// Derived, without a constructor of its own.
		m_pFixedClass = pGlobal->NewClass("Fixed", m_pThingClass);
		pGlobal->RegisterFunction("makeFixed", "i", TestNatives::MakeThing, m_pFixedClass);

		ReflectedNamespace* pTools = pGlobal->AddNamespace("tools");
		pTools->SetAlias("tool");
		pTools->RegisterFunction("twice", "i", TestNatives::Twice);
		pTools->AddProperty(nullptr, "answer", ARGUMENT_INTEGER, TestNatives::Answer);
		pTools->AddProperty(nullptr, "setting", ARGUMENT_INTEGER, TestNatives::GetSetting, TestNatives::SetSetting);
	}

	const char* m_szScriptName;
};
