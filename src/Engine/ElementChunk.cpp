#include "Engine/ElementChunk.h"
#include "Engine/KestrinStream.h"

CElementChunk::CElementChunk() : CChunk(CHUNK_ELEMENT)
{
}

CElementChunk::~CElementChunk() = default;

CElementChunk* CElementChunk::Load(Stream* pStream)
{
	long lStart = pStream->Tell();
	{
		CRootChunk Root;
		if (Root.ReadFile(pStream))
		{
			CElementChunk* pElement = dynamic_cast<CElementChunk*>(Root.GetChild(0));
			if (!pElement || pElement->GetType() != CHUNK_ELEMENT)
				return nullptr;
			pElement->Orphan();
			return pElement;
		}
	}
	// Anything that is not a complete chunk file is tried as XML text from where it began.
	if (!pStream->Seek(lStart, 0))
		return nullptr;
	return LoadXML(pStream);
}

const char* CElementChunk::Attribute(const char* szName, size_t* pLength) const
{
	const CArgument* pValue = m_Attributes.Get(szName);
	if (!pValue || !pValue->IsString())
		return nullptr;
	return pValue->ToString(pLength);
}

bool CElementChunk::ReadData(Stream* pData)
{
	return m_Text.Read(pData) && m_Attributes.Read(pData);
}

bool CElementChunk::WriteData(Stream* pStream)
{
	return m_Text.Write(pStream) && m_Attributes.Write(pStream);
}

CElementChunk* CElementChunk::GetChildElement(size_t Index) const
{
	CChunk* pChild = GetChild(Index);
	if (!pChild || pChild->GetType() != CHUNK_ELEMENT)
		return nullptr;
	return dynamic_cast<CElementChunk*>(pChild);
}
