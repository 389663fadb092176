// libFuzzer target: any byte string as a formula file (.fml). The loader must never read
// outside the bytes, every record it accepts must survive a write and read back to the same
// bytes, merging into a formula set must hold, and unlocking must stay within the stored text.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "formula/fml_file.h"
#include "formula/formula_cipher.h"
#include "formula/formula_set.h"

using namespace tessaro;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ByteSpan image(data, size);
    FmlParseResult parsed = ParseFmlImage(image);
    if (!parsed.valid && !parsed.records.empty()) std::abort();
    if (parsed.valid && parsed.records.size() + parsed.skipped != parsed.declared) std::abort();
    for (const FormulaRecord& r : parsed.records) {
        if (r.nameText().empty() || !IsKnownFormulaType(r.type)) std::abort();
        if (r.params.size() > static_cast<size_t>(kMaxFormulaParams)) std::abort();
        if (r.coordinateCount > static_cast<uint32_t>(kMaxCoordinateLines)) std::abort();
        if (r.name[sizeof r.name - 1] != 0) std::abort();
        ByteWriter once;
        WriteFormulaRecord(once, r);
        ByteReader in(once.data());
        FormulaRecord back;
        if (!ReadFormulaRecord(in, back) || !in.atEnd()) std::abort();
        ByteWriter twice;
        WriteFormulaRecord(twice, back);
        if (twice.data() != once.data()) std::abort();
        // A wrong password never opens a text, and deciphering stays inside the stored bytes.
        (void)OpenFormulaText(r, "fuzz");
        if (r.type == kFormulaCombined) (void)OpenConditions(r, "fuzz");
    }
    if (parsed.valid) {
        // The whole file merged into a set, then written back as one source and read again.
        FormulaSet set;
        FmlLoadResult merged = set.ParseImage(image, kSourceUser);
        if (merged.merged != parsed.records.size()) std::abort();
        std::vector<FormulaRecord> all = set.FormulasOfSource(kSourceUser);
        Bytes rewritten = WriteFmlImage(all);
        FmlParseResult again = ParseFmlImage(rewritten);
        if (!again.valid || again.skipped != 0 || again.records.size() != all.size()) std::abort();
    }
    return 0;
}
