#include "Engine/OS.h"

#include <cstdio>
#include <dlfcn.h>
#include <string>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

namespace
{
	bool g_bClockInitialised = false;
	bool g_bMonotonicClock = false;
	uint64_t g_uiStartCounter = 0;

	constexpr uint64_t NANOSECONDS_PER_SECOND = 1000000000ULL;
	constexpr uint64_t MICROSECONDS_PER_SECOND = 1000000ULL;

	bool ReadMonotonicClock(uint64_t* puiCounter)
	{
		timespec Now;
		if (clock_gettime(CLOCK_MONOTONIC_RAW, &Now) != 0)
			return false;
		*puiCounter = static_cast<uint64_t>(Now.tv_sec) * NANOSECONDS_PER_SECOND + static_cast<uint64_t>(Now.tv_nsec);
		return true;
	}

	uint64_t ReadWallClock()
	{
		timeval Now;
		gettimeofday(&Now, nullptr);
		return static_cast<uint64_t>(Now.tv_sec) * MICROSECONDS_PER_SECOND + static_cast<uint64_t>(Now.tv_usec);
	}
}

namespace OS
{
	void Initialise()
	{
		g_bClockInitialised = true;
		uint64_t uiCounter;
		g_bMonotonicClock = ReadMonotonicClock(&uiCounter);
		g_uiStartCounter = GetPerformanceCounter();
	}

	bool IsInitialised()
	{
		return g_bClockInitialised;
	}

	uint64_t GetPerformanceCounter()
	{
		uint64_t uiCounter;
		if (g_bMonotonicClock && ReadMonotonicClock(&uiCounter))
			return uiCounter;
		return ReadWallClock();
	}

	uint64_t GetPerformanceFrequency()
	{
		return g_bMonotonicClock ? NANOSECONDS_PER_SECOND : MICROSECONDS_PER_SECOND;
	}

	uint64_t GetTicks()
	{
		if (!g_bClockInitialised)
			Initialise();

		return CountsToMilliseconds(GetPerformanceCounter() - g_uiStartCounter, GetPerformanceFrequency());
	}

	uint64_t CountsToMilliseconds(uint64_t uiCounts, uint64_t uiFrequency)
	{
		// Whole seconds and the remainder are scaled apart: multiplying a nanosecond count by 1000
		// directly would overflow 64 bits after about seven months of uptime.
		return (uiCounts / uiFrequency) * 1000 + (uiCounts % uiFrequency) * 1000 / uiFrequency;
	}

	void Delay(uint32_t uiMilliseconds)
	{
		usleep(static_cast<useconds_t>(uiMilliseconds) * 1000);
	}

	void* LoadObject(const char* szPath)
	{
		return dlopen(szPath, RTLD_NOW);
	}

	void UnloadObject(void* pHandle)
	{
		if (pHandle != nullptr)
			dlclose(pHandle);
	}

	void* LoadFunction(void* pHandle, const char* szName)
	{
		void* pFunction = dlsym(pHandle, szName);
		if (pFunction != nullptr)
			return pFunction;
		const std::string Underscored = std::string("_") + szName;
		return dlsym(pHandle, Underscored.c_str());
	}
}
