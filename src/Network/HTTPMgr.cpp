#include "Network/HTTPMgr.h"

#include <cerrno>
#include <cmath>
#include <sys/epoll.h>
#include <unistd.h>

#include "Engine/Context.h"
#include "Engine/KAssert.h"

namespace
{
// The most sockets one pass hands to libcurl; sockets beyond it stay ready and are handed over the next pass.
constexpr int MAX_READY_SOCKETS = 256;
}

CHTTPRequest::CHTTPRequest(CHTTPMgr* pManager) :
	m_pManager(pManager),
	m_pCurlHandle(nullptr),
	m_iSlot(-1),
	m_bAdded(false),
	m_bCancelled(false),
	m_eSetupFailure(CURLE_OK)
{
}

CHTTPRequest::~CHTTPRequest()
{
	// libcurl takes a handle out of its multi handle before cleaning it up.
	if (m_pCurlHandle)
		curl_easy_cleanup(m_pCurlHandle);
}

CHTTPRequestScript::CHTTPRequestScript(CHTTPMgr* pManager, CResource* pResource, CFunction* pDataFunction,
	CFunction* pCompleteFunction) :
	CHTTPRequest(pManager),
	m_pResource(pResource),
	m_pDataFunction(pDataFunction),
	m_pCompleteFunction(pCompleteFunction)
{
}

size_t CHTTPRequestScript::Write(const void* pData, size_t Size)
{
	Strong<CFunction> pFunction = m_pDataFunction;
	if (pFunction.IsNull())
		return Size;
	CArgumentArray Arguments(1);
	Arguments.AddBytes(static_cast<const uint8_t*>(pData), Size);
	CReturnValue Result;
	if (!pFunction->Call(Arguments, &Result))
		return Size;
	const CArgument* pValue = Result.GetReturnArgument();
	double dAccepted = 0.0;
	if (!pValue || !pValue->IsNumber() || !pValue->ToNumber(dAccepted))
		return Size;
	// Whatever the script returns, libcurl sees a count within the chunk, never one of its special codes.
	if (!(dAccepted > 0.0))
		return 0;
	if (dAccepted >= static_cast<double>(Size))
		return Size;
	return static_cast<size_t>(std::floor(dAccepted));
}

void CHTTPRequestScript::OnCompleted(CURLcode eCode, long lStatus)
{
	Strong<CFunction> pFunction = m_pCompleteFunction;
	if (pFunction.IsNull())
		return;
	CArgumentArray Arguments(2);
	Arguments.AddNumber(static_cast<int32_t>(eCode));
	Arguments.AddNumber(static_cast<int32_t>(lStatus));
	pFunction->Call(Arguments, nullptr);
}

CHTTPMgr::CHTTPMgr(Context* pContext, size_t Capacity, long lIdleTimeoutSeconds) :
	m_pContext(pContext),
	m_lIdleTimeoutSeconds(lIdleTimeoutSeconds),
	m_pMultiHandle(nullptr),
	m_iPollDescriptor(-1),
	m_bTimerSet(false),
	m_Requests(Capacity),
	m_bProcessing(false),
	m_bTableChanged(false)
{
}

CHTTPMgr::~CHTTPMgr()
{
	m_bProcessing = false;
	Clear();
	DestroyMultiHandle();
}

bool CHTTPMgr::CreateMultiHandle()
{
	m_iPollDescriptor = epoll_create1(EPOLL_CLOEXEC);
	m_pMultiHandle = m_iPollDescriptor >= 0 ? curl_multi_init() : nullptr;
	if (!m_pMultiHandle || curl_multi_setopt(m_pMultiHandle, CURLMOPT_SOCKETFUNCTION, SocketCallback) != CURLM_OK ||
		curl_multi_setopt(m_pMultiHandle, CURLMOPT_SOCKETDATA, this) != CURLM_OK ||
		curl_multi_setopt(m_pMultiHandle, CURLMOPT_TIMERFUNCTION, TimerCallback) != CURLM_OK ||
		curl_multi_setopt(m_pMultiHandle, CURLMOPT_TIMERDATA, this) != CURLM_OK)
	{
		DestroyMultiHandle();
		return false;
	}
	return true;
}

void CHTTPMgr::DestroyMultiHandle()
{
	// libcurl tells the socket callback of the sockets it still has while it cleans up, so the set goes last.
	if (m_pMultiHandle)
		curl_multi_cleanup(m_pMultiHandle);
	m_pMultiHandle = nullptr;
	if (m_iPollDescriptor >= 0)
		close(m_iPollDescriptor);
	m_iPollDescriptor = -1;
	m_bTimerSet = false;
}

bool CHTTPMgr::AddRequest(CHTTPRequest* pRequest, const char* szUrl, const char* pPostData, size_t PostLength)
{
	AutoDelete<CHTTPRequest> pHold(pRequest);
	size_t Slot = 0;
	if (!pRequest || !szUrl || !m_Requests.Add(pRequest, &Slot))
		return false;
	pRequest->m_iSlot = static_cast<int32_t>(Slot);
	if (!m_pMultiHandle)
		CreateMultiHandle();
	pRequest->m_pCurlHandle = m_pMultiHandle ? MakeTransfer(pRequest, szUrl, pPostData, PostLength) : nullptr;
	if (!pRequest->m_pCurlHandle)
	{
		m_Requests.RemoveAt(Slot);
		return false;
	}
	pHold.Detach();
	// libcurl refuses new transfers while it runs callbacks; the pass adds them when it is over.
	if (m_bProcessing)
	{
		m_bTableChanged = true;
		return true;
	}
	if (curl_multi_add_handle(m_pMultiHandle, pRequest->m_pCurlHandle) != CURLM_OK)
	{
		Free(pRequest);
		return false;
	}
	pRequest->m_bAdded = true;
	return true;
}

CURL* CHTTPMgr::MakeTransfer(CHTTPRequest* pRequest, const char* szUrl, const char* pPostData, size_t PostLength)
{
	CURL* pHandle = curl_easy_init();
	if (!pHandle)
		return nullptr;
	const char* szUserAgent = m_pContext ? m_pContext->GetUserAgent() : "";
	// Peers are verified against the system's certificates: without that anyone on the path could forge answers.
	// Only the web's own schemes are allowed, so a script cannot read local files or reach other services.
	bool bSet = curl_easy_setopt(pHandle, CURLOPT_URL, szUrl) == CURLE_OK &&
		curl_easy_setopt(pHandle, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK &&
		curl_easy_setopt(pHandle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https") == CURLE_OK &&
		curl_easy_setopt(pHandle, CURLOPT_WRITEFUNCTION, WriteCallback) == CURLE_OK &&
		curl_easy_setopt(pHandle, CURLOPT_WRITEDATA, pRequest) == CURLE_OK &&
		curl_easy_setopt(pHandle, CURLOPT_PRIVATE, pRequest) == CURLE_OK &&
		curl_easy_setopt(pHandle, CURLOPT_USERAGENT, szUserAgent) == CURLE_OK &&
		curl_easy_setopt(pHandle, CURLOPT_SSL_VERIFYPEER, 1L) == CURLE_OK &&
		curl_easy_setopt(pHandle, CURLOPT_SSL_VERIFYHOST, 2L) == CURLE_OK &&
		curl_easy_setopt(pHandle, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK &&
		curl_easy_setopt(pHandle, CURLOPT_MAXREDIRS, static_cast<long>(MAX_REDIRECTS)) == CURLE_OK &&
		curl_easy_setopt(pHandle, CURLOPT_CONNECTTIMEOUT, static_cast<long>(CONNECT_TIMEOUT_SECONDS)) == CURLE_OK &&
		curl_easy_setopt(pHandle, CURLOPT_LOW_SPEED_LIMIT, 1L) == CURLE_OK &&
		curl_easy_setopt(pHandle, CURLOPT_LOW_SPEED_TIME, m_lIdleTimeoutSeconds) == CURLE_OK &&
		curl_easy_setopt(pHandle, CURLOPT_NOSIGNAL, 1L) == CURLE_OK;
	if (bSet && pPostData && PostLength > 0)
	{
		// The transfer keeps its own copy of the body.
		bSet = curl_easy_setopt(pHandle, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(PostLength)) ==
				CURLE_OK &&
			curl_easy_setopt(pHandle, CURLOPT_COPYPOSTFIELDS, pPostData) == CURLE_OK;
	}
	if (!bSet)
	{
		curl_easy_cleanup(pHandle);
		return nullptr;
	}
	return pHandle;
}

size_t CHTTPMgr::WriteCallback(char* pData, size_t Size, size_t Count, void* pUserData)
{
	CHTTPRequest* pRequest = static_cast<CHTTPRequest*>(pUserData);
	const size_t Total = Size * Count;
	if (!pRequest || pRequest->m_bCancelled || Total == 0)
		return 0;
	const size_t Accepted = pRequest->Write(pData, Total);
	// Cancelled from inside its own callback: the transfer ends now.
	if (pRequest->m_bCancelled)
		return 0;
	return Accepted < Total ? Accepted : Total;
}

void CHTTPMgr::Process()
{
	if (!m_pMultiHandle)
		return;
	if (m_Requests.GetCount() == 0)
	{
		DestroyMultiHandle();
		return;
	}

	m_bProcessing = true;
	DriveTransfers();
	int iLeft = 0;
	while (CURLMsg* pMessage = curl_multi_info_read(m_pMultiHandle, &iLeft))
	{
		if (pMessage->msg == CURLMSG_DONE)
			CompleteTransfer(pMessage->easy_handle, pMessage->data.result);
	}
	// Requests whose transfer could not be added after the previous pass end as failed transfers.
	// Freeing a request only clears its slot, so the walk goes on from there.
	if (m_bTableChanged)
	{
		for (CHTTPRequest* pRequest : m_Requests)
		{
			if (pRequest->m_eSetupFailure == CURLE_OK || pRequest->m_bCancelled)
				continue;
			// Never added, so Free only cleans its transfer up.
			pRequest->OnCompleted(pRequest->m_eSetupFailure, 0);
			Free(pRequest);
		}
	}
	m_bProcessing = false;

	if (m_bTableChanged)
	{
		m_bTableChanged = false;
		FreeCancelled();
		AddWaitingTransfers();
	}
}

void CHTTPMgr::DriveTransfers()
{
	int iRunning = 0;
	epoll_event rgEvents[MAX_READY_SOCKETS];
	const int iReady = epoll_wait(m_iPollDescriptor, rgEvents, MAX_READY_SOCKETS, 0);
	for (int i = 0; i < iReady; i++)
	{
		const uint32_t uiEvents = rgEvents[i].events;
		int iSelect = 0;
		if (uiEvents & EPOLLIN)
			iSelect |= CURL_CSELECT_IN;
		if (uiEvents & EPOLLOUT)
			iSelect |= CURL_CSELECT_OUT;
		if (uiEvents & (EPOLLERR | EPOLLHUP))
			iSelect |= CURL_CSELECT_ERR;
		curl_multi_socket_action(m_pMultiHandle, rgEvents[i].data.fd, iSelect, &iRunning);
	}
	// libcurl's timers: connection and idle time-outs, and transfers added since the last pass, which it starts
	// from a timer that is due at once.
	if (m_bTimerSet && tClock::now() >= m_TimerDue)
	{
		m_bTimerSet = false;
		curl_multi_socket_action(m_pMultiHandle, CURL_SOCKET_TIMEOUT, 0, &iRunning);
		// libcurl does not tell a due time again that it has told already; one still pending must not be lost.
		long lTimeoutMs = -1;
		if (!m_bTimerSet && curl_multi_timeout(m_pMultiHandle, &lTimeoutMs) == CURLM_OK)
			TimerCallback(m_pMultiHandle, lTimeoutMs, this);
	}
}

int CHTTPMgr::SocketCallback(CURL* /*pHandle*/, curl_socket_t Socket, int iWhat, void* pUserData,
	void* /*pSocketData*/)
{
	CHTTPMgr* pManager = static_cast<CHTTPMgr*>(pUserData);
	if (iWhat == CURL_POLL_REMOVE)
	{
		epoll_ctl(pManager->m_iPollDescriptor, EPOLL_CTL_DEL, Socket, nullptr);
		return 0;
	}
	epoll_event Event{};
	Event.data.fd = Socket;
	if (iWhat & CURL_POLL_IN)
		Event.events |= EPOLLIN;
	if (iWhat & CURL_POLL_OUT)
		Event.events |= EPOLLOUT;
	// A socket libcurl names for the first time is not in the set yet.
	if (epoll_ctl(pManager->m_iPollDescriptor, EPOLL_CTL_MOD, Socket, &Event) != 0 && errno == ENOENT)
		epoll_ctl(pManager->m_iPollDescriptor, EPOLL_CTL_ADD, Socket, &Event);
	return 0;
}

int CHTTPMgr::TimerCallback(CURLM* /*pMultiHandle*/, long lTimeoutMs, void* pUserData)
{
	CHTTPMgr* pManager = static_cast<CHTTPMgr*>(pUserData);
	// -1 removes the timer; 0 asks to be called as soon as possible, which is the next pass.
	pManager->m_bTimerSet = lTimeoutMs >= 0;
	if (pManager->m_bTimerSet)
		pManager->m_TimerDue = tClock::now() + std::chrono::milliseconds(lTimeoutMs);
	return 0;
}

void CHTTPMgr::CompleteTransfer(CURL* pHandle, CURLcode eCode)
{
	char* pPrivate = nullptr;
	curl_easy_getinfo(pHandle, CURLINFO_PRIVATE, &pPrivate);
	CHTTPRequest* pRequest = reinterpret_cast<CHTTPRequest*>(pPrivate);
	long lStatus = 0;
	curl_easy_getinfo(pHandle, CURLINFO_RESPONSE_CODE, &lStatus);
	curl_multi_remove_handle(m_pMultiHandle, pHandle);
	if (!KASSERT(pRequest != nullptr) || !KASSERT(pRequest->m_pCurlHandle == pHandle))
	{
		// A handle no request owns would otherwise stay behind for good.
		if (!pRequest)
			curl_easy_cleanup(pHandle);
		return;
	}
	curl_easy_cleanup(pHandle);
	pRequest->m_pCurlHandle = nullptr;
	pRequest->m_bAdded = false;
	if (!pRequest->m_bCancelled)
		pRequest->OnCompleted(eCode, lStatus);
	Free(pRequest);
}

size_t CHTTPMgr::CancelRequests(CResource* pResource)
{
	if (!pResource)
		return 0;
	size_t Count = 0;
	for (CHTTPRequest* pRequest : m_Requests)
	{
		if (pRequest->GoesWith(pResource) && !pRequest->m_bCancelled)
		{
			Cancel(pRequest);
			Count++;
		}
	}
	return Count;
}

void CHTTPMgr::Clear()
{
	for (CHTTPRequest* pRequest : m_Requests)
		Cancel(pRequest);
}

void CHTTPMgr::Cancel(CHTTPRequest* pRequest)
{
	if (m_bProcessing)
	{
		pRequest->m_bCancelled = true;
		m_bTableChanged = true;
	}
	else
		Free(pRequest);
}

void CHTTPMgr::Free(CHTTPRequest* pRequest)
{
	if (pRequest->m_pCurlHandle)
	{
		if (pRequest->m_bAdded && m_pMultiHandle)
			curl_multi_remove_handle(m_pMultiHandle, pRequest->m_pCurlHandle);
		curl_easy_cleanup(pRequest->m_pCurlHandle);
		pRequest->m_pCurlHandle = nullptr;
	}
	if (pRequest->m_iSlot >= 0)
		m_Requests.RemoveAt(static_cast<size_t>(pRequest->m_iSlot));
	delete pRequest;
}

void CHTTPMgr::FreeCancelled()
{
	for (CHTTPRequest* pRequest : m_Requests)
	{
		if (pRequest->m_bCancelled)
			Free(pRequest);
	}
}

void CHTTPMgr::AddWaitingTransfers()
{
	for (CHTTPRequest* pRequest : m_Requests)
	{
		if (pRequest->m_bAdded || !pRequest->m_pCurlHandle || pRequest->m_eSetupFailure != CURLE_OK)
			continue;
		if (curl_multi_add_handle(m_pMultiHandle, pRequest->m_pCurlHandle) == CURLM_OK)
			pRequest->m_bAdded = true;
		else
		{
			// Completed as a failed transfer by the next pass.
			pRequest->m_eSetupFailure = CURLE_FAILED_INIT;
			m_bTableChanged = true;
		}
	}
}
