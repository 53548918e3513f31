#pragma once
// Registries of named settings: the client variables, the table of configuration keys with typed
// callbacks, and the settings tree owned by the Context.

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

class Stream;

// One client variable. Names and values are heap copies freed with the variable.
class CVar
{
public:
	CVar(const CVar&) = delete;
	CVar& operator=(const CVar&) = delete;
	~CVar();

	uint32_t GetKey() const { return m_uiKey; }
	const char* GetName() const { return m_szName; }
	const char* GetValue() const { return m_szValue; }

private:
	friend class CVarSystem;
	CVar(uint32_t uiKey, char* szName, char* szValue) : m_uiKey(uiKey), m_szName(szName), m_szValue(szValue) {}

	uint32_t m_uiKey;
	char* m_szName;
	char* m_szValue;
};

// The server's client variables, keyed by the CRC-32 of the lower-cased name so names match without
// regard to case; a variable keeps the spelling its name had when first set.
class CVarSystem
{
public:
	CVarSystem() = default;
	~CVarSystem();

	CVarSystem(const CVarSystem&) = delete;
	CVarSystem& operator=(const CVarSystem&) = delete;

	// False, with the table unchanged, for a null name or value or when the texts cannot be copied.
	bool Set(const char* szName, const char* szValue);
	CVar* Find(const char* szName) const;
	CVar* Find(uint32_t uiKey) const;

	// Writes the table for a joining client: the count as 16-bit little-endian, then per variable a
	// length-prefixed block holding the name and the value as wire strings. False, with nothing
	// written, when the count does not fit 16 bits or the stream takes less than the whole table.
	bool Serialise(Stream* pStream) const;

	void Clear();

private:
	std::unordered_map<uint32_t, std::unique_ptr<CVar>> m_Vars;
};

// Configuration key names mapped to typed callbacks. Registering a name again replaces its entry.
class CConfig
{
public:
	typedef bool (*StringCallback)(const char* szKey, const char* szValue, void* pUserData);
	typedef bool (*BooleanCallback)(const char* szKey, bool bValue, void* pUserData);
	typedef bool (*IntegerCallback)(const char* szKey, int iValue, void* pUserData);

	class CConfigEntry
	{
	public:
		enum eKind
		{
			KIND_STRING = 0,
			KIND_BOOLEAN = 1,
			KIND_INTEGER = 2,
		};

		explicit CConfigEntry(StringCallback pCallback);
		explicit CConfigEntry(BooleanCallback pCallback);
		explicit CConfigEntry(IntegerCallback pCallback);

		void* m_pUserData;
		eKind m_eKind;
		union
		{
			StringCallback m_pStringCallback;
			BooleanCallback m_pBooleanCallback;
			IntegerCallback m_pIntegerCallback;
		};
	};

	CConfig() = default;
	~CConfig();

	CConfig(const CConfig&) = delete;
	CConfig& operator=(const CConfig&) = delete;

	bool RegisterCallback(const char* szName, void* pUserData, StringCallback pCallback);
	bool RegisterCallback(const char* szName, void* pUserData, BooleanCallback pCallback);
	bool RegisterCallback(const char* szName, void* pUserData, IntegerCallback pCallback);
	// Takes ownership of pEntry and gives it pUserData. False for a null name or entry (the entry is
	// then deleted).
	bool RegisterCommand(const char* szName, void* pUserData, std::unique_ptr<CConfigEntry> pEntry);

	// The entry registered under the name, compared without regard to case, or null.
	const CConfigEntry* FindEntry(const char* szName) const;
	size_t GetEntryCount() const { return m_Entries.size(); }

private:
	// The map owns its entries, so the key lookup and the owning collection cannot disagree.
	std::unordered_map<uint32_t, std::unique_ptr<CConfigEntry>> m_Entries;
};

class ConfigElement;

// A node of the settings tree: its parent (null for the root), a 32-bit value and a text.
class ConfigVariable
{
public:
	explicit ConfigVariable(ConfigElement* pParent = nullptr) : m_pParent(pParent), m_uiValue(0) {}
	virtual ~ConfigVariable() = default;

	ConfigVariable(const ConfigVariable&) = delete;
	ConfigVariable& operator=(const ConfigVariable&) = delete;

	ConfigElement* GetParent() const { return m_pParent; }

protected:
	ConfigElement* m_pParent;
	uint32_t m_uiValue;
	std::string m_strText;
};

// A node with children keyed by a 32-bit key; it owns and deletes them.
class ConfigElement : public ConfigVariable
{
public:
	explicit ConfigElement(ConfigElement* pParent = nullptr) : ConfigVariable(pParent) {}
	virtual ~ConfigElement() = default;

protected:
	std::unordered_map<uint32_t, std::unique_ptr<ConfigVariable>> m_Children;
};
