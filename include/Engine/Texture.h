#pragma once
// Textures kept in memory, one image per level of detail, and the chunk that builds one from a chunk file: each of
// its data children is one level, PNG data or raw 32-bit pixels.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "Engine/ARGB.h"
#include "Engine/ChunkFile.h"
#include "Engine/Resource.h"

// One level of a texture: its size, whether it has alpha, and its pixels row by row.
class CMipLevel
{
public:
	CMipLevel();
	virtual ~CMipLevel();

	// Back to 0 by 0, without alpha or pixels.
	void Clear();
	// Takes the pixels (Width * Height of them, row by row).
	void SetPixels(size_t Width, size_t Height, bool bAlpha, std::vector<CARGB>&& Pixels);

	size_t GetWidth() const { return m_Width; }
	size_t GetHeight() const { return m_Height; }
	bool HasAlpha() const { return m_bAlpha; }
	const CARGB* GetPixels() const { return m_Pixels.empty() ? nullptr : m_Pixels.data(); }
	size_t GetPixelCount() const { return m_Pixels.size(); }

private:
	size_t m_Width;
	size_t m_Height;
	bool m_bAlpha;
	std::vector<CARGB> m_Pixels;
};

class Texture : public Surface
{
public:
	// A texture of empty levels.
	explicit Texture(size_t LevelCount);
	~Texture() override;

	// Null for a level the texture does not have.
	virtual CMipLevel* GetMipLevel(size_t Level);
	virtual void Process(float fDelta);
	virtual void UpdateLevel(size_t Level);

	// The surface level's; 0, 0 and false for a texture without levels.
	size_t GetWidth() override;
	size_t GetHeight() override;
	bool HasAlpha() override;

	size_t GetLevelCount() const { return m_LevelCount; }

private:
	size_t m_LevelCount;
	std::unique_ptr<CMipLevel[]> m_pLevels;
};

// The most memory decoding a PNG level may take per byte of the PNG. A level of one-byte pixels whose data inflates
// as far as deflate allows takes 8 bytes for each stored byte (its expanded row and its colour, 4 bytes each), so
// such levels always decode; levels whose decoded size their bytes cannot justify are refused before decoding.
constexpr uint64_t PNG_DECODE_MAX_RATIO = 8 * DEFLATE_MAX_RATIO;

enum eTextureFormat : uint16_t
{
	TEXTURE_FORMAT_PNG = 0,
	TEXTURE_FORMAT_RAW = 1,
};

// A texture record of a chunk file: a 16-byte header (format, reserved, width and height of level 0, reserved) and
// one child per level. Once it and its children are read it builds its texture.
class CTextureChunk : public CChunk
{
public:
	enum
	{
		HEADER_SIZE = 16,
	};

	CTextureChunk();
	~CTextureChunk() override;

	// An empty block gives format 0 and no size; a block shorter than the header is refused.
	bool ReadData(Stream* pData) override;
	bool WriteData(Stream* pStream) override;
	// Builds the texture, one level per child (see Texture.cpp).
	void Process() override;

	uint16_t GetFormat() const { return m_usFormat; }
	uint32_t GetWidth() const { return m_uiWidth; }
	uint32_t GetHeight() const { return m_uiHeight; }
	Texture* GetTexture() const { return m_pTexture; }

private:
	uint16_t m_usFormat;
	uint16_t m_usReserved;
	uint32_t m_uiWidth;
	uint32_t m_uiHeight;
	uint32_t m_uiReserved;
	Strong<Texture> m_pTexture;
};
