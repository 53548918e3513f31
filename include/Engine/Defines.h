#pragma once
// Named 32-bit constants that every script language exposes as globals, and the small C-like front end that
// reads them from enum declarations in header files.
//
// The front end is the one place in the engine where failures travel as exceptions: the lexer throws a pointer
// to its message text, and the parser catches it, logs it with the file name and line, and stops that file.
// Nothing is thrown past CDefineHandlers::Process.

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

class Stream;
namespace Kestrin3D
{
namespace Interfaces
{
class IDefineHandlers;
}
}

// One constant. The value is read as signed unless the unsigned flag is set; a consumer that widens it to 64
// bits extends it with zeros when the flag is set and with the sign otherwise.
struct IntDefine
{
	std::string m_Name;
	bool m_bUnsigned;
	uint32_t m_uiValue;

	int32_t GetSignedValue() const { return static_cast<int32_t>(m_uiValue); }
	int64_t GetWideValue() const
	{
		return m_bUnsigned ? static_cast<int64_t>(m_uiValue) : static_cast<int64_t>(GetSignedValue());
	}
};

// The registry of constants. It only grows: no entry is ever removed or replaced, and the same name may appear
// several times; consumers receive every entry in list order.
class CDefineHandlers
{
public:
	CDefineHandlers();
	~CDefineHandlers();

	CDefineHandlers(const CDefineHandlers&) = delete;
	CDefineHandlers& operator=(const CDefineHandlers&) = delete;

	void Define(const char* szName, int iValue);
	void Define(const char* szName, unsigned uiValue);

	// Appends one signed constant per enumerator of the enum declarations in the stream. szName is used only in
	// error lines. Errors are logged, never reported to the caller; constants defined before an error stay.
	void Process(Stream* pStream, const char* szName);

	const std::vector<IntDefine>& GetDefines() const { return m_Defines; }
	size_t GetCount() const { return m_Defines.size(); }

	// The plug-in view of the registry; null until a module first asks for it.
	Kestrin3D::Interfaces::IDefineHandlers* GetModuleInterface() const { return m_pModuleInterface; }
	void SetModuleInterface(Kestrin3D::Interfaces::IDefineHandlers* pInterface) { m_pModuleInterface = pInterface; }

private:
	Kestrin3D::Interfaces::IDefineHandlers* m_pModuleInterface;
	std::vector<IntDefine> m_Defines;
};

// Token kinds. A single-character token's kind is the character code itself (1 to 255); 0 is the end of input.
enum eTokenKind
{
	TK_IDENTIFIER = 256,
	TK_STRING_LITERAL,
	TK_INTEGER,
	TK_FLOAT,
	// Keywords, in the order of the keyword table.
	TK_BASE,
	TK_DELETE,
	TK_SWITCH,
	TK_IF,
	TK_ELSE,
	TK_WHILE,
	TK_BREAK,
	TK_FOR,
	TK_DO,
	TK_NULL,
	TK_FOREACH,
	TK_IN,
	TK_LET,
	TK_CLONE,
	TK_FUNCTION,
	TK_RETURN,
	TK_TYPEOF,
	TK_CONTINUE,
	TK_YIELD,
	TK_TRY,
	TK_CATCH,
	TK_THROW,
	TK_RESUME,
	TK_CASE,
	TK_DEFAULT,
	TK_THIS,
	TK_CLASS,
	TK_EXTENDS,
	TK_CONSTRUCTOR,
	TK_INSTANCEOF,
	TK___LINE__,
	TK___FILE__,
	TK_TRUE,
	TK_FALSE,
	TK_STATIC,
	TK_ENUM,
	TK_CONST,
	TK_RAWCALL,
	TK_END,
	// Operators of two or three characters.
	TK_EQ,
	TK_NE,
	TK_LE,
	TK_GE,
	TK_AND,
	TK_OR,
	TK_NEWSLOT,
	TK_PLUSEQ,
	TK_MINUSEQ,
	TK_SHIFTL,
	TK_SHIFTR,
	TK_DOUBLE_COLON,
	TK_PLUSPLUS,
	TK_MINUSMINUS,
	TK_3WAYSCMP,
	TK_USHIFTR,
	TK_VARPARAMS,
	TK_MULEQ,
	TK_DIVEQ,
	TK_MODEQ,
	TK_ATTR_OPEN,
	TK_ATTR_CLOSE,
	TK_LAST_PLUS_ONE,
};

constexpr int TK_FIRST_NAMED = TK_IDENTIFIER;
constexpr int TK_NAMED_COUNT = TK_LAST_PLUS_ONE - TK_FIRST_NAMED;
constexpr int TK_KEYWORD_COUNT = TK_END - TK_BASE + 1;
static_assert(TK_KEYWORD_COUNT == 39, "one kind per keyword");

// Display names of the named kinds, indexed by kind - TK_FIRST_NAMED; used in error messages.
extern const char* const rgpszTokens[TK_NAMED_COUNT];

// Tokenizer over an in-memory text. Every failure goes through Error, which throws a pointer to its message.
class CLexer
{
public:
	enum
	{
		// The token text buffer: 255 bytes and a terminator.
		TOKEN_BUFFER_SIZE = 256,
		ERROR_BUFFER_SIZE = 512,
	};

	// The text must stay valid for the lexer's life; szSourceName only appears in messages.
	CLexer(const char* pText, size_t Length, const char* szSourceName);

	CLexer(const CLexer&) = delete;
	CLexer& operator=(const CLexer&) = delete;

	// The kind of the next token (0 at the end of input), with its string, integer or float value where it has one.
	int Lex();

	// Formats into one static 512-byte buffer (longer messages are cut) and throws a pointer to that text.
	[[noreturn]] static void Error(const char* szFormat, ...) __attribute__((format(printf, 1, 2)));

	const char* GetSourceName() const { return m_szSourceName; }
	int GetCurrentLine() const { return m_iCurrentLine; }
	int GetLastTokenLine() const { return m_iLastTokenLine; }
	void SetLastTokenLine(int iLine) { m_iLastTokenLine = iLine; }
	int GetToken() const { return m_iCurrentToken; }
	int GetPreviousToken() const { return m_iPreviousToken; }

	// The text of the last identifier, string or number (zero-terminated; a string may hold zero bytes, see
	// GetTokenLength).
	const char* GetString() const { return m_szTokenText; }
	size_t GetTokenLength() const { return m_TokenLength; }
	int32_t GetInteger() const { return m_iInteger; }
	float GetFloat() const { return m_fFloat; }

	// The display name of a named kind, or null for a single character.
	static const char* GetKindName(int iKind);

private:
	void Next();
	char PeekNext() const;
	void Append(char c);
	void BeginToken() { m_TokenLength = 0; m_szTokenText[0] = '\0'; }
	void EndToken() { m_szTokenText[m_TokenLength] = '\0'; }

	int LexToken();
	void SkipLineComment();
	void SkipBlockComment();
	int ReadWord();
	int ReadNumber();
	int ReadString(int iQuote, bool bVerbatim);
	void ReadEscape();
	void ProcessStringHexEscape(char* pDigits, int iMaxDigits);
	void AppendUTF8(uint32_t uiCodePoint);

	const char* m_pStart;
	const char* m_pCurrent;
	size_t m_Length;
	size_t m_Remaining;
	const char* m_szSourceName;
	unsigned char m_ucCurrent;
	int m_iCurrentLine;
	int m_iLastTokenLine;
	int m_iCurrentToken;
	int m_iPreviousToken;
	char m_szTokenText[TOKEN_BUFFER_SIZE];
	size_t m_TokenLength;
	int32_t m_iInteger;
	float m_fFloat;
	// Keyword text per kind from TK_IDENTIFIER to TK_END; null for the value kinds.
	const char* m_rgpszKeywords[TK_END - TK_IDENTIFIER + 1];
};

// Reads enum declarations and defines one constant per enumerator. Lives for one file.
class CSourceCodeParser
{
public:
	CSourceCodeParser();

	CSourceCodeParser(const CSourceCodeParser&) = delete;
	CSourceCodeParser& operator=(const CSourceCodeParser&) = delete;

	// Adds or updates a type name usable after "enum Name :". Size 0 marks a prefix word ("signed",
	// "unsigned") that must be followed by a further type name.
	void RegisterType(const char* szName, size_t Size);

	// Parses the whole text of the stream into pHandlers; the first error is logged as "%s(%d): %s" and ends the
	// file. Only the lexer's thrown texts are caught here.
	void Assemble(Stream* pStream, const char* szName, CDefineHandlers* pHandlers);

private:
	void Parse(CDefineHandlers* pHandlers);
	void ParseEnumBody(CDefineHandlers* pHandlers, int& iToken);
	void ScanType(int& iToken);
	void Expect(int& iToken, int iKind);
	[[noreturn]] void Unexpected(int iKind);

	CLexer* m_pLexer;
	std::unordered_map<std::string, size_t> m_Types;
	std::unordered_map<std::string, int32_t> m_Enumerators;
};
