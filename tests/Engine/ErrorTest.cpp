#include "Engine/KError.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

TEST(Error, SetErrorFormatsTheText)
{
	SetError("Expected %s for argument %d", "string", 2);
	EXPECT_STREQ("Expected string for argument 2", g_szError);
}

TEST(Error, SetErrorKeepsTheFirst1023Characters)
{
	const std::string Long = std::string(1000, 'a') + std::string(1000, 'b');
	SetError("%s", Long.c_str());
	EXPECT_EQ(1023u, strlen(g_szError));
	EXPECT_EQ(Long.substr(0, 1023), g_szError);
}

TEST(Error, SetErrorReplacesTheWholePreviousText)
{
	SetError("%s", std::string(500, 'x').c_str());
	SetError("short");
	EXPECT_STREQ("short", g_szError);
}

TEST(Error, SetErrorJoinedGivesTheTextOfSetError)
{
	const std::string Long(2000, 'n');
	const struct
	{
		std::string m_First, m_Second, m_Third;
	} Cases[] = {
		{"Property ", "x", " not found."},
		{"", "", ""},
		{"Property ", "", " not found."},
		{"%s %d ", "100%", " %n"},
		{"Property ", Long, " not found."},
		{std::string(1020, 'a'), "bcdef", "g"},
		{std::string(1023, 'a'), "b", "c"},
	};
	for (const auto& Case : Cases)
	{
		SetError("%s%s%s", Case.m_First.c_str(), Case.m_Second.c_str(), Case.m_Third.c_str());
		const std::string Expected = g_szError;
		SetError("%s", std::string(800, 'x').c_str());
		SetErrorJoined(Case.m_First.c_str(), Case.m_Second.c_str(), Case.m_Third.c_str());
		EXPECT_EQ(Expected, g_szError) << Case.m_First.size() << " " << Case.m_Second;
	}
}
