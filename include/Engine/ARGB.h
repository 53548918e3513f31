#pragma once
// The engine's 32-bit colour and its named colours, which scripts also see as constants.

#include <cstddef>
#include <cstdint>

// One colour as 0xAARRGGBB: alpha in the top byte, then red, green and blue. In memory (little-endian) its bytes
// are blue, green, red, alpha.
class CARGB
{
public:
	constexpr CARGB() : m_uiValue(0) {}
	constexpr explicit CARGB(uint32_t uiValue) : m_uiValue(uiValue) {}
	constexpr CARGB(uint8_t ucAlpha, uint8_t ucRed, uint8_t ucGreen, uint8_t ucBlue)
		: m_uiValue(static_cast<uint32_t>(ucAlpha) << 24 | static_cast<uint32_t>(ucRed) << 16 |
			  static_cast<uint32_t>(ucGreen) << 8 | ucBlue)
	{
	}

	constexpr uint32_t GetValue() const { return m_uiValue; }
	constexpr uint8_t GetAlpha() const { return static_cast<uint8_t>(m_uiValue >> 24); }
	constexpr uint8_t GetRed() const { return static_cast<uint8_t>(m_uiValue >> 16); }
	constexpr uint8_t GetGreen() const { return static_cast<uint8_t>(m_uiValue >> 8); }
	constexpr uint8_t GetBlue() const { return static_cast<uint8_t>(m_uiValue); }

	constexpr bool operator==(const CARGB& Other) const { return m_uiValue == Other.m_uiValue; }
	constexpr bool operator!=(const CARGB& Other) const { return m_uiValue != Other.m_uiValue; }

	static const CARGB Transparent;
	static const CARGB White;
	static const CARGB Black;
	static const CARGB Red;
	static const CARGB Lime;
	static const CARGB Blue;
	static const CARGB Yellow;
	static const CARGB Aqua;
	static const CARGB Fuchsia;
	static const CARGB SkyBlue;
	static const CARGB Silver;
	static const CARGB Green;
	static const CARGB Orange;

private:
	uint32_t m_uiValue;
};

static_assert(sizeof(CARGB) == 4, "pixels are stored and copied as 32-bit values");

inline constexpr CARGB CARGB::Transparent{0x00000000u};
inline constexpr CARGB CARGB::White{0xFFFFFFFFu};
inline constexpr CARGB CARGB::Black{0xFF000000u};
inline constexpr CARGB CARGB::Red{0xFFFF0000u};
inline constexpr CARGB CARGB::Lime{0xFF00FF00u};
inline constexpr CARGB CARGB::Blue{0xFF0000FFu};
inline constexpr CARGB CARGB::Yellow{0xFFFFFF00u};
inline constexpr CARGB CARGB::Aqua{0xFF00FFFFu};
inline constexpr CARGB CARGB::Fuchsia{0xFFFF00FFu};
inline constexpr CARGB CARGB::SkyBlue{0xFF66CCFFu};
inline constexpr CARGB CARGB::Silver{0xFFC3C3C3u};
inline constexpr CARGB CARGB::Green{0xFF007F00u};
inline constexpr CARGB CARGB::Orange{0xFFFF7F00u};

// The named colours under the names scripts know them by, in the order they are registered.
struct tNamedColour
{
	const char* m_szName;
	CARGB m_Colour;
};

inline constexpr tNamedColour g_rgNamedColours[] = {
	{"COLOUR_TRANSPARENT", CARGB::Transparent},
	{"COLOUR_WHITE", CARGB::White},
	{"COLOUR_BLACK", CARGB::Black},
	{"COLOUR_RED", CARGB::Red},
	{"COLOUR_LIME", CARGB::Lime},
	{"COLOUR_BLUE", CARGB::Blue},
	{"COLOUR_YELLOW", CARGB::Yellow},
	{"COLOUR_AQUA", CARGB::Aqua},
	{"COLOUR_FUCHSIA", CARGB::Fuchsia},
	{"COLOUR_SKYBLUE", CARGB::SkyBlue},
	{"COLOUR_SILVER", CARGB::Silver},
	{"COLOUR_GREEN", CARGB::Green},
	{"COLOUR_ORANGE", CARGB::Orange},
};
