#pragma once
// The game's script functions for elements: the members of the element classes, the functions that list and
// count elements, and the functions that create them. Every native gets the game's element manager as its user
// data.

#include <cstddef>
#include <cstdint>

#include "GTAServerManager.h"

#include "Engine/KestrinNative.h"
#include "Scripting/MemberNatives.h"

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

inline constexpr auto GetManager = &MemberNatives::FromUserData<CGTAServerManager>;

// The receiver, when it is an element of the class's kind or of a kind derived from it.
template <class TElement>
bool GetThisElement(CNativeState* pState, void* pUserData, eElementClass eClass, TElement** ppElement)
{
	*ppElement = MemberNatives::GetThisAs<TElement>(pState, GetManager(pUserData)->GetScriptClass(eClass));
	return *ppElement != nullptr;
}

// An element argument that another element is to name (a seat, an attachment). Scripts can still hold an element
// that has been destroyed; naming one would leave the other element pointing at nothing, so it is refused.
template <class TElement>
bool CheckLiveElement(CNativeState* pState, ReflectedClass* pClass, size_t Index, TElement** ppElement)
{
	TElement* pElement = nullptr;
	if (!MemberNatives::CheckAs(pState, pClass, Index, false, &pElement))
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

// The receiver of the members of a game class: an element of the class's kind or of a kind derived from it.
template <eElementClass CLASS>
struct tGameElement
{
	template <class TElement>
	static TElement* Get(CNativeState* pState, void* pUserData)
	{
		return MemberNatives::GetThisAs<TElement>(pState, GetManager(pUserData)->GetScriptClass(CLASS));
	}
};

// A property read and written through the receiver's own operations (virtual ones included), so whatever they
// tell the clients is told.
template <auto GETTER, auto SETTER, eElementClass CLASS>
struct tAccessorProperty
{
	static constexpr NativeFunction Get = MemberNatives::Get<tGameElement<CLASS>, GETTER>;
	static constexpr NativeFunction Set = MemberNatives::Set<tGameElement<CLASS>, SETTER>;
};

// A property that is one field of the receiver, read and written as it stands, without telling anyone.
template <auto FIELD, eElementClass CLASS>
struct tFieldProperty
{
	static constexpr NativeFunction Get = MemberNatives::GetField<tGameElement<CLASS>, FIELD>;
	static constexpr NativeFunction Set = MemberNatives::SetField<tGameElement<CLASS>, FIELD>;
};
}
