// The process entry of the dedicated server.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <curl/curl.h>
#include <enet/enet.h>

#include "BuiltinFiles.h"
#include "CommandLine.h"
#include "Game/GTAServer.h"

#include "Engine/Context.h"
#include "Engine/KAssert.h"
#include "Engine/SignalHandlers.h"

CBaseServer* g_pServer = nullptr;

namespace
{
constexpr int EXIT_FAILED_START = 1;

// A process started with a standard stream closed would hand that descriptor number to the first file it
// opens; the console reader and printf would then read or write the configuration or the log file.
void EnsureStandardStreams()
{
	for (int iDescriptor = STDIN_FILENO; iDescriptor <= STDERR_FILENO; iDescriptor++)
	{
		if (fcntl(iDescriptor, F_GETFD) != -1)
			continue;
		int iNull = open("/dev/null", iDescriptor == STDIN_FILENO ? O_RDONLY : O_WRONLY);
		if (iNull >= 0 && iNull != iDescriptor)
		{
			dup2(iNull, iDescriptor);
			close(iNull);
		}
	}
}

// Every client link, remote-console connection, download and open script file holds a descriptor; a soft limit
// far below the hard one would refuse them long before the system has to. Not being able to raise it is no reason
// not to start.
void RaiseOpenFileLimit(Context& ProcessContext)
{
	rlimit Limit{};
	if (getrlimit(RLIMIT_NOFILE, &Limit) != 0)
	{
		ProcessContext.LogWarn("Cannot read the limit of open files: %s", strerror(errno));
		return;
	}
	if (Limit.rlim_cur >= Limit.rlim_max)
		return;
	const rlim_t Soft = Limit.rlim_cur;
	Limit.rlim_cur = Limit.rlim_max;
	if (setrlimit(RLIMIT_NOFILE, &Limit) != 0)
		ProcessContext.LogWarn("Cannot raise the limit of open files from %llu to %llu: %s",
			static_cast<unsigned long long>(Soft), static_cast<unsigned long long>(Limit.rlim_max), strerror(errno));
}

void QuitProcedure()
{
	if (g_pServer)
		g_pServer->SignalQuit();
}

// After a failed start the message stays readable until a key is pressed. Without a terminal there is nobody
// to press one, so the process ends at once.
void WaitForKeyPress()
{
	printf("Press any key to continue ...");
	fflush(stdout);
	if (isatty(STDIN_FILENO))
	{
		termios Attributes{};
		if (tcgetattr(STDIN_FILENO, &Attributes) != 0)
			perror("tcsetattr()");
		termios Raw = Attributes;
		Raw.c_lflag &= ~(ICANON | ECHO);
		Raw.c_cc[VMIN] = 1;
		Raw.c_cc[VTIME] = 0;
		if (tcsetattr(STDIN_FILENO, TCSANOW, &Raw) < 0)
			perror("tcsetattr ICANON");
		char c = 0;
		if (read(STDIN_FILENO, &c, 1) < 0)
			perror("read()");
		Raw.c_lflag |= ICANON | ECHO;
		if (tcsetattr(STDIN_FILENO, TCSADRAIN, &Raw) < 0)
			perror("tcsetattr ~ICANON");
	}
	printf("\n");
	fflush(stdout);
}

int RunServer(Context& ProcessContext, int argc, char** argv)
{
	CGTAServer Server(&ProcessContext);
	g_pServer = &Server;
	CSignalHandlers::Install(QuitProcedure);

	tCommandLine Options;
	ParseCommandLine(argc, argv, Options);

	if (!Server.LoadConfig(Options.m_ConfigFile.c_str()) || !Server.ApplyOverrides(Options) || !Server.StartServer())
	{
		WaitForKeyPress();
		g_pServer = nullptr;
		return EXIT_FAILED_START;
	}

	Server.RunCommandFile();
	if (Options.m_bDumpDocumentation)
		Server.ConsoleCommand("/dumpdoc");
	if (!Options.m_bNoInput)
		Server.StartInputThread();

	Server.MainLoop();
	Server.ShutDown();
	g_pServer = nullptr;
	return 0;
}
}

int main(int argc, char** argv)
{
	EnsureStandardStreams();

	g_bAsserts = false;
	curl_global_init(CURL_GLOBAL_ALL);
	atexit(curl_global_cleanup);
	atexit(enet_deinitialize);

	Context ProcessContext;
	ProcessContext.AddUserAgent("VexaServer/1.5.10");
	RaiseOpenFileLimit(ProcessContext);
	MountBuiltinArchive(ProcessContext);

	int iResult = 0;
	try
	{
		iResult = RunServer(ProcessContext, argc, argv);
	}
	catch (const std::exception& Exception)
	{
		g_pServer = nullptr;
		ProcessContext.LogError("The server stopped on an unexpected error: %s", Exception.what());
		iResult = EXIT_FAILED_START;
	}
	return iResult;
}
