// The XmlDocument and XmlElement natives as every script language reaches them: loading, the stable element
// objects, the attribute conversions, clearing, the lifetimes of elements a script keeps, and every error text.

#include "ScriptHost.h"

#include <cmath>

#include "Engine/AssertsOff.h"
#include "Engine/ChunkFileBuilder.h"
#include "Engine/ScriptStream.h"
#include "Scripting/XmlFunctions.h"

namespace
{
const char* const SAMPLE = "<root a=\"1\">"
						   "<first name=\"one\">text one</first>"
						   "<second><inner/></second>"
						   "</root>";

class XmlFunctionsTest : public ScriptHostTest
{
protected:
	ReflectedClass* ElementClass() const { return Manager()->GetXmlInterface()->GetElementClass(); }
	ReflectedClass* DocumentClass() const { return Manager()->GetXmlInterface()->GetDocumentClass(); }

	// A script "Stream" over a copy of the bytes.
	Strong<CBaseObject> ScriptStream(const std::string& Bytes)
	{
		m_StreamBytes.push_back(Bytes);
		const std::string& Kept = m_StreamBytes.back();
		Strong<Stream> pStream = Strong<Stream>::New(new CMemoryStream(static_cast<const void*>(Kept.data()), Kept.size()));
		return Strong<CBaseObject>::New(new CScriptStream(Scripting()->GetGlobal()->m_pStreamClass, pStream));
	}

	tCallResult Load(CBaseObject* pDocument, const std::string& Bytes)
	{
		Strong<CBaseObject> pStream = ScriptStream(Bytes);
		tCallResult Result = Method(pDocument, "load", CArgs().O(pStream));
		Method(pStream, "close");
		return Result;
	}

	// A document loaded from the text.
	Strong<CBaseObject> LoadDocument(const std::string& Text)
	{
		Strong<CBaseObject> pDocument = Construct(DocumentClass());
		EXPECT_TRUE(Load(pDocument, Text).Boolean());
		return pDocument;
	}

	// A member of pClass (the receiver's class when null) called with pThis as receiver (may be null).
	tCallResult Method(CBaseObject* pThis, const char* szName, const CArgumentArray& Arguments = CArgs(),
		ReflectedClass* pClass = nullptr)
	{
		return TestScript::CallMethod(Scripting(), nullptr, pThis, szName, Arguments, pClass);
	}
	tCallResult Get(CBaseObject* pThis, const char* szName, ReflectedClass* pClass = nullptr)
	{
		return TestScript::GetProperty(Scripting(), nullptr, pThis, szName, pClass);
	}

	Strong<CBaseObject> Object(CBaseObject* pThis, const char* szProperty)
	{
		return Strong<CBaseObject>(Get(pThis, szProperty).Object());
	}
	std::string Text(CBaseObject* pThis, const char* szProperty) { return Get(pThis, szProperty).String(); }
	int64_t ChildrenCount(CBaseObject* pElement)
	{
		tCallResult Result = Get(pElement, "childrenCount");
		int64_t iCount = -1;
		if (Result.m_bOk && Result.m_pValue->GetType() == ARGUMENT_LONGINTEGER)
			Result.m_pValue->ToNumber(iCount);
		return iCount;
	}
	// The objects of the "children" array, in order.
	std::vector<CBaseObject*> Children(CBaseObject* pElement)
	{
		std::vector<CBaseObject*> Objects;
		tCallResult Result = Get(pElement, "children");
		if (!Result.m_bOk || Result.m_pValue->GetType() != ARGUMENT_ARRAY)
			return Objects;
		const CArgumentArray* pArray = static_cast<const CArgumentArray*>(Result.m_pValue.GetPointer());
		for (size_t i = 0; i < pArray->GetArrayCount(); i++)
			Objects.push_back(pArray->GetAt(i)->ToObject());
		return Objects;
	}
	Strong<CBaseObject> Child(CBaseObject* pElement, size_t Index)
	{
		std::vector<CBaseObject*> Objects = Children(pElement);
		return Strong<CBaseObject>(Index < Objects.size() ? Objects[Index] : nullptr);
	}

	std::vector<std::string> m_StreamBytes;
};
}

TEST_F(XmlFunctionsTest, LoadBuildsATreeOfStableElements)
{
	Strong<CBaseObject> pDocument = LoadDocument(SAMPLE);
	Strong<CBaseObject> pRoot = Object(pDocument, "rootElement");
	ASSERT_FALSE(pRoot.IsNull());
	EXPECT_EQ(Object(pDocument, "rootElement"), pRoot);
	EXPECT_EQ(Text(pRoot, "name"), "root");
	EXPECT_TRUE(Get(pRoot, "parent").IsNull());

	EXPECT_EQ(ChildrenCount(pRoot), 2);
	const std::vector<CBaseObject*> First = Children(pRoot);
	ASSERT_EQ(First.size(), 2u);
	EXPECT_EQ(Children(pRoot), First);
	for (CBaseObject* pChild : First)
		EXPECT_EQ(Get(pChild, "parent").Object(), pRoot);
	EXPECT_EQ(Text(First[0], "name"), "first");
	EXPECT_EQ(Text(First[0], "text"), "text one");
	EXPECT_EQ(Text(First[1], "text"), "");

	Strong<CBaseObject> pInner = Child(First[1], 0);
	ASSERT_FALSE(pInner.IsNull());
	EXPECT_EQ(Text(pInner, "name"), "inner");
	EXPECT_EQ(Get(pInner, "parent").Object(), First[1]);
	EXPECT_EQ(ChildrenCount(pInner), 0);
}

TEST_F(XmlFunctionsTest, AttributesAreACopyOfTheElementsMap)
{
	Strong<CBaseObject> pDocument = LoadDocument("<e a=\"1\" b=\"x &amp; y\"/>");
	Strong<CBaseObject> pRoot = Object(pDocument, "rootElement");
	tCallResult First = Get(pRoot, "attributes");
	ASSERT_TRUE(First.m_bOk);
	ASSERT_EQ(First.m_pValue->GetType(), ARGUMENT_MAP);
	CArgumentMap* pMap = static_cast<CArgumentMap*>(First.m_pValue.GetPointer());
	EXPECT_EQ(pMap->GetCount(), 2u);
	ASSERT_NE(pMap->Get("b"), nullptr);
	EXPECT_STREQ(pMap->Get("b")->ToString(), "x & y");

	// What a script does to its copy leaves the element alone.
	pMap->Remove("a");
	EXPECT_EQ(Method(pRoot, "getStringAttribute", CArgs().S("a")).String(), "1");
	EXPECT_EQ(static_cast<CArgumentMap*>(Get(pRoot, "attributes").m_pValue.GetPointer())->GetCount(), 2u);
}

TEST_F(XmlFunctionsTest, AttributeMethodsConvertTheText)
{
	struct tCase
	{
		const char* m_szMethod;
		const char* m_szValue;
		uint8_t m_ucType;
		double m_dNumber;
	};
	const tCase rgCases[] = {
		{"getIntegerAttribute", "12abc", ARGUMENT_INTEGER, 12},
		{"getIntegerAttribute", "abc", ARGUMENT_INTEGER, 0},
		{"getIntegerAttribute", "4294967297", ARGUMENT_INTEGER, 1},
		{"getIntegerAttribute", "-7", ARGUMENT_INTEGER, -7},
		{"getFloatAttribute", "1.5", ARGUMENT_FLOAT, 1.5},
		{"getFloatAttribute", "abc", ARGUMENT_FLOAT, 0},
		{"getFloatAttribute", "1e300", ARGUMENT_FLOAT, HUGE_VAL},
		{"getFloatAttribute", "-1e300", ARGUMENT_FLOAT, -HUGE_VAL},
		{"getBoolAttribute", "true", ARGUMENT_BOOLEAN, 1},
		{"getBoolAttribute", "1", ARGUMENT_BOOLEAN, 1},
		{"getBoolAttribute", "false", ARGUMENT_BOOLEAN, 0},
		{"getBoolAttribute", "0", ARGUMENT_BOOLEAN, 0},
	};
	for (const tCase& Case : rgCases)
	{
		SCOPED_TRACE(std::string(Case.m_szMethod) + " " + Case.m_szValue);
		Strong<CBaseObject> pDocument = LoadDocument(std::string("<e v=\"") + Case.m_szValue + "\"/>");
		tCallResult Result = Method(Object(pDocument, "rootElement"), Case.m_szMethod, CArgs().S("v"));
		ASSERT_TRUE(Result.m_bOk) << Result.m_Error;
		ASSERT_EQ(Result.m_pValue->GetType(), Case.m_ucType);
		double dValue = 0;
		if (Case.m_ucType == ARGUMENT_BOOLEAN)
			dValue = Result.Boolean() ? 1 : 0;
		else
			Result.m_pValue->ToNumber(dValue);
		EXPECT_EQ(dValue, Case.m_dNumber);
	}

	Strong<CBaseObject> pDocument = LoadDocument("<e v=\" spaced &lt;text&gt; \"/>");
	EXPECT_EQ(Method(Object(pDocument, "rootElement"), "getStringAttribute", CArgs().S("v")).String(),
		" spaced <text> ");
}

TEST_F(XmlFunctionsTest, EveryFailureNamesItsCause)
{
	Strong<CBaseObject> pDocument = LoadDocument("<e word=\"yes\"/>");
	Strong<CBaseObject> pElement = Object(pDocument, "rootElement");
	Strong<CBaseObject> pClosed = ScriptStream("<e/>");
	ASSERT_TRUE(Method(pClosed, "close").m_bOk);
	// An object of the element's class that is no element, as a plug-in module could make one.
	Strong<CBaseObject> pImpostor = Strong<CBaseObject>::New(new CObjectValue<int>(ElementClass(), 1));

	struct tCase
	{
		const char* m_szLabel;
		std::function<tCallResult()> m_Call;
		const char* m_szError;
	};
	const tCase rgCases[] = {
		{"method without receiver", [&] { return Method(nullptr, "clear", CArgs(), ElementClass()); },
			"'this' is null"},
		{"property without receiver", [&] { return Get(nullptr, "rootElement", DocumentClass()); },
			"'this' is null"},
		{"element method on a document", [&] { return Method(pDocument, "clear", CArgs(), ElementClass()); },
			"XmlElement expected for 'this'"},
		{"element property on a document", [&] { return Get(pDocument, "name", ElementClass()); },
			"XmlElement expected for 'this'"},
		{"document method on an element", [&] { return Method(pElement, "load", CArgs(), DocumentClass()); },
			"XmlDocument expected for 'this'"},
		{"document property on an element", [&] { return Get(pElement, "rootElement", DocumentClass()); },
			"XmlDocument expected for 'this'"},
		{"element of another kind", [&] { return Get(pImpostor, "children"); }, "XmlElement expected for 'this'"},
		{"no attribute name", [&] { return Method(pElement, "getStringAttribute"); }, "Expected string for argument 1"},
		{"number as attribute name", [&] { return Method(pElement, "getIntegerAttribute", CArgs().I(5)); },
			"Expected string for argument 1"},
		{"missing string", [&] { return Method(pElement, "getStringAttribute", CArgs().S("gone")); },
			"attribute gone doesn't exist"},
		{"missing boolean", [&] { return Method(pElement, "getBoolAttribute", CArgs().S("gone")); },
			"attribute gone doesn't exist"},
		{"missing integer", [&] { return Method(pElement, "getIntegerAttribute", CArgs().S("gone")); },
			"attribute gone doesn't exist"},
		{"missing float", [&] { return Method(pElement, "getFloatAttribute", CArgs().S("gone")); },
			"attribute gone doesn't exist"},
		{"names compare with case", [&] { return Method(pElement, "getStringAttribute", CArgs().S("WORD")); },
			"attribute WORD doesn't exist"},
		{"no boolean word", [&] { return Method(pElement, "getBoolAttribute", CArgs().S("word")); },
			"attribute word doesn't exist"},
		{"load without stream", [&] { return Method(pDocument, "load"); }, "Expected Stream for argument 1"},
		{"load of an element", [&] { return Method(pDocument, "load", CArgs().O(pElement)); },
			"Expected Stream for argument 1"},
		{"load of a closed stream", [&] { return Method(pDocument, "load", CArgs().O(pClosed)); }, "Stream closed"},
	};
	for (const tCase& Case : rgCases)
	{
		SCOPED_TRACE(Case.m_szLabel);
		tCallResult Result = Case.m_Call();
		EXPECT_FALSE(Result.m_bOk);
		EXPECT_EQ(Result.m_Error, Case.m_szError);
	}
	EXPECT_EQ(Object(pDocument, "rootElement"), pElement);
}

TEST_F(XmlFunctionsTest, ALoadThatFindsNoTreeKeepsTheRoot)
{
	CAssertsOff AssertsOff;
	Strong<CBaseObject> pDocument = Construct(DocumentClass());
	EXPECT_TRUE(Get(pDocument, "rootElement").IsNull());
	EXPECT_FALSE(Load(pDocument, "").Boolean());
	EXPECT_TRUE(Get(pDocument, "rootElement").IsNull());

	ASSERT_TRUE(Load(pDocument, SAMPLE).Boolean());
	Strong<CBaseObject> pRoot = Object(pDocument, "rootElement");
	for (const char* szText : {"", "no markup at all", "HBF\xff broken chunk file"})
	{
		SCOPED_TRACE(szText);
		tCallResult Result = Load(pDocument, szText);
		ASSERT_TRUE(Result.m_bOk);
		EXPECT_FALSE(Result.Boolean());
		EXPECT_EQ(Object(pDocument, "rootElement"), pRoot);
		EXPECT_EQ(ChildrenCount(pRoot), 2);
	}
}

TEST_F(XmlFunctionsTest, ChunkFilesShowOnlyTheirElements)
{
	using namespace ChunkFileBuilder;
	tRecord Element{CHUNK_ELEMENT, "child", ElementData("child text", {{"k", "v"}}), {}, {}, {}};
	tRecord Data{CHUNK_DATA, "blob", {1, 2, 3}, {}, {}, {}};
	tRecord Root{CHUNK_ELEMENT, "root", ElementData("", {}), {Data, Element, Data}, {}, {}};
	const tBytes File = PlainFile(tRecord{0, "", {}, {Root}, {}, {}}, 8);

	Strong<CBaseObject> pDocument = LoadDocument(std::string(File.begin(), File.end()));
	Strong<CBaseObject> pRoot = Object(pDocument, "rootElement");
	ASSERT_FALSE(pRoot.IsNull());
	EXPECT_EQ(Text(pRoot, "name"), "root");
	ASSERT_EQ(ChildrenCount(pRoot), 1);
	Strong<CBaseObject> pChild = Child(pRoot, 0);
	EXPECT_EQ(Text(pChild, "text"), "child text");
	EXPECT_EQ(Method(pChild, "getStringAttribute", CArgs().S("k")).String(), "v");

	// The data chunks no element stands for go with the clear (the sanitizer build sees a leak otherwise).
	EXPECT_TRUE(Method(pRoot, "clear").m_bOk);
	EXPECT_EQ(Text(pChild, "name"), "child");
}

TEST_F(XmlFunctionsTest, ASecondLoadLeavesTheOldTreeToItsHolders)
{
	Strong<CBaseObject> pDocument = LoadDocument(SAMPLE);
	Strong<CBaseObject> pOldRoot = Object(pDocument, "rootElement");
	Strong<CBaseObject> pOldChild = Child(pOldRoot, 0);

	ASSERT_TRUE(Load(pDocument, "<other>new</other>").Boolean());
	Strong<CBaseObject> pNewRoot = Object(pDocument, "rootElement");
	EXPECT_NE(pNewRoot, pOldRoot);
	EXPECT_EQ(Text(pNewRoot, "text"), "new");
	EXPECT_EQ(Text(pOldRoot, "name"), "root");
	EXPECT_EQ(Text(pOldChild, "text"), "text one");
	EXPECT_EQ(Get(pOldChild, "parent").Object(), pOldRoot);
	EXPECT_EQ(ChildrenCount(pOldRoot), 2);
}

TEST_F(XmlFunctionsTest, ClearDetachesTheWholeSubtree)
{
	Strong<CBaseObject> pDocument = LoadDocument(SAMPLE);
	Strong<CBaseObject> pRoot = Object(pDocument, "rootElement");
	Strong<CBaseObject> pFirst = Child(pRoot, 0);
	Strong<CBaseObject> pSecond = Child(pRoot, 1);
	Strong<CBaseObject> pInner = Child(pSecond, 0);

	ASSERT_TRUE(Method(pRoot, "clear").m_bOk);
	EXPECT_EQ(ChildrenCount(pRoot), 0);
	EXPECT_TRUE(Children(pRoot).empty());
	EXPECT_EQ(Text(pRoot, "name"), "root");
	EXPECT_EQ(Method(pRoot, "getStringAttribute", CArgs().S("a")).String(), "1");

	// Kept children still read their own values and know their parents, but have no children any more.
	EXPECT_EQ(Text(pFirst, "text"), "text one");
	EXPECT_EQ(Method(pFirst, "getStringAttribute", CArgs().S("name")).String(), "one");
	EXPECT_EQ(Get(pFirst, "parent").Object(), pRoot);
	EXPECT_EQ(ChildrenCount(pSecond), 0);
	EXPECT_EQ(Get(pSecond, "parent").Object(), pRoot);
	EXPECT_EQ(Text(pInner, "name"), "inner");
	EXPECT_EQ(Get(pInner, "parent").Object(), pSecond);

	EXPECT_TRUE(Method(pRoot, "clear").m_bOk);
	EXPECT_EQ(Object(pDocument, "rootElement"), pRoot);

	// A kept child no longer keeps its parent alive, and the parent's going leaves it without one.
	pSecond.SetNull();
	EXPECT_TRUE(Get(pInner, "parent").IsNull());
	EXPECT_EQ(Text(pInner, "name"), "inner");
	pRoot.SetNull();
	EXPECT_EQ(Get(pFirst, "parent").Object(), Object(pDocument, "rootElement"));
	pDocument.SetNull();
	EXPECT_TRUE(Get(pFirst, "parent").IsNull());
	EXPECT_EQ(Text(pFirst, "text"), "text one");
}

TEST_F(XmlFunctionsTest, ADocumentRetainsItsTreeUntilCleared)
{
	std::string Text = "<root>";
	for (int i = 0; i < 100; i++)
		Text += "<item name=\"" + std::string(100, 'n') + "\">" + std::string(100, 't') + "</item>";
	Text += "</root>";
	Strong<CBaseObject> pDocument = Construct(DocumentClass());
	const size_t Empty = pDocument->GetRetainedBytes();
	ASSERT_TRUE(Load(pDocument, Text).Boolean());
	// Every element, its text and its attribute.
	const size_t Loaded = pDocument->GetRetainedBytes();
	EXPECT_GT(Loaded, Empty + 100 * (sizeof(CXmlElement) + 200));

	Strong<CBaseObject> pRoot = Object(pDocument, "rootElement");
	ASSERT_TRUE(Method(pRoot, "clear").m_bOk);
	EXPECT_LT(pDocument->GetRetainedBytes(), Empty + sizeof(CXmlElement) + 1000);
}

TEST_F(XmlFunctionsTest, KeptElementsOutliveTheirDocument)
{
	Strong<CBaseObject> pDocument = LoadDocument(SAMPLE);
	Strong<CBaseObject> pInner = Child(Child(Object(pDocument, "rootElement"), 1), 0);
	pDocument.SetNull();

	EXPECT_EQ(Text(pInner, "name"), "inner");
	EXPECT_TRUE(Get(pInner, "parent").IsNull());
	EXPECT_EQ(ChildrenCount(pInner), 0);
}

TEST_F(XmlFunctionsTest, ConstructorsMakeEmptyObjects)
{
	Strong<CBaseObject> pElement = Construct(ElementClass());
	ASSERT_FALSE(pElement.IsNull());
	EXPECT_EQ(pElement->GetReflectedClass(), ElementClass());
	EXPECT_EQ(Text(pElement, "name"), "");
	EXPECT_EQ(Text(pElement, "text"), "");
	EXPECT_EQ(ChildrenCount(pElement), 0);
	EXPECT_TRUE(Children(pElement).empty());
	EXPECT_TRUE(Get(pElement, "parent").IsNull());
	EXPECT_EQ(static_cast<CArgumentMap*>(Get(pElement, "attributes").m_pValue.GetPointer())->GetCount(), 0u);
	EXPECT_TRUE(Method(pElement, "clear").m_bOk);

	Strong<CBaseObject> pDocument = Construct(DocumentClass());
	EXPECT_EQ(pDocument->GetReflectedClass(), DocumentClass());
	EXPECT_TRUE(Get(pDocument, "rootElement").IsNull());
}

TEST_F(XmlFunctionsTest, TheDeepestTreeTheLoaderTakesBuildsAndClears)
{
	// The loader takes elements nested one level below the chunk depth cap, and no deeper.
	const unsigned uiLevels = CHUNK_MAX_DEPTH + 1;
	std::string Text;
	for (unsigned i = 0; i < uiLevels; i++)
		Text += "<e d=\"" + std::to_string(i) + "\">";
	for (unsigned i = 0; i < uiLevels; i++)
		Text += "</e>";

	Strong<CBaseObject> pDocument = LoadDocument(Text);
	Strong<CBaseObject> pElement = Object(pDocument, "rootElement");
	Strong<CBaseObject> pParent;
	for (unsigned i = 1; i < uiLevels && !pElement.IsNull(); i++)
	{
		pParent = pElement;
		pElement = Child(pElement, 0);
	}
	ASSERT_FALSE(pElement.IsNull());
	EXPECT_EQ(Method(pElement, "getIntegerAttribute", CArgs().S("d")).Integer(), static_cast<int32_t>(uiLevels - 1));
	EXPECT_EQ(Get(pElement, "parent").Object(), pParent);

	Strong<CBaseObject> pRoot = Object(pDocument, "rootElement");
	ASSERT_TRUE(Method(pRoot, "clear").m_bOk);
	EXPECT_EQ(Get(pElement, "parent").Object(), pParent);
	pParent.SetNull();
	EXPECT_TRUE(Get(pElement, "parent").IsNull());
}
