#include "Multiplayer/NetObjectMgr.h"

#include "Engine/Reflection.h"
#include "Engine/ScriptFunction.h"
#include "Scripting/ResourceMgr.h"

void CNetObjectMgr::RegisterFunctions()
{
	CScripting* pScripting = m_pResourceMgr ? m_pResourceMgr->GetScripting() : nullptr;
	if (!pScripting)
		return;
	ReflectedNamespace* pGlobal = pScripting->GetGlobal();
	m_pClientClass = pGlobal->NewClass("Client");
	m_pElementClass = pGlobal->NewClass("Element");
	m_pNetObjectFlagsClass = pGlobal->NewClass("NetObjectFlags");
}
