// What a joined client says to the server's scripts: chat lines, commands, network events and key presses; and the
// chat lines the server sends. Everything runs on the main thread inside the network step of a pass.

#include "BaseServer.h"

#include <string>

#include "ServerManager.h"

#include "Engine/KestrinArguments.h"
#include "Engine/KestrinString.h"
#include "Network/BinaryStream.h"
#include "Network/ENetSystem.h"
#include "Scripting/EventHandlers.h"
#include "Scripting/KeyBinds.h"

namespace
{
constexpr uint8_t CHAT_CHANNEL = 3;
// The colour value of a line a player said: the chat type CHAT_TYPE_CHAT.
constexpr uint32_t CHAT_TYPE_CHAT = 1;
// The longest chat line, command name or command parameters a client may send.
constexpr uint32_t MAX_CLIENT_TEXT_LENGTH = 4096;

// A uint32 length from MinLength to MAX_CLIENT_TEXT_LENGTH that the message actually holds, then the bytes. False,
// with nothing taken for it, for a length out of range or beyond the end of the message.
bool ReadBoundedText(CBinaryReader& Reader, uint32_t uiMinLength, std::string& Text)
{
	uint32_t uiLength = 0;
	if (!Reader.ReadUInt32(&uiLength) || uiLength < uiMinLength || uiLength > MAX_CLIENT_TEXT_LENGTH ||
		uiLength > KGetRemainingBytes(Reader.GetStream()))
		return false;
	Text.assign(uiLength, '\0');
	return uiLength == 0 || Reader.Read(&Text[0], uiLength);
}

// Message 6 as the server sends it.
void WriteChatLine(Packet& Message, const char* szText, size_t Length, uint32_t uiColour)
{
	CBinaryWriter Writer(&Message);
	Writer.WriteUInt32(static_cast<uint32_t>(Length));
	Writer.WriteUInt32(uiColour);
	Writer.Write(szText, Length);
}

// The text up to its first zero byte, made safe for the console and the log.
std::string ForLog(const char* szText, size_t Length)
{
	return StringManager::EscapeControlCharacters(szText, strnlen(szText, Length));
}
}

void CBaseServer::SendChat(CNetMachine* pClient, const char* szText, size_t Length, uint32_t uiColour)
{
	Packet Message(SERVER_MESSAGE_CHAT);
	WriteChatLine(Message, szText, Length, uiColour);
	if (pClient)
		pClient->SendPacket(&Message, PACKET_PRIORITY_LOW, PACKET_FLAG_RELIABLE, CHAT_CHANNEL);
	else
		GetNetSystem()->SendEveryonePacket(&Message, PACKET_PRIORITY_LOW, PACKET_FLAG_RELIABLE, CHAT_CHANNEL);
}

void CBaseServer::SendChatExcept(CNetMachine* pClient, const char* szText, size_t Length, uint32_t uiColour)
{
	if (!m_pManager)
		return;
	Packet Message(SERVER_MESSAGE_CHAT);
	WriteChatLine(Message, szText, Length, uiColour);
	m_pManager->SendPacketExcluding(&Message, pClient, CHAT_CHANNEL);
}

void CBaseServer::UserChat(CNetMachine* pClient, const char* szText, size_t Length)
{
	if (!pClient || !szText)
		return;
	// Handlers may release the client (a script can disconnect it); it stays valid for the whole line.
	Strong<CNetMachine> pHeld(pClient);
	if (m_pOnPlayerChat)
	{
		CArguments Arguments;
		Arguments.AddObject(pClient);
		Arguments.AddString(szText, Length);
		bool bPrevented = false;
		m_pOnPlayerChat->Trigger(Arguments, bPrevented);
		if (bPrevented)
			return;
	}
	std::string Line = pClient->GetName();
	Line += ": ";
	Line.append(szText, strnlen(szText, Length));
	m_pContext->Log("%s", ForLog(Line.c_str(), Line.size()).c_str());
	SendChat(nullptr, Line.c_str(), Line.size(), CHAT_TYPE_CHAT);
}

void CBaseServer::ProcessChat(CNetMachine* pClient, Stream* pStream)
{
	CBinaryReader Reader(pStream);
	std::string Text;
	if (!ReadBoundedText(Reader, 1, Text) || Text[0] == '\0')
		return;
	UserChat(pClient, Text.c_str(), Text.size());
}

void CBaseServer::ProcessCommand(CNetMachine* pClient, Stream* pStream)
{
	CBinaryReader Reader(pStream);
	std::string Name;
	std::string Parameters;
	if (!ReadBoundedText(Reader, 1, Name) || !ReadBoundedText(Reader, 0, Parameters))
		return;
	if (m_pOnPlayerCommand)
	{
		CArguments Arguments;
		Arguments.AddObject(pClient);
		Arguments.AddString(Name.c_str(), Name.size());
		Arguments.AddString(Parameters.c_str(), Parameters.size());
		bool bPrevented = false;
		m_pOnPlayerCommand->Trigger(Arguments, bPrevented);
		if (bPrevented)
			return;
	}
	GetCommands().Trigger(Name.c_str(), Parameters.c_str(), pClient, pClient->IsAdministrator());
}

void CBaseServer::ProcessNetworkEvent(CNetMachine* pClient, Stream* pStream)
{
	CBinaryReader Reader(pStream);
	size_t Length = 0;
	char* szName = Reader.ReadString(&Length);
	if (!szName)
		return;
	CArguments Arguments;
	// Element values name elements by their network ids; the manager turns them back into elements.
	Arguments.SetResolver(m_pManager);
	// The name is made safe for the log only when a warning needs it, not for every event that is handled.
	if (!Arguments.Read(pStream))
		m_pContext->LogWarn("Failed to read network arguments for network event %s.", ForLog(szName, Length).c_str());
	else if (!m_ResourceMgr.GetNetworkHandlers()->Trigger(szName, pClient, Arguments))
		m_pContext->LogWarn("Network event %s not bound serverside", ForLog(szName, Length).c_str());
	free(szName);
}

void CBaseServer::ProcessKey(CNetMachine* pClient, Stream* pStream)
{
	CBinaryReader Reader(pStream);
	uint8_t ucFlags = 0;
	uint32_t uiScanCode = 0;
	uint32_t uiKeyCode = 0;
	uint16_t usModifiers = 0;
	int32_t iRepeat = 0;
	if (!Reader.ReadUInt8(&ucFlags) || !Reader.ReadUInt32(&uiScanCode) || !Reader.ReadUInt32(&uiKeyCode) ||
		!Reader.ReadUInt16(&usModifiers) || !Reader.ReadInt32(&iRepeat))
		return;
	SDL_Keysym Key{};
	Key.scancode = static_cast<SDL_Scancode>(uiScanCode);
	Key.sym = static_cast<SDL_Keycode>(uiKeyCode);
	Key.mod = usModifiers;
	m_ResourceMgr.GetKeyBinds()->Trigger(pClient, Key, iRepeat, (ucFlags & 1) != 0);
}
