// The script functions that act on one client: spawning its player, fading its camera, its camera interior and
// the GTA IV session functions. Each native gets the game's element manager as its user data.

#include "GTAClient.h"

#include "GTAServerManager.h"

#include "Engine/KestrinNative.h"
#include "Engine/Reflection.h"
#include "Scripting/MemberNatives.h"
#include "Scripting/ResourceMgr.h"

namespace
{
constexpr float DEFAULT_FADE_DURATION = 1.0f;

constexpr auto GetManager = &MemberNatives::FromUserData<CGTAServerManager>;

bool CheckClient(CNativeState* pState, CGTAServerManager* pManager, size_t Index, CGTAClient** ppClient)
{
	return MemberNatives::CheckAs(pState, pManager->GetClientClass(), Index, false, ppClient);
}

CGTAClient* GetThisClient(CNativeState* pState, void* pUserData)
{
	return MemberNatives::GetThisAs<CGTAClient>(pState, GetManager(pUserData)->GetClientClass());
}

bool NativeSpawnPlayer(CNativeState* pState, int argc, void* pUserData)
{
	CGTAClient* pClient = nullptr;
	CVector3D vecPosition;
	if (!CheckClient(pState, GetManager(pUserData), 0, &pClient) || !pState->CheckVector3D(1, vecPosition))
		return false;
	float fHeading = 0.0f;
	int32_t iSkin = 0;
	uint8_t ucInterior = 0;
	int32_t iDimension = 0;
	if ((argc > 2 && !pState->CheckNumber(2, fHeading)) || (argc > 3 && !pState->CheckNumber(3, iSkin)) ||
		(argc > 4 && !pState->CheckNumber(4, ucInterior)) || (argc > 5 && !pState->CheckNumber(5, iDimension)))
		return false;
	// A record kept after its client left would be made the syncer of a player nobody plays.
	if (!pClient->IsConnected())
		return pState->Error("Client is not connected");
	if (!pClient->SpawnPlayer(vecPosition, fHeading, iSkin, ucInterior, iDimension))
		return pState->Error("Failed to spawn player");
	return true;
}

bool NativeFadeCamera(CNativeState* pState, int argc, void* pUserData)
{
	CGTAClient* pClient = nullptr;
	bool bFadeIn = false;
	if (!CheckClient(pState, GetManager(pUserData), 0, &pClient) || !pState->CheckBoolean(1, bFadeIn))
		return false;
	float fDuration = DEFAULT_FADE_DURATION;
	uint32_t uiColour = 0;
	if ((argc > 2 && !pState->CheckNumber(2, fDuration)) || (argc > 3 && !pState->CheckNumber(3, uiColour)))
		return false;
	pClient->FadeCamera(bFadeIn, fDuration, uiColour);
	return true;
}

bool NativeGetCameraInterior(CNativeState* pState, int, void* pUserData)
{
	CGTAClient* pClient = GetThisClient(pState, pUserData);
	if (!pClient)
		return false;
	pState->ReturnNumber(static_cast<int32_t>(pClient->GetCameraInterior()));
	return true;
}

bool NativeSetCameraInterior(CNativeState* pState, int, void* pUserData)
{
	CGTAClient* pClient = GetThisClient(pState, pUserData);
	uint8_t ucInterior = 0;
	if (!pClient || !pState->CheckNumber(0, ucInterior))
		return false;
	pClient->ChangeCameraInterior(ucInterior);
	return true;
}

// quickMatch and hostSession: a client, a game mode and an episode.
template <void (CGTAClient::*pfnArrange)(int32_t, int32_t)>
bool NativeArrangeSession(CNativeState* pState, int, void* pUserData)
{
	CGTAServerManager* pManager = GetManager(pUserData);
	if (!pManager->IsGTAIV())
		return pState->Error("GTA IV specific function.");
	CGTAClient* pClient = nullptr;
	int32_t iGameMode = 0;
	int32_t iEpisode = 0;
	if (!CheckClient(pState, pManager, 0, &pClient) || !pState->CheckNumber(1, iGameMode) ||
		!pState->CheckNumber(2, iEpisode))
		return false;
	(pClient->*pfnArrange)(iGameMode, iEpisode);
	return true;
}

bool NativeJoinSession(CNativeState* pState, int, void* pUserData)
{
	CGTAServerManager* pManager = GetManager(pUserData);
	if (!pManager->IsGTAIV())
		return pState->Error("GTA IV specific function.");
	CGTAClient* pClient = nullptr;
	CGTAClient* pHost = nullptr;
	if (!CheckClient(pState, pManager, 0, &pClient) || !CheckClient(pState, pManager, 1, &pHost))
		return false;
	pClient->JoinSession(pHost);
	return true;
}
}

namespace GTAClientFunctions
{
void RegisterCameraAndSpawn(CGTAServerManager* pManager, ReflectedNamespace* pGame)
{
	CResourceMgr* pResourceMgr = pManager->GetResourceMgr();
	ReflectedNamespace* pGlobal = pResourceMgr && pResourceMgr->GetScripting() ? pResourceMgr->GetScripting()->GetGlobal() : nullptr;
	if (!pGlobal || !pGame)
		return;
	pGlobal->RegisterFunction("fadeCamera", "xb|fi", NativeFadeCamera, pManager, true);
	pGame->RegisterFunction("fadeCamera", "xb|fi", NativeFadeCamera, pManager);
	pGlobal->RegisterFunction("spawnPlayer", "xv|fiii", NativeSpawnPlayer, pManager);
}

void RegisterSessions(CGTAServerManager* pManager, ReflectedNamespace* pGame)
{
	if (!pGame)
		return;
	pGame->RegisterFunction("quickMatch", "xii", NativeArrangeSession<&CGTAClient::QuickMatch>, pManager);
	pGame->RegisterFunction("hostSession", "xii", NativeArrangeSession<&CGTAClient::HostSession>, pManager);
	pGame->RegisterFunction("joinSession", "xx", NativeJoinSession, pManager);
}

void RegisterClientMembers(CGTAServerManager* pManager)
{
	if (ReflectedClass* pClient = pManager->GetClientClass())
		pClient->AddProperty(pManager, "cameraInterior", ARGUMENT_INTEGER, NativeGetCameraInterior, NativeSetCameraInterior);
}
}
