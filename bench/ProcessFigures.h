#pragma once
// What the benchmarks read of a process they measure, from /proc: the CPU time it has used so far, its resident
// memory and its open descriptors.

#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/types.h>
#include <unistd.h>
#include <vector>

namespace VexaBench
{
// User and system CPU time of the process, in seconds; 0 when it cannot be read.
inline double ReadCpuSeconds(pid_t Pid)
{
	std::ifstream File("/proc/" + std::to_string(Pid) + "/stat");
	std::string Text((std::istreambuf_iterator<char>(File)), std::istreambuf_iterator<char>());
	// Fields after the command name, which may hold blanks, start behind its closing parenthesis.
	size_t End = Text.rfind(')');
	if (End == std::string::npos)
		return 0.0;
	std::vector<std::string> Fields;
	size_t Position = End + 2;
	while (Position < Text.size())
	{
		size_t Next = Text.find(' ', Position);
		if (Next == std::string::npos)
			Next = Text.size();
		Fields.push_back(Text.substr(Position, Next - Position));
		Position = Next + 1;
	}
	// utime and stime are fields 14 and 15 of the whole line, 12 and 13 after the state field.
	if (Fields.size() < 13)
		return 0.0;
	const double dTicks = static_cast<double>(sysconf(_SC_CLK_TCK));
	return (std::strtod(Fields[11].c_str(), nullptr) + std::strtod(Fields[12].c_str(), nullptr)) / dTicks;
}

// Resident memory of the process, in kB; -1 when it cannot be read.
inline long ReadResidentKilobytes(pid_t Pid)
{
	long lPages = 0;
	long lResident = 0;
	std::ifstream File("/proc/" + std::to_string(Pid) + "/statm");
	if (!(File >> lPages >> lResident))
		return -1;
	return lResident * (sysconf(_SC_PAGESIZE) / 1024);
}

// Open file descriptors of the process; -1 when they cannot be read.
inline int CountOpenDescriptors(pid_t Pid)
{
	DIR* pDirectory = opendir(("/proc/" + std::to_string(Pid) + "/fd").c_str());
	if (!pDirectory)
		return -1;
	int iCount = 0;
	while (const dirent* pEntry = readdir(pDirectory))
	{
		if (pEntry->d_name[0] != '.')
			iCount++;
	}
	closedir(pDirectory);
	return iCount;
}
}
