// The allocator functions of this test program, replaced to count allocations (see the header).
#define VEXA_COUNT_ALLOCATIONS
#include "Support/AllocationCounter.h"
