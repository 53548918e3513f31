#include "Scripting/XmlFunctions.h"

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <utility>

#include "Engine/ElementChunk.h"
#include "Engine/KestrinNative.h"
#include "Engine/KestrinString.h"
#include "Scripting/MemberNatives.h"
#include "Scripting/ResourceMgr.h"

// CXmlElement

CXmlElement::CXmlElement(CXmlInterface* pInterface, CElementChunk* pChunk, CXmlElement* pParent) :
	m_pInterface(pInterface), m_pChunk(pChunk), m_pParent(pParent)
{
	SetReflectedClass(pInterface ? pInterface->GetElementClass() : nullptr);
}

CXmlElement::~CXmlElement()
{
	Clear();
	if (!m_pChunk.IsNull())
		m_pChunk->Orphan();
	m_pChunk.Delete();
}

void CXmlElement::UpdateCache()
{
	if (!KASSERT(m_Children.empty()))
		return;
	BuildCache(0);
}

// The loaders never make a tree deeper than the chunk depth cap, and the cache stops there too, so neither
// building nor clearing it can recurse further than that.
void CXmlElement::BuildCache(unsigned uiDepth)
{
	if (m_pChunk.IsNull())
		return;
	const size_t Count = m_pChunk->GetChildCount();
	m_Children.reserve(Count);
	for (size_t i = 0; i < Count; i++)
	{
		// A chunk file may hold other chunk types below an element; scripts see elements only.
		CElementChunk* pChildChunk = m_pChunk->GetChildElement(i);
		if (!pChildChunk)
			continue;
		Strong<CXmlElement> pChild = Strong<CXmlElement>::New(new CXmlElement(m_pInterface, pChildChunk, this));
		if (uiDepth < CHUNK_MAX_DEPTH)
			pChild->BuildCache(uiDepth + 1);
		m_ChildBytes += pChild->GetRetainedBytes();
		m_Children.push_back(std::move(pChild));
	}
}

void CXmlElement::Clear()
{
	for (const Strong<CXmlElement>& pChild : m_Children)
		pChild->Clear();

	if (!m_pChunk.IsNull())
	{
		std::vector<CChunk*> Chunks;
		Chunks.reserve(m_pChunk->GetChildCount());
		for (size_t i = 0; i < m_pChunk->GetChildCount(); i++)
			Chunks.push_back(m_pChunk->GetChild(i));
		m_pChunk->DetachChildren();
		// Each child element owns its chunk from now on; a chunk no element was made for goes here.
		size_t Next = 0;
		for (CChunk* pChunk : Chunks)
		{
			if (Next < m_Children.size() && m_Children[Next]->GetChunk() == pChunk)
				Next++;
			else
				delete pChunk;
		}
	}

	// The cache is emptied before its children are released (as the local goes): a child's release must never see
	// a half-emptied cache. A child a script still holds keeps its parent; the reference is weak, so it holds no
	// cycle and the parent's own end nulls it.
	std::vector<Strong<CXmlElement>> Children;
	Children.swap(m_Children);
	m_ChildBytes = 0;
}

size_t CXmlElement::GetRetainedBytes() const
{
	size_t Bytes = CBaseObject::GetRetainedBytes() + m_ChildBytes;
	if (!m_pChunk.IsNull())
	{
		Bytes += sizeof(CElementChunk) + m_pChunk->GetText().GetLength() +
			KEstimateValueBytes(&m_pChunk->GetAttributes());
	}
	return Bytes;
}

// CXmlDocument

CXmlDocument::CXmlDocument(CXmlInterface* pInterface) : m_pInterface(pInterface)
{
	SetReflectedClass(pInterface ? pInterface->GetDocumentClass() : nullptr);
}

size_t CXmlDocument::GetRetainedBytes() const
{
	return CBaseObject::GetRetainedBytes() + (m_pRootElement.IsNull() ? 0 : m_pRootElement->GetRetainedBytes());
}

bool CXmlDocument::Load(Stream* pStream)
{
	CElementChunk* pChunk = CElementChunk::Load(pStream);
	if (!pChunk)
		return false;
	Strong<CXmlElement> pRoot = Strong<CXmlElement>::New(new CXmlElement(m_pInterface, pChunk, nullptr));
	pRoot->UpdateCache();
	m_pRootElement = std::move(pRoot);
	return true;
}

// The natives. Every member has the interface as its user data.

namespace
{
CXmlInterface* GetInterface(void* pUserData)
{
	return static_cast<CXmlInterface*>(pUserData);
}

CXmlElement* GetThisElement(CNativeState* pState, void* pUserData)
{
	return MemberNatives::GetThisAs<CXmlElement>(pState, GetInterface(pUserData)->GetElementClass());
}

CXmlDocument* GetThisDocument(CNativeState* pState, void* pUserData)
{
	return MemberNatives::GetThisAs<CXmlDocument>(pState, GetInterface(pUserData)->GetDocumentClass());
}

// The text of the attribute named by argument 1, with its length and the name; null after reporting the failure.
const char* GetAttribute(CNativeState* pState, void* pUserData, size_t* pLength, const char** pszName = nullptr)
{
	CXmlElement* pThis = GetThisElement(pState, pUserData);
	if (!pThis)
		return nullptr;
	const char* szName = pState->CheckString(0, nullptr);
	if (!szName)
		return nullptr;
	const char* szValue = pThis->GetChunk()->Attribute(szName, pLength);
	if (!szValue)
		pState->Error("attribute %s doesn't exist", szName);
	if (pszName)
		*pszName = szName;
	return szValue;
}

bool ElementConstructor(CNativeState* pState, int, void* pUserData)
{
	CXmlElement* pElement = new CXmlElement(GetInterface(pUserData), new CElementChunk(), nullptr);
	pState->ReturnObject(pElement);
	pElement->Release();
	return true;
}

bool ElementGetChildrenCount(CNativeState* pState, int, void* pUserData)
{
	CXmlElement* pThis = GetThisElement(pState, pUserData);
	if (!pThis)
		return false;
	pState->ReturnNumber(static_cast<int64_t>(pThis->GetChildren().size()));
	return true;
}

bool ElementGetChildren(CNativeState* pState, int, void* pUserData)
{
	CXmlElement* pThis = GetThisElement(pState, pUserData);
	if (!pThis)
		return false;
	CArgumentArray* pChildren = new CArgumentArray(pThis->GetChildren().size());
	for (const Strong<CXmlElement>& pChild : pThis->GetChildren())
		pChildren->AddObject(pChild);
	pState->ReturnAndOwn(pChildren);
	return true;
}

bool ElementGetParent(CNativeState* pState, int, void* pUserData)
{
	CXmlElement* pThis = GetThisElement(pState, pUserData);
	if (!pThis)
		return false;
	pState->ReturnObject(pThis->GetParent());
	return true;
}

bool ElementGetName(CNativeState* pState, int, void* pUserData)
{
	CXmlElement* pThis = GetThisElement(pState, pUserData);
	if (!pThis)
		return false;
	pState->ReturnString(pThis->GetChunk()->GetName(), pThis->GetChunk()->GetNameLength());
	return true;
}

bool ElementGetText(CNativeState* pState, int, void* pUserData)
{
	CXmlElement* pThis = GetThisElement(pState, pUserData);
	if (!pThis)
		return false;
	size_t Length = 0;
	const char* szText = pThis->GetChunk()->GetText().ToString(&Length);
	pState->ReturnString(szText ? szText : "", szText ? Length : 0);
	return true;
}

bool ElementGetAttributes(CNativeState* pState, int, void* pUserData)
{
	CXmlElement* pThis = GetThisElement(pState, pUserData);
	if (!pThis)
		return false;
	pState->Return(&pThis->GetChunk()->GetAttributes());
	return true;
}

bool ElementClear(CNativeState* pState, int, void* pUserData)
{
	CXmlElement* pThis = GetThisElement(pState, pUserData);
	if (!pThis)
		return false;
	pThis->Clear();
	return true;
}

bool ElementGetStringAttribute(CNativeState* pState, int, void* pUserData)
{
	size_t Length = 0;
	const char* szValue = GetAttribute(pState, pUserData, &Length);
	if (!szValue)
		return false;
	pState->ReturnString(szValue, Length);
	return true;
}

bool ElementGetBoolAttribute(CNativeState* pState, int, void* pUserData)
{
	const char* szName = nullptr;
	const char* szValue = GetAttribute(pState, pUserData, nullptr, &szName);
	if (!szValue)
		return false;
	// A value that is no boolean fails like a missing attribute.
	bool bValue = false;
	if (!StringManager::ToBoolean(szValue, &bValue))
		return pState->Error("attribute %s doesn't exist", szName);
	pState->ReturnBoolean(bValue);
	return true;
}

bool ElementGetIntegerAttribute(CNativeState* pState, int, void* pUserData)
{
	const char* szValue = GetAttribute(pState, pUserData, nullptr);
	if (!szValue)
		return false;
	// A longer value gives its low 32 bits.
	const long lValue = strtol(szValue, nullptr, 10);
	pState->ReturnNumber(static_cast<int32_t>(static_cast<uint32_t>(static_cast<unsigned long>(lValue))));
	return true;
}

bool ElementGetFloatAttribute(CNativeState* pState, int, void* pUserData)
{
	const char* szValue = GetAttribute(pState, pUserData, nullptr);
	if (!szValue)
		return false;
	const double dValue = strtod(szValue, nullptr);
	// Narrowing a value beyond the float range is undefined; it becomes the infinity of its sign.
	float fValue;
	if (dValue > FLT_MAX)
		fValue = INFINITY;
	else if (dValue < -FLT_MAX)
		fValue = -INFINITY;
	else
		fValue = static_cast<float>(dValue);
	pState->ReturnNumber(fValue);
	return true;
}

bool DocumentConstructor(CNativeState* pState, int, void* pUserData)
{
	CXmlDocument* pDocument = new CXmlDocument(GetInterface(pUserData));
	pState->ReturnObject(pDocument);
	pDocument->Release();
	return true;
}

bool DocumentGetRootElement(CNativeState* pState, int, void* pUserData)
{
	CXmlDocument* pThis = GetThisDocument(pState, pUserData);
	if (!pThis)
		return false;
	pState->ReturnObject(pThis->GetRootElement());
	return true;
}

bool DocumentLoad(CNativeState* pState, int, void* pUserData)
{
	CXmlDocument* pThis = GetThisDocument(pState, pUserData);
	if (!pThis)
		return false;
	Stream* pStream = pState->CheckStream(0);
	if (!pStream)
		return false;
	pState->ReturnBoolean(pThis->Load(pStream));
	return true;
}
}

// CXmlInterface

CXmlInterface::CXmlInterface(CResourceMgr* pOwner) :
	m_pOwner(pOwner), m_pDocumentClass(nullptr), m_pElementClass(nullptr)
{
	ReflectedNamespace* pGlobal = pOwner->GetScripting()->GetGlobal();

	m_pElementClass = pGlobal->NewClass("XmlElement");
	m_pElementClass->RegisterConstructor("t", ElementConstructor, this);
	// The declared kinds only document the interface: "childrenCount" is declared an object but gives a number.
	m_pElementClass->AddProperty(this, "childrenCount", ARGUMENT_OBJECT, ElementGetChildrenCount);
	m_pElementClass->AddProperty(this, "children", ARGUMENT_ARRAY, ElementGetChildren);
	m_pElementClass->AddProperty(this, "parent", ARGUMENT_OBJECT, ElementGetParent);
	m_pElementClass->AddProperty(this, "name", ARGUMENT_STRING, ElementGetName);
	m_pElementClass->AddProperty(this, "text", ARGUMENT_STRING, ElementGetText);
	m_pElementClass->AddProperty(this, "attributes", ARGUMENT_MAP, ElementGetAttributes);
	m_pElementClass->RegisterFunction("clear", "t", ElementClear, this);
	m_pElementClass->RegisterFunction("getStringAttribute", "ts", ElementGetStringAttribute, this);
	m_pElementClass->RegisterFunction("getBoolAttribute", "ts", ElementGetBoolAttribute, this);
	m_pElementClass->RegisterFunction("getIntegerAttribute", "ts", ElementGetIntegerAttribute, this);
	m_pElementClass->RegisterFunction("getFloatAttribute", "ts", ElementGetFloatAttribute, this);

	m_pDocumentClass = pGlobal->NewClass("XmlDocument");
	m_pDocumentClass->RegisterConstructor("t", DocumentConstructor, this);
	m_pDocumentClass->AddProperty(this, "rootElement", ARGUMENT_OBJECT, DocumentGetRootElement);
	m_pDocumentClass->RegisterFunction("load", "tx", DocumentLoad, this);
}
