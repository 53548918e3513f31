#pragma once
// Counts the heap allocations (malloc, calloc and realloc) that the calling thread makes while counting is on;
// other threads, such as a script engine's compilers, are not counted.
//
// It replaces the allocator functions of the whole program: exactly one source file of a program defines
// VEXA_COUNT_ALLOCATIONS before including this header. The address sanitizer brings an allocator of its own that
// cannot be replaced: there nothing is counted and IsAvailable() is false.

#include <cstddef>
#include <cstdint>

namespace AllocationCounter
{
bool IsAvailable();
// Starts counting from 0.
void Start();
// Stops counting; the allocations since Start.
uint64_t Stop();
}

#ifdef VEXA_COUNT_ALLOCATIONS

namespace AllocationCounter
{
namespace Detail
{
inline thread_local bool t_bCounting = false;
inline thread_local uint64_t t_Allocations = 0;

inline void Count()
{
	if (t_bCounting)
		t_Allocations++;
}
}

void Start()
{
	Detail::t_Allocations = 0;
	Detail::t_bCounting = true;
}

uint64_t Stop()
{
	Detail::t_bCounting = false;
	return Detail::t_Allocations;
}
}

#if defined(__SANITIZE_ADDRESS__)

bool AllocationCounter::IsAvailable()
{
	return false;
}

#else

bool AllocationCounter::IsAvailable()
{
	return true;
}

extern "C"
{
void* __libc_malloc(size_t Size);
void* __libc_calloc(size_t Count, size_t Size);
void* __libc_realloc(void* p, size_t Size);

void* malloc(size_t Size)
{
	AllocationCounter::Detail::Count();
	return __libc_malloc(Size);
}

void* calloc(size_t Count, size_t Size)
{
	AllocationCounter::Detail::Count();
	return __libc_calloc(Count, Size);
}

void* realloc(void* p, size_t Size)
{
	AllocationCounter::Detail::Count();
	return __libc_realloc(p, Size);
}
}

#endif
#endif
