#include "client/quote_session.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "formula/formula_set.h"
#include "market/base_files.h"
#include "market/block_file.h"
#include "market/market_store.h"
#include "net/decompress.h"
#include "net/login_messages.h"
#include "net/realtime_messages.h"
#include "net/security_handle.h"
#include "net/startup_messages.h"
#include "platform/files.h"
#include "platform/settings_store.h"
#include "platform/text.h"

namespace tessaro {

const char* QuoteSessionStateName(QuoteSession::State state) {
    switch (state) {
        case QuoteSession::State::NoSocket: return "no socket";
        case QuoteSession::State::Connecting: return "connecting";
        case QuoteSession::State::Handshaking: return "proxy handshake";
        case QuoteSession::State::LoggingIn: return "logging in";
        case QuoteSession::State::Chain: return "start-up chain";
        case QuoteSession::State::Ready: return "ready";
    }
    return "?";
}

QuoteSession::QuoteSession(ClientContext context, ClientTransport& transport, NoticeFn notices)
    : ctx_(std::move(context)),
      transport_(transport),
      notices_(std::move(notices)),
      assembler_(PacketAssembler::Stream::FromServer, kMainWindow) {}

void QuoteSession::Notify(NoticeKind kind, std::string text, uint16_t code, bool refused) {
    if (notices_) notices_(ClientNotice{kind, std::move(text), code, refused});
}

// ---- Connection -------------------------------------------------------------------

void QuoteSession::Connect(const ConnectTarget& target, const LoginAccount& account, uint64_t nowMs) {
    now_ = std::max(now_, nowMs);
    target_ = target;
    account_ = account;
    autoReconnect_ = false;
    attempts_ = 0;
    if (state_ != State::NoSocket) transport_.Close();
    state_ = State::NoSocket;
    Status(kTextConnecting);
    StartSocket(nowMs);
}

void QuoteSession::Disconnect(uint64_t nowMs) {
    now_ = std::max(now_, nowMs);
    if (state_ != State::NoSocket) transport_.Close();
    state_ = State::NoSocket;
    handshake_.reset();
    assembler_.Reset();
    lastDisconnectMs_ = nowMs;
    autoReconnect_ = false;
}

void QuoteSession::StartSocket(uint64_t nowMs) {
    assembler_.Reset();
    handshake_.reset();
    state_ = State::Connecting;
    connectStartMs_ = nowMs;
    lastActivityMs_ = nowMs;
    if (target_.proxy.kind != ProxyKind::None)
        transport_.Connect(target_.proxy.host, target_.proxy.port);
    else
        transport_.Connect(target_.host, target_.port);
}

void QuoteSession::OnConnected(uint64_t nowMs) {
    now_ = std::max(now_, nowMs);
    if (state_ != State::Connecting) return;
    lastActivityMs_ = nowMs;
    if (target_.proxy.kind == ProxyKind::None) {
        LoginNow(nowMs);
        return;
    }
    handshake_.emplace(target_.proxy, target_.host, target_.port);
    state_ = State::Handshaking;
    Bytes first = handshake_->Start(nowMs);
    if (handshake_->failed()) {
        Notify(NoticeKind::Log, "proxy: " + handshake_->error());
        ConnectFailure(nowMs);
        return;
    }
    transport_.Send(first);
}

void QuoteSession::OnConnectFailed(uint64_t nowMs) {
    now_ = std::max(now_, nowMs);
    if (state_ != State::Connecting && state_ != State::Handshaking) return;
    ConnectFailure(nowMs);
}

void QuoteSession::ConnectFailure(uint64_t nowMs) {
    transport_.Close();
    Notify(NoticeKind::ConnectFailed, kTextCannotConnect);
    DisconnectionStep(nowMs);
}

void QuoteSession::DisconnectionStep(uint64_t nowMs) {
    state_ = State::NoSocket;
    handshake_.reset();
    assembler_.Reset();
    lastDisconnectMs_ = nowMs;
    if (attempts_ == kReconnectAttemptsBeforeDialog && autoReconnect_) {
        autoReconnect_ = false;
        Notify(NoticeKind::OfferLoginDialog);
    }
}

void QuoteSession::ShutDown(uint64_t nowMs) {
    // Shutting the socket down in both directions: the close event follows.
    transport_.Close();
    Notify(NoticeKind::Disconnected, kTextDisconnected);
    DisconnectionStep(nowMs);
}

void QuoteSession::OnClosed(uint64_t nowMs) {
    now_ = std::max(now_, nowMs);
    if (state_ == State::NoSocket) return;
    if (state_ == State::Connecting || state_ == State::Handshaking) {
        ConnectFailure(nowMs);
        return;
    }
    transport_.Close();
    Notify(NoticeKind::Disconnected, kTextDisconnected);
    DisconnectionStep(nowMs);
}

void QuoteSession::LoginNow(uint64_t nowMs) {
    attempts_ = 0;
    state_ = State::LoggingIn;
    Login login;
    login.account = Utf8ToGbk(account_.name);
    login.password = Utf8ToGbk(account_.password);
    login.machineId = machineId_;
    pending_.clear();
    chainSent_ = false;
    if (!autoReconnect_) StartChain();
    Send(login, kMainWindow);
    (void)nowMs;
}

void QuoteSession::OnTick(uint64_t nowMs) {
    now_ = std::max(now_, nowMs);
    switch (state_) {
        case State::Connecting:
            if (nowMs - connectStartMs_ >= connectLimitMs_) ConnectFailure(nowMs);
            return;
        case State::Handshaking:
            if (handshake_->Tick(nowMs) || nowMs - connectStartMs_ >= connectLimitMs_) {
                Notify(NoticeKind::Log, "proxy: " + (handshake_->error().empty() ? std::string("time limit")
                                                                                 : handshake_->error()));
                ConnectFailure(nowMs);
            }
            return;
        case State::LoggingIn:
            // A server that took the connection but never answers the login.
            if (nowMs - connectStartMs_ >= connectLimitMs_) {
                Notify(NoticeKind::Log, "no answer to the login within the time limit");
                ConnectFailure(nowMs);
                return;
            }
            [[fallthrough]];
        case State::Chain:
        case State::Ready:
            if (nowMs - lastActivityMs_ > kKeepAliveIdleMs) {
                KeepAlive keepAlive;
                Send(keepAlive, kMainWindow);
            }
            return;
        case State::NoSocket:
            if (autoReconnect_ && nowMs - lastDisconnectMs_ > uint64_t(autocontime_) * 1000) {
                ++attempts_;
                StartSocket(nowMs);
            }
            return;
    }
}

void QuoteSession::OnBytes(ByteSpan data, uint64_t nowMs) {
    now_ = std::max(now_, nowMs);
    if (state_ == State::Handshaking) {
        Bytes reply = handshake_->Feed(data);
        if (handshake_->failed()) {
            Notify(NoticeKind::Log, "proxy: " + handshake_->error());
            ConnectFailure(nowMs);
            return;
        }
        if (!reply.empty()) transport_.Send(reply);
        if (handshake_->done()) {
            Bytes stream = handshake_->TakeStreamBytes();
            handshake_.reset();
            LoginNow(nowMs);
            if (!stream.empty()) FeedStream(stream, nowMs);
        }
        return;
    }
    if (!connected()) return;
    FeedStream(data, nowMs);
}

void QuoteSession::FeedStream(ByteSpan data, uint64_t nowMs) {
    lastActivityMs_ = nowMs;
    if (!assembler_.Feed(data)) {
        Notify(NoticeKind::Log, "stream broken: " + assembler_.error());
        ShutDown(nowMs);
        return;
    }
    while (connected()) {
        auto packet = assembler_.Next();
        if (!packet) break;
        Dispatch(*packet, nowMs);
    }
    if (connected() && assembler_.broken()) {
        Notify(NoticeKind::Log, "stream broken: " + assembler_.error());
        ShutDown(nowMs);
    }
}

void QuoteSession::Dispatch(const PacketAssembler::Packet& packet, uint64_t nowMs) {
    PacketHandler* handler = nullptr;
    if (packet.target != kMainWindow) {
        auto it = windows_.find(packet.target);
        if (it == windows_.end()) return;  // a window that no longer exists
        handler = &it->second;
    }
    DecompressError error;
    std::optional<Bytes> normalized = Decompress(packet.bytes, &error);
    if (!normalized) {
        Notify(NoticeKind::Log, std::string("reply dropped: ") + DecompressErrorText(error));
        return;
    }
    PacketHeader header = LoadPacketHeader(normalized->data());
    if (handler) {
        PacketHandler h = *handler;  // the handler may unregister its window
        h(header, *normalized);
        return;
    }
    HandleMain(header, *normalized, nowMs);
}

// ---- Requests ---------------------------------------------------------------------

std::optional<Bytes> QuoteSession::Build(Message& message, uint32_t window) {
    message.serial = serial_.Next();
    message.window = window;
    return message.Encode();
}

bool QuoteSession::SendPacket(ByteSpan packet) {
    if (!connected() || packet.empty()) return false;
    lastActivityMs_ = now_;
    transport_.Send(packet);
    return true;
}

uint32_t QuoteSession::Send(Message& message, uint32_t window) {
    if (!connected()) return 0;
    auto packet = Build(message, window);
    if (!packet) return 0;
    lastActivityMs_ = now_;
    transport_.Send(*packet);
    return message.serial;
}

void QuoteSession::RegisterWindow(uint32_t window, PacketHandler handler) {
    if (window != kMainWindow && window != 0) windows_[window] = std::move(handler);
}

void QuoteSession::UnregisterWindow(uint32_t window) { windows_.erase(window); }

// ---- The start-up chain -------------------------------------------------------------

void QuoteSession::StartChain() {
    pending_.clear();
    auto add = [&](Message& m) {
        if (auto p = Build(m, kMainWindow)) pending_.push_back(std::move(*p));
    };
    ServerListRequest serverList;
    CodeTableRequest codeTable;
    BlockListRequest blockList;
    add(serverList);
    add(codeTable);
    add(blockList);
    for (uint32_t kind : {uint32_t(kBaseFileFinance), uint32_t(kBaseFilePower), uint32_t(kBaseFileFormulas)}) {
        BaseFileRequest request;
        request.kind = kind;
        if (kind == kBaseFileFinance && ctx_.store) request.checksum = ctx_.store->BaseFileChecksum(BaseFile::Finance);
        if (kind == kBaseFilePower && ctx_.store) request.checksum = ctx_.store->BaseFileChecksum(BaseFile::Power);
        if (kind == kBaseFileFormulas && ctx_.formulas) request.checksum = ctx_.formulas->DownloadChecksum();
        add(request);
    }
}

void QuoteSession::SendNextOrFinish() {
    if (!connected()) return;
    if (!pending_.empty()) {
        Bytes next = std::move(pending_.front());
        pending_.erase(pending_.begin());
        lastActivityMs_ = now_;
        transport_.Send(next);
        return;
    }
    FinishChain();
}

void QuoteSession::FinishChain() {
    if (ctx_.store) LoadBaseFiles(*ctx_.store, ctx_.paths);
    if (ctx_.formulas) ctx_.formulas->LoadFile(ctx_.paths.formulaFile(kSourceDownload), kSourceDownload);
    state_ = State::Ready;
    OnReady();
}

void QuoteSession::OnReady() {
    // The main window keeps the two market indexes live and asks for the page numbers.
    if (ctx_.store) {
        QuoteSubscribe subscribe;
        subscribe.tag = "MAINFRAME";
        for (MarketCode m : {kMarketSH, kMarketSZ})
            if (auto e = ctx_.store->GetMarketIndexEntry(m))
                if (SecurityHandle h = EncodeSecurityHandle(e->id)) subscribe.handles.push_back(h);
        Send(subscribe, kMainWindow);
    }
    InfoIndexRequest info;
    auto idx = [&](const char* name) -> uint32_t {
        if (!ctx_.settings) return 0;
        return ctx_.settings->getDword(SettingsKey("Settings\\F11"), name).value_or(0);
    };
    info.numbers = {idx("NOTICEIDX"), 0xFFFFFFFFu, idx("VIDEOIDX"), idx("SCROLLMESSAGEIDX")};
    Send(info, kMainWindow);
    Notify(NoticeKind::Connected);
}

// ---- Replies of the main window -----------------------------------------------------

void QuoteSession::StoreQuote(const DecodedQuote& quote, bool broadcast) {
    if (ctx_.store) {
        if (quote.wireTime > 0) ctx_.store->SetServerTime(WireToStoreTime(quote.wireTime));
        QuoteUpdate update{quote.entry, quote.snapshot};
        unsigned flags = ctx_.store->UpdateQuote(update);
        // UpdateQuote empties the minute extras itself when it opens a new day.
        if ((flags & kQuoteNewDay) && broadcast) Notify(NoticeKind::DataChanged);
    }
    if (quoteObserver_) quoteObserver_(quote);
}

void QuoteSession::HandleMain(const PacketHeader& header, ByteSpan packet, uint64_t nowMs) {
    switch (header.code) {
        case kCodeLogin:
            OnLoginReply(packet, nowMs);
            return;
        case kCodeServerList: {
            ServerListReply reply;
            if (!reply.Read(packet)) return ShutDown(nowMs);
            SendNextOrFinish();
            if (!reply.text.empty()) {
                Status("正在获取服务器列表...");
                std::string path = ctx_.paths.serverListFile();
                if (!CreateDirectories(path) || !WriteFileAtomic(path, reply.text))
                    Notify(NoticeKind::Log, "cannot write " + path);
            }
            return;
        }
        case kCodeCodeTable:
            OnCodeTable(packet, nowMs);
            return;
        case kCodeBlockList:
            OnBlockList(packet, nowMs);
            return;
        case kCodeBlockFile:
            OnBlockFile(packet, nowMs);
            return;
        case kCodeBaseFile:
            OnBaseFile(packet, nowMs);
            return;
        case kCodeKeepAlive:
            return;
        case kCodeServerClose: {
            transport_.Close();
            autoReconnect_ = false;
            Notify(NoticeKind::Disconnected, {}, kCodeServerClose);
            DisconnectionStep(nowMs);
            return;
        }
        case kCodeServerReinit: {
            ServerReinit reply;
            if (!reply.Read(packet)) return;
            transport_.Close();
            autoReconnect_ = false;
            Notify(NoticeKind::ServerMessage, kTextServerReinit, kCodeServerReinit);
            Notify(NoticeKind::Disconnected, {}, kCodeServerReinit);
            DisconnectionStep(nowMs);
            return;
        }
        case kCodeServerNotice: {
            ServerNotice notice;
            if (!notice.Read(packet)) return;
            Notify(NoticeKind::ServerMessage, GbkToUtf8(notice.text), kCodeServerNotice);
            return;
        }
        case kCodeQuoteReply: {
            QuoteReply reply;
            if (!reply.Read(packet)) return;
            ClassLookup classOf;
            if (ctx_.store) classOf = [this](const SecurityId& id) { return ctx_.store->GetClass(id); };
            for (const QuoteRecord& r : reply.quotes) {
                DecodedQuote q;
                if (DecodeQuoteRecord(r, classOf, q)) StoreQuote(q);
            }
            return;
        }
        case kCodeMarketCounts: {
            MarketCountsPush push;
            if (!push.Read(packet)) return ShutDown(nowMs);
            if (ctx_.store)
                for (const MarketCountRecord& r : push.records)
                    ctx_.store->SetMarketCounters(r.market, uint16_t(r.counters[0]), uint16_t(r.counters[1]),
                                                  uint16_t(r.counters[2]));
            return;
        }
        case kCodeInfoIndexReply:
            OnInfoIndex(packet);
            return;
        default:
            return;  // codes the main window did not ask for
    }
}

void QuoteSession::OnLoginReply(ByteSpan packet, uint64_t nowMs) {
    LoginReply reply;
    if (!reply.Read(packet)) return ShutDown(nowMs);
    if (ctx_.settings) {
        std::string settings = SettingsKey("Settings"), f11 = SettingsKey("Settings\\F11");
        ctx_.settings->setString(settings, "F9URL", reply.f9Page);
        ctx_.settings->setString(settings, "F10URL", reply.f10Page);
        ctx_.settings->setString(f11, "VIDEOURL", reply.videoPage);
        ctx_.settings->setString(f11, "NOTICEURL", reply.noticePage);
        ctx_.settings->setString(f11, "MARKETINFOURL", reply.marketInfoPage);
        ctx_.settings->setString(f11, "TECHURL", reply.techPage);
        ctx_.settings->setString(f11, "SCROLLMESSAGEURL", reply.scrollMessagePage);
    }
    sid_ = reply.sid;
    if (reply.daySpan) daySpan_ = reply.daySpan;
    if (reply.fiveMinuteSpan) fiveMinuteSpan_ = reply.fiveMinuteSpan;
    if (!reply.updateParameters.empty()) {
        updateParameters_ = reply.updateParameters;
        Notify(NoticeKind::UpdateOffered, GbkToUtf8(reply.message), kCodeLogin);
    } else if (!reply.message.empty()) {
        Notify(NoticeKind::ServerMessage, GbkToUtf8(reply.message), kCodeLogin, reply.refused != 0);
    }
    if (reply.refused) {
        Notify(NoticeKind::LoginRefused, GbkToUtf8(reply.message), kCodeLogin, true);
        autoReconnect_ = false;
        ShutDown(nowMs);
        return;
    }
    state_ = State::Chain;
    autoReconnect_ = true;
    SendNextOrFinish();
}

void QuoteSession::OnCodeTable(ByteSpan packet, uint64_t nowMs) {
    CodeTableReply reply;
    if (!reply.Read(packet)) return ShutDown(nowMs);
    SendNextOrFinish();
    Status("正在获取股票代码表...");
    if (ctx_.blocks) ctx_.blocks->BeginCodeTable();
    if (!ctx_.store) return;
    ctx_.store->ClearMarkets(MarketBit(kMarketSH) | MarketBit(kMarketSZ));
    for (const CodeRecord& record : reply.records) {
        CodeEntry entry;
        if (!DecodeCodeRecord(record, entry)) continue;
        QuoteUpdate update{entry, QuoteSnapshot{}};
        ctx_.store->UpdateQuote(update);
        if (ctx_.blocks)
            if (auto stored = ctx_.store->GetCodeEntry(entry.id)) ctx_.blocks->RegisterSecurity(*stored);
    }
}

void QuoteSession::OnBlockList(ByteSpan packet, uint64_t nowMs) {
    BlockListReply reply;
    if (!reply.Read(packet)) return ShutDown(nowMs);
    Status("正在获取板块列表...");
    std::vector<BlockSink::Stamp> collected;
    if (ctx_.blocks) collected = ctx_.blocks->DownloadedBlocks();
    for (const BlockStampRecord& record : reply.records) {
        std::string name(FieldText(record.name));
        bool request = true;
        for (size_t i = 0; i < collected.size(); ++i) {
            if (!EqualsNoCase(collected[i].name, name)) continue;
            request = collected[i].checksum != record.checksum;
            collected.erase(collected.begin() + std::ptrdiff_t(i));
            break;
        }
        if (!request) continue;
        BlockFileRequest fileRequest;
        fileRequest.blockName = name;
        if (auto p = Build(fileRequest, kMainWindow)) pending_.push_back(std::move(*p));
    }
    SendNextOrFinish();
    if (!ctx_.blocks) return;
    for (const BlockSink::Stamp& gone : collected) ctx_.blocks->RemoveBlock(gone.name);
    if (!ctx_.store) return;
    ctx_.store->ClearMarkets(MarketBit(kMarketSystem));
    for (const BlockSink::IndexBlock& b : ctx_.blocks->IndexBlocks()) AddBlockIndexSecurity(b.name, b.indexCode);
}

void QuoteSession::AddBlockIndexSecurity(const std::string& blockName, const std::string& indexCode) {
    if (!ctx_.store || indexCode.empty()) return;
    static const std::string kIndexSuffix = Utf8ToGbk("指数");
    CodeEntry entry;
    entry.id.market = kMarketSystem;
    entry.id.setCode(indexCode.substr(0, 9));
    entry.securityClass = kClassIndex;
    entry.setName(std::string(CutGbk(blockName, 30)) + kIndexSuffix);
    QuoteUpdate update{entry, QuoteSnapshot{}};
    ctx_.store->UpdateQuote(update);
    if (ctx_.blocks)
        if (auto stored = ctx_.store->GetCodeEntry(entry.id)) ctx_.blocks->RegisterSecurity(*stored);
}

void QuoteSession::OnBlockFile(ByteSpan packet, uint64_t nowMs) {
    BlockFileReply reply;
    if (!reply.Read(packet)) return ShutDown(nowMs);
    SendNextOrFinish();
    char text[160];
    std::snprintf(text, sizeof text, "正在获取[%s]板块数据...", GbkToUtf8(reply.blockName).c_str());
    Status(text);
    if (reply.fileBytes.empty() || !ctx_.blocks) return;
    if (!IsUsableBlockName(reply.blockName)) {
        Notify(NoticeKind::Log, "block name refused as a file name: " + GbkToUtf8(reply.blockName));
        return;
    }
    ByteSpan bytes(reinterpret_cast<const uint8_t*>(reply.fileBytes.data()), reply.fileBytes.size());
    if (!ctx_.blocks->StoreBlockFile(reply.blockName, bytes)) {
        Notify(NoticeKind::Log, "block file of " + GbkToUtf8(reply.blockName) +
                                    " not taken: a block of the user's has that name, or the write failed");
        return;
    }
    // A block that arrives with an index code gets its index security now, not
    // only at the next login's block list.
    if (auto block = ParseBlockFile(bytes)) AddBlockIndexSecurity(reply.blockName, block->indexCode);
}

void QuoteSession::OnBaseFile(ByteSpan packet, uint64_t nowMs) {
    BaseFileReply reply;
    if (!reply.Read(packet)) return ShutDown(nowMs);
    SendNextOrFinish();
    std::string path;
    const char* status = nullptr;
    switch (reply.kind) {
        case kBaseFileFinance: path = ctx_.paths.financeFile(); status = "正在获取财务数据..."; break;
        case kBaseFilePower: path = ctx_.paths.powerFile(); status = "正在获取权息数据..."; break;
        case kBaseFileFormulas: path = ctx_.paths.formulaFile(kSourceDownload); status = "正在获取指标公式..."; break;
        default: return;
    }
    if (reply.fileBytes.empty()) {
        if (reply.kind == kBaseFileFormulas) ::unlink(path.c_str());
        return;
    }
    Status(status);
    // A failed write is ignored: the chain goes on and the old file stays whole.
    if (!CreateDirectories(path) || !WriteFileAtomic(path, reply.fileBytes))
        Notify(NoticeKind::Log, "cannot write " + path);
}

void QuoteSession::OnInfoIndex(ByteSpan packet) {
    InfoIndexReply reply;
    if (!reply.Read(packet) || !ctx_.settings) return;
    static const char* const kNames[4] = {"NOTICEIDX", "MARKETINFOIDX", "VIDEOIDX", "SCROLLMESSAGEIDX"};
    std::string f11 = SettingsKey("Settings\\F11");
    for (int i = 0; i < 4; ++i)
        if (int32_t(reply.numbers[i]) > 0) ctx_.settings->setDword(f11, kNames[i], reply.numbers[i]);
}

}  // namespace tessaro
