#pragma once
// Builds small PNG files for tests, chunk by chunk: the decoder under test is checked against bytes made without it.

#include <cstdint>
#include <string>
#include <vector>

#include <zlib.h>

namespace PngBuilder
{
typedef std::vector<uint8_t> tBytes;

enum eColourType : uint8_t
{
	GREY = 0,
	RGB = 2,
	PALETTE = 3,
	GREY_ALPHA = 4,
	RGBA = 6,
};

inline void AppendBE32(tBytes& Out, uint32_t uiValue)
{
	for (int i = 3; i >= 0; i--)
		Out.push_back(static_cast<uint8_t>(uiValue >> (8 * i)));
}

// One chunk: length, type, data and the CRC of type and data.
inline void AppendChunk(tBytes& Out, const char* szType, const tBytes& Data)
{
	AppendBE32(Out, static_cast<uint32_t>(Data.size()));
	tBytes Typed(szType, szType + 4);
	Typed.insert(Typed.end(), Data.begin(), Data.end());
	Out.insert(Out.end(), Typed.begin(), Typed.end());
	AppendBE32(Out, static_cast<uint32_t>(crc32(0, Typed.data(), static_cast<uInt>(Typed.size()))));
}

struct tImage
{
	uint32_t uiWidth = 1;
	uint32_t uiHeight = 1;
	uint8_t ucBitDepth = 8;
	eColourType eType = RGB;
	// Each row's bytes as the format packs them, without the filter byte.
	std::vector<tBytes> Rows;
	tBytes Palette;	 // PLTE: three bytes per entry
	tBytes Transparency; // tRNS, when not empty

	tBytes Build() const
	{
		tBytes Out = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
		tBytes Header;
		AppendBE32(Header, uiWidth);
		AppendBE32(Header, uiHeight);
		Header.insert(Header.end(), {ucBitDepth, static_cast<uint8_t>(eType), 0, 0, 0});
		AppendChunk(Out, "IHDR", Header);
		if (!Palette.empty())
			AppendChunk(Out, "PLTE", Palette);
		if (!Transparency.empty())
			AppendChunk(Out, "tRNS", Transparency);
		tBytes Raw;
		for (const tBytes& Row : Rows)
		{
			Raw.push_back(0); // no filter
			Raw.insert(Raw.end(), Row.begin(), Row.end());
		}
		uLongf Length = compressBound(static_cast<uLong>(Raw.size()));
		tBytes Compressed(Length);
		compress(Compressed.data(), &Length, Raw.data(), static_cast<uLong>(Raw.size()));
		Compressed.resize(Length);
		AppendChunk(Out, "IDAT", Compressed);
		AppendChunk(Out, "IEND", {});
		return Out;
	}
};
}
