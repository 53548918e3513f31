#include <cstdint>

#include "Engine/KestrinArguments.h"
#include "Engine/KestrinNative.h"
#include "Engine/ScriptClasses.h"

namespace
{
typedef CObjectValue<CMatrix4x4> tMatrix;

// An index argument. It is read as a signed 64-bit number so that negative indexes (and fractions that would
// saturate to 0 as unsigned) are out of range rather than wrapping into it.
bool CheckIndex(CNativeState* pState, size_t Argument, int64_t iLast, int& iIndex)
{
	int64_t iValue;
	if (!pState->CheckNumber(Argument, iValue))
		return false;
	if (iValue < 0 || iValue > iLast)
		return pState->Error("invalid index");
	iIndex = static_cast<int>(iValue);
	return true;
}

bool MatrixConstructor(CNativeState* pState, int, void* pUserData)
{
	CMatrix4x4 Identity;
	Identity.SetIdentity();
	ReturnNewValue(pState, pUserData, Identity);
	return true;
}

bool MatrixSetIdentity(CNativeState* pState, int, void* pUserData)
{
	tMatrix* pThis = GetThisValue<CMatrix4x4>(pState, pUserData);
	if (!pThis)
		return false;
	pThis->m_Value.SetIdentity();
	return true;
}

// The setters that build the receiver from one vector.
template <void (CMatrix4x4::*Operation)(const CVector3D&)>
bool MatrixSetFromVector(CNativeState* pState, int, void* pUserData)
{
	tMatrix* pThis = GetThisValue<CMatrix4x4>(pState, pUserData);
	if (!pThis)
		return false;
	CVector3D v;
	if (!pState->CheckVector3D(0, v))
		return false;
	(pThis->m_Value.*Operation)(v);
	return true;
}

// The setters that build the receiver from one angle.
template <void (CMatrix4x4::*Operation)(float)>
bool MatrixSetFromAngle(CNativeState* pState, int, void* pUserData)
{
	tMatrix* pThis = GetThisValue<CMatrix4x4>(pState, pUserData);
	if (!pThis)
		return false;
	float fAngle;
	if (!pState->CheckNumber(0, fAngle))
		return false;
	(pThis->m_Value.*Operation)(fAngle);
	return true;
}

// Multiplies the receiver by the arguments from iFirst on, in order; the first argument that is not a matrix
// fails the call and leaves the products already applied.
bool MultiplyArguments(CNativeState* pState, int argc, tMatrix* pThis, int iFirst)
{
	for (int i = iFirst; i < argc; i++)
	{
		CMatrix4x4 m;
		if (!pState->CheckMatrix4x4(static_cast<size_t>(i), m))
			return false;
		pThis->m_Value.SetMultiply(pThis->m_Value, m);
	}
	return true;
}

bool MatrixSetMultiply(CNativeState* pState, int argc, void* pUserData)
{
	tMatrix* pThis = GetThisValue<CMatrix4x4>(pState, pUserData);
	if (!pThis)
		return false;
	CMatrix4x4 First;
	if (!pState->CheckMatrix4x4(0, First))
		return false;
	pThis->m_Value = First;
	return MultiplyArguments(pState, argc, pThis, 1);
}

bool MatrixMultiply(CNativeState* pState, int argc, void* pUserData)
{
	tMatrix* pThis = GetThisValue<CMatrix4x4>(pState, pUserData);
	if (!pThis)
		return false;
	return MultiplyArguments(pState, argc, pThis, 0);
}

bool MatrixSetInverse(CNativeState* pState, int, void* pUserData)
{
	tMatrix* pThis = GetThisValue<CMatrix4x4>(pState, pUserData);
	if (!pThis)
		return false;
	// A copy, so that the receiver passed as its own argument still receives the cofactors.
	CMatrix4x4 Source;
	if (!pState->CheckMatrix4x4(0, Source))
		return false;
	float fFactor = 0.0f;
	if (!pThis->m_Value.SetInverse(Source, &fFactor))
		pState->ReturnNull();
	else
		pState->ReturnNumber(fFactor);
	return true;
}

bool MatrixTransformCoordinate(CNativeState* pState, int, void* pUserData)
{
	tMatrix* pThis = GetThisValue<CMatrix4x4>(pState, pUserData);
	if (!pThis)
		return false;
	CVector3D Point;
	if (!pState->CheckVector3D(0, Point))
		return false;
	CVector3D Result;
	pThis->m_Value.TransformCoordinate(&Result, Point);
	pState->ReturnVector3D(Result);
	return true;
}

bool MatrixGetElement(CNativeState* pState, int, void* pUserData)
{
	tMatrix* pThis = GetThisValue<CMatrix4x4>(pState, pUserData);
	if (!pThis)
		return false;
	int iIndex = 0;
	if (!CheckIndex(pState, 0, CMatrix4x4::ENTRY_COUNT - 1, iIndex))
		return false;
	pState->ReturnNumber(pThis->m_Value.GetAt(iIndex));
	return true;
}

bool MatrixSetElement(CNativeState* pState, int, void* pUserData)
{
	tMatrix* pThis = GetThisValue<CMatrix4x4>(pState, pUserData);
	if (!pThis)
		return false;
	int iIndex = 0;
	float fValue;
	if (!CheckIndex(pState, 0, CMatrix4x4::ENTRY_COUNT - 1, iIndex) || !pState->CheckNumber(1, fValue))
		return false;
	pThis->m_Value.SetAt(iIndex, fValue);
	return true;
}

bool MatrixGetVector3(CNativeState* pState, int, void* pUserData)
{
	tMatrix* pThis = GetThisValue<CMatrix4x4>(pState, pUserData);
	if (!pThis)
		return false;
	int iRow = 0;
	if (!CheckIndex(pState, 0, 3, iRow))
		return false;
	const CMatrix4x4& m = pThis->m_Value;
	pState->ReturnVector3D(CVector3D(m.GetAt(iRow * 4), m.GetAt(iRow * 4 + 1), m.GetAt(iRow * 4 + 2)));
	return true;
}

template <int iRow, int iColumn>
bool GetMatrixEntry(CNativeState* pState, int, void* pUserData)
{
	tMatrix* pThis = GetThisValue<CMatrix4x4>(pState, pUserData);
	if (!pThis)
		return false;
	pState->ReturnNumber(pThis->m_Value.GetAt(iRow * 4 + iColumn));
	return true;
}

template <int iRow, int iColumn>
bool SetMatrixEntry(CNativeState* pState, int, void* pUserData)
{
	tMatrix* pThis = GetThisValue<CMatrix4x4>(pState, pUserData);
	if (!pThis)
		return false;
	float fValue;
	if (!pState->CheckNumber(0, fValue))
		return false;
	pThis->m_Value.SetAt(iRow * 4 + iColumn, fValue);
	return true;
}

template <int iRow, int iColumn>
void AddEntryProperty(ReflectedClass* pClass)
{
	static const char szName[] = {'m', static_cast<char>('1' + iRow), static_cast<char>('1' + iColumn), '\0'};
	pClass->AddProperty(pClass, szName, ARGUMENT_FLOAT, GetMatrixEntry<iRow, iColumn>, SetMatrixEntry<iRow, iColumn>);
}

template <int iRow>
void AddRowProperties(ReflectedClass* pClass)
{
	AddEntryProperty<iRow, 0>(pClass);
	AddEntryProperty<iRow, 1>(pClass);
	AddEntryProperty<iRow, 2>(pClass);
	AddEntryProperty<iRow, 3>(pClass);
}
}

void RegisterMatrixClass(CScripting* pScripting)
{
	ReflectedClass* pClass = pScripting->GetGlobal()->NewClass("Matrix4x4", nullptr);
	pClass->RegisterConstructor("t", MatrixConstructor, pClass);
	pClass->RegisterFunction("setIdentity", "t", MatrixSetIdentity, pClass);
	pClass->RegisterFunction("setTranslate", "tv", MatrixSetFromVector<&CMatrix4x4::SetTranslate>, pClass);
	pClass->RegisterFunction("setScale", "tv", MatrixSetFromVector<&CMatrix4x4::SetScale>, pClass);
	pClass->RegisterFunction("setRotateX", "tf", MatrixSetFromAngle<&CMatrix4x4::SetRotateX>, pClass);
	pClass->RegisterFunction("setRotateY", "tf", MatrixSetFromAngle<&CMatrix4x4::SetRotateY>, pClass);
	pClass->RegisterFunction("setRotateZ", "tf", MatrixSetFromAngle<&CMatrix4x4::SetRotateZ>, pClass);
	pClass->RegisterFunction("setRotate", "tv", MatrixSetFromVector<&CMatrix4x4::SetRotate>, pClass);
	pClass->RegisterFunction("setMultiply", "txx*", MatrixSetMultiply, pClass);
	pClass->RegisterFunction("multiply", "tx*", MatrixMultiply, pClass);
	pClass->RegisterFunction("setInverse", "tx", MatrixSetInverse, pClass);
	pClass->RegisterFunction("transformCoordinate", "tv", MatrixTransformCoordinate, pClass);
	pClass->RegisterFunction("getElement", "ti", MatrixGetElement, pClass);
	pClass->RegisterFunction("setElement", "tif", MatrixSetElement, pClass);
	pClass->RegisterFunction("getVector3", "ti", MatrixGetVector3, pClass);
	AddRowProperties<0>(pClass);
	AddRowProperties<1>(pClass);
	AddRowProperties<2>(pClass);
	AddRowProperties<3>(pClass);
}
