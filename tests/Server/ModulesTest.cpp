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
	EXPECT_TRUE(Server.WriteInput("quit\n"));
	EXPECT_EQ(Server.WaitForExit(), 0) << Server.GetRawOutput();
	std::string Log;
	EXPECT_TRUE(Server.ReadFile("logs/ServerLog.log", Log));
	std::vector<std::string> Lines;
	size_t Start = 0;
	while (Start < Log.size())
	{
		size_t End = Log.find('\n', Start);
		if (End == std::string::npos)
			End = Log.size();
		std::string Line = Log.substr(Start, End - Start);
		if (!Line.empty() && Line.back() == '\r')
			Line.pop_back();
		const size_t Stamp = Line.find("> ");
		Lines.push_back(Stamp == std::string::npos ? Line : Line.substr(Stamp + 2));
		Start = End + 1;
	}
	return Lines;
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
