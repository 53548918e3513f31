#pragma once
// Deterministic byte mutations for robustness tests: from a seeded generator, the edits a damaged file or a hostile
// peer would make to a valid encoding (flipped bits, boundary values, inserted, deleted, repeated and cut bytes).
// The same seed gives the same inputs on every run, so a failure can be replayed.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

namespace VexaTest
{
typedef std::vector<uint8_t> tBytes;

class CByteMutator
{
public:
	explicit CByteMutator(uint32_t uiSeed) : m_Random(uiSeed) {}

	uint32_t Next() { return static_cast<uint32_t>(m_Random()); }
	// A number below Limit; 0 for a limit of 0.
	size_t Below(size_t Limit) { return Limit ? Next() % Limit : 0; }
	bool Chance(unsigned uiPercent) { return Below(100) < uiPercent; }

	tBytes RandomBytes(size_t Length)
	{
		tBytes Bytes(Length);
		for (uint8_t& ucByte : Bytes)
			ucByte = static_cast<uint8_t>(Next());
		return Bytes;
	}

	// One to four edits of the seed.
	tBytes Mutate(const tBytes& Seed)
	{
		tBytes Bytes = Seed;
		const size_t Edits = 1 + Below(4);
		for (size_t i = 0; i < Edits; i++)
			Edit(Bytes);
		return Bytes;
	}

	// A 32-bit value a length or count field is most likely to be mishandled with.
	uint32_t BoundaryWord()
	{
		static const uint32_t s_rguiWords[] = {0, 1, 0x7F, 0x80, 0xFF, 0x7FFF, 0x8000, 0xFFFF, 0x10000, 0x7FFFFFFF,
			0x80000000, 0xFFFFFFFE, 0xFFFFFFFF};
		return s_rguiWords[Below(sizeof(s_rguiWords) / sizeof(s_rguiWords[0]))];
	}

private:
	void Edit(tBytes& Bytes)
	{
		switch (Below(7))
		{
		case 0:
			if (!Bytes.empty())
				Bytes[Below(Bytes.size())] ^= static_cast<uint8_t>(1u << Below(8));
			break;
		case 1:
			if (!Bytes.empty())
			{
				static const uint8_t s_rgucBytes[] = {0x00, 0x01, 0x7F, 0x80, 0xFE, 0xFF};
				Bytes[Below(Bytes.size())] = Chance(50) ? s_rgucBytes[Below(sizeof(s_rgucBytes))]
														: static_cast<uint8_t>(Next());
			}
			break;
		case 2:
		{
			const tBytes Inserted = RandomBytes(1 + Below(8));
			Bytes.insert(Bytes.begin() + static_cast<std::ptrdiff_t>(Below(Bytes.size() + 1)), Inserted.begin(),
				Inserted.end());
			break;
		}
		case 3:
			if (!Bytes.empty())
			{
				const size_t Start = Below(Bytes.size());
				const size_t Count = 1 + Below(std::min<size_t>(8, Bytes.size() - Start));
				Bytes.erase(Bytes.begin() + static_cast<std::ptrdiff_t>(Start),
					Bytes.begin() + static_cast<std::ptrdiff_t>(Start + Count));
			}
			break;
		case 4:
			Bytes.resize(Below(Bytes.size() + 1));
			break;
		case 5:
			// A piece of the input repeated elsewhere: records and values copied into places that expect others.
			if (!Bytes.empty())
			{
				const size_t Start = Below(Bytes.size());
				const size_t Count = 1 + Below(std::min<size_t>(32, Bytes.size() - Start));
				const tBytes Piece(Bytes.begin() + static_cast<std::ptrdiff_t>(Start),
					Bytes.begin() + static_cast<std::ptrdiff_t>(Start + Count));
				Bytes.insert(Bytes.begin() + static_cast<std::ptrdiff_t>(Below(Bytes.size() + 1)), Piece.begin(),
					Piece.end());
			}
			break;
		default:
			if (Bytes.size() >= 4)
			{
				const size_t Offset = Below(Bytes.size() - 3);
				const uint32_t uiWord = BoundaryWord();
				for (size_t i = 0; i < 4; i++)
					Bytes[Offset + i] = static_cast<uint8_t>(uiWord >> (8 * i));
			}
			break;
		}
	}

	std::mt19937 m_Random;
};
}
