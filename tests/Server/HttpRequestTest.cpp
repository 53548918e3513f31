// Black-box tests of httpGet in the real server against local stand-ins: the server's own "/sig", a Python HTTP
// stand-in (echo of a POST, slow answers, redirects), an HTTPS stand-in with a certificate nobody trusts, a
// listener that never answers and a closed port. Scripts print what their functions receive.

#include <gtest/gtest.h>

#include <string>
#include <sys/utsname.h>
#include <vector>

#include "ResourceTestSupport.h"
#include "Support/ChildProcess.h"

using namespace ServerTest;
using VexaTest::CChildProcess;

namespace
{
// The Lua helper every script here starts with: fetch(tag, url, post, accept) prints "<tag> started <result>",
// then "<tag> data <chunk>" per chunk (the data function returning accept) and "<tag> done <code> <status>".
const char FETCH_LUA[] =
	"function fetch(tag, url, post, accept)\n"
	"  local started = httpGet(url, post, function(data) print(tag .. ' data ' .. data) return accept end,\n"
	"    function(code, status) print(tag .. ' done ' .. code .. ' ' .. status) end)\n"
	"  print(tag .. ' started ' .. tostring(started))\n"
	"  return started\n"
	"end\n";

std::string ExpectedUserAgent()
{
	utsname System;
	EXPECT_EQ(uname(&System), 0);
	return std::string("Kestrin3D/1.2.0  (") + System.sysname + " " + System.machine + ") VexaServer/1.5.10";
}

class HttpRequestTest : public ::testing::Test
{
protected:
	void SetUp() override
	{
		m_iHttpPort = FindFreePort();
		m_Base = "http://127.0.0.1:" + std::to_string(m_iHttpPort);
	}

	// A stand-in of the tool (http-server, silent-server) on a free port; its base URL.
	std::string StartStandIn(CChildProcess& StandIn, const char* szTool, const std::vector<std::string>& Extra = {})
	{
		const std::string Port = std::to_string(FindFreePort());
		std::vector<std::string> Arguments{VexaTest::PYTHON, VexaTest::WebToolsScript(), szTool, Port};
		Arguments.insert(Arguments.end(), Extra.begin(), Extra.end());
		EXPECT_TRUE(StandIn.Start(Arguments));
		EXPECT_TRUE(StandIn.WaitForOutput("ready")) << StandIn.GetOutput();
		return "127.0.0.1:" + Port;
	}

	// Starts the server with one Lua resource per script (each preceded by fetch), in order.
	void Start(const std::vector<std::pair<std::string, std::string>>& Resources)
	{
		std::vector<std::string> Names;
		for (const auto& Resource : Resources)
		{
			WriteResource(m_Server, Resource.first, {{"main.lua", "lua", FETCH_LUA + Resource.second}});
			Names.push_back(Resource.first);
		}
		ASSERT_NO_FATAL_FAILURE(StartResources(Names));
	}

	// Starts the server on the HTTP port of the test with the resources written already.
	void StartResources(const std::vector<std::string>& Names)
	{
		tServerPorts Ports;
		Ports.m_iHttp = m_iHttpPort;
		ASSERT_NO_FATAL_FAILURE(StartAndWait(m_Server, MakeConfig(ResourceList(Names), Ports)));
	}

	void ExpectOutput(const std::string& Text)
	{
		EXPECT_TRUE(m_Server.WaitForOutput(Text)) << "no '" << Text << "' in:\n" << m_Server.GetRawOutput();
	}

	void Quit()
	{
		EXPECT_TRUE(m_Server.WriteInput("quit\n"));
		EXPECT_EQ(m_Server.WaitForExit(), 0) << m_Server.GetRawOutput();
	}

	CServerProcess m_Server;
	int m_iHttpPort = 0;
	std::string m_Base;
};
}

TEST_F(HttpRequestTest, GetAndPostReachTheServerWithTheUserAgent)
{
	CChildProcess StandIn;
	const std::string Echo = "http://" + StartStandIn(StandIn, "http-server") + "/echo";
	ASSERT_NO_FATAL_FAILURE(Start({{"fetcher",
		"fetch('sig', '" + m_Base + "/sig', '')\n"
		"fetch('get', '" + Echo + "', '')\n"
		"fetch('post', '" + Echo + "', 'a=1')\n"}}));
	ExpectOutput("sig data DODI");
	ExpectOutput("sig done 0 200");
	ExpectOutput("get data ok");
	ExpectOutput("get done 0 200");
	ExpectOutput("post data a=1");
	ExpectOutput("post done 0 200");

	const std::string UserAgent = ExpectedUserAgent();
	EXPECT_TRUE(StandIn.WaitForOutput("request GET /echo ua=" + UserAgent + " body=\n")) << StandIn.GetOutput();
	EXPECT_TRUE(StandIn.WaitForOutput("request POST /echo ua=" + UserAgent + " body=a=1\n")) << StandIn.GetOutput();
	Quit();
}

TEST_F(HttpRequestTest, RedirectsAreFollowedUpToALimit)
{
	CChildProcess StandIn;
	const std::string Host = StartStandIn(StandIn, "http-server");
	ASSERT_NO_FATAL_FAILURE(Start({{"fetcher",
		"fetch('moved', 'http://" + Host + "/redirect?to=" + m_Base + "/sig', '')\n"
		"fetch('loop', 'http://" + Host + "/loop', '')\n"}}));
	ExpectOutput("moved data DODI");
	ExpectOutput("moved done 0 200");
	// The first request and 30 redirects, then libcurl's "too many redirects".
	ExpectOutput("loop done 47 302");
	Quit();
	const std::string Requests = StandIn.GetOutput();
	size_t Loops = 0;
	const std::string Loop = "request GET /loop";
	for (size_t At = Requests.find(Loop); At != std::string::npos; At = Requests.find(Loop, At + 1))
		Loops++;
	EXPECT_EQ(Loops, 31u);
}

TEST_F(HttpRequestTest, FailedTransfersReachTheCompletionFunction)
{
	CChildProcess Secure;
	const std::string SecureHost = StartStandIn(Secure, "http-server", {VexaTest::SelfSignedCertificate()});
	const std::string ClosedPort = std::to_string(FindFreePort());
	ASSERT_NO_FATAL_FAILURE(Start({{"fetcher",
		// Connection refused, a scheme other than HTTP, a malformed URL, a certificate nobody trusts, and a data
		// function that takes nothing of its chunk.
		"fetch('closed', 'http://127.0.0.1:" + ClosedPort + "/', '')\n"
		"fetch('file', 'file:///etc/passwd', '')\n"
		"fetch('malformed', 'http://', '')\n"
		"fetch('untrusted', 'https://" + SecureHost + "/', '')\n"
		"fetch('refusing', '" + m_Base + "/sig', '', 0)\n"}}));
	ExpectOutput("closed done 7 0");
	ExpectOutput("file done 1 0");
	ExpectOutput("malformed done 3 0");
	ExpectOutput("untrusted done 60 0");
	ExpectOutput("refusing done 23 200");
	EXPECT_FALSE(Printed(m_Server, "file data")) << m_Server.GetRawOutput();
	Quit();
}

TEST_F(HttpRequestTest, WhatTheDataFunctionReturnsIsKeptWithinTheChunk)
{
	struct tCase
	{
		const char* m_szTag;
		const char* m_szReturned;
		const char* m_szDone;
	};
	// Counts above the chunk (one of them libcurl's pause code) take the chunk; anything that is not a number
	// takes it too; a count below it ends the transfer.
	const tCase rgCases[] = {
		{"huge", "1e12", "done 0 200"},
		{"pause", "0x10000001", "done 0 200"},
		{"text", "'all of it'", "done 0 200"},
		{"none", "nil", "done 0 200"},
		{"exact", "4", "done 0 200"},
		{"short", "3", "done 23 200"},
		{"negative", "-5", "done 23 200"},
	};
	std::string Script;
	for (const tCase& Case : rgCases)
		Script += std::string("fetch('") + Case.m_szTag + "', '" + m_Base + "/sig', '', " + Case.m_szReturned + ")\n";
	ASSERT_NO_FATAL_FAILURE(Start({{"fetcher", Script}}));
	for (const tCase& Case : rgCases)
	{
		SCOPED_TRACE(Case.m_szTag);
		ExpectOutput(std::string(Case.m_szTag) + " data DODI");
		ExpectOutput(std::string(Case.m_szTag) + " " + Case.m_szDone);
	}
	Quit();
}

TEST_F(HttpRequestTest, RequestsMadeInsideCallbacksRun)
{
	ASSERT_NO_FATAL_FAILURE(Start({{"fetcher",
		"httpGet('" + m_Base + "/sig', '', function(data)\n"
		"    fetch('from data', '" + m_Base + "/sig', '')\n"
		"  end, function(code, status)\n"
		"    print('first done ' .. code)\n"
		"    fetch('from completion', '" + m_Base + "/sig', '')\n"
		"  end)\n"}}));
	ExpectOutput("from data started true");
	ExpectOutput("first done 0");
	ExpectOutput("from completion started true");
	ExpectOutput("from data done 0 200");
	ExpectOutput("from completion done 0 200");
	Quit();
}

TEST_F(HttpRequestTest, AStoppedResourceIsNeverCalledBack)
{
	CChildProcess StandIn;
	const std::string Slow = "http://" + StartStandIn(StandIn, "http-server") + "/slow?ms=1500";
	ASSERT_NO_FATAL_FAILURE(Start({
		{"early", "fetch('early', '" + Slow + "', '')\n"},
		// Stops itself from inside its own data function: the transfer ends and nothing more is called.
		{"selfstop", "fetch('selfstop', '" + m_Base + "/sig', '')\n"
					 "httpGet('" + m_Base + "/sig', '',\n"
					 "  function(data) print('stopping myself') thisResource:stop() end,\n"
					 "  function() print('selfstop completion called') end)\n"},
		{"late", "addCommandHandler('latefetch', function() fetch('late', '" + Slow + "', '') end)\n"},
	}));
	ExpectOutput("early started true");
	ExpectOutput("stopping myself");
	ExpectOutput("STOP: Resource selfstop stopped.");
	ASSERT_TRUE(m_Server.WriteInput("stop early\n"));
	ExpectOutput("STOP: Resource early stopped.");
	ASSERT_TRUE(m_Server.WriteInput("latefetch\n"));
	// The later request of the same kind ends after the first one would have.
	ExpectOutput("late done 0 200");
	EXPECT_FALSE(Printed(m_Server, "early data")) << m_Server.GetRawOutput();
	EXPECT_FALSE(Printed(m_Server, "early done")) << m_Server.GetRawOutput();
	EXPECT_FALSE(Printed(m_Server, "selfstop completion called")) << m_Server.GetRawOutput();
	EXPECT_FALSE(Printed(m_Server, "SCRIPT ERROR")) << m_Server.GetRawOutput();
	Quit();
}

TEST_F(HttpRequestTest, ASilentServerNeitherHoldsTheMainLoopNorTheShutdown)
{
	CChildProcess Silent;
	const std::string Host = StartStandIn(Silent, "silent-server");
	ASSERT_NO_FATAL_FAILURE(Start({{"waiter",
		"fetch('silent', 'http://" + Host + "/', '')\n"
		"addCommandHandler('ping', function() print('pong') end)\n"}}));
	EXPECT_TRUE(Silent.WaitForOutput("accepted")) << Silent.GetOutput();
	ASSERT_TRUE(m_Server.WriteInput("ping\n"));
	ExpectOutput("pong");
	Quit();
	EXPECT_FALSE(Printed(m_Server, "silent done")) << m_Server.GetRawOutput();
}

TEST_F(HttpRequestTest, TheRequestTableHolds1024Requests)
{
	const std::string ClosedUrl = "http://127.0.0.1:" + std::to_string(FindFreePort()) + "/";
	ASSERT_NO_FATAL_FAILURE(Start({{"filler",
		"local started, refused, done = 0, 0, 0\n"
		"for i = 1, 1025 do\n"
		"  if httpGet('" + ClosedUrl + "', '', function() end, function(code)\n"
		"      done = done + 1\n"
		"      if done == 1024 then\n"
		"        local again = httpGet('" + ClosedUrl + "', '', function() end, function() end)\n"
		"        print('all done, again ' .. tostring(again))\n"
		"      end\n"
		"    end) then started = started + 1 else refused = refused + 1 end\n"
		"end\n"
		"print('started ' .. started .. ' refused ' .. refused)\n"}}));
	ExpectOutput("started 1024 refused 1");
	ExpectOutput("all done, again true");
	Quit();
}

TEST_F(HttpRequestTest, EveryLanguageGetsTheBodyAndTheResult)
{
	const std::string Sig = m_Base + "/sig";
	WriteResource(m_Server, "jsfetch", {{"main.js", "javascript",
		"httpGet('" + Sig + "', 'x=1', function(data) {\n"
		"  console.log('js data ' + String.fromCharCode.apply(null, new Uint8Array(data)));\n"
		"}, function(code, status) { console.log('js done ' + code + ' ' + status); });\n"}});
	WriteResource(m_Server, "sqfetch", {{"main.nut", "squirrel",
		"httpGet(\"" + Sig + "\", \"\", function(data) {\n"
		"  local text = \"\"; for (local i = 0; i < data.len(); i++) text += data[i].tochar();\n"
		"  print(\"squirrel data \" + text);\n"
		"}, function(code, status) { print(\"squirrel done \" + code + \" \" + status); });\n"}});
	ASSERT_NO_FATAL_FAILURE(StartResources({"jsfetch", "sqfetch"}));
	// The file server refuses the POST of the JavaScript request, with a page that says so.
	ExpectOutput("js data <html");
	ExpectOutput("js done 0 405");
	ExpectOutput("squirrel data DODI");
	ExpectOutput("squirrel done 0 200");
	Quit();
}

TEST_F(HttpRequestTest, ArgumentsAreChecked)
{
	ASSERT_NO_FATAL_FAILURE(Start({{"checker",
		"print(pcall(httpGet, '" + m_Base + "/sig'))\n"
		"print(pcall(httpGet, '" + m_Base + "/sig', '', 'not a function', function() end))\n"
		"local zero = httpGet('" + m_Base + "/sig\\0.evil', '', function() end, function() end)\n"
		"print('zero byte ' .. tostring(zero))\n"}}));
	ExpectOutput("false\tExpected string for argument 2");
	ExpectOutput("false\tExpected Function for argument 3");
	ExpectOutput("zero byte false");
	Quit();
}
