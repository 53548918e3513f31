#pragma once
// The base of every object a script can hold: attachment slots for each script language's binding, the set of
// weak pointers that must be nulled when it dies, and its reflected class.

#include <atomic>
#include <unordered_set>

#include "Engine/KestrinReference.h"

class CArgument;
class ReflectedClass;
namespace Kestrin3D
{
namespace Interfaces
{
class IBaseObject;
}
}

class CBaseObject : public CRefCounted
{
public:
	CBaseObject();
	~CBaseObject() override;

	// Objects come from here, so that the constructor can learn the size of the block it was built in.
	static void* operator new(size_t Size);
	static void* operator new(size_t Size, const std::nothrow_t&) noexcept;
	static void operator delete(void* p) noexcept;
	static void operator delete(void* p, const std::nothrow_t&) noexcept;

	intptr_t Release() override;
	virtual ReflectedClass* GetReflectedClass() { return m_pReflectedClass; }
	// A new script value (count 1) holding a reference to this object.
	virtual CArgument* CreateArgument();

	bool IsA(ReflectedClass* pClass);
	void SetReflectedClass(ReflectedClass* pClass) { m_pReflectedClass = pClass; }

	void CreateReference(CBaseObject** ppCell);
	void RemoveReference(CBaseObject** ppCell);
	void PruneReferences();
	void ResolveReferences();

	// Destroys the object now, whatever its count.
	void Obliterate();
	bool IsBeingDestroyed() const { return m_bDestroying; }

	void AddUserData(IUserData* pData);
	void AddScriptReference(IUserData* pData);
	void AddJSScriptReference(IUserData* pData);
	void AddSqScriptReference(IUserData* pData);
	IUserData* GetUser() const { return m_pUser; }
	IUserData* GetScriptReference() const { return m_pScriptReference; }
	IUserData* GetJSScriptReference() const { return m_pJSScriptReference; }
	IUserData* GetSqScriptReference() const { return m_pSqScriptReference; }
	void ClearJSScriptReference();

	void SetPrivate(void* p) { m_pPrivate = p; }
	void* GetPrivate() const { return m_pPrivate; }

	// The plug-in-facing wrapper of this object; plug-in modules fill it in when they first ask for it.
	Kestrin3D::Interfaces::IBaseObject* GetBaseObjectInterface() const { return m_pModuleInterface; }
	void SetBaseObjectInterface(Kestrin3D::Interfaces::IBaseObject* pInterface) { m_pModuleInterface = pInterface; }

	size_t GetWeakReferenceCount() const;

	// The engine memory this object keeps alive: its own block and what it owns. A garbage-collected script
	// language sees only the small handle a script holds; once that handle is all that keeps the object, the
	// language tells its collector this much, so that the collector comes round in time to free it.
	virtual size_t GetRetainedBytes() const;
	// Objects constructed and not yet destroyed, in the whole process.
	static size_t GetLiveCount() { return s_LiveCount.load(std::memory_order_relaxed); }

private:
	static std::atomic<size_t> s_LiveCount;

	bool m_bDestroying;
	// The size of the block the object was made in; 0 for one that lives on the stack or inside another.
	uint32_t m_uiBlockSize;
	void* m_pPrivate;
	IUserData* m_pUser;
	IUserData* m_pScriptReference;
	IUserData* m_pJSScriptReference;
	IUserData* m_pSqScriptReference;
	// The cells of the weak pointers to this object: the first few in the object itself (a native call's receiver
	// is one, on every call of a method), any more in the set. Null slots are free.
	CBaseObject** m_rgppWeakCells[2];
	std::unordered_set<CBaseObject**> m_WeakReferences;
	ReflectedClass* m_pReflectedClass;
	Kestrin3D::Interfaces::IBaseObject* m_pModuleInterface;
};

// A named object; nothing in this server sets or reads the identity, it only gives resources a common base.
class Identifiable : public CBaseObject
{
public:
	Identifiable();
	~Identifiable() override;

	uint32_t GetIdentity() const { return m_uiIdentity; }
	const char* GetShortName() const { return m_szShortName; }

private:
	uint32_t m_uiIdentity;
	char m_szShortName[32];
};
