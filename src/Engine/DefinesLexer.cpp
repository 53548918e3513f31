#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Engine/Defines.h"

const char* const rgpszTokens[TK_NAMED_COUNT] = {
	"identifier",
	"string",
	"integer",
	"float",
	"base",
	"delete",
	"TK_SWITCH",
	"TK_IF",
	"TK_ELSE",
	"TK_WHILE",
	"TK_BREAK",
	"TK_FOR",
	"TK_DO",
	"TK_NULL",
	"TK_FOREACH",
	"TK_IN",
	"let",
	"TK_CLONE",
	"TK_FUNCTION",
	"TK_RETURN",
	"TK_TYPEOF",
	"TK_CONTINUE",
	"yield",
	"TK_TRY",
	"TK_CATCH",
	"TK_THROW",
	"TK_RESUME",
	"TK_CASE",
	"TK_DEFAULT",
	"TK_THIS",
	"TK_CLASS",
	"TK_EXTENDS",
	"TK_CONSTRUCTOR",
	"TK_INSTANCEOF",
	"TK___LINE__",
	"TK___FILE__",
	"TK_TRUE",
	"TK_FALSE",
	"TK_STATIC",
	"TK_ENUM",
	"TK_CONST",
	"TK_RAWCALL",
	"end",
	"TK_EQ",
	"TK_NE",
	"TK_LE",
	"TK_GE",
	"TK_AND",
	"TK_OR",
	"TK_NEWSLOT",
	"TK_PLUSEQ",
	"TK_MINUSEQ",
	"TK_SHIFTL",
	"TK_SHIFTR",
	"TK_DOUBLE_COLON",
	"TK_PLUSPLUS",
	"TK_MINUSMINUS",
	"TK_3WAYSCMP",
	"TK_USHIFTR",
	"TK_VARPARAMS",
	"TK_MULEQ",
	"TK_DIVEQ",
	"TK_MODEQ",
	"TK_ATTR_OPEN",
	"TK_ATTR_CLOSE",
};

namespace
{
struct tKeyword
{
	int m_iKind;
	const char* m_szText;
};

const tKeyword g_rgKeywords[TK_KEYWORD_COUNT] = {
	{TK_BASE, "base"},
	{TK_DELETE, "delete"},
	{TK_SWITCH, "switch"},
	{TK_IF, "if"},
	{TK_ELSE, "else"},
	{TK_WHILE, "while"},
	{TK_BREAK, "break"},
	{TK_FOR, "for"},
	{TK_DO, "do"},
	{TK_NULL, "null"},
	{TK_FOREACH, "foreach"},
	{TK_IN, "in"},
	{TK_LET, "let"},
	{TK_CLONE, "clone"},
	{TK_FUNCTION, "function"},
	{TK_RETURN, "return"},
	{TK_TYPEOF, "typeof"},
	{TK_CONTINUE, "continue"},
	{TK_YIELD, "yield"},
	{TK_TRY, "try"},
	{TK_CATCH, "catch"},
	{TK_THROW, "throw"},
	{TK_RESUME, "resume"},
	{TK_CASE, "case"},
	{TK_DEFAULT, "default"},
	{TK_THIS, "this"},
	{TK_CLASS, "class"},
	{TK_EXTENDS, "extends"},
	{TK_CONSTRUCTOR, "constructor"},
	{TK_INSTANCEOF, "instanceof"},
	{TK___LINE__, "__LINE__"},
	{TK___FILE__, "__FILE__"},
	{TK_TRUE, "true"},
	{TK_FALSE, "false"},
	{TK_STATIC, "static"},
	{TK_ENUM, "enum"},
	{TK_CONST, "const"},
	{TK_RAWCALL, "rawcall"},
	{TK_END, "end"},
};

// The only message buffer of the front end; parsing is therefore not reentrant.
char szBuffer[CLexer::ERROR_BUFFER_SIZE];

bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }
bool IsOctalDigit(unsigned char c) { return c >= '0' && c <= '7'; }
bool IsHexDigit(unsigned char c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool IsLetter(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

unsigned HexDigitValue(char c)
{
	if (c >= '0' && c <= '9')
		return static_cast<unsigned>(c - '0');
	if (c >= 'a' && c <= 'f')
		return static_cast<unsigned>(c - 'a' + 10);
	return static_cast<unsigned>(c - 'A' + 10);
}

// Digits as an unsigned 32-bit number; callers bound the digit count, wider values wrap.
uint32_t LexHexadecimal(const char* szDigits)
{
	uint32_t uiValue = 0;
	for (; *szDigits; szDigits++)
		uiValue = uiValue * 16u + HexDigitValue(*szDigits);
	return uiValue;
}

uint32_t LexOctal(const char* szDigits)
{
	uint32_t uiValue = 0;
	for (; *szDigits; szDigits++)
		uiValue = uiValue * 8u + static_cast<uint32_t>(*szDigits - '0');
	return uiValue;
}

// Decimal literals wrap modulo 2^32 without an error; unsigned arithmetic keeps the wrap defined.
uint32_t LexDecimal(const char* szDigits)
{
	uint32_t uiValue = 0;
	for (; *szDigits; szDigits++)
		uiValue = uiValue * 10u + static_cast<uint32_t>(*szDigits - '0');
	return uiValue;
}

constexpr int MAX_HEX_DIGITS = 8;
}

CLexer::CLexer(const char* pText, size_t Length, const char* szSourceName)
	: m_pStart(pText),
	  m_pCurrent(pText),
	  m_Length(Length),
	  m_Remaining(Length),
	  m_szSourceName(szSourceName),
	  m_ucCurrent(0),
	  m_iCurrentLine(1),
	  m_iLastTokenLine(1),
	  m_iCurrentToken(0),
	  m_iPreviousToken(0),
	  m_szTokenText(),
	  m_TokenLength(0),
	  m_iInteger(0),
	  m_fFloat(0.0f),
	  m_rgpszKeywords()
{
	for (const tKeyword& Keyword : g_rgKeywords)
		m_rgpszKeywords[Keyword.m_iKind - TK_IDENTIFIER] = Keyword.m_szText;

	if (m_pStart == nullptr || m_Length == 0)
		m_Remaining = 0;
	else
		m_ucCurrent = static_cast<unsigned char>(*m_pCurrent);
	if (m_ucCurrent == 0)
		m_Remaining = 0;
}

void CLexer::Error(const char* szFormat, ...)
{
	va_list Args;
	va_start(Args, szFormat);
	vsnprintf(szBuffer, sizeof(szBuffer), szFormat, Args);
	va_end(Args);
	throw static_cast<const char*>(szBuffer);
}

const char* CLexer::GetKindName(int iKind)
{
	if (iKind >= TK_FIRST_NAMED && iKind < TK_LAST_PLUS_ONE)
		return rgpszTokens[iKind - TK_FIRST_NAMED];
	return nullptr;
}

void CLexer::Next()
{
	// Once the count runs out, or a 0 byte is met, the current character stays 0: that is the end of input.
	if (m_Remaining <= 1)
	{
		m_Remaining = 0;
		m_ucCurrent = 0;
		return;
	}
	m_Remaining--;
	m_pCurrent++;
	m_ucCurrent = static_cast<unsigned char>(*m_pCurrent);
	if (m_ucCurrent == 0)
		m_Remaining = 0;
}

char CLexer::PeekNext() const
{
	return m_Remaining > 1 ? m_pCurrent[1] : '\0';
}

void CLexer::Append(char c)
{
	if (m_TokenLength >= TOKEN_BUFFER_SIZE - 1)
		Error("token too long");
	m_szTokenText[m_TokenLength++] = c;
}

int CLexer::Lex()
{
	m_iPreviousToken = m_iCurrentToken;
	m_iCurrentToken = LexToken();
	return m_iCurrentToken;
}

int CLexer::LexToken()
{
	for (;;)
	{
		switch (m_ucCurrent)
		{
		case 0:
			return 0;
		case ' ':
		case '\t':
		case '\r':
			Next();
			continue;
		case '\n':
			m_iCurrentLine++;
			Next();
			continue;
		case '#':
			SkipLineComment();
			continue;
		case '/':
			Next();
			if (m_ucCurrent == '/')
			{
				SkipLineComment();
				continue;
			}
			if (m_ucCurrent == '*')
			{
				Next();
				SkipBlockComment();
				continue;
			}
			if (m_ucCurrent == '=')
			{
				Next();
				return TK_DIVEQ;
			}
			if (m_ucCurrent == '>')
			{
				Next();
				return TK_ATTR_CLOSE;
			}
			return '/';
		case '=':
			Next();
			if (m_ucCurrent == '=')
			{
				Next();
				return TK_EQ;
			}
			return '=';
		case '<':
			Next();
			switch (m_ucCurrent)
			{
			case '=':
				Next();
				if (m_ucCurrent == '>')
				{
					Next();
					return TK_3WAYSCMP;
				}
				return TK_LE;
			case '-':
				Next();
				return TK_NEWSLOT;
			case '<':
				Next();
				return TK_SHIFTL;
			case '/':
				Next();
				return TK_ATTR_OPEN;
			default:
				return '<';
			}
		case '>':
			Next();
			if (m_ucCurrent == '=')
			{
				Next();
				return TK_GE;
			}
			if (m_ucCurrent == '>')
			{
				Next();
				if (m_ucCurrent == '>')
				{
					Next();
					return TK_USHIFTR;
				}
				return TK_SHIFTR;
			}
			return '>';
		case '!':
			Next();
			if (m_ucCurrent == '=')
			{
				Next();
				return TK_NE;
			}
			return '!';
		case '@':
			Next();
			if (m_ucCurrent == '"')
				return ReadString('"', true);
			return '@';
		case '"':
		case '\'':
			return ReadString(m_ucCurrent, false);
		case '.':
			Next();
			if (m_ucCurrent != '.')
				return '.';
			Next();
			if (m_ucCurrent != '.')
				Error("invalid token '..'");
			Next();
			return TK_VARPARAMS;
		case '&':
			Next();
			if (m_ucCurrent == '&')
			{
				Next();
				return TK_AND;
			}
			return '&';
		case '|':
			Next();
			if (m_ucCurrent == '|')
			{
				Next();
				return TK_OR;
			}
			return '|';
		case ':':
			Next();
			if (m_ucCurrent == ':')
			{
				Next();
				return TK_DOUBLE_COLON;
			}
			return ':';
		case '*':
			Next();
			if (m_ucCurrent == '=')
			{
				Next();
				return TK_MULEQ;
			}
			return '*';
		case '%':
			Next();
			if (m_ucCurrent == '=')
			{
				Next();
				return TK_MODEQ;
			}
			return '%';
		case '-':
			Next();
			if (m_ucCurrent == '=')
			{
				Next();
				return TK_MINUSEQ;
			}
			if (m_ucCurrent == '-')
			{
				Next();
				return TK_MINUSMINUS;
			}
			return '-';
		case '+':
			Next();
			if (m_ucCurrent == '=')
			{
				Next();
				return TK_PLUSEQ;
			}
			if (m_ucCurrent == '+')
			{
				Next();
				return TK_PLUSPLUS;
			}
			return '+';
		default:
			break;
		}

		if (IsDigit(m_ucCurrent))
			return ReadNumber();
		if (IsLetter(m_ucCurrent) || m_ucCurrent == '_')
			return ReadWord();
		if (m_ucCurrent < 32 || m_ucCurrent == 127)
			Error("unexpected character(control)");
		int iKind = m_ucCurrent;
		Next();
		return iKind;
	}
}

void CLexer::SkipLineComment()
{
	// The line feed itself is left for the caller, which counts the line.
	while (m_ucCurrent != '\n' && m_ucCurrent != 0)
		Next();
}

void CLexer::SkipBlockComment()
{
	for (;;)
	{
		switch (m_ucCurrent)
		{
		case 0:
			Error("missing \"*/\" in comment");
		case '*':
			Next();
			if (m_ucCurrent == '/')
			{
				Next();
				return;
			}
			continue;
		case '\n':
			m_iCurrentLine++;
			Next();
			continue;
		default:
			Next();
			continue;
		}
	}
}

int CLexer::ReadWord()
{
	BeginToken();
	while (IsLetter(m_ucCurrent) || IsDigit(m_ucCurrent) || m_ucCurrent == '_')
	{
		Append(static_cast<char>(m_ucCurrent));
		Next();
	}
	EndToken();

	for (int iKind = TK_BASE; iKind <= TK_END; iKind++)
	{
		if (strcmp(m_rgpszKeywords[iKind - TK_IDENTIFIER], m_szTokenText) == 0)
			return iKind;
	}
	return TK_IDENTIFIER;
}

int CLexer::ReadNumber()
{
	BeginToken();

	if (m_ucCurrent == '0' && (PeekNext() == 'x' || PeekNext() == 'X'))
	{
		Next();
		Next();
		while (IsHexDigit(m_ucCurrent))
		{
			Append(static_cast<char>(m_ucCurrent));
			Next();
			if (m_TokenLength > MAX_HEX_DIGITS)
				Error("too many digits for an Hex number");
		}
		EndToken();
		m_iInteger = static_cast<int32_t>(LexHexadecimal(m_szTokenText));
		return TK_INTEGER;
	}

	if (m_ucCurrent == '0' && IsOctalDigit(static_cast<unsigned char>(PeekNext())))
	{
		while (IsOctalDigit(m_ucCurrent))
		{
			Append(static_cast<char>(m_ucCurrent));
			Next();
		}
		if (IsDigit(m_ucCurrent))
			Error("invalid octal number");
		EndToken();
		m_iInteger = static_cast<int32_t>(LexOctal(m_szTokenText));
		return TK_INTEGER;
	}

	bool bFloat = false;
	while (m_ucCurrent == '.' || IsDigit(m_ucCurrent) || m_ucCurrent == 'e' || m_ucCurrent == 'E')
	{
		if (m_ucCurrent == '.')
			bFloat = true;
		if (m_ucCurrent == 'e' || m_ucCurrent == 'E')
		{
			bFloat = true;
			Append(static_cast<char>(m_ucCurrent));
			Next();
			if (m_ucCurrent == '+' || m_ucCurrent == '-')
			{
				Append(static_cast<char>(m_ucCurrent));
				Next();
			}
			if (!IsDigit(m_ucCurrent))
				Error("exponent expected");
		}
		Append(static_cast<char>(m_ucCurrent));
		Next();
	}
	EndToken();

	if (bFloat)
	{
		m_fFloat = strtof(m_szTokenText, nullptr);
		return TK_FLOAT;
	}
	m_iInteger = static_cast<int32_t>(LexDecimal(m_szTokenText));
	return TK_INTEGER;
}

int CLexer::ReadString(int iQuote, bool bVerbatim)
{
	Next();
	if (m_ucCurrent == 0)
		Error("error parsing the string");

	BeginToken();
	for (;;)
	{
		while (m_ucCurrent != iQuote)
		{
			switch (m_ucCurrent)
			{
			case 0:
				Error("unfinished string");
			case '\n':
				if (!bVerbatim)
					Error("newline in a constant");
				Append('\n');
				Next();
				m_iCurrentLine++;
				break;
			case '\\':
				if (bVerbatim)
				{
					Append('\\');
					Next();
				}
				else
				{
					ReadEscape();
				}
				break;
			default:
				Append(static_cast<char>(m_ucCurrent));
				Next();
				break;
			}
		}
		Next();
		// In a verbatim string two double quotes in a row stand for one.
		if (bVerbatim && m_ucCurrent == '"')
		{
			Append('"');
			Next();
			continue;
		}
		break;
	}
	EndToken();

	if (iQuote == '\'')
	{
		if (m_TokenLength == 0)
			Error("empty constant");
		if (m_TokenLength > 1)
			Error("constant too long");
		m_iInteger = static_cast<int32_t>(static_cast<signed char>(m_szTokenText[0]));
		return TK_INTEGER;
	}
	return TK_STRING_LITERAL;
}

void CLexer::ReadEscape()
{
	Next();
	char szDigits[MAX_HEX_DIGITS + 1];
	switch (m_ucCurrent)
	{
	case 'x':
		Next();
		ProcessStringHexEscape(szDigits, 2);
		Append(static_cast<char>(LexHexadecimal(szDigits)));
		return;
	case 'u':
	case 'U':
	{
		int iMaxDigits = m_ucCurrent == 'u' ? 4 : 8;
		Next();
		ProcessStringHexEscape(szDigits, iMaxDigits);
		AppendUTF8(LexHexadecimal(szDigits));
		return;
	}
	case 't': Append('\t'); break;
	case 'a': Append('\a'); break;
	case 'b': Append('\b'); break;
	case 'n': Append('\n'); break;
	case 'r': Append('\r'); break;
	case 'v': Append('\v'); break;
	case 'f': Append('\f'); break;
	case '0': Append('\0'); break;
	case '\\': Append('\\'); break;
	case '"': Append('"'); break;
	case '\'': Append('\''); break;
	default:
		Error("unrecognised escaper char");
	}
	Next();
}

void CLexer::ProcessStringHexEscape(char* pDigits, int iMaxDigits)
{
	if (!IsHexDigit(m_ucCurrent))
		Error("hexadecimal number expected");
	int n = 0;
	for (; IsHexDigit(m_ucCurrent) && n < iMaxDigits; n++)
	{
		pDigits[n] = static_cast<char>(m_ucCurrent);
		Next();
	}
	pDigits[n] = '\0';
}

void CLexer::AppendUTF8(uint32_t uiCodePoint)
{
	if (uiCodePoint < 0x80)
	{
		Append(static_cast<char>(uiCodePoint));
	}
	else if (uiCodePoint < 0x800)
	{
		Append(static_cast<char>(0xC0 | (uiCodePoint >> 6)));
		Append(static_cast<char>(0x80 | (uiCodePoint & 0x3F)));
	}
	else if (uiCodePoint < 0x10000)
	{
		Append(static_cast<char>(0xE0 | (uiCodePoint >> 12)));
		Append(static_cast<char>(0x80 | ((uiCodePoint >> 6) & 0x3F)));
		Append(static_cast<char>(0x80 | (uiCodePoint & 0x3F)));
	}
	else if (uiCodePoint <= 0x10FFFF)
	{
		Append(static_cast<char>(0xF0 | (uiCodePoint >> 18)));
		Append(static_cast<char>(0x80 | ((uiCodePoint >> 12) & 0x3F)));
		Append(static_cast<char>(0x80 | ((uiCodePoint >> 6) & 0x3F)));
		Append(static_cast<char>(0x80 | (uiCodePoint & 0x3F)));
	}
}
