// Values between the engine and JavaScript: conversions both ways, function values and held script objects.

#include <cstring>
#include <string>

#include <js/Array.h>
#include <js/ArrayBuffer.h>
#include <js/CharacterEncoding.h>
#include <js/Object.h>
#include <js/PropertyAndElement.h>
#include <js/String.h>

#include "Engine/Context.h"
#include "Engine/KAssert.h"
#include "Engine/ScriptClasses.h"
#include "JSScripting/CJSScripting.h"
#include "JSScripting/JSUtil.h"

namespace
{
// No dense array fits the heap limit with more elements than this; a longer one is mostly holes, whose conversion
// would only exhaust memory. One conversion makes no more elements in all: an array that holds the same large
// array many times is small for the script, but becomes one copy of it per place.
constexpr uint32_t MAX_ARRAY_LENGTH = ARGUMENT_MAX_CONVERTED_ELEMENTS;

bool ReportTooDeep(JSContext* cx)
{
	const std::string Text =
		"Cannot convert a value nested deeper than " + std::to_string(ARGUMENT_MAX_ENCODED_DEPTH) + " levels";
	return JSUtil::ReportError(cx, Text.c_str());
}

void SetEmpty(JS::MutableHandleValue Out, bool bReturn)
{
	if (bReturn)
		Out.setNull();
	else
		Out.setUndefined();
}

bool NewString(JSContext* cx, const char* szText, JS::MutableHandleValue Out)
{
	// The text ends at its first zero byte.
	JSString* pString = JS_NewStringCopyUTF8Z(cx, JS::ConstUTF8CharsZ(szText, strlen(szText)));
	if (pString == nullptr)
		return false;
	Out.setString(pString);
	return true;
}

bool NewBytes(JSContext* cx, const CArgumentBytes* pValue, JS::MutableHandleValue Out)
{
	// A copy: the buffer may outlive the value.
	JS::RootedObject Buffer(cx, JS::NewArrayBuffer(cx, pValue->GetLength()));
	if (!Buffer)
		return false;
	if (pValue->GetLength() > 0)
	{
		JS::AutoCheckCannotGC NoGC;
		bool bShared = false;
		uint8_t* pData = JS::GetArrayBufferData(Buffer, &bShared, NoGC);
		memcpy(pData, pValue->GetData(), pValue->GetLength());
	}
	Out.setObject(*Buffer);
	return true;
}
}

// Engine to JavaScript

bool CJSScripting::GetJSValue(const CArgument* pValue, JS::MutableHandleValue Out)
{
	return ToJSValue(pValue, Out, false, 0);
}

bool CJSScripting::SetJSReturnValue(const CArgument* pValue, JS::CallArgs& Args)
{
	// A native that gives no value returns undefined.
	if (pValue == nullptr)
	{
		Args.rval().setUndefined();
		return true;
	}
	return ToJSValue(pValue, Args.rval(), true, 0);
}

bool CJSScripting::MakeValueObject(ReflectedClass* pClass, const CArgument* pValue, JS::MutableHandleValue Out,
	bool bReturn)
{
	CBaseObject* pObject = pClass != nullptr ? Reflection::Construct(m_pScripting, pClass) : nullptr;
	if (pObject == nullptr)
	{
		SetEmpty(Out, bReturn);
		return true;
	}
	bool bFilled = false;
	if (auto* pVector2D = dynamic_cast<CVector2DObject*>(pObject); pVector2D && pValue->IsVector2D())
	{
		pValue->ToVector2D(pVector2D->m_Value);
		bFilled = true;
	}
	else if (auto* pVector3D = dynamic_cast<CVector3DObject*>(pObject); pVector3D && pValue->IsVector3D())
	{
		pValue->ToVector3D(pVector3D->m_Value);
		bFilled = true;
	}
	else if (auto* pMatrix = dynamic_cast<CMatrix4x4Object*>(pObject); pMatrix && pValue->IsMatrix4x4())
	{
		pValue->ToMatrix4x4(pMatrix->m_Value);
		bFilled = true;
	}
	JS::RootedObject Wrapper(m_cx, bFilled ? JSUtil::GetWrapper(this, pObject) : nullptr);
	// The wrapper now owns the object: it lives until the wrapper is collected.
	pObject->Release();
	if (Wrapper)
		Out.setObject(*Wrapper);
	else
		SetEmpty(Out, bReturn);
	return true;
}

bool CJSScripting::ToScalarJSValue(const CArgument* pValue, JS::MutableHandleValue Out)
{
	if (pValue == nullptr)
	{
		Out.setUndefined();
		return true;
	}
	switch (pValue->GetType())
	{
	case ARGUMENT_NIL:
		Out.setNull();
		return true;
	case ARGUMENT_BOOLEAN:
		Out.setBoolean(pValue->ToBoolean());
		return true;
	case ARGUMENT_INTEGER:
		Out.setInt32(static_cast<const CArgumentInteger*>(pValue)->GetValue());
		return true;
	case ARGUMENT_FLOAT:
		Out.setNumber(static_cast<double>(static_cast<const CArgumentFloat*>(pValue)->GetValue()));
		return true;
	case ARGUMENT_LONGINTEGER:
		Out.setNumber(static_cast<double>(static_cast<const CArgumentLongInteger*>(pValue)->GetValue()));
		return true;
	case ARGUMENT_DOUBLE:
		Out.setNumber(static_cast<const CArgumentDouble*>(pValue)->GetValue());
		return true;
	case ARGUMENT_UNDEFINED:
		Out.setUndefined();
		return true;
	default:
		return false;
	}
}

bool CJSScripting::ToJSValue(const CArgument* pValue, JS::MutableHandleValue Out, bool bReturn, unsigned Depth)
{
	if (ToScalarJSValue(pValue, Out))
		return true;

	const ReflectedNamespace* pGlobal = m_pScripting->GetGlobal();
	switch (pValue->GetType())
	{
	case ARGUMENT_STRING:
		return NewString(m_cx, pValue->ToString(), Out);

	case ARGUMENT_NETOBJECT:
	case ARGUMENT_OBJECT:
	{
		JSObject* pWrapper = JSUtil::GetWrapper(this, pValue->ToObject());
		if (pWrapper != nullptr)
			Out.setObject(*pWrapper);
		else
			SetEmpty(Out, bReturn);
		return true;
	}

	case ARGUMENT_VECTOR2D:
	case ARGUMENT_VECTOR3D:
	case ARGUMENT_MATRIX4X4:
	{
		if (pValue->IsMatrix4x4())
		{
			ReflectedClass* pMatrix4x4Class = pGlobal->m_pMatrix4x4Class;
			if (pMatrix4x4Class == nullptr && bReturn)
				KASSERT(pMatrix4x4Class);
			return MakeValueObject(pMatrix4x4Class, pValue, Out, bReturn);
		}
		ReflectedClass* pVectorClass = pValue->IsVector2D() ? pGlobal->m_pVec2Class : pGlobal->m_pVec3Class;
		if (pVectorClass == nullptr && bReturn)
			KASSERT(pVectorClass);
		return MakeValueObject(pVectorClass, pValue, Out, bReturn);
	}

	case ARGUMENT_JSVALUE:
	{
		JS::RootedObject Object(m_cx, static_cast<const CArgumentJSValue*>(pValue)->GetObject());
		if (!Object)
		{
			SetEmpty(Out, bReturn);
			return true;
		}
		// The object may come from another resource's global: it is wrapped for the one the value enters.
		if (!JS_WrapObject(m_cx, &Object))
			return false;
		Out.setObject(*Object);
		return true;
	}

	case ARGUMENT_ARRAY:
	{
		if (Depth >= ARGUMENT_MAX_ENCODED_DEPTH)
			return ReportTooDeep(m_cx);
		const CArgumentArray* pArray = static_cast<const CArgumentArray*>(pValue);
		JS::RootedObject Array(m_cx, JS::NewArrayObject(m_cx, pArray->GetArrayCount()));
		if (!Array)
			return false;
		JS::RootedValue Element(m_cx);
		for (size_t i = 0; i < pArray->GetArrayCount(); i++)
		{
			if (!ToJSValue(pArray->GetAt(i), &Element, bReturn, Depth + 1) ||
				!JS_SetElement(m_cx, Array, static_cast<uint32_t>(i), Element))
				return false;
		}
		Out.setObject(*Array);
		return true;
	}

	case ARGUMENT_MAP:
	{
		if (Depth >= ARGUMENT_MAX_ENCODED_DEPTH)
			return ReportTooDeep(m_cx);
		const CArgumentMap* pMap = static_cast<const CArgumentMap*>(pValue);
		JS::RootedObject Object(m_cx, JS_NewPlainObject(m_cx));
		if (!Object)
			return false;
		JS::RootedValue Element(m_cx);
		JS::RootedValue Key(m_cx);
		JS::RootedId Id(m_cx);
		for (const auto& Entry : *pMap)
		{
			// Keys are UTF-8 like every other text.
			if (!NewString(m_cx, Entry.first.c_str(), &Key) || !JS_ValueToId(m_cx, Key, &Id) ||
				!ToJSValue(Entry.second, &Element, bReturn, Depth + 1) ||
				!JS_SetPropertyById(m_cx, Object, Id, Element))
				return false;
		}
		Out.setObject(*Object);
		return true;
	}

	case ARGUMENT_FUNCTION:
	{
		JSObject* pFunction = JSUtil::NewFunctionValue(this, pValue->ToFunction());
		if (pFunction == nullptr)
			return false;
		Out.setObject(*pFunction);
		return true;
	}

	case ARGUMENT_BYTES:
		return NewBytes(m_cx, static_cast<const CArgumentBytes*>(pValue), Out);

	default:
		// Tables, 4D vectors and the other languages' references cannot be shown here.
		SetEmpty(Out, bReturn);
		return true;
	}
}

// JavaScript to engine

// Conversions nest when a getter run by one calls a native; the outermost one starts the count afresh.
class CJSScripting::CConversionBudget
{
public:
	explicit CConversionBudget(CJSScripting* pScripting) : m_pScripting(pScripting)
	{
		if (m_pScripting->m_ConversionDepth++ == 0)
			m_pScripting->m_ConvertedElements = 0;
	}
	~CConversionBudget() { m_pScripting->m_ConversionDepth--; }

	CConversionBudget(const CConversionBudget&) = delete;
	CConversionBudget& operator=(const CConversionBudget&) = delete;

private:
	CJSScripting* m_pScripting;
};

bool CJSScripting::AddJSValue(CArgumentArray* pArray, CJSScriptEnvironment* pEnvironment, JS::HandleValue Value)
{
	CConversionBudget Budget(this);
	JS::RootedVector<JSObject*> Path(m_cx);
	return ToArgument(pArray, pEnvironment, Value, &Path);
}

bool CJSScripting::AddJSArguments(CArgumentArray* pArray, CJSScriptEnvironment* pEnvironment,
	const JS::CallArgs& Args)
{
	CConversionBudget Budget(this);
	JS::RootedVector<JSObject*> Path(m_cx);
	for (unsigned i = 0; i < Args.length(); i++)
	{
		if (!ToArgument(pArray, pEnvironment, Args[i], &Path))
			return false;
	}
	return true;
}

bool CJSScripting::ToArgument(CArgumentArray* pArray, CJSScriptEnvironment* pEnvironment, JS::HandleValue Value,
	JS::MutableHandle<JS::StackGCVector<JSObject*>> Path)
{
	if (Value.isUndefined())
	{
		pArray->AddUndefined();
		return true;
	}
	if (Value.isNull())
	{
		pArray->AddNull();
		return true;
	}
	if (Value.isInt32())
	{
		pArray->AddNumber(Value.toInt32());
		return true;
	}
	if (Value.isNumber())
	{
		pArray->AddAndOwn(new CArgumentDouble(Value.toNumber()));
		return true;
	}
	if (Value.isString())
	{
		JS::RootedString String(m_cx, Value.toString());
		JS::UniqueChars Text = JS_EncodeStringToUTF8(m_cx, String);
		if (!Text)
			return false;
		// The text ends at its first zero byte.
		pArray->AddString(Text.get());
		return true;
	}
	if (Value.isBoolean())
	{
		pArray->AddBoolean(Value.toBoolean());
		return true;
	}
	if (!Value.isObject())
	{
		pArray->AddUndefined();
		return true;
	}

	JS::RootedObject Object(m_cx, &Value.toObject());
	// Objects of engine classes, the objects natives are handed most, skip the tests they cannot pass.
	const bool bEngineClass = CJSReferenceable::HasEngineClass(Object);
	if (!bEngineClass && JS::IsCallable(Object))
	{
		// An engine function that went through JavaScript comes back as itself.
		CFunction* pEngineFunction = nullptr;
		if (JSUtil::GetFunctionValue(Object, &pEngineFunction))
		{
			pArray->AddAndOwn(new CArgumentFunction(pEngineFunction));
			return true;
		}
		// Code of the environment whose realm made it, whoever hands it over; a function of the shared global's realm
		// (an engine method) counts as the environment the conversion runs for.
		CJSScriptEnvironment* pOwner = GetRealmEnvironment(Object);
		CJSFunction* pFunction = new CJSFunction(pOwner != nullptr ? pOwner : pEnvironment, Object);
		pArray->AddAndOwn(new CArgumentFunction(pFunction));
		pFunction->Release();
		return true;
	}

	if (JSObject* pBuffer = bEngineClass ? nullptr : JS::UnwrapArrayBuffer(Object))
	{
		size_t Length = 0;
		bool bShared = false;
		uint8_t* pData = nullptr;
		JS::GetArrayBufferLengthAndData(pBuffer, &Length, &bShared, &pData);
		pArray->AddBytes(pData, Length);
		return true;
	}

	bool bIsInstance = false;
	if (!m_pRootClass->HasInstance(Value, &bIsInstance))
		return false;
	if (bIsInstance)
	{
		CJSReferenceable* pBinding = CJSReferenceable::Get(Object, this);
		if (pBinding != nullptr && pBinding->m_pObject != nullptr)
			pArray->AddAndOwn(Reflection::ToArgument(pBinding->m_pObject, m_pScripting));
		else
			pArray->AddUndefined();
		return true;
	}

	bool bIsArray = false;
	if (!JS::IsArrayObject(m_cx, Object, &bIsArray))
		return false;
	if (bIsArray)
	{
		for (JSObject* pOuter : Path)
		{
			if (pOuter == Object)
			{
				return JSUtil::ReportError(m_cx, "Cannot convert a value that contains itself");
			}
		}
		if (Path.length() >= ARGUMENT_MAX_ENCODED_DEPTH)
			return ReportTooDeep(m_cx);
		uint32_t Length = 0;
		if (!JS::GetArrayLength(m_cx, Object, &Length))
			return false;
		if (Length > MAX_ARRAY_LENGTH)
		{
			return JSUtil::ReportError(
				m_cx, ("Cannot convert an array of " + std::to_string(Length) + " elements").c_str());
		}
		if (Length > MAX_ARRAY_LENGTH - m_ConvertedElements)
		{
			return JSUtil::ReportError(m_cx,
				("Cannot convert more than " + std::to_string(MAX_ARRAY_LENGTH) + " array elements at once").c_str());
		}
		m_ConvertedElements += Length;
		if (!Path.append(Object))
			return false;
		Strong<CArgumentArray> pElements = Strong<CArgumentArray>::New(new CArgumentArray(Length));
		JS::RootedValue Element(m_cx);
		for (uint32_t i = 0; i < Length; i++)
		{
			if (!JS_GetElement(m_cx, Object, i, &Element) || !ToArgument(pElements, pEnvironment, Element, Path))
				return false;
		}
		Path.popBack();
		pElements->AddRef();
		pArray->AddAndOwn(pElements);
		return true;
	}

	pArray->AddAndOwn(new CArgumentJSValue(this, Object));
	return true;
}

// Held script objects

CJSHeldObject::CJSHeldObject(CJSScripting* pScripting, JSObject* pObject) : m_pScripting(pScripting)
{
	if (pScripting == nullptr)
		return;
	if (pObject != nullptr)
		m_Root.init(pScripting->GetContext(), pObject);
	pScripting->AddHeldObject(this);
}

CJSHeldObject::~CJSHeldObject()
{
	if (m_pScripting != nullptr)
		m_pScripting->RemoveHeldObject(this);
}

void CJSHeldObject::Detach()
{
	m_Root.reset();
	m_pScripting = nullptr;
}

CArgumentJSValue::CArgumentJSValue(CJSScripting* pScripting, JSObject* pObject) :
	CArgument(ARGUMENT_JSVALUE),
	m_Object(pScripting, pObject)
{
}

CArgumentJSValue::~CArgumentJSValue() = default;

CArgument* CArgumentJSValue::Clone() const
{
	return new CArgumentJSValue(m_Object.GetScripting(), m_Object.Get());
}

// Function values

CJSFunction::CJSFunction(CJSScriptEnvironment* pEnvironment, JSObject* pCallable) :
	CFunction(pEnvironment != nullptr && pEnvironment->GetScripting() != nullptr
			? pEnvironment->GetScripting()->GetScripting()
			: nullptr,
		pEnvironment != nullptr ? pEnvironment->GetHandle() : 0),
	m_pEnvironment(pEnvironment),
	m_Function(pEnvironment != nullptr && pEnvironment->IsUsable() ? pEnvironment->GetScripting() : nullptr, pCallable)
{
	if (pEnvironment != nullptr)
		pEnvironment->AddFunction(this);
}

CJSFunction::~CJSFunction()
{
	if (m_pEnvironment != nullptr)
		m_pEnvironment->RemoveFunction(this);
}

bool CJSFunction::Call(const CArgumentArray& Arguments, CReturnValue* pResult)
{
	CJSScriptEnvironment* pEnvironment = m_pEnvironment;
	if (pEnvironment == nullptr || !pEnvironment->IsUsable() || GetCallable() == nullptr)
	{
		if (Context* pContext = KGlobal::GetContext())
			pContext->LogError("%s", "Cannot call a function of a stopped resource");
		return false;
	}
	// The call may end the environment (its resource stopped from inside); it stays until the call returns.
	Strong<CJSScriptEnvironment> pKeep(pEnvironment);
	Strong<CJSFunction> pKeepSelf(this);
	CJSScripting* pScripting = pEnvironment->GetScripting();
	JSContext* cx = pScripting->GetContext();
	JS::RootedObject Global(cx, pEnvironment->GetGlobal());
	JSAutoRealm Realm(cx, Global);

	// The environment is current until the error is reported: converting the result (getters of an array) and
	// reporting an error (the thrown value's toString) run code of this resource.
	pScripting->PushEnvironment(pEnvironment);
	bool bResult = true;
	JS::RootedValueVector Values(cx);
	JS::RootedValue Value(cx);
	for (size_t i = 0; bResult && i < Arguments.GetArrayCount(); i++)
		bResult = pScripting->GetJSValue(Arguments.GetAt(i), &Value) && Values.append(Value);
	JS::RootedValue Function(cx);
	if (bResult)
	{
		Function.setObject(*GetCallable());
		bResult = JS_WrapValue(cx, &Function);
	}
	JS::RootedValue Result(cx);
	if (bResult)
	{
		// The engine calls the function: it starts a chain of callers of its own, whatever script runs below.
		JS::AutoHideScriptedCaller Hide(cx);
		bResult = JS::Call(cx, JS::UndefinedHandleValue, Function, Values, &Result);
	}
	if (bResult && pResult != nullptr)
		bResult = pScripting->AddJSValue(pResult, pEnvironment, Result);
	if (!bResult && JS_IsExceptionPending(cx))
		pScripting->HandleError();
	pScripting->PopEnvironment();
	pScripting->RunDeferredJobs();
	return bResult;
}
