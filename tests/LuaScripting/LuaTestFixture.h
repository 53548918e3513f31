#pragma once
// The shared set-up of the Lua tests: a context whose log is captured, a file system rooted in a fresh directory,
// the real resource manager over it with the Lua language registered, and a small test interface ("test"
// namespace, "TestThing" classes of CThing objects) through which scripts hand values to C++ and back.

#include <string>
#include <vector>

#include "LuaScripting/CLuaScripting.h"
#include "Support/ResourceHostFixture.h"

// What scripts hand back, read for checks: a mismatch reads as a value no check expects.
inline std::string Text(const CArgument* pValue)
{
	return (pValue != nullptr && pValue->IsString()) ? std::string(pValue->ToString()) : "<not a string>";
}

inline int64_t Integer(const CArgument* pValue)
{
	int64_t iValue = -12345;
	if (pValue != nullptr && pValue->IsNumber())
		pValue->ToNumber(iValue);
	return iValue;
}

inline bool IsNil(const CArgument* pValue)
{
	return pValue != nullptr && pValue->GetType() == ARGUMENT_NIL;
}

class LuaTest : public ResourceHostFixture
{
protected:
	LuaTest();
	~LuaTest() override;

	CScripting* Scripting() const { return m_pManager->GetScripting(); }
	CLuaScripting* Lua() const { return static_cast<CLuaScripting*>(Scripting()->GetVM("Lua")); }

	// Writes a folder resource whose one server script has the text, scans, and starts it.
	CResource* StartResource(const std::string& Name, const std::string& Script);
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

	Strong<CArgumentArray> m_pRecorded;
	Strong<CArgument> m_pGive;
	Strong<CArgument> m_pKept;
	int32_t m_iInnerValue = 7;
	// What test.mayAct found last: 1 when the code that called it may act (start, stop and restart resources), 0
	// when it may not, -1 before any call.
	int m_iMayAct = -1;
	ReflectedClass* m_pThingClass = nullptr;
	ReflectedClass* m_pChildClass = nullptr;

private:
	void RegisterTestInterface();
};
