// The resource manager of a networked game hands a starting resource's map files to the element manager it was
// given, and succeeds on its own while there is none.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Engine/Context.h"
#include "Engine/ElementChunk.h"
#include "Engine/FileSystem.h"
#include "Engine/TempDirectory.h"
#include "Multiplayer/Manager.h"
#include "Multiplayer/NetGameResourceMgr.h"
#include "Scripting/Resource.h"

namespace
{
class CFolderNetGameResourceMgr : public CNetGameResourceMgr
{
public:
	CFolderNetGameResourceMgr(Context* pContext, CFileSystem* pFileSystem) : CNetGameResourceMgr(pContext)
	{
		m_pFileSystem = pFileSystem;
		SetServer(true);
	}
};

// Records the maps it is given and answers with a fixed result.
class CRecordingManager : public CManager
{
public:
	bool LoadMap(const CElementChunk* pMap, CResource* pResource) override
	{
		m_Maps.push_back(std::string(pResource->GetName()) + ":" + pMap->GetName());
		return m_bResult;
	}

	std::vector<std::string> m_Maps;
	bool m_bResult = true;
};

class NetGameResourceMgrTest : public ::testing::Test
{
protected:
	NetGameResourceMgrTest()
	{
		m_Dir.WriteFile("resources/arena/meta.xml", "<meta>\n\t<map src=\"arena.map\" type=\"server\" />\n</meta>\n");
		m_Dir.WriteFile("resources/arena/arena.map", "<map>\n\t<vehicle x=\"1\" />\n</map>\n");
		m_FileSystem.Mount(new CMountedPath((m_Dir.Path() + "/").c_str()));
		m_Resources.RefreshResources(false);
	}

	bool StartArena()
	{
		CResource* pResource = m_Resources.FindResourceByName("arena");
		return pResource && pResource->Start();
	}

	CTempDirectory m_Dir;
	Context m_Context;
	CFileSystem m_FileSystem;
	CFolderNetGameResourceMgr m_Resources{&m_Context, &m_FileSystem};
	CRecordingManager m_Manager;
};
}

TEST_F(NetGameResourceMgrTest, MapsGoToTheElementManager)
{
	m_Resources.SetManager(&m_Manager);
	ASSERT_TRUE(StartArena());
	EXPECT_EQ(m_Manager.m_Maps, std::vector<std::string>{"arena:map"});
	m_Resources.ClearAllResources();
}

TEST_F(NetGameResourceMgrTest, MapTheElementManagerRefusesFailsTheStart)
{
	m_Manager.m_bResult = false;
	m_Resources.SetManager(&m_Manager);
	EXPECT_FALSE(StartArena());
	EXPECT_EQ(m_Manager.m_Maps.size(), 1u);
}

TEST_F(NetGameResourceMgrTest, WithoutAnElementManagerMapsSucceed)
{
	// As when the server's element manager has gone.
	m_Resources.SetManager(&m_Manager);
	m_Resources.SetManager(nullptr);
	EXPECT_TRUE(StartArena());
	EXPECT_TRUE(m_Manager.m_Maps.empty());
	m_Resources.ClearAllResources();
}
