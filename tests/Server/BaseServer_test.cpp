// The server console: lines typed on standard input (the real binary), and the command and key-bind registries
// of a server object in this process.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Game/GTAServer.h"
#include "ServerHarness.h"
#include "ServerManager.h"

#include "Engine/Context.h"
#include "Scripting/CommandHandlers.h"
#include "Scripting/KeyBinds.h"

using namespace ServerTest;

namespace
{
std::string UnknownCommandReply(const std::string& Name)
{
	return "'" + Name + "' is not recognized as an internal or external command, operable program or batch file.";
}
}

TEST(BaseServer, UnknownCommandIsAnsweredOnTheConsole)
{
	CServerProcess Server;
	StartAndWait(Server, MakeConfig());
	Server.WriteInput("NoSuchCommand with parameters\n");
	EXPECT_TRUE(Server.WaitForOutput(UnknownCommandReply("NoSuchCommand")));
	Server.WriteInput("quit\n");
	EXPECT_EQ(Server.WaitForExit(), 0);
}

TEST(BaseServer, EmptyConsoleLinesRunNothing)
{
	CServerProcess Server;
	StartAndWait(Server, MakeConfig());
	Server.WriteInput("\n\r\n\n");
	Server.WriteInput("marker\n");
	ASSERT_TRUE(Server.WaitForOutput(UnknownCommandReply("marker")));
	Server.WriteInput("quit\n");
	ASSERT_EQ(Server.WaitForExit(), 0);
	EXPECT_EQ(FindLine(Server.GetOutputLines(), UnknownCommandReply("")), -1) << Server.GetRawOutput();
}

TEST(BaseServer, TooLongConsoleLineIsDroppedWholeWithAWarning)
{
	CServerProcess Server;
	StartAndWait(Server, MakeConfig());
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
	StartAndWait(Server, MakeConfig());
	Server.WriteInput("quit");
	Server.CloseInput();
	EXPECT_EQ(Server.WaitForExit(), 0);
}

namespace
{
// An engine function value that keeps the arguments of its last call.
class CArgumentRecorder : public CFunction
{
public:
	explicit CArgumentRecorder(CScripting* pScripting) : CFunction(pScripting) {}

	bool Call(const CArgumentArray& Arguments, CReturnValue* /*pResult*/) override
	{
		m_Arguments.Clear();
		Arguments.InsertTo(&m_Arguments);
		m_iCalls++;
		return true;
	}

	CArgumentArray m_Arguments;
	int m_iCalls = 0;
};

// The replies of the command registry.
class CReplyRecorder : public Logger
{
public:
	void Log(eLogType /*Type*/, const char* szText) override { m_Replies.push_back(szText); }

	std::vector<std::string> m_Replies;
};

// A server object of this process; nothing is started.
class ServerObject : public ::testing::Test
{
protected:
	ServerObject() : m_Server(&m_Context) {}

	// A client record of the server that is not the console.
	Strong<CNetMachine> NewClient()
	{
		return Strong<CNetMachine>::New(m_Server.NewMachine(m_Server.GetManager()));
	}

	Context m_Context;
	CGTAServer m_Server;
};
}

TEST_F(ServerObject, ScriptCommandsAndKeyBindsReceiveTheCallingClientLast)
{
	CScripting* pScripting = m_Server.GetResourceMgr().GetScripting();
	Strong<CNetMachine> pClient = NewClient();
	ASSERT_FALSE(pClient.IsNull());

	Strong<CArgumentRecorder> pCommand = Strong<CArgumentRecorder>::New(new CArgumentRecorder(pScripting));
	ASSERT_TRUE(m_Server.GetCommands().AddCommandHandler(new CScriptCommandHandler(pCommand, nullptr), "probe"));
	ASSERT_TRUE(m_Server.GetCommands().Trigger("probe", "some text", pClient, false));
	ASSERT_EQ(pCommand->m_iCalls, 1);
	ASSERT_EQ(pCommand->m_Arguments.GetArrayCount(), 3u);
	EXPECT_EQ(pCommand->m_Arguments.GetAt(2)->ToObject(), pClient.GetPointer());

	CKeyBinds* pKeyBinds = m_Server.GetResourceMgr().GetKeyBinds();
	Strong<CArgumentRecorder> pKey = Strong<CArgumentRecorder>::New(new CArgumentRecorder(pScripting));
	pKeyBinds->AddBind(new CScriptKeyBind(pKeyBinds, nullptr, SDLK_a, KEYSTATE_BOTH, false, pKey));
	SDL_Keysym Key{};
	Key.sym = SDLK_a;
	pKeyBinds->Trigger(pClient, Key, 0, true);
	ASSERT_EQ(pKey->m_iCalls, 1);
	ASSERT_EQ(pKey->m_Arguments.GetArrayCount(), 2u);
	EXPECT_EQ(pKey->m_Arguments.GetAt(1)->ToObject(), pClient.GetPointer());
}

TEST_F(ServerObject, UnknownCommandIsAnsweredOnlyForTheConsole)
{
	struct tCase
	{
		const char* m_szCaller;
		bool m_bClient;
		bool m_bConsoleFlag;
		bool m_bAnswered;
	};
	const tCase Cases[] = {
		{"no client (command file)", false, false, true},
		{"client with the console flag", true, true, true},
		{"game client", true, false, false},
	};
	for (const tCase& Case : Cases)
	{
		Strong<CNetMachine> pClient;
		if (Case.m_bClient)
		{
			pClient = NewClient();
			pClient->SetConsole(Case.m_bConsoleFlag);
		}
		CReplyRecorder Replies;
		m_Server.GetCommands().PushLogger(&Replies);
		m_Server.GetCommands().ConsoleCommandOnly("nosuchcommand now", pClient, true);
		m_Server.GetCommands().PopLogger();
		if (Case.m_bAnswered)
			EXPECT_EQ(Replies.m_Replies, std::vector<std::string>{UnknownCommandReply("nosuchcommand")}) << Case.m_szCaller;
		else
			EXPECT_TRUE(Replies.m_Replies.empty()) << Case.m_szCaller;
	}
}
