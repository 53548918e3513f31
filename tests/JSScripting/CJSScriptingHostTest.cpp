// JavaScript resources run by the real script host: resources, events, exports and their lifetimes.

#include <string>

#include "Engine/KAssert.h"
#include "JSScripting/CJSScripting.h"
#include "Support/ResourceHostFixture.h"

namespace
{
class CJSScriptingHostTest : public ResourceHostFixture
{
protected:
	CJSScriptingHostTest() : ResourceHostFixture(".js", "javascript"), m_bOldAsserts(g_bAsserts)
	{
		g_bAsserts = false;
		EXPECT_TRUE(RegisterJSVM(m_pManager->GetScripting()));
		CScriptingVM* pLanguage = m_pManager->GetScripting()->GetVM("SpiderMonkey");
		EXPECT_TRUE(pLanguage != nullptr && pLanguage->DefineClasses());
	}

	~CJSScriptingHostTest() override
	{
		m_pManager.reset();
		g_bAsserts = m_bOldAsserts;
	}

	bool Start(const char* szName)
	{
		m_pManager->RefreshResources(false);
		CResource* pResource = m_pManager->FindResourceByName(szName);
		return pResource != nullptr && pResource->Start();
	}

	bool Stop(const char* szName)
	{
		CResource* pResource = m_pManager->FindResourceByName(szName);
		return pResource != nullptr && pResource->Stop(false);
	}

	// A whole line, unlike the fixture's, which finds any text.
	bool Logged(const std::string& Line) const { return LogText().find(Line + "\r\n") != std::string::npos; }

	bool m_bOldAsserts;
};

TEST_F(CJSScriptingHostTest, ResourceRunsItsFilesInOrderAsItself)
{
	WriteResource("first", { "var seen = 'one';", "console.log(seen + ' ' + thisResource.name + ' ' + "
												   "(findResourceByName('first') === thisResource));" });
	ASSERT_TRUE(Start("first"));
	EXPECT_TRUE(Logged("[INFO]    one first true"));
	EXPECT_TRUE(m_pManager->FindResourceByName("first")->IsStarted());
}

TEST_F(CJSScriptingHostTest, FailingScriptFailsTheStart)
{
	WriteResource("broken", { "nothing = 1;" });
	EXPECT_FALSE(Start("broken"));
	EXPECT_TRUE(Logged("[ERROR]   ReferenceError: assignment to undeclared variable nothing"));
	EXPECT_TRUE(Logged("[ERROR]   START: Resource broken failed to load!"));
}

TEST_F(CJSScriptingHostTest, EventsCarryValuesBetweenResources)
{
	WriteResource("listener", { "addEvent('ping');"
								"addEventHandler('ping', (e, n, s, a, o, v) => console.log("
								"  [e instanceof Event, n, s, a.join('+'), o.k, v.y].join()));" });
	WriteResource("sender", { "triggerEvent('ping', null, 1, 'two', [3, 4], { k: 'obj' }, new Vec2(5, 6));" });
	ASSERT_TRUE(Start("listener"));
	ASSERT_TRUE(Start("sender"));
	EXPECT_TRUE(Logged("[INFO]    true,1,two,3+4,obj,6"));
}

TEST_F(CJSScriptingHostTest, ExportedFunctionIsCalledAcrossResources)
{
	WriteResource("lib", { "exportFunction('add', (a, b) => a + b);" });
	WriteResource("user", { "const add = findResourceByName('lib').getExport('add');"
							"console.log('sum ' + add(2, 3));" });
	ASSERT_TRUE(Start("lib"));
	ASSERT_TRUE(Start("user"));
	EXPECT_TRUE(Logged("[INFO]    sum 5"));
}

TEST_F(CJSScriptingHostTest, ExportOfAStoppedResourceRunsNothing)
{
	WriteResource("lib", { "exportFunction('hello', () => { console.log('lib ran'); return 1; });" });
	WriteResource("user", { "var hello = findResourceByName('lib').getExport('hello');"
							"addEvent('later'); addEventHandler('later', () => console.log('got ' + hello()));" });
	ASSERT_TRUE(Start("lib"));
	ASSERT_TRUE(Start("user"));
	ASSERT_TRUE(Stop("lib"));
	m_pManager->GetScripting()->CollectGarbage();

	WriteResource("trigger", { "triggerEvent('later');" });
	ASSERT_TRUE(Start("trigger"));
	EXPECT_FALSE(Logged("[INFO]    lib ran"));
	EXPECT_TRUE(Logged("[ERROR]   Cannot call a function of a stopped resource"));
	EXPECT_TRUE(Logged("[INFO]    got undefined"));
}

TEST_F(CJSScriptingHostTest, StoppedResourceLosesItsHandlersAndRestartsFresh)
{
	WriteResource("counter", { "var n = (typeof n === 'undefined') ? 1 : n + 1; console.log('run ' + n);"
							   "addEvent('tick'); addEventHandler('tick', () => console.log('tick'));" });
	WriteResource("ticker", { "triggerEvent('tick');" });
	ASSERT_TRUE(Start("counter"));
	ASSERT_TRUE(Stop("counter"));
	ASSERT_TRUE(Start("ticker"));
	EXPECT_FALSE(Logged("[INFO]    tick"));
	ASSERT_TRUE(Start("counter"));
	EXPECT_EQ(std::string::npos, LogText().find("run 2"));
}

TEST_F(CJSScriptingHostTest, ResourceStoppingItselfFinishesItsScript)
{
	// The rest of the handler runs, but nothing it calls acts for the stopped resource any more.
	WriteResource("quitter", { "addEvent('quit'); addEventHandler('quit', () => {"
							   "  thisResource.stop();"
							   "  try { console.log('after stop ' + thisResource.name); }"
							   "  catch (e) { console.log('after stop: ' + e.message); } });" });
	WriteResource("asker", { "triggerEvent('quit');" });
	ASSERT_TRUE(Start("quitter"));
	ASSERT_TRUE(Start("asker"));
	EXPECT_TRUE(Logged("[INFO]    after stop: The calling resource has stopped"));
	EXPECT_FALSE(m_pManager->FindResourceByName("quitter")->IsStarted());
}

// Reporting an error may run the thrown value's toString: that is code of the failing resource, run as it.
TEST_F(CJSScriptingHostTest, ReportingAnErrorRunsAsTheFailingResource)
{
	const std::string Odd = "const odd = { toString() { return 'odd from ' + thisResource.name; } };";
	WriteResource("handler", { Odd + "addEvent('throw'); addEventHandler('throw', () => { throw odd; });" });
	WriteResource("trigger", { "triggerEvent('throw');" });
	WriteResource("loader", { Odd + "throw odd;" });
	ASSERT_TRUE(Start("handler"));
	ASSERT_TRUE(Start("trigger"));
	EXPECT_FALSE(Start("loader"));
	EXPECT_TRUE(Logged("[ERROR]   uncaught exception: odd from handler"));
	EXPECT_TRUE(Logged("[ERROR]   uncaught exception: odd from loader"));
}
}
