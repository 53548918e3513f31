// The gate of the client file check: a client that has not passed it can send nothing but its answer, and once
// it passed, a further answer is dropped. The server runs in the test's process so its records can be read.

#include <gtest/gtest.h>
#include <memory>

#include "Game/GTAClient.h"
#include "InProcessServer.h"
#include "Support/Transport.h"

using namespace ServerTest;
using namespace VexaTest;

namespace
{
class ClientFileCheck : public ::testing::TestWithParam<bool>
{
protected:
	void SetUp() override
	{
		m_pServer = std::make_unique<CInProcessServer>("", GetParam());
		ASSERT_TRUE(m_pServer->Start());
		m_pServer->Attach(m_Client);
	}

	CGTAClient* Record()
	{
		return static_cast<CGTAClient*>(m_pServer->GetServer().GetClients().GetMachine(m_Client.GetIndex()));
	}

	std::unique_ptr<CInProcessServer> m_pServer;
	CGameClient m_Client;
};
}

TEST_P(ClientFileCheck, UnverifiedClientCanOnlyAnswerTheCheck)
{
	tJoinInfo Info;
	ASSERT_TRUE(m_Client.Connect(m_pServer->GetPort()));
	ASSERT_TRUE(m_Client.SendJoinRequest(tJoinRequest()));
	ASSERT_TRUE(m_Client.WaitForJoinInfo(Info));
	ASSERT_NE(Record(), nullptr);

	// Ready and disconnect before the answer are dropped; messages are handled in order, so once the answer
	// verified the client both have been seen.
	ASSERT_TRUE(m_Client.SendReady());
	ASSERT_TRUE(m_Client.SendDisconnect());
	ASSERT_TRUE(m_Client.SendFileCheckAnswer({}));
	ASSERT_TRUE(m_pServer->PassUntil([&] { return Record() && Record()->IsVerified(); }));
	EXPECT_FALSE(Record()->IsJoined());
	EXPECT_FALSE(m_Client.IsDisconnected());

	// A further answer, even a wrong one, is dropped; ready now counts.
	CTestMessage Wrong(MSG_FILE_CHECK);
	Wrong.U32(5);
	ASSERT_TRUE(m_Client.Send(Wrong));
	ASSERT_TRUE(m_Client.SendReady());
	tReceivedMessage Joined;
	EXPECT_TRUE(m_Client.WaitForMessage(MSG_JOINED, Joined));
	ASSERT_NE(Record(), nullptr);
	EXPECT_TRUE(Record()->IsJoined());
	EXPECT_TRUE(Record()->IsVerified());
}

TEST_P(ClientFileCheck, EmptyListIsFailedByAnAnswerOfOne)
{
	tJoinInfo Info;
	ASSERT_TRUE(m_Client.Connect(m_pServer->GetPort()));
	ASSERT_TRUE(m_Client.SendJoinRequest(tJoinRequest()));
	ASSERT_TRUE(m_Client.WaitForJoinInfo(Info));
	ASSERT_TRUE(m_Client.SendFileCheckAnswer({tDigest{}}));
	ASSERT_TRUE(m_Client.WaitForDisconnect());
	EXPECT_EQ(m_Client.GetDisconnectReason(), 14u);
	EXPECT_TRUE(m_pServer->PassUntil([&] { return m_pServer->GetServer().GetPlayerCount() == 0; }));
}

INSTANTIATE_TEST_SUITE_P(Transport, ClientFileCheck, ::testing::Bool(), DescribeTransport);
