// Black-box tests of the XmlDocument and XmlElement classes in Lua, JavaScript and Squirrel resources of the real
// server: the same walk through a document in each language, with the values and errors each one sees.

#include <gtest/gtest.h>

#include "ResourceTestSupport.h"

using namespace ServerTest;

namespace
{
const char* const DATA_XML = "<root a=\"1\">"
							 "<first n=\"12abc\" f=\"1.5\" b=\"true\" w=\"yes\">text one</first>"
							 "<second/>"
							 "</root>";

// Each script prints "<label> <step>: <value>" for every step the test checks.
const char* const LUA_SCRIPT = R"script(
local function show(step, value) print('lua ' .. step .. ': ' .. tostring(value)) end
local function errorOf(f) local ok, message = pcall(f) return ok and 'no error' or message end
local stream = openFile('data.xml')
local doc = XmlDocument()
show('load', doc:load(stream))
stream:close()
local root = doc.rootElement
show('same root', doc.rootElement == root)
show('count', root.childrenCount .. ' ' .. math.type(root.childrenCount))
local first = root.children[1]
show('same children', first == root.children[1] and root.children[2] == root.children[2] and #root.children == 2)
show('parent', first.parent == root)
show('root parent', root.parent == nil)
show('first', first.name .. '/' .. first.text)
show('integer', first:getIntegerAttribute('n') .. ' ' .. math.type(first:getIntegerAttribute('n')))
show('float', first:getFloatAttribute('f') .. ' ' .. math.type(first:getFloatAttribute('f')))
show('bool', first:getBoolAttribute('b'))
show('string', first:getStringAttribute('n'))
show('attributes', root.attributes.a)
show('error missing', errorOf(function() return first:getStringAttribute('gone') end))
show('error word', errorOf(function() return first:getBoolAttribute('w') end))
show('error name', errorOf(function() return first:getStringAttribute({}) end))
show('error stream', errorOf(function() return doc:load('data.xml') end))
local made = XmlElement()
show('made', '[' .. made.name .. '] ' .. made.childrenCount .. ' ' .. tostring(made.parent == nil))
local plain = openFile('plain.txt')
show('failed load', tostring(doc:load(plain)) .. ' ' .. tostring(doc.rootElement == root))
plain:close()
root:clear()
show('cleared', root.childrenCount .. ' ' .. #root.children .. ' ' .. first.name .. ' ' .. tostring(first.parent == root))
doc = nil
root = nil
collectgarbage()
show('orphaned', tostring(first.parent == nil) .. ' ' .. first.name)
)script";

const char* const JS_SCRIPT = R"script(
function show(step, value) { console.log('js ' + step + ': ' + value); }
function errorOf(f) { try { f(); return 'no error'; } catch (e) { return e.message; } }
const stream = openFile('data.xml');
let doc = new XmlDocument();
show('load', doc.load(stream));
stream.close();
let root = doc.rootElement;
show('same root', doc.rootElement === root);
show('count', root.childrenCount + ' ' + typeof root.childrenCount);
const first = root.children[0];
show('same children', first === root.children[0] && root.children[1] === root.children[1] && root.children.length === 2);
show('parent', first.parent === root);
show('root parent', root.parent === null);
show('first', first.name + '/' + first.text);
show('integer', first.getIntegerAttribute('n') + ' ' + typeof first.getIntegerAttribute('n'));
show('float', first.getFloatAttribute('f') + ' ' + typeof first.getFloatAttribute('f'));
show('bool', first.getBoolAttribute('b'));
show('string', first.getStringAttribute('n'));
show('attributes', root.attributes.a);
show('error missing', errorOf(() => first.getStringAttribute('gone')));
show('error word', errorOf(() => first.getBoolAttribute('w')));
show('error name', errorOf(() => first.getStringAttribute({})));
show('error stream', errorOf(() => doc.load('data.xml')));
const made = new XmlElement();
show('made', '[' + made.name + '] ' + made.childrenCount + ' ' + (made.parent === null));
const plain = openFile('plain.txt');
show('failed load', doc.load(plain) + ' ' + (doc.rootElement === root));
plain.close();
root.clear();
show('cleared', root.childrenCount + ' ' + root.children.length + ' ' + first.name + ' ' + (first.parent === root));
doc = null;
root = null;
// The document's wrapper goes in the first collection, and only then does the root lose its last count.
collectGarbage();
collectGarbage();
show('orphaned', (first.parent === null) + ' ' + first.name);
)script";

const char* const SQUIRREL_SCRIPT = R"script(
function show(step, value) { print("sq " + step + ": " + value); }
function errorOf(f) { try { f(); return "no error"; } catch (e) { return e; } }
local stream = openFile("data.xml");
local doc = XmlDocument();
show("load", doc.load(stream));
stream.close();
local root = doc.rootElement;
show("same root", doc.rootElement == root);
show("count", root.childrenCount + " " + typeof root.childrenCount);
local first = root.children[0];
show("same children", first == root.children[0] && root.children[1] == root.children[1] && root.children.len() == 2);
show("parent", first.parent == root);
show("root parent", root.parent == null);
show("first", first.name + "/" + first.text);
show("integer", first.getIntegerAttribute("n") + " " + typeof first.getIntegerAttribute("n"));
show("float", first.getFloatAttribute("f") + " " + typeof first.getFloatAttribute("f"));
show("bool", first.getBoolAttribute("b"));
show("string", first.getStringAttribute("n"));
show("attributes", root.attributes.a);
show("error missing", errorOf(function() { return first.getStringAttribute("gone"); }));
show("error word", errorOf(function() { return first.getBoolAttribute("w"); }));
show("error name", errorOf(function() { return first.getStringAttribute({}); }));
show("error stream", errorOf(function() { return doc.load("data.xml"); }));
local made = XmlElement();
show("made", "[" + made.name + "] " + made.childrenCount + " " + (made.parent == null));
local plain = openFile("plain.txt");
show("failed load", doc.load(plain) + " " + (doc.rootElement == root));
plain.close();
root.clear();
show("cleared", root.childrenCount + " " + root.children.len() + " " + first.name + " " + (first.parent == root));
doc = null;
root = null;
show("orphaned", (first.parent == null) + " " + first.name);
)script";

struct tLanguage
{
	const char* m_szLabel;
	const char* m_szLanguage;
	const char* m_szFile;
	const char* m_szScript;
	// How the language gives a 64-bit count, a 32-bit integer and a float.
	const char* m_szCount;
	const char* m_szInteger;
	const char* m_szFloat;
};

const tLanguage g_Languages[] = {
	{"lua", "lua", "main.lua", LUA_SCRIPT, "2 integer", "12 integer", "1.5 float"},
	{"js", "javascript", "main.js", JS_SCRIPT, "2 number", "12 number", "1.5 number"},
	{"sq", "squirrel", "main.nut", SQUIRREL_SCRIPT, "2 integer", "12 integer", "1.5 float"},
};

// The text after "<label> <step>: " on the first line that has it, or "<missing>".
std::string Shown(const std::vector<std::string>& Lines, const std::string& Label, const std::string& Step)
{
	const std::string Prefix = Label + " " + Step + ": ";
	for (const std::string& Line : Lines)
	{
		const size_t At = Line.find(Prefix);
		if (At != std::string::npos)
			return Line.substr(At + Prefix.size());
	}
	return "<missing>";
}
}

TEST(XmlFunctions, EveryLanguageWalksTheSameDocument)
{
	CServerProcess Server;
	std::vector<std::string> Names;
	for (const tLanguage& Language : g_Languages)
	{
		const std::string Name = std::string("xml") + Language.m_szLabel;
		WriteResource(Server, Name, {{Language.m_szFile, Language.m_szLanguage, Language.m_szScript}},
			{{"data.xml", DATA_XML}, {"plain.txt", "no markup here"}});
		Names.push_back(Name);
	}
	StartWithResources(Server, Names);
	ASSERT_TRUE(Server.WaitForOutput("3/3 Resources loaded, 0 failed")) << Server.GetRawOutput();
	const std::vector<std::string> Lines = Server.GetOutputLines();

	for (const tLanguage& Language : g_Languages)
	{
		SCOPED_TRACE(Language.m_szLabel);
		const std::pair<const char*, std::string> rgExact[] = {
			{"load", "true"},
			{"same root", "true"},
			{"count", Language.m_szCount},
			{"same children", "true"},
			{"parent", "true"},
			{"root parent", "true"},
			{"first", "first/text one"},
			{"integer", Language.m_szInteger},
			{"float", Language.m_szFloat},
			{"bool", "true"},
			{"string", "12abc"},
			{"attributes", "1"},
			{"made", "[] 0 true"},
			{"failed load", "false true"},
			{"cleared", "0 0 first true"},
			{"orphaned", "true first"},
		};
		for (const auto& Step : rgExact)
			EXPECT_EQ(Shown(Lines, Language.m_szLabel, Step.first), Step.second) << Step.first;

		// A language may put its own position in front of an engine error.
		const std::pair<const char*, const char*> rgErrors[] = {
			{"error missing", "attribute gone doesn't exist"},
			{"error word", "attribute w doesn't exist"},
			{"error name", "Expected string for argument 1"},
			{"error stream", "Expected Stream for argument 1"},
		};
		for (const auto& Step : rgErrors)
			EXPECT_NE(Shown(Lines, Language.m_szLabel, Step.first).find(Step.second), std::string::npos)
				<< Step.first << ": " << Shown(Lines, Language.m_szLabel, Step.first);
	}
}
