#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "Network/Packet.h"

namespace
{
std::vector<uint8_t> BytesOf(Packet& Message)
{
	return std::vector<uint8_t>(Message.GetData(), Message.GetData() + Message.GetSize());
}

struct tHeaderCase
{
	unsigned m_uiId;
	std::vector<uint8_t> m_Expected;
};

TEST(PacketTest, HeaderIsMagicThenIdLittleEndian)
{
	const tHeaderCase rgCases[] = {
		{12, {0x02, 0x34, 0x52, 0x54, 0x0C, 0x00, 0x00, 0x00}},
		{0, {0x02, 0x34, 0x52, 0x54, 0x00, 0x00, 0x00, 0x00}},
		{149, {0x02, 0x34, 0x52, 0x54, 0x95, 0x00, 0x00, 0x00}},
		{0x01020304, {0x02, 0x34, 0x52, 0x54, 0x04, 0x03, 0x02, 0x01}},
		{0xFFFFFFFF, {0x02, 0x34, 0x52, 0x54, 0xFF, 0xFF, 0xFF, 0xFF}},
	};
	for (const tHeaderCase& Case : rgCases)
	{
		Packet Message(Case.m_uiId);
		EXPECT_EQ(BytesOf(Message), Case.m_Expected) << "id " << Case.m_uiId;
		EXPECT_EQ(Message.Tell(), 8) << "id " << Case.m_uiId;
	}
}

TEST(PacketTest, WithoutIdHoldsNothing)
{
	Packet Block;
	EXPECT_EQ(Block.GetLength(), 0);
	EXPECT_EQ(Block.Tell(), 0);
}

TEST(PacketTest, FieldsFollowTheHeaderAndSurviveGrowth)
{
	Packet Message(4);
	std::vector<uint8_t> Fields(1000);
	for (size_t i = 0; i < Fields.size(); i++)
		Fields[i] = static_cast<uint8_t>(i * 7);
	ASSERT_EQ(Message.Write(Fields.data(), Fields.size()), Fields.size());

	std::vector<uint8_t> Bytes = BytesOf(Message);
	ASSERT_EQ(Bytes.size(), 8 + Fields.size());
	EXPECT_EQ(std::vector<uint8_t>(Bytes.begin(), Bytes.begin() + 8),
		(std::vector<uint8_t>{0x02, 0x34, 0x52, 0x54, 0x04, 0x00, 0x00, 0x00}));
	EXPECT_EQ(std::vector<uint8_t>(Bytes.begin() + 8, Bytes.end()), Fields);
}
}
