// The script-language registry's view of environments: the handles that name them, whether code running for
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

namespace
{
// A language that answers every question about calling code with one handle.
class CAnsweringVM : public CScriptingVM
{
public:
	explicit CAnsweringVM(uintptr_t Answer) : m_Answer(Answer) {}
	bool DefineClasses() override { return true; }
	void CollectGarbage() override {}
	CScriptEnvironment* CreateEnvironment(const char*) override { return nullptr; }
	uintptr_t FindCallingCode(void*) override { return m_Answer; }

	uintptr_t m_Answer;
};

class CBareFunction : public CFunction
{
public:
	explicit CBareFunction(uintptr_t Environment) : CFunction(nullptr, Environment) {}
	bool Call(const CArgumentArray&, CReturnValue*) override { return true; }
};
}

TEST(ScriptCode, BelongsToItsEnvironmentUntilThatStops)
{
	CResource* const pResource = reinterpret_cast<CResource*>(uintptr_t(0x1000));
	CResource* const pOther = reinterpret_cast<CResource*>(uintptr_t(0x2000));
	CBareEnvironment Running;
	Running.SetResource(pResource);
	CBareEnvironment Ended;
	Ended.SetResource(pResource);
	Ended.Destroy();
	uintptr_t Gone = 0;
	{
		CBareEnvironment Environment;
		Gone = Environment.GetHandle();
	}

	struct tCase
	{
		const char* m_szName;
		uintptr_t m_Environment;
		bool m_bStopped;
		CResource* m_pCodeResource;
		// Whether a stop of pResource takes a registration of pOther that holds the function.
		bool m_bGoesWithResource;
	};
	const tCase rgCases[] = {
		{"engine function", 0, false, nullptr, false},
		{"code of a running environment", Running.GetHandle(), false, pResource, true},
		{"code of an ended environment", Ended.GetHandle(), true, nullptr, true},
		{"code of a gone environment", Gone, true, nullptr, true},
		{"code of no environment ever", CScriptEnvironment::GONE_HANDLE, true, nullptr, true},
	};
	for (const tCase& Case : rgCases)
	{
		Strong<CBareFunction> pFunction = Strong<CBareFunction>::New(new CBareFunction(Case.m_Environment));
		EXPECT_EQ(pFunction->HasStopped(), Case.m_bStopped) << Case.m_szName;
		EXPECT_EQ(pFunction->GetCodeResource(), Case.m_pCodeResource) << Case.m_szName;
		EXPECT_EQ(CFunction::GoesWithResource(pOther, pFunction, pResource), Case.m_bGoesWithResource) << Case.m_szName;
		EXPECT_TRUE(CFunction::GoesWithResource(pResource, pFunction, pResource)) << Case.m_szName;

		// Registering it is refused once it has stopped.
		CArgumentArray Arguments;
		Arguments.AddAndOwn(new CArgumentFunction(pFunction));
		CNativeState State(nullptr, pOther, &Arguments);
		EXPECT_EQ(State.CheckFunction(0) != nullptr, !Case.m_bStopped) << Case.m_szName;
		EXPECT_STREQ(g_szError, Case.m_bStopped ? "Cannot use a function of a stopped resource" : "") << Case.m_szName;
	}
}

TEST(ScriptCode, CallingCodeOfAStoppedResourceIsRefused)
{
	CBareEnvironment Running;
	CBareEnvironment Ended;
	Ended.Destroy();
	struct tCase
	{
		const char* m_szName;
		bool m_bLanguage;
		uintptr_t m_Answer;
		bool m_bAllowed;
	};
	const tCase rgCases[] = {
		{"no script made the call", false, 0, true},
		{"the language cannot tell", true, 0, true},
		{"code of a running environment", true, Running.GetHandle(), true},
		{"code of an ended environment", true, Ended.GetHandle(), false},
		{"code of a gone environment", true, CScriptEnvironment::GONE_HANDLE, false},
	};
	for (const tCase& Case : rgCases)
	{
		CScripting Scripting;
		CAnsweringVM Language(Case.m_Answer);
		CNativeState State(&Scripting, nullptr, nullptr, Case.m_bLanguage ? &Language : nullptr);
		EXPECT_EQ(State.CheckCallingCode(), Case.m_bAllowed) << Case.m_szName;
		EXPECT_EQ(State.m_bHasError, !Case.m_bAllowed) << Case.m_szName;
		EXPECT_STREQ(g_szError, Case.m_bAllowed ? "" : "The calling resource has stopped") << Case.m_szName;
	}
}
