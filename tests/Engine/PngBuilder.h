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

// The samples of a pixel as stored.
inline size_t ChannelsOf(eColourType eType)
{
	switch (eType)
	{
	case GREY_ALPHA:
		return 2;
	case RGB:
		return 3;
	case RGBA:
		return 4;
	default:
		return 1;
	}
}

struct tImage
{
	uint32_t uiWidth = 1;
	uint32_t uiHeight = 1;
	uint8_t ucBitDepth = 8;
	eColourType eType = RGB;
	// Each row's bytes as the format packs them, without the filter byte.
	std::vector<tBytes> Rows;
	// Instead of Rows: uiHeight rows of zero bytes, deflated as they are made, so that an image of gigabytes
	// costs its compressed size to build.
	bool bZeroRows = false;
	tBytes Palette;	 // PLTE: three bytes per entry
	tBytes Transparency; // tRNS, when not empty

	// The bytes of one row as the format packs it, without the filter byte.
	size_t RowBytes() const { return (static_cast<size_t>(uiWidth) * ucBitDepth * ChannelsOf(eType) + 7) / 8; }

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
		AppendChunk(Out, "IDAT", CompressedRows());
		AppendChunk(Out, "IEND", {});
		return Out;
	}

private:
	// The rows, each after its filter byte (0: no filter), as one zlib stream.
	tBytes CompressedRows() const
	{
		z_stream Stream{};
		deflateInit(&Stream, Z_DEFAULT_COMPRESSION);
		tBytes Compressed;
		uint8_t rgucOut[16384];
		auto Feed = [&](const tBytes& Bytes, int iFlush) {
			Stream.next_in = const_cast<Bytef*>(Bytes.data());
			Stream.avail_in = static_cast<uInt>(Bytes.size());
			do
			{
				Stream.next_out = rgucOut;
				Stream.avail_out = sizeof(rgucOut);
				deflate(&Stream, iFlush);
				Compressed.insert(Compressed.end(), rgucOut, Stream.next_out);
			} while (Stream.avail_out == 0);
		};
		tBytes Row;
		const size_t Count = bZeroRows ? uiHeight : Rows.size();
		for (size_t i = 0; i < Count; i++)
		{
			if (bZeroRows)
				Row.assign(1 + RowBytes(), 0);
			else
			{
				Row.assign(1, 0);
				Row.insert(Row.end(), Rows[i].begin(), Rows[i].end());
			}
			Feed(Row, Z_NO_FLUSH);
		}
		Feed(tBytes(), Z_FINISH);
		deflateEnd(&Stream);
		return Compressed;
	}
};
}
