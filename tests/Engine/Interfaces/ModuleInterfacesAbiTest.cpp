// The binary contract of the plug-in interfaces: modules built on their own call through the tables, so every
// slot's position and exact signature, the interface ids and the widths of the argument types are pinned here.
// Slots are read from pointers to virtual members, which hold 1 + the slot's byte offset in the table.

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>
#include <type_traits>

#include "Engine/Interfaces/ModuleInterfaces.h"
#include "Engine/ModuleViews.h"
#include "Engine/KestrinNative.h"

using namespace Kestrin3D::Interfaces;

namespace
{
template <class TMember>
size_t SlotOf(TMember pMember)
{
	struct tRepresentation
	{
		uintptr_t m_Pointer;
		ptrdiff_t m_Adjustment;
	};
	static_assert(sizeof(TMember) == sizeof(tRepresentation), "a pointer to member function is two words");
	tRepresentation Representation;
	memcpy(&Representation, &pMember, sizeof(Representation));
	if ((Representation.m_Pointer & 1) == 0 || Representation.m_Adjustment != 0)
		return SIZE_MAX;
	return (Representation.m_Pointer - 1) / sizeof(void*);
}

struct tSlot
{
	const char* m_szName;
	size_t m_Slot;
	size_t m_Expected;
};

// The explicit member type makes a changed signature a compile error.
#define SLOT(Interface, Name, Index, Return, Parameters) \
	{#Interface "::" #Name, SlotOf<Return(Interface::*) Parameters>(&Interface::Name), Index}

const tSlot g_rgSlots[] = {
	SLOT(IUnknown, GetInterface, 0, Result, (const tUUID&, void**)),
	SLOT(IUnknown, AddRef, 1, int32_t, ()),
	SLOT(IUnknown, Release, 2, int32_t, ()),
	SLOT(IModuleInterface, GetAPIVersion, 3, void, (uint32_t&, uint32_t&)),
	SLOT(IModuleInterface, CreateInstance, 4, Result, (const tUUID&, void**)),
	SLOT(IModuleInterface, GetScripting, 5, Result, (IScripting**)),
	SLOT(IModuleInterface, GetNamespace, 6, Result, (IReflectedNamespace**)),
	SLOT(IModuleInterface, SetInternalName, 7, Result, (const char*)),
	SLOT(IModuleInterface, Log, 8, Result, (uint32_t, const char*)),
	SLOT(IModuleInterface, SetError, 9, Result, (const char*)),
	SLOT(IModuleInterface, GetError, 10, const char*, ()),
	SLOT(IScripting, GetGlobal, 3, Result, (IReflectedNamespace**)),
	SLOT(IScripting, CollectGarbage, 4, Result, ()),
	SLOT(IScripting, GetDefineHandlers, 5, Result, (IDefineHandlers**)),
	SLOT(IDefineHandlers, DefineSigned, 3, Result, (const char*, int32_t)),
	SLOT(IDefineHandlers, DefineUnsigned, 4, Result, (const char*, uint32_t)),
	SLOT(IReflectedNamespace, Clear, 3, Result, ()),
	SLOT(IReflectedNamespace, GetNamespace, 4, Result, (const char*, IReflectedNamespace**)),
	SLOT(IReflectedNamespace, AddNamespace, 5, Result, (const char*, IReflectedNamespace**)),
	SLOT(IReflectedNamespace, RegisterFunction, 6, Result, (const char*, const char*, ModuleNativeFunction, void*)),
	SLOT(IReflectedNamespace, AddProperty, 7, Result, (void*, const char*, uint8_t, ModuleNativeFunction, ModuleNativeFunction)),
	SLOT(IReflectedNamespace, NewClass, 8, Result, (IReflectedClass**, const char*, IReflectedClass*)),
	SLOT(IReflectedNamespace, GetName, 9, const char*, ()),
	SLOT(IReflectedClass, GetName, 3, const char*, ()),
	SLOT(IReflectedClass, Clear, 4, Result, ()),
	SLOT(IReflectedClass, IsA, 5, Result, (IReflectedClass*)),
	SLOT(IReflectedClass, RegisterConstructor, 6, Result, (const char*, ModuleNativeFunction, void*)),
	SLOT(IReflectedClass, RegisterClone, 7, Result, (ModuleNativeFunction, void*)),
	SLOT(IReflectedClass, RegisterMove, 8, Result, (ModuleNativeFunction, void*)),
	SLOT(IReflectedClass, RegisterToString, 9, Result, (ModuleNativeFunction, void*)),
	SLOT(IReflectedClass, RegisterFunction, 10, Result, (const char*, const char*, ModuleNativeFunction, void*)),
	SLOT(IReflectedClass, AddProperty, 11, Result, (void*, const char*, uint8_t, ModuleNativeFunction, ModuleNativeFunction)),
	SLOT(IBaseObject, SetPrivate, 3, Result, (void*)),
	SLOT(IBaseObject, GetPrivate, 4, void*, ()),
	SLOT(IBaseObject, IsA, 5, Result, (IReflectedClass*)),
	SLOT(IBaseObject, AddDestructor, 6, Result, (ModuleDestructorFunction, void*)),
	SLOT(IBaseObject, AssignClass, 7, Result, (IReflectedClass*)),
	SLOT(IBaseObject, GetReflectedClass, 8, Result, (IReflectedClass**)),
	SLOT(INativeState, SetError, 3, Result, (const char*, ...)),
	SLOT(INativeState, GetArgument, 4, Result, (size_t, IArgument**)),
	SLOT(INativeState, CheckBoolean, 5, bool, (size_t, bool&)),
	SLOT(INativeState, CheckInt32, 6, bool, (size_t, int32_t&)),
	SLOT(INativeState, CheckUInt32, 7, bool, (size_t, uint32_t&)),
	SLOT(INativeState, CheckInt64, 8, bool, (size_t, int64_t&)),
	SLOT(INativeState, CheckUInt64, 9, bool, (size_t, uint64_t&)),
	SLOT(INativeState, CheckSingle, 10, bool, (size_t, float&)),
	SLOT(INativeState, CheckDouble, 11, bool, (size_t, double&)),
	SLOT(INativeState, CheckString, 12, const char*, (size_t, size_t*)),
	SLOT(INativeState, CheckVector2D, 13, bool, (size_t, float&, float&)),
	SLOT(INativeState, CheckVector3D, 14, bool, (size_t, float&, float&, float&)),
	SLOT(INativeState, CheckVector4D, 15, bool, (size_t, float&, float&, float&, float&)),
	SLOT(INativeState, CheckMatrix4x4, 16, bool, (size_t, float*)),
	SLOT(INativeState, CheckClass, 17, bool, (IReflectedClass*, size_t, bool, IBaseObject**)),
	SLOT(INativeState, CheckObject, 18, bool, (size_t, IBaseObject**)),
	SLOT(INativeState, CheckFunction, 19, bool, (size_t, IFunction**)),
	SLOT(INativeState, CheckStream, 20, bool, (size_t, IStream**)),
	SLOT(INativeState, CheckThis, 21, bool, (IBaseObject**, IReflectedClass*)),
	SLOT(INativeState, GetThis, 22, Result, (IBaseObject**, IReflectedClass*)),
	SLOT(INativeState, Return, 23, Result, (IArgument*)),
	SLOT(INativeState, ReturnNull, 24, Result, ()),
	SLOT(INativeState, ReturnUndefined, 25, Result, ()),
	SLOT(INativeState, ReturnBoolean, 26, Result, (bool)),
	SLOT(INativeState, ReturnString, 27, Result, (const char*, size_t)),
	SLOT(INativeState, ReturnStringZ, 28, Result, (const char*)),
	SLOT(INativeState, ReturnInt32, 29, Result, (int32_t)),
	SLOT(INativeState, ReturnUInt32, 30, Result, (uint32_t)),
	SLOT(INativeState, ReturnInt64, 31, Result, (int64_t)),
	SLOT(INativeState, ReturnUInt64, 32, Result, (uint64_t)),
	SLOT(INativeState, ReturnSingle, 33, Result, (float)),
	SLOT(INativeState, ReturnDouble, 34, Result, (double)),
	SLOT(INativeState, ReturnVector2D, 35, Result, (float, float)),
	SLOT(INativeState, ReturnVector3D, 36, Result, (float, float, float)),
	SLOT(INativeState, ReturnVector4D, 37, Result, (float, float, float, float)),
	SLOT(INativeState, ReturnMatrix4x4, 38, Result, (const float*)),
	SLOT(INativeState, ReturnObject, 39, Result, (IBaseObject*)),
	SLOT(INativeState, ReturnStream, 40, Result, (IStream*)),
	SLOT(IFunction, Call, 3, Result, (IArray*, IArray*)),
	SLOT(IArgument, Clone, 3, Result, (IArgument**)),
	SLOT(IArgument, GetType, 4, uint8_t, ()),
	SLOT(IArgument, GetTypeName, 5, const char*, ()),
	SLOT(IArgument, IsNull, 6, bool, ()),
	SLOT(IArgument, IsBoolean, 7, bool, ()),
	SLOT(IArgument, IsString, 8, bool, ()),
	SLOT(IArgument, IsObject, 9, bool, ()),
	SLOT(IArgument, IsVector2D, 10, bool, ()),
	SLOT(IArgument, IsVector3D, 11, bool, ()),
	SLOT(IArgument, IsVector4D, 12, bool, ()),
	SLOT(IArgument, IsMatrix4x4, 13, bool, ()),
	SLOT(IArgument, IsNumber, 14, bool, ()),
	SLOT(IArgument, IsArray, 15, bool, ()),
	SLOT(IArgument, IsDictionary, 16, bool, ()),
	SLOT(IArgument, IsFunction, 17, bool, ()),
	SLOT(IArgument, ToBoolean, 18, Result, ()),
	SLOT(IArgument, ToString, 19, Result, (const char**, size_t*)),
	SLOT(IArgument, ToObject, 20, Result, (IBaseObject**, IReflectedClass*)),
	SLOT(IArgument, ToVector2D, 21, Result, (float&, float&)),
	SLOT(IArgument, ToVector3D, 22, Result, (float&, float&, float&)),
	SLOT(IArgument, ToVector4D, 23, Result, (float&, float&, float&, float&)),
	SLOT(IArgument, ToMatrix4x4, 24, Result, (float*)),
	SLOT(IArgument, ToInt32, 25, Result, (int32_t&)),
	SLOT(IArgument, ToUInt32, 26, Result, (uint32_t&)),
	SLOT(IArgument, ToInt64, 27, Result, (int64_t&)),
	SLOT(IArgument, ToUInt64, 28, Result, (uint64_t&)),
	SLOT(IArgument, ToSingle, 29, Result, (float&)),
	SLOT(IArgument, ToDouble, 30, Result, (double&)),
	SLOT(IArgument, ToFunction, 31, Result, (IFunction**)),
	SLOT(IArgument, ToStream, 32, Result, (IStream**)),
	SLOT(IArray, GetCount, 3, size_t, ()),
	SLOT(IArray, GetAt, 4, Result, (size_t, IArgument**)),
	SLOT(IArray, Clear, 5, Result, ()),
	SLOT(IArray, Resize, 6, Result, (size_t)),
	SLOT(IArray, Insert, 7, Result, (IArgument*)),
	SLOT(IArray, Move, 8, Result, (IArray*)),
	SLOT(IDictionary, Clear, 3, Result, ()),
	SLOT(IDictionary, Resize, 4, Result, (size_t)),
	SLOT(IDictionary, Remove, 5, Result, (const char*)),
	SLOT(IDictionary, Get, 6, Result, (const char*, IArgument**)),
	SLOT(IDictionary, Set, 7, Result, (const char*, IArgument*)),
	SLOT(IArgumentFactory, CreateNull, 3, Result, (IArgument**)),
	SLOT(IArgumentFactory, CreateBoolean, 4, Result, (IArgument**, bool)),
	SLOT(IArgumentFactory, CreateString, 5, Result, (IArgument**, const char*, size_t)),
	SLOT(IArgumentFactory, CreateStringZ, 6, Result, (IArgument**, const char*)),
	SLOT(IArgumentFactory, CreateObject, 7, Result, (IArgument**, IBaseObject*)),
	SLOT(IArgumentFactory, CreateVector2D, 8, Result, (IArgument**, float, float)),
	SLOT(IArgumentFactory, CreateVector3D, 9, Result, (IArgument**, float, float, float)),
	SLOT(IArgumentFactory, CreateVector4D, 10, Result, (IArgument**, float, float, float, float)),
	SLOT(IArgumentFactory, CreateMatrix4x4, 11, Result, (IArgument**, const float*)),
	SLOT(IArgumentFactory, CreateInt32, 12, Result, (IArgument**, int32_t)),
	SLOT(IArgumentFactory, CreateUInt32, 13, Result, (IArgument**, uint32_t)),
	SLOT(IArgumentFactory, CreateInt64, 14, Result, (IArgument**, int64_t)),
	SLOT(IArgumentFactory, CreateUInt64, 15, Result, (IArgument**, uint64_t)),
	SLOT(IArgumentFactory, CreateSingle, 16, Result, (IArgument**, float)),
	SLOT(IArgumentFactory, CreateDouble, 17, Result, (IArgument**, double)),
	SLOT(IArgumentFactory, CreateArray, 18, Result, (IArgument**)),
	SLOT(IArgumentFactory, CreateDictionary, 19, Result, (IArgument**)),
	SLOT(IArgumentFactory, CreateUndefined, 20, Result, (IArgument**)),
	SLOT(IArgumentFactory, CreateFunction, 21, Result, (IArgument**, IScripting*, ModuleNativeFunction, void*)),
};

#undef SLOT
}

TEST(ModuleInterfacesAbi, EverySlotHasItsFixedPosition)
{
	for (const tSlot& Slot : g_rgSlots)
		EXPECT_EQ(Slot.m_Slot, Slot.m_Expected) << Slot.m_szName;
}

TEST(ModuleInterfacesAbi, ArgumentTypesHaveTheirFixedWidths)
{
	static_assert(sizeof(Result) == 4 && std::is_signed<Result>::value, "Result is a signed 32-bit integer");
	static_assert(sizeof(bool) == 1, "bools are one byte");
	static_assert(sizeof(size_t) == 8 && !std::is_signed<size_t>::value, "sizes are 64-bit unsigned");
	static_assert(sizeof(float) == 4 && sizeof(double) == 8, "floats and doubles");
	static_assert(sizeof(intptr_t) == sizeof(void*), "RegisterModule returns a pointer-sized value");
	static_assert(std::is_same<ModuleNativeFunction, bool (*)(INativeState*, int, void*)>::value, "module native");
	static_assert(std::is_same<ModuleDestructorFunction, void (*)(IBaseObject*, void*)>::value, "destructor");
	// The engine's registration calls take the very same native type.
	static_assert(std::is_same<ModuleNativeFunction, ::ModuleNativeFunction>::value, "one native type");
	SUCCEED();
}

TEST(ModuleInterfacesAbi, NoInterfaceHasAVirtualDestructor)
{
	static_assert(!std::has_virtual_destructor<IUnknown>::value, "IUnknown");
	static_assert(!std::has_virtual_destructor<IModuleInterface>::value, "IModuleInterface");
	static_assert(!std::has_virtual_destructor<IScripting>::value, "IScripting");
	static_assert(!std::has_virtual_destructor<IDefineHandlers>::value, "IDefineHandlers");
	static_assert(!std::has_virtual_destructor<IReflectedNamespace>::value, "IReflectedNamespace");
	static_assert(!std::has_virtual_destructor<IReflectedClass>::value, "IReflectedClass");
	static_assert(!std::has_virtual_destructor<IBaseObject>::value, "IBaseObject");
	static_assert(!std::has_virtual_destructor<IStream>::value, "IStream");
	static_assert(!std::has_virtual_destructor<INativeState>::value, "INativeState");
	static_assert(!std::has_virtual_destructor<IFunction>::value, "IFunction");
	static_assert(!std::has_virtual_destructor<IArgument>::value, "IArgument");
	static_assert(!std::has_virtual_destructor<IArray>::value, "IArray");
	static_assert(!std::has_virtual_destructor<IDictionary>::value, "IDictionary");
	static_assert(!std::has_virtual_destructor<IArgumentFactory>::value, "IArgumentFactory");
	SUCCEED();
}

namespace
{
// The 16 bytes of an id written as {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}: three little-endian fields, then eight
// bytes as written.
std::string BytesOfText(const char* szText)
{
	std::string Hex;
	for (const char* p = szText; *p; p++)
	{
		if (isxdigit(static_cast<unsigned char>(*p)))
			Hex += *p;
	}
	std::string Bytes;
	for (size_t i = 0; i + 1 < Hex.size(); i += 2)
		Bytes += static_cast<char>(std::stoi(Hex.substr(i, 2), nullptr, 16));
	if (Bytes.size() != 16)
		return "";
	std::swap(Bytes[0], Bytes[3]);
	std::swap(Bytes[1], Bytes[2]);
	std::swap(Bytes[4], Bytes[5]);
	std::swap(Bytes[6], Bytes[7]);
	return Bytes;
}
}

TEST(ModuleInterfacesAbi, InterfaceIdsHaveTheirFixedBytes)
{
	const struct
	{
		const tUUID* m_pId;
		const char* m_szText;
	} rgCases[] = {
		{&ID_ModuleInterface, "{F854DDA8-FD5A-4638-B391-71FD58E58D57}"},
		{&ID_Scripting, "{C12D55C6-5C90-41A9-AA43-5EE2715C40A5}"},
		{&ID_DefineHandlers, "{0562748A-7392-4489-B2F5-1060327FA2C8}"},
		{&ID_ReflectedNamespace, "{7236C5A7-6FE2-4607-B707-9DBF401124AF}"},
		{&ID_ReflectedClass, "{0BA8F85D-9886-40FF-8CF0-90CB1F9A6D8A}"},
		{&ID_BaseObject, "{8D078537-E58F-4373-8487-5D2D09E67415}"},
		{&ID_Stream, "{36D26F66-3E21-4251-858B-91D01DCB9CAE}"},
		{&ID_NativeState, "{71B5C863-8985-4A8C-BC68-F5264AEE78F9}"},
		{&ID_Function, "{4BCAB029-1F06-4D41-9625-21D27750B501}"},
		{&ID_Argument, "{F3903BDB-425E-4B9D-AC1B-6B10C502BF63}"},
		{&ID_Array, "{B82BEF65-9B8A-401E-93DF-AEF05DA65E8A}"},
		{&ID_Dictionary, "{D2218297-376A-46D5-9384-FC43BF3B6634}"},
		{&ID_ArgumentFactory, "{4AC30720-6D9F-4DFD-BC80-6D6A023DD0D1}"},
	};
	for (const auto& Case : rgCases)
	{
		const std::string Expected = BytesOfText(Case.m_szText);
		ASSERT_EQ(Expected.size(), 16u) << Case.m_szText;
		EXPECT_EQ(memcmp(Case.m_pId, Expected.data(), 16), 0) << Case.m_szText;
		for (const auto& Other : rgCases)
			EXPECT_EQ(*Case.m_pId == *Other.m_pId, Case.m_pId == Other.m_pId) << Case.m_szText;
	}
}

TEST(ModuleInterfacesAbi, ACallThroughARawSlotReachesTheOperation)
{
	// What a module compiled elsewhere does: slot 3 of the module interface's table is GetAPIVersion.
	CScripting Scripting;
	CModuleInterfaceImpl* pInterface = new CModuleInterfaceImpl(&Scripting);
	IModuleInterface* pView = pInterface;
	typedef void (*tGetAPIVersion)(IModuleInterface*, uint32_t*, uint32_t*);
	void** ppTable = *reinterpret_cast<void***>(pView);
	uint32_t uiMajor = 0;
	uint32_t uiMinor = 0;
	reinterpret_cast<tGetAPIVersion>(ppTable[3])(pView, &uiMajor, &uiMinor);
	EXPECT_EQ(uiMajor, 1u);
	EXPECT_EQ(uiMinor, 1u);
	typedef int32_t (*tRelease)(IModuleInterface*);
	EXPECT_EQ(reinterpret_cast<tRelease>(ppTable[2])(pView), 0);
}
