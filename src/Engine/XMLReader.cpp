// Element trees from XML text, parsed with TinyXML.

#include <cstring>

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
}

CElementChunk* CElementChunk::LoadXML(Stream* pStream)
{
	CTextReader Reader(pStream);
	if (!Reader.Load() || !Reader.GetText())
		return nullptr;

	TiXmlDocument Document;
	// Errors after the first element are not fatal: whatever the parser built is used.
	Document.Parse(Reader.GetText(), nullptr, TIXML_ENCODING_UNKNOWN);
	const TiXmlElement* pRootElement = Document.RootElement();
	if (!KASSERT(pRootElement))
		return nullptr;

	CElementChunk* pRoot = new CElementChunk();
	if (!Associate(pRoot, pRootElement, 0))
	{
		delete pRoot;
		return nullptr;
	}
	return pRoot;
}
