#pragma once
// Read-only view of the loaded configuration file: every setting is a direct child element of the root whose
// text is the value. Keys compare without regard to case and the first occurrence counts; a key that is
// missing or has no text takes the caller's default.

#include <cstddef>
#include <cstdint>

#include "Engine/ElementChunk.h"

class Context;

class CServerConfiguration
{
public:
	// Takes ownership of the tree.
	explicit CServerConfiguration(CElementChunk* pRoot);
	~CServerConfiguration();

	CServerConfiguration(const CServerConfiguration&) = delete;
	CServerConfiguration& operator=(const CServerConfiguration&) = delete;

	const CElementChunk* GetRoot() const { return m_pRoot; }
	// The first child element of the root of that name, or null.
	const CElementChunk* FindElement(const char* szName) const;
	// The key's text, or null when the key is missing or has no text.
	const char* FindValue(const char* szName) const;

	const char* GetStringValue(const char* szName, const char* szDefault) const;
	int32_t GetInt32Value(const char* szName, int32_t iDefault) const;
	float GetFloatValue(const char* szName, float fDefault) const;
	// Exactly "true", "1", "false" or "0"; any other text keeps the default.
	bool GetBoolValue(const char* szName, bool bDefault) const;

	// The first child element of pParent of that name at index Start or later (names compare without regard
	// to case), or null.
	static const CElementChunk* FindChild(const CElementChunk* pParent, const char* szName, size_t Start = 0);
	// The element's text, or null when it has none.
	static const char* GetText(const CElementChunk* pElement);

	// Each child element of pParent of that name, in document order; none without a parent.
	template <class TVisit>
	static void ForEachChild(const CElementChunk* pParent, const char* szName, TVisit Visit)
	{
		for (const CElementChunk* pChild = FindChild(pParent, szName); pChild;
			 pChild = FindChild(pParent, szName, pChild->GetIndex() + 1))
			Visit(pChild);
	}
	// The two attributes an entry of a list must have (a rule's name and value, say). False when one is missing,
	// after the error "<what> in config without <first> attribute!" or "<what> <value of the first> in config
	// without <second> attribute!".
	static bool GetAttributePair(Context* pContext, const CElementChunk* pEntry, const char* szWhat,
		const char* szFirst, const char* szSecond, const char*& szFirstValue, const char*& szSecondValue);

private:
	CElementChunk* m_pRoot;
};
