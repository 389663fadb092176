// Result assembly: the visible values of an evaluation become the caller's output lines, and
// only here do the float columns turn into LinePoint records stamped with the bar times.
#include <algorithm>

#include "formula/evaluator_internal.h"

namespace tessaro::eval {
namespace {

// Points from index `cut` on lie too far beyond the market time to be shown.
int32_t FutureCut(const Series& series, StoreTime marketTime) {
    const int32_t n = static_cast<int32_t>(series.bars.size());
    if (marketTime == 0) return n;
    const uint64_t limit = static_cast<uint64_t>(marketTime) + kFutureBarLimit;
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
    const float* x = v.data();
    LinePoint* p = line.points.data();
    // Points before the valid range were never set: they hold 0, not whatever the column held.
    const int32_t from = std::clamp<int32_t>(v.begin, 0, count);
    for (int32_t i = 0; i < count; ++i) {
        LinePoint& q = p[i];
        q.time = i < stamped ? times[static_cast<size_t>(i)] : 0;
        q.value = i >= from ? x[i] : 0.0f;
        q.value2 = 0;
        q.value3 = 0;
        q.int1 = 0;
        q.int2 = 0;
        q.spare[0] = q.spare[1] = q.spare[2] = q.spare[3] = 0;
    }
    if (v.drawing) {
        const DrawingData& d = *v.drawing;
        for (int32_t i = from; i < count; ++i) {
            const size_t k = static_cast<size_t>(i);
            p[i].value2 = At(d.value2, k);
            p[i].value3 = At(d.value3, k);
            p[i].int1 = At(d.int1, k);
            p[i].int2 = At(d.int2, k);
        }
    }
}

void FillConstant(float c, const std::vector<uint32_t>& times, OutputLine& line) {
    const size_t n = std::max<size_t>(times.size(), 1);  // no bars: a single point
    line.begin = 0;
    line.count = static_cast<int32_t>(n);
    line.points.resize(n);
    for (size_t i = 0; i < n; ++i) line.points[i] = LinePoint{i < times.size() ? times[i] : 0u, c, 0, 0, 0, 0, {}};
}

}  // namespace

std::unique_ptr<EvalResult> AssembleResult(const FormulaRecord& formula, const std::vector<FormulaValue>& lines,
                                           const Series& series, StoreTime marketTime) {
    auto result = std::make_unique<EvalResult>();
    size_t lineCount = formula.outputs.size();
    // A special indicator may deliver lines its record has no descriptors for.
    if (formula.instructions.empty()) lineCount = std::max(lineCount, lines.size());
    result->lines.resize(lineCount);

    std::vector<uint32_t> times(series.bars.size());
    for (size_t i = 0; i < times.size(); ++i) times[i] = series.bars[i].time;
    const int32_t cut = FutureCut(series, marketTime);

    for (size_t k = 0; k < lineCount; ++k) {
        OutputLine& line = result->lines[k];
        if (k < lines.size()) {
            const FormulaValue& v = lines[k];
            if (v.isSeries())
                FillSeries(v, times, cut, line);
            else if (v.isNumber())
                FillConstant(v.number, times, line);
            // A string or an empty value leaves the line empty.
        }
        if (line.drawKind == kDrawNotSet && k < formula.outputs.size())
            line.drawKind = static_cast<uint8_t>(formula.outputs[k].style & 0xFF);
    }
    return result;
}

}  // namespace tessaro::eval
