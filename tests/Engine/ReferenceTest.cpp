#include <gtest/gtest.h>

#include "Engine/BaseObject.h"
#include "Engine/Context.h"

#include <memory>
#include <string>
#include <vector>

namespace
{
class CCountedProbe : public CBaseObject
{
public:
	explicit CCountedProbe(bool* pDestroyed) : m_pDestroyed(pDestroyed) {}
	~CCountedProbe() override { *m_pDestroyed = true; }

private:
	bool* m_pDestroyed;
};

// Records what a Weak to its owner reads while the attachment is being deleted.
class CWeakReadingData : public IUserData
{
public:
	CWeakReadingData(Weak<CBaseObject>* pWeak, bool* pSawNull) : m_pWeak(pWeak), m_pSawNull(pSawNull) {}
	~CWeakReadingData() override { *m_pSawNull = m_pWeak->IsNull(); }

private:
	Weak<CBaseObject>* m_pWeak;
	bool* m_pSawNull;
};

class CClaimingData : public IUserData
{
public:
	bool Destruct() override { return true; }
};
}

TEST(RefCounted, CountsAndFrees)
{
	bool bDestroyed = false;
	CCountedProbe* pObject = new CCountedProbe(&bDestroyed);
	EXPECT_EQ(pObject->GetRefCount(), 1);
	EXPECT_EQ(pObject->AddRef(), 2);
	EXPECT_EQ(pObject->Release(), 1);
	EXPECT_FALSE(bDestroyed);
	EXPECT_EQ(pObject->Release(), 0);
	EXPECT_TRUE(bDestroyed);
}

TEST(Strong, SelfAssignmentKeepsCount)
{
	bool bDestroyed = false;
	Strong<CCountedProbe> a = Strong<CCountedProbe>::New(new CCountedProbe(&bDestroyed));
	CCountedProbe* pRaw = a;
	a = a;
	a = pRaw;
	EXPECT_EQ(a->GetRefCount(), 1);
	{
		Strong<CCountedProbe> b = a;
		EXPECT_EQ(a->GetRefCount(), 2);
		Strong<CBaseObject> c = a.StaticCast<CBaseObject>();
		EXPECT_EQ(a->GetRefCount(), 3);
	}
	EXPECT_EQ(a->GetRefCount(), 1);
	a.SetNull();
	EXPECT_TRUE(bDestroyed);
	EXPECT_TRUE(a.IsNull());
}

TEST(Strong, DereferencingEmptyPointerReportsAssertion)
{
	const bool bSaved = g_bAsserts;
	g_bAsserts = true;
	Context context;
	Strong<CBaseObject> empty;
	testing::internal::CaptureStdout();
	CBaseObject* pRead = empty.operator->();
	const std::string Console = testing::internal::GetCapturedStdout();
	g_bAsserts = bSaved;
	EXPECT_EQ(pRead, nullptr);
	EXPECT_NE(Console.find("Expression: m_pRef"), std::string::npos) << Console;
}

TEST(Weak, NulledWhenTargetDies)
{
	bool bDestroyed = false;
	CCountedProbe* pObject = new CCountedProbe(&bDestroyed);
	Weak<CCountedProbe> w1 = pObject;
	Weak<CCountedProbe> w2 = w1;
	Weak<CCountedProbe> w3;
	w3 = w1;
	Weak<CCountedProbe> w4 = std::move(w3);
	EXPECT_TRUE(w3.IsNull());
	EXPECT_EQ(pObject->GetWeakReferenceCount(), 3u);
	pObject->Release();
	EXPECT_TRUE(bDestroyed);
	EXPECT_TRUE(w1.IsNull());
	EXPECT_TRUE(w2.IsNull());
	EXPECT_TRUE(w4.IsNull());
}

TEST(Weak, SameCellRegisteredTwiceIsOneEntry)
{
	bool bDestroyed = false;
	CCountedProbe* pObject = new CCountedProbe(&bDestroyed);
	CBaseObject* pCell = pObject;
	pObject->CreateReference(&pCell);
	pObject->CreateReference(&pCell);
	EXPECT_EQ(pObject->GetWeakReferenceCount(), 1u);
	pObject->Release();
	EXPECT_EQ(pCell, nullptr);
}

// The first weak pointers live in the object itself, more elsewhere: dropping and adding them in any order still
// leaves each one nulled when the object dies.
TEST(Weak, EveryWeakPointerIsNulledWhateverOrderTheyCameAndWent)
{
	bool bDestroyed = false;
	CCountedProbe* pObject = new CCountedProbe(&bDestroyed);
	std::vector<std::unique_ptr<Weak<CCountedProbe>>> Weaks;
	for (int i = 0; i < 6; i++)
		Weaks.push_back(std::make_unique<Weak<CCountedProbe>>(pObject));
	EXPECT_EQ(pObject->GetWeakReferenceCount(), 6u);
	Weaks[0].reset();
	Weaks[4].reset();
	Weaks[1].reset();
	EXPECT_EQ(pObject->GetWeakReferenceCount(), 3u);
	for (int i = 0; i < 3; i++)
		Weaks.push_back(std::make_unique<Weak<CCountedProbe>>(pObject));
	EXPECT_EQ(pObject->GetWeakReferenceCount(), 6u);
	pObject->Release();
	EXPECT_TRUE(bDestroyed);
	for (const auto& pWeak : Weaks)
		EXPECT_TRUE(!pWeak || pWeak->IsNull());
}

TEST(Weak, DestroyedWeakUnregistersItself)
{
	bool bDestroyed = false;
	CCountedProbe* pObject = new CCountedProbe(&bDestroyed);
	{
		Weak<CCountedProbe> w = pObject;
		EXPECT_EQ(pObject->GetWeakReferenceCount(), 1u);
	}
	EXPECT_EQ(pObject->GetWeakReferenceCount(), 0u);
	pObject->Release();
}

TEST(Weak, ResolveReferencesNullsWhileAlive)
{
	bool bDestroyed = false;
	Strong<CCountedProbe> strong = Strong<CCountedProbe>::New(new CCountedProbe(&bDestroyed));
	Weak<CCountedProbe> w = strong.GetPointer();
	strong->ResolveReferences();
	EXPECT_TRUE(w.IsNull());
	EXPECT_FALSE(bDestroyed);
}

TEST(BaseObject, WeakIsNullBeforeAttachmentsAreDeleted)
{
	bool bDestroyed = false;
	bool bSawNull = false;
	CCountedProbe* pObject = new CCountedProbe(&bDestroyed);
	Weak<CBaseObject> w = pObject;
	pObject->AddUserData(new CWeakReadingData(&w, &bSawNull));
	pObject->Release();
	EXPECT_TRUE(bSawNull);
}

TEST(BaseObject, SecondAttachmentIsRefused)
{
	bool bDestroyed = false;
	Strong<CCountedProbe> object = Strong<CCountedProbe>::New(new CCountedProbe(&bDestroyed));
	IUserData* pFirst = new IUserData();
	IUserData* pSecond = new IUserData();
	object->AddScriptReference(pFirst);
	object->AddScriptReference(pSecond);
	EXPECT_EQ(object->GetScriptReference(), pFirst);
	delete pSecond;
}

TEST(BaseObject, JavaScriptWrapperKeepsObjectAtCountZero)
{
	bool bDestroyed = false;
	CCountedProbe* pObject = new CCountedProbe(&bDestroyed);
	pObject->AddJSScriptReference(new CClaimingData());
	EXPECT_EQ(pObject->Release(), 0);
	EXPECT_FALSE(bDestroyed);
	// The wrapper's finaliser later gives it up.
	pObject->Obliterate();
	EXPECT_TRUE(bDestroyed);
}

TEST(BaseObject, ReleaseDuringDestructionDoesNothing)
{
	class CSelfReleasing : public CBaseObject
	{
	public:
		~CSelfReleasing() override { EXPECT_EQ(Release(), 0); }
	};
	// Count 1, destroyed by force: the Release inside the destructor reaches 0 and must not destroy again.
	CSelfReleasing* pObject = new CSelfReleasing();
	pObject->Obliterate();
}

TEST(BaseObject, RetainsTheBlockItWasMadeIn)
{
	class CLarge : public CBaseObject
	{
		char m_rgcPayload[1000] = {};
	};
	// Heap objects know their whole block; one on the stack or inside another frees nothing when it dies.
	Strong<CLarge> pLarge = Strong<CLarge>::New(new CLarge());
	EXPECT_EQ(pLarge->GetRetainedBytes(), sizeof(CLarge));
	CLarge OnStack;
	EXPECT_EQ(OnStack.GetRetainedBytes(), 0u);
	struct tHolder
	{
		CLarge m_Inner;
	};
	auto pHolder = std::make_unique<tHolder>();
	EXPECT_EQ(pHolder->m_Inner.GetRetainedBytes(), 0u);
	// A block freed before an object took it never lends its size to a later one built at the same address.
	void* pBlock = CBaseObject::operator new(sizeof(CLarge));
	CBaseObject::operator delete(pBlock);
	auto pReused = std::make_unique<tHolder>();
	EXPECT_EQ(pReused->m_Inner.GetRetainedBytes(), 0u);
}

TEST(BaseObject, LiveCountFollowsConstructionAndDestruction)
{
	const size_t Before = CBaseObject::GetLiveCount();
	bool bDestroyed = false;
	CCountedProbe* pObject = new CCountedProbe(&bDestroyed);
	EXPECT_EQ(CBaseObject::GetLiveCount(), Before + 1);
	pObject->Release();
	EXPECT_EQ(CBaseObject::GetLiveCount(), Before);
}

TEST(BaseObject, LuaBindingHearsWhenOneReferenceIsLeft)
{
	class CListening : public IUserData
	{
	public:
		explicit CListening(int* piCalls) : m_piCalls(piCalls) {}
		void OnSoleReference() override { (*m_piCalls)++; }

	private:
		int* m_piCalls;
	};
	int iLua = 0;
	int iOthers = 0;
	bool bDestroyed = false;
	CCountedProbe* pObject = new CCountedProbe(&bDestroyed);
	pObject->AddScriptReference(new CListening(&iLua));
	pObject->AddSqScriptReference(new CListening(&iOthers));
	pObject->AddRef();
	pObject->AddRef();
	pObject->Release();
	EXPECT_EQ(iLua, 0) << "two references are left";
	pObject->Release();
	EXPECT_EQ(iLua, 1);
	// Only the Lua slot is told: its handles are the ones that count a reference.
	EXPECT_EQ(iOthers, 0);
	pObject->Release();
	EXPECT_TRUE(bDestroyed);
	EXPECT_EQ(iLua, 1) << "the last release destroys, it tells nothing";
}

TEST(AutoDelete, MoveTransfersOwnership)
{
	AutoDelete<int> a(new int(5));
	AutoDelete<int> b(new int(6));
	b = std::move(a);
	EXPECT_TRUE(a.IsNull());
	EXPECT_EQ(*b.GetPointer(), 5);
	b.Delete();
	EXPECT_TRUE(b.IsNull());
}
