#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "Engine/KError.h"
#include "Engine/KestrinNative.h"
#include "Support/AllocationCounter.h"

namespace
{
class CPlainObject : public CBaseObject
{
public:
	explicit CPlainObject(ReflectedClass* pClass = nullptr) { SetReflectedClass(pClass); }
};

// A function value that records its arguments and answers with a fixed value (or fails).
class CRecordingFunction : public CFunction
{
public:
	explicit CRecordingFunction(CScripting* pScripting) : CFunction(pScripting), m_bSucceed(true), m_iResult(42) {}

	bool Call(const CArgumentArray& Arguments, CReturnValue* pResult) override
	{
		m_Received.clear();
		for (size_t i = 0; i < Arguments.GetArrayCount(); i++)
			m_Received.push_back(Arguments.GetAt(i)->GetType());
		if (!m_bSucceed)
			return false;
		if (pResult)
			pResult->AddNumber(m_iResult);
		return true;
	}

	bool m_bSucceed;
	int32_t m_iResult;
	std::vector<uint8_t> m_Received;
};

class CRecordingVM : public CScriptingVM
{
public:
	explicit CRecordingVM(int* pCollections) : m_pCollections(pCollections) {}
	bool DefineClasses() override { return true; }
	void CollectGarbage() override { (*m_pCollections)++; }
	CScriptEnvironment* CreateEnvironment(const char*) override { return nullptr; }

private:
	int* m_pCollections;
};

// A registry with every engine function registered, and a way to call them as a language would.
class UtilityFunctions : public ::testing::Test
{
protected:
	UtilityFunctions()
	{
		m_Scripting.RegisterUtilityFunctions();
		m_Scripting.RegisterSDLFunctions();
		m_Scripting.RegisterReflectionFunctions();
		m_pWidget = m_Scripting.m_Global.NewClass("Widget");
	}

	static const ReflectedFunction* Find(const ReflectedNamespace* pNamespace, const char* szName)
	{
		for (const ReflectedFunction* pFunction : pNamespace->GetFunctions())
		{
			if (strcmp(pFunction->GetName(), szName) == 0)
				return pFunction;
		}
		ADD_FAILURE() << "no function " << szName;
		return nullptr;
	}

	// Calls the function, leaving its result in m_pState.
	bool Call(const ReflectedNamespace* pNamespace, const char* szName, const CArgumentArray& Arguments)
	{
		const ReflectedFunction* pFunction = Find(pNamespace, szName);
		m_pState.reset(new CNativeState(&m_Scripting, nullptr, &Arguments));
		if (!pFunction)
			return false;
		bool bResult = pFunction->m_Function.Call(m_pState.get(), static_cast<int>(Arguments.GetArrayCount()),
			pFunction->m_pUserData);
		// A native returns false exactly when it reported an error.
		EXPECT_EQ(bResult, !m_pState->m_bHasError);
		return bResult;
	}

	bool CallGlobal(const char* szName, const CArgumentArray& Arguments)
	{
		return Call(&m_Scripting.m_Global, szName, Arguments);
	}

	bool CallReflection(const char* szName, const CArgumentArray& Arguments)
	{
		return Call(m_Scripting.GetReflectionNamespace(), szName, Arguments);
	}

	CArgument* Result() const { return m_pState->m_RVal.GetReturnArgument(); }

	int32_t IntegerResult() const
	{
		int32_t iValue = 0;
		EXPECT_NE(Result(), nullptr);
		if (Result())
		{
			EXPECT_EQ(Result()->GetType(), ARGUMENT_INTEGER);
			Result()->ToNumber(iValue);
		}
		return iValue;
	}

	CScripting m_Scripting;
	ReflectedClass* m_pWidget;
	std::unique_ptr<CNativeState> m_pState;
};

CArgumentArray* Point(float fX, float fY)
{
	CArgumentArray* pArray = new CArgumentArray;
	pArray->AddNumber(fX);
	pArray->AddNumber(fY);
	return pArray;
}

bool ToStringReturnsName(CNativeState* pState, int, void*)
{
	CBaseObject* pThis = nullptr;
	if (!pState->GetThis(nullptr, &pThis))
		return false;
	pState->ReturnString("a widget");
	return true;
}

bool ReturnsNothing(CNativeState*, int, void*)
{
	return true;
}

bool ReturnsInteger(CNativeState* pState, int, void*)
{
	pState->ReturnNumber(5);
	return true;
}

bool FailsWithText(CNativeState* pState, int, void*)
{
	return pState->Error("widget is broken");
}

bool ClonesWidget(CNativeState* pState, int, void* pUserData)
{
	CPlainObject* pCopy = new CPlainObject(static_cast<ReflectedClass*>(pUserData));
	pState->ReturnObject(pCopy);
	pCopy->Release();
	return true;
}
}

TEST_F(UtilityFunctions, ToColourPacksChannelsIntoASignedInteger)
{
	const struct
	{
		std::vector<int> m_Channels;
		int32_t m_iExpected;
	} Cases[] = {
		{{255, 0, 0}, -65536},
		{{1, 2, 3, 0}, 0x00010203},
		{{256, 0, 0}, static_cast<int32_t>(0xFF000000u)},
		{{0, 0, 0, 128}, static_cast<int32_t>(0x80000000u)},
		{{300, 0, 0, 0}, 44 << 16},
	};
	for (const auto& Case : Cases)
	{
		CArgumentArray Arguments;
		for (int iChannel : Case.m_Channels)
			Arguments.AddNumber(iChannel);
		ASSERT_TRUE(CallGlobal("toColour", Arguments));
		EXPECT_EQ(IntegerResult(), Case.m_iExpected);
	}
}

// A language makes the argument list and its values on the heap and takes the result out of the state: the whole
// call of a native whose arguments and result are numbers takes nothing from the heap, once the first call has
// warmed up what the values are made of.
TEST_F(UtilityFunctions, ToColourCallAllocatesNothing)
{
	if (!AllocationCounter::IsAvailable())
		GTEST_SKIP() << "allocations are not counted under the address sanitizer";
	const ReflectedFunction* pFunction = Find(&m_Scripting.m_Global, "toColour");
	ASSERT_NE(nullptr, pFunction);
	constexpr int32_t CALLS = 100;
	int32_t rgiColours[CALLS] = {};
	uint64_t Allocations = 0;
	for (int iRound = 0; iRound < 2; iRound++)
	{
		AllocationCounter::Start();
		for (int32_t i = 0; i < CALLS; i++)
		{
			CArgumentArray* pArguments = new CArgumentArray(3);
			pArguments->AddNumber(i);
			pArguments->AddNumber(2);
			pArguments->AddNumber(3);
			{
				CNativeState State(&m_Scripting, nullptr, pArguments);
				if (pFunction->m_Function.Call(&State, 3, pFunction->m_pUserData))
					State.m_RVal.GetReturnArgument()->ToNumber(rgiColours[i]);
			}
			pArguments->Release();
		}
		Allocations = AllocationCounter::Stop();
	}
	EXPECT_EQ(0u, Allocations);
	for (int32_t i = 0; i < CALLS; i++)
		EXPECT_EQ(static_cast<int32_t>(0xFF000203u | (static_cast<uint32_t>(i) << 16)), rgiColours[i]) << i;
}

TEST_F(UtilityFunctions, ToColourRefusesMissingAndNonNumericChannels)
{
	CArgumentArray TooFew;
	TooFew.AddNumber(1);
	TooFew.AddNumber(2);
	EXPECT_FALSE(CallGlobal("toColour", TooFew));
	EXPECT_STREQ(g_szError, "Expected integer for argument 3");

	CArgumentArray BadAlpha;
	for (int i = 0; i < 3; i++)
		BadAlpha.AddNumber(i);
	BadAlpha.AddString("opaque");
	EXPECT_FALSE(CallGlobal("toColour", BadAlpha));
	EXPECT_STREQ(g_szError, "Expected integer for argument 4");
}

TEST_F(UtilityFunctions, InPolyTestsThePointAgainstTheClosedPolygon)
{
	std::vector<CVector2D> Square = {{0, 0}, {2, 0}, {2, 2}, {0, 2}};
	std::vector<CVector2D> Shifted;
	for (const CVector2D& vec : Square)
		Shifted.push_back(CVector2D(vec.x + 5, vec.y));
	// More points than a fixed 128-point area would hold: a circle of radius 10 around the origin.
	std::vector<CVector2D> Circle;
	for (int i = 0; i < 300; i++)
	{
		double dAngle = 2.0 * M_PI * i / 300.0;
		Circle.push_back(CVector2D(static_cast<float>(10.0 * cos(dAngle)), static_cast<float>(10.0 * sin(dAngle))));
	}
	const struct
	{
		const char* m_szName;
		CVector2D m_vecPoint;
		std::vector<CVector2D> m_Polygon;
		bool m_bExpected;
	} Cases[] = {
		{"inside the square", {1, 1}, Square, true},
		{"outside the shifted square", {1, 1}, Shifted, false},
		{"inside the shifted square", {6, 1}, Shifted, true},
		{"point alone", {1, 1}, {}, false},
		{"one polygon point", {1, 1}, {{1, 1}}, false},
		{"inside a 300-point circle", {3, -2}, Circle, true},
		{"outside a 300-point circle", {9.5f, 9.5f}, Circle, false},
	};
	for (const auto& Case : Cases)
	{
		SCOPED_TRACE(Case.m_szName);
		CArgumentArray Arguments;
		Arguments.AddVector2D(Case.m_vecPoint);
		for (const CVector2D& vec : Case.m_Polygon)
			Arguments.AddVector2D(vec);
		ASSERT_TRUE(CallGlobal("inPoly", Arguments));
		ASSERT_NE(Result(), nullptr);
		EXPECT_EQ(Result()->GetType(), ARGUMENT_BOOLEAN);
		EXPECT_EQ(Result()->ToBoolean(), Case.m_bExpected);
	}
}

TEST_F(UtilityFunctions, InPolyTakesArraysAndNamesTheFirstBadPoint)
{
	CArgumentArray Arrays;
	Arrays.AddAndOwn(Point(1, 1));
	Arrays.AddAndOwn(Point(0, 0));
	Arrays.AddAndOwn(Point(2, 0));
	Arrays.AddAndOwn(Point(2, 2));
	Arrays.AddAndOwn(Point(0, 2));
	ASSERT_TRUE(CallGlobal("inPoly", Arrays));
	EXPECT_TRUE(Result()->ToBoolean());

	CArgumentArray BadPoint;
	BadPoint.AddNumber(1);
	EXPECT_FALSE(CallGlobal("inPoly", BadPoint));
	EXPECT_STREQ(g_szError, "Expected Vector2D for argument 1");

	CArgumentArray BadCorner;
	BadCorner.AddVector2D(CVector2D(1, 1));
	BadCorner.AddVector2D(CVector2D(0, 0));
	BadCorner.AddVector3D(CVector3D(2, 0, 0));
	EXPECT_FALSE(CallGlobal("inPoly", BadCorner));
	EXPECT_STREQ(g_szError, "Expected Vector2D for argument 3");
}

TEST_F(UtilityFunctions, CollectAllGarbageRunsEveryLanguage)
{
	int iCollections = 0;
	m_Scripting.AddVM(1, new CRecordingVM(&iCollections));
	m_Scripting.AddVM(2, new CRecordingVM(&iCollections));
	CArgumentArray None;
	ASSERT_TRUE(CallGlobal("collectAllGarbage", None));
	EXPECT_EQ(iCollections, 2);
	EXPECT_EQ(Result(), nullptr);
}

TEST_F(UtilityFunctions, PlatformNamespacesReportLinuxNoModifiersAndTicks)
{
	ReflectedNamespace* pSDL = m_Scripting.m_Global.GetNamespace("sdl");
	ReflectedNamespace* pPlatform = m_Scripting.m_Global.GetNamespace("platform");
	ASSERT_NE(pSDL, nullptr);
	ASSERT_NE(pPlatform, nullptr);

	const struct
	{
		ReflectedNamespace* m_pNamespace;
		const char* m_szProperty;
		uint8_t m_ucType;
	} Properties[] = {
		{pSDL, "platform", ARGUMENT_STRING},
		{pSDL, "ticks", ARGUMENT_INTEGER},
		{pPlatform, "name", ARGUMENT_STRING},
		{pPlatform, "modState", ARGUMENT_INTEGER},
		{pPlatform, "ticks", ARGUMENT_INTEGER},
	};
	for (const auto& Case : Properties)
	{
		SCOPED_TRACE(Case.m_szProperty);
		ReflectedProperty* pProperty = Case.m_pNamespace->GetProperty(Case.m_szProperty);
		ASSERT_NE(pProperty, nullptr);
		EXPECT_TRUE(pProperty->IsReadOnly());
		EXPECT_EQ(pProperty->m_ucType, Case.m_ucType);
		CNativeState State(&m_Scripting);
		ASSERT_TRUE(pProperty->m_Getter.Call(&State, 0, pProperty->m_pUserData));
		CArgument* pValue = State.m_RVal.GetReturnArgument();
		ASSERT_NE(pValue, nullptr);
		EXPECT_EQ(pValue->GetType(), Case.m_ucType);
		if (Case.m_ucType == ARGUMENT_STRING)
		{
			EXPECT_STREQ(pValue->ToString(), "Linux");
		}
		else if (strcmp(Case.m_szProperty, "modState") == 0)
		{
			int32_t iModState = -1;
			pValue->ToNumber(iModState);
			EXPECT_EQ(iModState, 0);
		}
	}

	CArgumentArray None;
	ASSERT_TRUE(Call(pSDL, "getModState", None));
	EXPECT_EQ(IntegerResult(), 0);
}

TEST_F(UtilityFunctions, ReflectionToStringReportsEveryFailure)
{
	ReflectedClass* pClassless = nullptr;
	const struct
	{
		const char* m_szName;
		NativeFunction m_pfnToString;
		ReflectedClass* const* m_ppClass;
		const char* m_szExpected;
	} Cases[] = {
		{"no to-string function", nullptr, &m_pWidget, "Class doesn't implement ToString"},
		{"object without a class", ToStringReturnsName, &pClassless, "Class not part of reflection"},
		{"no result", ReturnsNothing, &m_pWidget, "ToString didn't return anything"},
		{"not a string", ReturnsInteger, &m_pWidget, "ToString didn't return a string"},
		{"failing to-string", FailsWithText, &m_pWidget, "widget is broken"},
	};
	for (const auto& Case : Cases)
	{
		SCOPED_TRACE(Case.m_szName);
		m_pWidget->m_ToString.Reset();
		if (Case.m_pfnToString)
			m_pWidget->RegisterToString(Case.m_pfnToString);
		CPlainObject* pObject = new CPlainObject(*Case.m_ppClass);
		CArgumentArray Arguments;
		Arguments.AddObject(pObject);
		pObject->Release();
		EXPECT_FALSE(CallReflection("tostring", Arguments));
		EXPECT_STREQ(g_szError, Case.m_szExpected);
	}

	CArgumentArray None;
	EXPECT_FALSE(CallReflection("tostring", None));
	EXPECT_STREQ(g_szError, "Expected Object for argument 1");
}

TEST_F(UtilityFunctions, ReflectionToStringCallsTheClassWithTheObjectAsReceiver)
{
	m_pWidget->RegisterToString(ToStringReturnsName);
	CPlainObject* pObject = new CPlainObject(m_pWidget);
	CArgumentArray Arguments;
	Arguments.AddObject(pObject);
	pObject->Release();
	ASSERT_TRUE(CallReflection("tostring", Arguments));
	ASSERT_NE(Result(), nullptr);
	EXPECT_STREQ(Result()->ToString(), "a widget");
}

TEST_F(UtilityFunctions, ReflectionCloneReturnsTheCopyOrNamesTheFailure)
{
	CArgumentArray None;
	EXPECT_FALSE(CallReflection("clone", None));
	EXPECT_STREQ(g_szError, "Expected Object for argument 1");

	CPlainObject* pObject = new CPlainObject(m_pWidget);
	CArgumentArray Arguments;
	Arguments.AddObject(pObject);
	EXPECT_FALSE(CallReflection("clone", Arguments));
	EXPECT_STREQ(g_szError, "Class is not cloneable");

	m_pWidget->RegisterClone(ReturnsNothing);
	EXPECT_FALSE(CallReflection("clone", Arguments));
	EXPECT_STREQ(g_szError, "Clone didn't return anything");

	m_pWidget->RegisterClone(ClonesWidget, m_pWidget);
	ASSERT_TRUE(CallReflection("clone", Arguments));
	ASSERT_NE(Result(), nullptr);
	CBaseObject* pCopy = Result()->ToObject();
	ASSERT_NE(pCopy, nullptr);
	EXPECT_NE(pCopy, pObject);
	EXPECT_EQ(pCopy->GetReflectedClass(), m_pWidget);
	// The returned value holds the copy's only reference.
	EXPECT_EQ(pCopy->GetRefCount(), 1);
	pObject->Release();
}

TEST_F(UtilityFunctions, ReflectionMoveRefusesTheSamePlaceAndImmovableClasses)
{
	CPlainObject* pFrom = new CPlainObject(m_pWidget);
	CPlainObject* pTo = new CPlainObject(m_pWidget);

	CArgumentArray Same;
	Same.AddObject(pFrom);
	Same.AddObject(pFrom);
	EXPECT_FALSE(CallReflection("move", Same));
	EXPECT_STREQ(g_szError, "Cannot move to same place");

	CArgumentArray Different;
	Different.AddObject(pFrom);
	Different.AddObject(pTo);
	EXPECT_FALSE(CallReflection("move", Different));
	EXPECT_STREQ(g_szError, "Class is not movable");

	CArgumentArray NotAnObject;
	NotAnObject.AddObject(pFrom);
	NotAnObject.AddString("elsewhere");
	EXPECT_FALSE(CallReflection("move", NotAnObject));
	EXPECT_STREQ(g_szError, "Expected Object for argument 2");

	pFrom->Release();
	pTo->Release();
}

namespace
{
CBaseObject* g_pMovedFrom = nullptr;
CBaseObject* g_pMovedTo = nullptr;

bool MoveModuleNative(Kestrin3D::Interfaces::INativeState*, int, void*)
{
	return true;
}

// Stands in for the plug-in layer: runs the module's move with the engine state it would wrap.
bool MoveCaller(ModuleNativeFunction, CNativeState* pState, int argc, void*)
{
	EXPECT_EQ(argc, 1);
	g_pMovedFrom = pState->GetThisObject();
	g_pMovedTo = pState->CheckReferenceable(0);
	return true;
}
}

TEST_F(UtilityFunctions, ReflectionMovePassesTheTargetToTheClassMove)
{
	m_pWidget->RegisterMove(MoveModuleNative);
	ScriptFunction::SetModuleCaller(MoveCaller);
	CPlainObject* pFrom = new CPlainObject(m_pWidget);
	CPlainObject* pTo = new CPlainObject(m_pWidget);
	CArgumentArray Arguments;
	Arguments.AddObject(pFrom);
	Arguments.AddObject(pTo);
	EXPECT_TRUE(CallReflection("move", Arguments));
	ScriptFunction::SetModuleCaller(nullptr);
	EXPECT_EQ(g_pMovedFrom, pFrom);
	EXPECT_EQ(g_pMovedTo, pTo);
	pFrom->Release();
	pTo->Release();
}

TEST_F(UtilityFunctions, CreateFunctionAndCallGoThroughTheFunctionObject)
{
	CRecordingFunction* pFunction = new CRecordingFunction(&m_Scripting);
	CArgumentArray Value;
	Value.AddAndOwn(new CArgumentFunction(pFunction));
	ASSERT_TRUE(CallReflection("createFunction", Value));
	ASSERT_NE(Result(), nullptr);
	ASSERT_EQ(Result()->GetType(), ARGUMENT_OBJECT);
	EXPECT_EQ(Result()->ToObject(), pFunction);
	EXPECT_EQ(Result()->ToObject()->GetReflectedClass(), m_Scripting.GetFunctionClass());

	CArgumentArray CallArguments;
	CallArguments.AddObject(pFunction);
	CallArguments.AddString("x");
	CallArguments.AddBoolean(false);
	ASSERT_TRUE(CallReflection("call", CallArguments));
	const std::vector<uint8_t> Expected = {ARGUMENT_STRING, ARGUMENT_BOOLEAN};
	EXPECT_EQ(pFunction->m_Received, Expected);
	EXPECT_EQ(IntegerResult(), 42);

	// An argument count beyond the list: the missing arguments are absent, not passed.
	const ReflectedFunction* pCall = Find(m_Scripting.GetReflectionNamespace(), "call");
	CNativeState LongCount(&m_Scripting, nullptr, &CallArguments);
	ASSERT_TRUE(pCall->m_Function.Call(&LongCount, 6, pCall->m_pUserData));
	EXPECT_EQ(pFunction->m_Received, Expected);

	// A failing function gives no result and does not fail the call.
	pFunction->m_bSucceed = false;
	ASSERT_TRUE(CallReflection("call", CallArguments));
	EXPECT_EQ(Result(), nullptr);
	pFunction->Release();
}

TEST_F(UtilityFunctions, CallAndCreateFunctionRefuseWhatIsNotAFunction)
{
	CPlainObject* pWidget = new CPlainObject(m_pWidget);
	// Any object can be given the class "Function"; only a real function value can be called.
	CPlainObject* pImpostor = new CPlainObject(m_Scripting.GetFunctionClass());
	struct tCase
	{
		const char* m_szName;
		const char* m_szFunction;
		std::function<void(CArgumentArray&)> m_Fill;
	};
	const tCase Cases[] = {
		{"call without arguments", "call", [](CArgumentArray&) {}},
		{"call on another class", "call", [&](CArgumentArray& A) { A.AddObject(pWidget); }},
		{"call on null", "call", [](CArgumentArray& A) { A.AddNull(); }},
		{"call on an impostor", "call", [&](CArgumentArray& A) { A.AddObject(pImpostor); }},
		{"createFunction on a string", "createFunction", [](CArgumentArray& A) { A.AddString("f"); }},
		{"createFunction on an empty function value", "createFunction",
			[](CArgumentArray& A) { A.AddAndOwn(new CArgumentFunction(nullptr)); }},
	};
	for (const tCase& Case : Cases)
	{
		SCOPED_TRACE(Case.m_szName);
		CArgumentArray Arguments;
		Case.m_Fill(Arguments);
		EXPECT_FALSE(CallReflection(Case.m_szFunction, Arguments));
		EXPECT_STREQ(g_szError, "Expected Function for argument 1");
	}
	pWidget->Release();
	pImpostor->Release();
}

TEST_F(UtilityFunctions, FunctionCallbackPassesTheArgumentsItHas)
{
	CRecordingFunction* pFunction = new CRecordingFunction(&m_Scripting);
	CArgumentArray Arguments;
	Arguments.AddNumber(1);
	Arguments.AddNull();
	ScriptFunction Callback("", "", FunctionCallback);

	CNativeState State(&m_Scripting, nullptr, &Arguments);
	// An argument count beyond the list: the missing arguments are absent, not passed.
	ASSERT_TRUE(Callback.Call(&State, 4, pFunction));
	const std::vector<uint8_t> Expected = {ARGUMENT_INTEGER, ARGUMENT_NIL};
	EXPECT_EQ(pFunction->m_Received, Expected);
	ASSERT_NE(State.m_RVal.GetReturnArgument(), nullptr);

	pFunction->m_bSucceed = false;
	CNativeState Failing(&m_Scripting, nullptr, &Arguments);
	EXPECT_TRUE(Callback.Call(&Failing, 2, pFunction));
	EXPECT_EQ(Failing.m_RVal.GetReturnArgument(), nullptr);
	EXPECT_FALSE(Failing.m_bHasError);
	pFunction->Release();
}
