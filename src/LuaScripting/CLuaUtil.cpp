#include "LuaScripting/CLuaUtil.h"

#include <climits>
#include <cstring>
#include <new>
#include <lua.hpp>

#include "Engine/Defines.h"
#include "Engine/KAssert.h"
#include "Engine/KError.h"
#include "Engine/KestrinString.h"
#include "Engine/Reflection.h"
#include "Engine/ScriptClasses.h"
#include "LuaScripting/CLuaScripting.h"
#include "LuaScripting/LuaReferenceable.h"

namespace
{
// The address is the registry key of the set of class tables.
const char s_ClassTablesKey = 0;

const char* const SHUTTING_DOWN = "Scripting is shutting down";

// The text of a string key, or of a number key converted on a copy that stays pushed; null for other keys.
const char* GetKeyText(lua_State* pState, int iIndex)
{
	switch (lua_type(pState, iIndex))
	{
	case LUA_TSTRING:
		return lua_tostring(pState, iIndex);
	case LUA_TNUMBER:
		lua_pushvalue(pState, iIndex);
		return lua_tostring(pState, -1);
	default:
		return nullptr;
	}
}

// The key as it appears in member errors; any key has a text here.
const char* GetKeyForMessage(lua_State* pState, int iIndex, const char* szKeyText)
{
	return szKeyText != nullptr ? szKeyText : luaL_tolstring(pState, iIndex, nullptr);
}

// Class "__index": a property of the class or its bases, else the class table's own field.
int LuaFunctionObjectIndex(lua_State* pState)
{
	lua_settop(pState, 2);
	if (!CLuaScripting::FromState(pState)->IsClosing())
	{
		ReflectedClass* pClass = static_cast<ReflectedClass*>(lua_touserdata(pState, lua_upvalueindex(2)));
		const char* szKey = GetKeyText(pState, 2);
		ReflectedProperty* pProperty = szKey != nullptr ? pClass->GetProperty(szKey) : nullptr;
		if (pProperty != nullptr)
		{
			lua_settop(pState, 1);
			return LuaFunctionGeneric(pState, 1, 1, &pProperty->m_Getter, true, pProperty->m_pUserData);
		}
		lua_settop(pState, 2);
	}
	lua_rawget(pState, lua_upvalueindex(1));
	return 1;
}

// Class "__newindex": wrappers carry no fields of their own, only properties.
int LuaFunctionObjectNewIndex(lua_State* pState)
{
	lua_settop(pState, 3);
	if (CLuaScripting::FromState(pState)->IsClosing())
		return luaL_error(pState, "%s", SHUTTING_DOWN);
	ReflectedClass* pClass = static_cast<ReflectedClass*>(lua_touserdata(pState, lua_upvalueindex(2)));
	const char* szKey = GetKeyText(pState, 2);
	ReflectedProperty* pProperty = szKey != nullptr ? pClass->GetProperty(szKey) : nullptr;
	if (pProperty == nullptr)
		return luaL_error(pState, "property '%s' not found", GetKeyForMessage(pState, 2, szKey));
	if (pProperty->IsReadOnly())
		return luaL_error(pState, "property '%s' readonly", szKey);
	lua_settop(pState, 3);
	lua_remove(pState, 2);
	LuaFunctionGeneric(pState, 1, 2, &pProperty->m_Setter, true, pProperty->m_pUserData);
	return 0;
}

int LuaFunctionObjectToString(lua_State* pState)
{
	lua_settop(pState, 1);
	if (CLuaScripting::FromState(pState)->IsClosing())
		return luaL_error(pState, "%s", SHUTTING_DOWN);
	ReflectedClass* pClass = static_cast<ReflectedClass*>(lua_touserdata(pState, lua_upvalueindex(1)));
	return LuaFunctionGeneric(pState, 1, 1, &pClass->m_ToString.m_Function, true, pClass->m_ToString.m_pUserData);
}

int LuaFunctionObjectIsA(lua_State* pState)
{
	lua_pushboolean(pState, CLuaUtil::IsA(pState, 1, 2));
	return 1;
}

// The handle of the environment a namespace's metamethod belongs to: its third upvalue.
uintptr_t EnvironmentOf(lua_State* pState)
{
	return reinterpret_cast<uintptr_t>(lua_touserdata(pState, lua_upvalueindex(3)));
}

// Namespace "__index": a namespace property, else the metatable's field (the global variables of scripts).
int LuaFunctionNamespaceIndex(lua_State* pState)
{
	lua_settop(pState, 2);
	if (!CLuaScripting::FromState(pState)->IsClosing())
	{
		ReflectedNamespace* pNamespace =
			static_cast<ReflectedNamespace*>(lua_touserdata(pState, lua_upvalueindex(2)));
		const char* szKey = GetKeyText(pState, 2);
		ReflectedProperty* pProperty = szKey != nullptr ? pNamespace->GetProperty(szKey) : nullptr;
		if (pProperty != nullptr)
		{
			lua_settop(pState, 0);
			return LuaFunctionGeneric(pState, 1, 0, &pProperty->m_Getter, false, pProperty->m_pUserData, nullptr,
				EnvironmentOf(pState));
		}
		lua_settop(pState, 2);
	}
	lua_rawget(pState, lua_upvalueindex(1));
	return 1;
}

// Namespace "__newindex": a namespace property's setter, else a new global variable (global namespace only).
int LuaFunctionNamespaceNewIndex(lua_State* pState)
{
	lua_settop(pState, 3);
	CLuaScripting* pLua = CLuaScripting::FromState(pState);
	ReflectedNamespace* pNamespace = static_cast<ReflectedNamespace*>(lua_touserdata(pState, lua_upvalueindex(2)));
	const char* szKey = nullptr;
	ReflectedProperty* pProperty = nullptr;
	if (!pLua->IsClosing())
	{
		szKey = GetKeyText(pState, 2);
		pProperty = szKey != nullptr ? pNamespace->GetProperty(szKey) : nullptr;
	}
	if (pProperty != nullptr)
	{
		if (pProperty->IsReadOnly())
			return luaL_error(pState, "property '%s' readonly", szKey);
		lua_settop(pState, 3);
		LuaFunctionGeneric(pState, 3, 1, &pProperty->m_Setter, false, pProperty->m_pUserData, nullptr,
			EnvironmentOf(pState));
		return 0;
	}
	if (pNamespace == pLua->GetScripting()->GetGlobal())
	{
		lua_settop(pState, 3);
		lua_rawset(pState, lua_upvalueindex(1));
		return 0;
	}
	return luaL_error(pState, "property '%s' not found", GetKeyForMessage(pState, 2, szKey));
}

void SetClosure(lua_State* pState, int iTable, const char* szName, lua_CFunction pfnFunction, int iUpvalues)
{
	lua_pushcclosure(pState, pfnFunction, iUpvalues);
	lua_setfield(pState, iTable, szName);
}

void DeleteLuaType(void** ppSlot)
{
	delete static_cast<tLuaType*>(*ppSlot);
	*ppSlot = nullptr;
}

// Hands the value to the map, or releases it when the map cannot take it. Containers being filled are let go by
// hand on an exception, with no destructor of their own: a Lua error leaves the conversion by a long jump.
void SetOrRelease(CArgumentMap* pMap, const char* szKey, CArgument* pValue)
{
	try
	{
		pMap->Set(szKey, pValue);
	}
	catch (const std::bad_alloc&)
	{
		pValue->Release();
		throw;
	}
}
}

// Class tables

void CLuaUtil::DefineClass(lua_State* pState, const char* szName, int iParentIndex, bool bCallable)
{
	if (iParentIndex != 0)
		iParentIndex = lua_absindex(pState, iParentIndex);
	int iConstructor = lua_gettop(pState);
	lua_newtable(pState);
	int iClass = lua_gettop(pState);
	if (iParentIndex != 0)
	{
		lua_pushnil(pState);
		while (lua_next(pState, iParentIndex) != 0)
		{
			lua_pushvalue(pState, -2);
			lua_insert(pState, -2);
			lua_rawset(pState, iClass);
		}
		lua_pushvalue(pState, iParentIndex);
		lua_setfield(pState, iClass, "_base");
	}
	lua_pushstring(pState, szName);
	lua_setfield(pState, iClass, "__name");
	lua_pushvalue(pState, iClass);
	lua_setfield(pState, iClass, "__index");
	if (bCallable)
	{
		lua_createtable(pState, 0, 1);
		lua_pushvalue(pState, iConstructor);
		lua_setfield(pState, -2, "__call");
		lua_setmetatable(pState, iClass);
	}
}

bool CLuaUtil::IsA(lua_State* pState, int iObjectIndex, int iClassIndex)
{
	iObjectIndex = lua_absindex(pState, iObjectIndex);
	iClassIndex = lua_absindex(pState, iClassIndex);
	if (!lua_checkstack(pState, 2) || !lua_getmetatable(pState, iObjectIndex))
		return false;
	bool bFound = false;
	for (int i = 0; i < MAX_CLASS_DEPTH && lua_type(pState, -1) == LUA_TTABLE; i++)
	{
		if (lua_rawequal(pState, -1, iClassIndex))
		{
			bFound = true;
			break;
		}
		lua_pushliteral(pState, "_base");
		lua_rawget(pState, -2);
		lua_remove(pState, -2);
	}
	lua_pop(pState, 1);
	return bFound;
}

void CLuaUtil::CreateClassTableSet(lua_State* pState)
{
	lua_newtable(pState);
	lua_rawsetp(pState, LUA_REGISTRYINDEX, &s_ClassTablesKey);
}

void CLuaUtil::AddClassTable(lua_State* pState, int iIndex)
{
	iIndex = lua_absindex(pState, iIndex);
	lua_rawgetp(pState, LUA_REGISTRYINDEX, &s_ClassTablesKey);
	lua_pushvalue(pState, iIndex);
	lua_pushboolean(pState, 1);
	lua_rawset(pState, -3);
	lua_pop(pState, 1);
	CLuaScripting::FromState(pState)->AddClassTable(lua_topointer(pState, iIndex));
}

CLuaReferenceable** CLuaUtil::GetWrapper(lua_State* pState, int iIndex)
{
	// The size cannot be forged by a script, the metatable only through the debug library: both must match.
	if (lua_type(pState, iIndex) != LUA_TUSERDATA || lua_rawlen(pState, iIndex) != sizeof(CLuaReferenceable*))
		return nullptr;
	iIndex = lua_absindex(pState, iIndex);
	if (!lua_checkstack(pState, 1) || !lua_getmetatable(pState, iIndex))
		return nullptr;
	const bool bClassTable = CLuaScripting::FromState(pState)->IsClassTable(lua_topointer(pState, -1));
	lua_pop(pState, 1);
	return bClassTable ? static_cast<CLuaReferenceable**>(lua_touserdata(pState, iIndex)) : nullptr;
}

CBaseObject* CLuaUtil::GetObject(lua_State* pState, int iIndex)
{
	CLuaReferenceable** ppSlot = GetWrapper(pState, iIndex);
	return (ppSlot != nullptr && *ppSlot != nullptr) ? (*ppSlot)->m_pObject : nullptr;
}

// Classes and namespaces

tLuaType* CLuaScripting::GetLuaType(ReflectedClass* pClass)
{
	void** ppSlot = pClass->m_UserData.GetUserData(m_uiId);
	return ppSlot != nullptr ? static_cast<tLuaType*>(*ppSlot) : nullptr;
}

bool CLuaScripting::DefineClasses(ReflectedNamespace* pNamespace)
{
	lua_State* pState = m_pState;
	for (ReflectedClass* pClass : pNamespace->GetClasses())
	{
		if (GetLuaType(pClass) != nullptr)
			continue;
		int iTop = lua_gettop(pState);
		int iParent = 0;
		if (pClass->GetBaseClass() != nullptr)
		{
			tLuaType* pLuaType = GetLuaType(pClass->GetBaseClass());
			if (!KASSERT(pLuaType))
				return false;
			pLuaType->m_ClassTable.Push(pState);
			iParent = lua_gettop(pState);
		}
		const ReflectedFunction& Constructor = pClass->m_Constructor;
		if (Constructor.IsPresent())
		{
			PushLuaNativeFunction(pState, &Constructor.m_Function, Constructor.m_pUserData, 0);
			lua_pushcclosure(pState, LuaFunctionThiscall, 1);
		}
		CLuaUtil::DefineClass(pState, pClass->GetName(), iParent, Constructor.IsPresent());
		int iClass = lua_gettop(pState);

		tLuaType* pLuaType = new tLuaType();
		_strlcpy(pLuaType->m_szName, pClass->GetName() != nullptr ? pClass->GetName() : "", LUA_TYPE_NAME_SIZE);
		lua_pushvalue(pState, iClass);
		pLuaType->m_ClassTable.Set(pState, pState);
		void** ppSlot = pClass->m_UserData.AddUserData(m_uiId, DeleteLuaType);
		if (ppSlot == nullptr)
		{
			delete pLuaType;
			lua_settop(pState, iTop);
			return false;
		}
		*ppSlot = pLuaType;
		CLuaUtil::AddClassTable(pState, iClass);

		lua_pushstring(pState, pLuaType->m_szName);
		lua_pushvalue(pState, iClass);
		SetClosure(pState, iClass, "__gc", LuaFunctionObjectGC, 2);
		lua_pushstring(pState, pLuaType->m_szName);
		lua_pushvalue(pState, iClass);
		SetClosure(pState, iClass, "is_a", LuaFunctionObjectIsA, 2);
		lua_pushvalue(pState, iClass);
		lua_pushlightuserdata(pState, pClass);
		SetClosure(pState, iClass, "__index", LuaFunctionObjectIndex, 2);
		lua_pushvalue(pState, iClass);
		lua_pushlightuserdata(pState, pClass);
		SetClosure(pState, iClass, "__newindex", LuaFunctionObjectNewIndex, 2);
		if (pClass->m_ToString.IsPresent())
		{
			lua_pushlightuserdata(pState, pClass);
			SetClosure(pState, iClass, "__tostring", LuaFunctionObjectToString, 1);
		}
		for (ReflectedFunction* pMethod : pClass->GetFunctions())
			RegisterLuaFunction(&pMethod->m_Function, true, pMethod->m_pUserData);
		lua_settop(pState, iTop);
	}
	for (ReflectedNamespace* pChild : pNamespace->GetNamespaces())
	{
		if (!DefineClasses(pChild))
			return false;
	}
	return true;
}

void CLuaScripting::RegisterLuaFunction(const ScriptFunction* pFunction, bool bThisCall, void* pUserData,
	uintptr_t Environment)
{
	lua_State* pState = m_pState;
	PushLuaNativeFunction(pState, pFunction, pUserData, bThisCall ? 0 : Environment);
	lua_pushcclosure(pState, bThisCall ? LuaFunctionThiscall : LuaFunctionStatic, 1);
	lua_setfield(pState, -2, pFunction->GetName() != nullptr ? pFunction->GetName() : "");
}

void CLuaScripting::RegisterNamespace(ReflectedNamespace* pNamespace, CLuaScriptEnvironment* pEnvironment)
{
	lua_State* pState = m_pState;
	luaL_checkstack(pState, 6, nullptr);
	int iTable = lua_gettop(pState);
	const uintptr_t Environment = pEnvironment != nullptr ? pEnvironment->GetHandle() : 0;
	for (ReflectedFunction* pFunction : pNamespace->GetFunctions())
		RegisterLuaFunction(&pFunction->m_Function, false, pFunction->m_pUserData, Environment);
	for (ReflectedClass* pClass : pNamespace->GetClasses())
	{
		tLuaType* pLuaType = GetLuaType(pClass);
		if (!KASSERT(pLuaType))
			continue;
		pLuaType->m_ClassTable.Push(pState);
		lua_setfield(pState, iTable, pLuaType->m_szName);
	}
	for (ReflectedNamespace* pChild : pNamespace->GetNamespaces())
	{
		lua_newtable(pState);
		RegisterNamespace(pChild, pEnvironment);
		if (pChild->GetAlias() != nullptr)
		{
			lua_pushvalue(pState, -1);
			lua_setfield(pState, iTable, pChild->GetAlias());
		}
		lua_setfield(pState, iTable, pChild->GetName());
	}
	lua_createtable(pState, 0, 2);
	int iMetatable = lua_gettop(pState);
	lua_pushvalue(pState, iMetatable);
	lua_pushlightuserdata(pState, pNamespace);
	lua_pushlightuserdata(pState, reinterpret_cast<void*>(Environment));
	SetClosure(pState, iMetatable, "__index", LuaFunctionNamespaceIndex, 3);
	lua_pushvalue(pState, iMetatable);
	lua_pushlightuserdata(pState, pNamespace);
	lua_pushlightuserdata(pState, reinterpret_cast<void*>(Environment));
	SetClosure(pState, iMetatable, "__newindex", LuaFunctionNamespaceNewIndex, 3);
	lua_setmetatable(pState, iTable);
}

// Values

int CLuaScripting::PushArgument(const CArgument* pValue, lua_State* pState, CLuaScriptEnvironment*)
{
	return PushArgument(pValue, pState, 0u);
}

int CLuaScripting::PushArgument(const CArgument* pValue, lua_State* pState, unsigned Depth)
{
	luaL_checkstack(pState, 3, nullptr);
	if (pValue == nullptr)
	{
		lua_pushnil(pState);
		return 1;
	}
	if (PushScalar(pValue, pState))
		return 1;
	switch (pValue->GetType())
	{
	case ARGUMENT_STRING:
	{
		size_t Length = 0;
		const char* szText = pValue->ToString(&Length);
		lua_pushlstring(pState, szText, Length);
		break;
	}
	case ARGUMENT_NETOBJECT:
	case ARGUMENT_OBJECT:
		CScriptReference::PushObject(pValue->ToObject(), pState);
		break;
	case ARGUMENT_VECTOR2D:
		PushValueObject(pState, m_pScripting->GetGlobal()->m_pVec2Class, pValue);
		break;
	case ARGUMENT_VECTOR3D:
		PushValueObject(pState, m_pScripting->GetGlobal()->m_pVec3Class, pValue);
		break;
	case ARGUMENT_MATRIX4X4:
	{
		ReflectedClass* pMatrix4x4Class = m_pScripting->GetGlobal()->m_pMatrix4x4Class;
		if (KASSERT(pMatrix4x4Class))
			PushValueObject(pState, pMatrix4x4Class, pValue);
		else
			lua_pushnil(pState);
		break;
	}
	case ARGUMENT_LUAREF:
	{
		const CLuaStrongReference& Reference = static_cast<const CArgumentLuaRef*>(pValue)->m_Reference;
		if (Reference.GetOwnerState() == m_pState)
			Reference.Push(pState);
		else
			lua_pushnil(pState);
		break;
	}
	case ARGUMENT_ARRAY:
	{
		if (Depth >= ARGUMENT_MAX_ENCODED_DEPTH)
			luaL_error(pState, "Cannot convert a value nested deeper than %d levels",
				static_cast<int>(ARGUMENT_MAX_ENCODED_DEPTH));
		const CArgumentArray* pArray = static_cast<const CArgumentArray*>(pValue);
		size_t Count = pArray->GetArrayCount();
		lua_createtable(pState, Count < INT_MAX ? static_cast<int>(Count) : INT_MAX, 0);
		for (size_t i = 0; i < Count; i++)
		{
			PushArgument(pArray->GetAt(i), pState, Depth + 1);
			lua_rawseti(pState, -2, static_cast<lua_Integer>(i + 1));
		}
		break;
	}
	case ARGUMENT_MAP:
	{
		if (Depth >= ARGUMENT_MAX_ENCODED_DEPTH)
			luaL_error(pState, "Cannot convert a value nested deeper than %d levels",
				static_cast<int>(ARGUMENT_MAX_ENCODED_DEPTH));
		const CArgumentMap* pMap = static_cast<const CArgumentMap*>(pValue);
		size_t Count = pMap->GetCount();
		lua_createtable(pState, 0, Count < INT_MAX ? static_cast<int>(Count) : INT_MAX);
		for (const auto& Entry : *pMap)
		{
			lua_pushlstring(pState, Entry.first.data(), Entry.first.size());
			PushArgument(Entry.second, pState, Depth + 1);
			lua_rawset(pState, -3);
		}
		break;
	}
	case ARGUMENT_FUNCTION:
	{
		CFunction* pFunction = pValue->ToFunction();
		if (pFunction == nullptr)
		{
			lua_pushnil(pState);
			break;
		}
		CScriptReference::PushObject(pFunction, pState);
		lua_pushcclosure(pState, LuaFunctionCallback, 1);
		break;
	}
	case ARGUMENT_BYTES:
	{
		size_t Length = 0;
		const uint8_t* pData = pValue->ToBytes(Length);
		lua_pushlstring(pState, reinterpret_cast<const char*>(pData), Length);
		break;
	}
	default:
		lua_pushnil(pState);
		break;
	}
	return 1;
}

bool CLuaScripting::PushScalar(const CArgument* pValue, lua_State* pState)
{
	switch (pValue->GetType())
	{
	case ARGUMENT_NIL:
	case ARGUMENT_UNDEFINED:
		lua_pushnil(pState);
		return true;
	case ARGUMENT_BOOLEAN:
		lua_pushboolean(pState, pValue->ToBoolean());
		return true;
	case ARGUMENT_INTEGER:
		lua_pushinteger(pState, static_cast<const CArgumentInteger*>(pValue)->GetValue());
		return true;
	case ARGUMENT_FLOAT:
		lua_pushnumber(pState, static_cast<const CArgumentFloat*>(pValue)->GetValue());
		return true;
	case ARGUMENT_LONGINTEGER:
		lua_pushinteger(pState, static_cast<const CArgumentLongInteger*>(pValue)->GetValue());
		return true;
	case ARGUMENT_DOUBLE:
		lua_pushnumber(pState, static_cast<const CArgumentDouble*>(pValue)->GetValue());
		return true;
	default:
		return false;
	}
}

void CLuaScripting::PushValueObject(lua_State* pState, ReflectedClass* pClass, const CArgument* pValue)
{
	// Room for the wrapper first, so nothing can fail between making the object and handing it to the wrapper.
	luaL_checkstack(pState, 6, nullptr);
	CBaseObject* pObject = pClass != nullptr ? Reflection::Construct(m_pScripting, pClass) : nullptr;
	bool bFilled = false;
	if (pObject != nullptr)
	{
		switch (pValue->GetType())
		{
		case ARGUMENT_VECTOR2D:
			if (CVector2DObject* pVector = dynamic_cast<CVector2DObject*>(pObject))
			{
				pValue->ToVector2D(pVector->m_Value);
				bFilled = true;
			}
			break;
		case ARGUMENT_VECTOR3D:
			if (CVector3DObject* pVector = dynamic_cast<CVector3DObject*>(pObject))
			{
				pValue->ToVector3D(pVector->m_Value);
				bFilled = true;
			}
			break;
		case ARGUMENT_MATRIX4X4:
			if (CMatrix4x4Object* pMatrix = dynamic_cast<CMatrix4x4Object*>(pObject))
			{
				pValue->ToMatrix4x4(pMatrix->m_Value);
				bFilled = true;
			}
			break;
		default:
			break;
		}
	}
	if (bFilled)
		CScriptReference::PushObject(pObject, pState);
	else
		lua_pushnil(pState);
	if (pObject != nullptr)
		pObject->Release();
}

CArgument* CLuaScripting::CreateArgument(lua_State* pState, int iIndex)
{
	if (m_uiConversions == 0)
		m_ConvertedElements = 0;
	const void* rgpPath[ARGUMENT_MAX_ENCODED_DEPTH];
	return CreateArgument(pState, lua_absindex(pState, iIndex), 0, rgpPath);
}

CArgument* CLuaScripting::CreateArgument(lua_State* pState, int iIndex, unsigned Depth, const void** ppPath)
{
	if (!lua_checkstack(pState, 4))
	{
		SetError("Stack overflow");
		return nullptr;
	}
	bool bPlain = true;
	CArgument* pPlain = CreatePlainArgument(pState, iIndex, &bPlain);
	if (bPlain)
		return pPlain;
	switch (lua_type(pState, iIndex))
	{
	case LUA_TTABLE:
		return CreateTableArgument(pState, iIndex, Depth, ppPath);
	case LUA_TFUNCTION:
	{
		// An engine function that went through Lua comes back as itself, and so stays code of its own resource.
		if (lua_tocfunction(pState, iIndex) == LuaFunctionCallback && lua_getupvalue(pState, iIndex, 1) != nullptr)
		{
			CFunction* pEngineFunction = dynamic_cast<CFunction*>(CLuaUtil::GetObject(pState, -1));
			lua_pop(pState, 1);
			if (pEngineFunction != nullptr)
				return new CArgumentFunction(pEngineFunction);
		}
		// The function is code of the environment that made it, whoever hands it over; code of no environment's
		// (a C function) counts as the current one's.
		uintptr_t Code = FindCodeHandle(pState, iIndex);
		CLuaScriptEnvironment* pEnvironment = Code != 0 ? FindEnvironment(Code) : GetCurrentEnvironment();
		if (Code == 0 && pEnvironment != nullptr)
			Code = pEnvironment->GetHandle();
		lua_pushvalue(pState, iIndex);
		CLuaFunction* pFunction = new CLuaFunction(m_pScripting, pEnvironment, Code, pState);
		CArgument* pValue = new CArgumentFunction(pFunction);
		pFunction->Release();
		return pValue;
	}
	default:
		break;
	}
	lua_pushvalue(pState, iIndex);
	return new CArgumentLuaRef(pState, m_pState);
}

CArgument* CLuaScripting::CreatePlainArgument(lua_State* pState, int iIndex, bool* pbPlain)
{
	*pbPlain = true;
	switch (lua_type(pState, iIndex))
	{
	case LUA_TNONE:
	case LUA_TNIL:
		return new CArgument(ARGUMENT_NIL);
	case LUA_TBOOLEAN:
		return new CArgumentBoolean(lua_toboolean(pState, iIndex) != 0);
	case LUA_TLIGHTUSERDATA:
		return new CArgument(ARGUMENT_UNDEFINED);
	case LUA_TNUMBER:
		if (lua_isinteger(pState, iIndex))
		{
			lua_Integer iValue = lua_tointeger(pState, iIndex);
			// 2147483647 itself travels as a 64-bit integer.
			if (iValue >= INT32_MIN && iValue < INT32_MAX)
				return new CArgumentInteger(static_cast<int32_t>(iValue));
			return new CArgumentLongInteger(iValue);
		}
		return new CArgumentDouble(lua_tonumber(pState, iIndex));
	case LUA_TSTRING:
	{
		size_t Length = 0;
		const char* szText = lua_tolstring(pState, iIndex, &Length);
		return new CArgumentString(szText, Length);
	}
	case LUA_TUSERDATA:
		// Other userdata become references, which take a registry slot.
		if (CLuaReferenceable** ppSlot = CLuaUtil::GetWrapper(pState, iIndex))
		{
			CArgument* pValue =
				*ppSlot != nullptr ? Reflection::ToArgument((*ppSlot)->m_pObject, m_pScripting) : nullptr;
			return pValue != nullptr ? pValue : new CArgument(ARGUMENT_NIL);
		}
		break;
	default:
		break;
	}
	*pbPlain = false;
	return nullptr;
}

CArgument* CLuaScripting::CreateTableArgument(lua_State* pState, int iIndex, unsigned Depth, const void** ppPath)
{
	if (Depth >= ARGUMENT_MAX_ENCODED_DEPTH)
	{
		SetError("Cannot convert a value nested deeper than %u levels", ARGUMENT_MAX_ENCODED_DEPTH);
		return nullptr;
	}
	const void* pTable = lua_topointer(pState, iIndex);
	for (unsigned i = 0; i < Depth; i++)
	{
		if (ppPath[i] == pTable)
		{
			SetError("Cannot convert a value that contains itself");
			return nullptr;
		}
	}
	ppPath[Depth] = pTable;

	int iTop = lua_gettop(pState);
	// The length is a border: a few keys far apart can give a table a length far beyond what it holds.
	size_t Count = lua_rawlen(pState, iIndex);
	if (Count > 0)
	{
		if (Count > ARGUMENT_MAX_CONVERTED_ELEMENTS)
		{
			SetError("Cannot convert an array of %zu elements", Count);
			return nullptr;
		}
		if (!CountElements(Count))
			return nullptr;
		CArgumentArray* pArray = new CArgumentArray(Count);
		try
		{
			for (size_t i = 1; i <= Count; i++)
			{
				lua_rawgeti(pState, iIndex, static_cast<lua_Integer>(i));
				CArgument* pElement = CreateArgument(pState, iTop + 1, Depth + 1, ppPath);
				lua_settop(pState, iTop);
				if (pElement == nullptr)
				{
					pArray->Release();
					return nullptr;
				}
				pArray->AddAndOwn(pElement);
			}
		}
		catch (const std::bad_alloc&)
		{
			pArray->Release();
			throw;
		}
		return pArray;
	}

	Count = 0;
	lua_pushnil(pState);
	while (lua_next(pState, iIndex) != 0)
	{
		Count++;
		lua_pop(pState, 1);
	}
	if (!CountElements(Count))
		return nullptr;
	CArgumentMap* pMap = new CArgumentMap(Count);
	try
	{
		lua_pushnil(pState);
		while (lua_next(pState, iIndex) != 0)
		{
			// Key at iTop + 1, value at iTop + 2; a number key is turned into text on a copy, never in place, or
			// lua_next would lose its way.
			const char* szKey = GetKeyText(pState, iTop + 1);
			if (szKey == nullptr)
			{
				SetError("Cannot convert a %s key", luaL_typename(pState, iTop + 1));
				lua_settop(pState, iTop);
				pMap->Release();
				return nullptr;
			}
			CArgument* pElement = CreateArgument(pState, iTop + 2, Depth + 1, ppPath);
			if (pElement == nullptr)
			{
				lua_settop(pState, iTop);
				pMap->Release();
				return nullptr;
			}
			SetOrRelease(pMap, szKey, pElement);
			lua_settop(pState, iTop + 1);
		}
	}
	catch (const std::bad_alloc&)
	{
		pMap->Release();
		throw;
	}
	return pMap;
}

bool CLuaScripting::CountElements(size_t Count)
{
	if (Count > ARGUMENT_MAX_CONVERTED_ELEMENTS - m_ConvertedElements)
	{
		SetError("Cannot convert more than %zu array elements at once", ARGUMENT_MAX_CONVERTED_ELEMENTS);
		return false;
	}
	m_ConvertedElements += Count;
	return true;
}
