// The storage every handler registry shares: the key of a name, the order handlers run in, which handlers a removal
// takes, the deferred freeing of handlers taken out during a dispatch, and the call of a handler's function.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Scripting/KeyedHandlers.h"
#include "Support/ScriptHostFixture.h"

namespace
{
// Never dereferenced: only the identity of the owning resource matters to the registry.
CResource* const RESOURCE_A = reinterpret_cast<CResource*>(uintptr_t(0x1000));
CResource* const RESOURCE_B = reinterpret_cast<CResource*>(uintptr_t(0x2000));

// A handler of the tests: writes to a shared log when it lets go and when it is freed.
class CItem
{
public:
	CItem(std::vector<std::string>& Log, const std::string& Name, CResource* pResource) :
		m_bRemoved(false),
		m_pResource(pResource),
		m_Log(Log),
		m_Name(Name)
	{
	}
	~CItem() { m_Log.push_back("free " + m_Name); }

	void LetGo() { m_Log.push_back("let go " + m_Name); }

	bool m_bRemoved;
	CResource* m_pResource;
	std::vector<std::string>& m_Log;
	std::string m_Name;
};

typedef CKeyedHandlers<int32_t, CItem> tItems;

class KeyedHandlersTest : public ::testing::Test
{
protected:
	CItem* Add(int32_t iKey, const std::string& Name, CResource* pResource = nullptr)
	{
		CItem* pItem = new CItem(m_Log, Name, pResource);
		m_Items.AddLast(iKey, pItem);
		return pItem;
	}

	// The names under the key, in the order a dispatch runs them.
	std::vector<std::string> Names(int32_t iKey) const
	{
		std::vector<std::string> Names;
		if (const tItems::tList* pList = m_Items.Find(iKey))
		{
			for (const CItem* pItem : *pList)
				Names.push_back(pItem->m_Name);
		}
		return Names;
	}

	// The names a dispatch of the key runs, and whether it said so.
	std::vector<std::string> DispatchNames(int32_t iKey, bool* pbRan = nullptr)
	{
		std::vector<std::string> Ran;
		const bool bRan = m_Items.Dispatch(iKey, [&Ran](CItem* pItem) {
			Ran.push_back(pItem->m_Name);
			return true;
		});
		if (pbRan)
			*pbRan = bRan;
		return Ran;
	}

	std::vector<std::string> m_Log;
	tItems m_Items;
};
}

TEST(NameKey, IsTheCrc32OfTheNameLowerCasedInTheCLocale)
{
	struct tCase
	{
		const char* m_szName;
		uint32_t m_uiKey;
	};
	const tCase rgCases[] = {
		{nullptr, 0x00000000u},
		{"", 0x00000000u},
		{"ping", 0x25D53DFDu},
		{"Ping", 0x25D53DFDu},
		{"PING", 0x25D53DFDu},
		{"OnResourceStart", 0x442B9C9Cu},
		{"start", 0x9F79558Fu},
		// Only A to Z are lower-cased: the bytes of other letters are keyed as they are.
		{"\xC3\x80"
		 "B",
			0xF4976934u},
	};
	for (const tCase& Case : rgCases)
	{
		SCOPED_TRACE(Case.m_szName ? Case.m_szName : "(null)");
		EXPECT_EQ(GetNameKey(Case.m_szName), Case.m_uiKey);
	}
}

TEST_F(KeyedHandlersTest, HandlersRunInTheOrderTheirAddsAsk)
{
	m_Items.AddLast(1, new CItem(m_Log, "second", nullptr));
	m_Items.AddLast(1, new CItem(m_Log, "third", nullptr));
	m_Items.AddFirst(1, new CItem(m_Log, "first", nullptr));
	m_Items.AddFirst(2, new CItem(m_Log, "other", nullptr));

	EXPECT_EQ(Names(1), (std::vector<std::string>{"first", "second", "third"}));
	EXPECT_EQ(DispatchNames(1), (std::vector<std::string>{"first", "second", "third"}));
	EXPECT_EQ(m_Items.FindFirst(1)->m_Name, "first");
	EXPECT_EQ(m_Items.GetCount(), 4u);
}

TEST_F(KeyedHandlersTest, RemovalsTakeOnlyTheHandlersTheyName)
{
	struct tCase
	{
		const char* m_szRemoval;
		std::function<size_t(tItems&)> m_Remove;
		std::vector<std::string> m_Freed;
		std::vector<std::string> m_LeftUnder1;
		std::vector<std::string> m_LeftUnder2;
	};
	const std::vector<tCase> Cases = {
		{"under a key, of one resource", [](tItems& Items) { return Items.RemoveUnder(1, RESOURCE_A); }, {"a1"},
			{"b1", "n1"}, {"a2", "n2"}},
		{"under a key, of any resource", [](tItems& Items) { return Items.RemoveUnder(1, nullptr); },
			{"a1", "b1", "n1"}, {}, {"a2", "n2"}},
		{"under a key without handlers", [](tItems& Items) { return Items.RemoveUnder(3, nullptr); }, {},
			{"a1", "b1", "n1"}, {"a2", "n2"}},
		{"of one resource, under every key", [](tItems& Items) { return Items.RemoveOwnedBy(RESOURCE_A); },
			{"a1", "a2"}, {"b1", "n1"}, {"n2"}},
		{"of no resource, under every key", [](tItems& Items) { return Items.RemoveOwnedBy(nullptr); },
			{"n1", "n2"}, {"a1", "b1"}, {"a2"}},
		{"by a predicate under one key",
			[](tItems& Items) { return Items.RemoveIf(2, [](CItem* pItem) { return pItem->m_Name[0] == 'n'; }); },
			{"n2"}, {"a1", "b1", "n1"}, {"a2"}},
		{"all", [](tItems& Items) { return Items.RemoveAll(); }, {"a1", "b1", "n1", "a2", "n2"}, {}, {}},
	};
	for (const tCase& Case : Cases)
	{
		SCOPED_TRACE(Case.m_szRemoval);
		m_Items.RemoveAll();
		Add(1, "a1", RESOURCE_A);
		Add(1, "b1", RESOURCE_B);
		Add(1, "n1");
		Add(2, "a2", RESOURCE_A);
		Add(2, "n2");
		m_Log.clear();

		EXPECT_EQ(Case.m_Remove(m_Items), Case.m_Freed.size());
		// Outside a dispatch each goes at once: it lets go, then it is freed.
		std::vector<std::string> Expected;
		for (const std::string& Name : Case.m_Freed)
		{
			Expected.push_back("let go " + Name);
			Expected.push_back("free " + Name);
		}
		std::vector<std::string> Log = m_Log;
		std::sort(Log.begin(), Log.end());
		std::sort(Expected.begin(), Expected.end());
		EXPECT_EQ(Log, Expected);
		EXPECT_EQ(Names(1), Case.m_LeftUnder1);
		EXPECT_EQ(Names(2), Case.m_LeftUnder2);
		// A key whose last handler went is gone with it.
		EXPECT_EQ(m_Items.Find(1) == nullptr, Case.m_LeftUnder1.empty());
		EXPECT_EQ(m_Items.GetLists().count(2) == 0, Case.m_LeftUnder2.empty());
	}
}

TEST_F(KeyedHandlersTest, HandlerTakenOutDuringADispatchIsSkippedAndFreedWhenTheOutermostEnds)
{
	CItem* pFirst = Add(1, "first");
	CItem* pSecond = Add(1, "second");
	Add(1, "third");
	Add(2, "nested");

	std::vector<std::string> Ran;
	std::vector<std::string> LogAfterNested;
	const bool bRan = m_Items.Dispatch(1, [&](CItem* pItem) {
		Ran.push_back(pItem->m_Name);
		if (pItem != pFirst)
			return true;
		m_Items.RemoveIf(1, [pSecond](CItem* pOther) { return pOther == pSecond; });
		// Added during the dispatch: waits for the next one.
		Add(1, "late");
		// A nested dispatch that ends does not free what the outer one may still hold.
		m_Items.Dispatch(2, [&](CItem* pNested) {
			Ran.push_back(pNested->m_Name);
			m_Items.RemoveIf(1, [pFirst](CItem* pOther) { return pOther == pFirst; });
			return true;
		});
		EXPECT_EQ(m_Items.GetDepth(), 1);
		LogAfterNested = m_Log;
		return true;
	});

	EXPECT_TRUE(bRan);
	EXPECT_EQ(Ran, (std::vector<std::string>{"first", "nested", "third"}));
	// Each let go at once, and was freed only when the outer dispatch ended.
	EXPECT_EQ(LogAfterNested, (std::vector<std::string>{"let go second", "let go first"}));
	EXPECT_EQ(m_Log, (std::vector<std::string>{"let go second", "let go first", "free second", "free first"}));
	EXPECT_EQ(m_Items.GetDepth(), 0);
	EXPECT_EQ(Names(1), (std::vector<std::string>{"third", "late"}));
}

TEST_F(KeyedHandlersTest, DispatchTellsWhetherAHandlerRan)
{
	Add(1, "declined");
	Add(2, "taken");
	Add(2, "declined");

	struct tCase
	{
		int32_t m_iKey;
		bool m_bRan;
		std::vector<std::string> m_Offered;
	};
	const tCase rgCases[] = {
		{1, false, {"declined"}},
		{2, true, {"taken", "declined"}},
		{3, false, {}},
	};
	for (const tCase& Case : rgCases)
	{
		SCOPED_TRACE(Case.m_iKey);
		std::vector<std::string> Offered;
		const bool bRan = m_Items.Dispatch(Case.m_iKey, [&Offered](CItem* pItem) {
			Offered.push_back(pItem->m_Name);
			return pItem->m_Name == "taken";
		});
		EXPECT_EQ(bRan, Case.m_bRan);
		EXPECT_EQ(Offered, Case.m_Offered);
	}
}

TEST_F(KeyedHandlersTest, RegistryFreesItsHandlersWhenItGoes)
{
	{
		tItems Items;
		Items.AddLast(1, new CItem(m_Log, "one", RESOURCE_A));
		Items.AddFirst(7, new CItem(m_Log, "seven", nullptr));
	}
	std::sort(m_Log.begin(), m_Log.end());
	EXPECT_EQ(m_Log, (std::vector<std::string>{"free one", "free seven", "let go one", "let go seven"}));
}

namespace
{
// Records which list it was called with and what that list held.
class CListRecordingFunction : public CRecordingFunction
{
public:
	CListRecordingFunction() : CRecordingFunction(nullptr) {}

	bool Call(const CArgumentArray& Arguments, CReturnValue* pResult) override
	{
		m_pCalledWith = &Arguments;
		return CRecordingFunction::Call(Arguments, pResult);
	}

	const CArgumentArray* m_pCalledWith = nullptr;
};
}

TEST(CallHandlerFunction, CallsWithTheListOrWithCopiesAfterTheFirstValue)
{
	CArgumentArray Arguments;
	Arguments.AddNumber(1);
	Arguments.AddString("a");
	Strong<CBaseObject> pObject = Strong<CBaseObject>::New(new CBaseObject());

	struct tCase
	{
		const char* m_szCase;
		std::function<void(const Strong<CFunction>&)> m_Call;
		// Whether the function got the caller's own list rather than a copy.
		bool m_bSameList;
		// "object", "null", or the text of a number or string argument.
		std::vector<std::string> m_Received;
	};
	const std::vector<tCase> Cases = {
		{"as they are", [&](const Strong<CFunction>& pFunction) { CallHandlerFunction(pFunction, Arguments); }, true,
			{"1", "a"}},
		{"copied, without a first value",
			[&](const Strong<CFunction>& pFunction) { CallHandlerFunction(pFunction, false, pObject, Arguments); },
			false, {"1", "a"}},
		{"copied, after an object",
			[&](const Strong<CFunction>& pFunction) { CallHandlerFunction(pFunction, true, pObject, Arguments); },
			false, {"object", "1", "a"}},
		{"copied, after null",
			[&](const Strong<CFunction>& pFunction) { CallHandlerFunction(pFunction, true, nullptr, Arguments); },
			false, {"null", "1", "a"}},
	};
	for (const tCase& Case : Cases)
	{
		SCOPED_TRACE(Case.m_szCase);
		CListRecordingFunction* pRecording = new CListRecordingFunction();
		Strong<CFunction> pFunction = Strong<CFunction>::New(pRecording);
		Case.m_Call(pFunction);
		ASSERT_EQ(pRecording->m_Calls, 1);
		EXPECT_EQ(pRecording->m_pCalledWith == &Arguments, Case.m_bSameList);
		std::vector<std::string> Received;
		for (size_t i = 0; i < pRecording->m_Arguments.GetArrayCount(); i++)
		{
			const CArgument* pValue = pRecording->m_Arguments.GetAt(i);
			if (pValue->IsNull())
				Received.push_back("null");
			else if (pValue->IsObject())
				Received.push_back(pValue->ToObject() == pObject ? "object" : "another object");
			else if (pValue->IsNumber())
				Received.push_back(std::to_string(IntegerOf(pValue)));
			else
				Received.push_back(TextOf(pValue));
		}
		EXPECT_EQ(Received, Case.m_Received);
	}
}

// A handler that has let go of its function holds null: neither form may touch it.
TEST(CallHandlerFunction, NothingHappensOnceTheFunctionIsGone)
{
	const Strong<CFunction> pNone;
	CArgumentArray Arguments;
	Arguments.AddNumber(1);
	CallHandlerFunction(pNone, Arguments);
	CallHandlerFunction(pNone, true, nullptr, Arguments);
	EXPECT_EQ(Arguments.GetArrayCount(), 1u);
}
