#include "Engine/KestrinHash.h"

#include <cstdio>
#include <cstring>

#include <openssl/evp.h>
#include <zlib.h>

namespace
{
// Lower-casing is that of the C locale whatever locale the process runs in, so that keys never change
// with the environment: only A to Z change.
inline unsigned char LowerByte(unsigned char c)
{
	return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

// Hands the bytes of a text (at most n, stopping at a NUL) to Sink in pieces, lower-cased when asked.
template<typename tSink>
void FeedText(const char* szText, size_t n, bool bLower, tSink&& Sink)
{
	if (szText == nullptr || n == 0)
		return;
	size_t Length = strnlen(szText, n);
	if (!bLower)
	{
		Sink(reinterpret_cast<const unsigned char*>(szText), Length);
		return;
	}
	unsigned char Buffer[256];
	while (Length != 0)
	{
		size_t Piece = Length < sizeof(Buffer) ? Length : sizeof(Buffer);
		for (size_t i = 0; i < Piece; i++)
			Buffer[i] = LowerByte(static_cast<unsigned char>(szText[i]));
		Sink(Buffer, Piece);
		szText += Piece;
		Length -= Piece;
	}
}
}

// zlib keeps the register complemented between calls; ours stays uncomplemented so that a fresh state
// is all ones, hence the complements around each call.
void CRC32Hash::AddBytes(const void* pData, size_t n)
{
	if (pData == nullptr || n == 0)
		return;
	m_uiState = ~static_cast<uint32_t>(crc32_z(~m_uiState, static_cast<const Bytef*>(pData), n));
}

void CRC32Hash::AddByte(uint8_t b)
{
	AddBytes(&b, 1);
}

void CRC32Hash::AddUTF8String(const char* szText, size_t n, bool bLower)
{
	FeedText(szText, n, bLower, [this](const unsigned char* pBytes, size_t Length) { AddBytes(pBytes, Length); });
}

void CRC32Hash::AddString(const char* szText, bool bLower)
{
	if (szText != nullptr)
		AddUTF8String(szText, strlen(szText), bLower);
}

void CRC32Hash::AddString(const char* szText, size_t n, bool bLower)
{
	AddUTF8String(szText, n, bLower);
}

uint32_t CRC32Hash::GetHash(const char* szText, size_t n, bool bLower)
{
	CRC32Hash Hash;
	Hash.AddUTF8String(szText, n, bLower);
	return Hash.GetHash();
}

CDigest::CDigest(eDigestKind eKind) : m_eKind(eKind), m_pContext(EVP_MD_CTX_new()), m_bReady(false), m_bFailed(false)
{
	Init();
}

CDigest::~CDigest()
{
	EVP_MD_CTX_free(m_pContext);
}

bool CDigest::Init()
{
	m_bFailed = false;
	const EVP_MD* pDigest = m_eKind == DIGEST_MD5 ? EVP_md5() : EVP_sha256();
	m_bReady = m_pContext != nullptr && EVP_DigestInit_ex(m_pContext, pDigest, nullptr) == 1;
	return m_bReady;
}

void CDigest::AddBytes(const void* pData, size_t n)
{
	if (!m_bReady || m_bFailed || n == 0)
		return;
	if (pData == nullptr || EVP_DigestUpdate(m_pContext, pData, n) != 1)
		m_bFailed = true;
}

void CDigest::AddByte(uint8_t b)
{
	AddBytes(&b, 1);
}

void CDigest::AddUTF8String(const char* szText, size_t n, bool bLower)
{
	FeedText(szText, n, bLower, [this](const unsigned char* pBytes, size_t Length) { AddBytes(pBytes, Length); });
}

void CDigest::AddString(const char* szText, bool bLower)
{
	if (szText != nullptr)
		AddUTF8String(szText, strlen(szText), bLower);
}

void CDigest::AddString(const char* szText, size_t n, bool bLower)
{
	AddUTF8String(szText, n, bLower);
}

bool CDigest::FinalBytes(unsigned char* pDigest, size_t Size)
{
	if (!m_bReady)
		return false;
	m_bReady = false;
	unsigned char Digest[EVP_MAX_MD_SIZE];
	unsigned int Length = 0;
	if (m_bFailed || EVP_DigestFinal_ex(m_pContext, Digest, &Length) != 1 || Length != Size)
		return false;
	memcpy(pDigest, Digest, Size);
	return true;
}

bool CMD5Hash::Final(unsigned char pDigest[DIGEST_SIZE])
{
	return FinalBytes(pDigest, DIGEST_SIZE);
}

bool CSHA256::Final(Value& Digest)
{
	unsigned char Bytes[32];
	if (!FinalBytes(Bytes, sizeof(Bytes)))
		return false;
	for (int iWord = 0; iWord < 4; iWord++)
	{
		uint64_t ulWord = 0;
		for (int i = 0; i < 8; i++)
			ulWord = (ulWord << 8) | Bytes[iWord * 8 + i];
		Digest.m_ulWords[iWord] = ulWord;
	}
	return true;
}

bool CSHA256::ToString(const Value& Digest, char* szBuffer, size_t Size)
{
	if (szBuffer == nullptr)
		return false;
	if (Size < TEXT_SIZE)
	{
		if (Size != 0)
			szBuffer[0] = '\0';
		return false;
	}
	snprintf(szBuffer, TEXT_SIZE, "%016llX%016llX%016llX%016llX", static_cast<unsigned long long>(Digest.m_ulWords[0]),
		static_cast<unsigned long long>(Digest.m_ulWords[1]), static_cast<unsigned long long>(Digest.m_ulWords[2]),
		static_cast<unsigned long long>(Digest.m_ulWords[3]));
	return true;
}
