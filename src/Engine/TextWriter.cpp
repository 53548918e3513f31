#include "Engine/KestrinStream.h"

#include <cstdarg>
#include <cstring>

CTextWriter::CTextWriter(Stream* pStream, eTextEncoding eEncoding, bool bBigEndian) :
	m_eEncoding(eEncoding),
	m_bBigEndian(bBigEndian),
	m_pStream(pStream)
{
}

bool CTextWriter::WriteByteOrderMark()
{
	static const unsigned char UTF8[] = {0xEF, 0xBB, 0xBF};
	static const unsigned char UTF16LE[] = {0xFF, 0xFE};
	static const unsigned char UTF16BE[] = {0xFE, 0xFF};
	static const unsigned char UTF32LE[] = {0xFF, 0xFE, 0x00, 0x00};
	static const unsigned char UTF32BE[] = {0x00, 0x00, 0xFE, 0xFF};

	const unsigned char* pMark;
	size_t Length;
	switch (m_eEncoding)
	{
	case TEXT_ENCODING_UTF8:
		pMark = UTF8;
		Length = sizeof(UTF8);
		break;
	case TEXT_ENCODING_UTF16:
		pMark = m_bBigEndian ? UTF16BE : UTF16LE;
		Length = sizeof(UTF16LE);
		break;
	case TEXT_ENCODING_UTF32:
		pMark = m_bBigEndian ? UTF32BE : UTF32LE;
		Length = sizeof(UTF32LE);
		break;
	default:
		return true;
	}
	return m_pStream->Write(pMark, Length) == Length;
}

bool CTextWriter::Write(const char* szText, size_t Length)
{
	if (m_pStream.IsNull())
		return false;
	if (m_pStream->Tell() == 0 && !WriteByteOrderMark())
		return false;
	if (m_eEncoding != TEXT_ENCODING_UTF8)
		return false;
	if (Length == 0)
		return true;
	if (!szText)
		return false;
	return m_pStream->Write(szText, Length) == Length;
}

bool CTextWriter::Print(const char* szFormat, ...)
{
	char szBuffer[4096];
	va_list Args;
	va_start(Args, szFormat);
	int iResult = vsnprintf(szBuffer, sizeof(szBuffer), szFormat, Args);
	va_end(Args);
	if (iResult < 0)
		return false;
	return Write(szBuffer, strlen(szBuffer));
}
