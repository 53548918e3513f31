#include "Network/WebConnection.h"

#include <arpa/inet.h>
#include <cstring>
#include <deque>
#include <mutex>
#include <netdb.h>
#include <pthread.h>

#include <libwebsockets.h>

#include "Engine/KError.h"
#include "Network/BinaryStream.h"

namespace
{
constexpr int DEFAULT_WEBSOCKET_PORT = 80;

// The outcome of resolving a client link's host name on a thread of its own. The thread keeps its own share, so
// a link stopped meanwhile simply forgets it.
struct tResolution
{
	std::mutex m_Lock;
	bool m_bDone = false;
	bool m_bResolved = false;
	std::string m_Host;
	std::string m_Port;
	std::string m_Address;
};

void* ResolveMain(void* pArgument)
{
	std::shared_ptr<tResolution> pResolution(std::move(*static_cast<std::shared_ptr<tResolution>*>(pArgument)));
	delete static_cast<std::shared_ptr<tResolution>*>(pArgument);

	std::string Address;
	const bool bResolved =
		WebLayer::ResolveNumeric(pResolution->m_Host.c_str(), pResolution->m_Port.c_str(), AI_NUMERICSERV, Address);

	std::lock_guard<std::mutex> Lock(pResolution->m_Lock);
	pResolution->m_bResolved = bResolved;
	pResolution->m_Address = Address;
	pResolution->m_bDone = true;
	return nullptr;
}

bool StartResolution(const std::shared_ptr<tResolution>& pResolution)
{
	pthread_attr_t Attributes;
	if (pthread_attr_init(&Attributes) != 0)
		return false;
	pthread_attr_setdetachstate(&Attributes, PTHREAD_CREATE_DETACHED);
	auto* pShare = new std::shared_ptr<tResolution>(pResolution);
	pthread_t Thread;
	const bool bStarted = pthread_create(&Thread, &Attributes, ResolveMain, pShare) == 0;
	pthread_attr_destroy(&Attributes);
	if (!bStarted)
		delete pShare;
	return bStarted;
}

bool IsNumericAddress(const char* szHost)
{
	unsigned char Buffer[sizeof(in6_addr)];
	return inet_pton(AF_INET, szHost, Buffer) == 1 || inet_pton(AF_INET6, szHost, Buffer) == 1;
}

bool IsHeaderNameCharacter(char c)
{
	return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

// "Name: value" lines, each ended by "\r\n" (or "\n"); empty lines are skipped.
bool ParseHeaderLines(const char* szText, std::vector<std::pair<std::string, std::string>>& Headers)
{
	if (!szText)
		return true;
	const std::string Text = szText;
	size_t Start = 0;
	while (Start < Text.size())
	{
		size_t End = Text.find('\n', Start);
		if (End == std::string::npos)
			End = Text.size();
		std::string Line = Text.substr(Start, End - Start);
		Start = End + 1;
		if (!Line.empty() && Line.back() == '\r')
			Line.pop_back();
		if (Line.empty())
			continue;
		const size_t Colon = Line.find(':');
		if (Colon == std::string::npos || Colon == 0)
			return false;
		for (size_t i = 0; i < Colon; i++)
		{
			if (!IsHeaderNameCharacter(Line[i]))
				return false;
		}
		if (Line.find('\r') != std::string::npos)
			return false;
		size_t ValueStart = Colon + 1;
		while (ValueStart < Line.size() && (Line[ValueStart] == ' ' || Line[ValueStart] == '\t'))
			ValueStart++;
		Headers.emplace_back(Line.substr(0, Colon + 1), Line.substr(ValueStart));
	}
	return true;
}
}

struct WebConnection::tPeer
{
	lws* m_pConnection = nullptr;
	uintptr_t m_uiData = 0;
	bool m_bClosing = false;
	// Closing once the queue has gone out, with this status and reason in the close frame.
	bool m_bCloseAfterOutput = false;
	uint16_t m_usCloseStatus = 0;
	std::string m_CloseReason;
	// The fragments of the message being received.
	std::vector<uint8_t> m_Message;
	// Frames waiting for the connection to take them, each with the library's headroom in front.
	std::deque<std::vector<uint8_t>> m_Queue;
	size_t m_QueuedBytes = 0;
};

struct WebConnection::tClient
{
	std::string m_Host;
	int m_iPort = DEFAULT_WEBSOCKET_PORT;
	std::string m_Path;
	// The Host and Origin headers: the host, with the port when it is not the default one.
	std::string m_HostHeader;
	std::vector<std::pair<std::string, std::string>> m_Headers;
	std::shared_ptr<tResolution> m_pResolution;
	lws* m_pConnection = nullptr;
	// Set while the library is asked to start the connection: a failure it reports from inside that call is the
	// caller's to report, not an event.
	bool m_bStarting = false;
	bool m_bFailedWhileStarting = false;
};

WebConnection::WebConnection() :
	m_pContext(nullptr),
	m_bPolling(false),
	m_bStopPending(false),
	m_bDestroying(false),
	m_uiHandshakeTimeout(HANDSHAKE_TIMEOUT_SECONDS)
{
}

WebConnection::~WebConnection()
{
	if (!m_bPolling)
		Destroy();
}

void WebConnection::SetProtocols(const char* szFirstName, const char* szSecondName)
{
	m_rgProtocolNames[0] = szFirstName;
	m_rgProtocolNames[1] = szSecondName ? szSecondName : "";
	m_pProtocols.reset(new lws_protocols[3]);
	memset(m_pProtocols.get(), 0, sizeof(lws_protocols) * 3);
	// A lambda of a member function may reach the private entry; the library wants its exact signature.
	lws_callback_function* pfnCallback = [](lws* pConnection, lws_callback_reasons eReason, void* pSession,
											 void* pIn, size_t Length) {
		return Callback(pConnection, eReason, pSession, pIn, Length);
	};
	for (size_t i = 0; i < 2; i++)
	{
		if (m_rgProtocolNames[i].empty())
			break;
		m_pProtocols[i].name = m_rgProtocolNames[i].c_str();
		m_pProtocols[i].callback = pfnCallback;
		m_pProtocols[i].per_session_data_size = sizeof(tWebSession);
	}
}

bool WebConnection::StartServer(uint16_t usPort, const char* szProtocol)
{
	if (m_pContext)
	{
		SetError("The link is running already");
		return false;
	}
	// Connections that ask for no sub-protocol, plain HTTP among them, take the first entry.
	SetProtocols("http", szProtocol && *szProtocol ? szProtocol : nullptr);
	m_pContext = WebLayer::CreateListener(nullptr, usPort, m_pProtocols.get(), this);
	if (!m_pContext)
	{
		StopServer();
		return false;
	}
	return true;
}

bool WebConnection::Connect(const char* szUrl, const char* szProtocol, const char* szExtraHeaders)
{
	if (m_pContext)
	{
		SetError("The link is running already");
		return false;
	}
	std::unique_ptr<tClient> pClient(new tClient());
	if (!ParseHeaderLines(szExtraHeaders, pClient->m_Headers))
	{
		SetError("Invalid handshake header lines");
		return false;
	}
	std::string Url = szUrl ? szUrl : "";
	const char* szScheme = nullptr;
	const char* szHost = nullptr;
	const char* szPath = nullptr;
	int iPort = 0;
	if (Url.empty() || lws_parse_uri(&Url[0], &szScheme, &szHost, &iPort, &szPath) || strcmp(szScheme, "ws") != 0 ||
		!*szHost || iPort <= 0 || iPort > 65535)
	{
		SetError("Invalid WebSocket URL: %s", szUrl ? szUrl : "");
		return false;
	}
	pClient->m_Host = szHost;
	pClient->m_iPort = iPort;
	// The path as the URL has it: the parser leaves out its first "/" but gives "/" for an empty path, so that
	// "ws://host/" would ask for "//".
	const std::string Original = szUrl;
	const size_t SchemeEnd = Original.find("://");
	const size_t PathStart = SchemeEnd == std::string::npos ? SchemeEnd : Original.find('/', SchemeEnd + 3);
	pClient->m_Path = PathStart == std::string::npos ? "/" : Original.substr(PathStart);
	// An IPv6 address keeps its brackets in the header, where a colon would otherwise start the port.
	pClient->m_HostHeader =
		pClient->m_Host.find(':') != std::string::npos ? "[" + pClient->m_Host + "]" : pClient->m_Host;
	if (iPort != DEFAULT_WEBSOCKET_PORT)
		pClient->m_HostHeader += ":" + std::to_string(iPort);

	SetProtocols(szProtocol && *szProtocol ? szProtocol : "default", nullptr);
	m_pContext = WebLayer::CreateClient(m_pProtocols.get(), this, m_uiHandshakeTimeout);
	if (!m_pContext)
	{
		StopServer();
		return false;
	}
	m_pClient = std::move(pClient);
	if (IsNumericAddress(m_pClient->m_Host.c_str()))
	{
		if (!StartConnect(m_pClient->m_Host.c_str()))
		{
			StopServer();
			return false;
		}
		return true;
	}
	// A blocking lookup would hold the main loop for as long as the resolver takes.
	m_pClient->m_pResolution = std::make_shared<tResolution>();
	m_pClient->m_pResolution->m_Host = m_pClient->m_Host;
	m_pClient->m_pResolution->m_Port = std::to_string(iPort);
	if (!StartResolution(m_pClient->m_pResolution))
	{
		SetError("Cannot start resolving %s", m_pClient->m_Host.c_str());
		StopServer();
		return false;
	}
	return true;
}

bool WebConnection::StartConnect(const char* szAddress)
{
	lws_client_connect_info Info;
	memset(&Info, 0, sizeof(Info));
	Info.context = m_pContext;
	Info.address = szAddress;
	Info.port = m_pClient->m_iPort;
	Info.path = m_pClient->m_Path.c_str();
	Info.host = m_pClient->m_HostHeader.c_str();
	Info.origin = m_pClient->m_HostHeader.c_str();
	Info.protocol = m_rgProtocolNames[0] == "default" ? nullptr : m_rgProtocolNames[0].c_str();
	Info.local_protocol_name = m_rgProtocolNames[0].c_str();
	Info.ietf_version_or_minus_one = -1;
	Info.pwsi = &m_pClient->m_pConnection;

	m_pClient->m_bStarting = true;
	m_pClient->m_bFailedWhileStarting = false;
	lws* pConnection = lws_client_connect_via_info(&Info);
	m_pClient->m_bStarting = false;
	if (!pConnection || m_pClient->m_bFailedWhileStarting)
	{
		SetError("Cannot connect to %s port %d", szAddress, m_pClient->m_iPort);
		return false;
	}
	return true;
}

void WebConnection::CheckResolution()
{
	if (!m_pClient || !m_pClient->m_pResolution)
		return;
	std::string Address;
	{
		std::lock_guard<std::mutex> Lock(m_pClient->m_pResolution->m_Lock);
		if (!m_pClient->m_pResolution->m_bDone)
			return;
		if (m_pClient->m_pResolution->m_bResolved)
			Address = m_pClient->m_pResolution->m_Address;
	}
	m_pClient->m_pResolution.reset();
	if (Address.empty() || !StartConnect(Address.c_str()))
		EventHandler(nullptr, tWebEvent{WEB_EVENT_CONNECT_FAILED, nullptr, 0, nullptr});
}

void WebConnection::UpdateNetwork()
{
	if (!m_pContext)
		return;
	m_bPolling = true;
	CheckResolution();
	if (!m_bStopPending)
		WebLayer::Poll(m_pContext);
	m_bPolling = false;
	if (m_bStopPending)
		Destroy();
}

void WebConnection::StopServer()
{
	if (m_bDestroying)
		return;
	if (m_bPolling)
	{
		m_bStopPending = true;
		return;
	}
	Destroy();
}

void WebConnection::Destroy()
{
	m_bStopPending = false;
	if (m_bDestroying)
		return;
	m_bDestroying = true;
	// The close callbacks of every handshaken connection run in here.
	WebLayer::Destroy(m_pContext);
	m_pContext = nullptr;
	m_Peers.clear();
	m_pClient.reset();
	m_bDestroying = false;
}

bool WebConnection::SendPacket(Packet* pPacket)
{
	if (!m_pContext || m_bDestroying || !pPacket)
		return false;
	// A peer over its output limit is closed by Queue; the list itself only changes in the close callback.
	for (const std::unique_ptr<tPeer>& pPeer : m_Peers)
		Queue(pPeer.get(), pPacket->GetData(), pPacket->GetSize());
	return true;
}

bool WebConnection::SendPacket(lws* pConnection, Packet* pPacket)
{
	if (!m_pContext || m_bDestroying || !pPacket)
		return false;
	tPeer* pPeer = FindPeer(pConnection);
	return pPeer && Queue(pPeer, pPacket->GetData(), pPacket->GetSize());
}

bool WebConnection::Queue(tPeer* pPeer, const uint8_t* pData, size_t Size)
{
	if (pPeer->m_bClosing)
		return false;
	if (pPeer->m_QueuedBytes + Size > MAX_QUEUED_BYTES)
	{
		CloseConnection(pPeer->m_pConnection);
		return false;
	}
	std::vector<uint8_t> Frame(LWS_PRE + Size);
	if (Size)
		memcpy(Frame.data() + LWS_PRE, pData, Size);
	pPeer->m_Queue.push_back(std::move(Frame));
	pPeer->m_QueuedBytes += Size;
	lws_callback_on_writable(pPeer->m_pConnection);
	return true;
}

bool WebConnection::SetConnectionData(lws* pConnection, uintptr_t uiValue)
{
	tPeer* pPeer = FindPeer(pConnection);
	if (!pPeer)
		return false;
	pPeer->m_uiData = uiValue;
	return true;
}

uintptr_t WebConnection::GetConnectionData(lws* pConnection) const
{
	const tPeer* pPeer = FindPeer(pConnection);
	return pPeer ? pPeer->m_uiData : 0;
}

void WebConnection::CloseConnection(lws* pConnection)
{
	tPeer* pPeer = FindPeer(pConnection);
	if (!pPeer || (pPeer->m_bClosing && !pPeer->m_bCloseAfterOutput) || m_bDestroying)
		return;
	pPeer->m_bClosing = true;
	pPeer->m_bCloseAfterOutput = false;
	// Closed by the library at its next service; the close callback then reports it.
	lws_set_timeout(pConnection, PENDING_TIMEOUT_USER_OK, LWS_TO_KILL_ASYNC);
}

void WebConnection::CloseConnectionAfterOutput(lws* pConnection, uint16_t usStatus, const char* szReason)
{
	// A close frame carries the two bytes of the status and at most 123 of reason.
	constexpr size_t MAX_CLOSE_REASON = 123;
	tPeer* pPeer = FindPeer(pConnection);
	if (!pPeer || pPeer->m_bClosing || m_bDestroying)
		return;
	pPeer->m_bClosing = true;
	pPeer->m_bCloseAfterOutput = true;
	pPeer->m_usCloseStatus = usStatus;
	pPeer->m_CloseReason = std::string(szReason ? szReason : "").substr(0, MAX_CLOSE_REASON);
	// The writeable callback sends what is queued and then closes.
	lws_callback_on_writable(pConnection);
	lws_set_timeout(pConnection, PENDING_TIMEOUT_USER_OK, CLOSE_AFTER_OUTPUT_SECONDS);
}

void WebConnection::PauseReceiving(lws* pConnection, bool bPause)
{
	if (!FindPeer(pConnection) || m_bDestroying)
		return;
	// Applied at once even from outside the connection's own callbacks.
	lws_rx_flow_control(pConnection, (bPause ? 0 : 1) | LWS_RXFLOW_REASON_FLAG_PROCESS_NOW);
}

std::string WebConnection::GetPeerAddress(lws* pConnection) const
{
	char szAddress[INET6_ADDRSTRLEN] = "";
	if (!FindPeer(pConnection) || !lws_get_peer_simple(pConnection, szAddress, sizeof(szAddress)))
		return std::string();
	// The listener takes IPv4 peers on an IPv6 socket; they are named as they know themselves.
	static const char s_szMapped[] = "::ffff:";
	const char* szIPv4 = szAddress + sizeof(s_szMapped) - 1;
	in_addr IPv4;
	if (strncmp(szAddress, s_szMapped, sizeof(s_szMapped) - 1) == 0 && inet_pton(AF_INET, szIPv4, &IPv4) == 1)
		return szIPv4;
	return szAddress;
}

WebConnection::tPeer* WebConnection::FindPeer(lws* pConnection) const
{
	if (!pConnection)
		return nullptr;
	for (const std::unique_ptr<tPeer>& pPeer : m_Peers)
	{
		if (pPeer->m_pConnection == pConnection)
			return pPeer.get();
	}
	return nullptr;
}

int WebConnection::Callback(lws* pConnection, int iReason, void* pSession, void* pIn, size_t Length)
{
	WebConnection* pLink = static_cast<WebConnection*>(WebLayer::GetContextUser(pConnection));
	const tWebCallback Call{pConnection, iReason, pSession, pIn, Length};
	if (!pLink)
		return WebLayer::DefaultAnswer(Call);
	return pLink->Dispatch(Call);
}

int WebConnection::Dispatch(const tWebCallback& Call)
{
	lws* pConnection = Call.m_pConnection;
	tWebSession* pSession = static_cast<tWebSession*>(Call.m_pSession);
	tPeer* pPeer = pSession ? static_cast<tPeer*>(pSession->m_pPeer) : nullptr;
	switch (Call.m_iReason)
	{
	case LWS_CALLBACK_FILTER_PROTOCOL_CONNECTION:
		return 0;
	case LWS_CALLBACK_ESTABLISHED:
	case LWS_CALLBACK_CLIENT_ESTABLISHED:
		return OnEstablished(pConnection, pSession);
	case LWS_CALLBACK_RECEIVE:
	case LWS_CALLBACK_CLIENT_RECEIVE:
		return OnReceive(pConnection, pPeer, Call.m_pIn, Call.m_Length);
	case LWS_CALLBACK_SERVER_WRITEABLE:
	case LWS_CALLBACK_CLIENT_WRITEABLE:
		return OnWriteable(pConnection, pPeer);
	case LWS_CALLBACK_CLOSED:
	case LWS_CALLBACK_CLIENT_CLOSED:
		OnClosed(pConnection, pSession);
		return 0;
	case LWS_CALLBACK_CLIENT_CONNECTION_ERROR:
		return OnConnectionError(pConnection);
	case LWS_CALLBACK_CLOSED_CLIENT_HTTP:
		// The library gives up on a handshake that takes too long by closing the connection, without a
		// connection error: for the link it is one all the same.
		if (m_pClient && m_pClient->m_pConnection == pConnection && !pPeer)
			return OnConnectionError(pConnection);
		return EventHandler(pConnection, tWebEvent{WEB_EVENT_HTTP, nullptr, 0, &Call});
	case LWS_CALLBACK_CLIENT_APPEND_HANDSHAKE_HEADER:
		return AppendHeaders(pConnection, Call.m_pIn, Call.m_Length);
	case LWS_CALLBACK_WS_PEER_INITIATED_CLOSE:
	case LWS_CALLBACK_RECEIVE_PONG:
	case LWS_CALLBACK_CLIENT_RECEIVE_PONG:
		return 0;
	default:
		return EventHandler(pConnection, tWebEvent{WEB_EVENT_HTTP, nullptr, 0, &Call});
	}
}

int WebConnection::OnEstablished(lws* pConnection, tWebSession* pSession)
{
	if (!pSession || m_bDestroying)
		return -1;
	std::unique_ptr<tPeer> pPeer(new tPeer());
	pPeer->m_pConnection = pConnection;
	pSession->m_pPeer = pPeer.get();
	m_Peers.push_back(std::move(pPeer));
	EventHandler(pConnection, tWebEvent{WEB_EVENT_HANDSHAKE_DONE, nullptr, 0, nullptr});
	return 0;
}

int WebConnection::OnReceive(lws* pConnection, tPeer* pPeer, const void* pIn, size_t Length)
{
	if (!pPeer || pPeer->m_bClosing)
		return 0;
	if (pPeer->m_Message.size() + Length > MAX_MESSAGE_SIZE)
	{
		static const char s_szReason[] = "message too large";
		lws_close_reason(pConnection, LWS_CLOSE_STATUS_MESSAGE_TOO_LARGE,
			reinterpret_cast<unsigned char*>(const_cast<char*>(s_szReason)), sizeof(s_szReason) - 1);
		pPeer->m_bClosing = true;
		return -1;
	}
	if (Length)
		pPeer->m_Message.insert(pPeer->m_Message.end(), static_cast<const uint8_t*>(pIn),
			static_cast<const uint8_t*>(pIn) + Length);
	if (!lws_is_final_fragment(pConnection) || lws_remaining_packet_payload(pConnection) != 0)
		return 0;
	// The handler may close this connection; the message is its own copy.
	std::vector<uint8_t> Message;
	Message.swap(pPeer->m_Message);
	EventHandler(pConnection, tWebEvent{WEB_EVENT_FRAME, Message.data(), Message.size(), nullptr});
	return 0;
}

int WebConnection::OnWriteable(lws* pConnection, tPeer* pPeer)
{
	if (!pPeer)
		return 0;
	if (pPeer->m_bClosing && !pPeer->m_bCloseAfterOutput)
		return -1;
	if (pPeer->m_Queue.empty())
	{
		if (!pPeer->m_bCloseAfterOutput)
			return 0;
		lws_close_reason(pConnection, static_cast<lws_close_status>(pPeer->m_usCloseStatus),
			reinterpret_cast<unsigned char*>(&pPeer->m_CloseReason[0]), pPeer->m_CloseReason.size());
		return -1;
	}
	std::vector<uint8_t> Frame = std::move(pPeer->m_Queue.front());
	pPeer->m_Queue.pop_front();
	const size_t Size = Frame.size() - LWS_PRE;
	pPeer->m_QueuedBytes -= Size;
	if (lws_write(pConnection, Frame.data() + LWS_PRE, Size, LWS_WRITE_BINARY) < static_cast<int>(Size))
		return -1;
	if (!pPeer->m_Queue.empty() || pPeer->m_bCloseAfterOutput)
		lws_callback_on_writable(pConnection);
	return 0;
}

void WebConnection::OnClosed(lws* pConnection, tWebSession* pSession)
{
	if (m_pClient && m_pClient->m_pConnection == pConnection)
		m_pClient->m_pConnection = nullptr;
	tPeer* pPeer = pSession ? static_cast<tPeer*>(pSession->m_pPeer) : nullptr;
	if (!pPeer)
		return;
	pSession->m_pPeer = nullptr;
	for (auto Iterator = m_Peers.begin(); Iterator != m_Peers.end(); ++Iterator)
	{
		if (Iterator->get() == pPeer)
		{
			m_Peers.erase(Iterator);
			break;
		}
	}
	EventHandler(pConnection, tWebEvent{WEB_EVENT_CLOSE, nullptr, 0, nullptr});
}

int WebConnection::OnConnectionError(lws* pConnection)
{
	if (!m_pClient)
		return 0;
	m_pClient->m_pConnection = nullptr;
	if (m_pClient->m_bStarting)
	{
		m_pClient->m_bFailedWhileStarting = true;
		return 0;
	}
	EventHandler(pConnection, tWebEvent{WEB_EVENT_CONNECT_FAILED, nullptr, 0, nullptr});
	return 0;
}

int WebConnection::AppendHeaders(lws* pConnection, void* pIn, size_t Length)
{
	if (!m_pClient || !pIn)
		return 0;
	unsigned char** pp = static_cast<unsigned char**>(pIn);
	unsigned char* pEnd = *pp + Length;
	for (const auto& Header : m_pClient->m_Headers)
	{
		if (lws_add_http_header_by_name(pConnection, reinterpret_cast<const unsigned char*>(Header.first.c_str()),
				reinterpret_cast<const unsigned char*>(Header.second.c_str()), static_cast<int>(Header.second.size()),
				pp, pEnd))
			return -1;
	}
	return 0;
}

int WebConnection::EventHandler(lws* pConnection, const tWebEvent& Event)
{
	switch (Event.m_eType)
	{
	case WEB_EVENT_HTTP:
		return Event.m_pCallback ? WebLayer::DefaultAnswer(*Event.m_pCallback) : 0;
	case WEB_EVENT_CONNECT_FAILED:
	case WEB_EVENT_CLOSE:
		OnPlayerDisconnect(pConnection);
		return 0;
	case WEB_EVENT_HANDSHAKE_DONE:
		OnPlayerConnect(pConnection);
		return 0;
	case WEB_EVENT_FRAME:
		ReadFramedPacket(pConnection, Event.m_pData, Event.m_Size);
		return 0;
	}
	return 0;
}

void WebConnection::ReadFramedPacket(lws* pConnection, const uint8_t* pData, size_t Size)
{
	Strong<Stream> pStream = Strong<Stream>::New(new CMemoryStream(pData, Size));
	CBinaryReader Reader(pStream);
	uint8_t ucLead = 0;
	uint32_t uiMagic = 0;
	uint32_t uiId = 0;
	if (!Reader.ReadUInt8(&ucLead) || ucLead != INCOMING_LEAD_BYTE || !Reader.ReadUInt32(&uiMagic) ||
		uiMagic != PACKET_MAGIC || !Reader.ReadUInt32(&uiId))
		return;
	ProcessPacket(pConnection, uiId, pStream);
}

void WebConnection::ProcessPacket(lws* /*pConnection*/, unsigned /*uiId*/, Stream* /*pStream*/) {}
void WebConnection::OnPlayerConnect(lws* /*pConnection*/) {}
void WebConnection::OnPlayerDisconnect(lws* /*pConnection*/) {}
