#include <cstdlib>

#include "Engine/KestrinReference.h"

void* _KAlloc(size_t size)
{
	return malloc(size ? size : 1);
}

void _KFree(void* p)
{
	if (p)
		free(p);
}
