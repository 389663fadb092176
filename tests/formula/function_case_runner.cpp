#include "formula/function_case_runner.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "formula/function_registry.h"
#include "platform/store_time.h"
#include "platform/text.h"

namespace tessaro::testing_cases {
namespace {

std::vector<std::string> Words(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string w;
    while (in >> w) out.push_back(w);
    return out;
}

bool ParseTime(std::string word, StoreTime& t) {
    for (char& ch : word)
        if (ch == 'T') ch = ' ';
    return ParseStoreTime(word, t);
}

bool SetColumn(Series& s, const std::string& key, const std::vector<std::string>& words, std::string& error) {
    if (s.size() < words.size()) s.resize(words.size());
    for (size_t i = 0; i < words.size(); ++i) {
        KLineRecord& b = s.bars[i];
        if (key == "time") {
            if (!ParseTime(words[i], b.time)) {
                error = "bad time " + words[i];
                return false;
            }
            continue;
        }
        float v = std::strtof(words[i].c_str(), nullptr);
        if (key == "open") b.open = v;
        else if (key == "high") b.high = v;
        else if (key == "low") b.low = v;
        else if (key == "close") b.close = v;
        else if (key == "vol") b.volume = v;
        else if (key == "amount") b.amount = v;
        else if (key == "count1") b.count1 = static_cast<uint16_t>(v);
        else if (key == "count2") b.count2 = static_cast<uint16_t>(v);
        else if (key == "capital") s.capital[i].circulating = v;
        else {
            error = "unknown column " + key;
            return false;
        }
    }
    return true;
}

class FakeData : public MarketDataSource {
public:
    explicit FakeData(const CaseBlock& block) : block_(block) {}
    const Series* IndexSeries(const CodeEntry&, Period) override { return block_.hasIndex ? &block_.index : nullptr; }
    std::optional<double> QuoteFieldValue(const CodeEntry&, int) override { return std::nullopt; }
    bool LoadFinance(const CodeEntry&, FinanceBlock&) override { return false; }

private:
    const CaseBlock& block_;
};

// ---- a small expression reader for the cases ------------------------------------------

class Reader {
public:
    Reader(CaseBlock& block, const std::string& text, FunctionContext& ctx) : block_(block), text_(text), ctx_(ctx) {}

    bool Parse(FormulaValue& out, std::string& error) {
        bool ok = Or(out);
        Skip();
        if (ok && pos_ != text_.size()) fail("trailing text at " + std::to_string(pos_));
        error = error_;
        return ok && error_.empty();
    }

private:
    void Skip() {
        while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) ++pos_;
    }
    bool Accept(const char* token) {
        Skip();
        size_t n = std::strlen(token);
        if (text_.compare(pos_, n, token) != 0) return false;
        // Word operators must end at a word boundary.
        if (std::isalpha(static_cast<unsigned char>(token[0])) && pos_ + n < text_.size() &&
            std::isalnum(static_cast<unsigned char>(text_[pos_ + n])))
            return false;
        pos_ += n;
        return true;
    }
    bool fail(const std::string& msg) {
        if (error_.empty()) error_ = msg;
        return false;
    }
    bool Call(int id, std::vector<FormulaValue>& args, FormulaValue& out) {
        return CallFunction(id, ctx_, std::span<FormulaValue>(args), out);
    }
    bool ApplyBinary(int id, FormulaValue& lhs, FormulaValue rhs) {
        std::vector<FormulaValue> args;
        args.push_back(std::move(lhs));
        args.push_back(std::move(rhs));
        return Call(id, args, lhs);
    }

    bool Or(FormulaValue& out) {
        if (!And(out)) return false;
        while (Accept("or")) {
            FormulaValue rhs;
            if (!And(rhs) || !ApplyBinary(kOpOr, out, std::move(rhs))) return false;
        }
        return true;
    }
    bool And(FormulaValue& out) {
        if (!Compare(out)) return false;
        while (Accept("and")) {
            FormulaValue rhs;
            if (!Compare(rhs) || !ApplyBinary(kOpAnd, out, std::move(rhs))) return false;
        }
        return true;
    }
    bool Compare(FormulaValue& out) {
        if (!Sum(out)) return false;
        for (;;) {
            int id = Accept("<>") ? kOpNe : Accept(">=") ? kOpGe : Accept("<=") ? kOpLe : Accept(">") ? kOpGt
                   : Accept("<") ? kOpLt : Accept("=") ? kOpEq : 0;
            if (!id) return true;
            FormulaValue rhs;
            if (!Sum(rhs) || !ApplyBinary(id, out, std::move(rhs))) return false;
        }
    }
    bool Sum(FormulaValue& out) {
        if (!Product(out)) return false;
        for (;;) {
            int id = Accept("+") ? kOpAdd : Accept("-") ? kOpSub : 0;
            if (!id) return true;
            FormulaValue rhs;
            if (!Product(rhs) || !ApplyBinary(id, out, std::move(rhs))) return false;
        }
    }
    bool Product(FormulaValue& out) {
        if (!Unary(out)) return false;
        for (;;) {
            int id = Accept("*") ? kOpMul : Accept("/") ? kOpDiv : 0;
            if (!id) return true;
            FormulaValue rhs;
            if (!Unary(rhs) || !ApplyBinary(id, out, std::move(rhs))) return false;
        }
    }
    bool Unary(FormulaValue& out) {
        if (Accept("-")) {
            std::vector<FormulaValue> args(1);
            if (!Unary(args[0])) return false;
            return Call(kFnReverse, args, out);
        }
        return Primary(out);
    }
    bool Primary(FormulaValue& out) {
        Skip();
        if (pos_ >= text_.size()) return fail("unexpected end");
        char ch = text_[pos_];
        if (Accept("(")) {
            if (!Or(out)) return false;
            return Accept(")") || fail("missing )");
        }
        if (ch == '\'') {
            size_t end = text_.find('\'', pos_ + 1);
            if (end == std::string::npos) return fail("unterminated string");
            out = FormulaValue::String(text_.substr(pos_ + 1, end - pos_ - 1));
            pos_ = end + 1;
            return true;
        }
        if (std::isdigit(static_cast<unsigned char>(ch)) || ch == '.') {
            char* end = nullptr;
            float v = std::strtof(text_.c_str() + pos_, &end);
            pos_ = static_cast<size_t>(end - text_.c_str());
            out = FormulaValue::Number(v);
            return true;
        }
        size_t start = pos_;
        while (pos_ < text_.size() && std::isalnum(static_cast<unsigned char>(text_[pos_]))) ++pos_;
        std::string name = AsciiUpper(text_.substr(start, pos_ - start));
        if (name.empty()) return fail("unexpected character at " + std::to_string(start));
        if (name == "NAN") {
            out = FormulaValue::Number(std::nanf(""));
            return true;
        }
        if (name == "INF") {
            out = FormulaValue::Number(INFINITY);
            return true;
        }
        if (auto it = block_.named.find(name); it != block_.named.end()) {
            out = it->second.Clone();
            return true;
        }
        int id = FindFunction(name);
        if (id < 0) return fail("unknown name " + name);
        const FunctionInfo* info = FunctionById(id);
        std::vector<FormulaValue> args;
        if (Accept("(")) {
            if (!Accept(")")) {
                do {
                    args.emplace_back();
                    if (!Or(args.back())) return false;
                } while (Accept(","));
                if (!Accept(")")) return fail("missing ) after arguments of " + name);
            }
        }
        if (static_cast<int>(args.size()) != info->paramCount) return fail("wrong argument count for " + name);
        return Call(id, args, out);
    }

    CaseBlock& block_;
    const std::string& text_;
    FunctionContext& ctx_;
    size_t pos_ = 0;
    std::string error_;
};

}  // namespace

bool ParseCaseFile(const std::string& path, std::vector<CaseBlock>& out, std::string& error) {
    std::ifstream in(path);
    if (!in) {
        error = "cannot open " + path;
        return false;
    }
    std::string line;
    int lineNo = 0;
    CaseBlock* block = nullptr;
    double tolerance = 1e-5;
    while (std::getline(in, line)) {
        ++lineNo;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::string trimmed(TrimAscii(line));
        if (trimmed.empty()) {
            block = nullptr;
            continue;
        }
        if (trimmed[0] == '#') continue;
        if (!block) {
            out.emplace_back();
            block = &out.back();
            block->file = path;
            block->line = lineNo;
            tolerance = 1e-5;
        }
        std::string where = path + ":" + std::to_string(lineNo) + ": ";
        if (size_t arrow = trimmed.find("=>"); arrow != std::string::npos) {
            Expectation e;
            e.line = lineNo;
            e.expression = std::string(TrimAscii(trimmed.substr(0, arrow)));
            if (size_t at = e.expression.find('@'); at != std::string::npos) {
                e.field = std::string(TrimAscii(e.expression.substr(at + 1)));
                e.expression = std::string(TrimAscii(e.expression.substr(0, at)));
            }
            e.tolerance = tolerance;
            std::vector<std::string> words = Words(trimmed.substr(arrow + 2));
            if (words.size() == 1 && words[0] == "fail") {
                e.kind = Expectation::kFail;
            } else if (words.size() == 2 && words[0] == "const") {
                e.kind = Expectation::kConstant;
                e.points = {words[1]};
            } else {
                e.points = words;
            }
            block->expectations.push_back(std::move(e));
            continue;
        }
        size_t colon = trimmed.find(':');
        if (colon == std::string::npos) {
            error = where + "expected 'key: values' or 'expression => expected'";
            return false;
        }
        std::string key(TrimAscii(trimmed.substr(0, colon)));
        std::vector<std::string> words = Words(trimmed.substr(colon + 1));
        if (key == "class") {
            block->securityClass = static_cast<uint16_t>(std::atoi(words.empty() ? "0" : words[0].c_str()));
        } else if (key == "period") {
            block->period = PeriodFromNumber(std::atoi(words.empty() ? "8" : words[0].c_str()));
            block->series.period = block->period;
        } else if (key == "tolerance") {
            tolerance = std::atof(words.empty() ? "0" : words[0].c_str());
        } else if (key.rfind("series ", 0) == 0) {
            std::string name = AsciiUpper(TrimAscii(key.substr(7)));
            FormulaValue v = FormulaValue::MakeSeries(static_cast<int32_t>(words.size()), 0);
            int32_t begin = 0;
            for (size_t i = 0; i < words.size(); ++i) {
                if (words[i] == "-") {
                    if (static_cast<int32_t>(i) == begin) ++begin;
                    continue;
                }
                v.values[i] = words[i] == "nan" ? std::nanf("") : std::strtof(words[i].c_str(), nullptr);
            }
            v.begin = begin;
            block->named[name] = std::move(v);
        } else if (key.rfind("index-", 0) == 0) {
            block->hasIndex = true;
            if (!SetColumn(block->index, key.substr(6), words, error)) {
                error = where + error;
                return false;
            }
        } else if (!SetColumn(block->series, key, words, error)) {
            error = where + error;
            return false;
        }
    }
    return true;
}

bool EvaluateExpression(CaseBlock& block, const std::string& expression, FormulaValue& out, std::string& error) {
    FakeData data(block);
    ColumnPool pool;
    FunctionContext ctx;
    ctx.series = &block.series;
    ctx.security.securityClass = block.securityClass;
    ctx.security.id = MakeSecurityId(kMarketSH, "600000");
    ctx.period = block.period;
    ctx.data = &data;
    ctx.pool = &pool;
    Reader reader(block, expression, ctx);
    return reader.Parse(out, error);
}

std::string CheckExpectation(const Expectation& e, bool ok, const FormulaValue& value, int32_t barCount) {
    auto close = [&](float got, const std::string& want) {
        if (want == "nan") return std::isnan(got);
        if (want == "inf") return std::isinf(got) && got > 0;
        if (want == "-inf") return std::isinf(got) && got < 0;
        double w = std::strtod(want.c_str(), nullptr);
        return std::fabs(got - w) <= e.tolerance * std::max(1.0, std::fabs(w));
    };
    if (e.kind == Expectation::kFail) return ok ? "expected no result, got one" : "";
    if (!ok) return "the call had no result";
    if (!e.field.empty()) {
        if (!value.drawing) return "no drawing data for @" + e.field;
        const DrawingData& d = *value.drawing;
        auto lineField = [&](const std::string& f, double& out) {
            if (f == "kind") out = d.drawKind;
            else if (f == "icon") out = d.iconNumber;
            else if (f == "fill") out = d.iconFill;
            else if (f == "placement") out = d.textPlacement;
            else if (f == "extension") out = d.extension;
            else if (f == "arcx") out = d.arcX;
            else if (f == "arcy") out = d.arcY;
            else if (f == "radius") out = d.arcRadius;
            else return false;
            return true;
        };
        if (e.kind == Expectation::kConstant) {
            double v = 0;
            if (!lineField(e.field, v)) return "unknown line field @" + e.field;
            return close(static_cast<float>(v), e.points[0]) ? "" : "@" + e.field + " is " + std::to_string(v);
        }
        std::vector<double> points;
        if (e.field == "value2") points.assign(d.value2.begin(), d.value2.end());
        else if (e.field == "value3") points.assign(d.value3.begin(), d.value3.end());
        else if (e.field == "int1") points.assign(d.int1.begin(), d.int1.end());
        else if (e.field == "int2") points.assign(d.int2.begin(), d.int2.end());
        else return "unknown point field @" + e.field;
        if (static_cast<int32_t>(points.size()) != value.count)
            return "@" + e.field + " holds " + std::to_string(points.size()) + " points for count " + std::to_string(value.count);
        if (static_cast<int32_t>(e.points.size()) != barCount)
            return "the expectation lists " + std::to_string(e.points.size()) + " points for " + std::to_string(barCount) + " bars";
        for (int32_t i = 0; i < barCount && i < value.count; ++i) {
            if (e.points[i] == "-" || e.points[i] == "?") continue;
            if (!value.valid(i)) return "point " + std::to_string(i) + " is not valid (begin " + std::to_string(value.begin) + ")";
            // Integer fields compare exactly (a width word with bit 31 set is a large negative number).
            double want = std::strtod(e.points[i].c_str(), nullptr);
            bool same = e.field[0] == 'i' ? points[i] == want : close(static_cast<float>(points[i]), e.points[i]);
            if (!same) return "@" + e.field + " point " + std::to_string(i) + " is " + std::to_string(points[i]) + ", expected " + e.points[i];
        }
        return "";
    }
    if (e.kind == Expectation::kConstant) {
        if (!value.isNumber()) return "expected a constant, got kind " + std::to_string(value.kind);
        return close(value.number, e.points[0]) ? "" : "constant " + std::to_string(value.number);
    }
    if (!value.isSeries()) return "expected a series, got kind " + std::to_string(value.kind);
    if (value.count != barCount) return "count " + std::to_string(value.count) + " for " + std::to_string(barCount) + " bars";
    if (static_cast<int32_t>(e.points.size()) != barCount)
        return "the expectation lists " + std::to_string(e.points.size()) + " points for " + std::to_string(barCount) + " bars";
    for (int32_t i = 0; i < barCount; ++i) {
        bool wantValid = e.points[i] != "-";
        if (wantValid != value.valid(i))
            return "point " + std::to_string(i) + (wantValid ? " is not valid (begin " : " is valid (begin ") +
                   std::to_string(value.begin) + ")";
        if (wantValid && e.points[i] != "?" && !close(value.values[i], e.points[i]))
            return "point " + std::to_string(i) + " is " + std::to_string(value.values[i]) + ", expected " + e.points[i];
    }
    return "";
}

}  // namespace tessaro::testing_cases
