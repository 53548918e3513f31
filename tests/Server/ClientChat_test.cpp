// Black-box tests of what joined clients say to the server's scripts: chat lines, commands, network events and
// key presses, through the real server binary and game-client stand-ins, with and without the network thread.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ClientInput.h"
#include "ResourceTestSupport.h"
#include "Support/GameClient.h"
#include "Support/Transport.h"

using namespace ServerTest;
using namespace VexaTest;

namespace
{
constexpr uint32_t CHAT_TYPE_CHAT = 1;

// Value tags of the script value encoding.
constexpr uint8_t TAG_STRING = 2;
constexpr uint8_t TAG_INTEGER = 4;

CTestMessage CommandMessage(const std::string& Name, const std::string& Parameters)
{
	CTestMessage Message(MSG_COMMAND);
	Message.U32(static_cast<uint32_t>(Name.size())).Bytes(Name.data(), Name.size());
	Message.U32(static_cast<uint32_t>(Parameters.size())).Bytes(Parameters.data(), Parameters.size());
	return Message;
}

// Message 11 with the name and the arguments 1 and "a".
CTestMessage PingMessage(const std::string& Name)
{
	CTestMessage Message(MSG_NETWORK_EVENT);
	Message.String(Name).U8(2).U8(TAG_INTEGER).I32(1).U8(TAG_STRING).String("a");
	return Message;
}

struct tChatLine
{
	uint32_t m_uiColour = 0;
	std::string m_Text;
};

bool ReadChatLine(const tReceivedMessage& Message, tChatLine& Line)
{
	CTestMessageReader Reader(Message.m_Body);
	uint32_t uiLength = 0;
	std::vector<uint8_t> Bytes;
	if (!Reader.U32(uiLength) || !Reader.U32(Line.m_uiColour) || !Reader.Bytes(uiLength, Bytes) || !Reader.IsAtEnd())
		return false;
	Line.m_Text.assign(Bytes.begin(), Bytes.end());
	return true;
}

// Every chat line the client receives up to and including the one with the text.
std::vector<std::string> ChatLinesThrough(CGameClient& Client, const std::string& Last)
{
	std::vector<std::string> Lines;
	tReceivedMessage Message;
	while (Client.WaitForMessage(MSG_CHAT, Message))
	{
		tChatLine Line;
		EXPECT_TRUE(ReadChatLine(Message, Line));
		Lines.push_back(Line.m_Text);
		if (Line.m_Text == Last)
			break;
	}
	return Lines;
}

class ClientScriptMessages : public ::testing::TestWithParam<bool>
{
protected:
	void Start(const std::vector<std::string>& Resources)
	{
		int iPort = 0;
		const std::string Multithreaded = GetParam() ? "\t<multithreaded>true</multithreaded>\n" : "";
		StartAndWait(m_Server, MakeConfig(ResourceList(Resources) + Multithreaded, iPort));
		const std::string Count = std::to_string(Resources.size());
		ASSERT_TRUE(Printed(m_Server, Count + "/" + Count + " Resources loaded, 0 failed")) << m_Server.GetRawOutput();
		m_usPort = static_cast<uint16_t>(iPort);
	}

	void Join(CGameClient& Client, const std::string& Name)
	{
		tJoinRequest Request;
		Request.m_Name = Name;
		ASSERT_TRUE(Client.Join(m_usPort, Request));
	}

	// The lines in this order among the server's output.
	void ExpectLinesInOrder(const std::vector<std::string>& Expected)
	{
		const std::vector<std::string> Lines = m_Server.GetOutputLines();
		size_t Next = 0;
		for (const std::string& Line : Expected)
		{
			const int iAt = FindLine(Lines, Line, Next);
			ASSERT_GE(iAt, 0) << Line << "\n" << m_Server.GetRawOutput();
			Next = static_cast<size_t>(iAt) + 1;
		}
	}

	CServerProcess m_Server;
	uint16_t m_usPort = 0;
};
}

TEST_P(ClientScriptMessages, ChatGoesToEveryClientAsNameAndText)
{
	WriteResource(m_Server, "chat", {{"main.lua", "lua", R"(
addEventHandler('OnPlayerChat', function(event, client, text)
	print('heard ' .. client.name .. ' ' .. text)
	if text == 'secret' then event:preventDefault() end
end)
)"}});
	Start({"chat"});
	CGameClient First, Second;
	Join(First, "First");
	Join(Second, "Second");

	ASSERT_TRUE(First.Send(ChatMessage("secret")));
	ASSERT_TRUE(First.Send(ChatMessage("hello")));
	for (CGameClient* pClient : {&First, &Second})
	{
		tReceivedMessage Message;
		ASSERT_TRUE(pClient->WaitForMessage(MSG_CHAT, Message));
		tChatLine Line;
		ASSERT_TRUE(ReadChatLine(Message, Line));
		// The cancelled line never went out.
		EXPECT_EQ(Line.m_Text, "First: hello");
		EXPECT_EQ(Line.m_uiColour, CHAT_TYPE_CHAT);
	}
	ASSERT_TRUE(m_Server.WaitForOutput("First: hello"));
	ExpectLinesInOrder({"heard First secret", "heard First hello", "First: hello"});
	EXPECT_EQ(FindLine(m_Server.GetOutputLines(), "First: secret"), -1);
}

TEST_P(ClientScriptMessages, ChatLinesOutsideTheLimitsAreIgnored)
{
	WriteResource(m_Server, "empty", {});
	Start({"empty"});
	CGameClient Client;
	Join(Client, "Player");
	struct tCase
	{
		const char* m_szName;
		CTestMessage m_Message;
		// The line that goes out, or null when the message is ignored.
		const char* m_szSent;
	};
	const std::string Longest(4096, 'x');
	const std::string FirstPlayerLongest = "Player: " + Longest;
	const tCase Cases[] = {
		{"empty message", CTestMessage(MSG_CHAT), nullptr},
		{"length 0", CTestMessage(MSG_CHAT).U32(0), nullptr},
		{"length 4096", ChatMessage(Longest), FirstPlayerLongest.c_str()},
		{"length 4097", ChatMessage(Longest + "x"), nullptr},
		{"length beyond the message", CTestMessage(MSG_CHAT).U32(10).Bytes("abc", 3), nullptr},
		{"first byte 0", CTestMessage(MSG_CHAT).U32(3).Bytes("\0ab", 3), nullptr},
		{"zero byte inside", CTestMessage(MSG_CHAT).U32(5).Bytes("ab\0cd", 5), "Player: ab"},
	};
	int iMark = 0;
	for (const tCase& Case : Cases)
	{
		const std::string Mark = "mark " + std::to_string(iMark++);
		ASSERT_TRUE(Client.Send(Case.m_Message));
		ASSERT_TRUE(Client.Send(ChatMessage(Mark)));
		std::vector<std::string> Expected;
		if (Case.m_szSent)
			Expected.push_back(Case.m_szSent);
		Expected.push_back("Player: " + Mark);
		EXPECT_EQ(ChatLinesThrough(Client, "Player: " + Mark), Expected) << Case.m_szName;
	}
}

TEST_P(ClientScriptMessages, ControlCharactersOfChatAreEscapedInTheLogOnly)
{
	WriteResource(m_Server, "empty", {});
	Start({"empty"});
	CGameClient Client;
	Join(Client, "Player");
	const std::string Text = "bell\a esc\x1b[2J";
	ASSERT_TRUE(Client.Send(ChatMessage(Text)));
	EXPECT_EQ(ChatLinesThrough(Client, "Player: " + Text), std::vector<std::string>{"Player: " + Text});
	ASSERT_TRUE(m_Server.WaitForOutput("Player: bell\\x07 esc\\x1B[2J"));
}

TEST_P(ClientScriptMessages, SayOnTheConsoleChatsAsTheConsole)
{
	WriteResource(m_Server, "chat", {{"main.lua", "lua", R"(
addEventHandler('OnPlayerChat', function(event, client, text)
	print('heard ' .. client.name .. ' ' .. tostring(client.console) .. ' ' .. text)
end)
)"}});
	// Lines of the command file run without a client: their "say" says nothing.
	m_Server.WriteFile("commandline.txt", "say from the file\n");
	Start({"chat"});
	CGameClient Client;
	Join(Client, "Player");
	ASSERT_TRUE(m_Server.WriteInput("say hi all\n"));
	tReceivedMessage Message;
	ASSERT_TRUE(Client.WaitForMessage(MSG_CHAT, Message));
	tChatLine Line;
	ASSERT_TRUE(ReadChatLine(Message, Line));
	EXPECT_EQ(Line.m_Text, "Console: hi all");
	EXPECT_EQ(Line.m_uiColour, CHAT_TYPE_CHAT);
	ASSERT_TRUE(m_Server.WaitForOutput("Console: hi all"));
	ExpectLinesInOrder({"heard Console true hi all", "Console: hi all"});
	EXPECT_FALSE(Printed(m_Server, "from the file"));
}

TEST_P(ClientScriptMessages, CommandsReachHandlersWithTheClientLast)
{
	WriteResource(m_Server, "commands", {{"main.lua", "lua", R"(
addEventHandler('OnPlayerCommand', function(event, client, name, parameters)
	print('command event ' .. client.name .. ' [' .. name .. '] [' .. parameters .. ']')
	if name == 'blocked' then event:preventDefault() end
end)
addCommandHandler('hello', function(name, parameters, client)
	print('hello ran [' .. name .. '] [' .. tostring(parameters) .. '] ' .. client.name)
end)
addCommandHandler('blocked', function() print('blocked ran') end)
addCommandHandler('promote', function(name, parameters, client) client.administrator = true end)
)"}});
	WriteResource(m_Server, "victim", {});
	Start({"commands", "victim"});
	CGameClient Client;
	Join(Client, "Player");

	ASSERT_TRUE(Client.Send(CommandMessage("hello", "a b")));
	// Names compare without regard to case; parameters may be empty.
	ASSERT_TRUE(Client.Send(CommandMessage("HELLO", "")));
	ASSERT_TRUE(Client.Send(CommandMessage("blocked", "x")));
	// Built-in commands answer only administrators.
	ASSERT_TRUE(Client.Send(CommandMessage("stop", "victim")));
	ASSERT_TRUE(Client.Send(CommandMessage("promote", "")));
	ASSERT_TRUE(Client.Send(CommandMessage("stop", "victim")));
	ASSERT_TRUE(m_Server.WaitForOutput("STOP: Resource victim stopped."));
	ExpectLinesInOrder({"command event Player [hello] [a b]", "hello ran [hello] [a b] Player",
		"command event Player [HELLO] []", "hello ran [HELLO] [] Player", "command event Player [blocked] [x]",
		"command event Player [stop] [victim]", "command event Player [promote] []",
		"command event Player [stop] [victim]", "STOP: Stopping resource victim..."});
	EXPECT_FALSE(Printed(m_Server, "blocked ran"));
	const std::vector<std::string> Lines = m_Server.GetOutputLines();
	EXPECT_GT(FindLine(Lines, "STOP: Stopping resource victim..."), FindLine(Lines, "command event Player [promote] []"));
}

TEST_P(ClientScriptMessages, CommandLengthsOutsideTheLimitsAreIgnored)
{
	WriteResource(m_Server, "commands", {{"main.lua", "lua", R"(
addEventHandler('OnPlayerCommand', function(event, client, name, parameters)
	print('command [' .. name:sub(1, 8) .. '] ' .. #name .. ' ' .. #parameters)
end)
)"}});
	Start({"commands"});
	CGameClient Client;
	Join(Client, "Player");
	const std::string Longest(4096, 'n');
	struct tCase
	{
		const char* m_szName;
		CTestMessage m_Message;
		// The event's line, or null when the message is ignored.
		const char* m_szHeard;
	};
	const tCase Cases[] = {
		{"empty message", CTestMessage(MSG_COMMAND), nullptr},
		{"name length 0", CommandMessage("", "x"), nullptr},
		{"name length 4096", CommandMessage(Longest, ""), "command [nnnnnnnn] 4096 0"},
		{"name length 4097", CommandMessage(Longest + "n", ""), nullptr},
		{"parameters length 4096", CommandMessage("go", Longest), "command [go] 2 4096"},
		{"parameters length 4097", CommandMessage("go", Longest + "n"), nullptr},
		{"no parameter length", CTestMessage(MSG_COMMAND).U32(2).Bytes("go", 2), nullptr},
		{"parameters beyond the message", CTestMessage(MSG_COMMAND).U32(2).Bytes("go", 2).U32(5).Bytes("ab", 2),
			nullptr},
		{"name beyond the message", CTestMessage(MSG_COMMAND).U32(9).Bytes("go", 2), nullptr},
	};
	int iMark = 0;
	for (const tCase& Case : Cases)
	{
		const std::string Mark = "mark" + std::to_string(iMark++);
		const std::string MarkLine = "command [" + Mark + "] " + std::to_string(Mark.size()) + " 0";
		const size_t Before = m_Server.GetOutputLines().size();
		ASSERT_TRUE(Client.Send(Case.m_Message));
		ASSERT_TRUE(Client.Send(CommandMessage(Mark, "")));
		ASSERT_TRUE(m_Server.WaitForOutput(MarkLine)) << Case.m_szName;
		std::vector<std::string> Heard;
		const std::vector<std::string> Lines = m_Server.GetOutputLines();
		for (size_t i = Before; i < Lines.size(); i++)
		{
			if (Lines[i].rfind("command [", 0) == 0)
				Heard.push_back(Lines[i]);
		}
		std::vector<std::string> Expected;
		if (Case.m_szHeard)
			Expected.push_back(Case.m_szHeard);
		Expected.push_back(MarkLine);
		EXPECT_EQ(Heard, Expected) << Case.m_szName;
	}
}

TEST_P(ClientScriptMessages, NetworkEventsReachEveryLanguageWithTheClientFirst)
{
	WriteResource(m_Server, "events",
		{{"main.lua", "lua",
			 "addNetworkHandler('Ping', function(client, n, s) print('lua ping ' .. client.name .. ' ' .. "
			 "math.type(n) .. ' ' .. n .. ' ' .. s) end)\n"},
			{"main.js", "javascript",
				"addNetworkHandler('PING', function(client, n, s) { console.log('js ping ' + client.name + ' ' + "
				"typeof n + ' ' + n + ' ' + s); });\n"},
			{"main.nut", "squirrel",
				"addNetworkHandler(\"pInG\", function(client, n, s) { print(\"sq ping \" + client.name + \" \" + "
				"typeof n + \" \" + n + \" \" + s); });\n"}});
	Start({"events"});
	CGameClient Client;
	Join(Client, "Player");
	ASSERT_TRUE(Client.Send(PingMessage("ping")));
	ASSERT_TRUE(m_Server.WaitForOutput("sq ping"));
	ExpectLinesInOrder({"lua ping Player integer 1 a", "js ping Player number 1 a", "sq ping Player integer 1 a"});

	ASSERT_TRUE(Client.Send(PingMessage("nobody")));
	EXPECT_TRUE(m_Server.WaitForOutput("Network event nobody not bound serverside"));
	// A name that would drive the terminal is escaped in the warning.
	ASSERT_TRUE(Client.Send(PingMessage("no\x1b[2Jbody")));
	EXPECT_TRUE(m_Server.WaitForOutput("Network event no\\x1B[2Jbody not bound serverside"));

	// Arguments that cannot be read reach no handler.
	CTestMessage Malformed(MSG_NETWORK_EVENT);
	Malformed.String("ping").U8(1).U8(99);
	ASSERT_TRUE(Client.Send(Malformed));
	EXPECT_TRUE(m_Server.WaitForOutput("Failed to read network arguments for network event ping."));
	CTestMessage NoName(MSG_NETWORK_EVENT);
	NoName.VarUInt(10).Bytes("pi", 2);
	ASSERT_TRUE(Client.Send(NoName));
	ASSERT_TRUE(Client.Send(PingMessage("nobody2")));
	ASSERT_TRUE(m_Server.WaitForOutput("Network event nobody2 not bound serverside"));
	size_t Pings = 0;
	for (const std::string& Line : m_Server.GetOutputLines())
		Pings += Line.rfind("lua ping", 0) == 0 ? 1 : 0;
	EXPECT_EQ(Pings, 1u);
}

TEST_P(ClientScriptMessages, NetworkHandlersBelongToTheirResource)
{
	WriteResource(m_Server, "one", {{"main.lua", "lua", R"(
addNetworkHandler('once', function(client)
	print('one first')
	print('one removed ' .. tostring(removeNetworkHandler('once')))
end)
addNetworkHandler('once', function(client) print('one second') end)
addNetworkHandler('shared', function(client) print('one shared') end)
)"}});
	WriteResource(m_Server, "two", {{"main.lua", "lua", R"(
addNetworkHandler('once', function(client) print('two once') end)
addNetworkHandler('shared', function(client) print('two shared') end)
addCommandHandler('drop', function()
	print('two drop ' .. tostring(removeNetworkHandler('shared')) .. ' ' .. tostring(removeNetworkHandler('shared')))
end)
)"}});
	Start({"one", "two"});
	CGameClient Client;
	Join(Client, "Player");

	// A handler that removes its own event's handlers: the removed ones do not run in this dispatch, the other
	// resource's still do.
	ASSERT_TRUE(Client.Send(PingMessage("once")));
	ASSERT_TRUE(m_Server.WaitForOutput("two once"));
	ExpectLinesInOrder({"one first", "one removed true", "two once"});
	EXPECT_FALSE(Printed(m_Server, "one second"));

	ASSERT_TRUE(m_Server.WriteInput("drop\n"));
	ASSERT_TRUE(m_Server.WaitForOutput("two drop true false"));
	ASSERT_TRUE(Client.Send(PingMessage("shared")));
	ASSERT_TRUE(m_Server.WaitForOutput("one shared"));
	EXPECT_FALSE(Printed(m_Server, "two shared"));

	// A stopping resource takes its handlers along.
	ASSERT_TRUE(m_Server.WriteInput("stop one\n"));
	ASSERT_TRUE(m_Server.WaitForOutput("STOP: Resource one stopped."));
	ASSERT_TRUE(Client.Send(PingMessage("shared")));
	EXPECT_TRUE(m_Server.WaitForOutput("Network event shared not bound serverside"));
}

TEST_P(ClientScriptMessages, KeyBindsRunForTheReportedKey)
{
	WriteResource(m_Server, "keys", {{"main.lua", "lua", R"(
bindKey(SDLK_a, KEYSTATE_DOWN, function(event, client)
	print('down ' .. event.keyCode .. ' ' .. event.scanCode .. ' ' .. event.mod .. ' ' .. event['repeat'] .. ' ' .. client.name)
end)
bindKey(SDLK_a, KEYSTATE_UP, function(event, client) print('up ' .. event.keyCode) end)
bindKey(SDLK_a, KEYSTATE_BOTH, function(event, client) print('both ' .. event.down .. ' ' .. event['repeat']) end, true)
addEventHandler('OnPlayerChat', function(event, client, text) print('marker ' .. text) end)
)"}});
	Start({"keys"});
	CGameClient Client;
	Join(Client, "Player");
	constexpr uint32_t SCAN_A = 4;
	constexpr uint32_t KEY_A = 'a';
	struct tCase
	{
		const char* m_szName;
		CTestMessage m_Message;
		std::vector<std::string> m_Lines;
	};
	const tCase Cases[] = {
		// The newest bind of a key runs first.
		{"press", KeyMessage(true, SCAN_A, KEY_A, 1, 0), {"both 1 0", "down 97 4 1 0 Player"}},
		{"repeat", KeyMessage(true, SCAN_A, KEY_A, 0, 2), {"both 1 2"}},
		{"release", KeyMessage(false, SCAN_A, KEY_A, 0, 0), {"both 0 0", "up 97"}},
		{"another key", KeyMessage(true, 5, 'b', 0, 0), {}},
		{"short message", CTestMessage(MSG_KEY).U8(1).U32(SCAN_A).U32(KEY_A), {}},
	};
	int iMark = 0;
	for (const tCase& Case : Cases)
	{
		const std::string Mark = "mark" + std::to_string(iMark++);
		const size_t Before = m_Server.GetOutputLines().size();
		ASSERT_TRUE(Client.Send(Case.m_Message));
		ASSERT_TRUE(Client.Send(ChatMessage(Mark)));
		ASSERT_TRUE(m_Server.WaitForOutput("marker " + Mark)) << Case.m_szName;
		std::vector<std::string> Heard;
		const std::vector<std::string> Lines = m_Server.GetOutputLines();
		for (size_t i = Before; i < Lines.size(); i++)
		{
			if (Lines[i].rfind("both", 0) == 0 || Lines[i].rfind("down", 0) == 0 || Lines[i].rfind("up", 0) == 0)
				Heard.push_back(Lines[i]);
		}
		EXPECT_EQ(Heard, Case.m_Lines) << Case.m_szName;
	}
}

INSTANTIATE_TEST_SUITE_P(Transport, ClientScriptMessages, ::testing::Bool(), DescribeTransport);
