#include "LuaScripting/LuaStrongReference.h"

#include <lua.hpp>

#include "LuaScripting/CLuaScripting.h"

CLuaStrongReference::CLuaStrongReference()
	: m_pState(nullptr), m_pOwnerState(nullptr), m_iRef(LUA_NOREF), m_pLanguage(nullptr), m_pPrevious(nullptr),
	  m_pNext(nullptr)
{
}

CLuaStrongReference::~CLuaStrongReference()
{
	Release();
}

void CLuaStrongReference::Set(lua_State* pState, lua_State* pOwnerState)
{
	Release();
	// The registry is shared by the main state and its coroutines, so the value may come from either.
	int iRef = luaL_ref(pState, LUA_REGISTRYINDEX);
	if (iRef < 0)
		return;
	m_pState = pState;
	m_pOwnerState = pOwnerState;
	m_iRef = iRef;
	m_pLanguage = CLuaScripting::FromState(pOwnerState);
	m_pLanguage->LinkReference(this);
}

void CLuaStrongReference::Push(lua_State* pState) const
{
	if (IsSet())
		lua_rawgeti(pState, LUA_REGISTRYINDEX, m_iRef);
	else
		lua_pushnil(pState);
}

void CLuaStrongReference::Release()
{
	if (m_pLanguage == nullptr)
		return;
	if (m_iRef >= 0 && m_pOwnerState != nullptr)
		luaL_unref(m_pOwnerState, LUA_REGISTRYINDEX, m_iRef);
	m_pLanguage->UnlinkReference(this);
	Detach();
}

void CLuaStrongReference::Detach()
{
	m_pLanguage = nullptr;
	m_pPrevious = nullptr;
	m_pNext = nullptr;
	m_pState = nullptr;
	m_pOwnerState = nullptr;
	m_iRef = LUA_NOREF;
}

CArgumentLuaRef::CArgumentLuaRef() : CArgument(ARGUMENT_LUAREF)
{
}

CArgumentLuaRef::CArgumentLuaRef(lua_State* pState, lua_State* pOwnerState) : CArgument(ARGUMENT_LUAREF)
{
	m_Reference.Set(pState, pOwnerState);
}

CArgumentLuaRef::~CArgumentLuaRef() = default;

CArgument* CArgumentLuaRef::Clone() const
{
	CArgumentLuaRef* pClone = new CArgumentLuaRef();
	lua_State* pOwner = m_Reference.GetOwnerState();
	if (m_Reference.IsSet() && lua_checkstack(pOwner, 1))
	{
		m_Reference.Push(pOwner);
		pClone->m_Reference.Set(pOwner, pOwner);
	}
	return pClone;
}
