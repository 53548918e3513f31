#include "SqFixture.h"

namespace
{
bool WhoCalls(CNativeState* pState, int, void* pUserData)
{
	static_cast<std::vector<CResource*>*>(pUserData)->push_back(pState->GetResource());
	return true;
}
}

SqFixture::SqFixture() : ScriptHostFixture("test.nut", TestNatives::GiveCopy)
{
	m_Scripting.RegisterReflectionFunctions();
	ReflectedNamespace* pGlobal = m_Scripting.GetGlobal();
	pGlobal->RegisterFunction("whoCalls", "", WhoCalls, &m_CallingResources);
	m_pOpaqueClass = pGlobal->NewClass("Opaque");
	m_pOpaqueClass->RegisterFunction("getValue", "t", TestNatives::ThingGetValue);
	pGlobal->RegisterFunction("makeOpaque", "i", TestNatives::MakeThing, m_pOpaqueClass);

	CSqScripting* pLanguage = new CSqScripting(&m_Scripting);
	if (!pLanguage->IsOpen() || !m_Scripting.AddVM(pLanguage->GetLanguageId(), pLanguage))
	{
		ADD_FAILURE() << "no language";
		delete pLanguage;
		return;
	}
	OpenEnvironment(pLanguage);
}
