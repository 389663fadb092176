// The formula lexer: cuts the prepared formula text into tokens.
//
// The text it reads is the working copy (lower case, ending with ';'). Identifiers are
// classified in a fixed order: keyword, registry function (the word "stkindi" starts the
// STKINDI form instead), modifier or colour literal, formula parameter, other name. So a
// user name can never equal a reserved word. Positions are byte offsets in the text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tessaro {

enum TokenKind : int {
    kTokEnd = 0,          // end of text
    kTokParam = 1,        // formula parameter name
    kTokName = 2,         // variable, output name or a new name
    kTokFunction = 3,     // registry function
    kTokModifier = 4,     // registry modifier or colour literal
    kTokNumber = 5,
    kTokString = 6,       // '...'
    kTokQuotedRef = 7,    // "..."
    kTokStkIndi = 8,      // stkindi( ... )
    kTokAnd = 9,
    kTokOr = 10,
    kTokEq = 11,          // =
    kTokNe = 12,          // <>
    kTokLt = 13,          // <
    kTokLe = 14,          // <=
    kTokGt = 15,          // >
    kTokGe = 16,          // >=
    kTokPlus = 17,
    kTokMinus = 18,
    kTokStar = 19,
    kTokSlash = 20,
    kTokLParen = 22,
    kTokRParen = 23,
    kTokComma = 24,
    kTokSemicolon = 25,
    kTokAssign = 26,      // :=
    kTokColon = 27,       // :
    kTokLBrace = 28,      // only ever consumed as a comment opener
    kTokRBrace = 29,      // a stray '}'
};

// Longest identifier, string constant, quoted reference or STKINDI text, in bytes.
inline constexpr int kMaxTokenText = 200;
// Most digits in a number ('.' not counted).
inline constexpr int kMaxNumberDigits = 30;

// True for the kinds that may begin an operand.
bool IsOperandStart(int kind);

struct Token {
    int kind = kTokEnd;
    std::string text;     // identifiers and the contents of strings, references, STKINDI; "" otherwise
    float value = 0;      // numbers
    int position = 0;     // byte offset of the token's first byte
    int length = 0;       // bytes
    int entry = -1;       // function or modifier: registry id; parameter: its slot; -1 otherwise
    uint32_t colour = 0;  // colour literal value (entry == -1 for a kTokModifier literal)
    uint8_t modifierClass = 0;  // kTokModifier: 1 style, 2 width, 4 colour
    uint32_t modifierValue = 0;

    int end() const { return position + length; }
};

// A failure found while reading or parsing: the code, its text arguments and the place in
// the text being read. The compiler turns it into a CompileError with the user's position.
struct SyntaxFault {
    int code;
    int position;
    int length;
    std::string arg0;
    std::string arg1;
};

class Lexer {
public:
    // `params` are the formula's parameter names (GBK); an identifier equal to one of them
    // (case-insensitive) is a parameter token whose entry is its slot.
    Lexer(std::string_view text, const std::vector<std::string>* params);

    // Reads the next token into token(). Returns 0, or -2 at the end of the text.
    // Throws SyntaxFault on a malformed token.
    int NextToken();

    const Token& token() const { return token_; }
    size_t position() const { return pos_; }
    void Reset(size_t pos = 0) { pos_ = pos; }
    std::string_view text() const { return text_; }

private:
    void SkipBlanksAndComments();
    void ReadIdentifier();
    void ReadNumber();
    void ReadDelimited(char close, int kind, int unterminatedCode);
    void ReadStkIndi(size_t start);
    void Classify();
    [[noreturn]] void Fail(int code, size_t start, size_t length, std::string arg0 = {}) const;
    // Bytes taken by the character at i: 2 for a GBK double-byte character, else 1.
    size_t CharBytes(size_t i) const;

    std::string_view text_;
    const std::vector<std::string>* params_;
    size_t pos_ = 0;
    Token token_;
};

}  // namespace tessaro
