#include "player/window_config.h"

#include "player/file_io.h"
#include "player/ini_text.h"
#include "player/value_convert.h"

#include <limits>

namespace zuvo {

namespace {

constexpr const char* kSection = "default";
constexpr std::size_t kMaxValueChars = 64;

}  // namespace

int ConfigSizeValue(std::string_view fileText, const char* key, int fallback) {
    const std::optional<std::string> value = ReadIniValue(fileText, kSection, key);
    if (!value || value->empty()) return fallback;
    const std::uint32_t n = ParseUnsignedDecimal(std::string_view(*value).substr(0, kMaxValueChars));
    constexpr std::uint32_t kMaxInt = std::numeric_limits<int>::max();
    return static_cast<int>(n > kMaxInt ? kMaxInt : n);
}

WindowSize LoadWindowSize(const std::string& path) {
    WindowSize size;
    if (path.empty()) return size;
    const FileText file = ReadSmallFile(path);
    if (file.status != ReadStatus::Ok) return size;
    size.width = ConfigSizeValue(file.text, "width", size.width);
    size.height = ConfigSizeValue(file.text, "height", size.height);
    return size;
}

bool SaveWindowSize(const std::string& path, WindowSize size, const std::vector<std::string>& roots) {
    if (path.empty()) return false;
    FileText file = ReadSmallFile(path);
    if (file.status == ReadStatus::Failed) return false;
    std::string text = WriteIniValue(file.text, kSection, "width", std::to_string(size.width));
    text = WriteIniValue(text, kSection, "height", std::to_string(size.height));
    return WriteFileAtomically(path, text, roots);
}

}  // namespace zuvo
