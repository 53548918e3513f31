#include "Support/ChildProcess.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#ifndef VEXA_TEST_SUPPORT_DIR
#error "VEXA_TEST_SUPPORT_DIR must name the folder of the test support sources"
#endif

namespace VexaTest
{
const char* const PYTHON = "/usr/bin/python3";
const char* const CURL = "/usr/bin/curl";

std::string SupportFile(const char* szName)
{
	return std::string(VEXA_TEST_SUPPORT_DIR) + "/" + szName;
}

std::string WebToolsScript()
{
	return SupportFile("web_tools.py");
}

std::string SelfSignedCertificate()
{
	return SupportFile("selfsigned.pem");
}

CChildProcess::~CChildProcess()
{
	Kill();
}

bool CChildProcess::Start(const std::vector<std::string>& Arguments, const std::string& Folder, eChildInput Input)
{
	if (m_Pid > 0 || Arguments.empty())
		return false;
	// Writing to a program that ended must fail the test, not kill it.
	signal(SIGPIPE, SIG_IGN);
	int OutputPipe[2];
	int InputPipe[2] = {-1, -1};
	if (pipe2(OutputPipe, O_CLOEXEC) != 0)
		return false;
	if (Input == eChildInput::Pipe && pipe2(InputPipe, O_CLOEXEC) != 0)
	{
		close(OutputPipe[0]);
		close(OutputPipe[1]);
		return false;
	}
	std::vector<std::string> Argv = Arguments;
	std::vector<char*> Pointers;
	for (std::string& Argument : Argv)
		Pointers.push_back(Argument.data());
	Pointers.push_back(nullptr);

	const pid_t Pid = fork();
	if (Pid < 0)
		return false;
	if (Pid == 0)
	{
		// Only async-signal-safe calls between fork and exec. The program gets the default SIGPIPE back.
		signal(SIGPIPE, SIG_DFL);
		if (!Folder.empty() && chdir(Folder.c_str()) != 0)
			_exit(127);
		dup2(OutputPipe[1], STDOUT_FILENO);
		dup2(OutputPipe[1], STDERR_FILENO);
		if (Input == eChildInput::Pipe)
			dup2(InputPipe[0], STDIN_FILENO);
		else if (Input == eChildInput::DevNull)
		{
			const int iNull = open("/dev/null", O_RDONLY);
			dup2(iNull, STDIN_FILENO);
		}
		else
			close(STDIN_FILENO);
		execv(Pointers[0], Pointers.data());
		_exit(127);
	}
	m_Pid = Pid;
	close(OutputPipe[1]);
	if (Input == eChildInput::Pipe)
	{
		close(InputPipe[0]);
		m_iInput = InputPipe[1];
	}
	m_Reader = std::thread(&CChildProcess::ReadOutput, this, OutputPipe[0]);
	return true;
}

void CChildProcess::ReadOutput(int iDescriptor)
{
	char Buffer[4096];
	for (;;)
	{
		const ssize_t iRead = read(iDescriptor, Buffer, sizeof(Buffer));
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

bool CChildProcess::WriteInput(const std::string& Text)
{
	size_t Written = 0;
	while (m_iInput >= 0 && Written < Text.size())
	{
		const ssize_t iResult = write(m_iInput, Text.data() + Written, Text.size() - Written);
		if (iResult < 0 && errno == EINTR)
			continue;
		if (iResult <= 0)
			return false;
		Written += static_cast<size_t>(iResult);
	}
	return m_iInput >= 0;
}

void CChildProcess::CloseInput()
{
	if (m_iInput >= 0)
		close(m_iInput);
	m_iInput = -1;
}

bool CChildProcess::Signal(int iSignal)
{
	return m_Pid > 0 && !m_bExited && kill(m_Pid, iSignal) == 0;
}

bool CChildProcess::WaitUntil(const std::function<bool(const std::string& Output)>& Test, int iTimeoutMs,
	const std::function<void()>& Idle)
{
	const auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(iTimeoutMs);
	for (;;)
	{
		{
			std::unique_lock<std::mutex> Lock(m_Mutex);
			if (Test(m_Output))
				return true;
			if (m_bOutputClosed || std::chrono::steady_clock::now() >= Deadline)
				return false;
			m_Changed.wait_for(Lock, std::chrono::milliseconds(Idle ? 2 : 50));
		}
		if (Idle)
			Idle();
	}
}

bool CChildProcess::WaitForOutput(const std::string& Text, int iTimeoutMs, const std::function<void()>& Idle,
	size_t Offset)
{
	return WaitUntil(
		[&](const std::string& Output) {
			return Output.size() >= Offset && Output.find(Text, Offset) != std::string::npos;
		},
		iTimeoutMs, Idle);
}

int CChildProcess::WaitForExit(int iTimeoutMs, const std::function<void()>& Idle)
{
	const auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(iTimeoutMs);
	while (m_Pid > 0 && !m_bExited)
	{
		int iStatus = 0;
		const pid_t Result = waitpid(m_Pid, &iStatus, WNOHANG);
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
		if (Idle)
			Idle();
		usleep(2000);
	}
	if (m_Reader.joinable())
		m_Reader.join();
	return m_iExitStatus;
}

std::string CChildProcess::GetOutput()
{
	std::lock_guard<std::mutex> Lock(m_Mutex);
	return m_Output;
}

void CChildProcess::Kill()
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

int RunProgram(const std::vector<std::string>& Arguments, std::string& Output, int iTimeoutMs)
{
	CChildProcess Process;
	if (!Process.Start(Arguments))
		return -1;
	Process.CloseInput();
	const int iStatus = Process.WaitForExit(iTimeoutMs);
	Output = Process.GetOutput();
	return iStatus;
}
}
