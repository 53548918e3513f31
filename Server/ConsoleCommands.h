#pragma once
// The server's console commands: a line names a command (compared without regard to case) and carries its
// parameters after the first blank. Lines come from the console input thread, the start-up command file
// and the -dumpdoc option, all of them privileged callers. A line that names no command goes to the
// unhandled-command handler.

#include <cstdint>
#include <memory>
#include <unordered_map>

#include "Engine/Context.h"

class CBaseObject;
class CConsoleCommands;

class CConsoleCommand
{
public:
	CConsoleCommand() : m_pOwner(nullptr), m_bRestricted(true) {}
	virtual ~CConsoleCommand() = default;

	CConsoleCommand(const CConsoleCommand&) = delete;
	CConsoleCommand& operator=(const CConsoleCommand&) = delete;

	// szName as the caller wrote it; szParameters the rest of the line (null only for the unhandled-command
	// handler of a line without parameters); pClient the calling client or null.
	virtual void Execute(const char* szName, const char* szParameters, CBaseObject* pClient) = 0;

	CConsoleCommands* GetOwner() const { return m_pOwner; }
	bool IsRestricted() const { return m_bRestricted; }

protected:
	friend class CConsoleCommands;
	CConsoleCommands* m_pOwner;
	// Restricted commands run only for privileged callers.
	bool m_bRestricted;
};

class CConsoleCommands
{
public:
	enum
	{
		MAX_LINE_LENGTH = 255,
	};

	CConsoleCommands();

	CConsoleCommands(const CConsoleCommands&) = delete;
	CConsoleCommands& operator=(const CConsoleCommands&) = delete;

	// Takes ownership. False (and the handler deleted) when the name is taken.
	bool AddCommandHandler(CConsoleCommand* pHandler, const char* szName);
	bool HasCommandHandler(const char* szName) const;
	// Takes ownership; replaces the previous one.
	void SetUnhandledCommandHandler(CConsoleCommand* pHandler);

	// Runs the named command; true when a handler was allowed to run.
	bool Trigger(const char* szName, const char* szParameters, CBaseObject* pClient, bool bPrivileged);
	// A command line without a leading "/".
	bool ConsoleCommandOnly(const char* szLine, CBaseObject* pClient, bool bPrivileged);
	// A console-style line: a leading "/" marks a command, anything else is chat for the command "say".
	bool ConsoleCommand(const char* szLine, CBaseObject* pClient, bool bPrivileged);

	// Where command handlers reply.
	Logger* GetLogger() const { return m_pLogger; }

private:
	static uint32_t GetKey(const char* szName);
	bool RunUnhandled(const char* szName, const char* szParameters, CBaseObject* pClient, bool bPrivileged);

	std::unordered_map<uint32_t, std::unique_ptr<CConsoleCommand>> m_Handlers;
	std::unique_ptr<CConsoleCommand> m_pUnhandled;
	Logger m_DefaultLogger;
	Logger* m_pLogger;
};

// Answers a command that nothing handles.
class CUnhandledCommandHandler : public CConsoleCommand
{
public:
	void Execute(const char* szName, const char* szParameters, CBaseObject* pClient) override;
};
