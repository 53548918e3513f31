#pragma once
// Resources that could live on a device (a texture on a graphics card) and their surfaces. The server keeps them in
// memory only: no device object is ever made here.

#include <cstddef>

#include "Engine/BaseObject.h"

class Resource : public Identifiable
{
public:
	Resource();
	// Deletes the device object it owns.
	~Resource() override;

	// Deletes the device object unless it is this resource itself, then forgets it.
	virtual void DeleteHWResource();
	virtual bool IsReadyToUse();

	CBase* GetHWResource() const { return m_pHWResource; }
	// Takes ownership of the object that stands for this resource on a device.
	void SetHWResource(CBase* pHWResource);

private:
	void FreeHWResource();

	CBase* m_pHWResource;
};

// An image with a size; one of its levels answers for the whole.
class Surface : public Resource
{
public:
	Surface();

	virtual size_t GetWidth() = 0;
	virtual size_t GetHeight() = 0;
	virtual bool HasAlpha() = 0;
	// Copying between surfaces is not supported.
	virtual bool CopyTo(Surface* pTarget);

	size_t GetSurfaceLevel() const { return m_SurfaceLevel; }

protected:
	size_t m_SurfaceLevel;
};
