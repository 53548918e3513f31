#include <gtest/gtest.h>

#include <malloc.h>
#if defined(__SANITIZE_ADDRESS__)
// The sanitizer runtime's count of the heap bytes in use (its header is not installed with every compiler).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "Engine/BaseObject.h"
#include "Engine/Context.h"
#include "Engine/KAssert.h"
#include "Engine/KestrinArguments.h"
#include "Engine/KestrinNative.h"
#include "Engine/KestrinStream.h"
#include "Engine/Reflection.h"

namespace
{
typedef std::vector<uint8_t> tBytes;

tBytes Hex(const char* szHex)
{
	tBytes Bytes;
	const char* p = szHex;
	while (*p)
	{
		if (*p == ' ')
		{
			p++;
			continue;
		}
		Bytes.push_back(static_cast<uint8_t>(strtoul(std::string(p, 2).c_str(), nullptr, 16)));
		p += 2;
	}
	return Bytes;
}

tBytes Concat(std::initializer_list<tBytes> Parts)
{
	tBytes All;
	for (const tBytes& Part : Parts)
		All.insert(All.end(), Part.begin(), Part.end());
	return All;
}

tBytes Repeat(const tBytes& Part, size_t Count)
{
	tBytes All;
	for (size_t i = 0; i < Count; i++)
		All.insert(All.end(), Part.begin(), Part.end());
	return All;
}

// The type byte and payload, or nothing with bOk false when the write fails.
tBytes Encode(const CArgument* pValue, bool* pbOk = nullptr)
{
	Strong<CUnlimitedStream> pStream = Strong<CUnlimitedStream>::New(new CUnlimitedStream());
	bool bOk = CArgument::WriteTyped(pStream, pValue);
	if (pbOk)
		*pbOk = bOk;
	return tBytes(pStream->GetData(), pStream->GetData() + pStream->GetSize());
}

Strong<CArgument> Decode(const tBytes& Bytes, IArgumentResolver* pResolver = nullptr, long* plConsumed = nullptr)
{
	Strong<CMemoryStream> pStream =
		Strong<CMemoryStream>::New(new CMemoryStream(static_cast<const void*>(Bytes.data()), Bytes.size()));
	Strong<CArgument> pValue = Strong<CArgument>::New(CArgument::ReadTyped(pStream, pResolver));
	if (plConsumed)
		*plConsumed = pStream->Tell();
	return pValue;
}

CArgumentArray* MakeArray(std::initializer_list<CArgument*> Elements)
{
	CArgumentArray* pArray = new CArgumentArray();
	for (CArgument* pElement : Elements)
		pArray->AddAndOwn(pElement);
	return pArray;
}

CArgumentMap* MakeMap(std::initializer_list<std::pair<const char*, CArgument*>> Entries)
{
	CArgumentMap* pMap = new CArgumentMap();
	for (const auto& Entry : Entries)
		pMap->Set(Entry.first, Entry.second);
	return pMap;
}

CMatrix4x4 CountingMatrix()
{
	float rgfValues[16];
	for (int i = 0; i < 16; i++)
		rgfValues[i] = static_cast<float>(i + 1);
	CMatrix4x4 Matrix;
	Matrix.FromArray(rgfValues);
	return Matrix;
}

// Arrays nested Depth deep, the innermost one empty.
CArgument* NestedArrays(unsigned Depth)
{
	CArgumentArray* pInner = new CArgumentArray();
	for (unsigned i = 1; i < Depth; i++)
		pInner = MakeArray({pInner});
	return pInner;
}

class CTestObject : public CBaseObject
{
};

class CTestFunction : public CFunction
{
public:
	CTestFunction() : CFunction(nullptr) {}
	bool Call(const CArgumentArray&, CReturnValue*) override { return true; }
};

// Stands in for the replication manager: element values carry a network id that it turns into an object.
class CTestResolver : public IArgumentResolver
{
public:
	CArgument* CreateArgument(uint8_t ucType) override;

	std::map<int32_t, CBaseObject*> m_Objects;
};

class CTestElementValue : public CArgumentObject
{
public:
	explicit CTestElementValue(int32_t iId = -1, CBaseObject* pObject = nullptr)
		: CArgumentObject(pObject, ARGUMENT_NETOBJECT), m_iId(iId)
	{
	}

	bool Read(Stream* pStream) override
	{
		if (pStream->Read(&m_iId, 4) != 4)
			return false;
		CTestResolver* pResolver = static_cast<CTestResolver*>(GetResolver());
		auto It = pResolver ? pResolver->m_Objects.find(m_iId) : std::map<int32_t, CBaseObject*>::iterator();
		SetObject(pResolver && It != pResolver->m_Objects.end() ? It->second : nullptr);
		return true;
	}
	bool GetSize(size_t& Size) const override
	{
		Size = 4;
		return true;
	}
	bool Write(Stream* pStream) const override { return pStream->Write(&m_iId, 4) == 4; }
	CArgument* Clone() const override
	{
		CTestElementValue* pClone = new CTestElementValue(m_iId, GetObject());
		pClone->SetResolver(GetResolver());
		return pClone;
	}

	int32_t m_iId;
};

CArgument* CTestResolver::CreateArgument(uint8_t ucType)
{
	return ucType == ARGUMENT_NETOBJECT ? new CTestElementValue() : nullptr;
}

// The bytes the heap holds now, in the sanitizer build as in the normal one.
size_t HeapInUse()
{
#if defined(__SANITIZE_ADDRESS__)
	return __sanitizer_get_current_allocated_bytes();
#else
	struct mallinfo2 Info = mallinfo2();
	return Info.uordblks + Info.hblkhd;
#endif
}

// A stream over the bytes that notes the most the heap held above its level at the start, at each read: every
// container being read has reserved by the time its next element is read.
class CHeapWatchingStream : public CMemoryStream
{
public:
	explicit CHeapWatchingStream(const tBytes& Bytes)
		: CMemoryStream(static_cast<const void*>(Bytes.data()), Bytes.size()), m_Baseline(HeapInUse()), m_Peak(0)
	{
	}

	size_t Read(void* pDst, size_t n) override
	{
		const size_t InUse = HeapInUse();
		if (InUse > m_Baseline && InUse - m_Baseline > m_Peak)
			m_Peak = InUse - m_Baseline;
		return CMemoryStream::Read(pDst, n);
	}

	size_t GetPeak() const { return m_Peak; }

private:
	size_t m_Baseline;
	size_t m_Peak;
};

class ArgumentsTest : public ::testing::Test
{
protected:
	ArgumentsTest() : m_bSavedAsserts(g_bAsserts) { g_bAsserts = false; }
	~ArgumentsTest() override { g_bAsserts = m_bSavedAsserts; }

	bool m_bSavedAsserts;
	Context m_Context;
};
}

TEST_F(ArgumentsTest, LengthPrefixUsesSevenBitGroupsLowFirst)
{
	const struct
	{
		size_t Length;
		const char* szHex;
	} Cases[] = {
		{0, "00"},
		{127, "7F"},
		{128, "80 01"},
		{300, "AC 02"},
		{0x7FFFFFFF, "FF FF FF FF 07"},
	};
	for (const auto& Case : Cases)
	{
		Strong<CUnlimitedStream> pStream = Strong<CUnlimitedStream>::New(new CUnlimitedStream());
		ASSERT_TRUE(KWriteLengthPrefix(pStream, Case.Length));
		EXPECT_EQ(Hex(Case.szHex), tBytes(pStream->GetData(), pStream->GetData() + pStream->GetSize()));
		EXPECT_EQ(Hex(Case.szHex).size(), KGetLengthPrefixSize(Case.Length));

		pStream->Seek(0, 0);
		size_t Length = 0;
		ASSERT_TRUE(KReadLengthPrefix(pStream, Length)) << Case.szHex;
		EXPECT_EQ(Case.Length, Length);
	}

	Strong<CUnlimitedStream> pStream = Strong<CUnlimitedStream>::New(new CUnlimitedStream());
	EXPECT_FALSE(KWriteLengthPrefix(pStream, size_t(0x80000000)));
}

TEST_F(ArgumentsTest, EncodingIsByteExact)
{
	const struct
	{
		const char* szName;
		std::function<CArgument*()> Make;
		tBytes Expected;
	} Cases[] = {
		{"null", [] { return CArgument::Create(ARGUMENT_NIL); }, Hex("00")},
		{"undefined", [] { return CArgument::Create(ARGUMENT_UNDEFINED); }, Hex("0C")},
		{"false", [] { return new CArgumentBoolean(false); }, Hex("01 00")},
		{"true", [] { return new CArgumentBoolean(true); }, Hex("01 01")},
		{"empty string", [] { return new CArgumentString("", 0); }, Hex("02 00")},
		{"abc", [] { return new CArgumentString("abc", 3); }, Hex("02 03 61 62 63")},
		{"zero byte inside", [] { return new CArgumentString("a\0b", 3); }, Hex("02 03 61 00 62")},
		{"128 bytes", [] { return new CArgumentString(std::string(128, 'x').c_str(), 128); },
			Concat({Hex("02 80 01"), tBytes(128, 'x')})},
		{"integer 1", [] { return new CArgumentInteger(1); }, Hex("04 01 00 00 00")},
		{"integer -2", [] { return new CArgumentInteger(-2); }, Hex("04 FE FF FF FF")},
		{"float 1.5", [] { return new CArgumentFloat(1.5f); }, Hex("05 00 00 C0 3F")},
		{"long -1", [] { return new CArgumentLongInteger(-1); }, Hex("0F FF FF FF FF FF FF FF FF")},
		{"double 1", [] { return new CArgumentDouble(1.0); }, Hex("10 00 00 00 00 00 00 F0 3F")},
		{"vector2", [] { return new CArgumentVector2D(CVector2D(1.0f, -2.0f)); }, Hex("08 00 00 80 3F 00 00 00 C0")},
		{"vector3", [] { return new CArgumentVector3D(CVector3D(0.0f, 1.0f, 2.0f)); },
			Hex("09 00 00 00 00 00 00 80 3F 00 00 00 40")},
		{"matrix", [] { return new CArgumentMatrix4x4(CountingMatrix()); },
			Hex("0B 00 00 80 3F 00 00 00 40 00 00 40 40 00 00 80 40 00 00 A0 40 00 00 C0 40 00 00 E0 40 00 00 00 41"
				" 00 00 10 41 00 00 20 41 00 00 30 41 00 00 40 41 00 00 50 41 00 00 60 41 00 00 70 41 00 00 80 41")},
		{"array [true, 5]", [] { return MakeArray({new CArgumentBoolean(true), new CArgumentInteger(5)}); },
			Hex("11 02 01 01 04 05 00 00 00")},
		{"empty array", [] { return new CArgumentArray(); }, Hex("11 00")},
		{"map {a: null}", [] { return MakeMap({{"a", CArgument::Create(ARGUMENT_NIL)}}); }, Hex("12 01 00 01 61")},
		{"map {'': undefined}", [] { return MakeMap({{"", CArgument::Create(ARGUMENT_UNDEFINED)}}); },
			Hex("12 01 0C 00")},
		{"empty map", [] { return new CArgumentMap(); }, Hex("12 00")},
		{"function", [] { return new CArgumentFunction(); }, Hex("13")},
		{"empty bytes", [] { return new CArgumentBytes(nullptr, 0); }, Hex("15 00")},
		{"bytes", [] {
			 const uint8_t rgucData[] = {0xDE, 0xAD};
			 return new CArgumentBytes(rgucData, 2);
		 },
			Hex("15 02 DE AD")},
	};
	for (const auto& Case : Cases)
	{
		SCOPED_TRACE(Case.szName);
		Strong<CArgument> pValue = Strong<CArgument>::New(Case.Make());
		bool bOk = false;
		EXPECT_EQ(Case.Expected, Encode(pValue, &bOk));
		EXPECT_TRUE(bOk);

		size_t Size = 0;
		ASSERT_TRUE(pValue->GetSize(Size));
		EXPECT_EQ(Case.Expected.size() - 1, Size);

		// Reading the bytes back gives a value of the same tag that encodes the same way, using every byte.
		long lConsumed = 0;
		Strong<CArgument> pRead = Decode(Case.Expected, nullptr, &lConsumed);
		ASSERT_FALSE(pRead.IsNull());
		EXPECT_EQ(pValue->GetType(), pRead->GetType());
		EXPECT_EQ(Case.Expected, Encode(pRead));
		EXPECT_EQ(static_cast<long>(Case.Expected.size()), lConsumed);
	}
}

TEST_F(ArgumentsTest, ReadBackKeepsEveryPayload)
{
	Strong<CArgument> pString = Decode(Hex("02 03 61 00 62"));
	size_t Length = 0;
	const char* szText = pString->ToString(&Length);
	EXPECT_EQ(3u, Length);
	EXPECT_EQ(0, memcmp(szText, "a\0b", 4)); // terminated after the length

	EXPECT_TRUE(Decode(Hex("01 07"))->ToBoolean()); // any non-zero byte is true

	int32_t iValue = 0;
	Decode(Hex("04 FE FF FF FF"))->ToNumber(iValue);
	EXPECT_EQ(-2, iValue);

	double dValue = 0;
	Decode(Hex("10 00 00 00 00 00 00 F0 BF"))->ToNumber(dValue);
	EXPECT_EQ(-1.0, dValue);

	CVector3D vecValue;
	Decode(Encode(Strong<CArgument>::New(new CArgumentVector3D(CVector3D(1.5f, -2.0f, 3.25f)))))->ToVector3D(vecValue);
	EXPECT_EQ(1.5f, vecValue.x);
	EXPECT_EQ(-2.0f, vecValue.y);
	EXPECT_EQ(3.25f, vecValue.z);

	CMatrix4x4 Matrix;
	Decode(Encode(Strong<CArgument>::New(new CArgumentMatrix4x4(CountingMatrix()))))->ToMatrix4x4(Matrix);
	EXPECT_EQ(1.0f, Matrix.m11);
	EXPECT_EQ(8.0f, Matrix.m24);
	EXPECT_EQ(13.0f, Matrix.m41);
	EXPECT_EQ(16.0f, Matrix.m44);

	Strong<CArgument> pBytes = Decode(Hex("15 00"));
	size_t BytesLength = 99;
	pBytes->ToBytes(BytesLength);
	EXPECT_EQ(0u, BytesLength);

	Strong<CArgument> pMap = Decode(Hex("12 02 04 01 78 07 00 00 00 02 01 79 02 68 69"));
	CArgumentMap* pEntries = static_cast<CArgumentMap*>(pMap.GetPointer());
	ASSERT_EQ(2u, pEntries->GetCount());
	ASSERT_NE(nullptr, pEntries->Get("x"));
	pEntries->Get("x")->ToNumber(iValue);
	EXPECT_EQ(7, iValue);
	EXPECT_STREQ("hi", pEntries->Get("y")->ToString());
}

TEST_F(ArgumentsTest, FunctionValueTravelsWithoutItsFunction)
{
	CTestFunction* pFunction = new CTestFunction();
	Strong<CArgument> pValue = Strong<CArgument>::New(new CArgumentFunction(pFunction));
	EXPECT_EQ(2, pFunction->GetRefCount());
	EXPECT_EQ(Hex("13"), Encode(pValue));

	Strong<CArgument> pRead = Decode(Hex("13"));
	ASSERT_FALSE(pRead.IsNull());
	EXPECT_TRUE(pRead->IsFunction());
	EXPECT_EQ(nullptr, pRead->ToFunction());

	pValue.SetNull();
	EXPECT_EQ(1, pFunction->GetRefCount());
	pFunction->Release();
}

TEST_F(ArgumentsTest, MalformedInputFailsTheRead)
{
	const struct
	{
		const char* szName;
		tBytes Bytes;
	} Cases[] = {
		{"no type byte", tBytes()},
		{"tag without values", Hex("03")},
		{"object tag", Hex("07")},
		{"element without resolver", Hex("06 01 00 00 00")},
		{"unknown tag", Hex("C8")},
		{"truncated boolean", Hex("01")},
		{"truncated integer", Hex("04 01 00")},
		{"truncated float", Hex("05 00 00 80")},
		{"truncated long", Hex("0F FF FF FF FF FF FF FF")},
		{"truncated double", Hex("10 00 00")},
		{"truncated vector2", Hex("08 00 00 80 3F 00 00")},
		{"truncated vector3", Hex("09 00 00 80 3F 00 00 80 3F")},
		{"truncated matrix", Concat({Hex("0B"), tBytes(63, 0)})},
		{"string shorter than its length", Hex("02 05 61 62")},
		{"string length prefix cut off", Hex("02 80")},
		{"string length near 2^31", Concat({Hex("02 FF FF FF FF 07"), tBytes(16, 'a')})},
		{"string length of 2^31", Hex("02 80 80 80 80 08")},
		{"string length with a sixth byte", Hex("02 80 80 80 80 80 01")},
		{"bytes shorter than their length", Hex("15 03 01 02")},
		{"bytes length near 2^31", Hex("15 FE FF FF FF 07 00")},
		{"array announcing more than remains", Hex("11 05 00 00")},
		{"array element cut off", Hex("11 02 01 01 04 05")},
		{"array element missing", Hex("11 03 01 01 0C")},
		{"array with object element", Hex("11 01 07")},
		{"map count of 2^31 - 1", Hex("12 FF FF FF FF 07 00 00")},
		{"map count larger than the bytes can hold", Hex("12 03 00 00 00 00")},
		{"map count prefix broken", Hex("12 80")},
		{"map count with a sixth byte", Hex("12 80 80 80 80 80 01")},
		{"map key shorter than its length", Hex("12 01 00 05 61 62")},
		{"map key length huge", Hex("12 01 00 FF FF FF FF 07 61")},
		{"map value cut off", Hex("12 01 04 01 61 01 00")},
		{"map entry without key", Hex("12 01 00")},
		{"map with unknown tag", Hex("12 01 C8 01 61")},
		{"arrays nested 65 deep", Concat({Repeat(Hex("11 01"), 64), Hex("11 00")})},
		{"maps nested 66 deep", Concat({Hex("12"), Repeat(Hex("01 12 01 61"), 65), Hex("00")})},
		{"arrays and maps nested 67 deep", Concat({Hex("11"), Repeat(Hex("01 12 01 11 01 61"), 33), Hex("00")})},
	};
	for (const auto& Case : Cases)
	{
		SCOPED_TRACE(Case.szName);
		EXPECT_TRUE(Decode(Case.Bytes).IsNull());
	}
}

TEST_F(ArgumentsTest, NestingUpToTheCapReadsAndWrites)
{
	const tBytes Bytes = Concat({Repeat(Hex("11 01"), 63), Hex("11 00")});
	Strong<CArgument> pRead = Decode(Bytes);
	ASSERT_FALSE(pRead.IsNull());
	EXPECT_EQ(Bytes, Encode(pRead));

	Strong<CArgument> pTooDeep = Strong<CArgument>::New(NestedArrays(65));
	bool bOk = true;
	Encode(pTooDeep, &bOk);
	EXPECT_FALSE(bOk);
	size_t Size;
	EXPECT_FALSE(pTooDeep->GetSize(Size));

	// A failed read leaves nothing behind that would limit the next one.
	EXPECT_TRUE(Decode(Concat({Repeat(Hex("11 01"), 64), Hex("11 00")})).IsNull());
	EXPECT_FALSE(Decode(Bytes).IsNull());
}

// Every container may only reserve for elements that fit in the bytes that its enclosing containers' later
// elements leave over, so what a value reserves while it is read stays proportional to its size.
TEST_F(ArgumentsTest, ReservationsAcrossTheNestingStayWithinTheInput)
{
	// 64 nested maps, each announcing as many entries as the bytes after it could hold were it alone, and none of
	// them there: 1 MiB of input.
	constexpr size_t INPUT_SIZE = 1 << 20;
	tBytes Bytes;
	Bytes.push_back(ARGUMENT_MAP);
	for (int i = 0; i < 64; i++)
	{
		// The count takes at most three bytes.
		size_t Count = (INPUT_SIZE - Bytes.size() - 3) / 2;
		for (; Count >= 0x80; Count >>= 7)
			Bytes.push_back(static_cast<uint8_t>(Count | 0x80));
		Bytes.push_back(static_cast<uint8_t>(Count));
		// The first entry: another map under the empty key.
		Bytes.push_back(ARGUMENT_MAP);
		Bytes.push_back(0);
	}
	Bytes.resize(INPUT_SIZE, 0xC8);

	Strong<CHeapWatchingStream> pStream = Strong<CHeapWatchingStream>::New(new CHeapWatchingStream(Bytes));
	EXPECT_EQ(CArgument::ReadTyped(pStream, nullptr), nullptr);
	EXPECT_LT(pStream->GetPeak(), 8 * INPUT_SIZE);
}

TEST_F(ArgumentsTest, ContainersAtTheirSmallestSizeStillRead)
{
	const char* const rgszCases[] = {
		"11 02 12 01 00 00 00",			 // [{"": nil}, nil]
		"12 02 11 00 00 12 00 00",		 // {"": [], "": {}}, the later of the two equal keys kept
		"11 03 11 01 00 11 01 00 00",	 // [[nil], [nil], nil]
		"12 01 12 00 01 12 00 01 00 00", // {"": {"": {"": nil}}}
	};
	for (const char* szHex : rgszCases)
		EXPECT_FALSE(Decode(Hex(szHex)).IsNull()) << szHex;
}

TEST_F(ArgumentsTest, UnknownElementTagsAreLoggedWithTheirName)
{
	const struct
	{
		tBytes Bytes;
		const char* szWarning;
	} Cases[] = {
		{Hex("11 01 0D"), "CArgument::Create(ARGUMENT_LUAREF) - Failed. (Argument 1 of 1)"},
		{Hex("11 01 0E"), "CArgument::Create(ARGUMENT_JSVALUE) - Failed. (Argument 1 of 1)"},
		{Hex("11 02 00 14"), "CArgument::Create(ARGUMENT_SQREF) - Failed. (Argument 2 of 2)"},
		{Hex("11 01 C8"), "CArgument::Create(unknown) - Failed. (Argument 1 of 1)"},
		{Hex("12 01 C8 01 61"), "CArgument::Create(unknown) - Failed"},
		{Hex("12 01 06 01 61 01 00 00 00"), "CArgument::Create(ARGUMENT_NETOBJECT) - Failed"},
	};
	for (const auto& Case : Cases)
	{
		testing::internal::CaptureStdout();
		Strong<CArgument> pValue = Decode(Case.Bytes);
		const std::string Console = testing::internal::GetCapturedStdout();
		EXPECT_TRUE(pValue.IsNull());
		EXPECT_EQ(std::string("\x1b[33;1m") + Case.szWarning + "\x1b[0;0m\n", Console);
	}
}

TEST_F(ArgumentsTest, MissingContainerCountReadsAsEmpty)
{
	for (const char* szHex : {"11", "12"})
	{
		Strong<CArgument> pValue = Decode(Hex(szHex));
		ASSERT_FALSE(pValue.IsNull()) << szHex;
		EXPECT_EQ(Concat({Hex(szHex), Hex("00")}), Encode(pValue));
	}
}

TEST_F(ArgumentsTest, WritingWhatCannotCrossTheWireFails)
{
	CTestObject* pObject = new CTestObject();
	const struct
	{
		const char* szName;
		std::function<CArgument*()> Make;
	} Cases[] = {
		{"object", [&] { return new CArgumentObject(pObject); }},
		{"script reference", [] { return new CArgument(ARGUMENT_LUAREF); }},
		{"javascript value", [] { return new CArgument(ARGUMENT_JSVALUE); }},
		{"squirrel reference", [] { return new CArgument(ARGUMENT_SQREF); }},
		{"array holding an object", [&] { return MakeArray({new CArgumentInteger(1), new CArgumentObject(pObject)}); }},
		{"map holding an object", [&] { return MakeMap({{"o", new CArgumentObject(pObject)}}); }},
		{"nested script reference", [] { return MakeArray({MakeMap({{"r", new CArgument(ARGUMENT_LUAREF)}})}); }},
		{"array of 256 elements", [] {
			 CArgumentArray* pArray = new CArgumentArray();
			 for (int i = 0; i < 256; i++)
				 pArray->AddNull();
			 return pArray;
		 }},
	};
	for (const auto& Case : Cases)
	{
		SCOPED_TRACE(Case.szName);
		Strong<CArgument> pValue = Strong<CArgument>::New(Case.Make());
		Strong<CUnlimitedStream> pStream = Strong<CUnlimitedStream>::New(new CUnlimitedStream());
		EXPECT_FALSE(pValue->Write(pStream));
		size_t Size = 12345;
		EXPECT_FALSE(pValue->GetSize(Size));
	}
	EXPECT_EQ(1, pObject->GetRefCount());
	pObject->Release();

	// An array of exactly 255 elements still fits its count byte.
	Strong<CArgumentArray> pArray = Strong<CArgumentArray>::New(new CArgumentArray());
	for (int i = 0; i < 255; i++)
		pArray->AddNull();
	bool bOk = false;
	tBytes Bytes = Encode(pArray, &bOk);
	EXPECT_TRUE(bOk);
	ASSERT_EQ(257u, Bytes.size());
	EXPECT_EQ(0xFF, Bytes[1]);

	// A too-long array writes nothing at all.
	pArray->AddNull();
	Strong<CUnlimitedStream> pStream = Strong<CUnlimitedStream>::New(new CUnlimitedStream());
	EXPECT_FALSE(pArray->Write(pStream));
	EXPECT_EQ(0u, pStream->GetSize());
}

TEST_F(ArgumentsTest, ElementValuesInContainersResolveThroughTheResolver)
{
	CTestObject* pObject = new CTestObject();
	CTestResolver Resolver;
	Resolver.m_Objects[7] = pObject;

	const tBytes ArrayBytes = Hex("11 02 06 07 00 00 00 06 09 00 00 00");
	Strong<CArgument> pArray = Decode(ArrayBytes, &Resolver);
	ASSERT_FALSE(pArray.IsNull());
	CArgumentArray* pElements = static_cast<CArgumentArray*>(pArray.GetPointer());
	ASSERT_EQ(2u, pElements->GetArrayCount());
	EXPECT_EQ(ARGUMENT_NETOBJECT, pElements->GetAt(0)->GetType());
	EXPECT_EQ(pObject, pElements->GetAt(0)->ToObject());
	EXPECT_EQ(&Resolver, pElements->GetAt(0)->GetResolver());
	EXPECT_EQ(nullptr, pElements->GetAt(1)->ToObject()); // id 9 is nobody
	EXPECT_EQ(ArrayBytes, Encode(pArray));

	// The resolver reaches values nested in maps inside arrays.
	const tBytes NestedBytes = Hex("11 01 12 01 06 01 65 07 00 00 00");
	Strong<CArgument> pNested = Decode(NestedBytes, &Resolver);
	ASSERT_FALSE(pNested.IsNull());
	CArgumentMap* pMap = static_cast<CArgumentMap*>(static_cast<CArgumentArray*>(pNested.GetPointer())->GetAt(0));
	ASSERT_NE(nullptr, pMap->Get("e"));
	EXPECT_EQ(pObject, pMap->Get("e")->ToObject());
	EXPECT_EQ(NestedBytes, Encode(pNested));

	// Clones of containers keep the resolver; clones of element values keep the element.
	Strong<CArgument> pClone = Strong<CArgument>::New(pArray->Clone());
	EXPECT_EQ(&Resolver, pClone->GetResolver());
	EXPECT_EQ(pObject, static_cast<CArgumentArray*>(pClone.GetPointer())->GetAt(0)->ToObject());

	pArray.SetNull();
	pNested.SetNull();
	pClone.SetNull();
	EXPECT_EQ(1, pObject->GetRefCount());
	pObject->Release();
}

TEST_F(ArgumentsTest, CreateMakesOnlyTheEngineOwnTags)
{
	for (unsigned uiTag = 0; uiTag < 256; uiTag++)
	{
		const bool bExpected = uiTag <= 21 && uiTag != 3 && uiTag != 6 && uiTag != 7 && uiTag != 10 && uiTag != 13 &&
			uiTag != 14 && uiTag != 20;
		Strong<CArgument> pValue = Strong<CArgument>::New(CArgument::Create(static_cast<uint8_t>(uiTag)));
		EXPECT_EQ(bExpected, !pValue.IsNull()) << uiTag;
		if (!pValue.IsNull())
		{
			EXPECT_EQ(uiTag, pValue->GetType());
			EXPECT_EQ(1, pValue->GetRefCount());
		}
	}

	Strong<CArgument> pNull = Strong<CArgument>::New(CArgument::Create(static_cast<CBaseObject*>(nullptr)));
	EXPECT_EQ(ARGUMENT_NIL, pNull->GetType());

	CTestObject* pObject = new CTestObject();
	Strong<CArgument> pObjectValue = Strong<CArgument>::New(CArgument::Create(pObject));
	EXPECT_EQ(ARGUMENT_OBJECT, pObjectValue->GetType());
	EXPECT_EQ(pObject, pObjectValue->ToObject());
	EXPECT_EQ(2, pObject->GetRefCount());
	pObjectValue.SetNull();
	EXPECT_EQ(1, pObject->GetRefCount());
	pObject->Release();
}

TEST_F(ArgumentsTest, TypeNames)
{
	const struct
	{
		uint8_t ucTag;
		const char* szName;
		const char* szSymbol;
	} Cases[] = {
		{0, "null", "ARGUMENT_NIL"},
		{4, "integer", "ARGUMENT_INTEGER"},
		{15, "integer", "ARGUMENT_LONGINTEGER"},
		{5, "number", "ARGUMENT_FLOAT"},
		{16, "number", "ARGUMENT_DOUBLE"},
		{6, "element", "ARGUMENT_NETOBJECT"},
		{7, "instance", "ARGUMENT_OBJECT"},
		{11, "Matrix4x4", "ARGUMENT_MATRIX4X4"},
		{21, "bytes", "ARGUMENT_BYTES"},
		{22, "unknown", "unknown"},
		{255, "unknown", "unknown"},
	};
	for (const auto& Case : Cases)
	{
		EXPECT_STREQ(Case.szName, CArgument::GetTypeName(Case.ucTag));
		EXPECT_STREQ(Case.szSymbol, CArgument::GetTypeSymbol(Case.ucTag));
	}
}

TEST_F(ArgumentsTest, NumberConversions)
{
	const double dNaN = std::numeric_limits<double>::quiet_NaN();
	const struct
	{
		const char* szName;
		std::function<CArgument*()> Make;
		int32_t iInt32;
		uint32_t uiUInt32;
		int64_t iInt64;
		uint64_t uiUInt64;
		float fFloat;
		double dDouble;
	} Cases[] = {
		{"integer -1", [] { return new CArgumentInteger(-1); }, -1, 0xFFFFFFFFu, -1, UINT64_MAX, -1.0f, -1.0},
		{"float -2.7", [] { return new CArgumentFloat(-2.7f); }, -2, 0xFFFFFFFEu, -2, UINT64_MAX - 1, -2.7f,
			static_cast<double>(-2.7f)},
		{"long 2^32 + 5", [] { return new CArgumentLongInteger(0x100000005LL); }, 5, 5u, 0x100000005LL, 0x100000005ULL,
			4294967296.0f, 4294967301.0},
		{"double 1e19", [] { return new CArgumentDouble(1e19); }, INT32_MAX, 0xFFFFFFFFu, INT64_MAX,
			10000000000000000000ULL, 1e19f, 1e19},
		{"double 3e9", [] { return new CArgumentDouble(3e9); }, INT32_MAX, 3000000000u, 3000000000LL, 3000000000ULL,
			3e9f, 3e9},
		{"double -1e300", [] { return new CArgumentDouble(-1e300); }, INT32_MIN, 0u, INT64_MIN,
			0x8000000000000000ULL, -std::numeric_limits<float>::infinity(), -1e300},
		{"double 1e300", [] { return new CArgumentDouble(1e300); }, INT32_MAX, 0xFFFFFFFFu, INT64_MAX, UINT64_MAX,
			std::numeric_limits<float>::infinity(), 1e300},
		{"float infinity", [] { return new CArgumentFloat(std::numeric_limits<float>::infinity()); }, INT32_MAX,
			0xFFFFFFFFu, INT64_MAX, UINT64_MAX, std::numeric_limits<float>::infinity(),
			std::numeric_limits<double>::infinity()},
	};
	for (const auto& Case : Cases)
	{
		SCOPED_TRACE(Case.szName);
		Strong<CArgument> pValue = Strong<CArgument>::New(Case.Make());
		int32_t iInt32 = 0;
		uint32_t uiUInt32 = 0;
		int64_t iInt64 = 0;
		uint64_t uiUInt64 = 0;
		float fFloat = 0;
		double dDouble = 0;
		EXPECT_TRUE(pValue->ToNumber(iInt32));
		EXPECT_TRUE(pValue->ToNumber(uiUInt32));
		EXPECT_TRUE(pValue->ToNumber(iInt64));
		EXPECT_TRUE(pValue->ToNumber(uiUInt64));
		EXPECT_TRUE(pValue->ToNumber(fFloat));
		EXPECT_TRUE(pValue->ToNumber(dDouble));
		EXPECT_EQ(Case.iInt32, iInt32);
		EXPECT_EQ(Case.uiUInt32, uiUInt32);
		EXPECT_EQ(Case.iInt64, iInt64);
		EXPECT_EQ(Case.uiUInt64, uiUInt64);
		EXPECT_EQ(Case.fFloat, fFloat);
		EXPECT_EQ(Case.dDouble, dDouble);
	}

	// NaN becomes 0 in every integer type.
	for (CArgument* pRaw : {static_cast<CArgument*>(new CArgumentDouble(dNaN)),
			 static_cast<CArgument*>(new CArgumentFloat(std::numeric_limits<float>::quiet_NaN()))})
	{
		Strong<CArgument> pValue = Strong<CArgument>::New(pRaw);
		int32_t iInt32 = 1;
		uint32_t uiUInt32 = 1;
		int64_t iInt64 = 1;
		uint64_t uiUInt64 = 1;
		pValue->ToNumber(iInt32);
		pValue->ToNumber(uiUInt32);
		pValue->ToNumber(iInt64);
		pValue->ToNumber(uiUInt64);
		EXPECT_EQ(0, iInt32);
		EXPECT_EQ(0u, uiUInt32);
		EXPECT_EQ(0, iInt64);
		EXPECT_EQ(0u, uiUInt64);
	}
}

TEST_F(ArgumentsTest, GettersOnTheWrongTagReportAndLeaveOutputAlone)
{
	g_bAsserts = true;
	Strong<CArgument> pString = Strong<CArgument>::New(new CArgumentString("5", 1));
	testing::internal::CaptureStdout();
	int32_t iValue = 42;
	EXPECT_FALSE(pString->ToNumber(iValue));
	const std::string Console = testing::internal::GetCapturedStdout();
	EXPECT_EQ(42, iValue);
	EXPECT_NE(std::string::npos, Console.find("Expression: IsNumber()"));

	g_bAsserts = false;
	CVector2D vecValue(3.0f, 4.0f);
	pString->ToVector2D(vecValue);
	EXPECT_EQ(3.0f, vecValue.x);
	EXPECT_EQ(nullptr, pString->ToFunction());
	EXPECT_EQ(nullptr, pString->ToObject());
	size_t Length = 0;
	EXPECT_NE(nullptr, pString->ToBytes(Length));
	EXPECT_EQ(1u, Length);
}

TEST_F(ArgumentsTest, ArrayAddsValuesOfTheRightTag)
{
	Strong<CArgumentArray> pArray = Strong<CArgumentArray>::New(new CArgumentArray());
	pArray->AddNumber(static_cast<int8_t>(-3));
	pArray->AddNumber(static_cast<uint16_t>(65535));
	pArray->AddNumber(4294967295u);
	pArray->AddNumber(static_cast<int64_t>(-1));
	pArray->AddNumber(static_cast<uint64_t>(1));
	pArray->AddNumber(1.5f);
	pArray->AddNumber(2.5);
	pArray->AddString("text");
	pArray->AddString("a\0b", 3);
	pArray->AddObject(nullptr);
	// A value that cannot be cloned becomes undefined.
	Strong<CArgument> pReference = Strong<CArgument>::New(new CArgument(ARGUMENT_LUAREF));
	pArray->Add(pReference);

	const uint8_t rgucTypes[] = {4, 4, 4, 15, 15, 5, 16, 2, 2, 0, 12};
	ASSERT_EQ(sizeof(rgucTypes), pArray->GetArrayCount());
	for (size_t i = 0; i < sizeof(rgucTypes); i++)
		EXPECT_EQ(rgucTypes[i], pArray->GetAt(i)->GetType()) << i;

	int32_t iValue = 0;
	pArray->GetAt(2)->ToNumber(iValue);
	EXPECT_EQ(-1, iValue); // the unsigned bits are kept
	size_t Length = 0;
	pArray->GetAt(8)->ToString(&Length);
	EXPECT_EQ(3u, Length);
	EXPECT_EQ(nullptr, pArray->GetAt(sizeof(rgucTypes)));
}

TEST_F(ArgumentsTest, ContainersOwnOneReferencePerElement)
{
	Strong<CArgument> pValue = Strong<CArgument>::New(new CArgumentInteger(1));

	// Add clones, AddAndOwn adopts.
	Strong<CArgumentArray> pArray = Strong<CArgumentArray>::New(new CArgumentArray());
	pArray->Add(pValue);
	EXPECT_NE(pValue.GetPointer(), pArray->GetAt(0));
	pValue->AddRef();
	pArray->AddAndOwn(pValue);
	EXPECT_EQ(pValue.GetPointer(), pArray->GetAt(1));
	EXPECT_EQ(2, pValue->GetRefCount());

	// Move hands the pointers over without touching their counts.
	Strong<CArgumentArray> pTarget = Strong<CArgumentArray>::New(new CArgumentArray());
	pArray->Move(pTarget);
	EXPECT_EQ(0u, pArray->GetArrayCount());
	ASSERT_EQ(2u, pTarget->GetArrayCount());
	EXPECT_EQ(pValue.GetPointer(), pTarget->GetAt(1));
	EXPECT_EQ(2, pValue->GetRefCount());

	pTarget->InsertTo(pArray);
	EXPECT_EQ(2u, pArray->GetArrayCount());
	EXPECT_EQ(2, pValue->GetRefCount());
	pTarget->Resize(4);
	EXPECT_EQ(0u, pTarget->GetArrayCount());
	EXPECT_EQ(1, pValue->GetRefCount());

	// A map key holding the same pointer keeps it; another value replaces and releases it.
	Strong<CArgumentMap> pMap = Strong<CArgumentMap>::New(new CArgumentMap());
	pValue->AddRef();
	pMap->Set("k", pValue);
	pMap->Set("k", pValue);
	EXPECT_EQ(2, pValue->GetRefCount());
	pMap->Set("k", new CArgumentInteger(2));
	EXPECT_EQ(1, pValue->GetRefCount());
	EXPECT_FALSE(pMap->Remove("missing"));
	EXPECT_TRUE(pMap->Remove("k"));
	EXPECT_EQ(nullptr, pMap->Get("k"));

	CReturnValue ReturnValue;
	EXPECT_EQ(nullptr, ReturnValue.GetReturnArgument());
	ReturnValue.AddBoolean(true);
	EXPECT_TRUE(ReturnValue.GetReturnArgument()->ToBoolean());
}

// Short arrays keep their elements in the array itself, longer ones in storage of their own: the operations must
// behave the same on both sides of that line.
TEST_F(ArgumentsTest, ArraysOfAnyLengthKeepTheirOrderThroughMoveAndClone)
{
	for (int32_t iCount : {0, 1, 4, 5, 9, 300})
	{
		Strong<CArgumentArray> pArray = Strong<CArgumentArray>::New(new CArgumentArray(iCount == 9 ? 9 : 0));
		for (int32_t i = 0; i < iCount; i++)
			pArray->AddNumber(i);
		Strong<CArgumentArray> pTarget = Strong<CArgumentArray>::New(new CArgumentArray());
		pArray->Move(pTarget);
		EXPECT_EQ(0u, pArray->GetArrayCount()) << iCount;
		EXPECT_EQ(nullptr, pArray->GetAt(0)) << iCount;
		// Both stay usable: the one moved from starts afresh, the target grows on.
		pArray->AddNumber(-1);
		pTarget->AddNumber(iCount);
		Strong<CArgumentArray> pClone = Strong<CArgumentArray>::New(static_cast<CArgumentArray*>(pTarget->Clone()));
		for (const CArgumentArray* pCheck : {pTarget.GetPointer(), pClone.GetPointer()})
		{
			ASSERT_EQ(static_cast<size_t>(iCount) + 1, pCheck->GetArrayCount()) << iCount;
			for (int32_t i = 0; i <= iCount; i++)
			{
				int32_t iValue = -2;
				pCheck->GetAt(static_cast<size_t>(i))->ToNumber(iValue);
				EXPECT_EQ(i, iValue) << iCount;
			}
		}
		ASSERT_EQ(1u, pArray->GetArrayCount());
		pTarget->Clear();
		EXPECT_EQ(0u, pTarget->GetArrayCount());
		pTarget->AddBoolean(true);
		EXPECT_TRUE(pTarget->GetAt(0)->ToBoolean());
	}
}

TEST_F(ArgumentsTest, MapReadKeepsTheLaterOfTwoEqualKeys)
{
	Strong<CArgument> pMap = Decode(Hex("12 02 04 01 6B 01 00 00 00 04 01 6B 02 00 00 00"));
	ASSERT_FALSE(pMap.IsNull());
	CArgumentMap* pEntries = static_cast<CArgumentMap*>(pMap.GetPointer());
	ASSERT_EQ(1u, pEntries->GetCount());
	int32_t iValue = 0;
	pEntries->Get("k")->ToNumber(iValue);
	EXPECT_EQ(2, iValue);

	// The earlier value is released: the element it resolved to loses the reference that value held.
	CTestObject* pFirst = new CTestObject();
	CTestObject* pSecond = new CTestObject();
	CTestResolver Resolver;
	Resolver.m_Objects[1] = pFirst;
	Resolver.m_Objects[2] = pSecond;
	Strong<CArgument> pElements = Decode(Hex("12 02 06 01 6B 01 00 00 00 06 01 6B 02 00 00 00"), &Resolver);
	ASSERT_FALSE(pElements.IsNull());
	EXPECT_EQ(pSecond, static_cast<CArgumentMap*>(pElements.GetPointer())->Get("k")->ToObject());
	EXPECT_EQ(1, pFirst->GetRefCount());
	EXPECT_EQ(2, pSecond->GetRefCount());
	pElements.SetNull();
	pFirst->Release();
	pSecond->Release();
}

TEST_F(ArgumentsTest, ModuleViewsStayWithTheirOwnValue)
{
	int iView = 0, iArrayView = 0, iDictionaryView = 0;
	Strong<CArgumentArray> pArray = Strong<CArgumentArray>::New(MakeArray({new CArgumentMap()}));
	CArgumentMap* pMap = static_cast<CArgumentMap*>(pArray->GetAt(0));
	EXPECT_EQ(nullptr, pArray->GetModuleView());
	EXPECT_EQ(nullptr, pArray->GetArrayView());
	EXPECT_EQ(nullptr, pMap->GetDictionaryView());
	pArray->SetModuleView(&iView);
	pArray->SetArrayView(&iArrayView);
	pMap->SetDictionaryView(&iDictionaryView);

	// A view shows one value and holds a reference to it: a copy gets views of its own later.
	Strong<CArgument> pClone = Strong<CArgument>::New(pArray->Clone());
	CArgumentArray* pClonedArray = static_cast<CArgumentArray*>(pClone.GetPointer());
	EXPECT_EQ(nullptr, pClonedArray->GetModuleView());
	EXPECT_EQ(nullptr, pClonedArray->GetArrayView());
	EXPECT_EQ(nullptr, static_cast<CArgumentMap*>(pClonedArray->GetAt(0))->GetDictionaryView());

	// Moving the elements moves no view: each stays with the value it shows.
	Strong<CArgumentArray> pTarget = Strong<CArgumentArray>::New(new CArgumentArray());
	pArray->Move(pTarget);
	EXPECT_EQ(&iArrayView, pArray->GetArrayView());
	EXPECT_EQ(nullptr, pTarget->GetArrayView());
	EXPECT_EQ(&iDictionaryView, static_cast<CArgumentMap*>(pTarget->GetAt(0))->GetDictionaryView());
}

TEST_F(ArgumentsTest, ClonesAreDeepExceptForObjectsAndFunctions)
{
	CTestObject* pObject = new CTestObject();
	CTestFunction* pFunction = new CTestFunction();
	Strong<CArgumentArray> pArray = Strong<CArgumentArray>::New(MakeArray({
		new CArgumentString("s", 1),
		MakeMap({{"inner", MakeArray({new CArgumentDouble(2.0)})}}),
		new CArgumentObject(pObject),
		new CArgumentFunction(pFunction),
	}));

	Strong<CArgument> pClone = Strong<CArgument>::New(pArray->Clone());
	CArgumentArray* pCloned = static_cast<CArgumentArray*>(pClone.GetPointer());
	ASSERT_EQ(4u, pCloned->GetArrayCount());
	EXPECT_NE(pArray->GetAt(0), pCloned->GetAt(0));
	EXPECT_STREQ("s", pCloned->GetAt(0)->ToString());
	CArgumentMap* pOriginalMap = static_cast<CArgumentMap*>(pArray->GetAt(1));
	CArgumentMap* pClonedMap = static_cast<CArgumentMap*>(pCloned->GetAt(1));
	EXPECT_NE(pOriginalMap->Get("inner"), pClonedMap->Get("inner"));
	EXPECT_EQ(ARGUMENT_ARRAY, pClonedMap->Get("inner")->GetType());
	EXPECT_EQ(pObject, pCloned->GetAt(2)->ToObject());
	EXPECT_EQ(pFunction, pCloned->GetAt(3)->ToFunction());
	EXPECT_EQ(3, pObject->GetRefCount());
	EXPECT_EQ(3, pFunction->GetRefCount());

	pClone.SetNull();
	pArray.SetNull();
	EXPECT_EQ(1, pObject->GetRefCount());
	EXPECT_EQ(1, pFunction->GetRefCount());
	pObject->Release();
	pFunction->Release();
}

TEST_F(ArgumentsTest, ObjectOfClassWalksTheBaseClasses)
{
	ReflectedClass Base("Base", nullptr);
	ReflectedClass Derived("Derived", &Base);
	ReflectedClass Other("Other", nullptr);

	CTestObject* pObject = new CTestObject();
	pObject->SetReflectedClass(&Derived);
	CTestObject* pPlain = new CTestObject();
	Strong<CArgument> pValue = Strong<CArgument>::New(new CArgumentObject(pObject));
	Strong<CArgument> pPlainValue = Strong<CArgument>::New(new CArgumentObject(pPlain));
	Strong<CArgument> pEmpty = Strong<CArgument>::New(new CArgumentObject(nullptr));

	EXPECT_EQ(pObject, pValue->ToObject(&Derived));
	EXPECT_EQ(pObject, pValue->ToObject(&Base));
	EXPECT_EQ(nullptr, pValue->ToObject(&Other));
	EXPECT_EQ(nullptr, pPlainValue->ToObject(&Base));
	EXPECT_EQ(nullptr, pEmpty->ToObject(&Base));

	pValue.SetNull();
	pPlainValue.SetNull();
	pObject->Release();
	pPlain->Release();
}
