// The quote list model: columns and their settings, sorting, ranked pages and
// subscriptions, selection and moving, the detail lists and the comprehensive ranking.
#include <algorithm>
#include <cmath>
#include <random>

#include <gtest/gtest.h>

#include "app/settings.h"
#include "market/base_files.h"
#include "market/demo_market.h"
#include "market/live_fold.h"
#include "platform/text.h"
#include "test_support/temp_dir.h"
#include "tools/quote_list/quote_details.h"
#include "tools/quote_list/quote_list.h"

namespace tessaro {
namespace {

std::string G(std::string_view utf8) { return Utf8ToGbk(utf8); }

SecurityId Sh(int n) {
    char code[8];
    std::snprintf(code, sizeof code, "%06d", 600000 + n);
    return MakeSecurityId(kMarketSH, code);
}

QuoteUpdate Quote(const SecurityId& id, float prevClose, float last, float volume = 100) {
    QuoteUpdate q;
    q.entry.id = id;
    q.entry.securityClass = kClassAShare;
    q.snapshot.prevClose = prevClose;
    q.snapshot.bar.close = q.snapshot.bar.open = q.snapshot.bar.high = q.snapshot.bar.low = last;
    q.snapshot.bar.volume = volume;
    q.snapshot.lastTrade.volume = 5;
    return q;
}

Block Page(uint32_t setting, int members, std::string_view name = "页") {
    Block b;
    b.setting = setting;
    b.name = G(name);
    for (int i = 0; i < members; ++i) b.members.push_back(Sh(i));
    return b;
}

const std::string kSettings = SettingsKey(kSettingsSubKey);

TEST(QuoteColumns, SettingsWidthsUnknownNamesAndRoundTrip) {
    QuoteColumns defaults;
    EXPECT_EQ(defaults.size(), 80u);  // every field but the three fixed ones
    EXPECT_EQ(defaults.at(0).caption, "今开");
    EXPECT_EQ(defaults.at(17).caption, "昨收");
    EXPECT_EQ(defaults.at(18).field, kFieldAvgPrice);  // then the rest in catalogue order
    EXPECT_EQ(defaults.at(0).width, 8 * 7);
    EXPECT_EQ(defaults.fixedWidth(2), 4 * 14 + 5);  // caption width + 5

    SettingsStore s;
    s.setString(kSettings, kColumnNamesValue, G("最新,foo,涨幅,,量比"));
    s.setString(kSettings, kColumnWidthsValue, "5,300,-7,40");
    s.setDword(kSettings, "BrandFixColWidth_1", 3);
    s.setDword(kSettings, "BrandFixColWidth_2", 0);  // zero: the default
    QuoteColumns c;
    c.Load(s);
    ASSERT_EQ(c.size(), 4u);
    EXPECT_EQ(c.at(0).width, kMinColumnWidth);  // widths below 20 become 20
    EXPECT_EQ(c.at(1).caption, "foo");          // an unknown name keeps its caption ...
    EXPECT_EQ(c.at(1).field, kFieldPrevClose);  // ... and shows field 0
    EXPECT_EQ(c.at(1).width, 300);
    EXPECT_EQ(c.at(2).width, kMinColumnWidth);
    EXPECT_EQ(c.at(3).field, kFieldVolumeRatio);  // the empty name is skipped; its width is lost with it
    EXPECT_EQ(c.fixedWidth(1), kMinColumnWidth);
    EXPECT_EQ(c.fixedWidth(2), defaults.fixedWidth(2));

    SettingsStore out;
    c.Save(out);
    EXPECT_EQ(*out.getString(kSettings, kColumnNamesValue), G("最新,foo,涨幅,量比"));
    QuoteColumns back;
    back.Load(out);
    ASSERT_EQ(back.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(back.at(i).caption, c.at(i).caption);
        EXPECT_EQ(back.at(i).width, c.at(i).width);
    }

    // A list longer than 2048 bytes is cut at a column, names and widths alike.
    QuoteColumns many;
    for (int i = 0; i < 300; ++i) many.Add(kFieldFinance1 + i % 37);
    SettingsStore big;
    many.Save(big);
    std::string names = *big.getString(kSettings, kColumnNamesValue);
    EXPECT_LE(names.size(), kMaxColumnNamesBytes);
    std::string widths = *big.getString(kSettings, kColumnWidthsValue);
    EXPECT_EQ(std::count(names.begin(), names.end(), ','), std::count(widths.begin(), widths.end(), ','));

    // The menu operations refuse bad positions and the fixed fields.
    EXPECT_FALSE(c.Insert(9, kFieldLast));
    EXPECT_FALSE(c.SetField(0, kFieldName));
    EXPECT_TRUE(c.SetField(1, kFieldHigh));
    EXPECT_EQ(c.at(1).caption, "最高");
    EXPECT_FALSE(c.Remove(4));
}

// The reference: a stable sort of block order, missing values (no 昨收, or a change too small
// to show) last in both directions, as the server ranks them.
std::vector<SecurityId> ReferenceOrder(const std::vector<QuoteUpdate>& quotes, bool descending) {
    std::vector<size_t> idx(quotes.size());
    for (size_t i = 0; i < idx.size(); ++i) idx[i] = i;
    auto pct = [&](size_t i) {
        const QuoteSnapshot& s = quotes[i].snapshot;
        double v = (double(s.bar.close) - s.prevClose) / s.prevClose * 100;
        return s.prevClose == 0 || std::abs(v) <= 0.00001 ? std::nullopt : std::optional<double>(v);
    };
    std::stable_sort(idx.begin(), idx.end(), [&](size_t a, size_t b) {
        auto x = pct(a), y = pct(b);
        if (!x || !y) return x.has_value() && !y.has_value();
        return descending ? *x > *y : *x < *y;
    });
    std::vector<SecurityId> out;
    for (size_t i : idx) out.push_back(quotes[i].entry.id);
    return out;
}

TEST(QuoteColumns, NumbersTooWideForTheirColumnShrinkToWanAndYiNeverToCutDigits) {
    // 7 pixels an ASCII character, 14 a CJK one.
    EXPECT_EQ(FitNumberText("10054908", 10054908, 56, PlainTextWidth), "10054908") << "exactly fits";
    EXPECT_EQ(FitNumberText("10054908", 10054908, 55, PlainTextWidth), "1005万");
    EXPECT_EQ(FitNumberText("10054908", 10054908, 63, PlainTextWidth), "10054908");
    EXPECT_EQ(FitNumberText("123456789", 123456789, 62, PlainTextWidth), "12346万");
    EXPECT_EQ(FitNumberText("123456789012", 123456789012.0, 69, PlainTextWidth), "1234.57亿") << "decimals while they fit";
    EXPECT_EQ(FitNumberText("-1234567890", -1234567890, 50, PlainTextWidth), "-12.3亿");
    EXPECT_EQ(FitNumberText("10054908", 10054908, 41, PlainTextWidth), "") << "亿 only from 1e8: never 0亿";
    EXPECT_EQ(FitNumberText("1234.56", 1234.56, 20, PlainTextWidth), "") << "below 万 nothing shorter exists";
    EXPECT_EQ(FitNumberText("1.#QNAN", std::nan(""), 40, PlainTextWidth), "") << "never nan万";
}

TEST(QuoteListSort, StableAgainstAReferenceWithTiesAndMissingValues) {
    std::mt19937 rng(7);
    for (int round = 0; round < 20; ++round) {
        int n = 1 + static_cast<int>(rng() % 300);
        Block page = Page(kBlockSelf, n);
        QuoteListModel model;
        model.SetPage(page, nullptr);
        std::vector<QuoteUpdate> quotes;
        for (int i = 0; i < n; ++i) {
            float prev = rng() % 5 == 0 ? 0.f : 10.f;  // a fifth without 昨收: 涨幅 missing
            float last = 9.f + static_cast<float>(rng() % 5) * 0.5f;  // many ties
            quotes.push_back(Quote(Sh(i), prev, last));
        }
        model.ApplyQuotes(quotes);
        int column = model.ColumnOfField(kFieldChangePct);
        for (bool desc : {true, false}) {
            model.SetSort(column, desc);
            std::vector<SecurityId> want = ReferenceOrder(quotes, desc);
            for (int i = 0; i < n; ++i)
                ASSERT_TRUE(SameSecurity(model.rowAt(i).entry.id, want[i]))
                    << round << " " << i << " " << desc << " " << model.rowAt(i).entry.id.codeText() << " " << want[i].codeText();
        }
    }
}

TEST(QuoteListSort, CaptionClicksNamesAndSelectionKept) {
    Block page = Page(kBlockSelf, 3);
    QuoteListModel model;
    model.SetPage(page, nullptr);
    std::vector<QuoteUpdate> q = {Quote(Sh(0), 10, 11), Quote(Sh(1), 10, 9), Quote(Sh(2), 10, 10)};
    q[0].entry.setName(G("b股")), q[1].entry.setName(G("A股")), q[2].entry.setName(G("a股"));
    model.ApplyQuotes(q);
    int last = model.ColumnOfField(kFieldLast);
    model.Select(1, SelectMode::Click);  // Sh(1)
    model.ClickCaption(0);               // 编号 does not sort
    EXPECT_FALSE(model.sorted());
    model.ClickCaption(last);
    EXPECT_TRUE(model.descending());
    EXPECT_EQ(model.Caption(last), "最新↓");
    EXPECT_TRUE(SameSecurity(model.rowAt(0).entry.id, Sh(0)));
    EXPECT_EQ(model.FirstSelected(), 2);  // the selection follows its row
    model.ClickCaption(last);
    EXPECT_EQ(model.Caption(last), "最新↑");
    EXPECT_TRUE(SameSecurity(model.rowAt(0).entry.id, Sh(1)));
    // Names compare as text, ASCII letters without case: "A股" and "a股" tie and keep block order.
    model.SetSort(2, false);
    EXPECT_TRUE(SameSecurity(model.rowAt(0).entry.id, Sh(1)));
    EXPECT_TRUE(SameSecurity(model.rowAt(1).entry.id, Sh(2)));
    EXPECT_TRUE(SameSecurity(model.rowAt(2).entry.id, Sh(0)));
    EXPECT_EQ(model.FixedCell(2, 0).text, "3");  // 编号 is the display position
}

TEST(QuoteListMove, RefusedWhileSortedAndWrittenBack) {
    TempDir dir;
    BlockSet blocks{AppPaths(dir.path())};
    YesPrompt answer;
    BlockManager manager(blocks, answer);
    ASSERT_TRUE(manager.Create(G("自选股1")).ok());
    std::vector<SecurityId> ids = {Sh(0), Sh(1), Sh(2), Sh(3)};
    ASSERT_TRUE(manager.AddMembers(G("自选股1"), ids).ok());
    QuoteListModel model;
    model.SetPage(*blocks.FindBlock(G("自选股1")), nullptr);
    model.Select(0, SelectMode::Click);
    model.Select(2, SelectMode::Toggle);
    model.SetSort(1, true);
    EXPECT_EQ(model.MoveSelected(4), MoveStatus::RefusedSorted);
    model.ClearSort();
    ASSERT_EQ(model.MoveSelected(4), MoveStatus::Moved);  // Sh0 and Sh2 to the end, in order
    std::vector<SecurityId> want = {Sh(1), Sh(3), Sh(0), Sh(2)};
    for (size_t i = 0; i < 4; ++i) EXPECT_TRUE(SameSecurity(model.rowAt(i).entry.id, want[i]));
    EXPECT_EQ(model.SaveOrder(blocks), BlockUpdate::Saved);
    BlockSet reread{AppPaths(dir.path())};
    reread.LoadBlockFiles();
    std::vector<SecurityId> members = reread.FindBlock(G("自选股1"))->members;
    for (size_t i = 0; i < 4; ++i) EXPECT_TRUE(SameSecurity(members[i], want[i]));

    // Shift selects the range from the anchor; removal asks first and writes the block.
    model.Select(1, SelectMode::Click);
    model.Select(3, SelectMode::Range);
    EXPECT_EQ(model.SelectedDisplayRows(), (std::vector<size_t>{1, 2, 3}));
    struct No : BlockPrompt {
        std::string asked;
        bool Question(std::string_view t) override { asked = t; return false; }
        void Error(std::string_view) override {}
    } no;
    EXPECT_FALSE(model.RemoveSelected(blocks, no));
    EXPECT_EQ(no.asked, kRemoveFromBlockQuestion);
    YesPrompt yes;
    EXPECT_TRUE(model.RemoveSelected(blocks, yes));
    EXPECT_EQ(model.rowCount(), 1u);
    EXPECT_EQ(blocks.FindBlock(G("自选股1"))->members.size(), 1u);

    // A rule page never moves rows.
    QuoteListModel rule;
    rule.SetPage(Page(kBlockRule, 2), nullptr);
    rule.Select(0, SelectMode::Click);
    EXPECT_EQ(rule.MoveSelected(2), MoveStatus::NotAllowed);
}

TEST(QuoteListLive, RankedPagesSubscriptionsAndRepaints) {
    QuoteListModel model;
    model.SetOnline(true);
    model.SetPage(Page(kBlockRule, 50, "沪市A股"), nullptr);
    int pct = model.ColumnOfField(kFieldChangePct);
    model.ClickCaption(pct);
    EXPECT_TRUE(SameSecurity(model.rowAt(0).entry.id, Sh(0)));  // the server sorts this page
    QuoteListRequest r = model.WantedRequest(20, 10);
    EXPECT_EQ(r.kind, QuoteListRequest::Kind::RankPage);
    EXPECT_EQ(r.pageGbk, G("沪市A股"));
    EXPECT_EQ(r.sortField, kFieldChangePct);
    EXPECT_EQ(r.direction, 1u);
    EXPECT_EQ(r.firstRow, 20u);
    EXPECT_EQ(r.rowCount, 10u);
    EXPECT_EQ(model.WantedRequest(45, 10).rowCount, 5u);  // never past the last row

    // '=' with first row 20: the first record's security moves to display row 20.
    model.TakeRepaint();
    std::vector<QuoteUpdate> reply = {Quote(Sh(42), 10, 12), Quote(Sh(7), 10, 11), Quote(MakeSecurityId(kMarketSZ, "000001"), 1, 1)};
    EXPECT_EQ(model.ApplyRankPage(20, reply), 2u);  // the unknown security is skipped
    EXPECT_TRUE(SameSecurity(model.rowAt(20).entry.id, Sh(42)));
    EXPECT_TRUE(SameSecurity(model.rowAt(21).entry.id, Sh(7)));
    EXPECT_TRUE(SameSecurity(model.rowAt(42).entry.id, Sh(20)));  // swapped
    EXPECT_EQ(model.Cell(20, pct).text, "+20.00%");
    EXPECT_TRUE(model.TakeRepaint().all);

    // A quote of one row repaints that row only, at its display position.
    std::vector<QuoteUpdate> one = {Quote(Sh(42), 10, 10.5f, 200)};
    one[0].snapshot.lastTrade.volume = 0;  // no last trade although the volume grew: the old one stays
    model.ApplyQuotes(one);
    QuoteListRepaint p = model.TakeRepaint();
    EXPECT_FALSE(p.all);
    EXPECT_EQ(p.displayRows, std::vector<size_t>{20});
    EXPECT_EQ(model.Cell(20, model.ColumnOfField(kFieldLastVolume)).text, "5");
    EXPECT_TRUE(model.TakeRepaint().empty());

    // Going to a self-selected page ends the ranked page before subscribing.
    QuoteListModel self;
    self.SetPage(Page(kBlockSelf, 3), nullptr);
    QuoteListRequest sub = self.WantedRequest(0, 10);
    EXPECT_EQ(sub.kind, QuoteListRequest::Kind::Subscribe);
    EXPECT_EQ(sub.ids.size(), 3u);
    std::vector<QuoteListStep> steps = PlanRequests(r, sub);
    ASSERT_EQ(steps.size(), 2u);
    EXPECT_EQ(steps[0].kind, QuoteListStep::Kind::EndRankPage);
    EXPECT_EQ(steps[0].request.pageGbk, G("沪市A股"));
    EXPECT_EQ(steps[1].kind, QuoteListStep::Kind::Subscribe);
    EXPECT_TRUE(PlanRequests(sub, sub).empty());
    steps = PlanRequests(sub, r);
    ASSERT_EQ(steps.size(), 2u);
    EXPECT_EQ(steps[0].kind, QuoteListStep::Kind::EndSubscription);
    // Another ranked page of another block ends the old one by name.
    QuoteListRequest other = r;
    other.pageGbk = G("深市A股");
    EXPECT_EQ(PlanRequests(r, other)[0].kind, QuoteListStep::Kind::EndRankPage);
    other = r;
    other.firstRow = 30;
    EXPECT_EQ(PlanRequests(r, other).size(), 1u);  // a scroll replaces the page
}

TEST(QuoteListLive, IndicatorColumnsSortHereAndAskForEveryRow) {
    QuoteListModel model;
    model.SetOnline(true);
    model.SetPage(Page(kBlockRule, 30, "沪市A股"), nullptr);
    std::vector<QuoteUpdate> quotes;
    for (int i = 0; i < 30; ++i) quotes.push_back(Quote(Sh(i), 10, 10));
    model.ApplyQuotes(quotes);
    // Results for all but Sh(5), out of order; the batch's values sort the page here.
    std::vector<FormulaRow> results;
    for (int i = 29; i >= 0; --i)
        if (i != 5) results.push_back(FormulaRow{quotes[i].entry, static_cast<float>(i % 7)});
    ASSERT_TRUE(model.columns().SetIndicator(0, "MA", "MA", 0, results));
    model.SetSort(kFixedColumnCount, true);
    EXPECT_FALSE(model.serverSorted());
    EXPECT_TRUE(SameSecurity(model.rowAt(0).entry.id, Sh(6)));   // 6 % 7 = 6, first of the sixes
    EXPECT_TRUE(SameSecurity(model.rowAt(1).entry.id, Sh(13)));
    EXPECT_TRUE(SameSecurity(model.rowAt(29).entry.id, Sh(5)));  // no value: last
    EXPECT_EQ(model.Cell(0, kFixedColumnCount).text, "6.00");
    EXPECT_EQ(model.Cell(29, kFixedColumnCount).text, "");
    QuoteListRequest r = model.WantedRequest(10, 5);
    EXPECT_EQ(r.sortField, -1);
    EXPECT_EQ(r.firstRow, 0u);
    EXPECT_EQ(r.rowCount, 30u);
    // The server's block-order reply updates the rows without moving them.
    model.ApplyRankPage(0, quotes);
    EXPECT_TRUE(SameSecurity(model.rowAt(0).entry.id, Sh(6)));
}

TEST(QuoteDetails, PriceLadderFromTicksByHand) {
    CodeEntry e;
    e.id = Sh(0);
    QuoteSnapshot q;
    q.prevClose = 10;
    Series ticks;
    auto tick = [&](StoreTime t, float price, float volume, int8_t dir) {
        size_t i = ticks.push(KLineRecord{t, price, price, price, price, 0, 0});
        ticks.trades[i].volume = volume;
        ticks.trades[i].amount = volume * price * 100;
        ticks.trades[i].direction = dir;
    };
    const StoreTime t0 = 45000u * 86400u;  // midnight of a day
    tick(t0 + 34200, 10.00f, 5, 1);
    tick(t0 + 34201, 10.10f, 3, -1);
    tick(t0 + 34202, 10.000004f, 2, 1);  // within 0.00001 of 10.00
    tick(t0 + 34203, 9.90f, 7, 0);
    tick(t0 + 34204, 10.10f, 1, 1);
    DetailList ladder(QuoteListMode::PriceDetail, e, q, 2);
    ladder.SetTicks(ticks);
    ASSERT_EQ(ladder.rowCount(), 3u);
    EXPECT_EQ(ladder.Cell(0, 0).text, "10.10");
    EXPECT_EQ(ladder.Cell(0, 1).text, "4");
    EXPECT_EQ(ladder.Cell(0, 0).colorSign, 1);
    EXPECT_EQ(ladder.Cell(1, 0).text, "10.00");
    EXPECT_EQ(ladder.Cell(1, 1).text, "7");
    EXPECT_EQ(ladder.Cell(1, 0).colorSign, 0);
    EXPECT_EQ(ladder.Cell(2, 0).text, "9.90");
    EXPECT_EQ(ladder.Cell(2, 1).text, "7");
    EXPECT_EQ(ladder.Cell(2, 0).colorSign, -1);

    DetailList list(QuoteListMode::TickDetail, e, q, 2);
    list.SetTicks(ticks);
    ASSERT_EQ(list.rowCount(), 5u);
    EXPECT_EQ(list.Cell(0, 0).text, "09:30:00");
    EXPECT_EQ(list.Cell(1, 2).colorSign, -1);  // 现手 by the trade's direction

    // A live quote with a new trade adds one tick, or to the ladder entry of its price.
    QuoteSnapshot live = q;
    live.bar.time = t0 + 34300;
    live.bar.close = 9.90f;
    live.bar.volume = 100;
    live.lastTrade.volume = 4;
    ladder.AddQuote(live);
    EXPECT_EQ(ladder.rowCount(), 3u);
    EXPECT_EQ(ladder.Cell(2, 1).text, "11");
    ladder.AddQuote(live);  // the same quote again: no new trade
    EXPECT_EQ(ladder.Cell(2, 1).text, "11");
    list.AddQuote(live);
    EXPECT_EQ(list.rowCount(), 6u);
}

TEST(QuoteDetails, RankingTablesOfNinety) {
    ComprehensiveRanking ranking(G("沪市A股"));
    EXPECT_EQ(ranking.Title(), "沪市A股综合排名");
    ranking.SetMarkedSecurities({Sh(3)});
    std::vector<RankItem> items;
    for (int i = 0; i < 90; ++i) items.push_back(RankItem{Sh(i), 0.0123f, static_cast<uint8_t>(i % 3)});
    items[2 * 10 + 3].value = -12.5f;  // panel 2 (委比正序) row 3
    ranking.Apply(items, [](const SecurityId& id) { return id.codeText() == "600003" ? G("浦发银行") : std::string(); });
    ASSERT_EQ(ranking.rowsPerPanel(), 10u);
    EXPECT_EQ(ranking.At(0, 3).name, "浦发银行");
    EXPECT_TRUE(ranking.At(0, 3).marked);
    EXPECT_EQ(ranking.At(0, 0).value, "+1.23%");   // 涨幅: value x 100
    EXPECT_EQ(ranking.At(0, 1).nameColor, 1);
    EXPECT_EQ(ranking.At(0, 2).nameColor, -1);
    EXPECT_EQ(ranking.At(2, 3).value, "-12.50%");  // 委比 as it comes
    EXPECT_EQ(ranking.At(2, 3).valueColor, -1);
    EXPECT_EQ(ranking.At(8, 9).id.codeText(), "600089");
    EXPECT_EQ(ranking.At(8, 9).value, "0");        // 总额 x 0.0001
    EXPECT_EQ(ranking.At(7, 0).value, "0.01");     // 量比
    EXPECT_EQ(FormatRankValue(kFieldAmount, 123456789.f), "12346");
    EXPECT_EQ(FormatRankValue(kFieldAmplitude, 0.05f), "5.00%");
    // 95 records: the five past the ninth table are ignored; 8 records: nothing.
    items.resize(95);
    ranking.Apply(items, {});
    EXPECT_EQ(ranking.rowsPerPanel(), 10u);
    items.resize(8);
    ranking.Apply(items, {});
    EXPECT_EQ(ranking.rowsPerPanel(), 0u);
}

TEST(QuoteListStore, DemoMarketPageAndTabs) {
    TempDir dir;
    DemoMarketOptions options;
    options.outDir = dir.path();
    options.securities = 20;
    options.days = 5;
    options.fiveMinuteDays = 0;
    options.oneMinuteDays = 0;
    ASSERT_TRUE(GenerateDemoMarket(options));
    AppPaths paths(dir.path());
    SettingsStore settings;
    MarketStore store(paths, settings);
    store.SetBaseFileLoader([paths](MarketStore& s) { LoadBaseFiles(s, paths); });
    ASSERT_TRUE(store.LoadAll());
    BlockSet blocks(paths);
    ASSERT_TRUE(LoadBlockSet(blocks, store, false));

    std::vector<PageGroup> tabs = BuildPageGroups(blocks.Blocks());
    ASSERT_EQ(tabs.size(), 4u);
    EXPECT_EQ(tabs[0].caption(), "沪市A股");  // the first rule block
    EXPECT_EQ(tabs[3].setting, kBlockServer);
    size_t tab = 9, index = 9;
    ASSERT_TRUE(FindPageGroup(tabs, G("深市A股"), tab, index));
    EXPECT_EQ(tab, 0u);

    Block page = *blocks.FindBlock(G(kStartPage));
    ASSERT_GT(page.members.size(), 2u);
    QuoteListModel model;
    model.SetPage(page, &store);
    ASSERT_EQ(model.rowCount(), page.members.size());
    auto record = std::make_unique<StockRecord>();
    for (size_t i = 0; i < model.rowCount(); ++i) {
        ASSERT_TRUE(store.GetRecord(page.members[i], *record));
        EXPECT_EQ(model.FixedCell(i, 2).text, GbkToUtf8(record->entry.nameText()));
        for (int f : {kFieldLast, kFieldChangePct, kFieldTurnover, kFieldPe}) {
            QuoteCell want = ComputeQuoteField(f, *record, 2);
            EXPECT_EQ(model.Cell(i, model.ColumnOfField(f)).text, want.text);
        }
    }
    // A quote stored in the store reaches the row through Reload of the changed securities.
    ASSERT_TRUE(store.GetRecord(page.members[1], *record));
    QuoteUpdate q{record->entry, record->quote};
    q.snapshot.bar.time += 60;
    q.snapshot.bar.close = 12.34f;
    q.snapshot.bar.volume += 100;
    ASSERT_TRUE(store.UpdateQuote(q) & kQuoteStored);
    model.TakeRepaint();
    std::vector<SecurityId> changed = {page.members[1]};
    model.Reload(store, changed);
    EXPECT_EQ(model.Cell(1, model.ColumnOfField(kFieldLast)).text, "12.34");
    EXPECT_EQ(model.TakeRepaint().displayRows, std::vector<size_t>{1});
}

}  // namespace
}  // namespace tessaro
