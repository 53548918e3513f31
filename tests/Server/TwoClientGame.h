#pragma once
// A game server in the test's process with two game clients joined, each with a real player spawned for it that
// the other client has as well, and a recorder of the game's events. The sending client is the one a test speaks
// through; the other one watches. Tests reach into the server between passes to place elements.

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Game/GTAClient.h"
#include "Game/GTAServerManager.h"
#include "GameDelivery.h"
#include "InProcessServer.h"
#include "Multiplayer/ReplicationHarness.h"

#include "Scripting/EventHandlers.h"
#include "Scripting/ResourceMgr.h"

namespace ServerTest
{
// One raised game event: its name and its arguments written as text ("#id" for an element, "client:index" for a
// client, "nil", numbers as they are).
struct tRecordedEvent
{
	std::string m_Name;
	std::string m_Arguments;

	bool operator==(const tRecordedEvent& Other) const
	{
		return m_Name == Other.m_Name && m_Arguments == Other.m_Arguments;
	}
};

inline std::ostream& operator<<(std::ostream& Out, const tRecordedEvent& Event)
{
	return Out << Event.m_Name << "(" << Event.m_Arguments << ")";
}

inline std::string DescribeArguments(const CArgumentArray& Arguments)
{
	std::string Text;
	for (size_t i = 0; i < Arguments.GetArrayCount(); i++)
	{
		const CArgument* pValue = Arguments.GetAt(i);
		if (i)
			Text += ",";
		int64_t iNumber = 0;
		if (!pValue || pValue->IsNull())
			Text += "nil";
		else if (pValue->GetType() == ARGUMENT_NETOBJECT)
		{
			CNetObject* pElement = static_cast<CNetObject*>(pValue->ToObject());
			Text += pElement ? "#" + std::to_string(pElement->GetId()) : "#?";
		}
		else if (pValue->GetType() == ARGUMENT_OBJECT)
		{
			CNetMachine* pClient = static_cast<CNetMachine*>(pValue->ToObject());
			Text += pClient ? "client:" + std::to_string(pClient->GetIndex()) : "client:?";
		}
		else if (pValue->IsBoolean())
			Text += pValue->ToBoolean() ? "true" : "false";
		else if (pValue->IsNumber() && pValue->ToNumber(iNumber))
			Text += std::to_string(iNumber);
		else
			Text += pValue->GetTypeName();
	}
	return Text;
}

class CTwoClientGame
{
public:
	// The marker each client sends about its own player to learn that the server has handled everything before it.
	static constexpr uint32_t MARKER_MESSAGE = 146;

	CTwoClientGame(const std::string& Children, bool bMultithreaded, uint8_t ucGame = 1) :
		m_ucGame(ucGame), m_Server(Children, bMultithreaded)
	{
	}

	// Starts the server, joins both clients, spawns their players at the origin and waits until each client has
	// both players.
	bool Start()
	{
		if (!m_Server.Start())
			return false;
		RecordEvents();
		for (VexaTest::CGameClient* pClient : {&m_Sender, &m_Other})
		{
			m_Server.Attach(*pClient);
			VexaTest::tJoinRequest Request;
			Request.m_Name = pClient == &m_Sender ? "Sender" : "Other";
			Request.m_ucGame = m_ucGame;
			if (!pClient->Join(m_Server.GetPort(), Request))
				return false;
			CGTAClient* pRecord = Record(*pClient);
			if (!pRecord || !pRecord->SpawnPlayer(CVector3D(0, 0, 0), 0.0f, 0, 0, 0) || !pRecord->GetPlayer())
				return false;
		}
		m_iSenderPed = Record(m_Sender)->GetPlayer()->GetId();
		m_iOtherPed = Record(m_Other)->GetPlayer()->GetId();
		if (!WaitUntilBothHave(m_iSenderPed) || !WaitUntilBothHave(m_iOtherPed))
			return false;
		m_Sender.TakeMessages();
		m_Other.TakeMessages();
		m_Events.clear();
		return true;
	}

	CInProcessServer& Server() { return m_Server; }
	CGTAServer& Game() { return m_Server.GetServer(); }
	CGTAServerManager* Manager() { return Game().GetGTAManager(); }
	CGTAClient* Record(const VexaTest::CGameClient& Client)
	{
		return static_cast<CGTAClient*>(Game().GetClients().GetMachine(Client.GetIndex()));
	}

	// A registered element of the game at the position; the registry holds it.
	template <class TElement>
	TElement* Add(uint32_t uiType, const CVector3D& vecPosition)
	{
		Strong<CNetObject> pElement = Strong<CNetObject>::New(Manager()->Create(static_cast<int>(uiType)));
		if (pElement.IsNull())
			return nullptr;
		pElement->SetPosition(vecPosition);
		EXPECT_TRUE(Manager()->RegisterNetObject(pElement));
		return static_cast<TElement*>(pElement.GetPointer());
	}

	bool WaitUntilBothHave(int32_t iId) { return m_Sender.WaitForElement(iId, true) && m_Other.WaitForElement(iId, true); }

	// Both clients send the marker about their own players and wait for the other's: the server has then handled
	// everything they sent before. Gives what each received before the marker (element messages included), each
	// game message checked for its channel and reliability, and leaves the clients' queues empty.
	void Settle(std::vector<VexaTest::tReceivedMessage>& ToSender, std::vector<VexaTest::tReceivedMessage>& ToOther)
	{
		m_uiMarker++;
		const std::vector<uint8_t> Mark = {0x4D, 0x41, static_cast<uint8_t>(m_uiMarker), static_cast<uint8_t>(m_uiMarker >> 8)};
		m_Sender.Send(VexaTest::CTestMessage(MARKER_MESSAGE).I32(m_iSenderPed).Bytes(Mark));
		m_Other.Send(VexaTest::CTestMessage(MARKER_MESSAGE).I32(m_iOtherPed).Bytes(Mark));
		ToSender = ReceiveUntilMarker(m_Sender, VexaTest::CTestMessage().I32(m_iOtherPed).Bytes(Mark).GetBytes());
		ToOther = ReceiveUntilMarker(m_Other, VexaTest::CTestMessage().I32(m_iSenderPed).Bytes(Mark).GetBytes());
		ExpectGameDelivery(ToSender);
		ExpectGameDelivery(ToOther);
	}

	std::vector<tRecordedEvent> TakeEvents()
	{
		std::vector<tRecordedEvent> Events;
		Events.swap(m_Events);
		return Events;
	}
	// Handlers of the named event prevent what follows it; an empty name cancels nothing.
	void SetCancelledEvent(const std::string& Name) { m_Cancelled = Name; }

	VexaTest::CGameClient m_Sender;
	VexaTest::CGameClient m_Other;
	int32_t m_iSenderPed = -1;
	int32_t m_iOtherPed = -1;

private:
	void RecordEvents()
	{
		EventHandlers::CEventHandlers* pEvents = Game().GetResourceMgr().GetEventHandlers();
		for (int i = 0; i < GAME_EVENT_COUNT; i++)
		{
			EventHandlers::CEventType* pType = Manager()->GetEventType(static_cast<eGameEvent>(i));
			const std::string Name = pType->GetName();
			pType->AddHandler(new ReplicationTest::CLambdaHandler(pEvents,
				[this, Name](EventHandlers::CEvent* pEvent, const CArgumentArray& Arguments) {
					m_Events.push_back({Name, DescribeArguments(Arguments)});
					if (Name == m_Cancelled)
						ReplicationTest::Cancel(pEvent);
				}));
		}
	}

	std::vector<VexaTest::tReceivedMessage> ReceiveUntilMarker(VexaTest::CGameClient& Client, const std::vector<uint8_t>& Body)
	{
		// What came after an earlier marker belongs to this round.
		std::vector<VexaTest::tReceivedMessage> Messages;
		Messages.swap(m_Later[&Client]);
		// Once a marker is lost the clients are out of step for good; failing at once keeps the test short.
		if (m_bLost)
		{
			ADD_FAILURE() << "an earlier marker did not arrive";
			return Messages;
		}
		// A safety bound, never a measurement.
		const auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
		while (std::chrono::steady_clock::now() < Deadline)
		{
			for (VexaTest::tReceivedMessage& Message : Client.TakeMessages())
				Messages.push_back(std::move(Message));
			for (size_t j = 0; j < Messages.size(); j++)
			{
				if (Messages[j].m_bHasHeader && Messages[j].m_uiId == MARKER_MESSAGE && Messages[j].m_Body == Body)
				{
					m_Later[&Client].assign(Messages.begin() + static_cast<std::ptrdiff_t>(j) + 1, Messages.end());
					Messages.resize(j);
					return Messages;
				}
			}
			// Both clients, so that neither leaves the server's messages unacknowledged while the other waits: the
			// transport would take that for a slow link and hold back what it sends there.
			m_Sender.Service(1);
			m_Other.Service(1);
		}
		ADD_FAILURE() << "the marker did not arrive";
		m_bLost = true;
		return Messages;
	}

	uint8_t m_ucGame;
	unsigned m_uiMarker = 0;
	bool m_bLost = false;
	std::vector<tRecordedEvent> m_Events;
	std::string m_Cancelled;
	std::map<VexaTest::CGameClient*, std::vector<VexaTest::tReceivedMessage>> m_Later;
	// Last, so it goes first: its handlers record into the members above until it is gone.
	CInProcessServer m_Server;
};
}
