#include <cstring>

#include "Engine/Context.h"
#include "Engine/Defines.h"
#include "Engine/KestrinStream.h"
#include "Engine/ModuleViews.h"

namespace
{
struct tTypeSize
{
	const char* m_szName;
	size_t m_Size;
};

// Type names allowed after "enum Name :". The size is not used beyond telling prefixes (0) from types.
const tTypeSize g_rgTypes[] = {
	{"signed", 0},
	{"unsigned", 0},
	{"char", 1},
	{"int8_t", 1},
	{"uint8_t", 1},
	{"Sint8", 1},
	{"Uint8", 1},
	{"short", 2},
	{"int16_t", 2},
	{"uint16_t", 2},
	{"Sint16", 2},
	{"Uint16", 2},
	{"int", 4},
	{"int32_t", 4},
	{"uint32_t", 4},
	{"Sint32", 4},
	{"Uint32", 4},
	{"long", 8},
	{"int64_t", 8},
	{"uint64_t", 8},
	{"Sint64", 8},
	{"Uint64", 8},
};

// How a kind prints in a message: named kinds by display name, single characters as themselves (0 as nothing).
struct tKindText
{
	explicit tKindText(int iKind)
	{
		const char* szName = CLexer::GetKindName(iKind);
		if (szName != nullptr)
		{
			m_szText = szName;
			return;
		}
		m_szChar[0] = static_cast<char>(iKind);
		m_szChar[1] = '\0';
		m_szText = m_szChar;
	}

	const char* m_szText;
	char m_szChar[2];
};
}

CDefineHandlers::CDefineHandlers() : m_pModuleInterface(nullptr) {}

CDefineHandlers::~CDefineHandlers()
{
	Kestrin3D::Interfaces::DetachView(m_pModuleInterface);
}

void CDefineHandlers::Define(const char* szName, int iValue)
{
	m_Defines.push_back(IntDefine{szName ? szName : "", false, static_cast<uint32_t>(iValue)});
}

void CDefineHandlers::Define(const char* szName, unsigned uiValue)
{
	m_Defines.push_back(IntDefine{szName ? szName : "", true, uiValue});
}

void CDefineHandlers::Process(Stream* pStream, const char* szName)
{
	CSourceCodeParser Parser;
	for (const tTypeSize& Type : g_rgTypes)
		Parser.RegisterType(Type.m_szName, Type.m_Size);
	Parser.Assemble(pStream, szName, this);
}

CSourceCodeParser::CSourceCodeParser() : m_pLexer(nullptr) {}

void CSourceCodeParser::RegisterType(const char* szName, size_t Size)
{
	m_Types[szName] = Size;
}

void CSourceCodeParser::Assemble(Stream* pStream, const char* szName, CDefineHandlers* pHandlers)
{
	if (pStream == nullptr || pHandlers == nullptr)
		return;
	if (szName == nullptr)
		szName = "";

	CTextReader Reader(pStream);
	if (!Reader.IsLoaded())
		Reader.Load();

	// A text the reader refused (an unsupported encoding) reads as empty.
	const char* pText = Reader.GetText();
	CLexer Lexer(pText, pText != nullptr ? Reader.GetTextLength() : 0, szName);
	m_pLexer = &Lexer;
	try
	{
		Parse(pHandlers);
	}
	catch (const char* szMessage)
	{
		Context* pContext = KGlobal::GetContext();
		if (pContext != nullptr)
			pContext->LogError("%s(%d): %s", szName, Lexer.GetCurrentLine(), szMessage);
	}
	m_pLexer = nullptr;
	m_Enumerators.clear();
}

void CSourceCodeParser::Parse(CDefineHandlers* pHandlers)
{
	for (;;)
	{
		m_pLexer->SetLastTokenLine(m_pLexer->GetCurrentLine());
		int iToken = m_pLexer->Lex();
		if (iToken == 0)
			return;
		if (iToken != TK_ENUM)
			Unexpected(iToken);
		Expect(iToken, TK_IDENTIFIER);

		m_pLexer->SetLastTokenLine(m_pLexer->GetCurrentLine());
		iToken = m_pLexer->Lex();
		if (iToken == ';')
			continue;
		if (iToken == ':')
		{
			ScanType(iToken);
			Expect(iToken, '{');
		}
		else if (iToken != '{')
		{
			Unexpected(iToken);
		}
		ParseEnumBody(pHandlers, iToken);
	}
}

void CSourceCodeParser::ParseEnumBody(CDefineHandlers* pHandlers, int& iToken)
{
	uint32_t uiValue = 0;

	iToken = m_pLexer->Lex();
	if (iToken != TK_IDENTIFIER && iToken != '}')
		Unexpected(iToken);

	while (iToken != '}')
	{
		// A body cut off by the end of the text would otherwise read end-of-input tokens forever.
		if (iToken == 0)
			Unexpected(iToken);

		// The name must be copied before the next token overwrites the lexer's text buffer.
		std::string Name(m_pLexer->GetString());
		iToken = m_pLexer->Lex();

		if (iToken == ',')
		{
			pHandlers->Define(Name.c_str(), static_cast<int>(uiValue));
			m_Enumerators[Name] = static_cast<int32_t>(uiValue);
			iToken = m_pLexer->Lex();
			if (iToken != TK_IDENTIFIER && iToken != '}')
				Unexpected(iToken);
			uiValue++;
		}
		else if (iToken == '=')
		{
			iToken = m_pLexer->Lex();
			int32_t iValue = 0;
			if (iToken == TK_INTEGER)
			{
				iValue = m_pLexer->GetInteger();
			}
			else if (iToken == TK_IDENTIFIER)
			{
				auto it = m_Enumerators.find(m_pLexer->GetString());
				if (it == m_Enumerators.end())
					Unexpected(iToken);
				iValue = it->second;
			}
			else
			{
				Unexpected(iToken);
			}
			pHandlers->Define(Name.c_str(), static_cast<int>(iValue));
			m_Enumerators[Name] = iValue;
			uiValue = static_cast<uint32_t>(iValue) + 1u;
			Expect(iToken, ',');
			iToken = m_pLexer->Lex();
		}
		// Anything else drops the name: an enumerator without a trailing comma defines nothing.
	}
	Expect(iToken, ';');
}

void CSourceCodeParser::ScanType(int& iToken)
{
	// A prefix word ("unsigned") asks for a further type name; a loop rather than recursion, so a long run of
	// prefixes cannot exhaust the stack.
	for (;;)
	{
		Expect(iToken, TK_IDENTIFIER);
		auto it = m_Types.find(m_pLexer->GetString());
		if (it == m_Types.end())
			CLexer::Error("unexpected identifier '%s'", m_pLexer->GetString());
		if (it->second != 0)
			return;
	}
}

void CSourceCodeParser::Expect(int& iToken, int iKind)
{
	m_pLexer->SetLastTokenLine(m_pLexer->GetCurrentLine());
	iToken = m_pLexer->Lex();
	if (iToken == iKind)
		return;
	tKindText Got(iToken);
	// Among the named kinds the parser only ever expects identifiers.
	tKindText Wanted(iKind >= TK_FIRST_NAMED ? TK_IDENTIFIER : iKind);
	CLexer::Error("got '%s' expected '%s'", Got.m_szText, Wanted.m_szText);
}

void CSourceCodeParser::Unexpected(int iKind)
{
	if (iKind == TK_IDENTIFIER)
		CLexer::Error("unexpected identifier '%s'", m_pLexer->GetString());
	tKindText Text(iKind);
	CLexer::Error("unexpected '%s'", Text.m_szText);
}
