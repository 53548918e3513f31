#include "Engine/SmallBlockCache.h"

#include <cstdlib>

namespace SmallBlockCache
{
namespace Detail
{
__thread tCache t_Cache;

namespace
{
// Gives the cached blocks back when the thread ends; made by the first block a thread caches.
struct tCacheCloser
{
	bool m_bMade = false;

	~tCacheCloser()
	{
		t_Cache.m_eState = CACHE_CLOSED;
		for (size_t i = 0; i < CLASS_COUNT; i++)
		{
			while (tFreeBlock* pBlock = t_Cache.m_rgpFree[i])
			{
				t_Cache.m_rgpFree[i] = pBlock->m_pNext;
				free(pBlock);
			}
			t_Cache.m_rguiCount[i] = 0;
		}
	}
};

thread_local tCacheCloser t_Closer;
}

void* AllocateFromHeap(size_t Size)
{
	// Every block of a class has the class's full size, whichever size of the class it is freed with.
	return malloc(IsCached(Size) ? (ClassOf(Size) + 1) * GRANULE : (Size ? Size : 1));
}

void FreeSlowly(void* p, size_t Size)
{
	if (p && IsCached(Size) && t_Cache.m_eState == CACHE_UNUSED)
	{
		// The closer's first use makes it and registers its destructor for this thread.
		t_Closer.m_bMade = true;
		t_Cache.m_eState = CACHE_OPEN;
		Free(p, Size);
		return;
	}
	free(p);
}
}
}
