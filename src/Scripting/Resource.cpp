#include "Scripting/Resource.h"

#include <strings.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "Engine/Context.h"
#include "Engine/ElementChunk.h"
#include "Engine/FileSystem.h"
#include "Engine/KestrinHash.h"
#include "Engine/KestrinString.h"
#include "Scripting/CommandHandlers.h"
#include "Scripting/EventHandlers.h"
#include "Scripting/KeyBinds.h"
#include "Scripting/ResourceMgr.h"
#include "Scripting/TimerHandlers.h"

namespace
{
// Checksumming and publishing read files in pieces of this size, through one buffer each.
constexpr size_t COPY_CHUNK_SIZE = 1024 * 1024;

const char* const RESOURCE_HTDOCS_PATH = "/htdocs/resources";

Context* LogContext(CResourceMgr* pOwner)
{
	Context* pContext = pOwner ? pOwner->GetContext() : nullptr;
	return pContext ? pContext : KGlobal::GetContext();
}

bool ContainsParentReference(const char* szPath)
{
	return strstr(szPath, "..") != nullptr;
}

bool WriteBytes(Stream* pStream, const void* pData, size_t Size)
{
	return Size == 0 || pStream->Write(pData, Size) == Size;
}

bool WriteUInt32(Stream* pStream, uint32_t uiValue)
{
	const uint8_t Bytes[4] = {static_cast<uint8_t>(uiValue), static_cast<uint8_t>(uiValue >> 8),
		static_cast<uint8_t>(uiValue >> 16), static_cast<uint8_t>(uiValue >> 24)};
	return WriteBytes(pStream, Bytes, sizeof(Bytes));
}

bool WriteString(Stream* pStream, const char* szText)
{
	const size_t Length = strlen(szText);
	return KWriteLengthPrefix(pStream, Length) && WriteBytes(pStream, szText, Length);
}

// Element names of meta.xml compare without regard to case.
bool IsElement(const CElementChunk* pElement, const char* szName)
{
	return pElement && strcasecmp(pElement->GetName(), szName) == 0;
}
}

namespace PathUtil
{
std::string AppendPath(const char* szA, const char* szB)
{
	if (!szB || szB[0] == '\0')
		return szA ? szA : "";
	if (!szA || szA[0] == '\0')
		return szB;
	std::string Result = szA;
	const char cLast = Result.back();
	if (cLast != '/' && cLast != '\\')
		Result += '/';
	Result += szB;
	return Result;
}
}

CResource::CResource(CResourceMgr* pOwner, const char* szName) :
	m_pOwner(pOwner),
	m_Name(szName ? szName : ""),
	m_pLuaEnvironment(nullptr),
	m_pJSEnvironment(nullptr),
	m_pSquirrelEnvironment(nullptr),
	m_bPrivileged(false),
	m_bStarting(false),
	m_bStarted(false),
	m_bStopping(false)
{
	if (m_pOwner)
	{
		SetReflectedClass(m_pOwner->GetResourceClass());
		m_pOwner->OnResourceCreated(this);
	}
}

CResource::~CResource()
{
	ClearScripts();
	if (m_pOwner)
	{
		m_pOwner->GetEventHandlers()->RemoveHandlersWithSource(this, nullptr);
		m_pOwner->RemoveThingsAssociatedWithResource(this);
		RemoveRegistrations();
	}
	DestroyEnvironments();
	m_pArchive.Delete();
	if (m_pOwner)
		m_pOwner->OnResourceDestroyed(this);
}

CVirtualFileMgr* CResource::GetFileSystem() const
{
	return m_pOwner ? m_pOwner->GetFileSystem() : nullptr;
}

void CResource::SetPaths(const char* szFolderPath, const char* szArchivePath)
{
	m_FolderPath = szFolderPath ? szFolderPath : "";
	m_ArchivePath = szArchivePath ? szArchivePath : "";
}

void CResource::ClearPaths()
{
	m_FolderPath.clear();
	m_ArchivePath.clear();
	m_pArchive.Delete();
}

CResource* CResource::GetDependency(size_t Index) const
{
	return Index < m_Dependencies.size() ? m_Dependencies[Index].Get() : nullptr;
}

void CResource::ForgetDependency(CResource* pResource)
{
	for (Weak<CResource>& Dependency : m_Dependencies)
	{
		if (Dependency.Get() == pResource)
			Dependency = nullptr;
	}
}

void CResource::ClearScripts()
{
	m_ServerScripts.clear();
	m_ClientScripts.clear();
}

bool CResource::LoadFileSystem()
{
	if (!m_pArchive.IsNull())
		return true;
	if (!m_ArchivePath.empty() && m_FolderPath.empty())
	{
		CVirtualFileMgr* pFileSystem = GetFileSystem();
		if (!pFileSystem)
			return false;
		Strong<Stream> pStream = Strong<Stream>::New(pFileSystem->Open(m_ArchivePath.c_str(), false));
		if (pStream.IsNull())
			return false;
		AutoDelete<CTARArchive> pArchive(new CTARArchive());
		if (!pArchive->Read(pStream))
			return false;
		m_pArchive = pArchive.Detach();
		return true;
	}
	return !m_FolderPath.empty();
}

Stream* CResource::OpenFile(const char* szPath, bool bWrite)
{
	if (!szPath || !LoadFileSystem())
		return nullptr;
	CVirtualFileMgr* pFileSystem = GetFileSystem();
	if (!pFileSystem || ContainsParentReference(szPath))
		return nullptr;
	if (szPath[0] == '/')
		return bWrite ? nullptr : pFileSystem->Open(szPath, false);
	if (bWrite)
	{
		// Without a folder the path would land at the root of the file system, outside the resource.
		if (m_FolderPath.empty())
			return nullptr;
		return pFileSystem->Open(PathUtil::AppendPath(m_FolderPath.c_str(), szPath).c_str(), true);
	}
	if (!m_pArchive.IsNull())
	{
		if (Stream* pStream = m_pArchive->Open(szPath, false))
			return pStream;
	}
	return pFileSystem->Open(PathUtil::AppendPath(m_FolderPath.c_str(), szPath).c_str(), false);
}

Stream* CResource::CreateFile(const char* szPath)
{
	CVirtualFileMgr* pFileSystem = GetFileSystem();
	if (!szPath || !pFileSystem || !m_pArchive.IsNull() || m_FolderPath.empty() || szPath[0] == '/' ||
		ContainsParentReference(szPath))
		return nullptr;
	return pFileSystem->Create(PathUtil::AppendPath(m_FolderPath.c_str(), szPath).c_str());
}

bool CResource::FileExists(const char* szPath, bool bFile, bool bDirectory)
{
	if (!szPath || !LoadFileSystem() || ContainsParentReference(szPath))
		return false;
	CVirtualFileMgr* pFileSystem = GetFileSystem();
	if (!pFileSystem)
		return false;
	if (szPath[0] == '/')
		return pFileSystem->Exists(szPath, bFile, bDirectory);
	if (!m_pArchive.IsNull() && m_pArchive->Exists(szPath, bFile, bDirectory))
		return true;
	return pFileSystem->Exists(PathUtil::AppendPath(m_FolderPath.c_str(), szPath).c_str(), bFile, bDirectory);
}

Stream* CResource::OpenMemberFile(const char* szPath)
{
	// Entries of meta.xml name files of the resource itself; an absolute path would publish or run any file of the
	// server.
	if (!szPath || szPath[0] == '/' || ContainsParentReference(szPath) || !LoadFileSystem())
		return nullptr;
	// A relative path that an archive lacks would otherwise be looked up at the root of the file system, where
	// server.xml lives.
	if (!m_pArchive.IsNull())
		return m_pArchive->Open(szPath, false);
	return OpenFile(szPath, false);
}

bool CResource::LoadMeta(bool bServer)
{
	Context* pLog = LogContext(m_pOwner);
	Strong<Stream> pMeta = Strong<Stream>::New(OpenMemberFile("meta.xml"));
	if (pMeta.IsNull())
	{
		pLog->LogError("unable to load meta.xml in resource %s!", m_Name.c_str());
		return false;
	}
	AutoDelete<CElementChunk> pRoot(CElementChunk::Load(pMeta));
	pMeta.SetNull();
	if (pRoot.IsNull())
		return false;

	if (!LoadDependencies(pRoot))
		return false;
	ClearScripts();
	m_ClientFiles.clear();
	if (!LoadScriptEntries(pRoot, true) || !LoadScriptEntries(pRoot, false) || !LoadFileEntries(pRoot, bServer))
		return false;
	if (bServer)
		UpdateHtDocs();
	return true;
}

bool CResource::LoadDependencies(const CElementChunk* pRoot)
{
	m_Dependencies.clear();
	for (size_t i = 0; i < pRoot->GetChildCount(); i++)
	{
		const CElementChunk* pElement = pRoot->GetChildElement(i);
		if (!IsElement(pElement, "dependency"))
			continue;
		const char* szSrc = pElement->Attribute("src");
		CResource* pDependency = m_pOwner ? m_pOwner->FindResourceByName(szSrc) : nullptr;
		if (!pDependency)
		{
			LogContext(m_pOwner)->LogWarn("Unable to find dependency %s for resource %s!", szSrc ? szSrc : "",
				m_Name.c_str());
			return false;
		}
		m_Dependencies.emplace_back(pDependency);
	}
	return true;
}

bool CResource::ReadScriptEntry(const char* szSrc, eScriptType eType, bool bServerSide, bool bMap)
{
	Context* pLog = LogContext(m_pOwner);
	Strong<Stream> pStream = Strong<Stream>::New(OpenMemberFile(szSrc));
	if (pStream.IsNull())
	{
		pLog->LogError(bMap ? "unable to load map %s in resource %s!" : "unable to load script %s in resource %s!",
			szSrc, m_Name.c_str());
		return false;
	}

	std::vector<tResourceScript>& List = bServerSide ? m_ServerScripts : m_ClientScripts;
	tResourceScript Entry;
	Entry.m_eType = eType;
	Entry.m_Path = PathUtil::AppendPath(m_FolderPath.c_str(), szSrc);
	const long lLength = pStream->GetLength();
	Entry.m_Size = lLength > 0 ? static_cast<size_t>(lLength) : 0;
	List.push_back(Entry);

	auto pData = std::make_shared<std::vector<uint8_t>>(Entry.m_Size);
	if (lLength < 0 || (Entry.m_Size > 0 && pStream->Read(pData->data(), Entry.m_Size) != Entry.m_Size))
	{
		pLog->LogError("unable to read script %s in resource %s!", szSrc, m_Name.c_str());
		return false;
	}
	List.back().m_pData = pData;
	return true;
}

bool CResource::LoadScriptEntries(const CElementChunk* pRoot, bool bMaps)
{
	Context* pLog = LogContext(m_pOwner);
	const char* szKind = bMaps ? "map" : "script";
	for (size_t i = 0; i < pRoot->GetChildCount(); i++)
	{
		const CElementChunk* pElement = pRoot->GetChildElement(i);
		if (!IsElement(pElement, szKind))
			continue;
		const char* szSrc = pElement->Attribute("src");
		const char* szType = pElement->Attribute("type");
		const char* szLanguage = pElement->Attribute("language");
		if (!szSrc)
		{
			pLog->LogError("src attribute missing on %s element in resource %s!", szKind, m_Name.c_str());
			return false;
		}
		if (!szType)
		{
			pLog->LogError("type attribute missing on %s element in resource %s!", szKind, m_Name.c_str());
			return false;
		}
		if (!bMaps && !szLanguage)
		{
			pLog->LogError("language attribute missing on script element in resource %s!", m_Name.c_str());
			return false;
		}
		const bool bServerSide = strcasecmp(szType, "server") == 0;
		if (!bServerSide && strcasecmp(szType, "client") != 0)
		{
			pLog->LogError("invalid type in resource %s!", m_Name.c_str());
			return false;
		}
		eScriptType eType = SCRIPT_TYPE_MAP;
		if (!bMaps)
		{
			if (strcasecmp(szLanguage, "lua") == 0)
				eType = SCRIPT_TYPE_LUA;
			else if (strcasecmp(szLanguage, "squirrel") == 0)
				eType = SCRIPT_TYPE_SQUIRREL;
			else if (strcasecmp(szLanguage, "javascript") == 0)
				eType = SCRIPT_TYPE_JAVASCRIPT;
			else
				eType = SCRIPT_TYPE_UNKNOWN;
		}
		if (!ReadScriptEntry(szSrc, eType, bServerSide, bMaps))
			return false;
	}
	return true;
}

bool CResource::LoadFileEntries(const CElementChunk* pRoot, bool bServer)
{
	static uint8_t s_Buffer[COPY_CHUNK_SIZE];
	Context* pLog = LogContext(m_pOwner);
	for (size_t i = 0; i < pRoot->GetChildCount(); i++)
	{
		const CElementChunk* pElement = pRoot->GetChildElement(i);
		if (!IsElement(pElement, "file"))
			continue;
		const char* szSrc = pElement->Attribute("src");
		const char* szType = pElement->Attribute("type");
		if (!szSrc || !szType)
		{
			pLog->LogError("src or type attribute missing on file element in resource %s!", m_Name.c_str());
			return false;
		}
		Strong<Stream> pStream = Strong<Stream>::New(OpenMemberFile(szSrc));
		if (pStream.IsNull())
		{
			pLog->LogError("unable to load file %s in resource %s!", szSrc, m_Name.c_str());
			return false;
		}
		if (strcasecmp(szType, "client") != 0)
		{
			pLog->LogError("invalid type in resource %s!", m_Name.c_str());
			return false;
		}

		tResourceFile File = {};
		_strlcpy(File.m_szName, szSrc, sizeof(File.m_szName));
		File.m_Source = szSrc;
		CSHA256 Digest;
		CSHA256::Value Value;
		if (!Digest.Init())
			return false;
		Digest.AddString(File.m_szName, true);
		if (!Digest.Final(Value) || !CSHA256::ToString(Value, File.m_szHashName, sizeof(File.m_szHashName)))
			return false;
		if (bServer)
		{
			const long lLength = pStream->GetLength();
			File.m_ulSize = lLength > 0 ? static_cast<uint64_t>(lLength) : 0;
			CRC32Hash Checksum;
			size_t Read;
			while ((Read = pStream->Read(s_Buffer, sizeof(s_Buffer))) > 0)
				Checksum.AddBytes(s_Buffer, Read);
			File.m_uiCRC = Checksum.GetHash();
		}
		m_ClientFiles.push_back(File);
	}
	return true;
}

bool CResource::PublishClientFile(const tResourceFile& File, const std::string& DiskTarget, std::string& Reason)
{
	static uint8_t s_Buffer[COPY_CHUNK_SIZE];
	Reason.clear();
	std::error_code Error;
	std::filesystem::create_directories(std::filesystem::path(DiskTarget).parent_path(), Error);
	if (Error)
	{
		Reason = Error.message();
		return false;
	}
	errno = 0;
	Strong<Stream> pSource = Strong<Stream>::New(OpenMemberFile(File.m_Source.c_str()));
	if (pSource.IsNull())
	{
		Reason = std::string("cannot read it") + (errno ? std::string(": ") + strerror(errno) : std::string());
		return false;
	}

	// The HTTP thread may serve the file at any moment: write a temporary file and rename it over the target,
	// so a download sees the old file or the new one, never half of one.
	const std::string DiskTemporary = DiskTarget + ".part";
	FILE* pTarget = fopen(DiskTemporary.c_str(), "wbe");
	if (!pTarget)
	{
		Reason = strerror(errno);
		return false;
	}
	uint64_t ulCopied = 0;
	size_t Read;
	while (Reason.empty() && (Read = pSource->Read(s_Buffer, sizeof(s_Buffer))) > 0)
	{
		errno = 0;
		if (fwrite(s_Buffer, 1, Read, pTarget) != Read)
			Reason = errno ? strerror(errno) : "write error";
		ulCopied += Read;
	}
	// Buffered bytes reach the disk only here, so a full disk may show itself only now.
	errno = 0;
	if (fclose(pTarget) != 0 && Reason.empty())
		Reason = errno ? strerror(errno) : "write error";
	if (Reason.empty() && ulCopied != File.m_ulSize)
		Reason = "read " + std::to_string(ulCopied) + " of its " + std::to_string(File.m_ulSize) + " bytes";
	if (Reason.empty() && rename(DiskTemporary.c_str(), DiskTarget.c_str()) != 0)
		Reason = strerror(errno);
	if (Reason.empty())
		return true;
	remove(DiskTemporary.c_str());
	return false;
}

void CResource::UpdateHtDocs()
{
	if (m_ClientFiles.empty())
		return;
	Context* pLog = LogContext(m_pOwner);
	CFileSystem* pFileSystem = m_pOwner ? m_pOwner->GetFileSystem() : nullptr;
	char szRoot[4096];
	const bool bRooted = pFileSystem && pFileSystem->ResolvePath(szRoot, sizeof(szRoot));
	const std::string Folder = PathUtil::AppendPath(RESOURCE_HTDOCS_PATH, m_Name.c_str());
	for (const tResourceFile& File : m_ClientFiles)
	{
		const std::string Target = PathUtil::AppendPath(Folder.c_str(), File.m_szHashName);
		const std::string DiskTarget = bRooted ? std::string(szRoot) + (Target.c_str() + 1) : Target;
		std::string Reason = "the server has no folder on disk";
		if (bRooted)
		{
			if (PublishClientFile(File, DiskTarget, Reason))
				continue;
			// A copy left from an earlier scan would be served as current while the clients are told the new size
			// and checksum; none at all is the honest answer.
			remove(DiskTarget.c_str());
		}
		pLog->LogError("Unable to publish file %s of resource %s to %s: %s", File.m_szName, m_Name.c_str(),
			DiskTarget.c_str(), Reason.c_str());
	}
}

bool CResource::WriteClientInfo(Stream* pStream)
{
	if (!pStream)
		return false;
	Strong<Stream> pHold(pStream);
	if (!WriteString(pStream, m_Name.c_str()) ||
		!WriteUInt32(pStream, static_cast<uint32_t>(m_ClientScripts.size())))
		return false;
	for (const tResourceScript& Script : m_ClientScripts)
	{
		const uint8_t ucType = static_cast<uint8_t>(Script.m_eType);
		const size_t Size = Script.m_pData ? Script.m_pData->size() : 0;
		if (!WriteBytes(pStream, &ucType, 1) || !WriteString(pStream, Script.m_Path.c_str()) ||
			!WriteUInt32(pStream, static_cast<uint32_t>(Size)) ||
			!WriteBytes(pStream, Size ? Script.m_pData->data() : nullptr, Size))
			return false;
	}
	if (!WriteUInt32(pStream, static_cast<uint32_t>(m_ClientFiles.size())))
		return false;
	for (const tResourceFile& File : m_ClientFiles)
	{
		if (!WriteString(pStream, File.m_szName) || !WriteString(pStream, File.m_szHashName) ||
			!WriteUInt32(pStream, static_cast<uint32_t>(File.m_ulSize)) || !WriteUInt32(pStream, File.m_uiCRC))
			return false;
	}
	return true;
}

void CResource::CreateEnvironments()
{
	CScripting* pScripting = m_pOwner->GetScripting();
	const char* const rgszLanguages[] = {"Lua", "SpiderMonkey", "Squirrel"};
	CScriptEnvironment** const rgpEnvironments[] = {&m_pLuaEnvironment, &m_pJSEnvironment, &m_pSquirrelEnvironment};
	for (size_t i = 0; i < 3; i++)
	{
		CScriptingVM* pVM = pScripting->GetVM(rgszLanguages[i]);
		if (!pVM)
			continue;
		CScriptEnvironment* pEnvironment = pVM->CreateEnvironment(m_Name.c_str());
		if (pEnvironment)
			pEnvironment->SetResource(this);
		*rgpEnvironments[i] = pEnvironment;
	}
}

void CResource::DestroyEnvironments()
{
	CScriptEnvironment** const rgpEnvironments[] = {&m_pLuaEnvironment, &m_pJSEnvironment, &m_pSquirrelEnvironment};
	for (CScriptEnvironment** ppEnvironment : rgpEnvironments)
	{
		CScriptEnvironment* pEnvironment = *ppEnvironment;
		*ppEnvironment = nullptr;
		if (pEnvironment)
			pEnvironment->Destroy();
	}
}

void CResource::RemoveRegistrations()
{
	m_pOwner->GetEventHandlers()->RemoveGoingWith(this);
	m_pOwner->GetCommandHandlers()->RemoveGoingWith(this);
	m_pOwner->GetTimerHandlers()->RemoveGoingWith(this);
	m_pOwner->GetKeyBinds()->RemoveGoingWith(this);
}

std::string CResource::GetScriptName(const tResourceScript& Script) const
{
	if (m_FolderPath.empty() && !m_ArchivePath.empty())
		return PathUtil::AppendPath(m_ArchivePath.c_str(), Script.m_Path.c_str());
	return Script.m_Path;
}

bool CResource::RunScripts()
{
	// A copy: a scan started by one of the scripts replaces the lists, and the data is shared, not copied.
	const std::vector<tResourceScript> Scripts = m_pOwner->IsServer() ? m_ServerScripts : m_ClientScripts;
	for (const tResourceScript& Script : Scripts)
	{
		if (!Script.m_pData)
			return false;
		Strong<Stream> pStream =
			Strong<Stream>::New(new CMemoryStream(Script.m_pData->data(), Script.m_pData->size()));
		switch (Script.m_eType)
		{
		case SCRIPT_TYPE_LUA:
		case SCRIPT_TYPE_SQUIRREL:
		case SCRIPT_TYPE_JAVASCRIPT:
		{
			CScriptEnvironment* pEnvironment = Script.m_eType == SCRIPT_TYPE_LUA ? m_pLuaEnvironment
				: Script.m_eType == SCRIPT_TYPE_SQUIRREL                        ? m_pSquirrelEnvironment
																				: m_pJSEnvironment;
			if (!pEnvironment || !pEnvironment->DoFile(pStream, GetScriptName(Script).c_str()))
				return false;
			break;
		}
		case SCRIPT_TYPE_MAP:
		{
			AutoDelete<CElementChunk> pMap(CElementChunk::Load(pStream));
			if (pMap.IsNull() || !m_pOwner)
				return false;
			m_LoadingMap = Script.m_Path;
			const bool bLoaded = m_pOwner->LoadMap(pMap, this);
			m_LoadingMap.clear();
			if (!bLoaded)
				return false;
			break;
		}
		default:
			return false;
		}
		if (!m_pOwner)
			return false;
	}
	return true;
}

bool CResource::Start()
{
	Strong<CResource> pHold(this);
	Context* pLog = LogContext(m_pOwner);
	pLog->Log("START: Starting resource %s...", m_Name.c_str());
	if (m_bStarting)
	{
		pLog->LogWarn("START: Resource %s already starting!", m_Name.c_str());
		return false;
	}
	if (IsStarted())
	{
		pLog->LogWarn("START: Resource %s already running!", m_Name.c_str());
		return false;
	}
	// Once the resources are being cleared away (the server shuts down) no new scripts may start.
	if (!m_pOwner || m_pOwner->IsClearing() || m_pOwner->GetScripting()->IsClosed())
		return false;
	m_bStarting = true;

	// Held, so a scan that one of their scripts starts cannot free them under this walk.
	std::vector<Strong<CResource>> Dependencies;
	for (const Weak<CResource>& Dependency : m_Dependencies)
		Dependencies.emplace_back(Dependency.Get());
	for (const Strong<CResource>& pDependency : Dependencies)
	{
		if (!pDependency.IsNull() && (pDependency->m_bStarting || pDependency->IsStarted()))
			continue;
		if (pDependency.IsNull() || !pDependency->Start())
		{
			pLog->LogError("START: Failed to start dependant resources for %s!", m_Name.c_str());
			m_bStarting = false;
			return false;
		}
	}

	CreateEnvironments();
	m_bStarted = true;
	CScripting* pScripting = m_pOwner->GetScripting();
	bool bComplete = true;
	const char* const rgszLanguages[] = {"Lua", "SpiderMonkey", "Squirrel"};
	const CScriptEnvironment* const rgpEnvironments[] = {m_pLuaEnvironment, m_pJSEnvironment, m_pSquirrelEnvironment};
	for (size_t i = 0; i < 3; i++)
	{
		if (pScripting->GetVM(rgszLanguages[i]) && !rgpEnvironments[i])
			bComplete = false;
	}

	// A script (or a handler of the start) may stop the resource while it starts; the start has then failed,
	// whatever its last step answered.
	bComplete = bComplete && LoadFileSystem() && RunScripts() && IsStarted();
	if (bComplete && m_pOwner)
	{
		CArgumentArray Arguments(1);
		Arguments.AddObject(this);
		bool bDefaultPrevented = false;
		m_pOwner->GetOnResourceStart()->Trigger(Arguments, bDefaultPrevented);
		bComplete = !bDefaultPrevented && IsStarted();
	}
	if (!bComplete)
	{
		pLog->LogError("START: Resource %s failed to load!", m_Name.c_str());
		if (IsStarted())
			Stop(false);
		else if (m_pOwner)
		{
			// Stopped by one of its own scripts, which may have gone on registering handlers after the stop.
			m_pOwner->RemoveThingsAssociatedWithResource(this);
			RemoveRegistrations();
		}
		m_bStarting = false;
		return false;
	}
	pLog->Log("START: Resource %s started.", m_Name.c_str());
	m_bStarting = false;
	return true;
}

bool CResource::Stop(bool bRestart)
{
	Strong<CResource> pHold(this);
	Context* pLog = LogContext(m_pOwner);
	pLog->Log("STOP: Stopping resource %s...", m_Name.c_str());
	// A handler of OnResourceStop that stops the same resource again would otherwise recurse without end.
	if (!IsStarted() || m_bStopping)
	{
		pLog->LogWarn("STOP: Resource %s already stopped!", m_Name.c_str());
		return false;
	}
	m_bStopping = true;
	if (m_pOwner)
	{
		CArgumentArray Arguments(2);
		Arguments.AddObject(this);
		Arguments.AddBoolean(bRestart);
		bool bDefaultPrevented = false;
		m_pOwner->GetOnResourceStop()->Trigger(Arguments, bDefaultPrevented);
		if (bDefaultPrevented)
		{
			pLog->LogError("STOP: Resource %s failed to stop!", m_Name.c_str());
			m_bStopping = false;
			return false;
		}
		m_pOwner->RemoveThingsAssociatedWithResource(this);
		RemoveRegistrations();
	}
	DestroyEnvironments();
	m_bStarted = false;
	m_pArchive.Delete();
	pLog->Log("STOP: Resource %s stopped.", m_Name.c_str());
	m_bStopping = false;
	return true;
}

bool CResource::Restart()
{
	LogContext(m_pOwner)->Log("RESTART: Restarting resource %s...", m_Name.c_str());
	Strong<CResource> pHold(this);
	if (!IsStarted() || !Stop(true))
		return false;
	return Start();
}
