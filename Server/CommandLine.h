#pragma once
// The options of the command line. Each override is optional: it applies only when the option was given.

#include <cstdint>
#include <string>

struct tCommandLine
{
	template <class T>
	struct tOptional
	{
		bool m_bPresent = false;
		T m_Value{};

		void Set(const T& Value)
		{
			m_bPresent = true;
			m_Value = Value;
		}
	};

	std::string m_ConfigFile = "server.xml";
	tOptional<int32_t> m_Port;
	tOptional<int32_t> m_HttpPort;
	tOptional<int32_t> m_RConPort;
	tOptional<int32_t> m_MaxPlayers;
	tOptional<std::string> m_BindIP;
	tOptional<bool> m_Multithreaded;
	bool m_bDumpDocumentation = false;
	bool m_bNoInput = false;
};

// Examines every argument, the program name included. Options compare without regard to case; an option
// that takes a value takes the next argument whatever it is, and sets nothing when it stands last.
// Unknown arguments are ignored.
void ParseCommandLine(int argc, const char* const* argv, tCommandLine& Options);
