#include "Network/HttpServer.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <libwebsockets.h>

#include "Engine/Context.h"
#include "Engine/KError.h"

namespace
{
// What a connection's session still has to write (tWebSession::m_iHttpAnswer).
enum eHttpAnswer : int
{
	HTTP_ANSWER_NONE = 0,
	// The "/sig" headers are out; the body follows when the connection can take it.
	HTTP_ANSWER_SIGNATURE = 1,
	// The same for HEAD: nothing follows the headers.
	HTTP_ANSWER_SIGNATURE_HEAD = 2,
	// A request of a refused method whose body is still arriving; the refusal goes out once it has.
	HTTP_ANSWER_REFUSED_METHOD = 3,
};

const char SIGNATURE_PATH[] = "/sig";
const char SIGNATURE_BODY[] = "DODI";
const char DEFAULT_CONTENT_TYPE[] = "application/octet-stream";
// Longer request paths are refused before any file-system call.
constexpr size_t MAX_REQUEST_PATH = 1024;
// While connections cannot be accepted for lack of descriptors, the thread services its connections this often
// instead of spinning on the listener, which stays ready; it sleeps in slices so that a stop is seen soon.
constexpr useconds_t ACCEPT_RETRY_US = 100000;
constexpr useconds_t ACCEPT_RETRY_SLICE_US = 10000;

std::mutex g_DocumentRootLock;
std::string g_DocumentRoot;

int FileServerCallback(lws* pConnection, lws_callback_reasons eReason, void* pSession, void* pIn, size_t Length)
{
	// The file server speaks plain HTTP only.
	if (eReason == LWS_CALLBACK_FILTER_PROTOCOL_CONNECTION)
		return -1;
	return CHttpServer::HTTPHandler(tWebCallback{pConnection, eReason, pSession, pIn, Length});
}

const lws_protocols g_FileServerProtocols[] = {
	{"http", FileServerCallback, sizeof(tWebSession), 0, 0, nullptr, 0},
	{nullptr, nullptr, 0, 0, 0, nullptr, 0},
};

// After a complete answer: wait for the next request on the connection, or close it when the client asked.
int CompleteTransaction(lws* pConnection)
{
	return lws_http_transaction_completed(pConnection) ? -1 : 0;
}

int AnswerStatus(lws* pConnection, unsigned uiStatus)
{
	if (lws_return_http_status(pConnection, uiStatus, nullptr))
		return -1;
	return CompleteTransaction(pConnection);
}

int AnswerSignature(lws* pConnection, tWebSession* pSession, bool bHead)
{
	unsigned char Buffer[LWS_PRE + 512];
	unsigned char* pStart = Buffer + LWS_PRE;
	unsigned char* p = pStart;
	unsigned char* pEnd = Buffer + sizeof(Buffer);
	static const char s_szContentType[] = "text/html";
	static const char s_szConnection[] = "close";
	if (lws_add_http_header_status(pConnection, HTTP_STATUS_OK, &p, pEnd) ||
		lws_add_http_header_by_token(pConnection, WSI_TOKEN_HTTP_CONTENT_TYPE,
			reinterpret_cast<const unsigned char*>(s_szContentType), sizeof(s_szContentType) - 1, &p, pEnd) ||
		lws_add_http_header_by_token(pConnection, WSI_TOKEN_CONNECTION,
			reinterpret_cast<const unsigned char*>(s_szConnection), sizeof(s_szConnection) - 1, &p, pEnd) ||
		lws_add_http_header_content_length(pConnection, sizeof(SIGNATURE_BODY) - 1, &p, pEnd) ||
		lws_finalize_write_http_header(pConnection, pStart, &p, pEnd))
		return -1;
	// The body goes out from the writeable callback, when the headers have left.
	pSession->m_iHttpAnswer = bHead ? HTTP_ANSWER_SIGNATURE_HEAD : HTTP_ANSWER_SIGNATURE;
	lws_callback_on_writable(pConnection);
	return 0;
}

int WriteSignatureBody(lws* pConnection, tWebSession* pSession)
{
	const bool bHead = pSession->m_iHttpAnswer == HTTP_ANSWER_SIGNATURE_HEAD;
	pSession->m_iHttpAnswer = HTTP_ANSWER_NONE;
	if (!bHead)
	{
		unsigned char Buffer[LWS_PRE + sizeof(SIGNATURE_BODY)];
		memcpy(Buffer + LWS_PRE, SIGNATURE_BODY, sizeof(SIGNATURE_BODY) - 1);
		lws_write(pConnection, Buffer + LWS_PRE, sizeof(SIGNATURE_BODY) - 1, LWS_WRITE_HTTP_FINAL);
	}
	// The answer announced that the connection closes.
	return -1;
}

int ServeFile(lws* pConnection, const char* szPath, size_t Length)
{
	std::string File;
	if (!CHttpServer::MapRequestPath(CHttpServer::GetDocumentRoot(), szPath, Length, File))
		return AnswerStatus(pConnection, HTTP_STATUS_NOT_FOUND);
	const char* szContentType = lws_get_mimetype(File.c_str(), nullptr);
	if (!szContentType)
		szContentType = DEFAULT_CONTENT_TYPE;
	// The library streams the file in pieces as the connection takes them and answers HEAD without the body.
	const int iResult = lws_serve_http_file(pConnection, File.c_str(), szContentType, nullptr, 0);
	if (iResult < 0)
		return -1;
	return iResult > 0 ? CompleteTransaction(pConnection) : 0;
}

int AnswerRequest(const tWebCallback& Callback)
{
	lws* pConnection = Callback.m_pConnection;
	tWebSession* pSession = static_cast<tWebSession*>(Callback.m_pSession);
	if (!pSession)
		return -1;
	pSession->m_iHttpAnswer = HTTP_ANSWER_NONE;

	char* szUri = nullptr;
	int iUriLength = 0;
	const int iMethod = lws_http_get_uri_and_method(pConnection, &szUri, &iUriLength);
	if (iMethod != LWSHUMETH_GET && iMethod != LWSHUMETH_HEAD)
	{
		// A body still on its way would be read as the next request: the refusal waits until it has arrived.
		if (lws_hdr_total_length(pConnection, WSI_TOKEN_HTTP_CONTENT_LENGTH) > 0)
		{
			pSession->m_iHttpAnswer = HTTP_ANSWER_REFUSED_METHOD;
			return 0;
		}
		return AnswerStatus(pConnection, HTTP_STATUS_METHOD_NOT_ALLOWED);
	}

	const char* szPath = static_cast<const char*>(Callback.m_pIn);
	const size_t Length = szPath ? Callback.m_Length : 0;
	if (szPath && Length == sizeof(SIGNATURE_PATH) - 1 && strncasecmp(szPath, SIGNATURE_PATH, Length) == 0)
		return AnswerSignature(pConnection, pSession, iMethod == LWSHUMETH_HEAD);
	return ServeFile(pConnection, szPath, Length);
}
}

CHttpServer::CHttpServer() :
	m_bInitialised(false),
	m_usPort(0),
	m_bOutOfDescriptors(false),
	m_bOutOfDescriptorsLogged(false),
	m_pManager(nullptr)
{
}

CHttpServer::~CHttpServer()
{
	StopServer();
}

bool CHttpServer::StartServer(const char* szBindIP, uint16_t usPort)
{
	if (m_bInitialised)
	{
		SetError("The HTTP server is already running");
		return false;
	}
	m_pManager = WebLayer::CreateListener(szBindIP, usPort, g_FileServerProtocols, this);
	if (!m_pManager)
		return false;
	m_bInitialised = true;
	m_BindIP = szBindIP ? szBindIP : "";
	m_usPort = usPort;
	m_bOutOfDescriptors = false;
	m_bOutOfDescriptorsLogged = false;
	m_StopSignal.Reset();
	m_pThread = new CThreadCB("HttpMgr", ThreadMain, this);
	if (!m_pThread->Start())
	{
		m_pThread.Delete();
		WebLayer::Destroy(m_pManager);
		m_pManager = nullptr;
		m_bInitialised = false;
		SetError("Cannot start the thread of the HTTP server");
		return false;
	}
	return true;
}

void CHttpServer::StopServer()
{
	if (!m_pThread.IsNull())
	{
		m_StopSignal.Signal();
		WebLayer::Wake(m_pManager);
		m_pThread->Join();
		m_pThread.Delete();
	}
	WebLayer::Destroy(m_pManager);
	m_pManager = nullptr;
	m_bInitialised = false;
}

int CHttpServer::ThreadMain(Thread* /*pThread*/, void* pUserData)
{
	CHttpServer* pServer = static_cast<CHttpServer*>(pUserData);
	while (!pServer->m_StopSignal.IsSignalled())
	{
		if (WebLayer::Wait(pServer->m_pManager) != WebLayer::WAIT_OUT_OF_DESCRIPTORS)
			continue;
		pServer->m_bOutOfDescriptors = true;
		if (!pServer->PauseAccepting())
			break;
	}
	return 0;
}

bool CHttpServer::PauseAccepting()
{
	for (useconds_t Slept = 0; Slept < ACCEPT_RETRY_US; Slept += ACCEPT_RETRY_SLICE_US)
	{
		if (m_StopSignal.IsSignalled())
			return false;
		usleep(ACCEPT_RETRY_SLICE_US);
	}
	return true;
}

void CHttpServer::ReportLimits(Context* pContext)
{
	if (!pContext || m_bOutOfDescriptorsLogged || !m_bOutOfDescriptors)
		return;
	m_bOutOfDescriptorsLogged = true;
	pContext->LogWarn("HTTP server on %s port %hu: out of file descriptors, new connections wait until some close",
		m_BindIP.empty() ? "every address" : m_BindIP.c_str(), m_usPort);
}

void CHttpServer::SetDocumentRoot(const char* szPath)
{
	std::lock_guard<std::mutex> Lock(g_DocumentRootLock);
	g_DocumentRoot = szPath ? szPath : "";
}

std::string CHttpServer::GetDocumentRoot()
{
	std::lock_guard<std::mutex> Lock(g_DocumentRootLock);
	return g_DocumentRoot;
}

int CHttpServer::HTTPHandler(const tWebCallback& Callback)
{
	tWebSession* pSession = static_cast<tWebSession*>(Callback.m_pSession);
	switch (Callback.m_iReason)
	{
	case LWS_CALLBACK_HTTP:
		return AnswerRequest(Callback);
	case LWS_CALLBACK_HTTP_WRITEABLE:
		if (pSession && (pSession->m_iHttpAnswer == HTTP_ANSWER_SIGNATURE ||
							pSession->m_iHttpAnswer == HTTP_ANSWER_SIGNATURE_HEAD))
			return WriteSignatureBody(Callback.m_pConnection, pSession);
		break;
	case LWS_CALLBACK_HTTP_BODY:
		// The body of a refused request is read and dropped.
		return 0;
	case LWS_CALLBACK_HTTP_BODY_COMPLETION:
		if (pSession && pSession->m_iHttpAnswer == HTTP_ANSWER_REFUSED_METHOD)
		{
			pSession->m_iHttpAnswer = HTTP_ANSWER_NONE;
			return AnswerStatus(Callback.m_pConnection, HTTP_STATUS_METHOD_NOT_ALLOWED);
		}
		break;
	default:
		break;
	}
	return WebLayer::DefaultAnswer(Callback);
}

bool CHttpServer::MapRequestPath(const std::string& Root, const char* szPath, size_t Length, std::string& File)
{
	if (Root.empty() || !szPath || Length == 0 || Length > MAX_REQUEST_PATH || szPath[0] != '/' ||
		memchr(szPath, '\0', Length))
		return false;

	std::string Relative;
	size_t Start = 0;
	while (Start < Length)
	{
		const char* pSlash = static_cast<const char*>(memchr(szPath + Start, '/', Length - Start));
		const size_t End = pSlash ? static_cast<size_t>(pSlash - szPath) : Length;
		const size_t SegmentLength = End - Start;
		const char* pSegment = szPath + Start;
		if ((SegmentLength == 1 && pSegment[0] == '.') ||
			(SegmentLength == 2 && pSegment[0] == '.' && pSegment[1] == '.'))
			return false;
		if (SegmentLength > 0)
		{
			Relative += '/';
			Relative.append(pSegment, SegmentLength);
		}
		Start = End + 1;
	}
	// The root itself is a directory, and directories are never listed.
	if (Relative.empty())
		return false;

	char szRealRoot[PATH_MAX];
	char szRealFile[PATH_MAX];
	if (!realpath(Root.c_str(), szRealRoot))
		return false;
	const std::string Candidate = std::string(szRealRoot) + Relative;
	if (!realpath(Candidate.c_str(), szRealFile))
		return false;
	const size_t RootLength = strlen(szRealRoot);
	// A root of "/" ends in the separator already.
	const bool bRootHasSlash = RootLength > 0 && szRealRoot[RootLength - 1] == '/';
	if (strncmp(szRealFile, szRealRoot, RootLength) != 0 || (!bRootHasSlash && szRealFile[RootLength] != '/'))
		return false;

	struct stat Status;
	if (stat(szRealFile, &Status) != 0 || !S_ISREG(Status.st_mode))
		return false;
	File = szRealFile;
	return true;
}
