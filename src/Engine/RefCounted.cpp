#include "Engine/KestrinReference.h"

intptr_t CRefCounted::Release()
{
	// The sole owner takes no atomic step: no other reference exists through which the count could change
	// meanwhile, and the acquiring read orders every earlier owner's release before the destruction.
	if (m_iRefCount.load(std::memory_order_acquire) == 1)
	{
		m_iRefCount.store(0, std::memory_order_relaxed);
		delete this;
		return 0;
	}
	int32_t iBefore = DecrementRefCount();
	if (iBefore <= 1)
	{
		delete this;
		return 0;
	}
	return iBefore - 1;
}
