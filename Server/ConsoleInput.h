#pragma once
// The server console's input: the thread "InputThread" reads standard input, splits it into console lines and
// hands them to the main loop through a queue. A line keeps its line feed. A line that does not fit the 256-byte
// line buffer with its line feed is reported as too long as a whole, so it is never run as two commands.

#include <cstddef>

#include "Engine/KestrinReference.h"
#include "Engine/KestrinThreading.h"

// One queued console line, allocated with malloc and freed with free.
struct tConsoleLine
{
	bool m_bTooLong;
	char m_szText[1]; // NUL-terminated, allocated to its length
};

class CConsoleLineSplitter
{
public:
	enum
	{
		LINE_BUFFER_SIZE = 256,
		MAX_LINE_LENGTH = LINE_BUFFER_SIZE - 1, // characters, the line feed included
	};

	// Called for each line; szText is empty when bTooLong is set.
	typedef void (*LineCallback)(const char* szText, bool bTooLong, void* pUserData);

	CConsoleLineSplitter();

	void Feed(const char* pData, size_t Length, LineCallback pfnCallback, void* pUserData);
	// End of input: a pending line without line feed is delivered as it is.
	void Finish(LineCallback pfnCallback, void* pUserData);

	// A queue item for a line (null when out of memory).
	static tConsoleLine* NewLine(const char* szText, bool bTooLong);

private:
	void Deliver(LineCallback pfnCallback, void* pUserData);

	char m_szLine[LINE_BUFFER_SIZE];
	size_t m_Length;
	bool m_bTooLong;
};

// The input thread and the queue of the lines it read. The thread polls standard input rather than reading it
// blindly, so it notices the quit signal and can be joined even when no input ever comes; at the end of the input
// it keeps trying, like a console that may come back. Only the queue's own lock is taken, and never with another.
class CConsoleInput
{
public:
	// The thread runs until the signal is set.
	explicit CConsoleInput(Signalable& QuitSignal);
	~CConsoleInput();

	CConsoleInput(const CConsoleInput&) = delete;
	CConsoleInput& operator=(const CConsoleInput&) = delete;

	// False when the thread could not be started; the server then runs without console input.
	bool Start();
	// Sets the quit signal and waits for the thread, which touches nothing of the server afterwards.
	void Stop();

	// On the main thread: the lines queued since the last call, in arrival order, each handed to the callback
	// and then freed.
	void RunLines(CConsoleLineSplitter::LineCallback pfnRun, void* pUserData);
	// Frees the queued lines without running them.
	void Clear();

private:
	static int ThreadMain(Thread* pThread, void* pUserData);
	static void QueueLine(const char* szText, bool bTooLong, void* pUserData);
	static void FreeLine(void* pLine);

	Signalable& m_QuitSignal;
	CPumpedEventLoop m_Queue;
	AutoDelete<CThreadCB> m_pThread;
};
