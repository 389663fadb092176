#include "formula/standard_library.h"

#include <charconv>
#include <cmath>

#include "formula/compiler.h"
#include "formula/fml_file.h"
#include "formula/formula_management_editor.h"
#include "formula/formula_set.h"
#include "platform/text.h"

namespace tessaro {
namespace {

std::vector<std::string_view> SplitWords(std::string_view s) {
    std::vector<std::string_view> words;
    size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
        size_t start = i;
        while (i < s.size() && s[i] != ' ' && s[i] != '\t') ++i;
        if (i > start) words.push_back(s.substr(start, i - start));
    }
    return words;
}

bool ParseUnsigned(std::string_view s, uint32_t& out) {
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    return ec == std::errc() && end == s.data() + s.size();
}

}  // namespace

bool ParseLibraryText(std::string_view utf8, FormulaRecord& out, std::string& error) {
    out = FormulaRecord{};
    out.sourceOrigin = kSourceCommon;
    bool sawName = false, sawType = false, sawText = false;
    std::string comment;
    size_t pos = 0;
    while (pos < utf8.size()) {
        size_t eol = utf8.find('\n', pos);
        std::string_view line = utf8.substr(pos, eol == std::string_view::npos ? std::string_view::npos : eol - pos);
        pos = eol == std::string_view::npos ? utf8.size() : eol + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (TrimAscii(line) == "---") {
            // The formula text keeps its own line breaks, as the editor would save them.
            std::string text;
            for (std::string_view rest = utf8.substr(pos); !rest.empty();) {
                size_t nl = rest.find('\n');
                std::string_view l = rest.substr(0, nl);
                if (!l.empty() && l.back() == '\r') l.remove_suffix(1);
                text.append(l);
                if (nl == std::string_view::npos) break;
                text += "\r\n";
                rest.remove_prefix(nl + 1);
            }
            out.source = Utf8ToGbk(TrimAscii(text));
            sawText = !out.source.empty();
            break;
        }
        std::string_view trimmed = TrimAscii(line);
        if (trimmed.empty() || trimmed.front() == '#') continue;
        size_t colon = trimmed.find(':');
        if (colon == std::string_view::npos) {
            error = "a header line without ':': " + std::string(trimmed);
            return false;
        }
        std::string_view key = TrimAscii(trimmed.substr(0, colon));
        std::string_view value = TrimAscii(trimmed.substr(colon + 1));
        if (key == "name") {
            std::string gbk = Utf8ToGbk(value);
            if (gbk.empty() || gbk.size() > static_cast<size_t>(kMaxFormulaNameLength)) {
                error = "the name must have 1 to 15 bytes";
                return false;
            }
            out.setName(gbk);
            sawName = true;
        } else if (key == "type") {
            uint32_t t = 0;
            if (!ParseUnsigned(value, t) || !IsTextFormulaType(t) || t == kFormulaInternal) {
                error = "type must be 0, 1, 3, 4 or 5";
                return false;
            }
            out.type = t;
            sawType = true;
        } else if (key == "group") {
            out.group = Utf8ToGbk(value);
        } else if (key == "description") {
            out.description = Utf8ToGbk(value);
        } else if (key == "param") {
            std::vector<std::string_view> w = SplitWords(value);
            if (w.size() != 4) {
                error = "param needs NAME DEFAULT MIN MAX";
                return false;
            }
            if (out.params.size() >= static_cast<size_t>(kMaxFormulaParams)) {
                error = "more than 64 parameters";
                return false;
            }
            std::vector<ParamRow> rows;
            for (const FormulaParam& p : out.params)
                rows.push_back(ParamRow{GbkToUtf8(p.nameText()), "0", "0", "0"});
            rows.push_back(ParamRow{std::string(w[0]), std::string(w[1]), std::string(w[2]), std::string(w[3])});
            ParamCheck check = CheckParamRows(rows);
            if (!check.error.empty()) {
                error = check.error;
                return false;
            }
            out.params.push_back(check.params.back());
        } else if (key == "lines") {
            std::optional<CoordinateLines> lines = ParseCoordinateLines(value);
            if (!lines) {
                error = "bad coordinate lines";
                return false;
            }
            out.coordinateCount = lines->count;
            for (size_t i = 0; i < kMaxCoordinateLines; ++i) out.coordinates[i] = lines->values[i];
        } else if (key == "period") {
            uint32_t p = 0;
            if (!ParseUnsigned(value, p) || p < 2 || p > 14) {
                error = "period must be 2 to 14";
                return false;
            }
            out.defaultPeriod = p;
        } else if (key == "comment") {
            if (!comment.empty()) comment += "\r\n";
            comment += value;
        } else {
            error = "unknown key '" + std::string(key) + "'";
            return false;
        }
    }
    if (!sawName || !sawType || !sawText) {
        error = "name, type and a formula text after '---' are required";
        return false;
    }
    out.comment = Utf8ToGbk(comment);
    return true;
}

LibraryBuild BuildStandardLibrary() {
    LibraryBuild build;
    for (size_t i = 0; i < kEmbeddedFormulaTextCount; ++i) {
        const EmbeddedFormulaText& t = kEmbeddedFormulaTexts[i];
        std::string_view text(reinterpret_cast<const char*>(t.data), t.size);
        FormulaRecord r;
        std::string error;
        if (!ParseLibraryText(text, r, error)) {
            build.errors.push_back(std::string(t.file) + ": " + error);
            continue;
        }
        bool namesake = false;
        for (const FormulaRecord& have : build.formulas)
            namesake = namesake || (SameFormulaTypeClass(have.type, r.type) && EqualsNoCase(have.nameText(), r.nameText()));
        if (namesake) {
            build.errors.push_back(std::string(t.file) + ": another library formula has this name");
            continue;
        }
        CompileOptions options;
        options.lookup = LookupInRecords(&build.formulas);
        options.compileTime = kLibraryCompileTime;
        try {
            CompileFormula(r, options);
        } catch (const CompileError& e) {
            build.errors.push_back(std::string(t.file) + ": " + e.displayUtf8());
            continue;
        }
        build.formulas.push_back(std::move(r));
    }
    return build;
}

bool InstallStandardLibrary(const AppPaths& paths, std::string* error) {
    LibraryBuild build = BuildStandardLibrary();
    if (!build.errors.empty()) {
        if (error) {
            error->clear();
            for (const std::string& e : build.errors) *error += e + "\n";
        }
        return false;
    }
    const std::string path = paths.formulaFile(kSourceCommon);
    if (!WriteFmlFile(path, build.formulas)) {
        if (error) *error = "cannot write " + path;
        return false;
    }
    return true;
}

}  // namespace tessaro
