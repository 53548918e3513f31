// How a game client becomes a client of the server and how it leaves: the connect report, the join request with
// its checks and refusal codes, the messages a joining client receives, the ready message, the client's own
// disconnect message and the disconnect report. Everything runs on the main thread inside the network step.

#include "BaseServer.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <strings.h>

#include "NetGamesList.h"
#include "ServerManager.h"

#include "Engine/KestrinHash.h"
#include "Engine/KestrinString.h"
#include "Engine/OS.h"
#include "Multiplayer/NetObject.h"
#include "Network/BinaryStream.h"
#include "Network/ENetSystem.h"
#include "Scripting/EventHandlers.h"

namespace
{
// Channels of the join messages.
constexpr uint8_t JOIN_CHANNEL = 0;
constexpr uint8_t CONFIGURATION_CHANNEL = 7;
constexpr uint8_t CLIENT_LIST_CHANNEL = 8;

constexpr size_t ADDRESS_TEXT_SIZE = 128;
constexpr size_t NAME_BUFFER_SIZE = 256;

// Every version the client reports, major first.
constexpr size_t VERSION_PARTS = 4;

// What the checks after the password read at most: the name's length, the longest name, the game and its version.
constexpr size_t MAX_JOIN_REST = 2 + CBaseServer::MAX_NAME_LENGTH + 1 + 1;

// A name is shown on the console, in the log and by every client: it must be text that can neither break a line
// nor drive a terminal.
bool IsAcceptableName(const char* szName)
{
	const size_t Length = strlen(szName);
	return Length > 0 && StringManager::IsValidUTF8(szName, Length) &&
		!StringManager::HasControlCharacters(szName, Length);
}

bool SendToClient(CNetMachine* pClient, Packet& Message, uint8_t ucChannel)
{
	return pClient->SendPacket(&Message, PACKET_PRIORITY_LOW, PACKET_FLAG_RELIABLE, ucChannel);
}
}

bool CBaseServer::GetPeerAddressText(void* pPeer, char* szBuffer, size_t Size)
{
	CIPAddress Address;
	return GetPeerIP(pPeer, Address) && Address.ToString(szBuffer, Size);
}

void CBaseServer::RefusePeer(void* pPeer, unsigned uiReason)
{
	GetNetSystem()->Disconnect(pPeer, uiReason);
}

bool CBaseServer::OnPlayerConnect(void* pPeer)
{
	char szAddress[ADDRESS_TEXT_SIZE] = "";
	GetPeerAddressText(pPeer, szAddress, sizeof(szAddress));
	m_pContext->Log("CONNECT: %s is attempting to connect", szAddress);

	bool bPrevented = false;
	if (m_pOnPlayerConnect)
	{
		CArguments Arguments;
		Arguments.AddString(szAddress);
		m_pOnPlayerConnect->Trigger(Arguments, bPrevented);
	}
	// A script that cancelled the connect wants the peer gone: keeping it connected would let it join anyway.
	if (bPrevented)
		GetNetSystem()->Disconnect(pPeer, DISCONNECT_REFUSED);
	return !bPrevented;
}

bool CBaseServer::IsVersionAllowed(const uint32_t* puiVersion) const
{
	for (size_t i = 0; i < VERSION_PARTS; i++)
	{
		if (puiVersion[i] != m_uiMinClientVersion[i])
			return puiVersion[i] > m_uiMinClientVersion[i];
	}
	return true;
}

bool CBaseServer::IsNameInUse(const char* szName) const
{
	for (const CNetMachine* pClient : m_Clients.Clients(CLIENTS_CONNECTED))
	{
		if (strcasecmp(pClient->GetName(), szName) == 0)
			return true;
	}
	return false;
}

CNetMachine* CBaseServer::NewMachine(CServerManager* pManager)
{
	return new CNetMachine(pManager);
}

void CBaseServer::OnPlayerJoin(CNetMachine* /*pClient*/)
{
}

void CBaseServer::OnPlayerJoined(CNetMachine* /*pClient*/)
{
}

struct CBaseServer::tJoinRequest
{
	tJoinRequest() = default;
	tJoinRequest(const tJoinRequest&) = delete;
	tJoinRequest& operator=(const tJoinRequest&) = delete;
	// The password does not stay behind in freed memory.
	~tJoinRequest()
	{
		if (!m_Password.empty())
			explicit_bzero(&m_Password[0], m_Password.size());
	}

	std::string m_Address;
	// How a refusal's warning names the peer: by its address (beside the network version it speaks, when that is
	// what is refused) until its name has been read, then by the name.
	std::string m_Who;
	std::string m_Password;
	std::string m_Name;
	uint8_t m_ucGame = 0;
	uint8_t m_ucGameVersion = 0;
};

namespace
{
struct tJoinRefusal
{
	unsigned m_uiCode;
	// Null for a refusal that logs nothing.
	const char* m_szLabel;
};

// By eJoinRefusal: the code the peer is disconnected with and the label that ends its warning.
constexpr tJoinRefusal JOIN_REFUSALS[] = {
	{DISCONNECT_NO_ADDRESS, nullptr},
	{DISCONNECT_BANNED, "BANNED"},
	{DISCONNECT_UNSUPPORTED_CLIENT, "UNSUPPORTED CLIENT"},
	{DISCONNECT_WRONG_PASSWORD, "WRONG PASSWORD"},
	{DISCONNECT_INVALID_NICKNAME, "INVALID NICKNAME"},
	{DISCONNECT_WRONG_GAME, "WRONG GAME"},
	{DISCONNECT_NICKNAME_IN_USE, "NICKNAME IN USE"},
	{DISCONNECT_SERVER_FULL, "SERVER FULL"},
};
}

void CBaseServer::ProcessJoinRequest(void* pPeer, Stream* pStream)
{
	// One request of a peer is checked at a time; what it sends meanwhile is dropped, as for a peer that has joined.
	if (m_PendingJoins.IsPending(pPeer))
		return;
	tJoinRequest Request;
	const eJoinRefusal eRefusal = ReadJoinHead(pPeer, pStream, Request);
	if (eRefusal != JOIN_CHECKS_PASSED)
		Refuse(pPeer, Request.m_Who.c_str(), eRefusal);
	else if (!m_ServerPassword.HasPassword())
		ContinueJoin(pPeer, Request.m_Address.c_str(), pStream);
	else
		// The check runs off the main thread; the request goes on when it answers.
		m_PendingJoins.Await(pPeer, Request.m_Address, Request.m_Password, m_ServerPassword.GetPassword(), pStream,
			MAX_JOIN_REST);
}

CBaseServer::eJoinRefusal CBaseServer::ReadJoinHead(void* pPeer, Stream* pStream, tJoinRequest& Request)
{
	char szAddress[ADDRESS_TEXT_SIZE];
	if (!GetPeerAddressText(pPeer, szAddress, sizeof(szAddress)))
		return JOIN_REFUSED_NO_ADDRESS;
	Request.m_Address = szAddress;
	Request.m_Who = szAddress;
	if (m_BanList.IsBanned(szAddress))
		return JOIN_REFUSED_BANNED;

	// A request that ends early is refused with the code of the first field that could not be read.
	CBinaryReader Reader(pStream);
	uint32_t uiNetVersion = 0;
	if (!Reader.ReadUInt32(&uiNetVersion))
		return JOIN_REFUSED_UNSUPPORTED_CLIENT;
	if (uiNetVersion != m_uiNetVersion)
	{
		// The warning shows the network version the client speaks beside its address.
		Request.m_Who += " (" + std::to_string(static_cast<int>(uiNetVersion)) + ")";
		return JOIN_REFUSED_UNSUPPORTED_CLIENT;
	}
	uint32_t rguiVersion[VERSION_PARTS];
	if (!Reader.ReadUInt32(rguiVersion, VERSION_PARTS) || !IsVersionAllowed(rguiVersion))
		return JOIN_REFUSED_UNSUPPORTED_CLIENT;

	size_t PasswordLength = 0;
	char* szPassword = Reader.ReadString(&PasswordLength);
	if (!szPassword)
		return JOIN_REFUSED_WRONG_PASSWORD;
	Request.m_Password.assign(szPassword, PasswordLength);
	explicit_bzero(szPassword, PasswordLength);
	free(szPassword);
	return JOIN_CHECKS_PASSED;
}

void CBaseServer::FinishJoinChecks()
{
	std::vector<CPendingJoins::tAnswer> Answers;
	m_PendingJoins.Collect(OS::GetTicks(), Answers);
	for (const CPendingJoins::tAnswer& Answer : Answers)
	{
		if (!Answer.m_bVerified)
		{
			Refuse(Answer.m_pPeer, Answer.m_Address.c_str(), JOIN_REFUSED_WRONG_PASSWORD);
			continue;
		}
		Strong<Stream> pRest =
			Strong<Stream>::New(new CMemoryStream(Answer.m_Rest.data(), Answer.m_Rest.size()));
		ContinueJoin(Answer.m_pPeer, Answer.m_Address.c_str(), pRest);
	}
}

void CBaseServer::ContinueJoin(void* pPeer, const char* szAddress, Stream* pStream)
{
	tJoinRequest Request;
	Request.m_Who = szAddress;
	int32_t iSlot = INVALID_CLIENT_ID;
	Strong<CNetMachine> pClient;
	eJoinRefusal eRefusal = ReadJoinDetails(pStream, Request);
	if (eRefusal == JOIN_CHECKS_PASSED)
		eRefusal = FindRoom(Request, iSlot, pClient);
	if (eRefusal != JOIN_CHECKS_PASSED)
		Refuse(pPeer, Request.m_Who.c_str(), eRefusal);
	else
		Admit(pPeer, Request, iSlot, pClient);
}

CBaseServer::eJoinRefusal CBaseServer::ReadJoinDetails(Stream* pStream, tJoinRequest& Request) const
{
	CBinaryReader Reader(pStream);
	uint16_t usNameLength = 0;
	char szName[NAME_BUFFER_SIZE] = {};
	if (!Reader.ReadUInt16(&usNameLength) || usNameLength == 0 || usNameLength > MAX_NAME_LENGTH ||
		!Reader.Read(szName, usNameLength) || !IsAcceptableName(szName))
		return JOIN_REFUSED_INVALID_NAME;
	Request.m_Name = szName;
	Request.m_Who = szName;

	uint8_t ucGame = 0;
	if (!Reader.ReadUInt8(&ucGame))
		return JOIN_REFUSED_WRONG_GAME;
	const bool bGameAccepted =
		std::find(m_AcceptedGames.begin(), m_AcceptedGames.end(), static_cast<int32_t>(ucGame)) != m_AcceptedGames.end();
	if (!bGameAccepted || !Reader.ReadUInt8(&Request.m_ucGameVersion))
		return JOIN_REFUSED_WRONG_GAME;
	Request.m_ucGame = ucGame;
	return JOIN_CHECKS_PASSED;
}

CBaseServer::eJoinRefusal CBaseServer::FindRoom(const tJoinRequest& Request, int32_t& iSlot,
	Strong<CNetMachine>& pClient)
{
	if (!m_bDuplicateNames && IsNameInUse(Request.m_Name.c_str()))
		return JOIN_REFUSED_NAME_IN_USE;
	iSlot = m_iPlayerCount < m_iMaxPlayers ? m_Clients.FindFreeSlot(CONSOLE_CLIENT_INDEX) : -1;
	if (iSlot >= 0)
		pClient = Strong<CNetMachine>::New(NewMachine(m_pManager));
	// A record that could not be made is refused as a full server.
	return pClient.IsNull() ? JOIN_REFUSED_SERVER_FULL : JOIN_CHECKS_PASSED;
}

void CBaseServer::Refuse(void* pPeer, const char* szWho, eJoinRefusal eReason)
{
	static_assert(std::size(JOIN_REFUSALS) == JOIN_CHECKS_PASSED, "a refusal without its code and label");
	const tJoinRefusal& Refusal = JOIN_REFUSALS[eReason];
	if (Refusal.m_szLabel)
		m_pContext->LogWarn("CONNECT: %s revoked connection [%s]", szWho, Refusal.m_szLabel);
	RefusePeer(pPeer, Refusal.m_uiCode);
}

void CBaseServer::Admit(void* pPeer, const tJoinRequest& Request, int32_t iSlot, CNetMachine* pClient)
{
	CIPAddress Address;
	GetPeerIP(pPeer, Address);
	const CNetGamesList* pGames = GetGamesList();
	pClient->SetPeer(pPeer);
	pClient->SetAddress(Address);
	pClient->SetGameName(pGames ? pGames->GetGameName(Request.m_ucGame) : "");
	pClient->SetGame(Request.m_ucGame);
	pClient->SetGameVersion(Request.m_ucGameVersion);
	pClient->SetIndex(iSlot);
	pClient->SetName(Request.m_Name.c_str());
	pClient->SetElementStreaming(false);
	m_Clients.SetMachine(iSlot, pClient);
	m_iPlayerCount++;
	m_Masterlist.PlayerAdd(pClient);

	if (m_pOnPlayerJoin)
	{
		CArguments Arguments;
		Arguments.AddObject(pClient);
		m_pOnPlayerJoin->Trigger(Arguments);
	}
	OnPlayerJoin(pClient);
	SendJoinMessages(pClient);
}

void CBaseServer::SendCVars(CNetMachine* pClient)
{
	Packet Message(SERVER_MESSAGE_CLIENT_VARIABLES);
	if (m_ClientVariables.Serialise(&Message))
		SendToClient(pClient, Message, CONFIGURATION_CHANNEL);
}

void CBaseServer::SendServerText(CNetMachine* pClient, eServerMessage eMessage, const char* szText)
{
	Packet Message(eMessage);
	CBinaryWriter Writer(&Message);
	Writer.WriteString(szText);
	if (pClient)
		SendToClient(pClient, Message, CONFIGURATION_CHANNEL);
	else
		GetNetSystem()->SendEveryonePacket(&Message, PACKET_PRIORITY_LOW, PACKET_FLAG_RELIABLE, CONFIGURATION_CHANNEL);
}

void CBaseServer::SendJoinMessages(CNetMachine* pClient)
{
	SendCVars(pClient);

	Packet JoinInfo(SERVER_MESSAGE_JOIN_INFO);
	CBinaryWriter JoinWriter(&JoinInfo);
	JoinWriter.WriteInt32(pClient->GetIndex());
	JoinWriter.WriteUInt16(m_usHttpPort);
	JoinWriter.WriteString(m_HttpUrl.c_str(), m_HttpUrl.size());
	JoinWriter.WriteUInt16(m_usSyncInterval);
	JoinWriter.WriteUInt8(0);
	JoinWriter.WriteUInt8(static_cast<uint8_t>(m_iSyncMethod));
	SendToClient(pClient, JoinInfo, JOIN_CHANNEL);

	SendGameMode(pClient);
	SendServerName(pClient);

	Packet Joined(SERVER_MESSAGE_CLIENT_JOINED);
	CBinaryWriter JoinedWriter(&Joined);
	JoinedWriter.WriteUInt16(1);
	JoinedWriter.WriteUInt32(static_cast<uint32_t>(pClient->GetIndex()));
	pClient->Write(&Joined);

	Packet List(SERVER_MESSAGE_CLIENT_LIST);
	CBinaryWriter ListWriter(&List);
	ListWriter.WriteUInt16(static_cast<uint16_t>(m_Clients.Clients(CLIENTS_CONNECTED).Count()));
	ListWriter.WriteUInt16(static_cast<uint16_t>(m_iMaxPlayers));
	for (int32_t i : m_Clients.ClientSlots(CLIENTS_CONNECTED))
	{
		CNetMachine* pOther = m_Clients.GetMachine(i);
		ListWriter.WriteUInt32(static_cast<uint32_t>(i));
		pOther->Write(&List);
		if (pOther != pClient)
			SendToClient(pOther, Joined, CLIENT_LIST_CHANNEL);
	}
	SendToClient(pClient, List, CLIENT_LIST_CHANNEL);
}

void CBaseServer::ProcessReady(CNetMachine* pClient)
{
	pClient->SetJoined(true);
	pClient->SetElementStreaming(true);
	m_ResourceMgr.UpdateAllResource(pClient);
	OnPlayerJoined(pClient);
	if (m_pOnPlayerJoined)
	{
		CArguments Arguments;
		Arguments.AddObject(pClient);
		m_pOnPlayerJoined->Trigger(Arguments);
	}
	pClient->SendPlayer();
	Packet Joined(SERVER_MESSAGE_JOINED);
	SendToClient(pClient, Joined, JOIN_CHANNEL);
}

void CBaseServer::ProcessDisconnectMessage(CNetMachine* pClient, Stream* pStream)
{
	CBinaryReader Reader(pStream);
	uint32_t uiReason = DISCONNECT_QUIT;
	if (!Reader.ReadUInt32(&uiReason))
		uiReason = DISCONNECT_QUIT;
	void* pPeer = pClient->GetPeer();
	// Reason 12 keeps the client until the transport reports the connection gone.
	if (uiReason != DISCONNECT_NICKNAME_IN_USE)
		OnPlayerDisconnect(pPeer, uiReason);
	GetNetSystem()->Disconnect(pPeer, uiReason);
}

void CBaseServer::OnPlayerDisconnect(void* pPeer, unsigned uiReason)
{
	m_PendingJoins.Forget(pPeer);
	Strong<CNetMachine> pClient(m_Clients.GetMachineFromPeer(pPeer));
	if (pClient.IsNull())
		return;
	const int32_t iIndex = pClient->GetIndex();

	if (m_pOnPlayerQuit)
	{
		CArguments Arguments;
		Arguments.AddObject(pClient);
		Arguments.AddNumber(static_cast<int32_t>(uiReason));
		m_pOnPlayerQuit->Trigger(Arguments);
	}

	if (m_pManager)
	{
		// Releasing one element may destroy others, so the table is read afresh at every slot.
		for (size_t Slot : m_pManager->UsedSlots())
		{
			Strong<CNetObject> pObject(m_pManager->GetObjectAt(Slot));
			if (pObject.IsNull())
				continue;
			if (pObject->GetSyncer() == static_cast<INetMachine*>(pClient.GetPointer()))
				pObject->SetSyncer(nullptr, false);
			pObject->SetCreatedFor(pClient, false);
			pObject->ResetMachine(pClient);
			m_pManager->PossiblyDeleteObject(pObject);
		}
	}
	pClient->DespawnPlayer();
	m_iPlayerCount--;
	m_Masterlist.PlayerRemove(pClient);

	pClient->SetIndex(INVALID_CLIENT_ID);
	if (m_Clients.GetMachine(iIndex) == pClient.GetPointer())
		m_Clients.SetMachine(iIndex, nullptr);

	Packet Left(SERVER_MESSAGE_CLIENT_LEFT);
	CBinaryWriter Writer(&Left);
	Writer.WriteUInt16(1);
	Writer.WriteUInt32(static_cast<uint32_t>(iIndex));
	GetNetSystem()->SendEveryonePacket(&Left, PACKET_PRIORITY_LOW, PACKET_FLAG_RELIABLE, CLIENT_LIST_CHANNEL);
}
