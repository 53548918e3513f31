// The WebSocket links against a WebSocket implementation nobody here wrote (Python's websockets): a link as a
// server with a sub-protocol, and as a client with a sub-protocol and extra handshake headers, both serviced only
// by polls from the test's own thread, as the main loop does.

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "Engine/KError.h"
#include "Network/BinaryStream.h"
#include "Network/HttpServer.h"
#include "Network/WebConnection.h"
#include "Support/ChildProcess.h"
#include "Support/Ports.h"
#include "Support/WebTool.h"

using namespace VexaTest;

namespace
{
const char PROTOCOL[] = "vexa-test";

// A link that writes down what reaches its handlers.
class CRecordingLink : public WebConnection
{
public:
	std::vector<std::string> m_Events;
	std::vector<lws*> m_Connections;
	bool m_bRouteHttp = false;
	bool m_bStopOnDisconnect = false;
	bool m_bRunningAfterStopInHandler = false;

	size_t Count(const std::string& Event) const
	{
		size_t Count = 0;
		for (const std::string& Recorded : m_Events)
			Count += Recorded == Event;
		return Count;
	}

protected:
	int EventHandler(lws* pConnection, const tWebEvent& Event) override
	{
		if (m_bRouteHttp && Event.m_eType == WEB_EVENT_HTTP)
			return CHttpServer::HTTPHandler(*Event.m_pCallback);
		return WebConnection::EventHandler(pConnection, Event);
	}

	void ProcessPacket(lws* /*pConnection*/, unsigned uiId, Stream* pStream) override
	{
		std::vector<uint8_t> Rest(static_cast<size_t>(pStream->GetLength() - pStream->Tell()));
		Rest.resize(Rest.empty() ? 0 : pStream->Read(Rest.data(), Rest.size()));
		m_Events.push_back("packet " + std::to_string(uiId) + " " + ToHex(Rest));
	}

	void OnPlayerConnect(lws* pConnection) override
	{
		m_Events.push_back("connect");
		m_Connections.push_back(pConnection);
	}

	void OnPlayerDisconnect(lws* /*pConnection*/) override
	{
		m_Events.push_back("disconnect");
		if (m_bStopOnDisconnect)
		{
			StopServer();
			m_bRunningAfterStopInHandler = IsRunning();
		}
	}
};

// Polls the link until the condition holds; false after the time-out.
bool PollUntil(WebConnection& Link, const std::function<bool()>& Condition, int iTimeoutMs = 10000)
{
	const auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(iTimeoutMs);
	while (!Condition())
	{
		if (std::chrono::steady_clock::now() >= Deadline)
			return false;
		Link.UpdateNetwork();
		usleep(1000);
	}
	return true;
}

std::function<void()> Polling(WebConnection& Link)
{
	return [&Link] { Link.UpdateNetwork(); };
}

std::string PacketBytes(Packet& Message)
{
	const uint8_t* pData = Message.GetData();
	return ToHex(std::vector<uint8_t>(pData, pData + Message.GetSize()));
}

class WebConnectionServerTest : public ::testing::Test
{
protected:
	void SetUp() override
	{
		m_usPort = FindFreePort();
		ASSERT_NE(m_usPort, 0);
		ASSERT_TRUE(m_Link.StartServer(m_usPort, PROTOCOL)) << g_szError;
	}

	// A client that asked for the sub-protocol (or none) and whose handshake completed.
	void OpenClient(CChildProcess& Client, const char* szProtocol = PROTOCOL)
	{
		std::vector<std::string> Arguments{PYTHON, WebToolsScript(), "ws-client",
			"ws://127.0.0.1:" + std::to_string(m_usPort) + "/"};
		if (szProtocol)
			Arguments.push_back(szProtocol);
		const size_t Connected = m_Link.Count("connect");
		ASSERT_TRUE(Client.Start(Arguments));
		ASSERT_TRUE(Client.WaitForOutput("open ", 20000, Polling(m_Link))) << Client.GetOutput();
		ASSERT_TRUE(PollUntil(m_Link, [&] { return m_Link.Count("connect") > Connected; }));
	}

	void Send(CChildProcess& Client, const std::string& Command)
	{
		ASSERT_TRUE(Client.WriteInput(Command + "\n"));
	}

	uint16_t m_usPort = 0;
	CRecordingLink m_Link;
};
}

TEST_F(WebConnectionServerTest, FramedMessagesReachProcessPacketAndOthersAreDropped)
{
	CChildProcess Client;
	ASSERT_NO_FATAL_FAILURE(OpenClient(Client));
	EXPECT_NE(Client.GetOutput().find("open vexa-test"), std::string::npos);

	const char* const rgszFrames[] = {
		"860234525401000000",         // id 1, nothing after the header
		"86023452540700000061626300", // id 7 with four bytes of fields
		"0234525401000000",           // no lead byte
		"86",                         // the lead byte alone
		"8602345254",                 // no id
		"86ffffffff01000000",         // another magic
		"",                           // empty
	};
	for (const char* szFrame : rgszFrames)
		Send(Client, std::string("send ") + szFrame);
	// Fragments of one message arrive as one message.
	Send(Client, "sendfrag 86023452 5409000000 ff");
	Send(Client, "send 860234525463000000");
	ASSERT_TRUE(PollUntil(m_Link, [&] { return m_Link.Count("packet 99 ") == 1; })) << Client.GetOutput();

	const std::vector<std::string> Expected{"connect", "packet 1 ", "packet 7 61626300", "packet 9 ff", "packet 99 "};
	EXPECT_EQ(m_Link.m_Events, Expected);
}

TEST_F(WebConnectionServerTest, OutgoingMessagesAreThePacketBytesAsBinaryFrames)
{
	CChildProcess Client;
	ASSERT_NO_FATAL_FAILURE(OpenClient(Client));

	Packet WithHeader(5);
	CBinaryWriter(&WithHeader).WriteUInt8(0xab);
	Packet WithoutHeader;
	CBinaryWriter(&WithoutHeader).WriteUInt8(0x04);
	ASSERT_TRUE(m_Link.SendPacket(&WithHeader));
	ASSERT_TRUE(m_Link.SendPacket(m_Link.m_Connections[0], &WithoutHeader));

	EXPECT_TRUE(Client.WaitForOutput("recv " + PacketBytes(WithHeader) + "\n", 10000, Polling(m_Link)));
	EXPECT_TRUE(Client.WaitForOutput("recv 04\n", 10000, Polling(m_Link))) << Client.GetOutput();
	EXPECT_EQ(PacketBytes(WithHeader), "0234525405000000ab");

	Send(Client, "close");
	ASSERT_TRUE(PollUntil(m_Link, [&] { return m_Link.Count("disconnect") == 1; }));
	EXPECT_EQ(m_Link.GetConnectionCount(), 0u);
}

TEST_F(WebConnectionServerTest, ClientsWithoutTheSubProtocolAreTakenAndThoseAskingForAnotherRefused)
{
	CChildProcess Plain;
	ASSERT_NO_FATAL_FAILURE(OpenClient(Plain, nullptr));
	EXPECT_NE(Plain.GetOutput().find("open -"), std::string::npos);

	CChildProcess Other;
	ASSERT_TRUE(Other.Start({PYTHON, WebToolsScript(), "ws-client", "ws://127.0.0.1:" + std::to_string(m_usPort) + "/",
		"another-protocol"}));
	EXPECT_TRUE(Other.WaitForOutput("refused", 20000, Polling(m_Link))) << Other.GetOutput();
	EXPECT_EQ(m_Link.Count("connect"), 1u);
}

TEST_F(WebConnectionServerTest, AMessageOverTheSizeLimitClosesItsConnection)
{
	struct tCase
	{
		size_t m_Size;
		bool m_bAccepted;
	};
	const tCase rgCases[] = {{WebConnection::MAX_MESSAGE_SIZE, true}, {WebConnection::MAX_MESSAGE_SIZE + 1, false}};
	for (const tCase& Case : rgCases)
	{
		SCOPED_TRACE(Case.m_Size);
		m_Link.m_Events.clear();
		CChildProcess Client;
		ASSERT_NO_FATAL_FAILURE(OpenClient(Client));
		// The header, then fields up to the size, sent in two fragments.
		const std::string Fields((Case.m_Size - 9) * 2, 'e');
		Send(Client, "sendfrag 8602345254 02000000" + Fields.substr(0, 1000) + " " + Fields.substr(1000));
		if (Case.m_bAccepted)
		{
			EXPECT_TRUE(PollUntil(m_Link, [&] { return m_Link.m_Events.size() == 2; }));
			ASSERT_EQ(m_Link.m_Events.size(), 2u);
			EXPECT_EQ(m_Link.m_Events[1].substr(0, 9), "packet 2 ");
			Send(Client, "close");
		}
		else
		{
			EXPECT_TRUE(Client.WaitForOutput("closed 1009", 10000, Polling(m_Link))) << Client.GetOutput();
			EXPECT_TRUE(PollUntil(m_Link, [&] { return m_Link.Count("disconnect") == 1; }));
			EXPECT_EQ(m_Link.m_Events, (std::vector<std::string>{"connect", "disconnect"}));
		}
		ASSERT_TRUE(PollUntil(m_Link, [&] { return m_Link.GetConnectionCount() == 0; }));
	}
}

TEST_F(WebConnectionServerTest, FramesGoOnlyToHandshakenConnectionsAndRepliesOnlyToTheirConnection)
{
	// A plain connection that never upgrades, open while frames are sent.
	const int iPlain = socket(AF_INET, SOCK_STREAM, 0);
	ASSERT_GE(iPlain, 0);
	sockaddr_in Address{};
	Address.sin_family = AF_INET;
	Address.sin_port = htons(m_usPort);
	Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
	ASSERT_EQ(connect(iPlain, reinterpret_cast<sockaddr*>(&Address), sizeof(Address)), 0);

	CChildProcess First;
	CChildProcess Second;
	ASSERT_NO_FATAL_FAILURE(OpenClient(First));
	ASSERT_NO_FATAL_FAILURE(OpenClient(Second));
	ASSERT_EQ(m_Link.m_Connections.size(), 2u);

	Packet ToFirst(1);
	CBinaryWriter(&ToFirst).WriteString("first only");
	Packet ToEveryone(2);
	ASSERT_TRUE(m_Link.SendPacket(m_Link.m_Connections[0], &ToFirst));
	ASSERT_TRUE(m_Link.SendPacket(&ToEveryone));
	EXPECT_TRUE(First.WaitForOutput("recv " + PacketBytes(ToFirst), 10000, Polling(m_Link)));
	EXPECT_TRUE(First.WaitForOutput("recv " + PacketBytes(ToEveryone), 10000, Polling(m_Link)));
	EXPECT_TRUE(Second.WaitForOutput("recv " + PacketBytes(ToEveryone), 10000, Polling(m_Link)));
	EXPECT_EQ(Second.GetOutput().find("recv " + PacketBytes(ToFirst)), std::string::npos);

	char Buffer[64];
	EXPECT_EQ(recv(iPlain, Buffer, sizeof(Buffer), MSG_DONTWAIT), -1);
	EXPECT_EQ(errno, EAGAIN);
	close(iPlain);

	// A connection that is not one of the link's takes nothing.
	EXPECT_FALSE(m_Link.SendPacket(reinterpret_cast<lws*>(&Buffer), &ToFirst));
}

TEST_F(WebConnectionServerTest, APausedConnectionsMessagesWaitAndOneClosedAfterItsOutputGetsItFirst)
{
	CChildProcess Client;
	ASSERT_NO_FATAL_FAILURE(OpenClient(Client));
	lws* pConnection = m_Link.m_Connections[0];
	EXPECT_EQ(m_Link.GetPeerAddress(pConnection), "127.0.0.1");

	// Paused: messages sent in one write wait, however long the link is polled, and come whole and in order after.
	m_Link.PauseReceiving(pConnection, true);
	Send(Client, "sendmany 200 860234525401000000");
	Send(Client, "send 860234525402000000");
	EXPECT_FALSE(PollUntil(m_Link, [&] { return m_Link.Count("packet 1 ") > 0; }, 300));
	m_Link.PauseReceiving(pConnection, false);
	ASSERT_TRUE(PollUntil(m_Link, [&] { return m_Link.Count("packet 2 ") == 1; })) << Client.GetOutput();
	EXPECT_EQ(m_Link.Count("packet 1 "), 200u);
	EXPECT_EQ(m_Link.m_Events.back(), "packet 2 ");

	// What was queued goes out before the close frame with its status; nothing is queued after.
	Packet First(1);
	Packet Second(2);
	ASSERT_TRUE(m_Link.SendPacket(pConnection, &First));
	ASSERT_TRUE(m_Link.SendPacket(pConnection, &Second));
	m_Link.CloseConnectionAfterOutput(pConnection, 1008, "enough");
	EXPECT_FALSE(m_Link.SendPacket(pConnection, &First));
	EXPECT_TRUE(Client.WaitForOutput("closed 1008", 10000, Polling(m_Link))) << Client.GetOutput();
	const std::string Output = Client.GetOutput();
	EXPECT_NE(Output.find("recv " + PacketBytes(First) + "\nrecv " + PacketBytes(Second) + "\nclosed 1008"),
		std::string::npos) << Output;
	EXPECT_TRUE(PollUntil(m_Link, [&] { return m_Link.Count("disconnect") == 1; }));
}

TEST_F(WebConnectionServerTest, PlainHttpOnTheLinksPortIsAnsweredByTheHandlerItIsRoutedTo)
{
	m_Link.m_bRouteHttp = true;
	CChildProcess Curl;
	ASSERT_TRUE(Curl.Start({CURL, "-s", "http://127.0.0.1:" + std::to_string(m_usPort) + "/SIG"}));
	EXPECT_EQ(Curl.WaitForExit(20000, Polling(m_Link)), 0);
	EXPECT_EQ(Curl.GetOutput(), "DODI");
	EXPECT_EQ(m_Link.Count("connect"), 0u);
}

TEST_F(WebConnectionServerTest, StopFromInsideTheHandlerTakesEffectWhenThePollReturns)
{
	m_Link.m_bStopOnDisconnect = true;
	CChildProcess Client;
	ASSERT_NO_FATAL_FAILURE(OpenClient(Client));
	Send(Client, "close");
	ASSERT_TRUE(PollUntil(m_Link, [&] { return m_Link.Count("disconnect") == 1; }));
	EXPECT_TRUE(m_Link.m_bRunningAfterStopInHandler);
	EXPECT_FALSE(m_Link.IsRunning());

	Packet Message(1);
	EXPECT_FALSE(m_Link.SendPacket(&Message));
	m_Link.UpdateNetwork();
	m_Link.StopServer();
}

TEST_F(WebConnectionServerTest, StoppingClosesEveryConnectionAndTellsTheHandler)
{
	CChildProcess Client;
	ASSERT_NO_FATAL_FAILURE(OpenClient(Client));
	m_Link.StopServer();
	EXPECT_FALSE(m_Link.IsRunning());
	EXPECT_EQ(m_Link.Count("disconnect"), 1u);
	EXPECT_TRUE(Client.WaitForOutput("closed")) << Client.GetOutput();
}

TEST_F(WebConnectionServerTest, ASecondStartAndABusyPortFail)
{
	EXPECT_FALSE(m_Link.StartServer(m_usPort, PROTOCOL));
	EXPECT_TRUE(m_Link.IsRunning());

	CRecordingLink Other;
	EXPECT_FALSE(Other.StartServer(m_usPort, PROTOCOL));
	EXPECT_NE(std::string(g_szError).find("Address already in use"), std::string::npos) << g_szError;
	EXPECT_FALSE(Other.IsRunning());
}

namespace
{
class WebConnectionClientTest : public ::testing::Test
{
protected:
	void StartStandIn(const char* szProtocol)
	{
		m_usPort = FindFreePort();
		ASSERT_NE(m_usPort, 0);
		ASSERT_TRUE(m_StandIn.Start({PYTHON, WebToolsScript(), "ws-server", std::to_string(m_usPort), szProtocol}));
		ASSERT_TRUE(m_StandIn.WaitForOutput("ready")) << m_StandIn.GetOutput();
	}

	std::string Url(const char* szHost) const
	{
		return "ws://" + std::string(szHost) + ":" + std::to_string(m_usPort) + "/";
	}

	uint16_t m_usPort = 0;
	CChildProcess m_StandIn;
	CRecordingLink m_Link;
};
}

TEST_F(WebConnectionClientTest, TheHandshakeCarriesTheSubProtocolAndTheExtraHeaders)
{
	ASSERT_NO_FATAL_FAILURE(StartStandIn("ws_serverlisting3"));
	ASSERT_TRUE(m_Link.Connect((Url("127.0.0.1") + "listing").c_str(), "ws_serverlisting3",
		"User-Agent: VexaTest/1.0  (Linux x86_64) Tail/2\r\n"))
		<< g_szError;
	ASSERT_TRUE(PollUntil(m_Link, [&] { return m_Link.Count("connect") == 1; })) << m_StandIn.GetOutput();
	ASSERT_TRUE(m_StandIn.WaitForOutput("open\n", 10000, Polling(m_Link)));
	const std::string Handshake = m_StandIn.GetOutput();
	EXPECT_NE(Handshake.find("request /listing\n"), std::string::npos) << Handshake;
	EXPECT_NE(Handshake.find("header sec-websocket-protocol ws_serverlisting3\n"), std::string::npos) << Handshake;
	EXPECT_NE(Handshake.find("header user-agent VexaTest/1.0  (Linux x86_64) Tail/2\n"), std::string::npos)
		<< Handshake;
	EXPECT_NE(Handshake.find("header host 127.0.0.1:" + std::to_string(m_usPort) + "\n"), std::string::npos)
		<< Handshake;

	// A header-less packet goes out as exactly its bytes; an incoming message in the base framing is read.
	Packet Message;
	CBinaryWriter(&Message).Write7BitEncodedInt(200);
	ASSERT_TRUE(m_Link.SendPacket(&Message));
	EXPECT_TRUE(m_StandIn.WaitForOutput("recv c801\n", 10000, Polling(m_Link))) << m_StandIn.GetOutput();
	ASSERT_TRUE(m_StandIn.WriteInput("send 8602345254030000007a\n"));
	EXPECT_TRUE(PollUntil(m_Link, [&] { return m_Link.Count("packet 3 7a") == 1; }));

	ASSERT_TRUE(m_StandIn.WriteInput("close\n"));
	EXPECT_TRUE(PollUntil(m_Link, [&] { return m_Link.Count("disconnect") == 1; }));
	EXPECT_EQ(m_Link.GetConnectionCount(), 0u);
}

TEST_F(WebConnectionClientTest, TheRequestPathIsTheOneTheUrlNames)
{
	ASSERT_NO_FATAL_FAILURE(StartStandIn("ws_serverlisting3"));
	const std::pair<const char*, const char*> rgCases[] = {
		{"/", "/"},
		{"", "/"},
		{"/a/b/", "/a/b/"},
		{"//x", "//x"},
	};
	for (const auto& Case : rgCases)
	{
		SCOPED_TRACE(Case.first);
		const size_t Offset = m_StandIn.GetOutput().size();
		CRecordingLink Link;
		const std::string Url = "ws://127.0.0.1:" + std::to_string(m_usPort) + Case.first;
		ASSERT_TRUE(Link.Connect(Url.c_str(), "ws_serverlisting3")) << g_szError;
		EXPECT_TRUE(m_StandIn.WaitForOutput("request " + std::string(Case.second) + "\n", 10000, Polling(Link), Offset))
			<< m_StandIn.GetOutput().substr(Offset);
	}
}

TEST_F(WebConnectionClientTest, HostNamesAreResolvedAndConnected)
{
	ASSERT_NO_FATAL_FAILURE(StartStandIn("ws_serverlisting3"));
	ASSERT_TRUE(m_Link.Connect(Url("localhost").c_str(), "ws_serverlisting3")) << g_szError;
	EXPECT_TRUE(PollUntil(m_Link, [&] { return m_Link.Count("connect") == 1; })) << m_StandIn.GetOutput();
	// The stand-in's output is read on a thread of its own and may lag behind the link's event.
	EXPECT_TRUE(m_StandIn.WaitForOutput("header host localhost:" + std::to_string(m_usPort), 10000, Polling(m_Link)))
		<< m_StandIn.GetOutput();
}

TEST_F(WebConnectionClientTest, AConnectionThatCannotBeMadeIsReportedAsADisconnect)
{
	const uint16_t usClosedPort = FindFreePort();
	// The system completes connections to it, and then nobody ever answers the handshake.
	const uint16_t usSilentPort = FindFreePort();
	const int iSilent = BindPort(usSilentPort, SOCK_STREAM, INADDR_LOOPBACK);
	ASSERT_GE(iSilent, 0);
	ASSERT_EQ(listen(iSilent, 16), 0);
	const std::string rgUrls[] = {
		"ws://127.0.0.1:" + std::to_string(usClosedPort) + "/",
		"ws://no-such-host.invalid/",
		"ws://127.0.0.1:" + std::to_string(usSilentPort) + "/",
	};
	for (const std::string& Url : rgUrls)
	{
		SCOPED_TRACE(Url);
		CRecordingLink Link;
		Link.SetHandshakeTimeout(1);
		ASSERT_TRUE(Link.Connect(Url.c_str(), "ws_serverlisting3")) << g_szError;
		EXPECT_TRUE(PollUntil(Link, [&] { return Link.Count("disconnect") == 1; }, 30000));
		EXPECT_EQ(Link.Count("connect"), 0u);
		// Reported once: the link forgets the connection it gave up on.
		PollUntil(Link, [] { return false; }, 200);
		EXPECT_EQ(Link.Count("disconnect"), 1u);
	}
	close(iSilent);
}

TEST_F(WebConnectionClientTest, UnusableUrlsAndHeaderLinesAreRefused)
{
	struct tCase
	{
		const char* m_szUrl;
		const char* m_szHeaders;
	};
	const tCase rgCases[] = {
		{"http://127.0.0.1/", nullptr},
		{"wss://127.0.0.1/", nullptr},
		{"ws://", nullptr},
		{"", nullptr},
		{"ws://127.0.0.1:99999/", nullptr},
		{"ws://127.0.0.1/", "NoColon\r\n"},
		{"ws://127.0.0.1/", "Bad Name: x\r\n"},
		{"ws://127.0.0.1/", ": no name\r\n"},
	};
	for (const tCase& Case : rgCases)
	{
		SCOPED_TRACE(Case.m_szUrl);
		CRecordingLink Link;
		EXPECT_FALSE(Link.Connect(Case.m_szUrl, "ws_serverlisting3", Case.m_szHeaders));
		EXPECT_FALSE(Link.IsRunning());
	}
}

TEST_F(WebConnectionClientTest, AStoppedLinkSendsNothing)
{
	Packet Message(1);
	EXPECT_FALSE(m_Link.SendPacket(&Message));
	m_Link.UpdateNetwork();
	m_Link.StopServer();
	EXPECT_FALSE(m_Link.IsRunning());
}
