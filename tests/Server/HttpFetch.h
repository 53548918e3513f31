#pragma once
// One HTTP request to a server under test with curl as the client, for the tests of its file server and of the
// remote console's port: the path is sent as it stands, and the status, body and headers are kept apart.

#include <string>
#include <vector>

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
}
