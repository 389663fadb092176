// tessaro-cli wizard: the keyboard wizard's matches of a typed text.
//
//   tessaro-cli wizard --appdir DIR TEXT
//
// One line per match in list order: "kind,text1,text2" — 1 command (code, name),
// 2 formula (name, description), 4 security (SH600000, name), 8 block (name, "").
#include <cstdio>
#include <memory>
#include <string>

#include "cli_session.h"
#include "command.h"
#include "formula/formula_set.h"
#include "market/market_store.h"
#include "platform/text.h"
#include "session/session.h"
#include "tools/blocks/block_set.h"
#include "tools/wizard/wizard.h"

namespace tessaro::cli {
namespace {

constexpr const char* kUsage = "wizard [--appdir DIR] TEXT";
constexpr const char* kSummary =
    "Prints the keyboard wizard's matches of TEXT in list order, one per line \"kind,text1,text2\":\n"
    "1 quick command (code, name), 2 formula (name, description), 4 security (market and code,\n"
    "name), 8 block (name). Commands whose code starts with TEXT come first, then formulas,\n"
    "securities by code, name or pinyin initials, and blocks.";

std::string Csv(const std::string& text) {
    if (text.find_first_of(",\"\n") == std::string::npos) return text;
    std::string out = "\"";
    for (char c : text) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

int RunWizard(Args& args) {
    std::optional<std::string> appDir = args.option("appdir");
    if (args.size() != 1) return UsageError(kUsage);
    std::string error;
    std::unique_ptr<Session> session = MakeSession(appDir, kSessionFormulas | kSessionMarkets | kSessionBlocks);
    if (!StartSession(*session, error)) return Fail(error);

    KeyboardWizard wizard;
    KeyboardWizard::Sources sources;
    sources.formulas = &session->formulas();
    sources.store = &session->store();
    sources.blocks = &session->blocks();
    sources.polyphonic = &session->polyphonic();
    wizard.Build(sources);
    for (const WizardItem* item : wizard.Match(Utf8ToGbk(args[0]))) {
        std::string text1 = item->kind == kWizardSecurity ? SecurityText(item->entry.id) : GbkToUtf8(item->text1);
        std::string text2 = GbkToUtf8(item->kind == kWizardSecurity ? item->entry.nameText() : std::string_view(item->text2));
        std::printf("%u,%s,%s\n", static_cast<unsigned>(item->kind), Csv(text1).c_str(), Csv(text2).c_str());
    }
    return 0;
}

const CommandRegistration kWizard("wizard", kUsage, RunWizard, kSummary);

}  // namespace
}  // namespace tessaro::cli
