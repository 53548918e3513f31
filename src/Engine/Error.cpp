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
