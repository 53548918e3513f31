#pragma once
// Key binds: scripts bind functions to SDL2 key codes and are called when a client reports that a bound key went
// down, up, or either.

#include <SDL2/SDL_keyboard.h>

#include <cstddef>
#include <cstdint>

#include "Engine/KestrinNative.h"
#include "Scripting/KeyedHandlers.h"

class CResource;
class CResourceMgr;
class CKeyBinds;

enum eKeyState : int32_t
{
	KEYSTATE_UP = 0,
	KEYSTATE_DOWN = 1,
	KEYSTATE_BOTH = 2,
};

class CKeyEvent : public CBaseObject
{
public:
	CKeyEvent(CKeyBinds* pOwner, const SDL_Keysym& Key, int32_t iRepeat, bool bDown);

	void PreventDefault() { m_bDefaultPrevented = true; }
	bool IsDefaultPrevented() const { return m_bDefaultPrevented; }

	CKeyBinds* m_pOwner;
	bool m_bDefaultPrevented;
	SDL_Keysym m_Key;
	// 0 for a first press.
	int32_t m_iRepeat;
	bool m_bDown;
};

class CKeyBind
{
public:
	CKeyBind(CKeyBinds* pOwner, CResource* pResource, int32_t iKeyCode, int32_t iKeyState, bool bFireOnRepeat);
	virtual ~CKeyBind() = default;

	CKeyBind(const CKeyBind&) = delete;
	CKeyBind& operator=(const CKeyBind&) = delete;

	virtual void Execute(CBaseObject* pClient, CKeyEvent* pEvent) = 0;
	// Taken out of the registry: drops what it holds for its calls.
	virtual void LetGo() {}
	// The script function the bind calls, or null.
	virtual CFunction* GetFunction() const { return nullptr; }

	// Whether a report of the key with this repeat count and direction runs the bind.
	bool Matches(int32_t iRepeat, bool bDown) const;

	bool m_bRemoved;
	CKeyBinds* m_pOwner;
	// Not owned.
	CResource* m_pResource;
	int32_t m_iKeyCode;
	// eKeyState; any other value never fires.
	int32_t m_iKeyState;
	bool m_bFireOnRepeat;
};

class CScriptKeyBind : public CKeyBind
{
public:
	CScriptKeyBind(CKeyBinds* pOwner, CResource* pResource, int32_t iKeyCode, int32_t iKeyState, bool bFireOnRepeat,
		CFunction* pFunction);

	// Calls the function with [event, and the client when the registry passes clients].
	void Execute(CBaseObject* pClient, CKeyEvent* pEvent) override;
	void LetGo() override { m_pFunction.SetNull(); }
	CFunction* GetFunction() const override { return m_pFunction; }

	Strong<CFunction> m_pFunction;
};

class CKeyBinds
{
public:
	explicit CKeyBinds(CResourceMgr* pOwner);
	// Must not run during a dispatch.
	~CKeyBinds();

	CKeyBinds(const CKeyBinds&) = delete;
	CKeyBinds& operator=(const CKeyBinds&) = delete;

	// Dispatches one key report to the binds of its key code, newest first. The default-prevented flag of the
	// event is not consulted: every matching bind runs.
	void Trigger(CBaseObject* pClient, const SDL_Keysym& Key, int32_t iRepeat, bool bDown);

	// Takes ownership; the newest bind of a key runs first.
	void AddBind(CKeyBind* pBind);
	// The binds of the key owned by pResource (every bind of the key for null); the number that matched.
	size_t RemoveBinds(int32_t iKeyCode, CResource* pResource);
	// Every bind pResource added.
	size_t RemoveHandlers(CResource* pResource);
	// The binds that go when the resource stops (CKeyedHandlers::RemoveGoingWith).
	size_t RemoveGoingWith(CResource* pResource);
	// Frees the binds removed while dispatches ran.
	void FinishedIterating() { m_Binds.GetRemoval().FinishedIterating(); }

	void SetPassClient(bool bPassClient) { m_bPassClient = bPassClient; }
	bool GetPassClient() const { return m_bPassClient; }

	// The functions of the global namespace and the class "KeyEvent".
	void RegisterFunctions(CScripting* pScripting);

	CResourceMgr* GetOwner() const { return m_pOwner; }
	ReflectedClass* GetKeyEventClass() const { return m_pKeyEventClass; }
	size_t GetBindCount() const { return m_Binds.GetCount(); }
	int32_t GetIterating() const { return m_Binds.GetDepth(); }

	bool m_bPassClient;
	CResourceMgr* m_pOwner;
	// Per key code, newest first.
	CKeyedHandlers<int32_t, CKeyBind> m_Binds;
	ReflectedClass* m_pKeyEventClass;
};
