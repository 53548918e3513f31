// Module natives called as the languages call any native: the call view's argument checks, receiver checks and
// return operations, function values called through their view, and function values over a module native.

#include "ModuleFixture.h"

#include <string>

#include "Engine/ScriptClasses.h"
#include "Engine/ScriptStream.h"

namespace
{
// What a native saw, for the test to compare after the call.
struct tSeen
{
	Result m_rgResults[4] = {};
	bool m_rgbChecks[4] = {};
	IBaseObject* m_pObject = nullptr;
	IArgument* m_pArgument = nullptr;
	IReflectedClass* m_pClass = nullptr;
	std::string m_Text;
	int m_iArgc = -1;
};

class CNativeCallsTest : public CModuleFixture
{
protected:
	void SetUp() override
	{
		RegisterScriptClasses(&m_Scripting);
		ASSERT_EQ(m_pModule->SetInternalName("calls"), RESULT_OK);
		ASSERT_EQ(m_pModule->GetNamespace(m_Namespace.Out()), RESULT_OK);
		ASSERT_EQ(m_Namespace->NewClass(m_Class.Out(), "Thing", nullptr), RESULT_OK);
		ASSERT_EQ(m_Namespace->NewClass(m_OtherClass.Out(), "Other", nullptr), RESULT_OK);
	}

	// Calls the native as a script would; the result is the native's, the state holds what it returned.
	bool Call(ModuleNativeFunction pfnNative, CNativeState& State, CBaseObject* pThis = nullptr)
	{
		ScriptFunction Function("native", "", pfnNative);
		State.SetThis(pThis);
		return Function.Call(&State, static_cast<int>(State.GetArgumentCount()), &m_Seen);
	}

	CBaseObject* NewThing(IReflectedClass* pClass)
	{
		void* pOut = nullptr;
		EXPECT_EQ(m_pModule->CreateInstance(ID_BaseObject, &pOut), RESULT_OK);
		IBaseObject* pView = static_cast<IBaseObject*>(pOut);
		pView->AssignClass(pClass);
		CBaseObject* pObject = Unwrap(pView);
		pObject->AddRef();
		pView->Release();
		return pObject;
	}

	CHeld<IReflectedNamespace> m_Namespace;
	CHeld<IReflectedClass> m_Class;
	CHeld<IReflectedClass> m_OtherClass;
	tSeen m_Seen;
};

tSeen& Seen(void* pUserData)
{
	return *static_cast<tSeen*>(pUserData);
}

// A pointer that no operation produces, to tell an output that was set from one left alone.
template <class TInterface>
TInterface* Sentinel()
{
	static char s_Marker;
	return reinterpret_cast<TInterface*>(&s_Marker);
}
}

TEST_F(CNativeCallsTest, ACallGivesOneValueAtMost)
{
	CNativeState State(&m_Scripting);
	ASSERT_TRUE(Call(
		[](INativeState* pState, int, void* pUserData) {
			Seen(pUserData).m_rgResults[0] = pState->ReturnInt32(1);
			Seen(pUserData).m_rgResults[1] = pState->ReturnInt32(2);
			Seen(pUserData).m_rgResults[2] = pState->ReturnVector4D(1, 2, 3, 4);
			Seen(pUserData).m_rgResults[3] = pState->ReturnNull();
			return true;
		},
		State));
	EXPECT_EQ(m_Seen.m_rgResults[0], RESULT_OK);
	EXPECT_EQ(m_Seen.m_rgResults[1], RESULT_NO_VALUE);
	EXPECT_EQ(m_Seen.m_rgResults[2], RESULT_NO_VALUE);
	EXPECT_EQ(m_Seen.m_rgResults[3], RESULT_NO_VALUE);
	ASSERT_EQ(State.m_RVal.GetArrayCount(), 1u);
	EXPECT_EQ(IntegerOf(State.m_RVal.GetReturnArgument()), 1);

	CNativeState Fresh(&m_Scripting);
	ASSERT_TRUE(Call(
		[](INativeState* pState, int, void* pUserData) {
			Seen(pUserData).m_rgResults[0] = pState->ReturnVector4D(1, 2, 3, 4);
			return true;
		},
		Fresh));
	EXPECT_EQ(m_Seen.m_rgResults[0], RESULT_NOT_AVAILABLE);
	EXPECT_EQ(Fresh.m_RVal.GetReturnArgument(), nullptr);
}

TEST_F(CNativeCallsTest, ReturnOperationsMakeTheirValues)
{
	CBaseObject* pThing = NewThing(m_Class.Get());
	Strong<CUnlimitedStream> pStream = Strong<CUnlimitedStream>::New(new CUnlimitedStream());
	CHeld<IBaseObject> ThingView(GetView(pThing));
	CHeld<IStream> StreamView(GetView(static_cast<Stream*>(pStream)));
	CHeld<IArgument> Text(GetView(static_cast<CArgument*>(Strong<CArgumentString>::New(new CArgumentString("copy", 4)))));
	static IBaseObject* s_pThing;
	static IStream* s_pStream;
	static IArgument* s_pText;
	s_pThing = ThingView.Get();
	s_pStream = StreamView.Get();
	s_pText = Text.Get();

	const struct
	{
		const char* m_szLabel;
		ModuleNativeFunction m_pfnNative;
		uint8_t m_ucType;
	} rgCases[] = {
		{"null", [](INativeState* p, int, void*) { return p->ReturnNull() == 0; }, ARGUMENT_NIL},
		{"undefined", [](INativeState* p, int, void*) { return p->ReturnUndefined() == 0; }, ARGUMENT_UNDEFINED},
		{"boolean", [](INativeState* p, int, void*) { return p->ReturnBoolean(true) == 0; }, ARGUMENT_BOOLEAN},
		{"string", [](INativeState* p, int, void*) { return p->ReturnString("a\0b", 3) == 0; }, ARGUMENT_STRING},
		{"zero-terminated", [](INativeState* p, int, void*) { return p->ReturnStringZ("ab") == 0; }, ARGUMENT_STRING},
		{"int32", [](INativeState* p, int, void*) { return p->ReturnInt32(-5) == 0; }, ARGUMENT_INTEGER},
		{"uint32", [](INativeState* p, int, void*) { return p->ReturnUInt32(0xFFFFFFFFu) == 0; }, ARGUMENT_INTEGER},
		{"int64", [](INativeState* p, int, void*) { return p->ReturnInt64(-5) == 0; }, ARGUMENT_LONGINTEGER},
		{"uint64", [](INativeState* p, int, void*) { return p->ReturnUInt64(~0ull) == 0; }, ARGUMENT_LONGINTEGER},
		{"single", [](INativeState* p, int, void*) { return p->ReturnSingle(1.5f) == 0; }, ARGUMENT_FLOAT},
		{"double", [](INativeState* p, int, void*) { return p->ReturnDouble(2.5) == 0; }, ARGUMENT_DOUBLE},
		{"vector2", [](INativeState* p, int, void*) { return p->ReturnVector2D(1, 2) == 0; }, ARGUMENT_VECTOR2D},
		{"vector3", [](INativeState* p, int, void*) { return p->ReturnVector3D(1, 2, 3) == 0; }, ARGUMENT_VECTOR3D},
		{"matrix",
			[](INativeState* p, int, void*) {
				const float rgf[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
				return p->ReturnMatrix4x4(rgf) == 0;
			},
			ARGUMENT_MATRIX4X4},
		{"object", [](INativeState* p, int, void*) { return p->ReturnObject(s_pThing) == 0; }, ARGUMENT_OBJECT},
		{"stream", [](INativeState* p, int, void*) { return p->ReturnStream(s_pStream) == 0; }, ARGUMENT_OBJECT},
		{"copy", [](INativeState* p, int, void*) { return p->Return(s_pText) == 0; }, ARGUMENT_STRING},
	};
	for (const auto& Case : rgCases)
	{
		CNativeState State(&m_Scripting);
		ASSERT_TRUE(Call(Case.m_pfnNative, State)) << Case.m_szLabel;
		const CArgument* pValue = State.m_RVal.GetReturnArgument();
		ASSERT_NE(pValue, nullptr) << Case.m_szLabel;
		EXPECT_EQ(pValue->GetType(), Case.m_ucType) << Case.m_szLabel;
		const std::string Label = Case.m_szLabel;
		if (Label == "string")
			EXPECT_EQ(TextOf(pValue), std::string("a\0b", 3));
		else if (Label == "uint32")
			EXPECT_EQ(IntegerOf(pValue), -1);
		else if (Label == "uint64")
			EXPECT_EQ(IntegerOf(pValue), -1);
		else if (Label == "matrix")
		{
			CMatrix4x4 matValue;
			pValue->ToMatrix4x4(matValue);
			EXPECT_EQ(matValue.GetAt(1), 2.0f);
			EXPECT_EQ(matValue.GetAt(15), 16.0f);
		}
		else if (Label == "object")
			EXPECT_EQ(pValue->ToObject(), pThing);
		else if (Label == "stream")
		{
			CScriptStream* pScriptStream = dynamic_cast<CScriptStream*>(pValue->ToObject());
			ASSERT_NE(pScriptStream, nullptr);
			EXPECT_EQ(pScriptStream->GetStream(), pStream.GetPointer());
		}
		else if (Label == "copy")
		{
			EXPECT_NE(pValue, Unwrap(s_pText));
			EXPECT_EQ(TextOf(pValue), "copy");
		}
	}

	CNativeState State(&m_Scripting);
	ASSERT_TRUE(Call(
		[](INativeState* p, int, void* pUserData) {
			Seen(pUserData).m_rgResults[0] = p->Return(nullptr);
			Seen(pUserData).m_rgResults[1] = p->ReturnStringZ(nullptr);
			Seen(pUserData).m_rgResults[2] = p->ReturnMatrix4x4(nullptr);
			Seen(pUserData).m_rgResults[3] = p->ReturnObject(nullptr);
			return true;
		},
		State));
	for (Result Outcome : m_Seen.m_rgResults)
		EXPECT_EQ(Outcome, RESULT_NULL_ARGUMENT);
	EXPECT_EQ(State.m_RVal.GetReturnArgument(), nullptr);
	pThing->Release();
}

TEST_F(CNativeCallsTest, ArgumentsAreReadAndCheckedAsByEngineNatives)
{
	CArgumentArray Arguments;
	Arguments.AddNumber(7);
	Arguments.AddString("text");
	Arguments.AddVector3D(CVector3D(1, 2, 3));
	CNativeState State(&m_Scripting, nullptr, &Arguments);
	EXPECT_FALSE(Call(
		[](INativeState* p, int argc, void* pUserData) {
			tSeen& Record = Seen(pUserData);
			Record.m_iArgc = argc;
			int32_t iValue = 0;
			double dValue = 0;
			float fX = 0, fY = 0, fZ = 0;
			size_t Length = 0;
			Record.m_rgbChecks[0] = p->CheckInt32(0, iValue) && iValue == 7 && p->CheckDouble(0, dValue) && dValue == 7;
			const char* szText = p->CheckString(1, &Length);
			Record.m_Text = szText ? std::string(szText, Length) : "";
			Record.m_rgbChecks[1] = p->CheckVector3D(2, fX, fY, fZ) && fZ == 3;
			Record.m_rgResults[0] = p->GetArgument(1, &Record.m_pArgument);
			IArgument* pPast = Sentinel<IArgument>();
			Record.m_rgResults[1] = p->GetArgument(static_cast<size_t>(argc), &pPast);
			Record.m_rgbChecks[2] = pPast == nullptr;
			Record.m_rgbChecks[3] = p->CheckVector4D(2, fX, fY, fZ, fZ);
			Record.m_rgResults[2] = p->GetArgument(0, nullptr);
			return p->CheckInt32(1, iValue);
		},
		State));
	EXPECT_EQ(m_Seen.m_iArgc, 3);
	EXPECT_TRUE(m_Seen.m_rgbChecks[0]);
	EXPECT_EQ(m_Seen.m_Text, "text");
	EXPECT_TRUE(m_Seen.m_rgbChecks[1]);
	EXPECT_EQ(m_Seen.m_rgResults[0], RESULT_OK);
	EXPECT_EQ(m_Seen.m_rgResults[1], RESULT_OUT_OF_RANGE);
	EXPECT_TRUE(m_Seen.m_rgbChecks[2]);
	EXPECT_FALSE(m_Seen.m_rgbChecks[3]);
	EXPECT_EQ(m_Seen.m_rgResults[2], RESULT_NULL_ARGUMENT);
	ASSERT_NE(m_Seen.m_pArgument, nullptr);
	EXPECT_EQ(Unwrap(m_Seen.m_pArgument), Arguments.GetAt(1));
	m_Seen.m_pArgument->Release();
	// The failed check is the call's error, as for an engine native.
	EXPECT_TRUE(State.m_bHasError);
	EXPECT_STREQ(g_szError, "Expected integer for argument 2");
}

TEST_F(CNativeCallsTest, SetErrorFormatsTheCallsError)
{
	CNativeState State(&m_Scripting);
	EXPECT_FALSE(Call(
		[](INativeState* p, int, void*) {
			p->SetError("%s went %d%% wrong", "it", 50);
			return false;
		},
		State));
	EXPECT_TRUE(State.m_bHasError);
	EXPECT_STREQ(g_szError, "it went 50% wrong");
}

TEST_F(CNativeCallsTest, TheReceiverIsCheckedAgainstTheClass)
{
	CBaseObject* pThing = NewThing(m_Class.Get());
	static IReflectedClass* s_pOther;
	s_pOther = m_OtherClass.Get();

	// A receiver of another class.
	CNativeState Wrong(&m_Scripting);
	EXPECT_FALSE(Call(
		[](INativeState* p, int, void* pUserData) {
			IBaseObject* pThis = Sentinel<IBaseObject>();
			Seen(pUserData).m_rgbChecks[0] = p->CheckThis(&pThis, s_pOther);
			Seen(pUserData).m_pObject = pThis;
			return false;
		},
		Wrong, pThing));
	EXPECT_FALSE(m_Seen.m_rgbChecks[0]);
	EXPECT_EQ(m_Seen.m_pObject, nullptr);
	EXPECT_STREQ(g_szError, "Other expected for 'this'");

	CNativeState WrongAgain(&m_Scripting);
	Call(
		[](INativeState* p, int, void* pUserData) {
			IBaseObject* pThis = nullptr;
			Seen(pUserData).m_rgResults[0] = p->GetThis(&pThis, s_pOther);
			return false;
		},
		WrongAgain, pThing);
	EXPECT_EQ(m_Seen.m_rgResults[0], RESULT_FAILED);
	EXPECT_STREQ(g_szError, "Other expected for 'this'");

	// No receiver at all: -5 and no text.
	CNativeState None(&m_Scripting);
	Call(
		[](INativeState* p, int, void* pUserData) {
			IBaseObject* pThis = nullptr;
			Seen(pUserData).m_rgResults[1] = p->GetThis(&pThis, s_pOther);
			Seen(pUserData).m_rgResults[2] = p->GetThis(nullptr, nullptr);
			return true;
		},
		None);
	EXPECT_EQ(m_Seen.m_rgResults[1], RESULT_NOT_FOUND);
	EXPECT_EQ(m_Seen.m_rgResults[2], RESULT_NULL_ARGUMENT);
	EXPECT_STREQ(g_szError, "");

	// The right class, through either operation.
	static IReflectedClass* s_pThing;
	s_pThing = m_Class.Get();
	CNativeState Right(&m_Scripting);
	ASSERT_TRUE(Call(
		[](INativeState* p, int, void* pUserData) {
			IBaseObject* pThis = nullptr;
			IBaseObject* pSame = nullptr;
			Seen(pUserData).m_rgbChecks[0] = p->CheckThis(&pThis, s_pThing);
			Seen(pUserData).m_rgResults[0] = p->GetThis(&pSame, nullptr);
			Seen(pUserData).m_pObject = pThis;
			Seen(pUserData).m_rgbChecks[1] = pThis == pSame;
			if (pSame)
				pSame->Release();
			return true;
		},
		Right, pThing));
	EXPECT_TRUE(m_Seen.m_rgbChecks[0]);
	EXPECT_EQ(m_Seen.m_rgResults[0], RESULT_OK);
	EXPECT_TRUE(m_Seen.m_rgbChecks[1]);
	ASSERT_NE(m_Seen.m_pObject, nullptr);
	EXPECT_EQ(Unwrap(m_Seen.m_pObject), pThing);
	m_Seen.m_pObject->Release();
	pThing->Release();
}

TEST_F(CNativeCallsTest, ClassAndObjectArgumentsGiveTheirViews)
{
	CBaseObject* pThing = NewThing(m_Class.Get());
	static IReflectedClass* s_pThing;
	s_pThing = m_Class.Get();
	CArgumentArray Arguments;
	Arguments.AddNull();
	Arguments.AddObject(pThing);
	CNativeState State(&m_Scripting, nullptr, &Arguments);
	ASSERT_TRUE(Call(
		[](INativeState* p, int, void* pUserData) {
			tSeen& Record = Seen(pUserData);
			IBaseObject* pNull = Sentinel<IBaseObject>();
			Record.m_rgbChecks[0] = p->CheckClass(s_pThing, 0, true, &pNull) && pNull == nullptr;
			Record.m_rgbChecks[1] = p->CheckClass(s_pThing, 1, false, &Record.m_pObject);
			IBaseObject* pAny = nullptr;
			Record.m_rgbChecks[2] = p->CheckObject(1, &pAny) && pAny == Record.m_pObject;
			if (pAny)
				pAny->Release();
			IBaseObject* pUntouched = Sentinel<IBaseObject>();
			Record.m_rgbChecks[3] = !p->CheckClass(nullptr, 1, false, &pUntouched) && pUntouched == Sentinel<IBaseObject>();
			return true;
		},
		State));
	for (bool bCheck : m_Seen.m_rgbChecks)
		EXPECT_TRUE(bCheck);
	ASSERT_NE(m_Seen.m_pObject, nullptr);
	EXPECT_EQ(Unwrap(m_Seen.m_pObject), pThing);
	m_Seen.m_pObject->Release();
	pThing->Release();
}

TEST_F(CNativeCallsTest, FunctionValuesAreCalledThroughTheirView)
{
	Strong<CRecordingFunction> pFunction = Strong<CRecordingFunction>::New(new CRecordingFunction(&m_Scripting));
	CHeld<IFunction> Function(GetView(static_cast<CFunction*>(pFunction)));
	EXPECT_EQ(Function->Call(nullptr, nullptr), RESULT_OK);
	EXPECT_EQ(pFunction->m_Calls, 1);
	EXPECT_EQ(pFunction->m_Arguments.GetArrayCount(), 0u);

	Strong<CArgumentArray> pArguments = Strong<CArgumentArray>::New(new CArgumentArray());
	pArguments->AddNumber(3);
	Strong<CArgumentArray> pResults = Strong<CArgumentArray>::New(new CArgumentArray());
	pResults->AddString("old");
	pResults->AddString("older");
	CHeld<IArray> Arguments(GetView(static_cast<CArgumentArray*>(pArguments)));
	CHeld<IArray> Results(GetView(static_cast<CArgumentArray*>(pResults)));
	ASSERT_EQ(Function->Call(Arguments.Get(), Results.Get()), RESULT_OK);
	EXPECT_EQ(IntegerOf(pFunction->m_Arguments.GetAt(0)), 3);
	ASSERT_EQ(pResults->GetArrayCount(), 1u);
	EXPECT_EQ(TextOf(pResults->GetAt(0)), "from engine");

	CHeld<IBaseObject> AsObject;
	ASSERT_EQ(Function->GetInterface(ID_BaseObject, AsObject.OutVoid()), RESULT_OK);
	EXPECT_EQ(Unwrap(AsObject.Get()), static_cast<CBaseObject*>(pFunction));
}

TEST_F(CNativeCallsTest, AFailedCallLeavesTheResultsAlone)
{
	CInlineFunction* pFailing = new CInlineFunction(&m_Scripting,
		[](INativeState* p, int, void*) {
			p->ReturnInt32(1);
			p->SetError("refused");
			return false;
		},
		nullptr);
	CHeld<IFunction> Function(GetView(static_cast<CFunction*>(pFailing)));
	pFailing->Release();
	Strong<CArgumentArray> pResults = Strong<CArgumentArray>::New(new CArgumentArray());
	pResults->AddString("kept");
	CHeld<IArray> Results(GetView(static_cast<CArgumentArray*>(pResults)));
	EXPECT_EQ(Function->Call(nullptr, Results.Get()), RESULT_FAILED);
	EXPECT_STREQ(g_szError, "refused");
	ASSERT_EQ(pResults->GetArrayCount(), 1u);
	EXPECT_EQ(TextOf(pResults->GetAt(0)), "kept");
}

TEST_F(CNativeCallsTest, AnInlineFunctionPassesArgumentsAndResults)
{
	CInlineFunction Function(&m_Scripting,
		[](INativeState* p, int argc, void* pUserData) {
			Seen(pUserData).m_iArgc = argc;
			int32_t iLeft = 0;
			int32_t iRight = 0;
			if (!p->CheckInt32(0, iLeft) || !p->CheckInt32(1, iRight))
				return false;
			return p->ReturnInt32(iLeft + iRight) == RESULT_OK;
		},
		&m_Seen);
	EXPECT_EQ(Function.GetReflectedClass(), m_Scripting.GetFunctionClass());
	CArgumentArray Arguments;
	Arguments.AddNumber(2);
	Arguments.AddNumber(40);
	CReturnValue Result;
	ASSERT_TRUE(Function.Call(Arguments, &Result));
	EXPECT_EQ(m_Seen.m_iArgc, 2);
	EXPECT_EQ(IntegerOf(Result.GetReturnArgument()), 42);
	EXPECT_EQ(Arguments.GetArrayCount(), 2u);
	ASSERT_TRUE(Function.Call(Arguments, nullptr));

	CArgumentArray Wrong;
	Wrong.AddString("x");
	EXPECT_FALSE(Function.Call(Wrong, &Result));
	EXPECT_STREQ(g_szError, "Expected integer for argument 1");
}
