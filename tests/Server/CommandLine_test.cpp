#include <gtest/gtest.h>

#include "CommandLine.h"

namespace
{
tCommandLine Parse(std::vector<const char*> Arguments)
{
	Arguments.insert(Arguments.begin(), "VexaServer");
	tCommandLine Options;
	ParseCommandLine(static_cast<int>(Arguments.size()), Arguments.data(), Options);
	return Options;
}
}

TEST(CommandLine, OptionsIgnoreCaseAndTakeTheNextArgument)
{
	tCommandLine Options = Parse({"-CONFIG", "a.xml", "-port", "1", "-HttpPort", "2", "-rconport", "3", "-maxplayers",
		"500", "-bindip", "127.0.0.1", "-dumpdoc", "-noinput", "-multithreaded"});
	EXPECT_EQ(Options.m_ConfigFile, "a.xml");
	EXPECT_EQ(Options.m_Port.m_Value, 1);
	EXPECT_EQ(Options.m_HttpPort.m_Value, 2);
	EXPECT_EQ(Options.m_RConPort.m_Value, 3);
	EXPECT_EQ(Options.m_MaxPlayers.m_Value, 500);
	EXPECT_TRUE(Options.m_BindIP.m_bPresent);
	EXPECT_EQ(Options.m_BindIP.m_Value, "127.0.0.1");
	EXPECT_TRUE(Options.m_bDumpDocumentation);
	EXPECT_TRUE(Options.m_bNoInput);
	EXPECT_TRUE(Options.m_Multithreaded.m_bPresent);
	EXPECT_TRUE(Options.m_Multithreaded.m_Value);
}

TEST(CommandLine, NothingGivenLeavesEveryOverrideAbsent)
{
	tCommandLine Options = Parse({"-allowadmin", "unknown", "-config"});
	EXPECT_EQ(Options.m_ConfigFile, "server.xml");
	EXPECT_FALSE(Options.m_Port.m_bPresent);
	EXPECT_FALSE(Options.m_HttpPort.m_bPresent);
	EXPECT_FALSE(Options.m_RConPort.m_bPresent);
	EXPECT_FALSE(Options.m_MaxPlayers.m_bPresent);
	EXPECT_FALSE(Options.m_BindIP.m_bPresent);
	EXPECT_FALSE(Options.m_Multithreaded.m_bPresent);
	EXPECT_FALSE(Options.m_bNoInput);
	EXPECT_FALSE(Options.m_bDumpDocumentation);
}

TEST(CommandLine, ValueOptionSwallowsAnOptionAfterIt)
{
	tCommandLine Options = Parse({"-port", "-noinput", "-maxplayers"});
	EXPECT_TRUE(Options.m_Port.m_bPresent);
	EXPECT_EQ(Options.m_Port.m_Value, 0);
	EXPECT_FALSE(Options.m_bNoInput);
	EXPECT_FALSE(Options.m_MaxPlayers.m_bPresent);
}

TEST(CommandLine, LaterMultithreadingOptionWins)
{
	tCommandLine Options = Parse({"-multithreaded", "-disablemultithreaded"});
	EXPECT_TRUE(Options.m_Multithreaded.m_bPresent);
	EXPECT_FALSE(Options.m_Multithreaded.m_Value);
}
