#pragma once
// The Squirrel class of one reflected class. The class object's type tag is the address of this record, which is
// how an instance is recognised as a wrapper of an engine object.

#include "SquirrelScripting/tSquirrelStrongReference.h"

class CSqScripting;
class ReflectedClass;

struct tSquirrelType
{
	tSquirrelType(CSqScripting* pOwner, ReflectedClass* pClass) : m_pOwner(pOwner), m_pClass(pClass) {}
	// Unregisters itself from its language (when that still exists) and releases the class object.
	~tSquirrelType();

	tSquirrelType(const tSquirrelType&) = delete;
	tSquirrelType& operator=(const tSquirrelType&) = delete;

	tSquirrelStrongReference m_Class;
	// Null once the language is gone.
	CSqScripting* m_pOwner;
	ReflectedClass* m_pClass;
};
