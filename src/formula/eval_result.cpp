#include "formula/eval_result.h"

#include <cstring>

namespace tessaro {

void LinePoints::push_back(const LinePoint& p) {
    const size_t i = values_.size();
    // Copy on write: the times may be shared with the result's other lines, or longer.
    if (!timesOwned_ || times_.use_count() != 1 || times_->size() != i) {
        auto own = std::make_shared<std::vector<uint32_t>>();
        own->reserve(i + 1);
        for (size_t k = 0; k < i; ++k) own->push_back(time(k));
        times_ = std::move(own);
        timesOwned_ = true;
    }
    // Made non-const above (or by an earlier push_back) and held by this line alone.
    const_cast<std::vector<uint32_t>&>(*times_).push_back(p.time);
    values_.push_back(p.value);
    const bool drawn = p.value2 != 0 || p.value3 != 0 || p.int1 != 0 || p.int2 != 0;
    if (drawn || !drawing_.empty()) drawing().back() = PointDrawing{p.value2, p.value3, p.int1, p.int2};
}

bool LinePoints::operator==(const LinePoints& o) const {
    if (size() != o.size()) return false;
    for (size_t i = 0; i < size(); ++i) {
        const LinePoint a = (*this)[i], b = o[i];
        if (std::memcmp(&a, &b, sizeof a) != 0) return false;  // bitwise: a NaN equals the same NaN
    }
    return true;
}

}  // namespace tessaro
