#include "Engine/KestrinString.h"

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
