#include "LuaScripting/CLuaScripting.h"

#include <algorithm>
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstring>
#include <new>
#include <lua.hpp>

#include "Engine/Context.h"
#include "Engine/Defines.h"
#include "Engine/KAssert.h"
#include "Engine/KError.h"
#include "Engine/KestrinStream.h"
#include "Engine/KestrinString.h"
#include "LuaScripting/CLuaUtil.h"
#include "LuaScripting/LuaReferenceable.h"
#include "Scripting/Resource.h"

namespace
{
const char* const STOPPED_FUNCTION = "Cannot call a function of a stopped resource";
const char* const SHUTTING_DOWN = "Scripting is shutting down";
// Lua's own text for memory it cannot get, given as well to memory the engine cannot get during a call.
const char* const OUT_OF_MEMORY = "not enough memory";

// What every environment copies from the global table.
const char* const BASE_NAMES[] = {"assert", "collectgarbage", "error", "getmetatable", "ipairs", "next", "pairs",
	"pcall", "rawequal", "rawlen", "rawget", "rawset", "select", "setmetatable", "tonumber", "tostring", "xpcall",
	"type", "_VERSION"};

const char* const STRING_NAMES[] = {"byte", "char", "dump", "find", "format", "gmatch", "gsub", "len", "lower",
	"match", "rep", "reverse", "sub", "upper", "pack", "packsize", "unpack"};
const char* const TABLE_NAMES[] = {"concat", "insert", "pack", "unpack", "remove", "move", "sort"};
const char* const MATH_NAMES[] = {"abs", "acos", "asin", "atan", "ceil", "cos", "deg", "exp", "tointeger", "floor",
	"fmod", "ult", "log", "max", "min", "modf", "random", "randomseed", "rad", "sin", "sqrt", "tan", "type", "pi",
	"huge", "maxinteger", "mininteger"};
const char* const OS_NAMES[] = {"clock", "date", "difftime", "exit", "setlocale", "time"};
const char* const DEBUG_NAMES[] = {"debug", "getuservalue", "gethook", "getinfo", "getlocal", "getregistry",
	"getmetatable", "getupvalue", "upvaluejoin", "upvalueid", "setuservalue", "sethook", "setlocal", "setmetatable",
	"setupvalue", "traceback"};
const char* const UTF8_NAMES[] = {"char", "charpattern", "codepoint", "codes", "len", "offset"};
const char* const COROUTINE_NAMES[] = {"create", "resume", "running", "status", "wrap", "yield", "isyieldable"};
const char* const IO_NAMES[] = {"close", "flush", "input", "output", "read", "type", "write", "stdin", "stdout",
	"stderr"};

struct tLibraryCopy
{
	const char* m_szName;
	const char* const* m_ppszNames;
	size_t m_Count;
};

template <size_t N>
constexpr tLibraryCopy Library(const char* szName, const char* const (&rgpszNames)[N])
{
	return {szName, rgpszNames, N};
}

const tLibraryCopy LIBRARY_COPIES[] = {Library("string", STRING_NAMES), Library("table", TABLE_NAMES),
	Library("math", MATH_NAMES), Library("os", OS_NAMES), Library("debug", DEBUG_NAMES),
	Library("utf8", UTF8_NAMES), Library("coroutine", COROUTINE_NAMES), Library("io", IO_NAMES)};

void ClearFields(lua_State* pState, std::initializer_list<const char*> Names)
{
	for (const char* szName : Names)
	{
		lua_pushnil(pState);
		lua_setfield(pState, -2, szName);
	}
}

// The library's own io.input, io.output and debug.setupvalue, kept only as C pointers and called straight from the
// guards, never through Lua: as an upvalue or a registry entry the debug library would hand them to a script, and
// so would a call hook watching them being called.
lua_CFunction g_pfnIoInput = nullptr;
lua_CFunction g_pfnIoOutput = nullptr;
lua_CFunction g_pfnSetUpvalue = nullptr;

// io.input and io.output keep their use with a file handle or without arguments, but never open a file by
// name (numbers count as names there too).
int GuardFileCall(lua_State* pState, lua_CFunction pfnOriginal)
{
	int iType = lua_type(pState, 1);
	if (iType != LUA_TNONE && iType != LUA_TNIL && iType != LUA_TUSERDATA)
		return luaL_argerror(pState, 1, "opening files by name is not allowed");
	if (pfnOriginal == nullptr)
		return luaL_error(pState, "the file function is not available");
	return pfnOriginal(pState);
}

int LuaFunctionInputGuard(lua_State* pState)
{
	return GuardFileCall(pState, g_pfnIoInput);
}

int LuaFunctionOutputGuard(lua_State* pState)
{
	return GuardFileCall(pState, g_pfnIoOutput);
}

// debug.setupvalue for Lua functions only: the upvalues of a C function are records it reads unchecked (an engine
// native's function record, a class behind its metamethods, a coroutine.wrap's thread).
int LuaFunctionSetUpvalueGuard(lua_State* pState)
{
	luaL_argcheck(pState, !lua_iscfunction(pState, 1), 1, "Lua function expected");
	if (g_pfnSetUpvalue == nullptr)
		return luaL_error(pState, "the debug function is not available");
	return g_pfnSetUpvalue(pState);
}

// Replaces a library function (the table on top) by a guard, keeping the original as a C pointer.
void GuardLibraryFunction(lua_State* pState, const char* szName, lua_CFunction pfnGuard, lua_CFunction* ppfnOriginal)
{
	lua_getfield(pState, -1, szName);
	if (lua_CFunction pfnOriginal = lua_tocfunction(pState, -1))
		*ppfnOriginal = pfnOriginal;
	lua_pop(pState, 1);
	lua_pushcfunction(pState, pfnGuard);
	lua_setfield(pState, -2, szName);
}

int ProtectedCollect(lua_State* pState)
{
	lua_gc(pState, LUA_GCCOLLECT, 0);
	return 0;
}

int ProtectedCollectStep(lua_State* pState)
{
	lua_gc(pState, LUA_GCSTEP, static_cast<int>(lua_tointeger(pState, 1)));
	return 0;
}

int ProtectedBuildEnvironment(lua_State* pState)
{
	static_cast<CLuaScriptEnvironment*>(lua_touserdata(pState, 1))->Build();
	return 0;
}

struct tStreamReader
{
	Stream* m_pStream;
	char m_rgBuffer[512];
};

const char* ReadStream(lua_State*, void* pData, size_t* pSize)
{
	tStreamReader* pReader = static_cast<tStreamReader*>(pData);
	*pSize = pReader->m_pStream->Read(pReader->m_rgBuffer, sizeof(pReader->m_rgBuffer));
	return *pSize != 0 ? pReader->m_rgBuffer : nullptr;
}

// load() keeps the last piece its reader function returned in this slot, so the text stays alive while parsed.
constexpr int LOAD_READER_SLOT = 5;

const char* ReadFunctionPieces(lua_State* pState, void*, size_t* pSize)
{
	luaL_checkstack(pState, 2, "too many nested functions");
	lua_pushvalue(pState, 1);
	lua_call(pState, 0, 1);
	if (lua_isnil(pState, -1))
	{
		lua_pop(pState, 1);
		*pSize = 0;
		return nullptr;
	}
	if (!lua_isstring(pState, -1))
		luaL_error(pState, "reader function must return a string");
	lua_replace(pState, LOAD_READER_SLOT);
	return lua_tolstring(pState, LOAD_READER_SLOT, pSize);
}

// load bound to its environment (its upvalue is the environment's handle), text chunks only.
int LuaFunctionLoad(lua_State* pState)
{
	size_t Length = 0;
	const char* szChunk = lua_tolstring(pState, 1, &Length);
	int iEnvironment = lua_isnone(pState, 4) ? 0 : 4;
	int iStatus;
	if (szChunk != nullptr)
	{
		const char* szName = luaL_optstring(pState, 2, szChunk);
		iStatus = luaL_loadbufferx(pState, szChunk, Length, szName, "t");
	}
	else
	{
		const char* szName = luaL_optstring(pState, 2, "=(load)");
		luaL_checktype(pState, 1, LUA_TFUNCTION);
		lua_settop(pState, LOAD_READER_SLOT);
		iStatus = lua_load(pState, ReadFunctionPieces, nullptr, szName, "t");
	}
	if (iStatus != LUA_OK)
	{
		lua_pushnil(pState);
		lua_insert(pState, -2);
		return 2;
	}
	if (iEnvironment != 0)
	{
		lua_pushvalue(pState, iEnvironment);
	}
	else
	{
		// The environment whose code took this load, not the one that happens to be running (a finaliser or a
		// coroutine of one resource may run in another's call); once it has ended its table is gone (nil).
		CLuaScriptEnvironment* pEnvironment = CLuaScripting::FromState(pState)->FindEnvironment(
			reinterpret_cast<uintptr_t>(lua_touserdata(pState, lua_upvalueindex(1))));
		if (pEnvironment != nullptr)
			pEnvironment->PushTable(pState);
		else
			lua_pushnil(pState);
	}
	if (lua_setupvalue(pState, -2, 1) == nullptr)
		lua_pop(pState, 1);
	return 1;
}

// print to the engine log: the global tostring of every argument, joined by tabs, at info level.
int LuaFunctionPrint(lua_State* pState)
{
	int iArguments = lua_gettop(pState);
	lua_getglobal(pState, "tostring");
	luaL_Buffer Buffer;
	luaL_buffinit(pState, &Buffer);
	for (int i = 1; i <= iArguments; i++)
	{
		if (i > 1)
			luaL_addchar(&Buffer, '\t');
		lua_pushvalue(pState, iArguments + 1);
		lua_pushvalue(pState, i);
		lua_call(pState, 1, 1);
		if (!lua_isstring(pState, -1))
			return luaL_error(pState, "'tostring' must return a string to 'print'");
		luaL_addvalue(&Buffer);
	}
	luaL_pushresult(&Buffer);
	Context* pContext = KGlobal::GetContext();
	if (pContext != nullptr)
		pContext->Log("%s", lua_tostring(pState, -1));
	return 0;
}

// The state of one native call while its arguments are converted.
struct tNativeCall
{
	CLuaScripting* m_pLua;
	bool m_bMethod;
	int m_iCount;
	// Made by the conversion; null when even that failed.
	CArgumentArray* m_pArguments;
	// Counted for the call.
	CBaseObject* m_pThis;
	bool m_bRefused;

	// Drops what a conversion made.
	void Release()
	{
		if (m_pArguments != nullptr)
			m_pArguments->Release();
		if (m_pThis != nullptr)
			m_pThis->Release();
		m_pArguments = nullptr;
		m_pThis = nullptr;
	}
};

// Converts the receiver and the arguments at iFirst to iLast of the stack into the call. With bPlainOnly it converts
// only plain values, and gives up (false) at the first other one, which needs the conversion under protection.
// What the C++ code throws is caught here: an exception must not pass through Lua's own frames.
bool ConvertArguments(lua_State* pState, tNativeCall* pCall, int iFirst, int iLast, bool bPlainOnly)
{
	try
	{
		pCall->m_pArguments = new CArgumentArray(static_cast<size_t>(pCall->m_iCount));
		if (pCall->m_bMethod && iLast >= iFirst)
		{
			pCall->m_pThis = CLuaUtil::GetObject(pState, iFirst);
			if (pCall->m_pThis != nullptr)
				pCall->m_pThis->AddRef();
			iFirst++;
		}
		for (int i = iFirst; i <= iLast; i++)
		{
			bool bPlain = true;
			CArgument* pValue = bPlainOnly ? pCall->m_pLua->CreatePlainArgument(pState, i, &bPlain)
										   : pCall->m_pLua->CreateArgument(pState, i);
			if (!bPlain)
				return false;
			if (pValue == nullptr)
			{
				pCall->m_bRefused = true;
				return true;
			}
			pCall->m_pArguments->AddAndOwn(pValue);
		}
	}
	catch (const std::bad_alloc&)
	{
		SetError("%s", OUT_OF_MEMORY);
		pCall->m_bRefused = true;
	}
	return true;
}

// Every C function below runs C++ code inside a protected call, and catches what that code throws: an exception
// must not pass through Lua's own frames, which a protected call leaves only by its long jump.
int ProtectedConvertArguments(lua_State* pState)
{
	tNativeCall* pCall = static_cast<tNativeCall*>(lua_touserdata(pState, 1));
	ConvertArguments(pState, pCall, 2, lua_gettop(pState), false);
	return 0;
}

struct tPushValue
{
	CLuaScripting* m_pLua;
	const CArgument* m_pValue;
};

int ProtectedPushValue(lua_State* pState)
{
	tPushValue* pPush = static_cast<tPushValue*>(lua_touserdata(pState, 1));
	bool bOutOfMemory = false;
	try
	{
		pPush->m_pLua->PushArgument(pPush->m_pValue, pState, pPush->m_pLua->GetCurrentEnvironment());
	}
	catch (const std::bad_alloc&)
	{
		bOutOfMemory = true;
	}
	// Raised once the exception is gone.
	if (bOutOfMemory)
		return luaL_error(pState, "%s", OUT_OF_MEMORY);
	return 1;
}

// Raises the error on top again, with the calling script's position in front of a text, as luaL_error would
// have given it had the error been raised in the native's own frame.
int RaiseAtCaller(lua_State* pState)
{
	if (lua_type(pState, -1) == LUA_TSTRING)
	{
		luaL_where(pState, 1);
		lua_insert(pState, -2);
		lua_concat(pState, 2);
	}
	return lua_error(pState);
}

struct tFunctionCall
{
	CLuaScripting* m_pLua;
	const CLuaFunction* m_pFunction;
	const CArgumentArray* m_pArguments;
	CLuaScriptEnvironment* m_pEnvironment;
};

int ProtectedPushCall(lua_State* pState)
{
	tFunctionCall* pCall = static_cast<tFunctionCall*>(lua_touserdata(pState, 1));
	size_t Count = pCall->m_pArguments->GetArrayCount();
	if (Count > static_cast<size_t>(INT_MAX - 2))
		return luaL_error(pState, "too many arguments");
	luaL_checkstack(pState, static_cast<int>(Count) + 1, "too many arguments");
	pCall->m_pFunction->PushFunction(pState);
	bool bOutOfMemory = false;
	try
	{
		for (size_t i = 0; i < Count; i++)
			pCall->m_pLua->PushArgument(pCall->m_pArguments->GetAt(i), pState, pCall->m_pEnvironment);
	}
	catch (const std::bad_alloc&)
	{
		bOutOfMemory = true;
	}
	if (bOutOfMemory)
		return luaL_error(pState, "%s", OUT_OF_MEMORY);
	return static_cast<int>(Count) + 1;
}

struct tConvertValue
{
	CLuaScripting* m_pLua;
	CArgument* m_pValue;
};

int ProtectedConvertValue(lua_State* pState)
{
	tConvertValue* pConvert = static_cast<tConvertValue*>(lua_touserdata(pState, 1));
	try
	{
		pConvert->m_pValue = pConvert->m_pLua->CreateArgument(pState, 2);
	}
	catch (const std::bad_alloc&)
	{
		SetError("%s", OUT_OF_MEMORY);
		pConvert->m_pValue = nullptr;
	}
	return 0;
}
}

// Registration and lifetime

bool RegisterLuaVM(CScripting* pScripting)
{
	CLuaScripting* pLua = new CLuaScripting(pScripting);
	if (!pLua->Initialise())
	{
		Context* pContext = KGlobal::GetContext();
		if (pContext != nullptr)
			pContext->LogError("Failed to create the Lua state");
		delete pLua;
		return false;
	}
	if (!pScripting->AddVM(pLua->GetId(), pLua))
	{
		delete pLua;
		return false;
	}
	return true;
}

CLuaScripting::CLuaScripting(CScripting* pScripting)
	: m_pScripting(pScripting), m_pState(nullptr), m_uiId(CScripting::GetLanguageId("Lua")),
	  m_CallbackFunction("", "", FunctionCallback), m_bClosing(false), m_pReferences(nullptr),
	  m_ConvertedElements(0), m_uiConversions(0), m_CollectorDebt(0)
{
}

CLuaScripting::~CLuaScripting()
{
	m_bClosing = true;
	if (m_pState != nullptr)
	{
		// Finalises every wrapper; the objects they release may still release references through the state.
		lua_close(m_pState);
		m_pState = nullptr;
	}
	while (m_pReferences != nullptr)
	{
		CLuaStrongReference* pReference = m_pReferences;
		m_pReferences = pReference->m_pNext;
		pReference->Detach();
	}
	for (CLuaScriptEnvironment* pEnvironment : m_Environments)
		pEnvironment->Detach();
	m_Environments.clear();
}

bool CLuaScripting::Initialise()
{
	lua_State* pState = luaL_newstate();
	if (pState == nullptr)
		return false;
	m_pState = pState;
	*static_cast<CLuaScripting**>(lua_getextraspace(pState)) = this;
	CreateCodeTables(pState);

	luaL_requiref(pState, "_G", luaopen_base, 1);
	ClearFields(pState, {"dofile", "loadfile", "load", "print"});
	// Every environment copies it.
	PushSetMetatable(pState, LuaFunctionSetMetatable);
	lua_setfield(pState, -2, "setmetatable");
	lua_pop(pState, 1);

	const luaL_Reg rgLibraries[] = {{"table", luaopen_table}, {"string", luaopen_string}, {"utf8", luaopen_utf8},
		{"math", luaopen_math}, {"coroutine", luaopen_coroutine}};
	for (const luaL_Reg& Library : rgLibraries)
	{
		luaL_requiref(pState, Library.name, Library.func, 1);
		lua_pop(pState, 1);
	}

	luaL_requiref(pState, "debug", luaopen_debug, 1);
	GuardLibraryFunction(pState, "setupvalue", LuaFunctionSetUpvalueGuard, &g_pfnSetUpvalue);
	PushSetMetatable(pState, LuaFunctionDebugSetMetatable);
	lua_setfield(pState, -2, "setmetatable");
	lua_pop(pState, 1);

	luaL_requiref(pState, "os", luaopen_os, 1);
	ClearFields(pState, {"execute", "getenv", "remove", "rename", "tmpname"});
	lua_pop(pState, 1);

	luaL_requiref(pState, "io", luaopen_io, 1);
	ClearFields(pState, {"lines", "open", "popen", "tmpfile"});
	GuardLibraryFunction(pState, "input", LuaFunctionInputGuard, &g_pfnIoInput);
	GuardLibraryFunction(pState, "output", LuaFunctionOutputGuard, &g_pfnIoOutput);
	lua_pop(pState, 1);

	CLuaUtil::CreateClassTableSet(pState);
	SetUpCallerChains(pState);
	lua_gc(pState, LUA_GCCOLLECT, 0);
	return true;
}

bool CLuaScripting::DefineClasses()
{
	return DefineClasses(m_pScripting->GetGlobal());
}

void CLuaScripting::CollectGarbage()
{
	if (m_bClosing || m_pState == nullptr || !lua_checkstack(m_pState, 1))
		return;
	// A script's finaliser may raise an error; caught here, it is logged rather than ending the process.
	int iTop = lua_gettop(m_pState);
	lua_pushcfunction(m_pState, ProtectedCollect);
	if (lua_pcall(m_pState, 0, 0, 0) != LUA_OK)
		ReportError(m_pState, -1);
	lua_settop(m_pState, iTop);
}

void CLuaScripting::PayCollectorDebtNow(lua_State* pState)
{
	if (m_bClosing || !lua_gc(pState, LUA_GCISRUNNING, 0) || !lua_checkstack(pState, 2))
		return;
	const size_t Kilobytes = std::min<size_t>(m_CollectorDebt / COLLECTOR_DEBT_STEP, INT_MAX);
	m_CollectorDebt -= Kilobytes * COLLECTOR_DEBT_STEP;
	const int iTop = lua_gettop(pState);
	lua_pushcfunction(pState, ProtectedCollectStep);
	lua_pushinteger(pState, static_cast<lua_Integer>(Kilobytes));
	if (lua_pcall(pState, 1, 0, 0) != LUA_OK)
		ReportError(pState, -1);
	lua_settop(pState, iTop);
}

CScriptEnvironment* CLuaScripting::CreateEnvironment(const char*)
{
	if (m_bClosing || m_pState == nullptr || !lua_checkstack(m_pState, 2))
		return nullptr;
	CLuaScriptEnvironment* pEnvironment = new CLuaScriptEnvironment(this);
	int iTop = lua_gettop(m_pState);
	lua_pushcfunction(m_pState, ProtectedBuildEnvironment);
	lua_pushlightuserdata(m_pState, pEnvironment);
	if (lua_pcall(m_pState, 1, 0, 0) != LUA_OK)
	{
		ReportError(m_pState, -1);
		lua_settop(m_pState, iTop);
		pEnvironment->Destroy();
		return nullptr;
	}
	lua_settop(m_pState, iTop);
	return pEnvironment;
}

CLuaScriptEnvironment* CLuaScripting::FindEnvironment(uintptr_t Handle) const
{
	// Handles lie in upvalues, which the debug library can change: whatever one names is checked to be one of this
	// language's environments.
	CLuaScriptEnvironment* pEnvironment = dynamic_cast<CLuaScriptEnvironment*>(CScriptEnvironment::FromHandle(Handle));
	return pEnvironment != nullptr && pEnvironment->GetLua() == this ? pEnvironment : nullptr;
}

void CLuaScripting::PushEnvironment(CLuaScriptEnvironment* pEnvironment)
{
	m_EnvironmentStack.AddNode(pEnvironment);
}

void CLuaScripting::PopEnvironment()
{
	m_EnvironmentStack.RemoveNode(m_EnvironmentStack.GetFirstNode());
}

void CLuaScripting::LinkReference(CLuaStrongReference* pReference)
{
	pReference->m_pPrevious = nullptr;
	pReference->m_pNext = m_pReferences;
	if (m_pReferences != nullptr)
		m_pReferences->m_pPrevious = pReference;
	m_pReferences = pReference;
}

void CLuaScripting::UnlinkReference(CLuaStrongReference* pReference)
{
	if (pReference->m_pPrevious != nullptr)
		pReference->m_pPrevious->m_pNext = pReference->m_pNext;
	else if (m_pReferences == pReference)
		m_pReferences = pReference->m_pNext;
	if (pReference->m_pNext != nullptr)
		pReference->m_pNext->m_pPrevious = pReference->m_pPrevious;
}

void CLuaScripting::ReportError(lua_State* pState, int iIndex)
{
	// Only texts already there are read: converting would allocate, and an allocation may run script finalisers.
	char szText[128];
	const char* pszText = szText;
	switch (lua_type(pState, iIndex))
	{
	case LUA_TSTRING:
		pszText = lua_tostring(pState, iIndex);
		break;
	case LUA_TNUMBER:
		if (lua_isinteger(pState, iIndex))
		{
			snprintf(szText, sizeof(szText), "%" PRId64, static_cast<int64_t>(lua_tointeger(pState, iIndex)));
		}
		else
		{
			snprintf(szText, sizeof(szText), "%.14g", lua_tonumber(pState, iIndex));
			if (strspn(szText, "-0123456789") == strlen(szText))
				_strlcpy(szText + strlen(szText), ".0", sizeof(szText) - strlen(szText));
		}
		break;
	default:
		snprintf(szText, sizeof(szText), "(error object is a %s value)", luaL_typename(pState, iIndex));
		break;
	}
	LogScriptError(pszText);
}

void CLuaScripting::LogScriptError(const char* szText)
{
	Context* pContext = KGlobal::GetContext();
	if (pContext != nullptr)
		pContext->LogError("SCRIPT ERROR: %s", szText);
}

// Environments

CLuaScriptEnvironment::CLuaScriptEnvironment(CLuaScripting* pLua) : m_pLua(pLua)
{
	pLua->AddEnvironment(this);
}

CLuaScriptEnvironment::~CLuaScriptEnvironment()
{
	if (m_pLua != nullptr)
		m_pLua->RemoveEnvironment(this);
}

void CLuaScriptEnvironment::Destroy()
{
	if (HasEnded())
		return;
	End();
	// The functions of this environment hold references to its table through their upvalues, and scripts may hold
	// those functions' wrappers in the table: dropping both breaks the cycle through the registry.
	m_Table.Release();
	for (CLuaFunction* pFunction : m_Functions)
		pFunction->ReleaseFunction();
	Release();
}

void CLuaScriptEnvironment::Build()
{
	lua_State* pState = m_pLua->GetState();
	CScripting* pScripting = m_pLua->GetScripting();
	luaL_checkstack(pState, 8, nullptr);
	lua_newtable(pState);
	int iTable = lua_gettop(pState);

	for (const char* szName : BASE_NAMES)
	{
		lua_getglobal(pState, szName);
		lua_setfield(pState, iTable, szName);
	}
	lua_pushlightuserdata(pState, reinterpret_cast<void*>(GetHandle()));
	lua_pushcclosure(pState, LuaFunctionLoad, 1);
	lua_setfield(pState, iTable, "load");
	lua_pushcfunction(pState, LuaFunctionPrint);
	lua_setfield(pState, iTable, "print");
	lua_pushvalue(pState, iTable);
	lua_setfield(pState, iTable, "_G");

	// Copies, so that a resource that replaces a library function changes only its own.
	for (const tLibraryCopy& Library : LIBRARY_COPIES)
	{
		lua_getglobal(pState, Library.m_szName);
		int iGlobal = lua_gettop(pState);
		lua_createtable(pState, 0, static_cast<int>(Library.m_Count));
		for (size_t i = 0; i < Library.m_Count; i++)
		{
			lua_getfield(pState, iGlobal, Library.m_ppszNames[i]);
			lua_setfield(pState, -2, Library.m_ppszNames[i]);
		}
		lua_setfield(pState, iTable, Library.m_szName);
		lua_pop(pState, 1);
	}

	lua_pushvalue(pState, iTable);
	m_Table.Set(pState, pState);
	m_pLua->AddEnvironmentTable(pState, iTable, GetHandle());

	if (CDefineHandlers* pDefines = pScripting->GetDefineHandlers())
	{
		for (const IntDefine& Define : pDefines->GetDefines())
		{
			lua_pushinteger(pState, Define.GetWideValue());
			lua_setfield(pState, iTable, Define.m_Name.c_str());
		}
	}

	m_pLua->RegisterNamespace(pScripting->GetGlobal(), this);
	lua_settop(pState, iTable - 1);
}

bool CLuaScriptEnvironment::DoFile(Stream* pStream, const char* szName)
{
	if (!IsUsable())
		return false;
	lua_State* pState = m_pLua->GetState();
	if (!lua_checkstack(pState, 2))
		return false;
	int iTop = lua_gettop(pState);
	tStreamReader Reader;
	Reader.m_pStream = pStream;
	if (lua_load(pState, ReadStream, &Reader, szName, "t") != LUA_OK)
	{
		CLuaScripting::ReportError(pState, -1);
		lua_settop(pState, iTop);
		return false;
	}
	PushTable(pState);
	if (lua_setupvalue(pState, -2, 1) == nullptr)
		lua_pop(pState, 1);
	// Lua names the chunk's code by the name given, or "?" without one.
	m_pLua->AddSourceFile(szName != nullptr ? szName : "?", GetHandle(), m_pResource ? m_pResource->GetName() : "");
	bool bResult = Call(0, 0);
	lua_settop(pState, iTop);
	return bResult;
}

bool CLuaScriptEnvironment::Call(int iArguments, int iResults)
{
	CLuaScripting* pLua = m_pLua;
	lua_State* pState = pLua->GetState();
	AddRef();
	pLua->PushEnvironment(this);
	int iStatus = lua_pcall(pState, iArguments, iResults, 0);
	// A script that only takes what the engine hands it (event arguments, say) may call no native at all.
	pLua->PayCollectorDebt(pState);
	pLua->PopEnvironment();
	if (iStatus != LUA_OK)
	{
		CLuaScripting::ReportError(pState, -1);
		lua_pop(pState, 1);
	}
	// May be the last reference, when the resource stopped during the call.
	Release();
	return iStatus == LUA_OK;
}

// Function values

CLuaFunction::CLuaFunction(
	CScripting* pScripting, CLuaScriptEnvironment* pEnvironment, uintptr_t Environment, lua_State* pState)
	: CFunction(pScripting, Environment), m_pEnvironment(pEnvironment)
{
	if (pEnvironment != nullptr && pEnvironment->IsUsable())
	{
		m_Function.Set(pState, pEnvironment->GetLua()->GetState());
		pEnvironment->AddFunction(this);
	}
	else
	{
		lua_pop(pState, 1);
	}
}

CLuaFunction::~CLuaFunction()
{
	if (!m_pEnvironment.IsNull())
		m_pEnvironment->RemoveFunction(this);
}

bool CLuaFunction::Call(const CArgumentArray& Arguments, CReturnValue* pResult)
{
	// The call may drop the last other reference to this function (a handler that removes itself).
	Strong<CLuaFunction> pKeep(this);
	CLuaScriptEnvironment* pEnvironment = m_pEnvironment;
	if (pEnvironment == nullptr || !pEnvironment->IsUsable() || !m_Function.IsSet())
	{
		CLuaScripting::LogScriptError(STOPPED_FUNCTION);
		return false;
	}
	CLuaScripting* pLua = pEnvironment->GetLua();
	lua_State* pState = pLua->GetState();
	int iTop = lua_gettop(pState);
	if (!lua_checkstack(pState, 2))
	{
		CLuaScripting::LogScriptError("stack overflow");
		return false;
	}

	tFunctionCall Call = {pLua, this, &Arguments, pEnvironment};
	lua_pushcfunction(pState, ProtectedPushCall);
	lua_pushlightuserdata(pState, &Call);
	if (lua_pcall(pState, 1, LUA_MULTRET, 0) != LUA_OK)
	{
		CLuaScripting::ReportError(pState, -1);
		lua_settop(pState, iTop);
		return false;
	}
	bool bResult = pEnvironment->Call(lua_gettop(pState) - iTop - 1, pResult != nullptr ? 1 : 0);

	if (bResult && pResult != nullptr)
	{
		if (!lua_checkstack(pState, 4))
		{
			CLuaScripting::LogScriptError("stack overflow");
			lua_settop(pState, iTop);
			return false;
		}
		// A function returned here belongs to the environment that made it, not to whoever called.
		tConvertValue Convert = {pLua, nullptr};
		int iValue = lua_gettop(pState);
		lua_pushcfunction(pState, ProtectedConvertValue);
		lua_pushlightuserdata(pState, &Convert);
		lua_pushvalue(pState, iValue);
		pLua->PushEnvironment(pEnvironment);
		pLua->BeginConversion();
		int iStatus = lua_pcall(pState, 2, 0, 0);
		pLua->EndConversion();
		pLua->PopEnvironment();
		if (iStatus != LUA_OK)
		{
			CLuaScripting::ReportError(pState, -1);
			bResult = false;
		}
		else if (Convert.m_pValue == nullptr)
		{
			CLuaScripting::LogScriptError(g_szError);
			bResult = false;
		}
		else
		{
			pResult->AddAndOwn(Convert.m_pValue);
		}
	}
	lua_settop(pState, iTop);
	return bResult;
}

// Natives called from Lua

namespace
{
// How CallNative ended when it has no results to give: the error to raise is the text it left in its buffer, or
// the value on top of the stack, which gets the calling script's position.
constexpr int RAISE_TEXT = -1;
constexpr int RAISE_TOP = -2;

// The native call itself, with the environment it runs for (pEnvironment) on top of the environment stack. Raises
// no Lua error (nothing of C++ may be skipped by the long jump): an error to raise is returned as RAISE_TEXT, with
// its text in szError, or as RAISE_TOP.
int CallNative(lua_State* pState, CLuaScripting* pLua, CLuaScriptEnvironment* pEnvironment, int iFirst, int iCount,
	const ScriptFunction* pFunction, bool bMethod, void* pUserData, CBaseObject* pHold,
	char (&szError)[KERROR_TEXT_SIZE])
{
	// Before anything of the call exists: the step may run finalisers, which may call natives themselves.
	pLua->PayCollectorDebt(pState);
	if (!lua_checkstack(pState, iCount + 3))
	{
		_strlcpy(szError, "stack overflow", sizeof(szError));
		return RAISE_TEXT;
	}

	// Conversion runs protected, so that nothing of C++ is skipped when a Lua error interrupts it; the native
	// call itself touches no Lua stack, and the result is pushed protected again. Plain values (numbers, strings,
	// engine objects) can raise no error: calls with only those, and results that are numbers, need no protected
	// call.
	tNativeCall Call = {pLua, bMethod, iCount, nullptr, nullptr, false};
	pLua->BeginConversion();
	bool bConverted = ConvertArguments(pState, &Call, iFirst, iFirst + iCount - 1, true);
	pLua->EndConversion();
	int iStatus = LUA_OK;
	if (!bConverted)
	{
		Call.Release();
		lua_pushcfunction(pState, ProtectedConvertArguments);
		lua_pushlightuserdata(pState, &Call);
		for (int i = 0; i < iCount; i++)
			lua_pushvalue(pState, iFirst + i);
		pLua->BeginConversion();
		iStatus = lua_pcall(pState, iCount + 1, 0, 0);
		pLua->EndConversion();
	}
	if (iStatus != LUA_OK || Call.m_bRefused)
	{
		_strlcpy(szError, g_szError, sizeof(szError));
		Call.Release();
		return iStatus != LUA_OK ? RAISE_TOP : RAISE_TEXT;
	}

	if (pHold != nullptr)
		pHold->AddRef();
	CArgument* pResult = nullptr;
	bool bResult;
	bool bPushed = false;
	// Nothing here touches the Lua state but pushing a number, which raises no error: exceptions are caught before
	// they could reach it.
	try
	{
		CNativeState State(pLua->GetScripting(), pEnvironment != nullptr ? pEnvironment->GetResource() : nullptr,
			Call.m_pArguments, pLua, pState);
		if (bMethod)
			State.SetThis(Call.m_pThis);
		bResult = pFunction->Call(&State, static_cast<int>(Call.m_pArguments->GetArrayCount()), pUserData);
		KASSERT(bResult != State.m_bHasError);
		if (bResult)
		{
			pResult = State.m_RVal.GetReturnArgument();
			// The conversion made room for one value.
			if (pResult != nullptr && CLuaScripting::PushScalar(pResult, pState))
				bPushed = true;
			else if (pResult != nullptr)
				pResult->AddRef();
		}
		else
		{
			_strlcpy(szError, g_szError, sizeof(szError));
		}
	}
	catch (const std::bad_alloc&)
	{
		bResult = false;
		_strlcpy(szError, OUT_OF_MEMORY, sizeof(szError));
	}
	Call.Release();
	if (pHold != nullptr)
		pHold->Release();
	if (!bResult)
		return RAISE_TEXT;
	if (bPushed)
		return 1;
	if (pResult == nullptr)
		return 0;

	tPushValue Push = {pLua, pResult};
	lua_pushcfunction(pState, ProtectedPushValue);
	lua_pushlightuserdata(pState, &Push);
	iStatus = lua_pcall(pState, 1, 1, 0);
	pResult->Release();
	return iStatus == LUA_OK ? 1 : RAISE_TOP;
}
}

int LuaFunctionGeneric(lua_State* pState, int iFirst, int iCount, const ScriptFunction* pFunction, bool bMethod,
	void* pUserData, CBaseObject* pHold, uintptr_t Environment)
{
	CLuaScripting* pLua = CLuaScripting::FromState(pState);
	if (pLua->IsClosing())
		return luaL_error(pState, "%s", SHUTTING_DOWN);
	iFirst = lua_absindex(pState, iFirst);

	// The environment the call runs for goes on top of the stack for the call when it is not there yet, so that
	// the native, the functions it takes and the scripts it runs all see it.
	CLuaScriptEnvironment* pCurrent = pLua->GetCurrentEnvironment();
	CLuaScriptEnvironment* pEnvironment = pCurrent;
	if (Environment != 0 && (pCurrent == nullptr || pCurrent->GetHandle() != Environment))
	{
		pEnvironment = pLua->FindEnvironment(Environment);
		if (pEnvironment == nullptr)
		{
			pLua->GetScripting()->RefuseCaller();
			return luaL_error(pState, "%s", g_szError);
		}
	}
	if (!pLua->GetScripting()->CheckCaller(pEnvironment))
		return luaL_error(pState, "%s", g_szError);
	CLuaScriptEnvironment* pPushed = pEnvironment != pCurrent ? pEnvironment : nullptr;
	if (pPushed != nullptr)
	{
		// Counted: the call may stop the resource, which lets go of the environment.
		pPushed->AddRef();
		pLua->PushEnvironment(pPushed);
	}

	char szError[KERROR_TEXT_SIZE];
	const int iResults =
		CallNative(pState, pLua, pEnvironment, iFirst, iCount, pFunction, bMethod, pUserData, pHold, szError);
	if (pPushed != nullptr)
	{
		pLua->PopEnvironment();
		pPushed->Release();
	}
	// Errors are raised only once everything of C++ is gone.
	if (iResults == RAISE_TOP)
		return RaiseAtCaller(pState);
	if (iResults == RAISE_TEXT)
		return luaL_error(pState, "%s", szError);
	return iResults;
}

void PushLuaNativeFunction(lua_State* pState, const ScriptFunction* pFunction, void* pUserData, uintptr_t Environment)
{
	tLuaNativeFunction* pRecord = static_cast<tLuaNativeFunction*>(lua_newuserdata(pState, sizeof(tLuaNativeFunction)));
	*pRecord = tLuaNativeFunction{pFunction, pUserData, Environment};
}

int LuaFunctionStatic(lua_State* pState)
{
	const tLuaNativeFunction* pRecord =
		static_cast<const tLuaNativeFunction*>(lua_touserdata(pState, lua_upvalueindex(1)));
	return LuaFunctionGeneric(pState, 1, lua_gettop(pState), pRecord->m_pFunction, false, pRecord->m_pUserData,
		nullptr, pRecord->m_Environment);
}

int LuaFunctionThiscall(lua_State* pState)
{
	const tLuaNativeFunction* pRecord =
		static_cast<const tLuaNativeFunction*>(lua_touserdata(pState, lua_upvalueindex(1)));
	return LuaFunctionGeneric(pState, 1, lua_gettop(pState), pRecord->m_pFunction, true, pRecord->m_pUserData);
}

int LuaFunctionCallback(lua_State* pState)
{
	CLuaScripting* pLua = CLuaScripting::FromState(pState);
	// The upvalue is reachable through the debug library, so its object is checked to be a function.
	CFunction* ppUserData = dynamic_cast<CFunction*>(CLuaUtil::GetObject(pState, lua_upvalueindex(1)));
	if (!KASSERT(ppUserData))
		return 0;
	return LuaFunctionGeneric(pState, 1, lua_gettop(pState), pLua->GetCallbackFunction(), false, ppUserData,
		ppUserData);
}
