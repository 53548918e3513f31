#include <gtest/gtest.h>

#include "ConsoleCommands.h"

namespace
{
struct tCall
{
	std::string m_Name;
	std::string m_Parameters;
	bool m_bNullParameters;
};

class CRecordingCommand : public CConsoleCommand
{
public:
	CRecordingCommand(std::vector<tCall>* pCalls, bool bRestricted) : m_pCalls(pCalls) { m_bRestricted = bRestricted; }

	void Execute(const char* szName, const char* szParameters, CBaseObject* /*pClient*/) override
	{
		m_pCalls->push_back(tCall{szName, szParameters ? szParameters : "", szParameters == nullptr});
	}

private:
	std::vector<tCall>* m_pCalls;
};

struct ConsoleCommands : ::testing::Test
{
	ConsoleCommands()
	{
		Commands.AddCommandHandler(new CRecordingCommand(&Calls, true), "quit");
		Commands.AddCommandHandler(new CRecordingCommand(&Calls, false), "say");
		Commands.SetUnhandledCommandHandler(new CRecordingCommand(&Unhandled, true));
	}

	std::vector<tCall> Calls;
	std::vector<tCall> Unhandled;
	CConsoleCommands Commands;
};
}

TEST_F(ConsoleCommands, NameEndsAtTheFirstBlankOrLineBreak)
{
	struct tCase
	{
		const char* m_szLine;
		const char* m_szName;
		const char* m_szParameters;
	};
	const tCase Cases[] = {
		{"quit", "quit", ""},
		{"QUIT\n", "QUIT", ""},
		{"quit now please\r\n", "quit", "now please"},
		{"quit\r\n", "quit", ""},
	};
	for (const tCase& Case : Cases)
	{
		Calls.clear();
		EXPECT_TRUE(Commands.ConsoleCommandOnly(Case.m_szLine, nullptr, true)) << Case.m_szLine;
		ASSERT_EQ(Calls.size(), 1u) << Case.m_szLine;
		EXPECT_EQ(Calls[0].m_Name, Case.m_szName);
		EXPECT_EQ(Calls[0].m_Parameters, Case.m_szParameters);
	}
}

TEST_F(ConsoleCommands, UnknownOrForbiddenCommandsGoToTheUnhandledHandler)
{
	EXPECT_FALSE(Commands.ConsoleCommandOnly("nothing", nullptr, true));
	ASSERT_EQ(Unhandled.size(), 1u);
	EXPECT_EQ(Unhandled[0].m_Name, "nothing");
	EXPECT_TRUE(Unhandled[0].m_bNullParameters);

	// A restricted command for an unprivileged caller behaves as if it did not exist; the restricted
	// unhandled handler does not answer that caller either.
	EXPECT_FALSE(Commands.ConsoleCommandOnly("quit", nullptr, false));
	EXPECT_TRUE(Calls.empty());
	EXPECT_EQ(Unhandled.size(), 1u);
}

TEST_F(ConsoleCommands, LengthLimits)
{
	EXPECT_FALSE(Commands.ConsoleCommandOnly("", nullptr, true));
	EXPECT_FALSE(Commands.ConsoleCommandOnly(("quit " + std::string(251, 'p')).c_str(), nullptr, true));
	EXPECT_TRUE(Commands.ConsoleCommandOnly(("quit " + std::string(250, 'p')).c_str(), nullptr, true));
	EXPECT_TRUE(Commands.Trigger("quit", std::string(255, 'p').c_str(), nullptr, true));
	EXPECT_FALSE(Commands.Trigger("quit", std::string(256, 'p').c_str(), nullptr, true));
	EXPECT_EQ(Calls.size(), 2u);
	EXPECT_TRUE(Unhandled.empty());
}

TEST_F(ConsoleCommands, ConsoleLinesWithoutSlashAreChat)
{
	EXPECT_TRUE(Commands.ConsoleCommand("hello there", nullptr, true));
	EXPECT_TRUE(Commands.ConsoleCommand("/say hi", nullptr, true));
	EXPECT_FALSE(Commands.ConsoleCommand("/", nullptr, true));
	ASSERT_EQ(Calls.size(), 2u);
	EXPECT_EQ(Calls[0].m_Name, "say");
	EXPECT_EQ(Calls[0].m_Parameters, "hello there");
	EXPECT_EQ(Calls[1].m_Parameters, "hi");
	EXPECT_TRUE(Unhandled.empty());
}

TEST_F(ConsoleCommands, NamesAreUniqueWithoutRegardToCase)
{
	EXPECT_FALSE(Commands.AddCommandHandler(new CRecordingCommand(&Calls, true), "SAY"));
	EXPECT_TRUE(Commands.HasCommandHandler("Say"));
	EXPECT_FALSE(Commands.HasCommandHandler("start"));
}
