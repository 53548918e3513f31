#pragma once
// The shared set-up of the Lua tests: a context whose log is captured, a file system rooted in a fresh directory,
// the real resource manager over it with the Lua language registered, and a small test interface ("test"
// namespace, "TestThing" classes) through which scripts hand values to C++ and back.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Engine/Context.h"
#include "Engine/FileSystem.h"
#include "Engine/KestrinNative.h"
#include "Engine/KestrinStream.h"
#include "Engine/TempDirectory.h"
#include "LuaScripting/CLuaScripting.h"
#include "Scripting/Resource.h"
#include "Scripting/ResourceMgr.h"

// An engine object of the test classes; counts live instances.
class CTestThing : public CBaseObject
{
public:
	CTestThing(ReflectedClass* pClass, int32_t iValue) : m_iValue(iValue)
	{
		SetReflectedClass(pClass);
		s_iLive++;
	}
	~CTestThing() override { s_iLive--; }

	int32_t m_iValue;
	static int s_iLive;
};

class CLuaTestResourceMgr : public CResourceMgr
{
public:
	CLuaTestResourceMgr(Context* pContext, CFileSystem* pFileSystem) : CResourceMgr(pContext)
	{
		m_pFileSystem = pFileSystem;
	}
	~CLuaTestResourceMgr() override { ClearAllResources(); }
};

class LuaTest : public ::testing::Test
{
protected:
	LuaTest();
	~LuaTest() override;

	CScripting* Scripting() const { return m_pManager->GetScripting(); }
	CLuaScripting* Lua() const { return static_cast<CLuaScripting*>(Scripting()->GetVM("Lua")); }

	// Writes a folder resource whose one server script has the text, scans, and starts it.
	CResource* StartResource(const std::string& Name, const std::string& Script);
	void WriteResource(const std::string& Name, const std::vector<std::string>& Scripts);
	CResource* Find(const char* szName) const { return m_pManager->FindResourceByName(szName); }
	CLuaScriptEnvironment* Environment(CResource* pResource) const;
	// Runs a chunk in the resource's environment; false on a script error.
	bool Run(CResource* pResource, const std::string& Code);
	// A started resource "main" to run chunks in.
	CResource* Main();

	// The texts of log lines at one level, in order.
	std::vector<std::string> LogLines(const char* szTag) const;
	std::vector<std::string> Errors() const { return LogLines("[ERROR]   "); }
	std::vector<std::string> Infos() const { return LogLines("[INFO]    "); }
	bool Logged(const std::string& Text) const;
	// The last SCRIPT ERROR text, or "".
	std::string LastScriptError() const;

	// What test.record received last.
	const CArgumentArray& Recorded() const { return *m_pRecorded; }
	// What test.give returns (null: nothing).
	void Give(CArgument* pValue) { m_pGive = Strong<CArgument>::New(pValue); }
	// The value test.keep stored last.
	CArgument* Kept() const { return m_pKept; }
	// The function test.keep stored last, or null.
	CFunction* KeptFunction() const;

	ReflectedClass* ThingClass() const { return m_pThingClass; }
	ReflectedClass* ChildClass() const { return m_pChildClass; }

	CTempDirectory m_Dir;
	Context m_Context;
	Strong<CUnlimitedStream> m_pLog;
	CFileSystem m_FileSystem;
	std::unique_ptr<CLuaTestResourceMgr> m_pManager;

	Strong<CArgumentArray> m_pRecorded;
	Strong<CArgument> m_pGive;
	Strong<CArgument> m_pKept;
	int32_t m_iInnerValue = 7;
	ReflectedClass* m_pThingClass = nullptr;
	ReflectedClass* m_pChildClass = nullptr;

private:
	void RegisterTestInterface();
};
