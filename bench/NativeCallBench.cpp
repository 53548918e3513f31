// Native call benchmark: the cost of calling the engine's natives from Lua, JavaScript and Squirrel, each measured
// side by side with a C function registered directly with that language that does the same work.
//
// For each language it times, in loops run by the language itself:
//   - scalars:  toColour(i, 2, 3)  against a bare colour function taking and returning integers;
//   - vector:   a.distance(b) on two Vec3 objects  against the same method of a bare vector type of the language;
//   - property: reading a.x of a Vec3  against the same property of the bare vector type;
// and for Lua also the server's setmetatable against Lua's own, in the same state:
//   - metatable: setmetatable({}, mt) with no "__gc" in mt;
//   - finaliser: the same with a "__gc", and a full collection at the end that runs the finalisers;
// and prints the time per call of each, their ratio (engine / bare) and the heap allocations per call the calling
// thread made (malloc, calloc and realloc are counted). Each loop is run several times, alternating bare and engine,
// and the fastest run of each counts, which keeps other work on the machine out of the figures.
//
// Usage: VexaNativeCallBench [-calls N] [-runs R] [-only LANGUAGE/CASE] [-side bare|engine]
// -only Lua/scalars runs that case alone and -side engine only its engine loop, for a profiler. -only Lua/heap
// prints the Lua heap that N live finalisable objects take, and what is left once they are collected, with each
// setmetatable. To count instructions, run a case under callgrind with --toggle-collect='*RunScript*'.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <js/Class.h>
#include <js/Conversions.h>
#include <js/Object.h>
#include <js/PropertySpec.h>
#include <js/Realm.h>
#include <jsapi.h>
#include <lua.hpp>
#include <squirrel.h>

#include "Engine/Context.h"
#include "Engine/KAssert.h"
#include "Engine/KestrinNative.h"
#include "Engine/KestrinStream.h"
#include "Engine/ScriptClasses.h"
#include "JSScripting/CJSScripting.h"
#include "LuaScripting/CLuaScripting.h"
#include "SquirrelScripting/SqScripting.h"

// Heap allocations of the thread that measures, counted while it measures; the engine's helper threads (compilers,
// collectors) are not counted.
#define VEXA_COUNT_ALLOCATIONS
#include "Support/AllocationCounter.h"

namespace
{
typedef std::chrono::steady_clock tClock;

// The colour of toColour, as a bare function computes it.
int32_t PackColour(int64_t iRed, int64_t iGreen, int64_t iBlue, int64_t iAlpha)
{
	uint32_t uiColour = (static_cast<uint32_t>(iAlpha & 0xFF) << 24) | (static_cast<uint32_t>(iRed & 0xFF) << 16) |
		(static_cast<uint32_t>(iGreen & 0xFF) << 8) | static_cast<uint32_t>(iBlue & 0xFF);
	return static_cast<int32_t>(uiColour);
}

float Distance(const float* a, const float* b)
{
	float dx = a[0] - b[0], dy = a[1] - b[1], dz = a[2] - b[2];
	return std::sqrt(dx * dx + dy * dy + dz * dz);
}

// Lua: bareColour(r, g, b [, a]) and the vector type BareVec(x, y, z) with .x, .y, .z and :distance(other).
namespace BareLua
{
const char* const VECTOR_TYPE = "BareVec";
// The name Lua's own setmetatable has beside the server's.
const char* const LUA_SETMETATABLE = "luaSetmetatable";

int Colour(lua_State* L)
{
	lua_Integer iRed = luaL_checkinteger(L, 1), iGreen = luaL_checkinteger(L, 2), iBlue = luaL_checkinteger(L, 3);
	lua_Integer iAlpha = luaL_optinteger(L, 4, 255);
	lua_pushinteger(L, PackColour(iRed, iGreen, iBlue, iAlpha));
	return 1;
}

int NewVector(lua_State* L)
{
	float* pVector = static_cast<float*>(lua_newuserdata(L, 3 * sizeof(float)));
	for (int i = 0; i < 3; i++)
		pVector[i] = static_cast<float>(luaL_optnumber(L, i + 1, 0.0));
	luaL_setmetatable(L, VECTOR_TYPE);
	return 1;
}

int VectorDistance(lua_State* L)
{
	const float* a = static_cast<const float*>(luaL_checkudata(L, 1, VECTOR_TYPE));
	const float* b = static_cast<const float*>(luaL_checkudata(L, 2, VECTOR_TYPE));
	lua_pushnumber(L, Distance(a, b));
	return 1;
}

// __index: a component, else the method of that name (upvalue 1 is the table of methods).
int VectorIndex(lua_State* L)
{
	const float* pVector = static_cast<const float*>(luaL_checkudata(L, 1, VECTOR_TYPE));
	const char* szKey = lua_tostring(L, 2);
	if (szKey != nullptr && szKey[0] >= 'x' && szKey[0] <= 'z' && szKey[1] == '\0')
	{
		lua_pushnumber(L, pVector[szKey[0] - 'x']);
		return 1;
	}
	lua_pushvalue(L, 2);
	lua_rawget(L, lua_upvalueindex(1));
	return 1;
}

void Register(CLuaScriptEnvironment* pEnvironment, lua_State* L)
{
	luaL_newmetatable(L, VECTOR_TYPE);
	lua_newtable(L);
	lua_pushcfunction(L, VectorDistance);
	lua_setfield(L, -2, "distance");
	lua_pushcclosure(L, VectorIndex, 1);
	lua_setfield(L, -2, "__index");
	lua_pop(L, 1);

	// Lua's own setmetatable is a C function of no upvalues: the one of a plain state serves in any state.
	lua_State* pPlain = luaL_newstate();
	luaL_openlibs(pPlain);
	lua_getglobal(pPlain, "setmetatable");
	const lua_CFunction pfnSetMetatable = lua_tocfunction(pPlain, -1);
	lua_close(pPlain);

	pEnvironment->PushTable(L);
	lua_pushcfunction(L, Colour);
	lua_setfield(L, -2, "bareColour");
	lua_pushcfunction(L, NewVector);
	lua_setfield(L, -2, "BareVec");
	lua_pushcfunction(L, pfnSetMetatable);
	lua_setfield(L, -2, LUA_SETMETATABLE);
	lua_pop(L, 1);
}

size_t HeapBytes(lua_State* L)
{
	return static_cast<size_t>(lua_gc(L, LUA_GCCOUNT, 0)) * 1024 + static_cast<size_t>(lua_gc(L, LUA_GCCOUNTB, 0));
}
}

// JavaScript: the same, as a function of the global and a class with accessors and a method.
namespace BareJS
{
void FinaliseVector(JS::GCContext*, JSObject* pObject)
{
	free(JS::GetMaybePtrFromReservedSlot<float>(pObject, 0));
}

const JSClassOps VECTOR_OPS = {
	nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, FinaliseVector, nullptr, nullptr, nullptr,
};

const JSClass VECTOR_CLASS = {
	"BareVec", JSCLASS_HAS_RESERVED_SLOTS(1) | JSCLASS_FOREGROUND_FINALIZE, &VECTOR_OPS, nullptr, nullptr, nullptr,
};

bool ToInteger(JSContext* cx, JS::HandleValue Value, int64_t& iOut)
{
	if (Value.isInt32())
	{
		iOut = Value.toInt32();
		return true;
	}
	double dValue;
	if (!JS::ToNumber(cx, Value, &dValue))
		return false;
	iOut = static_cast<int64_t>(dValue);
	return true;
}

bool Colour(JSContext* cx, unsigned argc, JS::Value* vp)
{
	JS::CallArgs Args = JS::CallArgsFromVp(argc, vp);
	int64_t iRed, iGreen, iBlue, iAlpha = 255;
	if (!ToInteger(cx, Args.get(0), iRed) || !ToInteger(cx, Args.get(1), iGreen) ||
		!ToInteger(cx, Args.get(2), iBlue) || (Args.length() > 3 && !ToInteger(cx, Args.get(3), iAlpha)))
		return false;
	Args.rval().setInt32(PackColour(iRed, iGreen, iBlue, iAlpha));
	return true;
}

const float* GetVector(JSContext* cx, JS::HandleValue Value)
{
	if (!Value.isObject() || JS::GetClass(&Value.toObject()) != &VECTOR_CLASS)
	{
		JS_ReportErrorASCII(cx, "BareVec expected");
		return nullptr;
	}
	return JS::GetMaybePtrFromReservedSlot<float>(&Value.toObject(), 0);
}

bool Construct(JSContext* cx, unsigned argc, JS::Value* vp)
{
	JS::CallArgs Args = JS::CallArgsFromVp(argc, vp);
	JS::RootedObject Object(cx, JS_NewObjectForConstructor(cx, &VECTOR_CLASS, Args));
	if (!Object)
		return false;
	float* pVector = static_cast<float*>(calloc(3, sizeof(float)));
	JS::SetReservedSlot(Object, 0, JS::PrivateValue(pVector));
	for (unsigned i = 0; i < 3 && i < Args.length(); i++)
	{
		double dValue;
		if (!JS::ToNumber(cx, Args[i], &dValue))
			return false;
		pVector[i] = static_cast<float>(dValue);
	}
	Args.rval().setObject(*Object);
	return true;
}

template <int Component>
bool GetComponent(JSContext* cx, unsigned argc, JS::Value* vp)
{
	JS::CallArgs Args = JS::CallArgsFromVp(argc, vp);
	const float* pVector = GetVector(cx, Args.thisv());
	if (pVector == nullptr)
		return false;
	Args.rval().setDouble(pVector[Component]);
	return true;
}

bool VectorDistance(JSContext* cx, unsigned argc, JS::Value* vp)
{
	JS::CallArgs Args = JS::CallArgsFromVp(argc, vp);
	const float* a = GetVector(cx, Args.thisv());
	const float* b = a != nullptr ? GetVector(cx, Args.get(0)) : nullptr;
	if (b == nullptr)
		return false;
	Args.rval().setDouble(Distance(a, b));
	return true;
}

const JSPropertySpec VECTOR_PROPERTIES[] = {
	JS_PSG("x", GetComponent<0>, 0),
	JS_PSG("y", GetComponent<1>, 0),
	JS_PSG("z", GetComponent<2>, 0),
	JS_PS_END,
};

const JSFunctionSpec VECTOR_METHODS[] = {
	JS_FN("distance", VectorDistance, 1, 0),
	JS_FS_END,
};

bool Register(CJSScripting* pLanguage, CJSScriptEnvironment* pEnvironment)
{
	JSContext* cx = pLanguage->GetContext();
	JS::RootedObject Global(cx, pEnvironment->GetGlobal());
	JSAutoRealm Realm(cx, Global);
	return JS_DefineFunction(cx, Global, "bareColour", Colour, 3, 0) &&
		JS_InitClass(cx, Global, nullptr, &VECTOR_CLASS, Construct, 3, VECTOR_PROPERTIES, VECTOR_METHODS, nullptr,
			nullptr) != nullptr;
}
}

// Squirrel: the same, as a closure of the root table and a class whose instances hold the vector.
namespace BareSq
{
// The address is the type tag of the vector class.
const char s_VectorTag = 0;

SQInteger Colour(HSQUIRRELVM v)
{
	SQInteger rgiValues[4] = {0, 0, 0, 255};
	SQInteger iCount = std::min<SQInteger>(sq_gettop(v) - 1, 4);
	for (SQInteger i = 0; i < iCount; i++)
	{
		if (SQ_FAILED(sq_getinteger(v, i + 2, &rgiValues[i])))
			return sq_throwerror(v, "integer expected");
	}
	sq_pushinteger(v, PackColour(rgiValues[0], rgiValues[1], rgiValues[2], rgiValues[3]));
	return 1;
}

const float* GetVector(HSQUIRRELVM v, SQInteger Index)
{
	SQUserPointer p = nullptr;
	if (SQ_FAILED(sq_getinstanceup(v, Index, &p, const_cast<char*>(&s_VectorTag))))
		return nullptr;
	return static_cast<const float*>(p);
}

SQInteger Construct(HSQUIRRELVM v)
{
	SQUserPointer p = nullptr;
	sq_getinstanceup(v, 1, &p, nullptr);
	float* pVector = static_cast<float*>(p);
	for (SQInteger i = 0; i < 3; i++)
	{
		SQFloat fValue = 0;
		if (sq_gettop(v) >= i + 2)
			sq_getfloat(v, i + 2, &fValue);
		pVector[i] = fValue;
	}
	return 0;
}

SQInteger Get(HSQUIRRELVM v)
{
	const float* pVector = GetVector(v, 1);
	const SQChar* szKey = nullptr;
	if (pVector == nullptr || SQ_FAILED(sq_getstring(v, 2, &szKey)) || szKey[0] < 'x' || szKey[0] > 'z' ||
		szKey[1] != '\0')
	{
		sq_pushnull(v);
		return sq_throwobject(v);
	}
	sq_pushfloat(v, pVector[szKey[0] - 'x']);
	return 1;
}

SQInteger VectorDistance(HSQUIRRELVM v)
{
	const float* a = GetVector(v, 1);
	const float* b = GetVector(v, 2);
	if (a == nullptr || b == nullptr)
		return sq_throwerror(v, "BareVec expected");
	sq_pushfloat(v, Distance(a, b));
	return 1;
}

void SetClosure(HSQUIRRELVM v, const char* szName, SQFUNCTION pfnFunction)
{
	sq_pushstring(v, szName, -1);
	sq_newclosure(v, pfnFunction, 0);
	sq_newslot(v, -3, SQFalse);
}

void Register(CSqScriptEnvironment* pEnvironment)
{
	HSQUIRRELVM v = pEnvironment->GetThread();
	sq_pushroottable(v);
	SetClosure(v, "bareColour", Colour);
	sq_pushstring(v, "BareVec", -1);
	sq_newclass(v, SQFalse);
	sq_settypetag(v, -1, const_cast<char*>(&s_VectorTag));
	sq_setclassudsize(v, -1, 3 * sizeof(float));
	SetClosure(v, "constructor", Construct);
	SetClosure(v, "_get", Get);
	SetClosure(v, "distance", VectorDistance);
	sq_newslot(v, -3, SQFalse);
	sq_pop(v, 1);
}
}

// One case of one language: the loop over the engine native and the same loop over the bare function. %N stands for
// the call count, %F for the function or class name.
struct tCase
{
	const char* m_szName;
	const char* m_szLoop;
	const char* m_szBare;
	const char* m_szEngine;
};

struct tLanguage
{
	const char* m_szName;
	const char* m_szFile;
	std::vector<tCase> m_Cases;
	CScriptEnvironment* m_pEnvironment;
};

std::string Expand(const char* szPattern, const char* szName, size_t Calls)
{
	std::string Text = szPattern;
	for (size_t Position; (Position = Text.find("%F")) != std::string::npos;)
		Text.replace(Position, 2, szName);
	for (size_t Position; (Position = Text.find("%N")) != std::string::npos;)
		Text.replace(Position, 2, std::to_string(Calls));
	return Text;
}

struct tRun
{
	double m_dNanoseconds = 0;
	uint64_t m_Allocations = 0;
	bool m_bRan = false;
};

tRun RunScript(CScriptEnvironment* pEnvironment, const char* szFile, const std::string& Text)
{
	Strong<CMemoryStream> pStream = Strong<CMemoryStream>::New(new CMemoryStream(Text.data(), Text.size()));
	tRun Run;
	tClock::time_point Start = tClock::now();
	AllocationCounter::Start();
	Run.m_bRan = pEnvironment->DoFile(pStream, szFile);
	Run.m_Allocations = AllocationCounter::Stop();
	Run.m_dNanoseconds = std::chrono::duration<double, std::nano>(tClock::now() - Start).count();
	return Run;
}

struct tResult
{
	double m_dBest = 1e300;
	uint64_t m_Allocations = UINT64_MAX;
};

// Side: "bare" or "engine" runs only that loop, empty runs both.
bool Measure(tLanguage& Language, const tCase& Case, size_t Calls, int Runs, const std::string& Side)
{
	tResult Bare, Engine;
	const int iFirst = Side == "engine" ? 1 : 0;
	const int iEnd = Side == "bare" ? 1 : 2;
	// A short run of each first, so that compilers and caches are warm when the clock runs.
	for (int iEngine = iFirst; iEngine < iEnd; iEngine++)
	{
		RunScript(Language.m_pEnvironment, Language.m_szFile,
			Expand(Case.m_szLoop, iEngine ? Case.m_szEngine : Case.m_szBare, Calls / 10));
	}
	for (int i = 0; i < Runs; i++)
	{
		for (int iEngine = iFirst; iEngine < iEnd; iEngine++)
		{
			tResult& Result = iEngine ? Engine : Bare;
			tRun Run = RunScript(Language.m_pEnvironment, Language.m_szFile,
				Expand(Case.m_szLoop, iEngine ? Case.m_szEngine : Case.m_szBare, Calls));
			if (!Run.m_bRan)
			{
				fprintf(stderr, "%s %s (%s) failed\n", Language.m_szName, Case.m_szName,
					iEngine ? "engine" : "bare");
				return false;
			}
			Result.m_dBest = std::min(Result.m_dBest, Run.m_dNanoseconds / static_cast<double>(Calls));
			Result.m_Allocations = std::min(Result.m_Allocations, Run.m_Allocations);
		}
	}
	if (!Side.empty())
	{
		const tResult& Result = Side == "bare" ? Bare : Engine;
		printf("%-10s %-9s %s only: %.1f ns, %.3f allocations per call\n", Language.m_szName, Case.m_szName,
			Side.c_str(), Result.m_dBest, static_cast<double>(Result.m_Allocations) / Calls);
	}
	else
	{
		printf("%-10s %-9s %9.1f %9.1f %7.2fx %12.3f %12.3f\n", Language.m_szName, Case.m_szName, Bare.m_dBest,
			Engine.m_dBest, Engine.m_dBest / Bare.m_dBest, static_cast<double>(Bare.m_Allocations) / Calls,
			static_cast<double>(Engine.m_Allocations) / Calls);
	}
	fflush(stdout);
	return true;
}

// The loops. Vectors and functions are held in locals, as a script that cares about speed would.
const std::vector<tCase> LUA_CASES = {
	{"scalars", "local f = %F\nfor i = 1, %N do f(i, 2, 3) end\n", "bareColour", "toColour"},
	{"vector", "local a, b = %F(1, 2, 3), %F(4, 5, 6)\nfor i = 1, %N do a:distance(b) end\n", "BareVec", "Vec3"},
	{"property", "local a, s = %F(1, 2, 3), 0\nfor i = 1, %N do s = s + a.x end\n", "BareVec", "Vec3"},
	{"metatable", "local f, mt = %F, {}\nfor i = 1, %N do f({}, mt) end\n", BareLua::LUA_SETMETATABLE,
		"setmetatable"},
	{"finaliser", "local f, mt = %F, {__gc = function() end}\nfor i = 1, %N do f({}, mt) end\ncollectgarbage()\n",
		BareLua::LUA_SETMETATABLE, "setmetatable"},
};

// The Lua heap with Objects live finalisable objects, and once they are gone, with Lua's own setmetatable and then
// the server's, in MB.
bool MeasureFinaliserHeap(CScriptEnvironment* pEnvironment, lua_State* L, size_t Objects)
{
	const char* const szMake =
		"collectgarbage() collectgarbage()\n"
		"held = {} local f, mt = %F, {__gc = function() end}\nfor i = 1, %N do held[i] = f({}, mt) end\n"
		"collectgarbage()\n";
	const char* const szDrop = "held = nil collectgarbage() collectgarbage()\n";
	printf("%-10s %-9s %9s %12s %12s  (%zu objects, Lua heap in MB)\n", "Lua", "heap", "side", "live", "gone",
		Objects);
	const char* const rgszSides[][2] = {{"bare", BareLua::LUA_SETMETATABLE}, {"engine", "setmetatable"}};
	for (const auto& rgszSide : rgszSides)
	{
		if (!RunScript(pEnvironment, "bench.lua", Expand(szMake, rgszSide[1], Objects)).m_bRan)
			return false;
		const size_t Live = BareLua::HeapBytes(L);
		if (!RunScript(pEnvironment, "bench.lua", szDrop).m_bRan)
			return false;
		const size_t Gone = BareLua::HeapBytes(L);
		printf("%-10s %-9s %9s %12.2f %12.2f\n", "Lua", "heap", rgszSide[0], static_cast<double>(Live) / 1e6,
			static_cast<double>(Gone) / 1e6);
	}
	fflush(stdout);
	return true;
}

const std::vector<tCase> JS_CASES = {
	{"scalars", "(function() { const f = %F; for (let i = 1; i <= %N; i++) f(i, 2, 3); })();\n", "bareColour",
		"toColour"},
	{"vector",
		"(function() { const a = new %F(1, 2, 3), b = new %F(4, 5, 6); for (let i = 1; i <= %N; i++) "
		"a.distance(b); })();\n",
		"BareVec", "Vec3"},
	{"property",
		"(function() { const a = new %F(1, 2, 3); let s = 0; for (let i = 1; i <= %N; i++) s += a.x; })();\n",
		"BareVec", "Vec3"},
};

const std::vector<tCase> SQUIRREL_CASES = {
	{"scalars", "local f = %F;\nfor (local i = 1; i <= %N; i++) f(i, 2, 3);\n", "bareColour", "toColour"},
	{"vector", "local a = %F(1, 2, 3), b = %F(4, 5, 6);\nfor (local i = 1; i <= %N; i++) a.distance(b);\n",
		"BareVec", "Vec3"},
	{"property", "local a = %F(1, 2, 3), s = 0.0;\nfor (local i = 1; i <= %N; i++) s += a.x;\n", "BareVec",
		"Vec3"},
};

struct tOptions
{
	size_t m_Calls = 300000;
	int m_iRuns = 7;
	std::string m_Only;
	std::string m_Side;
};

bool ParseOptions(int argc, char** argv, tOptions& Options)
{
	for (int i = 1; i < argc; i++)
	{
		if (i + 1 < argc && strcmp(argv[i], "-calls") == 0)
			Options.m_Calls = static_cast<size_t>(std::max(1000L, atol(argv[++i])));
		else if (i + 1 < argc && strcmp(argv[i], "-runs") == 0)
			Options.m_iRuns = std::max(1, atoi(argv[++i]));
		else if (i + 1 < argc && strcmp(argv[i], "-only") == 0)
			Options.m_Only = argv[++i];
		else if (i + 1 < argc && strcmp(argv[i], "-side") == 0 &&
			(strcmp(argv[i + 1], "bare") == 0 || strcmp(argv[i + 1], "engine") == 0))
			Options.m_Side = argv[++i];
		else
		{
			fprintf(stderr, "Usage: %s [-calls N] [-runs R] [-only LANGUAGE/CASE] [-side bare|engine]\n", argv[0]);
			return false;
		}
	}
	return true;
}
}

int main(int argc, char** argv)
{
	tOptions Options;
	if (!ParseOptions(argc, argv, Options))
		return 2;
	g_bAsserts = false;

	Context TheContext;
	CScripting Scripting;
	Scripting.RegisterUtilityFunctions();
	RegisterScriptClasses(&Scripting);
	const char* szFailure = CJSScripting::InitialiseEngine();
	if (szFailure != nullptr || !RegisterLuaVM(&Scripting) || !RegisterJSVM(&Scripting) || !RegisterSqVM(&Scripting))
	{
		fprintf(stderr, "A language could not be started%s%s\n", szFailure ? ": " : "", szFailure ? szFailure : "");
		return 1;
	}
	if (!Scripting.DefineAllClasses())
	{
		fprintf(stderr, "The classes could not be defined\n");
		return 1;
	}

	CLuaScripting* pLua = static_cast<CLuaScripting*>(Scripting.GetVM("Lua"));
	CJSScripting* pJS = static_cast<CJSScripting*>(Scripting.GetVM("SpiderMonkey"));
	std::vector<tLanguage> Languages = {
		{"Lua", "bench.lua", LUA_CASES, pLua->CreateEnvironment("bench")},
		{"JavaScript", "bench.js", JS_CASES, pJS->CreateEnvironment("bench")},
		{"Squirrel", "bench.nut", SQUIRREL_CASES, Scripting.GetVM("Squirrel")->CreateEnvironment("bench")},
	};
	for (const tLanguage& Language : Languages)
	{
		if (Language.m_pEnvironment == nullptr)
		{
			fprintf(stderr, "No %s environment\n", Language.m_szName);
			return 1;
		}
	}
	BareLua::Register(static_cast<CLuaScriptEnvironment*>(Languages[0].m_pEnvironment), pLua->GetState());
	if (!BareJS::Register(pJS, static_cast<CJSScriptEnvironment*>(Languages[1].m_pEnvironment)))
	{
		fprintf(stderr, "The bare JavaScript functions could not be defined\n");
		return 1;
	}
	BareSq::Register(static_cast<CSqScriptEnvironment*>(Languages[2].m_pEnvironment));

	printf("%zu calls per run, best of %d runs; times in ns per call, allocations per call%s\n", Options.m_Calls,
		Options.m_iRuns, AllocationCounter::IsAvailable() ? "" : " (not counted under the address sanitizer)");
	printf("%-10s %-9s %9s %9s %8s %12s %12s\n", "language", "case", "bare", "engine", "ratio", "bare allocs",
		"engine allocs");
	bool bResult = true;
	for (tLanguage& Language : Languages)
	{
		for (const tCase& Case : Language.m_Cases)
		{
			if (Options.m_Only.empty() || Options.m_Only == std::string(Language.m_szName) + "/" + Case.m_szName)
				bResult = Measure(Language, Case, Options.m_Calls, Options.m_iRuns, Options.m_Side) && bResult;
		}
	}

	if (Options.m_Only.empty() || Options.m_Only == "Lua/heap")
		bResult = MeasureFinaliserHeap(Languages[0].m_pEnvironment, pLua->GetState(), Options.m_Calls) && bResult;

	for (tLanguage& Language : Languages)
		Language.m_pEnvironment->Destroy();
	return bResult ? 0 : 1;
}
