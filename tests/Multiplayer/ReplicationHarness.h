#pragma once
// The shared set-up of the replication tests: a resource manager for the element events, a transport and client
// table that record every message instead of sending it, test elements with a settable position, and handlers
// written as lambdas.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "Engine/Context.h"
#include "Multiplayer/NetObject.h"
#include "Multiplayer/NetObjectMgr.h"
#include "Network/NetCompatibilityShim.h"
#include "Network/NetSystem.h"
#include "Scripting/EventHandlers.h"
#include "Scripting/ResourceMgr.h"
#include "Support/TestMessage.h"

namespace ReplicationTest
{
using VexaTest::CTestMessage;

struct tSent
{
	std::vector<uint8_t> m_Bytes;
	ePacketPriority m_ePriority;
	ePacketFlags m_eFlags;
	uint8_t m_ucChannel;

	uint32_t GetId() const
	{
		return m_Bytes.size() >= 8 ? static_cast<uint32_t>(m_Bytes[4] | m_Bytes[5] << 8 | m_Bytes[6] << 16 | m_Bytes[7] << 24) : 0;
	}
};

inline tSent Record(Packet* pPacket, ePacketPriority ePriority, ePacketFlags eFlags, uint8_t ucChannel)
{
	const uint8_t* pData = pPacket->GetData();
	return tSent{std::vector<uint8_t>(pData, pData + pPacket->GetSize()), ePriority, eFlags, ucChannel};
}

// Messages of one id among those recorded.
inline std::vector<tSent> OfId(const std::vector<tSent>& Sent, uint32_t uiId)
{
	std::vector<tSent> Result;
	for (const tSent& Message : Sent)
	{
		if (Message.GetId() == uiId)
			Result.push_back(Message);
	}
	return Result;
}

// Records what would go to every peer.
class CFakeTransport : public CNetSystem
{
public:
	bool Connect(const char*, uint16_t) override { return false; }
	void Disconnect(void*, unsigned) override {}
	void Update() override {}
	bool SendPacket(void*, Packet* pPacket, ePacketPriority ePriority, ePacketFlags eFlags, uint8_t ucChannel) override
	{
		m_Sent.push_back(Record(pPacket, ePriority, eFlags, ucChannel));
		return true;
	}
	bool GetIPAddress(void*, CIPAddress&) override { return false; }
	uint32_t GetLastPing(void*) override { return 0; }

	std::vector<tSent> m_Sent;
};

class CFakeClient : public CBaseObject, public INetMachine
{
public:
	explicit CFakeClient(int32_t iIndex) : m_iIndex(iIndex) {}

	CBaseObject* GetBaseObject() override { return this; }
	int32_t GetIndex() const override { return m_iIndex; }
	bool IsJoined() const override { return m_bJoined; }
	bool IsConsole() const override { return m_bConsole; }
	bool IsElementStreaming() const override { return m_bStreaming; }
	CNetObject* GetPlayer() override { return m_pPlayer.Get(); }
	void SetPlayer(CNetObject* pPlayer) override { m_pPlayer = pPlayer; }
	void SendPlayer() override { m_iSendPlayerCalls++; }
	bool IsObjectOnMyDimension(CNetObject* pObject) override
	{
		int32_t iMine = m_pPlayer.Get() ? m_pPlayer->GetRootDimension() : -1;
		return iMine == pObject->GetRootDimension();
	}
	bool SendPacket(Packet* pPacket, ePacketPriority ePriority, ePacketFlags eFlags, uint8_t ucChannel) override
	{
		if (m_bConsole)
			return false;
		m_Sent.push_back(Record(pPacket, ePriority, eFlags, ucChannel));
		return true;
	}

	int32_t m_iIndex;
	bool m_bJoined = true;
	bool m_bConsole = false;
	bool m_bStreaming = true;
	Weak<CNetObject> m_pPlayer;
	int m_iSendPlayerCalls = 0;
	std::vector<tSent> m_Sent;
};

class CFakeClients : public INetMachines
{
public:
	INetMachine* GetMachine(int32_t iIndex) override
	{
		if (iIndex < 0 || iIndex >= static_cast<int32_t>(MAX_NET_MACHINES))
			return nullptr;
		return m_rgClients[iIndex].GetPointer();
	}
	int32_t GetLocalIndex() const override { return INVALID_CLIENT_ID; }

	Strong<CFakeClient> m_rgClients[MAX_NET_MACHINES];
};

class CTestElement : public CNetObject
{
public:
	explicit CTestElement(CNetObjectMgr* pManager, uint32_t uiType = 0) : CNetObject(pManager) { SetType(uiType); }

	bool SetPosition(const CVector3D& vecPosition) override
	{
		m_vecPosition = vecPosition;
		m_bHasPosition = true;
		return true;
	}
	bool GetPosition(CVector3D& vecPosition) override
	{
		if (!m_bHasPosition)
			return false;
		vecPosition = m_vecPosition;
		return true;
	}
	bool CanBeDeleted() override { return m_bCanBeDeleted; }

	CVector3D m_vecPosition;
	bool m_bHasPosition = false;
	bool m_bCanBeDeleted = true;
};

class CTestManager : public CNetObjectMgr
{
public:
	using CNetObjectMgr::CNetObjectMgr;
	void SetNextId(int32_t iId) { m_iNextId = iId; }
};

class CLambdaHandler : public EventHandlers::CEventHandler
{
public:
	typedef std::function<void(EventHandlers::CEvent*, const CArgumentArray&)> tFunction;

	CLambdaHandler(EventHandlers::CEventHandlers* pOwner, tFunction Function) :
		CEventHandler(pOwner, nullptr, nullptr), m_Function(Function)
	{
	}
	void Execute(EventHandlers::CEvent* pEvent, const char*, const CArgumentArray& Arguments) override
	{
		m_Function(pEvent, Arguments);
	}

	tFunction m_Function;
};

inline void Cancel(EventHandlers::CEvent* pEvent)
{
	static_cast<EventHandlers::CCancellableEvent*>(pEvent)->PreventDefault();
}

inline CNetObject* ElementArgument(const CArgumentArray& Arguments)
{
	CArgument* pValue = Arguments.GetAt(0);
	return pValue ? static_cast<CNetObject*>(pValue->ToObject()) : nullptr;
}

class ReplicationFixture : public ::testing::Test
{
protected:
	ReplicationFixture() : m_Resources(&m_Context), m_Manager(&m_Resources, true)
	{
		m_Manager.SetServerSink(&m_Shim, &m_Transport);
		m_Manager.SetNetMachines(&m_Clients);
	}

	CFakeClient* AddClient(int32_t iIndex, bool bJoined = true)
	{
		m_Clients.m_rgClients[iIndex] = Strong<CFakeClient>::New(new CFakeClient(iIndex));
		m_Clients.m_rgClients[iIndex]->m_bJoined = bJoined;
		return m_Clients.m_rgClients[iIndex];
	}

	Strong<CTestElement> NewElement(uint32_t uiType = 0, bool bRegister = true)
	{
		Strong<CTestElement> pElement = Strong<CTestElement>::New(new CTestElement(&m_Manager, uiType));
		if (bRegister)
		{
			EXPECT_TRUE(m_Manager.RegisterNetObject(pElement));
		}
		return pElement;
	}

	// A player element for the client at a position, created for it so that distances can be measured.
	Strong<CTestElement> GivePlayer(CFakeClient* pClient, const CVector3D& vecPosition)
	{
		Strong<CTestElement> pPlayer = NewElement();
		pPlayer->SetPosition(vecPosition);
		pClient->SetPlayer(pPlayer);
		return pPlayer;
	}

	void OnEvent(EventHandlers::CEventType* pType, CLambdaHandler::tFunction Function)
	{
		pType->AddHandler(new CLambdaHandler(m_Resources.GetEventHandlers(), Function));
	}

	void ClearSent()
	{
		m_Transport.m_Sent.clear();
		for (auto& pClient : m_Clients.m_rgClients)
		{
			if (pClient)
				pClient->m_Sent.clear();
		}
	}

	Context m_Context;
	CResourceMgr m_Resources;
	CNetCompatibilityShim m_Shim;
	CFakeTransport m_Transport;
	CFakeClients m_Clients;
	CTestManager m_Manager;
};
}
