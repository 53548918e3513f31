// The JavaScript language: engine start, the context and its callbacks, environments, script files, error
// reports and the console.

#include "JSScripting/CJSScripting.h"

#include <cstdlib>
#include <deque>
#include <cstring>

#include <js/CompilationAndEvaluation.h>
#include <js/ContextOptions.h>
#include <js/Conversions.h>
#include <js/ErrorReport.h>
#include <js/Exception.h>
#include <js/GlobalObject.h>
#include <js/Initialization.h>
#include <js/Promise.h>
#include <js/PropertyAndElement.h>
#include <js/Realm.h>
#include <js/SourceText.h>
#include <mozilla/Maybe.h>

#include "Engine/Context.h"
#include "Engine/Defines.h"
#include "Engine/KAssert.h"
#include "Engine/KError.h"
#include "Engine/KestrinStream.h"
#include "JSScripting/JSUtil.h"

namespace
{
constexpr uint32_t JS_HEAP_LIMIT = 0x2000000;
constexpr uint32_t JS_NURSERY_SIZE = 0x1000000;
constexpr uint32_t JS_MALLOC_THRESHOLD_MIB = 4;

bool g_bEngineStarted = false;
bool g_bEngineShutDown = false;
const char* g_pszEngineFailure = nullptr;

const JSClassOps g_GlobalClassOps = {
	nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, JS_GlobalObjectTraceHook,
};

const JSClass g_GlobalClass = {
	"Global", JSCLASS_GLOBAL_FLAGS, &g_GlobalClassOps, nullptr, nullptr, nullptr,
};

void ShutDownAtExit()
{
	CJSScripting::ShutDownEngine();
}

void LogText(eLogType Type, const char* szText)
{
	Context* pContext = KGlobal::GetContext();
	if (pContext != nullptr)
		pContext->LogMessage(Type, "%s", szText);
}

// The text of one console argument; a missing argument prints as undefined.
bool LogArgument(JSContext* cx, const JS::CallArgs& Args, unsigned Index, eLogType Type, bool bLog)
{
	JS::UniqueChars Text;
	if (!JSUtil::ToString(cx, Args.get(Index), Text))
		return false;
	if (bLog)
		LogText(Type, Text.get());
	Args.rval().setUndefined();
	return true;
}

bool MethodConsoleLog(JSContext* cx, unsigned argc, JS::Value* vp)
{
	return LogArgument(cx, JS::CallArgsFromVp(argc, vp), 0, LOGTYPE_INFO, true);
}

bool MethodConsoleWarn(JSContext* cx, unsigned argc, JS::Value* vp)
{
	return LogArgument(cx, JS::CallArgsFromVp(argc, vp), 0, LOGTYPE_WARN, true);
}

bool MethodConsoleError(JSContext* cx, unsigned argc, JS::Value* vp)
{
	return LogArgument(cx, JS::CallArgsFromVp(argc, vp), 0, LOGTYPE_ERROR, true);
}

// The message is converted even when the condition holds, so a throwing message throws either way.
bool MethodConsoleAssert(JSContext* cx, unsigned argc, JS::Value* vp)
{
	JS::CallArgs Args = JS::CallArgsFromVp(argc, vp);
	return LogArgument(cx, Args, 1, LOGTYPE_ERROR, !JS::ToBoolean(Args.get(0)));
}

bool MethodCollectGarbage(JSContext* cx, unsigned argc, JS::Value* vp)
{
	JS::CallArgs Args = JS::CallArgsFromVp(argc, vp);
	JS_GC(cx);
	Args.rval().setUndefined();
	return true;
}

// Frees the language's class data of every class in the namespace tree, so that clearing the registry after the
// language is gone touches nothing of it.
void ReleaseClassData(ReflectedNamespace* pNamespace, uint32_t uiId)
{
	for (ReflectedClass* pClass : pNamespace->GetClasses())
	{
		void** ppSlot = pClass->m_UserData.GetUserData(uiId);
		if (ppSlot != nullptr && *ppSlot != nullptr)
		{
			delete static_cast<CJSScriptingClass*>(*ppSlot);
			*ppSlot = nullptr;
		}
	}
	for (ReflectedNamespace* pChild : pNamespace->GetNamespaces())
		ReleaseClassData(pChild, uiId);
}
}

// Promise jobs run at once, inside the call that queued them: a reaction to a settled promise runs before the
// statement that registered it completes. The engine's own reactions (those of await, which have no promise of
// their own) cannot run at once: the async function that queued one is still running and would never resume. They
// wait until the outermost script call returns, and then run in the realm they belong to.
class CJSJobQueue : public JS::JobQueue
{
public:
	explicit CJSJobQueue(CJSScripting* pScripting) : m_pScripting(pScripting), m_bDraining(false) {}

	JSObject* getIncumbentGlobal(JSContext* cx) override { return JS::CurrentGlobalOrNull(cx); }

	bool enqueuePromiseJob(JSContext* cx, JS::HandleObject Promise, JS::HandleObject Job, JS::HandleObject,
		JS::HandleObject) override
	{
		if (!Promise)
		{
			m_Deferred.push_back(std::make_unique<JS::PersistentRooted<JSObject*>>(cx, Job));
			return true;
		}
		// A job runs for the environment whose realm it was made in (a reaction for the one that registered it),
		// whoever settles the promise. One of a resource that has stopped meanwhile still runs, since another
		// resource may wait for what it settles (a thenable's then), but can act for nobody.
		CJSScriptEnvironment* pEnvironment = CJSScripting::GetRealmEnvironment(Job);
		JSAutoRealm Realm(cx, Job);
		CJSScripting::CRunningEnvironment Running(m_pScripting, pEnvironment, m_pScripting->GetCurrentEnvironment());
		JS::RootedValue Result(cx);
		// The job is no call of the code that settled the promise: a reaction that is a native (a bound method)
		// must not take that code for its caller.
		JS::AutoHideScriptedCaller Hide(cx);
		return JS::Call(cx, JS::UndefinedHandleValue, Job, JS::HandleValueArray::empty(), &Result);
	}

	void runJobs(JSContext*) override { RunDeferred(); }
	bool empty() const override { return m_Deferred.empty(); }

	// Jobs of a resource that has stopped meanwhile are dropped.
	void RunDeferred()
	{
		if (m_bDraining)
			return;
		m_bDraining = true;
		JSContext* cx = m_pScripting->GetContext();
		while (!m_Deferred.empty())
		{
			JS::RootedObject Job(cx, m_Deferred.front()->get());
			m_Deferred.pop_front();
			CJSScriptEnvironment* pEnvironment = CJSScripting::GetRealmEnvironment(Job);
			if (pEnvironment == nullptr || !pEnvironment->IsUsable())
				continue;
			JSAutoRealm Realm(cx, Job);
			JS::RootedValue Result(cx);
			CJSScripting::CRunningEnvironment Running(m_pScripting, pEnvironment, m_pScripting->GetCurrentEnvironment());
			JS::AutoHideScriptedCaller Hide(cx);
			if (!JS::Call(cx, JS::UndefinedHandleValue, Job, JS::HandleValueArray::empty(), &Result) &&
				JS_IsExceptionPending(cx))
				m_pScripting->HandleError();
		}
		m_bDraining = false;
	}

	void Clear() { m_Deferred.clear(); }

private:
	js::UniquePtr<SavedJobQueue> saveJobQueue(JSContext*) override { return js::MakeUnique<SavedJobQueue>(); }

	CJSScripting* m_pScripting;
	std::deque<std::unique_ptr<JS::PersistentRooted<JSObject*>>> m_Deferred;
	bool m_bDraining;
};

// Engine

const char* CJSScripting::InitialiseEngine()
{
	if (g_bEngineStarted || g_pszEngineFailure != nullptr)
		return g_pszEngineFailure;
	if (g_bEngineShutDown)
		return g_pszEngineFailure = "JavaScript engine already shut down";
	const char* pszFailure = JS_InitWithFailureDiagnostic();
	if (pszFailure != nullptr)
		return g_pszEngineFailure = pszFailure;
	g_bEngineStarted = true;
	atexit(ShutDownAtExit);
	return nullptr;
}

void CJSScripting::ShutDownEngine()
{
	if (!g_bEngineStarted)
		return;
	g_bEngineStarted = false;
	g_bEngineShutDown = true;
	JS_ShutDown();
}

bool RegisterJSVM(CScripting* pScripting)
{
	CJSScripting* pLanguage = CJSScripting::Create(pScripting);
	if (pLanguage == nullptr)
		return false;
	if (!pScripting->AddVM(pLanguage->GetId(), pLanguage))
	{
		delete pLanguage;
		return false;
	}
	return true;
}

// Language

CJSScripting::CJSScripting(CScripting* pScripting) :
	m_pScripting(pScripting),
	m_uiId(CScripting::GetLanguageId("SpiderMonkey")),
	m_cx(nullptr),
	m_pRootClass(new CJSScriptingClass("Referenceable")),
	m_CallbackFunction("", "", FunctionCallback),
	m_ConvertedElements(0),
	m_ConversionDepth(0)
{
}

CJSScripting* CJSScripting::Create(CScripting* pScripting)
{
	const char* pszFailure = InitialiseEngine();
	if (!KASSERT(pszFailure == nullptr))
	{
		LogText(LOGTYPE_ERROR, pszFailure);
		return nullptr;
	}
	CJSScripting* pLanguage = new CJSScripting(pScripting);
	if (!pLanguage->Initialise())
	{
		delete pLanguage;
		return nullptr;
	}
	return pLanguage;
}

CJSScripting* CJSScripting::FromContext(JSContext* cx)
{
	return static_cast<CJSScripting*>(JS_GetContextPrivate(cx));
}

bool CJSScripting::Initialise()
{
	m_cx = JS_NewContext(JS_HEAP_LIMIT, nullptr);
	if (!KASSERT(m_cx != nullptr))
		return false;
	JS_SetGCParameter(m_cx, JSGC_MAX_NURSERY_BYTES, JS_NURSERY_SIZE);
	// Engine objects that only wrappers keep alive count as memory of the wrappers' zone; past this much (in MiB,
	// or more once more is kept alive) the zone is collected. The engine's default lets about 70 MiB of dropped
	// elements wait for a collection; this keeps the wait to a few MiB, at the price of a collection every few MiB
	// a script allocates, which costs little for the small heaps scripts here keep.
	JS_SetGCParameter(m_cx, JSGC_MALLOC_THRESHOLD_BASE, JS_MALLOC_THRESHOLD_MIB);

	m_SharedGlobal.init(m_cx);
	JS_SetContextPrivate(m_cx, this);
	// Every script is strict-mode code.
	JS::ContextOptionsRef(m_cx).setStrictMode(true);

	m_pJobQueue.reset(new CJSJobQueue(this));
	JS::SetJobQueue(m_cx, m_pJobQueue.get());
	JS::SetPromiseRejectionTrackerCallback(m_cx, PromiseRejectionTrackerCallback, this);
	JS::SetDestroyRealmCallback(m_cx, DestroyRealmCallback);
	JS_AddWeakPointerZonesCallback(m_cx, UpdateWeakPointers, this);

	if (!JS::InitSelfHostedCode(m_cx))
	{
		KASSERT(0);
		return false;
	}

	JS::RealmOptions Options;
	JS::RootedObject Global(m_cx, JS_NewGlobalObject(m_cx, &g_GlobalClass, nullptr, JS::FireOnNewGlobalHook, Options));
	if (!KASSERT(Global))
	{
		if (JS_IsExceptionPending(m_cx))
			HandleError();
		return false;
	}
	m_SharedGlobal = Global;

	JSAutoRealm Realm(m_cx, Global);
	if (!m_pRootClass->Initialise(this, nullptr))
	{
		if (JS_IsExceptionPending(m_cx))
			HandleError();
		return false;
	}
	return true;
}

CJSScripting::~CJSScripting()
{
	if (m_cx != nullptr)
	{
		ReleaseClassData(m_pScripting->GetGlobal(), m_uiId);
		delete m_pRootClass;
		m_pRootClass = nullptr;

		// Environments and script objects held by the engine outlive the language; they must not call back into
		// it, and their roots must be gone before the context is.
		for (CJSScriptEnvironment* pEnvironment : m_Environments)
			pEnvironment->Detach();
		m_Environments.clear();
		for (CJSHeldObject* pHeld : m_HeldObjects)
			pHeld->Detach();
		m_HeldObjects.clear();
		for (CJSReferenceable* pBinding : m_Bindings)
			pBinding->m_Root.reset();
		m_EnvironmentStack.ClearNodes();
		m_pJobQueue->Clear();
		m_SharedGlobal.reset();

		// Destroying the context finalises every wrapper and destroys every realm.
		JS_RemoveWeakPointerZonesCallback(m_cx, UpdateWeakPointers);
		JS_DestroyContext(m_cx);
		m_cx = nullptr;
	}
	delete m_pRootClass;
	EmptyClassTrash();
}

bool CJSScripting::DefineClasses()
{
	JSAutoRealm Realm(m_cx, m_SharedGlobal);
	if (!DefineClasses(m_pScripting->GetGlobal()))
	{
		if (JS_IsExceptionPending(m_cx))
			HandleError();
		return false;
	}
	return true;
}

void CJSScripting::CollectGarbage()
{
	JS_GC(m_cx);
	EmptyClassTrash();
}

const tJSNativeFunction* CJSScripting::GetNativeFunction(const ScriptFunction* pFunction, void* pUserData)
{
	auto Range = m_NativeFunctions.equal_range(pFunction);
	for (auto It = Range.first; It != Range.second; ++It)
	{
		if (It->second->m_pUserData == pUserData)
			return It->second.get();
	}
	auto It = m_NativeFunctions.emplace(pFunction, new tJSNativeFunction{pFunction, pUserData, this});
	return It->second.get();
}

void CJSScripting::RetireClassRecord(tJSClassRecord* pRecord)
{
	m_ClassTrash.push_back(pRecord);
}

void CJSScripting::EmptyClassTrash()
{
	// A record some object of the class still points at stays until that object is finalised; after the context
	// is gone every object has been.
	size_t Kept = 0;
	for (tJSClassRecord* pRecord : m_ClassTrash)
	{
		if (m_cx == nullptr || pRecord->m_LiveObjects == 0)
			delete pRecord;
		else
			m_ClassTrash[Kept++] = pRecord;
	}
	m_ClassTrash.resize(Kept);
}

void CJSScripting::PushEnvironment(CJSScriptEnvironment* pEnvironment)
{
	m_EnvironmentStack.AddNode(pEnvironment);
}

void CJSScripting::PopEnvironment()
{
	m_EnvironmentStack.RemoveNode(m_EnvironmentStack.GetFirstNode());
}

void CJSScripting::RunDeferredJobs()
{
	if (m_EnvironmentStack.GetCount() == 0)
		m_pJobQueue->RunDeferred();
}

uintptr_t CJSScripting::FindCallingCode(void*)
{
	// The realm of the innermost script frame: a function runs in the realm that made it, whoever calls it.
	JSObject* pGlobal = JS::GetScriptedCallerGlobal(m_cx);
	const CJSScriptEnvironment* pEnvironment = pGlobal != nullptr ? GetRealmEnvironment(pGlobal) : nullptr;
	return pEnvironment != nullptr ? pEnvironment->GetHandle() : 0;
}

CJSScriptEnvironment* CJSScripting::GetRealmEnvironment(JSObject* pObject)
{
	return GetRealmEnvironment(JS::GetObjectRealmOrNull(pObject));
}

CJSScriptEnvironment* CJSScripting::GetRealmEnvironment(JS::Realm* pRealm)
{
	CBaseObject* pOwner = pRealm != nullptr ? static_cast<CBaseObject*>(JS::GetRealmPrivate(pRealm)) : nullptr;
	return static_cast<CJSScriptEnvironment*>(pOwner);
}

void CJSScripting::CRunningEnvironment::Push()
{
	m_pPushed->AddRef();
	m_pScripting->PushEnvironment(m_pPushed);
}

void CJSScripting::CRunningEnvironment::Pop()
{
	m_pScripting->PopEnvironment();
	m_pPushed->Release();
}

// Environments

CScriptEnvironment* CJSScripting::CreateEnvironment(const char*)
{
	CJSScriptEnvironment* pEnvironment = new CJSScriptEnvironment(this);

	JS::RealmOptions Options;
	// The shared global's compartment: engine objects and their prototypes are then reached without wrappers.
	Options.creationOptions().setExistingCompartment(m_SharedGlobal);
	JS::RootedObject Global(m_cx);
	{
		// A global that cannot be made (the heap is full) leaves an exception that can only be read inside a realm.
		JSAutoRealm SharedRealm(m_cx, m_SharedGlobal);
		Global = JS_NewGlobalObject(m_cx, &g_GlobalClass, nullptr, JS::DontFireOnNewGlobalHook, Options);
		if (!Global)
		{
			if (JS_IsExceptionPending(m_cx))
				HandleError();
			KASSERT(0);
			pEnvironment->Release();
			return nullptr;
		}
	}

	// The realm's reference, dropped when the engine destroys the realm.
	JS::SetRealmPrivate(JS::GetObjectRealmOrNull(Global), static_cast<CBaseObject*>(pEnvironment));
	pEnvironment->AddRef();
	pEnvironment->SetGlobal(Global);

	JSAutoRealm Realm(m_cx, Global);
	if (!DefineGlobal(Global))
	{
		if (JS_IsExceptionPending(m_cx))
			HandleError();
		KASSERT(0);
		// Unrooting the global lets the engine collect the realm, which drops the realm's reference.
		pEnvironment->Destroy();
		return nullptr;
	}
	JS_FireOnNewGlobalObject(m_cx, Global);
	return pEnvironment;
}

bool CJSScripting::DefineGlobal(JS::HandleObject Global)
{
	if (!JS_DefineProperty(m_cx, Global, "global", Global, 0))
		return false;
	if (!JS::InitRealmStandardClasses(m_cx) || !JS_InitReflectParse(m_cx, Global))
		return false;
	if (!JS_DefineFunction(m_cx, Global, "collectGarbage", MethodCollectGarbage, 0, 0))
		return false;

	JS::RootedObject Console(m_cx, JS_NewPlainObject(m_cx));
	if (!Console || !JS_DefineProperty(m_cx, Global, "console", Console, 0))
		return false;
	if (!JS_DefineFunction(m_cx, Console, "assert", MethodConsoleAssert, 2, 0) ||
		!JS_DefineFunction(m_cx, Console, "log", MethodConsoleLog, 1, 0) ||
		!JS_DefineFunction(m_cx, Console, "info", MethodConsoleLog, 1, 0) ||
		!JS_DefineFunction(m_cx, Console, "warn", MethodConsoleWarn, 1, 0) ||
		!JS_DefineFunction(m_cx, Console, "error", MethodConsoleError, 1, 0))
		return false;

	CDefineHandlers* pDefines = m_pScripting->GetDefineHandlers();
	if (pDefines != nullptr)
	{
		for (const IntDefine& Define : pDefines->GetDefines())
		{
			JS::RootedValue Value(m_cx);
			if (Define.m_bUnsigned)
				Value.setNumber(Define.m_uiValue);
			else
				Value.setInt32(Define.GetSignedValue());
			// Read-only only: not enumerable, still configurable.
			if (!JS_DefineProperty(m_cx, Global, Define.m_Name.c_str(), Value, JSPROP_READONLY))
				return false;
		}
	}

	return DefineNamespace(m_pScripting->GetGlobal(), Global);
}

CJSScriptEnvironment::CJSScriptEnvironment(CJSScripting* pScripting) :
	m_pScripting(pScripting),
	m_pRealm(nullptr)
{
	pScripting->AddEnvironment(this);
}

CJSScriptEnvironment::~CJSScriptEnvironment()
{
	if (m_pScripting != nullptr)
		m_pScripting->RemoveEnvironment(this);
}

void CJSScriptEnvironment::SetGlobal(JSObject* pGlobal)
{
	m_pGlobal.reset(new CJSHeldObject(m_pScripting, pGlobal));
	m_pRealm = pGlobal != nullptr ? JS::GetObjectRealmOrNull(pGlobal) : nullptr;
}

void CJSScriptEnvironment::Destroy()
{
	// The resource may be freed long before the last function value of this environment; nothing that still
	// runs here may act for it.
	End();
	if (m_pGlobal != nullptr)
		m_pGlobal->Reset();
	// Function values held elsewhere must not keep the resource's code and global alive.
	for (CJSFunction* pFunction : m_Functions)
		pFunction->ReleaseFunction();
	Release();
}

bool CJSScriptEnvironment::DoFile(Stream* pStream, const char* szName)
{
	if (!IsUsable() || pStream == nullptr)
		return false;

	CTextReader Reader(pStream);
	// A text the reader refuses (UTF-16 big-endian, UTF-32) is a failure, not an empty script.
	if (!Reader.Load())
	{
		Context* pContext = KGlobal::GetContext();
		if (pContext != nullptr)
			pContext->LogError("Unable to read script %s", szName != nullptr ? szName : "");
		return false;
	}
	const char* szText = Reader.GetText();
	// The text ends at its first zero byte.
	size_t Length = strlen(szText);

	// The script may stop its own resource; the environment stays until the file is done.
	Strong<CJSScriptEnvironment> pKeep(this);
	CJSScripting* pScripting = m_pScripting;
	JSContext* cx = pScripting->GetContext();
	JS::RootedObject Global(cx, GetGlobal());
	JSAutoRealm Realm(cx, Global);
	JS::CompileOptions Options(cx);
	Options.setFileAndLine(szName != nullptr ? szName : "", 1);

	// The error is reported while this environment is current: reporting it may run the thrown value's own
	// toString, which is code of this resource.
	pScripting->PushEnvironment(this);
	JS::SourceText<mozilla::Utf8Unit> Source;
	JS::RootedValue Result(cx);
	bool bResult = Source.init(cx, szText, Length, JS::SourceOwnership::Borrowed);
	if (bResult)
	{
		// A script started from another resource's call is no code of that resource's.
		JS::AutoHideScriptedCaller Hide(cx);
		bResult = JS::Evaluate(cx, Options, Source, &Result);
	}
	if (!bResult)
	{
		if (JS_IsExceptionPending(cx))
			pScripting->HandleError();
		else
			KASSERT(0);
	}
	pScripting->PopEnvironment();
	pScripting->RunDeferredJobs();
	return bResult;
}

// Errors

void CJSScripting::HandleError()
{
	if (!KASSERT(JS_IsExceptionPending(m_cx)))
		return;
	// The exception is read and converted in a realm; outside any, the shared global's serves.
	mozilla::Maybe<JSAutoRealm> Realm;
	if (JS::GetCurrentRealmOrNull(m_cx) == nullptr)
	{
		if (!m_SharedGlobal.get())
		{
			JS_ClearPendingException(m_cx);
			KASSERT(0);
			return;
		}
		Realm.emplace(m_cx, m_SharedGlobal);
	}
	JS::ExceptionStack Exception(m_cx);
	if (!JS::StealPendingExceptionStack(m_cx, &Exception))
	{
		JS_ClearPendingException(m_cx);
		KASSERT(0);
		return;
	}
	JS::ErrorReportBuilder Report(m_cx);
	if (!Report.init(m_cx, Exception, JS::ErrorReportBuilder::WithSideEffects))
	{
		JS_ClearPendingException(m_cx);
		KASSERT(0);
		return;
	}
	KASSERT(!Report.report()->isWarning());
	const char* szText = Report.toStringResult().c_str();
	LogText(LOGTYPE_ERROR, szText != nullptr ? szText : "");
	const JSErrorReport* pReport = Report.report();
	if (pReport->filename != nullptr)
	{
		Context* pContext = KGlobal::GetContext();
		if (pContext != nullptr)
			pContext->LogError("File: %s Line: %d Column: %d", pReport->filename, static_cast<int>(pReport->lineno),
				static_cast<int>(pReport->column));
	}
}

void CJSScripting::HandleError(JS::HandleValue Value)
{
	// Whatever exception is pending (a rejection is reported from inside the engine) is kept for its owner.
	JS::AutoSaveExceptionState Saved(m_cx);
	JS_SetPendingException(m_cx, Value, JS::ExceptionStackBehavior::DoNotCapture);
	HandleError();
}

// Engine callbacks

void CJSScripting::PromiseRejectionTrackerCallback(JSContext* cx, bool, JS::HandleObject Promise,
	JS::PromiseRejectionHandlingState, void* pData)
{
	// Both notifications are reported: an unhandled rejection, and its handler arriving later.
	CJSScripting* pScripting = static_cast<CJSScripting*>(pData);
	JSAutoRealm Realm(cx, Promise);
	JS::RootedValue Result(cx, JS::GetPromiseResult(Promise));
	pScripting->HandleError(Result);
}

void CJSScripting::DestroyRealmCallback(JS::GCContext*, JS::Realm* pRealm)
{
	CJSScriptEnvironment* pEnvironment = GetRealmEnvironment(pRealm);
	if (pEnvironment == nullptr)
		return;
	JS::SetRealmPrivate(pRealm, nullptr);
	pEnvironment->ForgetRealm();
	pEnvironment->Release();
}

void CJSScripting::UpdateWeakPointers(JSTracer* pTracer, void* pData)
{
	CJSScripting* pScripting = static_cast<CJSScripting*>(pData);
	for (CJSReferenceable* pBinding : pScripting->m_Bindings)
		pBinding->UpdateAfterGC(pTracer);
}
