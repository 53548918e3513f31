#pragma once
// The engine object behind the script class "Stream": a counted reference to a stream, null once the script
// closed it, and the line reader made on the first line read.

#include "Engine/KestrinReference.h"
#include "Engine/KestrinStream.h"
#include "Engine/Reflection.h"

class CScriptStream : public CObjectValue<Strong<Stream>>
{
public:
	// Holds a reference to pStream (none for null).
	CScriptStream(ReflectedClass* pClass, Stream* pStream) : CObjectValue<Strong<Stream>>(pClass, Strong<Stream>(pStream)) {}

	// A stream the script never closed is closed here, with a warning that the script leaked it.
	~CScriptStream() override;

	// Null once closed.
	Stream* GetStream() const { return m_Value.GetPointer(); }
	size_t GetRetainedBytes() const override;

	AutoDelete<CTextReader> m_pLineReader;
};
