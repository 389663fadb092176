#include "player/ini_text.h"

#include "player/value_convert.h"

#include <vector>

namespace zuvo {

namespace {

struct Line {
    std::string_view body;  // without the line ending
    std::string_view end;   // "\n", "\r\n" or "" for the last line
};

std::vector<Line> SplitLines(std::string_view text) {
    std::vector<Line> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t nl = text.find('\n', pos);
        if (nl == std::string_view::npos) {
            lines.push_back({text.substr(pos), {}});
            break;
        }
        std::size_t bodyEnd = nl;
        if (bodyEnd > pos && text[bodyEnd - 1] == '\r') --bodyEnd;
        lines.push_back({text.substr(pos, bodyEnd - pos), text.substr(bodyEnd, nl + 1 - bodyEnd)});
        pos = nl + 1;
    }
    return lines;
}

std::string_view Trim(std::string_view s) {
    const char* blanks = " \t\r\n\v\f";
    const std::size_t b = s.find_first_not_of(blanks);
    if (b == std::string_view::npos) return {};
    const std::size_t e = s.find_last_not_of(blanks);
    return s.substr(b, e - b + 1);
}

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && AsciiLower(a) == AsciiLower(b);
}

// The section name of a "[name]" line, or nullopt for any other line.
std::optional<std::string_view> SectionName(std::string_view body) {
    const std::string_view t = Trim(body);
    if (t.empty() || t.front() != '[') return std::nullopt;
    const std::size_t close = t.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    return Trim(t.substr(1, close - 1));
}

// The key of a "key=value" line, or nullopt for comments and other lines.
std::optional<std::string_view> KeyName(std::string_view body) {
    const std::string_view t = Trim(body);
    if (t.empty() || t.front() == ';' || t.front() == '#') return std::nullopt;
    const std::size_t eq = body.find('=');
    if (eq == std::string_view::npos) return std::nullopt;
    return Trim(body.substr(0, eq));
}

// Index range [first, last) of the lines of `section` after its header, or nullopt.
struct SectionSpan {
    std::size_t header;
    std::size_t end;
};

std::optional<SectionSpan> FindSection(const std::vector<Line>& lines, std::string_view section) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto name = SectionName(lines[i].body);
        if (!name || !SameName(*name, section)) continue;
        std::size_t j = i + 1;
        while (j < lines.size() && !SectionName(lines[j].body)) ++j;
        return SectionSpan{i, j};
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> ReadIniValue(std::string_view text, std::string_view section, std::string_view key) {
    const std::vector<Line> lines = SplitLines(text);
    const auto span = FindSection(lines, section);
    if (!span) return std::nullopt;
    for (std::size_t i = span->header + 1; i < span->end; ++i) {
        const auto k = KeyName(lines[i].body);
        if (!k || !SameName(*k, key)) continue;
        std::string_view v = Trim(lines[i].body.substr(lines[i].body.find('=') + 1));
        if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
            v = v.substr(1, v.size() - 2);
        }
        return std::string(v);
    }
    return std::nullopt;
}

std::string WriteIniValue(std::string_view text, std::string_view section, std::string_view key,
                          std::string_view value) {
    const std::vector<Line> lines = SplitLines(text);
    const std::string_view eol = text.find("\r\n") != std::string_view::npos ? "\r\n" : "\n";
    const std::string newLine = std::string(key) + "=" + std::string(value);

    std::string out;
    out.reserve(text.size() + newLine.size() + section.size() + 8);
    const auto appendLine = [&](std::string_view body, std::string_view end) {
        out.append(body);
        out.append(end);
    };
    const auto span = FindSection(lines, section);
    if (!span) {
        for (const Line& l : lines) appendLine(l.body, l.end);
        if (!out.empty() && out.back() != '\n') out.append(eol);
        out.append("[").append(section).append("]").append(eol);
        out.append(newLine).append(eol);
        return out;
    }
    // Replace the key's line, or insert after the section's last non-blank line.
    std::size_t replaceAt = lines.size();
    std::size_t insertAfter = span->header;
    for (std::size_t i = span->header + 1; i < span->end; ++i) {
        const auto k = KeyName(lines[i].body);
        if (k && SameName(*k, key)) {
            replaceAt = i;
            break;
        }
        if (!Trim(lines[i].body).empty()) insertAfter = i;
    }
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i == replaceAt) {
            appendLine(newLine, lines[i].end.empty() ? eol : lines[i].end);
            continue;
        }
        const bool insertHere = replaceAt == lines.size() && i == insertAfter;
        appendLine(lines[i].body, (insertHere && lines[i].end.empty()) ? eol : lines[i].end);
        if (insertHere) out.append(newLine).append(eol);
    }
    return out;
}

}  // namespace zuvo
