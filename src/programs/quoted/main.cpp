// tessaro-quoted: serves the market of an application directory over the quote
// protocol on loopback, with a simulated trading session and a fault plan.
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "market/history.h"
#include "market/market_store.h"
#include "server/quote_server.h"
#include "session/session.h"

using namespace tessaro;

namespace {

constexpr char kUsage[] =
    "usage: tessaro-quoted --appdir DIR [--listen 127.0.0.1:PORT] [--speed N] [--start HH:MM]\n"
    "                      [--seed S] [--accounts FILE] [--fault FAULT]...\n";

constexpr char kHelp[] =
    "Serves the market of an application directory (as `tessaro-cli gen` writes it) over\n"
    "the quote protocol, with a simulated trading session.\n"
    "\n"
    "Options:\n"
    "  --appdir DIR        the application directory (else TESSARO_HOME, the stored path, the default)\n"
    "  --listen HOST:PORT  address to listen on (default 127.0.0.1:6051; port 0 picks a free port).\n"
    "                      Once listening, prints `listening HOST:PORT` on stdout.\n"
    "  --speed N           market seconds per wall second (default 1)\n"
    "  --start HH:MM       market time of day to start at (default: the present time in China)\n"
    "  --seed S            seed of the simulated trading (default 1); a seed and a speed give\n"
    "                      the same quotes every run\n"
    "  --accounts FILE     INI file whose section [accounts] holds name=password lines;\n"
    "                      without it the only account is guest\n"
    "  --fault FAULT       inject a fault (repeatable):\n"
    "                        split=1         write every packet one byte at a time\n"
    "                        split=random    write every packet in random pieces\n"
    "                        delay=MS        wait MS milliseconds before each reply\n"
    "                        drop-after=N    close a connection after N packets\n"
    "                        close-at=CODE   close instead of answering request CODE (e.g. 0xA003)\n"
    "                        refuse-login=TEXT  refuse every login with TEXT\n"
    "                        garble=CODE     answer request CODE with a payload too short to read\n"
    "                        silent          accept connections and never answer\n"
    "\n"
    "Operator commands, one per line on stdin (#ID is a client number from `list`;\n"
    "without it a command reaches every logged-in client):\n"
    "  notice [#ID] TEXT   send TEXT as a server notice\n"
    "  close [#ID]         tell the client(s) the server closes, then disconnect\n"
    "  reinit [#ID]        tell the client(s) the server reinitialises, then disconnect\n"
    "  list                list the connections\n"
    "  quit                close every client and end\n"
    "\n"
    "SIGTERM and SIGINT end the server cleanly. Exit status: 0 after a clean end,\n"
    "1 when the market cannot be opened or the address cannot be bound, 2 on a usage error.\n";

int Usage(const std::string& message) {
    if (!message.empty()) std::fprintf(stderr, "tessaro-quoted: %s\n", message.c_str());
    std::fputs(kUsage, stderr);
    return 2;
}

bool ParseUnsigned(std::string_view s, uint64_t& out) {
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    return !s.empty() && ec == std::errc() && p == s.data() + s.size();
}

void Log(const std::string& line) {
    std::fprintf(stderr, "tessaro-quoted: %s\n", line.c_str());
    std::fflush(stderr);
}

}  // namespace

int main(int argc, char** argv) {
    std::optional<std::string> appDir, accounts;
    QuoteServerOptions options;
    options.port = 6051;
    std::optional<uint32_t> start;
    uint64_t seed = 1;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (i + 1 >= argc) return Usage("unknown option or missing value: " + a);
        std::string v = argv[++i];
        if (a == "--appdir") appDir = v;
        else if (a == "--accounts") accounts = v;
        else if (a == "--listen") {
            size_t colon = v.rfind(':');
            uint64_t port = 0;
            if (colon == std::string::npos || !ParseUnsigned(std::string_view(v).substr(colon + 1), port) || port > 65535)
                return Usage("--listen takes HOST:PORT");
            options.host = v.substr(0, colon);
            options.port = static_cast<uint16_t>(port);
        } else if (a == "--speed") {
            char* end = nullptr;
            double speed = std::strtod(v.c_str(), &end);
            if (!end || *end || !(speed > 0) || speed > 100000) return Usage("--speed takes a number above 0");
            options.speed = speed;
        } else if (a == "--start") {
            unsigned h = 0, m = 0;
            char extra = 0;
            if (std::sscanf(v.c_str(), "%2u:%2u%c", &h, &m, &extra) != 2 || h > 23 || m > 59)
                return Usage("--start takes HH:MM");
            start = h * 3600 + m * 60;
        } else if (a == "--seed") {
            if (!ParseUnsigned(v, seed)) return Usage("--seed takes a number");
        } else if (a == "--fault") {
            std::string error;
            if (!ParseFault(v, options.config.faults, &error)) return Usage(error);
        } else {
            return Usage("unknown option " + a);
        }
    }
    if (accounts) {
        std::string error;
        if (!LoadAccountsFile(*accounts, options.config.accounts, &error)) {
            Log(error);
            return 1;
        }
    }

    // The market is only read; day bars go to the history files under their own locks,
    // so the market files a desktop client shares with the server are never rewritten here.
    SessionOptions so;
    so.appDir = appDir;
    so.access = SessionAccess::ReadOnly;
    so.data = kSessionMarkets;
    so.requireMarket = true;
    Session session(so);
    if (!session.Start()) {
        Log("cannot open the market: " + session.error());
        return 1;
    }
    SimMarket market(seed);
    market.LoadFrom(session.store());
    if (market.size() == 0) {
        Log("the market of " + session.appDir() + " holds no security");
        return 1;
    }
    StoreTime day = StartOfDay(session.store().CurrentTradingDate());
    uint32_t second = start ? *start : TimeOfDay(NowStoreTime());
    market.Open(day, second);

    const AppPaths& paths = session.paths();  // the session outlives the server
    QuoteServer server(market, ServerFiles(paths), options, Log);
    server.SetDayClosed([&paths, &market](StoreTime, const std::vector<std::pair<int, KLineRecord>>& bars) {
        int failed = 0;
        for (const auto& [i, bar] : bars)
            if (!WriteHistory(paths, market.at(i).id, kPeriodDay, std::span<const KLineRecord>(&bar, 1), true)) ++failed;
        if (failed) Log(std::to_string(failed) + " day bar(s) could not be written");
    });
    std::string error;
    if (!server.Listen(&error)) {
        Log(error);
        return 1;
    }
    Log("market " + session.appDir() + ": " + std::to_string(market.size()) + " securities, day " +
        FormatStoreTime("Y-M-D", market.day()) + ", clock " + FormatStoreTime("H:N:S", market.now()) +
        " (due at unix ms " +
        std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(
                           server.clockOriginWall().time_since_epoch()).count()) +
        "), speed " + std::to_string(options.speed) + ", seed " + std::to_string(seed));
    std::printf("listening %s:%u\n", options.host.c_str(), static_cast<unsigned>(server.port()));
    std::fflush(stdout);

    // Operator commands from stdin; the loop polls so that it ends with the server.
    std::atomic<bool> done{false};
    std::thread operatorThread([&] {
        std::string pending;
        char buf[4096];
        while (!done.load()) {
            pollfd pfd{0, POLLIN, 0};
            int r = ::poll(&pfd, 1, 200);
            if (r <= 0) continue;
            ssize_t n = ::read(0, buf, sizeof buf);
            if (n <= 0) break;  // stdin closed: the server goes on
            pending.append(buf, static_cast<size_t>(n));
            size_t nl;
            while ((nl = pending.find('\n')) != std::string::npos) {
                std::string line = pending.substr(0, nl);
                pending.erase(0, nl + 1);
                if (!line.empty() && line.back() == '\r') line.pop_back();
                server.Post([&server, line] {
                    std::string reply = server.Command(line);
                    if (!reply.empty()) Log(reply);
                });
            }
        }
    });
    server.Run(true);
    done = true;
    operatorThread.join();
    Log("stopped");
    return 0;
}
