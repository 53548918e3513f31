#include "RConServer.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "BaseServer.h"

#include "Engine/OS.h"
#include "Network/BinaryStream.h"
#include "Network/HttpServer.h"
#include "Scripting/CommandHandlers.h"

namespace
{
// A wire string as one text. False when it cannot be read or holds a zero byte: the command registry and the
// password check would stop at that byte and act on another text than the one sent.
bool ReadWholeText(Stream* pStream, std::string& Text)
{
	size_t Length = 0;
	char* szText = CBinaryReader(pStream).ReadString(&Length);
	if (!szText)
		return false;
	const bool bWhole = memchr(szText, '\0', Length) == nullptr;
	if (bWhole)
		Text.assign(szText, Length);
	// The text may be a password: it does not stay behind in freed memory.
	explicit_bzero(szText, Length);
	free(szText);
	return bWhole;
}

// A limit that has not bitten for an address this long is logged again when it next does.
constexpr uint64_t BITE_FORGET_MS = 10 * 60 * 1000;
constexpr size_t MAX_BITES_KEPT = 1024;

// A message may hold a password: it does not stay behind in freed memory.
void Wipe(std::vector<uint8_t>& Message)
{
	if (!Message.empty())
		explicit_bzero(Message.data(), Message.size());
}

// The answer to a line the registry did not run: the first word as received, a leading "/" included.
std::string NotRecognized(const std::string& Line)
{
	return "'" + Line.substr(0, Line.find(' ')) +
		"' is not recognized as an internal or external command, operable program or batch file.";
}
}

CRConServer::CRConServer(CBaseServer* pServer) : m_pServer(pServer), m_Checks(pServer->GetContext(), "RCon") {}

int CRConServer::EventHandler(lws* pConnection, const tWebEvent& Event)
{
	if (Event.m_eType == WEB_EVENT_HTTP && Event.m_pCallback)
		return CHttpServer::HTTPHandler(*Event.m_pCallback);
	if (Event.m_eType == WEB_EVENT_FRAME)
	{
		HandleFrame(pConnection, Event);
		return 0;
	}
	return WebConnection::EventHandler(pConnection, Event);
}

void CRConServer::OnPlayerConnect(lws* pConnection)
{
	const std::string Address = GetPeerAddress(pConnection);
	const uint64_t uiNow = OS::GetTicks();
	uint64_t uiTotal = 0;
	uint64_t uiFromAddress = 0;
	CountUnauthenticated(Address, uiTotal, uiFromAddress);
	Context* pContext = m_pServer->GetContext();
	if (uiFromAddress >= MAX_UNAUTHENTICATED_PER_ADDRESS)
	{
		if (IsFirstBite(LIMIT_PER_ADDRESS, Address, uiNow))
			pContext->LogWarn("RCon: refused a connection from %s: %llu connections from it are waiting to authenticate",
				Address.c_str(), static_cast<unsigned long long>(uiFromAddress));
		CloseConnectionAfterOutput(pConnection, LIMIT_CLOSE_STATUS, "too many connections waiting to authenticate");
		return;
	}
	if (uiTotal >= MAX_UNAUTHENTICATED)
	{
		// One limit for everyone: said once, with the address it first kept out.
		if (IsFirstBite(LIMIT_TOTAL, std::string(), uiNow))
			pContext->LogWarn("RCon: refused a connection from %s: %llu connections are waiting to authenticate",
				Address.c_str(), static_cast<unsigned long long>(uiTotal));
		CloseConnectionAfterOutput(pConnection, LIMIT_CLOSE_STATUS, "too many connections waiting to authenticate");
		return;
	}
	tConnection& Connection = m_Connections[pConnection];
	Connection.m_Address = Address;
	Connection.m_uiOpenedAt = uiNow;
}

void CRConServer::OnPlayerDisconnect(lws* pConnection)
{
	auto Found = m_Connections.find(pConnection);
	if (Found == m_Connections.end())
		return;
	// A check still running counts against the address all the same; its answer is dropped.
	if (Found->second.m_uiTicket)
		m_Checks.Cancel(Found->second.m_uiTicket);
	for (std::vector<uint8_t>& Message : Found->second.m_Held)
		Wipe(Message);
	m_Connections.erase(Found);
}

bool CRConServer::IsAuthenticated(lws* pConnection) const
{
	return GetConnectionData(pConnection) == AUTHENTICATED_MARK;
}

void CRConServer::CountUnauthenticated(const std::string& Address, uint64_t& uiTotal, uint64_t& uiFromAddress) const
{
	for (const auto& Entry : m_Connections)
	{
		if (IsAuthenticated(Entry.first))
			continue;
		uiTotal++;
		if (Entry.second.m_Address == Address)
			uiFromAddress++;
	}
}

void CRConServer::HandleFrame(lws* pConnection, const tWebEvent& Event)
{
	auto Found = m_Connections.find(pConnection);
	if (Found == m_Connections.end() || Found->second.m_bClosing)
		return;
	tConnection& Connection = Found->second;
	if (!Connection.m_uiTicket && Connection.m_Held.empty())
	{
		WebConnection::EventHandler(pConnection, Event);
		return;
	}
	// Behind a login being checked: kept for after its answer. Reading is paused, so only what the library had
	// already taken in arrives here.
	if (Connection.m_HeldBytes + Event.m_Size > MAX_HELD_BYTES)
	{
		if (IsFirstBite(LIMIT_HELD_BYTES, Connection.m_Address, OS::GetTicks()))
			m_pServer->GetContext()->LogWarn("RCon: closed a connection from %s that sent too much while its login was "
											 "checked", Connection.m_Address.c_str());
		Connection.m_bClosing = true;
		CloseConnection(pConnection);
		return;
	}
	Connection.m_Held.emplace_back(Event.m_pData, Event.m_pData + Event.m_Size);
	Connection.m_HeldBytes += Event.m_Size;
}

void CRConServer::ProcessPacket(lws* pConnection, unsigned uiId, Stream* pStream)
{
	switch (uiId)
	{
	case RCON_MESSAGE_AUTHENTICATE:
		Authenticate(pConnection, pStream);
		break;
	case RCON_MESSAGE_COMMAND:
		RunCommand(pConnection, pStream);
		break;
	default:
		break;
	}
}

void CRConServer::Authenticate(lws* pConnection, Stream* pStream)
{
	auto Found = m_Connections.find(pConnection);
	if (Found == m_Connections.end())
		return;
	std::string Password;
	// Without a configured password nobody gets in; a password that cannot be read is a wrong one. Neither needs a
	// check.
	if (!ReadWholeText(pStream, Password) || !m_Password.HasPassword())
	{
		FinishLogin(pConnection, false);
		return;
	}
	Found->second.m_uiTicket =
		m_Checks.Request(Found->second.m_Address.c_str(), Password.data(), Password.size(), m_Password.GetPassword());
	explicit_bzero(&Password[0], Password.size());
	PauseReceiving(pConnection, true);
}

void CRConServer::FinishLogin(lws* pConnection, bool bAccepted)
{
	if (bAccepted)
		SetConnectionData(pConnection, AUTHENTICATED_MARK);
	Auth(pConnection, bAccepted);
	auto Found = m_Connections.find(pConnection);
	// A connection that proved the password once keeps it, whatever it tries later.
	if (bAccepted || Found == m_Connections.end() || IsAuthenticated(pConnection))
		return;
	tConnection& Connection = Found->second;
	if (++Connection.m_uiFailures < MAX_FAILED_ATTEMPTS)
		return;
	if (IsFirstBite(LIMIT_FAILED_ATTEMPTS, Connection.m_Address, OS::GetTicks()))
		m_pServer->GetContext()->LogWarn("RCon: closed a connection from %s after %llu failed attempts",
			Connection.m_Address.c_str(), static_cast<unsigned long long>(Connection.m_uiFailures));
	CloseForLimit(pConnection, Connection, "too many failed attempts");
}

void CRConServer::CloseForLimit(lws* pConnection, tConnection& Connection, const char* szReason)
{
	Connection.m_bClosing = true;
	for (std::vector<uint8_t>& Message : Connection.m_Held)
		Wipe(Message);
	Connection.m_Held.clear();
	Connection.m_HeldBytes = 0;
	CloseConnectionAfterOutput(pConnection, LIMIT_CLOSE_STATUS, szReason);
}

void CRConServer::Pulse()
{
	if (!IsRunning())
		return;
	const uint64_t uiNow = OS::GetTicks();
	std::vector<tPasswordAnswer> Answers;
	m_Checks.Process(uiNow, Answers);
	for (const tPasswordAnswer& Answer : Answers)
	{
		// Answers of connections that went are never given, so each one has its connection.
		lws* pConnection = nullptr;
		for (auto& Entry : m_Connections)
		{
			if (Entry.second.m_uiTicket == Answer.m_uiTicket)
				pConnection = Entry.first;
		}
		if (!pConnection)
			continue;
		m_Connections[pConnection].m_uiTicket = 0;
		FinishLogin(pConnection, Answer.m_bVerified);
		ReleaseHeld(pConnection);
	}
	CloseLateConnections(uiNow);
}

void CRConServer::ReleaseHeld(lws* pConnection)
{
	// A held message may run a command; the connection is looked up afresh after each.
	for (;;)
	{
		auto Found = m_Connections.find(pConnection);
		if (Found == m_Connections.end() || Found->second.m_bClosing || Found->second.m_uiTicket)
			return;
		tConnection& Connection = Found->second;
		if (Connection.m_Held.empty())
		{
			PauseReceiving(pConnection, false);
			return;
		}
		std::vector<uint8_t> Message = std::move(Connection.m_Held.front());
		Connection.m_Held.pop_front();
		Connection.m_HeldBytes -= Message.size();
		WebConnection::EventHandler(pConnection, tWebEvent{WEB_EVENT_FRAME, Message.data(), Message.size(), nullptr});
		Wipe(Message);
	}
}

void CRConServer::CloseLateConnections(uint64_t uiNowMs)
{
	for (auto& Entry : m_Connections)
	{
		tConnection& Connection = Entry.second;
		if (Connection.m_bClosing || IsAuthenticated(Entry.first) ||
			uiNowMs - Connection.m_uiOpenedAt < AUTHENTICATION_TIMEOUT_MS)
			continue;
		if (IsFirstBite(LIMIT_TIMEOUT, Connection.m_Address, uiNowMs))
			m_pServer->GetContext()->LogWarn("RCon: closed a connection from %s that did not authenticate within %llu "
											 "seconds",
				Connection.m_Address.c_str(), static_cast<unsigned long long>(AUTHENTICATION_TIMEOUT_MS / 1000));
		if (Connection.m_uiTicket)
		{
			m_Checks.Cancel(Connection.m_uiTicket);
			Connection.m_uiTicket = 0;
		}
		CloseForLimit(Entry.first, Connection, "authentication timed out");
	}
}

bool CRConServer::IsFirstBite(eLimit Limit, const std::string& Address, uint64_t uiNowMs)
{
	if (m_Bites.size() >= MAX_BITES_KEPT)
	{
		for (auto Entry = m_Bites.begin(); Entry != m_Bites.end();)
			Entry = uiNowMs - Entry->second >= BITE_FORGET_MS ? m_Bites.erase(Entry) : std::next(Entry);
		if (m_Bites.size() >= MAX_BITES_KEPT)
			m_Bites.clear();
	}
	const auto Key = std::make_pair(static_cast<int>(Limit), Address);
	auto Found = m_Bites.find(Key);
	const bool bFirst = Found == m_Bites.end() || uiNowMs - Found->second >= BITE_FORGET_MS;
	m_Bites[Key] = uiNowMs;
	return bFirst;
}

void CRConServer::RunCommand(lws* pConnection, Stream* pStream)
{
	if (!IsAuthenticated(pConnection))
	{
		Log(pConnection, LOGTYPE_ERROR, "Not authenticated");
		return;
	}
	std::string Line;
	if (!ReadWholeText(pStream, Line))
		return;
	// The registry refuses such a line without saying so; the operator is told why rather than that its first
	// word is no command.
	if (Line.size() > COMMAND_LINE_MAX_LENGTH)
	{
		Log(pConnection, LOGTYPE_WARN, "The command line was too long and was not run.");
		return;
	}
	CCommandHandlers& Commands = m_pServer->GetCommands();
	CRConLogger Logger(this, pConnection, &Commands);
	if (!Commands.ConsoleCommand(Line.c_str(), nullptr, true))
		Log(pConnection, LOGTYPE_WARN, NotRecognized(Line).c_str());
}

void CRConServer::Auth(lws* pConnection, bool bAccepted)
{
	Packet Message(RCON_MESSAGE_AUTHENTICATE);
	CBinaryWriter(&Message).WriteUInt8(bAccepted ? 1 : 0);
	SendPacket(pConnection, &Message);
}

void CRConServer::Log(lws* pConnection, eLogType Type, const char* szText)
{
	Packet Message(RCON_MESSAGE_COMMAND);
	CBinaryWriter Writer(&Message);
	Writer.WriteUInt8(static_cast<uint8_t>(Type));
	Writer.WriteString(szText);
	SendPacket(pConnection, &Message);
}

CRConLogger::CRConLogger(CRConServer* pRConServer, lws* pConnection, CCommandHandlers* pCommands)
	: m_pRConServer(pRConServer), m_pConnection(pConnection), m_pCommands(pCommands)
{
	m_pCommands->PushLogger(this);
}

CRConLogger::~CRConLogger()
{
	m_pCommands->PopLogger();
}

void CRConLogger::Log(eLogType Type, const char* szText)
{
	m_pRConServer->Log(m_pConnection, Type, szText);
}
