#include "Support/WebTool.h"

#include <algorithm>

namespace VexaTest
{
bool CWebTool::Run(const std::vector<std::string>& Arguments, const std::string& ReadyWord,
	const std::function<void()>& Idle)
{
	std::vector<std::string> Command{PYTHON, WebToolsScript()};
	Command.insert(Command.end(), Arguments.begin(), Arguments.end());
	std::string Rest;
	return m_Process.Start(Command) && NextLine(ReadyWord, Rest, 20000, Idle);
}

bool CWebTool::OpenClient(const std::string& Url, const char* szProtocol, const std::function<void()>& Idle)
{
	std::vector<std::string> Arguments{"ws-client", Url};
	if (szProtocol)
		Arguments.push_back(szProtocol);
	return Run(Arguments, "open", Idle);
}

bool CWebTool::HoldClients(const std::string& Url, int iCount, const std::vector<std::string>& Addresses)
{
	std::vector<std::string> Arguments{"ws-hold", Url, std::to_string(iCount)};
	Arguments.insert(Arguments.end(), Addresses.begin(), Addresses.end());
	return Run(Arguments, "settled", nullptr);
}

bool CWebTool::StartServer(uint16_t usPort, const char* szProtocol)
{
	return Run({"ws-server", std::to_string(usPort), szProtocol}, "ready", nullptr);
}

bool CWebTool::Send(const std::vector<uint8_t>& Message)
{
	return m_Process.WriteInput("send " + ToHex(Message) + "\n");
}

bool CWebTool::SendMany(const std::vector<uint8_t>& Message, int iCount)
{
	return m_Process.WriteInput("sendmany " + std::to_string(iCount) + " " + ToHex(Message) + "\n");
}

bool CWebTool::Close()
{
	return m_Process.WriteInput("close\n");
}

bool CWebTool::NextLine(const std::string& Word, std::string& Rest, int iTimeoutMs, const std::function<void()>& Idle)
{
	size_t Found = std::string::npos;
	size_t End = 0;
	const bool bFound = m_Process.WaitUntil(
		[&](const std::string& Output) {
			for (size_t Start = m_Taken; Start < Output.size();)
			{
				const size_t LineEnd = Output.find('\n', Start);
				if (LineEnd == std::string::npos)
					return false;
				const std::string Line = Output.substr(Start, LineEnd - Start);
				if (Line == Word || Line.compare(0, Word.size() + 1, Word + " ") == 0)
				{
					Found = Start;
					End = LineEnd;
					return true;
				}
				Start = LineEnd + 1;
			}
			return false;
		},
		iTimeoutMs, Idle);
	if (!bFound)
		return false;
	const std::string Output = m_Process.GetOutput();
	const size_t RestStart = std::min(Found + Word.size() + 1, End);
	Rest = Output.substr(RestStart, End - RestStart);
	m_Taken = End + 1;
	return true;
}

bool CWebTool::NextMessage(std::vector<uint8_t>& Message, int iTimeoutMs, const std::function<void()>& Idle)
{
	std::string Hex;
	if (!NextLine("recv", Hex, iTimeoutMs, Idle))
		return false;
	Message = FromHex(Hex);
	return Message.size() * 2 == Hex.size();
}

namespace
{
size_t CountLinesIn(const std::string& Output, const std::string& Word)
{
	size_t Count = 0;
	for (size_t Start = 0; Start < Output.size();)
	{
		size_t End = Output.find('\n', Start);
		if (End == std::string::npos)
			break;
		Count += Output.compare(Start, Word.size() + 1, Word + " ") == 0 ? 1 : 0;
		Start = End + 1;
	}
	return Count;
}
}

size_t CWebTool::CountLines(const std::string& Word)
{
	return CountLinesIn(m_Process.GetOutput(), Word);
}

bool CWebTool::WaitForLines(const std::string& Word, size_t Count, int iTimeoutMs)
{
	return m_Process.WaitUntil(
		[&](const std::string& Output) { return CountLinesIn(Output, Word) >= Count; }, iTimeoutMs, nullptr);
}

std::vector<std::string> CWebTool::LinesThrough(const std::string& Word, int iTimeoutMs)
{
	const size_t First = m_Taken;
	std::string Rest;
	if (!NextLine(Word, Rest, iTimeoutMs))
		return {};
	const std::string Output = m_Process.GetOutput();
	std::vector<std::string> Lines;
	for (size_t Start = First; Start < m_Taken;)
	{
		const size_t End = Output.find('\n', Start);
		Lines.push_back(Output.substr(Start, End - Start));
		Start = End + 1;
	}
	return Lines;
}

std::string CWebTool::GetUntaken()
{
	const std::string Output = m_Process.GetOutput();
	return m_Taken < Output.size() ? Output.substr(m_Taken) : std::string();
}

std::string ToHex(const std::vector<uint8_t>& Bytes)
{
	static const char s_szDigits[] = "0123456789abcdef";
	std::string Text;
	for (uint8_t ucByte : Bytes)
	{
		Text += s_szDigits[ucByte >> 4];
		Text += s_szDigits[ucByte & 15];
	}
	return Text;
}

std::vector<uint8_t> FromHex(const std::string& Text)
{
	std::vector<uint8_t> Bytes;
	if (Text.size() % 2 != 0)
		return Bytes;
	for (size_t i = 0; i < Text.size(); i += 2)
	{
		const std::string Pair = Text.substr(i, 2);
		if (Pair.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
			return {};
		Bytes.push_back(static_cast<uint8_t>(std::stoul(Pair, nullptr, 16)));
	}
	return Bytes;
}
}
