#include "RConServer.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "BaseServer.h"

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

// The answer to a line the registry did not run: the first word as received, a leading "/" included.
std::string NotRecognized(const std::string& Line)
{
	return "'" + Line.substr(0, Line.find(' ')) +
		"' is not recognized as an internal or external command, operable program or batch file.";
}
}

CRConServer::CRConServer(CBaseServer* pServer) : m_pServer(pServer) {}

int CRConServer::EventHandler(lws* pConnection, const tWebEvent& Event)
{
	if (Event.m_eType == WEB_EVENT_HTTP && Event.m_pCallback)
		return CHttpServer::HTTPHandler(*Event.m_pCallback);
	return WebConnection::EventHandler(pConnection, Event);
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
	std::string Password;
	// Without a configured password nobody gets in; a password that cannot be read is a wrong one.
	const bool bAccepted = ReadWholeText(pStream, Password) && m_Password.HasPassword() &&
		VerifyPassword(Password.c_str(), m_Password.GetPassword());
	explicit_bzero(&Password[0], Password.size());
	if (bAccepted)
		SetConnectionData(pConnection, AUTHENTICATED_MARK);
	Auth(pConnection, bAccepted);
}

void CRConServer::RunCommand(lws* pConnection, Stream* pStream)
{
	if (GetConnectionData(pConnection) != AUTHENTICATED_MARK)
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
