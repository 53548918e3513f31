// The remote console as an operator's tool sees it, with a WebSocket client nobody here wrote (Python's
// websockets) against the real server binary: the password checked against its stored hash, "Not authenticated"
// before it, command output only to the connection that sent the command, the extra line for a line the commands
// did not take, malformed messages that run nothing, plain HTTP on the console's port, and a port that cannot be
// had. A console connection has to prove the password in time and within a few tries, and only so many may wait to
// do it, from one address and in all; its password is checked while the game goes on. One test runs in this process to give the registry a command of its own that prints several lines.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "HttpFetch.h"
#include "InProcessServer.h"
#include "ServerHarness.h"
#include "Support/GameClient.h"
#include "Support/TestMessage.h"
#include "Support/Transport.h"
#include "Support/WebTool.h"

#include "Scripting/CommandHandlers.h"

using namespace ServerTest;
using namespace VexaTest;

namespace
{
const char PASSWORD[] = "correct horse";
const std::string NOT_RECOGNIZED = "' is not recognized as an internal or external command, operable program or batch file.";

typedef std::vector<uint8_t> tData;

// A message from the tool: the byte 0x86, the header and the fields.
tData ToolMessage(uint32_t uiId, const CTestMessage& Fields)
{
	CTestMessage Message;
	Message.U8(0x86).U32(MESSAGE_MAGIC).U32(uiId).Bytes(Fields.GetBytes());
	return Message.GetBytes();
}

tData Authenticate(const std::string& Password)
{
	return ToolMessage(2, CTestMessage().String(Password));
}

tData Command(const std::string& Line)
{
	return ToolMessage(1, CTestMessage().String(Line));
}

// A message from the server as text: "auth <byte>", "log <level> <text>", or "other <hex>" for anything that is
// not one of the two in their whole layout.
std::string Describe(const tData& Data)
{
	uint32_t uiId = 0;
	tData Body;
	if (ParseMessage(Data, uiId, Body))
	{
		CTestMessageReader Reader(Body);
		uint8_t ucByte = 0;
		std::string Text;
		if (uiId == 2 && Reader.U8(ucByte) && Reader.IsAtEnd())
			return "auth " + std::to_string(ucByte);
		if (uiId == 1 && Reader.U8(ucByte) && Reader.String(Text) && Reader.IsAtEnd())
			return "log " + std::to_string(ucByte) + " " + Text;
	}
	return "other " + ToHex(Data);
}

// The configuration of a server with the remote console on, telling its ports.
std::string RConConfig(tServerPorts& Ports, const std::string& Children)
{
	return MakeConfig("\t<rcon>true</rcon>\n" + Children, Ports);
}

std::string RConConfig(int& iRConPort, const std::string& Children)
{
	tServerPorts Ports;
	const std::string Config = RConConfig(Ports, Children);
	iRConPort = Ports.m_iRCon;
	return Config;
}

std::string PasswordElement()
{
	return std::string("\t<rconpassword>") + PASSWORD + "</rconpassword>\n";
}

class RConFixture
{
protected:
	// A new server each time, the previous one ended.
	void StartServer(const std::string& Children, bool bMultithreaded = false)
	{
		const std::string Threading = bMultithreaded ? "\t<multithreaded>true</multithreaded>\n" : "";
		m_pServer.reset(new CServerProcess());
		tServerPorts Ports;
		ASSERT_NO_FATAL_FAILURE(StartAndWait(*m_pServer, RConConfig(Ports, Children + Threading)));
		m_iRConPort = Ports.m_iRCon;
		m_iGamePort = Ports.m_iGame;
	}

	std::string Url() const { return "ws://127.0.0.1:" + std::to_string(m_iRConPort) + "/"; }

	void Open(CWebTool& Tool)
	{
		ASSERT_TRUE(Tool.OpenClient(Url())) << Tool.GetOutput();
	}

	// The description of the next message the tool receives.
	static std::string Next(CWebTool& Tool)
	{
		tData Data;
		return Tool.NextMessage(Data) ? Describe(Data) : "nothing: " + Tool.GetUntaken();
	}

	static std::string Exchange(CWebTool& Tool, const tData& Message)
	{
		return Tool.Send(Message) ? Next(Tool) : "not sent";
	}

	void OpenAuthenticated(CWebTool& Tool)
	{
		ASSERT_NO_FATAL_FAILURE(Open(Tool));
		ASSERT_EQ(Exchange(Tool, Authenticate(PASSWORD)), "auth 1");
	}

	std::unique_ptr<CServerProcess> m_pServer;
	int m_iRConPort = 0;
	int m_iGamePort = 0;
};

class RConTest : public RConFixture, public ::testing::Test
{
};

class RConThreadingTest : public RConFixture, public ::testing::TestWithParam<bool>
{
};
}

TEST_F(RConTest, ThePasswordIsCheckedBeforeAnyCommandRuns)
{
	ASSERT_NO_FATAL_FAILURE(StartServer(PasswordElement()));

	const std::string WithZeroByte = std::string(PASSWORD) + std::string(1, '\0') + "tail";
	struct tCase
	{
		const char* m_szCase;
		tData m_Message;
		std::string m_Answer;
		// A connection is closed at its third refusal, so the refusals are spread over connections.
		bool m_bNewConnection;
	};
	const tCase Cases[] = {
		{"a command first", Command("/start nosuch"), "log 5 Not authenticated", true},
		{"a wrong password", Authenticate("correct horsE"), "auth 0", false},
		{"an empty password", Authenticate(""), "auth 0", false},
		{"a command after refusals", Command("/start nosuch"), "log 5 Not authenticated", false},
		{"the password and more after a zero byte", Authenticate(WithZeroByte), "auth 0", true},
		{"a password longer than its bytes", ToolMessage(2, CTestMessage().VarUInt(20).Bytes("abc", 3)), "auth 0",
			false},
		{"no password at all", ToolMessage(2, CTestMessage()), "auth 0", true},
		{"the password", Authenticate(PASSWORD), "auth 1", false},
		{"the password again", Authenticate(PASSWORD), "auth 1", false},
		{"a command once accepted", Command("/start nosuch"), "log 5 Unable to find the resource nosuch!", false},
	};
	std::unique_ptr<CWebTool> pTool;
	for (const tCase& Case : Cases)
	{
		if (Case.m_bNewConnection)
		{
			pTool.reset(new CWebTool());
			ASSERT_NO_FATAL_FAILURE(Open(*pTool));
		}
		EXPECT_EQ(Exchange(*pTool, Case.m_Message), Case.m_Answer) << Case.m_szCase;
	}

	// Another connection starts unauthenticated.
	CWebTool Other;
	ASSERT_NO_FATAL_FAILURE(Open(Other));
	EXPECT_EQ(Exchange(Other, Command("/start nosuch")), "log 5 Not authenticated");
}

TEST_F(RConTest, WithoutAPasswordNobodyGetsIn)
{
	const char* const Configurations[] = {"", "\t<rconpassword></rconpassword>\n"};
	for (const char* szChildren : Configurations)
	{
		SCOPED_TRACE(szChildren);
		ASSERT_NO_FATAL_FAILURE(StartServer(szChildren));
		CWebTool Tool;
		ASSERT_NO_FATAL_FAILURE(Open(Tool));
		EXPECT_EQ(Exchange(Tool, Authenticate("")), "auth 0");
		EXPECT_EQ(Exchange(Tool, Authenticate(PASSWORD)), "auth 0");
		EXPECT_EQ(Exchange(Tool, Command("/start nosuch")), "log 5 Not authenticated");
	}
}

TEST_P(RConThreadingTest, CommandOutputGoesOnlyToTheConnectionThatSentIt)
{
	ASSERT_NO_FATAL_FAILURE(StartServer(PasswordElement(), GetParam()));
	CWebTool First, Second, Stranger;
	ASSERT_NO_FATAL_FAILURE(OpenAuthenticated(First));
	ASSERT_NO_FATAL_FAILURE(OpenAuthenticated(Second));
	ASSERT_NO_FATAL_FAILURE(Open(Stranger));

	struct tCase
	{
		std::string m_Line;
		std::vector<std::string> m_Answers;
	};
	const tCase Cases[] = {
		// The unhandled-command reply, then the line for a command the registry did not run.
		{"/nosuch param", {"log 5 'nosuch" + NOT_RECOGNIZED, "log 4 '/nosuch" + NOT_RECOGNIZED}},
		{"/start nosuch", {"log 5 Unable to find the resource nosuch!"}},
		// Chat through "say": nothing to answer and no extra line.
		{"hello there", {}},
		{"", {"log 4 '" + NOT_RECOGNIZED}},
		// The longest line that runs, and one character more.
		{"/start " + std::string(248, 'x'), {"log 5 Unable to find the resource " + std::string(248, 'x') + "!"}},
		{"/start " + std::string(249, 'x'), {"log 4 The command line was too long and was not run."}},
	};
	for (const tCase& Case : Cases)
	{
		SCOPED_TRACE(Case.m_Line);
		ASSERT_TRUE(First.Send(Command(Case.m_Line)));
		// A marker after each line: whatever the line answered comes before the marker's own answer.
		ASSERT_TRUE(First.Send(Command("/start marker")));
		std::vector<std::string> Answers;
		for (std::string Answer = Next(First); Answer != "log 5 Unable to find the resource marker!";
			 Answer = Next(First))
		{
			Answers.push_back(Answer);
			if (Answers.size() > Case.m_Answers.size())
				break;
		}
		EXPECT_EQ(Answers, Case.m_Answers);
	}

	// Nothing of the first connection's reached the others: each one's next message answers its own command.
	EXPECT_EQ(Exchange(Second, Command("/start second")), "log 5 Unable to find the resource second!");
	EXPECT_EQ(Exchange(Stranger, Command("/start stranger")), "log 5 Not authenticated");

	// Once a remote command is over, a command typed at the console answers on the console again.
	ASSERT_TRUE(m_pServer->WriteInput("start typed\n"));
	EXPECT_TRUE(m_pServer->WaitForOutput("Unable to find the resource typed!")) << m_pServer->GetRawOutput();
	EXPECT_EQ(Exchange(First, Command("/start after")), "log 5 Unable to find the resource after!");
}

INSTANTIATE_TEST_SUITE_P(Transport, RConThreadingTest, ::testing::Bool(), DescribeTransport);

TEST_F(RConTest, MessagesBehindALoginAreAnsweredAfterItInOrder)
{
	ASSERT_NO_FATAL_FAILURE(StartServer(PasswordElement()));
	CWebTool Tool;
	ASSERT_NO_FATAL_FAILURE(Open(Tool));
	// Sent in one go: each login is checked before anything behind it is read.
	const tData Messages[] = {Command("/start a"), Authenticate("wrong"), Command("/start b"), Authenticate(PASSWORD),
		Command("/start c"), Authenticate("wrong again"), Command("/start d")};
	for (const tData& Message : Messages)
		ASSERT_TRUE(Tool.Send(Message));
	const std::string Answers[] = {"log 5 Not authenticated", "auth 0", "log 5 Not authenticated", "auth 1",
		"log 5 Unable to find the resource c!", "auth 0", "log 5 Unable to find the resource d!"};
	for (const std::string& Answer : Answers)
		EXPECT_EQ(Next(Tool), Answer);
}

TEST_F(RConTest, AConnectionIsClosedAfterThreeWrongPasswords)
{
	ASSERT_NO_FATAL_FAILURE(StartServer(PasswordElement()));
	struct tCase
	{
		const char* m_szCase;
		int m_iGuesses;
	};
	// One at a time, or a flood in one go of which only the first three are checked.
	const tCase Cases[] = {{"one at a time", 3}, {"all at once", 100}};
	for (const tCase& Case : Cases)
	{
		SCOPED_TRACE(Case.m_szCase);
		CWebTool Tool;
		ASSERT_NO_FATAL_FAILURE(Open(Tool));
		if (Case.m_iGuesses == 3)
		{
			for (int i = 0; i < 3; i++)
				EXPECT_EQ(Exchange(Tool, Authenticate("wrong")), "auth 0");
		}
		else
			ASSERT_TRUE(Tool.SendMany(Authenticate("wrong"), Case.m_iGuesses));
		// After the answers already taken: for the flood its first three answers, then the close.
		const std::vector<std::string> Lines = Tool.LinesThrough("closed");
		ASSERT_FALSE(Lines.empty()) << Tool.GetOutput();
		EXPECT_EQ(Lines.back(), "closed 1008");
		size_t Answers = 0;
		for (const std::string& Line : Lines)
			Answers += Line.compare(0, 5, "recv ") == 0 ? 1 : 0;
		EXPECT_EQ(Answers, Case.m_iGuesses == 3 ? 0u : 3u) << Tool.GetOutput();
	}
	// The address is slowed down, never shut out: the password still gets in.
	CWebTool Operator;
	ASSERT_NO_FATAL_FAILURE(OpenAuthenticated(Operator));
	EXPECT_EQ(Exchange(Operator, Command("/start nosuch")), "log 5 Unable to find the resource nosuch!");

	const std::vector<std::string> Lines = m_pServer->GetOutputLines();
	size_t Closes = 0;
	for (const std::string& Line : Lines)
		Closes += Line.find("RCon: closed a connection from") != std::string::npos ? 1 : 0;
	// Two connections closed for the same reason from the same address: said once.
	EXPECT_EQ(Closes, 1u) << m_pServer->GetRawOutput();
	EXPECT_TRUE(HasLineContaining(Lines, "127.0.0.1 after 3 failed attempts")) << m_pServer->GetRawOutput();
	EXPECT_TRUE(HasLineContaining(Lines, "RCon: password checks for")) << m_pServer->GetRawOutput();
}

TEST_F(RConTest, ConnectionsWaitingToAuthenticateAreCappedPerAddressAndInTotal)
{
	ASSERT_NO_FATAL_FAILURE(StartServer(PasswordElement()));
	// An authenticated connection does not count.
	CWebTool Operator;
	ASSERT_NO_FATAL_FAILURE(OpenAuthenticated(Operator));

	// Four may wait from one address; the fifth is closed as soon as it opens.
	CWebTool Local;
	ASSERT_TRUE(Local.HoldClients(Url(), 5, {"127.0.0.1"})) << Local.GetOutput();
	ASSERT_TRUE(Local.WaitForLines("closed", 1)) << Local.GetOutput();
	EXPECT_EQ(Local.CountLines("open"), 5u) << Local.GetOutput();

	// Thirty-two may wait in all: of 36 more from nine other addresses (four each) eight are closed.
	std::vector<std::string> Addresses;
	for (int i = 2; i <= 10; i++)
		Addresses.push_back("127.0.0." + std::to_string(i));
	CWebTool Others;
	ASSERT_TRUE(Others.HoldClients(Url(), 36, Addresses)) << Others.GetOutput();
	ASSERT_TRUE(Others.WaitForLines("closed", 8)) << Others.GetOutput();
	CWebTool Late;
	ASSERT_TRUE(Late.HoldClients(Url(), 1, {"127.0.0.11"})) << Late.GetOutput();
	ASSERT_TRUE(Late.WaitForLines("closed", 1)) << Late.GetOutput();
	EXPECT_EQ(Others.CountLines("closed"), 8u) << Others.GetOutput();
	EXPECT_EQ(Local.CountLines("closed"), 1u) << Local.GetOutput();
	// Each of them with the close code that tells why: a policy of the server, not a failure.
	for (CWebTool* pTool : {&Local, &Others, &Late})
	{
		const std::string Output = pTool->GetOutput();
		for (size_t Closed = Output.find("closed "); Closed != std::string::npos; Closed = Output.find("closed ", Closed + 1))
			EXPECT_EQ(Output.substr(Output.find(' ', Closed + 7), 6), " 1008\n");
	}

	// The operator is not held up by any of it.
	EXPECT_EQ(Exchange(Operator, Command("/start nosuch")), "log 5 Unable to find the resource nosuch!");
	const std::vector<std::string> Lines = m_pServer->GetOutputLines();
	EXPECT_TRUE(HasLineContaining(Lines, "RCon: refused a connection from 127.0.0.1: 4 connections from it are waiting")) << m_pServer->GetRawOutput();
	EXPECT_TRUE(HasLineContaining(Lines, "connections are waiting to authenticate")) << m_pServer->GetRawOutput();
}

TEST_F(RConTest, AConnectionThatDoesNotAuthenticateWithinThirtySecondsIsClosed)
{
	ASSERT_NO_FATAL_FAILURE(StartServer(PasswordElement()));
	CWebTool Idle, Operator;
	// The server cannot have taken the connection before it was asked for.
	const auto Asked = std::chrono::steady_clock::now();
	ASSERT_NO_FATAL_FAILURE(Open(Idle));
	ASSERT_NO_FATAL_FAILURE(OpenAuthenticated(Operator));
	// A wrong password does not give it more time.
	EXPECT_EQ(Exchange(Idle, Authenticate("wrong")), "auth 0");
	std::string Code;
	ASSERT_TRUE(Idle.NextLine("closed", Code, 60000)) << Idle.GetOutput();
	EXPECT_EQ(Code, "1008");
	// Not a measurement: the close is not early.
	EXPECT_GE(std::chrono::steady_clock::now() - Asked, std::chrono::milliseconds(29900));
	EXPECT_EQ(Exchange(Operator, Command("/start nosuch")), "log 5 Unable to find the resource nosuch!");
	EXPECT_TRUE(HasLineContaining(m_pServer->GetOutputLines(), "did not authenticate within 30 seconds"))
		<< m_pServer->GetRawOutput();
}

TEST_F(RConTest, AJoinedClientKeepsPlayingWhileAConsoleConnectionFloodsLogins)
{
	ASSERT_NO_FATAL_FAILURE(StartServer(PasswordElement()));
	CGameClient Player;
	tJoinRequest Request;
	ASSERT_TRUE(Player.Join(static_cast<uint16_t>(m_iGamePort), Request));
	Player.TakeAll();

	CWebTool Flood;
	ASSERT_NO_FATAL_FAILURE(Open(Flood));
	ASSERT_TRUE(Flood.SendMany(Authenticate("wrong"), 500));
	// Checked one by one on the main loop, these would hold the game for half a minute.
	const std::string Text = "still here";
	CTestMessage Chat(MSG_CHAT);
	Chat.U32(static_cast<uint32_t>(Text.size())).Bytes(Text.data(), Text.size());
	ASSERT_TRUE(Player.Send(Chat));
	tReceivedMessage Echo;
	EXPECT_TRUE(Player.WaitForMessage(MSG_CHAT, Echo));
	EXPECT_FALSE(Player.IsDisconnected());
	std::string Code;
	EXPECT_TRUE(Flood.NextLine("closed", Code)) << Flood.GetOutput();
}



TEST_F(RConTest, MalformedMessagesRunNothing)
{
	ASSERT_NO_FATAL_FAILURE(StartServer(PasswordElement()));
	CWebTool Tool;
	ASSERT_NO_FATAL_FAILURE(OpenAuthenticated(Tool));

	const tData Quit = Command("/quit");
	const tData Messages[] = {
		// The command without the lead byte, with another lead byte, with another magic.
		tData(Quit.begin() + 1, Quit.end()),
		[&] {
			tData Data = Quit;
			Data[0] = 0x85;
			return Data;
		}(),
		[&] {
			tData Data = Quit;
			Data[1] ^= 0xFF;
			return Data;
		}(),
		// A header cut short; an id nobody uses.
		tData(Quit.begin(), Quit.begin() + 7),
		ToolMessage(3, CTestMessage().String("/quit")),
		// Lines that cannot be read: longer than their bytes, none at all, a zero byte inside.
		ToolMessage(1, CTestMessage().VarUInt(40).Bytes("/quit", 5)),
		ToolMessage(1, CTestMessage()),
		ToolMessage(1, CTestMessage().VarUInt(0xFF).VarUInt(0xFF)),
		Command(std::string("/quit") + std::string(1, '\0') + "x"),
	};
	for (const tData& Message : Messages)
		ASSERT_TRUE(Tool.Send(Message));
	// Nothing ran and nothing was answered: the next message is the answer to this line. A quit would have ended
	// the server at the end of that pass, before it could answer again.
	EXPECT_EQ(Exchange(Tool, Command("/start marker")), "log 5 Unable to find the resource marker!");
	EXPECT_EQ(Exchange(Tool, Command("/start again")), "log 5 Unable to find the resource again!");
	EXPECT_FALSE(HasLineContaining(m_pServer->GetOutputLines(), "Server shutting down"));
}

TEST_F(RConTest, QuitOverTheConsoleEndsTheServerAndItsConnections)
{
	ASSERT_NO_FATAL_FAILURE(StartServer(PasswordElement()));
	CWebTool Tool;
	ASSERT_NO_FATAL_FAILURE(OpenAuthenticated(Tool));
	ASSERT_TRUE(Tool.Send(Command("/quit")));
	EXPECT_EQ(m_pServer->WaitForExit(), 0) << m_pServer->GetRawOutput();
	std::string Code;
	EXPECT_TRUE(Tool.NextLine("closed", Code)) << Tool.GetOutput();
}

TEST_F(RConTest, PlainHttpOnTheConsolePortIsAnsweredFromThePublishedFiles)
{
	// With the file server off the console's port still serves the published folder.
	ASSERT_NO_FATAL_FAILURE(StartServer(PasswordElement() + "\t<httpserver>false</httpserver>\n"));
	m_pServer->WriteFile("htdocs/notes/hello.txt", "published");
	const tExpectedResponse Cases[] = {
		{"/sig", "200", "DODI"},
		{"/notes/hello.txt", "200", "published"},
		{"/notes/missing.txt", "404", nullptr},
		{"/../server.xml", "404", nullptr},
	};
	for (const tExpectedResponse& Case : Cases)
	{
		SCOPED_TRACE(Case.m_szPath);
		FetchExpecting(*m_pServer, m_iRConPort, Case);
	}
	// The WebSocket side is unaffected.
	CWebTool Tool;
	ASSERT_NO_FATAL_FAILURE(OpenAuthenticated(Tool));
}

TEST(RConStart, APortThatCannotBeHadFailsTheStart)
{
	int iRConPort = 0;
	const std::string Config = RConConfig(iRConPort, PasswordElement());
	ExpectStartFailsWhilePortIsHeld(Config, iRConPort, "Failed to start the RCon server!");
}

TEST(RConStart, WithTheConsoleOffNothingListensOnItsPort)
{
	CServerProcess Server;
	int iRConPort = 0;
	std::string Config = RConConfig(iRConPort, PasswordElement());
	Config.replace(Config.find("<rcon>true"), 10, "<rcon>false");
	ASSERT_NO_FATAL_FAILURE(StartAndWait(Server, Config));
	std::string Output;
	EXPECT_NE(RunProgram({CURL_PROGRAM, "-s", "http://127.0.0.1:" + std::to_string(iRConPort) + "/sig"}, Output), 0)
		<< Output;
}

namespace
{
// Prints three lines through the registry's current logger, as a built-in command replies.
class CThreeLinesCommand : public CCommandHandler
{
public:
	void Execute(const char* /*szName*/, const char* /*szParameters*/, CBaseObject* /*pClient*/) override
	{
		Logger* pLogger = GetOwner()->GetLogger();
		pLogger->Log(LOGTYPE_INFO, "one");
		pLogger->Log(LOGTYPE_WARN, "two");
		pLogger->Log(LOGTYPE_DEBUG, "three");
	}
};
}

TEST(RConInProcess, EveryLineACommandPrintsIsOneMessageToItsConnection)
{
	CInProcessServer Server(PasswordElement() + "\t<rcon>true</rcon>\n", false);
	ASSERT_TRUE(Server.Start());
	CCommandHandlers& Commands = Server.GetServer().GetCommands();
	ASSERT_TRUE(Commands.AddCommandHandler(new CThreeLinesCommand(), "three"));
	const auto Pass = [&Server] { Server.Pass(); };
	const std::string Url = "ws://127.0.0.1:" + std::to_string(Server.GetServer().GetRConPort()) + "/";

	CWebTool Issuer, Other;
	for (CWebTool* pTool : {&Issuer, &Other})
	{
		ASSERT_TRUE(pTool->OpenClient(Url, nullptr, Pass)) << pTool->GetOutput();
		ASSERT_TRUE(pTool->Send(Authenticate(PASSWORD)));
		tData Answer;
		ASSERT_TRUE(pTool->NextMessage(Answer, 20000, Pass));
		ASSERT_EQ(Describe(Answer), "auth 1");
	}
	const Logger* pConsoleLogger = Commands.GetLogger();

	ASSERT_TRUE(Issuer.Send(Command("/three")));
	std::vector<std::string> Answers;
	for (int i = 0; i < 3; i++)
	{
		tData Answer;
		ASSERT_TRUE(Issuer.NextMessage(Answer, 20000, Pass)) << Issuer.GetUntaken();
		Answers.push_back(Describe(Answer));
	}
	EXPECT_EQ(Answers, (std::vector<std::string>{"log 3 one", "log 4 two", "log 2 three"}));
	EXPECT_EQ(Commands.GetLogger(), pConsoleLogger);

	// The other connection's next message answers its own command.
	ASSERT_TRUE(Other.Send(Command("/start nosuch")));
	tData Answer;
	ASSERT_TRUE(Other.NextMessage(Answer, 20000, Pass));
	EXPECT_EQ(Describe(Answer), "log 5 Unable to find the resource nosuch!");
}
