// Text files written by other programs may begin with a UTF-8 byte-order mark;
// every reader of a CSV or text file skips it before looking at the first line.
#pragma once

#include <string_view>

namespace tessaro {

// The text without a leading UTF-8 byte-order mark (EF BB BF), when it has one.
inline std::string_view SkipByteOrderMark(std::string_view s) {
    if (s.size() >= 3 && s.substr(0, 3) == "\xEF\xBB\xBF") s.remove_prefix(3);
    return s;
}

}  // namespace tessaro
