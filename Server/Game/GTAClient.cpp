#include "GTAClient.h"

#include <algorithm>
#include <cstring>

#include "GameProtocol.h"

#include "Elements/ElementTypes.h"
#include "Elements/ServerPlayer.h"

#include "Multiplayer/NetObjectMgr.h"
#include "Network/BinaryStream.h"
#include "Network/Packet.h"

namespace
{
constexpr uint8_t GAME_CLIENT_CHANNEL = 0;
constexpr uint8_t FADE_IN = 0x1;
constexpr uint8_t FADE_WITH_COLOUR = 0x2;
}

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

bool CGTAClient::IsConnected() const
{
	CNetObjectMgr* pManager = GetManager();
	const int32_t iIndex = GetIndex();
	return pManager && iIndex != INVALID_CLIENT_ID &&
		pManager->GetMachine(iIndex) == static_cast<const INetMachine*>(this);
}

void CGTAClient::ChangeCameraInterior(uint8_t ucInterior)
{
	m_ucCameraInterior = ucInterior;
	Packet Message(GAME_MESSAGE_CAMERA_INTERIOR);
	CBinaryWriter(&Message).WriteUInt8(ucInterior);
	SendPacket(&Message, PACKET_PRIORITY_LOW, PACKET_FLAG_RELIABLE, GAME_CLIENT_CHANNEL);
}

bool CGTAClient::SpawnPlayer(const CVector3D& vecPosition, float fHeading, int32_t iSkin, uint8_t ucInterior,
	int32_t iDimension)
{
	// Destroying the old player and creating the new one run scripts, which may drop every other hold on this
	// record.
	Strong<CGTAClient> pHeld(this);
	DespawnPlayer();
	CNetObjectMgr* pManager = GetManager();
	if (!pManager)
		return false;
	Strong<CServerPlayer> pPlayer =
		Strong<CServerPlayer>::New(static_cast<CServerPlayer*>(pManager->Create(ELEMENT_PLAYER)));
	if (pPlayer.IsNull())
		return false;
	// Not registered yet: none of these sends anything.
	pPlayer->SetModelIndex(iSkin);
	pPlayer->SetSyncer(this, true);
	pPlayer->SetHeading(fHeading);
	pPlayer->SetPosition(vecPosition);
	pPlayer->SetInterior(ucInterior);
	pPlayer->SetDimension(iDimension);
	if (!pManager->RegisterNetObject(pPlayer))
		return false;
	pManager->SendCreatePacket(this, pPlayer);
	// A script that saw it stream in may already have destroyed it.
	if (Elements::IsGone(pPlayer))
		return true;
	SetPlayer(pPlayer);
	pPlayer->OnSpawned();
	return true;
}

void CGTAClient::FadeCamera(bool bFadeIn, float fDuration, uint32_t uiColour)
{
	const uint8_t ucFlags = static_cast<uint8_t>((bFadeIn ? FADE_IN : 0) | (uiColour != 0 ? FADE_WITH_COLOUR : 0));
	Packet Message(GAME_MESSAGE_FADE_CAMERA);
	CBinaryWriter Writer(&Message);
	Writer.WriteUInt8(ucFlags);
	Writer.WriteSingle(fDuration);
	if (uiColour != 0)
		Writer.WriteUInt32(uiColour);
	SendPacket(&Message, PACKET_PRIORITY_LOW, PACKET_FLAG_RELIABLE, GAME_CLIENT_CHANNEL);
}

void CGTAClient::SendSessionMessage(unsigned uiId, int32_t iGameMode, int32_t iEpisode, const int32_t* piHost)
{
	Packet Message(uiId);
	CBinaryWriter Writer(&Message);
	Writer.WriteInt32(iGameMode);
	Writer.WriteInt32(iEpisode);
	if (piHost)
		Writer.WriteInt32(*piHost);
	SendPacket(&Message, PACKET_PRIORITY_LOW, PACKET_FLAG_RELIABLE, GAME_CLIENT_CHANNEL);
}

void CGTAClient::QuickMatch(int32_t iGameMode, int32_t iEpisode)
{
	m_iSessionGameMode = iGameMode;
	m_iEpisode = iEpisode;
	SendSessionMessage(GAME_MESSAGE_IV_QUICK_MATCH, iGameMode, iEpisode, nullptr);
}

void CGTAClient::HostSession(int32_t iGameMode, int32_t iEpisode)
{
	m_iSessionGameMode = iGameMode;
	m_iEpisode = iEpisode;
	SendSessionMessage(GAME_MESSAGE_IV_HOST_SESSION, iGameMode, iEpisode, nullptr);
}

void CGTAClient::JoinSession(CGTAClient* pHost)
{
	if (!pHost)
		return;
	m_iSessionGameMode = pHost->m_iSessionGameMode;
	m_iEpisode = pHost->m_iEpisode;
	const int32_t iHost = pHost->GetIndex();
	SendSessionMessage(GAME_MESSAGE_IV_JOIN_SESSION, m_iSessionGameMode, m_iEpisode, &iHost);
}

void CGTAClient::HostVexa()
{
	m_iSessionGameMode = -1;
	Packet Message(GAME_MESSAGE_IV_HOST_VEXA);
	CBinaryWriter(&Message).WriteInt32(m_iEpisode);
	SendPacket(&Message, PACKET_PRIORITY_LOW, PACKET_FLAG_RELIABLE, GAME_CLIENT_CHANNEL);
}

void CGTAClient::SetSessionInfo(const uint8_t* pData, size_t Length)
{
	Length = std::min<size_t>(Length, MAX_SESSION_INFO_LENGTH);
	if (Length)
		memcpy(m_rgucSessionInfo, pData, Length);
	m_ulSessionInfoLength = Length;
	m_bHasSessionInfo = true;
}

void CGTAClient::ClearSessionInfo()
{
	m_bHasSessionInfo = false;
	m_ulSessionInfoLength = 0;
}

bool CGTAClient::WriteSessionInfo(Stream* pStream) const
{
	CBinaryWriter Writer(pStream);
	if (!Writer.WriteUInt8(m_bHasSessionInfo ? 1 : 0))
		return false;
	if (!m_bHasSessionInfo)
		return true;
	// The stored length never passes the one-byte limit, whatever wrote it.
	const size_t Length = std::min<uint64_t>(m_ulSessionInfoLength, MAX_SESSION_INFO_LENGTH);
	return Writer.WriteUInt8(static_cast<uint8_t>(Length)) && Writer.Write(m_rgucSessionInfo, Length);
}

size_t CGTAClient::CountLocalElements()
{
	m_LocalElements.erase(std::remove_if(m_LocalElements.begin(), m_LocalElements.end(),
							  [](const Weak<CNetObject>& pElement) { return pElement.IsNull(); }),
		m_LocalElements.end());
	return m_LocalElements.size();
}

void CGTAClient::AddLocalElement(CNetObject* pElement)
{
	m_LocalElements.emplace_back(pElement);
}
