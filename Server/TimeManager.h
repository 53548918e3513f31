#pragma once
// The frame clock of the main loop. Every consumer of a pass gets a delta capped at m_dMaxDelta, so a stall
// of the process is never replayed as one long step.

#include <cstdint>

struct FrameTimeInfo
{
	int32_t m_iSteps;     // whole fixed steps this pass
	double m_dStepLength; // seconds
	double m_dDelta;      // seconds, capped
	double m_dMaxDelta;   // seconds
	double m_dTimeScale;
};

class TimeManager
{
public:
	TimeManager();

	// Starts measuring from now.
	void Initialise();
	// Measures the time since the previous pass (or Initialise) and fills the pass's frame info.
	void Process();
	// The same for an elapsed time given in seconds; Process uses it with the performance counter.
	void Advance(double dElapsed);

	const FrameTimeInfo& GetFrameInfo() const { return m_FrameInfo; }
	double GetAccumulator() const { return m_dAccumulator; }

private:
	double m_dAccumulator;
	uint64_t m_ulFrequency;
	uint64_t m_ulLastCounter;
	FrameTimeInfo m_FrameInfo;
};
