#include "Engine/Context.h"

#include "Engine/Config.h"
#include "Engine/FileSystem.h"
#include "Engine/OS.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sys/utsname.h>
#include <unistd.h>
#include <vector>

Context* KGlobal::m_pContext = nullptr;

namespace
{
	constexpr size_t USER_AGENT_TOKEN_SIZE = 64;

	const char* GetConsoleColour(eLogType Type)
	{
		switch (Type)
		{
		case LOGTYPE_WARN: return "\x1b[33;1m";
		case LOGTYPE_ERROR: return "\x1b[31;1m";
		case LOGTYPE_CRITICAL: return "\x1b[37;41m";
		default: return "\x1b[32;1m";
		}
	}

	// readlink does not say whether it cut the target, so a result that fills the buffer is retried larger.
	bool ReadSymLink(const char* szPath, std::string& Target)
	{
		std::vector<char> Buffer(64);
		for (;;)
		{
			const ssize_t iLength = readlink(szPath, Buffer.data(), Buffer.size());
			if (iLength < 0)
				return false;
			if (static_cast<size_t>(iLength) < Buffer.size())
			{
				Target.assign(Buffer.data(), static_cast<size_t>(iLength));
				return true;
			}
			Buffer.resize(Buffer.size() * 2);
		}
	}
}

Context::Context() :
	m_bInitialised(false),
	m_FileLog(this)
{
	if (!OS::IsInitialised())
		OS::Initialise();

	m_bInitialised = true;
	KGlobal::m_pContext = this;

	srand(static_cast<unsigned int>(time(nullptr)));

	m_pFileSystem = AutoDelete<CFileSystem>(new CFileSystem());
	m_pSettings = AutoDelete<ConfigElement>(new ConfigElement(nullptr));

	MountExecutableDirectory();
	BuildUserAgent();
}

Context::~Context()
{
	// Before the file log, which goes after this body; the log holds its own reference to its file.
	if (m_bInitialised)
	{
		m_pFileSystem.Delete();
		m_pSettings.Delete();
	}

	if (KGlobal::m_pContext == this)
		KGlobal::m_pContext = nullptr;
}

void Context::MountExecutableDirectory()
{
	if (access("/proc", F_OK) != 0)
		return;

	std::string Target;
	if (!ReadSymLink("/proc/self/exe", Target))
	{
		char szPath[64];
		snprintf(szPath, sizeof(szPath), "/proc/%llu/exe", static_cast<unsigned long long>(getpid()));
		if (!ReadSymLink(szPath, Target))
			return;
	}

	const size_t LastSlash = Target.rfind('/');
	if (LastSlash == std::string::npos)
		return;
	Target.resize(LastSlash + 1);

	m_pFileSystem->Mount(new CMountedPath(Target.c_str()));
}

void Context::BuildUserAgent()
{
	m_UserAgent.clear();

	char szToken[USER_AGENT_TOKEN_SIZE];
	snprintf(szToken, sizeof(szToken), "Kestrin3D/%d.%d.%d", 1, 2, 0);
	AddUserAgent(szToken);

	utsname System;
	if (uname(&System) == 0)
	{
		// The token brings its own leading blank on top of the separator, hence two blanks before "(".
		// Long names are cut at the token's bound.
		if (snprintf(szToken, sizeof(szToken), " (%s %s)", System.sysname, System.machine) >= 0)
			AddUserAgent(szToken);
	}
}

void Context::AddUserAgent(const char* szToken)
{
	if (!m_UserAgent.empty())
		m_UserAgent += ' ';
	m_UserAgent += szToken;
}

void Context::LogMessageV(eLogType Type, const char* szFormat, va_list Args)
{
	char szBuffer[LOG_BUFFER_SIZE];
	vsnprintf(szBuffer, sizeof(szBuffer), szFormat, Args);
	InternalLog(Type, szBuffer);
}

void Context::LogMessage(eLogType Type, const char* szFormat, ...)
{
	va_list Args;
	va_start(Args, szFormat);
	LogMessageV(Type, szFormat, Args);
	va_end(Args);
}

void Context::Log(const char* szFormat, ...)
{
	va_list Args;
	va_start(Args, szFormat);
	LogMessageV(LOGTYPE_INFO, szFormat, Args);
	va_end(Args);
}

void Context::LogWarn(const char* szFormat, ...)
{
	va_list Args;
	va_start(Args, szFormat);
	LogMessageV(LOGTYPE_WARN, szFormat, Args);
	va_end(Args);
}

void Context::LogError(const char* szFormat, ...)
{
	va_list Args;
	va_start(Args, szFormat);
	LogMessageV(LOGTYPE_ERROR, szFormat, Args);
	va_end(Args);
}

void Context::InternalLog(eLogType Type, const char* szText)
{
	if (szText == nullptr)
		szText = "";

	m_FileLog.WriteToLog(Type, szText);

	// Flushed per line: the console is often a pipe read by another program, which must see each line at once.
	printf("%s%.*s\x1b[0;0m\n", GetConsoleColour(Type), static_cast<int>(LOG_BUFFER_SIZE - 1), szText);
	fflush(stdout);
}
