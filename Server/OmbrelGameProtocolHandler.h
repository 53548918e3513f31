#pragma once
// The answer to query datagrams on the game port: server browsers send connectionless UDP datagrams starting
// FF FF "OGP" 00 and learn the server's name, mode, players and rules. Such a datagram reaches the handler on
// whichever thread services the transport's host, so the answer is built from a snapshot that the main loop
// refreshes once a pass, never from the live server.
//
// The query lock guards the shared snapshot. It is taken after the server lock (the refresh, on the main thread)
// or after the transport's host lock (an answer); no other lock is ever taken while it is held.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

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

// One query as the datagram states it.
class COGPRequest
{
public:
	// False when the datagram is not a complete query of protocol version 1.
	bool Read(const void* pData, size_t Length);

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

class COmbrelGameProtocolHandler
{
public:
	explicit COmbrelGameProtocolHandler(CBaseServer* pServer);

	COmbrelGameProtocolHandler(const COmbrelGameProtocolHandler&) = delete;
	COmbrelGameProtocolHandler& operator=(const COmbrelGameProtocolHandler&) = delete;

	// True when the datagram was taken (the transport then ignores it): any datagram starting FF FF. Only a
	// well-formed query is answered, to its sender.
	bool ReceiveDatagram(CNetSocket* pSocket);
	// Copies what the answers tell from the server. The main loop calls it once a pass under the server lock.
	void UpdateResponse();

private:
	CBaseServer* m_pServer;
	CLockable m_Lock;
	// Shared with the thread that answers; guarded by m_Lock.
	COGPResponse m_Response;
	// Main thread only: filled outside the lock and then swapped with m_Response, so the lock is held for the
	// swap alone and the texts' storage is reused from pass to pass.
	COGPResponse m_NextResponse;
};
