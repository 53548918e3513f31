#include "MasterlistAnnouncer.h"

#include <algorithm>
#include <cstdlib>
#include <string>

#include "BaseServer.h"

#include "Engine/KestrinString.h"
#include "Network/BinaryStream.h"

namespace
{
enum eServerInfoFlags : uint8_t
{
	SERVER_INFO_ALWAYS = 0x01 | 0x08,
	SERVER_INFO_PASSWORD = 0x02,
	SERVER_INFO_CONSOLE = 0x04,
};

constexpr uint8_t SERVER_INFO_VERSION = 1;

// A message of the listing: its type first, no header.
void StartMessage(Packet& Message, eMasterlistMessage eType)
{
	CBinaryWriter(&Message).Write7BitEncodedInt(static_cast<int>(eType));
}

void WriteClient(CBinaryWriter& Writer, int32_t iIndex, const CNetMachine* pClient)
{
	Writer.Write7BitEncodedInt(iIndex);
	Writer.WriteString(pClient->GetName(), pClient->GetNameLength());
	Writer.WriteString(pClient->GetGameName());
}
}

CMasterlistAnnouncer::CMasterlistAnnouncer(CBaseServer* pServer)
	: m_pServer(pServer), m_fRetryTimer(0.0f), m_ePreviousState(MASTERLIST_WAITING), m_eState(MASTERLIST_WAITING)
{
}

void CMasterlistAnnouncer::ChangeState(eMasterlistState eState)
{
	if (m_eState == eState)
		return;
	m_ePreviousState = m_eState;
	m_eState = eState;
}

void CMasterlistAnnouncer::Pulse(float fDelta)
{
	Context* pContext = m_pServer->GetContext();
	switch (m_eState)
	{
	case MASTERLIST_WAITING:
		if (m_fRetryTimer > 0.0f)
		{
			m_fRetryTimer = std::max(0.0f, m_fRetryTimer - std::max(0.0f, fDelta));
			return;
		}
		m_fRetryTimer = RETRY_DELAY;
		if (IsRunning())
			StopServer();
		if (m_pServer->StartMasterlist())
			ChangeState(MASTERLIST_CONNECTING);
		else
			m_fRetryTimer = FAILED_START_RETRY_DELAY;
		UpdateNetwork();
		return;
	case MASTERLIST_CONNECTING:
	case MASTERLIST_CONNECTED:
		UpdateNetwork();
		return;
	case MASTERLIST_CLOSED:
		if (IsRunning())
			StopServer();
		if (m_ePreviousState == MASTERLIST_CONNECTING)
			pContext->LogError("Failed to connect to the server listing");
		else
			pContext->Log("Disconnected from server listing");
		ChangeState(MASTERLIST_WAITING);
		return;
	}
}

void CMasterlistAnnouncer::SendUpdate(Packet& Message)
{
	if (m_eState == MASTERLIST_CONNECTED)
		SendPacket(&Message);
}

void CMasterlistAnnouncer::PlayerAdd(CNetMachine* pClient)
{
	if (!pClient)
		return;
	Packet Message;
	StartMessage(Message, MASTERLIST_PLAYER_ADD);
	CBinaryWriter Writer(&Message);
	WriteClient(Writer, pClient->GetIndex(), pClient);
	SendUpdate(Message);
}

void CMasterlistAnnouncer::PlayerRemove(CNetMachine* pClient)
{
	if (!pClient)
		return;
	Packet Message;
	StartMessage(Message, MASTERLIST_PLAYER_REMOVE);
	CBinaryWriter(&Message).Write7BitEncodedInt(pClient->GetIndex());
	SendUpdate(Message);
}

void CMasterlistAnnouncer::SetGameMode(const char* szGameMode, size_t Length)
{
	Packet Message;
	StartMessage(Message, MASTERLIST_GAME_MODE);
	CBinaryWriter(&Message).WriteString(szGameMode, Length);
	SendUpdate(Message);
}

void CMasterlistAnnouncer::SetName(const char* szName, size_t Length)
{
	Packet Message;
	StartMessage(Message, MASTERLIST_SERVER_NAME);
	CBinaryWriter(&Message).WriteString(szName, Length);
	SendUpdate(Message);
}

void CMasterlistAnnouncer::BuildServerInfo(CBaseServer* pServer, Packet& Message)
{
	StartMessage(Message, MASTERLIST_SERVER_INFO);
	CBinaryWriter Writer(&Message);
	uint8_t ucFlags = SERVER_INFO_ALWAYS;
	if (pServer->HasPassword())
		ucFlags |= SERVER_INFO_PASSWORD;
	if (pServer->GetConsoleClient())
		ucFlags |= SERVER_INFO_CONSOLE;
	Writer.WriteUInt8(ucFlags);
	Writer.WriteUInt8(SERVER_INFO_VERSION);
	Writer.WriteString(pServer->GetGame());
	Writer.Write7BitEncodedInt(static_cast<int>(pServer->GetNetVersion()));
	Writer.Write7BitEncodedInt(pServer->GetPort());
	Writer.Write7BitEncodedInt(static_cast<int>(pServer->GetMaxPlayers()));
	Writer.Write7BitEncodedInt(static_cast<int>(pServer->GetPlayerCount()));
	// Every occupied slot, the console's and those of clients still joining included.
	CNetMachines& Clients = pServer->GetClients();
	for (int32_t i : Clients.ClientSlots(CLIENTS_CONNECTED))
		WriteClient(Writer, i, Clients.GetMachine(i));
	Writer.WriteString(pServer->GetServerName());
	Writer.WriteString(pServer->GetGameMode());
	const uint32_t* puiVersion = pServer->GetMinClientVersion();
	for (int i = 0; i < 3; i++)
		Writer.Write7BitEncodedInt(static_cast<int>(puiVersion[i]));
}

int CMasterlistAnnouncer::EventHandler(lws* pConnection, const tWebEvent& Event)
{
	if (Event.m_eType != WEB_EVENT_FRAME)
		return WebConnection::EventHandler(pConnection, Event);
	Strong<Stream> pStream = Strong<Stream>::New(new CMemoryStream(Event.m_pData, Event.m_Size));
	int iType = 0;
	if (CBinaryReader(pStream).Read7BitEncodedInt(&iType))
		ProcessPacket(pConnection, static_cast<unsigned>(iType), pStream);
	return 0;
}

void CMasterlistAnnouncer::ProcessPacket(lws* /*pConnection*/, unsigned uiType, Stream* pStream)
{
	// Anything else the service sends is its own business.
	if (uiType == MASTERLIST_LOG)
		LogServiceMessage(pStream);
}

void CMasterlistAnnouncer::LogServiceMessage(Stream* pStream)
{
	CBinaryReader Reader(pStream);
	int iLevel = 0;
	if (!Reader.Read7BitEncodedInt(&iLevel))
		return;
	size_t Length = 0;
	char* szText = Reader.ReadString(&Length);
	if (!szText)
		return;
	const uint32_t uiLevel = static_cast<uint32_t>(iLevel);
	const eLogType Type = uiLevel <= LOGTYPE_CRITICAL ? static_cast<eLogType>(uiLevel) : LOGTYPE_INFO;
	// The service's text is shown as sent, except what could drive the operator's terminal or break the line.
	m_pServer->GetContext()->LogMessage(Type, "%s", StringManager::EscapeControlCharacters(szText, Length).c_str());
	free(szText);
}

void CMasterlistAnnouncer::OnPlayerConnect(lws* /*pConnection*/)
{
	Packet Message;
	BuildServerInfo(m_pServer, Message);
	SendPacket(&Message);
	ChangeState(MASTERLIST_CONNECTED);
	m_pServer->GetContext()->Log("Connected to the server listing");
}

void CMasterlistAnnouncer::OnPlayerDisconnect(lws* /*pConnection*/)
{
	if (m_eState != MASTERLIST_WAITING && m_eState != MASTERLIST_CLOSED)
		ChangeState(MASTERLIST_CLOSED);
}
