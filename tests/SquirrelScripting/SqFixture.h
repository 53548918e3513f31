#pragma once
// The Squirrel language over a small registry of test natives and classes, with one environment and the log
// captured.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Engine/Context.h"
#include "Engine/Defines.h"
#include "Engine/KAssert.h"
#include "Engine/KError.h"
#include "Engine/KestrinNative.h"
#include "Engine/KestrinStream.h"
#include "Engine/ScriptClasses.h"
#include "SquirrelScripting/SqScripting.h"

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
	static int s_iLive;
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
		if (pResult)
			pResult->AddString("from engine");
		return true;
	}

	int m_Calls = 0;
	CArgumentArray m_Arguments;
	static int s_iLive;
};

class SqFixture : public ::testing::Test
{
protected:
	SqFixture();
	~SqFixture() override;

	// Runs a script text in the environment (the fixture's by default) under the name "test.nut".
	bool Run(const std::string& Text, CScriptEnvironment* pEnvironment = nullptr);
	bool RunBytes(const void* pData, size_t Length);
	// A second environment of the same language; the caller destroys it.
	CScriptEnvironment* NewEnvironment();

	// Everything logged since the fixture was made (or the log was cleared), as "[TAG]   text" lines.
	std::vector<std::string> LogLines() const;
	bool Logged(const std::string& Line) const;
	void ClearLog();

	// The values the script handed to record(...) in its last call.
	const CArgumentArray& Recorded() const { return m_Recorded; }
	CArgument* RecordedAt(size_t Index) const { return m_Recorded.GetAt(Index); }
	// What give() returns from now on (a clone of it); takes over the caller's reference.
	void SetGive(CArgument* pValue) { m_pGive = Strong<CArgument>::New(pValue); }

	void CollectGarbage() { m_pLanguage->CollectGarbage(); }

	ReflectedClass* m_pThingClass = nullptr;
	ReflectedClass* m_pSubThingClass = nullptr;
	ReflectedClass* m_pFixedClass = nullptr;
	ReflectedClass* m_pOpaqueClass = nullptr;

	Strong<CUnlimitedStream> m_pLogStream;
	size_t m_LogStart = 0;
	Context m_Context;
	CDefineHandlers m_Defines;
	CScripting m_Scripting;
	CSqScripting* m_pLanguage = nullptr;
	CScriptEnvironment* m_pEnvironment = nullptr;
	CArgumentArray m_Recorded;
	Strong<CArgument> m_pGive;
	// The resource each native call reported, newest last.
	std::vector<CResource*> m_CallingResources;
	bool m_bOldAsserts;

private:
	void RegisterTestInterface();
};
