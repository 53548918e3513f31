#pragma once
// What replication needs of a connected client and of the table of client slots. The server's client record and
// its table implement these; replication never owns a client and only reaches one through the table or as the
// syncer the server clears when that client leaves.

#include <cstddef>
#include <cstdint>

#include "Network/Packet.h"

class CBaseObject;
class CNetObject;

constexpr int32_t INVALID_CLIENT_ID = -1;
// Slot 255 is the server console.
constexpr size_t MAX_NET_MACHINES = 256;

class INetMachine
{
public:
	// The client as an engine object: handed to scripts as an event argument and held while they run.
	virtual CBaseObject* GetBaseObject() = 0;
	// The slot, 0 to 255, or INVALID_CLIENT_ID.
	virtual int32_t GetIndex() const = 0;
	virtual bool IsJoined() const = 0;
	virtual bool IsConsole() const = 0;
	// Whether elements are created for this client at all.
	virtual bool IsElementStreaming() const = 0;
	// Null when the client has no player element.
	virtual CNetObject* GetPlayer() = 0;
	virtual void SetPlayer(CNetObject* pPlayer) = 0;
	// Tells the client which element is its player.
	virtual void SendPlayer() = 0;
	// Whether the element is on the dimension the client sees (that of its player, -1 without one).
	virtual bool IsObjectOnMyDimension(CNetObject* pObject) = 0;
	// False, with nothing sent, for the console client and without a transport.
	virtual bool SendPacket(Packet* pPacket, ePacketPriority ePriority, ePacketFlags eFlags, uint8_t ucChannel) = 0;

protected:
	~INetMachine() = default;
};

class INetMachines
{
public:
	// Null for an empty slot and for indices outside 0 to 255.
	virtual INetMachine* GetMachine(int32_t iIndex) = 0;
	// The client this process is; INVALID_CLIENT_ID on the server.
	virtual int32_t GetLocalIndex() const = 0;

protected:
	~INetMachines() = default;
};

// Which clients a walk over the client slots visits.
enum eClientWalk
{
	// Every occupied slot, the console's included.
	CLIENTS_CONNECTED,
	// The clients that have joined.
	CLIENTS_JOINED,
	// The joined game clients: the console left out.
	CLIENTS_JOINED_GAME,
};

inline bool IsInWalk(const INetMachine* pClient, eClientWalk eWalk)
{
	switch (eWalk)
	{
	case CLIENTS_JOINED:
		return pClient->IsJoined();
	case CLIENTS_JOINED_GAME:
		return pClient->IsJoined() && !pClient->IsConsole();
	case CLIENTS_CONNECTED:
		break;
	}
	return true;
}

// A walk over a table of client slots for a range-for, from slot 0 up, giving each client of the walk (or, with
// SLOTS, its slot number, which a record put in a slot by hand may not know). Each step reads the table afresh from
// the slot after the one just visited, so a client that arrives or leaves while the walk runs is seen as a loop over
// every slot would see it. A null table has nothing to walk.
template <class TTable, class TClient, bool SLOTS = false>
class CClientWalk
{
public:
	struct tEnd
	{
	};
	class CIterator
	{
	public:
		CIterator(TTable* pTable, eClientWalk eWalk, int32_t iSlot) : m_pTable(pTable), m_eWalk(eWalk), m_iSlot(iSlot)
		{
			MoveFrom(iSlot);
		}
		auto operator*() const
		{
			if constexpr (SLOTS)
				return m_iSlot;
			else
				return m_pTable->GetMachine(m_iSlot);
		}
		CIterator& operator++()
		{
			MoveFrom(m_iSlot + 1);
			return *this;
		}
		bool operator!=(tEnd) const { return m_iSlot < static_cast<int32_t>(MAX_NET_MACHINES); }

	private:
		void MoveFrom(int32_t iSlot)
		{
			for (m_iSlot = m_pTable ? iSlot : static_cast<int32_t>(MAX_NET_MACHINES);
				 m_iSlot < static_cast<int32_t>(MAX_NET_MACHINES); m_iSlot++)
			{
				TClient* pClient = m_pTable->GetMachine(m_iSlot);
				if (pClient && IsInWalk(pClient, m_eWalk))
					return;
			}
		}

		TTable* m_pTable;
		eClientWalk m_eWalk;
		int32_t m_iSlot;
	};

	CClientWalk(TTable* pTable, eClientWalk eWalk) : m_pTable(pTable), m_eWalk(eWalk) {}
	CIterator begin() const { return CIterator(m_pTable, m_eWalk, 0); }
	tEnd end() const { return tEnd(); }
	size_t Count() const
	{
		size_t Count = 0;
		for (CIterator Client = begin(); Client != end(); ++Client)
			Count++;
		return Count;
	}

private:
	TTable* m_pTable;
	eClientWalk m_eWalk;
};
