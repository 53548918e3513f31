// What a JavaScript wrapper tells the collector about the engine memory it keeps alive must follow the engine's
// rule for associated memory: an object holds at most one association of a use at a time, and every removal takes
// away exactly what one addition gave. The library shipped here keeps only totals and lets any sequence pass; a
// debug build of it checks every object and aborts on the first mismatch. So this executable stands between our
// code and the library: it keeps the record a debug build would keep and notes every break of the rule, then hands
// each call on to the library.
//
// Calls from our static libraries resolve to the definitions below, which are part of the executable; the
// library's own functions are found behind them. The collector moves no object of our classes (they are made in
// the tenured heap, and only shrinking collections compact it, which nothing here asks for), so an object's address
// names it for its whole life.

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <js/MemoryFunctions.h>
#include <js/Object.h>
#include <jsapi.h>

#include "InProcessServer.h"
#include "ResourceTestSupport.h"
#include "Support/ScriptHostFixture.h"

namespace
{
typedef void (*tMemoryCall)(JSObject*, size_t, JS::MemoryUse);

class CAssociationRecord
{
public:
	void Add(JSObject* pObject, size_t Bytes, JS::MemoryUse eUse)
	{
		std::lock_guard<std::mutex> Lock(m_Mutex);
		m_Additions++;
		auto Result = m_Associations.emplace(tKey(pObject, eUse), Bytes);
		if (!Result.second)
			Note(pObject, "a second addition of " + std::to_string(Bytes) + " bytes over " +
					std::to_string(Result.first->second));
	}

	void Remove(JSObject* pObject, size_t Bytes, JS::MemoryUse eUse)
	{
		std::lock_guard<std::mutex> Lock(m_Mutex);
		auto Found = m_Associations.find(tKey(pObject, eUse));
		if (Found == m_Associations.end())
		{
			Note(pObject, "a removal of " + std::to_string(Bytes) + " bytes that were never added");
			return;
		}
		if (Found->second != Bytes)
			Note(pObject, "a removal of " + std::to_string(Bytes) + " bytes of the " +
					std::to_string(Found->second) + " added");
		m_Associations.erase(Found);
	}

	void Clear()
	{
		std::lock_guard<std::mutex> Lock(m_Mutex);
		m_Associations.clear();
		m_Violations.clear();
		m_Additions = 0;
	}

	std::vector<std::string> GetViolations()
	{
		std::lock_guard<std::mutex> Lock(m_Mutex);
		return m_Violations;
	}

	size_t GetAssociationCount()
	{
		std::lock_guard<std::mutex> Lock(m_Mutex);
		return m_Associations.size();
	}

	size_t GetAdditionCount()
	{
		std::lock_guard<std::mutex> Lock(m_Mutex);
		return m_Additions;
	}

private:
	typedef std::pair<JSObject*, JS::MemoryUse> tKey;

	void Note(JSObject* pObject, const std::string& Text)
	{
		m_Violations.push_back(std::string(JS::GetClass(pObject)->name) + ": " + Text);
	}

	std::mutex m_Mutex;
	std::map<tKey, size_t> m_Associations;
	std::vector<std::string> m_Violations;
	size_t m_Additions = 0;
};

CAssociationRecord g_Record;

tMemoryCall FindLibraryCall(const char* szMangledName)
{
	tMemoryCall pfnCall = reinterpret_cast<tMemoryCall>(dlsym(RTLD_NEXT, szMangledName));
	if (pfnCall == nullptr)
		abort();
	return pfnCall;
}
}

namespace JS
{
void AddAssociatedMemory(JSObject* obj, size_t nbytes, MemoryUse use)
{
	static const tMemoryCall s_pfnLibrary = FindLibraryCall("_ZN2JS19AddAssociatedMemoryEP8JSObjectmNS_9MemoryUseE");
	g_Record.Add(obj, nbytes, use);
	s_pfnLibrary(obj, nbytes, use);
}

void RemoveAssociatedMemory(JSObject* obj, size_t nbytes, MemoryUse use)
{
	static const tMemoryCall s_pfnLibrary =
		FindLibraryCall("_ZN2JS22RemoveAssociatedMemoryEP8JSObjectmNS_9MemoryUseE");
	g_Record.Remove(obj, nbytes, use);
	s_pfnLibrary(obj, nbytes, use);
}
}

using namespace ServerTest;

namespace
{
struct tAccountCase
{
	const char* m_szName;
	// Runs as the resource starts; it makes objects only it holds, and changes what they keep alive.
	const char* m_szScript;
};

const tAccountCase g_AccountCases[] = {
	{"XmlDocumentLoaded", R"script(
const stream = openFile('data.xml');
const document = new XmlDocument();
document.load(stream);
stream.close();
)script"},
	{"StreamLinesRead", R"script(
const stream = openFile('data.xml');
stream.readLine();
stream.readLine();
)script"},
	{"StreamClosed", R"script(
const stream = openFile('data.xml');
stream.readLine();
stream.close();
)script"},
	{"DataOnADestroyedVehicle", R"script(
const vehicle = gta.createVehicle(130, new Vec3(1, 2, 0));
destroyElement(vehicle);
vehicle.setData('payload', 'x'.repeat(64));
vehicle.setData('payload', 'y'.repeat(500));
vehicle.setData('payload', 'z');
)script"},
	{"TextReaderLoaded", R"script(
const stream = openFile('data.xml');
const reader = new TextReader(stream);
reader.loadText();
stream.close();
reader.close();
)script"},
	{"ElementsClearedAfterTheirDocumentWent", R"script(
const stream = openFile('data.xml');
let document = new XmlDocument();
document.load(stream);
stream.close();
const root = document.rootElement;
document = null;
collectGarbage();
root.clear();
)script"},
	// Objects whose amount never changes.
	{"FreshVector", R"script(
const vector = new Vec3(1, 2, 3);
)script"},
	{"DestroyedVehicle", R"script(
destroyElement(gta.createVehicle(130, new Vec3(1, 2, 0)));
)script"},
	{"ExportedFunctionValues", R"script(
exportFunction('greet', function(name) { return 'hello ' + name; });
const greet = findResourceByName('account').getExport('greet');
greet('world');
findResourceByName('account').exports.greet('map');
)script"},
};

class JSAssociatedMemory : public ::testing::TestWithParam<tAccountCase>
{
};
}

TEST_P(JSAssociatedMemory, EveryRemovalMatchesOneAddition)
{
	const tAccountCase& Case = GetParam();
	g_Record.Clear();
	{
		CInProcessServer Server(ResourceList({"account"}), false);
		WriteResource(Server, "account", {{"main.js", "javascript", Case.m_szScript}},
			{{"data.xml", "<root>\n\t<item name=\"first\">some text</item>\n\t<item name=\"second\" />\n</root>\n"}});
		CCapturedLog Log(Server.GetServer().GetContext());
		ASSERT_TRUE(Server.Start());
		Server.Pass();
		ASSERT_EQ(Log.Text().find("ERROR"), std::string::npos) << Log.Text();
		CScriptingVM* pVM = Server.GetServer().GetResourceMgr().GetScripting()->GetVM("SpiderMonkey");
		ASSERT_NE(pVM, nullptr);
		pVM->CollectGarbage();
		Server.Pass();
	}
	// Tearing the server down finalised every wrapper.
	const std::vector<std::string> Violations = g_Record.GetViolations();
	std::string Text;
	for (const std::string& Violation : Violations)
		Text += Violation + "\n";
	EXPECT_TRUE(Violations.empty()) << Text;
	EXPECT_EQ(g_Record.GetAssociationCount(), 0u);
	// Every case leaves an object to its wrapper alone: the calls went through the record.
	EXPECT_GT(g_Record.GetAdditionCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Objects, JSAssociatedMemory, ::testing::ValuesIn(g_AccountCases),
	[](const ::testing::TestParamInfo<tAccountCase>& Info) { return std::string(Info.param.m_szName); });
