// Result assembly: the visible values of an evaluation become the caller's output lines, and
// only here do the float columns turn into LinePoint records stamped with the bar times.
#include <algorithm>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "formula/evaluator_internal.h"

namespace tessaro::eval {
namespace {

// Points from index `cut` on lie too far beyond the market time to be shown (INT32_MAX: none
// do). Bars are in time order, so a last bar within the limit means there is nothing to cut.
int32_t FutureCut(const Series& series, StoreTime marketTime) {
    const int32_t n = static_cast<int32_t>(series.bars.size());
    const uint64_t limit = static_cast<uint64_t>(marketTime) + kFutureBarLimit;
    if (marketTime == 0 || n == 0 || series.bars.back().time <= limit) return INT32_MAX;
    for (int32_t i = 0; i < n; ++i)
        if (series.bars[i].time > limit) return i;
    return INT32_MAX;
}

void CopyDrawing(const DrawingData& d, OutputLine& line) {
    line.drawKind = d.drawKind;
    line.iconNumber = d.iconNumber;
    line.text = d.text;
    line.textPlacement = d.textPlacement;
    line.extension = d.extension;
    line.iconFill = d.iconFill;
    line.hasBase = d.hasBase ? 1 : 0;
    line.baseValue = d.baseValue;
    line.arcX = d.arcX;
    line.arcY = d.arcY;
    line.arcRadius = d.arcRadius;
}

template <class T>
T At(const std::vector<T>& v, size_t i) {
    return i < v.size() ? v[i] : T{};
}

// One point with every field written: time, value and zeros.
inline void PutPoint(char* at, uint32_t time, uint32_t valueBits) {
    const uint64_t pair = time | (static_cast<uint64_t>(valueBits) << 32);
    const uint64_t zero[3] = {0, 0, 0};
    std::memcpy(at, &pair, 8);
    std::memcpy(at + 8, zero, 20);
}

// Writes `count` points: time from `times` below `stamped` (0 beyond), value from `x` from
// `from` on (0 before: those points were never set). Every byte of every point is written, so
// the array needs no zeroing first.
void WritePoints(LinePoint* points, int32_t count, int32_t from, int32_t stamped, const uint32_t* times,
                 const float* x) {
    char* out = reinterpret_cast<char*>(points);
    auto at = [out](int32_t i) { return out + static_cast<size_t>(i) * sizeof(LinePoint); };
    auto bits = [x](int32_t i) {
        uint32_t b;
        std::memcpy(&b, &x[i], 4);
        return b;
    };
    int32_t i = 0;
    for (; i < std::min(from, stamped); ++i) PutPoint(at(i), times[i], 0);
    for (; i < from; ++i) PutPoint(at(i), 0, 0);
#if defined(__SSE2__)
    // Four points are 112 bytes, seven 16-byte stores built from one load of four times and one
    // of four values: (t0 v0 0 0)(0 0 0 t1)(v1 0 0 0)(0 0 t2 v2)(0 0 0 0)(0 t3 v3 0)(0 0 0 0).
    const __m128i zero = _mm_setzero_si128();
    const __m128i lastDword = _mm_set_epi32(-1, 0, 0, 0);
    for (; i + 4 <= stamped; i += 4) {
        const __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i*>(times + i));
        const __m128i v = _mm_castps_si128(_mm_loadu_ps(x + i));
        const __m128i lo = _mm_unpacklo_epi32(t, v);  // t0 v0 t1 v1
        const __m128i hi = _mm_unpackhi_epi32(t, v);  // t2 v2 t3 v3
        __m128i* o = reinterpret_cast<__m128i*>(at(i));
        _mm_storeu_si128(o + 0, _mm_move_epi64(lo));
        _mm_storeu_si128(o + 1, _mm_and_si128(_mm_slli_si128(lo, 4), lastDword));
        _mm_storeu_si128(o + 2, _mm_srli_si128(lo, 12));
        _mm_storeu_si128(o + 3, _mm_slli_si128(hi, 8));
        _mm_storeu_si128(o + 4, zero);
        _mm_storeu_si128(o + 5, _mm_slli_si128(_mm_srli_si128(hi, 8), 4));
        _mm_storeu_si128(o + 6, zero);
    }
#endif
    for (; i < stamped; ++i) PutPoint(at(i), times[i], bits(i));
    for (; i < count; ++i) PutPoint(at(i), 0, bits(i));
}

void FillSeries(const FormulaValue& v, const std::vector<uint32_t>& times, int32_t cut, OutputLine& line) {
    if (v.drawing) CopyDrawing(*v.drawing, line);
    line.begin = v.begin;
    const int32_t count = std::min({v.count, static_cast<int32_t>(v.values.size()), cut});
    if (count <= 0) {
        line.count = 0;  // cut to nothing: no point array
        return;
    }
    line.count = count;
    line.points.resize(static_cast<size_t>(count));
    const int32_t stamped = std::min<int32_t>(count, static_cast<int32_t>(times.size()));
    const float* x = v.data();
    LinePoint* p = line.points.data();
    const int32_t from = std::clamp<int32_t>(v.begin, 0, count);
    WritePoints(p, count, from, stamped, times.data(), x);
    if (v.drawing) {
        const DrawingData& d = *v.drawing;
        for (int32_t j = from; j < count; ++j) {
            const size_t k = static_cast<size_t>(j);
            p[j].value2 = At(d.value2, k);
            p[j].value3 = At(d.value3, k);
            p[j].int1 = At(d.int1, k);
            p[j].int2 = At(d.int2, k);
        }
    }
}

void FillConstant(float c, const Series& series, OutputLine& line) {
    const size_t bars = series.bars.size();
    const size_t n = std::max<size_t>(bars, 1);  // no bars: a single point
    line.begin = 0;
    line.count = static_cast<int32_t>(n);
    line.points.resize(n);
    for (size_t i = 0; i < n; ++i) line.points[i] = LinePoint{i < bars ? series.bars[i].time : 0u, c, 0, 0, 0, 0, {}};
}

}  // namespace

std::unique_ptr<EvalResult> AssembleResult(const FormulaRecord& formula, const std::vector<FormulaValue>& lines,
                                           const Series& series, StoreTime marketTime, std::vector<uint32_t>& times) {
    auto result = std::make_unique<EvalResult>();
    size_t lineCount = formula.outputs.size();
    // A special indicator may deliver lines its record has no descriptors for.
    if (formula.instructions.empty()) lineCount = std::max(lineCount, lines.size());
    result->lines.resize(lineCount);

    const int32_t cut = FutureCut(series, marketTime);
    // The bar times once, contiguous: every line is stamped from them.
    times.resize(series.bars.size());
    for (size_t i = 0; i < times.size(); ++i) times[i] = series.bars[i].time;

    for (size_t k = 0; k < lineCount; ++k) {
        OutputLine& line = result->lines[k];
        if (k < lines.size()) {
            const FormulaValue& v = lines[k];
            if (v.isSeries())
                FillSeries(v, times, cut, line);
            else if (v.isNumber())
                FillConstant(v.number, series, line);
            // A string or an empty value leaves the line empty.
        }
        if (line.drawKind == kDrawNotSet && k < formula.outputs.size())
            line.drawKind = static_cast<uint8_t>(formula.outputs[k].style & 0xFF);
    }
    return result;
}

}  // namespace tessaro::eval
