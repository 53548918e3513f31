#pragma once
// Resources for the black-box tests of script languages: writing a resource folder with its meta.xml, starting the
// server with a list of resources, typing console lines and looking for text in what the server printed.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

#include "Engine/TarBuilder.h"
#include "ScriptNotation.h"
#include "ServerHarness.h"

namespace ServerTest
{
struct tScript
{
	const char* m_szFile;
	const char* m_szLanguage;
	std::string m_Text;
};

// How a resource is packed: a folder of files, or one ustar archive "<name>.tar".
enum ePackaging
{
	FOLDER,
	ARCHIVE,
};

// Writes one resource with its meta.xml into the server's folder (a server process or a server in this process);
// the scripts run in the order given. Files are further files of the resource (path below the resource folder,
// content).
template <class TServer>
void WriteResource(TServer& Server, const std::string& Name, const std::vector<tScript>& Scripts,
	const std::vector<std::pair<std::string, std::string>>& Files = {}, ePackaging Packaging = FOLDER)
{
	std::vector<std::pair<std::string, std::string>> Members;
	std::string Meta = "<meta>\n";
	for (const tScript& Script : Scripts)
	{
		Meta += std::string("\t<script src=\"") + Script.m_szFile + "\" type=\"server\" language=\"" +
			Script.m_szLanguage + "\" />\n";
		Members.emplace_back(Script.m_szFile, Script.m_Text);
	}
	Meta += "</meta>\n";
	Members.emplace_back("meta.xml", Meta);
	Members.insert(Members.end(), Files.begin(), Files.end());
	if (Packaging == ARCHIVE)
	{
		CTarBuilder Archive;
		for (const auto& Member : Members)
			Archive.File(Member.first, Member.second);
		Server.WriteFile("resources/" + Name + ".tar", Archive.End().Bytes());
		return;
	}
	for (const auto& Member : Members)
		Server.WriteFile("resources/" + Name + "/" + Member.first, Member.second);
}

// Starts the server with the resources in the given order and waits until they have been started.
inline void StartWithResources(CServerProcess& Server, const std::vector<std::string>& Names)
{
	StartAndWait(Server, MakeConfig(ResourceList(Names)));
}

// Whether a line printed so far holds the text. Scripts run while their resources start, so everything they print
// then is out once the start is over.
inline bool Printed(CServerProcess& Server, const std::string& Text)
{
	return HasLineContaining(Server.GetOutputLines(), Text);
}

// A resource whose one server script is in the given language.
inline void WriteScript(CServerProcess& Server, const std::string& Name, eLanguage Language, const std::string& Script,
	ePackaging Packaging = FOLDER)
{
	const tScriptLanguage& Entry = g_ScriptLanguages[Language];
	WriteResource(Server, Name, {{Entry.m_szFile, Entry.m_szLanguage, Script}}, {}, Packaging);
}

inline void WriteLua(CServerProcess& Server, const std::string& Name, const std::string& Script)
{
	WriteScript(Server, Name, LUA, Script);
}

inline void WriteJS(CServerProcess& Server, const std::string& Name, const std::string& Script)
{
	WriteScript(Server, Name, JAVASCRIPT, Script);
}

inline void WriteSquirrel(CServerProcess& Server, const std::string& Name, const std::string& Script)
{
	WriteScript(Server, Name, SQUIRREL, Script);
}

// A Lua resource whose command "count" collects the garbage of every language and then prints the number of
// vehicles in the world: "vehicles N".
inline const char* const g_szWatch = R"script(
addCommandHandler('count', function()
	collectAllGarbage()
	print('vehicles ' .. #getElementsByType(ELEMENT_VEHICLE))
end)
)script";

// The lines printed from the given line on.
inline std::vector<std::string> LinesSince(CServerProcess& Server, size_t First)
{
	std::vector<std::string> Lines = Server.GetOutputLines();
	Lines.erase(Lines.begin(), Lines.begin() + static_cast<std::ptrdiff_t>(std::min(First, Lines.size())));
	return Lines;
}

// Waits until the lines printed from First on hold the text Count times (a safety bound, not a measurement).
inline bool WaitForLines(CServerProcess& Server, size_t First, const std::string& Text, size_t Count)
{
	for (int i = 0; i < 3000; i++)
	{
		if (CountLines(LinesSince(Server, First), Text) >= Count)
			return true;
		usleep(10000);
	}
	return false;
}

// How many times the part occurs in the text, none overlapping.
inline size_t CountOccurrences(const std::string& Text, const std::string& Part)
{
	size_t Count = 0;
	for (size_t At = Text.find(Part); At != std::string::npos; At = Text.find(Part, At + Part.size()))
		Count++;
	return Count;
}

// Runs the console lines, then "count" (the watch resource's), and waits for every "count" among them to be
// answered: the lines printed meanwhile, the last of which is the answer to the final "count".
inline std::vector<std::string> RunLines(CServerProcess& Server, const std::string& Lines)
{
	const size_t First = Server.GetOutputLines().size();
	const std::string Input = Lines + "count\n";
	const size_t Counts = CountOccurrences(Input, "count\n");
	EXPECT_TRUE(Server.WriteInput(Input));
	EXPECT_TRUE(WaitForLines(Server, First, "vehicles ", Counts)) << Lines << "\n" << Server.GetRawOutput();
	return LinesSince(Server, First);
}

// Whether a line starts with Start and holds Text after it: a script's report of what failed ("<what> failed: "),
// whatever position the script error puts in front of its message.
inline bool HasLineStartingWith(const std::vector<std::string>& Lines, const std::string& Start,
	const std::string& Text)
{
	for (const std::string& Line : Lines)
	{
		if (Line.rfind(Start, 0) == 0 && Line.find(Text, Start.size()) != std::string::npos)
			return true;
	}
	return false;
}

// The lines as one text, for failure messages.
inline std::string JoinLines(const std::vector<std::string>& Lines)
{
	std::string Text;
	for (const std::string& Line : Lines)
		Text += Line + "\n";
	return Text;
}
}
