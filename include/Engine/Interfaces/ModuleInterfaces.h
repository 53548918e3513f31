#pragma once
// The only header a native plug-in module compiles against. A module is a shared library that exports
//
//   extern "C" intptr_t RegisterModule(void* pNamespace, Kestrin3D::Interfaces::IModuleInterface* pInterface);
//   extern "C" const char* MODULE_NAME;                      (optional)
//   extern "C" void UnregisterModule(intptr_t Value);         (optional)
//
// each also found under the same name with a leading underscore. The server names the module in the `modules`
// element of its configuration, opens it while it reads that configuration and calls UnregisterModule with what
// RegisterModule returned when it shuts down.
//
// Every interface is a table of virtual operations in a fixed slot order: modules built on their own call through
// these tables, so neither the order nor the argument types may ever change. No interface has a virtual
// destructor; a view goes away when its last reference is released. Views are not thread-safe: call them on the
// thread that called the module.

#include <cstddef>
#include <cstdint>

namespace Kestrin3D
{
namespace Interfaces
{
// The status of an operation. Tests and accessors return plain values instead.
typedef int32_t Result;

enum : Result
{
	RESULT_OK = 0,
	// The answer "no" of IsA and ToBoolean.
	RESULT_NO = 1,
	// Failed; GetError tells why.
	RESULT_FAILED = -1,
	// Not implemented, a slot already taken, or a failed copy.
	RESULT_NOT_AVAILABLE = -2,
	RESULT_REGISTRATION_FAILED = -3,
	RESULT_OUT_OF_RANGE = -4,
	// An id the view does not answer, a missing name or key, no receiver, or a view of the wrong kind.
	RESULT_NOT_FOUND = -5,
	RESULT_NULL_ARGUMENT = -6,
	// A return value already given, a value that could not be made, or a value that holds nothing.
	RESULT_NO_VALUE = -7,
};

// An interface id in the usual GUID layout; ids are compared as whole 16-byte values.
struct tUUID
{
	uint32_t m_uiData1;
	uint16_t m_usData2;
	uint16_t m_usData3;
	uint8_t m_rgucData4[8];
};
static_assert(sizeof(tUUID) == 16, "an interface id is 16 bytes");

inline bool operator==(const tUUID& Left, const tUUID& Right)
{
	if (Left.m_uiData1 != Right.m_uiData1 || Left.m_usData2 != Right.m_usData2 || Left.m_usData3 != Right.m_usData3)
		return false;
	for (int i = 0; i < 8; i++)
	{
		if (Left.m_rgucData4[i] != Right.m_rgucData4[i])
			return false;
	}
	return true;
}

inline bool operator!=(const tUUID& Left, const tUUID& Right)
{
	return !(Left == Right);
}

// {F854DDA8-FD5A-4638-B391-71FD58E58D57}
const tUUID ID_ModuleInterface = {0xF854DDA8, 0xFD5A, 0x4638, {0xB3, 0x91, 0x71, 0xFD, 0x58, 0xE5, 0x8D, 0x57}};
// {C12D55C6-5C90-41A9-AA43-5EE2715C40A5}
const tUUID ID_Scripting = {0xC12D55C6, 0x5C90, 0x41A9, {0xAA, 0x43, 0x5E, 0xE2, 0x71, 0x5C, 0x40, 0xA5}};
// {0562748A-7392-4489-B2F5-1060327FA2C8}
const tUUID ID_DefineHandlers = {0x0562748A, 0x7392, 0x4489, {0xB2, 0xF5, 0x10, 0x60, 0x32, 0x7F, 0xA2, 0xC8}};
// {7236C5A7-6FE2-4607-B707-9DBF401124AF}
const tUUID ID_ReflectedNamespace = {0x7236C5A7, 0x6FE2, 0x4607, {0xB7, 0x07, 0x9D, 0xBF, 0x40, 0x11, 0x24, 0xAF}};
// {0BA8F85D-9886-40FF-8CF0-90CB1F9A6D8A}
const tUUID ID_ReflectedClass = {0x0BA8F85D, 0x9886, 0x40FF, {0x8C, 0xF0, 0x90, 0xCB, 0x1F, 0x9A, 0x6D, 0x8A}};
// {8D078537-E58F-4373-8487-5D2D09E67415}
const tUUID ID_BaseObject = {0x8D078537, 0xE58F, 0x4373, {0x84, 0x87, 0x5D, 0x2D, 0x09, 0xE6, 0x74, 0x15}};
// {36D26F66-3E21-4251-858B-91D01DCB9CAE}
const tUUID ID_Stream = {0x36D26F66, 0x3E21, 0x4251, {0x85, 0x8B, 0x91, 0xD0, 0x1D, 0xCB, 0x9C, 0xAE}};
// {71B5C863-8985-4A8C-BC68-F5264AEE78F9}
const tUUID ID_NativeState = {0x71B5C863, 0x8985, 0x4A8C, {0xBC, 0x68, 0xF5, 0x26, 0x4A, 0xEE, 0x78, 0xF9}};
// {4BCAB029-1F06-4D41-9625-21D27750B501}
const tUUID ID_Function = {0x4BCAB029, 0x1F06, 0x4D41, {0x96, 0x25, 0x21, 0xD2, 0x77, 0x50, 0xB5, 0x01}};
// {F3903BDB-425E-4B9D-AC1B-6B10C502BF63}
const tUUID ID_Argument = {0xF3903BDB, 0x425E, 0x4B9D, {0xAC, 0x1B, 0x6B, 0x10, 0xC5, 0x02, 0xBF, 0x63}};
// {B82BEF65-9B8A-401E-93DF-AEF05DA65E8A}
const tUUID ID_Array = {0xB82BEF65, 0x9B8A, 0x401E, {0x93, 0xDF, 0xAE, 0xF0, 0x5D, 0xA6, 0x5E, 0x8A}};
// {D2218297-376A-46D5-9384-FC43BF3B6634}
const tUUID ID_Dictionary = {0xD2218297, 0x376A, 0x46D5, {0x93, 0x84, 0xFC, 0x43, 0xBF, 0x3B, 0x66, 0x34}};
// {4AC30720-6D9F-4DFD-BC80-6D6A023DD0D1}
const tUUID ID_ArgumentFactory = {0x4AC30720, 0x6D9F, 0x4DFD, {0xBC, 0x80, 0x6D, 0x6A, 0x02, 0x3D, 0xD0, 0xD1}};

class IModuleInterface;
class IScripting;
class IDefineHandlers;
class IReflectedNamespace;
class IReflectedClass;
class IBaseObject;
class IStream;
class INativeState;
class IFunction;
class IArgument;
class IArray;
class IDictionary;
class IArgumentFactory;

// Every function, method, constructor, property accessor and special operation a module registers. argc is the
// number of arguments the script passed, pUserData what was given at registration. True for success; false after
// INativeState::SetError.
typedef bool (*ModuleNativeFunction)(INativeState* pState, int argc, void* pUserData);

// Called once when an object given a destructor dies. The view is valid only during the call.
typedef void (*ModuleDestructorFunction)(IBaseObject* pObject, void* pUserData);

// Value type tags, as GetType reports them and AddProperty documents them.
enum : uint8_t
{
	TYPE_NULL = 0,
	TYPE_BOOLEAN = 1,
	TYPE_STRING = 2,
	TYPE_INT32 = 4,
	TYPE_SINGLE = 5,
	TYPE_ELEMENT = 6,
	TYPE_OBJECT = 7,
	TYPE_VECTOR2D = 8,
	TYPE_VECTOR3D = 9,
	TYPE_VECTOR4D = 10,
	TYPE_MATRIX4X4 = 11,
	TYPE_UNDEFINED = 12,
	TYPE_INT64 = 15,
	TYPE_DOUBLE = 16,
	TYPE_ARRAY = 17,
	TYPE_DICTIONARY = 18,
	TYPE_FUNCTION = 19,
};

class IUnknown
{
public:
	// Stores a view answering the id, with one new reference for the caller; -5 leaves ppOut as it was.
	virtual Result GetInterface(const tUUID& Id, void** ppOut) = 0;
	virtual int32_t AddRef() = 0;
	// 0 once the view is gone.
	virtual int32_t Release() = 0;

protected:
	~IUnknown() = default;
};

class IModuleInterface : public IUnknown
{
public:
	virtual void GetAPIVersion(uint32_t& uiMajor, uint32_t& uiMinor) = 0;
	// ID_ArgumentFactory gives a new IArgumentFactory, ID_BaseObject a new plain object's IBaseObject.
	virtual Result CreateInstance(const tUUID& Id, void** ppOut) = 0;
	virtual Result GetScripting(IScripting** ppOut) = 0;
	// The module's namespace: the one named with SetInternalName, else the one made for MODULE_NAME. Without
	// either the module fails.
	virtual Result GetNamespace(IReflectedNamespace** ppOut) = 0;
	// Makes (or reuses) the namespace of that name under "module" the module's own; only once.
	virtual Result SetInternalName(const char* szName) = 0;
	// Levels: 0 none, 1 verbose, 2 debug, 3 info, 4 warning, 5 error, 6 critical.
	virtual Result Log(uint32_t uiLevel, const char* szText) = 0;
	// Marks the module failed; during RegisterModule the server then reports the text and does not keep it.
	virtual Result SetError(const char* szText) = 0;
	// The server's last-error text, in a buffer the next call overwrites.
	virtual const char* GetError() = 0;
};

class IScripting : public IUnknown
{
public:
	virtual Result GetGlobal(IReflectedNamespace** ppOut) = 0;
	virtual Result CollectGarbage() = 0;
	virtual Result GetDefineHandlers(IDefineHandlers** ppOut) = 0;
};

// Named integer constants that every script language exposes as globals.
class IDefineHandlers : public IUnknown
{
public:
	virtual Result DefineSigned(const char* szName, int32_t iValue) = 0;
	virtual Result DefineUnsigned(const char* szName, uint32_t uiValue) = 0;
};

// Registrations copy every name and mask; natives and user data are kept as given and must stay valid. Once the
// script languages have bound the registry (after every module is loaded), Clear, NewClass and new registrations
// are refused with -2. Only namespaces made for modules can be cleared: the server's own refuse it (-2).
class IReflectedNamespace : public IUnknown
{
public:
	virtual Result Clear() = 0;
	virtual Result GetNamespace(const char* szName, IReflectedNamespace** ppOut) = 0;
	virtual Result AddNamespace(const char* szName, IReflectedNamespace** ppOut) = 0;
	virtual Result RegisterFunction(const char* szName, const char* szMask, ModuleNativeFunction pfnNative,
		void* pUserData) = 0;
	virtual Result AddProperty(void* pUserData, const char* szName, uint8_t ucType, ModuleNativeFunction pfnGetter,
		ModuleNativeFunction pfnSetter) = 0;
	virtual Result NewClass(IReflectedClass** ppOut, const char* szName, IReflectedClass* pBase) = 0;
	virtual const char* GetName() = 0;
};

class IReflectedClass : public IUnknown
{
public:
	virtual const char* GetName() = 0;
	virtual Result Clear() = 0;
	// 0 when this class is pOther or derives from it, else 1.
	virtual Result IsA(IReflectedClass* pOther) = 0;
	virtual Result RegisterConstructor(const char* szMask, ModuleNativeFunction pfnNative, void* pUserData) = 0;
	virtual Result RegisterClone(ModuleNativeFunction pfnNative, void* pUserData) = 0;
	virtual Result RegisterMove(ModuleNativeFunction pfnNative, void* pUserData) = 0;
	virtual Result RegisterToString(ModuleNativeFunction pfnNative, void* pUserData) = 0;
	virtual Result RegisterFunction(const char* szName, const char* szMask, ModuleNativeFunction pfnNative,
		void* pUserData) = 0;
	virtual Result AddProperty(void* pUserData, const char* szName, uint8_t ucType, ModuleNativeFunction pfnGetter,
		ModuleNativeFunction pfnSetter) = 0;
};

// Any object a script can hold.
class IBaseObject : public IUnknown
{
public:
	virtual Result SetPrivate(void* pPrivate) = 0;
	virtual void* GetPrivate() = 0;
	// 0 when the object's class is pClass or derives from it, else 1.
	virtual Result IsA(IReflectedClass* pClass) = 0;
	// At most one per object (-2 for a second).
	virtual Result AddDestructor(ModuleDestructorFunction pfnDestructor, void* pUserData) = 0;
	virtual Result AssignClass(IReflectedClass* pClass) = 0;
	// A null view when the object has no class.
	virtual Result GetReflectedClass(IReflectedClass** ppOut) = 0;
};

// Passes streams between the server and modules; it has no operations of its own.
class IStream : public IUnknown
{
};

// The call of one module native. Valid only during that call: never release it, keep it or hand it on.
// Argument indexes count from 0; the Check operations report a failed check as the call's error.
class INativeState : public IUnknown
{
public:
	virtual Result SetError(const char* szFormat, ...) = 0;
	virtual Result GetArgument(size_t Index, IArgument** ppOut) = 0;
	virtual bool CheckBoolean(size_t Index, bool& bValue) = 0;
	virtual bool CheckInt32(size_t Index, int32_t& iValue) = 0;
	virtual bool CheckUInt32(size_t Index, uint32_t& uiValue) = 0;
	virtual bool CheckInt64(size_t Index, int64_t& iValue) = 0;
	virtual bool CheckUInt64(size_t Index, uint64_t& uiValue) = 0;
	virtual bool CheckSingle(size_t Index, float& fValue) = 0;
	virtual bool CheckDouble(size_t Index, double& dValue) = 0;
	virtual const char* CheckString(size_t Index, size_t* pLength) = 0;
	virtual bool CheckVector2D(size_t Index, float& fX, float& fY) = 0;
	virtual bool CheckVector3D(size_t Index, float& fX, float& fY, float& fZ) = 0;
	// Not implemented: there is no four-component value.
	virtual bool CheckVector4D(size_t Index, float& fX, float& fY, float& fZ, float& fW) = 0;
	virtual bool CheckMatrix4x4(size_t Index, float rgfMatrix[16]) = 0;
	virtual bool CheckClass(IReflectedClass* pClass, size_t Index, bool bNullable, IBaseObject** ppOut) = 0;
	virtual bool CheckObject(size_t Index, IBaseObject** ppOut) = 0;
	virtual bool CheckFunction(size_t Index, IFunction** ppOut) = 0;
	// Not implemented.
	virtual bool CheckStream(size_t Index, IStream** ppOut) = 0;
	virtual bool CheckThis(IBaseObject** ppOut, IReflectedClass* pClass) = 0;
	// -5 without a receiver, -1 with the error set when it is not of pClass.
	virtual Result GetThis(IBaseObject** ppOut, IReflectedClass* pClass) = 0;
	// A call returns one value: every Return operation gives -7 once one was given.
	virtual Result Return(IArgument* pValue) = 0;
	virtual Result ReturnNull() = 0;
	virtual Result ReturnUndefined() = 0;
	virtual Result ReturnBoolean(bool bValue) = 0;
	virtual Result ReturnString(const char* pText, size_t Length) = 0;
	virtual Result ReturnStringZ(const char* szText) = 0;
	virtual Result ReturnInt32(int32_t iValue) = 0;
	virtual Result ReturnUInt32(uint32_t uiValue) = 0;
	virtual Result ReturnInt64(int64_t iValue) = 0;
	virtual Result ReturnUInt64(uint64_t uiValue) = 0;
	virtual Result ReturnSingle(float fValue) = 0;
	virtual Result ReturnDouble(double dValue) = 0;
	virtual Result ReturnVector2D(float fX, float fY) = 0;
	virtual Result ReturnVector3D(float fX, float fY, float fZ) = 0;
	// Not implemented (-2).
	virtual Result ReturnVector4D(float fX, float fY, float fZ, float fW) = 0;
	virtual Result ReturnMatrix4x4(const float rgfMatrix[16]) = 0;
	virtual Result ReturnObject(IBaseObject* pObject) = 0;
	virtual Result ReturnStream(IStream* pStream) = 0;
};

// Any callable value: a script function of any language, a server function or a module native.
class IFunction : public IUnknown
{
public:
	// Null arguments call without arguments; with results, the results array is replaced by what the call
	// returned. -1 when the call failed (GetError tells why).
	virtual Result Call(IArray* pArguments, IArray* pResults) = 0;
};

// A script value. Conversions expect a value of their type (test first); any other gives -7 and stores nothing.
class IArgument : public IUnknown
{
public:
	virtual Result Clone(IArgument** ppOut) = 0;
	virtual uint8_t GetType() = 0;
	virtual const char* GetTypeName() = 0;
	// Null or undefined.
	virtual bool IsNull() = 0;
	virtual bool IsBoolean() = 0;
	virtual bool IsString() = 0;
	virtual bool IsObject() = 0;
	virtual bool IsVector2D() = 0;
	virtual bool IsVector3D() = 0;
	virtual bool IsVector4D() = 0;
	virtual bool IsMatrix4x4() = 0;
	virtual bool IsNumber() = 0;
	virtual bool IsArray() = 0;
	virtual bool IsDictionary() = 0;
	virtual bool IsFunction() = 0;
	// 0 for true, 1 for false.
	virtual Result ToBoolean() = 0;
	// The text stays valid while the value lives.
	virtual Result ToString(const char** ppOut, size_t* pLength) = 0;
	virtual Result ToObject(IBaseObject** ppOut, IReflectedClass* pClass) = 0;
	virtual Result ToVector2D(float& fX, float& fY) = 0;
	virtual Result ToVector3D(float& fX, float& fY, float& fZ) = 0;
	// Not implemented (-2).
	virtual Result ToVector4D(float& fX, float& fY, float& fZ, float& fW) = 0;
	virtual Result ToMatrix4x4(float rgfMatrix[16]) = 0;
	virtual Result ToInt32(int32_t& iValue) = 0;
	virtual Result ToUInt32(uint32_t& uiValue) = 0;
	virtual Result ToInt64(int64_t& iValue) = 0;
	virtual Result ToUInt64(uint64_t& uiValue) = 0;
	virtual Result ToSingle(float& fValue) = 0;
	virtual Result ToDouble(double& dValue) = 0;
	virtual Result ToFunction(IFunction** ppOut) = 0;
	virtual Result ToStream(IStream** ppOut) = 0;
};

// The elements of an array value; GetInterface(ID_Argument) gives the value itself.
class IArray : public IUnknown
{
public:
	virtual size_t GetCount() = 0;
	virtual Result GetAt(size_t Index, IArgument** ppOut) = 0;
	virtual Result Clear() = 0;
	// Empties the array and makes room for Count elements.
	virtual Result Resize(size_t Count) = 0;
	// Appends a copy.
	virtual Result Insert(IArgument* pValue) = 0;
	// Replaces the target's elements with this array's, leaving this one empty.
	virtual Result Move(IArray* pTarget) = 0;
};

// The entries of a map value; GetInterface(ID_Argument) gives the value itself.
class IDictionary : public IUnknown
{
public:
	virtual Result Clear() = 0;
	// Empties the map and sizes it for Count entries.
	virtual Result Resize(size_t Count) = 0;
	virtual Result Remove(const char* szKey) = 0;
	virtual Result Get(const char* szKey, IArgument** ppOut) = 0;
	// Stores the value itself (not a copy); a map cannot hold itself (-2).
	virtual Result Set(const char* szKey, IArgument* pValue) = 0;
};

// Makes new values; the view stored in ppOut holds the value's only reference.
class IArgumentFactory : public IUnknown
{
public:
	virtual Result CreateNull(IArgument** ppOut) = 0;
	virtual Result CreateBoolean(IArgument** ppOut, bool bValue) = 0;
	virtual Result CreateString(IArgument** ppOut, const char* pText, size_t Length) = 0;
	virtual Result CreateStringZ(IArgument** ppOut, const char* szText) = 0;
	virtual Result CreateObject(IArgument** ppOut, IBaseObject* pObject) = 0;
	virtual Result CreateVector2D(IArgument** ppOut, float fX, float fY) = 0;
	virtual Result CreateVector3D(IArgument** ppOut, float fX, float fY, float fZ) = 0;
	// Not implemented (-2).
	virtual Result CreateVector4D(IArgument** ppOut, float fX, float fY, float fZ, float fW) = 0;
	virtual Result CreateMatrix4x4(IArgument** ppOut, const float rgfMatrix[16]) = 0;
	virtual Result CreateInt32(IArgument** ppOut, int32_t iValue) = 0;
	virtual Result CreateUInt32(IArgument** ppOut, uint32_t uiValue) = 0;
	virtual Result CreateInt64(IArgument** ppOut, int64_t iValue) = 0;
	virtual Result CreateUInt64(IArgument** ppOut, uint64_t uiValue) = 0;
	virtual Result CreateSingle(IArgument** ppOut, float fValue) = 0;
	virtual Result CreateDouble(IArgument** ppOut, double dValue) = 0;
	virtual Result CreateArray(IArgument** ppOut) = 0;
	virtual Result CreateDictionary(IArgument** ppOut) = 0;
	virtual Result CreateUndefined(IArgument** ppOut) = 0;
	// A function value that calls the native; pScripting is the module's IScripting.
	virtual Result CreateFunction(IArgument** ppOut, IScripting* pScripting, ModuleNativeFunction pfnNative,
		void* pUserData) = 0;
};
}
}
