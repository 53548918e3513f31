// The "dumpdoc" command over the real script host: the four files and their layout, read back with TinyXML, and
// what it answers when a file cannot be written.

#include "ScriptHost.h"

#include <cstring>

#include <tinyxml.h>

#include "Engine/Defines.h"
#include "Scripting/DocumentationDump.h"

namespace
{
const char* const FILES[] = {"Defines.xml", "EventTypes.xml", "Commands.xml", "Documentation.xml"};

bool Noop(CNativeState*, int, void*)
{
	return true;
}

class DocumentationDumpTest : public ScriptHostTest
{
protected:
	DocumentationDumpTest()
	{
		m_pManager->GetCommandHandlers()->AddCommandHandler(new CDumpDocumentationCommandHandler(Manager()), "dumpdoc");
	}

	std::string PathOf(const char* szFile) const { return m_Dir.Path() + "/Documentation/" + szFile; }

	// Runs the command; true when it answered "Documentation dumped" and nothing else.
	bool Dump()
	{
		m_Replies.m_Lines.clear();
		EXPECT_TRUE(Command("dumpdoc"));
		return m_Replies.m_Lines.size() == 1 && m_Replies.LastType() == LOGTYPE_INFO &&
			m_Replies.Last() == "Documentation dumped";
	}

	// The file parsed; a failed test when it does not parse.
	TiXmlElement* Read(TiXmlDocument& Document, const char* szFile)
	{
		EXPECT_TRUE(Document.LoadFile(PathOf(szFile).c_str())) << szFile << ": " << Document.ErrorDesc();
		return Document.RootElement();
	}

	// The first child element with that tag whose "Name" is the name, or null.
	static TiXmlElement* Named(TiXmlElement* pParent, const char* szTag, const char* szName)
	{
		if (!pParent)
			return nullptr;
		for (TiXmlElement* pChild = pParent->FirstChildElement(szTag); pChild;
			 pChild = pChild->NextSiblingElement(szTag))
		{
			const char* szChildName = pChild->Attribute("Name");
			if (szChildName && strcmp(szChildName, szName) == 0)
				return pChild;
		}
		return nullptr;
	}

	static std::string AttributeOf(const TiXmlElement* pElement, const char* szName)
	{
		const char* szValue = pElement ? pElement->Attribute(szName) : nullptr;
		return szValue ? szValue : "<absent>";
	}

	// The tags of the element's children, in order, as "Tag:Name".
	static std::vector<std::string> Layout(const TiXmlElement* pElement)
	{
		std::vector<std::string> Tags;
		for (const TiXmlElement* pChild = pElement ? pElement->FirstChildElement() : nullptr; pChild;
			 pChild = pChild->NextSiblingElement())
			Tags.push_back(std::string(pChild->Value()) + ":" + AttributeOf(pChild, "Name"));
		return Tags;
	}
};
}

TEST_F(DocumentationDumpTest, EveryFileStartsWithTheBareDeclaration)
{
	ASSERT_TRUE(Dump());
	for (const char* szFile : FILES)
	{
		SCOPED_TRACE(szFile);
		TiXmlDocument Document;
		Read(Document, szFile);
		const TiXmlDeclaration* pDeclaration = Document.FirstChild() ? Document.FirstChild()->ToDeclaration() : nullptr;
		ASSERT_NE(pDeclaration, nullptr);
		EXPECT_STREQ(pDeclaration->Version(), "1.0");
		EXPECT_STREQ(pDeclaration->Encoding(), "");
		EXPECT_STREQ(pDeclaration->Standalone(), "");
	}
}

TEST_F(DocumentationDumpTest, DefinesKeepTheirSignedness)
{
	Manager()->GetDefineHandlers()->Define("TEST_MINUS_ONE", -1);
	ASSERT_TRUE(Dump());
	TiXmlDocument Document;
	TiXmlElement* pRoot = Read(Document, "Defines.xml");
	ASSERT_NE(pRoot, nullptr);
	EXPECT_STREQ(pRoot->Value(), "Defines");
	EXPECT_EQ(AttributeOf(Named(pRoot, "Define", "COLOUR_BLACK"), "Value"), "4278190080");
	EXPECT_EQ(AttributeOf(Named(pRoot, "Define", "TEST_MINUS_ONE"), "Value"), "-1");
	EXPECT_EQ(AttributeOf(Named(pRoot, "Define", "SEEK_END"), "Value"), "2");
	// In registration order.
	EXPECT_EQ(Layout(pRoot).front(), "Define:KEYSTATE_UP");
	EXPECT_EQ(Layout(pRoot).back(), "Define:TEST_MINUS_ONE");
}

TEST_F(DocumentationDumpTest, EventTypesFollowTheirDescriptions)
{
	EventHandlers::CEventHandlers* pEvents = Manager()->GetEventHandlers();
	pEvents->CreateEventType("OnAnyCount", "Takes -- anything-", -1, false);
	ASSERT_TRUE(Call(nullptr, "addEvent", CArgs().S("OnScripted").I(2)).m_bOk);
	ASSERT_TRUE(Dump());

	TiXmlDocument Document;
	TiXmlElement* pRoot = Read(Document, "EventTypes.xml");
	ASSERT_NE(pRoot, nullptr);
	EXPECT_STREQ(pRoot->Value(), "EventTypes");

	TiXmlElement* pStart = Named(pRoot, "EventType", "OnResourceStart");
	EXPECT_EQ(AttributeOf(pStart, "Hash"), std::to_string(pEvents->GetEventType("OnResourceStart")->GetKey()));
	EXPECT_EQ(AttributeOf(pStart, "Arguments"), "1");
	EXPECT_EQ(AttributeOf(pStart, "CanPreventDefault"), "true");
	const TiXmlComment* pDescription = pStart && pStart->PreviousSibling() ? pStart->PreviousSibling()->ToComment() : nullptr;
	ASSERT_NE(pDescription, nullptr);
	EXPECT_STREQ(pDescription->Value(), "Called when a resource starts");

	EXPECT_EQ(AttributeOf(Named(pRoot, "EventType", "OnAnyCount"), "Arguments"), "<absent>");
	EXPECT_EQ(AttributeOf(Named(pRoot, "EventType", "OnAnyCount"), "CanPreventDefault"), "false");
	// A comment may hold neither "--" nor a last "-": the file would not be XML.
	const TiXmlNode* pAnyComment = Named(pRoot, "EventType", "OnAnyCount")->PreviousSibling();
	ASSERT_NE(pAnyComment, nullptr);
	EXPECT_STREQ(pAnyComment->Value(), "Takes - - anything- ");

	TiXmlElement* pScripted = Named(pRoot, "EventType", "OnScripted");
	EXPECT_EQ(AttributeOf(pScripted, "Arguments"), "2");
	EXPECT_EQ(AttributeOf(pScripted, "CanPreventDefault"), "true");
	ASSERT_NE(pScripted->PreviousSibling(), nullptr);
	EXPECT_STREQ(pScripted->PreviousSibling()->Value(), "");
}

TEST_F(DocumentationDumpTest, CommandsListThemselvesWithTheirKeys)
{
	ASSERT_TRUE(Call(nullptr, "addCommandHandler", CArgs().S("MixedCase").Own(MakeFunction(nullptr, nullptr))).m_bOk);
	ASSERT_TRUE(Dump());
	TiXmlDocument Document;
	TiXmlElement* pRoot = Read(Document, "Commands.xml");
	ASSERT_NE(pRoot, nullptr);
	EXPECT_STREQ(pRoot->Value(), "Commands");
	EXPECT_EQ(AttributeOf(Named(pRoot, "Command", "dumpdoc"), "Hash"), std::to_string(GetNameKey("dumpdoc")));
	EXPECT_EQ(AttributeOf(Named(pRoot, "Command", "MixedCase"), "Hash"), std::to_string(GetNameKey("mixedcase")));
}

TEST_F(DocumentationDumpTest, TheInterfaceIsOneTreeOfNamespacesAndClasses)
{
	ReflectedNamespace* pGlobal = Scripting()->GetGlobal();
	ReflectedNamespace* pDoc = pGlobal->AddNamespace("doc");
	pDoc->AddProperty(nullptr, "fixed", ARGUMENT_FLOAT, Noop);
	pDoc->AddProperty(nullptr, "settable", ARGUMENT_ARRAY, Noop, Noop, true);
	pDoc->RegisterFunction("old", "", Noop, nullptr, true);
	pDoc->RegisterFunction("method", "tsi|v*", Noop);
	ReflectedClass* pBase = pDoc->NewClass("Base");
	pBase->AddProperty(nullptr, "size", ARGUMENT_LONGINTEGER, Noop);
	pBase->RegisterFunction("grow", "ti", Noop);
	pBase->RegisterConstructor("t", Noop);
	pDoc->NewClass("Sibling", pBase);
	// Its base comes later in the same namespace: the class stays in the namespace.
	ReflectedClass* pLater = new ReflectedClass("Later", nullptr);
	pDoc->NewClass("Early", pLater);
	pDoc->m_Classes.push_back(pLater);
	pDoc->AddNamespace("inner")->NewClass("Nested", pBase);
	ASSERT_TRUE(Dump());

	TiXmlDocument Document;
	TiXmlElement* pRoot = Read(Document, "Documentation.xml");
	ASSERT_NE(pRoot, nullptr);
	EXPECT_STREQ(pRoot->Value(), "Documentation");
	const TiXmlComment* pLegend = pRoot->FirstChild() ? pRoot->FirstChild()->ToComment() : nullptr;
	ASSERT_NE(pLegend, nullptr);
	EXPECT_EQ(strlen(pLegend->Value()), 301u);
	EXPECT_STREQ(pLegend->Value(), "\n        Mask Values\n\n        b - bool\n        i - int32\n        f - float\n"
								   "        s - string\n        c - function/callback\n        x - class/instance\n"
								   "        z - vector2D\n        v - vector3D\n        t - thiscall\n"
								   "        | - optional arguments\n        * - infinite arguments\n        . - any type\n    ");

	EXPECT_EQ(Layout(pRoot), std::vector<std::string>{"Namespace:global"});
	TiXmlElement* pGlobalElement = pRoot->FirstChildElement("Namespace");
	EXPECT_EQ(AttributeOf(Named(pGlobalElement, "Function", "addEvent"), "RequiredArguments"), "1");
	EXPECT_EQ(AttributeOf(Named(pGlobalElement, "Function", "addEvent"), "Mask"), "s|i");
	EXPECT_NE(Named(Named(pGlobalElement, "Class", "Event"), "Class", "CancellableEvent"), nullptr);
	EXPECT_EQ(Named(pGlobalElement, "Class", "CancellableEvent"), nullptr);
	EXPECT_EQ(AttributeOf(Named(Named(pGlobalElement, "Class", "XmlElement"), "Property", "name"), "ReadOnly"), "true");
	EXPECT_NE(Named(Named(pGlobalElement, "Namespace", "reflection"), "Class", "Function"), nullptr);

	TiXmlElement* pDocElement = Named(pGlobalElement, "Namespace", "doc");
	EXPECT_EQ(Layout(pDocElement), (std::vector<std::string>{"Property:fixed", "Property:settable", "Function:old",
									   "Function:method", "Class:Base", "Class:Early", "Class:Later", "Namespace:inner"}));
	TiXmlElement* pFixed = Named(pDocElement, "Property", "fixed");
	EXPECT_EQ(AttributeOf(pFixed, "ReadOnly"), "true");
	EXPECT_EQ(AttributeOf(pFixed, "Obsolete"), "false");
	EXPECT_EQ(AttributeOf(pFixed, "Type"), "number");
	TiXmlElement* pSettable = Named(pDocElement, "Property", "settable");
	EXPECT_EQ(AttributeOf(pSettable, "ReadOnly"), "false");
	EXPECT_EQ(AttributeOf(pSettable, "Obsolete"), "true");
	EXPECT_EQ(AttributeOf(pSettable, "Type"), "<absent>");
	TiXmlElement* pOld = Named(pDocElement, "Function", "old");
	EXPECT_EQ(AttributeOf(pOld, "Mask"), "");
	EXPECT_EQ(AttributeOf(pOld, "RequiredArguments"), "0");
	EXPECT_EQ(AttributeOf(pOld, "Obsolete"), "true");
	EXPECT_EQ(AttributeOf(Named(pDocElement, "Function", "method"), "RequiredArguments"), "2");

	// Derived classes sit inside their base after its own members, also from a namespace written later; the
	// constructor is not written.
	TiXmlElement* pBaseElement = Named(pDocElement, "Class", "Base");
	EXPECT_EQ(Layout(pBaseElement),
		(std::vector<std::string>{"Property:size", "Function:grow", "Class:Sibling", "Class:Nested"}));
	EXPECT_EQ(AttributeOf(Named(pBaseElement, "Property", "size"), "Type"), "int64");
	EXPECT_EQ(Layout(Named(pDocElement, "Namespace", "inner")), std::vector<std::string>{});
}

TEST_F(DocumentationDumpTest, TextThatCannotStandInXmlIsEscaped)
{
	Manager()->GetEventHandlers()->CreateEventType("OnBad\x01Name\xff", "line\nbreak", 0, false);
	ASSERT_TRUE(Dump());
	TiXmlDocument Document;
	TiXmlElement* pRoot = Read(Document, "EventTypes.xml");
	TiXmlElement* pBad = Named(pRoot, "EventType", "OnBad\\x01Name\\xFF");
	ASSERT_NE(pBad, nullptr);
	ASSERT_NE(pBad->PreviousSibling(), nullptr);
	EXPECT_STREQ(pBad->PreviousSibling()->Value(), "line\\x0Abreak");
}

TEST_F(DocumentationDumpTest, ASecondDumpWritesTheInterfaceAsItIsThen)
{
	ASSERT_TRUE(Dump());
	Manager()->GetDefineHandlers()->Define("TEST_LATE", 5);
	ASSERT_TRUE(Dump());
	TiXmlDocument Document;
	EXPECT_EQ(AttributeOf(Named(Read(Document, "Defines.xml"), "Define", "TEST_LATE"), "Value"), "5");
}

TEST_F(DocumentationDumpTest, FilesThatCannotBeWrittenAreNamedAndNothingIsClaimed)
{
	// A file where the folder should be: neither the folder nor anything in it can be made.
	m_Dir.WriteFile("Documentation", "in the way");
	m_Replies.m_Lines.clear();
	EXPECT_TRUE(Command("dumpdoc"));
	std::vector<std::pair<eLogType, std::string>> Expected;
	for (const char* szFile : FILES)
		Expected.push_back({LOGTYPE_ERROR, "Failed to write " + PathOf(szFile)});
	EXPECT_EQ(m_Replies.m_Lines, Expected);

	// Only the file that cannot be written is named.
	remove((m_Dir.Path() + "/Documentation").c_str());
	m_Dir.WriteFile("Documentation/Commands.xml/blocker", "");
	m_Replies.m_Lines.clear();
	EXPECT_TRUE(Command("dumpdoc"));
	EXPECT_EQ(m_Replies.m_Lines, (std::vector<std::pair<eLogType, std::string>>{
									 {LOGTYPE_ERROR, "Failed to write " + PathOf("Commands.xml")}}));
	TiXmlDocument Document;
	EXPECT_NE(Read(Document, "Documentation.xml"), nullptr);
}

TEST_F(DocumentationDumpTest, WithoutAFolderOnDiskItSaysSo)
{
	CFileSystem Empty;
	CTestResourceMgr Manager(&m_Context, &Empty);
	CCaptureLogger Replies;
	Manager.GetCommandHandlers()->PushLogger(&Replies);
	Manager.GetCommandHandlers()->AddCommandHandler(new CDumpDocumentationCommandHandler(&Manager), "dumpdoc");
	EXPECT_TRUE(Manager.GetCommandHandlers()->ConsoleCommandOnly("dumpdoc", nullptr, true));
	EXPECT_EQ(Replies.m_Lines, (std::vector<std::pair<eLogType, std::string>>{
								   {LOGTYPE_ERROR, "Failed to find the program's folder for the documentation"}}));
	Manager.GetCommandHandlers()->PopLogger();
}
