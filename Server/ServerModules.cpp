// The `modules` element of the configuration: each `module` child names a native plug-in module to load.

#include "BaseServer.h"
#include "ServerConfiguration.h"
#include "Engine/Context.h"
#include "Engine/ElementChunk.h"

void CBaseServer::LoadModules(const CElementChunk* pModules)
{
	if (!pModules)
		return;
	m_pContext->Log("Loading modules...");
	int iSeen = 0;
	int iLoaded = 0;
	int iFailed = 0;
	CServerConfiguration::ForEachChild(pModules, "module", [&](const CElementChunk* pModule) {
		iSeen++;
		const char* szSource = pModule->Attribute("src");
		if (!szSource)
		{
			m_pContext->LogError("Error loading module: attribute src not defined!");
			iFailed++;
		}
		else if (m_ResourceMgr.LoadModule(szSource))
		{
			m_pContext->Log("Loaded module %s", szSource);
			iLoaded++;
		}
		else
		{
			m_pContext->LogError("Error loading module %s!", szSource);
			iFailed++;
		}
	});
	m_pContext->LogMessage(iFailed > 0 ? LOGTYPE_WARN : LOGTYPE_INFO, "%i/%i Modules loaded, %i failed", iLoaded,
		iSeen, iFailed);
}
