#pragma once
// The Lua side of engine objects: the per-class record, the per-object binding and the userdata wrapper that a
// script holds.
//
// A wrapper is a full userdata of exactly one pointer whose metatable is its class table. The pointer leads to
// the object's binding while the wrapper holds its one counted reference to the object, and is null once the
// wrapper has let go (its finaliser ran, by the collector or by hand). An object has at most one wrapper that
// scripts can reach; the binding finds it again through a holder table with a weak value, so the registry
// never keeps a wrapper alive.

#include <cstdint>

#include "Engine/BaseObject.h"
#include "LuaScripting/LuaStrongReference.h"

struct lua_State;
class ReflectedClass;

constexpr size_t LUA_TYPE_NAME_SIZE = 64;

// What the language keeps for one class: its class table and its name (at most 63 characters).
struct tLuaType
{
	CLuaStrongReference m_ClassTable;
	char m_szName[LUA_TYPE_NAME_SIZE];
};

class CLuaReferenceable
{
public:
	CLuaReferenceable(tLuaType* pLuaType, lua_State* pState, CBaseObject* pObject);

	// Tells the collector what the object retains beyond what it was told for the current wrapper; called when the
	// wrapper's reference may be all that keeps the object. The collector sees only the small wrapper and would
	// otherwise come round to it as seldom as to any small piece of garbage.
	void ChargeCollector();

	tLuaType* m_pLuaType;
	lua_State* m_pState;
	// The holder table of the current wrapper; nothing held while the object has no live wrapper.
	CLuaStrongReference m_Holder;
	// Not counted by the binding; each wrapper counts its own reference.
	CBaseObject* m_pObject;
	// What the collector was told the current wrapper keeps alive.
	size_t m_ChargedBytes;
};

// Live bindings.
extern int32_t g_iUserDataCount;

// The Lua binding of one object, kept in its script-reference slot and deleted with it.
class CScriptReference : public IUserData
{
public:
	CScriptReference(tLuaType* pLuaType, lua_State* pState, CBaseObject* pObject);
	~CScriptReference() override;

	// The reference left may be the wrapper's.
	void OnSoleReference() override;

	// Pushes the object's wrapper, made when it has none, or nil for a null object or one without a class.
	static void PushObject(CBaseObject* pObject, lua_State* pState);

	CLuaReferenceable m_Lua;
};

// The class table's "__gc": lets the wrapper's reference go, once.
int LuaFunctionObjectGC(lua_State* pState);
