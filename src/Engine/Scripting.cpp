#include <cstring>
#include <vector>

#include "Engine/KError.h"
#include "Engine/KestrinHash.h"
#include "Engine/KestrinNative.h"
#include "Engine/ModuleViews.h"

#define ARRAY_COUNT(a) (sizeof(a) / sizeof((a)[0]))

namespace
{
const char* const STOPPED_RESOURCE = "The calling resource has stopped";
const char* const SHUTTING_DOWN = "Scripting is shutting down";

// Environments by handle. A handle is a slot index in its low 32 bits and the slot's generation in the high ones;
// freeing a slot moves its generation on, so an old handle never names the slot's next environment. Main thread
// only, as every environment.
struct tEnvironmentSlot
{
	CScriptEnvironment* m_pEnvironment;
	uint32_t m_uiGeneration;
};

struct tEnvironmentSlots
{
	std::vector<tEnvironmentSlot> m_Slots;
	std::vector<uint32_t> m_Free;
};

// Made on first use and never freed: an environment may still go after the statics of this unit have gone.
tEnvironmentSlots& GetEnvironmentSlots()
{
	static tEnvironmentSlots* s_pSlots = new tEnvironmentSlots;
	return *s_pSlots;
}

static_assert(sizeof(uintptr_t) == 8, "a handle holds a 32-bit index and a 32-bit generation");

uintptr_t MakeHandle(uint32_t uiIndex, uint32_t uiGeneration)
{
	return (static_cast<uintptr_t>(uiGeneration) << 32) | uiIndex;
}

uintptr_t TakeEnvironmentSlot(CScriptEnvironment* pEnvironment)
{
	tEnvironmentSlots& Slots = GetEnvironmentSlots();
	uint32_t uiIndex;
	if (!Slots.m_Free.empty())
	{
		uiIndex = Slots.m_Free.back();
		Slots.m_Free.pop_back();
	}
	else
	{
		uiIndex = static_cast<uint32_t>(Slots.m_Slots.size());
		// Generations start at 1: no handle is 0.
		Slots.m_Slots.push_back(tEnvironmentSlot{nullptr, 1});
	}
	Slots.m_Slots[uiIndex].m_pEnvironment = pEnvironment;
	return MakeHandle(uiIndex, Slots.m_Slots[uiIndex].m_uiGeneration);
}

void FreeEnvironmentSlot(uintptr_t Handle)
{
	tEnvironmentSlots& Slots = GetEnvironmentSlots();
	const uint32_t uiIndex = static_cast<uint32_t>(Handle);
	if (uiIndex >= Slots.m_Slots.size())
		return;
	tEnvironmentSlot& Slot = Slots.m_Slots[uiIndex];
	Slot.m_pEnvironment = nullptr;
	// A slot whose generation would wrap round is never used again rather than name an old handle's environment.
	if (++Slot.m_uiGeneration != 0)
		Slots.m_Free.push_back(uiIndex);
}
}

CScriptEnvironment::CScriptEnvironment() : m_pResource(nullptr), m_Handle(TakeEnvironmentSlot(this)), m_bEnded(false)
{
}

CScriptEnvironment::~CScriptEnvironment()
{
	FreeEnvironmentSlot(m_Handle);
}

CScriptEnvironment* CScriptEnvironment::FromHandle(uintptr_t Handle)
{
	const tEnvironmentSlots& Slots = GetEnvironmentSlots();
	const uint32_t uiIndex = static_cast<uint32_t>(Handle);
	if (uiIndex >= Slots.m_Slots.size())
		return nullptr;
	const tEnvironmentSlot& Slot = Slots.m_Slots[uiIndex];
	return Slot.m_uiGeneration == static_cast<uint32_t>(Handle >> 32) ? Slot.m_pEnvironment : nullptr;
}

bool CScripting::RefuseCaller() const
{
	SetError("%s", m_bClosed ? SHUTTING_DOWN : STOPPED_RESOURCE);
	return false;
}

CScripting::CScripting()
	: m_pScriptingInterface(nullptr), m_VMCount(0), m_rgVMs(), m_Global("global"), m_pReflectionNamespace(nullptr),
	  m_pModuleNamespace(nullptr), m_pFunctionClass(nullptr), m_pTextReaderClass(nullptr), m_pDefineHandlers(nullptr),
	  m_bClosed(false)
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
