#pragma once
// UTF-8 text views and the engine's small string helpers.

#include <cstddef>
#include <cstring>

// On this platform text is already UTF-8, so a UTF8String always views the caller's bytes and never owns them.
class UTF8String
{
public:
	UTF8String(bool, const char* text) : m_bOwned(false), m_Length(text ? strlen(text) : 0), m_pData(text) {}
	UTF8String(bool, const char* text, size_t length) : m_bOwned(false), m_Length(text ? length : 0), m_pData(text) {}
	UTF8String(const UTF8String&) = default;
	UTF8String& operator=(const UTF8String&) = default;

	const char* CString() const { return m_pData; }
	operator const char*() const { return m_pData; }
	size_t GetLength() const { return m_Length; }

private:
	bool m_bOwned;
	size_t m_Length;
	const char* m_pData;
};

namespace StringManager
{
// The only boolean syntax of the configuration: exactly "true", "1", "false" or "0".
bool ToBoolean(const char* text, bool* out);
}

// Copies at most size - 1 bytes and always terminates when size > 0; returns strlen(src), so a result at or
// above size means the text was cut.
size_t _strlcpy(char* dst, const char* src, size_t size);
