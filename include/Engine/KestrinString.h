#pragma once
// UTF-8 text views and the engine's small string helpers.

#include <cstddef>
#include <cstring>
#include <string>

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
// Text from outside (a client's chat, a name) made safe for the console and the log file: control characters
// (C0, DEL and the C1 range), and bytes that are not part of valid UTF-8, become "\xHH"; a backslash stays as it is.
// The result can neither break a log line nor drive the operator's terminal.
std::string EscapeControlCharacters(const char* text, size_t length);
// Whether the bytes are valid UTF-8 (shortest forms, no surrogates, at most U+10FFFF).
bool IsValidUTF8(const char* text, size_t length);
// Whether the text holds a control character (C0, DEL or the C1 range); bytes that are not valid UTF-8 are
// not counted here (IsValidUTF8 tells those).
bool HasControlCharacters(const char* text, size_t length);
// Writes the UTF-8 form of a character (1 to 4 bytes) and returns its length; a surrogate or a value above
// U+10FFFF is written as U+FFFD.
size_t EncodeUTF8(char32_t c, char* out);
constexpr size_t UTF8_MAX_CHARACTER_LENGTH = 4;
}

// Copies at most size - 1 bytes and always terminates when size > 0; returns strlen(src), so a result at or
// above size means the text was cut.
size_t _strlcpy(char* dst, const char* src, size_t size);
