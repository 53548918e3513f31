#include <gtest/gtest.h>

#include "Elements/VehicleColours.h"

#include "Engine/BuiltinArchive.h"
#include "Engine/Context.h"
#include "Engine/KestrinStream.h"
#include "Engine/Tar.h"

namespace
{
std::vector<int32_t> Colours(const tVehicleColourDefinition& Definition)
{
	return std::vector<int32_t>(Definition.m_iColours, Definition.m_iColours + 4);
}
}

TEST(VehicleColours, LinesBecomeSetsOfTheirModel)
{
	Context ProcessContext;
	CVehicleColours VehicleColours;
	testing::internal::CaptureStdout();
	const std::string Text = "# default car colours\r\n\r\n106 1 3\r\n446 1 20 3 0\r\n106 1\r\n"
							 " # not a comment\r\n107 300 -1\r\n";
	VehicleColours.Load(Strong<Stream>::New(new CMemoryStream(Text.data(), Text.size())));
	std::string Output = testing::internal::GetCapturedStdout();

	const CVehicleColours::tDefinitions& Model106 = VehicleColours.FindDefinitions(106);
	ASSERT_EQ(Model106.size(), 1u);
	EXPECT_FALSE(Model106[0].m_bRGB);
	EXPECT_EQ(Colours(Model106[0]), (std::vector<int32_t>{1, 3, 0, 0}));
	ASSERT_EQ(VehicleColours.FindDefinitions(446).size(), 1u);
	EXPECT_EQ(Colours(VehicleColours.FindDefinitions(446)[0]), (std::vector<int32_t>{1, 20, 3, 0}));
	ASSERT_EQ(VehicleColours.FindDefinitions(107).size(), 1u);
	EXPECT_EQ(Colours(VehicleColours.FindDefinitions(107)[0]), (std::vector<int32_t>{44, 255, 0, 0}));

	EXPECT_NE(Output.find("vehiclecolours.conf[5] - bad syntax '106 1'"), std::string::npos) << Output;
	EXPECT_NE(Output.find("vehiclecolours.conf[6] - bad syntax ' # not a comment'"), std::string::npos) << Output;
}

TEST(VehicleColours, UnknownModelGetsAnEmptyList)
{
	CVehicleColours VehicleColours;
	EXPECT_TRUE(VehicleColours.FindDefinitions(999).empty());
	EXPECT_EQ(VehicleColours.GetModelCount(), 1u);
	VehicleColours.Clear();
	EXPECT_EQ(VehicleColours.GetModelCount(), 0u);
}

TEST(VehicleColours, BuiltinFilesCoverEveryModelOfTheirGame)
{
	struct tCase
	{
		const char* m_szPath;
		uint32_t m_uiFirst;
		uint32_t m_uiLast;
	};
	CTARArchive Archive;
	Archive.SetCaseSensitive(true);
	ASSERT_TRUE(Archive.Read(Strong<Stream>::New(new CMemoryStream(g_BuiltinArchive, g_BuiltinArchiveSize))));
	for (const tCase& Case : {tCase{"/vehiclecolours.conf", 90, 150}, tCase{"/vehiclecolours_vc.conf", 130, 236},
			 tCase{"/vehiclecolours_sa.conf", 400, 611}, tCase{"/vehiclecolours_iv.conf", 1, 0}})
	{
		Strong<Stream> pFile = Strong<Stream>::New(Archive.Open(Case.m_szPath, false));
		ASSERT_FALSE(pFile.IsNull()) << Case.m_szPath;
		CVehicleColours VehicleColours;
		VehicleColours.Load(pFile);
		EXPECT_EQ(VehicleColours.GetModelCount(), Case.m_uiLast + 1 - Case.m_uiFirst) << Case.m_szPath;
		for (uint32_t uiModel = Case.m_uiFirst; uiModel <= Case.m_uiLast; uiModel++)
			EXPECT_FALSE(VehicleColours.FindDefinitions(uiModel).empty()) << Case.m_szPath << " " << uiModel;
	}
}
