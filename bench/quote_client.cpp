// The quote client's receive path: a 5,000-quote reply (compressed, as the
// server sends it) cut from the byte stream, inflated, decoded and stored into
// a market store of 5,000 securities through the session's main-window handler.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>

#include "client/quote_session.h"
#include "market/market_store.h"
#include "net/decompress.h"
#include "net/login_messages.h"
#include "net/realtime_messages.h"
#include "platform/settings_store.h"

namespace tessaro {
namespace {

struct NullTransport : ClientTransport {
    void Connect(const std::string&, uint16_t) override {}
    void Send(ByteSpan) override {}
    void Close() override {}
};

void BM_QuoteReplyIntoStore(benchmark::State& state) {
    std::string pattern = (std::filesystem::temp_directory_path() / "tessaro-bench-XXXXXX").string();
    std::string dir = ::mkdtemp(pattern.data());
    {
        AppPaths paths(dir);
        SettingsStore settings;
        MarketStore store(paths, settings);
        store.LoadAll();
        NullTransport net;
        QuoteSession session(ClientContext{paths, &store, nullptr, &settings, nullptr}, net, {});
        session.Connect(ConnectTarget{"b", "127.0.0.1", 1, {}}, {"guest", "x"}, 0);
        session.OnConnected(0);
        LoginReply login;
        login.window = QuoteSession::kMainWindow;
        session.OnBytes(*EncodeReply(login, false), 0);

        const uint32_t wire = 1749780000;  // 2025-06-13 10:00 market time
        auto reply = [&](float shift) {
            QuoteReply r;
            r.window = QuoteSession::kMainWindow;
            for (uint32_t i = 0; i < 5000; ++i) {
                QuoteSnapshot s{};
                s.bar.time = WireToStoreTime(wire + i % 60);
                s.prevClose = 10 + float(i % 97) * 0.1f;
                s.bar.open = s.bar.high = s.bar.low = s.bar.close = s.prevClose + shift;
                s.bar.volume = 1000 + float(i) + shift;
                s.bar.amount = s.bar.volume * 100 * s.bar.close;
                SecurityHandle h = i < 2500 ? 1600000 + i : i - 2499;
                r.quotes.push_back(EncodeQuoteRecord(h, s));
            }
            return *EncodeReply(r, true);
        };
        Bytes first = reply(0), second = reply(0.01f);
        session.OnBytes(first, 1);  // the securities exist from here on
        bool flip = false;
        for (auto _ : state) {
            session.OnBytes(flip ? first : second, 1);
            flip = !flip;
        }
        state.counters["securities"] = double(store.SecurityCount(kMarketSH) + store.SecurityCount(kMarketSZ));
        state.counters["packet_bytes"] = double(first.size());
    }
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_QuoteReplyIntoStore)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace
}  // namespace tessaro

BENCHMARK_MAIN();
