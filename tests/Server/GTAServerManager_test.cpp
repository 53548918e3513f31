// The game's element manager: what its factory makes for each type id, the script classes, event types and
// constants it sets up, the elements a map file places, and what the server says when they do not all fit.

#include <gtest/gtest.h>

#include <cmath>
#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>

#include "Elements/GameElementFixture.h"
#include "Elements/ServerPickup.h"
#include "Elements/ServerVehicle.h"
#include "ResourceTestSupport.h"

#include "Engine/ElementChunk.h"
#include "Engine/Reflection.h"
#include "Scripting/EventHandlers.h"

using namespace ElementTest;

namespace
{
constexpr uint16_t FLAGS_SYNCED = NETFLAG_FIND_SYNCER | NETFLAG_SEND_SYNC;

struct tFactoryCase
{
	uint32_t m_uiType;
	const char* m_szClass;
	// Flags that must be set and flags that must be clear.
	uint16_t m_usSet;
	uint16_t m_usClear;
	float m_fStreamIn;
	float m_fStreamOut;
};
}

TEST(GTAServerManager, FactoryMakesEachKnownTypeAndNothingElse)
{
	CGameElements Game("gta:sa");
	const float fIn = Game.Server().GetStreamInDistance();
	const float fOut = Game.Server().GetStreamOutDistance();
	const tFactoryCase rgCases[] = {
		{ELEMENT_PED, "Ped", FLAGS_SYNCED | NETFLAG_DISTANCE_STREAMING, NETFLAG_ALWAYS_EXIST_FOR_SYNCER, fIn, fOut},
		{ELEMENT_PLAYER, "Player", FLAGS_SYNCED | NETFLAG_DISTANCE_STREAMING | NETFLAG_ALWAYS_EXIST_FOR_SYNCER, 0, fIn, fOut},
		{ELEMENT_VEHICLE, "Vehicle", FLAGS_SYNCED | NETFLAG_DISTANCE_STREAMING, 0, fIn, fOut},
		{ELEMENT_TRAIN, "Train", FLAGS_SYNCED | NETFLAG_ALWAYS_EXIST_FOR_SYNCER, NETFLAG_DISTANCE_STREAMING, fIn, fOut},
		{ELEMENT_OBJECT, "Object", NETFLAG_DISTANCE_STREAMING, FLAGS_SYNCED, fIn, fOut},
		{ELEMENT_BUILDING, "Building", NETFLAG_DISTANCE_STREAMING, FLAGS_SYNCED, fIn, fOut},
		{ELEMENT_BLIP, "Blip", NETFLAG_SEND_SYNC | NETFLAG_DISTANCE_STREAMING | NETFLAG_ONLY_SYNC_IF_DETACHED,
			NETFLAG_FIND_SYNCER, fIn, fOut},
		{ELEMENT_PICKUP, "Pickup", NETFLAG_DISTANCE_STREAMING, FLAGS_SYNCED, 50.0f, 100.0f},
		{ELEMENT_MARKER, "Marker", NETFLAG_DISTANCE_STREAMING, FLAGS_SYNCED, fIn, fOut},
	};
	for (const tFactoryCase& Case : rgCases)
	{
		SCOPED_TRACE(Case.m_szClass);
		Strong<CNetObject> pElement = Game.Make<CNetObject>(Case.m_uiType);
		ASSERT_FALSE(pElement.IsNull());
		EXPECT_EQ(pElement->GetType(), Case.m_uiType);
		EXPECT_TRUE(pElement->IsLocal());
		EXPECT_FALSE(pElement->IsRegistered());
		ASSERT_NE(pElement->GetReflectedClass(), nullptr);
		EXPECT_STREQ(pElement->GetReflectedClass()->GetName(), Case.m_szClass);
		EXPECT_EQ(pElement->GetNetFlags() & Case.m_usSet, Case.m_usSet);
		EXPECT_EQ(pElement->GetNetFlags() & Case.m_usClear, 0);
		EXPECT_TRUE(pElement->HasNetFlag(NETFLAG_NETWORKED));
		EXPECT_FLOAT_EQ(pElement->GetStreamInDistance(), Case.m_fStreamIn);
		EXPECT_FLOAT_EQ(pElement->GetStreamOutDistance(), Case.m_fStreamOut);
	}
	for (int iType : {0, 2, 6, 14, 64, 8192, 4096, -1})
		EXPECT_EQ(Game.Manager()->Create(iType), nullptr) << iType;
}

TEST(GTAServerManager, ScriptClassesEventTypesAndConstants)
{
	CGameElements Game("gta:iii");
	ReflectedNamespace* pGame = Game.Server().GetResourceMgr().GetScripting()->GetGlobal()->GetNamespace("gta");
	ASSERT_NE(pGame, nullptr);
	EXPECT_STREQ(pGame->GetAlias(), "game");

	const std::pair<const char*, const char*> rgClasses[] = {{"World", nullptr}, {"Entity", "Element"},
		{"Physical", "Entity"}, {"Ped", "Physical"}, {"Player", "Ped"}, {"Vehicle", "Physical"}, {"Train", "Vehicle"},
		{"Blip", "Element"}, {"Object", "Physical"}, {"Building", "Entity"}, {"Pickup", "Element"},
		{"Marker", "Element"}, {"CarGenerator", "Element"}};
	ASSERT_GE(pGame->GetClasses().size(), std::size(rgClasses));
	for (size_t i = 0; i < std::size(rgClasses); i++)
	{
		const ReflectedClass* pClass = pGame->GetClasses()[i];
		EXPECT_STREQ(pClass->GetName(), rgClasses[i].first);
		if (rgClasses[i].second)
		{
			ASSERT_NE(pClass->GetBaseClass(), nullptr) << rgClasses[i].first;
			EXPECT_STREQ(pClass->GetBaseClass()->GetName(), rgClasses[i].second);
		}
		else
			EXPECT_EQ(pClass->GetBaseClass(), nullptr);
	}
	EXPECT_EQ(Game.Manager()->GetScriptClass(ELEMENT_CLASS_ENTITY)->GetBaseClass(), Game.Manager()->GetElementClass());
	EXPECT_STREQ(Game.Manager()->GetWorld()->GetReflectedClass()->GetName(), "World");

	struct tEventCase
	{
		eGameEvent m_eEvent;
		const char* m_szName;
		int32_t m_iArguments;
		bool m_bCancellable;
	};
	const tEventCase rgEvents[] = {
		{GAME_EVENT_PED_CROUCH, "OnPedCrouch", 1, false},
		{GAME_EVENT_PED_ENTER_VEHICLE, "OnPedEnterVehicle", 3, true},
		{GAME_EVENT_PED_EXIT_VEHICLE, "OnPedExitVehicle", 2, true},
		{GAME_EVENT_PED_FALL, "OnPedFall", 4, false},
		{GAME_EVENT_PED_JUMP, "OnPedJump", 1, false},
		{GAME_EVENT_PED_SPAWN, "OnPedSpawn", 1, false},
		{GAME_EVENT_PED_UNCROUCH, "OnPedUncrouch", 1, false},
		{GAME_EVENT_PED_WASTED, "OnPedWasted", 5, false},
		{GAME_EVENT_PICKUP_COLLECTED, "OnPickupCollected", 2, false},
	};
	for (const tEventCase& Case : rgEvents)
	{
		EventHandlers::CEventType* pType = Game.Manager()->GetEventType(Case.m_eEvent);
		ASSERT_NE(pType, nullptr) << Case.m_szName;
		EXPECT_STREQ(pType->GetName(), Case.m_szName);
		EXPECT_EQ(pType->GetArgumentCount(), Case.m_iArguments);
		EXPECT_EQ(pType->CanPreventDefault(), Case.m_bCancellable);
		EXPECT_EQ(Game.Server().GetResourceMgr().GetEventHandlers()->GetEventType(Case.m_szName), pType);
	}

	const std::pair<const char*, uint32_t> rgConstants[] = {{"ELEMENT_ELEMENT", 0}, {"ELEMENT_TRANSFORMABLE", 2},
		{"ELEMENT_ENTITY", 6}, {"ELEMENT_PHYSICAL", 14}, {"ELEMENT_PED", 30}, {"ELEMENT_PLAYER", 94},
		{"ELEMENT_VEHICLE", 142}, {"ELEMENT_BLIP", 258}, {"ELEMENT_OBJECT", 526}, {"ELEMENT_BUILDING", 1030},
		{"ELEMENT_TRAIN", 2190}, {"ELEMENT_PICKUP", 4098}, {"GAME_GTA_IV_EFLC", 6}, {"SERVER_VERSION_PATCH", 10}};
	const std::vector<IntDefine>& Defines = Game.Server().GetDefineHandlers().GetDefines();
	for (const auto& Constant : rgConstants)
	{
		auto Found = std::find_if(Defines.begin(), Defines.end(),
			[&](const IntDefine& Define) { return Define.m_Name == Constant.first; });
		ASSERT_NE(Found, Defines.end()) << Constant.first;
		EXPECT_EQ(Found->m_uiValue, Constant.second) << Constant.first;
	}
	EXPECT_TRUE(std::none_of(Defines.begin(), Defines.end(),
		[](const IntDefine& Define) { return Define.m_Name == "ELEMENT_MARKER"; }));
}

namespace
{
CElementChunk* ParseMap(const std::string& Text)
{
	return CElementChunk::LoadXML(Strong<Stream>::New(new CMemoryStream(Text.data(), Text.size())));
}

// The registered elements in slot order.
std::vector<CNetObject*> Registered(CGTAServerManager* pManager)
{
	std::vector<CNetObject*> Elements;
	for (size_t Slot : pManager->UsedSlots())
		Elements.push_back(pManager->GetObjectAt(Slot));
	return Elements;
}
}

TEST(GTAServerManager, MapFilesPlaceVehiclesAndPickups)
{
	CGameElements Game("gta:sa");
	Game.Server().GetVehicleColours().RegisterColourPair(130, tVehicleColourDefinition{false, {5, 6, 0, 0}});
	AutoDelete<CElementChunk> pMap(ParseMap(
		"<map>\n"
		"  <Vehicle posX=\"1\" y=\"2\" z=\"3\" x=\"9\" angle=\"90\" rotZ=\"45\" model=\"130\"/>\n"
		"  <vehicle posX=\"-4.5\" rotZ=\"180\"/>\n"
		"  <VEHICLE x=\"abc\" angle=\"junk\" model=\"12x\"/>\n"
		"  <pickup x=\"5\"/>\n"
		"  <PickUp posX=\"1\" posY=\"1\" posZ=\"1\" model=\"1242\"/>\n"
		"  <marker x=\"1\"/>\n"
		"  <ped x=\"1\"/>\n"
		"</map>\n"));
	ASSERT_FALSE(pMap.IsNull());
	EXPECT_TRUE(Game.Manager()->LoadMap(pMap, nullptr));

	const std::vector<CNetObject*> Elements = Registered(Game.Manager());
	ASSERT_EQ(Elements.size(), 5u);
	struct tExpected
	{
		uint32_t m_uiType;
		CVector3D m_vecPosition;
		float m_fHeading;
		int32_t m_iModel;
	};
	const tExpected rgExpected[] = {
		{ELEMENT_VEHICLE, CVector3D(1, 2, 3), static_cast<float>(M_PI / 2), 130},
		{ELEMENT_VEHICLE, CVector3D(-4.5f, 0, 0), static_cast<float>(M_PI), -1},
		{ELEMENT_VEHICLE, CVector3D(0, 0, 0), 0.0f, 12},
		{ELEMENT_PICKUP, CVector3D(5, 0, 0), 0.0f, 0},
		{ELEMENT_PICKUP, CVector3D(1, 1, 1), 0.0f, 1242},
	};
	for (size_t i = 0; i < Elements.size(); i++)
	{
		SCOPED_TRACE(i);
		const tExpected& Expected = rgExpected[i];
		ASSERT_EQ(Elements[i]->GetType(), Expected.m_uiType);
		EXPECT_FALSE(Elements[i]->IsLocal());
		CVector3D vecPosition;
		ASSERT_TRUE(Elements[i]->GetPosition(vecPosition));
		EXPECT_FLOAT_EQ(vecPosition.x, Expected.m_vecPosition.x);
		EXPECT_FLOAT_EQ(vecPosition.y, Expected.m_vecPosition.y);
		EXPECT_FLOAT_EQ(vecPosition.z, Expected.m_vecPosition.z);
		if (Expected.m_uiType == ELEMENT_VEHICLE)
		{
			CServerVehicle* pVehicle = static_cast<CServerVehicle*>(Elements[i]);
			EXPECT_NEAR(std::fabs(pVehicle->GetHeading()), Expected.m_fHeading, 1e-5f);
			EXPECT_EQ(pVehicle->GetModelIndex(), Expected.m_iModel);
		}
		else
		{
			CServerPickup* pPickup = static_cast<CServerPickup*>(Elements[i]);
			EXPECT_EQ(pPickup->m_iModel, Expected.m_iModel);
			EXPECT_EQ(pPickup->m_ucPickupType, 2);
		}
	}
	// The model's one colour set was given to the first vehicle.
	EXPECT_EQ(static_cast<CServerVehicle*>(Elements[0])->m_rgucColours[0], 5);
	EXPECT_EQ(static_cast<CServerVehicle*>(Elements[0])->m_rgucColours[1], 6);
}

namespace
{
// A map file of the given number of vehicles, then the given further elements.
std::string VehicleMap(size_t Count, const std::string& Extra = "")
{
	std::string Map = "<map>\n";
	for (size_t i = 0; i < Count; i++)
		Map += "<vehicle/>\n";
	return Map + Extra + "</map>\n";
}
}

TEST(GTAServerManager, MapsThatDoNotFitTheElementTableSayHowManyElementsWereLeftOut)
{
	constexpr size_t ELEMENT_SLOTS = 16384;
	ServerTest::CServerProcess Server;
	// One vehicle placed before, so the big map fills the table and leaves out exactly seven.
	Server.WriteFile("resources/small/meta.xml", "<meta><map src=\"one.xml\" type=\"server\" /></meta>");
	Server.WriteFile("resources/small/one.xml", VehicleMap(1));
	Server.WriteFile("resources/crowd/meta.xml",
		"<meta><map src=\"full.xml\" type=\"server\" /><map src=\"late.xml\" type=\"server\" /></meta>");
	Server.WriteFile("resources/crowd/full.xml", VehicleMap(ELEMENT_SLOTS - 1 + 7));
	Server.WriteFile("resources/crowd/late.xml", VehicleMap(2, "<pickup/><marker/>"));
	ServerTest::StartWithResources(Server, {"small", "crowd"});

	const std::vector<std::string> Lines = Server.GetOutputLines();
	const char* const rgWarnings[] = {
		"Map /resources/crowd/full.xml of resource crowd: 7 of its elements could not be placed, the element table is full",
		"Map /resources/crowd/late.xml of resource crowd: 3 of its elements could not be placed, the element table is full",
	};
	for (const char* szWarning : rgWarnings)
	{
		const int iLine = ServerTest::FindLine(Lines, szWarning);
		ASSERT_GE(iLine, 0) << szWarning << "\n" << Server.GetRawOutput();
		EXPECT_EQ(ServerTest::FindLine(Lines, szWarning, static_cast<size_t>(iLine) + 1), -1) << "once per map file";
	}
	EXPECT_FALSE(ServerTest::HasLineContaining(Lines, "one.xml")) << Server.GetRawOutput();
	EXPECT_GE(ServerTest::FindLine(Lines, "START: Resource crowd started."), 0) << "a map that does not fit still starts";
	ASSERT_TRUE(Server.WriteInput("quit\n"));
	EXPECT_EQ(Server.WaitForExit(), 0);
}
