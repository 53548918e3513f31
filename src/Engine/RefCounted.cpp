#include "Engine/KestrinReference.h"

intptr_t CRefCounted::Release()
{
	int32_t iBefore = DecrementRefCount();
	if (iBefore <= 1)
	{
		delete this;
		return 0;
	}
	return iBefore - 1;
}
