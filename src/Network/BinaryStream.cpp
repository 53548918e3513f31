#include "Network/BinaryStream.h"

#include <cstdlib>
#include <cstring>

#include "Engine/KestrinArguments.h"

namespace
{
// Messages are little-endian whatever the host's order, so numbers are packed byte by byte.
template <class TUnsigned>
void PackLittleEndian(TUnsigned uValue, uint8_t* pBytes)
{
	for (size_t i = 0; i < sizeof(TUnsigned); i++)
		pBytes[i] = static_cast<uint8_t>(uValue >> (8 * i));
}

template <class TUnsigned>
TUnsigned UnpackLittleEndian(const uint8_t* pBytes)
{
	TUnsigned uValue = 0;
	for (size_t i = 0; i < sizeof(TUnsigned); i++)
		uValue |= static_cast<TUnsigned>(pBytes[i]) << (8 * i);
	return uValue;
}

template <class TValue, class TUnsigned>
TUnsigned ToBits(TValue Value)
{
	static_assert(sizeof(TValue) == sizeof(TUnsigned), "widths differ");
	TUnsigned uBits;
	memcpy(&uBits, &Value, sizeof(uBits));
	return uBits;
}

template <class TValue, class TUnsigned>
TValue FromBits(TUnsigned uBits)
{
	static_assert(sizeof(TValue) == sizeof(TUnsigned), "widths differ");
	TValue Value;
	memcpy(&Value, &uBits, sizeof(Value));
	return Value;
}

template <class TValue, class TUnsigned>
bool WriteValues(CBinaryWriter& Writer, const TValue* pValues, size_t Count)
{
	uint8_t rgucBuffer[256];
	constexpr size_t PerChunk = sizeof(rgucBuffer) / sizeof(TUnsigned);
	while (Count > 0)
	{
		size_t Chunk = Count < PerChunk ? Count : PerChunk;
		for (size_t i = 0; i < Chunk; i++)
			PackLittleEndian(ToBits<TValue, TUnsigned>(pValues[i]), rgucBuffer + i * sizeof(TUnsigned));
		if (!Writer.Write(rgucBuffer, Chunk * sizeof(TUnsigned)))
			return false;
		pValues += Chunk;
		Count -= Chunk;
	}
	return true;
}

template <class TValue, class TUnsigned>
bool ReadValues(CBinaryReader& Reader, TValue* pValues, size_t Count)
{
	uint8_t rgucBuffer[256];
	constexpr size_t PerChunk = sizeof(rgucBuffer) / sizeof(TUnsigned);
	while (Count > 0)
	{
		size_t Chunk = Count < PerChunk ? Count : PerChunk;
		if (!Reader.Read(rgucBuffer, Chunk * sizeof(TUnsigned)))
			return false;
		for (size_t i = 0; i < Chunk; i++)
			pValues[i] = FromBits<TValue, TUnsigned>(UnpackLittleEndian<TUnsigned>(rgucBuffer + i * sizeof(TUnsigned)));
		pValues += Chunk;
		Count -= Chunk;
	}
	return true;
}

size_t Encode7Bit(uint32_t uiValue, uint8_t* pBytes)
{
	size_t Count = 0;
	do
	{
		uint8_t ucByte = uiValue & 0x7F;
		uiValue >>= 7;
		if (uiValue != 0)
			ucByte |= 0x80;
		pBytes[Count++] = ucByte;
	} while (uiValue != 0);
	return Count;
}
}

// CBinaryWriter

CBinaryWriter::CBinaryWriter(Stream* pStream) : m_pStream(pStream)
{
}

bool CBinaryWriter::Write(const void* pData, size_t Size)
{
	if (Size == 0)
		return true;
	if (!m_pStream || !pData)
		return false;
	return m_pStream->Write(pData, Size) == Size;
}

bool CBinaryWriter::WriteUInt8(uint8_t ucValue)
{
	return Write(&ucValue, 1);
}

bool CBinaryWriter::WriteUInt8(const uint8_t* pValues, size_t Count)
{
	return Write(pValues, Count);
}

bool CBinaryWriter::WriteInt16(int16_t sValue)
{
	return WriteValues<int16_t, uint16_t>(*this, &sValue, 1);
}

bool CBinaryWriter::WriteUInt16(uint16_t usValue)
{
	return WriteValues<uint16_t, uint16_t>(*this, &usValue, 1);
}

bool CBinaryWriter::WriteUInt16(const uint16_t* pValues, size_t Count)
{
	return WriteValues<uint16_t, uint16_t>(*this, pValues, Count);
}

bool CBinaryWriter::WriteInt32(int32_t iValue)
{
	return WriteValues<int32_t, uint32_t>(*this, &iValue, 1);
}

bool CBinaryWriter::WriteInt32(const int32_t* pValues, size_t Count)
{
	return WriteValues<int32_t, uint32_t>(*this, pValues, Count);
}

bool CBinaryWriter::WriteUInt32(uint32_t uiValue)
{
	return WriteValues<uint32_t, uint32_t>(*this, &uiValue, 1);
}

bool CBinaryWriter::WriteUInt32(const uint32_t* pValues, size_t Count)
{
	return WriteValues<uint32_t, uint32_t>(*this, pValues, Count);
}

bool CBinaryWriter::WriteInt64(int64_t iValue)
{
	return WriteValues<int64_t, uint64_t>(*this, &iValue, 1);
}

bool CBinaryWriter::WriteSingle(float fValue)
{
	return WriteValues<float, uint32_t>(*this, &fValue, 1);
}

bool CBinaryWriter::WriteSingle(const float* pValues, size_t Count)
{
	return WriteValues<float, uint32_t>(*this, pValues, Count);
}

bool CBinaryWriter::WriteDouble(double dValue)
{
	return WriteValues<double, uint64_t>(*this, &dValue, 1);
}

bool CBinaryWriter::WriteBoolean(bool bValue)
{
	return WriteUInt8(bValue ? 1 : 0);
}

bool CBinaryWriter::WriteVector3D(const CVector3D& vecValue)
{
	const float rgfValues[3] = {vecValue.x, vecValue.y, vecValue.z};
	return WriteSingle(rgfValues, 3);
}

bool CBinaryWriter::WriteVector3D(const CVector3D* pValues, size_t Count)
{
	for (size_t i = 0; i < Count; i++)
	{
		if (!WriteVector3D(pValues[i]))
			return false;
	}
	return true;
}

bool CBinaryWriter::Write7BitEncodedInt(int iValue)
{
	uint8_t rgucBytes[5];
	size_t Count = Encode7Bit(static_cast<uint32_t>(iValue), rgucBytes);
	return Write(rgucBytes, Count);
}

bool CBinaryWriter::WriteString(const char* szText)
{
	return WriteString(szText, szText ? strlen(szText) : 0);
}

bool CBinaryWriter::WriteString(const char* szText, size_t Length)
{
	if (!szText)
		Length = 0;
	if (Length > ARGUMENT_MAX_ENCODED_LENGTH)
		return false;
	if (!Write7BitEncodedInt(static_cast<int>(Length)))
		return false;
	return Write(szText, Length);
}

size_t CBinaryWriter::Get7BitEncodedIntSize(int iValue)
{
	uint8_t rgucBytes[5];
	return Encode7Bit(static_cast<uint32_t>(iValue), rgucBytes);
}

size_t CBinaryWriter::GetStringSize(size_t Length)
{
	return Get7BitEncodedIntSize(static_cast<int>(static_cast<uint32_t>(Length))) + Length;
}

// CBinaryReader

CBinaryReader::CBinaryReader(Stream* pStream) : m_pStream(pStream)
{
}

bool CBinaryReader::Read(void* pData, size_t Size)
{
	if (Size == 0)
		return true;
	if (!m_pStream || !pData)
		return false;
	return m_pStream->Read(pData, Size) == Size;
}

bool CBinaryReader::ReadInt8(int8_t* pValues, size_t Count)
{
	return Read(pValues, Count);
}

bool CBinaryReader::ReadUInt8(uint8_t* pValues, size_t Count)
{
	return Read(pValues, Count);
}

bool CBinaryReader::ReadInt16(int16_t* pValues, size_t Count)
{
	return ReadValues<int16_t, uint16_t>(*this, pValues, Count);
}

bool CBinaryReader::ReadUInt16(uint16_t* pValues, size_t Count)
{
	return ReadValues<uint16_t, uint16_t>(*this, pValues, Count);
}

bool CBinaryReader::ReadInt32(int32_t* pValues, size_t Count)
{
	return ReadValues<int32_t, uint32_t>(*this, pValues, Count);
}

bool CBinaryReader::ReadUInt32(uint32_t* pValues, size_t Count)
{
	return ReadValues<uint32_t, uint32_t>(*this, pValues, Count);
}

bool CBinaryReader::ReadInt64(int64_t* pValues, size_t Count)
{
	return ReadValues<int64_t, uint64_t>(*this, pValues, Count);
}

bool CBinaryReader::ReadUInt64(uint64_t* pValues, size_t Count)
{
	return ReadValues<uint64_t, uint64_t>(*this, pValues, Count);
}

bool CBinaryReader::ReadSingle(float* pValues, size_t Count)
{
	return ReadValues<float, uint32_t>(*this, pValues, Count);
}

bool CBinaryReader::ReadDouble(double* pValues, size_t Count)
{
	return ReadValues<double, uint64_t>(*this, pValues, Count);
}

bool CBinaryReader::ReadBoolean(bool& bValue)
{
	uint8_t ucByte;
	if (!ReadUInt8(&ucByte))
		return false;
	bValue = ucByte != 0;
	return true;
}

bool CBinaryReader::Read7BitEncodedInt(int* piValue)
{
	uint32_t uiValue = 0;
	for (int i = 0; i < 5; i++)
	{
		uint8_t ucByte;
		if (!ReadUInt8(&ucByte))
			return false;
		uiValue |= static_cast<uint32_t>(ucByte & 0x7F) << (7 * i);
		if ((ucByte & 0x80) == 0)
		{
			if (piValue)
				*piValue = static_cast<int>(uiValue);
			return true;
		}
	}
	return false;
}

bool CBinaryReader::ReadBoundedLength(size_t& Length)
{
	if (!m_pStream)
		return false;
	size_t Declared;
	if (!KReadLengthPrefix(m_pStream, Declared))
		return false;
	if (Declared > KGetRemainingBytes(m_pStream))
		return false;
	Length = Declared;
	return true;
}

char* CBinaryReader::ReadString(size_t* pLength)
{
	size_t Length;
	if (!ReadBoundedLength(Length))
		return nullptr;
	char* szText = static_cast<char*>(malloc(Length + 1));
	if (!szText)
		return nullptr;
	if (!Read(szText, Length))
	{
		free(szText);
		return nullptr;
	}
	szText[Length] = '\0';
	if (pLength)
		*pLength = Length;
	return szText;
}
