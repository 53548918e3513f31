#include "ScriptHost.h"

namespace
{
class KeyBindsTest : public ScriptHostTest
{
protected:
	CKeyBinds* Binds() const { return Manager()->GetKeyBinds(); }

	static SDL_Keysym Key(SDL_Keycode Code)
	{
		SDL_Keysym Keysym = {};
		Keysym.sym = Code;
		Keysym.scancode = SDL_SCANCODE_A;
		Keysym.mod = KMOD_LSHIFT;
		return Keysym;
	}

	// Binds a function that appends Tag to m_Order.
	bool Bind(CResource* pCaller, SDL_Keycode Code, int32_t iState, const char* szTag, bool bRepeat = false)
	{
		CArgs Arguments;
		Arguments.I(Code).I(iState).Own(MakeFunction(pCaller, [this, szTag](const CArgumentArray&) {
			m_Order.push_back(szTag);
		}));
		Arguments.B(bRepeat);
		return Call(pCaller, "bindKey", Arguments).Boolean();
	}

	std::vector<std::string> m_Order;
};
}

TEST_F(KeyBindsTest, StatesAndRepeatsSelectTheBindsThatRun)
{
	ASSERT_TRUE(Bind(nullptr, SDLK_a, KEYSTATE_BOTH, "both"));
	ASSERT_TRUE(Bind(nullptr, SDLK_a, KEYSTATE_DOWN, "down"));
	ASSERT_TRUE(Bind(nullptr, SDLK_a, KEYSTATE_UP, "up"));
	ASSERT_TRUE(Bind(nullptr, SDLK_a, KEYSTATE_DOWN, "repeat", true));
	ASSERT_TRUE(Bind(nullptr, SDLK_a, 7, "never"));
	struct tCase
	{
		int32_t m_iRepeat;
		bool m_bDown;
		std::vector<std::string> m_Expected;
	};
	const tCase rgCases[] = {
		{0, true, {"repeat", "down", "both"}},
		{0, false, {"up", "both"}},
		{3, true, {"repeat"}},
	};
	for (const tCase& Case : rgCases)
	{
		m_Order.clear();
		Binds()->Trigger(nullptr, Key(SDLK_a), Case.m_iRepeat, Case.m_bDown);
		EXPECT_EQ(m_Order, Case.m_Expected) << "repeat " << Case.m_iRepeat << " down " << Case.m_bDown;
	}
	m_Order.clear();
	Binds()->Trigger(nullptr, Key(SDLK_b), 0, true);
	EXPECT_TRUE(m_Order.empty());
}

TEST_F(KeyBindsTest, KeyEventShowsTheReport)
{
	std::vector<int32_t> Values;
	std::string ClientSeen;
	Strong<CBaseObject> pClient = Strong<CBaseObject>::New(new CBaseObject());
	Binds()->SetPassClient(true);
	CArgs Arguments;
	Arguments.I(SDLK_RETURN).I(KEYSTATE_BOTH).Own(MakeFunction(nullptr, [&](const CArgumentArray& A) {
		CBaseObject* pEvent = A.GetAt(0)->ToObject();
		for (const char* szProperty : {"keyCode", "scanCode", "mod", "repeat", "down"})
			Values.push_back(TestScript::GetProperty(Scripting(), nullptr, pEvent, szProperty).Integer());
		TestScript::CallMethod(Scripting(), nullptr, pEvent, "preventDefault", CArgs());
		Values.push_back(TestScript::CallMethod(Scripting(), nullptr, pEvent, "isDefaultPrevented", CArgs()).Boolean());
		ClientSeen = A.GetArrayCount() > 1 && A.GetAt(1)->ToObject() == pClient ? "client" : "none";
	}));
	Arguments.B(true);
	ASSERT_TRUE(Call(nullptr, "bindKey", Arguments).Boolean());
	SDL_Keysym Keysym = Key(SDLK_RETURN);
	Binds()->Trigger(pClient, Keysym, 2, false);
	EXPECT_EQ(Values, std::vector<int32_t>({SDLK_RETURN, SDL_SCANCODE_A, KMOD_LSHIFT, 2, 0, 1}));
	EXPECT_EQ(ClientSeen, "client");
}

TEST_F(KeyBindsTest, BindThatUnbindsItsKeyIsNotCalledAgainInThatDispatch)
{
	int iCalls = 0;
	for (int i = 0; i < 2; i++)
	{
		CArgs Arguments;
		Arguments.I(SDLK_x).I(KEYSTATE_DOWN).Own(MakeFunction(nullptr, [&](const CArgumentArray& A) {
			iCalls++;
			EXPECT_TRUE(Call(nullptr, "unbindKey", CArgs().I(SDLK_x)).Boolean());
			EXPECT_EQ(Binds()->GetBindCount(), 0u);
			EXPECT_NE(A.GetAt(0)->ToObject(), nullptr);
		}));
		ASSERT_TRUE(Call(nullptr, "bindKey", Arguments).Boolean());
	}
	Binds()->Trigger(nullptr, Key(SDLK_x), 0, true);
	EXPECT_EQ(iCalls, 1);
	EXPECT_EQ(Binds()->GetIterating(), 0);
	Binds()->Trigger(nullptr, Key(SDLK_x), 0, true);
	EXPECT_EQ(iCalls, 1);
}

TEST_F(KeyBindsTest, StoppingAResourceRemovesOnlyItsBinds)
{
	m_pLua->m_Scripts["bind"] = [&](CTestEnvironment& Script) {
		const std::string Tag = Script.m_Name;
		return Script
			.Call("bindKey", CArgs().I(SDLK_k).I(KEYSTATE_DOWN).Own(Script.Function([this, Tag](const CArgumentArray&) {
				m_Order.push_back(Tag);
			})))
			.Boolean();
	};
	WriteResource("a", {"bind"});
	WriteResource("b", {"bind"});
	Manager()->SetServer(true);
	Scan();
	ASSERT_TRUE(Find("a")->Start());
	ASSERT_TRUE(Find("b")->Start());
	Binds()->Trigger(nullptr, Key(SDLK_k), 0, true);
	EXPECT_EQ(m_Order, std::vector<std::string>({"b", "a"}));
	ASSERT_TRUE(Find("a")->Stop(false));
	m_Order.clear();
	Binds()->Trigger(nullptr, Key(SDLK_k), 0, true);
	EXPECT_EQ(m_Order, std::vector<std::string>({"b"}));

	EXPECT_TRUE(Call(Find("b"), "unbindAllKeys").m_bOk);
	EXPECT_EQ(Binds()->GetBindCount(), 0u);
}

TEST_F(KeyBindsTest, UnbindKeyTouchesOnlyTheCallersBinds)
{
	WriteResource("a", {});
	WriteResource("b", {});
	Scan();
	Bind(Find("a"), SDLK_q, KEYSTATE_DOWN, "a");
	Bind(Find("b"), SDLK_q, KEYSTATE_DOWN, "b");
	EXPECT_TRUE(Call(Find("a"), "unbindKey", CArgs().I(SDLK_q)).Boolean());
	EXPECT_FALSE(Call(Find("a"), "unbindKey", CArgs().I(SDLK_q)).Boolean());
	Binds()->Trigger(nullptr, Key(SDLK_q), 0, true);
	EXPECT_EQ(m_Order, std::vector<std::string>({"b"}));
}
