#include "Engine/BaseObject.h"

#include "Engine/ModuleViews.h"

void KestrinWeak::Register(CBaseObject* pTarget, CBaseObject** ppCell)
{
	pTarget->CreateReference(ppCell);
}

void KestrinWeak::Unregister(CBaseObject* pTarget, CBaseObject** ppCell)
{
	pTarget->RemoveReference(ppCell);
}

std::atomic<size_t> CBaseObject::s_LiveCount{0};

namespace
{
// The block this thread's last operator new handed out, until the object built in it takes its size. An object
// built anywhere else (on the stack, inside another) finds a different address and knows no block.
thread_local void* t_pNewBlock = nullptr;
thread_local size_t t_NewBlockSize = 0;

void* RememberBlock(void* p, size_t Size)
{
	t_pNewBlock = p;
	t_NewBlockSize = Size;
	return p;
}

uint32_t TakeBlockSize(const void* pObject)
{
	if (pObject != t_pNewBlock)
		return 0;
	t_pNewBlock = nullptr;
	return t_NewBlockSize <= UINT32_MAX ? static_cast<uint32_t>(t_NewBlockSize) : UINT32_MAX;
}

void ForgetBlock(void* p)
{
	// A block whose constructor failed, or whose object does not start with its CBaseObject, is never taken; once
	// freed, its address must not lead a later object to a size that is not its own.
	if (p == t_pNewBlock)
		t_pNewBlock = nullptr;
}
}

void* CBaseObject::operator new(size_t Size)
{
	return RememberBlock(CBase::operator new(Size), Size);
}

void* CBaseObject::operator new(size_t Size, const std::nothrow_t& NoThrow) noexcept
{
	void* p = CBase::operator new(Size, NoThrow);
	return p != nullptr ? RememberBlock(p, Size) : nullptr;
}

void CBaseObject::operator delete(void* p) noexcept
{
	ForgetBlock(p);
	CBase::operator delete(p);
}

void CBaseObject::operator delete(void* p, const std::nothrow_t& NoThrow) noexcept
{
	ForgetBlock(p);
	CBase::operator delete(p, NoThrow);
}

CBaseObject::CBaseObject()
	: m_bDestroying(false), m_uiBlockSize(TakeBlockSize(this)), m_pPrivate(nullptr), m_pUser(nullptr),
	  m_pScriptReference(nullptr), m_pJSScriptReference(nullptr), m_pSqScriptReference(nullptr), m_rgppWeakCells(),
	  m_pReflectedClass(nullptr), m_pModuleInterface(nullptr)
{
	s_LiveCount.fetch_add(1, std::memory_order_relaxed);
}

CBaseObject::~CBaseObject()
{
	m_bDestroying = true;
	// Weak pointers go null before any binding is torn down, so a binding's destructor never reaches back
	// into a half-destroyed object through one.
	ResolveReferences();
	delete m_pUser;
	m_pUser = nullptr;
	delete m_pScriptReference;
	m_pScriptReference = nullptr;
	delete m_pJSScriptReference;
	m_pJSScriptReference = nullptr;
	delete m_pSqScriptReference;
	m_pSqScriptReference = nullptr;
	// A module may still hold the view when the object is destroyed whatever its count.
	Kestrin3D::Interfaces::DetachView(m_pModuleInterface);
	s_LiveCount.fetch_sub(1, std::memory_order_relaxed);
}

intptr_t CBaseObject::Release()
{
	int32_t iBefore = DecrementRefCount();
	if (iBefore > 1)
	{
		// A Lua handle counts a reference of its own: the one left may be the handle's.
		if (iBefore == 2 && m_pScriptReference)
			m_pScriptReference->OnSoleReference();
		return iBefore - 1;
	}
	if (m_bDestroying)
		return 0;
	// The JavaScript wrapper may still own the object; its finaliser decides later.
	if (m_pJSScriptReference && m_pJSScriptReference->Destruct())
		return 0;
	Obliterate();
	return 0;
}

void CBaseObject::Obliterate()
{
	m_bDestroying = true;
	delete this;
}

void CBaseObject::CreateReference(CBaseObject** ppCell)
{
	CBaseObject*** pppFree = nullptr;
	for (CBaseObject**& ppInline : m_rgppWeakCells)
	{
		if (ppInline == ppCell)
			return;
		if (!ppInline && !pppFree)
			pppFree = &ppInline;
	}
	if (!m_WeakReferences.empty() && m_WeakReferences.count(ppCell))
		return;
	if (pppFree)
		*pppFree = ppCell;
	else
		m_WeakReferences.insert(ppCell);
}

void CBaseObject::RemoveReference(CBaseObject** ppCell)
{
	for (CBaseObject**& ppInline : m_rgppWeakCells)
	{
		if (ppInline == ppCell)
		{
			ppInline = nullptr;
			return;
		}
	}
	if (!m_WeakReferences.empty())
		m_WeakReferences.erase(ppCell);
}

void CBaseObject::PruneReferences()
{
	for (CBaseObject** ppCell : m_rgppWeakCells)
	{
		if (ppCell)
			*ppCell = nullptr;
	}
	for (CBaseObject** ppCell : m_WeakReferences)
		*ppCell = nullptr;
}

void CBaseObject::ResolveReferences()
{
	PruneReferences();
	for (CBaseObject**& ppInline : m_rgppWeakCells)
		ppInline = nullptr;
	m_WeakReferences.clear();
}

size_t CBaseObject::GetRetainedBytes() const
{
	return m_uiBlockSize;
}

size_t CBaseObject::GetWeakReferenceCount() const
{
	size_t Count = m_WeakReferences.size();
	for (CBaseObject** ppCell : m_rgppWeakCells)
	{
		if (ppCell)
			Count++;
	}
	return Count;
}

static void FillSlot(IUserData*& pSlot, IUserData* pData, bool bAsserted)
{
	if (!bAsserted)
		return;
	pSlot = pData;
}

void CBaseObject::AddUserData(IUserData* pData)
{
	FillSlot(m_pUser, pData, KASSERT(!m_pUser));
}

void CBaseObject::AddScriptReference(IUserData* pData)
{
	FillSlot(m_pScriptReference, pData, KASSERT(!m_pScriptReference));
}

void CBaseObject::AddJSScriptReference(IUserData* pData)
{
	FillSlot(m_pJSScriptReference, pData, KASSERT(!m_pJSScriptReference));
}

void CBaseObject::AddSqScriptReference(IUserData* pData)
{
	FillSlot(m_pSqScriptReference, pData, KASSERT(!m_pSqScriptReference));
}

void CBaseObject::ClearJSScriptReference()
{
	IUserData* pData = m_pJSScriptReference;
	m_pJSScriptReference = nullptr;
	delete pData;
}
