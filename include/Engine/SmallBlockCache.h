#pragma once
// Per-thread caches of small heap blocks, for objects that are made and dropped at a high rate: the values of
// every native call. A block freed goes to the cache of the thread that frees it and is handed out again before
// the heap is asked; each cache holds a bounded number of blocks and gives them all back when its thread ends.
//
// Under the address sanitizer every block goes straight to the heap, so that a value used after its release is
// still caught.

#include <cstddef>

namespace SmallBlockCache
{
// Blocks of up to this many bytes are cached.
constexpr size_t MAX_BLOCK_SIZE = 128;

// Null when there is no memory.
void* Allocate(size_t Size);
// Size is the one the block was allocated with.
void Free(void* p, size_t Size);
}
