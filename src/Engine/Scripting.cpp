#include <cstring>

#include "Engine/KestrinHash.h"
#include "Engine/KestrinNative.h"
#include "Engine/ModuleViews.h"

#define ARRAY_COUNT(a) (sizeof(a) / sizeof((a)[0]))

CScripting::CScripting()
	: m_pScriptingInterface(nullptr), m_VMCount(0), m_rgVMs(), m_Global("global"), m_pReflectionNamespace(nullptr),
	  m_pModuleNamespace(nullptr), m_pFunctionClass(nullptr), m_pTextReaderClass(nullptr), m_pDefineHandlers(nullptr)
{
	m_pReflectionNamespace = m_Global.AddNamespace("reflection");
	m_pModuleNamespace = m_Global.AddNamespace("module");
	m_pFunctionClass = m_pReflectionNamespace->NewClass("Function", nullptr);
}

CScripting::~CScripting()
{
	Kestrin3D::Interfaces::DetachView(m_pScriptingInterface);
	Kestrin3D::Interfaces::CModuleInterfaceImpl::DetachAll(this);
	// The languages' per-class data is released while the languages still exist.
	m_Global.Clear();
	m_pReflectionNamespace = nullptr;
	m_pModuleNamespace = nullptr;
	m_pFunctionClass = nullptr;
	m_pTextReaderClass = nullptr;
	for (size_t i = 0; i < m_VMCount; i++)
	{
		delete m_rgVMs[i].m_pVM;
		m_rgVMs[i].m_pVM = nullptr;
	}
	m_VMCount = 0;
}

uint32_t CScripting::GetLanguageId(const char* szName)
{
	return szName ? CRC32Hash::GetHash(szName, strlen(szName), false) : 0;
}

bool CScripting::AddVM(uint32_t uiId, CScriptingVM* pVM)
{
	if (!KASSERT(m_VMCount < ARRAY_COUNT(m_rgVMs)))
		return false;
	m_rgVMs[m_VMCount].m_uiId = uiId;
	m_rgVMs[m_VMCount].m_pVM = pVM;
	m_VMCount++;
	return true;
}

CScriptingVM* CScripting::GetVM(const char* szName) const
{
	if (!szName)
		return nullptr;
	return GetVM(GetLanguageId(szName));
}

CScriptingVM* CScripting::GetVM(uint32_t uiId) const
{
	for (size_t i = 0; i < m_VMCount; i++)
	{
		if (m_rgVMs[i].m_uiId == uiId)
			return m_rgVMs[i].m_pVM;
	}
	return nullptr;
}

void CScripting::CollectGarbage()
{
	for (size_t i = 0; i < m_VMCount; i++)
	{
		if (m_rgVMs[i].m_pVM)
			m_rgVMs[i].m_pVM->CollectGarbage();
	}
}

bool CScripting::DefineAllClasses()
{
	m_Global.Seal();
	for (size_t i = 0; i < m_VMCount; i++)
	{
		if (m_rgVMs[i].m_pVM && !m_rgVMs[i].m_pVM->DefineClasses())
			return false;
	}
	return true;
}
