// Textures in memory and the texture records of chunk files, with their levels decoded from PNG data (libpng) or
// copied from raw pixels.

#include "Engine/Texture.h"

#include <csetjmp>
#include <cstring>
#include <utility>

#include <png.h>

#include "Engine/Context.h"
#include "Engine/KestrinArguments.h"
#include "Engine/KestrinStream.h"
#include "Engine/KestrinString.h"

namespace
{
// The first bytes of every PNG file; the rest of its signature is left to libpng.
constexpr uint8_t PNG_SIGNATURE_START[4] = {0x89, 'P', 'N', 'G'};

// Where the header chunk of a PNG file stands: signature (8), chunk length (4), chunk type (4), then the width and
// height (4 each, big-endian), bit depth and colour type (1 each).
constexpr size_t PNG_HEADER_TYPE_OFFSET = 12;
constexpr size_t PNG_HEADER_END = 26;

// A level of a raw texture halves the size of level 0 per step; beyond 31 steps the shift has no meaning.
constexpr size_t MAX_RAW_LEVEL = 31;

uint16_t ReadLE16(const uint8_t* p)
{
	return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t ReadLE32(const uint8_t* p)
{
	return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
		(static_cast<uint32_t>(p[3]) << 24);
}

uint32_t ReadBE32(const uint8_t* p)
{
	return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
		(static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

void WriteLE(uint8_t* p, uint32_t uiValue, size_t Size)
{
	for (size_t i = 0; i < Size; i++)
		p[i] = static_cast<uint8_t>(uiValue >> (8 * i));
}

// The samples per pixel of a PNG colour type as stored; 0 for a type PNG does not have.
size_t ChannelsOf(int iColourType)
{
	switch (iColourType)
	{
	case PNG_COLOR_TYPE_GRAY:
	case PNG_COLOR_TYPE_PALETTE:
		return 1;
	case PNG_COLOR_TYPE_GRAY_ALPHA:
		return 2;
	case PNG_COLOR_TYPE_RGB:
		return 3;
	case PNG_COLOR_TYPE_RGB_ALPHA:
		return 4;
	default:
		return 0;
	}
}

// A pixel of the rows libpng hands over once the transforms have run: 8 bits a channel, RGBA at most.
constexpr uint64_t DECODED_PIXEL_BYTES = 4;

// Refuses, before libpng allocates for them, the levels whose stated size the PNG's bytes cannot justify:
// - Image data cannot inflate beyond DEFLATE_MAX_RATIO times the bytes that hold it, so a header stating more
//   stored rows than that is a lie.
// - Decoding holds each pixel's expanded row (and a pointer per row) and its colour in the level at once. A pixel
//   of one bit takes 64 times its stored size that way, so what decoding takes is bounded on its own, by
//   PNG_DECODE_MAX_RATIO times the PNG's bytes.
// Anything else about the header is for libpng to judge.
bool IsStatedSizeJustified(const uint8_t* pBytes, size_t Size)
{
	if (Size < PNG_HEADER_END || memcmp(pBytes + PNG_HEADER_TYPE_OFFSET, "IHDR", 4) != 0)
		return true;
	const uint64_t uiWidth = ReadBE32(pBytes + 16);
	const uint64_t uiHeight = ReadBE32(pBytes + 20);
	const uint64_t uiBitDepth = pBytes[24];
	const uint64_t uiChannels = ChannelsOf(pBytes[25]);

	// A stored row is at least its filter byte and its bits in whole bytes; interlaced rows take no fewer.
	const uint64_t uiStoredRowBytes = 1 + (uiWidth * uiBitDepth * uiChannels + 7) / 8;
	if (uiChannels != 0 && uiHeight > static_cast<uint64_t>(Size) * DEFLATE_MAX_RATIO / uiStoredRowBytes)
		return false;

	const uint64_t uiDecodedRowBytes = uiWidth * (DECODED_PIXEL_BYTES + sizeof(CARGB)) + sizeof(png_bytep);
	return uiHeight <= static_cast<uint64_t>(Size) * PNG_DECODE_MAX_RATIO / uiDecodedRowBytes;
}

// libpng reports errors here and must not come back: the jump returns to the decoding step that set it up.
[[noreturn]] void OnPngError(png_structp pPng, png_const_charp)
{
	longjmp(png_jmpbuf(pPng), 1);
}

// Warnings about a damaged PNG go nowhere: a level that cannot be decoded simply stays empty.
void OnPngWarning(png_structp, png_const_charp)
{
}

// libpng's reads, served from the level's stream. A short read is a damaged file.
void ReadFromStream(png_structp pPng, png_bytep pData, png_size_t Length)
{
	Stream* pStream = static_cast<Stream*>(png_get_io_ptr(pPng));
	if (ReadFully(pStream, pData, Length) != Length)
		png_error(pPng, "PNG data ends early");
}

// The one step that libpng may leave by its error jump: nothing here has a destructor to skip.
bool ReadPng(png_structp pPng, png_infop pInfo, Stream* pStream)
{
	if (setjmp(png_jmpbuf(pPng)))
		return false;
	png_set_read_fn(pPng, pStream, ReadFromStream);
	png_set_sig_bytes(pPng, sizeof(PNG_SIGNATURE_START));
	png_read_png(pPng, pInfo, PNG_TRANSFORM_STRIP_16 | PNG_TRANSFORM_PACKING | PNG_TRANSFORM_EXPAND | PNG_TRANSFORM_BGR,
		nullptr);
	return true;
}

// The decoded rows, 8 bits a channel (blue before red where there is colour), as the level's 0xAARRGGBB pixels.
// Anything else leaves the level as it is.
void ConvertRows(png_structp pPng, png_infop pInfo, CMipLevel& Level)
{
	const size_t Width = png_get_image_width(pPng, pInfo);
	const size_t Height = png_get_image_height(pPng, pInfo);
	const int iColourType = png_get_color_type(pPng, pInfo);
	const size_t Channels = png_get_channels(pPng, pInfo);
	png_bytepp ppRows = png_get_rows(pPng, pInfo);
	// Palette images come out of the expansion as RGB or RGBA; anything else is not an image this can hold.
	if (iColourType == PNG_COLOR_TYPE_PALETTE || Channels == 0 || Channels != ChannelsOf(iColourType) ||
		png_get_bit_depth(pPng, pInfo) != 8 || !ppRows || png_get_rowbytes(pPng, pInfo) < Width * Channels)
		return;

	std::vector<CARGB> Pixels(Width * Height);
	CARGB* pPixel = Pixels.data();
	for (size_t y = 0; y < Height; y++)
	{
		const png_bytep pRow = ppRows[y];
		for (size_t x = 0; x < Width; x++)
		{
			const png_bytep p = pRow + x * Channels;
			switch (iColourType)
			{
			case PNG_COLOR_TYPE_RGB_ALPHA:
				*pPixel++ = CARGB(p[3], p[2], p[1], p[0]);
				break;
			case PNG_COLOR_TYPE_RGB:
				*pPixel++ = CARGB(0xFF, p[2], p[1], p[0]);
				break;
			case PNG_COLOR_TYPE_GRAY:
				*pPixel++ = CARGB(0xFF, p[0], p[0], p[0]);
				break;
			default: // grey with alpha
				*pPixel++ = CARGB(p[1], p[0], p[0], p[0]);
				break;
			}
		}
	}
	const bool bAlpha = iColourType == PNG_COLOR_TYPE_GRAY_ALPHA || iColourType == PNG_COLOR_TYPE_RGB_ALPHA;
	Level.SetPixels(Width, Height, bAlpha, std::move(Pixels));
}

// A level from PNG data. Data that does not start like a PNG file leaves the level alone; a PNG that cannot be
// decoded (damaged, cut short, of a size its bytes cannot justify, or libpng unable to start) leaves it empty.
void DecodePngLevel(const CDataChunk* pData, CMipLevel& Level)
{
	Strong<Stream> pStream =
		Strong<Stream>::New(new CMemoryStream(static_cast<const void*>(pData->GetData()), pData->GetSize()));
	uint8_t rgucSignature[sizeof(PNG_SIGNATURE_START)];
	if (ReadFully(pStream, rgucSignature, sizeof(rgucSignature)) != sizeof(rgucSignature) ||
		memcmp(rgucSignature, PNG_SIGNATURE_START, sizeof(rgucSignature)) != 0)
		return;

	Level.Clear();
	if (!IsStatedSizeJustified(pData->GetData(), pData->GetSize()))
		return;
	png_structp pPng = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, OnPngError, OnPngWarning);
	if (!pPng)
		return;
	png_infop pInfo = png_create_info_struct(pPng);
	if (pInfo && ReadPng(pPng, pInfo, pStream))
		ConvertRows(pPng, pInfo, Level);
	png_destroy_read_struct(&pPng, pInfo ? &pInfo : nullptr, nullptr);
}

// A level of raw pixels: level 0's size halved per level. Made only when its size can be computed and the child
// holds all of its bytes; otherwise the level stays empty.
void ReadRawLevel(const CDataChunk* pData, size_t Index, uint32_t uiWidth, uint32_t uiHeight, CMipLevel& Level)
{
	if (Index > MAX_RAW_LEVEL)
		return;
	const size_t Width = uiWidth >> Index;
	const size_t Height = uiHeight >> Index;
	if (Width != 0 && Height > SIZE_MAX / sizeof(CARGB) / Width)
		return;
	const size_t Size = Width * Height * sizeof(CARGB);
	if (pData->GetSize() < Size)
		return;
	std::vector<CARGB> Pixels(Width * Height);
	if (Size > 0)
		memcpy(Pixels.data(), pData->GetData(), Size);
	Level.SetPixels(Width, Height, true, std::move(Pixels));
}
}

// Levels

CMipLevel::CMipLevel() : m_Width(0), m_Height(0), m_bAlpha(false)
{
}

CMipLevel::~CMipLevel() = default;

void CMipLevel::Clear()
{
	m_Width = 0;
	m_Height = 0;
	m_bAlpha = false;
	std::vector<CARGB>().swap(m_Pixels);
}

void CMipLevel::SetPixels(size_t Width, size_t Height, bool bAlpha, std::vector<CARGB>&& Pixels)
{
	m_Width = Width;
	m_Height = Height;
	m_bAlpha = bAlpha;
	m_Pixels = std::move(Pixels);
}

// Textures

Texture::Texture(size_t LevelCount) : m_LevelCount(LevelCount), m_pLevels(std::make_unique<CMipLevel[]>(LevelCount))
{
}

Texture::~Texture() = default;

CMipLevel* Texture::GetMipLevel(size_t Level)
{
	return Level < m_LevelCount ? &m_pLevels[Level] : nullptr;
}

void Texture::Process(float)
{
}

void Texture::UpdateLevel(size_t)
{
}

size_t Texture::GetWidth()
{
	const CMipLevel* pLevel = GetMipLevel(m_SurfaceLevel);
	return pLevel ? pLevel->GetWidth() : 0;
}

size_t Texture::GetHeight()
{
	const CMipLevel* pLevel = GetMipLevel(m_SurfaceLevel);
	return pLevel ? pLevel->GetHeight() : 0;
}

bool Texture::HasAlpha()
{
	const CMipLevel* pLevel = GetMipLevel(m_SurfaceLevel);
	return pLevel && pLevel->HasAlpha();
}

// Texture records

CTextureChunk::CTextureChunk() :
	CChunk(CHUNK_TEXTURE), m_usFormat(TEXTURE_FORMAT_PNG), m_usReserved(0), m_uiWidth(0), m_uiHeight(0), m_uiReserved(0)
{
}

CTextureChunk::~CTextureChunk() = default;

bool CTextureChunk::ReadData(Stream* pData)
{
	m_usFormat = TEXTURE_FORMAT_PNG;
	m_usReserved = 0;
	m_uiWidth = 0;
	m_uiHeight = 0;
	m_uiReserved = 0;
	if (KGetRemainingBytes(pData) == 0)
		return true;
	uint8_t rgucHeader[HEADER_SIZE];
	if (ReadFully(pData, rgucHeader, sizeof(rgucHeader)) != sizeof(rgucHeader))
		return false;
	m_usFormat = ReadLE16(rgucHeader);
	m_usReserved = ReadLE16(rgucHeader + 2);
	m_uiWidth = ReadLE32(rgucHeader + 4);
	m_uiHeight = ReadLE32(rgucHeader + 8);
	m_uiReserved = ReadLE32(rgucHeader + 12);
	return true;
}

bool CTextureChunk::WriteData(Stream* pStream)
{
	uint8_t rgucHeader[HEADER_SIZE];
	WriteLE(rgucHeader, m_usFormat, 2);
	WriteLE(rgucHeader + 2, m_usReserved, 2);
	WriteLE(rgucHeader + 4, m_uiWidth, 4);
	WriteLE(rgucHeader + 8, m_uiHeight, 4);
	WriteLE(rgucHeader + 12, m_uiReserved, 4);
	return pStream->Write(rgucHeader, sizeof(rgucHeader)) == sizeof(rgucHeader);
}

void CTextureChunk::Process()
{
	const size_t Count = GetChildCount();
	m_pTexture = Strong<Texture>::New(new Texture(Count));
	for (size_t i = 0; i < Count; i++)
	{
		if (m_usFormat != TEXTURE_FORMAT_PNG && m_usFormat != TEXTURE_FORMAT_RAW)
		{
			if (Context* pContext = KGlobal::GetContext())
				pContext->LogError("Unknown texture format %d in texture %s!", m_usFormat,
					StringManager::EscapeControlCharacters(GetName(), GetNameLength()).c_str());
			continue;
		}
		// Only a data child holds a level's bytes; the level of any other child stays empty.
		const CDataChunk* pData = dynamic_cast<const CDataChunk*>(GetChild(i));
		if (!pData)
			continue;
		if (m_usFormat == TEXTURE_FORMAT_PNG)
			DecodePngLevel(pData, *m_pTexture->GetMipLevel(i));
		else
			ReadRawLevel(pData, i, m_uiWidth, m_uiHeight, *m_pTexture->GetMipLevel(i));
	}
}

// Image data

bool CImageDataChunk::WriteData(Stream* pStream)
{
	const CTextureChunk* pOwner = dynamic_cast<const CTextureChunk*>(GetParent());
	Texture* pTexture = pOwner && pOwner->GetFormat() == TEXTURE_FORMAT_RAW ? pOwner->GetTexture() : nullptr;
	const CMipLevel* pLevel = pTexture ? pTexture->GetMipLevel(GetIndex()) : nullptr;
	// A level that was never made keeps what the file held rather than losing it.
	if (!pLevel || !pLevel->GetPixels())
		return CDataChunk::WriteData(pStream);
	const size_t Size = pLevel->GetPixelCount() * sizeof(CARGB);
	return pStream->Write(pLevel->GetPixels(), Size) == Size;
}
