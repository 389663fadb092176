#include "player/link_parser.h"

#include "player/value_convert.h"

#include <algorithm>

namespace zuvo {

namespace {

constexpr std::string_view kLinkSwitch = "-zuvopurl ";
constexpr std::string_view kScheme = "zuvop2p://";
constexpr std::string_view kOrEscape = "<or>";

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::string ReplaceAll(std::string text, std::string_view from, std::string_view to) {
    for (std::size_t pos = text.find(from); pos != std::string::npos; pos = text.find(from, pos + to.size())) {
        text.replace(pos, from.size(), to);
    }
    return text;
}

}  // namespace

const char* PropertyKindName(PropertyKind kind) {
    switch (kind) {
        case PropertyKind::Flag: return "flag";
        case PropertyKind::Text: return "text";
        case PropertyKind::CountedText: return "counted";
        case PropertyKind::Number: return "number";
    }
    return "?";
}

const std::vector<LinkParameter>& LinkParameters() {
    using K = PropertyKind;
    static const std::vector<LinkParameter> params = {
        {0, "autosize", K::Flag},           {1, "nat", K::CountedText},
        {2, "stun", K::Text},               {3, "cgi", K::CountedText},
        {4, "action", K::CountedText},      {5, "playmode", K::Text},
        {6, "fullscreen", K::Flag},         {7, "autoplay", K::Flag},
        {8, "bufferad", K::Text},           {9, "autochatpop", K::Flag},
        {10, "enablechat", K::Flag},        {11, "enablenamecookie", K::Flag},
        {12, "cookieformat", K::Text},      {13, "position", K::Number},
        {14, "volume", K::Number},          {15, "mute", K::Flag},
        {16, "statestring", K::Text},       {17, "duration", K::Number},
        {18, "curplay", K::Number},         {19, "enablecontextmenu", K::Flag},
        {20, "startdelay", K::Number},      {21, "stopad", K::Text},
        {22, "buffertime", K::Number},      {23, "flvplayer", K::Text},
        {24, "infostring", K::Text},        {25, "orgsize", K::Flag},
        {26, "enablecachedata", K::Flag},   {27, "defaultdls", K::Number},
        {28, "defaultuls", K::Number},      {29, "lockfullscreen", K::Flag},
        {30, "autofullscreen", K::Flag},    {31, "enableplaylist", K::Flag},
        {32, "enablecontrolbar", K::Flag},  {33, "usersession", K::Text},
        {34, "trackpeernums", K::Number},   {35, "maxconnectpeers", K::Number},
        {36, "fulldatatime", K::Number},    {37, "adappend", K::Text},
        {38, "enablenetdatadisplay", K::Flag}, {39, "statusbardisplay", K::Text},
        {40, "memorysize", K::Number},      {41, "pausedad", K::Text},
        {42, "enableshowabout", K::Flag},
    };
    return params;
}

const LinkParameter* FindLinkParameter(std::string_view lowerName) {
    // Sorted by name once, like the ordered map it stands for.
    static const std::vector<const LinkParameter*> byName = [] {
        std::vector<const LinkParameter*> v;
        for (const LinkParameter& p : LinkParameters()) v.push_back(&p);
        std::sort(v.begin(), v.end(), [](const LinkParameter* a, const LinkParameter* b) {
            return std::string_view(a->name) < b->name;
        });
        return v;
    }();
    const auto nameLess = [](const LinkParameter* p, std::string_view n) { return std::string_view(p->name) < n; };
    auto it = std::lower_bound(byName.begin(), byName.end(), lowerName, nameLess);
    if (it != byName.end() && (*it)->name == lowerName) return *it;
    return nullptr;
}

std::optional<std::string> ExtractLink(std::string_view commandLine) {
    const std::size_t pos = commandLine.find(kLinkSwitch);
    if (pos == std::string_view::npos) return std::nullopt;
    return std::string(commandLine.substr(pos + kLinkSwitch.size()));
}

std::string PercentDecodeLink(std::string_view link) {
    // One unit per output byte; escaped bytes remember their source text so that a byte which does
    // not fit into valid UTF-8 can be put back exactly as written.
    struct Unit {
        unsigned char byte;
        bool escaped;
        std::size_t from;  // position of the "%" when escaped
    };
    std::vector<Unit> units;
    units.reserve(link.size());
    for (std::size_t i = 0; i < link.size(); ++i) {
        if (link[i] == '%') {
            // A "%" with fewer than two characters after it fails the whole decoding: the link is
            // used as it was received, escapes and all (nothing is cut, nothing read past the end).
            if (link.size() - i < 3) {
                units.clear();
                for (std::size_t k = 0; k < link.size(); ++k) {
                    units.push_back({static_cast<unsigned char>(link[k]), false, k});
                }
                break;
            }
            const int hi = HexDigit(link[i + 1]);
            const int lo = HexDigit(link[i + 2]);
            if (hi >= 0 && lo >= 0 && (hi | lo) != 0) {
                units.push_back({static_cast<unsigned char>(hi * 16 + lo), true, i});
                i += 2;
                continue;
            }
        }
        units.push_back({static_cast<unsigned char>(link[i]), false, i});
    }
    std::string bytes;
    bytes.reserve(units.size());
    for (const Unit& u : units) bytes.push_back(static_cast<char>(u.byte));

    std::string out;
    out.reserve(link.size());
    for (std::size_t pos = 0; pos < bytes.size();) {
        const std::size_t len = Utf8SequenceLength(bytes, pos);
        if (len > 0) {
            out.append(bytes, pos, len);
            pos += len;
            continue;
        }
        const Unit& u = units[pos];
        if (u.escaped) {
            out.append(link.substr(u.from, 3));  // keep the escape as written
        } else {
            out.append("\xEF\xBF\xBD");          // invalid raw input: U+FFFD, as any UTF-8 reader would
        }
        ++pos;
    }
    return out;
}

PropertyValue ConvertValue(PropertyKind kind, std::string_view value) {
    switch (kind) {
        case PropertyKind::Flag: return ParseFlag(value);
        case PropertyKind::Number: return ParseUnsignedDecimal(value);
        case PropertyKind::Text:
        case PropertyKind::CountedText: break;
    }
    return std::string(value);
}

std::optional<ParsedLink> ParseDecodedLink(std::string_view link) {
    // Two copies with the same byte positions: lower case for names and the scheme, as received for
    // values. Only ASCII letters are folded so that the positions always agree.
    const std::string lower = AsciiLower(link);
    const std::size_t scheme = lower.find(kScheme);
    if (scheme == std::string::npos) return std::nullopt;

    ParsedLink parsed;
    std::size_t pos = scheme + kScheme.size();
    while (pos < link.size()) {
        const std::size_t eq = lower.find('=', pos);
        if (eq == std::string::npos) break;  // trailing text without "=" is ignored
        // A token without "=" ends at its "|" and is skipped on its own; it must not take the
        // next pair's name into its own.
        if (const std::size_t bar = lower.find('|', pos); bar < eq) {
            pos = bar + 1;
            continue;
        }
        const std::string name = lower.substr(pos, eq - pos);
        const std::size_t bar = lower.find('|', eq + 1);
        const std::size_t valueEnd = bar == std::string::npos ? link.size() : bar;
        std::string value = ReplaceAll(std::string(link.substr(eq + 1, valueEnd - eq - 1)), kOrEscape, "|");
        pos = bar == std::string::npos ? link.size() : bar + 1;

        const LinkParameter* param = FindLinkParameter(name);
        if (!param) continue;
        if (param->kind == PropertyKind::CountedText) ++parsed.countedParameters;
        parsed.assignments.push_back({name, param->kind, ConvertValue(param->kind, value)});
    }
    return parsed;
}

std::optional<ParsedLink> ParseCommandLine(std::string_view commandLine) {
    const std::optional<std::string> link = ExtractLink(commandLine);
    if (!link) return std::nullopt;
    return ParseDecodedLink(PercentDecodeLink(*link));
}

}  // namespace zuvo
