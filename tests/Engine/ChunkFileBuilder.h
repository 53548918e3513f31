#pragma once
// Builds chunk files byte by byte for tests: records in the current or the older layout, plain or compressed.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <zlib.h>

#include "Engine/KestrinArguments.h"
#include "Engine/KestrinStream.h"

namespace ChunkFileBuilder
{
typedef std::vector<uint8_t> tBytes;

struct tRecord
{
	uint32_t uiType;
	std::string Name;
	tBytes Data;
	std::vector<tRecord> Children;
	// Older layout only: bytes padding the header and the block, which the reader must skip.
	tBytes HeaderPadding;
	tBytes BlockPadding;
};

inline void Append(tBytes& Out, const tBytes& In)
{
	Out.insert(Out.end(), In.begin(), In.end());
}

inline void AppendUInt(tBytes& Out, uint64_t uiValue, size_t Size)
{
	for (size_t i = 0; i < Size; i++)
		Out.push_back(static_cast<uint8_t>(uiValue >> (8 * i)));
}

inline void AppendName(tBytes& Out, const std::string& Name)
{
	size_t Length = Name.size();
	do
	{
		uint8_t ucByte = Length & 0x7F;
		Length >>= 7;
		Out.push_back(static_cast<uint8_t>(ucByte | (Length ? 0x80 : 0)));
	} while (Length);
	Out.insert(Out.end(), Name.begin(), Name.end());
}

// The record without its type id.
inline tBytes Record(const tRecord& Chunk, uint32_t uiVersion)
{
	tBytes Out;
	if (uiVersion <= 6)
	{
		AppendUInt(Out, Chunk.Name.size() + 1 + Chunk.HeaderPadding.size(), 2);
		AppendName(Out, Chunk.Name);
		Append(Out, Chunk.HeaderPadding);
		AppendUInt(Out, 4 + Chunk.Data.size() + Chunk.BlockPadding.size(), 4);
		AppendUInt(Out, Chunk.Data.size(), 4);
		Append(Out, Chunk.Data);
		Append(Out, Chunk.BlockPadding);
		AppendUInt(Out, Chunk.Children.size(), 2);
	}
	else
	{
		AppendName(Out, Chunk.Name);
		AppendUInt(Out, Chunk.Data.size(), 4);
		Append(Out, Chunk.Data);
		AppendUInt(Out, Chunk.Children.size(), 4);
	}
	for (const tRecord& Child : Chunk.Children)
	{
		AppendUInt(Out, Child.uiType, 4);
		Append(Out, Record(Child, uiVersion));
	}
	return Out;
}

inline tBytes Header(uint8_t ucEncoding, uint32_t uiVersion)
{
	tBytes Out = {'H', 'B', 'F', ucEncoding};
	AppendUInt(Out, uiVersion, 4);
	if (uiVersion >= 8)
		AppendUInt(Out, 0, 4);
	return Out;
}

// The body: the root's type, then the root record.
inline tBytes Body(const tRecord& Root, uint32_t uiVersion)
{
	tBytes Out;
	AppendUInt(Out, 0, 4);
	Append(Out, Record(Root, uiVersion));
	return Out;
}

inline tBytes PlainFile(const tRecord& Root, uint32_t uiVersion)
{
	tBytes Out = Header(0xFF, uiVersion);
	Append(Out, Body(Root, uiVersion));
	return Out;
}

inline tBytes Compress(const tBytes& Data)
{
	uLongf Length = compressBound(Data.size());
	tBytes Out(Length);
	compress(Out.data(), &Length, Data.data(), Data.size());
	Out.resize(Length);
	return Out;
}

// A compressed file; the stated uncompressed size can be given to lie about the body.
inline tBytes CompressedFile(const tBytes& Body, uint32_t uiVersion, uint32_t uiThird = 0x11223344,
	int64_t iStatedSize = -1)
{
	tBytes Out = Header('Z', uiVersion);
	const tBytes Compressed = Compress(Body);
	AppendUInt(Out, iStatedSize < 0 ? Body.size() : static_cast<uint64_t>(iStatedSize), 4);
	AppendUInt(Out, Compressed.size(), 4);
	AppendUInt(Out, uiThird, 4);
	Append(Out, Compressed);
	return Out;
}

// The data block of an element: the text payload, then the attribute map payload.
inline tBytes ElementData(const std::string& Text, const std::vector<std::pair<std::string, std::string>>& Attributes)
{
	Strong<CUnlimitedStream> pStream = Strong<CUnlimitedStream>::New(new CUnlimitedStream());
	CArgumentString TextValue(Text.data(), Text.size());
	TextValue.Write(pStream);
	CArgumentMap Map;
	for (const auto& Attribute : Attributes)
		Map.Set(Attribute.first.c_str(), new CArgumentString(Attribute.second.data(), Attribute.second.size()));
	Map.Write(pStream);
	return tBytes(pStream->GetData(), pStream->GetData() + pStream->GetSize());
}

inline Strong<CMemoryStream> OpenBytes(const tBytes& Bytes)
{
	return Strong<CMemoryStream>::New(new CMemoryStream(static_cast<const void*>(Bytes.data()), Bytes.size()));
}
}
