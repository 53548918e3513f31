#include "VehicleColours.h"

#include <cstdio>

#include "Engine/Context.h"
#include "Engine/KestrinStream.h"

namespace
{
constexpr size_t LINE_BUFFER_SIZE = 128;
}

CVehicleColours::tDefinitions& CVehicleColours::FindDefinitions(uint32_t uiModel)
{
	return m_Definitions[uiModel];
}

const CVehicleColours::tDefinitions* CVehicleColours::GetDefinitions(uint32_t uiModel) const
{
	auto Found = m_Definitions.find(uiModel);
	return Found == m_Definitions.end() ? nullptr : &Found->second;
}

void CVehicleColours::RegisterColourPair(uint32_t uiModel, const tVehicleColourDefinition& Definition)
{
	FindDefinitions(uiModel).push_back(Definition);
}

void CVehicleColours::Clear()
{
	m_Definitions.clear();
}

void CVehicleColours::Load(Stream* pStream)
{
	CTextReader Reader(pStream);
	char szLine[LINE_BUFFER_SIZE];
	size_t Length = 0;
	int iLine = 0;
	while (Reader.ReadLine(szLine, sizeof(szLine), &Length))
	{
		iLine++;
		if (szLine[0] == '\0' || szLine[0] == '#' || szLine[0] == '\r' || szLine[0] == '\n')
			continue;

		int iModel = 0;
		int iColours[4] = {0, 0, 0, 0};
		int iRead = sscanf(szLine, "%d %d %d %d %d", &iModel, &iColours[0], &iColours[1], &iColours[2], &iColours[3]);
		if (iRead < 3)
		{
			if (Context* pContext = KGlobal::GetContext())
				pContext->LogWarn("vehiclecolours.conf[%d] - bad syntax '%s'", iLine, szLine);
			continue;
		}

		tVehicleColourDefinition Definition;
		Definition.m_bRGB = false;
		for (int i = 0; i < 4; i++)
			Definition.m_iColours[i] = static_cast<uint8_t>(iColours[i]);
		RegisterColourPair(static_cast<uint32_t>(iModel), Definition);
	}
}
