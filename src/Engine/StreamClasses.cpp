#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "Engine/Context.h"
#include "Engine/KestrinArguments.h"
#include "Engine/KestrinNative.h"
#include "Engine/ScriptClasses.h"
#include "Engine/ScriptStream.h"

namespace
{
constexpr size_t LINE_BUFFER_SIZE = 1024;
// A wire-string length takes at most this many 7-bit groups.
constexpr int MAX_LENGTH_BYTES = 5;

// The receiver of a "Stream" method. Closed instances pass: each member reports that in its own words.
CScriptStream* GetThisStream(CNativeState* pState, void* pUserData)
{
	ReflectedClass* pClass = static_cast<ReflectedClass*>(pUserData);
	CBaseObject* pObject = nullptr;
	if (!pState->GetThis(pClass, &pObject))
		return nullptr;
	CScriptStream* pStream = dynamic_cast<CScriptStream*>(pObject);
	if (pStream == nullptr)
		pState->Error("%s expected for 'this'", pClass != nullptr ? pClass->GetName() : "");
	return pStream;
}

// The open stream of the receiver; szClosed is the message for a closed instance.
Stream* GetOpenStream(CNativeState* pState, void* pUserData, const char* szClosed)
{
	CScriptStream* pThis = GetThisStream(pState, pUserData);
	if (!pThis)
		return nullptr;
	Stream* pStream = pThis->GetStream();
	if (!pStream)
		pState->Error("%s", szClosed);
	return pStream;
}

// Reads a wire-string length: 7-bit groups, low group first, at most five bytes. Accumulated in 64 bits, so a
// fifth group cannot shift bits away; the caller checks the result against what the stream still holds.
bool ReadLengthPrefix(Stream* pStream, uint64_t& Length)
{
	Length = 0;
	for (int i = 0; i < MAX_LENGTH_BYTES; i++)
	{
		uint8_t ucByte;
		if (pStream->Read(&ucByte, 1) != 1)
			return false;
		Length |= static_cast<uint64_t>(ucByte & 0x7F) << (7 * i);
		if ((ucByte & 0x80) == 0)
			return true;
	}
	return false;
}

// A byte buffer for a count read from a script or a stream; null when the stream cannot hold that many bytes
// from its position, or the memory cannot be had.
uint8_t* AllocateReadBuffer(Stream* pStream, uint64_t Count)
{
	if (Count > KGetRemainingBytes(pStream))
		return nullptr;
	return static_cast<uint8_t*>(malloc(Count > 0 ? static_cast<size_t>(Count) : 1));
}

bool StreamClose(CNativeState* pState, int, void* pUserData)
{
	CScriptStream* pThis = GetThisStream(pState, pUserData);
	if (!pThis)
		return false;
	if (pThis->GetStream() == nullptr)
		return pState->Error("stream already closed");
	pThis->m_pLineReader.Delete();
	pThis->m_Value.SetNull();
	return true;
}

bool StreamGetLength(CNativeState* pState, int, void* pUserData)
{
	Stream* pStream = GetOpenStream(pState, pUserData, "stream already closed");
	if (!pStream)
		return false;
	pState->ReturnNumber(static_cast<int64_t>(pStream->GetLength()));
	return true;
}

bool StreamGetPosition(CNativeState* pState, int, void* pUserData)
{
	Stream* pStream = GetOpenStream(pState, pUserData, "stream already closed");
	if (!pStream)
		return false;
	pState->ReturnNumber(static_cast<int64_t>(pStream->Tell()));
	return true;
}

bool StreamReadBytes(CNativeState* pState, int, void* pUserData)
{
	Stream* pStream = GetOpenStream(pState, pUserData, "stream closed");
	if (!pStream)
		return false;
	uint64_t Count;
	if (!pState->CheckNumber(0, Count))
		return false;
	uint8_t* pBuffer = AllocateReadBuffer(pStream, Count);
	if (!pBuffer)
		return pState->Error("unable to read");
	size_t Read = Count > 0 ? pStream->Read(pBuffer, static_cast<size_t>(Count)) : 0;
	if (Read != Count)
	{
		free(pBuffer);
		return pState->Error("unable to read");
	}
	pState->ReturnBytes(pBuffer, Read);
	free(pBuffer);
	return true;
}

bool StreamReadString(CNativeState* pState, int, void* pUserData)
{
	Strong<Stream> pStream = GetOpenStream(pState, pUserData, "stream closed");
	if (!pStream)
		return false;
	uint64_t Length;
	if (!ReadLengthPrefix(pStream, Length))
		return pState->Error("unable to read string");
	if (Length == 0)
	{
		pState->ReturnString("", 0);
		return true;
	}
	uint8_t* pBuffer = AllocateReadBuffer(pStream, Length);
	if (!pBuffer)
		return pState->Error("unable to read string");
	if (pStream->Read(pBuffer, static_cast<size_t>(Length)) != Length)
	{
		free(pBuffer);
		return pState->Error("unable to read string");
	}
	pState->ReturnString(reinterpret_cast<const char*>(pBuffer), static_cast<size_t>(Length));
	free(pBuffer);
	return true;
}

bool StreamReadLine(CNativeState* pState, int, void* pUserData)
{
	CScriptStream* pThis = GetThisStream(pState, pUserData);
	if (!pThis)
		return false;
	Stream* pStream = pThis->GetStream();
	if (!pStream)
		return pState->Error("stream closed");
	// Made once and kept: the reader takes the rest of the stream as its text on the first read.
	if (pThis->m_pLineReader.IsNull())
		pThis->m_pLineReader = new CTextReader(pStream);
	char szLine[LINE_BUFFER_SIZE];
	size_t Length = 0;
	if (!pThis->m_pLineReader->ReadLine(szLine, sizeof(szLine), &Length))
	{
		pState->ReturnNull();
		return true;
	}
	pState->ReturnString(szLine, Length);
	return true;
}

bool StreamWriteBytes(CNativeState* pState, int, void* pUserData)
{
	Strong<Stream> pStream = GetOpenStream(pState, pUserData, "stream closed");
	if (!pStream)
		return false;
	CArgument* pArgument = pState->GetArgument(0);
	if (!pArgument || (pArgument->GetType() != ARGUMENT_STRING && pArgument->GetType() != ARGUMENT_BYTES))
		return pState->TypeError("bytes", 0);
	size_t Length = 0;
	const uint8_t* pData = pArgument->ToBytes(Length);
	// An empty value has nothing to write, whether or not it holds a buffer.
	if (Length == 0)
		return true;
	if (!pData || pStream->Write(pData, Length) != Length)
		return pState->Error("unable to write bytes");
	return true;
}

bool StreamWriteString(CNativeState* pState, int, void* pUserData)
{
	Strong<Stream> pStream = GetOpenStream(pState, pUserData, "stream closed");
	if (!pStream)
		return false;
	size_t Length = 0;
	const char* szText = pState->CheckString(0, &Length);
	if (!szText)
		return false;

	uint64_t Remaining = Length;
	do
	{
		uint8_t ucByte = static_cast<uint8_t>(Remaining & 0x7F);
		Remaining >>= 7;
		if (Remaining != 0)
			ucByte |= 0x80;
		if (pStream->Write(&ucByte, 1) != 1)
			return pState->Error("unable to write string");
	} while (Remaining != 0);

	if (Length > 0 && pStream->Write(szText, Length) != Length)
		return pState->Error("unable to write string");
	return true;
}

// The typed family: each member reads or writes exactly sizeof(T) bytes in the platform's (little-endian)
// order. R is what a read hands back; W is what a write takes from its argument before narrowing to T.
template <class T, class R>
bool StreamReadNumber(CNativeState* pState, int, void* pUserData)
{
	Stream* pStream = GetOpenStream(pState, pUserData, "stream closed");
	if (!pStream)
		return false;
	T Value;
	if (pStream->Read(&Value, sizeof(Value)) != sizeof(Value))
		return pState->Error("unable to read");
	pState->ReturnNumber(static_cast<R>(Value));
	return true;
}

template <class T, class W>
bool StreamWriteNumber(CNativeState* pState, int, void* pUserData)
{
	Stream* pStream = GetOpenStream(pState, pUserData, "stream closed");
	if (!pStream)
		return false;
	W Wide;
	if (!pState->CheckNumber(0, Wide))
		return false;
	T Value = static_cast<T>(Wide);
	if (pStream->Write(&Value, sizeof(Value)) != sizeof(Value))
		return pState->Error("unable to write");
	return true;
}

typedef CObjectValue<AutoDelete<CTextReader>> tTextReader;

// The open reader of the receiver.
CTextReader* GetOpenReader(CNativeState* pState, void* pUserData)
{
	tTextReader* pThis = GetThisValue<AutoDelete<CTextReader>>(pState, pUserData);
	if (!pThis)
		return nullptr;
	if (pThis->m_Value.IsNull())
		pState->Error("TextReader is closed");
	return pThis->m_Value.GetPointer();
}

bool TextReaderConstructor(CNativeState* pState, int, void* pUserData)
{
	Stream* pStream = pState->CheckStream(0);
	if (!pStream)
		return false;
	ReturnNewValue(pState, pUserData, AutoDelete<CTextReader>(new CTextReader(pStream)));
	return true;
}

bool TextReaderClose(CNativeState* pState, int, void* pUserData)
{
	tTextReader* pThis = GetThisValue<AutoDelete<CTextReader>>(pState, pUserData);
	if (!pThis)
		return false;
	pThis->m_Value.Delete();
	return true;
}

bool TextReaderLoadText(CNativeState* pState, int, void* pUserData)
{
	CTextReader* pReader = GetOpenReader(pState, pUserData);
	if (!pReader)
		return false;
	if (!pReader->IsLoaded())
		pReader->Load();
	if (!pReader->IsLoaded())
		pState->ReturnNull();
	else
		pState->ReturnString(pReader->GetText(), pReader->GetTextLength());
	return true;
}

bool TextReaderReadLine(CNativeState* pState, int, void* pUserData)
{
	CTextReader* pReader = GetOpenReader(pState, pUserData);
	if (!pReader)
		return false;
	char szLine[LINE_BUFFER_SIZE];
	size_t Length = 0;
	if (!pReader->ReadLine(szLine, sizeof(szLine), &Length))
		pState->ReturnNull();
	else
		pState->ReturnString(szLine, Length);
	return true;
}

bool TextReaderReadCharacter(CNativeState* pState, int, void* pUserData)
{
	CTextReader* pReader = GetOpenReader(pState, pUserData);
	if (!pReader)
		return false;
	char32_t Character = 0;
	if (!pReader->ReadCharacter(Character))
		pState->ReturnNull();
	else
		pState->ReturnNumber(static_cast<int32_t>(Character));
	return true;
}
}

void RegisterStreamClasses(CScripting* pScripting)
{
	ReflectedNamespace* pGlobal = pScripting->GetGlobal();

	ReflectedClass* pStream = pGlobal->NewClass("Stream", nullptr);
	pStream->RegisterFunction("close", "t", StreamClose, pStream);
	pStream->AddProperty(pStream, "length", ARGUMENT_LONGINTEGER, StreamGetLength, nullptr);
	pStream->AddProperty(pStream, "position", ARGUMENT_LONGINTEGER, StreamGetPosition, nullptr);
	pStream->RegisterFunction("readBytes", "ti", StreamReadBytes, pStream);
	pStream->RegisterFunction("readString", "t", StreamReadString, pStream);
	pStream->RegisterFunction("readLine", "t", StreamReadLine, pStream, true);
	pStream->RegisterFunction("writeBytes", "ts", StreamWriteBytes, pStream);
	pStream->RegisterFunction("writeString", "ts", StreamWriteString, pStream);

	pStream->RegisterFunction("readInt8", "t", StreamReadNumber<int8_t, int32_t>, pStream);
	pStream->RegisterFunction("readUInt8", "t", StreamReadNumber<uint8_t, int32_t>, pStream);
	pStream->RegisterFunction("readInt16", "t", StreamReadNumber<int16_t, int32_t>, pStream);
	pStream->RegisterFunction("readUInt16", "t", StreamReadNumber<uint16_t, int32_t>, pStream);
	pStream->RegisterFunction("readInt32", "t", StreamReadNumber<int32_t, int32_t>, pStream);
	pStream->RegisterFunction("readUInt32", "t", StreamReadNumber<uint32_t, uint32_t>, pStream);
	pStream->RegisterFunction("readInt64", "t", StreamReadNumber<int64_t, int64_t>, pStream);
	pStream->RegisterFunction("readUInt64", "t", StreamReadNumber<uint64_t, uint64_t>, pStream);
	pStream->RegisterFunction("readFloat", "t", StreamReadNumber<float, float>, pStream);
	pStream->RegisterFunction("readDouble", "t", StreamReadNumber<double, double>, pStream);

	pStream->RegisterFunction("writeInt8", "ti", StreamWriteNumber<int8_t, int32_t>, pStream);
	pStream->RegisterFunction("writeUInt8", "ti", StreamWriteNumber<uint8_t, uint8_t>, pStream);
	pStream->RegisterFunction("writeInt16", "ti", StreamWriteNumber<int16_t, int32_t>, pStream);
	pStream->RegisterFunction("writeUInt16", "ti", StreamWriteNumber<uint16_t, uint32_t>, pStream);
	pStream->RegisterFunction("writeInt32", "ti", StreamWriteNumber<int32_t, int32_t>, pStream);
	pStream->RegisterFunction("writeUInt32", "ti", StreamWriteNumber<uint32_t, uint32_t>, pStream);
	pStream->RegisterFunction("writeInt64", "ti", StreamWriteNumber<int64_t, int64_t>, pStream);
	pStream->RegisterFunction("writeUInt64", "ti", StreamWriteNumber<uint64_t, uint64_t>, pStream);
	pStream->RegisterFunction("writeFloat", "tf", StreamWriteNumber<float, float>, pStream);
	pStream->RegisterFunction("writeDouble", "tf", StreamWriteNumber<double, double>, pStream);

	ReflectedClass* pTextReader = pGlobal->NewClass("TextReader", nullptr);
	pTextReader->RegisterConstructor("tx", TextReaderConstructor, pTextReader);
	pTextReader->RegisterFunction("close", "t", TextReaderClose, pTextReader);
	pTextReader->RegisterFunction("loadText", "t", TextReaderLoadText, pTextReader);
	pTextReader->RegisterFunction("readLine", "t", TextReaderReadLine, pTextReader);
	pTextReader->RegisterFunction("readCharacter", "t", TextReaderReadCharacter, pTextReader);
	pScripting->SetTextReaderClass(pTextReader);
}

size_t KHeldBytes(const Strong<Stream>& pStream)
{
	return pStream.IsNull() ? 0 : pStream->GetRetainedBytes();
}

size_t KHeldBytes(const AutoDelete<CTextReader>& pReader)
{
	return pReader.IsNull() ? 0 : pReader->GetRetainedBytes();
}

size_t CScriptStream::GetRetainedBytes() const
{
	// The line reader reads the stream counted above, and goes when the stream is closed.
	const size_t LineReaderBytes = m_pLineReader.IsNull() ? 0 : m_pLineReader->GetRetainedBytesBesideStream();
	return CObjectValue<Strong<Stream>>::GetRetainedBytes() + LineReaderBytes;
}

CScriptStream::~CScriptStream()
{
	m_pLineReader.Delete();
	if (!m_Value.IsNull())
	{
		m_Value.SetNull();
		if (Context* pContext = KGlobal::GetContext())
			pContext->LogError("Script stream closed via garbage collection!");
	}
}
