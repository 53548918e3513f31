#include "Engine/KError.h"

#include "Engine/Context.h"
#include "Engine/KestrinString.h"

#include <cstdio>

char g_szError[KERROR_TEXT_SIZE] = "";

void SetErrorV(const char* szFormat, va_list Args)
{
	char szBuffer[LOG_BUFFER_SIZE];
	vsnprintf(szBuffer, sizeof(szBuffer), szFormat, Args);
	_strlcpy(g_szError, szBuffer, sizeof(g_szError));
}

void SetError(const char* szFormat, ...)
{
	va_list Args;
	va_start(Args, szFormat);
	SetErrorV(szFormat, Args);
	va_end(Args);
}

void SetErrorJoined(const char* szFirst, const char* szSecond, const char* szThird)
{
	size_t Length = 0;
	for (const char* szPart : {szFirst, szSecond, szThird})
	{
		if (Length + 1 < sizeof(g_szError))
			Length += _strlcpy(g_szError + Length, szPart, sizeof(g_szError) - Length);
	}
	g_szError[Length < sizeof(g_szError) ? Length : sizeof(g_szError) - 1] = '\0';
}
