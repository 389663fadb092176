// libFuzzer: arbitrary bytes as a block file (.blk) and as blockfmt.opp. A parsed block
// never holds more members than the bytes can, and writes back to a file that parses to
// the same setting and members.
#include <cstdint>

#include "market/block_file.h"
#include "platform/bytes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tessaro;
    std::span<const uint8_t> bytes(data, size);
    for (int withMagic = 0; withMagic < 2; ++withMagic) {
        ByteWriter w;
        if (withMagic) w.put(kBlockFileMagic);
        w.bytes(bytes);
        if (auto block = ParseBlockFile(w.data())) {
            if (w.data().size() < kBlockFileHeaderSize) __builtin_trap();
            if (block->members.size() > (w.data().size() - kBlockFileHeaderSize) / 12) __builtin_trap();
            auto again = ParseBlockFile(SerializeBlockFile(*block));
            if (!again || again->setting != block->setting || again->members.size() != block->members.size())
                __builtin_trap();
        }
        ByteWriter c;
        if (withMagic) c.put(kComputedBlockMagic);
        c.bytes(bytes);
        if (auto settings = ParseComputedBlockFile(c.data()))
            if (settings->size() > c.data().size() / kComputedBlockRecordSize) __builtin_trap();
    }
    IsUsableBlockName(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
