#include "Engine/KestrinStream.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include "Engine/ModuleViews.h"

namespace
{
// What an open file weighs beyond its memory with the collectors that free dropped streams. A process runs out of
// descriptors (often 1,024) long before it runs out of memory for their buffers: paced by the buffers alone, the
// JavaScript collector let some 700 dropped open files wait, and more than 1,024 once the script kept 10 MB of its
// own alive (the collector waits longer the more a zone keeps); at this weight it lets fewer than 100 wait, a few
// hundred with 20 MB kept, and the collections that adds took no CPU time that could be told apart.
constexpr size_t OPEN_FILE_WEIGHT = 64 * 1024;

// The new position for a seek, or false when whence is unknown or the result falls before the start or
// beyond what a long can report through Tell.
bool ComputeSeekTarget(long lOffset, int iWhence, int64_t iCurrent, int64_t iEnd, int64_t& iResult)
{
	int64_t iBase;
	switch (iWhence)
	{
	case 0:
		iBase = 0;
		break;
	case 1:
		iBase = iCurrent;
		break;
	case 2:
		iBase = iEnd;
		break;
	default:
		return false;
	}
	int64_t iTarget;
	if (__builtin_add_overflow(iBase, static_cast<int64_t>(lOffset), &iTarget))
		return false;
	if (iTarget < 0 || iTarget > LONG_MAX)
		return false;
	iResult = iTarget;
	return true;
}
}

Stream::~Stream()
{
	Kestrin3D::Interfaces::DetachView(m_pStreamInterface);
}

long Stream::GetLength()
{
	long lPosition = Tell();
	if (!Seek(0, 2))
		return -1;
	long lLength = Tell();
	Seek(lPosition, 0);
	return lLength;
}

bool Stream::SetModifiedTime(time_t)
{
	return false;
}

size_t ReadFully(Stream* pStream, void* pDst, size_t Size)
{
	size_t Total = 0;
	while (Total < Size)
	{
		size_t Got = pStream->Read(static_cast<char*>(pDst) + Total, Size - Total);
		if (Got == 0)
			break;
		Total += Got;
	}
	return Total;
}

CMemoryStream::CMemoryStream(void* pData, size_t Length, bool bReadable, bool bWritable, CBaseObject* pOwner) :
	m_pOwner(pOwner),
	m_pData(static_cast<unsigned char*>(pData)),
	m_Length(pData ? Length : 0),
	m_iPosition(0),
	m_uiAccess((bReadable ? ACCESS_READ : 0) | (bWritable ? ACCESS_WRITE : 0))
{
}

CMemoryStream::CMemoryStream(const void* pData, size_t Length, CBaseObject* pOwner) :
	CMemoryStream(const_cast<void*>(pData), Length, true, false, pOwner)
{
}

CMemoryStream::~CMemoryStream()
{
	m_pOwner.SetNull();
}

size_t CMemoryStream::Read(void* pDst, size_t n)
{
	if (!(m_uiAccess & ACCESS_READ))
		return 0;
	uint64_t Position = static_cast<uint64_t>(m_iPosition);
	if (Position >= m_Length)
		return 0;
	size_t Count = m_Length - static_cast<size_t>(Position);
	if (n < Count)
		Count = n;
	memcpy(pDst, m_pData + Position, Count);
	m_iPosition += static_cast<int64_t>(Count);
	return Count;
}

size_t CMemoryStream::Write(const void* pSrc, size_t n)
{
	if (!(m_uiAccess & ACCESS_WRITE))
		return 0;
	uint64_t Position = static_cast<uint64_t>(m_iPosition);
	if (Position > m_Length || n > m_Length - static_cast<size_t>(Position))
		return 0;
	memcpy(m_pData + Position, pSrc, n);
	m_iPosition += static_cast<int64_t>(n);
	return n;
}

bool CMemoryStream::Seek(long lOffset, int iWhence)
{
	return ComputeSeekTarget(lOffset, iWhence, m_iPosition, static_cast<int64_t>(m_Length), m_iPosition);
}

long CMemoryStream::Tell()
{
	return static_cast<long>(m_iPosition);
}

long CMemoryStream::GetLength()
{
	return static_cast<long>(m_Length);
}

CStandardStream::CStandardStream(FILE* pFile) :
	m_pFile(pFile)
{
}

CStandardStream::~CStandardStream()
{
	if (m_pFile)
		fclose(m_pFile);
}

size_t CStandardStream::GetRetainedBytes() const
{
	// The C library's record of the open file and its buffer, and the descriptor, which weighs more than its
	// memory.
	return Stream::GetRetainedBytes() + (m_pFile != nullptr ? sizeof(FILE) + BUFSIZ + OPEN_FILE_WEIGHT : 0);
}

CStandardStream* CStandardStream::Open(const char* szPath, const char* szMode)
{
	if (!szPath || !szMode)
		return nullptr;
	FILE* pFile = fopen(szPath, szMode);
	if (!pFile)
		return nullptr;
	return new CStandardStream(pFile);
}

size_t CStandardStream::Read(void* pDst, size_t n)
{
	return fread(pDst, 1, n, m_pFile);
}

size_t CStandardStream::Write(const void* pSrc, size_t n)
{
	return fwrite(pSrc, 1, n, m_pFile);
}

bool CStandardStream::Seek(long lOffset, int iWhence)
{
	int iOrigin;
	switch (iWhence)
	{
	case 0:
		iOrigin = SEEK_SET;
		break;
	case 1:
		iOrigin = SEEK_CUR;
		break;
	case 2:
		iOrigin = SEEK_END;
		break;
	default:
		return false;
	}
	return fseek(m_pFile, lOffset, iOrigin) == 0;
}

long CStandardStream::Tell()
{
	return ftell(m_pFile);
}

CUnlimitedStream::CUnlimitedStream() :
	m_pData(m_InlineBuffer),
	m_Capacity(INLINE_SIZE),
	m_Length(0),
	m_Position(0)
{
}

CUnlimitedStream::~CUnlimitedStream()
{
	if (m_pData != m_InlineBuffer)
		free(m_pData);
}

// Makes the capacity at least Needed, doubling at least once from the current capacity.
bool CUnlimitedStream::Reserve(size_t Needed)
{
	if (Needed <= m_Capacity)
		return true;
	size_t NewCapacity = m_Capacity ? m_Capacity : 1;
	do
	{
		if (NewCapacity > SIZE_MAX / 2)
		{
			NewCapacity = Needed;
			break;
		}
		NewCapacity *= 2;
	} while (NewCapacity < Needed);

	if (m_pData == m_InlineBuffer)
	{
		unsigned char* pBlock = static_cast<unsigned char*>(malloc(NewCapacity));
		if (!pBlock)
			return false;
		memcpy(pBlock, m_InlineBuffer, m_Capacity);
		m_pData = pBlock;
	}
	else
	{
		unsigned char* pBlock = static_cast<unsigned char*>(realloc(m_pData, NewCapacity));
		if (!pBlock)
			return false;
		m_pData = pBlock;
	}
	m_Capacity = NewCapacity;
	return true;
}

size_t CUnlimitedStream::Write(const void* pSrc, size_t n)
{
	if (n == 0)
		return 0;
	if (n > SIZE_MAX - m_Position || m_Position + n > static_cast<size_t>(LONG_MAX))
		return 0;
	if (!Reserve(m_Position + n))
		return 0;
	memcpy(m_pData + m_Position, pSrc, n);
	m_Position += n;
	if (m_Position > m_Length)
		m_Length = m_Position;
	return n;
}

size_t CUnlimitedStream::Read(void* pDst, size_t n)
{
	if (m_Position >= m_Length)
		return 0;
	size_t Count = m_Length - m_Position;
	if (n < Count)
		Count = n;
	memcpy(pDst, m_pData + m_Position, Count);
	m_Position += Count;
	return Count;
}

bool CUnlimitedStream::Seek(long lOffset, int iWhence)
{
	int64_t iTarget;
	if (!ComputeSeekTarget(lOffset, iWhence, static_cast<int64_t>(m_Position), static_cast<int64_t>(m_Length), iTarget))
		return false;
	size_t Target = static_cast<size_t>(iTarget);
	if (Target > m_Length)
	{
		// The buffer always holds the whole length, so every byte a later read reaches is real memory;
		// the gap reads as zeros.
		if (!Reserve(Target))
			return false;
		memset(m_pData + m_Length, 0, Target - m_Length);
		m_Length = Target;
	}
	m_Position = Target;
	return true;
}

long CUnlimitedStream::Tell()
{
	return static_cast<long>(m_Position);
}

long CUnlimitedStream::GetLength()
{
	return static_cast<long>(m_Length);
}

size_t CUnlimitedStream::WriteTo(CUnlimitedStream* pDestination, size_t n)
{
	if (!pDestination || pDestination == this)
		return 0;
	if (n > m_Length)
		n = m_Length;
	return pDestination->Write(m_pData, n);
}

CStreamRangeStream::CStreamRangeStream(Stream* pParent, uint64_t Offset, uint64_t Length) :
	m_pParent(pParent),
	m_Offset(Offset),
	m_Length(Length),
	m_iPosition(0)
{
}

CStreamRangeStream::~CStreamRangeStream()
{
	m_pParent.SetNull();
}

bool CStreamRangeStream::SeekParent()
{
	uint64_t Target = m_Offset + static_cast<uint64_t>(m_iPosition);
	if (Target < m_Offset || Target > static_cast<uint64_t>(LONG_MAX))
		return false;
	return m_pParent->Seek(static_cast<long>(Target), 0);
}

size_t CStreamRangeStream::Read(void* pDst, size_t n)
{
	if (m_pParent.IsNull())
		return 0;
	uint64_t Position = static_cast<uint64_t>(m_iPosition);
	if (Position >= m_Length)
		return 0;
	uint64_t Count = m_Length - Position;
	if (n < Count)
		Count = n;
	if (!SeekParent())
		return 0;
	size_t Read = m_pParent->Read(pDst, static_cast<size_t>(Count));
	if (Read > Count)
		Read = static_cast<size_t>(Count);
	m_iPosition += static_cast<int64_t>(Read);
	return Read;
}

size_t CStreamRangeStream::Write(const void* pSrc, size_t n)
{
	if (m_pParent.IsNull())
		return 0;
	uint64_t Position = static_cast<uint64_t>(m_iPosition);
	if (Position > m_Length || n > m_Length - Position)
		return 0;
	if (!SeekParent())
		return 0;
	size_t Written = m_pParent->Write(pSrc, n);
	if (Written > n)
		Written = n;
	m_iPosition += static_cast<int64_t>(Written);
	return Written;
}

bool CStreamRangeStream::Seek(long lOffset, int iWhence)
{
	int64_t iEnd = m_Length > static_cast<uint64_t>(LONG_MAX) ? LONG_MAX : static_cast<int64_t>(m_Length);
	return ComputeSeekTarget(lOffset, iWhence, m_iPosition, iEnd, m_iPosition);
}

long CStreamRangeStream::Tell()
{
	return static_cast<long>(m_iPosition);
}

long CStreamRangeStream::GetLength()
{
	return static_cast<long>(m_Length);
}
