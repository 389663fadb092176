// A small INI reader/writer with the rules of the classic private-profile functions: section and
// key names match ASCII case-insensitively, values are trimmed of blanks, the first match wins, and
// a rewrite changes only the one line it sets (every other line is kept byte for byte).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zuvo {

// The value of `key` in `section`, or nullopt when the section or key is absent. Blanks around the
// value are removed, and one pair of matching quotes around it.
std::optional<std::string> ReadIniValue(std::string_view text, std::string_view section, std::string_view key);

// `text` with `key` in `section` set to `value`: the existing line is replaced, or a new line goes
// after the section's last entry, or a new section is appended. Line endings follow the text's own.
std::string WriteIniValue(std::string_view text, std::string_view section, std::string_view key,
                          std::string_view value);

}  // namespace zuvo
