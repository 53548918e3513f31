#include "Scripting/CommandHandlers.h"

#include <cstring>

#include "Engine/KestrinString.h"
#include "Scripting/Resource.h"
#include "Scripting/ResourceMgr.h"

namespace
{
// Removes every carriage return and line feed at the end of the text; returns the length left.
size_t TrimLineBreaks(char* szText)
{
	size_t Length = strlen(szText);
	while (Length > 0 && (szText[Length - 1] == '\r' || szText[Length - 1] == '\n'))
		szText[--Length] = '\0';
	return Length;
}
}

CCommandHandler::CCommandHandler() :
	m_pOwner(nullptr),
	m_pResource(nullptr),
	m_uiKey(0),
	m_bRestricted(true),
	m_bRemoved(false)
{
}

CScriptCommandHandler::CScriptCommandHandler(CFunction* pFunction, CResource* pResource) : m_pFunction(pFunction)
{
	m_pResource = pResource;
	m_bRestricted = false;
}

void CScriptCommandHandler::Execute(const char* szName, const char* szParameters, CBaseObject* pClient)
{
	CArgumentArray Arguments(3);
	Arguments.AddString(szName ? szName : "");
	if (szParameters)
		Arguments.AddString(szParameters);
	else
		Arguments.AddNull();
	if (m_pOwner && m_pOwner->GetPassClient())
		Arguments.AddObject(pClient);
	CallHandlerFunction(m_pFunction, Arguments);
}

void CUnhandledCommandHandler::Execute(const char* szName, const char*, CBaseObject*)
{
	if (!m_pOwner)
		return;
	m_pOwner->GetLogger()->LogFormatted(LOGTYPE_ERROR,
		"'%s' is not recognized as an internal or external command, operable program or batch file.",
		szName ? szName : "");
}

CCommandHandlers::CCommandHandlers(CResourceMgr* pOwner) :
	m_pOwner(pOwner),
	m_pUnhandledCommandHandler(nullptr),
	m_bPassClient(false),
	m_pLogger(&m_OwnLogger),
	m_pPreviousLogger(nullptr)
{
}

CCommandHandlers::~CCommandHandlers()
{
	// Taken out of the registry before any lets go: letting a handler go can destroy objects that remove handlers
	// themselves.
	m_Handlers.RemoveAll();
	delete m_pUnhandledCommandHandler;
	m_pUnhandledCommandHandler = nullptr;
}

bool CCommandHandlers::AddCommandHandler(CCommandHandler* pHandler, const char* szName)
{
	if (!pHandler)
		return false;
	const uint32_t uiKey = GetNameKey(szName);
	if (m_Handlers.Find(uiKey))
		return false;
	pHandler->m_pOwner = this;
	pHandler->m_uiKey = uiKey;
	pHandler->m_Name = szName ? szName : "";
	m_Handlers.AddLast(uiKey, pHandler);
	return true;
}

CCommandHandler* CCommandHandlers::GetCommandHandler(const char* szName) const
{
	return m_Handlers.FindFirst(GetNameKey(szName));
}

bool CCommandHandlers::RemoveCommandHandler(CCommandHandler* pHandler)
{
	if (!pHandler)
		return false;
	const size_t Removed =
		m_Handlers.RemoveIf(pHandler->m_uiKey, [pHandler](CCommandHandler* pOther) { return pOther == pHandler; });
	return Removed > 0;
}

size_t CCommandHandlers::RemoveGoingWith(CResource* pResource)
{
	return m_Handlers.RemoveGoingWith(pResource);
}

bool CCommandHandlers::Trigger(const char* szName, const char* szParameters, CBaseObject* pClient, bool bPrivileged)
{
	if (!szParameters)
		szParameters = "";
	if (strlen(szParameters) > COMMAND_LINE_MAX_LENGTH)
		return false;
	CCommandHandler* pHandler = GetCommandHandler(szName);
	if (!pHandler)
		return false;
	if (pHandler->IsRestricted() && !bPrivileged)
		return false;

	char szCopy[COMMAND_LINE_MAX_LENGTH + 1];
	_strlcpy(szCopy, szParameters, sizeof(szCopy));
	TrimLineBreaks(szCopy);

	CDispatchScope<tHandlers::tRemoval> Dispatch(m_Handlers.GetRemoval());
	pHandler->Execute(szName, szCopy, pClient);
	return true;
}

bool CCommandHandlers::RunUnhandled(const char* szName, const char* szParameters, CBaseObject* pClient,
	bool bPrivileged)
{
	CCommandHandler* pHandler = m_pUnhandledCommandHandler;
	if (!pHandler || (pHandler->IsRestricted() && !bPrivileged))
		return false;
	CDispatchScope<tHandlers::tRemoval> Dispatch(m_Handlers.GetRemoval());
	pHandler->Execute(szName, szParameters, pClient);
	return true;
}

bool CCommandHandlers::ConsoleCommandOnly(const char* szLine, CBaseObject* pClient, bool bPrivileged)
{
	if (!szLine || szLine[0] == '\0' || strlen(szLine) > COMMAND_LINE_MAX_LENGTH)
		return false;

	char szCopy[COMMAND_LINE_MAX_LENGTH + 1];
	_strlcpy(szCopy, szLine, sizeof(szCopy));
	// The line break that ends a typed line is not part of the command: a line that held nothing else runs nothing.
	if (TrimLineBreaks(szCopy) == 0)
		return false;

	const char* szParameters = nullptr;
	char* pSeparator = strpbrk(szCopy, " \r\n");
	if (pSeparator)
	{
		*pSeparator = '\0';
		szParameters = pSeparator + 1;
	}

	if (Trigger(szCopy, szParameters ? szParameters : "", pClient, bPrivileged))
		return true;
	RunUnhandled(szCopy, szParameters, pClient, bPrivileged);
	return false;
}

bool CCommandHandlers::ConsoleCommand(const char* szLine, CBaseObject* pClient, bool bPrivileged)
{
	if (!szLine || szLine[0] == '\0' || strlen(szLine) > COMMAND_LINE_MAX_LENGTH)
		return false;
	if (szLine[0] == '/')
		return ConsoleCommandOnly(szLine + 1, pClient, bPrivileged);
	if (Trigger("say", szLine, pClient, bPrivileged))
		return true;
	RunUnhandled("say", szLine, pClient, bPrivileged);
	return false;
}

void CCommandHandlers::SetUnhandledCommandHandler(CCommandHandler* pHandler)
{
	if (pHandler == m_pUnhandledCommandHandler)
		return;
	if (m_pUnhandledCommandHandler)
		m_Handlers.GetRemoval().Retire(m_pUnhandledCommandHandler);
	m_pUnhandledCommandHandler = pHandler;
	if (pHandler)
		pHandler->m_pOwner = this;
}

void CCommandHandlers::PushLogger(Logger* pLogger)
{
	m_pPreviousLogger = m_pLogger;
	m_pLogger = pLogger ? pLogger : &m_OwnLogger;
}

void CCommandHandlers::PopLogger()
{
	m_pLogger = m_pPreviousLogger ? m_pPreviousLogger : &m_OwnLogger;
	m_pPreviousLogger = nullptr;
}

static bool FunctionAddCommandHandler(CNativeState* pState, int argc, void* pUserData)
{
	CCommandHandlers* pHandlers = static_cast<CCommandHandlers*>(pUserData);
	const char* szName = nullptr;
	CFunction* pFunction = nullptr;
	if (!CheckNameAndFunction(pState, szName, pFunction))
		return false;
	bool bReplace = false;
	if (argc > 2 && !pState->CheckBoolean(2, bReplace))
		return false;

	CResource* pResource = pState->GetResource();
	if (CCommandHandler* pExisting = pHandlers->GetCommandHandler(szName))
	{
		if (!bReplace || pExisting->GetResource() != pResource)
		{
			pState->ReturnBoolean(false);
			return true;
		}
		pHandlers->RemoveCommandHandler(pExisting);
	}
	CScriptCommandHandler* pHandler = new CScriptCommandHandler(pFunction, pResource);
	if (!pHandlers->AddCommandHandler(pHandler, szName))
	{
		delete pHandler;
		pState->ReturnBoolean(false);
		return true;
	}
	pState->ReturnBoolean(true);
	return true;
}

static bool FunctionRemoveCommandHandler(CNativeState* pState, int, void* pUserData)
{
	CCommandHandlers* pHandlers = static_cast<CCommandHandlers*>(pUserData);
	const char* szName = pState->CheckString(0, nullptr);
	if (!szName)
		return false;
	CCommandHandler* pHandler = pHandlers->GetCommandHandler(szName);
	CResource* pResource = pState->GetResource();
	// A call that no resource makes may remove any handler; a resource only its own.
	bool bRemoved = false;
	if (pHandler && (!pResource || pHandler->GetResource() == pResource))
		bRemoved = pHandlers->RemoveCommandHandler(pHandler);
	pState->ReturnBoolean(bRemoved);
	return true;
}

static bool FunctionHasCommandHandler(CNativeState* pState, int, void* pUserData)
{
	CCommandHandlers* pHandlers = static_cast<CCommandHandlers*>(pUserData);
	const char* szName = pState->CheckString(0, nullptr);
	if (!szName)
		return false;
	pState->ReturnBoolean(pHandlers->GetCommandHandler(szName) != nullptr);
	return true;
}

static bool FunctionConsoleCommand(CNativeState* pState, int, void* pUserData)
{
	CCommandHandlers* pHandlers = static_cast<CCommandHandlers*>(pUserData);
	const char* szLine = pState->CheckString(0, nullptr);
	if (!szLine)
		return false;
	CResource* pResource = pState->GetResource();
	const bool bPrivileged = pResource && pResource->IsPrivileged();
	pState->ReturnBoolean(pHandlers->ConsoleCommand(szLine, nullptr, bPrivileged));
	return true;
}

void CCommandHandlers::RegisterFunctions(CScripting* pScripting)
{
	ReflectedNamespace* pGlobal = pScripting->GetGlobal();
	pGlobal->RegisterFunction("addCommandHandler", "sc|b", FunctionAddCommandHandler, this);
	pGlobal->RegisterFunction("removeCommandHandler", "s", FunctionRemoveCommandHandler, this);
	pGlobal->RegisterFunction("hasCommandHandler", "s", FunctionHasCommandHandler, this);
	pGlobal->RegisterFunction("consoleCommand", "s", FunctionConsoleCommand, this);
}
