#pragma once

#include <cstdint>

// Platform helpers: the monotonic clock, sleeping and shared libraries.
namespace OS
{
	// Chooses the clock source (CLOCK_MONOTONIC_RAW in nanoseconds, else gettimeofday in
	// microseconds) and records the start counter. Must run on the main thread before other threads start.
	void Initialise();
	bool IsInitialised();

	uint64_t GetPerformanceCounter();
	uint64_t GetPerformanceFrequency();

	// Milliseconds since Initialise; initialises the clock on first use.
	uint64_t GetTicks();
	// Converts a counter difference to milliseconds without overflowing for any uptime.
	uint64_t CountsToMilliseconds(uint64_t uiCounts, uint64_t uiFrequency);

	void Delay(uint32_t uiMilliseconds);

	void* LoadObject(const char* szPath);
	void UnloadObject(void* pHandle);
	// Looks the name up as given and, failing that, with a leading "_".
	void* LoadFunction(void* pHandle, const char* szName);
}
