// Decoding a compressed QuoteReply of 5,000 quote records: inflate, read and
// decode every record into the store's input. Target: under 2 ms.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "net/decompress.h"
#include "net/realtime_messages.h"
#include "net/wire_records.h"

namespace tessaro {
namespace {

// A plausible market: prices around 5..50 yuan in 0.01 steps, volumes and
// order books that vary from record to record, so the stream compresses like
// real quotes rather than like zeros.
Bytes MakeWirePacket(int count) {
    std::mt19937 rng(20240315);
    std::uniform_int_distribution<int> cents(500, 5000);
    std::uniform_int_distribution<int> lots(1, 50000);
    QuoteReply reply;
    reply.serial = 1;
    reply.window = 2;
    for (int i = 0; i < count; ++i) {
        QuoteRecord q;
        q.handle = (i % 2 ? 1600000 : 0) + static_cast<uint32_t>(i);
        q.time = 1710466200 + static_cast<uint32_t>(i % 600);
        float last = static_cast<float>(cents(rng)) / 100.0f;
        q.prevClose = last * 0.98f;
        q.open = last * 0.99f;
        q.high = last * 1.02f;
        q.low = last * 0.97f;
        q.last = last;
        q.volume = static_cast<float>(lots(rng)) * 10.0f;
        q.amount = q.volume * last * 100.0f;
        for (int k = 0; k < 5; ++k) {
            q.bidPrice[k] = last - 0.01f * static_cast<float>(k + 1);
            q.askPrice[k] = last + 0.01f * static_cast<float>(k);
            q.bidVolume[k] = static_cast<float>(lots(rng) % 900);
            q.askVolume[k] = static_cast<float>(lots(rng) % 900);
        }
        q.tradeVolume = static_cast<float>(lots(rng) % 100);
        q.tradeDirection = static_cast<int8_t>(i % 3 - 1);
        q.riseSpeedPrice = last * 0.995f;
        q.sellVolume = q.volume * 0.45f;
        q.buyVolume = q.volume * 0.55f;
        q.avgVolume5 = static_cast<float>(lots(rng)) * 9.0f;
        reply.quotes.push_back(q);
    }
    return *EncodeReply(reply, true);
}

// Decodes every record of a read reply into `decoded` (one slot per record), the way the
// quote list takes them in, and keeps the work from the optimiser.
void DecodeQuotes(const QuoteReply& reply, const ClassLookup& classOf, std::vector<DecodedQuote>& decoded) {
    size_t valid = 0;
    for (const QuoteRecord& r : reply.quotes)
        if (DecodeQuoteRecord(r, classOf, decoded[valid])) ++valid;
    benchmark::DoNotOptimize(valid);
    benchmark::DoNotOptimize(decoded.data());
}

void BM_DecodeCompressedQuoteReply(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    Bytes wire = MakeWirePacket(count);
    ClassLookup classOf = [](const SecurityId& id) {
        return static_cast<uint16_t>(id.market == kMarketSH && id.code[0] == '0' ? kClassIndex : kClassAShare);
    };
    std::vector<DecodedQuote> decoded(static_cast<size_t>(count));
    for (auto _ : state) {
        auto normalized = Decompress(wire);
        QuoteReply reply;
        if (!normalized || !reply.Read(*normalized)) {
            state.SkipWithError("decode failed");
            break;
        }
        DecodeQuotes(reply, classOf, decoded);
    }
    state.counters["wire_bytes"] = static_cast<double>(wire.size());
    state.counters["raw_bytes"] = static_cast<double>(count) * sizeof(QuoteRecord);
}
BENCHMARK(BM_DecodeCompressedQuoteReply)->Arg(5000)->Unit(benchmark::kMicrosecond);

// Reading and decoding alone, from an already normalized packet: the codec's own share.
void BM_DecodePlainQuoteReply(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    auto normalized = Decompress(MakeWirePacket(count));
    if (!normalized) {
        state.SkipWithError("inflate failed");
        return;
    }
    ClassLookup classOf = [](const SecurityId&) { return uint16_t{kClassAShare}; };
    std::vector<DecodedQuote> decoded(static_cast<size_t>(count));
    for (auto _ : state) {
        QuoteReply reply;
        if (!reply.Read(*normalized)) {
            state.SkipWithError("read failed");
            break;
        }
        DecodeQuotes(reply, classOf, decoded);
    }
}
BENCHMARK(BM_DecodePlainQuoteReply)->Arg(5000)->Unit(benchmark::kMicrosecond);

// The inflate alone, to see where the time goes.
void BM_InflateQuoteReply(benchmark::State& state) {
    Bytes wire = MakeWirePacket(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        auto normalized = Decompress(wire);
        benchmark::DoNotOptimize(normalized);
    }
}
BENCHMARK(BM_InflateQuoteReply)->Arg(5000)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace tessaro

BENCHMARK_MAIN();
