#pragma once
// A replicated element: the part of every element class that the replication manager registers under a network
// id, creates on the clients it streams in for, keeps in sync through one client (its syncer) and destroys
// everywhere. Also the script value that refers to an element by its network id.

#include <cstddef>
#include <cstdint>
#include <string>

#include "Engine/BaseObject.h"
#include "Engine/KestrinArguments.h"
#include "Engine/KestrinArray.h"
#include "Engine/KestrinMath.h"
#include "Multiplayer/NetMachineInterface.h"

class CNetObjectMgr;
class CResource;
class Stream;

constexpr int32_t INVALID_NETWORK_ID = -1;
constexpr size_t MAX_NET_OBJECT_CHILDREN = 8;

enum eNetObjectFlags : uint16_t
{
	NETFLAG_REGISTERED = 0x0001,
	NETFLAG_DELETING = 0x0002,
	NETFLAG_ON_ALL_DIMENSIONS = 0x0004,
	NETFLAG_FORCED_SYNCER = 0x0008,
	NETFLAG_FIND_SYNCER = 0x0010,
	NETFLAG_SEND_SYNC = 0x0020,
	NETFLAG_DISTANCE_STREAMING = 0x0040,
	NETFLAG_ALWAYS_EXIST_FOR_SYNCER = 0x0080,
	NETFLAG_DEFAULT_EXISTANCE = 0x0100,
	NETFLAG_TRANSIENT = 0x0200,
	NETFLAG_ONLY_SYNC_IF_DETACHED = 0x0400,
	NETFLAG_NETWORKED = 0x0800,
};

// The bits construction sets; bits 12 to 15 are not ours and are left alone.
constexpr uint16_t NETFLAG_DEFINED_MASK = 0x0FFF;
constexpr uint16_t NETFLAG_DEFAULTS = NETFLAG_FIND_SYNCER | NETFLAG_SEND_SYNC | NETFLAG_DEFAULT_EXISTANCE | NETFLAG_NETWORKED;

// What one element is for one client slot.
struct tMachineInfo
{
	enum : uint8_t
	{
		CREATED = 0x01,
		DIRTY = 0x02,
		EXISTS_FOR = 0x04,
		SKIP_DISTANCE = 0x08,
		STATE_MASK = 0x0F,
	};

	// Exists-for only; the unused high bits are kept.
	void Reset() { m_ucState = static_cast<uint8_t>((m_ucState & ~STATE_MASK) | EXISTS_FOR); }
	bool Has(uint8_t ucBit) const { return (m_ucState & ucBit) != 0; }
	void Set(uint8_t ucBit, bool bOn) { m_ucState = static_cast<uint8_t>(bOn ? (m_ucState | ucBit) : (m_ucState & ~ucBit)); }

	uint8_t m_ucState;
};

class CNetObject : public CBaseObject
{
public:
	explicit CNetObject(CNetObjectMgr* pManager);
	~CNetObject() override;

	ReflectedClass* GetReflectedClass() override;
	// An element value holding this element and its current network id.
	CArgument* CreateArgument() override;
	// The element and its data.
	size_t GetRetainedBytes() const override;

	virtual bool SetParent(CNetObject* pParent);
	// Undoes what registration gave: parent, children and name. Called when the element is unregistered.
	virtual void Remove();
	virtual bool ReadCreatePacket(Stream* pStream);
	virtual bool ReadSyncPacket(Stream* pStream);
	virtual bool WriteCreatePacket(Stream* pStream);
	virtual bool WriteSyncPacket(Stream* pStream);
	virtual bool CanBeDeleted();
	virtual bool CanSendSync();
	// Whether this element's sync may go to that client.
	virtual bool CanSendSync(INetMachine* pClient);
	virtual bool CanBeSyncer(INetMachine* pClient);
	virtual bool CanExistForMachine(INetMachine* pClient);
	virtual bool SetPosition(const CVector3D& vecPosition);
	// False: an element without a position never streams by distance.
	virtual bool GetPosition(CVector3D& vecPosition);
	virtual bool SetRotation(const CVector3D& vecRotation);
	virtual bool GetRotation(CVector3D& vecRotation);
	// Called once registration has given the element its slot and id.
	virtual void OnCreated();

	// Null or empty removes the name.
	void SetName(const char* szName);
	// Null when unnamed.
	const char* GetName() const { return m_Name.empty() ? nullptr : m_Name.c_str(); }
	size_t GetNameLength() const { return m_Name.size(); }

	// Stores a copy (a nil value removes the key) and, with bSendToClients, tells the clients that have the
	// element. A value that has no wire form is refused with an error, as is a new key beyond what a block can
	// count; nothing is sent then.
	bool SetData(const char* szKey, const CArgument* pValue, bool bSendToClients);
	bool RemoveData(const char* szKey);
	void ClearData();
	// Borrowed; null when absent.
	CArgument* GetData(const char* szKey) const { return m_Data.Get(szKey); }
	const CArgumentMap& GetDataMap() const { return m_Data; }

	void SetDimension(int32_t iDimension);
	int32_t GetDimension() const { return m_iDimension; }
	// The parent's dimension when attached, else the element's own.
	int32_t GetRootDimension() const;

	void SetSyncer(INetMachine* pClient, bool bForced);
	// Leaves a forced syncer alone.
	void SetSyncer(INetMachine* pClient);
	void SetSyncerId(int32_t iClientIndex);
	INetMachine* GetSyncer() const { return m_pSyncer; }
	bool IsSyncer();
	bool IsOwner();

	int32_t GetId() const { return m_iId; }
	// Not on the network: no id.
	bool IsLocal() const { return m_iId == INVALID_NETWORK_ID; }
	bool WriteIdentifier(Stream* pStream);
	bool GetDistanceToMachine(INetMachine* pClient, float& fDistance);
	// The square of the distance GetDistanceToMachine measures, from a point where the client's player stands;
	// false when this element has no position.
	bool GetDistanceSquaredTo(const CVector3D& vecPoint, float& fDistanceSquared);

	void SetCreatedFor(INetMachine* pClient, bool bCreated);
	bool IsCreatedFor(INetMachine* pClient) const;
	// For every client slot.
	void SetDirty(bool bDirty);
	void SetDirty(INetMachine* pClient, bool bDirty);
	bool IsDirty(INetMachine* pClient) const;
	void SetExistsFor(INetMachine* pClient, bool bExists);
	bool IsExistsFor(INetMachine* pClient) const;
	bool IsSkipDistanceFor(INetMachine* pClient) const;
	// Sets the exists-for bit for every client slot.
	void ClearExistsFor();
	void ResetMachine(INetMachine* pClient);
	void ResetMachines();
	bool IsCreatedForAnyone() const { return m_usHolderCount != 0; }
	tMachineInfo GetMachineInfo(size_t Index) const { return Index < MAX_NET_MACHINES ? m_rgMachines[Index] : tMachineInfo{0}; }

	uint32_t GetType() const { return m_uiType; }
	bool IsType(uint32_t uiType) const { return (m_uiType & uiType) == uiType; }

	uint16_t GetNetFlags() const { return m_usNetFlags; }
	void SetNetFlags(uint16_t usFlags) { m_usNetFlags = usFlags; }
	bool HasNetFlag(eNetObjectFlags eFlag) const { return (m_usNetFlags & eFlag) != 0; }
	void SetNetFlag(eNetObjectFlags eFlag, bool bOn)
	{
		m_usNetFlags = static_cast<uint16_t>(bOn ? (m_usNetFlags | eFlag) : (m_usNetFlags & ~eFlag));
	}
	bool IsRegistered() const { return HasNetFlag(NETFLAG_REGISTERED); }
	bool IsDeleting() const { return HasNetFlag(NETFLAG_DELETING); }

	CNetObject* GetParent() const { return m_pParent; }
	size_t GetChildCount() const { return m_Children.GetCount(); }
	// Null for an empty child slot.
	CNetObject* GetChild(size_t Slot) const;
	int32_t GetPendingParentId() const { return m_iPendingParentId; }

	float GetStreamInDistance() const { return m_fStreamInDistance; }
	void SetStreamInDistance(float fDistance);
	float GetStreamOutDistance() const { return m_fStreamOutDistance; }
	void SetStreamOutDistance(float fDistance);
	// For a squared distance from GetDistanceSquaredTo: exactly whether its square root (the distance) is below
	// the stream-in distance, or above the stream-out distance, without taking the root.
	bool IsWithinStreamInDistance(float fDistanceSquared) const { return fDistanceSquared < m_fStreamInBoundSquared; }
	bool IsBeyondStreamOutDistance(float fDistanceSquared) const { return fDistanceSquared >= m_fStreamOutBoundSquared; }

	CResource* GetResource() const;
	void SetResource(CResource* pResource);
	CNetObjectMgr* GetManager() const { return m_pManager; }
	uint32_t GetLastSyncTime() const { return m_uiLastSyncTime; }

protected:
	void SetType(uint32_t uiType) { m_uiType = uiType; }

private:
	friend class CNetObjectMgr;

	// Manager only: also keeps the manager's id map.
	void SetId(int32_t iId);
	void SetSlot(size_t Slot) { m_Slot = Slot; }
	size_t GetSlot() const { return m_Slot; }
	// Detaches a child without a message to anyone (the child is going away with its parent).
	void Orphan(CNetObject* pChild);
	// Every change of a created bit goes through these, so the count of holders and the manager's record of held
	// elements stay in step with the bits.
	void SetCreated(tMachineInfo& Info, bool bCreated);
	void SetCreatedForAll();
	void SetHolderCount(size_t Count);
	// Builds the message that changes one element: the count 1 and this element's id come first.
	void BeginElementMessage(Packet& Message);
	void SendElementMessage(Packet& Message);
	void TouchSyncTime();

	CNetObjectMgr* m_pManager;
	Weak<CResource> m_pResource;
	uint32_t m_uiType;
	size_t m_Slot;
	int32_t m_iId;
	INetMachine* m_pSyncer;
	int32_t m_iPendingParentId;
	int32_t m_iDimension;
	CNetObject* m_pParent;
	Array<CNetObject*> m_Children;
	std::string m_Name;
	uint32_t m_uiLastSyncTime;
	uint16_t m_usNetFlags;
	tMachineInfo m_rgMachines[MAX_NET_MACHINES];
	// The client slots whose created bit is set.
	uint16_t m_usHolderCount;
	float m_fStreamInDistance;
	float m_fStreamOutDistance;
	// The smallest squared distance whose root reaches the stream-in distance, and the smallest whose root passes
	// the stream-out distance (NaN when none does): kept with the distances so the per-pass checks compare
	// squares and give the answers the roots would.
	float m_fStreamInBoundSquared;
	float m_fStreamOutBoundSquared;
	CArgumentMap m_Data;
};

// Tag 6: an element named by its network id. Holds a counted reference to the element so a script value keeps it
// alive; on the wire it is only the id, which the reading side resolves through its manager.
class CArgumentNetObject : public CArgumentObject
{
public:
	CArgumentNetObject(CNetObject* pObject, CNetObjectMgr* pManager, int32_t iId);

	bool Read(Stream* pStream) override;
	bool GetSize(size_t& Size) const override;
	bool Write(Stream* pStream) const override;
	CArgument* Clone() const override;

	CNetObject* GetNetObject() const;
	int32_t GetId() const { return m_iId; }

private:
	CNetObjectMgr* m_pManager;
	int32_t m_iId;
};
