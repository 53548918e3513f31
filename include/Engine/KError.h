#pragma once

#include <cstdarg>
#include <cstddef>

// The process-wide last-error text, always NUL-terminated. Natives fill it before failing and the
// language glue raises it as the script error.
constexpr size_t KERROR_TEXT_SIZE = 1024;
extern char g_szError[KERROR_TEXT_SIZE];

// Formats into 4096 bytes and keeps at most the first 1023 characters.
void SetError(const char* szFormat, ...) __attribute__((format(printf, 1, 2)));
void SetErrorV(const char* szFormat, va_list Args) __attribute__((format(printf, 1, 0)));
// The text of SetError("%s%s%s", szFirst, szSecond, szThird), joined without formatting: for errors set on paths
// that run often.
void SetErrorJoined(const char* szFirst, const char* szSecond, const char* szThird);
