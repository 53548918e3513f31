// Arrays and maps: owned elements, deep copies and their nested encoding.

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "Engine/BaseObject.h"
#include "Engine/Context.h"
#include "Engine/KAssert.h"
#include "Engine/KestrinArguments.h"
#include "Engine/KestrinStream.h"

namespace
{
// How many containers the encoding code of this thread is inside. Values are built and encoded on one thread at
// a time, so a per-thread count is enough to bound the recursion.
thread_local unsigned g_uiEncodingDepth = 0;

// Counts one level of nesting for its lifetime; a level beyond the cap is not entered.
class CEncodingLevel
{
public:
	CEncodingLevel() : m_bAllowed(++g_uiEncodingDepth <= ARGUMENT_MAX_ENCODED_DEPTH) {}
	~CEncodingLevel() { --g_uiEncodingDepth; }
	CEncodingLevel(const CEncodingLevel&) = delete;
	CEncodingLevel& operator=(const CEncodingLevel&) = delete;

	bool IsAllowed() const { return m_bAllowed; }

private:
	bool m_bAllowed;
};

// The fewest bytes an element can take: an array element is at least its type byte, a map entry its type byte and
// its key's length byte.
constexpr size_t MIN_ARRAY_ELEMENT_SIZE = 1;
constexpr size_t MIN_MAP_ENTRY_SIZE = 2;

// The bytes that the elements announced by the containers being read on this thread still need, at the least, past
// the current position. A container reserves only for elements that fit in what is left after them, so everything
// reserved across the whole nesting stays within what the input could fill, however deep it goes.
thread_local size_t g_ClaimedBytes = 0;

// One container's claim on the bytes ahead for the elements it announced, given back as they are read and, for the
// rest, when the read ends however it ends.
class CElementClaim
{
public:
	CElementClaim() : m_Elements(0), m_ElementSize(0) {}
	~CElementClaim() { g_ClaimedBytes -= m_Elements * m_ElementSize; }
	CElementClaim(const CElementClaim&) = delete;
	CElementClaim& operator=(const CElementClaim&) = delete;

	// False when Count elements of at least ElementSize bytes each cannot fit in the bytes no enclosing container
	// has claimed.
	bool Claim(Stream* pStream, size_t Count, size_t ElementSize)
	{
		const size_t Remaining = KGetRemainingBytes(pStream);
		const size_t Unclaimed = Remaining > g_ClaimedBytes ? Remaining - g_ClaimedBytes : 0;
		if (Count > Unclaimed / ElementSize)
			return false;
		m_Elements = Count;
		m_ElementSize = ElementSize;
		g_ClaimedBytes += Count * ElementSize;
		return true;
	}

	// The next element is being read: its bytes no longer lie ahead.
	void NextElement()
	{
		if (m_Elements == 0)
			return;
		m_Elements--;
		g_ClaimedBytes -= m_ElementSize;
	}

private:
	size_t m_Elements;
	size_t m_ElementSize;
};

void WarnCreateFailed(const char* szFormat, uint8_t ucType, unsigned uiIndex, unsigned uiCount)
{
	Context* pContext = KGlobal::GetContext();
	if (pContext)
		pContext->LogWarn(szFormat, CArgument::GetTypeSymbol(ucType), uiIndex, uiCount);
}

void WarnCreateFailed(uint8_t ucType)
{
	Context* pContext = KGlobal::GetContext();
	if (pContext)
		pContext->LogWarn("CArgument::Create(%s) - Failed", CArgument::GetTypeSymbol(ucType));
}

// The encoded size of an element: its type byte and payload. False when the element cannot be written.
bool GetElementSize(const CArgument* pValue, size_t& Size)
{
	size_t PayloadSize;
	if (!pValue->GetSize(PayloadSize))
		return false;
	Size = 1 + PayloadSize;
	return true;
}

size_t BucketsFor(size_t Count, float fMaxLoadFactor)
{
	return static_cast<size_t>(std::ceil(static_cast<double>(Count) / fMaxLoadFactor));
}
}

// Arrays

CArgumentArray::CArgumentArray()
	: CArgument(ARGUMENT_ARRAY), m_ppElements(m_rgpInline), m_Count(0), m_Capacity(INLINE_ELEMENTS),
	  m_pArrayView(nullptr)
{
}

CArgumentArray::CArgumentArray(size_t Capacity) : CArgumentArray()
{
	Reserve(Capacity);
}

CArgumentArray::~CArgumentArray()
{
	Clear();
}

void CArgumentArray::Reserve(size_t Capacity)
{
	if (Capacity <= m_Capacity)
		return;
	if (Capacity > SIZE_MAX / sizeof(CArgument*))
		throw std::bad_alloc();
	CArgument** ppElements = static_cast<CArgument**>(malloc(Capacity * sizeof(CArgument*)));
	if (!ppElements)
		throw std::bad_alloc();
	if (m_Count > 0)
		memcpy(ppElements, m_ppElements, m_Count * sizeof(CArgument*));
	if (m_ppElements != m_rgpInline)
		free(m_ppElements);
	m_ppElements = ppElements;
	m_Capacity = Capacity;
}

void CArgumentArray::Clear()
{
	// The array is empty before any element goes: releasing one may run code that reaches this array again.
	const size_t Count = m_Count;
	if (m_ppElements == m_rgpInline)
	{
		// Inline elements are taken one by one: a block copy of them would wait for the stores that just put them
		// there, on every call of a native.
		static_assert(INLINE_ELEMENTS == 4, "one local per inline element");
		CArgument* pFirst = Count > 0 ? m_rgpInline[0] : nullptr;
		CArgument* pSecond = Count > 1 ? m_rgpInline[1] : nullptr;
		CArgument* pThird = Count > 2 ? m_rgpInline[2] : nullptr;
		CArgument* pFourth = Count > 3 ? m_rgpInline[3] : nullptr;
		Reset();
		for (CArgument* pElement : {pFirst, pSecond, pThird, pFourth})
		{
			if (pElement)
				pElement->Release();
		}
		return;
	}
	CArgument** ppElements = m_ppElements;
	Reset();
	for (size_t i = 0; i < Count; i++)
	{
		if (ppElements[i])
			ppElements[i]->Release();
	}
	free(ppElements);
}

void CArgumentArray::Resize(size_t Count)
{
	Clear();
	Reserve(Count);
}

void CArgumentArray::Move(CArgumentArray* pTarget)
{
	if (pTarget == this)
		return;
	KASSERT(pTarget->GetArrayCount() == 0);
	pTarget->Clear();
	if (m_ppElements == m_rgpInline)
		memcpy(pTarget->m_rgpInline, m_rgpInline, m_Count * sizeof(CArgument*));
	else
	{
		pTarget->m_ppElements = m_ppElements;
		pTarget->m_Capacity = m_Capacity;
	}
	pTarget->m_Count = m_Count;
	Reset();
}

void CArgumentArray::Add(const CArgument* pValue)
{
	if (!KASSERT(pValue != nullptr))
	{
		AddUndefined();
		return;
	}
	MakeRoom();
	CArgument* pClone = pValue->Clone();
	if (!pClone)
		pClone = new CArgument(ARGUMENT_UNDEFINED);
	Append(pClone);
}

void CArgumentArray::AddNull()
{
	MakeRoom();
	Append(new CArgument(ARGUMENT_NIL));
}

void CArgumentArray::AddUndefined()
{
	MakeRoom();
	Append(new CArgument(ARGUMENT_UNDEFINED));
}

void CArgumentArray::AddBoolean(bool bValue)
{
	MakeRoom();
	Append(new CArgumentBoolean(bValue));
}

void CArgumentArray::AddString(const char* szText)
{
	AddString(szText, szText ? strlen(szText) : 0);
}

void CArgumentArray::AddString(const char* szText, size_t Length)
{
	MakeRoom();
	Append(new CArgumentString(szText, Length));
}

void CArgumentArray::AddBytes(const uint8_t* pData, size_t Length)
{
	MakeRoom();
	Append(new CArgumentBytes(pData, Length));
}

void CArgumentArray::AddVector2D(const CVector2D& vecValue)
{
	MakeRoom();
	Append(new CArgumentVector2D(vecValue));
}

void CArgumentArray::AddVector3D(const CVector3D& vecValue)
{
	MakeRoom();
	Append(new CArgumentVector3D(vecValue));
}

void CArgumentArray::AddMatrix4x4(const CMatrix4x4& matValue)
{
	MakeRoom();
	Append(new CArgumentMatrix4x4(matValue));
}

void CArgumentArray::AddObject(CBaseObject* pObject)
{
	MakeRoom();
	CArgument* pValue = CArgument::Create(pObject);
	if (!pValue)
		pValue = new CArgument(ARGUMENT_NIL);
	Append(pValue);
}

void CArgumentArray::InsertTo(CArgumentArray* pTarget) const
{
	if (pTarget == this)
		return;
	for (size_t i = 0; i < m_Count; i++)
		pTarget->Add(m_ppElements[i]);
}

CArgument* CArgumentArray::Clone() const
{
	CArgumentArray* pClone = new CArgumentArray(m_Count);
	pClone->SetResolver(GetResolver());
	InsertTo(pClone);
	return pClone;
}

bool CArgumentArray::Read(Stream* pStream)
{
	CEncodingLevel Level;
	if (!Level.IsAllowed())
		return false;

	uint8_t ucCount;
	if (pStream->Read(&ucCount, 1) != 1)
		ucCount = 0;
	CElementClaim Claim;
	if (!Claim.Claim(pStream, ucCount, MIN_ARRAY_ELEMENT_SIZE))
		return false;

	Resize(ucCount);
	for (unsigned i = 1; i <= ucCount; i++)
	{
		Claim.NextElement();
		uint8_t ucType;
		if (pStream->Read(&ucType, 1) != 1)
			return false;
		CArgument* pValue = CArgument::Create(ucType, GetResolver());
		if (!pValue)
		{
			WarnCreateFailed("CArgument::Create(%s) - Failed. (Argument %u of %u)", ucType, i, ucCount);
			return false;
		}
		if (!pValue->Read(pStream))
		{
			pValue->Release();
			return false;
		}
		// Resize made room for every element announced.
		Append(pValue);
	}
	return true;
}

bool CArgumentArray::GetSize(size_t& Size) const
{
	CEncodingLevel Level;
	if (!Level.IsAllowed() || m_Count > ARGUMENT_MAX_ENCODED_ARRAY_COUNT)
		return false;
	size_t Total = 1;
	for (size_t i = 0; i < m_Count; i++)
	{
		const CArgument* pValue = m_ppElements[i];
		size_t ElementSize;
		if (!GetElementSize(pValue, ElementSize))
			return false;
		Total += ElementSize;
	}
	Size = Total;
	return true;
}

bool CArgumentArray::Write(Stream* pStream) const
{
	CEncodingLevel Level;
	// The count is one byte: a longer array would announce fewer elements than follow it.
	if (!Level.IsAllowed() || m_Count > ARGUMENT_MAX_ENCODED_ARRAY_COUNT)
		return false;
	uint8_t ucCount = static_cast<uint8_t>(m_Count);
	if (pStream->Write(&ucCount, 1) != 1)
		return false;
	for (size_t i = 0; i < m_Count; i++)
	{
		if (!CArgument::WriteTyped(pStream, m_ppElements[i]))
			return false;
	}
	return true;
}

// Maps

CArgumentMap::CArgumentMap() : CArgument(ARGUMENT_MAP), m_pDictionaryView(nullptr)
{
	m_Entries.max_load_factor(1.0f);
}

CArgumentMap::CArgumentMap(size_t Count) : CArgument(ARGUMENT_MAP), m_pDictionaryView(nullptr)
{
	m_Entries.max_load_factor(1.0f);
	m_Entries.rehash(BucketsFor(Count, m_Entries.max_load_factor()));
}

CArgumentMap::~CArgumentMap()
{
	Clear();
}

void CArgumentMap::Clear()
{
	tEntries Entries;
	Entries.swap(m_Entries);
	m_Entries.max_load_factor(1.0f);
	for (auto& Entry : Entries)
	{
		if (Entry.second)
			Entry.second->Release();
	}
}

void CArgumentMap::Resize(size_t Count)
{
	Clear();
	m_Entries.rehash(BucketsFor(Count, m_Entries.max_load_factor()));
}

void CArgumentMap::Set(const char* szKey, CArgument* pValue)
{
	if (!KASSERT(szKey != nullptr))
	{
		if (pValue)
			pValue->Release();
		return;
	}
	auto It = m_Entries.find(szKey);
	if (It == m_Entries.end())
	{
		m_Entries.emplace(szKey, pValue);
		return;
	}
	if (It->second == pValue)
		return;
	CArgument* pOld = It->second;
	It->second = pValue;
	if (pOld)
		pOld->Release();
}

CArgument* CArgumentMap::Get(const char* szKey) const
{
	if (!szKey)
		return nullptr;
	auto It = m_Entries.find(szKey);
	return It == m_Entries.end() ? nullptr : It->second;
}

bool CArgumentMap::Remove(const char* szKey)
{
	if (!szKey)
		return false;
	auto It = m_Entries.find(szKey);
	if (It == m_Entries.end())
		return false;
	CArgument* pOld = It->second;
	m_Entries.erase(It);
	if (pOld)
		pOld->Release();
	return true;
}

CArgument* CArgumentMap::Clone() const
{
	CArgumentMap* pClone = new CArgumentMap(m_Entries.size());
	pClone->SetResolver(GetResolver());
	for (const auto& Entry : m_Entries)
	{
		CArgument* pValue = Entry.second ? Entry.second->Clone() : nullptr;
		if (!pValue)
			pValue = new CArgument(ARGUMENT_UNDEFINED);
		pClone->Set(Entry.first.c_str(), pValue);
	}
	return pClone;
}

bool CArgumentMap::Read(Stream* pStream)
{
	CEncodingLevel Level;
	if (!Level.IsAllowed())
		return false;

	size_t Count;
	bool bNothing;
	if (!KReadLengthPrefix(pStream, Count, &bNothing))
	{
		// A map whose count is simply absent reads as empty; a count that starts but is broken is an error.
		if (!bNothing)
			return false;
		Count = 0;
	}
	CElementClaim Claim;
	if (!Claim.Claim(pStream, Count, MIN_MAP_ENTRY_SIZE))
		return false;

	Resize(Count);
	std::string Key;
	for (size_t i = 0; i < Count; i++)
	{
		Claim.NextElement();
		uint8_t ucType;
		if (pStream->Read(&ucType, 1) != 1)
			return false;
		size_t KeyLength;
		if (!KReadLengthPrefix(pStream, KeyLength) || KeyLength > KGetRemainingBytes(pStream))
			return false;
		Key.resize(KeyLength);
		if (KeyLength && pStream->Read(&Key[0], KeyLength) != KeyLength)
			return false;

		CArgument* pValue = CArgument::Create(ucType, GetResolver());
		if (!pValue)
		{
			WarnCreateFailed(ucType);
			return false;
		}
		if (!pValue->Read(pStream))
		{
			pValue->Release();
			return false;
		}
		// Keys end at their first zero byte, as everywhere else in the map.
		Set(Key.c_str(), pValue);
	}
	return true;
}

bool CArgumentMap::GetSize(size_t& Size) const
{
	CEncodingLevel Level;
	if (!Level.IsAllowed() || m_Entries.size() > ARGUMENT_MAX_ENCODED_LENGTH)
		return false;
	size_t Total = KGetLengthPrefixSize(m_Entries.size());
	for (const auto& Entry : m_Entries)
	{
		size_t ElementSize;
		if (!Entry.second || !GetElementSize(Entry.second, ElementSize))
			return false;
		Total += ElementSize + KGetLengthPrefixSize(Entry.first.size()) + Entry.first.size();
	}
	Size = Total;
	return true;
}

bool CArgumentMap::Write(Stream* pStream) const
{
	CEncodingLevel Level;
	if (!Level.IsAllowed())
		return false;
	if (!KWriteLengthPrefix(pStream, m_Entries.size()))
		return false;
	for (const auto& Entry : m_Entries)
	{
		if (!Entry.second)
			return false;
		uint8_t ucType = Entry.second->GetType();
		if (pStream->Write(&ucType, 1) != 1)
			return false;
		if (!KWriteLengthPrefix(pStream, Entry.first.size()))
			return false;
		if (!Entry.first.empty() && pStream->Write(Entry.first.data(), Entry.first.size()) != Entry.first.size())
			return false;
		if (!Entry.second->Write(pStream))
			return false;
	}
	return true;
}
