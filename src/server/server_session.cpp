#include "server/server_session.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>

#include "market/history.h"
#include "market/quote_fields.h"
#include "net/decompress.h"
#include "net/login_messages.h"
#include "net/realtime_messages.h"
#include "net/startup_messages.h"
#include "platform/crc32.h"
#include "platform/files.h"
#include "platform/text.h"

namespace tessaro {

// ---- Files of the application directory ------------------------------------------

namespace {

constexpr uint32_t kBlockMagic = 0x424C4B01;
constexpr size_t kBlockHeaderSize = 114;

std::string ToString(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

bool IsAscii(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

}  // namespace

std::vector<ServerFiles::BlockFile> ServerFiles::Blocks() const {
    std::vector<BlockFile> out;
    std::error_code ec;
    std::filesystem::directory_iterator it(paths_.blockDir(), ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        const std::filesystem::path& p = it->path();
        if (p.extension() != ".blk" || !it->is_regular_file(ec)) continue;
        std::optional<std::vector<uint8_t>> bytes = ReadWholeFile(p.string());
        if (!bytes) continue;
        BlockFile b;
        b.path = p.string();
        b.checksum = Crc32(*bytes);
        if (bytes->size() >= kBlockHeaderSize && LoadLE<uint32_t>(bytes->data()) == kBlockMagic)
            b.name = std::string(FieldText(reinterpret_cast<const char*>(bytes->data() + 8), 32));
        if (b.name.empty()) {
            std::string stem = p.stem().string();
            b.name = IsAscii(stem) ? stem : Utf8ToGbk(stem);
        }
        out.push_back(std::move(b));
    }
    std::sort(out.begin(), out.end(), [](const BlockFile& a, const BlockFile& b) { return a.name < b.name; });
    return out;
}

std::optional<ServerFiles::BlockFile> ServerFiles::FindBlock(std::string_view nameGbk) const {
    for (BlockFile& b : Blocks())
        if (EqualsNoCase(b.name, nameGbk)) return b;
    return std::nullopt;
}

std::vector<SecurityId> ServerFiles::BlockMembers(const std::string& path) const {
    std::vector<SecurityId> out;
    std::optional<std::vector<uint8_t>> bytes = ReadWholeFile(path);
    if (!bytes || bytes->size() < kBlockHeaderSize || LoadLE<uint32_t>(bytes->data()) != kBlockMagic) return out;
    for (size_t off = kBlockHeaderSize; off + sizeof(SecurityId) <= bytes->size(); off += sizeof(SecurityId)) {
        SecurityId id;
        std::memcpy(&id, bytes->data() + off, sizeof id);
        if (id.market == kMarketSH || id.market == kMarketSZ) out.push_back(id);
    }
    return out;
}

std::string ServerFiles::ServerListText() const {
    std::optional<std::vector<uint8_t>> bytes = ReadWholeFile(paths_.serverListFile());
    return bytes ? ToString(*bytes) : std::string();
}

std::optional<std::string> ServerFiles::BaseFile(uint32_t kind) const {
    std::string path = kind == kBaseFileFinance ? paths_.financeFile()
                       : kind == kBaseFilePower ? paths_.powerFile()
                       : kind == kBaseFileFormulas ? paths_.formulaFile(2)
                                                   : std::string();
    if (path.empty()) return std::nullopt;
    std::optional<std::vector<uint8_t>> bytes = ReadWholeFile(path);
    return bytes ? ToString(*bytes) : std::string();
}

// ---- The session ------------------------------------------------------------------

ServerSession::ServerSession(const ServerContext& context, std::string peer)
    : ctx_(context),
      peer_(std::move(peer)),
      assembler_(PacketAssembler::Stream::FromClient, 0,
                 static_cast<uint32_t>(std::min<size_t>(context.config->maxRequestLength, kMaxPacketLength))) {}

void ServerSession::Fail(std::string reason) {
    if (closeReason_.empty()) closeReason_ = std::move(reason);
}

bool ServerSession::Feed(ByteSpan data) {
    if (closed()) return false;
    if (ctx_.config->faults.silent) return true;  // accepted, never answered
    if (!assembler_.Feed(data)) {
        Fail("broken stream: " + assembler_.error());
        return false;
    }
    while (!closed()) {
        std::optional<PacketAssembler::Packet> p = assembler_.Next();
        if (!p) break;
        Dispatch(p->bytes);
    }
    if (!closed() && assembler_.buffered() > ctx_.config->maxReceiveBuffer)
        Fail("receive buffer past its bound");
    if (assembler_.broken()) Fail("broken stream: " + assembler_.error());
    return !closed();
}

std::vector<Bytes> ServerSession::TakeOutput() { return std::exchange(output_, {}); }

void ServerSession::Emit(const Message& reply) {
    std::optional<Bytes> normalized = reply.Encode();
    if (!normalized) {
        Fail("reply could not be written");
        return;
    }
    bool compress = normalized->size() - kPacketHeaderSize > ctx_.config->compressThreshold;
    std::optional<Bytes> wire = EncodeReplyPacket(*normalized, compress);
    if (!wire) {
        Fail("reply could not be encoded");
        return;
    }
    output_.push_back(std::move(*wire));
}

void ServerSession::EmitGarbled(const PacketHeader& request) {
    // One payload byte: shorter than any reply of a kind that has fields.
    Bytes normalized(kPacketHeaderSize + 1, 0);
    PacketHeader h{kPacketMagic, request.code, request.serial, request.window,
                   static_cast<uint32_t>(normalized.size())};
    std::memcpy(normalized.data(), &h, sizeof h);
    if (std::optional<Bytes> wire = EncodeReplyPacket(normalized, false)) output_.push_back(std::move(*wire));
}

size_t ServerSession::subscribedHandles() const {
    size_t n = 0;
    for (const auto& [key, list] : quoteSubs_) n += list.size();
    return n;
}

bool ServerSession::Dispatch(ByteSpan packet) {
    if (closed()) return false;
    if (packet.size() < kPacketHeaderSize) {
        Fail("packet shorter than its header");
        return false;
    }
    PacketHeader h = LoadPacketHeader(packet.data());
    std::unique_ptr<Message> request = CreateMessage(Sender::Client, h.code);
    if (!request) {
        Fail("unknown request code " + std::to_string(h.code));
        return false;
    }
    const FaultPlan& faults = ctx_.config->faults;
    if (faults.closeAt.count(h.code)) {
        Fail("fault close-at " + std::to_string(h.code));
        return false;
    }
    if (!loggedIn_ && h.code != kCodeLogin && h.code != kCodeKeepAlive && h.code != kCodeLoad) {
        Fail("request " + std::to_string(h.code) + " before login");
        return false;
    }
    if (faults.garble.count(h.code)) {
        EmitGarbled(h);
        return true;
    }
    // Requests with their own handlers read the packet themselves.
    switch (h.code) {
    case kCodeLogin: HandleLogin(h, packet); return !closed();
    case kCodeQuoteSubscribe: HandleSubscribe(h, packet); return !closed();
    case kCodeRankPageRequest: HandleRankPage(h, packet); return !closed();
    case kCodeBars: HandleBars(h, packet); return !closed();
    case kCodeDayMinutes: HandleDayMinutes(h, packet); return !closed();
    case kCodeBlockRankRequest: HandleBlockRank(h, packet); return !closed();
    default: break;
    }
    if (!request->Read(packet)) {
        Fail("unreadable request " + std::to_string(h.code));
        return false;
    }
    SimMarket& market = *ctx_.market;
    switch (h.code) {
    case kCodeKeepAlive: {
        KeepAlive reply;
        Answer(h, reply);
        break;
    }
    case kCodeLoad: {
        LoadReply reply;
        reply.load = ctx_.load;
        Answer(h, reply);
        break;
    }
    case kCodeServerList: {
        ServerListReply reply;
        reply.text = ctx_.files->ServerListText();
        Answer(h, reply);
        break;
    }
    case kCodeCodeTable: {
        CodeTableReply reply;
        for (const SimSecurity& s : market.securities()) reply.records.push_back(EncodeCodeRecord(s.handle, s.name));
        Answer(h, reply);
        break;
    }
    case kCodeBlockList: {
        BlockListReply reply;
        for (const ServerFiles::BlockFile& b : ctx_.files->Blocks()) {
            BlockStampRecord r;
            CopyToField(r.name, b.name);
            r.checksum = b.checksum;
            reply.records.push_back(r);
        }
        Answer(h, reply);
        break;
    }
    case kCodeBlockFile: {
        auto& in = static_cast<BlockFileRequest&>(*request);
        BlockFileReply reply;
        reply.blockName = in.blockName;
        if (std::optional<ServerFiles::BlockFile> b = ctx_.files->FindBlock(in.blockName))
            if (std::optional<std::vector<uint8_t>> bytes = ReadWholeFile(b->path))
                reply.fileBytes.assign(bytes->begin(), bytes->end());
        Answer(h, reply);
        break;
    }
    case kCodeBaseFile: {
        auto& in = static_cast<BaseFileRequest&>(*request);
        BaseFileReply reply;
        reply.kind = in.kind;
        if (std::optional<std::string> bytes = ctx_.files->BaseFile(in.kind)) {
            reply.checksum = Crc32(ByteSpan(reinterpret_cast<const uint8_t*>(bytes->data()), bytes->size()));
            // The client's copy is current: nothing to send.
            if (reply.checksum != in.checksum) reply.fileBytes = std::move(*bytes);
        }
        Answer(h, reply);
        break;
    }
    case kCodeTicks: {
        auto& in = static_cast<TicksRequest&>(*request);
        TicksReply reply;
        reply.handle = in.handle;
        if (int i = market.Find(in.handle); i >= 0)
            for (const TickRecord& t : market.at(i).ticks) reply.ticks.push_back(EncodeWireTick(t));
        Answer(h, reply);
        break;
    }
    case kCodeQuoteRefresh: {
        auto& in = static_cast<QuoteRefreshRequest&>(*request);
        QuoteRefreshReply reply;
        reply.first = in.first;
        reply.total = static_cast<uint32_t>(market.size());
        uint64_t end = std::min<uint64_t>(uint64_t{in.first} + std::min(in.count, ctx_.config->maxPageRows), market.size());
        for (uint64_t i = in.first; i < end; ++i) reply.quotes.push_back(market.Quote(i));
        Answer(h, reply);
        break;
    }
    case kCodeMinutes: {
        auto& in = static_cast<MinutesRequest&>(*request);
        MinutesReply reply;
        reply.handle = in.handle;
        if (int i = market.Find(in.handle); i >= 0) {
            float newest = std::isfinite(in.newestVolume) ? in.newestVolume : 0;
            for (const MinuteSlot& m : market.at(i).minutes)
                if (m.time && (newest <= 0 || m.volume > newest)) reply.minutes.push_back(EncodeMinuteRecord(m));
        }
        Answer(h, reply);
        break;
    }
    case kCodeBarTimes: {
        auto& in = static_cast<BarTimesRequest&>(*request);
        BarTimesReply reply;
        reply.handle = in.handle;
        reply.period = in.period;
        std::optional<SecurityId> id = DecodeSecurityHandle(in.handle);
        Series series;
        if (id && IsHistoryPeriod(PeriodFromNumber(in.period)) &&
            LoadHistory(ctx_.files->paths(), *id, PeriodFromNumber(in.period), series)) {
            StoreTime since = WireToStoreTime(in.since);
            for (const KLineRecord& b : series.bars)
                if (b.time >= since) reply.times.push_back(StoreToWireTime(b.time));
        }
        Answer(h, reply);
        break;
    }
    case kCodeDayDetail: {
        auto& in = static_cast<DayDetailRequest&>(*request);
        DayDetailReply reply;
        // For today's index: per minute the wire time and the rising, level and
        // falling counts of its market (14 bytes: uint32, 3 x uint16, uint32 turnover / 10000).
        int i = market.Find(in.handle);
        if (i >= 0 && StartOfDay(WireToStoreTime(in.day)) == market.day() && market.at(i).isIndex) {
            for (const MinuteExtra& f : market.at(i).flow) {
                if (!f.time) continue;
                DayDetailRecord r;
                StoreLE<uint32_t>(r.bytes, f.time);
                for (int k = 0; k < 3; ++k) StoreLE<uint16_t>(r.bytes + 4 + 2 * k, static_cast<uint16_t>(f.figures[k]));
                StoreLE<uint32_t>(r.bytes + 10, static_cast<uint32_t>(std::max(0.0f, f.value) / 10000));
                reply.records.push_back(r);
            }
        }
        reply.value = static_cast<uint32_t>(reply.records.size());
        Answer(h, reply);
        break;
    }
    case kCodeFlowSubscribe: {
        auto& in = static_cast<FlowSubscribe&>(*request);
        if (in.handles.size() > kMaxSubscribeHandles) {
            Fail("flow subscription of more than 5000 handles");
            break;
        }
        if (in.handles.empty()) {
            flowSubs_.erase(h.window);
            break;
        }
        std::vector<int>& list = flowSubs_[h.window];
        list.clear();
        for (SecurityHandle handle : in.handles)
            if (int i = market.Find(handle); i >= 0) list.push_back(i);
        break;
    }
    case kCodeFlow: {
        auto& in = static_cast<FlowRequest&>(*request);
        FlowReply reply;
        reply.handle = in.handle;
        if (int i = market.Find(in.handle); i >= 0) {
            const std::vector<MinuteExtra>& flow = market.at(i).flow;
            for (size_t k = std::min<size_t>(in.newestIndex, flow.size()); k < flow.size(); ++k)
                if (flow[k].time) reply.figures.push_back(flow[k]);
        }
        Answer(h, reply);
        break;
    }
    case kCodeInfoIndexRequest: {
        InfoIndexReply reply;
        reply.numbers = ctx_.config->infoNumbers;
        Answer(h, reply);
        break;
    }
    default:
        Fail("request " + std::to_string(h.code) + " has no answer");
        break;
    }
    return !closed();
}

void ServerSession::HandleLogin(const PacketHeader& h, ByteSpan packet) {
    Login in;
    if (!in.Read(packet)) {
        Fail("unreadable login");
        return;
    }
    LoginReply reply;
    const ServerConfig& cfg = *ctx_.config;
    auto it = cfg.accounts.find(in.account);
    bool known = cfg.accounts.empty() ? (in.account == kGuestAccount && in.password == kGuestPassword)
                                      : (it != cfg.accounts.end() && it->second == in.password);
    if (cfg.faults.refuseLogin || !known) {
        reply.refused = 1;
        // "帐号或密码错误!" unless the fault plan gives the text.
        reply.message = cfg.faults.refuseLogin ? *cfg.faults.refuseLogin
                                               : std::string("\xD5\xCA\xBA\xC5\xBB\xF2\xC3\xDC\xC2\xEB\xB4\xED\xCE\xF3!");
        Answer(h, reply);
        closeAfterFlush_ = true;
        return;
    }
    loggedIn_ = true;
    account_ = in.account;
    reply.message = cfg.loginNotice;
    reply.videoPage = cfg.videoPage;
    reply.daySpan = cfg.daySpan;
    reply.fiveMinuteSpan = cfg.fiveMinuteSpan;
    reply.f9Page = cfg.f9Page;
    reply.f10Page = cfg.f10Page;
    reply.noticePage = cfg.noticePage;
    reply.marketInfoPage = cfg.marketInfoPage;
    reply.techPage = cfg.techPage;
    reply.scrollMessagePage = cfg.scrollMessagePage;
    reply.sid = std::to_string(std::hash<std::string>{}(peer_) & 0xFFFFFF);
    Answer(h, reply);
    SendMarketCounts(h.window);
}

void ServerSession::HandleSubscribe(const PacketHeader& h, ByteSpan packet) {
    // The codec refuses a tag over 10,240 bytes or a list over 5,000 handles.
    QuoteSubscribe in;
    if (!in.Read(packet)) {
        Fail("unreadable or oversized quote subscription");
        return;
    }
    Key key{h.window, in.tag};
    if (in.handles.empty()) {
        quoteSubs_.erase(key);
        quoteSubSerials_.erase(key);
        return;
    }
    std::vector<int> list;
    QuoteReply reply;
    for (SecurityHandle handle : in.handles) {
        int i = ctx_.market->Find(handle);
        if (i < 0 || std::find(list.begin(), list.end(), i) != list.end()) continue;
        list.push_back(i);
        reply.quotes.push_back(ctx_.market->Quote(i));
    }
    quoteSubs_[key] = std::move(list);
    quoteSubSerials_[key] = h.serial;
    Answer(h, reply);  // the current quotes at once
}

void ServerSession::OnMarketChanged(const std::vector<char>& changed, bool newMinute) {
    if (closed() || !loggedIn_) return;
    SimMarket& market = *ctx_.market;
    for (const auto& [key, list] : quoteSubs_) {
        QuoteReply reply;
        for (int i : list)
            if (static_cast<size_t>(i) < changed.size() && changed[i]) reply.quotes.push_back(market.Quote(i));
        if (reply.quotes.empty()) continue;
        reply.serial = quoteSubSerials_[key];
        reply.window = key.first;
        Emit(reply);
    }
    for (const auto& [window, list] : flowSubs_) {
        FlowPush push;
        for (int i : list) {
            if (static_cast<size_t>(i) >= changed.size() || !changed[i]) continue;
            int minute = TradingMinuteOf(TimeOfDay(market.now()));
            if (minute < 0) continue;
            const MinuteExtra& f = market.at(i).flow[minute];
            if (f.time) push.records.push_back(FlowRecord{market.at(i).handle, f});
        }
        if (push.records.empty()) continue;
        push.window = window;
        Emit(push);
    }
    for (auto& [key, page] : rankPages_) {
        bool touched = false;
        for (int i : page.members)
            if (static_cast<size_t>(i) < changed.size() && changed[i]) {
                touched = true;
                break;
            }
        if (touched) SendRankPage(key, page, false);
    }
    if (newMinute) SendMarketCounts(0);
}

void ServerSession::SendMarketCounts(uint32_t window) {
    MarketCountsPush push;
    for (MarketCode m : {kMarketSH, kMarketSZ}) {
        std::array<uint32_t, 3> b = ctx_.market->Breadth(m);
        push.records.push_back(MarketCountRecord{m, {b[0], b[1], b[2]}});
    }
    push.window = window;
    Emit(push);
}

void ServerSession::SendNotice(const std::string& gbkText) {
    ServerNotice notice;
    notice.text = gbkText;
    Emit(notice);
}

void ServerSession::SendClose() {
    ServerClose message;
    Emit(message);
    closeAfterFlush_ = true;
}

void ServerSession::SendReinit() {
    ServerReinit message;
    Emit(message);
    closeAfterFlush_ = true;
}

// ---- Ranked pages --------------------------------------------------------------------

std::vector<int> ServerSession::PageMembers(const std::string& name) const {
    const SimMarket& market = *ctx_.market;
    std::vector<int> out;
    if (std::optional<ServerFiles::BlockFile> b = ctx_.files->FindBlock(name)) {
        for (const SecurityId& id : ctx_.files->BlockMembers(b->path))
            if (int i = market.Find(EncodeSecurityHandle(id)); i >= 0) out.push_back(i);
        return out;
    }
    // A system block by its name: the market ("上证" / "沪" Shanghai, "深" Shenzhen,
    // "沪深" both) and the class ("指数", "A股", "B股", "基金", "债", "权证", "ST").
    auto has = [&](const char* gbk) { return name.find(gbk) != std::string::npos; };
    bool sh = has("\xC9\xCF\xD6\xA4") || has("\xBB\xA6"), sz = has("\xC9\xEE");
    if (!sh && !sz) sh = sz = true;
    int cls = has("\xD6\xB8\xCA\xFD") ? kClassIndex
              : has("A\xB9\xC9") ? kClassAShare
              : has("B\xB9\xC9") ? kClassBShare
              : has("\xBB\xF9\xBD\xF0") ? kClassFund
              : has("\xD5\xAE") ? kClassBond
              : has("\xC8\xA8\xD6\xA4") ? kClassWarrant
                                          : -1;
    bool st = has("ST");
    for (size_t i = 0; i < market.size(); ++i) {
        const SimSecurity& s = market.at(i);
        if (!(s.id.market == kMarketSH ? sh : sz)) continue;
        if (cls >= 0 && s.securityClass != cls) continue;
        if (st && !s.isSt) continue;
        out.push_back(static_cast<int>(i));
    }
    return out;
}

namespace {

// A quote-list field of a simulated security (nothing when it is missing).
std::optional<double> FieldValue(const SimSecurity& s, int field, StockRecord& scratch) {
    scratch.entry.id = s.id;
    scratch.entry.securityClass = s.securityClass;
    CopyToField(scratch.entry.name, s.name);
    scratch.quote = s.quote;
    int16_t filled = 0;
    for (const MinuteSlot& m : s.minutes) filled = static_cast<int16_t>(filled + (m.time != 0));
    scratch.minuteCount = filled;
    QuoteCell cell = ComputeQuoteField(field, scratch, s.decimals);
    if (!cell.present) return std::nullopt;
    return cell.value;
}

}  // namespace

std::vector<int> ServerSession::SortedRows(const RankPage& page) const {
    const SimMarket& market = *ctx_.market;
    std::vector<int> rows = page.members;
    if (page.sortField >= 0 && page.sortField < kQuoteFieldCount) {
        auto scratch = std::make_unique<StockRecord>();
        std::vector<std::pair<std::optional<double>, int>> keyed;
        keyed.reserve(rows.size());
        for (int i : rows) keyed.emplace_back(FieldValue(market.at(i), page.sortField, *scratch), i);
        bool descending = page.direction != 0;
        // Missing values sort last in both directions; ties keep block order.
        std::stable_sort(keyed.begin(), keyed.end(), [descending](const auto& a, const auto& b) {
            if (a.first.has_value() != b.first.has_value()) return a.first.has_value();
            if (!a.first) return false;
            return descending ? *a.first > *b.first : *a.first < *b.first;
        });
        for (size_t k = 0; k < keyed.size(); ++k) rows[k] = keyed[k].second;
    }
    return rows;
}

void ServerSession::SendRankPage(const Key& key, RankPage& page, bool force) {
    const SimMarket& market = *ctx_.market;
    RankPageReply reply;
    reply.kind = page.kind;
    reply.pageName = page.name;
    reply.firstRow = page.firstRow;
    reply.serial = page.serial;
    reply.window = key.first;
    std::vector<int> shown;
    if (page.kind == kRankPageBlock) {
        std::vector<int> rows = SortedRows(page);
        uint64_t end = std::min<uint64_t>(uint64_t{page.firstRow} + page.rowCount, rows.size());
        for (uint64_t r = page.firstRow; r < end; ++r) {
            shown.push_back(rows[r]);
            reply.quotes.push_back(market.Quote(rows[r]));
        }
    } else {
        // Nine tables in the order of the comprehensive ranking's panels: 今日涨幅, 5分钟涨幅,
        // 委比正序, 今日跌幅, 5分钟跌幅, 委比逆序, 今日振幅, 今日量比, 成交金额. 涨幅, 涨速 and
        // 振幅 travel as fractions, 委比 in percent.
        struct Table { int field; bool descending; double scale; };
        static constexpr Table tables[kRankTables] = {
            {kFieldChangePct, true, 0.01},  {kFieldSpeed, true, 0.01},       {kFieldBidRatio, true, 1},
            {kFieldChangePct, false, 0.01}, {kFieldSpeed, false, 0.01},      {kFieldBidRatio, false, 1},
            {kFieldAmplitude, true, 0.01},  {kFieldVolumeRatio, true, 1},    {kFieldAmount, true, 1}};
        uint32_t n = std::clamp<uint32_t>(page.rowCount ? page.rowCount : 10, 1, 100);
        auto scratch = std::make_unique<StockRecord>();
        for (const Table& t : tables) {
            std::vector<std::pair<double, int>> keyed;
            for (int i : page.members) {
                if (market.at(i).isIndex) continue;
                if (std::optional<double> v = FieldValue(market.at(i), t.field, *scratch)) keyed.emplace_back(*v, i);
            }
            std::stable_sort(keyed.begin(), keyed.end(), [&t](const auto& a, const auto& b) {
                return t.descending ? a.first > b.first : a.first < b.first;
            });
            for (uint32_t r = 0; r < n; ++r) {
                RankEntry e;
                if (r < keyed.size()) {
                    const SimSecurity& s = market.at(keyed[r].second);
                    e.handle = s.handle;
                    e.value = static_cast<float>(keyed[r].first * t.scale);
                    float d = s.quote.bar.close - s.quote.prevClose;
                    e.colour = d > 1e-5f ? 1 : d < -1e-5f ? 2 : 0;
                    shown.push_back(keyed[r].second);
                }
                reply.entries.push_back(e);
            }
        }
    }
    if (!force && shown == page.shown && page.kind == kRankPageComprehensive) return;
    page.shown = std::move(shown);
    Emit(reply);
}

void ServerSession::HandleRankPage(const PacketHeader& h, ByteSpan packet) {
    RankPageRequest in;
    if (!in.Read(packet)) {
        Fail("unreadable ranked-page request");
        return;
    }
    if (in.pageName.size() > kMaxSubscribeTagBytes) {
        Fail("ranked-page name over 10240 bytes");
        return;
    }
    Key key{h.window, in.pageName};
    if (in.kind != kRankPageBlock && in.kind != kRankPageComprehensive) {
        rankPages_.erase(key);  // kind 0 (or any other): the page ends
        return;
    }
    RankPage page;
    page.kind = in.kind;
    page.name = in.pageName;
    page.sortField = in.sortField;
    page.direction = in.sortDirection;
    page.firstRow = in.firstRow;
    page.rowCount = std::min(in.rowCount, ctx_.config->maxPageRows);
    page.serial = h.serial;
    page.members = PageMembers(in.pageName);
    RankPage& stored = rankPages_[key] = std::move(page);
    SendRankPage(key, stored, true);
}

// ---- History -------------------------------------------------------------------------

void ServerSession::HandleBars(const PacketHeader& h, ByteSpan packet) {
    BarsRequest in;
    if (!in.Read(packet)) {
        Fail("unreadable bars request");
        return;
    }
    BarsReply reply;
    reply.handle = in.handle;
    reply.period = in.period;
    std::optional<SecurityId> id = DecodeSecurityHandle(in.handle);
    Series series;
    if (id && ctx_.market->Find(in.handle) >= 0 && IsHistoryPeriod(PeriodFromNumber(in.period)) &&
        LoadHistory(ctx_.files->paths(), *id, PeriodFromNumber(in.period), series)) {
        const std::vector<KLineRecord>& bars = series.bars;
        size_t begin = 0, end = 0;
        if (in.variant == 0) {
            StoreTime from = WireToStoreTime(in.from), to = WireToStoreTime(in.to);
            begin = std::lower_bound(bars.begin(), bars.end(), from,
                                     [](const KLineRecord& b, StoreTime t) { return b.time < t; }) - bars.begin();
            end = std::upper_bound(bars.begin(), bars.end(), to,
                                   [](StoreTime t, const KLineRecord& b) { return t < b.time; }) - bars.begin();
            end = std::max(begin, end);
        } else if (in.variant == 1) {
            // `first` bars back from the newest, `count` bars older than that.
            size_t skip = std::min<size_t>(in.first, bars.size());
            end = bars.size() - skip;
            begin = end - std::min<size_t>(in.count, end);
        } else if (in.variant == 2) {
            StoreTime anchor = WireToStoreTime(in.anchor);
            end = std::upper_bound(bars.begin(), bars.end(), anchor,
                                   [](StoreTime t, const KLineRecord& b) { return t < b.time; }) - bars.begin();
            begin = end - std::min<size_t>(in.count, end);
        }
        end = std::min(end, begin + size_t{200000});
        for (size_t k = begin; k < end; ++k) reply.bars.push_back(EncodeBarRecord(bars[k]));
    }
    Answer(h, reply);
}

void ServerSession::HandleDayMinutes(const PacketHeader& h, ByteSpan packet) {
    DayMinutesRequest in;
    if (!in.Read(packet)) {
        Fail("unreadable day-minutes request");
        return;
    }
    const SimMarket& market = *ctx_.market;
    DayMinutesReply reply;
    reply.handle = in.handle;
    int i = market.Find(in.handle);
    std::optional<SecurityId> id = DecodeSecurityHandle(in.handle);
    if (i < 0 || !id || (in.step < -1 || in.step > 1)) {
        Answer(h, reply);
        return;
    }
    // The days the server holds: the day file's and today.
    Series days;
    LoadHistory(ctx_.files->paths(), *id, kPeriodDay, days);
    std::vector<KLineRecord> list = days.bars;
    if (list.empty() || list.back().time < market.day()) list.push_back(market.DayBar(i));
    StoreTime asked = StartOfDay(WireToStoreTime(in.day));
    auto it = std::lower_bound(list.begin(), list.end(), asked,
                               [](const KLineRecord& b, StoreTime t) { return b.time < t; });
    long pos = it - list.begin();
    if (in.step == 0 && (it == list.end() || it->time != asked)) pos = -1;
    else if (in.step < 0) pos = pos - 1;
    else if (in.step > 0) pos = (it != list.end() && it->time == asked) ? pos + 1 : pos;
    if (pos < 0 || pos >= static_cast<long>(list.size())) {
        Answer(h, reply);
        return;
    }
    KLineRecord day = list[pos];
    reply.day = StoreToWireTime(day.time);
    BarRecord wireDay = EncodeBarRecord(day);
    std::memcpy(reply.dayRecord.bytes, &wireDay, sizeof wireDay);
    if (day.time == market.day()) {
        for (const MinuteSlot& m : market.at(i).minutes)
            if (m.time) reply.minutes.push_back(EncodeMinuteRecord(m));
    } else {
        Series minutes;
        LoadHistory(ctx_.files->paths(), *id, kPeriodMin1, minutes);
        double volume = 0, amount = 0;
        for (const KLineRecord& b : minutes.bars) {
            if (StartOfDay(b.time) != day.time) continue;
            volume += b.volume;
            amount += b.amount;
            reply.minutes.push_back(MinuteRecord{StoreToWireTime(b.time), b.close, static_cast<float>(volume),
                                                 static_cast<float>(amount)});
        }
    }
    Answer(h, reply);
}

// ---- Block ranking -------------------------------------------------------------------

void ServerSession::HandleBlockRank(const PacketHeader& h, ByteSpan packet) {
    BlockRankRequest in;
    if (!in.Read(packet)) {
        Fail("unreadable block-rank request");
        return;
    }
    const SimMarket& market = *ctx_.market;
    auto change = [&](int i) {
        const SimSecurity& s = market.at(i);
        return s.quote.prevClose > 0 ? (s.quote.bar.close - s.quote.prevClose) / s.quote.prevClose : 0.0f;
    };
    // Figures: four floats — change (fraction), last price, volume, amount.
    auto figures = [&](float a, float b, float c, float d) {
        std::array<uint8_t, 16> out{};
        float v[4] = {a, b, c, d};
        std::memcpy(out.data(), v, sizeof v);
        return out;
    };
    BlockRankReply reply;
    reply.blockName = in.blockName;
    if (in.blockName.empty()) {
        // Every block, by the mean change of its members, best first; each with its leader.
        struct Row { BlockRankReply::RankedItem item; BlockRankReply::LeaderItem leader; float mean; };
        std::vector<Row> rows;
        for (const ServerFiles::BlockFile& b : ctx_.files->Blocks()) {
            double sum = 0, volume = 0, amount = 0;
            int n = 0, up = 0, down = 0, best = -1;
            for (const SecurityId& id : ctx_.files->BlockMembers(b.path)) {
                int i = market.Find(EncodeSecurityHandle(id));
                if (i < 0) continue;
                float c = change(i);
                sum += c, ++n, volume += market.at(i).quote.bar.volume, amount += market.at(i).quote.bar.amount;
                up += c > 1e-6f, down += c < -1e-6f;
                if (best < 0 || c > change(best)) best = i;
            }
            if (!n) continue;
            Row r;
            r.mean = static_cast<float>(sum / n);
            r.item.name = b.name;
            r.item.value = static_cast<uint32_t>(n);
            r.item.figures = figures(r.mean, 0, static_cast<float>(volume), static_cast<float>(amount));
            r.item.count1 = static_cast<uint16_t>(up);
            r.item.count2 = static_cast<uint16_t>(down);
            const SimSecurity& l = market.at(best);
            r.leader.name = l.name;
            r.leader.value = l.handle;
            r.leader.figures = figures(change(best), l.quote.bar.close, l.quote.bar.volume, l.quote.bar.amount);
            rows.push_back(std::move(r));
        }
        std::stable_sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) { return a.mean > b.mean; });
        for (Row& r : rows) {
            reply.ranked.push_back(std::move(r.item));
            reply.leaders.push_back(std::move(r.leader));
        }
    } else {
        std::optional<ServerFiles::BlockFile> b = ctx_.files->FindBlock(in.blockName);
        if (!b) {
            BlockRankText text;
            text.text = "\xCE\xDE\xB4\xCB\xB0\xE5\xBF\xE9";  // "无此板块"
            Answer(h, text);
            return;
        }
        std::vector<int> members;
        for (const SecurityId& id : ctx_.files->BlockMembers(b->path))
            if (int i = market.Find(EncodeSecurityHandle(id)); i >= 0) members.push_back(i);
        std::stable_sort(members.begin(), members.end(), [&](int a, int c) { return change(a) > change(c); });
        for (int i : members) {
            const SimSecurity& s = market.at(i);
            BlockRankReply::RankedItem item;
            item.name = s.name;
            item.value = s.handle;
            item.figures = figures(change(i), s.quote.bar.close, s.quote.bar.volume, s.quote.bar.amount);
            reply.ranked.push_back(std::move(item));
        }
    }
    reply.value = static_cast<uint32_t>(reply.ranked.size());
    Answer(h, reply);
}

}  // namespace tessaro
