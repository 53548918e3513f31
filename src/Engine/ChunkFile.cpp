#include <strings.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include <zlib.h>

#include "Engine/ChunkFile.h"
#include "Engine/ElementChunk.h"
#include "Engine/KAssert.h"
#include "Engine/KestrinArguments.h"
#include "Engine/KestrinStream.h"
#include "Engine/Texture.h"

namespace
{
// The smallest encoding of a child: its type id, a one-byte name length, the data size and the child count.
constexpr size_t MIN_CHILD_SIZE = 4 + 1 + 4 + 4;
// The same in the older layout, with its header length, block length and 16-bit child count.
constexpr size_t MIN_CHILD_SIZE_V6 = 4 + 2 + 1 + 4 + 4 + 2;

bool ReadUInt16(Stream* pStream, uint16_t& uiValue)
{
	uint8_t rgucBuffer[2];
	if (pStream->Read(rgucBuffer, 2) != 2)
		return false;
	uiValue = static_cast<uint16_t>(rgucBuffer[0] | (rgucBuffer[1] << 8));
	return true;
}

bool ReadUInt32(Stream* pStream, uint32_t& uiValue)
{
	uint8_t rgucBuffer[4];
	if (pStream->Read(rgucBuffer, 4) != 4)
		return false;
	uiValue = static_cast<uint32_t>(rgucBuffer[0]) | (static_cast<uint32_t>(rgucBuffer[1]) << 8) |
		(static_cast<uint32_t>(rgucBuffer[2]) << 16) | (static_cast<uint32_t>(rgucBuffer[3]) << 24);
	return true;
}

// Moves forward by Count bytes, refusing to pass the end.
bool Skip(Stream* pStream, size_t Count)
{
	if (Count > KGetRemainingBytes(pStream))
		return false;
	return Count == 0 || pStream->Seek(static_cast<long>(Count), 1);
}

bool ReadName(Stream* pStream, std::string& Name)
{
	size_t Length;
	if (!KReadLengthPrefix(pStream, Length) || Length > KGetRemainingBytes(pStream))
		return false;
	Name.resize(Length);
	return Length == 0 || pStream->Read(&Name[0], Length) == Length;
}

// Reads a data block as its own window, then puts the stream at the block's end whatever the chunk consumed.
bool ReadDataBlock(CChunk* pChunk, Stream* pStream, uint32_t uiSize)
{
	if (uiSize > KGetRemainingBytes(pStream))
		return false;
	long lStart = pStream->Tell();
	Strong<Stream> pWindow = Strong<Stream>::New(new CStreamRangeStream(pStream, lStart, uiSize));
	bool bRead = pChunk->ReadData(pWindow);
	pWindow.SetNull();
	return bRead && pStream->Seek(lStart + static_cast<long>(uiSize), 0);
}

template <class T>
CChunk* MakeChunk()
{
	return new T();
}
}

// CChunk

CChunk::CChunk(uint32_t uiType)
	: m_Index(0), m_uiVersion(CHUNK_VERSION_CURRENT), m_uiType(uiType), m_pParent(nullptr)
{
}

CChunk::~CChunk()
{
	Orphan();
	for (CChunk* pChild : m_Children)
	{
		pChild->m_pParent = nullptr;
		delete pChild;
	}
	m_Children.clear();
}

bool CChunk::ReadData(Stream*)
{
	return true;
}

bool CChunk::WriteData(Stream*)
{
	return true;
}

void CChunk::Process()
{
}

bool CChunk::Read(Stream* pStream)
{
	return ReadRecord(pStream, 0);
}

bool CChunk::ReadRecord(Stream* pStream, unsigned uiDepth)
{
	if (uiDepth > CHUNK_MAX_DEPTH)
		return false;

	uint32_t uiChildCount;
	size_t MinChildSize;
	if (m_uiVersion <= 6)
	{
		uint16_t usHeaderLength;
		if (!ReadUInt16(pStream, usHeaderLength) || !ReadName(pStream, m_Name))
			return false;
		// The header length counts the name and its length byte; the rest of the header is skipped.
		if (usHeaderLength < m_Name.size() + 1 || !Skip(pStream, usHeaderLength - m_Name.size() - 1))
			return false;
		uint32_t uiBlockLength, uiDataSize;
		if (!ReadUInt32(pStream, uiBlockLength) || !ReadUInt32(pStream, uiDataSize))
			return false;
		// The block counts the data-size field, the data and whatever lies before the child count.
		if (uiBlockLength < 4 || uiBlockLength - 4 < uiDataSize)
			return false;
		if (!ReadDataBlock(this, pStream, uiDataSize) || !Skip(pStream, uiBlockLength - 4 - uiDataSize))
			return false;
		uint16_t usChildCount;
		if (!ReadUInt16(pStream, usChildCount))
			return false;
		uiChildCount = usChildCount;
		MinChildSize = MIN_CHILD_SIZE_V6;
	}
	else
	{
		uint32_t uiDataSize;
		if (!ReadName(pStream, m_Name) || !ReadUInt32(pStream, uiDataSize))
			return false;
		if (!ReadDataBlock(this, pStream, uiDataSize))
			return false;
		if (!ReadUInt32(pStream, uiChildCount))
			return false;
		MinChildSize = MIN_CHILD_SIZE;
	}

	if (uiChildCount > KGetRemainingBytes(pStream) / MinChildSize)
		return false;
	return ReadChildren(pStream, uiChildCount, uiDepth);
}

bool CChunk::ReadChildren(Stream* pStream, size_t Count, unsigned uiDepth)
{
	if (!KASSERT(m_Children.size() == 0))
	{
		std::vector<CChunk*> Old;
		Old.swap(m_Children);
		for (CChunk* pChild : Old)
		{
			pChild->m_pParent = nullptr;
			delete pChild;
		}
	}
	m_Children.reserve(Count);

	for (size_t i = 0; i < Count; i++)
	{
		uint32_t uiType;
		if (!ReadUInt32(pStream, uiType))
			return false;
		CChunk* pChild = CChunkTypes::m_Global._Create(uiType);
		pChild->m_pParent = this;
		pChild->m_uiVersion = m_uiVersion;
		pChild->m_Index = m_Children.size();
		if (!pChild->ReadRecord(pStream, uiDepth + 1))
		{
			// Not in the list yet: unlink by hand so the destructor does not look for it there.
			pChild->m_pParent = nullptr;
			delete pChild;
			return false;
		}
		pChild->Process();
		m_Children.push_back(pChild);
	}
	return true;
}

CChunk* CChunk::FindChunk(uint32_t uiType, size_t Start, const char* szName) const
{
	for (size_t i = Start; i < m_Children.size(); i++)
	{
		CChunk* pChild = m_Children[i];
		if (pChild->m_uiType != uiType)
			continue;
		if (szName && strcasecmp(pChild->m_Name.c_str(), szName) != 0)
			continue;
		return pChild;
	}
	return nullptr;
}

void CChunk::Orphan()
{
	if (!m_pParent)
		return;
	std::vector<CChunk*>& Siblings = m_pParent->m_Children;
	size_t Position = m_Index;
	if (Position >= Siblings.size() || Siblings[Position] != this)
	{
		Position = 0;
		while (Position < Siblings.size() && Siblings[Position] != this)
			Position++;
	}
	if (Position < Siblings.size())
	{
		Siblings.erase(Siblings.begin() + static_cast<std::ptrdiff_t>(Position));
		for (size_t i = Position; i < Siblings.size(); i++)
			Siblings[i]->m_Index = i;
	}
	m_pParent = nullptr;
	m_Index = 0;
}

void CChunk::AddChild(CChunk* pChild)
{
	if (!KASSERT(pChild != nullptr && pChild != this))
		return;
	pChild->Orphan();
	pChild->m_pParent = this;
	pChild->m_uiVersion = m_uiVersion;
	pChild->m_Index = m_Children.size();
	m_Children.push_back(pChild);
}

void CChunk::DetachChildren()
{
	for (CChunk* pChild : m_Children)
	{
		pChild->m_pParent = nullptr;
		pChild->m_Index = 0;
	}
	m_Children.clear();
}

// Raw data

CDataChunk::CDataChunk(uint32_t uiType) : CChunk(uiType), m_Size(0), m_pData(nullptr)
{
}

CDataChunk::~CDataChunk()
{
	Free();
}

void CDataChunk::Free()
{
	free(m_pData);
	m_pData = nullptr;
	m_Size = 0;
}

bool CDataChunk::ReadData(Stream* pData)
{
	Free();
	size_t Size = KGetRemainingBytes(pData);
	if (Size == 0)
		return true;
	uint8_t* pBlock = static_cast<uint8_t*>(malloc(Size));
	if (!pBlock)
		return false;
	if (pData->Read(pBlock, Size) != Size)
	{
		free(pBlock);
		return false;
	}
	m_pData = pBlock;
	m_Size = Size;
	return true;
}

bool CDataChunk::WriteData(Stream* pStream)
{
	return m_Size == 0 || pStream->Write(m_pData, m_Size) == m_Size;
}

CHistoryChunk::CHistoryChunk() : CChunk(CHUNK_HISTORY), m_Length(0), m_szText(nullptr)
{
}

CHistoryChunk::~CHistoryChunk()
{
	free(m_szText);
}

bool CHistoryChunk::ReadData(Stream* pData)
{
	free(m_szText);
	m_szText = nullptr;
	m_Length = 0;
	size_t Size = KGetRemainingBytes(pData);
	if (Size == 0)
		return false;
	char* pText = static_cast<char*>(malloc(Size + 1));
	if (!pText)
		return false;
	if (pData->Read(pText, Size) != Size)
	{
		free(pText);
		return false;
	}
	pText[Size] = '\0';
	m_szText = pText;
	m_Length = Size;
	return true;
}

bool CHistoryChunk::WriteData(Stream* pStream)
{
	return m_Length == 0 || pStream->Write(m_szText, m_Length) == m_Length;
}

// Chunk files

CRootChunk::CRootChunk() : CChunk(0), m_iCompressedField(-1), m_bCompressed(false)
{
}

bool CRootChunk::ReadFile(Stream* pStream)
{
	uint8_t rgucMagic[4];
	if (pStream->Read(rgucMagic, 4) != 4 || memcmp(rgucMagic, "HBF", 3) != 0)
		return false;
	uint32_t uiVersion;
	if (!ReadUInt32(pStream, uiVersion) || uiVersion < CHUNK_VERSION_MIN || uiVersion > CHUNK_VERSION_MAX)
		return false;
	if (uiVersion >= 8)
	{
		uint32_t uiIgnored;
		if (!ReadUInt32(pStream, uiIgnored))
			return false;
	}
	SetVersion(uiVersion);

	switch (rgucMagic[3])
	{
	case 'Z':
		m_bCompressed = true;
		return ReadCompressedBody(pStream);
	case 0xFF:
		return ReadBody(pStream);
	default:
		return false;
	}
}

bool CRootChunk::ReadCompressedBody(Stream* pStream)
{
	uint32_t uiUncompressedSize, uiCompressedSize, uiThird;
	if (!ReadUInt32(pStream, uiUncompressedSize) || !ReadUInt32(pStream, uiCompressedSize) ||
		!ReadUInt32(pStream, uiThird))
		return false;
	m_iCompressedField = static_cast<int32_t>(uiThird);

	// A body holds at least the root's type.
	if (uiUncompressedSize < 4 || uiCompressedSize > KGetRemainingBytes(pStream) ||
		uiUncompressedSize > static_cast<uint64_t>(uiCompressedSize) * DEFLATE_MAX_RATIO)
		return false;

	std::vector<uint8_t> Compressed(uiCompressedSize);
	if (uiCompressedSize && pStream->Read(Compressed.data(), uiCompressedSize) != uiCompressedSize)
		return false;

	// The zlib stream must end, and end exactly at the stated size.
	std::vector<uint8_t> Body(uiUncompressedSize);
	uLongf DestLength = uiUncompressedSize;
	uLong SourceLength = uiCompressedSize;
	if (uncompress2(Body.data(), &DestLength, Compressed.data(), &SourceLength) != Z_OK ||
		DestLength != uiUncompressedSize)
		return false;
	Compressed.clear();
	Compressed.shrink_to_fit();

	// The body lives in this frame; the windows made over it while reading are released before it goes.
	Strong<Stream> pBody = Strong<Stream>::New(new CMemoryStream(static_cast<const void*>(Body.data()), Body.size()));
	return ReadBody(pBody);
}

bool CRootChunk::ReadBody(Stream* pBody)
{
	uint32_t uiRootType;
	if (!ReadUInt32(pBody, uiRootType))
		return false;
	return Read(pBody);
}

// Registry

CChunkTypes CChunkTypes::m_Global;

CChunkTypes::CChunkTypes() : m_rgpfnFactories{}
{
	RegisterCustomChunk(CHUNK_DATA, MakeChunk<CDataChunk>);
	RegisterCustomChunk(CHUNK_IMAGEDATA, MakeChunk<CImageDataChunk>);
	RegisterCustomChunk(CHUNK_HISTORY, MakeChunk<CHistoryChunk>);
	RegisterCustomChunk(CHUNK_TEXTURE, MakeChunk<CTextureChunk>);
	RegisterCustomChunk(CHUNK_ELEMENT, MakeChunk<CElementChunk>);
}

void CChunkTypes::RegisterCustomChunk(uint32_t uiType, ChunkFactory pfnFactory)
{
	if (uiType < DIRECT_SLOTS)
		m_rgpfnFactories[uiType] = pfnFactory;
	else
		m_Custom[uiType] = pfnFactory;
}

CChunk* CChunkTypes::_Create(uint32_t uiType) const
{
	ChunkFactory pfnFactory = nullptr;
	if (uiType < DIRECT_SLOTS)
		pfnFactory = m_rgpfnFactories[uiType];
	else
	{
		auto It = m_Custom.find(uiType);
		if (It != m_Custom.end())
			pfnFactory = It->second;
	}
	CChunk* pChunk = pfnFactory ? pfnFactory() : nullptr;
	if (!pChunk)
		pChunk = new CDataChunk(uiType);
	pChunk->SetVersion(CHUNK_VERSION_CURRENT);
	return pChunk;
}
