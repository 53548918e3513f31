#include "ServerHarness.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/socket.h>
#include <sys/wait.h>
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
	iPort = FindFreePort();
	int iHttpPort = FindFreePort();
	int iRConPort = FindFreePort();
	std::ostringstream Config;
	Config << "<server>\n"
		   << "\t<port>" << iPort << "</port>\n"
		   << "\t<httpport>" << iHttpPort << "</httpport>\n"
		   << "\t<rconport>" << iRConPort << "</rconport>\n"
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

CServerProcess::CServerProcess() : m_Pid(-1), m_iInput(-1), m_iExitStatus(-1), m_bExited(false), m_bOutputClosed(false)
{
	// A server that ended early must fail the test that writes to it, not kill the test process.
	signal(SIGPIPE, SIG_IGN);
	char szTemplate[] = "/tmp/vexa-server-test-XXXXXX";
	if (mkdtemp(szTemplate))
		m_Folder = szTemplate;
}

CServerProcess::~CServerProcess()
{
	Kill();
	if (!m_Folder.empty())
	{
		std::error_code Error;
		std::filesystem::remove_all(m_Folder, Error);
	}
}

void CServerProcess::WriteFile(const std::string& RelativePath, const std::string& Content) const
{
	std::filesystem::path Path = std::filesystem::path(m_Folder) / RelativePath;
	std::filesystem::create_directories(Path.parent_path());
	std::ofstream File(Path, std::ios::binary | std::ios::trunc);
	File << Content;
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
	if (m_Folder.empty() || m_Pid > 0)
		return false;
	std::string Binary = m_Folder + "/VexaServer";
	std::error_code Error;
	if (!std::filesystem::exists(Binary) &&
		!std::filesystem::copy_file(VEXA_SERVER_BINARY, Binary, Error))
		return false;

	int OutputPipe[2];
	int InputPipe[2] = {-1, -1};
	if (pipe2(OutputPipe, O_CLOEXEC) != 0)
		return false;
	if (Input == eStdin::Pipe && pipe2(InputPipe, O_CLOEXEC) != 0)
	{
		close(OutputPipe[0]);
		close(OutputPipe[1]);
		return false;
	}

	std::vector<std::string> Argv{Binary};
	Argv.insert(Argv.end(), Arguments.begin(), Arguments.end());
	std::vector<char*> ArgvPointers;
	for (std::string& Argument : Argv)
		ArgvPointers.push_back(Argument.data());
	ArgvPointers.push_back(nullptr);

	pid_t Pid = fork();
	if (Pid < 0)
		return false;
	if (Pid == 0)
	{
		// Only async-signal-safe calls between fork and exec. The server gets the default SIGPIPE back.
		signal(SIGPIPE, SIG_DFL);
		if (chdir(m_Folder.c_str()) != 0)
			_exit(127);
		dup2(OutputPipe[1], STDOUT_FILENO);
		dup2(OutputPipe[1], STDERR_FILENO);
		if (Input == eStdin::Pipe)
			dup2(InputPipe[0], STDIN_FILENO);
		else if (Input == eStdin::DevNull)
		{
			int iNull = open("/dev/null", O_RDONLY);
			dup2(iNull, STDIN_FILENO);
		}
		else
			close(STDIN_FILENO);
		execv(ArgvPointers[0], ArgvPointers.data());
		_exit(127);
	}

	m_Pid = Pid;
	close(OutputPipe[1]);
	if (Input == eStdin::Pipe)
	{
		close(InputPipe[0]);
		m_iInput = InputPipe[1];
	}
	m_Reader = std::thread(&CServerProcess::ReadOutput, this, OutputPipe[0]);
	return true;
}

void CServerProcess::ReadOutput(int iDescriptor)
{
	char Buffer[4096];
	for (;;)
	{
		ssize_t iRead = read(iDescriptor, Buffer, sizeof(Buffer));
		if (iRead < 0 && errno == EINTR)
			continue;
		if (iRead <= 0)
			break;
		std::lock_guard<std::mutex> Lock(m_Mutex);
		m_Output.append(Buffer, static_cast<size_t>(iRead));
		m_Changed.notify_all();
	}
	close(iDescriptor);
	std::lock_guard<std::mutex> Lock(m_Mutex);
	m_bOutputClosed = true;
	m_Changed.notify_all();
}

bool CServerProcess::WriteInput(const std::string& Text)
{
	if (m_iInput < 0)
		return false;
	size_t Written = 0;
	while (Written < Text.size())
	{
		ssize_t iResult = write(m_iInput, Text.data() + Written, Text.size() - Written);
		if (iResult < 0 && errno == EINTR)
			continue;
		if (iResult <= 0)
			return false;
		Written += static_cast<size_t>(iResult);
	}
	return true;
}

void CServerProcess::CloseInput()
{
	if (m_iInput >= 0)
		close(m_iInput);
	m_iInput = -1;
}

bool CServerProcess::Signal(int iSignal)
{
	return m_Pid > 0 && !m_bExited && kill(m_Pid, iSignal) == 0;
}

bool CServerProcess::WaitForOutput(const std::string& Text, int iTimeoutSeconds)
{
	std::unique_lock<std::mutex> Lock(m_Mutex);
	return m_Changed.wait_for(Lock, std::chrono::seconds(iTimeoutSeconds),
		[&] { return StripColours(m_Output).find(Text) != std::string::npos || m_bOutputClosed; }) &&
		StripColours(m_Output).find(Text) != std::string::npos;
}

int CServerProcess::WaitForExit(int iTimeoutSeconds)
{
	if (m_Pid <= 0)
		return -1;
	if (!m_bExited)
	{
		auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(iTimeoutSeconds);
		for (;;)
		{
			int iStatus = 0;
			pid_t Result = waitpid(m_Pid, &iStatus, WNOHANG);
			if (Result == m_Pid)
			{
				m_bExited = true;
				m_iExitStatus = WIFEXITED(iStatus) ? WEXITSTATUS(iStatus) : -1;
				break;
			}
			if (Result < 0 || std::chrono::steady_clock::now() >= Deadline)
			{
				Kill();
				return -1;
			}
			usleep(10000);
		}
	}
	if (m_Reader.joinable())
		m_Reader.join();
	return m_iExitStatus;
}

void CServerProcess::Kill()
{
	CloseInput();
	if (m_Pid > 0 && !m_bExited)
	{
		kill(m_Pid, SIGKILL);
		waitpid(m_Pid, nullptr, 0);
		m_bExited = true;
	}
	if (m_Reader.joinable())
		m_Reader.join();
}

std::string CServerProcess::GetRawOutput()
{
	std::lock_guard<std::mutex> Lock(m_Mutex);
	return m_Output;
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
