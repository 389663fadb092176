// The quote client without I/O: the login, the keep-alive, the automatic
// reconnection, the start-up chain and the handlers of the main window's replies.
//
// Its inputs are events — the user's connect command, the socket connected or
// failed, bytes received, the socket closed, a timer tick carrying a monotonic
// time in milliseconds. Its outputs are the commands it gives the transport
// (connect, send, close) and typed notices for the windows: each status text,
// connected (the ready broadcast), data changed (a new day), a server message,
// an offered update, a refused login, the offer of the login dialog. It owns no
// socket and no clock, so every rule is tested with plain calls.
//
// Windows other than the main window register a handler; a packet addressed to
// a window that is not registered is dropped without effect.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/paths.h"
#include "client/block_sink.h"
#include "client/proxy_handshake.h"
#include "net/login_messages.h"
#include "net/message.h"
#include "net/packet_assembler.h"
#include "net/wire_records.h"
#include "platform/bytes.h"

namespace tessaro {

class MarketStore;
class FormulaSet;
class SettingsStore;

// What the session asks of the socket. Connect reports back through
// OnConnected or OnConnectFailed, never from inside the call itself.
class ClientTransport {
public:
    virtual ~ClientTransport() = default;
    virtual void Connect(const std::string& host, uint16_t port) = 0;
    virtual void Send(ByteSpan bytes) = 0;
    // Shuts the socket down in both directions and closes it; no close event follows.
    virtual void Close() = 0;
};

// The data the handlers write into. Any pointer may be null (that part is skipped).
struct ClientContext {
    AppPaths paths;
    MarketStore* store = nullptr;
    FormulaSet* formulas = nullptr;
    SettingsStore* settings = nullptr;
    BlockSink* blocks = nullptr;
};

enum class NoticeKind {
    Status,            // a status text of the login dialog
    Connected,         // the start-up chain finished ("WM_CONNECTED")
    DataChanged,       // a quote opened a new trading day ("WM_DATACHANGED")
    ServerMessage,     // a text to show: code 0x4001, 0x9001 or 0xA007, refused flag
    UpdateOffered,     // a newer program version exists ("WM_UPDATE")
    LoginRefused,      // the server refused the login (its message in text)
    OfferLoginDialog,  // five automatic reconnections failed
    ConnectFailed,     // the server or proxy could not be reached
    Disconnected,      // the connection ended
    Log,               // something skipped that the user need not see
};

struct ClientNotice {
    NoticeKind kind = NoticeKind::Status;
    std::string text;  // UTF-8
    uint16_t code = 0;
    bool refused = false;
};

using NoticeFn = std::function<void(const ClientNotice&)>;

struct ConnectTarget {
    std::string serverName;
    std::string host;
    uint16_t port = 6051;
    ProxySettings proxy;
};

// The account of the login block (UTF-8; sent as GBK). Unless the user gives
// another, the guest account with the password agreed with the server.
struct LoginAccount {
    std::string name = kGuestAccount;
    std::string password = kGuestPassword;
};

inline constexpr uint64_t kKeepAliveIdleMs = 40000;
// A connect (with its proxy handshake, until the login is answered) that takes
// longer fails like an unreachable server: a proxy or a server that accepts the
// connection and never answers.
inline constexpr uint64_t kConnectLimitMs = 15000;
inline constexpr int kReconnectAttemptsBeforeDialog = 5;
inline constexpr uint32_t kDefaultAutocontime = 10;

// Status texts.
inline constexpr char kTextConnecting[] = "正在连接，请稍候...";
inline constexpr char kTextCannotConnect[] = "无法连接,请检测是否已经连接Internet!";
inline constexpr char kTextConnectFailed[] = "连接失败！";
inline constexpr char kTextDisconnected[] = "连接已断开!";
inline constexpr char kTextServerReinit[] = "服务器端重新初始化,请稍后重连...";

class QuoteSession {
public:
    // The main window's handle in packets.
    static constexpr uint32_t kMainWindow = 1;

    enum class State { NoSocket, Connecting, Handshaking, LoggingIn, Chain, Ready };

    using PacketHandler = std::function<void(const PacketHeader& header, ByteSpan normalized)>;
    using QuoteFn = std::function<void(const DecodedQuote& quote)>;

    QuoteSession(ClientContext context, ClientTransport& transport, NoticeFn notices);

    // ---- Commands -------------------------------------------------------------
    // A login started by the user: the start-up chain runs after it.
    void Connect(const ConnectTarget& target, const LoginAccount& account, uint64_t nowMs);
    // The user's disconnect: no automatic reconnection follows.
    void Disconnect(uint64_t nowMs);
    void SetAutocontime(uint32_t seconds) { autocontime_ = seconds; }
    void SetMachineId(uint32_t id) { machineId_ = id; }
    // The time a connect may take until the login is answered (kConnectLimitMs
    // unless a test or a command line shortens it).
    void SetConnectLimit(uint64_t ms) { connectLimitMs_ = ms; }

    // ---- Transport events -------------------------------------------------------
    void OnConnected(uint64_t nowMs);
    void OnConnectFailed(uint64_t nowMs);
    void OnBytes(ByteSpan data, uint64_t nowMs);
    void OnClosed(uint64_t nowMs);
    void OnTick(uint64_t nowMs);

    // ---- Requests of the windows ----------------------------------------------
    // Gives the message the next serial and the window, and builds its packet.
    std::optional<Bytes> Build(Message& message, uint32_t window);
    // Sends a built packet; false when not connected.
    bool SendPacket(ByteSpan packet);
    // Build and send; the serial sent, or 0 when nothing was sent.
    uint32_t Send(Message& message, uint32_t window);
    void RegisterWindow(uint32_t window, PacketHandler handler);
    void UnregisterWindow(uint32_t window);
    // Called for every quote the session stores (the main window's subscription).
    void SetQuoteObserver(QuoteFn fn) { quoteObserver_ = std::move(fn); }

    // ---- State ------------------------------------------------------------------
    State state() const { return state_; }
    bool connected() const { return state_ >= State::LoggingIn; }
    bool ready() const { return state_ == State::Ready; }
    bool autoReconnect() const { return autoReconnect_; }
    int attempts() const { return attempts_; }
    size_t pendingCount() const { return pending_.size(); }
    const std::string& sid() const { return sid_; }
    uint16_t daySpan() const { return daySpan_; }
    uint16_t fiveMinuteSpan() const { return fiveMinuteSpan_; }
    const std::string& updateParameters() const { return updateParameters_; }
    const ConnectTarget& target() const { return target_; }
    uint32_t lastSerial() const { return serial_.current(); }

    // Stores a decoded quote: the server time, UpdateQuote, and on a new day the
    // minute extras emptied and a DataChanged notice (when `broadcast`).
    void StoreQuote(const DecodedQuote& quote, bool broadcast = true);

private:
    void StartSocket(uint64_t nowMs);
    void LoginNow(uint64_t nowMs);
    void ConnectFailure(uint64_t nowMs);
    void DisconnectionStep(uint64_t nowMs);
    void ShutDown(uint64_t nowMs);
    void FeedStream(ByteSpan data, uint64_t nowMs);
    void Dispatch(const PacketAssembler::Packet& packet, uint64_t nowMs);
    void HandleMain(const PacketHeader& header, ByteSpan normalized, uint64_t nowMs);
    void StartChain();
    void SendNextOrFinish();
    void FinishChain();
    void OnReady();
    void Notify(NoticeKind kind, std::string text = {}, uint16_t code = 0, bool refused = false);
    void Status(std::string text) { Notify(NoticeKind::Status, std::move(text)); }

    void OnLoginReply(ByteSpan packet, uint64_t nowMs);
    void OnCodeTable(ByteSpan packet, uint64_t nowMs);
    void OnBlockList(ByteSpan packet, uint64_t nowMs);
    void OnBlockFile(ByteSpan packet, uint64_t nowMs);
    void OnBaseFile(ByteSpan packet, uint64_t nowMs);
    void OnInfoIndex(ByteSpan packet);
    void AddBlockIndexSecurity(const std::string& blockName, const std::string& indexCode);

    ClientContext ctx_;
    ClientTransport& transport_;
    NoticeFn notices_;
    QuoteFn quoteObserver_;

    State state_ = State::NoSocket;
    ConnectTarget target_;
    LoginAccount account_;
    uint32_t machineId_ = 0;
    std::optional<ProxyHandshake> handshake_;
    PacketAssembler assembler_;
    SerialCounter serial_;
    uint64_t now_ = 0;  // the newest time an event carried
    uint64_t connectStartMs_ = 0;
    uint64_t connectLimitMs_ = kConnectLimitMs;
    uint64_t lastActivityMs_ = 0;
    uint64_t lastDisconnectMs_ = 0;
    bool autoReconnect_ = false;
    int attempts_ = 0;
    uint32_t autocontime_ = kDefaultAutocontime;
    std::vector<Bytes> pending_;  // the start-up chain, in send order
    bool chainSent_ = false;      // the login reply started the chain
    std::map<uint32_t, PacketHandler> windows_;

    std::string sid_;
    std::string updateParameters_;
    uint16_t daySpan_ = 1460;
    uint16_t fiveMinuteSpan_ = 20;
};

const char* QuoteSessionStateName(QuoteSession::State state);

}  // namespace tessaro
