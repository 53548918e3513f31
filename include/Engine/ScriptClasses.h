#pragma once
// The engine's own script classes in the global namespace: the by-value classes "Vec2", "Vec3" and
// "Matrix4x4", and "Stream" and "TextReader" over engine streams. The resource manager declares them once at
// start-up; every script language binds them from the registry.

#include <type_traits>
#include <utility>

#include "Engine/KestrinMath.h"
#include "Engine/KestrinNative.h"
#include "Engine/KestrinReference.h"
#include "Engine/KestrinStream.h"
#include "Engine/Reflection.h"

class CScripting;

// The engine objects behind the instances. Their reflected class is the global class of the same name.
typedef CObjectValue<CVector2D> CVector2DObject;
typedef CObjectValue<CVector3D> CVector3DObject;
typedef CObjectValue<CMatrix4x4> CMatrix4x4Object;
// The owned reader; null once the script closed it.
typedef CObjectValue<AutoDelete<CTextReader>> CTextReaderObject;

// The receiver of a method of these classes. Every native of the classes is registered with its class as user
// data; an object of a derived class that does not hold the value fails like any foreign receiver.
template <class T>
CObjectValue<T>* GetThisValue(CNativeState* pState, void* pUserData)
{
	ReflectedClass* pClass = static_cast<ReflectedClass*>(pUserData);
	CBaseObject* pObject = nullptr;
	if (!pState->GetThis(pClass, &pObject))
		return nullptr;
	CObjectValue<T>* pValue = AsObjectValue<T>(pObject);
	if (pValue == nullptr)
		pState->Error("%s expected for 'this'", pClass != nullptr ? pClass->GetName() : "");
	return pValue;
}

// Hands a new instance of the class holding Value to the return value, which keeps the only reference.
template <class T>
void ReturnNewValue(CNativeState* pState, void* pUserData, T&& Value)
{
	typedef typename std::decay<T>::type tHeld;
	CObjectValue<tHeld>* pObject = new CObjectValue<tHeld>(static_cast<ReflectedClass*>(pUserData), std::forward<T>(Value));
	pState->ReturnObject(pObject);
	pObject->Release();
}

// "Vec2" and "Vec3".
void RegisterVectorClasses(CScripting* pScripting);
// "Matrix4x4".
void RegisterMatrixClass(CScripting* pScripting);
// "Stream" and "TextReader"; the latter also becomes the scripting registry's TextReader class.
void RegisterStreamClasses(CScripting* pScripting);

// All of the above, in the order Stream, TextReader, Matrix4x4, Vec2, Vec3.
void RegisterScriptClasses(CScripting* pScripting);
