// The views of objects and streams: objects a module makes and gives a class, the destruction callback, and
// objects that go while a module still holds their view or that outlive their class.

#include "ModuleFixture.h"

#include <vector>

#include "Engine/ScriptClasses.h"
#include "Engine/ScriptStream.h"

namespace
{
struct tDestruction
{
	int m_iCalls = 0;
	void* m_pPrivate = nullptr;
	Result m_IsA = RESULT_OK;
};

void RecordDestruction(IBaseObject* pObject, void* pUserData)
{
	tDestruction* pRecord = static_cast<tDestruction*>(pUserData);
	pRecord->m_iCalls++;
	pRecord->m_pPrivate = pObject->GetPrivate();
	IReflectedClass* pClass = nullptr;
	pObject->GetReflectedClass(&pClass);
	pRecord->m_IsA = pClass ? RESULT_OK : RESULT_NO;
	if (pClass)
		pClass->Release();
}

void CountDestruction(IBaseObject*, void* pUserData)
{
	(*static_cast<int*>(pUserData))++;
}

class CObjectViewsTest : public CModuleFixture
{
protected:
	void SetUp() override
	{
		ASSERT_EQ(m_pModule->SetInternalName("objects"), RESULT_OK);
		ASSERT_EQ(m_pModule->GetNamespace(m_Namespace.Out()), RESULT_OK);
		ASSERT_EQ(m_Namespace->NewClass(m_Base.Out(), "Base", nullptr), RESULT_OK);
		ASSERT_EQ(m_Namespace->NewClass(m_Derived.Out(), "Derived", m_Base.Get()), RESULT_OK);
		ASSERT_EQ(m_Namespace->NewClass(m_Other.Out(), "Other", nullptr), RESULT_OK);
	}

	IBaseObject* NewObject()
	{
		void* pOut = nullptr;
		EXPECT_EQ(m_pModule->CreateInstance(ID_BaseObject, &pOut), RESULT_OK);
		return static_cast<IBaseObject*>(pOut);
	}

	CHeld<IReflectedNamespace> m_Namespace;
	CHeld<IReflectedClass> m_Base;
	CHeld<IReflectedClass> m_Derived;
	CHeld<IReflectedClass> m_Other;
};
}

TEST_F(CObjectViewsTest, AMadeObjectIsOfNoClassUntilAssignedOne)
{
	CHeld<IBaseObject> Object(NewObject());
	ASSERT_NE(Object.Get(), nullptr);
	EXPECT_EQ(Unwrap(Object.Get())->GetRefCount(), 1);
	EXPECT_EQ(Object->IsA(m_Base.Get()), RESULT_NO);
	CHeld<IReflectedClass> Class;
	EXPECT_EQ(Object->GetReflectedClass(Class.Out()), RESULT_OK);
	EXPECT_EQ(Class.Get(), nullptr);

	ASSERT_EQ(Object->AssignClass(m_Derived.Get()), RESULT_OK);
	EXPECT_EQ(Object->IsA(m_Derived.Get()), RESULT_OK);
	EXPECT_EQ(Object->IsA(m_Base.Get()), RESULT_OK);
	EXPECT_EQ(Object->IsA(m_Other.Get()), RESULT_NO);
	EXPECT_EQ(Object->IsA(nullptr), RESULT_NULL_ARGUMENT);
	EXPECT_EQ(Object->AssignClass(nullptr), RESULT_NULL_ARGUMENT);
	EXPECT_EQ(Object->GetReflectedClass(nullptr), RESULT_NULL_ARGUMENT);
	ASSERT_EQ(Object->GetReflectedClass(Class.Out()), RESULT_OK);
	EXPECT_EQ(Class.Get(), m_Derived.Get());

	int iPrivate = 0;
	EXPECT_EQ(Object->GetPrivate(), nullptr);
	EXPECT_EQ(Object->SetPrivate(&iPrivate), RESULT_OK);
	EXPECT_EQ(Object->GetPrivate(), &iPrivate);
	EXPECT_EQ(Unwrap(Object.Get())->GetPrivate(), &iPrivate);
}

TEST_F(CObjectViewsTest, TheDestructorRunsOnceWhenTheLastReferenceGoes)
{
	tDestruction First;
	tDestruction Second;
	IBaseObject* pObject = NewObject();
	int iPrivate = 0;
	pObject->SetPrivate(&iPrivate);
	pObject->AssignClass(m_Base.Get());
	EXPECT_EQ(pObject->AddDestructor(nullptr, &First), RESULT_NULL_ARGUMENT);
	ASSERT_EQ(pObject->AddDestructor(RecordDestruction, &First), RESULT_OK);
	EXPECT_EQ(pObject->AddDestructor(RecordDestruction, &Second), RESULT_NOT_AVAILABLE);

	// A script value keeps the object beyond the module's view.
	CBaseObject* pEngineObject = Unwrap(pObject);
	CArgument* pValue = CArgument::Create(pEngineObject);
	EXPECT_EQ(pObject->Release(), 0);
	EXPECT_EQ(First.m_iCalls, 0);
	pValue->Release();

	EXPECT_EQ(First.m_iCalls, 1);
	EXPECT_EQ(First.m_pPrivate, &iPrivate);
	EXPECT_EQ(First.m_IsA, RESULT_OK);
	EXPECT_EQ(Second.m_iCalls, 0);
}

TEST_F(CObjectViewsTest, AnObjectDestroyedWhileItsViewIsHeldLeavesTheViewDetached)
{
	int iCalls = 0;
	IBaseObject* pObject = NewObject();
	ASSERT_EQ(pObject->AddDestructor(CountDestruction, &iCalls), RESULT_OK);
	pObject->AddRef();
	Unwrap(pObject)->Obliterate();
	EXPECT_EQ(iCalls, 1);
	EXPECT_EQ(Unwrap(pObject), nullptr);
	EXPECT_EQ(pObject->SetPrivate(nullptr), RESULT_NOT_FOUND);
	EXPECT_EQ(pObject->GetPrivate(), nullptr);
	EXPECT_EQ(pObject->IsA(m_Base.Get()), RESULT_NO);
	EXPECT_EQ(pObject->AddDestructor(CountDestruction, &iCalls), RESULT_NOT_FOUND);
	EXPECT_EQ(pObject->Release(), 1);
	EXPECT_EQ(pObject->Release(), 0);
	EXPECT_EQ(iCalls, 1);
}

TEST_F(CObjectViewsTest, AnObjectThatOutlivesItsClassIsOfNoClass)
{
	tDestruction Record;
	IBaseObject* pObject = NewObject();
	ASSERT_EQ(pObject->AssignClass(m_Derived.Get()), RESULT_OK);
	ASSERT_EQ(pObject->AddDestructor(RecordDestruction, &Record), RESULT_OK);
	ASSERT_EQ(m_Namespace->Clear(), RESULT_OK);

	CHeld<IReflectedClass> Class;
	EXPECT_EQ(pObject->GetReflectedClass(Class.Out()), RESULT_OK);
	EXPECT_EQ(Class.Get(), nullptr);
	EXPECT_EQ(pObject->IsA(m_Base.Get()), RESULT_NO);
	EXPECT_EQ(pObject->AssignClass(m_Base.Get()), RESULT_NOT_FOUND);
	pObject->Release();
	EXPECT_EQ(Record.m_iCalls, 1);
	EXPECT_EQ(Record.m_IsA, RESULT_NO);
}

TEST_F(CObjectViewsTest, ScriptStreamsAndTheirStreamsLeadToEachOther)
{
	RegisterScriptClasses(&m_Scripting);
	Strong<CUnlimitedStream> pStream = Strong<CUnlimitedStream>::New(new CUnlimitedStream());
	Strong<CScriptStream> pScriptStream =
		Strong<CScriptStream>::New(new CScriptStream(m_Scripting.GetGlobal()->m_pStreamClass, pStream));

	CHeld<IBaseObject> Object(GetView(static_cast<CBaseObject*>(pScriptStream)));
	CHeld<IStream> StreamView;
	ASSERT_EQ(Object->GetInterface(ID_Stream, StreamView.OutVoid()), RESULT_OK);
	EXPECT_EQ(Unwrap(StreamView.Get()), pStream.GetPointer());
	EXPECT_EQ(pStream->m_pStreamInterface, StreamView.Get());

	CHeld<IBaseObject> StreamObject;
	ASSERT_EQ(StreamView->GetInterface(ID_BaseObject, StreamObject.OutVoid()), RESULT_OK);
	EXPECT_EQ(Unwrap(StreamObject.Get()), static_cast<CBaseObject*>(pStream.GetPointer()));
	CHeld<IStream> Same;
	ASSERT_EQ(StreamView->GetInterface(ID_Stream, Same.OutVoid()), RESULT_OK);
	EXPECT_EQ(Same.Get(), StreamView.Get());

	// A plain object and a closed script stream hold no stream.
	CHeld<IBaseObject> Plain(NewObject());
	void* pOut = this;
	EXPECT_EQ(Plain->GetInterface(ID_Stream, &pOut), RESULT_NOT_FOUND);
	EXPECT_EQ(pOut, this);
	pScriptStream->m_Value.SetNull();
	EXPECT_EQ(Object->GetInterface(ID_Stream, &pOut), RESULT_NOT_FOUND);
}
