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
// A password is checked off the main thread (it costs tens of milliseconds), and the messages a connection sends
// behind a login wait, in order, until the login is answered; meanwhile nothing more is read from it. What a remote
// party can cost is bounded: a connection that has not proved the password within AUTHENTICATION_TIMEOUT_MS or
// after MAX_FAILED_ATTEMPTS wrong ones is closed, only so many connections may wait to prove it (from one address
// and in all; one more is closed as soon as it opens), and the password checks of an address that keeps failing
// are slowed down. Closed connections get the close status 1008 with the reason. Each limit is logged when it first
// bites for an address (the total one once for all), and again only after it has not bitten for a while.
//
// Main thread only: polled by the main loop under the server lock, so commands run as they would when typed.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "Engine/Context.h"
#include "Engine/KestrinHash.h"
#include "Engine/PasswordChecks.h"
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
	enum : uint64_t
	{
		AUTHENTICATION_TIMEOUT_MS = 30 * 1000,
		MAX_FAILED_ATTEMPTS = 3,
		// Connections that have not proved the password, in all and from one address.
		MAX_UNAUTHENTICATED = 32,
		MAX_UNAUTHENTICATED_PER_ADDRESS = 4,
		// What may wait behind a login being checked, should the library hand on more after reading was paused.
		MAX_HELD_BYTES = 1024 * 1024,
		// The close status of a connection the server ends for one of its limits (policy violation).
		LIMIT_CLOSE_STATUS = 1008,
	};

	explicit CRConServer(CBaseServer* pServer);

	// Null or empty text clears the password, after which no connection can authenticate. False, keeping the old
	// one, when the text cannot be hashed.
	bool SetPassword(const char* szPassword) { return m_Password.SetPassword(szPassword); }

	// Message 2 {1 or 0} to the connection; nothing while the link is stopped.
	void Auth(lws* pConnection, bool bAccepted);
	// Message 1 {level, text} to the connection; nothing while the link is stopped.
	void Log(lws* pConnection, eLogType Type, const char* szText);

	// Once a pass, after the poll: answers the logins whose check has finished, with what waited behind them, and
	// closes the connections that did not prove the password in time.
	void Pulse();

protected:
	int EventHandler(lws* pConnection, const tWebEvent& Event) override;
	void ProcessPacket(lws* pConnection, unsigned uiId, Stream* pStream) override;
	void OnPlayerConnect(lws* pConnection) override;
	void OnPlayerDisconnect(lws* pConnection) override;

private:
	struct tConnection
	{
		std::string m_Address;
		uint64_t m_uiOpenedAt = 0;
		uint64_t m_uiFailures = 0;
		// The login being checked, 0 when none.
		uint64_t m_uiTicket = 0;
		bool m_bClosing = false;
		// Whole messages that came behind the login, in order.
		std::deque<std::vector<uint8_t>> m_Held;
		size_t m_HeldBytes = 0;
	};

	enum eLimit
	{
		LIMIT_PER_ADDRESS,
		LIMIT_TOTAL,
		LIMIT_FAILED_ATTEMPTS,
		LIMIT_TIMEOUT,
		LIMIT_HELD_BYTES,
	};

	bool IsAuthenticated(lws* pConnection) const;
	// Counts the connections that have not proved the password, in all and from the address.
	void CountUnauthenticated(const std::string& Address, uint64_t& uiTotal, uint64_t& uiFromAddress) const;
	void HandleFrame(lws* pConnection, const tWebEvent& Event);
	void Authenticate(lws* pConnection, Stream* pStream);
	void FinishLogin(lws* pConnection, bool bAccepted);
	// Hands on what waited behind a login, until another login among it is being checked.
	void ReleaseHeld(lws* pConnection);
	void CloseForLimit(lws* pConnection, tConnection& Connection, const char* szReason);
	void CloseLateConnections(uint64_t uiNowMs);
	void RunCommand(lws* pConnection, Stream* pStream);
	// True the first time the limit bites for the address (again once it has not for a while).
	bool IsFirstBite(eLimit Limit, const std::string& Address, uint64_t uiNowMs);

	CBaseServer* m_pServer;
	CSecurePassword m_Password;
	std::map<lws*, tConnection> m_Connections;
	CPasswordChecks m_Checks;
	// When each limit last bit for each address.
	std::map<std::pair<int, std::string>, uint64_t> m_Bites;
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
