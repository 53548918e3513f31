#pragma once
// Script values: the unit in which every value passes between a script language, an engine function, a plug-in
// module and the network, and their binary encoding (type byte, then payload).

#include <cstddef>
#include <cstdint>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "Engine/KestrinMath.h"
#include "Engine/KestrinReference.h"
#include "Engine/SmallBlockCache.h"

class Stream;
class CBaseObject;
class CFunction;
class ReflectedClass;
class CArgument;

enum eArgumentType : uint8_t
{
	ARGUMENT_NIL = 0,
	ARGUMENT_BOOLEAN = 1,
	ARGUMENT_STRING = 2,
	ARGUMENT_TABLE = 3,
	ARGUMENT_INTEGER = 4,
	ARGUMENT_FLOAT = 5,
	ARGUMENT_NETOBJECT = 6,
	ARGUMENT_OBJECT = 7,
	ARGUMENT_VECTOR2D = 8,
	ARGUMENT_VECTOR3D = 9,
	ARGUMENT_VECTOR4D = 10,
	ARGUMENT_MATRIX4X4 = 11,
	ARGUMENT_UNDEFINED = 12,
	ARGUMENT_LUAREF = 13,
	ARGUMENT_JSVALUE = 14,
	ARGUMENT_LONGINTEGER = 15,
	ARGUMENT_DOUBLE = 16,
	ARGUMENT_ARRAY = 17,
	ARGUMENT_MAP = 18,
	ARGUMENT_FUNCTION = 19,
	ARGUMENT_SQREF = 20,
	ARGUMENT_BYTES = 21,
};

constexpr size_t ARGUMENT_TYPE_COUNT = 22;

// Symbolic names (used in warnings) and display names (shown to plug-in modules), indexed by tag.
extern const char* const g_rgpszArgumentTypes[ARGUMENT_TYPE_COUNT];
extern const char* const g_rgpszArgumentTypeNames[ARGUMENT_TYPE_COUNT];

// The count of an encoded array is one byte.
constexpr size_t ARGUMENT_MAX_ENCODED_ARRAY_COUNT = 255;
// Arrays and maps nest at most this deep in the encoding, both ways: a hostile message cannot exhaust the stack
// of its reader, and nothing is written that a reader would refuse.
constexpr unsigned ARGUMENT_MAX_ENCODED_DEPTH = 64;
// The most array elements that turning script values into engine values may make at once: all the arguments of
// one call of a native, or one result, with conversions nested in them. An array counts once for every place that
// holds it, so one that holds the same large array many times, small for the script, cannot become one copy of it
// per place and exhaust memory; a single longer array is refused as well (no script heap holds a dense one).
constexpr size_t ARGUMENT_MAX_CONVERTED_ELEMENTS = 0x400000;
// Encoded lengths are signed 32-bit on the reading side.
constexpr size_t ARGUMENT_MAX_ENCODED_LENGTH = 0x7FFFFFFF;

// Makes the values that the engine cannot make by itself from a tag alone: the element value (tag 6) needs the
// replication manager to turn its network id into an element. Array and map readers hand their resolver to
// every value they create, so element values nested in network events and element data resolve as well.
class IArgumentResolver
{
public:
	// A new empty value of the tag (count 1) whose Read fills it in, or null when the tag is not the resolver's.
	virtual CArgument* CreateArgument(uint8_t ucType) = 0;

protected:
	~IArgumentResolver() = default;
};

// The 7-bit length prefix shared by strings, bytes, map counts and map keys (and the wire strings).
// Reading refuses a fifth byte with bit 7 set and lengths of 2^31 or more. pbNothing, when given, tells apart a
// stream that delivered no byte at all from a malformed prefix.
bool KReadLengthPrefix(Stream* pStream, size_t& Length, bool* pbNothing = nullptr);
// Writes the prefix; lengths of 2^31 or more are refused (no reader would take them).
bool KWriteLengthPrefix(Stream* pStream, size_t Length);
size_t KGetLengthPrefixSize(size_t Length);
// Bytes between the stream's position and its end; what a declared length is checked against before use.
size_t KGetRemainingBytes(Stream* pStream);
// Roughly the memory a value takes: its encoded size, and the bookkeeping of each entry when it is a map. For the
// accounts the script collectors keep, not for any layout; a value without an encoding counts its entries only.
size_t KEstimateValueBytes(const CArgument* pValue);

// A reference-counted script value with a one-byte type tag. The base class serves null (0) and undefined (12).
class CArgument : public CRefCounted
{
public:
	explicit CArgument(uint8_t ucType) : m_pModuleView(nullptr), m_pResolver(nullptr), m_ucType(ucType) {}
	~CArgument() override = default;

	// Every native call makes and drops values: they come from the thread's cache of small blocks, not each from
	// the heap. Values are still freed by their deleting destructor, whatever pointer they are deleted through.
	static void* operator new(size_t Size)
	{
		void* p = SmallBlockCache::Allocate(Size);
		if (!p)
			throw std::bad_alloc();
		return p;
	}
	static void operator delete(void* p, size_t Size) noexcept { SmallBlockCache::Free(p, Size); }

	// No value is released differently: a release through a value pointer needs no virtual dispatch.
	intptr_t Release() final { return ReleaseCounted(); }

	// A new empty value of the tag, or null for tags that have no value of their own here (3, 6, 7, 10, 13, 14,
	// 20, 22 and above).
	static CArgument* Create(uint8_t ucType);
	// As Create, falling back to the resolver for the tags it makes (element values); the resolver is set on the
	// value made. This is how every reader makes a value after reading its type byte.
	static CArgument* Create(uint8_t ucType, IArgumentResolver* pResolver);
	// The object's own value (an object value, or an element value for replicated elements); null gives a
	// null value.
	static CArgument* Create(CBaseObject* pObject);

	// "unknown" for tags above 21.
	static const char* GetTypeSymbol(uint8_t ucType);
	static const char* GetTypeName(uint8_t ucType);

	// Reads a type byte and the value after it; null when the byte is missing, the tag unknown or the payload bad.
	static CArgument* ReadTyped(Stream* pStream, IArgumentResolver* pResolver);
	// Writes the type byte and the payload.
	static bool WriteTyped(Stream* pStream, const CArgument* pValue);

	// Payload only: the type byte is the business of whoever reads or writes the value.
	virtual bool Read(Stream* pStream);
	virtual bool GetSize(size_t& Size) const;
	virtual bool Write(Stream* pStream) const;
	virtual CArgument* Clone() const;

	uint8_t GetType() const { return m_ucType; }
	const char* GetTypeName() const { return GetTypeName(m_ucType); }

	bool IsNumber() const
	{
		return m_ucType == ARGUMENT_INTEGER || m_ucType == ARGUMENT_FLOAT || m_ucType == ARGUMENT_LONGINTEGER ||
			m_ucType == ARGUMENT_DOUBLE;
	}
	bool IsObject() const { return m_ucType == ARGUMENT_NETOBJECT || m_ucType == ARGUMENT_OBJECT; }
	bool IsNull() const { return m_ucType == ARGUMENT_NIL || m_ucType == ARGUMENT_UNDEFINED; }
	bool IsString() const { return m_ucType == ARGUMENT_STRING; }
	bool IsBoolean() const { return m_ucType == ARGUMENT_BOOLEAN; }
	bool IsVector2D() const { return m_ucType == ARGUMENT_VECTOR2D; }
	bool IsVector3D() const { return m_ucType == ARGUMENT_VECTOR3D; }
	bool IsVector4D() const { return m_ucType == ARGUMENT_VECTOR4D; }
	bool IsMatrix4x4() const { return m_ucType == ARGUMENT_MATRIX4X4; }
	bool IsFunction() const { return m_ucType == ARGUMENT_FUNCTION; }

	// Number conversions. Floating values outside the target range saturate, NaN gives 0. A value that is not
	// a number reports an assertion, leaves the output unchanged and returns false.
	bool ToNumber(int32_t& Out) const;
	bool ToNumber(uint32_t& Out) const;
	bool ToNumber(int64_t& Out) const;
	bool ToNumber(uint64_t& Out) const;
	bool ToNumber(float& Out) const;
	bool ToNumber(double& Out) const;

	// The getters below assert their test; on the wrong tag they give an empty result.
	const char* ToString(size_t* pLength = nullptr) const;
	// The bytes of a string or bytes value.
	const uint8_t* ToBytes(size_t& Length) const;
	bool ToBoolean() const;
	void ToVector2D(CVector2D& Out) const;
	void ToVector3D(CVector3D& Out) const;
	void ToMatrix4x4(CMatrix4x4& Out) const;
	CFunction* ToFunction() const;
	// The object of an object or element value (null for an element whose id did not resolve).
	CBaseObject* ToObject() const;
	// The object when it is of the class or derives from it; otherwise null.
	CBaseObject* ToObject(ReflectedClass* pClass) const;

	IArgumentResolver* GetResolver() const { return m_pResolver; }
	void SetResolver(IArgumentResolver* pResolver) { m_pResolver = pResolver; }

	// The plug-in module's view of this value, made by the module layer on first request; the view holds a
	// reference to the value, so it never outlives it.
	void* GetModuleView() const { return m_pModuleView; }
	void SetModuleView(void* pView) { m_pModuleView = pView; }

private:
	void* m_pModuleView;
	IArgumentResolver* m_pResolver;
	const uint8_t m_ucType;
};

class CArgumentBoolean : public CArgument
{
public:
	explicit CArgumentBoolean(bool bValue = false) : CArgument(ARGUMENT_BOOLEAN), m_bValue(bValue) {}

	bool Read(Stream* pStream) override;
	bool GetSize(size_t& Size) const override;
	bool Write(Stream* pStream) const override;
	CArgument* Clone() const override;

	bool GetValue() const { return m_bValue; }

private:
	bool m_bValue;
};

class CArgumentInteger : public CArgument
{
public:
	explicit CArgumentInteger(int32_t iValue = 0) : CArgument(ARGUMENT_INTEGER), m_iValue(iValue) {}

	bool Read(Stream* pStream) override;
	bool GetSize(size_t& Size) const override;
	bool Write(Stream* pStream) const override;
	CArgument* Clone() const override;

	int32_t GetValue() const { return m_iValue; }

private:
	int32_t m_iValue;
};

class CArgumentFloat : public CArgument
{
public:
	explicit CArgumentFloat(float fValue = 0.0f) : CArgument(ARGUMENT_FLOAT), m_fValue(fValue) {}

	bool Read(Stream* pStream) override;
	bool GetSize(size_t& Size) const override;
	bool Write(Stream* pStream) const override;
	CArgument* Clone() const override;

	float GetValue() const { return m_fValue; }

private:
	float m_fValue;
};

class CArgumentLongInteger : public CArgument
{
public:
	explicit CArgumentLongInteger(int64_t iValue = 0) : CArgument(ARGUMENT_LONGINTEGER), m_iValue(iValue) {}

	bool Read(Stream* pStream) override;
	bool GetSize(size_t& Size) const override;
	bool Write(Stream* pStream) const override;
	CArgument* Clone() const override;

	int64_t GetValue() const { return m_iValue; }

private:
	int64_t m_iValue;
};

class CArgumentDouble : public CArgument
{
public:
	explicit CArgumentDouble(double dValue = 0.0) : CArgument(ARGUMENT_DOUBLE), m_dValue(dValue) {}

	bool Read(Stream* pStream) override;
	bool GetSize(size_t& Size) const override;
	bool Write(Stream* pStream) const override;
	CArgument* Clone() const override;

	double GetValue() const { return m_dValue; }

private:
	double m_dValue;
};

class CArgumentVector2D : public CArgument
{
public:
	explicit CArgumentVector2D(const CVector2D& vecValue = CVector2D()) : CArgument(ARGUMENT_VECTOR2D), m_vecValue(vecValue) {}

	bool Read(Stream* pStream) override;
	bool GetSize(size_t& Size) const override;
	bool Write(Stream* pStream) const override;
	CArgument* Clone() const override;

	const CVector2D& GetValue() const { return m_vecValue; }

private:
	CVector2D m_vecValue;
};

class CArgumentVector3D : public CArgument
{
public:
	explicit CArgumentVector3D(const CVector3D& vecValue = CVector3D()) : CArgument(ARGUMENT_VECTOR3D), m_vecValue(vecValue) {}

	bool Read(Stream* pStream) override;
	bool GetSize(size_t& Size) const override;
	bool Write(Stream* pStream) const override;
	CArgument* Clone() const override;

	const CVector3D& GetValue() const { return m_vecValue; }

private:
	CVector3D m_vecValue;
};

class CArgumentMatrix4x4 : public CArgument
{
public:
	explicit CArgumentMatrix4x4(const CMatrix4x4& matValue = CMatrix4x4()) : CArgument(ARGUMENT_MATRIX4X4), m_matValue(matValue) {}

	bool Read(Stream* pStream) override;
	bool GetSize(size_t& Size) const override;
	bool Write(Stream* pStream) const override;
	CArgument* Clone() const override;

	const CMatrix4x4& GetValue() const { return m_matValue; }

private:
	CMatrix4x4 m_matValue;
};

// UTF-8 text with its length; zero bytes inside the text are kept. The text is always zero-terminated.
class CArgumentString : public CArgument
{
public:
	CArgumentString();
	CArgumentString(const char* szText, size_t Length);
	~CArgumentString() override;

	bool Read(Stream* pStream) override;
	bool GetSize(size_t& Size) const override;
	bool Write(Stream* pStream) const override;
	CArgument* Clone() const override;

	// Copies up to the terminator.
	void SetString(const char* szText);
	// Copies exactly Length bytes and adds a terminator.
	void SetString(const char* szText, size_t Length);

	const char* GetString() const { return m_szText; }
	size_t GetLength() const { return m_Length; }

private:
	void Free();

	size_t m_Length;
	char* m_szText;
	// A converted copy of the text; nothing fills it in this server, it is only dropped with the text.
	void* m_pConverted;
};

class CArgumentBytes : public CArgument
{
public:
	CArgumentBytes();
	CArgumentBytes(const uint8_t* pData, size_t Length);
	~CArgumentBytes() override;

	bool Read(Stream* pStream) override;
	bool GetSize(size_t& Size) const override;
	bool Write(Stream* pStream) const override;
	CArgument* Clone() const override;

	// Null when the length is 0.
	const uint8_t* GetData() const { return m_pData; }
	size_t GetLength() const { return m_Length; }

private:
	size_t m_Length;
	uint8_t* m_pData;
};

// An engine object held with one reference. Objects cannot cross the wire: reading and writing fail.
class CArgumentObject : public CArgument
{
public:
	explicit CArgumentObject(CBaseObject* pObject);
	~CArgumentObject() override;

	bool Read(Stream* pStream) override;
	bool GetSize(size_t& Size) const override;
	bool Write(Stream* pStream) const override;
	CArgument* Clone() const override;

	CBaseObject* GetObject() const { return m_pObject; }

protected:
	// For the element value (tag 6), which refers to its element by network id.
	CArgumentObject(CBaseObject* pObject, uint8_t ucType);
	// Holds the new object (one reference) and releases the old one.
	void SetObject(CBaseObject* pObject);

private:
	CBaseObject* m_pObject;
};

// A function value. The function itself does not travel: a reader gets a function value without a function.
class CArgumentFunction : public CArgument
{
public:
	explicit CArgumentFunction(CFunction* pFunction = nullptr);
	~CArgumentFunction() override;

	bool Read(Stream* pStream) override;
	bool GetSize(size_t& Size) const override;
	bool Write(Stream* pStream) const override;
	CArgument* Clone() const override;

	CFunction* GetFunction() const { return m_pFunction; }

private:
	CFunction* m_pFunction;
};

// Ordered values, each holding one reference owned by the array. Also every argument list.
class CArgumentArray : public CArgument
{
public:
	CArgumentArray();
	explicit CArgumentArray(size_t Capacity);
	~CArgumentArray() override;

	bool Read(Stream* pStream) override;
	bool GetSize(size_t& Size) const override;
	// Fails, writing nothing, for more than 255 elements; fails at the first element that cannot be written.
	bool Write(Stream* pStream) const override;
	CArgument* Clone() const override;

	// Appends a clone of the value, or an undefined value when the value cannot be cloned.
	void Add(const CArgument* pValue);
	// Appends the value itself, taking over the caller's reference.
	void AddAndOwn(CArgument* pValue)
	{
		if (!KASSERT(pValue != nullptr))
		{
			AddUndefined();
			return;
		}
		MakeRoom();
		Append(pValue);
	}
	void AddNull();
	void AddUndefined();
	void AddBoolean(bool bValue);
	// 8-, 16- and 32-bit integers become tag 4 (unsigned 32-bit values keep their bits), 64-bit ones tag 15.
	void AddNumber(int8_t iValue) { AddNumber(static_cast<int32_t>(iValue)); }
	void AddNumber(uint8_t uiValue) { AddNumber(static_cast<int32_t>(uiValue)); }
	void AddNumber(int16_t iValue) { AddNumber(static_cast<int32_t>(iValue)); }
	void AddNumber(uint16_t uiValue) { AddNumber(static_cast<int32_t>(uiValue)); }
	void AddNumber(int32_t iValue)
	{
		MakeRoom();
		Append(new CArgumentInteger(iValue));
	}
	void AddNumber(uint32_t uiValue) { AddNumber(static_cast<int32_t>(uiValue)); }
	void AddNumber(long iValue) { AddNumber(static_cast<long long>(iValue)); }
	void AddNumber(unsigned long uiValue) { AddNumber(static_cast<long long>(uiValue)); }
	void AddNumber(long long iValue)
	{
		MakeRoom();
		Append(new CArgumentLongInteger(iValue));
	}
	void AddNumber(unsigned long long uiValue) { AddNumber(static_cast<long long>(uiValue)); }
	void AddNumber(float fValue)
	{
		MakeRoom();
		Append(new CArgumentFloat(fValue));
	}
	void AddNumber(double dValue)
	{
		MakeRoom();
		Append(new CArgumentDouble(dValue));
	}
	// Copied up to the terminator.
	void AddString(const char* szText);
	void AddString(const char* szText, size_t Length);
	void AddBytes(const uint8_t* pData, size_t Length);
	void AddVector2D(const CVector2D& vecValue);
	void AddVector3D(const CVector3D& vecValue);
	void AddMatrix4x4(const CMatrix4x4& matValue);
	void AddObject(CBaseObject* pObject);

	// Appends a clone of every element, in order, to pTarget.
	void InsertTo(CArgumentArray* pTarget) const;

	// Null when the index is not below the count.
	CArgument* GetAt(size_t Index) const { return Index < m_Count ? m_ppElements[Index] : nullptr; }
	size_t GetArrayCount() const { return m_Count; }

	void Clear();
	// Clears the array and reserves room for Count elements.
	void Resize(size_t Count);
	// Moves every element into pTarget (whose former elements are released) without touching any count.
	void Move(CArgumentArray* pTarget);

	// The plug-in module's array view of this value, made by the module layer on first request beside the
	// value's own view; it holds a reference to the value, never outlives it and is never copied to a clone.
	void* GetArrayView() const { return m_pArrayView; }
	void SetArrayView(void* pView) { m_pArrayView = pView; }

private:
	// Argument lists and return slots of calls are short: they keep their elements in the array itself and need
	// no storage of their own.
	static constexpr size_t INLINE_ELEMENTS = 4;

	// Room for Capacity elements; throws std::bad_alloc when there is no memory for it.
	void Reserve(size_t Capacity);
	// Room for one more element.
	void MakeRoom()
	{
		if (m_Count == m_Capacity)
			Reserve(m_Capacity * 2);
	}
	void Append(CArgument* pValue) { m_ppElements[m_Count++] = pValue; }
	// Back to the inline storage, empty; the caller has taken the elements and their storage.
	void Reset()
	{
		m_ppElements = m_rgpInline;
		m_Count = 0;
		m_Capacity = INLINE_ELEMENTS;
	}

	CArgument** m_ppElements;
	size_t m_Count;
	size_t m_Capacity;
	CArgument* m_rgpInline[INLINE_ELEMENTS];
	void* m_pArrayView;
};

typedef CArgumentArray CArguments;

// The single return slot of a call.
class CReturnValue : public CArgumentArray
{
public:
	CReturnValue() : CArgumentArray(1) {}

	// The first element, or null.
	CArgument* GetReturnArgument() const { return GetAt(0); }
};

// String-keyed values, each holding one reference owned by the map. Keys are stored up to their first zero byte.
class CArgumentMap : public CArgument
{
public:
	typedef std::unordered_map<std::string, CArgument*> tEntries;

	CArgumentMap();
	explicit CArgumentMap(size_t Count);
	~CArgumentMap() override;

	bool Read(Stream* pStream) override;
	bool GetSize(size_t& Size) const override;
	bool Write(Stream* pStream) const override;
	CArgument* Clone() const override;

	// Takes over the caller's reference; a different value held under the key is released.
	void Set(const char* szKey, CArgument* pValue);
	// Borrowed, no reference added; null when absent.
	CArgument* Get(const char* szKey) const;
	bool Remove(const char* szKey);
	void Clear();
	// Clears the map and sizes its table for Count entries.
	void Resize(size_t Count);

	size_t GetCount() const { return m_Entries.size(); }
	tEntries::const_iterator begin() const { return m_Entries.begin(); }
	tEntries::const_iterator end() const { return m_Entries.end(); }

	// The plug-in module's dictionary view of this value, kept like the array view of an array value.
	void* GetDictionaryView() const { return m_pDictionaryView; }
	void SetDictionaryView(void* pView) { m_pDictionaryView = pView; }

private:
	tEntries m_Entries;
	void* m_pDictionaryView;
};
