#include "TimeManager.h"

#include <algorithm>
#include <cmath>

#include "Engine/OS.h"

namespace
{
constexpr double STEP_LENGTH = 1.0 / 60.0;
constexpr double MAX_DELTA = 0.0625;
}

TimeManager::TimeManager()
	: m_dAccumulator(0.0), m_ulFrequency(OS::GetPerformanceFrequency()), m_ulLastCounter(0),
	  m_FrameInfo{0, STEP_LENGTH, 0.0, MAX_DELTA, 1.0}
{
}

void TimeManager::Initialise()
{
	m_dAccumulator = 0.0;
	m_FrameInfo = FrameTimeInfo{0, STEP_LENGTH, 0.0, MAX_DELTA, 1.0};
	m_ulFrequency = OS::GetPerformanceFrequency();
	m_ulLastCounter = OS::GetPerformanceCounter();
}

void TimeManager::Process()
{
	uint64_t ulNow = OS::GetPerformanceCounter();
	double dElapsed = m_ulFrequency ? static_cast<double>(ulNow - m_ulLastCounter) / static_cast<double>(m_ulFrequency) : 0.0;
	m_ulLastCounter = ulNow;
	Advance(dElapsed);
}

void TimeManager::Advance(double dElapsed)
{
	double dDelta = m_FrameInfo.m_dTimeScale * std::min(m_FrameInfo.m_dMaxDelta, dElapsed);
	m_dAccumulator += dDelta;
	double dSteps = std::floor(m_dAccumulator / m_FrameInfo.m_dStepLength);
	m_dAccumulator -= dSteps * m_FrameInfo.m_dStepLength;
	m_FrameInfo.m_iSteps = static_cast<int32_t>(dSteps);
	m_FrameInfo.m_dDelta = dDelta;
}
