#include "NetGamesList.h"

#include <cstring>
#include <strings.h>

#include "Engine/KestrinString.h"

CNetGamesList::CNetGamesList()
{
	memset(m_szNames, 0, sizeof(m_szNames));
}

void CNetGamesList::SetGameName(int32_t iGameId, const char* szName)
{
	if (iGameId < 0 || iGameId >= MAX_GAMES)
		return;
	_strlcpy(m_szNames[iGameId], szName ? szName : "", NAME_SIZE);
}

const char* CNetGamesList::GetGameName(int32_t iGameId) const
{
	if (iGameId < 0 || iGameId >= MAX_GAMES)
		return "";
	return m_szNames[iGameId];
}

int32_t CNetGamesList::GetGameId(const char* szName) const
{
	if (!szName)
		return -1;
	for (int32_t i = 0; i < MAX_GAMES; i++)
	{
		if (strcasecmp(m_szNames[i], szName) == 0)
			return i;
	}
	return -1;
}
