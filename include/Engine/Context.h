#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>

#include "Engine/KestrinReference.h"

class CFileSystem;
class ConfigElement;
class Stream;
class Context;

enum eLogType : int
{
	LOGTYPE_NONE = 0,
	LOGTYPE_VERBOSE = 1,
	LOGTYPE_DEBUG = 2,
	LOGTYPE_INFO = 3,
	LOGTYPE_WARN = 4,
	LOGTYPE_ERROR = 5,
	LOGTYPE_CRITICAL = 6,
};

// Log lines are formatted into this many bytes, so a line keeps at most LOG_BUFFER_SIZE - 1 characters.
constexpr size_t LOG_BUFFER_SIZE = 4096;
constexpr size_t LOG_TIMESTAMP_FORMAT_SIZE = 64;

// Process-wide access to the context for code that has none at hand (loggers, assertions, modules).
// Points at the newest Context; null once that one is destroyed.
struct KGlobal
{
	static Context* m_pContext;
	static Context* GetContext() { return m_pContext; }
};

// An output sink. The base writes to the Context log; console commands reply through one.
class Logger
{
public:
	virtual void Log(eLogType Type, const char* szText);
	virtual ~Logger() = default;

	void LogFormatted(eLogType Type, const char* szFormat, ...) __attribute__((format(printf, 3, 4)));
};

// The log file: time-stamped, tagged lines written as UTF-8 into a stream.
class CFileLog
{
public:
	explicit CFileLog(Context* pOwner);
	~CFileLog();

	CFileLog(const CFileLog&) = delete;
	CFileLog& operator=(const CFileLog&) = delete;

	// Adopts the caller's reference to the stream (positioned at its end) and writes the opening banner.
	void StartLogging(Stream* pStream);
	bool IsLogging() const { return m_pStream != nullptr; }

	void WriteToLog(eLogType Type, const char* szText);
	// An untagged line.
	void Print(const char* szFormat, ...) __attribute__((format(printf, 2, 3)));

	// A strftime format; empty means lines carry no time stamp. Cut to 63 characters.
	void SetTimeStampFormat(const char* szFormat);
	const char* GetTimeStampFormat() const { return m_szTimeStampFormat; }

	Context* GetOwner() const { return m_pOwner; }

private:
	Context* m_pOwner;
	char m_szTimeStampFormat[LOG_TIMESTAMP_FORMAT_SIZE];
	Stream* m_pStream;
};

// The one process context: virtual file system, settings root, user agent and log.
// main keeps it on its stack for the whole run; tests may make several, KGlobal follows the newest.
class Context
{
public:
	Context();
	~Context();

	Context(const Context&) = delete;
	Context& operator=(const Context&) = delete;

	void Log(const char* szFormat, ...) __attribute__((format(printf, 2, 3)));
	void LogWarn(const char* szFormat, ...) __attribute__((format(printf, 2, 3)));
	void LogError(const char* szFormat, ...) __attribute__((format(printf, 2, 3)));
	void LogMessage(eLogType Type, const char* szFormat, ...) __attribute__((format(printf, 3, 4)));
	void LogMessageV(eLogType Type, const char* szFormat, va_list Args) __attribute__((format(printf, 3, 0)));

	// One line to the log file (when logging has started) and to the console.
	void InternalLog(eLogType Type, const char* szText);

	void AddUserAgent(const char* szToken);
	const char* GetUserAgent() const { return m_UserAgent.c_str(); }

	CFileSystem* GetFileSystem() const { return m_pFileSystem.GetPointer(); }
	ConfigElement* GetSettings() const { return m_pSettings.GetPointer(); }
	CFileLog* GetFileLog() { return &m_FileLog; }
	bool IsInitialised() const { return m_bInitialised; }

private:
	void MountExecutableDirectory();
	void BuildUserAgent();

	bool m_bInitialised;
	AutoDelete<CFileSystem> m_pFileSystem;
	AutoDelete<ConfigElement> m_pSettings;
	std::string m_UserAgent;
	CFileLog m_FileLog;
};
