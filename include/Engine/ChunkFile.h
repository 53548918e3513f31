#pragma once
// Chunk files: trees of typed records, stored plain or zlib-compressed after the magic "HBF". Besides element
// trees they carry raw data, history text and textures.

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "Engine/KestrinReference.h"

class Stream;

enum eChunkType : uint32_t
{
	CHUNK_DATA = 1,
	CHUNK_IMAGEDATA = 5,
	CHUNK_HISTORY = 21,
	CHUNK_TEXTURE = 72,
	CHUNK_ELEMENT = 93,
};

constexpr uint32_t CHUNK_VERSION_MIN = 6;
constexpr uint32_t CHUNK_VERSION_MAX = 8;
// The version of a chunk made in memory.
constexpr uint32_t CHUNK_VERSION_CURRENT = 8;
// Records nest at most this deep, so a hostile file cannot exhaust the reader's stack.
constexpr unsigned CHUNK_MAX_DEPTH = 256;
// Deflate cannot shrink data by more than about 1032 to 1, so a size stated beyond that for what some bytes inflate
// to is a lie that would only make the reader allocate for nothing.
constexpr uint64_t DEFLATE_MAX_RATIO = 1032;

// A node of a chunk tree: a typed record with a name, a data block and owned children.
class CChunk : public CBase
{
public:
	explicit CChunk(uint32_t uiType);
	// Orphans the chunk, then deletes its children.
	~CChunk() override;

	CChunk(const CChunk&) = delete;
	CChunk& operator=(const CChunk&) = delete;

	// Takes what the chunk keeps from its data block; the stream is a window over exactly that block.
	virtual bool ReadData(Stream* pData);
	virtual bool WriteData(Stream* pStream);
	// Runs after the chunk and all its children are read.
	virtual void Process();

	// Reads this chunk's record and all its children, in the layout of the chunk's version. Every length and count
	// is checked against what the stream still holds; any short read fails.
	bool Read(Stream* pStream);

	// The first child at index Start or later of the type (and, when given, with the name, ignoring case).
	CChunk* FindChunk(uint32_t uiType, size_t Start, const char* szName = nullptr) const;
	// Removes the chunk from its parent; the later siblings move up one place and keep their indexes right.
	void Orphan();
	// Appends a chunk (taken from its former parent, if any) as the last child; it takes this chunk's version.
	void AddChild(CChunk* pChild);
	// Unlinks every child without deleting it: each child's parent and index are cleared, the list is emptied.
	void DetachChildren();

	size_t GetIndex() const { return m_Index; }
	uint32_t GetVersion() const { return m_uiVersion; }
	void SetVersion(uint32_t uiVersion) { m_uiVersion = uiVersion; }
	uint32_t GetType() const { return m_uiType; }
	CChunk* GetParent() const { return m_pParent; }
	const char* GetName() const { return m_Name.c_str(); }
	size_t GetNameLength() const { return m_Name.size(); }
	void SetName(const char* szName, size_t Length) { m_Name.assign(szName, Length); }
	void SetName(const char* szName) { m_Name = szName ? szName : ""; }
	size_t GetChildCount() const { return m_Children.size(); }
	CChunk* GetChild(size_t Index) const { return Index < m_Children.size() ? m_Children[Index] : nullptr; }

private:
	bool ReadRecord(Stream* pStream, unsigned uiDepth);
	bool ReadChildren(Stream* pStream, size_t Count, unsigned uiDepth);

	size_t m_Index;
	uint32_t m_uiVersion;
	uint32_t m_uiType;
	CChunk* m_pParent;
	std::string m_Name;
	std::vector<CChunk*> m_Children;
};

// Raw bytes; also every chunk of a type nobody registered, which keeps its type id.
class CDataChunk : public CChunk
{
public:
	explicit CDataChunk(uint32_t uiType = CHUNK_DATA);
	~CDataChunk() override;

	// Takes the whole block; an empty block leaves no data.
	bool ReadData(Stream* pData) override;
	bool WriteData(Stream* pStream) override;

	// Null when there is no data.
	const uint8_t* GetData() const { return m_pData; }
	size_t GetSize() const { return m_Size; }

private:
	void Free();

	size_t m_Size;
	uint8_t* m_pData;
};

// Raw image bytes of a texture.
class CImageDataChunk : public CDataChunk
{
public:
	CImageDataChunk() : CDataChunk(CHUNK_IMAGEDATA) {}

	// A level of a raw texture writes the pixels its texture holds; anything else writes its stored bytes.
	bool WriteData(Stream* pStream) override;
};

// Text kept with a terminating zero; an empty block is refused.
class CHistoryChunk : public CChunk
{
public:
	CHistoryChunk();
	~CHistoryChunk() override;

	bool ReadData(Stream* pData) override;
	bool WriteData(Stream* pStream) override;

	const char* GetText() const { return m_szText ? m_szText : ""; }
	size_t GetLength() const { return m_Length; }

private:
	size_t m_Length;
	char* m_szText;
};

// The invisible top of a chunk file.
class CRootChunk : public CChunk
{
public:
	CRootChunk();

	// Reads a whole chunk file from the stream's position: magic, version, the plain or compressed body and the
	// root record. False for anything that is not a complete chunk file of versions 6 to 8.
	bool ReadFile(Stream* pStream);

	int32_t GetCompressedField() const { return m_iCompressedField; }
	bool IsCompressed() const { return m_bCompressed; }

private:
	bool ReadCompressedBody(Stream* pStream);
	bool ReadBody(Stream* pBody);

	// The third field of a compressed file's header (nothing reads it); -1 when the file gives none.
	int32_t m_iCompressedField;
	bool m_bCompressed;
};

typedef CChunk* (*ChunkFactory)();

// The registry of chunk types: the factory that makes an empty chunk of each type id.
class CChunkTypes
{
public:
	enum
	{
		DIRECT_SLOTS = 100,
	};

	// Registers the built-in types.
	CChunkTypes();

	// Replaces what the id had.
	void RegisterCustomChunk(uint32_t uiType, ChunkFactory pfnFactory);
	// A new chunk of the type (version 8, no parent); a plain data chunk with that id when none is registered.
	CChunk* _Create(uint32_t uiType) const;

	static CChunkTypes m_Global;

private:
	ChunkFactory m_rgpfnFactories[DIRECT_SLOTS];
	std::unordered_map<uint32_t, ChunkFactory> m_Custom;
};
