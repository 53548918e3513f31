#pragma once
// Name keys, file digests and password hashing.

#include <cstddef>
#include <cstdint>

struct evp_md_ctx_st;

// CRC-32 as in IEEE 802.3 and zlib. It is the engine-wide key of names: registries that ignore case key
// names by the CRC-32 of the bytes lower-cased in the C locale, the others by the plain CRC-32.
// Feeding a text in pieces gives the same key as feeding it whole.
class CRC32Hash
{
public:
	CRC32Hash() : m_uiState(0xFFFFFFFFu) {}

	void Clear() { m_uiState = 0xFFFFFFFFu; }

	void AddByte(uint8_t b);
	void AddBytes(const void* pData, size_t n);
	// Feeds at most n bytes, stopping early at a NUL. With bLower, A to Z are lower-cased first.
	void AddUTF8String(const char* szText, size_t n, bool bLower);
	// The whole NUL-terminated text; a null text feeds nothing.
	void AddString(const char* szText, bool bLower);
	void AddString(const char* szText, size_t n, bool bLower);

	uint32_t GetHash() const { return ~m_uiState; }
	// The key of one text in one call.
	static uint32_t GetHash(const char* szText, size_t n, bool bLower);

private:
	uint32_t m_uiState;
};

// Common state of the OpenSSL-backed digests. A failure anywhere (no memory, a digest the library
// refuses) is remembered and reported by Final, so a caller never takes a partial digest for a real one.
class CDigest
{
public:
	CDigest(const CDigest&) = delete;
	CDigest& operator=(const CDigest&) = delete;

	// Starts a new digest; false when the library cannot.
	bool Init();

	void AddByte(uint8_t b);
	void AddBytes(const void* pData, size_t n);
	// Feeds at most n bytes, stopping early at a NUL. With bLower, A to Z are lower-cased first.
	void AddUTF8String(const char* szText, size_t n, bool bLower);
	// The whole NUL-terminated text; a null text feeds nothing.
	void AddString(const char* szText, bool bLower);
	void AddString(const char* szText, size_t n, bool bLower);

protected:
	enum eDigestKind
	{
		DIGEST_MD5,
		DIGEST_SHA256,
	};

	explicit CDigest(eDigestKind eKind);
	~CDigest();

	// Writes exactly Size bytes of digest; afterwards Init must be called before the next digest.
	bool FinalBytes(unsigned char* pDigest, size_t Size);

private:
	eDigestKind m_eKind;
	evp_md_ctx_st* m_pContext;
	bool m_bReady;
	bool m_bFailed;
};

// MD5 (RFC 1321): digests client files for the client file check.
class CMD5Hash : public CDigest
{
public:
	enum
	{
		DIGEST_SIZE = 16,
	};

	CMD5Hash() : CDigest(DIGEST_MD5) {}

	// False when any step of the digest failed; the digest is then not written.
	bool Final(unsigned char pDigest[DIGEST_SIZE]);
};

// SHA-256 (FIPS 180-4): names published client files.
class CSHA256 : public CDigest
{
public:
	enum
	{
		TEXT_SIZE = 65,
	};

	// The 32-byte digest as four 64-bit words, each read big-endian, so printing the words in order
	// gives the usual digest text.
	struct Value
	{
		uint64_t m_ulWords[4];
	};

	CSHA256() : CDigest(DIGEST_SHA256) {}

	// False when any step of the digest failed; the value is then not written.
	bool Final(Value& Digest);

	// The 64 upper-case hexadecimal digits of the digest. A buffer smaller than TEXT_SIZE is refused
	// (left empty when it has room for the terminator), since a cut digest would name another file.
	static bool ToString(const Value& Digest, char* szBuffer, size_t Size);
};

// Stored passwords: "b" followed by a bcrypt string of variant 2a with cost 10 ("$2a$10$", 22 salt
// characters, 31 hash characters).
constexpr size_t PASSWORD_HASH_LENGTH = 61;
constexpr size_t PASSWORD_HASH_SIZE = PASSWORD_HASH_LENGTH + 1;

// Hashes szPassword with a fresh random salt into szOut (at least PASSWORD_HASH_SIZE bytes). False, with
// nothing written, when no random bytes or no hash could be had or the buffer is too small.
bool HashPassword(const char* szPassword, char* szOut, size_t OutSize, size_t* pOutLength);

// True only when szStored is a well-formed stored password and szPassword hashes to it. Never logs.
bool VerifyPassword(const char* szPassword, const char* szStored);

// Holds one stored password (the server's or the remote console's), never the password itself.
class CSecurePassword
{
public:
	CSecurePassword();

	// A null or empty text clears the password. Otherwise the text is hashed and stored; when hashing
	// fails the previous password is kept and false is returned, so the caller can refuse to go on
	// rather than run with a password other than the one asked for.
	bool SetPassword(const char* szPassword);
	bool HasPassword() const { return m_Length != 0; }
	// The stored text, empty without a password; check a candidate with VerifyPassword against it.
	const char* GetPassword() const { return m_szPassword; }

private:
	size_t m_Length;
	char m_szPassword[PASSWORD_HASH_SIZE];
};
