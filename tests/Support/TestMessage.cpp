#include "Support/TestMessage.h"

#include <cstring>

namespace VexaTest
{
CTestMessage::CTestMessage(uint32_t uiId)
{
	U32(MESSAGE_MAGIC);
	U32(uiId);
}

CTestMessage& CTestMessage::U8(uint8_t ucValue)
{
	m_Bytes.push_back(ucValue);
	return *this;
}

CTestMessage& CTestMessage::U16(uint16_t usValue)
{
	for (int i = 0; i < 2; i++)
		m_Bytes.push_back(static_cast<uint8_t>(usValue >> (8 * i)));
	return *this;
}

CTestMessage& CTestMessage::U32(uint32_t uiValue)
{
	for (int i = 0; i < 4; i++)
		m_Bytes.push_back(static_cast<uint8_t>(uiValue >> (8 * i)));
	return *this;
}

CTestMessage& CTestMessage::I32(int32_t iValue)
{
	return U32(static_cast<uint32_t>(iValue));
}

CTestMessage& CTestMessage::F32(float fValue)
{
	uint32_t uiBits;
	memcpy(&uiBits, &fValue, sizeof(uiBits));
	return U32(uiBits);
}

CTestMessage& CTestMessage::VarUInt(uint32_t uiValue)
{
	do
	{
		uint8_t ucByte = uiValue & 0x7F;
		uiValue >>= 7;
		if (uiValue != 0)
			ucByte |= 0x80;
		m_Bytes.push_back(ucByte);
	} while (uiValue != 0);
	return *this;
}

CTestMessage& CTestMessage::String(const std::string& Text)
{
	VarUInt(static_cast<uint32_t>(Text.size()));
	return Bytes(Text.data(), Text.size());
}

CTestMessage& CTestMessage::Bytes(const std::vector<uint8_t>& Data)
{
	return Bytes(Data.data(), Data.size());
}

CTestMessage& CTestMessage::Bytes(const void* pData, size_t Size)
{
	const uint8_t* pBytes = static_cast<const uint8_t*>(pData);
	m_Bytes.insert(m_Bytes.end(), pBytes, pBytes + Size);
	return *this;
}

CTestMessageReader::CTestMessageReader(const std::vector<uint8_t>& Data, size_t Offset) :
	m_Data(Data),
	m_Offset(Offset < Data.size() ? Offset : Data.size())
{
}

bool CTestMessageReader::Take(void* pDestination, size_t Size)
{
	if (Size > GetRemaining())
		return false;
	if (Size > 0)
		memcpy(pDestination, m_Data.data() + m_Offset, Size);
	m_Offset += Size;
	return true;
}

bool CTestMessageReader::U8(uint8_t& ucValue)
{
	return Take(&ucValue, 1);
}

bool CTestMessageReader::U16(uint16_t& usValue)
{
	uint8_t rgucBytes[2];
	if (!Take(rgucBytes, sizeof(rgucBytes)))
		return false;
	usValue = static_cast<uint16_t>(rgucBytes[0] | (rgucBytes[1] << 8));
	return true;
}

bool CTestMessageReader::U32(uint32_t& uiValue)
{
	uint8_t rgucBytes[4];
	if (!Take(rgucBytes, sizeof(rgucBytes)))
		return false;
	uiValue = 0;
	for (int i = 0; i < 4; i++)
		uiValue |= static_cast<uint32_t>(rgucBytes[i]) << (8 * i);
	return true;
}

bool CTestMessageReader::I32(int32_t& iValue)
{
	uint32_t uiValue;
	if (!U32(uiValue))
		return false;
	iValue = static_cast<int32_t>(uiValue);
	return true;
}

bool CTestMessageReader::F32(float& fValue)
{
	uint32_t uiBits;
	if (!U32(uiBits))
		return false;
	memcpy(&fValue, &uiBits, sizeof(fValue));
	return true;
}

bool CTestMessageReader::VarUInt(uint32_t& uiValue)
{
	const size_t Start = m_Offset;
	uint32_t uiResult = 0;
	for (int i = 0; i < 5; i++)
	{
		uint8_t ucByte;
		if (!U8(ucByte))
			break;
		uiResult |= static_cast<uint32_t>(ucByte & 0x7F) << (7 * i);
		if ((ucByte & 0x80) == 0)
		{
			uiValue = uiResult;
			return true;
		}
	}
	m_Offset = Start;
	return false;
}

bool CTestMessageReader::String(std::string& Text)
{
	const size_t Start = m_Offset;
	uint32_t uiLength;
	if (!VarUInt(uiLength) || uiLength > GetRemaining())
	{
		m_Offset = Start;
		return false;
	}
	Text.assign(reinterpret_cast<const char*>(m_Data.data() + m_Offset), uiLength);
	m_Offset += uiLength;
	return true;
}

bool CTestMessageReader::Bytes(size_t Size, std::vector<uint8_t>& Data)
{
	if (Size > GetRemaining())
		return false;
	Data.assign(m_Data.begin() + static_cast<std::ptrdiff_t>(m_Offset),
		m_Data.begin() + static_cast<std::ptrdiff_t>(m_Offset + Size));
	m_Offset += Size;
	return true;
}

bool ParseMessage(const std::vector<uint8_t>& Data, uint32_t& uiId, std::vector<uint8_t>& Body)
{
	CTestMessageReader Reader(Data);
	uint32_t uiMagic;
	uint32_t uiMessageId;
	if (!Reader.U32(uiMagic) || uiMagic != MESSAGE_MAGIC || !Reader.U32(uiMessageId))
		return false;
	uiId = uiMessageId;
	Body.assign(Data.begin() + MESSAGE_HEADER_SIZE, Data.end());
	return true;
}
}
