#pragma once
// Preludes that let one piece of script check a value the same way in Lua, JavaScript and Squirrel: each defines s
// (a table for the cases to keep elements in), keep(name, value), describe(value) and check(label, function), which
// prints the language's label, the case's label, ": " and the description of what the function returned, or
// "error " and the error's text. Each also keeps the last ped spawned as s.spawned and the ped count its spawn
// handler saw as s.pedsAtSpawn.

#include <string>

#include "ScriptNotation.h"

namespace ServerTest
{
// Numbers are shown as integers, or with %g and a ".0" when a float has no fraction; JavaScript knows only
// numbers and shows floats with 6 significant digits. Elements show their class, matrices their position row.
inline const char* const g_szLuaPrelude = R"script(
s = {}
function keep(name, value) s[name] = value return value end
local function describe(v)
	local t = type(v)
	if v == nil then return 'null' end
	if t == 'boolean' then return tostring(v) end
	if t == 'number' then
		if math.type(v) == 'integer' then return string.format('%d', v) end
		return string.format('%g', v) .. (v == math.floor(v) and '.0' or '')
	end
	if t == 'string' then return '"' .. v .. '"' end
	if t == 'table' then
		local parts = {}
		for i = 1, #v do parts[i] = describe(v[i]) end
		return '[' .. table.concat(parts, ', ') .. ']'
	end
	local name = getmetatable(v).__name
	if name == 'Vec3' then return string.format('Vec3(%g, %g, %g)', v.x, v.y, v.z) end
	if name == 'Matrix4x4' then return string.format('Matrix(%g, %g, %g)', v.m41, v.m42, v.m43) end
	return name
end
function check(label, fn)
	local ok, result = pcall(fn)
	if ok then print('lua ' .. label .. ': ' .. describe(result))
	else print('lua ' .. label .. ': error ' .. (tostring(result):gsub('^.-:%d+: ', ''))) end
end
addEventHandler('OnPedSpawn', function(event, ped) s.spawned = ped s.pedsAtSpawn = getPedCount() end)
)script";

inline const char* const g_szJSPrelude = R"script(
var s = {};
function keep(name, value) { s[name] = value; return value; }
function describe(v) {
	if (v === null || v === undefined) return 'null';
	switch (typeof v) {
	case 'boolean': return String(v);
	case 'number': return Number.isInteger(v) ? String(v) : String(Number(v.toPrecision(6)));
	case 'string': return '"' + v + '"';
	}
	if (Array.isArray(v)) return '[' + v.map(describe).join(', ') + ']';
	if (v instanceof Vec3) return 'Vec3(' + describe(v.x) + ', ' + describe(v.y) + ', ' + describe(v.z) + ')';
	if (v instanceof Matrix4x4) return 'Matrix(' + describe(v.m41) + ', ' + describe(v.m42) + ', ' + describe(v.m43) + ')';
	return Object.getPrototypeOf(v).constructor.name;
}
function check(label, fn) {
	try { console.log('js ' + label + ': ' + describe(fn())); }
	catch (e) { console.log('js ' + label + ': error ' + e.message); }
}
addEventHandler('OnPedSpawn', function(event, ped) { s.spawned = ped; s.pedsAtSpawn = getPedCount(); });
)script";

inline const char* const g_szSquirrelPrelude = R"script(
s <- {};
function keep(name, value) { s[name] <- value; return value; }
function describe(v) {
	switch (typeof v) {
	case "null": return "null";
	case "bool": return v ? "true" : "false";
	case "integer": return v.tostring();
	case "float": return format("%g", v) + (v == v.tointeger() ? ".0" : "");
	case "string": return "\"" + v + "\"";
	case "array":
		local text = "[";
		foreach (i, element in v) text += (i > 0 ? ", " : "") + describe(element);
		return text + "]";
	case "Vec3": return format("Vec3(%g, %g, %g)", v.x, v.y, v.z);
	case "Matrix4x4": return format("Matrix(%g, %g, %g)", v.m41, v.m42, v.m43);
	}
	return typeof v;
}
function check(label, fn) {
	try { print("sq " + label + ": " + describe(fn())); }
	catch (e) { print("sq " + label + ": error " + e); }
}
addEventHandler("OnPedSpawn", function(event, ped) { s.spawned <- ped; s.pedsAtSpawn <- getPedCount(); });
)script";

inline const char* const g_rgszPreludes[LANGUAGE_COUNT] = {g_szLuaPrelude, g_szJSPrelude, g_szSquirrelPrelude};

// One case: code in the notation common to the three languages (ScriptNotation.h), its statements ending in a
// return, run in order with the cases before it, and what it prints. JavaScript and Squirrel print what Lua prints
// unless given their own text.
struct tCase
{
	const char* m_szLabel;
	const char* m_szCode;
	const char* m_szExpected;
	const char* m_szJS = nullptr;
	const char* m_szSquirrel = nullptr;
};

inline const char* Expected(eLanguage Language, const tCase& Case)
{
	if (Language == JAVASCRIPT && Case.m_szJS)
		return Case.m_szJS;
	if (Language == SQUIRREL && Case.m_szSquirrel)
		return Case.m_szSquirrel;
	return Case.m_szExpected;
}

// The statement that checks the code (in the language already) under the label.
inline std::string Check(eLanguage Language, const std::string& Label, const std::string& Code)
{
	return "check(\"" + Label + "\", " + FunctionOf(Language, Code) + ")" + (Language == LUA ? "\n" : ";\n");
}
}
