#pragma once
// The native-call layer: the state every native function receives, callable function values, the contract of the
// embedded script languages, and CScripting, the registry of languages with the global reflection namespace.
//
// A language calls a native like this:
//   CNativeState State(pScripting, pCallingResource, &Arguments, pLanguage, pCallStack);
//   State.SetThis(pReceiver);                      // methods only
//   if (pFunction->m_Function.Call(&State, (int)Arguments.GetArrayCount(), pFunction->m_pUserData))
//       push State.m_RVal.GetReturnArgument() (may be null: no value)
//   else
//       raise g_szError as the script error

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "Engine/BaseObject.h"
#include "Engine/KError.h"
#include "Engine/KestrinArguments.h"
#include "Engine/KestrinMath.h"
#include "Engine/KestrinReference.h"
#include "Engine/Reflection.h"
#include "Engine/ScriptFunction.h"

class CDefineHandlers;
class CResource;
class CScripting;
class CScriptingVM;
namespace Kestrin3D
{
namespace Interfaces
{
class IFunction;
class IScripting;
}
}
class Stream;

// What a native receives for one call. Made on the caller's stack; natives run on the main thread only.
class CNativeState
{
public:
	// Empties the return value, the receiver and the error flag, and clears the process-wide last-error text.
	// pLanguage and pCallStack tell which language's script made the call, and its call stack there (a Lua thread, a
	// Squirrel VM; JavaScript needs none), which CheckCallingCode hands back to it; a call no script makes has none.
	// Inline, as every native call makes one.
	CNativeState(CScripting* pScripting = nullptr, CResource* pResource = nullptr,
		const CArgumentArray* pArguments = nullptr, CScriptingVM* pLanguage = nullptr, void* pCallStack = nullptr)
		: m_pScripting(pScripting), m_pResource(pResource), m_pArguments(pArguments), m_bHasError(false),
		  m_pLanguage(pLanguage), m_pCallStack(pCallStack)
	{
		// Emptied directly, as formatting it costs more than the call of a small native.
		g_szError[0] = '\0';
	}
	~CNativeState() = default;

	CNativeState(const CNativeState&) = delete;
	CNativeState& operator=(const CNativeState&) = delete;

	CScripting* GetScripting() const { return m_pScripting; }
	CResource* GetResource() const { return m_pResource; }
	// For the few natives that start, stop or restart a resource, whose receiver stopped code may still hold:
	// false, with "The calling resource has stopped", when the script code that made the call belongs to a resource
	// instance that has stopped, whatever environment the call runs for (a function of one resource that another
	// one calls runs for the other). The language is asked, which may walk its stack: no other native needs this.
	bool CheckCallingCode();
	void SetArguments(const CArgumentArray* pArguments) { m_pArguments = pArguments; }
	const CArgumentArray* GetArguments() const { return m_pArguments; }
	size_t GetArgumentCount() const { return m_pArguments ? m_pArguments->GetArrayCount() : 0; }
	// Null when the index is not below the argument count.
	CArgument* GetArgument(size_t Index) const { return m_pArguments ? m_pArguments->GetAt(Index) : nullptr; }

	void SetThis(CBaseObject* pThis) { m_pThis = pThis; }
	CBaseObject* GetThisObject() const { return m_pThis.Get(); }

	// Formats into 4096 bytes, stores the text as the last-error text, sets the error flag and returns false, so a
	// native ends a failure with "return pState->Error(...)".
	bool Error(const char* szFormat, ...) __attribute__((format(printf, 2, 3)));
	bool ErrorV(const char* szFormat, va_list Args) __attribute__((format(printf, 2, 0)));
	// "Expected %s for argument %d", counting arguments from 1.
	bool TypeError(const char* szTypeName, size_t Index);

	// Argument checks. An index past the arguments fails like a value of the wrong kind; a failing check reports
	// through TypeError and returns false or null.
	const char* CheckString(size_t Index, size_t* pLength);
	bool CheckNumber(size_t Index, double& Value);
	bool CheckNumber(size_t Index, float& Value);
	bool CheckNumber(size_t Index, uint64_t& Value);
	bool CheckNumber(size_t Index, int64_t& Value);
	bool CheckNumber(size_t Index, uint32_t& Value);
	bool CheckNumber(size_t Index, int32_t& Value);
	// The low 8 bits of the unsigned 32-bit conversion; no range check.
	bool CheckNumber(size_t Index, uint8_t& Value);
	// The bytes of a string or bytes value.
	const uint8_t* CheckBytes(size_t Index, size_t& Length);
	bool CheckBoolean(size_t Index, bool& Value);
	// Refuses a function value that holds no function, and one whose code belongs to a resource instance that has
	// stopped ("Cannot use a function of a stopped resource").
	CFunction* CheckFunction(size_t Index);
	// An object or element value; an element whose network id did not resolve passes and yields null.
	CBaseObject* CheckReferenceable(size_t Index);
	// An object of pClass or a class derived from it; with bAllowNull also null and undefined (*ppOut null).
	bool CheckClass(ReflectedClass* pClass, size_t Index, bool bAllowNull, CBaseObject** ppOut);
	template <class T>
	bool CheckClass(ReflectedClass* pClass, size_t Index, bool bAllowNull, T** ppOut)
	{
		CBaseObject* pObject = nullptr;
		if (!CheckClass(pClass, Index, bAllowNull, &pObject))
			return false;
		*ppOut = static_cast<T*>(pObject);
		return true;
	}
	// A vector value, or an array of exactly two (three) numbers.
	bool CheckVector2D(size_t Index, CVector2D& Value);
	bool CheckVector3D(size_t Index, CVector3D& Value);
	bool CheckMatrix4x4(size_t Index, CMatrix4x4& Value);
	// The stream of a script "Stream" object; "Stream closed" once the script closed it.
	Stream* CheckStream(size_t Index);

	// The receiver check of methods; a null pClass accepts any receiver.
	bool GetThis(ReflectedClass* pClass, CBaseObject** ppOut);
	template <class T>
	bool GetThis(ReflectedClass* pClass, T** ppOut)
	{
		CBaseObject* pObject = nullptr;
		if (!GetThis(pClass, &pObject))
			return false;
		*ppOut = static_cast<T*>(pObject);
		return true;
	}

	// Each appends one value to the return slot; a native returns at most one.
	void ReturnNull();
	void ReturnUndefined();
	void ReturnBoolean(bool bValue);
	// 8-, 16- and 32-bit integers give a 32-bit integer value (an unsigned one keeps its bits); 64-bit integers a
	// 64-bit integer value.
	void ReturnNumber(int8_t Value);
	void ReturnNumber(uint8_t Value);
	void ReturnNumber(int16_t Value);
	void ReturnNumber(uint16_t Value);
	void ReturnNumber(int32_t Value);
	void ReturnNumber(uint32_t Value);
	void ReturnNumber(int64_t Value);
	void ReturnNumber(uint64_t Value);
	void ReturnNumber(float Value);
	void ReturnNumber(double Value);
	void ReturnString(const char* szValue);
	void ReturnString(const char* pValue, size_t Length);
	void ReturnBytes(const uint8_t* pData, size_t Length);
	void ReturnVector2D(const CVector2D& Value);
	void ReturnVector3D(const CVector3D& Value);
	void ReturnMatrix4x4(const CMatrix4x4& Value);
	// An object value; null gives a null value.
	void ReturnObject(CBaseObject* pObject);
	// Appends a clone.
	void Return(const CArgument* pValue);
	// Appends the value itself, taking over the caller's reference.
	void ReturnAndOwn(CArgument* pValue);
	// Wraps the stream in a new script "Stream" object that holds the only reference the call adds.
	void ReturnStream(Stream* pStream);

	CScripting* m_pScripting;
	// The resource whose script made the call; null for calls no resource makes.
	CResource* m_pResource;
	// Element 0 is the first argument after the receiver.
	const CArgumentArray* m_pArguments;
	CReturnValue m_RVal;
	bool m_bHasError;
	Weak<CBaseObject> m_pThis;
	CScriptingVM* m_pLanguage;
	void* m_pCallStack;
};

// A callable script or engine function held as a value. Its reflected class is "Function" of the namespace
// "reflection".
class CFunction : public CBaseObject
{
public:
	// Environment is the handle of the environment whose script code the function is (CScriptEnvironment::GetHandle),
	// whoever handed it over; 0 for a function of no script (an engine or module function).
	explicit CFunction(CScripting* pScripting, uintptr_t Environment = 0);
	~CFunction() override;

	// pResult may be null when the caller wants no value.
	virtual bool Call(const CArgumentArray& Arguments, CReturnValue* pResult) = 0;

	uintptr_t GetEnvironmentHandle() const { return m_Environment; }
	// Whether the function is code of a resource instance that has stopped: it will never run again.
	bool HasStopped() const;
	// The resource whose code the function is, while that instance runs; null for a function of no script and once
	// the instance has stopped.
	CResource* GetCodeResource() const;
	// What goes with a resource that stops: a registration it made (pAdder, the resource that registered it), or
	// one that holds its code, whoever registered it, or code of an instance that has already stopped.
	static bool GoesWithResource(CResource* pAdder, const CFunction* pFunction, CResource* pResource);

	// The plug-in-facing view, made on first request by the plug-in layer.
	Kestrin3D::Interfaces::IFunction* m_pFunctionInterface;

private:
	uintptr_t m_Environment;
};

// The global scope of one resource in one language.
//
// Code of a resource can run after its resource has stopped: the rest of a call that stopped its own resource, a
// finaliser, a promise reaction, a coroutine or an object handed to another resource. None of it may act any more.
// So every native call from a script asks which environment it runs for, and an ended environment refuses it (see
// CScripting::CheckCaller): the natives of a namespace run for the environment whose global scope they were taken
// from, whoever's code calls them; methods, constructors and function values for the environment on top of the
// language's environment stack.
class CScriptEnvironment : public CBase
{
public:
	CScriptEnvironment();
	// From here on the handle names nothing.
	~CScriptEnvironment() override;

	CScriptEnvironment(const CScriptEnvironment&) = delete;
	CScriptEnvironment& operator=(const CScriptEnvironment&) = delete;

	// Ends the environment; the resource forgets it right after.
	virtual void Destroy() = 0;
	// Compiles and runs the whole stream; false on a compile or run-time error, which the language reports itself.
	virtual bool DoFile(Stream* pStream, const char* szName) = 0;

	CResource* GetResource() const { return m_pResource; }
	void SetResource(CResource* pResource) { m_pResource = pResource; }

	// Set by Destroy: the resource stopped (or, for this old instance, restarted). Its code may go on running and
	// freeing what it holds, but nothing may act for it.
	bool HasEnded() const { return m_bEnded; }

	// A number that names this environment while it exists and never another one: what script values that stand
	// for the environment keep, where a pointer would dangle once the environment is gone.
	uintptr_t GetHandle() const { return m_Handle; }
	// The environment the handle names, or null once it is gone (it ended before that).
	static CScriptEnvironment* FromHandle(uintptr_t Handle);
	// A handle that never names an environment: for code a language knows to belong to one that is gone, when it
	// can no longer tell which.
	static constexpr uintptr_t GONE_HANDLE = 0xFFFFFFFFu;
	// Whether code of the environment the handle names may act: false once that environment has ended or is gone.
	static bool IsRunning(uintptr_t Handle)
	{
		const CScriptEnvironment* pEnvironment = FromHandle(Handle);
		return pEnvironment != nullptr && !pEnvironment->HasEnded();
	}

	// Not owned.
	CResource* m_pResource;

protected:
	// Forgets the resource and marks the environment ended: the first step of every language's Destroy.
	void End()
	{
		m_pResource = nullptr;
		m_bEnded = true;
	}

private:
	uintptr_t m_Handle;
	bool m_bEnded;
};

// One embedded script language.
class CScriptingVM : public CBase
{
public:
	~CScriptingVM() override = default;

	// Makes every class of the global namespace known to the language; false stops the server's start.
	virtual bool DefineClasses() = 0;
	virtual void CollectGarbage() = 0;
	// A new, empty global scope for one resource, or null.
	virtual CScriptEnvironment* CreateEnvironment(const char* szResourceName) = 0;
	// The handle of the environment whose script code made the native call now running on pCallStack (what the
	// language gave the CNativeState of the call): that code's own environment, not the one the call runs for. 0 when
	// the language cannot tell, and the call's own environment then answers for it.
	virtual uintptr_t FindCallingCode(void* /*pCallStack*/) { return 0; }
};

// The registry of script languages (keyed by the plain CRC-32 of the language name) and owner of the reflection
// tree rooted at "global". One per process, owned by the resource manager.
class CScripting : public CBase
{
public:
	enum
	{
		MAX_VMS = 16,
	};

	struct tVMEntry
	{
		uint32_t m_uiId;
		CScriptingVM* m_pVM;
	};

	// Builds "global" with the namespaces "reflection" and "module" and the class "Function" in "reflection".
	CScripting();
	// Clears the reflection tree, then deletes every language in registration order.
	~CScripting() override;

	CScripting(const CScripting&) = delete;
	CScripting& operator=(const CScripting&) = delete;

	// Takes ownership of pVM. A full table refuses it (false): the caller still owns it.
	bool AddVM(uint32_t uiId, CScriptingVM* pVM);
	CScriptingVM* GetVM(const char* szName) const;
	CScriptingVM* GetVM(uint32_t uiId) const;
	size_t GetVMCount() const { return m_VMCount; }
	CScriptingVM* GetVMAt(size_t Index) const { return Index < m_VMCount ? m_rgVMs[Index].m_pVM : nullptr; }
	// The id under which a language registers: the plain CRC-32 of its name.
	static uint32_t GetLanguageId(const char* szName);

	// Runs every language's collection in registration order.
	void CollectGarbage();

	// Scripts may no longer act: from here on every native call from a script fails with "Scripting is shutting
	// down". The server closes the registry once every resource has stopped, before the managers the natives work
	// on go, since script code (finalisers) can still run in the collections that follow.
	void Close() { m_bClosed = true; }
	bool IsClosed() const { return m_bClosed; }
	// Whether code running for pEnvironment (null: for no environment) may call a native: false, with the reason as
	// the last-error text, once the environment has ended, or without an environment once the registry is closed
	// (the registry is closed only once every resource has stopped, and no resource starts after that, so every
	// environment has ended by then). Every native call asks, so the answer "yes" takes only these tests.
	bool CheckCaller(const CScriptEnvironment* pEnvironment) const
	{
		if (pEnvironment != nullptr ? !pEnvironment->HasEnded() : !m_bClosed)
			return true;
		return RefuseCaller();
	}
	// The refusal of a call whose environment no longer exists (a handle that names nothing): it has ended. False,
	// with the reason as the last-error text.
	bool RefuseCaller() const;

	// Every language binds the classes of the registry, in registration order; the first that fails ends it
	// (false). The registry is sealed either way: from here on the languages hold on to what it contains.
	bool DefineAllClasses();

	// The global functions toColour, collectAllGarbage and inPoly.
	void RegisterUtilityFunctions();
	// The namespaces "sdl" and "platform".
	void RegisterSDLFunctions();
	// The functions of the namespace "reflection".
	void RegisterReflectionFunctions();

	ReflectedNamespace* GetGlobal() { return &m_Global; }
	ReflectedNamespace* GetReflectionNamespace() const { return m_pReflectionNamespace; }
	// Parent of the namespaces that plug-in modules register.
	ReflectedNamespace* GetModuleNamespace() const { return m_pModuleNamespace; }
	ReflectedClass* GetFunctionClass() const { return m_pFunctionClass; }
	ReflectedClass* GetTextReaderClass() const { return m_pTextReaderClass; }
	void SetTextReaderClass(ReflectedClass* pClass) { m_pTextReaderClass = pClass; }
	CDefineHandlers* GetDefineHandlers() const { return m_pDefineHandlers; }
	void SetDefineHandlers(CDefineHandlers* pDefineHandlers) { m_pDefineHandlers = pDefineHandlers; }

	// The plug-in-facing view, made on first request by the plug-in layer.
	Kestrin3D::Interfaces::IScripting* m_pScriptingInterface;
	size_t m_VMCount;
	tVMEntry m_rgVMs[MAX_VMS];
	ReflectedNamespace m_Global;
	ReflectedNamespace* m_pReflectionNamespace;
	ReflectedNamespace* m_pModuleNamespace;
	ReflectedClass* m_pFunctionClass;
	ReflectedClass* m_pTextReaderClass;
	CDefineHandlers* m_pDefineHandlers;
	bool m_bClosed;
};

// The native behind script values that wrap an engine function value: pUserData is the CFunction. The Lua and
// JavaScript languages each keep one ScriptFunction with an empty name and mask over it.
bool FunctionCallback(CNativeState* pState, int argc, void* pUserData);
