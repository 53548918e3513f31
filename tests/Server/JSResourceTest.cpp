// Black-box tests of JavaScript resources in the real server: scripts log through the console object, handle
// events, run timers and console commands, read their files, call each other's exports, share objects between
// their globals, and every script error reaches the log with its place; function values of a stopped resource and
// values that cannot be converted fail cleanly.

#include <gtest/gtest.h>

#include "ResourceTestSupport.h"

using namespace ServerTest;

namespace
{
// A resource whose one server script is main.js, plus further files of the resource.
void WriteJSResource(CServerProcess& Server, const std::string& Name, const std::string& Script,
	const std::vector<std::pair<std::string, std::string>>& Files = {})
{
	WriteResource(Server, Name, {{"main.js", "javascript", Script}}, Files);
}
}

TEST(JSResource, ScriptsLogHandleEventsAndRunTimers)
{
	CServerProcess Server;
	WriteJSResource(Server, "jsmain",
		"console.log('js says ' + thisResource.name, 'only the first argument');\n"
		"console.log();\n"
		"console.info('js info'); console.warn('js warn'); console.error('js error');\n"
		"console.assert(false, 'js assert failed'); console.assert(true, 'js assert held');\n"
		"console.log('Gr\xC3\xBC\xC3\x9F" "e \xF0\x9F\x98\x80');\n"
		"addEvent('OnJSTest', 1);\n"
		"addEventHandler('OnJSTest', function(event, value) {\n"
		"\tconsole.log('js event ' + value + ' ' + (event instanceof CancellableEvent));\n"
		"\tevent.preventDefault();\n"
		"});\n"
		"console.log('js prevented ' + triggerEvent('OnJSTest', null, 7));\n"
		"addEventHandler('OnResourceStart', function(event, resource) { console.log('js saw start of ' + resource.name); });\n"
		"setTimeout(function(text) { console.log('js timer ' + text); }, 50, 'fired');\n");
	StartWithResources(Server, {"jsmain"});
	EXPECT_TRUE(Printed(Server, "1/1 Resources loaded, 0 failed")) << Server.GetRawOutput();

	std::vector<std::string> Lines = Server.GetOutputLines();
	for (const char* szLine : {"js says jsmain", "undefined", "js info", "js warn", "js error", "js assert failed",
			 "Gr\xC3\xBC\xC3\x9F" "e \xF0\x9F\x98\x80", "js event 7 true", "js prevented true",
			 "js saw start of jsmain"})
		EXPECT_NE(FindLine(Lines, szLine), -1) << szLine << "\n" << Server.GetRawOutput();
	EXPECT_FALSE(Printed(Server, "only the first argument")) << Server.GetRawOutput();
	EXPECT_FALSE(Printed(Server, "js assert held")) << Server.GetRawOutput();
	EXPECT_TRUE(Server.WaitForOutput("js timer fired")) << Server.GetRawOutput();
}

TEST(JSResource, CommandsRunFromTheConsole)
{
	CServerProcess Server;
	WriteJSResource(Server, "jscmd",
		"addCommandHandler('jshello', function(command, parameters) {\n"
		"\tconsole.log('js command ' + command + ' ' + parameters);\n"
		"});\n");
	StartWithResources(Server, {"jscmd"});
	ASSERT_TRUE(Server.WriteInput("jshello big world\n"));
	EXPECT_TRUE(Server.WaitForOutput("js command jshello big world")) << Server.GetRawOutput();
}

TEST(JSResource, ScriptsReadFilesAndCallExportsAcrossResources)
{
	CServerProcess Server;
	WriteJSResource(Server, "jsdata",
		"exportFunction('greet', function(name) { return 'hello ' + name; });\n"
		"console.log('js file: ' + loadTextFile('data.txt'));\n"
		"console.log('js missing file: ' + loadTextFile('missing.txt'));\n",
		{{"data.txt", "text from a file"}});
	WriteJSResource(Server, "jscaller",
		"var greet = findResourceByName('jsdata').getExport('greet');\n"
		"console.log('js export: ' + greet('world') + ', ' + findResourceByName('jsdata').exports.greet('map'));\n"
		"addCommandHandler('callgreet', function() {\n"
		"\tconsole.log('held greet gave ' + greet('again'));\n"
		"\tconsole.log('fresh greet gave ' + findResourceByName('jsdata').getExport('greet')('anew'));\n"
		"});\n");
	StartWithResources(Server, {"jsdata", "jscaller"});
	EXPECT_TRUE(Printed(Server, "js file: text from a file")) << Server.GetRawOutput();
	EXPECT_TRUE(Printed(Server, "js missing file: null")) << Server.GetRawOutput();
	EXPECT_TRUE(Printed(Server, "js export: hello world, hello map")) << Server.GetRawOutput();

	// A function value outlives its resource: calling it runs nothing and gives undefined, also once the resource
	// has started again; the export of the new start works.
	ASSERT_TRUE(Server.WriteInput("restart jsdata\n"));
	ASSERT_TRUE(Server.WaitForOutput("Restarted resource jsdata")) << Server.GetRawOutput();
	ASSERT_TRUE(Server.WriteInput("callgreet\n"));
	EXPECT_TRUE(Server.WaitForOutput("fresh greet gave hello anew")) << Server.GetRawOutput();
	std::vector<std::string> Lines = Server.GetOutputLines();
	int iRefused = FindLine(Lines, "Cannot call a function of a stopped resource");
	EXPECT_NE(iRefused, -1) << Server.GetRawOutput();
	EXPECT_NE(FindLine(Lines, "held greet gave undefined", iRefused), -1) << Server.GetRawOutput();
}

TEST(JSResource, ErrorsAreLoggedWithTheirPlace)
{
	struct tCase
	{
		const char* m_szResource;
		const char* m_szScript;
		const char* m_szError;
		const char* m_szPlace;
	};
	const tCase Cases[] = {
		{"jsthrow", "function go() {\n\tthrow new Error('broken on purpose');\n}\ngo();\n", "Error: broken on purpose",
			"File: /resources/jsthrow/main.js Line: 2 Column: 8"},
		// Scripts are strict-mode code.
		{"jsstrict", "var declared = 1;\nundeclared = 2;\n",
			"ReferenceError: assignment to undeclared variable undeclared",
			"File: /resources/jsstrict/main.js Line: 2 Column: 1"},
		{"jsnative", "\n  findResourceByName();\n", "Error: Expected string for argument 1",
			"File: /resources/jsnative/main.js Line: 2 Column: 3"},
		{"jsextend", "var v = new Vec3(1, 2, 3);\nv.w = 4;\n",
			"Error: can't define property \"w\": Object is not extensible",
			"File: /resources/jsextend/main.js Line: 2 Column: 1"},
		{"jssyntax", "var a = 1;\nvar b = ;\n", "SyntaxError", "File: /resources/jssyntax/main.js Line: 2 Column: "},
	};
	CServerProcess Server;
	std::vector<std::string> Names;
	for (const tCase& Case : Cases)
	{
		WriteJSResource(Server, Case.m_szResource, Case.m_szScript);
		Names.push_back(Case.m_szResource);
	}
	WriteJSResource(Server, "jshandler",
		"addCommandHandler('fail', function() { throw new Error('handler failed'); });\n"
		"addCommandHandler('reject', function() {\n"
		"\tPromise.reject(new Error('rejected on purpose'));\n"
		"\tconsole.log('js after the rejection');\n"
		"});\n"
		"addCommandHandler('alive', function() { console.log('js still running'); });\n");
	Names.push_back("jshandler");
	StartWithResources(Server, Names);
	EXPECT_TRUE(Printed(Server, "1/6 Resources loaded, 5 failed")) << Server.GetRawOutput();

	// Each error is logged, followed by its place.
	std::vector<std::string> Lines = Server.GetOutputLines();
	for (const tCase& Case : Cases)
	{
		SCOPED_TRACE(Case.m_szResource);
		size_t Start = 0;
		while (Start < Lines.size() && Lines[Start] != std::string("START: Starting resource ") + Case.m_szResource + "...")
			Start++;
		ASSERT_LT(Start + 2, Lines.size()) << Server.GetRawOutput();
		EXPECT_EQ(Lines[Start + 1].rfind(Case.m_szError, 0), 0u) << Server.GetRawOutput();
		EXPECT_EQ(Lines[Start + 2].rfind(Case.m_szPlace, 0), 0u) << Server.GetRawOutput();
	}

	// Errors of handlers and rejected promises are logged the same way; the server and the script go on.
	ASSERT_TRUE(Server.WriteInput("fail\nreject\nalive\n"));
	ASSERT_TRUE(Server.WaitForOutput("js still running")) << Server.GetRawOutput();
	Lines = Server.GetOutputLines();
	int iFailed = FindLine(Lines, "Error: handler failed");
	ASSERT_NE(iFailed, -1) << Server.GetRawOutput();
	EXPECT_NE(FindLine(Lines, "File: /resources/jshandler/main.js Line: 1 Column: 46", iFailed), -1)
		<< Server.GetRawOutput();
	int iRejected = FindLine(Lines, "Error: rejected on purpose");
	ASSERT_NE(iRejected, -1) << Server.GetRawOutput();
	EXPECT_NE(FindLine(Lines, "File: /resources/jshandler/main.js Line: 3 Column: 17", iRejected), -1)
		<< Server.GetRawOutput();
	EXPECT_NE(FindLine(Lines, "js after the rejection", iRejected), -1) << Server.GetRawOutput();
}

TEST(JSResource, ValuesThatContainThemselvesOrNestTooDeepFailWithAnError)
{
	struct tCase
	{
		const char* m_szName;
		const char* m_szValue;
		const char* m_szResult;
	};
	const tCase Cases[] = {
		{"self", "(function() { var a = [1]; a.push(a); return a; })()", "Cannot convert a value that contains itself"},
		{"indirect", "(function() { var a = [1], b = [a]; a.push(b); return b; })()",
			"Cannot convert a value that contains itself"},
		// The same array twice is no cycle.
		{"shared", "(function() { var s = [1]; return [s, s, [s]]; })()", "converted"},
		{"64 levels", "(function() { var d = []; for (var i = 1; i < 64; i++) d = [d]; return d; })()", "converted"},
		{"65 levels", "(function() { var d = []; for (var i = 1; i < 65; i++) d = [d]; return d; })()",
			"Cannot convert a value nested deeper than 64 levels"},
	};
	std::string Script = "addEvent('Probe');\nfunction check(name, value) {\n"
						 "\ttry { triggerEvent('Probe', null, value); console.log(name + ': converted'); }\n"
						 "\tcatch (e) { console.log(name + ': ' + e.message); }\n"
						 "}\n";
	for (const tCase& Case : Cases)
		Script += std::string("check('") + Case.m_szName + "', " + Case.m_szValue + ");\n";
	// The result of a function the engine calls fails the same way; the caller gets nothing.
	Script += "exportFunction('cyclic', function() { var a = []; a.push(a); return a; });\n"
			  "console.log('cyclic result ' + findResourceByName('jsdeep').getExport('cyclic')());\n";

	CServerProcess Server;
	WriteJSResource(Server, "jsdeep", Script);
	StartWithResources(Server, {"jsdeep"});
	std::vector<std::string> Lines = Server.GetOutputLines();
	for (const tCase& Case : Cases)
		EXPECT_NE(FindLine(Lines, std::string(Case.m_szName) + ": " + Case.m_szResult), -1)
			<< Case.m_szName << "\n" << Server.GetRawOutput();
	int iLogged = FindLine(Lines, "Error: Cannot convert a value that contains itself");
	EXPECT_NE(iLogged, -1) << Server.GetRawOutput();
	EXPECT_NE(FindLine(Lines, "cyclic result undefined", iLogged), -1) << Server.GetRawOutput();
	EXPECT_TRUE(Printed(Server, "1/1 Resources loaded, 0 failed")) << Server.GetRawOutput();
}

TEST(JSResource, ObjectsPassedBetweenResourcesStayUsable)
{
	CServerProcess Server;
	WriteJSResource(Server, "jsowner",
		"addEvent('Share');\n"
		"var shared = { count: 1, add: function(step) { this.count += step; return this.count; } };\n"
		"addCommandHandler('share', function() {\n"
		"\ttriggerEvent('Share', null, shared);\n"
		"\tconsole.log('owner sees ' + shared.count);\n"
		"});\n");
	WriteJSResource(Server, "jsholder",
		"var held = null;\n"
		"addEventHandler('Share', function(event, value) {\n"
		"\theld = value;\n"
		"\tconsole.log('holder got ' + value.add(5) + ' ' + Object.keys(value).join(','));\n"
		"});\n"
		"addCommandHandler('use', function() { collectGarbage(); console.log('holder uses ' + held.add(10)); });\n");
	StartWithResources(Server, {"jsowner", "jsholder"});

	// The holder works on the owner's object itself, not on a copy.
	ASSERT_TRUE(Server.WriteInput("share\n"));
	EXPECT_TRUE(Server.WaitForOutput("holder got 6 count,add")) << Server.GetRawOutput();
	EXPECT_TRUE(Server.WaitForOutput("owner sees 6")) << Server.GetRawOutput();

	// The object stays alive and usable while the holder keeps it, also after its resource stopped.
	ASSERT_TRUE(Server.WriteInput("stop jsowner\n"));
	ASSERT_TRUE(Server.WaitForOutput("STOP: Resource jsowner stopped.")) << Server.GetRawOutput();
	ASSERT_TRUE(Server.WriteInput("use\n"));
	EXPECT_TRUE(Server.WaitForOutput("holder uses 16")) << Server.GetRawOutput();
	ASSERT_TRUE(Server.WriteInput("quit\n"));
	EXPECT_EQ(Server.WaitForExit(), 0) << Server.GetRawOutput();
}

TEST(JSResource, ResourceThatFillsTheHeapFailsOtherStartsUntilItStops)
{
	CServerProcess Server;
	// The caught value is a text of the engine's: logging it needs no room on the heap.
	WriteJSResource(Server, "jshog",
		"var keep = [];\n"
		"try { for (let i = 0;; i++) keep.push('abcdefghijklmnopq' + i); } catch (e) { console.log(e); }\n");
	WriteJSResource(Server, "jslate", "console.log('jslate runs');\n");
	StartWithResources(Server, {"jshog"});
	EXPECT_TRUE(Printed(Server, "out of memory")) << Server.GetRawOutput();

	// No environment can be made while the heap is full; the server goes on.
	ASSERT_TRUE(Server.WriteInput("start jslate\n"));
	EXPECT_TRUE(Server.WaitForOutput("Failed to start resource jslate")) << Server.GetRawOutput();
	EXPECT_TRUE(Printed(Server, "uncaught exception: out of memory")) << Server.GetRawOutput();
	ASSERT_TRUE(Server.WriteInput("stop jshog\n"));
	ASSERT_TRUE(Server.WaitForOutput("STOP: Resource jshog stopped.")) << Server.GetRawOutput();
	ASSERT_TRUE(Server.WriteInput("start jslate\n"));
	EXPECT_TRUE(Server.WaitForOutput("jslate runs")) << Server.GetRawOutput();
	ASSERT_TRUE(Server.WriteInput("quit\n"));
	EXPECT_EQ(Server.WaitForExit(), 0) << Server.GetRawOutput();
}
