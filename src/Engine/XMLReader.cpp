// Element trees from XML text, parsed with TinyXML.

#include <cstring>
#include <string>

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

const char* SkipPast(const char* p, const char* szEnd)
{
	const char* pFound = strstr(p, szEnd);
	return pFound ? pFound + strlen(szEnd) : nullptr;
}

// TinyXML parses and frees elements recursively, so a document nested far deeper than any tree we keep could
// exhaust the stack before our own depth check sees it. This scan bounds the nesting first, without recursion.
bool IsNestingWithin(const char* szText, unsigned uiMaxDepth)
{
	unsigned uiDepth = 0;
	const char* p = szText;
	while ((p = strchr(p, '<')) != nullptr)
	{
		if (strncmp(p, "<!--", 4) == 0)
			p = SkipPast(p + 4, "-->");
		else if (strncmp(p, "<![CDATA[", 9) == 0)
			p = SkipPast(p + 9, "]]>");
		else if (p[1] == '?' || p[1] == '!')
			p = SkipPast(p + 2, ">");
		else if (p[1] == '/')
		{
			if (uiDepth > 0)
				uiDepth--;
			p = SkipPast(p + 2, ">");
		}
		else
		{
			// A start tag: find its end outside quoted attribute values.
			const char* q = p + 1;
			char cQuote = 0;
			while (*q && (cQuote || *q != '>'))
			{
				if (cQuote && *q == cQuote)
					cQuote = 0;
				else if (!cQuote && (*q == '"' || *q == '\''))
					cQuote = *q;
				q++;
			}
			if (!*q)
				return true; // unterminated: the parser reports it
			if (q[-1] != '/' && ++uiDepth > uiMaxDepth)
				return false;
			p = q + 1;
		}
		if (!p)
			return true;
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
	if (!IsNestingWithin(Text.c_str(), CHUNK_MAX_DEPTH + 1))
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
