#include <gtest/gtest.h>

#include "ConsoleInput.h"

namespace
{
struct tLine
{
	std::string m_Text;
	bool m_bTooLong;
};

void Collect(const char* szText, bool bTooLong, void* pUserData)
{
	static_cast<std::vector<tLine>*>(pUserData)->push_back(tLine{szText, bTooLong});
}
}

TEST(ConsoleInput, LinesKeepTheirLineFeedAcrossReads)
{
	CConsoleLineSplitter Splitter;
	std::vector<tLine> Lines;
	Splitter.Feed("qu", 2, Collect, &Lines);
	EXPECT_TRUE(Lines.empty());
	Splitter.Feed("it\nsay hi\r\n", 11, Collect, &Lines);
	ASSERT_EQ(Lines.size(), 2u);
	EXPECT_EQ(Lines[0].m_Text, "quit\n");
	EXPECT_EQ(Lines[1].m_Text, "say hi\r\n");
	EXPECT_FALSE(Lines[0].m_bTooLong);
}

TEST(ConsoleInput, LineThatDoesNotFitIsReportedWholeAsTooLong)
{
	struct tCase
	{
		size_t m_Characters;
		bool m_bTooLong;
	};
	for (const tCase& Case : {tCase{254, false}, tCase{255, true}, tCase{300, true}, tCase{1000, true}})
	{
		CConsoleLineSplitter Splitter;
		std::vector<tLine> Lines;
		std::string Input = std::string(Case.m_Characters, 'a') + "\nnext\n";
		Splitter.Feed(Input.data(), Input.size(), Collect, &Lines);
		ASSERT_EQ(Lines.size(), 2u) << Case.m_Characters;
		EXPECT_EQ(Lines[0].m_bTooLong, Case.m_bTooLong) << Case.m_Characters;
		EXPECT_EQ(Lines[1].m_Text, "next\n");
	}
}

TEST(ConsoleInput, EndOfInputDeliversAPendingLine)
{
	CConsoleLineSplitter Splitter;
	std::vector<tLine> Lines;
	Splitter.Finish(Collect, &Lines);
	EXPECT_TRUE(Lines.empty());
	Splitter.Feed("quit", 4, Collect, &Lines);
	Splitter.Finish(Collect, &Lines);
	ASSERT_EQ(Lines.size(), 1u);
	EXPECT_EQ(Lines[0].m_Text, "quit");
	Splitter.Finish(Collect, &Lines);
	EXPECT_EQ(Lines.size(), 1u);
}
