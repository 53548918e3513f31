// What a stopping resource takes with it: every element it owns is destroyed everywhere, the elements of other
// resources and those of no resource stay. The server runs in the test's process so elements can be given owners.

#include <gtest/gtest.h>
#include <memory>

#include "InProcessServer.h"
#include "ServerManager.h"
#include "Support/TestElement.h"

#include "Scripting/Resource.h"

using namespace ServerTest;
using namespace VexaTest;

namespace
{
constexpr uint32_t ENTITY_TYPE = 4;

class ServerResourceMgrTest : public ::testing::Test
{
protected:
	void SetUp() override
	{
		m_pServer = std::make_unique<CInProcessServer>("", false);
		ASSERT_TRUE(m_pServer->Start());
		m_pServer->Attach(m_Client);
		ASSERT_TRUE(m_Client.Join(m_pServer->GetPort(), tJoinRequest()));
		m_Client.TakeAll();
	}

	CServerManager* Manager() { return m_pServer->GetServer().GetManager(); }

	// A registered element owned by the resource (none for null); returns its network id.
	int32_t AddElement(CResource* pOwner)
	{
		Strong<CTestElement> pElement = Strong<CTestElement>::New(new CTestElement(Manager(), ENTITY_TYPE));
		pElement->SetResource(pOwner);
		EXPECT_TRUE(Manager()->RegisterNetObject(pElement));
		return pElement->GetId();
	}

	std::unique_ptr<CInProcessServer> m_pServer;
	CGameClient m_Client;
};
}

TEST_F(ServerResourceMgrTest, StoppingResourceDestroysOnlyItsOwnElements)
{
	CServerResourceMgr& Resources = m_pServer->GetServer().GetResourceMgr();
	Strong<CResource> pStopping = Strong<CResource>::New(new CResource(&Resources, "stopping"));
	Strong<CResource> pOther = Strong<CResource>::New(new CResource(&Resources, "other"));
	const int32_t iFirst = AddElement(pStopping);
	const int32_t iOthers = AddElement(pOther);
	const int32_t iNobodys = AddElement(nullptr);
	const int32_t iSecond = AddElement(pStopping);

	Resources.RemoveThingsAssociatedWithResource(pStopping);
	EXPECT_FALSE(Manager()->DoesIdExist(iFirst));
	EXPECT_FALSE(Manager()->DoesIdExist(iSecond));
	EXPECT_TRUE(Manager()->DoesIdExist(iOthers));
	EXPECT_TRUE(Manager()->DoesIdExist(iNobodys));

	// Each destruction tells every client, in slot order.
	for (int32_t iId : {iFirst, iSecond})
	{
		tReceivedMessage Message;
		ASSERT_TRUE(m_Client.WaitForMessage(MSG_DESTROY, Message)) << iId;
		EXPECT_EQ(Message.m_Body, CTestMessage().U16(1).I32(iId).GetBytes());
	}
}
