#include "GTAClient.h"

#include <cstring>

CGTAClient::CGTAClient(CNetObjectMgr* pManager) :
	CNetMachine(pManager),
	m_iSessionGameMode(-1),
	m_iEpisode(0),
	m_bHasSessionInfo(false),
	m_ulSessionInfoLength(0),
	m_bVerified(false),
	m_ucCameraInterior(0)
{
	memset(m_rgucSessionInfo, 0, sizeof(m_rgucSessionInfo));
}

CGTAClient::~CGTAClient() = default;
