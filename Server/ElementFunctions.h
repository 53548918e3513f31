#pragma once
// The game's script functions for elements: the members of the element classes, the functions that list and
// count elements, and the functions that create them. Every native gets the game's element manager as its user
// data.

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "GTAServerManager.h"

#include "Engine/KestrinNative.h"
#include "Multiplayer/NetObjectFunctions.h"

class ReflectedNamespace;

namespace ElementFunctions
{
// The members of Entity and Physical.
void RegisterEntityMembers(CGTAServerManager* pManager);
// The members of Vehicle and Train.
void RegisterVehicleMembers(CGTAServerManager* pManager);
void RegisterPedMembers(CGTAServerManager* pManager);
// getVehicles, getVehicleCount and the others of every kind, in the global namespace.
void RegisterListFunctions(CGTAServerManager* pManager, ReflectedNamespace* pGlobal);
// createVehicle and the other create functions, in the game's namespace.
void RegisterCreateFunctions(CGTAServerManager* pManager, ReflectedNamespace* pGame);

inline CGTAServerManager* GetManager(void* pUserData)
{
	return static_cast<CGTAServerManager*>(pUserData);
}

// The receiver, when it is an element of the class's kind or of a kind derived from it.
template <class TElement>
bool GetThisElement(CNativeState* pState, void* pUserData, eElementClass eClass, TElement** ppElement)
{
	*ppElement = NetObjectFunctions::GetThisAs<TElement>(pState, GetManager(pUserData)->GetScriptClass(eClass));
	return *ppElement != nullptr;
}

// An element argument that another element is to name (a seat, an attachment). Scripts can still hold an element
// that has been destroyed; naming one would leave the other element pointing at nothing, so it is refused.
template <class TElement>
bool CheckLiveElement(CNativeState* pState, ReflectedClass* pClass, size_t Index, TElement** ppElement)
{
	TElement* pElement = nullptr;
	if (!NetObjectFunctions::CheckAs(pState, pClass, Index, false, &pElement))
		return false;
	if (!pElement->IsRegistered())
		return pState->Error("The element for argument %d no longer exists", static_cast<int>(Index + 1));
	*ppElement = pElement;
	return true;
}

// The optional argument at the index, left as it is when the script did not give it.
template <class TValue>
bool CheckOptional(CNativeState* pState, int argc, size_t Index, TValue& Value)
{
	return static_cast<size_t>(argc) <= Index || pState->CheckNumber(Index, Value);
}

inline bool CheckOptional(CNativeState* pState, int argc, size_t Index, bool& bValue)
{
	return static_cast<size_t>(argc) <= Index || pState->CheckBoolean(Index, bValue);
}

inline bool CheckOptional(CNativeState* pState, int argc, size_t Index, CVector3D& vecValue)
{
	return static_cast<size_t>(argc) <= Index || pState->CheckVector3D(Index, vecValue);
}

// Values of fields as scripts see them, and back.
inline void ReturnField(CNativeState* pState, bool bValue)
{
	pState->ReturnBoolean(bValue);
}

inline void ReturnField(CNativeState* pState, const CVector3D& vecValue)
{
	pState->ReturnVector3D(vecValue);
}

template <class TValue>
void ReturnField(CNativeState* pState, TValue Value)
{
	pState->ReturnNumber(Value);
}

inline void ReturnField(CNativeState* pState, const CMatrix4x4& Value)
{
	pState->ReturnMatrix4x4(Value);
}

inline bool CheckField(CNativeState* pState, CMatrix4x4& Value)
{
	return pState->CheckMatrix4x4(0, Value);
}

inline bool CheckField(CNativeState* pState, bool& bValue)
{
	return pState->CheckBoolean(0, bValue);
}

inline bool CheckField(CNativeState* pState, CVector3D& vecValue)
{
	return pState->CheckVector3D(0, vecValue);
}

// Numbers as the field's type takes them: floats converted, bytes cut to their low 8 bits.
template <class TValue>
bool CheckField(CNativeState* pState, TValue& Value)
{
	return pState->CheckNumber(0, Value);
}

template <class TMember>
struct tMemberOf;

template <class TElement, class TValue>
struct tMemberOf<TValue TElement::*>
{
	typedef TElement tElement;
	typedef TValue tValue;
};

template <class TGetter>
struct tGetterOf;

template <class TElement, class TValue>
struct tGetterOf<TValue (TElement::*)()>
{
	typedef TElement tElement;
};

template <class TElement, class TValue>
struct tGetterOf<TValue (TElement::*)() const>
{
	typedef TElement tElement;
};

template <class TSetter>
struct tSetterOf;

template <class TElement, class TValue>
struct tSetterOf<void (TElement::*)(TValue)>
{
	typedef TElement tElement;
	typedef std::decay_t<TValue> tValue;
};

// A property read and written through the receiver's own operations (virtual ones included), so whatever they
// tell the clients is told.
template <auto GETTER, auto SETTER, eElementClass CLASS>
struct tAccessorProperty
{
	static bool Get(CNativeState* pState, int, void* pUserData)
	{
		typename tGetterOf<decltype(GETTER)>::tElement* pElement = nullptr;
		if (!GetThisElement(pState, pUserData, CLASS, &pElement))
			return false;
		ReturnField(pState, (pElement->*GETTER)());
		return true;
	}

	static bool Set(CNativeState* pState, int, void* pUserData)
	{
		typename tSetterOf<decltype(SETTER)>::tElement* pElement = nullptr;
		typename tSetterOf<decltype(SETTER)>::tValue Value{};
		if (!GetThisElement(pState, pUserData, CLASS, &pElement) || !CheckField(pState, Value))
			return false;
		(pElement->*SETTER)(Value);
		return true;
	}
};

// A property that is one field of the receiver, read and written as it stands, without telling anyone.
template <auto FIELD, eElementClass CLASS>
struct tFieldProperty
{
	typedef typename tMemberOf<decltype(FIELD)>::tElement tElement;
	typedef typename tMemberOf<decltype(FIELD)>::tValue tValue;

	static bool Get(CNativeState* pState, int, void* pUserData)
	{
		tElement* pElement = nullptr;
		if (!GetThisElement(pState, pUserData, CLASS, &pElement))
			return false;
		ReturnField(pState, pElement->*FIELD);
		return true;
	}

	static bool Set(CNativeState* pState, int, void* pUserData)
	{
		tElement* pElement = nullptr;
		tValue Value{};
		if (!GetThisElement(pState, pUserData, CLASS, &pElement) || !CheckField(pState, Value))
			return false;
		pElement->*FIELD = Value;
		return true;
	}
};
}
