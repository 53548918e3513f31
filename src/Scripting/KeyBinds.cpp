#include "Scripting/KeyBinds.h"

#include "Scripting/Resource.h"
#include "Scripting/ResourceMgr.h"

CKeyEvent::CKeyEvent(CKeyBinds* pOwner, const SDL_Keysym& Key, int32_t iRepeat, bool bDown) :
	m_pOwner(pOwner),
	m_bDefaultPrevented(false),
	m_Key(Key),
	m_iRepeat(iRepeat),
	m_bDown(bDown)
{
	m_Key.unused = 0;
	SetReflectedClass(pOwner ? pOwner->GetKeyEventClass() : nullptr);
}

CKeyBind::CKeyBind(CKeyBinds* pOwner, CResource* pResource, int32_t iKeyCode, int32_t iKeyState,
	bool bFireOnRepeat) :
	m_bRemoved(false),
	m_pOwner(pOwner),
	m_pResource(pResource),
	m_iKeyCode(iKeyCode),
	m_iKeyState(iKeyState),
	m_bFireOnRepeat(bFireOnRepeat)
{
}

bool CKeyBind::Matches(int32_t iRepeat, bool bDown) const
{
	if (m_bRemoved)
		return false;
	if (iRepeat > 0 && !m_bFireOnRepeat)
		return false;
	return m_iKeyState == KEYSTATE_BOTH || (m_iKeyState == KEYSTATE_DOWN && bDown) ||
		(m_iKeyState == KEYSTATE_UP && !bDown);
}

CScriptKeyBind::CScriptKeyBind(CKeyBinds* pOwner, CResource* pResource, int32_t iKeyCode, int32_t iKeyState,
	bool bFireOnRepeat, CFunction* pFunction) :
	CKeyBind(pOwner, pResource, iKeyCode, iKeyState, bFireOnRepeat),
	m_pFunction(pFunction)
{
}

void CScriptKeyBind::Execute(CBaseObject* pClient, CKeyEvent* pEvent)
{
	CArgumentArray Arguments(2);
	Arguments.AddObject(pEvent);
	if (m_pOwner && m_pOwner->GetPassClient())
		Arguments.AddObject(pClient);
	CallHandlerFunction(m_pFunction, Arguments);
}

CKeyBinds::CKeyBinds(CResourceMgr* pOwner) : m_bPassClient(false), m_pOwner(pOwner), m_pKeyEventClass(nullptr)
{
}

CKeyBinds::~CKeyBinds()
{
	KASSERT(m_Binds.GetDepth() == 0);
	m_Binds.RemoveAll();
}

void CKeyBinds::Trigger(CBaseObject* pClient, const SDL_Keysym& Key, int32_t iRepeat, bool bDown)
{
	if (!m_Binds.Find(Key.sym))
		return;
	// Binds added during the dispatch wait for the next report; removed ones are skipped and freed at its end.
	Strong<CKeyEvent> pEvent = Strong<CKeyEvent>::New(new CKeyEvent(this, Key, iRepeat, bDown));
	m_Binds.Dispatch(Key.sym, [&](CKeyBind* pBind) {
		if (!pBind->Matches(iRepeat, bDown))
			return false;
		pBind->Execute(pClient, pEvent);
		return true;
	});
}

void CKeyBinds::AddBind(CKeyBind* pBind)
{
	if (pBind)
		m_Binds.AddFirst(pBind->m_iKeyCode, pBind);
}

size_t CKeyBinds::RemoveBinds(int32_t iKeyCode, CResource* pResource)
{
	return m_Binds.RemoveUnder(iKeyCode, pResource);
}

size_t CKeyBinds::RemoveHandlers(CResource* pResource)
{
	return m_Binds.RemoveOwnedBy(pResource);
}

size_t CKeyBinds::RemoveGoingWith(CResource* pResource)
{
	return m_Binds.RemoveGoingWith(pResource);
}

static bool FunctionBindKey(CNativeState* pState, int argc, void* pUserData)
{
	CKeyBinds* pBinds = static_cast<CKeyBinds*>(pUserData);
	int32_t iKeyCode = 0;
	int32_t iKeyState = 0;
	if (!pState->CheckNumber(0, iKeyCode) || !pState->CheckNumber(1, iKeyState))
		return false;
	CFunction* pFunction = pState->CheckFunction(2);
	if (!pFunction)
		return false;
	bool bFireOnRepeat = false;
	if (argc > 3 && !pState->CheckBoolean(3, bFireOnRepeat))
		return false;
	pBinds->AddBind(
		new CScriptKeyBind(pBinds, pState->GetResource(), iKeyCode, iKeyState, bFireOnRepeat, pFunction));
	pState->ReturnBoolean(true);
	return true;
}

static bool FunctionUnbindKey(CNativeState* pState, int, void* pUserData)
{
	CKeyBinds* pBinds = static_cast<CKeyBinds*>(pUserData);
	int32_t iKeyCode = 0;
	if (!pState->CheckNumber(0, iKeyCode))
		return false;
	pState->ReturnBoolean(pBinds->RemoveBinds(iKeyCode, pState->GetResource()) > 0);
	return true;
}

static bool FunctionUnbindAllKeys(CNativeState* pState, int, void* pUserData)
{
	static_cast<CKeyBinds*>(pUserData)->RemoveHandlers(pState->GetResource());
	return true;
}

static bool GetKeyEvent(CNativeState* pState, void* pUserData, CKeyEvent** ppEvent)
{
	return pState->GetThis(static_cast<CKeyBinds*>(pUserData)->GetKeyEventClass(), ppEvent);
}

static bool FunctionKeyEventPreventDefault(CNativeState* pState, int, void* pUserData)
{
	CKeyEvent* pEvent = nullptr;
	if (!GetKeyEvent(pState, pUserData, &pEvent))
		return false;
	pEvent->PreventDefault();
	return true;
}

static bool FunctionKeyEventIsDefaultPrevented(CNativeState* pState, int, void* pUserData)
{
	CKeyEvent* pEvent = nullptr;
	if (!GetKeyEvent(pState, pUserData, &pEvent))
		return false;
	pState->ReturnBoolean(pEvent->IsDefaultPrevented());
	return true;
}

static bool FunctionKeyEventGetKeyCode(CNativeState* pState, int, void* pUserData)
{
	CKeyEvent* pEvent = nullptr;
	if (!GetKeyEvent(pState, pUserData, &pEvent))
		return false;
	pState->ReturnNumber(static_cast<int32_t>(pEvent->m_Key.sym));
	return true;
}

static bool FunctionKeyEventGetScanCode(CNativeState* pState, int, void* pUserData)
{
	CKeyEvent* pEvent = nullptr;
	if (!GetKeyEvent(pState, pUserData, &pEvent))
		return false;
	pState->ReturnNumber(static_cast<int32_t>(pEvent->m_Key.scancode));
	return true;
}

static bool FunctionKeyEventGetMod(CNativeState* pState, int, void* pUserData)
{
	CKeyEvent* pEvent = nullptr;
	if (!GetKeyEvent(pState, pUserData, &pEvent))
		return false;
	pState->ReturnNumber(static_cast<int32_t>(pEvent->m_Key.mod));
	return true;
}

static bool FunctionKeyEventGetRepeat(CNativeState* pState, int, void* pUserData)
{
	CKeyEvent* pEvent = nullptr;
	if (!GetKeyEvent(pState, pUserData, &pEvent))
		return false;
	pState->ReturnNumber(pEvent->m_iRepeat);
	return true;
}

// Declared boolean, but scripts have always read it as the number 1 or 0.
static bool FunctionKeyEventGetDown(CNativeState* pState, int, void* pUserData)
{
	CKeyEvent* pEvent = nullptr;
	if (!GetKeyEvent(pState, pUserData, &pEvent))
		return false;
	pState->ReturnNumber(static_cast<int32_t>(pEvent->m_bDown ? 1 : 0));
	return true;
}

void CKeyBinds::RegisterFunctions(CScripting* pScripting)
{
	ReflectedNamespace* pGlobal = pScripting->GetGlobal();
	pGlobal->RegisterFunction("bindKey", "iic|b", FunctionBindKey, this);
	pGlobal->RegisterFunction("unbindKey", "i", FunctionUnbindKey, this);
	pGlobal->RegisterFunction("unbindAllKeys", "", FunctionUnbindAllKeys, this);

	m_pKeyEventClass = pGlobal->NewClass("KeyEvent");
	m_pKeyEventClass->RegisterFunction("preventDefault", "t", FunctionKeyEventPreventDefault, this);
	m_pKeyEventClass->RegisterFunction("isDefaultPrevented", "t", FunctionKeyEventIsDefaultPrevented, this);
	m_pKeyEventClass->AddProperty(this, "keyCode", ARGUMENT_INTEGER, FunctionKeyEventGetKeyCode, nullptr);
	m_pKeyEventClass->AddProperty(this, "scanCode", ARGUMENT_INTEGER, FunctionKeyEventGetScanCode, nullptr);
	m_pKeyEventClass->AddProperty(this, "mod", ARGUMENT_INTEGER, FunctionKeyEventGetMod, nullptr);
	m_pKeyEventClass->AddProperty(this, "repeat", ARGUMENT_INTEGER, FunctionKeyEventGetRepeat, nullptr);
	m_pKeyEventClass->AddProperty(this, "down", ARGUMENT_BOOLEAN, FunctionKeyEventGetDown, nullptr);
}
