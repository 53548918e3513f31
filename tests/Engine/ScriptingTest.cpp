// The script-language registry's view of environments: the handles that name them and whether code running for
// one may call natives.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "Engine/KError.h"
#include "Engine/KestrinNative.h"

namespace
{
class CBareEnvironment : public CScriptEnvironment
{
public:
	void Destroy() override { End(); }
	bool DoFile(Stream*, const char*) override { return true; }
};
}

TEST(ScriptEnvironmentHandle, NamesItsEnvironmentWhileItExistsAndNoOtherAfterwards)
{
	auto pFirst = std::make_unique<CBareEnvironment>();
	const uintptr_t First = pFirst->GetHandle();
	EXPECT_NE(First, 0u);
	EXPECT_EQ(CScriptEnvironment::FromHandle(First), pFirst.get());
	// An ended environment still exists: its handle still names it.
	pFirst->Destroy();
	EXPECT_EQ(CScriptEnvironment::FromHandle(First), pFirst.get());

	pFirst.reset();
	EXPECT_EQ(CScriptEnvironment::FromHandle(First), nullptr);
	// The next environment may take the same slot, but never the old handle.
	auto pSecond = std::make_unique<CBareEnvironment>();
	EXPECT_NE(pSecond->GetHandle(), First);
	EXPECT_EQ(CScriptEnvironment::FromHandle(First), nullptr);
	EXPECT_EQ(CScriptEnvironment::FromHandle(pSecond->GetHandle()), pSecond.get());

	for (uintptr_t Stranger : {uintptr_t(0), ~uintptr_t(0), pSecond->GetHandle() + (uintptr_t(1) << 32)})
		EXPECT_EQ(CScriptEnvironment::FromHandle(Stranger), nullptr) << Stranger;
}

TEST(ScriptingCheckCaller, RefusesEndedEnvironmentsAndEverythingWithoutOneOnceClosed)
{
	struct tCase
	{
		const char* m_szName;
		bool m_bClosed;
		bool m_bEnvironment;
		bool m_bEnded;
		const char* m_szRefusal;
	};
	const tCase rgCases[] = {
		{"running environment", false, true, false, nullptr},
		{"no environment", false, false, false, nullptr},
		{"ended environment", false, true, true, "The calling resource has stopped"},
		{"no environment once closed", true, false, false, "Scripting is shutting down"},
		{"ended environment once closed", true, true, true, "Scripting is shutting down"},
	};
	for (const tCase& Case : rgCases)
	{
		CScripting Scripting;
		if (Case.m_bClosed)
			Scripting.Close();
		CBareEnvironment Environment;
		if (Case.m_bEnded)
			Environment.Destroy();
		SetError("%s", "");
		const bool bAllowed = Scripting.CheckCaller(Case.m_bEnvironment ? &Environment : nullptr);
		EXPECT_EQ(bAllowed, Case.m_szRefusal == nullptr) << Case.m_szName;
		EXPECT_EQ(std::string(g_szError), Case.m_szRefusal ? Case.m_szRefusal : "") << Case.m_szName;
	}

	// An environment that is gone has ended.
	CScripting Scripting;
	EXPECT_FALSE(Scripting.RefuseCaller());
	EXPECT_STREQ(g_szError, "The calling resource has stopped");
}
