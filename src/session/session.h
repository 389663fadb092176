// The composition root: one object owns what a program opens of the core — the
// application directory, the settings, the market store, the formula set and the
// start-up stages — and the order in which they open and close. tessaro,
// tessaro-cli and tessaro-quoted create a Session and ask it; none of them wires
// the core by itself.
//
// Opening is the start-up sequence: "程序正在启动...", "加载公式平台..." (the
// formula set), "加载系统配置..." (settings and the polyphonic table),
// "加载行情数据..." (the three markets and their base files), "加载板块数据...",
// "加载预警平台...", "加载完成!". A program asks only for the data sets it needs;
// a stage whose data set is not asked for still shows its text, so every program
// shows the same sequence.
//
// Closing (after a completed start-up, in read-write mode) writes the market store
// back to its market files (unless they were opened read-only) and the settings to
// their file, in that order.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/paths.h"
#include "app/settings.h"
#include "app/startup.h"
#include "platform/settings_store.h"

namespace tessaro {

class MarketStore;
class FormulaSet;
class PolyphonicTable;
class BlockSet;

// Whether the session may change what it opens. A read-only session never
// creates, rewrites or removes a file, so it works on a directory the user may
// only read (a shared mount, another user's data).
enum class SessionAccess { ReadOnly, ReadWrite };

// The data sets a session loads; a program asks only for what it uses.
enum SessionData : unsigned {
    kSessionFormulas = 1u << 0,  // the formula set, from base/*.fml
    kSessionMarkets = 1u << 1,   // the market store with its base files
    kSessionBlocks = 1u << 2,    // the block set (needs the markets)
    kSessionAll = kSessionFormulas | kSessionMarkets | kSessionBlocks,
};

// Where the settings come from.
enum class SessionSettings {
    BuiltIn,  // the built-in defaults, kept in memory (the command line, tests)
    File,     // the settings file of this user (the desktop program)
};

struct SessionOptions {
    // The application directory: this when given, else TESSARO_HOME, the stored
    // "path", the XDG default (see app_dir.h).
    std::optional<std::string> appDir;
    SessionAccess access = SessionAccess::ReadOnly;
    unsigned data = kSessionFormulas | kSessionMarkets;
    SessionSettings settings = SessionSettings::BuiltIn;
    // The settings file when `settings` is File; empty for the user's default.
    std::string settingsFile;
    // Start-up fails unless the directory holds a market (data/sh/); for the
    // programs that only make sense over one.
    bool requireMarket = false;
    // The market files are only read, even in a read-write session: for a
    // program that writes blocks or settings but never changes a market, so
    // that closing it leaves data/*/stkinfo.dat untouched.
    bool marketsReadOnly = false;
    // The running program's path; when given (and read-write with a settings
    // file) the installation record "path", "exe", "version", "subversion" is
    // written as every start of the desktop program does.
    std::string exePath;
};

class Session {
public:
    explicit Session(SessionOptions options);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Runs the start-up stages once, each stage text shown through `progress`
    // before the stage runs. False (the reason in error()) when a data set that
    // was asked for could not be opened; the session is then unusable.
    bool Start(const StartupSequence::ProgressFn& progress = {});
    bool started() const { return started_; }
    const std::string& error() const { return error_; }

    // Writes back what a read-write session changed (the market images, the
    // settings file) and releases the data sets. Called by the destructor;
    // idempotent. False when a write failed.
    bool Close();

    bool readOnly() const { return options_.access == SessionAccess::ReadOnly; }
    const AppPaths& paths() const { return paths_; }
    const std::string& appDir() const { return paths_.appDir(); }

    SettingsStore& settingsStore() { return *settingsStore_; }
    const SettingsStore& settingsStore() const { return *settingsStore_; }
    SystemSettings& settings() { return settings_; }
    const SystemSettings& settings() const { return settings_; }
    const PolyphonicTable& polyphonic() const { return *polyphonic_; }

    // The data sets; each exists only when it was asked for.
    bool hasMarkets() const { return store_ != nullptr; }
    MarketStore& store();
    const MarketStore& store() const;
    bool hasFormulas() const { return formulas_ != nullptr; }
    FormulaSet& formulas();
    const FormulaSet& formulas() const;
    bool hasBlocks() const { return blocks_ != nullptr; }
    BlockSet& blocks();
    const BlockSet& blocks() const;

private:
    void AddStages(StartupSequence& startup);

    SessionOptions options_;
    AppPaths paths_;
    std::unique_ptr<SettingsStore> settingsStore_;
    SystemSettings settings_;
    std::unique_ptr<PolyphonicTable> polyphonic_;
    std::unique_ptr<FormulaSet> formulas_;
    std::unique_ptr<MarketStore> store_;
    std::unique_ptr<BlockSet> blocks_;
    bool started_ = false;
    bool closed_ = false;
    std::string error_;
};

// The application directory a program would open for `option` (--appdir): the
// option, else TESSARO_HOME, the stored "path", the XDG default.
std::string ResolveSessionAppDir(const std::optional<std::string>& option);

}  // namespace tessaro
