#include "ScriptHost.h"

using EventHandlers::CEventType;

namespace
{
class EventHandlersTest : public ScriptHostTest
{
protected:
	EventHandlers::CEventHandlers* Events() const { return Manager()->GetEventHandlers(); }

	// A handler that records how many arguments it received, the event object first.
	CArgument* Recorder(std::vector<size_t>& Calls, CResource* pCaller = nullptr)
	{
		return MakeFunction(pCaller, [&Calls](const CArgumentArray& Arguments) {
			Calls.push_back(Arguments.GetArrayCount());
		});
	}
};
}

TEST_F(EventHandlersTest, AddEventTwiceKeepsTheFirstArgumentCount)
{
	EXPECT_TRUE(Call(nullptr, "addEvent", CArgs().S("MyEvent").I(2)).Boolean());
	EXPECT_TRUE(Call(nullptr, "addEvent", CArgs().S("myevent").I(5)).Boolean());
	CEventType* pType = Events()->GetEventType("MYEVENT");
	ASSERT_NE(pType, nullptr);
	EXPECT_EQ(pType->GetArgumentCount(), 2);
	EXPECT_TRUE(pType->CanPreventDefault());
	EXPECT_EQ(pType->GetSourceArgument(), -1);
	EXPECT_EQ(Call(nullptr, "addEvent", CArgs().S("AnyCount")).m_bOk, true);
	EXPECT_EQ(Events()->GetEventType("AnyCount")->GetArgumentCount(), -1);
}

TEST_F(EventHandlersTest, NamesCompareWithoutCase)
{
	std::vector<size_t> Calls;
	Call(nullptr, "addEvent", CArgs().S("MixedCase"));
	EXPECT_TRUE(Call(nullptr, "addEventHandler", CArgs().S("mixedcase").Own(Recorder(Calls))).Boolean());
	Call(nullptr, "triggerEvent", CArgs().S("MiXeDcAsE"));
	EXPECT_EQ(Calls.size(), 1u);
}

TEST_F(EventHandlersTest, TooFewArgumentsWarnsAndStillCallsWithWhatWasGiven)
{
	std::vector<size_t> Calls;
	Call(nullptr, "addEvent", CArgs().S("Three").I(3));
	Call(nullptr, "addEventHandler", CArgs().S("Three").Own(Recorder(Calls)));
	Call(nullptr, "triggerEvent", CArgs().S("Three").Null().I(1));
	ASSERT_EQ(Calls.size(), 1u);
	EXPECT_EQ(Calls[0], 2u);
	EXPECT_TRUE(Logged("TriggerWithEvent: Event 'Three' triggered with 1 arguments but requires 3 arguments"));
}

TEST_F(EventHandlersTest, TriggerEventPassesTheArgumentsAfterTheSource)
{
	struct tCase
	{
		const char* m_szName;
		std::function<void(CArgs&)> m_Build;
		bool m_bOk;
		size_t m_HandlerArguments;
		const char* m_szError;
	};
	Strong<CBaseObject> pObject = Strong<CBaseObject>::New(new CBaseObject());
	const tCase rgCases[] = {
		{"name only", [](CArgs&) {}, true, 1, ""},
		{"null source and two numbers", [](CArgs& A) { A.Null().I(1).I(2); }, true, 3, ""},
		{"object source", [&](CArgs& A) { A.O(pObject).I(1); }, true, 2, ""},
		{"number as source", [](CArgs& A) { A.I(5); }, false, 0, "Expected Instance for argument 2"},
	};
	for (const tCase& Case : rgCases)
	{
		SCOPED_TRACE(Case.m_szName);
		std::vector<size_t> Calls;
		Call(nullptr, "addEvent", CArgs().S("Forms"));
		Call(nullptr, "addEventHandler", CArgs().S("Forms").Own(Recorder(Calls)));
		CArgs Arguments;
		Arguments.S("Forms");
		Case.m_Build(Arguments);
		tCallResult Result = Call(nullptr, "triggerEvent", Arguments);
		EXPECT_EQ(Result.m_bOk, Case.m_bOk);
		if (Case.m_bOk)
		{
			ASSERT_EQ(Calls.size(), 1u);
			EXPECT_EQ(Calls[0], Case.m_HandlerArguments);
		}
		else
		{
			EXPECT_EQ(Result.m_Error, Case.m_szError);
			EXPECT_TRUE(Calls.empty());
		}
		Events()->GetEventType("Forms")->RemoveHandlers();
	}
}

TEST_F(EventHandlersTest, TriggerEventTellsWhetherAHandlerPreventedTheDefault)
{
	Call(nullptr, "addEvent", CArgs().S("Cancel"));
	Call(nullptr, "addEventHandler", CArgs().S("Cancel").Own(MakeFunction(nullptr, [](const CArgumentArray&) {})));
	EXPECT_FALSE(Call(nullptr, "triggerEvent", CArgs().S("Cancel")).Boolean());

	Call(nullptr, "addEventHandler", CArgs().S("Cancel").Own(MakeFunction(nullptr, [this](const CArgumentArray& A) {
		TestScript::CallMethod(Scripting(), nullptr, A.GetAt(0)->ToObject(), "preventDefault", CArgs());
	})));
	std::vector<size_t> Later;
	Call(nullptr, "addEventHandler", CArgs().S("Cancel").Own(Recorder(Later)));
	EXPECT_TRUE(Call(nullptr, "triggerEvent", CArgs().S("Cancel")).Boolean());
	EXPECT_EQ(Later.size(), 1u) << "a handler after the one that prevented the default still runs";
}

TEST_F(EventHandlersTest, CancellableTriggerOfAPlainTypeWarnsAndHandsACancellableEvent)
{
	Events()->CreateEventType("Plain", "An engine event", -1, false);
	std::string ClassName;
	Call(nullptr, "addEventHandler", CArgs().S("Plain").Own(MakeFunction(nullptr, [&](const CArgumentArray& A) {
		ClassName = A.GetAt(0)->ToObject()->GetReflectedClass()->GetName();
	})));
	EXPECT_TRUE(Call(nullptr, "triggerEvent", CArgs().S("Plain")).m_bOk);
	EXPECT_EQ(ClassName, "CancellableEvent");
	EXPECT_TRUE(Logged("Trigger: Event 'Plain' used with 'preventDefault' but not registered that way"));

	ClassName.clear();
	Events()->GetEventType("Plain")->Trigger(CArgs());
	EXPECT_EQ(ClassName, "Event");
}

TEST_F(EventHandlersTest, ScriptFailuresNameTheEvent)
{
	Strong<CBaseObject> pObject = Strong<CBaseObject>::New(new CBaseObject());
	Call(nullptr, "addEvent", CArgs().S("ScriptMade"));
	ExpectFailures(nullptr, {
		{"bindEventHandler", [&](CArgs& A) { A.S("ScriptMade").O(pObject).Own(MakeFunction(nullptr, {})); },
			"Event 'ScriptMade' is not bindable"},
		{"bindEventHandler", [&](CArgs& A) { A.S("Nope").O(pObject).Own(MakeFunction(nullptr, {})); },
			"Event 'Nope' doesn't exist"},
		{"triggerEvent", [](CArgs& A) { A.S("Nope"); }, "Event 'Nope' doesn't exist"},
	});

	tCallResult Result = Call(nullptr, "addEventHandler", CArgs().S("Nope").Own(MakeFunction(nullptr, {})));
	EXPECT_TRUE(Result.m_bOk);
	EXPECT_FALSE(Result.Boolean());
	EXPECT_TRUE(Logged("AddEventHandler: Event 'Nope' doesn't exist"));
}

TEST_F(EventHandlersTest, RemoveEventHandlerRemovesEveryHandlerOfTheCallingResource)
{
	WriteResource("a", {});
	WriteResource("b", {});
	Scan();
	CResource* pA = Find("a");
	CResource* pB = Find("b");
	std::vector<size_t> CallsA;
	std::vector<size_t> CallsB;
	Call(nullptr, "addEvent", CArgs().S("Shared"));
	Call(pA, "addEventHandler", CArgs().S("Shared").Own(Recorder(CallsA, pA)));
	Call(pA, "addEventHandler", CArgs().S("Shared").Own(Recorder(CallsA, pA)));
	Call(pB, "addEventHandler", CArgs().S("Shared").Own(Recorder(CallsB, pB)));

	EXPECT_TRUE(Call(pA, "removeEventHandler", CArgs().S("Shared")).Boolean());
	EXPECT_FALSE(Call(pA, "removeEventHandler", CArgs().S("Shared")).Boolean());
	Call(nullptr, "triggerEvent", CArgs().S("Shared"));
	EXPECT_TRUE(CallsA.empty());
	EXPECT_EQ(CallsB.size(), 1u);
}

TEST_F(EventHandlersTest, HandlerBoundToOneResourceRunsOnlyForItsStart)
{
	WriteResource("a", {});
	WriteResource("b", {});
	Scan();
	std::vector<size_t> Calls;
	EXPECT_TRUE(Call(nullptr, "bindEventHandler", CArgs().S("OnResourceStart").O(Find("a")).Own(Recorder(Calls)))
					.Boolean());
	ASSERT_TRUE(Find("b")->Start());
	EXPECT_TRUE(Calls.empty());
	ASSERT_TRUE(Find("a")->Start());
	EXPECT_EQ(Calls.size(), 1u);

	EXPECT_TRUE(Call(nullptr, "unbindEventHandler", CArgs().S("OnResourceStop").O(Find("a"))).m_bOk);
	EXPECT_TRUE(Call(nullptr, "unbindEventHandler", CArgs().S("OnResourceStart").O(Find("a"))).Boolean());
	EXPECT_EQ(Manager()->GetOnResourceStart()->GetHandlerCount(), 0u);
}

TEST_F(EventHandlersTest, HandlerWhoseSourceDiedNeverRunsAgain)
{
	CEventType* pType = Events()->CreateEventType("OnThing", "", 1, false);
	pType->SetSourceArgument(0);
	CBaseObject* pSource = new CBaseObject();
	Strong<CBaseObject> pOther = Strong<CBaseObject>::New(new CBaseObject());
	std::vector<size_t> Calls;
	ASSERT_TRUE(Call(nullptr, "bindEventHandler", CArgs().S("OnThing").O(pSource).Own(Recorder(Calls))).Boolean());

	pType->Trigger(CArgs().O(pOther));
	EXPECT_TRUE(Calls.empty());
	pSource->Release();
	pType->Trigger(CArgs().O(pOther));
	EXPECT_TRUE(Calls.empty()) << "a handler whose source died must not start running for every source";
	EXPECT_EQ(pType->GetHandlerCount(), 0u);
}

TEST_F(EventHandlersTest, HandlersRemovedOrAddedDuringATriggerAreSafe)
{
	CEventType* pType = Events()->CreateEventType("Walk", "", -1, true);
	std::vector<std::string> Order;
	// The first handler removes every handler of the type, itself included, and adds a new one.
	Call(nullptr, "addEventHandler", CArgs().S("Walk").Own(MakeFunction(nullptr, [&](const CArgumentArray&) {
		Order.push_back("first");
		pType->RemoveHandlers();
		Call(nullptr, "addEventHandler", CArgs().S("Walk").Own(MakeFunction(nullptr, [&](const CArgumentArray&) {
			Order.push_back("added");
		})));
	})));
	Call(nullptr, "addEventHandler", CArgs().S("Walk").Own(MakeFunction(nullptr, [&](const CArgumentArray&) {
		Order.push_back("second");
	})));

	EXPECT_TRUE(pType->Trigger(CArgs()));
	EXPECT_EQ(Order, std::vector<std::string>({"first"}));
	Order.clear();
	pType->Trigger(CArgs());
	EXPECT_EQ(Order, std::vector<std::string>({"added"}));
}
