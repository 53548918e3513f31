#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>

#include "Engine/BaseObject.h"

namespace Kestrin3D
{
namespace Interfaces
{
class IStream;
}
}

// Every byte source and sink of the engine. Streams are reference-counted: whoever opens one holds its
// reference and releases it when done.
class Stream : public CBaseObject
{
public:
	~Stream() override;

	virtual size_t Read(void* pDst, size_t n) = 0;
	virtual size_t Write(const void* pSrc, size_t n) = 0;
	// iWhence: 0 from the start, 1 from the current position, 2 from the end; anything else fails.
	// A position before the start is refused and leaves the position as it was.
	virtual bool Seek(long lOffset, int iWhence) = 0;
	virtual long Tell() = 0;
	virtual long GetLength();
	virtual bool SetModifiedTime(time_t Time);

	// The plug-in module's view of the stream, made on first request; it holds a reference to the stream.
	Kestrin3D::Interfaces::IStream* m_pStreamInterface = nullptr;
};

// Reads until Size bytes came or the stream has no more (a single Read may return fewer); returns the bytes read.
size_t ReadFully(Stream* pStream, void* pDst, size_t Size);

// A fixed block of memory; it never grows. The owner, when given, keeps the memory alive.
class CMemoryStream : public Stream
{
public:
	enum
	{
		ACCESS_READ = 1,
		ACCESS_WRITE = 2,
	};

	CMemoryStream(void* pData, size_t Length, bool bReadable, bool bWritable, CBaseObject* pOwner = nullptr);
	// Read-only view of memory owned elsewhere (static data, a received datagram).
	CMemoryStream(const void* pData, size_t Length, CBaseObject* pOwner = nullptr);
	virtual ~CMemoryStream();

	virtual size_t Read(void* pDst, size_t n) override;
	virtual size_t Write(const void* pSrc, size_t n) override;
	virtual bool Seek(long lOffset, int iWhence) override;
	virtual long Tell() override;
	virtual long GetLength() override;

	const unsigned char* GetData() const { return m_pData; }

private:
	Strong<CBaseObject> m_pOwner;
	unsigned char* m_pData;
	size_t m_Length;
	int64_t m_iPosition;
	uint32_t m_uiAccess;
};

// A C FILE; the destructor closes it.
class CStandardStream : public Stream
{
public:
	explicit CStandardStream(FILE* pFile);
	virtual ~CStandardStream();

	// A new stream (count 1) over fopen(szPath, szMode), or null when the file cannot be opened.
	static CStandardStream* Open(const char* szPath, const char* szMode);

	virtual size_t Read(void* pDst, size_t n) override;
	virtual size_t Write(const void* pSrc, size_t n) override;
	virtual bool Seek(long lOffset, int iWhence) override;
	virtual long Tell() override;
	// Counts the open descriptor above its memory: descriptors are the scarcer of the two.
	size_t GetRetainedBytes() const override;

private:
	FILE* m_pFile;
};

// A growable buffer. Up to 256 bytes live inline, so small messages need no heap block; beyond that the
// capacity doubles. Bytes between the old length and a position reached by Seek read as zero.
class CUnlimitedStream : public Stream
{
public:
	enum
	{
		INLINE_SIZE = 256,
	};

	CUnlimitedStream();
	virtual ~CUnlimitedStream();

	CUnlimitedStream(const CUnlimitedStream&) = delete;
	CUnlimitedStream& operator=(const CUnlimitedStream&) = delete;

	virtual size_t Read(void* pDst, size_t n) override;
	virtual size_t Write(const void* pSrc, size_t n) override;
	virtual bool Seek(long lOffset, int iWhence) override;
	virtual long Tell() override;
	virtual long GetLength() override;

	// Appends the first n bytes of this buffer (at most its length) to pDestination at its position.
	size_t WriteTo(CUnlimitedStream* pDestination, size_t n);

	const unsigned char* GetData() const { return m_pData; }
	unsigned char* GetData() { return m_pData; }
	size_t GetCapacity() const { return m_Capacity; }
	size_t GetSize() const { return m_Length; }

private:
	bool Reserve(size_t Needed);

	unsigned char m_InlineBuffer[INLINE_SIZE];
	unsigned char* m_pData;
	size_t m_Capacity;
	size_t m_Length;
	size_t m_Position;
};

// A window onto another stream. Every access seeks the parent first, so several windows can share one
// parent as long as they are used from one thread.
class CStreamRangeStream : public Stream
{
public:
	CStreamRangeStream(Stream* pParent, uint64_t Offset, uint64_t Length);
	virtual ~CStreamRangeStream();

	virtual size_t Read(void* pDst, size_t n) override;
	virtual size_t Write(const void* pSrc, size_t n) override;
	virtual bool Seek(long lOffset, int iWhence) override;
	virtual long Tell() override;
	virtual long GetLength() override;

private:
	bool SeekParent();

	Strong<Stream> m_pParent;
	uint64_t m_Offset;
	uint64_t m_Length;
	int64_t m_iPosition;
};

enum eTextEncoding
{
	TEXT_ENCODING_UNKNOWN = -1,
	TEXT_ENCODING_UTF8 = 1,
	TEXT_ENCODING_UTF16 = 2,
	TEXT_ENCODING_UTF32 = 3,
};

// Loads the whole text of a stream as UTF-8 (honouring a byte-order mark) and reads it by bytes,
// characters or lines. A plain class owned by its user.
class CTextReader
{
public:
	explicit CTextReader(Stream* pStream);
	~CTextReader();

	CTextReader(const CTextReader&) = delete;
	CTextReader& operator=(const CTextReader&) = delete;

	// Detects the encoding and loads the rest of the stream. UTF-16 big-endian and UTF-32 are refused;
	// a refused or failed load is final: the reader then stays empty.
	bool Load();
	bool IsLoaded() const { return m_pText != nullptr; }

	size_t Read(char* pDst, size_t n);
	// Decodes one UTF-8 character. A stray continuation byte or a lead byte F8 to FF yields U+FFFD;
	// a lead byte followed by anything but a continuation byte, or cut by the end, is false.
	bool ReadCharacter(char32_t& c);
	// Reads one line without its "\n" or "\r\n" into pBuffer (at most Size - 1 bytes, NUL-terminated).
	// False at the end of the text and for a line that does not fit.
	bool ReadLine(char* pBuffer, size_t Size, size_t* pLength);

	// The memory the reader keeps alive: its own block and text, and the stream it reads with what that retains
	// (a file's record, buffer and descriptor), which stay while the reader lives though whoever opened the
	// stream has let it go.
	size_t GetRetainedBytes() const;
	// The same without the stream, for an owner that holds the stream and counts it itself.
	size_t GetRetainedBytesBesideStream() const;

	// The loaded text (NUL-terminated) and its length in bytes; null and 0 until loaded.
	const char* GetText() const { return m_pText; }
	size_t GetTextLength() const { return m_TextLength; }
	size_t GetPosition() const { return m_Position; }
	eTextEncoding GetEncoding() const { return m_eEncoding; }
	bool IsBigEndian() const { return m_bBigEndian; }

private:
	bool EnsureLoaded();
	bool LoadUTF8(size_t Size);
	bool LoadUTF16LE(size_t Size);
	bool ReadByte(unsigned char& b);

	eTextEncoding m_eEncoding;
	bool m_bBigEndian;
	bool m_bLoadFailed;
	Strong<Stream> m_pStream;
	size_t m_TextLength;
	size_t m_Position;
	char* m_pText;
};

// Writes text to a stream, starting an empty stream with the byte-order mark of its encoding.
// Only UTF-8 text can be written.
class CTextWriter
{
public:
	explicit CTextWriter(Stream* pStream, eTextEncoding eEncoding = TEXT_ENCODING_UTF8, bool bBigEndian = false);

	// True when the mark (if due) and all of the text were written.
	bool Write(const char* szText, size_t Length);
	bool Print(const char* szFormat, ...)
#if defined(__GNUC__)
		__attribute__((format(printf, 2, 3)))
#endif
		;

private:
	bool WriteByteOrderMark();

	eTextEncoding m_eEncoding;
	bool m_bBigEndian;
	Strong<Stream> m_pStream;
};
