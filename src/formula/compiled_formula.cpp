#include "formula/compiled_formula.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "formula/condition.h"

namespace tessaro {

std::string_view FormulaTypeName(uint32_t type) {
    switch (type) {
    case kFormulaSelection: return "条件选股";
    case kFormulaTradingSystem: return "交易系统";
    case kFormulaInternal:
    case kFormulaMainOverlay:
    case kFormulaSubPane: return "技术指标";
    case kFormulaColourKLine: return "五彩K线";
    case kFormulaCombined: return "条件组合";
    default: return "";
    }
}

std::string UnnamedLineName(size_t i) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%zu", i + 1);
    return Utf8ToGbk("第") + buf + Utf8ToGbk("条线");
}

std::string FormulaRecord::lineDisplayName(size_t i) const {
    if (i >= outputs.size()) return {};
    std::string_view n = outputs[i].nameText();
    return n.empty() ? UnnamedLineName(i) : std::string(n);
}

int FormulaRecord::findLine(std::string_view displayName) const {
    for (size_t i = 0; i < outputs.size(); ++i)
        if (EqualsNoCase(lineDisplayName(i), displayName)) return static_cast<int>(i);
    return -1;
}

std::string_view FormulaRecord::poolString(size_t n) const {
    std::string_view pool = stringPool;
    size_t start = 0;
    for (size_t k = 0; start <= pool.size(); ++k) {
        size_t tab = pool.find('\t', start);
        if (tab == std::string_view::npos) return {};
        if (k == n) return pool.substr(start, tab - start);
        start = tab + 1;
    }
    return {};
}

bool FormulaRecord::paramsValid() const {
    if (params.size() > static_cast<size_t>(kMaxFormulaParams)) return false;
    for (const FormulaParam& p : params) {
        if (!(p.min <= p.defaultValue && p.defaultValue <= p.max)) return false;
        if (p.nameText().size() > static_cast<size_t>(kMaxFormulaNameLength)) return false;
    }
    return true;
}

bool CompiledForm::operator==(const CompiledForm& o) const {
    auto sameBytes = [](const auto& a, const auto& b) {
        return a.size() == b.size() &&
               (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof a[0]) == 0);
    };
    return sameBytes(instructions, o.instructions) && sameBytes(outputs, o.outputs) &&
           sameBytes(references, o.references) && stringPool == o.stringPool;
}

void StoreCompiledForm(FormulaRecord& record, CompiledForm form) {
    record.instructions = std::move(form.instructions);
    record.outputs = std::move(form.outputs);
    record.references = std::move(form.references);
    record.stringPool = std::move(form.stringPool);
}

CompiledForm CompiledFormOf(const FormulaRecord& record) {
    return CompiledForm{record.instructions, record.outputs, record.references, record.stringPool};
}

namespace {

void WriteString(ByteWriter& out, std::string_view s) {
    out.put<uint32_t>(static_cast<uint32_t>(s.size()));
    out.bytes(s);
}

bool ReadString(ByteReader& in, std::string& s) {
    uint32_t n = in.get<uint32_t>();
    if (!in.ok() || !in.has(n)) return false;
    ByteSpan b = in.bytes(n);
    s.assign(reinterpret_cast<const char*>(b.data()), b.size());
    return in.ok();
}

template <class T>
void WriteArray(ByteWriter& out, const std::vector<T>& v) {
    out.put<uint32_t>(static_cast<uint32_t>(v.size()));
    for (const T& r : v) out.write(r);
}

// A count read from a file is trusted only when that many records fit in what is left.
template <class T>
bool ReadArray(ByteReader& in, std::vector<T>& v, uint32_t maxCount) {
    uint32_t n = in.get<uint32_t>();
    if (!in.ok() || n > maxCount) return false;
    if (!in.has(static_cast<size_t>(n) * sizeof(T))) return false;
    v.resize(n);
    for (T& r : v) in.read(r);
    return in.ok();
}

// Far beyond any formula: the bytes that remain bound every array further.
constexpr uint32_t kMaxRecords = 0x00FFFFFF;

}  // namespace

void WriteFormulaRecord(ByteWriter& out, const FormulaRecord& r) {
    out.put<uint32_t>(r.version);
    out.put<uint32_t>(r.usageFlags);
    out.put<uint32_t>(r.type);
    out.bytes(std::string_view(r.name, sizeof r.name - 1)).zeros(1);  // always NUL-terminated
    WriteString(out, r.description);
    WriteString(out, r.group);
    WriteArray(out, r.params);
    WriteArray(out, r.outputs);
    WriteArray(out, r.instructions);
    WriteArray(out, r.references);
    if (r.type == kFormulaCombined) {
        out.put<uint32_t>(r.joiner);
        out.put<uint32_t>(static_cast<uint32_t>(r.conditions.size()));
        for (const std::string& c : r.conditions) out.bytes(c);
    } else {
        WriteString(out, r.source);
    }
    WriteString(out, r.comment);
    WriteString(out, r.freeText);
    WriteString(out, r.stringPool);
    out.put<uint32_t>(std::min<uint32_t>(r.coordinateCount, kMaxCoordinateLines));
    for (float c : r.coordinates) out.put<float>(c);
    out.put<uint32_t>(r.defaultPeriod);
    out.put<uint32_t>(r.signalIcon);
    out.put<uint32_t>(r.signalColour);
    out.put<uint32_t>(r.signalPosition);
    // The 13 reserved bytes: the signal block's fourth word, a word and five bytes.
    out.bytes(ByteSpan(r.reserved13, sizeof r.reserved13));
    out.put<uint32_t>(r.lockChecksum);
    out.put<uint32_t>(0);
    out.put<uint32_t>(r.compileTime);
    out.zeros(1 + 4 + 15);
}

bool ReadFormulaRecord(ByteReader& in, FormulaRecord& r) {
    r.version = in.get<uint32_t>();
    r.usageFlags = in.get<uint32_t>();
    r.type = in.get<uint32_t>();
    if (!in.read(r.name)) return false;
    r.name[sizeof r.name - 1] = 0;
    if (!ReadString(in, r.description) || !ReadString(in, r.group)) return false;
    if (!ReadArray(in, r.params, kMaxFormulaParams)) return false;
    for (FormulaParam& p : r.params) p.name[sizeof p.name - 1] = 0;
    if (!ReadArray(in, r.outputs, kMaxRecords)) return false;
    for (OutputLineDesc& d : r.outputs) d.name[sizeof d.name - 1] = 0;
    if (!ReadArray(in, r.instructions, kMaxRecords)) return false;
    if (!ReadArray(in, r.references, kMaxRecords)) return false;
    for (ReferenceEntry& e : r.references) {
        e.stock[sizeof e.stock - 1] = 0;
        e.formulaName[sizeof e.formulaName - 1] = 0;
        e.lineName[sizeof e.lineName - 1] = 0;
    }
    r.conditions.clear();
    r.source.clear();
    r.joiner = 0;
    if (r.type == kFormulaCombined) {
        r.joiner = in.get<uint32_t>();
        uint32_t n = in.get<uint32_t>();
        // Every condition takes at least kMinConditionBytes: a count the bytes cannot hold
        // is refused before anything is reserved.
        if (!in.ok() || n > kMaxConditions || !in.has(static_cast<size_t>(n) * kMinConditionBytes)) return false;
        r.conditions.resize(n);
        for (std::string& c : r.conditions)
            if (!ReadConditionImage(in, c)) return false;
    } else if (!ReadString(in, r.source)) {
        return false;
    }
    if (!ReadString(in, r.comment) || !ReadString(in, r.freeText) || !ReadString(in, r.stringPool))
        return false;
    r.coordinateCount = in.get<uint32_t>();
    for (float& c : r.coordinates) c = in.get<float>();
    if (r.coordinateCount > static_cast<uint32_t>(kMaxCoordinateLines)) r.coordinateCount = kMaxCoordinateLines;
    r.defaultPeriod = in.get<uint32_t>();
    r.signalIcon = in.get<uint32_t>();
    r.signalColour = in.get<uint32_t>();
    r.signalPosition = in.get<uint32_t>();
    in.read(r.reserved13);
    r.lockChecksum = in.get<uint32_t>();
    in.skip(4);
    r.compileTime = in.get<uint32_t>();
    in.skip(1 + 4 + 15);
    // Only a plain list's names end by byte 15; a locked list's fields are enciphered whole.
    if (r.type == kFormulaCombined && r.lockChecksum == 0) EndConditionNames(r.conditions);
    return in.ok();
}

Bytes CompiledFormBytes(const FormulaRecord& r) {
    ByteWriter out;
    WriteArray(out, r.outputs);
    WriteArray(out, r.instructions);
    WriteArray(out, r.references);
    WriteString(out, r.stringPool);
    return out.take();
}

}  // namespace tessaro
