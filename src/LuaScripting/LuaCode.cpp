// Which environment a piece of Lua code belongs to (rule 11 of CLuaScripting.h), and the guards that run script
// finalisers protected (rule 12).

#include <algorithm>
#include <climits>
#include <cstring>

#include <lua.hpp>

#include "LuaScripting/CLuaScripting.h"

namespace
{
// Registry keys: environment tables (weak keys) to the light userdata of their environment's handle; the table of
// what setmetatable's closures hold, in upvalue order (read only when they are made).
char s_EnvironmentTablesKey;
char s_SetMetatableUpvaluesKey;
// Coroutines (weak) to the thread that resumed them last (weak): a coroutine runs for the code that resumes it.
char s_ResumersKey;

// Lua's own coroutine.resume, called straight from ours and from the functions coroutine.wrap makes.
lua_CFunction g_pfnCoroutineResume = nullptr;

// The upvalues of setmetatable and debug.setmetatable; the guards' finaliser has the first three. Every call reads
// them, so that no call looks anything up in the registry or pushes a string (which may allocate, and so run a
// collection step where none may run).
enum
{
	UPVALUE_GC_KEY = 1,
	// The guard book (tGuardBook), whose user value is the guards' table.
	UPVALUE_GUARD_BOOK,
	UPVALUE_GUARD_METATABLE,
	UPVALUE_METATABLE_KEY,
	UPVALUE_COUNT = UPVALUE_METATABLE_KEY,
};

// The guards' table maps objects to the guard that finalises them; an ephemeron table, so a guard lives as long as
// its object. A guard that has finalised its object stays there until the collector clears the entry with the object
// (or until the object is marked again, if a finaliser kept it). Lua shrinks a table only when an insertion finds it
// full, so after a peak of finalisable objects the table would keep its size for good. Once the guards still to run
// have fallen to a quarter of their peak with next to no guard made since, a copy of their entries replaces it (an
// empty table when none is left): each copy costs at most one visit per three finalisations since the last one.
// While guards are still being made, Lua's own resizing keeps the table to size, and a copy in every collection
// cycle would cost as much again.
struct tGuardBook
{
	// Guards made and not yet finalised, the most there were since the table was last copied, and guards made since
	// that peak.
	size_t m_Pending;
	size_t m_Peak;
	size_t m_MadeSincePeak;
	// The guards' metatable, to tell a guard by.
	const void* m_pGuardMetatable;
};

// Tables of fewer guards are never worth copying.
constexpr size_t GUARD_REBUILD_MINIMUM = 1024;

// szMode: "k" for weak keys (with strong values, an ephemeron table), "kv" for both weak.
void PushWeakTable(lua_State* pState, int iRecords, const char* szMode = "k")
{
	lua_createtable(pState, 0, iRecords);
	lua_createtable(pState, 0, 1);
	lua_pushstring(pState, szMode);
	lua_setfield(pState, -2, "__mode");
	lua_setmetatable(pState, -2);
}

tGuardBook* GetGuardBook(lua_State* pState)
{
	return static_cast<tGuardBook*>(lua_touserdata(pState, lua_upvalueindex(UPVALUE_GUARD_BOOK)));
}

// The guard of the table at 1 from now on, unless it has one still to run: Lua marks an object for finalising once,
// however often its metatable is set, until it has been finalised. Called with a handful of slots in use, within the
// LUA_MINSTACK every C function has.
void AddFinaliserGuard(lua_State* pState)
{
	// The guard first: making it may run a collection step, whose finalisers may give the object a guard or replace
	// the guards' table, so the table is read, and asked, only once nothing more can run.
	lua_newuserdata(pState, 0);
	const int iGuard = lua_gettop(pState);
	lua_getuservalue(pState, lua_upvalueindex(UPVALUE_GUARD_BOOK));
	lua_pushvalue(pState, 1);
	// A guard that has run has let its object go: the object was kept by its finaliser, and is marked anew.
	if (lua_rawget(pState, iGuard + 1) != LUA_TNIL && lua_getuservalue(pState, -1) != LUA_TNIL)
		return;
	lua_settop(pState, iGuard + 1);
	lua_pushvalue(pState, lua_upvalueindex(UPVALUE_GUARD_METATABLE));
	lua_setmetatable(pState, iGuard);
	lua_pushvalue(pState, 1);
	lua_setuservalue(pState, iGuard);
	lua_pushvalue(pState, 1);
	lua_pushvalue(pState, iGuard);
	lua_rawset(pState, iGuard + 1);
	tGuardBook* pBook = GetGuardBook(pState);
	if (++pBook->m_Pending > pBook->m_Peak)
	{
		pBook->m_Peak = pBook->m_Pending;
		pBook->m_MadeSincePeak = 0;
	}
	else
		pBook->m_MadeSincePeak++;
}

// Sets the metatable at 2 (a table or nil; bMetatable: a table) on the value at 1 and returns the value. A table
// whose metatable has "__gc" is not marked by Lua, which would call its finaliser straight from whatever code
// allocates when the collector runs: the field is out of the metatable while it is set (nothing in between
// allocates, so no collection step can see it missing), and a guard of ours finalises the table instead.
int SetMetatable(lua_State* pState, bool bTable, bool bMetatable)
{
	if (bTable && bMetatable)
	{
		lua_pushvalue(pState, lua_upvalueindex(UPVALUE_GC_KEY));
		if (lua_rawget(pState, 2) != LUA_TNIL)
		{
			// The finaliser at 3, whatever else was passed.
			lua_copy(pState, -1, 3);
			lua_settop(pState, 3);
			lua_pushvalue(pState, lua_upvalueindex(UPVALUE_GC_KEY));
			lua_pushnil(pState);
			lua_rawset(pState, 2);
			lua_pushvalue(pState, 2);
			lua_setmetatable(pState, 1);
			lua_pushvalue(pState, lua_upvalueindex(UPVALUE_GC_KEY));
			lua_pushvalue(pState, 3);
			lua_rawset(pState, 2);
			AddFinaliserGuard(pState);
			lua_settop(pState, 1);
			return 1;
		}
	}
	lua_settop(pState, 2);
	lua_setmetatable(pState, 1);
	return 1;
}

// Protected, with the guard book at 1: replaces the guards' table by a copy of the entries of guards still to run.
int ProtectedRebuildGuards(lua_State* pState)
{
	tGuardBook* pBook = static_cast<tGuardBook*>(lua_touserdata(pState, 1));
	lua_getuservalue(pState, 1);
	lua_createtable(pState, 0, static_cast<int>(std::min<size_t>(pBook->m_Pending, INT_MAX)));
	lua_getmetatable(pState, 2);
	lua_setmetatable(pState, 3);
	size_t Pending = 0;
	// With none to run, nothing to look for.
	if (pBook->m_Pending > 0)
	{
		lua_pushnil(pState);
		while (lua_next(pState, 2))
		{
			if (lua_getuservalue(pState, -1) == LUA_TNIL)
			{
				lua_pop(pState, 2);
				continue;
			}
			lua_pop(pState, 1);
			lua_pushvalue(pState, -2);
			lua_insert(pState, -2);
			lua_rawset(pState, 3);
			Pending++;
		}
	}
	lua_setuservalue(pState, 1);
	pBook->m_Pending = Pending;
	pBook->m_Peak = Pending;
	pBook->m_MadeSincePeak = 0;
	return 0;
}

// Copies the guards' table once it is sparse and no insertion is resizing it. The collector does not run meanwhile:
// a finaliser it ran could change the old table after its entry was copied. It is stopped already while it runs
// finalisers.
void RebuildSparseGuards(lua_State* pState, const tGuardBook* pBook)
{
	if (pBook->m_Peak < GUARD_REBUILD_MINIMUM || pBook->m_Pending >= pBook->m_Peak / 4 ||
		pBook->m_MadeSincePeak > pBook->m_Peak / GUARD_REBUILD_MINIMUM ||
		CLuaScripting::FromState(pState)->IsClosing())
		return;
	const bool bRunning = lua_gc(pState, LUA_GCISRUNNING, 0) != 0;
	if (bRunning)
		lua_gc(pState, LUA_GCSTOP, 0);
	lua_pushcfunction(pState, ProtectedRebuildGuards);
	lua_pushvalue(pState, lua_upvalueindex(UPVALUE_GUARD_BOOK));
	const int iStatus = lua_pcall(pState, 1, 0, 0);
	if (bRunning)
		lua_gc(pState, LUA_GCRESTART, 0);
	if (iStatus != LUA_OK)
		CLuaScripting::ReportError(pState, -1);
}

// The "__gc" of finaliser guards, run by the collector wherever it runs, with the guard at 1. Raises nothing: until
// the finaliser is called there are only raw reads and writes of what exists, which allocate nothing, and the
// finaliser runs protected, as any code of one resource that another one's call runs (it acts for the running
// environment; whatever it reaches through its own environment's namespace acts for that one, or not at all once it
// has ended). The guard is checked: the guards' metatable is reachable through the debug library, and its "__gc"
// may be called by hand with anything. The guard lets its object go first: it finalises once.
int LuaFunctionFinaliserGuard(lua_State* pState)
{
	tGuardBook* pBook = GetGuardBook(pState);
	if (lua_type(pState, 1) != LUA_TUSERDATA || !lua_getmetatable(pState, 1) ||
		lua_topointer(pState, -1) != pBook->m_pGuardMetatable || lua_getuservalue(pState, 1) == LUA_TNIL)
		return 0;
	lua_pushnil(pState);
	lua_setuservalue(pState, 1);
	if (pBook->m_Pending > 0)
		pBook->m_Pending--;
	// As Lua does: the "__gc" the metatable holds now, called only when it is a function.
	if (lua_getmetatable(pState, 3))
	{
		lua_pushvalue(pState, lua_upvalueindex(UPVALUE_GC_KEY));
		if (lua_rawget(pState, -2) == LUA_TFUNCTION)
		{
			lua_pushvalue(pState, 3);
			if (lua_pcall(pState, 1, 0, 0) != LUA_OK)
				CLuaScripting::ReportError(pState, -1);
		}
	}
	lua_settop(pState, 1);
	RebuildSparseGuards(pState, pBook);
	return 0;
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

// The thread that resumed the coroutine and waits for it in one of the functions above, or null.
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
}

void CreateCodeTables(lua_State* pState)
{
	luaL_checkstack(pState, UPVALUE_COUNT + 4, nullptr);
	PushWeakTable(pState, 0);
	lua_rawsetp(pState, LUA_REGISTRYINDEX, &s_EnvironmentTablesKey);
	PushWeakTable(pState, 0, "kv");
	lua_rawsetp(pState, LUA_REGISTRYINDEX, &s_ResumersKey);

	lua_createtable(pState, UPVALUE_COUNT, 0);
	const int iUpvalues = lua_gettop(pState);
	lua_pushliteral(pState, "__gc");
	lua_rawseti(pState, iUpvalues, UPVALUE_GC_KEY);
	tGuardBook* pBook = static_cast<tGuardBook*>(lua_newuserdata(pState, sizeof(tGuardBook)));
	*pBook = tGuardBook{0, 0, 0, nullptr};
	// Weak keys with strong values make an ephemeron table.
	PushWeakTable(pState, 0);
	lua_setuservalue(pState, -2);
	lua_rawseti(pState, iUpvalues, UPVALUE_GUARD_BOOK);
	lua_createtable(pState, 0, 1);
	lua_rawseti(pState, iUpvalues, UPVALUE_GUARD_METATABLE);
	lua_pushliteral(pState, "__metatable");
	lua_rawseti(pState, iUpvalues, UPVALUE_METATABLE_KEY);

	lua_rawgeti(pState, iUpvalues, UPVALUE_GUARD_METATABLE);
	pBook->m_pGuardMetatable = lua_topointer(pState, -1);
	for (int i = UPVALUE_GC_KEY; i <= UPVALUE_GUARD_METATABLE; i++)
		lua_rawgeti(pState, iUpvalues, i);
	lua_pushcclosure(pState, LuaFunctionFinaliserGuard, UPVALUE_GUARD_METATABLE);
	lua_setfield(pState, -2, "__gc");
	lua_pop(pState, 1);
	lua_rawsetp(pState, LUA_REGISTRYINDEX, &s_SetMetatableUpvaluesKey);
}

void PushSetMetatable(lua_State* pState, lua_CFunction pfnFunction)
{
	luaL_checkstack(pState, UPVALUE_COUNT + 1, nullptr);
	lua_rawgetp(pState, LUA_REGISTRYINDEX, &s_SetMetatableUpvaluesKey);
	const int iUpvalues = lua_gettop(pState);
	for (int i = 1; i <= UPVALUE_COUNT; i++)
		lua_rawgeti(pState, iUpvalues, i);
	lua_pushcclosure(pState, pfnFunction, UPVALUE_COUNT);
	lua_remove(pState, iUpvalues);
}

int LuaFunctionSetMetatable(lua_State* pState)
{
	// The checks of Lua's own setmetatable, with its texts.
	const int iType = lua_type(pState, 2);
	if (lua_type(pState, 1) != LUA_TTABLE)
		luaL_checktype(pState, 1, LUA_TTABLE);
	luaL_argcheck(pState, iType == LUA_TNIL || iType == LUA_TTABLE, 2, "nil or table expected");
	if (lua_getmetatable(pState, 1))
	{
		lua_pushvalue(pState, lua_upvalueindex(UPVALUE_METATABLE_KEY));
		if (lua_rawget(pState, -2) != LUA_TNIL)
			return luaL_error(pState, "cannot change a protected metatable");
	}
	return SetMetatable(pState, true, iType == LUA_TTABLE);
}

int LuaFunctionDebugSetMetatable(lua_State* pState)
{
	// The check of Lua's own debug.setmetatable, with its text; it takes values of any type but full userdata.
	const int iType = lua_type(pState, 2);
	luaL_argcheck(pState, iType == LUA_TNIL || iType == LUA_TTABLE, 2, "nil or table expected");
	// Scripts cannot make full userdata: each one is the engine's (an engine object, a file handle, a guard or a
	// record of the engine's own), and its metatable, or its having none, is what the engine relies on. Another one
	// would call a script's finaliser besides the engine's or instead of it, unprotected and for an object the
	// engine still holds.
	const int iValueType = lua_type(pState, 1);
	luaL_argcheck(pState, iValueType != LUA_TUSERDATA, 1, "cannot change the metatable of an engine object");
	return SetMetatable(pState, iValueType == LUA_TTABLE, iType == LUA_TTABLE);
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
