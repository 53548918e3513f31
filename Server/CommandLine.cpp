#include "CommandLine.h"

#include <cstdlib>
#include <strings.h>

namespace
{
int32_t ReadInteger(const char* szText)
{
	return static_cast<int32_t>(strtol(szText, nullptr, 10));
}

// Options that take the next argument as their value.
bool ApplyValueOption(const char* szOption, const char* szValue, tCommandLine& Options)
{
	if (strcasecmp(szOption, "-config") == 0)
		Options.m_ConfigFile = szValue;
	else if (strcasecmp(szOption, "-port") == 0)
		Options.m_Port.Set(ReadInteger(szValue));
	else if (strcasecmp(szOption, "-httpport") == 0)
		Options.m_HttpPort.Set(ReadInteger(szValue));
	else if (strcasecmp(szOption, "-rconport") == 0)
		Options.m_RConPort.Set(ReadInteger(szValue));
	else if (strcasecmp(szOption, "-maxplayers") == 0)
		Options.m_MaxPlayers.Set(ReadInteger(szValue));
	else if (strcasecmp(szOption, "-bindip") == 0)
		Options.m_BindIP.Set(szValue);
	else
		return false;
	return true;
}
}

void ParseCommandLine(int argc, const char* const* argv, tCommandLine& Options)
{
	for (int i = 0; i < argc; i++)
	{
		const char* szArgument = argv[i];
		if (!szArgument)
			continue;

		// An option with a value standing last sets nothing.
		if (i + 1 < argc && argv[i + 1] && ApplyValueOption(szArgument, argv[i + 1], Options))
			i++;
		else if (strcasecmp(szArgument, "-multithreaded") == 0)
			Options.m_Multithreaded.Set(true);
		else if (strcasecmp(szArgument, "-disablemultithreaded") == 0)
			Options.m_Multithreaded.Set(false);
		else if (strcasecmp(szArgument, "-noinput") == 0)
			Options.m_bNoInput = true;
		else if (strcasecmp(szArgument, "-dumpdoc") == 0)
			Options.m_bDumpDocumentation = true;
		// "-allowadmin" is accepted and changes nothing, like every unknown argument.
	}
}
