#pragma once
// Read-only view of the loaded configuration file: every setting is a direct child element of the root whose
// text is the value. Keys compare without regard to case and the first occurrence counts; a key that is
// missing or has no text takes the caller's default.

#include <cstddef>
#include <cstdint>

class CElementChunk;

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

private:
	CElementChunk* m_pRoot;
};
