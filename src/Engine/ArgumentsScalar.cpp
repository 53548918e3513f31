// The values with a fixed or length-prefixed payload: booleans, numbers, vectors, matrices, strings and bytes.

#include <cstdlib>
#include <cstring>

#include "Engine/KestrinArguments.h"
#include "Engine/KestrinStream.h"

namespace
{
// Little-endian on the wire whatever the host order.
bool ReadUInt(Stream* pStream, uint64_t& uiValue, size_t Size)
{
	uint8_t rgucBuffer[8];
	if (pStream->Read(rgucBuffer, Size) != Size)
		return false;
	uiValue = 0;
	for (size_t i = 0; i < Size; i++)
		uiValue |= static_cast<uint64_t>(rgucBuffer[i]) << (8 * i);
	return true;
}

bool WriteUInt(Stream* pStream, uint64_t uiValue, size_t Size)
{
	uint8_t rgucBuffer[8];
	for (size_t i = 0; i < Size; i++)
		rgucBuffer[i] = static_cast<uint8_t>(uiValue >> (8 * i));
	return pStream->Write(rgucBuffer, Size) == Size;
}

bool ReadFloat(Stream* pStream, float& fValue)
{
	uint64_t uiBits;
	if (!ReadUInt(pStream, uiBits, 4))
		return false;
	uint32_t uiBits32 = static_cast<uint32_t>(uiBits);
	memcpy(&fValue, &uiBits32, 4);
	return true;
}

bool WriteFloat(Stream* pStream, float fValue)
{
	uint32_t uiBits;
	memcpy(&uiBits, &fValue, 4);
	return WriteUInt(pStream, uiBits, 4);
}

// A whole vector or matrix arrives or the read fails; a partial read leaves the value as it was.
bool ReadFloats(Stream* pStream, float* pfValues, size_t Count)
{
	float rgfBuffer[CMatrix4x4::ENTRY_COUNT];
	for (size_t i = 0; i < Count; i++)
	{
		if (!ReadFloat(pStream, rgfBuffer[i]))
			return false;
	}
	memcpy(pfValues, rgfBuffer, Count * sizeof(float));
	return true;
}

bool WriteFloats(Stream* pStream, const float* pfValues, size_t Count)
{
	for (size_t i = 0; i < Count; i++)
	{
		if (!WriteFloat(pStream, pfValues[i]))
			return false;
	}
	return true;
}

// A length prefix followed by that many bytes into a fresh block with one spare zero byte after them. The length
// is checked against what the stream still holds before anything is allocated.
bool ReadPrefixedBlock(Stream* pStream, size_t& Length, char*& pBlock)
{
	size_t ReadLength;
	if (!KReadLengthPrefix(pStream, ReadLength))
		return false;
	if (ReadLength > KGetRemainingBytes(pStream))
		return false;
	char* pNew = static_cast<char*>(malloc(ReadLength + 1));
	if (!pNew)
		return false;
	if (pStream->Read(pNew, ReadLength) != ReadLength)
	{
		free(pNew);
		return false;
	}
	pNew[ReadLength] = '\0';
	Length = ReadLength;
	pBlock = pNew;
	return true;
}

bool WritePrefixedBlock(Stream* pStream, const void* pData, size_t Length)
{
	if (!KWriteLengthPrefix(pStream, Length))
		return false;
	return Length == 0 || pStream->Write(pData, Length) == Length;
}

bool GetPrefixedBlockSize(size_t Length, size_t& Size)
{
	if (Length > ARGUMENT_MAX_ENCODED_LENGTH)
		return false;
	Size = KGetLengthPrefixSize(Length) + Length;
	return true;
}
}

// Booleans

bool CArgumentBoolean::Read(Stream* pStream)
{
	uint8_t ucValue;
	if (pStream->Read(&ucValue, 1) != 1)
		return false;
	m_bValue = ucValue != 0;
	return true;
}

bool CArgumentBoolean::GetSize(size_t& Size) const
{
	Size = 1;
	return true;
}

bool CArgumentBoolean::Write(Stream* pStream) const
{
	uint8_t ucValue = m_bValue ? 1 : 0;
	return pStream->Write(&ucValue, 1) == 1;
}

CArgument* CArgumentBoolean::Clone() const
{
	return new CArgumentBoolean(m_bValue);
}

// Integers

bool CArgumentInteger::Read(Stream* pStream)
{
	uint64_t uiValue;
	if (!ReadUInt(pStream, uiValue, 4))
		return false;
	m_iValue = static_cast<int32_t>(static_cast<uint32_t>(uiValue));
	return true;
}

bool CArgumentInteger::GetSize(size_t& Size) const
{
	Size = 4;
	return true;
}

bool CArgumentInteger::Write(Stream* pStream) const
{
	return WriteUInt(pStream, static_cast<uint32_t>(m_iValue), 4);
}

CArgument* CArgumentInteger::Clone() const
{
	return new CArgumentInteger(m_iValue);
}

bool CArgumentLongInteger::Read(Stream* pStream)
{
	uint64_t uiValue;
	if (!ReadUInt(pStream, uiValue, 8))
		return false;
	m_iValue = static_cast<int64_t>(uiValue);
	return true;
}

bool CArgumentLongInteger::GetSize(size_t& Size) const
{
	Size = 8;
	return true;
}

bool CArgumentLongInteger::Write(Stream* pStream) const
{
	return WriteUInt(pStream, static_cast<uint64_t>(m_iValue), 8);
}

CArgument* CArgumentLongInteger::Clone() const
{
	return new CArgumentLongInteger(m_iValue);
}

// Floating point

bool CArgumentFloat::Read(Stream* pStream)
{
	return ReadFloat(pStream, m_fValue);
}

bool CArgumentFloat::GetSize(size_t& Size) const
{
	Size = 4;
	return true;
}

bool CArgumentFloat::Write(Stream* pStream) const
{
	return WriteFloat(pStream, m_fValue);
}

CArgument* CArgumentFloat::Clone() const
{
	return new CArgumentFloat(m_fValue);
}

bool CArgumentDouble::Read(Stream* pStream)
{
	uint64_t uiBits;
	if (!ReadUInt(pStream, uiBits, 8))
		return false;
	memcpy(&m_dValue, &uiBits, 8);
	return true;
}

bool CArgumentDouble::GetSize(size_t& Size) const
{
	Size = 8;
	return true;
}

bool CArgumentDouble::Write(Stream* pStream) const
{
	uint64_t uiBits;
	memcpy(&uiBits, &m_dValue, 8);
	return WriteUInt(pStream, uiBits, 8);
}

CArgument* CArgumentDouble::Clone() const
{
	return new CArgumentDouble(m_dValue);
}

// Vectors and matrices

bool CArgumentVector2D::Read(Stream* pStream)
{
	float rgfValues[2];
	if (!ReadFloats(pStream, rgfValues, 2))
		return false;
	m_vecValue = CVector2D(rgfValues[0], rgfValues[1]);
	return true;
}

bool CArgumentVector2D::GetSize(size_t& Size) const
{
	Size = 8;
	return true;
}

bool CArgumentVector2D::Write(Stream* pStream) const
{
	const float rgfValues[2] = {m_vecValue.x, m_vecValue.y};
	return WriteFloats(pStream, rgfValues, 2);
}

CArgument* CArgumentVector2D::Clone() const
{
	return new CArgumentVector2D(m_vecValue);
}

bool CArgumentVector3D::Read(Stream* pStream)
{
	float rgfValues[3];
	if (!ReadFloats(pStream, rgfValues, 3))
		return false;
	m_vecValue = CVector3D(rgfValues[0], rgfValues[1], rgfValues[2]);
	return true;
}

bool CArgumentVector3D::GetSize(size_t& Size) const
{
	Size = 12;
	return true;
}

bool CArgumentVector3D::Write(Stream* pStream) const
{
	const float rgfValues[3] = {m_vecValue.x, m_vecValue.y, m_vecValue.z};
	return WriteFloats(pStream, rgfValues, 3);
}

CArgument* CArgumentVector3D::Clone() const
{
	return new CArgumentVector3D(m_vecValue);
}

bool CArgumentMatrix4x4::Read(Stream* pStream)
{
	float rgfValues[CMatrix4x4::ENTRY_COUNT];
	if (!ReadFloats(pStream, rgfValues, CMatrix4x4::ENTRY_COUNT))
		return false;
	m_matValue.FromArray(rgfValues);
	return true;
}

bool CArgumentMatrix4x4::GetSize(size_t& Size) const
{
	Size = 64;
	return true;
}

bool CArgumentMatrix4x4::Write(Stream* pStream) const
{
	float rgfValues[CMatrix4x4::ENTRY_COUNT];
	m_matValue.ToArray(rgfValues);
	return WriteFloats(pStream, rgfValues, CMatrix4x4::ENTRY_COUNT);
}

CArgument* CArgumentMatrix4x4::Clone() const
{
	return new CArgumentMatrix4x4(m_matValue);
}

// Strings

CArgumentString::CArgumentString() : CArgument(ARGUMENT_STRING), m_Length(0), m_szText(nullptr), m_pConverted(nullptr)
{
	SetString("", 0);
}

CArgumentString::CArgumentString(const char* szText, size_t Length)
	: CArgument(ARGUMENT_STRING), m_Length(0), m_szText(nullptr), m_pConverted(nullptr)
{
	SetString(szText, Length);
}

CArgumentString::~CArgumentString()
{
	Free();
}

void CArgumentString::Free()
{
	free(m_szText);
	m_szText = nullptr;
	free(m_pConverted);
	m_pConverted = nullptr;
	m_Length = 0;
}

void CArgumentString::SetString(const char* szText)
{
	SetString(szText, szText ? strlen(szText) : 0);
}

void CArgumentString::SetString(const char* szText, size_t Length)
{
	// No room for the terminator: the size would wrap to nothing.
	if (Length == SIZE_MAX)
		return;
	char* pNew = static_cast<char*>(malloc(Length + 1));
	if (!pNew)
		return;
	if (Length)
		memcpy(pNew, szText, Length);
	pNew[Length] = '\0';
	Free();
	m_szText = pNew;
	m_Length = Length;
}

bool CArgumentString::Read(Stream* pStream)
{
	size_t Length;
	char* pText;
	if (!ReadPrefixedBlock(pStream, Length, pText))
		return false;
	Free();
	m_szText = pText;
	m_Length = Length;
	return true;
}

bool CArgumentString::GetSize(size_t& Size) const
{
	return GetPrefixedBlockSize(m_Length, Size);
}

bool CArgumentString::Write(Stream* pStream) const
{
	return WritePrefixedBlock(pStream, m_szText, m_Length);
}

CArgument* CArgumentString::Clone() const
{
	return new CArgumentString(m_szText, m_Length);
}

// Bytes

CArgumentBytes::CArgumentBytes() : CArgument(ARGUMENT_BYTES), m_Length(0), m_pData(nullptr)
{
}

CArgumentBytes::CArgumentBytes(const uint8_t* pData, size_t Length)
	: CArgument(ARGUMENT_BYTES), m_Length(0), m_pData(nullptr)
{
	if (Length == 0)
		return;
	m_pData = static_cast<uint8_t*>(malloc(Length));
	if (!m_pData)
		return;
	memcpy(m_pData, pData, Length);
	m_Length = Length;
}

CArgumentBytes::~CArgumentBytes()
{
	free(m_pData);
}

bool CArgumentBytes::Read(Stream* pStream)
{
	size_t Length;
	char* pData;
	if (!ReadPrefixedBlock(pStream, Length, pData))
		return false;
	free(m_pData);
	m_pData = nullptr;
	m_Length = 0;
	if (Length == 0)
	{
		free(pData);
		return true;
	}
	m_pData = reinterpret_cast<uint8_t*>(pData);
	m_Length = Length;
	return true;
}

bool CArgumentBytes::GetSize(size_t& Size) const
{
	return GetPrefixedBlockSize(m_Length, Size);
}

bool CArgumentBytes::Write(Stream* pStream) const
{
	return WritePrefixedBlock(pStream, m_pData, m_Length);
}

CArgument* CArgumentBytes::Clone() const
{
	return new CArgumentBytes(m_pData, m_Length);
}
