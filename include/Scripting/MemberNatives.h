#pragma once
// Typed receivers and arguments of natives, and natives of script properties that do nothing but read or write
// one value of their receiver: through the receiver's own getter and setter (virtual ones included, so whatever
// they tell clients is told) or straight from one of its fields. A receiver policy finds the receiver, a type with
//   template <class T> static T* Get(CNativeState* pState, void* pUserData);
// giving the receiver as T, or null after reporting why (the object behind the user data, for the properties of a
// namespace). Values travel as the member's own type: a number keeps its width and signedness, a number written
// to a byte keeps its low 8 bits.

#include <type_traits>

#include "Engine/KestrinNative.h"
#include "Engine/Reflection.h"

namespace MemberNatives
{
// The object behind a native's user data (what it was registered with), as TOwner. A unit whose natives all get one
// owner names it once: constexpr auto GetManager = &MemberNatives::FromUserData<CNetObjectMgr>;
template <class TOwner>
TOwner* FromUserData(void* pUserData)
{
	return static_cast<TOwner*>(pUserData);
}

// The receiver as the engine type T behind the class (an object of the class or a class derived from it), or null
// after "'this' is null" or "%s expected for 'this'". A plug-in module can give any object of its own a class, so
// the engine type is checked as well: an object that only carries the class never reaches code written for T.
template <class T>
T* GetThisAs(CNativeState* pState, ReflectedClass* pClass)
{
	CBaseObject* pObject = nullptr;
	if (!pState->GetThis(pClass, &pObject))
		return nullptr;
	T* pTyped = dynamic_cast<T*>(pObject);
	if (!pTyped)
		pState->Error("%s expected for 'this'", pClass ? pClass->GetName() : "Instance");
	return pTyped;
}

// The argument at Index as the engine type T behind the class; with bAllowNull null and undefined pass and give
// null. False after "Expected %s for argument %d" with the class name.
template <class T>
bool CheckAs(CNativeState* pState, ReflectedClass* pClass, size_t Index, bool bAllowNull, T** ppOut)
{
	CBaseObject* pObject = nullptr;
	if (!pState->CheckClass(pClass, Index, bAllowNull, &pObject))
		return false;
	*ppOut = pObject ? dynamic_cast<T*>(pObject) : nullptr;
	if (pObject && !*ppOut)
		return pState->TypeError(pClass ? pClass->GetName() : "Instance", Index);
	return true;
}

inline void ReturnValue(CNativeState* pState, bool bValue)
{
	pState->ReturnBoolean(bValue);
}

inline void ReturnValue(CNativeState* pState, const char* szValue)
{
	pState->ReturnString(szValue);
}

inline void ReturnValue(CNativeState* pState, const CVector3D& vecValue)
{
	pState->ReturnVector3D(vecValue);
}

inline void ReturnValue(CNativeState* pState, const CMatrix4x4& Value)
{
	pState->ReturnMatrix4x4(Value);
}

template <class T>
std::enable_if_t<std::is_arithmetic_v<T> && !std::is_same_v<T, bool>> ReturnValue(CNativeState* pState, T Value)
{
	pState->ReturnNumber(Value);
}

// An object, or null.
template <class T>
std::enable_if_t<std::is_base_of_v<CBaseObject, T>> ReturnValue(CNativeState* pState, T* pObject)
{
	pState->ReturnObject(pObject);
}

// The value a setter is given, as its first argument.
inline bool CheckValue(CNativeState* pState, bool& bValue)
{
	return pState->CheckBoolean(0, bValue);
}

inline bool CheckValue(CNativeState* pState, const char*& szValue)
{
	szValue = pState->CheckString(0, nullptr);
	return szValue != nullptr;
}

inline bool CheckValue(CNativeState* pState, CVector3D& vecValue)
{
	return pState->CheckVector3D(0, vecValue);
}

inline bool CheckValue(CNativeState* pState, CMatrix4x4& Value)
{
	return pState->CheckMatrix4x4(0, Value);
}

template <class T>
std::enable_if_t<std::is_arithmetic_v<T> && !std::is_same_v<T, bool>, bool> CheckValue(CNativeState* pState, T& Value)
{
	return pState->CheckNumber(0, Value);
}

// The class and value type of a getter, a setter and a field.
template <class TGetter>
struct tGetterOf;

template <class TClass, class TValue>
struct tGetterOf<TValue (TClass::*)()>
{
	typedef TClass tClass;
};

template <class TClass, class TValue>
struct tGetterOf<TValue (TClass::*)() const>
{
	typedef TClass tClass;
};

template <class TSetter>
struct tSetterOf;

template <class TClass, class TValue>
struct tSetterOf<void (TClass::*)(TValue)>
{
	typedef TClass tClass;
	typedef std::decay_t<TValue> tValue;
};

template <class TField>
struct tFieldOf;

template <class TClass, class TValue>
struct tFieldOf<TValue TClass::*>
{
	typedef TClass tClass;
	typedef TValue tValue;
};

// What the receiver's getter returns.
template <class TReceiver, auto GETTER>
bool Get(CNativeState* pState, int, void* pUserData)
{
	auto* pReceiver = TReceiver::template Get<typename tGetterOf<decltype(GETTER)>::tClass>(pState, pUserData);
	if (!pReceiver)
		return false;
	ReturnValue(pState, (pReceiver->*GETTER)());
	return true;
}

// The receiver's setter, given the value.
template <class TReceiver, auto SETTER>
bool Set(CNativeState* pState, int, void* pUserData)
{
	auto* pReceiver = TReceiver::template Get<typename tSetterOf<decltype(SETTER)>::tClass>(pState, pUserData);
	typename tSetterOf<decltype(SETTER)>::tValue Value{};
	if (!pReceiver || !CheckValue(pState, Value))
		return false;
	(pReceiver->*SETTER)(Value);
	return true;
}

// One field of the receiver, read as it stands.
template <class TReceiver, auto FIELD>
bool GetField(CNativeState* pState, int, void* pUserData)
{
	auto* pReceiver = TReceiver::template Get<typename tFieldOf<decltype(FIELD)>::tClass>(pState, pUserData);
	if (!pReceiver)
		return false;
	ReturnValue(pState, pReceiver->*FIELD);
	return true;
}

// One field of the receiver, written as it stands, without telling anyone.
template <class TReceiver, auto FIELD>
bool SetField(CNativeState* pState, int, void* pUserData)
{
	auto* pReceiver = TReceiver::template Get<typename tFieldOf<decltype(FIELD)>::tClass>(pState, pUserData);
	typename tFieldOf<decltype(FIELD)>::tValue Value{};
	if (!pReceiver || !CheckValue(pState, Value))
		return false;
	pReceiver->*FIELD = Value;
	return true;
}

// The receiver of the properties of a namespace: the object behind the user data, as TOwner.
template <class TOwner>
struct tUserData
{
	template <class T>
	static T* Get(CNativeState*, void* pUserData)
	{
		return FromUserData<TOwner>(pUserData);
	}
};
}
