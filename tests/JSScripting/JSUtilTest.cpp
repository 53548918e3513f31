#include "JSFixture.h"

#include "JSScripting/JSUtil.h"

namespace
{
class JSUtilTest : public JSFixture
{
protected:
	// The message of the error the expression throws, or "no error".
	std::string ErrorOf(const std::string& Expression)
	{
		m_Recorded.Clear();
		EXPECT_TRUE(Run("try { " + Expression + "; record('no error'); } catch (e) { record(String(e.message)); }"))
			<< Expression;
		return RecordedAt(0) != nullptr ? RecordedAt(0)->ToString() : "";
	}

	bool Holds(const std::string& Expression)
	{
		m_Recorded.Clear();
		EXPECT_TRUE(Run("record(" + Expression + ");")) << Expression;
		return RecordedAt(0) != nullptr && RecordedAt(0)->IsBoolean() && RecordedAt(0)->ToBoolean();
	}

	// A Thing the engine holds once, handed to scripts by give().
	CThing* GiveNewThing(int32_t iValue)
	{
		CThing* pThing = new CThing(m_pThingClass, iValue);
		SetGive(pThing->CreateArgument());
		pThing->Release();
		return pThing;
	}
};

// Classes and construction

TEST_F(JSUtilTest, ConstructorsMakeObjectsOfTheirClass)
{
	EXPECT_TRUE(Holds("new Vec3(1, 2, 3) instanceof Vec3"));
	EXPECT_TRUE(Holds("new Vec3(1, 2, 3).y === 2"));
	EXPECT_TRUE(Holds("new SubThing(2) instanceof Thing && new SubThing(2).getValue() === 2"));
	EXPECT_TRUE(Holds("Object.getPrototypeOf(SubThing.prototype) === Thing.prototype"));
}

TEST_F(JSUtilTest, ConstructionErrors)
{
	struct tCase
	{
		const char* szExpression;
		const char* szError;
	};
	const tCase Cases[] = {
		{ "Vec3(1, 2, 3)", "Constructor Vec3 requires 'new'" },
		{ "new Fixed()", "Illegal constructor." },
		{ "new Thing('x')", "Expected integer for argument 1" },
		{ "new (Object.getPrototypeOf(Thing.prototype).constructor)()", "Illegal constructor." },
	};
	for (const tCase& Case : Cases)
		EXPECT_EQ(Case.szError, ErrorOf(Case.szExpression)) << Case.szExpression;
}

TEST_F(JSUtilTest, ConstructorGivingAnObjectScriptsHaveSeenGivesItsWrapper)
{
	GiveNewThing(4);
	EXPECT_TRUE(Holds("give() === new Shared()"));
	EXPECT_EQ("Constructor failed!", ErrorOf("new (class extends Shared {})()"));
	SetGive(nullptr);
	EXPECT_EQ("Constructor failed!", ErrorOf("new Shared()"));
}

TEST_F(JSUtilTest, EngineObjectsAndPrototypesRefuseNewProperties)
{
	EXPECT_EQ("can't define property \"extra\": Object is not extensible", ErrorOf("new Thing(1).extra = 1"));
	EXPECT_EQ("can't define property \"extra\": Object is not extensible", ErrorOf("Thing.prototype.extra = 1"));
	EXPECT_EQ("can't define property \"2\": Object is not extensible", ErrorOf("new Vec2(1, 2)[2] = 3"));
	EXPECT_EQ("no error", ErrorOf("const t = new Thing(1); t.value = 5; if (t.getValue() !== 5) throw new Error('no')"));
}

TEST_F(JSUtilTest, ScriptClassExtendingAnEngineClassCarriesItsOwnFields)
{
	ASSERT_TRUE(Run("class Mine extends Thing {"
					"  constructor(v) { super(v); this.extra = 'own'; }"
					"  twice() { return this.getValue() * 2; } }"
					"const m = new Mine(9);"
					"record(m instanceof Mine, m instanceof Thing, m.extra, m.twice(), m.kind, m);"));
	ASSERT_EQ(6u, Recorded().GetArrayCount());
	EXPECT_TRUE(RecordedAt(0)->ToBoolean());
	EXPECT_TRUE(RecordedAt(1)->ToBoolean());
	EXPECT_STREQ("own", RecordedAt(2)->ToString());
	EXPECT_EQ(18, static_cast<CArgumentInteger*>(RecordedAt(3))->GetValue());
	EXPECT_STREQ("thing", RecordedAt(4)->ToString());
	ASSERT_EQ(ARGUMENT_OBJECT, RecordedAt(5)->GetType());
	EXPECT_EQ(9, static_cast<CThing*>(RecordedAt(5)->ToObject())->m_iValue);
}

TEST_F(JSUtilTest, VectorIndexesAreItsComponents)
{
	EXPECT_TRUE(Holds("(() => { const v = new Vec3(1, 2, 3); return v[0] === 1 && v[1] === 2 && v[2] === 3; })()"));
	EXPECT_TRUE(Holds("(() => { const v = new Vec3(1, 2, 3); v[2] = 7; return v.z === 7; })()"));
	EXPECT_TRUE(Holds("(() => { const v = new Vec2(1, 2); return v[1] === 2 && v[2] === undefined; })()"));
}

// Methods and properties

TEST_F(JSUtilTest, MethodNeedsAnEngineObjectAsThis)
{
	const std::string Error = "'getValue' called on an object that does not implement interface Referenceable.";
	EXPECT_EQ(Error, ErrorOf("Thing.prototype.getValue.call({})"));
	EXPECT_EQ(Error, ErrorOf("Thing.prototype.getValue()"));
	EXPECT_EQ(Error, ErrorOf("Thing.prototype.getValue.call(undefined)"));
	EXPECT_EQ("no error", ErrorOf("Thing.prototype.getValue.call(new SubThing(1))"));
}

// Methods, accessors and constructors run in the shared global; their errors still belong to the calling script.
TEST_F(JSUtilTest, ErrorsOfEngineClassesAreErrorsOfTheCallingScript)
{
	const char* const Statements[] = {
		"new Thing(1).setValue('x')",
		"Thing.prototype.getValue.call({})",
		"Thing(1)",
		"new Fixed()",
		"new Thing(1).extra = 1",
		"new Thing(1).setValue((() => { const a = []; a.push(a); return a; })())",
	};
	CScriptEnvironment* pOther = NewEnvironment();
	ASSERT_NE(nullptr, pOther);
	for (CScriptEnvironment* pEnvironment : {m_pEnvironment, pOther})
	{
		for (const char* szStatement : Statements)
		{
			m_Recorded.Clear();
			const std::string Script = std::string("try { ") + szStatement +
				"; record('no error'); } catch (e) { record(e instanceof Error, e.constructor === Error); }";
			ASSERT_TRUE(Run(Script, pEnvironment));
			EXPECT_TRUE(IsTrue(RecordedAt(0))) << szStatement;
			EXPECT_TRUE(IsTrue(RecordedAt(1))) << szStatement;
		}
	}
	pOther->Destroy();
}

TEST_F(JSUtilTest, FunctionLengthIsTheRequiredArgumentCount)
{
	EXPECT_TRUE(Holds("tools.twice.length === 1 && Thing.prototype.setValue.length === 1 && record.length === 0"));
	EXPECT_TRUE(Holds("tools.twice.name === 'twice'"));
}

TEST_F(JSUtilTest, NamespacesCarryFunctionsPropertiesAndAliases)
{
	EXPECT_TRUE(Holds("tools.twice(4) === 8 && tool === tools && tools.answer === 42"));
	EXPECT_EQ("no error", ErrorOf("tools.setting = 5; if (tools.setting !== 5) throw new Error('no')"));
	EXPECT_NE("no error", ErrorOf("tools.answer = 1"));
	EXPECT_TRUE(Holds("Object.keys(tools).length === 0 && !Object.keys(global).includes('Thing')"));
	EXPECT_TRUE(Holds("typeof Referenceable === 'undefined'"));
}

TEST_F(JSUtilTest, ReadOnlyPropertyCannotBeAssigned)
{
	EXPECT_NE("no error", ErrorOf("new Thing(1).kind = 'other'"));
}

// Wrappers and lifetime

TEST_F(JSUtilTest, SameObjectIsTheSameWrapper)
{
	CThing* pThing = GiveNewThing(3);
	intptr_t Count = pThing->GetRefCount();
	EXPECT_TRUE(Holds("give() === give()"));
	// The wrapper holds no count of its own.
	EXPECT_EQ(Count, pThing->GetRefCount());
}

TEST_F(JSUtilTest, ObjectReleasedByTheEngineLivesUntilTheScriptDropsIt)
{
	GiveNewThing(5);
	ASSERT_TRUE(Run("var held = give();"));
	SetGive(nullptr);
	m_Recorded.Clear();
	CollectGarbage();
	EXPECT_EQ(1, CThing::s_iLive);
	EXPECT_TRUE(Holds("held.value === 5 && held.getValue() === 5"));

	ASSERT_TRUE(Run("held = null;"));
	m_Recorded.Clear();
	CollectGarbage();
	EXPECT_EQ(0, CThing::s_iLive);
}

TEST_F(JSUtilTest, ObjectThatRegainsCountsSurvivesItsWrapper)
{
	GiveNewThing(6);
	ASSERT_TRUE(Run("var held = give();"));
	SetGive(nullptr);
	ASSERT_TRUE(Run("record(held); held = null;"));
	CollectGarbage();
	ASSERT_EQ(1, CThing::s_iLive);
	CThing* pThing = static_cast<CThing*>(RecordedAt(0)->ToObject());
	EXPECT_EQ(nullptr, pThing->GetJSScriptReference());
	SetGive(pThing->CreateArgument());
	EXPECT_TRUE(Holds("give().value === 6"));
}

TEST_F(JSUtilTest, UnboundValueObjectsAreOwnedByTheirWrapper)
{
	ASSERT_TRUE(Run("var v = new Vec3(1, 2, 3); var m = new Thing(1);"));
	CollectGarbage();
	EXPECT_EQ(1, CThing::s_iLive);
	EXPECT_TRUE(Holds("v.x === 1 && m.value === 1"));
	ASSERT_TRUE(Run("v = null; m = null;"));
	m_Recorded.Clear();
	CollectGarbage();
	EXPECT_EQ(0, CThing::s_iLive);
}

TEST_F(JSUtilTest, ObjectDestroyedOutrightLeavesAnEmptyWrapper)
{
	CThing* pThing = GiveNewThing(2);
	ASSERT_TRUE(Run("var held = give();"));
	pThing->AddRef();
	SetGive(nullptr);
	pThing->Obliterate();
	EXPECT_EQ("'getValue' called on an object that does not implement interface Referenceable.",
		ErrorOf("held.getValue()"));
	ASSERT_TRUE(Run("record(held);"));
	EXPECT_EQ(ARGUMENT_UNDEFINED, RecordedAt(0)->GetType());
}

TEST_F(JSUtilTest, WrappersAreSharedByEveryResource)
{
	CScriptEnvironment* pOther = NewEnvironment();
	ASSERT_NE(nullptr, pOther);
	GiveNewThing(8);
	ASSERT_TRUE(Run("give().setValue(9);", pOther));
	EXPECT_TRUE(Holds("give().value === 9 && give() instanceof Thing"));
	pOther->Destroy();
}

// An engine function value whose call gives an empty array.
class CArrayFunction : public CFunction
{
public:
	using CFunction::CFunction;

	bool Call(const CArgumentArray&, CReturnValue* pResult) override
	{
		if (pResult != nullptr)
			pResult->AddAndOwn(new CArgumentArray());
		return true;
	}
};

// A map of an array, a map, bytes and a function value that returns an array.
bool MakeValues(CNativeState* pState, int, void*)
{
	CArgumentMap* pValues = new CArgumentMap();
	CArgumentArray* pArray = new CArgumentArray();
	pArray->AddNumber(1);
	pValues->Set("array", pArray);
	pValues->Set("map", new CArgumentMap());
	const uint8_t Bytes[] = {1, 2};
	pValues->Set("bytes", new CArgumentBytes(Bytes, sizeof(Bytes)));
	CArrayFunction* pFunction = new CArrayFunction(pState->GetScripting());
	pValues->Set("function", new CArgumentFunction(pFunction));
	pFunction->Release();
	pState->ReturnAndOwn(pValues);
	return true;
}

// Methods and accessors run in the shared global; what they give is still made for the script that called them.
TEST_F(JSUtilTest, ResultsOfMethodsAreValuesOfTheCallingScript)
{
	ReflectedClass* pMaker = m_Scripting.GetGlobal()->NewClass("Maker");
	pMaker->RegisterFunction("make", "t", MakeValues);
	pMaker->AddProperty(nullptr, "made", ARGUMENT_MAP, MakeValues);
	ASSERT_TRUE(m_pLanguage->DefineClasses());
	CThing* pMakerObject = new CThing(pMaker, 0);
	SetGive(pMakerObject->CreateArgument());
	pMakerObject->Release();

	const std::string Check =
		"var m = give().make(), p = give().made;\n"
		"record(Object.getPrototypeOf(m) === Object.prototype, m.array instanceof Array, m.map instanceof Object,\n"
		"\tm.bytes instanceof ArrayBuffer, m.function instanceof Function, m.function() instanceof Array,\n"
		"\tp instanceof Object, p.array instanceof Array);\n";
	CScriptEnvironment* pOther = NewEnvironment();
	ASSERT_NE(nullptr, pOther);
	for (CScriptEnvironment* pEnvironment : {m_pEnvironment, pOther})
	{
		m_Recorded.Clear();
		ASSERT_TRUE(Run(Check, pEnvironment));
		ASSERT_EQ(8u, Recorded().GetArrayCount());
		for (size_t i = 0; i < Recorded().GetArrayCount(); i++)
			EXPECT_TRUE(IsTrue(RecordedAt(i))) << "value " << i;
	}
	pOther->Destroy();
}

TEST_F(JSUtilTest, WrappersAndBindingsAreGoneWithTheLanguage)
{
	GiveNewThing(1);
	ASSERT_TRUE(Run("var a = give(); var b = new Thing(2); var c = new Vec2(1, 2);"));
	CThing* pKept = static_cast<CThing*>(m_pGive->ToObject());
	pKept->AddRef();
	SetGive(nullptr);
	DestroyLanguage();

	EXPECT_EQ(0, CJSReferenceable::m_iUserDataCount);
	EXPECT_EQ(1, CThing::s_iLive);
	EXPECT_EQ(nullptr, pKept->GetJSScriptReference());
	pKept->Release();
}
}
