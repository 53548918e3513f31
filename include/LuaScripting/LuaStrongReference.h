#pragma once
// An owned reference to one Lua value in the registry, and the script value (tag 13) that holds a Lua value the
// engine has no counterpart for.
//
// Every reference that holds a value is listed with its language. When the language closes its state, the
// references still alive are detached: they forget the state without touching it, so an engine object that
// outlives the language (held by another language, say) never reaches into freed memory.

#include <cstdint>

#include "Engine/KestrinArguments.h"

struct lua_State;
class CLuaScripting;

class CLuaStrongReference
{
public:
	CLuaStrongReference();
	// Releases the reference while the language still exists.
	~CLuaStrongReference();

	CLuaStrongReference(const CLuaStrongReference&) = delete;
	CLuaStrongReference& operator=(const CLuaStrongReference&) = delete;

	// Releases a held reference, then pops the value on top of pState into the registry; pOwnerState (the main
	// state) is the one the reference is later released through. A nil value leaves nothing held.
	void Set(lua_State* pState, lua_State* pOwnerState);
	// Pushes the value, or nil when nothing is held.
	void Push(lua_State* pState) const;
	void Release();
	// False when nothing is held, also once the language has closed.
	bool IsSet() const { return m_iRef >= 0 && m_pOwnerState != nullptr; }
	lua_State* GetOwnerState() const { return m_pOwnerState; }

	lua_State* m_pState;
	lua_State* m_pOwnerState;
	// -1 for none.
	int32_t m_iRef;

private:
	friend class CLuaScripting;

	// Forgets state and reference without touching them: the state is gone.
	void Detach();

	CLuaScripting* m_pLanguage;
	CLuaStrongReference* m_pPrevious;
	CLuaStrongReference* m_pNext;
};

// A Lua value the engine cannot represent (a coroutine, a foreign userdata), held for a later return to Lua.
// Nothing of it crosses the wire.
class CArgumentLuaRef : public CArgument
{
public:
	CArgumentLuaRef();
	// Takes the value on top of pState.
	CArgumentLuaRef(lua_State* pState, lua_State* pOwnerState);
	~CArgumentLuaRef() override;

	// A new value with its own reference to the same Lua value.
	CArgument* Clone() const override;

	CLuaStrongReference m_Reference;
};
