// Black-box tests of native plug-in modules in the real server: the `modules` element loads the test modules
// built beside this test (tests/Modules), each failure is reported and counted, scripts of every language use
// what the modules registered, and modules are unregistered when the server stops.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ResourceTestSupport.h"

using namespace ServerTest;

namespace
{
std::string ModulePath(const std::string& Name)
{
	return std::string(VEXA_TEST_MODULE_DIR) + "/" + Name;
}

std::string ModuleElement(const std::string& Name)
{
	return "\t\t<module src=\"" + ModulePath(Name) + "\" />\n";
}

std::string ModulesElement(const std::string& Children)
{
	return "\t<modules>\n" + Children + "\t</modules>\n";
}

// Starts the server with the configuration's extra children and a log file, lets it start its resources and stops
// it; the log's lines come back without their time stamps.
std::vector<std::string> RunAndReadLog(CServerProcess& Server, const std::string& Children)
{
	StartAndWait(Server, MakeConfig("\t<logpath>logs</logpath>\n" + Children));
	return LogLines(QuitAndReadLog(Server));
}
}

TEST(Modules, TheSummaryCountsEveryModuleElement)
{
	const struct
	{
		const char* m_szLabel;
		std::string m_Children;
		const char* m_szSummary;
	} rgCases[] = {
		{"no modules element", "", nullptr},
		{"no module children", ModulesElement(""), "[INFO]    0/0 Modules loaded, 0 failed"},
		{"one good module", ModulesElement(ModuleElement("SecondModule")), "[INFO]    1/1 Modules loaded, 0 failed"},
		{"one without src beside a good one", ModulesElement("\t\t<module />\n" + ModuleElement("SecondModule")),
			"[WARN]    1/2 Modules loaded, 1 failed"},
	};
	for (const auto& Case : rgCases)
	{
		CServerProcess Server;
		const std::vector<std::string> Lines = RunAndReadLog(Server, Case.m_Children);
		if (Case.m_szSummary)
		{
			EXPECT_GE(FindLine(Lines, "[INFO]    Loading modules..."), 0) << Case.m_szLabel;
			EXPECT_GE(FindLine(Lines, Case.m_szSummary), 0) << Case.m_szLabel << "\n" << Server.GetRawOutput();
		}
		else
		{
			EXPECT_FALSE(HasLineContaining(Lines, "Loading modules...")) << Case.m_szLabel;
			EXPECT_FALSE(HasLineContaining(Lines, "Modules loaded")) << Case.m_szLabel;
		}
	}
}

TEST(Modules, EachFailureIsReportedAndTheOthersStillLoad)
{
	CServerProcess Server;
	const std::string Missing = ModulePath("NoSuchModule");
	const std::vector<std::string> Lines = RunAndReadLog(Server,
		ModulesElement("\t\t<module />\n" + ModuleElement("NoSuchModule") + ModuleElement("NoExportsModule") +
			ModuleElement("SetErrorModule") + ModuleElement("TwiceModule") + ModuleElement("SecondModule") +
			ModuleElement("UnderscoreModule")));

	const char* const rgszExpected[] = {
		"[ERROR]   Error loading module: attribute src not defined!",
		"[WARN]    Module NoSuchModule failed to load!",
		"[WARN]    'RegisterModule' undefined in module NoExportsModule!",
		// The module's own reason, although a failed lookup after SetError replaced the last-error text.
		"[WARN]    Module SetErrorModule failed to register: the test module refuses to load",
		"[WARN]    Module TwiceModule failed to register: Module already registered",
		"[INFO]    second module registered with its namespace",
		"[INFO]    underscore module registered with its namespace",
		"[WARN]    2/7 Modules loaded, 5 failed",
	};
	for (const char* szExpected : rgszExpected)
		EXPECT_GE(FindLine(Lines, szExpected), 0) << szExpected << "\n" << Server.GetRawOutput();
	for (const char* szName : {"NoSuchModule", "NoExportsModule", "SetErrorModule", "TwiceModule"})
		EXPECT_GE(FindLine(Lines, "[ERROR]   Error loading module " + ModulePath(szName) + "!"), 0) << szName;
	for (const char* szName : {"SecondModule", "UnderscoreModule"})
		EXPECT_GE(FindLine(Lines, "[INFO]    Loaded module " + ModulePath(szName)), 0) << szName;

	// Unregistered at shutdown with what their registration returned; a module that failed never is.
	EXPECT_GE(FindLine(Lines, "[INFO]    second module unregistered with 1234"), 0);
	EXPECT_GE(FindLine(Lines, "[INFO]    underscore module unregistered with 1234"), 0);
	EXPECT_FALSE(HasLineContaining(Server.GetOutputLines(), "failing module unregistered"));
}

TEST(Modules, ScriptsSeeTheConstantsOfEveryModule)
{
	CServerProcess Server;
	WriteResource(Server, "constants",
		{{"main.lua", "lua",
			"print('lua sees ' .. second_MODULE_ANSWER .. ' ' .. underscore_MODULE_ANSWER .. ' ' .. "
			"FAILING_MODULE_CONSTANT)\n"},
			{"main.js", "javascript", "console.log('js sees ' + second_MODULE_ANSWER);\n"},
			{"main.nut", "squirrel", "print(\"squirrel sees \" + second_MODULE_ANSWER);\n"}});
	StartAndWait(Server,
		MakeConfig(ModulesElement(ModuleElement("SecondModule") + ModuleElement("UnderscoreModule") +
					   ModuleElement("SetErrorModule")) +
			ResourceList({"constants"})));
	// What a failed module defined before it failed stays defined: its library is never closed.
	EXPECT_TRUE(Server.WaitForOutput("lua sees 42 42 7")) << Server.GetRawOutput();
	EXPECT_TRUE(Server.WaitForOutput("js sees 42")) << Server.GetRawOutput();
	EXPECT_TRUE(Server.WaitForOutput("squirrel sees 42")) << Server.GetRawOutput();
}

TEST(Modules, TheDumpListsTheConstantsOfAModule)
{
	CServerProcess Server;
	StartAndWait(Server, MakeConfig(ModulesElement(ModuleElement("FullModule"))), {"-dumpdoc"});
	ASSERT_TRUE(Server.WaitForOutput("Documentation dumped")) << Server.GetRawOutput();
	std::string Defines;
	ASSERT_TRUE(Server.ReadFile("Documentation/Defines.xml", Defines));
	// The signed constant keeps its sign; the unsigned one is written as the number it is.
	EXPECT_NE(Defines.find("<Define Name=\"FULL_MODULE_CONSTANT\" Value=\"-5\" />"), std::string::npos) << Defines;
	EXPECT_NE(Defines.find("<Define Name=\"FULL_MODULE_FLAGS\" Value=\"2147483648\" />"), std::string::npos) << Defines;
}

namespace
{
const char* const g_szLuaScript = R"script(
local full = module.full
print('lua add ' .. full.add(2, 3))
print('lua version ' .. full.version)
print('lua describe ' .. full.describe({1, 'two', Vec3(1, 2, 3)}))
print('lua describe map ' .. full.describe({name = 'x'}))
local c = full.Counter(5)
print('lua counter ' .. c:increment(2) .. ' ' .. c.value)
c.value = 10
local d = reflection.clone(c)
print('lua clone ' .. tostring(c) .. ' ' .. tostring(d))
reflection.move(c, d)
print('lua move ' .. c.value .. ' ' .. d.value)
print('lua receiver ' .. select(2, pcall(c.increment, Vec3(1, 2, 3), 1)))
print('lua call ' .. full.call(function(a, b) return a * b end, 6, 7))
print('lua function ' .. full.make('function')(21))
local a = full.make('array')
print('lua array ' .. #a .. ' ' .. a[2] .. ' ' .. a[3].z)
local m = full.make('dictionary')
print('lua dictionary ' .. m.name .. ' ' .. m.answer)
print('lua numbers ' .. full.make('int64') .. ' ' .. full.make('uint32'))
print('lua made ' .. full.describe(full.make('counter')))
local s = createFile('modfile.txt')
full.reopen(s):writeString('abc')
print('lua stream ' .. s.position .. ' ' .. select(2, pcall(full.reopen, 5)))
print('lua error ' .. select(2, pcall(full.fail)))
print('lua twice ' .. full.twice())
print('lua sealed ' .. full.tryChange())
print('lua others ' .. module.second.hello() .. ', ' .. module.failing.stillThere())
print('lua constants ' .. FULL_MODULE_CONSTANT .. ' ' .. FULL_MODULE_FLAGS)
)script";

const char* const g_szJSScript = R"script(
const full = module.full;
console.log('js add ' + full.add(2, 3));
console.log('js describe ' + full.describe([1, 'two']));
let c = new full.Counter(5);
console.log('js counter ' + c.increment(2) + ' ' + c.value);
c.value = 10;
console.log('js clone ' + full.describe(reflection.clone(c)));
console.log('js call ' + full.call((a, b) => a * b, 6, 7));
console.log('js function ' + full.make('function')(21));
let a = full.make('array');
console.log('js array ' + a.length + ' ' + a[1] + ' ' + a[2].z);
let m = full.make('dictionary');
console.log('js dictionary ' + m.name + ' ' + m.answer);
try { full.fail(); } catch (e) { console.log('js error ' + e.message); }
console.log('js constants ' + FULL_MODULE_CONSTANT + ' ' + FULL_MODULE_FLAGS);
)script";

const char* const g_szSquirrelScript = R"script(
local full = module.full;
print("sq add " + full.add(2, 3));
print("sq describe " + full.describe([1, "two"]));
local c = full.Counter(5);
print("sq counter " + c.increment(2) + " " + c.value);
c.value = 10;
local d = clone c;
print("sq clone " + c.tostring() + " " + d.tostring());
print("sq call " + full.call(function(a, b) { return a * b; }, 6, 7));
print("sq function " + full.make("function")(21));
local a = full.make("array");
print("sq array " + a.len() + " " + a[1] + " " + a[2].z);
local m = full.make("dictionary");
print("sq dictionary " + m.name + " " + m.answer);
try { full.fail(); } catch (e) { print("sq error " + e); }
print("sq constants " + FULL_MODULE_CONSTANT + " " + FULL_MODULE_FLAGS);
)script";
}

TEST(Modules, ScriptsOfEveryLanguageUseWhatAModuleRegistered)
{
	CServerProcess Server;
	WriteResource(Server, "modscripts",
		{{"main.lua", "lua", g_szLuaScript}, {"main.js", "javascript", g_szJSScript},
			{"main.nut", "squirrel", g_szSquirrelScript}});
	StartAndWait(Server,
		MakeConfig(ModulesElement(ModuleElement("FullModule") + ModuleElement("SecondModule") +
					   ModuleElement("SetErrorModule")) +
			ResourceList({"modscripts"})));
	ASSERT_TRUE(Server.WaitForOutput("1/1 Resources loaded, 0 failed")) << Server.GetRawOutput();
	ASSERT_TRUE(Server.WriteInput("quit\n"));
	ASSERT_EQ(Server.WaitForExit(), 0) << Server.GetRawOutput();
	const std::vector<std::string> Lines = Server.GetOutputLines();

	const char* const rgszExpected[] = {
		"lua add 5",
		"lua version 1.1",
		"lua describe array [integer 1, string two, Vector3D 1 2 3]",
		"lua describe map map with name string x",
		"lua counter 7 7",
		"lua clone Counter(10) Counter(10)",
		"lua move 0 10",
		"lua receiver Counter expected for 'this'",
		"lua call 42",
		"lua function 42",
		"lua array 3 two 3.0",
		"lua dictionary full 42",
		"lua numbers 1099511627776 -1",
		"lua made Counter 3",
		// Both script streams write the same stream.
		"lua stream 4 a Stream expected",
		"lua error module says no to this call",
		// The second value a native gives is refused, the script sees the first.
		"full module twice gave 0 then -7",
		"lua twice 1",
		// Once the languages have bound the registry a module can no longer change it.
		"lua sealed -2 -2 -2 -2",
		// A failed module's library stays open, so what it registered before failing still works.
		"lua others hello from second, still there",
		"lua constants -5 2147483648",
		"js add 5",
		"js describe array [integer 1, string two]",
		"js counter 7 7",
		"js clone Counter 10",
		"js call 42",
		"js function 42",
		"js array 3 two 3",
		"js dictionary full 42",
		"js error module says no to this call",
		"js constants -5 2147483648",
		"sq add 5",
		"sq describe array [integer 1, string two]",
		"sq counter 7 7",
		"sq clone Counter(10) Counter(10)",
		"sq call 42",
		"sq function 42",
		"sq array 3 two 3",
		"sq dictionary full 42",
		"sq error module says no to this call",
		"sq constants -5 2147483648",
	};
	for (const char* szExpected : rgszExpected)
		EXPECT_GE(FindLine(Lines, szExpected), 0) << szExpected << "\n" << Server.GetRawOutput();

	// Seven Counters were made (Lua three, JavaScript two, Squirrel two); each one's destructor ran exactly once,
	// whether its object died with its script or when the server stopped.
	EXPECT_EQ(CountLines(Lines, "full module counter "), 7u) << Server.GetRawOutput();
	for (int iSerial = 1; iSerial <= 7; iSerial++)
	{
		const std::string Text = "full module counter " + std::to_string(iSerial) + " destroyed at ";
		EXPECT_EQ(CountLines(Lines, Text), 1u) << Text << "\n" << Server.GetRawOutput();
	}
	EXPECT_EQ(CountLines(Lines, "without its data"), 0u);
	EXPECT_GE(FindLine(Lines, "full module unregistered with 99"), 0);
}
