// The request manager's own rules: the multi handle's life, requests made and cancelled from inside callbacks,
// the full table, and dropping requests without calling them. The targets are the file server's "/sig" and a
// listener that never answers, both in this process. What scripts see is tested against the real server
// (tests/Server/HttpRequestTest.cpp).

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "Engine/KError.h"
#include "Network/HTTPMgr.h"
#include "Network/HttpServer.h"
#include "Support/Ports.h"

using namespace VexaTest;

namespace
{
// Stand-ins for two resources; only their addresses matter.
CResource* const RESOURCE_A = reinterpret_cast<CResource*>(0x1000);
CResource* const RESOURCE_B = reinterpret_cast<CResource*>(0x2000);

class CTestRequest : public CHTTPRequest
{
public:
	CTestRequest(CHTTPMgr* pManager, std::vector<std::string>& Log, const std::string& Tag,
		CResource* pResource = nullptr) :
		CHTTPRequest(pManager),
		m_Log(Log),
		m_Tag(Tag),
		m_pResource(pResource)
	{
	}
	~CTestRequest() override { m_Log.push_back(m_Tag + " deleted"); }

	size_t Write(const void* pData, size_t Size) override
	{
		m_Log.push_back(m_Tag + " data " + std::string(static_cast<const char*>(pData), Size));
		if (m_OnWrite)
			m_OnWrite();
		return Size;
	}
	void OnCompleted(CURLcode eCode, long lStatus) override
	{
		m_Log.push_back(m_Tag + " done " + std::to_string(eCode) + " " + std::to_string(lStatus));
		if (m_OnCompleted)
			m_OnCompleted();
	}
	CResource* GetResource() const override { return m_pResource; }

	std::function<void()> m_OnWrite;
	std::function<void()> m_OnCompleted;

private:
	std::vector<std::string>& m_Log;
	std::string m_Tag;
	CResource* m_pResource;
};

class HTTPMgrTest : public ::testing::Test
{
protected:
	void SetUp() override
	{
		const uint16_t usPort = FindFreePort();
		ASSERT_TRUE(m_Server.StartServer("127.0.0.1", usPort)) << g_szError;
		m_Sig = "http://127.0.0.1:" + std::to_string(usPort) + "/sig";
		// Connections to it are taken by the system and then wait for an accept that never comes.
		const uint16_t usSilentPort = FindFreePort();
		m_iSilent = BindPort(usSilentPort, SOCK_STREAM, INADDR_LOOPBACK);
		ASSERT_GE(m_iSilent, 0);
		ASSERT_EQ(listen(m_iSilent, 16), 0);
		m_Silent = "http://127.0.0.1:" + std::to_string(usSilentPort) + "/";
	}
	void TearDown() override
	{
		if (m_iSilent >= 0)
			close(m_iSilent);
	}

	CTestRequest* NewRequest(const std::string& Tag, CResource* pResource = nullptr)
	{
		return new CTestRequest(&m_Manager, m_Log, Tag, pResource);
	}

	bool Logged(const std::string& Entry) const
	{
		for (const std::string& Logged : m_Log)
		{
			if (Logged == Entry)
				return true;
		}
		return false;
	}

	// Processes until the entry is logged; false after the time-out.
	bool ProcessUntil(const std::string& Entry, int iTimeoutMs = 10000)
	{
		return ProcessUntil(m_Manager, Entry, iTimeoutMs);
	}
	bool ProcessUntil(CHTTPMgr& Manager, const std::string& Entry, int iTimeoutMs = 10000)
	{
		const auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(iTimeoutMs);
		while (!Logged(Entry))
		{
			if (std::chrono::steady_clock::now() >= Deadline)
				return false;
			Manager.Process();
			usleep(2000);
		}
		return true;
	}

	void ProcessFor(int iMilliseconds)
	{
		ProcessUntil("never", iMilliseconds);
	}

	CHttpServer m_Server;
	std::string m_Sig;
	int m_iSilent = -1;
	std::string m_Silent;
	std::vector<std::string> m_Log;
	CHTTPMgr m_Manager{nullptr};
};
}

TEST_F(HTTPMgrTest, TheMultiHandleLivesWhileRequestsDo)
{
	EXPECT_FALSE(m_Manager.HasMultiHandle());
	ASSERT_TRUE(m_Manager.AddRequest(NewRequest("first"), m_Sig.c_str(), nullptr, 0));
	EXPECT_TRUE(m_Manager.HasMultiHandle());
	EXPECT_EQ(m_Manager.GetCount(), 1u);
	ASSERT_TRUE(ProcessUntil("first deleted"));
	EXPECT_EQ(m_Log, (std::vector<std::string>{"first data DODI", "first done 0 200", "first deleted"}));
	EXPECT_EQ(m_Manager.GetCount(), 0u);

	// The pass after the last request ends lets the multi handle go; the next request makes a new one.
	EXPECT_TRUE(m_Manager.HasMultiHandle());
	m_Manager.Process();
	EXPECT_FALSE(m_Manager.HasMultiHandle());
	ASSERT_TRUE(m_Manager.AddRequest(NewRequest("second"), m_Sig.c_str(), nullptr, 0));
	EXPECT_TRUE(m_Manager.HasMultiHandle());
	EXPECT_TRUE(ProcessUntil("second done 0 200"));
}

TEST_F(HTTPMgrTest, RequestsMadeDuringAPassJoinWhenItIsOver)
{
	CTestRequest* pFirst = NewRequest("first");
	pFirst->m_OnWrite = [&] {
		EXPECT_TRUE(m_Manager.AddRequest(NewRequest("from data"), m_Sig.c_str(), nullptr, 0));
	};
	pFirst->m_OnCompleted = [&] {
		EXPECT_TRUE(m_Manager.AddRequest(NewRequest("from completion"), m_Sig.c_str(), "a=1", 3));
	};
	ASSERT_TRUE(m_Manager.AddRequest(pFirst, m_Sig.c_str(), nullptr, 0));
	EXPECT_TRUE(ProcessUntil("from data done 0 200"));
	// A POST to the file server is refused.
	EXPECT_TRUE(ProcessUntil("from completion done 0 405"));
	EXPECT_TRUE(ProcessUntil("from completion deleted"));
	EXPECT_EQ(m_Manager.GetCount(), 0u);
}

TEST_F(HTTPMgrTest, CancellingInsideACallbackEndsTheTransfersAndCallsNothingMore)
{
	CTestRequest* pCancelling = NewRequest("cancelling", RESOURCE_A);
	pCancelling->m_OnWrite = [&] { EXPECT_EQ(m_Manager.CancelRequests(RESOURCE_A), 2u); };
	ASSERT_TRUE(m_Manager.AddRequest(NewRequest("waiting", RESOURCE_A), m_Silent.c_str(), nullptr, 0));
	ASSERT_TRUE(m_Manager.AddRequest(pCancelling, m_Sig.c_str(), nullptr, 0));
	ASSERT_TRUE(m_Manager.AddRequest(NewRequest("other", RESOURCE_B), m_Sig.c_str(), nullptr, 0));

	ASSERT_TRUE(ProcessUntil("other done 0 200"));
	ASSERT_TRUE(ProcessUntil("cancelling deleted"));
	ASSERT_TRUE(ProcessUntil("waiting deleted"));
	// The data that made it cancel, then nothing more of either.
	for (const std::string& Entry : m_Log)
	{
		if (Entry.rfind("cancelling", 0) == 0)
		{
			EXPECT_TRUE(Entry == "cancelling data DODI" || Entry == "cancelling deleted") << Entry;
		}
		if (Entry.rfind("waiting", 0) == 0)
		{
			EXPECT_EQ(Entry, "waiting deleted");
		}
	}
	EXPECT_EQ(m_Manager.GetCount(), 0u);
}

TEST_F(HTTPMgrTest, CancellingOutsideAPassFreesAtOnce)
{
	ASSERT_TRUE(m_Manager.AddRequest(NewRequest("a", RESOURCE_A), m_Silent.c_str(), nullptr, 0));
	ASSERT_TRUE(m_Manager.AddRequest(NewRequest("b", RESOURCE_B), m_Silent.c_str(), nullptr, 0));
	ProcessFor(100);
	EXPECT_EQ(m_Manager.CancelRequests(RESOURCE_A), 1u);
	EXPECT_EQ(m_Log, (std::vector<std::string>{"a deleted"}));
	EXPECT_EQ(m_Manager.CancelRequests(nullptr), 0u);
	EXPECT_EQ(m_Manager.GetCount(), 1u);
}

TEST_F(HTTPMgrTest, ScriptRequestsGoWithTheResourceWhoseCodeTheyCall)
{
	class CEnvironment : public CScriptEnvironment
	{
	public:
		void Destroy() override { End(); }
		bool DoFile(Stream*, const char*) override { return true; }
	};
	class CCode : public CFunction
	{
	public:
		explicit CCode(uintptr_t Environment) : CFunction(nullptr, Environment) {}
		bool Call(const CArgumentArray&, CReturnValue*) override { return true; }
	};
	CEnvironment EnvironmentOfA;
	EnvironmentOfA.SetResource(RESOURCE_A);
	Strong<CFunction> pCodeOfA = Strong<CFunction>::New(new CCode(EnvironmentOfA.GetHandle()));
	Strong<CFunction> pStoppedCode = Strong<CFunction>::New(new CCode(CScriptEnvironment::GONE_HANDLE));
	Strong<CFunction> pEngineFunction = Strong<CFunction>::New(new CCode(0));

	// Every request is B's: only what it calls ties it to A, or to an instance that has stopped.
	ASSERT_TRUE(m_Manager.AddRequest(new CHTTPRequestScript(&m_Manager, RESOURCE_B, pEngineFunction, pCodeOfA),
		m_Silent.c_str(), nullptr, 0));
	ASSERT_TRUE(m_Manager.AddRequest(new CHTTPRequestScript(&m_Manager, RESOURCE_B, pStoppedCode, nullptr),
		m_Silent.c_str(), nullptr, 0));
	ASSERT_TRUE(m_Manager.AddRequest(new CHTTPRequestScript(&m_Manager, RESOURCE_B, pEngineFunction, nullptr),
		m_Silent.c_str(), nullptr, 0));
	ProcessFor(100);
	EXPECT_EQ(m_Manager.CancelRequests(RESOURCE_A), 2u);
	EXPECT_EQ(m_Manager.GetCount(), 1u);
	EXPECT_EQ(m_Manager.CancelRequests(RESOURCE_B), 1u);
}

TEST_F(HTTPMgrTest, AFullTableRefusesAndDeletesTheRequest)
{
	CHTTPMgr Small(nullptr, 2);
	EXPECT_TRUE(Small.AddRequest(new CTestRequest(&Small, m_Log, "one"), m_Silent.c_str(), nullptr, 0));
	EXPECT_TRUE(Small.AddRequest(new CTestRequest(&Small, m_Log, "two"), m_Silent.c_str(), nullptr, 0));
	EXPECT_FALSE(Small.AddRequest(new CTestRequest(&Small, m_Log, "three"), m_Silent.c_str(), nullptr, 0));
	EXPECT_EQ(m_Log, (std::vector<std::string>{"three deleted"}));
	EXPECT_EQ(Small.GetCount(), 2u);
	EXPECT_FALSE(Small.AddRequest(nullptr, m_Silent.c_str(), nullptr, 0));
}

TEST_F(HTTPMgrTest, DroppedRequestsAreNeverCalled)
{
	{
		CHTTPMgr Other(nullptr);
		ASSERT_TRUE(Other.AddRequest(new CTestRequest(&Other, m_Log, "kept"), m_Silent.c_str(), nullptr, 0));
		Other.Process();
	}
	ASSERT_TRUE(m_Manager.AddRequest(NewRequest("cleared"), m_Silent.c_str(), nullptr, 0));
	ProcessFor(100);
	m_Manager.Clear();
	EXPECT_EQ(m_Log, (std::vector<std::string>{"kept deleted", "cleared deleted"}));
	EXPECT_EQ(m_Manager.GetCount(), 0u);
}

TEST_F(HTTPMgrTest, ATransferThatReceivesNothingEndsWithTheTimeOutAndFreesItsSlot)
{
	// One slot, and a second of silence allowed instead of a minute.
	CHTTPMgr Short(nullptr, 1, 1);
	ASSERT_TRUE(Short.AddRequest(new CTestRequest(&Short, m_Log, "silent"), m_Silent.c_str(), nullptr, 0));
	EXPECT_FALSE(Short.AddRequest(new CTestRequest(&Short, m_Log, "refused"), m_Sig.c_str(), nullptr, 0));
	ASSERT_TRUE(ProcessUntil(Short, "silent deleted"));
	EXPECT_EQ(m_Log, (std::vector<std::string>{"refused deleted", "silent done 28 0", "silent deleted"}));

	// The slot is free again, and a transfer that is answered is not cut short.
	ASSERT_TRUE(Short.AddRequest(new CTestRequest(&Short, m_Log, "after"), m_Sig.c_str(), nullptr, 0));
	EXPECT_TRUE(ProcessUntil(Short, "after done 0 200"));
}
