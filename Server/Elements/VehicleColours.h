#pragma once
// The default colour sets of every vehicle model, read once at start-up from the game's colour file.

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

class Stream;

struct tVehicleColourDefinition
{
	uint8_t m_bRGB;          // false for every set read from a file: the colours are palette indices
	int32_t m_iColours[4];   // palette indices 0 to 255
};

class CVehicleColours
{
public:
	typedef std::vector<tVehicleColourDefinition> tDefinitions;

	// The model's sets; a model without any gets a new empty list, which is returned. For registering sets only:
	// lookups go through GetDefinitions, so asking about unknown models does not grow the table.
	tDefinitions& FindDefinitions(uint32_t uiModel);
	// The model's sets, or null when it has none.
	const tDefinitions* GetDefinitions(uint32_t uiModel) const;
	void RegisterColourPair(uint32_t uiModel, const tVehicleColourDefinition& Definition);
	void Clear();

	size_t GetModelCount() const { return m_Definitions.size(); }

	// Reads a colour file: one set per line as "model colour1 colour2 [colour3 [colour4]]"; empty lines and
	// lines beginning with "#" are skipped; a line with fewer than three numbers is reported and skipped.
	// Reading stops at the end of the text or at a line longer than the line buffer.
	void Load(Stream* pStream);

private:
	std::unordered_map<uint32_t, tDefinitions> m_Definitions;
};
