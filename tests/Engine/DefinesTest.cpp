#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Engine/Context.h"
#include "Engine/Defines.h"
#include "Engine/KestrinStream.h"

namespace
{
typedef std::vector<std::pair<std::string, int32_t>> tDefineList;

class DefinesTest : public ::testing::Test
{
protected:
	void SetUp() override
	{
		m_pLog = new CUnlimitedStream();
		m_pLog->AddRef();
		m_Context.GetFileLog()->SetTimeStampFormat("");
		m_Context.GetFileLog()->StartLogging(m_pLog);
	}

	void TearDown() override { m_pLog->Release(); }

	void ResetHandlers() { m_pHandlers = std::make_unique<CDefineHandlers>(); }

	void Process(const std::string& Text, const char* szName = "test.h")
	{
		CMemoryStream* pStream = new CMemoryStream(Text.data(), Text.size());
		m_pHandlers->Process(pStream, szName);
		pStream->Release();
	}

	tDefineList GetDefines() const
	{
		tDefineList Result;
		for (const IntDefine& Define : m_pHandlers->GetDefines())
			Result.emplace_back(Define.m_Name, Define.GetSignedValue());
		return Result;
	}

	// The texts of the error lines written to the log so far.
	std::vector<std::string> GetErrors() const
	{
		static const std::string TAG = "[ERROR]   ";
		std::vector<std::string> Errors;
		std::string Log(reinterpret_cast<const char*>(m_pLog->GetData()), m_pLog->GetSize());
		size_t Start = 0;
		for (;;)
		{
			size_t End = Log.find("\r\n", Start);
			if (End == std::string::npos)
				break;
			std::string Line = Log.substr(Start, End - Start);
			if (Line.compare(0, TAG.size(), TAG) == 0)
				Errors.push_back(Line.substr(TAG.size()));
			Start = End + 2;
		}
		return Errors;
	}

	Context m_Context;
	CUnlimitedStream* m_pLog = nullptr;
	std::unique_ptr<CDefineHandlers> m_pHandlers = std::make_unique<CDefineHandlers>();
};

// Lexes the whole text; the kinds read, or the thrown message.
std::pair<std::vector<int>, std::string> LexAll(const std::string& Text)
{
	CLexer Lexer(Text.data(), Text.size(), "lex");
	std::vector<int> Kinds;
	try
	{
		for (int iKind = Lexer.Lex(); iKind != 0; iKind = Lexer.Lex())
			Kinds.push_back(iKind);
	}
	catch (const char* szMessage)
	{
		return {Kinds, szMessage};
	}
	return {Kinds, ""};
}
}

TEST_F(DefinesTest, EnumeratorsTakeRunningAndExplicitValues)
{
	Process("enum E : uint8_t { A, B = 5, C, D = B, E, };");
	EXPECT_EQ(GetDefines(), (tDefineList{{"A", 0}, {"B", 5}, {"C", 6}, {"D", 5}, {"E", 6}}));
	EXPECT_TRUE(GetErrors().empty());
}

TEST_F(DefinesTest, TextsThatDefineWithoutErrors)
{
	struct tCase
	{
		const char* szText;
		tDefineList Expected;
	};
	const tCase rgCases[] = {
		{"", {}},
		{"#ifndef GUARD\n#define GUARD\n// line\n/* block\n */\n\t\r\n#endif\n", {}},
		{"enum E;", {}},
		{"enum E { A, B };", {{"A", 0}}},
		{"enum E { };", {}},
		{"enum E : unsigned int { A = 4294967295, B = 0xFFFFFFFF, C = 4294967296, };",
			{{"A", -1}, {"B", -1}, {"C", 0}}},
		{"enum E : signed char { A = 010, B = 0x1f, C = 0x, D = 09, E = 0, };",
			{{"A", 8}, {"B", 31}, {"C", 0}, {"D", 9}, {"E", 0}}},
		{"enum E : Uint16 { A = 'A', B = '\\xff', C = '\\0', D = '\\'', };", {{"A", 65}, {"B", -1}, {"C", 0}, {"D", 39}}},
		// The running value wraps instead of overflowing.
		{"enum E { A = 2147483647, B, };", {{"A", 2147483647}, {"B", -2147483647 - 1}}},
		// Duplicates are kept in order; a later file does not see the earlier file's names, but the same file does.
		{"enum E { A, }; enum F { A = 7, B = A, };", {{"A", 0}, {"A", 7}, {"B", 7}}},
	};
	for (const tCase& Case : rgCases)
	{
		ResetHandlers();
		Process(Case.szText);
		EXPECT_EQ(GetDefines(), Case.Expected) << Case.szText;
	}
	EXPECT_TRUE(GetErrors().empty());
}

TEST_F(DefinesTest, ZeroByteEndsInput)
{
	Process(std::string("enum E { A, };\0enum F { garbage", 31));
	EXPECT_EQ(GetDefines(), (tDefineList{{"A", 0}}));
	EXPECT_TRUE(GetErrors().empty());
}

TEST_F(DefinesTest, FirstErrorEndsTheFile)
{
	struct tCase
	{
		const char* szText;
		const char* szError;
		tDefineList Expected;
	};
	const tCase rgCases[] = {
		{"enum E { A = 1 };", "test.h(1): got '}' expected ','", {{"A", 1}}},
		{"enum E { A, B = -1, };", "test.h(1): unexpected '-'", {{"A", 0}}},
		{"enum E { A = B, };", "test.h(1): unexpected identifier 'B'", {}},
		{"enum E { A = 1.5, };", "test.h(1): unexpected 'float'", {}},
		{"enum E { A = \"x\", };", "test.h(1): unexpected 'string'", {}},
		{"enum E { end, };", "test.h(1): unexpected 'end'", {}},
		{"enum E { A, in, };", "test.h(1): unexpected 'TK_IN'", {{"A", 0}}},
		{"struct S { int a; };", "test.h(1): unexpected identifier 'struct'", {}},
		{"enum { A, };", "test.h(1): got '{' expected 'identifier'", {}},
		{"enum E { A, }\nenum F;", "test.h(2): got 'TK_ENUM' expected ';'", {{"A", 0}}},
		{"enum E = 1;", "test.h(1): unexpected '='", {}},
		{"enum E : unsigned { A, };", "test.h(1): got '{' expected 'identifier'", {}},
		{"enum E : long long { A, };", "test.h(1): got 'identifier' expected '{'", {}},
		{"enum E : float { A, };", "test.h(1): unexpected identifier 'float'", {}},
		{"enum E { A = 0x123456789, };", "test.h(1): too many digits for an Hex number", {}},
		{"enum E { A = 019, };", "test.h(1): invalid octal number", {}},
		{"enum E { A, };\n/* open\nstill open", "test.h(3): missing \"*/\" in comment", {{"A", 0}}},
		// A body cut off by the end of the text.
		{"enum E { A, B", "test.h(1): unexpected ''", {{"A", 0}}},
	};
	for (const tCase& Case : rgCases)
	{
		ResetHandlers();
		size_t ErrorsBefore = GetErrors().size();
		Process(Case.szText);
		EXPECT_EQ(GetDefines(), Case.Expected) << Case.szText;
		std::vector<std::string> Errors = GetErrors();
		ASSERT_EQ(Errors.size(), ErrorsBefore + 1) << Case.szText;
		EXPECT_EQ(Errors.back(), Case.szError);
	}
}

TEST_F(DefinesTest, ErrorNamesFileAndLineAndKeepsEarlierConstants)
{
	std::string Text;
	for (int i = 1; i < 40; i++)
		Text += "enum E" + std::to_string(i) + " { A" + std::to_string(i) + " = " + std::to_string(i) + ", };\n";
	Text += "enum Broken { X = Y, };\nenum Never { Z, };\n";
	Process(Text, "GTAIIIEnums.h");

	tDefineList Defines = GetDefines();
	ASSERT_EQ(Defines.size(), 39u);
	EXPECT_EQ(Defines.front(), (std::pair<std::string, int32_t>("A1", 1)));
	EXPECT_EQ(Defines.back(), (std::pair<std::string, int32_t>("A39", 39)));
	EXPECT_EQ(GetErrors(), (std::vector<std::string>{"GTAIIIEnums.h(40): unexpected identifier 'Y'"}));
}

TEST_F(DefinesTest, OverlongTokenIsRefused)
{
	Process("enum E { " + std::string(300, 'a') + ", B, };");
	EXPECT_TRUE(GetDefines().empty());
	EXPECT_EQ(GetErrors(), (std::vector<std::string>{"test.h(1): token too long"}));

	// 255 characters still fit the buffer.
	ResetHandlers();
	Process("enum E { " + std::string(255, 'b') + ", };");
	EXPECT_EQ(GetDefines(), (tDefineList{{std::string(255, 'b'), 0}}));
}

TEST_F(DefinesTest, SignedAndUnsignedDefines)
{
	m_pHandlers->Define("NEG", -1);
	m_pHandlers->Define("BIG", 4294967295u);
	m_pHandlers->Define("NEG", 3);
	const std::vector<IntDefine>& Defines = m_pHandlers->GetDefines();
	ASSERT_EQ(Defines.size(), 3u);
	EXPECT_FALSE(Defines[0].m_bUnsigned);
	EXPECT_EQ(Defines[0].GetWideValue(), -1);
	EXPECT_TRUE(Defines[1].m_bUnsigned);
	EXPECT_EQ(Defines[1].GetWideValue(), 4294967295LL);
	EXPECT_EQ(Defines[2].m_Name, "NEG");
	EXPECT_EQ(Defines[2].GetWideValue(), 3);
}

TEST(DefineLexer, OperatorsAreReadGreedily)
{
	struct tCase
	{
		const char* szText;
		std::vector<int> Kinds;
	};
	const tCase rgCases[] = {
		{">>>= >>= >= >", {TK_USHIFTR, '=', TK_SHIFTR, '=', TK_GE, '>'}},
		{"<=> <= <- << </ <", {TK_3WAYSCMP, TK_LE, TK_NEWSLOT, TK_SHIFTL, TK_ATTR_OPEN, '<'}},
		{"== != && || :: ++ -- += -= *= /= %= />", {TK_EQ, TK_NE, TK_AND, TK_OR, TK_DOUBLE_COLON, TK_PLUSPLUS,
			TK_MINUSMINUS, TK_PLUSEQ, TK_MINUSEQ, TK_MULEQ, TK_DIVEQ, TK_MODEQ, TK_ATTR_CLOSE}},
		{"... . ! % & * + - : = | / @", {TK_VARPARAMS, '.', '!', '%', '&', '*', '+', '-', ':', '=', '|', '/', '@'}},
		{"(){}[];,?^~$\xC3", {'(', ')', '{', '}', '[', ']', ';', ',', '?', '^', '~', '$', 0xC3}},
		{"enum rawcall __LINE__ _x9 12u 1.5e+3", {TK_ENUM, TK_RAWCALL, TK___LINE__, TK_IDENTIFIER, TK_INTEGER,
			TK_IDENTIFIER, TK_FLOAT}},
	};
	for (const tCase& Case : rgCases)
	{
		auto Result = LexAll(Case.szText);
		EXPECT_EQ(Result.second, "") << Case.szText;
		EXPECT_EQ(Result.first, Case.Kinds) << Case.szText;
	}
}

TEST(DefineLexer, MalformedTokensThrowTheirMessage)
{
	struct tCase
	{
		std::string Text;
		const char* szError;
	};
	const tCase rgCases[] = {
		{"a .. b", "invalid token '..'"},
		{"1e", "exponent expected"},
		{"1e+", "exponent expected"},
		{"\"", "error parsing the string"},
		{"\"abc", "unfinished string"},
		{"\"ab\ncd\"", "newline in a constant"},
		{"\"\\q\"", "unrecognised escaper char"},
		{"\"\\", "unrecognised escaper char"},
		{"\"\\xg\"", "hexadecimal number expected"},
		{"''", "empty constant"},
		{"'ab'", "constant too long"},
		{"a \x01 b", "unexpected character(control)"},
		{"\x7f", "unexpected character(control)"},
		{"\"" + std::string(256, 's') + "\"", "token too long"},
		{std::string(20, '1') + std::string(240, '2'), "token too long"},
	};
	for (const tCase& Case : rgCases)
		EXPECT_EQ(LexAll(Case.Text).second, Case.szError) << Case.Text;
}

TEST(DefineLexer, StringValues)
{
	struct tCase
	{
		const char* szText;
		std::string Expected;
	};
	const tCase rgCases[] = {
		{"\"a\\tb\\n\\\\\\\"\"", "a\tb\n\\\""},
		{"\"\\x41\\x4a2\"", "AJ2"},
		{"\"\\u00e9\\u20AC\"", "\xC3\xA9\xE2\x82\xAC"},
		{"\"\\U0001F600\\U00110000!\"", "\xF0\x9F\x98\x80!"},
		{"@\"a\"\"b\\c\nd\"", "a\"b\\c\nd"},
		{"\"x\\0y\"", std::string("x\0y", 3)},
	};
	for (const tCase& Case : rgCases)
	{
		CLexer Lexer(Case.szText, strlen(Case.szText), "lex");
		ASSERT_EQ(Lexer.Lex(), TK_STRING_LITERAL) << Case.szText;
		EXPECT_EQ(std::string(Lexer.GetString(), Lexer.GetTokenLength()), Case.Expected) << Case.szText;
		EXPECT_EQ(Lexer.Lex(), 0);
	}

	// A verbatim string counts its line feeds.
	CLexer Lexer("@\"a\nb\"\nx", 8, "lex");
	Lexer.Lex();
	EXPECT_EQ(Lexer.GetCurrentLine(), 2);
	Lexer.Lex();
	EXPECT_EQ(Lexer.GetCurrentLine(), 3);
}

TEST(DefineLexer, NumberValues)
{
	CLexer Lexer("0xFFFFFFFF 017 4294967297 2.5 1e2 07", 36, "lex");
	const int32_t rgiIntegers[] = {-1, 15, 1};
	for (int32_t iExpected : rgiIntegers)
	{
		ASSERT_EQ(Lexer.Lex(), TK_INTEGER);
		EXPECT_EQ(Lexer.GetInteger(), iExpected);
	}
	ASSERT_EQ(Lexer.Lex(), TK_FLOAT);
	EXPECT_FLOAT_EQ(Lexer.GetFloat(), 2.5f);
	ASSERT_EQ(Lexer.Lex(), TK_FLOAT);
	EXPECT_FLOAT_EQ(Lexer.GetFloat(), 100.0f);
	ASSERT_EQ(Lexer.Lex(), TK_INTEGER);
	EXPECT_EQ(Lexer.GetInteger(), 7);
	EXPECT_EQ(Lexer.Lex(), 0);
}
