#pragma once
// The real resource manager over a file system rooted in a fresh directory, as the server runs it, with the log
// captured: the base of the language tests that run their scripts as resources. The language's fixture registers
// its language with the manager's scripting.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Engine/Context.h"
#include "Engine/FileSystem.h"
#include "Engine/TempDirectory.h"
#include "Scripting/Resource.h"
#include "Scripting/ResourceMgr.h"
#include "Support/ScriptHostFixture.h"

// A resource manager that reads its resources from the given file system.
class CFolderResourceMgr : public CResourceMgr
{
public:
	CFolderResourceMgr(Context* pContext, CFileSystem* pFileSystem) : CResourceMgr(pContext)
	{
		m_pFileSystem = pFileSystem;
	}
	~CFolderResourceMgr() override { ClearAllResources(); }
};

class ResourceHostFixture : public ::testing::Test
{
protected:
	// szExtension and szLanguage: the file ending and the meta.xml language of the scripts WriteResource writes.
	ResourceHostFixture(const char* szExtension, const char* szLanguage) :
		m_Log(&m_Context), m_Extension(szExtension), m_Language(szLanguage)
	{
		m_FileSystem.Mount(new CMountedPath((m_Dir.Path() + "/").c_str()));
		m_pManager.reset(new CFolderResourceMgr(&m_Context, &m_FileSystem));
		m_pManager->SetServer(true);
	}

	// A folder resource whose server scripts have the given texts, one file each, run in that order.
	void WriteResource(const std::string& Name, const std::vector<std::string>& Scripts)
	{
		std::string Meta = "<meta>\n";
		for (size_t i = 0; i < Scripts.size(); i++)
		{
			std::string File = "s" + std::to_string(i) + m_Extension;
			Meta += "<script src=\"" + File + "\" type=\"server\" language=\"" + m_Language + "\" />\n";
			m_Dir.WriteFile("resources/" + Name + "/" + File, Scripts[i]);
		}
		m_Dir.WriteFile("resources/" + Name + "/meta.xml", Meta + "</meta>\n");
	}

	CTempDirectory m_Dir;
	Context m_Context;
	CCapturedLog m_Log;
	CFileSystem m_FileSystem;
	std::unique_ptr<CFolderResourceMgr> m_pManager;

private:
	std::string m_Extension;
	std::string m_Language;
};
