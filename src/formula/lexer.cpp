#include "formula/lexer.h"

#include "formula/compile_errors.h"
#include "formula/function_registry.h"
#include "platform/text.h"

namespace tessaro {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool IsLowerLetter(char c) { return c >= 'a' && c <= 'z'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHigh(char c) { return static_cast<unsigned char>(c) > 0x80; }
bool IsGbkTrail(char c) {
    auto b = static_cast<unsigned char>(c);
    return b >= 0x40 && b <= 0xFE && b != 0x7F;
}

// Single characters and their token kinds; everything else is unknown.
int SingleCharKind(char c) {
    switch (c) {
    case '=': return kTokEq;
    case '+': return kTokPlus;
    case '-': return kTokMinus;
    case '*': return kTokStar;
    case '/': return kTokSlash;
    case '(': return kTokLParen;
    case ')': return kTokRParen;
    case ',': return kTokComma;
    case ';': return kTokSemicolon;
    case '{': return kTokLBrace;
    case '}': return kTokRBrace;
    default: return 0;
    }
}

}  // namespace

bool IsOperandStart(int kind) {
    switch (kind) {
    case kTokParam:
    case kTokName:
    case kTokFunction:
    case kTokNumber:
    case kTokString:
    case kTokQuotedRef:
    case kTokStkIndi:
    case kTokLParen: return true;
    default: return false;
    }
}

Lexer::Lexer(std::string_view text, const std::vector<std::string>* params) : text_(text), params_(params) {}

size_t Lexer::CharBytes(size_t i) const {
    if (i + 1 < text_.size() && IsGbkLead(static_cast<uint8_t>(text_[i])) && IsGbkTrail(text_[i + 1])) return 2;
    return 1;
}

void Lexer::Fail(int code, size_t start, size_t length, std::string arg0) const {
    throw SyntaxFault{code, static_cast<int>(start), static_cast<int>(length), std::move(arg0), {}};
}

void Lexer::SkipBlanksAndComments() {
    while (pos_ < text_.size()) {
        char c = text_[pos_];
        if (IsBlank(c)) {
            ++pos_;
        } else if (c == '{') {
            // A comment runs to the next '}'; one left open silently ends the text.
            size_t i = pos_ + 1;
            while (i < text_.size() && text_[i] != '}') i += CharBytes(i);
            pos_ = i < text_.size() ? i + 1 : text_.size();
        } else {
            return;
        }
    }
}

int Lexer::NextToken() {
    SkipBlanksAndComments();
    token_ = Token{};
    token_.position = static_cast<int>(pos_);
    if (pos_ >= text_.size()) {
        token_.kind = kTokEnd;
        return -2;
    }
    size_t start = pos_;
    char c = text_[pos_];
    if (IsLowerLetter(c) || IsHigh(c)) {
        ReadIdentifier();
    } else if (IsDigit(c) || c == '.') {
        ReadNumber();
    } else if (c == '\'') {
        ReadDelimited('\'', kTokString, kErrUnterminatedString);
    } else if (c == '"') {
        ReadDelimited('"', kTokQuotedRef, kErrUnterminatedRef);
    } else if (c == ':') {
        bool assign = pos_ + 1 < text_.size() && text_[pos_ + 1] == '=';
        token_.kind = assign ? kTokAssign : kTokColon;
        pos_ += assign ? 2 : 1;
    } else if (c == '<') {
        char n = pos_ + 1 < text_.size() ? text_[pos_ + 1] : 0;
        token_.kind = n == '=' ? kTokLe : n == '>' ? kTokNe : kTokLt;
        pos_ += token_.kind == kTokLt ? 1 : 2;
    } else if (c == '>') {
        bool ge = pos_ + 1 < text_.size() && text_[pos_ + 1] == '=';
        token_.kind = ge ? kTokGe : kTokGt;
        pos_ += ge ? 2 : 1;
    } else {
        int kind = SingleCharKind(c);
        if (kind == 0) Fail(kErrUnknownChar, start, 1);
        token_.kind = kind;
        ++pos_;
    }
    token_.length = static_cast<int>(pos_ - start);
    return 0;
}

void Lexer::ReadIdentifier() {
    size_t start = pos_;
    while (pos_ < text_.size()) {
        char c = text_[pos_];
        if (IsLowerLetter(c) || IsDigit(c)) {
            ++pos_;
        } else if (IsHigh(c)) {
            pos_ += CharBytes(pos_);
        } else {
            break;
        }
    }
    size_t len = pos_ - start;
    if (len > static_cast<size_t>(kMaxTokenText))
        Fail(kErrIdentifierTooLong, start, len, FormatDetail("标识符最大长度为%d个字符", kMaxTokenText));
    token_.text.assign(text_.substr(start, len));
    if (token_.text == "stkindi") {
        ReadStkIndi(start);
        return;
    }
    Classify();
}

void Lexer::Classify() {
    const std::string& word = token_.text;
    if (word == "and") {
        token_.kind = kTokAnd;
        return;
    }
    if (word == "or") {
        token_.kind = kTokOr;
        return;
    }
    if (int id = FindFunction(word); id >= 0) {
        token_.kind = kTokFunction;
        token_.entry = id;
        return;
    }
    if (int id = FindModifier(word); id >= 0) {
        const FunctionInfo* info = FunctionById(id);
        token_.kind = kTokModifier;
        token_.entry = id;
        token_.modifierClass = info ? info->category : 0;
        token_.modifierValue = info ? info->value : 0;
        return;
    }
    if (int64_t colour = ParseColourLiteral(word); colour >= 0) {
        token_.kind = kTokModifier;
        token_.modifierClass = kModifierColour;
        token_.modifierValue = static_cast<uint32_t>(colour);
        token_.colour = static_cast<uint32_t>(colour);
        return;
    }
    if (params_) {
        for (size_t i = 0; i < params_->size(); ++i) {
            if (EqualsNoCase((*params_)[i], word)) {
                token_.kind = kTokParam;
                token_.entry = static_cast<int>(i);
                return;
            }
        }
    }
    token_.kind = kTokName;
}

void Lexer::ReadNumber() {
    size_t start = pos_;
    float value = 0;
    int digits = 0;
    auto countDigit = [&] {
        if (++digits > kMaxNumberDigits) {
            while (pos_ < text_.size() && IsDigit(text_[pos_])) ++pos_;
            Fail(kErrTooManyDigits, start, pos_ - start, std::to_string(kMaxNumberDigits));
        }
    };
    while (pos_ < text_.size() && IsDigit(text_[pos_])) {
        countDigit();
        value = value * 10.0f + static_cast<float>(text_[pos_] - '0');
        ++pos_;
    }
    if (pos_ < text_.size() && text_[pos_] == '.') {
        ++pos_;
        float scale = 0.1f;
        while (pos_ < text_.size() && IsDigit(text_[pos_])) {
            countDigit();
            value += static_cast<float>(text_[pos_] - '0') * scale;
            scale *= 0.1f;
            ++pos_;
        }
    }
    token_.kind = kTokNumber;
    token_.value = value;
}

void Lexer::ReadDelimited(char close, int kind, int unterminatedCode) {
    size_t start = pos_;
    size_t i = pos_ + 1;
    while (i < text_.size() && text_[i] != close) i += CharBytes(i);
    if (i >= text_.size()) Fail(unterminatedCode, start, text_.size() - start);
    size_t len = i - start - 1;
    if (len > static_cast<size_t>(kMaxTokenText))
        Fail(kErrTextTooLong, start, i + 1 - start, FormatDetail(",最大允许值是%d", kMaxTokenText));
    token_.kind = kind;
    token_.text.assign(text_.substr(start + 1, len));
    pos_ = i + 1;
}

void Lexer::ReadStkIndi(size_t start) {
    // "stkindi", optional blanks, '(' and everything up to the next ')'.
    size_t i = pos_;
    while (i < text_.size() && IsBlank(text_[i])) ++i;
    if (i >= text_.size() || text_[i] != '(') Fail(kErrStkIndiFormat, start, pos_ - start);
    size_t open = i;
    size_t j = open + 1;
    while (j < text_.size() && text_[j] != ')') j += CharBytes(j);
    if (j >= text_.size()) Fail(kErrUnterminatedRef, start, text_.size() - start);
    size_t len = j - open - 1;
    if (len > static_cast<size_t>(kMaxTokenText))
        Fail(kErrTextTooLong, start, j + 1 - start, FormatDetail(",最大允许值是%d", kMaxTokenText));
    token_.kind = kTokStkIndi;
    token_.text.assign(text_.substr(open + 1, len));
    pos_ = j + 1;
}

}  // namespace tessaro
