#include "LuaTestFixture.h"

#include <cstring>
#include <iterator>
#include <map>
#include <set>

namespace
{
// An engine function value written in C++: answers with a text and remembers how many arguments it saw.
class CTestNativeFunction : public CFunction
{
public:
	explicit CTestNativeFunction(CScripting* pScripting) : CFunction(pScripting) {}

	bool Call(const CArgumentArray& Arguments, CReturnValue* pResult) override
	{
		m_Calls++;
		if (pResult != nullptr)
			pResult->AddString(("from C++ " + std::to_string(Arguments.GetArrayCount())).c_str());
		return true;
	}

	int m_Calls = 0;
};

CArgument* Nest(CArgument* pInner, int iLevels)
{
	for (int i = 0; i < iLevels; i++)
	{
		CArgumentArray* pArray = new CArgumentArray();
		pArray->AddAndOwn(pInner);
		pInner = pArray;
	}
	return pInner;
}

std::string Quote(const std::string& Text)
{
	std::string Quoted = "'";
	for (char c : Text)
		Quoted += (c == '\'' || c == '\\') ? std::string("\\") + c : std::string(1, c);
	return Quoted + "'";
}

// Lua that notes in the table "missing" every function, class, method, constructor, to-string function and child
// namespace of the namespace that the table at szTable does not offer as the binding should.
void CheckNamespace(const ReflectedNamespace* pNamespace, const std::string& Table, const std::string& Path,
	std::string& Code, std::set<std::string>* pNames)
{
	auto Check = [&Code](const std::string& Condition, const std::string& What) {
		Code += "if not (" + Condition + ") then missing[#missing + 1] = " + Quote(What) + " end\n";
	};
	for (const ReflectedFunction* pFunction : pNamespace->GetFunctions())
	{
		std::string Name = pFunction->m_Function.GetName() != nullptr ? pFunction->m_Function.GetName() : "";
		Check("type(rawget(" + Table + ", " + Quote(Name) + ")) == 'function'", Path + Name);
		if (pNames != nullptr)
			pNames->insert(Name);
	}
	for (const ReflectedClass* pClass : pNamespace->GetClasses())
	{
		std::string Name = std::string(pClass->GetName()).substr(0, 63);
		std::string Class = "rawget(" + Table + ", " + Quote(Name) + ")";
		Check("type(" + Class + ") == 'table' and " + Class + ".__name == " + Quote(pClass->GetName()), Path + Name);
		for (const ReflectedFunction* pMethod : pClass->GetFunctions())
		{
			std::string Method = pMethod->m_Function.GetName() != nullptr ? pMethod->m_Function.GetName() : "";
			Check("type(rawget(" + Class + ", " + Quote(Method) + ")) == 'function'", Path + Name + ":" + Method);
		}
		if (pClass->m_Constructor.IsPresent())
			Check("type(getmetatable(" + Class + ").__call) == 'function'", Path + Name + "()");
		if (pClass->m_ToString.IsPresent())
			Check("type(rawget(" + Class + ", '__tostring')) == 'function'", Path + Name + " tostring");
		if (pNames != nullptr)
			pNames->insert(Name);
	}
	for (const ReflectedNamespace* pChild : pNamespace->GetNamespaces())
	{
		std::string Child = "rawget(" + Table + ", " + Quote(pChild->GetName()) + ")";
		Check("type(" + Child + ") == 'table'", Path + pChild->GetName());
		if (pChild->GetAlias() != nullptr)
		{
			Check("rawget(" + Table + ", " + Quote(pChild->GetAlias()) + ") == " + Child, Path + pChild->GetAlias());
			if (pNames != nullptr)
				pNames->insert(pChild->GetAlias());
		}
		if (pNames != nullptr)
			pNames->insert(pChild->GetName());
		CheckNamespace(pChild, "(" + Child + " or {})", Path + pChild->GetName() + ".", Code, nullptr);
	}
}
}

// Lua values reaching a native

TEST_F(LuaTest, LuaValuesBecomeEngineValuesOfTheirKind)
{
	struct tCase
	{
		const char* szValue;
		uint8_t ucType;
	};
	const tCase rgCases[] = {
		{"nil", ARGUMENT_NIL},
		{"true", ARGUMENT_BOOLEAN},
		{"2147483646", ARGUMENT_INTEGER},
		{"2147483647", ARGUMENT_LONGINTEGER},
		{"2147483648", ARGUMENT_LONGINTEGER},
		{"-2147483648", ARGUMENT_INTEGER},
		{"-2147483649", ARGUMENT_LONGINTEGER},
		{"3.0", ARGUMENT_DOUBLE},
		{"'text'", ARGUMENT_STRING},
		{"function() end", ARGUMENT_FUNCTION},
		{"print", ARGUMENT_FUNCTION},
		{"coroutine.create(print)", ARGUMENT_LUAREF},
		{"io.stdout", ARGUMENT_LUAREF},
		{"debug.upvalueid(function() return TEST_SIGNED end, 1)", ARGUMENT_UNDEFINED},
		{"TestThing(4)", ARGUMENT_OBJECT},
		{"Vec2()", ARGUMENT_VECTOR2D},
		{"Vec3()", ARGUMENT_VECTOR3D},
		{"Matrix4x4()", ARGUMENT_MATRIX4X4},
		{"{}", ARGUMENT_MAP},
		{"{1}", ARGUMENT_ARRAY},
	};
	std::string All;
	for (const tCase& Case : rgCases)
	{
		ASSERT_TRUE(Run(Main(), std::string("test.record(") + Case.szValue + ")")) << Case.szValue << LastScriptError();
		ASSERT_EQ(Recorded().GetArrayCount(), 1u) << Case.szValue;
		EXPECT_EQ(Recorded().GetAt(0)->GetType(), Case.ucType) << Case.szValue;
		All += (All.empty() ? "" : ", ") + std::string(Case.szValue);
	}
	// Values of every kind in one call, the simple ones among those that need more care, keep their order.
	ASSERT_TRUE(Run(Main(), "test.record(" + All + ")")) << LastScriptError();
	ASSERT_EQ(Recorded().GetArrayCount(), std::size(rgCases));
	for (size_t i = 0; i < std::size(rgCases); i++)
		EXPECT_EQ(Recorded().GetAt(i)->GetType(), rgCases[i].ucType) << rgCases[i].szValue;
}

TEST_F(LuaTest, NumbersAndStringsKeepTheirValues)
{
	ASSERT_TRUE(Run(Main(), "test.record(-2147483648, 2147483647, 2.5, 'a\\0b')"));
	int64_t iValue = 0;
	Recorded().GetAt(0)->ToNumber(iValue);
	EXPECT_EQ(iValue, -2147483648LL);
	Recorded().GetAt(1)->ToNumber(iValue);
	EXPECT_EQ(iValue, 2147483647LL);
	double dValue = 0;
	Recorded().GetAt(2)->ToNumber(dValue);
	EXPECT_EQ(dValue, 2.5);
	size_t Length = 0;
	const char* szText = Recorded().GetAt(3)->ToString(&Length);
	EXPECT_EQ(std::string(szText, Length), std::string("a\0b", 3));
}

TEST_F(LuaTest, TablesBecomeArraysOrMaps)
{
	struct tCase
	{
		const char* szTable;
		uint8_t ucType;
		std::vector<std::string> Keys;
		size_t Count;
	};
	const tCase rgCases[] = {
		{"{}", ARGUMENT_MAP, {}, 0},
		{"{1, 2, x = 3}", ARGUMENT_ARRAY, {}, 2},
		{"{x = 1, y = 2}", ARGUMENT_MAP, {"x", "y"}, 2},
		{"{[5] = 'v'}", ARGUMENT_MAP, {"5"}, 1},
		{"{[1.5] = 'v'}", ARGUMENT_MAP, {"1.5"}, 1},
		{"{1, nil, 3}", ARGUMENT_ARRAY, {}, 3},
	};
	for (const tCase& Case : rgCases)
	{
		ASSERT_TRUE(Run(Main(), std::string("test.record(") + Case.szTable + ")")) << Case.szTable;
		const CArgument* pValue = Recorded().GetAt(0);
		ASSERT_EQ(pValue->GetType(), Case.ucType) << Case.szTable;
		if (Case.ucType == ARGUMENT_ARRAY)
		{
			EXPECT_EQ(static_cast<const CArgumentArray*>(pValue)->GetArrayCount(), Case.Count) << Case.szTable;
			continue;
		}
		const CArgumentMap* pMap = static_cast<const CArgumentMap*>(pValue);
		EXPECT_EQ(pMap->GetCount(), Case.Count) << Case.szTable;
		for (const std::string& Key : Case.Keys)
			EXPECT_NE(pMap->Get(Key.c_str()), nullptr) << Case.szTable << " " << Key;
	}
	const CArgumentArray* pHoles = static_cast<const CArgumentArray*>(Recorded().GetAt(0));
	EXPECT_EQ(pHoles->GetAt(1)->GetType(), ARGUMENT_NIL);
}

TEST_F(LuaTest, TablesThatCannotBeConvertedRaiseErrors)
{
	struct tCase
	{
		const char* szCode;
		const char* szError;
	};
	const tCase rgCases[] = {
		{"test.record({[true] = 1})", "Cannot convert a boolean key"},
		{"test.record({a = {[{}] = 1}})", "Cannot convert a table key"},
		{"test.record({[print] = 1})", "Cannot convert a function key"},
		{"local t = {} t.self = t test.record(t)", "Cannot convert a value that contains itself"},
		{"local t = {} t[1] = {t} test.record(t)", "Cannot convert a value that contains itself"},
		{"local t = {} for i = 1, 64 do t = {t} end test.record(t)", "Cannot convert a value nested deeper than 64 levels"},
		{"test.record(_G)", "Cannot convert a value that contains itself"},
	};
	for (const tCase& Case : rgCases)
	{
		m_pRecorded.SetNull();
		EXPECT_FALSE(Run(Main(), Case.szCode)) << Case.szCode;
		EXPECT_EQ(LastScriptError(), std::string("[string \"chunk\"]:1: ") + Case.szError) << Case.szCode;
		EXPECT_EQ(m_pRecorded, nullptr) << Case.szCode;
	}
}

// A table is converted once for every place that holds it, so a few small tables can stand for a great many
// engine values; and a table's length is a border, which a handful of keys can put far beyond what it holds.
TEST_F(LuaTest, TablesThatWouldMakeTooManyElementsRaiseErrors)
{
	std::string Sparse = "sparse = {";
	for (int i = 0; i <= 40; i++)
		Sparse += "[" + std::to_string(1LL << i) + "] = 0, ";
	ASSERT_TRUE(Run(Main(), Sparse + "} big = {} for i = 1, 2100000 do big[i] = 0 end"));
	ASSERT_TRUE(Run(Main(), "test.record(rawlen(sparse))"));
	int64_t iSparseLength = 0;
	ASSERT_TRUE(Recorded().GetAt(0)->ToNumber(iSparseLength));
	ASSERT_EQ(iSparseLength, 1LL << 40);

	struct tCase
	{
		const char* szCode;
		const char* szError;
	};
	const tCase rgCases[] = {
		{"test.record(sparse)", "Cannot convert an array of 1099511627776 elements"},
		{"local t = {} for i = 1, 4194305 do t[i] = 0 end test.record(t)",
			"Cannot convert an array of 4194305 elements"},
		{"test.record({big, big})", "Cannot convert more than 4194304 array elements at once"},
		{"test.record(big, big)", "Cannot convert more than 4194304 array elements at once"},
		{"test.record({x = big, y = big})", "Cannot convert more than 4194304 array elements at once"},
		// The entries of a table that becomes a map count as well.
		{"local m = {} for i = 1, 2097152 do m[-i] = 0 end test.record(big, m)",
			"Cannot convert more than 4194304 array elements at once"},
	};
	for (const tCase& Case : rgCases)
	{
		m_pRecorded.SetNull();
		EXPECT_FALSE(Run(Main(), Case.szCode)) << Case.szCode;
		EXPECT_EQ(LastScriptError(), std::string("[string \"chunk\"]:1: ") + Case.szError) << Case.szCode;
		EXPECT_EQ(m_pRecorded, nullptr) << Case.szCode;
	}

	// Every call has an allowance of its own.
	ASSERT_TRUE(Run(Main(), "test.record(big) test.record(big)"));
	ASSERT_EQ(Recorded().GetAt(0)->GetType(), ARGUMENT_ARRAY);
	EXPECT_EQ(static_cast<const CArgumentArray*>(Recorded().GetAt(0))->GetArrayCount(), 2100000u);
}

TEST_F(LuaTest, SharedAndDeepTablesWithinTheCapConvert)
{
	ASSERT_TRUE(Run(Main(), "local s = {1} test.record({s, s, {s}})"));
	EXPECT_EQ(static_cast<const CArgumentArray*>(Recorded().GetAt(0))->GetArrayCount(), 3u);

	ASSERT_TRUE(Run(Main(), "local t = {} for i = 1, 63 do t = {t} end test.record(t)"));
	EXPECT_EQ(Recorded().GetAt(0)->GetType(), ARGUMENT_ARRAY);
}

TEST_F(LuaTest, ForeignUserdataIsNeverAnEngineObject)
{
	ASSERT_TRUE(Run(Main(), "test.record(pcall(TestThing.twice, io.stdout))"));
	EXPECT_EQ(std::string(Recorded().GetAt(1)->ToString()), "'this' is null");

	// Even dressed in a class table, a file handle stays what it is. The debug library refuses to do that, so it is
	// done here as C code could.
	lua_State* pState = Lua()->GetState();
	Environment(Main())->PushTable(pState);
	lua_getfield(pState, -1, "io");
	lua_getfield(pState, -1, "stdout");
	ASSERT_TRUE(lua_getmetatable(pState, -1));
	lua_getfield(pState, -4, "TestThing");
	ASSERT_TRUE(lua_istable(pState, -1));
	lua_setmetatable(pState, -3);
	const bool bRan =
		Run(Main(), "local ok, message = pcall(TestThing.twice, io.stdout) test.record(io.stdout, message)");
	lua_setmetatable(pState, -2);
	lua_pop(pState, 3);
	ASSERT_TRUE(bRan) << LastScriptError();
	EXPECT_EQ(Recorded().GetAt(0)->GetType(), ARGUMENT_LUAREF);
	EXPECT_EQ(std::string(Recorded().GetAt(1)->ToString()), "'this' is null");

	ASSERT_TRUE(Run(Main(), "test.record(pcall(getmetatable(TestThing(1)).__gc, io.stdout))"));
	EXPECT_FALSE(Recorded().GetAt(0)->ToBoolean());
	EXPECT_NE(std::string(Recorded().GetAt(1)->ToString()).find("TestThing expected, got FILE*"), std::string::npos);
}

// Engine values reaching a script

TEST_F(LuaTest, EngineValuesBecomeLuaValuesOfTheirKind)
{
	CTestNativeFunction* pFunction = new CTestNativeFunction(Scripting());
	CThing* pThing = new CThing(ThingClass(), 9);
	CArgumentMap* pMap = new CArgumentMap();
	pMap->Set("a", new CArgumentInteger(1));
	CArgumentArray* pArray = new CArgumentArray();
	pArray->AddNumber(static_cast<int32_t>(1));
	pArray->AddString("two");
	CMatrix4x4 Matrix;
	Matrix.m41 = 5.0f;

	struct tCase
	{
		CArgument* pValue;
		const char* szCheck;
	};
	const tCase rgCases[] = {
		{new CArgument(ARGUMENT_NIL), "value == nil"},
		{new CArgument(ARGUMENT_UNDEFINED), "value == nil"},
		{new CArgument(ARGUMENT_TABLE), "value == nil"},
		{new CArgument(ARGUMENT_JSVALUE), "value == nil"},
		{new CArgument(ARGUMENT_VECTOR4D), "value == nil"},
		{new CArgument(ARGUMENT_SQREF), "value == nil"},
		{new CArgument(ARGUMENT_BYTES + 1), "value == nil"},
		{new CArgumentObject(nullptr), "value == nil"},
		{new CArgumentBoolean(true), "value == true"},
		{new CArgumentString("a\0b", 3), "value == 'a\\0b'"},
		{new CArgumentInteger(-5), "math.type(value) == 'integer' and value == -5"},
		{new CArgumentFloat(1.5f), "math.type(value) == 'float' and value == 1.5"},
		{new CArgumentLongInteger(1LL << 40), "math.type(value) == 'integer' and value == 1 << 40"},
		{new CArgumentDouble(0.25), "math.type(value) == 'float' and value == 0.25"},
		{new CArgumentBytes(reinterpret_cast<const uint8_t*>("\1\2"), 2), "value == '\\1\\2'"},
		{new CArgumentVector2D(CVector2D(1, 2)), "value:is_a(Vec2) and value.x == 1 and value.y == 2"},
		{new CArgumentVector3D(CVector3D(1, 2, 3)), "value:is_a(Vec3) and value.z == 3"},
		{new CArgumentMatrix4x4(Matrix), "value:is_a(Matrix4x4)"},
		{pArray, "#value == 2 and value[1] == 1 and value[2] == 'two'"},
		{pMap, "value.a == 1"},
		{CArgument::Create(pThing), "value:is_a(TestThing) and value.id == 9"},
		{new CArgumentFunction(pFunction), "value(1, nil) == 'from C++ 2'"},
		{new CArgumentFunction(nullptr), "value == nil"},
	};
	pThing->Release();
	pFunction->Release();
	for (const tCase& Case : rgCases)
	{
		Give(Case.pValue);
		EXPECT_TRUE(Run(Main(), std::string("local value = test.give() assert(") + Case.szCheck + ")"))
			<< Case.szCheck << ": " << LastScriptError();
	}
}

TEST_F(LuaTest, EngineValuesNestedTooDeepRaiseErrors)
{
	Give(Nest(new CArgumentInteger(1), 64));
	EXPECT_TRUE(Run(Main(), "assert(type(test.give()) == 'table')"));
	Give(Nest(new CArgumentInteger(1), 65));
	EXPECT_FALSE(Run(Main(), "test.give()"));
	EXPECT_EQ(LastScriptError(), "[string \"chunk\"]:1: Cannot convert a value nested deeper than 64 levels");
}

// Classes and namespaces

TEST_F(LuaTest, ClassTablesServeMethodsPropertiesAndInheritance)
{
	const char* const rgpszFacts[] = {
		"TestChild(1):is_a(TestThing) and not TestThing(1):is_a(TestChild) and not TestThing(1):is_a(Vec3)",
		"TestThing(1).twice == TestThing.twice and TestChild(1)._base == TestThing",
		"TestThing(4).id == 4 and TestChild(5).id == 5 and TestThing(3):twice() == 6",
		"TestThing(1).childOnly == nil and TestChild(1):childOnly() == true and TestThing(1).unknown == nil",
		"tostring(TestThing(6)) == 'TestThing(6)' and tostring(TestChild(2)) == 'TestThing(2)'",
		"getmetatable(TestThing(1)) == TestThing and TestThing.__name == 'TestThing'",
		"(function() local t = TestThing(4) t.value = 9 return t.id == 9 end)()",
	};
	for (const char* szFact : rgpszFacts)
		EXPECT_TRUE(Run(Main(), std::string("assert(") + szFact + ")")) << szFact << ": " << LastScriptError();
}

TEST_F(LuaTest, EveryRegisteredNameAndConstantIsBound)
{
	std::string Code = "local missing = {}\n";
	std::set<std::string> Names;
	CheckNamespace(Scripting()->GetGlobal(), "_G", "", Code, &Names);
	// The last definition of a name counts; names of the interface, set after the constants, take precedence.
	std::map<std::string, int64_t> Constants;
	for (const IntDefine& Define : Scripting()->GetDefineHandlers()->GetDefines())
		Constants[Define.m_Name] = Define.GetWideValue();
	ASSERT_GT(Constants.size(), 2u);
	for (const auto& Constant : Constants)
	{
		if (Names.count(Constant.first) == 0)
			Code += "if rawget(_G, " + Quote(Constant.first) + ") ~= " + std::to_string(Constant.second) +
				" then missing[#missing + 1] = " + Quote(Constant.first) + " end\n";
	}
	Code += "test.record(table.concat(missing, ' '))";
	ASSERT_TRUE(Run(Main(), Code)) << LastScriptError();
	EXPECT_EQ(std::string(Recorded().GetAt(0)->ToString()), "");
}

TEST_F(LuaTest, MemberErrorsNameTheKey)
{
	struct tCase
	{
		const char* szCode;
		const char* szError;
	};
	const tCase rgCases[] = {
		{"TestThing(1).id = 2", "property 'id' readonly"},
		{"TestThing(1).nope = 1", "property 'nope' not found"},
		{"TestThing(1)[true] = 1", "property 'true' not found"},
		{"test.inner.ro = 1", "property 'ro' readonly"},
		{"test.inner.nope = 1", "property 'nope' not found"},
		{"thisResource = 1", "property 'thisResource' readonly"},
		{"TestUnbuilt()", "attempt to call a table value (global 'TestUnbuilt')"},
		{"TestThing.twice(5)", "'this' is null"},
		{"TestThing.twice(Vec3())", "TestThing expected for 'this'"},
	};
	for (const tCase& Case : rgCases)
	{
		EXPECT_FALSE(Run(Main(), Case.szCode)) << Case.szCode;
		EXPECT_EQ(LastScriptError(), std::string("[string \"chunk\"]:1: ") + Case.szError) << Case.szCode;
	}
}

TEST_F(LuaTest, NamespacePropertiesAndGlobalVariables)
{
	ASSERT_TRUE(Run(Main(), "test.record(test.inner.rw) test.alias.rw = 3"));
	EXPECT_EQ(Recorded().GetAt(0)->GetType(), ARGUMENT_INTEGER);
	EXPECT_EQ(m_iInnerValue, 3);

	ASSERT_TRUE(Run(Main(), "fresh = 1 test.record(fresh, rawget(_G, 'fresh'), type(thisResource))"));
	int32_t iValue = 0;
	Recorded().GetAt(0)->ToNumber(iValue);
	EXPECT_EQ(iValue, 1);
	EXPECT_EQ(Recorded().GetAt(1)->GetType(), ARGUMENT_NIL);
	EXPECT_EQ(std::string(Recorded().GetAt(2)->ToString()), "userdata");
}
