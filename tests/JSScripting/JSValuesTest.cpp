#include "JSFixture.h"

#include <cmath>

namespace
{
class JSValuesTest : public JSFixture
{
protected:
	// The engine value that record() received for one script expression.
	CArgument* Convert(const std::string& Expression)
	{
		m_Recorded.Clear();
		EXPECT_TRUE(Run("record(" + Expression + ");")) << Expression;
		EXPECT_EQ(1u, Recorded().GetArrayCount()) << Expression;
		return RecordedAt(0);
	}

	// Passes the value into a script function as its argument, which answers whether Check holds for v.
	bool CheckArgument(CArgument* pValue, const std::string& Check)
	{
		Strong<CArgument> pHold = Strong<CArgument>::New(pValue);
		m_Recorded.Clear();
		if (!Run("record(v => " + Check + ");"))
			return false;
		Strong<CFunction> pFunction(RecordedAt(0)->ToFunction());
		CArgumentArray Arguments;
		Arguments.Add(pHold);
		CReturnValue Result;
		if (!pFunction->Call(Arguments, &Result) || Result.GetReturnArgument() == nullptr)
			return false;
		return Result.GetReturnArgument()->IsBoolean() && Result.GetReturnArgument()->ToBoolean();
	}

	// Returns the value from a native, and answers whether Check holds for it.
	bool CheckReturn(CArgument* pValue, const std::string& Check)
	{
		SetGive(pValue);
		m_Recorded.Clear();
		if (!Run("{ const v = give(); record(" + Check + "); }") || RecordedAt(0) == nullptr)
			return false;
		return RecordedAt(0)->IsBoolean() && RecordedAt(0)->ToBoolean();
	}

	CArgument* NewThingValue(int32_t iValue)
	{
		CThing* pThing = new CThing(m_pThingClass, iValue);
		CArgument* pValue = pThing->CreateArgument();
		pThing->Release();
		return pValue;
	}

	CArgumentArray* Nested(unsigned Levels)
	{
		CArgumentArray* pOuter = new CArgumentArray();
		CArgumentArray* pInner = pOuter;
		for (unsigned i = 1; i < Levels; i++)
		{
			CArgumentArray* pNext = new CArgumentArray();
			pInner->AddAndOwn(pNext);
			pInner = pNext;
		}
		return pOuter;
	}
};

// JavaScript to engine

TEST_F(JSValuesTest, ScriptValuesBecomeTheseTags)
{
	struct tCase
	{
		const char* szExpression;
		uint8_t ucType;
	};
	const tCase Cases[] = {
		{ "undefined", ARGUMENT_UNDEFINED },
		{ "null", ARGUMENT_NIL },
		{ "7", ARGUMENT_INTEGER },
		{ "-0", ARGUMENT_DOUBLE },
		{ "1.5", ARGUMENT_DOUBLE },
		{ "2147483648", ARGUMENT_DOUBLE },
		{ "'text'", ARGUMENT_STRING },
		{ "true", ARGUMENT_BOOLEAN },
		{ "Symbol('s')", ARGUMENT_UNDEFINED },
		{ "10n", ARGUMENT_UNDEFINED },
		{ "({ a: 1 })", ARGUMENT_JSVALUE },
		{ "new Date()", ARGUMENT_JSVALUE },
		{ "new Uint8Array(2)", ARGUMENT_JSVALUE },
		{ "new ArrayBuffer(3)", ARGUMENT_BYTES },
		{ "() => 1", ARGUMENT_FUNCTION },
		{ "class {}", ARGUMENT_FUNCTION },
		{ "[1, 'a']", ARGUMENT_ARRAY },
		{ "new Thing(3)", ARGUMENT_OBJECT },
		{ "new Vec2(1, 2)", ARGUMENT_VECTOR2D },
		{ "new Vec3(1, 2, 3)", ARGUMENT_VECTOR3D },
		{ "new Matrix4x4()", ARGUMENT_MATRIX4X4 },
		{ "Thing.prototype", ARGUMENT_UNDEFINED },
		{ "Object.create(Thing.prototype)", ARGUMENT_UNDEFINED },
	};
	for (const tCase& Case : Cases)
	{
		CArgument* pValue = Convert(Case.szExpression);
		ASSERT_NE(nullptr, pValue) << Case.szExpression;
		EXPECT_EQ(Case.ucType, pValue->GetType()) << Case.szExpression;
	}
}

TEST_F(JSValuesTest, NumbersKeepTheirValues)
{
	EXPECT_EQ(-7, static_cast<CArgumentInteger*>(Convert("-7"))->GetValue());
	EXPECT_EQ(1.5, static_cast<CArgumentDouble*>(Convert("1.5"))->GetValue());
	EXPECT_TRUE(std::signbit(static_cast<CArgumentDouble*>(Convert("-0"))->GetValue()));
}

TEST_F(JSValuesTest, ArraysArriveAsEngineArraysOfIntegersAndDoublesNestedAsTheyWere)
{
	CArgument* pValue = Convert("[1, 2.5, [3]]");
	ASSERT_EQ(ARGUMENT_ARRAY, pValue->GetType());
	CArgumentArray* pArray = static_cast<CArgumentArray*>(pValue);
	ASSERT_EQ(3u, pArray->GetArrayCount());
	EXPECT_EQ(ARGUMENT_INTEGER, pArray->GetAt(0)->GetType());
	EXPECT_EQ(ARGUMENT_DOUBLE, pArray->GetAt(1)->GetType());
	ASSERT_EQ(ARGUMENT_ARRAY, pArray->GetAt(2)->GetType());
	EXPECT_EQ(3, static_cast<CArgumentInteger*>(static_cast<CArgumentArray*>(pArray->GetAt(2))->GetAt(0))->GetValue());
}

TEST_F(JSValuesTest, HolesOfAnArrayArriveUndefined)
{
	CArgumentArray* pArray = static_cast<CArgumentArray*>(Convert("[, 1]"));
	ASSERT_EQ(2u, pArray->GetArrayCount());
	EXPECT_EQ(ARGUMENT_UNDEFINED, pArray->GetAt(0)->GetType());
}

TEST_F(JSValuesTest, ArrayBufferArrivesAsACopyOfItsBytes)
{
	CArgument* pValue = Convert("new Uint8Array([1, 0, 255]).buffer");
	size_t Length = 0;
	const uint8_t* pData = pValue->ToBytes(Length);
	ASSERT_EQ(3u, Length);
	EXPECT_EQ(0, memcmp("\x01\x00\xFF", pData, 3));
}

TEST_F(JSValuesTest, EngineObjectArrivesAsItselfAndVectorsByValue)
{
	CArgument* pValue = Convert("new Thing(3)");
	EXPECT_EQ(3, static_cast<CThing*>(pValue->ToObject())->m_iValue);
	CVector3D Vector;
	Convert("new Vec3(1, 2, 3)")->ToVector3D(Vector);
	EXPECT_EQ(3.0f, Vector.z);
}

TEST_F(JSValuesTest, StringsTravelAsUtf8AndEndAtAZeroByte)
{
	EXPECT_STREQ("h\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", Convert("'h\\u00e9\\u20ac\\u{1F600}'")->ToString());
	EXPECT_STREQ("a", Convert("'a\\0b'")->ToString());
	EXPECT_TRUE(CheckArgument(new CArgumentString("a\0b", 3), "v === 'a'"));
	EXPECT_TRUE(CheckReturn(new CArgumentString("h\xC3\xA9", 3), "v === 'h\\u00e9'"));
}

// Engine to JavaScript

struct tEngineCase
{
	const char* szName;
	std::function<CArgument*()> pfnMake;
	const char* szArgumentCheck;
	const char* szReturnCheck;
};

TEST_F(JSValuesTest, EngineValuesReachScriptsAsArgumentsAndResults)
{
	const tEngineCase Cases[] = {
		{ "nil", [] { return new CArgument(ARGUMENT_NIL); }, "v === null", "v === null" },
		{ "undefined", [] { return new CArgument(ARGUMENT_UNDEFINED); }, "v === undefined",
			"v === undefined" },
		{ "boolean", [] { return new CArgumentBoolean(true); }, "v === true", "v === true" },
		{ "integer", [] { return new CArgumentInteger(-3); }, "v === -3", "v === -3" },
		{ "float", [] { return new CArgumentFloat(1.5f); }, "v === 1.5", "v === 1.5" },
		{ "double", [] { return new CArgumentDouble(0.1); }, "v === 0.1", "v === 0.1" },
		{ "long integer", [] { return new CArgumentLongInteger(9007199254740993LL); },
			"v === 9007199254740992", "v === 9007199254740992" },
		{ "string", [] { return new CArgumentString("s", 1); }, "v === 's'", "v === 's'" },
		{ "object", [this] { return NewThingValue(4); }, "v instanceof Thing && v.value === 4",
			"v instanceof Thing && v.getValue() === 4" },
		{ "null object", [] { return new CArgumentObject(nullptr); }, "v === undefined",
			"v === null" },
		{ "Vector2D", [] { return new CArgumentVector2D(CVector2D(1, 2)); },
			"v instanceof Vec2 && v.x === 1 && v[1] === 2", "v instanceof Vec2 && v.y === 2" },
		{ "Vector3D", [] { return new CArgumentVector3D(CVector3D(1, 2, 3)); },
			"v instanceof Vec3 && v.z === 3", "v instanceof Vec3 && v[2] === 3" },
		{ "Matrix4x4", [] { return new CArgumentMatrix4x4(); }, "v instanceof Matrix4x4",
			"v instanceof Matrix4x4" },
		{ "array",
			[] {
				CArgumentArray* pArray = new CArgumentArray();
				pArray->AddNumber(1);
				pArray->AddString("a");
				return pArray;
			},
			"Array.isArray(v) && v.length === 2 && v[1] === 'a'", "Array.isArray(v) && v[0] === 1" },
		{ "map",
			[] {
				CArgumentMap* pMap = new CArgumentMap();
				pMap->Set("k\xC3\xA9", new CArgumentInteger(1));
				pMap->Set("0", new CArgumentObject(nullptr));
				return pMap;
			},
			"v['k\\u00e9'] === 1 && v[0] === undefined && Object.keys(v).length === 2",
			"v['k\\u00e9'] === 1 && v[0] === null" },
		{ "bytes", [] { return new CArgumentBytes(reinterpret_cast<const uint8_t*>("\x01\x02"), 2); },
			"v instanceof ArrayBuffer && new Uint8Array(v)[1] === 2", "v.byteLength === 2" },
		{ "function", [this] {
			 CRecordingFunction* pFunction = new CRecordingFunction(&m_Scripting);
			 CArgument* pValue = new CArgumentFunction(pFunction);
			 pFunction->Release();
			 return pValue;
		 },
			"typeof v === 'function' && v(1) === 'from engine'", "v() === 'from engine'" },
		{ "Lua reference", [] { return new CArgument(ARGUMENT_LUAREF); }, "v === undefined",
			"v === null" },
		{ "Squirrel reference", [] { return new CArgument(ARGUMENT_SQREF); }, "v === undefined",
			"v === null" },
		{ "table", [] { return new CArgument(ARGUMENT_TABLE); }, "v === undefined", "v === null" },
	};
	for (const tEngineCase& Case : Cases)
	{
		EXPECT_TRUE(CheckArgument(Case.pfnMake(), Case.szArgumentCheck)) << Case.szName;
		EXPECT_TRUE(CheckReturn(Case.pfnMake(), Case.szReturnCheck)) << Case.szName;
	}
	EXPECT_TRUE(LogLines().empty());
}

TEST_F(JSValuesTest, NativeWithoutResultGivesUndefined)
{
	ASSERT_TRUE(Run("record(record());"));
	EXPECT_EQ(ARGUMENT_UNDEFINED, RecordedAt(0)->GetType());
}

TEST_F(JSValuesTest, ObjectOfAClassTheLanguageDoesNotKnowCannotBeShown)
{
	ReflectedClass* pLate = m_Scripting.GetGlobal()->NewClass("Late");
	CThing* pThing = new CThing(pLate, 1);
	CArgument* pValue = pThing->CreateArgument();
	pThing->Release();
	Strong<CArgument> pHold = Strong<CArgument>::New(pValue);
	pValue->AddRef();
	EXPECT_TRUE(CheckArgument(pValue, "v === undefined"));
	pValue->AddRef();
	EXPECT_TRUE(CheckReturn(pValue, "v === null"));
}

// Nesting

TEST_F(JSValuesTest, ArrayThatContainsItselfFailsInTheCallingScript)
{
	ASSERT_TRUE(Run("const a = [1]; a.push([a]);"
					"try { record(a); } catch (e) { record('caught', e.message); }"));
	ASSERT_EQ(2u, Recorded().GetArrayCount());
	EXPECT_STREQ("Cannot convert a value that contains itself", RecordedAt(1)->ToString());
	ASSERT_TRUE(Run("const b = [1]; record([b, b]);"));
	EXPECT_EQ(2u, static_cast<CArgumentArray*>(RecordedAt(0))->GetArrayCount());
}

TEST_F(JSValuesTest, ScriptArraysNestAtMost64Deep)
{
	const std::string Build = "function nest(n) { let a = []; for (let i = 1; i < n; i++) a = [a]; return a; }";
	ASSERT_TRUE(Run(Build + "record(nest(64));"));
	EXPECT_EQ(ARGUMENT_ARRAY, RecordedAt(0)->GetType());
	ASSERT_TRUE(Run("try { record(nest(65)); } catch (e) { record(e.message); }"));
	EXPECT_STREQ("Cannot convert a value nested deeper than 64 levels", RecordedAt(0)->ToString());
}

TEST_F(JSValuesTest, OverlongArrayFails)
{
	ASSERT_TRUE(Run("const a = []; a.length = 100000000; try { record(a); } catch (e) { record(e.message); }"));
	EXPECT_STREQ("Cannot convert an array of 100000000 elements", RecordedAt(0)->ToString());
}

// The same array held in many places is one array for the script but one copy per place for the engine.
TEST_F(JSValuesTest, OneCallConvertsAtMostAnOverlongArraysWorthOfElements)
{
	const char* const Calls[] = { "record([a, a])", "record(a, a)" };
	ASSERT_TRUE(Run("const a = new Array(2100000).fill(0);"));
	for (const char* szCall : Calls)
	{
		m_Recorded.Clear();
		ASSERT_TRUE(Run(std::string("try { ") + szCall + "; } catch (e) { record(e.message); }")) << szCall;
		EXPECT_EQ("Cannot convert more than 4194304 array elements at once", TextOf(RecordedAt(0))) << szCall;
	}
}

TEST_F(JSValuesTest, EngineValuesNestAtMost64Deep)
{
	EXPECT_TRUE(CheckReturn(Nested(64), "Array.isArray(v)"));
	SetGive(Nested(65));
	ASSERT_TRUE(Run("try { give(); } catch (e) { record(e.message); }"));
	EXPECT_STREQ("Cannot convert a value nested deeper than 64 levels", RecordedAt(0)->ToString());

	EXPECT_FALSE(CheckArgument(Nested(65), "true"));
	EXPECT_TRUE(Logged("[ERROR]   Error: Cannot convert a value nested deeper than 64 levels"));
}

TEST_F(JSValuesTest, ResultThatCannotBeConvertedFailsTheCall)
{
	ASSERT_TRUE(Run("record(() => { const a = []; a.push(a); return a; });"));
	Strong<CFunction> pFunction(RecordedAt(0)->ToFunction());
	CReturnValue Result;
	EXPECT_FALSE(pFunction->Call(CArgumentArray(), &Result));
	EXPECT_TRUE(Logged("[ERROR]   Error: Cannot convert a value that contains itself"));
}

TEST_F(JSValuesTest, ExceptionDuringConversionFailsTheCall)
{
	// Into a native: the script catches the error.
	ASSERT_TRUE(Run("const a = [1]; Object.defineProperty(a, 1, { get() { throw new Error('bad element'); } });"
					"try { record(a); } catch (e) { record('caught ' + e.message); }"));
	EXPECT_EQ("caught bad element", TextOf(RecordedAt(0)));
	ASSERT_TRUE(Run("const r = Proxy.revocable([], {}); r.revoke();"
					"try { record(r.proxy); } catch (e) { record(e instanceof TypeError); }"));
	EXPECT_TRUE(IsTrue(RecordedAt(0)));

	// As the result of a function the engine calls: logged, and the call fails.
	ASSERT_TRUE(Run("record(() => a);"));
	Strong<CFunction> pFunction(RecordedAt(0)->ToFunction());
	CReturnValue Result;
	EXPECT_FALSE(pFunction->Call(CArgumentArray(), &Result));
	EXPECT_TRUE(Logged("[ERROR]   Error: bad element"));
}

// Script objects and functions held by the engine

TEST_F(JSValuesTest, PlainObjectPassedToAnotherResourceIsUsableThere)
{
	CScriptEnvironment* pOther = NewEnvironment();
	ASSERT_NE(nullptr, pOther);
	ASSERT_TRUE(Run("record({ n: 2, twice() { return this.n * 2; } });"));
	Strong<CArgument> pObject = Strong<CArgument>::New(RecordedAt(0)->Clone());
	ASSERT_EQ(ARGUMENT_JSVALUE, pObject->GetType());

	ASSERT_TRUE(Run("record(v => v.n + v.twice());", pOther));
	Strong<CFunction> pFunction(RecordedAt(0)->ToFunction());
	CArgumentArray Arguments;
	Arguments.Add(pObject);
	CReturnValue Result;
	ASSERT_TRUE(pFunction->Call(Arguments, &Result));
	EXPECT_EQ(6, static_cast<CArgumentInteger*>(Result.GetReturnArgument())->GetValue());

	pObject->AddRef();
	SetGive(pObject);
	ASSERT_TRUE(Run("record(give().twice());", pOther));
	EXPECT_EQ(4, static_cast<CArgumentInteger*>(RecordedAt(0))->GetValue());
	pOther->Destroy();
}

TEST_F(JSValuesTest, HeldObjectKeepsItsScriptObjectAlive)
{
	ASSERT_TRUE(Run("record({ mark: 'kept' });"));
	Strong<CArgument> pObject = Strong<CArgument>::New(RecordedAt(0)->Clone());
	m_Recorded.Clear();
	CollectGarbage();
	pObject->AddRef();
	EXPECT_TRUE(CheckArgument(pObject.GetPointer(), "v.mark === 'kept'"));
}

TEST_F(JSValuesTest, EngineFunctionComesBackAsItself)
{
	CRecordingFunction* pFunction = new CRecordingFunction(&m_Scripting);
	SetGive(new CArgumentFunction(pFunction));
	ASSERT_TRUE(Run("record(give());"));
	EXPECT_EQ(pFunction, RecordedAt(0)->ToFunction());
	pFunction->Release();
}

TEST_F(JSValuesTest, EngineFunctionLivesWhileAScriptHoldsIt)
{
	CRecordingFunction* pFunction = new CRecordingFunction(&m_Scripting);
	SetGive(new CArgumentFunction(pFunction));
	pFunction->Release();
	ASSERT_TRUE(Run("var f = give();"));
	SetGive(nullptr);
	CollectGarbage();
	EXPECT_EQ(1, CRecordingFunction::s_iLive);
	ASSERT_TRUE(Run("f('x');"));
	EXPECT_EQ(1, pFunction->m_Calls);
	ASSERT_TRUE(Run("f = null;"));
	CollectGarbage();
	EXPECT_EQ(0, CRecordingFunction::s_iLive);
}

TEST_F(JSValuesTest, HeldValuesOutlivingTheLanguageAreEmpty)
{
	ASSERT_TRUE(Run("record({}, () => 1);"));
	Strong<CArgument> pObject = Strong<CArgument>::New(RecordedAt(0)->Clone());
	m_Recorded.Clear();
	DestroyLanguage();

	EXPECT_EQ(nullptr, static_cast<CArgumentJSValue*>(pObject.GetPointer())->GetObject());
	Strong<CArgument> pCopy = Strong<CArgument>::New(pObject->Clone());
	EXPECT_EQ(nullptr, static_cast<CArgumentJSValue*>(pCopy.GetPointer())->GetObject());
}
}
