// Which environment a piece of Lua code belongs to (rule 11 of CLuaScripting.h), and the guards that run script
// finalisers protected (rule 12).

#include <algorithm>
#include <cstring>

#include <lua.hpp>

#include "LuaScripting/CLuaScripting.h"

namespace
{
// Registry keys: environment tables (weak keys) to the light userdata of their environment's handle; objects to the
// guard that finalises them (an ephemeron table: a guard lives as long as its object); the guards' metatable.
char s_EnvironmentTablesKey;
char s_FinaliserGuardsKey;
char s_GuardMetatableKey;
// Coroutines (weak) to the thread that resumed them last (weak): a coroutine runs for the code that resumes it.
char s_ResumersKey;

// Lua's own coroutine.resume, called straight from ours and from the functions coroutine.wrap makes.
lua_CFunction g_pfnCoroutineResume = nullptr;

void CreateWeakTable(lua_State* pState, const void* pKey, const char* szMode = "k")
{
	lua_newtable(pState);
	lua_createtable(pState, 0, 1);
	lua_pushstring(pState, szMode);
	lua_setfield(pState, -2, "__mode");
	lua_setmetatable(pState, -2);
	lua_rawsetp(pState, LUA_REGISTRYINDEX, pKey);
}

// The guard of the object at iObject from now on, unless it has one already: Lua marks an object for finalising once,
// however often its metatable is set, until it has been finalised.
void AddFinaliserGuard(lua_State* pState, int iObject)
{
	luaL_checkstack(pState, 4, nullptr);
	lua_rawgetp(pState, LUA_REGISTRYINDEX, &s_FinaliserGuardsKey);
	lua_pushvalue(pState, iObject);
	if (lua_rawget(pState, -2) != LUA_TNIL)
	{
		lua_pop(pState, 2);
		return;
	}
	lua_pop(pState, 1);
	lua_pushvalue(pState, iObject);
	lua_newuserdata(pState, 0);
	lua_rawgetp(pState, LUA_REGISTRYINDEX, &s_GuardMetatableKey);
	lua_setmetatable(pState, -2);
	lua_pushvalue(pState, iObject);
	lua_setuservalue(pState, -2);
	lua_rawset(pState, -3);
	lua_pop(pState, 1);
}

// Sets the metatable at 2 (a table or nil) on the value at 1 and leaves only the value. An object whose metatable has
// "__gc" is not marked by Lua, which would call its finaliser straight from whatever code allocates when the
// collector runs: the field is out of the metatable while it is set (nothing in between can run a collection step,
// which could see it missing), and a guard of ours finalises the object instead.
int SetMetatable(lua_State* pState)
{
	const int iType = lua_type(pState, 1);
	bool bGuard = false;
	if ((iType == LUA_TTABLE || iType == LUA_TUSERDATA) && lua_istable(pState, 2))
	{
		// The key at 3, pushed once: pushing a string may run a collection step, which must not fall in the window.
		lua_pushliteral(pState, "__gc");
		lua_pushvalue(pState, 3);
		bGuard = lua_rawget(pState, 2) != LUA_TNIL;
		if (bGuard)
		{
			lua_pushvalue(pState, 3);
			lua_pushnil(pState);
			lua_rawset(pState, 2);
		}
	}
	lua_pushvalue(pState, 2);
	lua_setmetatable(pState, 1);
	if (bGuard)
	{
		lua_pushvalue(pState, 3);
		lua_pushvalue(pState, 4);
		lua_rawset(pState, 2);
		AddFinaliserGuard(pState, 1);
	}
	lua_settop(pState, 1);
	return 1;
}

// Whether the value at the index is a finaliser guard: the guards' metatable is reachable through the debug
// registry, and its "__gc" may be called by hand with anything.
bool IsFinaliserGuard(lua_State* pState, int iIndex)
{
	if (lua_type(pState, iIndex) != LUA_TUSERDATA || !lua_getmetatable(pState, iIndex))
		return false;
	lua_rawgetp(pState, LUA_REGISTRYINDEX, &s_GuardMetatableKey);
	const bool bGuard = lua_rawequal(pState, -1, -2) != 0;
	lua_pop(pState, 2);
	return bGuard;
}

// Protected: from the guard at 1, the finaliser to call and its object; nothing when there is no finaliser to call.
// The guard lets its object go first: it finalises once.
int ProtectedTakeFinaliser(lua_State* pState)
{
	if (!IsFinaliserGuard(pState, 1))
		return 0;
	lua_getuservalue(pState, 1);
	const int iObject = lua_gettop(pState);
	if (lua_isnil(pState, iObject))
		return 0;
	lua_pushnil(pState);
	lua_setuservalue(pState, 1);
	lua_rawgetp(pState, LUA_REGISTRYINDEX, &s_FinaliserGuardsKey);
	lua_pushvalue(pState, iObject);
	lua_rawget(pState, -2);
	if (lua_rawequal(pState, -1, 1))
	{
		lua_pushvalue(pState, iObject);
		lua_pushnil(pState);
		lua_rawset(pState, -4);
	}
	lua_settop(pState, iObject);
	// As Lua does: the "__gc" the metatable holds now, called only when it is a function.
	if (!lua_getmetatable(pState, iObject))
		return 0;
	lua_pushliteral(pState, "__gc");
	if (lua_rawget(pState, -2) != LUA_TFUNCTION)
		return 0;
	lua_pushvalue(pState, iObject);
	return 2;
}

// The "__gc" of finaliser guards, run by the collector wherever it runs. Raises nothing: what it calls runs protected,
// as any code of one resource that another one's call runs (it acts for the running environment; whatever it reaches
// through its own environment's namespace acts for that one, or not at all once it has ended).
int LuaFunctionFinaliserGuard(lua_State* pState)
{
	if (!lua_checkstack(pState, 3))
		return 0;
	const int iTop = lua_gettop(pState);
	lua_pushcfunction(pState, ProtectedTakeFinaliser);
	lua_pushvalue(pState, 1);
	int iStatus = lua_pcall(pState, 1, 2, 0);
	if (iStatus == LUA_OK && !lua_isnil(pState, -2))
		iStatus = lua_pcall(pState, 1, 0, 0);
	if (iStatus != LUA_OK)
		CLuaScripting::ReportError(pState, -1);
	lua_settop(pState, iTop);
	return 0;
}
}

// Notes that the running thread resumes the coroutine at the index.
void NoteResumer(lua_State* pState, int iCoroutine)
{
	if (lua_type(pState, iCoroutine) != LUA_TTHREAD)
		return;
	iCoroutine = lua_absindex(pState, iCoroutine);
	luaL_checkstack(pState, 3, nullptr);
	lua_rawgetp(pState, LUA_REGISTRYINDEX, &s_ResumersKey);
	lua_pushvalue(pState, iCoroutine);
	lua_pushthread(pState);
	lua_rawset(pState, -3);
	lua_pop(pState, 1);
}

// The thread that resumed the coroutine and waits for it in one of the functions below, or null.
lua_State* FindResumer(lua_State* pCoroutine);

int LuaFunctionCoroutineResume(lua_State* pState)
{
	NoteResumer(pState, 1);
	return g_pfnCoroutineResume(pState);
}

// A function made by coroutine.wrap: its upvalue is the coroutine. As Lua's own: the results of the resume, or its
// error raised again, a text with the position of the call in front.
int LuaFunctionCoroutineWrapped(lua_State* pState)
{
	luaL_checkstack(pState, 1, nullptr);
	lua_pushvalue(pState, lua_upvalueindex(1));
	lua_insert(pState, 1);
	NoteResumer(pState, 1);
	const int iResults = g_pfnCoroutineResume(pState);
	const int iFirst = lua_gettop(pState) - iResults + 1;
	if (iResults > 0 && lua_toboolean(pState, iFirst))
		return iResults - 1;
	if (lua_type(pState, -1) == LUA_TSTRING)
	{
		luaL_where(pState, 1);
		lua_insert(pState, -2);
		lua_concat(pState, 2);
	}
	return lua_error(pState);
}

int LuaFunctionCoroutineWrap(lua_State* pState)
{
	luaL_checktype(pState, 1, LUA_TFUNCTION);
	lua_State* pCoroutine = lua_newthread(pState);
	lua_pushvalue(pState, 1);
	lua_xmove(pState, pCoroutine, 1);
	lua_pushcclosure(pState, LuaFunctionCoroutineWrapped, 1);
	return 1;
}

lua_State* FindResumer(lua_State* pCoroutine)
{
	if (!lua_checkstack(pCoroutine, 2))
		return nullptr;
	lua_rawgetp(pCoroutine, LUA_REGISTRYINDEX, &s_ResumersKey);
	lua_pushthread(pCoroutine);
	lua_rawget(pCoroutine, -2);
	lua_State* pResumer = lua_tothread(pCoroutine, -1);
	lua_pop(pCoroutine, 2);
	if (pResumer == nullptr || pResumer == pCoroutine || !lua_checkstack(pResumer, 1))
		return nullptr;
	// The note stands while the resumer waits in the resume it made: the function it runs now is one of ours.
	lua_Debug Info;
	if (!lua_getstack(pResumer, 0, &Info) || !lua_getinfo(pResumer, "f", &Info))
		return nullptr;
	const lua_CFunction pfnRunning = lua_tocfunction(pResumer, -1);
	lua_pop(pResumer, 1);
	return pfnRunning == LuaFunctionCoroutineResume || pfnRunning == LuaFunctionCoroutineWrapped ? pResumer : nullptr;
}

void CreateCodeTables(lua_State* pState)
{
	CreateWeakTable(pState, &s_EnvironmentTablesKey);
	CreateWeakTable(pState, &s_ResumersKey, "kv");
	// Weak keys with strong values make an ephemeron table: a guard is held only while its object is.
	CreateWeakTable(pState, &s_FinaliserGuardsKey);
	lua_createtable(pState, 0, 1);
	lua_pushcfunction(pState, LuaFunctionFinaliserGuard);
	lua_setfield(pState, -2, "__gc");
	lua_rawsetp(pState, LUA_REGISTRYINDEX, &s_GuardMetatableKey);
}

int LuaFunctionSetMetatable(lua_State* pState)
{
	// The checks of Lua's own setmetatable, with its texts.
	const int iType = lua_type(pState, 2);
	luaL_checktype(pState, 1, LUA_TTABLE);
	luaL_argcheck(pState, iType == LUA_TNIL || iType == LUA_TTABLE, 2, "nil or table expected");
	if (luaL_getmetafield(pState, 1, "__metatable") != LUA_TNIL)
		return luaL_error(pState, "cannot change a protected metatable");
	lua_settop(pState, 2);
	return SetMetatable(pState);
}

int LuaFunctionDebugSetMetatable(lua_State* pState)
{
	// The check of Lua's own debug.setmetatable, with its text; it takes values of any type.
	const int iType = lua_type(pState, 2);
	luaL_argcheck(pState, iType == LUA_TNIL || iType == LUA_TTABLE, 2, "nil or table expected");
	lua_settop(pState, 2);
	return SetMetatable(pState);
}

void CLuaScripting::AddEnvironmentTable(lua_State* pState, int iTable, uintptr_t Handle)
{
	iTable = lua_absindex(pState, iTable);
	luaL_checkstack(pState, 3, nullptr);
	lua_rawgetp(pState, LUA_REGISTRYINDEX, &s_EnvironmentTablesKey);
	lua_pushvalue(pState, iTable);
	lua_pushlightuserdata(pState, reinterpret_cast<void*>(Handle));
	lua_rawset(pState, -3);
	lua_pop(pState, 1);
}

void CLuaScripting::AddSourceFile(const char* szName, uintptr_t Handle, const char* szResource)
{
	auto Inserted = m_SourceFiles.try_emplace(szName != nullptr ? szName : "");
	tSourceFile& File = Inserted.first->second;
	const std::string Resource = szResource != nullptr ? szResource : "";
	if (Inserted.second)
		File.m_Resource = Resource;
	else if (File.m_Resource != Resource)
		File.m_bShared = true;
	if (File.m_bShared)
	{
		File.m_Handles.clear();
		return;
	}
	std::vector<uintptr_t>& Handles = File.m_Handles;
	// Environments that are gone tell nothing a newer one does not.
	Handles.erase(std::remove_if(Handles.begin(), Handles.end(),
					  [](uintptr_t Old) { return CScriptEnvironment::FromHandle(Old) == nullptr; }),
		Handles.end());
	Handles.push_back(Handle);
}

uintptr_t CLuaScripting::FindCodeHandle(lua_State* pState, int iIndex)
{
	if (lua_type(pState, iIndex) != LUA_TFUNCTION || lua_iscfunction(pState, iIndex) || !lua_checkstack(pState, 3))
		return 0;
	iIndex = lua_absindex(pState, iIndex);
	for (int i = 1;; i++)
	{
		const char* szName = lua_getupvalue(pState, iIndex, i);
		if (szName == nullptr)
			break;
		if (strcmp(szName, "_ENV") != 0)
		{
			lua_pop(pState, 1);
			continue;
		}
		lua_rawgetp(pState, LUA_REGISTRYINDEX, &s_EnvironmentTablesKey);
		lua_insert(pState, -2);
		lua_rawget(pState, -2);
		const uintptr_t Handle = reinterpret_cast<uintptr_t>(lua_touserdata(pState, -1));
		lua_pop(pState, 2);
		if (Handle != 0)
			return Handle;
		break;
	}

	// No _ENV of an environment: the script file tells.
	lua_Debug Info;
	lua_pushvalue(pState, iIndex);
	if (!lua_getinfo(pState, ">S", &Info) || Info.source == nullptr)
		return 0;
	auto it = m_SourceFiles.find(Info.source);
	if (it == m_SourceFiles.end() || it->second.m_Handles.empty())
		return 0;
	const std::vector<uintptr_t>& Handles = it->second.m_Handles;
	for (auto itHandle = Handles.rbegin(); itHandle != Handles.rend(); ++itHandle)
	{
		if (CScriptEnvironment::IsRunning(*itHandle))
			return *itHandle;
	}
	return Handles.back();
}

void CLuaScripting::SetUpCallerChains(lua_State* pState)
{
	lua_getglobal(pState, "coroutine");
	if (lua_istable(pState, -1))
	{
		lua_getfield(pState, -1, "resume");
		g_pfnCoroutineResume = lua_tocfunction(pState, -1);
		lua_pop(pState, 1);
		if (g_pfnCoroutineResume != nullptr)
		{
			lua_pushcfunction(pState, LuaFunctionCoroutineResume);
			lua_setfield(pState, -2, "resume");
			lua_pushcfunction(pState, LuaFunctionCoroutineWrap);
			lua_setfield(pState, -2, "wrap");
		}
	}
	lua_pop(pState, 1);

	// Every C function in the global table and in a library table there: the engine's own come later.
	m_LibraryFunctions.insert(LuaFunctionCoroutineWrapped);
	lua_pushglobaltable(pState);
	lua_pushnil(pState);
	while (lua_next(pState, -2) != 0)
	{
		if (lua_istable(pState, -1))
		{
			lua_pushnil(pState);
			while (lua_next(pState, -2) != 0)
			{
				if (lua_CFunction pfnFunction = lua_tocfunction(pState, -1))
					m_LibraryFunctions.insert(pfnFunction);
				lua_pop(pState, 1);
			}
		}
		else if (lua_CFunction pfnFunction = lua_tocfunction(pState, -1))
			m_LibraryFunctions.insert(pfnFunction);
		lua_pop(pState, 1);
	}
	lua_pop(pState, 1);
}

uintptr_t CLuaScripting::FindCallingCode(void* pCallStack)
{
	// The innermost Lua function on the calling thread's stack. Lua's own C functions on the way (pcall, a resume)
	// are nobody's code, and at the bottom of a coroutine its resumer goes on; another C function (a native, a
	// metamethod or finaliser guard of the engine) means the engine called what runs above it, which starts a chain
	// of callers of its own: nobody's code called it.
	lua_State* pState = static_cast<lua_State*>(pCallStack);
	if (pState == nullptr)
		return 0;
	lua_Debug Info;
	// Resumers waiting for each other are a chain that ends (Lua nests C calls, each resume among them, 200 deep at
	// most); the bound only keeps a corrupt one from looping.
	constexpr int MAX_RESUMERS = 200;
	int iResumers = 0;
	for (int iLevel = 1;; iLevel++)
	{
		if (!lua_getstack(pState, iLevel, &Info))
		{
			pState = FindResumer(pState);
			if (pState == nullptr || ++iResumers > MAX_RESUMERS)
				return 0;
			// From its level 1: level 0 is the resume it waits in.
			iLevel = 0;
			continue;
		}
		if (!lua_checkstack(pState, 4) || !lua_getinfo(pState, "f", &Info))
			return 0;
		const lua_CFunction pfnFunction = lua_tocfunction(pState, -1);
		if (pfnFunction == nullptr)
		{
			const uintptr_t Handle = FindCodeHandle(pState, -1);
			lua_pop(pState, 1);
			return Handle;
		}
		lua_pop(pState, 1);
		if (m_LibraryFunctions.count(pfnFunction) == 0)
			return 0;
	}
}
