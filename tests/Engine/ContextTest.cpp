#include "Engine/Context.h"
#include "Engine/Config.h"
#include "Engine/FileSystem.h"

#include <gtest/gtest.h>

#include <string>
#include <sys/utsname.h>
#include <unistd.h>

namespace
{
	std::string CaptureConsole(Context& LogContext, eLogType Type, const char* szText)
	{
		testing::internal::CaptureStdout();
		LogContext.InternalLog(Type, szText);
		return testing::internal::GetCapturedStdout();
	}

	std::string ExecutableDirectory()
	{
		char szPath[4096];
		const ssize_t iLength = readlink("/proc/self/exe", szPath, sizeof(szPath) - 1);
		if (iLength <= 0)
			return std::string();
		const std::string Path(szPath, static_cast<size_t>(iLength));
		return Path.substr(0, Path.rfind('/') + 1);
	}
}

TEST(Context, ConsoleLinesAreColouredByLevel)
{
	struct tCase
	{
		eLogType Type;
		const char* szPrefix;
	};
	const tCase Cases[] = {
		{ LOGTYPE_NONE, "\x1b[32;1m" },
		{ LOGTYPE_VERBOSE, "\x1b[32;1m" },
		{ LOGTYPE_DEBUG, "\x1b[32;1m" },
		{ LOGTYPE_INFO, "\x1b[32;1m" },
		{ LOGTYPE_WARN, "\x1b[33;1m" },
		{ LOGTYPE_ERROR, "\x1b[31;1m" },
		{ LOGTYPE_CRITICAL, "\x1b[37;41m" },
	};

	Context LogContext;
	for (const tCase& Case : Cases)
	{
		SCOPED_TRACE(Case.Type);
		EXPECT_EQ(std::string(Case.szPrefix) + "line\x1b[0;0m\n", CaptureConsole(LogContext, Case.Type, "line"));
	}
}

TEST(Context, LogCallsUseTheirLevelAndFormat)
{
	Context LogContext;

	testing::internal::CaptureStdout();
	LogContext.Log("a%d", 1);
	LogContext.LogWarn("b%s", "2");
	LogContext.LogError("c%c", '3');
	LogContext.LogMessage(LOGTYPE_CRITICAL, "d%u", 4u);
	const std::string Console = testing::internal::GetCapturedStdout();

	EXPECT_EQ("\x1b[32;1ma1\x1b[0;0m\n"
			  "\x1b[33;1mb2\x1b[0;0m\n"
			  "\x1b[31;1mc3\x1b[0;0m\n"
			  "\x1b[37;41md4\x1b[0;0m\n",
		Console);
}

TEST(Context, InternalLogPrintsTheTextVerbatim)
{
	Context LogContext;
	EXPECT_EQ("\x1b[32;1m%s %d %n\x1b[0;0m\n", CaptureConsole(LogContext, LOGTYPE_INFO, "%s %d %n"));
}

TEST(Context, OverlongMessageIsCutTo4095CharactersOnTheConsole)
{
	Context LogContext;
	testing::internal::CaptureStdout();
	LogContext.Log("%s", std::string(5000, 'z').c_str());
	const std::string Console = testing::internal::GetCapturedStdout();

	EXPECT_EQ("\x1b[32;1m" + std::string(4095, 'z') + "\x1b[0;0m\n", Console);
}

TEST(Context, UserAgentNamesEngineAndSystem)
{
	utsname System;
	ASSERT_EQ(0, uname(&System));

	Context AgentContext;
	const std::string Base = std::string("Kestrin3D/1.2.0  (") + System.sysname + " " + System.machine + ")";
	EXPECT_EQ(Base, AgentContext.GetUserAgent());

	AgentContext.AddUserAgent("VexaServer/1.5.10");
	EXPECT_EQ(Base + " VexaServer/1.5.10", AgentContext.GetUserAgent());
}

TEST(Context, ExecutableDirectoryIsTheFirstMount)
{
	Context MountContext;
	ASSERT_NE(nullptr, MountContext.GetFileSystem());
	EXPECT_EQ(1u, MountContext.GetFileSystem()->GetMountCount());

	char szResolved[4096];
	ASSERT_TRUE(MountContext.GetFileSystem()->ResolvePath(szResolved, sizeof(szResolved)));
	EXPECT_EQ(ExecutableDirectory(), szResolved);
}

TEST(Context, OwnsASettingsRootWithoutParent)
{
	Context SettingsContext;
	ASSERT_NE(nullptr, SettingsContext.GetSettings());
	EXPECT_EQ(nullptr, SettingsContext.GetSettings()->GetParent());
	EXPECT_TRUE(SettingsContext.IsInitialised());
}

TEST(Context, GlobalPointerFollowsTheNewestContext)
{
	{
		Context First;
		EXPECT_EQ(&First, KGlobal::GetContext());
		{
			Context Second;
			EXPECT_EQ(&Second, KGlobal::GetContext());
		}
		// The newest one is gone; nothing may point at it any more.
		EXPECT_EQ(nullptr, KGlobal::GetContext());
	}
	EXPECT_EQ(nullptr, KGlobal::GetContext());
}
