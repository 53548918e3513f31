#pragma once
// The script classes "XmlElement" and "XmlDocument": scripts of every language read XML text and chunk files as
// trees of element objects. A document owns its root element; every element owns its chunk and holds its child
// elements, all built when the document loads, so a script reaching the same element twice gets the same object.
// Scripts can read the tree and clear an element's children, nothing else.

#include <vector>

#include "Engine/BaseObject.h"
#include "Engine/KestrinReference.h"

class CElementChunk;
class CResourceMgr;
class ReflectedClass;
class Stream;

// The registration record of both classes: the user data of every member, and where the objects find their
// classes. Made by the resource manager's constructor and deleted with it.
class CXmlInterface
{
public:
	// Declares "XmlElement" and "XmlDocument" in the global namespace of the manager's scripting.
	explicit CXmlInterface(CResourceMgr* pOwner);

	CXmlInterface(const CXmlInterface&) = delete;
	CXmlInterface& operator=(const CXmlInterface&) = delete;

	CResourceMgr* GetOwner() const { return m_pOwner; }
	ReflectedClass* GetDocumentClass() const { return m_pDocumentClass; }
	ReflectedClass* GetElementClass() const { return m_pElementClass; }

private:
	CResourceMgr* m_pOwner;
	ReflectedClass* m_pDocumentClass;
	ReflectedClass* m_pElementClass;
};

class CXmlElement : public CBaseObject
{
public:
	// Takes ownership of the chunk; pParent (may be null) is only remembered, weakly.
	CXmlElement(CXmlInterface* pInterface, CElementChunk* pChunk, CXmlElement* pParent);
	// Clears the element, then frees its chunk.
	~CXmlElement() override;

	// Makes one child element per element child of the chunk, in order, each with its own children built first.
	// Only for an element without children: the tree is built once, when it is loaded.
	void UpdateCache();
	// Takes every child out of the tree, deepest first. A child a script still holds keeps its own chunk (and so
	// its name, text and attributes) but has no children afterwards; it keeps its parent while the parent lives.
	void Clear();

	CElementChunk* GetChunk() const { return m_pChunk; }
	CXmlElement* GetParent() const { return m_pParent.Get(); }
	const std::vector<Strong<CXmlElement>>& GetChildren() const { return m_Children; }

	// The element, its chunk and the elements below it.
	size_t GetRetainedBytes() const override;

private:
	void BuildCache(unsigned uiDepth);

	CXmlInterface* m_pInterface;
	AutoDelete<CElementChunk> m_pChunk;
	Weak<CXmlElement> m_pParent;
	// One per element child of the chunk, in document order, until the element is cleared.
	std::vector<Strong<CXmlElement>> m_Children;
	// What the children retain, summed when the tree is built: the tree never changes but for a clear.
	size_t m_ChildBytes = 0;
};

class CXmlDocument : public CBaseObject
{
public:
	explicit CXmlDocument(CXmlInterface* pInterface);

	// Reads an element tree from the stream's position; false, keeping the current root, when the stream holds
	// none. A success replaces the root with the new tree.
	bool Load(Stream* pStream);

	// Null until a load succeeds.
	CXmlElement* GetRootElement() const { return m_pRootElement; }

	// The document and its tree.
	size_t GetRetainedBytes() const override;

private:
	CXmlInterface* m_pInterface;
	Strong<CXmlElement> m_pRootElement;
};
