#pragma once
// Per-thread caches of small heap blocks, for objects that are made and dropped at a high rate: the values of
// every native call. A block freed goes to the cache of the thread that frees it and is handed out again before
// the heap is asked; each cache holds a bounded number of blocks and gives them all back when its thread ends.
//
// Under the address sanitizer every block goes straight to the heap, so that a value used after its release is
// still caught.

#include <cstddef>
#include <cstdint>

namespace SmallBlockCache
{
// Blocks of up to this many bytes are cached.
constexpr size_t MAX_BLOCK_SIZE = 128;

namespace Detail
{
constexpr size_t GRANULE = 16;
constexpr size_t CLASS_COUNT = MAX_BLOCK_SIZE / GRANULE;
// Enough for the values of deeply nested calls; what goes beyond goes back to the heap.
constexpr uint32_t MAX_CACHED_BLOCKS = 256;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool CACHING = false;
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

// __thread rather than thread_local: the cache needs no dynamic initialisation, and only then is every access a
// plain thread-relative load, without a call to check for an initialiser first.
extern __thread tCache t_Cache;

inline bool IsCached(size_t Size)
{
	return CACHING && Size - 1 < MAX_BLOCK_SIZE;
}

inline size_t ClassOf(size_t Size)
{
	return (Size - 1) / GRANULE;
}

void* AllocateFromHeap(size_t Size);
void FreeSlowly(void* p, size_t Size);
}

// Null when there is no memory.
inline void* Allocate(size_t Size)
{
	using namespace Detail;
	if (IsCached(Size))
	{
		// One reference, so that the thread's cache is looked up once.
		tCache& Cache = t_Cache;
		const size_t Class = ClassOf(Size);
		if (tFreeBlock* pBlock = Cache.m_rgpFree[Class])
		{
			Cache.m_rgpFree[Class] = pBlock->m_pNext;
			Cache.m_rguiCount[Class]--;
			return pBlock;
		}
	}
	return AllocateFromHeap(Size);
}

// Size is the one the block was allocated with.
inline void Free(void* p, size_t Size)
{
	using namespace Detail;
	if (p && IsCached(Size))
	{
		tCache& Cache = t_Cache;
		const size_t Class = ClassOf(Size);
		if (Cache.m_eState == CACHE_OPEN && Cache.m_rguiCount[Class] < MAX_CACHED_BLOCKS)
		{
			tFreeBlock* pBlock = static_cast<tFreeBlock*>(p);
			pBlock->m_pNext = Cache.m_rgpFree[Class];
			Cache.m_rgpFree[Class] = pBlock;
			Cache.m_rguiCount[Class]++;
			return;
		}
	}
	FreeSlowly(p, Size);
}
}
