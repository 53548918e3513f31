#pragma once
// The Lua 5.3 language of the script host. One state serves the whole process; each resource runs in its own
// environment table (the _ENV of its chunks) holding a fixed selection of the standard libraries, the constants
// and the whole reflected script interface. Everything here runs on the main thread.
//
// Rules every script binding keeps (the JavaScript and Squirrel bindings follow the same ones):
// 1. Function values that outlive their environment. A script function held by the engine keeps a counted
//    reference to its environment object. Destroy() marks the environment destroyed, forgets its resource and
//    drops what it holds in the script engine (its global table and the functions made from its code). From then
//    on, and once the language itself is gone, calling such a function runs nothing: it logs
//    "SCRIPT ERROR: Cannot call a function of a stopped resource" and returns false. Registry references still
//    alive when the state closes are detached and never touched again.
// 2. Nesting. Turning a script table or array into an engine value fails when it contains itself
//    ("Cannot convert a value that contains itself") or when containers nest deeper than
//    ARGUMENT_MAX_ENCODED_DEPTH (64) levels ("Cannot convert a value nested deeper than 64 levels"); an engine
//    value nested deeper fails the same way on its way into a script. For the arguments of a native the text is
//    raised as a script error in the calling script; for the result of a script function called by the engine it
//    is logged as "SCRIPT ERROR: %s" and the call returns false. The same holds for a table whose length is over
//    ARGUMENT_MAX_CONVERTED_ELEMENTS ("Cannot convert an array of N elements") and for a conversion (all the
//    arguments of one native call, or one result) that would make more engine values from tables than that,
//    counting a table once for every place that holds it and the entries of tables that become maps as well
//    ("Cannot convert more than 4194304 array elements at once").
// 3. Foreign host objects. Only a full userdata of exactly the wrapper's size whose metatable is one of the
//    language's class tables is an engine object. Any other userdata (io's file handles, say) never is: as a
//    value it becomes a Lua reference (tag 13), a light userdata becomes undefined, and in the receiver position
//    either gives no receiver ("'this' is null").
// 4. Finalisers. A wrapper holds one counted reference to its object and lets it go exactly once: its slot is
//    cleared before the release, so "__gc" called by hand, called twice, or called on a wrapper the collector has
//    already finalised releases nothing more. A wrapper that has let go and is still held by a script is an empty
//    object: it converts to nil and as a receiver gives "'this' is null". Pushing the object again makes a new
//    wrapper.
// 5. Map keys. A key is the text of a string key or the text Lua gives a number key (5 -> "5", 1.5 -> "1.5");
//    any other key fails the conversion with "Cannot convert a %s key" (the language's type name: boolean,
//    table, function, userdata, thread).
// 6. Argument positions. Every script argument becomes exactly one engine value, nil included (tag 0), so the
//    n-th script argument is always the n-th argument of the native; a null engine argument reaches a script as
//    nil.
// 7. Files. Scripts open files only through the engine's file functions: io.input and io.output take no file
//    name ("opening files by name is not allowed"); io.open, io.lines, io.popen, io.tmpfile, dofile, loadfile and
//    require do not exist.
// 8. Script errors never escape. Engine-side work on the state runs protected, so an error that a script's own
//    finaliser raises while the engine converts values or collects garbage is logged as "SCRIPT ERROR: %s"
//    instead of ending the process; natives called while the language is closing fail with
//    "Scripting is shutting down". Nor do C++ exceptions: memory the engine cannot get while a script calls a
//    native (converting its arguments or result, or in the native itself) fails the call with the script error
//    "not enough memory", and while the engine calls a script function the call fails and logs
//    "SCRIPT ERROR: not enough memory".
// 9. Engine memory. A handle that is all that keeps its engine object alive (a destroyed element, a vector a native
//    returned) tells its collector what the object retains (CBaseObject::GetRetainedBytes), again whenever that
//    grows, so that the collector comes round to such handles in step with the engine memory they hold rather
//    than with their own small size. Lua takes it as a debt, paid as a collection step before the next native runs
//    (never while a script has stopped the collector); JavaScript as memory associated with the wrapper, which
//    counts towards its zone's next collection. Squirrel frees by reference count and needs neither.
// 10. Code that outlives its environment. A resource's code can run after Destroy without any function value
//    being called: the rest of the call that stopped the resource, a finaliser, a promise reaction, a coroutine,
//    object or generator that another resource holds. It runs, but acts for nobody: every native it calls through
//    a namespace (whose closures belong to the environment whose global scope they were made for, and run for it
//    whoever calls them) fails with "The calling resource has stopped", as does every method and constructor
//    while the environment on top of the stack has ended. Once the registry is closed (CScripting::Close), every
//    native fails with "Scripting is shutting down".
// 11. Code belongs to its environment. A Lua function is code of the environment whose global table is its _ENV;
//    one that reads no global has no _ENV and is code of the environment that ran its script file last (a restart
//    makes old code of a resource count as its running instance's); a function whose _ENV is a table of the
//    script's own making counts by its file in the same way. A function value the engine keeps belongs to that
//    environment, whoever handed it over: the handlers and timers that call it go when the environment ends, and
//    calls of it are refused from then on (rule 1). The few natives that start, stop or restart a resource ask
//    which code calls them (FindCallingCode).
// 12. Finalisers. setmetatable (and debug.setmetatable) hands the finalising of an object whose metatable has "__gc"
//    to a guard of the engine's, so that a finaliser runs protected: its error is logged as "SCRIPT ERROR: %s" and
//    never raised into whatever code was allocating when the collector ran it, and the other finalisers still run.
//    It runs as any code that another resource's call runs (rule 10). Lua's own rules stay: "__gc" must be in the
//    metatable when it is set, the finaliser called is the one the metatable holds then, and an object is finalised
//    once per marking.
// 13. Upvalues of C functions (engine natives, the metamethods of classes and namespaces, load, and Lua's own C
//    closures) are records their functions read unchecked: debug.setupvalue refuses to change them ("Lua function
//    expected"), as debug.upvaluejoin does.

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <lua.hpp>

#include "Engine/KestrinArguments.h"
#include "Engine/KestrinArray.h"
#include "Engine/KestrinNative.h"
#include "LuaScripting/LuaStrongReference.h"

class CLuaFunction;
class CLuaScriptEnvironment;
struct tLuaType;

// Makes the language and adds it to the registry under "Lua". False, with the reason logged, when the state
// cannot be made; the server then runs without Lua.
bool RegisterLuaVM(CScripting* pScripting);

class CLuaScripting : public CScriptingVM
{
public:
	explicit CLuaScripting(CScripting* pScripting);
	// Closes the state (every remaining wrapper is finalised), then detaches whatever still refers to it.
	~CLuaScripting() override;

	CLuaScripting(const CLuaScripting&) = delete;
	CLuaScripting& operator=(const CLuaScripting&) = delete;

	// Creates the state and opens the libraries; false when the state cannot be made.
	bool Initialise();
	// The language of a state or of one of its coroutines (which start with a copy of the main state's extra
	// space). Asked by every native call.
	static CLuaScripting* FromState(lua_State* pState)
	{
		return *static_cast<CLuaScripting**>(lua_getextraspace(pState));
	}

	bool DefineClasses() override;
	void CollectGarbage() override;
	CScriptEnvironment* CreateEnvironment(const char* szResourceName) override;

	// Pushes one Lua value for an engine value (nil for null). Raises a Lua error for a value nested too deep, so
	// it runs only where errors are caught.
	int PushArgument(const CArgument* pValue, lua_State* pState, CLuaScriptEnvironment* pEnvironment);
	// Pushes a value of no kind of its own in Lua (null, undefined, a boolean or a number) and gives true; pushes
	// nothing for any other value (false). Raises no error: the caller has made room for the value.
	static bool PushScalar(const CArgument* pValue, lua_State* pState);
	// A new engine value for the Lua value at the index; null, with the reason as the last-error text, when the
	// value cannot be converted (rules 2 and 5 above). Counts towards the conversion now running, or is one of its
	// own when none is.
	CArgument* CreateArgument(lua_State* pState, int iIndex);
	// As CreateArgument for the values whose conversion can raise no Lua error, so that it may run unprotected: nil,
	// booleans, numbers, strings, light userdata and engine objects. For any other value *pbPlain is false and
	// nothing is made.
	CArgument* CreatePlainArgument(lua_State* pState, int iIndex, bool* pbPlain);
	// Bracket the conversions of one native call's arguments or of one result, from outside the protected call
	// that runs them (a Lua error leaves that by a long jump). Conversions nest when a script finaliser run by one
	// calls a native; the outermost starts the count of elements afresh.
	void BeginConversion()
	{
		if (m_uiConversions++ == 0)
			m_ConvertedElements = 0;
	}
	void EndConversion() { m_uiConversions--; }

	// Class tables of every class of the namespace and its children.
	bool DefineClasses(ReflectedNamespace* pNamespace);
	// Fills the table on top of the main state from the namespace and gives it its metatable.
	void RegisterNamespace(ReflectedNamespace* pNamespace, CLuaScriptEnvironment* pEnvironment);
	// table[name] = a closure over the function (the table on top of the stack); a namespace function (not
	// bThisCall) belongs to the environment whose handle is given.
	void RegisterLuaFunction(const ScriptFunction* pFunction, bool bThisCall, void* pUserData,
		uintptr_t Environment = 0);
	// The class's record, or null before the class is defined.
	tLuaType* GetLuaType(ReflectedClass* pClass);

	uintptr_t FindCallingCode(void* pCallStack) override;
	// The environment whose code the function at the index is (rule 11), as a handle: 0 for a C function and for
	// code of no environment's file. The handle may name an environment that has ended, or none any more.
	uintptr_t FindCodeHandle(lua_State* pState, int iIndex);
	// An environment's table makes functions whose _ENV it is its environment's code; its script files make
	// those that read no global its code (the newest environment to run a file wins). A file name is one
	// resource's: should environments of two resources run files of one name, code of that name is nobody's.
	void AddEnvironmentTable(lua_State* pState, int iTable, uintptr_t Handle);
	// Has coroutine.resume and coroutine.wrap note who resumes a coroutine, and notes the C functions of Lua's own
	// libraries: FindCallingCode walks past those (pcall, a coroutine's resume) to the code that called them, and
	// stops at any other C function, where the engine called what runs above it.
	void SetUpCallerChains(lua_State* pState);
	void AddSourceFile(const char* szName, uintptr_t Handle, const char* szResource);

	// The environment of this language that a handle names (CScriptEnvironment::GetHandle); null once it is gone.
	// Natives of a namespace and load find the environment they belong to by it, whoever's code calls them (a
	// finaliser or a coroutine of one resource run inside another's call).
	CLuaScriptEnvironment* FindEnvironment(uintptr_t Handle) const;

	// Environments whose code is running; the first is the calling resource's.
	void PushEnvironment(CLuaScriptEnvironment* pEnvironment);
	void PopEnvironment();
	CLuaScriptEnvironment* GetCurrentEnvironment() const
	{
		LinkedListNode<CLuaScriptEnvironment*>* pNode = m_EnvironmentStack.GetFirstNode();
		return pNode != nullptr ? pNode->GetValue() : nullptr;
	}

	// Logs "SCRIPT ERROR: %s" with the value at the index as text, without running any script code.
	static void ReportError(lua_State* pState, int iIndex);
	static void LogScriptError(const char* szText);

	lua_State* GetState() const { return m_pState; }
	CScripting* GetScripting() const { return m_pScripting; }
	uint32_t GetId() const { return m_uiId; }
	const ScriptFunction* GetCallbackFunction() const { return &m_CallbackFunction; }
	// True from the start of destruction: natives are refused while the state closes.
	bool IsClosing() const { return m_bClosing; }

	// Engine memory that wrappers alone now keep alive, in bytes, for the collector to hear of at the next
	// PayCollectorDebt. Only counts: safe from anywhere, finalisers and the closing state included.
	void AddCollectorDebt(size_t Bytes) { m_CollectorDebt += Bytes; }
	// Tells the collector that memory as if Lua had allocated it, so that it comes round to those wrappers in step
	// with the engine memory they hold, not only with its own small blocks. Runs a collection step on pState,
	// protected (a script finaliser's error is logged); nothing while the collector is stopped by a script or a
	// finaliser is running, or under a kilobyte is owed.
	void PayCollectorDebt(lua_State* pState)
	{
		if (m_CollectorDebt >= COLLECTOR_DEBT_STEP)
			PayCollectorDebtNow(pState);
	}

	void LinkReference(CLuaStrongReference* pReference);
	void UnlinkReference(CLuaStrongReference* pReference);
	void AddEnvironment(CLuaScriptEnvironment* pEnvironment) { m_Environments.insert(pEnvironment); }
	void RemoveEnvironment(CLuaScriptEnvironment* pEnvironment) { m_Environments.erase(pEnvironment); }
	// The class tables by address (Lua never moves a table), so that telling a wrapper by its metatable needs no
	// lookup in Lua; the registry's set of them keeps them alive as long as the state.
	void AddClassTable(const void* pTable) { m_ClassTables.insert(pTable); }
	bool IsClassTable(const void* pTable) const { return m_ClassTables.count(pTable) != 0; }

private:
	// The least debt worth a collection step, in bytes.
	static constexpr size_t COLLECTOR_DEBT_STEP = 1024;
	void PayCollectorDebtNow(lua_State* pState);
	int PushArgument(const CArgument* pValue, lua_State* pState, unsigned Depth);
	CArgument* CreateArgument(lua_State* pState, int iIndex, unsigned Depth, const void** ppPath);
	CArgument* CreateTableArgument(lua_State* pState, int iIndex, unsigned Depth, const void** ppPath);
	// Adds the elements a table is about to make to the running conversion; false, with the error text set, when
	// that would pass ARGUMENT_MAX_CONVERTED_ELEMENTS.
	bool CountElements(size_t Count);
	void PushValueObject(lua_State* pState, ReflectedClass* pClass, const CArgument* pValue);

	CScripting* m_pScripting;
	lua_State* m_pState;
	LinkedList<CLuaScriptEnvironment*> m_EnvironmentStack;
	uint32_t m_uiId;
	ScriptFunction m_CallbackFunction;
	bool m_bClosing;
	// Every reference that holds a value, and every environment, so that closing can detach them.
	CLuaStrongReference* m_pReferences;
	std::unordered_set<CLuaScriptEnvironment*> m_Environments;
	std::unordered_set<const void*> m_ClassTables;
	// Per script file name, the resource that ran it and its environments that did, oldest first (rule 11).
	struct tSourceFile
	{
		std::string m_Resource;
		bool m_bShared = false;
		std::vector<uintptr_t> m_Handles;
	};
	std::unordered_map<std::string, tSourceFile> m_SourceFiles;
	std::unordered_set<lua_CFunction> m_LibraryFunctions;
	// Engine values made from tables by the conversions now running; a table counts for every place that holds it.
	size_t m_ConvertedElements;
	unsigned m_uiConversions;
	size_t m_CollectorDebt;
};

// One resource's global scope.
class CLuaScriptEnvironment : public CBaseObject, public CScriptEnvironment
{
public:
	// Both bases come from CBase; the object is allocated and freed through one of them.
	using CBaseObject::operator new;
	using CBaseObject::operator delete;

	explicit CLuaScriptEnvironment(CLuaScripting* pLua);
	~CLuaScriptEnvironment() override;

	// Marks the environment destroyed, forgets the resource, lets go of its table and of the functions made from
	// its code, and drops the resource's reference.
	void Destroy() override;
	bool DoFile(Stream* pStream, const char* szName) override;
	// Protected call of the function and arguments on top of the main state, with this environment running;
	// errors are logged. The results stay on the stack on success.
	bool Call(int iArguments, int iResults);

	// Whether code of this environment may still run.
	bool IsUsable() const { return !HasEnded() && m_pLua != nullptr && !m_pLua->IsClosing(); }
	CLuaScripting* GetLua() const { return m_pLua; }
	// Pushes the environment table (nil once destroyed).
	void PushTable(lua_State* pState) const { m_Table.Push(pState); }
	// Fills the table; run protected on the main state.
	void Build();

	void AddFunction(CLuaFunction* pFunction) { m_Functions.insert(pFunction); }
	void RemoveFunction(CLuaFunction* pFunction) { m_Functions.erase(pFunction); }
	// The language is going away.
	void Detach() { m_pLua = nullptr; }

private:
	CLuaScripting* m_pLua;
	CLuaStrongReference m_Table;
	std::unordered_set<CLuaFunction*> m_Functions;
};

// A Lua function as an engine function value; gives at most one result.
class CLuaFunction : public CFunction
{
public:
	// Takes the function on top of pState: code of the environment the handle names (0: of none), which is
	// pEnvironment while that exists (null: never callable).
	CLuaFunction(CScripting* pScripting, CLuaScriptEnvironment* pEnvironment, uintptr_t Environment, lua_State* pState);
	~CLuaFunction() override;

	bool Call(const CArgumentArray& Arguments, CReturnValue* pResult) override;

	CLuaScriptEnvironment* GetEnvironment() const { return m_pEnvironment; }
	// Lets go of the Lua function: its environment was destroyed.
	void ReleaseFunction() { m_Function.Release(); }
	void PushFunction(lua_State* pState) const { m_Function.Push(pState); }

private:
	Strong<CLuaScriptEnvironment> m_pEnvironment;
	CLuaStrongReference m_Function;
};

// What the closure of an engine function or method keeps, in the full userdata that is its one upvalue: the
// function, its user data and, for a namespace function, the handle of the environment whose table holds it
// (CScriptEnvironment::GetHandle; 0 for methods). One block, so a call reads a single upvalue; it lives exactly as
// long as the closures that hold it.
struct tLuaNativeFunction
{
	const ScriptFunction* m_pFunction;
	void* m_pUserData;
	uintptr_t m_Environment;
};

// Pushes a new tLuaNativeFunction.
void PushLuaNativeFunction(lua_State* pState, const ScriptFunction* pFunction, void* pUserData, uintptr_t Environment);

// The Lua C functions behind engine functions and methods (and constructors); their upvalue is a
// tLuaNativeFunction.
int LuaFunctionStatic(lua_State* pState);
int LuaFunctionThiscall(lua_State* pState);
// The closure made for an engine function value: its one upvalue is the wrapper of the CFunction.
int LuaFunctionCallback(lua_State* pState);
// setmetatable and debug.setmetatable (rule 12), C closures that PushSetMetatable makes.
int LuaFunctionSetMetatable(lua_State* pState);
int LuaFunctionDebugSetMetatable(lua_State* pState);
// Makes the registry's table of environment tables, and the finaliser guards' table and metatable; before any
// PushSetMetatable.
void CreateCodeTables(lua_State* pState);
// Pushes LuaFunctionSetMetatable or LuaFunctionDebugSetMetatable with the upvalues it reads.
void PushSetMetatable(lua_State* pState, lua_CFunction pfnFunction);
// Calls the native with the values iFirst .. iFirst + iCount - 1 (with bMethod, the first is the receiver).
// pHold, when given, is kept alive for the call. Environment is the handle of the environment a namespace native
// belongs to, which the call then runs for; 0 for methods and function values, which run for the current one.
// Code of an environment that has ended calls nothing ("The calling resource has stopped").
int LuaFunctionGeneric(lua_State* pState, int iFirst, int iCount, const ScriptFunction* pFunction, bool bMethod,
	void* pUserData, CBaseObject* pHold = nullptr, uintptr_t Environment = 0);
