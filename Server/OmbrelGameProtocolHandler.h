#pragma once
// The answer to query datagrams on the game port: server browsers send connectionless UDP datagrams starting
// FF FF "OGP" 00 and learn the server's name, mode, players and rules. Such a datagram reaches the handler on
// whichever thread services the transport's host, so the answer is built from a snapshot that the main loop
// refreshes once a pass, never from the live server.
//
// An answer costs the thread that services the host a send, and can be thousands of times larger than the query;
// answered without limit, one party could stall the game with queries, or have the answers reflected onto the
// address its queries claim to come from. So every source address gets a few answers a second, all answers
// together a budget of bytes a second, and an answer is built once for each snapshot and kind of request.
//
// The query lock guards the shared snapshot, its serial and the limits waiting to be logged. It is taken after the
// server lock (the refresh, on the main thread) or after the transport's host lock (an answer); no other lock is
// ever taken while it is held.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Engine/KestrinReference.h"
#include "Engine/KestrinThreading.h"

class CBaseServer;
class CNetSocket;
class Packet;

enum eOGPRequestFlags : uint8_t
{
	OGP_REQUEST_INFO = 0x01,
	OGP_REQUEST_PLAYERS = 0x02,
	OGP_REQUEST_EXTRA = 0x04,
	OGP_REQUEST_RULES = 0x08,
};

// A query of type 1 names the parts it wants; every other type is answered with the header alone.
constexpr uint8_t OGP_TYPE_INFO = 1;

// The largest payload one UDP datagram over IPv4 can carry: no answer is ever longer.
constexpr size_t OGP_MAX_ANSWER_SIZE = 65507;

// A text in an answer is cut to this many bytes, at a character boundary, so that its length + 1 fits one byte.
constexpr size_t OGP_MAX_TEXT_LENGTH = 254;

// An answer lists at most this many players and rules: the count is one byte.
constexpr size_t OGP_MAX_ENTRIES = 255;

// Answers to one source address: this many at once, refilled at the rate. A server browser asks once a refresh.
constexpr uint32_t OGP_SOURCE_ANSWER_BURST = 8;
constexpr uint32_t OGP_SOURCE_ANSWERS_PER_SECOND = 4;
// Answer bytes to all sources together, a second's worth of them at once.
constexpr uint32_t OGP_ANSWER_BYTES_PER_SECOND = 1024 * 1024;
// Source addresses remembered; a flood from many addresses reuses these entries rather than growing the table.
constexpr size_t OGP_SOURCE_SLOTS = 1024;

// One query as the datagram states it.
class COGPRequest
{
public:
	// False when the datagram is not a complete query of protocol version 1.
	bool Read(const void* pData, size_t Length);
	// What the answer depends on besides the snapshot: equal kinds get the same answer.
	uint32_t GetKind() const;

	uint8_t m_ucType = 0;
	uint8_t m_ucFlags = 0;
	uint8_t m_ucInfoMask = 0;
	uint8_t m_ucPlayerMask = 0;
};

// What the answers tell, copied from the server: texts already cut for the answer, at most OGP_MAX_ENTRIES
// players and rules.
class COGPResponse
{
public:
	struct tPlayer
	{
		uint8_t m_ucIndex;
		std::string m_Name;
	};

	struct tRule
	{
		std::string m_Name;
		std::string m_Value;
	};

	// The answer to the request, appended to the packet; it never grows beyond OGP_MAX_ANSWER_SIZE, and each
	// count it writes is the number of entries that follow it.
	void Write(const COGPRequest& Request, Packet* pAnswer) const;
	bool operator==(const COGPResponse& Other) const;

	uint8_t m_ucGameId = 0;
	std::string m_ProductName;
	bool m_bPassword = false;
	std::string m_ServerName;
	std::string m_GameMode;
	std::string m_MapName;
	uint8_t m_ucPlayerCount = 0;
	uint8_t m_ucMaxPlayers = 0;
	std::vector<tPlayer> m_Players;
	std::vector<tRule> m_Rules;
};

// Tokens refilled at a steady rate up to a capacity, counted in thousandths so that a rate of a few a second still
// refills between two milliseconds. The rate and capacity are the caller's, so a table of buckets stores neither.
class CTokenBucket
{
public:
	// Full.
	void Reset(uint64_t uiCapacity, uint64_t uiNowMs);
	// Refills for the time since the last refill, then takes the tokens when that many are there.
	bool Take(uint64_t uiTokens, uint64_t uiPerSecond, uint64_t uiCapacity, uint64_t uiNowMs);
	// Thousandths of a token held after refilling.
	uint64_t Refill(uint64_t uiPerSecond, uint64_t uiCapacity, uint64_t uiNowMs);

private:
	uint64_t m_uiMilliTokens = 0;
	uint64_t m_uiLastMs = 0;
};

// The answer allowance of each source address (IPv4, network order) in a table of fixed size: a few ways per
// hash, and a new address takes the way whose allowance is fullest. A full allowance is what a new entry starts
// with, so forgetting it loses nothing, and addresses that ask once each cannot push out one that asks too often.
class CQuerySources
{
public:
	struct tSource
	{
		uint32_t m_uiAddress = 0;
		bool m_bUsed = false;
		// Its limit has been logged (or is waiting to be).
		bool m_bReported = false;
		CTokenBucket m_Answers;
	};

	// The source's entry, made when there is none.
	tSource& Find(uint32_t uiAddress, uint64_t uiNowMs);

private:
	static constexpr size_t WAYS = 4;
	tSource m_rgSources[OGP_SOURCE_SLOTS];
};

class COmbrelGameProtocolHandler
{
public:
	explicit COmbrelGameProtocolHandler(CBaseServer* pServer);

	COmbrelGameProtocolHandler(const COmbrelGameProtocolHandler&) = delete;
	COmbrelGameProtocolHandler& operator=(const COmbrelGameProtocolHandler&) = delete;

	// True when the datagram was taken (the transport then ignores it): any datagram starting FF FF. Only a
	// well-formed query within the limits is answered, to its sender; the rest are dropped without a word.
	bool ReceiveDatagram(CNetSocket* pSocket);
	// Copies what the answers tell from the server, and logs the limits that have bitten since the last call. The
	// main loop calls it once a pass under the server lock.
	void UpdateResponse();

private:
	struct tCachedAnswer
	{
		uint32_t m_uiKind = 0;
		AutoDelete<Packet> m_pAnswer;
	};

	// Kinds of request whose answers are kept; browsers ask one or two.
	static constexpr size_t CACHED_ANSWERS = 8;

	// The answer to the request from the current snapshot, built when the snapshot changed since it was built.
	Packet* FindAnswer(const COGPRequest& Request);
	void ReportSource(CQuerySources::tSource& Source, uint64_t uiNowMs);
	void ReportBudget();
	void LogReports();

	CBaseServer* m_pServer;
	CLockable m_Lock;
	// Shared with the thread that answers; guarded by m_Lock. The serial changes with the snapshot's content.
	COGPResponse m_Response;
	uint64_t m_uiResponseSerial = 0;
	// Limits that bit, for the main thread to log (guarded by m_Lock): one source address at a time, or 0.
	uint32_t m_uiPendingSource = 0;
	bool m_bPendingBudget = false;
	// Main thread only: filled outside the lock and, when it differs, swapped with m_Response, so the lock is held
	// for the swap alone and the texts' storage is reused from pass to pass.
	COGPResponse m_NextResponse;

	// Used only inside ReceiveDatagram, which the transport calls under its host lock, one datagram at a time.
	CQuerySources m_Sources;
	CTokenBucket m_AnswerBytes;
	bool m_bBudgetReported = false;
	// At most one source's limit is logged a second: a flood from many addresses must not flood the log.
	CTokenBucket m_SourceReports;
	tCachedAnswer m_rgCache[CACHED_ANSWERS];
	size_t m_NextCacheSlot = 0;
	uint64_t m_uiCacheSerial = 0;
};
