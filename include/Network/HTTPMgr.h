#pragma once
// Outbound HTTP requests on behalf of scripts. Transfers run in libcurl's multi interface, which the main loop
// advances once a pass (Process); the body reaches the request in chunks as it arrives and the request is told
// when the transfer has ended. Main thread only.
//
// A pass costs the same however many transfers wait: libcurl is only handed the sockets that became ready (one
// look at all of them, through an epoll set it keeps up to date) and its own timers when they fall due. A transfer
// that receives nothing for IDLE_TIMEOUT_SECONDS ends with libcurl's time-out result, so a host that never answers
// cannot hold a slot of the table for good.
//
// Scripts may start a request, or stop the resource that made one, from inside a request's own callbacks. Neither
// touches the transfers libcurl is running: a request made then is added once the pass is over, and a cancelled
// one is only marked (its transfer aborts and its callbacks are never called) and freed after the pass.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include <curl/curl.h>

#include "Engine/KestrinArray.h"
#include "Engine/KestrinNative.h"
#include "Engine/KestrinReference.h"

class CHTTPMgr;
class CResource;
class Context;

class CHTTPRequest
{
public:
	explicit CHTTPRequest(CHTTPMgr* pManager);
	// Cleans the transfer up when it still exists; libcurl takes it out of the manager's multi handle first.
	virtual ~CHTTPRequest();

	CHTTPRequest(const CHTTPRequest&) = delete;
	CHTTPRequest& operator=(const CHTTPRequest&) = delete;

	// A chunk of the body; the count of bytes accepted, fewer than Size aborting the transfer.
	virtual size_t Write(const void* pData, size_t Size) = 0;
	// The transfer ended: libcurl's result (0 success) and the HTTP status received (0 when none).
	virtual void OnCompleted(CURLcode eCode, long lStatus) = 0;
	// The resource the request belongs to, or null.
	virtual CResource* GetResource() const { return nullptr; }
	// Whether the request goes when the resource stops: by default, when it belongs to it.
	virtual bool GoesWith(CResource* pResource) const { return GetResource() == pResource; }

	CHTTPMgr* m_pManager;
	// Null once the transfer has finished or was never set up.
	CURL* m_pCurlHandle;
	int32_t m_iSlot;
	// In the multi handle (false while waiting for the end of the pass in which it was made).
	bool m_bAdded;
	// Cancelled during a pass: nothing of it is called any more and it is freed when the pass is over.
	bool m_bCancelled;
	// Made during a pass but refused by the multi handle after it: completed with this result on the next pass.
	CURLcode m_eSetupFailure;
};

// A request of a script: the data function receives each chunk as a bytes value, the completion function the
// result code and the status.
class CHTTPRequestScript : public CHTTPRequest
{
public:
	CHTTPRequestScript(CHTTPMgr* pManager, CResource* pResource, CFunction* pDataFunction,
		CFunction* pCompleteFunction);

	// A number returned by the data function is the count accepted, kept within 0 and Size; anything else
	// accepts the whole chunk.
	size_t Write(const void* pData, size_t Size) override;
	void OnCompleted(CURLcode eCode, long lStatus) override;
	CResource* GetResource() const override { return m_pResource; }
	// Also when either function is the resource's code, or code that has stopped, whoever made the request.
	bool GoesWith(CResource* pResource) const override
	{
		return CFunction::GoesWithResource(m_pResource, m_pDataFunction, pResource) ||
			CFunction::GoesWithResource(m_pResource, m_pCompleteFunction, pResource);
	}

private:
	// Not owned: the resource of the call that made the request, whose stop cancels it.
	CResource* m_pResource;
	Strong<CFunction> m_pDataFunction;
	Strong<CFunction> m_pCompleteFunction;
};

class CHTTPMgr
{
public:
	enum
	{
		MAX_REQUESTS = 1024,
		MAX_REDIRECTS = 30,
		CONNECT_TIMEOUT_SECONDS = 30,
		// A transfer slower than a byte a second for this long (most often: one that receives nothing) fails.
		IDLE_TIMEOUT_SECONDS = 60,
	};

	explicit CHTTPMgr(Context* pContext, size_t Capacity = MAX_REQUESTS,
		long lIdleTimeoutSeconds = IDLE_TIMEOUT_SECONDS);
	// Drops every request without calling it, then cleans up the multi handle.
	~CHTTPMgr();

	CHTTPMgr(const CHTTPMgr&) = delete;
	CHTTPMgr& operator=(const CHTTPMgr&) = delete;

	// Starts a transfer of the URL (http or https only), a POST of the body when it is not empty, else a GET. The
	// manager owns the request in every case; false, the request deleted, when every slot is taken or the
	// transfer cannot be set up.
	bool AddRequest(CHTTPRequest* pRequest, const char* szUrl, const char* pPostData, size_t PostLength);
	// Advances every transfer once and completes those that have ended.
	void Process();
	// Drops the requests that go when the resource stops (CHTTPRequest::GoesWith) without calling them again.
	size_t CancelRequests(CResource* pResource);
	// Drops every request.
	void Clear();

	size_t GetCount() const { return m_Requests.GetCount(); }
	bool HasMultiHandle() const { return m_pMultiHandle != nullptr; }

private:
	typedef std::chrono::steady_clock tClock;

	static size_t WriteCallback(char* pData, size_t Size, size_t Count, void* pUserData);
	static int SocketCallback(CURL* pHandle, curl_socket_t Socket, int iWhat, void* pUserData, void* pSocketData);
	static int TimerCallback(CURLM* pMultiHandle, long lTimeoutMs, void* pUserData);

	bool CreateMultiHandle();
	void DestroyMultiHandle();
	void DriveTransfers();
	CURL* MakeTransfer(CHTTPRequest* pRequest, const char* szUrl, const char* pPostData, size_t PostLength);
	void CompleteTransfer(CURL* pHandle, CURLcode eCode);
	void Cancel(CHTTPRequest* pRequest);
	void Free(CHTTPRequest* pRequest);
	void AddWaitingTransfers();
	void FreeCancelled();

	Context* m_pContext;
	long m_lIdleTimeoutSeconds;
	CURLM* m_pMultiHandle;
	// The sockets of the running transfers, each watched for what libcurl waits for; lives with the multi handle.
	int m_iPollDescriptor;
	// When libcurl wants to be called for its timers, if it does.
	bool m_bTimerSet;
	tClock::time_point m_TimerDue;
	Array<CHTTPRequest*> m_Requests;
	// True while libcurl runs a transfer's callbacks or completed requests are called.
	bool m_bProcessing;
	// A request was made, cancelled or refused by the multi handle during a pass: the end of the pass (or the
	// next one) has work to do on the table. Without it the pass does not walk the table at all.
	bool m_bTableChanged;
};
