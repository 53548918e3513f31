#pragma once
// A WebSocket client or stand-in server of web_tools.py run as a child process, with its output read one event
// line at a time: what it received comes back as bytes, in order, and a test waits for each in turn. Waits take
// an idle function, so a test can keep servicing a server in its own process while it waits.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Support/ChildProcess.h"

namespace VexaTest
{
class CWebTool
{
public:
	// A client of the URL, asking for the sub-protocol (null: none); true once the handshake completed.
	bool OpenClient(const std::string& Url, const char* szProtocol = nullptr,
		const std::function<void()>& Idle = nullptr);
	// Count clients of the URL opened at once, client i from the local address i modulo the addresses, each only
	// holding its connection; true once every one has opened or been refused. Their events are "open <i>",
	// "refused <i> <reason>" and "closed <i> <code>" lines (CountLines).
	bool HoldClients(const std::string& Url, int iCount, const std::vector<std::string>& Addresses);
	// A stand-in server on 127.0.0.1 at the port, speaking the sub-protocol; true once it listens.
	bool StartServer(uint16_t usPort, const char* szProtocol);

	// One binary message (to the server's current connection for a stand-in).
	bool Send(const std::vector<uint8_t>& Message);
	// The message Count times over, all in one write on the connection (a client only).
	bool SendMany(const std::vector<uint8_t>& Message, int iCount);
	bool Close();

	// The rest of the next line that begins with the word and a blank, among the lines not taken yet; the lines
	// before it are taken too. False when none comes in time or the tool has ended.
	bool NextLine(const std::string& Word, std::string& Rest, int iTimeoutMs = 20000,
		const std::function<void()>& Idle = nullptr);
	// The next message received.
	bool NextMessage(std::vector<uint8_t>& Message, int iTimeoutMs = 20000,
		const std::function<void()>& Idle = nullptr);

	std::string GetOutput() { return m_Process.GetOutput(); }
	// The lines printed so far that begin with the word and a blank.
	size_t CountLines(const std::string& Word);
	// Waits until Count such lines have been printed; false when they do not come in time.
	bool WaitForLines(const std::string& Word, size_t Count, int iTimeoutMs = 20000);
	// Every line up to and including the next one that begins with the word (or is the word), among the lines not
	// taken yet; they are taken. Empty when none comes in time.
	std::vector<std::string> LinesThrough(const std::string& Word, int iTimeoutMs = 20000);
	// The output after the lines taken so far.
	std::string GetUntaken();

private:
	bool Run(const std::vector<std::string>& Arguments, const std::string& ReadyWord,
		const std::function<void()>& Idle);

	CChildProcess m_Process;
	size_t m_Taken = 0;
};

// "0a1b..." for the bytes, and back; FromHex gives up (empty) on text that is not whole hexadecimal bytes.
std::string ToHex(const std::vector<uint8_t>& Bytes);
std::vector<uint8_t> FromHex(const std::string& Text);
}
