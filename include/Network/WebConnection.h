#pragma once
// The common base of the server's WebSocket links (the remote console, a server, and the server-listing link, a
// client). It owns one context of the web layer, turns the library's callbacks into five events for its one
// handler, reassembles incoming messages, queues outgoing binary frames per connection, is polled from the main
// loop, and can be stopped even from inside its own handler.
//
// Main thread only: the context is made, polled, used for sending and freed there.
//
// Messages of a link, unless a derived link reads its own: incoming ones are the byte 0x86, the message header
// (magic and id) and the fields; outgoing ones are exactly the bytes of the given Packet.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Engine/KestrinStream.h"
#include "Network/Packet.h"
#include "Network/WebLayer.h"

struct lws;
struct lws_context;
struct lws_protocols;

enum eWebEvent
{
	// A callback of a plain HTTP connection (or of the context itself): Event.m_pCallback; the handler's result is
	// the library's.
	WEB_EVENT_HTTP,
	// An outgoing connection could not be made (its connection may be null: the host did not resolve).
	WEB_EVENT_CONNECT_FAILED,
	// A WebSocket handshake completed; from now on the connection takes frames.
	WEB_EVENT_HANDSHAKE_DONE,
	// One whole incoming message: Event.m_pData, Event.m_Size.
	WEB_EVENT_FRAME,
	// A connection whose handshake had completed has ended.
	WEB_EVENT_CLOSE,
};

struct tWebEvent
{
	eWebEvent m_eType;
	const uint8_t* m_pData;
	size_t m_Size;
	const tWebCallback* m_pCallback;
};

class WebConnection
{
public:
	enum
	{
		// The first byte of every incoming message of the base framing.
		INCOMING_LEAD_BYTE = 0x86,
		// A longer incoming message closes its connection.
		MAX_MESSAGE_SIZE = 64 * 1024,
		// A connection that lets this much output pile up without reading it is closed.
		MAX_QUEUED_BYTES = 8 * 1024 * 1024,
		// An outgoing connection that has not reached its server, or whose server has not answered a step of the
		// handshake, within this many seconds fails as a connection that could not be made.
		HANDSHAKE_TIMEOUT_SECONDS = 30,
		// A connection asked to close once its output has gone is closed after this long even if it never reads.
		CLOSE_AFTER_OUTPUT_SECONDS = 5,
	};

	WebConnection();
	// Frees the context unless a poll of it is running (a link destroyed from inside its own handler).
	virtual ~WebConnection();

	WebConnection(const WebConnection&) = delete;
	WebConnection& operator=(const WebConnection&) = delete;

	// Listens on every local address at the port. WebSocket clients may ask for the sub-protocol (null: none) or
	// for none; plain HTTP requests reach the handler as WEB_EVENT_HTTP. False when running already or when the
	// listener cannot be made (the reason in the last-error text), the link then stopped.
	bool StartServer(uint16_t usPort, const char* szProtocol = nullptr);
	// Opens a WebSocket client connection to a "ws://host[:port][/path]" URL with the sub-protocol and the extra
	// handshake header lines ("Name: value\r\n" each, may be null). A host name is resolved off the main thread;
	// the outcome arrives as an event of a later poll. False when running already, for a URL or header text that
	// cannot be used, or when the connection cannot be started; the link is then stopped.
	bool Connect(const char* szUrl, const char* szProtocol, const char* szExtraHeaders = nullptr);
	// The handshake time limit of the connections Connect opens from now on (0: the library's own).
	void SetHandshakeTimeout(unsigned uiSeconds) { m_uiHandshakeTimeout = uiSeconds; }

	// Queues the packet's bytes as one binary frame to every connection whose handshake completed. False when the
	// link is stopped.
	bool SendPacket(Packet* pPacket);
	// The same to one such connection; false as well when it is not one of this link's.
	bool SendPacket(lws* pConnection, Packet* pPacket);
	// Services the context once without waiting; a StopServer made meanwhile takes effect when it returns.
	void UpdateNetwork();
	// Closes every connection and frees the context; during a poll only marks the link to be stopped after it.
	void StopServer();
	bool IsRunning() const { return m_pContext != nullptr; }

	// A word of the link's own for each handshaken connection, 0 at first; false when the connection is unknown.
	bool SetConnectionData(lws* pConnection, uintptr_t uiValue);
	uintptr_t GetConnectionData(lws* pConnection) const;
	// Ends one connection soon (at the next poll at the latest).
	void CloseConnection(lws* pConnection);
	// Ends one connection once the frames queued for it have gone out, with the WebSocket close status and reason
	// (cut to what a close frame holds); nothing more is queued or received on it meanwhile.
	void CloseConnectionAfterOutput(lws* pConnection, uint16_t usStatus, const char* szReason);
	// Stops taking messages from one connection, or takes them again: while paused, what it sends waits in the
	// socket and the library's buffer.
	void PauseReceiving(lws* pConnection, bool bPause);
	// The peer's numeric address ("" when unknown).
	std::string GetPeerAddress(lws* pConnection) const;
	// The connections whose handshake has completed and that have not closed.
	size_t GetConnectionCount() const { return m_Peers.size(); }

protected:
	// The routing of every event: CONNECT_FAILED and CLOSE to OnPlayerDisconnect, HANDSHAKE_DONE to
	// OnPlayerConnect, FRAME through the base framing to ProcessPacket (anything else is dropped), HTTP to the
	// library's default answer.
	virtual int EventHandler(lws* pConnection, const tWebEvent& Event);
	// The stream is at the fields after the header.
	virtual void ProcessPacket(lws* pConnection, unsigned uiId, Stream* pStream);
	virtual void OnPlayerConnect(lws* pConnection);
	virtual void OnPlayerDisconnect(lws* pConnection);

private:
	struct tPeer;
	struct tClient;

	static int Callback(lws* pConnection, int iReason, void* pSession, void* pIn, size_t Length);
	int Dispatch(const tWebCallback& Callback);
	int OnEstablished(lws* pConnection, tWebSession* pSession);
	int OnReceive(lws* pConnection, tPeer* pPeer, const void* pIn, size_t Length);
	int OnWriteable(lws* pConnection, tPeer* pPeer);
	void OnClosed(lws* pConnection, tWebSession* pSession);
	int OnConnectionError(lws* pConnection);
	int AppendHeaders(lws* pConnection, void* pIn, size_t Length);
	void ReadFramedPacket(lws* pConnection, const uint8_t* pData, size_t Size);

	void SetProtocols(const char* szFirstName, const char* szSecondName);
	bool StartConnect(const char* szAddress);
	void CheckResolution();
	void Destroy();
	tPeer* FindPeer(lws* pConnection) const;
	bool Queue(tPeer* pPeer, const uint8_t* pData, size_t Size);

	lws_context* m_pContext;
	// The protocol table of the context and the names it points to: the library keeps pointers into both while
	// the context lives.
	std::unique_ptr<lws_protocols[]> m_pProtocols;
	std::string m_rgProtocolNames[2];
	bool m_bPolling;
	bool m_bStopPending;
	bool m_bDestroying;
	unsigned m_uiHandshakeTimeout;
	std::vector<std::unique_ptr<tPeer>> m_Peers;
	// What a client link connects to, kept while the link runs (the handshake headers are added from it).
	std::unique_ptr<tClient> m_pClient;
};
