// The base server's part of the start-up that reads the configuration file, and the command-line options that
// override it afterwards. The game server reads its own keys after these (its ParseConfig runs this one first).

#include "BaseServer.h"

#include <cstdio>
#include <strings.h>

#include "ServerConfiguration.h"

#include "Engine/ElementChunk.h"
#include "Engine/FileSystem.h"
#include "Engine/KestrinStream.h"
#include "Engine/KestrinString.h"
#include "Scripting/Resource.h"

namespace
{
void CopyTextField(char* szField, const char* szValue)
{
	_strlcpy(szField, szValue ? szValue : "", CBaseServer::TEXT_FIELD_SIZE);
}
}

bool CBaseServer::LoadConfig(const char* szFileName)
{
	// The configuration is a plain file relative to the working directory, not a file of the virtual file system.
	Strong<Stream> pStream = Strong<Stream>::New(CStandardStream::Open(szFileName, "rb"));
	if (pStream.IsNull())
	{
		m_pContext->LogError("I can't start because server.xml doesn't exist...");
		return false;
	}
	CElementChunk* pRoot = CElementChunk::Load(pStream);
	if (!pRoot)
	{
		m_pContext->LogError("I can't start because server.xml failed to parse...");
		return false;
	}
	CServerConfiguration Config(pRoot);
	return ParseConfig(Config);
}

void CBaseServer::OpenLogFile(const char* szFolder)
{
	std::string Path = std::string(szFolder) + "/ServerLog.log";
	CFileSystem* pFileSystem = m_pContext->GetFileSystem();
	if (!pFileSystem)
		return;
	Stream* pStream = pFileSystem->Open(Path.c_str(), true);
	if (!pStream)
		pStream = pFileSystem->Create(Path.c_str());
	if (!pStream)
		return;
	pStream->Seek(0, SEEK_END);
	m_pContext->GetFileLog()->StartLogging(pStream);
}

bool CBaseServer::ParseMaxPlayers(const CServerConfiguration& Config)
{
	int32_t iMaxPlayers = Config.GetInt32Value("maxplayers", 32);
	if (iMaxPlayers == 0)
	{
		m_pContext->LogError("The max players should at least be 1!");
		return false;
	}
	if (iMaxPlayers < 0 || iMaxPlayers > MAX_MAX_PLAYERS)
	{
		m_pContext->LogError("The max players should not be set to anything more than 127!");
		return false;
	}
	m_iMaxPlayers = iMaxPlayers;
	return true;
}

bool CBaseServer::CheckPortClash()
{
	// Checked even with the HTTP server off: both listeners would share one TCP port.
	if (m_bRCon && m_usHttpPort == m_usRConPort)
	{
		m_pContext->LogError("The rconport and httpport cannot match!");
		return false;
	}
	return true;
}

bool CBaseServer::ParsePorts(const CServerConfiguration& Config)
{
	m_bServerQuery = Config.GetBoolValue("serverquery", true);
	m_usPort = static_cast<uint16_t>(Config.GetInt32Value("port", 22000));
	m_usHttpPort = static_cast<uint16_t>(Config.GetInt32Value("httpport", 22000));
	m_HttpUrl = Config.GetStringValue("httpurl", "");
	m_usRConPort = static_cast<uint16_t>(Config.GetInt32Value("rconport", 23000));
	m_bHttpServer = Config.GetBoolValue("httpserver", true);
	m_bRCon = Config.GetBoolValue("rcon", false);

	if (!CheckPortClash())
		return false;
	if (m_bRCon)
	{
		const CElementChunk* pPassword = Config.FindElement("rconpassword");
		if (pPassword && !m_RConServer.SetPassword(CServerConfiguration::GetText(pPassword)))
		{
			m_pContext->LogError("Failed to set the rcon password!");
			m_bRCon = false;
		}
	}
	return true;
}

void CBaseServer::ParseSync(const CServerConfiguration& Config)
{
	m_usSyncInterval = static_cast<uint16_t>(Config.GetInt32Value("syncinterval", 30));
	m_iWaitEventTimeout = Config.GetInt32Value("waiteventtimeout", 5);

	const char* szMethod = Config.GetStringValue("syncmethod", "interval");
	if (strcasecmp(szMethod, "none") == 0)
		m_iSyncMethod = SYNC_METHOD_NONE;
	else if (strcasecmp(szMethod, "interval") == 0)
		m_iSyncMethod = SYNC_METHOD_INTERVAL;
	else if (strcasecmp(szMethod, "replay") == 0)
		m_iSyncMethod = SYNC_METHOD_REPLAY;
	else
	{
		m_pContext->LogError("Invalid syncmethod specified, using interval!");
		m_iSyncMethod = SYNC_METHOD_INTERVAL;
	}

	static const char* const s_Priorities[] = {"immediate", "high", "medium", "low"};
	const char* szPriority = Config.GetStringValue("syncpacketpriority", "low");
	m_iSyncPriority = -1;
	for (int i = 0; i < 4; i++)
	{
		if (strcasecmp(szPriority, s_Priorities[i]) == 0)
			m_iSyncPriority = i;
	}
	if (m_iSyncPriority < 0)
	{
		m_pContext->LogError("Invalid syncpriority specified, using low!");
		m_iSyncPriority = 3;
	}

	m_uiSyncFlags = 0;
	if (Config.GetBoolValue("syncpacketreliable", false))
		m_uiSyncFlags |= 1;
	if (Config.GetBoolValue("syncpacketunsequenced", false))
		m_uiSyncFlags |= 2;
}

void CBaseServer::ParseMinClientVersion(const CServerConfiguration& Config)
{
	int iParts[4] = {1, 0, 0, 0};
	if (const char* szVersion = Config.FindValue("minclientversion"))
		sscanf(szVersion, "%d.%d.%d.%d", &iParts[0], &iParts[1], &iParts[2], &iParts[3]);
	for (int i = 0; i < 4; i++)
		m_uiMinClientVersion[i] = static_cast<uint32_t>(iParts[i]);
}

void CBaseServer::ParseStartupResources(const CServerConfiguration& Config)
{
	const CElementChunk* pResources = Config.FindElement("resources");
	CServerConfiguration::ForEachChild(pResources, "resource", [this](const CElementChunk* pResource) {
		const char* szName = pResource->Attribute("src");
		if (!szName)
			return;
		bool bPrivileged = false;
		const char* szPrivileged = pResource->Attribute("privileged");
		if (szPrivileged && StringManager::ToBoolean(szPrivileged, &bPrivileged))
			SetResourcePrivileged(szName, bPrivileged);
		m_StartupResources.push_back(szName);
	});
}

void CBaseServer::ParseClientVariables(const CServerConfiguration& Config)
{
	CServerConfiguration::ForEachChild(Config.GetRoot(), "cvar", [this](const CElementChunk* pVar) {
		const char* szName = nullptr;
		const char* szValue = nullptr;
		if (CServerConfiguration::GetAttributePair(m_pContext, pVar, "CVar", "name", "value", szName, szValue))
			m_ClientVariables.Set(szName, szValue);
	});
}

void CBaseServer::ParseRules(const CServerConfiguration& Config)
{
	CServerConfiguration::ForEachChild(Config.GetRoot(), "rule", [this](const CElementChunk* pRule) {
		const char* szName = nullptr;
		const char* szValue = nullptr;
		if (CServerConfiguration::GetAttributePair(m_pContext, pRule, "Rule", "name", "value", szName, szValue))
			SetRule(szName, szValue);
	});
}

bool CBaseServer::ParseConfig(const CServerConfiguration& Config)
{
	m_LogPath = Config.GetStringValue("logpath", "");
	m_pContext->GetFileLog()->SetTimeStampFormat(Config.GetStringValue("logtimestamp", "%d/%m/%Y - %X"));
	if (!m_LogPath.empty())
		OpenLogFile(m_LogPath.c_str());

	CopyTextField(m_szBindIP, Config.GetStringValue("bindip", ""));
	CopyTextField(m_szServerName, Config.GetStringValue("servername", ""));
	CopyTextField(m_szGameMode, Config.GetStringValue("gamemode", ""));
	CopyTextField(m_szServerListingUrl, Config.GetStringValue("serverlistingurl", ""));
	m_bListed = Config.GetBoolValue("serverbrowser", false);

	if (!ParseMaxPlayers(Config))
		return false;
	if (!ParsePorts(Config))
		return false;
	ParseSync(Config);
	m_bDuplicateNames = Config.GetBoolValue("duplicatenames", false);
	m_bMultithreaded = Config.GetBoolValue("multithreaded", false);
	ParseMinClientVersion(Config);

	// A password that cannot be stored must not leave the server open to everyone.
	if (!m_ServerPassword.SetPassword(Config.FindValue("password")))
	{
		m_pContext->LogError("Failed to set the server password!");
		return false;
	}

	LoadModules(Config.FindElement("modules"));
	if (!DefineAllClasses())
	{
		m_pContext->LogError("Unable to define all classes");
		return false;
	}
	RefreshResources();
	ParseStartupResources(Config);
	ParseClientVariables(Config);
	ParseRules(Config);
	SetGame(Config.GetStringValue("game", "gta:iii"));
	m_fStreamInDistance = Config.GetFloatValue("streamindistance", 100.0f);
	m_fStreamOutDistance = Config.GetFloatValue("streamoutdistance", 200.0f);
	return true;
}

bool CBaseServer::ApplyOverrides(const tCommandLine& Options)
{
	if (Options.m_Port.m_bPresent)
		m_usPort = static_cast<uint16_t>(Options.m_Port.m_Value);
	if (Options.m_HttpPort.m_bPresent)
		m_usHttpPort = static_cast<uint16_t>(Options.m_HttpPort.m_Value);
	if (Options.m_RConPort.m_bPresent)
		m_usRConPort = static_cast<uint16_t>(Options.m_RConPort.m_Value);
	if (Options.m_MaxPlayers.m_bPresent)
		m_iMaxPlayers = Options.m_MaxPlayers.m_Value;
	if (Options.m_BindIP.m_bPresent)
		CopyTextField(m_szBindIP, Options.m_BindIP.m_Value.c_str());
	if (Options.m_Multithreaded.m_bPresent)
		m_bMultithreaded = Options.m_Multithreaded.m_Value;
	// The ports may have been moved onto each other by the command line.
	return CheckPortClash();
}
