// The views of script values: values a module makes with the factory, conversions that check the value's kind
// first, and the elements of arrays and maps.

#include "ModuleFixture.h"

#include <string>

#include "Engine/ScriptClasses.h"
#include "Engine/ScriptStream.h"

namespace
{
class CValueViewsTest : public CModuleFixture
{
protected:
	void SetUp() override
	{
		void* pOut = nullptr;
		ASSERT_EQ(m_pModule->CreateInstance(ID_ArgumentFactory, &pOut), RESULT_OK);
		m_pFactory = static_cast<IArgumentFactory*>(pOut);
	}

	void TearDown() override { EXPECT_EQ(m_pFactory->Release(), 0); }

	IArgument* Int(int32_t iValue)
	{
		IArgument* pValue = nullptr;
		EXPECT_EQ(m_pFactory->CreateInt32(&pValue, iValue), RESULT_OK);
		return pValue;
	}

	// The array or dictionary view of a new empty value.
	template <class TInterface>
	TInterface* NewContainer(const tUUID& Id)
	{
		CHeld<IArgument> Value;
		EXPECT_EQ(Id == ID_Array ? m_pFactory->CreateArray(Value.Out()) : m_pFactory->CreateDictionary(Value.Out()),
			RESULT_OK);
		void* pOut = nullptr;
		EXPECT_EQ(Value->GetInterface(Id, &pOut), RESULT_OK);
		return static_cast<TInterface*>(pOut);
	}

	IArgumentFactory* m_pFactory = nullptr;
};

bool Native(INativeState* pState, int, void*)
{
	return pState->ReturnStringZ("called") == RESULT_OK;
}
}

TEST_F(CValueViewsTest, MadeValuesHoldWhatTheyWereMadeWith)
{
	const float rgfMatrix[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
	CHeld<IArgument> Value;
	ASSERT_EQ(m_pFactory->CreateString(Value.Out(), "a\0c", 3), RESULT_OK);
	const char* szText = nullptr;
	size_t Length = 0;
	ASSERT_EQ(Value->ToString(&szText, &Length), RESULT_OK);
	EXPECT_EQ(std::string(szText, Length), std::string("a\0c", 3));
	// The view holds the only reference.
	EXPECT_EQ(Unwrap(Value.Get())->GetRefCount(), 1);

	ASSERT_EQ(m_pFactory->CreateMatrix4x4(Value.Out(), rgfMatrix), RESULT_OK);
	float rgfBack[16] = {};
	ASSERT_EQ(Value->ToMatrix4x4(rgfBack), RESULT_OK);
	EXPECT_EQ(memcmp(rgfBack, rgfMatrix, sizeof(rgfBack)), 0);

	float fX = 0, fY = 0, fZ = 0;
	ASSERT_EQ(m_pFactory->CreateVector3D(Value.Out(), 1, 2, 3), RESULT_OK);
	ASSERT_EQ(Value->ToVector3D(fX, fY, fZ), RESULT_OK);
	EXPECT_EQ(fZ, 3);
	ASSERT_EQ(m_pFactory->CreateVector2D(Value.Out(), 4, 5), RESULT_OK);
	ASSERT_EQ(Value->ToVector2D(fX, fY), RESULT_OK);
	EXPECT_EQ(fY, 5);

	CHeld<IBaseObject> Object;
	ASSERT_EQ(m_pModule->CreateInstance(ID_BaseObject, Object.OutVoid()), RESULT_OK);
	ASSERT_EQ(m_pFactory->CreateObject(Value.Out(), Object.Get()), RESULT_OK);
	CHeld<IBaseObject> Back;
	ASSERT_EQ(Value->ToObject(Back.Out(), nullptr), RESULT_OK);
	EXPECT_EQ(Back.Get(), Object.Get());
	CHeld<IArgument> Copy;
	ASSERT_EQ(Value->Clone(Copy.Out()), RESULT_OK);
	EXPECT_NE(Copy.Get(), Value.Get());
	ASSERT_EQ(Copy->ToObject(Back.Out(), nullptr), RESULT_OK);
	EXPECT_EQ(Back.Get(), Object.Get());

	// An object of no class is of none asked for.
	CHeld<IReflectedNamespace> Namespace;
	CHeld<IReflectedClass> Class;
	ASSERT_EQ(m_pModule->SetInternalName("values"), RESULT_OK);
	ASSERT_EQ(m_pModule->GetNamespace(Namespace.Out()), RESULT_OK);
	ASSERT_EQ(Namespace->NewClass(Class.Out(), "Kind", nullptr), RESULT_OK);
	EXPECT_EQ(Value->ToObject(Back.Out(), Class.Get()), RESULT_NOT_FOUND);
	EXPECT_EQ(Back.Get(), nullptr);
	Object->AssignClass(Class.Get());
	ASSERT_EQ(Value->ToObject(Back.Out(), Class.Get()), RESULT_OK);
	EXPECT_EQ(Back.Get(), Object.Get());

	CHeld<IScripting> Scripting;
	ASSERT_EQ(m_pModule->GetScripting(Scripting.Out()), RESULT_OK);
	ASSERT_EQ(m_pFactory->CreateFunction(Value.Out(), Scripting.Get(), Native, nullptr), RESULT_OK);
	EXPECT_EQ(Unwrap(Value.Get())->ToFunction()->GetReflectedClass(), m_Scripting.GetFunctionClass());
}

TEST_F(CValueViewsTest, TheTypeOfEachMadeValueIsRight)
{
	const struct
	{
		const char* m_szLabel;
		Result (*m_pfnMake)(IArgumentFactory*, IArgument**);
		uint8_t m_ucType;
		const char* m_szTypeName;
	} rgCases[] = {
		{"null", [](IArgumentFactory* f, IArgument** p) { return f->CreateNull(p); }, ARGUMENT_NIL, "null"},
		{"boolean", [](IArgumentFactory* f, IArgument** p) { return f->CreateBoolean(p, false); }, ARGUMENT_BOOLEAN,
			"boolean"},
		{"string", [](IArgumentFactory* f, IArgument** p) { return f->CreateStringZ(p, "x"); }, ARGUMENT_STRING,
			"string"},
		{"int32", [](IArgumentFactory* f, IArgument** p) { return f->CreateInt32(p, 1); }, ARGUMENT_INTEGER,
			"integer"},
		{"int64", [](IArgumentFactory* f, IArgument** p) { return f->CreateInt64(p, 1); }, ARGUMENT_LONGINTEGER,
			"integer"},
		{"single", [](IArgumentFactory* f, IArgument** p) { return f->CreateSingle(p, 1); }, ARGUMENT_FLOAT, "number"},
		{"double", [](IArgumentFactory* f, IArgument** p) { return f->CreateDouble(p, 1); }, ARGUMENT_DOUBLE, "number"},
		{"vector2", [](IArgumentFactory* f, IArgument** p) { return f->CreateVector2D(p, 1, 2); }, ARGUMENT_VECTOR2D,
			"Vector2D"},
		{"array", [](IArgumentFactory* f, IArgument** p) { return f->CreateArray(p); }, ARGUMENT_ARRAY, "array"},
		{"dictionary", [](IArgumentFactory* f, IArgument** p) { return f->CreateDictionary(p); }, ARGUMENT_MAP, "map"},
		{"undefined", [](IArgumentFactory* f, IArgument** p) { return f->CreateUndefined(p); }, ARGUMENT_UNDEFINED,
			"undefined"},
		{"uint32", [](IArgumentFactory* f, IArgument** p) { return f->CreateUInt32(p, 1); }, ARGUMENT_INTEGER,
			"integer"},
		{"uint64", [](IArgumentFactory* f, IArgument** p) { return f->CreateUInt64(p, 1); }, ARGUMENT_LONGINTEGER,
			"integer"},
		{"vector3", [](IArgumentFactory* f, IArgument** p) { return f->CreateVector3D(p, 1, 2, 3); },
			ARGUMENT_VECTOR3D, "Vector3D"},
		{"matrix",
			[](IArgumentFactory* f, IArgument** p) {
				const float rgf[16] = {};
				return f->CreateMatrix4x4(p, rgf);
			},
			ARGUMENT_MATRIX4X4, "Matrix4x4"},
	};
	for (const auto& Case : rgCases)
	{
		CHeld<IArgument> Value;
		ASSERT_EQ(Case.m_pfnMake(m_pFactory, Value.Out()), RESULT_OK) << Case.m_szLabel;
		EXPECT_EQ(Value->GetType(), Case.m_ucType) << Case.m_szLabel;
		EXPECT_STREQ(Value->GetTypeName(), Case.m_szTypeName) << Case.m_szLabel;
		EXPECT_EQ(Value->IsNull(), Case.m_ucType == ARGUMENT_NIL || Case.m_ucType == ARGUMENT_UNDEFINED);
		EXPECT_EQ(Value->IsNumber(), Case.m_ucType == ARGUMENT_INTEGER || Case.m_ucType == ARGUMENT_LONGINTEGER ||
				Case.m_ucType == ARGUMENT_FLOAT || Case.m_ucType == ARGUMENT_DOUBLE)
			<< Case.m_szLabel;
		EXPECT_EQ(Value->IsArray(), Case.m_ucType == ARGUMENT_ARRAY) << Case.m_szLabel;
		EXPECT_EQ(Value->IsDictionary(), Case.m_ucType == ARGUMENT_MAP) << Case.m_szLabel;
		EXPECT_EQ(Value->IsString(), Case.m_ucType == ARGUMENT_STRING) << Case.m_szLabel;
	}
	for (uint8_t ucTag : {uint8_t(22), uint8_t(200)})
	{
		Strong<CArgument> pOdd = Strong<CArgument>::New(new CArgument(ucTag));
		CHeld<IArgument> Odd(GetView(static_cast<CArgument*>(pOdd)));
		EXPECT_STREQ(Odd->GetTypeName(), "unknown");
		// A value of no known kind has no copy.
		CHeld<IArgument> Copy;
		EXPECT_EQ(Odd->Clone(Copy.Out()), RESULT_NOT_AVAILABLE);
		EXPECT_EQ(Copy.Get(), nullptr);
	}
}

TEST_F(CValueViewsTest, UnsignedValuesKeepTheirBits)
{
	CHeld<IArgument> Value;
	ASSERT_EQ(m_pFactory->CreateUInt32(Value.Out(), 0xFFFFFFFFu), RESULT_OK);
	EXPECT_EQ(Value->GetType(), ARGUMENT_INTEGER);
	int32_t iValue = 0;
	uint32_t uiValue = 0;
	ASSERT_EQ(Value->ToInt32(iValue), RESULT_OK);
	ASSERT_EQ(Value->ToUInt32(uiValue), RESULT_OK);
	EXPECT_EQ(iValue, -1);
	EXPECT_EQ(uiValue, 4294967295u);

	ASSERT_EQ(m_pFactory->CreateUInt64(Value.Out(), ~0ull), RESULT_OK);
	int64_t iWide = 0;
	uint64_t uiWide = 0;
	ASSERT_EQ(Value->ToInt64(iWide), RESULT_OK);
	ASSERT_EQ(Value->ToUInt64(uiWide), RESULT_OK);
	EXPECT_EQ(iWide, -1);
	EXPECT_EQ(uiWide, ~0ull);
}

TEST_F(CValueViewsTest, ConversionsOfAnotherKindGiveNoValueAndStoreNothing)
{
	CHeld<IArgument> Text;
	CHeld<IArgument> Number;
	ASSERT_EQ(m_pFactory->CreateStringZ(Text.Out(), "12"), RESULT_OK);
	ASSERT_EQ(m_pFactory->CreateDouble(Number.Out(), 1.5), RESULT_OK);

	int32_t iValue = 99;
	uint32_t uiValue = 99;
	int64_t iWide = 99;
	uint64_t uiWide = 99;
	float fValue = 99;
	double dValue = 99;
	float fX = 99, fY = 99, fZ = 99;
	float rgfMatrix[16] = {99};
	const char* szText = "untouched";
	CHeld<IFunction> Function;
	CHeld<IStream> Stream;
	const struct
	{
		const char* m_szLabel;
		Result m_Result;
	} rgCases[] = {
		{"int32 of text", Text->ToInt32(iValue)},
		{"uint32 of text", Text->ToUInt32(uiValue)},
		{"int64 of text", Text->ToInt64(iWide)},
		{"uint64 of text", Text->ToUInt64(uiWide)},
		{"single of text", Text->ToSingle(fValue)},
		{"double of text", Text->ToDouble(dValue)},
		{"boolean of text", Text->ToBoolean()},
		{"vector2 of text", Text->ToVector2D(fX, fY)},
		{"vector3 of text", Text->ToVector3D(fX, fY, fZ)},
		{"matrix of text", Text->ToMatrix4x4(rgfMatrix)},
		{"function of text", Text->ToFunction(Function.Out())},
		{"stream of text", Text->ToStream(Stream.Out())},
		{"string of a number", Number->ToString(&szText, nullptr)},
	};
	for (const auto& Case : rgCases)
		EXPECT_EQ(Case.m_Result, RESULT_NO_VALUE) << Case.m_szLabel;
	EXPECT_EQ(iValue, 99);
	EXPECT_EQ(uiValue, 99u);
	EXPECT_EQ(iWide, 99);
	EXPECT_EQ(uiWide, 99u);
	EXPECT_EQ(fValue, 99);
	EXPECT_EQ(dValue, 99);
	EXPECT_EQ(fX, 99);
	EXPECT_EQ(rgfMatrix[0], 99);
	EXPECT_STREQ(szText, "untouched");
	EXPECT_EQ(Function.Get(), nullptr);
	EXPECT_EQ(Text->ToVector4D(fX, fY, fZ, fZ), RESULT_NOT_AVAILABLE);
	EXPECT_EQ(Text->ToString(nullptr, nullptr), RESULT_NULL_ARGUMENT);
	EXPECT_EQ(Text->ToMatrix4x4(nullptr), RESULT_NULL_ARGUMENT);
	CHeld<IBaseObject> Object;
	EXPECT_EQ(Text->ToObject(Object.Out(), nullptr), RESULT_NOT_FOUND);

	ASSERT_EQ(Number->ToInt32(iValue), RESULT_OK);
	EXPECT_EQ(iValue, 1);
	CHeld<IArgument> Flag;
	ASSERT_EQ(m_pFactory->CreateBoolean(Flag.Out(), false), RESULT_OK);
	EXPECT_EQ(Flag->ToBoolean(), RESULT_NO);
	ASSERT_EQ(m_pFactory->CreateBoolean(Flag.Out(), true), RESULT_OK);
	EXPECT_EQ(Flag->ToBoolean(), RESULT_OK);
}

TEST_F(CValueViewsTest, AFunctionValueWithoutAFunctionHasNone)
{
	Strong<CArgument> pEmpty = Strong<CArgument>::New(new CArgumentFunction(nullptr));
	CHeld<IArgument> Value(GetView(static_cast<CArgument*>(pEmpty)));
	IFunction* pFunction = reinterpret_cast<IFunction*>(this);
	EXPECT_EQ(Value->ToFunction(&pFunction), RESULT_NO_VALUE);
	EXPECT_EQ(pFunction, nullptr);
	void* pOut = nullptr;
	EXPECT_EQ(Value->GetInterface(ID_Function, &pOut), RESULT_NO_VALUE);

	CHeld<IScripting> Scripting;
	ASSERT_EQ(m_pModule->GetScripting(Scripting.Out()), RESULT_OK);
	CHeld<IArgument> Made;
	ASSERT_EQ(m_pFactory->CreateFunction(Made.Out(), Scripting.Get(), Native, nullptr), RESULT_OK);
	CHeld<IFunction> Callable;
	ASSERT_EQ(Made->ToFunction(Callable.Out()), RESULT_OK);
	CHeld<IArray> Results(NewContainer<IArray>(ID_Array));
	ASSERT_EQ(Callable->Call(nullptr, Results.Get()), RESULT_OK);
	CHeld<IArgument> First;
	ASSERT_EQ(Results->GetAt(0, First.Out()), RESULT_OK);
	const char* szText = nullptr;
	ASSERT_EQ(First->ToString(&szText, nullptr), RESULT_OK);
	EXPECT_STREQ(szText, "called");
}

TEST_F(CValueViewsTest, ArraysAndDictionariesLeadToTheirValueAndBack)
{
	CHeld<IArgument> ArrayValue;
	CHeld<IArgument> MapValue;
	ASSERT_EQ(m_pFactory->CreateArray(ArrayValue.Out()), RESULT_OK);
	ASSERT_EQ(m_pFactory->CreateDictionary(MapValue.Out()), RESULT_OK);
	void* pOut = this;
	EXPECT_EQ(MapValue->GetInterface(ID_Array, &pOut), RESULT_NOT_FOUND);
	EXPECT_EQ(pOut, this);
	EXPECT_EQ(ArrayValue->GetInterface(ID_Dictionary, &pOut), RESULT_NOT_FOUND);

	CHeld<IArray> Array;
	ASSERT_EQ(ArrayValue->GetInterface(ID_Array, Array.OutVoid()), RESULT_OK);
	CHeld<IArgument> Back;
	ASSERT_EQ(Array->GetInterface(ID_Argument, Back.OutVoid()), RESULT_OK);
	EXPECT_EQ(Back.Get(), ArrayValue.Get());
	CHeld<IDictionary> Map;
	ASSERT_EQ(MapValue->GetInterface(ID_Dictionary, Map.OutVoid()), RESULT_OK);
	ASSERT_EQ(Map->GetInterface(ID_Argument, Back.OutVoid()), RESULT_OK);
	EXPECT_EQ(Back.Get(), MapValue.Get());
}

TEST_F(CValueViewsTest, ArraysCopyWhatIsInsertedAndMoveWhole)
{
	CHeld<IArray> Source(NewContainer<IArray>(ID_Array));
	CHeld<IArray> Target(NewContainer<IArray>(ID_Array));
	CHeld<IArgument> One(Int(1));
	CHeld<IArgument> Two(Int(2));
	ASSERT_EQ(Source->Insert(One.Get()), RESULT_OK);
	ASSERT_EQ(Source->Insert(Two.Get()), RESULT_OK);
	EXPECT_EQ(Source->Insert(nullptr), RESULT_NULL_ARGUMENT);
	CHeld<IArgument> Element;
	ASSERT_EQ(Source->GetAt(0, Element.Out()), RESULT_OK);
	EXPECT_NE(Element.Get(), One.Get());
	EXPECT_EQ(Source->GetAt(2, Element.Out()), RESULT_OUT_OF_RANGE);
	EXPECT_EQ(Element.Get(), nullptr);

	CHeld<IArgument> Old(Int(7));
	Target->Insert(Old.Get());
	Target->Insert(Old.Get());
	ASSERT_EQ(Source->Move(Target.Get()), RESULT_OK);
	EXPECT_EQ(Source->GetCount(), 0u);
	ASSERT_EQ(Target->GetCount(), 2u);
	int32_t iValue = 0;
	ASSERT_EQ(Target->GetAt(1, Element.Out()), RESULT_OK);
	ASSERT_EQ(Element->ToInt32(iValue), RESULT_OK);
	EXPECT_EQ(iValue, 2);
	EXPECT_EQ(Target->Move(Target.Get()), RESULT_OK);
	EXPECT_EQ(Target->GetCount(), 2u);

	EXPECT_EQ(Target->Resize(3), RESULT_OK);
	EXPECT_EQ(Target->GetCount(), 0u);
	Target->Insert(Old.Get());
	// More room than memory or any script can hold leaves the array as it was.
	EXPECT_EQ(Target->Resize(SIZE_MAX / 4), RESULT_NOT_AVAILABLE);
	EXPECT_EQ(Target->GetCount(), 1u);
	EXPECT_EQ(Target->Clear(), RESULT_OK);
	EXPECT_EQ(Target->GetCount(), 0u);
}

TEST_F(CValueViewsTest, AnArrayCannotBeMovedIntoOneOfItsOwnElements)
{
	CHeld<IArray> Outer(NewContainer<IArray>(ID_Array));
	CHeld<IArgument> InnerValue;
	ASSERT_EQ(m_pFactory->CreateArray(InnerValue.Out()), RESULT_OK);
	ASSERT_EQ(Outer->Insert(InnerValue.Get()), RESULT_OK);
	CHeld<IArgument> Stored;
	ASSERT_EQ(Outer->GetAt(0, Stored.Out()), RESULT_OK);
	CHeld<IArray> Inner;
	ASSERT_EQ(Stored->GetInterface(ID_Array, Inner.OutVoid()), RESULT_OK);
	EXPECT_EQ(Outer->Move(Inner.Get()), RESULT_NOT_AVAILABLE);
	EXPECT_EQ(Outer->GetCount(), 1u);
}

TEST_F(CValueViewsTest, DictionariesShareWhatIsSet)
{
	CHeld<IDictionary> Map(NewContainer<IDictionary>(ID_Dictionary));
	CHeld<IArgument> Value(Int(5));
	CArgument* pValue = Unwrap(Value.Get());
	ASSERT_EQ(Map->Set("key", Value.Get()), RESULT_OK);
	ASSERT_EQ(Map->Set("key", Value.Get()), RESULT_OK);
	EXPECT_EQ(pValue->GetRefCount(), 2);
	CHeld<IArgument> Got;
	ASSERT_EQ(Map->Get("key", Got.Out()), RESULT_OK);
	EXPECT_EQ(Got.Get(), Value.Get());

	CHeld<IArgument> Other(Int(6));
	ASSERT_EQ(Map->Set("key", Other.Get()), RESULT_OK);
	EXPECT_EQ(pValue->GetRefCount(), 1);
	EXPECT_EQ(Map->Remove("key"), RESULT_OK);
	EXPECT_EQ(Map->Remove("key"), RESULT_NOT_FOUND);
	EXPECT_EQ(Map->Get("key", Got.Out()), RESULT_NOT_FOUND);
	EXPECT_EQ(Got.Get(), nullptr);
	EXPECT_EQ(Map->Set(nullptr, Value.Get()), RESULT_NULL_ARGUMENT);
	EXPECT_EQ(Map->Set("key", nullptr), RESULT_NULL_ARGUMENT);
	EXPECT_EQ(Map->Get("key", nullptr), RESULT_NULL_ARGUMENT);

	Map->Set("a", Value.Get());
	EXPECT_EQ(Map->Resize(8), RESULT_OK);
	EXPECT_EQ(Map->Get("a", Got.Out()), RESULT_NOT_FOUND);
	EXPECT_EQ(Map->Resize(SIZE_MAX), RESULT_NOT_AVAILABLE);
}

TEST_F(CValueViewsTest, ADictionaryCannotHoldItself)
{
	CHeld<IDictionary> Map(NewContainer<IDictionary>(ID_Dictionary));
	CHeld<IArgument> Self;
	ASSERT_EQ(Map->GetInterface(ID_Argument, Self.OutVoid()), RESULT_OK);
	EXPECT_EQ(Map->Set("self", Self.Get()), RESULT_NOT_AVAILABLE);

	// Nor hold a map that holds it.
	CHeld<IDictionary> Other(NewContainer<IDictionary>(ID_Dictionary));
	CHeld<IArgument> OtherValue;
	ASSERT_EQ(Other->GetInterface(ID_Argument, OtherValue.OutVoid()), RESULT_OK);
	ASSERT_EQ(Other->Set("back", Self.Get()), RESULT_OK);
	EXPECT_EQ(Map->Set("other", OtherValue.Get()), RESULT_NOT_AVAILABLE);
	CHeld<IArgument> Got;
	EXPECT_EQ(Map->Get("other", Got.Out()), RESULT_NOT_FOUND);
}

TEST_F(CValueViewsTest, StreamObjectsGiveTheirStream)
{
	RegisterScriptClasses(&m_Scripting);
	Strong<CUnlimitedStream> pStream = Strong<CUnlimitedStream>::New(new CUnlimitedStream());
	Strong<CScriptStream> pScriptStream =
		Strong<CScriptStream>::New(new CScriptStream(m_Scripting.GetGlobal()->m_pStreamClass, pStream));
	Strong<CArgument> pValue = Strong<CArgument>::New(CArgument::Create(static_cast<CBaseObject*>(pScriptStream)));
	CHeld<IArgument> Value(GetView(static_cast<CArgument*>(pValue)));
	CHeld<IStream> Stream;
	ASSERT_EQ(Value->ToStream(Stream.Out()), RESULT_OK);
	EXPECT_EQ(Unwrap(Stream.Get()), pStream.GetPointer());

	CHeld<IBaseObject> Plain;
	ASSERT_EQ(m_pModule->CreateInstance(ID_BaseObject, Plain.OutVoid()), RESULT_OK);
	CHeld<IArgument> PlainValue;
	ASSERT_EQ(m_pFactory->CreateObject(PlainValue.Out(), Plain.Get()), RESULT_OK);
	EXPECT_EQ(PlainValue->ToStream(Stream.Out()), RESULT_NO_VALUE);
	EXPECT_EQ(Stream.Get(), nullptr);
}

TEST_F(CValueViewsTest, NullOutputsAndNullInputsAreRefused)
{
	CHeld<IScripting> Scripting;
	ASSERT_EQ(m_pModule->GetScripting(Scripting.Out()), RESULT_OK);
	IArgument* pValue = nullptr;
	EXPECT_EQ(m_pFactory->CreateNull(nullptr), RESULT_NULL_ARGUMENT);
	EXPECT_EQ(m_pFactory->CreateString(&pValue, nullptr, 1), RESULT_NULL_ARGUMENT);
	EXPECT_EQ(m_pFactory->CreateStringZ(&pValue, nullptr), RESULT_NULL_ARGUMENT);
	EXPECT_EQ(m_pFactory->CreateObject(&pValue, nullptr), RESULT_NULL_ARGUMENT);
	EXPECT_EQ(m_pFactory->CreateMatrix4x4(&pValue, nullptr), RESULT_NULL_ARGUMENT);
	EXPECT_EQ(m_pFactory->CreateFunction(&pValue, nullptr, Native, nullptr), RESULT_NULL_ARGUMENT);
	EXPECT_EQ(m_pFactory->CreateFunction(&pValue, Scripting.Get(), nullptr, nullptr), RESULT_NULL_ARGUMENT);
	EXPECT_EQ(pValue, nullptr);
	EXPECT_EQ(m_pFactory->CreateVector4D(&pValue, 1, 2, 3, 4), RESULT_NOT_AVAILABLE);
	EXPECT_EQ(pValue, nullptr);
	// A length that leaves no room for the terminator.
	EXPECT_EQ(m_pFactory->CreateString(&pValue, "x", SIZE_MAX), RESULT_NO_VALUE);
	EXPECT_EQ(pValue, nullptr);

	void* pOut = nullptr;
	EXPECT_EQ(m_pFactory->GetInterface(ID_ArgumentFactory, &pOut), RESULT_OK);
	EXPECT_EQ(pOut, m_pFactory);
	EXPECT_EQ(m_pFactory->Release(), 1);
	// Every request makes a factory of its own.
	void* pSecond = nullptr;
	ASSERT_EQ(m_pModule->CreateInstance(ID_ArgumentFactory, &pSecond), RESULT_OK);
	EXPECT_NE(pSecond, m_pFactory);
	EXPECT_EQ(static_cast<IArgumentFactory*>(pSecond)->Release(), 0);
}
