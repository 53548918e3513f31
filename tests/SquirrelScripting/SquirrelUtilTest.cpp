// What scripts see of the engine: value conversion both ways, classes and instances of engine objects, namespace
// tables and function values.

#include <cstring>

#include "SqFixture.h"

namespace
{
using SquirrelUtilTest = SqFixture;
}

TEST_F(SquirrelUtilTest, ScriptValuesReachNativesWithTheirTags)
{
	struct tCase
	{
		const char* m_szExpression;
		uint8_t m_ucType;
	};
	const tCase rgCases[] = {
		{"null", ARGUMENT_NIL},
		{"true", ARGUMENT_BOOLEAN},
		{"\"text\"", ARGUMENT_STRING},
		{"2147483646", ARGUMENT_INTEGER},
		{"2147483647", ARGUMENT_LONGINTEGER},
		{"-2147483648", ARGUMENT_INTEGER},
		{"-2147483649", ARGUMENT_LONGINTEGER},
		{"1.5", ARGUMENT_FLOAT},
		{"[1, \"a\"]", ARGUMENT_ARRAY},
		{"function() {}", ARGUMENT_FUNCTION},
		{"blob(2)", ARGUMENT_BYTES},
		{"Vec3(1, 2, 3)", ARGUMENT_VECTOR3D},
		{"Vec2(1, 2)", ARGUMENT_VECTOR2D},
		{"Matrix4x4()", ARGUMENT_MATRIX4X4},
		{"Thing(1)", ARGUMENT_OBJECT},
		{"{a = 1}", ARGUMENT_SQREF},
		{"Thing", ARGUMENT_SQREF},
		{"print", ARGUMENT_SQREF},
		{"newthread(function() {})", ARGUMENT_SQREF},
		{"stdout", ARGUMENT_SQREF},
		{"(class {})()", ARGUMENT_SQREF},
		{"(class extends blob {})(2)", ARGUMENT_BYTES},
		// Its constructor never ran blob's, so it has no buffer.
		{"(class extends blob { constructor() {} })()", ARGUMENT_BYTES},
	};
	for (const tCase& Case : rgCases)
	{
		ASSERT_TRUE(Run(std::string("record(") + Case.m_szExpression + ");")) << Case.m_szExpression;
		ASSERT_EQ(Recorded().GetArrayCount(), 1u) << Case.m_szExpression;
		EXPECT_EQ(RecordedAt(0)->GetType(), Case.m_ucType) << Case.m_szExpression;
	}
}

TEST_F(SquirrelUtilTest, TableArrivesAsAReferenceThatIsNotEncoded)
{
	ASSERT_TRUE(Run("record({a = 1});"));
	ASSERT_EQ(RecordedAt(0)->GetType(), ARGUMENT_SQREF);
	size_t Size = 0;
	EXPECT_FALSE(RecordedAt(0)->GetSize(Size));
	Strong<CUnlimitedStream> pStream = Strong<CUnlimitedStream>::New(new CUnlimitedStream());
	EXPECT_FALSE(RecordedAt(0)->Write(pStream));
}

TEST_F(SquirrelUtilTest, ScriptValuesKeepTheirContents)
{
	ASSERT_TRUE(Run("local b = blob(); b.writen(65, 'b'); b.writen(0, 'b'); b.writen(66, 'b');"
					"record(2147483646, -2147483649, 0.25, \"a\\x00b\", [7, [8]], b, Vec3(1, 2, 3));"));
	ASSERT_EQ(Recorded().GetArrayCount(), 7u);
	EXPECT_EQ(IntegerOf(RecordedAt(0)), 2147483646);
	EXPECT_EQ(IntegerOf(RecordedAt(1)), -2147483649LL);
	float fValue = 0;
	RecordedAt(2)->ToNumber(fValue);
	EXPECT_EQ(fValue, 0.25f);
	EXPECT_EQ(TextOf(RecordedAt(3)), std::string("a\0b", 3));

	const CArgumentArray* pArray = static_cast<const CArgumentArray*>(RecordedAt(4));
	ASSERT_EQ(pArray->GetArrayCount(), 2u);
	EXPECT_EQ(IntegerOf(pArray->GetAt(0)), 7);
	ASSERT_EQ(pArray->GetAt(1)->GetType(), ARGUMENT_ARRAY);
	EXPECT_EQ(IntegerOf(static_cast<const CArgumentArray*>(pArray->GetAt(1))->GetAt(0)), 8);

	size_t Length = 0;
	const uint8_t* pBytes = RecordedAt(5)->ToBytes(Length);
	ASSERT_EQ(Length, 3u);
	EXPECT_EQ(std::memcmp(pBytes, "A\0B", 3), 0);

	CVector3D Vector;
	RecordedAt(6)->ToVector3D(Vector);
	EXPECT_EQ(Vector.x, 1.0f);
	EXPECT_EQ(Vector.z, 3.0f);
}

TEST_F(SquirrelUtilTest, EngineValuesReachScriptsAsSquirrelValues)
{
	struct tCase
	{
		const char* m_szWhat;
		CArgument* m_pValue;
		const char* m_szCheck;
	};
	CArgumentMap* pMap = new CArgumentMap();
	pMap->Set("k", new CArgumentInteger(3));
	CArgumentArray* pArray = new CArgumentArray();
	pArray->AddNumber(1);
	pArray->AddString("two");
	CMatrix4x4 Matrix;
	Matrix.m41 = 9.0f;
	const tCase rgCases[] = {
		{"nil", new CArgument(ARGUMENT_NIL), "v == null"},
		{"undefined", new CArgument(ARGUMENT_UNDEFINED), "v == null"},
		{"boolean", new CArgumentBoolean(true), "v == true"},
		{"string", new CArgumentString("a\0b", 3), "v.len() == 3 && v[2] == 'b'"},
		{"integer", new CArgumentInteger(-7), "v == -7"},
		{"long integer", new CArgumentLongInteger(1LL << 40), "v == 1099511627776"},
		{"float", new CArgumentFloat(0.5f), "typeof v == \"float\" && v == 0.5"},
		{"double", new CArgumentDouble(0.1), "typeof v == \"float\" && v == 0.1"},
		{"vector 2", new CArgumentVector2D(CVector2D(1, 2)), "typeof v == \"Vec2\" && v.y == 2"},
		{"vector 3", new CArgumentVector3D(CVector3D(1, 2, 3)), "typeof v == \"Vec3\" && v.z == 3"},
		{"matrix", new CArgumentMatrix4x4(Matrix), "typeof v == \"Matrix4x4\""},
		{"array", pArray, "v.len() == 2 && v[1] == \"two\""},
		{"map", pMap, "typeof v == \"table\" && v.k == 3"},
		{"bytes", new CArgumentBytes(reinterpret_cast<const uint8_t*>("xyz"), 3),
			"typeof v == \"blob\" && v.len() == 3 && v[1] == 'y'"},
		{"function without function", new CArgumentFunction(nullptr), "v == null"},
	};
	for (const tCase& Case : rgCases)
	{
		SetGive(Case.m_pValue);
		ASSERT_TRUE(Run(std::string("local v = give(); record(") + Case.m_szCheck + ");")) << Case.m_szWhat;
		EXPECT_TRUE(IsTrue(RecordedAt(0))) << Case.m_szWhat;
	}
}

TEST_F(SquirrelUtilTest, ReferencesGoBackAsTheSameScriptValue)
{
	ASSERT_TRUE(Run("table <- {a = 1}; func <- function() {}; record(table, func);"));
	SetGive(RecordedAt(0)->Clone());
	ASSERT_TRUE(Run("record(give() == table);"));
	EXPECT_TRUE(IsTrue(RecordedAt(0)));
	ASSERT_TRUE(Run("record(func);"));
	SetGive(RecordedAt(0)->Clone());
	ASSERT_TRUE(Run("record(give() == func);"));
	EXPECT_TRUE(IsTrue(RecordedAt(0)));
}

// Only the environment a function belongs to gets the closure itself; another one calls it through its function
// value, so it runs with its own globals and not at all once its resource has stopped.
TEST_F(SquirrelUtilTest, FunctionOfAnotherResourceRunsInItsOwnResource)
{
	CScriptEnvironment* pOther = NewEnvironment();
	ASSERT_NE(pOther, nullptr);
	ASSERT_TRUE(Run("marker <- \"other\"; record(function() { return marker; });", pOther));
	SetGive(RecordedAt(0)->Clone());
	ASSERT_TRUE(Run("marker <- \"mine\"; local f = give(); record(f());"));
	EXPECT_EQ(TextOf(RecordedAt(0)), "other");

	pOther->Destroy();
	ASSERT_TRUE(Run("record(give()());"));
	EXPECT_EQ(RecordedAt(0)->GetType(), ARGUMENT_NIL);
	EXPECT_TRUE(Logged("[ERROR]   SCRIPT ERROR: Cannot call a function of a stopped resource"));
}

TEST_F(SquirrelUtilTest, EngineFunctionsAreCallableAndGoBackAsThemselves)
{
	CRecordingFunction* pFunction = new CRecordingFunction(&m_Scripting);
	SetGive(new CArgumentFunction(pFunction));
	ASSERT_TRUE(Run("local f = give(); record(f(1, \"two\"), f);"));
	EXPECT_EQ(pFunction->m_Calls, 1);
	ASSERT_EQ(pFunction->m_Arguments.GetArrayCount(), 2u);
	EXPECT_EQ(TextOf(pFunction->m_Arguments.GetAt(1)), "two");
	EXPECT_EQ(TextOf(RecordedAt(0)), "from engine");
	EXPECT_EQ(RecordedAt(1)->ToFunction(), pFunction);
	pFunction->Release();

	m_Recorded.Clear();
	m_pGive.SetNull();
	CollectGarbage();
	EXPECT_EQ(CRecordingFunction::s_iLive, 0);
}

TEST_F(SquirrelUtilTest, ConstructedInstancesServeMethodsAndProperties)
{
	ASSERT_TRUE(Run("local t = Thing(5); t.value = t.value + 1; t.setValue(t.getValue() * 2);"
					"record(t.value, t.kind, typeof t, t instanceof Thing, t);"));
	EXPECT_EQ(IntegerOf(RecordedAt(0)), 12);
	EXPECT_EQ(TextOf(RecordedAt(1)), "thing");
	EXPECT_EQ(TextOf(RecordedAt(2)), "Thing");
	EXPECT_TRUE(IsTrue(RecordedAt(3)));
	ASSERT_TRUE(RecordedAt(4)->IsObject());
	EXPECT_EQ(RecordedAt(4)->ToObject()->GetReflectedClass(), m_pThingClass);

	ASSERT_TRUE(Run("local s = SubThing(3); record(s.value, s instanceof Thing, typeof s);"));
	EXPECT_EQ(IntegerOf(RecordedAt(0)), 3);
	EXPECT_TRUE(IsTrue(RecordedAt(1)));
	EXPECT_EQ(TextOf(RecordedAt(2)), "SubThing");
}

TEST_F(SquirrelUtilTest, MemberFailuresAreScriptErrors)
{
	struct tCase
	{
		const char* m_szStatement;
		const char* m_szError;
	};
	const tCase rgCases[] = {
		{"Thing(1).missing", "the index 'missing' does not exist"},
		{"Thing(1).kind = \"x\"", "the index 'kind' does not exist"},
		{"Thing(1).missing = 1", "the index 'missing' does not exist"},
		{"Thing(\"x\")", "Expected integer for argument 1"},
		{"class Derived extends Thing {}", "this class cannot be inherited"},
		{"clone Thing(1)", "instances of this class cannot be cloned"},
		{"Fixed(1)", "Class is not constructable"},
		{"Opaque().getValue()", "'this' is null"},
		{"Thing.getValue.call(stdout)", "'this' is null"},
		{"tools.answer = 1", "the index 'answer' does not exist"},
		{"tools.missing", "the index 'missing' does not exist"},
	};
	for (const tCase& Case : rgCases)
	{
		ASSERT_TRUE(Run(std::string("try { ") + Case.m_szStatement + "; record(\"no error\"); } catch (e) { record(e); }"))
			<< Case.m_szStatement;
		EXPECT_EQ(TextOf(RecordedAt(0)), Case.m_szError) << Case.m_szStatement;
	}
}

TEST_F(SquirrelUtilTest, ClonableClassesCloneTheirObject)
{
	ASSERT_TRUE(Run("local a = Vec3(1, 2, 3); local b = clone a; b.x = 7;"
					"record(a.x, b.x, typeof b, b.tostring() == Vec3(7, 2, 3).tostring());"));
	EXPECT_EQ(IntegerOf(RecordedAt(0)), 1);
	EXPECT_EQ(IntegerOf(RecordedAt(1)), 7);
	EXPECT_EQ(TextOf(RecordedAt(2)), "Vec3");
	EXPECT_TRUE(IsTrue(RecordedAt(3)));
}

TEST_F(SquirrelUtilTest, OneObjectHasOneInstanceWhileScriptsHoldIt)
{
	CThing* pThing = new CThing(m_pThingClass, 4);
	SetGive(CArgument::Create(pThing));
	ASSERT_TRUE(Run("held <- give(); record(held == give(), held.value);"));
	EXPECT_TRUE(IsTrue(RecordedAt(0)));
	EXPECT_EQ(IntegerOf(RecordedAt(1)), 4);
	m_Recorded.Clear();
	// The fixture's give value and the instance each hold one.
	EXPECT_EQ(pThing->GetRefCount(), 3);

	ASSERT_TRUE(Run("delete held;"));
	CollectGarbage();
	EXPECT_EQ(pThing->GetRefCount(), 2);
	ASSERT_TRUE(Run("record(give().value);"));
	EXPECT_EQ(IntegerOf(RecordedAt(0)), 4);

	m_Recorded.Clear();
	m_pGive.SetNull();
	CollectGarbage();
	pThing->Release();
	EXPECT_EQ(CThing::s_iLive, 0);
}

TEST_F(SquirrelUtilTest, InstanceOfADestroyedObjectIsEmpty)
{
	CThing* pThing = new CThing(m_pThingClass, 4);
	SetGive(CArgument::Create(pThing));
	ASSERT_TRUE(Run("held <- give();"));
	m_pGive.SetNull();
	pThing->Obliterate();
	ASSERT_TRUE(Run("try { held.getValue(); } catch (e) { record(e, held); }"));
	EXPECT_EQ(TextOf(RecordedAt(0)), "'this' is null");
	EXPECT_EQ(RecordedAt(1)->GetType(), ARGUMENT_NIL);
	ASSERT_TRUE(Run("delete held;"));
	CollectGarbage();
	EXPECT_EQ(CThing::s_iLive, 0);
}

TEST_F(SquirrelUtilTest, ClassRegisteredLateIsDefinedOnFirstUse)
{
	ReflectedClass* pLate = m_Scripting.GetGlobal()->NewClass("Late", m_pThingClass);
	CThing* pThing = new CThing(pLate, 8);
	SetGive(CArgument::Create(pThing));
	pThing->Release();
	ASSERT_TRUE(Run("local l = give(); record(typeof l, l.value);"));
	EXPECT_EQ(TextOf(RecordedAt(0)), "Late");
	EXPECT_EQ(IntegerOf(RecordedAt(1)), 8);
}

TEST_F(SquirrelUtilTest, NamespacesAreTablesWithTheirFunctionsAndProperties)
{
	ASSERT_TRUE(Run("tools.setting = 3; record(tools.twice(4), tool.twice(5), tools.answer, tools.setting, "
					"tools == tool, \"twice\" in tools);"));
	EXPECT_EQ(IntegerOf(RecordedAt(0)), 8);
	EXPECT_EQ(IntegerOf(RecordedAt(1)), 10);
	EXPECT_EQ(IntegerOf(RecordedAt(2)), 42);
	EXPECT_EQ(IntegerOf(RecordedAt(3)), 3);
	EXPECT_TRUE(IsTrue(RecordedAt(4)));
	EXPECT_TRUE(IsTrue(RecordedAt(5)));
}

TEST_F(SquirrelUtilTest, EngineScriptClassesAreBound)
{
	ASSERT_TRUE(Run("local m = Matrix4x4(); m.setIdentity(); local v = Vec3(3, 4, 0);"
					"record(v.length, typeof m, v.tostring() == \"\" + v);"));
	float fLength = 0;
	RecordedAt(0)->ToNumber(fLength);
	EXPECT_EQ(fLength, 5.0f);
	EXPECT_EQ(TextOf(RecordedAt(1)), "Matrix4x4");
	EXPECT_TRUE(IsTrue(RecordedAt(2)));
}
