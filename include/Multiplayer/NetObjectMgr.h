#pragma once
// The registry and replication engine of elements: network ids and the 16384 element slots, the name and id
// lookups, creating elements on each client as they stream in, removing them as they stream out, sending their
// sync, electing syncers and destroying elements everywhere.

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "Engine/KestrinArguments.h"
#include "Engine/KestrinArray.h"
#include "Engine/KestrinReference.h"
#include "Multiplayer/NetMachineInterface.h"
#include "Multiplayer/NetObject.h"
#include "Network/Packet.h"

class CNetCompatibilityShim;
class CNetSystem;
class CResourceMgr;
class ReflectedClass;
class Stream;

namespace EventHandlers
{
class CEventType;
}

constexpr size_t MAX_NET_OBJECTS = 16384;
// Element blocks and message counts carry 16-bit lengths.
constexpr size_t MAX_NET_BLOCK_SIZE = 0xFFFF;
constexpr size_t MAX_NET_DATA_ENTRIES = 0xFFFF;

// The message ids replication sends.
enum eNetObjectMessage : unsigned
{
	NETMSG_SYNC = 4,
	NETMSG_OWN_PLAYER = 5,
	NETMSG_CREATE = 12,
	NETMSG_DESTROY = 13,
	NETMSG_SYNCER = 14,
	NETMSG_PARENT = 16,
	NETMSG_NAME = 19,
	NETMSG_DATA = 23,
	NETMSG_DATA_CLEARED = 24,
	NETMSG_DIMENSION = 30,
};

// The resource manager (and its event registry) must outlive the replication manager.
class CNetObjectMgr : public IArgumentResolver
{
public:
	CNetObjectMgr(CResourceMgr* pResourceMgr, bool bServer);
	virtual ~CNetObjectMgr();

	CNetObjectMgr(const CNetObjectMgr&) = delete;
	CNetObjectMgr& operator=(const CNetObjectMgr&) = delete;

	// The element factory; null here, the game's manager makes its element classes.
	virtual CNetObject* Create(int iType);
	// Element values (tag 6) read from the wire resolve their ids here.
	CArgument* CreateArgument(uint8_t ucType) override;

	// Also true for an element that is already registered. A destroyed element cannot come back.
	bool RegisterNetObject(CNetObject* pObject);
	// The caller's pointer may be dangling afterwards unless it holds a reference of its own.
	bool DestroyObject(CNetObject* pObject, bool bSend, bool bForce);
	// Destroys a transient element that no client has any more.
	bool PossiblyDeleteObject(CNetObject* pObject);

	// Null for a negative or unknown id; with a mask, only an element whose type contains every bit of it.
	CNetObject* FromId(int32_t iId, uint32_t uiTypeMask) const;
	bool DoesIdExist(int32_t iId) const;
	// The element the name map holds for exactly that name.
	CNetObject* FromName(const char* szName) const;

	// Whether the element may be created on that client now; asks scripts last (OnElementStreamIn).
	bool OnStreamObjectInForClient(CNetObject* pObject, INetMachine* pClient);
	// A type mask of 0 means every type.
	void CreateObjectsAsNeeded(INetMachine* pClient, uint32_t uiTypeMask);
	// Creates one element on one client at once.
	void SendCreatePacket(INetMachine* pClient, CNetObject* pObject);
	void DeleteFarAwayStuff(INetMachine* pClient);
	void SendSync(INetMachine* pClient, ePacketPriority ePriority, ePacketFlags eFlags);
	// Gives every element that looks for a syncer and has none the lowest client slot it is created for. Only
	// elements that some client slot has are looked at, so the cost follows what the clients hold.
	void ElectSyncers();

	// While one lives, SendSync writes each element's sync entry once and copies those bytes into the message of
	// every further client that gets the element, instead of writing the same entry again for each of them. The
	// entries are those of the moment each is first written: nothing may change an element's sync state (no
	// message handled, no script run) while a pass is open, which holds for the run of SendSync calls that make
	// up one main-loop pass.
	class CSyncPass
	{
	public:
		explicit CSyncPass(CNetObjectMgr& Manager);
		~CSyncPass();

		CSyncPass(const CSyncPass&) = delete;
		CSyncPass& operator=(const CSyncPass&) = delete;

	private:
		CNetObjectMgr& m_Manager;
	};

	// To every joined, non-console client that has the element.
	bool SendObjectRelatedPacket(Packet* pPacket, CNetObject* pObject);
	// To every connected peer.
	bool SendEveryonePacket(Packet* pPacket);
	bool SendPacketExcluding(Packet* pPacket, INetMachine* pExcept, uint8_t ucChannel);
	// Client side only: to the server.
	bool SendHostPacket(Packet* pPacket);

	// A uint16 count, then each entry as key, tag and payload.
	static bool WriteData(const CArgumentMap& Data, Stream* pStream);
	bool ReadData(CArgumentMap& Data, Stream* pStream);
	// Null or nil removes the key; anything else is stored as a copy. Values that have no wire form, and new keys
	// beyond what a block can count, are refused with an error.
	static bool SetData(CArgumentMap& Data, const char* szKey, const CArgument* pValue);
	// Whether the value can be written to the wire (and so read back by a client).
	static bool IsEncodable(const CArgument* pValue);

	// The server's transport sink; pTransport, when given, is used for sending instead of the sink's own.
	void SetServerSink(CNetCompatibilityShim* pSink, CNetSystem* pTransport = nullptr);
	void SetClientSink(CNetCompatibilityShim* pSink, CNetSystem* pTransport = nullptr);
	CNetCompatibilityShim* GetServerSink() const { return m_pServerSink; }
	CNetCompatibilityShim* GetClientSink() const { return m_pClientSink; }
	// What replication sends through: the sink's transport unless another one was given.
	CNetSystem* GetServerTransport() const { return m_pServerTransport; }
	CNetSystem* GetClientTransport() const { return m_pClientTransport; }
	void SetNetMachines(INetMachines* pMachines) { m_pNetMachines = pMachines; }
	INetMachines* GetNetMachines() const { return m_pNetMachines; }
	// Null on the server.
	INetMachine* GetLocalMachine() const;
	INetMachine* GetMachine(int32_t iIndex) const { return m_pNetMachines ? m_pNetMachines->GetMachine(iIndex) : nullptr; }
	// The clients of the walk in slot order, for a range-for; none without a client table.
	CClientWalk<INetMachines, INetMachine> Clients(eClientWalk eWalk) const { return {m_pNetMachines, eWalk}; }
	CClientWalk<INetMachines, INetMachine, true> ClientSlots(eClientWalk eWalk) const { return {m_pNetMachines, eWalk}; }

	CResourceMgr* GetResourceMgr() const { return m_pResourceMgr; }
	bool IsServer() const { return m_bServer; }

	size_t GetObjectCount() const { return m_Objects.GetCount(); }
	size_t GetSlotCount() const { return m_Objects.GetSize(); }
	// Null for a free slot.
	CNetObject* GetObjectAt(size_t Slot) const { return m_Objects.IsUsedAt(Slot) ? m_Objects.GetAt(Slot) : nullptr; }
	// The first used slot at or after Slot, or GetSlotCount() when there is none. Walking the table with it visits
	// exactly the slots a walk over every slot would find used, in the same order, even when the elements visited
	// register or destroy others, at a cost that follows the number of elements rather than the table's size.
	size_t GetNextUsedSlot(size_t Slot) const;
	// As GetNextUsedSlot, over the slots whose element is created for at least one client slot. A walk that
	// only wants elements some client has (or one client has) visits them in the same order at a cost that
	// follows how many are held, even when what it visits changes what is held.
	size_t GetNextHeldSlot(size_t Slot) const;

	// A walk over slots for a range-for, each step asking for the next slot after the one just visited and the
	// table's end read afresh, so what the body registers or destroys is seen as GetNextUsedSlot describes:
	//   for (size_t Slot : UsedSlots())
	class CSlotRange
	{
	public:
		using NextSlot = size_t (CNetObjectMgr::*)(size_t) const;
		struct tEnd
		{
		};
		class CIterator
		{
		public:
			CIterator(const CNetObjectMgr* pManager, NextSlot pfnNext, size_t Slot) :
				m_pManager(pManager), m_pfnNext(pfnNext), m_Slot(Slot)
			{
			}
			size_t operator*() const { return m_Slot; }
			CIterator& operator++()
			{
				m_Slot = (m_pManager->*m_pfnNext)(m_Slot + 1);
				return *this;
			}
			bool operator!=(tEnd) const { return m_Slot < m_pManager->GetSlotCount(); }

		private:
			const CNetObjectMgr* m_pManager;
			NextSlot m_pfnNext;
			size_t m_Slot;
		};

		CSlotRange(const CNetObjectMgr* pManager, NextSlot pfnNext) : m_pManager(pManager), m_pfnNext(pfnNext) {}
		CIterator begin() const { return CIterator(m_pManager, m_pfnNext, (m_pManager->*m_pfnNext)(0)); }
		tEnd end() const { return tEnd(); }

	private:
		const CNetObjectMgr* m_pManager;
		NextSlot m_pfnNext;
	};
	// Every used slot, lowest first.
	CSlotRange UsedSlots() const { return CSlotRange(this, &CNetObjectMgr::GetNextUsedSlot); }
	// The used slots whose element some client slot has, lowest first.
	CSlotRange HeldSlots() const { return CSlotRange(this, &CNetObjectMgr::GetNextHeldSlot); }

	CNetObject* GetLocalPlayer() const { return m_pLocalPlayer.Get(); }
	void SetLocalPlayer(CNetObject* pPlayer) { m_pLocalPlayer = pPlayer; }

	ReflectedClass* GetClientClass() const { return m_pClientClass; }
	ReflectedClass* GetElementClass() const { return m_pElementClass; }
	ReflectedClass* GetNetObjectFlagsClass() const { return m_pNetObjectFlagsClass; }

	EventHandlers::CEventType* GetOnElementStreamIn() const { return m_pOnElementStreamIn; }
	EventHandlers::CEventType* GetOnElementStreamOut() const { return m_pOnElementStreamOut; }
	EventHandlers::CEventType* GetOnElementDestroy() const { return m_pOnElementDestroy; }

protected:
	// The element and client script interface: the classes "Client", "Element" and "NetObjectFlags" with their
	// members, and the global element and client functions. Run once, when the manager is built.
	void RegisterFunctions();

	int32_t NextAvailableId();

	// The next id to try.
	int32_t m_iNextId;

	// The script classes; null until the element and client script interface is registered.
	ReflectedClass* m_pClientClass;
	ReflectedClass* m_pElementClass;
	ReflectedClass* m_pNetObjectFlagsClass;

private:
	friend class CNetObject;

	void UnregisterNetObject(CNetObject* pObject);
	void DoAttachments(CNetObject* pObject);
	// What the streaming checks need of one client: its slot and where its player stands. Read once per walk
	// over the elements and again after every script the walk runs, so each (client, element) check costs no
	// call into the client and no square root, and gives the answers the calls would.
	struct tStreamingView
	{
		void Refresh(INetMachine* pClient);
		// The element's state byte for the client; all clear for a client outside the table.
		tMachineInfo InfoOf(const CNetObject* pObject) const;

		INetMachine* m_pClient = nullptr;
		size_t m_Index = MAX_NET_MACHINES;
		bool m_bHasPlayerPosition = false;
		CVector3D m_vecPlayerPosition;
	};
	bool ShouldExistForMachine(CNetObject* pObject, const tStreamingView& View);
	bool ShouldDeleteForMachine(CNetObject* pObject, const tStreamingView& View);
	bool SendDeletePacket(CNetObject* pObject);
	// Appends {uint16 length, block} for one element; false, with nothing appended, when the block does not fit.
	bool AppendCreateBlock(Packet& Message, CNetObject* pObject);
	bool AppendSyncBlock(Packet& Message, CNetObject* pObject);
	// The sync entries of the elements due to the client, each appended as {uint16 length, block}; how many.
	size_t AppendSyncEntries(Packet& Message, INetMachine* pClient);
	// AppendSyncBlock through the open pass's entries: written on the element's first use in the pass, copied after.
	bool AppendPassSyncEntry(Packet& Message, CNetObject* pObject, size_t Slot);
	// Triggers a cancellable element event; true when a handler prevented the default.
	bool TriggerCancellable(EventHandlers::CEventType* pType, CNetObject* pObject, INetMachine* pClient);
	// The element is gone or going since the caller last looked: registered, not deleting, with an id.
	static bool IsLive(CNetObject* pObject);

	// Name and id map upkeep, for CNetObject.
	void SetNameEntry(const std::string& Name, CNetObject* pObject);
	void EraseNameEntry(const std::string& Name);
	void EraseNameEntryOf(const std::string& Name, CNetObject* pObject);
	void SetIdEntry(int32_t iId, CNetObject* pObject);
	void EraseIdEntryOf(int32_t iId, CNetObject* pObject);
	void OnObjectCreated(CNetObject* pObject) { m_LiveObjects.insert(pObject); }
	// An element being freed: nothing may keep pointing at it, even when it was never unregistered.
	void ForgetObject(CNetObject* pObject);
	// The slot table's changes, made only through these so the used-slot and held-slot bits stay in step.
	bool TakeSlot(CNetObject* pObject, size_t& Slot);
	void FreeSlot(size_t Slot);
	// For CNetObject: the element became created for its first client slot, or for none any more.
	void OnHoldersChanged(CNetObject* pObject);

	// One bit per element slot, and one bit per non-zero word of those, so a walk over the set slots skips the
	// clear ones a word at a time.
	class CSlotBits
	{
	public:
		void Set(size_t Slot, bool bOn);
		// The first set slot at or after Slot; MAX_NET_OBJECTS when there is none.
		size_t Next(size_t Slot) const;
		void Clear();

	private:
		static constexpr size_t WORD_BITS = 64;
		static constexpr size_t WORDS = MAX_NET_OBJECTS / WORD_BITS;
		static constexpr size_t SUMMARY_WORDS = (WORDS + WORD_BITS - 1) / WORD_BITS;
		uint64_t m_rguiSlots[WORDS] = {};
		uint64_t m_rguiWords[SUMMARY_WORDS] = {};
	};

	CResourceMgr* m_pResourceMgr;
	bool m_bServer;
	CNetCompatibilityShim* m_pClientSink;
	CNetCompatibilityShim* m_pServerSink;
	CNetSystem* m_pClientTransport;
	CNetSystem* m_pServerTransport;
	INetMachines* m_pNetMachines;
	Array<CNetObject*> m_Objects;
	// Beside the slot table and kept in step with it, so the walks of every pass skip what they need not visit:
	// the used slots, and among them those whose element is created for some client slot (an element nobody has
	// needs no syncer, no sync and no stream-out).
	CSlotBits m_UsedSlots;
	CSlotBits m_HeldSlots;
	std::unordered_map<int32_t, CNetObject*> m_IdMap;
	std::unordered_map<std::string, CNetObject*> m_NameMap;
	// Every element made with this manager and not yet freed, so the manager's end can detach the survivors.
	std::unordered_set<CNetObject*> m_LiveObjects;
	Weak<CNetObject> m_pLocalPlayer;
	EventHandlers::CEventType* m_pOnElementStreamIn;
	EventHandlers::CEventType* m_pOnElementStreamOut;
	EventHandlers::CEventType* m_pOnElementDestroy;

	// The open sync pass: each element's entry {uint16 length, block} once, by slot. An entry belongs to the pass
	// whose number it carries, so nothing needs clearing between passes; 0 means no pass is open.
	struct tPassSyncEntry
	{
		CNetObject* m_pObject;
		uint32_t m_uiPass;
		uint32_t m_uiOffset;
		uint32_t m_uiSize;
	};
	uint32_t m_uiSyncPass;
	uint32_t m_uiLastSyncPass;
	std::vector<tPassSyncEntry> m_PassSyncEntries;
	std::vector<uint8_t> m_PassSyncBytes;
};
