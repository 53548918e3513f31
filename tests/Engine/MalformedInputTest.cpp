// Robustness of the engine's readers of outside input (encoded values, chunk files, archives, XML, define headers
// and text): valid encodings are damaged by a seeded mutator a few thousand times each, and every reader must
// refuse or accept the result without reading outside its input. Inputs live in heap blocks of exactly their size,
// so under the sanitizer build any read past the end is a report.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "AssertsOff.h"
#include "ChunkFileBuilder.h"
#include "TarBuilder.h"
#include "Support/ByteMutator.h"

#include "Engine/BuiltinArchive.h"
#include "Engine/ChunkFile.h"
#include "Engine/Defines.h"
#include "Engine/ElementChunk.h"
#include "Engine/KestrinArguments.h"
#include "Engine/KestrinStream.h"
#include "Engine/Tar.h"

using VexaTest::CByteMutator;
using VexaTest::tBytes;

namespace
{
constexpr size_t ITERATIONS = 3000;

tBytes BytesOf(const std::string& Text)
{
	return tBytes(Text.begin(), Text.end());
}

// A read-only stream over a copy of the bytes in a block of exactly their size.
class CExactInput
{
public:
	explicit CExactInput(const tBytes& Bytes) : m_pData(new uint8_t[Bytes.size()]), m_Size(Bytes.size())
	{
		if (m_Size)
			memcpy(m_pData.get(), Bytes.data(), m_Size);
	}

	Strong<Stream> Open() const
	{
		return Strong<Stream>::New(new CMemoryStream(static_cast<const void*>(m_pData.get()), m_Size));
	}

	size_t GetSize() const { return m_Size; }

private:
	std::unique_ptr<uint8_t[]> m_pData;
	size_t m_Size;
};

// Where touched bytes go, so that the optimiser keeps the reads.
volatile unsigned g_uiTouched = 0;

// Reads every byte of a block, so that a block shorter than it claims is a sanitizer report here.
void Touch(const void* pData, size_t Size)
{
	unsigned uiSum = 0;
	for (size_t i = 0; i < Size; i++)
		uiSum += static_cast<const uint8_t*>(pData)[i];
	g_uiTouched = g_uiTouched + uiSum;
}

// Values

tBytes Encode(const CArgument* pValue)
{
	Strong<CUnlimitedStream> pStream = Strong<CUnlimitedStream>::New(new CUnlimitedStream());
	if (!CArgument::WriteTyped(pStream, pValue))
		return tBytes();
	return tBytes(pStream->GetData(), pStream->GetData() + pStream->GetSize());
}

std::vector<tBytes> ValueSeeds()
{
	std::vector<tBytes> Seeds;

	CArgumentArray Scalars;
	Scalars.AddNull();
	Scalars.AddUndefined();
	Scalars.AddBoolean(true);
	Scalars.AddNumber(static_cast<int32_t>(-7));
	Scalars.AddNumber(1.5f);
	Scalars.AddNumber(static_cast<long long>(1) << 40);
	Scalars.AddNumber(2.25);
	Scalars.AddString("text\0with zero", 14);
	Scalars.AddString(std::string(300, 's').c_str());
	const uint8_t rgucBytes[] = {0, 1, 2, 0xFF};
	Scalars.AddBytes(rgucBytes, sizeof(rgucBytes));
	Scalars.AddVector2D(CVector2D(1, 2));
	Scalars.AddVector3D(CVector3D(1, 2, 3));
	Scalars.AddMatrix4x4(CMatrix4x4());
	Scalars.AddAndOwn(new CArgumentFunction());
	Seeds.push_back(Encode(&Scalars));

	CArgumentMap Map;
	Map.Set("a", new CArgumentInteger(1));
	Map.Set(std::string(200, 'k').c_str(), new CArgumentString("v", 1));
	CArgumentArray* pInner = new CArgumentArray();
	pInner->AddNumber(3.0);
	CArgumentMap* pInnerMap = new CArgumentMap();
	pInnerMap->Set("deep", new CArgumentBoolean(false));
	pInner->AddAndOwn(pInnerMap);
	Map.Set("list", pInner);
	Seeds.push_back(Encode(&Map));

	CArgumentString Alone("alone", 5);
	Seeds.push_back(Encode(&Alone));
	CArgumentMatrix4x4 Matrix;
	Seeds.push_back(Encode(&Matrix));

	// Arrays nested past the limit, each holding the next.
	tBytes Deep;
	for (int i = 0; i < 80; i++)
	{
		Deep.push_back(ARGUMENT_ARRAY);
		Deep.push_back(1);
	}
	Deep.push_back(ARGUMENT_NIL);
	Seeds.push_back(Deep);
	return Seeds;
}

// The reader never goes past the input, and whatever it accepts can be written and read back whole.
void CheckValue(const CExactInput& Input)
{
	Strong<Stream> pStream = Input.Open();
	CArgument* pValue = CArgument::ReadTyped(pStream, nullptr);
	ASSERT_LE(pStream->Tell(), static_cast<long>(Input.GetSize()));
	if (!pValue)
		return;
	Strong<CArgument> pHeld = Strong<CArgument>::New(pValue);

	const tBytes Encoded = Encode(pValue);
	if (Encoded.empty())
		return;
	size_t Size = 0;
	if (pValue->GetSize(Size))
	{
		EXPECT_EQ(Encoded.size(), Size + 1);
	}
	CExactInput Again(Encoded);
	Strong<Stream> pAgain = Again.Open();
	CArgument* pCopy = CArgument::ReadTyped(pAgain, nullptr);
	ASSERT_NE(pCopy, nullptr);
	EXPECT_EQ(pAgain->Tell(), static_cast<long>(Encoded.size()));
	pCopy->Release();
	Strong<CArgument> pClone = Strong<CArgument>::New(pValue->Clone());
}

// Chunk files

using ChunkFileBuilder::tRecord;

tRecord SampleTree()
{
	tRecord Root{0, "root", {}, {}, {}, {}};
	tRecord Element{CHUNK_ELEMENT, "server", ChunkFileBuilder::ElementData("text", {{"port", "22000"}, {"name", "x"}}),
		{}, {}, {}};
	Element.Children.push_back(
		tRecord{CHUNK_ELEMENT, "child", ChunkFileBuilder::ElementData("", {{"a", "b"}}), {}, {1, 2}, {3}});
	Element.Children.push_back(tRecord{CHUNK_DATA, "data", {1, 2, 3, 4, 5}, {}, {}, {}});
	Element.Children.push_back(tRecord{CHUNK_HISTORY, "history", BytesOf("a history line"), {}, {}, {}});
	Element.Children.push_back(tRecord{12345, "custom", {9, 9}, {}, {}, {}});
	Root.Children.push_back(Element);
	return Root;
}

// Every node of a tree that was read, and every byte each one keeps.
void WalkChunks(const CChunk* pChunk)
{
	Touch(pChunk->GetName(), pChunk->GetNameLength() + 1);
	if (const CElementChunk* pElement = dynamic_cast<const CElementChunk*>(pChunk))
	{
		size_t Length = 0;
		const char* szText = pElement->GetText().ToString(&Length);
		Touch(szText, Length + 1);
		for (const auto& Attribute : pElement->GetAttributes())
		{
			size_t ValueLength = 0;
			if (const char* szValue = pElement->Attribute(Attribute.first.c_str(), &ValueLength))
				Touch(szValue, ValueLength + 1);
		}
	}
	else if (const CHistoryChunk* pHistory = dynamic_cast<const CHistoryChunk*>(pChunk))
		Touch(pHistory->GetText(), pHistory->GetLength() + 1);
	else if (const CDataChunk* pData = dynamic_cast<const CDataChunk*>(pChunk))
		Touch(pData->GetData(), pData->GetSize());
	for (size_t i = 0; i < pChunk->GetChildCount(); i++)
	{
		const CChunk* pChild = pChunk->GetChild(i);
		ASSERT_NE(pChild, nullptr);
		EXPECT_EQ(pChild->GetParent(), pChunk);
		EXPECT_EQ(pChild->GetIndex(), i);
		WalkChunks(pChild);
	}
}

void CheckChunkFile(const CExactInput& Input)
{
	{
		CRootChunk Root;
		Strong<Stream> pStream = Input.Open();
		if (Root.ReadFile(pStream))
			WalkChunks(&Root);
	}
	// The configuration loader: a chunk file whose first record is an element, or else XML text.
	Strong<Stream> pStream = Input.Open();
	AutoDelete<CElementChunk> pElement(CElementChunk::Load(pStream));
	if (pElement)
		WalkChunks(pElement);
}

// Archives

// Puts a correct checksum into every header-like block, so that damage reaches past the checksum test.
void FixChecksums(tBytes& Archive)
{
	for (size_t Offset = 0; Offset + CTARArchive::BLOCK_SIZE <= Archive.size(); Offset += CTARArchive::BLOCK_SIZE)
	{
		uint8_t* pBlock = Archive.data() + Offset;
		if (memcmp(pBlock + 257, "ustar", 5) != 0)
			continue;
		memset(pBlock + 148, ' ', 8);
		unsigned long ulSum = 0;
		for (size_t i = 0; i < CTARArchive::BLOCK_SIZE; i++)
			ulSum += pBlock[i];
		char szField[8];
		snprintf(szField, sizeof(szField), "%06lo", ulSum & 0777777);
		memcpy(pBlock + 148, szField, 7);
	}
}

std::vector<tBytes> ArchiveSeeds()
{
	CTarBuilder Builder;
	Builder.File("a.txt", "first file").File("dir/b.txt", std::string(600, 'b')).File("dir/sub/c.txt", "");
	CTarBuilder::tMember Directory;
	Directory.Name = "dir/";
	Directory.cType = '5';
	Builder.Add(Directory);
	CTarBuilder::tMember Prefixed;
	Prefixed.Name = "d.txt";
	Prefixed.Prefix = "long/prefix";
	Prefixed.Data = "prefixed";
	Builder.Add(Prefixed).End();

	std::vector<tBytes> Seeds;
	Seeds.push_back(BytesOf(Builder.Bytes()));
	Seeds.push_back(tBytes(g_BuiltinArchive, g_BuiltinArchive + g_BuiltinArchiveSize));
	return Seeds;
}

struct tListing
{
	CTARArchive* m_pArchive;
	// The path of the directory being listed, as it was given to the archive ("" for the root).
	std::string m_Directory;
	size_t m_Visited;
	size_t m_ArchiveSize;
};

bool VisitArchiveEntry(const tDirectoryEntry& Entry, void* pUserData)
{
	tListing* pListing = static_cast<tListing*>(pUserData);
	// Names repeat in a damaged archive; the bound keeps a walk of a pathological tree short.
	if (++pListing->m_Visited > 64)
		return false;
	const std::string Path = pListing->m_Directory + "/" + Entry.m_szName;
	EXPECT_TRUE(pListing->m_pArchive->Exists(Path.c_str(), Entry.m_bFile, Entry.m_bDirectory)) << Path;
	if (Entry.m_bDirectory)
	{
		const std::string Parent = pListing->m_Directory;
		pListing->m_Directory = Path;
		const bool bGoOn = pListing->m_pArchive->Enumerate(Path.c_str(), VisitArchiveEntry, pUserData);
		pListing->m_Directory = Parent;
		return bGoOn;
	}
	Strong<Stream> pMember = Strong<Stream>::New(pListing->m_pArchive->Open(Path.c_str(), false));
	EXPECT_FALSE(pMember.IsNull()) << Path;
	if (pMember.IsNull())
		return true;
	uint8_t Buffer[256];
	size_t Total = 0;
	size_t Read;
	while ((Read = pMember->Read(Buffer, sizeof(Buffer))) > 0)
	{
		Touch(Buffer, Read);
		Total += Read;
		if (Total > pListing->m_ArchiveSize)
			break;
	}
	EXPECT_LE(Total, pListing->m_ArchiveSize) << Path;
	return true;
}

void CheckArchive(const CExactInput& Input)
{
	CTARArchive Archive;
	if (!Archive.Read(Input.Open()))
	{
		EXPECT_EQ(Archive.GetEntryCount(), 0u);
		return;
	}
	for (size_t i = 0; i < Archive.GetEntryCount(); i++)
	{
		const CTARArchive::tEntry& Entry = Archive.GetEntry(i);
		EXPECT_LE(strlen(Entry.m_szName), static_cast<size_t>(CTARArchive::MAX_PATH_LENGTH));
		EXPECT_LE(Entry.m_Offset + Entry.m_Size, Input.GetSize());
	}
	// The tree is built again when the case of names stops mattering, and names that differ only in case meet.
	for (bool bCaseSensitive : {true, false})
	{
		Archive.SetCaseSensitive(bCaseSensitive);
		tListing Listing{&Archive, "", 0, Input.GetSize()};
		Archive.Enumerate("/", VisitArchiveEntry, &Listing);
	}
}

// XML

std::vector<tBytes> XMLSeeds()
{
	const std::string Config = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
							   "<!DOCTYPE server>\n"
							   "<server>\n"
							   "\t<!-- a comment with <tags> inside -->\n"
							   "\t<servername>Caf&#233; &amp; &lt;bar&gt; &#x41;</servername>\n"
							   "\t<port>22000</port>\n"
							   "\t<resources>\n"
							   "\t\t<resource src=\"one\" privileged='true' />\n"
							   "\t\t<resource src=\"two\"/>\n"
							   "\t</resources>\n"
							   "\t<script><![CDATA[if (a < b) { return \"]]\"; }]]></script>\n"
							   "\t<cvar name=\"x\" value=\"1\" name=\"again\"/>\n"
							   "</server>\n";
	std::vector<tBytes> Seeds;
	Seeds.push_back(BytesOf(Config));
	Seeds.push_back(BytesOf("\xEF\xBB\xBF" + Config));

	// The same document as UTF-16 little-endian with its mark.
	tBytes Wide = {0xFF, 0xFE};
	for (char c : Config)
	{
		Wide.push_back(static_cast<uint8_t>(c));
		Wide.push_back(0);
	}
	Seeds.push_back(Wide);

	std::string Deep;
	for (unsigned i = 0; i < CHUNK_MAX_DEPTH + 8; i++)
		Deep += "<e a=\"1\">";
	Deep += "text";
	for (unsigned i = 0; i < CHUNK_MAX_DEPTH + 8; i++)
		Deep += "</e>";
	Seeds.push_back(BytesOf(Deep));
	return Seeds;
}

void CheckXML(const CExactInput& Input)
{
	Strong<Stream> pStream = Input.Open();
	AutoDelete<CElementChunk> pRoot(CElementChunk::LoadXML(pStream));
	if (pRoot)
		WalkChunks(pRoot);
}

// Define headers

std::vector<tBytes> DefineSeeds()
{
	std::vector<tBytes> Seeds;
	Seeds.push_back(BytesOf("// Constants.\n"
							"#pragma once\n"
							"/* block\n comment */\n"
							"enum eFirst : unsigned int\n"
							"{\n"
							"\tFIRST_A = 0x7FFFFFFF,\n"
							"\tFIRST_B,\n"
							"\tFIRST_C = 017,\n"
							"\tFIRST_D = FIRST_C,\n"
							"\tFIRST_E = 'x',\n"
							"};\n"
							"enum eSecond { SECOND_A, SECOND_B = 4294967295, };\n"
							"enum eForward;\n"));
	// Tokens the lexer knows but the parser refuses: each ends the file at a different place.
	Seeds.push_back(BytesOf("enum eTokens { A = 1, };\n"
							"\"str\\x41\\u00e9\\U0001F600\\t\\n\\\\\" @\"verbatim \"\"q\"\" \\ \" "
							"1.5e+3 .5 ... :: <=> >>> <- </ /> += -= *= /= %= ++ -- == != && || 'a'\n"));
	const std::string Long = "enum eLong { " + std::string(250, 'N') + " = 0xFFFFFFFF, };\n";
	Seeds.push_back(BytesOf(Long));
	return Seeds;
}

void CheckDefines(const CExactInput& Input)
{
	CDefineHandlers Defines;
	Strong<Stream> pStream = Input.Open();
	Defines.Process(pStream, "fuzz.h");
	for (const IntDefine& Define : Defines.GetDefines())
		EXPECT_LT(Define.m_Name.size(), static_cast<size_t>(CLexer::TOKEN_BUFFER_SIZE));
}

// Text

std::vector<tBytes> TextSeeds()
{
	std::vector<tBytes> Seeds;
	Seeds.push_back(BytesOf("plain line\nsecond line\r\n\r\nlast line without feed"));
	Seeds.push_back(BytesOf("\xEF\xBB\xBF" "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9D\x84\x9E\nnext\n"));
	// UTF-16 little-endian: a character, a surrogate pair, a lone high and a lone low surrogate, a line feed.
	Seeds.push_back({0xFF, 0xFE, 'A', 0, 0x34, 0xD8, 0x1E, 0xDD, 0x00, 0xD8, 'B', 0, 0x00, 0xDC, '\n', 0, 'C', 0});
	Seeds.push_back({0xFE, 0xFF, 0, 'A', 0, '\n'});
	Seeds.push_back({0, 0, 0xFE, 0xFF, 0, 0, 0, 'A'});
	Seeds.push_back(BytesOf(std::string(300, 'L') + "\nshort\n"));
	return Seeds;
}

void CheckText(const CExactInput& Input)
{
	{
		Strong<Stream> pStream = Input.Open();
		CTextReader Reader(pStream);
		if (!Reader.Load())
			return;
		ASSERT_NE(Reader.GetText(), nullptr);
		EXPECT_LE(strlen(Reader.GetText()), Reader.GetTextLength());
		size_t Characters = 0;
		char32_t c;
		while (Reader.ReadCharacter(c))
		{
			ASSERT_LE(++Characters, Reader.GetTextLength());
			ASSERT_LE(Reader.GetPosition(), Reader.GetTextLength());
		}
	}
	for (size_t Size : {1, 2, 5, 64})
	{
		Strong<Stream> pStream = Input.Open();
		CTextReader Reader(pStream);
		std::vector<char> Line(Size);
		size_t Length = 0;
		size_t Lines = 0;
		while (Reader.ReadLine(Line.data(), Size, &Length))
		{
			// A line may hold zero bytes, so only its terminator's place is certain.
			ASSERT_LT(Length, Size);
			ASSERT_EQ(Line[Length], '\0');
			ASSERT_LE(++Lines, Reader.GetTextLength());
		}
	}
	Strong<Stream> pStream = Input.Open();
	CTextReader Reader(pStream);
	char Buffer[7];
	size_t Total = 0;
	size_t Read;
	while ((Read = Reader.Read(Buffer, sizeof(Buffer))) > 0)
		Total += Read;
	EXPECT_EQ(Total, Reader.GetTextLength());
}

// Each reader with its seeds and the seed of its mutations.
struct tReaderCase
{
	const char* szName;
	uint32_t uiSeed;
	std::vector<tBytes> (*pfnSeeds)();
	void (*pfnCheck)(const CExactInput& Input);
	// Archives: also damage copies whose header checksums are then made right again.
	bool bFixChecksums;
	// Compressed chunk files: also damage the body before it is compressed.
	bool bCompressBody;
};

std::vector<tBytes> ChunkFileSeeds()
{
	const tRecord Tree = SampleTree();
	std::vector<tBytes> Seeds;
	for (uint32_t uiVersion : {6u, 7u, 8u})
		Seeds.push_back(ChunkFileBuilder::PlainFile(Tree, uiVersion));
	Seeds.push_back(ChunkFileBuilder::CompressedFile(ChunkFileBuilder::Body(Tree, 8), 8));
	return Seeds;
}

const tReaderCase g_rgCases[] = {
	{"encoded values", 0x5eed0001, ValueSeeds, CheckValue, false, false},
	{"chunk files", 0x5eed0002, ChunkFileSeeds, CheckChunkFile, false, true},
	{"tar archives", 0x5eed0003, ArchiveSeeds, CheckArchive, true, false},
	{"xml documents", 0x5eed0004, XMLSeeds, CheckXML, false, false},
	{"define headers", 0x5eed0005, DefineSeeds, CheckDefines, false, false},
	{"text", 0x5eed0006, TextSeeds, CheckText, false, false},
};

void PrintTo(const tReaderCase& Case, std::ostream* pOut)
{
	*pOut << Case.szName;
}

class MalformedInput : public ::testing::TestWithParam<tReaderCase>
{
};
}

TEST_P(MalformedInput, DamagedInputIsRefusedOrReadWithinItsBytes)
{
	const tReaderCase& Case = GetParam();
	// Damaged trees and archives trip the engine's own consistency reports on purpose.
	CAssertsOff AssertsOff;
	CByteMutator Mutator(Case.uiSeed);
	const std::vector<tBytes> Seeds = Case.pfnSeeds();
	ASSERT_FALSE(Seeds.empty());

	// The valid inputs first, as they are.
	for (const tBytes& Seed : Seeds)
	{
		Case.pfnCheck(CExactInput(Seed));
		ASSERT_FALSE(HasFatalFailure()) << Case.szName << ": a valid input";
	}

	const tBytes CompressedBody = ChunkFileBuilder::Body(SampleTree(), 8);
	for (size_t i = 0; i < ITERATIONS; i++)
	{
		tBytes Input;
		if (Case.bCompressBody && Mutator.Chance(30))
			Input = ChunkFileBuilder::CompressedFile(Mutator.Mutate(CompressedBody), 8);
		else
			Input = Mutator.Mutate(Seeds[Mutator.Below(Seeds.size())]);
		if (Case.bFixChecksums && Mutator.Chance(50))
			FixChecksums(Input);
		Case.pfnCheck(CExactInput(Input));
		ASSERT_FALSE(HasFatalFailure()) << Case.szName << ": iteration " << i;
	}
}

INSTANTIATE_TEST_SUITE_P(Readers, MalformedInput, ::testing::ValuesIn(g_rgCases),
	[](const ::testing::TestParamInfo<tReaderCase>& Info) {
		std::string Name;
		for (const char* p = Info.param.szName; *p; p++)
			Name += *p == ' ' ? '_' : *p;
		return Name;
	});

// The XML parser steps over a UTF-8 character by the length its lead byte announces, so a character cut by the end
// of the text must never reach it: it is dropped, and what comes before it is read as usual.
TEST(MalformedXML, CharacterCutByTheEndOfTheTextIsDropped)
{
	struct tCase
	{
		const char* szName;
		std::string Document;
		std::string Text;
	};
	const std::string Declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
	const tCase Cases[] = {
		{"two-byte lead alone", Declaration + "<a b=\"v\">text\xC3", "text"},
		{"three-byte character cut after two", Declaration + "<a b=\"v\">text\xE2\x82", "text"},
		{"four-byte character cut after three", Declaration + "<a b=\"v\">text\xF0\x9F\x98", "text"},
		{"cut character before a zero byte", Declaration + std::string("<a b=\"v\">text\xC3\0more", 19), "text"},
		{"complete character at the end", Declaration + "<a b=\"v\">caf\xC3\xA9", "caf\xC3\xA9"},
	};
	CAssertsOff AssertsOff;
	for (const tCase& Case : Cases)
	{
		CExactInput Input(BytesOf(Case.Document));
		Strong<Stream> pStream = Input.Open();
		AutoDelete<CElementChunk> pRoot(CElementChunk::LoadXML(pStream));
		ASSERT_TRUE(pRoot) << Case.szName;
		EXPECT_STREQ(pRoot->GetName(), "a") << Case.szName;
		EXPECT_STREQ(pRoot->Attribute("b"), "v") << Case.szName;
		EXPECT_EQ(std::string(pRoot->GetText().GetString(), pRoot->GetText().GetLength()), Case.Text) << Case.szName;
	}
}
