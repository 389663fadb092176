// Compile errors of the formula language: the numbered message table and the exception
// that ends a compilation.
//
// Every error has a code and a message template holding "%0" / "%1" placeholders for its
// text arguments. The final message is "错误%d:<template with arguments>". The exception
// carries the message (GBK, as the editor shows it) with the byte position and length of the
// offending text in the formula as the user wrote it, so the editor can select that range.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tessaro {

// The codes, by the situation that raises each. Codes 6, 13, 15, 26 and 50 are defined but
// never raised by this compiler; 51 is a capacity limit (nesting, table sizes) added here.
enum CompileErrorCode : int {
    kErrTooManyDigits = 0,         // a number of more than 30 digits
    kErrReservedAtStart = 1,       // a statement begins with anything but a new name or ';'
    kErrRedefined = 2,             // a statement name that is already defined
    kErrNoAssignment = 3,          // a statement name not followed by ':' or ':='
    kErrNotModifier = 4,           // something other than a modifier after the expression's ','
    kErrMissingSemicolon = 5,      // a statement that does not end with ';'
    kErrNotRelational = 6,         // never raised
    kErrNumberTooLarge = 7,        // a numeric operand or STKINDI argument above 1e12
    kErrExprMissingRParen = 8,     // '(' expression without ')'
    kErrMissingLParen = 9,         // a function with parameters not followed by '('
    kErrMissingRParen = 10,        // a call or reference argument list without ')'
    kErrArgCount = 11,             // wrong number of arguments
    kErrArgKind = 12,              // an argument of a wrong kind
    kErrRefNeedsLParen = 13,       // never raised
    kErrRefArgNotConstant = 14,    // a reference argument that is not a constant number
    kErrRefArgCountUnused = 15,    // never raised
    kErrUndefinedVariable = 16,    // an undefined name (or the statement's own) in an expression
    kErrUnterminatedString = 17,   // '... without its closing quote
    kErrUnterminatedRef = 18,      // "... or STKINDI text without its end
    kErrNoOutput = 19,             // no ':' statement
    kErrRefFormulaMissing = 20,    // referenced formula not found
    kErrRefFormat = 21,            // too many '$', '.' or '#' in a quoted reference
    kErrRefLineMissing = 22,       // referenced line not found
    kErrRefPeriod = 23,            // unknown period keyword after '#'
    kErrRefTooLong = 24,           // quoted reference longer than 200 characters
    kErrStringOperand = 25,        // a string constant used with an operator
    kErrMixedOperand = 26,         // never raised
    kErrOneLineOnly = 27,          // selection / colour K-line formula with other than one output
    kErrTradingName = 28,          // trading-system output with a name not allowed
    kErrNameTooLong = 29,          // statement name longer than 15 bytes
    kErrEmptyText = 30,            // empty formula text
    kErrEmptyArgument = 31,        // an empty argument position
    kErrStkIndiFormat = 32,        // "stkindi" without '(' or a malformed STKINDI text
    kErrStkIndiStock = 33,         // illegal stock in a STKINDI reference
    kErrUnknownChar = 34,          // a character the language does not know
    kErrInvalidOperand = 35,       // a token that cannot begin an operand
    kErrTextTooLong = 36,          // a string, quoted reference or STKINDI text over 200 bytes
    kErrStkIndiPeriod = 37,        // bad period in a STKINDI reference
    kErrStkIndiFormula = 38,       // bad formula part in a STKINDI reference
    kErrStkIndiArgCount = 39,      // wrong STKINDI argument count
    kErrStkIndiStockQuote = 40,    // first STKINDI item not in single quotes
    kErrStkIndiFormulaQuote = 41,  // second STKINDI item not in single quotes
    kErrIdentifierTooLong = 42,    // identifier longer than 200 bytes
    kErrRefArgCount = 43,          // referenced-formula argument count mismatch
    kErrStockRefArgs = 44,         // a stock-field reference given arguments
    kErrInternal = 45,             // internal consistency failure
    kErrTooManyUnnamed = 46,       // more than 50 unnamed statements
    kErrRefNameTooLong = 47,       // a reference's stock, formula or line name too long
    kErrEmptyRef = 48,             // empty formula part in a quoted reference
    kErrNoParamFunction = 49,      // arguments given to a parameterless function
    kErrReservedConflict = 50,     // never raised
    kErrLimit = 51,                // nesting depth or a table size beyond what the compiled form holds
};

inline constexpr int kCompileErrorCount = 52;  // codes 0..51

// The message template of `code` (UTF-8), or "" for an unknown code.
std::string_view CompileErrorTemplate(int code);

// "错误%d:" + the template with "%0"/"%1" replaced by arg0/arg1 (GBK in, GBK out). An argument
// longer than 100 bytes is cut at a character boundary. Templates whose detail slot is
// written "%s" (39, 46) take arg0 there.
std::string FormatCompileError(int code, std::string_view arg0 = {}, std::string_view arg1 = {});

// printf-style formatting of the detail texts ("最大值是%d" ...), UTF-8 template -> GBK text.
std::string FormatDetail(std::string_view utf8Template, int a);
std::string FormatDetail(std::string_view utf8Template, int a, int b);

// The exception that ends a compilation. position is a byte offset in the user's text
// (-1 when the failure has no place, as for memory exhaustion); length the bytes to select.
class CompileError : public std::runtime_error {
public:
    CompileError(int code, std::string messageGbk, int position, int length)
        : std::runtime_error(messageGbk), code_(code), message_(std::move(messageGbk)),
          position_(position), length_(length) {}

    int code() const { return code_; }
    const std::string& message() const { return message_; }  // GBK
    std::string messageUtf8() const;
    int position() const { return position_; }
    int length() const { return length_; }

    // What the editor shows: "<message>,错误位置＝<pos>,长度=<len>", or the message alone
    // when there is no position. UTF-8.
    std::string displayUtf8() const;

private:
    int code_;
    std::string message_;
    int position_;
    int length_;
};

}  // namespace tessaro
