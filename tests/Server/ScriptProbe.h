#pragma once
// A resource that lets a test run short pieces of script in each language and read what they gave: every language
// registers a console command named after it ("lua", "js", "sq") that runs the rest of the line as code and prints
//   probe <command>: <code> => <description>
// where the description is the same notation in every language: null (JavaScript also shows undefined), true and
// false, integers in decimal and other numbers as "%g" does, 'text', [a, b] for arrays, Vec3(x, y, z),
// "Client <index>", "Element <id>", "Resource <name>", the class name of other objects, or "error: <message>"
// with the message of the script error (Lua's position prefix removed). E(name) is getElementFromName(name) in every
// language. Code that reads the same in every language can write null: in Lua it is an unset global, so nil.

#include <string>
#include <unistd.h>
#include <vector>

#include "ResourceTestSupport.h"

namespace ServerTest
{
struct tProbeLanguage
{
	const char* m_szCommand;
	const char* m_szLanguage;
	const char* m_szFile;
};

constexpr size_t PROBE_LUA = 0;
constexpr size_t PROBE_JS = 1;
constexpr size_t PROBE_SQUIRREL = 2;
constexpr size_t PROBE_LANGUAGE_COUNT = 3;

// In the order of the indexes above.
inline const tProbeLanguage g_ProbeLanguages[PROBE_LANGUAGE_COUNT] = {
	{"lua", "lua", "probe.lua"},
	{"js", "javascript", "probe.js"},
	{"sq", "squirrel", "probe.nut"},
};

inline const char* const g_szLuaProbe = R"script(
local function num(v)
	if math.type(v) == 'integer' then return string.format('%d', v) end
	return string.format('%g', v)
end
local function describe(v)
	local t = type(v)
	if v == nil then return 'null' end
	if t == 'boolean' then return tostring(v) end
	if t == 'number' then return num(v) end
	if t == 'string' then return "'" .. v .. "'" end
	if t == 'table' then
		local parts = {}
		for i = 1, #v do parts[i] = describe(v[i]) end
		return '[' .. table.concat(parts, ', ') .. ']'
	end
	local meta = getmetatable(v)
	local name = meta and meta.__name or t
	if name == 'Vec3' then return 'Vec3(' .. num(v.x) .. ', ' .. num(v.y) .. ', ' .. num(v.z) .. ')' end
	if name == 'Client' then return 'Client ' .. v.index end
	if name == 'Resource' then return 'Resource ' .. v.name end
	if name == 'Element' then return 'Element ' .. v.id end
	return name
end
function E(name) return getElementFromName(name) end
addCommandHandler('lua', function(command, code)
	local chunk = load('return ' .. code) or load(code)
	local ok, result = pcall(chunk)
	local text
	if ok then text = describe(result) else text = 'error: ' .. (tostring(result):gsub('^.-:%d+: ', '')) end
	print('probe lua: ' .. code .. ' => ' .. text)
end)
)script";

inline const char* const g_szJSProbe = R"script(
function num(v) {
	if (Number.isInteger(v)) return String(v);
	var s = v.toPrecision(6);
	if (s.indexOf('e') < 0) s = s.replace(/0+$/, '').replace(/\.$/, '');
	return s;
}
function describe(v) {
	if (v === null) return 'null';
	if (v === undefined) return 'undefined';
	if (typeof v === 'boolean') return String(v);
	if (typeof v === 'number') return num(v);
	if (typeof v === 'string') return "'" + v + "'";
	if (Array.isArray(v)) return '[' + v.map(describe).join(', ') + ']';
	if (v instanceof Vec3) return 'Vec3(' + num(v.x) + ', ' + num(v.y) + ', ' + num(v.z) + ')';
	if (v instanceof Client) return 'Client ' + v.index;
	if (v instanceof Resource) return 'Resource ' + v.name;
	if (v instanceof Element) return 'Element ' + v.id;
	if (v instanceof NetObjectFlags) return 'NetObjectFlags';
	return typeof v;
}
function E(name) { return getElementFromName(name); }
addCommandHandler('js', function(command, code) {
	var text;
	try { text = describe((0, eval)(code)); } catch (e) { text = 'error: ' + (e instanceof Error ? e.message : String(e)); }
	console.log('probe js: ' + code + ' => ' + text);
});
)script";

inline const char* const g_szSquirrelProbe = R"script(
function num(v) {
	if (typeof v == "integer") return v.tostring();
	return format("%g", v);
}
function describe(v) {
	switch (typeof v) {
	case "null": return "null";
	case "bool": return v ? "true" : "false";
	case "integer": case "float": return num(v);
	case "string": return "'" + v + "'";
	case "array":
		local parts = "";
		foreach (i, element in v) parts += (i > 0 ? ", " : "") + describe(element);
		return "[" + parts + "]";
	case "Vec3": return "Vec3(" + num(v.x) + ", " + num(v.y) + ", " + num(v.z) + ")";
	case "Client": return "Client " + v.index;
	case "Resource": return "Resource " + v.name;
	case "Element": return "Element " + v.id;
	}
	return typeof v;
}
function E(name) { return getElementFromName(name); }
addCommandHandler("sq", function(command, code, client) {
	local text;
	try {
		local chunk;
		try { chunk = compilestring("return (" + code + ")"); } catch (e) { chunk = compilestring(code); }
		text = describe(chunk());
	} catch (e) {
		text = "error: " + e;
	}
	print("probe sq: " + code + " => " + text);
});
)script";

// The probe scripts, one per language, for the resource "probe".
inline std::vector<tScript> ProbeScripts()
{
	return {{g_ProbeLanguages[PROBE_LUA].m_szFile, "lua", g_szLuaProbe},
		{g_ProbeLanguages[PROBE_JS].m_szFile, "javascript", g_szJSProbe},
		{g_ProbeLanguages[PROBE_SQUIRREL].m_szFile, "squirrel", g_szSquirrelProbe}};
}

// The console line that runs the code in the language.
inline std::string ProbeLine(size_t Language, const std::string& Code)
{
	return std::string(g_ProbeLanguages[Language].m_szCommand) + " " + Code;
}

// What the probe printed for the code in the language, from the last line of it among the lines; "<no result>"
// when there is none.
inline std::string ProbeResult(const std::vector<std::string>& Lines, size_t Language, const std::string& Code)
{
	const std::string Prefix = std::string("probe ") + g_ProbeLanguages[Language].m_szCommand + ": " + Code + " => ";
	for (auto it = Lines.rbegin(); it != Lines.rend(); ++it)
	{
		const size_t At = it->find(Prefix);
		if (At != std::string::npos)
			return it->substr(At + Prefix.size());
	}
	return "<no result>";
}

// Types the code into the server's console in the language and gives what the probe printed for it. The same
// code may be typed again: the answer is the line that the new line brought.
inline std::string ProbeOutput(CServerProcess& Server, size_t Language, const std::string& Code)
{
	const std::string Prefix = std::string("probe ") + g_ProbeLanguages[Language].m_szCommand + ": " + Code + " => ";
	auto CountAnswers = [&] {
		size_t Count = 0;
		for (const std::string& Line : Server.GetOutputLines())
			Count += Line.find(Prefix) != std::string::npos ? 1 : 0;
		return Count;
	};
	const size_t Before = CountAnswers();
	if (!Server.WriteInput(ProbeLine(Language, Code) + "\n"))
		return "<no result>";
	// A bound against a server that never answers, not a measurement.
	for (int i = 0; i < 6000 && CountAnswers() == Before; i++)
		usleep(5000);
	return ProbeResult(Server.GetOutputLines(), Language, Code);
}
}
