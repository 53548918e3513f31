#pragma once
// Fixed-capacity slot array and a doubly linked list. The slot index of an array item is its identity (a
// timer's slot, an element's slot), so items never move and the array never reallocates.

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>

#include "Engine/KAssert.h"

template <class TArray, class TItem>
class CArrayIterator
{
public:
	CArrayIterator() : m_pArray(nullptr), m_Index(0) {}
	explicit CArrayIterator(TArray* pArray) : m_pArray(pArray), m_Index(0)
	{
		if (m_pArray)
			MoveTo(m_pArray->NextUsedFrom(0));
	}

	CArrayIterator& operator++()
	{
		if (m_pArray)
			MoveTo(m_pArray->NextUsedFrom(m_Index + 1));
		return *this;
	}
	TItem& operator*() const { return m_pArray->GetAt(m_Index); }
	bool operator!=(const CArrayIterator& other) const { return m_pArray != other.m_pArray || m_Index != other.m_Index; }
	bool operator==(const CArrayIterator& other) const { return !(*this != other); }
	size_t GetIndex() const { return m_Index; }

private:
	void MoveTo(size_t Index)
	{
		if (Index >= m_pArray->GetSize())
		{
			m_pArray = nullptr;
			m_Index = 0;
		}
		else
			m_Index = Index;
	}

	TArray* m_pArray;
	size_t m_Index;
};

template <class T>
class Array
{
public:
	typedef CArrayIterator<Array<T>, T> iterator;

	explicit Array(size_t capacity) : m_Size(capacity), m_Count(0)
	{
		m_pUsed = static_cast<unsigned char*>(calloc(capacity ? capacity : 1, 1));
		m_pItems = new T[capacity ? capacity : 1]();
	}
	Array(const Array&) = delete;
	Array& operator=(const Array&) = delete;
	~Array()
	{
		free(m_pUsed);
		delete[] m_pItems;
	}

	// Stores the item in the lowest free slot; false when the array is full.
	bool Add(const T& item, size_t* pIndex = nullptr)
	{
		for (size_t i = 0; i < m_Size; i++)
		{
			if (!m_pUsed[i])
			{
				AddAt(i, item);
				if (pIndex)
					*pIndex = i;
				return true;
			}
		}
		return false;
	}

	// Stores into the given slot. An index out of range or a slot already in use changes nothing.
	bool AddAt(size_t Index, const T& item)
	{
		if (!KASSERT(Index < m_Size))
			return false;
		if (!KASSERT(!m_pUsed[Index]))
			return false;
		m_pItems[Index] = item;
		m_pUsed[Index] = 1;
		m_Count++;
		return true;
	}

	// Stores into the given slot whether or not it is in use, replacing what was there; the count grows only
	// when the slot was free. An index out of range changes nothing.
	bool SetAt(size_t Index, const T& item)
	{
		if (!KASSERT(Index < m_Size))
			return false;
		if (!m_pUsed[Index])
		{
			m_pUsed[Index] = 1;
			m_Count++;
		}
		m_pItems[Index] = item;
		return true;
	}

	// Frees the slot; the stored item stays and is not destroyed. A free or out-of-range slot changes nothing.
	bool RemoveAt(size_t Index)
	{
		if (!KASSERT(Index < m_Size))
			return false;
		if (!KASSERT(m_pUsed[Index]))
			return false;
		m_pUsed[Index] = 0;
		m_Count--;
		return true;
	}

	bool Remove(const T& item)
	{
		for (size_t i = 0; i < m_Size; i++)
		{
			if (m_pUsed[i] && m_pItems[i] == item)
				return RemoveAt(i);
		}
		return false;
	}

	// Out of range reads yield a default item rather than touching memory outside the array.
	T& GetAt(size_t Index)
	{
		if (!KASSERT(Index < m_Size))
		{
			static T s_Empty;
			s_Empty = T();
			return s_Empty;
		}
		return m_pItems[Index];
	}
	const T& GetAt(size_t Index) const { return const_cast<Array*>(this)->GetAt(Index); }
	bool IsUsedAt(size_t Index) const { return Index < m_Size && m_pUsed[Index] != 0; }
	size_t GetCount() const { return m_Count; }
	size_t GetSize() const { return m_Size; }
	void Clear()
	{
		memset(m_pUsed, 0, m_Size ? m_Size : 1);
		m_Count = 0;
	}

	size_t NextUsedFrom(size_t Index) const
	{
		while (Index < m_Size && !m_pUsed[Index])
			Index++;
		return Index;
	}

	iterator begin() { return iterator(this); }
	iterator end() { return iterator(); }

private:
	size_t m_Size;
	size_t m_Count;
	unsigned char* m_pUsed;
	T* m_pItems;
};

template <class T>
class LinkedList;

template <class T>
class LinkedListNode
{
public:
	LinkedListNode* GetNextNode() const { return m_pNext; }
	LinkedListNode* GetPreviousNode() const { return m_pPrevious; }
	LinkedList<T>* GetList() const { return m_pList; }
	T& GetValue() { return m_Value; }

private:
	friend class LinkedList<T>;
	LinkedListNode(LinkedList<T>* pList, const T& value) : m_pList(pList), m_pNext(nullptr), m_pPrevious(nullptr), m_Value(value) {}

	LinkedList<T>* m_pList;
	LinkedListNode* m_pNext;
	LinkedListNode* m_pPrevious;
	T m_Value;
};

template <class T>
class LinkedList
{
public:
	typedef LinkedListNode<T> Node;

	class iterator
	{
	public:
		explicit iterator(Node* pNode) : m_pNode(pNode) {}
		iterator& operator++()
		{
			m_pNode = m_pNode->GetNextNode();
			return *this;
		}
		T& operator*() const { return m_pNode->GetValue(); }
		bool operator!=(const iterator& other) const { return m_pNode != other.m_pNode; }

	private:
		Node* m_pNode;
	};

	LinkedList() : m_pLast(nullptr), m_pFirst(nullptr), m_Count(0) {}
	LinkedList(const LinkedList&) = delete;
	LinkedList& operator=(const LinkedList&) = delete;
	~LinkedList() { ClearNodes(); }

	// Inserts at the front.
	Node* AddNode(const T& value)
	{
		Node* pNode = new Node(this, value);
		pNode->m_pNext = m_pFirst;
		if (m_pFirst)
			m_pFirst->m_pPrevious = pNode;
		m_pFirst = pNode;
		if (!m_pLast)
			m_pLast = pNode;
		m_Count++;
		return pNode;
	}

	void RemoveNode(Node* pNode)
	{
		if (!pNode || pNode->m_pList != this)
			return;
		if (pNode->m_pPrevious)
			pNode->m_pPrevious->m_pNext = pNode->m_pNext;
		else
			m_pFirst = pNode->m_pNext;
		if (pNode->m_pNext)
			pNode->m_pNext->m_pPrevious = pNode->m_pPrevious;
		else
			m_pLast = pNode->m_pPrevious;
		m_Count--;
		delete pNode;
	}

	void ClearNodes()
	{
		while (m_pFirst)
			RemoveNode(m_pFirst);
	}

	Node* GetFirstNode() const { return m_pFirst; }
	Node* GetLastNode() const { return m_pLast; }
	size_t GetCount() const { return m_Count; }
	iterator begin() { return iterator(m_pFirst); }
	iterator end() { return iterator(nullptr); }

private:
	Node* m_pLast;
	Node* m_pFirst;
	size_t m_Count;
};
