#include "market/tick_merge.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace tessaro {

namespace {
// The earliest StoreTime that is a set time: 100 seconds after 1970-01-01 UTC.
constexpr StoreTime kFirstSetTime = StoreTimeFromUnix(100);

bool NearlyEqual(float a, float b) { return std::fabs(a - b) <= kTickEpsilon; }
}  // namespace

size_t CompactReceivedTicks(std::span<TickRecord> batch, float volumeToday, StoreTime snapshotTime) {
    if (batch.empty()) return 0;
    // The rules compare with ticks as received, which compaction overwrites.
    std::vector<TickRecord> received(batch.begin(), batch.end());
    const bool noVolume = !(volumeToday > kTickEpsilon);
    size_t k = 0;
    for (size_t j = 0; j < received.size(); ++j) {
        const TickRecord& t = received[j];
        bool a = k == j || t.time > received[k].time;
        bool b = j == 0 || noVolume || t.volume > received[j - 1].volume + kTickEpsilon;
        bool c = t.time >= kFirstSetTime && t.time <= snapshotTime && t.price > 0 && std::isfinite(t.price) &&
                 std::isfinite(t.volume) && std::isfinite(t.amount);
        if (a && b && c) batch[k++] = t;
    }
    return k;
}

bool TickBefore(const TickRecord& a, const TickRecord& b, bool byTime) {
    if (!NearlyEqual(a.volume, b.volume)) return a.volume < b.volume;
    return byTime && a.time < b.time;
}

bool SameTick(const TickRecord& a, const TickRecord& b, bool byTime) {
    return NearlyEqual(a.volume, b.volume) && (!byTime || a.time == b.time);
}

bool MergeStartsAt(const TickRecord& stored, const TickRecord& firstKept, bool noVolumeToday) {
    // Not earlier (rather than later): a re-sent tick must meet its stored twin.
    if (noVolumeToday) return stored.time >= firstKept.time;
    return stored.volume >= firstKept.volume;
}

std::vector<TickRecord> MergeTicks(std::span<const TickRecord> stored, std::span<const TickRecord> kept,
                                   bool noVolumeToday, StoreTime predecessorTime) {
    // Kept ticks arrive in time order, which after drops need not be volume order.
    std::vector<TickRecord> fresh(kept.begin(), kept.end());
    auto before = [&](const TickRecord& a, const TickRecord& b) { return TickBefore(a, b, noVolumeToday); };
    std::stable_sort(fresh.begin(), fresh.end(), before);

    std::vector<TickRecord> out;
    out.reserve(stored.size() + fresh.size());
    auto push = [&](const TickRecord& t, bool fromStore) {
        if (!out.empty() && SameTick(out.back(), t, noVolumeToday)) {
            // A repeat: a stored tick wins over a received one, the first received one over later ones.
            if (fromStore) out.back() = t;
            return;
        }
        out.push_back(t);
    };
    size_t i = 0, j = 0;
    while (i < stored.size() || j < fresh.size()) {
        if (j >= fresh.size() || (i < stored.size() && !before(fresh[j], stored[i])))
            push(stored[i++], true);
        else
            push(fresh[j++], false);
    }

    StoreTime previous = predecessorTime;
    for (TickRecord& t : out) {
        if (previous != 0 && t.time <= previous) t.time = previous + 1;
        previous = t.time;
    }
    return out;
}

}  // namespace tessaro
