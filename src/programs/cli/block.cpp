// tessaro-cli block, block-index: the block set, the block-management operations
// (every question answered Yes) and the block index run.
#include <cstdio>
#include <string>
#include <vector>

#include "command.h"
#include "market/market_store.h"
#include "platform/text.h"
#include "session/session.h"
#include "tools/blocks/block_index.h"
#include "tools/blocks/block_management.h"

namespace tessaro::cli {

namespace {

constexpr const char* kBlockUsage =
    "block list|show|create|rename|delete|add|remove|index-create|index-delete [--appdir DIR] [ARGS]";
constexpr const char* kBlockSummary =
    "Lists and shows blocks and runs the block-management operations; every question is\n"
    "answered Yes. A refused operation prints its message and exits 1.\n"
    "  block list --appdir DIR\n"
    "  block show --appdir DIR NAME\n"
    "  block create --appdir DIR NAME [--setting 0|2|3] [--category TEXT]\n"
    "  block rename --appdir DIR OLD NEW\n"
    "  block delete --appdir DIR NAME\n"
    "  block add --appdir DIR NAME SECURITY...\n"
    "  block remove --appdir DIR NAME SECURITY...\n"
    "  block index-create --appdir DIR NAME\n"
    "  block index-delete --appdir DIR NAME";
constexpr const char* kBlockIndexUsage = "block-index [--appdir DIR]";

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\n") == std::string::npos) return text;
    std::string out = "\"";
    for (char c : text) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

// `marketsWritten`: the block index writes index securities into the markets;
// the management operations change blocks only and never rewrite a market file.
std::unique_ptr<Session> OpenBlocks(const std::optional<std::string>& appDir, bool write, bool marketsWritten,
                                    std::string& error) {
    SessionOptions options;
    options.appDir = appDir;
    options.access = write ? SessionAccess::ReadWrite : SessionAccess::ReadOnly;
    options.marketsReadOnly = !marketsWritten;
    options.data = kSessionBlocks;
    options.requireMarket = true;
    auto session = std::make_unique<Session>(options);
    if (!session->Start()) {
        error = session->error();
        return nullptr;
    }
    return session;
}

// What a management operation's result means on the command line.
int Outcome(const BlockOpResult& r, const std::string& name) {
    switch (r.status) {
        case BlockOpStatus::Done:
        case BlockOpStatus::Declined:
            return 0;
        case BlockOpStatus::Refused:
            return Fail(r.message);
        case BlockOpStatus::SaveFailed:
            return Fail("the change to block " + name + " could not be written (it is kept in memory only)");
        case BlockOpStatus::NotAllowed:
            return Fail(name + " is a rule block: its members are computed");
    }
    return 1;
}

int RunBlock(Args& args) {
    std::optional<std::string> appDir = args.option("appdir");
    std::optional<std::string> settingText = args.option("setting");
    std::optional<std::string> category = args.option("category");
    if (args.size() < 1) return UsageError(kBlockUsage);
    const std::string verb = args[0];
    const std::vector<std::string> rest(args.positional().begin() + 1, args.positional().end());
    auto need = [&](size_t n, bool more = false) { return more ? rest.size() >= n : rest.size() == n; };

    const bool write = verb != "list" && verb != "show";
    if (verb == "list" ? !need(0)
        : verb == "show" || verb == "delete" || verb == "index-create" || verb == "index-delete" ? !need(1)
        : verb == "create" ? !need(1)
        : verb == "rename" ? !need(2)
        : verb == "add" || verb == "remove" ? !need(2, true)
        : true)
        return UsageError(kBlockUsage);
    uint32_t setting = kBlockSelf;
    if (settingText) {
        if (verb != "create" || (*settingText != "0" && *settingText != "2" && *settingText != "3"))
            return UsageError(kBlockUsage);
        setting = static_cast<uint32_t>(std::stoul(*settingText));
    }
    if (category && verb != "create") return UsageError(kBlockUsage);
    std::vector<SecurityId> ids;
    if (verb == "add" || verb == "remove")
        for (size_t i = 1; i < rest.size(); ++i) {
            SecurityId id;
            if (!ParseSecurityText(rest[i], id)) return Fail("not a security: " + rest[i] + " (e.g. SH600000)");
            ids.push_back(id);
        }

    std::string error;
    std::unique_ptr<Session> session = OpenBlocks(appDir, write, /*marketsWritten=*/false, error);
    if (!session) return Fail(error);
    BlockSet& set = session->blocks();
    const std::string name = rest.empty() ? std::string() : Utf8ToGbk(rest[0]);

    if (verb == "list") {
        std::printf("name,setting,category,index,members\n");
        for (const Block& b : set.Blocks())
            std::printf("%s,%u,%s,%s,%zu\n", CsvField(GbkToUtf8(b.name)).c_str(), b.setting,
                        CsvField(GbkToUtf8(b.category)).c_str(), b.indexCode.c_str(), b.members.size());
        return 0;
    }
    if (verb == "show") {
        std::optional<Block> b = set.FindBlock(name);
        if (!b) return Fail(std::string(kBlockNoneSelected) + " (no block " + rest[0] + ")");
        std::printf("security,name\n");
        for (const SecurityId& id : b->members)
            std::printf("%s,%s\n", SecurityText(id).c_str(), CsvField(GbkToUtf8(session->store().GetName(id))).c_str());
        return 0;
    }

    YesPrompt prompt;
    BlockManager manager(set, prompt);
    int status = 0;
    if (verb == "create") {
        status = Outcome(manager.Create(name, setting, Utf8ToGbk(category.value_or(""))), rest[0]);
    } else if (verb == "rename") {
        status = Outcome(manager.Rename(name, Utf8ToGbk(rest[1])), rest[0]);
    } else if (verb == "delete") {
        status = Outcome(manager.Delete(name), rest[0]);
    } else if (verb == "add") {
        status = Outcome(manager.AddMembers(name, ids), rest[0]);
    } else if (verb == "remove") {
        status = Outcome(manager.RemoveMembers(name, ids), rest[0]);
    } else if (verb == "index-create") {
        BlockOpResult r = manager.CreateIndex(name);
        if (r.status == BlockOpStatus::Declined)
            status = r.code.empty() ? Fail("no free index code left for the category of " + rest[0])
                                    : Fail(rest[0] + " already has the index " + r.code);
        else if ((status = Outcome(r, rest[0])) == 0)
            std::printf("%s\n", r.code.c_str());
    } else if (verb == "index-delete") {
        BlockOpResult r = manager.DeleteIndex(name);
        status = r.status == BlockOpStatus::Declined ? Fail(rest[0] + " has no index") : Outcome(r, rest[0]);
    }
    if (!session->Close() && status == 0) return Fail("cannot write the settings back");
    return status;
}

int RunBlockIndex(Args& args) {
    std::optional<std::string> appDir = args.option("appdir");
    if (args.size() != 0) return UsageError(kBlockIndexUsage);
    std::string error;
    std::unique_ptr<Session> session = OpenBlocks(appDir, true, /*marketsWritten=*/true, error);
    if (!session) return Fail(error);
    ProgressQueue progress;
    BlockIndexReport report;
    {
        ProgressWorker worker(progress, [&](ProgressQueue& q) {
            report = RunBlockIndexes(session->blocks(), session->store(), session->paths(), q);
        });
        while (std::optional<ProgressItem> item = progress.WaitPop()) std::printf("%s\n", item->text.c_str());
        worker.Wait();
    }
    std::printf("indexes %d\n", report.indexes);
    if (!session->Close()) return Fail("cannot write the market files back");
    if (report.failed > 0) return Fail(std::to_string(report.failed) + " index day files could not be written");
    return 0;
}

CommandRegistration blockCommand("block", kBlockUsage, RunBlock, kBlockSummary);
CommandRegistration blockIndexCommand("block-index", kBlockIndexUsage, RunBlockIndex,
                                      "Computes the day history of every block index, printing each progress text.");

}  // namespace

}  // namespace tessaro::cli
