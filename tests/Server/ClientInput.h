#pragma once
// What a game client sends when its player types a chat line or presses a key, written field by field as the
// client writes them, and a key press whose handling a test can wait for.

#include <cstdint>
#include <string>
#include <vector>

#include "ResourceTestSupport.h"
#include "Support/GameClient.h"
#include "Support/TestMessage.h"

namespace ServerTest
{
inline VexaTest::CTestMessage ChatMessage(const std::string& Text)
{
	VexaTest::CTestMessage Message(VexaTest::MSG_CHAT);
	Message.U32(static_cast<uint32_t>(Text.size())).Bytes(Text.data(), Text.size());
	return Message;
}

inline VexaTest::CTestMessage KeyMessage(bool bDown, uint32_t uiScanCode, uint32_t uiKeyCode, uint16_t usModifiers,
	int32_t iRepeat)
{
	VexaTest::CTestMessage Message(VexaTest::MSG_KEY);
	Message.U8(bDown ? 1 : 0).U32(uiScanCode).U32(uiKeyCode).U16(usModifiers).I32(iRepeat);
	return Message;
}

// Prints "marker <text>" for every chat line, so that a test knows when what a client sent before has been handled.
inline const char* const g_szChatMarker =
	"addEventHandler('OnPlayerChat', function(event, client, text) print('marker ' .. text) end)\n";

// The client presses the key "a", then says the mark; the lines printed meanwhile.
inline std::vector<std::string> PressKey(CServerProcess& Server, VexaTest::CGameClient& Client, const std::string& Mark)
{
	const size_t First = Server.GetOutputLines().size();
	EXPECT_TRUE(Client.Send(KeyMessage(true, 4, 'a', 0, 0)));
	EXPECT_TRUE(Client.Send(ChatMessage(Mark)));
	EXPECT_TRUE(WaitForLines(Server, First, "marker " + Mark, 1)) << Server.GetRawOutput();
	return LinesSince(Server, First);
}
}
