#pragma once
// One HTTP request to a server under test with curl as the client, for the tests of its file server and of the
// remote console's port: the path is sent as it stands, and the status, body and headers are kept apart.

#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "ServerHarness.h"
#include "Support/ChildProcess.h"

namespace ServerTest
{
// libcurl names a type CURL, so the support library's curl path is spelt in full here.
inline const char* const CURL_PROGRAM = VexaTest::CURL;

struct tResponse
{
	int m_iCurlStatus = -1;
	std::string m_Status;
	std::string m_Body;
	std::string m_Headers;
};

// Arguments go before the URL; the body and headers are written into the server's folder on the way.
inline tResponse Fetch(const CServerProcess& Server, int iPort, const std::string& Path,
	const std::vector<std::string>& Arguments = {})
{
	static int s_iCount = 0;
	const std::string Stem = "fetched-" + std::to_string(s_iCount++);
	std::vector<std::string> Command{CURL_PROGRAM, "-s", "--path-as-is", "-o", Server.GetFolder() + "/" + Stem + ".body",
		"-D", Server.GetFolder() + "/" + Stem + ".headers", "-w", "%{http_code}"};
	Command.insert(Command.end(), Arguments.begin(), Arguments.end());
	Command.push_back("http://127.0.0.1:" + std::to_string(iPort) + Path);
	tResponse Response;
	Response.m_iCurlStatus = VexaTest::RunProgram(Command, Response.m_Status);
	Server.ReadFile(Stem + ".body", Response.m_Body);
	Server.ReadFile(Stem + ".headers", Response.m_Headers);
	return Response;
}

// One row of a table of requests: the path, the status expected and the body expected (null: any body).
struct tExpectedResponse
{
	const char* m_szPath;
	const char* m_szStatus;
	const char* m_szBody;
};

// Fetches the row's path; the status and, when the row gives one, the body are checked.
inline tResponse FetchExpecting(const CServerProcess& Server, int iPort, const tExpectedResponse& Expected)
{
	const tResponse Response = Fetch(Server, iPort, Expected.m_szPath);
	EXPECT_EQ(Response.m_iCurlStatus, 0);
	EXPECT_EQ(Response.m_Status, Expected.m_szStatus);
	if (Expected.m_szBody)
	{
		EXPECT_EQ(Response.m_Body, Expected.m_szBody);
	}
	return Response;
}

// Starts the server with Config while another program listens on iPort: the start must fail with status 1,
// naming the port's trouble and then szFailure.
inline void ExpectStartFailsWhilePortIsHeld(const std::string& Config, int iPort, const char* szFailure)
{
	CServerProcess Server;
	Server.WriteFile("server.xml", Config);
	const int iHolder = VexaTest::BindPort(static_cast<uint16_t>(iPort), SOCK_STREAM);
	ASSERT_GE(iHolder, 0);
	ASSERT_EQ(listen(iHolder, 1), 0);
	ASSERT_TRUE(Server.Start({}, eStdin::Closed));
	EXPECT_EQ(Server.WaitForExit(), 1);
	close(iHolder);
	const std::vector<std::string> Lines = Server.GetOutputLines();
	EXPECT_TRUE(HasLineContaining(Lines, szFailure)) << Server.GetRawOutput();
	EXPECT_TRUE(HasLineContaining(Lines, "port " + std::to_string(iPort) + ": Address already in use"))
		<< Server.GetRawOutput();
}
}
