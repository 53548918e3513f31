// The namespace and class views through which a module declares its script interface: what each registration
// stores, the refusals once the languages have bound the registry, and views that outlive their node.

#include "ModuleFixture.h"

#include <cstring>
#include <string>

namespace
{
bool NativeA(INativeState*, int, void*)
{
	return true;
}

bool NativeB(INativeState*, int, void*)
{
	return true;
}

int g_iUserData = 0;

class CReflectionViewsTest : public CModuleFixture
{
protected:
	void SetUp() override
	{
		ASSERT_EQ(m_pModule->SetInternalName("views"), RESULT_OK);
		ASSERT_EQ(m_pModule->GetNamespace(m_Namespace.Out()), RESULT_OK);
		m_pNamespace = Unwrap(m_Namespace.Get());
		ASSERT_NE(m_pNamespace, nullptr);
	}

	CHeld<IReflectedNamespace> m_Namespace;
	ReflectedNamespace* m_pNamespace = nullptr;
};
}

TEST_F(CReflectionViewsTest, ChildNamespacesAreFoundOrMade)
{
	CHeld<IReflectedNamespace> Child;
	EXPECT_EQ(m_Namespace->GetNamespace(nullptr, Child.Out()), RESULT_NULL_ARGUMENT);
	EXPECT_EQ(m_Namespace->GetNamespace("child", nullptr), RESULT_NULL_ARGUMENT);
	EXPECT_EQ(m_Namespace->GetNamespace("child", Child.Out()), RESULT_NOT_FOUND);
	EXPECT_EQ(Child.Get(), nullptr);
	EXPECT_STREQ(g_szError, "Namespace child not found.");

	ASSERT_EQ(m_Namespace->AddNamespace("child", Child.Out()), RESULT_OK);
	EXPECT_STREQ(Child->GetName(), "child");
	CHeld<IReflectedNamespace> Again;
	ASSERT_EQ(m_Namespace->AddNamespace("child", Again.Out()), RESULT_OK);
	EXPECT_EQ(Again.Get(), Child.Get());
	ASSERT_EQ(m_Namespace->GetNamespace("child", Again.Out()), RESULT_OK);
	EXPECT_EQ(Again.Get(), Child.Get());
	EXPECT_EQ(m_pNamespace->GetNamespaces().size(), 1u);

	void* pOut = nullptr;
	EXPECT_EQ(Child->GetInterface(ID_ReflectedClass, &pOut), RESULT_NOT_FOUND);
	ASSERT_EQ(Child->GetInterface(ID_ReflectedNamespace, &pOut), RESULT_OK);
	static_cast<IReflectedNamespace*>(pOut)->Release();
}

TEST_F(CReflectionViewsTest, FunctionsAndPropertiesAreStoredAsModuleNatives)
{
	std::string Name = "answer";
	std::string Mask = "i";
	ASSERT_EQ(m_Namespace->RegisterFunction(Name.c_str(), Mask.c_str(), NativeA, &g_iUserData), RESULT_OK);
	// The registry keeps copies: the module may reuse its strings.
	Name = "changed";
	Mask = "x";
	ASSERT_EQ(m_Namespace->AddProperty(&g_iUserData, "value", 4, NativeA, nullptr), RESULT_OK);
	ASSERT_EQ(m_Namespace->AddProperty(nullptr, "writable", 2, NativeA, NativeB), RESULT_OK);

	ASSERT_EQ(m_pNamespace->GetFunctions().size(), 1u);
	const ReflectedFunction* pFunction = m_pNamespace->GetFunctions()[0];
	EXPECT_STREQ(pFunction->GetName(), "answer");
	EXPECT_STREQ(pFunction->m_Function.GetMask(), "i");
	EXPECT_EQ(pFunction->m_Function.GetNative(), nullptr);
	EXPECT_EQ(pFunction->m_Function.GetModuleNative(), &NativeA);
	EXPECT_EQ(pFunction->m_pUserData, &g_iUserData);

	ASSERT_EQ(m_pNamespace->GetProperties().size(), 2u);
	const ReflectedProperty* pValue = m_pNamespace->GetProperties()[0];
	EXPECT_STREQ(pValue->GetName(), "value");
	EXPECT_EQ(pValue->m_ucType, 4);
	EXPECT_EQ(pValue->m_pUserData, &g_iUserData);
	EXPECT_STREQ(pValue->m_Getter.GetName(), "");
	EXPECT_STREQ(pValue->m_Getter.GetMask(), "");
	EXPECT_TRUE(pValue->IsReadOnly());
	EXPECT_EQ(m_pNamespace->GetProperties()[1]->m_Setter.GetModuleNative(), &NativeB);
}

TEST_F(CReflectionViewsTest, NullArgumentsChangeNothing)
{
	IReflectedClass* pClass = nullptr;
	const struct
	{
		const char* m_szLabel;
		Result m_Result;
	} rgCases[] = {
		{"function without name", m_Namespace->RegisterFunction(nullptr, "", NativeA, nullptr)},
		{"function without mask", m_Namespace->RegisterFunction("f", nullptr, NativeA, nullptr)},
		{"function without native", m_Namespace->RegisterFunction("f", "", nullptr, nullptr)},
		{"property without name", m_Namespace->AddProperty(nullptr, nullptr, 0, NativeA, nullptr)},
		{"property without getter", m_Namespace->AddProperty(nullptr, "p", 0, nullptr, NativeB)},
		{"class without out", m_Namespace->NewClass(nullptr, "C", nullptr)},
		{"class without name", m_Namespace->NewClass(&pClass, nullptr, nullptr)},
		{"namespace without out", m_Namespace->AddNamespace("n", nullptr)},
	};
	for (const auto& Case : rgCases)
		EXPECT_EQ(Case.m_Result, RESULT_NULL_ARGUMENT) << Case.m_szLabel;
	EXPECT_TRUE(m_pNamespace->GetFunctions().empty());
	EXPECT_TRUE(m_pNamespace->GetProperties().empty());
	EXPECT_TRUE(m_pNamespace->GetClasses().empty());
	EXPECT_TRUE(m_pNamespace->GetNamespaces().empty());
}

TEST_F(CReflectionViewsTest, ClassesDeriveAndTakeTheirSpecialFunctions)
{
	CHeld<IReflectedClass> Base;
	CHeld<IReflectedClass> Derived;
	CHeld<IReflectedClass> Other;
	ASSERT_EQ(m_Namespace->NewClass(Base.Out(), "Base", nullptr), RESULT_OK);
	ASSERT_EQ(m_Namespace->NewClass(Derived.Out(), "Derived", Base.Get()), RESULT_OK);
	ASSERT_EQ(m_Namespace->NewClass(Other.Out(), "Other", nullptr), RESULT_OK);
	EXPECT_STREQ(Derived->GetName(), "Derived");
	EXPECT_EQ(Unwrap(Derived.Get())->GetBaseClass(), Unwrap(Base.Get()));

	EXPECT_EQ(Derived->IsA(Derived.Get()), RESULT_OK);
	EXPECT_EQ(Derived->IsA(Base.Get()), RESULT_OK);
	EXPECT_EQ(Base->IsA(Derived.Get()), RESULT_NO);
	EXPECT_EQ(Derived->IsA(Other.Get()), RESULT_NO);
	EXPECT_EQ(Derived->IsA(nullptr), RESULT_NULL_ARGUMENT);

	ReflectedClass* pBase = Unwrap(Base.Get());
	ASSERT_EQ(Base->RegisterConstructor("i", NativeA, nullptr), RESULT_OK);
	ASSERT_EQ(Base->RegisterConstructor("s", NativeB, &g_iUserData), RESULT_OK);
	EXPECT_STREQ(pBase->m_Constructor.GetName(), "Base");
	EXPECT_STREQ(pBase->m_Constructor.m_Function.GetMask(), "s");
	EXPECT_EQ(pBase->m_Constructor.m_Function.GetModuleNative(), &NativeB);
	EXPECT_EQ(pBase->m_Constructor.m_pUserData, &g_iUserData);

	ASSERT_EQ(Base->RegisterClone(NativeA, nullptr), RESULT_OK);
	ASSERT_EQ(Base->RegisterMove(NativeA, nullptr), RESULT_OK);
	ASSERT_EQ(Base->RegisterToString(NativeA, &g_iUserData), RESULT_OK);
	const struct
	{
		const ReflectedFunction* m_pEntry;
		const char* m_szName;
	} rgSpecials[] = {{&pBase->m_Clone, "clone"}, {&pBase->m_Move, "move"}, {&pBase->m_ToString, "toString"}};
	for (const auto& Special : rgSpecials)
	{
		EXPECT_STREQ(Special.m_pEntry->GetName(), Special.m_szName);
		EXPECT_STREQ(Special.m_pEntry->m_Function.GetMask(), "t");
		EXPECT_EQ(Special.m_pEntry->m_Function.GetModuleNative(), &NativeA);
	}
	EXPECT_EQ(Base->RegisterClone(nullptr, nullptr), RESULT_NULL_ARGUMENT);
	EXPECT_EQ(Base->RegisterConstructor(nullptr, NativeA, nullptr), RESULT_NULL_ARGUMENT);

	ASSERT_EQ(Base->RegisterFunction("method", "ti", NativeA, nullptr), RESULT_OK);
	ASSERT_EQ(Base->AddProperty(nullptr, "size", 4, NativeA, NativeB), RESULT_OK);
	EXPECT_STREQ(pBase->GetFunctions()[0]->m_Function.GetMask(), "ti");
	// Accessors are called on an instance.
	EXPECT_STREQ(pBase->GetProperties()[0]->m_Getter.GetMask(), "t");
	EXPECT_STREQ(pBase->GetProperties()[0]->m_Setter.GetMask(), "t");
}

TEST_F(CReflectionViewsTest, EngineClassNamesInTheGlobalNamespaceAreRemembered)
{
	CHeld<IScripting> Scripting;
	CHeld<IReflectedNamespace> Global;
	ASSERT_EQ(m_pModule->GetScripting(Scripting.Out()), RESULT_OK);
	ASSERT_EQ(Scripting->GetGlobal(Global.Out()), RESULT_OK);
	CHeld<IReflectedClass> Class;
	for (const char* szName : {"Stream", "Matrix4x4", "Vec2", "Vec3"})
	{
		ASSERT_EQ(Global->NewClass(Class.Out(), szName, nullptr), RESULT_OK);
		ReflectedNamespace* pGlobal = m_Scripting.GetGlobal();
		ReflectedClass* pRemembered = strcmp(szName, "Stream") == 0 ? pGlobal->m_pStreamClass
			: strcmp(szName, "Matrix4x4") == 0                      ? pGlobal->m_pMatrix4x4Class
			: strcmp(szName, "Vec2") == 0                           ? pGlobal->m_pVec2Class
																	: pGlobal->m_pVec3Class;
		EXPECT_EQ(pRemembered, Unwrap(Class.Get())) << szName;
	}
}

TEST_F(CReflectionViewsTest, OnlyNamespacesMadeForModulesCanBeCleared)
{
	CHeld<IReflectedClass> Class;
	ASSERT_EQ(m_Namespace->NewClass(Class.Out(), "Gone", nullptr), RESULT_OK);
	ASSERT_EQ(m_Namespace->RegisterFunction("f", "", NativeA, nullptr), RESULT_OK);
	ASSERT_EQ(m_Namespace->Clear(), RESULT_OK);
	EXPECT_TRUE(m_pNamespace->GetClasses().empty());
	EXPECT_TRUE(m_pNamespace->GetFunctions().empty());
	// The view the module still holds outlived its class.
	EXPECT_STREQ(Class->GetName(), "");
	EXPECT_EQ(Class->RegisterFunction("m", "t", NativeA, nullptr), RESULT_NOT_FOUND);
	EXPECT_EQ(Class->IsA(Class.Get()), RESULT_NO);

	CHeld<IScripting> Scripting;
	CHeld<IReflectedNamespace> Global;
	CHeld<IReflectedNamespace> Reflection;
	ASSERT_EQ(m_pModule->GetScripting(Scripting.Out()), RESULT_OK);
	ASSERT_EQ(Scripting->GetGlobal(Global.Out()), RESULT_OK);
	ASSERT_EQ(Global->GetNamespace("reflection", Reflection.Out()), RESULT_OK);
	// The engine keeps pointers into these.
	EXPECT_EQ(Global->Clear(), RESULT_NOT_AVAILABLE);
	EXPECT_EQ(Reflection->Clear(), RESULT_NOT_AVAILABLE);
	EXPECT_NE(m_Scripting.GetFunctionClass(), nullptr);
	EXPECT_EQ(m_Scripting.GetReflectionNamespace()->GetClasses().size(), 1u);
}

TEST_F(CReflectionViewsTest, OnceTheLanguagesHaveBoundTheRegistryNothingChanges)
{
	CHeld<IReflectedClass> Class;
	CHeld<IReflectedNamespace> Existing;
	ASSERT_EQ(m_Namespace->NewClass(Class.Out(), "Bound", nullptr), RESULT_OK);
	ASSERT_EQ(m_Namespace->AddNamespace("existing", Existing.Out()), RESULT_OK);
	ASSERT_TRUE(m_Scripting.DefineAllClasses());

	CHeld<IReflectedNamespace> Child;
	CHeld<IReflectedClass> NewClass;
	const struct
	{
		const char* m_szLabel;
		Result m_Result;
	} rgCases[] = {
		{"namespace clear", m_Namespace->Clear()},
		{"new namespace", m_Namespace->AddNamespace("late", Child.Out())},
		{"namespace function", m_Namespace->RegisterFunction("f", "", NativeA, nullptr)},
		{"namespace property", m_Namespace->AddProperty(nullptr, "p", 0, NativeA, nullptr)},
		{"new class", m_Namespace->NewClass(NewClass.Out(), "Late", nullptr)},
		{"class clear", Class->Clear()},
		{"constructor", Class->RegisterConstructor("", NativeA, nullptr)},
		{"clone", Class->RegisterClone(NativeA, nullptr)},
		{"move", Class->RegisterMove(NativeA, nullptr)},
		{"to-string", Class->RegisterToString(NativeA, nullptr)},
		{"method", Class->RegisterFunction("m", "t", NativeA, nullptr)},
		{"class property", Class->AddProperty(nullptr, "p", 0, NativeA, nullptr)},
	};
	for (const auto& Case : rgCases)
		EXPECT_EQ(Case.m_Result, RESULT_NOT_AVAILABLE) << Case.m_szLabel;
	EXPECT_EQ(Child.Get(), nullptr);
	EXPECT_EQ(NewClass.Get(), nullptr);
	EXPECT_EQ(m_pNamespace->GetClasses().size(), 1u);
	EXPECT_EQ(m_pNamespace->GetNamespaces().size(), 1u);

	// Finding what exists is no change.
	ASSERT_EQ(m_Namespace->AddNamespace("existing", Child.Out()), RESULT_OK);
	EXPECT_EQ(Child.Get(), Existing.Get());

	// Nor can a module name a new namespace of its own any more.
	CModuleInterfaceImpl* pLate = new CModuleInterfaceImpl(&m_Scripting);
	EXPECT_EQ(pLate->SetInternalName("late"), RESULT_NOT_AVAILABLE);
	EXPECT_EQ(m_Scripting.GetModuleNamespace()->GetNamespaces().size(), 1u);
	EXPECT_EQ(pLate->SetInternalName("views"), RESULT_OK);
	pLate->Release();
}
