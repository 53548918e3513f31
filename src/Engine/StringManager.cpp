#include "Engine/KestrinString.h"

#include <cstdint>
#include <cstdio>

namespace
{
// The length of the valid UTF-8 sequence at the start of the bytes, or 0 when they do not start with one.
size_t ValidSequenceLength(const unsigned char* p, size_t remaining)
{
	if (p[0] < 0x80)
		return 1;
	size_t length;
	uint32_t codepoint;
	if ((p[0] & 0xE0) == 0xC0)
	{
		length = 2;
		codepoint = p[0] & 0x1F;
	}
	else if ((p[0] & 0xF0) == 0xE0)
	{
		length = 3;
		codepoint = p[0] & 0x0F;
	}
	else if ((p[0] & 0xF8) == 0xF0)
	{
		length = 4;
		codepoint = p[0] & 0x07;
	}
	else
		return 0;
	if (length > remaining)
		return 0;
	for (size_t i = 1; i < length; i++)
	{
		if ((p[i] & 0xC0) != 0x80)
			return 0;
		codepoint = (codepoint << 6) | (p[i] & 0x3F);
	}
	static const uint32_t s_rguiSmallest[5] = {0, 0, 0x80, 0x800, 0x10000};
	if (codepoint < s_rguiSmallest[length] || codepoint > 0x10FFFF || (codepoint >= 0xD800 && codepoint <= 0xDFFF))
		return 0;
	return length;
}

bool IsControlSequence(const unsigned char* p, size_t length)
{
	if (length == 1)
		return p[0] < 0x20 || p[0] == 0x7F;
	// U+0080 to U+009F, the C1 controls.
	return length == 2 && p[0] == 0xC2 && p[1] <= 0x9F;
}
}

std::string StringManager::EscapeControlCharacters(const char* text, size_t length)
{
	std::string Result;
	if (!text)
		return Result;
	Result.reserve(length);
	const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
	size_t i = 0;
	while (i < length)
	{
		size_t sequence = ValidSequenceLength(p + i, length - i);
		if (sequence != 0 && !IsControlSequence(p + i, sequence))
		{
			Result.append(text + i, sequence);
			i += sequence;
			continue;
		}
		size_t escaped = sequence != 0 ? sequence : 1;
		for (size_t j = 0; j < escaped; j++)
		{
			char szByte[5];
			snprintf(szByte, sizeof(szByte), "\\x%02X", p[i + j]);
			Result += szByte;
		}
		i += escaped;
	}
	return Result;
}

bool StringManager::IsValidUTF8(const char* text, size_t length)
{
	if (!text)
		return length == 0;
	const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
	for (size_t i = 0; i < length;)
	{
		size_t sequence = ValidSequenceLength(p + i, length - i);
		if (sequence == 0)
			return false;
		i += sequence;
	}
	return true;
}

bool StringManager::HasControlCharacters(const char* text, size_t length)
{
	if (!text)
		return false;
	const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
	for (size_t i = 0; i < length;)
	{
		size_t sequence = ValidSequenceLength(p + i, length - i);
		if (sequence != 0 && IsControlSequence(p + i, sequence))
			return true;
		i += sequence != 0 ? sequence : 1;
	}
	return false;
}

size_t StringManager::EncodeUTF8(char32_t c, char* out)
{
	if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
		c = 0xFFFD;
	if (c < 0x80)
	{
		out[0] = static_cast<char>(c);
		return 1;
	}
	if (c < 0x800)
	{
		out[0] = static_cast<char>(0xC0 | (c >> 6));
		out[1] = static_cast<char>(0x80 | (c & 0x3F));
		return 2;
	}
	if (c < 0x10000)
	{
		out[0] = static_cast<char>(0xE0 | (c >> 12));
		out[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
		out[2] = static_cast<char>(0x80 | (c & 0x3F));
		return 3;
	}
	out[0] = static_cast<char>(0xF0 | (c >> 18));
	out[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
	out[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
	out[3] = static_cast<char>(0x80 | (c & 0x3F));
	return 4;
}

bool StringManager::ToBoolean(const char* text, bool* out)
{
	if (!text)
		return false;
	if (strcmp(text, "true") == 0 || strcmp(text, "1") == 0)
	{
		*out = true;
		return true;
	}
	if (strcmp(text, "false") == 0 || strcmp(text, "0") == 0)
	{
		*out = false;
		return true;
	}
	return false;
}

size_t _strlcpy(char* dst, const char* src, size_t size)
{
	size_t length = strlen(src);
	if (size > 0)
	{
		size_t copy = length < size - 1 ? length : size - 1;
		memcpy(dst, src, copy);
		dst[copy] = '\0';
	}
	return length;
}
