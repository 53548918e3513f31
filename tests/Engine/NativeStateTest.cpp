#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "Engine/Context.h"
#include "Engine/KAssert.h"
#include "Engine/KError.h"
#include "Engine/KestrinHash.h"
#include "Engine/KestrinNative.h"
#include "Engine/KestrinStream.h"
#include "Engine/ScriptStream.h"

#include "AssertsOff.h"

namespace
{
class CPlainObject : public CBaseObject
{
public:
	explicit CPlainObject(ReflectedClass* pClass = nullptr) { SetReflectedClass(pClass); }
};

class CNullFunction : public CFunction
{
public:
	explicit CNullFunction(CScripting* pScripting) : CFunction(pScripting) {}
	bool Call(const CArgumentArray&, CReturnValue*) override { return true; }
};

// Records the order in which the registry drives its languages.
class CRecordingVM : public CScriptingVM
{
public:
	CRecordingVM(std::vector<std::string>* pLog, const char* szName) : m_pLog(pLog), m_Name(szName) {}
	~CRecordingVM() override { m_pLog->push_back("delete " + m_Name); }

	bool DefineClasses() override { return true; }
	void CollectGarbage() override { m_pLog->push_back("collect " + m_Name); }
	CScriptEnvironment* CreateEnvironment(const char*) override { return nullptr; }

private:
	std::vector<std::string>* m_pLog;
	std::string m_Name;
};

CArgumentArray* NumberArray(std::initializer_list<double> Values)
{
	CArgumentArray* pArray = new CArgumentArray;
	for (double d : Values)
		pArray->AddNumber(d);
	return pArray;
}

// A registry with the classes the checks need: Widget, Gadget deriving from Widget, Other and Stream.
class NativeStateFixture : public ::testing::Test
{
protected:
	NativeStateFixture()
	{
		m_pWidget = m_Scripting.m_Global.NewClass("Widget");
		m_pGadget = m_Scripting.m_Global.NewClass("Gadget", m_pWidget);
		m_pOther = m_Scripting.m_Global.NewClass("Other");
		m_Scripting.m_Global.NewClass("Stream");
	}

	CScripting m_Scripting;
	ReflectedClass* m_pWidget;
	ReflectedClass* m_pGadget;
	ReflectedClass* m_pOther;
	CAssertsOff m_AssertsOff;
};

struct tCheckFailure
{
	const char* m_szName;
	std::function<void(NativeStateFixture&, CArgumentArray&, CScripting&)> m_Setup;
	std::function<bool(CNativeState&)> m_Check;
	const char* m_szExpected;
};
}

TEST_F(NativeStateFixture, FailingChecksReportExactTexts)
{
	CScripting& Scripting = m_Scripting;
	ReflectedClass* pWidget = m_pWidget;
	ReflectedClass* pOther = m_pOther;

	const std::vector<tCheckFailure> Cases = {
		{"string past the end", [](auto&, CArgumentArray& A, auto&) { A.AddString("a"); A.AddString("b"); },
			[](CNativeState& S) { return S.CheckString(2, nullptr) != nullptr; }, "Expected string for argument 3"},
		{"string from integer", [](auto&, CArgumentArray& A, auto&) { A.AddNumber(1); },
			[](CNativeState& S) { return S.CheckString(0, nullptr) != nullptr; }, "Expected string for argument 1"},
		{"double from string", [](auto&, CArgumentArray& A, auto&) { A.AddString("1"); },
			[](CNativeState& S) { double d; return S.CheckNumber(0, d); }, "Expected number for argument 1"},
		{"float from boolean", [](auto&, CArgumentArray& A, auto&) { A.AddBoolean(true); },
			[](CNativeState& S) { float f; return S.CheckNumber(0, f); }, "Expected number for argument 1"},
		{"int32 from string", [](auto&, CArgumentArray& A, auto&) { A.AddNumber(1); A.AddString("2"); },
			[](CNativeState& S) { int32_t i; return S.CheckNumber(1, i); }, "Expected integer for argument 2"},
		{"uint64 from null", [](auto&, CArgumentArray& A, auto&) { A.AddNull(); },
			[](CNativeState& S) { uint64_t u; return S.CheckNumber(0, u); }, "Expected integer for argument 1"},
		{"uint8 with no arguments", [](auto&, CArgumentArray&, auto&) {},
			[](CNativeState& S) { uint8_t u; return S.CheckNumber(0, u); }, "Expected integer for argument 1"},
		{"bytes from integer", [](auto&, CArgumentArray& A, auto&) { A.AddNumber(7); },
			[](CNativeState& S) { size_t n; return S.CheckBytes(0, n) != nullptr; }, "Expected bytes for argument 1"},
		{"boolean from integer", [](auto&, CArgumentArray& A, auto&) { A.AddNumber(1); },
			[](CNativeState& S) { bool b; return S.CheckBoolean(0, b); }, "Expected boolean for argument 1"},
		{"function value without a function",
			[](auto&, CArgumentArray& A, auto&) { A.AddAndOwn(new CArgumentFunction(nullptr)); },
			[](CNativeState& S) { return S.CheckFunction(0) != nullptr; }, "Expected Function for argument 1"},
		{"function from string", [](auto&, CArgumentArray& A, auto&) { A.AddString("f"); },
			[](CNativeState& S) { return S.CheckFunction(0) != nullptr; }, "Expected Function for argument 1"},
		{"referenceable from string", [](auto&, CArgumentArray& A, auto&) { A.AddString("x"); },
			[](CNativeState& S) { return S.CheckReferenceable(0) != nullptr; },
			"Expected Instance for argument 1"},
		{"class from null when null is refused", [](auto&, CArgumentArray& A, auto&) { A.AddNull(); },
			[pWidget](CNativeState& S) { CBaseObject* p; return S.CheckClass(pWidget, 0, false, &p); },
			"Expected Widget for argument 1"},
		{"class from an object of another class",
			[pOther](auto&, CArgumentArray& A, auto&) {
				CPlainObject* p = new CPlainObject(pOther);
				A.AddObject(p);
				p->Release();
			},
			[pWidget](CNativeState& S) { CBaseObject* p; return S.CheckClass(pWidget, 0, true, &p); },
			"Expected Widget for argument 1"},
		{"vector2 from three numbers", [](auto&, CArgumentArray& A, auto&) { A.AddAndOwn(NumberArray({1, 2, 3})); },
			[](CNativeState& S) { CVector2D v; return S.CheckVector2D(0, v); }, "Expected Vector2D for argument 1"},
		{"vector3 from two numbers", [](auto&, CArgumentArray& A, auto&) { A.AddAndOwn(NumberArray({1, 2})); },
			[](CNativeState& S) { CVector3D v; return S.CheckVector3D(0, v); }, "Expected Vector3D for argument 1"},
		{"vector3 with a string element",
			[](auto&, CArgumentArray& A, auto&) {
				CArgumentArray* pArray = NumberArray({1, 2});
				pArray->AddString("3");
				A.AddAndOwn(pArray);
			},
			[](CNativeState& S) { CVector3D v; return S.CheckVector3D(0, v); }, "Expected Vector3D for argument 1"},
		{"vector3 from a vector2", [](auto&, CArgumentArray& A, auto&) { A.AddVector2D(CVector2D(1, 2)); },
			[](CNativeState& S) { CVector3D v; return S.CheckVector3D(0, v); }, "Expected Vector3D for argument 1"},
		{"matrix from a vector", [](auto&, CArgumentArray& A, auto&) { A.AddVector3D(CVector3D(1, 2, 3)); },
			[](CNativeState& S) { CMatrix4x4 m; return S.CheckMatrix4x4(0, m); }, "Expected Matrix4x4 for argument 1"},
		{"stream from a plain object",
			[pOther](auto&, CArgumentArray& A, auto&) {
				CPlainObject* p = new CPlainObject(pOther);
				A.AddObject(p);
				p->Release();
			},
			[](CNativeState& S) { return S.CheckStream(0) != nullptr; }, "Expected Stream for argument 1"},
		{"stream from a plain object given the Stream class",
			[](auto&, CArgumentArray& A, CScripting& Sc) {
				CPlainObject* p = new CPlainObject(Sc.m_Global.m_pStreamClass);
				A.AddObject(p);
				p->Release();
			},
			[](CNativeState& S) { return S.CheckStream(0) != nullptr; }, "Expected Stream for argument 1"},
		{"closed stream",
			[](auto&, CArgumentArray& A, CScripting& Sc) {
				CScriptStream* p = new CScriptStream(Sc.m_Global.m_pStreamClass, nullptr);
				A.AddObject(p);
				p->Release();
			},
			[](CNativeState& S) { return S.CheckStream(0) != nullptr; }, "Stream closed"},
		{"no receiver", [](auto&, CArgumentArray&, auto&) {},
			[](CNativeState& S) { CBaseObject* p; return S.GetThis(nullptr, &p); }, "'this' is null"},
	};

	for (const tCheckFailure& Case : Cases)
	{
		SCOPED_TRACE(Case.m_szName);
		CArgumentArray Arguments;
		Case.m_Setup(*this, Arguments, Scripting);
		SetError("stale");
		CNativeState State(&Scripting, nullptr, &Arguments);
		EXPECT_STREQ(g_szError, "");
		EXPECT_FALSE(Case.m_Check(State));
		EXPECT_TRUE(State.m_bHasError);
		EXPECT_STREQ(g_szError, Case.m_szExpected);
	}
}

TEST_F(NativeStateFixture, ReceiverCheckWalksTheClassChain)
{
	CPlainObject* pGadget = new CPlainObject(m_pGadget);
	CPlainObject* pClassless = new CPlainObject(nullptr);
	struct tCase
	{
		CBaseObject* m_pThis;
		ReflectedClass* m_pClass;
		const char* m_szError;
	};
	const tCase Cases[] = {
		{pGadget, m_pGadget, nullptr},
		{pGadget, m_pWidget, nullptr},
		{pGadget, nullptr, nullptr},
		{pGadget, m_pOther, "Other expected for 'this'"},
		{pClassless, m_pWidget, "Widget expected for 'this'"},
		{pClassless, nullptr, nullptr},
	};
	for (const tCase& Case : Cases)
	{
		CNativeState State(&m_Scripting);
		State.SetThis(Case.m_pThis);
		CBaseObject* pOut = nullptr;
		bool bResult = State.GetThis(Case.m_pClass, &pOut);
		if (Case.m_szError)
		{
			EXPECT_FALSE(bResult);
			EXPECT_STREQ(g_szError, Case.m_szError);
		}
		else
		{
			EXPECT_TRUE(bResult);
			EXPECT_EQ(pOut, Case.m_pThis);
		}
		EXPECT_EQ(State.m_bHasError, Case.m_szError != nullptr);
	}
	pGadget->Release();
	pClassless->Release();
}

TEST_F(NativeStateFixture, ReceiverIsDroppedWhenItDies)
{
	CNativeState State(&m_Scripting);
	CPlainObject* pObject = new CPlainObject(m_pWidget);
	State.SetThis(pObject);
	EXPECT_EQ(State.GetThisObject(), pObject);
	pObject->Release();
	EXPECT_EQ(State.GetThisObject(), nullptr);
	CBaseObject* pOut = nullptr;
	EXPECT_FALSE(State.GetThis(m_pWidget, &pOut));
	EXPECT_STREQ(g_szError, "'this' is null");
}

TEST_F(NativeStateFixture, NumberChecksConvert)
{
	CArgumentArray Arguments;
	Arguments.AddNumber(300);
	Arguments.AddNumber(-2.7f);
	Arguments.AddNumber(1e20);
	Arguments.AddNumber(1e19);
	Arguments.AddNumber(std::nan(""));
	Arguments.AddNumber(static_cast<long long>(-1));
	CNativeState State(&m_Scripting, nullptr, &Arguments);

	uint8_t ucByte = 0;
	ASSERT_TRUE(State.CheckNumber(0, ucByte));
	EXPECT_EQ(ucByte, 44);
	int32_t iValue = 0;
	ASSERT_TRUE(State.CheckNumber(1, iValue));
	EXPECT_EQ(iValue, -2);
	// Out-of-range floating values saturate instead of being undefined.
	ASSERT_TRUE(State.CheckNumber(2, iValue));
	EXPECT_EQ(iValue, std::numeric_limits<int32_t>::max());
	int64_t llValue = 0;
	ASSERT_TRUE(State.CheckNumber(2, llValue));
	EXPECT_EQ(llValue, std::numeric_limits<int64_t>::max());
	uint64_t ullValue = 0;
	ASSERT_TRUE(State.CheckNumber(3, ullValue));
	EXPECT_EQ(ullValue, 10000000000000000000ull);
	ASSERT_TRUE(State.CheckNumber(4, iValue));
	EXPECT_EQ(iValue, 0);
	uint32_t uiValue = 0;
	ASSERT_TRUE(State.CheckNumber(5, uiValue));
	EXPECT_EQ(uiValue, 0xFFFFFFFFu);
	double dValue = 0;
	ASSERT_TRUE(State.CheckNumber(0, dValue));
	EXPECT_EQ(dValue, 300.0);
	EXPECT_FALSE(State.m_bHasError);
}

TEST_F(NativeStateFixture, PassingChecksFillTheirOutput)
{
	CPlainObject* pGadget = new CPlainObject(m_pGadget);
	CNullFunction* pFunction = new CNullFunction(&m_Scripting);
	Stream* pStream = new CUnlimitedStream;
	CScriptStream* pScriptStream = new CScriptStream(m_Scripting.m_Global.m_pStreamClass, pStream);

	CArgumentArray Arguments;
	Arguments.AddString("a\0b", 3);                          // 0
	Arguments.AddBytes(reinterpret_cast<const uint8_t*>("xyz"), 3); // 1
	Arguments.AddBoolean(true);                               // 2
	Arguments.AddAndOwn(new CArgumentFunction(pFunction));    // 3
	Arguments.AddObject(pGadget);                             // 4
	Arguments.AddNull();                                      // 5
	Arguments.AddUndefined();                                 // 6
	Arguments.AddAndOwn(NumberArray({1, 2, 3}));              // 7
	Arguments.AddAndOwn(NumberArray({1.5, 2, 3}));            // 8
	Arguments.AddVector3D(CVector3D(4, 5, 6));                // 9
	Arguments.AddAndOwn(NumberArray({7, 8}));                 // 10
	Arguments.AddObject(pScriptStream);                       // 11
	CMatrix4x4 matIn;
	matIn.m43 = 9.0f;
	Arguments.AddMatrix4x4(matIn);                            // 12
	CNativeState State(&m_Scripting, nullptr, &Arguments);

	size_t Length = 0;
	const char* szText = State.CheckString(0, &Length);
	ASSERT_NE(szText, nullptr);
	EXPECT_EQ(Length, 3u);
	EXPECT_EQ(std::string(szText, Length), std::string("a\0b", 3));
	const uint8_t* pBytes = State.CheckBytes(1, Length);
	ASSERT_NE(pBytes, nullptr);
	EXPECT_EQ(std::string(reinterpret_cast<const char*>(pBytes), Length), "xyz");
	EXPECT_NE(State.CheckBytes(0, Length), nullptr);
	EXPECT_EQ(Length, 3u);
	bool bValue = false;
	EXPECT_TRUE(State.CheckBoolean(2, bValue));
	EXPECT_TRUE(bValue);
	EXPECT_EQ(State.CheckFunction(3), pFunction);
	EXPECT_EQ(State.CheckReferenceable(4), pGadget);

	CBaseObject* pOut = nullptr;
	EXPECT_TRUE(State.CheckClass(m_pWidget, 4, false, &pOut));
	EXPECT_EQ(pOut, pGadget);
	CPlainObject* pTyped = nullptr;
	EXPECT_TRUE(State.CheckClass(m_pGadget, 4, false, &pTyped));
	EXPECT_EQ(pTyped, pGadget);
	for (size_t Index : {5u, 6u})
	{
		pOut = pGadget;
		EXPECT_TRUE(State.CheckClass(m_pWidget, Index, true, &pOut));
		EXPECT_EQ(pOut, nullptr);
	}

	CVector3D vec3;
	EXPECT_TRUE(State.CheckVector3D(7, vec3));
	EXPECT_EQ(vec3.z, 3.0f);
	EXPECT_TRUE(State.CheckVector3D(8, vec3));
	EXPECT_EQ(vec3.x, 1.5f);
	EXPECT_TRUE(State.CheckVector3D(9, vec3));
	EXPECT_EQ(vec3.y, 5.0f);
	CVector2D vec2;
	EXPECT_TRUE(State.CheckVector2D(10, vec2));
	EXPECT_EQ(vec2.x, 7.0f);
	EXPECT_EQ(vec2.y, 8.0f);
	EXPECT_EQ(State.CheckStream(11), pStream);
	CMatrix4x4 matOut;
	EXPECT_TRUE(State.CheckMatrix4x4(12, matOut));
	EXPECT_EQ(matOut.m43, 9.0f);
	EXPECT_FALSE(State.m_bHasError);

	pStream->Release();
	pScriptStream->Release();
	pFunction->Release();
	pGadget->Release();
}

TEST_F(NativeStateFixture, UnresolvedElementPassesAsReferenceableWithoutError)
{
	class CUnresolvedElement : public CArgumentObject
	{
	public:
		CUnresolvedElement() : CArgumentObject(nullptr, ARGUMENT_NETOBJECT) {}
	};
	CArgumentArray Arguments;
	Arguments.AddAndOwn(new CUnresolvedElement);
	CNativeState State(&m_Scripting, nullptr, &Arguments);
	EXPECT_EQ(State.CheckReferenceable(0), nullptr);
	EXPECT_FALSE(State.m_bHasError);
}

TEST(NativeState, ErrorFormatsAndKeepsTheFirst1023Characters)
{
	CNativeState State;
	EXPECT_FALSE(State.Error("%s %d", "code", 7));
	EXPECT_TRUE(State.m_bHasError);
	EXPECT_STREQ(g_szError, "code 7");

	std::string Long(2000, 'x');
	State.Error("%s", Long.c_str());
	EXPECT_EQ(strlen(g_szError), 1023u);

	// Formatting directives inside an argument are not interpreted again.
	State.Error("%s", "100%d");
	EXPECT_STREQ(g_szError, "100%d");
}

TEST(NativeState, ReturnHelpersGiveTheDocumentedTags)
{
	struct tCase
	{
		const char* m_szName;
		std::function<void(CNativeState&)> m_Return;
		uint8_t m_ucType;
	};
	const tCase Cases[] = {
		{"null", [](CNativeState& S) { S.ReturnNull(); }, ARGUMENT_NIL},
		{"undefined", [](CNativeState& S) { S.ReturnUndefined(); }, ARGUMENT_UNDEFINED},
		{"boolean", [](CNativeState& S) { S.ReturnBoolean(true); }, ARGUMENT_BOOLEAN},
		{"int8", [](CNativeState& S) { S.ReturnNumber(static_cast<int8_t>(-5)); }, ARGUMENT_INTEGER},
		{"uint16", [](CNativeState& S) { S.ReturnNumber(static_cast<uint16_t>(60000)); }, ARGUMENT_INTEGER},
		{"uint32", [](CNativeState& S) { S.ReturnNumber(static_cast<uint32_t>(4294967295u)); }, ARGUMENT_INTEGER},
		{"int64", [](CNativeState& S) { S.ReturnNumber(static_cast<int64_t>(1) << 40); }, ARGUMENT_LONGINTEGER},
		{"uint64", [](CNativeState& S) { S.ReturnNumber(static_cast<uint64_t>(1)); }, ARGUMENT_LONGINTEGER},
		{"float", [](CNativeState& S) { S.ReturnNumber(1.5f); }, ARGUMENT_FLOAT},
		{"double", [](CNativeState& S) { S.ReturnNumber(1.5); }, ARGUMENT_DOUBLE},
		{"string", [](CNativeState& S) { S.ReturnString("abc"); }, ARGUMENT_STRING},
		{"string with length", [](CNativeState& S) { S.ReturnString("abc", 2); }, ARGUMENT_STRING},
		{"bytes", [](CNativeState& S) { S.ReturnBytes(reinterpret_cast<const uint8_t*>("ab"), 2); }, ARGUMENT_BYTES},
		{"vector2", [](CNativeState& S) { S.ReturnVector2D(CVector2D(1, 2)); }, ARGUMENT_VECTOR2D},
		{"vector3", [](CNativeState& S) { S.ReturnVector3D(CVector3D(1, 2, 3)); }, ARGUMENT_VECTOR3D},
		{"matrix", [](CNativeState& S) { S.ReturnMatrix4x4(CMatrix4x4()); }, ARGUMENT_MATRIX4X4},
		{"null object", [](CNativeState& S) { S.ReturnObject(nullptr); }, ARGUMENT_NIL},
	};
	for (const tCase& Case : Cases)
	{
		SCOPED_TRACE(Case.m_szName);
		CNativeState State;
		Case.m_Return(State);
		ASSERT_EQ(State.m_RVal.GetArrayCount(), 1u);
		EXPECT_EQ(State.m_RVal.GetReturnArgument()->GetType(), Case.m_ucType);
	}

	CNativeState State;
	State.ReturnNumber(static_cast<uint32_t>(4294967295u));
	int32_t iValue = 0;
	State.m_RVal.GetReturnArgument()->ToNumber(iValue);
	EXPECT_EQ(iValue, -1);
}

TEST(NativeState, ReturnAndOwnTakesTheReferenceWhileReturnClones)
{
	CArgument* pValue = new CArgumentInteger(5);
	{
		CNativeState State;
		State.Return(pValue);
		EXPECT_NE(State.m_RVal.GetReturnArgument(), pValue);
		EXPECT_EQ(pValue->GetRefCount(), 1);
	}
	pValue->AddRef();
	{
		CNativeState State;
		State.ReturnAndOwn(pValue);
		EXPECT_EQ(State.m_RVal.GetReturnArgument(), pValue);
		EXPECT_EQ(pValue->GetRefCount(), 2);
	}
	EXPECT_EQ(pValue->GetRefCount(), 1);
	pValue->Release();
}

TEST_F(NativeStateFixture, ReturnStreamWrapsTheStreamInAScriptStream)
{
	Stream* pStream = new CUnlimitedStream;
	{
		CNativeState State(&m_Scripting);
		State.ReturnStream(pStream);
		CArgument* pResult = State.m_RVal.GetReturnArgument();
		ASSERT_NE(pResult, nullptr);
		ASSERT_EQ(pResult->GetType(), ARGUMENT_OBJECT);
		CBaseObject* pObject = pResult->ToObject();
		EXPECT_EQ(pObject->GetReflectedClass(), m_Scripting.m_Global.m_pStreamClass);
		EXPECT_EQ(pObject->GetRefCount(), 1);
		EXPECT_EQ(pStream->GetRefCount(), 2);
	}
	EXPECT_EQ(pStream->GetRefCount(), 1);
	pStream->Release();
}

namespace
{
bool g_bModuleCallerRan = false;

bool RecordingModuleCaller(ModuleNativeFunction, CNativeState* pState, int, void*)
{
	g_bModuleCallerRan = true;
	pState->ReturnBoolean(true);
	return true;
}

bool ModuleNative(Kestrin3D::Interfaces::INativeState*, int, void*)
{
	return true;
}

bool PassArgcAndUserData(CNativeState* pState, int argc, void* pUserData)
{
	pState->ReturnNumber(static_cast<int32_t>(argc * 100 + *static_cast<int*>(pUserData)));
	return true;
}
}

TEST(ScriptFunction, CallsTheEngineNativeWithArgcAndUserData)
{
	ScriptFunction Function("f", "ii", PassArgcAndUserData);
	int iUserData = 7;
	CNativeState State;
	EXPECT_TRUE(Function.Call(&State, 2, &iUserData));
	int32_t iResult = 0;
	State.m_RVal.GetReturnArgument()->ToNumber(iResult);
	EXPECT_EQ(iResult, 207);
}

TEST(ScriptFunction, WithoutANativeFailsAndSetsTheErrorFlag)
{
	struct tCase
	{
		const char* m_szName;
		ScriptFunction m_Function;
		const char* m_szExpected;
	};
	tCase Cases[] = {
		{"named", ScriptFunction("doIt", "", static_cast<NativeFunction>(nullptr)), "Cannot call doIt"},
		{"unnamed", ScriptFunction(), "Cannot call "},
		// No plug-in layer is installed: a module native cannot be run.
		{"module native", ScriptFunction("mod", "", ModuleNative), "Cannot call mod"},
	};
	ASSERT_EQ(ScriptFunction::GetModuleCaller(), nullptr);
	for (tCase& Case : Cases)
	{
		SCOPED_TRACE(Case.m_szName);
		CNativeState State;
		EXPECT_FALSE(Case.m_Function.Call(&State, 0, nullptr));
		EXPECT_TRUE(State.m_bHasError);
		EXPECT_STREQ(g_szError, Case.m_szExpected);
	}
}

TEST(ScriptFunction, ModuleNativesRunThroughTheInstalledCaller)
{
	ScriptFunction Function("mod", "", ModuleNative);
	EXPECT_TRUE(Function.CanCall());
	ScriptFunction::SetModuleCaller(RecordingModuleCaller);
	g_bModuleCallerRan = false;
	CNativeState State;
	EXPECT_TRUE(Function.Call(&State, 0, nullptr));
	ScriptFunction::SetModuleCaller(nullptr);
	EXPECT_TRUE(g_bModuleCallerRan);
	EXPECT_EQ(State.m_RVal.GetArrayCount(), 1u);
}

TEST(ScriptFunction, MoveAssignmentTakesOverAndEmptiesTheSource)
{
	ScriptFunction Source("name", "ti", PassArgcAndUserData);
	ScriptFunction Target("old", "s", static_cast<NativeFunction>(nullptr));
	Target = std::move(Source);
	EXPECT_STREQ(Target.GetName(), "name");
	EXPECT_STREQ(Target.GetMask(), "ti");
	EXPECT_EQ(Target.GetNative(), &PassArgcAndUserData);
	EXPECT_EQ(Source.GetName(), nullptr);
	EXPECT_EQ(Source.GetMask(), nullptr);
}

TEST(Scripting, ConstructionBuildsTheReflectionAndModuleNamespaces)
{
	CScripting Scripting;
	EXPECT_STREQ(Scripting.m_Global.GetName(), "global");
	ASSERT_NE(Scripting.GetReflectionNamespace(), nullptr);
	EXPECT_EQ(Scripting.m_Global.GetNamespace("reflection"), Scripting.GetReflectionNamespace());
	EXPECT_EQ(Scripting.m_Global.GetNamespace("module"), Scripting.GetModuleNamespace());
	ASSERT_NE(Scripting.GetFunctionClass(), nullptr);
	EXPECT_STREQ(Scripting.GetFunctionClass()->GetName(), "Function");
	EXPECT_EQ(Scripting.GetFunctionClass()->GetBaseClass(), nullptr);
	EXPECT_EQ(Scripting.GetReflectionNamespace()->GetClasses().front(), Scripting.GetFunctionClass());

	CNullFunction* pFunction = new CNullFunction(&Scripting);
	EXPECT_EQ(pFunction->GetReflectedClass(), Scripting.GetFunctionClass());
	pFunction->Release();
}

TEST(Scripting, LanguagesAreKeyedByThePlainCrcOfTheirName)
{
	std::vector<std::string> Log;
	CScripting Scripting;
	CRecordingVM* pLua = new CRecordingVM(&Log, "Lua");
	EXPECT_TRUE(Scripting.AddVM(CScripting::GetLanguageId("Lua"), pLua));
	EXPECT_EQ(CScripting::GetLanguageId("Lua"), CRC32Hash::GetHash("Lua", 3, false));
	EXPECT_EQ(Scripting.GetVM("Lua"), pLua);
	EXPECT_EQ(Scripting.GetVM(CRC32Hash::GetHash("Lua", 3, false)), pLua);
	EXPECT_EQ(Scripting.GetVM("lua"), nullptr);
	EXPECT_EQ(Scripting.GetVM("Squirrel"), nullptr);
}

TEST(Scripting, CollectsAndDeletesLanguagesInRegistrationOrderAfterClearingTheTree)
{
	std::vector<std::string> Log;
	{
		CScripting Scripting;
		Scripting.AddVM(1, new CRecordingVM(&Log, "a"));
		Scripting.AddVM(2, new CRecordingVM(&Log, "b"));
		ReflectedClass* pClass = Scripting.m_Global.NewClass("Thing");
		static std::vector<std::string>* s_pLog;
		s_pLog = &Log;
		pClass->m_UserData.AddUserData(1, [](void**) { s_pLog->push_back("class data"); });
		Scripting.CollectGarbage();
	}
	const std::vector<std::string> Expected = {"collect a", "collect b", "class data", "delete a", "delete b"};
	EXPECT_EQ(Log, Expected);
}

TEST(Scripting, SeventeenthLanguageIsRefusedWithoutTouchingTheTable)
{
	CAssertsOff AssertsOff;
	std::vector<std::string> Log;
	CScripting Scripting;
	for (uint32_t i = 0; i < CScripting::MAX_VMS; i++)
		ASSERT_TRUE(Scripting.AddVM(i + 1, new CRecordingVM(&Log, std::to_string(i).c_str())));
	CRecordingVM* pExtra = new CRecordingVM(&Log, "extra");
	EXPECT_FALSE(Scripting.AddVM(100, pExtra));
	EXPECT_EQ(Scripting.GetVMCount(), 16u);
	EXPECT_EQ(Scripting.GetVM(100u), nullptr);
	EXPECT_NE(Scripting.GetVM(16u), nullptr);
	delete pExtra;
}

TEST(NativeState, AssertionsNameTheCheckThatFailed)
{
	const struct
	{
		const char* m_szName;
		std::function<void()> m_Run;
		const char* m_szExpression;
	} Cases[] = {
		{"seventeenth language",
			[] {
				std::vector<std::string> Log;
				CScripting Scripting;
				for (uint32_t i = 0; i <= CScripting::MAX_VMS; i++)
				{
					CRecordingVM* pVM = new CRecordingVM(&Log, "vm");
					if (!Scripting.AddVM(i + 1, pVM))
						delete pVM;
				}
			},
			"m_VMCount < ARRAY_COUNT(m_rgVMs)"},
		{"receiver without a class",
			[] {
				CPlainObject* pObject = new CPlainObject(nullptr);
				CNativeState State;
				State.SetThis(pObject);
				CBaseObject* pOut = nullptr;
				State.GetThis(nullptr, &pOut);
				pObject->Release();
			},
			"pInstanceClass"},
		{"stream check without a Stream class",
			[] {
				CScripting Scripting;
				CArgumentArray Arguments;
				Arguments.AddNull();
				CNativeState State(&Scripting, nullptr, &Arguments);
				State.CheckStream(0);
			},
			"m_pScripting->m_Global.m_pStreamClass"},
	};
	Context LogContext;
	const bool bSaved = g_bAsserts;
	g_bAsserts = true;
	for (const auto& Case : Cases)
	{
		SCOPED_TRACE(Case.m_szName);
		testing::internal::CaptureStdout();
		Case.m_Run();
		const std::string Console = testing::internal::GetCapturedStdout();
		EXPECT_NE(Console.find(std::string("Expression: ") + Case.m_szExpression + "\x1b"), std::string::npos)
			<< Console;
	}
	g_bAsserts = bSaved;
}
