// The views of script values: any value, and the elements of array and map values.
//
// Every conversion checks the value's tag before it reads the payload; a value of another kind gives -7 and
// leaves the output as it was.

#include <new>
#include <unordered_set>
#include <vector>

#include "Engine/KestrinArguments.h"
#include "Engine/ScriptStream.h"
#include "ViewBase.h"

namespace Kestrin3D
{
namespace Interfaces
{
namespace
{
struct tArgumentSlot
{
	static IArgument* Load(CArgument* pValue) { return static_cast<IArgument*>(pValue->GetModuleView()); }
	static void Store(CArgument* pValue, IArgument* pView) { pValue->SetModuleView(pView); }
};

struct tArraySlot
{
	static IArray* Load(CArgumentArray* pArray) { return static_cast<IArray*>(pArray->GetArrayView()); }
	static void Store(CArgumentArray* pArray, IArray* pView) { pArray->SetArrayView(pView); }
};

struct tDictionarySlot
{
	static IDictionary* Load(CArgumentMap* pMap) { return static_cast<IDictionary*>(pMap->GetDictionaryView()); }
	static void Store(CArgumentMap* pMap, IDictionary* pView) { pMap->SetDictionaryView(pView); }
};

// The most elements a module may ask room for: no script could take a longer array or map.
constexpr size_t MAX_RESERVED_ELEMENTS = ARGUMENT_MAX_CONVERTED_ELEMENTS;

// Whether pValue is pContainer or sits in it at any depth. Maps share the values set into them, so a module could
// otherwise make a map hold itself: a reference cycle that no release ends and every copy recurses through.
bool Contains(const CArgument* pContainer, const CArgument* pValue)
{
	std::vector<const CArgument*> Pending{pContainer};
	std::unordered_set<const CArgument*> Seen;
	while (!Pending.empty())
	{
		const CArgument* pCurrent = Pending.back();
		Pending.pop_back();
		if (pCurrent == pValue)
			return true;
		if (!pCurrent || !Seen.insert(pCurrent).second)
			continue;
		if (const CArgumentArray* pArray = dynamic_cast<const CArgumentArray*>(pCurrent))
		{
			for (size_t i = 0; i < pArray->GetArrayCount(); i++)
				Pending.push_back(pArray->GetAt(i));
		}
		else if (const CArgumentMap* pMap = dynamic_cast<const CArgumentMap*>(pCurrent))
		{
			for (const auto& Entry : *pMap)
				Pending.push_back(Entry.second);
		}
	}
	return false;
}

// Makes room for Count elements with Reserve; -2 when that much cannot be had.
template <class TReserve>
Result ReserveRoom(size_t Count, TReserve Reserve)
{
	if (Count > MAX_RESERVED_ELEMENTS)
		return RESULT_NOT_AVAILABLE;
	try
	{
		Reserve();
	}
	catch (const std::bad_alloc&)
	{
		return RESULT_NOT_AVAILABLE;
	}
	return RESULT_OK;
}

class CArgumentImpl final : public CCachedView<CArgumentImpl, IArgument, CArgument, tArgumentSlot, true>
{
public:
	explicit CArgumentImpl(CArgument* pValue) : CCachedView(pValue) {}

	Result GetInterface(const tUUID& Id, void** ppOut) override
	{
		if (!ppOut)
			return RESULT_NULL_ARGUMENT;
		if (Id == ID_Argument)
			return AnswerSelf<IArgument>(this, ppOut);
		if (Id == ID_Array)
		{
			if (CArgumentArray* pArray = dynamic_cast<CArgumentArray*>(m_pObject))
				return AnswerView(GetView(pArray), ppOut, RESULT_NOT_FOUND);
		}
		else if (Id == ID_Dictionary)
		{
			if (CArgumentMap* pMap = dynamic_cast<CArgumentMap*>(m_pObject))
				return AnswerView(GetView(pMap), ppOut, RESULT_NOT_FOUND);
		}
		else if (Id == ID_Function && m_pObject->IsFunction())
			return AnswerView(GetView(m_pObject->ToFunction()), ppOut, RESULT_NO_VALUE);
		return RESULT_NOT_FOUND;
	}

	Result Clone(IArgument** ppOut) override
	{
		if (!ppOut)
			return RESULT_NULL_ARGUMENT;
		CArgument* pCopy = m_pObject->Clone();
		*ppOut = GetView(pCopy);
		if (!pCopy)
			return RESULT_NOT_AVAILABLE;
		pCopy->Release();
		return RESULT_OK;
	}

	uint8_t GetType() override { return m_pObject->GetType(); }
	const char* GetTypeName() override { return m_pObject->GetTypeName(); }
	bool IsNull() override { return m_pObject->IsNull(); }
	bool IsBoolean() override { return m_pObject->IsBoolean(); }
	bool IsString() override { return m_pObject->IsString(); }
	bool IsObject() override { return m_pObject->IsObject(); }
	bool IsVector2D() override { return m_pObject->IsVector2D(); }
	bool IsVector3D() override { return m_pObject->IsVector3D(); }
	bool IsVector4D() override { return m_pObject->IsVector4D(); }
	bool IsMatrix4x4() override { return m_pObject->IsMatrix4x4(); }
	bool IsNumber() override { return m_pObject->IsNumber(); }
	bool IsArray() override { return m_pObject->GetType() == ARGUMENT_ARRAY; }
	bool IsDictionary() override { return m_pObject->GetType() == ARGUMENT_MAP; }
	bool IsFunction() override { return m_pObject->IsFunction(); }

	Result ToBoolean() override
	{
		if (!m_pObject->IsBoolean())
			return RESULT_NO_VALUE;
		return m_pObject->ToBoolean() ? RESULT_OK : RESULT_NO;
	}

	Result ToString(const char** ppOut, size_t* pLength) override
	{
		if (!ppOut)
			return RESULT_NULL_ARGUMENT;
		if (!m_pObject->IsString())
			return RESULT_NO_VALUE;
		*ppOut = m_pObject->ToString(pLength);
		return RESULT_OK;
	}

	Result ToObject(IBaseObject** ppOut, IReflectedClass* pClass) override
	{
		if (!ppOut)
			return RESULT_NULL_ARGUMENT;
		*ppOut = nullptr;
		if (!m_pObject->IsObject())
			return RESULT_NOT_FOUND;
		ReflectedClass* pReflectedClass = Interfaces::Unwrap(pClass);
		if (pClass && !pReflectedClass)
			return RESULT_NOT_FOUND;
		CBaseObject* pObject = pReflectedClass ? m_pObject->ToObject(pReflectedClass) : m_pObject->ToObject();
		return AnswerView(GetView(pObject), reinterpret_cast<void**>(ppOut), RESULT_NOT_FOUND);
	}

	Result ToVector2D(float& fX, float& fY) override
	{
		if (!m_pObject->IsVector2D())
			return RESULT_NO_VALUE;
		CVector2D vecValue;
		m_pObject->ToVector2D(vecValue);
		fX = vecValue.x;
		fY = vecValue.y;
		return RESULT_OK;
	}

	Result ToVector3D(float& fX, float& fY, float& fZ) override
	{
		if (!m_pObject->IsVector3D())
			return RESULT_NO_VALUE;
		CVector3D vecValue;
		m_pObject->ToVector3D(vecValue);
		fX = vecValue.x;
		fY = vecValue.y;
		fZ = vecValue.z;
		return RESULT_OK;
	}

	// There is no four-component value.
	Result ToVector4D(float&, float&, float&, float&) override { return RESULT_NOT_AVAILABLE; }

	Result ToMatrix4x4(float rgfMatrix[16]) override
	{
		if (!rgfMatrix)
			return RESULT_NULL_ARGUMENT;
		if (!m_pObject->IsMatrix4x4())
			return RESULT_NO_VALUE;
		CMatrix4x4 matValue;
		m_pObject->ToMatrix4x4(matValue);
		matValue.ToArray(rgfMatrix);
		return RESULT_OK;
	}

	Result ToInt32(int32_t& iValue) override { return ToNumber(iValue); }
	Result ToUInt32(uint32_t& uiValue) override { return ToNumber(uiValue); }
	Result ToInt64(int64_t& iValue) override { return ToNumber(iValue); }
	Result ToUInt64(uint64_t& uiValue) override { return ToNumber(uiValue); }
	Result ToSingle(float& fValue) override { return ToNumber(fValue); }
	Result ToDouble(double& dValue) override { return ToNumber(dValue); }

	Result ToFunction(IFunction** ppOut) override
	{
		if (!ppOut)
			return RESULT_NULL_ARGUMENT;
		CFunction* pFunction = m_pObject->IsFunction() ? m_pObject->ToFunction() : nullptr;
		return AnswerView(GetView(pFunction), reinterpret_cast<void**>(ppOut), RESULT_NO_VALUE);
	}

	Result ToStream(IStream** ppOut) override
	{
		if (!ppOut)
			return RESULT_NULL_ARGUMENT;
		CBaseObject* pObject = m_pObject->IsObject() ? m_pObject->ToObject() : nullptr;
		CScriptStream* pScriptStream = dynamic_cast<CScriptStream*>(pObject);
		Stream* pStream = pScriptStream ? pScriptStream->GetStream() : nullptr;
		return AnswerView(GetView(pStream), reinterpret_cast<void**>(ppOut), RESULT_NO_VALUE);
	}

private:
	template <class T>
	Result ToNumber(T& Value)
	{
		if (!m_pObject->IsNumber())
			return RESULT_NO_VALUE;
		m_pObject->ToNumber(Value);
		return RESULT_OK;
	}
};

class CArrayImpl final : public CCachedView<CArrayImpl, IArray, CArgumentArray, tArraySlot, true>
{
public:
	explicit CArrayImpl(CArgumentArray* pArray) : CCachedView(pArray) {}

	Result GetInterface(const tUUID& Id, void** ppOut) override
	{
		if (!ppOut)
			return RESULT_NULL_ARGUMENT;
		if (Id == ID_Array)
			return AnswerSelf<IArray>(this, ppOut);
		if (Id == ID_Argument)
			return AnswerView(GetView(static_cast<CArgument*>(m_pObject)), ppOut, RESULT_NOT_FOUND);
		return RESULT_NOT_FOUND;
	}

	size_t GetCount() override { return m_pObject->GetArrayCount(); }

	Result GetAt(size_t Index, IArgument** ppOut) override
	{
		if (!ppOut)
			return RESULT_NULL_ARGUMENT;
		return AnswerView(GetView(m_pObject->GetAt(Index)), reinterpret_cast<void**>(ppOut), RESULT_OUT_OF_RANGE);
	}

	Result Clear() override
	{
		m_pObject->Clear();
		return RESULT_OK;
	}

	Result Resize(size_t Count) override
	{
		return ReserveRoom(Count, [&] { m_pObject->Resize(Count); });
	}

	Result Insert(IArgument* pValue) override
	{
		if (!pValue)
			return RESULT_NULL_ARGUMENT;
		CArgument* pArgument = Interfaces::Unwrap(pValue);
		if (!pArgument)
			return RESULT_NOT_FOUND;
		m_pObject->Add(pArgument);
		return RESULT_OK;
	}

	Result Move(IArray* pTarget) override
	{
		if (!pTarget)
			return RESULT_NULL_ARGUMENT;
		CArgumentArray* pTargetArray = Interfaces::Unwrap(pTarget);
		if (!pTargetArray)
			return RESULT_NOT_FOUND;
		if (pTargetArray == m_pObject)
			return RESULT_OK;
		// The target would end up holding itself.
		if (Contains(m_pObject, pTargetArray))
			return RESULT_NOT_AVAILABLE;
		pTargetArray->Clear();
		m_pObject->Move(pTargetArray);
		return RESULT_OK;
	}
};

class CDictionaryImpl final : public CCachedView<CDictionaryImpl, IDictionary, CArgumentMap, tDictionarySlot, true>
{
public:
	explicit CDictionaryImpl(CArgumentMap* pMap) : CCachedView(pMap) {}

	Result GetInterface(const tUUID& Id, void** ppOut) override
	{
		if (!ppOut)
			return RESULT_NULL_ARGUMENT;
		if (Id == ID_Dictionary)
			return AnswerSelf<IDictionary>(this, ppOut);
		if (Id == ID_Argument)
			return AnswerView(GetView(static_cast<CArgument*>(m_pObject)), ppOut, RESULT_NOT_FOUND);
		return RESULT_NOT_FOUND;
	}

	Result Clear() override
	{
		m_pObject->Clear();
		return RESULT_OK;
	}

	Result Resize(size_t Count) override
	{
		return ReserveRoom(Count, [&] { m_pObject->Resize(Count); });
	}

	Result Remove(const char* szKey) override
	{
		if (!szKey)
			return RESULT_NULL_ARGUMENT;
		return m_pObject->Remove(szKey) ? RESULT_OK : RESULT_NOT_FOUND;
	}

	Result Get(const char* szKey, IArgument** ppOut) override
	{
		if (!szKey || !ppOut)
			return RESULT_NULL_ARGUMENT;
		return AnswerView(GetView(m_pObject->Get(szKey)), reinterpret_cast<void**>(ppOut), RESULT_NOT_FOUND);
	}

	Result Set(const char* szKey, IArgument* pValue) override
	{
		if (!szKey || !pValue)
			return RESULT_NULL_ARGUMENT;
		CArgument* pArgument = Interfaces::Unwrap(pValue);
		if (!pArgument)
			return RESULT_NOT_FOUND;
		if (m_pObject->Get(szKey) == pArgument)
			return RESULT_OK;
		if (Contains(pArgument, m_pObject))
			return RESULT_NOT_AVAILABLE;
		// The map shares the module's value: it takes a reference of its own.
		pArgument->AddRef();
		m_pObject->Set(szKey, pArgument);
		return RESULT_OK;
	}
};
}

IArgument* GetView(CArgument* pValue)
{
	return CArgumentImpl::ViewOf(pValue);
}

IArray* GetView(CArgumentArray* pArray)
{
	return CArrayImpl::ViewOf(pArray);
}

IDictionary* GetView(CArgumentMap* pMap)
{
	return CDictionaryImpl::ViewOf(pMap);
}

CArgument* Unwrap(IArgument* pView)
{
	return CArgumentImpl::Unwrap(pView);
}

CArgumentArray* Unwrap(IArray* pView)
{
	return CArrayImpl::Unwrap(pView);
}

CArgumentMap* Unwrap(IDictionary* pView)
{
	return CDictionaryImpl::Unwrap(pView);
}
}
}
