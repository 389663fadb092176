// libFuzzer: arbitrary bytes as a history file, loaded and then written into.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "market/history.h"
#include "platform/files.h"

namespace {

const std::string& Dir() {
    static std::string dir = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "tessaro-fuzz-XXXXXX").string();
        char* p = ::mkdtemp(pattern.data());
        return std::string(p ? p : "/tmp");
    }();
    return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tessaro;
    std::string path = Dir() + "/f.day";
    if (!WriteFileAtomic(path, std::span<const uint8_t>(data, size))) return 0;
    Series series;
    std::vector<CapitalChange> changes = {{100, 1, 2}, {50, 3, 4}};
    if (!LoadHistoryFile(path, kPeriodDay, series, changes)) __builtin_trap();
    if (series.size() != size / 32) __builtin_trap();
    std::vector<ExtraDayRecord> extra;
    LoadExtraFile(path, extra);

    // Write the first bars of the input back as new bars: the result is always whole, sorted bars.
    size_t n = std::min<size_t>(series.size(), 4);
    std::vector<KLineRecord> fresh(series.bars.begin(), series.bars.begin() + static_cast<long>(n));
    const Period period = size % 3 == 0 ? kPeriodMin1 : size % 3 == 1 ? kPeriodMin5 : kPeriodDay;
    if (!WriteHistoryFile(path, period, fresh, false)) __builtin_trap();
    if (n > 0 && FileSize(path) % 32 != 0) __builtin_trap();
    MergeBars(series.bars, PrepareNewBars(period, fresh));
    return 0;
}
