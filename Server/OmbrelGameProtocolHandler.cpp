#include "OmbrelGameProtocolHandler.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "BaseServer.h"

#include "Engine/Context.h"
#include "Engine/KestrinStream.h"
#include "Engine/OS.h"
#include "Network/BinaryStream.h"
#include "Network/NetSystem.h"
#include "Network/Packet.h"

namespace
{
constexpr uint8_t OGP_MAGIC[4] = {'O', 'G', 'P', 0};
constexpr uint8_t OGP_VERSION = 1;
constexpr uint8_t OGP_ANSWER_TYPE = 0x80;
constexpr const char* PRODUCT_NAME = "Vexa";

// Bits of the player mask: which fields each player entry carries, and a byte of no meaning after the mask.
constexpr uint8_t OGP_PLAYER_INDEX = 0x01;
constexpr uint8_t OGP_PLAYER_NAME = 0x02;
constexpr uint8_t OGP_PLAYER_EXTRA = 0x40;

enum eOGPInfo : uint8_t
{
	OGP_INFO_PRODUCT = 0x01,
	OGP_INFO_PASSWORD = 0x02,
	OGP_INFO_SERVER_NAME = 0x04,
	OGP_INFO_GAME_MODE = 0x08,
	OGP_INFO_MAP_NAME = 0x10,
	OGP_INFO_PLAYER_COUNT = 0x20,
	OGP_INFO_MAX_PLAYERS = 0x40,
};

constexpr uint64_t MILLISECONDS_PER_SECOND = 1000;

// Limits bit by sources are logged at most this often.
constexpr uint32_t SOURCE_REPORTS_PER_SECOND = 1;

// The byte telling that the server takes no password, and the one added when it does.
constexpr uint8_t OGP_PASSWORD_NONE = 4;
constexpr uint8_t OGP_PASSWORD_SET = 1;

// The text cut to at most Max bytes without splitting a UTF-8 character: a cut never moves back more than the
// three continuation bytes a character can have, so text that is not UTF-8 is still cut close to Max.
void AssignCut(std::string& Destination, const char* szText, size_t Max)
{
	const size_t Length = szText ? strlen(szText) : 0;
	size_t Cut = Length;
	if (Length > Max)
	{
		Cut = Max;
		for (int i = 0; i < 3 && Cut > 0 && (static_cast<uint8_t>(szText[Cut]) & 0xC0) == 0x80; i++)
			Cut--;
	}
	Destination.assign(szText ? szText : "", Cut);
}

size_t TextSize(const std::string& Text)
{
	return Text.size() + 2;
}

// Length + 1, the bytes, a 0 byte. Texts in the snapshot are already cut to OGP_MAX_TEXT_LENGTH.
void WriteText(CBinaryWriter& Writer, const std::string& Text)
{
	Writer.WriteUInt8(static_cast<uint8_t>(Text.size() + 1));
	Writer.Write(Text.data(), Text.size());
	Writer.WriteUInt8(0);
}

size_t PlayerSize(const COGPResponse::tPlayer& Player, uint8_t ucMask)
{
	return ((ucMask & OGP_PLAYER_INDEX) ? 1 : 0) + ((ucMask & OGP_PLAYER_NAME) ? TextSize(Player.m_Name) : 0);
}

size_t RuleSize(const COGPResponse::tRule& Rule)
{
	return TextSize(Rule.m_Name) + TextSize(Rule.m_Value);
}

// How many of the leading entries fit in Room bytes beside Fixed bytes that must fit as well (the count byte, a
// mask, room kept for what follows), at most OGP_MAX_ENTRIES. Entries stop at the first that does not fit, so the count names exactly those sent.
template <class TEntry, class TSize>
size_t CountFitting(const std::vector<TEntry>& Entries, size_t Room, size_t Fixed, TSize EntrySize)
{
	size_t Used = Fixed;
	size_t Count = 0;
	while (Count < Entries.size() && Count < OGP_MAX_ENTRIES)
	{
		const size_t Size = EntrySize(Entries[Count]);
		if (Used + Size > Room)
			break;
		Used += Size;
		Count++;
	}
	return Count;
}

size_t RoomLeft(const Packet* pAnswer)
{
	return pAnswer->GetSize() < OGP_MAX_ANSWER_SIZE ? OGP_MAX_ANSWER_SIZE - pAnswer->GetSize() : 0;
}

void WriteInfo(CBinaryWriter& Writer, const COGPResponse& Response, uint8_t ucMask)
{
	ucMask &= 0x7F;
	Writer.WriteUInt8(ucMask);
	if (ucMask & OGP_INFO_PRODUCT)
		WriteText(Writer, Response.m_ProductName);
	if (ucMask & OGP_INFO_PASSWORD)
		Writer.WriteUInt8(OGP_PASSWORD_NONE + (Response.m_bPassword ? OGP_PASSWORD_SET : 0));
	if (ucMask & OGP_INFO_SERVER_NAME)
		WriteText(Writer, Response.m_ServerName);
	if (ucMask & OGP_INFO_GAME_MODE)
		WriteText(Writer, Response.m_GameMode);
	if (ucMask & OGP_INFO_MAP_NAME)
		WriteText(Writer, Response.m_MapName);
	if (ucMask & OGP_INFO_PLAYER_COUNT)
		Writer.WriteUInt8(Response.m_ucPlayerCount);
	if (ucMask & OGP_INFO_MAX_PLAYERS)
		Writer.WriteUInt8(Response.m_ucMaxPlayers);
}

// Reserved: bytes that must stay free for what follows the players.
void WritePlayers(CBinaryWriter& Writer, const COGPResponse& Response, uint8_t ucMask, size_t Reserved,
	Packet* pAnswer)
{
	ucMask &= OGP_PLAYER_INDEX | OGP_PLAYER_NAME;
	const size_t Count = CountFitting(Response.m_Players, RoomLeft(pAnswer), 2 + Reserved,
		[ucMask](const COGPResponse::tPlayer& Player) { return PlayerSize(Player, ucMask); });
	Writer.WriteUInt8(static_cast<uint8_t>(Count));
	if (Count == 0)
		return;
	Writer.WriteUInt8(ucMask);
	for (size_t i = 0; i < Count; i++)
	{
		const COGPResponse::tPlayer& Player = Response.m_Players[i];
		if (ucMask & OGP_PLAYER_INDEX)
			Writer.WriteUInt8(Player.m_ucIndex);
		if (ucMask & OGP_PLAYER_NAME)
			WriteText(Writer, Player.m_Name);
	}
}

void WriteRules(CBinaryWriter& Writer, const COGPResponse& Response, Packet* pAnswer)
{
	const size_t Count = CountFitting(Response.m_Rules, RoomLeft(pAnswer), 1, RuleSize);
	Writer.WriteUInt8(static_cast<uint8_t>(Count));
	for (size_t i = 0; i < Count; i++)
	{
		WriteText(Writer, Response.m_Rules[i].m_Name);
		WriteText(Writer, Response.m_Rules[i].m_Value);
	}
}
}

bool COGPRequest::Read(const void* pData, size_t Length)
{
	CMemoryStream Stream(pData, Length);
	CBinaryReader Reader(&Stream);
	uint16_t usPrefix = 0;
	uint8_t rgucMagic[sizeof(OGP_MAGIC)];
	uint8_t ucVersion = 0;
	if (!Reader.ReadUInt16(&usPrefix) || usPrefix != 0xFFFF)
		return false;
	if (!Reader.ReadUInt8(rgucMagic, sizeof(rgucMagic)) || memcmp(rgucMagic, OGP_MAGIC, sizeof(OGP_MAGIC)) != 0)
		return false;
	if (!Reader.ReadUInt8(&ucVersion) || ucVersion != OGP_VERSION)
		return false;
	if (!Reader.ReadUInt8(&m_ucType))
		return false;
	if (m_ucType != OGP_TYPE_INFO)
		return true;

	uint8_t ucIgnored = 0;
	if (!Reader.ReadUInt8(&m_ucFlags))
		return false;
	if ((m_ucFlags & OGP_REQUEST_INFO) && !Reader.ReadUInt8(&m_ucInfoMask))
		return false;
	if ((m_ucFlags & OGP_REQUEST_EXTRA) && !Reader.ReadUInt8(&ucIgnored))
		return false;
	if ((m_ucFlags & OGP_REQUEST_PLAYERS) && !Reader.ReadUInt8(&m_ucPlayerMask))
		return false;
	if ((m_ucPlayerMask & OGP_PLAYER_EXTRA) && !Reader.ReadUInt8(&ucIgnored))
		return false;
	return true;
}

uint32_t COGPRequest::GetKind() const
{
	// Every type but 1 gets the same header alone; for type 1 the answer follows the bits it reads of each field.
	if (m_ucType != OGP_TYPE_INFO)
		return 0;
	return 1u << 24 | static_cast<uint32_t>(m_ucFlags & 0x0F) << 16 | static_cast<uint32_t>(m_ucInfoMask & 0x7F) << 8 |
		(m_ucPlayerMask & (OGP_PLAYER_INDEX | OGP_PLAYER_NAME));
}

void COGPResponse::Write(const COGPRequest& Request, Packet* pAnswer) const
{
	CBinaryWriter Writer(pAnswer);
	Writer.WriteUInt16(0xFFFF);
	Writer.WriteUInt8(OGP_MAGIC, sizeof(OGP_MAGIC));
	Writer.WriteUInt8(OGP_VERSION);
	if (Request.m_ucType != OGP_TYPE_INFO)
	{
		Writer.WriteUInt8(OGP_ANSWER_TYPE);
		return;
	}
	Writer.WriteUInt8(OGP_ANSWER_TYPE + OGP_TYPE_INFO);
	Writer.WriteUInt8(m_ucGameId);
	Writer.WriteUInt8(Request.m_ucFlags & 0x0F);
	// The header and the info part take about a kilobyte at most, so the players' count byte still fits; the
	// players leave room for the rules' count byte.
	if (Request.m_ucFlags & OGP_REQUEST_INFO)
		WriteInfo(Writer, *this, Request.m_ucInfoMask);
	if (Request.m_ucFlags & OGP_REQUEST_EXTRA)
		Writer.WriteUInt8(0);
	if (Request.m_ucFlags & OGP_REQUEST_PLAYERS)
		WritePlayers(Writer, *this, Request.m_ucPlayerMask, (Request.m_ucFlags & OGP_REQUEST_RULES) ? 1 : 0, pAnswer);
	if (Request.m_ucFlags & OGP_REQUEST_RULES)
		WriteRules(Writer, *this, pAnswer);
}

bool COGPResponse::operator==(const COGPResponse& Other) const
{
	auto SamePlayer = [](const tPlayer& a, const tPlayer& b) {
		return a.m_ucIndex == b.m_ucIndex && a.m_Name == b.m_Name;
	};
	auto SameRule = [](const tRule& a, const tRule& b) { return a.m_Name == b.m_Name && a.m_Value == b.m_Value; };
	return m_ucGameId == Other.m_ucGameId && m_ProductName == Other.m_ProductName &&
		m_bPassword == Other.m_bPassword && m_ServerName == Other.m_ServerName && m_GameMode == Other.m_GameMode &&
		m_MapName == Other.m_MapName && m_ucPlayerCount == Other.m_ucPlayerCount &&
		m_ucMaxPlayers == Other.m_ucMaxPlayers &&
		std::equal(m_Players.begin(), m_Players.end(), Other.m_Players.begin(), Other.m_Players.end(), SamePlayer) &&
		std::equal(m_Rules.begin(), m_Rules.end(), Other.m_Rules.begin(), Other.m_Rules.end(), SameRule);
}

void CTokenBucket::Reset(uint64_t uiCapacity, uint64_t uiNowMs)
{
	m_uiMilliTokens = uiCapacity * MILLISECONDS_PER_SECOND;
	m_uiLastMs = uiNowMs;
}

uint64_t CTokenBucket::Refill(uint64_t uiPerSecond, uint64_t uiCapacity, uint64_t uiNowMs)
{
	// A token a second is a thousandth of a token a millisecond.
	const uint64_t uiFull = uiCapacity * MILLISECONDS_PER_SECOND;
	if (uiNowMs > m_uiLastMs)
	{
		// So long a pause fills a bucket of a token a second or more, and a shorter one keeps the product far
		// from overflowing.
		const uint64_t uiElapsed = uiNowMs - m_uiLastMs;
		m_uiMilliTokens = uiElapsed >= uiFull ? uiFull : std::min(uiFull, m_uiMilliTokens + uiElapsed * uiPerSecond);
		m_uiLastMs = uiNowMs;
	}
	return m_uiMilliTokens;
}

bool CTokenBucket::Take(uint64_t uiTokens, uint64_t uiPerSecond, uint64_t uiCapacity, uint64_t uiNowMs)
{
	const uint64_t uiWanted = uiTokens * MILLISECONDS_PER_SECOND;
	if (Refill(uiPerSecond, uiCapacity, uiNowMs) < uiWanted)
		return false;
	m_uiMilliTokens -= uiWanted;
	return true;
}

CQuerySources::tSource& CQuerySources::Find(uint32_t uiAddress, uint64_t uiNowMs)
{
	constexpr unsigned SET_BITS = 8;
	static_assert((static_cast<size_t>(1) << SET_BITS) * WAYS == OGP_SOURCE_SLOTS, "the table holds whole sets");
	// Fibonacci hashing: the top bits of the product depend on every byte of the address, so addresses that share
	// their first bytes (a network's) spread over the sets.
	const size_t Set = static_cast<size_t>((uiAddress * 2654435769u) >> (32 - SET_BITS));
	tSource* pWays = &m_rgSources[Set * WAYS];
	tSource* pVictim = nullptr;
	uint64_t uiVictimLevel = 0;
	for (size_t i = 0; i < WAYS; i++)
	{
		tSource& Source = pWays[i];
		if (Source.m_bUsed && Source.m_uiAddress == uiAddress)
			return Source;
		const uint64_t uiLevel = Source.m_bUsed ?
			Source.m_Answers.Refill(OGP_SOURCE_ANSWERS_PER_SECOND, OGP_SOURCE_ANSWER_BURST, uiNowMs) :
			UINT64_MAX;
		if (!pVictim || uiLevel > uiVictimLevel)
		{
			pVictim = &Source;
			uiVictimLevel = uiLevel;
		}
	}
	pVictim->m_uiAddress = uiAddress;
	pVictim->m_bUsed = true;
	pVictim->m_bReported = false;
	pVictim->m_Answers.Reset(OGP_SOURCE_ANSWER_BURST, uiNowMs);
	return *pVictim;
}

COmbrelGameProtocolHandler::COmbrelGameProtocolHandler(CBaseServer* pServer) : m_pServer(pServer)
{
	const uint64_t uiNow = OS::GetTicks();
	m_AnswerBytes.Reset(OGP_ANSWER_BYTES_PER_SECOND, uiNow);
	m_SourceReports.Reset(SOURCE_REPORTS_PER_SECOND, uiNow);
}

bool COmbrelGameProtocolHandler::ReceiveDatagram(CNetSocket* pSocket)
{
	size_t Length = 0;
	const uint8_t* pData = pSocket ? static_cast<const uint8_t*>(pSocket->GetData(Length)) : nullptr;
	if (!pData || Length < 2 || pData[0] != 0xFF || pData[1] != 0xFF)
		return false;

	COGPRequest Request;
	CIPAddress Sender;
	if (!Request.Read(pData, Length) || !pSocket->GetSender(Sender))
		return true;
	// Everything before the answer is found is cheap, so a flood costs little more than datagrams ENet drops.
	const uint64_t uiNow = OS::GetTicks();
	CQuerySources::tSource& Source = m_Sources.Find(Sender.m_uiIPv4, uiNow);
	if (!Source.m_Answers.Take(1, OGP_SOURCE_ANSWERS_PER_SECOND, OGP_SOURCE_ANSWER_BURST, uiNow))
	{
		ReportSource(Source, uiNow);
		return true;
	}
	Packet* pAnswer = FindAnswer(Request);
	if (!m_AnswerBytes.Take(pAnswer->GetSize(), OGP_ANSWER_BYTES_PER_SECOND, OGP_ANSWER_BYTES_PER_SECOND, uiNow))
	{
		ReportBudget();
		return true;
	}
	pSocket->Send(pAnswer);
	return true;
}

Packet* COmbrelGameProtocolHandler::FindAnswer(const COGPRequest& Request)
{
	const uint32_t uiKind = Request.GetKind();
	CLockable::CLock Lock(m_Lock);
	if (m_uiCacheSerial != m_uiResponseSerial)
	{
		for (tCachedAnswer& Cached : m_rgCache)
			Cached.m_pAnswer.Delete();
		m_uiCacheSerial = m_uiResponseSerial;
	}
	for (tCachedAnswer& Cached : m_rgCache)
	{
		if (!Cached.m_pAnswer.IsNull() && Cached.m_uiKind == uiKind)
			return Cached.m_pAnswer;
	}
	tCachedAnswer& Cached = m_rgCache[m_NextCacheSlot];
	m_NextCacheSlot = (m_NextCacheSlot + 1) % CACHED_ANSWERS;
	Cached.m_uiKind = uiKind;
	Cached.m_pAnswer = new Packet();
	m_Response.Write(Request, Cached.m_pAnswer);
	return Cached.m_pAnswer;
}

void COmbrelGameProtocolHandler::ReportSource(CQuerySources::tSource& Source, uint64_t uiNowMs)
{
	if (Source.m_bReported)
		return;
	CLockable::CLock Lock(m_Lock);
	// Not reported now, it is when it next asks too often and the log has room.
	if (m_uiPendingSource != 0 ||
		!m_SourceReports.Take(1, SOURCE_REPORTS_PER_SECOND, SOURCE_REPORTS_PER_SECOND, uiNowMs))
		return;
	m_uiPendingSource = Source.m_uiAddress;
	Source.m_bReported = true;
}

void COmbrelGameProtocolHandler::ReportBudget()
{
	if (m_bBudgetReported)
		return;
	CLockable::CLock Lock(m_Lock);
	m_bPendingBudget = true;
	m_bBudgetReported = true;
}

void COmbrelGameProtocolHandler::LogReports()
{
	uint32_t uiSource = 0;
	bool bBudget = false;
	{
		CLockable::CLock Lock(m_Lock);
		std::swap(uiSource, m_uiPendingSource);
		std::swap(bBudget, m_bPendingBudget);
	}
	Context* pContext = m_pServer->GetContext();
	if (uiSource != 0)
	{
		CIPAddress Address;
		Address.m_uiIPv4 = uiSource;
		char szAddress[64];
		if (Address.ToString(szAddress, sizeof(szAddress)))
			pContext->LogWarn("Too many queries from %s: it is answered at most %u times a second.", szAddress,
				OGP_SOURCE_ANSWERS_PER_SECOND);
	}
	if (bBudget)
		pContext->LogWarn("Query answers have reached their limit of %u bytes a second: answers beyond it are dropped.",
			OGP_ANSWER_BYTES_PER_SECOND);
}

void COmbrelGameProtocolHandler::UpdateResponse()
{
	const CBaseServer& Server = *m_pServer;
	COGPResponse& Next = m_NextResponse;
	Next.m_ucGameId = static_cast<uint8_t>(Server.m_iGameId);
	AssignCut(Next.m_ProductName, PRODUCT_NAME, OGP_MAX_TEXT_LENGTH);
	Next.m_bPassword = Server.m_ServerPassword.HasPassword();
	AssignCut(Next.m_ServerName, Server.m_szServerName, OGP_MAX_TEXT_LENGTH);
	AssignCut(Next.m_GameMode, Server.m_szGameMode, OGP_MAX_TEXT_LENGTH);
	AssignCut(Next.m_MapName, Server.m_szMapName, OGP_MAX_TEXT_LENGTH);
	Next.m_ucPlayerCount = static_cast<uint8_t>(Server.m_iPlayerCount);
	Next.m_ucMaxPlayers = static_cast<uint8_t>(Server.m_iMaxPlayers);

	size_t Players = 0;
	for (int32_t i : Server.m_Clients.ClientSlots(CLIENTS_CONNECTED))
	{
		if (Players == OGP_MAX_ENTRIES)
			break;
		const CNetMachine* pClient = Server.m_Clients.GetMachine(i);
		if (pClient->IsConsole())
			continue;
		if (Players == Next.m_Players.size())
			Next.m_Players.emplace_back();
		COGPResponse::tPlayer& Player = Next.m_Players[Players++];
		Player.m_ucIndex = static_cast<uint8_t>(i);
		AssignCut(Player.m_Name, pClient->GetName(), OGP_MAX_TEXT_LENGTH);
	}
	Next.m_Players.resize(Players);

	const size_t Rules = std::min(Server.m_Rules.size(), OGP_MAX_ENTRIES);
	Next.m_Rules.resize(Rules);
	for (size_t i = 0; i < Rules; i++)
	{
		AssignCut(Next.m_Rules[i].m_Name, Server.m_Rules[i].m_Name.c_str(), OGP_MAX_TEXT_LENGTH);
		AssignCut(Next.m_Rules[i].m_Value, Server.m_Rules[i].m_Value.c_str(), OGP_MAX_TEXT_LENGTH);
	}

	LogReports();
	// Answers already built stay good while nothing they tell has changed, which is most passes. Only this thread
	// writes m_Response, so it reads it without the lock.
	if (Next == m_Response)
		return;
	CLockable::CLock Lock(m_Lock);
	std::swap(m_Response, m_NextResponse);
	m_uiResponseSerial++;
}
