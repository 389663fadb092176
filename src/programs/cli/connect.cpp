// tessaro-cli connect, refresh: log in to a quote server (directly or through a
// proxy), run the start-up chain into the application directory, watch quotes,
// and refresh today's quotes of every security.
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "cli_parsing.h"
#include "command.h"
#include "client/block_sink.h"
#include "client/machine_id.h"
#include "client/posix_transport.h"
#include "client/quote_session.h"
#include "client/reply_handlers.h"
#include "client/request_queue.h"
#include "market/market_store.h"
#include "net/login_messages.h"
#include "net/realtime_messages.h"
#include "net/security_handle.h"
#include "platform/files.h"
#include "platform/settings_store.h"
#include "platform/store_time.h"
#include "platform/text.h"
#include "session/session.h"

namespace tessaro::cli {
namespace {

constexpr int kExitCannotConnect = 3;
constexpr int kExitRefused = 4;
constexpr uint32_t kWatchWindow = 2;
constexpr uint32_t kRefreshWindow = 3;
// The whole login and start-up chain must finish in this time.
constexpr uint64_t kChainLimitMs = 120000;

constexpr const char* kConnectUsage =
    "connect --appdir DIR --server HOST:PORT [--proxy http://HOST:PORT | socks4://HOST:PORT | "
    "socks5://[USER:PASS@]HOST:PORT] [--account NAME --password-file FILE] [--watch SH600000,SZ000001] "
    "[--seconds N]";
constexpr const char* kRefreshUsage =
    "refresh --appdir DIR --server HOST:PORT [--proxy URL] [--account NAME --password-file FILE]";
constexpr const char* kExitCodes =
    "0 success, 1 failure, 2 usage error, 3 cannot connect (server or proxy), 4 login refused";

struct ConnectOptions {
    std::string appDir;
    ConnectTarget target;
    // Without --account: the guest account with its configured password.
    LoginAccount account;
    // TESSARO_CONNECT_LIMIT_MS shortens the connect time limit (checks that
    // must not wait the full limit for a silent server).
    uint64_t connectLimitMs = kConnectLimitMs;
};

// The options both commands share; false on a usage error.
bool ParseConnectOptions(Args& args, ConnectOptions& o, std::string& error) {
    std::optional<std::string> appDir = args.option("appdir");
    std::optional<std::string> server = args.option("server");
    std::optional<std::string> proxy = args.option("proxy");
    std::optional<std::string> account = args.option("account");
    std::optional<std::string> passwordFile = args.option("password-file");
    if (!appDir || !server) return false;
    o.appDir = *appDir;
    if (!ParseHostPort(*server, o.target.host, o.target.port)) return false;
    o.target.serverName = *server;
    if (proxy && !ParseProxyUrl(*proxy, o.target.proxy)) return false;
    if (const char* limit = std::getenv("TESSARO_CONNECT_LIMIT_MS")) {
        long long ms = 0;
        if (ParseInteger(limit, 1, static_cast<long long>(kConnectLimitMs), ms)) o.connectLimitMs = uint64_t(ms);
    }
    if (account) {
        o.account.name = *account;
        o.account.password.clear();
    }
    if (passwordFile) {
        // The password comes from a file, never from the command line others can read.
        auto bytes = ReadWholeFile(*passwordFile);
        if (!bytes) {
            error = "cannot read the password file " + *passwordFile;
            return true;
        }
        std::string text(bytes->begin(), bytes->end());
        o.account.password = std::string(TrimAscii(text));
    }
    return true;
}

// One login through the POSIX transport, with the session's notices printed.
class ClientRun {
public:
    ClientRun(const ConnectOptions& options, bool printStatus) : options_(options), printStatus_(printStatus) {}

    // 0 when the start-up chain finished, else the exit status.
    int Open(std::string& error) {
        SessionOptions so;
        so.appDir = options_.appDir;
        so.access = SessionAccess::ReadWrite;
        so.data = kSessionAll;
        so.settings = SessionSettings::File;
        app_ = std::make_unique<Session>(so);
        if (!app_->Start()) {
            error = app_->error();
            return 1;
        }
        blocks_ = std::make_unique<BlockSetSink>(app_->blocks());
        ClientContext ctx{app_->paths(), &app_->store(), &app_->formulas(), &app_->settingsStore(), blocks_.get()};
        quote_ = std::make_unique<QuoteSession>(ctx, net_, [this](const ClientNotice& n) { OnNotice(n); });
        quote_->SetMachineId(MachineIdentifier(app_->settingsStore()));
        quote_->SetConnectLimit(options_.connectLimitMs);
        net_.Attach(quote_.get());
        uint64_t start = PosixTransport::NowMs();
        quote_->Connect(options_.target, options_.account, start);
        while (!quote_->ready() && !failed_ && PosixTransport::NowMs() - start < kChainLimitMs) net_.Poll(20);
        if (refused_) {
            std::printf("%s\n", refusal_.c_str());
            return kExitRefused;
        }
        if (!quote_->ready()) {
            if (!cannotConnectShown_) std::printf("%s\n", kTextCannotConnect);
            return kExitCannotConnect;
        }
        if (printStatus_) std::printf("connected\n");
        std::fflush(stdout);
        return 0;
    }

    // Runs for `ms`, or until the connection is over for good: the server closed
    // or reinitialised it (no automatic reconnection follows), or the
    // reconnection attempts gave up.
    void RunFor(uint64_t ms) {
        uint64_t start = PosixTransport::NowMs();
        while (PosixTransport::NowMs() - start < ms) {
            if (!quote_->connected() && !quote_->autoReconnect() &&
                quote_->state() == QuoteSession::State::NoSocket)
                return;
            net_.Poll(20);
        }
    }
    template <class Done>
    bool RunUntil(Done done, uint64_t limitMs) {
        uint64_t start = PosixTransport::NowMs();
        while (!done()) {
            if (PosixTransport::NowMs() - start >= limitMs || !quote_->connected()) return false;
            net_.Poll(20);
        }
        return true;
    }

    QuoteSession& quote() { return *quote_; }
    Session& app() { return *app_; }
    void Finish() {
        if (quote_) quote_->Disconnect(PosixTransport::NowMs());
        if (app_) app_->Close();
    }

private:
    void OnNotice(const ClientNotice& n) {
        switch (n.kind) {
            case NoticeKind::Status:
                if (printStatus_) std::printf("%s\n", n.text.c_str());
                break;
            case NoticeKind::ConnectFailed:
                if (!quote_->ready()) {
                    std::printf("%s\n", n.text.c_str());
                    cannotConnectShown_ = true;
                    failed_ = true;
                }
                break;
            case NoticeKind::Disconnected:
                if (!quote_->ready()) failed_ = true;
                if (printStatus_ && !n.text.empty()) std::printf("%s\n", n.text.c_str());
                break;
            case NoticeKind::LoginRefused:
                refused_ = true;
                refusal_ = n.text;
                failed_ = true;
                break;
            case NoticeKind::ServerMessage:
                if (!n.refused && printStatus_) std::printf("%s\n", n.text.c_str());
                break;
            case NoticeKind::Log:
                std::fprintf(stderr, "tessaro-cli: %s\n", n.text.c_str());
                break;
            default:
                break;
        }
        std::fflush(stdout);
    }

    ConnectOptions options_;
    bool printStatus_;
    std::unique_ptr<Session> app_;
    std::unique_ptr<BlockSetSink> blocks_;
    PosixTransport net_;
    std::unique_ptr<QuoteSession> quote_;
    bool failed_ = false, refused_ = false, cannotConnectShown_ = false;
    std::string refusal_;
};

int RunConnect(Args& args) {
    ConnectOptions o;
    std::string error;
    std::optional<std::string> watch = args.option("watch");
    std::optional<std::string> secondsText = args.option("seconds");
    if (!ParseConnectOptions(args, o, error) || args.size() != 0) return UsageError(kConnectUsage);
    if (!error.empty()) return Fail(error);
    long long seconds = 0;
    if (secondsText && !ParseInteger(*secondsText, 0, 86400 * 7, seconds)) return UsageError(kConnectUsage);
    std::vector<SecurityHandle> handles;
    if (watch) {
        size_t pos = 0;
        while (pos <= watch->size()) {
            size_t comma = watch->find(',', pos);
            std::string item = watch->substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
            SecurityId id;
            SecurityHandle h = 0;
            if (!ParseSecurityText(item, id) || (h = EncodeSecurityHandle(id)) == 0)
                return UsageError(kConnectUsage);
            handles.push_back(h);
            if (comma == std::string::npos) break;
            pos = comma + 1;
        }
    }

    ClientRun run(o, true);
    int status = run.Open(error);
    if (status != 0) {
        if (!error.empty()) Fail(error);
        run.Finish();
        return status;
    }
    QuoteSession& q = run.quote();
    MarketStore* store = &run.app().store();
    Subscriptions subs(kWatchWindow);
    if (!handles.empty()) {
        // time,security,last,volume,amount for every quote of the watched securities.
        q.RegisterWindow(kWatchWindow, [&q, store](const PacketHeader& h, ByteSpan packet) {
            if (h.code != kCodeQuoteReply) return;
            QuoteReply reply;
            if (!reply.Read(packet)) return;
            for (const QuoteRecord& r : reply.quotes) {
                DecodedQuote d;
                if (!DecodeQuoteRecord(r, [store](const SecurityId& id) { return store->GetClass(id); }, d)) continue;
                q.StoreQuote(d);
                std::printf("%s,%s,%.2f,%.0f,%.0f\n", FormatStoreTime("Y-M-D H:N:S", d.snapshot.bar.time).c_str(),
                            SecurityText(d.entry.id).c_str(), double(d.snapshot.bar.close),
                            double(d.snapshot.bar.volume), double(d.snapshot.bar.amount));
            }
            std::fflush(stdout);
        });
        subs.SetQuotes(q, "BVIEW", handles);
    }
    run.RunFor(uint64_t(seconds) * 1000);
    run.Finish();
    return 0;
}

int RunRefresh(Args& args) {
    ConnectOptions o;
    std::string error;
    if (!ParseConnectOptions(args, o, error) || args.size() != 0) return UsageError(kRefreshUsage);
    if (!error.empty()) return Fail(error);
    ClientRun run(o, false);
    int status = run.Open(error);
    if (status != 0) {
        if (!error.empty()) Fail(error);
        run.Finish();
        return status;
    }
    QuoteRefresh refresh(run.quote(), &run.app().store(), kRefreshWindow, [](const std::string& text, int) {
        std::printf("%s\n", text.c_str());
        std::fflush(stdout);
    });
    if (!refresh.Start() || !run.RunUntil([&] { return refresh.finished(); }, kChainLimitMs) ||
        !refresh.succeeded()) {
        run.Finish();
        return Fail("the quote refresh did not finish");
    }
    std::printf("refreshed %u securities\n", refresh.total());
    run.Finish();
    return 0;
}

const CommandRegistration kConnect{
    "connect", kConnectUsage, RunConnect,
    "Logs in to the quote server, directly or through an HTTP, SOCKS4 or SOCKS5 proxy, runs the start-up "
    "chain into DIR printing each status text and then \"connected\"; with --watch prints "
    "time,security,last,volume,amount for every quote received; ends after --seconds N, or earlier when the "
    "server closes or reinitialises the connection. The password is read from --password-file. A connect "
    "that is not answered within 15 s (TESSARO_CONNECT_LIMIT_MS: fewer milliseconds) cannot connect.",
    kExitCodes};
const CommandRegistration kRefresh{
    "refresh", kRefreshUsage, RunRefresh,
    "Logs in and refreshes today's quote of every security, printing the progress (\"%0.0f%%\") after each "
    "page, then \"refreshed N securities\".",
    kExitCodes};

}  // namespace
}  // namespace tessaro::cli
