#pragma once
// One notation for short pieces of script that read the same in Lua, JavaScript and Squirrel, so a table of cases
// can run in every language: statements separated by ";", "@" calls a method (":" in Lua), "null" is Lua's nil,
// "[a, b]" is an array (a Lua table), and Vec3 and Matrix4x4 are constructed without JavaScript's "new".

#include <string>

namespace ServerTest
{
enum eLanguage
{
	LUA,
	JAVASCRIPT,
	SQUIRREL,
	LANGUAGE_COUNT,
};

struct tScriptLanguage
{
	// What scripts print before their lines.
	const char* m_szLabel;
	// As a resource's meta.xml names it.
	const char* m_szLanguage;
	const char* m_szFile;
};

inline constexpr tScriptLanguage g_ScriptLanguages[LANGUAGE_COUNT] = {
	{"lua", "lua", "main.lua"},
	{"js", "javascript", "main.js"},
	{"sq", "squirrel", "main.nut"},
};

inline void ReplaceAll(std::string& Text, const std::string& From, const std::string& To)
{
	for (size_t At = Text.find(From); At != std::string::npos; At = Text.find(From, At + To.size()))
		Text.replace(At, From.size(), To);
}

inline std::string InLanguage(eLanguage Language, const char* szCode)
{
	std::string Code = szCode;
	ReplaceAll(Code, "@", Language == LUA ? ":" : ".");
	if (Language == LUA)
	{
		ReplaceAll(Code, "null", "nil");
		ReplaceAll(Code, "[", "{");
		ReplaceAll(Code, "]", "}");
	}
	if (Language == JAVASCRIPT)
	{
		ReplaceAll(Code, "Vec3(", "new Vec3(");
		ReplaceAll(Code, "Matrix4x4(", "new Matrix4x4(");
	}
	return Code;
}

// A function around the statements that ignores its arguments (Squirrel refuses a call with more arguments than
// a function names, so it takes any number).
inline std::string FunctionOf(eLanguage Language, const std::string& Code)
{
	if (Language == LUA)
		return "function() " + Code + " end";
	return std::string(Language == SQUIRREL ? "function(...) { " : "function() { ") + Code + "; }";
}
}
