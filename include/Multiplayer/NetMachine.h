#pragma once
// The server's record of one connected client (name, game, address, slot, player element, client data and
// rights) and the table of the 256 client slots, slot 255 being the server console. Both implement what
// replication needs of a client; the messages that publish a client's changes to every client live here too.

#include <cstddef>
#include <cstdint>
#include <string>

#include "Engine/BaseObject.h"
#include "Engine/KestrinArguments.h"
#include "Engine/KestrinReference.h"
#include "Multiplayer/NetMachineInterface.h"
#include "Network/NetSystem.h"
#include "Network/Packet.h"

class CNetObject;
class CNetObjectMgr;
class Stream;

// Message ids of the client messages; every one goes to every connected peer but 5, which goes to its client.
enum eNetMachineMessage : uint32_t
{
	NETMACHINE_MESSAGE_OWN_PLAYER = 5,
	NETMACHINE_MESSAGE_DATA = 26,
	NETMACHINE_MESSAGE_DATA_CLEARED = 27,
	NETMACHINE_MESSAGE_PLAYER = 28,
	NETMACHINE_MESSAGE_FLAGS = 36,
};

class CNetMachine : public CBaseObject, public INetMachine
{
public:
	enum : uint8_t
	{
		FLAG_ADMINISTRATOR = 0x01,
		FLAG_CONSOLE = 0x02,
	};

	explicit CNetMachine(CNetObjectMgr* pManager);
	~CNetMachine() override;

	CNetMachine(const CNetMachine&) = delete;
	CNetMachine& operator=(const CNetMachine&) = delete;

	// The script class "Client" of the manager, when it has one.
	ReflectedClass* GetReflectedClass() override;

	// INetMachine.
	CBaseObject* GetBaseObject() override { return this; }
	int32_t GetIndex() const override { return m_iIndex; }
	bool IsJoined() const override { return m_bJoined; }
	bool IsConsole() const override { return m_bConsole; }
	bool IsElementStreaming() const override { return m_bElementStreaming; }
	// The weak reference, or the element the remembered player id names now.
	CNetObject* GetPlayer() override;
	// Same player: nothing. Otherwise the player takes the client's name and every client hears of the change.
	void SetPlayer(CNetObject* pPlayer) override;
	// Message 5 to this client: its player's id when that element is created for it, else -1.
	void SendPlayer() override;
	bool IsObjectOnMyDimension(CNetObject* pObject) override;
	bool SendPacket(Packet* pPacket, ePacketPriority ePriority, ePacketFlags eFlags, uint8_t ucChannel) override;

	// Destroys the player element (with a destroy message) and forgets it.
	void DespawnPlayer();

	void SetName(const char* szName);
	const char* GetName() const { return m_Name.c_str(); }
	size_t GetNameLength() const { return m_Name.size(); }

	// Tag 0 removes the key. A value that cannot travel on the wire (or cannot be copied) is refused with false and
	// nothing is sent, so no client is sent bytes it cannot read past.
	bool SetData(const char* szKey, const CArgument* pValue, bool bSendToClients);
	bool RemoveData(const char* szKey);
	void ClearData();
	// Borrowed; null when absent.
	CArgument* GetData(const char* szKey) const { return m_Data.Get(szKey); }
	const CArgumentMap& GetDataMap() const { return m_Data; }

	// Message 36 with the flags to everyone.
	void SendUpdate();
	// The client block that describes this client to others.
	bool Write(Stream* pStream);
	uint8_t GetFlags() const;

	CNetObjectMgr* GetManager() const { return m_pManager; }
	void SetIndex(int32_t iIndex) { m_iIndex = iIndex; }
	void* GetPeer() const { return m_pPeer; }
	void SetPeer(void* pPeer) { m_pPeer = pPeer; }
	const CIPAddress& GetAddress() const { return m_Address; }
	void SetAddress(const CIPAddress& Address) { m_Address = Address; }
	const char* GetGameName() const { return m_GameName.c_str(); }
	void SetGameName(const char* szGameName) { m_GameName = szGameName ? szGameName : ""; }
	int32_t GetGame() const { return m_iGame; }
	void SetGame(int32_t iGame) { m_iGame = iGame; }
	int32_t GetGameVersion() const { return m_iGameVersion; }
	void SetGameVersion(int32_t iGameVersion) { m_iGameVersion = iGameVersion; }
	int32_t GetPlayerId() const { return m_iPlayerId; }
	void SetJoined(bool bJoined) { m_bJoined = bJoined; }
	bool IsAdministrator() const { return m_bAdministrator; }
	void SetAdministrator(bool bAdministrator) { m_bAdministrator = bAdministrator; }
	void SetConsole(bool bConsole) { m_bConsole = bConsole; }
	void SetElementStreaming(bool bStreaming) { m_bElementStreaming = bStreaming; }

private:
	// The server's transport, or null on a client or before the server gave the manager one.
	CNetSystem* GetServerNetSystem() const;
	bool SendToEveryone(Packet* pPacket);
	// On the server, tells every client the key's value; a null value says the key was removed.
	void SendData(const char* szKey, const CArgument* pValue);

	CNetObjectMgr* m_pManager;
	CIPAddress m_Address;
	void* m_pPeer;
	std::string m_GameName;
	int32_t m_iGame;
	int32_t m_iGameVersion;
	int32_t m_iIndex;
	std::string m_Name;
	Weak<CNetObject> m_pPlayer;
	int32_t m_iPlayerId;
	CArgumentMap m_Data;
	bool m_bJoined;
	bool m_bAdministrator;
	bool m_bConsole;
	bool m_bElementStreaming;
};

// The 256 client slots, each holding one reference to its client.
class CNetMachines : public INetMachines
{
public:
	CNetMachines();
	~CNetMachines();

	CNetMachines(const CNetMachines&) = delete;
	CNetMachines& operator=(const CNetMachines&) = delete;

	// INetMachines.
	CNetMachine* GetMachine(int32_t iIndex) override;
	int32_t GetLocalIndex() const override { return m_iLocalIndex; }

	const CNetMachine* GetMachine(int32_t iIndex) const;
	// The client whose transport peer is pPeer; null for a null peer and when none is.
	CNetMachine* GetMachineFromPeer(void* pPeer) const;
	void SetLocalIndex(int32_t iIndex) { m_iLocalIndex = iIndex; }
	// Takes a reference to the client (null empties the slot); false for an index outside 0 to 255.
	bool SetMachine(int32_t iIndex, CNetMachine* pMachine);
	// The lowest empty slot below Limit (at most 256), or INVALID_CLIENT_ID.
	int32_t FindFreeSlot(int32_t iLimit) const;
	// Empties the slots from 255 down to 0.
	void Clear();

	// The clients of the walk in slot order, for a range-for:
	//   for (CNetMachine* pClient : Clients(CLIENTS_JOINED))
	CClientWalk<CNetMachines, CNetMachine> Clients(eClientWalk eWalk) { return {this, eWalk}; }
	CClientWalk<const CNetMachines, const CNetMachine> Clients(eClientWalk eWalk) const { return {this, eWalk}; }
	// The same walk giving slot numbers.
	CClientWalk<const CNetMachines, const CNetMachine, true> ClientSlots(eClientWalk eWalk) const { return {this, eWalk}; }

private:
	int32_t m_iLocalIndex;
	Strong<CNetMachine> m_rgMachines[MAX_NET_MACHINES];
};
