// Turns a zuvop2p:// link on the command line into property assignments for the player control.
//
// A link looks like   -zuvopurl "zuvop2p://volume=30|playmode=Live|nat=...|cgi=...|action=..."
// Pairs are name=value separated by "|"; names are matched in lower case, values keep their case,
// "<or>" inside a value stands for a literal "|". Percent escapes are decoded before the pairs are
// split, so "%7C" separates pairs just like "|".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace zuvo {

// How a parameter's value is converted and sent.
enum class PropertyKind {
    Flag,         // boolean
    Text,         // text unchanged
    CountedText,  // text unchanged, and counted towards the start call
    Number,       // unsigned 32-bit
};

const char* PropertyKindName(PropertyKind kind);

// bool for Flag, uint32 for Number, UTF-8 text for Text and CountedText.
using PropertyValue = std::variant<bool, std::uint32_t, std::string>;

struct LinkParameter {
    int number;               // 0..42
    const char* name;         // lower case; also the control's property name
    PropertyKind kind;
};

// The 43 parameters, in number order.
const std::vector<LinkParameter>& LinkParameters();

// The parameter of a lower-case name, or nullptr when the name is not a link parameter.
const LinkParameter* FindLinkParameter(std::string_view lowerName);

struct PropertyAssignment {
    std::string name;         // lower case
    PropertyKind kind;
    PropertyValue value;
};

struct ParsedLink {
    std::vector<PropertyAssignment> assignments;  // in link order, unknown names left out
    int countedParameters = 0;                    // occurrences of nat, cgi and action
    bool callStart() const { return countedParameters > 2; }
};

// The text after the first "-zuvopurl " (case-sensitive, blank included), or nullopt when absent.
std::optional<std::string> ExtractLink(std::string_view commandLine);

// Percent-decodes a UTF-8 link. "%" with two hexadecimal digits becomes that byte; the decoded bytes
// are read as UTF-8. A "%" with fewer than two characters after it (at the very end) fails the
// decoding and the link is used exactly as received. Otherwise escapes are never allowed to lose or
// corrupt text silently, so some stay as written while the rest is decoded: a "%" not followed by two
// hex digits ("%zz"), "%00" (a NUL would cut the text short), and any escaped byte that does not
// belong to a valid UTF-8 sequence (a lone "%FF", or a GBK-encoded character).
std::string PercentDecodeLink(std::string_view link);

// Converts a value by its kind (flag, number, or unchanged text).
PropertyValue ConvertValue(PropertyKind kind, std::string_view value);

// Parses a whole command line. Returns nullopt when there is no "-zuvopurl " or no "zuvop2p://" in
// the link; otherwise the assignments in order (possibly none).
std::optional<ParsedLink> ParseCommandLine(std::string_view commandLine);

// Parses the pairs after the scheme of an already decoded link (used by ParseCommandLine).
std::optional<ParsedLink> ParseDecodedLink(std::string_view link);

}  // namespace zuvo
