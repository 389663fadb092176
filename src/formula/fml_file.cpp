#include "formula/fml_file.h"

#include "platform/crc32.h"
#include "platform/files.h"
#include "platform/process_lock.h"

namespace tessaro {
namespace {

constexpr size_t kHeaderBytes = 8;

// Offsets may point anywhere, even at each other's bytes; the work spent on all records
// together stays within a few passes over the file, so a small hostile file cannot make
// the loader parse the same large record a million times.
constexpr size_t kParsePasses = 4;
constexpr size_t kParseAllowance = 64 * 1024;

bool Admissible(const FormulaRecord& r) {
    return IsKnownFormulaType(r.type) && !r.nameText().empty();
}

uint8_t RotateLeft(uint8_t b, unsigned n) {
    n &= 7;
    return n == 0 ? b : static_cast<uint8_t>((b << n) | (b >> (8 - n)));
}

uint8_t RotateRight(uint8_t b, unsigned n) { return RotateLeft(b, (8 - (n & 7)) & 7); }

}  // namespace

FmlParseResult ParseFmlImage(ByteSpan image) {
    FmlParseResult result;
    ByteReader header(image);
    uint32_t magic = header.get<uint32_t>();
    auto count = static_cast<int32_t>(header.get<uint32_t>());
    if (!header.ok() || magic != kFmlMagic) return result;
    if (count < 1) {
        result.valid = true;
        return result;
    }
    result.declared = static_cast<uint32_t>(count);
    // The offset table must be whole: a count the file cannot hold fails the file.
    if (!header.has(static_cast<size_t>(result.declared) * 4)) return result;
    result.valid = true;
    size_t budget = kParsePasses * image.size() + kParseAllowance;
    for (uint32_t i = 0; i < result.declared; ++i) {
        uint32_t offset = LoadLE<uint32_t>(image.data() + kHeaderBytes + 4 * static_cast<size_t>(i));
        if (budget == 0 || offset < kHeaderBytes || offset >= image.size()) {
            ++result.skipped;
            continue;
        }
        ByteReader in(image.subspan(offset));
        FormulaRecord r;
        bool whole = ReadFormulaRecord(in, r);
        // A failed read stops where it failed, having copied only what it read before.
        size_t spent = in.pos() + 1;
        budget = spent >= budget ? 0 : budget - spent;
        if (!whole || !Admissible(r)) {
            ++result.skipped;
            continue;
        }
        result.records.push_back(std::move(r));
    }
    return result;
}

Bytes WriteFmlImage(std::span<const FormulaRecord> records) {
    ByteWriter out;
    out.put<uint32_t>(kFmlMagic);
    out.put<uint32_t>(static_cast<uint32_t>(records.size()));
    size_t table = out.size();
    out.zeros(4 * records.size());
    for (size_t i = 0; i < records.size(); ++i) {
        out.patch<uint32_t>(table + 4 * i, static_cast<uint32_t>(out.size()));
        WriteFormulaRecord(out, records[i]);
    }
    return out.take();
}

bool WriteFmlFile(const std::string& path, std::span<const FormulaRecord> records) {
    Bytes image = WriteFmlImage(records);
    return CreateDirectories(path) && WriteFileLocked(path, image);
}

uint32_t FmlChecksum(ByteSpan image) { return Crc32(image); }

Bytes DecodeBuiltInImage(ByteSpan stored) {
    Bytes out(stored.begin(), stored.end());
    for (size_t i = 0; i < out.size(); ++i) out[i] = RotateRight(out[i], static_cast<unsigned>(i % 8));
    return out;
}

Bytes EncodeBuiltInImage(ByteSpan plain) {
    Bytes out(plain.begin(), plain.end());
    for (size_t i = 0; i < out.size(); ++i) out[i] = RotateLeft(out[i], static_cast<unsigned>(i % 8));
    return out;
}

}  // namespace tessaro
