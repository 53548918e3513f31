#pragma once
// Squirrel as a script language of resources: one VM for the process, and per resource a friend thread with its
// own root table (the standard libraries resources may use plus the whole script interface) and its own constant
// table (the engine's defines plus the constants its scripts declare).

#include <cstdint>
#include <list>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <squirrel.h>

#include "Engine/KestrinArguments.h"
#include "Engine/KestrinArray.h"
#include "Engine/KestrinNative.h"
#include "SquirrelScripting/tSquirrelReferenceableType.h"
#include "SquirrelScripting/tSquirrelStrongReference.h"
#include "SquirrelScripting/tSquirrelType.h"

class CSqScriptEnvironment;
class CSqFunction;

class CSqScripting : public CScriptingVM
{
public:
	enum
	{
		STACK_SIZE = 1024,
	};

	// Opens and sets up the VM; IsOpen tells whether that worked.
	explicit CSqScripting(CScripting* pScripting);
	// Closes the VM. Environments that still exist are cut loose, not deleted: their resources end them.
	~CSqScripting() override;

	CSqScripting(const CSqScripting&) = delete;
	CSqScripting& operator=(const CSqScripting&) = delete;

	bool IsOpen() const { return m_pVM != nullptr; }

	bool DefineClasses() override;
	void CollectGarbage() override;
	CScriptEnvironment* CreateEnvironment(const char* szResourceName) override;
	// The code of the closure that called the running native (pCallStack is its VM): see FindClosureCode. A native
	// that one of the call forwarders (a function's call, pcall, acall, pacall; a thread's call) called counts as
	// called by the code that called the forwarder.
	uintptr_t FindCallingCode(void* pCallStack) override;

	// While one lives, what the forwarder that made it calls on pThread counts as called by the given code (a handle,
	// as FindCallingCode answers). Notes nest with the forwarders' calls; each is undone on every way out.
	class CCallNote
	{
	public:
		CCallNote(CSqScripting* pScripting, uintptr_t Code, HSQUIRRELVM pThread)
			: m_pScripting(pScripting), m_Code(Code), m_pThread(pThread), m_pPrevious(pScripting->m_pCallNote)
		{
			m_pScripting->m_pCallNote = this;
		}
		~CCallNote() { m_pScripting->m_pCallNote = m_pPrevious; }

		CCallNote(const CCallNote&) = delete;
		CCallNote& operator=(const CCallNote&) = delete;

	private:
		friend class CSqScripting;

		CSqScripting* m_pScripting;
		uintptr_t m_Code;
		HSQUIRRELVM m_pThread;
		CCallNote* m_pPrevious;
	};

	// The table at Index is about to become a root table (setroottable, a closure's setroot): closures made with it
	// are the code of the environment whose code does that (the running one when no code can be told), which holds
	// it while it runs, or, when that code's environment has ended, of none that runs. A table that already is an
	// environment's root table, held or ended, stays whose it is. Throws std::bad_alloc.
	void ClaimRoot(HSQUIRRELVM v, SQInteger Index);

	// Defines the classes of the namespace and of its children, each base before the classes derived from it.
	bool DefineClasses(ReflectedNamespace* pNamespace);
	// The class's Squirrel class, defined now when it has none yet (a class registered late); null on failure.
	tSquirrelType* GetSqType(ReflectedClass* pClass);
	// The record behind a type tag when the tag is one of this language's classes, else null.
	tSquirrelType* FindSqType(SQUserPointer pTypeTag) const;

	// Pushes exactly one value. False, with the reason as the last-error text and null pushed, for arrays and
	// maps nested deeper than the conversion allows, and for memory the engine cannot get ("not enough memory").
	bool PushArgument(const CArgument* pValue, HSQUIRRELVM v);
	// A new value (count 1) for the Squirrel value at Index. Null, with the reason as the last-error text, for an
	// array that contains itself or nests too deep, one longer than ARGUMENT_MAX_CONVERTED_ELEMENTS ("Cannot
	// convert an array of N elements"), a value that would make more array elements than that in all, counting an
	// array once for every place that holds it ("Cannot convert more than 4194304 array elements at once"), and
	// for memory the engine cannot get ("not enough memory"). The elements count towards the conversion running
	// (see CConversion), or the value is a conversion of its own.
	CArgument* CreateArgument(HSQUIRRELVM v, SQInteger Index);

	// While one lives, the values converted count together: all the arguments of one native call. Conversions
	// nest when engine work done by one runs a script; the outermost starts the count afresh.
	class CConversion
	{
	public:
		explicit CConversion(CSqScripting* pScripting) : m_pScripting(pScripting)
		{
			if (m_pScripting->m_uiConversions++ == 0)
				m_pScripting->m_ConvertedElements = 0;
		}
		~CConversion() { m_pScripting->m_uiConversions--; }

		CConversion(const CConversion&) = delete;
		CConversion& operator=(const CConversion&) = delete;

	private:
		CSqScripting* m_pScripting;
	};
	// Pushes the object's instance, or null.
	void PushReferenceable(CBaseObject* pObject, HSQUIRRELVM v);
	// The object's binding, made on first use; null for an object whose class is not part of reflection.
	CSqScriptReference* GetReference(CBaseObject* pObject);
	// The record of the instance's class at Index when that is one of this language's classes, else null.
	tSquirrelType* GetInstanceType(HSQUIRRELVM v, SQInteger Index) const;
	// The engine object behind the instance at Index, or null.
	CBaseObject* GetInstanceObject(HSQUIRRELVM v, SQInteger Index) const;

	// Fills the table on top of v's stack from the namespace, for the environment whose handle is given: its
	// functions and properties run for that environment.
	void RegisterFunctions(HSQUIRRELVM v, ReflectedNamespace* pNamespace, uintptr_t Environment);
	// The environment of this language that a handle names (CScriptEnvironment::GetHandle); null once it is gone.
	// Handles lie in free variables, out of scripts' reach, but what they name is checked all the same.
	CSqScriptEnvironment* FindEnvironment(uintptr_t Handle) const;

	void PushScriptEnvironment(CSqScriptEnvironment* pEnvironment);
	void PopScriptEnvironment();
	// The environment whose code runs now, or null outside script execution. Asked by every native call.
	CSqScriptEnvironment* GetScriptEnvironment() const
	{
		LinkedListNode<CSqScriptEnvironment*>* pNode = m_RunningEnvironments.GetFirstNode();
		return pNode ? pNode->GetValue() : nullptr;
	}

	// Inline: every native call asks.
	static CSqScripting* FromVM(HSQUIRRELVM v)
	{
		return v ? static_cast<CSqScripting*>(sq_getsharedforeignptr(v)) : nullptr;
	}

	CScripting* GetScripting() const { return m_pScripting; }
	HSQUIRRELVM GetVM() const { return m_pVM; }
	CSqVMHandle* GetVMHandle() const { return m_pVMHandle; }
	uint32_t GetLanguageId() const { return m_uiLanguageId; }
	// The native behind the closures that stand for engine function values.
	const ScriptFunction& GetCallbackFunction() const { return m_CallbackFunction; }

private:
	friend class CSqScriptEnvironment;
	friend struct tSquirrelType;

	bool SetUp();
	// Puts natives of this language in place of the base functions that change a root table (setroottable, a
	// closure's setroot), that call a function for the code that calls them (a function's call, pcall, acall, pacall;
	// a thread's call), and of newthread; false when one of them cannot be found.
	bool ReplaceBaseFunctions();
	bool ReplaceFunction(HSQUIRRELVM v, const char* szName, SQFUNCTION pfnFunction, SQInteger iParameters,
		const char* szMask, bool bForwarder, bool bKeepOriginal);
	// Whether the native closure is one of the call forwarders.
	bool IsForwarder(const HSQOBJECT& Closure) const;
	CArgument* CreateArgument(HSQUIRRELVM v, SQInteger Index, unsigned Depth, const void** ppPath);
	CArgument* CreateArrayArgument(HSQUIRRELVM v, SQInteger Index, unsigned Depth, const void** ppPath);
	bool PushArgument(const CArgument* pValue, HSQUIRRELVM v, unsigned Depth);
	bool PushContainer(const CArgument* pValue, HSQUIRRELVM v, unsigned Depth);
	void PushFunction(CFunction* pFunction, HSQUIRRELVM v);
	void PushVector(const CArgument* pValue, HSQUIRRELVM v);
	bool IsBlob(HSQUIRRELVM v, SQInteger Index);
	// Adds the elements an array is about to make to the running conversion; false, with the error text set, when
	// that would pass ARGUMENT_MAX_CONVERTED_ELEMENTS.
	bool CountElements(size_t Count);
	// A function value for the closure at Index (apart from the other values, which convert far more often).
	CArgument* CreateFunctionArgument(HSQUIRRELVM v, SQInteger Index);
	// The handle of the environment whose code the closure at Index is: the one whose root table it was made with,
	// wherever it is handed on to. CScriptEnvironment::GONE_HANDLE when that root table belonged to an environment
	// that has ended, or is gone: the environment held it while it ran. 0 for a native closure and for a root table
	// of no environment (one a script made).
	uintptr_t FindClosureCode(HSQUIRRELVM v, SQInteger Index);
	// Whose the table is as a root table: the handle of the environment whose own it is or that holds it,
	// CScriptEnvironment::GONE_HANDLE for one of an environment that has ended, 0 for none.
	uintptr_t FindRootOwner(HSQUIRRELVM v, const HSQOBJECT& Table);
	// Remembers, without keeping it, the root table of an environment that ends (AddEndedRoot first forgets the
	// ended roots that have gone).
	void AddEndedRoot(const tSquirrelStrongReference& Root);
	void RememberEndedRoot(const tSquirrelStrongReference& Root);
	// Whether the table was the root table of an environment that has ended; forgets the ones that have gone.
	bool IsEndedRoot(HSQUIRRELVM v, const HSQOBJECT& Table);

	CScripting* m_pScripting;
	HSQUIRRELVM m_pVM;
	// Running environments; the first node is the innermost.
	LinkedList<CSqScriptEnvironment*> m_RunningEnvironments;
	LinkedList<CSqScriptEnvironment*> m_Environments;
	uint32_t m_uiLanguageId;
	Strong<CSqVMHandle> m_pVMHandle;
	std::unordered_set<tSquirrelType*> m_Types;
	// Weak references to the root tables of environments that have ended, while those tables live.
	std::list<tSquirrelStrongReference> m_EndedRoots;
	// The tables that running environments hold besides their own root tables (CSqScriptEnvironment::HoldRoot),
	// by the table.
	std::unordered_map<const void*, CSqScriptEnvironment*> m_HeldRootOwners;
	// The innermost call forwarder running (see CCallNote), and the forwarders themselves.
	CCallNote* m_pCallNote;
	std::vector<tSquirrelStrongReference> m_Forwarders;
	SQUserPointer m_pBlobTypeTag;
	ScriptFunction m_CallbackFunction;
	// Array elements made by the conversions now running; an array counts for every place that holds it.
	size_t m_ConvertedElements;
	unsigned m_uiConversions;
};

// One resource's global scope. Not reference-counted: the resource ends it with Destroy.
class CSqScriptEnvironment : public CScriptEnvironment
{
public:
	explicit CSqScriptEnvironment(CSqScripting* pScripting);
	// Unlinks itself, cuts its function values loose and releases its thread and constant table.
	~CSqScriptEnvironment() override;

	CSqScriptEnvironment(const CSqScriptEnvironment&) = delete;
	CSqScriptEnvironment& operator=(const CSqScriptEnvironment&) = delete;

	void Destroy() override;
	bool DoFile(Stream* pStream, const char* szName) override;

	// False when the thread could not be made.
	bool IsValid() const { return m_pThread != nullptr; }
	CSqScripting* GetSqScripting() const { return m_pScripting; }
	HSQUIRRELVM GetThread() const { return m_pThread; }

	// Makes this environment the running one and its constant table the shared one, and returns the stack
	// position where the previous shared table waits; Leave undoes both and drops everything above that position,
	// so calls must nest. Leave returns false when it ended the environment (a Destroy that had to wait).
	SQInteger Enter();
	bool Leave(SQInteger iSaved);
	// A native of this environment's namespace runs inside another environment's call: this one is the running one
	// meanwhile, counted as a call of its code is, without touching its thread. LeaveNative may end the environment
	// (a Destroy that had to wait).
	void EnterNative();
	void LeaveNative();

	bool OwnsRootTable(const HSQOBJECT& Table) const
	{
		return !m_RootTable.IsNull() && m_RootTable.GetObject()._unVal.pTable == Table._unVal.pTable;
	}
	// Holds the table at Index of v's stack, which this environment's code made a root table, until the environment
	// ends: closures keep their root table weakly, and code whose table went would count as code of an environment
	// that has ended. Throws std::bad_alloc.
	void HoldRoot(HSQUIRRELVM v, SQInteger Index);

	void AddFunction(CSqFunction* pFunction) { m_Functions.insert(pFunction); }
	void RemoveFunction(CSqFunction* pFunction) { m_Functions.erase(pFunction); }

private:
	friend class CSqScripting;

	bool Create();
	// The language is being destroyed: forget it and everything that lived in its VM.
	void Detach();
	void DetachFunctions();
	void ReleaseReferences();
	// Lets go of the tables that no closure has for its root and nothing else holds: they go, and no code can
	// ever be made with them again.
	void PruneHeldRoots();
	// Lets go of every held table; with bEnded they are remembered as root tables of an environment that has
	// ended.
	void ReleaseHeldRoots(bool bEnded);

	CSqScripting* m_pScripting;
	HSQUIRRELVM m_pThread;
	tSquirrelStrongReference m_ThreadReference;
	tSquirrelStrongReference m_ConstTable;
	// The root table the environment was made with; closures made with it belong to this environment.
	tSquirrelStrongReference m_RootTable;
	LinkedListNode<CSqScriptEnvironment*>* m_pNode;
	// Calls of this environment's code in progress, and a Destroy that waits for them.
	unsigned m_uiRunning;
	bool m_bDestroyPending;
	// Function values made in this environment; they are cut loose when it ends.
	std::unordered_set<CSqFunction*> m_Functions;
	// Tables this environment's code made root tables (HoldRoot), and how many were left by the last pruning.
	std::list<tSquirrelStrongReference> m_HeldRoots;
	size_t m_PrunedCount;
};

// A Squirrel function held as an engine function value.
class CSqFunction : public CFunction
{
public:
	// Takes a reference on the function at Index of v's stack: code of the environment the handle names (0: of
	// none), which is pEnvironment while that runs (null: never callable).
	CSqFunction(CSqScripting* pScripting, CSqScriptEnvironment* pEnvironment, uintptr_t Environment, HSQUIRRELVM v,
		SQInteger Index);
	~CSqFunction() override;

	// Runs the function in its environment with the environment's root table as this; the function's result
	// goes into pResult when one is wanted. False when the call failed or the environment has ended.
	bool Call(const CArgumentArray& Arguments, CReturnValue* pResult) override;

	CSqScriptEnvironment* GetEnvironment() const { return m_pEnvironment; }
	const tSquirrelStrongReference& GetClosure() const { return m_Closure; }
	// The environment is ending: the function can no longer run. Hands its closure over to the caller, who
	// releases it once every function of the environment is detached.
	tSquirrelStrongReference Detach();

private:
	CSqScriptEnvironment* m_pEnvironment;
	tSquirrelStrongReference m_Closure;
};

// A Squirrel value that has no engine counterpart (tag 20). Nothing of it travels.
class CArgumentSqRef : public CArgument
{
public:
	// Takes a reference on the value at Index of v's stack.
	CArgumentSqRef(HSQUIRRELVM v, SQInteger Index, CSqVMHandle* pReleaseVM);
	CArgument* Clone() const override;

	const tSquirrelStrongReference& GetReference() const { return m_Reference; }

private:
	CArgumentSqRef() : CArgument(ARGUMENT_SQREF) {}

	tSquirrelStrongReference m_Reference;
};

// Makes the language and registers it under the id of "Squirrel"; false (nothing registered) when the VM could
// not be opened or the registry is full.
bool RegisterSqVM(CScripting* pScripting);
