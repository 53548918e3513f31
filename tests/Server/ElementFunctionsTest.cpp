// Black-box tests of the game's element script functions in the real server, in Lua, JavaScript and Squirrel: the
// create functions with their defaults and errors, the members of Entity, Physical, Ped, Vehicle and Train with
// their conversions, read-only properties and receiver checks, and the list and count functions. Each language
// runs the same cases in a server of its own and prints what every case gave.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ResourceTestSupport.h"
#include "ScriptChecks.h"

using namespace ServerTest;

namespace
{

const tCase g_CreateCases[] = {
	{"vehicle", "return keep(\"v\", gta.createVehicle(130))", "Vehicle"},
	{"vehicle model", "return s.v.modelIndex", "130"},
	{"vehicle at the origin", "return s.v.matrix", "Matrix(0, 0, 0)"},
	// Model 124 makes a train whatever the game.
	{"train", "return keep(\"t\", gta.createVehicle(124, Vec3(1, 2, 3)))", "Train"},
	{"train model", "return s.t.modelIndex", "124"},
	{"train position", "return s.t.matrix", "Matrix(1, 2, 3)"},
	{"position as an array", "return gta.createVehicle(5, [4, 5, 6]).matrix", "Matrix(4, 5, 6)"},
	{"model as a string", "return gta.createVehicle(\"x\")", "error Expected integer for argument 1"},
	{"position as a number", "return gta.createVehicle(1, 5)", "error Expected Vector3D for argument 2"},
	{"building", "return keep(\"b\", gta.createBuilding(3000, Vec3(7, 8, 9)))", "Building"},
	{"building position", "return s.b.matrix", "Matrix(7, 8, 9)"},
	{"object", "return keep(\"o\", gta.createObject(1337))", "Object"},
	{"object at the origin", "return s.o.matrix", "Matrix(0, 0, 0)"},
	{"model cut to an integer", "return gta.createObject(12.9).modelIndex", "12"},
	{"blip without a position", "return gta.createBlip(5)", "Blip"},
	{"blip attached", "return gta.createBlipAttachedTo(s.v, 0)", "Blip"},
	{"blip attached to nothing", "return gta.createBlipAttachedTo(null, 3)", "error Expected Element for argument 1"},
	{"blip attached to a value", "return gta.createBlipAttachedTo(Vec3(1, 2, 3), 3)",
		"error Expected Element for argument 1"},
	{"pickup", "return gta.createPickup(1242)", "Pickup"},
	{"pickup type 0", "return gta.createPickup(1242, Vec3(0, 0, 0), 0)", "error Pickup type 0 is invalid"},
	// Kept as its low byte, 256 would be type 0 as well.
	{"pickup type 256", "return gta.createPickup(1242, Vec3(0, 0, 0), 256)", "error Pickup type 256 is invalid"},
	{"sphere", "return gta.createSphere(Vec3(1, 1, 1))", "Marker"},
	{"sphere without a position", "return gta.createSphere()", "error Expected Vector3D for argument 1"},
	{"player", "return keep(\"pl\", gta.createPlayer(0, Vec3(3, 0, 0)))", "Player"},
	{"player spawned", "return s.spawned == s.pl", "true"},
	{"ped", "return keep(\"p\", gta.createPed(7))", "Ped"},
	// The handler already finds the new ped among the registered ones.
	{"ped spawned", "return s.spawned == s.p", "true"},
	{"peds at spawn", "return s.pedsAtSpawn", "2"},
};

const tCase g_MemberCases[] = {
	// Entity
	{"model set", "s.o.modelIndex = 1338; return s.o.modelIndex", "1338"},
	{"model set as a string", "s.o.modelIndex = \"x\"; return null", "error Expected integer for argument 1"},
	{"interior default", "return s.b.interior", "0"},
	{"interior as a byte", "s.o.interior = 300; return s.o.interior", "44"},
	{"heading default", "return s.b.heading", "0.0", "0"},
	{"heading set", "s.b.heading = 0.5; return s.b.heading", "0.5"},
	{"heading turns the matrix", "return s.b.matrix.m12 > 0.47", "true"},
	{"matrix set", "keep(\"m\", Matrix4x4()); s.m@setTranslate(Vec3(4, 4, 4)); s.o.matrix = s.m; return s.o.matrix",
		"Matrix(4, 4, 4)"},
	{"matrix as a number", "s.o.matrix = 5; return null", "error Expected Matrix4x4 for argument 1"},
	// Physical
	{"velocity default", "return s.o.velocity", "Vec3(0, 0, 0)"},
	{"velocity set", "s.v.velocity = Vec3(1, 2, 3); return s.v.velocity", "Vec3(1, 2, 3)"},
	{"turn velocity as an array", "s.v.turnVelocity = [0.5, 0, 0]; return s.v.turnVelocity", "Vec3(0.5, 0, 0)"},
	// Ped
	{"skin", "return s.p.skin", "7"},
	{"skin set", "s.p.skin = 8; return s.p.modelIndex", "8"},
	{"health", "return s.p.health", "100.0", "100"},
	{"armour", "return s.p.armour", "0.0", "0"},
	{"weapon", "return s.p.weapon", "0"},
	{"weapon ammunition", "return s.p.weaponAmmunition", "0"},
	{"weapon clip ammunition", "return s.p.weaponClipAmmunition", "0"},
	{"weapon state", "return s.p.weaponState", "0"},
	{"not in a vehicle", "return s.p.vehicle", "null"},
	{"no seat", "return s.p.seat", "-1"},
	{"not entering", "return s.p.isEnteringVehicle", "false"},
	{"not exiting", "return s.p.isExitingVehicle", "false"},
	{"health is read-only", "s.p.health = 5; return null", "error property 'health' readonly",
		"error setting getter-only property \"health\"", "error the index 'health' does not exist"},
	{"seat 9", "s.p@warpIntoVehicle(s.v, 9); return null", "error Seat 9 is invalid; seats are 0 to 8"},
	{"seat -1", "s.p@warpIntoVehicle(s.v, -1); return null", "error Seat -1 is invalid; seats are 0 to 8"},
	// As a byte, 264 would have been seat 8.
	{"seat 264", "s.p@warpIntoVehicle(s.v, 264); return null", "error Seat 264 is invalid; seats are 0 to 8"},
	{"warp into an object", "s.p@warpIntoVehicle(s.o, 1); return null", "error Expected Vehicle for argument 1"},
	{"warp", "s.p@warpIntoVehicle(s.v, 2); return s.p.vehicle == s.v", "true"},
	{"seat after the warp", "return s.p.seat", "2"},
	{"occupant", "return s.v@getOccupant(2) == s.p", "true"},
	{"occupants", "return s.v@getOccupants()", "[Ped]"},
	{"occupant of seat 9", "return s.v@getOccupant(9)", "null"},
	{"occupant of seat -1", "return s.v@getOccupant(-1)", "null"},
	// Cut to 32 bits this would be seat 2.
	{"occupant of seat 2^32 + 2", "return s.v@getOccupant(4294967298)", "null"},
	{"weapon given", "s.p@giveWeapon(24, 50, true); return s.p.weapon", "24"},
	{"ammunition given", "return s.p.weaponAmmunition", "50"},
	{"weapon given but not current", "s.p@giveWeapon(25, 10); return s.p.weapon", "24"},
	{"weapon without ammunition", "s.p@giveWeapon(24); return null", "error Expected integer for argument 2"},
	// Vehicle
	{"unlocked", "return s.v.locked", "false"},
	{"lock status", "return s.v.lockedStatus", "1"},
	{"locked", "s.v.locked = true; return s.v.lockedStatus", "2"},
	{"lock status 7", "s.v.lockedStatus = 7; return null", "error invalid vehicle lock status"},
	{"lock status 263", "s.v.lockedStatus = 263; return null", "error invalid vehicle lock status"},
	{"lock status 7 refused", "return s.v.lockedStatus", "2"},
	{"lock status 256", "s.v.lockedStatus = 256; return s.v.lockedStatus", "0"},
	{"lock status 0 is unlocked", "return s.v.locked", "false"},
	{"engine", "return s.v.engine", "false"},
	{"engine started", "s.v.engine = true; return s.v.engine", "true"},
	{"engine as a number", "s.v.engine = 1; return null", "error Expected boolean for argument 1"},
	{"colour set", "s.v@setColours(1, 2); return s.v.colour2", "2"},
	{"colours not given are 0", "return s.v.colour3", "0"},
	{"colours as bytes", "s.v@setColours(1, 2, 3, 300); return s.v.colour4", "44"},
	{"one colour", "s.v@setColours(1); return null", "error Expected integer for argument 2"},
	{"colour as a byte", "s.v.colour1 = 258; return s.v.colour1", "2"},
	{"palette colour under RGB", "s.v@setRGBColours(4294901760, 4278255360); s.v.colour1 = 5; return s.v.colour1",
		"5"},
	{"fix", "return s.v@fix()", "null"},
	{"strong grip", "return s.v.strongGrip", "false"},
	{"strong grip set", "s.v.strongGrip = true; return s.v.strongGrip", "true"},
	{"vehicle members on a train", "s.t.engine = true; return s.t.engine", "true"},
	{"train occupants", "return s.t@getOccupants()", "[]"},
	// Train
	{"track", "return s.t.track", "0"},
	{"track position", "return s.t.trackPosition", "0.0", "0"},
	{"speed", "return s.t.speed", "0.0", "0"},
	{"derailed", "return s.t.derailed", "false"},
	{"headlights", "return s.t.headlights", "true"},
	{"taillights", "return s.t.taillights", "true"},
	{"track as a byte", "s.t.track = 257; return s.t.track", "1"},
	{"track position set", "s.t.trackPosition = 2.5; return s.t.trackPosition", "2.5"},
	{"speed set", "s.t.speed = -0.25; return s.t.speed", "-0.25"},
	{"derail", "s.t.derailed = true; return s.t.derailed", "true"},
	{"headlights off", "s.t.headlights = false; return s.t.headlights", "false"},
	{"taillights as a number", "s.t.taillights = 0; return null", "error Expected boolean for argument 1"},
};

// After the cases above: 3 vehicles (one a train), a building, 2 objects, 2 blips, a pickup, a marker, a player
// and a ped, in that order of slots.
const tCase g_ListCases[] = {
	{"elements", "return getElementCount()", "12"},
	{"physicals", "return getPhysicals()", "[Vehicle, Train, Vehicle, Object, Object, Player, Ped]"},
	{"physical count", "return getPhysicalCount()", "7"},
	{"vehicles", "return getVehicles()", "[Vehicle, Train, Vehicle]"},
	{"vehicle count", "return getVehicleCount()", "3"},
	{"trains", "return getTrains()", "[Train]"},
	{"train count", "return getTrainCount()", "1"},
	{"peds", "return getPeds()", "[Player, Ped]"},
	{"ped count", "return getPedCount()", "2"},
	{"players", "return getPlayers()", "[Player]"},
	{"player count", "return getPlayerCount()", "1"},
	{"objects", "return getObjects()", "[Object, Object]"},
	{"object count", "return getObjectCount()", "2"},
	{"buildings", "return getBuildings()", "[Building]"},
	{"building count", "return getBuildingCount()", "1"},
	{"blips", "return getBlips()", "[Blip, Blip]"},
	{"blip count", "return getBlipCount()", "2"},
	{"pickups", "return getPickups()", "[Pickup]"},
	{"pickup count", "return getPickupCount()", "1"},
	{"markers", "return getMarkers()", "[Marker]"},
	{"marker count", "return getMarkerCount()", "1"},
	{"every element in slot order", "return getElements()",
		"[Vehicle, Train, Vehicle, Building, Object, Object, Blip, Blip, Pickup, Marker, Player, Ped]"},
};

// Methods called on a receiver of the wrong class, and without one: each language has its own way to do it.
struct tReceiverCase
{
	const char* m_szLabel;
	const char* m_szCode[LANGUAGE_COUNT];
	const char* m_szExpected[LANGUAGE_COUNT];
};

const tReceiverCase g_ReceiverCases[] = {
	{"vehicle method on a ped",
		{"return gta.Vehicle.fix(s.p)", "return gta.Vehicle.prototype.fix.call(s.p)", "return gta.Vehicle.fix.call(s.p)"},
		{"error Vehicle expected for 'this'", "error Vehicle expected for 'this'", "error Vehicle expected for 'this'"}},
	{"ped method on a vehicle",
		{"return gta.Ped.giveWeapon(s.v, 1, 1)", "return gta.Ped.prototype.giveWeapon.call(s.v, 1, 1)",
			"return gta.Ped.giveWeapon.call(s.v, 1, 1)"},
		{"error Ped expected for 'this'", "error Ped expected for 'this'", "error Ped expected for 'this'"}},
	{"train property of a vehicle",
		{"return s.v.speed", "return Object.getOwnPropertyDescriptor(gta.Train.prototype, 'speed').get.call(s.v)",
			"return s.v.speed"},
		{"null", "error Train expected for 'this'", "error the index 'speed' does not exist"}},
	{"vehicle method without a receiver",
		{"return gta.Vehicle.fix()", "return gta.Vehicle.prototype.fix.call(null)", "return gta.Vehicle.fix.call(null)"},
		{"error 'this' is null", "error 'fix' called on an object that does not implement interface Referenceable.",
			"error 'this' is null"}},
};


class ElementFunctions : public ::testing::TestWithParam<eLanguage>
{
};

std::string DescribeLanguage(const ::testing::TestParamInfo<eLanguage>& Info)
{
	return g_ScriptLanguages[Info.param].m_szLabel;
}
}

TEST_P(ElementFunctions, CasesGiveTheirResultsInEveryLanguage)
{
	const eLanguage Language = GetParam();
	const tScriptLanguage& Script = g_ScriptLanguages[Language];
	std::vector<std::pair<std::string, std::string>> Expectations;
	std::string Text = g_rgszPreludes[Language];
	for (const auto& Cases : {std::vector<tCase>(std::begin(g_CreateCases), std::end(g_CreateCases)),
			 std::vector<tCase>(std::begin(g_MemberCases), std::end(g_MemberCases)),
			 std::vector<tCase>(std::begin(g_ListCases), std::end(g_ListCases))})
	{
		for (const tCase& Case : Cases)
		{
			Text += Check(Language, Case.m_szLabel, InLanguage(Language, Case.m_szCode));
			Expectations.emplace_back(Case.m_szLabel, Expected(Language, Case));
		}
	}
	for (const tReceiverCase& Case : g_ReceiverCases)
	{
		Text += Check(Language, Case.m_szLabel, Case.m_szCode[Language]);
		Expectations.emplace_back(Case.m_szLabel, Case.m_szExpected[Language]);
	}

	CServerProcess Server;
	WriteResource(Server, "elements", {{Script.m_szFile, Script.m_szLanguage, Text}});
	StartWithResources(Server, {"elements"});
	const std::vector<std::string> Lines = Server.GetOutputLines();
	for (const auto& Expectation : Expectations)
	{
		const std::string Line = std::string(Script.m_szLabel) + " " + Expectation.first + ": " + Expectation.second;
		EXPECT_GE(FindLine(Lines, Line), 0) << "missing: " << Line;
	}
	EXPECT_TRUE(Printed(Server, "1/1 Resources loaded, 0 failed")) << Server.GetRawOutput();
}

INSTANTIATE_TEST_SUITE_P(Languages, ElementFunctions, ::testing::Values(LUA, JAVASCRIPT, SQUIRREL), DescribeLanguage);

// The element table holds 16384 elements; once it is full every create function fails with its own error, and no
// ped that could not be made is spawned.
TEST(ElementFunctions, CreateFunctionsFailWithTheirErrorWhenTheTableIsFull)
{
	CServerProcess Server;
	WriteResource(Server, "filler", {{"main.lua", "lua", std::string(g_szLuaPrelude) + R"script(
local spawns = 0
addEventHandler('OnPedSpawn', function() spawns = spawns + 1 end)
local anchor = gta.createObject(1)
local made = 1
while pcall(gta.createObject, 1) do made = made + 1 end
print('made ' .. made)
check('vehicle', function() return gta.createVehicle(130) end)
check('train', function() return gta.createVehicle(124) end)
check('attached blip', function() return gta.createBlipAttachedTo(anchor, 1) end)
check('building', function() return gta.createBuilding(1) end)
check('object', function() return gta.createObject(1) end)
check('blip', function() return gta.createBlip(1) end)
check('pickup', function() return gta.createPickup(1) end)
check('sphere', function() return gta.createSphere(Vec3(0, 0, 0)) end)
check('player', function() return gta.createPlayer(1) end)
check('ped', function() return gta.createPed(1) end)
print('spawns ' .. spawns .. ', elements ' .. getElementCount())
)script"}});
	StartWithResources(Server, {"filler"});
	const std::pair<const char*, const char*> rgExpected[] = {{"vehicle", "vehicle"}, {"train", "vehicle"},
		{"attached blip", "blip"}, {"building", "building"}, {"object", "object"}, {"blip", "blip"},
		{"pickup", "pickup"}, {"sphere", "marker"}, {"player", "player"}, {"ped", "ped"}};
	const std::vector<std::string> Lines = Server.GetOutputLines();
	EXPECT_GE(FindLine(Lines, "made 16384"), 0) << Server.GetRawOutput();
	for (const auto& Expected : rgExpected)
	{
		const std::string Line = std::string("lua ") + Expected.first + ": error Failed to create " + Expected.second;
		EXPECT_GE(FindLine(Lines, Line), 0) << "missing: " << Line;
	}
	EXPECT_GE(FindLine(Lines, "spawns 0, elements 16384"), 0) << Server.GetRawOutput();
}

// An element takes eight attached elements; a blip that cannot follow its element is not made.
TEST(ElementFunctions, AttachedBlipThatCannotBeAttachedIsNotMade)
{
	CServerProcess Server;
	WriteResource(Server, "blips", {{"main.lua", "lua", std::string(g_szLuaPrelude) + R"script(
local vehicle = gta.createVehicle(130)
for i = 1, 8 do gta.createBlipAttachedTo(vehicle, i) end
check('ninth blip', function() return gta.createBlipAttachedTo(vehicle, 9) end)
check('blips', function() return getBlipCount() end)
check('blip of another element', function() return gta.createBlipAttachedTo(gta.createObject(1), 9) end)
)script"}});
	StartWithResources(Server, {"blips"});
	const std::vector<std::string> Lines = Server.GetOutputLines();
	for (const char* szLine : {"lua ninth blip: error Failed to attach blip: the element has too many attached elements",
			 "lua blips: 8", "lua blip of another element: Blip"})
		EXPECT_GE(FindLine(Lines, szLine), 0) << "missing: " << szLine << "\n" << Server.GetRawOutput();
}

// A script may still hold an element whose resource stopped: a destroyed ped cannot be put into a vehicle, nor a
// ped into a destroyed vehicle, nor a blip attached to one, while the element's other members still answer.
TEST(ElementFunctions, DestroyedElementsCannotBeNamedByOthers)
{
	CServerProcess Server;
	WriteResource(Server, "garage", {{"main.lua", "lua", "local vehicle = gta.createVehicle(130)\n"
														 "local ped = gta.createPed(7)\n"
														 "exportFunction('vehicle', function() return vehicle end)\n"
														 "exportFunction('ped', function() return ped end)\n"}});
	WriteResource(Server, "driver", {{"main.lua", "lua", std::string(g_szLuaPrelude) + R"script(
local vehicle = findResourceByName('garage'):getExport('vehicle')()
local walker = findResourceByName('garage'):getExport('ped')()
local ped = gta.createPed(7)
local car = gta.createVehicle(131)
addCommandHandler('drive', function()
	check('destroyed ped warped', function() walker:warpIntoVehicle(car, 1) return car:getOccupant(1) end)
	check('warp into a destroyed vehicle', function() ped:warpIntoVehicle(vehicle, 0) return ped.vehicle end)
	check('blip on a destroyed vehicle', function() return gta.createBlipAttachedTo(vehicle, 1) end)
	check('destroyed vehicle model', function() return vehicle.modelIndex end)
	check('vehicles', function() return getVehicleCount() end)
end)
)script"}});
	StartWithResources(Server, {"garage", "driver"});
	ASSERT_TRUE(Server.WriteInput("stop garage\n"));
	ASSERT_TRUE(Server.WaitForOutput("STOP: Resource garage stopped.")) << Server.GetRawOutput();
	ASSERT_TRUE(Server.WriteInput("drive\n"));
	ASSERT_TRUE(Server.WaitForOutput("lua vehicles: 1")) << Server.GetRawOutput();
	const std::vector<std::string> Lines = Server.GetOutputLines();
	for (const char* szLine : {"lua destroyed ped warped: error The ped no longer exists",
			 "lua warp into a destroyed vehicle: error The element for argument 1 no longer exists",
			 "lua blip on a destroyed vehicle: error The element for argument 1 no longer exists",
			 "lua destroyed vehicle model: 130"})
		EXPECT_GE(FindLine(Lines, szLine), 0) << "missing: " << szLine << "\n" << Server.GetRawOutput();
}
