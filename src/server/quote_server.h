// The quote server's transport: one Asio event loop that accepts loopback
// clients, feeds their bytes to a ServerSession each, runs the simulated
// market's clock and pushes what moved.
//
// Each connection has a bounded receive buffer (in its session) and a bounded
// send queue: a client that does not read is closed once its queue passes the
// bound, so a slow reader cannot grow the server's memory. The fault plan's
// transport faults (split writes, delays, drop after N packets) live here; the
// protocol faults live in the session.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "server/server_config.h"
#include "server/server_session.h"
#include "server/sim_market.h"

namespace asio {
class io_context;
}

namespace tessaro {

struct QuoteServerOptions {
    std::string host = "127.0.0.1";
    uint16_t port = 0;      // 0: a free port
    double speed = 1;       // market seconds per wall second
    ServerConfig config;
};

class QuoteServer {
public:
    using LogFn = std::function<void(const std::string&)>;
    // The day bars of a closed day; the program appends them to the day files.
    using DayClosedFn = SimMarket::DayClosedFn;

    QuoteServer(SimMarket& market, ServerFiles files, QuoteServerOptions options, LogFn log = {});
    ~QuoteServer();
    QuoteServer(const QuoteServer&) = delete;
    QuoteServer& operator=(const QuoteServer&) = delete;

    void SetDayClosed(DayClosedFn fn) { dayClosed_ = std::move(fn); }

    // Binds and listens. False with the reason in *error.
    bool Listen(std::string* error);
    uint16_t port() const { return port_; }

    // Runs the event loop on the calling thread until Stop. With `handleSignals`
    // SIGINT and SIGTERM stop it.
    void Run(bool handleSignals = false);
    // Runs the loop on a thread of its own (tests, the benchmark).
    void Start();
    // Thread-safe: closes every client and the listener, then ends Run.
    void Stop();
    // Thread-safe: runs fn on the event loop.
    void Post(std::function<void()> fn);

    // Operator actions, on the event loop (through Post from other threads).
    // `id` 0 means every client. The result is the number of clients reached.
    size_t Notice(uint64_t id, const std::string& gbkText);
    size_t CloseClient(uint64_t id);
    size_t Reinit(uint64_t id);
    // One line per connection: "#ID PEER ACCOUNT".
    std::vector<std::string> Connections() const;
    // Runs one operator command line ("notice [#ID] TEXT", "close [#ID]",
    // "reinit [#ID]", "list", "quit"); the reply text for the operator.
    std::string Command(const std::string& line);

    // The market second the clock started from and the wall time it was due at
    // (after Listen; moved again when a night passes).
    StoreTime clockOrigin() const { return clockBase_; }
    std::chrono::system_clock::time_point clockOriginWall() const {
        return std::chrono::system_clock::now() -
               std::chrono::duration_cast<std::chrono::system_clock::duration>(std::chrono::steady_clock::now() - wallBase_);
    }

    // Pushes counted since the start (QuoteReply, RankPageReply, FlowPush packets).
    uint64_t pushes() const { return pushes_.load(std::memory_order_relaxed); }
    size_t connectionCount() const { return connectionCount_.load(std::memory_order_relaxed); }

private:
    struct Connection;
    void Accept();
    void StartReading(const std::shared_ptr<Connection>& c);
    void Flush(const std::shared_ptr<Connection>& c);
    void WriteNext(const std::shared_ptr<Connection>& c);
    void Drop(const std::shared_ptr<Connection>& c, const std::string& reason);
    void ScheduleTick();
    void Tick();
    void CloseAll();
    template <class Fn>
    size_t ForClients(uint64_t id, Fn fn);

    struct Impl;
    std::unique_ptr<Impl> impl_;
    SimMarket& market_;
    ServerFiles files_;
    QuoteServerOptions options_;
    ServerContext context_;
    LogFn log_;
    DayClosedFn dayClosed_;
    uint16_t port_ = 0;
    uint64_t nextId_ = 1;
    std::unordered_map<uint64_t, std::shared_ptr<Connection>> connections_;
    std::atomic<uint64_t> pushes_{0};
    std::atomic<size_t> connectionCount_{0};
    std::thread thread_;
    bool stopping_ = false;
    // The clock: market second `clockBase_` was due at wall time `wallBase_`.
    std::chrono::steady_clock::time_point wallBase_;
    StoreTime clockBase_ = 0;
    uint64_t ticks_ = 0;
};

}  // namespace tessaro
