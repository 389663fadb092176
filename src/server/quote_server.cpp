#include "server/quote_server.h"

#include <asio.hpp>

#include <algorithm>
#include <deque>
#include <random>
#include <sstream>

#include "platform/text.h"

namespace tessaro {

struct QuoteServer::Impl {
    asio::io_context io{1};
    asio::ip::tcp::acceptor acceptor{io};
    asio::steady_timer clock{io};
    std::optional<asio::signal_set> signals;
};

struct QuoteServer::Connection {
    Connection(asio::io_context& io, const ServerContext& ctx, uint64_t connectionId, std::string peerName)
        : socket(io), delay(io), session(ctx, peerName), id(connectionId) {}
    asio::ip::tcp::socket socket;
    asio::steady_timer delay;
    ServerSession session;
    uint64_t id;
    std::array<uint8_t, 65536> buffer{};
    std::deque<Bytes> queue;
    size_t queuedBytes = 0;
    size_t offset = 0;  // bytes of the head packet written
    bool writing = false;
    bool delayed = false;  // the head packet has waited its delay
    bool open = true;
    uint64_t packetsSent = 0;
    std::minstd_rand splitRandom;
};

QuoteServer::QuoteServer(SimMarket& market, ServerFiles files, QuoteServerOptions options, LogFn log)
    : impl_(std::make_unique<Impl>()),
      market_(market),
      files_(std::move(files)),
      options_(std::move(options)),
      log_(std::move(log)) {
    context_.config = &options_.config;
    context_.market = &market_;
    context_.files = &files_;
    if (!log_) log_ = [](const std::string&) {};
}

QuoteServer::~QuoteServer() {
    Stop();
    if (thread_.joinable()) thread_.join();
}

bool QuoteServer::Listen(std::string* error) {
    asio::error_code ec;
    asio::ip::address address = asio::ip::make_address(options_.host, ec);
    if (ec) {
        if (error) *error = "bad listen address " + options_.host;
        return false;
    }
    asio::ip::tcp::endpoint endpoint(address, options_.port);
    auto& acceptor = impl_->acceptor;
    acceptor.open(endpoint.protocol(), ec);
    if (!ec) acceptor.set_option(asio::ip::tcp::acceptor::reuse_address(true), ec);
    if (!ec) acceptor.bind(endpoint, ec);
    if (!ec) acceptor.listen(asio::socket_base::max_listen_connections, ec);
    if (ec) {
        if (error) *error = "cannot listen on " + options_.host + ":" + std::to_string(options_.port) + ": " + ec.message();
        return false;
    }
    port_ = acceptor.local_endpoint().port();
    Accept();
    wallBase_ = std::chrono::steady_clock::now();
    clockBase_ = market_.now();
    ScheduleTick();
    return true;
}

void QuoteServer::Run(bool handleSignals) {
    if (handleSignals) {
        impl_->signals.emplace(impl_->io, SIGINT, SIGTERM);
        impl_->signals->async_wait([this](const asio::error_code& ec, int signal) {
            if (ec) return;
            log_(std::string("signal ") + (signal == SIGINT ? "SIGINT" : "SIGTERM") + ": closing every client");
            CloseAll();
        });
    }
    impl_->io.run();
}

void QuoteServer::Start() {
    thread_ = std::thread([this] { impl_->io.run(); });
}

void QuoteServer::Post(std::function<void()> fn) { asio::post(impl_->io, std::move(fn)); }

void QuoteServer::Stop() {
    if (impl_->io.stopped()) return;
    asio::post(impl_->io, [this] { CloseAll(); });
    if (thread_.joinable() && std::this_thread::get_id() != thread_.get_id()) thread_.join();
}

void QuoteServer::CloseAll() {
    if (stopping_) return;
    stopping_ = true;
    asio::error_code ec;
    impl_->acceptor.close(ec);
    impl_->clock.cancel();
    if (impl_->signals) impl_->signals->cancel(ec);
    std::vector<std::shared_ptr<Connection>> all;
    for (auto& [id, c] : connections_) all.push_back(c);
    for (auto& c : all) Drop(c, "server shutting down");
    impl_->io.stop();
}

void QuoteServer::Accept() {
    impl_->acceptor.async_accept([this](const asio::error_code& ec, asio::ip::tcp::socket socket) {
        if (ec) {
            if (ec != asio::error::operation_aborted && !stopping_) {
                log_("accept failed: " + ec.message());
                Accept();
            }
            return;
        }
        asio::error_code e2;
        asio::ip::tcp::endpoint remote = socket.remote_endpoint(e2);
        std::string peer = e2 ? "?" : remote.address().to_string() + ":" + std::to_string(remote.port());
        socket.set_option(asio::ip::tcp::no_delay(true), e2);
        uint64_t id = nextId_++;
        auto c = std::make_shared<Connection>(impl_->io, context_, id, peer);
        c->socket = std::move(socket);
        c->splitRandom.seed(static_cast<uint32_t>(id));
        connections_[id] = c;
        connectionCount_.store(connections_.size(), std::memory_order_relaxed);
        log_("connect #" + std::to_string(id) + " " + peer);
        StartReading(c);
        Accept();
    });
}

void QuoteServer::StartReading(const std::shared_ptr<Connection>& c) {
    c->socket.async_read_some(asio::buffer(c->buffer), [this, c](const asio::error_code& ec, size_t n) {
        if (!c->open) return;
        if (ec) {
            Drop(c, ec == asio::error::eof ? "closed by the client" : "read error: " + ec.message());
            return;
        }
        bool wasLoggedIn = c->session.loggedIn();
        bool ok = c->session.Feed(ByteSpan(c->buffer.data(), n));
        if (!wasLoggedIn && c->session.loggedIn())
            log_("login #" + std::to_string(c->id) + " " + GbkToUtf8(c->session.account()));
        Flush(c);
        if (!ok) {
            Drop(c, c->session.closeReason());
            return;
        }
        if (c->open) StartReading(c);
    });
}

void QuoteServer::Flush(const std::shared_ptr<Connection>& c) {
    if (!c->open) return;
    for (Bytes& packet : c->session.TakeOutput()) {
        c->queuedBytes += packet.size();
        c->queue.push_back(std::move(packet));
    }
    if (c->queuedBytes > options_.config.maxSendQueue) {
        Drop(c, "send queue past " + std::to_string(options_.config.maxSendQueue) + " bytes (slow reader)");
        return;
    }
    if (!c->writing) WriteNext(c);
}

void QuoteServer::WriteNext(const std::shared_ptr<Connection>& c) {
    if (!c->open) return;
    if (c->queue.empty()) {
        c->writing = false;
        if (c->session.closeAfterFlush()) Drop(c, "closed by the server");
        return;
    }
    c->writing = true;
    const FaultPlan& faults = options_.config.faults;
    if (faults.delayMs && !c->delayed && c->offset == 0) {
        c->delay.expires_after(std::chrono::milliseconds(faults.delayMs));
        c->delay.async_wait([this, c](const asio::error_code& ec) {
            if (ec || !c->open) return;
            c->delayed = true;
            WriteNext(c);
        });
        return;
    }
    if (faults.split == FaultPlan::Split::None && !faults.delayMs && !faults.dropAfter) {
        // Everything queued in one gathered write: one system call per tick, not per packet.
        std::vector<asio::const_buffer> buffers;
        size_t count = std::min<size_t>(c->queue.size(), 256);
        buffers.reserve(count);
        for (size_t k = 0; k < count; ++k) {
            const Bytes& p = c->queue[k];
            buffers.emplace_back(p.data() + (k == 0 ? c->offset : 0), p.size() - (k == 0 ? c->offset : 0));
        }
        asio::async_write(c->socket, buffers, [this, c, count](const asio::error_code& ec, size_t) {
            if (!c->open) return;
            if (ec) {
                Drop(c, "write error: " + ec.message());
                return;
            }
            for (size_t k = 0; k < count; ++k) {
                c->queuedBytes -= c->queue.front().size();
                c->queue.pop_front();
            }
            c->offset = 0;
            c->packetsSent += count;
            WriteNext(c);
        });
        return;
    }
    const Bytes& head = c->queue.front();
    size_t left = head.size() - c->offset;
    size_t piece = left;
    if (faults.split == FaultPlan::Split::OneByte) piece = 1;
    else if (faults.split == FaultPlan::Split::Random)
        piece = std::min(left, 1 + static_cast<size_t>(c->splitRandom() % std::max<size_t>(1, left)));
    asio::async_write(c->socket, asio::buffer(head.data() + c->offset, piece),
                      [this, c](const asio::error_code& ec, size_t n) {
                          if (!c->open) return;
                          if (ec) {
                              Drop(c, "write error: " + ec.message());
                              return;
                          }
                          c->offset += n;
                          if (c->offset >= c->queue.front().size()) {
                              c->queuedBytes -= c->queue.front().size();
                              c->queue.pop_front();
                              c->offset = 0;
                              c->delayed = false;
                              ++c->packetsSent;
                              uint32_t dropAfter = options_.config.faults.dropAfter;
                              if (dropAfter && c->packetsSent >= dropAfter) {
                                  Drop(c, "fault drop-after " + std::to_string(dropAfter));
                                  return;
                              }
                          }
                          WriteNext(c);
                      });
}

void QuoteServer::Drop(const std::shared_ptr<Connection>& c, const std::string& reason) {
    if (!c->open) return;
    c->open = false;
    asio::error_code ec;
    c->socket.shutdown(asio::ip::tcp::socket::shutdown_both, ec);
    c->socket.close(ec);
    c->delay.cancel();
    c->queue.clear();
    connections_.erase(c->id);
    connectionCount_.store(connections_.size(), std::memory_order_relaxed);
    log_("close #" + std::to_string(c->id) + " " + c->session.peer() + ": " + reason);
}

void QuoteServer::ScheduleTick() {
    // One market second per tick, at most 100 ticks a wall second.
    double seconds = std::max(0.01, 1.0 / std::max(options_.speed, 1e-6));
    auto interval = std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(seconds));
    impl_->clock.expires_at(wallBase_ + interval * static_cast<int64_t>(ticks_ + 1));
    impl_->clock.async_wait([this](const asio::error_code& ec) {
        if (ec || stopping_) return;
        ++ticks_;
        Tick();
        ScheduleTick();
    });
}

void QuoteServer::Tick() {
    auto elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBase_).count();
    // Market seconds that are due; the clock never runs backwards.
    StoreTime target = clockBase_ + static_cast<StoreTime>(elapsed * options_.speed);
    StoreTime before = market_.now();
    if (target <= before) return;
    int minuteBefore = TradingMinuteOf(TimeOfDay(before));
    std::vector<char> changed(market_.size(), 0);
    bool any = false;
    market_.AdvanceTo(
        target,
        [&](int i) {
            changed[i] = 1;
            any = true;
        },
        [this](StoreTime day, const std::vector<std::pair<int, KLineRecord>>& bars) {
            log_("close of day " + FormatStoreTime("Y-M-D", day) + ": " + std::to_string(bars.size()) +
                 " day bars");
            if (dayClosed_) dayClosed_(day, bars);
        });
    // A night passed: the clock runs on from the new day's opening.
    if (market_.now() < before || StartOfDay(market_.now()) != StartOfDay(before)) {
        clockBase_ = market_.now();
        wallBase_ = std::chrono::steady_clock::now();
        ticks_ = 0;
    }
    bool newMinute = TradingMinuteOf(TimeOfDay(market_.now())) != minuteBefore;
    if (!any && !newMinute) return;
    context_.load = static_cast<uint32_t>(std::min<size_t>(100, connections_.size() / 10));
    std::vector<std::shared_ptr<Connection>> all;
    all.reserve(connections_.size());
    for (auto& [id, c] : connections_) all.push_back(c);
    uint64_t pushed = 0;
    for (auto& c : all) {
        c->session.OnMarketChanged(changed, newMinute);
        std::vector<Bytes> out = c->session.TakeOutput();
        pushed += out.size();
        for (Bytes& packet : out) {
            c->queuedBytes += packet.size();
            c->queue.push_back(std::move(packet));
        }
        if (c->queuedBytes > options_.config.maxSendQueue) {
            Drop(c, "send queue past " + std::to_string(options_.config.maxSendQueue) + " bytes (slow reader)");
            continue;
        }
        if (!c->writing) WriteNext(c);
    }
    pushes_.fetch_add(pushed, std::memory_order_relaxed);
}

template <class Fn>
size_t QuoteServer::ForClients(uint64_t id, Fn fn) {
    std::vector<std::shared_ptr<Connection>> targets;
    for (auto& [cid, c] : connections_)
        if ((id == 0 || cid == id) && c->session.loggedIn()) targets.push_back(c);
    for (auto& c : targets) {
        fn(c->session);
        Flush(c);
    }
    return targets.size();
}

size_t QuoteServer::Notice(uint64_t id, const std::string& gbkText) {
    return ForClients(id, [&](ServerSession& s) { s.SendNotice(gbkText); });
}

size_t QuoteServer::CloseClient(uint64_t id) {
    return ForClients(id, [](ServerSession& s) { s.SendClose(); });
}

size_t QuoteServer::Reinit(uint64_t id) {
    return ForClients(id, [](ServerSession& s) { s.SendReinit(); });
}

std::vector<std::string> QuoteServer::Connections() const {
    std::vector<std::pair<uint64_t, std::string>> rows;
    for (const auto& [id, c] : connections_)
        rows.emplace_back(id, "#" + std::to_string(id) + " " + c->session.peer() + " " +
                                  (c->session.loggedIn() ? GbkToUtf8(c->session.account()) : "-"));
    std::sort(rows.begin(), rows.end());
    std::vector<std::string> out;
    for (auto& r : rows) out.push_back(std::move(r.second));
    return out;
}

std::string QuoteServer::Command(const std::string& line) {
    std::istringstream in(line);
    std::string verb;
    in >> verb;
    std::string rest;
    std::getline(in, rest);
    std::string_view args = TrimAscii(rest);
    uint64_t id = 0;
    if (!args.empty() && args[0] == '#') {
        size_t end = args.find(' ');
        std::string number(args.substr(1, end == std::string_view::npos ? std::string_view::npos : end - 1));
        try {
            id = std::stoull(number);
        } catch (...) {
            return "bad client number: " + number;
        }
        if (id == 0) return "bad client number: 0";
        args = end == std::string_view::npos ? std::string_view() : TrimAscii(args.substr(end));
    }
    auto reached = [](size_t n) { return "sent to " + std::to_string(n) + " client(s)"; };
    if (verb == "notice") {
        if (args.empty()) return "notice needs a text";
        return reached(Notice(id, Utf8ToGbk(args)));
    }
    if (verb == "close") return reached(CloseClient(id));
    if (verb == "reinit") return reached(Reinit(id));
    if (verb == "list") {
        std::string out;
        for (const std::string& row : Connections()) out += row + "\n";
        return out.empty() ? "no clients" : out.substr(0, out.size() - 1);
    }
    if (verb == "quit") {
        CloseAll();
        return "quitting";
    }
    if (verb.empty()) return "";
    return "unknown command: " + verb + " (notice [#ID] TEXT, close [#ID], reinit [#ID], list, quit)";
}

}  // namespace tessaro
