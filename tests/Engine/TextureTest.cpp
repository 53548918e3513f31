#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "AssertsOff.h"
#include "ChunkFileBuilder.h"
#include "PngBuilder.h"
#include "Engine/ARGB.h"
#include "Engine/ChunkFile.h"
#include "Engine/Context.h"
#include "Engine/Texture.h"
#include "Support/AllocationCounter.h"

using namespace ChunkFileBuilder;
using PngBuilder::tImage;

namespace
{
tBytes TextureHeader(uint16_t usFormat, uint32_t uiWidth, uint32_t uiHeight)
{
	tBytes Header;
	AppendUInt(Header, usFormat, 2);
	AppendUInt(Header, 0xBEEF, 2);
	AppendUInt(Header, uiWidth, 4);
	AppendUInt(Header, uiHeight, 4);
	AppendUInt(Header, 0xCAFEF00D, 4);
	return Header;
}

// A texture record with one image-data child per level.
tRecord TextureRecord(uint16_t usFormat, uint32_t uiWidth, uint32_t uiHeight, const std::vector<tBytes>& Levels)
{
	tRecord Record{CHUNK_TEXTURE, "tex", TextureHeader(usFormat, uiWidth, uiHeight), {}, {}, {}};
	for (const tBytes& Level : Levels)
		Record.Children.push_back(tRecord{CHUNK_IMAGEDATA, "level", Level, {}, {}, {}});
	return Record;
}

// A chunk file whose root holds the record.
tBytes TextureFile(const tRecord& Record)
{
	return PlainFile(tRecord{0, "root", {}, {Record}, {}, {}}, 8);
}

// Reads a chunk file made by TextureFile; the root stays with the caller so the chunk can be looked at.
CTextureChunk* ReadTextureFile(CRootChunk& Root, const tBytes& File)
{
	if (!Root.ReadFile(OpenBytes(File)))
		return nullptr;
	return dynamic_cast<CTextureChunk*>(Root.GetChild(0));
}

CTextureChunk* ReadTexture(CRootChunk& Root, const tRecord& Record)
{
	return ReadTextureFile(Root, TextureFile(Record));
}

Strong<Texture> LoadTexture(const tRecord& Record)
{
	CRootChunk Root;
	CTextureChunk* pChunk = ReadTexture(Root, Record);
	return Strong<Texture>(pChunk ? pChunk->GetTexture() : nullptr);
}

Strong<Texture> LoadPng(const tBytes& Png)
{
	return LoadTexture(TextureRecord(TEXTURE_FORMAT_PNG, 0, 0, {Png}));
}

std::vector<uint32_t> PixelsOf(const CMipLevel* pLevel)
{
	std::vector<uint32_t> Pixels;
	for (size_t i = 0; i < pLevel->GetPixelCount(); i++)
		Pixels.push_back(pLevel->GetPixels()[i].GetValue());
	return Pixels;
}

void ExpectEmpty(const CMipLevel* pLevel)
{
	ASSERT_NE(pLevel, nullptr);
	EXPECT_EQ(pLevel->GetWidth(), 0u);
	EXPECT_EQ(pLevel->GetHeight(), 0u);
	EXPECT_FALSE(pLevel->HasAlpha());
	EXPECT_EQ(pLevel->GetPixels(), nullptr);
}

tImage RedPixel()
{
	tImage Image;
	Image.Rows = {{0xFF, 0x00, 0x00}};
	return Image;
}

class TextureTest : public ::testing::Test
{
protected:
	CAssertsOff m_AssertsOff;
	Context m_Context;
};
}

TEST_F(TextureTest, PngLevelsBecomeARGBPixels)
{
	struct tCase
	{
		const char* szCase;
		tImage Image;
		std::vector<uint32_t> Pixels;
		bool bAlpha;
	};
	tImage Grey;
	Grey.uiWidth = 3;
	Grey.eType = PngBuilder::GREY;
	Grey.Rows = {{0x00, 0x80, 0xFF}};
	tImage GreyAlpha;
	GreyAlpha.eType = PngBuilder::GREY_ALPHA;
	GreyAlpha.Rows = {{0x80, 0x40}};
	tImage Rgba;
	Rgba.uiWidth = 2;
	Rgba.eType = PngBuilder::RGBA;
	Rgba.Rows = {{0x11, 0x22, 0x33, 0x44, 0xAA, 0xBB, 0xCC, 0xDD}};
	tImage TwoRows;
	TwoRows.uiHeight = 2;
	TwoRows.Rows = {{0x01, 0x02, 0x03}, {0x04, 0x05, 0x06}};
	tImage Deep;
	Deep.ucBitDepth = 16;
	Deep.Rows = {{0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC}};
	tImage DeepGreyAlpha;
	DeepGreyAlpha.ucBitDepth = 16;
	DeepGreyAlpha.eType = PngBuilder::GREY_ALPHA;
	DeepGreyAlpha.Rows = {{0xAB, 0xCD, 0x7F, 0xFF}};
	tImage Palette;
	Palette.uiWidth = 3;
	Palette.ucBitDepth = 2;
	Palette.eType = PngBuilder::PALETTE;
	Palette.Palette = {0xFF, 0x00, 0x00, 0x00, 0xFF, 0x00, 0x00, 0x00, 0xFF};
	Palette.Rows = {{0b00011000}}; // entries 0, 1, 2
	tImage TransparentPalette = Palette;
	TransparentPalette.Transparency = {0x00, 0x80};
	tImage OneBit;
	OneBit.uiWidth = 3;
	OneBit.ucBitDepth = 1;
	OneBit.eType = PngBuilder::GREY;
	OneBit.Rows = {{0b10100000}};
	tImage GreyKey;
	GreyKey.uiWidth = 2;
	GreyKey.eType = PngBuilder::GREY;
	GreyKey.Transparency = {0x00, 0x10};
	GreyKey.Rows = {{0x10, 0x20}};

	const tCase Cases[] = {
		{"RGB", RedPixel(), {0xFFFF0000}, false},
		{"grey", Grey, {0xFF000000, 0xFF808080, 0xFFFFFFFF}, false},
		{"grey with alpha", GreyAlpha, {0x40808080}, true},
		{"RGBA", Rgba, {0x44112233, 0xDDAABBCC}, true},
		{"rows in order", TwoRows, {0xFF010203, 0xFF040506}, false},
		{"16 bits a channel", Deep, {0xFF12569A}, false},
		{"16-bit grey with alpha", DeepGreyAlpha, {0x7FABABAB}, true},
		{"palette", Palette, {0xFFFF0000, 0xFF00FF00, 0xFF0000FF}, false},
		{"palette with transparency", TransparentPalette, {0x00FF0000, 0x8000FF00, 0xFF0000FF}, true},
		{"one bit a pixel", OneBit, {0xFFFFFFFF, 0xFF000000, 0xFFFFFFFF}, false},
		{"grey with a transparent value", GreyKey, {0x00101010, 0xFF202020}, true},
	};
	for (const tCase& Case : Cases)
	{
		SCOPED_TRACE(Case.szCase);
		Strong<Texture> pTexture = LoadPng(Case.Image.Build());
		ASSERT_FALSE(pTexture.IsNull());
		ASSERT_EQ(pTexture->GetLevelCount(), 1u);
		const CMipLevel* pLevel = pTexture->GetMipLevel(0);
		EXPECT_EQ(pLevel->GetWidth(), Case.Image.uiWidth);
		EXPECT_EQ(pLevel->GetHeight(), Case.Image.uiHeight);
		EXPECT_EQ(pLevel->HasAlpha(), Case.bAlpha);
		EXPECT_EQ(PixelsOf(pLevel), Case.Pixels);
		EXPECT_EQ(pTexture->GetWidth(), Case.Image.uiWidth);
		EXPECT_EQ(pTexture->GetHeight(), Case.Image.uiHeight);
		EXPECT_EQ(pTexture->HasAlpha(), Case.bAlpha);
	}
}

TEST_F(TextureTest, DamagedPngGivesAnEmptyLevel)
{
	const tBytes Good = RedPixel().Build();
	auto Changed = [&](size_t Offset, uint8_t ucValue) {
		tBytes Bytes = Good;
		Bytes[Offset] = ucValue;
		return Bytes;
	};
	// 1 000 000 pixels square in a file of a few dozen bytes: no deflate stream inflates that far.
	tImage Huge = RedPixel();
	Huge.uiWidth = 1000000;
	Huge.uiHeight = 1000000;
	tBytes BadZlib = Good;
	// The IDAT chunk's data starts after signature (8), IHDR (25) and its own length and type (8).
	BadZlib[41] ^= 0xFF;
	const struct
	{
		const char* szCase;
		tBytes Bytes;
	} Cases[] = {
		{"no data", {}},
		{"shorter than a signature", {0x89, 'P', 'N'}},
		{"not a PNG", tBytes{'G', 'I', 'F', '8', '9', 'a'}},
		{"rest of the signature wrong", Changed(5, 'x')},
		{"header checksum wrong", Changed(29, Good[29] ^ 1)},
		{"cut inside the image data", tBytes(Good.begin(), Good.begin() + 45)},
		{"cut after the signature start", tBytes(Good.begin(), Good.begin() + 4)},
		{"image data that does not inflate", BadZlib},
		{"colour type unknown", Changed(25, 5)},
		{"size beyond what its bytes can hold", Huge.Build()},
	};
	for (const auto& Case : Cases)
	{
		SCOPED_TRACE(Case.szCase);
		Strong<Texture> pTexture = LoadPng(Case.Bytes);
		ASSERT_FALSE(pTexture.IsNull());
		ExpectEmpty(pTexture->GetMipLevel(0));
	}
}

// Whatever a level states, decoding it takes memory in proportion to its PNG's bytes: a level that would take more
// than its bytes justify is refused, empty, before libpng allocates for it, while a level of whole-byte pixels still
// decodes when its data inflates as far as deflate allows. Rows of zeros compress that far.
TEST_F(TextureTest, DecodingTakesMemoryInProportionToThePng)
{
	// Besides the decoding's own share: libpng's and zlib's structures and the file's copy in its chunk.
	constexpr uint64_t ALLOWANCE = 1 << 20;
	// Images sized to this many bytes of stored rows, unless a case gives its own height.
	constexpr size_t STORED_BYTES = 16 << 20;
	const struct
	{
		const char* szCase;
		uint8_t ucBitDepth;
		PngBuilder::eColourType eType;
		bool bTransparency;
		uint32_t uiWidth;
		uint32_t uiHeight;
		bool bDecodes;
	} Cases[] = {
		{"1-bit palette with transparency in 64 KB", 1, PngBuilder::PALETTE, true, 16384, 32857, false},
		{"1-bit grey", 1, PngBuilder::GREY, false, 16384, 0, false},
		{"1-bit grey with transparency", 1, PngBuilder::GREY, true, 16384, 0, false},
		{"1-bit palette", 1, PngBuilder::PALETTE, false, 16384, 0, false},
		{"2-bit grey", 2, PngBuilder::GREY, false, 16384, 0, false},
		{"2-bit grey with transparency", 2, PngBuilder::GREY, true, 16384, 0, false},
		{"2-bit palette", 2, PngBuilder::PALETTE, false, 16384, 0, false},
		{"2-bit palette with transparency", 2, PngBuilder::PALETTE, true, 16384, 0, false},
		{"4-bit grey", 4, PngBuilder::GREY, false, 16384, 0, false},
		{"4-bit grey with transparency", 4, PngBuilder::GREY, true, 16384, 0, false},
		{"4-bit palette", 4, PngBuilder::PALETTE, false, 16384, 0, false},
		{"4-bit palette with transparency", 4, PngBuilder::PALETTE, true, 16384, 0, false},
		{"1-bit grey seven pixels wide", 1, PngBuilder::GREY, false, 7, 1000000, false},
		{"8-bit grey", 8, PngBuilder::GREY, false, 4096, 0, true},
		{"8-bit palette with transparency", 8, PngBuilder::PALETTE, true, 4096, 0, true},
		{"16-bit grey", 16, PngBuilder::GREY, false, 4096, 0, true},
		{"16-bit grey with transparency", 16, PngBuilder::GREY, true, 4096, 0, true},
		{"16-bit RGBA", 16, PngBuilder::RGBA, false, 1024, 0, true},
	};
	for (const auto& Case : Cases)
	{
		SCOPED_TRACE(Case.szCase);
		tImage Image;
		Image.uiWidth = Case.uiWidth;
		Image.ucBitDepth = Case.ucBitDepth;
		Image.eType = Case.eType;
		Image.bZeroRows = true;
		Image.uiHeight = Case.uiHeight ? Case.uiHeight : static_cast<uint32_t>(STORED_BYTES / (1 + Image.RowBytes()));
		if (Case.eType == PngBuilder::PALETTE)
		{
			Image.Palette.assign(3 << Case.ucBitDepth, 0x40);
			if (Case.bTransparency)
				Image.Transparency.assign(1, 0x00);
		}
		else if (Case.bTransparency)
			Image.Transparency.assign(2 * PngBuilder::ChannelsOf(Case.eType), 0x00);
		const tBytes Png = Image.Build();
		const tBytes File = TextureFile(TextureRecord(TEXTURE_FORMAT_PNG, 0, 0, {Png}));

		CRootChunk Root;
		AllocationCounter::Start();
		CTextureChunk* pChunk = ReadTextureFile(Root, File);
		AllocationCounter::Stop();
		ASSERT_NE(pChunk, nullptr);
		const CMipLevel* pLevel = pChunk->GetTexture()->GetMipLevel(0);
		if (Case.bDecodes)
		{
			EXPECT_EQ(pLevel->GetWidth(), Image.uiWidth);
			EXPECT_EQ(pLevel->GetHeight(), Image.uiHeight);
			EXPECT_EQ(pLevel->GetPixelCount(), static_cast<size_t>(Image.uiWidth) * Image.uiHeight);
		}
		else
			ExpectEmpty(pLevel);
		if (AllocationCounter::IsAvailable())
		{
			EXPECT_LE(AllocationCounter::GetBytes(), Png.size() * PNG_DECODE_MAX_RATIO + ALLOWANCE)
				<< Png.size() << " bytes of PNG";
		}
	}
}

// Under the sanitizer build any read outside the data or the image is reported here.
TEST_F(TextureTest, PngWithRandomDamageNeverReadsOutsideItsBytes)
{
	tImage Image;
	Image.uiWidth = 4;
	Image.uiHeight = 3;
	Image.eType = PngBuilder::RGBA;
	Image.Rows.assign(3, tBytes(16, 0x5A));
	const tBytes Good = Image.Build();
	std::mt19937 Random(7);
	for (int i = 0; i < 2000; i++)
	{
		tBytes Bytes = Good;
		const int iChanges = 1 + static_cast<int>(Random() % 4);
		for (int j = 0; j < iChanges; j++)
			Bytes[4 + Random() % (Bytes.size() - 4)] = static_cast<uint8_t>(Random());
		if (Random() % 4 == 0)
			Bytes.resize(4 + Random() % (Bytes.size() - 4));
		Strong<Texture> pTexture = LoadPng(Bytes);
		ASSERT_FALSE(pTexture.IsNull());
		const CMipLevel* pLevel = pTexture->GetMipLevel(0);
		EXPECT_EQ(pLevel->GetPixelCount(), pLevel->GetWidth() * pLevel->GetHeight());
	}
}

TEST_F(TextureTest, RawLevelsHalveTheSizePerLevel)
{
	std::vector<uint32_t> Level0, Level1;
	tBytes Bytes0, Bytes1;
	for (uint32_t i = 0; i < 8 * 4; i++)
	{
		Level0.push_back(0x01000000u * i + i);
		AppendUInt(Bytes0, Level0.back(), 4);
	}
	for (uint32_t i = 0; i < 4 * 2; i++)
	{
		Level1.push_back(0xA0000000u + i);
		AppendUInt(Bytes1, Level1.back(), 4);
	}
	// Bytes beyond the level's are not part of it.
	Bytes1.push_back(0xEE);

	CRootChunk Root;
	CTextureChunk* pChunk = ReadTexture(Root, TextureRecord(TEXTURE_FORMAT_RAW, 8, 4, {Bytes0, Bytes1}));
	ASSERT_NE(pChunk, nullptr);
	EXPECT_EQ(pChunk->GetFormat(), TEXTURE_FORMAT_RAW);
	Texture* pTexture = pChunk->GetTexture();
	ASSERT_EQ(pTexture->GetLevelCount(), 2u);
	const CMipLevel* pFirst = pTexture->GetMipLevel(0);
	const CMipLevel* pSecond = pTexture->GetMipLevel(1);
	EXPECT_EQ(pFirst->GetWidth(), 8u);
	EXPECT_EQ(pFirst->GetHeight(), 4u);
	EXPECT_TRUE(pFirst->HasAlpha());
	EXPECT_EQ(PixelsOf(pFirst), Level0);
	EXPECT_EQ(pSecond->GetWidth(), 4u);
	EXPECT_EQ(pSecond->GetHeight(), 2u);
	EXPECT_TRUE(pSecond->HasAlpha());
	EXPECT_EQ(PixelsOf(pSecond), Level1);
	EXPECT_EQ(pTexture->GetMipLevel(2), nullptr);

	// A raw level writes the pixels of its texture.
	Strong<CUnlimitedStream> pOut = Strong<CUnlimitedStream>::New(new CUnlimitedStream());
	ASSERT_TRUE(pChunk->GetChild(1)->WriteData(pOut));
	EXPECT_EQ(tBytes(pOut->GetData(), pOut->GetData() + pOut->GetSize()), tBytes(Bytes1.begin(), Bytes1.end() - 1));
}

TEST_F(TextureTest, RawLevelThatCannotBeMadeStaysEmpty)
{
	const struct
	{
		const char* szCase;
		uint32_t uiWidth;
		uint32_t uiHeight;
		size_t LevelIndex;
		size_t Bytes;
	} Cases[] = {
		{"fewer bytes than the level", 4, 4, 0, 4 * 4 * 4 - 1},
		{"no bytes", 2, 2, 0, 0},
		{"level 32", 0xFFFFFFFF, 0xFFFFFFFF, 32, 64},
		{"size that overflows", 0xFFFFFFFF, 0xFFFFFFFF, 0, 64},
	};
	for (const auto& Case : Cases)
	{
		SCOPED_TRACE(Case.szCase);
		std::vector<tBytes> Levels(Case.LevelIndex + 1, tBytes(4, 0));
		Levels.back() = tBytes(Case.Bytes, 0x33);
		Strong<Texture> pTexture = LoadTexture(TextureRecord(TEXTURE_FORMAT_RAW, Case.uiWidth, Case.uiHeight, Levels));
		ASSERT_FALSE(pTexture.IsNull());
		ExpectEmpty(pTexture->GetMipLevel(Case.LevelIndex));
	}

	// Level 31 of the largest size is one pixel.
	std::vector<tBytes> Levels(32, tBytes());
	Levels[31] = {1, 2, 3, 4};
	Strong<Texture> pTexture = LoadTexture(TextureRecord(TEXTURE_FORMAT_RAW, 0xFFFFFFFF, 0xFFFFFFFF, Levels));
	ASSERT_FALSE(pTexture.IsNull());
	EXPECT_EQ(PixelsOf(pTexture->GetMipLevel(31)), std::vector<uint32_t>({0x04030201}));
}

TEST_F(TextureTest, OnlyDataChildrenBecomeLevels)
{
	for (uint16_t usFormat : {TEXTURE_FORMAT_PNG, TEXTURE_FORMAT_RAW})
	{
		SCOPED_TRACE(usFormat);
		const tBytes Level = usFormat == TEXTURE_FORMAT_PNG ? RedPixel().Build() : tBytes{0, 0, 0xFF, 0xFF};
		tRecord Record = TextureRecord(usFormat, 1, 1, {});
		Record.Children.push_back(tRecord{CHUNK_ELEMENT, "element", ElementData("", {}), {}, {}, {}});
		Record.Children.push_back(tRecord{CHUNK_HISTORY, "history", Level, {}, {}, {}});
		Record.Children.push_back(tRecord{CHUNK_DATA, "plain data", Level, {}, {}, {}});
		Strong<Texture> pTexture = LoadTexture(Record);
		ASSERT_FALSE(pTexture.IsNull());
		ASSERT_EQ(pTexture->GetLevelCount(), 3u);
		ExpectEmpty(pTexture->GetMipLevel(0));
		ExpectEmpty(pTexture->GetMipLevel(1));
		// Level 2 of a raw texture would be 0 by 0: only the PNG shows that plain data is decoded.
		if (usFormat == TEXTURE_FORMAT_PNG)
		{
			EXPECT_EQ(PixelsOf(pTexture->GetMipLevel(2)), std::vector<uint32_t>({0xFFFF0000}));
		}
	}
}

TEST_F(TextureTest, UnknownFormatIsLoggedOncePerChild)
{
	testing::internal::CaptureStdout();
	CRootChunk Root;
	CTextureChunk* pChunk = ReadTexture(Root, TextureRecord(7, 1, 1, {RedPixel().Build(), {}}));
	const std::string Console = testing::internal::GetCapturedStdout();
	ASSERT_NE(pChunk, nullptr);
	const std::string Line = "Unknown texture format 7 in texture tex!";
	size_t Count = 0;
	for (size_t At = Console.find(Line); At != std::string::npos; At = Console.find(Line, At + 1))
		Count++;
	EXPECT_EQ(Count, 2u) << Console;
	ASSERT_EQ(pChunk->GetTexture()->GetLevelCount(), 2u);
	ExpectEmpty(pChunk->GetTexture()->GetMipLevel(0));
}

TEST_F(TextureTest, HeaderReadsAndWritesItsSixteenBytes)
{
	CRootChunk Root;
	CTextureChunk* pChunk = ReadTexture(Root, TextureRecord(TEXTURE_FORMAT_RAW, 640, 480, {}));
	ASSERT_NE(pChunk, nullptr);
	EXPECT_EQ(pChunk->GetWidth(), 640u);
	EXPECT_EQ(pChunk->GetHeight(), 480u);
	Strong<CUnlimitedStream> pOut = Strong<CUnlimitedStream>::New(new CUnlimitedStream());
	ASSERT_TRUE(pChunk->WriteData(pOut));
	EXPECT_EQ(tBytes(pOut->GetData(), pOut->GetData() + pOut->GetSize()), TextureHeader(TEXTURE_FORMAT_RAW, 640, 480));

	// No children: a texture without levels, which answers 0, 0 and no alpha.
	Texture* pTexture = pChunk->GetTexture();
	ASSERT_NE(pTexture, nullptr);
	EXPECT_EQ(pTexture->GetLevelCount(), 0u);
	EXPECT_EQ(pTexture->GetMipLevel(0), nullptr);
	EXPECT_EQ(pTexture->GetWidth(), 0u);
	EXPECT_EQ(pTexture->GetHeight(), 0u);
	EXPECT_FALSE(pTexture->HasAlpha());
	EXPECT_FALSE(pTexture->CopyTo(pTexture));
	EXPECT_TRUE(pTexture->IsReadyToUse());

	// An empty block is format 0 without a size; a block shorter than the header fails the file.
	tRecord Empty = TextureRecord(TEXTURE_FORMAT_PNG, 0, 0, {RedPixel().Build()});
	Empty.Data.clear();
	CRootChunk EmptyRoot;
	CTextureChunk* pEmpty = ReadTexture(EmptyRoot, Empty);
	ASSERT_NE(pEmpty, nullptr);
	EXPECT_EQ(pEmpty->GetFormat(), TEXTURE_FORMAT_PNG);
	EXPECT_EQ(pEmpty->GetWidth(), 0u);
	EXPECT_EQ(PixelsOf(pEmpty->GetTexture()->GetMipLevel(0)), std::vector<uint32_t>({0xFFFF0000}));
	tRecord Short = TextureRecord(TEXTURE_FORMAT_RAW, 1, 1, {});
	Short.Data.resize(5);
	CRootChunk ShortRoot;
	EXPECT_EQ(ReadTexture(ShortRoot, Short), nullptr);

	// A PNG level writes the bytes it was read from.
	const tBytes Png = RedPixel().Build();
	CRootChunk PngRoot;
	CTextureChunk* pPng = ReadTexture(PngRoot, TextureRecord(TEXTURE_FORMAT_PNG, 1, 1, {Png}));
	ASSERT_NE(pPng, nullptr);
	Strong<CUnlimitedStream> pPngOut = Strong<CUnlimitedStream>::New(new CUnlimitedStream());
	ASSERT_TRUE(pPng->GetChild(0)->WriteData(pPngOut));
	EXPECT_EQ(tBytes(pPngOut->GetData(), pPngOut->GetData() + pPngOut->GetSize()), Png);
}

TEST_F(TextureTest, NamedColoursAreARGB)
{
	const struct
	{
		CARGB Colour;
		uint8_t ucAlpha, ucRed, ucGreen, ucBlue;
	} Cases[] = {
		{CARGB::Transparent, 0, 0, 0, 0},
		{CARGB::SkyBlue, 0xFF, 0x66, 0xCC, 0xFF},
		{CARGB::Orange, 0xFF, 0xFF, 0x7F, 0x00},
		{CARGB::Green, 0xFF, 0x00, 0x7F, 0x00},
	};
	for (const auto& Case : Cases)
	{
		EXPECT_EQ(Case.Colour, CARGB(Case.ucAlpha, Case.ucRed, Case.ucGreen, Case.ucBlue));
		EXPECT_EQ(Case.Colour.GetAlpha(), Case.ucAlpha);
		EXPECT_EQ(Case.Colour.GetRed(), Case.ucRed);
		EXPECT_EQ(Case.Colour.GetGreen(), Case.ucGreen);
		EXPECT_EQ(Case.Colour.GetBlue(), Case.ucBlue);
	}
	EXPECT_STREQ(g_rgNamedColours[9].m_szName, "COLOUR_SKYBLUE");
	EXPECT_EQ(g_rgNamedColours[9].m_Colour, CARGB::SkyBlue);
}

TEST_F(TextureTest, ResourceDeletesTheDeviceObjectItOwnsButNeverItself)
{
	static int s_iDeleted = 0;
	struct CDeviceObject : public CBase
	{
		~CDeviceObject() override { s_iDeleted++; }
	};
	Strong<Texture> pTexture = Strong<Texture>::New(new Texture(1));
	pTexture->SetHWResource(new CDeviceObject());
	pTexture->SetHWResource(new CDeviceObject());
	EXPECT_EQ(s_iDeleted, 1);
	pTexture->DeleteHWResource();
	EXPECT_EQ(s_iDeleted, 2);
	EXPECT_EQ(pTexture->GetHWResource(), nullptr);
	pTexture->SetHWResource(pTexture);
	pTexture->DeleteHWResource();
	EXPECT_EQ(pTexture->GetHWResource(), nullptr);
	pTexture->SetHWResource(new CDeviceObject());
	pTexture.SetNull();
	EXPECT_EQ(s_iDeleted, 3);
}

TEST_F(TextureTest, ChunkTypeRegistryMakesTextures)
{
	AutoDelete<CChunk> pChunk(CChunkTypes::m_Global._Create(CHUNK_TEXTURE));
	EXPECT_NE(dynamic_cast<CTextureChunk*>(pChunk.GetPointer()), nullptr);
	AutoDelete<CChunk> pImage(CChunkTypes::m_Global._Create(CHUNK_IMAGEDATA));
	EXPECT_NE(dynamic_cast<CImageDataChunk*>(pImage.GetPointer()), nullptr);
}
