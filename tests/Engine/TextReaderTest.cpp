#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Engine/KestrinStream.h"

namespace
{
Strong<CUnlimitedStream> MakeStream(const std::string& Bytes)
{
	Strong<CUnlimitedStream> pStream = Strong<CUnlimitedStream>::New(new CUnlimitedStream());
	pStream->Write(Bytes.data(), Bytes.size());
	pStream->Seek(0, 0);
	return pStream;
}

std::string StreamBytes(Stream* pStream)
{
	std::string Result;
	pStream->Seek(0, 0);
	char Buffer[64];
	size_t n;
	while ((n = pStream->Read(Buffer, sizeof(Buffer))) > 0)
		Result.append(Buffer, n);
	return Result;
}

std::vector<std::string> ReadLines(CTextReader& Reader, size_t Size)
{
	std::vector<std::string> Lines;
	std::vector<char> Buffer(Size);
	size_t Length = 0;
	while (Reader.ReadLine(Buffer.data(), Size, &Length))
	{
		EXPECT_EQ(Buffer[Length], '\0');
		Lines.emplace_back(Buffer.data(), Length);
	}
	return Lines;
}
}

TEST(TextReader, DetectsByteOrderMarksAndLoadsUTF8)
{
	struct tCase
	{
		const char* szName;
		std::string Bytes;
		std::string Text;
		eTextEncoding eEncoding;
	};
	const tCase Cases[] = {
		{"utf-8 mark", std::string("\xEF\xBB\xBF" "abc"), "abc", TEXT_ENCODING_UTF8},
		{"no mark", "abc", "abc", TEXT_ENCODING_UTF8},
		{"empty", "", "", TEXT_ENCODING_UTF8},
		{"one byte", "a", "a", TEXT_ENCODING_UTF8},
		{"cut utf-8 mark", "\xEF\xBB", "\xEF\xBB", TEXT_ENCODING_UTF8},
		{"utf-16le ascii", std::string("\xFF\xFE" "a\0b\0", 6), "ab", TEXT_ENCODING_UTF16},
		{"utf-16le odd last byte", std::string("\xFF\xFE" "a\0b", 5), "a", TEXT_ENCODING_UTF16},
		{"utf-16le four-byte mark", std::string("\xFF\xFE\0\0", 4), std::string("\0", 1), TEXT_ENCODING_UTF16},
		{"utf-16le latin", std::string("\xFF\xFE\xE9\x00", 4), "\xC3\xA9", TEXT_ENCODING_UTF16},
		{"utf-16le three bytes", std::string("\xFF\xFE\xAC\x20", 4), "\xE2\x82\xAC", TEXT_ENCODING_UTF16},
		{"utf-16le surrogate pair", std::string("\xFF\xFE\x3D\xD8\x00\xDE", 6), "\xF0\x9F\x98\x80", TEXT_ENCODING_UTF16},
		{"utf-16le unpaired high", std::string("\xFF\xFE\x3D\xD8" "A\0", 6), "\xEF\xBF\xBD" "A", TEXT_ENCODING_UTF16},
		{"utf-16le high at end", std::string("\xFF\xFE\x3D\xD8", 4), "\xEF\xBF\xBD", TEXT_ENCODING_UTF16},
		{"utf-16le lone low", std::string("\xFF\xFE\x00\xDC" "A\0", 6), "\xEF\xBF\xBD" "A", TEXT_ENCODING_UTF16},
	};
	for (const tCase& Case : Cases)
	{
		Strong<CUnlimitedStream> pStream = MakeStream(Case.Bytes);
		CTextReader Reader(pStream);
		ASSERT_TRUE(Reader.Load()) << Case.szName;
		EXPECT_EQ(Reader.GetEncoding(), Case.eEncoding) << Case.szName;
		EXPECT_EQ(std::string(Reader.GetText(), Reader.GetTextLength()), Case.Text) << Case.szName;
		EXPECT_EQ(Reader.GetText()[Reader.GetTextLength()], '\0') << Case.szName;
		char Buffer[16];
		size_t n = Reader.Read(Buffer, sizeof(Buffer));
		EXPECT_EQ(std::string(Buffer, n), Case.Text) << Case.szName;
		EXPECT_EQ(Reader.Read(Buffer, sizeof(Buffer)), 0u) << Case.szName;
	}
}

TEST(TextReader, RefusesBigEndianAndUTF32ForGood)
{
	const std::string Cases[] = {
		std::string("\xFE\xFF\0a", 4),
		std::string("\0\0\xFE\xFF\0\0\0a", 8),
	};
	for (const std::string& Bytes : Cases)
	{
		Strong<CUnlimitedStream> pStream = MakeStream(Bytes);
		CTextReader Reader(pStream);
		EXPECT_FALSE(Reader.Load());
		EXPECT_FALSE(Reader.Load());
		char Buffer[8];
		size_t Length;
		char32_t c;
		EXPECT_EQ(Reader.Read(Buffer, sizeof(Buffer)), 0u);
		EXPECT_FALSE(Reader.ReadLine(Buffer, sizeof(Buffer), &Length));
		EXPECT_FALSE(Reader.ReadCharacter(c));
	}
}

TEST(TextReader, LoadsFromTheStreamsCurrentPosition)
{
	Strong<CUnlimitedStream> pStream = MakeStream("xx\xEF\xBB\xBF" "abc");
	pStream->Seek(2, 0);
	CTextReader Reader(pStream);
	char Buffer[8];
	size_t n = Reader.Read(Buffer, sizeof(Buffer));
	EXPECT_EQ(std::string(Buffer, n), "abc");
}

TEST(TextReader, ReadLineSplitsLines)
{
	struct tCase
	{
		const char* szName;
		std::string Bytes;
		size_t Size;
		std::vector<std::string> Lines;
	};
	const std::string Long64(64, 'x');
	const std::string Long300(300, 'y');
	const tCase Cases[] = {
		{"crlf", "a\r\nb", 128, {"a", "b"}},
		{"empty stream", "", 128, {}},
		{"empty lines", "\nx\n\r\n", 128, {"", "x", ""}},
		{"last line of 64", Long64, 128, {Long64}},
		{"line longer than a chunk", Long300 + "\nz", 1024, {Long300, "z"}},
		{"exact fit before break", "abcdefg\nh", 8, {"abcdefg", "h"}},
		{"exact fit before crlf", "abcdefg\r\nh", 8, {"abcdefg", "h"}},
		{"exact fit at end", "abcdefg", 8, {"abcdefg"}},
		{"only an empty line fits", "\n\n", 1, {"", ""}},
		{"utf-8 mark skipped", "\xEF\xBB\xBF" "one\ntwo\n", 128, {"one", "two"}},
	};
	for (const tCase& Case : Cases)
	{
		Strong<CUnlimitedStream> pStream = MakeStream(Case.Bytes);
		CTextReader Reader(pStream);
		EXPECT_EQ(ReadLines(Reader, Case.Size), Case.Lines) << Case.szName;
	}
}

TEST(TextReader, ReadLineRefusesALineThatDoesNotFit)
{
	Strong<CUnlimitedStream> pStream = MakeStream("abcdefgh\nnext\n");
	CTextReader Reader(pStream);
	char Buffer[8];
	size_t Length = 99;
	EXPECT_FALSE(Reader.ReadLine(Buffer, sizeof(Buffer), &Length));
	EXPECT_EQ(std::string(Buffer), "abcdefg");
	EXPECT_EQ(Length, 99u);
}

TEST(TextReader, ReadCharacterDecodesUTF8)
{
	struct tResult
	{
		bool bOk;
		char32_t c;
	};
	struct tCase
	{
		const char* szName;
		std::string Bytes;
		std::vector<tResult> Results; // followed by one false at the end of the text
	};
	const tCase Cases[] = {
		{"ascii", "A", {{true, U'A'}}},
		{"two bytes", "\xC3\xA9", {{true, 0xE9}}},
		{"three bytes", "\xE2\x82\xAC", {{true, 0x20AC}}},
		{"four bytes", "\xF0\x9F\x98\x80", {{true, 0x1F600}}},
		{"bad continuation", "\xC3\x41", {{false, 0}}},
		{"cut by the end", "\xE2\x82", {{false, 0}}},
		{"stray continuation", "\x80\x41", {{true, 0xFFFD}, {true, U'A'}}},
		{"lead byte F8", "\xF8\x41", {{true, 0xFFFD}, {true, U'A'}}},
		{"lead byte FF", "\xFF", {{true, 0xFFFD}}},
	};
	for (const tCase& Case : Cases)
	{
		Strong<CUnlimitedStream> pStream = MakeStream(Case.Bytes);
		CTextReader Reader(pStream);
		for (const tResult& Expected : Case.Results)
		{
			char32_t c = 0x12345;
			EXPECT_EQ(Reader.ReadCharacter(c), Expected.bOk) << Case.szName;
			if (Expected.bOk)
			{
				EXPECT_EQ(c, Expected.c) << Case.szName;
			}
		}
		char32_t c;
		EXPECT_FALSE(Reader.ReadCharacter(c)) << Case.szName;
	}
}

TEST(TextWriter, StartsAnEmptyStreamWithTheByteOrderMark)
{
	Strong<CUnlimitedStream> pStream = Strong<CUnlimitedStream>::New(new CUnlimitedStream());
	CTextWriter Writer(pStream);
	EXPECT_TRUE(Writer.Write("hi", 2));
	EXPECT_TRUE(Writer.Print(" %d-%s", 7, "x"));
	EXPECT_EQ(StreamBytes(pStream), "\xEF\xBB\xBF" "hi 7-x");

	pStream->Seek(0, 0);
	CTextReader Reader(pStream);
	char Buffer[16];
	size_t Length;
	ASSERT_TRUE(Reader.ReadLine(Buffer, sizeof(Buffer), &Length));
	EXPECT_EQ(std::string(Buffer, Length), "hi 7-x");
}

TEST(TextWriter, WritesNoMarkAfterTheStart)
{
	Strong<CUnlimitedStream> pStream = MakeStream("old");
	pStream->Seek(0, 2);
	CTextWriter Writer(pStream);
	EXPECT_TRUE(Writer.Write("new", 3));
	EXPECT_EQ(StreamBytes(pStream), "oldnew");
}

TEST(TextWriter, OtherEncodingsGetTheirMarkButNoText)
{
	struct tCase
	{
		eTextEncoding eEncoding;
		bool bBigEndian;
		std::string Mark;
	};
	const tCase Cases[] = {
		{TEXT_ENCODING_UTF16, false, "\xFF\xFE"},
		{TEXT_ENCODING_UTF16, true, "\xFE\xFF"},
		{TEXT_ENCODING_UTF32, false, std::string("\xFF\xFE\0\0", 4)},
		{TEXT_ENCODING_UTF32, true, std::string("\0\0\xFE\xFF", 4)},
	};
	for (const tCase& Case : Cases)
	{
		Strong<CUnlimitedStream> pStream = Strong<CUnlimitedStream>::New(new CUnlimitedStream());
		CTextWriter Writer(pStream, Case.eEncoding, Case.bBigEndian);
		EXPECT_FALSE(Writer.Write("hi", 2));
		EXPECT_EQ(StreamBytes(pStream), Case.Mark);
	}
}

TEST(TextWriter, ReportsAShortWrite)
{
	char Block[5] = {};
	Strong<CMemoryStream> pStream = Strong<CMemoryStream>::New(new CMemoryStream(Block, sizeof(Block), true, true));
	CTextWriter Writer(pStream);
	EXPECT_FALSE(Writer.Write("hello", 5));
	EXPECT_TRUE(Writer.Write("ab", 2));
}
