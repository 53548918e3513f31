#pragma once
// The Squirrel binding of one engine object. An object has at most one Squirrel instance at a time; the instance
// holds one reference on the object (taken when the instance is bound, dropped by its release hook) and carries
// the address of the binding's tSquirrelReferenceable part as its user pointer.

#include <squirrel.h>

#include "Engine/BaseObject.h"
#include "SquirrelScripting/tSquirrelStrongReference.h"

struct tSquirrelType;

struct tSquirrelReferenceable
{
	// Not counted by this field: the instance's reference is.
	CBaseObject* m_pObject;
	tSquirrelType* m_pType;
	// The current instance, not referenced (a weak handle); the null object when there is none.
	HSQOBJECT m_Instance;
};

// Kept in the object's Squirrel slot and deleted with the object.
class CSqScriptReference : public IUserData, public tSquirrelReferenceable
{
public:
	CSqScriptReference(CBaseObject* pObject, tSquirrelType* pType, CSqVMHandle* pVM);
	// An instance can only outlive its object when the object was destroyed by force; it is then cut loose so
	// that neither a member access nor its release hook reaches the freed object.
	~CSqScriptReference() override;

	static CSqScriptReference* FromUserPointer(SQUserPointer p)
	{
		return p ? static_cast<CSqScriptReference*>(static_cast<tSquirrelReferenceable*>(p)) : nullptr;
	}
	SQUserPointer GetUserPointer() { return static_cast<tSquirrelReferenceable*>(this); }

	bool HasInstance() const { return !sq_isnull(m_Instance); }

	// Makes the instance at Index (on v) this object's current instance: user pointer, release hook and one
	// reference on the object.
	void Bind(HSQUIRRELVM v, SQInteger Index);

	// The release hook of every bound instance: forgets the instance and drops its reference on the object.
	static SQInteger Finalise(SQUserPointer p, SQInteger Size);

	Strong<CSqVMHandle> m_pVM;
};
