#include "JSFixture.h"

namespace
{
// The engine starts once per process and shuts down after the last test.
class CJSEngineEnvironment : public ::testing::Environment
{
public:
	void SetUp() override { ASSERT_EQ(nullptr, CJSScripting::InitialiseEngine()); }
	void TearDown() override { CJSScripting::ShutDownEngine(); }
};

const ::testing::Environment* const g_pEngineEnvironment = ::testing::AddGlobalTestEnvironment(new CJSEngineEnvironment);

bool SharedConstructor(CNativeState* pState, int, void* pUserData)
{
	Strong<CArgument>* ppGive = static_cast<Strong<CArgument>*>(pUserData);
	if (!ppGive->IsNull())
		pState->Return(*ppGive);
	return true;
}
}

JSFixture::JSFixture() : ScriptHostFixture("test.js", TestNatives::GiveItself)
{
	ReflectedClass* pShared = m_Scripting.GetGlobal()->NewClass("Shared", m_pThingClass);
	pShared->RegisterConstructor("t", SharedConstructor, &m_pGive);

	CJSScripting* pLanguage = CJSScripting::Create(&m_Scripting);
	if (pLanguage == nullptr)
	{
		ADD_FAILURE() << "no language";
		return;
	}
	m_Scripting.AddVM(pLanguage->GetId(), pLanguage);
	OpenEnvironment(pLanguage);
}
