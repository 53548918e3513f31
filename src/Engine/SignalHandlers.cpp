#include "Engine/SignalHandlers.h"

#include <atomic>
#include <csignal>
#include <cstring>

namespace
{
	// Written by the signal handler, so lock-free atomics only: the handler may interrupt any thread,
	// including one that holds the very lock the quit procedure would take.
	std::atomic<bool> g_bQuitRequested(false);
	std::atomic<CSignalHandlers::QuitProcedure> g_pfnQuitProcedure(nullptr);

	static_assert(std::atomic<bool>::is_always_lock_free, "the quit flag must be lock-free");

	void OnInterrupt(int)
	{
		g_bQuitRequested.store(true);
	}
}

bool CSignalHandlers::Install(QuitProcedure pfnProcedure)
{
	g_pfnQuitProcedure.store(pfnProcedure);
	g_bQuitRequested.store(false);

	struct sigaction Action;
	memset(&Action, 0, sizeof(Action));
	Action.sa_handler = OnInterrupt;
	sigemptyset(&Action.sa_mask);
	Action.sa_flags = 0;
	// SIGTERM is how service managers and containers ask a process to end: it gets the same orderly shutdown.
	const bool bInterrupt = sigaction(SIGINT, &Action, nullptr) == 0;
	const bool bTerminate = sigaction(SIGTERM, &Action, nullptr) == 0;
	return bInterrupt && bTerminate;
}

bool CSignalHandlers::ConsumeQuitRequest()
{
	if (!g_bQuitRequested.exchange(false))
		return false;

	QuitProcedure pfnProcedure = g_pfnQuitProcedure.exchange(nullptr);
	if (pfnProcedure == nullptr)
		return false;

	pfnProcedure();
	return true;
}
