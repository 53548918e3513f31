#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include <tinyxml.h>

#include "ChunkFileBuilder.h"
#include "Engine/Context.h"
#include "Engine/ElementChunk.h"
#include "Engine/KAssert.h"

using namespace ChunkFileBuilder;

namespace
{
tBytes Text(const std::string& Value)
{
	return tBytes(Value.begin(), Value.end());
}

AutoDelete<CElementChunk> LoadBytes(const tBytes& Bytes)
{
	return AutoDelete<CElementChunk>(CElementChunk::Load(OpenBytes(Bytes)));
}

AutoDelete<CElementChunk> LoadText(const std::string& Value)
{
	return LoadBytes(Text(Value));
}

std::string TextOf(const CElementChunk* pElement)
{
	size_t Length = 0;
	const char* szText = pElement->GetText().GetString();
	Length = pElement->GetText().GetLength();
	return std::string(szText, Length);
}

// Name, text, attributes and children, recursively.
void ExpectSameTree(const CElementChunk* pExpected, const CElementChunk* pActual)
{
	ASSERT_NE(nullptr, pActual);
	EXPECT_STREQ(pExpected->GetName(), pActual->GetName());
	EXPECT_EQ(TextOf(pExpected), TextOf(pActual));
	EXPECT_EQ(pExpected->GetAttributes().GetCount(), pActual->GetAttributes().GetCount());
	for (const auto& Entry : pExpected->GetAttributes())
	{
		const char* szActual = pActual->Attribute(Entry.first.c_str());
		ASSERT_NE(nullptr, szActual) << Entry.first;
		EXPECT_STREQ(Entry.second->ToString(), szActual);
	}
	ASSERT_EQ(pExpected->GetChildCount(), pActual->GetChildCount());
	for (size_t i = 0; i < pExpected->GetChildCount(); i++)
		ExpectSameTree(pExpected->GetChildElement(i), pActual->GetChildElement(i));
}

const char* const SERVER_XML = "<server><port>22000</port><game mode=\"1\">gta:iii</game></server>";

class ElementChunkTest : public ::testing::Test
{
protected:
	ElementChunkTest() : m_bSavedAsserts(g_bAsserts) { g_bAsserts = false; }
	~ElementChunkTest() override { g_bAsserts = m_bSavedAsserts; }

	bool m_bSavedAsserts;
	Context m_Context;
};
}

TEST_F(ElementChunkTest, XmlLoadsNameTextAndChildrenInOrder)
{
	AutoDelete<CElementChunk> pRoot = LoadText(SERVER_XML);
	ASSERT_FALSE(pRoot.IsNull());
	EXPECT_STREQ("server", pRoot->GetName());
	EXPECT_EQ(CHUNK_ELEMENT, pRoot->GetType());
	EXPECT_EQ(nullptr, pRoot->GetParent());
	ASSERT_EQ(2u, pRoot->GetChildCount());
	EXPECT_STREQ("port", pRoot->GetChild(0)->GetName());
	EXPECT_EQ("22000", TextOf(pRoot->GetChildElement(0)));
	EXPECT_EQ(1u, pRoot->GetChild(1)->GetIndex());
	EXPECT_EQ(pRoot.GetPointer(), pRoot->GetChild(1)->GetParent());

	CElementChunk* pGame = static_cast<CElementChunk*>(pRoot->FindChunk(CHUNK_ELEMENT, 0, "GAME"));
	ASSERT_NE(nullptr, pGame);
	EXPECT_EQ(pRoot->GetChild(1), pGame);
	EXPECT_EQ("gta:iii", TextOf(pGame));
}

TEST_F(ElementChunkTest, ByteOrderMarkIsHonoured)
{
	AutoDelete<CElementChunk> pPlain = LoadText(SERVER_XML);
	AutoDelete<CElementChunk> pMarked = LoadText(std::string("\xEF\xBB\xBF") + SERVER_XML);
	ASSERT_FALSE(pPlain.IsNull());
	ExpectSameTree(pPlain, pMarked);
}

TEST_F(ElementChunkTest, AttributesAreExactStrings)
{
	AutoDelete<CElementChunk> pRoot =
		LoadText("<resource><script src=\"main.lua\" type=\"server\" flag=\"0\" empty=\"\" Src=\"other\"/></resource>");
	ASSERT_FALSE(pRoot.IsNull());
	CElementChunk* pScript = pRoot->GetChildElement(0);
	ASSERT_NE(nullptr, pScript);

	const struct
	{
		const char* szName;
		const char* szValue; // null: absent
	} Cases[] = {
		{"src", "main.lua"},
		{"Src", "other"},
		{"type", "server"},
		{"flag", "0"},
		{"empty", ""},
		{"SRC", nullptr},
		{"missing", nullptr},
	};
	for (const auto& Case : Cases)
	{
		size_t Length = 99;
		const char* szValue = pScript->Attribute(Case.szName, &Length);
		if (!Case.szValue)
		{
			EXPECT_EQ(nullptr, szValue) << Case.szName;
			continue;
		}
		ASSERT_NE(nullptr, szValue) << Case.szName;
		EXPECT_STREQ(Case.szValue, szValue);
		EXPECT_EQ(strlen(Case.szValue), Length);
	}

	// Only string values count as attributes.
	pScript->GetAttributes().Set("number", new CArgumentInteger(5));
	EXPECT_EQ(nullptr, pScript->Attribute("number"));
}

TEST_F(ElementChunkTest, TextIsTheFirstTextChildOnly)
{
	const struct
	{
		const char* szXml;
		const char* szText;
		size_t ChildCount;
	} Cases[] = {
		{"<a/>", "", 0},
		{"<a></a>", "", 0},
		{"<a>text</a>", "text", 0},
		{"<a><b/>after</a>", "", 1},
		{"<a>before<b/>after</a>", "before", 1},
		{"<a><!-- note --><b/><c/></a>", "", 2},
		{"<a><![CDATA[<raw>]]></a>", "<raw>", 0},
		{"<a>x &amp; y</a>", "x & y", 0},
		{"<?xml version=\"1.0\"?><!-- lead --><a>t</a>", "t", 0},
	};
	for (const auto& Case : Cases)
	{
		SCOPED_TRACE(Case.szXml);
		AutoDelete<CElementChunk> pRoot = LoadText(Case.szXml);
		ASSERT_FALSE(pRoot.IsNull());
		EXPECT_STREQ("a", pRoot->GetName());
		EXPECT_EQ(Case.szText, TextOf(pRoot));
		EXPECT_EQ(Case.ChildCount, pRoot->GetChildCount());
	}
}

TEST_F(ElementChunkTest, ChunkFileLoadsTheSameTreeAsItsXml)
{
	AutoDelete<CElementChunk> pFromXml = LoadText(SERVER_XML);
	ASSERT_FALSE(pFromXml.IsNull());

	tRecord Root{0, "", {}, {}, {}, {}};
	tRecord Server{CHUNK_ELEMENT, "server", ElementData("", {}), {}, {}, {}};
	Server.Children.push_back(tRecord{CHUNK_ELEMENT, "port", ElementData("22000", {}), {}, {}, {}});
	Server.Children.push_back(tRecord{CHUNK_ELEMENT, "game", ElementData("gta:iii", {{"mode", "1"}}), {}, {}, {}});
	Root.Children.push_back(Server);

	for (uint32_t uiVersion : {6u, 7u, 8u})
	{
		SCOPED_TRACE(uiVersion);
		ExpectSameTree(pFromXml, LoadBytes(PlainFile(Root, uiVersion)));
		ExpectSameTree(pFromXml, LoadBytes(CompressedFile(Body(Root, uiVersion), uiVersion)));
	}
}

TEST_F(ElementChunkTest, WhatIsNeitherATreeNorXmlGivesNull)
{
	tRecord WithoutElement{0, "", {}, {}, {}, {}};
	WithoutElement.Children.push_back(tRecord{CHUNK_DATA, "raw", Text("x"), {}, {}, {}});

	tRecord BadAttributes{0, "", {}, {}, {}, {}};
	BadAttributes.Children.push_back(tRecord{CHUNK_ELEMENT, "e", tBytes{0x00, 0x80}, {}, {}, {}});

	tRecord Plain{0, "", {}, {}, {}, {}};
	Plain.Children.push_back(tRecord{CHUNK_ELEMENT, "e", ElementData("", {}), {}, {}, {}});

	const struct
	{
		const char* szName;
		tBytes Bytes;
	} Cases[] = {
		{"empty stream", tBytes()},
		{"plain text", Text("just some words")},
		{"lone bracket", Text("<")},
		{"declaration only", Text("<?xml version=\"1.0\"?>")},
		{"comment only", Text("<!-- nothing -->")},
		{"closing tag only", Text("</a>")},
		{"tree without element", PlainFile(WithoutElement, 7)},
		{"element with broken attribute map", PlainFile(BadAttributes, 7)},
		{"version 9 chunk file", PlainFile(Plain, 9)},
		{"big-endian UTF-16 text", Text(std::string("\xFE\xFF\0<\0a\0/\0>", 10))},
	};
	for (const auto& Case : Cases)
	{
		SCOPED_TRACE(Case.szName);
		EXPECT_TRUE(LoadBytes(Case.Bytes).IsNull());
	}
}

TEST_F(ElementChunkTest, MalformedXmlKeepsWhatWasParsed)
{
	AutoDelete<CElementChunk> pRoot = LoadText("<server><port>22000</port><game>");
	ASSERT_FALSE(pRoot.IsNull());
	EXPECT_STREQ("server", pRoot->GetName());
	ASSERT_LE(1u, pRoot->GetChildCount());
	EXPECT_EQ("22000", TextOf(pRoot->GetChildElement(0)));
}

TEST_F(ElementChunkTest, NestingBeyondTheCapGivesNull)
{
	auto Nested = [](size_t Depth) {
		std::string Xml;
		for (size_t i = 0; i <= Depth; i++)
			Xml += "<e>";
		for (size_t i = 0; i <= Depth; i++)
			Xml += "</e>";
		return Xml;
	};
	EXPECT_FALSE(LoadText(Nested(CHUNK_MAX_DEPTH)).IsNull());
	EXPECT_TRUE(LoadText(Nested(CHUNK_MAX_DEPTH + 1)).IsNull());
	// Deep enough to exhaust the stack if it ever reached a recursive parser.
	EXPECT_TRUE(LoadText(Nested(200000)).IsNull());
	// Self-closing tags, comments, declarations and quoted '>' do not count as nesting.
	std::string Flat = "<?xml version=\"1.0\"?><!-- <a><b> --><r>";
	for (int i = 0; i < 1000; i++)
		Flat += "<e a=\"x>y\"/><![CDATA[<c>]]>";
	Flat += "</r>";
	EXPECT_FALSE(LoadText(Flat).IsNull());
}

// The nesting guard must read the text as the parser does: anything it skips that the parser reads as elements
// lets a document through that nests deep enough to exhaust the stack.
TEST_F(ElementChunkTest, NestingIsMeasuredAsTheParserReadsTheText)
{
	struct tCase
	{
		const char* szCase;
		std::string Prefix;
		std::string Unit;
		std::string Suffix;
	};
	const std::string Declaration = "<?xml version=\"1.0\"?>";
	const tCase Cases[] = {
		{"quote in an unknown tag", "<1'>", "<a>", "'>"},
		{"double quote in an unknown tag", "<-\">", "<a>", "\">"},
		{"blank after the bracket", "< '>", "<a>", "'>"},
		{"quote in a processing instruction", "<?pi '>", "<a>", "'?>"},
		{"quote in a document type", "<!DOCTYPE d '>", "<a>", "'>"},
		{"quote in a comment", "<!-- ' -->", "<a>", ""},
		{"quote in CDATA", "<r><![CDATA[ ' ]]>", "<a>", ""},
		{"quoted bracket in the declaration", "<?xml version='>'?>", "<a>", ""},
		{"end tag inside a UTF-8 character", Declaration + "<r>", "<a>\xE0</a>", ""},
		{"end tag inside a UTF-8 character after a byte-order mark", "\xEF\xBB\xBF\xEF\xBB\xBF<r>", "<a>\xE0</a>", ""},
		{"end tag inside a UTF-8 character of an attribute", Declaration + "<r>", "<a x='\xE0'></a>'>", ""},
	};
	for (const tCase& Case : Cases)
	{
		std::string Xml = Case.Prefix;
		for (int i = 0; i < 50000; i++)
			Xml += Case.Unit;
		EXPECT_TRUE(LoadText(Xml + Case.Suffix).IsNull()) << Case.szCase;
	}

	// What only looks deep is read.
	const tCase Flat[] = {
		{"apostrophes in text", "<r>", "<a>it's</a>", "</r>"},
		{"tags in attribute values", "<r>", "<a x='<b>' y=\"<c>\"/>", "</r>"},
		{"UTF-8 text", Declaration + "<r>", "<a>caf\xC3\xA9</a>", "</r>"},
		{"tags in comments", "<r>", "<!-- <a> -->", "</r>"},
		{"tags in a document type", "<!DOCTYPE r><r>", "<a/><!x <a>>", "</r>"},
	};
	for (const tCase& Case : Flat)
	{
		std::string Xml = Case.Prefix;
		for (int i = 0; i < 1000; i++)
			Xml += Case.Unit;
		EXPECT_FALSE(LoadText(Xml + Case.Suffix).IsNull()) << Case.szCase;
	}
}

namespace
{
unsigned ElementDepth(const TiXmlNode* pNode)
{
	unsigned uiDeepest = 0;
	for (const TiXmlNode* pChild = pNode->FirstChild(); pChild; pChild = pChild->NextSibling())
		uiDeepest = std::max(uiDeepest, ElementDepth(pChild) + (pChild->ToElement() ? 1 : 0));
	return uiDeepest;
}

std::string Printable(const std::string& Text)
{
	std::string Result;
	for (unsigned char c : Text)
	{
		char szByte[8];
		snprintf(szByte, sizeof(szByte), c < 0x20 || c >= 0x7F ? "\\x%02X" : "%c", c);
		Result += szByte;
	}
	return Result;
}
}

// Random documents whose nesting ends near the cap: what the loader refuses is exactly what the parser would nest
// deeper than the cap. The parser builds every element it starts, even one it then fails in, so the depth of its
// tree is how deep it went.
TEST_F(ElementChunkTest, NestingGuardAgreesWithTheParserOnRandomDocuments)
{
	const char* const rgszTokens[] = {"<a>", "<a>", "<a>", "</a>", "<b>", "<b>", "</b>", "</b >", "<_c", " x='", " y=1", "'", "\"", "=",
		">", "/>", "<", "< ", "<1", "<!--", "-->", "<![CDATA[", "]]>", "<?xml", "<?pi", "?>", " version=\"", "<!DOCTYPE d [",
		"]>", "\xE0", "\xC3", "\xF0\x9F", "\xC3\xA9", "\xEF\xBB\xBF", "&#x41;", "&#", "&amp;", ";", "text", " ", "\n"};
	const char* const rgszStarts[] = {"", "<?xml version='1.0'?>", "<?xml version='1.0' encoding='latin1'?>",
		"\xEF\xBB\xBF\xEF\xBB\xBF", "<!-- x -->"};
	std::mt19937 Random(20240611);
	int iRefused = 0;
	for (int i = 0; i < 2000; i++)
	{
		std::string Xml = rgszStarts[Random() % std::size(rgszStarts)];
		const unsigned uiWrappers = CHUNK_MAX_DEPTH + 1 - Random() % 4;
		for (unsigned j = 0; j < uiWrappers; j++)
			Xml += "<e>";
		const unsigned uiTokens = 1 + Random() % 40;
		for (unsigned j = 0; j < uiTokens; j++)
			Xml += rgszTokens[Random() % std::size(rgszTokens)];
		// Blanks at the end keep the last character whole, so the loader hands the parser all of the text.
		Xml += "    ";

		// The loader's text reader takes one byte-order mark off before the parser sees the text.
		const std::string Parsed = Xml.compare(0, 3, "\xEF\xBB\xBF") == 0 ? Xml.substr(3) : Xml;
		TiXmlDocument Document;
		Document.Parse(Parsed.c_str(), nullptr, TIXML_ENCODING_UNKNOWN);
		const bool bWithinCap = ElementDepth(&Document) <= CHUNK_MAX_DEPTH + 1;
		const bool bLoaded = !LoadText(Xml).IsNull();
		EXPECT_EQ(bLoaded, bWithinCap) << Printable(Xml.substr(uiWrappers * 3 > 200 ? uiWrappers * 3 - 200 : 0));
		iRefused += bLoaded ? 0 : 1;
	}
	// Both sides of the cap were tried.
	EXPECT_GT(iRefused, 200);
	EXPECT_LT(iRefused, 1800);
}

TEST_F(ElementChunkTest, LoadStartsWhereTheStreamStands)
{
	const tBytes Bytes = Text(std::string("junk") + SERVER_XML);
	Strong<CMemoryStream> pStream = OpenBytes(Bytes);
	pStream->Seek(4, 0);
	AutoDelete<CElementChunk> pRoot(CElementChunk::Load(pStream));
	ASSERT_FALSE(pRoot.IsNull());
	EXPECT_STREQ("server", pRoot->GetName());
}
