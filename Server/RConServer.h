#pragma once
// The remote console: an operator's tool connects over WebSocket to the console port, proves the remote-console
// password and then sends command lines, each run as a privileged console command; every line the command
// prints goes back to that connection alone. Plain HTTP on the same port is answered by the file server's
// handler.
//
// Messages are the link's base framing: incoming ones are the byte 0x86, the message header and the fields,
// outgoing ones the header and the fields.
//   tool -> server  2 {string password}        server -> tool  2 {uint8 1 accepted / 0 refused}
//   tool -> server  1 {string command line}    server -> tool  1 {uint8 log level, string text}
//
// Main thread only: polled by the main loop under the server lock, so commands run as they would when typed.

#include <cstddef>
#include <cstdint>

#include "Engine/Context.h"
#include "Engine/KestrinHash.h"
#include "Network/WebConnection.h"

class CBaseServer;
class CCommandHandlers;

enum eRConMessage : unsigned
{
	RCON_MESSAGE_COMMAND = 1,
	RCON_MESSAGE_AUTHENTICATE = 2,
};

class CRConServer : public WebConnection
{
public:
	enum : uintptr_t
	{
		// The connection's own word once it has proved the password; it lasts as long as the connection.
		AUTHENTICATED_MARK = 0x54523402,
	};

	explicit CRConServer(CBaseServer* pServer);

	// Null or empty text clears the password, after which no connection can authenticate. False, keeping the old
	// one, when the text cannot be hashed.
	bool SetPassword(const char* szPassword) { return m_Password.SetPassword(szPassword); }

	// Message 2 {1 or 0} to the connection; nothing while the link is stopped.
	void Auth(lws* pConnection, bool bAccepted);
	// Message 1 {level, text} to the connection; nothing while the link is stopped.
	void Log(lws* pConnection, eLogType Type, const char* szText);

protected:
	int EventHandler(lws* pConnection, const tWebEvent& Event) override;
	void ProcessPacket(lws* pConnection, unsigned uiId, Stream* pStream) override;

private:
	void Authenticate(lws* pConnection, Stream* pStream);
	void RunCommand(lws* pConnection, Stream* pStream);

	CBaseServer* m_pServer;
	CSecurePassword m_Password;
};

// The command registry's current logger while a remote command runs: what the command prints goes to the
// connection that sent it. It takes the registry's logger over when made and gives it back when it goes.
class CRConLogger : public Logger
{
public:
	CRConLogger(CRConServer* pRConServer, lws* pConnection, CCommandHandlers* pCommands);
	~CRConLogger() override;

	CRConLogger(const CRConLogger&) = delete;
	CRConLogger& operator=(const CRConLogger&) = delete;

	void Log(eLogType Type, const char* szText) override;

private:
	CRConServer* m_pRConServer;
	lws* m_pConnection;
	CCommandHandlers* m_pCommands;
};
