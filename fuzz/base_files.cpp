// libFuzzer: arbitrary bytes as Power.pwr, finance.fin and gbbg.dat.
#include <cstdint>

#include "market/base_files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tessaro;
    ByteSpan bytes(data, size);
    PowerFile power = ParsePowerFile(bytes);
    for (const auto& [id, list] : power.exRights)
        for (const auto& r : list)
            if (!IsUsableExRights(r)) __builtin_trap();
    FinanceFile finance = ParseFinanceFile(bytes);
    for (const auto& [id, block] : finance.finance) CapitalFromFinance(block, id.market == kMarketSH ? 1 : 2);
    CapitalChangeFile gbbg = ParseCapitalChangeFile(bytes);
    if (gbbg.valid && size < 16) __builtin_trap();
    // The same bytes behind each valid header, so the parsers get past their header checks.
    for (uint32_t magic : {0u, 1u, 2u}) {
        ByteWriter w;
        if (magic == 0) w.put(kPowerMagic1).put(kPowerMagic2);
        if (magic == 1) w.put(kFinanceMagic).put(kFinanceRecordSize);
        if (magic == 2) w.bytes(std::string_view("GBBG"));
        w.bytes(bytes);
        ParsePowerFile(w.data());
        ParseFinanceFile(w.data());
        ParseCapitalChangeFile(w.data());
    }
    return 0;
}
