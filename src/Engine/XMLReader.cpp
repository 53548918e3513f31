// Element trees from XML text, parsed with TinyXML.

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include <tinyxml.h>

#include "Engine/ElementChunk.h"
#include "Engine/KAssert.h"
#include "Engine/KestrinStream.h"

namespace
{
// Name, first text child, attributes in document order (a repeated name keeps the later value) and child elements
// in document order. Comments and other nodes add nothing.
bool Associate(CElementChunk* pChunk, const TiXmlElement* pElement, unsigned uiDepth)
{
	pChunk->SetName(pElement->Value());

	const TiXmlNode* pFirst = pElement->FirstChild();
	if (pFirst && pFirst->ToText())
		pChunk->GetText().SetString(pFirst->Value());

	for (const TiXmlAttribute* pAttribute = pElement->FirstAttribute(); pAttribute; pAttribute = pAttribute->Next())
	{
		const char* szValue = pAttribute->Value();
		pChunk->GetAttributes().Set(pAttribute->Name(), new CArgumentString(szValue, strlen(szValue)));
	}

	for (const TiXmlElement* pChild = pElement->FirstChildElement(); pChild; pChild = pChild->NextSiblingElement())
	{
		if (uiDepth + 1 > CHUNK_MAX_DEPTH)
			return false;
		CElementChunk* pChildChunk = new CElementChunk();
		pChunk->AddChild(pChildChunk);
		if (!Associate(pChildChunk, pChild, uiDepth + 1))
			return false;
	}
	return true;
}

// The bytes of the UTF-8 character a byte starts, as a lead byte announces it (1 for any other byte).
size_t AnnouncedLength(unsigned char ucByte)
{
	if (ucByte >= 0xF0 && ucByte <= 0xF7)
		return 4;
	if (ucByte >= 0xE0)
		return ucByte <= 0xEF ? 3 : 1;
	return ucByte >= 0xC0 ? 2 : 1;
}

// TinyXML, reading UTF-8, takes a lead byte for the whole character it announces and steps over that many bytes
// without looking for the end of the text: a character cut by the end would carry it past the terminator and on
// through memory that is not the document's. The parser is therefore only given the text up to the last character
// that ends inside it (a cut character is dropped, and the lead bytes of one before it are checked again).
size_t CompleteTextLength(const char* szText, size_t Length)
{
	for (;;)
	{
		size_t Cut = Length;
		for (size_t i = Length >= 3 ? Length - 3 : 0; i < Length && Cut == Length; i++)
		{
			if (i + AnnouncedLength(static_cast<unsigned char>(szText[i])) > Length)
				Cut = i;
		}
		if (Cut == Length)
			return Length;
		Length = Cut;
	}
}

// TinyXML parses and frees elements recursively, so a document nested far deeper than any tree we keep would exhaust
// the stack before our own depth check sees it. This measures, without recursion, how deep the parser's elements
// would nest: it walks the text as the parser's own document, element and content loops do, and lexes every other
// node (text, attributes, comments, CDATA, declarations, unknown tags) with the parser's own code, so that quotes,
// multi-byte characters and unclosed constructs are read exactly as the parser will read them. The parser stops at
// its first error, and so does the walk. It derives from the parser's base only to reach its lexing helpers and is
// never made.
class CXmlNestingScan : public TiXmlBase
{
public:
	CXmlNestingScan() = delete;

	// True when no element of the document lies deeper than uiMaxDepth (the root is at depth 1).
	static bool IsNestingWithin(const char* szText, unsigned uiMaxDepth);

private:
	enum eNode
	{
		NODE_NONE,
		NODE_DECLARATION,
		NODE_COMMENT,
		NODE_CDATA,
		NODE_UNKNOWN,
		NODE_ELEMENT,
	};

	static eNode Identify(const char* p, TiXmlEncoding eEncoding);
	static const char* ParseNode(eNode eKind, const char* p, TiXmlEncoding& eEncoding, bool bTopLevel);
	static const char* ReadStartTag(const char* p, TiXmlEncoding eEncoding, std::string& Name, bool& bEmpty);
	static const char* ReadContent(const char* p, TiXmlEncoding eEncoding, bool& bChild);
	static const char* ScanElement(const char* p, TiXmlEncoding eEncoding, unsigned uiMaxDepth, bool& bTooDeep);
};

// What the node starting at p is, by the parser's rules.
CXmlNestingScan::eNode CXmlNestingScan::Identify(const char* p, TiXmlEncoding eEncoding)
{
	p = SkipWhiteSpace(p, eEncoding);
	if (!p || !*p || *p != '<')
		return NODE_NONE;
	if (StringEqual(p, "<?xml", true, eEncoding))
		return NODE_DECLARATION;
	if (StringEqual(p, "<!--", false, eEncoding))
		return NODE_COMMENT;
	if (StringEqual(p, "<![CDATA[", false, eEncoding))
		return NODE_CDATA;
	if (StringEqual(p, "<!", false, eEncoding))
		return NODE_UNKNOWN;
	if (IsAlpha(static_cast<unsigned char>(p[1]), eEncoding) || p[1] == '_')
		return NODE_ELEMENT;
	return NODE_UNKNOWN;
}

// Parses a node that holds no elements with the parser's own code. The first declaration of the document names
// the encoding the rest is read in.
const char* CXmlNestingScan::ParseNode(eNode eKind, const char* p, TiXmlEncoding& eEncoding, bool bTopLevel)
{
	switch (eKind)
	{
	case NODE_DECLARATION:
	{
		TiXmlDeclaration Declaration;
		p = Declaration.Parse(p, nullptr, eEncoding);
		if (bTopLevel && eEncoding == TIXML_ENCODING_UNKNOWN)
		{
			const char* szEncoding = Declaration.Encoding();
			if (*szEncoding == '\0' || StringEqual(szEncoding, "UTF-8", true, TIXML_ENCODING_UNKNOWN) ||
				StringEqual(szEncoding, "UTF8", true, TIXML_ENCODING_UNKNOWN))
				eEncoding = TIXML_ENCODING_UTF8;
			else
				eEncoding = TIXML_ENCODING_LEGACY;
		}
		return p;
	}
	case NODE_COMMENT:
	{
		TiXmlComment Comment;
		return Comment.Parse(p, nullptr, eEncoding);
	}
	case NODE_CDATA:
	{
		TiXmlText Text("");
		Text.SetCDATA(true);
		return Text.Parse(p, nullptr, eEncoding);
	}
	case NODE_UNKNOWN:
	{
		TiXmlUnknown Unknown;
		return Unknown.Parse(p, nullptr, eEncoding);
	}
	default:
		return nullptr;
	}
}

// An element's start tag up to and including its ">" or "/>": the name, then attributes until the tag ends. Null
// where the parser fails (a repeated attribute included).
const char* CXmlNestingScan::ReadStartTag(const char* p, TiXmlEncoding eEncoding, std::string& Name, bool& bEmpty)
{
	p = SkipWhiteSpace(p, eEncoding);
	if (!p || !*p || *p != '<')
		return nullptr;
	p = SkipWhiteSpace(p + 1, eEncoding);
	if (!p)
		return nullptr;
	p = ReadName(p, &Name, eEncoding);
	if (!p || !*p)
		return nullptr;
	std::set<std::string> Attributes;
	for (;;)
	{
		p = SkipWhiteSpace(p, eEncoding);
		if (!p || !*p)
			return nullptr;
		if (*p == '/')
		{
			if (p[1] != '>')
				return nullptr;
			bEmpty = true;
			return p + 2;
		}
		if (*p == '>')
		{
			bEmpty = false;
			return p + 1;
		}
		TiXmlAttribute Attribute;
		p = Attribute.Parse(p, nullptr, eEncoding);
		if (!p || !*p || !Attributes.insert(Attribute.NameTStr()).second)
			return nullptr;
	}
}

// The content of an element from p on, up to the start of a child element (bChild set) or of an end tag. Null where
// the parser fails, the end of the text included.
const char* CXmlNestingScan::ReadContent(const char* p, TiXmlEncoding eEncoding, bool& bChild)
{
	const char* pWithWhiteSpace = p;
	p = SkipWhiteSpace(p, eEncoding);
	while (p && *p)
	{
		if (*p != '<')
		{
			TiXmlText Text("");
			p = Text.Parse(IsWhiteSpaceCondensed() ? p : pWithWhiteSpace, nullptr, eEncoding);
		}
		else if (StringEqual(p, "</", false, eEncoding))
		{
			bChild = false;
			return p;
		}
		else
		{
			const eNode eKind = Identify(p, eEncoding);
			if (eKind == NODE_ELEMENT)
			{
				bChild = true;
				return p;
			}
			p = ParseNode(eKind, p, eEncoding, false);
		}
		pWithWhiteSpace = p;
		p = SkipWhiteSpace(p, eEncoding);
	}
	return nullptr;
}

// One element at the document's top level with everything in it; returns where the parser goes on, or null where
// it stops (bTooDeep tells the nesting apart from an ordinary parse error).
const char* CXmlNestingScan::ScanElement(const char* p, TiXmlEncoding eEncoding, unsigned uiMaxDepth, bool& bTooDeep)
{
	std::vector<std::string> EndTags; // of the open elements, innermost last
	for (;;)
	{
		// p is at the start tag of an element one level below the innermost open one.
		if (EndTags.size() >= uiMaxDepth)
		{
			bTooDeep = true;
			return nullptr;
		}
		std::string Name;
		bool bEmpty = false;
		p = ReadStartTag(p, eEncoding, Name, bEmpty);
		if (!p)
			return nullptr;
		if (!bEmpty)
			EndTags.push_back("</" + Name);
		else if (EndTags.empty())
			return p;

		for (;;)
		{
			bool bChild = false;
			p = ReadContent(p, eEncoding, bChild);
			if (!p)
				return nullptr;
			if (bChild)
				break;
			// The end tag must close the innermost element, by its exact name; blanks may stand before its ">".
			if (!StringEqual(p, EndTags.back().c_str(), false, eEncoding))
				return nullptr;
			p = SkipWhiteSpace(p + EndTags.back().size(), eEncoding);
			if (!p || *p != '>')
				return nullptr;
			p++;
			EndTags.pop_back();
			if (EndTags.empty())
				return p;
		}
	}
}

bool CXmlNestingScan::IsNestingWithin(const char* szText, unsigned uiMaxDepth)
{
	const unsigned char* pBytes = reinterpret_cast<const unsigned char*>(szText);
	TiXmlEncoding eEncoding = TIXML_ENCODING_UNKNOWN;
	if (pBytes[0] == 0xEF && pBytes[1] == 0xBB && pBytes[2] == 0xBF)
		eEncoding = TIXML_ENCODING_UTF8;

	const char* p = SkipWhiteSpace(szText, eEncoding);
	while (p && *p)
	{
		const eNode eKind = Identify(p, eEncoding);
		if (eKind == NODE_NONE)
			break;
		if (eKind == NODE_ELEMENT)
		{
			bool bTooDeep = false;
			p = ScanElement(p, eEncoding, uiMaxDepth, bTooDeep);
			if (bTooDeep)
				return false;
		}
		else
			p = ParseNode(eKind, p, eEncoding, true);
		p = SkipWhiteSpace(p, eEncoding);
	}
	return true;
}
}

CElementChunk* CElementChunk::LoadXML(Stream* pStream)
{
	CTextReader Reader(pStream);
	if (!Reader.Load() || !Reader.GetText())
		return nullptr;

	// The parser sees the text up to its first zero byte.
	const std::string Text(Reader.GetText(), CompleteTextLength(Reader.GetText(), strlen(Reader.GetText())));
	if (!CXmlNestingScan::IsNestingWithin(Text.c_str(), CHUNK_MAX_DEPTH + 1))
		return nullptr;

	TiXmlDocument Document;
	// Errors after the first element are not fatal: whatever the parser built is used.
	Document.Parse(Text.c_str(), nullptr, TIXML_ENCODING_UNKNOWN);
	const TiXmlElement* pRootElement = Document.RootElement();
	if (!KASSERT(pRootElement))
		return nullptr;

	AutoDelete<CElementChunk> pRoot(new CElementChunk());
	if (!Associate(pRoot, pRootElement, 0))
		return nullptr;
	return pRoot.Detach();
}
