#pragma once
// Console and chat commands: one handler per name (compared without regard to case). Built-in handlers answer only
// privileged callers; handlers added by scripts answer everyone. Replies go through the registry's current
// logger, which the remote console swaps for its own while it runs a command.

#include <cstddef>
#include <cstdint>
#include <string>

#include "Engine/Context.h"
#include "Engine/KestrinNative.h"
#include "Scripting/KeyedHandlers.h"

class CResource;
class CResourceMgr;
class CCommandHandlers;

// Parameters and console lines are limited to this many characters.
constexpr size_t COMMAND_LINE_MAX_LENGTH = 255;

class CCommandHandler
{
public:
	// Restricted until a subclass says otherwise.
	CCommandHandler();
	virtual ~CCommandHandler() = default;

	CCommandHandler(const CCommandHandler&) = delete;
	CCommandHandler& operator=(const CCommandHandler&) = delete;

	// szName as the caller wrote it; szParameters the rest of the line (null only for the unhandled-command
	// handler called for a line without parameters); pClient the calling client or null.
	virtual void Execute(const char* szName, const char* szParameters, CBaseObject* pClient) = 0;
	// Taken out of the registry: drops what it holds for its calls.
	virtual void LetGo() {}
	// The script function the handler calls; null for built-in handlers.
	virtual CFunction* GetFunction() const { return nullptr; }

	CCommandHandlers* GetOwner() const { return m_pOwner; }
	CResource* GetResource() const { return m_pResource; }
	const char* GetName() const { return m_Name.c_str(); }
	bool IsRestricted() const { return m_bRestricted; }

	CCommandHandlers* m_pOwner;
	// Null for built-in handlers.
	CResource* m_pResource;
	uint32_t m_uiKey;
	std::string m_Name;
	bool m_bRestricted;
	// Set when the handler is taken out of the registry.
	bool m_bRemoved;
};

class CScriptCommandHandler : public CCommandHandler
{
public:
	CScriptCommandHandler(CFunction* pFunction, CResource* pResource);

	// Calls the function with [name, parameters or null, and the client when the registry passes clients].
	void Execute(const char* szName, const char* szParameters, CBaseObject* pClient) override;
	void LetGo() override { m_pFunction.SetNull(); }
	CFunction* GetFunction() const override { return m_pFunction; }

	Strong<CFunction> m_pFunction;
};

// The answer to a line that names no command.
class CUnhandledCommandHandler : public CCommandHandler
{
public:
	void Execute(const char* szName, const char* szParameters, CBaseObject* pClient) override;
};

class CCommandHandlers
{
public:
	// One handler under the key of each name.
	typedef CKeyedHandlers<uint32_t, CCommandHandler> tHandlers;

	explicit CCommandHandlers(CResourceMgr* pOwner);
	// Deletes every handler, the unhandled-command handler and the registry's own logger.
	~CCommandHandlers();

	CCommandHandlers(const CCommandHandlers&) = delete;
	CCommandHandlers& operator=(const CCommandHandlers&) = delete;

	// False, leaving the handler with the caller, when the name is taken; else the registry owns it.
	bool AddCommandHandler(CCommandHandler* pHandler, const char* szName);
	CCommandHandler* GetCommandHandler(const char* szName) const;
	// Unregisters and destroys the handler (after the current dispatch when one runs).
	bool RemoveCommandHandler(CCommandHandler* pHandler);
	// The handlers that go when the resource stops (CKeyedHandlers::RemoveGoingWith).
	size_t RemoveGoingWith(CResource* pResource);

	// True when a registered handler was allowed to run.
	bool Trigger(const char* szName, const char* szParameters, CBaseObject* pClient, bool bPrivileged);
	// One command line without a leading "/".
	bool ConsoleCommandOnly(const char* szLine, CBaseObject* pClient, bool bPrivileged);
	// A console-style line: a leading "/" marks a command, anything else is chat for "say".
	bool ConsoleCommand(const char* szLine, CBaseObject* pClient, bool bPrivileged);

	// Takes ownership and replaces (destroys) the previous one.
	void SetUnhandledCommandHandler(CCommandHandler* pHandler);
	CCommandHandler* GetUnhandledCommandHandler() const { return m_pUnhandledCommandHandler; }

	// One level only: PopLogger restores the logger that PushLogger replaced.
	void PushLogger(Logger* pLogger);
	void PopLogger();
	Logger* GetLogger() const { return m_pLogger; }

	void SetPassClient(bool bPassClient) { m_bPassClient = bPassClient; }
	bool GetPassClient() const { return m_bPassClient; }

	// The functions of the global namespace.
	void RegisterFunctions(CScripting* pScripting);

	CResourceMgr* GetOwner() const { return m_pOwner; }
	const tHandlers::tLists& GetHandlers() const { return m_Handlers.GetLists(); }

	CResourceMgr* m_pOwner;
	tHandlers m_Handlers;
	CCommandHandler* m_pUnhandledCommandHandler;
	bool m_bPassClient;
	Logger* m_pLogger;
	Logger* m_pPreviousLogger;

private:
	bool RunUnhandled(const char* szName, const char* szParameters, CBaseObject* pClient, bool bPrivileged);

	Logger m_OwnLogger;
};
