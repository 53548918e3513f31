#pragma once
// A game server in the test's own process with a chosen game, and clients that join it with a player element of
// their own, as spawning gives them, so distance-streamed elements reach them.

#include <cstdint>
#include <string>

#include "Game/GTAServerManager.h"
#include "InProcessServer.h"

#include "Elements/ServerPlayer.h"
#include "Support/GameClient.h"

namespace ServerTest
{
using VexaTest::CGameClient;
using VexaTest::tJoinRequest;

struct tGame
{
	const char* m_szName;
	uint8_t m_ucId;
};

constexpr tGame GTA_III = {"gta:iii", 1};
constexpr tGame GTA_IV = {"gta:iv", 5};

class CGameWorld
{
public:
	CGameWorld(const tGame& Game, bool bMultithreaded, const std::string& Children = "") :
		m_Game(Game), m_Server(std::string("\t<game>") + Game.m_szName + "</game>\n" + Children, bMultithreaded)
	{
	}

	CInProcessServer& Server() { return m_Server; }
	CGTAServerManager* Manager() { return m_Server.GetServer().GetGTAManager(); }
	CNetMachine* Machine(const CGameClient& Client) { return m_Server.GetServer().GetClients().GetMachine(Client.GetIndex()); }

	// Joins the client and gives it a player element of its own at the position, as spawning does.
	CServerPlayer* JoinWithPlayer(CGameClient& Client, const std::string& Name, const CVector3D& vecPosition)
	{
		m_Server.Attach(Client);
		tJoinRequest Request;
		Request.m_Name = Name;
		Request.m_ucGame = m_Game.m_ucId;
		EXPECT_TRUE(Client.Join(m_Server.GetPort(), Request));
		CNetMachine* pMachine = Machine(Client);
		EXPECT_NE(pMachine, nullptr);
		if (!pMachine)
			return nullptr;
		Strong<CServerPlayer> pPlayer =
			Strong<CServerPlayer>::New(static_cast<CServerPlayer*>(Manager()->Create(ELEMENT_PLAYER)));
		pPlayer->SetPosition(vecPosition);
		pPlayer->SetSyncer(pMachine, true);
		EXPECT_TRUE(Manager()->RegisterNetObject(pPlayer));
		pMachine->SetPlayer(pPlayer);
		return pPlayer;
	}

	// A registered element of the type at the position; the manager holds it.
	template <class TElement>
	TElement* Place(uint32_t uiType, const CVector3D& vecPosition)
	{
		Strong<TElement> pElement = Strong<TElement>::New(static_cast<TElement*>(Manager()->Create(static_cast<int>(uiType))));
		pElement->SetPosition(vecPosition);
		EXPECT_TRUE(Manager()->RegisterNetObject(pElement));
		return pElement;
	}

	// The first registered element of the type, or null.
	CNetObject* FindFirst(uint32_t uiType)
	{
		for (size_t Slot : Manager()->UsedSlots())
		{
			CNetObject* pObject = Manager()->GetObjectAt(Slot);
			if (pObject && pObject->GetType() == uiType)
				return pObject;
		}
		return nullptr;
	}

private:
	tGame m_Game;
	CInProcessServer m_Server;
};
}
