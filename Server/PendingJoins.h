#pragma once
// Join requests whose server password is being checked. The check costs tens of milliseconds, so it runs off the
// main thread (through CPasswordChecks, one address at a time and slowed down for an address that keeps failing);
// what followed the password waits here, by the peer's handle, until the check answers. A peer handle belongs to
// one connection and is never reused, so an answer can never reach another peer. Main thread only.

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "Engine/PasswordChecks.h"

class Context;
class Stream;

class CPendingJoins
{
public:
	// A request whose check has answered.
	struct tAnswer
	{
		void* m_pPeer;
		std::string m_Address;
		// What followed the password in the request.
		std::vector<uint8_t> m_Rest;
		bool m_bVerified;
	};

	explicit CPendingJoins(Context* pContext);

	bool IsPending(void* pPeer) const { return m_Joins.count(pPeer) != 0; }
	// Asks for the check of the peer's password against the stored one and keeps at most MaxRest bytes of what
	// follows it in the stream.
	void Await(void* pPeer, const std::string& Address, const std::string& Password, const char* szStored,
		Stream* pStream, size_t MaxRest);
	// The peer has gone: its request is dropped. A check already running still counts against its address.
	void Forget(void* pPeer);
	// The requests whose check has answered since the last call, in the order the answers came.
	void Collect(uint64_t uiNowMs, std::vector<tAnswer>& Answers);

private:
	struct tJoin
	{
		uint64_t m_uiTicket = 0;
		std::string m_Address;
		std::vector<uint8_t> m_Rest;
	};

	std::map<void*, tJoin> m_Joins;
	// The peer of each check asked for.
	std::map<uint64_t, void*> m_Peers;
	CPasswordChecks m_Checks;
};
