#pragma once
// The element tree into which every structured file (configuration, meta.xml, maps) is read, from either a chunk
// file or XML text: a name, a text value, string attributes and child elements.

#include <cstddef>

#include "Engine/ChunkFile.h"
#include "Engine/KestrinArguments.h"

class Stream;

class CElementChunk : public CChunk
{
public:
	CElementChunk();
	~CElementChunk() override;

	// A new tree (owned by the caller) from a chunk file whose root's first child is an element, or else from XML
	// text; null when the stream holds neither.
	static CElementChunk* Load(Stream* pStream);
	// The XML branch of Load: the whole text of the stream (a byte-order mark honoured), its first element the root.
	static CElementChunk* LoadXML(Stream* pStream);

	// The attribute's text (and its length) when it exists and holds a string; null otherwise. Names are exact.
	const char* Attribute(const char* szName, size_t* pLength = nullptr) const;

	// The text value's payload, then the attribute map's payload, in the value encoding without type bytes.
	bool ReadData(Stream* pData) override;
	bool WriteData(Stream* pStream) override;

	const CArgumentString& GetText() const { return m_Text; }
	CArgumentString& GetText() { return m_Text; }
	const CArgumentMap& GetAttributes() const { return m_Attributes; }
	CArgumentMap& GetAttributes() { return m_Attributes; }

	// The child at the index when it is an element; null otherwise.
	CElementChunk* GetChildElement(size_t Index) const;

private:
	CArgumentString m_Text;
	CArgumentMap m_Attributes;
};
