// The interfaces that belong to a module as a whole: its module interface, the view of the script-language
// registry and the view of the constants registry.

#include <algorithm>
#include <cstdio>
#include <vector>

#include "Engine/Context.h"
#include "Engine/Defines.h"
#include "Engine/KError.h"
#include "Engine/KestrinString.h"
#include "ViewBase.h"

namespace Kestrin3D
{
namespace Interfaces
{
namespace
{
constexpr uint32_t API_VERSION_MAJOR = 1;
constexpr uint32_t API_VERSION_MINOR = 1;

// Every module interface alive, so that the registry can detach them all as it goes.
std::vector<CModuleInterfaceImpl*>& GetLiveInterfaces()
{
	static std::vector<CModuleInterfaceImpl*> s_Interfaces;
	return s_Interfaces;
}

struct tScriptingSlot
{
	static IScripting* Load(CScripting* pScripting) { return pScripting->m_pScriptingInterface; }
	static void Store(CScripting* pScripting, IScripting* pView) { pScripting->m_pScriptingInterface = pView; }
};

class CScriptingImpl final : public CCachedView<CScriptingImpl, IScripting, CScripting, tScriptingSlot, false>
{
public:
	explicit CScriptingImpl(CScripting* pScripting) : CCachedView(pScripting) {}

	Result GetInterface(const tUUID& Id, void** ppOut) override
	{
		return AnswerOwnInterface<IScripting>(this, Id, ID_Scripting, ppOut);
	}

	Result GetGlobal(IReflectedNamespace** ppOut) override
	{
		if (!ppOut)
			return RESULT_NULL_ARGUMENT;
		return AnswerView(m_pObject ? GetView(m_pObject->GetGlobal()) : nullptr, reinterpret_cast<void**>(ppOut),
			RESULT_NOT_FOUND);
	}

	Result CollectGarbage() override
	{
		if (!m_pObject)
			return RESULT_NOT_FOUND;
		m_pObject->CollectGarbage();
		return RESULT_OK;
	}

	Result GetDefineHandlers(IDefineHandlers** ppOut) override
	{
		if (!ppOut)
			return RESULT_NULL_ARGUMENT;
		CDefineHandlers* pDefines = m_pObject ? m_pObject->GetDefineHandlers() : nullptr;
		return AnswerView(GetView(pDefines), reinterpret_cast<void**>(ppOut), RESULT_NOT_FOUND);
	}
};

struct tDefinesSlot
{
	static IDefineHandlers* Load(CDefineHandlers* pDefines) { return pDefines->GetModuleInterface(); }
	static void Store(CDefineHandlers* pDefines, IDefineHandlers* pView) { pDefines->SetModuleInterface(pView); }
};

class CDefineHandlersImpl final
	: public CCachedView<CDefineHandlersImpl, IDefineHandlers, CDefineHandlers, tDefinesSlot, false>
{
public:
	explicit CDefineHandlersImpl(CDefineHandlers* pDefines) : CCachedView(pDefines) {}

	Result GetInterface(const tUUID& Id, void** ppOut) override
	{
		return AnswerOwnInterface<IDefineHandlers>(this, Id, ID_DefineHandlers, ppOut);
	}

	Result DefineSigned(const char* szName, int32_t iValue) override
	{
		if (!szName)
			return RESULT_NULL_ARGUMENT;
		if (!m_pObject)
			return RESULT_NOT_FOUND;
		m_pObject->Define(szName, static_cast<int>(iValue));
		return RESULT_OK;
	}

	Result DefineUnsigned(const char* szName, uint32_t uiValue) override
	{
		if (!szName)
			return RESULT_NULL_ARGUMENT;
		if (!m_pObject)
			return RESULT_NOT_FOUND;
		m_pObject->Define(szName, static_cast<unsigned>(uiValue));
		return RESULT_OK;
	}
};
}

IScripting* GetView(CScripting* pScripting)
{
	return CScriptingImpl::ViewOf(pScripting);
}

IDefineHandlers* GetView(CDefineHandlers* pDefines)
{
	return CDefineHandlersImpl::ViewOf(pDefines);
}

CScripting* Unwrap(IScripting* pView)
{
	return CScriptingImpl::Unwrap(pView);
}

void DetachView(IScripting* pView)
{
	CScriptingImpl::Detach(pView);
}

void DetachView(IDefineHandlers* pView)
{
	CDefineHandlersImpl::Detach(pView);
}

CModuleInterfaceImpl::CModuleInterfaceImpl(CScripting* pScripting)
	: m_iRefCount(1), m_pScripting(pScripting), m_pNamespace(nullptr), m_pExportedNamespace(nullptr), m_bFailed(false),
	  m_szFailure()
{
	ScriptFunction::SetModuleCaller(CallModuleNative);
	GetLiveInterfaces().push_back(this);
}

CModuleInterfaceImpl::~CModuleInterfaceImpl()
{
	std::vector<CModuleInterfaceImpl*>& Live = GetLiveInterfaces();
	Live.erase(std::remove(Live.begin(), Live.end(), this), Live.end());
}

void CModuleInterfaceImpl::DetachAll(CScripting* pScripting)
{
	for (CModuleInterfaceImpl* pInterface : GetLiveInterfaces())
	{
		if (pInterface->m_pScripting == pScripting)
		{
			pInterface->m_pScripting = nullptr;
			pInterface->m_pNamespace = nullptr;
			pInterface->m_pExportedNamespace = nullptr;
		}
	}
}

Result CModuleInterfaceImpl::GetInterface(const tUUID& Id, void** ppOut)
{
	if (!ppOut)
		return RESULT_NULL_ARGUMENT;
	if (Id == ID_ModuleInterface)
		return AnswerSelf<IModuleInterface>(this, ppOut);
	return RESULT_NOT_FOUND;
}

int32_t CModuleInterfaceImpl::AddRef()
{
	return ++m_iRefCount;
}

int32_t CModuleInterfaceImpl::Release()
{
	if (m_iRefCount > 1)
		return --m_iRefCount;
	m_iRefCount = 0;
	delete this;
	return 0;
}

void CModuleInterfaceImpl::GetAPIVersion(uint32_t& uiMajor, uint32_t& uiMinor)
{
	uiMajor = API_VERSION_MAJOR;
	uiMinor = API_VERSION_MINOR;
}

Result CModuleInterfaceImpl::CreateInstance(const tUUID& Id, void** ppOut)
{
	if (!ppOut)
		return RESULT_NULL_ARGUMENT;
	if (Id == ID_BaseObject)
		return AnswerView(CreatePlainObject(), ppOut, RESULT_NO_VALUE);
	if (Id == ID_ArgumentFactory)
		return AnswerView(CreateArgumentFactory(), ppOut, RESULT_NO_VALUE);
	return RESULT_NOT_FOUND;
}

Result CModuleInterfaceImpl::GetScripting(IScripting** ppOut)
{
	if (!ppOut)
		return RESULT_NULL_ARGUMENT;
	return AnswerView(GetView(m_pScripting), reinterpret_cast<void**>(ppOut), RESULT_NOT_FOUND);
}

Result CModuleInterfaceImpl::GetNamespace(IReflectedNamespace** ppOut)
{
	if (!ppOut)
		return RESULT_NULL_ARGUMENT;
	ReflectedNamespace* pNamespace = m_pNamespace ? m_pNamespace : m_pExportedNamespace;
	if (!pNamespace)
	{
		*ppOut = nullptr;
		SetError("Module not registered");
		return RESULT_FAILED;
	}
	*ppOut = GetView(pNamespace);
	return RESULT_OK;
}

Result CModuleInterfaceImpl::SetInternalName(const char* szName)
{
	if (!szName)
		return RESULT_NULL_ARGUMENT;
	if (m_pNamespace)
	{
		SetError("Module already registered");
		return RESULT_FAILED;
	}
	// Found or made as a module's own AddNamespace would: once the languages have bound the registry, no new one.
	IReflectedNamespace* pParent = GetView(m_pScripting ? m_pScripting->GetModuleNamespace() : nullptr);
	if (!pParent)
		return RESULT_NOT_FOUND;
	IReflectedNamespace* pChild = nullptr;
	Result Outcome = pParent->AddNamespace(szName, &pChild);
	pParent->Release();
	if (Outcome != RESULT_OK)
		return Outcome;
	m_pNamespace = Interfaces::Unwrap(pChild);
	pChild->Release();
	return RESULT_OK;
}

Result CModuleInterfaceImpl::Log(uint32_t uiLevel, const char* szText)
{
	if (!szText)
		return RESULT_NULL_ARGUMENT;
	if (uiLevel > LOGTYPE_CRITICAL)
		return RESULT_OUT_OF_RANGE;
	if (Context* pContext = KGlobal::GetContext())
		pContext->LogMessage(static_cast<eLogType>(uiLevel), "%s", szText);
	return RESULT_OK;
}

Result CModuleInterfaceImpl::SetError(const char* szText)
{
	const char* szSafe = szText ? szText : "";
	::SetError("%s", szSafe);
	_strlcpy(m_szFailure, szSafe, sizeof(m_szFailure));
	m_bFailed = true;
	return RESULT_OK;
}

const char* CModuleInterfaceImpl::GetError()
{
	static char s_szText[KERROR_TEXT_SIZE];
	_strlcpy(s_szText, g_szError, sizeof(s_szText));
	return s_szText;
}
}
}
