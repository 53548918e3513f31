#pragma once
// Resources for the black-box tests of script languages: writing a resource folder with its meta.xml, starting the
// server with a list of resources, and looking for text in what the server printed.

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "ServerHarness.h"

namespace ServerTest
{
struct tScript
{
	const char* m_szFile;
	const char* m_szLanguage;
	std::string m_Text;
};

// Writes one resource with its meta.xml, for the server process or a server in the test's own process; the scripts
// run in the order given. Files are further files of the resource (path below the resource folder, content).
template <class TServer>
void WriteResource(TServer& Server, const std::string& Name, const std::vector<tScript>& Scripts,
	const std::vector<std::pair<std::string, std::string>>& Files = {})
{
	std::string Meta = "<meta>\n";
	for (const tScript& Script : Scripts)
	{
		Meta += std::string("\t<script src=\"") + Script.m_szFile + "\" type=\"server\" language=\"" +
			Script.m_szLanguage + "\" />\n";
		Server.WriteFile("resources/" + Name + "/" + Script.m_szFile, Script.m_Text);
	}
	Meta += "</meta>\n";
	Server.WriteFile("resources/" + Name + "/meta.xml", Meta);
	for (const auto& File : Files)
		Server.WriteFile("resources/" + Name + "/" + File.first, File.second);
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
}
