// The removal rule the event, command, key-bind and timer registries share: a handler that one of them takes out
// while it dispatches is skipped at once and lets go of its function at once, not only when the dispatch ends.

#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ScriptHost.h"

namespace
{
class DeferredRemovalTest : public ScriptHostTest
{
protected:
	static SDL_Keysym Key(const char* szName)
	{
		SDL_Keysym Keysym = {};
		Keysym.sym = strcmp(szName, "first") == 0 ? SDLK_a : SDLK_b;
		return Keysym;
	}

	// Each registry's way of adding a handler under a name (taking over the function value), removing the
	// handlers of that name and dispatching it once, as a script of no resource would.
	struct tRegistry
	{
		const char* m_szName;
		std::function<void(const char* szName, CArgument* pFunction)> m_Add;
		std::function<void(const char* szName)> m_Remove;
		std::function<void(const char* szName)> m_Dispatch;
	};

	std::vector<tRegistry> Registries()
	{
		return {
			{"events",
				[this](const char* szName, CArgument* pFunction) {
					Call(nullptr, "addEvent", CArgs().S(szName));
					EXPECT_TRUE(Call(nullptr, "addEventHandler", CArgs().S(szName).Own(pFunction)).Boolean());
				},
				[this](const char* szName) { Call(nullptr, "removeEventHandler", CArgs().S(szName)); },
				[this](const char* szName) { Manager()->GetEventHandlers()->GetEventType(szName)->Trigger(CArgs()); }},
			{"commands",
				[this](const char* szName, CArgument* pFunction) {
					EXPECT_TRUE(Call(nullptr, "addCommandHandler", CArgs().S(szName).Own(pFunction)).Boolean());
				},
				[this](const char* szName) { Call(nullptr, "removeCommandHandler", CArgs().S(szName)); },
				[this](const char* szName) { Command(szName); }},
			{"key binds",
				[this](const char* szName, CArgument* pFunction) {
					EXPECT_TRUE(Call(nullptr, "bindKey", CArgs().I(Key(szName).sym).I(KEYSTATE_DOWN).Own(pFunction))
									.Boolean());
				},
				[this](const char* szName) { Call(nullptr, "unbindKey", CArgs().I(Key(szName).sym)); },
				[this](const char* szName) { Manager()->GetKeyBinds()->Trigger(nullptr, Key(szName), 0, true); }},
			{"timers",
				[this](const char* szName, CArgument* pFunction) {
					m_Timers[szName] = Call(nullptr, "setInterval", CArgs().Own(pFunction).I(0)).Object();
				},
				[this](const char* szName) { Call(nullptr, "clearInterval", CArgs().O(m_Timers[szName])); },
				// One pass runs both, the first (in the lower slot) before the second.
				[this](const char*) { Manager()->Process(0.016); }},
		};
	}

	std::map<std::string, Strong<CBaseObject>> m_Timers;
};
}

TEST_F(DeferredRemovalTest, HandlerRemovedDuringADispatchLetsGoOfItsFunctionAtOnce)
{
	for (const tRegistry& Registry : Registries())
	{
		SCOPED_TRACE(Registry.m_szName);
		bool bSecondRan = false;
		bool bGoneDuringDispatch = false;
		CArgument* pSecond = MakeFunction(nullptr, [&bSecondRan](const CArgumentArray&) { bSecondRan = true; });
		Weak<CBaseObject> pSecondFunction(pSecond->ToFunction());
		CArgument* pFirst = MakeFunction(nullptr, [&](const CArgumentArray&) {
			Registry.m_Remove("second");
			bGoneDuringDispatch = pSecondFunction.IsNull();
			// The handler that runs may take itself out as well: its call goes on with what it holds.
			Registry.m_Remove("first");
		});
		Weak<CBaseObject> pFirstFunction(pFirst->ToFunction());
		Registry.m_Add("first", pFirst);
		Registry.m_Add("second", pSecond);

		Registry.m_Dispatch("first");
		EXPECT_TRUE(bGoneDuringDispatch);
		EXPECT_FALSE(bSecondRan);
		EXPECT_TRUE(pFirstFunction.IsNull());
	}
}
