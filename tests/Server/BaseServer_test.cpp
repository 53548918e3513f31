// Black-box tests of the server console: lines typed on standard input.

#include <gtest/gtest.h>

#include "ServerHarness.h"

using namespace ServerTest;

namespace
{
std::string UnknownCommandReply(const std::string& Name)
{
	return "'" + Name + "' is not recognized as an internal or external command, operable program or batch file.";
}

void StartAndWait(CServerProcess& Server)
{
	Server.WriteFile("server.xml", MakeConfig());
	ASSERT_TRUE(Server.Start());
	ASSERT_TRUE(Server.WaitForOutput("Resources loaded")) << Server.GetRawOutput();
}
}

TEST(BaseServer, UnknownCommandIsAnsweredOnTheConsole)
{
	CServerProcess Server;
	StartAndWait(Server);
	Server.WriteInput("NoSuchCommand with parameters\n");
	EXPECT_TRUE(Server.WaitForOutput(UnknownCommandReply("NoSuchCommand")));
	Server.WriteInput("quit\n");
	EXPECT_EQ(Server.WaitForExit(), 0);
}

TEST(BaseServer, TooLongConsoleLineIsDroppedWholeWithAWarning)
{
	CServerProcess Server;
	StartAndWait(Server);
	// 254 characters and the line feed still fit the line buffer; 255 do not.
	std::string Fits(254, 'f');
	Server.WriteInput(std::string(255, 'x') + "\n" + std::string(300, 'y') + "\n" + Fits + "\n");
	ASSERT_TRUE(Server.WaitForOutput(UnknownCommandReply(Fits)));
	Server.WriteInput("quit\n");
	ASSERT_EQ(Server.WaitForExit(), 0);

	std::vector<std::string> Lines = Server.GetOutputLines();
	int iWarnings = 0;
	for (const std::string& Line : Lines)
	{
		if (Line == "A console line was too long and was not run.")
			iWarnings++;
		EXPECT_EQ(Line.find("'xxx"), std::string::npos);
		EXPECT_EQ(Line.find("'yyy"), std::string::npos);
	}
	EXPECT_EQ(iWarnings, 2);
}

TEST(BaseServer, LastInputLineWithoutLineFeedRunsAtEndOfInput)
{
	CServerProcess Server;
	StartAndWait(Server);
	Server.WriteInput("quit");
	Server.CloseInput();
	EXPECT_EQ(Server.WaitForExit(), 0);
}
