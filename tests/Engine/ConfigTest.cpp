#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "Engine/Config.h"
#include "Engine/KestrinHash.h"
#include "Engine/KestrinStream.h"

namespace
{
typedef std::vector<unsigned char> tBytes;

tBytes Serialised(const CVarSystem& vars)
{
	Strong<CUnlimitedStream> stream = Strong<CUnlimitedStream>::New(new CUnlimitedStream());
	EXPECT_TRUE(vars.Serialise(stream));
	return tBytes(stream->GetData(), stream->GetData() + stream->GetSize());
}

size_t ReadVarLength(const tBytes& bytes, size_t& pos)
{
	size_t value = 0;
	for (int shift = 0; pos < bytes.size(); shift += 7)
	{
		unsigned char b = bytes[pos++];
		value |= static_cast<size_t>(b & 0x7F) << shift;
		if (!(b & 0x80))
			break;
	}
	return value;
}

std::string ReadWireString(const tBytes& bytes, size_t& pos)
{
	size_t length = ReadVarLength(bytes, pos);
	std::string text(bytes.begin() + pos, bytes.begin() + pos + length);
	pos += length;
	return text;
}

bool StringOption(const char*, const char*, void*) { return true; }
bool OtherStringOption(const char*, const char*, void*) { return false; }
bool BooleanOption(const char*, bool, void*) { return true; }
bool IntegerOption(const char*, int, void*) { return true; }
bool OtherIntegerOption(const char*, int, void*) { return false; }
}

TEST(CVarSystem, NamesMatchWithoutRegardToCaseAndKeepFirstSpelling)
{
	CVarSystem vars;
	ASSERT_TRUE(vars.Set("MyVar", "1"));
	ASSERT_TRUE(vars.Set("myvar", "2"));

	CVar* var = vars.Find("MYVAR");
	ASSERT_NE(var, nullptr);
	EXPECT_STREQ(var->GetName(), "MyVar");
	EXPECT_STREQ(var->GetValue(), "2");
	EXPECT_EQ(vars.Find(CRC32Hash::GetHash("myvar", 5, false)), var);
	EXPECT_EQ(vars.Find("other"), nullptr);
	EXPECT_EQ(Serialised(vars).front(), 1);
}

TEST(CVarSystem, NullTextsAreRefused)
{
	CVarSystem vars;
	EXPECT_FALSE(vars.Set(nullptr, "1"));
	EXPECT_FALSE(vars.Set("name", nullptr));
	EXPECT_EQ(vars.Find("name"), nullptr);
	EXPECT_EQ(vars.Find(nullptr), nullptr);
}

TEST(CVarSystem, SerialisedBytes)
{
	struct tCase
	{
		const char* name;
		std::string value;
		tBytes expected;
	};
	const std::string longValue(200, 'v');
	tBytes longExpected = {0x01, 0x00, 0xCC, 0x01, 0x01, 0x6E, 0xC8, 0x01};
	longExpected.insert(longExpected.end(), longValue.begin(), longValue.end());
	const tCase cases[] = {
		{nullptr, "", {0x00, 0x00}},
		{"a", "", {0x01, 0x00, 0x03, 0x01, 0x61, 0x00}},
		{"ab", "xyz", {0x01, 0x00, 0x07, 0x02, 0x61, 0x62, 0x03, 0x78, 0x79, 0x7A}},
		// A value of 200 bytes has a two-byte length, and its block one of 204 bytes.
		{"n", longValue, longExpected},
	};
	for (const tCase& c : cases)
	{
		CVarSystem vars;
		if (c.name)
			vars.Set(c.name, c.value.c_str());
		EXPECT_EQ(Serialised(vars), c.expected) << (c.name ? c.name : "(empty)");
	}
}

TEST(CVarSystem, SerialisedTableReadsBackWhole)
{
	CVarSystem vars;
	std::map<std::string, std::string> expected = {{"Gravity", "0.008"}, {"speed", "1"}, {"empty", ""}};
	for (const auto& entry : expected)
		vars.Set(entry.first.c_str(), entry.second.c_str());

	tBytes bytes = Serialised(vars);
	ASSERT_GE(bytes.size(), 2u);
	size_t count = bytes[0] | (bytes[1] << 8);
	size_t pos = 2;
	std::map<std::string, std::string> seen;
	for (size_t i = 0; i < count; i++)
	{
		size_t blockLength = ReadVarLength(bytes, pos);
		size_t blockEnd = pos + blockLength;
		std::string name = ReadWireString(bytes, pos);
		seen[name] = ReadWireString(bytes, pos);
		EXPECT_EQ(pos, blockEnd) << name;
	}
	EXPECT_EQ(pos, bytes.size());
	EXPECT_EQ(seen, expected);
}

TEST(CVarSystem, StreamTooSmallIsReported)
{
	CVarSystem vars;
	vars.Set("name", "value");
	unsigned char block[4] = {};
	Strong<CMemoryStream> stream = Strong<CMemoryStream>::New(new CMemoryStream(block, sizeof(block), true, true));
	EXPECT_FALSE(vars.Serialise(stream));
	EXPECT_FALSE(vars.Serialise(nullptr));
}

TEST(CVarSystem, ClearEmptiesTheTable)
{
	CVarSystem vars;
	vars.Set("a", "1");
	vars.Set("b", "2");
	vars.Clear();
	EXPECT_EQ(vars.Find("a"), nullptr);
	EXPECT_EQ(Serialised(vars), (tBytes{0x00, 0x00}));
	ASSERT_TRUE(vars.Set("A", "3"));
	EXPECT_STREQ(vars.Find("a")->GetName(), "A");
}

TEST(CConfig, RegisteringANameTwiceKeepsTheSecondEntry)
{
	CConfig config;
	int first = 0, second = 0;
	ASSERT_TRUE(config.RegisterCallback("port", &first, IntegerOption));
	ASSERT_TRUE(config.RegisterCallback("PORT", &second, OtherIntegerOption));

	EXPECT_EQ(config.GetEntryCount(), 1u);
	const CConfig::CConfigEntry* entry = config.FindEntry("Port");
	ASSERT_NE(entry, nullptr);
	EXPECT_EQ(entry->m_eKind, CConfig::CConfigEntry::KIND_INTEGER);
	EXPECT_EQ(entry->m_pIntegerCallback, &OtherIntegerOption);
	EXPECT_EQ(entry->m_pUserData, &second);
}

TEST(CConfig, EachCallbackFormMakesItsKind)
{
	CConfig config;
	int data = 0;
	config.RegisterCallback("server_name", &data, StringOption);
	config.RegisterCallback("rcon", &data, BooleanOption);
	config.RegisterCallback("max_players", &data, IntegerOption);
	// A name may change kind when registered again.
	config.RegisterCallback("listen_port", &data, IntegerOption);
	config.RegisterCallback("listen_port", &data, OtherStringOption);

	const CConfig::CConfigEntry* name = config.FindEntry("server_name");
	const CConfig::CConfigEntry* rcon = config.FindEntry("rcon");
	const CConfig::CConfigEntry* players = config.FindEntry("max_players");
	const CConfig::CConfigEntry* port = config.FindEntry("listen_port");
	ASSERT_TRUE(name && rcon && players && port);
	EXPECT_EQ(name->m_eKind, CConfig::CConfigEntry::KIND_STRING);
	EXPECT_EQ(name->m_pStringCallback, &StringOption);
	EXPECT_EQ(rcon->m_eKind, CConfig::CConfigEntry::KIND_BOOLEAN);
	EXPECT_EQ(rcon->m_pBooleanCallback, &BooleanOption);
	EXPECT_EQ(players->m_eKind, CConfig::CConfigEntry::KIND_INTEGER);
	EXPECT_EQ(port->m_eKind, CConfig::CConfigEntry::KIND_STRING);
	EXPECT_EQ(port->m_pStringCallback, &OtherStringOption);
	EXPECT_EQ(config.FindEntry("website"), nullptr);
	EXPECT_EQ(config.FindEntry(nullptr), nullptr);
}

TEST(CConfig, NullNameOrEntryIsRefused)
{
	CConfig config;
	EXPECT_FALSE(config.RegisterCallback(nullptr, nullptr, IntegerOption));
	EXPECT_FALSE(config.RegisterCommand("port", nullptr, nullptr));
	EXPECT_EQ(config.GetEntryCount(), 0u);
}
