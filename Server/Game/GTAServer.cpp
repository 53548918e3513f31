#include "GTAServer.h"

#include <cstring>

#include "GTAClient.h"
#include "GTAServerManager.h"
#include "GameFunctions.h"
#include "GameMessages.h"
#include "GameProtocol.h"
#include "ServerConfiguration.h"
#include "World.h"

#include "Engine/ElementChunk.h"
#include "Engine/FileSystem.h"
#include "Engine/KestrinStream.h"
#include "JSScripting/CJSScripting.h"
#include "LuaScripting/CLuaScripting.h"
#include "Scripting/ResourceMgr.h"
#include "SquirrelScripting/SqScripting.h"

namespace
{
const char* GetDefineHeaderPath(int32_t iGameId)
{
	switch (iGameId)
	{
	case GAME_GTA_III:
		return "/ZADIdodavoza/GTAIIIEnums.h";
	case GAME_GTA_VC:
		return "/ZADIdodavoza/GTAVCEnums.h";
	case GAME_GTA_SA:
		return "/ZADIdodavoza/GTASAEnums.h";
	case GAME_GTA_IV:
	case GAME_GTA_IV_EFLC:
		return "/ZADIdodavoza/GTAIVEnums.h";
	default:
		return nullptr;
	}
}

const char* GetVehicleColoursPath(int32_t iGameId)
{
	switch (iGameId)
	{
	case GAME_GTA_III:
		return "/vehiclecolours.conf";
	case GAME_GTA_VC:
		return "/vehiclecolours_vc.conf";
	case GAME_GTA_SA:
		return "/vehiclecolours_sa.conf";
	case GAME_GTA_IV:
	case GAME_GTA_IV_EFLC:
		return "/vehiclecolours_iv.conf";
	default:
		return nullptr;
	}
}

// The script languages the server offers, registered after the server's own script functions and before the
// game's. Each language logs why it could not be made; the server goes on with the others.
void RegisterScriptLanguages(CScripting* pScripting)
{
	RegisterLuaVM(pScripting);
	RegisterJSVM(pScripting);
	RegisterSqVM(pScripting);
}
}

CGTAServer::CGTAServer(Context* pContext)
	: CBaseServer(pContext), m_Peer2Peer(this)
{
	RegisterScriptLanguages(m_ResourceMgr.GetScripting());
	m_GamesList.SetGameName(GAME_GTA_III, "gta:iii");
	m_GamesList.SetGameName(GAME_GTA_VC, "gta:vc");
	m_GamesList.SetGameName(GAME_GTA_SA, "gta:sa");
	m_GamesList.SetGameName(GAME_GTA_IV, "gta:iv");
	m_GamesList.SetGameName(GAME_GTA_IV_EFLC, "gta:iv_eflc");
	m_GamesList.SetGameName(GAME_BULLY, "bully");
	CGTAServerManager* pManager = new CGTAServerManager(this, &m_ResourceMgr, m_Settings, m_VehicleColours);
	SetManager(pManager);
	RegisterGameFunctions(pManager);

	m_uiNetVersion = NETWORK_VERSION;
	SetRule("Version", "1.5.10");
}

CGTAServer::~CGTAServer()
{
	// Scripts that stop now and elements that go now may still reach the game server's part.
	ReleaseElementsAndClients();
	m_AnticheatFiles.clear();
	m_VehicleColours.Clear();
}

CGTAServerManager* CGTAServer::GetGTAManager() const
{
	return static_cast<CGTAServerManager*>(GetManager());
}

CWorld* CGTAServer::GetWorld() const
{
	CGTAServerManager* pManager = GetGTAManager();
	return pManager ? pManager->GetWorld() : nullptr;
}

void CGTAServer::ParseAnticheat(const CServerConfiguration& Config)
{
	CServerConfiguration::ForEachChild(Config.FindElement("anticheat"), "file", [this](const CElementChunk* pFile) {
		const char* szPath = nullptr;
		const char* szSource = nullptr;
		if (CServerConfiguration::GetAttributePair(m_pContext, pFile, "Anticheat file", "path", "src", szPath,
				szSource))
			AddFileToAnticheat(szPath, szSource);
	});
}

void CGTAServer::LoadDefineHeader()
{
	const char* szPath = GetDefineHeaderPath(m_iGameId);
	if (!szPath)
		return;
	Strong<Stream> pStream = Strong<Stream>::New(m_pContext->GetFileSystem()->Open(szPath, false));
	if (pStream.IsNull())
		return;
	GetDefineHandlers().Process(pStream, strrchr(szPath, '/') + 1);
}

bool CGTAServer::LoadVehicleColours()
{
	const char* szPath = GetVehicleColoursPath(m_iGameId);
	Strong<Stream> pStream;
	if (szPath)
		pStream = Strong<Stream>::New(m_pContext->GetFileSystem()->Open(szPath, false));
	if (pStream.IsNull())
	{
		m_pContext->LogError("Failed to load vehicle colours!");
		return false;
	}
	m_VehicleColours.Load(pStream);
	return true;
}

bool CGTAServer::ParseConfig(const CServerConfiguration& Config)
{
	if (!CBaseServer::ParseConfig(Config))
		return false;

	m_Settings.m_bSyncLocalEntities = Config.GetBoolValue("synclocalentities", false);
	ParseAnticheat(Config);
	LoadDefineHeader();
	m_Settings.m_fPickupStreamInDistance = Config.GetFloatValue("pickupstreamindistance", 50.0f);
	m_Settings.m_fPickupStreamOutDistance = Config.GetFloatValue("pickupstreamoutdistance", 100.0f);
	m_Settings.m_bTimeSync = Config.GetBoolValue("timesync", true);
	m_Settings.m_bWeatherSync = Config.GetBoolValue("weathersync", true);
	m_Settings.m_bIVNativeMultiplayer = IsGTAIV() ? Config.GetBoolValue("iv_nativemultiplayer", true) : false;
	m_Settings.m_iIVGameMode = Config.GetInt32Value("iv_gamemode", 8);
	m_Settings.m_iIVEpisode = Config.GetInt32Value("iv_episode", -1);
	if (!LoadVehicleColours())
		return false;
	if (CWorld* pWorld = GetWorld())
		pWorld->SetMinuteDuration(Config.GetFloatValue("minuteduration", IsGTAIV() ? 2.0f : 1.0f), false);
	return true;
}

void CGTAServer::OnProcess(const FrameTimeInfo* pFrameInfo)
{
	if (CWorld* pWorld = GetWorld())
		pWorld->Process(pFrameInfo->m_dDelta);
	if (CGTAServerManager* pManager = GetGTAManager())
		pManager->FindPickupSyncers();
	CBaseServer::OnProcess(pFrameInfo);
}

CNetMachine* CGTAServer::NewMachine(CServerManager* pManager)
{
	return new CGTAClient(pManager);
}

void CGTAServer::ManageElements(CNetMachine* pClient)
{
	if (!pClient->IsJoined())
		return;
	if (CServerManager* pManager = GetManager())
		pManager->CreateObjectsAsNeeded(pClient, ELEMENT_VEHICLE);
	CBaseServer::ManageElements(pClient);
}

void CGTAServer::OnPlayerJoined(CNetMachine* pClient)
{
	if (CWorld* pWorld = GetWorld())
		pWorld->SyncClient(pClient);
}

void CGTAServer::ProcessPacket(const tPeerInfo& Peer, unsigned uiId, Stream* pStream)
{
	Strong<Stream> pHeld(pStream);
	Strong<CNetMachine> pClient(GetClients().GetMachineFromPeer(Peer.m_pPeer));
	if (pClient.IsNull())
	{
		if (uiId == SERVER_MESSAGE_JOIN_REQUEST)
			CBaseServer::ProcessPacket(Peer, uiId, pStream);
		return;
	}
	if (uiId == SERVER_MESSAGE_JOIN_REQUEST)
		return;
	// Every record this server makes is a game client record.
	CGTAClient* pGameClient = static_cast<CGTAClient*>(pClient.GetPointer());
	if (!pGameClient->IsVerified())
	{
		if (uiId == GAME_MESSAGE_FILE_CHECK)
			ProcessFileCheck(pGameClient, Peer.m_pPeer, pStream);
		return;
	}
	if (uiId == GAME_MESSAGE_FILE_CHECK)
		return;
	if (m_Settings.m_bSyncLocalEntities &&
		(uiId == GAME_MESSAGE_CREATE_LOCAL_VEHICLE || uiId == GAME_MESSAGE_CREATE_LOCAL_PED))
		m_Peer2Peer.ProcessPacket(pGameClient, uiId, pStream);
	else if (uiId >= GAME_MESSAGE_FIRST && uiId <= GAME_MESSAGE_LAST)
		GameMessages::Process(GetGTAManager(), pGameClient, uiId, pStream);
	else
		CBaseServer::ProcessPacket(Peer, uiId, pStream);
}
