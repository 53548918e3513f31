#include "World.h"

#include "BaseServer.h"
#include "GameSettings.h"
#include "NetGamesList.h"

#include "Elements/GameElementManager.h"

#include "Engine/OS.h"
#include "Multiplayer/NetMachine.h"
#include "Network/BinaryStream.h"

namespace
{
// World messages go on the game server's channel 0.
constexpr uint8_t WORLD_CHANNEL = 0;

bool SendToClient(CNetMachine* pClient, Packet& Message)
{
	return pClient && pClient->SendPacket(&Message, PACKET_PRIORITY_LOW, PACKET_FLAG_RELIABLE, WORLD_CHANNEL);
}
}

CWorld::CWorld(CGameElementManager* pManager, const tGameSettings* pSettings) :
	m_pManager(pManager),
	m_pSettings(pSettings),
	m_ucWeather(0),
	m_bForced(false),
	m_bWeatherDirty(false),
	m_bClockDirty(false),
	m_iLastTicks(static_cast<int32_t>(OS::GetTicks())),
	m_iTimer(0),
	m_iBridgeState(1),
	m_dResyncTime(0.0)
{
}

CWorld::~CWorld() = default;

ReflectedClass* CWorld::GetReflectedClass()
{
	ReflectedClass* pClass = m_pManager ? m_pManager->GetScriptClass(ELEMENT_CLASS_WORLD) : nullptr;
	return pClass ? pClass : CBaseObject::GetReflectedClass();
}

CBaseServer* CWorld::GetServer() const
{
	return m_pManager ? m_pManager->GetBaseServer() : nullptr;
}

template <class TSend>
void CWorld::ForAllClients(TSend Send)
{
	CBaseServer* pServer = GetServer();
	if (!pServer)
		return;
	int64_t iLimit = pServer->GetMaxPlayers();
	if (iLimit > static_cast<int64_t>(CBaseServer::CONSOLE_CLIENT_INDEX))
		iLimit = CBaseServer::CONSOLE_CLIENT_INDEX;
	for (int32_t i = 0; i < iLimit; i++)
	{
		CNetMachine* pClient = pServer->GetClients().GetMachine(i);
		if (pClient && pClient->GetGame() == pServer->GetGameId())
			Send(pClient);
	}
}

void CWorld::Process(double dDelta)
{
	const int32_t iTicks = static_cast<int32_t>(OS::GetTicks());
	// The tick counter may wrap; the difference taken as unsigned is still the time that passed.
	m_iTimer += static_cast<uint32_t>(static_cast<uint32_t>(iTicks) - static_cast<uint32_t>(m_iLastTicks));
	m_iLastTicks = iTicks;
	m_dResyncTime += dDelta;
	m_Clock.Process(dDelta);

	if (m_dResyncTime > RESYNC_INTERVAL)
	{
		m_bClockDirty = true;
		m_bWeatherDirty = true;
		ForAllClients([this](CNetMachine* pClient) { SyncTimer(pClient); });
		m_dResyncTime = 0.0;
	}
	if (m_bClockDirty)
	{
		ForAllClients([this](CNetMachine* pClient) { SyncClock(pClient); });
		m_bClockDirty = false;
	}
	if (m_bWeatherDirty)
	{
		ForAllClients([this](CNetMachine* pClient) { SyncWeather(pClient, m_bForced); });
		m_bWeatherDirty = false;
	}
}

void CWorld::SyncClient(CNetMachine* pClient)
{
	SyncMinuteDuration(pClient);
	SyncClock(pClient);
	SyncWeather(pClient, true);
	SyncTimer(pClient);
	SyncSSVBridge(pClient);
}

void CWorld::SyncClock(CNetMachine* pClient)
{
	if (!m_pSettings || !m_pSettings->m_bTimeSync)
		return;
	Packet Message(WORLD_MESSAGE_CLOCK);
	CBinaryWriter Writer(&Message);
	Writer.WriteUInt8(m_Clock.m_ucHour);
	Writer.WriteUInt8(m_Clock.m_ucMinute);
	Writer.WriteUInt16(m_Clock.GetWholeMilliminutes());
	SendToClient(pClient, Message);
}

void CWorld::SyncWeather(CNetMachine* pClient, bool bForced)
{
	if (!m_pSettings || !m_pSettings->m_bWeatherSync)
		return;
	Packet Message(WORLD_MESSAGE_WEATHER);
	CBinaryWriter Writer(&Message);
	Writer.WriteUInt8(bForced ? 1 : 0);
	Writer.WriteUInt8(m_ucWeather);
	SendToClient(pClient, Message);
}

void CWorld::SyncTimer(CNetMachine* pClient)
{
	Packet Message(WORLD_MESSAGE_TIMER);
	CBinaryWriter Writer(&Message);
	Writer.WriteInt64(m_iTimer);
	SendToClient(pClient, Message);
}

void CWorld::SyncMinuteDuration(CNetMachine* pClient)
{
	Packet Message(WORLD_MESSAGE_MINUTE_DURATION);
	CBinaryWriter Writer(&Message);
	Writer.WriteInt32(m_Clock.GetMinuteDurationMilliseconds());
	SendToClient(pClient, Message);
}

void CWorld::SyncSSVBridge(CNetMachine* pClient)
{
	if (!pClient || pClient->GetGame() != GAME_GTA_III)
		return;
	Packet Message(WORLD_MESSAGE_SSV_BRIDGE);
	CBinaryWriter Writer(&Message);
	Writer.WriteInt64(m_iBridgeState);
	SendToClient(pClient, Message);
}

void CWorld::SetWeather(uint8_t ucWeather)
{
	m_ucWeather = ucWeather;
	m_bForced = false;
	m_bWeatherDirty = true;
}

void CWorld::ForceWeather(uint8_t ucWeather)
{
	m_ucWeather = ucWeather;
	m_bForced = true;
	m_bWeatherDirty = true;
}

bool CWorld::SetMinuteDuration(double dSeconds, bool bSendToClients)
{
	if (!m_Clock.SetMinuteDuration(dSeconds))
	{
		if (CBaseServer* pServer = GetServer())
			pServer->GetContext()->LogWarn("The minute duration must be a number above zero; keeping %g.",
				m_Clock.GetMinuteDuration());
		return false;
	}
	if (bSendToClients)
		ForAllClients([this](CNetMachine* pClient) { SyncMinuteDuration(pClient); });
	return true;
}

void CWorld::SetHour(int64_t iHour)
{
	m_Clock.SetHour(iHour);
	m_bClockDirty = true;
}

void CWorld::SetMinute(int64_t iMinute)
{
	m_Clock.SetMinute(iMinute);
	m_bClockDirty = true;
}

bool CWorld::SetSecond(double dSecond)
{
	if (!m_Clock.SetSecond(dSecond))
		return false;
	m_bClockDirty = true;
	return true;
}

void CWorld::SetSSVBridgeEnabled(bool bEnabled)
{
	if (bEnabled)
		m_iBridgeState = m_iTimer != 0 ? m_iTimer : 1;
	else
		m_iBridgeState = 0;
	ForAllClients([this](CNetMachine* pClient) { SyncSSVBridge(pClient); });
}
