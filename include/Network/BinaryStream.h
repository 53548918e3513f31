#pragma once
// Little-endian numbers, 7-bit-encoded numbers and wire strings over a stream: how every message and block is
// written and read. A wire string is its length as a 7-bit-encoded number (1 to 5 bytes) followed by the UTF-8
// bytes without terminator.

#include <cstddef>
#include <cstdint>

#include "Engine/KestrinMath.h"
#include "Engine/KestrinStream.h"

// Each write returns whether the stream took every byte.
class CBinaryWriter
{
public:
	explicit CBinaryWriter(Stream* pStream);

	Stream* GetStream() const { return m_pStream; }

	bool Write(const void* pData, size_t Size);
	bool WriteUInt8(uint8_t ucValue);
	bool WriteUInt8(const uint8_t* pValues, size_t Count);
	bool WriteInt16(int16_t sValue);
	bool WriteUInt16(uint16_t usValue);
	bool WriteUInt16(const uint16_t* pValues, size_t Count);
	bool WriteInt32(int32_t iValue);
	bool WriteInt32(const int32_t* pValues, size_t Count);
	bool WriteUInt32(uint32_t uiValue);
	bool WriteUInt32(const uint32_t* pValues, size_t Count);
	bool WriteInt64(int64_t iValue);
	bool WriteSingle(float fValue);
	bool WriteSingle(const float* pValues, size_t Count);
	bool WriteDouble(double dValue);
	bool WriteBoolean(bool bValue);
	bool WriteVector3D(const CVector3D& vecValue);
	bool WriteVector3D(const CVector3D* pValues, size_t Count);
	// The low 32 bits of the value, 7 bits a byte, least significant group first.
	bool Write7BitEncodedInt(int iValue);
	// A null or empty text writes the single byte 0. A text of 2^31 bytes or more is refused, since no reader
	// would take its length; nothing is written then.
	bool WriteString(const char* szText);
	bool WriteString(const char* szText, size_t Length);

	static size_t Get7BitEncodedIntSize(int iValue);
	static size_t GetStringSize(size_t Length);

private:
	Strong<Stream> m_pStream;
};

// Each read returns whether all of its bytes arrived. Lengths a peer sends are checked against the bytes that
// remain in the stream before anything is allocated for them.
class CBinaryReader
{
public:
	explicit CBinaryReader(Stream* pStream);

	Stream* GetStream() const { return m_pStream; }

	bool Read(void* pData, size_t Size);
	bool ReadInt8(int8_t* pValues, size_t Count = 1);
	bool ReadUInt8(uint8_t* pValues, size_t Count = 1);
	bool ReadInt16(int16_t* pValues, size_t Count = 1);
	bool ReadUInt16(uint16_t* pValues, size_t Count = 1);
	bool ReadInt32(int32_t* pValues, size_t Count = 1);
	bool ReadUInt32(uint32_t* pValues, size_t Count = 1);
	bool ReadInt64(int64_t* pValues, size_t Count = 1);
	bool ReadUInt64(uint64_t* pValues, size_t Count = 1);
	bool ReadSingle(float* pValues, size_t Count = 1);
	bool ReadDouble(double* pValues, size_t Count = 1);
	// Any non-zero byte is true.
	bool ReadBoolean(bool& bValue);
	// Up to 5 bytes; a fifth byte with bit 7 set fails. Bits beyond the low 32 are dropped.
	bool Read7BitEncodedInt(int* piValue);
	// A 7-bit-encoded length that the rest of the stream can actually hold: fails for a malformed prefix, for
	// lengths of 2^31 or more and for lengths beyond the remaining bytes. Every length read from a peer before
	// an allocation goes through here.
	bool ReadBoundedLength(size_t& Length);
	// A wire string in a new allocation of length + 1 bytes, zero-terminated; the caller releases it with free().
	// Null when the length or the bytes cannot be read or the allocation fails.
	char* ReadString(size_t* pLength = nullptr);

private:
	Strong<Stream> m_pStream;
};
