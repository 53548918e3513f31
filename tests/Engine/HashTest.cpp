#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>

#include "Engine/KestrinHash.h"

namespace
{
uint32_t CrcOf(const std::string& text, bool bLower)
{
	return CRC32Hash::GetHash(text.c_str(), text.size(), bLower);
}

std::string HexOf(const unsigned char* pBytes, size_t n)
{
	static const char HEX[] = "0123456789abcdef";
	std::string out;
	for (size_t i = 0; i < n; i++)
	{
		out.push_back(HEX[pBytes[i] >> 4]);
		out.push_back(HEX[pBytes[i] & 15]);
	}
	return out;
}

std::string MD5Of(const std::string& text)
{
	CMD5Hash hash;
	hash.AddBytes(text.data(), text.size());
	unsigned char digest[CMD5Hash::DIGEST_SIZE];
	EXPECT_TRUE(hash.Final(digest));
	return HexOf(digest, sizeof(digest));
}

std::string SHA256Text(CSHA256& hash)
{
	CSHA256::Value value;
	EXPECT_TRUE(hash.Final(value));
	char text[CSHA256::TEXT_SIZE];
	EXPECT_TRUE(CSHA256::ToString(value, text, sizeof(text)));
	return text;
}

std::string SHA256Of(const std::string& text)
{
	CSHA256 hash;
	hash.AddBytes(text.data(), text.size());
	return SHA256Text(hash);
}
}

TEST(CRC32Hash, KnownVectors)
{
	struct tCase
	{
		const char* text;
		bool bLower;
		uint32_t expected;
	};
	const tCase cases[] = {
		{"123456789", false, 0xCBF43926u},
		{"abc", false, 0x352441C2u},
		{"ABC", true, 0x352441C2u},
		{"", false, 0u},
		{"", true, 0u},
	};
	for (const tCase& c : cases)
		EXPECT_EQ(CrcOf(c.text, c.bLower), c.expected) << c.text << " lower=" << c.bLower;
}

TEST(CRC32Hash, LowerCasingMakesNamesMatchWithoutRegardToCase)
{
	EXPECT_EQ(CrcOf("Player", true), CrcOf("player", false));
	EXPECT_NE(CrcOf("Player", false), CrcOf("player", false));
	// Only A to Z change: bytes above 0x7F and punctuation are keyed as they are.
	EXPECT_EQ(CrcOf("\xC3\x89-[Z]", true), CrcOf("\xC3\x89-[z]", false));
	EXPECT_NE(CrcOf("\xC3\x89", true), CrcOf("\xC3\xA9", false));
}

TEST(CRC32Hash, LowerCasingLongTextMatchesLowerCaseText)
{
	std::string mixed, lower;
	for (int i = 0; i < 1000; i++)
	{
		char c = static_cast<char>((i % 2 ? 'A' : 'a') + i % 26);
		mixed.push_back(c);
		lower.push_back(static_cast<char>(tolower(static_cast<unsigned char>(c))));
	}
	EXPECT_EQ(CrcOf(mixed, true), CrcOf(lower, false));
}

TEST(CRC32Hash, FeedingInPiecesEqualsFeedingWhole)
{
	CRC32Hash pieces;
	pieces.AddString("1234", false);
	pieces.AddByte('5');
	pieces.AddBytes("67", 2);
	pieces.AddString("89xyz", 2, false);
	EXPECT_EQ(pieces.GetHash(), 0xCBF43926u);

	CRC32Hash lowered;
	lowered.AddString("PLA", true);
	lowered.AddString("Yer", true);
	EXPECT_EQ(lowered.GetHash(), CrcOf("player", false));
}

TEST(CRC32Hash, TextStopsAtCountOrNul)
{
	const char text[] = "ab\0cd";
	CRC32Hash hash;
	hash.AddUTF8String(text, sizeof(text) - 1, false);
	EXPECT_EQ(hash.GetHash(), CrcOf("ab", false));

	EXPECT_EQ(CRC32Hash::GetHash("abcdef", 3, false), CrcOf("abc", false));
	EXPECT_EQ(CRC32Hash::GetHash("abc", 0, false), 0u);
}

TEST(CRC32Hash, EmptyStateAndClear)
{
	CRC32Hash hash;
	EXPECT_EQ(hash.GetHash(), 0u);
	hash.AddString(nullptr, false);
	hash.AddUTF8String(nullptr, 10, true);
	EXPECT_EQ(hash.GetHash(), 0u);

	hash.AddString("abc", false);
	hash.Clear();
	EXPECT_EQ(hash.GetHash(), 0u);
	hash.AddString("123456789", false);
	EXPECT_EQ(hash.GetHash(), 0xCBF43926u);
}

TEST(Digests, KnownVectors)
{
	EXPECT_EQ(MD5Of("abc"), "900150983cd24fb0d6963f7d28e17f72");
	EXPECT_EQ(MD5Of(""), "d41d8cd98f00b204e9800998ecf8427e");
	EXPECT_EQ(SHA256Of("abc"), "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD");
	EXPECT_EQ(SHA256Of(""), "E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855");
}

TEST(Digests, LowerCasedStringsDigestAsLowerCaseText)
{
	CSHA256 sha;
	sha.AddString("ABC", true);
	EXPECT_EQ(SHA256Text(sha), SHA256Of("abc"));

	CMD5Hash md5;
	md5.AddString("a", false);
	md5.AddByte('B' + 32);
	md5.AddString("C\0ignored", 9, true);
	unsigned char digest[CMD5Hash::DIGEST_SIZE];
	ASSERT_TRUE(md5.Final(digest));
	EXPECT_EQ(HexOf(digest, sizeof(digest)), "900150983cd24fb0d6963f7d28e17f72");
}

TEST(Digests, FinishedDigestNeedsInitBeforeReuse)
{
	CSHA256 hash;
	hash.AddString("abc", false);
	CSHA256::Value value;
	ASSERT_TRUE(hash.Final(value));

	hash.AddString("abc", false);
	EXPECT_FALSE(hash.Final(value));

	ASSERT_TRUE(hash.Init());
	hash.AddString("abc", false);
	EXPECT_EQ(SHA256Text(hash), SHA256Of("abc"));
}

TEST(Digests, ShortTextBufferIsRefused)
{
	CSHA256 hash;
	CSHA256::Value value;
	ASSERT_TRUE(hash.Final(value));
	char text[CSHA256::TEXT_SIZE - 1];
	memset(text, 'x', sizeof(text));
	EXPECT_FALSE(CSHA256::ToString(value, text, sizeof(text)));
	EXPECT_STREQ(text, "");
}

namespace
{
// Published bcrypt 2a test vectors.
struct tVector
{
	const char* password;
	const char* hash;
};
const tVector KNOWN_VECTORS[] = {
	{"U*U", "$2a$05$CCCCCCCCCCCCCCCCCCCCC.E5YPO9kmyuRGyh0XouQYb4YMJKvyOeW"},
	{"U*U*", "$2a$05$CCCCCCCCCCCCCCCCCCCCC.VGOzA784oUp/Z0DY336zx7pLYAy0lwK"},
	{"", "$2a$05$CCCCCCCCCCCCCCCCCCCCC.7uG0VCzI2bS7j6ymqJi9CdcdxiRTWNy"},
	{"0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789chars after 72 are ignored",
		"$2a$05$abcdefghijklmnopqrstuu5s2v8.iXieOjg/.AySBTTZIIVFJeBui"},
};

std::string Stored(const char* hash)
{
	return std::string("b") + hash;
}
}

TEST(PasswordHash, KnownVectorsVerify)
{
	for (const tVector& v : KNOWN_VECTORS)
	{
		EXPECT_TRUE(VerifyPassword(v.password, Stored(v.hash).c_str())) << v.hash;
		EXPECT_FALSE(VerifyPassword("wrong", Stored(v.hash).c_str())) << v.hash;
	}
}

TEST(PasswordHash, HashedPasswordRoundTrips)
{
	const char* passwords[] = {"secret", "", "p\xC3\xA4ssw\xC3\xB6rd with blanks"};
	for (const char* password : passwords)
	{
		char stored[PASSWORD_HASH_SIZE];
		size_t length = 0;
		ASSERT_TRUE(HashPassword(password, stored, sizeof(stored), &length)) << password;
		EXPECT_EQ(length, PASSWORD_HASH_LENGTH);
		EXPECT_EQ(strlen(stored), PASSWORD_HASH_LENGTH);
		EXPECT_EQ(std::string(stored, 8), "b$2a$10$");
		EXPECT_TRUE(VerifyPassword(password, stored)) << password;
		EXPECT_FALSE(VerifyPassword("secreT", stored)) << password;
		EXPECT_FALSE(VerifyPassword(nullptr, stored));
	}
}

TEST(PasswordHash, SamePasswordGetsDifferentSalts)
{
	char first[PASSWORD_HASH_SIZE], second[PASSWORD_HASH_SIZE];
	ASSERT_TRUE(HashPassword("secret", first, sizeof(first), nullptr));
	ASSERT_TRUE(HashPassword("secret", second, sizeof(second), nullptr));
	EXPECT_STRNE(first, second);
	EXPECT_TRUE(VerifyPassword("secret", first));
	EXPECT_TRUE(VerifyPassword("secret", second));
}

TEST(PasswordHash, TooSmallBufferIsRefusedUntouched)
{
	char stored[PASSWORD_HASH_SIZE - 1];
	memset(stored, 'x', sizeof(stored));
	size_t length = 99;
	EXPECT_FALSE(HashPassword("secret", stored, sizeof(stored), &length));
	EXPECT_EQ(length, 99u);
	EXPECT_EQ(std::string(stored, sizeof(stored)), std::string(sizeof(stored), 'x'));
	EXPECT_FALSE(HashPassword(nullptr, stored, sizeof(stored), &length));
}

TEST(PasswordHash, MalformedStoredTextNeverVerifies)
{
	// Every case is the first known vector ("U*U") changed in one way.
	const std::string good = KNOWN_VECTORS[0].hash;
	const std::string salt = good.substr(7, 22);
	const std::string cases[] = {
		good,                                         // no leading "b"
		"B" + good,                                   // wrong leading letter
		"b$2b$05$" + good.substr(7),                  // variant 2b
		"b$2y$05$" + good.substr(7),                  // variant 2y
		"b$2$05$" + good.substr(7),                   // no variant letter
		"b$1$05$" + good.substr(7),                   // older version
		"b$2a$03$" + good.substr(7),                  // cost too low
		"b$2a$31$" + good.substr(7),                  // cost too high
		"b$2a$5$" + good.substr(7),                   // one-digit cost
		"b$2a$05" + good.substr(7),                   // no "$" after the cost
		"b$2a$05$" + salt.substr(0, 21),              // only 21 characters after the cost
		"b$2a$05$" + salt,                            // salt without hash
		"b" + good.substr(0, good.size() - 1),        // hash cut short
		"b" + good + "A",                             // hash too long
		"b$2a$05$" + salt.substr(0, 21) + "!" + good.substr(29), // character outside the alphabet
		"",
		"b",
	};
	for (const std::string& stored : cases)
		EXPECT_FALSE(VerifyPassword("U*U", stored.c_str())) << stored;
	EXPECT_FALSE(VerifyPassword("U*U", nullptr));
}

TEST(SecurePassword, HoldsOnlyTheHash)
{
	CSecurePassword password;
	EXPECT_FALSE(password.HasPassword());
	EXPECT_STREQ(password.GetPassword(), "");

	ASSERT_TRUE(password.SetPassword("letmein"));
	EXPECT_TRUE(password.HasPassword());
	EXPECT_EQ(strlen(password.GetPassword()), PASSWORD_HASH_LENGTH);
	EXPECT_EQ(strstr(password.GetPassword(), "letmein"), nullptr);
	EXPECT_TRUE(VerifyPassword("letmein", password.GetPassword()));
	EXPECT_FALSE(VerifyPassword("letmeout", password.GetPassword()));
}

TEST(SecurePassword, NullOrEmptyClears)
{
	const char* clearing[] = {nullptr, ""};
	for (const char* text : clearing)
	{
		CSecurePassword password;
		ASSERT_TRUE(password.SetPassword("letmein"));
		EXPECT_TRUE(password.SetPassword(text));
		EXPECT_FALSE(password.HasPassword());
		EXPECT_STREQ(password.GetPassword(), "");
	}
}
