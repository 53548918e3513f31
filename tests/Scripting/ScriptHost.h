#pragma once
// The shared set-up of the host's tests: the resource host, with its manager not yet the server's, the test language
// registered as "Lua", and the replies of commands captured.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Engine/TarBuilder.h"
#include "Scripting/CommandHandlers.h"
#include "Scripting/EventHandlers.h"
#include "Scripting/KeyBinds.h"
#include "Scripting/TimerHandlers.h"
#include "Support/ResourceHostFixture.h"
#include "TestLanguage.h"

// Collects command replies.
class CCaptureLogger : public Logger
{
public:
	void Log(eLogType Type, const char* szText) override { m_Lines.push_back({Type, szText}); }

	std::string Last() const { return m_Lines.empty() ? "" : m_Lines.back().second; }
	eLogType LastType() const { return m_Lines.empty() ? LOGTYPE_NONE : m_Lines.back().first; }

	std::vector<std::pair<eLogType, std::string>> m_Lines;
};

class ScriptHostTest : public ResourceHostFixture
{
protected:
	ScriptHostTest() : ResourceHostFixture(".lua", "lua", false)
	{
		m_pRawManager = m_pManager.get();
		m_pLua = AddLanguage("Lua");
		m_pManager->GetCommandHandlers()->PushLogger(&m_Replies);
	}

	~ScriptHostTest() override { m_pManager.reset(); }

	CTestVM* AddLanguage(const char* szName)
	{
		CTestVM* pVM = new CTestVM(Scripting(), szName);
		Scripting()->AddVM(CScripting::GetLanguageId(szName), pVM);
		return pVM;
	}

	// Through a plain pointer, so handlers that run while the manager is being destroyed still reach it.
	CScripting* Scripting() const { return m_pRawManager->GetScripting(); }
	CResourceMgr* Manager() const { return m_pRawManager; }

	void Scan(bool bLogChanges = false) { m_pManager->RefreshResources(bLogChanges); }

	CResource* Find(const char* szName) const { return m_pRawManager->FindResourceByName(szName); }

	// A function value that runs Body with pCaller as the calling resource.
	CArgument* MakeFunction(CResource* pCaller, TestFunctionBody Body)
	{
		CTestFunction* pFunction = new CTestFunction(m_pLua, pCaller, std::move(Body));
		CArgument* pValue = new CArgumentFunction(pFunction);
		pFunction->Release();
		return pValue;
	}

	tCallResult Call(CResource* pCaller, const char* szName, const CArgumentArray& Arguments = CArgs())
	{
		return TestScript::CallGlobal(Scripting(), pCaller, szName, Arguments);
	}

	// A new object made by the class's script constructor, as a script would make it.
	Strong<CBaseObject> Construct(ReflectedClass* pClass, const CArgumentArray& Arguments = CArgs())
	{
		tCallResult Result = TestScript::Run(Scripting(), nullptr, nullptr, pClass->m_Constructor.m_Function,
			pClass->m_Constructor.m_pUserData, Arguments);
		EXPECT_TRUE(Result.m_bOk) << Result.m_Error;
		return Strong<CBaseObject>(Result.Object());
	}

	// A call that must fail: the function, what builds its arguments, and the error it must give.
	struct tFailingCall
	{
		const char* m_szFunction;
		std::function<void(CArgs&)> m_Build;
		const char* m_szError;
	};
	// Makes each call from pCaller and expects it to fail with its error.
	void ExpectFailures(CResource* pCaller, const std::vector<tFailingCall>& Calls)
	{
		for (const tFailingCall& Case : Calls)
		{
			SCOPED_TRACE(Case.m_szFunction);
			CArgs Arguments;
			Case.m_Build(Arguments);
			tCallResult Result = Call(pCaller, Case.m_szFunction, Arguments);
			EXPECT_FALSE(Result.m_bOk);
			EXPECT_EQ(Result.m_Error, Case.m_szError);
		}
	}

	bool Command(const char* szLine) { return m_pManager->GetCommandHandlers()->ConsoleCommandOnly(szLine, nullptr, true); }

	CTestResourceMgr* m_pRawManager = nullptr;
	CTestVM* m_pLua = nullptr;
	CCaptureLogger m_Replies;
};
