#pragma once
// Small helpers over the Lua stack shared by the Lua binding: class tables and the wrapper test.

#include <cstddef>

struct lua_State;
class CBaseObject;
class CLuaReferenceable;

class CLuaUtil
{
public:
	// A "_base" chain longer than this is taken as broken (scripts can rewrite class tables).
	static constexpr int MAX_CLASS_DEPTH = 64;

	// Pushes a new class table named szName. iParentIndex, when not 0, is the parent's class table, whose fields
	// are copied first; with bCallable the value just below the top of the stack becomes its "__call".
	static void DefineClass(lua_State* pState, const char* szName, int iParentIndex, bool bCallable);
	// Whether the metatable of the value at iObjectIndex, or a table reached from it through "_base", is the
	// value at iClassIndex.
	static bool IsA(lua_State* pState, int iObjectIndex, int iClassIndex);

	// Remembers a class table as one of the language's; only userdata with such a metatable are wrappers.
	static void AddClassTable(lua_State* pState, int iIndex);
	// The slot of an engine wrapper, or null for anything else (other userdata, light userdata, other values).
	// The slot holds null once the wrapper has let its object go.
	static CLuaReferenceable** GetWrapper(lua_State* pState, int iIndex);
	// The object of a live wrapper, else null.
	static CBaseObject* GetObject(lua_State* pState, int iIndex);
	// Creates the registry's set of class tables.
	static void CreateClassTableSet(lua_State* pState);
};
