// Formula files (.fml): the three files in base/ and every imported or exported file.
//
// Layout: magic 0x464F5201, record count N, N record offsets, then the records in the
// layout of WriteFormulaRecord. Every formula file is untrusted (download.fml comes from the
// server, imported files from anywhere): the header and the offset table must be whole, each
// record is read within the file's bytes only, and a record that is cut short or hostile is
// skipped while the others still load.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "formula/compiled_formula.h"
#include "platform/bytes.h"

namespace tessaro {

inline constexpr uint32_t kFmlMagic = 0x464F5201;  // bytes 01 52 4F 46

struct FmlParseResult {
    bool valid = false;                  // a readable header with the right magic and offset table
    uint32_t declared = 0;               // the record count the header announces
    std::vector<FormulaRecord> records;  // the records read whole, in offset-table order
    uint32_t skipped = 0;                // records that were cut short, out of bounds or hostile
};

// Parses a whole file image. A count of 0 (or below 1 as a signed value) is a valid, empty
// file. A record is skipped when it cannot be read within the file, names no formula or has
// a type the system does not know.
FmlParseResult ParseFmlImage(ByteSpan image);

// The file image of `records`, in order.
Bytes WriteFmlImage(std::span<const FormulaRecord> records);

// Writes the file through a temporary file and a rename; false (old file untouched) on error.
bool WriteFmlFile(const std::string& path, std::span<const FormulaRecord> records);

// The checksum by which the server session tells whether download.fml changed.
uint32_t FmlChecksum(ByteSpan image);

// The program's built-in formula image is stored with byte i rotated left by (i mod 8) bits.
Bytes DecodeBuiltInImage(ByteSpan stored);
Bytes EncodeBuiltInImage(ByteSpan plain);

}  // namespace tessaro
