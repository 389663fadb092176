// OPEN .. AMOUNT and the bar times, copied out of the 32-byte bar records into columns.
//
// A field is one 32-bit word at a fixed place in each record. Copying it a record at a time
// costs a load, a store and the loop's own work per bar; with SSE2, four records' halves are
// loaded and one field of all four is picked out with three shuffles and stored at once. The
// records are walked in chunks that stay in the first-level cache, so each further field is
// read from there rather than again from memory.
#include <algorithm>
#include <cstddef>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "formula/functions_internal.h"

namespace tessaro {
namespace {

static_assert(sizeof(KLineRecord) == 32 && offsetof(KLineRecord, time) == 0 && offsetof(KLineRecord, open) == 4 &&
                  offsetof(KLineRecord, high) == 8 && offsetof(KLineRecord, low) == 12 &&
                  offsetof(KLineRecord, close) == 16 && offsetof(KLineRecord, volume) == 20 &&
                  offsetof(KLineRecord, amount) == 24,
              "the field copy reads the records by word position");

// Copies word `Word` (0 = time, 1 = open ... 6 = amount) of bars [from, end) into out[from, end),
// bit for bit.
template <int Word>
void CopyWord(const KLineRecord* bars, int32_t from, int32_t end, void* out) {
    const char* base = reinterpret_cast<const char*>(bars);
    char* to = static_cast<char*>(out);
    int32_t i = from;
#if defined(__SSE2__)
    constexpr int kHalf = Word / 4 * 16, kLane = Word % 4;
    for (; i + 4 <= end; i += 4) {
        const char* r = base + static_cast<size_t>(i) * 32 + kHalf;
        const __m128 r0 = _mm_loadu_ps(reinterpret_cast<const float*>(r));
        const __m128 r1 = _mm_loadu_ps(reinterpret_cast<const float*>(r + 32));
        const __m128 r2 = _mm_loadu_ps(reinterpret_cast<const float*>(r + 64));
        const __m128 r3 = _mm_loadu_ps(reinterpret_cast<const float*>(r + 96));
        // unpacklo(r0, r1) = r0[0] r1[0] r0[1] r1[1]; unpackhi gives lanes 2 and 3 likewise.
        const __m128 a = kLane < 2 ? _mm_unpacklo_ps(r0, r1) : _mm_unpackhi_ps(r0, r1);
        const __m128 b = kLane < 2 ? _mm_unpacklo_ps(r2, r3) : _mm_unpackhi_ps(r2, r3);
        const __m128 field = kLane % 2 == 0 ? _mm_movelh_ps(a, b) : _mm_movehl_ps(b, a);
        _mm_storeu_ps(reinterpret_cast<float*>(to + static_cast<size_t>(i) * 4), field);
    }
#endif
    for (; i < end; ++i) std::memcpy(to + static_cast<size_t>(i) * 4, base + static_cast<size_t>(i) * 32 + Word * 4, 4);
}

}  // namespace

void GatherQuoteColumns(FunctionContext& ctx, uint32_t wanted, std::span<FormulaValue, 6> columns, uint32_t* times) {
    const int32_t n = ctx.barCount();
    float* to[6] = {};
    for (int k = 0; k < 6; ++k) {
        if (!(wanted & (1u << k))) continue;
        columns[k] = fn::NewSeriesToFill(ctx, n, 0);
        to[k] = columns[k].data();
    }
    if (n == 0) return;
    const KLineRecord* bars = ctx.series->bars.data();
    // Tick volume and amount come from the trade data where the series carries it for every bar.
    const TradeData* trades =
        ctx.period == kPeriodTick && ctx.series->trades.size() >= ctx.series->bars.size() ? ctx.series->trades.data()
                                                                                          : nullptr;
    constexpr int32_t kChunk = 256;  // 8 KB of records
    for (int32_t from = 0; from < n; from += kChunk) {
        const int32_t end = std::min(n, from + kChunk);
        if (times) CopyWord<0>(bars, from, end, times);
        if (to[0]) CopyWord<1>(bars, from, end, to[0]);
        if (to[1]) CopyWord<2>(bars, from, end, to[1]);
        if (to[2]) CopyWord<3>(bars, from, end, to[2]);
        if (to[3]) CopyWord<4>(bars, from, end, to[3]);
        if (to[4] && !trades) CopyWord<5>(bars, from, end, to[4]);
        if (to[5] && !trades) CopyWord<6>(bars, from, end, to[5]);
        if (trades) {
            for (int32_t i = from; i < end; ++i) {
                if (to[4]) to[4][i] = trades[i].volume;
                if (to[5]) to[5][i] = trades[i].amount;
            }
        }
    }
}

}  // namespace tessaro
