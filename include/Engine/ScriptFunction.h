#pragma once
// The one shape of every function a script can call, and the record that registers such a function.

#include <cstddef>

class CNativeState;
namespace Kestrin3D
{
namespace Interfaces
{
class INativeState;
}
}

// An engine native: argc counts the arguments after the receiver, pUserData is the pointer given at registration.
// Returns false exactly when it has reported an error through CNativeState::Error.
typedef bool (*NativeFunction)(CNativeState* pState, int argc, void* pUserData);

// A native of a plug-in module; it sees the call only through the module-facing view of the state.
typedef bool (*ModuleNativeFunction)(Kestrin3D::Interfaces::INativeState* pState, int argc, void* pUserData);

// Runs a module native over an engine call state. The plug-in layer installs one with
// ScriptFunction::SetModuleCaller; it owns the module-facing view and the temporary strings handed to the module.
typedef bool (*ModuleNativeCaller)(ModuleNativeFunction pfnNative, CNativeState* pState, int argc, void* pUserData);

// A registered callable: name, argument mask and exactly one native (an engine one or a module one).
class ScriptFunction
{
public:
	ScriptFunction();
	// Name and mask are copied; a null name or mask stays null.
	ScriptFunction(const char* szName, const char* szMask, NativeFunction pfnNative);
	ScriptFunction(const char* szName, const char* szMask, ModuleNativeFunction pfnModuleNative);
	~ScriptFunction();

	ScriptFunction(const ScriptFunction&) = delete;
	ScriptFunction& operator=(const ScriptFunction&) = delete;
	ScriptFunction(ScriptFunction&& Other) noexcept;
	// Frees this function's strings and takes over all four fields, leaving the source's strings null.
	ScriptFunction& operator=(ScriptFunction&& Other) noexcept;

	const char* GetName() const { return m_szName; }
	const char* GetMask() const { return m_szMask; }
	NativeFunction GetNative() const { return m_pfnNative; }
	ModuleNativeFunction GetModuleNative() const { return m_pfnModuleNative; }
	bool CanCall() const { return m_pfnNative != nullptr || m_pfnModuleNative != nullptr; }

	// The number of required arguments: the mask's characters before the first '|' or '*', the receiver 't' not
	// counted.
	size_t CalcArgumentCount() const;

	// Runs the engine native, else the module native; a function with neither fails with "Cannot call %s".
	bool Call(CNativeState* pState, int argc, void* pUserData) const;

	static void SetModuleCaller(ModuleNativeCaller pfnCaller);
	static ModuleNativeCaller GetModuleCaller();

	char* m_szName;
	char* m_szMask;
	NativeFunction m_pfnNative;
	ModuleNativeFunction m_pfnModuleNative;
};
