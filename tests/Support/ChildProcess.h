#pragma once
// A program run by a test: the server itself, an HTTP client, a WebSocket client or a stand-in server written in
// Python. Standard input is a pipe (or closed, or /dev/null), standard output and error are collected together;
// the process is killed when the object goes away. Waits take an idle function, so a test can keep servicing an
// in-process link while it waits.

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace VexaTest
{
// Debian's interpreter, which has the packages the stand-ins use (a Python earlier on the PATH may not).
extern const char* const PYTHON;
// Debian's curl, the HTTP client of the web tests.
extern const char* const CURL;

// A file beside the test support sources.
std::string SupportFile(const char* szName);
// The Python clients and stand-in servers of the web tests (see the script's own description).
std::string WebToolsScript();
// A self-signed certificate for 127.0.0.1 with its key, which no system trusts.
std::string SelfSignedCertificate();

enum class eChildInput
{
	Pipe,
	Closed,
	DevNull,
};

class CChildProcess
{
public:
	CChildProcess() = default;
	~CChildProcess();

	CChildProcess(const CChildProcess&) = delete;
	CChildProcess& operator=(const CChildProcess&) = delete;

	// Runs the program (the first argument, a path) in the folder (empty: the test's own).
	bool Start(const std::vector<std::string>& Arguments, const std::string& Folder = "",
		eChildInput Input = eChildInput::Pipe);

	// Only with eChildInput::Pipe.
	bool WriteInput(const std::string& Text);
	void CloseInput();
	bool Signal(int iSignal);

	// Waits until the output satisfies the test; false after the time-out or once the output has ended without
	// satisfying it. The idle function runs between looks.
	bool WaitUntil(const std::function<bool(const std::string& Output)>& Test, int iTimeoutMs,
		const std::function<void()>& Idle = nullptr);
	// Waits until the output holds the text (after the offset, when given).
	bool WaitForOutput(const std::string& Text, int iTimeoutMs = 20000,
		const std::function<void()>& Idle = nullptr, size_t Offset = 0);
	// The exit status, or -1 when it did not end in time (it is then killed) or ended by a signal.
	int WaitForExit(int iTimeoutMs = 20000, const std::function<void()>& Idle = nullptr);
	std::string GetOutput();
	// Kills the process if it still runs and waits for it.
	void Kill();
	// The process id, -1 before the start; it stays valid until the process has been waited for.
	pid_t GetPid() const { return m_Pid; }

private:
	void ReadOutput(int iDescriptor);

	pid_t m_Pid = -1;
	int m_iInput = -1;
	bool m_bExited = false;
	int m_iExitStatus = -1;
	std::thread m_Reader;
	std::mutex m_Mutex;
	std::condition_variable m_Changed;
	std::string m_Output;
	bool m_bOutputClosed = false;
};

// Runs the program to its end: the exit status (-1 on a time-out) and everything it printed.
int RunProgram(const std::vector<std::string>& Arguments, std::string& Output, int iTimeoutMs = 60000);
}
