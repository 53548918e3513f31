#include "Engine/Context.h"
#include "Engine/KestrinReference.h"
#include "Engine/KestrinStream.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <sys/utsname.h>
#include <vector>

namespace
{
	const std::string BOM = "\xEF\xBB\xBF";
	const std::string DASHES(60, '-');

	// The stream is declared before the context, so it outlives the closing banner.
	class FileLogTest : public ::testing::Test
	{
	protected:
		FileLogTest() : m_pStream(Strong<CUnlimitedStream>::New(new CUnlimitedStream())) {}

		void StartLogging()
		{
			m_pStream->AddRef(); // the log adopts one reference
			m_Context.GetFileLog()->StartLogging(m_pStream);
		}

		std::string Contents() const
		{
			return std::string(reinterpret_cast<const char*>(m_pStream->GetData()), m_pStream->GetSize());
		}

		// Everything written after the opening banner.
		std::string LinesAfterBanner(size_t BannerLength) const { return Contents().substr(BannerLength); }

		Strong<CUnlimitedStream> m_pStream;
		Context m_Context;
	};

	std::string ExpectedOpeningBanner()
	{
		utsname System;
		uname(&System);
		return BOM + DASHES + "\r\n" +
			"--------------------- Logging Started ----------------------\r\n" +
			DASHES + "\r\n" +
			"Kestrin 1.2.0\r\n" +
			"Platform: Linux\r\n" +
			std::string(System.sysname) + " " + System.machine + "\r\n" +
			DASHES + "\r\n";
	}

	class RecordingLogger : public Logger
	{
	public:
		void Log(eLogType Type, const char* szText) override
		{
			m_Types.push_back(Type);
			m_Texts.push_back(szText);
		}

		std::vector<eLogType> m_Types;
		std::vector<std::string> m_Texts;
	};
}

TEST_F(FileLogTest, StartLoggingWritesByteOrderMarkAndOpeningBanner)
{
	m_Context.GetFileLog()->SetTimeStampFormat("");
	StartLogging();
	EXPECT_EQ(ExpectedOpeningBanner(), Contents());
}

TEST_F(FileLogTest, LinesCarryTheTagOfTheirLevel)
{
	struct tCase
	{
		eLogType Type;
		const char* szExpected;
	};
	const tCase Cases[] = {
		{ LOGTYPE_NONE, "text\r\n" },
		{ LOGTYPE_VERBOSE, "[VERBOSE] text\r\n" },
		{ LOGTYPE_DEBUG, "[DEBUG]   text\r\n" },
		{ LOGTYPE_INFO, "[INFO]    text\r\n" },
		{ LOGTYPE_WARN, "[WARN]    text\r\n" },
		{ LOGTYPE_ERROR, "[ERROR]   text\r\n" },
		{ LOGTYPE_CRITICAL, "[CRITICAL]text\r\n" },
	};

	m_Context.GetFileLog()->SetTimeStampFormat("");
	StartLogging();
	const size_t BannerLength = Contents().size();

	std::string Expected;
	testing::internal::CaptureStdout();
	for (const tCase& Case : Cases)
	{
		m_Context.LogMessage(Case.Type, "%s", "text");
		Expected += Case.szExpected;
	}
	testing::internal::GetCapturedStdout();

	EXPECT_EQ(Expected, LinesAfterBanner(BannerLength));
}

TEST_F(FileLogTest, DefaultTimeStampPrecedesTheTag)
{
	StartLogging();
	const size_t BannerLength = Contents().size();

	testing::internal::CaptureStdout();
	m_Context.LogWarn("disk %d%% full", 90);
	testing::internal::GetCapturedStdout();

	const std::regex Line("<\\d{2}/\\d{2}/\\d{4} - \\d{2}:\\d{2}:\\d{2}> \\[WARN\\]    disk 90% full\r\n");
	EXPECT_TRUE(std::regex_match(LinesAfterBanner(BannerLength), Line)) << LinesAfterBanner(BannerLength);
}

TEST_F(FileLogTest, BannerLinesWithTimeStampAreUntagged)
{
	StartLogging();
	const std::string Text = Contents();
	EXPECT_EQ(0u, Text.find(BOM + "<"));
	EXPECT_NE(std::string::npos, Text.find("> Platform: Linux\r\n"));
	EXPECT_EQ(std::string::npos, Text.find("[INFO]"));
}

TEST_F(FileLogTest, OverlongLineIsCutButKeepsItsLineBreak)
{
	m_Context.GetFileLog()->SetTimeStampFormat("");
	StartLogging();
	const size_t BannerLength = Contents().size();

	testing::internal::CaptureStdout();
	m_Context.LogError("%s", std::string(5000, 'x').c_str());
	m_Context.Log("next");
	testing::internal::GetCapturedStdout();

	EXPECT_EQ("[ERROR]   " + std::string(4095, 'x') + "\r\n[INFO]    next\r\n", LinesAfterBanner(BannerLength));
}

TEST_F(FileLogTest, TimeStampFormatIsBoundedTo63Characters)
{
	const std::string Long(100, 'a');
	m_Context.GetFileLog()->SetTimeStampFormat(Long.c_str());
	EXPECT_EQ(std::string(63, 'a'), m_Context.GetFileLog()->GetTimeStampFormat());
}

TEST_F(FileLogTest, LinesBeforeLoggingStartsReachOnlyTheConsole)
{
	testing::internal::CaptureStdout();
	m_Context.Log("early");
	const std::string Console = testing::internal::GetCapturedStdout();

	EXPECT_EQ("\x1b[32;1mearly\x1b[0;0m\n", Console);
	EXPECT_EQ(0u, m_pStream->GetSize());
	EXPECT_FALSE(m_Context.GetFileLog()->IsLogging());
}

TEST(FileLog, DestructionWritesClosingBannerAndReleasesTheStream)
{
	Strong<CUnlimitedStream> pStream = Strong<CUnlimitedStream>::New(new CUnlimitedStream());
	{
		Context LocalContext;
		LocalContext.GetFileLog()->SetTimeStampFormat("");
		pStream->AddRef();
		LocalContext.GetFileLog()->StartLogging(pStream);
		EXPECT_EQ(2, pStream->GetRefCount());
	}
	EXPECT_EQ(1, pStream->GetRefCount());

	const std::string Text(reinterpret_cast<const char*>(pStream->GetData()), pStream->GetSize());
	const std::string Closing = DASHES + "\r\n---------------------- Logging Ended -----------------------\r\n" + DASHES + "\r\n";
	ASSERT_GE(Text.size(), Closing.size());
	EXPECT_EQ(Closing, Text.substr(Text.size() - Closing.size()));
}

TEST(Logger, BaseLoggerWritesToTheGlobalContext)
{
	Context LocalContext;
	Logger Sink;

	testing::internal::CaptureStdout();
	Sink.Log(LOGTYPE_WARN, "100% sure");
	const std::string Console = testing::internal::GetCapturedStdout();

	EXPECT_EQ("\x1b[33;1m100% sure\x1b[0;0m\n", Console);
}

TEST(Logger, LogFormattedGoesThroughTheVirtualLog)
{
	RecordingLogger Sink;
	Sink.LogFormatted(LOGTYPE_ERROR, "%s=%d", "count", 3);
	Sink.LogFormatted(LOGTYPE_INFO, "%s", std::string(5000, 'y').c_str());

	ASSERT_EQ(2u, Sink.m_Texts.size());
	EXPECT_EQ(LOGTYPE_ERROR, Sink.m_Types[0]);
	EXPECT_EQ("count=3", Sink.m_Texts[0]);
	EXPECT_EQ(std::string(4095, 'y'), Sink.m_Texts[1]);
}
