#pragma once
// The Squirrel language over the shared registry of test natives and classes, with one environment and the log
// captured.

#include <vector>

#include "SquirrelScripting/SqScripting.h"
#include "Support/ScriptHostFixture.h"

// Adds the reflection functions, whoCalls() and the class "Opaque" (no base, no constructor, made by
// makeOpaque(i)); give() hands out copies.
class SqFixture : public ScriptHostFixture
{
protected:
	SqFixture();

	ReflectedClass* m_pOpaqueClass = nullptr;
	// The resource each whoCalls() reported, newest last.
	std::vector<CResource*> m_CallingResources;
};
