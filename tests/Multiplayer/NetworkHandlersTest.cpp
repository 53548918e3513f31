// The table of network handlers: a handler taken out while the table dispatches is skipped at once and lets go of
// its function at once, not only when the dispatch ends.

#include <gtest/gtest.h>

#include <functional>
#include <utility>

#include "Multiplayer/NetworkHandlers.h"

namespace
{
class CBodyFunction : public CFunction
{
public:
	explicit CBodyFunction(std::function<void()> Body) : CFunction(nullptr), m_Body(std::move(Body)) {}

	bool Call(const CArgumentArray&, CReturnValue*) override
	{
		// The body may drop the last other reference to this function.
		std::function<void()> Body = m_Body;
		Body();
		return true;
	}

	std::function<void()> m_Body;
};
}

TEST(NetworkHandlers, HandlerRemovedDuringADispatchLetsGoOfItsFunctionAtOnce)
{
	CNetworkHandlers Handlers(nullptr);
	const uint32_t uiFirst = GetNameKey("first");
	const uint32_t uiSecond = GetNameKey("second");
	bool bSecondRan = false;
	bool bGoneDuringDispatch = false;
	Strong<CFunction> pSecond = Strong<CFunction>::New(new CBodyFunction([&bSecondRan] { bSecondRan = true; }));
	Weak<CBaseObject> pSecondFunction(pSecond);
	Strong<CFunction> pFirst = Strong<CFunction>::New(new CBodyFunction([&] {
		Handlers.RemoveHandlers(uiSecond, nullptr);
		bGoneDuringDispatch = pSecondFunction.IsNull();
		Handlers.RemoveHandlers(uiFirst, nullptr);
	}));
	Weak<CBaseObject> pFirstFunction(pFirst);
	Handlers.AddHandler(new CScriptNetworkHandler(&Handlers, nullptr, uiSecond, pSecond));
	Handlers.AddHandler(new CScriptNetworkHandler(&Handlers, nullptr, uiFirst, pFirst));
	pFirst.SetNull();
	pSecond.SetNull();

	EXPECT_TRUE(Handlers.Trigger("First", nullptr, CArgumentArray()));
	EXPECT_TRUE(bGoneDuringDispatch);
	EXPECT_FALSE(bSecondRan);
	EXPECT_TRUE(pFirstFunction.IsNull());
	EXPECT_EQ(Handlers.GetHandlerCount(), 0u);
}
