#include <cmath>
#include <cstring>
#include <limits>

#include "Engine/BaseObject.h"
#include "Engine/KAssert.h"
#include "Engine/KestrinArguments.h"
#include "Engine/KestrinNative.h"
#include "Engine/KestrinStream.h"

const char* const g_rgpszArgumentTypes[ARGUMENT_TYPE_COUNT] = {
	"ARGUMENT_NIL",
	"ARGUMENT_BOOLEAN",
	"ARGUMENT_STRING",
	"ARGUMENT_TABLE",
	"ARGUMENT_INTEGER",
	"ARGUMENT_FLOAT",
	"ARGUMENT_NETOBJECT",
	"ARGUMENT_OBJECT",
	"ARGUMENT_VECTOR2D",
	"ARGUMENT_VECTOR3D",
	"ARGUMENT_VECTOR4D",
	"ARGUMENT_MATRIX4X4",
	"ARGUMENT_UNDEFINED",
	"ARGUMENT_LUAREF",
	"ARGUMENT_JSVALUE",
	"ARGUMENT_LONGINTEGER",
	"ARGUMENT_DOUBLE",
	"ARGUMENT_ARRAY",
	"ARGUMENT_MAP",
	"ARGUMENT_FUNCTION",
	"ARGUMENT_SQREF",
	"ARGUMENT_BYTES",
};

const char* const g_rgpszArgumentTypeNames[ARGUMENT_TYPE_COUNT] = {
	"null",
	"boolean",
	"string",
	"table",
	"integer",
	"number",
	"element",
	"instance",
	"Vector2D",
	"Vector3D",
	"Vector4D",
	"Matrix4x4",
	"undefined",
	"luaref",
	"jsvalue",
	"integer",
	"number",
	"array",
	"map",
	"function",
	"sqref",
	"bytes",
};

// Length prefix

bool KReadLengthPrefix(Stream* pStream, size_t& Length, bool* pbNothing)
{
	if (pbNothing)
		*pbNothing = false;
	uint32_t uiValue = 0;
	for (int i = 0; i < 5; i++)
	{
		uint8_t ucByte;
		if (pStream->Read(&ucByte, 1) != 1)
		{
			if (i == 0 && pbNothing)
				*pbNothing = true;
			return false;
		}
		// Bits of the fifth group beyond bit 31 fall off the 32-bit value.
		uiValue |= static_cast<uint32_t>(ucByte & 0x7F) << (7 * i);
		if ((ucByte & 0x80) == 0)
		{
			if (uiValue > ARGUMENT_MAX_ENCODED_LENGTH)
				return false;
			Length = uiValue;
			return true;
		}
	}
	return false;
}

bool KWriteLengthPrefix(Stream* pStream, size_t Length)
{
	if (Length > ARGUMENT_MAX_ENCODED_LENGTH)
		return false;
	uint8_t rgucBuffer[5];
	size_t Count = 0;
	uint32_t uiValue = static_cast<uint32_t>(Length);
	do
	{
		uint8_t ucByte = uiValue & 0x7F;
		uiValue >>= 7;
		if (uiValue != 0)
			ucByte |= 0x80;
		rgucBuffer[Count++] = ucByte;
	} while (uiValue != 0);
	return pStream->Write(rgucBuffer, Count) == Count;
}

size_t KEstimateValueBytes(const CArgument* pValue)
{
	// A hash node with its key string and the value object beside the encoded bytes.
	constexpr size_t MAP_ENTRY_BYTES = 96;
	size_t Size = 0;
	if (pValue == nullptr)
		return 0;
	if (!pValue->GetSize(Size))
		Size = 0;
	if (pValue->GetType() == ARGUMENT_MAP)
		Size += static_cast<const CArgumentMap*>(pValue)->GetCount() * MAP_ENTRY_BYTES;
	return Size;
}

size_t KGetLengthPrefixSize(size_t Length)
{
	uint32_t uiValue = static_cast<uint32_t>(Length);
	size_t Size = 1;
	while (uiValue >= 0x80)
	{
		uiValue >>= 7;
		Size++;
	}
	return Size;
}

size_t KGetRemainingBytes(Stream* pStream)
{
	long lPosition = pStream->Tell();
	long lLength = pStream->GetLength();
	if (lPosition < 0 || lLength <= lPosition)
		return 0;
	return static_cast<size_t>(lLength - lPosition);
}

// CArgument

CArgument* CArgument::Create(uint8_t ucType)
{
	switch (ucType)
	{
	case ARGUMENT_NIL:
	case ARGUMENT_UNDEFINED:
		return new CArgument(ucType);
	case ARGUMENT_BOOLEAN:
		return new CArgumentBoolean();
	case ARGUMENT_STRING:
		return new CArgumentString();
	case ARGUMENT_INTEGER:
		return new CArgumentInteger();
	case ARGUMENT_FLOAT:
		return new CArgumentFloat();
	case ARGUMENT_VECTOR2D:
		return new CArgumentVector2D();
	case ARGUMENT_VECTOR3D:
		return new CArgumentVector3D();
	case ARGUMENT_MATRIX4X4:
		return new CArgumentMatrix4x4();
	case ARGUMENT_LONGINTEGER:
		return new CArgumentLongInteger();
	case ARGUMENT_DOUBLE:
		return new CArgumentDouble();
	case ARGUMENT_ARRAY:
		return new CArgumentArray();
	case ARGUMENT_MAP:
		return new CArgumentMap();
	case ARGUMENT_FUNCTION:
		return new CArgumentFunction();
	case ARGUMENT_BYTES:
		return new CArgumentBytes();
	default:
		return nullptr;
	}
}

CArgument* CArgument::Create(uint8_t ucType, IArgumentResolver* pResolver)
{
	CArgument* pValue = Create(ucType);
	if (!pValue && pResolver)
		pValue = pResolver->CreateArgument(ucType);
	if (pValue)
		pValue->SetResolver(pResolver);
	return pValue;
}

CArgument* CArgument::Create(CBaseObject* pObject)
{
	if (!pObject)
		return new CArgument(ARGUMENT_NIL);
	return pObject->CreateArgument();
}

const char* CArgument::GetTypeSymbol(uint8_t ucType)
{
	return ucType < ARGUMENT_TYPE_COUNT ? g_rgpszArgumentTypes[ucType] : "unknown";
}

const char* CArgument::GetTypeName(uint8_t ucType)
{
	return ucType < ARGUMENT_TYPE_COUNT ? g_rgpszArgumentTypeNames[ucType] : "unknown";
}

CArgument* CArgument::ReadTyped(Stream* pStream, IArgumentResolver* pResolver)
{
	uint8_t ucType;
	if (pStream->Read(&ucType, 1) != 1)
		return nullptr;
	CArgument* pValue = Create(ucType, pResolver);
	if (!pValue)
		return nullptr;
	if (!pValue->Read(pStream))
	{
		pValue->Release();
		return nullptr;
	}
	return pValue;
}

bool CArgument::WriteTyped(Stream* pStream, const CArgument* pValue)
{
	uint8_t ucType = pValue->GetType();
	return pStream->Write(&ucType, 1) == 1 && pValue->Write(pStream);
}

// Only null and undefined are served here; the script-engine references that inherit these carry nothing that
// another machine could use, so they refuse to be written and report no size.
bool CArgument::Read(Stream*)
{
	return IsNull();
}

bool CArgument::GetSize(size_t& Size) const
{
	if (!IsNull())
		return false;
	Size = 0;
	return true;
}

bool CArgument::Write(Stream*) const
{
	return IsNull();
}

CArgument* CArgument::Clone() const
{
	if (IsNull())
		return new CArgument(m_ucType);
	return nullptr;
}

// Number conversions

namespace
{
// Truncation toward zero that saturates at the integer's range; NaN gives 0.
template <class I, class F>
I SaturatingTruncate(F fValue)
{
	static_assert(std::numeric_limits<I>::is_signed, "signed targets only");
	if (std::isnan(fValue))
		return 0;
	const F fLimit = std::ldexp(F(1), std::numeric_limits<I>::digits);
	if (fValue >= fLimit)
		return std::numeric_limits<I>::max();
	if (fValue < -fLimit)
		return std::numeric_limits<I>::min();
	return static_cast<I>(fValue);
}

template <class F>
uint64_t SaturatingTruncateUnsigned64(F fValue)
{
	if (std::isnan(fValue))
		return 0;
	const F fHalf = std::ldexp(F(1), 63);
	if (fValue < fHalf)
		return static_cast<uint64_t>(SaturatingTruncate<int64_t>(fValue));
	if (fValue >= std::ldexp(F(1), 64))
		return std::numeric_limits<uint64_t>::max();
	return static_cast<uint64_t>(static_cast<int64_t>(fValue - fHalf)) + (uint64_t(1) << 63);
}

template <class T, class Convert>
void ConvertNumber(const CArgument* pValue, T& Out, Convert Fn)
{
	switch (pValue->GetType())
	{
	case ARGUMENT_INTEGER:
		Out = Fn(static_cast<const CArgumentInteger*>(pValue)->GetValue());
		break;
	case ARGUMENT_FLOAT:
		Out = Fn(static_cast<const CArgumentFloat*>(pValue)->GetValue());
		break;
	case ARGUMENT_LONGINTEGER:
		Out = Fn(static_cast<const CArgumentLongInteger*>(pValue)->GetValue());
		break;
	default:
		Out = Fn(static_cast<const CArgumentDouble*>(pValue)->GetValue());
		break;
	}
}

struct tToInt32
{
	int32_t operator()(int32_t i) const { return i; }
	int32_t operator()(int64_t i) const { return static_cast<int32_t>(static_cast<uint32_t>(i)); }
	int32_t operator()(float f) const { return SaturatingTruncate<int32_t>(f); }
	int32_t operator()(double d) const { return SaturatingTruncate<int32_t>(d); }
};

struct tToUInt32
{
	uint32_t operator()(int32_t i) const { return static_cast<uint32_t>(i); }
	uint32_t operator()(int64_t i) const { return static_cast<uint32_t>(i); }
	uint32_t operator()(float f) const { return static_cast<uint32_t>(SaturatingTruncate<int64_t>(f)); }
	uint32_t operator()(double d) const { return static_cast<uint32_t>(SaturatingTruncate<int64_t>(d)); }
};

struct tToInt64
{
	int64_t operator()(int32_t i) const { return i; }
	int64_t operator()(int64_t i) const { return i; }
	int64_t operator()(float f) const { return SaturatingTruncate<int64_t>(f); }
	int64_t operator()(double d) const { return SaturatingTruncate<int64_t>(d); }
};

struct tToUInt64
{
	uint64_t operator()(int32_t i) const { return static_cast<uint64_t>(static_cast<int64_t>(i)); }
	uint64_t operator()(int64_t i) const { return static_cast<uint64_t>(i); }
	uint64_t operator()(float f) const { return SaturatingTruncateUnsigned64(f); }
	uint64_t operator()(double d) const { return SaturatingTruncateUnsigned64(d); }
};

struct tToFloat
{
	template <class T>
	float operator()(T v) const
	{
		return static_cast<float>(v);
	}
};

struct tToDouble
{
	template <class T>
	double operator()(T v) const
	{
		return static_cast<double>(v);
	}
};
}

bool CArgument::ToNumber(int32_t& Out) const
{
	if (!KASSERT(IsNumber()))
		return false;
	ConvertNumber(this, Out, tToInt32());
	return true;
}

bool CArgument::ToNumber(uint32_t& Out) const
{
	if (!KASSERT(IsNumber()))
		return false;
	ConvertNumber(this, Out, tToUInt32());
	return true;
}

bool CArgument::ToNumber(int64_t& Out) const
{
	if (!KASSERT(IsNumber()))
		return false;
	ConvertNumber(this, Out, tToInt64());
	return true;
}

bool CArgument::ToNumber(uint64_t& Out) const
{
	if (!KASSERT(IsNumber()))
		return false;
	ConvertNumber(this, Out, tToUInt64());
	return true;
}

bool CArgument::ToNumber(float& Out) const
{
	if (!KASSERT(IsNumber()))
		return false;
	ConvertNumber(this, Out, tToFloat());
	return true;
}

bool CArgument::ToNumber(double& Out) const
{
	if (!KASSERT(IsNumber()))
		return false;
	ConvertNumber(this, Out, tToDouble());
	return true;
}

// Other getters

const char* CArgument::ToString(size_t* pLength) const
{
	if (!KASSERT(IsString()))
	{
		if (pLength)
			*pLength = 0;
		return "";
	}
	const CArgumentString* pString = static_cast<const CArgumentString*>(this);
	if (pLength)
		*pLength = pString->GetLength();
	return pString->GetString();
}

const uint8_t* CArgument::ToBytes(size_t& Length) const
{
	if (m_ucType == ARGUMENT_BYTES)
	{
		const CArgumentBytes* pBytes = static_cast<const CArgumentBytes*>(this);
		Length = pBytes->GetLength();
		return pBytes->GetData();
	}
	if (KASSERT(IsString()))
	{
		const CArgumentString* pString = static_cast<const CArgumentString*>(this);
		Length = pString->GetLength();
		return reinterpret_cast<const uint8_t*>(pString->GetString());
	}
	Length = 0;
	return nullptr;
}

bool CArgument::ToBoolean() const
{
	if (!KASSERT(IsBoolean()))
		return false;
	return static_cast<const CArgumentBoolean*>(this)->GetValue();
}

void CArgument::ToVector2D(CVector2D& Out) const
{
	if (KASSERT(IsVector2D()))
		Out = static_cast<const CArgumentVector2D*>(this)->GetValue();
}

void CArgument::ToVector3D(CVector3D& Out) const
{
	if (KASSERT(IsVector3D()))
		Out = static_cast<const CArgumentVector3D*>(this)->GetValue();
}

void CArgument::ToMatrix4x4(CMatrix4x4& Out) const
{
	if (KASSERT(IsMatrix4x4()))
		Out = static_cast<const CArgumentMatrix4x4*>(this)->GetValue();
}

CFunction* CArgument::ToFunction() const
{
	if (!KASSERT(IsFunction()))
		return nullptr;
	return static_cast<const CArgumentFunction*>(this)->GetFunction();
}

CBaseObject* CArgument::ToObject() const
{
	if (!KASSERT(IsObject()))
		return nullptr;
	return static_cast<const CArgumentObject*>(this)->GetObject();
}

CBaseObject* CArgument::ToObject(ReflectedClass* pClass) const
{
	CBaseObject* pObject = ToObject();
	if (!pObject || !pObject->GetReflectedClass() || !pObject->IsA(pClass))
		return nullptr;
	return pObject;
}

// Objects and functions

CArgumentObject::CArgumentObject(CBaseObject* pObject) : CArgumentObject(pObject, ARGUMENT_OBJECT)
{
}

CArgumentObject::CArgumentObject(CBaseObject* pObject, uint8_t ucType) : CArgument(ucType), m_pObject(pObject)
{
	if (m_pObject)
		m_pObject->AddRef();
}

CArgumentObject::~CArgumentObject()
{
	SetObject(nullptr);
}

void CArgumentObject::SetObject(CBaseObject* pObject)
{
	if (pObject == m_pObject)
		return;
	if (pObject)
		pObject->AddRef();
	CBaseObject* pOld = m_pObject;
	m_pObject = pObject;
	if (pOld)
		pOld->Release();
}

bool CArgumentObject::Read(Stream*)
{
	return false;
}

bool CArgumentObject::GetSize(size_t&) const
{
	return false;
}

bool CArgumentObject::Write(Stream*) const
{
	return false;
}

CArgument* CArgumentObject::Clone() const
{
	CArgumentObject* pClone = new CArgumentObject(m_pObject);
	pClone->SetResolver(GetResolver());
	return pClone;
}

CArgumentFunction::CArgumentFunction(CFunction* pFunction) : CArgument(ARGUMENT_FUNCTION), m_pFunction(pFunction)
{
	if (m_pFunction)
		m_pFunction->AddRef();
}

CArgumentFunction::~CArgumentFunction()
{
	if (m_pFunction)
		m_pFunction->Release();
}

bool CArgumentFunction::Read(Stream*)
{
	if (m_pFunction)
		m_pFunction->Release();
	m_pFunction = nullptr;
	return true;
}

bool CArgumentFunction::GetSize(size_t& Size) const
{
	Size = 0;
	return true;
}

bool CArgumentFunction::Write(Stream*) const
{
	return true;
}

CArgument* CArgumentFunction::Clone() const
{
	return new CArgumentFunction(m_pFunction);
}

// Kept beside the object value it makes, so the object model does not depend on the value family.
CArgument* CBaseObject::CreateArgument()
{
	return new CArgumentObject(this);
}
