// Result assembly: the visible values of an evaluation become the caller's output lines, and
// only here do the float columns turn into LinePoint records stamped with the bar times.
#include <algorithm>
#include <cstring>

#include "formula/evaluator_internal.h"

namespace tessaro::eval {
namespace {

// Points from index `cut` on lie too far beyond the market time to be shown. Bars are in time
// order, so a last bar within the limit means there is nothing to cut.
int32_t FutureCut(const Series& series, StoreTime marketTime) {
    const int32_t n = static_cast<int32_t>(series.bars.size());
    const uint64_t limit = static_cast<uint64_t>(marketTime) + kFutureBarLimit;
    if (marketTime == 0 || n == 0 || series.bars.back().time <= limit) return n;
    for (int32_t i = 0; i < n; ++i)
        if (series.bars[i].time > limit) return i;
    return n;
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
    const uint32_t* stamps = times.data();
    const float* x = v.data();
    LinePoint* p = line.points.data();
    // Zero a block with wide stores, then write time and value as one 8-byte store per point
    // while the block is still in the first-level cache: the 28-byte records would otherwise take
    // seven narrow stores each. Points before the valid range keep 0 as value, not whatever the
    // column held; points past the bars get time 0.
    char* out = reinterpret_cast<char*>(p);
    auto put = [out](int32_t i, uint64_t pair) { std::memcpy(out + static_cast<size_t>(i) * sizeof(LinePoint), &pair, 8); };
    auto time = [stamps](int32_t i) -> uint64_t { return stamps[i]; };
    auto value = [x](int32_t i) -> uint64_t {
        uint32_t bits;
        std::memcpy(&bits, &x[i], 4);
        return static_cast<uint64_t>(bits) << 32;
    };
    const int32_t from = std::clamp<int32_t>(v.begin, 0, count);
    constexpr int32_t kBlock = 256;  // 7 KB of points
    for (int32_t start = 0; start < count; start += kBlock) {
        const int32_t end = std::min(count, start + kBlock);
        std::memset(out + static_cast<size_t>(start) * sizeof(LinePoint), 0,
                    static_cast<size_t>(end - start) * sizeof(LinePoint));
        const int32_t a = std::clamp(from, start, end), b = std::clamp(stamped, start, end);
        int32_t i = start;
        for (; i < std::min(a, b); ++i) put(i, time(i));
        i = a;
        for (; i < b; ++i) put(i, time(i) | value(i));
        for (; i < end; ++i) put(i, value(i));
    }
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
