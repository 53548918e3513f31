#include <cmath>
#include <cstdio>

#include "Engine/KestrinArguments.h"
#include "Engine/KestrinNative.h"
#include "Engine/ScriptClasses.h"

namespace
{
constexpr size_t TO_STRING_BUFFER_SIZE = 128;

// What differs between the two vector classes in the natives they share.
template <class V>
struct tVectorTraits;

template <>
struct tVectorTraits<CVector2D>
{
	static bool Check(CNativeState* pState, size_t Index, CVector2D& v) { return pState->CheckVector2D(Index, v); }
	static void Return(CNativeState* pState, const CVector2D& v) { pState->ReturnVector2D(v); }
	static int Format(char* szBuffer, size_t Size, const CVector2D& v)
	{
		return snprintf(szBuffer, Size, "X: %.3f Y: %.3f", v.x, v.y);
	}
	static constexpr int COMPONENTS = 2;
	static float& Component(CVector2D& v, int i) { return i == 0 ? v.x : v.y; }
};

template <>
struct tVectorTraits<CVector3D>
{
	static bool Check(CNativeState* pState, size_t Index, CVector3D& v) { return pState->CheckVector3D(Index, v); }
	static void Return(CNativeState* pState, const CVector3D& v) { pState->ReturnVector3D(v); }
	static int Format(char* szBuffer, size_t Size, const CVector3D& v)
	{
		return snprintf(szBuffer, Size, "X: %.3f Y: %.3f Z: %.3f", v.x, v.y, v.z);
	}
	static constexpr int COMPONENTS = 3;
	static float& Component(CVector3D& v, int i) { return i == 0 ? v.x : (i == 1 ? v.y : v.z); }
};

float ClampUnit(float t)
{
	if (t < -1.0f)
		return -1.0f;
	if (t > 1.0f)
		return 1.0f;
	return t;
}

template <class V>
V Interpolate(const V& a, const V& b, float t)
{
	return a + (b - a) * t;
}

// The vectors are taken as they are; callers pass unit vectors, and a dot product outside [-1, 1] gives
// not-a-number components.
template <class V>
V SphericalInterpolate(const V& a, const V& b, float t)
{
	float d = a.dotProduct(b);
	float fTheta = std::acos(d) * t;
	// The part of b orthogonal to a, as the second axis of the plane the arc runs in.
	V w = b - a * d;
	float fLength = w.GetLength();
	if (fLength > 0.0f)
		w *= 1.0f / fLength;
	return a * std::cos(fTheta) + w * std::sin(fTheta);
}

// Missing arguments leave their components 0; extra ones are ignored.
template <class V>
bool VectorConstructor(CNativeState* pState, int argc, void* pUserData)
{
	V v;
	for (int i = 0; i < argc && i < tVectorTraits<V>::COMPONENTS; i++)
	{
		if (!pState->CheckNumber(static_cast<size_t>(i), tVectorTraits<V>::Component(v, i)))
			return false;
	}
	ReturnNewValue(pState, pUserData, v);
	return true;
}

template <class V>
bool VectorToString(CNativeState* pState, int, void* pUserData)
{
	CObjectValue<V>* pThis = GetThisValue<V>(pState, pUserData);
	if (!pThis)
		return false;
	char szBuffer[TO_STRING_BUFFER_SIZE];
	int iLength = tVectorTraits<V>::Format(szBuffer, sizeof(szBuffer), pThis->m_Value);
	if (iLength < 0 || static_cast<size_t>(iLength) >= sizeof(szBuffer))
		return pState->Error("Unable to generate the string");
	pState->ReturnString(szBuffer, static_cast<size_t>(iLength));
	return true;
}

template <class V>
bool VectorClone(CNativeState* pState, int, void* pUserData)
{
	CObjectValue<V>* pThis = GetThisValue<V>(pState, pUserData);
	if (!pThis)
		return false;
	ReturnNewValue(pState, pUserData, pThis->m_Value);
	return true;
}

template <class V, float V::*Member>
bool GetComponent(CNativeState* pState, int, void* pUserData)
{
	CObjectValue<V>* pThis = GetThisValue<V>(pState, pUserData);
	if (!pThis)
		return false;
	pState->ReturnNumber(pThis->m_Value.*Member);
	return true;
}

template <class V, float V::*Member>
bool SetComponent(CNativeState* pState, int, void* pUserData)
{
	CObjectValue<V>* pThis = GetThisValue<V>(pState, pUserData);
	if (!pThis)
		return false;
	float fValue;
	if (!pState->CheckNumber(0, fValue))
		return false;
	pThis->m_Value.*Member = fValue;
	return true;
}

// (other, t): linear or spherical interpolation; only the "interpolate" forms clamp t to [-1, 1].
template <class V, bool bSpherical, bool bClamp>
bool VectorInterpolate(CNativeState* pState, int, void* pUserData)
{
	CObjectValue<V>* pThis = GetThisValue<V>(pState, pUserData);
	if (!pThis)
		return false;
	V Other;
	float t;
	if (!tVectorTraits<V>::Check(pState, 0, Other) || !pState->CheckNumber(1, t))
		return false;
	if (bClamp)
		t = ClampUnit(t);
	const V& a = pThis->m_Value;
	tVectorTraits<V>::Return(pState, bSpherical ? SphericalInterpolate(a, Other, t) : Interpolate(a, Other, t));
	return true;
}

template <class V>
bool VectorAddPolar(CNativeState* pState, int, void* pUserData)
{
	CObjectValue<V>* pThis = GetThisValue<V>(pState, pUserData);
	if (!pThis)
		return false;
	float fDistance, fAngle;
	if (!pState->CheckNumber(0, fDistance) || !pState->CheckNumber(1, fAngle))
		return false;
	V v = pThis->m_Value;
	v.x += fDistance * std::cos(fAngle);
	v.y += fDistance * std::sin(fAngle);
	tVectorTraits<V>::Return(pState, v);
	return true;
}

template <class V>
bool VectorCartesianToPolar(CNativeState* pState, int, void* pUserData)
{
	CObjectValue<V>* pThis = GetThisValue<V>(pState, pUserData);
	if (!pThis)
		return false;
	V v = pThis->m_Value;
	const float x = v.x, y = v.y;
	v.x = std::sqrt(x * x + y * y);
	v.y = std::atan2(y, x);
	tVectorTraits<V>::Return(pState, v);
	return true;
}

// Natives of "Vec3" only.

typedef CObjectValue<CVector3D> tVec3;

void ReturnResult(CNativeState* pState, float fValue)
{
	pState->ReturnNumber(fValue);
}

void ReturnResult(CNativeState* pState, const CVector3D& Value)
{
	pState->ReturnVector3D(Value);
}

// The methods of the receiver alone that give a number (normalise also changes the receiver).
template <auto Operation>
bool Vec3Of(CNativeState* pState, int, void* pUserData)
{
	tVec3* pThis = GetThisValue<CVector3D>(pState, pUserData);
	if (!pThis)
		return false;
	ReturnResult(pState, (pThis->m_Value.*Operation)());
	return true;
}

// The methods that combine the receiver with one other vector into a number or a vector.
template <auto Operation>
bool Vec3With(CNativeState* pState, int, void* pUserData)
{
	tVec3* pThis = GetThisValue<CVector3D>(pState, pUserData);
	if (!pThis)
		return false;
	CVector3D Other;
	if (!pState->CheckVector3D(0, Other))
		return false;
	ReturnResult(pState, (pThis->m_Value.*Operation)(Other));
	return true;
}

bool Vec3AddSpherical(CNativeState* pState, int, void* pUserData)
{
	tVec3* pThis = GetThisValue<CVector3D>(pState, pUserData);
	if (!pThis)
		return false;
	float fDistance, fTheta, fPhi;
	if (!pState->CheckNumber(0, fDistance) || !pState->CheckNumber(1, fTheta) || !pState->CheckNumber(2, fPhi))
		return false;
	const CVector3D& v = pThis->m_Value;
	pState->ReturnVector3D(CVector3D(v.x + fDistance * std::sin(fTheta) * std::cos(fPhi),
		v.y + fDistance * std::sin(fTheta) * std::sin(fPhi), v.z + fDistance * std::cos(fTheta)));
	return true;
}

bool Vec3CartesianToSpherical(CNativeState* pState, int, void* pUserData)
{
	tVec3* pThis = GetThisValue<CVector3D>(pState, pUserData);
	if (!pThis)
		return false;
	const CVector3D& v = pThis->m_Value;
	float r = v.GetLength();
	pState->ReturnVector3D(CVector3D(r, std::acos(v.z / r), std::atan2(v.y, v.x)));
	return true;
}

template <class V>
void RegisterCommon(ReflectedClass* pClass)
{
	pClass->RegisterConstructor("t", VectorConstructor<V>, pClass);
	pClass->RegisterToString(VectorToString<V>, pClass);
	pClass->RegisterClone(VectorClone<V>, pClass);
	pClass->AddProperty(pClass, "x", ARGUMENT_FLOAT, GetComponent<V, &V::x>, SetComponent<V, &V::x>);
	pClass->AddProperty(pClass, "y", ARGUMENT_FLOAT, GetComponent<V, &V::y>, SetComponent<V, &V::y>);
}
}

void RegisterVectorClasses(CScripting* pScripting)
{
	ReflectedNamespace* pGlobal = pScripting->GetGlobal();

	ReflectedClass* pVec2 = pGlobal->NewClass("Vec2", nullptr);
	RegisterCommon<CVector2D>(pVec2);
	pVec2->RegisterFunction("addPolar", "tff", VectorAddPolar<CVector2D>, pVec2);
	pVec2->RegisterFunction("interpolate", "tzf", VectorInterpolate<CVector2D, false, true>, pVec2);
	pVec2->RegisterFunction("extrapolate", "tzf", VectorInterpolate<CVector2D, false, false>, pVec2);
	pVec2->RegisterFunction("sphericalInterpolate", "tzf", VectorInterpolate<CVector2D, true, true>, pVec2);
	pVec2->RegisterFunction("sphericalExtrapolate", "tzf", VectorInterpolate<CVector2D, true, false>, pVec2);
	pVec2->RegisterFunction("cartesianToPolar", "t", VectorCartesianToPolar<CVector2D>, pVec2);

	ReflectedClass* pVec3 = pGlobal->NewClass("Vec3", nullptr);
	RegisterCommon<CVector3D>(pVec3);
	pVec3->AddProperty(pVec3, "z", ARGUMENT_FLOAT, GetComponent<CVector3D, &CVector3D::z>,
		SetComponent<CVector3D, &CVector3D::z>);
	pVec3->AddProperty(pVec3, "length", ARGUMENT_FLOAT, Vec3Of<&CVector3D::GetLength>, nullptr);
	pVec3->AddProperty(pVec3, "squaredLength", ARGUMENT_FLOAT, Vec3Of<&CVector3D::GetLengthSquared>, nullptr);
	pVec3->RegisterFunction("distance", "tv", Vec3With<&CVector3D::distance>, pVec3);
	pVec3->RegisterFunction("squaredDistance", "tv", Vec3With<&CVector3D::squaredDistance>, pVec3);
	pVec3->RegisterFunction("dotProduct", "tv", Vec3With<&CVector3D::dotProduct>, pVec3);
	pVec3->RegisterFunction("absDotProduct", "tv", Vec3With<&CVector3D::absDotProduct>, pVec3);
	pVec3->RegisterFunction("normalise", "t", Vec3Of<&CVector3D::normalise>, pVec3);
	pVec3->RegisterFunction("crossProduct", "tv", Vec3With<&CVector3D::crossProduct>, pVec3);
	pVec3->RegisterFunction("midPoint", "tv", Vec3With<&CVector3D::midPoint>, pVec3);
	pVec3->RegisterFunction("addPolar", "tff", VectorAddPolar<CVector3D>, pVec3);
	pVec3->RegisterFunction("addSpherical", "tfff", Vec3AddSpherical, pVec3);
	pVec3->RegisterFunction("interpolate", "tvf", VectorInterpolate<CVector3D, false, true>, pVec3);
	pVec3->RegisterFunction("extrapolate", "tvf", VectorInterpolate<CVector3D, false, false>, pVec3);
	pVec3->RegisterFunction("sphericalInterpolate", "tvf", VectorInterpolate<CVector3D, true, true>, pVec3);
	pVec3->RegisterFunction("sphericalExtrapolate", "tvf", VectorInterpolate<CVector3D, true, false>, pVec3);
	pVec3->RegisterFunction("cartesianToPolar", "t", VectorCartesianToPolar<CVector3D>, pVec3);
	pVec3->RegisterFunction("cartesianToSpherical", "t", Vec3CartesianToSpherical, pVec3);
}

void RegisterScriptClasses(CScripting* pScripting)
{
	RegisterStreamClasses(pScripting);
	RegisterMatrixClass(pScripting);
	RegisterVectorClasses(pScripting);
}
