#include "LuaScripting/LuaReferenceable.h"

#include <lua.hpp>

#include "Engine/KAssert.h"
#include "Engine/Reflection.h"
#include "LuaScripting/CLuaScripting.h"
#include "LuaScripting/CLuaUtil.h"

int32_t g_iUserDataCount = 0;

CLuaReferenceable::CLuaReferenceable(tLuaType* pLuaType, lua_State* pState, CBaseObject* pObject)
	: m_pLuaType(pLuaType), m_pState(pState), m_pObject(pObject), m_ChargedBytes(0)
{
}

void CLuaReferenceable::ChargeCollector()
{
	// No live wrapper (or the language has closed): nothing for the collector to free.
	if (!m_Holder.IsSet())
		return;
	// The binding goes with the object.
	const size_t Bytes = m_pObject->GetRetainedBytes() + sizeof(CScriptReference);
	if (Bytes <= m_ChargedBytes)
		return;
	CLuaScripting::FromState(m_Holder.GetOwnerState())->AddCollectorDebt(Bytes - m_ChargedBytes);
	m_ChargedBytes = Bytes;
}

CScriptReference::CScriptReference(tLuaType* pLuaType, lua_State* pState, CBaseObject* pObject)
	: m_Lua(pLuaType, pState, pObject)
{
	g_iUserDataCount++;
}

CScriptReference::~CScriptReference()
{
	g_iUserDataCount--;
	// Every wrapper counts a reference, so an object normally dies with no wrapper left. Should one remain, it is
	// emptied rather than left pointing at this binding.
	if (m_Lua.m_Holder.IsSet())
	{
		lua_State* pState = m_Lua.m_Holder.GetOwnerState();
		if (lua_checkstack(pState, 5))
		{
			m_Lua.m_Holder.Push(pState);
			lua_rawgeti(pState, -1, 1);
			CLuaReferenceable** ppSlot = CLuaUtil::GetWrapper(pState, -1);
			if (ppSlot != nullptr && *ppSlot == &m_Lua)
				*ppSlot = nullptr;
			lua_pop(pState, 2);
		}
	}
}

void CScriptReference::OnSoleReference()
{
	m_Lua.ChargeCollector();
}

void CScriptReference::PushObject(CBaseObject* pObject, lua_State* pState)
{
	if (pObject == nullptr)
	{
		lua_pushnil(pState);
		return;
	}
	CLuaScripting* pLua = CLuaScripting::FromState(pState);
	CScriptReference* pBinding = static_cast<CScriptReference*>(pObject->GetScriptReference());
	if (pBinding == nullptr)
	{
		ReflectedClass* pClass = pObject->GetReflectedClass();
		if (pClass == nullptr)
		{
			lua_pushnil(pState);
			return;
		}
		tLuaType* pLuaType = pLua->GetLuaType(pClass);
		if (!KASSERT(pLuaType))
		{
			lua_pushnil(pState);
			return;
		}
		pBinding = new CScriptReference(pLuaType, pLua->GetState(), pObject);
		pObject->AddScriptReference(pBinding);
	}
	CLuaReferenceable* pReferenceable = &pBinding->m_Lua;
	luaL_checkstack(pState, 4, nullptr);

	if (pReferenceable->m_Holder.IsSet())
	{
		pReferenceable->m_Holder.Push(pState);
		lua_rawgeti(pState, -1, 1);
		if (!lua_isnil(pState, -1))
		{
			lua_remove(pState, -2);
			return;
		}
		// The last wrapper became garbage (its finaliser may still be pending): the holder takes a new one.
		lua_pop(pState, 1);
	}
	else
	{
		lua_createtable(pState, 1, 0);
		lua_createtable(pState, 0, 1);
		lua_pushliteral(pState, "v");
		lua_setfield(pState, -2, "__mode");
		lua_setmetatable(pState, -2);
		lua_pushvalue(pState, -1);
		pReferenceable->m_Holder.Set(pState, pLua->GetState());
	}

	// Holder on top. The slot stays empty until the reference is taken, after the last allocation.
	CLuaReferenceable** ppSlot =
		static_cast<CLuaReferenceable**>(lua_newuserdata(pState, sizeof(CLuaReferenceable*)));
	*ppSlot = nullptr;
	pReferenceable->m_pLuaType->m_ClassTable.Push(pState);
	lua_setmetatable(pState, -2);
	lua_pushvalue(pState, -1);
	lua_rawseti(pState, -3, 1);
	lua_remove(pState, -2);
	// A new handle: whatever earlier ones were charged for, the collector must come round to this one as well.
	pReferenceable->m_ChargedBytes = 0;
	if (pObject->AddRef() == 1)
		pReferenceable->ChargeCollector();
	*ppSlot = pReferenceable;
}

int LuaFunctionObjectGC(lua_State* pState)
{
	if (lua_type(pState, 1) != LUA_TUSERDATA || !CLuaUtil::IsA(pState, 1, lua_upvalueindex(2)))
	{
		const char* szGot;
		if (luaL_getmetafield(pState, 1, "__name") == LUA_TSTRING)
			szGot = lua_tostring(pState, -1);
		else if (lua_type(pState, 1) == LUA_TLIGHTUSERDATA)
			szGot = "light userdata";
		else
			szGot = luaL_typename(pState, 1);
		const char* szMessage =
			lua_pushfstring(pState, "%s expected, got %s", lua_tostring(pState, lua_upvalueindex(1)), szGot);
		return luaL_argerror(pState, 1, szMessage);
	}

	CLuaReferenceable** ppSlot = CLuaUtil::GetWrapper(pState, 1);
	if (ppSlot == nullptr || *ppSlot == nullptr)
		return 0;
	CLuaReferenceable* pReferenceable = *ppSlot;
	*ppSlot = nullptr;

	// The holder is this wrapper's unless a newer wrapper took it over while this one awaited finalisation.
	if (pReferenceable->m_Holder.IsSet())
	{
		pReferenceable->m_Holder.Push(pState);
		lua_rawgeti(pState, -1, 1);
		bool bOwnHolder = lua_isnil(pState, -1) || lua_rawequal(pState, -1, 1);
		lua_pop(pState, 2);
		if (bOwnHolder)
			pReferenceable->m_Holder.Release();
	}
	pReferenceable->m_pObject->Release();
	return 0;
}
