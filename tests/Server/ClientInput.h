#pragma once
// What a game client sends when its player types a chat line or presses a key, written field by field as the
// client writes them.

#include <cstdint>
#include <string>

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
}
