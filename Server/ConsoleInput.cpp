#include "ConsoleInput.h"

#include <cstdlib>
#include <cstring>

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
