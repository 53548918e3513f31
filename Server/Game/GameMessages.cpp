#include "GameMessages.h"

#include "BaseServer.h"
#include "GTAClient.h"
#include "GTAServerManager.h"
#include "GameProtocol.h"
#include "GameSettings.h"

#include "Elements/ServerPed.h"
#include "Elements/ServerPickup.h"
#include "Elements/ServerVehicle.h"

#include "Engine/KestrinArguments.h"
#include "Network/BinaryStream.h"
#include "Network/Packet.h"
#include "Scripting/EventHandlers.h"

namespace
{
constexpr uint8_t OTHERS_CHANNEL = 0;
constexpr uint8_t REPLY_CHANNEL = 0;

enum eVehicleAction : uint8_t
{
	VEHICLE_ACTION_EXIT = 1,
	VEHICLE_ACTION_ENTER_DRIVER = 2,
	VEHICLE_ACTION_ENTER_PASSENGER = 3,
};

enum ePedMoveKind : uint8_t
{
	PED_MOVE_TIMED = 1,
	PED_MOVE_BETWEEN = 2,
};

// A ped action is the ped's id and a fixed number of bytes that the server passes on unread, apart from what
// the events of 123 to 126 hand to scripts.
struct tPedAction
{
	unsigned m_uiId;
	size_t m_ExtraSize;
	// The event raised before the action is passed on, or GAME_EVENT_COUNT for none.
	eGameEvent m_eEvent;
};

constexpr size_t MAX_PED_ACTION_EXTRA = 9;

const tPedAction g_rgPedActions[] = {
	{GAME_MESSAGE_PED_FALL, 9, GAME_EVENT_PED_FALL},
	{GAME_MESSAGE_PED_JUMP, 0, GAME_EVENT_PED_JUMP},
	{GAME_MESSAGE_PED_CROUCH, 0, GAME_EVENT_PED_CROUCH},
	{GAME_MESSAGE_PED_UNCROUCH, 0, GAME_EVENT_PED_UNCROUCH},
	{GAME_MESSAGE_PED_ACTION_128, 9, GAME_EVENT_COUNT},
	{GAME_MESSAGE_PED_ACTION_144, 1, GAME_EVENT_COUNT},
	{GAME_MESSAGE_PED_ACTION_145, 1, GAME_EVENT_COUNT},
	{GAME_MESSAGE_PED_ACTION_146, 4, GAME_EVENT_COUNT},
	{GAME_MESSAGE_PED_ACTION_148, 0, GAME_EVENT_COUNT},
};

const tPedAction* FindPedAction(unsigned uiId)
{
	for (const tPedAction& Action : g_rgPedActions)
	{
		if (Action.m_uiId == uiId)
			return &Action;
	}
	return nullptr;
}

int32_t ReadLittleEndian32(const uint8_t* pucBytes)
{
	return static_cast<int32_t>(static_cast<uint32_t>(pucBytes[0]) | static_cast<uint32_t>(pucBytes[1]) << 8 |
		static_cast<uint32_t>(pucBytes[2]) << 16 | static_cast<uint32_t>(pucBytes[3]) << 24);
}

// The registered element of the type whose syncer is the client, or null.
CNetObject* FromSyncer(CServerManager* pManager, int32_t iId, uint32_t uiType, CNetMachine* pClient)
{
	CNetObject* pElement = pManager ? pManager->FromId(iId, uiType) : nullptr;
	return pElement && pElement->GetSyncer() == static_cast<INetMachine*>(pClient) ? pElement : nullptr;
}

CServerPed* PedFromSyncer(CServerManager* pManager, int32_t iId, CNetMachine* pClient)
{
	return static_cast<CServerPed*>(FromSyncer(pManager, iId, ELEMENT_PED, pClient));
}

// The client in a slot a client named; null for an index past the slots or an empty slot.
CGTAClient* ClientAt(CGTAServerManager* pManager, uint16_t usIndex)
{
	if (usIndex >= MAX_NET_MACHINES)
		return nullptr;
	// Every record this server makes is a game client record.
	return static_cast<CGTAClient*>(pManager->GetBaseServer()->GetClients().GetMachine(usIndex));
}

void SendToOthers(CGTAServerManager* pManager, Packet& Message, CGTAClient* pSender)
{
	pManager->SendPacketExcluding(&Message, pSender, OTHERS_CHANNEL);
}

// Raises one of the game's events; true when a handler prevented what follows.
bool RaiseEvent(CGTAServerManager* pManager, eGameEvent eEvent, const CArguments& Arguments)
{
	EventHandlers::CEventType* pType = pManager->GetEventType(eEvent);
	if (!pType)
		return false;
	bool bPrevented = false;
	if (pType->CanPreventDefault())
		pType->Trigger(Arguments, bPrevented);
	else
		pType->Trigger(Arguments);
	return bPrevented;
}

// The ped's syncer reports it leaving its vehicle; unless a script cancels, the ped's holders hear of it.
void SyncroniseExitVehicle(CGTAServerManager* pManager, CServerPed* pPed)
{
	const int32_t iVehicle = pPed->GetVehicleId();
	if (iVehicle == INVALID_NETWORK_ID)
		return;
	CArguments Arguments;
	Arguments.AddObject(pPed);
	Arguments.AddObject(pManager->FromId(iVehicle, 0));
	if (RaiseEvent(pManager, GAME_EVENT_PED_EXIT_VEHICLE, Arguments) || Elements::IsGone(pPed))
		return;
	Packet Message(GAME_MESSAGE_PED_VEHICLE_ACTION);
	CBinaryWriter Writer(&Message);
	Writer.WriteInt32(pPed->GetId());
	Writer.WriteUInt8(VEHICLE_ACTION_EXIT);
	Elements::SendToHolders(pPed, Message);
}

// The ped's syncer reports it getting in (action 2 as driver, 3 as passenger); unless a script cancels, the
// vehicle gets the ped's syncer and the ped's holders hear of it.
void SyncroniseEnterVehicle(CGTAServerManager* pManager, CServerPed* pPed, CServerVehicle* pVehicle, uint8_t ucAction)
{
	// Taken before scripts run: a handler may destroy the vehicle.
	const int32_t iVehicle = pVehicle->GetId();
	CArguments Arguments;
	Arguments.AddObject(pPed);
	Arguments.AddObject(pVehicle);
	Arguments.AddNumber(static_cast<int32_t>(ucAction == VEHICLE_ACTION_ENTER_DRIVER ? 1 : 0));
	if (RaiseEvent(pManager, GAME_EVENT_PED_ENTER_VEHICLE, Arguments) || Elements::IsGone(pPed))
		return;
	if (!Elements::IsGone(pVehicle))
		pVehicle->SetSyncer(pPed->GetSyncer());
	Packet Message(GAME_MESSAGE_PED_VEHICLE_ACTION);
	CBinaryWriter Writer(&Message);
	Writer.WriteInt32(pPed->GetId());
	Writer.WriteUInt8(ucAction);
	Writer.WriteInt32(iVehicle);
	Elements::SendToHolders(pPed, Message);
}

void ProcessPedVehicleAction(CGTAServerManager* pManager, CGTAClient* pClient, Stream* pStream)
{
	CBinaryReader Reader(pStream);
	int32_t iPed = INVALID_NETWORK_ID;
	uint8_t ucAction = 0;
	if (!Reader.ReadInt32(&iPed) || !Reader.ReadUInt8(&ucAction))
		return;
	const bool bEnter = ucAction == VEHICLE_ACTION_ENTER_DRIVER || ucAction == VEHICLE_ACTION_ENTER_PASSENGER;
	if (!bEnter && ucAction != VEHICLE_ACTION_EXIT)
		return;
	int32_t iVehicle = INVALID_NETWORK_ID;
	if (bEnter && !Reader.ReadInt32(&iVehicle))
		return;
	// Held: the event's handlers may destroy what they are told about.
	Strong<CServerPed> pPed(PedFromSyncer(pManager, iPed, pClient));
	if (pPed.IsNull())
		return;
	if (!bEnter)
	{
		SyncroniseExitVehicle(pManager, pPed);
		return;
	}
	Strong<CServerVehicle> pVehicle(static_cast<CServerVehicle*>(pManager->FromId(iVehicle, ELEMENT_VEHICLE)));
	if (!pVehicle.IsNull())
		SyncroniseEnterVehicle(pManager, pPed, pVehicle, ucAction);
}

void ProcessPedWasted(CGTAServerManager* pManager, CGTAClient* pClient, Stream* pStream)
{
	CBinaryReader Reader(pStream);
	int32_t iPed = INVALID_NETWORK_ID;
	int32_t iKiller = INVALID_NETWORK_ID;
	uint8_t rgucReasons[2];
	if (!Reader.ReadInt32(&iPed) || !Reader.ReadInt32(&iKiller) || !Reader.ReadUInt8(rgucReasons, 2))
		return;
	CServerPed* pPed = PedFromSyncer(pManager, iPed, pClient);
	if (!pPed)
		return;
	CArguments Arguments;
	Arguments.AddObject(pPed);
	Arguments.AddObject(pManager->FromId(iKiller, 0));
	Arguments.AddNumber(rgucReasons[0]);
	Arguments.AddNumber(rgucReasons[1]);
	Arguments.AddObject(pClient);
	RaiseEvent(pManager, GAME_EVENT_PED_WASTED, Arguments);
}

void ProcessVehicleFlag(CGTAServerManager* pManager, CGTAClient* pClient, unsigned uiId, Stream* pStream)
{
	CBinaryReader Reader(pStream);
	int32_t iVehicle = INVALID_NETWORK_ID;
	uint8_t ucValue = 0;
	if (!Reader.ReadInt32(&iVehicle) || !Reader.ReadUInt8(&ucValue))
		return;
	CServerVehicle* pVehicle =
		static_cast<CServerVehicle*>(FromSyncer(pManager, iVehicle, ELEMENT_VEHICLE, pClient));
	if (!pVehicle)
		return;
	if (uiId == GAME_MESSAGE_VEHICLE_ENGINE)
		pVehicle->SetEngine(ucValue != 0);
	else
		pVehicle->SetSiren(ucValue != 0);
}

void ProcessPedAction(CGTAServerManager* pManager, CGTAClient* pClient, const tPedAction& Action, Stream* pStream)
{
	CBinaryReader Reader(pStream);
	int32_t iPed = INVALID_NETWORK_ID;
	uint8_t rgucExtra[MAX_PED_ACTION_EXTRA];
	if (!Reader.ReadInt32(&iPed) || !Reader.Read(rgucExtra, Action.m_ExtraSize))
		return;
	Strong<CServerPed> pPed(PedFromSyncer(pManager, iPed, pClient));
	if (pPed.IsNull())
		return;
	if (Action.m_eEvent != GAME_EVENT_COUNT)
	{
		CArguments Arguments;
		Arguments.AddObject(pPed);
		// A fall also tells two numbers and a signed byte.
		if (Action.m_eEvent == GAME_EVENT_PED_FALL)
		{
			Arguments.AddNumber(ReadLittleEndian32(rgucExtra));
			Arguments.AddNumber(ReadLittleEndian32(rgucExtra + 4));
			Arguments.AddNumber(static_cast<int8_t>(rgucExtra[8]));
		}
		RaiseEvent(pManager, Action.m_eEvent, Arguments);
		if (Elements::IsGone(pPed))
			return;
	}
	Packet Relay(Action.m_uiId);
	CBinaryWriter Writer(&Relay);
	Writer.WriteInt32(iPed);
	Writer.Write(rgucExtra, Action.m_ExtraSize);
	SendToOthers(pManager, Relay, pClient);
}

// Kind 1 carries a duration, kind 2 two points and a duration; only a duration above 0 and at most 2 seconds is
// passed on.
void ProcessPedMove(CGTAServerManager* pManager, CGTAClient* pClient, Stream* pStream)
{
	constexpr float MAX_DURATION = 2.0f;
	CBinaryReader Reader(pStream);
	uint8_t ucKind = 0;
	int32_t iPed = INVALID_NETWORK_ID;
	if (!Reader.ReadUInt8(&ucKind) || !Reader.ReadInt32(&iPed))
		return;
	if (ucKind != PED_MOVE_TIMED && ucKind != PED_MOVE_BETWEEN)
		return;
	float rgfPoints[6];
	float fDuration = 0.0f;
	if ((ucKind == PED_MOVE_BETWEEN && !Reader.ReadSingle(rgfPoints, 6)) || !Reader.ReadSingle(&fDuration))
		return;
	// Written so that a NaN fails too.
	if (!(fDuration > 0.0f && fDuration <= MAX_DURATION))
		return;
	if (!PedFromSyncer(pManager, iPed, pClient))
		return;
	Packet Relay(GAME_MESSAGE_PED_ACTION_147);
	CBinaryWriter Writer(&Relay);
	Writer.WriteUInt8(ucKind);
	Writer.WriteInt32(iPed);
	if (ucKind == PED_MOVE_BETWEEN)
		Writer.WriteSingle(rgfPoints, 6);
	Writer.WriteSingle(fDuration);
	SendToOthers(pManager, Relay, pClient);
}

void ProcessPickupCollected(CGTAServerManager* pManager, CGTAClient* pClient, Stream* pStream)
{
	CBinaryReader Reader(pStream);
	int32_t iPickup = INVALID_NETWORK_ID;
	int32_t iPed = INVALID_NETWORK_ID;
	if (!Reader.ReadInt32(&iPickup) || !Reader.ReadInt32(&iPed))
		return;
	CNetObject* pPickup = FromSyncer(pManager, iPickup, ELEMENT_PICKUP, pClient);
	CNetObject* pPed = pManager->FromId(iPed, ELEMENT_PED);
	if (!pPickup || !pPed)
		return;
	CArguments Arguments;
	Arguments.AddObject(pPickup);
	Arguments.AddObject(pPed);
	RaiseEvent(pManager, GAME_EVENT_PICKUP_COLLECTED, Arguments);
}

// Messages 133 and 143: bytes of the game's own network session, passed on to one other client as they came, with
// the sender's index in place of the target's. The rest must hold at least the count of bytes it announces.
void ProcessRelay(CGTAServerManager* pManager, CGTAClient* pClient, unsigned uiId, Stream* pStream)
{
	if (!pManager->GetSettings().m_bIVNativeMultiplayer)
		return;
	CBinaryReader Reader(pStream);
	uint16_t usTag = 0;
	uint16_t usTarget = 0;
	uint16_t usCount = 0;
	if ((uiId == GAME_MESSAGE_IV_RELAY_TAGGED && !Reader.ReadUInt16(&usTag)) || !Reader.ReadUInt16(&usTarget) ||
		!Reader.ReadUInt16(&usCount))
		return;
	const size_t Rest = KGetRemainingBytes(pStream);
	if (usCount == 0 || Rest < usCount || Rest > GAME_RELAY_MAX_REST)
		return;
	uint8_t rgucRest[GAME_RELAY_MAX_REST];
	if (!Reader.Read(rgucRest, Rest))
		return;
	CGTAClient* pTarget = ClientAt(pManager, usTarget);
	if (!pTarget)
		return;
	Packet Relay(uiId);
	CBinaryWriter Writer(&Relay);
	if (uiId == GAME_MESSAGE_IV_RELAY_TAGGED)
		Writer.WriteUInt16(usTag);
	Writer.WriteUInt16(static_cast<uint16_t>(pClient->GetIndex()));
	Writer.WriteUInt16(usCount);
	Writer.Write(rgucRest, Rest);
	pTarget->SendPacket(&Relay, PACKET_PRIORITY_LOW, PACKET_FLAG_NONE, GAME_RELAY_CHANNEL);
}

void ProcessSessionState(CGTAClient* pClient, Stream* pStream)
{
	CBinaryReader Reader(pStream);
	uint8_t ucFlag = 0;
	int8_t cEpisode = 0;
	int8_t cGameMode = 0;
	if (!Reader.ReadUInt8(&ucFlag) || !Reader.ReadInt8(&cEpisode) || !Reader.ReadInt8(&cGameMode))
		return;
	pClient->m_iEpisode = cEpisode;
	pClient->m_iSessionGameMode = cGameMode;
}

// The client tells its episode; the server's forced episode wins. With a forced game mode and the game's own
// sessions the client is sent into a quick match, otherwise it plays without one.
void ProcessEpisode(CGTAServerManager* pManager, CGTAClient* pClient, Stream* pStream)
{
	int8_t cEpisode = 0;
	if (!CBinaryReader(pStream).ReadInt8(&cEpisode))
		return;
	const tGameSettings& Settings = pManager->GetSettings();
	const int32_t iEpisode = Settings.m_iIVEpisode != -1 ? Settings.m_iIVEpisode : cEpisode;
	pClient->m_iEpisode = iEpisode;
	if (Settings.m_iIVGameMode != -1 && Settings.m_bIVNativeMultiplayer)
		pClient->QuickMatch(Settings.m_iIVGameMode, iEpisode);
	else
		pClient->HostVexa();
}

void ProcessSetSessionInfo(CGTAServerManager* pManager, CGTAClient* pClient, Stream* pStream)
{
	if (!pManager->GetSettings().m_bIVNativeMultiplayer)
		return;
	CBinaryReader Reader(pStream);
	uint8_t ucFlags = 0;
	if (!Reader.ReadUInt8(&ucFlags))
		return;
	if ((ucFlags & 1) == 0)
	{
		pClient->ClearSessionInfo();
		return;
	}
	uint8_t ucLength = 0;
	uint8_t rgucInfo[CGTAClient::MAX_SESSION_INFO_LENGTH];
	if (!Reader.ReadUInt8(&ucLength) || !Reader.Read(rgucInfo, ucLength))
		return;
	pClient->SetSessionInfo(rgucInfo, ucLength);
}

void ProcessGetSessionInfo(CGTAServerManager* pManager, CGTAClient* pClient, Stream* pStream)
{
	if (!pManager->GetSettings().m_bIVNativeMultiplayer)
		return;
	uint16_t usIndex = 0;
	if (!CBinaryReader(pStream).ReadUInt16(&usIndex))
		return;
	CGTAClient* pOther = ClientAt(pManager, usIndex);
	if (!pOther)
		return;
	Packet Reply(GAME_MESSAGE_IV_SESSION_INFO);
	CBinaryWriter(&Reply).WriteUInt16(usIndex);
	pOther->WriteSessionInfo(&Reply);
	pClient->SendPacket(&Reply, PACKET_PRIORITY_LOW, PACKET_FLAG_RELIABLE, REPLY_CHANNEL);
}

void ProcessCameraInterior(CGTAClient* pClient, Stream* pStream)
{
	uint8_t ucInterior = 0;
	if (CBinaryReader(pStream).ReadUInt8(&ucInterior))
		pClient->SetCameraInterior(ucInterior);
}
}

void GameMessages::Process(CGTAServerManager* pManager, CGTAClient* pClient, unsigned uiId, Stream* pStream)
{
	if (!pManager)
		return;
	// Handlers raise events whose scripts may let the client go; it stays valid for the whole message.
	Strong<CGTAClient> pHeld(pClient);
	if (const tPedAction* pAction = FindPedAction(uiId))
	{
		ProcessPedAction(pManager, pClient, *pAction, pStream);
		return;
	}
	switch (uiId)
	{
	case GAME_MESSAGE_PED_VEHICLE_ACTION:
		ProcessPedVehicleAction(pManager, pClient, pStream);
		break;
	case GAME_MESSAGE_PED_WASTED:
		ProcessPedWasted(pManager, pClient, pStream);
		break;
	case GAME_MESSAGE_VEHICLE_ENGINE:
	case GAME_MESSAGE_VEHICLE_SIREN:
		ProcessVehicleFlag(pManager, pClient, uiId, pStream);
		break;
	case GAME_MESSAGE_PED_ACTION_147:
		ProcessPedMove(pManager, pClient, pStream);
		break;
	case GAME_MESSAGE_PICKUP_COLLECTED:
		ProcessPickupCollected(pManager, pClient, pStream);
		break;
	case GAME_MESSAGE_IV_RELAY:
	case GAME_MESSAGE_IV_RELAY_TAGGED:
		ProcessRelay(pManager, pClient, uiId, pStream);
		break;
	case GAME_MESSAGE_IV_SESSION_STATE:
		ProcessSessionState(pClient, pStream);
		break;
	case GAME_MESSAGE_IV_EPISODE:
		ProcessEpisode(pManager, pClient, pStream);
		break;
	case GAME_MESSAGE_IV_SET_SESSION_INFO:
		ProcessSetSessionInfo(pManager, pClient, pStream);
		break;
	case GAME_MESSAGE_IV_GET_SESSION_INFO:
		ProcessGetSessionInfo(pManager, pClient, pStream);
		break;
	case GAME_MESSAGE_CAMERA_INTERIOR:
		ProcessCameraInterior(pClient, pStream);
		break;
	default:
		break;
	}
}
