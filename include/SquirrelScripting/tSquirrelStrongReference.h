#pragma once
// A counted handle on one Squirrel object, and the token through which every such handle learns that the VM has
// been closed.

#include <squirrel.h>

#include "Engine/KestrinReference.h"

// The main VM as seen by handles that may outlive it (function values, references held in engine values, class
// records released at shutdown). The language nulls the VM before it closes it, so a late release does nothing
// instead of touching a freed VM.
class CSqVMHandle : public CRefCounted
{
public:
	explicit CSqVMHandle(HSQUIRRELVM pVM) : m_pVM(pVM) {}

	HSQUIRRELVM GetVM() const { return m_pVM; }
	void Close() { m_pVM = nullptr; }

private:
	HSQUIRRELVM m_pVM;
};

struct tSquirrelStrongReference
{
	tSquirrelStrongReference();
	~tSquirrelStrongReference() { Clear(); }

	tSquirrelStrongReference(const tSquirrelStrongReference&) = delete;
	tSquirrelStrongReference& operator=(const tSquirrelStrongReference&) = delete;
	// Takes the other handle's reference over, leaving it empty.
	tSquirrelStrongReference(tSquirrelStrongReference&& Other) noexcept;

	// Empties the handle, then releases the object through the main VM (when that is still open). Safe to call
	// again from whatever the release sets off.
	void Clear();
	// Takes a reference on the value at Index of v's stack, releasing the old one first.
	void Set(HSQUIRRELVM v, SQInteger Index, CSqVMHandle* pReleaseVM);
	// Takes a reference of its own on the object of another handle.
	void CopyFrom(const tSquirrelStrongReference& Other);
	// Pushes the object, or null when the handle is empty.
	void Push(HSQUIRRELVM v) const;

	bool IsNull() const { return sq_isnull(m_Object); }
	// True while the VM the object lives in is open.
	bool IsAlive() const { return !m_pReleaseVM.IsNull() && m_pReleaseVM->GetVM() != nullptr; }
	const HSQOBJECT& GetObject() const { return m_Object; }
	HSQUIRRELVM GetVM() const { return m_pVM; }
	CSqVMHandle* GetReleaseVM() const { return m_pReleaseVM; }

	// The VM on which the reference was taken.
	HSQUIRRELVM m_pVM;
	Strong<CSqVMHandle> m_pReleaseVM;
	HSQOBJECT m_Object;
};
