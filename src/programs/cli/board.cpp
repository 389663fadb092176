// tessaro-cli board: prints a quote-list page as the quote list computes it from the
// stored quotes.
//
//   tessaro-cli board --appdir DIR [--page NAME] [--sort FIELDNAME] [--asc] [--rows N]
//       [--columns 最新,涨幅,...]
//
// CSV: a header of the column captions (the three fixed columns, then the scrolling
// columns), then one line per row with the cell texts as the list shows them.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli_session.h"
#include "command.h"
#include "market/market_store.h"
#include "market/quote_fields.h"
#include "platform/text.h"
#include "session/session.h"
#include "tools/blocks/block_set.h"
#include "tools/quote_list/quote_list.h"

namespace tessaro::cli {
namespace {

constexpr const char* kUsage = "board [--appdir DIR] [--page NAME] [--sort FIELDNAME] [--asc] [--rows N] [--columns 最新,涨幅,...]";
constexpr const char* kSummary =
    "Prints a page of the quote list (the block NAME, default 沪市A股) as CSV: a header of the\n"
    "column captions, then one line per row with the cell texts as the list shows them.\n"
    "--sort sorts by a column's field (descending; --asc ascending; 股票代码 and 股票名称 as\n"
    "text), --rows prints the first N rows, --columns chooses the scrolling columns (a name\n"
    "that is no field keeps its caption and shows 昨收); otherwise the default columns.";

std::string Csv(const std::string& text) {
    if (text.find_first_of(",\"\n") == std::string::npos) return text;
    std::string out = "\"";
    for (char c : text) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

std::vector<std::string> SplitList(const std::string& text) {
    std::vector<std::string> out;
    size_t start = 0;
    while (true) {
        size_t comma = text.find(',', start);
        out.push_back(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return out;
}

int RunBoard(Args& args) {
    std::optional<std::string> appDir = args.option("appdir");
    std::string page = args.option("page").value_or(std::string(kStartPage));
    std::optional<std::string> sortName = args.option("sort");
    bool ascending = args.flag("asc");
    std::optional<std::string> rowsText = args.option("rows");
    std::optional<std::string> columnsText = args.option("columns");
    if (args.size() != 0) return UsageError(kUsage);
    size_t maxRows = SIZE_MAX;
    if (rowsText) {
        char* end = nullptr;
        long n = std::strtol(rowsText->c_str(), &end, 10);
        if (rowsText->empty() || *end != '\0' || n < 0) return UsageError(kUsage);
        maxRows = static_cast<size_t>(n);
    }
    if (ascending && !sortName) return UsageError(kUsage);

    QuoteColumns columns;
    if (columnsText) {
        SettingsStore scratch;
        std::string names;
        for (const std::string& name : SplitList(*columnsText)) {
            if (TrimAscii(name).empty()) return Fail("an empty column name in --columns");
            names += (names.empty() ? "" : ",") + Utf8ToGbk(name);
        }
        scratch.setString(SettingsKey("Settings"), kColumnNamesValue, names);
        columns.Load(scratch);
    }

    std::string error;
    std::unique_ptr<Session> session = MakeSession(appDir, kSessionMarkets | kSessionBlocks);
    if (!StartSession(*session, error)) return Fail(error);
    std::optional<Block> block = session->blocks().FindBlock(Utf8ToGbk(page));
    if (!block) return Fail("no block named " + page);

    QuoteListModel model(std::move(columns));
    model.SetPage(*block, &session->store());
    if (sortName) {
        int field = FindQuoteField(*sortName);
        if (field < 0) return Fail("unknown field " + *sortName);
        if (field == kFieldNumber) return Fail("编号 does not sort");
        int column = model.ColumnOfField(field);
        if (column < 0) return Fail("the field " + *sortName + " is not a column of the page");
        model.SetSort(column, !ascending);
    }

    std::string line;
    for (int c = 0; c < model.tableColumnCount(); ++c) {
        if (c) line += ',';
        line += Csv(c < kFixedColumnCount ? model.columns().fixedCaption(c)
                                          : model.columns().at(static_cast<size_t>(c - kFixedColumnCount)).caption);
    }
    std::printf("%s\n", line.c_str());
    for (size_t r = 0; r < model.rowCount() && r < maxRows; ++r) {
        line.clear();
        for (int c = 0; c < model.tableColumnCount(); ++c) {
            if (c) line += ',';
            line += Csv(model.Cell(r, c).text);
        }
        std::printf("%s\n", line.c_str());
    }
    return 0;
}

const CommandRegistration kBoard("board", kUsage, RunBoard, kSummary);

}  // namespace
}  // namespace tessaro::cli
