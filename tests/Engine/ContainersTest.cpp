#include <gtest/gtest.h>

#include <vector>

#include "Engine/KestrinArray.h"
#include "Engine/KestrinString.h"

TEST(Array, FreedSlotIsReusedFirst)
{
	Array<char> array(4);
	EXPECT_TRUE(array.Add('A'));
	EXPECT_TRUE(array.Add('B'));
	EXPECT_TRUE(array.Add('C'));
	EXPECT_TRUE(array.RemoveAt(1));
	size_t uiIndex = 99;
	EXPECT_TRUE(array.Add('D', &uiIndex));
	EXPECT_EQ(uiIndex, 1u);
	EXPECT_EQ(array.GetAt(1), 'D');
	EXPECT_EQ(array.GetCount(), 3u);
}

TEST(Array, FullArrayRefusesAndStaysUnchanged)
{
	Array<int> array(2);
	array.Add(1);
	array.Add(2);
	EXPECT_FALSE(array.Add(3));
	EXPECT_EQ(array.GetCount(), 2u);
	EXPECT_EQ(array.GetAt(0), 1);
	EXPECT_EQ(array.GetAt(1), 2);
}

TEST(Array, BadSlotOperationsFailWithoutChangingCount)
{
	Array<int> array(2);
	array.Add(7);
	EXPECT_FALSE(array.RemoveAt(1));  // free slot
	EXPECT_FALSE(array.RemoveAt(2));  // out of range
	EXPECT_FALSE(array.AddAt(5, 1));  // out of range
	EXPECT_FALSE(array.AddAt(0, 1));  // slot in use
	EXPECT_EQ(array.GetCount(), 1u);
	EXPECT_EQ(array.GetAt(0), 7);
	EXPECT_FALSE(array.IsUsedAt(100));
	EXPECT_EQ(array.GetAt(100), 0);
}

TEST(Array, SetAtReplacesAndCountsOnlyFreeSlots)
{
	Array<int> array(3);
	array.Add(1);
	EXPECT_TRUE(array.SetAt(0, 5));  // used slot: replaced, count unchanged
	EXPECT_EQ(array.GetCount(), 1u);
	EXPECT_EQ(array.GetAt(0), 5);
	EXPECT_TRUE(array.SetAt(2, 9));  // free slot: taken, count grows
	EXPECT_EQ(array.GetCount(), 2u);
	EXPECT_TRUE(array.IsUsedAt(2));
	EXPECT_FALSE(array.SetAt(3, 4)); // out of range
	EXPECT_EQ(array.GetCount(), 2u);
	size_t uiIndex = 99;
	EXPECT_TRUE(array.Add(7, &uiIndex));
	EXPECT_EQ(uiIndex, 1u);
}

TEST(Array, RemoveFreesFirstSlotHoldingItem)
{
	Array<int> array(3);
	array.Add(4);
	array.Add(6);
	array.Add(6);
	EXPECT_TRUE(array.Remove(6));
	EXPECT_FALSE(array.IsUsedAt(1));
	EXPECT_TRUE(array.IsUsedAt(2));
	EXPECT_FALSE(array.Remove(8));
	EXPECT_EQ(array.GetCount(), 2u);
}

TEST(Array, IterationVisitsUsedSlotsInOrder)
{
	struct tCase
	{
		std::vector<size_t> slots;
	};
	const tCase cases[] = {{{}}, {{3}}, {{0}}, {{0, 2, 3}}, {{1, 2}}};
	for (const tCase& c : cases)
	{
		Array<int> array(4);
		for (size_t slot : c.slots)
			array.AddAt(slot, static_cast<int>(slot) * 10);
		std::vector<int> seen;
		for (int item : array)
			seen.push_back(item);
		std::vector<int> expected;
		for (size_t slot : c.slots)
			expected.push_back(static_cast<int>(slot) * 10);
		EXPECT_EQ(seen, expected);
	}
}

TEST(LinkedList, AddsAtFrontAndClears)
{
	LinkedList<int> list;
	list.AddNode(1);
	list.AddNode(2);
	list.AddNode(3);
	std::vector<int> seen;
	for (int value : list)
		seen.push_back(value);
	EXPECT_EQ(seen, (std::vector<int>{3, 2, 1}));
	EXPECT_EQ(list.GetLastNode()->GetValue(), 1);
	list.ClearNodes();
	EXPECT_EQ(list.GetCount(), 0u);
	EXPECT_EQ(list.GetFirstNode(), nullptr);
	EXPECT_EQ(list.GetLastNode(), nullptr);
}

TEST(LinkedList, ClearingOneNodeEmptiesList)
{
	LinkedList<int> list;
	list.AddNode(1);
	list.ClearNodes();
	EXPECT_EQ(list.GetFirstNode(), nullptr);
	EXPECT_EQ(list.GetLastNode(), nullptr);
	EXPECT_EQ(list.GetCount(), 0u);
}

TEST(StringManager, ToBoolean)
{
	struct tCase
	{
		const char* text;
		bool ok;
		bool value;
	};
	const tCase cases[] = {
		{"true", true, true}, {"1", true, true}, {"false", true, false}, {"0", true, false},
		{"TRUE", false, false}, {"True", false, false}, {" 1", false, false}, {"yes", false, false}, {"", false, false},
	};
	for (const tCase& c : cases)
	{
		bool out = !c.value;
		bool sentinel = out;
		EXPECT_EQ(StringManager::ToBoolean(c.text, &out), c.ok) << c.text;
		EXPECT_EQ(out, c.ok ? c.value : sentinel) << c.text;
	}
}

TEST(StringManager, BoundedCopy)
{
	char buffer[4] = {'x', 'x', 'x', 'x'};
	EXPECT_EQ(_strlcpy(buffer, "abcdef", sizeof(buffer)), 6u);
	EXPECT_STREQ(buffer, "abc");
	char untouched = 'z';
	EXPECT_EQ(_strlcpy(&untouched, "abc", 0), 3u);
	EXPECT_EQ(untouched, 'z');
	EXPECT_EQ(_strlcpy(buffer, "ab", sizeof(buffer)), 2u);
	EXPECT_STREQ(buffer, "ab");
}

TEST(StringManager, OutsideTextIsEscapedForTheConsole)
{
	struct
	{
		std::string text;
		std::string escaped;
		bool valid;
		bool control;
	} cases[] = {
		{"plain text", "plain text", true, false},
		{"caf\xC3\xA9 \xE4\xB8\xAD \xF0\x9F\x98\x80", "caf\xC3\xA9 \xE4\xB8\xAD \xF0\x9F\x98\x80", true, false},
		{"a\x1B[31mb", "a\\x1B[31mb", true, true},
		{"line\r\nforged", "line\\x0D\\x0Aforged", true, true},
		{std::string("nul\0in", 6), "nul\\x00in", true, true},
		{"tab\tdel\x7F", "tab\\x09del\\x7F", true, true},
		{"c1 \xC2\x9B csi", "c1 \\xC2\\x9B csi", true, true},
		{"nbsp \xC2\xA0", "nbsp \xC2\xA0", true, false},
		{"bare \x9B", "bare \\x9B", false, false},
		{"cut \xE4\xB8", "cut \\xE4\\xB8", false, false},
		{"overlong \xC0\xAF", "overlong \\xC0\\xAF", false, false},
		{"surrogate \xED\xA0\x80", "surrogate \\xED\\xA0\\x80", false, false},
		{"too high \xF4\x90\x80\x80", "too high \\xF4\\x90\\x80\\x80", false, false},
		{"back\\slash", "back\\slash", true, false},
	};
	for (const auto& c : cases)
	{
		EXPECT_EQ(StringManager::EscapeControlCharacters(c.text.data(), c.text.size()), c.escaped) << c.text;
		EXPECT_EQ(StringManager::IsValidUTF8(c.text.data(), c.text.size()), c.valid) << c.text;
		EXPECT_EQ(StringManager::HasControlCharacters(c.text.data(), c.text.size()), c.control) << c.text;
	}
	EXPECT_EQ(StringManager::EscapeControlCharacters(nullptr, 3), "");
}

TEST(StringManager, CharactersEncodeAsUTF8)
{
	const std::pair<char32_t, std::string> cases[] = {
		{U'A', "A"},
		{0xE9, "\xC3\xA9"},
		{0x4E2D, "\xE4\xB8\xAD"},
		{0x1F600, "\xF0\x9F\x98\x80"},
		{0x10FFFF, "\xF4\x8F\xBF\xBF"},
		{0xD800, "\xEF\xBF\xBD"},
		{0x110000, "\xEF\xBF\xBD"},
	};
	for (const auto& c : cases)
	{
		char buffer[StringManager::UTF8_MAX_CHARACTER_LENGTH];
		size_t length = StringManager::EncodeUTF8(c.first, buffer);
		EXPECT_EQ(std::string(buffer, length), c.second) << static_cast<uint32_t>(c.first);
	}
}

TEST(UTF8String, ViewsCallerBytes)
{
	const char* text = "h\xC3\xA9llo";
	UTF8String whole(false, text);
	EXPECT_EQ(whole.GetLength(), 6u);
	EXPECT_EQ(whole.CString(), text);
	UTF8String part(true, text, 3);
	EXPECT_EQ(part.GetLength(), 3u);
	UTF8String none(false, nullptr);
	EXPECT_EQ(none.GetLength(), 0u);
	EXPECT_EQ(none.CString(), nullptr);
}
