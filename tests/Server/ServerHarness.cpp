#include "ServerHarness.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>

#ifndef VEXA_SERVER_BINARY
#error "VEXA_SERVER_BINARY must name the server executable"
#endif

namespace ServerTest
{
std::string MakeConfig(const std::string& Children)
{
	int iPort = 0;
	return MakeConfig(Children, iPort);
}

std::string MakeConfig(const std::string& Children, int& iPort)
{
	tServerPorts Ports;
	std::string Config = MakeConfig(Children, Ports);
	iPort = Ports.m_iGame;
	return Config;
}

std::string MakeConfig(const std::string& Children, tServerPorts& Ports)
{
	for (int* piPort : {&Ports.m_iGame, &Ports.m_iHttp, &Ports.m_iRCon})
	{
		if (*piPort == 0)
			*piPort = FindFreePort();
	}
	std::ostringstream Config;
	Config << "<server>\n"
		   << "\t<port>" << Ports.m_iGame << "</port>\n"
		   << "\t<httpport>" << Ports.m_iHttp << "</httpport>\n"
		   << "\t<rconport>" << Ports.m_iRCon << "</rconport>\n"
		   << Children << "</server>\n";
	return Config.str();
}

std::string ResourceList(const std::vector<std::string>& Names)
{
	std::string List = "\t<resources>\n";
	for (const std::string& Name : Names)
		List += "\t\t<resource src=\"" + Name + "\" />\n";
	return List + "\t</resources>\n";
}

void StartAndWait(CServerProcess& Server, const std::string& Config, const std::vector<std::string>& Arguments,
	eStdin Input)
{
	Server.WriteFile("server.xml", Config);
	ASSERT_TRUE(Server.Start(Arguments, Input));
	ASSERT_TRUE(Server.WaitForOutput("Resources loaded")) << Server.GetRawOutput();
}

std::string QuitAndReadLog(CServerProcess& Server)
{
	EXPECT_TRUE(Server.WriteInput("quit\n"));
	EXPECT_EQ(Server.WaitForExit(), 0) << Server.GetRawOutput();
	std::string Log;
	EXPECT_TRUE(Server.ReadFile("logs/ServerLog.log", Log));
	return Log;
}

std::vector<std::string> LogLines(const std::string& Log)
{
	std::vector<std::string> Lines;
	size_t Start = 0;
	while (Start < Log.size())
	{
		size_t End = Log.find('\n', Start);
		if (End == std::string::npos)
			End = Log.size();
		std::string Line = Log.substr(Start, End - Start);
		if (!Line.empty() && Line.back() == '\r')
			Line.pop_back();
		const size_t Stamp = Line.find("> ");
		Lines.push_back(Stamp == std::string::npos ? Line : Line.substr(Stamp + 2));
		Start = End + 1;
	}
	return Lines;
}

bool RunWithGamePortHeld(CServerProcess& Server, eStdin Input, int& iPort, int& iExitStatus)
{
	const std::string Config = MakeConfig("", iPort);
	const int iSocket = VexaTest::BindPort(static_cast<uint16_t>(iPort), SOCK_DGRAM);
	if (iSocket < 0)
		return false;
	Server.WriteFile("server.xml", Config);
	const bool bStarted = Server.Start({}, Input);
	if (bStarted)
		iExitStatus = Server.WaitForExit();
	close(iSocket);
	return bStarted;
}

std::string StripColours(const std::string& Text)
{
	std::string Result;
	for (size_t i = 0; i < Text.size(); i++)
	{
		if (Text[i] == '\x1b' && i + 1 < Text.size() && Text[i + 1] == '[')
		{
			size_t End = Text.find('m', i + 2);
			if (End != std::string::npos)
			{
				i = End;
				continue;
			}
		}
		Result += Text[i];
	}
	return Result;
}

int FindLine(const std::vector<std::string>& Lines, const std::string& Text, size_t Start)
{
	for (size_t i = Start; i < Lines.size(); i++)
	{
		if (Lines[i] == Text)
			return static_cast<int>(i);
	}
	return -1;
}

bool HasLineContaining(const std::vector<std::string>& Lines, const std::string& Text)
{
	for (const std::string& Line : Lines)
	{
		if (Line.find(Text) != std::string::npos)
			return true;
	}
	return false;
}

size_t CountLines(const std::vector<std::string>& Lines, const std::string& Text)
{
	size_t Count = 0;
	for (const std::string& Line : Lines)
		Count += Line.find(Text) != std::string::npos ? 1 : 0;
	return Count;
}

CServerProcess::CServerProcess()
{
	// A server that ended early must fail the test that writes to it, not kill the test process.
	signal(SIGPIPE, SIG_IGN);
	char szTemplate[] = "/tmp/vexa-server-test-XXXXXX";
	if (mkdtemp(szTemplate))
		m_Folder = szTemplate;
}

CServerProcess::~CServerProcess()
{
	m_Process.Kill();
	if (!m_Folder.empty())
	{
		std::error_code Error;
		std::filesystem::remove_all(m_Folder, Error);
	}
}

void WriteFileBelow(const std::string& Folder, const std::string& RelativePath, const std::string& Content)
{
	const std::filesystem::path Path = std::filesystem::path(Folder) / RelativePath;
	std::error_code Error;
	std::filesystem::create_directories(Path.parent_path(), Error);
	std::ofstream File(Path, std::ios::binary | std::ios::trunc);
	File << Content;
}

void CServerProcess::WriteFile(const std::string& RelativePath, const std::string& Content) const
{
	WriteFileBelow(m_Folder, RelativePath, Content);
}

bool CServerProcess::ReadFile(const std::string& RelativePath, std::string& Content) const
{
	std::ifstream File(std::filesystem::path(m_Folder) / RelativePath, std::ios::binary);
	if (!File)
		return false;
	std::ostringstream Stream;
	Stream << File.rdbuf();
	Content = Stream.str();
	return true;
}

bool CServerProcess::Start(const std::vector<std::string>& Arguments, eStdin Input)
{
	if (m_Folder.empty())
		return false;
	std::string Binary = m_Folder + "/VexaServer";
	std::error_code Error;
	if (!std::filesystem::exists(Binary) &&
		!std::filesystem::copy_file(VEXA_SERVER_BINARY, Binary, Error))
		return false;
	std::vector<std::string> Argv = m_Launcher;
	Argv.push_back(Binary);
	Argv.insert(Argv.end(), Arguments.begin(), Arguments.end());
	const VexaTest::eChildInput ChildInput = Input == eStdin::Pipe ? VexaTest::eChildInput::Pipe
		: Input == eStdin::DevNull                                  ? VexaTest::eChildInput::DevNull
																	: VexaTest::eChildInput::Closed;
	return m_Process.Start(Argv, m_Folder, ChildInput);
}

bool CServerProcess::WriteInput(const std::string& Text)
{
	return m_Process.WriteInput(Text);
}

void CServerProcess::CloseInput()
{
	m_Process.CloseInput();
}

bool CServerProcess::Signal(int iSignal)
{
	return m_Process.Signal(iSignal);
}

bool CServerProcess::WaitForOutput(const std::string& Text, int iTimeoutSeconds)
{
	return m_Process.WaitUntil(
		[&](const std::string& Output) { return StripColours(Output).find(Text) != std::string::npos; },
		iTimeoutSeconds * 1000);
}

int CServerProcess::WaitForExit(int iTimeoutSeconds)
{
	return m_Process.WaitForExit(iTimeoutSeconds * 1000);
}

std::string CServerProcess::GetRawOutput()
{
	return m_Process.GetOutput();
}

std::vector<std::string> CServerProcess::GetOutputLines()
{
	std::vector<std::string> Lines;
	std::istringstream Stream(StripColours(GetRawOutput()));
	std::string Line;
	while (std::getline(Stream, Line))
		Lines.push_back(Line);
	return Lines;
}
}
