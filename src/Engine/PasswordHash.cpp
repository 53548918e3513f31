#include "Engine/KestrinHash.h"

#include <cstring>
#include <memory>

#include <crypt.h>
#include <openssl/crypto.h>
#include <openssl/rand.h>

namespace
{
const char BCRYPT_PREFIX[] = "$2a$";
constexpr size_t BCRYPT_PREFIX_LENGTH = sizeof(BCRYPT_PREFIX) - 1;
constexpr unsigned long BCRYPT_COST = 10;
constexpr int BCRYPT_MIN_COST = 4;
constexpr int BCRYPT_MAX_COST = 30;
constexpr size_t BCRYPT_SALT_BYTES = 16;
constexpr size_t BCRYPT_SALT_LENGTH = 22;
constexpr size_t BCRYPT_LENGTH = PASSWORD_HASH_LENGTH - 1;

// Runs bcrypt over szPassword with the setting (or a whole stored hash, whose hash part is ignored)
// and copies the result to szOut. The work area holds the password's key schedule, so it is wiped.
bool ComputeBcrypt(const char* szPassword, const char* szSetting, char* szOut, size_t OutSize)
{
	auto pData = std::make_unique<crypt_data>();
	bool bDone = false;
	const char* szResult = crypt_rn(szPassword, szSetting, pData.get(), sizeof(crypt_data));
	if (szResult != nullptr)
	{
		size_t Length = strlen(szResult);
		if (Length < OutSize)
		{
			memcpy(szOut, szResult, Length + 1);
			bDone = true;
		}
	}
	OPENSSL_cleanse(pData.get(), sizeof(crypt_data));
	return bDone;
}

// Only what HashPassword makes is accepted: the library behind crypt() would otherwise read other
// prefixes (such as "$1$") as entirely different and much weaker schemes.
bool IsStoredPasswordWellFormed(const char* szStored)
{
	if (szStored[0] != 'b')
		return false;
	const char* szHash = szStored + 1;
	if (strncmp(szHash, BCRYPT_PREFIX, BCRYPT_PREFIX_LENGTH) != 0)
		return false;
	const char* szCost = szHash + BCRYPT_PREFIX_LENGTH;
	if (szCost[0] < '0' || szCost[0] > '9' || szCost[1] < '0' || szCost[1] > '9' || szCost[2] != '$')
		return false;
	int iCost = (szCost[0] - '0') * 10 + (szCost[1] - '0');
	if (iCost < BCRYPT_MIN_COST || iCost > BCRYPT_MAX_COST)
		return false;
	return strnlen(szCost + 3, BCRYPT_SALT_LENGTH) == BCRYPT_SALT_LENGTH;
}
}

bool HashPassword(const char* szPassword, char* szOut, size_t OutSize, size_t* pOutLength)
{
	if (szPassword == nullptr || szOut == nullptr || OutSize < PASSWORD_HASH_SIZE)
		return false;

	unsigned char Salt[BCRYPT_SALT_BYTES];
	if (RAND_bytes(Salt, sizeof(Salt)) != 1)
		return false;

	char szSetting[CRYPT_GENSALT_OUTPUT_SIZE];
	if (crypt_gensalt_rn(BCRYPT_PREFIX, BCRYPT_COST, reinterpret_cast<const char*>(Salt), sizeof(Salt), szSetting,
			sizeof(szSetting)) == nullptr)
		return false;

	char szHash[CRYPT_OUTPUT_SIZE];
	if (!ComputeBcrypt(szPassword, szSetting, szHash, sizeof(szHash)))
		return false;
	// Anything but a full 2a hash would be stored as a password that can never be verified.
	if (strlen(szHash) != BCRYPT_LENGTH || strncmp(szHash, BCRYPT_PREFIX, BCRYPT_PREFIX_LENGTH) != 0)
		return false;

	szOut[0] = 'b';
	memcpy(szOut + 1, szHash, BCRYPT_LENGTH + 1);
	if (pOutLength != nullptr)
		*pOutLength = PASSWORD_HASH_LENGTH;
	return true;
}

bool VerifyPassword(const char* szPassword, const char* szStored)
{
	if (szPassword == nullptr || szStored == nullptr || !IsStoredPasswordWellFormed(szStored))
		return false;

	const char* szExpected = szStored + 1;
	char szHash[CRYPT_OUTPUT_SIZE];
	if (!ComputeBcrypt(szPassword, szExpected, szHash, sizeof(szHash)))
		return false;

	// The lengths are those of the public format; the bytes are compared without an early exit so that
	// the time taken says nothing about how much of a guess was right.
	size_t Length = strlen(szHash);
	if (Length != strlen(szExpected))
		return false;
	return CRYPTO_memcmp(szHash, szExpected, Length) == 0;
}

CSecurePassword::CSecurePassword() : m_Length(0)
{
	m_szPassword[0] = '\0';
}

bool CSecurePassword::SetPassword(const char* szPassword)
{
	if (szPassword == nullptr || szPassword[0] == '\0')
	{
		m_Length = 0;
		m_szPassword[0] = '\0';
		return true;
	}
	char szHash[PASSWORD_HASH_SIZE];
	size_t Length = 0;
	if (!HashPassword(szPassword, szHash, sizeof(szHash), &Length))
		return false;
	memcpy(m_szPassword, szHash, Length + 1);
	m_Length = Length;
	return true;
}
