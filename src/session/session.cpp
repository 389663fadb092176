#include "session/session.h"

#include "app/app_dir.h"
#include "formula/formula_set.h"
#include "formula/formula_set_startup.h"
#include "market/base_files.h"
#include "market/market_store.h"
#include "market/security_registry.h"
#include "platform/files.h"
#include "tools/blocks/block_set.h"

namespace tessaro {

std::string ResolveSessionAppDir(const std::optional<std::string>& option) {
    // The stored "path" is read from the user's settings file even when the
    // program keeps its own settings in memory: it is where the desktop
    // program was last installed.
    AppDirSources sources = ProcessAppDirSources(SettingsStore(SettingsFilePath()));
    sources.option = option;
    return ResolveAppDir(sources);
}

Session::Session(SessionOptions options)
    : options_(std::move(options)),
      paths_(ResolveSessionAppDir(options_.appDir)),
      polyphonic_(std::make_unique<PolyphonicTable>()) {
    if (options_.settings == SessionSettings::File)
        settingsStore_ = std::make_unique<SettingsStore>(
            options_.settingsFile.empty() ? SettingsFilePath() : options_.settingsFile);
    else
        settingsStore_ = std::make_unique<SettingsStore>();
    if (options_.data & kSessionBlocks) options_.data |= kSessionMarkets;
    if (options_.data & kSessionFormulas) formulas_ = std::make_unique<FormulaSet>();
    if (options_.data & kSessionMarkets) {
        store_ = std::make_unique<MarketStore>(paths_, *settingsStore_);
        // A reading session never writes a market file, nor does one that only
        // reads its markets.
        store_->SetReadOnly(readOnly() || options_.marketsReadOnly);
    }
    if (options_.data & kSessionBlocks) blocks_ = std::make_unique<BlockSet>(paths_);
}

Session::~Session() { Close(); }

MarketStore& Session::store() { return *store_; }
const MarketStore& Session::store() const { return *store_; }
FormulaSet& Session::formulas() { return *formulas_; }
const FormulaSet& Session::formulas() const { return *formulas_; }
BlockSet& Session::blocks() { return *blocks_; }
const BlockSet& Session::blocks() const { return *blocks_; }

void Session::AddStages(StartupSequence& startup) {
    if (formulas_) AddFormulaSetLoader(startup, *formulas_, paths_);

    startup.add(StartupStage::Settings, "settings", [this] {
        FormulaExistsFn exists;
        if (formulas_)
            exists = [this](int32_t type, std::string_view name) {
                return formulas_->Contains(static_cast<uint32_t>(type), name);
            };
        LoadSettings(*settingsStore_, settings_, exists);
        polyphonic_->Load(paths_.polyphonicFile());  // a missing file leaves it empty
        return true;
    });

    if (store_) {
        startup.add(
            StartupStage::Markets, "markets",
            [this] {
                if (options_.requireMarket && !DirectoryExists(paths_.marketDir(kMarketSH))) {
                    error_ = "no market data in " + paths_.appDir() +
                             " (generate one with: tessaro-cli gen --out DIR)";
                    return false;
                }
                store_->SetBaseFileLoader([this](MarketStore& store) { LoadBaseFiles(store, paths_); });
                return store_->LoadAll(&error_);
            },
            /*required=*/true);
    }

    // The rule blocks over the store's securities, the block files and, in a
    // read-write session, the self-selected blocks created on the first start.
    if (blocks_)
        startup.add(StartupStage::Blocks, "blocks", [this] { return LoadBlockSet(*blocks_, *store_, !readOnly()); });
}

bool Session::Start(const StartupSequence::ProgressFn& progress) {
    if (started_ || closed_) return started_;
    if (!readOnly() && settingsStore_->path().size() && !options_.exePath.empty())
        RecordInstallation(*settingsStore_, paths_.appDir(), options_.exePath);
    StartupSequence startup;
    if (progress) startup.setProgress(progress);
    AddStages(startup);
    StartupSequence::Report report = startup.run();
    if (!report.ok) {
        if (error_.empty()) error_ = "start-up failed: " + (report.failed.empty() ? std::string() : report.failed.back());
        return false;
    }
    started_ = true;
    return true;
}

bool Session::Close() {
    if (closed_) return true;
    closed_ = true;
    bool ok = true;
    if (started_ && !readOnly()) {
        if (store_ && !store_->readOnly()) ok = store_->SaveAll() && ok;
        if (!settingsStore_->path().empty()) {
            SaveSettings(*settingsStore_, settings_);
            ok = settingsStore_->save() && ok;
        }
    }
    blocks_.reset();
    store_.reset();
    formulas_.reset();
    return ok;
}

}  // namespace tessaro
