#include "ServerConfiguration.h"

#include <cstdlib>

#include "Engine/Context.h"
#include "Engine/ElementChunk.h"
#include "Engine/KestrinString.h"

CServerConfiguration::CServerConfiguration(CElementChunk* pRoot) : m_pRoot(pRoot)
{
}

CServerConfiguration::~CServerConfiguration()
{
	delete m_pRoot;
}

const CElementChunk* CServerConfiguration::FindChild(const CElementChunk* pParent, const char* szName, size_t Start)
{
	if (!pParent)
		return nullptr;
	return static_cast<const CElementChunk*>(pParent->FindChunk(CHUNK_ELEMENT, Start, szName));
}

const char* CServerConfiguration::GetText(const CElementChunk* pElement)
{
	if (!pElement)
		return nullptr;
	const CArgumentString& Text = pElement->GetText();
	if (!Text.GetString() || Text.GetLength() == 0)
		return nullptr;
	return Text.GetString();
}

const CElementChunk* CServerConfiguration::FindElement(const char* szName) const
{
	return FindChild(m_pRoot, szName);
}

const char* CServerConfiguration::FindValue(const char* szName) const
{
	return GetText(FindElement(szName));
}

const char* CServerConfiguration::GetStringValue(const char* szName, const char* szDefault) const
{
	const char* szValue = FindValue(szName);
	return szValue ? szValue : szDefault;
}

int32_t CServerConfiguration::GetInt32Value(const char* szName, int32_t iDefault) const
{
	const char* szValue = FindValue(szName);
	return szValue ? static_cast<int32_t>(strtol(szValue, nullptr, 10)) : iDefault;
}

float CServerConfiguration::GetFloatValue(const char* szName, float fDefault) const
{
	const char* szValue = FindValue(szName);
	return szValue ? strtof(szValue, nullptr) : fDefault;
}

bool CServerConfiguration::GetBoolValue(const char* szName, bool bDefault) const
{
	bool bValue = bDefault;
	const char* szValue = FindValue(szName);
	if (szValue && StringManager::ToBoolean(szValue, &bValue))
		return bValue;
	return bDefault;
}

bool CServerConfiguration::GetAttributePair(Context* pContext, const CElementChunk* pEntry, const char* szWhat,
	const char* szFirst, const char* szSecond, const char*& szFirstValue, const char*& szSecondValue)
{
	szFirstValue = pEntry->Attribute(szFirst);
	szSecondValue = pEntry->Attribute(szSecond);
	if (!szFirstValue)
		pContext->LogError("%s in config without %s attribute!", szWhat, szFirst);
	else if (!szSecondValue)
		pContext->LogError("%s %s in config without %s attribute!", szWhat, szFirstValue, szSecond);
	return szFirstValue && szSecondValue;
}
