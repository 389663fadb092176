#include "formula/fml_conditions.h"

namespace tessaro {
namespace {

constexpr size_t kOperandTailBytes = 8 + 4 + 4;       // zeros, operation, constant
constexpr size_t kRelationBytes = 4 + 4 + 4 + 8;      // relation, N, third value, zeros

}  // namespace

bool ReadConditionLayout(ByteSpan bytes, size_t start, ConditionLayout& out) {
    if (start > bytes.size()) return false;
    ByteReader in(bytes.subspan(start));
    for (ConditionOperandLayout& op : out.operands) {
        op = ConditionOperandLayout{};
        op.start = in.pos();
        op.kind = in.get<uint32_t>();
        if (!in.ok()) return false;
        switch (op.kind) {
        case kOperandFormulaLine: {
            in.skip(4);  // formula type
            op.nameOffset = in.pos();
            in.skip(kConditionNameBytes);
            op.lineOffset = in.pos();
            in.skip(kConditionNameBytes);
            uint32_t k = in.get<uint32_t>();
            if (!in.ok() || k > kMaxConditionParams) return false;
            in.skip(4 * static_cast<size_t>(k));
            op.securityOffset = in.pos();
            in.skip(kConditionSecurityBytes + 4 + 4);  // security, period, look-back
            break;
        }
        case kOperandFinance:
        case kOperandNumber: in.skip(4); break;
        case kOperandEmpty: break;
        default: return false;
        }
        in.skip(kOperandTailBytes);
    }
    in.skip(kRelationBytes);
    if (!in.ok()) return false;
    out.size = in.pos();
    return true;
}

bool ReadConditionImage(ByteReader& in, std::string& image) {
    size_t start = in.pos();
    ByteSpan rest = in.bytes(in.remaining());
    in.seek(start);
    ConditionLayout layout;
    if (!ReadConditionLayout(rest, 0, layout)) return false;
    ByteSpan b = in.bytes(layout.size);
    if (!in.ok()) return false;
    image.assign(reinterpret_cast<const char*>(b.data()), b.size());
    for (const ConditionOperandLayout& op : layout.operands) {
        if (op.kind != kOperandFormulaLine) continue;
        image[op.nameOffset + kConditionNameBytes - 1] = 0;
        image[op.lineOffset + kConditionNameBytes - 1] = 0;
        image[op.securityOffset + kConditionSecurityBytes - 1] = 0;
    }
    return true;
}

}  // namespace tessaro
