#pragma once

// SIGINT and SIGTERM hook: both ask for the same orderly shutdown. The signal handler itself only records the
// request (async-signal-safe); the stored quit procedure runs later on the thread that polls ConsumeQuitRequest,
// normally the main loop. Only the first such signal after Install leads to the procedure; the process never ends
// by the signal.
class CSignalHandlers
{
public:
	typedef void (*QuitProcedure)();

	// Stores the quit procedure, forgets any earlier unconsumed request and installs the handler of both signals.
	static bool Install(QuitProcedure pfnProcedure);

	// When a SIGINT or SIGTERM arrived and the quit procedure has not run yet: runs it on the calling thread,
	// forgets it and returns true. Otherwise false (later signals are dropped here).
	static bool ConsumeQuitRequest();
};
