// Engine objects that scripts make and drop: a destroyed vehicle or a Vec3 value that a Lua or JavaScript script no
// longer holds is freed once the language's collector comes round to its small handle. The collectors must come
// round in step with the engine memory such handles keep alive, without the script ever asking for a collection,
// or a server that keeps making and dropping objects grows without end. The server runs in the test's process so
// that the test can count the engine objects alive while the script works.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "InProcessServer.h"
#include "ResourceTestSupport.h"
#include "Support/ScriptHostFixture.h"

using namespace ServerTest;

namespace
{
struct tChurnCase
{
	const char* m_szName;
	const char* m_szLanguage;
	const char* m_szFile;
	// Runs once a pass, making and dropping objects of one kind.
	const char* m_szScript;
	int m_iPasses;
	// Live engine objects above the count before the script started, at most, ever. A collector that keeps pace
	// holds a few megabytes of such objects at any time, however many the script makes (the JavaScript one
	// collects past 4 MiB of such memory: some 2,700 vehicles, 25,000 vectors or 45 documents); one that comes
	// round only as its own small blocks grow holds them all, or falls further behind with every cycle. The script
	// makes several times the bound.
	size_t m_MostAlive;
};

// 100 objects a pass; an XML document is 204 objects (the document, its 201 elements, the stream it was read from).
const tChurnCase g_ChurnCases[] = {
	{"LuaDestroyedVehicles", "lua", "churn.lua", R"script(
local blob = string.rep('x', 64)
addEventHandler('OnProcess', function()
	for i = 1, 100 do
		local vehicle = gta.createVehicle(130, Vec3(1, 2, 0))
		vehicle:setData('payload', blob)
		destroyElement(vehicle)
	end
end)
)script", 500, 12000},
	{"LuaVectors", "lua", "churn.lua", R"script(
addEventHandler('OnProcess', function()
	for i = 1, 100 do
		local vector = Vec3(i, 2, 0)
	end
end)
)script", 2000, 40000},
	{"LuaXmlDocuments", "lua", "churn.lua", R"script(
addEventHandler('OnProcess', function()
	local stream = openFile('data.xml')
	local document = XmlDocument()
	document:load(stream)
	stream:close()
end)
)script", 300, 20000},
	{"JavaScriptDestroyedVehicles", "javascript", "churn.js", R"script(
const blob = 'x'.repeat(64);
addEventHandler('OnProcess', function() {
	for (let i = 0; i < 100; i++) {
		const vehicle = gta.createVehicle(130, new Vec3(1, 2, 0));
		vehicle.setData('payload', blob);
		destroyElement(vehicle);
	}
});
)script", 500, 12000},
	{"JavaScriptVectors", "javascript", "churn.js", R"script(
addEventHandler('OnProcess', function() {
	for (let i = 0; i < 100; i++) {
		const vector = new Vec3(i, 2, 0);
	}
});
)script", 2000, 40000},
	{"JavaScriptXmlDocuments", "javascript", "churn.js", R"script(
addEventHandler('OnProcess', function() {
	const stream = openFile('data.xml');
	const document = new XmlDocument();
	document.load(stream);
	stream.close();
});
)script", 300, 20000},
};

// A document of 200 elements below its root.
std::string XmlData()
{
	std::string Text = "<root>\n";
	for (int i = 0; i < 200; i++)
		Text += "\t<item index=\"" + std::to_string(i) + "\" name=\"item of the list\">some text</item>\n";
	return Text + "</root>\n";
}

class DroppedHandles : public ::testing::TestWithParam<tChurnCase>
{
};
}

TEST_P(DroppedHandles, AreFreedWithoutAskingForACollection)
{
	const tChurnCase& Case = GetParam();
	CInProcessServer Server(ResourceList({"churn"}), false);
	WriteResource(Server, "churn", {{Case.m_szFile, Case.m_szLanguage, Case.m_szScript}}, {{"data.xml", XmlData()}});
	CCapturedLog Log(Server.GetServer().GetContext());
	ASSERT_TRUE(Server.Start());
	const size_t Baseline = CBaseObject::GetLiveCount();

	size_t MostAlive = 0;
	for (int iPass = 0; iPass < Case.m_iPasses; iPass++)
	{
		Server.Pass();
		const size_t Live = CBaseObject::GetLiveCount();
		MostAlive = std::max(MostAlive, Live > Baseline ? Live - Baseline : 0);
	}
	ASSERT_EQ(Log.Text().find("ERROR"), std::string::npos) << Log.Text();
	// A pass makes at least 100 objects: a script that ran at all left some alive at some point.
	EXPECT_GT(MostAlive, 100u);
	EXPECT_LE(MostAlive, Case.m_MostAlive);
}

INSTANTIATE_TEST_SUITE_P(Languages, DroppedHandles, ::testing::ValuesIn(g_ChurnCases),
	[](const ::testing::TestParamInfo<tChurnCase>& Info) { return std::string(Info.param.m_szName); });
