#pragma once
// The engine's small vector and matrix values. Points are row vectors multiplied on the left (v * M), so the
// translation of a matrix sits in its fourth row (m41, m42, m43). Scripts and clients see these numbers, so the
// layout and the sign pattern of the rotations must not change.

#include <cmath>

class CVector2D
{
public:
	constexpr CVector2D() : x(0.0f), y(0.0f) {}
	constexpr CVector2D(float fX, float fY) : x(fX), y(fY) {}

	CVector2D operator+(const CVector2D& v) const { return CVector2D(x + v.x, y + v.y); }
	CVector2D operator-(const CVector2D& v) const { return CVector2D(x - v.x, y - v.y); }
	CVector2D operator*(float f) const { return CVector2D(x * f, y * f); }
	CVector2D& operator+=(const CVector2D& v)
	{
		x += v.x;
		y += v.y;
		return *this;
	}
	CVector2D& operator-=(const CVector2D& v)
	{
		x -= v.x;
		y -= v.y;
		return *this;
	}
	CVector2D& operator*=(float f)
	{
		x *= f;
		y *= f;
		return *this;
	}

	float GetDotProduct(const CVector2D& v) const { return x * v.x + y * v.y; }
	float dotProduct(const CVector2D& v) const { return GetDotProduct(v); }
	float absDotProduct(const CVector2D& v) const { return std::fabs(x * v.x) + std::fabs(y * v.y); }
	float GetLengthSquared() const { return x * x + y * y; }
	float squaredLength() const { return GetLengthSquared(); }
	float GetLength() const { return std::sqrt(GetLengthSquared()); }
	float length() const { return GetLength(); }
	float distance(const CVector2D& v) const { return (*this - v).GetLength(); }
	float squaredDistance(const CVector2D& v) const { return (*this - v).GetLengthSquared(); }
	CVector2D midPoint(const CVector2D& v) const { return CVector2D((x + v.x) * 0.5f, (y + v.y) * 0.5f); }
	// Scales to length 1 and returns the length it had; a zero (or not-a-number) vector stays as it is.
	float normalise()
	{
		float fLength = GetLength();
		if (fLength > 0.0f)
			*this *= 1.0f / fLength;
		return fLength;
	}

	float x, y;
};

class CVector3D
{
public:
	constexpr CVector3D() : x(0.0f), y(0.0f), z(0.0f) {}
	constexpr CVector3D(float fX, float fY, float fZ) : x(fX), y(fY), z(fZ) {}

	CVector3D operator+(const CVector3D& v) const { return CVector3D(x + v.x, y + v.y, z + v.z); }
	CVector3D operator-(const CVector3D& v) const { return CVector3D(x - v.x, y - v.y, z - v.z); }
	CVector3D operator*(float f) const { return CVector3D(x * f, y * f, z * f); }
	CVector3D& operator+=(const CVector3D& v)
	{
		x += v.x;
		y += v.y;
		z += v.z;
		return *this;
	}
	CVector3D& operator-=(const CVector3D& v)
	{
		x -= v.x;
		y -= v.y;
		z -= v.z;
		return *this;
	}
	CVector3D& operator*=(float f)
	{
		x *= f;
		y *= f;
		z *= f;
		return *this;
	}

	float GetDotProduct(const CVector3D& v) const { return x * v.x + y * v.y + z * v.z; }
	float dotProduct(const CVector3D& v) const { return GetDotProduct(v); }
	float absDotProduct(const CVector3D& v) const
	{
		return std::fabs(x * v.x) + std::fabs(y * v.y) + std::fabs(z * v.z);
	}
	CVector3D crossProduct(const CVector3D& v) const
	{
		return CVector3D(y * v.z - v.y * z, z * v.x - v.z * x, x * v.y - y * v.x);
	}
	// this = a x b; safe when this is a or b.
	void SetCrossProduct(const CVector3D& a, const CVector3D& b) { *this = a.crossProduct(b); }
	float GetLengthSquared() const { return x * x + y * y + z * z; }
	float squaredLength() const { return GetLengthSquared(); }
	float GetLength() const { return std::sqrt(GetLengthSquared()); }
	float length() const { return GetLength(); }
	float distance(const CVector3D& v) const { return (*this - v).GetLength(); }
	float squaredDistance(const CVector3D& v) const { return (*this - v).GetLengthSquared(); }
	CVector3D midPoint(const CVector3D& v) const
	{
		return CVector3D((x + v.x) * 0.5f, (y + v.y) * 0.5f, (z + v.z) * 0.5f);
	}
	// Scales to length 1 and returns the length it had; a zero (or not-a-number) vector stays as it is.
	float normalise()
	{
		float fLength = GetLength();
		if (fLength > 0.0f)
			*this *= 1.0f / fLength;
		return fLength;
	}

	float x, y, z;
};

class CVector4D
{
public:
	constexpr CVector4D() : x(0.0f), y(0.0f), z(0.0f), w(0.0f) {}
	constexpr CVector4D(float fX, float fY, float fZ, float fW) : x(fX), y(fY), z(fZ), w(fW) {}

	float x, y, z, w;
};

// A rotation as a unit quaternion (x, y, z vector part, w scalar part).
class CQuaternion
{
public:
	constexpr CQuaternion() : x(0.0f), y(0.0f), z(0.0f), w(1.0f) {}
	constexpr CQuaternion(float fX, float fY, float fZ, float fW) : x(fX), y(fY), z(fZ), w(fW) {}

	float x, y, z, w;
};

enum eMatrix4x4Row
{
	MATRIX_ROW_1 = 0,
	MATRIX_ROW_2 = 1,
	MATRIX_ROW_3 = 2,
	MATRIX_ROW_4 = 3,
};

enum eMatrix4x4Column
{
	MATRIX_COLUMN_1 = 0,
	MATRIX_COLUMN_2 = 1,
	MATRIX_COLUMN_3 = 2,
	MATRIX_COLUMN_4 = 3,
};

// 16 floats stored row by row: m11 m12 m13 m14, m21 ... m24, m31 ... m34, m41 m42 m43 m44.
class CMatrix4x4
{
public:
	enum
	{
		ENTRY_COUNT = 16,
	};

	// All entries zero; call SetIdentity for the identity.
	constexpr CMatrix4x4()
		: m11(0), m12(0), m13(0), m14(0), m21(0), m22(0), m23(0), m24(0), m31(0), m32(0), m33(0), m34(0), m41(0),
		  m42(0), m43(0), m44(0)
	{
	}

	// The entries in storage order (row by row).
	void ToArray(float rgfOut[ENTRY_COUNT]) const
	{
		for (int i = 0; i < ENTRY_COUNT; i++)
			rgfOut[i] = this->*s_rgEntries[i];
	}
	void FromArray(const float rgfIn[ENTRY_COUNT])
	{
		for (int i = 0; i < ENTRY_COUNT; i++)
			this->*s_rgEntries[i] = rgfIn[i];
	}

	// Entry by storage index (row * 4 + column), 0 to 15.
	float GetAt(int iIndex) const { return this->*s_rgEntries[iIndex]; }
	void SetAt(int iIndex, float fValue) { this->*s_rgEntries[iIndex] = fValue; }

	float GetEntry(eMatrix4x4Row eRow, eMatrix4x4Column eColumn) const { return GetAt(eRow * 4 + eColumn); }
	void SetEntry(eMatrix4x4Row eRow, eMatrix4x4Column eColumn, float fValue) { SetAt(eRow * 4 + eColumn, fValue); }
	void MultiplyEntry(eMatrix4x4Row eRow, eMatrix4x4Column eColumn, float fFactor)
	{
		this->*s_rgEntries[eRow * 4 + eColumn] *= fFactor;
	}

	void SetIdentity();
	// Identity with the vector in m41, m42, m43.
	void SetTranslate(const CVector3D& v);
	// Zero except m11, m22, m33 from the vector and m44 = 1.
	void SetScale(const CVector3D& v);
	// Angles in radians.
	void SetRotateX(float fAngle);
	void SetRotateY(float fAngle);
	void SetRotateZ(float fAngle);
	// RotateX(v.x) * RotateY(v.y) * RotateZ(v.z).
	void SetRotate(const CVector3D& v);

	// this = a * b; either may be this matrix.
	void SetMultiply(const CMatrix4x4& a, const CMatrix4x4& b);
	CMatrix4x4 operator*(const CMatrix4x4& b) const
	{
		CMatrix4x4 Result;
		Result.SetMultiply(*this, b);
		return Result;
	}
	CMatrix4x4& operator*=(const CMatrix4x4& b)
	{
		SetMultiply(*this, b);
		return *this;
	}

	// The inverse of m by cofactors. With a determinant of exactly 0 it returns false and this matrix holds the
	// unscaled adjugate (or is left alone when it is m itself). Otherwise this matrix becomes the inverse and
	// pFactor, when given, receives the reciprocal of the determinant.
	bool SetInverse(const CMatrix4x4& m, float* pFactor);

	// v * M without the division by w.
	void TransformCoordinate(CVector3D* pOut, const CVector3D& v) const;
	// v * M without the translation.
	void TransformNormal(CVector3D* pOut, const CVector3D& v) const;

	// The rotation part as a quaternion.
	void CalculateRotation(CQuaternion& Out) const;

	float m11, m12, m13, m14;
	float m21, m22, m23, m24;
	float m31, m32, m33, m34;
	float m41, m42, m43, m44;

private:
	static constexpr float CMatrix4x4::*s_rgEntries[ENTRY_COUNT] = {
		&CMatrix4x4::m11, &CMatrix4x4::m12, &CMatrix4x4::m13, &CMatrix4x4::m14,
		&CMatrix4x4::m21, &CMatrix4x4::m22, &CMatrix4x4::m23, &CMatrix4x4::m24,
		&CMatrix4x4::m31, &CMatrix4x4::m32, &CMatrix4x4::m33, &CMatrix4x4::m34,
		&CMatrix4x4::m41, &CMatrix4x4::m42, &CMatrix4x4::m43, &CMatrix4x4::m44,
	};
};

static_assert(sizeof(CVector2D) == 8 && sizeof(CVector3D) == 12 && sizeof(CVector4D) == 16, "vectors are packed floats");
static_assert(sizeof(CMatrix4x4) == 64, "a matrix is 16 packed floats");
