#pragma once
// The small layer over libwebsockets that the HTTP file server and the WebSocket links share: listening and
// connecting contexts made the same way, the library's own logging kept off the console, and the record in which
// one library callback is handed on to whoever answers it.
//
// A context is used by one thread at a time: the thread that services it. Only Wake may be called from another
// thread.

#include <cstddef>
#include <cstdint>
#include <string>

struct lws;
struct lws_context;
struct lws_protocols;

// One callback of the library as it came: the connection, the reason (an lws_callback_reasons value), the
// connection's session record (tWebSession, or null for callbacks without a connection) and the bytes given.
struct tWebCallback
{
	lws* m_pConnection;
	int m_iReason;
	void* m_pSession;
	void* m_pIn;
	size_t m_Length;
};

// The per-connection record of every protocol of our contexts (the library allocates and zeroes it). A
// connection is either plain HTTP, answered by the file server's handler, or a WebSocket peer of a link.
struct tWebSession
{
	// The link's record of a WebSocket peer once its handshake completed, else null.
	void* m_pPeer;
	// What the HTTP handler still has to write on this connection (its own values).
	int m_iHttpAnswer;
};

namespace WebLayer
{
// Accepted connections and messages are serviced in chunks of this size; large files go out in pieces of it.
constexpr unsigned SERVICE_BUFFER_SIZE = 128 * 1024;

// The first address the host name (or numeric address) resolves to, in numeric form; iFlags are getaddrinfo's.
// Blocks for as long as the resolver takes. On failure the resolver's error code, when there is one, in *piError.
bool ResolveNumeric(const char* szHost, const char* szPort, int iFlags, std::string& Numeric, int* piError = nullptr);

// A context listening on the address (null or empty: every local address; a host name is resolved first) and the
// port, with the protocols (an array ended by an entry with a null name) and pUser as the context's user data.
// Null on failure, the reason then in the process's last-error text.
lws_context* CreateListener(const char* szAddress, uint16_t usPort, const lws_protocols* pProtocols, void* pUser);
// A context that only makes outgoing connections. A connection that has not reached the server within the time
// limit, or that waits longer than it for any step of its handshake, is closed by the library.
lws_context* CreateClient(const lws_protocols* pProtocols, void* pUser, unsigned uiTimeoutSeconds);
// Closes every connection (their close callbacks run here) and frees the context; null does nothing.
void Destroy(lws_context* pContext);

// Services whatever is ready and returns at once (links polled by the main loop).
void Poll(lws_context* pContext);
// What a Wait found that its caller must act on.
enum eWaitResult
{
	WAIT_SERVICED,
	// A listener could not accept a connection for lack of file descriptors (or of memory for one). The
	// connection stays queued and the listener ready, so a Wait right after would return at once: the caller
	// pauses first, and the connection is taken once descriptors free.
	WAIT_OUT_OF_DESCRIPTORS,
};

// Waits until something is ready or Wake is called, then services it (a context with a thread of its own).
eWaitResult Wait(lws_context* pContext);
// Ends the current or next Wait early; the one call that is safe from any thread.
void Wake(lws_context* pContext);

// The user data the context was made with.
void* GetContextUser(lws* pConnection);

// The answer of a callback nobody in particular handles: the library's default behaviour.
int DefaultAnswer(const tWebCallback& Callback);
}
