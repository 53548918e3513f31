// Black-box tests of the documentation dump in the real server: the start-up option and the console command write
// four files beside the executable that a strict XML parser reads, holding what the server and its scripts
// registered; a folder that cannot be written is reported file by file.

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include <tinyxml.h>

#include "ResourceTestSupport.h"

using namespace ServerTest;

namespace
{
const char* const FILES[] = {"Defines.xml", "EventTypes.xml", "Commands.xml", "Documentation.xml"};

// A resource whose script registers an event type and a command of its own before the dump.
void WriteRegisteringResource(CServerProcess& Server)
{
	WriteResource(Server, "registers",
		{{"main.lua", "lua",
			"addEvent('OnScriptMade', 3)\n"
			"addCommandHandler('scriptcommand', function() end)\n"}});
}

std::string PathOf(const CServerProcess& Server, const char* szFile)
{
	return Server.GetFolder() + "/Documentation/" + szFile;
}

// Python's parser refuses anything that is not well-formed XML, which TinyXML's own reader would let pass.
bool ParsesStrictly(const CServerProcess& Server)
{
	std::string Command = "python3 -c 'import sys, xml.etree.ElementTree as E; [E.parse(p) for p in sys.argv[1:]]'";
	for (const char* szFile : FILES)
		Command += " '" + PathOf(Server, szFile) + "'";
	return std::system(Command.c_str()) == 0;
}

const TiXmlElement* Named(const TiXmlElement* pParent, const char* szTag, const char* szName)
{
	for (const TiXmlElement* pChild = pParent ? pParent->FirstChildElement(szTag) : nullptr; pChild;
		 pChild = pChild->NextSiblingElement(szTag))
	{
		const char* szChildName = pChild->Attribute("Name");
		if (szChildName && strcmp(szChildName, szName) == 0)
			return pChild;
	}
	return nullptr;
}

std::string AttributeOf(const TiXmlElement* pElement, const char* szName)
{
	const char* szValue = pElement ? pElement->Attribute(szName) : nullptr;
	return szValue ? szValue : "<absent>";
}

// The known entries of each file, as the server and the resource above register them.
void ExpectTheInterface(const CServerProcess& Server)
{
	ASSERT_TRUE(ParsesStrictly(Server));
	TiXmlDocument Defines, EventTypes, Commands, Interface;
	ASSERT_TRUE(Defines.LoadFile(PathOf(Server, "Defines.xml").c_str()));
	ASSERT_TRUE(EventTypes.LoadFile(PathOf(Server, "EventTypes.xml").c_str()));
	ASSERT_TRUE(Commands.LoadFile(PathOf(Server, "Commands.xml").c_str()));
	ASSERT_TRUE(Interface.LoadFile(PathOf(Server, "Documentation.xml").c_str()));

	EXPECT_EQ(AttributeOf(Named(Defines.RootElement(), "Define", "COLOUR_BLACK"), "Value"), "4278190080");
	EXPECT_EQ(AttributeOf(Named(Defines.RootElement(), "Define", "LOGTYPE_WARN"), "Value"), "4");

	EXPECT_EQ(AttributeOf(Named(EventTypes.RootElement(), "EventType", "OnResourceStop"), "Arguments"), "2");
	const TiXmlElement* pScriptMade = Named(EventTypes.RootElement(), "EventType", "OnScriptMade");
	EXPECT_EQ(AttributeOf(pScriptMade, "Arguments"), "3");
	EXPECT_EQ(AttributeOf(pScriptMade, "CanPreventDefault"), "true");

	for (const char* szCommand : {"say", "quit", "start", "refresh", "dumpdoc", "scriptcommand"})
		EXPECT_NE(Named(Commands.RootElement(), "Command", szCommand), nullptr) << szCommand;

	const TiXmlElement* pGlobal = Named(Interface.RootElement(), "Namespace", "global");
	ASSERT_NE(pGlobal, nullptr);
	EXPECT_EQ(AttributeOf(Named(pGlobal, "Function", "addEvent"), "RequiredArguments"), "1");
	EXPECT_NE(Named(Named(pGlobal, "Class", "Event"), "Class", "CancellableEvent"), nullptr);
	const TiXmlElement* pElement = Named(pGlobal, "Class", "XmlElement");
	EXPECT_EQ(AttributeOf(Named(pElement, "Property", "childrenCount"), "Type"), "Object");
	EXPECT_EQ(AttributeOf(Named(pElement, "Function", "getBoolAttribute"), "Mask"), "ts");
	EXPECT_EQ(AttributeOf(Named(Named(pGlobal, "Class", "XmlDocument"), "Function", "load"), "RequiredArguments"), "1");
}
}

TEST(DocumentationDump, TheStartUpOptionWritesTheFourFiles)
{
	CServerProcess Server;
	WriteRegisteringResource(Server);
	StartAndWait(Server, MakeConfig(ResourceList({"registers"})), {"-dumpdoc"});
	ASSERT_TRUE(Server.WaitForOutput("Documentation dumped")) << Server.GetRawOutput();
	ExpectTheInterface(Server);
}

TEST(DocumentationDump, TheConsoleCommandWritesTheInterfaceAsItStands)
{
	CServerProcess Server;
	WriteRegisteringResource(Server);
	StartAndWait(Server, MakeConfig(""));
	std::string Content;
	EXPECT_FALSE(Server.ReadFile("Documentation/Commands.xml", Content));

	// Started after the server: its registrations are in the dump all the same.
	ASSERT_TRUE(Server.WriteInput("start registers\n"));
	ASSERT_TRUE(Server.WaitForOutput("Started resource registers")) << Server.GetRawOutput();
	ASSERT_TRUE(Server.WriteInput("dumpdoc\n"));
	ASSERT_TRUE(Server.WaitForOutput("Documentation dumped")) << Server.GetRawOutput();
	ExpectTheInterface(Server);
}

TEST(DocumentationDump, AFolderThatCannotBeWrittenIsReportedFileByFile)
{
	CServerProcess Server;
	Server.WriteFile("Documentation", "a file where the folder belongs");
	StartAndWait(Server, MakeConfig(""), {"-dumpdoc"});
	for (const char* szFile : FILES)
		EXPECT_TRUE(Server.WaitForOutput("Failed to write " + PathOf(Server, szFile))) << Server.GetRawOutput();

	// Whatever the dump answered is out before the next command's answer.
	ASSERT_TRUE(Server.WriteInput("stopall\n"));
	ASSERT_TRUE(Server.WaitForOutput("Stopped 0 resources")) << Server.GetRawOutput();
	EXPECT_FALSE(Printed(Server, "Documentation dumped")) << Server.GetRawOutput();
	std::string Content;
	ASSERT_TRUE(Server.ReadFile("Documentation", Content));
	EXPECT_EQ(Content, "a file where the folder belongs");
}
