#include "ConsoleInput.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <unistd.h>

namespace
{
constexpr int INPUT_POLL_MS = 50;
constexpr useconds_t INPUT_RETRY_US = 50000;
}

CConsoleLineSplitter::CConsoleLineSplitter() : m_Length(0), m_bTooLong(false)
{
	m_szLine[0] = '\0';
}

void CConsoleLineSplitter::Deliver(LineCallback pfnCallback, void* pUserData)
{
	m_szLine[m_Length] = '\0';
	pfnCallback(m_bTooLong ? "" : m_szLine, m_bTooLong, pUserData);
	m_Length = 0;
	m_bTooLong = false;
	m_szLine[0] = '\0';
}

void CConsoleLineSplitter::Feed(const char* pData, size_t Length, LineCallback pfnCallback, void* pUserData)
{
	for (size_t i = 0; i < Length; i++)
	{
		char c = pData[i];
		if (m_Length < MAX_LINE_LENGTH)
			m_szLine[m_Length++] = c;
		else
			m_bTooLong = true;
		if (c == '\n')
			Deliver(pfnCallback, pUserData);
	}
}

void CConsoleLineSplitter::Finish(LineCallback pfnCallback, void* pUserData)
{
	if (m_Length > 0 || m_bTooLong)
		Deliver(pfnCallback, pUserData);
}

tConsoleLine* CConsoleLineSplitter::NewLine(const char* szText, bool bTooLong)
{
	size_t Length = strlen(szText);
	tConsoleLine* pLine = static_cast<tConsoleLine*>(malloc(sizeof(tConsoleLine) + Length));
	if (!pLine)
		return nullptr;
	pLine->m_bTooLong = bTooLong;
	memcpy(pLine->m_szText, szText, Length + 1);
	return pLine;
}

CConsoleInput::CConsoleInput(Signalable& QuitSignal) : m_QuitSignal(QuitSignal), m_Queue(FreeLine)
{
}

CConsoleInput::~CConsoleInput()
{
	Stop();
}

bool CConsoleInput::Start()
{
	m_pThread = new CThreadCB("InputThread", ThreadMain, this);
	if (!m_pThread->Start())
	{
		m_pThread.Delete();
		return false;
	}
	return true;
}

void CConsoleInput::Stop()
{
	if (m_pThread.IsNull())
		return;
	// The thread never blocks for longer than one poll interval, so joining it is quick.
	m_QuitSignal.Signal();
	m_pThread->Join();
	m_pThread.Delete();
}

void CConsoleInput::FreeLine(void* pLine)
{
	free(pLine);
}

void CConsoleInput::QueueLine(const char* szText, bool bTooLong, void* pUserData)
{
	if (tConsoleLine* pLine = CConsoleLineSplitter::NewLine(szText, bTooLong))
		static_cast<CPumpedEventLoop*>(pUserData)->Push(pLine);
}

int CConsoleInput::ThreadMain(Thread* /*pThread*/, void* pUserData)
{
	CConsoleInput* pInput = static_cast<CConsoleInput*>(pUserData);
	CConsoleLineSplitter Splitter;
	char Buffer[CConsoleLineSplitter::LINE_BUFFER_SIZE];
	while (!pInput->m_QuitSignal.IsSignalled())
	{
		pollfd Poll{STDIN_FILENO, POLLIN, 0};
		int iReady = poll(&Poll, 1, INPUT_POLL_MS);
		if (iReady == 0 || (iReady < 0 && errno == EINTR))
			continue;

		ssize_t iRead = iReady > 0 ? read(STDIN_FILENO, Buffer, sizeof(Buffer)) : -1;
		if (iRead > 0)
		{
			Splitter.Feed(Buffer, static_cast<size_t>(iRead), QueueLine, &pInput->m_Queue);
			continue;
		}
		if (iRead < 0 && errno == EINTR)
			continue;
		// End of input or an unreadable input.
		Splitter.Finish(QueueLine, &pInput->m_Queue);
		usleep(INPUT_RETRY_US);
	}
	return 0;
}

void CConsoleInput::RunLines(CConsoleLineSplitter::LineCallback pfnRun, void* pUserData)
{
	size_t Count = m_Queue.Count();
	for (size_t i = 0; i < Count; i++)
	{
		const tConsoleLine* pLine = static_cast<const tConsoleLine*>(m_Queue.GetEvent(i));
		if (pLine)
			pfnRun(pLine->m_szText, pLine->m_bTooLong, pUserData);
	}
	m_Queue.Flush();
}

void CConsoleInput::Clear()
{
	m_Queue.Clear();
}
