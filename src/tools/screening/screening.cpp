#include "tools/screening/screening.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "app/settings.h"
#include "formula/evaluator.h"
#include "platform/text.h"
#include "tools/blocks/block_management.h"

namespace tessaro {

// ---- The range -------------------------------------------------------------------------

std::string LoadScreeningRange(const SettingsStore& settings) {
    std::optional<std::string> value = settings.getString(kSettingsSubKey, kSelStkRangeValue);
    if (!value || value->empty()) return Utf8ToGbk(kDefaultScreeningRange);
    return *value;
}

void SaveScreeningRange(SettingsStore& settings, std::string_view rangeGbk) {
    settings.setString(kSettingsSubKey, kSelStkRangeValue, rangeGbk);
}

std::vector<std::string> SplitScreeningRange(std::string_view rangeGbk) {
    std::vector<std::string> names;
    size_t start = 0;
    while (start <= rangeGbk.size()) {
        size_t comma = rangeGbk.find(',', start);
        if (comma == std::string_view::npos) comma = rangeGbk.size();
        std::string_view piece = rangeGbk.substr(start, comma - start);
        while (!piece.empty() && piece.front() == ' ') piece.remove_prefix(1);
        while (!piece.empty() && piece.back() == ' ') piece.remove_suffix(1);
        if (!piece.empty() && std::none_of(names.begin(), names.end(),
                                           [&](const std::string& n) { return EqualsNoCase(n, piece); }))
            names.emplace_back(piece);
        start = comma + 1;
    }
    return names;
}

bool AddToScreeningRange(std::string& rangeGbk, std::string_view nameGbk) {
    if (nameGbk.empty() || nameGbk.find(',') != std::string_view::npos) return false;
    for (const std::string& n : SplitScreeningRange(rangeGbk))
        if (EqualsNoCase(n, nameGbk)) return false;
    if (!rangeGbk.empty() && rangeGbk.back() != ',') rangeGbk += ',';
    rangeGbk.append(nameGbk);
    rangeGbk += ',';
    return true;
}

std::vector<SecurityId> ScreeningSecurities(const BlockSet& blocks, std::span<const std::string> namesGbk,
                                            std::vector<std::string>* unknown) {
    std::vector<SecurityId> out;
    std::set<std::pair<uint16_t, std::string>> seen;
    for (const std::string& name : namesGbk) {
        std::optional<Block> block = blocks.FindBlock(name);
        if (!block) {
            if (unknown) unknown->push_back(name);
            continue;
        }
        for (const SecurityId& id : block->members)
            if (seen.emplace(id.market, std::string(id.codeText())).second) out.push_back(id);
    }
    return out;
}

// ---- Remembered settings -----------------------------------------------------------------

const ScreeningSettings* RememberedScreeningSettings::Find(int32_t type, std::string_view nameGbk) const {
    for (const ScreeningSettings& r : records_)
        if (r.formulaType == type && EqualsNoCase(r.formulaName, CutGbk(nameGbk, kScreeningNameBytes))) return &r;
    return nullptr;
}

void RememberedScreeningSettings::Store(ScreeningSettings settings) {
    settings.formulaName = std::string(CutGbk(settings.formulaName, kScreeningNameBytes));
    settings.description = std::string(CutGbk(settings.description, kScreeningNameBytes));
    if (settings.params.size() > kScreeningMaxParams) settings.params.resize(kScreeningMaxParams);
    for (ScreeningSettings& r : records_)
        if (r.formulaType == settings.formulaType && EqualsNoCase(r.formulaName, settings.formulaName)) {
            r = std::move(settings);
            return;
        }
    records_.push_back(std::move(settings));
}

FormulaRecord WithParameters(const FormulaRecord& formula, std::span<const float> values) {
    FormulaRecord copy = formula;
    for (size_t i = 0; i < copy.params.size() && i < values.size(); ++i) {
        FormulaParam& p = copy.params[i];
        float v = values[i];
        if (!std::isfinite(v)) continue;
        if (p.min <= p.max) v = std::clamp(v, p.min, p.max);
        p.defaultValue = v;
    }
    return copy;
}

// ---- The run -----------------------------------------------------------------------------

namespace {

constexpr float kZero = 0.000001f;

bool NonZero(float v) { return std::isfinite(v) ? std::fabs(v) > kZero : !std::isnan(v); }

}  // namespace

bool ScreeningLineHits(const OutputLine& line, StoreTime from, StoreTime to, std::vector<uint32_t>* hitTimes) {
    const int32_t end = std::min<int32_t>(line.count, static_cast<int32_t>(line.points.size()));
    if (from == 0 && to == 0) {
        const int32_t last = end - 1;
        if (!line.valid(last) || !NonZero(line.points[static_cast<size_t>(last)].value)) return false;
        if (hitTimes) hitTimes->push_back(line.points[static_cast<size_t>(last)].time);
        return true;
    }
    const uint32_t firstDay = StoreDay(std::min(from, to)), lastDay = StoreDay(std::max(from, to));
    bool hit = false;
    for (int32_t i = std::max<int32_t>(line.begin, 0); i < end; ++i) {
        const LinePoint& p = line.points[static_cast<size_t>(i)];
        const uint32_t day = StoreDay(p.time);
        if (p.time == 0 || day < firstDay) continue;
        if (day > lastDay) break;
        if (!NonZero(p.value)) continue;
        hit = true;
        if (!hitTimes) break;
        hitTimes->push_back(p.time);
    }
    return hit;
}

ScreeningOutcome RunScreening(const FormulaSet& formulas, EvalDataSource& data, const ScreeningRequest& request,
                              std::span<const CodeEntry> securities, const std::atomic<bool>& running,
                              const ScreeningSink& sink) {
    const size_t n = securities.size();
    unsigned threads = request.threads ? request.threads : std::max(1u, std::thread::hardware_concurrency());
    threads = static_cast<unsigned>(std::min<size_t>(threads, std::max<size_t>(n, 1)));

    // Finished records wait here until every earlier one is finished too.
    std::mutex mutex;
    std::vector<std::optional<ScreeningRecord>> finished(n);
    size_t published = 0;
    ScreeningOutcome outcome;
    std::atomic<size_t> next{0};

    auto publish = [&](size_t index, ScreeningRecord record) {
        std::lock_guard lock(mutex);
        finished[index] = std::move(record);
        while (published < n && finished[published]) {
            const ScreeningRecord& r = *finished[published];
            ++outcome.examined;
            if (r.hit) ++outcome.hits;
            if (sink) sink(r);
            finished[published].reset();
            ++published;
        }
    };

    auto work = [&] {
        FormulaEvaluator evaluator(formulas, data);
        while (running.load(std::memory_order_acquire)) {
            const size_t index = next.fetch_add(1, std::memory_order_relaxed);
            if (index >= n) break;
            ScreeningRecord record;
            record.security = securities[index];
            record.formulaName = std::string(request.formula.nameText());
            record.period = request.period;
            record.position = static_cast<int>((index + 1) * 100 / n);
            std::unique_ptr<EvalResult> result =
                evaluator.Evaluate(request.formula, record.security, nullptr, request.period, request.loadOptions);
            if (result && request.line < result->lines.size())
                record.hit = ScreeningLineHits(result->lines[request.line], request.from, request.to, &record.hitTimes);
            publish(index, std::move(record));
        }
    };

    if (threads <= 1) {
        work();
    } else {
        std::vector<std::jthread> pool;
        pool.reserve(threads);
        for (unsigned t = 0; t < threads; ++t) pool.emplace_back(work);
    }
    outcome.stopped = published < n;
    return outcome;
}

ScreeningFinish FinishScreening(BlockSet& blocks, std::string_view blockGbk, std::span<const SecurityId> hits,
                                bool stopped) {
    ScreeningFinish finish;
    const std::string count = std::to_string(hits.size());
    if (stopped) {
        finish.message = FormatMessage(kScreeningStopped, {count});
        return finish;
    }
    std::optional<Block> existing = blocks.FindBlock(blockGbk);
    Block block;
    if (existing) {
        block = *existing;
    } else {
        block.setting = kBlockScreening;
        block.name = std::string(blockGbk);
    }
    if (!block.stored()) {
        finish.message = GbkToUtf8(blockGbk) + ": rule block, its members are computed";
        return finish;
    }
    block.members.assign(hits.begin(), hits.end());
    if (!blocks.SaveBlock(block)) {
        finish.message = "cannot write the block " + GbkToUtf8(blockGbk);
        return finish;
    }
    blocks.Mutate([&](std::vector<Block>& all) {
        for (Block& b : all)
            if (EqualsNoCase(b.name, block.name)) {
                b.members = block.members;
                return;
            }
        all.push_back(block);
    });
    finish.saved = true;
    finish.message = FormatMessage(kScreeningDone, {count});
    return finish;
}

}  // namespace tessaro
