// Load on tessaro-quoted: N loopback connections, each logged in and subscribed
// to S securities, the session running at --speed for a fixed time. Reports the
// pushes per second, the latency from a simulated trade to its receipt (p50,
// p99), the server's CPU share and its peak RSS.
//
// usage: bench_quoted_load PATH/TO/tessaro-quoted [--connections 1000] [--subscriptions 50]
//        [--speed 10] [--seconds 30] [--securities 400]
//
// The trade of market second s is due at the wall time the server's clock
// reaches s (the server logs the origin of its clock); the latency of a push is
// its receipt minus the due time of the newest quote it carries.
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "market/demo_market.h"
#include "net/decompress.h"
#include "net/login_messages.h"
#include "net/packet_assembler.h"
#include "net/realtime_messages.h"

using namespace tessaro;

namespace {

struct Client {
    int fd = -1;
    PacketAssembler assembler{PacketAssembler::Stream::FromServer, 1};
    bool subscribed = false;
    int quoteReplies = 0;
};

double NowMs() {
    return std::chrono::duration<double, std::milli>(std::chrono::system_clock::now().time_since_epoch()).count();
}

long ReadCpuTicks(pid_t pid) {
    FILE* f = std::fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r");
    if (!f) return -1;
    char buf[4096];
    size_t n = std::fread(buf, 1, sizeof buf - 1, f);
    std::fclose(f);
    buf[n] = 0;
    const char* p = std::strrchr(buf, ')');
    if (!p) return -1;
    long utime = 0, stime = 0;
    // Fields after the name: state(3) ... utime(14) stime(15).
    std::sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %ld %ld", &utime, &stime);
    return utime + stime;
}

long ReadStatusKb(pid_t pid, const char* key) {
    FILE* f = std::fopen(("/proc/" + std::to_string(pid) + "/status").c_str(), "r");
    if (!f) return -1;
    char line[256];
    long value = -1;
    while (std::fgets(line, sizeof line, f))
        if (std::strncmp(line, key, std::strlen(key)) == 0) value = std::atol(line + std::strlen(key) + 1);
    std::fclose(f);
    return value;
}

bool SendMessage(int fd, Message& m, uint32_t serial) {
    m.serial = serial;
    m.window = 1;
    std::optional<Bytes> b = m.Encode();
    if (!b) return false;
    size_t off = 0;
    while (off < b->size()) {
        ssize_t w = ::send(fd, b->data() + off, b->size() - off, MSG_NOSIGNAL);
        if (w <= 0) return false;
        off += static_cast<size_t>(w);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_quoted_load PATH/TO/tessaro-quoted [--connections N] [--subscriptions S] "
                             "[--speed X] [--seconds T] [--securities K]\n");
        return 2;
    }
    std::string quoted = argv[1];
    int connections = 1000, subscriptions = 50, seconds = 30, securities = 400;
    double speed = 10;
    for (int i = 2; i + 1 < argc; i += 2) {
        std::string a = argv[i];
        if (a == "--connections") connections = std::atoi(argv[i + 1]);
        else if (a == "--subscriptions") subscriptions = std::atoi(argv[i + 1]);
        else if (a == "--speed") speed = std::atof(argv[i + 1]);
        else if (a == "--seconds") seconds = std::atoi(argv[i + 1]);
        else if (a == "--securities") securities = std::atoi(argv[i + 1]);
    }
    rlimit lim{};
    getrlimit(RLIMIT_NOFILE, &lim);
    lim.rlim_cur = lim.rlim_max;
    setrlimit(RLIMIT_NOFILE, &lim);

    // The market.
    std::string dir = (std::filesystem::temp_directory_path() / "tessaro-bench-quoted").string();
    std::filesystem::remove_all(dir);
    DemoMarketOptions gen;
    gen.outDir = dir;
    gen.securities = securities;
    gen.days = 5;
    gen.fiveMinuteDays = 1;
    gen.oneMinuteDays = 1;
    std::string error;
    if (!GenerateDemoMarket(gen, nullptr, &error)) {
        std::fprintf(stderr, "cannot generate the market: %s\n", error.c_str());
        return 1;
    }
    uintmax_t mapped = 0;
    for (const char* mk : {"sh", "sz", "$$"}) {
        std::error_code ec;
        uintmax_t n = std::filesystem::file_size(dir + "/data/" + mk + "/stkinfo.dat", ec);
        if (!ec) mapped += n;
    }
    std::vector<SecurityHandle> handles;
    for (const DemoSecurity& s : DemoSecurities(securities))
        if (s.id.market == kMarketSH || s.id.market == kMarketSZ) handles.push_back(EncodeSecurityHandle(s.id));

    // The server, its stdout and stderr through pipes.
    int out[2], err[2];
    if (pipe(out) || pipe(err)) return 1;
    std::string speedText = std::to_string(speed);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        dup2(err[1], 2);
        close(out[0]), close(err[0]);
        execl(quoted.c_str(), quoted.c_str(), "--appdir", dir.c_str(), "--listen", "127.0.0.1:0", "--speed",
              speedText.c_str(), "--start", "09:45", "--seed", "1", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]), close(err[1]);
    FILE* serverOut = fdopen(out[0], "r");
    FILE* serverErr = fdopen(err[0], "r");
    char line[1024];
    double originMs = 0;
    unsigned originH = 0, originM = 0, originS = 0;
    while (std::fgets(line, sizeof line, serverErr)) {
        const char* clock = std::strstr(line, "clock ");
        const char* due = std::strstr(line, "due at unix ms ");
        if (clock && due) {
            std::sscanf(clock, "clock %u:%u:%u", &originH, &originM, &originS);
            originMs = std::atof(due + std::strlen("due at unix ms "));
            break;
        }
    }
    int port = 0;
    if (!std::fgets(line, sizeof line, serverOut) || std::sscanf(line, "listening 127.0.0.1:%d", &port) != 1) {
        std::fprintf(stderr, "the server did not start\n");
        return 1;
    }
    // Keep draining the server's log so that it never blocks on a full pipe.
    fcntl(err[0], F_SETFL, O_NONBLOCK);
    uint32_t originSecond = originH * 3600 + originM * 60 + originS;

    int ep = epoll_create1(0);
    std::vector<Client> clients(connections);
    std::mt19937 random(7);
    int connected = 0;
    for (int k = 0; k < connections; ++k) {
        Client& c = clients[k];
        c.fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(c.fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            std::fprintf(stderr, "connect %d failed: %s\n", k, std::strerror(errno));
            break;
        }
        int one = 1;
        setsockopt(c.fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        Login login;
        login.account = kGuestAccount;
        login.password = kGuestPassword;
        SendMessage(c.fd, login, 1);
        QuoteSubscribe sub;
        sub.tag = "BVIEW";
        std::vector<SecurityHandle> pool = handles;
        std::shuffle(pool.begin(), pool.end(), random);
        pool.resize(std::min<size_t>(pool.size(), subscriptions));
        sub.handles = pool;
        SendMessage(c.fd, sub, 2);
        fcntl(c.fd, F_SETFL, O_NONBLOCK);
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.u32 = static_cast<uint32_t>(k);
        epoll_ctl(ep, EPOLL_CTL_ADD, c.fd, &ev);
        ++connected;
    }

    // Warm up 2 s, then measure.
    std::vector<double> latencies;
    latencies.reserve(1 << 22);
    uint64_t pushes = 0, quotes = 0;
    long ticksPerSecond = sysconf(_SC_CLK_TCK);
    auto start = std::chrono::steady_clock::now();
    auto measureFrom = start + std::chrono::seconds(2);
    auto end = measureFrom + std::chrono::seconds(seconds);
    long cpuStart = -1;
    bool measuring = false;
    std::vector<epoll_event> events(1024);
    std::vector<uint8_t> buf(1 << 16);
    while (std::chrono::steady_clock::now() < end) {
        if (!measuring && std::chrono::steady_clock::now() >= measureFrom) {
            measuring = true;
            cpuStart = ReadCpuTicks(pid);
            pushes = quotes = 0;
            latencies.clear();
        }
        int n = epoll_wait(ep, events.data(), static_cast<int>(events.size()), 50);
        double receivedMs = NowMs();
        for (int e = 0; e < n; ++e) {
            Client& c = clients[events[e].data.u32];
            for (;;) {
                ssize_t r = ::recv(c.fd, buf.data(), buf.size(), 0);
                if (r <= 0) break;
                c.assembler.Feed(buf.data(), static_cast<size_t>(r));
            }
            while (auto p = c.assembler.Next()) {
                if (p->header.code != kCodeQuoteReply) continue;
                ++c.quoteReplies;
                if (c.quoteReplies == 1) continue;  // the subscription's own answer
                std::optional<Bytes> norm = Decompress(p->bytes);
                QuoteReply reply;
                if (!norm || !reply.Read(*norm) || reply.quotes.empty()) continue;
                uint32_t newest = 0;
                for (const QuoteRecord& q : reply.quotes) newest = std::max(newest, q.time);
                uint32_t second = TimeOfDay(WireToStoreTime(newest));
                double due = originMs + (double(second) - double(originSecond)) * 1000.0 / speed;
                ++pushes;
                quotes += reply.quotes.size();
                latencies.push_back(receivedMs - due);
            }
        }
        while (std::fgets(line, sizeof line, serverErr)) {
        }
    }
    long cpuEnd = ReadCpuTicks(pid);
    long hwm = ReadStatusKb(pid, "VmHWM");
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    for (Client& c : clients)
        if (c.fd >= 0) close(c.fd);

    std::sort(latencies.begin(), latencies.end());
    auto pct = [&](double p) {
        return latencies.empty() ? 0.0 : latencies[std::min(latencies.size() - 1, size_t(p * latencies.size()))];
    };
    double cpuShare = double(cpuEnd - cpuStart) / ticksPerSecond / seconds;
    std::printf("connections %d (connected %d), subscriptions %d, securities %zu, speed %g, %d s measured\n",
                connections, connected, subscriptions, handles.size(), speed, seconds);
    std::printf("pushes/s %.0f  quotes/s %.0f\n", pushes / double(seconds), quotes / double(seconds));
    std::printf("latency trade->receipt ms: p50 %.2f  p99 %.2f  max %.2f  (%zu samples)\n", pct(0.5), pct(0.99),
                latencies.empty() ? 0.0 : latencies.back(), latencies.size());
    std::printf("server CPU share %.1f%% of one core; peak RSS %.1f MB (market files %.1f MB)\n", cpuShare * 100,
                hwm / 1024.0, mapped / 1048576.0);
    std::printf("server exit status %d\n", WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    std::filesystem::remove_all(dir);
    return 0;
}
