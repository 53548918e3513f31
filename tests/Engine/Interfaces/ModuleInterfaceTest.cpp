// The interfaces of a module as a whole: its module interface, the script-language registry's view and the
// constants registry's view, with the reference counting of cached views and what happens to views a module
// still holds when the registry goes.

#include "ModuleFixture.h"

#include <string>

using CModuleInterfaceTest = CModuleFixture;

TEST_F(CModuleInterfaceTest, ReportsVersionOneDotOne)
{
	uint32_t uiMajor = 0;
	uint32_t uiMinor = 0;
	m_pModule->GetAPIVersion(uiMajor, uiMinor);
	EXPECT_EQ(uiMajor, 1u);
	EXPECT_EQ(uiMinor, 1u);
}

TEST_F(CModuleInterfaceTest, AnswersOnlyItsOwnIdAndLeavesTheOutputOtherwise)
{
	void* pOut = this;
	EXPECT_EQ(m_pModule->GetInterface(ID_Scripting, &pOut), RESULT_NOT_FOUND);
	EXPECT_EQ(pOut, this);
	EXPECT_EQ(m_pModule->GetInterface(ID_ModuleInterface, nullptr), RESULT_NULL_ARGUMENT);
	ASSERT_EQ(m_pModule->GetInterface(ID_ModuleInterface, &pOut), RESULT_OK);
	EXPECT_EQ(pOut, static_cast<IModuleInterface*>(m_pModule));
	EXPECT_EQ(m_pModule->Release(), 1);

	EXPECT_EQ(m_pModule->CreateInstance(ID_Scripting, nullptr), RESULT_NULL_ARGUMENT);
	EXPECT_EQ(m_pModule->CreateInstance(ID_Scripting, &pOut), RESULT_NOT_FOUND);
}

TEST_F(CModuleInterfaceTest, TheRegistryViewIsCachedUntilItsLastRelease)
{
	EXPECT_EQ(m_pModule->GetScripting(nullptr), RESULT_NULL_ARGUMENT);
	IScripting* pFirst = nullptr;
	IScripting* pSecond = nullptr;
	ASSERT_EQ(m_pModule->GetScripting(&pFirst), RESULT_OK);
	ASSERT_EQ(m_pModule->GetScripting(&pSecond), RESULT_OK);
	EXPECT_EQ(pFirst, pSecond);
	EXPECT_EQ(m_Scripting.m_pScriptingInterface, pFirst);
	EXPECT_EQ(pFirst->Release(), 1);
	EXPECT_EQ(pSecond->Release(), 0);
	EXPECT_EQ(m_Scripting.m_pScriptingInterface, nullptr);

	CHeld<IScripting> Third;
	ASSERT_EQ(m_pModule->GetScripting(Third.Out()), RESULT_OK);
	EXPECT_EQ(m_Scripting.m_pScriptingInterface, Third.Get());
	EXPECT_EQ(Unwrap(Third.Get()), &m_Scripting);
}

TEST_F(CModuleInterfaceTest, TheNamespaceMustBeNamedFirstAndOnlyOnce)
{
	CHeld<IReflectedNamespace> Namespace;
	EXPECT_EQ(m_pModule->GetNamespace(Namespace.Out()), RESULT_FAILED);
	EXPECT_EQ(Namespace.Get(), nullptr);
	EXPECT_TRUE(m_pModule->HasFailed());
	EXPECT_STREQ(m_pModule->GetFailure(), "Module not registered");
	EXPECT_STREQ(g_szError, "Module not registered");

	EXPECT_EQ(m_pModule->SetInternalName(nullptr), RESULT_NULL_ARGUMENT);
	ASSERT_EQ(m_pModule->SetInternalName("mine"), RESULT_OK);
	ASSERT_EQ(m_pModule->GetNamespace(Namespace.Out()), RESULT_OK);
	EXPECT_EQ(Unwrap(Namespace.Get()), m_Scripting.GetModuleNamespace()->GetNamespace("mine"));
	EXPECT_STREQ(Namespace->GetName(), "mine");

	EXPECT_EQ(m_pModule->SetInternalName("other"), RESULT_FAILED);
	EXPECT_STREQ(m_pModule->GetFailure(), "Module already registered");
	EXPECT_EQ(m_Scripting.GetModuleNamespace()->GetNamespace("other"), nullptr);
}

TEST_F(CModuleInterfaceTest, NamingReusesAnExistingNamespaceUnderModule)
{
	ReflectedNamespace* pExisting = m_Scripting.GetModuleNamespace()->AddNamespace("shared");
	ASSERT_EQ(m_pModule->SetInternalName("shared"), RESULT_OK);
	CHeld<IReflectedNamespace> Namespace;
	ASSERT_EQ(m_pModule->GetNamespace(Namespace.Out()), RESULT_OK);
	EXPECT_EQ(Unwrap(Namespace.Get()), pExisting);
	EXPECT_EQ(m_Scripting.GetModuleNamespace()->GetNamespaces().size(), 1u);
	EXPECT_FALSE(m_pModule->HasFailed());
}

TEST_F(CModuleInterfaceTest, TheExportedNameServesUntilTheModuleNamesItsOwn)
{
	ReflectedNamespace* pExported = m_Scripting.GetModuleNamespace()->AddNamespace("exported");
	m_pModule->SetExportedNamespace(pExported);
	CHeld<IReflectedNamespace> Namespace;
	ASSERT_EQ(m_pModule->GetNamespace(Namespace.Out()), RESULT_OK);
	EXPECT_EQ(Unwrap(Namespace.Get()), pExported);

	ASSERT_EQ(m_pModule->SetInternalName("own"), RESULT_OK);
	ASSERT_EQ(m_pModule->GetNamespace(Namespace.Out()), RESULT_OK);
	EXPECT_STREQ(Namespace->GetName(), "own");
	EXPECT_FALSE(m_pModule->HasFailed());
}

TEST_F(CModuleInterfaceTest, LogWritesAtTheGivenLevelAndRefusesOthers)
{
	m_Log.Skip();
	EXPECT_EQ(m_pModule->Log(4, "careful %s"), RESULT_OK);
	EXPECT_EQ(m_pModule->Log(7, "too high"), RESULT_OUT_OF_RANGE);
	EXPECT_EQ(m_pModule->Log(3, nullptr), RESULT_NULL_ARGUMENT);
	EXPECT_TRUE(m_Log.HasLine("[WARN]    careful %s")) << m_Log.Text();
	EXPECT_EQ(m_Log.Text().find("too high"), std::string::npos);
}

TEST_F(CModuleInterfaceTest, SetErrorKeepsTheTextVerbatimAndGetErrorCopiesTheLastError)
{
	EXPECT_EQ(m_pModule->SetError("100% %s wrong"), RESULT_OK);
	EXPECT_TRUE(m_pModule->HasFailed());
	EXPECT_STREQ(g_szError, "100% %s wrong");
	SetError("%s", "a later error");
	// The module's reason survives what ran after it; GetError shows the server's current text.
	EXPECT_STREQ(m_pModule->GetFailure(), "100% %s wrong");
	const char* szCopy = m_pModule->GetError();
	EXPECT_STREQ(szCopy, "a later error");
	EXPECT_NE(szCopy, g_szError);

	const std::string Long(2000, 'x');
	m_pModule->SetError(Long.c_str());
	EXPECT_EQ(strlen(m_pModule->GetError()), 1023u);
	EXPECT_EQ(strlen(m_pModule->GetFailure()), 1023u);
}

TEST_F(CModuleInterfaceTest, RegistryViewGivesTheGlobalNamespaceAndTheConstants)
{
	CHeld<IScripting> Scripting;
	ASSERT_EQ(m_pModule->GetScripting(Scripting.Out()), RESULT_OK);
	void* pOut = nullptr;
	EXPECT_EQ(Scripting->GetInterface(ID_ModuleInterface, &pOut), RESULT_NOT_FOUND);
	EXPECT_EQ(Scripting->GetGlobal(nullptr), RESULT_NULL_ARGUMENT);
	CHeld<IReflectedNamespace> Global;
	ASSERT_EQ(Scripting->GetGlobal(Global.Out()), RESULT_OK);
	EXPECT_EQ(Unwrap(Global.Get()), m_Scripting.GetGlobal());
	EXPECT_EQ(Scripting->CollectGarbage(), RESULT_OK);

	CHeld<IDefineHandlers> Defines;
	EXPECT_EQ(Scripting->GetDefineHandlers(nullptr), RESULT_NULL_ARGUMENT);
	ASSERT_EQ(Scripting->GetDefineHandlers(Defines.Out()), RESULT_OK);
	EXPECT_EQ(m_Defines.GetModuleInterface(), Defines.Get());
	EXPECT_EQ(Defines->GetInterface(ID_DefineHandlers, &pOut), RESULT_OK);
	EXPECT_EQ(Defines->Release(), 1);
	EXPECT_EQ(Defines->DefineSigned(nullptr, 1), RESULT_NULL_ARGUMENT);
	EXPECT_EQ(Defines->DefineUnsigned(nullptr, 1), RESULT_NULL_ARGUMENT);
	EXPECT_EQ(Defines->DefineSigned("MINUS_ONE", -1), RESULT_OK);
	EXPECT_EQ(Defines->DefineUnsigned("ALL_BITS", 0xFFFFFFFFu), RESULT_OK);
	ASSERT_EQ(m_Defines.GetCount(), 2u);
	EXPECT_EQ(m_Defines.GetDefines()[0].GetWideValue(), -1);
	EXPECT_EQ(m_Defines.GetDefines()[1].GetWideValue(), 0xFFFFFFFFll);
}

TEST(ModuleInterface, ViewsAndInterfacesHeldPastTheRegistryAnswerAsIfEmpty)
{
	Context Context;
	CModuleInterfaceImpl* pModule = nullptr;
	IScripting* pScripting = nullptr;
	IReflectedNamespace* pNamespace = nullptr;
	IDefineHandlers* pDefines = nullptr;
	{
		CDefineHandlers Defines;
		CScripting Scripting;
		Scripting.SetDefineHandlers(&Defines);
		pModule = new CModuleInterfaceImpl(&Scripting);
		ASSERT_EQ(pModule->SetInternalName("gone"), RESULT_OK);
		ASSERT_EQ(pModule->GetScripting(&pScripting), RESULT_OK);
		ASSERT_EQ(pModule->GetNamespace(&pNamespace), RESULT_OK);
		ASSERT_EQ(pScripting->GetDefineHandlers(&pDefines), RESULT_OK);
	}
	IReflectedNamespace* pOut = nullptr;
	EXPECT_EQ(pScripting->GetGlobal(&pOut), RESULT_NOT_FOUND);
	EXPECT_EQ(pScripting->CollectGarbage(), RESULT_NOT_FOUND);
	EXPECT_EQ(pNamespace->AddNamespace("child", &pOut), RESULT_NOT_FOUND);
	EXPECT_STREQ(pNamespace->GetName(), "");
	EXPECT_EQ(pDefines->DefineSigned("LATE", 1), RESULT_NOT_FOUND);
	EXPECT_EQ(pModule->GetNamespace(&pOut), RESULT_FAILED);
	EXPECT_EQ(pModule->SetInternalName("again"), RESULT_NOT_FOUND);
	EXPECT_EQ(pDefines->Release(), 0);
	EXPECT_EQ(pNamespace->Release(), 0);
	EXPECT_EQ(pScripting->Release(), 0);
	EXPECT_EQ(pModule->Release(), 0);
	ScriptFunction::SetModuleCaller(nullptr);
}
