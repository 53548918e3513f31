#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "ChunkFileBuilder.h"
#include "Engine/ChunkFile.h"
#include "Engine/Context.h"
#include "Engine/ElementChunk.h"
#include "Engine/KAssert.h"

using namespace ChunkFileBuilder;

namespace
{
tBytes Text(const char* szText)
{
	return tBytes(szText, szText + strlen(szText));
}

// root "top": data "one" (raw), "two" (history text) with a raw grandchild, then a chunk of an unregistered type.
tRecord SampleTree()
{
	tRecord Root{0, "top", {}, {}, {}, {}};
	Root.Children.push_back(tRecord{CHUNK_DATA, "one", Text("abc"), {}, {}, {}});
	tRecord Two{CHUNK_HISTORY, "two", Text("history"), {}, {}, {}};
	Two.Children.push_back(tRecord{CHUNK_DATA, "grandchild", {}, {}, {}, {}});
	Root.Children.push_back(Two);
	Root.Children.push_back(tRecord{4321, "odd", Text("xyz"), {}, {}, {}});
	return Root;
}

void ExpectSampleTree(const CRootChunk& Root, uint32_t uiVersion)
{
	EXPECT_STREQ("top", Root.GetName());
	ASSERT_EQ(3u, Root.GetChildCount());

	const CDataChunk* pOne = dynamic_cast<const CDataChunk*>(Root.GetChild(0));
	ASSERT_NE(nullptr, pOne);
	EXPECT_STREQ("one", pOne->GetName());
	EXPECT_EQ(CHUNK_DATA, pOne->GetType());
	EXPECT_EQ(std::string("abc"), std::string(reinterpret_cast<const char*>(pOne->GetData()), pOne->GetSize()));
	EXPECT_EQ(&Root, pOne->GetParent());
	EXPECT_EQ(uiVersion, pOne->GetVersion());

	const CHistoryChunk* pTwo = dynamic_cast<const CHistoryChunk*>(Root.GetChild(1));
	ASSERT_NE(nullptr, pTwo);
	EXPECT_STREQ("history", pTwo->GetText());
	EXPECT_EQ(1u, pTwo->GetIndex());
	ASSERT_EQ(1u, pTwo->GetChildCount());
	EXPECT_STREQ("grandchild", pTwo->GetChild(0)->GetName());
	EXPECT_EQ(nullptr, static_cast<const CDataChunk*>(pTwo->GetChild(0))->GetData());

	// An unregistered type is kept as raw data under its own id.
	const CDataChunk* pOdd = dynamic_cast<const CDataChunk*>(Root.GetChild(2));
	ASSERT_NE(nullptr, pOdd);
	EXPECT_EQ(4321u, pOdd->GetType());
	EXPECT_EQ(3u, pOdd->GetSize());
	EXPECT_EQ(2u, pOdd->GetIndex());
}

std::vector<std::string> g_ProcessOrder;

// A chunk that records when it is processed and ignores its data, so the reader must skip it.
class CProbeChunk : public CChunk
{
public:
	CProbeChunk() : CChunk(150) {}
	void Process() override { g_ProcessOrder.push_back(GetName()); }
};

CChunk* MakeProbe()
{
	return new CProbeChunk();
}

class ChunkFileTest : public ::testing::Test
{
protected:
	ChunkFileTest() : m_bSavedAsserts(g_bAsserts) { g_bAsserts = false; }
	~ChunkFileTest() override { g_bAsserts = m_bSavedAsserts; }

	bool m_bSavedAsserts;
	Context m_Context;
};
}

TEST_F(ChunkFileTest, ReadsEveryLayout)
{
	const struct
	{
		const char* szName;
		uint32_t uiVersion;
		bool bCompressed;
	} Cases[] = {
		{"plain 6", 6, false},
		{"plain 7", 7, false},
		{"plain 8", 8, false},
		{"compressed 7", 7, true},
		{"compressed 8", 8, true},
	};
	for (const auto& Case : Cases)
	{
		SCOPED_TRACE(Case.szName);
		tRecord Tree = SampleTree();
		if (Case.uiVersion == 6)
		{
			// Padding that the older layout allows in headers and blocks.
			Tree.Children[0].HeaderPadding = Text("hh");
			Tree.Children[0].BlockPadding = Text("bbbb");
		}
		const tBytes File = Case.bCompressed ? CompressedFile(Body(Tree, Case.uiVersion), Case.uiVersion)
											 : PlainFile(Tree, Case.uiVersion);
		CRootChunk Root;
		ASSERT_TRUE(Root.ReadFile(OpenBytes(File)));
		EXPECT_EQ(Case.uiVersion, Root.GetVersion());
		EXPECT_EQ(Case.bCompressed, Root.IsCompressed());
		EXPECT_EQ(Case.bCompressed ? 0x11223344 : -1, Root.GetCompressedField());
		ExpectSampleTree(Root, Case.uiVersion);
	}
}

TEST_F(ChunkFileTest, MalformedFilesFailTheRead)
{
	const tRecord Tree = SampleTree();
	const tBytes Good = PlainFile(Tree, 7);

	auto Deep = [](size_t Depth) {
		tRecord Leaf{CHUNK_DATA, "x", {}, {}, {}, {}};
		for (size_t i = 0; i < Depth; i++)
		{
			tRecord Parent{CHUNK_DATA, "x", {}, {}, {}, {}};
			Parent.Children.push_back(Leaf);
			Leaf = Parent;
		}
		return Leaf;
	};

	const struct
	{
		const char* szName;
		std::function<tBytes()> Make;
	} Cases[] = {
		{"empty", [] { return tBytes(); }},
		{"wrong magic", [&] {
			 tBytes File = Good;
			 File[1] = 'X';
			 return File;
		 }},
		{"version 5", [&] { return PlainFile(Tree, 5); }},
		{"version 9", [&] { return PlainFile(Tree, 9); }},
		{"unknown body encoding", [&] {
			 tBytes File = Good;
			 File[3] = 'Q';
			 return File;
		 }},
		{"version 8 without its extra field", [] { return tBytes{'H', 'B', 'F', 0xFF, 8, 0, 0, 0}; }},
		{"body cut off in the root type", [&] { return tBytes(Good.begin(), Good.begin() + 10); }},
		{"file cut off anywhere in the records", [&] { return tBytes(Good.begin(), Good.end() - 1); }},
		{"name longer than the file", [] {
			 tBytes File = Header(0xFF, 7);
			 AppendUInt(File, 0, 4);
			 File.push_back(0x7F);
			 Append(File, Text("short"));
			 return File;
		 }},
		{"name length without end", [] {
			 tBytes File = Header(0xFF, 7);
			 AppendUInt(File, 0, 4);
			 Append(File, tBytes{0x80, 0x80, 0x80, 0x80, 0x80, 0x01});
			 return File;
		 }},
		{"data size beyond the file", [] {
			 tBytes File = Header(0xFF, 7);
			 AppendUInt(File, 0, 4);
			 AppendName(File, "r");
			 AppendUInt(File, 0xFFFFFFF0u, 4);
			 AppendUInt(File, 0, 4);
			 return File;
		 }},
		{"child count beyond what the file can hold", [] {
			 tBytes File = Header(0xFF, 7);
			 AppendUInt(File, 0, 4);
			 AppendName(File, "r");
			 AppendUInt(File, 0, 4);
			 AppendUInt(File, 0xFFFFFFFFu, 4);
			 Append(File, tBytes(64, 0));
			 return File;
		 }},
		{"older header shorter than its name", [] {
			 tBytes File = Header(0xFF, 6);
			 AppendUInt(File, 0, 4);
			 AppendUInt(File, 2, 2);
			 AppendName(File, "long name");
			 Append(File, tBytes(32, 0));
			 return File;
		 }},
		{"older header padding beyond the file", [] {
			 tBytes File = Header(0xFF, 6);
			 AppendUInt(File, 0, 4);
			 AppendUInt(File, 0xFFFF, 2);
			 AppendName(File, "r");
			 Append(File, tBytes(32, 0));
			 return File;
		 }},
		{"older block shorter than its data", [] {
			 tBytes File = Header(0xFF, 6);
			 AppendUInt(File, 0, 4);
			 AppendUInt(File, 2, 2);
			 AppendName(File, "r");
			 AppendUInt(File, 4, 4);
			 AppendUInt(File, 3, 4);
			 Append(File, Text("abc"));
			 AppendUInt(File, 0, 2);
			 return File;
		 }},
		{"older block length beyond the file", [] {
			 tBytes File = Header(0xFF, 6);
			 AppendUInt(File, 0, 4);
			 AppendUInt(File, 2, 2);
			 AppendName(File, "r");
			 AppendUInt(File, 0xFFFFFFFFu, 4);
			 AppendUInt(File, 0, 4);
			 AppendUInt(File, 0, 2);
			 return File;
		 }},
		{"empty history text", [] {
			 tRecord Root{0, "r", {}, {}, {}, {}};
			 Root.Children.push_back(tRecord{CHUNK_HISTORY, "h", {}, {}, {}, {}});
			 return PlainFile(Root, 7);
		 }},
		{"records nested beyond the cap", [&] { return PlainFile(Deep(CHUNK_MAX_DEPTH + 1), 7); }},
		{"stated size larger than the inflated body", [&] { return CompressedFile(Body(Tree, 8), 8, 0, Body(Tree, 8).size() + 1); }},
		{"stated size smaller than the inflated body", [&] { return CompressedFile(Body(Tree, 8), 8, 0, Body(Tree, 8).size() - 1); }},
		{"stated size beyond any deflate ratio", [&] { return CompressedFile(Body(Tree, 8), 8, 0, 0xFFFFFFF0u); }},
		{"compressed size beyond the file", [&] {
			 tBytes File = CompressedFile(Body(Tree, 8), 8);
			 File.pop_back();
			 return File;
		 }},
		{"corrupt compressed body", [&] {
			 tBytes File = CompressedFile(Body(Tree, 8), 8);
			 for (size_t i = 26; i < File.size(); i++)
				 File[i] ^= 0x5A;
			 return File;
		 }},
		{"compressed body cut off in its header", [] { return tBytes{'H', 'B', 'F', 'Z', 8, 0, 0, 0, 0, 0, 0, 0, 0x10, 0}; }},
	};
	for (const auto& Case : Cases)
	{
		SCOPED_TRACE(Case.szName);
		CRootChunk Root;
		EXPECT_FALSE(Root.ReadFile(OpenBytes(Case.Make())));
	}

	// The deepest nesting the cap allows still reads.
	CRootChunk Root;
	EXPECT_TRUE(Root.ReadFile(OpenBytes(PlainFile(Deep(CHUNK_MAX_DEPTH), 7))));
}

TEST_F(ChunkFileTest, ProcessRunsBottomUpAndUnreadDataIsSkipped)
{
	CChunkTypes::m_Global.RegisterCustomChunk(150, MakeProbe);
	g_ProcessOrder.clear();

	tRecord Root{0, "root", {}, {}, {}, {}};
	tRecord Outer{150, "outer", Text("ignored data"), {}, {}, {}};
	Outer.Children.push_back(tRecord{150, "inner", Text("more"), {}, {}, {}});
	Root.Children.push_back(Outer);
	Root.Children.push_back(tRecord{150, "sibling", {}, {}, {}, {}});

	CRootChunk Chunk;
	ASSERT_TRUE(Chunk.ReadFile(OpenBytes(PlainFile(Root, 8))));
	EXPECT_EQ((std::vector<std::string>{"inner", "outer", "sibling"}), g_ProcessOrder);
	EXPECT_NE(nullptr, dynamic_cast<CProbeChunk*>(Chunk.GetChild(1)));

	CChunkTypes::m_Global.RegisterCustomChunk(150, nullptr);
}

TEST_F(ChunkFileTest, RegistryMakesRegisteredTypesAndRawDataOtherwise)
{
	const struct
	{
		uint32_t uiType;
		bool bElement;
		bool bHistory;
	} Cases[] = {
		{CHUNK_DATA, false, false},
		{CHUNK_IMAGEDATA, false, false},
		{CHUNK_HISTORY, false, true},
		{CHUNK_ELEMENT, true, false},
		{99, false, false},
		{100000, false, false},
	};
	for (const auto& Case : Cases)
	{
		CChunk* pChunk = CChunkTypes::m_Global._Create(Case.uiType);
		EXPECT_EQ(Case.uiType, pChunk->GetType());
		EXPECT_EQ(CHUNK_VERSION_CURRENT, pChunk->GetVersion());
		EXPECT_EQ(nullptr, pChunk->GetParent());
		EXPECT_EQ(Case.bElement, dynamic_cast<CElementChunk*>(pChunk) != nullptr);
		EXPECT_EQ(Case.bHistory, dynamic_cast<CHistoryChunk*>(pChunk) != nullptr);
		if (!Case.bElement && !Case.bHistory)
		{
			EXPECT_NE(nullptr, dynamic_cast<CDataChunk*>(pChunk));
		}
		delete pChunk;
	}
}

TEST_F(ChunkFileTest, FindChunkMatchesTypeStartAndNameIgnoringCase)
{
	CChunk Parent(0);
	const char* rgszNames[] = {"port", "Game", "game", "port"};
	const uint32_t rguiTypes[] = {CHUNK_ELEMENT, CHUNK_ELEMENT, CHUNK_DATA, CHUNK_ELEMENT};
	for (size_t i = 0; i < 4; i++)
	{
		CChunk* pChild = CChunkTypes::m_Global._Create(rguiTypes[i]);
		pChild->SetName(rgszNames[i]);
		Parent.AddChild(pChild);
	}
	EXPECT_EQ(Parent.GetChild(0), Parent.FindChunk(CHUNK_ELEMENT, 0));
	EXPECT_EQ(Parent.GetChild(1), Parent.FindChunk(CHUNK_ELEMENT, 0, "GAME"));
	EXPECT_EQ(nullptr, Parent.FindChunk(CHUNK_ELEMENT, 2, "game"));
	EXPECT_EQ(Parent.GetChild(2), Parent.FindChunk(CHUNK_DATA, 0, "GAME"));
	EXPECT_EQ(Parent.GetChild(3), Parent.FindChunk(CHUNK_ELEMENT, 1, "PORT"));
	EXPECT_EQ(nullptr, Parent.FindChunk(CHUNK_ELEMENT, 9));
}

TEST_F(ChunkFileTest, OrphanKeepsSiblingIndexesRight)
{
	CChunk Parent(0);
	CChunk* rgpChildren[4];
	for (CChunk*& pChild : rgpChildren)
	{
		pChild = new CDataChunk();
		Parent.AddChild(pChild);
	}

	rgpChildren[1]->Orphan();
	EXPECT_EQ(nullptr, rgpChildren[1]->GetParent());
	EXPECT_EQ(0u, rgpChildren[1]->GetIndex());
	ASSERT_EQ(3u, Parent.GetChildCount());
	for (size_t i = 0; i < Parent.GetChildCount(); i++)
		EXPECT_EQ(i, Parent.GetChild(i)->GetIndex());
	EXPECT_EQ(rgpChildren[2], Parent.GetChild(1));

	// A chunk deleted while attached leaves the list consistent too.
	delete rgpChildren[0];
	ASSERT_EQ(2u, Parent.GetChildCount());
	EXPECT_EQ(rgpChildren[2], Parent.GetChild(0));
	EXPECT_EQ(0u, rgpChildren[2]->GetIndex());
	EXPECT_EQ(1u, rgpChildren[3]->GetIndex());

	// Orphaning a detached chunk changes nothing; it can join another parent.
	rgpChildren[1]->Orphan();
	Parent.AddChild(rgpChildren[1]);
	EXPECT_EQ(2u, rgpChildren[1]->GetIndex());

	Parent.DetachChildren();
	EXPECT_EQ(0u, Parent.GetChildCount());
	for (size_t i = 1; i < 4; i++)
	{
		EXPECT_EQ(nullptr, rgpChildren[i]->GetParent());
		delete rgpChildren[i];
	}
}
