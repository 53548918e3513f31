#include "Engine/Resource.h"

Resource::Resource() : m_pHWResource(nullptr)
{
}

Resource::~Resource()
{
	FreeHWResource();
}

void Resource::FreeHWResource()
{
	CBase* pHWResource = m_pHWResource;
	m_pHWResource = nullptr;
	// A resource may stand for itself on the device; it is never deleted through its own member.
	if (pHWResource != this)
		delete pHWResource;
}

void Resource::DeleteHWResource()
{
	FreeHWResource();
}

bool Resource::IsReadyToUse()
{
	return true;
}

void Resource::SetHWResource(CBase* pHWResource)
{
	if (pHWResource == m_pHWResource)
		return;
	FreeHWResource();
	m_pHWResource = pHWResource;
}

Surface::Surface() : m_SurfaceLevel(0)
{
}

bool Surface::CopyTo(Surface*)
{
	return false;
}
