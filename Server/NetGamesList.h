#pragma once
// The table of game names, indexed by game id, through which the configuration's "game" text becomes a game id.

#include <cstdint>

enum eGameId : int32_t
{
	GAME_UNKNOWN = 0,
	GAME_GTA_III = 1,
	GAME_GTA_VC = 2,
	GAME_GTA_SA = 3,
	GAME_GTA_IV = 5,
	GAME_GTA_IV_EFLC = 6,
	GAME_BULLY = 7,
	GAME_MAFIA_ONE = 10,
	GAME_MAFIA_TWO = 11,
	GAME_MAFIA_THREE = 12,
	GAME_MAFIA_ONE_DE = 13,
};

// GTA IV and EFLC share their blocks and their session functions, which differ from the other games'.
inline bool IsGTAIVGame(int32_t iGameId)
{
	return iGameId == GAME_GTA_IV || iGameId == GAME_GTA_IV_EFLC;
}

class CNetGamesList
{
public:
	enum
	{
		MAX_GAMES = 32,
		NAME_SIZE = 32,
	};

	CNetGamesList();

	// Names are cut to 31 characters; an id outside the table is ignored.
	void SetGameName(int32_t iGameId, const char* szName);
	const char* GetGameName(int32_t iGameId) const;
	// The first id whose name equals szName without regard to case; -1 when none does.
	int32_t GetGameId(const char* szName) const;

private:
	char m_szNames[MAX_GAMES][NAME_SIZE];
};
