// Result assembly: the visible values of an evaluation become the caller's output lines, their
// float columns copied once and stamped with one shared array of the bar times.
#include <algorithm>
#include <cstdint>
#include <memory>

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

void FillSeries(FormulaValue& v, bool take, const LinePoints::Times& times, int32_t cut, OutputLine& line) {
    if (v.drawing) CopyDrawing(*v.drawing, line);
    line.begin = v.begin;
    const int32_t count = std::min({v.count, static_cast<int32_t>(v.values.size()), cut});
    if (count <= 0) {
        line.count = 0;  // cut to nothing: no points
        return;
    }
    line.count = count;
    // Points before the valid range were never set: they read 0.
    const int32_t from = std::clamp<int32_t>(v.begin, 0, count);
    std::vector<float> values;
    if (take && !v.drawing && count == static_cast<int32_t>(v.values.size()) &&
        v.values.capacity() <= 2 * v.values.size()) {
        // The evaluation is done with the column: it becomes the line's (unless it was made
        // for a much longer series, whose spare room the result would then keep).
        values = std::move(v.values);
        v.values = {};
        std::fill_n(values.begin(), from, 0.0f);
    } else {
        const float* x = v.data();
        values.reserve(static_cast<size_t>(count));
        values.resize(static_cast<size_t>(from), 0.0f);
        values.insert(values.end(), x + from, x + count);
    }
    line.points = LinePoints(times, std::move(values));
    if (v.drawing) {
        const DrawingData& d = *v.drawing;
        std::vector<PointDrawing>& drawing = line.points.drawing();
        for (int32_t j = from; j < count; ++j) {
            const size_t k = static_cast<size_t>(j);
            drawing[k] = PointDrawing{At(d.value2, k), At(d.value3, k), At(d.int1, k), At(d.int2, k)};
        }
    }
}

void FillConstant(float c, const Series& series, const LinePoints::Times& times, OutputLine& line) {
    const size_t n = std::max<size_t>(series.bars.size(), 1);  // no bars: a single point
    line.begin = 0;
    line.count = static_cast<int32_t>(n);
    line.points = LinePoints(times, std::vector<float>(n, c));
}

}  // namespace

std::unique_ptr<EvalResult> AssembleResult(const FormulaRecord& formula, std::vector<FormulaValue>& lines,
                                           const Series& series, StoreTime marketTime, LinePoints::Times times,
                                           bool take) {
    auto result = std::make_unique<EvalResult>();
    size_t lineCount = formula.outputs.size();
    // A special indicator may deliver lines its record has no descriptors for.
    if (formula.instructions.empty()) lineCount = std::max(lineCount, lines.size());
    result->lines.resize(lineCount);

    const int32_t cut = FutureCut(series, marketTime);
    // The bar times once, shared by every line.
    if (!times || times->size() != series.bars.size()) {
        auto barTimes = std::make_shared<std::vector<uint32_t>>(series.bars.size());
        for (size_t i = 0; i < barTimes->size(); ++i) (*barTimes)[i] = series.bars[i].time;
        times = std::move(barTimes);
    }

    for (size_t k = 0; k < lineCount; ++k) {
        OutputLine& line = result->lines[k];
        if (k < lines.size()) {
            FormulaValue& v = lines[k];
            if (v.isSeries())
                FillSeries(v, take, times, cut, line);
            else if (v.isNumber())
                FillConstant(v.number, series, times, line);
            // A string or an empty value leaves the line empty.
        }
        if (line.drawKind == kDrawNotSet && k < formula.outputs.size())
            line.drawKind = static_cast<uint8_t>(formula.outputs[k].style & 0xFF);
    }
    return result;
}

}  // namespace tessaro::eval
