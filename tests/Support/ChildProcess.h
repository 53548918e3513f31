#pragma once
// A helper program run by a test: an HTTP client, a WebSocket client or a stand-in server written in Python.
// Standard input is a pipe, standard output and error are collected together; the process is killed when the
// object goes away. Waits take an idle function, so a test can keep servicing an in-process link while it waits.

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

// A file beside the test support sources.
std::string SupportFile(const char* szName);
// The Python clients and stand-in servers of the web tests (see the script's own description).
std::string WebToolsScript();
// A self-signed certificate for 127.0.0.1 with its key, which no system trusts.
std::string SelfSignedCertificate();

class CChildProcess
{
public:
	CChildProcess() = default;
	~CChildProcess();

	CChildProcess(const CChildProcess&) = delete;
	CChildProcess& operator=(const CChildProcess&) = delete;

	bool Start(const std::vector<std::string>& Arguments);

	bool WriteInput(const std::string& Text);
	void CloseInput();

	// Waits until the output holds the text (after the offset, when given); the idle function runs between looks.
	bool WaitForOutput(const std::string& Text, int iTimeoutMs = 20000,
		const std::function<void()>& Idle = nullptr, size_t Offset = 0);
	// The exit status, or -1 when it did not end in time (it is then killed) or ended by a signal.
	int WaitForExit(int iTimeoutMs = 20000, const std::function<void()>& Idle = nullptr);
	std::string GetOutput();

private:
	void ReadOutput(int iDescriptor);
	void Kill();

	pid_t m_Pid = -1;
	int m_iInput = -1;
	bool m_bExited = false;
	int m_iExitStatus = -1;
	std::thread m_Reader;
	std::mutex m_Mutex;
	std::condition_variable m_Changed;
	std::string m_Output;
};

// Runs the program to its end: the exit status (-1 on a time-out) and everything it printed.
int RunProgram(const std::vector<std::string>& Arguments, std::string& Output, int iTimeoutMs = 60000);
}
