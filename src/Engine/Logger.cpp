#include "Engine/Context.h"

#include "Engine/KestrinStream.h"
#include "Engine/KestrinString.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sys/utsname.h>

namespace
{
	constexpr size_t LOG_TIMESTAMP_SIZE = 512;

	const char* const LOG_DASH_LINE = "------------------------------------------------------------";

	// Each tag is exactly ten characters; the critical one fills them without a trailing blank.
	const char* GetLevelTag(eLogType Type)
	{
		switch (Type)
		{
		case LOGTYPE_VERBOSE: return "[VERBOSE] ";
		case LOGTYPE_DEBUG: return "[DEBUG]   ";
		case LOGTYPE_INFO: return "[INFO]    ";
		case LOGTYPE_WARN: return "[WARN]    ";
		case LOGTYPE_ERROR: return "[ERROR]   ";
		case LOGTYPE_CRITICAL: return "[CRITICAL]";
		default: return nullptr;
		}
	}
}

void Logger::Log(eLogType Type, const char* szText)
{
	Context* pContext = KGlobal::GetContext();
	if (pContext != nullptr)
		pContext->LogMessage(Type, "%s", szText);
}

void Logger::LogFormatted(eLogType Type, const char* szFormat, ...)
{
	char szBuffer[LOG_BUFFER_SIZE];
	va_list Args;
	va_start(Args, szFormat);
	vsnprintf(szBuffer, sizeof(szBuffer), szFormat, Args);
	va_end(Args);
	Log(Type, szBuffer);
}

CFileLog::CFileLog(Context* pOwner) :
	m_pOwner(pOwner),
	m_pStream(nullptr)
{
	_strlcpy(m_szTimeStampFormat, "%d/%m/%Y - %X", sizeof(m_szTimeStampFormat));
}

CFileLog::~CFileLog()
{
	if (m_pStream == nullptr)
		return;

	Print("%s", LOG_DASH_LINE);
	Print("---------------------- Logging Ended -----------------------");
	Print("%s", LOG_DASH_LINE);
	m_pStream->Release();
	m_pStream = nullptr;
}

void CFileLog::StartLogging(Stream* pStream)
{
	if (m_pStream != nullptr)
		m_pStream->Release();
	m_pStream = pStream;
	if (m_pStream == nullptr)
		return;

	utsname System;
	memset(&System, 0, sizeof(System));
	uname(&System);

	Print("%s", LOG_DASH_LINE);
	Print("--------------------- Logging Started ----------------------");
	Print("%s", LOG_DASH_LINE);
	Print("Kestrin %d.%d.%d", 1, 2, 0);
	Print("Platform: %s", "Linux");
	Print("%s %s", System.sysname, System.machine);
	Print("%s", LOG_DASH_LINE);
}

void CFileLog::WriteToLog(eLogType Type, const char* szText)
{
	if (m_pStream == nullptr)
		return;

	CTextWriter Writer(m_pStream);

	if (m_szTimeStampFormat[0] != '\0')
	{
		char szStamp[LOG_TIMESTAMP_SIZE];
		const time_t Now = time(nullptr);
		tm LocalNow;
		if (localtime_r(&Now, &LocalNow) == nullptr || strftime(szStamp, sizeof(szStamp), m_szTimeStampFormat, &LocalNow) == 0)
			szStamp[0] = '\0';
		Writer.Print("<%s> ", szStamp);
	}

	const char* szTag = GetLevelTag(Type);
	if (szTag != nullptr)
		Writer.Write(szTag, strlen(szTag));

	// The text is bounded on its own so that the line break survives even a line of full length.
	if (szText == nullptr)
		szText = "";
	Writer.Write(szText, std::min(strlen(szText), LOG_BUFFER_SIZE - 1));
	Writer.Write("\r\n", 2);
}

void CFileLog::Print(const char* szFormat, ...)
{
	char szBuffer[LOG_BUFFER_SIZE];
	va_list Args;
	va_start(Args, szFormat);
	vsnprintf(szBuffer, sizeof(szBuffer), szFormat, Args);
	va_end(Args);
	WriteToLog(LOGTYPE_NONE, szBuffer);
}

void CFileLog::SetTimeStampFormat(const char* szFormat)
{
	_strlcpy(m_szTimeStampFormat, szFormat != nullptr ? szFormat : "", sizeof(m_szTimeStampFormat));
}
