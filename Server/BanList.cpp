#include "BanList.h"

#include <limits>

#include "Engine/OS.h"

int64_t CBanList::Now()
{
	const uint64_t uiTicks = OS::GetTicks();
	return uiTicks > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) ? std::numeric_limits<int64_t>::max()
																				 : static_cast<int64_t>(uiTicks);
}

void CBanList::Ban(const char* szAddress, int64_t iDurationMs)
{
	if (!szAddress)
		return;
	int64_t iExpiry = 0;
	if (iDurationMs != 0)
	{
		const int64_t iNow = Now();
		if (iDurationMs > 0 && iNow > std::numeric_limits<int64_t>::max() - iDurationMs)
			iExpiry = std::numeric_limits<int64_t>::max();
		else
			iExpiry = iNow + iDurationMs;
		// 0 and below would read as a ban for ever; a timed ban that has run out must not become one.
		if (iExpiry <= 0)
			iExpiry = 1;
	}
	m_Bans[szAddress] = tBan{szAddress, iExpiry};
}

bool CBanList::Unban(const char* szAddress)
{
	return szAddress && m_Bans.erase(szAddress) != 0;
}

bool CBanList::IsBanned(const char* szAddress)
{
	if (!szAddress)
		return false;
	auto it = m_Bans.find(szAddress);
	if (it == m_Bans.end())
		return false;
	if (it->second.m_iExpiry == 0 || Now() < it->second.m_iExpiry)
		return true;
	m_Bans.erase(it);
	return false;
}
