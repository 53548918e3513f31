// The file server's own rules: which request paths name a file it may serve, and starting and stopping it. What a
// client sees over the network is tested against the real server binary (tests/Server/HttpServerTest.cpp).

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

#include "Engine/KError.h"
#include "Engine/TempDirectory.h"
#include "Network/HttpServer.h"
#include "Support/ChildProcess.h"
#include "Support/Ports.h"

using namespace VexaTest;

TEST(HttpServerPaths, OnlyRegularFilesInsideTheRootAreServed)
{
	CTempDirectory Folder;
	Folder.WriteFile("secret.txt", "outside");
	Folder.WriteFile("outside/x.txt", "outside");
	Folder.WriteFile("root/a.txt", "a");
	Folder.WriteFile("root/sub/b.txt", "b");
	Folder.WriteFile("root/sub/dir/c.txt", "c");
	Folder.WriteFile("root/.hidden", "h");
	ASSERT_EQ(symlink("a.txt", (Folder / "root/inside-link").c_str()), 0);
	ASSERT_EQ(symlink("../secret.txt", (Folder / "root/outside-link").c_str()), 0);
	ASSERT_EQ(symlink("../outside", (Folder / "root/outside-dir").c_str()), 0);
	ASSERT_EQ(symlink((Folder / "secret.txt").c_str(), (Folder / "root/absolute-link").c_str()), 0);
	// A folder whose name starts like the root's must not pass as inside it.
	Folder.WriteFile("root2/d.txt", "d");
	const std::string Root = Folder / "root";

	struct tCase
	{
		std::string m_Path;
		const char* m_szServed; // the file below the folder, or null when refused
	};
	const tCase rgCases[] = {
		{"/a.txt", "root/a.txt"},
		{"/sub/b.txt", "root/sub/b.txt"},
		{"//sub//b.txt", "root/sub/b.txt"},
		{"/sub/dir/c.txt", "root/sub/dir/c.txt"},
		{"/.hidden", "root/.hidden"},
		{"/inside-link", "root/a.txt"},
		{"/", nullptr},
		{"", nullptr},
		{"/sub", nullptr},
		{"/sub/", nullptr},
		{"a.txt", nullptr},
		{"/missing.txt", nullptr},
		{"/../secret.txt", nullptr},
		{"/sub/../a.txt", nullptr},
		{"/./a.txt", nullptr},
		{"/sub/..", nullptr},
		{"/..", nullptr},
		{"/outside-link", nullptr},
		{"/outside-dir/x.txt", nullptr},
		{"/absolute-link", nullptr},
		{"/../root2/d.txt", nullptr},
		{std::string("/a.txt\0.png", 11), nullptr},
		{"/" + std::string(2000, 'a'), nullptr},
	};
	for (const tCase& Case : rgCases)
	{
		SCOPED_TRACE(Case.m_Path);
		std::string File;
		const bool bServed = CHttpServer::MapRequestPath(Root, Case.m_Path.data(), Case.m_Path.size(), File);
		EXPECT_EQ(bServed, Case.m_szServed != nullptr);
		if (bServed && Case.m_szServed)
		{
			char szExpected[PATH_MAX];
			ASSERT_TRUE(realpath((Folder / Case.m_szServed).c_str(), szExpected));
			EXPECT_EQ(File, szExpected);
		}
	}

	std::string File;
	EXPECT_FALSE(CHttpServer::MapRequestPath("", "/a.txt", 6, File));
	EXPECT_FALSE(CHttpServer::MapRequestPath(Folder / "missing-root", "/a.txt", 6, File));
}

TEST(HttpServer, StartsOnceAndAgainAfterAStop)
{
	const uint16_t usPort = FindFreePort();
	CHttpServer Server;
	ASSERT_TRUE(Server.StartServer("127.0.0.1", usPort)) << g_szError;
	EXPECT_TRUE(Server.IsRunning());
	EXPECT_FALSE(Server.StartServer("127.0.0.1", usPort));
	EXPECT_TRUE(Server.IsRunning());

	std::string Output;
	EXPECT_EQ(RunProgram({CURL, "-s", "http://127.0.0.1:" + std::to_string(usPort) + "/sig"}, Output), 0);
	EXPECT_EQ(Output, "DODI");

	Server.StopServer();
	EXPECT_FALSE(Server.IsRunning());
	EXPECT_NE(RunProgram({CURL, "-s", "http://127.0.0.1:" + std::to_string(usPort) + "/sig"}, Output), 0);
	ASSERT_TRUE(Server.StartServer("127.0.0.1", usPort)) << g_szError;
	Server.StopServer();
	Server.StopServer();
}

TEST(HttpServer, AStartThatCannotListenSaysWhy)
{
	const uint16_t usPort = FindFreePort();
	const int iHolder = BindPort(usPort, SOCK_STREAM);
	ASSERT_GE(iHolder, 0);
	ASSERT_EQ(listen(iHolder, 1), 0);

	struct tCase
	{
		const char* m_szAddress;
		uint16_t m_usPort;
		const char* m_szReason;
	};
	const tCase rgCases[] = {
		{"", usPort, "Address already in use"},
		{"127.0.0.1", usPort, "Address already in use"},
		{"192.0.2.1", FindFreePort(), "Cannot assign requested address"},
		{"no-such-host.invalid", FindFreePort(), "Cannot resolve the address no-such-host.invalid"},
	};
	for (const tCase& Case : rgCases)
	{
		SCOPED_TRACE(Case.m_szAddress);
		CHttpServer Server;
		EXPECT_FALSE(Server.StartServer(Case.m_szAddress, Case.m_usPort));
		EXPECT_FALSE(Server.IsRunning());
		EXPECT_NE(std::string(g_szError).find(Case.m_szReason), std::string::npos) << g_szError;
	}
	close(iHolder);
}
