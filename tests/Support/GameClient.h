#pragma once
// A test client that speaks the join handshake like a game client: the join request, the client file check
// answer, the ready message and the client's own disconnect message, and readers for what the server sends
// about clients and elements. It keeps its own reading of every layout, independent of the server's code.

#include <array>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "Support/TestClient.h"

namespace VexaTest
{
// Message ids of the connection, the join, the elements and the client messages tests send or await.
enum eGameClientMessage : uint32_t
{
	MSG_JOIN_REQUEST = 1,
	MSG_JOIN_INFO = 2,
	MSG_READY = 3,
	MSG_SYNC = 4,
	MSG_OWN_PLAYER = 5,
	MSG_CHAT = 6,
	MSG_COMMAND = 7,
	MSG_RESOURCES_STARTED = 9,
	MSG_RESOURCE_STOPPED = 10,
	MSG_NETWORK_EVENT = 11,
	MSG_CREATE = 12,
	MSG_DESTROY = 13,
	MSG_SYNCER = 14,
	MSG_JOINED = 15,
	MSG_DISCONNECT = 17,
	MSG_GAME_MODE = 18,
	MSG_CLIENT_LIST = 20,
	MSG_CLIENT_JOINED = 21,
	MSG_CLIENT_LEFT = 22,
	MSG_KEY = 29,
	MSG_SERVER_NAME = 31,
	MSG_CLIENT_VARIABLES = 32,
	MSG_SYNCER_REQUEST = 33,
	MSG_ELEMENT_STREAMING = 35,
	MSG_CLOCK = 103,
	MSG_WEATHER = 104,
	MSG_VEHICLE_ACTION = 106,
	MSG_TIMER = 109,
	MSG_SSV_BRIDGE = 110,
	MSG_MINUTE_DURATION = 130,
	MSG_QUICK_MATCH = 135,
	MSG_FILE_CHECK = 149,
};

constexpr uint32_t NETWORK_VERSION = 28;

// The fields of a join request; a request can be cut short to test what a server does with one that ends early.
struct tJoinRequest
{
	uint32_t m_uiNetworkVersion = NETWORK_VERSION;
	std::array<uint32_t, 4> m_Version = {1, 0, 0, 0};
	std::string m_Password;
	std::string m_Name = "Player";
	// The name's length field; -1 sends the name's own length.
	int m_iNameLength = -1;
	uint8_t m_ucGame = 1;
	uint8_t m_ucGameVersion = 0;
	// Bytes after the header to keep; -1 keeps the whole request.
	int m_iCutAfter = -1;

	CTestMessage Build() const;
};

struct tJoinInfo
{
	int32_t m_iIndex = -1;
	uint16_t m_usHttpPort = 0;
	std::string m_HttpUrl;
	uint16_t m_usSyncInterval = 0;
	uint8_t m_ucReserved = 0;
	uint8_t m_ucSyncMethod = 0;
};

// The block that describes a client to others.
struct tClientBlock
{
	uint8_t m_ucFlags = 0;
	uint8_t m_ucGame = 0;
	uint8_t m_ucGameVersion = 0;
	int32_t m_iPlayer = -1;
	std::string m_Name;
	uint16_t m_usDataCount = 0;
};

// One element of a create or sync message: its type, its id and the bytes of its blocks.
struct tElementEntry
{
	int32_t m_iType = 0;
	int32_t m_iId = -1;
	std::vector<uint8_t> m_Block;
};

// A file digest as the file check answer carries it: the 16 bytes as four little-endian words.
typedef std::array<uint32_t, 4> tDigest;

// Readers of the server's messages; each fails when the body does not hold the whole layout.
bool ReadJoinInfo(const tReceivedMessage& Message, tJoinInfo& Info);
// Only blocks without client data are understood.
bool ReadClientBlock(CTestMessageReader& Reader, tClientBlock& Block);
// Message 20: the maximum players and each listed client by index.
bool ReadClientList(const tReceivedMessage& Message, uint16_t& usMaxPlayers, std::map<uint32_t, tClientBlock>& Clients);
// Message 21: the index and block of the client that joined.
bool ReadClientJoined(const tReceivedMessage& Message, uint32_t& uiIndex, tClientBlock& Block);
bool ReadClientLeft(const tReceivedMessage& Message, uint32_t& uiIndex);
bool ReadFileCheckRequest(const tReceivedMessage& Message, std::vector<std::string>& Paths);
// Messages 12 and 4: a count, then {uint16 length, int32 type, int32 id, blocks} entries.
bool ReadElementEntries(const tReceivedMessage& Message, std::vector<tElementEntry>& Entries);
// Message 13: a count, then the ids.
bool ReadElementIds(const tReceivedMessage& Message, std::vector<int32_t>& Ids);
// The bodies of the messages with the id among those given, in order.
std::vector<std::vector<uint8_t>> BodiesOf(const std::vector<tReceivedMessage>& Messages, uint32_t uiId);
// Message 4 as a client sends it.
CTestMessage MakeSyncMessage(const std::vector<tElementEntry>& Entries);

class CGameClient : public CTestClient
{
public:
	CGameClient() = default;

	bool SendJoinRequest(const tJoinRequest& Request);
	// The join information; false when it does not come (a refused client is disconnected instead).
	bool WaitForJoinInfo(tJoinInfo& Info, int iTimeoutMs = DEFAULT_TIMEOUT_MS);
	bool WaitForFileCheckRequest(std::vector<std::string>& Paths, int iTimeoutMs = DEFAULT_TIMEOUT_MS);
	bool SendFileCheckAnswer(const std::vector<tDigest>& Digests);
	bool SendReady();
	// Message 17; without a reason the message is empty.
	bool SendDisconnect(const uint32_t* puiReason = nullptr);
	// Message 4 on the sync channel. Game clients send it unreliably, but a test must not hang on a datagram that
	// ENet's throttle drops on a busy machine: the server reads a sync the same however it travelled.
	bool SendSync(const std::vector<tElementEntry>& Entries);

	// Connects, joins with the request, answers the file check with the digests and reports ready; true once the
	// server said the client has joined (message 15). Messages received on the way stay queued.
	bool Join(uint16_t usPort, const tJoinRequest& Request, const std::vector<tDigest>& Digests = {},
		int iTimeoutMs = DEFAULT_TIMEOUT_MS);
	int32_t GetIndex() const { return m_iIndex; }

	// Applies every queued create and destroy message, in arrival order, to the set of elements this client has.
	// Every message taken this way (element messages too) is kept, in order, for TakeMessages.
	void ApplyElementMessages();
	// Services the connection until the element is (or is no longer) created on this client.
	bool WaitForElement(int32_t iId, bool bCreated, int iTimeoutMs = DEFAULT_TIMEOUT_MS);
	bool HasElement(int32_t iId) const { return m_Elements.count(iId) != 0; }
	const std::set<int32_t>& GetElements() const { return m_Elements; }
	// The newest create block received for the element.
	const std::vector<uint8_t>* GetCreateBlock(int32_t iId) const;
	std::vector<tReceivedMessage> TakeMessages();

private:
	int32_t m_iIndex = -1;
	std::set<int32_t> m_Elements;
	std::map<int32_t, std::vector<uint8_t>> m_CreateBlocks;
	std::vector<tReceivedMessage> m_Taken;
};

// The sender syncs the entries until the receiver gets a sync holding an entry for the first entry's element (then
// in Relayed); false when none came in time. The server relays syncs unreliably, so one its ENet drops on a busy
// machine is sent again, as a game client keeps syncing.
bool SyncUntilRelayed(CGameClient& Sender, CGameClient& Receiver, const std::vector<tElementEntry>& Entries,
	tElementEntry& Relayed, int iTimeoutMs = DEFAULT_TIMEOUT_MS);
}
