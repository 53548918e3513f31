#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "Engine/Context.h"
#include "Engine/KError.h"
#include "Engine/KestrinArguments.h"
#include "Engine/KestrinNative.h"
#include "Engine/KestrinStream.h"
#include "Engine/ScriptClasses.h"
#include "Engine/ScriptStream.h"
#include "TempDirectory.h"

namespace
{
constexpr float EPSILON = 1e-5f;

// One argument of a call, made from a plain C++ value.
struct tArg
{
	tArg(int iValue) : m_pValue(Strong<CArgument>::New(new CArgumentInteger(iValue))) {}
	tArg(long long iValue) : m_pValue(Strong<CArgument>::New(new CArgumentLongInteger(iValue))) {}
	tArg(float fValue) : m_pValue(Strong<CArgument>::New(new CArgumentFloat(fValue))) {}
	tArg(double dValue) : m_pValue(Strong<CArgument>::New(new CArgumentDouble(dValue))) {}
	tArg(const char* szValue) : m_pValue(Strong<CArgument>::New(new CArgumentString(szValue, strlen(szValue)))) {}
	tArg(const std::string& Value) : m_pValue(Strong<CArgument>::New(new CArgumentString(Value.data(), Value.size())))
	{
	}
	tArg(const CVector2D& v) : m_pValue(Strong<CArgument>::New(new CArgumentVector2D(v))) {}
	tArg(const CVector3D& v) : m_pValue(Strong<CArgument>::New(new CArgumentVector3D(v))) {}
	tArg(const CMatrix4x4& m) : m_pValue(Strong<CArgument>::New(new CArgumentMatrix4x4(m))) {}
	tArg(CBaseObject* pObject) : m_pValue(Strong<CArgument>::New(CArgument::Create(pObject))) {}
	tArg(CArgument* pValue) : m_pValue(Strong<CArgument>::New(pValue)) {}

	Strong<CArgument> m_pValue;
};

tArg Bytes(const std::vector<uint8_t>& Data)
{
	return tArg(new CArgumentBytes(Data.data(), Data.size()));
}

struct tResult
{
	bool m_bOk;
	std::string m_Error;
	// A copy of the returned value; null for "no value".
	Strong<CArgument> m_pValue;

	CBaseObject* Object() const { return m_pValue ? m_pValue->ToObject() : nullptr; }
	float Float() const
	{
		float f = std::nanf("");
		if (m_pValue && m_pValue->IsNumber())
			m_pValue->ToNumber(f);
		return f;
	}
	CVector3D Vector3() const
	{
		CVector3D v(-99, -99, -99);
		if (m_pValue && m_pValue->IsVector3D())
			m_pValue->ToVector3D(v);
		return v;
	}
	CVector2D Vector2() const
	{
		CVector2D v(-99, -99);
		if (m_pValue && m_pValue->IsVector2D())
			m_pValue->ToVector2D(v);
		return v;
	}
	std::string Text() const
	{
		if (!m_pValue || !(m_pValue->IsString() || m_pValue->GetType() == ARGUMENT_BYTES))
			return "<none>";
		size_t Length = 0;
		const uint8_t* pData = m_pValue->ToBytes(Length);
		return std::string(reinterpret_cast<const char*>(pData), Length);
	}
};

void ExpectVector(const CVector3D& v, float x, float y, float z)
{
	EXPECT_NEAR(v.x, x, EPSILON);
	EXPECT_NEAR(v.y, y, EPSILON);
	EXPECT_NEAR(v.z, z, EPSILON);
}

class ScriptClassesTest : public ::testing::Test
{
protected:
	void SetUp() override
	{
		RegisterScriptClasses(&m_Scripting);
		ReflectedNamespace* pGlobal = m_Scripting.GetGlobal();
		m_pVec2 = pGlobal->m_pVec2Class;
		m_pVec3 = pGlobal->m_pVec3Class;
		m_pMatrix = pGlobal->m_pMatrix4x4Class;
		m_pStream = pGlobal->m_pStreamClass;
		m_pTextReader = m_Scripting.GetTextReaderClass();
	}

	tResult Invoke(const ScriptFunction& Function, void* pUserData, CBaseObject* pThis, const std::vector<tArg>& Args)
	{
		CArgumentArray Arguments;
		for (const tArg& Arg : Args)
			Arguments.Add(Arg.m_pValue);
		CNativeState State(&m_Scripting, nullptr, &Arguments);
		State.SetThis(pThis);
		tResult Result;
		Result.m_bOk = Function.Call(&State, static_cast<int>(Arguments.GetArrayCount()), pUserData);
		EXPECT_EQ(Result.m_bOk, !State.m_bHasError) << "a native fails exactly when it reports an error";
		EXPECT_LE(State.m_RVal.GetArrayCount(), 1u);
		Result.m_Error = Result.m_bOk ? "" : g_szError;
		if (CArgument* pValue = State.m_RVal.GetReturnArgument())
			Result.m_pValue = Strong<CArgument>::New(pValue->Clone());
		return Result;
	}

	tResult Call(ReflectedClass* pClass, const char* szName, CBaseObject* pThis, const std::vector<tArg>& Args = {})
	{
		for (ReflectedFunction* pFunction : pClass->GetFunctions())
		{
			if (strcmp(pFunction->GetName(), szName) == 0)
				return Invoke(pFunction->m_Function, pFunction->m_pUserData, pThis, Args);
		}
		ADD_FAILURE() << "no method " << szName;
		return tResult{false, "", Strong<CArgument>()};
	}

	tResult Get(ReflectedClass* pClass, const char* szName, CBaseObject* pThis)
	{
		ReflectedProperty* pProperty = pClass->GetProperty(szName);
		if (!pProperty)
			return tResult{false, "no property", Strong<CArgument>()};
		return Invoke(pProperty->m_Getter, pProperty->m_pUserData, pThis, {});
	}

	tResult Set(ReflectedClass* pClass, const char* szName, CBaseObject* pThis, tArg Value)
	{
		ReflectedProperty* pProperty = pClass->GetProperty(szName);
		if (!pProperty || pProperty->IsReadOnly())
			return tResult{false, "read-only", Strong<CArgument>()};
		return Invoke(pProperty->m_Setter, pProperty->m_pUserData, pThis, {Value});
	}

	tResult Construct(ReflectedClass* pClass, const std::vector<tArg>& Args = {})
	{
		return Invoke(pClass->m_Constructor.m_Function, pClass->m_Constructor.m_pUserData, nullptr, Args);
	}

	// A new instance held by the test.
	Strong<CBaseObject> New(ReflectedClass* pClass, const std::vector<tArg>& Args = {})
	{
		tResult Result = Construct(pClass, Args);
		EXPECT_TRUE(Result.m_bOk) << Result.m_Error;
		return Strong<CBaseObject>(Result.Object());
	}

	CVector3D Vec3Of(CBaseObject* pObject) { return static_cast<CVector3DObject*>(pObject)->m_Value; }
	CMatrix4x4 MatrixOf(CBaseObject* pObject) { return static_cast<CMatrix4x4Object*>(pObject)->m_Value; }

	CScripting m_Scripting;
	ReflectedClass* m_pVec2 = nullptr;
	ReflectedClass* m_pVec3 = nullptr;
	ReflectedClass* m_pMatrix = nullptr;
	ReflectedClass* m_pStream = nullptr;
	ReflectedClass* m_pTextReader = nullptr;
};

class StreamClassTest : public ScriptClassesTest
{
protected:
	void SetUp() override
	{
		ScriptClassesTest::SetUp();
		m_pBuffer = Strong<CUnlimitedStream>::New(new CUnlimitedStream());
		m_pScriptStream = Strong<CScriptStream>::New(new CScriptStream(m_pStream, m_pBuffer));
	}

	// Replaces the buffer's contents and rewinds it.
	void Fill(const std::vector<uint8_t>& Data)
	{
		m_pBuffer = Strong<CUnlimitedStream>::New(new CUnlimitedStream());
		if (!Data.empty())
			m_pBuffer->Write(Data.data(), Data.size());
		m_pBuffer->Seek(0, 0);
		m_pScriptStream = Strong<CScriptStream>::New(new CScriptStream(m_pStream, m_pBuffer));
	}

	std::vector<uint8_t> Written() const
	{
		return std::vector<uint8_t>(m_pBuffer->GetData(), m_pBuffer->GetData() + m_pBuffer->GetSize());
	}

	tResult StreamCall(const char* szName, const std::vector<tArg>& Args = {})
	{
		return Call(m_pStream, szName, m_pScriptStream, Args);
	}

	Strong<CUnlimitedStream> m_pBuffer;
	Strong<CScriptStream> m_pScriptStream;
};
}

TEST_F(ScriptClassesTest, ClassesAreTheGlobalRememberedOnes)
{
	ASSERT_NE(m_pVec2, nullptr);
	ASSERT_NE(m_pVec3, nullptr);
	ASSERT_NE(m_pMatrix, nullptr);
	ASSERT_NE(m_pStream, nullptr);
	ASSERT_NE(m_pTextReader, nullptr);
	EXPECT_STREQ(m_pTextReader->GetName(), "TextReader");

	// The registry can make and convert the by-value classes on its own, as the languages do.
	CBaseObject* pObject = Reflection::Construct(&m_Scripting, m_pVec3);
	ASSERT_NE(pObject, nullptr);
	EXPECT_EQ(pObject->GetReflectedClass(), m_pVec3);
	CArgument* pValue = Reflection::ToArgument(pObject, &m_Scripting);
	EXPECT_EQ(pValue->GetType(), ARGUMENT_VECTOR3D);
	pValue->Release();
	pObject->Release();
}

TEST_F(ScriptClassesTest, VectorConstructorsFillGivenComponents)
{
	struct tCase
	{
		std::vector<tArg> Args;
		CVector3D Expected;
	};
	const std::vector<tCase> rgCases = {
		{{}, CVector3D(0, 0, 0)},
		{{5}, CVector3D(5, 0, 0)},
		{{1.5, 2}, CVector3D(1.5f, 2, 0)},
		{{1, 2, 3}, CVector3D(1, 2, 3)},
		{{1, 2, 3, "ignored"}, CVector3D(1, 2, 3)},
	};
	for (const tCase& Case : rgCases)
	{
		Strong<CBaseObject> pVec = New(m_pVec3, Case.Args);
		ASSERT_TRUE(pVec);
		EXPECT_EQ(pVec->GetReflectedClass(), m_pVec3);
		ExpectVector(Vec3Of(pVec), Case.Expected.x, Case.Expected.y, Case.Expected.z);
	}

	Strong<CBaseObject> pVec2 = New(m_pVec2, {7, 8, 9});
	EXPECT_FLOAT_EQ(Get(m_pVec2, "x", pVec2).Float(), 7);
	EXPECT_FLOAT_EQ(Get(m_pVec2, "y", pVec2).Float(), 8);

	tResult Refused = Construct(m_pVec3, {1, "two"});
	EXPECT_FALSE(Refused.m_bOk);
	EXPECT_EQ(Refused.m_Error, "Expected number for argument 2");
	EXPECT_FALSE(Refused.m_pValue);
}

TEST_F(ScriptClassesTest, VectorToStringAndClone)
{
	Strong<CBaseObject> pVec = New(m_pVec3, {1, 2, 3});
	EXPECT_EQ(Invoke(m_pVec3->m_ToString.m_Function, m_pVec3->m_ToString.m_pUserData, pVec, {}).Text(),
		"X: 1.000 Y: 2.000 Z: 3.000");
	Strong<CBaseObject> pVec2 = New(m_pVec2, {1, -2});
	EXPECT_EQ(Invoke(m_pVec2->m_ToString.m_Function, m_pVec2->m_ToString.m_pUserData, pVec2, {}).Text(),
		"X: 1.000 Y: -2.000");

	Strong<CBaseObject> pHuge = New(m_pVec3, {1e38, 1e38, 1e38});
	tResult Huge = Invoke(m_pVec3->m_ToString.m_Function, m_pVec3->m_ToString.m_pUserData, pHuge, {});
	EXPECT_FALSE(Huge.m_bOk);
	EXPECT_EQ(Huge.m_Error, "Unable to generate the string");

	tResult Clone = Invoke(m_pVec3->m_Clone.m_Function, m_pVec3->m_Clone.m_pUserData, pVec, {});
	ASSERT_TRUE(Clone.m_bOk);
	ASSERT_NE(Clone.Object(), pVec.GetPointer());
	ExpectVector(Vec3Of(Clone.Object()), 1, 2, 3);
}

TEST_F(ScriptClassesTest, VectorProperties)
{
	Strong<CBaseObject> pVec = New(m_pVec3, {3, 4, 12});
	EXPECT_TRUE(Set(m_pVec3, "z", pVec, 0).m_bOk);
	EXPECT_FLOAT_EQ(Get(m_pVec3, "length", pVec).Float(), 5);
	EXPECT_FLOAT_EQ(Get(m_pVec3, "squaredLength", pVec).Float(), 25);
	EXPECT_EQ(Get(m_pVec3, "x", pVec).m_pValue->GetType(), ARGUMENT_FLOAT);
	EXPECT_FALSE(Set(m_pVec3, "length", pVec, 1).m_bOk);
	tResult Bad = Set(m_pVec3, "x", pVec, "text");
	EXPECT_EQ(Bad.m_Error, "Expected number for argument 1");
}

TEST_F(ScriptClassesTest, Vec3OperationsWithAnotherVector)
{
	Strong<CBaseObject> pVec = New(m_pVec3, {1, -2, 3});
	const CVector3D Other(-4, 5, 6);
	struct tCase
	{
		const char* szName;
		float fExpected;
	};
	const tCase rgNumbers[] = {
		{"distance", std::sqrt(83.0f)},
		{"squaredDistance", 83},
		{"dotProduct", 4},
		{"absDotProduct", 32},
	};
	for (const tCase& Case : rgNumbers)
	{
		tResult Result = Call(m_pVec3, Case.szName, pVec, {Other});
		EXPECT_EQ(Result.m_pValue->GetType(), ARGUMENT_FLOAT) << Case.szName;
		EXPECT_NEAR(Result.Float(), Case.fExpected, 1e-4f) << Case.szName;
	}
	ExpectVector(Call(m_pVec3, "crossProduct", pVec, {Other}).Vector3(), -27, -18, -3);
	ExpectVector(Call(m_pVec3, "midPoint", pVec, {Other}).Vector3(), -1.5f, 1.5f, 4.5f);

	tResult NotVector = Call(m_pVec3, "dotProduct", pVec, {"x"});
	EXPECT_EQ(NotVector.m_Error, "Expected Vector3D for argument 1");
	// The receiver is never changed by these.
	ExpectVector(Vec3Of(pVec), 1, -2, 3);
}

TEST_F(ScriptClassesTest, InterpolationClampsOnlyInterpolate)
{
	Strong<CBaseObject> pVec = New(m_pVec3, {1, 0, 0});
	const CVector3D Other(0, 1, 0);
	const float h = std::sqrt(0.5f);
	struct tCase
	{
		const char* szName;
		double t;
		CVector3D Expected;
	};
	const tCase rgCases[] = {
		{"interpolate", 0.25, CVector3D(0.75f, 0.25f, 0)},
		{"interpolate", 2, CVector3D(0, 1, 0)},
		{"interpolate", -3, CVector3D(2, -1, 0)},
		{"extrapolate", 2, CVector3D(-1, 2, 0)},
		{"sphericalInterpolate", 1, CVector3D(0, 1, 0)},
		{"sphericalInterpolate", 0.5, CVector3D(h, h, 0)},
		{"sphericalInterpolate", 5, CVector3D(0, 1, 0)},
		{"sphericalExtrapolate", 2, CVector3D(-1, 0, 0)},
	};
	for (const tCase& Case : rgCases)
	{
		CVector3D v = Call(m_pVec3, Case.szName, pVec, {Other, Case.t}).Vector3();
		EXPECT_NEAR(v.x, Case.Expected.x, 1e-4f) << Case.szName << " " << Case.t;
		EXPECT_NEAR(v.y, Case.Expected.y, 1e-4f) << Case.szName << " " << Case.t;
		EXPECT_NEAR(v.z, Case.Expected.z, 1e-4f) << Case.szName << " " << Case.t;
	}
	ExpectVector(Vec3Of(pVec), 1, 0, 0);

	// The spherical form runs along the arc: between unit vectors at 60 degrees it ends on the other one.
	const CVector3D Sixty(0.5f, std::sqrt(0.75f), 0);
	ExpectVector(Call(m_pVec3, "sphericalInterpolate", pVec, {Sixty, 1.0}).Vector3(), Sixty.x, Sixty.y, 0);

	Strong<CBaseObject> pVec2 = New(m_pVec2, {1, 0});
	CVector2D v2 = Call(m_pVec2, "extrapolate", pVec2, {CVector2D(0, 1), 2.0}).Vector2();
	EXPECT_NEAR(v2.x, -1, EPSILON);
	EXPECT_NEAR(v2.y, 2, EPSILON);
	v2 = Call(m_pVec2, "sphericalInterpolate", pVec2, {CVector2D(0, 1), 1.0}).Vector2();
	EXPECT_NEAR(v2.x, 0, EPSILON);
	EXPECT_NEAR(v2.y, 1, EPSILON);
}

TEST_F(ScriptClassesTest, NormaliseReturnsThePreviousLength)
{
	Strong<CBaseObject> pZero = New(m_pVec3);
	tResult Zero = Call(m_pVec3, "normalise", pZero);
	EXPECT_EQ(Zero.Float(), 0.0f);
	ExpectVector(Vec3Of(pZero), 0, 0, 0);

	Strong<CBaseObject> pVec = New(m_pVec3, {3, 4, 0});
	EXPECT_FLOAT_EQ(Call(m_pVec3, "normalise", pVec).Float(), 5);
	ExpectVector(Vec3Of(pVec), 0.6f, 0.8f, 0);
}

TEST_F(ScriptClassesTest, PolarAndSphericalForms)
{
	const float fHalfPi = 1.57079632679f;
	Strong<CBaseObject> pVec = New(m_pVec3, {1, 1, 1});
	ExpectVector(Call(m_pVec3, "addPolar", pVec, {2, 0.0}).Vector3(), 3, 1, 1);
	ExpectVector(Call(m_pVec3, "addSpherical", pVec, {2, fHalfPi, fHalfPi}).Vector3(), 1, 3, 1);
	ExpectVector(Call(m_pVec3, "addSpherical", pVec, {2, 0.0, 0.0}).Vector3(), 1, 1, 3);

	Strong<CBaseObject> pPoint = New(m_pVec3, {0, 3, 4});
	ExpectVector(Call(m_pVec3, "cartesianToPolar", pPoint).Vector3(), 3, fHalfPi, 4);
	ExpectVector(Call(m_pVec3, "cartesianToSpherical", pPoint).Vector3(), 5, std::acos(0.8f), fHalfPi);

	CVector3D Origin = Call(m_pVec3, "cartesianToSpherical", New(m_pVec3)).Vector3();
	EXPECT_EQ(Origin.x, 0.0f);
	EXPECT_TRUE(std::isnan(Origin.y));
	EXPECT_EQ(Origin.z, 0.0f);

	Strong<CBaseObject> pVec2 = New(m_pVec2, {0, -2});
	CVector2D Polar = Call(m_pVec2, "cartesianToPolar", pVec2).Vector2();
	EXPECT_NEAR(Polar.x, 2, EPSILON);
	EXPECT_NEAR(Polar.y, -fHalfPi, EPSILON);
	CVector2D Moved = Call(m_pVec2, "addPolar", pVec2, {1, fHalfPi}).Vector2();
	EXPECT_NEAR(Moved.x, 0, EPSILON);
	EXPECT_NEAR(Moved.y, -1, EPSILON);
}

TEST_F(ScriptClassesTest, ReceiverMustBeOfTheClass)
{
	Strong<CBaseObject> pMatrix = New(m_pMatrix);
	tResult Foreign = Call(m_pVec3, "normalise", pMatrix);
	EXPECT_FALSE(Foreign.m_bOk);
	EXPECT_EQ(Foreign.m_Error, "Vec3 expected for 'this'");
	tResult Missing = Call(m_pMatrix, "setIdentity", nullptr);
	EXPECT_EQ(Missing.m_Error, "'this' is null");

	// A class derived from Vec3 whose objects do not hold a vector is refused, not misread.
	ReflectedClass* pDerived = m_Scripting.GetGlobal()->NewClass("Derived", m_pVec3);
	Strong<CBaseObject> pImpostor = Strong<CBaseObject>::New(new CObjectValue<int>(pDerived));
	EXPECT_EQ(Get(m_pVec3, "x", pImpostor).m_Error, "Vec3 expected for 'this'");
}

TEST_F(ScriptClassesTest, NewMatrixIsIdentity)
{
	Strong<CBaseObject> pMatrix = New(m_pMatrix, {"arguments are not read"});
	EXPECT_EQ(Call(m_pMatrix, "getElement", pMatrix, {5}).Float(), 1.0f);
	EXPECT_EQ(Call(m_pMatrix, "getElement", pMatrix, {4}).Float(), 0.0f);
	EXPECT_EQ(Call(m_pMatrix, "getElement", pMatrix, {15}).Float(), 1.0f);
	const tArg rgBadIndexes[] = {16, -1, -1.0, 1e30, (long long)1 << 40};
	for (const tArg& Index : rgBadIndexes)
		EXPECT_EQ(Call(m_pMatrix, "getElement", pMatrix, {Index}).m_Error, "invalid index");
	EXPECT_EQ(Call(m_pMatrix, "getElement", pMatrix, {"0"}).m_Error, "Expected integer for argument 1");
}

TEST_F(ScriptClassesTest, MatrixElementsAndProperties)
{
	Strong<CBaseObject> pMatrix = New(m_pMatrix);
	EXPECT_TRUE(Call(m_pMatrix, "setElement", pMatrix, {6, 2.5}).m_bOk);
	EXPECT_EQ(MatrixOf(pMatrix).m23, 2.5f);
	EXPECT_FLOAT_EQ(Get(m_pMatrix, "m23", pMatrix).Float(), 2.5f);
	EXPECT_TRUE(Set(m_pMatrix, "m41", pMatrix, 7).m_bOk);
	EXPECT_EQ(Call(m_pMatrix, "getElement", pMatrix, {12}).Float(), 7.0f);
	EXPECT_EQ(m_pMatrix->GetProperties().size(), 16u);

	// The index is checked before the value is read.
	EXPECT_EQ(Call(m_pMatrix, "setElement", pMatrix, {16, "x"}).m_Error, "invalid index");
	EXPECT_EQ(Call(m_pMatrix, "setElement", pMatrix, {1, "x"}).m_Error, "Expected number for argument 2");

	Call(m_pMatrix, "setTranslate", pMatrix, {CVector3D(1, 2, 3)});
	ExpectVector(Call(m_pMatrix, "getVector3", pMatrix, {3}).Vector3(), 1, 2, 3);
	ExpectVector(Call(m_pMatrix, "getVector3", pMatrix, {0}).Vector3(), 1, 0, 0);
	EXPECT_EQ(Call(m_pMatrix, "getVector3", pMatrix, {4}).m_Error, "invalid index");
}

TEST_F(ScriptClassesTest, MatrixTransforms)
{
	Strong<CBaseObject> pMatrix = New(m_pMatrix);
	Call(m_pMatrix, "setTranslate", pMatrix, {CVector3D(1, 2, 3)});
	ExpectVector(Call(m_pMatrix, "transformCoordinate", pMatrix, {CVector3D(0, 0, 0)}).Vector3(), 1, 2, 3);

	const float a = 0.4f;
	Call(m_pMatrix, "setRotateZ", pMatrix, {a});
	ExpectVector(Call(m_pMatrix, "transformCoordinate", pMatrix, {CVector3D(1, 0, 0)}).Vector3(), std::cos(a),
		std::sin(a), 0);
	Call(m_pMatrix, "setRotateX", pMatrix, {a});
	ExpectVector(Call(m_pMatrix, "transformCoordinate", pMatrix, {CVector3D(0, 1, 0)}).Vector3(), 0, std::cos(a),
		std::sin(a));
	Call(m_pMatrix, "setRotateY", pMatrix, {a});
	ExpectVector(Call(m_pMatrix, "transformCoordinate", pMatrix, {CVector3D(1, 0, 0)}).Vector3(), std::cos(a), 0,
		-std::sin(a));

	CMatrix4x4 Expected;
	Expected.SetRotate(CVector3D(0.1f, 0.2f, 0.3f));
	Call(m_pMatrix, "setRotate", pMatrix, {CVector3D(0.1f, 0.2f, 0.3f)});
	for (int i = 0; i < 16; i++)
		EXPECT_FLOAT_EQ(MatrixOf(pMatrix).GetAt(i), Expected.GetAt(i));

	Call(m_pMatrix, "setScale", pMatrix, {CVector3D(2, 3, 4)});
	ExpectVector(Call(m_pMatrix, "transformCoordinate", pMatrix, {CVector3D(1, 1, 1)}).Vector3(), 2, 3, 4);
	Call(m_pMatrix, "setIdentity", pMatrix);
	ExpectVector(Call(m_pMatrix, "transformCoordinate", pMatrix, {CVector3D(5, 6, 7)}).Vector3(), 5, 6, 7);
}

TEST_F(ScriptClassesTest, MultiplyStopsAtTheFirstNonMatrix)
{
	CMatrix4x4 Two, Three, Translate;
	Two.SetScale(CVector3D(2, 2, 2));
	Three.SetScale(CVector3D(3, 3, 3));
	Translate.SetTranslate(CVector3D(1, 0, 0));

	Strong<CBaseObject> pMatrix = New(m_pMatrix);
	EXPECT_TRUE(Call(m_pMatrix, "setMultiply", pMatrix, {Two, Translate, Three}).m_bOk);
	EXPECT_EQ(MatrixOf(pMatrix).m11, 6.0f);
	EXPECT_EQ(MatrixOf(pMatrix).m41, 3.0f);

	EXPECT_TRUE(Call(m_pMatrix, "multiply", pMatrix, {Two}).m_bOk);
	EXPECT_EQ(MatrixOf(pMatrix).m11, 12.0f);

	tResult Stopped = Call(m_pMatrix, "multiply", pMatrix, {Three, "x", Three});
	EXPECT_EQ(Stopped.m_Error, "Expected Matrix4x4 for argument 2");
	EXPECT_EQ(MatrixOf(pMatrix).m11, 36.0f);

	tResult NoFirst = Call(m_pMatrix, "setMultiply", pMatrix, {CVector3D(1, 2, 3)});
	EXPECT_EQ(NoFirst.m_Error, "Expected Matrix4x4 for argument 1");
	EXPECT_EQ(MatrixOf(pMatrix).m11, 36.0f);
}

TEST_F(ScriptClassesTest, SetInverseReturnsTheReciprocalDeterminant)
{
	Strong<CBaseObject> pMatrix = New(m_pMatrix);
	CMatrix4x4 Identity;
	Identity.SetIdentity();
	tResult One = Call(m_pMatrix, "setInverse", pMatrix, {Identity});
	EXPECT_EQ(One.m_pValue->GetType(), ARGUMENT_FLOAT);
	EXPECT_EQ(One.Float(), 1.0f);
	for (int i = 0; i < 16; i++)
		EXPECT_EQ(MatrixOf(pMatrix).GetAt(i), Identity.GetAt(i));

	CMatrix4x4 Scale;
	Scale.SetScale(CVector3D(2, 2, 2));
	EXPECT_FLOAT_EQ(Call(m_pMatrix, "setInverse", pMatrix, {Scale}).Float(), 0.125f);
	EXPECT_FLOAT_EQ(MatrixOf(pMatrix).m11, 0.5f);

	// A singular matrix passed as the receiver's own value: null, and the receiver holds the cofactors.
	CMatrix4x4 Singular;
	Singular.SetIdentity();
	Singular.m11 = 0.0f;
	Strong<CBaseObject> pSingular = New(m_pMatrix);
	static_cast<CMatrix4x4Object*>(pSingular.GetPointer())->m_Value = Singular;
	tResult Null = Call(m_pMatrix, "setInverse", pSingular, {MatrixOf(pSingular)});
	EXPECT_TRUE(Null.m_bOk);
	ASSERT_TRUE(Null.m_pValue);
	EXPECT_EQ(Null.m_pValue->GetType(), ARGUMENT_NIL);
	CMatrix4x4 Cofactors = MatrixOf(pSingular);
	EXPECT_EQ(Cofactors.m11, 1.0f);
	EXPECT_EQ(Cofactors.m22, 0.0f);
	EXPECT_EQ(Cofactors.m33, 0.0f);
	EXPECT_EQ(Cofactors.m44, 0.0f);
}

TEST_F(StreamClassTest, WireStrings)
{
	EXPECT_TRUE(StreamCall("writeString", {"abc"}).m_bOk);
	EXPECT_EQ(Written(), (std::vector<uint8_t>{0x03, 'a', 'b', 'c'}));
	m_pBuffer->Seek(0, 0);
	EXPECT_EQ(StreamCall("readString").Text(), "abc");

	Fill({});
	StreamCall("writeString", {std::string(200, 'z')});
	std::vector<uint8_t> Long = Written();
	ASSERT_EQ(Long.size(), 202u);
	EXPECT_EQ(Long[0], 0xC8);
	EXPECT_EQ(Long[1], 0x01);
	m_pBuffer->Seek(0, 0);
	EXPECT_EQ(StreamCall("readString").Text(), std::string(200, 'z'));

	Fill({});
	StreamCall("writeString", {""});
	EXPECT_EQ(Written(), (std::vector<uint8_t>{0x00}));
	m_pBuffer->Seek(0, 0);
	tResult Empty = StreamCall("readString");
	EXPECT_TRUE(Empty.m_bOk);
	EXPECT_EQ(Empty.Text(), "");

	EXPECT_EQ(StreamCall("writeString", {5}).m_Error, "Expected string for argument 1");
}

TEST_F(StreamClassTest, MalformedWireStringsFail)
{
	const std::vector<uint8_t> rgInputs[] = {
		{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01},
		{},
		{0x80},
		{0x05, 'a', 'b'},
		// A length far beyond what the stream holds is refused before anything is allocated.
		{0xFF, 0xFF, 0xFF, 0xFF, 0x0F},
	};
	for (const std::vector<uint8_t>& Input : rgInputs)
	{
		Fill(Input);
		EXPECT_EQ(StreamCall("readString").m_Error, "unable to read string") << Input.size();
	}
}

TEST_F(StreamClassTest, TypedNumbersRoundTrip)
{
	struct tCase
	{
		const char* szWrite;
		tArg Value;
		std::vector<uint8_t> Bytes;
		const char* szRead;
		uint8_t ucReadType;
		double dRead;
	};
	const tCase rgCases[] = {
		{"writeInt8", -1, {0xFF}, "readInt8", ARGUMENT_INTEGER, -1},
		{"writeInt8", 0x1234, {0x34}, "readUInt8", ARGUMENT_INTEGER, 0x34},
		{"writeUInt8", 300, {0x2C}, "readUInt8", ARGUMENT_INTEGER, 44},
		{"writeUInt8", 255, {0xFF}, "readUInt8", ARGUMENT_INTEGER, 255},
		{"writeInt16", 32767, {0xFF, 0x7F}, "readInt16", ARGUMENT_INTEGER, 32767},
		{"writeInt16", -2, {0xFE, 0xFF}, "readInt16", ARGUMENT_INTEGER, -2},
		{"writeUInt16", 65535, {0xFF, 0xFF}, "readUInt16", ARGUMENT_INTEGER, 65535},
		{"writeInt32", -5, {0xFB, 0xFF, 0xFF, 0xFF}, "readInt32", ARGUMENT_INTEGER, -5},
		{"writeUInt32", 4294967295LL, {0xFF, 0xFF, 0xFF, 0xFF}, "readUInt32", ARGUMENT_INTEGER, -1},
		{"writeInt64", -2LL, {0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, "readInt64", ARGUMENT_LONGINTEGER, -2},
		{"writeUInt64", 1LL << 40, {0, 0, 0, 0, 0, 1, 0, 0}, "readUInt64", ARGUMENT_LONGINTEGER, 1099511627776.0},
		{"writeFloat", 1.5, {0x00, 0x00, 0xC0, 0x3F}, "readFloat", ARGUMENT_FLOAT, 1.5},
		{"writeDouble", -2.0, {0, 0, 0, 0, 0, 0, 0, 0xC0}, "readDouble", ARGUMENT_DOUBLE, -2},
		// Numbers out of an integer's range saturate rather than being undefined.
		{"writeInt32", 1e20, {0xFF, 0xFF, 0xFF, 0x7F}, "readInt32", ARGUMENT_INTEGER, 2147483647},
	};
	for (const tCase& Case : rgCases)
	{
		Fill({});
		EXPECT_TRUE(StreamCall(Case.szWrite, {Case.Value}).m_bOk) << Case.szWrite;
		EXPECT_EQ(Written(), Case.Bytes) << Case.szWrite;
		m_pBuffer->Seek(0, 0);
		tResult Read = StreamCall(Case.szRead);
		ASSERT_TRUE(Read.m_bOk) << Case.szRead;
		EXPECT_EQ(Read.m_pValue->GetType(), Case.ucReadType) << Case.szRead;
		double dValue = 0;
		Read.m_pValue->ToNumber(dValue);
		EXPECT_EQ(dValue, Case.dRead) << Case.szRead;
		EXPECT_EQ(StreamCall(Case.szRead).m_Error, "unable to read") << Case.szRead;
	}

	EXPECT_EQ(StreamCall("writeInt8", {"x"}).m_Error, "Expected integer for argument 1");
	EXPECT_EQ(StreamCall("writeFloat", {"x"}).m_Error, "Expected number for argument 1");
}

TEST_F(StreamClassTest, ReadBytesTakesExactlyTheCount)
{
	Fill({1, 2, 3});
	tResult None = StreamCall("readBytes", {0});
	ASSERT_TRUE(None.m_bOk);
	EXPECT_EQ(None.m_pValue->GetType(), ARGUMENT_BYTES);
	EXPECT_EQ(None.Text(), "");

	tResult Two = StreamCall("readBytes", {2});
	EXPECT_EQ(Two.Text(), std::string("\x01\x02", 2));

	const tArg rgTooMany[] = {2, -1, (long long)1 << 40, 1e300};
	for (const tArg& Count : rgTooMany)
		EXPECT_EQ(StreamCall("readBytes", {Count}).m_Error, "unable to read");
	EXPECT_EQ(StreamCall("readBytes", {1}).Text(), "\x03");
}

TEST_F(StreamClassTest, WriteBytesTakesStringsAndBytes)
{
	EXPECT_TRUE(StreamCall("writeBytes", {Bytes({0, 0xFF})}).m_bOk);
	EXPECT_TRUE(StreamCall("writeBytes", {"ab"}).m_bOk);
	EXPECT_TRUE(StreamCall("writeBytes", {Bytes({})}).m_bOk);
	EXPECT_EQ(Written(), (std::vector<uint8_t>{0, 0xFF, 'a', 'b'}));
	EXPECT_EQ(StreamCall("writeBytes", {3}).m_Error, "Expected bytes for argument 1");
}

TEST_F(StreamClassTest, RefusedWritesFail)
{
	static const uint8_t rgData[2] = {0, 0};
	Strong<CMemoryStream> pReadOnly = Strong<CMemoryStream>::New(new CMemoryStream(rgData, sizeof(rgData)));
	m_pScriptStream = Strong<CScriptStream>::New(new CScriptStream(m_pStream, pReadOnly));
	EXPECT_EQ(StreamCall("writeInt8", {1}).m_Error, "unable to write");
	EXPECT_EQ(StreamCall("writeBytes", {"a"}).m_Error, "unable to write bytes");
	EXPECT_EQ(StreamCall("writeString", {"a"}).m_Error, "unable to write string");
	EXPECT_EQ(StreamCall("writeString", {""}).m_Error, "unable to write string");
}

TEST_F(StreamClassTest, ClosedStreams)
{
	Fill({1, 2, 3, 4});
	tResult Length = Get(m_pStream, "length", m_pScriptStream);
	EXPECT_EQ(Length.m_pValue->GetType(), ARGUMENT_LONGINTEGER);
	EXPECT_EQ(Length.Float(), 4.0f);
	StreamCall("readInt8");
	EXPECT_EQ(Get(m_pStream, "position", m_pScriptStream).Float(), 1.0f);

	EXPECT_TRUE(StreamCall("close").m_bOk);
	EXPECT_EQ(m_pScriptStream->GetStream(), nullptr);
	EXPECT_EQ(m_pBuffer->GetRefCount(), 1);
	EXPECT_EQ(StreamCall("close").m_Error, "stream already closed");
	EXPECT_EQ(Get(m_pStream, "length", m_pScriptStream).m_Error, "stream already closed");
	EXPECT_EQ(Get(m_pStream, "position", m_pScriptStream).m_Error, "stream already closed");
	const char* rgszClosed[] = {"readInt32", "readString", "readLine", "readBytes", "writeString", "writeDouble"};
	for (const char* szName : rgszClosed)
		EXPECT_EQ(StreamCall(szName, {1}).m_Error, "stream closed") << szName;
}

TEST_F(StreamClassTest, DroppingAnUnclosedStreamClosesItAndSaysSo)
{
	// The fixture's own instance goes before there is a log to tell.
	m_pScriptStream.SetNull();
	Context LogContext;
	const struct
	{
		const char* szName;
		bool bCloseFirst;
		std::string Expected;
	} rgCases[] = {
		{"left open", false, "\x1b[31;1mScript stream closed via garbage collection!\x1b[0;0m\n"},
		{"closed by the script", true, ""},
	};
	for (const auto& Case : rgCases)
	{
		SCOPED_TRACE(Case.szName);
		Fill({1, 2, 3});
		// The line reader is made too, so that dropping the instance also has it to delete.
		StreamCall("readLine");
		if (Case.bCloseFirst)
			StreamCall("close");
		testing::internal::CaptureStdout();
		m_pScriptStream.SetNull();
		EXPECT_EQ(testing::internal::GetCapturedStdout(), Case.Expected);
		EXPECT_EQ(m_pBuffer->GetRefCount(), 1);
	}
}

TEST_F(StreamClassTest, ReadLineGivesLinesThenNull)
{
	const char szText[] = "first\r\nsecond\nthird";
	Fill(std::vector<uint8_t>(szText, szText + strlen(szText)));
	EXPECT_EQ(StreamCall("readLine").Text(), "first");
	EXPECT_EQ(StreamCall("readLine").Text(), "second");
	EXPECT_EQ(StreamCall("readLine").Text(), "third");
	tResult End = StreamCall("readLine");
	EXPECT_TRUE(End.m_bOk);
	ASSERT_TRUE(End.m_pValue);
	EXPECT_TRUE(End.m_pValue->IsNull());

	for (ReflectedFunction* pFunction : m_pStream->GetFunctions())
		EXPECT_EQ(pFunction->m_bObsolete, strcmp(pFunction->GetName(), "readLine") == 0) << pFunction->GetName();
}

TEST_F(StreamClassTest, TextReaderOverAStream)
{
	const char szText[] = "\xEF\xBB\xBFl\xC3\xA9\nend";
	Fill(std::vector<uint8_t>(szText, szText + strlen(szText)));
	Strong<CBaseObject> pReader = New(m_pTextReader, {m_pScriptStream.GetPointer()});
	ASSERT_TRUE(pReader);
	EXPECT_EQ(pReader->GetReflectedClass(), m_pTextReader);

	EXPECT_EQ(Call(m_pTextReader, "readCharacter", pReader).Float(), 'l');
	EXPECT_EQ(Call(m_pTextReader, "readCharacter", pReader).Float(), 0xE9);
	EXPECT_EQ(Call(m_pTextReader, "readLine", pReader).Text(), "");
	EXPECT_EQ(Call(m_pTextReader, "readLine", pReader).Text(), "end");
	EXPECT_TRUE(Call(m_pTextReader, "readLine", pReader).m_pValue->IsNull());
	EXPECT_TRUE(Call(m_pTextReader, "readCharacter", pReader).m_pValue->IsNull());
	EXPECT_EQ(Call(m_pTextReader, "loadText", pReader).Text(), "l\xC3\xA9\nend");

	// The reader keeps its own reference: closing the script stream does not end it.
	StreamCall("close");
	EXPECT_EQ(Call(m_pTextReader, "loadText", pReader).Text(), "l\xC3\xA9\nend");

	EXPECT_TRUE(Call(m_pTextReader, "close", pReader).m_bOk);
	EXPECT_TRUE(Call(m_pTextReader, "close", pReader).m_bOk);
	const char* rgszMembers[] = {"loadText", "readLine", "readCharacter"};
	for (const char* szName : rgszMembers)
		EXPECT_EQ(Call(m_pTextReader, szName, pReader).m_Error, "TextReader is closed") << szName;
}

TEST_F(StreamClassTest, TextReaderNeedsAnOpenStream)
{
	Fill({0xC3, 0x41});
	Strong<CBaseObject> pReader = New(m_pTextReader, {m_pScriptStream.GetPointer()});
	EXPECT_TRUE(Call(m_pTextReader, "readCharacter", pReader).m_pValue->IsNull());

	EXPECT_EQ(Construct(m_pTextReader, {5}).m_Error, "Expected Stream for argument 1");
	StreamCall("close");
	tResult Closed = Construct(m_pTextReader, {m_pScriptStream.GetPointer()});
	EXPECT_EQ(Closed.m_Error, "Stream closed");
	EXPECT_FALSE(Closed.m_pValue);
}

TEST_F(StreamClassTest, WhatStreamsAndReadersRetain)
{
	// A file's stream retains the C library's record of the file and its buffer, and the descriptor. Whatever
	// keeps the stream keeps them, whoever opened it: a reader keeps its stream after the script closed its own.
	struct tCase
	{
		const char* m_szName;
		// The object measured: a TextReader over the script stream, else the script stream itself.
		bool m_bReader;
		// The text is read: the reader's loadText, or the stream's readLine (which loads all of it).
		bool m_bRead;
		bool m_bCloseStream;
		bool m_bCloseReader;
		bool m_bKeepsFile;
		bool m_bKeepsText;
	};
	const tCase rgCases[] = {
		{"stream", false, false, false, false, true, false},
		{"stream with its lines read", false, true, false, false, true, true},
		{"closed stream", false, true, true, false, false, false},
		{"reader", true, false, false, false, true, false},
		{"loaded reader", true, true, false, false, true, true},
		{"loaded reader of a closed stream", true, true, true, false, true, true},
		{"unloaded reader of a closed stream", true, false, true, false, true, false},
		{"closed reader", true, true, true, true, false, false},
	};
	// Far more than the blocks of the objects themselves, far less than a file's buffer.
	constexpr size_t OWN_BLOCKS = 1024;
	CTempDirectory Dir;
	const std::string Text = "first line\n" + std::string(3000, 'x') + "\n";
	Dir.WriteFile("text.txt", Text);
	for (const tCase& Case : rgCases)
	{
		SCOPED_TRACE(Case.m_szName);
		Strong<Stream> pFile = Strong<Stream>::New(CStandardStream::Open((Dir / "text.txt").c_str(), "rb"));
		ASSERT_TRUE(pFile);
		const size_t FileBytes = pFile->GetRetainedBytes();
		ASSERT_GT(FileBytes, OWN_BLOCKS);
		m_pScriptStream = Strong<CScriptStream>::New(new CScriptStream(m_pStream, pFile));
		pFile.SetNull();

		Strong<CBaseObject> pMeasured(m_pScriptStream.GetPointer());
		if (Case.m_bReader)
			pMeasured = New(m_pTextReader, {m_pScriptStream.GetPointer()});
		if (Case.m_bRead)
		{
			EXPECT_TRUE(Case.m_bReader ? Call(m_pTextReader, "loadText", pMeasured).m_bOk : StreamCall("readLine").m_bOk);
		}
		if (Case.m_bCloseStream)
		{
			EXPECT_TRUE(StreamCall("close").m_bOk);
		}
		if (Case.m_bCloseReader)
		{
			EXPECT_TRUE(Call(m_pTextReader, "close", pMeasured).m_bOk);
		}

		const size_t Kept = (Case.m_bKeepsFile ? FileBytes : 0) + (Case.m_bKeepsText ? Text.size() : 0);
		// Counted at least once, and the stream and its line reader's stream not twice.
		EXPECT_GE(pMeasured->GetRetainedBytes(), Kept);
		EXPECT_LT(pMeasured->GetRetainedBytes(), Kept + OWN_BLOCKS);
	}
}
