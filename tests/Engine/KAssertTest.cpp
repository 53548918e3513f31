#include "Engine/KAssert.h"

#include "Engine/Context.h"

#include <gtest/gtest.h>

#include <string>

namespace
{
	class AssertTest : public ::testing::Test
	{
	protected:
		AssertTest() : m_bSaved(g_bAsserts) {}
		~AssertTest() override { g_bAsserts = m_bSaved; }

		bool m_bSaved;
		Context m_Context;
	};
}

TEST_F(AssertTest, ReportIsOneErrorLineWithFileFunctionLineAndExpression)
{
	g_bAsserts = true;
	testing::internal::CaptureStdout();
	_KShowAssert("m_pRef", "Reference.h", "operator->", 42);
	const std::string Console = testing::internal::GetCapturedStdout();

	EXPECT_EQ("\x1b[31;1mAssertion failed!\n\nFile: Reference.h\nFunction: operator->\nLine: 42\n\nExpression: m_pRef\x1b[0;0m\n",
		Console);
}

TEST_F(AssertTest, ReportingOffWritesNothing)
{
	g_bAsserts = false;
	testing::internal::CaptureStdout();
	_KShowAssert("m_pRef", "Reference.h", "operator->", 42);
	EXPECT_EQ("", testing::internal::GetCapturedStdout());
}

TEST_F(AssertTest, MacroReportsOnlyFalseExpressionsAndYieldsTheirTruth)
{
	g_bAsserts = true;
	int iEvaluations = 0;
	auto Check = [&iEvaluations](bool bValue) { ++iEvaluations; return bValue; };

	testing::internal::CaptureStdout();
	const bool bTrue = KASSERT(Check(true));
	const std::string AfterTrue = testing::internal::GetCapturedStdout();

	testing::internal::CaptureStdout();
	const bool bFalse = KASSERT(Check(false));
	const std::string AfterFalse = testing::internal::GetCapturedStdout();

	EXPECT_TRUE(bTrue);
	EXPECT_FALSE(bFalse);
	EXPECT_EQ(2, iEvaluations);
	EXPECT_EQ("", AfterTrue);
	EXPECT_NE(std::string::npos, AfterFalse.find("Expression: Check(false)"));
	EXPECT_NE(std::string::npos, AfterFalse.find("File: " __FILE__));
	EXPECT_NE(std::string::npos, AfterFalse.find("Function: TestBody"));
}
