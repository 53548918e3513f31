#pragma once
// Named event types and the handlers scripts attach to them. A trigger calls, in the order they were added, every
// handler that is not bound to another source object, with an event object first and the event's arguments after.

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "Engine/KestrinNative.h"
#include "Scripting/KeyedHandlers.h"

class CResource;
class CResourceMgr;

namespace EventHandlers
{
class CEventHandlers;
class CEventType;

class CEvent : public CBaseObject
{
public:
	CEvent(CEventType* pEventType, ReflectedClass* pClass);

	CEventType* GetEventType() const { return m_pEventType; }

	CEventType* m_pEventType;
};

class CCancellableEvent : public CEvent
{
public:
	CCancellableEvent(CEventType* pEventType, ReflectedClass* pClass);

	void PreventDefault() { m_bDefaultPrevented = true; }
	bool IsDefaultPrevented() const { return m_bDefaultPrevented; }

	bool m_bDefaultPrevented;
};

class CEventHandler
{
public:
	// A null source makes a handler that runs for every trigger of its type.
	CEventHandler(CEventHandlers* pOwner, CBaseObject* pSource, CResource* pResource);
	virtual ~CEventHandler() = default;

	CEventHandler(const CEventHandler&) = delete;
	CEventHandler& operator=(const CEventHandler&) = delete;

	// szUnused is always null.
	virtual void Execute(CEvent* pEvent, const char* szUnused, const CArgumentArray& Arguments) = 0;
	// Taken out of its type: drops what it holds for its calls.
	virtual void LetGo() {}
	// The script function the handler calls, or null.
	virtual CFunction* GetFunction() const { return nullptr; }

	CBaseObject* GetSource() const { return m_pSource.Get(); }
	CResource* GetResource() const { return m_pResource; }
	bool IsBound() const { return m_bBound; }
	// A bound handler whose source has died: it must never run again, and above all not for every source.
	bool IsOrphaned() const { return m_bBound && m_pSource.IsNull(); }

	CEventHandlers* m_pOwner;
	Weak<CBaseObject> m_pSource;
	// Not owned.
	CResource* m_pResource;
	bool m_bBound;
	// Set when the handler is taken out of its type; a trigger in progress then skips it.
	bool m_bRemoved;
};

class CScriptEventHandler : public CEventHandler
{
public:
	CScriptEventHandler(CEventHandlers* pOwner, CFunction* pFunction, CBaseObject* pSource, CResource* pResource);

	// Calls the function with [event, copies of the arguments]; its result and failure are the language's affair.
	void Execute(CEvent* pEvent, const char* szUnused, const CArgumentArray& Arguments) override;
	void LetGo() override { m_pFunction.SetNull(); }
	CFunction* GetFunction() const override { return m_pFunction; }

	Strong<CFunction> m_pFunction;
};

class CEventType
{
public:
	CEventType(CEventHandlers* pOwner, const char* szName, const char* szDescription, int32_t iArgumentCount,
		bool bCanPreventDefault);
	// Destroys every handler.
	~CEventType();

	CEventType(const CEventType&) = delete;
	CEventType& operator=(const CEventType&) = delete;

	// With a plain event object.
	bool Trigger(const CArgumentArray& Arguments);
	// With a cancellable event object; tells whether a handler prevented the default.
	bool Trigger(const CArgumentArray& Arguments, bool& bDefaultPrevented);
	// True when at least one handler ran.
	bool TriggerWithEvent(CEvent* pEvent, const CArgumentArray& Arguments);

	// Takes ownership; the handler runs after those added before it.
	void AddHandler(CEventHandler* pHandler);
	size_t RemoveHandlers();
	// Null removes every handler.
	size_t RemoveHandlers(CResource* pResource);
	// The handlers bound to pSource, only those owned by pResource when it is not null; 0 for a null source.
	size_t RemoveHandlersWithSource(CBaseObject* pSource, CResource* pResource);

	const char* GetName() const { return m_Name.c_str(); }
	const char* GetDescription() const { return m_Description.c_str(); }
	uint32_t GetKey() const { return m_uiKey; }
	int32_t GetArgumentCount() const { return m_iArgumentCount; }
	bool CanPreventDefault() const { return m_bCanPreventDefault; }
	void SetCanPreventDefault(bool bCanPreventDefault) { m_bCanPreventDefault = bCanPreventDefault; }
	int32_t GetSourceArgument() const { return m_iSourceArgument; }
	// -1: handlers cannot be bound to a source.
	void SetSourceArgument(int32_t iIndex) { m_iSourceArgument = iIndex; }
	size_t GetHandlerCount() const;
	// In the order they run, as they are now.
	std::vector<CEventHandler*> GetHandlers() const;

	CEventHandlers* m_pOwner;
	// The handlers are kept by the registry, under this key.
	uint32_t m_uiKey;
	std::string m_Name;
	std::string m_Description;
	int32_t m_iArgumentCount;
	bool m_bCanPreventDefault;
	int32_t m_iSourceArgument;
};

class CEventHandlers
{
public:
	// The handlers of every type, under the type's key.
	typedef CKeyedHandlers<uint32_t, CEventHandler> tHandlers;

	explicit CEventHandlers(CResourceMgr* pOwner);
	// Removes every handler, then deletes every type.
	~CEventHandlers();

	CEventHandlers(const CEventHandlers&) = delete;
	CEventHandlers& operator=(const CEventHandlers&) = delete;

	// Null, with nothing made, when the name (regardless of case) is taken. Not bindable until the caller sets
	// a source argument.
	CEventType* CreateEventType(const char* szName, const char* szDescription, int32_t iArgumentCount,
		bool bCanPreventDefault);
	CEventType* GetEventType(const char* szName) const;

	// On every type, the handlers that go when the resource stops (CKeyedHandlers::RemoveGoingWith).
	size_t RemoveGoingWith(CResource* pResource);
	// On every type.
	size_t RemoveHandlersWithSource(CBaseObject* pSource, CResource* pResource);
	size_t RemoveAllHandlers();

	// The functions of the global namespace and the classes "Event" and "CancellableEvent".
	void RegisterFunctions(CScripting* pScripting);

	CResourceMgr* GetOwner() const { return m_pOwner; }
	ReflectedClass* GetEventClass() const { return m_pEventClass; }
	ReflectedClass* GetCancellableEventClass() const { return m_pCancellableEventClass; }
	const std::unordered_map<uint32_t, CEventType*>& GetEventTypes() const { return m_EventTypes; }
	tHandlers& GetHandlers() { return m_Handlers; }
	const tHandlers& GetHandlers() const { return m_Handlers; }

	CResourceMgr* m_pOwner;
	std::unordered_map<uint32_t, CEventType*> m_EventTypes;
	ReflectedClass* m_pEventClass;
	ReflectedClass* m_pCancellableEventClass;

private:
	// The same removal on every type.
	template <class TRemove>
	size_t RemoveFromEveryType(TRemove Remove);

	tHandlers m_Handlers;
};
}
