#include "GameClock.h"

#include <cmath>
#include <limits>

#include "Engine/KAssert.h"

namespace
{
constexpr double MINUTES_PER_DAY = 24.0 * 60.0;

int64_t FloorDiv(int64_t a, int64_t b)
{
	int64_t q = a / b;
	if ((a % b != 0) && ((a < 0) != (b < 0)))
		q--;
	return q;
}

int64_t FloorMod(int64_t a, int64_t b)
{
	int64_t r = a % b;
	if (r != 0 && ((r < 0) != (b < 0)))
		r += b;
	return r;
}
}

CGameClock::CGameClock() : m_iDay(0), m_ucHour(0), m_ucMinute(0), m_dMilliminutes(0.0), m_dMinuteDuration(1.0)
{
}

void CGameClock::AddDays(double dDays)
{
	const double dDay = static_cast<double>(m_iDay) + dDays;
	if (dDay >= static_cast<double>(std::numeric_limits<int32_t>::max()))
		m_iDay = std::numeric_limits<int32_t>::max();
	else if (dDay <= static_cast<double>(std::numeric_limits<int32_t>::min()))
		m_iDay = std::numeric_limits<int32_t>::min();
	else
		m_iDay = static_cast<int32_t>(dDay);
}

void CGameClock::AddMinutes(double dMinutes)
{
	// Minutes of the day plus the whole minutes to add, split into days and a minute of the day. fmod keeps the
	// split exact for any magnitude a double can hold, where integer conversions would overflow.
	const double dTotal = static_cast<double>(m_ucHour) * 60.0 + static_cast<double>(m_ucMinute) + dMinutes;
	const double dDays = std::floor(dTotal / MINUTES_PER_DAY);
	double dOfDay = dTotal - dDays * MINUTES_PER_DAY;
	if (!(dOfDay >= 0.0) || dOfDay >= MINUTES_PER_DAY)
		dOfDay = 0.0;
	const int iOfDay = static_cast<int>(dOfDay);
	m_ucHour = static_cast<uint8_t>(iOfDay / 60);
	m_ucMinute = static_cast<uint8_t>(iOfDay % 60);
	AddDays(dDays);
}

void CGameClock::Process(double dDelta)
{
	KASSERT(dDelta >= 0.0);
	if (!(dDelta > 0.0))
		return;
	m_dMilliminutes += dDelta / m_dMinuteDuration * 1000.0;
	if (!std::isfinite(m_dMilliminutes))
	{
		m_dMilliminutes = 0.0;
		return;
	}
	const double dWholeMinutes = std::floor(m_dMilliminutes / 1000.0);
	m_dMilliminutes = std::fmod(m_dMilliminutes, 1000.0);
	if (dWholeMinutes > 0.0)
		AddMinutes(dWholeMinutes);
}

void CGameClock::SetHour(int64_t iHour)
{
	m_ucHour = static_cast<uint8_t>(FloorMod(iHour, 24));
	AddDays(static_cast<double>(FloorDiv(iHour, 24)));
}

void CGameClock::SetMinute(int64_t iMinute)
{
	const int64_t iCarry = FloorDiv(iMinute, 60);
	m_ucMinute = static_cast<uint8_t>(FloorMod(iMinute, 60));
	// The hour keeps its value apart from the carry.
	const double dHours = static_cast<double>(m_ucHour) + static_cast<double>(iCarry);
	const double dDays = std::floor(dHours / 24.0);
	m_ucHour = static_cast<uint8_t>(static_cast<int>(dHours - dDays * 24.0));
	AddDays(dDays);
}

bool CGameClock::SetSecond(double dSecond)
{
	if (!std::isfinite(dSecond))
		return false;
	// Thousandths of a minute, truncated toward zero, then split with floor semantics.
	const double dThousandths = std::trunc(dSecond / 60.0 * 1000.0);
	const double dMinutes = std::floor(dThousandths / 1000.0);
	double dRest = dThousandths - dMinutes * 1000.0;
	if (!(dRest >= 0.0) || dRest >= 1000.0)
		dRest = 0.0;
	m_dMilliminutes = dRest;
	AddMinutes(dMinutes);
	return true;
}

double CGameClock::GetSecond() const
{
	return std::floor(m_dMilliminutes) / 1000.0 * 60.0;
}

bool CGameClock::SetMinuteDuration(double dSeconds)
{
	if (!std::isfinite(dSeconds) || !(dSeconds > 0.0))
		return false;
	m_dMinuteDuration = dSeconds;
	return true;
}

int32_t CGameClock::GetMinuteDurationMilliseconds() const
{
	const double dMilliseconds = std::trunc(m_dMinuteDuration * 1000.0);
	if (dMilliseconds >= static_cast<double>(std::numeric_limits<int32_t>::max()))
		return std::numeric_limits<int32_t>::max();
	if (!(dMilliseconds > 0.0))
		return 0;
	return static_cast<int32_t>(dMilliseconds);
}

uint16_t CGameClock::GetWholeMilliminutes() const
{
	if (!(m_dMilliminutes > 0.0))
		return 0;
	if (m_dMilliminutes >= 999.0)
		return 999;
	return static_cast<uint16_t>(m_dMilliminutes);
}
