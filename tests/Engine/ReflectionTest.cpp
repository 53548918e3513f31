#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Engine/Context.h"
#include "Engine/KAssert.h"
#include "Engine/KError.h"
#include "Engine/KestrinNative.h"

#include "AssertsOff.h"

namespace
{
class CPlainObject : public CBaseObject
{
public:
	explicit CPlainObject(ReflectedClass* pClass = nullptr) { SetReflectedClass(pClass); }
};

bool NoOp(CNativeState*, int, void*)
{
	return true;
}

bool OtherNoOp(CNativeState*, int, void*)
{
	return true;
}
}

TEST(ReflectedNamespace, AddNamespaceReusesAnExistingChild)
{
	ReflectedNamespace Global("global");
	ReflectedNamespace* pFirst = Global.AddNamespace("sdl");
	SetError("stale");
	ReflectedNamespace* pSecond = Global.AddNamespace("sdl");
	EXPECT_EQ(pFirst, pSecond);
	EXPECT_EQ(Global.GetNamespaces().size(), 1u);
	// Only a newly made child clears the last-error text.
	EXPECT_STREQ(g_szError, "stale");
	Global.AddNamespace("platform");
	EXPECT_STREQ(g_szError, "");
	EXPECT_EQ(Global.GetNamespaces().size(), 2u);
}

TEST(ReflectedNamespace, LookupsAreCaseSensitiveAndReportMisses)
{
	ReflectedNamespace Global("global");
	ReflectedNamespace* pChild = Global.AddNamespace("reflection");
	Global.AddProperty(nullptr, "platform", ARGUMENT_STRING, NoOp);

	EXPECT_EQ(Global.GetNamespace("reflection"), pChild);
	EXPECT_EQ(Global.GetNamespace("Reflection"), nullptr);
	EXPECT_STREQ(g_szError, "Namespace Reflection not found.");
	EXPECT_NE(Global.GetProperty("platform"), nullptr);
	EXPECT_EQ(Global.GetProperty("Platform"), nullptr);
	EXPECT_STREQ(g_szError, "Property Platform not found.");
}

TEST(ReflectedNamespace, RemembersExactlyNamedValueClasses)
{
	ReflectedNamespace Global("global");
	Global.NewClass("vec3");
	Global.NewClass("stream");
	EXPECT_EQ(Global.m_pVec3Class, nullptr);
	EXPECT_EQ(Global.m_pStreamClass, nullptr);

	ReflectedClass* pVec3 = Global.NewClass("Vec3");
	ReflectedClass* pVec2 = Global.NewClass("Vec2");
	ReflectedClass* pMatrix = Global.NewClass("Matrix4x4");
	ReflectedClass* pStream = Global.NewClass("Stream");
	EXPECT_EQ(Global.m_pVec3Class, pVec3);
	EXPECT_EQ(Global.m_pVec2Class, pVec2);
	EXPECT_EQ(Global.m_pMatrix4x4Class, pMatrix);
	EXPECT_EQ(Global.m_pStreamClass, pStream);

	ReflectedClass* pLaterVec3 = Global.NewClass("Vec3");
	EXPECT_EQ(Global.m_pVec3Class, pLaterVec3);

	Global.Clear();
	EXPECT_EQ(Global.m_pVec3Class, nullptr);
	EXPECT_EQ(Global.m_pStreamClass, nullptr);
	EXPECT_TRUE(Global.GetClasses().empty());
}

TEST(ReflectedNamespace, RegistrationsKeepOrderMasksAndCopies)
{
	ReflectedNamespace Global("global");
	std::string Name = "first";
	std::string Mask = "si";
	int iUserData = 0;
	ReflectedFunction* pFirst = Global.RegisterFunction(Name.c_str(), Mask.c_str(), NoOp, &iUserData, true);
	Name = "changed";
	Mask = "xx";
	ScriptFunction Prepared("second", nullptr, OtherNoOp);
	Global.RegisterFunction(&Prepared);

	ASSERT_EQ(Global.GetFunctions().size(), 2u);
	EXPECT_EQ(Global.GetFunctions()[0], pFirst);
	EXPECT_STREQ(pFirst->GetName(), "first");
	EXPECT_STREQ(pFirst->m_Function.GetMask(), "si");
	EXPECT_EQ(pFirst->m_pUserData, &iUserData);
	EXPECT_TRUE(pFirst->m_bObsolete);
	ReflectedFunction* pSecond = Global.GetFunctions()[1];
	EXPECT_STREQ(pSecond->GetName(), "second");
	EXPECT_NE(pSecond->GetName(), Prepared.GetName());
	EXPECT_EQ(pSecond->m_Function.GetMask(), nullptr);
	EXPECT_EQ(pSecond->m_Function.GetNative(), &OtherNoOp);

	ReflectedProperty* pReadOnly = Global.AddProperty(&iUserData, "ticks", ARGUMENT_INTEGER, NoOp);
	ReflectedProperty* pWritable = Global.AddProperty(nullptr, "value", ARGUMENT_FLOAT, NoOp, OtherNoOp);
	EXPECT_TRUE(pReadOnly->IsReadOnly());
	EXPECT_FALSE(pReadOnly->m_bObsolete);
	EXPECT_EQ(pReadOnly->m_ucType, ARGUMENT_INTEGER);
	EXPECT_EQ(pReadOnly->m_pUserData, &iUserData);
	EXPECT_STREQ(pReadOnly->m_Getter.GetName(), "");
	EXPECT_STREQ(pReadOnly->m_Getter.GetMask(), "");
	EXPECT_FALSE(pWritable->IsReadOnly());
	EXPECT_STREQ(pWritable->m_Setter.GetMask(), "");

	Global.SetAlias("game");
	EXPECT_STREQ(Global.GetAlias(), "game");
}

TEST(ReflectedClass, PropertiesAreFoundThroughBaseClassesAndCanBeHidden)
{
	ReflectedNamespace Global("global");
	ReflectedClass* pBase = Global.NewClass("Entity");
	ReflectedClass* pDerived = Global.NewClass("Vehicle", pBase);
	ReflectedProperty* pPosition = pBase->AddProperty(nullptr, "position", ARGUMENT_VECTOR3D, NoOp, OtherNoOp);
	ReflectedProperty* pBaseHealth = pBase->AddProperty(nullptr, "health", ARGUMENT_FLOAT, NoOp);
	ReflectedProperty* pOwnHealth = pDerived->AddProperty(nullptr, "health", ARGUMENT_FLOAT, OtherNoOp);

	EXPECT_EQ(pDerived->GetProperty("position"), pPosition);
	EXPECT_EQ(pDerived->GetProperty("health"), pOwnHealth);
	EXPECT_EQ(pBase->GetProperty("health"), pBaseHealth);
	EXPECT_STREQ(pPosition->m_Getter.GetMask(), "t");
	EXPECT_STREQ(pPosition->m_Setter.GetMask(), "t");

	EXPECT_EQ(pDerived->GetProperty("colour"), nullptr);
	EXPECT_STREQ(g_szError, "Property colour not found.");
	EXPECT_EQ(pBase->GetProperty("Position"), nullptr);
}

TEST(ReflectedClass, IsAWalksTheBaseChain)
{
	ReflectedNamespace Global("global");
	ReflectedClass* pEntity = Global.NewClass("Entity");
	ReflectedClass* pPed = Global.NewClass("Ped", pEntity);
	ReflectedClass* pPlayer = Global.NewClass("Player", pPed);
	ReflectedClass* pVehicle = Global.NewClass("Vehicle", pEntity);

	EXPECT_TRUE(pPlayer->IsA(pPlayer));
	EXPECT_TRUE(pPlayer->IsA(pPed));
	EXPECT_TRUE(pPlayer->IsA(pEntity));
	EXPECT_FALSE(pPlayer->IsA(pVehicle));
	EXPECT_FALSE(pEntity->IsA(pPed));
	EXPECT_FALSE(pEntity->IsA(nullptr));

	CPlainObject* pPlayerObject = new CPlainObject(pPlayer);
	CPlainObject* pClassless = new CPlainObject(nullptr);
	EXPECT_TRUE(pPlayerObject->IsA(pEntity));
	EXPECT_FALSE(pPlayerObject->IsA(pVehicle));
	EXPECT_FALSE(pClassless->IsA(pEntity));
	pPlayerObject->Release();
	pClassless->Release();
}

TEST(ReflectedClass, SpecialFunctionsCarryFixedNamesAndMasks)
{
	ReflectedNamespace Global("global");
	ReflectedClass* pClass = Global.NewClass("Vec2");
	EXPECT_FALSE(pClass->m_Constructor.IsPresent());

	pClass->RegisterConstructor("ff", NoOp);
	int iUserData = 0;
	pClass->RegisterConstructor("|ff", OtherNoOp, &iUserData);
	pClass->RegisterClone(NoOp);
	pClass->RegisterToString(NoOp);

	EXPECT_STREQ(pClass->m_Constructor.GetName(), "Vec2");
	EXPECT_STREQ(pClass->m_Constructor.m_Function.GetMask(), "|ff");
	EXPECT_EQ(pClass->m_Constructor.m_Function.GetNative(), &OtherNoOp);
	EXPECT_EQ(pClass->m_Constructor.m_pUserData, &iUserData);
	EXPECT_STREQ(pClass->m_Clone.GetName(), "clone");
	EXPECT_STREQ(pClass->m_Clone.m_Function.GetMask(), "t");
	EXPECT_STREQ(pClass->m_ToString.GetName(), "toString");
	EXPECT_FALSE(pClass->m_Move.IsPresent());

	pClass->RegisterFunction("length", "t", NoOp);
	pClass->Clear();
	EXPECT_FALSE(pClass->m_Constructor.IsPresent());
	EXPECT_FALSE(pClass->m_Clone.IsPresent());
	EXPECT_EQ(pClass->m_Constructor.m_Function.GetName(), nullptr);
	EXPECT_TRUE(pClass->GetFunctions().empty());
}

TEST(ReflectedUserData, KeepsOneSlotPerLanguageAndReleasesThemOnClear)
{
	CAssertsOff AssertsOff;
	static std::vector<void*> s_Released;
	s_Released.clear();
	ReflectedNamespace Global("global");
	ReflectedClass* pClass = Global.NewClass("Thing");
	ReflectedUserData& Data = pClass->m_UserData;

	int iLua = 1, iSquirrel = 2;
	void** ppLua = Data.AddUserData(0x1111, [](void** ppSlot) { s_Released.push_back(*ppSlot); });
	*ppLua = &iLua;
	void** ppSquirrel = Data.AddUserData(0x2222, [](void** ppSlot) { s_Released.push_back(*ppSlot); });
	*ppSquirrel = &iSquirrel;
	EXPECT_EQ(Data.GetUserData(0x1111), ppLua);
	EXPECT_EQ(Data.GetUserData(0x2222), ppSquirrel);
	EXPECT_EQ(Data.GetUserData(0x3333), nullptr);

	for (uint32_t i = 2; i < ReflectedUserData::MAX_ENTRIES; i++)
		ASSERT_NE(Data.AddUserData(0x9000 + i, nullptr), nullptr);
	{
		Context LogContext;
		g_bAsserts = true;
		testing::internal::CaptureStdout();
		EXPECT_EQ(Data.AddUserData(0xFFFF, nullptr), nullptr);
		const std::string Console = testing::internal::GetCapturedStdout();
		g_bAsserts = false;
		EXPECT_NE(Console.find("Expression: m_UserDataCount < ARRAY_COUNT(m_rgUserData)"), std::string::npos) << Console;
	}
	EXPECT_EQ(Data.m_UserDataCount, static_cast<size_t>(ReflectedUserData::MAX_ENTRIES));

	pClass->Clear();
	EXPECT_EQ(Data.m_UserDataCount, 0u);
	const std::vector<void*> Expected = {&iLua, &iSquirrel};
	EXPECT_EQ(s_Released, Expected);
}

TEST(ScriptFunction, CalcArgumentCountCountsRequiredArguments)
{
	const struct
	{
		const char* m_szMask;
		size_t m_Expected;
	} Cases[] = {
		{"iii|i", 3}, {"ti", 1}, {"z*", 1}, {"t", 0}, {"ts.|b", 2}, {"", 0}, {"|s", 0}, {"*", 0}, {"xvzcbf", 6},
	};
	for (const auto& Case : Cases)
	{
		ScriptFunction Function("f", Case.m_szMask, NoOp);
		EXPECT_EQ(Function.CalcArgumentCount(), Case.m_Expected) << Case.m_szMask;
	}
	EXPECT_EQ(ScriptFunction().CalcArgumentCount(), 0u);
}

namespace
{
// Constructor natives, each with one way of answering.
bool ConstructNothing(CNativeState*, int, void*)
{
	return true;
}

bool ConstructNull(CNativeState* pState, int, void*)
{
	pState->ReturnNull();
	return true;
}

bool ConstructNumber(CNativeState* pState, int, void*)
{
	pState->ReturnNumber(1);
	return true;
}

bool ConstructUnresolvedElement(CNativeState* pState, int, void*)
{
	class CUnresolvedElement : public CArgumentObject
	{
	public:
		CUnresolvedElement() : CArgumentObject(nullptr, ARGUMENT_NETOBJECT) {}
	};
	pState->ReturnAndOwn(new CUnresolvedElement);
	return true;
}

bool ConstructFailing(CNativeState* pState, int, void*)
{
	return pState->Error("no room for %d more", 3);
}

bool ConstructWidget(CNativeState* pState, int argc, void* pUserData)
{
	EXPECT_EQ(argc, 0);
	EXPECT_NE(pState->GetScripting(), nullptr);
	CPlainObject* pObject = new CPlainObject(static_cast<ReflectedClass*>(pUserData));
	pState->ReturnObject(pObject);
	pObject->Release();
	return true;
}
}

TEST(Reflection, ConstructReportsEveryWayAConstructorCanFail)
{
	CScripting Scripting;
	ReflectedClass* pClass = Scripting.m_Global.NewClass("Widget");
	const struct
	{
		NativeFunction m_pfnConstructor;
		const char* m_szExpected;
	} Cases[] = {
		{nullptr, "Class is not constructable"},
		{ConstructNothing, "Constructor didn't return anything"},
		{ConstructNull, "Constructor didn't return anything"},
		{ConstructNumber, "Constructor didn't return object"},
		{ConstructUnresolvedElement, "Constructor returned null"},
		{ConstructFailing, "no room for 3 more"},
	};
	for (const auto& Case : Cases)
	{
		SCOPED_TRACE(Case.m_szExpected);
		pClass->m_Constructor.Reset();
		if (Case.m_pfnConstructor)
			pClass->RegisterConstructor("", Case.m_pfnConstructor);
		EXPECT_EQ(Reflection::Construct(&Scripting, pClass), nullptr);
		EXPECT_STREQ(g_szError, Case.m_szExpected);
	}
}

TEST(Reflection, ConstructHandsTheCallerTheOnlyReference)
{
	CScripting Scripting;
	ReflectedClass* pClass = Scripting.m_Global.NewClass("Widget");
	pClass->RegisterConstructor("", ConstructWidget, pClass);
	CBaseObject* pObject = Reflection::Construct(&Scripting, pClass);
	ASSERT_NE(pObject, nullptr);
	EXPECT_EQ(pObject->GetReflectedClass(), pClass);
	EXPECT_EQ(pObject->GetRefCount(), 1);
	pObject->Release();
}

TEST(Reflection, ToArgumentTurnsValueHoldersIntoByValueArguments)
{
	CScripting Scripting;
	ReflectedNamespace& Global = Scripting.m_Global;
	ReflectedClass* pVec2 = Global.NewClass("Vec2");
	ReflectedClass* pVec3 = Global.NewClass("Vec3");
	ReflectedClass* pMatrix = Global.NewClass("Matrix4x4");
	ReflectedClass* pDerivedVec3 = Global.NewClass("Position", pVec3);
	ReflectedClass* pOther = Global.NewClass("Widget");

	auto* pVec3Object = new CObjectValue<CVector3D>(pVec3, CVector3D(1, 2, 3));
	auto* pDerivedObject = new CObjectValue<CVector3D>(pDerivedVec3, CVector3D(4, 5, 6));
	auto* pVec2Object = new CObjectValue<CVector2D>(pVec2, CVector2D(7, 8));
	CMatrix4x4 Matrix;
	Matrix.m41 = 10.0f;
	auto* pMatrixObject = new CObjectValue<CMatrix4x4>(pMatrix, Matrix);
	// A plain object given the class "Vec3" holds no vector and stays an object.
	CPlainObject* pImpostor = new CPlainObject(pVec3);
	CPlainObject* pWidget = new CPlainObject(pOther);

	struct tCase
	{
		const char* m_szName;
		CBaseObject* m_pObject;
		uint8_t m_ucType;
	};
	const tCase Cases[] = {
		{"Vec3", pVec3Object, ARGUMENT_VECTOR3D},
		{"derived from Vec3", pDerivedObject, ARGUMENT_VECTOR3D},
		{"Vec2", pVec2Object, ARGUMENT_VECTOR2D},
		{"Matrix4x4", pMatrixObject, ARGUMENT_MATRIX4X4},
		{"impostor", pImpostor, ARGUMENT_OBJECT},
		{"other class", pWidget, ARGUMENT_OBJECT},
	};
	for (const tCase& Case : Cases)
	{
		SCOPED_TRACE(Case.m_szName);
		CArgument* pValue = Reflection::ToArgument(Case.m_pObject, &Scripting);
		ASSERT_NE(pValue, nullptr);
		EXPECT_EQ(pValue->GetType(), Case.m_ucType);
		if (Case.m_ucType == ARGUMENT_OBJECT)
		{
			EXPECT_EQ(pValue->ToObject(), Case.m_pObject);
		}
		pValue->Release();
	}

	CArgument* pValue = Reflection::ToArgument(pDerivedObject, &Scripting);
	CVector3D vecOut;
	pValue->ToVector3D(vecOut);
	EXPECT_EQ(vecOut.x, 4.0f);
	EXPECT_EQ(vecOut.z, 6.0f);
	pValue->Release();
	pValue = Reflection::ToArgument(pMatrixObject, &Scripting);
	CMatrix4x4 matOut;
	pValue->ToMatrix4x4(matOut);
	EXPECT_EQ(matOut.m41, 10.0f);
	pValue->Release();

	for (CBaseObject* pObject :
		{static_cast<CBaseObject*>(pVec3Object), static_cast<CBaseObject*>(pDerivedObject),
			static_cast<CBaseObject*>(pVec2Object), static_cast<CBaseObject*>(pMatrixObject),
			static_cast<CBaseObject*>(pImpostor), static_cast<CBaseObject*>(pWidget)})
		pObject->Release();
}
