// Engine script functions that belong to no game: colour packing, the point-in-polygon test and the
// garbage-collection trigger.

#include <algorithm>
#include <cmath>
#include <vector>

#include "Engine/KestrinNative.h"

namespace
{
bool ToColour(CNativeState* pState, int argc, void*)
{
	uint8_t ucRed = 0, ucGreen = 0, ucBlue = 0, ucAlpha = 255;
	if (!pState->CheckNumber(0, ucRed) || !pState->CheckNumber(1, ucGreen) || !pState->CheckNumber(2, ucBlue))
		return false;
	if (argc >= 4 && !pState->CheckNumber(3, ucAlpha))
		return false;
	uint32_t uiColour = (static_cast<uint32_t>(ucAlpha) << 24) | (static_cast<uint32_t>(ucRed) << 16) |
		(static_cast<uint32_t>(ucGreen) << 8) | ucBlue;
	pState->ReturnNumber(uiColour);
	return true;
}

bool CollectAllGarbage(CNativeState* pState, int, void* pUserData)
{
	CScripting* pScripting = pUserData ? static_cast<CScripting*>(pUserData) : pState->GetScripting();
	if (pScripting)
		pScripting->CollectGarbage();
	return true;
}

// Counts the polygon edges above the point along a vertical ray; an odd count means inside.
bool IsPointInPolygon(const CVector2D& vecPoint, const std::vector<CVector2D>& Polygon)
{
	const float fX = vecPoint.x;
	const float fY = vecPoint.y;
	const size_t Count = Polygon.size();
	size_t Crossings = 0;
	for (size_t i = 0; i < Count; i++)
	{
		const CVector2D& vecA = Polygon[i];
		const CVector2D& vecB = Polygon[(i + 1) % Count];
		if (!(fX > std::min(vecA.x, vecB.x) && fX <= std::max(vecA.x, vecB.x)))
			continue;
		if (!(fY < vecA.y || fY <= vecB.y))
			continue;
		float fDeltaX = vecB.x - vecA.x;
		// A vertical edge gets a huge slope instead of a division by (almost) zero.
		float fSlope = std::fabs(fDeltaX) < 1e-6f ? 4294967296.0f : (vecB.y - vecA.y) / fDeltaX;
		if (fY <= vecA.y - vecA.x * fSlope + fSlope * fX)
			Crossings++;
	}
	return (Crossings & 1) != 0;
}

bool InPoly(CNativeState* pState, int argc, void*)
{
	CVector2D vecPoint;
	if (!pState->CheckVector2D(0, vecPoint))
		return false;
	std::vector<CVector2D> Polygon;
	if (argc > 1)
		Polygon.resize(static_cast<size_t>(argc) - 1);
	for (size_t i = 0; i < Polygon.size(); i++)
	{
		if (!pState->CheckVector2D(i + 1, Polygon[i]))
			return false;
	}
	pState->ReturnBoolean(!Polygon.empty() && IsPointInPolygon(vecPoint, Polygon));
	return true;
}
}

void CScripting::RegisterUtilityFunctions()
{
	m_Global.RegisterFunction("toColour", "iii|i", ToColour, this);
	m_Global.RegisterFunction("collectAllGarbage", "", CollectAllGarbage, this);
	m_Global.RegisterFunction("inPoly", "z*", InPoly, this);
}
