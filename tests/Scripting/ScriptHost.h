#pragma once
// The shared set-up of the host's tests: a context whose log is captured, a file system rooted in a fresh
// directory, a resource manager over it, and the test language registered as "Lua".

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Engine/Context.h"
#include "Engine/ElementChunk.h"
#include "Engine/FileSystem.h"
#include "Engine/TarBuilder.h"
#include "Engine/TempDirectory.h"
#include "Scripting/CommandHandlers.h"
#include "Scripting/EventHandlers.h"
#include "Scripting/KeyBinds.h"
#include "Scripting/Resource.h"
#include "Scripting/ResourceMgr.h"
#include "Scripting/TimerHandlers.h"
#include "TestLanguage.h"

class CTestResourceMgr : public CResourceMgr
{
public:
	CTestResourceMgr(Context* pContext, CFileSystem* pFileSystem) : CResourceMgr(pContext)
	{
		m_pFileSystem = pFileSystem;
	}
	~CTestResourceMgr() override { ClearAllResources(); }

	void RefreshResourceState(CResource* pResource) override { m_Refreshed.push_back(pResource->GetName()); }
	void RemoveThingsAssociatedWithResource(CResource* pResource) override
	{
		m_Associated.push_back(pResource->GetName());
	}
	bool LoadMap(const CElementChunk* pMap, CResource* pResource) override
	{
		m_Maps.push_back(std::string(pResource->GetName()) + ":" + pMap->GetName());
		return m_bMapsLoad;
	}

	std::vector<std::string> m_Refreshed;
	std::vector<std::string> m_Associated;
	std::vector<std::string> m_Maps;
	bool m_bMapsLoad = true;
};

// Collects command replies.
class CCaptureLogger : public Logger
{
public:
	void Log(eLogType Type, const char* szText) override { m_Lines.push_back({Type, szText}); }

	std::string Last() const { return m_Lines.empty() ? "" : m_Lines.back().second; }
	eLogType LastType() const { return m_Lines.empty() ? LOGTYPE_NONE : m_Lines.back().first; }

	std::vector<std::pair<eLogType, std::string>> m_Lines;
};

class ScriptHostTest : public ::testing::Test
{
protected:
	ScriptHostTest()
	{
		m_Context.GetFileLog()->SetTimeStampFormat("");
		ClearLog();
		m_FileSystem.Mount(new CMountedPath((m_Dir.Path() + "/").c_str()));
		m_pManager.reset(new CTestResourceMgr(&m_Context, &m_FileSystem));
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

	// Starts a fresh captured log.
	void ClearLog()
	{
		m_pLog = Strong<CUnlimitedStream>::New(new CUnlimitedStream());
		m_pLog->AddRef();
		m_Context.GetFileLog()->StartLogging(m_pLog);
	}

	std::string LogText() const
	{
		return std::string(reinterpret_cast<const char*>(m_pLog->GetData()), m_pLog->GetSize());
	}
	bool Logged(const std::string& Text) const { return LogText().find(Text) != std::string::npos; }
	size_t CountLogged(const std::string& Text) const
	{
		const std::string Log = LogText();
		size_t Count = 0;
		for (size_t i = Log.find(Text); i != std::string::npos; i = Log.find(Text, i + 1))
			Count++;
		return Count;
	}

	// A meta.xml that runs one server script per given text.
	static std::string Meta(const std::vector<std::string>& Scripts, const std::string& Extra = "")
	{
		std::string Text = "<meta>\n";
		for (size_t i = 0; i < Scripts.size(); i++)
			Text += "<script src=\"s" + std::to_string(i) + ".lua\" type=\"server\" language=\"lua\" />\n";
		return Text + Extra + "</meta>\n";
	}

	// A folder resource whose server scripts have the given texts.
	void WriteResource(const std::string& Folder, const std::vector<std::string>& Scripts,
		const std::string& Extra = "")
	{
		m_Dir.WriteFile("resources/" + Folder + "/meta.xml", Meta(Scripts, Extra));
		for (size_t i = 0; i < Scripts.size(); i++)
			m_Dir.WriteFile("resources/" + Folder + "/s" + std::to_string(i) + ".lua", Scripts[i]);
	}

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

	CTempDirectory m_Dir;
	Context m_Context;
	Strong<CUnlimitedStream> m_pLog;
	CFileSystem m_FileSystem;
	std::unique_ptr<CTestResourceMgr> m_pManager;
	CTestResourceMgr* m_pRawManager = nullptr;
	CTestVM* m_pLua = nullptr;
	CCaptureLogger m_Replies;
};
