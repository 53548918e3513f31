// What the game's element script functions tell the clients: the server runs in the test's own process (with and
// without the network thread) with a resource in each language, and a client that holds the script's vehicle and
// ped watches the messages each change sends, and that nothing goes out where nothing changed.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "Elements/GameWorld.h"
#include "GameDelivery.h"
#include "ResourceTestSupport.h"
#include "ScriptNotation.h"

using namespace ServerTest;
using namespace VexaTest;

namespace
{
// The messages about one element that the holders get.
const uint32_t g_rguiElementMessages[] = {101, 105, 117, 118, 119, 120, 121, 129, 150, 180};

std::string Global(eLanguage Language, const std::string& Name, const char* szValue)
{
	const std::string Value = InLanguage(Language, szValue);
	switch (Language)
	{
	case LUA:
		return Name + " = " + Value + "\n";
	case JAVASCRIPT:
		return "var " + Name + " = " + Value + ";\n";
	default:
		return Name + " <- " + Value + ";\n";
	}
}

std::string Command(eLanguage Language, const std::string& Name, const char* szCode)
{
	return "addCommandHandler(\"" + Name + "\", " + FunctionOf(Language, InLanguage(Language, szCode)) + ")" +
		(Language == LUA ? "\n" : ";\n");
}

enum eAbout
{
	ABOUT_VEHICLE,
	ABOUT_PED,
};

// A message the step sends: its id, the element it is about (its id comes first) and the rest of its body.
struct tExpectedMessage
{
	uint32_t m_uiId;
	eAbout m_eAbout;
	std::vector<uint8_t> m_Rest;
};

struct tStep
{
	const char* m_szCode;
	std::vector<tExpectedMessage> m_Messages;
};

std::vector<uint8_t> Rest(const CTestMessage& Message)
{
	return Message.GetBytes();
}

// The script's vehicle has a model without default colours, so its colours start at 0 and stay when randomised.
// Steps run in order, each on what the ones before left.
const tStep g_Steps[] = {
	{"v.modelIndex = 9998", {{105, ABOUT_VEHICLE, Rest(CTestMessage().I32(9998))}}},
	{"v.interior = 300", {{150, ABOUT_VEHICLE, Rest(CTestMessage().U8(44))}}},
	{"v.heading = 1.5; v.matrix = v.matrix; v.velocity = Vec3(1, 0, 0); v.turnVelocity = Vec3(0, 1, 0)", {}},
	{"v.locked = true", {{119, ABOUT_VEHICLE, Rest(CTestMessage().U8(2))}}},
	{"v.locked = true", {}},
	{"v.lockedStatus = 7", {}},
	{"v.lockedStatus = 0", {{119, ABOUT_VEHICLE, Rest(CTestMessage().U8(0))}}},
	{"v.engine = true", {{120, ABOUT_VEHICLE, Rest(CTestMessage().U8(1))}}},
	{"v.engine = true", {}},
	{"v@setRGBColours(4294901760, 4278255360)",
		{{117, ABOUT_VEHICLE, Rest(CTestMessage().U8(1).U32(0xFFFF0000).U32(0xFF00FF00).U32(0xFF000000).U32(0xFF000000))}}},
	{"v@setRGBColours(4294901760, 4278255360)", {}},
	// A palette colour changes under RGB colours without taking them away.
	{"v.colour1 = 5",
		{{117, ABOUT_VEHICLE, Rest(CTestMessage().U8(1).U32(0xFFFF0000).U32(0xFF00FF00).U32(0xFF000000).U32(0xFF000000))}}},
	{"v@setColours(1, 2)", {{117, ABOUT_VEHICLE, Rest(CTestMessage().U8(0).U8(1).U8(2).U8(0).U8(0))}}},
	{"v@setColours(1, 2); v.colour2 = 2", {}},
	{"v@setRGBColours(1, 2, 3, 4)", {{117, ABOUT_VEHICLE, Rest(CTestMessage().U8(1).U32(1).U32(2).U32(3).U32(4))}}},
	// The same four palette colours, but they were not in force.
	{"v@setColours(1, 2)", {{117, ABOUT_VEHICLE, Rest(CTestMessage().U8(0).U8(1).U8(2).U8(0).U8(0))}}},
	{"v@randomiseColours()", {{117, ABOUT_VEHICLE, Rest(CTestMessage().U8(0).U8(1).U8(2).U8(0).U8(0))}}},
	{"v.strongGrip = true", {}},
	{"p@warpIntoVehicle(v, 1)", {{101, ABOUT_PED, Rest(CTestMessage().I32(-2).U8(1).U8(3))}}},
	{"p@giveWeapon(24, 50)", {{129, ABOUT_PED, Rest(CTestMessage().U32(24).U32(50).U8(0))}}},
	{"p@giveWeapon(31, 200, true)", {{129, ABOUT_PED, Rest(CTestMessage().U32(31).U32(200).U8(1))}}},
	{"p.skin = 8", {{105, ABOUT_PED, Rest(CTestMessage().I32(8))}}},
	{"p.interior = 2; p.heading = 0.5", {{150, ABOUT_PED, Rest(CTestMessage().U8(2))}}},
};

typedef std::vector<std::pair<uint32_t, std::vector<uint8_t>>> tMessages;

// The messages about elements that arrive up to and including the vehicle's fix message (118), which every step
// is followed by.
tMessages ReceiveThroughFix(CGameClient& Client, int32_t iVehicle)
{
	tMessages Messages;
	const std::vector<uint8_t> Fix = CTestMessage().I32(iVehicle).GetBytes();
	tReceivedMessage Message;
	while (Client.Receive(Message))
	{
		if (std::find(std::begin(g_rguiElementMessages), std::end(g_rguiElementMessages), Message.m_uiId) ==
			std::end(g_rguiElementMessages))
			continue;
		ExpectGameDelivery({Message});
		Messages.emplace_back(Message.m_uiId, Message.m_Body);
		if (Message.m_uiId == 118 && Message.m_Body == Fix)
			break;
	}
	return Messages;
}

tMessages ExpectedOf(const tStep& Step, int32_t iVehicle, int32_t iPed)
{
	tMessages Messages;
	for (const tExpectedMessage& Expected : Step.m_Messages)
	{
		CTestMessage Body;
		Body.I32(Expected.m_eAbout == ABOUT_VEHICLE ? iVehicle : iPed);
		std::vector<uint8_t> Rest = Expected.m_Rest;
		// -2 in a ped's vehicle message stands for the vehicle's id.
		if (Expected.m_uiId == 101)
			memcpy(Rest.data(), &iVehicle, sizeof(iVehicle));
		Body.Bytes(Rest);
		Messages.emplace_back(Expected.m_uiId, Body.GetBytes());
	}
	Messages.emplace_back(118, CTestMessage().I32(iVehicle).GetBytes());
	return Messages;
}

class ElementFunctionMessages : public ::testing::TestWithParam<std::tuple<eLanguage, bool>>
{
};

std::string DescribeCase(const ::testing::TestParamInfo<std::tuple<eLanguage, bool>>& Info)
{
	const char* rgszLanguages[] = {"Lua", "JavaScript", "Squirrel"};
	return std::string(rgszLanguages[std::get<0>(Info.param)]) + (std::get<1>(Info.param) ? "NetworkThread" : "MainThread");
}
}

TEST_P(ElementFunctionMessages, ChangesReachTheClientsThatHoldTheElement)
{
	const eLanguage Language = std::get<0>(GetParam());
	CGameWorld World(GTA_III, std::get<1>(GetParam()), ResourceList({"changes"}));
	std::string Script = Global(Language, "v", "gta.createVehicle(9999, Vec3(5, 0, 0))") +
		Global(Language, "p", "gta.createPed(7, Vec3(2, 0, 0))") + Command(Language, "fixit", "v@fix()");
	for (size_t i = 0; i < std::size(g_Steps); i++)
		Script += Command(Language, "step" + std::to_string(i), g_Steps[i].m_szCode);
	const tScriptLanguage& File = g_ScriptLanguages[Language];
	WriteResource(World.Server(), "changes", {{File.m_szFile, File.m_szLanguage, Script}});
	ASSERT_TRUE(World.Server().Start());
	CNetObject* pVehicle = World.FindFirst(ELEMENT_VEHICLE);
	CNetObject* pPed = World.FindFirst(ELEMENT_PED);
	ASSERT_TRUE(pVehicle && pPed);
	const int32_t iVehicle = pVehicle->GetId();
	const int32_t iPed = pPed->GetId();

	CGameClient Client;
	ASSERT_NE(World.JoinWithPlayer(Client, "Watcher", CVector3D(0, 0, 0)), nullptr);
	ASSERT_TRUE(Client.WaitForElement(iVehicle, true));
	ASSERT_TRUE(Client.WaitForElement(iPed, true));

	CGTAServer& Server = World.Server().GetServer();
	for (size_t i = 0; i < std::size(g_Steps); i++)
	{
		SCOPED_TRACE(g_Steps[i].m_szCode);
		ASSERT_TRUE(Server.ConsoleCommand(("/step" + std::to_string(i)).c_str()));
		ASSERT_TRUE(Server.ConsoleCommand("/fixit"));
		EXPECT_EQ(ReceiveThroughFix(Client, iVehicle), ExpectedOf(g_Steps[i], iVehicle, iPed));
	}
}

INSTANTIATE_TEST_SUITE_P(Languages, ElementFunctionMessages,
	::testing::Combine(::testing::Values(LUA, JAVASCRIPT, SQUIRREL), ::testing::Bool()), DescribeCase);
