#include <cmath>

#include "Engine/KestrinMath.h"

void CMatrix4x4::SetIdentity()
{
	*this = CMatrix4x4();
	m11 = m22 = m33 = m44 = 1.0f;
}

void CMatrix4x4::SetTranslate(const CVector3D& v)
{
	SetIdentity();
	m41 = v.x;
	m42 = v.y;
	m43 = v.z;
}

void CMatrix4x4::SetScale(const CVector3D& v)
{
	*this = CMatrix4x4();
	m11 = v.x;
	m22 = v.y;
	m33 = v.z;
	m44 = 1.0f;
}

void CMatrix4x4::SetRotateX(float fAngle)
{
	float s, c;
	sincosf(fAngle, &s, &c);
	SetIdentity();
	m22 = c;
	m23 = s;
	m32 = -s;
	m33 = c;
}

void CMatrix4x4::SetRotateY(float fAngle)
{
	float s, c;
	sincosf(fAngle, &s, &c);
	SetIdentity();
	m11 = c;
	m13 = -s;
	m31 = s;
	m33 = c;
}

void CMatrix4x4::SetRotateZ(float fAngle)
{
	float s, c;
	sincosf(fAngle, &s, &c);
	SetIdentity();
	m11 = c;
	m12 = s;
	m21 = -s;
	m22 = c;
}

void CMatrix4x4::SetRotate(const CVector3D& v)
{
	CMatrix4x4 RotateY, RotateZ;
	SetRotateX(v.x);
	RotateY.SetRotateY(v.y);
	RotateZ.SetRotateZ(v.z);
	SetMultiply(*this, RotateY);
	SetMultiply(*this, RotateZ);
}

void CMatrix4x4::SetMultiply(const CMatrix4x4& a, const CMatrix4x4& b)
{
	// Formed in a temporary so that a or b may be this matrix.
	float rgfA[ENTRY_COUNT], rgfB[ENTRY_COUNT], rgfResult[ENTRY_COUNT];
	a.ToArray(rgfA);
	b.ToArray(rgfB);
	for (int iRow = 0; iRow < 4; iRow++)
	{
		for (int iColumn = 0; iColumn < 4; iColumn++)
		{
			rgfResult[iRow * 4 + iColumn] = rgfA[iRow * 4 + 0] * rgfB[0 * 4 + iColumn] +
				rgfA[iRow * 4 + 1] * rgfB[1 * 4 + iColumn] + rgfA[iRow * 4 + 2] * rgfB[2 * 4 + iColumn] +
				rgfA[iRow * 4 + 3] * rgfB[3 * 4 + iColumn];
		}
	}
	FromArray(rgfResult);
}

bool CMatrix4x4::SetInverse(const CMatrix4x4& m, float* pFactor)
{
	float a[ENTRY_COUNT], inv[ENTRY_COUNT];
	m.ToArray(a);

	// The adjugate, arranged so that m times it is the determinant times the identity.
	inv[0] = a[5] * a[10] * a[15] - a[5] * a[11] * a[14] - a[9] * a[6] * a[15] + a[9] * a[7] * a[14] +
		a[13] * a[6] * a[11] - a[13] * a[7] * a[10];
	inv[4] = -a[4] * a[10] * a[15] + a[4] * a[11] * a[14] + a[8] * a[6] * a[15] - a[8] * a[7] * a[14] -
		a[12] * a[6] * a[11] + a[12] * a[7] * a[10];
	inv[8] = a[4] * a[9] * a[15] - a[4] * a[11] * a[13] - a[8] * a[5] * a[15] + a[8] * a[7] * a[13] +
		a[12] * a[5] * a[11] - a[12] * a[7] * a[9];
	inv[12] = -a[4] * a[9] * a[14] + a[4] * a[10] * a[13] + a[8] * a[5] * a[14] - a[8] * a[6] * a[13] -
		a[12] * a[5] * a[10] + a[12] * a[6] * a[9];
	inv[1] = -a[1] * a[10] * a[15] + a[1] * a[11] * a[14] + a[9] * a[2] * a[15] - a[9] * a[3] * a[14] -
		a[13] * a[2] * a[11] + a[13] * a[3] * a[10];
	inv[5] = a[0] * a[10] * a[15] - a[0] * a[11] * a[14] - a[8] * a[2] * a[15] + a[8] * a[3] * a[14] +
		a[12] * a[2] * a[11] - a[12] * a[3] * a[10];
	inv[9] = -a[0] * a[9] * a[15] + a[0] * a[11] * a[13] + a[8] * a[1] * a[15] - a[8] * a[3] * a[13] -
		a[12] * a[1] * a[11] + a[12] * a[3] * a[9];
	inv[13] = a[0] * a[9] * a[14] - a[0] * a[10] * a[13] - a[8] * a[1] * a[14] + a[8] * a[2] * a[13] +
		a[12] * a[1] * a[10] - a[12] * a[2] * a[9];
	inv[2] = a[1] * a[6] * a[15] - a[1] * a[7] * a[14] - a[5] * a[2] * a[15] + a[5] * a[3] * a[14] +
		a[13] * a[2] * a[7] - a[13] * a[3] * a[6];
	inv[6] = -a[0] * a[6] * a[15] + a[0] * a[7] * a[14] + a[4] * a[2] * a[15] - a[4] * a[3] * a[14] -
		a[12] * a[2] * a[7] + a[12] * a[3] * a[6];
	inv[10] = a[0] * a[5] * a[15] - a[0] * a[7] * a[13] - a[4] * a[1] * a[15] + a[4] * a[3] * a[13] +
		a[12] * a[1] * a[7] - a[12] * a[3] * a[5];
	inv[14] = -a[0] * a[5] * a[14] + a[0] * a[6] * a[13] + a[4] * a[1] * a[14] - a[4] * a[2] * a[13] -
		a[12] * a[1] * a[6] + a[12] * a[2] * a[5];
	inv[3] = -a[1] * a[6] * a[11] + a[1] * a[7] * a[10] + a[5] * a[2] * a[11] - a[5] * a[3] * a[10] -
		a[9] * a[2] * a[7] + a[9] * a[3] * a[6];
	inv[7] = a[0] * a[6] * a[11] - a[0] * a[7] * a[10] - a[4] * a[2] * a[11] + a[4] * a[3] * a[10] +
		a[8] * a[2] * a[7] - a[8] * a[3] * a[6];
	inv[11] = -a[0] * a[5] * a[11] + a[0] * a[7] * a[9] + a[4] * a[1] * a[11] - a[4] * a[3] * a[9] -
		a[8] * a[1] * a[7] + a[8] * a[3] * a[5];
	inv[15] = a[0] * a[5] * a[10] - a[0] * a[6] * a[9] - a[4] * a[1] * a[10] + a[4] * a[2] * a[9] +
		a[8] * a[1] * a[6] - a[8] * a[2] * a[5];

	float fDeterminant = a[0] * inv[0] + a[1] * inv[4] + a[2] * inv[8] + a[3] * inv[12];
	if (fDeterminant == 0.0f)
	{
		if (this != &m)
			FromArray(inv);
		return false;
	}

	float fFactor = 1.0f / fDeterminant;
	for (int i = 0; i < ENTRY_COUNT; i++)
		inv[i] *= fFactor;
	FromArray(inv);
	if (pFactor)
		*pFactor = fFactor;
	return true;
}

void CMatrix4x4::TransformCoordinate(CVector3D* pOut, const CVector3D& v) const
{
	CVector3D Result(v.x * m11 + v.y * m21 + v.z * m31 + m41, v.x * m12 + v.y * m22 + v.z * m32 + m42,
		v.x * m13 + v.y * m23 + v.z * m33 + m43);
	*pOut = Result;
}

void CMatrix4x4::TransformNormal(CVector3D* pOut, const CVector3D& v) const
{
	CVector3D Result(v.x * m11 + v.y * m21 + v.z * m31, v.x * m12 + v.y * m22 + v.z * m32,
		v.x * m13 + v.y * m23 + v.z * m33);
	*pOut = Result;
}

void CMatrix4x4::CalculateRotation(CQuaternion& Out) const
{
	float fTrace = m11 + m22 + m33;
	if (fTrace > 0.0f)
	{
		float s = 2.0f * std::sqrt(fTrace + 1.0f);
		Out.w = 0.25f * s;
		Out.x = (m23 - m32) / s;
		Out.y = (m31 - m13) / s;
		Out.z = (m12 - m21) / s;
	}
	else if (m11 >= m22 && m11 >= m33)
	{
		float s = 2.0f * std::sqrt(1.0f + m11 - m22 - m33);
		Out.x = 0.25f * s;
		Out.y = (m12 + m21) / s;
		Out.z = (m13 + m31) / s;
		Out.w = (m23 - m32) / s;
	}
	else if (m22 >= m33)
	{
		float s = 2.0f * std::sqrt(1.0f + m22 - m11 - m33);
		Out.x = (m12 + m21) / s;
		Out.y = 0.25f * s;
		Out.z = (m23 + m32) / s;
		Out.w = (m31 - m13) / s;
	}
	else
	{
		float s = 2.0f * std::sqrt(1.0f + m33 - m11 - m22);
		Out.x = (m13 + m31) / s;
		Out.y = (m23 + m32) / s;
		Out.z = 0.25f * s;
		Out.w = (m12 - m21) / s;
	}
}
