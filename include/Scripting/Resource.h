#pragma once
// One resource: a folder or ustar archive below /resources whose meta.xml lists its dependencies, server and client
// scripts, maps and client files. The resource keeps those scripts and maps in memory, starts and stops them (one
// environment per script language), answers its scripts' file requests and publishes its client files.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Engine/KestrinArguments.h"
#include "Engine/KestrinNative.h"
#include "Engine/KestrinReference.h"
#include "Engine/Tar.h"

class CResourceMgr;
class CElementChunk;
class Stream;

// Also sent to clients as one byte.
enum eScriptType : int32_t
{
	SCRIPT_TYPE_UNKNOWN = 0,
	SCRIPT_TYPE_LUA = 1,
	SCRIPT_TYPE_SQUIRREL = 2,
	SCRIPT_TYPE_JAVASCRIPT = 3,
	SCRIPT_TYPE_MAP = 4,
};

// One script or map entry of meta.xml. The content is shared, so a start that is running its scripts keeps them
// even when a scan replaces the lists meanwhile.
struct tResourceScript
{
	eScriptType m_eType;
	// The folder path joined with the src attribute.
	std::string m_Path;
	size_t m_Size;
	// Null when the file could not be read whole.
	std::shared_ptr<std::vector<uint8_t>> m_pData;
};

constexpr size_t RESOURCE_FILE_NAME_SIZE = 256;
constexpr size_t RESOURCE_FILE_HASH_SIZE = 65;

// One file that clients download.
struct tResourceFile
{
	// The src attribute cut to 255 characters.
	char m_szName[RESOURCE_FILE_NAME_SIZE];
	// SHA-256 of the lower-cased name: 64 upper-case hexadecimal digits.
	char m_szHashName[RESOURCE_FILE_HASH_SIZE];
	// Size and CRC-32 are only computed on a server.
	uint64_t m_ulSize;
	uint32_t m_uiCRC;
	// The src attribute whole: the file that was measured, and so the one that is published, even when the name
	// had to be cut.
	std::string m_Source;
};

namespace PathUtil
{
// a when b is empty, b when a is empty, else a, "/" unless a already ends in a separator, then b.
std::string AppendPath(const char* szA, const char* szB);
}

class CResource : public CBaseObject
{
public:
	CResource(CResourceMgr* pOwner, const char* szName);
	// Cleans up without triggering any event.
	~CResource() override;

	// (Re)reads meta.xml; with bServer also checksums and publishes the client files.
	bool LoadMeta(bool bServer);
	virtual bool Start();
	bool Stop(bool bRestart);
	bool Restart();
	bool IsStarted() const { return m_bStarted; }
	bool IsStarting() const { return m_bStarting; }

	// A new stream (the caller releases it) or null. Paths with ".." are refused; absolute paths read any file of
	// the virtual file system but are never written; relative ones stay inside the resource.
	Stream* OpenFile(const char* szPath, bool bWrite);
	Stream* CreateFile(const char* szPath);
	bool FileExists(const char* szPath, bool bFile, bool bDirectory);
	// Mounts the archive of an archive resource on first use.
	bool LoadFileSystem();
	void ClearScripts();
	// The block that tells a client about this resource.
	bool WriteClientInfo(Stream* pStream);
	// The name a script runs under: its path, which for an archive's member starts with the archive's path, so
	// that no two resources' scripts share a name (error positions name the resource, and code is told apart).
	std::string GetScriptName(const tResourceScript& Script) const;

	// The path of the map file whose elements are being placed, empty at other times: what a manager names when it
	// cannot place them all.
	const char* GetLoadingMap() const { return m_LoadingMap.c_str(); }
	CResourceMgr* GetOwner() const { return m_pOwner; }
	const char* GetName() const { return m_Name.c_str(); }
	const char* GetFolderPath() const { return m_FolderPath.c_str(); }
	const char* GetArchivePath() const { return m_ArchivePath.c_str(); }
	void SetPaths(const char* szFolderPath, const char* szArchivePath);
	// Drops the paths and the mounted archive; the next scan sets new paths.
	void ClearPaths();
	bool IsPrivileged() const { return m_bPrivileged; }
	void SetPrivileged(bool bPrivileged) { m_bPrivileged = bPrivileged; }

	// A dependency that left the registry reads as null.
	size_t GetDependencyCount() const { return m_Dependencies.size(); }
	CResource* GetDependency(size_t Index) const;
	// Forgets the resource wherever it is listed as a dependency (it stays listed, as null).
	void ForgetDependency(CResource* pResource);

	const std::vector<tResourceScript>& GetServerScripts() const { return m_ServerScripts; }
	const std::vector<tResourceScript>& GetClientScripts() const { return m_ClientScripts; }
	const std::vector<tResourceFile>& GetClientFiles() const { return m_ClientFiles; }
	CScriptEnvironment* GetLuaEnvironment() const { return m_pLuaEnvironment; }
	CScriptEnvironment* GetJSEnvironment() const { return m_pJSEnvironment; }
	CScriptEnvironment* GetSquirrelEnvironment() const { return m_pSquirrelEnvironment; }
	CTARArchive* GetArchive() const { return m_pArchive; }
	CArgumentMap& GetExports() { return m_Exports; }

	// The manager is going away before this resource: forget it, so destruction touches none of its registries.
	void DetachOwner() { m_pOwner = nullptr; }

	CResourceMgr* m_pOwner;
	std::string m_Name;
	CScriptEnvironment* m_pLuaEnvironment;
	CScriptEnvironment* m_pJSEnvironment;
	CScriptEnvironment* m_pSquirrelEnvironment;
	std::vector<Weak<CResource>> m_Dependencies;
	std::vector<tResourceScript> m_ServerScripts;
	std::vector<tResourceScript> m_ClientScripts;
	std::vector<tResourceFile> m_ClientFiles;
	bool m_bPrivileged;
	bool m_bStarting;
	// Set once an environment exists for every language that is registered; cleared by Stop.
	bool m_bStarted;
	bool m_bStopping;
	std::string m_FolderPath;
	std::string m_ArchivePath;
	AutoDelete<CTARArchive> m_pArchive;
	CArgumentMap m_Exports;
	std::string m_LoadingMap;

private:
	CVirtualFileMgr* GetFileSystem() const;
	// Opens meta.xml or a file it names: always inside the resource, and only inside the archive of an archive
	// resource.
	Stream* OpenMemberFile(const char* szPath);
	bool LoadDependencies(const CElementChunk* pRoot);
	bool LoadScriptEntries(const CElementChunk* pRoot, bool bMaps);
	bool LoadFileEntries(const CElementChunk* pRoot, bool bServer);
	bool ReadScriptEntry(const char* szSrc, eScriptType eType, bool bServerSide, bool bMap);
	void UpdateHtDocs();
	// Copies one client file to its place on disk; false with the reason when any step fails.
	bool PublishClientFile(const tResourceFile& File, const std::string& DiskTarget, std::string& Reason);
	bool RunScripts();
	void CreateEnvironments();
	void DestroyEnvironments();
	// What goes when the resource stops: every handler, timer and bind it made or that calls its code
	// (CFunction::GoesWithResource). Its exports stay, for the next start to replace.
	void RemoveRegistrations();
};
