#include "Engine/Config.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "Engine/KestrinHash.h"
#include "Engine/KestrinStream.h"

namespace
{
uint32_t KeyOfName(const char* szName)
{
	return CRC32Hash::GetHash(szName, strlen(szName), true);
}

// Unsigned variable-length number: 7 bits per byte, low group first, high bit set on every byte but the last.
void AppendVarLength(std::string& Out, size_t Value)
{
	while (Value >= 0x80)
	{
		Out.push_back(static_cast<char>((Value & 0x7F) | 0x80));
		Value >>= 7;
	}
	Out.push_back(static_cast<char>(Value));
}

void AppendWireString(std::string& Out, const char* szText)
{
	size_t Length = strlen(szText);
	AppendVarLength(Out, Length);
	Out.append(szText, Length);
}
}

CVar::~CVar()
{
	free(m_szName);
	free(m_szValue);
}

CVarSystem::~CVarSystem()
{
	Clear();
}

bool CVarSystem::Set(const char* szName, const char* szValue)
{
	if (szName == nullptr || szValue == nullptr)
		return false;
	uint32_t uiKey = KeyOfName(szName);
	char* szValueCopy = strdup(szValue);
	if (szValueCopy == nullptr)
		return false;

	auto It = m_Vars.find(uiKey);
	if (It != m_Vars.end())
	{
		free(It->second->m_szValue);
		It->second->m_szValue = szValueCopy;
		return true;
	}

	char* szNameCopy = strdup(szName);
	if (szNameCopy == nullptr)
	{
		free(szValueCopy);
		return false;
	}
	m_Vars.emplace(uiKey, std::unique_ptr<CVar>(new CVar(uiKey, szNameCopy, szValueCopy)));
	return true;
}

CVar* CVarSystem::Find(const char* szName) const
{
	if (szName == nullptr)
		return nullptr;
	return Find(KeyOfName(szName));
}

CVar* CVarSystem::Find(uint32_t uiKey) const
{
	auto It = m_Vars.find(uiKey);
	return It != m_Vars.end() ? It->second.get() : nullptr;
}

bool CVarSystem::Serialise(Stream* pStream) const
{
	if (pStream == nullptr || m_Vars.size() > 0xFFFF)
		return false;

	// The table is built whole first so that a stream that refuses part of it is reported rather than
	// left holding a table a client would misread.
	std::string Out;
	Out.push_back(static_cast<char>(m_Vars.size() & 0xFF));
	Out.push_back(static_cast<char>((m_Vars.size() >> 8) & 0xFF));
	std::string Block;
	for (const auto& Entry : m_Vars)
	{
		Block.clear();
		AppendWireString(Block, Entry.second->GetName());
		AppendWireString(Block, Entry.second->GetValue());
		AppendVarLength(Out, Block.size());
		Out += Block;
	}
	return pStream->Write(Out.data(), Out.size()) == Out.size();
}

void CVarSystem::Clear()
{
	m_Vars.clear();
}

CConfig::CConfigEntry::CConfigEntry(StringCallback pCallback) :
	m_pUserData(nullptr), m_eKind(KIND_STRING), m_pStringCallback(pCallback)
{
}

CConfig::CConfigEntry::CConfigEntry(BooleanCallback pCallback) :
	m_pUserData(nullptr), m_eKind(KIND_BOOLEAN), m_pBooleanCallback(pCallback)
{
}

CConfig::CConfigEntry::CConfigEntry(IntegerCallback pCallback) :
	m_pUserData(nullptr), m_eKind(KIND_INTEGER), m_pIntegerCallback(pCallback)
{
}

CConfig::~CConfig()
{
	m_Entries.clear();
}

bool CConfig::RegisterCallback(const char* szName, void* pUserData, StringCallback pCallback)
{
	return RegisterCommand(szName, pUserData, std::make_unique<CConfigEntry>(pCallback));
}

bool CConfig::RegisterCallback(const char* szName, void* pUserData, BooleanCallback pCallback)
{
	return RegisterCommand(szName, pUserData, std::make_unique<CConfigEntry>(pCallback));
}

bool CConfig::RegisterCallback(const char* szName, void* pUserData, IntegerCallback pCallback)
{
	return RegisterCommand(szName, pUserData, std::make_unique<CConfigEntry>(pCallback));
}

bool CConfig::RegisterCommand(const char* szName, void* pUserData, std::unique_ptr<CConfigEntry> pEntry)
{
	if (szName == nullptr || pEntry == nullptr)
		return false;
	pEntry->m_pUserData = pUserData;
	// Assigning over an existing key deletes the entry registered before.
	m_Entries[KeyOfName(szName)] = std::move(pEntry);
	return true;
}

const CConfig::CConfigEntry* CConfig::FindEntry(const char* szName) const
{
	if (szName == nullptr)
		return nullptr;
	auto It = m_Entries.find(KeyOfName(szName));
	return It != m_Entries.end() ? It->second.get() : nullptr;
}
