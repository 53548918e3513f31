#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "Network/BinaryStream.h"
#include "Network/Packet.h"

namespace
{
std::vector<uint8_t> BytesOf(Packet& Stream)
{
	return std::vector<uint8_t>(Stream.GetData(), Stream.GetData() + Stream.GetSize());
}

std::vector<uint8_t> Concat(std::vector<uint8_t> Head, const std::string& Tail)
{
	Head.insert(Head.end(), Tail.begin(), Tail.end());
	return Head;
}

struct tWriteCase
{
	const char* m_szName;
	std::function<bool(CBinaryWriter&)> m_pfnWrite;
	std::vector<uint8_t> m_Expected;
};

TEST(BinaryStreamTest, WriterEncodesLittleEndian)
{
	const uint16_t rgusWords[] = {1, 0x0203};
	const int32_t rgiInts[] = {-1, 2};
	const float rgfFloats[] = {1.0f, -2.0f};
	const CVector3D rgVectors[] = {CVector3D(1.0f, 0.0f, 0.0f), CVector3D(0.0f, 0.0f, -2.0f)};
	const tWriteCase rgCases[] = {
		{"uint8", [](CBinaryWriter& W) { return W.WriteUInt8(0xAB); }, {0xAB}},
		{"int16", [](CBinaryWriter& W) { return W.WriteInt16(-2); }, {0xFE, 0xFF}},
		{"uint16", [](CBinaryWriter& W) { return W.WriteUInt16(0x1234); }, {0x34, 0x12}},
		{"uint16 array", [&](CBinaryWriter& W) { return W.WriteUInt16(rgusWords, 2); }, {0x01, 0x00, 0x03, 0x02}},
		{"int32", [](CBinaryWriter& W) { return W.WriteInt32(-2); }, {0xFE, 0xFF, 0xFF, 0xFF}},
		{"int32 array", [&](CBinaryWriter& W) { return W.WriteInt32(rgiInts, 2); },
			{0xFF, 0xFF, 0xFF, 0xFF, 0x02, 0x00, 0x00, 0x00}},
		{"uint32", [](CBinaryWriter& W) { return W.WriteUInt32(0x01020304); }, {0x04, 0x03, 0x02, 0x01}},
		{"int64", [](CBinaryWriter& W) { return W.WriteInt64(0x0102030405060708LL); },
			{0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01}},
		{"single", [](CBinaryWriter& W) { return W.WriteSingle(1.0f); }, {0x00, 0x00, 0x80, 0x3F}},
		{"single array", [&](CBinaryWriter& W) { return W.WriteSingle(rgfFloats, 2); },
			{0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x00, 0xC0}},
		{"double", [](CBinaryWriter& W) { return W.WriteDouble(1.0); },
			{0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF0, 0x3F}},
		{"boolean true", [](CBinaryWriter& W) { return W.WriteBoolean(true); }, {0x01}},
		{"boolean false", [](CBinaryWriter& W) { return W.WriteBoolean(false); }, {0x00}},
		{"vector", [](CBinaryWriter& W) { return W.WriteVector3D(CVector3D(1.0f, -2.0f, 0.0f)); },
			{0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00}},
		{"vector array", [&](CBinaryWriter& W) { return W.WriteVector3D(rgVectors, 2); },
			{0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
				0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0}},
	};
	for (const tWriteCase& Case : rgCases)
	{
		Packet Stream;
		CBinaryWriter Writer(&Stream);
		EXPECT_TRUE(Case.m_pfnWrite(Writer)) << Case.m_szName;
		EXPECT_EQ(BytesOf(Stream), Case.m_Expected) << Case.m_szName;
	}
}

struct tVarIntCase
{
	int m_iValue;
	std::vector<uint8_t> m_Encoded;
};

const tVarIntCase g_rgVarIntCases[] = {
	{0, {0x00}},
	{1, {0x01}},
	{127, {0x7F}},
	{128, {0x80, 0x01}},
	{300, {0xAC, 0x02}},
	{16384, {0x80, 0x80, 0x01}},
	{0x7FFFFFFF, {0xFF, 0xFF, 0xFF, 0xFF, 0x07}},
	{-1, {0xFF, 0xFF, 0xFF, 0xFF, 0x0F}},
};

TEST(BinaryStreamTest, SevenBitNumbersRoundTrip)
{
	for (const tVarIntCase& Case : g_rgVarIntCases)
	{
		Packet Stream;
		CBinaryWriter Writer(&Stream);
		ASSERT_TRUE(Writer.Write7BitEncodedInt(Case.m_iValue));
		EXPECT_EQ(BytesOf(Stream), Case.m_Encoded) << Case.m_iValue;
		EXPECT_EQ(CBinaryWriter::Get7BitEncodedIntSize(Case.m_iValue), Case.m_Encoded.size()) << Case.m_iValue;

		CMemoryStream Input(Case.m_Encoded.data(), Case.m_Encoded.size());
		CBinaryReader Reader(&Input);
		int iValue = 0;
		EXPECT_TRUE(Reader.Read7BitEncodedInt(&iValue)) << Case.m_iValue;
		EXPECT_EQ(iValue, Case.m_iValue);
	}
}

TEST(BinaryStreamTest, SevenBitNumberFailsWhenCutOrTooLong)
{
	const std::vector<uint8_t> rgBad[] = {
		{},
		{0x80},
		{0xFF, 0xFF, 0xFF, 0xFF},
		{0x80, 0x80, 0x80, 0x80, 0x80, 0x00},
	};
	for (const std::vector<uint8_t>& Bytes : rgBad)
	{
		CMemoryStream Input(Bytes.data(), Bytes.size());
		CBinaryReader Reader(&Input);
		int iValue = 42;
		EXPECT_FALSE(Reader.Read7BitEncodedInt(&iValue)) << Bytes.size() << " bytes";
	}
}

struct tWriteStringCase
{
	const char* m_szName;
	const char* m_szText;
	size_t m_Length;
	std::vector<uint8_t> m_Expected;
};

TEST(BinaryStreamTest, WireStringIsLengthPrefixAndBytes)
{
	const std::string Text127(127, 'x');
	const std::string Text128(128, 'y');
	const tWriteStringCase rgCases[] = {
		{"abc", "abc", 3, {0x03, 'a', 'b', 'c'}},
		{"empty", "", 0, {0x00}},
		{"null", nullptr, 5, {0x00}},
		{"zero byte kept", "a\0b", 3, {0x03, 'a', 0x00, 'b'}},
		{"127 bytes", Text127.c_str(), 127, Concat({0x7F}, Text127)},
		{"128 bytes", Text128.c_str(), 128, Concat({0x80, 0x01}, Text128)},
	};
	for (const tWriteStringCase& Case : rgCases)
	{
		Packet Stream;
		CBinaryWriter Writer(&Stream);
		EXPECT_TRUE(Writer.WriteString(Case.m_szText, Case.m_Length)) << Case.m_szName;
		EXPECT_EQ(BytesOf(Stream), Case.m_Expected) << Case.m_szName;
		if (Case.m_szText)
		{
			EXPECT_EQ(CBinaryWriter::GetStringSize(Case.m_Length), Case.m_Expected.size()) << Case.m_szName;
		}
	}

	Packet Stream;
	CBinaryWriter Writer(&Stream);
	EXPECT_TRUE(Writer.WriteString("abc"));
	EXPECT_TRUE(Writer.WriteString(nullptr));
	EXPECT_EQ(BytesOf(Stream), (std::vector<uint8_t>{0x03, 'a', 'b', 'c', 0x00}));
}

TEST(BinaryStreamTest, WriteReportsAStreamThatIsFull)
{
	uint8_t rgucBuffer[3];
	CMemoryStream Small(rgucBuffer, sizeof(rgucBuffer), false, true);
	CBinaryWriter Writer(&Small);
	EXPECT_FALSE(Writer.WriteString("abc"));
}

struct tReadStringCase
{
	const char* m_szName;
	std::vector<uint8_t> m_Bytes;
	bool m_bValid;
	std::string m_Expected;
};

TEST(BinaryStreamTest, ReadStringChecksTheLengthAgainstWhatRemains)
{
	const std::string Text128(128, 'q');
	const tReadStringCase rgCases[] = {
		{"empty string", {0x00}, true, ""},
		{"abc", {0x03, 'a', 'b', 'c'}, true, "abc"},
		{"zero byte inside", {0x03, 'a', 0x00, 'b'}, true, std::string("a\0b", 3)},
		{"two-byte prefix", Concat({0x80, 0x01}, Text128), true, Text128},
		{"longer prefix than needed", {0x83, 0x00, 'a', 'b', 'c'}, true, "abc"},
		{"length exactly what remains", {0x02, 'h', 'i'}, true, "hi"},
		{"nothing at all", {}, false, ""},
		{"prefix cut", {0x80}, false, ""},
		{"text cut", {0x03, 'a', 'b'}, false, ""},
		{"prefix of six bytes", {0x80, 0x80, 0x80, 0x80, 0x80, 0x00}, false, ""},
		{"length beyond the message", {0x80, 0x80, 0x80, 0x80, 0x01, 'a'}, false, ""},
		{"length of 2^32 - 1", {0xFF, 0xFF, 0xFF, 0xFF, 0x0F, 'a'}, false, ""},
		{"length of 2^31", {0x80, 0x80, 0x80, 0x80, 0x08, 'a'}, false, ""},
	};
	for (const tReadStringCase& Case : rgCases)
	{
		CMemoryStream Input(Case.m_Bytes.data(), Case.m_Bytes.size());
		CBinaryReader Reader(&Input);
		size_t Length = 12345;
		char* szText = Reader.ReadString(&Length);
		if (!Case.m_bValid)
		{
			EXPECT_EQ(szText, nullptr) << Case.m_szName;
			free(szText);
			continue;
		}
		ASSERT_NE(szText, nullptr) << Case.m_szName;
		EXPECT_EQ(Length, Case.m_Expected.size()) << Case.m_szName;
		EXPECT_EQ(std::string(szText, Length), Case.m_Expected) << Case.m_szName;
		EXPECT_EQ(szText[Length], '\0') << Case.m_szName;
		EXPECT_EQ(Input.Tell(), static_cast<long>(Case.m_Bytes.size())) << Case.m_szName;
		free(szText);
	}
}

TEST(BinaryStreamTest, BoundedLengthCountsOnlyTheBytesAfterThePrefix)
{
	const std::vector<uint8_t> Fits = {0x00, 0x00, 0x03, 'a', 'b', 'c'};
	CMemoryStream Input(Fits.data(), Fits.size());
	ASSERT_TRUE(Input.Seek(2, 0));
	CBinaryReader Reader(&Input);
	size_t Length = 0;
	EXPECT_TRUE(Reader.ReadBoundedLength(Length));
	EXPECT_EQ(Length, 3u);

	const std::vector<uint8_t> OneTooMany = {0x04, 'a', 'b', 'c'};
	CMemoryStream Short(OneTooMany.data(), OneTooMany.size());
	CBinaryReader ShortReader(&Short);
	EXPECT_FALSE(ShortReader.ReadBoundedLength(Length));
}

TEST(BinaryStreamTest, NumbersRoundTripAndShortReadsFail)
{
	Packet Stream;
	CBinaryWriter Writer(&Stream);
	const uint32_t rguiPair[] = {7, 0xFFFFFFFE};
	ASSERT_TRUE(Writer.WriteUInt8(0x81));
	ASSERT_TRUE(Writer.WriteInt16(-300));
	ASSERT_TRUE(Writer.WriteUInt16(65000));
	ASSERT_TRUE(Writer.WriteInt32(-123456));
	ASSERT_TRUE(Writer.WriteUInt32(rguiPair, 2));
	ASSERT_TRUE(Writer.WriteInt64(-5000000000LL));
	ASSERT_TRUE(Writer.WriteSingle(3.5f));
	ASSERT_TRUE(Writer.WriteDouble(-0.25));
	ASSERT_TRUE(Writer.WriteUInt8(2));
	ASSERT_TRUE(Stream.Seek(0, 0));

	CBinaryReader Reader(&Stream);
	int8_t cSigned;
	int16_t sValue;
	uint16_t usValue;
	int32_t iValue;
	uint32_t rguiValues[2];
	int64_t llValue;
	float fValue;
	double dValue;
	bool bValue = false;
	ASSERT_TRUE(Reader.ReadInt8(&cSigned));
	ASSERT_TRUE(Reader.ReadInt16(&sValue));
	ASSERT_TRUE(Reader.ReadUInt16(&usValue));
	ASSERT_TRUE(Reader.ReadInt32(&iValue));
	ASSERT_TRUE(Reader.ReadUInt32(rguiValues, 2));
	ASSERT_TRUE(Reader.ReadInt64(&llValue));
	ASSERT_TRUE(Reader.ReadSingle(&fValue));
	ASSERT_TRUE(Reader.ReadDouble(&dValue));
	ASSERT_TRUE(Reader.ReadBoolean(bValue));
	EXPECT_EQ(cSigned, -127);
	EXPECT_EQ(sValue, -300);
	EXPECT_EQ(usValue, 65000);
	EXPECT_EQ(iValue, -123456);
	EXPECT_EQ(rguiValues[0], 7u);
	EXPECT_EQ(rguiValues[1], 0xFFFFFFFEu);
	EXPECT_EQ(llValue, -5000000000LL);
	EXPECT_EQ(fValue, 3.5f);
	EXPECT_EQ(dValue, -0.25);
	EXPECT_TRUE(bValue) << "any non-zero byte is true";

	const uint8_t rgucThree[] = {1, 2, 3};
	CMemoryStream Cut(rgucThree, sizeof(rgucThree));
	CBinaryReader CutReader(&Cut);
	uint32_t uiValue;
	EXPECT_FALSE(CutReader.ReadUInt32(&uiValue));
}
}
