#pragma once
// The file server from which game clients download the published files of resources: a listener on the configured
// address and HTTP port, serviced by a thread of its own ("HttpMgr"), that serves the files below one document root
// by path and answers "/sig" so that a client can recognise the server. Only GET and HEAD are answered; nothing
// outside the document root is ever served and directories are never listed. The remote console's port answers
// plain HTTP with the same handler.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "Engine/KestrinReference.h"
#include "Engine/KestrinThreading.h"
#include "Network/WebLayer.h"

class Context;

class CHttpServer
{
public:
	CHttpServer();
	// Stops the server.
	~CHttpServer();

	CHttpServer(const CHttpServer&) = delete;
	CHttpServer& operator=(const CHttpServer&) = delete;

	// Listens on the address (empty: every local address) and port and starts the thread. False when the server
	// already runs or the listener or the thread cannot be made, everything undone and the reason in the
	// last-error text.
	bool StartServer(const char* szBindIP, uint16_t usPort);
	// Stops and joins the thread, then closes the listener and every connection. Nothing when stopped.
	void StopServer();
	bool IsRunning() const { return m_bInitialised; }
	// Logs what the thread ran into and cannot log itself: once per start, that connections had to wait for
	// file descriptors. Main thread.
	void ReportLimits(Context* pContext);

	// The folder served as static files by every listener of the process. Set it before any listener starts;
	// while it is empty only "/sig" is answered.
	static void SetDocumentRoot(const char* szPath);
	static std::string GetDocumentRoot();

	// The handler of every callback of a plain HTTP connection, on whichever thread services its context.
	static int HTTPHandler(const tWebCallback& Callback);

	// The file a request path names below the root: the path as the library decoded it, absolute, without "." or
	// ".." segments or zero bytes, naming a regular file whose real location (symbolic links followed) is inside
	// the root. False for anything else, which is answered as missing.
	static bool MapRequestPath(const std::string& Root, const char* szPath, size_t Length, std::string& File);

private:
	static int ThreadMain(Thread* pThread, void* pUserData);
	// Sleeps through the back-off after a connection could not be accepted; false when the stop signal came.
	bool PauseAccepting();

	// Set to end the thread's loop; the listener is woken so that the loop sees it at once.
	Signalable m_StopSignal;
	bool m_bInitialised;
	std::string m_BindIP;
	uint16_t m_usPort;
	// Set by the thread when it first could not accept for lack of descriptors; logged by ReportLimits.
	std::atomic<bool> m_bOutOfDescriptors;
	bool m_bOutOfDescriptorsLogged;
	// Serviced only by the thread while it runs; made and freed by the owner's thread around it.
	lws_context* m_pManager;
	AutoDelete<CThreadCB> m_pThread;
};
