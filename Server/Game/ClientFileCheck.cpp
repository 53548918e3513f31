// The client file check: the server names files of the game installation, the client answers with the MD5
// digest of each, and only a client whose every digest matches may send anything else.

#include "GTAServer.h"

#include "GTAClient.h"
#include "GameProtocol.h"

#include <cstring>

#include "Engine/FileSystem.h"
#include "Engine/KestrinHash.h"
#include "Engine/KestrinStream.h"
#include "Network/BinaryStream.h"
#include "Network/ENetSystem.h"

namespace
{
constexpr size_t FILE_READ_PIECE = 1024;
constexpr size_t ADDRESS_TEXT_SIZE = 128;
constexpr uint8_t FILE_CHECK_CHANNEL = 0;

// The digest of the whole stream; false when it cannot be read or digested.
bool DigestStream(Stream* pStream, uint32_t* puiWords)
{
	CMD5Hash Hash;
	if (!Hash.Init())
		return false;
	unsigned char Buffer[FILE_READ_PIECE];
	size_t Read;
	while ((Read = pStream->Read(Buffer, sizeof(Buffer))) > 0)
		Hash.AddBytes(Buffer, Read);
	unsigned char Digest[CMD5Hash::DIGEST_SIZE];
	if (!Hash.Final(Digest))
		return false;
	for (size_t i = 0; i < 4; i++)
	{
		puiWords[i] = static_cast<uint32_t>(Digest[i * 4]) | static_cast<uint32_t>(Digest[i * 4 + 1]) << 8 |
			static_cast<uint32_t>(Digest[i * 4 + 2]) << 16 | static_cast<uint32_t>(Digest[i * 4 + 3]) << 24;
	}
	return true;
}
}

bool CGTAServer::AddFileToAnticheat(const char* szPath, const char* szSource)
{
	m_pContext->Log("Adding anticheat file %s. Game path: %s", szSource ? szSource : "", szPath ? szPath : "");
	if (!szSource || szSource[0] == '\0')
	{
		m_pContext->LogWarn("An anticheat file path is blank.");
		return false;
	}
	CFileSystem* pFileSystem = m_pContext->GetFileSystem();
	Strong<Stream> pStream;
	if (pFileSystem)
		pStream = Strong<Stream>::New(pFileSystem->Open(szSource, false));
	tAnticheatFile File;
	if (pStream.IsNull() || !DigestStream(pStream, File.m_rguiDigest))
	{
		m_pContext->LogWarn("Failed to read anticheat file %s.", szSource);
		return false;
	}
	File.m_GamePath = szPath ? szPath : "";
	File.m_SourcePath = szSource;
	m_AnticheatFiles.push_back(File);
	return true;
}

void CGTAServer::OnPlayerJoin(CNetMachine* pClient)
{
	Packet Request(GAME_MESSAGE_FILE_CHECK);
	CBinaryWriter Writer(&Request);
	Writer.WriteUInt32(static_cast<uint32_t>(m_AnticheatFiles.size()));
	for (const tAnticheatFile& File : m_AnticheatFiles)
		Writer.WriteString(File.m_GamePath.c_str(), File.m_GamePath.size());
	pClient->SendPacket(&Request, PACKET_PRIORITY_LOW, PACKET_FLAG_RELIABLE, FILE_CHECK_CHANNEL);
}

bool CGTAServer::ProcessFileCheck(CGTAClient* pClient, void* pPeer, Stream* pStream)
{
	char szAddress[ADDRESS_TEXT_SIZE];
	if (!GetPeerAddressText(pPeer, szAddress, sizeof(szAddress)))
	{
		RefusePeer(pPeer, DISCONNECT_NO_ADDRESS);
		return false;
	}
	CBinaryReader Reader(pStream);
	uint32_t uiCount = 0;
	if (!Reader.ReadUInt32(&uiCount) || uiCount != m_AnticheatFiles.size())
	{
		m_pContext->LogWarn("CONNECT: %s revoked connection [CRC CHECK FAILED]", szAddress);
		RefusePeer(pPeer, DISCONNECT_FILE_CHECK_FAILED);
		return false;
	}
	for (const tAnticheatFile& File : m_AnticheatFiles)
	{
		uint32_t rguiDigest[4];
		if (!Reader.ReadUInt32(rguiDigest, 4) || memcmp(rguiDigest, File.m_rguiDigest, sizeof(rguiDigest)) != 0)
		{
			m_pContext->LogWarn("CONNECT: %s revoked connection [CRC CHECK FAILED - %s]", szAddress,
				File.m_GamePath.c_str());
			RefusePeer(pPeer, DISCONNECT_FILE_CHECK_FAILED);
			return false;
		}
	}
	pClient->SetVerified(true);
	return true;
}
