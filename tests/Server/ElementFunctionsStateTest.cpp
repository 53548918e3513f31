// What the game's element script functions leave in the server's own state where scripts cannot look: the
// settings each create function gives its element, and the ped properties that depend on how far a ped has got
// into its vehicle. Also what no script can make: objects that carry a game class without being of its kind.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "Elements/GameElementFixture.h"
#include "Elements/GameWorld.h"
#include "ResourceTestSupport.h"

#include "Elements/ServerBlip.h"
#include "Elements/ServerBuilding.h"
#include "Elements/ServerMarker.h"
#include "Elements/ServerObject.h"
#include "Elements/ServerPickup.h"
#include "Elements/ServerTrain.h"
#include "Engine/KError.h"
#include "Engine/KestrinNative.h"
#include "Engine/Reflection.h"
#include "Scripting/Resource.h"

using namespace ServerTest;

namespace
{
// The registered elements in slot order.
std::vector<CNetObject*> Registered(CGTAServerManager* pManager)
{
	std::vector<CNetObject*> Elements;
	for (size_t Slot : pManager->UsedSlots())
		Elements.push_back(pManager->GetObjectAt(Slot));
	return Elements;
}

CVector3D PositionOf(CNetObject* pElement)
{
	CVector3D vecPosition;
	EXPECT_TRUE(pElement->GetPosition(vecPosition));
	return vecPosition;
}

void ExpectPosition(CNetObject* pElement, const CVector3D& vecExpected)
{
	const CVector3D vecPosition = PositionOf(pElement);
	EXPECT_FLOAT_EQ(vecPosition.x, vecExpected.x);
	EXPECT_FLOAT_EQ(vecPosition.y, vecExpected.y);
	EXPECT_FLOAT_EQ(vecPosition.z, vecExpected.z);
}

struct tBlipCase
{
	uint8_t m_ucFlags;
	uint8_t m_ucSize;
	uint32_t m_uiIconOrColour;
	bool m_bAttached;
};

struct tPickupCase
{
	int32_t m_iModel;
	uint8_t m_ucType;
};
}

TEST(CreateFunctions, ElementsGetTheirSettingsAndBelongToTheCallingResource)
{
	CGameWorld World(GTA_III, false, ResourceList({"creations"}));
	WriteResource(World.Server(), "creations", {{"main.lua", "lua", R"script(
local vehicle = gta.createVehicle(130, Vec3(1, 2, 3))
gta.createVehicle(124)
gta.createBuilding(3000, Vec3(7, 8, 9))
gta.createObject(1337)
gta.createBlip(5, Vec3(1, 0, 0))
gta.createBlip(0, Vec3(2, 0, 0), 3, 0xFF00FF00)
gta.createBlipAttachedTo(vehicle, 0, 4, 0x11223344, false, true)
gta.createBlipAttachedTo(vehicle, 7)
gta.createPickup(1242, Vec3(3, 0, 0))
gta.createPickup(1240, Vec3(3, 0, 0), 259)
gta.createSphere(Vec3(4, 0, 0))
gta.createSphere(Vec3(4, 0, 0), 1.5)
gta.createPlayer(0, Vec3(5, 0, 0))
gta.createPed(7)
)script"}});
	ASSERT_TRUE(World.Server().Start());
	CResource* pResource = World.Server().GetServer().GetResourceMgr().FindResourceByName("creations");
	ASSERT_NE(pResource, nullptr);
	const std::vector<CNetObject*> Elements = Registered(World.Manager());
	const uint32_t rguiTypes[] = {ELEMENT_VEHICLE, ELEMENT_TRAIN, ELEMENT_BUILDING, ELEMENT_OBJECT, ELEMENT_BLIP,
		ELEMENT_BLIP, ELEMENT_BLIP, ELEMENT_BLIP, ELEMENT_PICKUP, ELEMENT_PICKUP, ELEMENT_MARKER, ELEMENT_MARKER,
		ELEMENT_PLAYER, ELEMENT_PED};
	ASSERT_EQ(Elements.size(), std::size(rguiTypes));
	for (size_t i = 0; i < Elements.size(); i++)
	{
		EXPECT_EQ(Elements[i]->GetType(), rguiTypes[i]) << i;
		EXPECT_EQ(Elements[i]->GetResource(), pResource) << i;
	}

	// The vehicle took one of its model's default colour sets.
	CServerVehicle* pVehicle = static_cast<CServerVehicle*>(Elements[0]);
	EXPECT_EQ(pVehicle->GetModelIndex(), 130);
	ExpectPosition(pVehicle, CVector3D(1, 2, 3));
	const CVehicleColours::tDefinitions* pSets = World.Server().GetServer().GetVehicleColours().GetDefinitions(130);
	ASSERT_TRUE(pSets && !pSets->empty());
	bool bFromASet = false;
	for (const tVehicleColourDefinition& Set : *pSets)
		bFromASet = bFromASet || (!Set.m_bRGB && pVehicle->m_rgucColours[0] == Set.m_iColours[0] &&
									 pVehicle->m_rgucColours[1] == Set.m_iColours[1]);
	EXPECT_TRUE(bFromASet);
	EXPECT_EQ(static_cast<CServerTrain*>(Elements[1])->GetModelIndex(), 124);
	ExpectPosition(Elements[1], CVector3D(0, 0, 0));
	EXPECT_EQ(static_cast<CServerBuilding*>(Elements[2])->GetModelIndex(), 3000);
	ExpectPosition(Elements[2], CVector3D(7, 8, 9));
	EXPECT_EQ(static_cast<CServerObject*>(Elements[3])->GetModelIndex(), 1337);

	// An icon sets flag bit 2; an attached blip's flags 0 and 1 are its two options, and it follows its vehicle.
	const tBlipCase rgBlips[] = {
		{5, 2, 5, false},
		{1, 3, 0xFF00FF00, false},
		{2, 4, 0x11223344, true},
		{5, 2, 7, true},
	};
	for (size_t i = 0; i < std::size(rgBlips); i++)
	{
		SCOPED_TRACE(i);
		CServerBlip* pBlip = static_cast<CServerBlip*>(Elements[4 + i]);
		EXPECT_EQ(pBlip->m_ucFlags, rgBlips[i].m_ucFlags);
		EXPECT_EQ(pBlip->m_ucSize, rgBlips[i].m_ucSize);
		EXPECT_EQ(static_cast<uint32_t>(pBlip->m_iIconOrColour), rgBlips[i].m_uiIconOrColour);
		EXPECT_EQ(pBlip->GetParent(), rgBlips[i].m_bAttached ? pVehicle : nullptr);
	}
	ExpectPosition(Elements[5], CVector3D(2, 0, 0));
	ExpectPosition(Elements[6], CVector3D(1, 2, 3));

	const tPickupCase rgPickups[] = {{1242, 2}, {1240, 3}};
	for (size_t i = 0; i < std::size(rgPickups); i++)
	{
		CServerPickup* pPickup = static_cast<CServerPickup*>(Elements[8 + i]);
		EXPECT_EQ(pPickup->m_iModel, rgPickups[i].m_iModel);
		EXPECT_EQ(pPickup->m_ucPickupType, rgPickups[i].m_ucType);
		EXPECT_EQ(pPickup->m_iReserved, 0);
		ExpectPosition(pPickup, CVector3D(3, 0, 0));
	}
	EXPECT_FLOAT_EQ(static_cast<CServerMarker*>(Elements[10])->m_fRadius, 3.0f);
	EXPECT_FLOAT_EQ(static_cast<CServerMarker*>(Elements[11])->m_fRadius, 1.5f);
	ExpectPosition(Elements[11], CVector3D(4, 0, 0));

	CServerPed* pPlayer = static_cast<CServerPed*>(Elements[12]);
	EXPECT_EQ(pPlayer->m_uiPedType, 0u);
	EXPECT_EQ(pPlayer->GetModelIndex(), 0);
	ExpectPosition(pPlayer, CVector3D(5, 0, 0));
	CServerPed* pPed = static_cast<CServerPed*>(Elements[13]);
	EXPECT_EQ(pPed->m_uiPedType, 21u);
	EXPECT_EQ(pPed->GetModelIndex(), 7);
}

namespace
{
// A property of an element as a script reads it.
CArgument* Read(CGTAServerManager* pManager, eElementClass eClass, const char* szName, CNetObject* pElement,
	CReturnValue& Result)
{
	ReflectedProperty* pProperty = pManager->GetScriptClass(eClass)->GetProperty(szName);
	EXPECT_NE(pProperty, nullptr) << szName;
	if (!pProperty)
		return nullptr;
	CArgumentArray Arguments;
	CNativeState State(nullptr, nullptr, &Arguments);
	State.SetThis(pElement);
	EXPECT_TRUE(pProperty->m_Getter.GetNative()(&State, 0, pProperty->m_pUserData)) << szName;
	State.m_RVal.Move(&Result);
	return Result.GetReturnArgument();
}

struct tPedStateCase
{
	eVehicleEnteringState m_eState;
	bool m_bVehicle;
	int32_t m_iSeat;
	bool m_bEntering;
	bool m_bExiting;
};
}

// Only a ped that sits in its vehicle reports the vehicle and the seat, whatever vehicle it names.
TEST(PedMembers, VehicleAndSeatOnlyOnceThePedIsIn)
{
	ElementTest::CGameElements Game("gta:vc");
	Strong<CServerVehicle> pVehicle = Game.Make<CServerVehicle>(ELEMENT_VEHICLE, true);
	Strong<CServerPed> pPed = Game.Make<CServerPed>(ELEMENT_PED, true);
	const tPedStateCase rgCases[] = {
		{VEHICLE_STATE_NONE, false, -1, false, false},
		{VEHICLE_STATE_ENTERING, false, -1, true, false},
		{VEHICLE_STATE_ENTERING_DRIVER, false, -1, true, false},
		{VEHICLE_STATE_IN_VEHICLE, true, 4, false, false},
		{VEHICLE_STATE_EXITING, false, -1, false, true},
	};
	for (const tPedStateCase& Case : rgCases)
	{
		SCOPED_TRACE(Case.m_eState);
		pPed->SetVehicleEnteringState(pVehicle, 4, Case.m_eState);
		CReturnValue Vehicle;
		CReturnValue Seat;
		CReturnValue Entering;
		CReturnValue Exiting;
		const CArgument* pVehicleValue = Read(Game.Manager(), ELEMENT_CLASS_PED, "vehicle", pPed, Vehicle);
		const CArgument* pSeatValue = Read(Game.Manager(), ELEMENT_CLASS_PED, "seat", pPed, Seat);
		const CArgument* pEnteringValue = Read(Game.Manager(), ELEMENT_CLASS_PED, "isEnteringVehicle", pPed, Entering);
		const CArgument* pExitingValue = Read(Game.Manager(), ELEMENT_CLASS_PED, "isExitingVehicle", pPed, Exiting);
		ASSERT_TRUE(pVehicleValue && pSeatValue && pEnteringValue && pExitingValue);
		EXPECT_EQ(pVehicleValue->IsNull() ? nullptr : pVehicleValue->ToObject(),
			Case.m_bVehicle ? pVehicle.GetPointer() : nullptr);
		int32_t iSeat = 0;
		pSeatValue->ToNumber(iSeat);
		EXPECT_EQ(iSeat, Case.m_iSeat);
		EXPECT_EQ(pEnteringValue->ToBoolean(), Case.m_bEntering);
		EXPECT_EQ(pExitingValue->ToBoolean(), Case.m_bExiting);
	}
}

namespace
{
// "name type" for each property in registration order, read-only ones marked.
std::vector<std::string> PropertiesOf(const std::vector<ReflectedProperty*>& Properties)
{
	std::vector<std::string> Result;
	for (const ReflectedProperty* pProperty : Properties)
		Result.push_back(std::string(pProperty->GetName()) + " " + std::to_string(pProperty->m_ucType) +
			(pProperty->IsReadOnly() ? " read-only" : ""));
	return Result;
}

// "name(mask)" for each function in registration order.
std::vector<std::string> FunctionsOf(const std::vector<ReflectedFunction*>& Functions)
{
	std::vector<std::string> Result;
	for (const ReflectedFunction* pFunction : Functions)
		Result.push_back(std::string(pFunction->GetName()) + "(" + pFunction->m_Function.GetMask() + ")");
	return Result;
}

struct tClassMembers
{
	eElementClass m_eClass;
	std::vector<std::string> m_Properties;
	std::vector<std::string> m_Functions;
};

// Whether the items appear in the list in this order, others possibly between them.
bool InOrder(const std::vector<std::string>& List, const std::vector<std::string>& Items)
{
	auto At = List.begin();
	for (const std::string& Item : Items)
	{
		At = std::find(At, List.end(), Item);
		if (At == List.end())
			return false;
	}
	return true;
}
}

// Names, masks, value types and read-only properties are what the documentation shows and what JavaScript gives as
// a function's length.
TEST(ElementFunctionsRegistration, MembersAndFunctionsWithTheirMasksAndTypes)
{
	ElementTest::CGameElements Game("gta:sa");
	const tClassMembers rgClasses[] = {
		{ELEMENT_CLASS_ENTITY, {"modelIndex 4", "interior 4", "matrix 11", "heading 5"}, {}},
		{ELEMENT_CLASS_PHYSICAL, {"velocity 9", "turnVelocity 9"}, {}},
		{ELEMENT_CLASS_VEHICLE,
			{"locked 1", "lockedStatus 4", "engine 1", "colour1 4", "colour2 4", "colour3 4", "colour4 4",
				"strongGrip 1"},
			{"setColours(tii)", "setRGBColours(tii)", "randomiseColours(t)", "fix(t)", "getOccupant(ti)",
				"getOccupants(t)"}},
		{ELEMENT_CLASS_TRAIN,
			{"track 4", "trackPosition 5", "speed 5", "derailed 1", "headlights 1", "taillights 1"}, {}},
		{ELEMENT_CLASS_PED,
			{"skin 4", "vehicle 7 read-only", "seat 4 read-only", "health 5 read-only", "armour 5 read-only",
				"weapon 4 read-only", "weaponAmmunition 4 read-only", "weaponClipAmmunition 4 read-only",
				"weaponState 4 read-only", "isEnteringVehicle 1 read-only", "isExitingVehicle 1 read-only"},
			{"warpIntoVehicle(txi)", "giveWeapon(tii|b)"}},
	};
	for (const tClassMembers& Class : rgClasses)
	{
		const ReflectedClass* pClass = Game.Manager()->GetScriptClass(Class.m_eClass);
		SCOPED_TRACE(pClass->GetName());
		EXPECT_EQ(PropertiesOf(pClass->GetProperties()), Class.m_Properties);
		EXPECT_EQ(FunctionsOf(pClass->GetFunctions()), Class.m_Functions);
		for (const ReflectedProperty* pProperty : pClass->GetProperties())
			EXPECT_EQ(pProperty->m_pUserData, Game.Manager());
		for (const ReflectedFunction* pFunction : pClass->GetFunctions())
			EXPECT_EQ(pFunction->m_pUserData, Game.Manager());
	}

	ReflectedNamespace* pGlobal = Game.Server().GetResourceMgr().GetScripting()->GetGlobal();
	EXPECT_TRUE(InOrder(FunctionsOf(pGlobal->GetFunctions()),
		{"getBlips()", "getBlipCount()", "getBuildings()", "getBuildingCount()", "getElements()", "getElementCount()",
			"getMarkers()", "getMarkerCount()", "getObjects()", "getObjectCount()", "getPeds()", "getPedCount()",
			"getPhysicals()", "getPhysicalCount()", "getPickups()", "getPickupCount()", "getPlayers()",
			"getPlayerCount()", "getTrains()", "getTrainCount()", "getVehicles()", "getVehicleCount()"}));
	ReflectedNamespace* pGame = pGlobal->GetNamespace("gta");
	ASSERT_NE(pGame, nullptr);
	EXPECT_TRUE(InOrder(FunctionsOf(pGame->GetFunctions()),
		{"forceWeather(i)", "createVehicle(i|v)", "createBlipAttachedTo(xi|iibb)", "createBuilding(i|v)",
			"createObject(i|v)", "createBlip(iv|ii)", "createPickup(i|vi)", "createSphere(v|f)", "createPlayer(i|v)",
			"createPed(i|v)"}));
}

namespace
{
ReflectedFunction* FindFunction(const std::vector<ReflectedFunction*>& Functions, const char* szName)
{
	for (ReflectedFunction* pFunction : Functions)
	{
		if (strcmp(pFunction->GetName(), szName) == 0)
			return pFunction;
	}
	return nullptr;
}

// Where a native is found: a method or property getter of one of the game's classes or the engine's client class,
// or a function of the game's namespace or the global one.
enum eNativePlace
{
	NATIVE_METHOD,
	NATIVE_GETTER,
	NATIVE_GAME_FUNCTION,
	NATIVE_GLOBAL_FUNCTION,
};

// The object a case forges: one that carries the class but is no element or client of that kind.
enum eForged
{
	FORGED_VEHICLE,
	FORGED_ENTITY,
	FORGED_ELEMENT,
	FORGED_CLIENT,
};

struct tForgedCase
{
	const char* m_szLabel;
	eNativePlace m_ePlace;
	// The class of a method or getter (ELEMENT_CLASS_COUNT: the engine's client class).
	eElementClass m_eClass;
	const char* m_szName;
	eForged m_eForged;
	// The receiver is the forged object; otherwise it is a real ped and the forged object the first argument.
	bool m_bForgedReceiver;
	const char* m_szError;
};
}

// A plug-in module can give any object of its own the class of a game element or of a client. Such an object must
// be refused like an object of another class: the natives would otherwise treat it as the element or client it is
// not.
TEST(ElementFunctionsReceivers, ObjectsThatOnlyCarryAGameClassAreRefused)
{
	ElementTest::CGameElements Game("gta:iv");
	CGTAServerManager* pManager = Game.Manager();
	Strong<CServerPed> pPed = Game.Make<CServerPed>(ELEMENT_PED, true);
	const tForgedCase rgCases[] = {
		{"vehicle method", NATIVE_METHOD, ELEMENT_CLASS_VEHICLE, "fix", FORGED_VEHICLE, true,
			"Vehicle expected for 'this'"},
		{"entity property", NATIVE_GETTER, ELEMENT_CLASS_ENTITY, "modelIndex", FORGED_ENTITY, true,
			"Entity expected for 'this'"},
		{"vehicle argument", NATIVE_METHOD, ELEMENT_CLASS_PED, "warpIntoVehicle", FORGED_VEHICLE, false,
			"Expected Vehicle for argument 1"},
		{"element argument", NATIVE_GAME_FUNCTION, ELEMENT_CLASS_COUNT, "createBlipAttachedTo", FORGED_ELEMENT, false,
			"Expected Element for argument 1"},
		{"client property", NATIVE_GETTER, ELEMENT_CLASS_COUNT, "cameraInterior", FORGED_CLIENT, true,
			"Client expected for 'this'"},
		{"client argument", NATIVE_GLOBAL_FUNCTION, ELEMENT_CLASS_COUNT, "spawnPlayer", FORGED_CLIENT, false,
			"Expected Client for argument 1"},
		{"client argument of a session", NATIVE_GAME_FUNCTION, ELEMENT_CLASS_COUNT, "joinSession", FORGED_CLIENT,
			false, "Expected Client for argument 1"},
	};
	ReflectedNamespace* pGlobal = Game.Server().GetResourceMgr().GetScripting()->GetGlobal();
	for (const tForgedCase& Case : rgCases)
	{
		SCOPED_TRACE(Case.m_szLabel);
		ReflectedClass* pForgedClass = Case.m_eForged == FORGED_VEHICLE ? pManager->GetScriptClass(ELEMENT_CLASS_VEHICLE)
			: Case.m_eForged == FORGED_ENTITY                          ? pManager->GetScriptClass(ELEMENT_CLASS_ENTITY)
			: Case.m_eForged == FORGED_ELEMENT                         ? pManager->GetElementClass()
																	   : pManager->GetClientClass();
		Strong<CBaseObject> pForged = Strong<CBaseObject>::New(new CBaseObject());
		pForged->SetReflectedClass(pForgedClass);

		ReflectedClass* pClass =
			Case.m_eClass == ELEMENT_CLASS_COUNT ? pManager->GetClientClass() : pManager->GetScriptClass(Case.m_eClass);
		NativeFunction pfnNative = nullptr;
		void* pUserData = nullptr;
		if (Case.m_ePlace == NATIVE_GETTER)
		{
			ReflectedProperty* pProperty = pClass->GetProperty(Case.m_szName);
			ASSERT_NE(pProperty, nullptr);
			pfnNative = pProperty->m_Getter.GetNative();
			pUserData = pProperty->m_pUserData;
		}
		else
		{
			ReflectedFunction* pFunction = FindFunction(Case.m_ePlace == NATIVE_METHOD ? pClass->GetFunctions()
					: Case.m_ePlace == NATIVE_GAME_FUNCTION                           ? pGlobal->GetNamespace("gta")->GetFunctions()
																					   : pGlobal->GetFunctions(),
				Case.m_szName);
			ASSERT_NE(pFunction, nullptr);
			pfnNative = pFunction->m_Function.GetNative();
			pUserData = pFunction->m_pUserData;
		}

		CArgumentArray Arguments;
		if (!Case.m_bForgedReceiver)
		{
			Arguments.AddObject(pForged);
			// The second argument each of these natives takes.
			if (strcmp(Case.m_szName, "spawnPlayer") == 0)
				Arguments.AddVector3D(CVector3D(0, 0, 0));
			else if (strcmp(Case.m_szName, "joinSession") == 0)
				Arguments.AddObject(pForged);
			else
				Arguments.AddNumber(0);
		}
		CNativeState State(nullptr, nullptr, &Arguments);
		State.SetThis(Case.m_bForgedReceiver ? pForged.GetPointer() : pPed.GetPointer());
		EXPECT_FALSE(pfnNative(&State, static_cast<int>(Arguments.GetArrayCount()), pUserData));
		EXPECT_STREQ(g_szError, Case.m_szError);
	}
}
