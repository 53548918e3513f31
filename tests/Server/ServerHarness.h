#pragma once
// Runs the real server binary as a child process in a temporary folder of its own: a copy of the binary (so the
// folder is also the program's directory, where the log file and the command file live), its own server.xml,
// standard input closed, a pipe or /dev/null, and standard output and error captured. The process is always
// killed and the folder removed when the harness goes away.

#include <string>
#include <vector>

#include "Support/ChildProcess.h"
#include "Support/Ports.h"

namespace ServerTest
{
enum class eStdin
{
	Closed,
	Pipe,
	DevNull,
};

using VexaTest::FindFreePort;

// The game, file server and remote console ports of a configuration.
struct tServerPorts
{
	int m_iGame = 0;
	int m_iHttp = 0;
	int m_iRCon = 0;
};

// A configuration with free ports and the given extra children of the root element.
std::string MakeConfig(const std::string& Children = "");
// The same, telling the game port it chose.
std::string MakeConfig(const std::string& Children, int& iPort);
// The same with the ports given, a free one chosen (and told) for each left at 0.
std::string MakeConfig(const std::string& Children, tServerPorts& Ports);

class CServerProcess
{
public:
	CServerProcess();
	~CServerProcess();

	CServerProcess(const CServerProcess&) = delete;
	CServerProcess& operator=(const CServerProcess&) = delete;

	const std::string& GetFolder() const { return m_Folder; }
	// Writes a file below the folder, creating its parent folders.
	void WriteFile(const std::string& RelativePath, const std::string& Content) const;
	bool ReadFile(const std::string& RelativePath, std::string& Content) const;

	bool Start(const std::vector<std::string>& Arguments = {}, eStdin Input = eStdin::Pipe);
	// Later starts run the server through a program that sets something up and then executes it in its own
	// place, such as {"prlimit", "--nofile=256:256"}.
	void SetLauncher(const std::vector<std::string>& Launcher) { m_Launcher = Launcher; }

	// Writes to standard input (only with eStdin::Pipe).
	bool WriteInput(const std::string& Text);
	void CloseInput();
	bool Signal(int iSignal);
	pid_t GetPid() const { return m_Process.GetPid(); }

	// Waits until the output holds the text; false after the time-out (a safety bound, not a measurement).
	bool WaitForOutput(const std::string& Text, int iTimeoutSeconds = 30);
	// The exit status, or -1 when the process did not end in time (it is then killed) or ended by a signal.
	int WaitForExit(int iTimeoutSeconds = 30);

	// Everything written so far, colour escapes included.
	std::string GetRawOutput();
	// The output split into lines with the colour escapes removed.
	std::vector<std::string> GetOutputLines();

private:
	std::string m_Folder;
	std::vector<std::string> m_Launcher;
	VexaTest::CChildProcess m_Process;
};

// Writes a file below the folder, creating its parent folders.
void WriteFileBelow(const std::string& Folder, const std::string& RelativePath, const std::string& Content);

// The <resources> element that starts the resources in the given order.
std::string ResourceList(const std::vector<std::string>& Names);

// Writes server.xml with the configuration, starts the server and waits until its start-up is complete; a fatal
// test failure when either fails.
void StartAndWait(CServerProcess& Server, const std::string& Config, const std::vector<std::string>& Arguments = {},
	eStdin Input = eStdin::Pipe);
// Asks the server to quit, expects a clean exit and gives the log file it wrote as logs/ServerLog.log.
std::string QuitAndReadLog(CServerProcess& Server);
// The lines of a log file without their time stamps, each as "<level tag><text>".
std::vector<std::string> LogLines(const std::string& Log);
// Starts the server with a configuration of free ports while another socket holds its game port, and waits for the
// process to end. False when the port could not be held or the process not started.
bool RunWithGamePortHeld(CServerProcess& Server, eStdin Input, int& iPort, int& iExitStatus);

// Removes ESC "[...m" sequences.
std::string StripColours(const std::string& Text);
// The index of the first line equal to Text at or after Start, or -1.
int FindLine(const std::vector<std::string>& Lines, const std::string& Text, size_t Start = 0);
// Whether a line holds the text.
bool HasLineContaining(const std::vector<std::string>& Lines, const std::string& Text);
// How many lines hold the text.
size_t CountLines(const std::vector<std::string>& Lines, const std::string& Text);
}
