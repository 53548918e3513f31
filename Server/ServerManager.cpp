#include "ServerManager.h"

#include "BaseServer.h"

#include "Engine/KestrinNative.h"
#include "Engine/Reflection.h"
#include "Multiplayer/NetObjectFunctions.h"
#include "Network/BinaryStream.h"
#include "Scripting/ResourceMgr.h"

namespace
{
constexpr uint8_t NETWORK_EVENT_CHANNEL = 5;
// The arguments after the name and the client travel as one array, whose count is a single byte.
constexpr size_t MAX_NETWORK_EVENT_ARGUMENTS = 255;

// "sx*": the name, the client (null for every client), then the event's arguments. Nothing is sent unless every
// argument can cross the wire.
bool NativeTriggerNetworkEvent(CNativeState* pState, int argc, void* pUserData)
{
	CServerManager* pManager = static_cast<CServerManager*>(pUserData);
	size_t Length = 0;
	const char* szName = pState->CheckString(0, &Length);
	if (!szName)
		return false;
	CNetMachine* pClient = nullptr;
	if (!NetObjectFunctions::CheckClient(pState, pManager, 1, true, &pClient))
		return false;
	const size_t Count = argc > 2 ? static_cast<size_t>(argc) - 2 : 0;
	if (Count > MAX_NETWORK_EVENT_ARGUMENTS)
		return pState->Error("A network event takes at most %d arguments", static_cast<int>(MAX_NETWORK_EVENT_ARGUMENTS));
	CArguments Arguments(Count);
	for (size_t i = 0; i < Count; i++)
	{
		const CArgument* pValue = pState->GetArgument(i + 2);
		if (!CNetObjectMgr::IsEncodable(pValue))
			return pState->Error("Argument %d (%s) cannot be sent to clients", static_cast<int>(i + 3),
				pValue ? pValue->GetTypeName() : "none");
		Arguments.Add(pValue);
	}
	Packet Message(SERVER_MESSAGE_NETWORK_EVENT);
	CBinaryWriter Writer(&Message);
	if (!Writer.WriteString(szName, Length) || !Arguments.Write(&Message))
		return pState->Error("The network event %s could not be written", szName);
	if (pClient)
		pClient->SendPacket(&Message, PACKET_PRIORITY_LOW, PACKET_FLAG_RELIABLE, NETWORK_EVENT_CHANNEL);
	else if (CNetSystem* pTransport = pManager->GetServerTransport())
		pTransport->SendEveryonePacket(&Message, PACKET_PRIORITY_LOW, PACKET_FLAG_RELIABLE, NETWORK_EVENT_CHANNEL);
	return true;
}
}

CServerManager::CServerManager(CBaseServer* pServer, CResourceMgr* pResourceMgr) :
	CNetObjectMgr(pResourceMgr, true),
	m_pBaseServer(pServer)
{
	SetServerSink(pServer);
	SetNetMachines(&pServer->GetClients());
	if (CScripting* pScripting = pResourceMgr ? pResourceMgr->GetScripting() : nullptr)
		pScripting->GetGlobal()->RegisterFunction("triggerNetworkEvent", "sx*", NativeTriggerNetworkEvent, this);
}

CServerManager::~CServerManager() = default;
