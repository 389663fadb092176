#include "market/exrights_adjust.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// A missing (zero) price stays zero, and so does a NaN.
inline float Adjusted(float p, const Affine& f) { return std::fabs(p) > kZero ? static_cast<float>(f.apply(p)) : p; }

#if defined(__SSE2__)
// The four prices of a bar lie side by side: two double lanes each for open/high and
// low/close, with the same double arithmetic and the same zero test as Adjusted.
static_assert(offsetof(KLineRecord, close) == offsetof(KLineRecord, open) + 3 * sizeof(float));

class BarAdjuster {
public:
    explicit BarAdjuster(const Affine& f) : a_(_mm_set1_pd(f.a)), b_(_mm_set1_pd(f.b)) {}
    void operator()(KLineRecord& bar) const {
        const __m128 prices = _mm_loadu_ps(&bar.open);
        const __m128d lo = Lanes(_mm_cvtps_pd(prices));
        const __m128d hi = Lanes(_mm_cvtps_pd(_mm_movehl_ps(prices, prices)));
        _mm_storeu_ps(&bar.open, _mm_movelh_ps(_mm_cvtpd_ps(lo), _mm_cvtpd_ps(hi)));
    }

private:
    __m128d Lanes(__m128d p) const {
        const __m128d magnitude = _mm_andnot_pd(_mm_set1_pd(-0.0), p);
        const __m128d adjust = _mm_cmpgt_pd(magnitude, _mm_set1_pd(kZero));
        const __m128d moved = _mm_add_pd(_mm_mul_pd(p, a_), b_);
        return _mm_or_pd(_mm_and_pd(adjust, moved), _mm_andnot_pd(adjust, p));
    }
    __m128d a_, b_;
};
#else
class BarAdjuster {
public:
    explicit BarAdjuster(const Affine& f) : f_(f) {}
    void operator()(KLineRecord& bar) const {
        bar.open = Adjusted(bar.open, f_);
        bar.high = Adjusted(bar.high, f_);
        bar.low = Adjusted(bar.low, f_);
        bar.close = Adjusted(bar.close, f_);
    }

private:
    Affine f_;
};
#endif

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

// Applies `functions[e]` to every bar whose first later event is e (nothing where it is null).
// Bars in time order come in runs between two event days: the event is looked up once per run
// and the run ends at the next event's day or where the order breaks.
void ApplyByRuns(const std::vector<Event>& events, const std::vector<const Affine*>& functions, KLineRecord* bars,
                 size_t count) {
    EventCursor cursor(events);
    size_t k = 0;
    while (k < count) {
        const size_t e = cursor.firstLater(StoreDay(bars[k].time));
        const uint64_t end = e < events.size() ? uint64_t{events[e].day} * kSecondsPerDay : UINT64_MAX;
        auto inRun = [&](size_t j) { return j < count && bars[j].time >= bars[j - 1].time && bars[j].time < end; };
        size_t j = k + 1;
        if (const Affine* f = functions[e]) {
            const BarAdjuster adjust(*f);
            adjust(bars[k]);
            for (; inRun(j); ++j) adjust(bars[j]);
        } else {
            while (inRun(j)) ++j;
        }
        k = j;
    }
}

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
        std::vector<const Affine*> functions(n + 1, nullptr);
        for (size_t i = 0; i < n; ++i) functions[i] = &suffix[i];
        ApplyByRuns(events, functions, bars, count);
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
        std::vector<const Affine*> functions(n + 1, nullptr);
        for (size_t i = 1; i <= n; ++i) functions[i] = &prefix[i];
        ApplyByRuns(events, functions, bars, count);
    }
}

}  // namespace tessaro
