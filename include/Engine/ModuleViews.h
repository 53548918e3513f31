#pragma once
// The server's side of the plug-in module interfaces: the views that show engine objects to modules, the module
// interface each loaded module gets, and the function value over a module native.
//
// A view is a small object implementing one interface over one engine object, with a plain reference count that
// starts at 1. Most views are cached in their engine object, so asking twice gives the same view; a view of a
// counted object (value, object, stream, function) holds one reference to it, views of the registries hold none.
// A registry node that goes away while a module still holds its view leaves that view detached: it answers as if
// the node did not exist.

#include "Engine/Interfaces/ModuleInterfaces.h"
#include "Engine/KestrinNative.h"

class CArgument;
class CArgumentArray;
class CArgumentMap;
class CBaseObject;
class CDefineHandlers;
class CFunction;
class CNativeState;
class CScripting;
class ReflectedClass;
class ReflectedNamespace;
class Stream;

namespace Kestrin3D
{
namespace Interfaces
{
// The cached view of the object with one new reference for the caller, made on first request; null for null.
IScripting* GetView(CScripting* pScripting);
IDefineHandlers* GetView(CDefineHandlers* pDefines);
IReflectedNamespace* GetView(ReflectedNamespace* pNamespace);
IReflectedClass* GetView(ReflectedClass* pClass);
IBaseObject* GetView(CBaseObject* pObject);
IStream* GetView(Stream* pStream);
IFunction* GetView(CFunction* pFunction);
IArgument* GetView(CArgument* pValue);
IArray* GetView(CArgumentArray* pArray);
IDictionary* GetView(CArgumentMap* pMap);

// The engine object behind a view; null for a null or detached view and for one the server did not make (a module
// can hand back any object implementing the interface).
CScripting* Unwrap(IScripting* pView);
ReflectedNamespace* Unwrap(IReflectedNamespace* pView);
ReflectedClass* Unwrap(IReflectedClass* pView);
CBaseObject* Unwrap(IBaseObject* pView);
Stream* Unwrap(IStream* pView);
CFunction* Unwrap(IFunction* pView);
CArgument* Unwrap(IArgument* pView);
CArgumentArray* Unwrap(IArray* pView);
CArgumentMap* Unwrap(IDictionary* pView);

// Called by the engine objects as they go, for the views modules may still hold. Registries and their nodes go
// whatever their views; a counted object only when it is destroyed whatever its count (Obliterate), after which
// its view must not release it any more.
void DetachView(IScripting* pView);
void DetachView(IDefineHandlers* pView);
void DetachView(IReflectedNamespace* pView);
void DetachView(IReflectedClass* pView);
void DetachView(IBaseObject* pView);
void DetachView(IStream* pView);
void DetachView(IFunction* pView);

// Whether pClass is pTarget or derives from it. Only classes that still exist are followed: an object can outlive
// its class at shutdown, and a module can clear a namespace holding a base class.
bool IsClassOf(const ReflectedClass* pClass, const ReflectedClass* pTarget);

// Runs a module native for ScriptFunction::Call with a call view over the engine state.
bool CallModuleNative(ModuleNativeFunction pfnNative, CNativeState* pState, int argc, void* pUserData);

// The interface of one loaded module. The loader makes it, hands it to RegisterModule and releases its reference
// afterwards; a module that keeps it takes its own.
class CModuleInterfaceImpl final : public IModuleInterface
{
public:
	enum
	{
		ERROR_TEXT_SIZE = 1024,
	};

	// Also installs CallModuleNative as the engine's module caller: a module can register natives from here on.
	explicit CModuleInterfaceImpl(CScripting* pScripting);

	CModuleInterfaceImpl(const CModuleInterfaceImpl&) = delete;
	CModuleInterfaceImpl& operator=(const CModuleInterfaceImpl&) = delete;

	Result GetInterface(const tUUID& Id, void** ppOut) override;
	int32_t AddRef() override;
	int32_t Release() override;

	void GetAPIVersion(uint32_t& uiMajor, uint32_t& uiMinor) override;
	Result CreateInstance(const tUUID& Id, void** ppOut) override;
	Result GetScripting(IScripting** ppOut) override;
	Result GetNamespace(IReflectedNamespace** ppOut) override;
	Result SetInternalName(const char* szName) override;
	Result Log(uint32_t uiLevel, const char* szText) override;
	Result SetError(const char* szText) override;
	const char* GetError() override;

	bool HasFailed() const { return m_bFailed; }
	// The text of the module's last SetError: the reason the loader reports, whatever ran after it.
	const char* GetFailure() const { return m_szFailure; }
	// The namespace made for the module's exported MODULE_NAME. GetNamespace answers with it until the module
	// names a namespace of its own with SetInternalName.
	void SetExportedNamespace(ReflectedNamespace* pNamespace) { m_pExportedNamespace = pNamespace; }

	// The registry is going: every module interface over it forgets it and its namespace.
	static void DetachAll(CScripting* pScripting);

private:
	~CModuleInterfaceImpl();

	int32_t m_iRefCount;
	CScripting* m_pScripting;
	// Set by SetInternalName.
	ReflectedNamespace* m_pNamespace;
	ReflectedNamespace* m_pExportedNamespace;
	bool m_bFailed;
	char m_szFailure[ERROR_TEXT_SIZE];
};

// A function value whose calls run a module native, for IArgumentFactory::CreateFunction. Scripts see it as any
// other function object.
class CInlineFunction : public CFunction
{
public:
	CInlineFunction(CScripting* pScripting, ModuleNativeFunction pfnNative, void* pUserData);

	bool Call(const CArgumentArray& Arguments, CReturnValue* pResult) override;

private:
	CScripting* m_pScripting;
	ModuleNativeFunction m_pfnNative;
	void* m_pUserData;
};
}
}
