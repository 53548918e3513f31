#include "Network/WebLayer.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

#include <libwebsockets.h>

#include "Engine/KError.h"

namespace WebLayer
{
namespace
{
// Where the library's error lines go while this thread makes a context; elsewhere they are dropped, since only
// the main thread logs and the reasons that matter are reported through the last-error text.
thread_local std::string* t_pLibraryErrors = nullptr;

void EmitLibraryLog(int /*iLevel*/, const char* szLine)
{
	if (!t_pLibraryErrors || !szLine)
		return;
	std::string Line = szLine;
	while (!Line.empty() && (Line.back() == '\n' || Line.back() == '\r'))
		Line.pop_back();
	if (!t_pLibraryErrors->empty())
		*t_pLibraryErrors += "; ";
	*t_pLibraryErrors += Line;
}

void QuietLibraryLog()
{
	static std::once_flag s_Once;
	std::call_once(s_Once, [] { lws_set_log_level(LLL_ERR, EmitLibraryLog); });
}

class CLibraryErrorCapture
{
public:
	CLibraryErrorCapture() { t_pLibraryErrors = &m_Text; }
	~CLibraryErrorCapture() { t_pLibraryErrors = nullptr; }

	CLibraryErrorCapture(const CLibraryErrorCapture&) = delete;
	CLibraryErrorCapture& operator=(const CLibraryErrorCapture&) = delete;

	const char* GetText() const { return m_Text.empty() ? "unknown reason" : m_Text.c_str(); }

private:
	std::string m_Text;
};

// The library tells of an accept that failed only in an error line of its log ("accept: errno 24"), and then
// leaves the connection queued and the listener ready. The errors that last until descriptors (or memory) free.
bool IsOutOfDescriptors(const char* szLibraryErrors)
{
	static const char s_szAcceptFailed[] = "accept: errno ";
	for (const char* p = strstr(szLibraryErrors, s_szAcceptFailed); p; p = strstr(p + 1, s_szAcceptFailed))
	{
		const int iError = atoi(p + sizeof(s_szAcceptFailed) - 1);
		if (iError == EMFILE || iError == ENFILE || iError == ENOBUFS || iError == ENOMEM)
			return true;
	}
	return false;
}

// The numeric form of a listening address, which is what the library binds to.
bool ResolveListenAddress(const char* szAddress, std::string& Numeric)
{
	int iError = 0;
	if (ResolveNumeric(szAddress, nullptr, AI_PASSIVE, Numeric, &iError))
		return true;
	SetError("Cannot resolve the address %s: %s", szAddress, gai_strerror(iError));
	return false;
}

// The library treats an address that is not (yet) local as one to retry later and reports success; a bind of our
// own first turns that, a port in use and a missing permission into a clear reason.
bool ProbeListen(const std::string& Numeric, uint16_t usPort)
{
	addrinfo Hints{};
	Hints.ai_family = AF_UNSPEC;
	Hints.ai_socktype = SOCK_STREAM;
	Hints.ai_flags = AI_PASSIVE | AI_NUMERICHOST | AI_NUMERICSERV;
	addrinfo* pResults = nullptr;
	const std::string Port = std::to_string(usPort);
	if (getaddrinfo(Numeric.empty() ? nullptr : Numeric.c_str(), Port.c_str(), &Hints, &pResults) != 0 || !pResults)
	{
		SetError("Cannot listen on %s port %hu", Numeric.empty() ? "every address" : Numeric.c_str(), usPort);
		return false;
	}
	int iSocket = socket(pResults->ai_family, pResults->ai_socktype | SOCK_CLOEXEC, pResults->ai_protocol);
	int iError = iSocket < 0 ? errno : 0;
	if (iSocket >= 0)
	{
		// As the library's own listener does, so a port left in TIME_WAIT by an earlier run is no failure.
		const int iOn = 1;
		setsockopt(iSocket, SOL_SOCKET, SO_REUSEADDR, &iOn, sizeof(iOn));
		if (bind(iSocket, pResults->ai_addr, pResults->ai_addrlen) != 0 || listen(iSocket, 1) != 0)
			iError = errno;
		close(iSocket);
	}
	freeaddrinfo(pResults);
	if (iError != 0)
	{
		SetError("Cannot listen on %s port %hu: %s", Numeric.empty() ? "every address" : Numeric.c_str(), usPort,
			strerror(iError));
		return false;
	}
	return true;
}

lws_context* CreateContext(lws_context_creation_info& Info)
{
	QuietLibraryLog();
	CLibraryErrorCapture Errors;
	lws_context* pContext = lws_create_context(&Info);
	if (!pContext)
		SetError("The network library failed: %s", Errors.GetText());
	return pContext;
}
}

bool ResolveNumeric(const char* szHost, const char* szPort, int iFlags, std::string& Numeric, int* piError)
{
	addrinfo Hints{};
	Hints.ai_family = AF_UNSPEC;
	Hints.ai_socktype = SOCK_STREAM;
	Hints.ai_flags = iFlags;
	addrinfo* pResults = nullptr;
	int iError = getaddrinfo(szHost, szPort, &Hints, &pResults);
	char szNumeric[NI_MAXHOST];
	if (iError == 0 && pResults)
		iError = getnameinfo(pResults->ai_addr, pResults->ai_addrlen, szNumeric, sizeof(szNumeric), nullptr, 0,
			NI_NUMERICHOST);
	const bool bResolved = iError == 0 && pResults;
	if (pResults)
		freeaddrinfo(pResults);
	if (piError)
		*piError = iError;
	if (bResolved)
		Numeric = szNumeric;
	return bResolved;
}

lws_context* CreateListener(const char* szAddress, uint16_t usPort, const lws_protocols* pProtocols, void* pUser)
{
	std::string Numeric;
	if (szAddress && *szAddress && !ResolveListenAddress(szAddress, Numeric))
		return nullptr;
	if (!ProbeListen(Numeric, usPort))
		return nullptr;

	lws_context_creation_info Info;
	memset(&Info, 0, sizeof(Info));
	Info.port = usPort;
	Info.iface = Numeric.empty() ? nullptr : Numeric.c_str();
	Info.protocols = pProtocols;
	Info.user = pUser;
	Info.options = LWS_SERVER_OPTION_FAIL_UPON_UNABLE_TO_BIND;
	Info.pt_serv_buf_size = SERVICE_BUFFER_SIZE;
	// Browsers and download tools send more than the library's default of 1 KiB of request headers.
	Info.max_http_header_data = 4096;
	return CreateContext(Info);
}

lws_context* CreateClient(const lws_protocols* pProtocols, void* pUser, unsigned uiTimeoutSeconds)
{
	lws_context_creation_info Info;
	memset(&Info, 0, sizeof(Info));
	Info.port = CONTEXT_PORT_NO_LISTEN;
	Info.protocols = pProtocols;
	Info.user = pUser;
	Info.connect_timeout_secs = uiTimeoutSeconds;
	Info.timeout_secs = uiTimeoutSeconds;
	Info.pt_serv_buf_size = SERVICE_BUFFER_SIZE;
	return CreateContext(Info);
}

void Destroy(lws_context* pContext)
{
	if (pContext)
		lws_context_destroy(pContext);
}

void Poll(lws_context* pContext)
{
	// A negative time-out makes the library's poll return at once.
	if (pContext)
		lws_service(pContext, -1);
}

eWaitResult Wait(lws_context* pContext)
{
	if (!pContext)
		return WAIT_SERVICED;
	CLibraryErrorCapture Errors;
	// Zero lets the library sleep until its next event or timer, or until Wake.
	lws_service(pContext, 0);
	return IsOutOfDescriptors(Errors.GetText()) ? WAIT_OUT_OF_DESCRIPTORS : WAIT_SERVICED;
}

void Wake(lws_context* pContext)
{
	if (pContext)
		lws_cancel_service(pContext);
}

void* GetContextUser(lws* pConnection)
{
	lws_context* pContext = pConnection ? lws_get_context(pConnection) : nullptr;
	return pContext ? lws_context_user(pContext) : nullptr;
}

int DefaultAnswer(const tWebCallback& Callback)
{
	return lws_callback_http_dummy(Callback.m_pConnection, static_cast<lws_callback_reasons>(Callback.m_iReason),
		Callback.m_pSession, Callback.m_pIn, Callback.m_Length);
}
}
