// Black-box tests of values crossing between Lua, JavaScript and Squirrel resources in the real server: every kind
// of value goes from each language to each language as an event argument, as the argument of an exported function
// and as the result of one, and function values of a stopped resource fail cleanly in every language.

#include <gtest/gtest.h>

#include <set>

#include "ResourceTestSupport.h"
#include "ScriptNotation.h"

using namespace ServerTest;

namespace
{
// Each language describes a value in the same notation, so the cases can say what arrives: "nil", "true",
// "int 5" (Lua and Squirrel integers), "float 1.5" (their floats, 17 digits), "num 5" (JavaScript numbers), "str
// text", "[a, b]" for arrays, "{k=v}" for maps with sorted keys, "bytes 1,2" for byte buffers, "Vec3(x, y, z)",
// "Vec2(x, y)", "Matrix4x4", "Resource name", and "function -> r" for a function, r being what it returns for 21.
const char* const g_szLuaDescribe = R"script(
local function describe(v)
	local t = type(v)
	if t == 'nil' or t == 'boolean' then return tostring(v) end
	if t == 'number' then
		if math.type(v) == 'integer' then return 'int ' .. string.format('%d', v) end
		return 'float ' .. string.format('%.17g', v)
	end
	if t == 'string' then return 'str ' .. v end
	if t == 'function' then return 'function -> ' .. describe(v(21)) end
	if t == 'table' then
		local parts = {}
		if #v > 0 then
			for i = 1, #v do parts[i] = describe(v[i]) end
			return '[' .. table.concat(parts, ', ') .. ']'
		end
		local keys = {}
		for k in pairs(v) do keys[#keys + 1] = k end
		table.sort(keys)
		for i, k in ipairs(keys) do parts[i] = k .. '=' .. describe(v[k]) end
		return '{' .. table.concat(parts, ', ') .. '}'
	end
	local name = getmetatable(v).__name
	if name == 'Vec3' then return string.format('Vec3(%g, %g, %g)', v.x, v.y, v.z) end
	if name == 'Vec2' then return string.format('Vec2(%g, %g)', v.x, v.y) end
	if name == 'Resource' then return 'Resource ' .. v.name end
	return name
end
local function report(path, label, v) print('lua ' .. path .. ' ' .. label .. ': ' .. describe(v)) end
)script";

const char* const g_szJSDescribe = R"script(
function describe(v) {
	if (v === null) return 'nil';
	if (v === undefined) return 'undefined';
	switch (typeof v) {
	case 'boolean': return String(v);
	case 'number': return 'num ' + String(v);
	case 'string': return 'str ' + v;
	case 'function': return 'function -> ' + describe(v(21));
	}
	if (Array.isArray(v)) return '[' + v.map(describe).join(', ') + ']';
	if (v instanceof ArrayBuffer) return 'bytes ' + Array.from(new Uint8Array(v)).join(',');
	if (v instanceof Vec3) return 'Vec3(' + v.x + ', ' + v.y + ', ' + v.z + ')';
	if (v instanceof Vec2) return 'Vec2(' + v.x + ', ' + v.y + ')';
	if (v instanceof Matrix4x4) return 'Matrix4x4';
	if (v instanceof Resource) return 'Resource ' + v.name;
	return '{' + Object.keys(v).sort().map(function(k) { return k + '=' + describe(v[k]); }).join(', ') + '}';
}
function report(path, label, v) { console.log('js ' + path + ' ' + label + ': ' + describe(v)); }
)script";

const char* const g_szSquirrelDescribe = R"script(
function join(parts, separator) {
	local text = "";
	foreach (i, part in parts) text += (i > 0 ? separator : "") + part;
	return text;
}
function describe(v) {
	local parts = [];
	switch (typeof v) {
	case "null": return "nil";
	case "bool": return v ? "true" : "false";
	case "integer": return "int " + v;
	case "float": return "float " + format("%.17g", v);
	case "string": return "str " + v;
	case "function": return "function -> " + describe(v(21));
	case "array":
		foreach (element in v) parts.append(describe(element));
		return "[" + join(parts, ", ") + "]";
	case "table":
		local keys = [];
		foreach (key, element in v) keys.append(key);
		keys.sort();
		foreach (key in keys) parts.append(key + "=" + describe(v[key]));
		return "{" + join(parts, ", ") + "}";
	case "blob":
		for (local i = 0; i < v.len(); i++) parts.append(v[i]);
		return "bytes " + join(parts, ",");
	case "Vec3": return format("Vec3(%g, %g, %g)", v.x, v.y, v.z);
	case "Vec2": return format("Vec2(%g, %g)", v.x, v.y);
	case "Resource": return "Resource " + v.name;
	}
	return typeof v;
}
function report(path, label, v) { print("sq " + path + " " + label + ": " + describe(v)); }
)script";

// One kind of value: how each language writes it (null when it cannot) and how each language describes it on
// arrival, whichever language sent it.
struct tValueCase
{
	const char* m_szName;
	const char* m_szValue[3];
	const char* m_szArrives[3];
	// What a JavaScript caller gets when the value is the result of a function, when that differs.
	const char* m_szReturnedToJS;
};

// Non-ASCII text, as UTF-8.
#define GRUESSE "Gr\xC3\xBC\xC3\x9F" "e \xF0\x9F\x98\x80"

const tValueCase g_ValueCases[] = {
	{"nil", {"nil", "null", "null"}, {"nil", "nil", "nil"}, nullptr},
	{"true", {"true", "true", "true"}, {"true", "true", "true"}, nullptr},
	{"false", {"false", "false", "false"}, {"false", "false", "false"}, nullptr},
	{"integer", {"-7", "-7", "-7"}, {"int -7", "num -7", "int -7"}, nullptr},
	// The largest 32-bit integer travels as a 64-bit one from Lua and Squirrel.
	{"int32 max", {"2147483647", "2147483647", "2147483647"},
		{"int 2147483647", "num 2147483647", "int 2147483647"}, nullptr},
	// Above 2^53 JavaScript numbers lose precision.
	{"64-bit", {"9007199254740993", nullptr, "9007199254740993"},
		{"int 9007199254740993", "num 9007199254740992", "int 9007199254740993"}, nullptr},
	// A JavaScript number beyond 32 bits is a double for the others.
	{"large number", {nullptr, "1099511627776", nullptr},
		{"float 1099511627776", "num 1099511627776", "float 1099511627776"}, nullptr},
	{"float", {"1.5", "1.5", "1.5"}, {"float 1.5", "num 1.5", "float 1.5"}, nullptr},
	// Squirrel floats have 32 bits.
	{"double", {"0.1", "0.1", nullptr}, {"float 0.10000000000000001", "num 0.1", "float 0.10000000149011612"},
		nullptr},
	{"squirrel float", {nullptr, nullptr, "0.1"},
		{"float 0.10000000149011612", "num 0.10000000149011612", "float 0.10000000149011612"}, nullptr},
	{"string", {"'" GRUESSE "'", "'" GRUESSE "'", "\"" GRUESSE "\""},
		{"str " GRUESSE, "str " GRUESSE, "str " GRUESSE}, nullptr},
	{"array", {"{1, 'two', {true, 2.5}}", "[1, 'two', [true, 2.5]]", "[1, \"two\", [true, 2.5]]"},
		{"[int 1, str two, [true, float 2.5]]", "[num 1, str two, [true, num 2.5]]",
			"[int 1, str two, [true, float 2.5]]"},
		nullptr},
	// Only Lua tables become maps; a JavaScript object or a Squirrel table is a reference that only its own
	// language can show.
	{"map", {"{a = 1, b = {c = '" GRUESSE "'}}", nullptr, nullptr},
		{"{a=int 1, b={c=str " GRUESSE "}}", "{a=num 1, b={c=str " GRUESSE "}}", "{a=int 1, b={c=str " GRUESSE "}}"},
		nullptr},
	{"object", {nullptr, "{a: 1}", nullptr}, {"nil", "{a=num 1}", "nil"}, nullptr},
	{"table", {nullptr, nullptr, "{a = 1}"}, {"nil", "undefined", "{a=int 1}"}, "nil"},
	{"undefined", {nullptr, "undefined", nullptr}, {"nil", "undefined", "nil"}, nullptr},
	{"vec3", {"Vec3(1, 2.5, -3)", "new Vec3(1, 2.5, -3)", "Vec3(1, 2.5, -3)"},
		{"Vec3(1, 2.5, -3)", "Vec3(1, 2.5, -3)", "Vec3(1, 2.5, -3)"}, nullptr},
	{"vec2", {"Vec2(0.5, 4)", "new Vec2(0.5, 4)", "Vec2(0.5, 4)"}, {"Vec2(0.5, 4)", "Vec2(0.5, 4)", "Vec2(0.5, 4)"},
		nullptr},
	{"matrix", {"Matrix4x4()", "new Matrix4x4()", "Matrix4x4()"}, {"Matrix4x4", "Matrix4x4", "Matrix4x4"}, nullptr},
	{"engine object", {"findResourceByName('luaside')", "findResourceByName('luaside')",
						  "findResourceByName(\"luaside\")"},
		{"Resource luaside", "Resource luaside", "Resource luaside"}, nullptr},
	{"function", {"function(x) return x * 2 end", "function(x) { return x * 2; }", "function(x) { return x * 2; }"},
		{"function -> int 42", "function -> num 42", "function -> int 42"}, nullptr},
	{"bytes", {nullptr, "new Uint8Array([104, 105]).buffer",
				  "(function() { local b = blob(2); b[0] = 104; b[1] = 105; return b; })()"},
		{"str hi", "bytes 104,105", "bytes 104,105"}, nullptr},
};

std::string SideName(size_t iLanguage)
{
	return std::string(g_ScriptLanguages[iLanguage].m_szLabel) + "side";
}

// Names of the cases the writer language can write, as a list literal of the script's language.
std::string CaseNames(size_t iWriter, size_t iScript)
{
	std::string List;
	for (const tValueCase& Case : g_ValueCases)
	{
		if (Case.m_szValue[iWriter] != nullptr)
			List += std::string(List.empty() ? "" : ", ") + "\"" + Case.m_szName + "\"";
	}
	return iScript == LUA ? "{" + List + "}" : "[" + List + "]";
}

// The script of one side: it describes whatever reaches it as an event argument, as an argument of its export
// "take" or as the result of another side's export "make", and its command "send<label>" sends all its cases.
std::string SideScript(size_t iLanguage)
{
	std::string Script;
	std::string Rows;
	std::string Others;
	for (size_t iOther = 0; iOther < 3; iOther++)
	{
		std::string Entry = "\"" + SideName(iOther) + "\", \"" + g_ScriptLanguages[iOther].m_szLabel + "\", " +
			CaseNames(iOther, iLanguage);
		Others += iLanguage == LUA ? "\t{" + Entry + "},\n" : "\t[" + Entry + "],\n";
	}
	for (const tValueCase& Case : g_ValueCases)
	{
		const char* szValue = Case.m_szValue[iLanguage];
		if (szValue == nullptr)
			continue;
		if (iLanguage == LUA)
			Rows += std::string("\t{\"") + Case.m_szName + "\", function() return " + szValue + " end},\n";
		else
			Rows += std::string("\t[\"") + Case.m_szName + "\", function() { return " + szValue + "; }],\n";
	}

	switch (iLanguage)
	{
	case LUA:
		Script = g_szLuaDescribe;
		Script += "local rows = {\n" + Rows + "}\nlocal others = {\n" + Others + "}\n";
		Script += R"script(
addEvent('Carry')
addEventHandler('Carry', function(event, label, v) report('event', label, v) end)
exportFunction('take', function(label, v) report('export', label, v) end)
exportFunction('make', function(name)
	for _, row in ipairs(rows) do if row[1] == name then return row[2]() end end
end)
addCommandHandler('sendlua', function()
	for _, row in ipairs(rows) do
		local label = row[1] .. ' from lua'
		triggerEvent('Carry', nil, label, row[2]())
		for _, other in ipairs(others) do findResourceByName(other[1]):getExport('take')(label, row[2]()) end
	end
	for _, other in ipairs(others) do
		local make = findResourceByName(other[1]):getExport('make')
		for _, name in ipairs(other[3]) do report('return', name .. ' from ' .. other[2], make(name)) end
	end
	print('lua sent')
end)
)script";
		break;
	case JAVASCRIPT:
		Script = g_szJSDescribe;
		Script += "var rows = [\n" + Rows + "];\nvar others = [\n" + Others + "];\n";
		Script += R"script(
addEvent('Carry');
addEventHandler('Carry', function(event, label, v) { report('event', label, v); });
exportFunction('take', function(label, v) { report('export', label, v); });
exportFunction('make', function(name) {
	for (var row of rows) if (row[0] === name) return row[1]();
});
addCommandHandler('sendjs', function() {
	for (var row of rows) {
		var label = row[0] + ' from js';
		triggerEvent('Carry', null, label, row[1]());
		for (var other of others) findResourceByName(other[0]).getExport('take')(label, row[1]());
	}
	for (var other of others) {
		var make = findResourceByName(other[0]).getExport('make');
		for (var name of other[2]) report('return', name + ' from ' + other[1], make(name));
	}
	console.log('js sent');
});
)script";
		break;
	case SQUIRREL:
		Script = g_szSquirrelDescribe;
		Script += "rows <- [\n" + Rows + "];\nothers <- [\n" + Others + "];\n";
		Script += R"script(
addEvent("Carry");
addEventHandler("Carry", function(event, label, v) { report("event", label, v); });
exportFunction("take", function(label, v) { report("export", label, v); });
exportFunction("make", function(name) {
	foreach (row in rows) if (row[0] == name) return row[1]();
	return null;
});
addCommandHandler("sendsq", function(command, parameters, ...) {
	foreach (row in rows) {
		local label = row[0] + " from sq";
		triggerEvent("Carry", null, label, row[1]());
		foreach (other in others) findResourceByName(other[0]).getExport("take")(label, row[1]());
	}
	foreach (other in others) {
		local make = findResourceByName(other[0]).getExport("make");
		foreach (name in other[2]) report("return", name + " from " + other[1], make(name));
	}
	print("sq sent");
});
)script";
		break;
	}
	return Script;
}
}

TEST(CrossLanguage, EveryKindOfValueCrossesBetweenTheLanguages)
{
	CServerProcess Server;
	std::vector<std::string> Names;
	for (size_t i = 0; i < 3; i++)
	{
		const tScriptLanguage& Language = g_ScriptLanguages[i];
		WriteResource(Server, SideName(i), {{Language.m_szFile, Language.m_szLanguage, SideScript(i)}});
		Names.push_back(SideName(i));
	}
	StartWithResources(Server, Names);
	ASSERT_TRUE(Printed(Server, "3/3 Resources loaded, 0 failed")) << Server.GetRawOutput();
	ASSERT_TRUE(Server.WriteInput("sendlua\nsendjs\nsendsq\n"));
	ASSERT_TRUE(Server.WaitForOutput("sq sent")) << Server.GetRawOutput();

	std::vector<std::string> Lines = Server.GetOutputLines();
	std::set<std::string> Seen(Lines.begin(), Lines.end());
	bool bAllArrived = true;
	for (const tValueCase& Case : g_ValueCases)
	{
		for (size_t iFrom = 0; iFrom < 3; iFrom++)
		{
			if (Case.m_szValue[iFrom] == nullptr)
				continue;
			for (size_t iTo = 0; iTo < 3; iTo++)
			{
				for (const char* szPath : {"event", "export", "return"})
				{
					const char* szArrives = Case.m_szArrives[iTo];
					if (iTo == JAVASCRIPT && std::string(szPath) == "return" && Case.m_szReturnedToJS != nullptr)
						szArrives = Case.m_szReturnedToJS;
					std::string Line = std::string(g_ScriptLanguages[iTo].m_szLabel) + " " + szPath + " " +
						Case.m_szName + " from " + g_ScriptLanguages[iFrom].m_szLabel + ": " + szArrives;
					bool bArrived = Seen.count(Line) != 0;
					EXPECT_TRUE(bArrived) << Line;
					bAllArrived = bAllArrived && bArrived;
				}
			}
		}
	}
	EXPECT_TRUE(bAllArrived) << Server.GetRawOutput();
}

TEST(CrossLanguage, FunctionsOfAStoppedResourceFailCleanlyInEveryLanguage)
{
	// Each language owns one function and holds the functions of all three.
	const char* const szOwner[3] = {
		"exportFunction('f', function() return 'alive' end)\n",
		"exportFunction('f', function() { return 'alive'; });\n",
		"exportFunction(\"f\", function() { return \"alive\"; });\n",
	};
	const char* const szHolder[3] = {
		"local held = {}\n"
		"for _, name in ipairs({'ownlua', 'ownjs', 'ownsq'}) do held[name] = findResourceByName(name):getExport('f') end\n"
		"addCommandHandler('calllua', function()\n"
		"\tfor _, name in ipairs({'ownlua', 'ownjs', 'ownsq'}) do\n"
		"\t\tlocal result = held[name]()\n"
		"\t\tprint('lua calls ' .. name .. ': ' .. tostring(result))\n"
		"\tend\n"
		"end)\n",
		"var held = {};\n"
		"for (var name of ['ownlua', 'ownjs', 'ownsq']) held[name] = findResourceByName(name).getExport('f');\n"
		"addCommandHandler('calljs', function() {\n"
		"\tfor (var name of ['ownlua', 'ownjs', 'ownsq']) console.log('js calls ' + name + ': ' + held[name]());\n"
		"});\n",
		"held <- {};\n"
		"foreach (name in [\"ownlua\", \"ownjs\", \"ownsq\"]) held[name] <- findResourceByName(name).getExport(\"f\");\n"
		"addCommandHandler(\"callsq\", function(command, parameters, ...) {\n"
		"\tforeach (name in [\"ownlua\", \"ownjs\", \"ownsq\"]) {\n"
		"\t\tlocal result = held[name]();\n"
		"\t\tprint(\"sq calls \" + name + \": \" + (result == null ? \"null\" : result));\n"
		"\t}\n"
		"});\n",
	};
	// What a call gives once the function's resource stopped.
	const char* const szNothing[3] = {"nil", "undefined", "null"};

	CServerProcess Server;
	std::vector<std::string> Names;
	for (size_t i = 0; i < 3; i++)
	{
		const tScriptLanguage& Language = g_ScriptLanguages[i];
		std::string Label = Language.m_szLabel;
		WriteResource(Server, "own" + Label, {{Language.m_szFile, Language.m_szLanguage, szOwner[i]}});
		Names.push_back("own" + Label);
	}
	for (size_t i = 0; i < 3; i++)
	{
		const tScriptLanguage& Language = g_ScriptLanguages[i];
		std::string Label = Language.m_szLabel;
		WriteResource(Server, "hold" + Label, {{Language.m_szFile, Language.m_szLanguage, szHolder[i]}});
		Names.push_back("hold" + Label);
	}
	StartWithResources(Server, Names);
	ASSERT_TRUE(Printed(Server, "6/6 Resources loaded, 0 failed")) << Server.GetRawOutput();

	ASSERT_TRUE(Server.WriteInput("calllua\ncalljs\ncallsq\n"));
	ASSERT_TRUE(Server.WaitForOutput("sq calls ownsq: ")) << Server.GetRawOutput();
	for (const tScriptLanguage& Holder : g_ScriptLanguages)
		for (const tScriptLanguage& Owner : g_ScriptLanguages)
			EXPECT_TRUE(Printed(Server, std::string(Holder.m_szLabel) + " calls own" + Owner.m_szLabel + ": alive"))
				<< Server.GetRawOutput();

	ASSERT_TRUE(Server.WriteInput("stop ownlua\nstop ownjs\nstop ownsq\n"));
	ASSERT_TRUE(Server.WaitForOutput("STOP: Resource ownsq stopped.")) << Server.GetRawOutput();
	size_t Before = Server.GetOutputLines().size();
	ASSERT_TRUE(Server.WriteInput("calllua\ncalljs\ncallsq\nquit\n"));
	EXPECT_EQ(Server.WaitForExit(), 0) << Server.GetRawOutput();

	std::vector<std::string> Lines = Server.GetOutputLines();
	for (size_t iHolder = 0; iHolder < 3; iHolder++)
	{
		for (const tScriptLanguage& Owner : g_ScriptLanguages)
		{
			// Every call logs why it ran nothing, then the holder goes on with nothing.
			std::string Result = std::string(g_ScriptLanguages[iHolder].m_szLabel) + " calls own" + Owner.m_szLabel + ": " +
				szNothing[iHolder];
			int iResult = FindLine(Lines, Result, Before);
			ASSERT_NE(iResult, -1) << Result << "\n" << Server.GetRawOutput();
			EXPECT_NE(Lines[iResult - 1].find("Cannot call a function of a stopped resource"), std::string::npos)
				<< Result << "\n" << Server.GetRawOutput();
		}
	}
}
