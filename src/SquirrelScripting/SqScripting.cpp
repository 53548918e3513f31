// The Squirrel language: the VM and its set-up, per-resource environments, running script files and calling
// Squirrel functions from the engine.

#include "SquirrelScripting/SqScripting.h"

#include <cstdarg>
#include <cstdio>
#include <utility>
#include <vector>

#include <squirrel.h>
#include <sqstdblob.h>
#include <sqstdio.h>
#include <sqstdmath.h>
#include <sqstdstring.h>
#include <sqstdsystem.h>

#include "Engine/Context.h"
#include "Engine/Defines.h"
#include "Engine/KError.h"
#include "Engine/KestrinStream.h"
#include "SquirrelScripting/SquirrelUtil.h"

namespace
{
// Removed after the libraries are registered: nothing a resource runs may touch files by name or run programs.
const char* const g_rgszDeletedNames[] = {
	"file", "system", "remove", "rename", "loadfile", "dofile", "writeclosuretofile",
};

// The only names of the VM's root table that an environment's root table receives.
const char* const g_rgszEnvironmentNames[] = {
	"seterrorhandler", "setdebughook", "enabledebuginfo", "getstackinfos", "getroottable", "setroottable",
	"getconsttable", "setconsttable", "assert", "print", "error", "compilestring", "newthread", "suspend", "array",
	"type", "callee", "dummy", "collectgarbage", "resurrectunreachable", "_versionnumber_", "_version_",
	"_charsize_", "_intsize_", "_floatsize_", "blob", "casti2f", "castf2i", "swap2", "swap4", "swapfloat", "sqrt",
	"sin", "cos", "asin", "acos", "log", "log10", "tan", "atan", "atan2", "pow", "floor", "ceil", "exp", "srand",
	"rand", "fabs", "abs", "RAND_MAX", "PI", "clock", "time", "date", "regexp", "format", "strip", "lstrip",
	"rstrip", "split", "escape", "startswith", "endswith", "stdout", "stdin", "stderr",
};

void LogFormatted(eLogType Type, const SQChar* szFormat, va_list Args)
{
	char szText[LOG_BUFFER_SIZE];
	vsnprintf(szText, sizeof(szText), szFormat, Args);
	if (Context* pContext = KGlobal::GetContext())
		pContext->LogMessage(Type, "%s", szText);
}

void PrintFunction(HSQUIRRELVM, const SQChar* szFormat, ...)
{
	va_list Args;
	va_start(Args, szFormat);
	LogFormatted(LOGTYPE_INFO, szFormat, Args);
	va_end(Args);
}

void ErrorFunction(HSQUIRRELVM, const SQChar* szFormat, ...)
{
	va_list Args;
	va_start(Args, szFormat);
	LogFormatted(LOGTYPE_ERROR, szFormat, Args);
	va_end(Args);
}

void CompileErrorHandler(HSQUIRRELVM, const SQChar* szDescription, const SQChar* szSource, SQInteger iLine,
	SQInteger iColumn)
{
	if (Context* pContext = KGlobal::GetContext())
	{
		pContext->LogError("sqvm: '%s' (Ln:%d Col:%d) : %s.", szSource ? szSource : "", static_cast<int>(iLine),
			static_cast<int>(iColumn), szDescription ? szDescription : "");
	}
}

void LogScriptError(const char* szText)
{
	if (Context* pContext = KGlobal::GetContext())
		pContext->LogError("SCRIPT ERROR: %s", szText);
}

SQInteger RuntimeErrorHandler(HSQUIRRELVM v)
{
	if (sq_gettop(v) < 2)
		return 0;
	Context* pContext = KGlobal::GetContext();
	if (!pContext)
		return 0;
	const SQChar* szError = nullptr;
	if (sq_gettype(v, 2) == OT_STRING && SQ_SUCCEEDED(sq_getstring(v, 2, &szError)))
		pContext->LogError("sqvm: %s.", szError);
	pContext->LogError("Stack Dump:");
	SQStackInfos Info;
	for (SQInteger iLevel = 1; SQ_SUCCEEDED(sq_stackinfos(v, iLevel, &Info)); iLevel++)
	{
		pContext->LogError("[%d]: function [%s()] %s line [%d]\n", static_cast<int>(iLevel),
			Info.funcname ? Info.funcname : "unknown_function", Info.source ? Info.source : "unknown_source_file",
			static_cast<int>(Info.line));
	}
	return 0;
}

SQInteger RefuseFileByName(HSQUIRRELVM v)
{
	return sq_throwerror(v, "opening files by name is not allowed");
}

// Free slots Squirrel keeps above the top of a running function's frame (at least).
constexpr SQInteger FREE_SLOTS = 10;
// Slots a call of a Squirrel function takes besides its arguments: the saved constant table, the closure, "this".
constexpr SQInteger CALL_SLOTS = 3;

// Feeds the compiler the script's UTF-8 bytes one at a time: Squirrel's characters are bytes here, so multi-byte
// characters in strings and comments pass through unchanged.
struct tCompileSource
{
	const unsigned char* m_pText;
	size_t m_Length;
	size_t m_Position;
};

// The environment's thread runs each call to its end: a script that suspends it (suspend() outside a thread of its
// own) is resumed at once with an error, which it may catch. Returns the outcome of the call; with bValue the
// call's value is on top of the stack afterwards.
bool FinishCall(HSQUIRRELVM pThread, bool bResult, bool bValue)
{
	while (bResult && sq_getvmstate(pThread) == SQ_VMSTATE_SUSPENDED)
	{
		// A suspended call leaves a placeholder where its value would be.
		if (bValue)
			sq_pop(pThread, 1);
		sq_throwerror(pThread, "cannot suspend a resource's own thread");
		bResult = SQ_SUCCEEDED(sq_wakeupvm(pThread, SQFalse, bValue ? SQTrue : SQFalse, SQTrue, SQTrue));
	}
	return bResult;
}

SQInteger ReadSourceByte(SQUserPointer p)
{
	tCompileSource* pSource = static_cast<tCompileSource*>(p);
	if (pSource->m_Position >= pSource->m_Length)
		return 0;
	unsigned char c = pSource->m_pText[pSource->m_Position++];
	// The compiler takes 0 for the end of the text: a zero byte inside it would end the script there and the
	// rest would silently not run. Anything above a byte's range is an invalid character to the compiler.
	return c != 0 ? c : SQInteger(0x100);
}
}

void SquirrelUtil::PushClosure(HSQUIRRELVM v, SQFUNCTION pfnFunction, SQUnsignedInteger nFree, const char* szName,
	const char* szMask)
{
	sq_newclosure(v, pfnFunction, nFree);
	if (szName)
		sq_setnativeclosurename(v, -1, szName);
	if (szMask)
		sq_setparamscheck(v, SQ_MATCHTYPEMASKSTRING, szMask);
}

void SquirrelUtil::SetSlot(HSQUIRRELVM v, const char* szName)
{
	sq_pushstring(v, szName, -1);
	sq_push(v, -2);
	sq_remove(v, -3);
	sq_newslot(v, -3, SQFalse);
}

tSquirrelStrongReference::tSquirrelStrongReference() : m_pVM(nullptr)
{
	sq_resetobject(&m_Object);
}

void tSquirrelStrongReference::Clear()
{
	// The handle is empty before the object goes: releasing it can free a chain of script objects whose release
	// hooks destroy engine objects, one of which may own this handle and clear it again, or free it.
	HSQOBJECT Object = m_Object;
	Strong<CSqVMHandle> pReleaseVM = std::move(m_pReleaseVM);
	sq_resetobject(&m_Object);
	m_pVM = nullptr;
	if (!sq_isnull(Object) && !pReleaseVM.IsNull() && pReleaseVM->GetVM())
		sq_release(pReleaseVM->GetVM(), &Object);
}

tSquirrelStrongReference::tSquirrelStrongReference(tSquirrelStrongReference&& Other) noexcept
	: m_pVM(Other.m_pVM), m_pReleaseVM(std::move(Other.m_pReleaseVM)), m_Object(Other.m_Object)
{
	sq_resetobject(&Other.m_Object);
	Other.m_pVM = nullptr;
}

void tSquirrelStrongReference::Set(HSQUIRRELVM v, SQInteger Index, CSqVMHandle* pReleaseVM)
{
	Clear();
	HSQOBJECT Object;
	if (!pReleaseVM || !pReleaseVM->GetVM() || SQ_FAILED(sq_getstackobj(v, Index, &Object)))
		return;
	sq_addref(v, &Object);
	m_pVM = v;
	m_pReleaseVM = pReleaseVM;
	m_Object = Object;
}

void tSquirrelStrongReference::CopyFrom(const tSquirrelStrongReference& Other)
{
	if (&Other == this)
		return;
	Clear();
	if (sq_isnull(Other.m_Object) || !Other.IsAlive())
		return;
	m_Object = Other.m_Object;
	sq_addref(Other.m_pReleaseVM->GetVM(), &m_Object);
	m_pVM = Other.m_pVM;
	m_pReleaseVM = Other.m_pReleaseVM;
}

void tSquirrelStrongReference::Push(HSQUIRRELVM v) const
{
	if (sq_isnull(m_Object) || !IsAlive())
		sq_pushnull(v);
	else
		sq_pushobject(v, m_Object);
}

CSqScripting::CSqScripting(CScripting* pScripting)
	: m_pScripting(pScripting), m_pVM(nullptr), m_uiLanguageId(CScripting::GetLanguageId("Squirrel")),
	  m_pCallNote(nullptr), m_pBlobTypeTag(nullptr), m_CallbackFunction("", "", FunctionCallback),
	  m_ConvertedElements(0), m_uiConversions(0)
{
	if (!SetUp() && m_pVM)
	{
		m_pVMHandle->Close();
		sq_close(m_pVM);
		m_pVM = nullptr;
	}
}

bool CSqScripting::SetUp()
{
	m_pVM = sq_open(STACK_SIZE);
	if (!m_pVM)
		return false;
	m_pVMHandle = Strong<CSqVMHandle>::New(new CSqVMHandle(m_pVM));
	sq_enabledebuginfo(m_pVM, SQTrue);
	// Natives may run on threads that scripts make themselves, which have no foreign pointer of their own.
	sq_setforeignptr(m_pVM, this);
	sq_setsharedforeignptr(m_pVM, this);
	sq_setprintfunc(m_pVM, PrintFunction, ErrorFunction);
	sq_setcompilererrorhandler(m_pVM, CompileErrorHandler);
	sq_newclosure(m_pVM, RuntimeErrorHandler, 0);
	sq_seterrorhandler(m_pVM);

	SQInteger iTop = sq_gettop(m_pVM);
	sq_pushroottable(m_pVM);
	bool bLibraries = SQ_SUCCEEDED(sqstd_register_bloblib(m_pVM)) && SQ_SUCCEEDED(sqstd_register_iolib(m_pVM)) &&
		SQ_SUCCEEDED(sqstd_register_mathlib(m_pVM)) && SQ_SUCCEEDED(sqstd_register_systemlib(m_pVM)) &&
		SQ_SUCCEEDED(sqstd_register_stringlib(m_pVM));
	// "stdout" and the other streams lead back to the file class (getclass()): its constructor would still open
	// files by name.
	sq_pushstring(m_pVM, "file", -1);
	if (SQ_SUCCEEDED(sq_rawget(m_pVM, -2)))
	{
		sq_pushstring(m_pVM, "constructor", -1);
		sq_newclosure(m_pVM, RefuseFileByName, 0);
		bLibraries = bLibraries && SQ_SUCCEEDED(sq_newslot(m_pVM, -3, SQFalse));
		sq_pop(m_pVM, 1);
	}
	for (const char* szName : g_rgszDeletedNames)
	{
		sq_pushstring(m_pVM, szName, -1);
		sq_deleteslot(m_pVM, -2, SQFalse);
	}
	sq_settop(m_pVM, iTop);

	// The blob class keeps its type tag in the registry; a blob is recognised by it without raising an error.
	sq_pushregistrytable(m_pVM);
	sq_pushstring(m_pVM, "std_blob", -1);
	if (SQ_SUCCEEDED(sq_rawget(m_pVM, -2)))
		sq_gettypetag(m_pVM, -1, &m_pBlobTypeTag);
	sq_settop(m_pVM, iTop);

	bLibraries = bLibraries && ReplaceBaseFunctions();
	sq_collectgarbage(m_pVM);
	return bLibraries && m_pBlobTypeTag != nullptr;
}

CSqScripting::~CSqScripting()
{
	// Environments still alive are cut loose: their resources end them later, without this language.
	while (LinkedListNode<CSqScriptEnvironment*>* pNode = m_Environments.GetFirstNode())
	{
		CSqScriptEnvironment* pEnvironment = pNode->GetValue();
		m_Environments.RemoveNode(pNode);
		pEnvironment->Detach();
	}
	m_RunningEnvironments.ClearNodes();
	for (tSquirrelType* pType : m_Types)
		pType->m_pOwner = nullptr;
	m_Types.clear();
	m_EndedRoots.clear();
	m_HeldRootOwners.clear();
	m_Forwarders.clear();
	if (m_pVM)
	{
		// Handles released from here on (by the instances' release hooks among others) find the VM closed.
		m_pVMHandle->Close();
		sq_close(m_pVM);
		m_pVM = nullptr;
	}
}

bool CSqScripting::DefineClasses()
{
	return m_pVM && m_pScripting && DefineClasses(m_pScripting->GetGlobal());
}

void CSqScripting::CollectGarbage()
{
	if (m_pVM)
		sq_collectgarbage(m_pVM);
}

CScriptEnvironment* CSqScripting::CreateEnvironment(const char*)
{
	if (!m_pVM)
		return nullptr;
	CSqScriptEnvironment* pEnvironment = new CSqScriptEnvironment(this);
	if (!pEnvironment->Create())
	{
		delete pEnvironment;
		return nullptr;
	}
	return pEnvironment;
}

void CSqScripting::PushScriptEnvironment(CSqScriptEnvironment* pEnvironment)
{
	m_RunningEnvironments.AddNode(pEnvironment);
}

void CSqScripting::PopScriptEnvironment()
{
	m_RunningEnvironments.RemoveNode(m_RunningEnvironments.GetFirstNode());
}

CSqScriptEnvironment::CSqScriptEnvironment(CSqScripting* pScripting)
	: m_pScripting(pScripting), m_pThread(nullptr), m_pNode(nullptr), m_uiRunning(0), m_bDestroyPending(false),
	  m_PrunedCount(0)
{
}

bool CSqScriptEnvironment::Create()
{
	HSQUIRRELVM pVM = m_pScripting->m_pVM;
	CSqVMHandle* pHandle = m_pScripting->m_pVMHandle;
	m_pNode = m_pScripting->m_Environments.AddNode(this);

	SQInteger iTop = sq_gettop(pVM);
	HSQUIRRELVM pThread = sq_newthread(pVM, CSqScripting::STACK_SIZE);
	if (!pThread)
	{
		sq_settop(pVM, iTop);
		return false;
	}
	m_ThreadReference.Set(pVM, -1, pHandle);
	sq_settop(pVM, iTop);
	m_pThread = pThread;
	sq_setforeignptr(m_pThread, m_pScripting);

	// A fresh thread still shares the VM's root table: copy the permitted names out of it into the new one.
	sq_newtable(m_pThread);
	sq_pushroottable(m_pThread);
	for (const char* szName : g_rgszEnvironmentNames)
	{
		sq_pushstring(m_pThread, szName, -1);
		sq_pushstring(m_pThread, szName, -1);
		if (SQ_SUCCEEDED(sq_rawget(m_pThread, -3)))
			sq_newslot(m_pThread, -4, SQFalse);
		else
			sq_pop(m_pThread, 1);
	}
	sq_pop(m_pThread, 1);
	m_RootTable.Set(m_pThread, -1, pHandle);
	sq_setroottable(m_pThread);

	sq_pushconsttable(m_pThread);
	sq_clone(m_pThread, -1);
	m_ConstTable.Set(m_pThread, -1, pHandle);
	if (CDefineHandlers* pDefines = m_pScripting->m_pScripting->GetDefineHandlers())
	{
		for (const IntDefine& Define : pDefines->GetDefines())
		{
			sq_pushstring(m_pThread, Define.m_Name.c_str(), static_cast<SQInteger>(Define.m_Name.size()));
			sq_pushinteger(m_pThread, Define.GetWideValue());
			sq_newslot(m_pThread, -3, SQFalse);
		}
	}
	sq_pop(m_pThread, 2);

	sq_pushroottable(m_pThread);
	m_pScripting->RegisterFunctions(m_pThread, m_pScripting->m_pScripting->GetGlobal(), GetHandle());
	sq_pop(m_pThread, 1);
	return true;
}

CSqScriptEnvironment::~CSqScriptEnvironment()
{
	DetachFunctions();
	if (m_pScripting && m_pNode)
		m_pScripting->m_Environments.RemoveNode(m_pNode);
	ReleaseReferences();
}

void CSqScriptEnvironment::DetachFunctions()
{
	// Every function is cut loose before any closure goes: releasing one can free script objects whose release
	// hooks destroy other function values of this environment (a timer whose closure holds the timer), which
	// then find nothing left to undo, and the set is not changed while it is walked.
	std::vector<tSquirrelStrongReference> Closures;
	Closures.reserve(m_Functions.size());
	for (CSqFunction* pFunction : m_Functions)
		Closures.push_back(pFunction->Detach());
	m_Functions.clear();
}

void CSqScriptEnvironment::ReleaseReferences()
{
	ReleaseHeldRoots(false);
	m_ConstTable.Clear();
	m_RootTable.Clear();
	m_ThreadReference.Clear();
	m_pThread = nullptr;
	m_pNode = nullptr;
}

void CSqScriptEnvironment::Detach()
{
	DetachFunctions();
	ReleaseReferences();
	m_pScripting = nullptr;
}

void CSqScriptEnvironment::Destroy()
{
	// From now on nothing made from this environment's code runs, and its natives refuse to act.
	End();
	if (m_pScripting)
		m_pScripting->AddEndedRoot(m_RootTable);
	ReleaseHeldRoots(true);
	DetachFunctions();
	// A script that stops its own resource ends the environment while its code still runs: the thread goes
	// when the outermost call has returned.
	if (m_uiRunning > 0)
	{
		m_bDestroyPending = true;
		return;
	}
	delete this;
}

SQInteger CSqScriptEnvironment::Enter()
{
	m_uiRunning++;
	m_pScripting->PushScriptEnvironment(this);
	sq_pushconsttable(m_pThread);
	SQInteger iSaved = sq_gettop(m_pThread);
	m_ConstTable.Push(m_pThread);
	if (SQ_FAILED(sq_setconsttable(m_pThread)))
		sq_settop(m_pThread, iSaved);
	return iSaved;
}

void CSqScriptEnvironment::EnterNative()
{
	m_pScripting->PushScriptEnvironment(this);
	m_uiRunning++;
}

void CSqScriptEnvironment::LeaveNative()
{
	m_pScripting->PopScriptEnvironment();
	if (--m_uiRunning == 0 && m_bDestroyPending)
		delete this;
}

bool CSqScriptEnvironment::Leave(SQInteger iSaved)
{
	// A script may have replaced the shared table (setconsttable): whatever is shared now is this
	// environment's from here on.
	sq_pushconsttable(m_pThread);
	m_ConstTable.Set(m_pThread, -1, m_pScripting->m_pVMHandle);
	sq_push(m_pThread, iSaved);
	sq_setconsttable(m_pThread);
	sq_settop(m_pThread, iSaved - 1);
	m_pScripting->PopScriptEnvironment();
	if (--m_uiRunning == 0 && m_bDestroyPending)
	{
		delete this;
		return false;
	}
	return true;
}

bool CSqScriptEnvironment::DoFile(Stream* pStream, const char* szName)
{
	if (!m_pThread || !m_pScripting || m_bDestroyPending || !pStream)
		return false;
	const char* szSource = szName ? szName : "";
	CTextReader Reader(pStream);
	if (!Reader.Load())
	{
		if (Context* pContext = KGlobal::GetContext())
			pContext->LogError("Unable to read script %s", szSource);
		return false;
	}
	tCompileSource Source = {reinterpret_cast<const unsigned char*>(Reader.GetText()), Reader.GetTextLength(), 0};

	HSQUIRRELVM pThread = m_pThread;
	SQInteger iSaved = Enter();
	bool bResult = false;
	if (SQ_SUCCEEDED(sq_compile(pThread, ReadSourceByte, &Source, szSource, SQTrue)))
	{
		sq_pushroottable(pThread);
		bResult = FinishCall(pThread, SQ_SUCCEEDED(sq_call(pThread, 1, SQFalse, SQTrue)), false);
	}
	Leave(iSaved);
	return bResult;
}

CSqFunction::CSqFunction(CSqScripting* pScripting, CSqScriptEnvironment* pEnvironment, uintptr_t Environment,
	HSQUIRRELVM v, SQInteger Index)
	: CFunction(pScripting ? pScripting->GetScripting() : nullptr, Environment), m_pEnvironment(pEnvironment)
{
	// Code of an environment that has ended never runs again: its closure is not even kept.
	if (!pScripting || !pEnvironment || pEnvironment->HasEnded() || pEnvironment->GetSqScripting() != pScripting)
	{
		m_pEnvironment = nullptr;
		return;
	}
	m_Closure.Set(v, Index, pScripting->GetVMHandle());
	m_pEnvironment->AddFunction(this);
}

CSqFunction::~CSqFunction()
{
	if (m_pEnvironment)
		m_pEnvironment->RemoveFunction(this);
	m_pEnvironment = nullptr;
	m_Closure.Clear();
}

tSquirrelStrongReference CSqFunction::Detach()
{
	m_pEnvironment = nullptr;
	return std::move(m_Closure);
}

bool CSqFunction::Call(const CArgumentArray& Arguments, CReturnValue* pResult)
{
	CSqScriptEnvironment* pEnvironment = m_pEnvironment;
	if (!pEnvironment || !pEnvironment->GetThread() || !m_Closure.IsAlive())
	{
		LogScriptError("Cannot call a function of a stopped resource");
		return false;
	}
	// The call may drop the last other reference to this function (a handler that removes itself).
	Strong<CFunction> pHold(this);
	CSqScripting* pScripting = pEnvironment->GetSqScripting();
	HSQUIRRELVM pThread = pEnvironment->GetThread();

	size_t Count = Arguments.GetArrayCount();
	// Squirrel grows a stack only when it enters a function, and pushing past its end overwrites memory. A thread
	// that is idle has its whole stack free; one whose code is running (this resource's script called a native
	// that calls back into it) is sure of only a few slots. A call that needs more than that runs on a new thread
	// of its own, which shares the environment's root table and error handler.
	bool bBusy = sq_getvmstate(pThread) != SQ_VMSTATE_IDLE;
	SQInteger iNeeded = static_cast<SQInteger>(Count) + CALL_SLOTS;
	SQInteger iSaved = pEnvironment->Enter();
	HSQUIRRELVM pCall = pThread;
	if (iNeeded > (bBusy ? FREE_SLOTS : static_cast<SQInteger>(CSqScripting::STACK_SIZE)))
		pCall = sq_newthread(pThread, iNeeded + FREE_SLOTS);
	bool bResult = pCall != nullptr;
	if (!bResult)
		LogScriptError("Cannot make a thread for the call");
	else
	{
		m_Closure.Push(pCall);
		sq_pushroottable(pCall);
	}
	for (size_t i = 0; bResult && i < Count; i++)
	{
		bResult = pScripting->PushArgument(Arguments.GetAt(i), pCall);
		if (!bResult)
			LogScriptError(g_szError);
	}
	if (bResult)
		bResult = FinishCall(pCall,
			SQ_SUCCEEDED(sq_call(pCall, static_cast<SQInteger>(Count) + 1, SQTrue, SQTrue)), true);
	if (bResult && pResult)
	{
		CArgument* pValue = pScripting->CreateArgument(pCall, -1);
		if (pValue)
			pResult->AddAndOwn(pValue);
		else
		{
			LogScriptError(g_szError);
			bResult = false;
		}
	}
	pEnvironment->Leave(iSaved);
	return bResult;
}

CArgumentSqRef::CArgumentSqRef(HSQUIRRELVM v, SQInteger Index, CSqVMHandle* pReleaseVM) : CArgument(ARGUMENT_SQREF)
{
	m_Reference.Set(v, Index, pReleaseVM);
}

CArgument* CArgumentSqRef::Clone() const
{
	CArgumentSqRef* pCopy = new CArgumentSqRef();
	pCopy->m_Reference.CopyFrom(m_Reference);
	return pCopy;
}

bool RegisterSqVM(CScripting* pScripting)
{
	if (!pScripting)
		return false;
	CSqScripting* pLanguage = new CSqScripting(pScripting);
	if (!pLanguage->IsOpen())
	{
		if (Context* pContext = KGlobal::GetContext())
			pContext->LogError("Failed to initialise Squirrel");
		delete pLanguage;
		return false;
	}
	if (!pScripting->AddVM(pLanguage->GetLanguageId(), pLanguage))
	{
		delete pLanguage;
		return false;
	}
	return true;
}
