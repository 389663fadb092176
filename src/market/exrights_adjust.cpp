#include "market/exrights_adjust.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace tessaro {
namespace {

constexpr double kZero = 0.00001;

// p' = a * p + b
struct Affine {
    double a = 1, b = 0;
    double apply(double p) const { return a * p + b; }
};

bool Usable(const ExRightsRecord& r) {
    if (!std::isfinite(r.bonusShares) || !std::isfinite(r.rightsShares) || !std::isfinite(r.rightsPrice) ||
        !std::isfinite(r.cashDividend))
        return false;
    return 1.0 + double(r.bonusShares) + double(r.rightsShares) > kZero;
}

void ApplyTo(KLineRecord& bar, const Affine& f) {
    for (float* p : {&bar.open, &bar.high, &bar.low, &bar.close})
        if (std::fabs(*p) > kZero) *p = static_cast<float>(f.apply(*p));
}

struct Event {
    uint32_t day;
    ExRightsRecord r;
};

// Index of the first event whose day is later than `day` (events sorted by day).
size_t FirstLater(const std::vector<Event>& events, uint32_t day) {
    return static_cast<size_t>(
        std::upper_bound(events.begin(), events.end(), day,
                         [](uint32_t d, const Event& ev) { return d < ev.day; }) -
        events.begin());
}

// FirstLater for bars in ascending order: walks the events in step with the bars and
// searches afresh only when a bar is older than the one before it.
class EventCursor {
public:
    explicit EventCursor(const std::vector<Event>& events) : events_(events) {}
    size_t firstLater(uint32_t day) {
        if (day < lastDay_) {
            next_ = FirstLater(events_, day);
        } else {
            while (next_ < events_.size() && events_[next_].day <= day) ++next_;
        }
        lastDay_ = day;
        return next_;
    }

private:
    const std::vector<Event>& events_;
    size_t next_ = 0;
    uint32_t lastDay_ = 0;
};

}  // namespace

uint32_t ExRightsDay(const ExRightsRecord& r) { return StoreDay(StoreTimeFromUnix(r.exDate)); }

void AdjustExRights(const ExRightsRecord* records, size_t recordCount, KLineRecord* bars, size_t count,
                    StoreTime newestTime, int flags) {
    if ((flags & kExRightsNone) || records == nullptr || recordCount == 0 || bars == nullptr || count == 0) return;
    StoreTime newest = std::max(newestTime, bars[count - 1].time);
    uint32_t newestDay = StoreDay(newest);

    std::vector<Event> events;
    events.reserve(recordCount);
    for (size_t i = 0; i < recordCount; ++i) {
        const ExRightsRecord& r = records[i];
        if (!Usable(r)) continue;
        uint32_t day = ExRightsDay(r);
        if (day > newestDay) continue;
        events.push_back({day, r});
    }
    if (events.empty()) return;
    std::stable_sort(events.begin(), events.end(), [](const Event& x, const Event& y) { return x.day < y.day; });
    size_t n = events.size();

    if (!(flags & kExRightsBackward)) {
        // suffix[i]: the composition of events i..n-1 applied in date order, for bars
        // before the day of event i (and not before event i-1).
        std::vector<Affine> suffix(n + 1);
        for (size_t i = n; i-- > 0;) {
            const ExRightsRecord& r = events[i].r;
            double factor = 1.0 + double(r.bonusShares) + double(r.rightsShares);
            Affine f{1.0 / factor, (double(r.rightsShares) * r.rightsPrice - r.cashDividend) / factor};
            // First f, then the later events.
            suffix[i] = Affine{suffix[i + 1].a * f.a, suffix[i + 1].a * f.b + suffix[i + 1].b};
        }
        EventCursor cursor(events);
        for (size_t k = 0; k < count; ++k) {
            size_t e = cursor.firstLater(StoreDay(bars[k].time));
            if (e < n) ApplyTo(bars[k], suffix[e]);
        }
    } else {
        // prefix[i]: events 0..i-1 applied from the newest to the oldest.
        std::vector<Affine> prefix(n + 1);
        for (size_t i = 0; i < n; ++i) {
            const ExRightsRecord& r = events[i].r;
            double factor = 1.0 + double(r.bonusShares) + double(r.rightsShares);
            Affine g{factor, double(r.cashDividend) - double(r.rightsShares) * r.rightsPrice};
            // First g (the newer event), then the older ones.
            prefix[i + 1] = Affine{prefix[i].a * g.a, prefix[i].a * g.b + prefix[i].b};
        }
        EventCursor cursor(events);
        for (size_t k = 0; k < count; ++k) {
            size_t e = cursor.firstLater(StoreDay(bars[k].time));
            if (e > 0) ApplyTo(bars[k], prefix[e]);
        }
    }
}

}  // namespace tessaro
