// Every message kind written and read back equal, in both directions.
#include <gtest/gtest.h>

#include <set>

#include "net/decompress.h"
#include "net/login_messages.h"
#include "net/realtime_messages.h"
#include "net/startup_messages.h"

namespace tessaro {
namespace {

QuoteRecord SampleQuote(uint32_t i) {
    QuoteRecord q;
    q.handle = 1600000 + i;
    q.time = 1710466200 + i;
    q.last = 10.0f + static_cast<float>(i);
    q.bidPrice[4] = 9.0f;
    q.tradeDirection = -1;
    q.avgVolume5 = 123.0f;
    return q;
}

template <class T>
std::unique_ptr<Message> Sample(T m) {
    m.serial = 0x01020304;
    m.window = 0x0A0B0C0D;
    return std::make_unique<T>(std::move(m));
}

// One populated message of every kind, keyed by sender.
std::vector<std::pair<Sender, std::unique_ptr<Message>>> AllSamples() {
    std::vector<std::pair<Sender, std::unique_ptr<Message>>> out;
    auto client = [&](std::unique_ptr<Message> m) { out.emplace_back(Sender::Client, std::move(m)); };
    auto server = [&](std::unique_ptr<Message> m) { out.emplace_back(Sender::Server, std::move(m)); };

    Login login;
    login.account = "guest";
    login.password = "\xC3\xDC\xC2\xEB";
    login.machineId = 0xDEADBEEF;
    client(Sample(login));
    client(Sample(KeepAlive{}));
    client(Sample(ServerListRequest{}));
    client(Sample(CodeTableRequest{}));
    client(Sample(BlockListRequest{}));
    BlockFileRequest blockFile;
    blockFile.blockName = "\xBB\xA6\xC9\xEE" "300";
    client(Sample(blockFile));
    BaseFileRequest baseFile;
    baseFile.kind = kBaseFileFormulas;
    baseFile.checksum = 0x89ABCDEF;
    client(Sample(baseFile));
    QuoteSubscribe subscribe;
    subscribe.tag = "BVIEW";
    subscribe.handles = {1600000, 1, 399001};
    client(Sample(subscribe));
    TicksRequest ticks;
    ticks.handle = 1600036;
    client(Sample(ticks));
    QuoteRefreshRequest refresh;
    refresh.first = 200;
    client(Sample(refresh));
    DayMinutesRequest dayMinutes;
    dayMinutes.handle = 2;
    dayMinutes.day = 1710432000;
    dayMinutes.step = 1;
    client(Sample(dayMinutes));
    BarTimesRequest barTimes;
    barTimes.handle = 1000001;
    barTimes.period = 8;
    barTimes.since = 1600000000;
    client(Sample(barTimes));
    MinutesRequest minutes;
    minutes.handle = 1600000;
    minutes.newestVolume = 4567.5f;
    client(Sample(minutes));
    DayDetailRequest dayDetail;
    dayDetail.handle = 1000001;
    dayDetail.day = 1710432000;
    client(Sample(dayDetail));
    FlowSubscribe flowSubscribe;
    flowSubscribe.handles = {1000001, 399001};
    client(Sample(flowSubscribe));
    BlockRankRequest blockRank;
    blockRank.blockName = "X";
    client(Sample(blockRank));
    InfoIndexRequest info;
    info.numbers = {3, 0xFFFFFFFF, 4, 5};
    client(Sample(info));
    RankPageRequest rankPage;
    rankPage.kind = kRankPageComprehensive;
    rankPage.pageName = "\xC9\xCF\xBA\xA3";
    rankPage.sortField = 5;
    rankPage.sortDirection = 1;
    rankPage.firstRow = 0;
    rankPage.rowCount = 10;
    client(Sample(rankPage));
    BarsRequest bars;
    bars.handle = 1600000;
    bars.period = 4;
    bars.variant = 2;
    bars.anchor = 1710466200;
    bars.count = 240;
    bars.optionA = 1;
    client(Sample(bars));
    client(Sample(LoadRequest{}));
    FlowRequest flow;
    flow.handle = 1000001;
    flow.newestIndex = 120;
    client(Sample(flow));

    LoginReply loginReply;
    loginReply.message = "\xBB\xB6\xD3\xAD";  // 欢迎
    loginReply.updateParameters = "-v 5.01.002";
    loginReply.videoPage = "http://v/[SID]";
    loginReply.daySpan = 1460;
    loginReply.fiveMinuteSpan = 20;
    loginReply.reserved[0] = 1;
    loginReply.f9Page = "f9";
    loginReply.f10Page = "f10";
    loginReply.noticePage = "n";
    loginReply.marketInfoPage = "m";
    loginReply.techPage = "t";
    loginReply.scrollMessagePage = "s";
    loginReply.sid = "abc";
    server(Sample(loginReply));
    server(Sample(ServerClose{}));
    ServerNotice notice;
    notice.unused = 9;
    notice.text = "maintenance";
    server(Sample(notice));
    server(Sample(KeepAlive{}));
    ServerListReply serverList;
    serverList.text = "Tessaro,main,10.0.0.1,6051\r\n";
    server(Sample(serverList));
    CodeTableReply codeTable;
    codeTable.records = {EncodeCodeRecord(1600000, "\xC6\xD6\xB7\xA2\xD2\xF8\xD0\xD0"),
                         EncodeCodeRecord(1, "PAYH")};
    server(Sample(codeTable));
    BlockListReply blockList;
    BlockStampRecord stamp;
    CopyToField(stamp.name, "B1");
    stamp.checksum = 77;
    blockList.records = {stamp, stamp};
    server(Sample(blockList));
    BlockFileReply blockFileReply;
    blockFileReply.blockName = "B1";
    blockFileReply.fileBytes = std::string("\0\1\2file", 7);
    server(Sample(blockFileReply));
    BaseFileReply baseFileReply;
    baseFileReply.kind = kBaseFileFinance;
    baseFileReply.checksum = 1;
    baseFileReply.fileBytes = std::string(1000, '\x7F');
    server(Sample(baseFileReply));
    server(Sample(ServerReinit{}));
    QuoteReply quotes;
    for (uint32_t i = 0; i < 3; ++i) quotes.quotes.push_back(SampleQuote(i));
    server(Sample(quotes));
    TicksReply ticksReply;
    ticksReply.handle = 1600000;
    ticksReply.ticks = {WireTick{1710466200, 10.0f, 1, 1000, 1}, WireTick{1710466203, 10.1f, 3, 3020, -1}};
    server(Sample(ticksReply));
    QuoteRefreshReply refreshReply;
    refreshReply.first = 100;
    refreshReply.total = 250;
    refreshReply.quotes = {SampleQuote(7)};
    server(Sample(refreshReply));
    DayMinutesReply dayMinutesReply;
    dayMinutesReply.handle = 1;
    dayMinutesReply.day = 1710432000;
    StoreLE<uint32_t>(dayMinutesReply.dayRecord.bytes, 1710432000);
    dayMinutesReply.minutes = {MinuteRecord{1710466200, 10, 1, 1000}};
    server(Sample(dayMinutesReply));
    BarTimesReply barTimesReply;
    barTimesReply.handle = 1000001;
    barTimesReply.period = 4;
    barTimesReply.times = {1, 2, 3};
    server(Sample(barTimesReply));
    MinutesReply minutesReply;
    minutesReply.value1 = 1;
    minutesReply.handle = 1600000;
    minutesReply.value2 = 2;
    minutesReply.minutes = {MinuteRecord{1710466200, 10, 1, 1000}, MinuteRecord{1710466260, 11, 2, 2100}};
    server(Sample(minutesReply));
    DayDetailReply dayDetailReply;
    dayDetailReply.value = 3;
    dayDetailReply.records.resize(2);
    dayDetailReply.records[1].bytes[13] = 0xFF;
    server(Sample(dayDetailReply));
    MarketCountsPush counts;
    counts.records = {MarketCountRecord{kMarketSH, {1, 2, 3}}, MarketCountRecord{kMarketSystem, {4, 5, 6}}};
    server(Sample(counts));
    BlockRankText rankText;
    rankText.value = 1;
    rankText.text = "none";
    server(Sample(rankText));
    BlockRankReply rankReply;
    rankReply.blockName = "";
    rankReply.value = 2;
    rankReply.ranked.push_back({"\xD2\xF8\xD0\xD0", 5, {}, 6, 7});
    rankReply.leaders.push_back({"L", 8, {}});
    rankReply.leaders[0].figures[15] = 9;
    server(Sample(rankReply));
    InfoIndexReply infoReply;
    infoReply.numbers = {1, 2, 3, 4};
    infoReply.extra = {5, 6, 7, 8};
    server(Sample(infoReply));
    RankPageReply rankPageReply;
    rankPageReply.kind = kRankPageComprehensive;
    rankPageReply.pageName = "A";
    rankPageReply.firstRow = 0;
    for (uint32_t i = 0; i < 18; ++i)
        rankPageReply.entries.push_back(RankEntry{i, i * 2, static_cast<float>(i) / 100, static_cast<uint8_t>(i % 3)});
    server(Sample(rankPageReply));
    BarsReply barsReply;
    barsReply.handle = 1600000;
    barsReply.period = 8;
    barsReply.extra = {1, 2, 3, 4};
    barsReply.bars = {BarRecord{1710432000, 1, 2, 0.5f, 1.5f, 100, 150, 3, 4}};
    server(Sample(barsReply));
    LoadReply load;
    load.load = 42;
    server(Sample(load));
    FlowPush flowPush;
    FlowRecord fr;
    fr.handle = 1000001;
    fr.figure.time = 1710466200;
    fr.figure.value = 1.25f;
    fr.figure.figures[5] = -3;
    flowPush.records = {fr, fr};
    server(Sample(flowPush));
    FlowReply flowReply;
    flowReply.handle = 399001;
    flowReply.value = 1;
    flowReply.figures = {fr.figure};
    server(Sample(flowReply));
    return out;
}

TEST(MessageRoundTrip, EveryCatalogueKindHasASample) {
    std::set<std::pair<int, uint16_t>> kinds, sampled;
    for (const MessageKind& k : MessageCatalogue()) {
        EXPECT_TRUE(kinds.insert({static_cast<int>(k.sender), k.code}).second) << k.name;
        auto m = CreateMessage(k.sender, k.code);
        ASSERT_TRUE(m) << k.name;
        EXPECT_EQ(m->code, k.code) << k.name;
    }
    for (const auto& [sender, m] : AllSamples()) sampled.insert({static_cast<int>(sender), m->code});
    EXPECT_EQ(kinds, sampled);
    EXPECT_EQ(kinds.size(), 47u);
    EXPECT_FALSE(CreateMessage(Sender::Client, 0xB002));  // a server-only kind
    EXPECT_FALSE(CreateMessage(Sender::Server, 0x1234));
}

TEST(MessageRoundTrip, WrittenAndReadBackEqual) {
    for (const auto& [sender, m] : AllSamples()) {
        SCOPED_TRACE(::testing::Message() << std::hex << "code 0x" << m->code);
        auto bytes = m->Encode();
        ASSERT_TRUE(bytes);
        EXPECT_EQ(bytes->size(), m->Size());
        EXPECT_EQ(LoadLE<uint32_t>(bytes->data() + 12), bytes->size());
        auto back = CreateMessage(sender, m->code);
        ASSERT_TRUE(back);
        ASSERT_TRUE(back->Read(*bytes));
        EXPECT_EQ(back->serial, 0x01020304u);
        EXPECT_EQ(back->window, 0x0A0B0C0Du);
        EXPECT_EQ(back->length, bytes->size());
        auto again = back->Encode();
        ASSERT_TRUE(again);
        EXPECT_EQ(*again, *bytes);

        // Server messages also survive the wire form, plain and compressed.
        if (sender == Sender::Server) {
            for (bool compress : {false, true}) {
                auto wire = EncodeReply(*m, compress);
                ASSERT_TRUE(wire);
                auto normalized = Decompress(*wire);
                ASSERT_TRUE(normalized);
                EXPECT_EQ(*normalized, *bytes);
            }
        }

        // Reading a copy cut anywhere inside the fixed fields fails or yields
        // fewer records; it never reads past the cut.
        for (size_t cut = 16; cut < bytes->size(); ++cut) {
            Bytes shorter(bytes->begin(), bytes->begin() + static_cast<std::ptrdiff_t>(cut));
            StoreLE<uint32_t>(shorter.data() + 12, static_cast<uint32_t>(cut));
            auto partial = CreateMessage(sender, m->code);
            if (partial->Read(shorter)) {
                auto re = partial->Encode();
                ASSERT_TRUE(re);
                EXPECT_LE(re->size(), cut);
            }
        }
    }
}

TEST(MessageRoundTrip, TypedFieldsSurvive) {
    auto samples = AllSamples();
    for (const auto& [sender, m] : samples) {
        auto back = CreateMessage(sender, m->code);
        ASSERT_TRUE(back->Read(*m->Encode()));
        if (auto* q = dynamic_cast<QuoteReply*>(back.get())) {
            ASSERT_EQ(q->quotes.size(), 3u);
            EXPECT_EQ(uint32_t{q->quotes[2].handle}, 1600002u);
            EXPECT_FLOAT_EQ(q->quotes[2].last, 12.0f);
            EXPECT_EQ(q->quotes[2].tradeDirection, -1);
        } else if (auto* r = dynamic_cast<RankPageReply*>(back.get())) {
            ASSERT_EQ(r->entries.size(), 18u);
            EXPECT_TRUE(r->quotes.empty());
            EXPECT_EQ(r->rowsPerTable(), 2u);
            EXPECT_EQ(r->entries[17].colour, 2);
        } else if (auto* b = dynamic_cast<BlockRankReply*>(back.get())) {
            ASSERT_EQ(b->ranked.size(), 1u);
            EXPECT_EQ(b->ranked[0].name, "\xD2\xF8\xD0\xD0");
            EXPECT_EQ(b->leaders[0].figures[15], 9);
        } else if (auto* s = dynamic_cast<QuoteSubscribe*>(back.get())) {
            EXPECT_EQ(s->tag, "BVIEW");
            EXPECT_EQ(s->handles, (std::vector<SecurityHandle>{1600000, 1, 399001}));
        } else if (auto* l = dynamic_cast<LoginReply*>(back.get())) {
            EXPECT_EQ(l->updateParameters, "-v 5.01.002");
            EXPECT_EQ(l->sid, "abc");
            EXPECT_EQ(l->daySpan, 1460);
        } else if (auto* f = dynamic_cast<BaseFileReply*>(back.get())) {
            EXPECT_EQ(f->fileBytes, std::string(1000, '\x7F'));
        }
    }
}

TEST(MessageRoundTrip, RankPageReplyKindsCarryTheirOwnRecords) {
    RankPageReply m;
    m.kind = kRankPageBlock;
    m.pageName = "P";
    m.firstRow = 20;
    m.quotes = {SampleQuote(0), SampleQuote(1)};
    m.entries = {RankEntry{}};  // not part of a '=' page
    auto bytes = m.Encode();
    ASSERT_TRUE(bytes);
    EXPECT_EQ(bytes->size(), 16u + 4 + 5 + 4 + 2 * 137);
    RankPageReply back;
    back.entries = {RankEntry{}};
    ASSERT_TRUE(back.Read(*bytes));
    EXPECT_EQ(back.firstRow, 20u);
    ASSERT_EQ(back.quotes.size(), 2u);
    EXPECT_TRUE(back.entries.empty());

    // Another kind carries nothing more; trailing bytes are ignored.
    Bytes other = *bytes;
    StoreLE<uint32_t>(other.data() + 16, 7);
    ASSERT_TRUE(back.Read(other));
    EXPECT_EQ(back.kind, 7u);
    EXPECT_TRUE(back.quotes.empty());
    EXPECT_TRUE(back.entries.empty());

    // A 'Q' reply of fewer than nine entries has empty tables.
    m.kind = kRankPageComprehensive;
    m.entries.assign(8, RankEntry{});
    ASSERT_TRUE(back.Read(*m.Encode()));
    EXPECT_EQ(back.entries.size(), 8u);
    EXPECT_EQ(back.rowsPerTable(), 0u);
}

}  // namespace
}  // namespace tessaro
