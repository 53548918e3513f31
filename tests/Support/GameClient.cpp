#include "Support/GameClient.h"

#include <chrono>

namespace VexaTest
{
namespace
{
// Channels a game client uses for what it sends.
constexpr uint8_t JOIN_CHANNEL = 0;
constexpr uint8_t SYNC_CHANNEL = 1;

constexpr size_t ELEMENT_ENTRY_HEADER_SIZE = 8;
}

CTestMessage tJoinRequest::Build() const
{
	CTestMessage Body;
	Body.U32(m_uiNetworkVersion);
	for (uint32_t uiPart : m_Version)
		Body.U32(uiPart);
	Body.String(m_Password);
	Body.U16(static_cast<uint16_t>(m_iNameLength >= 0 ? m_iNameLength : static_cast<int>(m_Name.size())));
	Body.Bytes(m_Name.data(), m_Name.size());
	Body.U8(m_ucGame);
	Body.U8(m_ucGameVersion);

	std::vector<uint8_t> Bytes = Body.GetBytes();
	if (m_iCutAfter >= 0 && static_cast<size_t>(m_iCutAfter) < Bytes.size())
		Bytes.resize(static_cast<size_t>(m_iCutAfter));
	CTestMessage Message(MSG_JOIN_REQUEST);
	Message.Bytes(Bytes);
	return Message;
}

bool ReadJoinInfo(const tReceivedMessage& Message, tJoinInfo& Info)
{
	CTestMessageReader Reader(Message.m_Body);
	return Reader.I32(Info.m_iIndex) && Reader.U16(Info.m_usHttpPort) && Reader.String(Info.m_HttpUrl) &&
		Reader.U16(Info.m_usSyncInterval) && Reader.U8(Info.m_ucReserved) && Reader.U8(Info.m_ucSyncMethod) &&
		Reader.IsAtEnd();
}

bool ReadClientBlock(CTestMessageReader& Reader, tClientBlock& Block)
{
	return Reader.U8(Block.m_ucFlags) && Reader.U8(Block.m_ucGame) && Reader.U8(Block.m_ucGameVersion) &&
		Reader.I32(Block.m_iPlayer) && Reader.String(Block.m_Name) && Reader.U16(Block.m_usDataCount) &&
		Block.m_usDataCount == 0;
}

bool ReadClientList(const tReceivedMessage& Message, uint16_t& usMaxPlayers, std::map<uint32_t, tClientBlock>& Clients)
{
	CTestMessageReader Reader(Message.m_Body);
	uint16_t usCount = 0;
	if (!Reader.U16(usCount) || !Reader.U16(usMaxPlayers))
		return false;
	Clients.clear();
	for (uint16_t i = 0; i < usCount; i++)
	{
		uint32_t uiIndex = 0;
		tClientBlock Block;
		if (!Reader.U32(uiIndex) || !ReadClientBlock(Reader, Block))
			return false;
		Clients[uiIndex] = Block;
	}
	return Reader.IsAtEnd();
}

bool ReadClientJoined(const tReceivedMessage& Message, uint32_t& uiIndex, tClientBlock& Block)
{
	CTestMessageReader Reader(Message.m_Body);
	uint16_t usOne = 0;
	return Reader.U16(usOne) && usOne == 1 && Reader.U32(uiIndex) && ReadClientBlock(Reader, Block) &&
		Reader.IsAtEnd();
}

bool ReadClientLeft(const tReceivedMessage& Message, uint32_t& uiIndex)
{
	CTestMessageReader Reader(Message.m_Body);
	uint16_t usOne = 0;
	return Reader.U16(usOne) && usOne == 1 && Reader.U32(uiIndex) && Reader.IsAtEnd();
}

bool ReadFileCheckRequest(const tReceivedMessage& Message, std::vector<std::string>& Paths)
{
	CTestMessageReader Reader(Message.m_Body);
	uint32_t uiCount = 0;
	if (!Reader.U32(uiCount))
		return false;
	Paths.clear();
	for (uint32_t i = 0; i < uiCount; i++)
	{
		std::string Path;
		if (!Reader.String(Path))
			return false;
		Paths.push_back(Path);
	}
	return Reader.IsAtEnd();
}

bool ReadElementEntries(const tReceivedMessage& Message, std::vector<tElementEntry>& Entries)
{
	CTestMessageReader Reader(Message.m_Body);
	uint16_t usCount = 0;
	if (!Reader.U16(usCount))
		return false;
	Entries.clear();
	for (uint16_t i = 0; i < usCount; i++)
	{
		uint16_t usLength = 0;
		tElementEntry Entry;
		if (!Reader.U16(usLength) || usLength < ELEMENT_ENTRY_HEADER_SIZE || !Reader.I32(Entry.m_iType) ||
			!Reader.I32(Entry.m_iId) || !Reader.Bytes(usLength - ELEMENT_ENTRY_HEADER_SIZE, Entry.m_Block))
			return false;
		Entries.push_back(Entry);
	}
	return Reader.IsAtEnd();
}

bool ReadElementIds(const tReceivedMessage& Message, std::vector<int32_t>& Ids)
{
	CTestMessageReader Reader(Message.m_Body);
	uint16_t usCount = 0;
	if (!Reader.U16(usCount))
		return false;
	Ids.clear();
	for (uint16_t i = 0; i < usCount; i++)
	{
		int32_t iId = -1;
		if (!Reader.I32(iId))
			return false;
		Ids.push_back(iId);
	}
	return Reader.IsAtEnd();
}

std::vector<std::vector<uint8_t>> BodiesOf(const std::vector<tReceivedMessage>& Messages, uint32_t uiId)
{
	std::vector<std::vector<uint8_t>> Bodies;
	for (const tReceivedMessage& Message : Messages)
	{
		if (Message.m_bHasHeader && Message.m_uiId == uiId)
			Bodies.push_back(Message.m_Body);
	}
	return Bodies;
}

CTestMessage MakeSyncMessage(const std::vector<tElementEntry>& Entries)
{
	CTestMessage Message(MSG_SYNC);
	Message.U16(static_cast<uint16_t>(Entries.size()));
	for (const tElementEntry& Entry : Entries)
	{
		Message.U16(static_cast<uint16_t>(ELEMENT_ENTRY_HEADER_SIZE + Entry.m_Block.size()));
		Message.I32(Entry.m_iType);
		Message.I32(Entry.m_iId);
		Message.Bytes(Entry.m_Block);
	}
	return Message;
}

bool CGameClient::SendJoinRequest(const tJoinRequest& Request)
{
	return Send(Request.Build(), JOIN_CHANNEL);
}

bool CGameClient::WaitForJoinInfo(tJoinInfo& Info, int iTimeoutMs)
{
	tReceivedMessage Message;
	if (!WaitForMessage(MSG_JOIN_INFO, Message, iTimeoutMs) || !ReadJoinInfo(Message, Info))
		return false;
	m_iIndex = Info.m_iIndex;
	return true;
}

bool CGameClient::WaitForFileCheckRequest(std::vector<std::string>& Paths, int iTimeoutMs)
{
	tReceivedMessage Message;
	return WaitForMessage(MSG_FILE_CHECK, Message, iTimeoutMs) && ReadFileCheckRequest(Message, Paths);
}

bool CGameClient::SendFileCheckAnswer(const std::vector<tDigest>& Digests)
{
	CTestMessage Answer(MSG_FILE_CHECK);
	Answer.U32(static_cast<uint32_t>(Digests.size()));
	for (const tDigest& Digest : Digests)
	{
		for (uint32_t uiWord : Digest)
			Answer.U32(uiWord);
	}
	return Send(Answer, JOIN_CHANNEL);
}

bool CGameClient::SendReady()
{
	return Send(CTestMessage(MSG_READY), JOIN_CHANNEL);
}

bool CGameClient::SendDisconnect(const uint32_t* puiReason)
{
	CTestMessage Message(MSG_DISCONNECT);
	if (puiReason)
		Message.U32(*puiReason);
	return Send(Message, JOIN_CHANNEL);
}

bool CGameClient::SendSync(const std::vector<tElementEntry>& Entries)
{
	return Send(MakeSyncMessage(Entries), SYNC_CHANNEL, true);
}

bool CGameClient::Join(uint16_t usPort, const tJoinRequest& Request, const std::vector<tDigest>& Digests,
	int iTimeoutMs)
{
	tJoinInfo Info;
	std::vector<std::string> Paths;
	tReceivedMessage Joined;
	return Connect(usPort, iTimeoutMs) && SendJoinRequest(Request) && WaitForJoinInfo(Info, iTimeoutMs) &&
		WaitForFileCheckRequest(Paths, iTimeoutMs) && SendFileCheckAnswer(Digests) && SendReady() &&
		WaitForMessage(MSG_JOINED, Joined, iTimeoutMs);
}

void CGameClient::ApplyElementMessages()
{
	for (tReceivedMessage& Message : TakeAll())
	{
		std::vector<tElementEntry> Entries;
		std::vector<int32_t> Ids;
		if (Message.m_bHasHeader && Message.m_uiId == MSG_CREATE && ReadElementEntries(Message, Entries))
		{
			for (const tElementEntry& Entry : Entries)
			{
				m_Elements.insert(Entry.m_iId);
				m_CreateBlocks[Entry.m_iId] = Entry.m_Block;
			}
		}
		else if (Message.m_bHasHeader && Message.m_uiId == MSG_DESTROY && ReadElementIds(Message, Ids))
		{
			for (int32_t iId : Ids)
				m_Elements.erase(iId);
		}
		m_Taken.push_back(std::move(Message));
	}
}

bool CGameClient::WaitForElement(int32_t iId, bool bCreated, int iTimeoutMs)
{
	const auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(iTimeoutMs);
	for (;;)
	{
		ApplyElementMessages();
		if (HasElement(iId) == bCreated)
			return true;
		if (std::chrono::steady_clock::now() >= Deadline)
			return false;
		Service(5);
	}
}

const std::vector<uint8_t>* CGameClient::GetCreateBlock(int32_t iId) const
{
	auto it = m_CreateBlocks.find(iId);
	return it == m_CreateBlocks.end() ? nullptr : &it->second;
}

std::vector<tReceivedMessage> CGameClient::TakeMessages()
{
	ApplyElementMessages();
	std::vector<tReceivedMessage> Messages;
	Messages.swap(m_Taken);
	return Messages;
}

bool SyncUntilRelayed(CGameClient& Sender, CGameClient& Receiver, const std::vector<tElementEntry>& Entries,
	tElementEntry& Relayed, int iTimeoutMs)
{
	if (Entries.empty())
		return false;
	constexpr int RESEND_MS = 250;
	const auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(iTimeoutMs);
	tReceivedMessage Message;
	std::vector<tElementEntry> Received;
	while (std::chrono::steady_clock::now() < Deadline)
	{
		if (!Sender.SendSync(Entries))
			return false;
		while (Receiver.WaitForMessage(MSG_SYNC, Message, RESEND_MS))
		{
			if (!ReadElementEntries(Message, Received))
				return false;
			for (const tElementEntry& Entry : Received)
			{
				if (Entry.m_iId == Entries.front().m_iId)
				{
					Relayed = Entry;
					return true;
				}
			}
		}
	}
	return false;
}
}
