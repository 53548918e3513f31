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
