#pragma once
// The game clock: day, hour, minute and thousandths of a game minute, advanced by real time at a configurable
// number of real seconds per game minute. All arithmetic is done so that no input, however large, overflows a
// field: carries are computed in floating point or 64-bit integers and the day saturates at the int32 range.

#include <cstdint>

class CGameClock
{
public:
	CGameClock();

	// A negative delta does not move the clock (the frame clock never yields one).
	void Process(double dDelta);

	// Floor semantics throughout: remainders are never negative, the carry goes into the next larger unit.
	void SetHour(int64_t iHour);
	void SetMinute(int64_t iMinute);
	// False, with nothing changed, for a value that is not finite.
	bool SetSecond(double dSecond);
	void SetDay(int32_t iDay) { m_iDay = iDay; }
	// The whole thousandths of the minute as seconds.
	double GetSecond() const;

	// False, with the old value kept, unless the value is finite and above zero.
	bool SetMinuteDuration(double dSeconds);
	double GetMinuteDuration() const { return m_dMinuteDuration; }
	// 1000 times the minute duration, truncated and kept inside the int32 range.
	int32_t GetMinuteDurationMilliseconds() const;
	// The integer part of the thousandths, as the clock message carries it.
	uint16_t GetWholeMilliminutes() const;

	int32_t m_iDay;
	uint8_t m_ucHour;
	uint8_t m_ucMinute;
	// 0 <= value < 1000 after every step.
	double m_dMilliminutes;
	double m_dMinuteDuration;

private:
	// Adds whole minutes, carrying into hours and days.
	void AddMinutes(double dMinutes);
	void AddDays(double dDays);
};
