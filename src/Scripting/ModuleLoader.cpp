// Loading, unregistering and closing the server's native plug-in modules.

#include <dlfcn.h>

#include <cstring>
#include <string>

#include "Engine/Context.h"
#include "Engine/ModuleViews.h"
#include "Scripting/ResourceMgr.h"

using Kestrin3D::Interfaces::CModuleInterfaceImpl;
using Kestrin3D::Interfaces::IModuleInterface;

namespace
{
typedef intptr_t (*RegisterModuleFunction)(void* pNamespace, IModuleInterface* pInterface);
typedef void (*UnregisterModuleFunction)(intptr_t Value);

// An export by its plain name, else by the name with a leading underscore.
void* FindExport(void* pLibrary, const char* szName)
{
	if (void* pSymbol = dlsym(pLibrary, szName))
		return pSymbol;
	const std::string Prefixed = std::string("_") + szName;
	return dlsym(pLibrary, Prefixed.c_str());
}

// The part of the source after its last '/' or '\'.
const char* GetDisplayName(const char* szSource)
{
	const char* szName = szSource;
	for (const char* p = szSource; *p; p++)
	{
		if (*p == '/' || *p == '\\')
			szName = p + 1;
	}
	return szName;
}
}

bool CResourceMgr::LoadModule(const char* szSource)
{
	if (!szSource)
		return false;
	const char* szDisplayName = GetDisplayName(szSource);
	// A bare name is searched on the loader's library path, as dlopen does.
	const std::string Path = std::string(szSource) + ".so";
	void* pLibrary = dlopen(Path.c_str(), RTLD_NOW);
	if (!pLibrary)
	{
		const char* szReason = dlerror();
		m_pContext->LogWarn("Module %s failed to load!", szDisplayName);
		if (szReason)
			m_pContext->LogWarn("%s", szReason);
		return false;
	}

	RegisterModuleFunction pfnRegister =
		reinterpret_cast<RegisterModuleFunction>(FindExport(pLibrary, "RegisterModule"));
	const char* const* ppszName = static_cast<const char* const*>(FindExport(pLibrary, "MODULE_NAME"));
	if (!pfnRegister)
	{
		m_pContext->LogWarn("'RegisterModule' undefined in module %s!", szDisplayName);
		dlclose(pLibrary);
		return false;
	}

	// An exported name that points nowhere is no name.
	ReflectedNamespace* pNamespace = nullptr;
	if (ppszName && *ppszName)
	{
		pNamespace = m_pScripting->GetModuleNamespace()->AddNamespace(*ppszName);
		pNamespace->m_bModuleMade = true;
	}

	CModuleInterfaceImpl* pInterface = new CModuleInterfaceImpl(m_pScripting);
	pInterface->SetExportedNamespace(pNamespace);
	intptr_t Value = pfnRegister(pNamespace, pInterface);
	if (pInterface->HasFailed())
	{
		m_pContext->LogWarn("Module %s failed to register: %s", szDisplayName, pInterface->GetFailure());
		pInterface->Release();
		// The library stays open: what the module registered before it failed may point into it. It is not
		// unregistered either, as it never was registered.
		return false;
	}
	m_Modules.push_back(tModuleRecord{pNamespace, pLibrary, Value});
	pInterface->Release();
	return true;
}

void CResourceMgr::UnregisterModules()
{
	for (const tModuleRecord& Module : m_Modules)
	{
		if (!Module.m_pLibrary)
			continue;
		if (void* pSymbol = FindExport(Module.m_pLibrary, "UnregisterModule"))
			reinterpret_cast<UnregisterModuleFunction>(pSymbol)(Module.m_Value);
	}
}

void CResourceMgr::CloseModuleLibraries()
{
	for (const tModuleRecord& Module : m_Modules)
	{
		if (Module.m_pLibrary)
			dlclose(Module.m_pLibrary);
	}
	m_Modules.clear();
}
