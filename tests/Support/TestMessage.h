#pragma once
// Message bytes as a game client writes and reads them, kept apart from the server's own stream classes so that
// tests check the server against an independent reading of the protocol: little-endian numbers, the 8-byte header
// (magic 0x54523402, then the message id) and wire strings (a 7-bit-encoded length, then the bytes).

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace VexaTest
{
constexpr uint32_t MESSAGE_MAGIC = 0x54523402;
constexpr size_t MESSAGE_HEADER_SIZE = 8;

class CTestMessage
{
public:
	// No header: a nested block or a raw datagram.
	CTestMessage() = default;
	explicit CTestMessage(uint32_t uiId);

	CTestMessage& U8(uint8_t ucValue);
	CTestMessage& U16(uint16_t usValue);
	CTestMessage& U32(uint32_t uiValue);
	CTestMessage& I32(int32_t iValue);
	CTestMessage& F32(float fValue);
	// The length prefix: 7 bits a byte, low group first.
	CTestMessage& VarUInt(uint32_t uiValue);
	CTestMessage& String(const std::string& Text);
	CTestMessage& Bytes(const std::vector<uint8_t>& Data);
	CTestMessage& Bytes(const void* pData, size_t Size);

	const std::vector<uint8_t>& GetBytes() const { return m_Bytes; }

private:
	std::vector<uint8_t> m_Bytes;
};

// Each read fails, and leaves its output alone, when the bytes run out.
class CTestMessageReader
{
public:
	explicit CTestMessageReader(const std::vector<uint8_t>& Data, size_t Offset = 0);

	bool U8(uint8_t& ucValue);
	bool U16(uint16_t& usValue);
	bool U32(uint32_t& uiValue);
	bool I32(int32_t& iValue);
	bool F32(float& fValue);
	// At most 5 bytes.
	bool VarUInt(uint32_t& uiValue);
	bool String(std::string& Text);
	bool Bytes(size_t Size, std::vector<uint8_t>& Data);

	size_t GetRemaining() const { return m_Data.size() - m_Offset; }
	bool IsAtEnd() const { return m_Offset == m_Data.size(); }

private:
	bool Take(void* pDestination, size_t Size);

	const std::vector<uint8_t>& m_Data;
	size_t m_Offset;
};

// Splits a datagram into message id and the bytes after the header; false without a valid header.
bool ParseMessage(const std::vector<uint8_t>& Data, uint32_t& uiId, std::vector<uint8_t>& Body);
}
