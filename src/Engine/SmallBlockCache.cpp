#include "Engine/SmallBlockCache.h"

#include <cstdint>
#include <cstdlib>

namespace
{
constexpr size_t GRANULE = 16;
constexpr size_t CLASS_COUNT = SmallBlockCache::MAX_BLOCK_SIZE / GRANULE;
// Enough for the values of deeply nested calls; what goes beyond goes back to the heap.
constexpr uint32_t MAX_CACHED_BLOCKS = 256;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool CACHING = true;
#else
constexpr bool CACHING = true;
#endif

struct tFreeBlock
{
	tFreeBlock* m_pNext;
};

enum eCacheState : uint8_t
{
	CACHE_UNUSED,
	CACHE_OPEN,
	// The thread is ending: blocks freed from now on go back to the heap.
	CACHE_CLOSED,
};

// Trivially destructible, so that it stays readable while the thread's other objects are destroyed (values held
// by objects with thread or static storage are released after the thread's destructors ran).
struct tCache
{
	tFreeBlock* m_rgpFree[CLASS_COUNT];
	uint32_t m_rguiCount[CLASS_COUNT];
	eCacheState m_eState;
};

thread_local tCache t_Cache;

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

void OpenCache()
{
	// The closer's first use makes it and registers its destructor for this thread.
	t_Closer.m_bMade = true;
	t_Cache.m_eState = CACHE_OPEN;
}

size_t ClassOf(size_t Size)
{
	return (Size - 1) / GRANULE;
}

bool IsCached(size_t Size)
{
	return CACHING && Size > 0 && Size <= SmallBlockCache::MAX_BLOCK_SIZE;
}
}

void* SmallBlockCache::Allocate(size_t Size)
{
	if (!IsCached(Size))
		return malloc(Size ? Size : 1);
	const size_t Class = ClassOf(Size);
	tFreeBlock* pBlock = t_Cache.m_rgpFree[Class];
	if (pBlock)
	{
		t_Cache.m_rgpFree[Class] = pBlock->m_pNext;
		t_Cache.m_rguiCount[Class]--;
		return pBlock;
	}
	// Every block of a class has the class's full size, whichever size of the class it is freed with.
	return malloc((Class + 1) * GRANULE);
}

void SmallBlockCache::Free(void* p, size_t Size)
{
	if (!p)
		return;
	if (IsCached(Size) && t_Cache.m_eState != CACHE_CLOSED)
	{
		const size_t Class = ClassOf(Size);
		if (t_Cache.m_rguiCount[Class] < MAX_CACHED_BLOCKS)
		{
			if (t_Cache.m_eState == CACHE_UNUSED)
				OpenCache();
			tFreeBlock* pBlock = static_cast<tFreeBlock*>(p);
			pBlock->m_pNext = t_Cache.m_rgpFree[Class];
			t_Cache.m_rgpFree[Class] = pBlock;
			t_Cache.m_rguiCount[Class]++;
			return;
		}
	}
	free(p);
}
