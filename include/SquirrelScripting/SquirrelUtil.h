#pragma once
// Small helpers shared by the Squirrel units.

#include <new>

#include <squirrel.h>

#include "Engine/KestrinArguments.h"

namespace SquirrelUtil
{
// Arrays and maps nest at most this deep in a conversion, either way; a deeper value fails the conversion.
constexpr unsigned MAX_VALUE_DEPTH = ARGUMENT_MAX_ENCODED_DEPTH;

// The text of memory the engine cannot get during a call from a script.
constexpr const char* OUT_OF_MEMORY = "not enough memory";

// Runs the body of a native closure. Memory the engine cannot get becomes a script error: the exception must not
// unwind through the VM, whose state it would leave half changed.
template <class TBody>
SQInteger RunGuarded(HSQUIRRELVM v, TBody Body)
{
	try
	{
		return Body();
	}
	catch (const std::bad_alloc&)
	{
	}
	return sq_throwerror(v, OUT_OF_MEMORY);
}

// The stack position of Index counted from the bottom, so it stays valid while values are pushed.
inline SQInteger AbsoluteIndex(HSQUIRRELVM v, SQInteger Index)
{
	return Index < 0 ? sq_gettop(v) + Index + 1 : Index;
}

// Pushes a native closure with the nFree values on top of the stack as its free variables (they are taken off the
// stack). Squirrel takes them from the top down, so the value pushed last is the first free variable: the one at
// the lowest stack position during a call. With a mask, Squirrel checks the number and kinds of the parameters,
// "this" included, before the call.
void PushClosure(HSQUIRRELVM v, SQFUNCTION pfnFunction, SQUnsignedInteger nFree, const char* szName,
	const char* szMask = nullptr);

// table[szName] = the value on top of the stack (popped); the table is the value just below it.
void SetSlot(HSQUIRRELVM v, const char* szName);
}
