#pragma once
// Reading streams back as text in the engine's tests.

#include <string>

#include "Engine/KestrinStream.h"

// Everything from the stream's position to its end, read in small pieces.
inline std::string ReadAll(Stream* pStream)
{
	std::string Result;
	char Buffer[100];
	size_t n;
	while ((n = pStream->Read(Buffer, sizeof(Buffer))) > 0)
		Result.append(Buffer, n);
	return Result;
}

// The whole file at szPath of a file manager or an archive, or "<null>" when it does not open.
template <class TSource>
std::string OpenAndRead(TSource& Source, const char* szPath)
{
	Strong<Stream> pStream = Strong<Stream>::New(Source.Open(szPath, false));
	return pStream.IsNull() ? std::string("<null>") : ReadAll(pStream);
}
