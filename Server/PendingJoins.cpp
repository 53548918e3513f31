#include "PendingJoins.h"

#include <utility>

#include "Engine/KestrinStream.h"

CPendingJoins::CPendingJoins(Context* pContext) : m_Checks(pContext, "CONNECT") {}

void CPendingJoins::Await(void* pPeer, const std::string& Address, const std::string& Password, const char* szStored,
	Stream* pStream, size_t MaxRest)
{
	tJoin& Join = m_Joins[pPeer];
	Join.m_Address = Address;
	Join.m_Rest.resize(MaxRest);
	Join.m_Rest.resize(pStream->Read(Join.m_Rest.data(), Join.m_Rest.size()));
	Join.m_uiTicket = m_Checks.Request(Address.c_str(), Password.data(), Password.size(), szStored);
	m_Peers[Join.m_uiTicket] = pPeer;
}

void CPendingJoins::Forget(void* pPeer)
{
	auto Found = m_Joins.find(pPeer);
	if (Found == m_Joins.end())
		return;
	m_Checks.Cancel(Found->second.m_uiTicket);
	m_Peers.erase(Found->second.m_uiTicket);
	m_Joins.erase(Found);
}

void CPendingJoins::Collect(uint64_t uiNowMs, std::vector<tAnswer>& Answers)
{
	std::vector<tPasswordAnswer> Checked;
	m_Checks.Process(uiNowMs, Checked);
	for (const tPasswordAnswer& Answer : Checked)
	{
		// Answers of peers that went are never given, so each one has its request.
		auto Peer = m_Peers.find(Answer.m_uiTicket);
		if (Peer == m_Peers.end())
			continue;
		auto Found = m_Joins.find(Peer->second);
		m_Peers.erase(Peer);
		if (Found == m_Joins.end())
			continue;
		Answers.push_back(
			tAnswer{Found->first, std::move(Found->second.m_Address), std::move(Found->second.m_Rest), Answer.m_bVerified});
		m_Joins.erase(Found);
	}
}
