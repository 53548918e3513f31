#pragma once
// The addresses the server refuses, each until its ban runs out or for ever. Kept only in memory: empty at
// start-up and lost at shutdown. Addresses compare exactly as given.

#include <cstdint>
#include <string>
#include <unordered_map>

class CBanList
{
public:
	// Replaces any ban of the address. A duration of 0 bans for ever; any other duration, in milliseconds, runs
	// from now (a negative one has already run out).
	void Ban(const char* szAddress, int64_t iDurationMs);
	// True when there was a ban.
	bool Unban(const char* szAddress);
	void Clear() { m_Bans.clear(); }
	// A ban that has run out is removed here and no longer counts.
	bool IsBanned(const char* szAddress);

	size_t GetCount() const { return m_Bans.size(); }

private:
	struct tBan
	{
		std::string m_Address;
		// Milliseconds of the monotonic engine clock; 0 for ever. 64 bits, so no ban wraps around.
		int64_t m_iExpiry;
	};

	static int64_t Now();

	std::unordered_map<std::string, tBan> m_Bans;
};
