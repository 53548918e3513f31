// The resource manager's side of plug-in modules, in process: what the loader keeps of each module, and the order
// of the shutdown, in which objects a module made may outlive its unregistration and every language.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ScriptHost.h"
#include "TestLanguage.h"

namespace
{
std::string ModulePath(const char* szName)
{
	return std::string(VEXA_TEST_MODULE_DIR) + "/" + szName;
}

// A language that holds objects until it is deleted, as a language whose collector finalises late does.
class CHoldingVM : public CTestVM
{
public:
	explicit CHoldingVM(CScripting* pScripting) : CTestVM(pScripting, "Holding") {}
	std::vector<Strong<CBaseObject>> m_Held;
};
}

TEST_F(ScriptHostTest, TheLoaderKeepsOnlyModulesThatRegistered)
{
	EXPECT_TRUE(Manager()->LoadModule(ModulePath("FullModule").c_str()));
	EXPECT_TRUE(Manager()->LoadModule(ModulePath("SecondModule").c_str()));
	EXPECT_FALSE(Manager()->LoadModule(ModulePath("NoExportsModule").c_str()));
	EXPECT_FALSE(Manager()->LoadModule(ModulePath("SetErrorModule").c_str()));
	EXPECT_FALSE(Manager()->LoadModule(ModulePath("NoSuchModule").c_str()));

	const std::vector<tModuleRecord>& Modules = Manager()->GetModules();
	ASSERT_EQ(Modules.size(), 2u);
	// The full module exports a MODULE_NAME that points nowhere: no namespace is made for it.
	EXPECT_EQ(Modules[0].m_pNamespace, nullptr);
	EXPECT_EQ(Modules[0].m_Value, 99);
	EXPECT_EQ(Modules[1].m_pNamespace, Scripting()->GetModuleNamespace()->GetNamespace("second"));
	EXPECT_EQ(Modules[1].m_Value, 1234);
	EXPECT_NE(Scripting()->GetModuleNamespace()->GetNamespace("full"), nullptr);
	EXPECT_TRUE(Logged("'RegisterModule' undefined in module NoExportsModule!"));
	EXPECT_TRUE(Logged("Module SetErrorModule failed to register: the test module refuses to load"));
	EXPECT_TRUE(Logged("Module NoSuchModule failed to load!"));
}

TEST_F(ScriptHostTest, ModuleObjectsMayDieAfterTheModuleWasUnregistered)
{
	ASSERT_TRUE(Manager()->LoadModule(ModulePath("FullModule").c_str()));
	ReflectedNamespace* pFull = Scripting()->GetModuleNamespace()->GetNamespace("full");
	ASSERT_NE(pFull, nullptr);
	ASSERT_EQ(pFull->GetClasses().size(), 1u);
	CHoldingVM* pHolder = new CHoldingVM(Scripting());
	Scripting()->AddVM(CScripting::GetLanguageId("Holding"), pHolder);
	ASSERT_TRUE(Scripting()->DefineAllClasses());

	CArgs Start;
	Start.I(41);
	Strong<CBaseObject> pCounter = Construct(pFull->GetClasses()[0], Start);
	ASSERT_FALSE(pCounter.IsNull());
	pHolder->m_Held.push_back(pCounter);
	pCounter.SetNull();

	::testing::internal::CaptureStdout();
	m_pManager.reset();
	const std::string Output = ::testing::internal::GetCapturedStdout();
	const size_t Unregistered = Output.find("full module unregistered with 99");
	const size_t Destroyed = Output.find("full module counter 1 destroyed at 41");
	ASSERT_NE(Unregistered, std::string::npos) << Output;
	ASSERT_NE(Destroyed, std::string::npos) << Output;
	// The language went after the unregistration and the registry; the module's code was still there.
	EXPECT_LT(Unregistered, Destroyed) << Output;
}
