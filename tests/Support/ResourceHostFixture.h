#pragma once
// The real resource manager over a file system rooted in a fresh directory, with the log captured: the base of the
// tests that run scripts as resources. The language's fixture registers its language with the manager's scripting.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Engine/Context.h"
#include "Engine/ElementChunk.h"
#include "Engine/FileSystem.h"
#include "Engine/TempDirectory.h"
#include "Scripting/Resource.h"
#include "Scripting/ResourceMgr.h"
#include "Support/ScriptHostFixture.h"

// A resource manager that reads its resources from the given file system and records what the game's manager would
// be told about them: their state changes, their teardowns and their maps.
class CTestResourceMgr : public CResourceMgr
{
public:
	CTestResourceMgr(Context* pContext, CFileSystem* pFileSystem) : CResourceMgr(pContext)
	{
		m_pFileSystem = pFileSystem;
	}
	~CTestResourceMgr() override { ClearAllResources(); }

	void RefreshResourceState(CResource* pResource) override { m_Refreshed.push_back(pResource->GetName()); }
	void RemoveThingsAssociatedWithResource(CResource* pResource) override
	{
		m_Associated.push_back(pResource->GetName());
	}
	bool LoadMap(const CElementChunk* pMap, CResource* pResource) override
	{
		m_Maps.push_back(std::string(pResource->GetName()) + ":" + pMap->GetName());
		return m_bMapsLoad;
	}

	std::vector<std::string> m_Refreshed;
	std::vector<std::string> m_Associated;
	std::vector<std::string> m_Maps;
	// What LoadMap answers.
	bool m_bMapsLoad = true;
};

class ResourceHostFixture : public ::testing::Test
{
protected:
	// szExtension and szLanguage: the file ending and the meta.xml language of the scripts WriteResource writes.
	// bServer: the manager runs the server scripts and publishes client files, as the server's does.
	ResourceHostFixture(const char* szExtension, const char* szLanguage, bool bServer = true) :
		m_Log(&m_Context), m_Extension(szExtension), m_Language(szLanguage)
	{
		m_FileSystem.Mount(new CMountedPath((m_Dir.Path() + "/").c_str()));
		m_pManager.reset(new CTestResourceMgr(&m_Context, &m_FileSystem));
		m_pManager->SetServer(bServer);
	}

	// A folder resource whose server scripts have the given texts, one file each, run in that order; Extra goes into
	// meta.xml after them.
	void WriteResource(const std::string& Name, const std::vector<std::string>& Scripts, const std::string& Extra = "")
	{
		std::string Meta = "<meta>\n";
		for (size_t i = 0; i < Scripts.size(); i++)
		{
			std::string File = "s" + std::to_string(i) + m_Extension;
			Meta += "<script src=\"" + File + "\" type=\"server\" language=\"" + m_Language + "\" />\n";
			m_Dir.WriteFile("resources/" + Name + "/" + File, Scripts[i]);
		}
		m_Dir.WriteFile("resources/" + Name + "/meta.xml", Meta + Extra + "</meta>\n");
	}

	// Everything logged since the fixture was made or the log was last cleared.
	std::string LogText() const { return m_Log.Text(); }
	void ClearLog() { m_Log.Skip(); }
	bool Logged(const std::string& Text) const { return LogText().find(Text) != std::string::npos; }
	size_t CountLogged(const std::string& Text) const
	{
		const std::string Log = LogText();
		size_t Count = 0;
		for (size_t i = Log.find(Text); i != std::string::npos; i = Log.find(Text, i + 1))
			Count++;
		return Count;
	}

	CTempDirectory m_Dir;
	Context m_Context;
	CCapturedLog m_Log;
	CFileSystem m_FileSystem;
	std::unique_ptr<CTestResourceMgr> m_pManager;

private:
	std::string m_Extension;
	std::string m_Language;
};
