// Black-box tests of the file server in the real server, with curl as the client: published resource files
// downloaded byte for byte (one after another and side by side), "/sig", paths that try to leave the served
// folder or list it, the methods answered, the server without it, and a start that cannot listen.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
#include <vector>

#include "Engine/KestrinHash.h"
#include "HttpFetch.h"
#include "ServerHarness.h"
#include "Support/ChildProcess.h"

using namespace ServerTest;

namespace
{
// A configuration with free ports, telling the HTTP port it chose.
std::string HttpConfig(int& iHttpPort, const std::string& Children = "")
{
	tServerPorts Ports;
	const std::string Config = MakeConfig(Children, Ports);
	iHttpPort = Ports.m_iHttp;
	return Config;
}

// The name a client file is published under: the SHA-256 of its lower-cased name.
std::string PublishedName(const char* szFile)
{
	CSHA256 Digest;
	CSHA256::Value Value;
	char szName[CSHA256::TEXT_SIZE] = "";
	if (!Digest.Init())
		return szName;
	Digest.AddString(szFile, true);
	if (Digest.Final(Value))
		CSHA256::ToString(Value, szName, sizeof(szName));
	return szName;
}

std::string RandomBytes(size_t Size, unsigned uiSeed)
{
	std::mt19937 Generator(uiSeed);
	std::string Bytes(Size, '\0');
	for (char& c : Bytes)
		c = static_cast<char>(Generator());
	return Bytes;
}

class HttpServerTest : public ::testing::Test
{
protected:
	void Start(const std::string& Children = "")
	{
		ASSERT_NO_FATAL_FAILURE(StartAndWait(m_Server, HttpConfig(m_iHttpPort, Children)));
	}

	// A resource with the given client files (name below the resource folder, content).
	void WriteAssets(const std::string& Resource, const std::vector<std::pair<std::string, std::string>>& Files)
	{
		std::string Meta = "<meta>\n";
		for (const auto& File : Files)
		{
			Meta += "\t<file src=\"" + File.first + "\" type=\"client\" />\n";
			m_Server.WriteFile("resources/" + Resource + "/" + File.first, File.second);
		}
		m_Server.WriteFile("resources/" + Resource + "/meta.xml", Meta + "</meta>\n");
	}

	CServerProcess m_Server;
	int m_iHttpPort = 0;
};
}

TEST_F(HttpServerTest, PublishedFilesDownloadByteForByte)
{
	const std::vector<std::pair<std::string, std::string>> Files{
		{"readme.txt", "A few words for the client.\n"},
		{"Data/Big.bin", RandomBytes(3 * 1024 * 1024 + 17, 1)},
		{"empty.dat", ""},
		{"maps/level.bin", RandomBytes(70000, 2)},
	};
	WriteAssets("assets", Files);
	ASSERT_NO_FATAL_FAILURE(Start(ResourceList({"assets"})));

	for (const auto& File : Files)
	{
		SCOPED_TRACE(File.first);
		const std::string Path = "/resources/assets/" + PublishedName(File.first.c_str());
		const tResponse Response = Fetch(m_Server, m_iHttpPort, Path);
		EXPECT_EQ(Response.m_Status, "200");
		EXPECT_TRUE(Response.m_Body == File.second) << "the download differs from the resource's file";
	}

	// Side by side: every client gets the whole file.
	const std::string BigUrl =
		"http://127.0.0.1:" + std::to_string(m_iHttpPort) + "/resources/assets/" + PublishedName("data/big.bin");
	std::vector<std::string> Command{CURL_PROGRAM, "-s", "--parallel", "--parallel-max", "8"};
	for (int i = 0; i < 8; i++)
	{
		Command.insert(Command.end(), {"-o", m_Server.GetFolder() + "/parallel-" + std::to_string(i), BigUrl});
	}
	std::string Output;
	ASSERT_EQ(VexaTest::RunProgram(Command, Output), 0) << Output;
	for (int i = 0; i < 8; i++)
	{
		std::string Body;
		ASSERT_TRUE(m_Server.ReadFile("parallel-" + std::to_string(i), Body));
		EXPECT_TRUE(Body == Files[1].second) << "parallel download " << i << " differs";
	}

	// HEAD tells the size and sends no body: a GET on the same connection right after it gets its own answer.
	const std::string Url =
		"http://127.0.0.1:" + std::to_string(m_iHttpPort) + "/resources/assets/" + PublishedName("readme.txt");
	ASSERT_EQ(VexaTest::RunProgram({CURL_PROGRAM, "-s", "-I", "-w", "%{http_code} %{num_connects}\n", Url, "--next", "-s",
				  "-w", " %{http_code} %{num_connects}\n", Url},
				  Output),
		0);
	EXPECT_NE(Output.find("content-length: " + std::to_string(Files[0].second.size())), std::string::npos) << Output;
	const std::string Tail = "\r\n200 1\n" + Files[0].second + " 200 0\n";
	EXPECT_TRUE(Output.size() > Tail.size() && Output.compare(Output.size() - Tail.size(), Tail.size(), Tail) == 0)
		<< Output;
}

TEST_F(HttpServerTest, SigAnswersWhateverTheCase)
{
	ASSERT_NO_FATAL_FAILURE(Start());
	const tExpectedResponse rgCases[] = {
		{"/sig", "200", "DODI"},
		{"/SIG", "200", "DODI"},
		{"/Sig", "200", "DODI"},
		{"/sIg?x=1", "200", "DODI"},
		{"/sig/", "404", nullptr},
		{"/sigs", "404", nullptr},
	};
	for (const tExpectedResponse& Case : rgCases)
	{
		SCOPED_TRACE(Case.m_szPath);
		const tResponse Response = FetchExpecting(m_Server, m_iHttpPort, Case);
		if (!Case.m_szBody)
			continue;
		EXPECT_NE(Response.m_Headers.find("content-type: text/html"), std::string::npos) << Response.m_Headers;
		EXPECT_NE(Response.m_Headers.find("connection: close"), std::string::npos) << Response.m_Headers;
	}
	const tResponse Head = Fetch(m_Server, m_iHttpPort, "/sig", {"-I"});
	EXPECT_EQ(Head.m_Status, "200");
	EXPECT_NE(Head.m_Headers.find("content-length: 4"), std::string::npos) << Head.m_Headers;
}

TEST_F(HttpServerTest, NothingOutsideTheFolderAndNoListing)
{
	const char SECRET[] = "the server's own secret";
	m_Server.WriteFile("secret.txt", SECRET);
	WriteAssets("assets", {{"readme.txt", "published"}});
	ASSERT_NO_FATAL_FAILURE(Start(ResourceList({"assets"})));
	const std::string Published = "/resources/assets/" + PublishedName("readme.txt");
	const std::string Folder = m_Server.GetFolder();
	std::filesystem::create_symlink(Folder + "/secret.txt", Folder + "/htdocs/resources/assets/link");
	std::filesystem::create_symlink("../../../secret.txt", Folder + "/htdocs/resources/assets/relative-link");
	std::filesystem::create_symlink(Folder, Folder + "/htdocs/resources/whole");

	const char* const rgszPaths[] = {
		"/",
		"/resources",
		"/resources/",
		"/resources/assets",
		"/resources/assets/",
		"/../secret.txt",
		"/../server.xml",
		"/%2e%2e/secret.txt",
		"/%2E%2E/%2e%2E/secret.txt",
		"/resources/%2e%2e/%2e%2e/secret.txt",
		"/resources/assets/..%2f..%2f..%2fsecret.txt",
		"/resources/assets/link",
		"/resources/assets/relative-link",
		"/resources/whole/secret.txt",
		"//secret.txt",
		"/etc/passwd",
		"/secret.txt",
		"/resources/assets/readme.txt",
	};
	for (const char* szPath : rgszPaths)
	{
		SCOPED_TRACE(szPath);
		const tResponse Response = Fetch(m_Server, m_iHttpPort, szPath);
		EXPECT_EQ(Response.m_Status, "404");
		EXPECT_EQ(Response.m_Body.find(SECRET), std::string::npos);
		EXPECT_EQ(Response.m_Body.find(PublishedName("readme.txt")), std::string::npos) << "a listing";
	}

	// The path with a zero byte after a published name, and a request line naming an absolute URL.
	const tResponse WithZero = Fetch(m_Server, m_iHttpPort, Published + "%00.txt");
	EXPECT_NE(WithZero.m_Status, "200");
	EXPECT_EQ(WithZero.m_Body.find("published"), std::string::npos);
	const tResponse Absolute =
		Fetch(m_Server, m_iHttpPort, "/", {"--request-target", "http://127.0.0.1/../secret.txt"});
	EXPECT_EQ(Absolute.m_Body.find(SECRET), std::string::npos);
	EXPECT_EQ(Fetch(m_Server, m_iHttpPort, Published).m_Body, "published");
}

TEST_F(HttpServerTest, OnlyGetAndHeadAreAnswered)
{
	WriteAssets("assets", {{"readme.txt", "published"}});
	ASSERT_NO_FATAL_FAILURE(Start(ResourceList({"assets"})));
	const std::string Published = "/resources/assets/" + PublishedName("readme.txt");
	const std::vector<std::vector<std::string>> rgMethods{
		{"-X", "POST", "-d", "a=1"},
		{"-X", "PUT", "-d", "replacement"},
		{"-X", "DELETE"},
		{"-X", "PATCH", "-d", "x"},
	};
	for (const std::vector<std::string>& Method : rgMethods)
	{
		SCOPED_TRACE(Method[1]);
		EXPECT_EQ(Fetch(m_Server, m_iHttpPort, Published, Method).m_Status, "405");
	}
	std::string Content;
	ASSERT_TRUE(m_Server.ReadFile("htdocs" + Published, Content));
	EXPECT_EQ(Content, "published");

	// The refused request's body is read and dropped: the same connection then serves a GET.
	std::string Output;
	const std::string Url = "http://127.0.0.1:" + std::to_string(m_iHttpPort) + Published;
	EXPECT_EQ(VexaTest::RunProgram({CURL_PROGRAM, "-s", "-w", " %{http_code} %{num_connects}\n", "-X", "POST", "-d",
				  std::string(100000, 'p'), Url, "--next", "-s", "-w", " %{http_code} %{num_connects}\n", Url},
				  Output),
		0);
	EXPECT_NE(Output.find(" 405 1\n"), std::string::npos) << Output;
	EXPECT_NE(Output.find("published 200 0\n"), std::string::npos) << Output;
}

TEST_F(HttpServerTest, ServerWithoutTheFileServerListensOnNothing)
{
	ASSERT_NO_FATAL_FAILURE(Start("\t<httpserver>false</httpserver>\n"));
	const tResponse Response = Fetch(m_Server, m_iHttpPort, "/sig");
	EXPECT_EQ(Response.m_iCurlStatus, 7) << "curl connected";
	EXPECT_TRUE(m_Server.WriteInput("quit\n"));
	EXPECT_EQ(m_Server.WaitForExit(), 0);
}

TEST_F(HttpServerTest, ShutdownDuringADownloadEndsTheServer)
{
	// Larger than what the sockets of both ends can buffer, so the download is still running at the shutdown.
	const size_t Size = 32 * 1024 * 1024;
	WriteAssets("assets", {{"big.bin", std::string(Size, 'b')}});
	ASSERT_NO_FATAL_FAILURE(Start(ResourceList({"assets"})));

	// A client that asks for the file and then reads nothing.
	const int iClient = socket(AF_INET, SOCK_STREAM, 0);
	ASSERT_GE(iClient, 0);
	sockaddr_in Address{};
	Address.sin_family = AF_INET;
	Address.sin_port = htons(static_cast<uint16_t>(m_iHttpPort));
	Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
	ASSERT_EQ(connect(iClient, reinterpret_cast<sockaddr*>(&Address), sizeof(Address)), 0);
	const std::string Request = "GET /resources/assets/" + PublishedName("big.bin") + " HTTP/1.1\r\nHost: x\r\n\r\n";
	ASSERT_EQ(send(iClient, Request.data(), Request.size(), 0), static_cast<ssize_t>(Request.size()));
	usleep(300000);

	EXPECT_TRUE(m_Server.WriteInput("quit\n"));
	EXPECT_EQ(m_Server.WaitForExit(), 0) << m_Server.GetRawOutput();
	// The connection ends with the server, short of the whole file.
	size_t Received = 0;
	char Buffer[65536];
	timeval Timeout{10, 0};
	setsockopt(iClient, SOL_SOCKET, SO_RCVTIMEO, &Timeout, sizeof(Timeout));
	ssize_t iRead;
	while ((iRead = recv(iClient, Buffer, sizeof(Buffer), 0)) > 0)
		Received += static_cast<size_t>(iRead);
	close(iClient);
	EXPECT_GT(Received, 0u);
	EXPECT_LT(Received, Size);
}

TEST_F(HttpServerTest, WhileDescriptorsRunOutConnectionsWaitAndAreServedOnceSomeClose)
{
	// Both limits, so that the server cannot raise its own.
	m_Server.SetLauncher({"/usr/bin/prlimit", "--nofile=256:256"});
	ASSERT_NO_FATAL_FAILURE(Start("\t<logpath>logs</logpath>\n"));
	rlimit Limit{};
	ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &Limit), 0);
	if (Limit.rlim_cur < 1024 && Limit.rlim_max > Limit.rlim_cur)
	{
		Limit.rlim_cur = std::min<rlim_t>(Limit.rlim_max, 1024);
		setrlimit(RLIMIT_NOFILE, &Limit);
	}

	// More connections than the server has descriptors; none of them sends anything.
	sockaddr_in Address{};
	Address.sin_family = AF_INET;
	Address.sin_port = htons(static_cast<uint16_t>(m_iHttpPort));
	Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
	std::vector<int> Held;
	for (int i = 0; i < 400; i++)
	{
		const int iClient = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
		ASSERT_GE(iClient, 0);
		Held.push_back(iClient);
		connect(iClient, reinterpret_cast<sockaddr*>(&Address), sizeof(Address));
	}
	const std::string Line = "HTTP server on every address port " + std::to_string(m_iHttpPort) +
		": out of file descriptors, new connections wait until some close";
	EXPECT_TRUE(m_Server.WaitForOutput(Line)) << m_Server.GetRawOutput();

	for (const int iClient : Held)
		close(iClient);
	const tResponse Response = Fetch(m_Server, m_iHttpPort, "/sig");
	EXPECT_EQ(Response.m_Status, "200");
	EXPECT_EQ(Response.m_Body, "DODI");

	// Told once, however many accepts failed.
	const std::string Log = QuitAndReadLog(m_Server);
	size_t Count = 0;
	for (size_t At = Log.find(Line); At != std::string::npos; At = Log.find(Line, At + 1))
		Count++;
	EXPECT_EQ(Count, 1u) << Log;
}

TEST(HttpServerStart, APortThatCannotBeHadFailsTheStart)
{
	int iHttpPort = 0;
	const std::string Config = HttpConfig(iHttpPort);
	ExpectStartFailsWhilePortIsHeld(Config, iHttpPort, "Failed to start the HTTP server!");
}
