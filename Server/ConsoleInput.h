#pragma once
// Splits the bytes read from standard input into console lines for the main loop. A line keeps its line feed.
// A line that does not fit the 256-byte line buffer with its line feed is reported as too long as a whole,
// so it is never run as two commands.

#include <cstddef>

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
