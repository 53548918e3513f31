#include "ConsoleCommands.h"

#include <cstring>
#include <string>

#include "Engine/KestrinHash.h"
#include "Engine/KestrinString.h"

CConsoleCommands::CConsoleCommands() : m_pLogger(&m_DefaultLogger)
{
}

uint32_t CConsoleCommands::GetKey(const char* szName)
{
	return CRC32Hash::GetHash(szName, strlen(szName), true);
}

bool CConsoleCommands::AddCommandHandler(CConsoleCommand* pHandler, const char* szName)
{
	std::unique_ptr<CConsoleCommand> pOwned(pHandler);
	if (!pHandler || !szName)
		return false;
	uint32_t uiKey = GetKey(szName);
	if (m_Handlers.count(uiKey))
		return false;
	pHandler->m_pOwner = this;
	m_Handlers[uiKey] = std::move(pOwned);
	return true;
}

bool CConsoleCommands::HasCommandHandler(const char* szName) const
{
	return szName && m_Handlers.count(GetKey(szName)) != 0;
}

void CConsoleCommands::SetUnhandledCommandHandler(CConsoleCommand* pHandler)
{
	m_pUnhandled.reset(pHandler);
	if (pHandler)
		pHandler->m_pOwner = this;
}

bool CConsoleCommands::Trigger(const char* szName, const char* szParameters, CBaseObject* pClient, bool bPrivileged)
{
	if (!szName)
		return false;
	if (!szParameters)
		szParameters = "";
	if (strlen(szParameters) > MAX_LINE_LENGTH)
		return false;

	auto it = m_Handlers.find(GetKey(szName));
	if (it == m_Handlers.end())
		return false;
	CConsoleCommand* pHandler = it->second.get();
	if (pHandler->m_bRestricted && !bPrivileged)
		return false;

	char szCopy[MAX_LINE_LENGTH + 1];
	_strlcpy(szCopy, szParameters, sizeof(szCopy));
	size_t Length = strlen(szCopy);
	while (Length > 0 && (szCopy[Length - 1] == '\r' || szCopy[Length - 1] == '\n'))
		szCopy[--Length] = '\0';

	pHandler->Execute(szName, szCopy, pClient);
	return true;
}

bool CConsoleCommands::RunUnhandled(const char* szName, const char* szParameters, CBaseObject* pClient, bool bPrivileged)
{
	if (m_pUnhandled && (!m_pUnhandled->m_bRestricted || bPrivileged))
		m_pUnhandled->Execute(szName, szParameters, pClient);
	return false;
}

bool CConsoleCommands::ConsoleCommandOnly(const char* szLine, CBaseObject* pClient, bool bPrivileged)
{
	if (!szLine)
		return false;
	size_t Length = strlen(szLine);
	if (Length == 0 || Length > MAX_LINE_LENGTH)
		return false;

	char szCopy[MAX_LINE_LENGTH + 1];
	_strlcpy(szCopy, szLine, sizeof(szCopy));

	const char* szParameters = nullptr;
	char* pEnd = strpbrk(szCopy, " \r\n");
	if (pEnd)
	{
		*pEnd = '\0';
		szParameters = pEnd + 1;
	}

	if (Trigger(szCopy, szParameters ? szParameters : "", pClient, bPrivileged))
		return true;
	return RunUnhandled(szCopy, szParameters, pClient, bPrivileged);
}

bool CConsoleCommands::ConsoleCommand(const char* szLine, CBaseObject* pClient, bool bPrivileged)
{
	if (!szLine)
		return false;
	size_t Length = strlen(szLine);
	if (Length == 0 || Length > MAX_LINE_LENGTH)
		return false;
	if (szLine[0] == '/')
		return ConsoleCommandOnly(szLine + 1, pClient, bPrivileged);
	if (Trigger("say", szLine, pClient, bPrivileged))
		return true;
	return RunUnhandled("say", szLine, pClient, bPrivileged);
}

void CUnhandledCommandHandler::Execute(const char* szName, const char* /*szParameters*/, CBaseObject* /*pClient*/)
{
	GetOwner()->GetLogger()->LogFormatted(LOGTYPE_ERROR,
		"'%s' is not recognized as an internal or external command, operable program or batch file.", szName);
}
