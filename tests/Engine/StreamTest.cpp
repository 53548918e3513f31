#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "Engine/KestrinStream.h"
#include "StreamText.h"
#include "TempDirectory.h"

namespace
{
class CDestroyProbe : public CBaseObject
{
public:
	explicit CDestroyProbe(bool* pDestroyed) : m_pDestroyed(pDestroyed) {}
	~CDestroyProbe() override { *m_pDestroyed = true; }

private:
	bool* m_pDestroyed;
};
}

TEST(UnlimitedStream, GrowsByDoublingAndKeepsBytes)
{
	struct tCase
	{
		std::vector<size_t> Writes;
		size_t Capacity;
	};
	const tCase Cases[] = {
		{{300}, 512},
		{{1000}, 1024},
		{{256}, 256},
		{{100, 200}, 512},
		{{256, 1}, 512},
		{{600, 600}, 2048},
	};
	for (const tCase& Case : Cases)
	{
		Strong<CUnlimitedStream> pStream = Strong<CUnlimitedStream>::New(new CUnlimitedStream());
		std::string Expected;
		for (size_t n : Case.Writes)
		{
			std::string Bytes;
			for (size_t i = 0; i < n; ++i)
				Bytes += static_cast<char>('a' + (Expected.size() + i) % 26);
			EXPECT_EQ(pStream->Write(Bytes.data(), n), n);
			Expected += Bytes;
		}
		EXPECT_EQ(pStream->GetCapacity(), Case.Capacity) << Expected.size();
		EXPECT_EQ(pStream->GetLength(), static_cast<long>(Expected.size()));
		EXPECT_EQ(pStream->Tell(), static_cast<long>(Expected.size()));
		ASSERT_TRUE(pStream->Seek(0, 0));
		EXPECT_EQ(ReadAll(pStream), Expected);
	}
}

TEST(UnlimitedStream, OverwriteInsideKeepsLength)
{
	Strong<CUnlimitedStream> pStream = Strong<CUnlimitedStream>::New(new CUnlimitedStream());
	pStream->Write("abcdef", 6);
	ASSERT_TRUE(pStream->Seek(2, 0));
	EXPECT_EQ(pStream->Write("XY", 2), 2u);
	EXPECT_EQ(pStream->GetLength(), 6);
	EXPECT_EQ(pStream->Tell(), 4);
	pStream->Seek(0, 0);
	EXPECT_EQ(ReadAll(pStream), "abXYef");
}

TEST(UnlimitedStream, SeekPastEndRaisesLengthAndGapReadsZero)
{
	Strong<CUnlimitedStream> pStream = Strong<CUnlimitedStream>::New(new CUnlimitedStream());
	pStream->Write("abcde", 5);
	ASSERT_TRUE(pStream->Seek(10, 2));
	EXPECT_EQ(pStream->Tell(), 15);
	EXPECT_EQ(pStream->GetLength(), 15);
	pStream->Seek(0, 0);
	EXPECT_EQ(ReadAll(pStream), std::string("abcde") + std::string(10, '\0'));
}

TEST(UnlimitedStream, SeekBeyondCapacityKeepsEveryReadInsideTheBuffer)
{
	Strong<CUnlimitedStream> pStream = Strong<CUnlimitedStream>::New(new CUnlimitedStream());
	pStream->Write("xyz", 3);
	ASSERT_TRUE(pStream->Seek(5000, 0));
	EXPECT_EQ(pStream->GetLength(), 5000);
	EXPECT_GE(pStream->GetCapacity(), 5000u);
	ASSERT_TRUE(pStream->Seek(0, 0));
	std::string All = ReadAll(pStream);
	EXPECT_EQ(All, std::string("xyz") + std::string(4997, '\0'));
	// A write at the far end after the seek appends after the zeros.
	pStream->Seek(0, 2);
	EXPECT_EQ(pStream->Write("!", 1), 1u);
	EXPECT_EQ(pStream->GetLength(), 5001);
}

TEST(UnlimitedStream, ReadAtEndReturnsNothing)
{
	Strong<CUnlimitedStream> pStream = Strong<CUnlimitedStream>::New(new CUnlimitedStream());
	char c;
	EXPECT_EQ(pStream->Read(&c, 1), 0u);
	pStream->Write("ab", 2);
	EXPECT_EQ(pStream->Read(&c, 1), 0u);
}

TEST(UnlimitedStream, WriteToCopiesAtMostTheWrittenBytes)
{
	Strong<CUnlimitedStream> pSource = Strong<CUnlimitedStream>::New(new CUnlimitedStream());
	Strong<CUnlimitedStream> pDestination = Strong<CUnlimitedStream>::New(new CUnlimitedStream());
	pSource->Write("hello", 5);
	pDestination->Write(">", 1);
	EXPECT_EQ(pSource->WriteTo(pDestination, 3), 3u);
	EXPECT_EQ(pSource->WriteTo(pDestination, 1000), 5u);
	pDestination->Seek(0, 0);
	EXPECT_EQ(ReadAll(pDestination), ">helhello");
}

TEST(MemoryStream, WritesOnlyWhatFitsTheBlock)
{
	char Block[10] = {};
	Strong<CMemoryStream> pStream = Strong<CMemoryStream>::New(new CMemoryStream(Block, sizeof(Block), true, true));
	ASSERT_TRUE(pStream->Seek(8, 0));
	EXPECT_EQ(pStream->Write("xyz", 3), 0u);
	EXPECT_EQ(pStream->Tell(), 8);
	EXPECT_EQ(pStream->Write("xy", 2), 2u);
	EXPECT_EQ(pStream->Tell(), 10);
	EXPECT_EQ(memcmp(Block + 8, "xy", 2), 0);
	EXPECT_EQ(pStream->GetLength(), 10);
	// Beyond the block nothing is read or written, and the block stays as it was.
	ASSERT_TRUE(pStream->Seek(5, 2));
	char c = 0;
	EXPECT_EQ(pStream->Read(&c, 1), 0u);
	EXPECT_EQ(pStream->Write("q", 1), 0u);
	EXPECT_EQ(pStream->Write("", 0), 0u);
}

TEST(MemoryStream, AccessFlagsGateReadAndWrite)
{
	char Block[4] = {'a', 'b', 'c', 'd'};
	char Buffer[4];
	Strong<CMemoryStream> pReadOnly = Strong<CMemoryStream>::New(new CMemoryStream(Block, sizeof(Block), true, false));
	EXPECT_EQ(pReadOnly->Write("zz", 2), 0u);
	EXPECT_EQ(pReadOnly->Write("", 0), 0u);
	EXPECT_EQ(pReadOnly->Read(Buffer, 10), 4u);
	EXPECT_EQ(memcmp(Block, "abcd", 4), 0);

	Strong<CMemoryStream> pWriteOnly = Strong<CMemoryStream>::New(new CMemoryStream(Block, sizeof(Block), false, true));
	EXPECT_EQ(pWriteOnly->Read(Buffer, 1), 0u);
	EXPECT_EQ(pWriteOnly->Write("z", 1), 1u);
	EXPECT_EQ(Block[0], 'z');

	static const unsigned char Static[] = {1, 2, 3};
	Strong<CMemoryStream> pStatic = Strong<CMemoryStream>::New(new CMemoryStream(Static, sizeof(Static)));
	EXPECT_EQ(pStatic->Write("z", 1), 0u);
	EXPECT_EQ(ReadAll(pStatic), std::string("\x01\x02\x03", 3));
}

TEST(MemoryStream, HoldsItsOwnerUntilDestroyed)
{
	bool bDestroyed = false;
	CDestroyProbe* pOwner = new CDestroyProbe(&bDestroyed);
	char Block[2] = {};
	CMemoryStream* pStream = new CMemoryStream(Block, sizeof(Block), true, false, pOwner);
	EXPECT_EQ(pOwner->GetRefCount(), 2);
	pOwner->Release();
	EXPECT_FALSE(bDestroyed);
	pStream->Release();
	EXPECT_TRUE(bDestroyed);
}

TEST(RangeStream, NeverReadsBeyondItsWindow)
{
	Strong<CUnlimitedStream> pParent = Strong<CUnlimitedStream>::New(new CUnlimitedStream());
	pParent->Write("0123456789", 10);
	Strong<CStreamRangeStream> pWindow = Strong<CStreamRangeStream>::New(new CStreamRangeStream(pParent, 3, 4));
	EXPECT_EQ(pWindow->GetLength(), 4);
	EXPECT_EQ(ReadAll(pWindow), "3456");
	char c;
	EXPECT_EQ(pWindow->Read(&c, 1), 0u);
	ASSERT_TRUE(pWindow->Seek(2, 0));
	char Buffer[10];
	EXPECT_EQ(pWindow->Read(Buffer, sizeof(Buffer)), 2u);
	EXPECT_EQ(std::string(Buffer, 2), "56");
	ASSERT_TRUE(pWindow->Seek(100, 0));
	EXPECT_EQ(pWindow->Read(Buffer, sizeof(Buffer)), 0u);
}

TEST(RangeStream, WritesOnlyInsideItsWindow)
{
	Strong<CUnlimitedStream> pParent = Strong<CUnlimitedStream>::New(new CUnlimitedStream());
	pParent->Write("0123456789", 10);
	Strong<CStreamRangeStream> pWindow = Strong<CStreamRangeStream>::New(new CStreamRangeStream(pParent, 3, 4));
	ASSERT_TRUE(pWindow->Seek(2, 0));
	EXPECT_EQ(pWindow->Write("abc", 3), 0u);
	EXPECT_EQ(pWindow->Write("ab", 2), 2u);
	pParent->Seek(0, 0);
	EXPECT_EQ(ReadAll(pParent), "01234ab789");
}

TEST(RangeStream, WindowsOnOneParentDoNotDisturbEachOther)
{
	Strong<CUnlimitedStream> pParent = Strong<CUnlimitedStream>::New(new CUnlimitedStream());
	pParent->Write("abcdefgh", 8);
	Strong<CStreamRangeStream> pFirst = Strong<CStreamRangeStream>::New(new CStreamRangeStream(pParent, 0, 4));
	Strong<CStreamRangeStream> pSecond = Strong<CStreamRangeStream>::New(new CStreamRangeStream(pParent, 4, 4));
	std::string Interleaved;
	char c;
	for (int i = 0; i < 4; ++i)
	{
		ASSERT_EQ(pFirst->Read(&c, 1), 1u);
		Interleaved += c;
		ASSERT_EQ(pSecond->Read(&c, 1), 1u);
		Interleaved += c;
	}
	EXPECT_EQ(Interleaved, "aebfcgdh");
}

TEST(RangeStream, KeepsItsParentAlive)
{
	bool bDestroyed = false;
	CDestroyProbe* pOwner = new CDestroyProbe(&bDestroyed);
	static const char Data[] = "window";
	CMemoryStream* pParent = new CMemoryStream(Data, 6, pOwner);
	pOwner->Release();
	CStreamRangeStream* pWindow = new CStreamRangeStream(pParent, 1, 3);
	pParent->Release();
	EXPECT_FALSE(bDestroyed);
	EXPECT_EQ(ReadAll(pWindow), "ind");
	pWindow->Release();
	EXPECT_TRUE(bDestroyed);
}

TEST(StandardStream, OpenFailsForMissingFile)
{
	CTempDirectory Dir;
	EXPECT_EQ(CStandardStream::Open((Dir / "missing.bin").c_str(), "rb"), nullptr);
}

TEST(StandardStream, WritesReadsAndMeasuresAFile)
{
	CTempDirectory Dir;
	Strong<Stream> pStream = Strong<Stream>::New(CStandardStream::Open((Dir / "f.bin").c_str(), "wb+"));
	ASSERT_FALSE(pStream.IsNull());
	EXPECT_EQ(pStream->Write("abcdefg", 7), 7u);
	ASSERT_TRUE(pStream->Seek(2, 0));
	EXPECT_EQ(pStream->GetLength(), 7);
	EXPECT_EQ(pStream->Tell(), 2); // measuring puts the position back
	EXPECT_EQ(ReadAll(pStream), "cdefg");
	EXPECT_FALSE(pStream->SetModifiedTime(0));
}

// Every stream refuses a position before its start and an unknown origin, and stays where it was.
TEST(StreamSeek, RefusesPositionsBeforeTheStartAndUnknownOrigins)
{
	CTempDirectory Dir;
	char Block[8] = "1234567";
	Strong<CUnlimitedStream> pParent = Strong<CUnlimitedStream>::New(new CUnlimitedStream());
	pParent->Write(Block, 8);

	std::vector<std::pair<const char*, Strong<Stream>>> Streams;
	Streams.emplace_back("memory", Strong<Stream>::New(new CMemoryStream(Block, 8, true, true)));
	Streams.emplace_back("unlimited", pParent.StaticCast<Stream>());
	Streams.emplace_back("range", Strong<Stream>::New(new CStreamRangeStream(pParent, 2, 5)));
	Strong<Stream> pFile = Strong<Stream>::New(CStandardStream::Open((Dir / "s.bin").c_str(), "wb+"));
	ASSERT_FALSE(pFile.IsNull());
	pFile->Write(Block, 8);
	Streams.emplace_back("file", pFile);

	struct tCase
	{
		long lOffset;
		int iWhence;
	};
	const tCase Refused[] = {{-1, 0}, {-4, 1}, {-100, 2}, {0, 3}, {0, -1}};
	for (auto& Entry : Streams)
	{
		Stream* pStream = Entry.second;
		long lLength = pStream->GetLength();
		ASSERT_TRUE(pStream->Seek(3, 0)) << Entry.first;
		for (const tCase& Case : Refused)
		{
			EXPECT_FALSE(pStream->Seek(Case.lOffset, Case.iWhence)) << Entry.first << " " << Case.lOffset << "," << Case.iWhence;
			EXPECT_EQ(pStream->Tell(), 3) << Entry.first;
		}
		EXPECT_EQ(pStream->GetLength(), lLength) << Entry.first;
		EXPECT_TRUE(pStream->Seek(-3, 1)) << Entry.first;
		EXPECT_EQ(pStream->Tell(), 0) << Entry.first;
		EXPECT_TRUE(pStream->Seek(-1, 2)) << Entry.first;
		EXPECT_EQ(pStream->Tell(), lLength - 1) << Entry.first;
	}
}
