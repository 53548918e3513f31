#include <gtest/gtest.h>

#include <cmath>

#include "Engine/KestrinMath.h"

namespace
{
constexpr float PI = 3.14159265358979f;
constexpr float EPSILON = 1e-5f;

void ExpectVector(const CVector3D& v, float x, float y, float z)
{
	EXPECT_NEAR(v.x, x, EPSILON);
	EXPECT_NEAR(v.y, y, EPSILON);
	EXPECT_NEAR(v.z, z, EPSILON);
}

void ExpectMatrix(const CMatrix4x4& a, const CMatrix4x4& b, float fTolerance = EPSILON)
{
	for (int i = 0; i < CMatrix4x4::ENTRY_COUNT; i++)
		EXPECT_NEAR(a.GetAt(i), b.GetAt(i), fTolerance) << "entry " << i;
}

// The plain definition of the product, to check SetMultiply against.
CMatrix4x4 NaiveProduct(const CMatrix4x4& a, const CMatrix4x4& b)
{
	CMatrix4x4 Result;
	for (int iRow = 0; iRow < 4; iRow++)
		for (int iColumn = 0; iColumn < 4; iColumn++)
		{
			float fSum = 0.0f;
			for (int k = 0; k < 4; k++)
				fSum += a.GetAt(iRow * 4 + k) * b.GetAt(k * 4 + iColumn);
			Result.SetAt(iRow * 4 + iColumn, fSum);
		}
	return Result;
}

CMatrix4x4 SampleMatrix()
{
	const float rgfEntries[16] = {2, 0, 1, 0, 1, 3, 0, 0, 0, 1, 4, 0, 5, 6, 7, 1};
	CMatrix4x4 m;
	m.FromArray(rgfEntries);
	return m;
}
}

TEST(MatrixMaths, EntriesAreStoredRowByRow)
{
	CMatrix4x4 m;
	m.SetEntry(MATRIX_ROW_4, MATRIX_COLUMN_1, 7.0f);
	m.SetEntry(MATRIX_ROW_1, MATRIX_COLUMN_2, 3.0f);
	m.MultiplyEntry(MATRIX_ROW_1, MATRIX_COLUMN_2, 2.0f);
	EXPECT_EQ(m.m41, 7.0f);
	EXPECT_EQ(m.m12, 6.0f);
	EXPECT_EQ(m.GetAt(12), 7.0f);
	EXPECT_EQ(m.GetEntry(MATRIX_ROW_1, MATRIX_COLUMN_2), 6.0f);
}

TEST(MatrixMaths, RotationsFollowTheRowVectorConvention)
{
	const float a = 0.3f;
	const float c = std::cos(a), s = std::sin(a);
	struct tCase
	{
		void (CMatrix4x4::*pfnRotate)(float);
		CVector3D In;
		CVector3D Expected;
	};
	const tCase rgCases[] = {
		{&CMatrix4x4::SetRotateX, CVector3D(0, 1, 0), CVector3D(0, c, s)},
		{&CMatrix4x4::SetRotateX, CVector3D(0, 0, 1), CVector3D(0, -s, c)},
		{&CMatrix4x4::SetRotateY, CVector3D(1, 0, 0), CVector3D(c, 0, -s)},
		{&CMatrix4x4::SetRotateY, CVector3D(0, 0, 1), CVector3D(s, 0, c)},
		{&CMatrix4x4::SetRotateZ, CVector3D(1, 0, 0), CVector3D(c, s, 0)},
		{&CMatrix4x4::SetRotateZ, CVector3D(0, 1, 0), CVector3D(-s, c, 0)},
	};
	for (const tCase& Case : rgCases)
	{
		CMatrix4x4 m;
		(m.*Case.pfnRotate)(a);
		CVector3D Out;
		m.TransformCoordinate(&Out, Case.In);
		ExpectVector(Out, Case.Expected.x, Case.Expected.y, Case.Expected.z);
	}

	CMatrix4x4 m;
	m.SetRotateZ(PI / 2);
	CVector3D Out;
	m.TransformCoordinate(&Out, CVector3D(1, 0, 0));
	ExpectVector(Out, 0, 1, 0);
}

TEST(MatrixMaths, SetRotateMultipliesXThenYThenZ)
{
	CMatrix4x4 x, y, z, m;
	x.SetRotateX(0.2f);
	y.SetRotateY(-0.7f);
	z.SetRotateZ(1.1f);
	m.SetRotate(CVector3D(0.2f, -0.7f, 1.1f));
	ExpectMatrix(m, NaiveProduct(NaiveProduct(x, y), z));
}

TEST(MatrixMaths, TranslateMovesPointsButNotNormals)
{
	CMatrix4x4 m;
	m.SetTranslate(CVector3D(1, 2, 3));
	CVector3D Out;
	m.TransformCoordinate(&Out, CVector3D(0, 0, 0));
	ExpectVector(Out, 1, 2, 3);
	m.TransformNormal(&Out, CVector3D(4, -5, 6));
	ExpectVector(Out, 4, -5, 6);
	// The output may alias the input.
	CVector3D v(1, 1, 1);
	m.TransformCoordinate(&v, v);
	ExpectVector(v, 2, 3, 4);
}

TEST(MatrixMaths, MultiplyIntoAnOperand)
{
	const CMatrix4x4 m = SampleMatrix();
	const CMatrix4x4 Expected = NaiveProduct(m, m);

	CMatrix4x4 Squared = m;
	Squared.SetMultiply(Squared, Squared);
	ExpectMatrix(Squared, Expected);

	CMatrix4x4 Other;
	Other.SetScale(CVector3D(2, 3, 4));
	CMatrix4x4 Left = m;
	Left *= Other;
	ExpectMatrix(Left, NaiveProduct(m, Other));
	ExpectMatrix(m * Other, NaiveProduct(m, Other));
}

TEST(MatrixMaths, InverseOfScaleReportsReciprocalDeterminant)
{
	CMatrix4x4 Scale, Inverse, Expected;
	Scale.SetScale(CVector3D(2, 2, 2));
	float fFactor = 0.0f;
	ASSERT_TRUE(Inverse.SetInverse(Scale, &fFactor));
	EXPECT_FLOAT_EQ(fFactor, 0.125f);
	Expected.SetScale(CVector3D(0.5f, 0.5f, 0.5f));
	ExpectMatrix(Inverse, Expected);
}

TEST(MatrixMaths, InverseTimesMatrixIsIdentity)
{
	const CMatrix4x4 m = SampleMatrix();
	CMatrix4x4 Inverse, Identity;
	Identity.SetIdentity();
	ASSERT_TRUE(Inverse.SetInverse(m, nullptr));
	ExpectMatrix(NaiveProduct(m, Inverse), Identity, 1e-4f);

	CMatrix4x4 InPlace = m;
	float fFactor = 0.0f;
	ASSERT_TRUE(InPlace.SetInverse(InPlace, &fFactor));
	ExpectMatrix(InPlace, Inverse);
	EXPECT_FLOAT_EQ(fFactor, 1.0f / 25.0f);
}

TEST(MatrixMaths, SingularInverseKeepsTheAdjugate)
{
	// Third row zero: every cofactor outside the third column vanishes.
	CMatrix4x4 m = SampleMatrix();
	m.m31 = m.m32 = m.m33 = m.m34 = 0.0f;

	CMatrix4x4 Target;
	Target.SetIdentity();
	float fFactor = 42.0f;
	EXPECT_FALSE(Target.SetInverse(m, &fFactor));
	EXPECT_EQ(fFactor, 42.0f);
	// m times its adjugate is the determinant (0) times the identity.
	ExpectMatrix(NaiveProduct(m, Target), CMatrix4x4());
	EXPECT_NE(Target.m33, 0.0f);

	CMatrix4x4 Self = m;
	EXPECT_FALSE(Self.SetInverse(Self, nullptr));
	ExpectMatrix(Self, m, 0.0f);
}

TEST(MatrixMaths, RotationToQuaternion)
{
	const float a = 0.8f;
	const float sh = std::sin(a / 2), ch = std::cos(a / 2);
	struct tCase
	{
		void (CMatrix4x4::*pfnRotate)(float);
		float fAngle;
		CQuaternion Expected;
	};
	const tCase rgCases[] = {
		{&CMatrix4x4::SetRotateX, a, CQuaternion(sh, 0, 0, ch)},
		{&CMatrix4x4::SetRotateY, a, CQuaternion(0, sh, 0, ch)},
		{&CMatrix4x4::SetRotateZ, a, CQuaternion(0, 0, sh, ch)},
		// Half turns have a negative trace and take the largest-diagonal branches.
		{&CMatrix4x4::SetRotateX, PI, CQuaternion(1, 0, 0, 0)},
		{&CMatrix4x4::SetRotateY, PI, CQuaternion(0, 1, 0, 0)},
		{&CMatrix4x4::SetRotateZ, PI, CQuaternion(0, 0, 1, 0)},
	};
	for (const tCase& Case : rgCases)
	{
		CMatrix4x4 m;
		(m.*Case.pfnRotate)(Case.fAngle);
		CQuaternion q;
		m.CalculateRotation(q);
		EXPECT_NEAR(q.x, Case.Expected.x, 1e-4f);
		EXPECT_NEAR(q.y, Case.Expected.y, 1e-4f);
		EXPECT_NEAR(q.z, Case.Expected.z, 1e-4f);
		EXPECT_NEAR(std::fabs(q.w), std::fabs(Case.Expected.w), 1e-4f);
	}
}

TEST(VectorMaths, NormaliseLeavesZeroAlone)
{
	CVector3D Zero;
	EXPECT_EQ(Zero.normalise(), 0.0f);
	ExpectVector(Zero, 0, 0, 0);

	CVector3D v(3, 4, 0);
	EXPECT_FLOAT_EQ(v.normalise(), 5.0f);
	ExpectVector(v, 0.6f, 0.8f, 0);

	CVector3D NaN(std::nanf(""), 0, 0);
	NaN.normalise();
	EXPECT_TRUE(std::isnan(NaN.x));

	CVector2D v2(0, -2);
	EXPECT_FLOAT_EQ(v2.normalise(), 2.0f);
	EXPECT_FLOAT_EQ(v2.y, -1.0f);
}

TEST(VectorMaths, Products)
{
	const CVector3D a(1, -2, 3), b(-4, 5, 6);
	EXPECT_FLOAT_EQ(a.dotProduct(b), -4 - 10 + 18);
	EXPECT_FLOAT_EQ(a.absDotProduct(b), 4 + 10 + 18);
	ExpectVector(a.crossProduct(b), -2 * 6 - 5 * 3, 3 * -4 - 6 * 1, 1 * 5 - -2 * -4);
	CVector3D c = a;
	c.SetCrossProduct(c, b);
	ExpectVector(c, -27, -18, -3);
	ExpectVector(a.midPoint(b), -1.5f, 1.5f, 4.5f);
	EXPECT_FLOAT_EQ(a.squaredDistance(b), 25 + 49 + 9);
	EXPECT_FLOAT_EQ(a.distance(b), std::sqrt(83.0f));
	EXPECT_FLOAT_EQ(CVector2D(3, 4).length(), 5.0f);
	EXPECT_FLOAT_EQ(CVector2D(1, 2).dotProduct(CVector2D(3, -1)), 1.0f);
}
