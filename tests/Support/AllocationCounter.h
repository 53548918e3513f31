#pragma once
// Counts the heap allocations (malloc, calloc and realloc) that the calling thread makes while counting is on, and
// the bytes they ask for; other threads, such as a script engine's compilers, are not counted. The bytes asked for
// are never fewer than the most the thread's heap grew by at any moment, so they bound its peak from above.
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
// The bytes the allocations counted since the last Start asked for.
uint64_t GetBytes();
}

#ifdef VEXA_COUNT_ALLOCATIONS

namespace AllocationCounter
{
namespace Detail
{
inline thread_local bool t_bCounting = false;
inline thread_local uint64_t t_Allocations = 0;
inline thread_local uint64_t t_Bytes = 0;

inline void Count(size_t Size)
{
	if (t_bCounting)
	{
		t_Allocations++;
		t_Bytes += Size;
	}
}
}

void Start()
{
	Detail::t_Allocations = 0;
	Detail::t_Bytes = 0;
	Detail::t_bCounting = true;
}

uint64_t GetBytes()
{
	return Detail::t_Bytes;
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
	AllocationCounter::Detail::Count(Size);
	return __libc_malloc(Size);
}

void* calloc(size_t Count, size_t Size)
{
	size_t Bytes = 0;
	if (__builtin_mul_overflow(Count, Size, &Bytes))
		Bytes = SIZE_MAX;
	AllocationCounter::Detail::Count(Bytes);
	return __libc_calloc(Count, Size);
}

void* realloc(void* p, size_t Size)
{
	AllocationCounter::Detail::Count(Size);
	return __libc_realloc(p, Size);
}
}

#endif
#endif
