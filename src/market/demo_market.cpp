#include "market/demo_market.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>

#include "app/paths.h"
#include "market/block_file.h"
#include "market/history.h"
#include "market/market_file.h"
#include "market/market_store.h"
#include "market/periods.h"
#include "market/security_registry.h"
#include "platform/bytes.h"
#include "platform/files.h"
#include "platform/settings_store.h"
#include "platform/text.h"

namespace tessaro {
namespace {

// ---- Random numbers: splitmix64, the same on every platform ----------------------------

class Random {
public:
    explicit Random(uint64_t seed) : state_(seed) {}
    uint64_t next() {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    double uniform() { return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0); }
    double uniform(double lo, double hi) { return lo + (hi - lo) * uniform(); }
    int below(int n) { return n <= 0 ? 0 : static_cast<int>(next() % static_cast<uint64_t>(n)); }
    double normal() {
        double u1 = std::max(uniform(), 1e-300), u2 = uniform();
        return std::sqrt(-2.0 * std::log(u1)) * std::cos(6.283185307179586 * u2);
    }

private:
    uint64_t state_;
};

uint64_t Mix(uint64_t a, uint64_t b) {
    Random r(a * 0x2545F4914F6CDD1Dull ^ (b + 0x9E3779B97F4A7C15ull));
    return r.next();
}

uint64_t SeedOf(uint64_t seed, const SecurityId& id) {
    uint64_t h = id.market;
    for (char c : id.codeText()) h = h * 131 + static_cast<unsigned char>(c);
    return Mix(seed, h);
}

float RoundPrice(double p, int decimals) {
    double f = std::pow(10.0, decimals);
    return static_cast<float>(std::round(p * f) / f);
}

// ---- Calendar ---------------------------------------------------------------------------

// New Year's Day of the Chinese calendar, 2000 .. 2035.
constexpr CivilDate kSpringFestival[] = {
    {2000, 2, 5},  {2001, 1, 24}, {2002, 2, 12}, {2003, 2, 1},  {2004, 1, 22}, {2005, 2, 9},
    {2006, 1, 29}, {2007, 2, 18}, {2008, 2, 7},  {2009, 1, 26}, {2010, 2, 14}, {2011, 2, 3},
    {2012, 1, 23}, {2013, 2, 10}, {2014, 1, 31}, {2015, 2, 19}, {2016, 2, 8},  {2017, 1, 28},
    {2018, 2, 16}, {2019, 2, 5},  {2020, 1, 25}, {2021, 2, 12}, {2022, 2, 1},  {2023, 1, 22},
    {2024, 2, 10}, {2025, 1, 29}, {2026, 2, 17}, {2027, 2, 6},  {2028, 1, 26}, {2029, 2, 13},
    {2030, 2, 3},  {2031, 1, 23}, {2032, 2, 11}, {2033, 1, 31}, {2034, 2, 19}, {2035, 2, 8},
};

// ---- Securities ---------------------------------------------------------------------------

struct CodeRange {
    MarketCode market;
    uint16_t cls;
    int first, last;  // code values
    double weight;
};

constexpr CodeRange kRanges[] = {
    {kMarketSH, kClassAShare, 600000, 600999, 0.18}, {kMarketSH, kClassAShare, 601000, 601999, 0.12},
    {kMarketSZ, kClassAShare, 1, 1999, 0.22},        {kMarketSZ, kClassAShare, 2000, 2999, 0.20},
    {kMarketSZ, kClassAShare, 300000, 300999, 0.13}, {kMarketSH, kClassBShare, 900901, 900999, 0.02},
    {kMarketSZ, kClassBShare, 200002, 200999, 0.02}, {kMarketSH, kClassFund, 510010, 510999, 0.02},
    {kMarketSZ, kClassFund, 184688, 184999, 0.02},   {kMarketSH, kClassBond, 110001, 113999, 0.03},
    {kMarketSZ, kClassBond, 112001, 112999, 0.03},   {kMarketSH, kClassWarrant, 580001, 580999, 0.005},
    {kMarketSZ, kClassWarrant, 30001, 31999, 0.005},
};

struct IndexInfo {
    MarketCode market;
    const char* code;
    const char* name;
    float base;
};
constexpr IndexInfo kIndexes[] = {
    {kMarketSH, "000001", "上证指数", 3100}, {kMarketSZ, "399001", "深证成指", 10200},
    {kMarketSH, "000016", "上证50", 2500},   {kMarketSZ, "399006", "创业板指", 2100},
    {kMarketSH, "000300", "沪深300", 3800},  {kMarketSZ, "399005", "中小板指", 6500},
};

constexpr const char* kPrefixes[] = {
    "华信", "东方", "中原", "新兴", "金海", "长江", "天成", "宏达", "海特", "南山", "北辰", "西部",
    "恒基", "永安", "国泰", "瑞丰", "光明", "银河", "中航", "华润", "泰山", "江淮", "紫光", "鲁信",
    "粤海", "闽东", "湘潭", "川投", "黔源", "滇中", "晋能", "冀中", "皖通", "浙能", "苏宁", "沪电",
    "京能", "津滨", "渝开", "鄂武",
};
constexpr const char* kSuffixes[] = {
    "科技", "银行", "药业", "电子", "股份", "能源", "地产", "汽车", "化工", "传媒", "实业", "控股",
    "证券", "钢铁", "电力", "机械", "食品", "纺织", "建材", "航运", "通信", "软件", "环保", "物流",
    "农业", "医疗", "材料", "新材", "重工", "旅游",
};

std::string Gbk(std::string_view utf8) { return Utf8ToGbk(utf8); }

// Put between prefix and suffix once the 1,200 two-part names are used up.
constexpr const char* kMiddles[] = {"", "新", "国", "联", "天", "中", "大", "金", "瑞", "华", "信", "泰", "兴"};

std::string NameFor(uint16_t cls, int k, int codeValue) {
    // (k mod 40, (k / 40 + 7k) mod 30) runs through all 1,200 pairs as k runs through 0..1199.
    std::string base = std::string(kPrefixes[k % 40]) + kMiddles[(k / 1200) % std::size(kMiddles)] +
                       kSuffixes[(k / 40 + k * 7) % 30];
    char buf[64];
    switch (cls) {
        case kClassBShare: return Gbk(std::string(kPrefixes[k % 40]) + "B股");
        case kClassFund: return Gbk(std::string("基金") + kPrefixes[(k * 3) % 40]);
        case kClassBond:
            if (k % 2 == 0) {
                std::snprintf(buf, sizeof buf, "国债%04d", codeValue % 10000);
                return Gbk(buf);
            }
            return Gbk(std::string(kPrefixes[k % 40]) + "转债");
        case kClassWarrant: return Gbk(std::string(kPrefixes[k % 40]) + (k % 2 ? "CWB1" : "认购"));
        default: return Gbk(base);
    }
}

float BasePriceFor(uint16_t cls, Random& r) {
    switch (cls) {
        case kClassAShare: return static_cast<float>(std::exp(r.uniform(std::log(3.0), std::log(60.0))));
        case kClassBShare: return static_cast<float>(r.uniform(0.4, 5.0));
        case kClassFund: return static_cast<float>(r.uniform(0.8, 3.0));
        case kClassBond: return static_cast<float>(r.uniform(95.0, 130.0));
        case kClassWarrant: return static_cast<float>(r.uniform(0.5, 5.0));
        default: return 10;
    }
}

// ---- Generating one security ----------------------------------------------------------

struct Event {
    size_t dayIndex;
    ExRightsRecord record;
};

struct GeneratedSecurity {
    std::vector<KLineRecord> days;       // history and today (last)
    std::vector<Event> events;
    std::vector<CapitalChange> capital;  // lots
    std::vector<KLineRecord> todayMinutes;  // the whole of today, 240 minutes
};

int LotSize(uint16_t cls) { return cls == kClassBond ? 10 : 100; }

// Day bars over `dates` with ex-rights events and capital changes.
GeneratedSecurity GenerateDays(const DemoSecurity& sec, const std::vector<StoreTime>& dates, int decimals,
                               Random& r) {
    GeneratedSecurity g;
    const bool isIndex = sec.securityClass == kClassIndex;
    const bool hasEvents = sec.securityClass == kClassAShare || sec.securityClass == kClassBShare;
    const double sigma = isIndex ? 0.012 : sec.securityClass == kClassBond ? 0.006 : r.uniform(0.015, 0.03);
    double totalLots = isIndex ? 0 : std::round(r.uniform(2e5, 5e7));
    if (sec.securityClass == kClassBond) totalLots = std::round(r.uniform(1e5, 3e6));
    double circLots = isIndex ? 0 : std::round(totalLots * r.uniform(0.3, 1.0));
    const double tick = std::pow(10.0, -decimals);
    const double minPrice = std::max(tick * 20, 0.2);

    // Events: about one a year, at least one over a long enough history. Their kinds are
    // drawn first so that the capital can start where the bonus and rights shares bring
    // it to today's realistic size.
    struct Planned {
        size_t day;
        double dividendShare;  // of the price before the event
        float bonus, rights;
    };
    std::vector<Planned> plan;
    if (hasEvents && dates.size() > 30) {
        std::vector<size_t> eventDays;
        for (size_t i = 20; i + 1 < dates.size(); ++i)
            if (r.uniform() < 1.0 / 200) eventDays.push_back(i);
        if (eventDays.empty()) eventDays.push_back(dates.size() * 2 / 3);
        for (size_t day : eventDays) {
            Planned p{day, r.uniform(0.005, 0.03), 0.0f, 0.0f};
            double kind = r.uniform();
            if (kind > 0.55) {
                static constexpr float kBonus[] = {0.1f, 0.2f, 0.3f, 0.5f, 1.0f};
                p.bonus = kBonus[r.below(5)];
            } else if (kind > 0.45) {
                p.rights = static_cast<float>(r.below(3) + 1) / 10;
            }
            plan.push_back(p);
        }
    }
    double growth = 1;
    for (const Planned& p : plan) growth *= 1.0 + p.bonus + p.rights;
    totalLots = std::max(1000.0, std::round(totalLots / growth));
    circLots = std::max(1000.0, std::round(circLots / growth));
    if (isIndex) totalLots = circLots = 0;
    if (!isIndex) g.capital.push_back({dates.front(), static_cast<float>(circLots), static_cast<float>(totalLots)});

    double price = sec.basePrice;
    size_t nextEvent = 0;
    g.days.reserve(dates.size());
    for (size_t i = 0; i < dates.size(); ++i) {
        double ref = price;
        if (nextEvent < plan.size() && plan[nextEvent].day == i) {
            const Planned& p = plan[nextEvent++];
            ExRightsRecord e;
            e.exDate = static_cast<uint32_t>(UnixFromStoreTime(dates[i]));
            e.cashDividend = static_cast<float>(std::round(price * p.dividendShare * 1000) / 1000);
            e.bonusShares = p.bonus;
            e.rightsShares = p.rights;
            if (p.rights > 0) e.rightsPrice = RoundPrice(price * 0.6, decimals);
            double factor = 1.0 + e.bonusShares + e.rightsShares;
            ref = (price - e.cashDividend + double(e.rightsShares) * e.rightsPrice) / factor;
            ref = std::max(double(RoundPrice(ref, decimals)), minPrice);
            g.events.push_back({i, e});
            if (e.bonusShares > 0 || e.rightsShares > 0) {
                totalLots = std::round(totalLots * factor);
                circLots = std::round(circLots * factor);
                g.capital.push_back({dates[i], static_cast<float>(circLots), static_cast<float>(totalLots)});
            }
        }
        // A random walk pulled gently back towards the base price, within the price limits.
        double drift = std::clamp(0.01 * std::log(sec.basePrice / ref), -0.004, 0.004);
        double up = ref * 1.1, down = ref * 0.9;
        auto limit = [&](double p) {
            p = std::clamp(p, down, up);
            // Rounding must not step past the limit.
            double q = RoundPrice(p, decimals);
            if (q > up + 1e-9) q -= tick;
            if (q < down - 1e-9) q += tick;
            return std::max(q, minPrice);
        };
        double close = limit(ref * (1 + std::clamp(drift + sigma * r.normal(), -0.1, 0.1)));
        double open = limit(ref * (1 + sigma / 3 * r.normal()));
        double high = limit(std::max(open, close) * (1 + std::fabs(sigma / 2 * r.normal())));
        double low = limit(std::min(open, close) * (1 - std::fabs(sigma / 2 * r.normal())));
        high = std::max({high, open, close});
        low = std::min({low, open, close});

        KLineRecord bar;
        bar.time = dates[i];
        bar.open = static_cast<float>(open);
        bar.high = static_cast<float>(high);
        bar.low = static_cast<float>(low);
        bar.close = static_cast<float>(close);
        double mean = (open + high + low + close) / 4;
        if (isIndex) {
            bar.volume = static_cast<float>(std::round(sec.basePrice * 4000 * std::exp(0.3 * r.normal())));
            bar.amount = static_cast<float>(double(bar.volume) * 100 * 12);
            bar.count1 = static_cast<uint16_t>(r.below(800) + 100);  // advancing
            bar.count2 = static_cast<uint16_t>(r.below(800) + 100);  // declining
        } else {
            double turnover = std::clamp(0.01 * std::exp(0.6 * r.normal()), 0.0005, 0.15);
            bar.volume = static_cast<float>(std::max(1.0, std::round(circLots * turnover)));
            bar.amount = static_cast<float>(double(bar.volume) * LotSize(sec.securityClass) * mean);
            bar.count1 = static_cast<uint16_t>(std::min(65535.0, std::ceil(bar.volume / 40.0)));
            bar.count2 = static_cast<uint16_t>(35 + r.below(31));
        }
        g.days.push_back(bar);
        price = close;
    }
    return g;
}

// The minutes of a day as the market store holds them: slot 0 (09:30) is the opening
// auction, slot 121 (13:00) stays empty, each slot's volume and amount cumulative.
std::vector<MinuteSlot> ToSlots(const std::vector<KLineRecord>& minutes, StoreTime day, uint32_t now) {
    std::vector<MinuteSlot> slots;
    double volume = 0, amount = 0, total = 0, totalAmount = 0;
    for (size_t k = 0; k < minutes.size(); ++k) {
        const KLineRecord& m = minutes[k];
        if (TimeOfDay(m.time) > now) break;
        if (k == 0) {
            // The auction trades a tenth of the first minute at the open.
            float auction = std::floor(m.volume / 10);
            MinuteSlot s;
            s.time = day + kSessions[0].start;
            s.open = s.high = s.low = s.close = m.open;
            volume += auction;
            amount += double(m.amount) * (m.volume > 0 ? auction / m.volume : 0);
            s.volume = static_cast<float>(volume);
            s.amount = static_cast<float>(amount);
            slots.push_back(s);
        }
        MinuteSlot s;
        s.time = m.time;
        s.open = m.open, s.high = m.high, s.low = m.low, s.close = m.close;
        // Cumulative, the auction included in the first minute.
        volume = total + m.volume;
        amount = totalAmount + m.amount;
        total = volume, totalAmount = amount;
        s.volume = static_cast<float>(volume);
        s.amount = static_cast<float>(amount);
        slots.push_back(s);
    }
    return slots;
}

// A few trades in each minute up to `now`; the last of a minute at its close.
std::vector<TickRecord> TicksOf(const std::vector<KLineRecord>& minutes, uint32_t now, int lot, Random& r) {
    std::vector<TickRecord> ticks;
    double volume = 0, amount = 0;
    float prev = minutes.empty() ? 0 : minutes[0].open;
    for (const KLineRecord& m : minutes) {
        if (TimeOfDay(m.time) > now) break;
        int n = std::min<int>(1 + r.below(3), static_cast<int>(std::max(1.0f, m.volume)));
        float left = m.volume;
        StoreTime start = m.time - 60;
        int second = 0;
        for (int j = 0; j < n; ++j) {
            TickRecord t;
            second = std::min(59, second + 1 + r.below(std::max(1, (59 - second) / (n - j))));
            t.time = start + static_cast<StoreTime>(second);
            if (j == n - 1)
                t.price = m.close;
            else if (j == 0)
                t.price = m.open;
            else
                t.price = r.uniform() < 0.5 ? m.high : m.low;
            float v = j == n - 1 ? left : std::floor(left / static_cast<float>(n - j));
            left -= v;
            volume += v;
            amount += double(v) * lot * t.price;
            t.volume = static_cast<float>(volume);
            t.amount = static_cast<float>(amount);
            t.direction = static_cast<int8_t>(t.price > prev ? 1 : t.price < prev ? -1 : (r.uniform() < 0.5 ? 1 : -1));
            prev = t.price;
            ticks.push_back(t);
        }
    }
    if (ticks.size() > static_cast<size_t>(kMaxTickBlocksPerSecurity * kTicksPerBlock))
        ticks.resize(static_cast<size_t>(kMaxTickBlocksPerSecurity * kTicksPerBlock));
    return ticks;
}

// Five-minute bars of a day's minutes, by the labels the minutes fall in. Sums are
// taken in double so that large volumes stay the exact sums of their minutes.
std::vector<KLineRecord> FiveMinuteBars(const std::vector<KLineRecord>& minutes) {
    std::vector<KLineRecord> out;
    int current = -1;
    double volume = 0, amount = 0;
    auto finish = [&] {
        if (out.empty()) return;
        out.back().volume = static_cast<float>(volume);
        out.back().amount = static_cast<float>(amount);
    };
    for (const KLineRecord& m : minutes) {
        int slot = BarSlotOfTime(kPeriodMin5, TimeOfDay(m.time));
        if (slot != current) {
            finish();
            KLineRecord bar = m;
            bar.time = StartOfDay(m.time) + BarSlotLabel(kPeriodMin5, slot);
            out.push_back(bar);
            current = slot;
            volume = m.volume;
            amount = m.amount;
            continue;
        }
        KLineRecord& bar = out.back();
        // Copies: packed fields must not bind to std::max's references.
        const float barHigh = bar.high, barLow = bar.low, high = m.high, low = m.low;
        bar.high = std::max(barHigh, high);
        bar.low = std::min(barLow, low);
        bar.close = m.close;
        volume += m.volume;
        amount += m.amount;
        bar.count1 = static_cast<uint16_t>(std::min(65535, bar.count1 + m.count1));
        bar.count2 = m.count2;
    }
    finish();
    return out;
}

// The day bar that its minutes add up to (sums in double, as above).
KLineRecord DayOfMinutes(const std::vector<KLineRecord>& minutes, StoreTime day, uint16_t c1, uint16_t c2) {
    KLineRecord bar;
    bar.time = day;
    bar.open = minutes.front().open;
    bar.close = minutes.back().close;
    float high = minutes.front().high, low = minutes.front().low;
    double volume = 0, amount = 0;
    for (const KLineRecord& m : minutes) {
        const float mHigh = m.high, mLow = m.low;
        high = std::max(high, mHigh);
        low = std::min(low, mLow);
        volume += m.volume;
        amount += m.amount;
    }
    bar.high = high;
    bar.low = low;
    bar.volume = static_cast<float>(volume);
    bar.amount = static_cast<float>(amount);
    bar.count1 = c1;
    bar.count2 = c2;
    return bar;
}

FinanceBlock FinanceFor(const DemoSecurity& sec, const GeneratedSecurity& g, StoreTime today, Random& r) {
    FinanceBlock f;
    if (g.capital.empty()) return f;
    const CapitalChange& cap = g.capital.back();
    double price = g.days.back().close;
    double totalWan = cap.total / 100.0, circWan = cap.circulating / 100.0;  // 万股
    float* x = f.figures;
    x[0] = static_cast<float>(totalWan);                                                  // 总股本
    x[1] = static_cast<float>((totalWan - circWan) * 0.6);                                // 国家股
    x[2] = static_cast<float>((totalWan - circWan) * 0.3);                                // 发起法人股
    x[3] = static_cast<float>((totalWan - circWan) * 0.1);                                // 法人股
    if (sec.securityClass == kClassBShare) x[4] = static_cast<float>(circWan);            // B股
    else x[6] = static_cast<float>(circWan);                                              // 流通A股
    double bookPerShare = price / r.uniform(1.0, 6.0);
    double eps = price / r.uniform(8.0, 60.0) * (r.uniform() < 0.1 ? -0.3 : 1.0);
    double equity = bookPerShare * totalWan * 10;  // 千元: 万股 x yuan x 10
    x[9] = static_cast<float>(equity * r.uniform(1.5, 8.0));                             // 总资产
    x[10] = x[9] * 0.45f, x[11] = x[9] * 0.3f, x[12] = x[9] * 0.03f, x[13] = x[9] * 0.1f;
    x[14] = static_cast<float>((x[9] - equity) * 0.7), x[15] = static_cast<float>((x[9] - equity) * 0.3);
    x[16] = static_cast<float>(equity * 0.25);                                            // 资本公积金
    x[17] = static_cast<float>(bookPerShare * 0.25);                                      // 每股公积金
    x[18] = static_cast<float>(equity);                                                   // 股东权益
    double profit = eps * totalWan * 10;
    x[19] = static_cast<float>(std::fabs(profit) * r.uniform(4, 12));                     // 主营收入
    x[20] = static_cast<float>(x[19] * 0.3), x[21] = static_cast<float>(profit * 0.02);
    x[22] = static_cast<float>(profit * 1.1), x[23] = static_cast<float>(profit * 0.05);
    x[24] = static_cast<float>(std::fabs(profit) * 0.01), x[25] = static_cast<float>(profit * -0.01);
    x[27] = static_cast<float>(profit * 1.25), x[28] = static_cast<float>(profit), x[29] = static_cast<float>(profit);
    x[30] = static_cast<float>(equity * 0.2), x[31] = static_cast<float>(bookPerShare * 0.2);
    x[32] = static_cast<float>(std::round(eps * 1000) / 1000);                           // 每股收益
    x[33] = static_cast<float>(bookPerShare), x[34] = static_cast<float>(bookPerShare * 0.98);
    x[35] = static_cast<float>(equity / x[9] * 100), x[36] = static_cast<float>(profit / equity * 100);
    f.reportKind = static_cast<float>(r.below(5));
    f.updateDate = static_cast<uint32_t>(UnixFromStoreTime(today - static_cast<StoreTime>(r.below(90) + 20) * 86400));
    return f;
}

// ---- Base files --------------------------------------------------------------------------

struct BaseFiles {
    std::map<std::string, std::pair<SecurityId, std::vector<ExRightsRecord>>> power;
    std::vector<std::pair<SecurityId, FinanceBlock>> finance;
    std::vector<std::pair<SecurityId, std::vector<CapitalChange>>> capital;
};

bool WritePower(const std::string& path, const BaseFiles& files) {
    ByteWriter w;
    w.put<uint32_t>(0xFF43C832).put<uint32_t>(0xFFCC83DD);
    for (const auto& [key, group] : files.power) {
        w.put<uint32_t>(0xFFFFFFFF).write(group.first).put<uint32_t>(0);
        for (const ExRightsRecord& e : group.second) w.write(e);
    }
    return WriteFileAtomic(path, w.data());
}

bool WriteFinance(const std::string& path, const BaseFiles& files) {
    ByteWriter w;
    w.put<uint32_t>(0x223FD90C).put<uint32_t>(166);
    for (const auto& [id, f] : files.finance) {
        w.put<uint16_t>(id.market).put<uint16_t>(static_cast<uint16_t>(f.reportKind));
        w.fixedText(id.codeText(), 10);
        w.put<uint32_t>(f.updateDate);
        for (float v : f.figures) w.put<float>(v);
    }
    return WriteFileAtomic(path, w.data());
}

bool WriteCapitalChanges(const std::string& path, const BaseFiles& files) {
    uint32_t records = 0;
    for (const auto& entry : files.capital) records += static_cast<uint32_t>(entry.second.size());
    ByteWriter w;
    w.bytes(std::string_view("GBBG")).put<uint32_t>(static_cast<uint32_t>(files.capital.size())).put<uint32_t>(records);
    w.put<uint16_t>(20050).put<uint16_t>(0);
    for (const auto& [id, changes] : files.capital) {
        w.put<uint16_t>(0).put<uint16_t>(static_cast<uint16_t>(changes.size())).put<uint16_t>(id.market);
        std::string code(id.codeText());
        code.resize(6, '\0');  // char[6], no terminator
        w.bytes(std::string_view(code));
        for (const CapitalChange& c : changes) {
            CivilDate d = CivilFromDay(static_cast<int32_t>(StoreDay(c.day)));
            w.put<uint16_t>(static_cast<uint16_t>(d.year)).put<uint8_t>(static_cast<uint8_t>(d.month));
            w.put<uint8_t>(static_cast<uint8_t>(d.day)).zeros(4);
            w.put<float>(c.total / 100).put<float>(c.circulating / 100).zeros(12);
        }
    }
    return WriteFileAtomic(path, w.data());
}

constexpr std::string_view kDuoyin =
    "; Polyphonic characters: the initials of every reading\n"
    "长=CZ\n行=HX\n重=ZC\n乐=LY\n银=Y\n发=F\n厦=XS\n朝=CZ\n解=JX\n单=DS\n"
    "藏=CZ\n调=DT\n传=CZ\n广=GA\n大=DT\n";

bool Fail(std::string* error, std::string message) {
    if (error) *error = std::move(message);
    return false;
}

// ---- Server blocks ------------------------------------------------------------------

constexpr const char* kDemoIndustries[kDemoIndustryBlocks] = {
    "银行", "证券", "保险", "房地产", "建筑", "钢铁", "有色金属", "煤炭", "石油", "化工",
    "电力", "汽车", "家电", "食品饮料", "医药", "电子", "通信", "计算机", "传媒", "机械",
    "军工", "农业", "纺织服装", "商业百货", "交通运输", "港口航运", "建材", "旅游酒店", "环保", "综合"};
constexpr const char* kDemoConcepts[kDemoConceptBlocks] = {
    "新能源", "芯片", "人工智能", "5G", "锂电池", "光伏", "稀土永磁", "大数据", "国企改革", "一带一路"};

// Industry blocks with index codes 999100.., each A share in one of them (round
// robin); concept blocks of about one A share in eight, drawn per block; a few
// A shares in "自选股1".
bool WriteDemoBlocks(const AppPaths& paths, const std::vector<DemoSecurity>& securities, uint64_t seed, int* written) {
    std::vector<SecurityId> shares;
    for (const DemoSecurity& s : securities)
        if (s.securityClass == kClassAShare) shares.push_back(s.id);
    auto write = [&](BlockFileData& b) {
        std::string path = BlockFilePath(paths, b.name);
        if (path.empty() || !WriteBlockFile(path, b)) return false;
        ++*written;
        return true;
    };
    for (int i = 0; i < kDemoIndustryBlocks; ++i) {
        BlockFileData b;
        b.setting = kBlockServer;
        b.name = Gbk(kDemoIndustries[i]);
        b.category = Gbk("行业");
        b.indexCode = std::to_string(999100 + i);
        for (size_t k = static_cast<size_t>(i); k < shares.size(); k += kDemoIndustryBlocks) b.members.push_back(shares[k]);
        if (!write(b)) return false;
    }
    for (int i = 0; i < kDemoConceptBlocks; ++i) {
        BlockFileData b;
        b.setting = kBlockServer;
        b.name = Gbk(kDemoConcepts[i]);
        b.category = Gbk("概念");
        Random r(Mix(seed, 0xB10C0000u + static_cast<uint64_t>(i)));
        for (const SecurityId& id : shares)
            if (r.below(8) == 0) b.members.push_back(id);
        if (!write(b)) return false;
    }
    BlockFileData self;
    self.setting = kBlockSelf;
    self.name = Gbk("自选股1");
    for (size_t k = 0; k < shares.size() && self.members.size() < 5; k += std::max<size_t>(1, shares.size() / 5))
        self.members.push_back(shares[k]);
    return write(self);
}

}  // namespace

// ---- Calendar ---------------------------------------------------------------------------

bool IsDemoHoliday(const CivilDate& date) {
    if (date.month == 1 && date.day == 1) return true;
    if (date.month == 5 && date.day <= 3) return true;
    if (date.month == 10 && date.day <= 7) return true;
    int32_t day = DayFromCivil(date);
    for (const CivilDate& festival : kSpringFestival) {
        int32_t start = DayFromCivil(festival) - 1;  // New Year's Eve
        if (day >= start && day < start + 7) return true;
    }
    return false;
}

bool IsDemoTradingDay(const CivilDate& date) {
    int w = WeekdayOfDay(DayFromCivil(date));
    return w != 0 && w != 6 && !IsDemoHoliday(date);
}

std::vector<StoreTime> DemoTradingDays(const CivilDate& day, int count) {
    std::vector<StoreTime> out;
    int32_t d = DayFromCivil(day);
    count = std::max(0, count);
    while (static_cast<int>(out.size()) <= count && d > 0) {
        CivilDate c = CivilFromDay(d);
        if (IsDemoTradingDay(c)) out.push_back(static_cast<StoreTime>(int64_t{d} * kSecondsPerDay));
        --d;
    }
    std::reverse(out.begin(), out.end());
    return out;
}

std::vector<DemoSecurity> DemoSecurities(int count) {
    std::vector<DemoSecurity> out;
    count = std::max(2, count);
    int indexes = count >= 40 ? 6 : count >= 10 ? 4 : 2;
    for (int i = 0; i < indexes; ++i) {
        DemoSecurity s;
        s.id = MakeSecurityId(kIndexes[i].market, kIndexes[i].code);
        s.securityClass = kClassIndex;
        s.nameGbk = Gbk(kIndexes[i].name);
        s.basePrice = kIndexes[i].base;
        out.push_back(s);
    }
    int rest = count - indexes;
    int n = static_cast<int>(std::size(kRanges));
    std::vector<int> counts(static_cast<size_t>(n));
    int given = 0;
    for (int i = 0; i < n; ++i) {
        int c = static_cast<int>(rest * kRanges[i].weight);
        if (c == 0 && rest >= 2 * n) c = 1;
        c = std::min(c, kRanges[i].last - kRanges[i].first + 1);
        counts[static_cast<size_t>(i)] = c;
        given += c;
    }
    // One of each small range may overshoot: take back from the largest ranges first.
    while (given > rest) {
        int largest = static_cast<int>(std::max_element(counts.begin(), counts.end()) - counts.begin());
        if (counts[static_cast<size_t>(largest)] <= 1) break;
        --counts[static_cast<size_t>(largest)];
        --given;
    }
    // What is left goes to the ranges with room, the A shares first.
    for (int i = 0; given < rest && i < n; ++i) {
        int room = kRanges[i].last - kRanges[i].first + 1 - counts[static_cast<size_t>(i)];
        int add = std::min(room, rest - given);
        counts[static_cast<size_t>(i)] += add;
        given += add;
    }
    // A market file holds at most kMaxSecurities: what one exchange cannot take goes to
    // ranges of the other with room.
    for (MarketCode market : {kMarketSH, kMarketSZ}) {
        int inMarket = 0;
        for (int i = 0; i < indexes; ++i) inMarket += kIndexes[i].market == market;
        for (int i = 0; i < n; ++i) inMarket += kRanges[i].market == market ? counts[static_cast<size_t>(i)] : 0;
        for (int i = 0; inMarket > kMaxSecurities && i < n; ++i) {
            if (kRanges[i].market == market) continue;
            int room = kRanges[i].last - kRanges[i].first + 1 - counts[static_cast<size_t>(i)];
            for (int j = n; j-- > 0 && room > 0 && inMarket > kMaxSecurities;) {
                if (kRanges[j].market != market) continue;
                int move = std::min({room, inMarket - kMaxSecurities, counts[static_cast<size_t>(j)]});
                counts[static_cast<size_t>(j)] -= move;
                counts[static_cast<size_t>(i)] += move;
                room -= move;
                inMarket -= move;
            }
        }
    }
    int k = 0;
    for (int i = 0; i < n; ++i) {
        const CodeRange& range = kRanges[i];
        int c = counts[static_cast<size_t>(i)];
        int span = range.last - range.first + 1;
        for (int j = 0; j < c; ++j) {
            int value = range.first + static_cast<int>(int64_t{j} * span / std::max(c, 1));
            char code[16];
            std::snprintf(code, sizeof code, "%06d", value);
            DemoSecurity s;
            s.id = MakeSecurityId(range.market, code);
            s.securityClass = range.cls;
            s.nameGbk = NameFor(range.cls, k, value);
            Random r(Mix(static_cast<uint64_t>(value), range.market));
            s.basePrice = BasePriceFor(range.cls, r);
            out.push_back(s);
            ++k;
        }
    }
    return out;
}

std::vector<KLineRecord> DemoMinutes(uint64_t seed, StoreTime day, const KLineRecord& dayBar, int decimals,
                                     int lotSize) {
    constexpr int kN = kTradingMinutes;
    Random r(Mix(seed, day));
    // A bridge from open to close.
    std::vector<double> w(kN + 1, 0.0);
    for (int k = 1; k <= kN; ++k) w[k] = w[k - 1] + r.normal();
    double open = dayBar.open, close = dayBar.close, high = dayBar.high, low = dayBar.low;
    double range = std::max(high - low, 1e-9);
    double spread = 0;
    for (int k = 0; k <= kN; ++k) {
        w[k] -= w[kN] * k / kN;
        spread = std::max(spread, std::fabs(w[k]));
    }
    std::vector<double> path(kN + 1);
    for (int k = 0; k <= kN; ++k) {
        double p = open + (close - open) * k / kN + (spread > 0 ? w[k] / spread * range * 0.6 : 0);
        path[k] = std::clamp(p, low, high);
    }
    path[0] = open;
    path[kN] = close;
    std::vector<KLineRecord> minutes(kN);
    for (int k = 0; k < kN; ++k) {
        KLineRecord& m = minutes[static_cast<size_t>(k)];
        m.time = day + BarSlotLabel(kPeriodMin1, k);
        m.open = RoundPrice(path[k], decimals);
        m.close = RoundPrice(path[k + 1], decimals);
        double wiggle = range * 0.05 * std::fabs(r.normal());
        m.high = RoundPrice(std::min(high, std::max(path[k], path[k + 1]) + wiggle), decimals);
        m.low = RoundPrice(std::max(low, std::min(path[k], path[k + 1]) - wiggle), decimals);
        m.high = std::max({m.high, m.open, m.close});
        m.low = std::min({m.low, m.open, m.close});
    }
    minutes.front().open = dayBar.open;
    minutes.back().close = dayBar.close;
    // The day's high and low are traded in the minutes whose closes come nearest.
    size_t hi = 0, lo = 0;
    for (size_t k = 0; k < minutes.size(); ++k) {
        if (minutes[k].high > minutes[hi].high) hi = k;
        if (minutes[k].low < minutes[lo].low) lo = k;
    }
    minutes[hi].high = dayBar.high;
    minutes[lo].low = dayBar.low;
    for (auto& m : minutes) {
        m.high = std::max({m.high, m.open, m.close});
        m.low = std::min({m.low, m.open, m.close});
    }
    // Integer lots over a U-shaped day; amounts at each minute's mean price.
    std::vector<double> weight(kN);
    double sum = 0;
    for (int k = 0; k < kN; ++k) {
        double x = (k - kN / 2.0) / (kN / 2.0);
        weight[static_cast<size_t>(k)] = (1 + 1.5 * x * x) * (0.7 + 0.6 * r.uniform());
        sum += weight[static_cast<size_t>(k)];
    }
    double lots = std::round(std::max(0.0f, dayBar.volume));
    double given = 0;
    for (int k = 0; k < kN; ++k) {
        KLineRecord& m = minutes[static_cast<size_t>(k)];
        double v = k == kN - 1 ? lots - given : std::floor(lots * weight[static_cast<size_t>(k)] / sum);
        given += v;
        m.volume = static_cast<float>(v);
        double mean = (double(m.open) + m.high + m.low + m.close) / 4;
        m.amount = static_cast<float>(v * (lotSize > 0 ? lotSize : 100) * (lotSize > 0 ? mean : 12));
        m.count1 = static_cast<uint16_t>(std::min(65535.0, std::ceil(v / 40.0)));
        m.count2 = dayBar.count2;
    }
    return minutes;
}

namespace {

namespace fs = std::filesystem;

// Moves every entry of `from` into `to`, replacing files of the same name.
bool MoveEntries(const fs::path& from, const fs::path& to) {
    std::error_code ec;
    fs::create_directories(to, ec);
    if (ec) return false;
    std::vector<fs::path> entries;
    for (fs::directory_iterator it(from, ec), end; !ec && it != end; it.increment(ec)) entries.push_back(it->path());
    if (ec) return false;
    for (const fs::path& entry : entries) {
        fs::path target = to / entry.filename();
        if (fs::is_directory(entry, ec) && fs::is_directory(target, ec)) {
            if (!MoveEntries(entry, target)) return false;
        } else {
            fs::rename(entry, target, ec);
            if (ec) return false;
        }
    }
    return true;
}

// Removes the staging directories beside `target` whose generating process is gone.
void RemoveDeadStagingDirectories(const fs::path& target) {
    const std::string prefix = "." + target.filename().string() + ".partial-";
    std::error_code ec;
    for (fs::directory_iterator it(target.parent_path(), ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.rfind(prefix, 0) != 0) continue;
        const std::string pidText = name.substr(prefix.size());
        if (pidText.empty() || pidText.find_first_not_of("0123456789") != std::string::npos) continue;
        const long pid = std::strtol(pidText.c_str(), nullptr, 10);
        if (pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM)) continue;  // still at work
        std::error_code removeError;
        fs::remove_all(it->path(), removeError);
    }
}

bool GenerateInto(const DemoMarketOptions& options, DemoMarketSummary* summary, std::string* error);

}  // namespace

bool GenerateDemoMarket(const DemoMarketOptions& options, DemoMarketSummary* summary, std::string* error) {
    if (options.outDir.empty()) return Fail(error, "no output directory");
    fs::path target = fs::path(options.outDir).lexically_normal();
    if (!target.has_filename()) target = target.parent_path();  // a trailing '/'
    if (target.empty() || !target.has_filename()) return Fail(error, "no output directory");
    std::error_code ec;
    fs::path parent = target.parent_path().empty() ? fs::path(".") : target.parent_path();
    fs::create_directories(parent, ec);
    RemoveDeadStagingDirectories(target.parent_path().empty() ? fs::path(".") / target : target);
    const fs::path staging = parent / ("." + target.filename().string() + ".partial-" + std::to_string(::getpid()));
    fs::remove_all(staging, ec);

    DemoMarketOptions staged = options;
    staged.outDir = staging.string();
    if (!GenerateInto(staged, summary, error)) {
        fs::remove_all(staging, ec);
        return false;
    }
    // Everything but the market first; then the market itself, in one rename.
    std::vector<fs::path> entries;
    for (fs::directory_iterator it(staging, ec), end; !ec && it != end; it.increment(ec))
        if (it->path().filename() != "data") entries.push_back(it->path());
    bool ok = !ec;
    fs::create_directories(target, ec);
    ok = ok && !ec;
    for (const fs::path& entry : entries) {
        if (!ok) break;
        fs::path to = target / entry.filename();
        if (fs::is_directory(entry, ec) && fs::is_directory(to, ec)) {
            ok = MoveEntries(entry, to);
        } else {
            fs::rename(entry, to, ec);
            ok = !ec;
        }
    }
    if (ok) {
        // Without a market for a moment (a cut here leaves none), never with half of one.
        if (fs::exists(target / "data", ec)) fs::rename(target / "data", staging / "data.old", ec);
        if (!ec) fs::rename(staging / "data", target / "data", ec);
        ok = !ec;
    }
    fs::remove_all(staging, ec);
    if (!ok) return Fail(error, "cannot move the generated market into " + target.string());
    return true;
}

namespace {

bool GenerateInto(const DemoMarketOptions& options, DemoMarketSummary* summary, std::string* error) {
    if (options.securities < 2 || options.securities > 8000)
        return Fail(error, "the number of securities must lie between 2 and 8000");
    if (options.days < 1 || options.days > 10000) return Fail(error, "the number of days must lie between 1 and 10000");
    AppPaths paths(options.outDir);
    if (!CreateDirectories(paths.baseDir()) || !CreateDirectories(paths.blockDir()))
        return Fail(error, "cannot create " + paths.baseDir());

    std::vector<StoreTime> dates = DemoTradingDays(options.today, options.days);
    if (dates.size() < 2) return Fail(error, "no trading days before the given date");
    const StoreTime today = dates.back();
    const uint32_t now = std::clamp<uint32_t>(options.now, kSessions[0].start + 60, kSessions[kSessionCount - 1].end);
    const int fiveDays = std::clamp(options.fiveMinuteDays, 0, static_cast<int>(dates.size()) - 1);
    const int oneDays = std::clamp(options.oneMinuteDays, 0, fiveDays);

    // A fresh store over fresh market files.
    for (MarketCode m : {kMarketSH, kMarketSZ, kMarketSystem}) {
        std::error_code ec;
        std::filesystem::remove(paths.marketFile(m), ec);
    }
    SettingsStore settings;
    auto store = std::make_unique<MarketStore>(paths, settings);
    std::string loadError;
    if (!store->LoadAll(&loadError)) return Fail(error, "cannot open the market files: " + loadError);

    std::vector<DemoSecurity> securities = DemoSecurities(options.securities);
    DemoSecurity composite;
    composite.id = MakeSecurityId(kMarketSystem, "999999");
    composite.securityClass = kClassIndex;
    composite.nameGbk = Gbk("沪深A股指数");
    composite.basePrice = 3300;
    securities.push_back(composite);

    BaseFiles base;
    DemoMarketSummary sum;
    sum.today = today;
    sum.tradingDays = static_cast<int>(dates.size()) - 1;
    for (const DemoSecurity& sec : securities) {
        Random r(SeedOf(options.seed, sec.id));
        const int decimals = std::clamp(PriceDecimals(sec.id.market, sec.securityClass, 2), 0, 6);
        const int lot = sec.securityClass == kClassIndex ? 0 : LotSize(sec.securityClass);
        GeneratedSecurity g = GenerateDays(sec, dates, decimals, r);

        // The recent days as their minutes add up; today's minutes for the market file.
        std::vector<KLineRecord> fiveMinute, oneMinute;
        size_t n = g.days.size();
        for (size_t i = n - 1 - static_cast<size_t>(fiveDays); i < n; ++i) {
            KLineRecord& day = g.days[i];
            std::vector<KLineRecord> minutes = DemoMinutes(SeedOf(options.seed, sec.id), day.time, day, decimals, lot);
            day = DayOfMinutes(minutes, day.time, day.count1, day.count2);
            if (i + 1 == n) {
                g.todayMinutes = std::move(minutes);
                break;
            }
            for (const KLineRecord& b : FiveMinuteBars(minutes)) fiveMinute.push_back(b);
            if (i + 1 + static_cast<size_t>(oneDays) >= n)
                oneMinute.insert(oneMinute.end(), minutes.begin(), minutes.end());
        }

        // History up to yesterday, written fresh.
        std::span<const KLineRecord> history(g.days.data(), n - 1);
        for (Period period : {kPeriodDay, kPeriodMin5, kPeriodMin1}) {
            std::error_code ec;
            std::filesystem::remove(paths.historyFile(sec.id, period), ec);
        }
        if (!WriteHistory(paths, sec.id, kPeriodDay, history, true) ||
            (!fiveMinute.empty() && !WriteHistory(paths, sec.id, kPeriodMin5, fiveMinute, true)) ||
            (!oneMinute.empty() && !WriteHistory(paths, sec.id, kPeriodMin1, oneMinute, true)))
            return Fail(error, "cannot write the history of " + SecurityText(sec.id));

        // Today in progress: the quote, the minute slots, the ticks.
        const std::vector<KLineRecord>& minutes = g.todayMinutes;
        std::vector<TickRecord> ticks = TicksOf(minutes, now, lot > 0 ? lot : 100, r);
        std::vector<MinuteSlot> slots = ToSlots(minutes, today, now);
        QuoteUpdate q;
        q.entry.id = sec.id;
        q.entry.securityClass = sec.securityClass;
        q.entry.setName(sec.nameGbk);
        QuoteSnapshot& s = q.snapshot;
        s.prevClose = g.days[n - 2].close;
        double avg5 = 0;
        for (size_t i = n - 1 - std::min<size_t>(5, n - 1); i + 1 < n; ++i) avg5 += g.days[i].volume;
        s.avgVolume5 = static_cast<float>(std::round(avg5 / std::min<size_t>(5, n - 1)));
        s.bar.time = today + now;
        s.bar.open = minutes.front().open;
        s.bar.high = s.bar.low = s.bar.open;
        size_t elapsed = 0;
        double volumeToday = 0, amountToday = 0;
        for (const KLineRecord& m : minutes) {
            if (TimeOfDay(m.time) > now) break;
            // Copies: the packed fields must not bind to std::max's references.
            const float high = m.high, low = m.low, barHigh = s.bar.high, barLow = s.bar.low;
            s.bar.high = std::max(barHigh, high);
            s.bar.low = std::min(barLow, low);
            s.bar.close = m.close;
            volumeToday += m.volume;
            amountToday += m.amount;
            ++elapsed;
        }
        s.bar.volume = static_cast<float>(volumeToday);
        s.bar.amount = static_cast<float>(amountToday);
        s.price5MinAgo = minutes[elapsed > 5 ? elapsed - 6 : 0].close;
        const double step = std::pow(10.0, -decimals);
        const int offset = r.uniform() < 0.5 ? 0 : 1;  // the last trade hit the bid or the ask
        for (int i = 0; i < 5 && lot > 0; ++i) {
            s.book.bidPrice[i] = RoundPrice(s.bar.close - step * (i + offset), decimals);
            s.book.askPrice[i] = RoundPrice(s.bar.close + step * (i + 1 - offset), decimals);
            s.book.bidVolume[i] = static_cast<float>(r.below(500) + 1);
            s.book.askVolume[i] = static_cast<float>(r.below(500) + 1);
        }
        if (!ticks.empty()) {
            const TickRecord& last = ticks.back();
            double prevVolume = ticks.size() > 1 ? ticks[ticks.size() - 2].volume : 0;
            double prevAmount = ticks.size() > 1 ? ticks[ticks.size() - 2].amount : 0;
            s.lastTrade.volume = static_cast<float>(last.volume - prevVolume);
            s.lastTrade.amount = static_cast<float>(last.amount - prevAmount);
            s.lastTrade.direction = last.direction;
            double prevVol = 0;
            for (const TickRecord& t : ticks) {
                double v = t.volume - prevVol;
                prevVol = t.volume;
                (t.direction > 0 ? s.lastTrade.buyVolume : s.lastTrade.sellVolume) += static_cast<float>(v);
            }
        }
        if (!g.capital.empty()) {
            s.capital.circulating = g.capital.back().circulating;
            s.capital.total = g.capital.back().total;
        }
        store->UpdateQuote(q);
        if (!g.capital.empty()) {
            store->SetCapitalBlock(sec.id, s.capital);
            store->SetCapitalChanges(sec.id, g.capital);
            base.capital.push_back({sec.id, g.capital});
        }
        store->UpdateMinutes(sec.id, slots);
        if (!ticks.empty() && !store->AppendTicks(sec.id, ticks))
            return Fail(error, "cannot store the ticks of " + SecurityText(sec.id));
        sum.ticks += static_cast<int64_t>(ticks.size());

        if (!g.events.empty()) {
            std::vector<ExRightsRecord> records;
            for (const Event& e : g.events) records.push_back(e.record);
            store->SetExRights(sec.id, records);
            base.power[SecurityText(sec.id)] = {sec.id, records};
            sum.exRightsEvents += static_cast<int>(records.size());
        }
        if (sec.securityClass != kClassIndex) {
            FinanceBlock f = FinanceFor(sec, g, today, r);
            store->SetFinance(sec.id, f);
            base.finance.push_back({sec.id, f});
        }
        ++sum.securities;
    }

    if (!WritePower(paths.powerFile(), base) || !WriteFinance(paths.financeFile(), base) ||
        !WriteCapitalChanges(paths.capitalChangeFile(), base) ||
        !WriteFileAtomic(paths.polyphonicFile(), Utf8ToGbk(kDuoyin)))
        return Fail(error, "cannot write the base files in " + paths.baseDir());
    if (options.blocks && !WriteDemoBlocks(paths, securities, options.seed, &sum.blocks))
        return Fail(error, "cannot write the blocks in " + paths.blockDir());
    store->SetServerTime(today + now);
    if (!store->SaveAll()) return Fail(error, "cannot save the market files");
    if (summary) *summary = sum;
    return true;
}

}  // namespace

}  // namespace tessaro
