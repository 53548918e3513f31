#include "ScriptHost.h"

namespace
{
// Remembers every call it gets.
class CRecordingHandler : public CCommandHandler
{
public:
	CRecordingHandler(std::vector<std::string>& Calls, bool bRestricted) : m_Calls(Calls) { m_bRestricted = bRestricted; }

	void Execute(const char* szName, const char* szParameters, CBaseObject*) override
	{
		m_Calls.push_back(std::string(szName) + "|" + (szParameters ? szParameters : "<null>"));
	}

	std::vector<std::string>& m_Calls;
};

class CommandHandlersTest : public ScriptHostTest
{
protected:
	CCommandHandlers* Commands() const { return Manager()->GetCommandHandlers(); }

	void AddRecorder(const char* szName, bool bRestricted)
	{
		ASSERT_TRUE(Commands()->AddCommandHandler(new CRecordingHandler(m_Calls, bRestricted), szName));
	}

	std::vector<std::string> m_Calls;
	std::vector<std::string> m_Unhandled;
};
}

TEST_F(CommandHandlersTest, LinesAreSplitIntoNameAndParameters)
{
	AddRecorder("echo", false);
	AddRecorder("say", false);
	Commands()->SetUnhandledCommandHandler(new CRecordingHandler(m_Unhandled, false));
	struct tCase
	{
		const char* m_szLine;
		bool m_bConsoleStyle;
		bool m_bResult;
		const char* m_szCall;
		const char* m_szUnhandled;
	};
	const tCase rgCases[] = {
		{"echo hello world", false, true, "echo|hello world", nullptr},
		{"ECHO loud", false, true, "ECHO|loud", nullptr},
		{"echo\n", false, true, "echo|", nullptr},
		{"echo", false, true, "echo|", nullptr},
		{"echo text\r\n", false, true, "echo|text", nullptr},
		{"", false, false, nullptr, nullptr},
		{"\n", false, false, nullptr, nullptr},
		{"\r\n", false, false, nullptr, nullptr},
		{"nothing\n", false, false, nullptr, "nothing|<null>"},
		{"nothing here", false, false, nullptr, "nothing|here"},
		{"nothing", false, false, nullptr, "nothing|<null>"},
		{"/", true, false, nullptr, nullptr},
		{"/\n", true, false, nullptr, nullptr},
		{"hello there", true, true, "say|hello there", nullptr},
		{"/say hi", true, true, "say|hi", nullptr},
		{"/echo x", true, true, "echo|x", nullptr},
	};
	for (const tCase& Case : rgCases)
	{
		SCOPED_TRACE(Case.m_szLine);
		m_Calls.clear();
		m_Unhandled.clear();
		const bool bResult = Case.m_bConsoleStyle ? Commands()->ConsoleCommand(Case.m_szLine, nullptr, false)
												  : Commands()->ConsoleCommandOnly(Case.m_szLine, nullptr, false);
		EXPECT_EQ(bResult, Case.m_bResult);
		EXPECT_EQ(m_Calls, Case.m_szCall ? std::vector<std::string>{Case.m_szCall} : std::vector<std::string>{});
		EXPECT_EQ(m_Unhandled,
			Case.m_szUnhandled ? std::vector<std::string>{Case.m_szUnhandled} : std::vector<std::string>{});
	}
}

TEST_F(CommandHandlersTest, ChatWithoutSayHandlerGoesToTheUnhandledHandler)
{
	Commands()->SetUnhandledCommandHandler(new CRecordingHandler(m_Unhandled, false));
	EXPECT_FALSE(Commands()->ConsoleCommand("just chatting", nullptr, false));
	EXPECT_EQ(m_Unhandled, std::vector<std::string>({"say|just chatting"}));
}

TEST_F(CommandHandlersTest, ParametersUpTo255CharactersPass)
{
	AddRecorder("long", false);
	EXPECT_TRUE(Commands()->Trigger("long", std::string(255, 'p').c_str(), nullptr, false));
	EXPECT_FALSE(Commands()->Trigger("long", std::string(256, 'p').c_str(), nullptr, false));
	EXPECT_EQ(m_Calls.size(), 1u);
	EXPECT_FALSE(Commands()->ConsoleCommandOnly(("long " + std::string(251, 'x')).c_str(), nullptr, false));
	EXPECT_TRUE(Commands()->ConsoleCommandOnly(("long " + std::string(250, 'x')).c_str(), nullptr, false));
}

TEST_F(CommandHandlersTest, RestrictedHandlersAnswerOnlyPrivilegedCallers)
{
	AddRecorder("secret", true);
	Commands()->SetUnhandledCommandHandler(new CRecordingHandler(m_Unhandled, false));
	EXPECT_FALSE(Commands()->Trigger("secret", "", nullptr, false));
	EXPECT_FALSE(Commands()->ConsoleCommandOnly("secret x", nullptr, false));
	EXPECT_EQ(m_Unhandled, std::vector<std::string>({"secret|x"}));
	EXPECT_TRUE(Commands()->ConsoleCommandOnly("secret y", nullptr, true));
	EXPECT_EQ(m_Calls, std::vector<std::string>({"secret|y"}));
}

TEST_F(CommandHandlersTest, DefaultUnhandledReplyNamesTheCommand)
{
	Commands()->SetUnhandledCommandHandler(new CUnhandledCommandHandler());
	EXPECT_FALSE(Commands()->ConsoleCommandOnly("frobnicate now", nullptr, true));
	EXPECT_EQ(m_Replies.Last(),
		"'frobnicate' is not recognized as an internal or external command, operable program or batch file.");
	EXPECT_EQ(m_Replies.LastType(), LOGTYPE_ERROR);
}

TEST_F(CommandHandlersTest, ScriptHandlersReceiveNameParametersAndOptionallyTheClient)
{
	std::vector<std::string> Seen;
	Strong<CBaseObject> pClient = Strong<CBaseObject>::New(new CBaseObject());
	Call(nullptr, "addCommandHandler", CArgs().S("greet").Own(MakeFunction(nullptr, [&](const CArgumentArray& A) {
		std::string Line = A.GetAt(0)->ToString();
		Line += A.GetAt(1)->IsNull() ? "|null" : std::string("|") + A.GetAt(1)->ToString();
		Line += "|" + std::to_string(A.GetArrayCount());
		if (A.GetArrayCount() > 2)
			Line += A.GetAt(2)->ToObject() == pClient ? "|client" : "|other";
		Seen.push_back(Line);
	})));
	Commands()->ConsoleCommandOnly("Greet you", pClient, false);
	Commands()->SetPassClient(true);
	Commands()->ConsoleCommandOnly("greet", pClient, false);
	EXPECT_EQ(Seen, std::vector<std::string>({"Greet|you|2", "greet||3|client"}));
}

TEST_F(CommandHandlersTest, AddingTwiceNeedsReplaceAndOwnership)
{
	WriteResource("a", {});
	WriteResource("b", {});
	Scan();
	CResource* pA = Find("a");
	CResource* pB = Find("b");
	std::vector<std::string> Seen;
	auto Handler = [&](const char* szTag) {
		return MakeFunction(nullptr, [&Seen, szTag](const CArgumentArray&) { Seen.push_back(szTag); });
	};
	EXPECT_TRUE(Call(pA, "addCommandHandler", CArgs().S("cmd").Own(Handler("first"))).Boolean());
	EXPECT_FALSE(Call(pA, "addCommandHandler", CArgs().S("CMD").Own(Handler("second"))).Boolean());
	EXPECT_FALSE(Call(pB, "addCommandHandler", CArgs().S("cmd").Own(Handler("other")).B(true)).Boolean());
	EXPECT_TRUE(Call(pA, "addCommandHandler", CArgs().S("cmd").Own(Handler("replaced")).B(true)).Boolean());
	Commands()->ConsoleCommandOnly("cmd", nullptr, false);
	EXPECT_EQ(Seen, std::vector<std::string>({"replaced"}));

	EXPECT_FALSE(Call(pB, "removeCommandHandler", CArgs().S("cmd")).Boolean());
	EXPECT_TRUE(Call(pA, "removeCommandHandler", CArgs().S("cmd")).Boolean());
	EXPECT_FALSE(Call(pA, "hasCommandHandler", CArgs().S("cmd")).Boolean());
}

TEST_F(CommandHandlersTest, BuiltInsAreVisibleButNotRemovableByScripts)
{
	ASSERT_TRUE(Manager()->RegisterResourceCommands());
	WriteResource("a", {});
	Scan();
	EXPECT_TRUE(Call(Find("a"), "hasCommandHandler", CArgs().S("start")).Boolean());
	EXPECT_FALSE(Call(Find("a"), "removeCommandHandler", CArgs().S("start")).Boolean());
	EXPECT_NE(Commands()->GetCommandHandler("start"), nullptr);
}

TEST_F(CommandHandlersTest, ConsoleCommandFromAScriptIsPrivilegedOnlyForAPrivilegedResource)
{
	AddRecorder("secret", true);
	WriteResource("a", {});
	Scan();
	CResource* pA = Find("a");
	EXPECT_FALSE(Call(pA, "consoleCommand", CArgs().S("/secret 1")).Boolean());
	pA->SetPrivileged(true);
	EXPECT_TRUE(Call(pA, "consoleCommand", CArgs().S("/secret 2")).Boolean());
	EXPECT_EQ(m_Calls, std::vector<std::string>({"secret|2"}));
}

TEST_F(CommandHandlersTest, HandlerThatRemovesItselfWhileRunningFinishesItsCall)
{
	bool bAfter = false;
	Call(nullptr, "addCommandHandler", CArgs().S("once").Own(MakeFunction(nullptr, [&](const CArgumentArray& A) {
		EXPECT_TRUE(Call(nullptr, "removeCommandHandler", CArgs().S("once")).Boolean());
		// The handler and its arguments are still intact after removing itself.
		bAfter = std::string(A.GetAt(0)->ToString()) == "once";
	})));
	EXPECT_TRUE(Commands()->ConsoleCommandOnly("once", nullptr, false));
	EXPECT_TRUE(bAfter);
	EXPECT_FALSE(Commands()->ConsoleCommandOnly("once", nullptr, false));
}

TEST_F(CommandHandlersTest, PushedLoggerTakesRepliesUntilPopped)
{
	Commands()->SetUnhandledCommandHandler(new CUnhandledCommandHandler());
	CCaptureLogger Remote;
	Commands()->PushLogger(&Remote);
	Commands()->ConsoleCommandOnly("x", nullptr, true);
	Commands()->PopLogger();
	Commands()->ConsoleCommandOnly("y", nullptr, true);
	ASSERT_EQ(Remote.m_Lines.size(), 1u);
	EXPECT_NE(Remote.Last().find("'x'"), std::string::npos);
}
